// The command line of corvanta-convert: what it asks for, parsed without
// touching the file system.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/conversion_job.h"
#include "scheme/color_scheme.h"
#include "tone/lut_table.h"

namespace corvanta {

constexpr std::string_view kConvertProgramName = "corvanta-convert";
constexpr std::string_view kDefaultPresetName = "Gray";
constexpr int kMaxJobs = 256;

enum class ConvertAction { kConvert, kExportLut, kListPresets, kHelp, kVersion };

struct ConvertOptions {
    ConvertAction action = ConvertAction::kConvert;
    std::string outputFolder;
    ColorScheme scheme{};            // the "Gray" preset unless --scheme or --preset says otherwise
    std::string schemeName;          // the preset's name, or the scheme line for --scheme
    int maxWidth = kDefaultMaxSide;  // 0: no limit
    int maxHeight = kDefaultMaxSide;
    int quality = kJpegQualityHigh;
    int jobs = 0;  // 0: one per processor
    std::vector<std::string> inputs;
    std::string lutFile;  // kExportLut: a .cube or .png file to create
    int lutSize = kLutDefaultSize;
};

struct ParsedOptions {
    std::optional<ConvertOptions> options;  // set when the command line is valid
    std::string error;                      // otherwise one line naming the problem
};

// args are the arguments after the program name.
ParsedOptions ParseConvertOptions(const std::vector<std::string>& args);

// A built-in preset (not a separator or user preset) by its name as the
// preset list shows it, ignoring ASCII case.
std::optional<ColorScheme> FindBuiltInPreset(std::string_view name);

// One line per built-in preset: its name, padded, and its scheme text.
std::string PresetListing();

std::string UsageText();

}  // namespace corvanta
