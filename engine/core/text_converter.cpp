#include "engine/core/text_converter.h"

#include <cstring>

#include "engine/core/memory.h"
#include "platform/codepage.h"
#include "platform/last_error.h"

namespace corvane {

const char kEmptyBytes[1] = "";
const char16_t kEmptyWide[1] = u"";

namespace {

size_t WideLength(const char16_t* text) {
    size_t n = 0;
    while (text[n] != 0)
        ++n;
    return n;
}

template <typename Char>
Char* CopyOf(const Char* text, size_t length) {
    auto* copy = static_cast<Char*>(EngineAlloc((length + 1) * sizeof(Char)));
    if (copy != nullptr) std::memcpy(copy, text, (length + 1) * sizeof(Char));
    return copy;
}

}  // namespace

void TextConverter::Release() {
    if ((ownership & kOwnsBytes) != 0) EngineFree(bytes);
    if ((ownership & kOwnsWide) != 0) EngineFree(wide);
    ownership = 0;
    bytes = nullptr;
    wide = nullptr;
}

bool TextConverter::SetBytes(const char* text, bool copy) {
    Release();
    if (text == nullptr || !copy) {
        bytes = const_cast<char*>(text);
        return true;
    }
    bytes = CopyOf(text, std::strlen(text));
    if (bytes == nullptr) return false;
    ownership = kOwnsBytes;
    return true;
}

bool TextConverter::SetWide(const char16_t* text, bool copy) {
    Release();
    if (text == nullptr || !copy) {
        wide = const_cast<char16_t*>(text);
        return true;
    }
    wide = CopyOf(text, WideLength(text));
    if (wide == nullptr) return false;
    ownership = kOwnsWide;
    return true;
}

bool TextConverter::ConvertToWide() {
    if (wide != nullptr) return true;
    if (bytes == nullptr) return false;
    const uint32_t cp = CodePageArg(codePage);
    const int needed = plat::MultiByteToWideChar(cp, 0, bytes, -1, nullptr, 0);
    char16_t* out = nullptr;
    if (needed > 0) {
        out = static_cast<char16_t*>(EngineAlloc(static_cast<size_t>(needed) * sizeof(char16_t)));
        if (out == nullptr) plat::SetLastError(8);  // not enough memory
    }
    if (out == nullptr || plat::MultiByteToWideChar(cp, 0, bytes, -1, out, needed) == 0) {
        status = static_cast<int32_t>(plat::GetLastError());
        EngineFree(out);
        Release();
        return false;
    }
    wide = out;
    ownership |= kOwnsWide;
    return true;
}

bool TextConverter::ConvertToBytes() {
    if (bytes != nullptr) return true;
    if (wide == nullptr) return false;
    const uint32_t cp = CodePageArg(codePage);
    const int needed = plat::WideCharToMultiByte(cp, 0, wide, -1, nullptr, 0);
    char* out = nullptr;
    if (needed > 0) {
        out = static_cast<char*>(EngineAlloc(static_cast<size_t>(needed)));
        if (out == nullptr) plat::SetLastError(8);
    }
    if (out == nullptr || plat::WideCharToMultiByte(cp, 0, wide, -1, out, needed) == 0) {
        status = static_cast<int32_t>(plat::GetLastError());
        EngineFree(out);
        Release();
        return false;
    }
    bytes = out;
    ownership |= kOwnsBytes;
    return true;
}

const char16_t* WideHolder::Hold(const char* text, int32_t codePage) {
    converter_.Release();
    converter_.status = 0;
    converter_.codePage = codePage;
    if (text == nullptr || text[0] == '\0') return kEmptyWide;
    if (!converter_.SetBytes(text, true)) return nullptr;
    if (!converter_.ConvertToWide()) return kEmptyWide;
    return converter_.wide;
}

ConverterPool::~ConverterPool() {
    for (TextConverter*& slot : slots_) {
        if (slot != nullptr) slot->Release();
        EngineFree(slot);
        slot = nullptr;
    }
}

TextConverter* ConverterPool::Slot(int32_t index) {
    if (index < 0 || index >= count_ || index >= kMaxSlots) return nullptr;
    if (slots_[index] == nullptr) {
        auto* slot = static_cast<TextConverter*>(EngineAlloc(sizeof(TextConverter)));
        if (slot == nullptr) return nullptr;
        *slot = TextConverter{};
        slots_[index] = slot;
    }
    return slots_[index];
}

}  // namespace corvane
