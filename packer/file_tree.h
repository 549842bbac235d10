// The inputs of `tarnwick create`: the files and folders named on the
// command line, walked recursively, checked and named as the archive stores
// them. Nothing is read but the file system's metadata, and every file is
// opened once to make sure it can be read, so that every refusal comes
// before anything is written.
#pragma once

#include <stdint.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "packer/codepage.h"

struct InputEntry {
    std::string sourcePath;  // where the file or folder is
    std::string name;        // UTF-8, relative, '\' between folders
    std::string storedName;  // `name` in the archive's code page
    bool isFolder = false;   // an empty folder: a folder entry of its own
    uint64_t size = 0;
    // What the first bytes say the file is (see ContentClassOf), so that
    // files without an extension still sit with their kind.
    int contentClass = 0;
    uint64_t creationTime = 0;  // FILETIMEs; creation is the birth time where the file system keeps one
    uint64_t lastAccessTime = 0;
    uint64_t lastWriteTime = 0;
};

// A file or folder that cannot be stored; the message names it.
struct InputError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Every regular file under the paths, and a folder entry for every empty
// folder. A path names a file or a folder; a folder's entries are named
// from the folder's own name on ("docs" gives "docs\a.txt"), except for a
// path that ends in "." or "/" whose contents go to the top level. Within a
// folder the order is the byte order of the names. `excluded` (the output
// file, when it exists) is passed over. Throws InputError.
std::vector<InputEntry> CollectInputs(const std::vector<std::string>& paths, CodePage codePage,
                                      const std::string& excluded = "");

// A file's kind from its first bytes: 1 ELF, 2 Windows program (MZ),
// 3 gzip, 4 other compressed (xz, zstd, bzip2, zip), 5 text (no control
// bytes but tab, CR, LF, FF in the first 512), 6 anything else; 0 empty.
int ContentClassOf(const uint8_t* bytes, size_t count);

// A FILETIME from seconds and nanoseconds since 1970 (0 before 1601).
uint64_t FileTimeFromUnix(int64_t seconds, int64_t nanoseconds);
