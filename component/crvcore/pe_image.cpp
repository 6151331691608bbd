// The PE32+ mapper: one walk over the image, in the order the Windows loader uses, with
// every offset checked against the bytes it points into before it is followed.
#include "component/crvcore/pe_image.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "component/crvcore/engine_image.h"
#include "platform/module.h"
#include "platform/virtual_memory.h"

namespace crvcore {

namespace {

// DllMain. Declared with the Windows calling convention so that real Windows code can be
// called from Linux builds too.
using EntryRoutine = int32_t(__attribute__((ms_abi)) *)(void* instance, uint32_t reason,
                                                        void* reserved);

// A range of bytes with checked access; offsets are 64-bit so that adding two 32-bit
// fields cannot wrap.
class Bytes {
  public:
    Bytes(const void* data, uint64_t size)
        : data_(static_cast<const uint8_t*>(data)), size_(size) {}

    bool Has(uint64_t offset, uint64_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }

    template <typename T>
    bool Read(uint64_t offset, T* value) const {
        if (!Has(offset, sizeof(T))) return false;
        std::memcpy(value, data_ + offset, sizeof(T));
        return true;
    }

    // Only for a range that Has() accepted.
    const uint8_t* At(uint64_t offset) const { return data_ + offset; }

    // A NUL-terminated string starting at offset and ending inside the range.
    const char* String(uint64_t offset) const {
        if (offset >= size_) return nullptr;
        if (std::memchr(data_ + offset, 0, size_ - offset) == nullptr) return nullptr;
        return reinterpret_cast<const char*>(data_ + offset);
    }

