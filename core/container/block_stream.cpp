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
    // Feeding the data and then the stored check bytes to the register
    // leaves the data's CRC-16 XOR the stored value: 0 exactly when they
    // match. A block of 0 or 1 bytes feeds what it has.
    if (dataLength >= 0) {
        uint32_t stored = (uint32_t)s.blockBuffer[dataLength] << 8 | s.blockBuffer[dataLength + 1];
        s.crcRegister = Crc16Of(s.blockBuffer, (size_t)dataLength) ^ stored;
    } else {
        s.crcRegister = 0;
        for (int64_t i = 0; i < s.blockLength; i++) s.crcRegister = Crc16(s.crcRegister, s.blockBuffer[i]);
    }
    if (s.crcRegister != 0) BrokenDataExit();
    s.blockLength = dataLength;
}

// The last data byte of the block that ends at the trailer is the stream's
// last byte.
static void NoteIfLastByte(int64_t k) {
    ArchiveSession& s = gSession;
    if (k == s.blockLength - 1 && Tell64(s.archiveHandle) == FileSize64(s.archiveHandle) - kTrailerSize)
        s.endOfArchive = true;
}

void NextStreamByte(uint8_t* b) {
    ArchiveSession& s = gSession;
    int64_t k = s.streamPosition % kBlockDataSize;
    if (k == 0) OpenNextBlock();
    // Past the end of the stream, or a block without data bytes.
    if (k >= s.blockLength) ReadErrorExit();
    NoteIfLastByte(k);
    *b = s.blockBuffer[k];
    s.streamPosition++;
}

void CurrentBlockBytes(const uint8_t** next, const uint8_t** end) {
    ArchiveSession& s = gSession;
    int64_t k = s.streamPosition % kBlockDataSize;
    // At k = 0 the block in the buffer is used up (or none is open yet).
    int64_t stop = k == 0 || s.blockLength < k ? k : s.blockLength;
    *next = s.blockBuffer + k;
    *end = s.blockBuffer + stop;
}

void DeliverBlockBytes(const uint8_t* upTo) {
    ArchiveSession& s = gSession;
    int64_t k = s.streamPosition % kBlockDataSize;
    int64_t count = upTo - (s.blockBuffer + k);
    if (count <= 0) return;
    s.streamPosition += count;
    NoteIfLastByte(k + count - 1);
}
