// Byte streams: a small table of transport functions plus a push-back buffer
// that makes multi-byte reads all-or-nothing. Transports fill the table; the
// link engine and the boot-ROM clients only see this record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "aError.h"

// Transport functions. Each gets the transport record as its last argument.
// get: aErrNone (one byte stored), aErrNotReady (nothing now), aErrEOF (nothing
// ever again), anything else is a transport failure.
typedef aErr (*aStreamGetProc)(uint8_t* byte, void* reference);
typedef aErr (*aStreamPutProc)(uint8_t byte, void* reference);
typedef aErr (*aStreamWriteProc)(const uint8_t* data, size_t length, void* reference);
typedef aErr (*aStreamDeleteProc)(void* reference);

#define aSTREAM_CHECK 0x4321
#define aSTREAM_BUFFER_STEP 512

typedef struct aStream {
    aStreamGetProc get;
    aStreamPutProc put;
    aStreamWriteProc write;
    aStreamDeleteProc deleteProc;
    void* reference;
    uint8_t* buffer; // push-back ring, made on first use
    size_t buffered;
    size_t capacity;
    size_t readIndex;
    size_t writeIndex;
    uint16_t check;
} aStream;

typedef aStream* aStreamRef;

bool aVALIDSTREAM(const aStream* stream);

aStream* aStream_Create(aStreamGetProc get, aStreamPutProc put, aStreamWriteProc write,
                        aStreamDeleteProc deleteProc, void* reference);
// Calls the transport's delete, frees the record and nulls *stream; returns
// the delete function's result.
aErr aStream_Destroy(aStream** stream);

// All count bytes or none: on aErrNotReady the bytes already taken are kept in
// the push-back buffer for the next read. On aErrEOF the bytes read so far are
// copied. Returns the last transport result.
aErr aStream_Read(aStream* stream, uint8_t* buffer, size_t count);
// Block write when the transport has one and length > 1, else put per byte.
aErr aStream_Write(aStream* stream, const uint8_t* data, size_t length);
// Appends one byte to the push-back buffer (delivered first in, first out).
aErr aStreamBufferChar(aStream* stream, uint8_t byte);
// Number of bytes waiting in the push-back buffer.
size_t aStream_Buffered(const aStream* stream);

// Reads up to the terminator (not stored) or until size bytes are stored.
aErr aStream_ReadRecord(aStream* stream, uint8_t* buffer, size_t* length, size_t size,
                        const uint8_t* terminator, size_t terminatorLength);
aErr aStream_WriteRecord(aStream* stream, const uint8_t* data, size_t length,
                         const uint8_t* terminator, size_t terminatorLength);
// Reads up to a zero byte, at most size - 1 characters, always terminated.
aErr aStream_ReadCString(aStream* stream, char* buffer, size_t size);
aErr aStream_WriteCString(aStream* stream, const char* text);
aErr aStream_ReadCStringRecord(aStream* stream, char* buffer, size_t size, const char* terminator);
aErr aStream_WriteCStringRecord(aStream* stream, const char* text, const char* terminator);

// Copies source to destination until the source stops delivering; aErrEOF
// counts as success.
aErr aStream_Flush(aStream* source, aStream* destination);
