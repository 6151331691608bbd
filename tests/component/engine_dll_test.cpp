// The PE mapper on the real engine module, corvane20.dll, as the program carries it: the
// exports it finds by name lie where the system's own loader puts them, a second load
// shares the first, and the last release detaches the module and frees its pages.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "component/crvcore/engine_image.h"
#include "component/crvping/entry_points.h"
#include "engine/core/corvane20.h"

namespace {

// The table's names and the two the module runs itself from its entry routine.
std::vector<const char*> Exports() {
    std::vector<const char*> names(std::begin(crv::kEntryPointNames),
                                   std::end(crv::kEntryPointNames));
    names.push_back("Corvane_Ping_StaticInit");
    names.push_back("Corvane_Ping_StaticDestroy");
    return names;
}

constexpr char kSocketWindowClass[] = "__corvane_socket_wnd__";

// The engine image this program carries as its resource.
struct Resource {
    const void* bytes = nullptr;
    size_t size = 0;
};

Resource EngineResource() {
    HRSRC found = FindResourceW(nullptr, L"CORVANE20_DTA", MAKEINTRESOURCEW(10));
    if (found == nullptr) return {};
    HGLOBAL loaded = LoadResource(nullptr, found);
    return {LockResource(loaded), SizeofResource(nullptr, found)};
}

// Holds the loader lock for a test, as the program's units do.
class EngineDll : public ::testing::Test {
  protected:
    void SetUp() override {
        crvcore::CreateLoaderLock();
        image_ = EngineResource();
        ASSERT_NE(image_.bytes, nullptr) << "the program carries no engine resource";
        ASSERT_TRUE(crvcore::IsNTPlatform());
    }
    void TearDown() override { crvcore::DestroyLoaderLock(); }

    Resource image_;
};

bool PagesFree(const void* address) {
    MEMORY_BASIC_INFORMATION info{};
    return VirtualQuery(address, &info, sizeof info) == sizeof info && info.State == MEM_FREE;
}

TEST_F(EngineDll, ExportsLieWhereTheSystemLoaderPutsThem) {
    void* entry = nullptr;
    void* base = crvcore::LoadEngineImage(image_.bytes, image_.size, &entry);
    ASSERT_NE(base, nullptr);
    ASSERT_NE(entry, nullptr);
    // The same file, mapped by the system from the program's folder.
    HMODULE system = LoadLibraryA("corvane20.dll");
    ASSERT_NE(system, nullptr) << GetLastError();
    EXPECT_NE(static_cast<void*>(system), base);
    for (const char* name : Exports()) {
        SCOPED_TRACE(name);
        const auto mine = reinterpret_cast<uintptr_t>(crvcore::FindEngineExport(base, name));
        const auto theirs = reinterpret_cast<uintptr_t>(GetProcAddress(system, name));
        ASSERT_NE(mine, 0u);
        ASSERT_NE(theirs, 0u);
        EXPECT_EQ(mine - reinterpret_cast<uintptr_t>(base),
                  theirs - reinterpret_cast<uintptr_t>(system));
    }
    EXPECT_EQ(crvcore::FindEngineExport(base, "Corvane_Ping_do"), nullptr);
    EXPECT_EQ(crvcore::FindEngineExport(base, "DllMain"), nullptr);
    FreeLibrary(system);
    EXPECT_TRUE(crvcore::FreeEngineImage(base, entry));
}

TEST_F(EngineDll, AttachRunsTheModuleAndTheLastReleaseUndoesIt) {
    void* entry = nullptr;
    void* base = crvcore::LoadEngineImage(image_.bytes, image_.size, &entry);
    ASSERT_NE(base, nullptr);
    // Attach registered the hidden window class for this image and started the module.
    WNDCLASSA windowClass{};
    EXPECT_TRUE(GetClassInfoA(static_cast<HINSTANCE>(base), kSocketWindowClass, &windowClass));
    auto create = reinterpret_cast<decltype(&Corvane_Ping_Create)>(
        crvcore::FindEngineExport(base, "Corvane_Ping_Create"));
    auto destroy = reinterpret_cast<decltype(&Corvane_Ping_Destroy)>(
        crvcore::FindEngineExport(base, "Corvane_Ping_Destroy"));
    ASSERT_NE(create, nullptr);
    ASSERT_NE(destroy, nullptr);
    void* ping = create(nullptr, nullptr, nullptr, 0);
    ASSERT_NE(ping, nullptr);
    EXPECT_EQ(destroy(ping), 0);

    // A second load shares the first and ignores its bytes.
    void* secondEntry = nullptr;
    EXPECT_EQ(crvcore::LoadEngineImage(nullptr, 0, &secondEntry), base);
    EXPECT_EQ(secondEntry, entry);
    EXPECT_EQ(crvcore::EngineImageHolders(), 2);
    EXPECT_FALSE(crvcore::FreeEngineImage(base, entry));
    EXPECT_EQ(crvcore::EngineImageHolders(), 1);
    EXPECT_FALSE(PagesFree(base));
    EXPECT_TRUE(GetClassInfoA(static_cast<HINSTANCE>(base), kSocketWindowClass, &windowClass));

    // The last one detaches (the class goes) and releases the pages.
    EXPECT_TRUE(crvcore::FreeEngineImage(base, entry));
    EXPECT_EQ(crvcore::EngineImageHolders(), 0);
    EXPECT_TRUE(PagesFree(base));
    EXPECT_FALSE(GetClassInfoA(static_cast<HINSTANCE>(base), kSocketWindowClass, &windowClass));
    // Nothing of it is left to free.
    EXPECT_FALSE(crvcore::FreeEngineImage(base, entry));
}

TEST_F(EngineDll, DamagedCopiesOfTheRealImageAreRefused) {
    const auto* bytes = static_cast<const uint8_t*>(image_.bytes);
    struct Case {
        const char* what;
        size_t size;
        size_t offset;  // a byte changed before mapping, or SIZE_MAX for none
        uint8_t value;
    };
    const uint32_t lfanew = *reinterpret_cast<const uint32_t*>(bytes + 60);
    const Case cases[] = {
        {"cut inside the headers", 200, SIZE_MAX, 0},
        {"cut inside the sections", image_.size / 2, SIZE_MAX, 0},
        {"signature damaged", image_.size, lfanew + 1, 'X'},
        {"e_lfanew beyond the image", image_.size, 63, 0x7F},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string copy(reinterpret_cast<const char*>(bytes), c.size);
        if (c.offset != SIZE_MAX) copy[c.offset] = static_cast<char>(c.value);
        void* entry = nullptr;
        EXPECT_EQ(crvcore::LoadEngineImage(copy.data(), copy.size(), &entry), nullptr);
        EXPECT_EQ(entry, nullptr);
        EXPECT_EQ(crvcore::EngineImageHolders(), 0);
    }
}

}  // namespace
