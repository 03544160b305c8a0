// The packer's streams must decode, through the updater's own decoder, to the
// bytes they were made from, and must keep the rules the updater's payloads
// keep: the shortest encoding for every match, a literal first, no trailing
// flag byte, and the unused bits of the last flag byte clear. The walker below
// checks those rules on its own, from the encoding table alone.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "payload/decode.h"
#include "payload/record.h"
#include "tools/pack/packer.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The encodings a match may take: the lengths and offsets each carries, and
// its size in bytes.
struct Encoding {
    const char* name;
    uint32_t min_length, max_length, max_offset, size;
};

const Encoding Encodings[] = {
    {"1-byte", 2, 3, 31, 1},     {"offset-byte", 2, 3, 255, 2}, {"0xC0", 4, 19, 1023, 2},
    {"0x00-0x7E", 4, 130, 65535, 3}, {"0x7F", 2, 65537, 65535, 5},
};

uint32_t ShortestSize(uint32_t length, uint32_t offset) {
    uint32_t best = 0;
    for (const Encoding& e : Encodings) {
        if (length >= e.min_length && length <= e.max_length && offset <= e.max_offset && (best == 0 || e.size < best)) {
            best = e.size;
        }
    }
    return best;
}

struct Walk {
    std::vector<std::string> faults;
    size_t decoded = 0;
    size_t counts[6] = {}; // literal, then the encodings in table order
};

// Walks a packed stream item by item and notes every departure from the rules.
Walk WalkStream(const Bytes& stream) {
    Walk walk;
    auto fault = [&walk](size_t at, const std::string& what) {
        if (walk.faults.size() < 10) {
            walk.faults.push_back("byte " + std::to_string(at) + ": " + what);
        }
    };
    size_t at = 0;
    size_t item = 0;
    size_t flag_at = 0;
    while (at < stream.size()) {
        if (item % 8 == 0) {
            flag_at = at++;
            if (at == stream.size()) {
                fault(flag_at, "a flag byte ends the stream");
                break;
            }
        }
        bool literal = (stream[flag_at] >> (item % 8) & 1) != 0;
        if (item == 0 && !literal) {
            fault(at, "the first item is a match");
        }
        ++item;
        if (literal) {
            ++walk.counts[0];
            ++walk.decoded;
            ++at;
            continue;
        }
        uint8_t op = stream[at];
        size_t kind;
        uint32_t size, length, offset;
        auto byte = [&](size_t i) -> uint32_t { return at + i < stream.size() ? stream[at + i] : 0; };
        if (op >= 0xC0) {
            kind = 2, size = 2, length = ((op >> 2) & 0x0F) + 4, offset = (op & 3u) << 8 | byte(1);
        } else if (op >= 0x80 && (op & 0x1F) != 0) {
            kind = 0, size = 1, length = (op & 0x20) ? 3 : 2, offset = op & 0x1Fu;
        } else if (op >= 0x80) {
            kind = 1, size = 2, length = op == 0xA0 ? 3 : 2, offset = byte(1);
        } else if (op == 0x7F) {
            kind = 4, size = 5, length = (byte(1) | byte(2) << 8) + 2, offset = byte(3) | byte(4) << 8;
        } else {
            kind = 3, size = 3, length = op + 4u, offset = byte(1) | byte(2) << 8;
        }
        if (at + size > stream.size()) {
            fault(at, "the item runs past the end");
            break;
        }
        if (offset == 0 || offset > walk.decoded) {
            fault(at, "offset " + std::to_string(offset) + " with " + std::to_string(walk.decoded) + " bytes produced");
        }
        if (size != ShortestSize(length, offset)) {
            fault(at, std::string(Encodings[kind].name) + " for L " + std::to_string(length) + ", D " +
                          std::to_string(offset) + ": a shorter encoding carries it");
        }
        if (kind == 4 && length <= 130) {
            fault(at, "0x7F form for L " + std::to_string(length) + ", which it does not serve");
        }
        ++walk.counts[kind + 1];
        walk.decoded += length;
        at += size;
    }
    if (item % 8 != 0 && (stream[flag_at] >> (item % 8)) != 0) {
        fault(flag_at, "bits of the last flag byte that describe no item are set");
    }
    return walk;
}

// Deterministic test data.
struct Generator {
    std::mt19937 random{20010219};

    uint8_t NextByte() { return uint8_t(random() >> 24); }
    uint32_t Below(uint32_t bound) { return uint32_t(random() % bound); }

    void AppendRandom(Bytes& out, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            out.push_back(NextByte());
        }
    }
    // Copies `length` bytes from `offset` back, overlapping as a decoder would.
    static void AppendCopy(Bytes& out, size_t offset, size_t length) {
        size_t from = out.size() - offset;
        for (size_t i = 0; i < length; ++i) {
            out.push_back(out[from + i]);
        }
    }
};

