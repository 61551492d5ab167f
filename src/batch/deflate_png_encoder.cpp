#include "batch/deflate_png_encoder.h"

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <limits>

#include "tone/pixbuf_format.h"

namespace corvanta {
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
    return sink(context, head.data(), head.size()) && (length == 0 || sink(context, data, length)) &&
           sink(context, tail.data(), tail.size());
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

}  // namespace

DeflatePngEncoder::DeflatePngEncoder(const DeflatePngSettings& settings)
    : settings_(settings),
      compressor_(settings.level >= kDeflateFastestLevel && settings.level <= kDeflateSmallestLevel
                      ? libdeflate_alloc_compressor(settings.level)
                      : nullptr) {
    settings_.idatChunkBytes = std::clamp<std::size_t>(settings_.idatChunkBytes, 1, kLargestChunk);
}

DeflatePngEncoder::~DeflatePngEncoder() {
    libdeflate_free_compressor(compressor_);
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
    return filtered + compressed;
}

bool DeflatePngEncoder::Encode(const std::uint8_t* pixels, int width, int height,
                               std::size_t rowstride, bool hasAlpha, PngSink sink, void* context) {
    const int channels = hasAlpha ? kRgbaChannels : kRgbChannels;
    const std::size_t filteredBytes = FilteredImageBytes(width, height, channels);
    if (compressor_ == nullptr || pixels == nullptr || sink == nullptr || filteredBytes == 0 ||
        WorkingBytes(width, height, channels) == 0) {
        return false;
    }
    if (rowstride / static_cast<std::size_t>(channels) < static_cast<std::size_t>(width)) {
        return false;  // rows would overlap
    }
    if (filteredBytes <= settings_.zlibUpToBytes) {
        return EncodePng(pixels, width, height, rowstride, hasAlpha, ZlibReferencePngSettings(),
                         sink, context);
    }
    std::uint8_t* filtered = filtered_.Reserve(filteredBytes);
    if (filtered == nullptr || !FilterImageRows(pixels, width, height, rowstride, channels,
                                                settings_.filter, filtered)) {
        return false;
    }
    // Room for the worst case, so that a zero from the compressor can only
    // mean that it failed.
    const std::size_t capacity = libdeflate_zlib_compress_bound(compressor_, filteredBytes);
    std::uint8_t* compressed = compressed_.Reserve(capacity);
    if (compressed == nullptr) {
        return false;
    }
    const std::size_t compressedBytes =
        libdeflate_zlib_compress(compressor_, filtered, filteredBytes, compressed, capacity);
    if (filtered_.Capacity() + compressed_.Capacity() > kMaxRetainedBytes) {
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
    return WriteChunk(kIend, nullptr, 0, sink, context);
}

void DeflatePngEncoder::TrimBuffers() {
    if (filtered_.Capacity() + compressed_.Capacity() > kMaxRetainedBytes) {
        filtered_.Reset();
        compressed_.Reset();
    }
}

}  // namespace corvanta
