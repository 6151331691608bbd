// Writes the engine-image fuzzer's seeds: the PE32+ test image (imports from the
// built-in Windows Sockets module only) and a minimal shared object header. Run once
// from the fuzz build: make_seeds DIRECTORY.
#include <cstdio>
#include <string>
#include <vector>

#include "tests/component/pe_sample.h"

namespace {

bool Write(const std::string& path, uint8_t selector, const std::vector<uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    std::fputc(selector, f);
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

// ELF64 header, a PT_LOAD over the whole file and a PT_DYNAMIC inside it.
std::vector<uint8_t> SharedObject() {
    std::vector<uint8_t> b(64 + 2 * 56 + 32, 0);
    const uint8_t ident[] = {0x7F, 'E', 'L', 'F', 2, 1, 1};
    std::copy(std::begin(ident), std::end(ident), b.begin());
    test::pe::Put<uint16_t>(b, 16, 3);
    test::pe::Put<uint16_t>(b, 18, 62);
    test::pe::Put<uint32_t>(b, 20, 1);
    test::pe::Put<uint64_t>(b, 32, 64);
    test::pe::Put<uint16_t>(b, 52, 64);
    test::pe::Put<uint16_t>(b, 54, 56);
    test::pe::Put<uint16_t>(b, 56, 2);
    const size_t load = 64;
    test::pe::Put<uint32_t>(b, load, 1);
    test::pe::Put<uint64_t>(b, load + 32, b.size());
    test::pe::Put<uint64_t>(b, load + 40, 0x2000);
    test::pe::Put<uint64_t>(b, load + 48, 0x1000);
    const size_t dynamic = 64 + 56;
    test::pe::Put<uint32_t>(b, dynamic, 2);
    test::pe::Put<uint64_t>(b, dynamic + 8, 64 + 2 * 56);
    test::pe::Put<uint64_t>(b, dynamic + 16, 64 + 2 * 56);
    test::pe::Put<uint64_t>(b, dynamic + 32, 32);
    test::pe::Put<uint64_t>(b, dynamic + 40, 32);
    return b;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    test::pe::SampleOptions options;
    options.imports = {{"ws2_32.dll", {{"getaddrinfo", 0, 3}, {"", 51}}}};
    const test::pe::Sample sample = test::pe::BuildSample(options);
    options.reloc = false;
    options.imports.clear();
    const test::pe::Sample bare = test::pe::BuildSample(options);
    const bool ok = Write(dir + "/pe_sample", 0, sample.bytes) &&
                    Write(dir + "/pe_without_reloc_or_imports", 0, bare.bytes) &&
                    Write(dir + "/elf_minimal", 1, SharedObject());
    return ok ? 0 : 1;
}
