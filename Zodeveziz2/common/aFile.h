// File records with a validity word over buffered stdio streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "aError.h"

#define aFILE_MAX_PATH 4096

typedef enum { aFileModeReadOnly = 0, aFileModeWriteOnly = 1, aFileModeAppend = 2 } aFileMode;

typedef enum { aSeekStart = 0, aSeekCurrent = 1, aSeekEnd = 2 } aFileSeekMode;

typedef struct aFile {
    FILE* stream;
    uint32_t mode;
    uint32_t check;
} aFile;

bool aFile_Exists(const char* path);
aFile* aFile_Open(const char* path, uint32_t mode);
aErr aFile_Close(aFile** file);
aErr aFile_Read(aFile* file, void* buffer, size_t length, size_t* count);
aErr aFile_Write(aFile* file, const void* data, size_t length, size_t* count);
aErr aFile_Seek(aFile* file, long offset, int origin);
aErr aFile_GetSize(aFile* file, size_t* size);
aErr aFile_Delete(const char* path);
aErr aFile_ReadLine(aFile* file, char* buffer, size_t size, size_t* length);
aErr aFile_SetUnbuffered(aFile* file);
aErr aFile_GetPosition(aFile* file, size_t* position);
aErr aFile_Printf(aFile* file, const char* format, ...) __attribute__((format(printf, 2, 3)));
