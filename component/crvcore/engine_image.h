// The loader of the engine module: maps the image that the program carries, counts its
// holders and finds its exports. On NT the image is a PE32+ DLL that the loader maps
// itself; elsewhere it is a shared object of the system's own format, loaded from memory.
#pragma once

#include <cstddef>
#include <cstdint>

namespace crvcore {

// The version record's platform identifier is 2; false when the query fails.
bool IsNTPlatform();

// The process-wide lock around mapping and releasing; created when the unit starts and
// destroyed when it ends.
void CreateLoaderLock();
void DestroyLoaderLock();

// Maps size bytes of image and runs its process attach; null on any failure. While an
// image is mapped, later calls share it, ignore their image and raise the holder count.
void* LoadEngineImage(const void* image, size_t size, void** entry);
// Drops one holder; the last one runs process detach and releases the image. True only
// when the memory was released (for a shared object: when the system loader let it go).
// A pair this loader does not hold is refused.
bool FreeEngineImage(void* base, void* entry);
// The address of the export with that exact name, or null.
void* FindEngineExport(void* base, const char* name);

// The PE32+ mapper itself, without the sharing. Every offset of the image is checked
// against size: an image that points outside itself is refused, never followed.
void* LoadPeImage(const void* image, size_t size, void** entry);
// Runs process detach; releases the memory only when detach returned true.
bool FreePeImage(void* base, void* entry);
// Reads only inside the mapping; null for a base the mapper did not return.
void* FindPeExport(void* base, const char* name);

// How the mapper calls an image's entry routine (DllMain with instance and reason). The
// direct call by default; a fuzzer maps mutated images without running their bytes as
// code by putting its own caller here. Null restores the direct call.
using PeEntryCaller = int32_t (*)(void* routine, void* instance, uint32_t reason);
void SetPeEntryCaller(PeEntryCaller caller);

// The shared-object path. The entry is the module handle again: its initialisers and
// finalisers are the attach and detach, run by the system loader.
void* LoadElfImage(const void* image, size_t size, void** entry);
// What LoadElfImage checks before the system loader sees the bytes: a 64-bit
// little-endian shared object for this machine whose program headers, and every segment
// they load from the file, lie inside size bytes.
bool ElfImageIsWellFormed(const void* image, size_t size);
bool FreeElfImage(void* base, void* entry);

// How one image format is mapped and released; LoadEngineImage picks one by platform.
struct ImageFormat {
    void* (*load)(const void* image, size_t size, void** entry);
    bool (*release)(void* base, void* entry);
};
inline constexpr ImageFormat kPeImageFormat{&LoadPeImage, &FreePeImage};
inline constexpr ImageFormat kElfImageFormat{&LoadElfImage, &FreeElfImage};

// LoadEngineImage and FreeEngineImage with the format given, so that both formats can be
// exercised through the shared state on any platform.
void* LoadEngineImageAs(const ImageFormat& format, const void* image, size_t size, void** entry);
bool FreeEngineImageAs(const ImageFormat& format, void* base, void* entry);

// The number of holders of the shared image.
int32_t EngineImageHolders();

}  // namespace crvcore
