// Expansion rules that need no archive: the preload arithmetic and the
// entry names that are refused.
#include <gtest/gtest.h>

#include "core/expansion/entry_record.h"
#include "core/expansion/history_table.h"

TEST(Preload, Table) {
    struct Case { int32_t slotLength, prefixLength, start, length; } cases[] = {
        {0, 0, 0, 0},           {10000, 0, 0, 10000},    {24576, 0, 0, 15360},
        {10000, 100, 0, 10000}, {24576, 100, 0, 15460},  {24576, 5000, 3976, 16384},
        {24576, 24576, 8192, 16384}, {3000, 3000, 0, 3000},
    };
    for (const Case& c : cases) {
        int32_t start = -1, length = -1;
        ComputePreload(c.slotLength, c.prefixLength, &start, &length);
        EXPECT_EQ(start, c.start) << c.slotLength << "/" << c.prefixLength;
        EXPECT_EQ(length, c.length) << c.slotLength << "/" << c.prefixLength;
    }
}

TEST(EntryName, RefusedWhenItWouldLeaveTheTarget) {
    for (const char* name : {"..", "..\\x", "a\\..\\..\\x", "a/../x", "../x", "a\\..", "\\x", "/etc/x",
                             "C:x", "c:\\x", "file.txt:stream", "a\\...\\x", "a\\.. \\x", "CON", "con.txt",
                             "a\\Nul.tar.gz", "aux\\x", "COM1", "lpt9.log", "PRN .txt"})
        EXPECT_FALSE(EntryNameIsSafe(name)) << name;
    for (const char* name : {"a", "a\\b\\c.txt", ".", "docs\\.", "..a", "a..", "a\\.\\b", ".hidden",
                             "a\\..b\\c", "\xE8\xA1\xA8\\x", "console", "COM0", "COM10",
                             "LPT", "nul_", "xcon.txt", "aux-x"})
        EXPECT_TRUE(EntryNameIsSafe(name)) << name;
}
