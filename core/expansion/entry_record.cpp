#include "core/expansion/entry_record.h"

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

bool EntryNameIsSafe(const char* name) {
    if (IsSeparator(name[0])) return false;
    const char* component = name;
    for (const char* p = name;; p = PlatformCharNext(p)) {
        if (*p == ':') return false;
        if (*p == 0 || IsSeparator(*p)) {
            if (IsParentComponent(component, p)) return false;
            if (*p == 0) return true;
            component = p + 1;
        }
    }
}
