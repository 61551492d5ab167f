#include "batch/exif_orientation.h"

namespace corvanta {

unsigned ReadExifOrientation(const std::uint8_t*, std::size_t) { return 0; }  // placeholder

}  // namespace corvanta
