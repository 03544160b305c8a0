// Packs arbitrary bytes and decodes the stream again with the updater's
// decoder into a buffer of exactly the input's size: any difference, or a
// stream the decoder refuses, is a fault of the packer or of the decoder.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "payload/decode.h"
#include "tools/pack/packer.h"

namespace {

// Longer inputs cost time and reach no path that a 64 KiB one cannot.
constexpr size_t MaxInput = 64 * 1024;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size = std::min(size, MaxInput);
    std::vector<uint8_t> stream = PackStream(data, size);
    std::vector<uint8_t> decoded(size);
    int32_t produced = DecodePayload(decoded.data(), int32_t(size), stream.data(), int32_t(stream.size()));
    if (produced != int32_t(size)) std::abort();
    if (size > 0 && std::memcmp(decoded.data(), data, size) != 0) std::abort();
    return 0;
}
