// Fixtures made inside the tests: JPEG and PNG files of a given size and
// content, EXIF segments spliced in as bytes, PNG files taken apart again,
// and temporary folders that clean up after themselves. Nothing here is
// stored in the repository.
#pragma once

#include <sys/types.h>

#include <csignal>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <gdk-pixbuf/gdk-pixbuf.h>

#include "common/gobject_ptr.h"

namespace corvanta::test_support {

// AddressSanitizer and ThreadSanitizer reserve terabytes of address space
// for their shadow memory and run their own allocator: address-space limits
// say nothing about the program's own use under them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kUnderSanitizer = true;
#else
constexpr bool kUnderSanitizer = false;
#endif

// A file-size limit of bytes for this process while it lives, with SIGXFSZ
// ignored, so that a write past it fails with EFBIG instead of ending the
// test.
class ScopedFileSizeLimit {
  public:
    explicit ScopedFileSizeLimit(unsigned long bytes);
    ~ScopedFileSizeLimit();
    ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
    ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;
    bool Active() const { return active_; }

  private:
    unsigned long savedCurrent_ = 0;
    unsigned long savedMaximum_ = 0;
    void (*savedHandler_)(int) = SIG_ERR;
    bool active_ = false;
};

using Bytes = std::vector<std::uint8_t>;

// ---- Pixels ----------------------------------------------------------------

// Tightly packed photo-like pixels (smooth gradients with a little noise),
// channels 1 (grey), 3 (RGB) or 4 (RGBA, with a varying alpha). The same
// seed gives the same pixels.
Bytes MakePhotoPixels(int width, int height, int channels, unsigned seed = 1);

// A gdk-pixbuf image with MakePhotoPixels content.
GObjectPtr<GdkPixbuf> MakePixbuf(int width, int height, bool hasAlpha, unsigned seed = 1);

// ---- JPEG ------------------------------------------------------------------

struct JpegOptions {
    int quality = 90;
    int subsampling = 2;  // TJSAMP_420
    bool progressive = false;
    bool grayscale = false;
    bool cmyk = false;  // a four-channel (YCCK) JPEG, which TurboJPEG cannot turn into RGB
    unsigned seed = 1;
};

// A JPEG file of the given size made by TurboJPEG from MakePhotoPixels.
Bytes MakeJpeg(int width, int height, const JpegOptions& options = {});

// A JPEG whose left half is dark and right half light, in every channel.
Bytes MakeHalvesJpeg(int width, int height, const JpegOptions& options = {});

enum class ByteOrder { kIntel, kMotorola };

// A complete APP1 segment (marker included) holding "Exif", a TIFF header
// in the given byte order and an IFD0 whose entries are, in order, one
// unrelated tag (ImageWidth) and then Orientation.
Bytes MakeExifSegment(unsigned orientation, ByteOrder order);

// A complete APP1 segment holding an arbitrary payload (an XMP packet, say).
Bytes MakeApp1Segment(std::string_view payload);

// The JPEG with segment inserted right behind its start-of-image marker.
Bytes InsertAfterSoi(const Bytes& jpeg, const Bytes& segment);

// The JPEG with its start-of-frame segment claiming another size. False
// when no SOF0/SOF1/SOF2 segment was found.
bool SetJpegFrameSize(Bytes& jpeg, int width, int height);

// A progressive JPEG with its last scan repeated `times` more times before
// the end-of-image marker: as costly to decode as it is cheap to store.
Bytes RepeatLastScan(const Bytes& jpeg, int times);

// The offset of the first segment with this marker byte (0xE0 for APP0),
// or -1.
long FindSegment(const Bytes& jpeg, std::uint8_t marker);

// ---- PNG -------------------------------------------------------------------

// A PNG file (colour type 2 or 6, 8 bits) made by libpng from MakePhotoPixels.
Bytes MakePng(int width, int height, bool hasAlpha, unsigned seed = 1);

// The PNG with its IHDR claiming another size (the chunk CRC is fixed up).
bool SetPngSize(Bytes& png, std::uint32_t width, std::uint32_t height);

// A PNG taken apart by hand: the chunk types in file order, header fields,
// the filter byte of every row and the pixel rows with every filter undone.
// ok is false when the file is malformed (a bad CRC, a short or overlong
// stream, an unknown filter type, no IHDR or IEND; the rows are then not
// reconstructed).
struct PngContents {
    bool ok = false;
    std::vector<std::string> chunks;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int bitDepth = 0;
    int colorType = 0;
    int compression = -1;
    int filterMethod = -1;
    int interlace = 0;
    std::vector<std::uint8_t> rowFilters;
    Bytes pixels;  // width * channels bytes per row, rows top-down
};
PngContents InspectPng(const Bytes& png);

// ---- TIFF ------------------------------------------------------------------

// An uncompressed 8-bit RGB TIFF of MakePhotoPixels, stored width x height,
// with an Orientation tag when orientation is not 0.
Bytes MakeTiff(int width, int height, unsigned orientation);

// ---- Decoding -------------------------------------------------------------

// A picture file read the way a batch reads every non-JPEG picture: by the
// decoder process, fitted into the box. Null when it cannot be read.
GObjectPtr<GdkPixbuf> DecodeFile(const std::string& path, int maxWidth, int maxHeight);

// ---- Processes -------------------------------------------------------------

// The first child of parent that shows up within seconds (from /proc), or -1.
pid_t WaitForChildOf(pid_t parent, int seconds = 20);

// ---- Files -----------------------------------------------------------------

bool WriteFile(const std::string& path, const Bytes& bytes);
// MakeJpeg / MakePng written to path.
bool WriteJpeg(const std::string& path, int width, int height);
bool WritePng(const std::string& path, int width, int height, bool hasAlpha);
bool WriteFile(const std::string& path, std::string_view text);
Bytes ReadFile(const std::string& path);
bool FileExists(const std::string& path);
// Size in bytes, or -1 when path is missing (links are not followed).
long long FileSize(const std::string& path);
// Names in a folder, sorted, without "." and "..".
std::vector<std::string> ListFolder(const std::string& path);

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it when
// the object goes out of scope, even if a test left parts of it read-only.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    bool Valid() const { return !path_.empty(); }
    // The folder, without a trailing slash.
    const std::string& Path() const { return path_; }
    // Path() + "/" + name.
    std::string File(std::string_view name) const;

  private:
    std::string path_;
};

}  // namespace corvanta::test_support
