#pragma once

// What the Linux platform tests' payload store holds (test_store.cpp): GOOD,
// EMPTY and LARGE are sound; TRUNCATED claims more than it holds, BADSTREAM's
// stream is malformed, OVERSIZE decodes past the decode buffer.

#include <cstddef>
#include <cstdint>

#include "payload/extract.h"

inline constexpr char TestGoodContents[] = "@BG bg001\r\n\x81\x75\x82\xA8\x82\xCD\x82\xE6\x82\xA4\x81\x76\r\n";
inline constexpr int32_t TestGoodTime = 982568366;  // 2001-02-19 07:39:26 UTC
inline constexpr int32_t TestEmptyTime = 987014534; // 2001-04-11 18:42:14 UTC
inline constexpr size_t TestLargeSize = 5000;
