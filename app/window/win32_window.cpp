#include "app/window/win32_window.h"

#include <commctrl.h>

#include <cstdio>

#include "app/define/define.h"
#include "app/resources/resource.h"
#include "app/unit1/count_field.h"
#include "app/window/window.h"
#include "component/crvcore/crvcore.h"
#include "component/crvping/entry_points.h"

namespace app {

namespace {

constexpr char16_t kWindowClass[] = u"CorvanePingToolWindow";
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
// Its own taskbar button.
constexpr DWORD kWindowExStyle = WS_EX_APPWINDOW;
constexpr int kClientWidth = 355;
constexpr int kClientHeight = 286;
constexpr int kArrowsWidth = 17;
// The most messages one pass of pending input dispatches, so that a flood cannot hold it.
constexpr int kPendingMessagesPerPass = 1000;

enum ControlId : int {
    kIdLabel1 = 100,
    kIdLabel2,
    kIdEdtIp,
    kIdBtnPing,
    kIdMemo1,
    kIdBtnClear,
    kIdSpinEdit1,
    kIdSpinEdit1Arrows,
};

// UTF-16 texts in the Windows calls' 16-bit wide characters.
const wchar_t* Wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

wchar_t* Wide(char16_t* text) {
    return reinterpret_cast<wchar_t*>(text);
}

std::u16string WindowText(HWND control) {
    const int length = GetWindowTextLengthW(control);
    if (length <= 0) return {};
    std::u16string text(static_cast<size_t>(length) + 1, u'\0');
    const int copied = GetWindowTextW(control, Wide(text.data()), length + 1);
    text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
    return text;
}

HWND Child(HWND parent, const char16_t* className, const char16_t* text, DWORD style, DWORD exStyle,
           int x, int y, int width, int height, int id) {
    return CreateWindowExW(exStyle, Wide(className), Wide(text), WS_CHILD | WS_VISIBLE | style, x,
                           y, width, height, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           GetModuleHandleW(nullptr), nullptr);
}

// The form's font: Tahoma, 11 pixels high (8 points at 96 pixels per inch).
HFONT FormFont() {
    return CreateFontW(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, Wide(u"Tahoma"));
}

bool RegisterWindowClass(WNDPROC procedure) {
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof(existing);
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    if (GetClassInfoExW(instance, Wide(kWindowClass), &existing)) return true;
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hIcon =
        static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_PINGTOOL), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    windowClass.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_PINGTOOL),
                                                        IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                        GetSystemMetrics(SM_CYSMICON), 0));
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    windowClass.lpszClassName = Wide(kWindowClass);
    return RegisterClassExW(&windowClass) != 0;
}

// The locale's decimal separator, which the count field accepts as typed.
char16_t DecimalSeparator() {
    char16_t separator[8] = {};
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, Wide(separator), 8) > 0) {
        return separator[0];
    }
    return u'.';
}

}  // namespace

