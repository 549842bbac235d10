#include "core/driver/console.h"

#include <string.h>

#include "platform/platform.h"

// Output buffer: flushed at line ends and explicit flush points, so a
// message written character by character still costs one system write
// per flush, not per byte.
static char gOutput[4096];
static size_t gOutputLength;

// Input buffer. Standard input belongs to the extractor alone, so reading
// ahead of the current line loses nothing.
static unsigned char gInput[4096];
static size_t gInputStart, gInputEnd;
static bool gInputEnded;
// A CR ended the last line: an LF that follows it is part of that line end.
// Remembered instead of peeked, so a CR typed at a console never waits for
// a byte that may not come.
static bool gSkipLinefeed;

void ConsoleFlush() {
    if (gOutputLength) PlatformConsoleWrite(gOutput, gOutputLength);
    gOutputLength = 0;
}

void ConsoleWrite(const void* bytes, size_t count) {
    const char* p = (const char*)bytes;
    while (count) {
        if (gOutputLength == sizeof gOutput) ConsoleFlush();
        size_t n = sizeof gOutput - gOutputLength;
        if (n > count) n = count;
        memcpy(gOutput + gOutputLength, p, n);
        gOutputLength += n;
        p += n;
        count -= n;
    }
}

void ConsoleWriteText(const char* text) { ConsoleWrite(text, strlen(text)); }

void ConsoleLineEnd() {
    ConsoleWrite("\r\n", 2);
    ConsoleFlush();
}

static int ReadRawByte() {
    if (gInputStart == gInputEnd) {
        if (gInputEnded) return kConsoleEndOfInput;
        size_t n = PlatformConsoleRead(gInput, sizeof gInput);
        if (n == 0) {
            gInputEnded = true;
            return kConsoleEndOfInput;
        }
        gInputStart = 0;
        gInputEnd = n;
    }
    return gInput[gInputStart++];
}

// The next input byte that is not the LF of a CR LF line end.
static int ReadByte() {
    int c = ReadRawByte();
    if (gSkipLinefeed) {
        gSkipLinefeed = false;
        if (c == '\n') c = ReadRawByte();
    }
    return c;
}

// Reads to the end of the line; appends its bytes to `line` when given.
static void ReadLineInto(ByteString* line) {
    for (;;) {
        int c = ReadByte();
        if (c == kConsoleEndOfInput || c == '\n') return;
        if (c == '\r') {
            gSkipLinefeed = true;
            return;
        }
        if (line) ByteStringAppendByte(line, (char)c);
    }
}

void ConsoleReadLine(ByteString* line) {
    ByteStringClear(line);
    ReadLineInto(line);
}

void ConsoleDiscardLine() { ReadLineInto(nullptr); }

int ConsoleReadAnswer() {
    int c = ReadByte();
    if (c == '\r') {
        gSkipLinefeed = true;
        return c;
    }
    if (c != '\n' && c != kConsoleEndOfInput) ReadLineInto(nullptr);
    return c;
}

void ConsoleReset() {
    gOutputLength = 0;
    gInputStart = gInputEnd = 0;
    gInputEnded = false;
    gSkipLinefeed = false;
}

void EndProcess(int exitCode) {
    ConsoleFlush();
    PlatformExit(exitCode);
}
