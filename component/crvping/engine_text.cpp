#include "component/crvping/engine_text.h"

namespace crv {

__attribute__((noinline)) std::u16string CopyWide(const char16_t* text) {
    return text != nullptr ? std::u16string(text) : std::u16string();
}

__attribute__((noinline)) std::string CopyBytes(const char* text) {
    return text != nullptr ? std::string(text) : std::string();
}

}  // namespace crv
