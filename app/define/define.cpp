#include "app/define/define.h"

namespace app {

std::u16string StartHost;

}  // namespace app
