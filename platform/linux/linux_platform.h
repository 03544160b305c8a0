#pragma once

// The pieces of the Linux platform layer that its tests reach directly. The
// game lives in a Wine prefix: its registry is the prefix's user.reg, its
// drives are the prefix's dosdevices links.

#include <cstddef>
#include <cstdint>

// Finds the value `value_name` of the key `key` (relative to the current user)
// in the text of a Wine user.reg file, `text[0 .. size)`, and stores it in
// `buffer` as RegQueryValueExA would: strings as UTF-8 with their terminator,
// UTF-16 hex(1)/hex(2)/hex(7) data converted likewise, any other data as its
// bytes. Key and value names match without regard to ASCII letter case.
// Returns false when the key or value is absent or malformed, or when the
// value needs more than `capacity` bytes; `buffer` then holds nothing usable.
// Never reads outside the text nor writes outside `buffer[0 .. capacity)`.
bool FindRegistryValue(const char* text, size_t size, const char* key, const char* value_name, char* buffer,
                       uint32_t capacity);

// The Wine prefix in use: $WINEPREFIX, or $HOME/.wine when that is unset or
// empty. Returns false when neither gives a path that fits `capacity`.
bool FindWinePrefix(char* prefix, size_t capacity);

// Maps the Windows path `path` onto the host's file system inside the Wine
// prefix (see paths.cpp for the rules) and writes the host path to
// `host_path` of `capacity` bytes. Returns false when the path cannot be
// mapped: a UNC name, a drive with no link, a result that does not fit.
bool MapWindowsPath(const char* path, char* host_path, size_t capacity);

// One record of the payload store, under its upper-case name. The table is
// generated from the payload directory at build time; tests link their own.
struct StoredPayload {
    const char* name;
    const uint8_t* bytes;
    uint32_t size;
};

extern const StoredPayload PayloadStore[];
extern const int PayloadStoreSize;
