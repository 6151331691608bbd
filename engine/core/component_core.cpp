#include "engine/core/component_core.h"

#include "engine/core/error_codes.h"
#include "engine/core/module_state.h"
#include "engine/core/socket_error_table.h"
#include "engine/core/text_converter.h"
#include "platform/codepage.h"

namespace corvane {

namespace {

constexpr uint32_t kCodePageShiftJis = 932;

uint8_t InitialCharsetMode() {
    return plat::AnsiCodePage() == kCodePageShiftJis ? 1 : 0;
}

}  // namespace

ComponentCore::ComponentCore(EventSink* sink) : charsetMode_(InitialCharsetMode()), sink_(sink) {}

int32_t ComponentCore::Fail(int32_t code, const char* text) {
    return lastErrorText_.Assign(text) != 0 ? kOutOfMemory : code;
}

void ComponentCore::ClearError() {
    lastErrorCode_ = 0;
    lastErrorText_.Clear();
}

int32_t ComponentCore::SetLastErrorAndCode(int32_t code, const char* text) {
    lastErrorText_.Assign(text);
    lastErrorCode_ = code;
    return code;
}

int32_t ComponentCore::SetEventErrorAndCode(int32_t code, const char* text) {
    eventErrorText_.Assign(text);
    eventErrorCode_ = code;
    return code;
}

void ComponentCore::SocketErrorText(int32_t code) {
    ClearError();
    const char* description = SocketErrorDescription(code);
    lastErrorText_.AppendFormat("[%d] %s", code,
                                description != nullptr ? description : kTextNoDescription);
}

int32_t ComponentCore::Complete(int32_t code) {
    if (lastErrorText_.empty() && code != 0) {
        if (code == kOutOfMemory) {
            lastErrorText_.Assign(kTextOutOfMemory);
        } else if (code == kWaitEnded) {
            lastErrorText_.Assign(kTextInterrupted);
        } else {
            SocketErrorText(code);
        }
    }
    lastErrorCode_ = code;
    return code;
}

void ComponentCore::ResetCore() {
    ClearError();
    charsetMode_ = InitialCharsetMode();
}

int32_t ComponentCore::Configure(const char* text, const char** answer) {
    *answer = kEmptyBytes;
    ConfigItem item;
    if (item.Parse(text) != 0) return kOutOfMemory;
    return HandleConfig(item, answer);
}

int32_t ComponentCore::HandleConfig(const ConfigItem& item, const char** answer) {
    if (item.Is("CodePage")) return ConfigNumber(item, answer, codePage_);
    if (item.Is("CharsetMode")) {
        if (item.query) return AnswerNumber(answer, charsetMode_);
        charsetMode_ = static_cast<uint8_t>(item.Number());
        return 0;
    }
    if (item.Is("LogDebugFile")) return ConfigText(item, answer, logDebugFile_);
    if (item.Is("LogDebugOption")) {
        if (item.query) return AnswerUnsigned(answer, logDebugOption_);
        logDebugOption_ = static_cast<uint32_t>(item.Number());
        return 0;
    }
    if (item.Is("LastError")) return item.query ? AnswerText(answer, lastErrorText_.c_str()) : 0;
    if (item.Is("ZeroMemory")) {
        if (item.query) return AnswerBoolean(answer, WipeOnRelease());
        SetWipeOnRelease(item.Boolean());
        return 0;
    }
    *answer = kEmptyBytes;
    return Fail(kRefused, kTextUnknownConfig);
}

int32_t ComponentCore::ConfigBoolean(const ConfigItem& item, const char** answer, bool& field) {
    if (item.query) return AnswerBoolean(answer, field);
    field = item.Boolean();
    return 0;
}

int32_t ComponentCore::ConfigNumber(const ConfigItem& item, const char** answer, int32_t& field) {
    if (item.query) return AnswerNumber(answer, field);
    field = item.Number();
    return 0;
}

int32_t ComponentCore::ConfigText(const ConfigItem& item, const char** answer, TextBuffer& field) {
    if (item.query) return AnswerText(answer, field.c_str());
    return field.Assign(item.value.c_str(), item.value.size());
}

int32_t ComponentCore::AnswerNumber(const char** answer, int32_t value) {
    configResult_.Clear();
    if (configResult_.AppendFormat("%d", value) != 0) return kOutOfMemory;
    *answer = configResult_.c_str();
    return 0;
}

int32_t ComponentCore::AnswerUnsigned(const char** answer, uint32_t value) {
    configResult_.Clear();
    if (configResult_.AppendFormat("%u", value) != 0) return kOutOfMemory;
    *answer = configResult_.c_str();
    return 0;
}

int32_t ComponentCore::AnswerText(const char** answer, const char* text) {
    if (configResult_.Assign(text) != 0) return kOutOfMemory;
    *answer = configResult_.c_str();
    return 0;
}

int32_t ComponentCore::AnswerBoolean(const char** answer, bool value) {
    *answer = value ? "True" : "False";
    return 0;
}

}  // namespace corvane
