#include "core/expansion/make_folders.h"

#include <string.h>

#include "core/driver/byte_string.h"
#include "core/driver/console.h"
#include "platform/platform.h"

[[noreturn]] static void CannotMakeFolder(const char* prefix) {
    ConsoleWriteText("Cannot make folder : ");
    ConsoleWriteText(prefix);
    ConsoleWrite(&kBell, 1);
    ConsoleLineEnd();
    EndProcess(2);
}

void MakeFolders(const char* folderPath) {
    if (!*folderPath) return;
    ByteString path = {};
    ByteStringAppendText(&path, folderPath);
    // Find the last character: a trail byte of 0x5C is no backslash.
    const char* last = path.bytes;
    for (const char* p = path.bytes; *p; p = PlatformCharNext(p)) last = p;
    if (*last != '\\') ByteStringAppendByte(&path, '\\');

    char* text = path.bytes;
    const char* previous = nullptr;  // the character before the current one
    const char* p = text;
    if (text[0] == '\\' && text[1] == '\\') {
        // \\server\share\...: the server part is never tested.
        p = text + 2;
        if (!*p) goto done;
        while (*p && *p != '\\') p = PlatformCharNext(p);
        if (!*p) goto done;
        previous = p;
        p = PlatformCharNext(p);
    }
    while (*p) {
        while (*p != '\\') {
            previous = p;
            p = PlatformCharNext(p);
        }
        if (previous && *previous != ':') {
            // The prefix ends just before this backslash.
            char* end = (char*)p;
            *end = 0;
            uint32_t attributes = PlatformFileAttributes(text);
            if (attributes == kPlatformNoAttributes) {
                if (!PlatformCreateFolder(text)) CannotMakeFolder(text);
            } else if (!(attributes & kPlatformAttributeDirectory)) {
                CannotMakeFolder(text);
            }
            *end = '\\';
        }
        previous = p;
        p = PlatformCharNext(p);
    }
done:
    ByteStringFree(&path);
}
