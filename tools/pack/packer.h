#pragma once

// The encoder of payload streams. Host code for the packer tool, its tests,
// the fuzz target and the benchmark; the updater only ever decodes.

#include <cstddef>
#include <cstdint>
#include <vector>

// The updater decodes every payload into a buffer of this many bytes, so no
// record may decode to more.
inline constexpr size_t PackMaxInput = 1400000;

// Packs `input[0 .. size)` into a stream that DecodePayload turns back into
// the same bytes. Every match takes the shortest encoding that carries its
// length and offset, the first item is a literal, the stream ends right after
// its last item, and the bits of the last flag byte that describe no item are
// clear. An empty input gives an empty stream.
std::vector<uint8_t> PackStream(const uint8_t* input, size_t size);

// A whole record: the 8-byte header (packed_size, timestamp, both int32
// little-endian) followed by PackStream's stream.
std::vector<uint8_t> PackRecord(const uint8_t* input, size_t size, int32_t timestamp);

// How many items of each encoding a stream holds.
struct StreamItemCounts {
    uint64_t literal;     // a flag bit set: one byte copied
    uint64_t one_byte;    // 0x81-0x9F, 0xA1-0xBF: L 2-3, D 1-31
    uint64_t offset_byte; // 0x80, 0xA0 and a byte: L 2-3, D 0-255
    uint64_t near;        // 0xC0-0xFF and a byte: L 4-19, D 0-1023
    uint64_t medium;      // 0x00-0x7E and two bytes: L 4-130
    uint64_t far;         // 0x7F and four bytes: L 2-65,537
};

// Counts the items of `packed[0 .. packed_size)` by their opcodes alone,
// without checking offsets. Returns false, with the counts so far, when an
// item runs past the end of the stream.
bool CountStreamItems(const uint8_t* packed, size_t packed_size, StreamItemCounts* counts);
