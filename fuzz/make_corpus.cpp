// Writes the fuzz targets' seed corpus: small archives made by our own
// writer, one for each feature of the format, each in the targets' input
// layout (1 byte n, n bytes of standard input, then the archive).
//
//   tarnwick-make-corpus FOLDER
//
// The corpus is kept in the repository (fuzz/corpus/); run this again only
// when the format or the writer changes.
#include <stdio.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "packer/archive_writer.h"
#include "packer/entry_writer.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed) {
    std::mt19937 generator(seed);
    std::vector<uint8_t> bytes(count);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(generator());
    return bytes;
}

// Text that compresses well: words from a small list.
std::vector<uint8_t> Text(size_t count, uint32_t seed) {
    static const char* const kWords[] = {"archive ", "folder ", "entry ", "block ", "stream ", "window ",
                                         "match ",   "prefix ", "tarnwick ", "data\r\n"};
    std::mt19937 generator(seed);
    std::string text;
    while (text.size() < count) text += kWords[generator() % 10];
    text.resize(count);
    return Bytes(text);
}

EntryInput File(const std::string& name, std::vector<uint8_t> contents) {
    EntryInput entry;
    entry.name = name;
    entry.creationTime = 0x01D5A2B3C4D5E6F7ull;
    entry.lastAccessTime = 0x01D6A2B3C4D5E6F7ull;
    entry.lastWriteTime = 0x01D4A2B3C4D5E6F7ull;
    entry.contents = std::move(contents);
    return entry;
}

EntryInput Folder(const std::string& name) {
    EntryInput entry;
    entry.name = name;
    entry.isFolder = true;
    return entry;
}

EntryInput Prefixed(const std::string& name, std::vector<uint8_t> contents, uint64_t backReference,
                   int32_t prefixLength) {
    EntryInput entry = File(name, std::move(contents));
    entry.backReference = backReference;
    entry.prefixLength = prefixLength;
    return entry;
}

void WriteSeed(const std::string& folder, const std::string& name, const std::string& stdinBytes,
               const std::vector<EntryInput>& entries, const ArchiveOptions& options = {}) {
    if (stdinBytes.size() > 255) throw std::invalid_argument("standard input of a seed: 255 bytes at most");
    std::vector<uint8_t> input;
    input.push_back(static_cast<uint8_t>(stdinBytes.size()));
    input.insert(input.end(), stdinBytes.begin(), stdinBytes.end());
    std::vector<uint8_t> archive = BuildArchive(options, BuildEntryStream(entries)).bytes;
    input.insert(input.end(), archive.begin(), archive.end());
    WriteFileBytes(folder + "/" + name, input);
    printf("%-24s %6zu bytes\n", name.c_str(), input.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::string out = argv[1];

    ArchiveOptions message;
    message.message = "Welcome to the test.\r\nSecond line.";
    WriteSeed(out, "one-file", "", {File("readme.txt", Text(300, 1))}, message);

    WriteSeed(out, "folders", "",
              {Folder("docs"), File("docs\\a.txt", Text(200, 2)), File("docs\\img\\b.bin", RandomBytes(100, 3)),
               Folder("."), Folder("empty\\inner"), File("c.txt", Text(50, 4))});

    // Prefixes and back-references: b and c begin like a; d has no
    // back-reference but its window is preloaded with c.
    std::vector<uint8_t> a = Text(3000, 5);
    std::vector<uint8_t> b(a.begin(), a.begin() + 1000);
    std::vector<uint8_t> tail = Text(400, 6);
    b.insert(b.end(), tail.begin(), tail.end());
    std::vector<uint8_t> c(a.begin(), a.begin() + 2500);
    std::vector<uint8_t> d = c;
    d[10] ^= 1;
    WriteSeed(out, "prefixes", "",
              {File("a.txt", a), Prefixed("b.txt", b, 1, 1000), Prefixed("c.txt", c, 2, 2500), File("d.txt", d),
               Prefixed("e.txt", std::vector<uint8_t>(a.begin(), a.begin() + 20), 256, 0)});

    ArchiveOptions password;
    password.password = "secret";
    WriteSeed(out, "password", "secret\r\n", {File("hidden.txt", Text(500, 7))}, password);
    WriteSeed(out, "password-second-try", "wrong\r\nsecret\r\n", {File("hidden.txt", Text(100, 8))}, password);
    ArchiveOptions flagged = password;
    flagged.passwordFlag = 0xFF;
    flagged.password = "pw";
    WriteSeed(out, "password-flag-ff", "pw\n", {File("x.bin", RandomBytes(64, 9))}, flagged);
    ArchiveOptions emptyPassword;
    emptyPassword.password = "";
    WriteSeed(out, "password-empty", "\r\n", {File("x.txt", Text(64, 10))}, emptyPassword);

    ArchiveOptions run;
    run.message = "Installing.";
    run.runCommand = "setup-next.exe";
    WriteSeed(out, "run-command", "", {File("setup-next.txt", Text(80, 11))}, run);

    WriteSeed(out, "empty-files", "", {File("empty", {}), File("also-empty.txt", {}), File("one", {'1'})});

    // Two blocks of stream, and a file long enough to slide the window.
    WriteSeed(out, "multi-block", "", {File("noise.bin", RandomBytes(5000, 12)), File("after.txt", Text(100, 13))});
    std::vector<uint8_t> paragraph = Text(2000, 14), chapter;
    while (chapter.size() < 70000) chapter.insert(chapter.end(), paragraph.begin(), paragraph.end());
    WriteSeed(out, "window-slide", "", {File("long.txt", chapter)});
    WriteSeed(out, "long-match", "", {File("zeros.bin", std::vector<uint8_t>(20000, 0))});

    // The same name twice: the second asks before overwriting.
    WriteSeed(out, "overwrite-no", "n\r\n", {File("same.txt", Text(60, 15)), File("same.txt", Text(70, 16))});
    WriteSeed(out, "overwrite-yes", "x\r\ny\r\n", {File("same.txt", Text(60, 17)), File("same.txt", Text(70, 18))});

    ArchiveOptions leading;
    leading.leading = RandomBytes(200, 19);
    WriteSeed(out, "leading-bytes", "", {File("z.txt", Text(40, 20))}, leading);

    // 257 file entries: the history wraps round to slot 0 and beyond.
    std::vector<EntryInput> many;
    for (int i = 0; i < 257; ++i) {
        char name[16];
        snprintf(name, sizeof name, "f%03d", i);
        many.push_back(File(name, Text(3, static_cast<uint32_t>(100 + i))));
    }
    many.push_back(Prefixed("g", Text(3, 356), 1, 3));
    many.push_back(Prefixed("h", Text(3, 103), 255, 3));  // f003
    WriteSeed(out, "history-wrap", "", many);
    return 0;
}
