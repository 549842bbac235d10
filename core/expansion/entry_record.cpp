#include "core/expansion/entry_record.h"

#include <string.h>

#include "core/container/block_stream.h"

void ReadEntryName(EntryRecord* record) {
    uint8_t b;
    NextStreamByte(&b);
    ByteStringTruncate(&record->name, b);
    for (;;) {
        NextStreamByte(&b);
        if (b == 0) break;
        ByteStringAppendByte(&record->name, (char)b);
    }
}

bool IsFolderName(const ByteString* fullName) {
    size_t n = fullName->length;
    return n >= 2 && fullName->bytes[n - 2] == '\\' && fullName->bytes[n - 1] == '.';
}

static void ReadFileTime(FileTime* time) {
    uint8_t b[8];
    for (int i = 0; i < 8; i++) NextStreamByte(&b[i]);
    time->lowDateTime = (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24;
    time->highDateTime = (uint32_t)b[4] | (uint32_t)b[5] << 8 | (uint32_t)b[6] << 16 | (uint32_t)b[7] << 24;
}

void ReadEntryHeader(EntryRecord* record, BitReader* bits) {
    ReadFileTime(&record->creationTime);
    ReadFileTime(&record->lastAccessTime);
    ReadFileTime(&record->lastWriteTime);
    ResetBitReader(bits);
    record->entrySize = (int64_t)NextInteger(bits);
    record->backReference = (uint32_t)(NextInteger(bits) & 0xFF);
    record->prefixLength = 0;
    if (record->backReference != 0)
        record->prefixLength = (int32_t)((uint32_t)NextInteger(bits) + 1u);
}

static bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// "..", and what Windows may read as ".." once it drops a component's
// trailing dots and blanks ("...", ".. ").
static bool IsParentComponent(const char* begin, const char* end) {
    int dots = 0;
    for (const char* p = begin; p < end; p++) {
        if (*p == '.') dots++;
        else if (*p != ' ') return false;
    }
    return dots >= 2;
}

static char Upper(char c) { return c >= 'a' && c <= 'z' ? (char)(c - ('a' - 'A')) : c; }

// CON, PRN, AUX, NUL, COM1..COM9, LPT1..LPT9, with any extension and
// trailing blanks: Windows opens the device, not a file in the folder.
static bool IsDeviceComponent(const char* begin, const char* end) {
    const char* stem = begin;
    while (stem < end && *stem != '.') stem++;
    while (stem > begin && stem[-1] == ' ') stem--;
    char name[5] = {};
    size_t length = (size_t)(stem - begin);
    if (length < 3 || length > 4) return false;
    for (size_t i = 0; i < length; i++) name[i] = Upper(begin[i]);
    if (length == 3)
        return !strcmp(name, "CON") || !strcmp(name, "PRN") || !strcmp(name, "AUX") || !strcmp(name, "NUL");
    return (!strncmp(name, "COM", 3) || !strncmp(name, "LPT", 3)) && name[3] >= '1' && name[3] <= '9';
}

bool EntryNameIsSafe(const char* name) {
    if (IsSeparator(name[0])) return false;
    const char* component = name;
    for (const char* p = name;; p = PlatformCharNext(p)) {
        if (*p == ':') return false;
        if (*p == 0 || IsSeparator(*p)) {
            if (IsParentComponent(component, p) || IsDeviceComponent(component, p)) return false;
            if (*p == 0) return true;
            component = p + 1;
        }
    }
}
