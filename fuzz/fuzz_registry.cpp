// Feeds arbitrary text to the user.reg parser, into value buffers of exactly
// the capacity offered, so the sanitizers see any read past the text or write
// past the buffer.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/linux/linux_platform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> text(data, data + size);
    for (uint32_t capacity : {260u, 7u, 1u}) {
        std::vector<char> buffer(capacity);
        FindRegistryValue(text.data(), text.size(), "Software\\Vantor\\Quellstorm", "DataDir", buffer.data(), capacity);
    }
    return 0;
}
