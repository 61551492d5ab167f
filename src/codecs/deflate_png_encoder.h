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
constexpr std::size_t kDeflateTrialLevels = 6;

// How the rows of a picture can be filtered when libdeflate compresses
// them: all with None, all with Up, or each with the filter whose bytes have
// the smallest sum (FilterImageRowsByMinimumSum).
enum class DeflateRows : std::uint8_t { kNone, kUp, kPerRow };
constexpr std::size_t kDeflateRowChoices = 3;

// The rows filtered that way, as FilterImageRows writes them.
bool FilterDeflateRows(const std::uint8_t* pixels, int width, int height, std::size_t rowstride,
                       int channels, DeflateRows rows, std::uint8_t* out);

// What a picture was written with.
struct DeflatePngChoice {
    bool zlib = false;  // the libpng encoder at zlib level 9, filter None
    DeflateRows rows = DeflateRows::kNone;
    int level = 0;
};

// One step of the encoder's choice: a level, and for each way of filtering
// how close to zlib level 9's size on the sample it must come there to be
// used, in thousandths (0: not tried at this level), on a sample of several
// bands and on a sample of one band (a small picture, whose sample tells
// its ratio to zlib less well).
struct DeflateTrial {
    int level = 0;
    std::array<int, kDeflateRowChoices> gatePermille{};  // None, Up, per row
    std::array<int, kDeflateRowChoices> oneBandGatePermille{};
};

struct DeflatePngSettings {
    // Set: every picture is written so, untried (for benchmarks and tests).
    std::optional<DeflatePngChoice> fixed;
    // No single setting is both fast and close to zlib level 9 with filter
    // None on every picture: filtering makes unmapped photographs a third
    // smaller but some mapped ones and smooth graphics larger, and the fast
    // levels lose to zlib's deeper search on fine textures. So each picture
    // is measured on a sample of bands of its rows: zlib level 9 compresses
    // it unfiltered, then each step below in turn compresses it filtered
    // its ways at its level, and the smallest way within its gate at the
    // first step that has one writes the whole picture. A picture no step
    // admits is written by zlib level 9 with filter None, as before
    // libdeflate. Each gate is the highest ratio on the sample at which no
    // picture of the benchmark's sets (but one) came out more than 3 %
    // above zlib with that setting, less 3 thousandths: a sample tells a
    // setting's ratio to zlib within a few percent, differently for each
    // setting, so gates of their own let each picture take the fastest
    // setting that is safe for it; levels 2 and 5 are tried because on
    // mapped photographs they are 2-3 % larger than levels 4 and 6 and a
    // quarter to a third faster (bench/README.md has the sets, and where it
    // misses).
    std::array<DeflateTrial, kDeflateTrialLevels> trials = {{
        {1, {0, 1033, 1022}, {0, 997, 1006}},
        {2, {1015, 0, 1004}, {1000, 0, 985}},
        {5, {1013, 0, 1018}, {998, 0, 1018}},
        {6, {1012, 0, 1003}, {998, 0, 1003}},
        {7, {1012, 0, 0}, {1012, 0, 0}},
        {9, {1014, 0, 0}, {1014, 0, 0}},
    }};
    // The sample: this share of the filtered rows, within the bounds, cut
    // into bands of sampleBandBytes spread evenly over the picture (one band
    // in the middle of a small one). Smaller bands tell less: with 16 KiB
    // bands on small pictures, outputs came out up to 9 % above zlib's size.
    // A sample of 1 MiB found a detailed object on a plain background in
    // about its share of the picture where 512 KiB did not, but cost a
    // fifth of the speed on mapped photographs.
    std::size_t sampleShare = 16;
    std::size_t sampleMinBytes = std::size_t{64} << 10;
    std::size_t sampleMaxBytes = std::size_t{512} << 10;
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
    // sample filtered its three ways (the compressors' own state, 3.4 MiB
    // for the six levels, is part of a job's handles). 0 when that does
    // not fit in size_t.
    static std::size_t WorkingBytes(int width, int height, int channels);

    // The sample a picture is measured on, as the choice compresses it:
    // its size in bytes (0 for an unusable picture) and its number of
    // bands, then its rows filtered one way into `out`, which holds
    // SampleBytes. For fitting the gates (codec_bench --gate-data).
    static std::size_t SampleBytes(const DeflatePngSettings& settings, int width, int height,
                                   int channels, int* bands);
    static bool FilterSampleRows(const DeflatePngSettings& settings, const std::uint8_t* pixels,
                                 int width, int height, std::size_t rowstride, int channels,
                                 DeflateRows rows, std::uint8_t* out);

  private:
    // The compressor made for one of the trial levels; null for any other.
    libdeflate_compressor* CompressorFor(int level) const;
    std::optional<DeflatePngChoice> Choose(const std::uint8_t* pixels, int width, int height,
                                           std::size_t rowstride, int channels);

    DeflatePngSettings settings_;
    std::array<libdeflate_compressor*, kDeflateTrialLevels> compressors_{};
    LargeBuffer filtered_;
    LargeBuffer compressed_;
    LargeBuffer sample_;  // the sample's rows once per way of filtering, then its compressed form
    DeflatePngChoice choice_;
};

}  // namespace corvanta
