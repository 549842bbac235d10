#include "core/container/keystream.h"

uint32_t KeystreamSeedFor(bool passwordFlag, uint16_t passwordCheck) {
    return passwordFlag ? (kKeystreamSeed & 0xFFFF0000u) | passwordCheck : kKeystreamSeed;
}

void KeystreamApply(const KeystreamCursor* cursor, uint8_t* bytes, size_t count) {
    uint32_t state = *cursor->keystreamState;
    int32_t index = *cursor->passwordIndex;
    const int32_t passwordLength = cursor->passwordLength;
    for (size_t i = 0; i < count; i++) {
        uint8_t b = bytes[i];
        if (passwordLength > 0) {
            b ^= cursor->password[index - 1];
            index = index == passwordLength ? 1 : index + 1;
        }
        // Galois LFSR, x^31 + x^3 + 1: shift, and fold bit 31 back in.
        state <<= 1;
        if (state & 0x80000000u) state ^= 0x80000009u;
        bytes[i] = b ^ (uint8_t)state;
    }
    *cursor->keystreamState = state;
    *cursor->passwordIndex = index;
}
