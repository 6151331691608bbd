// The count field's text as the window logic reads it, the same in every window and in
// the console.
#pragma once

#include <cstdint>
#include <string>

namespace app {

// The integer in the text (blanks, then an optional sign, then digits only), or the
// minimum when the text is not an integer: "15." counts as the minimum.
int32_t CountFieldValue(const std::u16string& text);

}  // namespace app
