#include "tests/component/pe_sample.h"

#include <stdexcept>

namespace test::pe {

namespace {

std::vector<uint8_t> EntryBytes(EntryCode code, uint32_t textRva, uint32_t logPointerRva) {
    switch (code) {
        case EntryCode::kTrue:
            return {0xB8, 0x01, 0x00, 0x00, 0x00, 0xC3};
        case EntryCode::kFalse:
            return {0x31, 0xC0, 0xC3};
        case EntryCode::kLogged:
            break;
    }
    // Windows x64 convention: instance in rcx, reason in edx, reserved in r8.
    const uint32_t disp = logPointerRva - (textRva + 7);
    return {
        0x48,
        0x8B,
        0x05,  // mov rax, [rip+disp]
        static_cast<uint8_t>(disp),
        static_cast<uint8_t>(disp >> 8),
        static_cast<uint8_t>(disp >> 16),
        static_cast<uint8_t>(disp >> 24),
        0x48,
        0x89,
        0x48,
        0x08,  // mov [rax+8], rcx
        0x89,
        0x50,
        0x10,  // mov [rax+16], edx
        0x4C,
        0x89,
        0x40,
        0x18,  // mov [rax+24], r8
        0x83,
        0xFA,
        0x01,  // cmp edx, 1
        0x75,
        0x04,  // jne detach
        0xFF,
        0x00,  // inc dword [rax]
        0xEB,
        0x03,  // jmp done
        0xFF,
        0x40,
        0x04,  // detach: inc dword [rax+4]
        0x8B,
        0x40,
        0x20,  // done: mov eax, [rax+32]
        0xC3,  // ret
    };
}

}  // namespace

std::vector<ImportModule> DefaultImports() {
    return {
        {"ws2_32.dll", {{"getaddrinfo", 0, 3}, {"", 51}, {"NoSuchFunction", 0, 0}, {"", 999}}},
        {"WS2_32", {{"freeaddrinfo", 0, 1}}},
        {kLoadedModule, {{kLoadedFunction, 0, 0}}},
    };
}

size_t Sample::RawOffset(size_t section) const {
    return Get<uint32_t>(bytes, SectionHeader(section) + kSecPointerToRawData);
}

size_t Sample::FileOffset(uint32_t rva) const {
    for (size_t i = 0; i < builder.sectionCount(); ++i) {
        const Section& s = builder.section(i);
        if (rva >= s.rva && rva < s.rva + s.raw.size()) return RawOffset(i) + (rva - s.rva);
    }
    throw std::out_of_range("no raw data at that RVA");
}

Sample BuildSample(const SampleOptions& options) {
    Sample sample;
    ImageBuilder& b = sample.builder;
    b.imageBase = options.imageBase;

    // .text and .data first: the entry code refers to .data, which comes next.
    const uint32_t text = b.NextRva();
    const uint32_t data = text + kSectionAlignment;
    std::vector<uint8_t> code(0x200, 0xCC);
    const std::vector<uint8_t> entry = EntryBytes(options.entry, text, data + kLogPointer);
    std::copy(entry.begin(), entry.end(), code.begin());
    b.AddSection(".text", code);
    b.entryPoint = text;

    std::vector<uint8_t> values(kDataRawSize, 0);
    Put<uint64_t>(values, kLogPointer, reinterpret_cast<uintptr_t>(options.log));
    Put<uint64_t>(values, kDir64, options.imageBase + kDir64Value);
    Put<uint64_t>(values, kDir64Unaligned, options.imageBase + kDir64UnalignedValue);
    Put<uint32_t>(values, kHighLow, static_cast<uint32_t>(options.imageBase) + kHighLowValue);
    Put<uint32_t>(values, kHighAdj, kHighAdjValue);
    Put<uint64_t>(values, kAfterZeroBlock, options.imageBase + kAfterZeroBlock);
    if (b.AddSection(".data", values, kDataVirtualSize) != kData || b.section(kData).rva != data) {
        throw std::logic_error("unexpected layout");
    }

    const uint32_t rdata = b.NextRva();
    if (!options.imports.empty()) sample.imports = BuildImports(rdata, options.imports);
    const uint32_t exportsAt =
        rdata + static_cast<uint32_t>((sample.imports.bytes.size() + 15) & ~size_t{15});
    std::vector<uint32_t> functions;
    for (uint32_t offset : options.functions)
        functions.push_back(text + offset);
    if (!options.names.empty() || !functions.empty()) {
        sample.exports = BuildExports(exportsAt, functions, options.names);
    }
    std::vector<uint8_t> tables = sample.imports.bytes;
    tables.resize(exportsAt - rdata, 0);
    tables.insert(tables.end(), sample.exports.bytes.begin(), sample.exports.bytes.end());
    b.AddSection(".rdata", tables);

    RelocBuilder r;
    sample.blocks[0] = r.Block(data, {
                                         RelocBuilder::Entry(10, kDir64),
                                         RelocBuilder::Entry(10, kDir64Unaligned),
                                         RelocBuilder::Entry(0, 0),
                                         RelocBuilder::Entry(3, kHighLow),
                                         RelocBuilder::Entry(4, kHighAdj),
                                         RelocBuilder::Entry(0, 0),
                                     });
    sample.blocks[1] = r.Block(
        data + 0x1000, {RelocBuilder::Entry(10, kZeroFilled - 0x1000), RelocBuilder::Entry(0, 0)});
    r.Zeros(8);  // a zero block: the walk stays on it from here on
    sample.blocks[2] = r.Block(data, {RelocBuilder::Entry(10, kAfterZeroBlock)});
    r.Zeros(16);
    const uint32_t reloc = b.NextRva();
    b.AddSection(options.reloc ? ".reloc" : ".reloc2", r.bytes);

    const uint32_t tail = b.NextRva();
    b.AddSection(".tail", std::vector<uint8_t>(kTailSize, 'A'));
    sample.sizeOfImage = tail + kTailSize;
    b.sizeOfImage = sample.sizeOfImage;

    if (!options.imports.empty()) {
        b.directories[kImportDirectory] = {sample.imports.descriptors,
                                           static_cast<uint32_t>(sample.imports.bytes.size())};
    }
    if (!sample.exports.bytes.empty()) {
        b.directories[kExportDirectory] = {sample.exports.directory,
                                           static_cast<uint32_t>(sample.exports.bytes.size())};
    }
    // Only the first block: the walk goes by the section's raw size instead.
    b.directories[kRelocDirectory] = {reloc, static_cast<uint32_t>(sample.blocks[1])};
    sample.bytes = b.Build();
    return sample;
}

}  // namespace test::pe
