// The engine module as a host loads it: the shared object opened with the system loader
// and its entry points looked up by name, plus small conveniences for the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/corvane20.h"
#include "tests/support/utf.h"

namespace test {

struct EntryPoints {
    decltype(&Corvane_Ping_StaticInit) StaticInit;
    decltype(&Corvane_Ping_StaticDestroy) StaticDestroy;
    decltype(&Corvane_Ping_Create) Create;
    decltype(&Corvane_Ping_Destroy) Destroy;
    decltype(&Corvane_Ping_CheckIndex) CheckIndex;
    decltype(&Corvane_Ping_Get) Get;
    decltype(&Corvane_Ping_Set) Set;
    decltype(&Corvane_Ping_Do) Do;
    decltype(&Corvane_Ping_GetLastError) GetLastError;
    decltype(&Corvane_Ping_GetLastErrorCode) GetLastErrorCode;
    decltype(&Corvane_Ping_SetLastErrorAndCode) SetLastErrorAndCode;
    decltype(&Corvane_Ping_GetEventError) GetEventError;
    decltype(&Corvane_Ping_GetEventErrorCode) GetEventErrorCode;
    decltype(&Corvane_Ping_SetEventErrorAndCode) SetEventErrorAndCode;
    decltype(&Corvane_EvtStr) EvtStr;
    decltype(&Corvane_Stream) Stream;
};

// Loaded once per test program; aborts the test program when the module or one of its
// entry points cannot be found.
const EntryPoints& Engine();

// One ping object, destroyed at scope exit.
class Ping {
  public:
    explicit Ping(CorvaneEventCallback callback = nullptr, void* context = nullptr,
                  int32_t options = 0);
    ~Ping();
    Ping(const Ping&) = delete;
    Ping& operator=(const Ping&) = delete;

    void* handle() const { return handle_; }

    intptr_t Get(int32_t property) const;
    std::string GetText(int32_t property) const;     // byte form
    std::u16string GetWide(int32_t property) const;  // UTF-16 form (id + 10000)
    int32_t Set(int32_t property, intptr_t value) const;
    int32_t SetText(int32_t property, const char* text) const;
    int32_t SetWide(int32_t property, const char16_t* text) const;

    // Config in the byte form; the answer (empty for null) goes to *answer.
    int32_t Config(const char* setting, std::string* answer = nullptr) const;
    // Config through the UTF-16 form (method id 10002).
    int32_t ConfigWide(const char16_t* setting, std::u16string* answer = nullptr) const;
    // A method without arguments.
    int32_t Do(int32_t method) const;
    int32_t DoWithText(int32_t method, std::vector<const char*> args) const;
    // A method with UTF-16 string arguments (method id + 10000).
    int32_t DoWithWide(int32_t method, std::vector<const char16_t*> args) const;
    // A method with the caller's own slot and length arrays.
    int32_t DoRaw(int32_t method, int32_t count, intptr_t* slots, int32_t* lengths) const;

    // Stores a last error code and text as a host would (null text is empty).
    int32_t SetLastError(int32_t code, const char* text) const;
    int32_t SetEventError(int32_t code, const char* text) const;

    std::string LastError() const;
    int32_t LastErrorCode() const;
    std::string EventError() const;
    int32_t EventErrorCode() const;

  private:
    void* handle_;
};

}  // namespace test
