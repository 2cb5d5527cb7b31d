#include "Log.h"

#include <cstdarg>

uint32_t Log::package_bitmask = 0;
FILE* Log::fh = nullptr;

void Log::log(uint32_t mask, const char* format, ...) {
    if (mask != 0 && (mask & package_bitmask) == 0) return;
    if (!fh || !format) return;
    char buffer[2048];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    fputs(buffer, fh);
}

void Log::SetOutput(FILE* stream) { fh = stream; }

void Log::ActivatePackage(uint32_t mask) { package_bitmask |= mask; }

void Log::DeactivatePackage(uint32_t mask) { package_bitmask &= ~mask; }
