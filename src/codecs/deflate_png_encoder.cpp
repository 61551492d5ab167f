#include "codecs/deflate_png_encoder.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <limits>

#include "tone/pixbuf_format.h"

namespace corvanta {

bool FilterDeflateRows(const std::uint8_t* pixels, int width, int height, std::size_t rowstride,
                       int channels, DeflateRows rows, std::uint8_t* out) {
    if (rows == DeflateRows::kPerRow) {
        return FilterImageRowsByMinimumSum(pixels, width, height, rowstride, channels, out);
    }
    const PngRowFilter filter = rows == DeflateRows::kUp ? PngRowFilter::kUp : PngRowFilter::kNone;
    return FilterImageRows(pixels, width, height, rowstride, channels, filter, out);
}

namespace {

// The container is written here, not by libpng: libpng compresses the rows
// itself and has no way to take IDAT data compressed elsewhere (its chunk
// writer would treat IDAT as an unknown chunk, and it refuses to end a file
// whose image it did not write). What is left is the signature and three
// kinds of chunk, each length, type, data and a CRC-32, which libdeflate
// computes.

constexpr std::array<std::uint8_t, 8> kSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t kFieldBytes = 4;  // length, type and CRC alike
using ChunkType = std::array<std::uint8_t, kFieldBytes>;
constexpr ChunkType kIhdr = {'I', 'H', 'D', 'R'};
constexpr ChunkType kIdat = {'I', 'D', 'A', 'T'};
constexpr ChunkType kIend = {'I', 'E', 'N', 'D'};
// A chunk's length is a 31-bit number.
constexpr std::size_t kLargestChunk = 0x7FFFFFFF;

constexpr std::size_t kIhdrBytes = 13;
constexpr std::uint8_t kBitDepth = 8;
constexpr std::uint8_t kColorTypeRgb = 2;
constexpr std::uint8_t kColorTypeRgba = 6;
constexpr std::uint8_t kCompressionDeflate = 0;
constexpr std::uint8_t kFilterMethodAdaptive = 0;
constexpr std::uint8_t kInterlaceNone = 0;

// Kept between files up to this size, which lies inside the share of the
// memory budget every job has anyway (kJobBaselineBytes): what a job keeps
// must not take room the budget gives to another job's picture. A 6 MP
// picture's buffers (36 MB) stay; larger ones go after each file.
constexpr std::size_t kMaxRetainedBytes = std::size_t{64} << 20;

void PutBigEndian32(std::uint32_t value, std::uint8_t* out) {
    out[0] = static_cast<std::uint8_t>(value >> 24);
    out[1] = static_cast<std::uint8_t>(value >> 16);
    out[2] = static_cast<std::uint8_t>(value >> 8);
    out[3] = static_cast<std::uint8_t>(value);
}

// The data goes to the sink where it lies: the compressed image is never
// copied on its way out.
bool WriteChunk(const ChunkType& type, const std::uint8_t* data, std::size_t length, PngSink sink,
                void* context) {
    std::array<std::uint8_t, 2 * kFieldBytes> head{};
    PutBigEndian32(static_cast<std::uint32_t>(length), head.data());
    std::copy(type.begin(), type.end(), head.begin() + kFieldBytes);
    std::uint32_t crc = libdeflate_crc32(0, type.data(), type.size());
    if (length > 0) {
        crc = libdeflate_crc32(crc, data, length);
    }
    std::array<std::uint8_t, kFieldBytes> tail{};
    PutBigEndian32(crc, tail.data());
    return sink(context, head.data(), head.size()) &&
           (length == 0 || sink(context, data, length)) && sink(context, tail.data(), tail.size());
}

bool WriteHeader(int width, int height, bool hasAlpha, PngSink sink, void* context) {
    std::array<std::uint8_t, kIhdrBytes> ihdr{};
    PutBigEndian32(static_cast<std::uint32_t>(width), ihdr.data());
    PutBigEndian32(static_cast<std::uint32_t>(height), ihdr.data() + kFieldBytes);
    ihdr[8] = kBitDepth;
    ihdr[9] = hasAlpha ? kColorTypeRgba : kColorTypeRgb;
    ihdr[10] = kCompressionDeflate;
    ihdr[11] = kFilterMethodAdaptive;
    ihdr[12] = kInterlaceNone;
    return sink(context, kSignature.data(), kSignature.size()) &&
           WriteChunk(kIhdr, ihdr.data(), ihdr.size(), sink, context);
}

// The sample: bands of rows spread evenly from the top row to the bottom
// one (one band sits in the middle), or the whole picture when the bands
// would cover half of it. A band is the rows' first `columns` pixels: all
// of them, unless a few very long rows would make the sample larger than
// twice its size.
struct SampleBands {
    int count = 0;
    int rows = 0;     // per band
    int columns = 0;  // of each row, from the left
    int StartRow(int band, int height) const {
        return count == 1
                   ? (height - rows) / 2
                   : static_cast<int>(static_cast<long long>(height - rows) * band / (count - 1));
    }
    std::size_t BandBytes(int channels) const {
        return FilteredImageBytes(columns, rows, channels);
    }
    std::size_t Bytes(int channels) const {
        return BandBytes(channels) * static_cast<std::size_t>(count);
    }
};

SampleBands SampleFor(const DeflatePngSettings& settings, int width, int height, int channels) {
    const std::size_t filteredRow = FilteredImageBytes(width, 1, channels);
    const std::size_t whole = filteredRow * static_cast<std::size_t>(height);
    const std::size_t target =
        std::clamp(whole / std::max<std::size_t>(settings.sampleShare, 1),
                   std::max<std::size_t>(settings.sampleMinBytes, 1),
                   std::max(settings.sampleMinBytes, settings.sampleMaxBytes));
    const std::size_t bandBytes = std::clamp<std::size_t>(settings.sampleBandBytes, 1, target);
    const std::size_t bands = target / bandBytes;
    // One more row than bandBytes needs: the row above the band.
    const std::size_t rows = (bandBytes + filteredRow - 1) / filteredRow + 1;
    SampleBands sample{static_cast<int>(bands), static_cast<int>(std::min<std::size_t>(rows, height)),
                       width};
    if (rows * bands * 2 >= static_cast<std::size_t>(height)) {
        sample.count = 1;
        sample.rows = height;
    }
    const std::size_t largest = 2 * target;
    const std::size_t sampleRows = static_cast<std::size_t>(sample.count) * sample.rows;
    if (sampleRows * filteredRow > largest) {
        const std::size_t rowBytes = std::max<std::size_t>(largest / sampleRows, 2);
        sample.columns = static_cast<int>(std::min<std::size_t>(
            width, std::max<std::size_t>((rowBytes - 1) / static_cast<std::size_t>(channels), 1)));
    }
    return sample;
}

// Room for the sample's compressed form, by zlib or by any libdeflate level.
std::size_t SampleCompressedBound(std::size_t sampleBytes) {
    return std::max<std::size_t>(compressBound(static_cast<uLong>(sampleBytes)),
                                 libdeflate_zlib_compress_bound(nullptr, sampleBytes));
}

// The sample's rows once per way of filtering, then room for their
// compressed form.
std::size_t SampleWorkingBytes(std::size_t sampleBytes) {
    return kDeflateRowChoices * sampleBytes + SampleCompressedBound(sampleBytes);
}

// The sample's bands filtered one way, one after the other. Each band
// below the top one starts with the row above it, unfiltered in every
// trial, so that zlib sees the band's first row below the row it repeats,
// as the filters see it, and the trials differ only in the rows after it.
bool FilterSampleOneWay(const std::uint8_t* pixels, int height, std::size_t rowstride,
                        int channels, const SampleBands& bands, DeflateRows rows,
                        std::uint8_t* out) {
    const std::size_t bandBytes = bands.BandBytes(channels);
    for (int band = 0; band < bands.count; ++band) {
        const int start = bands.StartRow(band, height);
        const std::uint8_t* first = pixels + static_cast<std::size_t>(start) * rowstride;
        std::uint8_t* bandOut = out + band * bandBytes;
        if (!FilterDeflateRows(first, bands.columns, bands.rows, rowstride, channels, rows, bandOut) ||
            (start > 0 && !FilterImageRows(first, bands.columns, 1, rowstride, channels,
                                           PngRowFilter::kNone, bandOut))) {
            return false;
        }
    }
    return true;
}

// The sample once per way of filtering, one after the other.
bool FilterSample(const std::uint8_t* pixels, int height, std::size_t rowstride, int channels,
                  const SampleBands& bands, std::uint8_t* rows) {
    for (std::size_t way = 0; way < kDeflateRowChoices; ++way) {
        if (!FilterSampleOneWay(pixels, height, rowstride, channels, bands,
                                static_cast<DeflateRows>(way),
                                rows + way * bands.Bytes(channels))) {
            return false;
        }
    }
    return true;
}

}  // namespace

DeflatePngEncoder::DeflatePngEncoder(const DeflatePngSettings& settings) : settings_(settings) {
    settings_.idatChunkBytes = std::clamp<std::size_t>(settings_.idatChunkBytes, 1, kLargestChunk);
    if (settings_.fixed.has_value()) {
        settings_.trials[0].level = settings_.fixed->level;  // so that it has a compressor
    }
    for (std::size_t i = 0; i < compressors_.size(); ++i) {
        const int level = settings_.trials[i].level;
        if (level >= kDeflateFastestLevel && level <= kDeflateSmallestLevel) {
            compressors_[i] = libdeflate_alloc_compressor(level);
        }
    }
}

DeflatePngEncoder::~DeflatePngEncoder() {
    for (libdeflate_compressor* compressor : compressors_) {
        libdeflate_free_compressor(compressor);
    }
}

bool DeflatePngEncoder::Valid() const {
    return std::all_of(compressors_.begin(), compressors_.end(),
                       [](const libdeflate_compressor* c) { return c != nullptr; });
}

std::size_t DeflatePngEncoder::WorkingBytes(int width, int height, int channels) {
    const std::size_t filtered = FilteredImageBytes(width, height, channels);
    if (filtered == 0) {
        return 0;
    }
    // Null: the bound of every compressor this libdeflate can make.
    const std::size_t compressed = libdeflate_zlib_compress_bound(nullptr, filtered);
    if (compressed < filtered || compressed > std::numeric_limits<std::size_t>::max() - filtered) {
        return 0;
    }
    // The sample is at most a few MiB, and small pictures have a small one.
    const std::size_t sample = SampleWorkingBytes(
        SampleFor(DeflatePngSettings{}, width, height, channels).Bytes(channels));
    if (sample > std::numeric_limits<std::size_t>::max() - filtered - compressed) {
        return 0;
    }
    return filtered + compressed + sample;
}

std::size_t DeflatePngEncoder::SampleBytes(const DeflatePngSettings& settings, int width,
                                           int height, int channels, int* bands) {
    if (FilteredImageBytes(width, height, channels) == 0) {
        return 0;
    }
    const SampleBands sample = SampleFor(settings, width, height, channels);
    if (bands != nullptr) {
        *bands = sample.count;
    }
    return sample.Bytes(channels);
}

bool DeflatePngEncoder::FilterSampleRows(const DeflatePngSettings& settings,
                                         const std::uint8_t* pixels, int width, int height,
                                         std::size_t rowstride, int channels, DeflateRows rows,
                                         std::uint8_t* out) {
    if (pixels == nullptr || out == nullptr || FilteredImageBytes(width, height, channels) == 0 ||
        rowstride / static_cast<std::size_t>(channels) < static_cast<std::size_t>(width)) {
        return false;
    }
    return FilterSampleOneWay(pixels, height, rowstride, channels,
                              SampleFor(settings, width, height, channels), rows, out);
}

libdeflate_compressor* DeflatePngEncoder::CompressorFor(int level) const {
    const auto found = std::find_if(settings_.trials.begin(), settings_.trials.end(),
                                    [level](const DeflateTrial& t) { return t.level == level; });
    return found == settings_.trials.end()
               ? nullptr
               : compressors_[static_cast<std::size_t>(found - settings_.trials.begin())];
}

std::optional<DeflatePngChoice> DeflatePngEncoder::Choose(const std::uint8_t* pixels, int width,
                                                          int height, std::size_t rowstride,
                                                          int channels) {
    if (settings_.fixed.has_value()) {
        return settings_.fixed;
    }
    const SampleBands bands = SampleFor(settings_, width, height, channels);
    const std::size_t sampleBytes = bands.Bytes(channels);
    std::uint8_t* rows = sample_.Reserve(SampleWorkingBytes(sampleBytes));
    if (rows == nullptr || !FilterSample(pixels, height, rowstride, channels, bands, rows)) {
        return std::nullopt;
    }
    const std::size_t capacity = SampleCompressedBound(sampleBytes);
    std::uint8_t* out = rows + kDeflateRowChoices * sampleBytes;
    // The unfiltered rows through zlib as the libpng encoder sets it up:
    // level 9, a 32 KiB window, memLevel 8, the default strategy.
    uLongf zlibBytes = static_cast<uLongf>(capacity);
    if (compress2(out, &zlibBytes, rows, static_cast<uLong>(sampleBytes), Z_BEST_COMPRESSION) !=
        Z_OK) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < compressors_.size(); ++i) {
        const DeflateTrial& trial = settings_.trials[i];
        std::optional<std::size_t> best;
        std::size_t bestBytes = 0;
        for (std::size_t way = 0; way < kDeflateRowChoices; ++way) {
            const int gate =
                bands.count == 1 ? trial.oneBandGatePermille[way] : trial.gatePermille[way];
            if (gate <= 0) {
                continue;
            }
            const std::size_t bytes = libdeflate_zlib_compress(
                compressors_[i], rows + way * sampleBytes, sampleBytes, out, capacity);
            if (bytes == 0) {
                return std::nullopt;
            }
            // In whole numbers, so that every machine makes the same choice.
            constexpr std::uint64_t kPermille = 1000;
            const bool admitted = std::uint64_t{bytes} * kPermille <=
                                  std::uint64_t{zlibBytes} * static_cast<std::uint64_t>(gate);
            if (admitted && (!best.has_value() || bytes < bestBytes)) {
                best = way;
                bestBytes = bytes;
            }
        }
        if (best.has_value()) {
            return DeflatePngChoice{false, static_cast<DeflateRows>(*best), trial.level};
        }
    }
    return DeflatePngChoice{true, DeflateRows::kNone, Z_BEST_COMPRESSION};
}

