#include "aFile.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const uint32_t sFileCheck = 0xFEED;

bool sValid(const aFile* file) { return file && file->check == sFileCheck; }

bool sCanRead(const aFile* file) {
    return file->mode == aFileModeReadOnly || file->mode == aFileModeAppend;
}

bool sCanWrite(const aFile* file) {
    return file->mode == aFileModeWriteOnly || file->mode == aFileModeAppend;
}
} // namespace

bool aFile_Exists(const char* path) {
    if (!path || strlen(path) > aFILE_MAX_PATH) return false;
    struct stat st;
    if (stat(path, &st) != 0) return false;
    return !S_ISDIR(st.st_mode);
}

aFile* aFile_Open(const char* path, uint32_t mode) {
    if (!path || !*path || strlen(path) > aFILE_MAX_PATH) return nullptr;
    const char* text;
    switch (mode) {
    case aFileModeReadOnly: text = "rb"; break;
    case aFileModeWriteOnly: text = "wb"; break;
    case aFileModeAppend: text = "ab+"; break;
    default: return nullptr;
    }
    aFile* file = static_cast<aFile*>(calloc(1, sizeof(aFile)));
    if (!file) return nullptr;
    file->check = sFileCheck;
    file->stream = fopen(path, text);
    if (!file->stream) {
        free(file);
        return nullptr;
    }
    if (mode == aFileModeAppend) fseek(file->stream, 0, SEEK_END);
    file->mode = mode;
    return file;
}

aErr aFile_Close(aFile** file) {
    if (!file) return aErrParam;
    aFile* f = *file;
    *file = nullptr;
    if (!sValid(f)) return aErrParam;
    if (f->stream) fclose(f->stream);
    f->check = 0;
    free(f);
    return aErrNone;
}

aErr aFile_Read(aFile* file, void* buffer, size_t length, size_t* count) {
    if (!sValid(file)) return aErrParam;
    if (!sCanRead(file)) return aErrMode;
    if (count) *count = 0;
    if (length == 0) return aErrNone;
    if (!buffer) return aErrParam;
    size_t n = fread(buffer, 1, length, file->stream);
    if (count) *count = n;
    return n == 0 ? aErrEOF : aErrNone;
}

aErr aFile_Write(aFile* file, const void* data, size_t length, size_t* count) {
    if (!sValid(file)) return aErrParam;
    if (!sCanWrite(file)) return aErrMode;
    if (count) *count = 0;
    if (length == 0) return aErrNone;
    if (!data) return aErrParam;
    size_t n = fwrite(data, 1, length, file->stream);
    if (count) *count = n;
    return n == 0 ? aErrIO : aErrNone;
}

aErr aFile_GetSize(aFile* file, size_t* size) {
    if (!sValid(file) || !size) return aErrParam;
    // Flush pending writes so fstat sees them; the position stays put.
    fflush(file->stream);
    struct stat st;
    if (fstat(fileno(file->stream), &st) != 0) return aErrIO;
    *size = (size_t)st.st_size;
    return aErrNone;
}

aErr aFile_Seek(aFile* file, long offset, int origin) {
    if (!sValid(file)) return aErrParam;
    long position = ftell(file->stream);
    size_t size = 0;
    if (position < 0 || aFile_GetSize(file, &size) != aErrNone) return aErrIO;
    long base = origin == aSeekCurrent ? position : origin == aSeekEnd ? (long)size : 0;
    long target = base + offset;
    if (target < 0 || target > (long)size) return aErrRange;
    if (fseek(file->stream, target, SEEK_SET) != 0 || ftell(file->stream) < 0) return aErrIO;
    return aErrNone;
}

aErr aFile_Delete(const char* path) {
    if (!path) return aErrParam;
    if (strlen(path) > aFILE_MAX_PATH) return aErrFileNameLength;
    if (unlink(path) == 0) return aErrNone;
    switch (errno) {
    case ENOENT: return aErrNotFound;
    case EACCES:
    case EPERM: return aErrPermission;
    default: return aErrIO;
    }
}

aErr aFile_ReadLine(aFile* file, char* buffer, size_t size, size_t* length) {
    if (length) *length = 0;
    if (buffer && size > 0) buffer[0] = '\0';
    if (!sValid(file)) return aErrParam;
    if (!sCanRead(file)) return aErrMode;
    if (!buffer || size < 2) return aErrParam;
    if (!fgets(buffer, (int)(size > 0x7FFFFFFF ? 0x7FFFFFFF : size), file->stream)) {
        buffer[0] = '\0';
        return feof(file->stream) ? aErrEOF : aErrIO;
    }
    size_t n = strlen(buffer);
    if (length) *length = n;
    if (n == size - 1 && buffer[n - 1] != '\n') return aErrOverrun;
    return aErrNone;
}

aErr aFile_SetUnbuffered(aFile* file) {
    if (!sValid(file)) return aErrParam;
    if (!sCanWrite(file)) return aErrMode;
    return setvbuf(file->stream, nullptr, _IONBF, 0) == 0 ? aErrNone : aErrMode;
}

aErr aFile_GetPosition(aFile* file, size_t* position) {
    if (!sValid(file) || !position) return aErrParam;
    long p = ftell(file->stream);
    if (p < 0) return aErrIO;
    if (p > 0) *position = (size_t)p;
    return aErrNone;
}

aErr aFile_Printf(aFile* file, const char* format, ...) {
    if (!sValid(file) || !format) return aErrParam;
    if (!sCanWrite(file)) return aErrMode;
    va_list args;
    va_start(args, format);
    int n = vfprintf(file->stream, format, args);
    va_end(args);
    return n < 0 ? aErrIO : aErrNone;
}
