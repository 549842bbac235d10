#include "core/driver/fatal_exit.h"

#include "core/driver/archive_session.h"
#include "core/driver/console.h"
#include "platform/platform.h"

void FatalExit() {
    if (gSession.archiveHandle != kInvalidFileHandle) PlatformClose(gSession.archiveHandle);
    // A partial output file is removed; if it cannot even be closed it stays.
    if (gSession.outputHandle != kInvalidFileHandle && PlatformClose(gSession.outputHandle))
        PlatformDeleteFile(ByteStringText(&gSession.outputName));
    ConsoleWriteText("Press Enter key.\a");
    ConsoleLineEnd();
    if (!gSession.unattended) ConsoleDiscardLine();
    EndProcess(2);
}

void ReadErrorExit() {
    ConsoleWriteText("File read error.");
    ConsoleLineEnd();
    FatalExit();
}

void WriteErrorExit() {
    ConsoleWriteText("File write error.");
    ConsoleLineEnd();
    FatalExit();
}

void BrokenDataExit() {
    ConsoleWriteText("This file is broken.");
    ConsoleLineEnd();
    FatalExit();
}
