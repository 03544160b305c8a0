// The payload store: a table of records that the build generates from the
// payload directory, searched by name without regard to letter case.

#include "platform/linux/linux_platform.h"
#include "platform/platform.h"

namespace {

char FoldCase(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

bool SameNameIgnoringCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b)
        if (FoldCase(*a) != FoldCase(*b)) return false;
    return *a == *b;
}

} // namespace

bool PlatformFindPayload(const char* name, const uint8_t** record, uint32_t* record_size) {
    for (int i = 0; i < PayloadStoreSize; ++i) {
        if (!SameNameIgnoringCase(PayloadStore[i].name, name)) continue;
        *record = PayloadStore[i].bytes;
        *record_size = PayloadStore[i].size;
        return true;
    }
    return false;
}
