#include <mutex>
#include <vector>

#include "platform/resources.h"

namespace plat {

namespace {

std::mutex g_mutex;
std::vector<const ResourceEntry*>& Table() {
    static std::vector<const ResourceEntry*> table;
    return table;
}

char16_t Lower(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? c - u'A' + u'a' : c;
}

bool SameName(const char16_t* a, const char16_t* b) {
    for (; *a != 0 && *b != 0; ++a, ++b) {
        if (Lower(*a) != Lower(*b)) return false;
    }
    return *a == *b;
}

}  // namespace

void RegisterResources(const ResourceEntry* entries, size_t count) {
    const std::lock_guard<std::mutex> lock(g_mutex);
    for (size_t i = 0; i < count; ++i)
        Table().push_back(&entries[i]);
}

void* FindResourceW(void* module, const char16_t* name, uintptr_t type) {
    if (module != nullptr || name == nullptr) return nullptr;  // only the program's own
    const std::lock_guard<std::mutex> lock(g_mutex);
    for (const ResourceEntry* entry : Table()) {
        if (entry->type == type && SameName(entry->name, name)) {
            return const_cast<ResourceEntry*>(entry);
        }
    }
    return nullptr;
}

uint32_t SizeofResource(void* /*module*/, void* resource) {
    return resource != nullptr ? static_cast<uint32_t>(static_cast<ResourceEntry*>(resource)->size)
                               : 0;
}

// A loaded resource is the entry itself: the bytes are part of the executable.
void* LoadResource(void* /*module*/, void* resource) {
    return resource;
}

const void* LockResource(void* loaded) {
    return loaded != nullptr ? static_cast<ResourceEntry*>(loaded)->data : nullptr;
}

bool FreeResource(void* /*loaded*/) {
    return false;
}

}  // namespace plat
