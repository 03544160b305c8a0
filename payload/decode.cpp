#include "payload/decode.h"

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

// Wide copies move this many bytes at a time and may write up to this many
// bytes beyond what they keep, so they run only where the output has that room.
constexpr uint32_t CopyWidth = 8;

// A quick match copies this many bytes, in two halves so that a match from at
// least half as far back reads only bytes already written.
constexpr uint32_t QuickCopy = 32;

// A flag byte, seven five-byte matches and the CopyWidth bytes that a literal
// run in the last place may read: a group this far from the end of the input
// decodes without looking at that end.
constexpr std::ptrdiff_t FastGroupInput = 1 + 7 * 5 + CopyWidth;

struct Match {
    uint32_t length;
    uint32_t distance;
    uint32_t size; // bytes of the item, opcode included
};

// How each opcode's item is read, as one table so that decoding a match takes
// no branch on its encoding. With w the four bytes after the opcode, little
// endian (zero where the item is shorter):
//   length   = length_base + (w & length_mask)
//   distance = distance_base | ((w >> distance_shift) & distance_mask)
struct OpcodeForm {
    uint8_t size;
    uint8_t distance_shift;
    uint16_t length_base;
    uint16_t length_mask;
    uint16_t distance_base;
    uint16_t distance_mask;
};

constexpr OpcodeForm FormOf(uint32_t opcode) {
    if (opcode >= 0xC0) return {2, 0, uint16_t(((opcode >> 2) & 0x0F) + 4), 0, uint16_t((opcode & 0x03) << 8), 0xFF};
    if (opcode & 0x80) {
        const uint16_t length = (opcode & 0x20) ? 3 : 2;
        if (opcode & 0x1F) return {1, 0, length, 0, uint16_t(opcode & 0x1F), 0};
        return {2, 0, length, 0, 0, 0xFF};
    }
    if (opcode == 0x7F) return {5, 16, 2, 0xFFFF, 0, 0xFFFF};
    return {3, 0, uint16_t(opcode + 4), 0, 0, 0xFFFF};
}

struct OpcodeTable {
    OpcodeForm forms[256];
};

constexpr OpcodeTable MakeOpcodeTable() {
    OpcodeTable table{};
    for (uint32_t opcode = 0; opcode < 256; ++opcode) table.forms[opcode] = FormOf(opcode);
    return table;
}

constexpr OpcodeTable Opcodes = MakeOpcodeTable();

// Reads the match item at `item`; five bytes must be readable there, whatever the item's own size.
[[gnu::always_inline]] inline Match ReadMatch(const uint8_t* item) {
    const OpcodeForm& form = Opcodes.forms[item[0]];
    const uint32_t operands = item[1] | uint32_t(item[2]) << 8 | uint32_t(item[3]) << 16 | uint32_t(item[4]) << 24;
    return {form.length_base + (operands & form.length_mask),
            form.distance_base | ((operands >> form.distance_shift) & form.distance_mask), form.size};
}

// Reads a match item near the end of the input, where only `available` bytes
// may be read. Returns false when the item runs past them.
bool ReadMatchAtEnd(const uint8_t* item, std::ptrdiff_t available, Match* match) {
    const uint32_t size = Opcodes.forms[item[0]].size;
    if (std::ptrdiff_t(size) > available) return false;
    uint8_t whole[5] = {};
    std::memcpy(whole, item, size);
    *match = ReadMatch(whole);
    return true;
}

// The byte-at-a-time meaning of a match, for the ends of the output.
[[gnu::always_inline]] inline void CopyMatchBytes(uint8_t* out, uint32_t distance, uint32_t length) {
    const uint8_t* from = out - distance;
    for (uint32_t i = 0; i < length; ++i) out[i] = from[i];
}

