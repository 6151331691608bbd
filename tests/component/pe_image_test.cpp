// The PE32+ mapper, on images assembled byte by byte: what lands where, relocations,
// imports, exports, the entry routine, the shared holder count, and images that point
// outside themselves.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "component/crvcore/engine_image.h"
#include "platform/module.h"
#include "tests/component/pe_builder.h"
#include "tests/component/pe_sample.h"
#include "tests/component/process_maps.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

using test::pe::EntryCode;
using test::pe::EntryLog;
using test::pe::Get;
using test::pe::Sample;
using test::pe::SampleOptions;

static_assert(offsetof(EntryLog, instance) == 8 && offsetof(EntryLog, reason) == 16 &&
              offsetof(EntryLog, reserved) == 24 && offsetof(EntryLog, answer) == 32);

class LoaderLock : public ::testing::Environment {
  public:
    void SetUp() override { crvcore::CreateLoaderLock(); }
    void TearDown() override { crvcore::DestroyLoaderLock(); }
};
[[maybe_unused]] const auto* const kLoaderLock =
    ::testing::AddGlobalTestEnvironment(new LoaderLock);

// The image bytes in a buffer of exactly their size, so that a read past the end is a
// heap overflow the address sanitizer reports.
class ExactBuffer {
  public:
    explicit ExactBuffer(const std::vector<uint8_t>& bytes, size_t size)
        : data_(new uint8_t[size]), size_(size) {
        std::memcpy(data_.get(), bytes.data(), size);
    }
    explicit ExactBuffer(const std::vector<uint8_t>& bytes) : ExactBuffer(bytes, bytes.size()) {}
    const uint8_t* data() const { return data_.get(); }
    size_t size() const { return size_; }

  private:
    std::unique_ptr<uint8_t[]> data_;
    size_t size_;
};

// A mapped image, released at scope exit unless a test did it.
struct Mapped {
    void* base = nullptr;
    void* entry = nullptr;
    Mapped() = default;
    explicit Mapped(const std::vector<uint8_t>& bytes) {
        const ExactBuffer image(bytes);
        base = crvcore::LoadPeImage(image.data(), image.size(), &entry);
    }
    ~Mapped() {
        if (base != nullptr) crvcore::FreePeImage(base, entry);
    }
    Mapped(const Mapped&) = delete;
    Mapped& operator=(const Mapped&) = delete;
    bool Free() {
        const bool released = crvcore::FreePeImage(base, entry);
        if (released) base = nullptr;
        return released;
    }
    const uint8_t* At(uint32_t rva) const { return static_cast<const uint8_t*>(base) + rva; }
    template <typename T>
    T Read(uint32_t rva) const {
        T value;
        std::memcpy(&value, At(rva), sizeof value);
        return value;
    }
};

// Readable, writable and executable memory the program allocated itself.
size_t ExecutableAnonymousBytes() {
#if defined(_WIN32)
    size_t bytes = 0;
    MEMORY_BASIC_INFORMATION info{};
    const char* at = nullptr;
    // Bounded by the number of regions of the address space.
    for (int i = 0; i < 1000000 && VirtualQuery(at, &info, sizeof info) == sizeof info; ++i) {
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE &&
            info.Protect == PAGE_EXECUTE_READWRITE) {
            bytes += info.RegionSize;
        }
        at = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
    }
    return bytes;
#else
    return test::MappedBytes("rwxp", "");
#endif
}

void* Slot(const Mapped& m, uint32_t rva) {
    return m.Read<void*>(rva);
}

TEST(PeImage, CopiesHeadersAndRawDataAndZeroFillsTheRest) {
    SampleOptions options;
    options.reloc = false;  // nothing in the mapping differs from the file
    options.imports.clear();
    const Sample sample = test::pe::BuildSample(options);
    Mapped m(sample.bytes);
    ASSERT_NE(m.base, nullptr);

    const uint32_t headers = sample.builder.SizeOfHeaders();
    EXPECT_EQ(std::memcmp(m.At(0), sample.bytes.data(), headers), 0);
    struct Range {
        uint32_t from;
        uint32_t to;
    };
    std::vector<Range> zeros = {{headers, sample.Rva(0)}};
    for (size_t i = 0; i < sample.builder.sectionCount(); ++i) {
        SCOPED_TRACE(sample.builder.section(i).name);
        const uint32_t rva = sample.Rva(i);
        const uint32_t raw = Get<uint32_t>(sample.bytes, sample.SectionHeader(i) + 16);
        EXPECT_EQ(std::memcmp(m.At(rva), sample.bytes.data() + sample.RawOffset(i), raw), 0);
        const uint32_t next =
            i + 1 < sample.builder.sectionCount() ? sample.Rva(i + 1) : sample.sizeOfImage;
        zeros.push_back({rva + raw, next});
    }
    for (const Range& r : zeros) {
        for (uint32_t at = r.from; at < r.to; ++at) {
            ASSERT_EQ(m.At(at)[0], 0) << "at RVA " << std::hex << at;
        }
    }
}