  private:
    const uint8_t* data_;
    uint64_t size_;
};

struct Headers {
    uint64_t nt = 0;  // offset of the signature
    uint16_t sectionCount = 0;
    uint64_t sectionTable = 0;
    uint64_t imageBase = 0;
    uint32_t entryPoint = 0;
    uint32_t sizeOfImage = 0;
    uint32_t sizeOfHeaders = 0;
    uint32_t directoryCount = 0;  // directories the optional header really holds
};

// Signature, file header, PE32+ optional header and section table, all inside bytes.
bool ReadHeaders(const Bytes& bytes, Headers* h) {
    uint32_t lfanew = 0;
    uint32_t signature = 0;
    uint16_t optionalSize = 0;
    uint16_t magic = 0;
    uint32_t rvaAndSizes = 0;
    if (!bytes.Read(pe::kDosLfanew, &lfanew)) return false;
    h->nt = lfanew;
    if (!bytes.Read(h->nt, &signature) || signature != pe::kNtSignature) return false;
    if (!bytes.Read(h->nt + pe::kFileNumberOfSections, &h->sectionCount) ||
        !bytes.Read(h->nt + pe::kFileSizeOfOptionalHeader, &optionalSize)) {
        return false;
    }
    const uint64_t optional = h->nt + pe::kOptionalHeader;
    if (optionalSize < pe::kOptDataDirectories || !bytes.Has(optional, optionalSize)) return false;
    // Inside the fixed part, which Has() just accepted.
    bytes.Read(optional + pe::kOptMagic, &magic);
    if (magic != pe::kPe32PlusMagic) return false;
    bytes.Read(optional + pe::kOptAddressOfEntryPoint, &h->entryPoint);
    bytes.Read(optional + pe::kOptImageBase, &h->imageBase);
    bytes.Read(optional + pe::kOptSizeOfImage, &h->sizeOfImage);
    bytes.Read(optional + pe::kOptSizeOfHeaders, &h->sizeOfHeaders);
    bytes.Read(optional + pe::kOptNumberOfRvaAndSizes, &rvaAndSizes);
    const uint32_t room = (optionalSize - pe::kOptDataDirectories) / pe::kDataDirectorySize;
    h->directoryCount = rvaAndSizes < room ? rvaAndSizes : room;
    h->sectionTable = optional + optionalSize;
    return bytes.Has(h->sectionTable, uint64_t{h->sectionCount} * pe::kSectionHeaderSize);
}

// The VirtualAddress of a data directory; 0 for one the header does not hold.
uint32_t DirectoryAddress(const Bytes& bytes, const Headers& h, uint32_t index) {
    uint32_t address = 0;
    if (index < h.directoryCount) {
        bytes.Read(h.nt + pe::kOptionalHeader + pe::kOptDataDirectories +
                       uint64_t{index} * pe::kDataDirectorySize,
                   &address);
    }
    return address;
}

struct Section {
    uint32_t sizeOfRawData = 0;
    uint32_t pointerToRawData = 0;
};

// Whether [begin, end) meets one of the ranges so far; adds it to them.
bool Overlaps(std::vector<std::pair<uint64_t, uint64_t>>& ranges, uint64_t begin, uint64_t end) {
    if (begin == end) return false;
    for (const auto& [b, e] : ranges) {
        if (begin < e && b < end) return true;
    }
    ranges.emplace_back(begin, end);
    return false;
}

// Copies every section's raw data to its place; the rest stays zero. Finds the ".reloc"
// section (the last, should there be several). Sections that share addresses in the image,
// or raw data in the file, are refused: no linker writes them, and they would let a few
// bytes of file be copied, and walked, many times over.
bool MapSections(const Bytes& file, const Headers& h, uint8_t* dest, Section* reloc,
                 bool* hasReloc) {
    *hasReloc = false;
    std::vector<std::pair<uint64_t, uint64_t>> inImage;
    std::vector<std::pair<uint64_t, uint64_t>> inFile;
    for (uint32_t i = 0; i < h.sectionCount; ++i) {
        const uint64_t header = h.sectionTable + uint64_t{i} * pe::kSectionHeaderSize;
        char name[8] = {};
        uint32_t virtualSize = 0;
        uint32_t virtualAddress = 0;
        Section s;
        file.Read(header, &name);
        file.Read(header + pe::kSecVirtualSize, &virtualSize);
        file.Read(header + pe::kSecVirtualAddress, &virtualAddress);
        file.Read(header + pe::kSecSizeOfRawData, &s.sizeOfRawData);
        file.Read(header + pe::kSecPointerToRawData, &s.pointerToRawData);
        const uint32_t extent = virtualSize > s.sizeOfRawData ? virtualSize : s.sizeOfRawData;
        if (uint64_t{virtualAddress} + extent > h.sizeOfImage) return false;
        if (Overlaps(inImage, virtualAddress, uint64_t{virtualAddress} + extent) ||
            Overlaps(inFile, s.pointerToRawData, uint64_t{s.pointerToRawData} + s.sizeOfRawData)) {
            return false;
        }
        if (s.sizeOfRawData > 0) {
            if (!file.Has(s.pointerToRawData, s.sizeOfRawData)) return false;
            std::memcpy(dest + virtualAddress, file.At(s.pointerToRawData), s.sizeOfRawData);
        }
        // Equal up to the terminating zero.
        if (std::memcmp(name, ".reloc", 7) == 0) {
            *reloc = s;
            *hasReloc = true;
        }
    }
    return true;
}

template <typename T>
void AddAt(uint8_t* target, T delta) {
    T value;
    std::memcpy(&value, target, sizeof value);
    value = static_cast<T>(value + delta);
    std::memcpy(target, &value, sizeof value);
}

// Walks the relocation blocks in the file's copy of the ".reloc" raw data, bounded by its
// size, and patches the mapping. A zero block leaves the block pointer where it is and
// uses up 8 bytes of the bound, so trailing padding ends the walk.
bool Relocate(const Bytes& file, const Section& reloc, const Headers& h, uint8_t* dest) {
    const uint64_t delta = reinterpret_cast<uintptr_t>(dest) - h.imageBase;
    const uint32_t delta32 = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(dest)) -
                             static_cast<uint32_t>(h.imageBase);
    const Bytes blocks(file.At(reloc.pointerToRawData), reloc.sizeOfRawData);
    const uint64_t limit = reloc.sizeOfRawData;
    uint64_t block = 0;
    uint64_t processed = 0;
    while (processed < limit) {
        uint32_t page = 0;
        uint32_t blockSize = 0;
        // A tail too short for a block header can only be padding.
        if (!blocks.Read(block, &page) || !blocks.Read(block + 4, &blockSize)) break;
        if (blockSize == 0) {
            processed += pe::kRelocBlockHeader;
            continue;
        }
        if (blockSize < pe::kRelocBlockHeader || blockSize % 2 != 0 ||
            !blocks.Has(block, blockSize)) {
            return false;
        }
        for (uint64_t at = pe::kRelocBlockHeader; at < blockSize; at += 2) {
            uint16_t entry = 0;
            blocks.Read(block + at, &entry);
            const unsigned type = entry >> 12;
            const uint64_t target = uint64_t{page} + (entry & 0xFFFu);
            if (type == pe::kRelocDir64) {
                if (target + 8 > h.sizeOfImage) return false;
                AddAt<uint64_t>(dest + target, delta);
            } else if (type == pe::kRelocHighLow) {
                if (target + 4 > h.sizeOfImage) return false;
                AddAt<uint32_t>(dest + target, delta32);
            }
        }
        block += blockSize;
        processed += blockSize;
    }
    return true;
}

constexpr uint32_t kMaxExports = 0x10000;

// Walks the export directory at directory. With a name, *function becomes the RVA of the
// last entry of that name and *found tells whether there was one; without a name, every
// entry is checked. False when a table or record lies outside the image.
bool WalkExports(const Bytes& image, uint32_t directory, const char* name, uint64_t* function,
                 bool* found) {
    *found = false;
    if (directory == 0) return true;
    uint32_t functionCount = 0;
    uint32_t nameCount = 0;
    uint32_t functions = 0;
    uint32_t names = 0;
    uint32_t ordinals = 0;
    if (!image.Has(directory, pe::kExportDirectorySize)) return false;
    image.Read(uint64_t{directory} + pe::kExpNumberOfFunctions, &functionCount);
    image.Read(uint64_t{directory} + pe::kExpNumberOfNames, &nameCount);
    image.Read(uint64_t{directory} + pe::kExpAddressOfFunctions, &functions);
    image.Read(uint64_t{directory} + pe::kExpAddressOfNames, &names);
    image.Read(uint64_t{directory} + pe::kExpAddressOfNameOrdinals, &ordinals);
    // Ordinals are 16-bit: no image has more functions to reach, and more names than
    // that can only repeat one another.
    if (functionCount > kMaxExports || nameCount > kMaxExports) return false;
    if (!image.Has(functions, uint64_t{functionCount} * 4) ||
        !image.Has(names, uint64_t{nameCount} * 4) ||
        !image.Has(ordinals, uint64_t{nameCount} * 2)) {
        return false;
    }
    for (uint64_t i = 0; i < nameCount; ++i) {
        uint32_t nameRva = 0;
        image.Read(names + i * 4, &nameRva);
        const char* entryName = image.String(nameRva);
        if (entryName == nullptr) return false;
        if (name != nullptr && std::strcmp(entryName, name) != 0) continue;
        uint16_t ordinal = 0;
        uint32_t rva = 0;
        image.Read(ordinals + i * 2, &ordinal);
        if (ordinal >= functionCount) return false;
        image.Read(functions + uint64_t{ordinal} * 4, &rva);
        if (!image.Has(rva, 1)) return false;
        *function = rva;
        *found = true;
    }
    return true;
}

// Binds every import descriptor's address slots, reading the descriptors, thunks and
// names from the mapping. A module that cannot be loaded fails the image; a function it
// lacks leaves a null slot.
bool BindImports(uint8_t* dest, const Headers& h, uint32_t directory) {
    const Bytes image(dest, h.sizeOfImage);
    for (uint64_t d = directory;; d += pe::kImportDescriptorSize) {
        uint32_t lookups = 0;
        uint32_t nameRva = 0;
        uint32_t slots = 0;
        if (!image.Has(d, pe::kImportDescriptorSize)) return false;
        image.Read(d + pe::kImpOriginalFirstThunk, &lookups);
        if (lookups == 0) return true;
        image.Read(d + pe::kImpName, &nameRva);
        image.Read(d + pe::kImpFirstThunk, &slots);
        const char* moduleName = image.String(nameRva);
        if (moduleName == nullptr) return false;
        void* module = plat::GetModuleHandleA(moduleName);
        if (module == nullptr) module = plat::LoadLibraryA(moduleName);
        if (module == nullptr) return false;
        for (uint64_t k = 0;; k += 8) {
            uint64_t lookup = 0;
            if (!image.Read(uint64_t{lookups} + k, &lookup)) return false;
            if (lookup == 0) break;
            if (!image.Has(uint64_t{slots} + k, 8)) return false;
            void* function = nullptr;
            if ((lookup & pe::kOrdinalFlag) != 0) {
                // GetProcAddress reads anything above 16 bits as a name pointer.
                const uint64_t ordinal = lookup & ~pe::kOrdinalFlag;
                if (ordinal > 0xFFFF) return false;
                function = plat::GetProcAddress(module, reinterpret_cast<const char*>(ordinal));
            } else {
                // The 16-bit hint comes first.
                const char* functionName = image.String(lookup + 2);
                if (functionName == nullptr) return false;
                function = plat::GetProcAddress(module, functionName);
            }
            std::memcpy(dest + slots + k, &function, sizeof function);
        }
    }
}

// The mapper's images, with the size FindPeExport may read and the entry FreePeImage
// may call.
struct Mapping {
    void* base;
    uint32_t size;
    void* entry;
};

std::mutex g_mappingsLock;
std::vector<Mapping> g_mappings;

bool FindMapping(void* base, Mapping* found) {
    std::lock_guard<std::mutex> hold(g_mappingsLock);
    for (const Mapping& m : g_mappings) {
        if (m.base == base) {
            *found = m;
            return true;
        }
    }
    return false;
}

void ForgetMapping(void* base) {
    std::lock_guard<std::mutex> hold(g_mappingsLock);
    for (auto it = g_mappings.begin(); it != g_mappings.end(); ++it) {
        if (it->base == base) {
            g_mappings.erase(it);
            return;
        }
    }
}

int32_t CallEntryDirectly(void* routine, void* instance, uint32_t reason) {
    return reinterpret_cast<EntryRoutine>(routine)(instance, reason, nullptr);
}

std::atomic<PeEntryCaller> g_entryCaller{&CallEntryDirectly};

int32_t CallEntry(void* routine, void* instance, uint32_t reason) {
    return g_entryCaller.load()(routine, instance, reason);
}

void* Refuse(uint8_t* dest) {
    plat::VirtualFree(dest, 0, plat::MEM_RELEASE);
    return nullptr;
}

}  // namespace

