// Finding the orientation a picture file records (EXIF in a JPEG, a TIFF's
// own directory, a PNG's eXIf chunk) and whether a TIFF carries extra
// samples (alpha). Every reader works on bytes held in memory and never
// reads outside data[0 .. length).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace corvanta {

// The 16-bit value of the Orientation tag (0x0112) in the first APP1 segment
// of the JPEG, or 0 when there is none or the data is malformed.
unsigned ReadExifOrientation(const std::uint8_t* data, std::size_t length);

// The orientation in the eXIf chunk of a PNG (chunks up to the first IDAT),
// or 0.
unsigned ReadPngOrientation(const std::uint8_t* data, std::size_t length);

// A TIFF file's header: its byte order and where its first directory is.
struct TiffHeader {
    bool littleEndian = true;
    std::uint32_t firstDirectory = 0;
};
std::optional<TiffHeader> ReadTiffHeader(const std::uint8_t* data, std::size_t length);

// What a TIFF directory (its entry count and entries, read from
// firstDirectory) says.
struct TiffDirectory {
    unsigned orientation = 0;
    bool extraSamples = false;  // an alpha channel, associated or not
};
TiffDirectory ReadTiffDirectory(const std::uint8_t* data, std::size_t length, bool littleEndian);

}  // namespace corvanta
