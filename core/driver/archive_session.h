// ArchiveSession: the process-wide state of one run, one instance.
//
// The extractor runs one straight sequence in one thread; every operation
// of the format reads and writes this record. Each field is owned by the
// layer named beside it and documented there.
#pragma once

#include <stdint.h>

#include "core/driver/byte_string.h"
#include "platform/platform.h"

// Data bytes per block, and the block's two CRC bytes behind them.
static const int kBlockDataSize = 4096;
static const int kBlockSize = kBlockDataSize + 2;

struct ArchiveSession {
    // Driver (run sequence, fatal exits).
    bool explicitArchive;     // "/e path" on the command line
    FileHandle outputHandle;  // the file being written; kInvalidFileHandle at all other times
    ByteString outputName;    // full name of the record being worked on

    // Container: archive frame.
    FileHandle archiveHandle;  // open archive file; kInvalidFileHandle before the open
    ByteString archivePath;
    int64_t archiveLength;     // from the trailer: signature to end of file
    uint8_t signature[6];
    ByteString runCommand;     // possibly empty
    bool passwordFlag;
    uint16_t passwordCheck;    // CRC-16/UMTS of the password

    // Container: block stream. blockBuffer[0 .. blockLength) are the current
    // block's descrambled data bytes once the block has passed its check.
    uint8_t blockBuffer[kBlockSize];
    int64_t blockLength;
    int64_t streamPosition;  // stream bytes delivered so far
    uint32_t crcRegister;    // 16 significant bits
    bool endOfArchive;       // set when the stream's last byte is delivered
    uint32_t keystreamState;
    int32_t passwordIndex;   // 1-based index of the next password byte

    // Container: password prompt.
    ByteString password;     // the accepted password

    // Front ends other than the extractor (the packer's list, test and
    // extract) run unattended: nobody is at the console, so the exits do
    // not wait for Enter, the archive's message is kept in `message`
    // instead of printed, and the caller settles the password itself
    // (gSession.password, checked against passwordCheck) instead of the
    // prompt. The extractor never sets it.
    bool unattended;
    ByteString message;
};

extern ArchiveSession gSession;

// Puts the session into its state at process start (handles none, strings
// empty). Called once by the program before anything else.
void ResetArchiveSession();
