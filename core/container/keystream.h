// The keystream that scrambles every data byte of the block stream.
//
// Each data byte is XORed with the next password byte (when the archive has
// a password) and with the low byte of a 31-bit Galois LFSR, feedback
// polynomial x^31 + x^3 + 1, stepped once before each byte. The stream is
// seeded once and runs over the whole archive: block and entry boundaries
// do not reset it, and the two CRC bytes of each block step nothing.
// Scrambling and unscrambling are the same operation.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Seed of an archive without password. A protected archive keeps the high
// half and puts its password check value into the low half.
static const uint32_t kKeystreamSeed = 0x3C1A7E92u;

uint32_t KeystreamSeedFor(bool passwordFlag, uint16_t passwordCheck);

// The keystream's moving parts. passwordIndex is 1-based; password may be
// null when passwordLength is 0 (no password, or an accepted empty one:
// then only the shift register scrambles).
struct KeystreamCursor {
    uint32_t* keystreamState;
    int32_t* passwordIndex;
    const uint8_t* password;
    int32_t passwordLength;
};

// Scrambles (or unscrambles) `count` bytes in place, in stream order.
void KeystreamApply(const KeystreamCursor* cursor, uint8_t* bytes, size_t count);
