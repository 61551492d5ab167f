// PNG encoding of an 8-bit RGB or RGBA pixel buffer through libpng and
// zlib, with the bytes handed to a sink in pieces. Outputs are written by
// deflate_png_encoder.h, which falls back to this encoder for the pictures
// libdeflate does not compress well enough; it is also the yardstick that
// encoder is held to in the tests and benchmarks. No files here: the
// output writer owns those.
#pragma once

#include <cstddef>
#include <cstdint>

#include <zlib.h>

namespace corvanta {

struct PngSettings {
    int compressionLevel = Z_BEST_COMPRESSION;
    int strategy = Z_DEFAULT_STRATEGY;
    // zlib's memLevel: the size of its hash tables (1 to 9).
    int memLevel = 8;
    // zlib's windowBits: log2 of the sliding window (9 to 15).
    int windowBits = 15;
    // Size of libpng's deflate output buffer, which is also the largest IDAT
    // chunk written.
    std::size_t zlibBufferBytes = 8192;
};

// Receives the encoded bytes; returns false to abandon the encoding. Must not
// throw: it is called from inside libpng.
using PngSink = bool (*)(void* context, const std::uint8_t* data, std::size_t length);

// The yardstick and the fallback: zlib level 9, the default strategy,
// filter None, 256 KiB IDAT chunks.
PngSettings ZlibReferencePngSettings();

// Writes a complete PNG: colour type 6 when hasAlpha, else 2; 8 bits per
// sample; no interlacing; filter None on every row; rows top-down. Only the
// first width * channels bytes of each row are read. Returns false on any
// libpng error or when the sink refuses bytes.
bool EncodePng(const std::uint8_t* pixels, int width, int height, std::size_t rowstride,
               bool hasAlpha, const PngSettings& settings, PngSink sink, void* context);

}  // namespace corvanta
