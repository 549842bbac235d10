#include <tuple>
#include "packer/file_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <utility>

#include "core/expansion/entry_record.h"

namespace {

struct FileId {
    dev_t device;
    ino_t inode;
    bool operator<(const FileId& o) const { return std::tie(device, inode) < std::tie(o.device, o.inode); }
};

struct Walker {
    CodePage codePage;
    bool haveExcluded = false;
    FileId excluded{};
    std::vector<InputEntry> entries;
    std::set<std::string> names;
    std::vector<FileId> ancestors;  // folders being walked, against link loops
};

std::string Describe(const std::string& path) { return "\"" + path + "\""; }

void FillTimes(InputEntry& entry, const std::string& path, const struct stat& st) {
    entry.lastAccessTime = FileTimeFromUnix(st.st_atim.tv_sec, st.st_atim.tv_nsec);
    entry.lastWriteTime = FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    entry.creationTime = entry.lastWriteTime;
    struct statx sx;
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME)) {
        entry.creationTime = FileTimeFromUnix(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec);
    }
}

// Checks the name and gives it its stored form.
void NameEntry(Walker& walker, InputEntry& entry) {
    const std::string& path = entry.sourcePath;
    if (!IsValidUtf8(entry.name)) throw InputError(Describe(path) + ": the name is not valid UTF-8");
    if (entry.name.empty() || !EntryNameIsSafe(entry.name.c_str())) {
        throw InputError(Describe(path) + ": the extractor refuses the name \"" + entry.name +
                         "\" (\"..\", a drive, a device name or an absolute path)");
    }
    std::optional<std::string> stored = FromUtf8(entry.name, walker.codePage);
    if (!stored) {
        throw InputError(Describe(path) + ": the name does not fit code page " +
                         std::string(CodePageName(walker.codePage)) + " (see --codepage)");
    }
    entry.storedName = *stored;
    if (!walker.names.insert(entry.storedName).second) {
        throw InputError(Describe(path) + ": a second entry named \"" + entry.name + "\"");
    }
}

void Walk(Walker& walker, const std::string& path, const std::string& name);

void AddFile(Walker& walker, const std::string& path, const std::string& name, const struct stat& st) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw InputError(Describe(path) + ": cannot be read: " + strerror(errno));
    uint8_t head[512];
    ssize_t got = read(fd, head, sizeof head);
    int readError = errno;
    close(fd);
    if (got < 0) throw InputError(Describe(path) + ": cannot be read: " + strerror(readError));
    InputEntry entry;
    entry.contentClass = ContentClassOf(head, static_cast<size_t>(got));
    entry.sourcePath = path;
    entry.name = name;
    entry.size = static_cast<uint64_t>(st.st_size);
    FillTimes(entry, path, st);
    NameEntry(walker, entry);
    walker.entries.push_back(std::move(entry));
}

void AddFolder(Walker& walker, const std::string& path, const std::string& name, const struct stat& st) {
    FileId id{st.st_dev, st.st_ino};
    for (const FileId& a : walker.ancestors) {
        if (!(a < id) && !(id < a)) throw InputError(Describe(path) + ": a link back to a folder that contains it");
    }
    DIR* dir = opendir(path.c_str());
    if (!dir) throw InputError(Describe(path) + ": cannot be read: " + strerror(errno));
    std::vector<std::string> children;
    errno = 0;
    while (struct dirent* d = readdir(dir)) {
        if (strcmp(d->d_name, ".") == 0 || strcmp(d->d_name, "..") == 0) continue;
        children.push_back(d->d_name);
    }
    int readError = errno;
    closedir(dir);
    if (readError != 0) throw InputError(Describe(path) + ": cannot be read: " + strerror(readError));
    std::sort(children.begin(), children.end());

    walker.ancestors.push_back(id);
    size_t before = walker.entries.size();
    std::string base = path.empty() || path.back() == '/' ? path : path + "/";
    for (const std::string& child : children) {
        if (child.find('\\') != std::string::npos) {
            throw InputError(Describe(base + child) + ": a backslash in a name cannot be stored");
        }
        Walk(walker, base + child, name.empty() ? child : name + "\\" + child);
    }
    walker.ancestors.pop_back();
    // An empty folder needs an entry of its own; any other is made by the
    // extractor for the files in it.
    if (walker.entries.size() == before && !name.empty()) {
        InputEntry entry;
        entry.sourcePath = path;
        entry.name = name;
        entry.isFolder = true;
        FillTimes(entry, path, st);
        NameEntry(walker, entry);
        walker.entries.push_back(std::move(entry));
    }
}

