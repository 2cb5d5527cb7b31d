// Named POSIX mutexes; the name only identifies the mutex.
#pragma once

#include <pthread.h>

#include "aError.h"

typedef struct aMutex {
    pthread_mutex_t mutex;
    char name[256];
} aMutex;

aMutex* aMutex_Create(const char* name);
const char* aMutex_Identifier(aMutex* mutex);
aErr aMutex_Destroy(aMutex** mutex);
aErr aMutex_Lock(aMutex* mutex);
aErr aMutex_TryLock(aMutex* mutex);
aErr aMutex_Unlock(aMutex* mutex);
