// JPEG pictures in this process: TurboJPEG at a reduced DCT scale, fitted
// into a bounding box. Every other format, and a JPEG TurboJPEG cannot
// decode, goes to the decoder process (decoder_process.h); which of the two
// read the picture decides whether the output is JPEG or PNG.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <turbojpeg.h>

#include "batch/large_buffer.h"
#include "batch/memory_budget.h"
#include "batch/pixel_pool.h"
#include "common/gobject_ptr.h"

namespace corvanta {

using PixbufPtr = GObjectPtr<GdkPixbuf>;

// The largest image either loader accepts, judged by the size a file
// declares before anything is decoded: 2^28, about 268 megapixels (800 MB as
// RGB). The largest camera sensors are near 150 megapixels; a header that
// claims more (65500 x 65500 is legal JPEG) is refused instead of allocated.
constexpr std::int64_t kMaxImagePixels = std::int64_t{1} << 28;

// A JPEG may not declare more pixels than this for each byte of its file.
// Every block of a complete JPEG costs at least one bit and covers at most
// 256 pixels, so no real file comes within a factor of eight of this; a
// few hundred bytes claiming tens of megapixels are refused before either
// decoder spends seconds painting them grey.
constexpr std::int64_t kMaxJpegPixelsPerByte = 16384;

// A JPEG file longer than this is not read into memory.
constexpr std::int64_t kMaxJpegFileBytes = std::int64_t{1} << 30;

// A TurboJPEG decompressor with the buffers it reuses between files: the
// buffer the file is read into and a pool for the decoded pixels. One per
// thread: a decoder is never used by two threads at once. Images it returned
// may outlive it.
class JpegDecoder {
  public:
    JpegDecoder();
    ~JpegDecoder();
    JpegDecoder(const JpegDecoder&) = delete;
    JpegDecoder& operator=(const JpegDecoder&) = delete;

    bool Valid() const { return handle_ != nullptr; }
    tjhandle Handle() const { return handle_; }

    // A buffer of at least length bytes, kept for the next file; null when
    // the memory cannot be had.
    std::uint8_t* FileBuffer(std::size_t length);
    // Lets go of an unusually large file buffer once a file is done.
    void TrimFileBuffer();

    PixelPool& Pixels() { return pixels_; }

  private:
    tjhandle handle_ = nullptr;
    LargeBuffer fileBuffer_;
    PixelPool pixels_;
};

// How LoadJpegScaled ended. Only a file that is not a JPEG at all, or one
// TurboJPEG cannot decode, is worth handing to the general decoder.
enum class JpegLoad {
    kDecoded,
    kNotJpeg,      // no JPEG signature, too short, or not a regular file
    kUndecodable,  // damaged, or a colour space TurboJPEG does not convert
    kTooLarge,     // beyond kMaxImagePixels, or far more pixels than its bytes can code
    kOutOfMemory,
    kStopped,  // stop was set while waiting for memory
};

// Loads a JPEG from an open regular file of size bytes (recognised by its
// first bytes, never by its extension), decoding at the smallest DCT scale
// that still covers the box and resizing once when needed. maxWidth and
// maxHeight below 1 mean no limit. On success, *orientation (when given)
// receives the EXIF orientation, 0 for none; the pixels stay in stored
// orientation. Reads with pread, so the descriptor's position is left alone.
// With a hold, the memory of the picture is admitted from its budget as
// soon as the header gives its size.
PixbufPtr LoadJpegScaled(JpegDecoder& decoder, int fd, std::int64_t size, int maxWidth,
                         int maxHeight, std::uint8_t* orientation = nullptr,
                         JpegLoad* status = nullptr, BudgetHold* hold = nullptr);

// The same for a path, opened once with OpenInputFile.
PixbufPtr LoadJpegScaled(JpegDecoder& decoder, const std::string& path, int maxWidth, int maxHeight,
                         std::uint8_t* orientation = nullptr);

// Whether a picture of width x height is beyond kMaxImagePixels, and
// whether a JPEG of fileBytes declaring it claims more than its bytes code.
bool ExceedsPixelCap(std::int64_t width, std::int64_t height);
bool IsJpegBomb(std::int64_t width, std::int64_t height, std::int64_t fileBytes);

// Whether a file starting with these bytes is a JPEG (FF D8 FF).
bool HasJpegSignature(const std::uint8_t* head, std::size_t length);

// The TurboJPEG pixel format for an image's buffer layout.
int JpegPixelFormatFor(const GdkPixbuf* image);

// The DCT scale numerator (over 8) LoadJpegScaled decodes at: the smallest
// eighth at which each limited side still reaches its limit.
int JpegScaleNumerator(int width, int height, int maxWidth, int maxHeight);

// The size an image of width x height takes when fitted into the box, never
// enlarged and never below 1 pixel per side; halves round to even.
struct ImageSize {
    int width;
    int height;
    bool operator==(const ImageSize&) const = default;
};
ImageSize FitIntoBox(int width, int height, int maxWidth, int maxHeight);

// The bytes a conversion needs beside the file itself for a picture decoded
// at decodedPixels and written as a JPEG at outputPixels, channels bytes per
// pixel: the decoded picture, its fitted copy and the encoder's output.
std::int64_t ConversionBytes(std::int64_t decodedPixels, std::int64_t outputPixels, int channels);

// The same for a PNG output of the fitted size or that size turned by a
// quarter: the decoded picture, the fitted copy, the filtered rows and room
// for their compressed form (DeflatePngEncoder::WorkingBytes).
std::int64_t PngConversionBytes(std::int64_t decodedPixels, ImageSize fitted, int channels);

}  // namespace corvanta
