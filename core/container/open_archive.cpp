#include "core/container/open_archive.h"

#include <string.h>

#include "core/container/block_stream.h"
#include "core/container/file_ops.h"
#include "core/container/keystream.h"
#include "core/container/password_prompt.h"
#include "core/driver/archive_session.h"
#include "core/driver/console.h"
#include "core/driver/fatal_exit.h"
#include "platform/platform.h"

static const char kBanner[] = "*** Tarnwick Ver. 2.11 ***  Tarnwick self-extractor";

void OpenArchive() {
    ConsoleWriteText(kBanner);
    ConsoleLineEnd();
    gSession.outputHandle = kInvalidFileHandle;

    if (gSession.explicitArchive) {
        ByteStringAssign(&gSession.archivePath, PlatformArgument(2), strlen(PlatformArgument(2)));
        PlatformImportPath(gSession.archivePath.bytes);
    } else {
        const char* module = PlatformModulePath();
        if (!module) ReadErrorExit();
        ByteStringAssign(&gSession.archivePath, module, strlen(module));
    }
    OpenArchiveFile();
}

void OpenArchiveFile() {
    ArchiveSession& s = gSession;
    s.archiveHandle = PlatformOpenForRead(ByteStringText(&s.archivePath));
    if (s.archiveHandle == kInvalidFileHandle) ReadErrorExit();

    // The trailer; a file under 12 bytes fails the seek.
    uint8_t length[8];
    if (!Seek64(s.archiveHandle, FileSize64(s.archiveHandle) - kTrailerSize)) ReadErrorExit();
    if (!ReadExact(s.archiveHandle, length, 8)) ReadErrorExit();
    uint64_t l = 0;
    for (int i = 7; i >= 0; i--) l = l << 8 | length[i];
    s.archiveLength = (int64_t)l;
    if (s.archiveLength < 0 || s.archiveLength > FileSize64(s.archiveHandle)) BrokenArchiveExit();

    // A length of 0 to 5 makes this read run past the end of the file.
    if (!Seek64(s.archiveHandle, FileSize64(s.archiveHandle) - s.archiveLength)) ReadErrorExit();
    if (!ReadExact(s.archiveHandle, s.signature, sizeof s.signature)) ReadErrorExit();
    if (memcmp(s.signature, kArchiveSignature, sizeof kArchiveSignature) != 0) BrokenArchiveExit();

    s.streamPosition = 0;
    if (s.unattended)
        ReadRawString(&s.message);
    else
        PrintArchiveMessage();
    ReadRawString(&s.runCommand);
    ReadPasswordDescriptor();
    if (s.passwordFlag && !s.unattended) PromptPassword();
}

void ReadRawString(ByteString* s) {
    ByteStringClear(s);
    for (;;) {
        uint8_t b;
        if (!ReadExact(gSession.archiveHandle, &b, 1)) ReadErrorExit();
        if (b == 0) return;
        ByteStringAppendByte(s, (char)b);
    }
}

void PrintArchiveMessage() {
    ByteString message = {};
    ReadRawString(&message);
    if (message.length == 0) return;
    // One write and flush per character, so that a double-byte character is
    // never split and the text appears as it is read.
    for (const char* p = message.bytes; *p;) {
        const char* next = PlatformCharNext(p);
        ConsoleWrite(p, (size_t)(next - p));
        ConsoleFlush();
        p = next;
    }
    ConsoleLineEnd();
    ByteStringFree(&message);
}

void ReadPasswordDescriptor() {
    ArchiveSession& s = gSession;
    uint8_t f;
    if (!ReadExact(s.archiveHandle, &f, 1)) ReadErrorExit();
    if (f == 0) {
        s.passwordFlag = false;
        s.keystreamState = kKeystreamSeed;
        return;
    }
    uint8_t check[2];
    s.passwordFlag = true;
    s.passwordIndex = 1;
    if (!ReadExact(s.archiveHandle, check, 2)) ReadErrorExit();
    s.passwordCheck = (uint16_t)((f ^ check[0]) | (f ^ check[1]) << 8);
    s.keystreamState = KeystreamSeedFor(true, s.passwordCheck);
}

void BrokenArchiveExit() {
    ConsoleWriteText("This file is broken.  Cannot expand.  Press ENTER key.\a");
    ConsoleLineEnd();
    if (!gSession.unattended) ConsoleDiscardLine();
    PlatformClose(gSession.archiveHandle);
    EndProcess(1);
}
