#include "core/expansion/expand_archive.h"

#include <stdlib.h>
#include <string.h>

#include "core/container/file_ops.h"
#include "core/driver/archive_session.h"
#include "core/driver/console.h"
#include "core/driver/directory_of.h"
#include "core/driver/fatal_exit.h"
#include "core/expansion/make_folders.h"
#include "platform/platform.h"

// One state per process, reused by every expansion: nothing is allocated
// per entry or per byte.
static ExpansionState* gExpansionState;

ExpansionState* BeginExpansion() {
    if (!gExpansionState) {
        gExpansionState = (ExpansionState*)calloc(1, sizeof(ExpansionState));
        if (!gExpansionState) FatalExit();
    }
    ExpansionState* state = gExpansionState;
    ByteStringClear(&state->record.name);
    state->history.slots[0].length = 0;  // an empty file before the first one
    state->currentSlot = 1;
    state->fileEntries = 0;
    gSession.endOfArchive = false;
    return state;
}

bool ReadNextEntry(ExpansionState* state, const char* targetFolder) {
    if (gSession.endOfArchive) return false;
    EntryRecord* record = &state->record;
    ReadEntryName(record);
    ByteStringAssign(&gSession.outputName, targetFolder, strlen(targetFolder));
    ByteStringAppend(&gSession.outputName, ByteStringText(&record->name), record->name.length);
    if (!EntryNameIsSafe(ByteStringText(&record->name))) BrokenDataExit();
    record->isFolder = IsFolderName(&gSession.outputName);
    if (record->isFolder) return true;

    ReadEntryHeader(record, &state->decoder.bits);
    if (record->entrySize < 0) BrokenDataExit();
    state->history.slots[state->currentSlot].length =
        record->entrySize < kHistorySlotSize ? (int32_t)record->entrySize : kHistorySlotSize;

    // r file entries back; without a back-reference the previous file entry,
    // which supplies the preload only. A reference to a slot that no file
    // entry has filled, or a prefix longer than the file or than what the
    // slot holds, is outside the format.
    int r = (int)record->backReference;
    if (r > state->fileEntries) BrokenDataExit();
    state->referenced = &state->history.slots[(state->currentSlot + kHistorySlots - (r ? r : 1)) % kHistorySlots];
    if (record->prefixLength < 0 || record->prefixLength > record->entrySize ||
        record->prefixLength > state->referenced->length)
        BrokenDataExit();
    ComputePreload(state->referenced->length, record->prefixLength, &state->preloadStart, &state->preloadLength);
    return true;
}

const char* FolderEntryPath(ExpansionState* state) {
    ByteStringAssign(&state->folder, gSession.outputName.bytes, gSession.outputName.length - 1);
    return ByteStringText(&state->folder);
}

void DecodeFileEntry(ExpansionState* state, bool skipEntry) {
    const int32_t prefixLength = state->record.prefixLength;
    const HistorySlot* referenced = state->referenced;
    HistorySlot* current = &state->history.slots[state->currentSlot];
    if (!skipEntry && !WriteExact(gSession.outputHandle, referenced->data, (uint32_t)prefixLength))
        WriteErrorExit();
    memcpy(current->data, referenced->data, (size_t)prefixLength);
    StartOutputWindow(&state->decoder.window, referenced->data + state->preloadStart, state->preloadLength,
                      prefixLength, current->data, skipEntry);
    DecodeEntryBody(&state->decoder, state->record.entrySize - prefixLength);
    state->currentSlot = (state->currentSlot + 1) % kHistorySlots;
    if (state->fileEntries < kHistorySlots) state->fileEntries++;
}

void FinishFileEntry(ExpansionState* state) {
    const EntryRecord* record = &state->record;
    FlushWindow(&state->decoder.window);
    if (!PlatformSetFileTimes(gSession.outputHandle, &record->creationTime, &record->lastAccessTime,
                              &record->lastWriteTime))
        WriteErrorExit();
    if (!PlatformClose(gSession.outputHandle)) WriteErrorExit();
    gSession.outputHandle = kInvalidFileHandle;
}

void EndExpansion(ExpansionState*) {
    if (!PlatformClose(gSession.archiveHandle)) ReadErrorExit();
    gSession.archiveHandle = kInvalidFileHandle;
}

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

static void ExpandFileEntry(ExpansionState* state) {
    const char* fullName = ByteStringText(&gSession.outputName);
    bool skipEntry = PlatformFindFile(fullName) && !AskOverwrite();
    if (skipEntry) {
        ConsoleWriteText("skipping : ");
        ConsoleWriteText(fullName);
        ConsoleLineEnd();
    } else {
        // Stays open until "end." completes it; any error continues it.
        ConsoleWriteText("expanding : ");
        ConsoleWriteText(fullName);
        ConsoleWriteText(" ... ");
        ConsoleFlush();
    }
    DirectoryOf(fullName, &state->folder);
    MakeFolders(ByteStringText(&state->folder));

    if (!skipEntry) {
        gSession.outputHandle = PlatformCreateForWrite(fullName);
        if (gSession.outputHandle == kInvalidFileHandle) WriteErrorExit();
    }
    DecodeFileEntry(state, skipEntry);
    if (skipEntry) return;
    FinishFileEntry(state);
    ConsoleWriteText("end.");
    ConsoleLineEnd();
}

void ExpandArchive(const char* targetFolder) {
    ExpansionState* state = BeginExpansion();
    while (ReadNextEntry(state, targetFolder)) {
        if (state->record.isFolder)
            MakeFolders(FolderEntryPath(state));
        else
            ExpandFileEntry(state);
    }
    EndExpansion(state);
}
