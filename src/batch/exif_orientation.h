// Finding the EXIF orientation of a JPEG file held in memory.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvanta {

// The 16-bit value of the Orientation tag (0x0112) in the first APP1 segment
// of the JPEG, or 0 when there is none or the data is malformed. Never reads
// outside data[0 .. length).
unsigned ReadExifOrientation(const std::uint8_t* data, std::size_t length);

}  // namespace corvanta
