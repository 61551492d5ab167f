#include "tone/lut_file.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string>

#include "common/ascii.h"
#include "common/path_parts.h"

namespace corvanta {
namespace {

constexpr int kCubeDecimals = 6;  // steps of 1e-6: finer than 16 bits
constexpr std::size_t kCubeRowBytes = 64;
constexpr int kMaxLevel = kColorLevels - 1;

bool IsControl(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
}

double Clamped(float value) {
    return std::clamp(static_cast<double>(value), 0.0, 1.0);
}

bool Put(LutSink sink, void* context, std::string_view text) {
    return sink(context, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

}  // namespace

std::optional<LutFileFormat> LutFileFormatFor(std::string_view path) {
    const std::string_view name = FileNamePart(path);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) {
        return std::nullopt;
    }
    const std::string extension = AsciiLowered(std::string(name.substr(dot + 1)));
    if (extension == "cube") {
        return LutFileFormat::kCube;
    }
    if (extension == "png") {
        return LutFileFormat::kHaldPng;
    }
    return std::nullopt;
}

bool WriteCubeText(const LutTable& lut, std::string_view title, LutSink sink, void* context,
                   const std::atomic<bool>& stop) {
    std::string header = "TITLE \"";
    for (const char c : title) {
        if (c != '"' && !IsControl(c)) {
            header.push_back(c);
        }
    }
    header +=
        "\"\nLUT_3D_SIZE " + std::to_string(lut.size) + "\nDOMAIN_MIN 0 0 0\nDOMAIN_MAX 1 1 1\n";
    if (!Put(sink, context, header)) {
        return false;
    }
    // to_chars ignores the locale: a .cube has a decimal point whatever the
    // user's language writes.
    std::array<char, kCubeRowBytes> row{};
    const auto rowsPerPlane = static_cast<std::size_t>(lut.size) * lut.size;
    for (std::size_t i = 0; i < lut.Points(); ++i) {
        // A large table takes seconds to write: Ctrl+C need not wait for it.
        if (i % rowsPerPlane == 0 && stop.load()) {
            return false;
        }
        char* end = row.data();
        for (std::size_t ch = 0; ch < kLutChannels; ++ch) {
            end = std::to_chars(end, row.data() + row.size(), Clamped(lut.channels[ch][i]),
                                std::chars_format::fixed, kCubeDecimals)
                      .ptr;
            *end++ = ch + 1 < kLutChannels ? ' ' : '\n';
        }
        if (!Put(sink, context, std::string_view(row.data(), end - row.data()))) {
            return false;
        }
    }
    return true;
}

std::vector<std::uint8_t> HaldPixels(const LutTable& lut) {
    if (lut.size != kHaldLutSize) {
        return {};
    }
    // The grid points lie red fastest, then green, then blue, as the Hald
    // image's pixels do: the image is the table in order.
    std::vector<std::uint8_t> pixels(kLutChannels * lut.Points());
    for (std::size_t i = 0; i < lut.Points(); ++i) {
        for (std::size_t ch = 0; ch < kLutChannels; ++ch) {
            pixels[kLutChannels * i + ch] =
                static_cast<std::uint8_t>(std::lround(Clamped(lut.channels[ch][i]) * kMaxLevel));
        }
    }
    return pixels;
}

}  // namespace corvanta
