// Feeds arbitrary bytes to the record reader as a whole record, held in a
// buffer of exactly its size: the header must never be believed past it.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "payload/decode.h"
#include "payload/record.h"

namespace {

constexpr int32_t FuzzCapacity = 1 << 16;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return 0;
    std::vector<uint8_t> record(data, data + size);
    std::vector<uint8_t> output(FuzzCapacity);
    PayloadHeader header{};
    const int32_t decoded = DecodePayloadRecord(record.data(), uint32_t(size), output.data(), FuzzCapacity, &header);
    if (decoded == PayloadRecordTooShort || decoded == PayloadSizePastRecord) {
        if (size >= PayloadHeaderSize && header.packed_size >= 0 && uint32_t(header.packed_size) <= size - PayloadHeaderSize)
            std::abort(); // a sound header called unsound
        return 0;
    }
    // The header was believed: it must have fitted the record.
    if (header.packed_size < 0 || PayloadHeaderSize + uint64_t(header.packed_size) > size) std::abort();
    if (decoded > FuzzCapacity) std::abort();
    return 0;
}
