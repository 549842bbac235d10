#include "core/container/keystream.h"

uint32_t KeystreamSeedFor(bool passwordFlag, uint16_t passwordCheck) {
    return passwordFlag ? (kKeystreamSeed & 0xFFFF0000u) | passwordCheck : kKeystreamSeed;
}

// The register times x^j modulo x^31 + x^3 + 1, for 1 <= j <= 8: the j bits
// shifted out at the top fold back in at bits 3 and 0 (x^31 = x^3 + 1), and
// the fold cannot overflow again.
static inline uint32_t StepRegister(uint32_t state, int j) {
    uint32_t out = state >> (31 - j);
    return ((state << j) & 0x7FFFFFFFu) ^ (out << 3) ^ out;
}

void KeystreamApply(const KeystreamCursor* cursor, uint8_t* bytes, size_t count) {
    if (count == 0) return;
    const int32_t passwordLength = cursor->passwordLength;
    if (passwordLength > 0) {
        int32_t index = *cursor->passwordIndex;
        for (size_t i = 0; i < count; i++) {
            bytes[i] ^= cursor->password[index - 1];
            index = index == passwordLength ? 1 : index + 1;
        }
        *cursor->passwordIndex = index;
    }
    // Galois LFSR, x^31 + x^3 + 1, stepped before each byte; the byte takes
    // the low 8 bits. Bit 31 of a seed falls out at the first shift. Eight
    // outputs at a time all derive from one state, so they do not wait on
    // each other.
    uint32_t state = *cursor->keystreamState & 0x7FFFFFFFu;
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        for (int j = 1; j <= 8; j++) bytes[i + j - 1] ^= (uint8_t)StepRegister(state, j);
        state = StepRegister(state, 8);
    }
    for (; i < count; i++) {
        state = StepRegister(state, 1);
        bytes[i] ^= (uint8_t)state;
    }
    *cursor->keystreamState = state;
}
