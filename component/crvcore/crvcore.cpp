#include "component/crvcore/crvcore.h"

#include <algorithm>

#include "platform/codepage.h"

namespace crv {

namespace {

std::u16string ToWide(uint32_t codePage, const std::string& text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int needed = plat::MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    if (needed <= 0) return {};
    std::u16string out(static_cast<size_t>(needed), u'\0');
    plat::MultiByteToWideChar(codePage, 0, text.data(), length, out.data(), needed);
    return out;
}

std::string ToBytes(uint32_t codePage, const std::u16string& text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int needed = plat::WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0);
    if (needed <= 0) return {};
    std::string out(static_cast<size_t>(needed), '\0');
    plat::WideCharToMultiByte(codePage, 0, text.data(), length, out.data(), needed);
    return out;
}

}  // namespace

std::u16string FromAnsi(const std::string& text) {
    return ToWide(plat::kCodePageAnsi, text);
}
std::string ToAnsi(const std::u16string& text) {
    return ToBytes(plat::kCodePageAnsi, text);
}
std::string ToUtf8(const std::u16string& text) {
    return ToBytes(plat::kCodePageUtf8, text);
}

TcrvCore::TcrvCore(TcrvCore* owner) : owner_(owner) {
    if (owner_ != nullptr) owner_->owned_.push_back(this);
}

TcrvCore::~TcrvCore() {
    // Owned components go first, newest first; each one unlinks itself.
    while (!owned_.empty())
        delete owned_.back();
    if (owner_ != nullptr) owner_->Forget(this);
}

void TcrvCore::Forget(TcrvCore* child) {
    owned_.erase(std::remove(owned_.begin(), owned_.end(), child), owned_.end());
}

ECorvane::ECorvane(int32_t code, std::u16string message)
    : Code(code), message_(std::move(message)), what_(ToUtf8(message_)) {}

std::u16string ECorvane::ComposeMessage(int32_t err, const std::string& desc) {
    return FromAnsi(std::to_string(err) + ": ") + FromAnsi(desc);
}

ECorvane ECorvane::CreateCode(int32_t err, const std::string& desc) {
    return ECorvane(err, ComposeMessage(err, desc));
}

}  // namespace crv
