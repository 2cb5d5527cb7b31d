#include "aStream.h"

#include <cstdlib>
#include <cstring>

namespace {

bool sGrow(aStream* s) {
    size_t capacity = s->capacity + aSTREAM_BUFFER_STEP;
    uint8_t* buffer = static_cast<uint8_t*>(malloc(capacity));
    if (!buffer) return false;
    // Copy in delivery order so the new ring starts at index 0.
    for (size_t i = 0; i < s->buffered; i++)
        buffer[i] = s->buffer[(s->readIndex + i) % s->capacity];
    free(s->buffer);
    s->buffer = buffer;
    s->capacity = capacity;
    s->readIndex = 0;
    s->writeIndex = s->buffered;
    return true;
}

bool sEnsureRoom(aStream* s) {
    if (!s->buffer || s->buffered + 1 >= s->capacity) return sGrow(s);
    return true;
}

bool sTakeBuffered(aStream* s, uint8_t* byte) {
    if (s->buffered == 0) return false;
    *byte = s->buffer[s->readIndex];
    s->readIndex = (s->readIndex + 1) % s->capacity;
    s->buffered--;
    return true;
}

// Puts bytes back in front of whatever is still buffered, keeping their order.
aErr sUnread(aStream* s, const uint8_t* data, size_t count) {
    for (size_t i = count; i > 0; i--) {
        if (!sEnsureRoom(s)) return aErrMemory;
        s->readIndex = (s->readIndex + s->capacity - 1) % s->capacity;
        s->buffer[s->readIndex] = data[i - 1];
        s->buffered++;
    }
    return aErrNone;
}

aErr sGetByte(aStream* s, uint8_t* byte) {
    if (sTakeBuffered(s, byte)) return aErrNone;
    if (!s->get) return aErrMode;
    return s->get(byte, s->reference);
}

} // namespace

bool aVALIDSTREAM(const aStream* stream) {
    return stream && stream->check == aSTREAM_CHECK;
}

aStream* aStream_Create(aStreamGetProc get, aStreamPutProc put, aStreamWriteProc write,
                        aStreamDeleteProc deleteProc, void* reference) {
    aStream* s = static_cast<aStream*>(calloc(1, sizeof(aStream)));
    if (!s) return nullptr;
    s->get = get;
    s->put = put;
    s->write = write;
    s->deleteProc = deleteProc;
    s->reference = reference;
    s->check = aSTREAM_CHECK;
    return s;
}

aErr aStream_Destroy(aStream** stream) {
    if (!stream || !aVALIDSTREAM(*stream)) return aErrParam;
    aStream* s = *stream;
    aErr err = aErrNone;
    if (s->deleteProc) err = s->deleteProc(s->reference);
    free(s->buffer);
    s->check = 0;
    free(s);
    *stream = nullptr;
    return err;
}

size_t aStream_Buffered(const aStream* stream) {
    return aVALIDSTREAM(stream) ? stream->buffered : 0;
}

aErr aStreamBufferChar(aStream* stream, uint8_t byte) {
    if (!aVALIDSTREAM(stream)) return aErrParam;
    if (!sEnsureRoom(stream)) return aErrMemory;
    stream->buffer[stream->writeIndex] = byte;
    stream->writeIndex = (stream->writeIndex + 1) % stream->capacity;
    stream->buffered++;
    return aErrNone;
}

aErr aStream_Read(aStream* stream, uint8_t* buffer, size_t count) {
    if (!aVALIDSTREAM(stream) || !buffer) return aErrParam;
    if (count == 1) return sGetByte(stream, buffer); // the reader's hot path
    uint8_t local[64];
    uint8_t* taken = count <= sizeof(local) ? local : static_cast<uint8_t*>(malloc(count));
    if (!taken) return aErrMemory;
    aErr err = aErrNone;
    size_t n = 0;
    while (n < count) {
        err = sGetByte(stream, &taken[n]);
        if (err != aErrNone) break;
        n++;
    }
    if (n < count && err == aErrNotReady) {
        aErr kept = sUnread(stream, taken, n);
        if (kept != aErrNone) err = kept;
    } else if (n == count || err == aErrEOF) {
        memcpy(buffer, taken, n);
    }
    if (taken != local) free(taken);
    return err;
}

