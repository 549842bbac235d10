// CRC-16/UMTS: polynomial 0x8005 (x^16 + x^15 + x^2 + 1), initial value 0,
// no reflection, no final XOR. Check value for "123456789": 0xFEE8.
//
// The format keeps the register in the form of a polynomial remainder:
// Crc16 shifts the register through 8 zero bits and then XORs the byte in.
// Consequences the block check and the password check rely on:
//   - feeding a message, then two zero bytes, leaves its CRC-16/UMTS;
//   - feeding a message, then its CRC-16/UMTS high byte first, leaves 0.
#pragma once

#include <stddef.h>
#include <stdint.h>

// One step with byte `value`; returns the new register (16 significant bits).
uint32_t Crc16(uint32_t crcRegister, uint8_t value);

// CRC-16/UMTS of `count` bytes: the check value a block stores (high byte
// first) and the password check value. Table-driven; equal to feeding the
// bytes and then two zero bytes to Crc16.
uint16_t Crc16Of(const uint8_t* bytes, size_t count);
