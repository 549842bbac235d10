// Builds an archive file from the collected inputs: reads each file,
// chooses its back-reference, encodes its record and streams the blocks
// out as they fill.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <functional>
#include <vector>

#include "packer/archive_writer.h"
#include "packer/file_tree.h"
#include "packer/lz77_encoder.h"

struct BuildSettings {
    int level = 6;           // 1..9
    ArchiveOptions archive;  // the leading extractor, message, run command, password
};

struct BuildProgress {
    uint64_t files = 0;
    uint64_t totalFiles = 0;
    uint64_t bytes = 0;
    uint64_t totalBytes = 0;
};

struct BuildResult {
    uint64_t inputBytes = 0;
    uint64_t fileBytes = 0;      // the whole output, extractor included
    uint64_t prefixBytes = 0;    // bytes taken over as prefixes
};

// Writes the entries, in the given order, to `out`. Throws InputError when
// a file cannot be read or has changed size, std::runtime_error when the
// output cannot be written.
BuildResult WriteArchiveFile(FILE* out, const std::vector<InputEntry>& entries, const BuildSettings& settings,
                             const std::function<void(const BuildProgress&)>& progress = nullptr);

// The encoder settings of a level, the reference choice included.
EncoderOptions BuildOptionsForLevel(int level);
