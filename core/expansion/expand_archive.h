// The expansion loop over the entry records of the block stream.
//
// ExpandArchive is the extractor's loop, with its dialogue. It is made of
// steps that other front ends (the packer's list, test and extract) drive
// with a dialogue of their own, so that there is one reader of records,
// one history table and one decoder:
//
//   ExpansionState* state = BeginExpansion();
//   while (ReadNextEntry(state, targetFolder)) {
//       folder entry: make it;  file entry: decide, create the file,
//       DecodeFileEntry(state, skip), then FinishFileEntry(state)
//   }
//   EndExpansion(state);
#pragma once

#include <stdint.h>

#include "core/decoder/output_window.h"
#include "core/driver/byte_string.h"
#include "core/expansion/entry_record.h"
#include "core/expansion/history_table.h"

struct ExpansionState {
    HistoryTable history;
    EntryDecoder decoder;
    EntryRecord record;  // the record just read
    ByteString folder;   // scratch for folder paths
    int currentSlot;     // the slot of the current (or next) file entry
    int fileEntries;     // file entries read so far, capped at 256
    // The current file entry's source of prefix and preload.
    const HistorySlot* referenced;
    int32_t preloadStart;
    int32_t preloadLength;
};

// Sets up the working state of one expansion: the history table (about
// 6 MB; allocated once per process and reused), an empty previous name,
// slot 1 current. Clears gSession.endOfArchive.
ExpansionState* BeginExpansion();

// Reads the next record and sets gSession.outputName to targetFolder + its
// name. For a file entry the header is read too and checked against the
// format's bounds; an unsafe name or an impossible record ends in
// "This file is broken.". Returns false, reading nothing, once the stream's
// last byte has been delivered.
bool ReadNextEntry(ExpansionState* state, const char* targetFolder);

// The folder path of a folder entry: its full name without the final ".".
const char* FolderEntryPath(ExpansionState* state);

// Produces the current file entry: writes the prefix and the decoded bytes
// to gSession.outputHandle unless `skipEntry`, fills the entry's history
// slot either way, and moves on to the next slot. The window still holds
// the last bytes: FlushWindow(&state->decoder.window) writes them.
void DecodeFileEntry(ExpansionState* state, bool skipEntry);

// Finishes a written file entry: writes what the window still holds, sets
// the three time stamps (after the last write, so the file keeps its stored
// last write time), closes the file. Any failure: "File write error.".
void FinishFileEntry(ExpansionState* state);

// Closes the archive ("File read error." when that fails).
void EndExpansion(ExpansionState* state);

// The extractor's loop: expands (or, where the user declines to overwrite,
// skips) every entry into `targetFolder` (empty, or ending with a
// backslash), then closes the archive. Every failure ends the process.
void ExpandArchive(const char* targetFolder);
