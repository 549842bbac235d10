// DirectoryOf: the folder part of a path, backslash only, character-aware.
#include <gtest/gtest.h>

#include <string>

#include "core/driver/byte_string.h"
#include "core/driver/directory_of.h"

static std::string Dir(const std::string& path) {
    ByteString folder = {};
    DirectoryOf(path.c_str(), &folder);
    std::string result(ByteStringText(&folder), folder.length);
    ByteStringFree(&folder);
    return result;
}

TEST(DirectoryOf, Cases) {
    struct Case { const char* path; const char* folder; } cases[] = {
        {"C:\\a\\b.exe", "C:\\a\\"},
        {"b.exe", ""},
        {"C:b.exe", ""},
        {"C:\\a\\b\\", "C:\\a\\b\\"},
        {"/data/pack.bin", ""},
        {"", ""},
        {"\\\\srv\\share\\x.bin", "\\\\srv\\share\\"},
    };
    for (const Case& c : cases) EXPECT_EQ(Dir(c.path), c.folder) << c.path;
}

TEST(DirectoryOf, WalksWholeCharacters) {
    // POSIX steps UTF-8: a multi-byte character is passed over whole, and an
    // invalid lead byte is one character, so the backslash after it still
    // separates. (The code page 932 case, 0x95 0x5C, runs under wine.)
    EXPECT_EQ(Dir("\xE8\xA1\xA8\\x.bin"), "\xE8\xA1\xA8\\");
    EXPECT_EQ(Dir("\xE5\\x.bin"), "\xE5\\");
}
