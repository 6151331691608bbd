// The Windows window and message functions themselves. The neutral MSG lacks the cursor
// position; nothing above the platform reads it.
#include "platform/window.h"

#include "platform/win32/windows_headers.h"

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

// The toolkit of this thread that wants its input handled during pump passes (the
// console's interrupt watch); Win32 controls need none, their input is in the queue.
thread_local GuiSource t_guiSource{-1, nullptr, nullptr};

}  // namespace

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
    if (!::PeekMessageA(&native, Native(filter), min, max, remove)) {
        if (t_guiSource.processPending == nullptr) return false;
        t_guiSource.processPending(t_guiSource.context);
        if (!::PeekMessageA(&native, Native(filter), min, max, remove)) return false;
    }
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
    t_guiSource = source != nullptr ? *source : GuiSource{-1, nullptr, nullptr};
}

// The Win32 message loop dispatches the queue itself; there is nothing to watch.
int QueueWakeDescriptor() {
    return -1;
}

}  // namespace plat

// Outside the namespace, where the macro's HWND is the system's.
plat::HWND plat::MessageOnlyParent() {
    return reinterpret_cast<plat::HWND>(HWND_MESSAGE);
}