void Walk(Walker& walker, const std::string& path, const std::string& name) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) throw InputError(Describe(path) + ": " + strerror(errno));
    if (walker.haveExcluded && st.st_dev == walker.excluded.device && st.st_ino == walker.excluded.inode) return;
    if (S_ISREG(st.st_mode)) {
        AddFile(walker, path, name, st);
    } else if (S_ISDIR(st.st_mode)) {
        AddFolder(walker, path, name, st);
    } else {
        const char* kind = S_ISFIFO(st.st_mode) ? "a named pipe" : S_ISSOCK(st.st_mode) ? "a socket" : "a device";
        throw InputError(Describe(path) + ": " + kind + " cannot be stored");
    }
}

// The name a command-line path gives its entries: its last component, or
// nothing for ".", "..", "/" and paths ending in "/." or "/".
std::string TopName(const std::string& path) {
    if (path.empty() || path.back() == '/') return "";
    size_t slash = path.rfind('/');
    std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
    if (last == "." || last == "..") return "";
    return last;
}

}  // namespace

int ContentClassOf(const uint8_t* b, size_t n) {
    if (n == 0) return 0;
    if (n >= 4 && b[0] == 0x7F && b[1] == 'E' && b[2] == 'L' && b[3] == 'F') return 1;
    if (n >= 2 && b[0] == 'M' && b[1] == 'Z') return 2;
    if (n >= 2 && b[0] == 0x1F && b[1] == 0x8B) return 3;
    static const char* const kCompressed[] = {"\xFD" "7zXZ", "\x28\xB5\x2F\xFD", "BZh", "PK\x03\x04"};
    for (const char* magic : kCompressed) {
        size_t m = strlen(magic);
        if (n >= m && memcmp(b, magic, m) == 0) return 4;
    }
    for (size_t i = 0; i < n; ++i) {
        if (b[i] < 0x20 && b[i] != '\t' && b[i] != '\r' && b[i] != '\n' && b[i] != '\f') return 6;
    }
    return 5;
}

uint64_t FileTimeFromUnix(int64_t seconds, int64_t nanoseconds) {
    const int64_t kSecondsFrom1601To1970 = 11644473600;
    int64_t s = seconds + kSecondsFrom1601To1970;
    if (s < 0) return 0;
    return static_cast<uint64_t>(s) * 10000000u + static_cast<uint64_t>(nanoseconds / 100);
}

std::vector<InputEntry> CollectInputs(const std::vector<std::string>& paths, CodePage codePage,
                                      const std::string& excluded) {
    Walker walker;
    walker.codePage = codePage;
    struct stat st;
    if (!excluded.empty() && stat(excluded.c_str(), &st) == 0) {
        walker.haveExcluded = true;
        walker.excluded = FileId{st.st_dev, st.st_ino};
    }
    for (const std::string& path : paths) {
        std::string name = TopName(path);
        if (name.find('\\') != std::string::npos) {
            throw InputError(Describe(path) + ": a backslash in a name cannot be stored");
        }
        if (stat(path.c_str(), &st) != 0) throw InputError(Describe(path) + ": " + strerror(errno));
        if (name.empty() && !S_ISDIR(st.st_mode)) throw InputError(Describe(path) + ": not a folder");
        Walk(walker, path, name);
    }
    return std::move(walker.entries);
}
