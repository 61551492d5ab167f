#include "decoder/decoder_protocol.h"

#include "tone/pixbuf_format.h"

namespace corvanta::decoder {
namespace {

constexpr int kRowAlignment = 4;

}  // namespace

std::int64_t RowBytes(std::int32_t width, bool hasAlpha) {
    const std::int64_t bytes = std::int64_t{width} * (hasAlpha ? kRgbaChannels : kRgbChannels);
    return (bytes + kRowAlignment - 1) / kRowAlignment * kRowAlignment;
}

}  // namespace corvanta::decoder
