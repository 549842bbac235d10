// The tarnwick command: archives it creates expand byte for byte with the
// extractor (natively and under wine) and with its own extract; refusals
// leave nothing behind; list, test and extract behave as documented.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/support/sfx_fixture.h"

namespace fs = std::filesystem;

namespace {

std::string TarnwickPath() {
    std::string sfx = SfxPath(kNativeSfx);
    return sfx.substr(0, sfx.rfind('/')) + "/packer/tarnwick";
}

RunResult Tarnwick(const std::vector<std::string>& args, const std::string& cwd = "", const std::string& input = "") {
    std::vector<std::string> argv = {TarnwickPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, input, cwd, {}, 600);
}

std::string Text(size_t size, uint32_t seed) {
    static const char* const kWords[] = {"archive", "window", "the", "folder", "of", "extractor", "match",
                                         "stream", "a", "block", "history", "prefix", "and", "file"};
    std::mt19937 rng(seed);
    std::string text;
    while (text.size() < size) {
        text += kWords[rng() % 14];
        text += rng() % 9 == 0 ? "\r\n" : " ";
    }
    text.resize(size);
    return text;
}

std::string Noise(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string bytes(size, 0);
    for (char& c : bytes) c = static_cast<char>(rng() >> 24);
    return bytes;
}

void Put(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    WriteFileBytes(path, bytes);
}

// A tree with nested and empty folders, empty files, a file of several MB
// and 300+ small files, many of which begin like an earlier one (prefixes,
// and a history that wraps past 256 file entries).
void MakeTree(const std::string& root) {
    Put(root + "/readme.txt", Text(20000, 1));
    Put(root + "/zero.dat", "");
    Put(root + "/a/b/c/deep.txt", Text(3000, 2) + "deep");
    Put(root + "/a/b/empty-file", "");
    fs::create_directories(root + "/empty/inner");
    fs::create_directories(root + "/a/also-empty");
    std::string big = Text(1500000, 3) + Noise(1000000, 4) + Text(1500000, 3).substr(0, 700000);
    Put(root + "/big.bin", big);
    std::string header = Text(30000, 5);
    for (int i = 0; i < 320; ++i) {
        char name[64];
        snprintf(name, sizeof name, "/many/f%03d.%s", i, i % 3 == 0 ? "txt" : i % 3 == 1 ? "h" : "log");
        std::string body = i % 2 ? header.substr(0, 100 + i * 37) + Text(500 + i * 13, 100 + i) : Text(i, 200 + i);
        Put(root + name, body);
    }
}

// Files (with their bytes) and folders under root, by relative path.
std::map<std::string, std::string> Snapshot(const std::string& root) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        std::string rel = fs::relative(e.path(), root).string();
        if (e.is_directory()) out[rel + "/"] = "";
        else out[rel] = ReadFileBytes(e.path().string());
    }
    return out;
}

void ExpectSameTree(const std::string& expected, const std::string& actual) {
    auto a = Snapshot(expected), b = Snapshot(actual);
    ASSERT_EQ(a.size(), b.size());
    for (const auto& [name, bytes] : a) {
        auto it = b.find(name);
        ASSERT_TRUE(it != b.end()) << name << " is missing";
        EXPECT_TRUE(it->second == bytes) << name << " differs";
    }
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The tree is made once; every test packs it anew.
const std::string& Tree() {
    static const std::string dir = [] {
        std::string d = MakeTempDir("packer-tree");
        MakeTree(d + "/src");
        return d;
    }();
    return dir;
}

class PackerRoundTrip : public testing::TestWithParam<SfxKind> {};

// A self-extracting program of each runnable kind expands into its own
// folder, and the bare archive of the same tree expands with "/e".
TEST_P(PackerRoundTrip, ExpandsByteForByteWithTheExtractor) {
    const SfxKind kind = GetParam();
    const std::string stub = kind == kNativeSfx ? "native" : "win64";
    std::string dir = MakeTempDir("packer-sfx-" + stub);
    RunResult r = Tarnwick({"create", "-q", "--stub", stub, "-o", dir + "/setup.exe", "src"}, Tree());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFileBytes(dir + "/setup.exe").substr(0, 2), kind == kNativeSfx ? "\x7F" "E" : "MZ");

    RunResult x = RunSelfExtractor(kind, dir + "/setup.exe", "");
    ASSERT_EQ(x.exitCode, 0) << x.out;
    ExpectSameTree(Tree() + "/src", dir + "/src");
    struct stat st;
    ASSERT_EQ(stat((Tree() + "/src/readme.txt").c_str(), &st), 0);
    EXPECT_EQ(ReadFileTimes(dir + "/src/readme.txt").lastWrite, FileTimeOf(st.st_mtim.tv_sec, st.st_mtim.tv_nsec / 100));

    std::string bare = MakeTempDir("packer-bare-" + stub);
    r = Tarnwick({"create", "-q", "-9", "--stub", "none", "-o", bare + "/pack.bin", "src"}, Tree());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    x = RunExplicitArchive(kind, bare + "/pack.bin", "", bare);
    ASSERT_EQ(x.exitCode, 0) << x.out;
    ExpectSameTree(Tree() + "/src", bare + "/src");
}

