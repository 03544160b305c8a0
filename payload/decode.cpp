#include "payload/decode.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>

// The packed stream is a run of items in groups of up to eight. Each group
// is led by a flag byte whose bits, least significant first, say whether the
// item is a literal (set) or a match (clear). A match appends L bytes, each a
// copy of the byte D positions back, so D < L repeats the last D bytes.
//
//   opcode      size  length L                 offset D
//   C0..FF      2     ((op >> 2) & 0x0F) + 4   (op & 0x03) << 8 | x
//   80..BF      1     2 (bit 5 clear), 3 (set) op & 0x1F            (low five bits not all zero)
//   80, A0      2     2 for 80, 3 for A0       x
//   7F          5     (l0 | l1 << 8) + 2       d0 | d1 << 8
//   00..7E      3     op + 4                   d0 | d1 << 8
//
// Opcodes are tested in that order. A flag byte is read only when an item
// follows it: one that ends the stream describes no item and ends decoding.

namespace {

// One flag byte and eight five-byte matches: a group this long or longer can
// be decoded without looking at the end of the input.
constexpr std::ptrdiff_t LargestGroupSize = 1 + 8 * 5;

// Wide copies move this many bytes at a time and may write up to this many
// bytes beyond the match, so they run only where the output has that room.
constexpr uint32_t CopyWidth = 8;

struct Match {
    uint32_t length;
    uint32_t distance;
};

int MatchItemSize(uint8_t opcode) {
    if (opcode >= 0xC0) return 2;
    if (opcode & 0x80) return (opcode & 0x1F) ? 1 : 2;
    if (opcode == 0x7F) return 5;
    return 3;
}

// Reads the match item at `item`, whose MatchItemSize bytes the caller has made sure exist.
Match ReadMatch(const uint8_t* item) {
    const uint32_t opcode = item[0];
    if (opcode >= 0xC0) return {((opcode >> 2) & 0x0F) + 4, ((opcode & 0x03) << 8) | item[1]};
    if (opcode & 0x80) {
        const uint32_t length = (opcode & 0x20) ? 3 : 2;
        const uint32_t short_distance = opcode & 0x1F;
        return {length, short_distance ? short_distance : item[1]};
    }
    if (opcode == 0x7F) return {(item[1] | uint32_t(item[2]) << 8) + 2, item[3] | uint32_t(item[4]) << 8};
    return {opcode + 4, item[1] | uint32_t(item[2]) << 8};
}

// The byte-at-a-time meaning of a match, for the ends of the output.
void CopyMatchBytes(uint8_t* out, uint32_t distance, uint32_t length) {
    const uint8_t* from = out - distance;
    for (uint32_t i = 0; i < length; ++i) out[i] = from[i];
}

// Copies a match in wide steps with the result of CopyMatchBytes. Needs
// CopyWidth bytes of output room beyond the match.
void CopyMatchWide(uint8_t* out, uint32_t distance, uint32_t length) {
    if (distance == 1) {
        std::memset(out, out[-1], length);
        return;
    }
    uint8_t* const end = out + length;
    if (distance < CopyWidth) {
        // The bytes repeat with period `distance`, so also with any multiple of
        // it; write byte by byte until a multiple of at least CopyWidth lies
        // behind, so every wide step below reads only bytes already written.
        const uint32_t period = distance * ((CopyWidth + distance - 1) / distance);
        const uint32_t head = period - distance;
        if (length <= head) {
            CopyMatchBytes(out, distance, length);
            return;
        }
        CopyMatchBytes(out, distance, head);
        out += head;
        distance = period;
    }
    const uint8_t* from = out - distance;
    do {
        std::memcpy(out, from, CopyWidth);
        out += CopyWidth;
        from += CopyWidth;
    } while (out < end);
}

// Checks a match against what has been produced and the room left, then copies it.
// Returns 0 or a PayloadFault.
int32_t ApplyMatch(Match match, uint8_t* output, uint8_t*& out, uint8_t* out_end) {
    if (match.distance == 0) return PayloadZeroOffset;                             // would copy unwritten bytes
    if (match.distance > uint32_t(out - output)) return PayloadOffsetBeforeStart;  // before the buffer
    if (match.length > uint32_t(out_end - out)) return PayloadOutputOverflow;      // past the capacity
    if (uint32_t(out_end - out) >= match.length + CopyWidth)
        CopyMatchWide(out, match.distance, match.length);
    else
        CopyMatchBytes(out, match.distance, match.length);
    out += match.length;
    return 0;
}

} // namespace

const char* DescribePayloadFault(int32_t fault) {
    switch (fault) {
    case PayloadTruncatedItem: return "an item runs past the end of the packed stream";
    case PayloadZeroOffset: return "a match has offset 0";
    case PayloadOffsetBeforeStart: return "a match reaches before the start of the output";
    case PayloadOutputOverflow: return "the stream decodes to more than the output can hold";
    case PayloadRecordTooShort: return "the record is shorter than its 8-byte header";
    case PayloadSizePastRecord: return "the header's packed size does not fit the record";
    }
    return fault >= 0 ? "well-formed" : "unknown fault";
}

int32_t DecodePayload(uint8_t* output, int32_t capacity, const uint8_t* packed, int32_t packed_size) {
    if (packed_size <= 0) return 0;
    const uint8_t* in = packed;
    const uint8_t* const in_end = packed + packed_size;
    uint8_t* out = output;
    uint8_t* const out_end = output + (capacity > 0 ? capacity : 0);

    // Whole groups while the input surely holds them: no input checks per item.
    while (in_end - in >= LargestGroupSize) {
        uint32_t flags = *in++;
        int items_left = 8;
        while (items_left > 0) {
            if (flags & 1) {
                const int run = std::min(std::countr_one(flags), items_left);
                if (run > out_end - out) return PayloadOutputOverflow;  // past the capacity
                std::memcpy(out, in, size_t(run));
                in += run;
                out += run;
                flags >>= run;
                items_left -= run;
                continue;
            }
            const int size = MatchItemSize(*in);
            const Match match = ReadMatch(in);
            in += size;
            if (const int32_t fault = ApplyMatch(match, output, out, out_end)) return fault;
            flags >>= 1;
            --items_left;
        }
    }

    // The tail, item by item, each operand checked against the end of the input.
    while (in < in_end) {
        uint32_t flags = *in++;
        for (int item = 0; item < 8 && in < in_end; ++item, flags >>= 1) {
            if (flags & 1) {
                if (out == out_end) return PayloadOutputOverflow;  // past the capacity
                *out++ = *in++;
                continue;
            }
            const int size = MatchItemSize(*in);
            if (size > in_end - in) return PayloadTruncatedItem;  // operands past the input
            const Match match = ReadMatch(in);
            in += size;
            if (const int32_t fault = ApplyMatch(match, output, out, out_end)) return fault;
        }
    }
    return int32_t(out - output);
}