// Copies a match in wide steps with the result of CopyMatchBytes. Needs
// 2 * CopyWidth bytes of output room beyond the match.
[[gnu::always_inline]] inline void CopyMatchWide(uint8_t* out, uint32_t distance, uint32_t length) {
    uint8_t* const end = out + length;
    const uint8_t* from = out - distance;
    if (distance >= 2 * CopyWidth) {
        do {
            std::memcpy(out, from, 2 * CopyWidth);
            out += 2 * CopyWidth;
            from += 2 * CopyWidth;
        } while (out < end);
        return;
    }
    if (distance < CopyWidth) {
        // The bytes repeat with period `distance`. Write the first eight one
        // period at a time, then step the source back to a multiple of the
        // period of at least eight, so the wide steps read only written bytes.
        static constexpr uint8_t SecondHalfStep[CopyWidth] = {0, 1, 2, 1, 0, 4, 4, 4};
        static constexpr int8_t SourceBack[CopyWidth] = {0, 0, 0, -1, -4, 1, 2, 3};
        out[0] = from[0];
        out[1] = from[1];
        out[2] = from[2];
        out[3] = from[3];
        from += SecondHalfStep[distance];
        std::memcpy(out + 4, from, 4);
        from -= SourceBack[distance];
    } else {
        std::memcpy(out, from, CopyWidth);
        from += CopyWidth;
    }
    out += CopyWidth;
    while (out < end) {
        std::memcpy(out, from, CopyWidth);
        out += CopyWidth;
        from += CopyWidth;
    }
}

// Checks a match against what has been produced and the room left, then copies it.
// Returns 0 or a PayloadFault.
[[gnu::always_inline]] inline int32_t ApplyMatch(Match match, uint8_t* output, uint8_t*& out, uint8_t* out_end) {
    const uint32_t produced = uint32_t(out - output);
    const uint32_t room = uint32_t(out_end - out);
    // One test for both offset faults: offset 0 wraps to the largest value.
    if (match.distance - 1 >= produced) [[unlikely]]
        return match.distance == 0 ? PayloadZeroOffset : PayloadOffsetBeforeStart;
    if (room >= match.length + 2 * CopyWidth) [[likely]] {
        CopyMatchWide(out, match.distance, match.length);
    } else {
        if (match.length > room) return PayloadOutputOverflow; // past the capacity
        CopyMatchBytes(out, match.distance, match.length);
    }
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

    // Whole groups while the input surely holds them: no input checks per
    // item. A run of literals is copied CopyWidth bytes at once, and a match
    // of up to QuickCopy bytes from at least half that far back QuickCopy
    // bytes at once; each keeps the bytes its item makes. The rest, and the
    // last bytes of the output, take the careful way.
    while (in_end - in >= FastGroupInput) {
        // A marker two bits above the eight items: the clear bit between stops
        // a literal run at the group's end, and the marker alone is left when
        // every item is done.
        uint32_t flags = *in++ | 0x200;
        while (flags != 0x2) {
            const uint32_t room = uint32_t(out_end - out);
            if (flags & 1) {
                const uint32_t run = uint32_t(std::countr_one(flags));
                if (room >= CopyWidth) [[likely]] {
                    std::memcpy(out, in, CopyWidth);
                } else {
                    if (run > room) return PayloadOutputOverflow; // past the capacity
                    std::memcpy(out, in, run);
                }
                out += run;
                in += run;
                flags >>= run;
                continue;
            }
            const Match match = ReadMatch(in);
            in += match.size;
            flags >>= 1;
            const bool quick = (room >= QuickCopy) & (match.distance >= QuickCopy / 2) &
                               (match.distance <= uint32_t(out - output)) & (match.length <= QuickCopy);
            if (quick) [[likely]] {
                const uint8_t* from = out - match.distance;
                std::memcpy(out, from, QuickCopy / 2);
                std::memcpy(out + QuickCopy / 2, from + QuickCopy / 2, QuickCopy / 2);
                out += match.length;
                continue;
            }
            if (const int32_t fault = ApplyMatch(match, output, out, out_end)) return fault;
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
            Match match;
            if (!ReadMatchAtEnd(in, in_end - in, &match)) return PayloadTruncatedItem; // operands past the input
            in += match.size;
            if (const int32_t fault = ApplyMatch(match, output, out, out_end)) return fault;
        }
    }
    return int32_t(out - output);
}