TEST(PeImage, RelocationsAddTheDistanceFromImageBase) {
    const uint64_t imageBases[] = {0x180000000, 0x10000, 0x7FFF00000000, 0xFFFF800000000000,
                                   0xFFFFFFFFFFFF0000};
    for (uint64_t imageBase : imageBases) {
        SCOPED_TRACE(imageBase);
        SampleOptions options;
        options.imageBase = imageBase;
        const Sample sample = test::pe::BuildSample(options);
        Mapped m(sample.bytes);
        ASSERT_NE(m.base, nullptr);
        const uint64_t delta = reinterpret_cast<uintptr_t>(m.base) - imageBase;
        const uint32_t delta32 = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(m.base)) -
                                 static_cast<uint32_t>(imageBase);
        const uint32_t data = sample.Rva(test::pe::kData);
        EXPECT_EQ(m.Read<uint64_t>(data + test::pe::kDir64),
                  imageBase + test::pe::kDir64Value + delta);
        EXPECT_EQ(m.Read<uint64_t>(data + test::pe::kDir64Unaligned),
                  imageBase + test::pe::kDir64UnalignedValue + delta);
        EXPECT_EQ(m.Read<uint32_t>(data + test::pe::kHighLow),
                  static_cast<uint32_t>(static_cast<uint32_t>(imageBase) + test::pe::kHighLowValue +
                                        delta32));
        // Type 4 is not applied, nor is a block behind a zero block.
        EXPECT_EQ(m.Read<uint32_t>(data + test::pe::kHighAdj), test::pe::kHighAdjValue);
        EXPECT_EQ(m.Read<uint64_t>(data + test::pe::kAfterZeroBlock),
                  imageBase + test::pe::kAfterZeroBlock);
        // The second block lies beyond the relocation directory's size: the walk goes by
        // the section's raw data, and patches the zero-filled part of .data.
        EXPECT_EQ(m.Read<uint64_t>(data + test::pe::kZeroFilled), delta);
    }
}

TEST(PeImage, WithoutRelocSectionNothingIsPatched) {
    SampleOptions options;
    options.reloc = false;
    const Sample sample = test::pe::BuildSample(options);
    Mapped m(sample.bytes);
    ASSERT_NE(m.base, nullptr);
    ASSERT_NE(reinterpret_cast<uintptr_t>(m.base), options.imageBase);
    const uint32_t data = sample.Rva(test::pe::kData);
    EXPECT_EQ(m.Read<uint64_t>(data + test::pe::kDir64), options.imageBase + test::pe::kDir64Value);
    EXPECT_EQ(m.Read<uint64_t>(data + test::pe::kDir64Unaligned),
              options.imageBase + test::pe::kDir64UnalignedValue);
    EXPECT_EQ(m.Read<uint32_t>(data + test::pe::kHighLow),
              static_cast<uint32_t>(options.imageBase) + test::pe::kHighLowValue);
    EXPECT_EQ(m.Read<uint64_t>(data + test::pe::kZeroFilled), 0u);
}

TEST(PeImage, ImportsAreBoundByNameAndByOrdinal) {
    const Sample sample = test::pe::BuildSample(SampleOptions{});
    Mapped m(sample.bytes);
    ASSERT_NE(m.base, nullptr);
    void* ws2 = plat::LoadLibraryA("ws2_32.dll");
    void* libc = plat::GetModuleHandleA(test::pe::kLoadedModule);
    ASSERT_NE(ws2, nullptr);
    ASSERT_NE(libc, nullptr);
    struct Case {
        const char* what;
        size_t module;
        size_t function;
        void* expected;
        bool resolves;
    };
    const Case cases[] = {
        {"by name", 0, 0, plat::GetProcAddress(ws2, "getaddrinfo"), true},
        {"by ordinal 51", 0, 1, plat::GetProcAddress(ws2, "gethostbyaddr"), true},
        {"missing name", 0, 2, nullptr, false},
        {"missing ordinal", 0, 3, nullptr, false},
        {"module named without extension", 1, 0, plat::GetProcAddress(ws2, "freeaddrinfo"), true},
        {"module already loaded", 2, 0, plat::GetProcAddress(libc, test::pe::kLoadedFunction),
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.expected != nullptr, c.resolves);
        const uint32_t slot = sample.imports.slots.at(c.module).at(c.function);
        // The slot held the lookup entry before; now it holds the function or null.
        EXPECT_NE(Get<uint64_t>(sample.bytes, sample.FileOffset(slot)), 0u);
        EXPECT_EQ(Slot(m, slot), c.expected);
    }
}

TEST(PeImage, ImportedModuleNotYetLoadedIsLoaded) {
    const char* const module = test::pe::kUnloadedModule;
    ASSERT_EQ(plat::GetModuleHandleA(module), nullptr);
    SampleOptions options;
    options.imports = {{module, {{test::pe::kUnloadedFunction, 0, 0}}}};
    const Sample sample = test::pe::BuildSample(options);
    Mapped m(sample.bytes);
    ASSERT_NE(m.base, nullptr);
    void* loaded = plat::GetModuleHandleA(module);
    ASSERT_NE(loaded, nullptr);
    void* expected = plat::GetProcAddress(loaded, test::pe::kUnloadedFunction);
    EXPECT_NE(expected, nullptr);
    EXPECT_EQ(Slot(m, sample.imports.slots.at(0).at(0)), expected);
}

