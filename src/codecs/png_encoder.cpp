#include "codecs/png_encoder.h"

#include <png.h>

namespace corvanta {
namespace {

constexpr int kBitDepth = 8;

struct SinkBinding {
    PngSink sink;
    void* context;
};

// libpng reports errors by longjmp back into EncodePng. Everything between
// the setjmp and these callbacks is libpng's C code or the plain functions
// below, so no C++ destructor is ever skipped.
void OnPngError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void OnPngWarning(png_structp, png_const_charp) {}

void OnPngWrite(png_structp png, png_bytep data, size_t length) {
    const auto* binding = static_cast<const SinkBinding*>(png_get_io_ptr(png));
    if (!binding->sink(binding->context, data, length)) {
        png_error(png, "write failed");
    }
}

void OnPngFlush(png_structp) {}

constexpr std::size_t kReferenceBufferBytes = std::size_t{256} << 10;

}  // namespace

PngSettings ZlibReferencePngSettings() {
    PngSettings settings;
    settings.compressionLevel = Z_BEST_COMPRESSION;
    settings.strategy = Z_DEFAULT_STRATEGY;
    settings.zlibBufferBytes = kReferenceBufferBytes;
    return settings;
}

// A plain C-style function on purpose: it holds no object with a destructor
// while the setjmp is armed.
bool EncodePng(const std::uint8_t* pixels, int width, int height, std::size_t rowstride,
               bool hasAlpha, const PngSettings& settings, PngSink sink, void* context) {
    if (pixels == nullptr || width < 1 || height < 1 || sink == nullptr) {
        return false;
    }
    SinkBinding binding{sink, context};
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
    if (png == nullptr) {
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &binding, OnPngWrite, OnPngFlush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
                 kBitDepth, hasAlpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(png, settings.compressionLevel);
    png_set_compression_strategy(png, settings.strategy);
    png_set_compression_mem_level(png, settings.memLevel);
    png_set_compression_window_bits(png, settings.windowBits);
    png_set_compression_buffer_size(png, settings.zlibBufferBytes);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
        png_write_row(png, pixels + static_cast<std::size_t>(y) * rowstride);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace corvanta
