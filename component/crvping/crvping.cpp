#include "component/crvping/crvping.h"

#include <vector>

#include "component/crvping/engine_text.h"
#include "component/crvping/entry_points.h"

namespace crv {

namespace {

constexpr char kCreateFailed[] = "Corvane Ping: Error creating component";
constexpr char16_t kUnhandledPrefix[] = u"An unhandled error occurred in the ";
constexpr char16_t kUnhandledSuffix[] = u" event handler: ";

constexpr char kInterrupted[] = "Interrupted.";

intptr_t Text(const std::u16string& value) {
    return reinterpret_cast<intptr_t>(value.c_str());
}

// The end of a call whose component a handler destroyed: the engine's text went with the
// engine object, so a failure is told in the engine's words for such an ending.
void EndDestroyed(int32_t rc) {
    if (rc != 0) throw EcrvPing::CreateCode(rc, kInterrupted);
}

}  // namespace

EcrvPing EcrvPing::CreateCode(int32_t err, const std::string& desc) {
    return EcrvPing(err, ComposeMessage(err, desc));
}

TcrvPing::TcrvPing(TcrvCore* owner) : TcrvTypesCore(owner) {
    const EntryPointTable& e = EntryPoints();
    if (e.Create != nullptr) {
        m_ctl = e.Create(&TcrvPing::EventCallback, this, nullptr, CORVANE_OPTION_WIDE_EVENTS);
    }
    if (m_ctl == nullptr) throw EcrvPing::CreateCode(-1, kCreateFailed);
    // Each default on its own: one refused value does not stop the others.
    try {
        SetPacketSize(64);
    } catch (const std::exception&) {
    }
    try {
        SetRemoteHost(u"");
    } catch (const std::exception&) {
    }
    try {
        SetTimeout(60);
    } catch (const std::exception&) {
    }
    try {
        Config(u"CodePage=65001");
    } catch (...) {
        // The destructor does not run for a constructor that raises.
        if (EntryPoints().Destroy != nullptr) EntryPoints().Destroy(m_ctl);
        m_ctl = nullptr;
        throw;
    }
}

TcrvPing::~TcrvPing() {
    life_->destroyed = true;
    // After the program has released the engine the slot is null: the object went with it.
    // Inside one of its calls the engine frees the object when that call returns.
    if (m_ctl != nullptr && EntryPoints().Destroy != nullptr) EntryPoints().Destroy(m_ctl);
    m_ctl = nullptr;
}

void TcrvPing::RaiseError(int32_t code, const std::u16string& text) const {
    std::string description = ToAnsi(text);
    if (description.empty() && EntryPoints().GetLastError != nullptr) {
        description = CopyBytes(EntryPoints().GetLastError(m_ctl));
    }
    throw EcrvPing::CreateCode(code, description);
}

intptr_t TcrvPing::Read(int32_t property) const {
    if (EntryPoints().Get == nullptr) return 0;
    return EntryPoints().Get(m_ctl, property, 0, nullptr, 0);
}

std::u16string TcrvPing::ReadText(int32_t property) const {
    return CopyWide(reinterpret_cast<const char16_t*>(Read(property + CORVANE_WIDE_ID_OFFSET)));
}

void TcrvPing::Write(int32_t property, intptr_t value) {
    if (EntryPoints().Set == nullptr) return;
    const std::shared_ptr<Life> life = life_;
    const int32_t rc = EntryPoints().Set(m_ctl, property, 0, value, 0);
    if (life->destroyed) return EndDestroyed(rc);
    if (rc != 0) RaiseError(rc, u"");
}

intptr_t TcrvPing::Call(int32_t method, std::initializer_list<const std::u16string*> arguments) {
    std::vector<intptr_t> slots(arguments.size() + 1, 0);
    std::vector<int32_t> lengths(arguments.size() + 1, 0);
    size_t i = 0;
    for (const std::u16string* argument : arguments)
        slots[i++] = Text(*argument);
    const std::shared_ptr<Life> life = life_;
    const int32_t rc =
        EntryPoints().Do(m_ctl, method + CORVANE_WIDE_ID_OFFSET,
                         static_cast<int32_t>(arguments.size()), slots.data(), lengths.data(), 0);
    if (life->destroyed) {
        EndDestroyed(rc);
        return 0;  // a result slot would point into the freed engine object
    }
    if (rc != 0) RaiseError(rc, u"");
    return slots[arguments.size()];
}

bool TcrvPing::Active() const {
    return (Read(CORVANE_PING_ACTIVE) & 0xFF) != 0;
}
void TcrvPing::SetActive(bool value) {
    Write(CORVANE_PING_ACTIVE, value ? 1 : 0);
}
bool TcrvPing::Idle() const {
    return (Read(CORVANE_PING_IDLE) & 0xFF) != 0;
}
std::u16string TcrvPing::LocalHost() const {
    return ReadText(CORVANE_PING_LOCAL_HOST);
}
void TcrvPing::SetLocalHost(const std::u16string& value) {
    Write(CORVANE_PING_LOCAL_HOST + CORVANE_WIDE_ID_OFFSET, Text(value));
}
int32_t TcrvPing::PacketSize() const {
    return static_cast<int32_t>(Read(CORVANE_PING_PACKET_SIZE));
}
void TcrvPing::SetPacketSize(int32_t value) {
    Write(CORVANE_PING_PACKET_SIZE, value);
}
std::u16string TcrvPing::RemoteHost() const {
    return ReadText(CORVANE_PING_REMOTE_HOST);
}
void TcrvPing::SetRemoteHost(const std::u16string& value) {
    Write(CORVANE_PING_REMOTE_HOST + CORVANE_WIDE_ID_OFFSET, Text(value));
}
int32_t TcrvPing::RequestId() const {
    return static_cast<int32_t>(Read(CORVANE_PING_REQUEST_ID));
}
std::u16string TcrvPing::ResponseSource() const {
    return ReadText(CORVANE_PING_RESPONSE_SOURCE);
}
int32_t TcrvPing::ResponseTime() const {
    return static_cast<int32_t>(Read(CORVANE_PING_RESPONSE_TIME));
}
int32_t TcrvPing::Timeout() const {
    return static_cast<int32_t>(Read(CORVANE_PING_TIMEOUT));
}
void TcrvPing::SetTimeout(int32_t value) {
    Write(CORVANE_PING_TIMEOUT, value);
}
int32_t TcrvPing::TimeToLive() const {
    return static_cast<int32_t>(Read(CORVANE_PING_TIME_TO_LIVE));
}
void TcrvPing::SetTimeToLive(int32_t value) {
    Write(CORVANE_PING_TIME_TO_LIVE, value);
}
int32_t TcrvPing::TypeOfService() const {
    return static_cast<int32_t>(Read(CORVANE_PING_TYPE_OF_SERVICE));
}
void TcrvPing::SetTypeOfService(int32_t value) {
    Write(CORVANE_PING_TYPE_OF_SERVICE, value);
}

std::u16string TcrvPing::Config(const std::u16string& configurationString) {
    if (EntryPoints().Do == nullptr) return {};
    return CopyWide(
        reinterpret_cast<const char16_t*>(Call(CORVANE_PING_CONFIG, {&configurationString})));
}

void TcrvPing::DoEvents() {
    if (EntryPoints().Do != nullptr) Call(CORVANE_PING_DO_EVENTS, {});
}

void TcrvPing::Interrupt() {
    if (EntryPoints().Do != nullptr) Call(CORVANE_PING_INTERRUPT, {});
}

void TcrvPing::PingHost(const std::u16string& host) {
    if (EntryPoints().Do != nullptr) Call(CORVANE_PING_PING_HOST, {&host});
}

void TcrvPing::Reset() {
    if (EntryPoints().Do != nullptr) Call(CORVANE_PING_RESET, {});
}

void TcrvPing::WakeOnLAN(const std::u16string& remoteHost, const std::u16string& macAddress) {
    if (EntryPoints().Do != nullptr) Call(CORVANE_PING_WAKE_ON_LAN, {&remoteHost, &macAddress});
}

int32_t TcrvPing::EventCallback(void* owner, int32_t event, int32_t /*count*/, intptr_t* params,
                                int32_t* /*lengths*/) noexcept {
    auto* self = static_cast<TcrvPing*>(owner);
    try {
        if (event == CORVANE_PING_EVENT_ERROR) return self->FireError(params);
        if (event == CORVANE_PING_EVENT_RESPONSE) return self->FireResponse(params);
    } catch (...) {
        // FireError and FireResponse catch their handlers' exceptions; whatever still
        // escapes (memory exhausted while copying) must not unwind into the engine.
        return -1;
    }
    return 0;
}

int32_t TcrvPing::FireError(const intptr_t* params) {
    if (!OnError) return 0;
    const auto code = static_cast<int32_t>(params[0]);
    const std::u16string description = CopyWide(reinterpret_cast<const char16_t*>(params[1]));
    // A copy: the handler may replace itself while it runs.
    const TErrorEvent handler = OnError;
    const std::shared_ptr<Life> life = life_;
    try {
        handler(*this, code, description);
    } catch (...) {
        if (life->destroyed) return -1;
        return ReportEventException(std::current_exception(), u"Error", false);
    }
    return 0;
}

int32_t TcrvPing::FireResponse(const intptr_t* params) {
    if (!OnResponse) return 0;
    const auto requestId = static_cast<int32_t>(params[0]);
    const std::u16string source = CopyWide(reinterpret_cast<const char16_t*>(params[1]));
    const std::u16string status = CopyWide(reinterpret_cast<const char16_t*>(params[2]));
    const auto time = static_cast<int32_t>(params[3]);
    const TResponseEvent handler = OnResponse;
    const std::shared_ptr<Life> life = life_;
    try {
        handler(*this, requestId, source, status, time);
    } catch (...) {
        if (life->destroyed) return -1;
        return ReportEventException(std::current_exception(), u"Response", true);
    }
    return 0;
}

int32_t TcrvPing::ReportEventException(std::exception_ptr error, const std::u16string& event,
                                       bool reFire) {
    std::u16string message;
    const ECorvane* engineError = nullptr;
    ECorvane engineCopy = ECorvane::CreateCode(0, "");
    try {
        std::rethrow_exception(error);
    } catch (const ECorvane& e) {
        engineCopy = e;
        engineError = &engineCopy;
        message = e.Message();
    } catch (const std::exception& e) {
        message = FromAnsi(e.what());
    } catch (...) {
        message = u"unknown exception";
    }
    std::u16string msg = kUnhandledPrefix + event + kUnhandledSuffix + message;
    int32_t code = -1;
    if (m_ctl != nullptr && EntryPoints().SetEventErrorAndCode != nullptr) {
        if (engineError != nullptr) {
            code = engineError->Code;
            msg = engineError->Message();
        }
        EntryPoints().SetEventErrorAndCode(m_ctl, code, ToAnsi(msg).c_str());
    }
    if (reFire && OnError) {
        const TErrorEvent handler = OnError;
        try {
            handler(*this, code, msg);
        } catch (...) {
            // Reported already; a second failure has nowhere to go but away.
        }
    }
    return code;
}

}  // namespace crv
