// Reading numbers typed into the window's text fields.
#pragma once

#include <cstdint>
#include <string_view>

namespace corvanta {

// Reads a signed integer the way every numeric field of the program does:
// leading blanks and tabs are skipped, then an optional "+" or "-", then
// "$" and hexadecimal digits, "%" and binary digits, or decimal digits.
// Reading stops at the first other character; text without digits gives 0.
// Values beyond the 64-bit range saturate at INT64_MIN / INT64_MAX, so a
// long run of digits never overflows; callers clamp to their own ranges.
std::int64_t ParseInteger(std::string_view text);

// ParseInteger clamped into the signed 32-bit range: what a size field or a
// number of the preset store holds, so that "$FFFFFFFFF" cannot wrap into a
// small limit.
std::int32_t ParseInteger32(std::string_view text);

}  // namespace corvanta