Bytes Incompressible(size_t size) {
    Generator g;
    Bytes out;
    g.AppendRandom(out, size);
    return out;
}

Bytes LongRuns() {
    Bytes out(1, 'a');
    out.insert(out.end(), 200000, 0);
    for (size_t run : {65536u, 65537u, 65538u, 131075u, 131u, 130u, 129u, 20u, 19u, 4u, 3u, 2u}) {
        out.push_back(uint8_t(run));
        out.insert(out.end(), run, uint8_t(run >> 3));
    }
    return out;
}

Bytes Text(size_t size) {
    static const char* const Words[] = {"the ", "storm ", "gate ", "of ", "Quellstorm ", "opens ", "\r\n",
                                        "「", "」", "そして", "彼女は", "言った。", "scene 12 ", "wait 30\r\n"};
    Generator g;
    Bytes out;
    while (out.size() < size) {
        const char* word = Words[g.Below(std::size(Words))];
        out.insert(out.end(), word, word + std::strlen(word));
    }
    out.resize(size);
    return out;
}

// Random bytes with copies at every reach: near and far offsets, short and
// long lengths, overlapping ones among them.
Bytes BinaryWithRepeats(size_t size) {
    Generator g;
    Bytes out;
    g.AppendRandom(out, 64);
    while (out.size() < size) {
        switch (g.Below(6)) {
        case 0:
            g.AppendRandom(out, 1 + g.Below(40));
            break;
        case 1:
            Generator::AppendCopy(out, 1 + g.Below(std::min<size_t>(out.size(), 31)), 2 + g.Below(2));
            break;
        case 2:
            Generator::AppendCopy(out, 1 + g.Below(std::min<size_t>(out.size(), 1023)), 4 + g.Below(16));
            break;
        case 3:
            Generator::AppendCopy(out, 1 + g.Below(std::min<size_t>(out.size(), 70000)), 4 + g.Below(300));
            break;
        case 4:
            Generator::AppendCopy(out, 1 + g.Below(4), 100 + g.Below(2000));
            break;
        default:
            out.insert(out.end(), g.Below(600), 0);
            break;
        }
    }
    out.resize(size);
    return out;
}

struct RoundTripCase {
    const char* name;
    std::function<Bytes()> make;
};

void PrintTo(const RoundTripCase& c, std::ostream* os) {
    *os << c.name;
}

class PackRoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(PackRoundTrip, DecodesToTheInputAndKeepsTheStreamRules) {
    Bytes input = GetParam().make();
    ASSERT_LE(input.size(), PackMaxInput);
    Bytes stream = PackStream(input.data(), input.size());

    // An output buffer of exactly the input's size: a stream that decoded to
    // one byte more would be refused.
    Bytes decoded(input.size() + 1, 0xCD);
    int32_t size =
        DecodePayload(decoded.data(), int32_t(input.size()), stream.data(), int32_t(stream.size()));
    ASSERT_EQ(size, int32_t(input.size()));
    decoded.resize(input.size());
    EXPECT_TRUE(decoded == input) << "decoded bytes differ from the input";

    Walk walk = WalkStream(stream);
    EXPECT_TRUE(walk.faults.empty()) << testing::PrintToString(walk.faults);
    EXPECT_EQ(walk.decoded, input.size());
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, PackRoundTrip,
    testing::Values(RoundTripCase{"Empty", [] { return Bytes{}; }},
                    RoundTripCase{"OneByte", [] { return Bytes{0x58}; }},
                    RoundTripCase{"ShortRun", [] { return Bytes(3, 'a'); }},
                    RoundTripCase{"Incompressible", [] { return Incompressible(100000); }},
                    RoundTripCase{"LongRuns", LongRuns},
                    RoundTripCase{"Text", [] { return Text(200000); }},
                    RoundTripCase{"BinaryWithRepeats", [] { return BinaryWithRepeats(300000); }},
                    RoundTripCase{"LargestInput", [] { return BinaryWithRepeats(PackMaxInput); }}),
    [](const testing::TestParamInfo<RoundTripCase>& param) { return std::string(param.param.name); });

TEST(PackStream, EmptyInputGivesAnEmptyStream) {
    EXPECT_TRUE(PackStream(nullptr, 0).empty());
}

TEST(PackStream, LongRunsTakeTheLongestForm) {
    Bytes input(1, 'x');
    input.insert(input.end(), 3 * 65537, 'x');
    Bytes stream = PackStream(input.data(), input.size());
    // A literal and three matches of the longest length: one flag byte, one
    // literal byte and three five-byte items.
    EXPECT_EQ(stream.size(), 1u + 1u + 3u * 5u);
    Walk walk = WalkStream(stream);
    EXPECT_EQ(walk.counts[5], 3u);
}

