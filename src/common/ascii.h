// ASCII case for names and extensions: the locale plays no part.
#pragma once

#include <string>
#include <string_view>

namespace corvanta {

char AsciiLower(char c);
std::string AsciiLowered(std::string_view text);
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

}  // namespace corvanta
