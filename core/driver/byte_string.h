// ByteString: the extractor's one string type.
//
// Entry names, paths, the run command and the password are byte strings in
// the system's ANSI code page with no length limit. The buffer is malloc'd
// and always NUL-terminated, so it can be handed to the platform layer as is.
// An allocation failure ends the process through FatalExit: nothing else
// would be sound in the middle of an expansion.
#pragma once

#include <stddef.h>

struct ByteString {
    char* bytes;      // NUL-terminated; null until the first append
    size_t length;    // bytes before the terminating NUL
    size_t capacity;  // allocated bytes, the NUL included
};

void ByteStringClear(ByteString* s);                                  // length 0, keeps memory
void ByteStringFree(ByteString* s);                                   // releases memory
void ByteStringAppendByte(ByteString* s, char c);
void ByteStringAppend(ByteString* s, const char* bytes, size_t count);
void ByteStringAppendText(ByteString* s, const char* text);           // NUL-terminated
void ByteStringAssign(ByteString* s, const char* bytes, size_t count);
void ByteStringTruncate(ByteString* s, size_t length);                // length <= s->length
const char* ByteStringText(const ByteString* s);                      // "" while empty
