#include "app/console/console_view.h"

#include <cstdio>

#include "app/unit1/unit1.h"
#include "component/crvcore/crvcore.h"
#include "platform/console.h"
#include "platform/window.h"

namespace app {

ConsoleView::ConsoleView(std::u16string host, int32_t requests, int32_t pauseMs)
    : host_(std::move(host)), requests_(requests), pauseMs_(pauseMs) {}

ConsoleView::~ConsoleView() {
    if (form_ != nullptr) plat::JoinGuiSource(nullptr);
}

void ConsoleView::Attach(TfrmMain& form) {
    form_ = &form;
    const int descriptor = plat::WatchConsoleInterrupts();
    if (descriptor < 0) return;
    const plat::GuiSource source{descriptor, &ConsoleView::OnPendingInput, this};
    plat::JoinGuiSource(&source);
}

void ConsoleView::OnPendingInput(void* context) {
    auto* view = static_cast<ConsoleView*>(context);
    if (plat::ConsoleInterrupted() && view->form_ != nullptr && !view->form_->Closing()) {
        view->form_->Close();
    }
}

// The window sends its count plus one.
int32_t ConsoleView::Count() {
    return requests_ - 1;
}

void ConsoleView::AppendLine(const std::u16string& line) {
    std::printf("%s\n", crv::ToUtf8(line).c_str());
    std::fflush(stdout);
}

void ConsoleView::ProcessPendingInput() {
    OnPendingInput(this);
    // Asynchronous answers and anything else queued for this thread.
    plat::MSG msg{};
    for (int i = 0; i < 1000 && plat::PeekMessageA(&msg, nullptr, 0, 0, plat::PM_REMOVE); ++i) {
        if (msg.message == plat::WM_QUIT) break;
        plat::TranslateMessage(&msg);
        plat::DispatchMessageA(&msg);
    }
}

// The console's own pause stands for the window's 100 ms.
void ConsoleView::Pause(int /*milliseconds*/) {
    // In short steps, so that Ctrl+C does not wait for the pause to end.
    for (int left = pauseMs_; left > 0 && !plat::ConsoleInterrupted(); left -= 10) {
        plat::Sleep(left < 10 ? static_cast<uint32_t>(left) : 10u);
    }
}

}  // namespace app
