#include "core/container/crc16.h"

// Slicing by 8: table 0 holds the CRC of each byte value alone, table j
// that of the byte followed by j zero bytes, so eight bytes cost eight
// independent look-ups instead of eight dependent ones. Filled on first
// use: zeroed data take no room in the program file.
static uint16_t gCrcTables[8][256];
static bool gTablesReady;

static void FillTables() {
    for (int v = 0; v < 256; v++) {
        uint32_t crc = (uint32_t)v << 8;
        for (int i = 0; i < 8; i++) crc = (crc << 1) ^ ((crc & 0x8000u) ? 0x8005u : 0u);
        gCrcTables[0][v] = (uint16_t)crc;
    }
    for (int j = 1; j < 8; j++)
        for (int v = 0; v < 256; v++) {
            uint16_t prev = gCrcTables[j - 1][v];
            gCrcTables[j][v] = (uint16_t)((prev << 8) ^ gCrcTables[0][prev >> 8]);
        }
    gTablesReady = true;
}

uint32_t Crc16(uint32_t crcRegister, uint8_t value) {
    for (int i = 0; i < 8; i++) {
        crcRegister <<= 1;
        if (crcRegister & 0x10000u) crcRegister ^= 0x18005u;
    }
    return crcRegister ^ value;
}

uint16_t Crc16Of(const uint8_t* bytes, size_t count) {
    if (!gTablesReady) FillTables();
    uint32_t crc = 0;
    for (; count >= 8; bytes += 8, count -= 8) {
        crc = gCrcTables[7][bytes[0] ^ (crc >> 8)] ^ gCrcTables[6][bytes[1] ^ (crc & 0xFF)] ^
              gCrcTables[5][bytes[2]] ^ gCrcTables[4][bytes[3]] ^ gCrcTables[3][bytes[4]] ^
              gCrcTables[2][bytes[5]] ^ gCrcTables[1][bytes[6]] ^ gCrcTables[0][bytes[7]];
    }
    for (; count > 0; bytes++, count--) crc = ((crc << 8) & 0xFFFFu) ^ gCrcTables[0][(crc >> 8) ^ *bytes];
    return (uint16_t)crc;
}
