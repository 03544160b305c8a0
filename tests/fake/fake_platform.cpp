#include "tests/fake/fake_platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

FakeState Fake;

namespace {

// Open files are numbered by the path they were opened with.
const char* OpenPaths[8];

void Record(const char* format, const char* path, long number) {
    if (Fake.event_count >= int(sizeof Fake.events / sizeof Fake.events[0])) return;
    std::snprintf(Fake.events[Fake.event_count++], sizeof Fake.events[0], format, path, number);
}

void CopyText(char* to, size_t capacity, const char* from) {
    std::snprintf(to, capacity, "%s", from);
}

} // namespace

void ResetFake() {
    std::memset(&Fake, 0, sizeof Fake);
    std::memset(OpenPaths, 0, sizeof OpenPaths);
    Fake.question_answer = DialogAnswerOk;
}

void AddFakePayload(const char* name, const uint8_t* record, uint32_t record_size) {
    if (Fake.payload_count == int(sizeof Fake.payloads / sizeof Fake.payloads[0])) std::abort();
    Fake.payloads[Fake.payload_count++] = {name, record, record_size};
}

void SetFakeDataDir(const char* value) {
    Fake.setting_present = true;
    Fake.setting_size = uint32_t(std::strlen(value) + 1);
    std::memcpy(Fake.setting, value, Fake.setting_size);
}

bool PlatformReadUserSetting(const char* key, const char* value_name, char* buffer, uint32_t capacity) {
    if (std::strcmp(key, "Software\\Vantor\\Quellstorm") != 0 || std::strcmp(value_name, "DataDir") != 0) return false;
    if (!Fake.setting_present || Fake.setting_size > capacity) return false;
    std::memcpy(buffer, Fake.setting, Fake.setting_size);
    return true;
}

DialogAnswer PlatformShowDialog(const char* text, const char* caption, DialogStyle style) {
    if (Fake.dialog_count < int(sizeof Fake.dialogs / sizeof Fake.dialogs[0])) {
        FakeDialog& dialog = Fake.dialogs[Fake.dialog_count++];
        CopyText(dialog.text, sizeof dialog.text, text);
        CopyText(dialog.caption, sizeof dialog.caption, caption);
        dialog.style = style;
    }
    return style == DialogQuestion ? Fake.question_answer : DialogAnswerOk;
}

bool PlatformPathExists(const char* path) {
    for (const char* existing : Fake.existing_paths)
        if (existing != nullptr && std::strcmp(existing, path) == 0) return true;
    return false;
}

void PlatformMakeDirectory(const char* path) { Record("mkdir %s", path, 0); }

bool PlatformFindPayload(const char* name, const uint8_t** record, uint32_t* record_size) {
    for (int i = 0; i < Fake.payload_count; ++i) {
        if (strcasecmp(Fake.payloads[i].name, name) == 0) {
            *record = Fake.payloads[i].record;
            *record_size = Fake.payloads[i].record_size;
            return true;
        }
    }
    return false;
}

int PlatformOpenForWrite(const char* path) {
    if (Fake.unopenable_path != nullptr && std::strcmp(Fake.unopenable_path, path) == 0) return -1;
    Record("open %s", path, 0);
    for (int file = 0; file < int(sizeof OpenPaths / sizeof OpenPaths[0]); ++file) {
        if (OpenPaths[file] == nullptr) {
            OpenPaths[file] = path;
            return file;
        }
    }
    return -1;
}

int32_t PlatformWriteFile(int file, const uint8_t*, int32_t count) {
    const char* path = OpenPaths[file];
    const bool short_write = Fake.short_write_path != nullptr && std::strcmp(Fake.short_write_path, path) == 0;
    const int32_t written = short_write && count > 0 ? count - 1 : count;
    Record("write %s %ld", path, written);
    return written;
}

void PlatformCloseFile(int file) {
    Record("close %s", OpenPaths[file], 0);
    OpenPaths[file] = nullptr;
}

bool PlatformSetFileTimes(const char* path, int32_t timestamp) {
    Record("times %s %ld", path, timestamp);
    return true;
}
