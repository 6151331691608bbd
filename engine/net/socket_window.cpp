#include "engine/net/socket_window.h"

#include "engine/net/socket_core.h"
#include "engine/net/socket_runtime.h"

namespace corvane {

plat::LRESULT SocketWindowProc(plat::HWND window, uint32_t message, plat::WPARAM wParam,
                               plat::LPARAM lParam) {
    auto* owner = reinterpret_cast<SocketCore*>(plat::GetWindowLongPtrA(window, 0));
    if (owner != nullptr && owner->WindowHandle() == window && !owner->Destroyed()) {
        // The message's handlers may destroy the object: it stays until this returns.
        const SocketCore::Call call(owner);
        return owner->OnWindowMessage(message, wParam, lParam);
    }
    return plat::DefWindowProcA(window, message, wParam, lParam);
}

plat::HWND CreateSocketWindow(SocketCore* owner) {
    plat::HWND window =
        plat::CreateWindowExA(0, kSocketWindowClass, "", 0, 0, 0, 0, 0, plat::MessageOnlyParent(),
                              nullptr, Runtime().module, nullptr);
    if (window != nullptr) plat::SetWindowLongPtrA(window, 0, reinterpret_cast<intptr_t>(owner));
    return window;
}

void DestroySocketWindow(plat::HWND window) {
    if (window == nullptr) return;
    // The procedure must no longer find the object once its destruction has begun.
    plat::SetWindowLongPtrA(window, 0, 0);
    plat::DestroyWindow(window);
}

}  // namespace corvane
