// The engine as a shared object of the system's own format: loaded from the bytes in
// memory by the system loader, which also runs its attach (initialisers) and detach
// (finalisers). The module handle doubles as the entry token.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "component/crvcore/engine_image.h"
#include "platform/module.h"

namespace crvcore {

namespace {

// Handles this path loaded and has not released, so that a stale or foreign pair is
// refused instead of being handed to the system loader.
std::mutex g_handlesLock;
std::vector<void*> g_handles;

// ELF64 offsets: the file header and one program header.
constexpr size_t kElfHeaderSize = 64;
constexpr size_t kIdentClass = 4;
constexpr size_t kIdentData = 5;
constexpr size_t kIdentVersion = 6;
constexpr size_t kType = 16;
constexpr size_t kMachine = 18;
constexpr size_t kProgramHeaderOffset = 32;
constexpr size_t kProgramHeaderSize = 54;
constexpr size_t kProgramHeaderCount = 56;
constexpr size_t kPhType = 0;
constexpr size_t kPhOffset = 8;
constexpr size_t kPhVirtualAddress = 16;
constexpr size_t kPhFileSize = 32;
constexpr size_t kPhMemorySize = 40;
constexpr size_t kPhAlign = 48;
constexpr uint16_t kSharedObject = 3;  // ET_DYN
constexpr uint32_t kLoad = 1;          // PT_LOAD
constexpr uint32_t kDynamic = 2;       // PT_DYNAMIC
#if defined(__x86_64__)
constexpr uint16_t kThisMachine = 62;
#elif defined(__aarch64__)
constexpr uint16_t kThisMachine = 183;
#else
constexpr uint16_t kThisMachine = 0;  // no image is accepted
#endif

template <typename T>
T Field(const uint8_t* at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

}  // namespace

// The system loader trusts the file's own offsets; bytes that point outside themselves
// are refused here instead.
bool ElfImageIsWellFormed(const void* image, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(image);
    if (bytes == nullptr || size < kElfHeaderSize) return false;
    if (std::memcmp(bytes,
                    "\x7F"
                    "ELF",
                    4) != 0 ||
        bytes[kIdentClass] != 2 || bytes[kIdentData] != 1 || bytes[kIdentVersion] != 1) {
        return false;
    }
    if (Field<uint16_t>(bytes + kType) != kSharedObject ||
        Field<uint16_t>(bytes + kMachine) != kThisMachine || kThisMachine == 0) {
        return false;
    }
    const uint64_t table = Field<uint64_t>(bytes + kProgramHeaderOffset);
    const uint16_t entrySize = Field<uint16_t>(bytes + kProgramHeaderSize);
    const uint16_t count = Field<uint16_t>(bytes + kProgramHeaderCount);
    if (entrySize != 56 || count == 0 || table > size ||
        uint64_t{count} * entrySize > size - table) {
        return false;
    }
    bool loads = false;
    bool dynamic = false;
    for (uint16_t i = 0; i < count; ++i) {
        const uint8_t* ph = bytes + table + uint64_t{i} * entrySize;
        const uint32_t type = Field<uint32_t>(ph + kPhType);
        const uint64_t offset = Field<uint64_t>(ph + kPhOffset);
        const uint64_t fileSize = Field<uint64_t>(ph + kPhFileSize);
        if (offset > size || fileSize > size - offset) return false;
        if (type == kLoad) {
            const uint64_t address = Field<uint64_t>(ph + kPhVirtualAddress);
            const uint64_t memorySize = Field<uint64_t>(ph + kPhMemorySize);
            const uint64_t align = Field<uint64_t>(ph + kPhAlign);
            if (fileSize > memorySize || (align & (align - 1)) != 0) return false;
            if (align > 1 && (address - offset) % align != 0) return false;
            loads = true;
        }
        dynamic = dynamic || type == kDynamic;
    }
    return loads && dynamic;
}

void* LoadElfImage(const void* image, size_t size, void** entry) {
    if (image == nullptr || entry == nullptr) return nullptr;
    if (!ElfImageIsWellFormed(image, size)) return nullptr;
    void* handle = plat::LoadLibraryFromMemory(image, size);
    if (handle == nullptr) return nullptr;
    {
        std::lock_guard<std::mutex> hold(g_handlesLock);
        g_handles.push_back(handle);
    }
    *entry = handle;
    return handle;
}

bool FreeElfImage(void* base, void* entry) {
    if (base == nullptr || entry != base) return false;
    {
        std::lock_guard<std::mutex> hold(g_handlesLock);
        auto it = std::find(g_handles.begin(), g_handles.end(), base);
        if (it == g_handles.end()) return false;
        g_handles.erase(it);
    }
    return plat::FreeLibrary(base);
}

}  // namespace crvcore
