// A complete PE32+ test image: entry routine, data to relocate, relocation blocks,
// imports, exports and a tail of non-zero bytes that ends the image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tests/component/pe_builder.h"

namespace test::pe {

// What the logging entry routine records, at the offsets its code writes.
struct EntryLog {
    int32_t attaches = 0;
    int32_t detaches = 0;
    uint64_t instance = 0;
    uint32_t reason = 0xFFFFFFFF;
    uint32_t unused = 0;
    uint64_t reserved = 0xDEADBEEF;
    int32_t answer = 1;  // what the routine returns
};

enum class EntryCode {
    kTrue,    // mov eax, 1; ret
    kFalse,   // xor eax, eax; ret
    kLogged,  // records the call in an EntryLog and returns its answer
};

// Offsets inside .data of the values the relocation blocks patch.
inline constexpr uint32_t kLogPointer = 0x00;      // not relocated: a host address
inline constexpr uint32_t kDir64 = 0x10;           // ImageBase + kDir64Value
inline constexpr uint32_t kDir64Unaligned = 0x23;  // ImageBase + kDir64UnalignedValue
inline constexpr uint32_t kHighLow = 0x40;         // low 32 bits of ImageBase + kHighLowValue
inline constexpr uint32_t kHighAdj = 0x48;         // type 4: left alone
inline constexpr uint32_t kAfterZeroBlock = 0x60;  // its block follows a zero block
inline constexpr uint32_t kZeroFilled = 0x1008;    // DIR64 in the zero-filled part, 2nd block
inline constexpr uint64_t kDir64Value = 0x1000;
inline constexpr uint64_t kDir64UnalignedValue = 0x2345;
inline constexpr uint32_t kHighLowValue = 0x1111;
inline constexpr uint32_t kHighAdjValue = 0x11223344;
inline constexpr uint32_t kDataRawSize = 0x200;
inline constexpr uint32_t kDataVirtualSize = 0x1800;
inline constexpr uint32_t kTailSize = 0x200;

// A module of the system's C library that every test program has loaded, with one of its
// functions, and one that nothing here loads by itself.
#if defined(_WIN32)
inline constexpr const char* kLoadedModule = "msvcrt.dll";
inline constexpr const char* kLoadedFunction = "_getpid";
inline constexpr const char* kUnloadedModule = "version.dll";
inline constexpr const char* kUnloadedFunction = "GetFileVersionInfoSizeA";
#else
inline constexpr const char* kLoadedModule = "libc.so.6";
inline constexpr const char* kLoadedFunction = "getpid";
inline constexpr const char* kUnloadedModule = "libanl.so.1";  // a stub of the C library
inline constexpr const char* kUnloadedFunction = "getaddrinfo_a";
#endif

std::vector<ImportModule> DefaultImports();

struct SampleOptions {
    uint64_t imageBase = 0x180000000;
    EntryCode entry = EntryCode::kTrue;
    EntryLog* log = nullptr;  // for kLogged
    bool reloc = true;        // false: the section is named ".reloc2"
    std::vector<ImportModule> imports = DefaultImports();
    std::vector<uint32_t> functions = {0x00, 0x10, 0x20};  // offsets into .text
    std::vector<ExportName> names = {{"Alpha", 0}, {"Beta", 1}, {"Alpha", 2}};
};

// Section indices in the image.
inline constexpr size_t kText = 0;
inline constexpr size_t kData = 1;
inline constexpr size_t kRdata = 2;
inline constexpr size_t kReloc = 3;
inline constexpr size_t kTail = 4;

struct Sample {
    std::vector<uint8_t> bytes;
    ImageBuilder builder;
    ImportTable imports;
    ExportTable exports;
    uint32_t sizeOfImage = 0;
    size_t blocks[3] = {};  // offsets of the relocation blocks inside .reloc's raw data

    uint32_t Rva(size_t section) const { return builder.section(section).rva; }
    // The file offset where the raw data of the section holding rva keeps it.
    size_t FileOffset(uint32_t rva) const;
    size_t RawOffset(size_t section) const;
    size_t SectionHeader(size_t section) const { return builder.SectionHeader(section); }

    template <typename T>
    void Set(size_t offset, T value) {
        Put<T>(bytes, offset, value);
    }
};

Sample BuildSample(const SampleOptions& options);

}  // namespace test::pe
