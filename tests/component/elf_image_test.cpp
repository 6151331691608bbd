// The engine loader on Linux: the real engine module loaded from bytes in memory, shared
// between holders, searched with the system's symbol look-up, and working.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "component/crvcore/engine_image.h"
#include "component/crvping/entry_points.h"
#include "engine/core/corvane20.h"
#include "tests/component/process_maps.h"

namespace {

class LoaderLock : public ::testing::Environment {
  public:
    void SetUp() override { crvcore::CreateLoaderLock(); }
    void TearDown() override { crvcore::DestroyLoaderLock(); }
};
[[maybe_unused]] const auto* const kLoaderLock =
    ::testing::AddGlobalTestEnvironment(new LoaderLock);

// Read once; the loader gets only these bytes.
const std::vector<uint8_t>& EngineBytes() {
    static const std::vector<uint8_t> bytes = [] {
        std::ifstream in(CORVANE_ENGINE_PATH, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>());
    }();
    return bytes;
}

using crv::kEntryPointNames;

bool AnyMappingOf(const std::string& path) {
    for (const test::MapLine& line : test::ReadMaps()) {
        if (line.path == path) return true;
    }
    return false;
}

// A ping object made and destroyed through the entry points found; its packet size is
// the one Create sets.
intptr_t PacketSizeOfNewPing(void* base) {
    auto create = reinterpret_cast<decltype(&Corvane_Ping_Create)>(
        crvcore::FindEngineExport(base, "Corvane_Ping_Create"));
    auto get = reinterpret_cast<decltype(&Corvane_Ping_Get)>(
        crvcore::FindEngineExport(base, "Corvane_Ping_Get"));
    auto destroy = reinterpret_cast<decltype(&Corvane_Ping_Destroy)>(
        crvcore::FindEngineExport(base, "Corvane_Ping_Destroy"));
    if (create == nullptr || get == nullptr || destroy == nullptr) return -1;
    void* ping = create(nullptr, nullptr, nullptr, 0);
    if (ping == nullptr) return -1;
    const intptr_t size = get(ping, CORVANE_PING_PACKET_SIZE, 0, nullptr, 0);
    destroy(ping);
    return size;
}

class ElfImage : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(EngineBytes().empty()) << CORVANE_ENGINE_PATH;
        ASSERT_EQ(crvcore::EngineImageHolders(), 0);
    }
    void* Load(void** entry) {
        return crvcore::LoadEngineImage(EngineBytes().data(), EngineBytes().size(), entry);
    }
};

TEST_F(ElfImage, LinuxIsNotAnNtPlatform) {
    EXPECT_FALSE(crvcore::IsNTPlatform());
}

TEST_F(ElfImage, LoadsFromMemoryAndFindsTheEntryPoints) {
    void* entry = nullptr;
    void* base = Load(&entry);
    ASSERT_NE(base, nullptr);
    EXPECT_NE(entry, nullptr);
    EXPECT_EQ(crvcore::EngineImageHolders(), 1);
    for (const char* name : kEntryPointNames) {
        SCOPED_TRACE(name);
        void* address = crvcore::FindEngineExport(base, name);
        ASSERT_NE(address, nullptr);
        // The code runs from the memory file, not from the engine's file on disk.
        EXPECT_NE(test::MappingOf(address).path.find("/memfd:"), std::string::npos);
    }
    EXPECT_FALSE(AnyMappingOf(CORVANE_ENGINE_PATH));
    for (const char* absent : {"Corvane_Ping_Nothing", "corvane_ping_do", "Corvane_Ping_D", ""}) {
        SCOPED_TRACE(absent);
        EXPECT_EQ(crvcore::FindEngineExport(base, absent), nullptr);
    }
    EXPECT_EQ(crvcore::FindEngineExport(nullptr, "Corvane_Ping_Do"), nullptr);
    EXPECT_EQ(PacketSizeOfNewPing(base), 64);
    EXPECT_TRUE(crvcore::FreeEngineImage(base, entry));
    EXPECT_EQ(crvcore::EngineImageHolders(), 0);
}

TEST_F(ElfImage, SecondLoadSharesAndTheLastFreeUnloads) {
    void* entry1 = nullptr;
    void* entry2 = nullptr;
    void* base1 = Load(&entry1);
    ASSERT_NE(base1, nullptr);
    const test::MapLine code = test::MappingOf(crvcore::FindEngineExport(base1, "Corvane_Ping_Do"));
    ASSERT_NE(code.path.find("/memfd:"), std::string::npos);
    // The second holder's bytes are not even looked at.
    const uint8_t garbage[8] = {};
    void* base2 = crvcore::LoadEngineImage(garbage, sizeof garbage, &entry2);
    EXPECT_EQ(base2, base1);
    EXPECT_EQ(entry2, entry1);
    EXPECT_EQ(crvcore::EngineImageHolders(), 2);

    EXPECT_FALSE(crvcore::FreeEngineImage(base1, nullptr));
    EXPECT_FALSE(crvcore::FreeEngineImage(base1, entry1));
    EXPECT_EQ(crvcore::EngineImageHolders(), 1);
    EXPECT_TRUE(AnyMappingOf(code.path));
    EXPECT_EQ(PacketSizeOfNewPing(base1), 64);
    EXPECT_TRUE(crvcore::FreeEngineImage(base2, entry2));
    EXPECT_EQ(crvcore::EngineImageHolders(), 0);
    // Detach ran as the unload: the object's memory file is gone.
    EXPECT_FALSE(AnyMappingOf(code.path));
    // A stale pair is refused, not handed to the system loader.
    EXPECT_FALSE(crvcore::FreeEngineImage(base1, entry1));

    // And it can be loaded again; attach runs again.
    void* entry3 = nullptr;
    void* base3 = Load(&entry3);
    ASSERT_NE(base3, nullptr);
    EXPECT_EQ(PacketSizeOfNewPing(base3), 64);
    EXPECT_TRUE(crvcore::FreeEngineImage(base3, entry3));
}