TEST(PeImage, ExportsAreFoundByExactNameAndTheLastDuplicateWins) {
    const Sample sample = test::pe::BuildSample(SampleOptions{});
    Mapped m(sample.bytes);
    ASSERT_NE(m.base, nullptr);
    auto* base = static_cast<uint8_t*>(m.base);
    const uint32_t text = sample.Rva(test::pe::kText);
    struct Case {
        const char* name;
        void* expected;
    };
    const Case cases[] = {
        {"Alpha", base + text + 0x20},  // listed twice: the second entry
        {"Beta", base + text + 0x10},  {"alpha", nullptr}, {"Alph", nullptr},
        {"Alphas", nullptr},           {"Gamma", nullptr}, {"", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(crvcore::FindPeExport(m.base, c.name), c.expected);
    }
    EXPECT_EQ(crvcore::FindPeExport(m.base, nullptr), nullptr);
    EXPECT_EQ(crvcore::FindPeExport(nullptr, "Alpha"), nullptr);
    // A base the mapper did not return is not read at all.
    std::vector<uint8_t> copy(sample.bytes);
    EXPECT_EQ(crvcore::FindPeExport(copy.data(), "Alpha"), nullptr);
}

TEST(PeImage, ExportOrdinalIsAnUnsigned16BitIndex) {
    SampleOptions options;
    options.imports.clear();
    options.functions.assign(0x8001, 0x10);
    options.functions[0x8000] = 0x30;
    options.functions[0] = 0x40;
    options.names = {{"High", 0x8000}, {"Low", 0}};
    const Sample sample = test::pe::BuildSample(options);
    Mapped m(sample.bytes);
    ASSERT_NE(m.base, nullptr);
    auto* base = static_cast<uint8_t*>(m.base);
    const uint32_t text = sample.Rva(test::pe::kText);
    EXPECT_EQ(crvcore::FindPeExport(m.base, "High"), base + text + 0x30);
    EXPECT_EQ(crvcore::FindPeExport(m.base, "Low"), base + text + 0x40);
}

TEST(PeImage, EntryRoutineRunsAttachAndDetach) {
    EntryLog log;
    SampleOptions options;
    options.entry = EntryCode::kLogged;
    options.log = &log;
    const size_t before = ExecutableAnonymousBytes();
    Mapped m(test::pe::BuildSample(options).bytes);
    ASSERT_NE(m.base, nullptr);
    EXPECT_EQ(m.entry, m.At(0x1000));
    EXPECT_EQ(log.attaches, 1);
    EXPECT_EQ(log.detaches, 0);
    EXPECT_EQ(log.instance, reinterpret_cast<uintptr_t>(m.base));
    EXPECT_EQ(log.reason, 1u);
    EXPECT_EQ(log.reserved, 0u);
    EXPECT_GT(ExecutableAnonymousBytes(), before);

    log.reserved = 0xDEADBEEF;
    const uintptr_t base = reinterpret_cast<uintptr_t>(m.base);
    EXPECT_TRUE(m.Free());
    EXPECT_EQ(log.attaches, 1);
    EXPECT_EQ(log.detaches, 1);
    EXPECT_EQ(log.instance, base);
    EXPECT_EQ(log.reason, 0u);
    EXPECT_EQ(log.reserved, 0u);
    EXPECT_EQ(ExecutableAnonymousBytes(), before);
}

// A caller put in place of the direct call gets the routine, the instance and each
// reason, and its answers count as the routine's; without it the routine runs again.
TEST(PeImage, EntryCallerTakesThePlaceOfTheRoutine) {
    struct Call {
        void* routine;
        void* instance;
        uint32_t reason;
    };
    static std::vector<Call> calls;
    static int32_t answer = 1;
    calls.clear();
    struct Restore {
        ~Restore() { crvcore::SetPeEntryCaller(nullptr); }
    } restore;
    crvcore::SetPeEntryCaller([](void* routine, void* instance, uint32_t reason) -> int32_t {
        calls.push_back({routine, instance, reason});
        return answer;
    });
    EntryLog log;
    SampleOptions options;
    options.entry = EntryCode::kLogged;
    options.log = &log;
    {
        Mapped m(test::pe::BuildSample(options).bytes);
        ASSERT_NE(m.base, nullptr);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].routine, m.entry);
        EXPECT_EQ(calls[0].instance, m.base);
        EXPECT_EQ(calls[0].reason, 1u);
        EXPECT_TRUE(m.Free());
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls[1].reason, 0u);
    }
    answer = 0;
    const ExactBuffer image(test::pe::BuildSample(options).bytes);
    void* entry = nullptr;
    EXPECT_EQ(crvcore::LoadPeImage(image.data(), image.size(), &entry), nullptr);
    EXPECT_EQ(calls.size(), 3u);
    EXPECT_EQ(log.attaches, 0) << "the image's own routine never ran";

    crvcore::SetPeEntryCaller(nullptr);
    {
        Mapped m(test::pe::BuildSample(options).bytes);
        ASSERT_NE(m.base, nullptr);
        EXPECT_EQ(log.attaches, 1);
    }
    EXPECT_EQ(calls.size(), 3u);
}

TEST(PeImage, RefusedAttachGivesNullAndReleasesTheMemory) {
    EntryLog log;
    log.answer = 0;
    SampleOptions logged;
    logged.entry = EntryCode::kLogged;
    logged.log = &log;
    SampleOptions plain;
    plain.entry = EntryCode::kFalse;
    for (const SampleOptions* options : {&logged, &plain}) {
        const size_t before = ExecutableAnonymousBytes();
        const ExactBuffer image(test::pe::BuildSample(*options).bytes);
        void* entry = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(crvcore::LoadPeImage(image.data(), image.size(), &entry), nullptr);
        EXPECT_EQ(entry, reinterpret_cast<void*>(0x1));
        EXPECT_EQ(ExecutableAnonymousBytes(), before);
    }
    EXPECT_EQ(log.attaches, 1);
    EXPECT_EQ(log.detaches, 0);
}

