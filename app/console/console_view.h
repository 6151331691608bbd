// The window logic's view in a terminal: the host, the number of requests and the pause
// come from the command line, every line goes to standard output, and Ctrl+C closes the
// "window".
#pragma once

#include <string>

#include "app/unit1/view.h"

namespace app {

class TfrmMain;

class ConsoleView : public MainView {
  public:
    ConsoleView(std::u16string host, int32_t requests, int32_t pauseMs);
    ~ConsoleView() override;

    // Joins the engine's message queue, so that Ctrl+C ends a wait at once.
    void Attach(TfrmMain& form);

    std::u16string HostText() override { return host_; }
    void SetHostText(const std::u16string& text) override { host_ = text; }
    int32_t Count() override;
    void SetPingEnabled(bool) override {}
    void AppendLine(const std::u16string& line) override;
    void ClearOutput() override {}
    void ProcessPendingInput() override;
    void Pause(int milliseconds) override;

  private:
    static void OnPendingInput(void* context);

    std::u16string host_;
    int32_t requests_;
    int32_t pauseMs_;
    TfrmMain* form_ = nullptr;
};

}  // namespace app
