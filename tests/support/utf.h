// UTF-8 and UTF-16 for the tests, written independently of the code under test.
#pragma once

#include <cstdint>
#include <string>

namespace test {

std::u16string U16(const char* utf8);
std::string Utf8(const char16_t* text);  // null reads as empty

// A text of the Latin-1 range in the bytes of codePage: UTF-8 (65001) or one of the
// single-byte pages 1252 and 28591. Empty for other code pages.
std::string InCodePage(const char* utf8, uint32_t codePage);

}  // namespace test
