// Damaged archives, swept: single-bit flips and truncations of a small
// three-block archive, each run by the native extractor as "/e run/a.bin"
// in a fresh folder. Every truncation is run, and every bit flip of the
// raw head, the trailer and the edges of each block; the data bytes
// between, where every flip ends the same way, are sampled (BitsToFlip).
// TARNWICK_SWEEP_ALL=1 runs every single-bit flip. Every run must
//   - end by itself within the time bound, with exit code 0, 1 or 2 and
//     nothing on standard error;
//   - print the banner and then only the program's own messages, in an
//     order the program can print them, matching the exit code;
//   - create nothing outside its folder (the current folder is the folder
//     above, which must hold nothing else afterwards);
//   - leave no partial file: every file in the folder is an entry's file,
//     whole and correct, and exactly the files whose line ended in "end."
//     are there.
//
// A CRC-16 catches every single-bit error of a block, so a flip inside the
// block stream ends in "This file is broken." when that block is opened; a
// flip in the raw head changes the message, the run command or the
// password descriptor, and one in the trailer moves the archive's start.
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/sfx_fixture.h"

namespace fs = std::filesystem;

namespace {

const char kArchiveName[] = "a.bin";
const char kMessage[] = "Sweep test.\r\nTwo lines.";
const char kRunCommand[] = "no-such-program-here";
const int kTimeoutSeconds = 20;

// A sanitizer build's extractor takes several times as long to start, so
// that build sweeps the same places more thinly.
#if defined(__SANITIZE_ADDRESS__)
const bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
const bool kSanitized = true;
#else
const bool kSanitized = false;
#endif
#else
const bool kSanitized = false;
#endif

struct SweepArchive {
    ArchiveImage image;
    std::vector<EntryInput> entries;
};

std::vector<uint8_t> Noise(size_t count, uint32_t seed) {
    std::mt19937 generator(seed);
    std::vector<uint8_t> bytes(count);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(generator());
    return bytes;
}

std::vector<uint8_t> Text(size_t count, uint32_t seed) {
    static const char* const kWords[] = {"sweep ", "bit ", "flip ", "block ", "check ", "trailer ", "\r\n"};
    std::mt19937 generator(seed);
    std::string text;
    while (text.size() < count) text += kWords[generator() % 7];
    text.resize(count);
    return Bytes(text);
}

// Three file entries (one in a folder entry, one with a prefix taken from
// the first) in a stream of three blocks; a message and a run command that
// does not exist, so a whole run ends with "Couldn't run".
SweepArchive MakeSweepArchive() {
    SweepArchive sweep;
    EntryInput notes{.name = "notes.txt", .creationTime = FileTimeOf(1000000000),
                    .lastAccessTime = FileTimeOf(1600000000), .lastWriteTime = FileTimeOf(1500000000),
                    .contents = Text(6000, 1)};
    EntryInput folder{.name = "data", .isFolder = true};
    EntryInput noise{.name = "data\\noise.bin", .lastWriteTime = FileTimeOf(1400000000), .contents = Noise(7000, 2)};
    std::vector<uint8_t> copy(notes.contents.begin(), notes.contents.begin() + 2000);
    std::vector<uint8_t> tail = Text(500, 3);
    copy.insert(copy.end(), tail.begin(), tail.end());
    EntryInput prefixed{.name = "data\\copy.txt", .lastWriteTime = FileTimeOf(1300000000), .contents = copy,
                       .backReference = 2, .prefixLength = 2000};
    sweep.entries = {notes, folder, noise, prefixed};
    ArchiveOptions options;
    options.message = kMessage;
    options.runCommand = kRunCommand;
    sweep.image = BuildArchive(options, BuildEntryStream(sweep.entries));
    return sweep;
}

// The message and run command a (damaged) archive file shows, read the way
// the extractor reads its frame; nullopt when the extractor cannot get as
// far as printing the message.
struct Head {
    std::string message;
    std::optional<std::string> runCommand;
};

std::optional<Head> HeadOf(const std::vector<uint8_t>& file) {
    static const uint8_t kSignature[6] = {'T', 'W', 'K', 'X', 7, 0};
    int64_t size = static_cast<int64_t>(file.size());
    if (size < 12) return std::nullopt;
    uint64_t length = 0;
    for (int i = 7; i >= 0; --i) length = length << 8 | file[static_cast<size_t>(size - 12 + i)];
    int64_t archiveLength = static_cast<int64_t>(length);
    if (archiveLength < 6 || archiveLength > size) return std::nullopt;
    size_t p = static_cast<size_t>(size - archiveLength);
    if (!std::equal(kSignature, kSignature + 6, file.begin() + static_cast<std::ptrdiff_t>(p))) return std::nullopt;
    p += 6;
    auto readString = [&](std::string* s) {
        for (; p < file.size(); ++p) {
            if (file[p] == 0) {
                ++p;
                return true;
            }
            s->push_back(static_cast<char>(file[p]));
        }
        return false;
    };
    Head head;
    if (!readString(&head.message)) return std::nullopt;
    std::string runCommand;
    if (readString(&runCommand)) head.runCommand = runCommand;
    return head;
}

// Reads the output as the program's messages. Returns what is wrong with it,
// or "" when it is a dialogue the program can print ending in exitCode;
// `finished` receives the entries whose line ended in "end.".
std::string CheckDialogue(const std::string& out, int exitCode, const std::optional<Head>& head,
                          const std::string& target, const std::vector<EntryInput>& entries,
                          std::set<std::string>* finished) {
    size_t p = 0;
    auto take = [&](const std::string& piece) {
        if (out.compare(p, piece.size(), piece) != 0) return false;
        p += piece.size();
        return true;
    };
    auto where = [&]() { return " at byte " + std::to_string(p) + ": \"" + out.substr(p, 80) + "\""; };
    auto atEnd = [&](int code, const char* what) -> std::string {
        if (p != out.size()) return std::string("output goes on after ") + what + where();
        if (exitCode != code) return std::string(what) + " with exit code " + std::to_string(exitCode);
        return "";
    };

    if (!take(kBannerLine)) return "no banner" + where();
    if (take("This file is broken.  Cannot expand.  Press ENTER key.\a\r\n")) return atEnd(1, "broken archive");
    // Fatal exits can come before the message (the file cannot be read).
    auto fatal = [&]() -> std::optional<std::string> {
        for (const char* line : {"File read error.\r\n", "File write error.\r\n", "This file is broken.\r\n"}) {
            if (take(line)) {
                if (!take("Press Enter key.\a\r\n")) return "no \"Press Enter key.\" after " + std::string(line) + where();
                return atEnd(2, "fatal exit");
            }
        }
        return std::nullopt;
    };
    if (auto result = fatal()) return *result;
    if (!head) return "output the damaged frame cannot give" + where();
    if (!head->message.empty() && !take(head->message + "\r\n")) return "not the archive's message" + where();
    if (auto result = fatal()) return *result;

    int prompts = 0;
    while (take("Password : ")) ++prompts;
    if (prompts > 3) return "more than three password prompts";
    if (prompts == 3 && p == out.size()) return atEnd(1, "three wrong passwords");

    for (;;) {
        if (auto result = fatal()) return *result;
        if (take("expanding : ")) {
            std::string name;
            for (const EntryInput& entry : entries) {
                if (!entry.isFolder && take(target + entry.name + " ... ")) {
                    name = entry.name;
                    break;
                }
            }
            if (name.empty()) return "an entry name that is not in the archive" + where();
            if (take("end.\r\n")) {
                if (!finished->insert(name).second) return name + " expanded twice";
                continue;
            }
            if (auto result = fatal()) return *result;
            if (take("Cannot make folder : ")) break;
            return "an entry's line not ended by \"end.\" or an error" + where();
        }
        if (take("Cannot make folder : ")) break;
        if (take("Couldn't run ")) {
            if (!head->runCommand || !take(*head->runCommand + "\a\r\n")) return "not the run command" + where();
            return atEnd(0, "run command");
        }
        return atEnd(0, "last entry");
    }
    // "Cannot make folder : " folder BEL: a folder under the target.
    if (!take(target)) return "a folder outside the target" + where();
    size_t end = out.find("\a\r\n", p);
    if (end == std::string::npos) return "no BEL after the folder" + where();
    p = end + 3;
    return atEnd(2, "folder that cannot be made");
}

// The state of the folders after a run: nothing but the run folder in the
// parent; in the run folder the archive as it was written, the folders of
// the entries, and each entry's file either whole and correct (when its
// line ended in "end.") or absent.
std::string CheckFolders(const std::string& parent, const std::string& runFolder, size_t archiveSize,
                         const std::vector<EntryInput>& entries, const std::set<std::string>& finished,
                         int exitCode) {
    std::error_code error;
    for (const fs::directory_entry& item : fs::directory_iterator(parent, error)) {
        if (item.path().filename() != fs::path(runFolder).filename()) {
            return "created outside its folder: " + item.path().string();
        }
    }
    std::map<std::string, const EntryInput*> files;
    std::set<std::string> folders;
    for (const EntryInput& entry : entries) {
        std::string name = entry.name;
        std::replace(name.begin(), name.end(), '\\', '/');
        if (entry.isFolder) {
            folders.insert(name);
        } else {
            files[name] = &entry;
        }
        for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1))
            folders.insert(name.substr(0, slash));
    }
    size_t filesFound = 0;
    for (const fs::directory_entry& item : fs::recursive_directory_iterator(runFolder, error)) {
        std::string relative = fs::relative(item.path(), runFolder).string();
        if (item.is_directory()) {
            if (!folders.count(relative)) return "a folder that is no entry's: " + relative;
            continue;
        }
        if (relative == kArchiveName) {
            if (item.file_size() != archiveSize) return "the archive changed";
            continue;
        }
        auto file = files.find(relative);
        if (file == files.end()) return "a file that is no entry's: " + relative;
        if (!finished.count(file->second->name)) return "a file whose line did not end in \"end.\": " + relative;
        std::string contents = ReadFileBytes(item.path().string());
        if (contents != std::string(file->second->contents.begin(), file->second->contents.end()))
            return "a file with wrong contents: " + relative;
        ++filesFound;
    }
    if (filesFound != finished.size()) return "a file reported as done is missing";
    if (exitCode == 0 && finished.size() != files.size()) return "exit code 0 without every file";
    return "";
}

