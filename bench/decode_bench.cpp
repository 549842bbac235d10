// Decoding throughput: DecodeEntryBody through the block stream, in bytes
// of output per second, for text, an executable and random bytes.
//
// Each input (about 4 MB) is encoded once with the packer's encoder into an
// archive file in a temporary folder. Every iteration opens that archive
// through the extractor's frame reader and decodes the entry into
// /dev/null, so the figure covers block reading, descrambling, the CRC
// check, bit input, the Huffman walks, match copying and the window's
// writes.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/container/open_archive.h"
#include "core/decoder/output_window.h"
#include "core/driver/archive_session.h"
#include "packer/archive_writer.h"
#include "packer/bit_writer.h"
#include "packer/lz77_encoder.h"
#include "platform/platform.h"

namespace {

using Bytes = std::vector<uint8_t>;

const size_t kInputSize = 4 << 20;

// English-like prose from a fixed vocabulary, with punctuation and line
// breaks; deterministic, so every run measures the same bytes.
Bytes MakeText(size_t size) {
    static const char* const kWords[] = {
        "the", "of", "and", "to", "a", "in", "that", "is", "was", "he", "for", "it", "with", "as", "his",
        "on", "be", "at", "by", "had", "not", "are", "but", "from", "or", "have", "an", "they", "which",
        "one", "you", "were", "her", "all", "she", "there", "would", "their", "we", "him", "been", "has",
        "when", "who", "will", "more", "no", "if", "out", "so", "said", "what", "up", "its", "about",
        "into", "than", "them", "can", "only", "other", "new", "some", "could", "time", "these", "two",
        "may", "then", "do", "first", "any", "my", "now", "such", "like", "our", "over", "man", "me",
        "even", "most", "made", "after", "also", "did", "many", "before", "must", "through", "back",
        "years", "where", "much", "your", "way", "well", "down", "should", "because", "each", "just",
        "those", "people", "how", "too", "little", "state", "good", "very", "make", "world", "still",
        "own", "see", "men", "work", "long", "get", "here", "between", "both", "life", "being", "under",
        "never", "day", "same", "another", "know", "while", "last", "might", "us", "great", "old",
        "year", "off", "come", "since", "against", "go", "came", "right", "used", "take", "three",
        "archive", "window", "folder", "password", "message", "history", "entry", "stream", "block"};
    std::mt19937 rng(20240611);
    // A skewed choice of words, as in real prose.
    std::vector<double> weights;
    for (size_t i = 0; i < std::size(kWords); ++i) weights.push_back(1.0 / (1.0 + i));
    std::discrete_distribution<size_t> pick(weights.begin(), weights.end());
    std::string text;
    text.reserve(size + 64);
    bool capital = true;
    int sentences = 0;
    while (text.size() < size) {
        std::string word = kWords[pick(rng)];
        if (capital) word[0] = static_cast<char>(word[0] - 'a' + 'A');
        capital = false;
        text += word;
        unsigned r = rng() % 100;
        if (r < 7) {
            text += '.';
            capital = true;
            text += ++sentences % 6 == 0 ? "\r\n\r\n" : " ";
        } else if (r < 12) {
            text += ", ";
        } else {
            text += ' ';
        }
    }
    text.resize(size);
    return Bytes(text.begin(), text.end());
}

Bytes ReadPrefix(const std::string& path, size_t size) {
    std::ifstream in(path, std::ios::binary);
    Bytes bytes(size);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    bytes.resize(static_cast<size_t>(in.gcount()));
    return bytes;
}

// The first 4 MB of a large program: this very benchmark's own executable
// is the fallback when cmake is not where expected.
Bytes MakeExecutable(size_t size) {
    Bytes bytes = ReadPrefix("/usr/bin/cmake", size);
    if (bytes.size() < size / 2) bytes = ReadPrefix("/proc/self/exe", size);
    return bytes;
}

Bytes MakeRandom(size_t size) {
    std::mt19937_64 rng(97);
    Bytes bytes(size);
    for (size_t i = 0; i + 8 <= size; i += 8) {
        uint64_t v = rng();
        for (int k = 0; k < 8; ++k) bytes[i + k] = static_cast<uint8_t>(v >> (8 * k));
    }
    return bytes;
}

struct PreparedArchive {
    std::string path;
    int64_t size = 0;          // decoded bytes
    int64_t archiveBytes = 0;  // the archive file's size
};

std::filesystem::path BenchFolder() {
    static const std::filesystem::path folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "tarnwick_bench_XXXXXX").string();
        if (!mkdtemp(pattern.data())) abort();
        return std::filesystem::path(pattern);
    }();
    return folder;
}

PreparedArchive Prepare(const char* name, const Bytes& data) {
    BitWriter writer;
    EncodeEntryBody(writer, nullptr, 0, data.data(), static_cast<int64_t>(data.size()));
    ArchiveImage image = BuildArchive(ArchiveOptions(), writer.TakeBytes());
    PreparedArchive prepared;
    prepared.path = (BenchFolder() / name).string();
    prepared.size = static_cast<int64_t>(data.size());
    prepared.archiveBytes = static_cast<int64_t>(image.bytes.size());
    WriteFileBytes(prepared.path, image.bytes);
    return prepared;
}

const PreparedArchive& Text() {
    static const PreparedArchive prepared = Prepare("text.twk", MakeText(kInputSize));
    return prepared;
}
const PreparedArchive& Executable() {
    static const PreparedArchive prepared = Prepare("executable.twk", MakeExecutable(kInputSize));
    return prepared;
}
const PreparedArchive& Random() {
    static const PreparedArchive prepared = Prepare("random.twk", MakeRandom(kInputSize));
    return prepared;
}

void DecodeArchive(benchmark::State& state, const PreparedArchive& archive) {
    auto decoder = std::make_unique<EntryDecoder>();
    std::vector<uint8_t> capture(kHistorySlotSize);
    ResetArchiveSession();
    for (auto _ : state) {
        ByteStringAssign(&gSession.archivePath, archive.path.data(), archive.path.size());
        OpenArchiveFile();
        gSession.endOfArchive = false;
        gSession.outputHandle = PlatformCreateForWrite("/dev/null");
        if (gSession.outputHandle == kInvalidFileHandle) {
            state.SkipWithError("cannot open /dev/null");
            break;
        }
        ResetBitReader(&decoder->bits);
        StartOutputWindow(&decoder->window, nullptr, 0, 0, capture.data(), false);
        DecodeEntryBody(decoder.get(), archive.size);
        FlushWindow(&decoder->window);
        PlatformClose(gSession.outputHandle);
        gSession.outputHandle = kInvalidFileHandle;
        PlatformClose(gSession.archiveHandle);
        gSession.archiveHandle = kInvalidFileHandle;
        if (!gSession.endOfArchive) {
            state.SkipWithError("the decoder did not reach the end of the archive");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * archive.size);
    state.counters["ratio"] = static_cast<double>(archive.archiveBytes) / static_cast<double>(archive.size);
}

void BM_DecodeText(benchmark::State& state) { DecodeArchive(state, Text()); }
void BM_DecodeExecutable(benchmark::State& state) { DecodeArchive(state, Executable()); }
void BM_DecodeRandom(benchmark::State& state) { DecodeArchive(state, Random()); }

BENCHMARK(BM_DecodeText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeExecutable)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeRandom)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(BenchFolder(), ignored);
    return 0;
}