INSTANTIATE_TEST_SUITE_P(Kinds, PackerRoundTrip, testing::ValuesIn(RunnableSfxKinds()),
                         [](const testing::TestParamInfo<SfxKind>& info) { return SfxKindName(info.param); });

// Every level round-trips through tarnwick extract, the top levels are
// smaller, and the same inputs give the same bytes.
TEST(PackerLevels, ExtractRoundTripsAndOutputIsDeterministic) {
    std::string dir = MakeTempDir("packer-levels");
    std::map<int, size_t> sizes;
    for (int level : {1, 4, 6, 9}) {
        std::string out = dir + "/l" + std::to_string(level) + ".twk";
        RunResult r = Tarnwick({"create", "-q", "-" + std::to_string(level), "--stub", "none", "-o", out, "src"}, Tree());
        ASSERT_EQ(r.exitCode, 0) << r.err;
        sizes[level] = ReadFileBytes(out).size();
        std::string target = dir + "/x" + std::to_string(level);
        r = Tarnwick({"extract", "-q", out, "-C", target});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        ExpectSameTree(Tree() + "/src", target + "/src");
    }
    EXPECT_LT(sizes[9], sizes[6]);
    EXPECT_LT(sizes[6], sizes[1]);
    RunResult again = Tarnwick({"create", "-q", "-9", "--stub", "none", "-o", dir + "/again.twk", "src"}, Tree());
    ASSERT_EQ(again.exitCode, 0);
    EXPECT_TRUE(ReadFileBytes(dir + "/again.twk") == ReadFileBytes(dir + "/l9.twk"));
}

// The default extractor is the 32-bit Windows one; --stub-file takes any.
TEST(PackerStubs, Win32ByDefaultAndAnyFileOnRequest) {
    std::string dir = MakeTempDir("packer-stubs");
    Put(dir + "/in/hello.txt", "hello\r\n");
    RunResult r = Tarnwick({"create", "-q", "-o", dir + "/setup.exe", "in"}, dir);
    if (std::string(TARNWICK_WIN32_SFX).empty()) {
        EXPECT_EQ(r.exitCode, 4);
        EXPECT_TRUE(Contains(r.err, "win32 extractor is not available")) << r.err;
    } else {
        ASSERT_EQ(r.exitCode, 0) << r.err;
        std::string stubBytes = ReadFileBytes(TARNWICK_WIN32_SFX);
        EXPECT_EQ(ReadFileBytes(dir + "/setup.exe").substr(0, stubBytes.size()), stubBytes);
        EXPECT_EQ(Tarnwick({"test", "-q", dir + "/setup.exe"}).exitCode, 0);
    }
    Put(dir + "/stub.bin", "any leading bytes");
    r = Tarnwick({"create", "-q", "--stub-file", dir + "/stub.bin", "-o", dir + "/custom.bin", "in"}, dir);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFileBytes(dir + "/custom.bin").substr(0, 17), "any leading bytes");
    EXPECT_EQ(Tarnwick({"test", "-q", dir + "/custom.bin"}).exitCode, 0);
    EXPECT_EQ(Tarnwick({"create", "--stub", "win16", "-o", dir + "/x", "in"}, dir).exitCode, 3);
}

class PackerProtected : public testing::TestWithParam<SfxKind> {};