TEST(PeImage, RefusedDetachKeepsTheImageUntilALaterFree) {
    EntryLog log;
    SampleOptions options;
    options.entry = EntryCode::kLogged;
    options.log = &log;
    const Sample sample = test::pe::BuildSample(options);
    Mapped m(sample.bytes);
    ASSERT_NE(m.base, nullptr);
    log.answer = 0;
    EXPECT_FALSE(crvcore::FreePeImage(m.base, m.entry));
    EXPECT_EQ(log.detaches, 1);
    // Still mapped and still searchable.
    EXPECT_EQ(m.Read<uint64_t>(sample.Rva(test::pe::kData) + test::pe::kLogPointer),
              reinterpret_cast<uintptr_t>(&log));
    EXPECT_NE(crvcore::FindPeExport(m.base, "Beta"), nullptr);
    log.answer = 1;
    void* base = m.base;
    EXPECT_TRUE(m.Free());
    EXPECT_EQ(log.detaches, 2);
    // Released pairs are unknown from then on: nothing is called.
    EXPECT_FALSE(crvcore::FreePeImage(base, m.entry));
    EXPECT_EQ(crvcore::FindPeExport(base, "Beta"), nullptr);
    EXPECT_EQ(log.detaches, 2);
}

TEST(PeImage, FreeRefusesPairsItDidNotMap) {
    EntryLog log;
    SampleOptions options;
    options.entry = EntryCode::kLogged;
    options.log = &log;
    Mapped m(test::pe::BuildSample(options).bytes);
    ASSERT_NE(m.base, nullptr);
    uint8_t local[16] = {};
    EXPECT_FALSE(crvcore::FreePeImage(nullptr, m.entry));
    EXPECT_FALSE(crvcore::FreePeImage(m.base, nullptr));
    EXPECT_FALSE(crvcore::FreePeImage(m.base, static_cast<uint8_t*>(m.entry) + 1));
    EXPECT_FALSE(crvcore::FreePeImage(local, m.entry));
    EXPECT_EQ(log.detaches, 0);
    EXPECT_TRUE(m.Free());
    EXPECT_EQ(log.detaches, 1);
}

// The shared EngineModule, through the PE32+ format whatever the platform.

TEST(EngineImage, SecondLoadSharesTheFirstAndIgnoresItsImage) {
    ASSERT_EQ(crvcore::EngineImageHolders(), 0);
    EntryLog log;
    SampleOptions options;
    options.entry = EntryCode::kLogged;
    options.log = &log;
    const ExactBuffer image(test::pe::BuildSample(options).bytes);
    const ExactBuffer other(test::pe::BuildSample(SampleOptions{}).bytes);
    const uint8_t garbage[4] = {1, 2, 3, 4};
    void* entry1 = nullptr;
    void* entry2 = nullptr;
    void* entry3 = nullptr;
    void* base1 =
        crvcore::LoadEngineImageAs(crvcore::kPeImageFormat, image.data(), image.size(), &entry1);
    ASSERT_NE(base1, nullptr);
    EXPECT_EQ(crvcore::EngineImageHolders(), 1);
    void* base2 =
        crvcore::LoadEngineImageAs(crvcore::kPeImageFormat, other.data(), other.size(), &entry2);
    void* base3 =
        crvcore::LoadEngineImageAs(crvcore::kPeImageFormat, garbage, sizeof garbage, &entry3);
    EXPECT_EQ(base2, base1);
    EXPECT_EQ(base3, base1);
    EXPECT_EQ(entry2, entry1);
    EXPECT_EQ(entry3, entry1);
    EXPECT_EQ(crvcore::EngineImageHolders(), 3);
    EXPECT_EQ(log.attaches, 1);

    EXPECT_FALSE(crvcore::FreeEngineImageAs(crvcore::kPeImageFormat, base1, entry1));
    EXPECT_FALSE(crvcore::FreeEngineImageAs(crvcore::kPeImageFormat, base1, entry1));
    EXPECT_EQ(crvcore::EngineImageHolders(), 1);
    EXPECT_EQ(log.detaches, 0);
    EXPECT_NE(crvcore::FindPeExport(base1, "Alpha"), nullptr);
    EXPECT_TRUE(crvcore::FreeEngineImageAs(crvcore::kPeImageFormat, base1, entry1));
    EXPECT_EQ(crvcore::EngineImageHolders(), 0);
    EXPECT_EQ(log.detaches, 1);
    EXPECT_EQ(log.instance, reinterpret_cast<uintptr_t>(base1));
}

TEST(EngineImage, FreeWithANullHalfDoesNothing) {
    EntryLog log;
    SampleOptions options;
    options.entry = EntryCode::kLogged;
    options.log = &log;
    const ExactBuffer image(test::pe::BuildSample(options).bytes);
    void* entry = nullptr;
    void* base =
        crvcore::LoadEngineImageAs(crvcore::kPeImageFormat, image.data(), image.size(), &entry);
    ASSERT_NE(base, nullptr);
    EXPECT_FALSE(crvcore::FreeEngineImageAs(crvcore::kPeImageFormat, base, nullptr));
    EXPECT_FALSE(crvcore::FreeEngineImageAs(crvcore::kPeImageFormat, nullptr, entry));
    EXPECT_FALSE(crvcore::FreeEngineImage(base, nullptr));
    EXPECT_FALSE(crvcore::FreeEngineImage(nullptr, entry));
    EXPECT_EQ(crvcore::EngineImageHolders(), 1);
    EXPECT_EQ(log.detaches, 0);
    EXPECT_TRUE(crvcore::FreeEngineImageAs(crvcore::kPeImageFormat, base, entry));
    EXPECT_EQ(log.detaches, 1);
}

