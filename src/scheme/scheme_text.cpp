#include "scheme/scheme_text.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace corvanta {
namespace {

constexpr std::string_view kItemMarker = "0x";
constexpr std::size_t kItemDigits = 8;

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

std::optional<ColorScheme> ParseSchemeText(std::string_view text) {
    // Where each item's field begins (just behind its "0x"). A tenth marker
    // already decides the answer, so the scan stops there.
    std::array<std::size_t, kSchemeSlots + 1> fieldStart{};
    std::size_t markers = 0;
    std::size_t pos = text.find(kItemMarker);
    while (pos != std::string_view::npos) {
        fieldStart[markers] = pos + kItemMarker.size();
        if (++markers > static_cast<std::size_t>(kSchemeSlots)) {
            return std::nullopt;
        }
        pos = text.find(kItemMarker, pos + kItemMarker.size());
    }
    if (markers != static_cast<std::size_t>(kSchemeSlots)) {
        return std::nullopt;
    }

    ColorScheme scheme{};
    for (std::size_t k = 0; k < markers; ++k) {
        // A field runs up to the next marker, so the digits read never
        // reach into the following item.
        const std::size_t fieldEnd =
            k + 1 < markers ? fieldStart[k + 1] - kItemMarker.size() : text.size();
        const std::size_t end = std::min(fieldEnd, fieldStart[k] + kItemDigits);
        std::uint32_t value = 0;
        for (std::size_t i = fieldStart[k]; i < end; ++i) {
            const int digit = HexDigitValue(text[i]);
            if (digit < 0) {
                break;
            }
            value = (value << 4) | static_cast<std::uint32_t>(digit);
        }
        scheme[k] = value;
    }
    return scheme;
}

std::string FormatSchemeText(const ColorScheme& scheme) {
    constexpr std::string_view kDigits = "0123456789abcdef";
    std::string text;
    text.reserve(kSchemeTextLength);
    text.append(kSchemeTextPrefix);
    for (int k = 0; k < kSchemeSlots; ++k) {
        if (k > 0) {
            text.push_back(',');
        }
        text.append(kItemMarker);
        const std::uint32_t value = scheme[static_cast<std::size_t>(k)];
        for (int shift = 28; shift >= 0; shift -= 4) {
            text.push_back(kDigits[(value >> shift) & 0xFu]);
        }
    }
    return text;
}

}  // namespace corvanta
