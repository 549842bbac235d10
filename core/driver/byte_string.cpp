#include "core/driver/byte_string.h"

#include <stdlib.h>
#include <string.h>

#include "core/driver/fatal_exit.h"

// Makes room for `extra` more bytes and the NUL; grows by half again so that
// appending byte by byte (names, the message) stays linear.
static void Reserve(ByteString* s, size_t extra) {
    if (extra > ((size_t)-1) / 2 - s->length) FatalExit();
    size_t needed = s->length + extra + 1;
    if (needed <= s->capacity) return;
    size_t capacity = s->capacity + s->capacity / 2;
    if (capacity < needed) capacity = needed;
    if (capacity < 32) capacity = 32;
    char* bytes = (char*)realloc(s->bytes, capacity);
    if (!bytes) FatalExit();
    s->bytes = bytes;
    s->capacity = capacity;
}

void ByteStringClear(ByteString* s) {
    s->length = 0;
    if (s->bytes) s->bytes[0] = 0;
}

void ByteStringFree(ByteString* s) {
    free(s->bytes);
    s->bytes = nullptr;
    s->length = 0;
    s->capacity = 0;
}

void ByteStringAppendByte(ByteString* s, char c) {
    Reserve(s, 1);
    s->bytes[s->length++] = c;
    s->bytes[s->length] = 0;
}

void ByteStringAppend(ByteString* s, const char* bytes, size_t count) {
    Reserve(s, count);
    if (count) memcpy(s->bytes + s->length, bytes, count);
    s->length += count;
    s->bytes[s->length] = 0;
}

void ByteStringAppendText(ByteString* s, const char* text) { ByteStringAppend(s, text, strlen(text)); }

void ByteStringAssign(ByteString* s, const char* bytes, size_t count) {
    ByteStringClear(s);
    ByteStringAppend(s, bytes, count);
}

void ByteStringTruncate(ByteString* s, size_t length) {
    if (length >= s->length) return;
    s->length = length;
    s->bytes[length] = 0;
}

const char* ByteStringText(const ByteString* s) { return s->bytes ? s->bytes : ""; }
