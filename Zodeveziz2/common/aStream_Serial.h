// Serial-port transport over termios: raw, 8N1 by default, reads return at once
// with what is there (after a short wait for readiness).
#pragma once

#include "aStream.h"

#define aSERIAL_CHECK 0xBEEF
#define aSERIAL_MAX_PATH 4096

// Longest wait of one get for an arriving byte.
#define aSERIAL_GET_WAIT_MS 20

// Baud codes 0..7: 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400.
// Returns the code of a rate, or -1 for a rate not in the table.
int aStream_SerialBaudCode(uint32_t bitsPerSecond);
// Bits per second of a code, 0 for a code not in the table.
uint32_t aStream_SerialBaudRate(uint32_t code);

// dataBits 0 = 8 bits, 1 = 7 bits; stopBits 0 = one, 1 = two; parity = even.
// Bad arguments give aErrResource; a failed open aErrNotFound, aErrPermission
// or aErrIO.
aErr aStream_CreateSerial(const char* path, uint32_t baudCode, bool parity, uint32_t dataBits,
                          uint32_t stopBits, aStream** stream);
