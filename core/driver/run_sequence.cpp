#include "core/driver/run_sequence.h"

#include <string.h>

#include "core/container/open_archive.h"
#include "core/driver/archive_session.h"
#include "core/driver/console.h"
#include "core/driver/directory_of.h"
#include "core/expansion/expand_archive.h"
#include "platform/platform.h"

void RunSequence() {
    // Only exactly two arguments, the first exactly "/e" (case-sensitive),
    // select explicit-archive mode.
    gSession.explicitArchive = PlatformArgumentCount() == 2 && strcmp(PlatformArgument(1), "/e") == 0;
    OpenArchive();

    ByteString targetFolder = {};
    DirectoryOf(ByteStringText(&gSession.archivePath), &targetFolder);
    ExpandArchive(ByteStringText(&targetFolder));

    // The whole command goes to the shell as the file to open, unsplit.
    if (gSession.runCommand.length != 0 &&
        PlatformShellStart(ByteStringText(&gSession.runCommand)) <= 32) {
        ConsoleWriteText("Couldn't run ");
        ConsoleWriteText(ByteStringText(&gSession.runCommand));
        ConsoleWrite(&kBell, 1);
        ConsoleLineEnd();
    }
    EndProcess(0);
}
