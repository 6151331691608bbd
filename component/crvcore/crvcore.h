// Unit crvcore: the common base of the host-side component family and its exception.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

namespace crv {

// The component base: an owner that destroys what it owns, and a name.
class TcrvCore {
  public:
    explicit TcrvCore(TcrvCore* owner = nullptr);
    virtual ~TcrvCore();
    TcrvCore(const TcrvCore&) = delete;
    TcrvCore& operator=(const TcrvCore&) = delete;

    TcrvCore* Owner() const { return owner_; }
    const std::u16string& Name() const { return name_; }
    void SetName(std::u16string name) { name_ = std::move(name); }

  private:
    void Forget(TcrvCore* child);

    TcrvCore* owner_;
    std::u16string name_;
    std::vector<TcrvCore*> owned_;
};

// An engine failure: its code, and the message "code: text".
class ECorvane : public std::exception {
  public:
    // desc is a byte string in the system's ANSI code page.
    static ECorvane CreateCode(int32_t err, const std::string& desc);

    int32_t Code = 0;
    const std::u16string& Message() const { return message_; }
    const char* what() const noexcept override { return what_.c_str(); }

  protected:
    ECorvane(int32_t code, std::u16string message);
    // The decimal code, ": " and desc read in the system's ANSI code page.
    static std::u16string ComposeMessage(int32_t err, const std::string& desc);

  private:
    std::u16string message_;
    std::string what_;  // the message in UTF-8
};

// Text conversions of the component: byte strings of the system's ANSI code page and
// UTF-8 for diagnostics.
std::u16string FromAnsi(const std::string& text);
std::string ToAnsi(const std::u16string& text);
std::string ToUtf8(const std::u16string& text);

}  // namespace crv
