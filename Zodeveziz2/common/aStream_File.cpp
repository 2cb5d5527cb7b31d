#include "aStream_File.h"

#include "aFile.h"

namespace {

aErr sFileGet(uint8_t* byte, void* reference) {
    aFile* file = static_cast<aFile*>(reference);
    if (!file) return aErrIO;
    size_t n = 0;
    aErr err = aFile_Read(file, byte, 1, &n);
    if (err == aErrNone && n != 1) return aErrEOF;
    return err;
}

aErr sFileWrite(const uint8_t* data, size_t length, void* reference) {
    aFile* file = static_cast<aFile*>(reference);
    if (!file) return aErrIO;
    size_t n = 0;
    aErr err = aFile_Write(file, data, length, &n);
    if (err == aErrNone && n != length) return aErrWrite;
    return err;
}

aErr sFilePut(uint8_t byte, void* reference) {
    return sFileWrite(&byte, 1, reference);
}

aErr sFileDelete(void* reference) {
    aFile* file = static_cast<aFile*>(reference);
    if (!file) return aErrIO;
    return aFile_Close(&file);
}

aErr sCreate(const char* path, uint32_t mode, aStream** stream) {
    if (!path || !stream) return aErrResource;
    *stream = nullptr;
    aFile* file = aFile_Open(path, mode);
    if (!file) return aErrResource;
    aStream* s = mode == aFileModeReadOnly
                     ? aStream_Create(sFileGet, nullptr, nullptr, sFileDelete, file)
                     : aStream_Create(nullptr, sFilePut, sFileWrite, sFileDelete, file);
    if (!s) {
        aFile_Close(&file);
        return aErrResource;
    }
    *stream = s;
    return aErrNone;
}

} // namespace

aErr aStream_CreateFileInput(const char* path, aStream** stream) {
    return sCreate(path, aFileModeReadOnly, stream);
}

aErr aStream_CreateFileOutput(const char* path, aStream** stream) {
    return sCreate(path, aFileModeWriteOnly, stream);
}
