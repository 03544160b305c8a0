#include "payload/decode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t Guard = 0xA5;
constexpr size_t GuardSize = 64;

struct Decoded {
    int32_t result;
    Bytes output;  // the first `result` bytes when result > 0
    bool guard_intact;
    bool untouched;  // nothing at all was written
};

// Decodes from an input copied into a buffer of exactly its size, into an
// output of `capacity` bytes followed by guard bytes that must survive.
Decoded Decode(const Bytes& packed, int32_t capacity, int32_t packed_size = -2) {
    Bytes input(packed);
    Bytes buffer(size_t(capacity) + GuardSize, Guard);
    const int32_t size = packed_size == -2 ? int32_t(input.size()) : packed_size;
    const int32_t result = DecodePayload(buffer.data(), capacity, input.data(), size);
    Decoded decoded{result, {}, true, true};
    for (size_t i = 0; i < buffer.size(); ++i) {
        if (buffer[i] != Guard) decoded.untouched = false;
        if (i >= size_t(capacity) && buffer[i] != Guard) decoded.guard_intact = false;
    }
    if (result > 0) decoded.output.assign(buffer.begin(), buffer.begin() + result);
    return decoded;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

struct StreamCase {
    const char* name;
    Bytes packed;
    Bytes expected;
};

class DecodeStream : public testing::TestWithParam<StreamCase> {};

TEST_P(DecodeStream, DecodesToItsBytes) {
    const StreamCase& c = GetParam();
    for (int32_t capacity : {int32_t(c.expected.size()), int32_t(c.expected.size()) + 100, 1400000}) {
        const Decoded decoded = Decode(c.packed, capacity);
        EXPECT_EQ(decoded.result, int32_t(c.expected.size())) << "capacity " << capacity;
        EXPECT_EQ(decoded.output, c.expected) << "capacity " << capacity;
        EXPECT_TRUE(decoded.guard_intact);
    }
}

Bytes Repeated(uint8_t byte, size_t count) { return Bytes(count, byte); }

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes EightLiteralsThenFlag(uint8_t last_flag) {
    return Concat(Concat({0xFF}, Text("abcdefgh")), {last_flag});
}

INSTANTIATE_TEST_SUITE_P(
    WorkedStreams, DecodeStream,
    testing::Values(
        StreamCase{"c0_form", {0x17, 0x61, 0x62, 0x63, 0xC8, 0x03, 0x58}, Text("abcabcabcX")},
        StreamCase{"one_byte_match", {0x03, 0x78, 0x79, 0x82}, Text("xyxy")},
        StreamCase{"offset_byte_match", {0x07, 0x61, 0x62, 0x63, 0x80, 0x03}, Text("abcab")},
        StreamCase{"three_byte_match", {0x0F, 0x61, 0x62, 0x63, 0x64, 0x00, 0x04, 0x00}, Text("abcdabcd")},
        StreamCase{"five_byte_match", {0x01, 0x61, 0x7F, 0x2A, 0x01, 0x01, 0x00}, Repeated('a', 301)},
        StreamCase{"second_flag_byte",
                   {0xFF, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x01, 0x6A},
                   Text("abcdefghj")}),
    [](const testing::TestParamInfo<StreamCase>& test_case) { return test_case.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Edges, DecodeStream,
    testing::Values(
        StreamCase{"lone_flag_00", {0x00}, {}},
        StreamCase{"lone_flag_ff", {0xFF}, {}},
        // The last flag byte is consumed and describes no item, whatever its bits say.
        StreamCase{"trailing_flag_01", EightLiteralsThenFlag(0x01), Text("abcdefgh")},
        StreamCase{"trailing_flag_00", EightLiteralsThenFlag(0x00), Text("abcdefgh")},
        // A stream ending right after the eighth item reads no further flag byte.
        StreamCase{"ends_after_eighth_item", Concat({0xFF}, Text("abcdefgh")), Text("abcdefgh")},
        StreamCase{"literal_tail_of_three", Concat(Concat({0xFF}, Text("abcdefgh")), Concat({0x07}, Text("xyz"))),
                   Text("abcdefghxyz")},
        StreamCase{"opcode_81", {0x01, 0x61, 0x81}, Text("aaa")},
        StreamCase{"opcode_bf", Concat(Concat({0xFF}, Text("ABCDEFGH")), Concat(Concat({0xFF}, Text("IJKLMNOP")),
                                       Concat(Concat({0xFF}, Text("QRSTUVWX")), Concat({0x7F}, Concat(Text("YZ01567"), {0xBF}))))),
                   Concat(Text("ABCDEFGHIJKLMNOPQRSTUVWXYZ01567"), Text("ABC"))},
        StreamCase{"opcode_a0", {0x07, 0x61, 0x62, 0x63, 0xA0, 0x02}, Text("abcbcb")},
        // Flag bytes and opcodes of 0x80 and above are unsigned: 0xFF 0xFF is L = 19, D = 1023.
        StreamCase{"opcode_ff_ff",
                   Concat({0x01, 0x7A}, Concat({0x7F, 0xFD, 0x03, 0x01, 0x00}, {0xFF, 0xFF})),
                   Repeated('z', 1 + 1023 + 19)},
        StreamCase{"opcode_7e", {0x01, 0x71, 0x7E, 0x01, 0x00}, Repeated('q', 131)},
        StreamCase{"longest_match", {0x01, 0x6D, 0x7F, 0xFF, 0xFF, 0x01, 0x00}, Repeated('m', 1 + 65537)}),
    [](const testing::TestParamInfo<StreamCase>& test_case) { return test_case.param.name; });

TEST(DecodePayload, SizeOfZeroOrLessWritesNothing) {
    for (int32_t size : {0, -1, INT32_MIN}) {
        const Decoded decoded = Decode({0xFF, 0x61}, 16, size);
        EXPECT_EQ(decoded.result, 0) << size;
        EXPECT_TRUE(decoded.untouched) << size;
    }
}

TEST(DecodePayload, LiteralOnlyStreamsOfEveryLength) {
    // A flag byte FF before each full group, and one with the low k bits set before a last group of k.
    for (size_t length = 1; length <= 80; ++length) {
        Bytes packed;
        Bytes expected;
        for (size_t done = 0; done < length; done += 8) {
            const size_t group = std::min<size_t>(8, length - done);
            packed.push_back(uint8_t((1u << group) - 1));
            for (size_t i = 0; i < group; ++i) {
                const uint8_t byte = uint8_t(done + i + 0x80);
                packed.push_back(byte);
                expected.push_back(byte);
            }
        }
        ASSERT_EQ(packed.size(), length + (length + 7) / 8);
        const Decoded decoded = Decode(packed, int32_t(length));
        EXPECT_EQ(decoded.output, expected) << length;
        EXPECT_TRUE(decoded.guard_intact) << length;
    }
}

// Appends a match of `length` and `distance` in the three-byte or five-byte
// form, which carry any distance; returns the stream with its flag bytes.
Bytes LiteralsThenMatch(const Bytes& literals, uint32_t length, uint32_t distance) {
    Bytes items;
    Bytes flags;
    for (uint8_t literal : literals) {
        items.push_back(literal);
        flags.push_back(1);
    }
    if (length >= 4 && length <= 130) {
        items.insert(items.end(), {uint8_t(length - 4), uint8_t(distance), uint8_t(distance >> 8)});
    } else {
        const uint32_t stored = length - 2;
        items.insert(items.end(), {0x7F, uint8_t(stored), uint8_t(stored >> 8), uint8_t(distance), uint8_t(distance >> 8)});
    }
    flags.push_back(0);
    // Lay the items out under their flag bytes.
    Bytes packed;
    size_t item_start = 0;
    for (size_t group = 0; group < flags.size(); group += 8) {
        uint8_t flag_byte = 0;
        for (size_t i = group; i < std::min(flags.size(), group + 8); ++i) flag_byte |= uint8_t(flags[i] << (i - group));
        packed.push_back(flag_byte);
        for (size_t i = group; i < std::min(flags.size(), group + 8); ++i) {
            const size_t item_size = i < literals.size() ? 1 : items.size() - item_start;
            packed.insert(packed.end(), items.begin() + long(item_start), items.begin() + long(item_start + item_size));
            item_start += item_size;
        }
    }
    return packed;
}

TEST(DecodePayload, OverlappingMatchesRepeatTheLastBytesAtEveryDistance) {
    // The wide copies must give exactly the byte-at-a-time meaning for short
    // periods, near the end of the output, and at every length class.
    Bytes literals;
    for (int i = 0; i < 40; ++i) literals.push_back(uint8_t(i * 37 + 11));
    for (uint32_t distance = 1; distance <= 40; ++distance) {
        for (uint32_t length : {4u, 7u, 8u, 9u, 15u, 16u, 17u, 63u, 130u, 131u, 1000u}) {
            const Bytes packed = LiteralsThenMatch(literals, length, distance);
            Bytes expected(literals);
            for (uint32_t i = 0; i < length; ++i) expected.push_back(expected[expected.size() - distance]);
            for (int32_t slack : {0, 3, 100}) {
                const Decoded decoded = Decode(packed, int32_t(expected.size()) + slack);
                ASSERT_EQ(decoded.output, expected) << "D " << distance << " L " << length << " slack " << slack;
                ASSERT_TRUE(decoded.guard_intact);
            }
        }
    }
}

// Builds a long stream of every encoding, mixing literal runs with matches of
// every length class and of distances near and far, and the bytes it stands
// for, worked out one byte at a time. Long enough that most of it runs through
// the group-at-a-time loop, and the end through the careful one.
struct MixedStream {
    Bytes packed;
    Bytes expected;
};

MixedStream MakeMixedStream(uint32_t seed, size_t items) {
    uint32_t state = seed;
    auto next = [&state](uint32_t bound) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % bound;
    };
    MixedStream stream;
    Bytes group;
    uint8_t flag_byte = 0;
    int in_group = 0;
    auto finish_item = [&](bool literal) {
        flag_byte |= uint8_t(literal) << in_group;
        if (++in_group == 8) {
            stream.packed.push_back(flag_byte);
            stream.packed.insert(stream.packed.end(), group.begin(), group.end());
            group.clear();
            flag_byte = 0;
            in_group = 0;
        }
    };
    for (size_t item = 0; item < items; ++item) {
        const uint32_t produced = uint32_t(stream.expected.size());
        if (produced == 0 || next(3) == 0) {
            const uint8_t byte = uint8_t(next(256));
            group.push_back(byte);
            stream.expected.push_back(byte);
            finish_item(true);
            continue;
        }
        static constexpr uint32_t Lengths[] = {2, 3, 4, 7, 8, 9, 15, 16, 17, 19, 20, 31, 32, 33, 64, 127, 130, 131, 700};
        const uint32_t length = Lengths[next(sizeof Lengths / sizeof Lengths[0])];
        const uint32_t far = std::min<uint32_t>(produced, next(4) == 0 ? 65535 : 40);
        const uint32_t distance = 1 + next(far);
        const bool long_form = next(5) == 0;  // not the shortest form, which a stream may still use
        if (length <= 3 && distance <= 31 && !long_form) {
            group.push_back(uint8_t(0x80 | (length == 3 ? 0x20 : 0) | distance));
        } else if (length <= 3 && distance <= 255) {
            group.insert(group.end(), {uint8_t(length == 3 ? 0xA0 : 0x80), uint8_t(distance)});
        } else if (length <= 3 || (length >= 4 && length <= 19 && distance <= 1023 && !long_form)) {
            if (length <= 3) {
                group.insert(group.end(), {0x7F, uint8_t(length - 2), 0, uint8_t(distance), uint8_t(distance >> 8)});
            } else {
                group.insert(group.end(), {uint8_t(0xC0 | (length - 4) << 2 | distance >> 8), uint8_t(distance)});
            }
        } else if (length <= 130 && !long_form) {
            group.insert(group.end(), {uint8_t(length - 4), uint8_t(distance), uint8_t(distance >> 8)});
        } else {
            group.insert(group.end(), {0x7F, uint8_t(length - 2), uint8_t((length - 2) >> 8), uint8_t(distance),
                                       uint8_t(distance >> 8)});
        }
        for (uint32_t i = 0; i < length; ++i) stream.expected.push_back(stream.expected[stream.expected.size() - distance]);
        finish_item(false);
    }
    if (in_group > 0) {
        stream.packed.push_back(flag_byte);
        stream.packed.insert(stream.packed.end(), group.begin(), group.end());
    }
    return stream;
}

TEST(DecodePayload, LongMixedStreamsDecodeAsByteByByte) {
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        const MixedStream stream = MakeMixedStream(seed, 3000 + seed * 37);
        for (int32_t slack : {0, 5, 40}) {
            const Decoded decoded = Decode(stream.packed, int32_t(stream.expected.size()) + slack);
            ASSERT_EQ(decoded.result, int32_t(stream.expected.size())) << "seed " << seed;
            ASSERT_TRUE(decoded.output == stream.expected) << "seed " << seed << " slack " << slack;
            ASSERT_TRUE(decoded.guard_intact);
        }
        // One byte too little room: a fault, never a write past the capacity.
        const Decoded cramped = Decode(stream.packed, int32_t(stream.expected.size()) - 1);
        EXPECT_EQ(cramped.result, PayloadOutputOverflow);
        EXPECT_TRUE(cramped.guard_intact);
    }
}

