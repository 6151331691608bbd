#include "engine/core/ping_component.h"

#include "engine/core/config_item.h"
#include "engine/core/error_codes.h"
#include "engine/core/memory.h"
#include "platform/codepage.h"
#include "platform/last_error.h"

namespace corvane {

namespace {

constexpr char kVersionTag[] = "CORVANE_VERSION_20_0_7525";
constexpr char kBuildInfo[] = "20.0.7525";
constexpr uint32_t kMinCreatedMaxPacketSize = 80;

struct DecodedId {
    int32_t id;
    bool wide;
};

// Get and Set know both offsets; anything above 20000 is the byte form.
DecodedId DecodePropertyId(int32_t id) {
    if (id > CORVANE_BYTE_ID_OFFSET) return {id - CORVANE_BYTE_ID_OFFSET, false};
    if (id > CORVANE_WIDE_ID_OFFSET) return {id - CORVANE_WIDE_ID_OFFSET, true};
    return {id, false};
}

DecodedId DecodeMethodId(int32_t id) {
    if (id > CORVANE_WIDE_ID_OFFSET) return {id - CORVANE_WIDE_ID_OFFSET, true};
    return {id, false};
}

int32_t Low32(intptr_t value) {
    return static_cast<int32_t>(value);
}

// A string argument in the object's code page: borrowed in the byte form, converted from
// UTF-16 otherwise. Null counts as empty; an empty UTF-16 text is still converted, so a
// code page that cannot convert refuses every UTF-16 argument alike.
class ByteArgument {
  public:
    ByteArgument(intptr_t value, bool wide, int32_t codePage) : converter_{} {
        converter_.codePage = codePage;
        if (!wide) {
            const char* text = reinterpret_cast<const char*>(value);
            converter_.SetBytes(text != nullptr ? text : kEmptyBytes, false);
            return;
        }
        const char16_t* text = reinterpret_cast<const char16_t*>(value);
        if (text == nullptr) {
            converter_.SetBytes(kEmptyBytes, false);
            return;
        }
        converter_.SetWide(text, false);
        converter_.ConvertToBytes();
    }
    ~ByteArgument() { converter_.Release(); }
    ByteArgument(const ByteArgument&) = delete;
    ByteArgument& operator=(const ByteArgument&) = delete;

    bool ok() const { return converter_.bytes != nullptr; }
    // The system error number of a failed conversion.
    int32_t error() const { return converter_.status; }
    const char* text() const { return converter_.bytes; }

