// The Win32 side of platform.h. The core speaks UTF-8; Windows' ANSI calls
// would read it in the system's code page and show Japanese as garbage on any
// system whose code page is not 932, so every call here is the wide one and
// strings are converted to UTF-16 at this boundary, into fixed buffers.

#include "platform/platform.h"

#include <windows.h>

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

namespace {

// A UTF-8 string of n bytes never needs more than n UTF-16 units, so a path
// that fits the core's 260-byte buffers fits here too.
constexpr int WidePathCapacity = MAX_PATH;
// The longest message text is a few hundred bytes of UTF-8.
constexpr int WideTextCapacity = 1024;

// Seconds from 1601-01-01, where FILETIME counts, to 1970-01-01.
constexpr uint64_t UnixEpochInFileTimeSeconds = 11644473600ull;
constexpr uint64_t FileTimeTicksPerSecond = 10000000ull;

// Converts NUL-terminated UTF-8 into `wide` of `capacity` units. Fails on
// invalid UTF-8 and on text that does not fit: a cut path would name another file.
bool ToWide(const char* utf8, wchar_t* wide, int capacity)
{
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, wide, capacity) > 0;
}

bool IsTextType(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

} // namespace

bool PlatformReadUserSetting(const char* key, const char* value_name, char* buffer, uint32_t capacity)
{
    wchar_t wide_key[WidePathCapacity];
    wchar_t wide_name[WidePathCapacity];
    if (capacity == 0 || !ToWide(key, wide_key, WidePathCapacity) || !ToWide(value_name, wide_name, WidePathCapacity))
        return false;

    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, wide_key, 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;

    // Text arrives as UTF-16, whose every unit becomes at least one UTF-8
    // byte, so a text value that can fit the caller needs at most twice the
    // capacity here; any other type is taken byte for byte and must fit as is.
    static wchar_t raw[WideTextCapacity];
    BYTE* const raw_bytes = reinterpret_cast<BYTE*>(raw);
    DWORD type = REG_NONE;
    DWORD size = 0;
    bool ok = RegQueryValueExW(handle, wide_name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
    uint64_t limit = IsTextType(type) ? 2ull * capacity : capacity;
    ok = ok && size <= limit && size <= sizeof raw &&
         RegQueryValueExW(handle, wide_name, nullptr, &type, raw_bytes, &size) == ERROR_SUCCESS;
    RegCloseKey(handle);
    limit = IsTextType(type) ? 2ull * capacity : capacity;
    if (!ok || size > limit)
        return false;

    if (!IsTextType(type)) {
        CopyMemory(buffer, raw_bytes, size);
        return true;
    }
    // The value's own terminator, if it has one, is converted with the rest.
    const int units = static_cast<int>(size / sizeof(wchar_t));
    if (units == 0)
        return true;
    if (WideCharToMultiByte(CP_UTF8, 0, raw, units, buffer, static_cast<int>(capacity), nullptr, nullptr) == 0) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}

DialogAnswer PlatformShowDialog(const char* text, const char* caption, DialogStyle style)
{
    wchar_t wide_text[WideTextCapacity];
    wchar_t wide_caption[WidePathCapacity];
    if (!ToWide(text, wide_text, WideTextCapacity) || !ToWide(caption, wide_caption, WidePathCapacity))
        return DialogNoAnswer;

    UINT type = MB_OK;
    switch (style) {
    case DialogMessage:
        type = MB_OK;
        break;
    case DialogQuestion:
        type = MB_OKCANCEL | MB_ICONQUESTION | MB_DEFBUTTON1;
        break;
    }
    switch (MessageBoxW(nullptr, wide_text, wide_caption, type)) {
    case 0:
        return DialogNoAnswer;
    case IDOK:
        return DialogAnswerOk;
    default:
        return DialogAnswerCancel;
    }
}

bool PlatformPathExists(const char* path)
{
    wchar_t wide[WidePathCapacity];
    return ToWide(path, wide, WidePathCapacity) && GetFileAttributesW(wide) != INVALID_FILE_ATTRIBUTES;
}

void PlatformMakeDirectory(const char* path)
{
    wchar_t wide[WidePathCapacity];
    if (ToWide(path, wide, WidePathCapacity))
        _wmkdir(wide);
}

bool PlatformFindPayload(const char* name, const uint8_t** record, uint32_t* record_size)
{
    // The store holds each record once, under its upper-case name and the
    // Japanese language; Windows upper-cases a string name before it looks it
    // up, which makes the match case-insensitive.
    wchar_t wide[WidePathCapacity];
    if (!ToWide(name, wide, WidePathCapacity))
        return false;
    HRSRC found = FindResourceExW(nullptr, L"BIN", wide, MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN));
    if (found == nullptr)
        return false;
    HGLOBAL loaded = LoadResource(nullptr, found);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr)
        return false;
    *record = static_cast<const uint8_t*>(bytes);
    *record_size = SizeofResource(nullptr, found);
    return true;
}

int PlatformOpenForWrite(const char* path)
{
    // msvcrt opens with read and write sharing, so other programs are not locked out.
    wchar_t wide[WidePathCapacity];
    if (!ToWide(path, wide, WidePathCapacity))
        return -1;
    return _wopen(wide, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
}

int32_t PlatformWriteFile(int file, const uint8_t* bytes, int32_t count)
{
    if (count < 0)
        return -1;
    return _write(file, bytes, static_cast<unsigned int>(count));
}

void PlatformCloseFile(int file)
{
    _close(file);
}

bool PlatformSetFileTimes(const char* path, int32_t timestamp)
{
    // Times before 1970 are refused, as the C runtime's _utime refuses them;
    // the update's records carry none.
    if (timestamp < 0)
        return false;
    wchar_t wide[WidePathCapacity];
    if (!ToWide(path, wide, WidePathCapacity))
        return false;
    HANDLE file = CreateFileW(wide, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const uint64_t ticks = (static_cast<uint64_t>(timestamp) + UnixEpochInFileTimeSeconds) * FileTimeTicksPerSecond;
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    const bool ok = SetFileTime(file, nullptr, &time, &time) != FALSE;
    CloseHandle(file);
    return ok;
}
