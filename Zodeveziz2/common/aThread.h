// POSIX threads behind a heap-held handle.
#pragma once

#include <pthread.h>

typedef void* (*aThreadFunction)(void* argument);

typedef struct aThread {
    pthread_t thread;
} aThread;

aThread* aThread_Create(aThreadFunction function, void* argument);
// Joins the thread, releases the handle and nulls the reference.
int aThread_Destroy(aThread** thread);
void aThread_Yield();
