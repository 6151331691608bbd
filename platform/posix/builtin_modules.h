// Inside the Linux backend: modules that stand for Windows system libraries. LoadLibraryA
// finds them by their Windows file names and GetProcAddress answers from their tables,
// so the layers above look up the same functions by the same names on both platforms.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plat::posix {

struct BuiltinExport {
    const char* name;  // compared with regard to case, as GetProcAddress does
    void* function;
    uint16_t ordinal = 0;  // the Windows library's ordinal; 0 when it has no fixed one
};

struct BuiltinModule {
    const char* fileName;  // compared without regard to case, ".dll" optional
    const BuiltinExport* exports;
    size_t exportCount;
};

// One accessor per module, defined next to the functions it exports; module.cpp lists
// them all.
const BuiltinModule& Ws2_32Module();    // resolver.cpp
const BuiltinModule& IcmpModule();      // icmp_helper.cpp
const BuiltinModule& IphlpapiModule();  // icmp_helper.cpp

}  // namespace plat::posix
