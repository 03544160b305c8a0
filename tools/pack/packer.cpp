#include "tools/pack/packer.h"

#include <algorithm>
#include <limits>

// The packer chooses its items by an optimal parse: a forward pass over the
// input keeps, for every position, the cheapest known way to reach it, where
// an item costs its bytes plus the one flag bit it takes. Matches of four
// bytes or more come from a hash chain over four-byte strings, nearest first;
// length 3 from a short chain over three-byte strings and length 2 from the
// last position of each byte pair, as those lengths reach back only 255
// bytes. Each match is weighed at every length it can be cut to, since the
// encoding's size steps at lengths 3, 19 and 130 and with the offset.

namespace {

constexpr uint32_t MaxOffset = 65535;
constexpr uint32_t MaxLength = 65537;
// Offsets of lengths 2 and 3 have at most one byte.
constexpr uint32_t MaxShortOffset = 255;
// A match at least this long is taken whole: weighing each shorter cut of it
// gains next to nothing and would make long runs quadratic.
constexpr uint32_t NiceLength = 128;
// How many earlier positions with the same four-byte hash are tried.
constexpr int ChainDepth = 512;
// How many with the same three-byte hash, within reach of length 3.
constexpr int ShortChainDepth = 8;
constexpr int HashBits = 17;
// The chain links live in a ring as long as the reach of the longest offset.
constexpr size_t WindowMask = 0xFFFF;
constexpr int32_t NoPosition = -1;

// The size in bytes of the shortest encoding of a match with this length and
// offset, or 0 when none carries it.
uint32_t MatchSize(uint32_t length, uint32_t offset) {
    if (length <= 3) {
        return offset <= 31 ? 1 : offset <= MaxShortOffset ? 2 : 0;
    }
    if (length <= 19 && offset <= 1023) {
        return 2;
    }
    return length <= 130 ? 3 : 5;
}

// Costs are counted in eighths of a byte so that the flag bit of each item
// weighs in.
uint32_t ItemCost(uint32_t bytes) {
    return bytes * 8 + 1;
}

uint32_t HashThree(const uint8_t* p) {
    uint32_t value = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    return (value * 2654435761u) >> (32 - HashBits);
}

uint32_t HashFour(const uint8_t* p) {
    uint32_t value = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    return (value * 2654435761u) >> (32 - HashBits);
}

uint32_t PairKey(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8;
}

struct MatchFinder {
    const uint8_t* input;
    size_t size;
    std::vector<int32_t> head_four;  // by hash: the latest position
    std::vector<int32_t> prev_four;  // by position & WindowMask: the one before it with that hash
    std::vector<int32_t> head_three; // the same for three-byte strings
    std::vector<int32_t> prev_three;
    std::vector<int32_t> last_pair; // by byte pair: the latest position
};

void InsertPosition(MatchFinder& finder, size_t pos) {
    if (pos + 1 < finder.size) {
        finder.last_pair[PairKey(finder.input + pos)] = int32_t(pos);
    }
    if (pos + 2 < finder.size) {
        uint32_t hash = HashThree(finder.input + pos);
        finder.prev_three[pos & WindowMask] = finder.head_three[hash];
        finder.head_three[hash] = int32_t(pos);
    }
    if (pos + 3 < finder.size) {
        uint32_t hash = HashFour(finder.input + pos);
        finder.prev_four[pos & WindowMask] = finder.head_four[hash];
        finder.head_four[hash] = int32_t(pos);
    }
}

// The nearest offset, within reach of length 3, at which the three bytes at
// `pos` occurred before, or 0.
uint32_t FindTriple(const MatchFinder& finder, size_t pos) {
    if (pos + 3 > finder.size) {
        return 0;
    }
    const uint8_t* here = finder.input + pos;
    int32_t candidate = finder.head_three[HashThree(here)];
    for (int depth = 0; depth < ShortChainDepth && candidate != NoPosition; ++depth) {
        size_t offset = pos - size_t(candidate);
        if (offset > MaxShortOffset) {
            break;
        }
        const uint8_t* there = finder.input + candidate;
        if (there[0] == here[0] && there[1] == here[1] && there[2] == here[2]) {
            return uint32_t(offset);
        }
        candidate = finder.prev_three[size_t(candidate) & WindowMask];
    }
    return 0;
}

struct Candidate {
    uint32_t length;
    uint32_t offset;
};

// Fills `found` with matches of four bytes or more at `pos`, in order of
// growing offset and strictly growing length, so that each length is served
// by the nearest offset the chain holds. Returns how many there are.
size_t FindMatches(const MatchFinder& finder, size_t pos, Candidate* found) {
    size_t limit = std::min<size_t>(MaxLength, finder.size - pos);
    if (limit < 4) {
        return 0;
    }
    const uint8_t* here = finder.input + pos;
    size_t count = 0;
    size_t best = 3;
    int32_t candidate = finder.head_four[HashFour(here)];
    for (int depth = 0; depth < ChainDepth && candidate != NoPosition; ++depth) {
        size_t offset = pos - size_t(candidate);
        if (offset > MaxOffset) {
            break;
        }
        const uint8_t* there = finder.input + candidate;
        // Only a candidate that agrees at the current best length can beat it.
        if (there[best] == here[best]) {
            size_t length = 0;
            while (length < limit && there[length] == here[length]) {
                ++length;
            }
            if (length > best) {
                found[count++] = {uint32_t(length), uint32_t(offset)};
                best = length;
                if (length >= NiceLength || length == limit) {
                    break;
                }
            }
        }
        candidate = finder.prev_four[size_t(candidate) & WindowMask];
    }
    return count;
}

// How the cheapest known way reaches a position: its last item. A literal has
// length 1 and offset 0.
struct Step {
    uint32_t cost;
    uint32_t length;
    uint32_t offset;
};

void AppendMatch(std::vector<uint8_t>& out, uint32_t length, uint32_t offset) {
    if (length <= 3) {
        uint8_t form = length == 3 ? 0xA0 : 0x80;
        if (offset <= 31) {
            out.push_back(uint8_t(form | offset));
        } else {
            out.push_back(form);
            out.push_back(uint8_t(offset));
        }
    } else if (length <= 19 && offset <= 1023) {
        out.push_back(uint8_t(0xC0 | (length - 4) << 2 | offset >> 8));
        out.push_back(uint8_t(offset));
    } else if (length <= 130) {
        out.push_back(uint8_t(length - 4));
        out.push_back(uint8_t(offset));
        out.push_back(uint8_t(offset >> 8));
    } else {
        uint32_t stored = length - 2;
        out.push_back(0x7F);
        out.push_back(uint8_t(stored));
        out.push_back(uint8_t(stored >> 8));
        out.push_back(uint8_t(offset));
        out.push_back(uint8_t(offset >> 8));
    }
}

} // namespace

