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
// Engine results of a request that went out: the wait ended, or an error message answered.
inline constexpr int32_t kWaitEnded = 301;
inline constexpr int32_t kErrorAnswer = 127;

// What a run sent and what answered it: the console's statistics.
struct RunStatistics {
    int32_t sent = 0;      // requests that went out
    int32_t received = 0;  // echo replies ("OK"); an error answer is no reply
    int32_t minMs = 0;
    int32_t maxMs = 0;
    int64_t sumMs = 0;
    int64_t sumSquaresMs = 0;

    void AddReply(int32_t milliseconds);
};

class TfrmMain {
  public:
    // Raises EcrvPing -1 when the ping component cannot be created.
    explicit TfrmMain(MainView& view);

    void FormShow();
    void edtIpKeyUp(int key);
    void btnPingClick();
    // The run itself, steps 3 to 5 of the click: for a host the caller has checked by its
    // own rules (the console takes names and IPv6 addresses).
    void RunPings();
    void btnClearClick();
    void crvPing1Error(crv::TcrvPing& sender, int32_t errorCode, const std::u16string& description);
    void crvPing1Response(crv::TcrvPing& sender, int32_t requestId,
                          const std::u16string& responseSource,
                          const std::u16string& responseStatus, int32_t responseTime);

    // The window is closing: runs in progress end at their next step.
    void Close();
    bool Closing() const { return closing_; }
    // The last run's requests and replies, for callers that report on a run.
    const RunStatistics& Statistics() const { return statistics_; }
    // The message of the exception that ended the last run, empty when none did.
    const std::u16string& LastRunError() const { return lastRunError_; }

    crv::TcrvPing crvPing1;

  private:
    // One PingHost, counted in the statistics when a request went out.
    void PingOnce(const std::u16string& host);

    MainView& view_;
    bool closing_ = false;
    RunStatistics statistics_;
    std::u16string lastRunError_;
};

std::u16string ResponseLine(const std::u16string& source, const std::u16string& status,
                            int32_t time);
std::u16string ErrorLine(int32_t code, const std::u16string& description);

}  // namespace app
