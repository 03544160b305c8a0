#include "payload/extract.h"

#include "payload/decode.h"
#include "payload/record.h"
#include "platform/platform.h"

uint8_t DecodeBuffer[DecodeBufferSize];

const char MissingPayloadText[] = "リソースが見つかりません";

ExtractResult ExtractPayload(const char* target_path, const char* payload_name) {
    // The record is found and decoded before the target is opened, so a file is
    // never truncated for a payload that cannot be had. A malformed record is
    // reported like a missing one: none of its bytes may reach the disk.
    const uint8_t* record = nullptr;
    uint32_t record_size = 0;
    PayloadHeader header{};
    int32_t decoded_size = PayloadRecordTooShort;
    if (PlatformFindPayload(payload_name, &record, &record_size))
        decoded_size = DecodePayloadRecord(record, record_size, DecodeBuffer, DecodeBufferSize, &header);
    if (decoded_size < 0) {
        PlatformShowDialog(MissingPayloadText, payload_name, DialogMessage);
        return ExtractNoPayload;
    }

    const int file = PlatformOpenForWrite(target_path);
    if (file < 0) return ExtractCannotCreate;
    const int32_t written = PlatformWriteFile(file, DecodeBuffer, decoded_size);
    PlatformCloseFile(file);
    if (written != decoded_size) return ExtractShortWrite;

    // A file whose times could not be set still counts as installed.
    PlatformSetFileTimes(target_path, header.timestamp);
    return ExtractOk;
}