TEST(EngineImage, FailedLoadsLeaveTheModuleEmpty) {
    void* entry = nullptr;
    EXPECT_EQ(crvcore::LoadEngineImageAs(crvcore::kPeImageFormat, nullptr, 0, &entry), nullptr);
    SampleOptions refusing;
    refusing.entry = EntryCode::kFalse;
    const ExactBuffer refused(test::pe::BuildSample(refusing).bytes);
    EXPECT_EQ(
        crvcore::LoadEngineImageAs(crvcore::kPeImageFormat, refused.data(), refused.size(), &entry),
        nullptr);
    EXPECT_EQ(crvcore::EngineImageHolders(), 0);
    EXPECT_EQ(entry, nullptr);

    // The next load maps its own image instead of sharing a failed one.
    EntryLog log;
    SampleOptions options;
    options.entry = EntryCode::kLogged;
    options.log = &log;
    const ExactBuffer image(test::pe::BuildSample(options).bytes);
    void* base =
        crvcore::LoadEngineImageAs(crvcore::kPeImageFormat, image.data(), image.size(), &entry);
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(log.attaches, 1);
    EXPECT_EQ(crvcore::EngineImageHolders(), 1);
    EXPECT_TRUE(crvcore::FreeEngineImageAs(crvcore::kPeImageFormat, base, entry));
}

TEST(EngineImage, DetachRefusedAtTheLastFreeForgetsTheImage) {
    EntryLog log;
    SampleOptions options;
    options.entry = EntryCode::kLogged;
    options.log = &log;
    const ExactBuffer image(test::pe::BuildSample(options).bytes);
    void* entry1 = nullptr;
    void* base1 =
        crvcore::LoadEngineImageAs(crvcore::kPeImageFormat, image.data(), image.size(), &entry1);
    ASSERT_NE(base1, nullptr);
    log.answer = 0;
    EXPECT_FALSE(crvcore::FreeEngineImageAs(crvcore::kPeImageFormat, base1, entry1));
    EXPECT_EQ(crvcore::EngineImageHolders(), 0);
    EXPECT_EQ(log.detaches, 1);

    // A new load maps anew: the kept image still occupies its memory.
    log.answer = 1;
    void* entry2 = nullptr;
    void* base2 =
        crvcore::LoadEngineImageAs(crvcore::kPeImageFormat, image.data(), image.size(), &entry2);
    ASSERT_NE(base2, nullptr);
    EXPECT_NE(base2, base1);
    EXPECT_EQ(log.attaches, 2);
    EXPECT_TRUE(crvcore::FreeEngineImageAs(crvcore::kPeImageFormat, base2, entry2));
    EXPECT_EQ(log.detaches, 2);

    // The forgotten pair is released on its own, detach first.
    EXPECT_TRUE(crvcore::FreeEngineImageAs(crvcore::kPeImageFormat, base1, entry1));
    EXPECT_EQ(log.detaches, 3);
    EXPECT_EQ(log.instance, reinterpret_cast<uintptr_t>(base1));
}

// Images that point outside themselves, and edge cases that are still sound.

struct Variant {
    const char* name;
    std::function<void(Sample&)> change;
    bool loads;
};

void SetDirectory(Sample& s, int index, uint32_t rva) {
    s.Set<uint32_t>(test::pe::kOptionalHeader + test::pe::kOptDirectories + 8 * index, rva);
}

void SetSectionField(Sample& s, size_t section, size_t field, uint32_t value) {
    s.Set<uint32_t>(s.SectionHeader(section) + field, value);
}

size_t BlockOffset(const Sample& s, int block) {
    return s.RawOffset(test::pe::kReloc) + s.blocks[block];
}

// Replaces block 0 by one entry of type at target, the rest of its entries padding.
void OnlyRelocation(Sample& s, unsigned type, uint32_t target) {
    const size_t block = BlockOffset(s, 0);
    s.Set<uint32_t>(block, target & ~0xFFFu);
    s.Set<uint16_t>(block + 8, test::pe::RelocBuilder::Entry(type, target));
    for (size_t e = 1; e < 6; ++e)
        s.Set<uint16_t>(block + 8 + 2 * e, 0);
}

size_t DescriptorOffset(const Sample& s, size_t module) {
    return s.FileOffset(s.imports.descriptors) + s.imports.descriptorOffsets.at(module);
}

size_t LookupOffset(const Sample& s, size_t module, size_t function) {
    return s.FileOffset(s.imports.descriptors) + s.imports.lookupOffsets.at(module).at(function);
}

size_t ExportField(const Sample& s, size_t field) {
    return s.FileOffset(s.exports.directory) + field;
}

