// The Windows window and message functions themselves. The neutral MSG lacks the cursor
// position; nothing above the platform reads it.
#include "platform/window.h"

#include <atomic>

#include "platform/win32/gui_source.h"
#include "platform/win32/windows_headers.h"

// Named outside the namespace, where the macro's HWND is the system's.
static const ::HWND kMessageOnlyParent = HWND_MESSAGE;

namespace plat {

static_assert(sizeof(plat::WNDCLASSA) == sizeof(::WNDCLASSA));
static_assert(offsetof(plat::WNDCLASSA, lpszClassName) == offsetof(::WNDCLASSA, lpszClassName));

namespace {

::HWND Native(HWND window) {
    return reinterpret_cast<::HWND>(window);
}

HWND Neutral(::HWND window) {
    return reinterpret_cast<HWND>(window);
}

// The filter -1 of the neutral interface is the Windows one as well.
void ToNeutral(const ::MSG& native, MSG* msg) {
    msg->hwnd = Neutral(native.hwnd);
    msg->message = native.message;
    msg->wParam = native.wParam;
    msg->lParam = native.lParam;
    msg->time = native.time;
}

::MSG ToNative(const MSG& msg) {
    ::MSG native{};
    native.hwnd = Native(msg.hwnd);
    native.message = msg.message;
    native.wParam = msg.wParam;
    native.lParam = msg.lParam;
    native.time = msg.time;
    return native;
}

// The toolkit that wants its input handled during pump passes (the console's interrupt
// watch; Win32 controls need none, their input is in the queue), and the window through
// which its input reaches the thread that joined it.
constexpr uint32_t kGuiInputMessage = WM_APP + 0x1C7;
constexpr wchar_t kGuiSourceClass[] = L"__corvane_gui_source__";
GuiSource g_guiSource{-1, nullptr, nullptr};
std::atomic<::HWND> g_guiWindow{nullptr};

LRESULT CALLBACK GuiSourceProc(::HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kGuiInputMessage) return ::DefWindowProcW(window, message, wParam, lParam);
    if (g_guiSource.processPending != nullptr) g_guiSource.processPending(g_guiSource.context);
    return 0;
}

void LeaveGuiSource() {
    ::HWND window = g_guiWindow.exchange(nullptr);
    if (window != nullptr) ::DestroyWindow(window);
    g_guiSource = GuiSource{-1, nullptr, nullptr};
}

}  // namespace

HWND MessageOnlyParent() {
    return Neutral(kMessageOnlyParent);
}

uint16_t RegisterClassA(const WNDCLASSA* windowClass) {
    return ::RegisterClassA(reinterpret_cast<const ::WNDCLASSA*>(windowClass));
}

bool UnregisterClassA(const char* className, void* instance) {
    return ::UnregisterClassA(className, static_cast<HINSTANCE>(instance)) != FALSE;
}

HWND CreateWindowExA(uint32_t exStyle, const char* className, const char* title, uint32_t style,
                     int x, int y, int width, int height, HWND parent, void* menu, void* instance,
                     void* param) {
    return Neutral(::CreateWindowExA(exStyle, className, title, style, x, y, width, height,
                                     Native(parent), static_cast<HMENU>(menu),
                                     static_cast<HINSTANCE>(instance), param));
}

bool DestroyWindow(HWND window) {
    return ::DestroyWindow(Native(window)) != FALSE;
}

bool IsWindow(HWND window) {
    return ::IsWindow(Native(window)) != FALSE;
}

intptr_t SetWindowLongPtrA(HWND window, int offset, intptr_t value) {
    return ::SetWindowLongPtrA(Native(window), offset, value);
}

intptr_t GetWindowLongPtrA(HWND window, int offset) {
    return ::GetWindowLongPtrA(Native(window), offset);
}

LRESULT DefWindowProcA(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam) {
    return ::DefWindowProcA(Native(window), message, wParam, lParam);
}

bool PostMessageA(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam) {
    return ::PostMessageA(Native(window), message, wParam, lParam) != FALSE;
}

void PostQuitMessage(int exitCode) {
    ::PostQuitMessage(exitCode);
}

bool PeekMessageA(MSG* msg, HWND filter, uint32_t min, uint32_t max, uint32_t remove) {
    ::MSG native{};
    if (!::PeekMessageA(&native, Native(filter), min, max, remove)) return false;
    if (msg != nullptr) ToNeutral(native, msg);
    return true;
}

int GetMessageA(MSG* msg, HWND filter, uint32_t min, uint32_t max) {
    ::MSG native{};
    const int rc = ::GetMessageA(&native, Native(filter), min, max);
    if (rc != -1 && msg != nullptr) ToNeutral(native, msg);
    return rc;
}

bool TranslateMessage(const MSG* msg) {
    if (msg == nullptr) return false;
    const ::MSG native = ToNative(*msg);
    return ::TranslateMessage(&native) != FALSE;
}

LRESULT DispatchMessageA(const MSG* msg) {
    if (msg == nullptr) return 0;
    const ::MSG native = ToNative(*msg);
    return ::DispatchMessageA(&native);
}

LRESULT SendMessageA(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam) {
    return ::SendMessageA(Native(window), message, wParam, lParam);
}

uint32_t MsgWaitForMultipleObjects(uint32_t count, const void* const* handles, bool waitAll,
                                   uint32_t millis, uint32_t wakeMask) {
    return ::MsgWaitForMultipleObjects(count, const_cast<HANDLE*>(handles), waitAll ? TRUE : FALSE,
                                       millis, wakeMask);
}

void JoinGuiSource(const GuiSource* source) {
    LeaveGuiSource();
    if (source == nullptr) return;
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &GuiSourceProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kGuiSourceClass;
    ::RegisterClassW(&windowClass);  // a class registered before stays in use
    g_guiSource = *source;
    g_guiWindow.store(::CreateWindowExW(0, kGuiSourceClass, L"", 0, 0, 0, 0, 0, kMessageOnlyParent,
                                        nullptr, instance, nullptr));
}

// The Win32 message loop dispatches the queue itself; there is nothing to watch.
int QueueWakeDescriptor() {
    return -1;
}

void win32::PostGuiInput() {
    ::HWND window = g_guiWindow.load();
    if (window != nullptr) ::PostMessageW(window, kGuiInputMessage, 0, 0);
}

}  // namespace plat