struct MalformedCase {
    const char* name;
    Bytes packed;
    int32_t capacity;
    int32_t fault;
};

class MalformedStream : public testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedStream, GivesItsFaultAndStaysInBounds) {
    const MalformedCase& c = GetParam();
    const Decoded decoded = Decode(c.packed, c.capacity);
    EXPECT_EQ(decoded.result, c.fault);
    EXPECT_TRUE(decoded.guard_intact);
}

Bytes LongLiteralRun(size_t count) {
    Bytes packed;
    for (size_t i = 0; i < count; i += 8) {
        packed.push_back(0xFF);
        for (size_t j = 0; j < 8; ++j) packed.push_back(uint8_t(i + j));
    }
    return packed;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, MalformedStream,
    testing::Values(
        MalformedCase{"operand_missing_c0", {0x01, 0x61, 0xC8}, 64, PayloadTruncatedItem},
        MalformedCase{"operand_missing_80", {0x01, 0x61, 0x80}, 64, PayloadTruncatedItem},
        MalformedCase{"operands_missing_00", {0x01, 0x61, 0x00, 0x01}, 64, PayloadTruncatedItem},
        MalformedCase{"operands_missing_7f", {0x01, 0x61, 0x7F, 0x01, 0x00, 0x01}, 64, PayloadTruncatedItem},
        MalformedCase{"zero_offset_c0", {0x01, 0x61, 0xC0, 0x00}, 64, PayloadZeroOffset},
        MalformedCase{"zero_offset_80", {0x01, 0x61, 0x80, 0x00}, 64, PayloadZeroOffset},
        MalformedCase{"zero_offset_7f", {0x01, 0x61, 0x7F, 0x00, 0x00, 0x00, 0x00}, 64, PayloadZeroOffset},
        MalformedCase{"match_first", {0x00, 0x81}, 64, PayloadOffsetBeforeStart},
        MalformedCase{"offset_past_start", {0x03, 0x61, 0x62, 0x83}, 64, PayloadOffsetBeforeStart},
        MalformedCase{"far_offset", {0x01, 0x61, 0x00, 0xFF, 0xFF}, 64, PayloadOffsetBeforeStart},
        MalformedCase{"literal_past_capacity", {0x07, 0x61, 0x62, 0x63}, 2, PayloadOutputOverflow},
        MalformedCase{"zero_capacity", {0x01, 0x61}, 0, PayloadOutputOverflow},
        MalformedCase{"match_past_capacity", {0x01, 0x61, 0x7F, 0xFF, 0xFF, 0x01, 0x00}, 65537, PayloadOutputOverflow},
        // Long enough for the fast path, which must check the same bounds.
        MalformedCase{"fast_literals_past_capacity", LongLiteralRun(800), 700, PayloadOutputOverflow},
        MalformedCase{"fast_match_before_start", Concat(LongLiteralRun(64), Concat({0x00, 0x00, 0x00, 0x01}, Bytes(60, 0x81))), 4096,
                      PayloadOffsetBeforeStart},
        MalformedCase{"fast_zero_offset", Concat(LongLiteralRun(64), Concat({0x00, 0xC4, 0x00}, Bytes(60, 0x81))), 4096,
                      PayloadZeroOffset}),
    [](const testing::TestParamInfo<MalformedCase>& test_case) { return test_case.param.name; });

TEST(DecodePayload, EveryPrefixOfAStreamStaysInBounds) {
    // Cut anywhere, a stream either decodes or reports a fault; the input is an
    // exactly sized buffer, so a read past it is seen by the sanitizers.
    Bytes packed = LongLiteralRun(64);
    packed.insert(packed.end(), {0x00, 0xC8, 0x05, 0x81, 0xA3, 0x80, 0x07, 0xA0, 0x08, 0x05, 0x06, 0x00, 0x7F, 0x10, 0x00, 0x08, 0x00});
    for (size_t cut = 0; cut <= packed.size(); ++cut) {
        const Bytes prefix(packed.begin(), packed.begin() + long(cut));
        const Decoded decoded = Decode(prefix, 4096);
        EXPECT_TRUE(decoded.result >= 0 || decoded.result == PayloadTruncatedItem) << cut;
        EXPECT_TRUE(decoded.guard_intact) << cut;
    }
}

TEST(DescribePayloadFault, NamesEveryFault) {
    for (int32_t fault = PayloadSizePastRecord; fault <= PayloadTruncatedItem; ++fault)
        EXPECT_STRNE(DescribePayloadFault(fault), "unknown fault") << fault;
}

} // namespace
