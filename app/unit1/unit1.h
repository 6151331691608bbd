// Unit Unit1: the logic of the main window, apart from any GUI toolkit. It pings the
// address in the host field count + 1 times and appends a line for every reply and error.
#pragma once

#include <cstdint>
#include <string>

#include "app/unit1/view.h"
#include "component/crvping/crvping.h"

namespace app {

inline constexpr char16_t kCaption[] = u"工具 - PING";
inline constexpr int kEnterKey = 13;
inline constexpr int kPauseMilliseconds = 100;
inline constexpr int32_t kCountMinimum = 10;
inline constexpr int32_t kCountMaximum = 1000;

class TfrmMain {
  public:
    // Raises EcrvPing -1 when the ping component cannot be created.
    explicit TfrmMain(MainView& view);

    void FormShow();
    void edtIpKeyUp(int key);
    void btnPingClick();
    void btnClearClick();
    void crvPing1Error(crv::TcrvPing& sender, int32_t errorCode, const std::u16string& description);
    void crvPing1Response(crv::TcrvPing& sender, int32_t requestId,
                          const std::u16string& responseSource,
                          const std::u16string& responseStatus, int32_t responseTime);

    // The window is closing: runs in progress end at their next step.
    void Close();
    bool Closing() const { return closing_; }
    // Echo replies ("OK") shown, for callers that report on a run; an error answer such as
    // "Host unreachable." is shown as a line too but is no reply.
    int EchoReplies() const { return echoReplies_; }
    // The message of the exception that ended the last run, empty when none did.
    const std::u16string& LastRunError() const { return lastRunError_; }

    crv::TcrvPing crvPing1;

  private:
    MainView& view_;
    bool closing_ = false;
    int echoReplies_ = 0;
    std::u16string lastRunError_;
};

std::u16string ResponseLine(const std::u16string& source, const std::u16string& status,
                            int32_t time);
std::u16string ErrorLine(int32_t code, const std::u16string& description);

}  // namespace app