// The export directory claims the given counts; a function table that large is moved
// behind the sections, into zero-filled room the image is grown by.
void ExportCounts(Sample& s, uint32_t functions, uint32_t names) {
    if (functions > 3) {
        s.Set<uint32_t>(test::pe::kOptionalHeader + test::pe::kOptSizeOfImage,
                        s.sizeOfImage + functions * 4);
        s.Set<uint32_t>(ExportField(s, 28), s.sizeOfImage);
    }
    s.Set<uint32_t>(ExportField(s, 20), functions);
    s.Set<uint32_t>(ExportField(s, 24), names);
}

std::vector<Variant> Variants() {
    using namespace test::pe;
    const size_t file = kNtHeaders + 4;
    const size_t opt = kOptionalHeader;
    return {
        {"unchanged", [](Sample&) {}, true},
        // DOS and NT headers.
        {"e_lfanew past the end", [](Sample& s) { s.Set<uint32_t>(60, s.bytes.size()); }, false},
        {"e_lfanew on the last bytes", [](Sample& s) { s.Set<uint32_t>(60, s.bytes.size() - 2); },
         false},
        {"e_lfanew huge", [](Sample& s) { s.Set<uint32_t>(60, 0xFFFFFFFF); }, false},
        {"e_lfanew into the DOS header", [](Sample& s) { s.Set<uint32_t>(60, 0x40); }, false},
        {"signature", [](Sample& s) { s.Set<uint8_t>(kNtHeaders + 2, 1); }, false},
        {"PE32 magic", [=](Sample& s) { s.Set<uint16_t>(opt, 0x10B); }, false},
        {"optional header size 0", [=](Sample& s) { s.Set<uint16_t>(file + 16, 0); }, false},
        {"optional header size 111", [=](Sample& s) { s.Set<uint16_t>(file + 16, 111); }, false},
        {"optional header past the end", [=](Sample& s) { s.Set<uint16_t>(file + 16, 0xFFFF); },
         false},
        {"section table past the end", [=](Sample& s) { s.Set<uint16_t>(file + 2, 0xFFFF); },
         false},
        {"no data directories",
         [=](Sample& s) { s.Set<uint32_t>(opt + kOptNumberOfRvaAndSizes, 0); }, true},
        {"SizeOfHeaders past the file",
         [=](Sample& s) { s.Set<uint32_t>(opt + kOptSizeOfHeaders, s.bytes.size() + 1); }, false},
        {"SizeOfHeaders past SizeOfImage",
         [=](Sample& s) {
             s.Set<uint32_t>(opt + kOptSizeOfImage, 0x200);
             s.Set<uint32_t>(opt + kOptSizeOfHeaders, 0x400);
         },
         false},
        {"SizeOfHeaders short of the section table",
         [=](Sample& s) { s.Set<uint32_t>(opt + kOptSizeOfHeaders, 0x100); }, false},
        {"SizeOfImage 0", [=](Sample& s) { s.Set<uint32_t>(opt + kOptSizeOfImage, 0); }, false},
        {"SizeOfImage short of the last section",
         [=](Sample& s) { s.Set<uint32_t>(opt + kOptSizeOfImage, s.sizeOfImage - 1); }, false},
        {"entry point 0", [=](Sample& s) { s.Set<uint32_t>(opt + kOptEntryPoint, 0); }, false},
        {"entry point at SizeOfImage",
         [=](Sample& s) { s.Set<uint32_t>(opt + kOptEntryPoint, s.sizeOfImage); }, false},
        {"entry point huge", [=](Sample& s) { s.Set<uint32_t>(opt + kOptEntryPoint, 0xFFFFFFF0); },
         false},
        // Sections.
        {"raw data past the end",
         [](Sample& s) { SetSectionField(s, kText, kSecPointerToRawData, s.bytes.size()); }, false},
        {"raw data pointer huge",
         [](Sample& s) { SetSectionField(s, kData, kSecPointerToRawData, 0xFFFFFE00); }, false},
        {"raw size one past the file",
         [](Sample& s) {
             SetSectionField(s, kText, kSecSizeOfRawData, s.bytes.size() - s.RawOffset(kText) + 1);
         },
         false},
        {"raw size huge",
         [](Sample& s) { SetSectionField(s, kRdata, kSecSizeOfRawData, 0xFFFFFFFF); }, false},
        {"virtual address past SizeOfImage",
         [](Sample& s) { SetSectionField(s, kText, kSecVirtualAddress, 0xFFFFF000); }, false},
        {"raw data ending past SizeOfImage",
         [](Sample& s) {
             SetSectionField(s, kTail, kSecVirtualAddress, s.sizeOfImage - kTailSize + 1);
         },
         false},
        {"virtual size past SizeOfImage",
         [](Sample& s) { SetSectionField(s, kData, kSecVirtualSize, 0xFFFFFFFF); }, false},
        {"empty section anywhere in the file",
         [](Sample& s) {
             SetSectionField(s, kTail, kSecSizeOfRawData, 0);
             SetSectionField(s, kTail, kSecPointerToRawData, 0xFFFFFFFF);
         },
         true},
        // Relocation blocks.
        {"SizeOfBlock 4", [](Sample& s) { s.Set<uint32_t>(BlockOffset(s, 0) + 4, 4); }, false},
        {"SizeOfBlock 7", [](Sample& s) { s.Set<uint32_t>(BlockOffset(s, 1) + 4, 7); }, false},
        {"SizeOfBlock odd", [](Sample& s) { s.Set<uint32_t>(BlockOffset(s, 0) + 4, 19); }, false},
        {"SizeOfBlock past the raw data",
         [](Sample& s) { s.Set<uint32_t>(BlockOffset(s, 1) + 4, 0x200); }, false},
        {"SizeOfBlock huge", [](Sample& s) { s.Set<uint32_t>(BlockOffset(s, 0) + 4, 0xFFFFFFF8); },
         false},
        {"relocation raw size past the file",
         [](Sample& s) { SetSectionField(s, kReloc, kSecSizeOfRawData, 0x10000); }, false},
        {"DIR64 on the last 8 bytes",
         [](Sample& s) { OnlyRelocation(s, kRelocDir64, s.sizeOfImage - 8); }, true},
        {"DIR64 on the last 7 bytes",
         [](Sample& s) { OnlyRelocation(s, kRelocDir64, s.sizeOfImage - 7); }, false},
        {"DIR64 far outside", [](Sample& s) { OnlyRelocation(s, kRelocDir64, 0xFFFFF000); }, false},
        {"HIGHLOW on the last 4 bytes",
         [](Sample& s) { OnlyRelocation(s, kRelocHighLow, s.sizeOfImage - 4); }, true},
        {"HIGHLOW on the last 3 bytes",
         [](Sample& s) { OnlyRelocation(s, kRelocHighLow, s.sizeOfImage - 3); }, false},
        {"other type outside is skipped", [](Sample& s) { OnlyRelocation(s, 4, 0xFFFFF000); },
         true},
        {"relocations only in the first 12 bytes",
         [](Sample& s) {
             // A tail shorter than a block header after the walk's bound.
             s.Set<uint32_t>(BlockOffset(s, 0) + 4, 12);
             SetSectionField(s, kReloc, kSecSizeOfRawData, 16);
         },
         true},
        // Imports.
        {"import directory across the end",
         [](Sample& s) { SetDirectory(s, kImportDirectory, s.sizeOfImage - 10); }, false},
        {"import directory huge", [](Sample& s) { SetDirectory(s, kImportDirectory, 0xFFFFFFF0); },
         false},
        {"import descriptors of non-zero filler",
         [](Sample& s) { SetDirectory(s, kImportDirectory, s.Rva(kTail)); }, false},
        {"module name past the image",
         [](Sample& s) { s.Set<uint32_t>(DescriptorOffset(s, 0) + 12, s.sizeOfImage); }, false},
        {"module name unterminated",
         [](Sample& s) { s.Set<uint32_t>(DescriptorOffset(s, 1) + 12, s.Rva(kTail) + 0x100); },
         false},
        {"module not loadable",
         [](Sample& s) {
             const uint32_t name = Get<uint32_t>(s.bytes, DescriptorOffset(s, 0) + 12);
             s.Set<uint16_t>(s.FileOffset(name), 'z' | 'z' << 8);
         },
         false},
        {"lookup table past the image",
         [](Sample& s) { s.Set<uint32_t>(DescriptorOffset(s, 0), s.sizeOfImage - 4); }, false},
        {"address table past the image",
         [](Sample& s) { s.Set<uint32_t>(DescriptorOffset(s, 2) + 16, s.sizeOfImage - 4); }, false},
        {"lookup table of non-zero filler",
         [](Sample& s) { s.Set<uint32_t>(DescriptorOffset(s, 1), s.Rva(kTail)); }, false},
        {"hint/name past the image",
         [](Sample& s) { s.Set<uint64_t>(LookupOffset(s, 0, 0), s.sizeOfImage - 1); }, false},
        {"hint/name huge",
         [](Sample& s) { s.Set<uint64_t>(LookupOffset(s, 0, 2), 0x7FFFFFFFFFFFFFFF); }, false},
        {"function name unterminated",
         [](Sample& s) { s.Set<uint64_t>(LookupOffset(s, 2, 0), s.Rva(kTail) + 0x100); }, false},
        {"ordinal above 16 bits",
         [](Sample& s) { s.Set<uint64_t>(LookupOffset(s, 0, 1), kOrdinalFlag | 0x10000); }, false},
        // Exports.
        {"export directory across the end",
         [](Sample& s) { SetDirectory(s, kExportDirectory, s.sizeOfImage - 20); }, false},
        {"export directory huge", [](Sample& s) { SetDirectory(s, kExportDirectory, 0xFFFFFFF0); },
         false},
        {"NumberOfNames huge", [](Sample& s) { s.Set<uint32_t>(ExportField(s, 24), 0x40000000); },
         false},
        {"NumberOfFunctions huge",
         [](Sample& s) { s.Set<uint32_t>(ExportField(s, 20), 0x40000000); }, false},
        {"AddressOfFunctions across the end",
         [](Sample& s) { s.Set<uint32_t>(ExportField(s, 28), s.sizeOfImage - 8); }, false},
        {"AddressOfNames past the image",
         [](Sample& s) { s.Set<uint32_t>(ExportField(s, 32), s.sizeOfImage); }, false},
        {"AddressOfNameOrdinals across the end",
         [](Sample& s) { s.Set<uint32_t>(ExportField(s, 36), s.sizeOfImage - 1); }, false},
        {"export name past the image",
         [](Sample& s) { s.Set<uint32_t>(s.FileOffset(s.exports.names + 4), s.sizeOfImage); },
         false},
        {"export name unterminated",
         [](Sample& s) { s.Set<uint32_t>(s.FileOffset(s.exports.names), s.Rva(kTail) + 0x100); },
         false},
        {"ordinal past the function table",
         [](Sample& s) { s.Set<uint16_t>(s.FileOffset(s.exports.ordinals + 2), 3); }, false},
        {"function past the image",
         [](Sample& s) { s.Set<uint32_t>(s.FileOffset(s.exports.functions + 4), 0xFFFFFF00); },
         false},
        // Found by the engine-image fuzzer: tables of 0x0F0F0F0F entries in a zero-filled
        // 1.9 GB image made every export walk take seconds. Ordinals are 16-bit, so no
        // image has more than 65536 functions to reach.
        {"0x0F0F0F0F exports in a 1.9 GB image",
         [](Sample& s) {
             s.Set<uint32_t>(kOptionalHeader + test::pe::kOptSizeOfImage, 0x74426200);
             for (uint32_t field : {20u, 24u})
                 s.Set<uint32_t>(s.FileOffset(s.exports.directory + field), 0x0F0F0F0F);
             for (uint32_t field : {28u, 32u, 36u})
                 s.Set<uint32_t>(s.FileOffset(s.exports.directory + field), s.sizeOfImage);
         },
         false},
        {"65536 functions", [](Sample& s) { ExportCounts(s, 0x10000, 3); }, true},
        {"65537 functions", [](Sample& s) { ExportCounts(s, 0x10001, 3); }, false},
        {"65537 names", [](Sample& s) { ExportCounts(s, 3, 0x10001); }, false},
        // Sections sharing addresses or raw data would copy and walk the same bytes again.
        {"two sections at the same addresses",
         [](Sample& s) {
             s.Set<uint32_t>(s.SectionHeader(kTail) + kSecVirtualAddress, s.Rva(kData) + 0x100);
         },
         false},
        {"two sections sharing raw data",
         [](Sample& s) {
             s.Set<uint32_t>(s.SectionHeader(kTail) + kSecPointerToRawData,
                             static_cast<uint32_t>(s.RawOffset(kText)));
         },
         false},
    };
}

