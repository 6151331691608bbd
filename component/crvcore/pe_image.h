// Layout of the PE32+ structures the mapper reads: the published Portable Executable
// format, as offsets from the start of each structure.
#pragma once

#include <cstdint>

namespace crvcore::pe {

inline constexpr uint32_t kDosLfanew = 60;            // e_lfanew, 32 bits
inline constexpr uint32_t kNtSignature = 0x00004550;  // "PE\0\0"

// IMAGE_FILE_HEADER, after the 4-byte signature.
inline constexpr uint32_t kFileHeader = 4;
inline constexpr uint32_t kFileNumberOfSections = kFileHeader + 2;
inline constexpr uint32_t kFileSizeOfOptionalHeader = kFileHeader + 16;
inline constexpr uint32_t kOptionalHeader = kFileHeader + 20;

// IMAGE_OPTIONAL_HEADER64.
inline constexpr uint16_t kPe32PlusMagic = 0x20B;
inline constexpr uint32_t kOptMagic = 0;
inline constexpr uint32_t kOptAddressOfEntryPoint = 16;
inline constexpr uint32_t kOptImageBase = 24;
inline constexpr uint32_t kOptSizeOfImage = 56;
inline constexpr uint32_t kOptSizeOfHeaders = 60;
inline constexpr uint32_t kOptNumberOfRvaAndSizes = 108;
inline constexpr uint32_t kOptDataDirectories = 112;  // also the size of the fixed part
inline constexpr uint32_t kDataDirectorySize = 8;
inline constexpr uint32_t kExportDirectory = 0;
inline constexpr uint32_t kImportDirectory = 1;

// IMAGE_SECTION_HEADER.
inline constexpr uint32_t kSectionHeaderSize = 40;
inline constexpr uint32_t kSecVirtualSize = 8;
inline constexpr uint32_t kSecVirtualAddress = 12;
inline constexpr uint32_t kSecSizeOfRawData = 16;
inline constexpr uint32_t kSecPointerToRawData = 20;

// IMAGE_BASE_RELOCATION and its entries.
inline constexpr uint32_t kRelocBlockHeader = 8;
inline constexpr unsigned kRelocHighLow = 3;
inline constexpr unsigned kRelocDir64 = 10;

// IMAGE_IMPORT_DESCRIPTOR and the 64-bit thunks.
inline constexpr uint32_t kImportDescriptorSize = 20;
inline constexpr uint32_t kImpOriginalFirstThunk = 0;
inline constexpr uint32_t kImpName = 12;
inline constexpr uint32_t kImpFirstThunk = 16;
inline constexpr uint64_t kOrdinalFlag = uint64_t{1} << 63;

// IMAGE_EXPORT_DIRECTORY.
inline constexpr uint32_t kExportDirectorySize = 40;
inline constexpr uint32_t kExpNumberOfFunctions = 20;
inline constexpr uint32_t kExpNumberOfNames = 24;
inline constexpr uint32_t kExpAddressOfFunctions = 28;
inline constexpr uint32_t kExpAddressOfNames = 32;
inline constexpr uint32_t kExpAddressOfNameOrdinals = 36;

// DllMain's reasons.
inline constexpr uint32_t kProcessDetach = 0;
inline constexpr uint32_t kProcessAttach = 1;

}  // namespace crvcore::pe