aErr aStream_Write(aStream* stream, const uint8_t* data, size_t length) {
    if (!aVALIDSTREAM(stream) || !data) return aErrParam;
    if (stream->write && length > 1) return stream->write(data, length, stream->reference);
    if (!stream->put)
        return stream->write ? stream->write(data, length, stream->reference) : aErrMode;
    for (size_t i = 0; i < length; i++) {
        aErr err = stream->put(data[i], stream->reference);
        if (err != aErrNone) return err;
    }
    return aErrNone;
}

aErr aStream_ReadRecord(aStream* stream, uint8_t* buffer, size_t* length, size_t size,
                        const uint8_t* terminator, size_t terminatorLength) {
    if (!aVALIDSTREAM(stream) || !buffer || !length) return aErrParam;
    if (terminatorLength > 0 && !terminator) return aErrParam;
    *length = 0;
    size_t stored = 0, matched = 0;
    for (;;) {
        if (matched > 0 && matched == terminatorLength) break;
        if (stored >= size) break;
        uint8_t b;
        aErr err = sGetByte(stream, &b);
        if (err == aErrEOF) {
            // Held terminator bytes that never completed are data after all.
            for (size_t i = 0; i < matched && stored < size; i++)
                buffer[stored++] = terminator[i];
            if (stored == 0) return aErrEOF;
            break;
        }
        if (err != aErrNone) {
            if (err == aErrNotReady) {
                // Everything taken goes back, held terminator bytes included.
                if (matched) sUnread(stream, terminator, matched);
                sUnread(stream, buffer, stored);
            }
            return err;
        }
        if (terminatorLength > 0 && b == terminator[matched]) {
            matched++;
            continue;
        }
        if (matched > 0) {
            // A partial match that failed: its first byte was data, the rest
            // and this byte are scanned again.
            uint8_t again[1] = {b};
            sUnread(stream, again, 1);
            sUnread(stream, terminator + 1, matched - 1);
            b = terminator[0];
            matched = 0;
        }
        buffer[stored++] = b;
    }
    *length = stored;
    return aErrNone;
}

aErr aStream_WriteRecord(aStream* stream, const uint8_t* data, size_t length,
                         const uint8_t* terminator, size_t terminatorLength) {
    if (!aVALIDSTREAM(stream) || !data) return aErrParam;
    if (terminatorLength > 0 && !terminator) return aErrParam;
    aErr err = length ? aStream_Write(stream, data, length) : aErrNone;
    if (err == aErrNone && terminatorLength)
        err = aStream_Write(stream, terminator, terminatorLength);
    return err;
}

aErr aStream_ReadCString(aStream* stream, char* buffer, size_t size) {
    static const uint8_t zero = 0;
    if (!aVALIDSTREAM(stream) || !buffer || size == 0) return aErrParam;
    size_t length = 0;
    aErr err =
        aStream_ReadRecord(stream, reinterpret_cast<uint8_t*>(buffer), &length, size - 1, &zero, 1);
    buffer[length] = 0;
    return err;
}

aErr aStream_WriteCString(aStream* stream, const char* text) {
    if (!aVALIDSTREAM(stream) || !text) return aErrParam;
    return aStream_Write(stream, reinterpret_cast<const uint8_t*>(text), strlen(text) + 1);
}

aErr aStream_ReadCStringRecord(aStream* stream, char* buffer, size_t size, const char* terminator) {
    if (!aVALIDSTREAM(stream) || !buffer || size == 0) return aErrParam;
    if (!terminator) return aErrParam;
    size_t length = 0;
    aErr err = aStream_ReadRecord(stream, reinterpret_cast<uint8_t*>(buffer), &length, size - 1,
                                  reinterpret_cast<const uint8_t*>(terminator), strlen(terminator));
    buffer[length] = 0;
    return err;
}

aErr aStream_WriteCStringRecord(aStream* stream, const char* text, const char* terminator) {
    if (!aVALIDSTREAM(stream) || !text || !terminator) return aErrParam;
    aErr err = aStream_Write(stream, reinterpret_cast<const uint8_t*>(text), strlen(text));
    if (err == aErrNone)
        err = aStream_Write(stream, reinterpret_cast<const uint8_t*>(terminator),
                            strlen(terminator) + 1);
    return err;
}

aErr aStream_Flush(aStream* source, aStream* destination) {
    if (!aVALIDSTREAM(source) || !aVALIDSTREAM(destination)) return aErrParam;
    if (!source->get || !destination->put) return aErrMode;
    for (;;) {
        uint8_t b;
        aErr err = sGetByte(source, &b);
        if (err == aErrEOF) return aErrNone;
        if (err != aErrNone) return err;
        err = destination->put(b, destination->reference);
        if (err != aErrNone) return err;
    }
}
