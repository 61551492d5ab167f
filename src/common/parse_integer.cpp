#include "common/parse_integer.h"

#include <algorithm>
#include <limits>

#include <limits>

namespace corvanta {
namespace {

int DigitValue(char c, int base) {
    int value = -1;
    if (c >= '0' && c <= '9') {
        value = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        value = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        value = c - 'A' + 10;
    }
    return value < base ? value : -1;
}

}  // namespace

std::int64_t ParseInteger(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i < text.size() && text[i] == '%') {
        base = 2;
        ++i;
    }

    // The magnitude is gathered unsigned and capped at 2^63, the largest
    // magnitude any int64_t can express (as a negative number).
    constexpr std::uint64_t kCap = std::uint64_t{1} << 63;
    std::uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const int digit = DigitValue(text[i], base);
        if (digit < 0) {
            break;
        }
        if (magnitude >
            (kCap - static_cast<std::uint64_t>(digit)) / static_cast<std::uint64_t>(base)) {
            magnitude = kCap;
        } else {
            magnitude =
                magnitude * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
        }
    }

    if (negative) {
        return magnitude >= kCap ? std::numeric_limits<std::int64_t>::min()
                                 : -static_cast<std::int64_t>(magnitude);
    }
    return magnitude >= kCap ? std::numeric_limits<std::int64_t>::max()
                             : static_cast<std::int64_t>(magnitude);
}

std::int32_t ParseInteger32(std::string_view text) {
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(ParseInteger(text), std::numeric_limits<std::int32_t>::min(),
                                 std::numeric_limits<std::int32_t>::max()));
}

}  // namespace corvanta
