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

#include "codecs/large_buffer.h"
#include "codecs/pixel_pool.h"
#include "common/pixbuf_ptr.h"

namespace corvanta {

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

// The size an image of width x height takes when fitted into the box, never
// enlarged and never below 1 pixel per side; halves round to even.
struct ImageSize {
    int width;
    int height;
    bool operator==(const ImageSize&) const = default;
};
ImageSize FitIntoBox(int width, int height, int maxWidth, int maxHeight);

// What is wrong with a picture that decoded only in part.
enum class Damage : std::uint32_t {
    kNone = 0,
    kEndsEarly = 1,  // the file stops before the picture does
    kCorrupt = 2,    // part of its data cannot be decoded
};

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
    // Lets go of an unusually large file buffer once a file is done, or of
    // the buffer and the spare pixel blocks when `all`.
    void TrimFileBuffer(bool all = false);

    PixelPool& Pixels() { return pixels_; }

    // What TurboJPEG warned of in the last decode that ended kDamaged.
    Damage LastDamage() const { return damage_; }
    void SetLastDamage(Damage damage) { damage_ = damage; }

  private:
    tjhandle handle_ = nullptr;
    Damage damage_ = Damage::kNone;
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
    kTooCostly,    // more scans than any sane progressive file has
    // Sound, but so much work that this process could not heed Stop while
    // TurboJPEG (which cannot be interrupted) decodes it: a decoder process
    // of its own takes it, where a deadline and Stop apply.
    kCostlyHere,
    // TurboJPEG decoded it only in part (the decoder's LastDamage says how):
    // gdk-pixbuf's loader is to make what it can of it.
    kDamaged,
    kOutOfMemory,
    kStopped,  // the size gate said no (stop was set while waiting for memory)
};

// Asked once a JPEG's header has given its sizes, before any pixel memory
// is taken: decoded is the size TurboJPEG decodes at, fitted the size it is
// then resized to. False ends the load as kStopped.
class SizeGate {
  public:
    virtual bool Admit(ImageSize decoded, ImageSize fitted) = 0;

  protected:
    ~SizeGate() = default;
};

// Counts a JPEG's start-of-scan markers, fed in pieces. Inside entropy-coded
// data an FF byte is followed by 00 or a restart marker, so every FF DA pair
// is a marker (an embedded thumbnail's are counted too, which only errs on
// the safe side).
class JpegScanCounter {
  public:
    void Feed(const std::uint8_t* data, std::size_t length);
    int Scans() const { return scans_; }

  private:
    bool afterPrefix_ = false;
    int scans_ = 0;
};

// More scans than this and a JPEG is refused: progressive encoders write
// about ten, and every scan of a large picture costs a pass over all of it.
constexpr int kMaxJpegScans = 100;
// Pixels times scans that TurboJPEG decodes in well under a second; above
// this a JPEG is decoded in a process that Stop can end.
constexpr std::int64_t kMaxInProcessJpegWork = std::int64_t{400} << 20;

// The first half of a JPEG load: the file read into the decoder's buffer
// (valid until the decoder's next file) with an end-of-image marker behind
// it when the file has none (a cut-off download whose picture is whole
// then decodes cleanly), its header and orientation, the sizes it is
// decoded and fitted at, and its scans.
struct JpegPlan {
    const std::uint8_t* data = nullptr;
    std::size_t length = 0;
    unsigned orientation = 0;
    ImageSize stored{0, 0};  // as the header declares it
    ImageSize decoded{0, 0};
    ImageSize target{0, 0};
    int scans = 0;
    std::int64_t Work() const { return std::int64_t{decoded.width} * decoded.height * scans; }
};
JpegLoad PlanJpegLoad(JpegDecoder& decoder, int fd, std::int64_t size, int maxWidth, int maxHeight,
                      JpegPlan& plan);
// The second half: the pixels, decoded and resized once.
PixbufPtr DecodeJpegPlan(JpegDecoder& decoder, const JpegPlan& plan, JpegLoad& status,
                         SizeGate* gate);

// Loads a JPEG from an open regular file of size bytes (recognised by its
// first bytes, never by its extension), decoding at the smallest DCT scale
// that still covers the box and resizing once when needed. maxWidth and
// maxHeight below 1 mean no limit. On success, *orientation (when given)
// receives the EXIF orientation, 0 for none; the pixels stay in stored
// orientation. Reads with pread, so the descriptor's position is left alone.
// A gate is asked before any pixel memory is taken. A JPEG over
// kMaxInProcessJpegWork ends as kCostlyHere.
PixbufPtr LoadJpegScaled(JpegDecoder& decoder, int fd, std::int64_t size, int maxWidth,
                         int maxHeight, std::uint8_t* orientation = nullptr,
                         JpegLoad* status = nullptr, SizeGate* gate = nullptr);

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

// The bytes a conversion needs beside the file itself for a picture decoded
// at decodedPixels and written as a JPEG at outputPixels, channels bytes per
// pixel: the decoded picture, its fitted copy and the encoder's output.
std::int64_t ConversionBytes(std::int64_t decodedPixels, std::int64_t outputPixels, int channels);

}  // namespace corvanta
