// The Win32 window on a virtual display: key messages and clicks in the real controls,
// against the engine this test program carries inside itself.
#include <winsock2.h>

#include "app/window/win32_window.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <winver.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/define/define.h"
#include "component/crvping/entry_points.h"
#include "tests/support/utf.h"

namespace {

constexpr int kRunMilliseconds = 60000;  // 11 pings with their pauses, with room to spare

// UTF-16 texts in the Windows calls' 16-bit wide characters.
const wchar_t* W(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

wchar_t* W(char16_t* text) {
    return reinterpret_cast<wchar_t*>(text);
}

std::u16string Text(HWND control) {
    const int length = GetWindowTextLengthW(control);
    std::u16string text(static_cast<size_t>(length) + 1, u'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(control, W(text.data()), length + 1)));
    return text;
}

std::string Utf8(const std::u16string& text) {
    return test::Utf8(text.c_str());
}

// Window class names compare without regard to ASCII case.
std::u16string ClassName(HWND control) {
    char16_t name[64] = {};
    GetClassNameW(control, W(name), 64);
    std::u16string lower(name);
    for (char16_t& c : lower) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
    return lower;
}

// The output's lines, without the empty one after the last line break.
std::vector<std::u16string> Lines(HWND memo) {
    std::vector<std::u16string> lines;
    const std::u16string text = Text(memo);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(u"\r\n", start);
        if (end == std::u16string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

RECT ClientRectOf(HWND control) {
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// Dispatches what is queued, as the program's message loop does.
void Pump() {
    MSG msg{};
    for (int i = 0; i < 10000 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

template <typename Done>
bool PumpUntil(Done done, int milliseconds) {
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(milliseconds);
    for (;;) {
        Pump();
        if (done()) return true;
        if (GetTickCount64() >= end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

LPARAM KeyData(UINT vk, bool release, bool alt) {
    const UINT scan = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
    LPARAM data = 1 | static_cast<LPARAM>(scan) << 16;
    if (alt) data |= LPARAM{1} << 29;
    if (release) data |= LPARAM{3} << 30;
    return data;
}

// A key pressed and released in the control, as the keyboard delivers it.
void PressKey(HWND control, UINT vk, bool alt = false) {
    PostMessageW(control, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, vk, KeyData(vk, false, alt));
    PostMessageW(control, alt ? WM_SYSKEYUP : WM_KEYUP, vk, KeyData(vk, true, alt));
    Pump();
}

void TypeChars(HWND control, const std::u16string& text) {
    for (char16_t c : text)
        PostMessageW(control, WM_CHAR, c, 1);
    Pump();
}

// A left click through the system's input, at the middle of the control.
bool ClickMiddle(HWND control) {
    RECT rect{};
    GetWindowRect(control, &rect);
    const int x = (rect.left + rect.right) / 2;
    const int y = (rect.top + rect.bottom) / 2;
    INPUT inputs[3] = {};
    for (INPUT& input : inputs)
        input.type = INPUT_MOUSE;
    inputs[0].mi.dx = x * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1);
    inputs[0].mi.dy = y * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1);
    inputs[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    inputs[2].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    const bool sent = SendInput(3, inputs, sizeof(INPUT)) == 3;
    PumpUntil([] { return false; }, 200);
    return sent;
}

// Raw ICMP sockets need root under Wine: 0 when one opens, else the socket error (10013).
int RawSocketError() {
    WSADATA data{};
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return -1;
    const SOCKET s = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    const int error = s == INVALID_SOCKET ? WSAGetLastError() : 0;
    if (s != INVALID_SOCKET) closesocket(s);
    WSACleanup();
    return error;
}

constexpr char kNoRawSockets[] = "raw ICMP sockets need root under Wine; socket error ";

char16_t DecimalSeparator() {
    char16_t separator[8] = {};
    return GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, W(separator), 8) > 0 ? separator[0]
                                                                                     : u'.';
}

class Win32WindowTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { session_ = new crv::EngineSession(); }
    static void TearDownTestSuite() {
        delete session_;
        session_ = nullptr;
    }

    void SetUp() override {
        window_ = std::make_unique<app::MainWindow>();
        ASSERT_NE(window_->Handle(), nullptr);
        window_->CreateForm();
        window_->Show();
        SetForegroundWindow(window_->Handle());
        PumpUntil([this] { return GetFocus() == window_->edtIp; }, 2000);
    }
    void TearDown() override {
        window_.reset();
        Pump();
    }

    // Focus to the count field with its whole text selected, as Tab leaves it.
    void SelectCount() {
        SetFocus(window_->SpinEdit1);
        SendMessageW(window_->SpinEdit1, EM_SETSEL, 0, -1);
    }

    void ExpectElevenReplies() {
        const std::vector<std::u16string> lines = Lines(window_->Memo1);
        ASSERT_EQ(lines.size(), 11u) << Utf8(Text(window_->Memo1));
        for (const std::u16string& line : lines) {
            EXPECT_EQ(line.rfind(u"127.0.0.1 : OK \uFF0Ctime=", 0), 0u) << Utf8(line);
            EXPECT_GE(line.size(), 2u);
            EXPECT_EQ(line.substr(line.size() - 2), u"ms");
        }
    }

    static crv::EngineSession* session_;
    std::unique_ptr<app::MainWindow> window_;
};

crv::EngineSession* Win32WindowTest::session_ = nullptr;

TEST_F(Win32WindowTest, WindowFrame) {
    const HWND window = window_->Handle();
    EXPECT_EQ(Text(window), u"工具 - PING");
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right - client.left, 355);
    EXPECT_EQ(client.bottom - client.top, 286);

    // A fixed single border with the system menu and close box only.
    const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    RECT outer{};
    GetWindowRect(window, &outer);
    POINT edge{outer.right - 1, (outer.top + outer.bottom) / 2};
    const LRESULT hit = SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(edge.x, edge.y));
    EXPECT_NE(hit, HTRIGHT);  // the frame offers no sizing
    EXPECT_TRUE(IsWindowVisible(window));

    // Centred on the screen.
    EXPECT_NEAR((outer.left + outer.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
    EXPECT_NEAR((outer.top + outer.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);

    EXPECT_EQ(GetClassLongPtrW(window, GCLP_HBRBACKGROUND), COLOR_BTNFACE + 1);
}

// The icon of its own: a green ring with a dot, transparent at the corners.
TEST_F(Win32WindowTest, OwnIcon) {
    const auto icon = reinterpret_cast<HICON>(GetClassLongPtrW(window_->Handle(), GCLP_HICON));
    ASSERT_NE(icon, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP bitmap{};
    ASSERT_TRUE(GetObjectW(info.hbmColor, sizeof(bitmap), &bitmap));
    const int size = bitmap.bmWidth;
    ASSERT_EQ(bitmap.bmHeight, size);
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof(format.bmiHeader);
    format.bmiHeader.biWidth = size;
    format.bmiHeader.biHeight = -size;
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    std::vector<uint32_t> pixels(static_cast<size_t>(size) * size);
    const HDC dc = GetDC(nullptr);
    const int rows = GetDIBits(dc, info.hbmColor, 0, size, pixels.data(), &format, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    ASSERT_EQ(rows, size);
    const uint32_t centre = pixels[static_cast<size_t>(size / 2) * size + size / 2];
    EXPECT_EQ(centre & 0xFFFFFF, 0x1E8C3Cu);  // 0xRRGGBB
    EXPECT_EQ(pixels[0] >> 24, 0u);
}

TEST_F(Win32WindowTest, ControlsAtTheirPlaces) {
    struct Case {
        HWND app::MainWindow::*control;
        const char16_t* className;  // in lower case
        const char16_t* text;
        RECT rect;  // left, top, right, bottom; 0 for the count field's inner edges
    };
    const Case cases[] = {
        {&app::MainWindow::label1, u"static", u"目标主机", {16, 13, 16 + 55, 13 + 13}},
        {&app::MainWindow::Label2, u"static", u"ping 次数", {16, 40, 16 + 60, 40 + 13}},
        {&app::MainWindow::edtIp, u"edit", u"", {77, 8, 77 + 153, 8 + 21}},
        {&app::MainWindow::btnPing, u"button", u"ping", {244, 6, 244 + 99, 6 + 25}},
        {&app::MainWindow::Memo1, u"edit", u"", {11, 69, 11 + 336, 69 + 204}},
        {&app::MainWindow::btnClear, u"button", u"清空", {244, 37, 244 + 99, 37 + 25}},
        {&app::MainWindow::SpinEdit1, u"edit", u"10", {77, 35, 0, 35 + 22}},
        {&app::MainWindow::SpinEdit1Arrows, u"msctls_updown32", u"", {0, 35, 77 + 153, 35 + 22}},
    };
    for (const Case& c : cases) {
        const HWND control = window_.get()->*c.control;
        SCOPED_TRACE(testing::Message() << "control " << (&c - cases));
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(ClassName(control), c.className);
        EXPECT_EQ(Text(control), c.text);
        const RECT rect = ClientRectOf(control);
        if (c.rect.left != 0) {
            EXPECT_EQ(rect.left, c.rect.left);
        }
        if (c.rect.right != 0) {
            EXPECT_EQ(rect.right, c.rect.right);
        }
        EXPECT_EQ(rect.top, c.rect.top);
        EXPECT_EQ(rect.bottom, c.rect.bottom);
        EXPECT_TRUE(IsWindowVisible(control));
        if (control != window_->SpinEdit1Arrows) {
            LOGFONTW font{};
            const auto handle = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
            ASSERT_TRUE(GetObjectW(handle, sizeof(font), &font));
            EXPECT_EQ(font.lfHeight, -11);
            EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(font.lfFaceName)),
                      u"Tahoma");
        }
    }
    // The edit field and its arrows share the count field's place, edge to edge.
    EXPECT_EQ(ClientRectOf(window_->SpinEdit1).right, ClientRectOf(window_->SpinEdit1Arrows).left);
    EXPECT_EQ(reinterpret_cast<HWND>(SendMessageW(window_->SpinEdit1Arrows, UDM_GETBUDDY, 0, 0)),
              window_->SpinEdit1);
    int low = 0;
    int high = 0;
    SendMessageW(window_->SpinEdit1Arrows, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low),
                 reinterpret_cast<LPARAM>(&high));
    EXPECT_EQ(low, 10);
    EXPECT_EQ(high, 1000);

    // The output: editable, a vertical scroll bar only, lines wrapping at its width.
    const LONG_PTR memo = GetWindowLongPtrW(window_->Memo1, GWL_STYLE);
    EXPECT_TRUE(memo & ES_MULTILINE);
    EXPECT_TRUE(memo & WS_VSCROLL);
    EXPECT_FALSE(memo & WS_HSCROLL);
    EXPECT_FALSE(memo & ES_AUTOHSCROLL);
    EXPECT_FALSE(memo & ES_READONLY);
    window_->AppendLine(std::u16string(200, u'x'));
    EXPECT_GT(SendMessageW(window_->Memo1, EM_GETLINECOUNT, 0, 0), 2);
    EXPECT_EQ(Lines(window_->Memo1).size(), 1u);
}

TEST_F(Win32WindowTest, TabOrder) {
    ASSERT_EQ(GetFocus(), window_->edtIp);
    const HWND forward[] = {window_->btnPing, window_->Memo1, window_->btnClear, window_->SpinEdit1,
                            window_->edtIp};
    for (HWND next : forward) {
        PressKey(GetFocus(), VK_TAB);
        EXPECT_EQ(GetFocus(), next);
    }
    // Shift+Tab goes back; a disabled button is passed over.
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_SHIFT] = 0x80;
    SetKeyboardState(keys);
    PressKey(GetFocus(), VK_TAB);
    EXPECT_EQ(GetFocus(), window_->SpinEdit1);
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
    SetFocus(window_->edtIp);
    EnableWindow(window_->btnPing, FALSE);
    PressKey(window_->edtIp, VK_TAB);
    EXPECT_EQ(GetFocus(), window_->Memo1);
    EnableWindow(window_->btnPing, TRUE);
}

// What the count field accepts as typed, starting from its whole text "10" selected.
TEST_F(Win32WindowTest, CountFieldTyping) {
    const std::u16string separator(1, DecimalSeparator());
    struct Case {
        std::u16string typed;
        std::u16string text;
        int refused;
    };
    const Case cases[] = {
        {u"7", u"7", 0},
        {u"25", u"25", 0},
        {u"+5", u"+5", 0},
        {u"-5", u"-5", 0},
        {u"1" + separator + u"5", u"1" + separator + u"5", 0},
        {u"\b", u"", 0},
        {u"a", u"10", 1},
        {u" ", u"10", 1},
        {u"1a2", u"12", 1},
        {u"五", u"10", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "typed " << (&c - cases));
        SetWindowTextW(window_->SpinEdit1, W(u"10"));
        SelectCount();
        const int before = window_->RefusedKeys();
        TypeChars(window_->SpinEdit1, c.typed);
        EXPECT_EQ(Text(window_->SpinEdit1), c.text);
        EXPECT_EQ(window_->RefusedKeys() - before, c.refused);
    }
    // Enter, through the keyboard's translation into a character, is refused too.
    SetWindowTextW(window_->SpinEdit1, W(u"10"));
    SelectCount();
    const int before = window_->RefusedKeys();
    PressKey(window_->SpinEdit1, VK_RETURN);
    EXPECT_EQ(Text(window_->SpinEdit1), u"10");
    EXPECT_EQ(window_->RefusedKeys() - before, 1);
}

// Typed values when the field loses focus, and the count the run reads from them.
TEST_F(Win32WindowTest, CountFieldCorrectionOnFocusLoss) {
    const std::u16string separator(1, DecimalSeparator());
    struct Case {
        std::u16string typed;
        std::u16string text;
        int count;
    };
    const Case cases[] = {
        {u"2000", u"1000", 1000},
        {u"5", u"10", 10},
        {u"-3", u"10", 10},
        {u"10", u"10", 10},
        {u"1000", u"1000", 1000},
        {u"500", u"500", 500},
        {u"\b", u"", 10},
        {u"+", u"+", 10},
        {u"1" + separator + u"5", u"1" + separator + u"5", 10},
        {u"+25", u"+25", 25},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "typed " << (&c - cases));
        SelectCount();
        TypeChars(window_->SpinEdit1, c.typed);
        SetFocus(window_->edtIp);
        Pump();
        EXPECT_EQ(Text(window_->SpinEdit1), c.text);
        EXPECT_EQ(window_->Count(), c.count);
    }
}

// The Up and Down keys and the two arrow buttons step by 1 within 10..1000.
TEST_F(Win32WindowTest, CountFieldSteps) {
    struct Case {
        const char16_t* start;
        UINT key;  // 0: a click on the arrows, upper half for up
        bool up;
        const char16_t* text;
    };
    const Case cases[] = {
        {u"999", VK_UP, true, u"1000"},    {u"1000", VK_UP, true, u"1000"},
        {u"1000", VK_DOWN, false, u"999"}, {u"10", VK_DOWN, false, u"10"},
        {u"11", VK_DOWN, false, u"10"},    {u"500", 0, true, u"501"},
        {u"500", 0, false, u"499"},        {u"1000", 0, true, u"1000"},
        {u"10", 0, false, u"10"},
    };
    const HWND arrows = window_->SpinEdit1Arrows;
    RECT rect{};
    GetClientRect(arrows, &rect);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "step " << (&c - cases));
        SetWindowTextW(window_->SpinEdit1, W(c.start));
        SendMessageW(arrows, UDM_SETPOS32, 0, _wtoi(W(c.start)));
        SelectCount();
        if (c.key != 0) {
            PressKey(window_->SpinEdit1, c.key);
        } else {
            const int y = c.up ? rect.bottom / 4 : rect.bottom * 3 / 4;
            PostMessageW(arrows, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(rect.right / 2, y));
            PostMessageW(arrows, WM_LBUTTONUP, 0, MAKELPARAM(rect.right / 2, y));
            Pump();
        }
        EXPECT_EQ(Text(window_->SpinEdit1), c.text);
        EXPECT_EQ(window_->Count(), _wtoi(W(c.text)));
    }
}

TEST_F(Win32WindowTest, RefusedHostShowsNothing) {
    for (const char16_t* host : {u"localhost", u"0.1.2.3", u"1.2.3"}) {
        SetWindowTextW(window_->edtIp, W(u""));
        TypeChars(window_->edtIp, host);
        EXPECT_EQ(Text(window_->edtIp), host);
        PressKey(window_->edtIp, VK_RETURN);
        EXPECT_EQ(Text(window_->Memo1), u"");
        EXPECT_TRUE(IsWindowEnabled(window_->btnPing));
    }
}

// Enter in the host field, with Alt held or not, runs count + 1 pings; the clear button
// empties the output.
TEST_F(Win32WindowTest, EnterPingsLoopback) {
    if (const int error = RawSocketError()) GTEST_SKIP() << kNoRawSockets << error;
    TypeChars(window_->edtIp, u"127.0.0.1");
    for (bool alt : {false, true}) {
        SCOPED_TRACE(alt ? "Alt+Enter" : "Enter");
        PressKey(window_->edtIp, VK_RETURN, alt);
        ASSERT_TRUE(
            PumpUntil([this] { return Lines(window_->Memo1).size() >= 11; }, kRunMilliseconds));
        ExpectElevenReplies();
        EXPECT_TRUE(IsWindowEnabled(window_->btnPing));
        ASSERT_TRUE(ClickMiddle(window_->btnClear));
        EXPECT_TRUE(PumpUntil([this] { return Text(window_->Memo1).empty(); }, 2000))
            << Utf8(Text(window_->Memo1));
    }
}

// A click on the enabled button runs the pings; a disabled one ignores clicks, while Enter,
// its click action, still runs.
TEST_F(Win32WindowTest, ButtonClicksAndEnterWhileDisabled) {
    if (const int error = RawSocketError()) GTEST_SKIP() << kNoRawSockets << error;
    TypeChars(window_->edtIp, u"127.0.0.1");
    ASSERT_TRUE(ClickMiddle(window_->btnPing));
    ASSERT_TRUE(PumpUntil([this] { return Lines(window_->Memo1).size() >= 11; }, kRunMilliseconds));
    ExpectElevenReplies();
    EXPECT_EQ(GetFocus(), window_->btnPing);  // back on the button it was taken from
    window_->ClearOutput();

    EnableWindow(window_->btnPing, FALSE);
    ASSERT_TRUE(ClickMiddle(window_->btnPing));
    EXPECT_EQ(Text(window_->Memo1), u"");
    PressKey(window_->edtIp, VK_RETURN);
    ASSERT_TRUE(PumpUntil([this] { return Lines(window_->Memo1).size() >= 11; }, kRunMilliseconds));
    ExpectElevenReplies();
    EXPECT_TRUE(IsWindowEnabled(window_->btnPing));  // the run enabled it again
}

// What a thread timer does once, from inside whichever loop dispatches it.
std::function<void()> g_later;

void CALLBACK LaterTimer(HWND /*window*/, UINT /*message*/, UINT_PTR id, DWORD /*time*/) {
    KillTimer(nullptr, id);
    const std::function<void()> action = std::move(g_later);
    g_later = nullptr;
    if (action) action();
}

UINT_PTR RunLater(UINT milliseconds, std::function<void()> action) {
    g_later = std::move(action);
    return SetTimer(nullptr, 0, milliseconds, &LaterTimer);
}

// Closing the window during a run ends the run at once.
TEST_F(Win32WindowTest, CloseDuringARun) {
    if (const int error = RawSocketError()) GTEST_SKIP() << kNoRawSockets << error;
    TypeChars(window_->edtIp, u"127.0.0.1");
    const HWND window = window_->Handle();
    const UINT_PTR timer = RunLater(250, [window] { PostMessageW(window, WM_CLOSE, 0, 0); });
    ASSERT_NE(timer, 0u);
    const ULONGLONG start = GetTickCount64();
    PressKey(window_->edtIp, VK_RETURN);  // the whole run happens inside
    const ULONGLONG elapsed = GetTickCount64() - start;
    KillTimer(nullptr, timer);
    g_later = nullptr;
    EXPECT_LT(elapsed, 1000u);  // a whole run takes 1100 ms of pauses alone
    const size_t lines = Lines(window_->Memo1).size();
    EXPECT_GE(lines, 1u);
    EXPECT_LT(lines, 11u);
    EXPECT_FALSE(IsWindowVisible(window_->Handle()));
    EXPECT_TRUE(window_->Form().Closing());
    EXPECT_TRUE(IsWindowEnabled(window_->btnPing));
}

// Enter during a run starts an inner run, since the click action does not test for one;
// the outer run goes on after it with the button enabled.
TEST_F(Win32WindowTest, EnterDuringARunStartsAnInnerRun) {
    if (const int error = RawSocketError()) GTEST_SKIP() << kNoRawSockets << error;
    TypeChars(window_->edtIp, u"127.0.0.1");
    const HWND host = window_->edtIp;
    bool disabledInside = false;
    const UINT_PTR timer = RunLater(250, [&, host] {
        disabledInside = !IsWindowEnabled(window_->btnPing);
        PostMessageW(host, WM_KEYDOWN, VK_RETURN, KeyData(VK_RETURN, false, false));
        PostMessageW(host, WM_KEYUP, VK_RETURN, KeyData(VK_RETURN, true, false));
    });
    ASSERT_NE(timer, 0u);
    PressKey(window_->edtIp, VK_RETURN);  // both runs happen inside
    KillTimer(nullptr, timer);
    g_later = nullptr;
    EXPECT_TRUE(disabledInside);
    const std::vector<std::u16string> lines = Lines(window_->Memo1);
    EXPECT_EQ(lines.size(), 22u) << Utf8(Text(window_->Memo1));
    for (const std::u16string& line : lines) {
        EXPECT_EQ(line.rfind(u"127.0.0.1 : OK \uFF0Ctime=", 0), 0u) << Utf8(line);
    }
    EXPECT_TRUE(IsWindowEnabled(window_->btnPing));
}

TEST_F(Win32WindowTest, StartHostGoesIntoTheField) {
    app::StartHost = u"10.9.8.7";
    auto window = std::make_unique<app::MainWindow>();
    ASSERT_NE(window->Handle(), nullptr);
    window->CreateForm();
    window->Show();
    Pump();
    EXPECT_EQ(Text(window->edtIp), u"10.9.8.7");
    EXPECT_EQ(Text(window->Memo1), u"");  // shown, not pinged
    app::StartHost.clear();
}

// The manifest the program carries selects Common Controls 6, from the side-by-side store.
TEST(Win32Resources, CommonControlsSix) {
    const HMODULE controls = LoadLibraryW(W(u"comctl32.dll"));
    ASSERT_NE(controls, nullptr);
    char16_t path[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(controls, W(path), MAX_PATH), 0u);
    std::u16string lower(path);
    for (char16_t& c : lower) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
    EXPECT_NE(lower.find(u"common-controls_6595b64144ccf1df_6."), std::u16string::npos)
        << Utf8(path);
    FreeLibrary(controls);
}

// The version record the program carries.
TEST(Win32Resources, VersionRecord) {
    char16_t path[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, W(path), MAX_PATH), 0u);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(W(path), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> record(size);
    ASSERT_TRUE(GetFileVersionInfoW(W(path), 0, size, record.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(record.data(), W(u"\\"), reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    struct Case {
        const char16_t* name;
        const char16_t* value;
    };
    const Case cases[] = {
        {u"ProductName", u"Corvane Ping"},
        {u"FileVersion", u"1.0.0.0"},
        {u"FileDescription", u"Corvane Ping: ICMP echo tool"},
    };
    for (const Case& c : cases) {
        char16_t* value = nullptr;
        const std::u16string query = std::u16string(u"\\StringFileInfo\\040904B0\\") + c.name;
        ASSERT_TRUE(VerQueryValueW(record.data(), W(query.c_str()),
                                   reinterpret_cast<void**>(&value), &length))
            << Utf8(c.name);
        EXPECT_EQ(std::u16string(value), c.value);
    }
}

}  // namespace