std::vector<uint8_t> PackStream(const uint8_t* input, size_t size) {
    std::vector<uint8_t> out;
    if (size == 0) {
        return out;
    }
    MatchFinder finder{input,
                       size,
                       std::vector<int32_t>(size_t(1) << HashBits, NoPosition),
                       std::vector<int32_t>(WindowMask + 1, NoPosition),
                       std::vector<int32_t>(size_t(1) << HashBits, NoPosition),
                       std::vector<int32_t>(WindowMask + 1, NoPosition),
                       std::vector<int32_t>(65536, NoPosition)};
    constexpr uint32_t Unreached = std::numeric_limits<uint32_t>::max();
    std::vector<Step> steps(size + 1, Step{Unreached, 0, 0});
    steps[0].cost = 0;
    auto relax = [&steps](size_t to, uint32_t cost, uint32_t length, uint32_t offset) {
        if (cost < steps[to].cost) {
            steps[to] = Step{cost, length, offset};
        }
    };

    Candidate found[ChainDepth];
    size_t pos = 0;
    while (pos < size) {
        uint32_t cost = steps[pos].cost;
        relax(pos + 1, cost + ItemCost(1), 1, 0);
        if (pos + 1 < size) {
            int32_t last = finder.last_pair[PairKey(input + pos)];
            if (last != NoPosition && pos - size_t(last) <= MaxShortOffset) {
                uint32_t offset = uint32_t(pos - size_t(last));
                relax(pos + 2, cost + ItemCost(MatchSize(2, offset)), 2, offset);
            }
        }
        size_t count = FindMatches(finder, pos, found);
        if (count > 0 && found[count - 1].length >= NiceLength) {
            const Candidate& whole = found[count - 1];
            relax(pos + whole.length, cost + ItemCost(MatchSize(whole.length, whole.offset)), whole.length,
                  whole.offset);
            for (size_t skipped = 0; skipped < whole.length; ++skipped) {
                InsertPosition(finder, pos + skipped);
            }
            pos += whole.length;
            continue;
        }
        if (uint32_t offset = FindTriple(finder, pos); offset != 0) {
            relax(pos + 3, cost + ItemCost(MatchSize(3, offset)), 3, offset);
        }
        uint32_t weighed = 3;
        for (size_t i = 0; i < count; ++i) {
            for (uint32_t length = weighed + 1; length <= found[i].length; ++length) {
                relax(pos + length, cost + ItemCost(MatchSize(length, found[i].offset)), length, found[i].offset);
            }
            weighed = std::max(weighed, found[i].length);
        }
        InsertPosition(finder, pos);
        ++pos;
    }

    std::vector<Step> items;
    for (size_t at = size; at > 0; at -= steps[at].length) {
        items.push_back(steps[at]);
    }
    std::reverse(items.begin(), items.end());

    size_t flag_at = 0;
    unsigned bit = 8;
    size_t at = 0;
    for (const Step& item : items) {
        if (bit == 8) {
            flag_at = out.size();
            out.push_back(0);
            bit = 0;
        }
        if (item.offset == 0) {
            out[flag_at] = uint8_t(out[flag_at] | 1u << bit);
            out.push_back(input[at]);
        } else {
            AppendMatch(out, item.length, item.offset);
        }
        at += item.length;
        ++bit;
    }
    return out;
}

