#include "tests/entry_points/engine_module.h"

#include <cstdio>
#include <cstdlib>

#include "platform/last_error.h"
#include "platform/module.h"

namespace test {

namespace {

template <typename F>
void Bind(void* library, const char* name, F& slot) {
    void* address = plat::GetProcAddress(library, name);
    if (address == nullptr) {
        std::fprintf(stderr, "entry point %s missing\n", name);
        std::abort();
    }
    slot = reinterpret_cast<F>(address);
}

// The text a result slot points at, null read as empty. Kept out of line: GCC 12 at -O2
// in C++20 mode miscompiles a long text assigned into a string straight after the slot
// array went through the engine call (the copy lands in the short-string buffer).
template <typename Char>
[[gnu::noinline]] std::basic_string<Char> SlotText(intptr_t slot) {
    const Char* text = reinterpret_cast<const Char*>(slot);
    return text != nullptr ? std::basic_string<Char>(text) : std::basic_string<Char>();
}

EntryPoints Load() {
    // A copy elsewhere, for a user who cannot reach the build tree.
    const char* copy = std::getenv("CORVANE_ENGINE_FILE");
    const char* path = copy != nullptr && copy[0] != '\0' ? copy : CORVANE_ENGINE_PATH;
    // The system's own loader: dlopen on Linux, LoadLibraryA on Windows.
    void* library = plat::LoadLibraryA(path);
    if (library == nullptr) {
        std::fprintf(stderr, "cannot load %s: error %u\n", path,
                     static_cast<unsigned>(plat::GetLastError()));
        std::abort();
    }
    EntryPoints e{};
    Bind(library, "Corvane_Ping_StaticInit", e.StaticInit);
    Bind(library, "Corvane_Ping_StaticDestroy", e.StaticDestroy);
    Bind(library, "Corvane_Ping_Create", e.Create);
    Bind(library, "Corvane_Ping_Destroy", e.Destroy);
    Bind(library, "Corvane_Ping_CheckIndex", e.CheckIndex);
    Bind(library, "Corvane_Ping_Get", e.Get);
    Bind(library, "Corvane_Ping_Set", e.Set);
    Bind(library, "Corvane_Ping_Do", e.Do);
    Bind(library, "Corvane_Ping_GetLastError", e.GetLastError);
    Bind(library, "Corvane_Ping_GetLastErrorCode", e.GetLastErrorCode);
    Bind(library, "Corvane_Ping_SetLastErrorAndCode", e.SetLastErrorAndCode);
    Bind(library, "Corvane_Ping_GetEventError", e.GetEventError);
    Bind(library, "Corvane_Ping_GetEventErrorCode", e.GetEventErrorCode);
    Bind(library, "Corvane_Ping_SetEventErrorAndCode", e.SetEventErrorAndCode);
    Bind(library, "Corvane_EvtStr", e.EvtStr);
    Bind(library, "Corvane_Stream", e.Stream);
    return e;
}

}  // namespace

const EntryPoints& Engine() {
    static const EntryPoints entries = Load();
    return entries;
}

Ping::Ping(CorvaneEventCallback callback, void* context, int32_t options)
    : handle_(Engine().Create(callback, context, nullptr, options)) {
    if (handle_ == nullptr) std::abort();
}

Ping::~Ping() {
    Engine().Destroy(handle_);
}

intptr_t Ping::Get(int32_t property) const {
    return Engine().Get(handle_, property, 0, nullptr, 0);
}

std::string Ping::GetText(int32_t property) const {
    const char* text = reinterpret_cast<const char*>(Get(property));
    return text != nullptr ? text : "";
}

std::u16string Ping::GetWide(int32_t property) const {
    const char16_t* text =
        reinterpret_cast<const char16_t*>(Get(property + CORVANE_WIDE_ID_OFFSET));
    return text != nullptr ? text : u"";
}

int32_t Ping::Set(int32_t property, intptr_t value) const {
    return Engine().Set(handle_, property, 0, value, 0);
}

int32_t Ping::SetText(int32_t property, const char* text) const {
    return Set(property, reinterpret_cast<intptr_t>(text));
}

int32_t Ping::SetWide(int32_t property, const char16_t* text) const {
    return Set(property + CORVANE_WIDE_ID_OFFSET, reinterpret_cast<intptr_t>(text));
}

int32_t Ping::Config(const char* setting, std::string* answer) const {
    intptr_t slots[2] = {reinterpret_cast<intptr_t>(setting), 0};
    int32_t lengths[2] = {0, 0};
    const int32_t rc = Engine().Do(handle_, CORVANE_PING_CONFIG, 1, slots, lengths, 0);
    if (answer != nullptr) *answer = SlotText<char>(slots[1]);
    return rc;
}

int32_t Ping::ConfigWide(const char16_t* setting, std::u16string* answer) const {
    intptr_t slots[2] = {reinterpret_cast<intptr_t>(setting), 0};
    int32_t lengths[2] = {0, 0};
    const int32_t rc =
        Engine().Do(handle_, CORVANE_PING_CONFIG + CORVANE_WIDE_ID_OFFSET, 1, slots, lengths, 0);
    if (answer != nullptr) *answer = SlotText<char16_t>(slots[1]);
    return rc;
}

int32_t Ping::Do(int32_t method) const {
    intptr_t slots[1] = {0};
    int32_t lengths[1] = {0};
    return Engine().Do(handle_, method, 0, slots, lengths, 0);
}

int32_t Ping::DoWithText(int32_t method, std::vector<const char*> args) const {
    std::vector<intptr_t> slots(args.size() + 1, 0);
    std::vector<int32_t> lengths(args.size() + 1, 0);
    for (size_t i = 0; i < args.size(); ++i)
        slots[i] = reinterpret_cast<intptr_t>(args[i]);
    return Engine().Do(handle_, method, static_cast<int32_t>(args.size()), slots.data(),
                       lengths.data(), 0);
}

int32_t Ping::DoWithWide(int32_t method, std::vector<const char16_t*> args) const {
    std::vector<intptr_t> slots(args.size() + 1, 0);
    std::vector<int32_t> lengths(args.size() + 1, 0);
    for (size_t i = 0; i < args.size(); ++i)
        slots[i] = reinterpret_cast<intptr_t>(args[i]);
    return Engine().Do(handle_, method + CORVANE_WIDE_ID_OFFSET, static_cast<int32_t>(args.size()),
                       slots.data(), lengths.data(), 0);
}

int32_t Ping::DoRaw(int32_t method, int32_t count, intptr_t* slots, int32_t* lengths) const {
    return Engine().Do(handle_, method, count, slots, lengths, 0);
}

int32_t Ping::SetLastError(int32_t code, const char* text) const {
    return Engine().SetLastErrorAndCode(handle_, code, text);
}

int32_t Ping::SetEventError(int32_t code, const char* text) const {
    return Engine().SetEventErrorAndCode(handle_, code, text);
}

std::string Ping::LastError() const {
    const char* text = Engine().GetLastError(handle_);
    return text != nullptr ? text : "";
}

int32_t Ping::LastErrorCode() const {
    return Engine().GetLastErrorCode(handle_);
}

std::string Ping::EventError() const {
    const char* text = Engine().GetEventError(handle_);
    return text != nullptr ? text : "";
}

int32_t Ping::EventErrorCode() const {
    return Engine().GetEventErrorCode(handle_);
}

}  // namespace test
