// File transport: a read-only or write-only stream over an aFile.
#pragma once

#include "aStream.h"

// Both give aErrResource when the file cannot be opened (or memory is short).
aErr aStream_CreateFileInput(const char* path, aStream** stream);
aErr aStream_CreateFileOutput(const char* path, aStream** stream);
