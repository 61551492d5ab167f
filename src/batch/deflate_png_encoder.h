// PNG output compressed with libdeflate: the rows are filtered into one
// buffer, compressed in one call into one zlib stream, and written as
// signature, IHDR, IDAT chunks and IEND to a byte sink. The pixels, the
// colour type (8-bit RGB or RGBA), the bit depth and the chunks are those
// the libpng encoder (png_encoder.h) writes; only the compressed bytes
// differ.
#pragma once

#include <cstddef>
#include <cstdint>

#include "batch/large_buffer.h"
#include "batch/png_encoder.h"  // PngSink
#include "batch/png_row_filters.h"

struct libdeflate_compressor;

namespace corvanta {

// libdeflate's levels run from 1 (fastest) to 12 (smallest).
constexpr int kDeflateFastestLevel = 1;
constexpr int kDeflateSmallestLevel = 12;

struct DeflatePngSettings {
    // Level 1 with Paeth on every row (bench/codec_bench.cpp, six 6 MP
    // pictures per set): photos come out 23 % smaller than with zlib level 9
    // and filter None at 7 times its speed, and a batch mapped through
    // "Heat camera" 17 % smaller at 5 times the speed. It is not smaller on
    // every picture: mapped through some other presets a picture can come
    // out up to 14 % larger (the largest ratio the benchmark reports as
    // vs_zlib9), and no fixed level and filter up to level 6 avoids that
    // (level 6 still loses 4 % on one picture at a fifth of level 1's speed).
    int level = kDeflateFastestLevel;
    PngRowFilter filter = PngRowFilter::kPaeth;
    // Small pictures are written by the libpng encoder exactly as before:
    // libdeflate stores inputs below 55 - 4 * level bytes uncompressed
    // (deflate_compress.c), and on a few hundred bytes its fast levels lose
    // a few bytes to zlib level 9's exhaustive matching. Up to 64 KiB of
    // rows zlib takes a few milliseconds, so no speed is lost there.
    std::size_t zlibUpToBytes = std::size_t{64} << 10;
    // Largest IDAT chunk: 256 KiB, as the libpng encoder's deflate buffer.
    std::size_t idatChunkBytes = std::size_t{256} << 10;
};

// One per thread: the compressor and both buffers are reused from one
// picture to the next.
class DeflatePngEncoder {
  public:
    explicit DeflatePngEncoder(const DeflatePngSettings& settings = {});
    ~DeflatePngEncoder();
    DeflatePngEncoder(const DeflatePngEncoder&) = delete;
    DeflatePngEncoder& operator=(const DeflatePngEncoder&) = delete;

    // False when the compressor could not be had (out of memory, or a level
    // outside 1..12).
    bool Valid() const { return compressor_ != nullptr; }

    // Writes a complete PNG: colour type 6 when hasAlpha, else 2; 8 bits per
    // sample; not interlaced; rows top-down; IHDR, IDAT and IEND only. Only
    // the first width * channels bytes of each row are read. False when the
    // arguments are unusable, memory runs out or the sink refuses bytes.
    bool Encode(const std::uint8_t* pixels, int width, int height, std::size_t rowstride,
                bool hasAlpha, PngSink sink, void* context);

    // Lets go of unusually large buffers once a file is done.
    void TrimBuffers();

    // Bytes Encode holds for a picture beside the picture itself: the
    // filtered rows and room for their worst-case compressed form (the
    // compressor's own state, a few hundred KiB, is part of the job's
    // baseline). 0 when that does not fit in size_t.
    static std::size_t WorkingBytes(int width, int height, int channels);

  private:
    DeflatePngSettings settings_;
    libdeflate_compressor* compressor_ = nullptr;
    LargeBuffer filtered_;
    LargeBuffer compressed_;
};

}  // namespace corvanta
