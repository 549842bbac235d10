#include "core/driver/directory_of.h"

#include "platform/platform.h"

void DirectoryOf(const char* path, ByteString* folder) {
    const char* end = nullptr;  // just past the last backslash
    for (const char* p = path; *p; p = PlatformCharNext(p))
        if (*p == '\\') end = p + 1;
    ByteStringAssign(folder, path, end ? (size_t)(end - path) : 0);
}
