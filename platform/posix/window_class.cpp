// Window classes and message-only windows. A window handle is a number from a counter that
// never repeats, looked up in a table: a stale handle finds nothing instead of freed memory.
#include <cstring>
#include <new>

#include "platform/last_error.h"
#include "platform/posix/queue_state.h"
#include "platform/window.h"

namespace plat {

namespace {

using posix::FindWindowLocked;
using posix::GetState;
using posix::State;
using posix::Window;
using posix::WindowClass;

constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorInvalidWindowHandle = 1400;
constexpr uint32_t kErrorCannotFindWndClass = 1407;
constexpr uint32_t kErrorClassAlreadyExists = 1410;
constexpr uint32_t kErrorClassDoesNotExist = 1411;
constexpr uint32_t kErrorClassHasWindows = 1412;
constexpr uint32_t kErrorInvalidIndex = 1413;

constexpr int kMaxExtraBytes = 1 << 16;
constexpr uint16_t kFirstAtom = 0xC000;

// Class names compare like the ANSI Windows calls: ASCII letters without case.
std::string FoldName(const char* name) {
    std::string folded(name);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return folded;
}

// A name pointer below 0x10000 is an atom (MAKEINTATOM), as on Windows.
bool IsAtomName(const char* name) {
    return reinterpret_cast<uintptr_t>(name) < 0x10000;
}

WindowClass* FindClassLocked(State& state, const char* name) {
    if (IsAtomName(name)) {
        const auto atom = static_cast<uint16_t>(reinterpret_cast<uintptr_t>(name));
        for (auto& c : state.classes) {
            if (atom != 0 && c->atom == atom) return c.get();
        }
        return nullptr;
    }
    const std::string folded = FoldName(name);
    for (auto& c : state.classes) {
        if (c->foldedName == folded) return c.get();
    }
    return nullptr;
}

uint16_t AllocateAtomLocked(State& state) {
    for (uint32_t tries = 0; tries < 0x4000; ++tries) {
        const uint16_t atom = state.nextAtom;
        state.nextAtom = atom == 0xFFFF ? kFirstAtom : static_cast<uint16_t>(atom + 1);
        bool used = false;
        for (auto& c : state.classes)
            used = used || c->atom == atom;
        if (!used) return atom;
    }
    return 0;
}

// Reads or writes a pointer-sized value; false when it does not fit the extra bytes.
bool ExtraSlotFits(const Window* window, int offset) {
    return offset >= 0 && static_cast<int64_t>(offset) + static_cast<int64_t>(sizeof(intptr_t)) <=
                              window->extraBytes;
}

WNDPROC ProcOf(HWND window) {
    State& state = GetState();
    std::lock_guard lock(state.mutex);
    Window* w = FindWindowLocked(window);
    return w != nullptr ? w->proc : nullptr;
}

}  // namespace

namespace posix {

Window* FindWindowLocked(HWND window) {
    if (window == nullptr) return nullptr;
    State& state = GetState();
    auto it = state.windows.find(reinterpret_cast<uintptr_t>(window));
    return it != state.windows.end() ? it->second.get() : nullptr;
}

void DestroyWindowLocked(Window* window) {
    State& state = GetState();
    const HWND handle = reinterpret_cast<HWND>(window->handle);
    Queue* queue = window->queue;
    std::erase_if(queue->messages, [handle](const MSG& m) { return m.hwnd == handle; });
    SyncSignalsLocked(queue);
    ForgetWindowSocketsLocked(handle);
    window->windowClass->liveWindows -= 1;
    const uintptr_t key = window->handle;
    state.windows.erase(key);  // frees window
}

}  // namespace posix

HWND MessageOnlyParent() {
    return reinterpret_cast<HWND>(static_cast<intptr_t>(-3));
}

uint16_t RegisterClassA(const WNDCLASSA* windowClass) {
    if (windowClass == nullptr || windowClass->lpszClassName == nullptr ||
        IsAtomName(windowClass->lpszClassName) || windowClass->lpfnWndProc == nullptr ||
        windowClass->cbWndExtra < 0 || windowClass->cbWndExtra > kMaxExtraBytes) {
        SetLastError(kErrorInvalidParameter);
        return 0;
    }
    State& state = GetState();
    std::lock_guard lock(state.mutex);
    if (FindClassLocked(state, windowClass->lpszClassName) != nullptr) {
        SetLastError(kErrorClassAlreadyExists);
        return 0;
    }
    const uint16_t atom = AllocateAtomLocked(state);
    std::unique_ptr<WindowClass> entry(new (std::nothrow) WindowClass);
    if (atom == 0 || entry == nullptr) {
        SetLastError(kErrorNotEnoughMemory);
        return 0;
    }
    entry->foldedName = FoldName(windowClass->lpszClassName);
    entry->atom = atom;
    entry->proc = windowClass->lpfnWndProc;
    entry->extraBytes = windowClass->cbWndExtra;
    entry->instance = windowClass->hInstance;
    state.classes.push_back(std::move(entry));
    return atom;
}

bool UnregisterClassA(const char* className, void* instance) {
    if (className == nullptr) {
        SetLastError(kErrorClassDoesNotExist);
        return false;
    }
    State& state = GetState();
    std::lock_guard lock(state.mutex);
    WindowClass* found = FindClassLocked(state, className);
    if (found == nullptr || found->instance != instance) {
        SetLastError(kErrorClassDoesNotExist);
        return false;
    }
    if (found->liveWindows > 0) {
        SetLastError(kErrorClassHasWindows);
        return false;
    }
    std::erase_if(state.classes, [found](const auto& c) { return c.get() == found; });
    return true;
}

HWND CreateWindowExA(uint32_t, const char* className, const char*, uint32_t, int, int, int, int,
                     HWND parent, void*, void*, void*) {
    if (className == nullptr) {
        SetLastError(kErrorCannotFindWndClass);
        return nullptr;
    }
    // The queue first: the window must have a thread to post to.
    posix::Queue* queue = posix::CurrentQueue();
    if (queue == nullptr) {
        SetLastError(kErrorNotEnoughMemory);
        return nullptr;
    }
    State& state = GetState();
    std::lock_guard lock(state.mutex);
    if (parent != nullptr && parent != MessageOnlyParent() && FindWindowLocked(parent) == nullptr) {
        SetLastError(kErrorInvalidWindowHandle);
        return nullptr;
    }
    WindowClass* windowClass = FindClassLocked(state, className);
    if (windowClass == nullptr) {
        SetLastError(kErrorCannotFindWndClass);
        return nullptr;
    }
    std::unique_ptr<Window> window(new (std::nothrow) Window);
    if (window == nullptr) {
        SetLastError(kErrorNotEnoughMemory);
        return nullptr;
    }
    if (windowClass->extraBytes > 0) {
        window->extra.reset(new (std::nothrow) uint8_t[windowClass->extraBytes]());
        if (window->extra == nullptr) {
            SetLastError(kErrorNotEnoughMemory);
            return nullptr;
        }
    }
    window->extraBytes = windowClass->extraBytes;
    window->handle = state.nextHandle;
    state.nextHandle += 0x10;  // a 64-bit counter: no handle comes back
    window->queue = queue;
    window->windowClass = windowClass;
    window->proc = windowClass->proc;
    windowClass->liveWindows += 1;
    const HWND handle = reinterpret_cast<HWND>(window->handle);
    state.windows.emplace(window->handle, std::move(window));
    return handle;
}

bool DestroyWindow(HWND window) {
    State& state = GetState();
    std::lock_guard lock(state.mutex);
    Window* w = FindWindowLocked(window);
    if (w == nullptr) {
        SetLastError(kErrorInvalidWindowHandle);
        return false;
    }
    if (w->queue != posix::ExistingQueue()) {
        SetLastError(kErrorAccessDenied);
        return false;
    }
    posix::DestroyWindowLocked(w);
    return true;
}

bool IsWindow(HWND window) {
    State& state = GetState();
    std::lock_guard lock(state.mutex);
    return FindWindowLocked(window) != nullptr;
}

namespace {

// The pointer-sized slot at offset in a window's extra bytes, or null (last error set).
// Called with the state's mutex held.
uint8_t* ExtraSlotLocked(HWND window, int offset) {
    Window* w = FindWindowLocked(window);
    if (w == nullptr) {
        SetLastError(kErrorInvalidWindowHandle);
        return nullptr;
    }
    if (!ExtraSlotFits(w, offset)) {
        SetLastError(kErrorInvalidIndex);
        return nullptr;
    }
    return w->extra.get() + offset;
}

}  // namespace

intptr_t SetWindowLongPtrA(HWND window, int offset, intptr_t value) {
    State& state = GetState();
    std::lock_guard lock(state.mutex);
    uint8_t* slot = ExtraSlotLocked(window, offset);
    if (slot == nullptr) return 0;
    intptr_t previous = 0;
    std::memcpy(&previous, slot, sizeof previous);
    std::memcpy(slot, &value, sizeof value);
    return previous;
}

intptr_t GetWindowLongPtrA(HWND window, int offset) {
    State& state = GetState();
    std::lock_guard lock(state.mutex);
    const uint8_t* slot = ExtraSlotLocked(window, offset);
    if (slot == nullptr) return 0;
    intptr_t value = 0;
    std::memcpy(&value, slot, sizeof value);
    return value;
}

LRESULT DefWindowProcA(HWND window, uint32_t message, WPARAM, LPARAM) {
    if (message == WM_CLOSE) DestroyWindow(window);
    return 0;
}

bool TranslateMessage(const MSG*) {
    return false;  // no keyboard input reaches these windows
}

LRESULT DispatchMessageA(const MSG* msg) {
    if (msg == nullptr || msg->hwnd == nullptr) return 0;
    const WNDPROC proc = ProcOf(msg->hwnd);
    if (proc == nullptr) return 0;  // destroyed since it was posted
    return proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

LRESULT SendMessageA(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam) {
    const WNDPROC proc = ProcOf(window);
    if (proc == nullptr) {
        SetLastError(kErrorInvalidWindowHandle);
        return 0;
    }
    return proc(window, message, wParam, lParam);
}

}  // namespace plat