struct Variant {
    std::string label;           // for messages
    std::vector<uint8_t> bytes;  // the archive file as given to the extractor
};

struct SweepStats {
    std::atomic<long> runs{0};
    std::atomic<long> exitCodes[3] = {0, 0, 0};
    std::atomic<long> slowestMicroseconds{0};
};

double Seconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Runs every variant made by makeVariant(0 .. count - 1) on two workers,
// each in its own parent folder; returns the failures found (at most a
// few dozen are kept).
std::vector<std::string> Sweep(const SweepArchive& sweep, size_t count,
                               const std::function<Variant(size_t)>& makeVariant, SweepStats* stats) {
    std::mutex mutex;
    std::vector<std::string> failures;
    std::atomic<size_t> next{0};
    auto worker = [&](int number) {
        std::string parent = MakeTempDir("sweep-" + std::to_string(number));
        std::string runFolder = parent + "/run";
        std::string target = ShownPath(kNativeSfx, runFolder + "/");
        for (size_t i = next++; i < count; i = next++) {
            Variant variant = makeVariant(i);
            fs::remove_all(runFolder);
            fs::create_directory(runFolder);
            WriteFileBytes(runFolder + "/" + kArchiveName, std::string(variant.bytes.begin(), variant.bytes.end()));
            SfxOptions options;
            options.timeoutSeconds = kTimeoutSeconds;
            double start = Seconds();
            RunResult r = RunSfx(kNativeSfx, {"/e", runFolder + "/" + kArchiveName}, "", parent, options);
            long micros = static_cast<long>((Seconds() - start) * 1e6);
            long slowest = stats->slowestMicroseconds.load();
            while (micros > slowest && !stats->slowestMicroseconds.compare_exchange_weak(slowest, micros)) {
            }
            ++stats->runs;

            std::string problem;
            std::set<std::string> finished;
            if (r.timedOut) {
                problem = "no end within " + std::to_string(kTimeoutSeconds) + " s";
            } else if (r.exitCode < 0 || r.exitCode > 2) {
                problem = "exit code " + std::to_string(r.exitCode) + " " + r.err.substr(0, 2000);
            } else if (!r.err.empty()) {
                problem = "standard error: " + r.err.substr(0, 2000);
            } else {
                ++stats->exitCodes[r.exitCode];
                problem = CheckDialogue(r.out, r.exitCode, HeadOf(variant.bytes), target, sweep.entries, &finished);
                if (problem.empty())
                    problem = CheckFolders(parent, runFolder, variant.bytes.size(), sweep.entries, finished,
                                           r.exitCode);
            }
            if (!problem.empty()) {
                std::lock_guard<std::mutex> lock(mutex);
                if (failures.size() < 40) failures.push_back(variant.label + ": " + problem);
            }
        }
        fs::remove_all(parent);
    };
    std::thread first(worker, 0), second(worker, 1);
    first.join();
    second.join();
    return failures;
}

