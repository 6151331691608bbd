// The hidden message-only window each object owns: socket notifications are posted to it
// and the pump's waits dispatch them to the object.
#pragma once

#include "platform/window.h"

namespace corvane {

class SocketCore;

plat::LRESULT SocketWindowProc(plat::HWND window, uint32_t message, plat::WPARAM wParam,
                               plat::LPARAM lParam);

// Null when the window cannot be created.
plat::HWND CreateSocketWindow(SocketCore* owner);
void DestroySocketWindow(plat::HWND window);

}  // namespace corvane
