// The tool's window in plain Win32 controls: the controls of the form, laid out to the
// pixel, as the view of the window logic. The one app file besides the Qt window that
// includes its toolkit's headers.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <memory>
#include <string>

#include "app/unit1/unit1.h"
#include "app/unit1/view.h"

namespace app {

class MainWindow : public MainView {
  public:
    // Creates the window and its controls, hidden; Handle() is null when that fails.
    MainWindow();
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Creates the window logic with its ping component (raises EcrvPing -1 without one).
    void CreateForm();
    TfrmMain& Form() { return *form_; }
    // Shows the window, which puts the start host into the host field the first time.
    void Show();
    // The program's window ends the thread's message loop when it is closed.
    void SetQuitOnClose(bool quit) { quitOnClose_ = quit; }
    HWND Handle() const { return window_; }
    // Characters the count field refused with a beep.
    int RefusedKeys() const { return refusedKeys_; }

    std::u16string HostText() override;
    void SetHostText(const std::u16string& text) override;
    int32_t Count() override;
    void SetPingEnabled(bool enabled) override;
    void AppendLine(const std::u16string& line) override;
    void ClearOutput() override;
    void ProcessPendingInput() override;
    void Pause(int milliseconds) override;

    HWND label1 = nullptr;
    HWND Label2 = nullptr;
    HWND edtIp = nullptr;
    HWND btnPing = nullptr;
    HWND Memo1 = nullptr;
    HWND btnClear = nullptr;
    // The count field: its edit field, with the up-down control as its arrows.
    HWND SpinEdit1 = nullptr;
    HWND SpinEdit1Arrows = nullptr;

  private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK ControlProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam,
                                        UINT_PTR id, DWORD_PTR self);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnControlMessage(HWND control, UINT message, WPARAM wParam, LPARAM lParam);
    bool CountKeyAllowed(char16_t c) const;
    void CorrectCount();
    void FocusNext(HWND from, bool backwards);

    HWND window_ = nullptr;
    HFONT font_ = nullptr;
    HWND lastFocus_ = nullptr;
    std::unique_ptr<TfrmMain> form_;
    bool shown_ = false;
    bool quitOnClose_ = false;
    int refusedKeys_ = 0;
};

}  // namespace app
