#include "payload/record.h"

#include "payload/decode.h"

namespace {

// Little-endian from single bytes: right on any host and at any alignment.
int32_t ReadInt32LittleEndian(const uint8_t* bytes) {
    return int32_t(uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24);
}

} // namespace

int32_t ReadPayloadHeader(const uint8_t* record, uint32_t record_size, PayloadHeader* header) {
    if (record_size < PayloadHeaderSize) return PayloadRecordTooShort;
    header->packed_size = ReadInt32LittleEndian(record);
    header->timestamp = ReadInt32LittleEndian(record + 4);
    // A negative size would decode to nothing and replace a file with an empty one.
    if (header->packed_size < 0 || uint32_t(header->packed_size) > record_size - PayloadHeaderSize)
        return PayloadSizePastRecord;
    return 0;
}

int32_t DecodePayloadRecord(const uint8_t* record, uint32_t record_size, uint8_t* output, int32_t capacity,
                            PayloadHeader* header) {
    if (const int32_t fault = ReadPayloadHeader(record, record_size, header)) return fault;
    return DecodePayload(output, capacity, record + PayloadHeaderSize, header->packed_size);
}
