// A scheme's lookup table as other programs read it: the .cube text and the
// pixels of the level-8 Hald CLUT image.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "tone/lut_table.h"

namespace corvanta {

enum class LutFileFormat { kCube, kHaldPng };

// By the extension of the file's name, in any case: .cube or .png.
std::optional<LutFileFormat> LutFileFormatFor(std::string_view path);

// Where the bytes of a file go; false stops the writing.
using LutSink = bool (*)(void* context, const std::uint8_t* data, std::size_t length);

// TITLE (title without double quotes and control characters), LUT_3D_SIZE,
// DOMAIN_MIN 0 0 0, DOMAIN_MAX 1 1 1, then one "r g b" row per grid point,
// red fastest, six decimals (finer than 16 bits), whatever the locale. False
// when the sink refuses bytes or stop is set.
bool WriteCubeText(const LutTable& lut, std::string_view title, LutSink sink, void* context,
                   const std::atomic<bool>& stop);

// A 64-point table as the 512 x 512 RGB pixels of a Hald CLUT, pixel
// x + 512 y holding grid point x + 512 y, rounded to whole levels; empty for
// a table of another size.
std::vector<std::uint8_t> HaldPixels(const LutTable& lut);

}  // namespace corvanta
