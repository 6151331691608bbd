#include "platform/codepage.h"

#include "platform/win32/windows_headers.h"

namespace plat {

uint32_t AnsiCodePage() {
    return ::GetACP();
}

int MultiByteToWideChar(uint32_t codePage, uint32_t flags, const char* src, int srcLen,
                        char16_t* dst, int dstLen) {
    return ::MultiByteToWideChar(codePage, flags, src, srcLen, reinterpret_cast<wchar_t*>(dst),
                                 dstLen);
}

int WideCharToMultiByte(uint32_t codePage, uint32_t flags, const char16_t* src, int srcLen,
                        char* dst, int dstLen) {
    return ::WideCharToMultiByte(codePage, flags, reinterpret_cast<const wchar_t*>(src), srcLen,
                                 dst, dstLen, nullptr, nullptr);
}

}  // namespace plat