TEST_F(ElfImage, BytesThatAreNoModuleGiveNull) {
    std::vector<uint8_t> broken = EngineBytes();
    broken[1] = 'X';  // "\x7f" "XLF"
    const std::vector<uint8_t> cut(EngineBytes().begin(), EngineBytes().begin() + 200);
    for (const std::vector<uint8_t>* bytes : {&std::as_const(broken), &cut}) {
        void* entry = nullptr;
        EXPECT_EQ(crvcore::LoadEngineImage(bytes->data(), bytes->size(), &entry), nullptr);
        EXPECT_EQ(entry, nullptr);
        EXPECT_EQ(crvcore::EngineImageHolders(), 0);
    }
    void* entry = nullptr;
    EXPECT_EQ(crvcore::LoadEngineImage(nullptr, 0, &entry), nullptr);
    EXPECT_EQ(crvcore::EngineImageHolders(), 0);
}

}  // namespace

namespace {

template <typename T>
void PutAt(std::vector<uint8_t>& bytes, size_t offset, T value) {
    std::memcpy(bytes.data() + offset, &value, sizeof value);
}

template <typename T>
T GetAt(const std::vector<uint8_t>& bytes, size_t offset) {
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

// Bytes that point outside themselves never reach the system loader: the header, the
// program header table and every segment's file range are checked first.
TEST(ElfImageChecks, MalformedImagesAreRefusedBeforeTheSystemLoader) {
    const std::vector<uint8_t>& engine = EngineBytes();
    ASSERT_GT(engine.size(), 64u);
    ASSERT_TRUE(crvcore::ElfImageIsWellFormed(engine.data(), engine.size()));
    const uint64_t table = GetAt<uint64_t>(engine, 32);
    const uint16_t count = GetAt<uint16_t>(engine, 56);
    ASSERT_GT(count, 0);
    // The first PT_LOAD.
    size_t load = 0;
    for (uint16_t i = 0; i < count && load == 0; ++i) {
        if (GetAt<uint32_t>(engine, table + 56u * i) == 1) load = table + 56u * i;
    }
    ASSERT_NE(load, 0u);
    // Where the last byte any segment loads from the file lies (debug sections follow).
    uint64_t segmentsEnd = 0;
    for (uint16_t i = 0; i < count; ++i) {
        const size_t ph = table + 56u * i;
        segmentsEnd = std::max(segmentsEnd,
                               GetAt<uint64_t>(engine, ph + 8) + GetAt<uint64_t>(engine, ph + 32));
    }
    struct Row {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> change;
    };
    const Row rows[] = {
        {"cut inside the header", [](auto& b) { b.resize(40); }},
        {"no magic", [](auto& b) { b[1] = 'X'; }},
        {"32-bit class", [](auto& b) { b[4] = 1; }},
        {"big-endian", [](auto& b) { b[5] = 2; }},
        {"an executable, not a shared object", [](auto& b) { PutAt<uint16_t>(b, 16, 2); }},
        {"another machine", [](auto& b) { PutAt<uint16_t>(b, 18, 40); }},
        {"program headers past the end", [](auto& b) { PutAt<uint64_t>(b, 32, b.size()); }},
        {"program header offset wraps", [](auto& b) { PutAt<uint64_t>(b, 32, ~uint64_t{0} - 8); }},
        {"odd program header size", [](auto& b) { PutAt<uint16_t>(b, 54, 48); }},
        {"no program headers", [](auto& b) { PutAt<uint16_t>(b, 56, 0); }},
        {"too many program headers", [](auto& b) { PutAt<uint16_t>(b, 56, 0xFFFF); }},
        {"a segment past the end",
         [load](auto& b) { PutAt<uint64_t>(b, load + 32, b.size() + 1); }},
        {"a segment offset wraps", [load](auto& b) { PutAt<uint64_t>(b, load + 8, ~uint64_t{0}); }},
        {"more file than memory",
         [load](auto& b) { PutAt<uint64_t>(b, load + 40, GetAt<uint64_t>(b, load + 32) - 1); }},
        {"alignment not a power of two", [load](auto& b) { PutAt<uint64_t>(b, load + 48, 3); }},
        {"cut inside its last segment",
         [segmentsEnd](auto& b) { b.resize(static_cast<size_t>(segmentsEnd) - 1); }},
    };
    for (const Row& row : rows) {
        std::vector<uint8_t> bytes = engine;
        row.change(bytes);
        EXPECT_FALSE(crvcore::ElfImageIsWellFormed(bytes.data(), bytes.size())) << row.what;
        void* entry = nullptr;
        EXPECT_EQ(crvcore::LoadElfImage(bytes.data(), bytes.size(), &entry), nullptr) << row.what;
    }
}

}  // namespace
