// Start-up cost of the engine module: from its bytes in memory to a bound table of the
// fourteen entry points (load plus fourteen look-ups), and, for comparison, the PE32+
// mapping of a synthetic 1 MiB image with a relocation every 16 bytes of its data. The
// references, measured in the same run: the system loader opening the engine's file and
// looking up the same fourteen names, and a plain copy of the synthetic image (the least
// any mapping must do). Prints the median and the maximum over the rounds, in ms.
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "component/crvcore/engine_image.h"
#include "component/crvping/entry_points.h"
#include "tests/component/pe_builder.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 20;

using crv::kEntryPointNames;

double Millis(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void Report(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    std::printf("%-44s median %8.3f ms   max %8.3f ms   (%zu rounds)\n", what, ms[ms.size() / 2],
                ms.back(), ms.size());
}

std::vector<uint8_t> SyntheticImage() {
    using namespace test::pe;
    ImageBuilder b;
    std::vector<uint8_t> code(768 * 1024, 0xCC);
    const uint8_t entry[] = {0xB8, 0x01, 0x00, 0x00, 0x00, 0xC3};  // mov eax, 1; ret
    std::copy(std::begin(entry), std::end(entry), code.begin());
    b.entryPoint = b.NextRva();
    b.AddSection(".text", code);
    const uint32_t data = b.NextRva();
    std::vector<uint8_t> values(256 * 1024, 0);
    RelocBuilder r;
    for (uint32_t page = 0; page < values.size(); page += 0x1000) {
        std::vector<uint16_t> entries;
        for (uint32_t at = 0; at < 0x1000; at += 16) {
            Put<uint64_t>(values, page + at, b.imageBase + data + page + at);
            entries.push_back(RelocBuilder::Entry(10, at));
        }
        r.Block(data + page, entries);
    }
    b.AddSection(".data", values);
    b.AddSection(".reloc", r.bytes);
    return b.Build();
}

}  // namespace

int main() {
    crvcore::CreateLoaderLock();
    std::ifstream in(CORVANE_ENGINE_PATH, std::ios::binary);
    const std::vector<uint8_t> engine(std::istreambuf_iterator<char>(in),
                                      std::istreambuf_iterator<char>{});
    if (engine.empty()) {
        std::fprintf(stderr, "cannot read %s\n", CORVANE_ENGINE_PATH);
        return 1;
    }

    std::vector<double> bind;
    for (int round = 0; round < kRounds; ++round) {
        void* table[std::size(kEntryPointNames)] = {};
        void* entry = nullptr;
        const auto start = Clock::now();
        void* base = crvcore::LoadEngineImage(engine.data(), engine.size(), &entry);
        if (base != nullptr) {
            for (size_t i = 0; i < std::size(kEntryPointNames); ++i)
                table[i] = crvcore::FindEngineExport(base, kEntryPointNames[i]);
        }
        const auto bound = Clock::now();
        if (base == nullptr || std::count(std::begin(table), std::end(table), nullptr) != 0) {
            std::fprintf(stderr, "the engine did not load or lacks an entry point\n");
            return 1;
        }
        crvcore::FreeEngineImage(base, entry);
        bind.push_back(Millis(bound - start));
    }
    std::printf("engine module: %zu bytes\n", engine.size());
    Report("load from memory + 14 look-ups", bind);

    std::vector<double> system;
    for (int round = 0; round < kRounds; ++round) {
        void* table[std::size(kEntryPointNames)] = {};
        const auto start = Clock::now();
        void* handle = dlopen(CORVANE_ENGINE_PATH, RTLD_NOW | RTLD_LOCAL);
        if (handle != nullptr) {
            for (size_t i = 0; i < std::size(kEntryPointNames); ++i)
                table[i] = dlsym(handle, kEntryPointNames[i]);
        }
        const auto bound = Clock::now();
        if (handle == nullptr || std::count(std::begin(table), std::end(table), nullptr) != 0) {
            std::fprintf(stderr, "the system loader could not open %s\n", CORVANE_ENGINE_PATH);
            return 1;
        }
        dlclose(handle);
        system.push_back(Millis(bound - start));
    }
    Report("reference: dlopen of the file + 14 dlsym", system);

    const std::vector<uint8_t> image = SyntheticImage();
    std::vector<double> map;
    std::vector<double> release;
    for (int round = 0; round < kRounds; ++round) {
        void* entry = nullptr;
        const auto start = Clock::now();
        void* base = crvcore::LoadPeImage(image.data(), image.size(), &entry);
        const auto mapped = Clock::now();
        if (base == nullptr) {
            std::fprintf(stderr, "the synthetic image was refused\n");
            return 1;
        }
        crvcore::FreePeImage(base, entry);
        const auto released = Clock::now();
        map.push_back(Millis(mapped - start));
        release.push_back(Millis(released - mapped));
    }
    std::printf("synthetic PE32+ image: %zu bytes, %zu relocations\n", image.size(),
                static_cast<size_t>(256 * 1024 / 16));
    Report("PE32+ mapping (sections, relocations, attach)", map);
    Report("PE32+ release (detach, release)", release);
    std::vector<double> copy;
    std::vector<uint8_t> target(image.size());
    for (int round = 0; round < kRounds; ++round) {
        const auto start = Clock::now();
        std::memcpy(target.data(), image.data(), image.size());
        // Keeps the copy from being optimised away.
        volatile uint8_t sink = target[round * 4096 % target.size()];
        (void)sink;
        copy.push_back(Millis(Clock::now() - start));
    }
    Report("reference: memcpy of the synthetic image", copy);
    crvcore::DestroyLoaderLock();
    return 0;
}
