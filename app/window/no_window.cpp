// Builds without a GUI toolkit have no window; the tool then runs in the console.
#include "app/window/window.h"

namespace app {

bool WindowAvailable() {
    return false;
}

int RunWindow(int, char**, const std::string&) {
    return 1;
}

}  // namespace app
