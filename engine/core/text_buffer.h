// The engine's growable byte string: always NUL-terminated, texts shorter than 100 bytes
// stay inline, longer ones move to the heap with room for half as much again. A failed
// allocation keeps the old text and reports 200.
#pragma once

#include <cstddef>
#include <cstdint>

// The C99 formats on every system: the Windows build formats with the C99 printf
// family, not the system library's own.
#if defined(__MINGW32__)
#define CORVANE_PRINTF_FORMAT(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define CORVANE_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#endif

namespace corvane {

class TextBuffer {
  public:
    static constexpr size_t kInlineSize = 100;

    TextBuffer() = default;
    ~TextBuffer();
    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;

    const char* c_str() const { return data_; }
    size_t size() const { return length_; }
    bool empty() const { return length_ == 0; }

    // Each returns 0, or 200 when storage could not grow (the text is then unchanged).
    int32_t Assign(const char* text);  // null assigns the empty text
    int32_t Assign(const char* text, size_t length);
    int32_t Append(const char* text);
    int32_t Append(const char* text, size_t length);
    int32_t AppendChar(char c);
    int32_t AppendFormat(const char* format, ...) CORVANE_PRINTF_FORMAT(2, 3);
    int32_t Reserve(size_t length);

    void Clear();
    // Gives back heap storage and returns to the inline buffer.
    void Release();

  private:
    int32_t Grow(size_t length);
    // Replaces [0, keep) with `keep` bytes of text placed at `at`; handles text that
    // points into this buffer.
    int32_t Store(size_t at, const char* text, size_t length);

    char inline_[kInlineSize] = {};
    char* data_ = inline_;
    size_t length_ = 0;
    size_t capacity_ = kInlineSize - 1;  // bytes of text the storage holds, NUL excluded
};

}  // namespace corvane
