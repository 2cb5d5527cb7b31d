#include "aThread.h"

#include <cstdlib>
#include <unistd.h>

aThread* aThread_Create(aThreadFunction function, void* argument) {
    if (!function) return nullptr;
    aThread* t = static_cast<aThread*>(calloc(1, sizeof(aThread)));
    if (!t) return nullptr;
    if (pthread_create(&t->thread, nullptr, function, argument) != 0) {
        free(t);
        return nullptr;
    }
    return t;
}

int aThread_Destroy(aThread** thread) {
    if (!thread || !*thread) return 0;
    int rc = pthread_join((*thread)->thread, nullptr);
    free(*thread);
    *thread = nullptr;
    return rc;
}

void aThread_Yield() { usleep(5); }
