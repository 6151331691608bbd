// Unit crvping: the ping component. It keeps no protocol state: every property and method
// goes to one engine ping object, every engine failure becomes an EcrvPing, and the
// engine's events come back through one callback to OnError and OnResponse.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "component/crvtypes/crvtypes.h"

namespace crv {

class EcrvPing : public ECorvane {
  public:
    static EcrvPing CreateCode(int32_t err, const std::string& desc);

  private:
    using ECorvane::ECorvane;
};

class TcrvPing;

using TErrorEvent =
    std::function<void(TcrvPing& sender, int32_t errorCode, const std::u16string& description)>;
using TResponseEvent =
    std::function<void(TcrvPing& sender, int32_t requestId, const std::u16string& responseSource,
                       const std::u16string& responseStatus, int32_t responseTime)>;

class TcrvPing : public TcrvTypesCore {
  public:
    // Raises EcrvPing -1 when no engine object can be had.
    explicit TcrvPing(TcrvCore* owner = nullptr);
    ~TcrvPing() override;

    // Reads never raise; writes raise EcrvPing for a non-zero engine result.
    bool Active() const;
    void SetActive(bool value);
    bool Idle() const;
    void SetIdle(bool) {}
    std::u16string LocalHost() const;
    void SetLocalHost(const std::u16string& value);
    int32_t PacketSize() const;
    void SetPacketSize(int32_t value);
    std::u16string RemoteHost() const;
    void SetRemoteHost(const std::u16string& value);
    int32_t RequestId() const;
    std::u16string ResponseSource() const;
    void SetResponseSource(const std::u16string&) {}
    int32_t ResponseTime() const;
    void SetResponseTime(int32_t) {}
    int32_t Timeout() const;
    void SetTimeout(int32_t value);
    int32_t TimeToLive() const;
    void SetTimeToLive(int32_t value);
    int32_t TypeOfService() const;
    void SetTypeOfService(int32_t value);

    std::u16string Config(const std::u16string& configurationString);
    void DoEvents();
    void Interrupt();
    void PingHost(const std::u16string& host);
    void Reset();
    void WakeOnLAN(const std::u16string& remoteHost, const std::u16string& macAddress);

    // Plain host-side fields; they may be changed at any time, also from a handler.
    TErrorEvent OnError;
    TResponseEvent OnResponse;

    void* EngineHandle() const { return m_ctl; }

    // Turns an exception of a handler into the engine's event error; returns its code.
    int32_t ReportEventException(std::exception_ptr error, const std::u16string& event,
                                 bool reFire);

  private:
    // Outlives the component for the calls still running on it when it is destroyed (by
    // one of its own handlers, say): they see it and touch nothing of it on their way out.
    struct Life {
        bool destroyed = false;
    };

    static int32_t EventCallback(void* owner, int32_t event, int32_t count, intptr_t* params,
                                 int32_t* lengths) noexcept;
    int32_t FireError(const intptr_t* params);
    int32_t FireResponse(const intptr_t* params);

    [[noreturn]] void RaiseError(int32_t code, const std::u16string& text) const;
    intptr_t Read(int32_t property) const;
    std::u16string ReadText(int32_t property) const;
    void Write(int32_t property, intptr_t value);
    // Method call under its UTF-16 identifier; the result slot is returned.
    intptr_t Call(int32_t method, std::initializer_list<const std::u16string*> arguments);

    void* m_ctl = nullptr;
    std::shared_ptr<Life> life_ = std::make_shared<Life>();
};

}  // namespace crv
