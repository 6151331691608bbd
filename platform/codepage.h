// Conversions between UTF-16 and the byte strings of a numbered code page, with the
// behaviour of the Windows calls when called with flags 0: malformed input is replaced,
// not refused, and failures leave a system error number for LastError().
#pragma once

#include <cstdint>

#include "platform/export.h"

namespace plat {

inline constexpr uint32_t kCodePageAnsi = 0;  // the system's ANSI code page
inline constexpr uint32_t kCodePageUtf8 = 65001;

inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorInsufficientBuffer = 122;
inline constexpr uint32_t kErrorNoUnicodeTranslation = 1113;

// The code page that number 0 stands for (65001 on Linux).
PLAT_API uint32_t AnsiCodePage();

// Converts srcLen bytes (-1: up to and including the terminating NUL) of code page
// codePage into dst. dstLen 0 asks for the number of UTF-16 units needed. Returns the
// number of units written (or needed), or 0 on failure with LastError() set:
// 87 for a bad argument or unknown code page, 122 when dst is too small.
PLAT_API int MultiByteToWideChar(uint32_t codePage, uint32_t flags, const char* src, int srcLen,
                                 char16_t* dst, int dstLen);

// The reverse direction; characters the code page cannot hold become "?".
PLAT_API int WideCharToMultiByte(uint32_t codePage, uint32_t flags, const char16_t* src, int srcLen,
                                 char* dst, int dstLen);

}  // namespace plat
