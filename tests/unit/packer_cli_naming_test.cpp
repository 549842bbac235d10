// The packer's inputs: code pages, the walk of the file tree, content
// classes and the order of the entries.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "packer/codepage.h"
#include "packer/file_order.h"
#include "packer/file_tree.h"
#include "tests/support/run_program.h"

namespace fs = std::filesystem;

TEST(PackerCodePage, ConvertsStrictlyBothWays) {
    struct Case {
        const char* utf8;
        CodePage page;
        const char* stored;  // nullptr: does not fit
    };
    const Case cases[] = {
        {"plain.txt", CodePage::kWindows1252, "plain.txt"},
        {"caf\xC3\xA9 \xE2\x82\xAC", CodePage::kWindows1252, "caf\xE9 \x80"},
        {"\xE6\x97\xA5", CodePage::kWindows1252, nullptr},
        {"\xE3\x82\xBD", CodePage::kShiftJis932, "\x83\x5C"},  // the trail byte is a backslash
        {"\xE2\x82\xAC", CodePage::kShiftJis932, nullptr},
        {"\xE6\x97\xA5", CodePage::kUtf8, "\xE6\x97\xA5"},
        {"bad \xC3", CodePage::kUtf8, nullptr},
        {"bad \xC3", CodePage::kWindows1252, nullptr},
    };
    for (const Case& c : cases) {
        std::optional<std::string> stored = FromUtf8(c.utf8, c.page);
        if (!c.stored) {
            EXPECT_FALSE(stored) << c.utf8;
            continue;
        }
        ASSERT_TRUE(stored) << c.utf8;
        EXPECT_EQ(*stored, c.stored);
        EXPECT_EQ(ToUtf8(*stored, c.page).value_or("?"), c.utf8);
    }
    // 0x81 has no character in 1252.
    EXPECT_FALSE(ToUtf8("\x81", CodePage::kWindows1252));
    EXPECT_EQ(ParseCodePage("932"), CodePage::kShiftJis932);
    EXPECT_FALSE(ParseCodePage("437"));
}

TEST(PackerContentClass, FromTheFirstBytes) {
    auto of = [](const std::string& s) { return ContentClassOf(reinterpret_cast<const uint8_t*>(s.data()), s.size()); };
    EXPECT_EQ(of(""), 0);
    EXPECT_EQ(of("\x7F" "ELF\x02"), 1);
    EXPECT_EQ(of("MZ\x90"), 2);
    EXPECT_EQ(of("\x1F\x8B\x08"), 3);
    EXPECT_EQ(of("\xFD" "7zXZ"), 4);
    EXPECT_EQ(of("#include <a.h>\r\n\tint x;\f"), 5);
    EXPECT_EQ(of(std::string("text\0binary", 11)), 6);
}

TEST(PackerFileOrder, ByExtensionThenKindThenName) {
    EXPECT_EQ(ExtensionOf("a\\b.dir\\File.TXT"), "txt");
    EXPECT_EQ(ExtensionOf("a\\.profile"), "");
    EXPECT_EQ(ExtensionOf("a.b\\noext"), "");
    std::vector<InputEntry> entries;
    auto add = [&](const char* name, int kind, bool folder = false) {
        InputEntry e;
        e.name = name;
        e.contentClass = kind;
        e.isFolder = folder;
        entries.push_back(e);
    };
    add("z\\empty", 0, true);
    add("b\\readme.txt", 5);
    add("a\\zz.h", 5);
    add("c\\tool", 1);
    add("a\\vector", 5);
    add("a\\readme.txt", 5);
    add("b\\ls", 1);
    OrderForCompression(entries);
    std::vector<std::string> names;
    for (const InputEntry& e : entries) names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{"b\\ls", "c\\tool", "a\\vector", "a\\zz.h", "a\\readme.txt",
                                               "b\\readme.txt", "z\\empty"}));
}

TEST(PackerFileTree, NamesFilesAndEmptyFolders) {
    std::string dir = MakeTempDir("packer-tree-walk");
    fs::create_directories(dir + "/top/sub/empty");
    fs::create_directories(dir + "/top/full");
    std::ofstream(dir + "/top/full/b.txt") << "b";
    std::ofstream(dir + "/top/a.txt") << "aa";
    std::ofstream(dir + "/single.bin") << "s";
    std::string saved = fs::current_path();
    ASSERT_EQ(chdir(dir.c_str()), 0);

    std::vector<InputEntry> entries = CollectInputs({"top", "single.bin"}, CodePage::kWindows1252);
    std::vector<std::string> names;
    for (const InputEntry& e : entries) names.push_back(e.name + (e.isFolder ? " (folder)" : ""));
    EXPECT_EQ(names, (std::vector<std::string>{"top\\a.txt", "top\\full\\b.txt", "top\\sub\\empty (folder)",
                                               "single.bin"}));
    EXPECT_EQ(entries[0].size, 2u);
    EXPECT_GT(entries[0].lastWriteTime, FileTimeFromUnix(1000000000, 0));
    EXPECT_NE(entries[0].creationTime, 0u);

    // "top/" puts the folder's contents at the top; the same name twice is refused.
    entries = CollectInputs({"top/"}, CodePage::kWindows1252);
    EXPECT_EQ(entries[0].name, "a.txt");
    EXPECT_THROW(CollectInputs({"top", "top"}, CodePage::kWindows1252), InputError);
    // The output file is passed over.
    entries = CollectInputs({"top"}, CodePage::kWindows1252, "top/a.txt");
    EXPECT_EQ(entries[0].name, "top\\full\\b.txt");
    ASSERT_EQ(chdir(saved.c_str()), 0);
}