MainWindow::MainWindow() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);
    if (!RegisterWindowClass(&MainWindow::WindowProc)) return;

    // The outer size that gives the client area, centred on the screen.
    RECT frame{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&frame, kWindowStyle, FALSE, kWindowExStyle);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    window_ = CreateWindowExW(kWindowExStyle, Wide(kWindowClass), Wide(kCaption), kWindowStyle, x,
                              y, width, height, nullptr, nullptr, GetModuleHandleW(nullptr), this);
    if (window_ == nullptr) return;

    // Created in the tab order: the focus moves along the creation order.
    label1 =
        Child(window_, u"Static", u"目标主机", SS_LEFT | SS_NOPREFIX, 0, 16, 13, 55, 13, kIdLabel1);
    Label2 = Child(window_, u"Static", u"ping 次数", SS_LEFT | SS_NOPREFIX, 0, 16, 40, 60, 13,
                   kIdLabel2);
    edtIp = Child(window_, u"Edit", u"", WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE,
                  77, 8, 153, 21, kIdEdtIp);
    btnPing = Child(window_, u"Button", u"ping", WS_TABSTOP | BS_PUSHBUTTON, 0, 244, 6, 99, 25,
                    kIdBtnPing);
    // No horizontal scrolling: the lines wrap at the right edge.
    Memo1 = Child(window_, u"Edit", u"",
                  WS_TABSTOP | WS_VSCROLL | ES_LEFT | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN,
                  WS_EX_CLIENTEDGE, 11, 69, 336, 204, kIdMemo1);
    btnClear = Child(window_, u"Button", u"清空", WS_TABSTOP | BS_PUSHBUTTON, 0, 244, 37, 99, 25,
                     kIdBtnClear);
    // The count field's 153 pixels: the edit field, and the arrows at its right end.
    SpinEdit1 = Child(window_, u"Edit", u"10", WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL,
                      WS_EX_CLIENTEDGE, 77, 35, 153 - kArrowsWidth, 22, kIdSpinEdit1);
    SpinEdit1Arrows =
        Child(window_, u"msctls_updown32", u"", UDS_SETBUDDYINT | UDS_ARROWKEYS | UDS_NOTHOUSANDS,
              0, 77 + 153 - kArrowsWidth, 35, kArrowsWidth, 22, kIdSpinEdit1Arrows);
    for (HWND control :
         {label1, Label2, edtIp, btnPing, Memo1, btnClear, SpinEdit1, SpinEdit1Arrows}) {
        if (control == nullptr) {
            DestroyWindow(window_);
            window_ = nullptr;
            return;
        }
    }
    SendMessageW(SpinEdit1Arrows, UDM_SETBUDDY, reinterpret_cast<WPARAM>(SpinEdit1), 0);
    SendMessageW(SpinEdit1Arrows, UDM_SETRANGE32, kCountMinimum, kCountMaximum);
    SendMessageW(SpinEdit1Arrows, UDM_SETPOS32, 0, kCountMinimum);
    UDACCEL step{0, 1};
    SendMessageW(SpinEdit1Arrows, UDM_SETACCEL, 1, reinterpret_cast<LPARAM>(&step));
    // Wine's up-down narrows itself by a pixel when it gets its buddy; it gets its size back.
    SetWindowPos(SpinEdit1Arrows, nullptr, 77 + 153 - kArrowsWidth, 35, kArrowsWidth, 22,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    // Runs of up to 1001 lines exceed the edit control's default limit of 30000 characters.
    SendMessageW(Memo1, EM_SETLIMITTEXT, 0, 0);

    font_ = FormFont();
    for (HWND control : {window_, label1, Label2, edtIp, btnPing, Memo1, btnClear, SpinEdit1}) {
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    }
    // Installed after the up-down's own, so the count field's rules see keys first.
    for (HWND control : {edtIp, btnPing, Memo1, btnClear, SpinEdit1}) {
        SetWindowSubclass(control, &MainWindow::ControlProc, 0, reinterpret_cast<DWORD_PTR>(this));
    }
    lastFocus_ = edtIp;
}

MainWindow::~MainWindow() {
    // The ping component goes first, with its engine object and hidden window.
    form_.reset();
    if (window_ != nullptr && IsWindow(window_)) {
        for (HWND control : {edtIp, btnPing, Memo1, btnClear, SpinEdit1}) {
            RemoveWindowSubclass(control, &MainWindow::ControlProc, 0);
        }
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
    if (font_ != nullptr) DeleteObject(font_);
}

void MainWindow::CreateForm() {
    form_ = std::make_unique<TfrmMain>(*this);
}

void MainWindow::Show() {
    if (window_ == nullptr) return;
    ShowWindow(window_, SW_SHOWNORMAL);
    UpdateWindow(window_);
}

LRESULT CALLBACK MainWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        auto* owner = static_cast<MainWindow*>(create->lpCreateParams);
        owner->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owner));
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    return self->OnMessage(message, wParam, lParam);
}

