#include "packer/archive_builder.h"

#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include "packer/archive_file_writer.h"
#include "packer/entry_writer.h"
#include "packer/history_mirror.h"
#include "packer/reference_choice.h"

namespace {

std::vector<uint8_t> ReadContents(const InputEntry& entry) {
    std::vector<uint8_t> bytes(entry.size);
    int fd = open(entry.sourcePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw InputError("\"" + entry.sourcePath + "\": cannot be read: " + strerror(errno));
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    char extra;
    bool grew = done == bytes.size() && read(fd, &extra, 1) > 0;
    close(fd);
    if (done != bytes.size() || grew) throw InputError("\"" + entry.sourcePath + "\": changed while it was read");
    return bytes;
}

}  // namespace

EncoderOptions BuildOptionsForLevel(int level) {
    EncoderOptions options = EncoderOptionsForLevel(level);
    return options;
}

BuildResult WriteArchiveFile(FILE* out, const std::vector<InputEntry>& entries, const BuildSettings& settings,
                             const std::function<void(const BuildProgress&)>& progress) {
    EncoderOptions options = BuildOptionsForLevel(settings.level);
    ArchiveFileWriter writer(out, settings.archive);
    HistoryMirror history;
    std::string previousName;
    BuildProgress done;
    for (const InputEntry& e : entries) {
        if (!e.isFolder) {
            ++done.totalFiles;
            done.totalBytes += e.size;
        }
    }
    BuildResult result;
    std::vector<uint8_t> stream;
    for (const InputEntry& e : entries) {
        EntryInput input;
        input.name = e.storedName;
        input.isFolder = e.isFolder;
        input.creationTime = e.creationTime;
        input.lastAccessTime = e.lastAccessTime;
        input.lastWriteTime = e.lastWriteTime;
        if (!e.isFolder) {
            input.contents = ReadContents(e);
            ReferenceChoice choice = ChooseReference(history, input.contents.data(),
                                                     static_cast<int64_t>(input.contents.size()), options);
            input.backReference = choice.backReference;
            input.prefixLength = choice.prefixLength;
            result.prefixBytes += static_cast<uint64_t>(choice.prefixLength);
        }
        stream.clear();
        AppendEntryRecord(stream, input, history, previousName, options);
        writer.Append(stream);
        if (!e.isFolder) {
            ++done.files;
            done.bytes += e.size;
            result.inputBytes += e.size;
            if (progress) progress(done);
        }
    }
    writer.Finish();
    result.fileBytes = writer.FileBytes();
    return result;
}
