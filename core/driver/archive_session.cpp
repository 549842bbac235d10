#include "core/driver/archive_session.h"

#include <string.h>

ArchiveSession gSession;

void ResetArchiveSession() {
    ByteStringFree(&gSession.outputName);
    ByteStringFree(&gSession.archivePath);
    ByteStringFree(&gSession.runCommand);
    ByteStringFree(&gSession.password);
    ByteStringFree(&gSession.message);
    memset(&gSession, 0, sizeof gSession);
    gSession.outputHandle = kInvalidFileHandle;
    gSession.archiveHandle = kInvalidFileHandle;
}
