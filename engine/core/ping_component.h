// The object behind a ping handle: the ping layers plus what the entry points need to
// talk to the host (callback, string forms, result storage).
#pragma once

#include <cstdint>

#include "engine/core/corvane20.h"
#include "engine/core/event_sink.h"
#include "engine/core/module_state.h"
#include "engine/core/text_buffer.h"
#include "engine/core/text_converter.h"
#include "engine/icmp/ping_core.h"

namespace corvane {

class PingComponent final : public EventSink, public LiveObject, public PingCore {
  public:
    PingComponent(CorvaneEventCallback callback, void* context, int32_t options);
    ~PingComponent() override = default;

    intptr_t Get(int32_t property);
    int32_t Set(int32_t property, intptr_t value);
    int32_t Do(int32_t method, int32_t count, intptr_t* params, int32_t* lengths);

    void CodePageChanged(int32_t /*codePage*/) override {}
    int32_t FireError(int32_t code, const char* description) override;
    int32_t FireResponse(int32_t requestId, const char* source, const char* status,
                         int32_t time) override;
    void Destroy() override;

  private:
    struct Parameter {
        intptr_t value;
        bool isText;
    };

    int32_t Deliver(int32_t event, const char* name, Parameter* params, int32_t count);
    // The result of a call during which a handler destroyed the object.
    int32_t Interrupted();
    intptr_t TextResult(const char* text, WideHolder& holder, bool wide);
    int32_t SetText(int32_t property, intptr_t value, bool wide);
    int32_t SetTimeoutProperty(int32_t value);
    int32_t Config(intptr_t* params, bool wide);
    int32_t ConvertToWide(int32_t count, intptr_t* params, int32_t* lengths);

    CorvaneEventCallback callback_;
    void* context_;
    bool wideEvents_;
    TextBuffer builtinResult_;
    WideHolder localHostWide_;
    WideHolder remoteHostWide_;
    WideHolder responseSourceWide_;
    ConverterPool results_{1};
};

}  // namespace corvane
