// Message boxes on the terminal: the caption on a line of its own, then the
// text with its line breaks, in UTF-8 on standard output. The question reads
// its answer from standard input a line at a time; end of input means the
// question could not be put.

#include <errno.h>
#include <unistd.h>

#include <cstring>

#include "platform/platform.h"

namespace {

void WriteText(const char* text) {
    size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t count = write(STDOUT_FILENO, text, left);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return;
        text += count;
        left -= size_t(count);
    }
}

// Reads one line of standard input, keeping its first `capacity - 1` bytes
// and dropping the rest. Returns false at the end of input when not even part
// of a line was left.
bool ReadLine(char* line, size_t capacity) {
    size_t length = 0;
    bool any = false;
    for (;;) {
        char c;
        const ssize_t count = read(STDIN_FILENO, &c, 1);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        any = true;
        if (c == '\n') break;
        if (length + 1 < capacity) line[length++] = c;
    }
    line[length] = '\0';
    return any;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Whether the line, blanks around it aside, is `word` in any letter case.
bool IsAnswer(const char* line, const char* word) {
    while (IsBlank(*line)) ++line;
    size_t length = std::strlen(line);
    while (length > 0 && IsBlank(line[length - 1])) --length;
    if (length != std::strlen(word)) return false;
    for (size_t i = 0; i < length; ++i) {
        const char c = line[i] >= 'A' && line[i] <= 'Z' ? char(line[i] - 'A' + 'a') : line[i];
        if (c != word[i]) return false;
    }
    return true;
}

} // namespace

DialogAnswer PlatformShowDialog(const char* text, const char* caption, DialogStyle style) {
    WriteText(caption);
    WriteText("\n");
    WriteText(text);
    WriteText("\n");
    char line[64];
    switch (style) {
    case DialogMessage:
        // Someone at a terminal gets to read the box before it goes; a pipe
        // or a file is not kept waiting.
        if (isatty(STDIN_FILENO)) {
            WriteText("Press Enter. ");
            ReadLine(line, sizeof line);
        }
        WriteText("\n");
        return DialogAnswerOk;
    case DialogQuestion:
        // OK is the default button, so an empty line chooses it.
        for (;;) {
            WriteText("OK or Cancel? [OK] ");
            if (!ReadLine(line, sizeof line)) {
                WriteText("\n\n");
                return DialogNoAnswer;
            }
            if (IsAnswer(line, "") || IsAnswer(line, "ok") || IsAnswer(line, "y")) {
                WriteText("\n");
                return DialogAnswerOk;
            }
            if (IsAnswer(line, "cancel") || IsAnswer(line, "c") || IsAnswer(line, "n")) {
                WriteText("\n");
                return DialogAnswerCancel;
            }
        }
    }
    return DialogNoAnswer;
}
