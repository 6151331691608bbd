#include "tests/component/pe_builder.h"

#include <algorithm>

namespace test::pe {

namespace {

uint32_t AlignUp(uint64_t value, uint32_t alignment) {
    return static_cast<uint32_t>((value + alignment - 1) / alignment * alignment);
}

void PutString(std::vector<uint8_t>& bytes, size_t offset, const std::string& text) {
    if (bytes.size() < offset + text.size() + 1) bytes.resize(offset + text.size() + 1);
    std::copy(text.begin(), text.end(), bytes.begin() + static_cast<ptrdiff_t>(offset));
    bytes[offset + text.size()] = 0;
}

}  // namespace

uint32_t ImageBuilder::NextRva() const {
    if (sections_.empty()) return kSectionAlignment;
    const Section& last = sections_.back();
    const uint32_t extent = std::max<uint32_t>(last.virtualSize, last.raw.size());
    return AlignUp(uint64_t{last.rva} + std::max<uint32_t>(extent, 1), kSectionAlignment);
}

size_t ImageBuilder::AddSection(std::string name, std::vector<uint8_t> raw, uint32_t virtualSize) {
    Section s;
    s.rva = NextRva();
    s.name = std::move(name);
    s.raw = std::move(raw);
    s.virtualSize = virtualSize != 0 ? virtualSize : static_cast<uint32_t>(s.raw.size());
    sections_.push_back(std::move(s));
    return sections_.size() - 1;
}

uint32_t ImageBuilder::SizeOfHeaders() const {
    return AlignUp(kSectionTable + 40 * sections_.size(), kFileAlignment);
}

std::vector<uint8_t> ImageBuilder::Build() const {
    std::vector<uint8_t> out(SizeOfHeaders(), 0);
    // DOS header: "MZ" and e_lfanew; the stub is left empty.
    out[0] = 'M';
    out[1] = 'Z';
    Put<uint32_t>(out, 60, kNtHeaders);

    Put<uint32_t>(out, kNtHeaders, 0x00004550);
    const size_t file = kNtHeaders + 4;
    Put<uint16_t>(out, file + 0, 0x8664);  // x86-64
    Put<uint16_t>(out, file + 2, static_cast<uint16_t>(sections_.size()));
    Put<uint16_t>(out, file + 16, kOptionalHeaderSize);
    Put<uint16_t>(out, file + 18, 0x2022);  // executable, large-address aware, DLL

    const size_t opt = kOptionalHeader;
    Put<uint16_t>(out, opt + 0, 0x20B);
    Put<uint32_t>(out, opt + kOptEntryPoint, entryPoint);
    Put<uint64_t>(out, opt + kOptImageBase, imageBase);
    Put<uint32_t>(out, opt + 32, kSectionAlignment);
    Put<uint32_t>(out, opt + 36, kFileAlignment);
    Put<uint16_t>(out, opt + 48, 6);  // subsystem version
    uint32_t imageSize = sizeOfImage;
    if (imageSize == 0) imageSize = sections_.empty() ? kSectionAlignment : NextRva();
    Put<uint32_t>(out, opt + kOptSizeOfImage, imageSize);
    Put<uint32_t>(out, opt + kOptSizeOfHeaders, SizeOfHeaders());
    Put<uint16_t>(out, opt + 68, 2);  // GUI subsystem
    Put<uint32_t>(out, opt + kOptNumberOfRvaAndSizes, 16);
    for (size_t i = 0; i < directories.size(); ++i) {
        Put<uint32_t>(out, opt + kOptDirectories + 8 * i, directories[i][0]);
        Put<uint32_t>(out, opt + kOptDirectories + 8 * i + 4, directories[i][1]);
    }

    for (size_t i = 0; i < sections_.size(); ++i) {
        const Section& s = sections_[i];
        const size_t header = SectionHeader(i);
        for (size_t c = 0; c < 8 && c < s.name.size(); ++c)
            out[header + c] = static_cast<uint8_t>(s.name[c]);
        const uint32_t rawSize = AlignUp(s.raw.size(), kFileAlignment);
        const size_t rawOffset = out.size();
        Put<uint32_t>(out, header + kSecVirtualSize, s.virtualSize);
        Put<uint32_t>(out, header + kSecVirtualAddress, s.rva);
        Put<uint32_t>(out, header + kSecSizeOfRawData, rawSize);
        Put<uint32_t>(out, header + kSecPointerToRawData, static_cast<uint32_t>(rawOffset));
        Put<uint32_t>(out, header + 36, 0xE0000060);  // code, data, read, write, execute
        out.resize(rawOffset + rawSize, 0);
        std::copy(s.raw.begin(), s.raw.end(), out.begin() + static_cast<ptrdiff_t>(rawOffset));
    }
    return out;
}

size_t RelocBuilder::Block(uint32_t page, const std::vector<uint16_t>& entries) {
    const size_t offset = bytes.size();
    const uint32_t size = static_cast<uint32_t>(8 + 2 * entries.size());
    Put<uint32_t>(bytes, offset, page);
    Put<uint32_t>(bytes, offset + 4, size);
    for (size_t i = 0; i < entries.size(); ++i)
        Put<uint16_t>(bytes, offset + 8 + 2 * i, entries[i]);
    return offset;
}

ImportTable BuildImports(uint32_t rva, const std::vector<ImportModule>& modules) {
    ImportTable t;
    t.descriptors = rva;
    // Descriptors (with a zero one at the end), then per module its lookup table, its
    // address table, its hint/name records and its name.
    size_t at = 20 * (modules.size() + 1);
    std::vector<uint8_t>& b = t.bytes;
    b.resize(at, 0);
    for (size_t m = 0; m < modules.size(); ++m) {
        const ImportModule& module = modules[m];
        const size_t thunks = 8 * (module.functions.size() + 1);
        const size_t lookups = at;
        const size_t slots = lookups + thunks;
        at = slots + thunks;
        std::vector<uint64_t> entries;
        for (const ImportFunction& f : module.functions) {
            if (f.name.empty()) {
                entries.push_back(uint64_t{1} << 63 | f.ordinal);
                continue;
            }
            at = (at + 1) & ~size_t{1};
            const uint32_t hintName = static_cast<uint32_t>(rva + at);
            t.hintNameRvas.push_back(hintName);
            Put<uint16_t>(b, at, f.hint);
            PutString(b, at + 2, f.name);
            at += 2 + f.name.size() + 1;
            entries.push_back(hintName);
        }
        const size_t name = at;
        PutString(b, name, module.module);
        at = name + module.module.size() + 1;
        at = (at + 7) & ~size_t{7};
        b.resize(at, 0);

        t.slots.emplace_back();
        t.lookupOffsets.emplace_back();
        for (size_t i = 0; i < entries.size(); ++i) {
            // The address table starts as a copy of the lookup table, as linkers write it.
            Put<uint64_t>(b, lookups + 8 * i, entries[i]);
            Put<uint64_t>(b, slots + 8 * i, entries[i]);
            t.slots.back().push_back(static_cast<uint32_t>(rva + slots + 8 * i));
            t.lookupOffsets.back().push_back(static_cast<uint32_t>(lookups + 8 * i));
        }
        const size_t descriptor = 20 * m;
        t.descriptorOffsets.push_back(static_cast<uint32_t>(descriptor));
        Put<uint32_t>(b, descriptor + 0, static_cast<uint32_t>(rva + lookups));
        Put<uint32_t>(b, descriptor + 12, static_cast<uint32_t>(rva + name));
        Put<uint32_t>(b, descriptor + 16, static_cast<uint32_t>(rva + slots));
    }
    return t;
}

ExportTable BuildExports(uint32_t rva, const std::vector<uint32_t>& functions,
                         const std::vector<ExportName>& names) {
    ExportTable t;
    std::vector<uint8_t>& b = t.bytes;
    size_t at = 40;
    const size_t functionTable = at;
    at += 4 * functions.size();
    const size_t nameTable = at;
    at += 4 * names.size();
    const size_t ordinalTable = at;
    at += 2 * names.size();
    b.resize(at, 0);
    const size_t moduleName = at;
    PutString(b, moduleName, "image.dll");
    at = b.size();
    for (size_t i = 0; i < functions.size(); ++i)
        Put<uint32_t>(b, functionTable + 4 * i, functions[i]);
    for (size_t i = 0; i < names.size(); ++i) {
        Put<uint32_t>(b, nameTable + 4 * i, static_cast<uint32_t>(rva + at));
        Put<uint16_t>(b, ordinalTable + 2 * i, names[i].index);
        PutString(b, at, names[i].name);
        at = b.size();
    }
    t.directory = rva;
    t.functions = static_cast<uint32_t>(rva + functionTable);
    t.names = static_cast<uint32_t>(rva + nameTable);
    t.ordinals = static_cast<uint32_t>(rva + ordinalTable);
    Put<uint32_t>(b, 12, static_cast<uint32_t>(rva + moduleName));
    Put<uint32_t>(b, 16, 1);  // ordinal base
    Put<uint32_t>(b, 20, static_cast<uint32_t>(functions.size()));
    Put<uint32_t>(b, 24, static_cast<uint32_t>(names.size()));
    Put<uint32_t>(b, 28, t.functions);
    Put<uint32_t>(b, 32, t.names);
    Put<uint32_t>(b, 36, t.ordinals);
    return t;
}

}  // namespace test::pe
