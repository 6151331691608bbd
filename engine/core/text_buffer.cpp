#include "engine/core/text_buffer.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "engine/core/error_codes.h"
#include "engine/core/memory.h"
#include "engine/core/module_state.h"

namespace corvane {

namespace {

void ReleaseStorage(char* storage, size_t capacity) {
    if (WipeOnRelease()) {
        // volatile so the wipe of storage about to be freed is not optimised away
        volatile char* p = storage;
        for (size_t i = 0; i <= capacity; ++i)
            p[i] = 0;
    }
    EngineFree(storage);
}

}  // namespace

TextBuffer::~TextBuffer() {
    Release();
}

void TextBuffer::Release() {
    if (data_ != inline_) {
        ReleaseStorage(data_, capacity_);
        data_ = inline_;
        capacity_ = kInlineSize - 1;
    }
    if (WipeOnRelease()) {
        volatile char* p = inline_;
        for (size_t i = 0; i < kInlineSize; ++i)
            p[i] = 0;
    }
    length_ = 0;
    inline_[0] = '\0';
}

void TextBuffer::Clear() {
    length_ = 0;
    data_[0] = '\0';
}

int32_t TextBuffer::Grow(size_t length) {
    if (length <= capacity_) return 0;
    if (length > SIZE_MAX / 2 - 2) return kOutOfMemory;
    const size_t capacity = length + length / 2;
    char* storage = static_cast<char*>(EngineAlloc(capacity + 1));
    if (storage == nullptr) return kOutOfMemory;
    std::memcpy(storage, data_, length_ + 1);
    if (data_ != inline_) ReleaseStorage(data_, capacity_);
    data_ = storage;
    capacity_ = capacity;
    return 0;
}

int32_t TextBuffer::Reserve(size_t length) {
    return Grow(length);
}

int32_t TextBuffer::Store(size_t at, const char* text, size_t length) {
    if (length > SIZE_MAX / 2 - 2 - at) return kOutOfMemory;
    const size_t total = at + length;
    if (total > capacity_) {
        // The source may live in the storage about to be replaced: build the new text
        // in fresh storage before the old one goes.
        const size_t capacity = total + total / 2;
        char* storage = static_cast<char*>(EngineAlloc(capacity + 1));
        if (storage == nullptr) return kOutOfMemory;
        std::memcpy(storage, data_, at);
        std::memcpy(storage + at, text, length);
        storage[total] = '\0';
        if (data_ != inline_) ReleaseStorage(data_, capacity_);
        data_ = storage;
        capacity_ = capacity;
    } else {
        std::memmove(data_ + at, text, length);
        data_[total] = '\0';
    }
    length_ = total;
    return 0;
}

int32_t TextBuffer::Assign(const char* text) {
    return text == nullptr ? (Clear(), 0) : Store(0, text, std::strlen(text));
}

int32_t TextBuffer::Assign(const char* text, size_t length) {
    return text == nullptr ? (Clear(), 0) : Store(0, text, length);
}

int32_t TextBuffer::Append(const char* text) {
    return text == nullptr ? 0 : Store(length_, text, std::strlen(text));
}

int32_t TextBuffer::Append(const char* text, size_t length) {
    return text == nullptr ? 0 : Store(length_, text, length);
}

int32_t TextBuffer::AppendChar(char c) {
    return Store(length_, &c, 1);
}

int32_t TextBuffer::AppendFormat(const char* format, ...) {
    char small[128];
    va_list args;
    va_start(args, format);
    const int needed = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (needed < 0) return 0;
    if (static_cast<size_t>(needed) < sizeof small) return Append(small, needed);

    // An argument may point into this buffer, so the text is built in fresh storage and
    // the old one goes only afterwards.
    const size_t at = length_;
    if (static_cast<size_t>(needed) > SIZE_MAX / 2 - 2 - at) return kOutOfMemory;
    const size_t total = at + needed;
    const size_t capacity = total > capacity_ ? total + total / 2 : capacity_;
    char* storage = static_cast<char*>(EngineAlloc(capacity + 1));
    if (storage == nullptr) return kOutOfMemory;
    std::memcpy(storage, data_, at);
    va_start(args, format);
    std::vsnprintf(storage + at, needed + 1, format, args);
    va_end(args);
    if (data_ != inline_) ReleaseStorage(data_, capacity_);
    data_ = storage;
    capacity_ = capacity;
    length_ = total;
    return 0;
}

}  // namespace corvane
