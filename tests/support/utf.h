// UTF-8 and UTF-16 for the tests, written independently of the code under test.
#pragma once

#include <string>

namespace test {

std::u16string U16(const char* utf8);
std::string Utf8(const char16_t* text);  // null reads as empty

}  // namespace test