void Report(const char* what, const SweepStats& stats, double seconds) {
    printf("%s: %ld runs in %.1f s (slowest %.1f ms); exit codes 0/1/2: %ld/%ld/%ld\n", what, stats.runs.load(),
           seconds, static_cast<double>(stats.slowestMicroseconds.load()) / 1000.0, stats.exitCodes[0].load(),
           stats.exitCodes[1].load(), stats.exitCodes[2].load());
}

class Sweeps : public testing::Test {
  protected:
    void SetUp() override {
        sweep_ = MakeSweepArchive();
        ASSERT_EQ(sweep_.image.blockStarts.size(), 3u);
        // A whole run first: the archive is sound, so the sweeps below
        // measure damage and nothing else.
        std::string parent = MakeTempDir("sweep-whole");
        fs::create_directory(parent + "/run");
        WriteFileBytes(parent + "/run/" + kArchiveName,
                       std::string(sweep_.image.bytes.begin(), sweep_.image.bytes.end()));
        RunResult r = RunSfx(kNativeSfx, {"/e", parent + "/run/" + kArchiveName}, "", parent);
        std::set<std::string> finished;
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_EQ(CheckDialogue(r.out, r.exitCode, HeadOf(sweep_.image.bytes), ShownPath(kNativeSfx, parent + "/run/"),
                                sweep_.entries, &finished),
                  "");
        EXPECT_EQ(finished.size(), 3u);
        EXPECT_NE(r.out.find("Couldn't run "), std::string::npos);
        fs::remove_all(parent);
    }