TEST(PeImage, ImagesPointingOutsideThemselvesAreRefused) {
    const size_t before = ExecutableAnonymousBytes();
    for (const Variant& v : Variants()) {
        SCOPED_TRACE(v.name);
        EntryLog log;
        SampleOptions options;
        options.entry = EntryCode::kLogged;
        options.log = &log;
        Sample sample = test::pe::BuildSample(options);
        v.change(sample);
        const ExactBuffer image(sample.bytes);
        void* entry = nullptr;
        void* base = crvcore::LoadPeImage(image.data(), image.size(), &entry);
        if (!v.loads) {
            EXPECT_EQ(base, nullptr);
            EXPECT_EQ(log.attaches, 0);
            continue;
        }
        ASSERT_NE(base, nullptr);
        EXPECT_EQ(log.attaches, 1);
        EXPECT_TRUE(crvcore::FreePeImage(base, entry));
        EXPECT_EQ(log.detaches, 1);
    }
    // Every refused image gave its memory back.
    EXPECT_EQ(ExecutableAnonymousBytes(), before);
}

TEST(PeImage, EdgeCasesThatLoadBehave) {
    // Without data directories there is nothing to import or export.
    SampleOptions options;
    Sample sample = test::pe::BuildSample(options);
    sample.Set<uint32_t>(test::pe::kOptionalHeader + test::pe::kOptNumberOfRvaAndSizes, 0);
    Mapped bare(sample.bytes);
    ASSERT_NE(bare.base, nullptr);
    EXPECT_EQ(crvcore::FindPeExport(bare.base, "Beta"), nullptr);
    const uint32_t slot = sample.imports.slots.at(0).at(0);
    EXPECT_EQ(bare.Read<uint64_t>(slot), Get<uint64_t>(sample.bytes, sample.FileOffset(slot)));

    // A DIR64 entry on the very last bytes of the image.
    sample = test::pe::BuildSample(options);
    OnlyRelocation(sample, test::pe::kRelocDir64, sample.sizeOfImage - 8);
    Mapped last(sample.bytes);
    ASSERT_NE(last.base, nullptr);
    const uint64_t delta = reinterpret_cast<uintptr_t>(last.base) - options.imageBase;
    EXPECT_EQ(last.Read<uint64_t>(sample.sizeOfImage - 8), 0x4141414141414141u + delta);
}

TEST(PeImage, TruncatedImagesAreRefused) {
    EntryLog log;
    SampleOptions options;
    options.entry = EntryCode::kLogged;
    options.log = &log;
    const Sample sample = test::pe::BuildSample(options);
    const size_t before = ExecutableAnonymousBytes();
    // Every length short of the whole: the last section's raw data always reaches the end.
    for (size_t length = 0; length < sample.bytes.size(); ++length) {
        const ExactBuffer image(sample.bytes, length);
        void* entry = nullptr;
        ASSERT_EQ(crvcore::LoadPeImage(image.data(), image.size(), &entry), nullptr)
            << "length " << length;
    }
    EXPECT_EQ(log.attaches, 0);
    EXPECT_EQ(ExecutableAnonymousBytes(), before);
    const ExactBuffer whole(sample.bytes);
    void* entry = nullptr;
    void* base = crvcore::LoadPeImage(whole.data(), whole.size(), &entry);
    ASSERT_NE(base, nullptr);
    EXPECT_TRUE(crvcore::FreePeImage(base, entry));
}

}  // namespace
