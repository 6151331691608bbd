// Corvane_EvtStr: the host's access to a string record of the engine, in either form.
#include "engine/core/corvane20.h"
#include "engine/core/text_converter.h"

using corvane::TextConverter;

namespace {

constexpr int32_t kFormBytes = 1;
constexpr int32_t kFormWide = 2;

enum : int32_t { kRead = 0, kStoreBorrowed = 1, kStoreCopy = 2 };

intptr_t Read(TextConverter& record, int32_t form) {
    if (form == kFormBytes) {
        if (record.bytes == nullptr) {
            if (record.wide == nullptr) return 0;
            if (record.wide[0] == 0) return reinterpret_cast<intptr_t>(corvane::kEmptyBytes);
            if (!record.ConvertToBytes()) return 0;
        }
        return reinterpret_cast<intptr_t>(record.bytes);
    }
    if (form == kFormWide) {
        if (record.wide == nullptr) {
            if (record.bytes == nullptr) return 0;
            if (record.bytes[0] == '\0') return reinterpret_cast<intptr_t>(corvane::kEmptyWide);
            if (!record.ConvertToWide()) return 0;
        }
        return reinterpret_cast<intptr_t>(record.wide);
    }
    return 0;
}

intptr_t Store(TextConverter& record, void* value, int32_t form, bool copy) {
    if (form == kFormBytes) {
        if (!record.SetBytes(static_cast<const char*>(value), copy)) return 0;
        return reinterpret_cast<intptr_t>(record.bytes);
    }
    if (form == kFormWide) {
        if (!record.SetWide(static_cast<const char16_t*>(value), copy)) return 0;
        return reinterpret_cast<intptr_t>(record.wide);
    }
    record.Release();
    return 0;
}

}  // namespace

extern "C" intptr_t Corvane_EvtStr(void* record, int32_t operation, void* value, int32_t form) {
    if (record == nullptr) return 0;
    TextConverter& converter = *static_cast<TextConverter*>(record);
    switch (operation) {
        case kRead:
            return Read(converter, form);
        case kStoreBorrowed:
            return Store(converter, value, form, false);
        case kStoreCopy:
            return Store(converter, value, form, true);
        default:
            return 0;
    }
}

// The ping object streams nothing; a stream call only checks its stream.
extern "C" intptr_t Corvane_Stream(void* stream, int32_t /*operation*/, void* /*param*/,
                                   int32_t /*length*/) {
    return stream == nullptr ? -1 : 0;
}
