#pragma once

// The updater's only door to its platform. The core calls these functions and
// nothing else of the operating system; each platform implements them once
// (platform/linux, platform/windows) and tests link a scriptable fake.
//
// Every string is UTF-8, NUL-terminated; paths use the backslash as their
// separator, as on Windows, and each platform maps them onto its own files.

#include <cstdint>

// Reads the value `value_name` of the current user's settings key `key`
// ("Software\Vantor\Quellstorm") into `buffer` of `capacity` bytes, as UTF-8
// bytes with its terminator when the value has one. Returns false when the key
// or the value cannot be read, or when the value needs more than `capacity`
// bytes; `buffer` then holds nothing the caller may use.
bool PlatformReadUserSetting(const char* key, const char* value_name, char* buffer, uint32_t capacity);

enum DialogStyle {
    DialogMessage,  // OK only, no icon
    DialogQuestion, // OK and Cancel, OK the default button, the question icon
};

enum DialogAnswer {
    DialogNoAnswer, // the box could not be shown
    DialogAnswerOk,
    DialogAnswerCancel, // Cancel, or the box was closed
};

// Shows a modal box with no owner and waits until the user dismisses it.
DialogAnswer PlatformShowDialog(const char* text, const char* caption, DialogStyle style);

// Whether anything, file or directory, exists at `path`.
bool PlatformPathExists(const char* path);

// Creates one directory level with the platform's default permissions; an
// existing directory or any failure is left for the later file open to reveal.
void PlatformMakeDirectory(const char* path);

// Finds the payload record `name` in the updater's own store, matching the
// name without regard to letter case. On success `record` and `record_size`
// give the bytes the store really holds for it.
bool PlatformFindPayload(const char* name, const uint8_t** record, uint32_t* record_size);

// Opens `path` write-only in binary mode, creating it readable and writable by
// the user or truncating it; other processes may still read and write it.
// Returns a handle of 0 or more, or -1.
int PlatformOpenForWrite(const char* path);

// Writes `count` bytes in one call; returns how many were stored, or -1.
int32_t PlatformWriteFile(int file, const uint8_t* bytes, int32_t count);

void PlatformCloseFile(int file);

// Sets the last-access and last-write times of the closed file `path` to
// `timestamp` (seconds since 1970-01-01 UTC), leaving its creation time alone.
bool PlatformSetFileTimes(const char* path, int32_t timestamp);
