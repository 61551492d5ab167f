// Writing a converted image into the output folder under a name that never
// replaces an existing non-empty file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <turbojpeg.h>

namespace corvanta {

enum class OutputFormat { kJpeg, kPng };

// A TurboJPEG compressor with the output buffer it reuses. One per thread.
class JpegEncoder {
public:
    JpegEncoder();
    ~JpegEncoder();
    JpegEncoder(const JpegEncoder&) = delete;
    JpegEncoder& operator=(const JpegEncoder&) = delete;

    bool Valid() const { return handle_ != nullptr; }
    tjhandle Handle() const { return handle_; }

private:
    tjhandle handle_ = nullptr;
};

// candidate is the output folder followed directly by the input file name.
// Returns the path to write, or nothing when both the plain name and the
// date-suffixed name are taken.
std::optional<std::string> ResolveOutputPath(const std::string& candidate, OutputFormat format);

// Encodes with 4:4:4 sampling at quality (clamped to 1..100) and writes a
// JPEG file; orientation != 0 inserts an EXIF APP1 segment carrying it.
bool WriteJpegOutput(JpegEncoder& encoder, const GdkPixbuf* image, const std::string& candidate,
                     int quality, std::uint8_t orientation);

// Writes an 8-bit RGB or RGBA PNG; a partial file is removed on failure.
bool WritePngOutput(const GdkPixbuf* image, const std::string& candidate);

}  // namespace corvanta