    SweepArchive sweep_;
};

// The places of the file swept whole: the raw head, the trailer, and at
// the start and the end of each block its first and last 16 data bytes
// and its check bytes. Everything, with TARNWICK_SWEEP_ALL=1 in the
// environment (about 80,000 runs, which take several minutes).
std::vector<bool> SweptWhole(const ArchiveImage& image) {
    const char* all = getenv("TARNWICK_SWEEP_ALL");
    std::vector<bool> whole(image.bytes.size() + 1, all != nullptr && std::string(all) == "1");
    auto sweepWhole = [&](size_t from, size_t to) {
        for (size_t i = from; i < to && i < whole.size(); ++i) whole[i] = true;
    };
    sweepWhole(0, image.streamStart + 1);
    sweepWhole(image.trailerStart, whole.size());
    for (size_t b = 0; b < image.blockStarts.size(); ++b) {
        size_t end = b + 1 < image.blockStarts.size() ? image.blockStarts[b + 1] : image.trailerStart;
        sweepWhole(image.blockStarts[b], image.blockStarts[b] + 17);
        sweepWhole(end - 18, end + 1);
    }
    return whole;
}

// The bits to flip: every bit of the places swept whole; elsewhere, where
// every flip of a data byte takes the same way (the block's check fails),
// every 7th bit, which still meets every bit position of a byte (every
// 61st in a sanitizer build).
std::vector<size_t> BitsToFlip(const ArchiveImage& image) {
    std::vector<bool> whole = SweptWhole(image);
    const size_t stride = kSanitized ? 61 : 7;
    std::vector<size_t> bits;
    for (size_t i = 0; i < image.bytes.size() * 8; ++i) {
        if (whole[i / 8] || i % stride == 0) bits.push_back(i);
    }
    return bits;
}

// The lengths to cut the file to: every one, except in a sanitizer build,
// which takes every length near the places swept whole and every 16th
// elsewhere.
std::vector<size_t> TruncationLengths(const ArchiveImage& image) {
    std::vector<bool> whole = SweptWhole(image);
    std::vector<size_t> lengths;
    for (size_t length = 0; length < image.bytes.size(); ++length) {
        if (!kSanitized || whole[length] || length % 16 == 0) lengths.push_back(length);
    }
    return lengths;
}

TEST_F(Sweeps, EverySingleBitFlip) {
    const std::vector<uint8_t>& bytes = sweep_.image.bytes;
    const std::vector<size_t> bits = BitsToFlip(sweep_.image);
    SweepStats stats;
    double start = Seconds();
    std::vector<std::string> failures = Sweep(
        sweep_, bits.size(),
        [&](size_t n) {
            size_t i = bits[n];
            Variant variant{"bit " + std::to_string(i % 8) + " of byte " + std::to_string(i / 8), bytes};
            variant.bytes[i / 8] ^= static_cast<uint8_t>(1u << (i % 8));
            return variant;
        },
        &stats);
    Report("bit flips", stats, Seconds() - start);
    printf("bit flips: %zu of the file's %zu bits\n", bits.size(), bytes.size() * 8);
    EXPECT_EQ(stats.runs.load(), static_cast<long>(bits.size()));
    for (const std::string& failure : failures) ADD_FAILURE() << failure;
}

TEST_F(Sweeps, EveryTruncation) {
    const std::vector<uint8_t>& bytes = sweep_.image.bytes;
    const std::vector<size_t> lengths = TruncationLengths(sweep_.image);
    SweepStats stats;
    double start = Seconds();
    std::vector<std::string> failures = Sweep(
        sweep_, lengths.size(),
        [&](size_t n) {
            size_t length = lengths[n];
            return Variant{"first " + std::to_string(length) + " bytes",
                           std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length))};
        },
        &stats);
    Report("truncations", stats, Seconds() - start);
    printf("truncations: %zu of the file's %zu lengths\n", lengths.size(), bytes.size());
    EXPECT_EQ(stats.runs.load(), static_cast<long>(lengths.size()));
    for (const std::string& failure : failures) ADD_FAILURE() << failure;
}

}  // namespace
