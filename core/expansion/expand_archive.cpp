#include "core/expansion/expand_archive.h"

#include <stdlib.h>
#include <string.h>

#include "core/container/file_ops.h"
#include "core/decoder/output_window.h"
#include "core/driver/archive_session.h"
#include "core/driver/console.h"
#include "core/driver/directory_of.h"
#include "core/driver/fatal_exit.h"
#include "core/expansion/entry_record.h"
#include "core/expansion/history_table.h"
#include "core/expansion/make_folders.h"
#include "platform/platform.h"

// Everything one expansion works with, allocated once (about 6.4 MB, most
// of it the history table); nothing is allocated per entry or per byte.
struct ExpansionState {
    HistoryTable history;
    EntryDecoder decoder;
    EntryRecord record;
    ByteString folder;
};

// Asks before an existing file is overwritten; true to overwrite. Anything
// but y or n is passed over without asking again; end of input keeps the
// file, since nobody is there to answer.
static bool AskOverwrite() {
    ConsoleWriteText(ByteStringText(&gSession.outputName));
    ConsoleWriteText(" already exists. Overwrite? (Y/N) : \a");
    ConsoleFlush();
    for (;;) {
        int c = ConsoleReadAnswer();
        if (c == kConsoleEndOfInput) return false;
        if (c >= 'a' && c <= 'z') c -= 'a' - 'A';
        if (c == 'Y') return true;
        if (c == 'N') return false;
    }
}

static void SetOutputName(const char* targetFolder, const ByteString* name) {
    ByteStringAssign(&gSession.outputName, targetFolder, strlen(targetFolder));
    ByteStringAppend(&gSession.outputName, ByteStringText(name), name->length);
}

// Expands one file entry whose name has been read. fileEntriesBefore counts
// the file entries before it (capped, it only bounds back-references).
static void ExpandFileEntry(ExpansionState* state, int currentSlot, int fileEntriesBefore) {
    EntryRecord* record = &state->record;
    HistoryTable* history = &state->history;
    EntryDecoder* decoder = &state->decoder;

    ReadEntryHeader(record, &decoder->bits);
    if (record->entrySize < 0) BrokenDataExit();
    HistorySlot* current = &history->slots[currentSlot];
    current->length = record->entrySize < kHistorySlotSize ? (int32_t)record->entrySize : kHistorySlotSize;

    // The referenced slot: r file entries back; without a back-reference the
    // previous file entry, which supplies the preload only.
    int r = (int)record->backReference;
    if (r != 0 && r > fileEntriesBefore) BrokenDataExit();  // a slot nobody has filled
    const int32_t prefixLength = record->prefixLength;
    const HistorySlot* referenced = &history->slots[(currentSlot + kHistorySlots - (r ? r : 1)) % kHistorySlots];
    if (prefixLength < 0 || prefixLength > record->entrySize || prefixLength > referenced->length)
        BrokenDataExit();
    int32_t preloadStart, preloadLength;
    ComputePreload(referenced->length, prefixLength, &preloadStart, &preloadLength);

    bool skipEntry = false;
    if (PlatformFindFile(ByteStringText(&gSession.outputName))) skipEntry = !AskOverwrite();

    if (skipEntry) {
        ConsoleWriteText("skipping : ");
        ConsoleWriteText(ByteStringText(&gSession.outputName));
        ConsoleLineEnd();
    } else {
        ConsoleWriteText("expanding : ");
        ConsoleWriteText(ByteStringText(&gSession.outputName));
        ConsoleWriteText(" ... ");
        ConsoleFlush();
    }
    DirectoryOf(ByteStringText(&gSession.outputName), &state->folder);
    MakeFolders(ByteStringText(&state->folder));

    if (!skipEntry) {
        gSession.outputHandle = PlatformCreateForWrite(ByteStringText(&gSession.outputName));
        if (gSession.outputHandle == kInvalidFileHandle) WriteErrorExit();
        if (!WriteExact(gSession.outputHandle, referenced->data, (uint32_t)prefixLength)) WriteErrorExit();
    }
    memcpy(current->data, referenced->data, (size_t)prefixLength);
    StartOutputWindow(&decoder->window, referenced->data + preloadStart, preloadLength, prefixLength,
                      current->data, skipEntry);

    DecodeEntryBody(decoder, record->entrySize - prefixLength);

    if (!skipEntry) {
        FlushWindow(&decoder->window);
        if (!PlatformSetFileTimes(gSession.outputHandle, &record->creationTime, &record->lastAccessTime,
                                  &record->lastWriteTime))
            WriteErrorExit();
        if (!PlatformClose(gSession.outputHandle)) WriteErrorExit();
        gSession.outputHandle = kInvalidFileHandle;
        ConsoleWriteText("end.");
        ConsoleLineEnd();
    }
}

void ExpandArchive(const char* targetFolder) {
    ExpansionState* state = (ExpansionState*)malloc(sizeof(ExpansionState));
    if (!state) FatalExit();
    memset(&state->record, 0, sizeof state->record);
    memset(&state->folder, 0, sizeof state->folder);
    state->history.slots[0].length = 0;  // an empty file before the first one

    gSession.endOfArchive = false;
    int currentSlot = 1;
    int fileEntries = 0;
    while (!gSession.endOfArchive) {
        ReadEntryName(&state->record);
        SetOutputName(targetFolder, &state->record.name);
        if (!EntryNameIsSafe(ByteStringText(&state->record.name))) BrokenDataExit();
        if (IsFolderName(&gSession.outputName)) {
            // The folder path keeps the backslash of the "\." ending.
            ByteStringAssign(&state->folder, gSession.outputName.bytes, gSession.outputName.length - 1);
            MakeFolders(ByteStringText(&state->folder));
            continue;
        }
        ExpandFileEntry(state, currentSlot, fileEntries);
        currentSlot = (currentSlot + 1) % kHistorySlots;
        if (fileEntries < kHistorySlots) fileEntries++;
    }

    if (!PlatformClose(gSession.archiveHandle)) ReadErrorExit();
    gSession.archiveHandle = kInvalidFileHandle;
    ByteStringFree(&state->record.name);
    ByteStringFree(&state->folder);
    free(state);
}
