#include <pthread.h>

#include <new>

#include "platform/critical_section.h"

namespace plat {

struct CriticalSection {
    pthread_mutex_t mutex;
};

CriticalSection* CreateCriticalSection() {
    auto* section = new (std::nothrow) CriticalSection;
    if (section == nullptr) return nullptr;
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    const int rc = pthread_mutex_init(&section->mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    if (rc != 0) {
        delete section;
        return nullptr;
    }
    return section;
}

void DeleteCriticalSection(CriticalSection* section) {
    if (section == nullptr) return;
    pthread_mutex_destroy(&section->mutex);
    delete section;
}

void EnterCriticalSection(CriticalSection* section) {
    if (section != nullptr) pthread_mutex_lock(&section->mutex);
}

void LeaveCriticalSection(CriticalSection* section) {
    if (section != nullptr) pthread_mutex_unlock(&section->mutex);
}

}  // namespace plat
