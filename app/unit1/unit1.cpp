#include "app/unit1/unit1.h"

#include <algorithm>
#include <exception>

#include "app/define/define.h"
#include "app/unit1/is_valid_ipv4.h"

namespace app {

namespace {

std::u16string Decimal(int32_t value) {
    const std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

}  // namespace

std::u16string ResponseLine(const std::u16string& source, const std::u16string& status,
                            int32_t time) {
    return source + u" : " + status + u" \uFF0Ctime=" + Decimal(time) + u"ms";
}

std::u16string ErrorLine(int32_t code, const std::u16string& description) {
    return Decimal(code) + u":" + description;
}

TfrmMain::TfrmMain(MainView& view) : view_(view) {
    // The stored settings of the form: a short timeout and the two handlers.
    crvPing1.SetTimeout(3);
    crvPing1.OnError = [this](crv::TcrvPing& sender, int32_t code, const std::u16string& text) {
        crvPing1Error(sender, code, text);
    };
    crvPing1.OnResponse = [this](crv::TcrvPing& sender, int32_t id, const std::u16string& source,
                                 const std::u16string& status, int32_t time) {
        crvPing1Response(sender, id, source, status, time);
    };
}

void TfrmMain::FormShow() {
    if (!StartHost.empty()) view_.SetHostText(StartHost);
}

void TfrmMain::edtIpKeyUp(int key) {
    // The button's click action: it runs even while the button is disabled.
    if (key == kEnterKey) btnPingClick();
}

void TfrmMain::btnPingClick() {
    if (view_.HostText().empty()) return;
    if (!IsValidIPv4(view_.HostText())) return;
    RunPings();
}

void TfrmMain::RunPings() {
    view_.SetPingEnabled(false);
    lastRunError_.clear();
    statistics_ = {};
    try {
        const int32_t n = view_.Count();
        for (int32_t i = 0; i <= n && !closing_; ++i) {
            PingOnce(view_.HostText());
            if (closing_) break;
            view_.Pause(kPauseMilliseconds);
            view_.ProcessPendingInput();
        }
    } catch (const crv::ECorvane& e) {
        lastRunError_ = e.Message();  // the run ends without a line for it
    } catch (const std::exception& e) {
        const std::string what = e.what();
        lastRunError_.assign(what.begin(), what.end());
    } catch (...) {
        // Every exception ends the run, whatever it is.
    }
    view_.SetPingEnabled(true);
}

void TfrmMain::PingOnce(const std::u16string& host) {
    // An empty host sends nothing; a wait that ended or an error answer followed a request.
    try {
        crvPing1.PingHost(host);
    } catch (const crv::ECorvane& e) {
        if (e.Code == kWaitEnded || e.Code == kErrorAnswer) ++statistics_.sent;
        throw;
    }
    if (!host.empty()) ++statistics_.sent;
}

void RunStatistics::AddReply(int32_t milliseconds) {
    minMs = received == 0 ? milliseconds : std::min(minMs, milliseconds);
    maxMs = received == 0 ? milliseconds : std::max(maxMs, milliseconds);
    ++received;
    sumMs += milliseconds;
    sumSquaresMs += int64_t{milliseconds} * milliseconds;
}

void TfrmMain::btnClearClick() {
    view_.ClearOutput();
}

void TfrmMain::crvPing1Error(crv::TcrvPing& /*sender*/, int32_t errorCode,
                             const std::u16string& description) {
    view_.AppendLine(ErrorLine(errorCode, description));
}

void TfrmMain::crvPing1Response(crv::TcrvPing& /*sender*/, int32_t /*requestId*/,
                                const std::u16string& responseSource,
                                const std::u16string& responseStatus, int32_t responseTime) {
    if (responseStatus == u"OK") statistics_.AddReply(responseTime);
    view_.AppendLine(ResponseLine(responseSource, responseStatus, responseTime));
}

void TfrmMain::Close() {
    closing_ = true;
    // Ends the engine's wait at its next pass.
    crvPing1.Interrupt();
}

}  // namespace app
