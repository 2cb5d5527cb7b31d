#include "aMutex.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {
aErr sMap(int rc) {
    switch (rc) {
    case 0: return aErrNone;
    case EINVAL: return aErrParam;
    case EAGAIN: return aErrResource;
    case EBUSY: return aErrBusy;
    case EDEADLK: return aErrDuplicate;
    case EPERM: return aErrPermission;
    default: return aErrUnknown;
    }
}
} // namespace

aMutex* aMutex_Create(const char* name) {
    if (name && strlen(name) >= sizeof(((aMutex*)nullptr)->name)) return nullptr;
    aMutex* m = static_cast<aMutex*>(calloc(1, sizeof(aMutex)));
    if (!m) return nullptr;
    if (pthread_mutex_init(&m->mutex, nullptr) != 0) {
        free(m);
        return nullptr;
    }
    if (name) strcpy(m->name, name);
    return m;
}

const char* aMutex_Identifier(aMutex* mutex) { return mutex ? mutex->name : nullptr; }

aErr aMutex_Destroy(aMutex** mutex) {
    if (!mutex || !*mutex) return aErrParam;
    aErr e = sMap(pthread_mutex_destroy(&(*mutex)->mutex));
    if (e != aErrNone) return e;
    free(*mutex);
    *mutex = nullptr;
    return aErrNone;
}

aErr aMutex_Lock(aMutex* mutex) {
    if (!mutex) return aErrParam;
    return sMap(pthread_mutex_lock(&mutex->mutex));
}

aErr aMutex_TryLock(aMutex* mutex) {
    if (!mutex) return aErrParam;
    return sMap(pthread_mutex_trylock(&mutex->mutex));
}

aErr aMutex_Unlock(aMutex* mutex) {
    if (!mutex) return aErrParam;
    return sMap(pthread_mutex_unlock(&mutex->mutex));
}
