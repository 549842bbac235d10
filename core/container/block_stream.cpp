#include "core/container/block_stream.h"

#include "core/container/crc16.h"
#include "core/container/file_ops.h"
#include "core/container/keystream.h"
#include "core/driver/archive_session.h"
#include "core/driver/fatal_exit.h"

// Reads the block that starts at the file pointer, descrambles its data
// bytes in place and checks them. Afterwards blockLength is the number of
// data bytes (negative when fewer than 2 bytes were left).
static void OpenNextBlock() {
    ArchiveSession& s = gSession;
    int64_t remaining = FileSize64(s.archiveHandle) - Tell64(s.archiveHandle) - kTrailerSize;
    s.blockLength = remaining > kBlockSize ? kBlockSize : remaining;
    // remaining < 0: the raw head ran into the trailer.
    if (s.blockLength < 0 || !ReadExact(s.archiveHandle, s.blockBuffer, (uint32_t)s.blockLength))
        ReadErrorExit();

    int64_t dataLength = s.blockLength - 2;
    if (dataLength > 0) {
        KeystreamCursor cursor = {&s.keystreamState, &s.passwordIndex,
                                  (const uint8_t*)s.password.bytes,
                                  s.passwordFlag ? (int32_t)s.password.length : 0};
        KeystreamApply(&cursor, s.blockBuffer, (size_t)dataLength);
    }
    // Data, then the stored check bytes: the register ends at 0 exactly when
    // they hold the data's CRC-16. A block of 0 or 1 bytes feeds what it has.
    s.crcRegister = 0;
    for (int64_t i = 0; i < s.blockLength; i++) s.crcRegister = Crc16(s.crcRegister, s.blockBuffer[i]);
    if (s.crcRegister != 0) BrokenDataExit();
    s.blockLength = dataLength;
}

void NextStreamByte(uint8_t* b) {
    ArchiveSession& s = gSession;
    int64_t k = s.streamPosition % kBlockDataSize;
    if (k == 0) OpenNextBlock();
    // Past the end of the stream, or a block without data bytes.
    if (k >= s.blockLength) ReadErrorExit();
    // The last data byte of the block that ends at the trailer is the
    // stream's last byte.
    if (k == s.blockLength - 1 &&
        Tell64(s.archiveHandle) == FileSize64(s.archiveHandle) - kTrailerSize)
        s.endOfArchive = true;
    *b = s.blockBuffer[k];
    s.streamPosition++;
}