LRESULT MainWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED && form_) {
                if (LOWORD(wParam) == kIdBtnPing) form_->btnPingClick();
                if (LOWORD(wParam) == kIdBtnClear) form_->btnClearClick();
                return 0;
            }
            break;
        case WM_SHOWWINDOW:
            if (wParam != FALSE && !shown_ && form_) {
                shown_ = true;
                form_->FormShow();
            }
            break;
        case WM_ACTIVATE:
            // The focus returns to the control that had it, the host field at first.
            if (LOWORD(wParam) == WA_INACTIVE) {
                const HWND focus = GetFocus();
                if (focus != nullptr && IsChild(window_, focus)) lastFocus_ = focus;
            } else if (HIWORD(wParam) == 0 && lastFocus_ != nullptr) {
                SetFocus(lastFocus_);
                return 0;
            }
            break;
        case WM_SETFOCUS:
            if (lastFocus_ != nullptr) SetFocus(lastFocus_);
            return 0;
        case WM_CLOSE:
            // A run in progress ends at once; the window goes when the program releases it.
            if (form_) form_->Close();
            ShowWindow(window_, SW_HIDE);
            if (quitOnClose_) PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

LRESULT CALLBACK MainWindow::ControlProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR /*id*/, DWORD_PTR self) {
    return reinterpret_cast<MainWindow*>(self)->OnControlMessage(control, message, wParam, lParam);
}

LRESULT MainWindow::OnControlMessage(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_KEYDOWN:
            // Tab and Shift+Tab move along the tab order, in every loop that dispatches.
            if (wParam == VK_TAB) {
                FocusNext(control, GetKeyState(VK_SHIFT) < 0);
                return 0;
            }
            // Enter presses a focused button.
            if (wParam == VK_RETURN && (control == btnPing || control == btnClear)) {
                if (IsWindowEnabled(control)) {
                    SendMessageW(window_, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), BN_CLICKED),
                                 reinterpret_cast<LPARAM>(control));
                }
                return 0;
            }
            break;
        case WM_CHAR:
            if (wParam == u'\t') return 0;
            if (control == SpinEdit1 && !CountKeyAllowed(static_cast<char16_t>(wParam))) {
                ++refusedKeys_;
                MessageBeep(0);
                return 0;
            }
            break;
        case WM_KEYUP:
        case WM_SYSKEYUP:
            // Alt held down makes the release a system key; Enter counts either way.
            if (control == edtIp && form_) {
                const LRESULT result = DefSubclassProc(control, message, wParam, lParam);
                form_->edtIpKeyUp(static_cast<int>(wParam));
                return result;
            }
            break;
        case WM_KILLFOCUS:
            if (control == SpinEdit1) {
                const LRESULT result = DefSubclassProc(control, message, wParam, lParam);
                CorrectCount();
                return result;
            }
            break;
        default:
            break;
    }
    return DefSubclassProc(control, message, wParam, lParam);
}

// Digits, the signs, the decimal separator and control characters other than Enter.
bool MainWindow::CountKeyAllowed(char16_t c) const {
    if (c >= u'0' && c <= u'9') return true;
    if (c == u'+' || c == u'-' || c == DecimalSeparator()) return true;
    return c < 0x20 && c != u'\r';
}

// A value outside the range is replaced by the nearer bound; other texts stay as typed.
void MainWindow::CorrectCount() {
    const std::u16string text = WindowText(SpinEdit1);
    const int32_t value = CountFieldValue(text);
    int32_t corrected = value;
    if (value < kCountMinimum) corrected = kCountMinimum;
    if (value > kCountMaximum) corrected = kCountMaximum;
    if (corrected == value) return;
    const std::string digits = std::to_string(corrected);
    const std::u16string text16(digits.begin(), digits.end());
    SetWindowTextW(SpinEdit1, Wide(text16.c_str()));
    SendMessageW(SpinEdit1Arrows, UDM_SETPOS32, 0, corrected);
}

