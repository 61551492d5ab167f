// The one-line text form of a colour scheme, as exchanged through the
// clipboard and taken by corvanta-convert --scheme:
//   !dd 0xff000000,0x00000000,...,0xffffffff   (nine items, 102 characters)
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "scheme/color_scheme.h"

namespace corvanta {

constexpr std::string_view kSchemeTextPrefix = "!dd ";
constexpr std::size_t kSchemeTextLength = 102;  // prefix, nine "0x" + 8 digits, eight commas

// Reads a scheme out of any text that holds exactly nine "0x" (lower-case x,
// counted from the left without overlap). Slot k takes the hexadecimal digits
// (either case) at the start of the eight characters behind the (k+1)-th
// "0x", stopping at the next "0x"; no digits there gives 0. Anything but
// nine items gives nothing. Runs in one pass over the text.
std::optional<ColorScheme> ParseSchemeText(std::string_view text);

// "!dd " and the nine slots as "0x" + eight lower-case digits, comma-separated.
std::string FormatSchemeText(const ColorScheme& scheme);

}  // namespace corvanta
