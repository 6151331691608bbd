// Assembles PE32+ images byte by byte for the mapper's tests: headers, sections at fixed
// alignments, and the contents of relocation, import and export tables.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace test::pe {

inline constexpr uint32_t kFileAlignment = 0x200;
inline constexpr uint32_t kSectionAlignment = 0x1000;
inline constexpr size_t kNtHeaders = 0x80;                  // e_lfanew
inline constexpr size_t kOptionalHeader = kNtHeaders + 24;  // after signature and file header
inline constexpr size_t kOptionalHeaderSize = 240;          // 112 bytes + 16 directories
inline constexpr size_t kSectionTable = kOptionalHeader + kOptionalHeaderSize;

// Offsets inside the optional header.
inline constexpr size_t kOptEntryPoint = 16;
inline constexpr size_t kOptImageBase = 24;
inline constexpr size_t kOptSizeOfImage = 56;
inline constexpr size_t kOptSizeOfHeaders = 60;
inline constexpr size_t kOptNumberOfRvaAndSizes = 108;
inline constexpr size_t kOptDirectories = 112;

// Offsets inside a section header.
inline constexpr size_t kSecVirtualSize = 8;
inline constexpr size_t kSecVirtualAddress = 12;
inline constexpr size_t kSecSizeOfRawData = 16;
inline constexpr size_t kSecPointerToRawData = 20;

inline constexpr unsigned kRelocHighLow = 3;
inline constexpr unsigned kRelocDir64 = 10;
inline constexpr uint64_t kOrdinalFlag = uint64_t{1} << 63;

inline constexpr int kExportDirectory = 0;
inline constexpr int kImportDirectory = 1;
inline constexpr int kRelocDirectory = 5;

template <typename T>
void Put(std::vector<uint8_t>& bytes, size_t offset, T value) {
    if (bytes.size() < offset + sizeof value) bytes.resize(offset + sizeof value);
    for (size_t i = 0; i < sizeof value; ++i)
        bytes[offset + i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i));
}

template <typename T>
T Get(const std::vector<uint8_t>& bytes, size_t offset) {
    uint64_t value = 0;
    for (size_t i = 0; i < sizeof(T); ++i)
        value |= uint64_t{bytes.at(offset + i)} << (8 * i);
    return static_cast<T>(value);
}

struct Section {
    std::string name;  // up to 8 bytes
    std::vector<uint8_t> raw;
    uint32_t virtualSize = 0;  // 0: the raw size
    uint32_t rva = 0;
    size_t fileOffset = 0;
};

class ImageBuilder {
  public:
    uint64_t imageBase = 0x180000000;
    uint32_t entryPoint = 0;
    // 0: the end of the last section rounded up to the section alignment.
    uint32_t sizeOfImage = 0;
    std::array<std::array<uint32_t, 2>, 16> directories{};  // VirtualAddress, Size

    // The RVA that the next section added will have.
    uint32_t NextRva() const;
    // Returns the section's index.
    size_t AddSection(std::string name, std::vector<uint8_t> raw, uint32_t virtualSize = 0);
    const Section& section(size_t index) const { return sections_.at(index); }
    size_t sectionCount() const { return sections_.size(); }
    size_t SectionHeader(size_t index) const { return kSectionTable + 40 * index; }
    uint32_t SizeOfHeaders() const;

    std::vector<uint8_t> Build() const;

  private:
    std::vector<Section> sections_;
};

// Base relocation blocks as a ".reloc" section holds them.
class RelocBuilder {
  public:
    static uint16_t Entry(unsigned type, uint32_t offset) {
        return static_cast<uint16_t>(type << 12 | (offset & 0xFFF));
    }
    // Returns the offset of the block inside the bytes.
    size_t Block(uint32_t page, const std::vector<uint16_t>& entries);
    void Zeros(size_t count) { bytes.resize(bytes.size() + count, 0); }
    std::vector<uint8_t> bytes;
};

struct ImportFunction {
    std::string name;      // imported by name when not empty
    uint16_t ordinal = 0;  // otherwise by this ordinal
    uint16_t hint = 0;
};

struct ImportModule {
    std::string module;
    std::vector<ImportFunction> functions;
};

// Import descriptors, lookup and address tables, hint/name records and module names,
// laid out for a section at rva.
struct ImportTable {
    std::vector<uint8_t> bytes;
    uint32_t descriptors = 0;                          // RVA of the first descriptor
    std::vector<uint32_t> descriptorOffsets;           // inside bytes, one per module
    std::vector<std::vector<uint32_t>> slots;          // RVAs of the address slots
    std::vector<std::vector<uint32_t>> lookupOffsets;  // inside bytes
    std::vector<uint32_t> hintNameRvas;                // of the by-name functions, in order
};
ImportTable BuildImports(uint32_t rva, const std::vector<ImportModule>& modules);

struct ExportName {
    std::string name;
    uint16_t index;  // into the function table
};

// An export directory with its three tables and the names, for a section at rva.
struct ExportTable {
    std::vector<uint8_t> bytes;
    uint32_t directory = 0;  // RVA
    uint32_t functions = 0;  // RVA of AddressOfFunctions
    uint32_t names = 0;
    uint32_t ordinals = 0;
};
ExportTable BuildExports(uint32_t rva, const std::vector<uint32_t>& functions,
                         const std::vector<ExportName>& names);

}  // namespace test::pe
