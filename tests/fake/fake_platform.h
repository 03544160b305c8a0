#pragma once

// A scriptable platform for tests of the core. Tests set up `Fake` (after
// ResetFake) with what the platform should answer; the fake records every
// dialog and every file operation in order. It keeps everything in fixed
// arrays and never allocates, so a test can also prove that the flow does not.

#include <cstdint>

#include "platform/platform.h"

struct FakeDialog {
    char text[512];
    char caption[128];
    DialogStyle style;
};

struct FakePayload {
    const char* name; // as the store keeps it
    const uint8_t* record;
    uint32_t record_size;
};

struct FakeState {
    // The registry value: absent when `setting_present` is false; otherwise
    // `setting_size` bytes, not necessarily terminated.
    bool setting_present;
    char setting[400];
    uint32_t setting_size;

    DialogAnswer question_answer;

    const char* existing_paths[4]; // PlatformPathExists answers true for these
    FakePayload payloads[64];
    int payload_count;

    const char* unopenable_path;   // PlatformOpenForWrite fails for it
    const char* short_write_path;  // PlatformWriteFile stores one byte fewer for it

    FakeDialog dialogs[16];
    int dialog_count;

    // "mkdir PATH", "open PATH", "write PATH N", "close PATH", "times PATH T"
    char events[256][320];
    int event_count;
};

extern FakeState Fake;

void ResetFake();

// Adds a payload to the fake store.
void AddFakePayload(const char* name, const uint8_t* record, uint32_t record_size);

// Sets the registry value to `value` with its terminator.
void SetFakeDataDir(const char* value);
