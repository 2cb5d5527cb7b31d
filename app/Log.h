// Diagnostic log filtered by package bits (switched on with -X).
#pragma once

#include <cstdint>
#include <cstdio>

// Package bits; names as the extended usage text lists them.
enum : uint32_t {
    DEBUG_Updater = 0x00000001,
    DEBUG_History = 0x00000002,
    DEBUG_Attributes = 0x00000004,
    DEBUG_BirdFile = 0x00000008,
    DEBUG_Network_Legacy = 0x00000010,
    DEBUG_ServerComm = 0x00000020,
    DEBUG_Network = 0x00000100,
    DEBUG_Network_SR = 0x00000200,
    DEBUG_Network_FIRM = 0x00000400,
    DEBUG_NXPSerial = 0x00001000,
    DEBUG_NXPSerial_E = 0x00002000,
    DEBUG_NXPSerial_SR = 0x00004000,
    DEBUG_APP = 0x00010000,
    DEBUG_iMXSerial = 0x10000000,
};

class Log {
  public:
    // Mask 0 always writes; otherwise only when a bit of mask is active.
    // Format strings carry their own newlines.
    static void log(uint32_t mask, const char* format, ...) __attribute__((format(printf, 2, 3)));
    static void SetOutput(FILE* stream);
    static void ActivatePackage(uint32_t mask);
    static void DeactivatePackage(uint32_t mask);

    static uint32_t package_bitmask;
    static FILE* fh;
};