  private:
    TextConverter converter_;
};

}  // namespace

PingComponent::PingComponent(CorvaneEventCallback callback, void* context, int32_t options)
    : PingCore(this),
      callback_(callback),
      context_(context),
      wideEvents_((options & CORVANE_OPTION_WIDE_EVENTS) != 0) {
    Reset();
    SetPacketSize(64);
    if (GetMaxPacketSize() < kMinCreatedMaxPacketSize) SetMaxPacketSize(kMinCreatedMaxPacketSize);
    SetRemoteHost("");
    SetTimeout(60, true);
}

void PingComponent::Destroy() {
    if (MayFreeNow()) {
        EngineDelete(this);
        return;
    }
    // Destroyed by a handler inside one of its calls: a detaching module must not find it
    // again; the outermost call frees it.
    Unlink();
}

intptr_t PingComponent::TextResult(const char* text, WideHolder& holder, bool wide) {
    if (!wide) return reinterpret_cast<intptr_t>(text);
    return reinterpret_cast<intptr_t>(holder.Hold(text, CodePage()));
}

intptr_t PingComponent::Get(int32_t property) {
    const DecodedId p = DecodePropertyId(property);
    if (p.id == CORVANE_PING_VERSION_TAG) return reinterpret_cast<intptr_t>(kVersionTag);
    if (p.id == CORVANE_PING_CODE_PAGE_ID) return CodePage();
    SetLastErrorCode(0);
    switch (p.id) {
        case CORVANE_PING_ACTIVE:
            return IsActive() ? 1 : 0;
        case CORVANE_PING_IDLE:
            return (!IsActive() || GetTimeout() < 1) ? 1 : 0;
        case CORVANE_PING_LOCAL_HOST:
            return TextResult(LocalAddressText(), localHostWide_, p.wide);
        case CORVANE_PING_PACKET_SIZE:
            return PacketSize();
        case CORVANE_PING_REMOTE_HOST:
            return TextResult(RemoteAddressText(), remoteHostWide_, p.wide);
        case CORVANE_PING_REQUEST_ID:
            return RequestId();
        case CORVANE_PING_RESPONSE_SOURCE:
            return TextResult(ResponseSource(), responseSourceWide_, p.wide);
        case CORVANE_PING_RESPONSE_TIME:
            return ResponseTime();
        case CORVANE_PING_TIMEOUT:
            return GetTimeout();
        case CORVANE_PING_TIME_TO_LIVE:
            return GetTimeToLive(false);
        case CORVANE_PING_TYPE_OF_SERVICE:
            return TypeByte();
        default:
            return 0;
    }
}

int32_t PingComponent::SetText(int32_t property, intptr_t value, bool wide) {
    const ByteArgument host(value, wide, CodePage());
    if (!host.ok()) return host.error();
    return property == CORVANE_PING_LOCAL_HOST ? SetLocalHost(host.text())
                                               : SetRemoteHost(host.text());
}

int32_t PingComponent::SetTimeoutProperty(int32_t value) {
    if (value == 0) {
        SetActive(false);
        SetUseConnection(false);
    }
    SetTimeout(value, true);
    return 0;
}

int32_t PingComponent::Set(int32_t property, intptr_t value) {
    if (Destroyed()) return Interrupted();
    const DecodedId p = DecodePropertyId(property);
    int32_t rc;
    switch (p.id) {
        case CORVANE_PING_ACTIVE:
            rc = SetActive(Low32(value) != 0);
            break;
        case CORVANE_PING_LOCAL_HOST:
        case CORVANE_PING_REMOTE_HOST:
            rc = SetText(p.id, value, p.wide);
            break;
        case CORVANE_PING_PACKET_SIZE:
            rc = SetPacketSize(Low32(value));
            break;
        case CORVANE_PING_TIMEOUT:
            rc = SetTimeoutProperty(Low32(value));
            break;
        case CORVANE_PING_TIME_TO_LIVE:
            rc = SetTimeToLive(Low32(value), false);
            break;
        case CORVANE_PING_TYPE_OF_SERVICE:
            SetTypeByte(static_cast<uint8_t>(Low32(value) & 0xFF));
            rc = 0;
            break;
        default:  // read-only or unknown: refused without touching the error state
            return kRefused;
    }
    return Complete(Destroyed() ? Interrupted() : rc);
}

int32_t PingComponent::Interrupted() {
    return Fail(kWaitEnded, kTextInterrupted);
}

int32_t PingComponent::Config(intptr_t* params, bool wide) {
    const ByteArgument setting(params[0], wide, CodePage());
    if (!setting.ok()) return setting.error();

    const char* answer = kEmptyBytes;
    int32_t rc;
    if (EqualsNoCase(setting.text(), "BuildInfo")) {
        rc = builtinResult_.Assign(kBuildInfo);
        answer = builtinResult_.c_str();
    } else {
        rc = Configure(setting.text(), &answer);
    }
    if (!wide || answer == nullptr) {
        params[1] = reinterpret_cast<intptr_t>(answer);
        return rc;
    }
    // A failed Config answers nothing; a UTF-16 host must not be handed the byte form.
    if (rc != 0) {
        params[1] = reinterpret_cast<intptr_t>(kEmptyWide);
        return rc;
    }
    TextConverter* slot = results_.Slot(0);
    if (slot == nullptr) return kOutOfMemory;
    slot->Release();
    slot->status = 0;
    slot->codePage = CodePage();
    if (answer[0] == '\0') {
        params[1] = reinterpret_cast<intptr_t>(kEmptyWide);
        return 0;
    }
    slot->SetBytes(answer, false);
    if (!slot->ConvertToWide()) {
        params[1] = 0;
        return slot->status;
    }
    params[1] = reinterpret_cast<intptr_t>(slot->wide);
    return 0;
}

int32_t PingComponent::ConvertToWide(int32_t count, intptr_t* params, int32_t* lengths) {
    if (count != 2 || params == nullptr || lengths == nullptr) return kRefused;
    params[2] = 0;
    const char* source = reinterpret_cast<const char*>(params[0]);
    char16_t* destination = reinterpret_cast<char16_t*>(params[1]);
    const uint32_t cp = CodePageArg(CodePage());
    if (lengths[1] > 0) {
        const int written =
            plat::MultiByteToWideChar(cp, 0, source, lengths[0], destination, lengths[1]);
        params[2] = written;
        return written == 0 ? static_cast<int32_t>(plat::GetLastError()) : 0;
    }
    if (lengths[0] > 0)
        params[2] = plat::MultiByteToWideChar(cp, 0, source, lengths[0], nullptr, 0);
    return 0;
}

int32_t PingComponent::Do(int32_t method, int32_t count, intptr_t* params, int32_t* lengths) {
    if (Destroyed()) return Interrupted();
    const DecodedId m = DecodeMethodId(method);
    if (m.id == CORVANE_PING_CONVERT_TO_WIDE) return ConvertToWide(count, params, lengths);

    // A method that takes strings needs its slots; a short call is refused.
    auto hasArguments = [&](int32_t needed) { return params != nullptr && count >= needed; };
    int32_t rc = 0;
    switch (m.id) {
        case CORVANE_PING_CONFIG:
            rc = hasArguments(1) ? Config(params, m.wide) : kRefused;
            // Whatever could not be allocated on the way, the text says so rather than
            // keep an earlier failure's.
            if (rc == kOutOfMemory) rc = Fail(kOutOfMemory, kTextOutOfMemory);
            break;
        case CORVANE_PING_DO_EVENTS:
            WaitStep(static_cast<uint32_t>(SelectWaitMillis()), WindowHandle());
            break;
        case CORVANE_PING_INTERRUPT:
            RequestInterrupt();
            break;
        case CORVANE_PING_PING_HOST:
            if (!hasArguments(1)) {
                rc = kRefused;
                break;
            }
            {
                const ByteArgument host(params[0], m.wide, CodePage());
                rc = host.ok() ? PingHost(host.text()) : host.error();
            }
            break;
        case CORVANE_PING_RESET:
            rc = Reset();
            break;
        case CORVANE_PING_WAKE_ON_LAN:
            if (!hasArguments(2)) {
                rc = kRefused;
                break;
            }
            {
                const ByteArgument host(params[0], m.wide, CodePage());
                const ByteArgument mac(params[1], m.wide, CodePage());
                if (!host.ok()) {
                    rc = host.error();
                } else if (!mac.ok()) {
                    rc = mac.error();
                } else {
                    rc = WakeOnLan(host.text(), mac.text());
                }
            }
            break;
        default:
            break;
    }
    // A handler destroyed the object: the call ended early, whatever it got so far. The two
    // methods that always succeed keep their 0.
    const bool alwaysSucceeds = m.id == CORVANE_PING_DO_EVENTS || m.id == CORVANE_PING_INTERRUPT;
    if (Destroyed() && !alwaysSucceeds) rc = Interrupted();
    return Complete(rc);
}

int32_t PingComponent::Deliver(int32_t event, const char* name, Parameter* params, int32_t count) {
    if (callback_ == nullptr || Destroyed()) return 0;
    CodePageChanged(CodePage());

    constexpr int32_t kMaxParameters = 4;
    intptr_t slots[kMaxParameters + 1] = {};
    int32_t lengths[kMaxParameters + 1] = {};
    TextConverter wide[kMaxParameters] = {};
    for (int32_t i = 0; i < count; ++i) {
        slots[i] = params[i].value;
        if (!params[i].isText) continue;
        const char* text = reinterpret_cast<const char*>(params[i].value);
        if (text == nullptr) text = kEmptyBytes;
        slots[i] = reinterpret_cast<intptr_t>(text);
        if (!wideEvents_) continue;
        if (text[0] == '\0') {
            slots[i] = reinterpret_cast<intptr_t>(kEmptyWide);
            continue;
        }
        wide[i].codePage = CodePage();
        wide[i].SetBytes(text, false);
        slots[i] = wide[i].ConvertToWide() ? reinterpret_cast<intptr_t>(wide[i].wide) : 0;
    }

    const int32_t rc = callback_(context_, event, count, slots, lengths);
    for (TextConverter& converter : wide)
        converter.Release();

    if (rc != 0 && !Destroyed() && EventErrorText()[0] == '\0') {
        TextBuffer text;
        text.AppendFormat(kTextUnhandledEventError, name);
        SetEventErrorAndCode(rc, text.c_str());
        if (event == CORVANE_PING_EVENT_RESPONSE) FireError(rc, text.c_str());
    }
    return rc;
}

int32_t PingComponent::FireError(int32_t code, const char* description) {
    Parameter params[] = {{code, false}, {reinterpret_cast<intptr_t>(description), true}};
    return Deliver(CORVANE_PING_EVENT_ERROR, "Error", params, 2);
}

int32_t PingComponent::FireResponse(int32_t requestId, const char* source, const char* status,
                                    int32_t time) {
    Parameter params[] = {{requestId, false},
                          {reinterpret_cast<intptr_t>(source), true},
                          {reinterpret_cast<intptr_t>(status), true},
                          {time, false}};
    return Deliver(CORVANE_PING_EVENT_RESPONSE, "Response", params, 4);
}

}  // namespace corvane
