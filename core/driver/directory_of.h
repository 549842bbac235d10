// DirectoryOf: the folder part of a path.
//
// The backslash is the only separator, and only where a character starts:
// the path is walked with the system's multi-byte-aware step, so the second
// byte of a double-byte character (0x5C in code page 932 is a common one)
// is never taken for a separator. Forward slashes and the colon of a drive
// are not separators.
#pragma once

#include "core/driver/byte_string.h"

// `folder` := the path up to and including its last backslash, or empty.
void DirectoryOf(const char* path, ByteString* folder);