void MainWindow::FocusNext(HWND from, bool backwards) {
    const HWND order[] = {edtIp, btnPing, Memo1, btnClear, SpinEdit1};
    constexpr int kCount = static_cast<int>(sizeof(order) / sizeof(order[0]));
    int at = 0;
    while (at < kCount && order[at] != from)
        ++at;
    if (at == kCount) return;
    for (int step = 1; step < kCount; ++step) {
        const int next = (at + (backwards ? kCount - step : step)) % kCount;
        if (IsWindowEnabled(order[next]) && IsWindowVisible(order[next])) {
            SetFocus(order[next]);
            // An edit field entered by Tab has its whole text selected.
            if (order[next] != btnPing && order[next] != btnClear && order[next] != Memo1) {
                SendMessageW(order[next], EM_SETSEL, 0, -1);
            }
            return;
        }
    }
}

std::u16string MainWindow::HostText() {
    return WindowText(edtIp);
}

void MainWindow::SetHostText(const std::u16string& text) {
    SetWindowTextW(edtIp, Wide(text.c_str()));
}

int32_t MainWindow::Count() {
    return CountFieldValue(WindowText(SpinEdit1));
}

void MainWindow::SetPingEnabled(bool enabled) {
    // Disabling the button takes the focus from it; it gets it back with the button.
    if (!enabled && GetFocus() == btnPing) lastFocus_ = btnPing;
    EnableWindow(btnPing, enabled ? TRUE : FALSE);
    if (enabled && GetFocus() == nullptr && GetActiveWindow() == window_ && lastFocus_ != nullptr) {
        SetFocus(lastFocus_);
    }
}

// The line goes after the last one, which ends with a line break; the caret follows it,
// so the newest line is in view.
void MainWindow::AppendLine(const std::u16string& line) {
    const std::u16string text = WindowText(Memo1);
    std::u16string added;
    if (!text.empty() && text.back() != u'\n') added = u"\r\n";
    added += line;
    added += u"\r\n";
    const LPARAM end = static_cast<LPARAM>(text.size());
    SendMessageW(Memo1, EM_SETSEL, static_cast<WPARAM>(end), end);
    SendMessageW(Memo1, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(Wide(added.c_str())));
}

void MainWindow::ClearOutput() {
    SetWindowTextW(Memo1, Wide(u""));
}

void MainWindow::ProcessPendingInput() {
    MSG msg{};
    for (int i = 0; i < kPendingMessagesPerPass && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);
         ++i) {
        if (msg.message == WM_QUIT) {
            // Left for the program's message loop.
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void MainWindow::Pause(int milliseconds) {
    Sleep(static_cast<DWORD>(milliseconds > 0 ? milliseconds : 0));
}

// Windows always has a desktop; Wine started without an X display has none, and there the
// tool runs in the console instead.
bool WindowAvailable() {
    HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                                 nullptr);
    if (probe == nullptr) return false;
    DestroyWindow(probe);
    return true;
}

int RunWindow(int /*argc*/, char** /*argv*/, const std::string& host) {
    // A console that the system opened for this program alone (started from the desktop)
    // would only stand behind the window.
    DWORD processes[2];
    if (GetConsoleProcessList(processes, 2) == 1) FreeConsole();
    StartHost = crv::FromAnsi(host);
    auto session = std::make_unique<crv::EngineSession>();
    auto window = std::make_unique<MainWindow>();
    if (window->Handle() == nullptr) {
        std::fprintf(stderr, "pingtool: the window cannot be created (error %lu)\n",
                     GetLastError());
        return 1;
    }
    try {
        window->CreateForm();
    } catch (const crv::ECorvane& e) {
        // Unhandled at start-up: reported with its message, and the program ends.
        std::fprintf(stderr, "pingtool: %s\n", e.what());
        MessageBoxW(nullptr, Wide(e.Message().c_str()), Wide(kCaption), MB_OK | MB_ICONERROR);
        return 1;
    }
    window->SetQuitOnClose(true);
    window->Show();
    MSG msg{};
    int status = 0;
    for (;;) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            status = static_cast<int>(msg.wParam);
            break;
        }
        if (got == -1) {
            status = 1;
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    // The engine is released first, then the window goes.
    session.reset();
    window.reset();
    return status;
}

}  // namespace app
