// How the ping layer reports events to the object that delivers them to the host.
#pragma once

#include <cstdint>

namespace corvane {

class EventSink {
  public:
    virtual void CodePageChanged(int32_t codePage) = 0;
    virtual int32_t FireError(int32_t code, const char* description) = 0;
    virtual int32_t FireResponse(int32_t requestId, const char* source, const char* status,
                                 int32_t time) = 0;
    virtual void Destroy() = 0;

  protected:
    ~EventSink() = default;
};

}  // namespace corvane
