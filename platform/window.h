// Per-thread message queues and message-only windows, with the semantics of the Windows
// window and message functions of the same names. Every thread has one queue; a window
// belongs to the thread that created it, and messages posted to it go to that queue.
#pragma once

#include <cstdint>

#include "platform/export.h"

namespace plat {

struct WindowObject;
using HWND = WindowObject*;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using WNDPROC = LRESULT (*)(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam);

inline constexpr uint32_t WM_CLOSE = 0x0010;
inline constexpr uint32_t WM_QUIT = 0x0012;
inline constexpr uint32_t WM_USER = 0x0400;
inline constexpr uint32_t PM_NOREMOVE = 0;
inline constexpr uint32_t PM_REMOVE = 1;
inline constexpr uint32_t QS_ALLINPUT = 0x04FF;
inline constexpr uint32_t CS_GLOBALCLASS = 0x4000;
inline constexpr uint32_t WAIT_OBJECT_0 = 0;
inline constexpr uint32_t WAIT_TIMEOUT = 258;
inline constexpr uint32_t WAIT_FAILED = 0xFFFFFFFF;
inline constexpr uint32_t INFINITE = 0xFFFFFFFF;

// The parent that makes a window message-only.
PLAT_API HWND MessageOnlyParent();

struct WNDCLASSA {
    uint32_t style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    void* hInstance;
    void* hIcon;
    void* hCursor;
    void* hbrBackground;
    const char* lpszMenuName;
    const char* lpszClassName;
};

struct MSG {
    HWND hwnd;
    uint32_t message;
    WPARAM wParam;
    LPARAM lParam;
    uint32_t time;
};

// 0 when the class cannot be registered (for example because it exists already).
PLAT_API uint16_t RegisterClassA(const WNDCLASSA* windowClass);
PLAT_API bool UnregisterClassA(const char* className, void* instance);

// Null when the class is unknown or memory is exhausted.
PLAT_API HWND CreateWindowExA(uint32_t exStyle, const char* className, const char* title,
                              uint32_t style, int x, int y, int width, int height, HWND parent,
                              void* menu, void* instance, void* param);
// Only the creating thread may destroy a window. Messages still queued for it are dropped
// and its socket notifications end. No WM_CREATE or WM_DESTROY reaches the procedure. A
// thread's windows are destroyed when it exits; handles are never reused.
PLAT_API bool DestroyWindow(HWND window);
PLAT_API bool IsWindow(HWND window);
// Offsets into the window's extra bytes; 0 for a bad window or offset.
PLAT_API intptr_t SetWindowLongPtrA(HWND window, int offset, intptr_t value);
PLAT_API intptr_t GetWindowLongPtrA(HWND window, int offset);
PLAT_API LRESULT DefWindowProcA(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam);

// Posts to the queue of the window's thread (null window: the calling thread's queue).
// false for a dead window, or when the queue already holds 10000 messages.
PLAT_API bool PostMessageA(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam);
PLAT_API void PostQuitMessage(int exitCode);

// Takes (PM_REMOVE) or looks at the oldest message of the calling thread's queue, for the
// given window only when filter is not null (-1: only messages without a window); min and
// max 0 take every message number. Socket notifications due are posted first, and when
// nothing matches an unfiltered peek, a joined GUI toolkit gets to process its pending
// input (nested up to kMaxGuiNesting calls deep). WM_QUIT is a flag, returned once nothing
// else matches, and only to a filter of null or -1.
PLAT_API bool PeekMessageA(MSG* msg, HWND filter, uint32_t min, uint32_t max, uint32_t remove);
// Blocks until a message arrives; 0 for WM_QUIT, -1 on failure.
PLAT_API int GetMessageA(MSG* msg, HWND filter, uint32_t min, uint32_t max);
PLAT_API bool TranslateMessage(const MSG* msg);
PLAT_API LRESULT DispatchMessageA(const MSG* msg);
// Calls the window procedure at once, on the calling thread.
PLAT_API LRESULT SendMessageA(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam);

// Sleeps up to millis (INFINITE: no limit) and returns WAIT_OBJECT_0 + count as soon as
// input arrives for the calling thread: a posted message, a registered socket with a
// notification due, or input of a joined GUI toolkit. WAIT_TIMEOUT otherwise. Never
// spins. Only count 0 (no handles) is supported. As on Windows, messages that were
// already queued when a PeekMessageA last found nothing matching do not end the wait;
// anything posted later does.
PLAT_API uint32_t MsgWaitForMultipleObjects(uint32_t count, const void* const* handles,
                                            bool waitAll, uint32_t millis, uint32_t wakeMask);

// How a GUI toolkit joins the calling thread's queue. Its descriptor wakes the waits of
// the queue; processPending lets it handle its input during a pump pass. In the other
// direction, the toolkit watches QueueWakeDescriptor() in its own main loop and, when
// that is readable, drains the queue with PeekMessageA and DispatchMessageA.
inline constexpr int kMaxGuiNesting = 32;
struct GuiSource {
    int descriptor;
    void (*processPending)(void* context);
    void* context;
};
PLAT_API void JoinGuiSource(const GuiSource* source);  // null leaves
PLAT_API int QueueWakeDescriptor();

}  // namespace plat
