#include "core/container/crc16.h"

uint32_t Crc16(uint32_t crcRegister, uint8_t value) {
    for (int i = 0; i < 8; i++) {
        crcRegister <<= 1;
        if (crcRegister & 0x10000u) crcRegister ^= 0x18005u;
    }
    return crcRegister ^ value;
}

uint16_t Crc16Of(const uint8_t* bytes, size_t count) {
    uint32_t crcRegister = 0;
    for (size_t i = 0; i < count; i++) crcRegister = Crc16(crcRegister, bytes[i]);
    crcRegister = Crc16(crcRegister, 0);
    crcRegister = Crc16(crcRegister, 0);
    return (uint16_t)crcRegister;
}
