// Scheme text comes from the clipboard or the command line: any bytes at all.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "scheme/scheme_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto scheme = corvanta::ParseSchemeText(text);
    if (scheme) {
        // Whatever was accepted must come back unchanged through its own line.
        const auto again = corvanta::ParseSchemeText(corvanta::FormatSchemeText(*scheme));
        if (!again || *again != *scheme) {
            __builtin_trap();
        }
    }
    return 0;
}
