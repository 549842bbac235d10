// The block stream: everything after the raw head up to the trailer.
//
// The stream is cut into blocks of 4,096 data bytes (the last one holds the
// rest, at least 1), each followed by two check bytes: the CRC-16/UMTS of
// the descrambled data, high byte first, themselves not scrambled. No field
// gives the number of blocks; the stream ends where the 12-byte trailer
// begins, and a new block begins at every multiple of 4,096 stream bytes.
#pragma once

#include <stdint.h>

// Archive file bytes that follow the block stream.
static const int kTrailerSize = 12;

// Delivers the next descrambled byte of a verified block into *b. A new
// block is read, descrambled and checked whole before its first byte is
// delivered. Sets gSession.endOfArchive as the stream's last byte is
// delivered. Never returns without a byte: a read past the end ends in
// "File read error.", a damaged block in "This file is broken.".
void NextStreamByte(uint8_t* b);

// Look-ahead for the bit input. [*next, *end) are the data bytes of the
// current block that follow the stream position: already read and
// verified, so looking at them is invisible. Empty when that block is used
// up; the next block is opened only by NextStreamByte, when its first byte
// is needed.
void CurrentBlockBytes(const uint8_t** next, const uint8_t** end);

// Delivers the current block's bytes up to `upTo` (a pointer into the range
// of CurrentBlockBytes) as that many NextStreamByte calls would: the stream
// position moves on, and endOfArchive is set when the stream's last byte
// is among them.
void DeliverBlockBytes(const uint8_t* upTo);
