#pragma once

#include <cstdint>

// Faults of a payload record or of its packed stream. Every fault is negative,
// so a caller tells "malformed" from "decoded n bytes" by the sign alone.
enum PayloadFault : int32_t {
    PayloadTruncatedItem = -1,     // an opcode's operands or a literal run past the end of the stream
    PayloadZeroOffset = -2,        // a match that copies from its own position
    PayloadOffsetBeforeStart = -3, // a match reaching before the first byte produced
    PayloadOutputOverflow = -4,    // the stream decodes to more than the output holds
    PayloadRecordTooShort = -5,    // fewer bytes than the record header needs
    PayloadSizePastRecord = -6,    // the header claims a stream the record does not hold
};

// A short English description of a fault, for tools and diagnostics.
const char* DescribePayloadFault(int32_t fault);

// Decodes the packed stream `packed[0 .. packed_size)` into `output`, which
// holds `capacity` bytes.
//
// Returns the number of bytes produced, 0 when `packed_size` is 0 or less
// (the output is then untouched), or a negative PayloadFault when the stream
// is malformed. Never reads outside the `packed_size` input bytes and never
// writes outside `output[0 .. capacity)`; after a fault the bytes written so
// far are garbage to the caller.
int32_t DecodePayload(uint8_t* output, int32_t capacity, const uint8_t* packed, int32_t packed_size);
