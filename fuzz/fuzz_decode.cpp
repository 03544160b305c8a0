// Feeds arbitrary bytes to the decoder as a packed stream and holds its result
// against the byte-at-a-time reference: the same count or fault, the same
// bytes. The output buffer is sized exactly, so the sanitizers see any write
// past the capacity, and a stream that decodes is decoded again into exactly
// its size and one byte less.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench/reference_decode.h"
#include "payload/decode.h"

namespace {

constexpr int32_t FuzzCapacity = 1 << 16;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > size_t(INT32_MAX)) return 0;
    // The input is copied so that reading one byte past it is a heap overflow.
    std::vector<uint8_t> packed(data, data + size);
    std::vector<uint8_t> output(FuzzCapacity);
    const int32_t decoded = DecodePayload(output.data(), FuzzCapacity, packed.data(), int32_t(size));
    std::vector<uint8_t> expected(FuzzCapacity);
    if (ReferenceDecodePayload(expected.data(), FuzzCapacity, packed.data(), int32_t(size)) != decoded) std::abort();
    if (decoded < 0) return 0;
    if (std::memcmp(expected.data(), output.data(), size_t(decoded)) != 0) std::abort();
    if (decoded > FuzzCapacity) std::abort();

    std::vector<uint8_t> exact(static_cast<size_t>(decoded));
    if (DecodePayload(exact.data(), decoded, packed.data(), int32_t(size)) != decoded) std::abort();
    if (decoded > 0 && std::memcmp(exact.data(), output.data(), size_t(decoded)) != 0) std::abort();
    if (decoded > 0) {
        std::vector<uint8_t> short_by_one(static_cast<size_t>(decoded - 1));
        if (DecodePayload(short_by_one.data(), decoded - 1, packed.data(), int32_t(size)) != PayloadOutputOverflow)
            std::abort();
    }
    return 0;
}
