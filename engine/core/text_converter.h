// One string held in byte form, in UTF-16 form, or both, with the code page that joins
// them. The record layout is shared with hosts through Corvane_EvtStr.
#pragma once

#include <cstdint>

namespace corvane {

extern const char kEmptyBytes[];
extern const char16_t kEmptyWide[];

struct TextConverter {
    static constexpr int32_t kOwnsBytes = 1;
    static constexpr int32_t kOwnsWide = 2;

    int32_t status;  // 0, or the system error number of the last failed conversion
    int32_t codePage;
    int32_t ownership;
    char* bytes;
    char16_t* wide;

    // Gives back what the record owns and forgets both forms.
    void Release();
    // Both take a borrowed pointer, or an owned copy when copy is set (false when the
    // copy cannot be allocated; the record is then empty).
    bool SetBytes(const char* text, bool copy);
    bool SetWide(const char16_t* text, bool copy);
    // Fill the missing form from the other; false (and status set, both forms released)
    // when the conversion fails.
    bool ConvertToWide();
    bool ConvertToBytes();
};

static_assert(sizeof(TextConverter) == 32, "hosts share this layout");

// Code page number as the platform's conversions take it (0 and negatives included).
inline uint32_t CodePageArg(int32_t codePage) {
    return static_cast<uint32_t>(codePage);
}

// A byte copy of a property value and its UTF-16 conversion, both owned.
class WideHolder {
  public:
    WideHolder() = default;
    ~WideHolder() { converter_.Release(); }
    WideHolder(const WideHolder&) = delete;
    WideHolder& operator=(const WideHolder&) = delete;

    // The UTF-16 form of text: a static empty string for an empty text or a failed
    // conversion, null when the copy cannot be stored.
    const char16_t* Hold(const char* text, int32_t codePage);

  private:
    TextConverter converter_{};
};

// Lazily created converters, for results handed to the host in UTF-16.
class ConverterPool {
  public:
    explicit ConverterPool(int32_t count) : count_(count) {}
    ~ConverterPool();
    ConverterPool(const ConverterPool&) = delete;
    ConverterPool& operator=(const ConverterPool&) = delete;

    // Null when the slot does not exist or cannot be allocated.
    TextConverter* Slot(int32_t index);

  private:
    static constexpr int32_t kMaxSlots = 1;
    int32_t count_;
    TextConverter* slots_[kMaxSlots] = {};
};

}  // namespace corvane