// Random bytes (which hold next to no chance matches) with one copy placed
// for each encoding, so a packer that left an encoding unused shows up.
TEST(PackStream, UsesEveryEncodingWhereItIsShortest) {
    Generator g;
    Bytes input;
    g.AppendRandom(input, 2000);
    Generator::AppendCopy(input, 5, 2); // 1-byte
    g.AppendRandom(input, 20);
    Generator::AppendCopy(input, 200, 3); // offset-byte
    g.AppendRandom(input, 20);
    Generator::AppendCopy(input, 1000, 12); // 0xC0
    g.AppendRandom(input, 20);
    Generator::AppendCopy(input, 1500, 60); // 0x00-0x7E
    g.AppendRandom(input, 20);
    Generator::AppendCopy(input, 1800, 400); // 0x7F
    g.AppendRandom(input, 20);

    Bytes stream = PackStream(input.data(), input.size());
    Walk walk = WalkStream(stream);
    ASSERT_TRUE(walk.faults.empty()) << testing::PrintToString(walk.faults);
    for (size_t kind = 0; kind < 5; ++kind) {
        EXPECT_GE(walk.counts[kind + 1], 1u) << Encodings[kind].name;
    }

    StreamItemCounts counts{};
    ASSERT_TRUE(CountStreamItems(stream.data(), stream.size(), &counts));
    EXPECT_EQ(counts.literal, walk.counts[0]);
    EXPECT_EQ(counts.one_byte, walk.counts[1]);
    EXPECT_EQ(counts.offset_byte, walk.counts[2]);
    EXPECT_EQ(counts.near, walk.counts[3]);
    EXPECT_EQ(counts.medium, walk.counts[4]);
    EXPECT_EQ(counts.far, walk.counts[5]);
}

TEST(PackRecord, HeaderHoldsTheStreamSizeAndTheTimestamp) {
    Bytes input = Text(5000);
    for (int32_t stamp : {982568366, 0, -1, INT32_MIN, INT32_MAX}) {
        Bytes record = PackRecord(input.data(), input.size(), stamp);
        Bytes stream = PackStream(input.data(), input.size());
        ASSERT_EQ(record.size(), 8 + stream.size());
        EXPECT_TRUE(std::equal(stream.begin(), stream.end(), record.begin() + 8));

        Bytes decoded(PackMaxInput);
        PayloadHeader header{};
        int32_t size = DecodePayloadRecord(record.data(), uint32_t(record.size()), decoded.data(),
                                           int32_t(decoded.size()), &header);
        EXPECT_EQ(size, int32_t(input.size())) << stamp;
        EXPECT_EQ(header.packed_size, int32_t(stream.size())) << stamp;
        EXPECT_EQ(header.timestamp, stamp);
    }
}

struct CountCase {
    const char* name;
    Bytes stream;
    bool complete;
    StreamItemCounts expected;
};

TEST(CountStreamItems, CountsEachEncodingAndStopsAtATruncatedItem) {
    const CountCase cases[] = {
        {"near match", {0x17, 'a', 'b', 'c', 0xC8, 0x03, 'X'}, true, {4, 0, 0, 1, 0, 0}},
        {"one-byte match", {0x03, 'x', 'y', 0x82}, true, {2, 1, 0, 0, 0, 0}},
        {"offset-byte match", {0x07, 'a', 'b', 'c', 0x80, 0x03}, true, {3, 0, 1, 0, 0, 0}},
        {"medium match", {0x0F, 'a', 'b', 'c', 'd', 0x00, 0x04, 0x00}, true, {4, 0, 0, 0, 1, 0}},
        {"far match", {0x01, 'a', 0x7F, 0x2A, 0x01, 0x01, 0x00}, true, {1, 0, 0, 0, 0, 1}},
        {"ninth item", {0xFF, 1, 2, 3, 4, 5, 6, 7, 8, 0x01, 9}, true, {9, 0, 0, 0, 0, 0}},
        {"trailing flag byte", {0xFF, 1, 2, 3, 4, 5, 6, 7, 8, 0x00}, true, {8, 0, 0, 0, 0, 0}},
        {"far match cut short", {0x01, 'a', 0x7F, 0x2A, 0x01, 0x01}, false, {1, 0, 0, 0, 0, 0}},
        {"near match cut short", {0x01, 'a', 0xC8}, false, {1, 0, 0, 0, 0, 0}},
    };
    for (const CountCase& c : cases) {
        StreamItemCounts counts{};
        EXPECT_EQ(CountStreamItems(c.stream.data(), c.stream.size(), &counts), c.complete) << c.name;
        EXPECT_EQ(counts.literal, c.expected.literal) << c.name;
        EXPECT_EQ(counts.one_byte, c.expected.one_byte) << c.name;
        EXPECT_EQ(counts.offset_byte, c.expected.offset_byte) << c.name;
        EXPECT_EQ(counts.near, c.expected.near) << c.name;
        EXPECT_EQ(counts.medium, c.expected.medium) << c.name;
        EXPECT_EQ(counts.far, c.expected.far) << c.name;
    }
}

} // namespace