std::vector<uint8_t> PackRecord(const uint8_t* input, size_t size, int32_t timestamp) {
    std::vector<uint8_t> stream = PackStream(input, size);
    std::vector<uint8_t> record(8 + stream.size());
    uint32_t fields[2] = {uint32_t(stream.size()), uint32_t(timestamp)};
    for (size_t i = 0; i < 8; ++i) {
        record[i] = uint8_t(fields[i / 4] >> (i % 4 * 8));
    }
    std::copy(stream.begin(), stream.end(), record.begin() + 8);
    return record;
}

bool CountStreamItems(const uint8_t* packed, size_t packed_size, StreamItemCounts* counts) {
    *counts = StreamItemCounts{};
    size_t at = 0;
    uint32_t flags = 0;
    while (at < packed_size) {
        // Bits 8-15 mark how many items the current flag byte still serves.
        flags >>= 1;
        if ((flags & 0x100) == 0) {
            flags = 0xFF00 | packed[at++];
            if (at == packed_size) {
                return true; // a flag byte that ends the stream describes no item
            }
        }
        if (flags & 1) {
            ++counts->literal;
            ++at;
            continue;
        }
        uint8_t opcode = packed[at];
        size_t item_size = 3;
        uint64_t* counter = &counts->medium;
        if (opcode >= 0xC0) {
            item_size = 2;
            counter = &counts->near;
        } else if (opcode >= 0x80) {
            item_size = (opcode & 0x1F) != 0 ? 1 : 2;
            counter = (opcode & 0x1F) != 0 ? &counts->one_byte : &counts->offset_byte;
        } else if (opcode == 0x7F) {
            item_size = 5;
            counter = &counts->far;
        }
        if (item_size > packed_size - at) {
            return false;
        }
        ++*counter;
        at += item_size;
    }
    return true;
}