bool DeflatePngEncoder::Encode(const std::uint8_t* pixels, int width, int height,
                               std::size_t rowstride, bool hasAlpha, PngSink sink, void* context) {
    const int channels = hasAlpha ? kRgbaChannels : kRgbChannels;
    const std::size_t filteredBytes = FilteredImageBytes(width, height, channels);
    if (!Valid() || pixels == nullptr || sink == nullptr || filteredBytes == 0 ||
        WorkingBytes(width, height, channels) == 0) {
        return false;
    }
    if (rowstride / static_cast<std::size_t>(channels) < static_cast<std::size_t>(width)) {
        return false;  // rows would overlap
    }
    const DeflatePngChoice zlibChoice{true, DeflateRows::kNone, Z_BEST_COMPRESSION};
    const std::optional<DeflatePngChoice> choice =
        filteredBytes <= settings_.zlibUpToBytes
            ? zlibChoice
            : Choose(pixels, width, height, rowstride, channels);
    if (!choice.has_value()) {
        return false;
    }
    if (choice->zlib) {
        if (!EncodePng(pixels, width, height, rowstride, hasAlpha, ZlibReferencePngSettings(), sink,
                       context)) {
            return false;
        }
        choice_ = *choice;
        return true;
    }
    libdeflate_compressor* compressor = CompressorFor(choice->level);
    std::uint8_t* filtered = filtered_.Reserve(filteredBytes);
    if (compressor == nullptr || filtered == nullptr ||
        !FilterDeflateRows(pixels, width, height, rowstride, channels, choice->rows, filtered)) {
        return false;
    }
    // Room for the worst case, so that a zero from the compressor can only
    // mean that it failed.
    const std::size_t capacity = libdeflate_zlib_compress_bound(compressor, filteredBytes);
    std::uint8_t* compressed = compressed_.Reserve(capacity);
    if (compressed == nullptr) {
        return false;
    }
    const std::size_t compressedBytes =
        libdeflate_zlib_compress(compressor, filtered, filteredBytes, compressed, capacity);
    if (filtered_.Capacity() + compressed_.Capacity() + sample_.Capacity() > kMaxRetainedBytes) {
        filtered_.Reset();  // not kept anyway: gone before the wait on the disk
    }
    if (compressedBytes == 0 || !WriteHeader(width, height, hasAlpha, sink, context)) {
        return false;
    }
    for (std::size_t offset = 0; offset < compressedBytes; offset += settings_.idatChunkBytes) {
        const std::size_t length = std::min(settings_.idatChunkBytes, compressedBytes - offset);
        if (!WriteChunk(kIdat, compressed + offset, length, sink, context)) {
            return false;
        }
    }
    if (!WriteChunk(kIend, nullptr, 0, sink, context)) {
        return false;
    }
    choice_ = *choice;
    return true;
}

void DeflatePngEncoder::TrimBuffers(bool all) {
    if (all ||
        filtered_.Capacity() + compressed_.Capacity() + sample_.Capacity() > kMaxRetainedBytes) {
        filtered_.Reset();
        compressed_.Reset();
        sample_.Reset();
    }
}

}  // namespace corvanta
