// The engine loader on Linux: the real engine module loaded from bytes in memory, shared
// between holders, searched with the system's symbol look-up, and working.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
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
