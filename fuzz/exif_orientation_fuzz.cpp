// The EXIF walk follows offsets and lengths taken straight from the file.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "codecs/exif_orientation.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A private copy of exactly size bytes, so any read past the end is caught.
    const std::vector<std::uint8_t> copy(data, data + size);
    const unsigned orientation = corvanta::ReadExifOrientation(copy.data(), copy.size());
    if (orientation > 0xFFFF) {
        __builtin_trap();
    }
    return 0;
}
