/*
 * The current user's settings, read from the Wine prefix's user.reg.
 *
 * The file is text. Each key is a section, its name relative to the current
 * user, escaped as the strings below, maybe followed by a timestamp:
 *
 *   [Software\\Vantor\\Quellstorm] 1700000000
 *   #time=1d9c0a4b3e2f1a0
 *   "DataDir"="C:\\Games\\Quellstorm\\"
 *   "Other"=str(2):"%ProgramFiles%\\x"
 *   "Raw"=hex:01,02,03,\
 *     04,05
 *   "Wide"=hex(2):43,00,3a,00,00,00
 *   "Number"=dword:00000001
 *   @="the default value, never ours"
 *
 * Escapes in names and strings: \\ \" and any other character after a
 * backslash stand for that character; \a \b \t \n \v \f \r \e are the C
 * controls; \x takes up to four hex digits as one UTF-16 unit (a surrogate
 * pair is two such units); a backslash and up to three octal digits is one
 * unit. Wine writes every non-ASCII character as \x; bytes of 0x80 and above
 * that a person typed are taken as the UTF-8 they are.
 */

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "platform/linux/linux_platform.h"
#include "platform/platform.h"

namespace {

// Bytes written into a bounded buffer; what does not fit is counted, not stored.
struct ByteSink {
    char* buffer;
    uint32_t capacity;
    uint32_t length;
    bool overflow;
    uint32_t high_surrogate; // a UTF-16 high surrogate waiting for its low half, or 0
};

void PutByte(ByteSink* sink, uint8_t byte) {
    if (sink->length < sink->capacity)
        sink->buffer[sink->length++] = char(byte);
    else
        sink->overflow = true;
}

void PutCodePoint(ByteSink* sink, uint32_t code_point) {
    if (code_point < 0x80) {
        PutByte(sink, uint8_t(code_point));
    } else if (code_point < 0x800) {
        PutByte(sink, uint8_t(0xC0 | (code_point >> 6)));
        PutByte(sink, uint8_t(0x80 | (code_point & 0x3F)));
    } else if (code_point < 0x10000) {
        PutByte(sink, uint8_t(0xE0 | (code_point >> 12)));
        PutByte(sink, uint8_t(0x80 | ((code_point >> 6) & 0x3F)));
        PutByte(sink, uint8_t(0x80 | (code_point & 0x3F)));
    } else {
        PutByte(sink, uint8_t(0xF0 | (code_point >> 18)));
        PutByte(sink, uint8_t(0x80 | ((code_point >> 12) & 0x3F)));
        PutByte(sink, uint8_t(0x80 | ((code_point >> 6) & 0x3F)));
        PutByte(sink, uint8_t(0x80 | (code_point & 0x3F)));
    }
}

// A half of a surrogate pair without its partner becomes U+FFFD, as Windows
// converts it to UTF-8.
void FlushSurrogate(ByteSink* sink) {
    if (sink->high_surrogate != 0) PutCodePoint(sink, 0xFFFD);
    sink->high_surrogate = 0;
}

void PutUtf16Unit(ByteSink* sink, uint32_t unit) {
    if (unit >= 0xDC00 && unit <= 0xDFFF && sink->high_surrogate != 0) {
        PutCodePoint(sink, 0x10000 + ((sink->high_surrogate - 0xD800) << 10) + (unit - 0xDC00));
        sink->high_surrogate = 0;
        return;
    }
    FlushSurrogate(sink);
    if (unit >= 0xD800 && unit <= 0xDBFF)
        sink->high_surrogate = unit;
    else if (unit >= 0xDC00 && unit <= 0xDFFF)
        PutCodePoint(sink, 0xFFFD);
    else
        PutCodePoint(sink, unit);
}

void PutRawByte(ByteSink* sink, uint8_t byte) {
    FlushSurrogate(sink);
    PutByte(sink, byte);
}

// A read position that never passes `end`.
struct Cursor {
    const char* at;
    const char* end;
};

bool AtEnd(const Cursor& cursor) { return cursor.at >= cursor.end; }
char Peek(const Cursor& cursor) { return AtEnd(cursor) ? '\0' : *cursor.at; }

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads an escaped string up to its unescaped `terminator`, which is consumed.
// A line break or the end of the text before it makes the string malformed.
bool ReadEscapedString(Cursor* cursor, char terminator, ByteSink* sink) {
    while (!AtEnd(*cursor)) {
        const char c = *cursor->at++;
        if (c == terminator) {
            FlushSurrogate(sink);
            return true;
        }
        if (c == '\n' || c == '\r') return false;
        if (c != '\\') {
            PutRawByte(sink, uint8_t(c));
            continue;
        }
        if (AtEnd(*cursor)) return false;
        const char escaped = *cursor->at++;
        switch (escaped) {
        case 'a': PutUtf16Unit(sink, 7); break;
        case 'b': PutUtf16Unit(sink, 8); break;
        case 't': PutUtf16Unit(sink, 9); break;
        case 'n': PutUtf16Unit(sink, 10); break;
        case 'v': PutUtf16Unit(sink, 11); break;
        case 'f': PutUtf16Unit(sink, 12); break;
        case 'r': PutUtf16Unit(sink, 13); break;
        case 'e': PutUtf16Unit(sink, 27); break;
        case '\n':
        case '\r': return false;
        case 'x': {
            uint32_t unit = 0;
            int digits = 0;
            for (; digits < 4 && HexDigitValue(Peek(*cursor)) >= 0; ++digits)
                unit = unit * 16 + uint32_t(HexDigitValue(*cursor->at++));
            // "\x" with no digit after it is the letter itself.
            PutUtf16Unit(sink, digits == 0 ? 'x' : unit);
            break;
        }
        default:
            if (escaped >= '0' && escaped <= '7') {
                uint32_t unit = uint32_t(escaped - '0');
                for (int digits = 1; digits < 3 && Peek(*cursor) >= '0' && Peek(*cursor) <= '7'; ++digits)
                    unit = unit * 8 + uint32_t(*cursor->at++ - '0');
                PutUtf16Unit(sink, unit);
            } else {
                PutRawByte(sink, uint8_t(escaped));
            }
        }
    }
    return false;
}

// Reads a comma-separated list of hex bytes to the end of its line; a
// backslash at the end of a line continues the list on the next one.
// `wide` takes the bytes as UTF-16LE text and stores it as UTF-8.
bool ReadHexList(Cursor* cursor, bool wide, ByteSink* sink) {
    uint32_t low_byte = 0;
    bool have_low_byte = false;
    bool need_byte = true; // no list ends on a comma
    bool first = true;
    while (!AtEnd(*cursor)) {
        const char c = Peek(*cursor);
        if (c == ' ' || c == '\t' || c == '\r') {
            ++cursor->at;
        } else if (c == '\n') {
            break;
        } else if (c == '\\') {
            // A continuation: the backslash ends its line, the list goes on.
            ++cursor->at;
            while (Peek(*cursor) == ' ' || Peek(*cursor) == '\t' || Peek(*cursor) == '\r') ++cursor->at;
            if (Peek(*cursor) != '\n') return false;
            ++cursor->at;
        } else if (c == ',') {
            if (need_byte) return false;
            need_byte = true;
            ++cursor->at;
        } else {
            if (!need_byte) return false;
            uint32_t byte = 0;
            int digits = 0;
            for (; digits < 2 && HexDigitValue(Peek(*cursor)) >= 0; ++digits)
                byte = byte * 16 + uint32_t(HexDigitValue(*cursor->at++));
            if (digits == 0) return false;
            need_byte = false;
            first = false;
            if (!wide) {
                PutRawByte(sink, uint8_t(byte));
            } else if (have_low_byte) {
                PutUtf16Unit(sink, low_byte | byte << 8);
                have_low_byte = false;
            } else {
                low_byte = byte;
                have_low_byte = true;
            }
        }
    }
    if (need_byte && !first) return false;
    // An odd last byte is half a character and is dropped.
    FlushSurrogate(sink);
    return true;
}

bool ReadDword(Cursor* cursor, ByteSink* sink) {
    uint32_t value = 0;
    int digits = 0;
    for (; digits < 8 && HexDigitValue(Peek(*cursor)) >= 0; ++digits)
        value = value * 16 + uint32_t(HexDigitValue(*cursor->at++));
    if (digits == 0) return false;
    for (int shift = 0; shift < 32; shift += 8) PutRawByte(sink, uint8_t(value >> shift));
    return true;
}

bool SkipLiteral(Cursor* cursor, const char* literal) {
    const size_t length = std::strlen(literal);
    if (size_t(cursor->end - cursor->at) < length || std::memcmp(cursor->at, literal, length) != 0) return false;
    cursor->at += length;
    return true;
}

// Reads the data after "=" of a value line.
bool ReadValueData(Cursor* cursor, ByteSink* sink) {
    if (Peek(*cursor) == '"') {
        ++cursor->at;
        if (!ReadEscapedString(cursor, '"', sink)) return false;
        PutByte(sink, 0);
        return true;
    }
    if (SkipLiteral(cursor, "str(")) {
        // Any string type is taken as it stands: an expandable string is not expanded.
        while (HexDigitValue(Peek(*cursor)) >= 0) ++cursor->at;
        if (!SkipLiteral(cursor, "):\"")) return false;
        if (!ReadEscapedString(cursor, '"', sink)) return false;
        PutByte(sink, 0);
        return true;
    }
    if (SkipLiteral(cursor, "hex:")) return ReadHexList(cursor, false, sink);
    if (SkipLiteral(cursor, "hex(")) {
        uint32_t type = 0;
        int digits = 0;
        for (; digits < 8 && HexDigitValue(Peek(*cursor)) >= 0; ++digits)
            type = type * 16 + uint32_t(HexDigitValue(*cursor->at++));
        if (digits == 0 || !SkipLiteral(cursor, "):")) return false;
        // REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ hold UTF-16 text.
        const bool wide = type == 1 || type == 2 || type == 7;
        return ReadHexList(cursor, wide, sink);
    }
    if (SkipLiteral(cursor, "dword:")) return ReadDword(cursor, sink);
    return false;
}

char FoldCase(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool SameNameIgnoringCase(const char* name, uint32_t length, const char* wanted) {
    if (std::strlen(wanted) != length) return false;
    for (uint32_t i = 0; i < length; ++i)
        if (FoldCase(name[i]) != FoldCase(wanted[i])) return false;
    return true;
}

// Reads an escaped name up to `terminator` and tells whether it is `wanted`.
// A name too long for the scratch buffer cannot be any name we look for.
bool ReadNameMatches(Cursor* cursor, char terminator, const char* wanted, bool* matches) {
    char name[1024];
    ByteSink sink{name, sizeof name, 0, false, 0};
    if (!ReadEscapedString(cursor, terminator, &sink)) return false;
    *matches = !sink.overflow && SameNameIgnoringCase(name, sink.length, wanted);
    return true;
}

void SkipToNextLine(Cursor* cursor) {
    const void* newline = std::memchr(cursor->at, '\n', size_t(cursor->end - cursor->at));
    cursor->at = newline != nullptr ? static_cast<const char*>(newline) + 1 : cursor->end;
}

// The user.reg of a prefix that is in use rarely passes a few megabytes; a
// larger one is not read at all rather than read in part.
constexpr size_t RegistryFileLimit = 32u << 20;
char RegistryText[RegistryFileLimit];

// Reads the whole file into RegistryText; false when it is missing, unreadable or too large.
bool ReadRegistryFile(const char* path, size_t* size) {
    const int file = open(path, O_RDONLY | O_CLOEXEC);
    if (file < 0) return false;
    size_t length = 0;
    bool complete = false;
    for (;;) {
        if (length == RegistryFileLimit) {
            char probe;
            complete = read(file, &probe, 1) == 0;
            break;
        }
        const ssize_t count = read(file, RegistryText + length, RegistryFileLimit - length);
        if (count < 0) break;
        if (count == 0) {
            complete = true;
            break;
        }
        length += size_t(count);
    }
    close(file);
    *size = length;
    return complete;
}

} // namespace

bool FindRegistryValue(const char* text, size_t size, const char* key, const char* value_name, char* buffer,
                       uint32_t capacity) {
    Cursor cursor{text, text + size};
    bool in_key = false;
    while (!AtEnd(cursor)) {
        while (Peek(cursor) == ' ' || Peek(cursor) == '\t') ++cursor.at;
        const char first = Peek(cursor);
        if (first == '[') {
            ++cursor.at;
            bool matches = false;
            in_key = ReadNameMatches(&cursor, ']', key, &matches) && matches;
        } else if (first == '"' && in_key) {
            ++cursor.at;
            bool matches = false;
            if (ReadNameMatches(&cursor, '"', value_name, &matches) && matches && SkipLiteral(&cursor, "=")) {
                ByteSink sink{buffer, capacity, 0, false, 0};
                return ReadValueData(&cursor, &sink) && !sink.overflow;
            }
        }
        SkipToNextLine(&cursor);
    }
    return false;
}

bool PlatformReadUserSetting(const char* key, const char* value_name, char* buffer, uint32_t capacity) {
    char path[4096];
    const char file_name[] = "/user.reg";
    if (!FindWinePrefix(path, sizeof path - (sizeof file_name - 1))) return false;
    std::memcpy(path + std::strlen(path), file_name, sizeof file_name);
    size_t size = 0;
    if (!ReadRegistryFile(path, &size)) return false;
    return FindRegistryValue(RegistryText, size, key, value_name, buffer, capacity);
}
