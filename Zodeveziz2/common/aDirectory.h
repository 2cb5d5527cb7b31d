// Directory checks, creation, listing and the home directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

#include "aError.h"

#define aDIR_PATH_SEP "/"

typedef struct aDirectoryListData {
    const char* path;
    uint32_t size;
    uint32_t isDirectory;
} aDirectoryListData;

// Returning false ends the listing.
typedef bool (*aDirectoryListCallback)(const aDirectoryListData* entry, void* context);

bool aDirectory_Exists(const char* path);
aErr aDirectory_Ensure(const char* path, mode_t mode);
aErr aDirectory_List(const char* path, aDirectoryListCallback callback, void* context);
aErr aDirectory_GetHomeDirectory(char* buffer, size_t size);
aErr aDirectory_JoinPath(char* buffer, size_t size, const char* first, const char* second);
