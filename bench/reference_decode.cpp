#include "bench/reference_decode.h"

#include "payload/decode.h"

int32_t ReferenceDecodePayload(uint8_t* output, int32_t capacity, const uint8_t* packed, int32_t packed_size) {
    int32_t left = packed_size;
    int32_t in = 0;
    int32_t produced = 0;
    uint32_t flags = 0;
    // Takes the next packed byte into `value`, or says there is none.
    auto take = [&](uint32_t* value) {
        if (left <= 0) {
            return false;
        }
        *value = packed[in++];
        --left;
        return true;
    };
    while (left > 0) {
        // Bits 8-15 mark how many items the current flag byte still serves.
        flags >>= 1;
        if ((flags & 0x100) == 0) {
            uint32_t flag_byte = 0;
            take(&flag_byte);
            flags = 0xFF00 | flag_byte;
            if (left == 0) {
                break; // a flag byte that ends the stream describes no item
            }
        }
        uint32_t opcode = 0;
        take(&opcode);
        if (flags & 1) {
            if (produced >= capacity) {
                return PayloadOutputOverflow;
            }
            output[produced++] = uint8_t(opcode);
            continue;
        }
        uint32_t length = 0;
        uint32_t offset = 0;
        uint32_t b0 = 0, b1 = 0, b2 = 0, b3 = 0;
        if (opcode >= 0xC0) {
            if (!take(&b0)) {
                return PayloadTruncatedItem;
            }
            length = ((opcode >> 2) & 0x0F) + 4;
            offset = (opcode & 0x03) << 8 | b0;
        } else if (opcode >= 0x80) {
            length = (opcode & 0x20) != 0 ? 3 : 2;
            offset = opcode & 0x1F;
            if (offset == 0 && !take(&offset)) {
                return PayloadTruncatedItem;
            }
        } else if (opcode == 0x7F) {
            if (!take(&b0) || !take(&b1) || !take(&b2) || !take(&b3)) {
                return PayloadTruncatedItem;
            }
            length = (b0 | b1 << 8) + 2;
            offset = b2 | b3 << 8;
        } else {
            if (!take(&b0) || !take(&b1)) {
                return PayloadTruncatedItem;
            }
            length = opcode + 4;
            offset = b0 | b1 << 8;
        }
        if (offset == 0) {
            return PayloadZeroOffset;
        }
        if (offset > uint32_t(produced)) {
            return PayloadOffsetBeforeStart;
        }
        for (uint32_t i = 0; i < length; ++i) {
            if (produced >= capacity) {
                return PayloadOutputOverflow;
            }
            output[produced] = output[produced - int32_t(offset)];
            ++produced;
        }
    }
    return produced;
}
