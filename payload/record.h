#pragma once

#include <cstddef>
#include <cstdint>

// A payload record is an 8-byte header followed by a packed stream:
//
//   offset 0  int32 LE  packed_size   bytes of packed stream after the header
//   offset 4  int32 LE  timestamp     seconds since 1970-01-01 00:00:00 UTC
//   offset 8  ...       packed stream (see decode.h)
struct PayloadHeader {
    int32_t packed_size;
    int32_t timestamp;
};

inline constexpr uint32_t PayloadHeaderSize = 8;

// Reads the header of a record that the store holds as `record_size` bytes.
// The header is trusted only up to that size: a record shorter than the
// header, or whose packed_size is negative or claims more bytes than follow
// the header, is malformed. Returns 0 or a negative PayloadFault.
int32_t ReadPayloadHeader(const uint8_t* record, uint32_t record_size, PayloadHeader* header);

// Reads the header and decodes the record's stream into `output` of
// `capacity` bytes. Returns the decoded size or a negative PayloadFault;
// `header` is filled whenever the header itself is sound.
int32_t DecodePayloadRecord(const uint8_t* record, uint32_t record_size, uint8_t* output, int32_t capacity,
                            PayloadHeader* header);
