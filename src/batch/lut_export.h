// Writing a scheme's lookup table for other programs: the .cube text and the
// level-8 Hald CLUT image. Both go into an unnamed file that is published in
// one step under exactly the name the user gave, never over anything there.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <string_view>

#include "batch/output_writer.h"
#include "tone/lut_table.h"

namespace corvanta {

enum class LutFileFormat { kCube, kHaldPng };

// By the extension of the file's name, in any case: .cube or .png.
std::optional<LutFileFormat> LutFileFormatFor(std::string_view path);

enum class LutWrite { kWritten, kTaken, kFailed, kCancelled };

// Writes lut into output (opened in path's folder) and names it path.
// .cube: TITLE (title without double quotes and control characters),
// LUT_3D_SIZE, DOMAIN_MIN 0 0 0, DOMAIN_MAX 1 1 1, then one "r g b" row per
// grid point, red fastest, six decimals (finer than 16 bits). Hald: a 64-point
// table as a 512 x 512 RGB PNG, pixel x + 512 y holding grid point x + 512 y,
// values rounded to whole levels. errno says why after kFailed. Once stop is
// set the file is dropped unnamed.
LutWrite WriteLutFile(PendingOutput& output, const LutTable& lut, LutFileFormat format,
                      std::string_view title, const std::string& path,
                      const std::atomic<bool>& stop);

}  // namespace corvanta
