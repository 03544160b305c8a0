#pragma once

#include <cstdint>

// The packed-stream decoder written as literally as the format reads: the
// flag register shifted once per item, every byte read and every byte
// produced on its own, each behind its own bounds check. It is the yardstick
// that DecodePayload's speed is measured against; its results and faults are
// DecodePayload's (a decoded count, or a negative PayloadFault).
int32_t ReferenceDecodePayload(uint8_t* output, int32_t capacity, const uint8_t* packed, int32_t packed_size);
