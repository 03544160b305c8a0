#pragma once

// Small well-formed and malformed payload records for tests of the core.

#include <cstdint>
#include <string>
#include <vector>

// A record whose stream holds `contents` as literals.
inline std::vector<uint8_t> LiteralRecord(const std::string& contents, int32_t timestamp) {
    std::vector<uint8_t> stream;
    for (size_t i = 0; i < contents.size(); ++i) {
        if (i % 8 == 0) stream.push_back(uint8_t((1u << std::min<size_t>(8, contents.size() - i)) - 1));
        stream.push_back(uint8_t(contents[i]));
    }
    std::vector<uint8_t> record;
    for (uint32_t field : {uint32_t(stream.size()), uint32_t(timestamp)})
        for (int shift = 0; shift < 32; shift += 8) record.push_back(uint8_t(field >> shift));
    record.insert(record.end(), stream.begin(), stream.end());
    return record;
}

inline std::string UpperCase(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return text;
}
