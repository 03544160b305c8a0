#pragma once

#include <cstdint>

// Result of installing one file; the update flow turns it into a message.
// Positive results still need reporting; -1 has been reported already.
enum ExtractResult : int32_t {
    ExtractOk = 0,
    ExtractCannotCreate = 1, // the target could not be opened for writing
    ExtractShortWrite = 2,   // the write did not store every decoded byte
    ExtractNoPayload = -1,   // no usable record of that name; the user has been told
};

// The largest file the update can carry; every payload decodes into this buffer.
inline constexpr int32_t DecodeBufferSize = 1400000;
extern uint8_t DecodeBuffer[DecodeBufferSize];

// The text of the box shown when a payload is missing or unusable; its caption is the payload's name.
extern const char MissingPayloadText[];

// Decodes the record `payload_name` and writes it to `target_path`, whose
// directory must exist, then stamps the file with the record's time.
ExtractResult ExtractPayload(const char* target_path, const char* payload_name);
