// The root layer of every engine object: error state, code page, configuration answers
// and the settings every component shares.
#pragma once

#include <cstdint>

#include "engine/core/config_item.h"
#include "engine/core/event_sink.h"
#include "engine/core/text_buffer.h"

namespace corvane {

class ComponentCore {
  public:
    explicit ComponentCore(EventSink* sink);
    virtual ~ComponentCore() = default;
    ComponentCore(const ComponentCore&) = delete;
    ComponentCore& operator=(const ComponentCore&) = delete;

    int32_t LastErrorCode() const { return lastErrorCode_; }
    const char* LastErrorText() const { return lastErrorText_.c_str(); }
    int32_t EventErrorCode() const { return eventErrorCode_; }
    const char* EventErrorText() const { return eventErrorText_.c_str(); }
    int32_t CodePage() const { return codePage_; }

    // Replaces the last error text with a fixed text and returns the code (200 when
    // the text could not be stored).
    int32_t Fail(int32_t code, const char* text);
    void ClearError();
    void SetLastErrorCode(int32_t code) { lastErrorCode_ = code; }
    // Stores code and text as they are (null text is empty); returns the code.
    int32_t SetLastErrorAndCode(int32_t code, const char* text);
    int32_t SetEventErrorAndCode(int32_t code, const char* text);
    // Sets the text to "[code] " and the table text of a socket error number; the code
    // is left at 0.
    void SocketErrorText(int32_t code);
    // Fills a missing text from the code, records the code and returns it: the last step
    // of every property write and method call.
    int32_t Complete(int32_t code);

    // Parses and applies one configuration string; answer receives the result text.
    int32_t Configure(const char* text, const char** answer);

    // A call into the object: an entry point, or a message of its hidden window. A handler
    // may destroy the object inside one; it is then freed when the outermost call returns.
    class Call {
      public:
        explicit Call(ComponentCore* core) : core_(core) { ++core_->calls_; }
        ~Call() {
            if (--core_->calls_ == 0 && core_->destroyed_) core_->sink_->Destroy();
        }
        Call(const Call&) = delete;
        Call& operator=(const Call&) = delete;

      private:
        ComponentCore* core_;
    };
    // Destroyed inside a call that has not returned yet: every wait, read and event on the
    // way out ends at once.
    bool Destroyed() const { return destroyed_; }

  protected:
    // Each layer handles its own names and hands the rest to the layer below.
    virtual int32_t HandleConfig(const ConfigItem& item, const char** answer);

    void ResetCore();

    // Setting or query of a stored value of each kind.
    int32_t ConfigBoolean(const ConfigItem& item, const char** answer, bool& field);
    int32_t ConfigNumber(const ConfigItem& item, const char** answer, int32_t& field);
    int32_t ConfigText(const ConfigItem& item, const char** answer, TextBuffer& field);

    // Query answers kept in the configuration result buffer.
    int32_t AnswerNumber(const char** answer, int32_t value);
    int32_t AnswerUnsigned(const char** answer, uint32_t value);
    int32_t AnswerText(const char** answer, const char* text);
    static int32_t AnswerBoolean(const char** answer, bool value);

    EventSink* Sink() const { return sink_; }
    // Whether the object may be freed now; inside a call it is only marked, and the
    // outermost call frees it.
    bool MayFreeNow() {
        if (calls_ == 0) return true;
        destroyed_ = true;
        return false;
    }

  private:
    int32_t lastErrorCode_ = 0;
    int32_t eventErrorCode_ = 0;
    int32_t codePage_ = 0;
    TextBuffer lastErrorText_;
    TextBuffer eventErrorText_;
    TextBuffer configResult_;
    uint8_t charsetMode_ = 0;
    EventSink* sink_;
    TextBuffer logDebugFile_;
    uint32_t logDebugOption_ = 0;
    int32_t calls_ = 0;
    bool destroyed_ = false;
};

}  // namespace corvane