// Password, message (LF lines become CR LF) and run command reach the
// extractor; tarnwick reads the archive with the password file only.
TEST_P(PackerProtected, PasswordMessageAndRunCommand) {
    const SfxKind kind = GetParam();
    std::string dir = MakeTempDir("packer-protected");
    Put(dir + "/in/secret.txt", Text(50000, 9));
    Put(dir + "/pw", "s3cret\n");
    Put(dir + "/wrong", "guess\n");
    Put(dir + "/msg", "Welcome\nline two");
    std::string program = dir + "/out/setup.exe";
    fs::create_directories(dir + "/out");
    RunResult r = Tarnwick({"create", "-q", "--stub", kind == kNativeSfx ? "native" : "win64", "--password-file",
                            dir + "/pw", "--message-file", dir + "/msg", "--run", "missing-setup.exe", "-o", program,
                            "in"},
                           dir);
    ASSERT_EQ(r.exitCode, 0) << r.err;

    RunResult x = RunSelfExtractor(kind, program, "s3cret\r\n");
    EXPECT_EQ(x.exitCode, 0) << x.out;
    EXPECT_TRUE(Contains(x.out, std::string(kBannerLine) + "Welcome\r\nline two\r\nPassword : ")) << x.out;
    EXPECT_TRUE(Contains(x.out, "Couldn't run missing-setup.exe")) << x.out;
    EXPECT_EQ(ReadFileBytes(dir + "/out/in/secret.txt"), Text(50000, 9));

    RunResult list = Tarnwick({"list", "--json", "--password-file", dir + "/pw", program});
    EXPECT_EQ(list.exitCode, 0) << list.err;
    EXPECT_TRUE(Contains(list.out, "\"runCommand\": \"missing-setup.exe\"")) << list.out;
    EXPECT_TRUE(Contains(list.out, "\"protected\": true")) << list.out;
    r = Tarnwick({"extract", "-q", "--password-file", dir + "/wrong", program, "-C", dir + "/w"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "wrong password")) << r.err;
    EXPECT_FALSE(fs::exists(dir + "/w"));
    EXPECT_EQ(Tarnwick({"test", "-q", program}).exitCode, 1);  // no password, no terminal
    r = Tarnwick({"extract", "-q", "--password-file", dir + "/pw", program, "-C", dir + "/ok"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFileBytes(dir + "/ok/in/secret.txt"), Text(50000, 9));
}

INSTANTIATE_TEST_SUITE_P(Kinds, PackerProtected, testing::ValuesIn(RunnableSfxKinds()),
                         [](const testing::TestParamInfo<SfxKind>& info) { return SfxKindName(info.param); });

// Inputs that cannot be stored stop the run before anything is written:
// no output, no temporary file.
TEST(PackerRefusals, StopBeforeWritingAnything) {
    struct Case {
        const char* name;
        void (*make)(const std::string& in);
        std::vector<std::string> options;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"dangling link", [](const std::string& in) { (void)!symlink("/nonexistent/target", (in + "/link").c_str()); },
         {}, "link"},
        {"named pipe", [](const std::string& in) { mkfifo((in + "/pipe").c_str(), 0644); }, {}, "named pipe"},
        {"dots name", [](const std::string& in) { Put(in + "/sub/...", "x"); }, {}, "refuses the name"},
        {"device name", [](const std::string& in) { Put(in + "/con.txt", "x"); }, {}, "refuses the name"},
        {"outside 1252", [](const std::string& in) { Put(in + "/\xE6\x97\xA5\xE6\x9C\xAC.txt", "x"); }, {},
         "does not fit code page 1252"},
        {"outside 932", [](const std::string& in) { Put(in + "/\xC3\xA9t\xC3\xA9\xE2\x82\xAC.txt", "x"); },
         {"--codepage", "932"}, "does not fit code page 932"},
        {"unreadable", [](const std::string& in) {
             Put(in + "/locked.txt", "x");
             chmod((in + "/locked.txt").c_str(), 0);
         }, {}, "cannot be read"},
    };
    for (const Case& c : cases) {
        if (std::string(c.name) == "unreadable" && geteuid() == 0) continue;  // root reads it anyway
        std::string dir = MakeTempDir("packer-refuse");
        Put(dir + "/in/fine.txt", "fine");
        c.make(dir + "/in");
        std::vector<std::string> args = {"create", "-q", "--stub", "none", "-o", dir + "/out/a.twk"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back("in");
        fs::create_directories(dir + "/out");
        RunResult r = Tarnwick(args, dir);
        EXPECT_EQ(r.exitCode, 4) << c.name;
        EXPECT_TRUE(Contains(r.err, c.message)) << c.name << ": " << r.err;
        EXPECT_TRUE(fs::is_empty(dir + "/out")) << c.name;
    }
}

// Names outside ASCII are stored in the code page asked for, and read
// back from it.
TEST(PackerCodePages, NamesRoundTripThroughTheCodePage) {
    std::string dir = MakeTempDir("packer-codepage");
    const std::string cafe = "caf\xC3\xA9 \xE2\x82\xAC.txt";        // café €.txt: in 1252
    const std::string nihon = "\xE6\x97\xA5\xE6\x9C\xAC\xE3\x82\xBD.txt";  // 日本ソ.txt: 932, ソ ends in 0x5C
    Put(dir + "/in/" + cafe, "latin");
    Put(dir + "/jp/" + nihon, "japanese");
    ASSERT_EQ(Tarnwick({"create", "-q", "--stub", "none", "-o", "latin.twk", "in"}, dir).exitCode, 0);
    ASSERT_EQ(Tarnwick({"create", "-q", "--stub", "none", "--codepage", "932", "-o", "jp.twk", "jp"}, dir).exitCode, 0);
    // The stored bytes: 1252 for é and €, Shift-JIS for the Japanese name.
    EXPECT_TRUE(Contains(Tarnwick({"list", "--codepage", "1252", dir + "/latin.twk"}).out, "in\\" + cafe));
    RunResult raw = Tarnwick({"list", "--json", "--codepage", "932", dir + "/jp.twk"});
    EXPECT_TRUE(Contains(raw.out, "\"jp\\\\" + nihon + "\"")) << raw.out;
    ASSERT_EQ(Tarnwick({"extract", "-q", "latin.twk", "-C", "x"}, dir).exitCode, 0);
    ASSERT_EQ(Tarnwick({"extract", "-q", "--codepage", "932", "jp.twk", "-C", "x"}, dir).exitCode, 0);
    EXPECT_EQ(ReadFileBytes(dir + "/x/in/" + cafe), "latin");
    EXPECT_EQ(ReadFileBytes(dir + "/x/jp/" + nihon), "japanese");
    if (HaveWin64Sfx()) {
        // The Windows extractor in a Japanese locale makes the same name.
        std::string run = MakeTempDir("packer-codepage-wine");
        ASSERT_EQ(Tarnwick({"create", "-q", "--stub", "win64", "--codepage", "932", "-o", run + "/setup.exe", "jp"}, dir)
                      .exitCode, 0);
        SfxOptions options;
        options.locale = "ja_JP.UTF-8";
        RunResult x = RunSelfExtractor(kWin64Sfx, run + "/setup.exe", "", {}, "", options);
        EXPECT_EQ(x.exitCode, 0) << x.out;
        EXPECT_EQ(ReadFileBytes(run + "/jp/" + nihon), "japanese");
    }
}

// An existing file stops extract unless a policy says what to do.
TEST(PackerExtract, EachOverwritePolicy) {
    std::string dir = MakeTempDir("packer-overwrite");
    Put(dir + "/in/a.txt", "new a");
    Put(dir + "/in/b.txt", "new b");
    ASSERT_EQ(Tarnwick({"create", "-q", "--stub", "none", "-o", "p.twk", "in"}, dir).exitCode, 0);
    auto reset = [&] {
        fs::remove_all(dir + "/t");
        Put(dir + "/t/in/a.txt", "old a");
    };
    reset();
    RunResult r = Tarnwick({"extract", "-q", "p.twk", "-C", "t"}, dir);
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_TRUE(Contains(r.err, "exists")) << r.err;
    EXPECT_EQ(ReadFileBytes(dir + "/t/in/a.txt"), "old a");

    reset();
    EXPECT_EQ(Tarnwick({"extract", "-q", "--skip-existing", "p.twk", "-C", "t"}, dir).exitCode, 0);
    EXPECT_EQ(ReadFileBytes(dir + "/t/in/a.txt"), "old a");
    EXPECT_EQ(ReadFileBytes(dir + "/t/in/b.txt"), "new b");

    reset();
    EXPECT_EQ(Tarnwick({"extract", "-q", "--overwrite", "p.twk", "-C", "t"}, dir).exitCode, 0);
    EXPECT_EQ(ReadFileBytes(dir + "/t/in/a.txt"), "new a");
    EXPECT_EQ(ReadFileBytes(dir + "/t/in/b.txt"), "new b");
    EXPECT_EQ(Tarnwick({"extract", "--overwrite", "--skip-existing", "p.twk"}, dir).exitCode, 3);
}

// test reports damage with the extractor's message and exit code.
TEST(PackerTest, DamagedArchives) {
    std::string dir = MakeTempDir("packer-damage");
    Put(dir + "/in/text.txt", Text(40000, 11));
    ASSERT_EQ(Tarnwick({"create", "-q", "--stub", "none", "-o", "good.twk", "in"}, dir).exitCode, 0);
    std::string good = ReadFileBytes(dir + "/good.twk");
    RunResult ok = Tarnwick({"test", dir + "/good.twk"});
    EXPECT_EQ(ok.exitCode, 0) << ok.err;
    EXPECT_TRUE(Contains(ok.out, "OK, 1 files")) << ok.out;

    struct Case {
        const char* name;
        std::string bytes;
        int exitCode;
        const char* message;
    };
    std::string flipped = good;
    flipped[good.size() / 2] ^= 0x10;  // a data byte of a middle block
    std::string signature = good;
    signature[3] = 'Y';
    std::string cut = good.substr(0, good.size() - 5000);  // no trailer
    std::string lastBlock = good;
    lastBlock[good.size() - 20] ^= 1;
    const std::vector<Case> cases = {
        {"flipped byte", flipped, 2, "This file is broken."},
        {"last block", lastBlock, 2, "This file is broken."},
        {"signature", signature, 1, "This file is broken.  Cannot expand."},
        {"truncated", cut, 1, "This file is broken"},
        {"not an archive", Noise(3000, 12), 1, "This file is broken"},
    };
    for (const Case& c : cases) {
        WriteFileBytes(dir + "/bad.twk", c.bytes);
        RunResult r = Tarnwick({"test", dir + "/bad.twk"});
        EXPECT_EQ(r.exitCode, c.exitCode) << c.name << ": " << r.err;
        EXPECT_TRUE(Contains(r.err, c.message)) << c.name << ": " << r.err;
        EXPECT_TRUE(r.out.empty()) << c.name;
    }
}

// list names every entry with its size; --json carries the same.
TEST(PackerList, PlainAndJson) {
    RunResult r = Tarnwick({"create", "-q", "--stub", "none", "-o", "list.twk", "src"}, Tree());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    RunResult plain = Tarnwick({"list", "list.twk"}, Tree());
    ASSERT_EQ(plain.exitCode, 0) << plain.err;
    EXPECT_TRUE(Contains(plain.out, "       20000  ")) << plain.out.substr(0, 400);
    EXPECT_TRUE(Contains(plain.out, "src\\readme.txt\n"));
    EXPECT_TRUE(Contains(plain.out, "src\\empty\\inner\\\n"));
    EXPECT_TRUE(Contains(plain.out, "325 files, 2 folders, "));
    RunResult json = Tarnwick({"list", "--json", "list.twk"}, Tree());
    ASSERT_EQ(json.exitCode, 0);
    EXPECT_TRUE(Contains(json.out, "{\"name\": \"src\\\\a\\\\b\\\\c\\\\deep.txt\", \"type\": \"file\", \"size\": 3004"));
    EXPECT_TRUE(Contains(json.out, "{\"name\": \"src\\\\a\\\\also-empty\\\\\", \"type\": \"folder\"}"));
    fs::remove(Tree() + "/list.twk");
}

TEST(PackerUsage, HelpAndWrongCommandLines) {
    for (const char* command : {"create", "list", "test", "extract"}) {
        RunResult r = Tarnwick({command, "--help"});
        EXPECT_EQ(r.exitCode, 0) << command;
        EXPECT_TRUE(Contains(r.out, std::string("usage: tarnwick ") + command)) << command;
    }
    EXPECT_EQ(Tarnwick({}).exitCode, 3);
    EXPECT_EQ(Tarnwick({"pack"}).exitCode, 3);
    EXPECT_EQ(Tarnwick({"create", "src"}).exitCode, 3);           // no -o
    EXPECT_EQ(Tarnwick({"list", "--bogus", "x"}).exitCode, 3);
    EXPECT_EQ(Tarnwick({"test", "/nonexistent.twk"}).exitCode, 2);  // the extractor's read error
}

}  // namespace
