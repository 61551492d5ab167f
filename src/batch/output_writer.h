// Writing a converted image into the output folder under a name that never
// replaces an existing non-empty file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <turbojpeg.h>

#include "batch/png_encoder.h"
#include "batch/scoped_fd.h"

namespace corvanta {

enum class OutputFormat { kJpeg, kPng };

// The 36-byte EXIF segment a JPEG output carries when its source had an
// orientation; the orientation goes into byte kExifOrientationOffset.
constexpr std::size_t kExifBlockBytes = 36;
constexpr std::size_t kExifOrientationOffset = 28;

// How PNG output is compressed. Level 9 with filter None as always; the
// strategy and buffer size were chosen by measuring tone-mapped pictures
// (bench/codec_bench.cpp).
PngSettings OutputPngSettings();

// A TurboJPEG compressor with the output buffer it reuses. One per thread.
class JpegEncoder {
  public:
    JpegEncoder();
    ~JpegEncoder();
    JpegEncoder(const JpegEncoder&) = delete;
    JpegEncoder& operator=(const JpegEncoder&) = delete;

    bool Valid() const { return handle_ != nullptr; }
    tjhandle Handle() const { return handle_; }

    // Compresses image into the kept buffer (4:4:4 at every quality, the fast
    // DCT at quality 80 and below, the accurate one above). On success data
    // and size describe the JPEG until the next call.
    bool Encode(const GdkPixbuf* image, int quality, const std::uint8_t*& data, std::size_t& size);

    // Lets go of an unusually large output buffer once a file is done.
    void TrimBuffer();

  private:
    tjhandle handle_ = nullptr;
    unsigned char* buffer_ = nullptr;
    unsigned long capacity_ = 0;
};

// The 14-digit local date and time ("%Y%m%d%H%M%S") of the date suffix.
std::string DateSuffix(std::time_t when);

// candidate is the output folder followed directly by the input file name.
// Returns the path to write, or nothing when both the plain name and the
// date-suffixed name are taken. Free is: nothing there, an empty regular
// file, or a directory (the write then fails). Anything else is taken,
// including a symbolic link, dangling or not, and a name another thread of
// this process is writing right now.
std::optional<std::string> ResolveOutputPath(const std::string& candidate, OutputFormat format);
// The same, with the date suffix taken from when.
std::optional<std::string> ResolveOutputPath(const std::string& candidate, OutputFormat format,
                                             std::time_t when);

// An output file claimed for writing. Acquire resolves the name and creates
// the file in one step under a process-wide lock, and registers the name as
// being written, so that two threads never get the same name: to every other
// lookup the name is taken until the claim ends. A new file is created with
// O_CREAT | O_EXCL | O_NOFOLLOW, an empty one reopened with O_NOFOLLOW, and
// either is held under flock() so that another process cannot take it over
// in the meantime. Ending the claim without Commit removes what was written
// (a created file is deleted, a reused empty file is emptied again).
class OutputClaim {
  public:
    OutputClaim() = default;
    ~OutputClaim();
    OutputClaim(const OutputClaim&) = delete;
    OutputClaim& operator=(const OutputClaim&) = delete;

    bool Acquire(const std::string& candidate, OutputFormat format);
    bool Acquire(const std::string& candidate, OutputFormat format, std::time_t when);

    const std::string& Path() const { return path_; }
    int Fd() const { return fd_.Get(); }

    // Keeps the file as written; false when closing it reported an error, in
    // which case the file is removed as by Abandon.
    bool Commit();
    // Removes what was written and ends the claim.
    void Abandon();

  private:
    void Release();

    std::string path_;
    ScopedFd fd_;
    bool created_ = false;
    bool active_ = false;
};

// Encodes with 4:4:4 sampling at quality (clamped to 1..100) and writes a
// JPEG file; orientation != 0 inserts an EXIF APP1 segment carrying it.
// True only when every byte was written; a failed write leaves no file.
bool WriteJpegOutput(JpegEncoder& encoder, const GdkPixbuf* image, const std::string& candidate,
                     int quality, std::uint8_t orientation);

// Writes an 8-bit RGB or RGBA PNG; a partial file is removed on failure.
bool WritePngOutput(const GdkPixbuf* image, const std::string& candidate);

}  // namespace corvanta
