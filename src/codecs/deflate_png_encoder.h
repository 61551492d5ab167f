// PNG output compressed with libdeflate: the rows are filtered into one
// buffer, compressed in one call into one zlib stream, and written as
// signature, IHDR, IDAT chunks and IEND to a byte sink. The pixels, the
// colour type (8-bit RGB or RGBA), the bit depth and the chunks are those
// the libpng encoder (png_encoder.h) writes; only the compressed bytes
// differ.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "codecs/large_buffer.h"
#include "codecs/png_encoder.h"  // PngSink
#include "codecs/png_row_filters.h"

struct libdeflate_compressor;

namespace corvanta {

// libdeflate's levels run from 1 (fastest) to 12 (smallest).
constexpr int kDeflateFastestLevel = 1;
constexpr int kDeflateSmallestLevel = 12;
// Levels a picture is tried at before it falls back to zlib.
constexpr std::size_t kDeflateTrialLevels = 3;

// What a picture was written with.
struct DeflatePngChoice {
    bool zlib = false;  // the libpng encoder at zlib level 9, filter None
    PngRowFilter filter = PngRowFilter::kNone;
    int level = 0;
};

struct DeflatePngSettings {
    // Set: every picture gets this filter at the first trial level, with no
    // trial and no fallback (for benchmarks and tests). Unset: each picture
    // is measured, as below.
    std::optional<PngRowFilter> fixedFilter;
    // No fixed level and filter is never larger than zlib level 9 with
    // filter None (bench/codec_bench.cpp). On six synthetic 6 MP photos
    // mapped through six presets, level 1 with Paeth comes out up to 14 %
    // larger; on photographs mapped through the presets, the best single
    // setting up to level 4 (Up) comes out up to 10 % larger; and on smooth
    // graphics only levels 10 to 12 are smaller, and they are slower than
    // zlib level 9. So each picture is measured on a sample of bands of its
    // rows. zlib level 9 compresses the sample unfiltered; then, for each
    // level here in turn, the row filters are tried on the sample, and the
    // first level whose best filter comes within trialMargin of zlib's size
    // is used for the whole picture. When none does, the picture goes
    // through zlib level 9 with filter None, as every picture did before.
    // On 143 photographs, mapped and not, the whole picture's ratio to zlib
    // came out from 9.5 points below the sample's to 3.5 points above it,
    // mostly below. With this margin none came out larger than zlib's, and
    // 22 were left to zlib, 13 of them variants of one smooth graphic.
    std::array<int, kDeflateTrialLevels> trialLevels = {1, 4, 6};
    double trialMargin = 0.99;
    // Bands of rows the sample is cut into, spread evenly over the picture,
    // and the size of each: at least twice deflate's 32 KiB window, so that
    // matches are found in the sample as they are in the whole picture.
    int sampleBands = 8;
    std::size_t sampleBandBytes = std::size_t{64} << 10;
    // Small pictures are written by the libpng encoder exactly as before:
    // libdeflate stores inputs below 55 - 4 * level bytes uncompressed
    // (deflate_compress.c), and on a few hundred bytes its fast levels lose
    // a few bytes to zlib level 9's exhaustive matching. Up to 64 KiB of
    // rows zlib takes a few milliseconds, so no speed is lost there.
    std::size_t zlibUpToBytes = std::size_t{64} << 10;
    // Largest IDAT chunk: 256 KiB, as the libpng encoder's deflate buffer.
    std::size_t idatChunkBytes = std::size_t{256} << 10;
};

// One per thread: the compressors and the buffers are reused from one
// picture to the next.
class DeflatePngEncoder {
  public:
    explicit DeflatePngEncoder(const DeflatePngSettings& settings = {});
    ~DeflatePngEncoder();
    DeflatePngEncoder(const DeflatePngEncoder&) = delete;
    DeflatePngEncoder& operator=(const DeflatePngEncoder&) = delete;

    // False when a compressor could not be had (out of memory, or a level
    // outside 1..12).
    bool Valid() const;

    // Writes a complete PNG: colour type 6 when hasAlpha, else 2; 8 bits per
    // sample; not interlaced; rows top-down; IHDR, IDAT and IEND only. Only
    // the first width * channels bytes of each row are read. False when the
    // arguments are unusable, memory runs out or the sink refuses bytes.
    bool Encode(const std::uint8_t* pixels, int width, int height, std::size_t rowstride,
                bool hasAlpha, PngSink sink, void* context);

    // Lets go of unusually large buffers once a file is done, or of all
    // when `all`.
    void TrimBuffers(bool all = false);

    // What the last successful Encode wrote its picture with.
    const DeflatePngChoice& LastChoice() const { return choice_; }

    // Bytes Encode holds for a picture beside the picture itself: the
    // filtered rows, room for their worst-case compressed form and the
    // sample (the compressors' own state, 1.5 MiB for the three levels, is
    // part of the job's baseline). 0 when that does not fit in size_t.
    static std::size_t WorkingBytes(int width, int height, int channels);

  private:
    // The compressor made for one of the trial levels; null for any other.
    libdeflate_compressor* CompressorFor(int level) const;
    std::optional<DeflatePngChoice> Choose(const std::uint8_t* pixels, int width, int height,
                                           std::size_t rowstride, int channels);

    DeflatePngSettings settings_;
    std::array<libdeflate_compressor*, kDeflateTrialLevels> compressors_{};
    LargeBuffer filtered_;
    LargeBuffer compressed_;
    LargeBuffer sample_;  // the sample's rows once per row filter, then its compressed form
    DeflatePngChoice choice_;
};

}  // namespace corvanta
