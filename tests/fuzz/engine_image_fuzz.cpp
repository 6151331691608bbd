// Engine images: mutations of a small PE32+ image through the mapper (sections,
// relocations, imports, exports, sharing and release), and of a small shared object
// through the checks the ELF path makes before the system loader sees the bytes. The
// first input byte picks the path and what the entry routine answers; the mapper's call of
// the entry routine is replaced, so no byte of the image runs as code.
#include <cstring>
#include <vector>

#include "component/crvcore/engine_image.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

struct EntryCalls {
    void* routine = nullptr;
    void* instance = nullptr;
    int attaches = 0;
    int detaches = 0;
    int32_t attachAnswer = 1;
};
EntryCalls g_calls;

int32_t RecordEntry(void* routine, void* instance, uint32_t reason) {
    g_calls.routine = routine;
    g_calls.instance = instance;
    if (reason == 1) {
        ++g_calls.attaches;
        return g_calls.attachAnswer;
    }
    ++g_calls.detaches;
    return 1;
}

uint32_t Le32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// The image's SizeOfImage, read from the bytes the mapper accepted.
uint32_t SizeOfImage(const std::vector<uint8_t>& image) {
    const uint32_t nt = Le32(image.data() + 60);
    return Le32(image.data() + nt + 24 + 56);
}

void InsideImage(const void* p, const void* base, uint32_t size) {
    const auto* b = static_cast<const uint8_t*>(base);
    const auto* q = static_cast<const uint8_t*>(p);
    FUZZ_CHECK(q >= b && q < b + size);
}

void MapPe(const std::vector<uint8_t>& image, bool refuseAttach) {
    g_calls = EntryCalls{};
    g_calls.attachAnswer = refuseAttach ? 0 : 1;
    void* entry = nullptr;
    void* base =
        crvcore::LoadEngineImageAs(crvcore::kPeImageFormat, image.data(), image.size(), &entry);
    if (base == nullptr) {
        FUZZ_CHECK(crvcore::EngineImageHolders() == 0);
        return;
    }
    FUZZ_CHECK(!refuseAttach);
    FUZZ_CHECK(g_calls.attaches == 1 && g_calls.instance == base && g_calls.routine == entry);
    const uint32_t size = SizeOfImage(image);
    InsideImage(entry, base, size);
    for (const char* name : {"Alpha", "Beta", "Corvane_Ping_Do", ""}) {
        if (void* found = crvcore::FindPeExport(base, name)) InsideImage(found, base, size);
    }
    FUZZ_CHECK(crvcore::EngineImageHolders() == 1);
    FUZZ_CHECK(crvcore::FreeEngineImageAs(crvcore::kPeImageFormat, base, entry));
    FUZZ_CHECK(g_calls.detaches == 1);
    FUZZ_CHECK(crvcore::EngineImageHolders() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    crvcore::CreateLoaderLock();
    crvcore::SetPeEntryCaller(&RecordEntry);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // An exact-size copy, so that ASan sees any read past the image's end.
    const std::vector<uint8_t> image(data + 1, data + size);
    if ((data[0] & 1) != 0) {
        // Only the checks: loading a shared object would run its initialisers.
        crvcore::ElfImageIsWellFormed(image.data(), image.size());
        return 0;
    }
    MapPe(image, (data[0] & 2) != 0);
    return 0;
}