void SetPeEntryCaller(PeEntryCaller caller) {
    g_entryCaller.store(caller != nullptr ? caller : &CallEntryDirectly);
}

void* LoadPeImage(const void* image, size_t size, void** entry) {
    if (image == nullptr || entry == nullptr) return nullptr;
    const Bytes file(image, size);
    Headers h;
    if (!ReadHeaders(file, &h)) return nullptr;
    // The headers the mapping keeps must hold the section table, which FindPeExport reads
    // through; the entry routine must lie inside the image (0 would run the headers).
    const uint64_t headersEnd = h.sectionTable + uint64_t{h.sectionCount} * pe::kSectionHeaderSize;
    if (h.sizeOfImage == 0 || h.sizeOfHeaders > size || h.sizeOfHeaders > h.sizeOfImage ||
        h.sizeOfHeaders < headersEnd || h.entryPoint == 0 || h.entryPoint >= h.sizeOfImage) {
        return nullptr;
    }

    auto* dest = static_cast<uint8_t*>(plat::VirtualAlloc(nullptr, h.sizeOfImage,
                                                          plat::MEM_RESERVE | plat::MEM_COMMIT,
                                                          plat::PAGE_EXECUTE_READWRITE));
    if (dest == nullptr) return nullptr;
    std::memcpy(dest, image, h.sizeOfHeaders);

    Section reloc;
    bool hasReloc = false;
    if (!MapSections(file, h, dest, &reloc, &hasReloc)) return Refuse(dest);
    // Applied even when dest is ImageBase: the walk also checks the blocks.
    if (hasReloc && !Relocate(file, reloc, h, dest)) return Refuse(dest);

    // Checked before anything is loaded on the image's behalf.
    const Bytes mapped(dest, h.sizeOfImage);
    uint64_t unused = 0;
    bool none = false;
    if (!WalkExports(mapped, DirectoryAddress(mapped, h, pe::kExportDirectory), nullptr, &unused,
                     &none)) {
        return Refuse(dest);
    }
    const uint32_t imports = DirectoryAddress(mapped, h, pe::kImportDirectory);
    if (imports != 0 && !BindImports(dest, h, imports)) return Refuse(dest);

    void* routine = dest + h.entryPoint;
    {
        std::lock_guard<std::mutex> hold(g_mappingsLock);
        g_mappings.push_back(Mapping{dest, h.sizeOfImage, routine});
    }
    if (CallEntry(routine, dest, pe::kProcessAttach) == 0) {
        ForgetMapping(dest);
        return Refuse(dest);
    }
    *entry = routine;
    return dest;
}

bool FreePeImage(void* base, void* entry) {
    Mapping m;
    if (base == nullptr || entry == nullptr || !FindMapping(base, &m) || m.entry != entry) {
        return false;
    }
    // A detach that refuses keeps the image; a later call may try again.
    if (CallEntry(entry, base, pe::kProcessDetach) == 0) {
        return false;
    }
    ForgetMapping(base);
    return plat::VirtualFree(base, 0, plat::MEM_RELEASE);
}

void* FindPeExport(void* base, const char* name) {
    Mapping m;
    if (base == nullptr || name == nullptr || !FindMapping(base, &m)) return nullptr;
    // The image's own code may have changed its headers since; read them again, checked.
    const Bytes image(base, m.size);
    Headers h;
    uint64_t rva = 0;
    bool found = false;
    if (!ReadHeaders(image, &h) ||
        !WalkExports(image, DirectoryAddress(image, h, pe::kExportDirectory), name, &rva, &found) ||
        !found) {
        return nullptr;
    }
    return static_cast<uint8_t*>(base) + rva;
}

}  // namespace crvcore
