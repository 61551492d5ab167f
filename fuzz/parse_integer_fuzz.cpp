// ParseInteger takes whatever the user types or pastes into a number field.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/parse_integer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::int64_t value = corvanta::ParseInteger(text);
    // Reading a prefix never yields more than the whole: a longer text of the
    // same digits can only saturate further, never wrap around.
    if (size > 0) {
        const std::int64_t shorter = corvanta::ParseInteger(text.substr(0, size - 1));
        if ((shorter > 0 && value < shorter) || (shorter < 0 && value > shorter)) {
            __builtin_trap();
        }
    }
    return 0;
}
