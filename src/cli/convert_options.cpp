#include "cli/convert_options.h"

#include <charconv>
#include <limits>

#include "batch/lut_export.h"
#include "common/ascii.h"
#include "scheme/scheme_text.h"

namespace corvanta {
namespace {

constexpr std::size_t kListingNameColumn = 24;

bool IsBuiltInRow(int row) {
    return row < kFirstUserPresetRow && row != kSeparatorRowA && row != kSeparatorRowB;
}

// Plain decimal digits only (no sign, no blanks), within [0, max].
std::optional<int> ParseCount(std::string_view text, int max) {
    if (text.empty()) {
        return std::nullopt;
    }
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0 || value > max) {
        return std::nullopt;
    }
    return value;
}

std::optional<int> ParseQuality(std::string_view text) {
    if (EqualsIgnoringAsciiCase(text, "high")) {
        return kJpegQualityHigh;
    }
    if (EqualsIgnoringAsciiCase(text, "medium")) {
        return kJpegQualityMedium;
    }
    const std::optional<int> value = ParseCount(text, 100);
    if (!value || *value < 1) {
        return std::nullopt;
    }
    return value;
}

bool ParseMaxSize(std::string_view text, int& width, int& height) {
    const std::size_t x = text.find_first_of("xX");
    if (x == std::string_view::npos) {
        return false;
    }
    const int kLimit = std::numeric_limits<int>::max();
    const std::optional<int> w = ParseCount(text.substr(0, x), kLimit);
    const std::optional<int> h = ParseCount(text.substr(x + 1), kLimit);
    if (!w || !h) {
        return false;
    }
    width = *w;
    height = *h;
    return true;
}

std::string Quoted(std::string_view text) {
    std::string quoted = "'";
    quoted.append(text);
    quoted.push_back('\'');
    return quoted;
}

std::optional<Preset> FindBuiltInPresetRow(std::string_view name) {
    const PresetTable table = MakePresetTable();
    for (int row = 0; row < kPresetRows; ++row) {
        const Preset& preset = table.rows[static_cast<std::size_t>(row)];
        if (IsBuiltInRow(row) && EqualsIgnoringAsciiCase(TrimmedPresetName(preset), name)) {
            return preset;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<ColorScheme> FindBuiltInPreset(std::string_view name) {
    const std::optional<Preset> preset = FindBuiltInPresetRow(name);
    if (!preset) {
        return std::nullopt;
    }
    return preset->slots;
}

std::string PresetListing() {
    const PresetTable table = MakePresetTable();
    std::string listing;
    for (int row = 0; row < kPresetRows; ++row) {
        if (!IsBuiltInRow(row)) {
            continue;
        }
        const Preset& preset = table.rows[static_cast<std::size_t>(row)];
        std::string line(TrimmedPresetName(preset));
        line.resize(std::max(line.size() + 1, kListingNameColumn), ' ');
        line += FormatSchemeText(preset.slots);
        line.push_back('\n');
        listing += line;
    }
    return listing;
}

std::string UsageText() {
    return "Usage:\n"
           "  corvanta-convert --output DIR [--scheme TEXT | --preset NAME] [--max-size WxH]\n"
           "                   [--quality medium|high|1-100] [--jobs N] PATH...\n"
           "  corvanta-convert --export-lut FILE [--lut-size N] [--scheme TEXT | --preset NAME]\n"
           "  corvanta-convert --list-presets\n"
           "  corvanta-convert --help | --version\n"
           "\n"
           "Recolours every image by its luminance through a colour scheme and writes\n"
           "it into DIR: JPEG input as JPEG, any other image as PNG. Existing files are\n"
           "never replaced; a taken name gets a date suffix.\n"
           "\n"
           "  PATH             an image file or a folder (its files, one level deep,\n"
           "                   hidden ones left out, in name order)\n"
           "  --output DIR     the output folder (must exist and be writable)\n"
           "  --scheme TEXT    a scheme line as copied from the window, nine 0x items:\n"
           "                   \"!dd 0xff000000,...,0xffffffff\"\n"
           "  --preset NAME    a built-in scheme by name, any case (default: Gray)\n"
           "  --max-size WxH   fit images into W x H pixels, 0 = no limit (default 8192x8192)\n"
           "  --quality Q      JPEG quality: medium (80), high (95, default) or 1-100\n"
           "  --jobs N         files converted at a time (default: one per processor)\n"
           "  --list-presets   print the built-in schemes with their scheme lines\n"
           "  --export-lut FILE\n"
           "                   convert nothing, but write the scheme as a 3D lookup table\n"
           "                   for other programs: a .cube table, or for a FILE ending in\n"
           "                   .png a level-8 Hald CLUT (512 x 512); never over a file\n"
           "  --lut-size N     grid points per channel of a .cube, 2 to 256 (default 65)\n"
           "\n"
           "Prints one line per file and the total time. Exit status: 0 when every file\n"
           "was written, 1 when any failed, 2 for a usage error, 130 when interrupted.\n";
}

ParsedOptions ParseConvertOptions(const std::vector<std::string>& args) {
    ConvertOptions options;
    const Preset defaultPreset = *FindBuiltInPresetRow(kDefaultPresetName);
    options.scheme = defaultPreset.slots;
    options.schemeName = TrimmedPresetName(defaultPreset);
    bool haveOutput = false;
    bool haveScheme = false;
    bool havePreset = false;
    bool haveExport = false;
    bool haveLutSize = false;
    std::vector<std::string> conversionSettings;  // options an export has no use for
    bool optionsEnded = false;

    auto fail = [](std::string message) { return ParsedOptions{std::nullopt, std::move(message)}; };

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            options.inputs.push_back(arg);  // "-" alone is a file name too
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        // Both "--name value" and "--name=value".
        std::string name = arg;
        std::optional<std::string> inlineValue;
        if (const std::size_t eq = arg.find('=');
            arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            inlineValue = arg.substr(eq + 1);
        }
        const auto flag = [&]() -> bool { return !inlineValue.has_value(); };
        std::string value;
        const auto takeValue = [&]() -> bool {
            if (inlineValue) {
                value = *inlineValue;
                return true;
            }
            if (i + 1 >= args.size()) {
                return false;
            }
            value = args[++i];
            return true;
        };

        if (name == "--help" && flag()) {
            options.action = ConvertAction::kHelp;
            return {options, {}};
        }
        if (name == "--version" && flag()) {
            options.action = ConvertAction::kVersion;
            return {options, {}};
        }
        if (name == "--list-presets" && flag()) {
            options.action = ConvertAction::kListPresets;
            continue;
        }
        const bool takesValue = name == "--output" || name == "--scheme" || name == "--preset" ||
                                name == "--max-size" || name == "--quality" || name == "--jobs" ||
                                name == "--export-lut" || name == "--lut-size";
        if (!takesValue) {
            return fail("unknown option " + Quoted(arg) + " (see --help)");
        }
        if (!takeValue()) {
            return fail("option " + name + " needs a value");
        }
        if (name == "--output") {
            if (value.empty()) {
                return fail("the output folder is empty");
            }
            options.outputFolder = value;
            haveOutput = true;
        } else if (name == "--scheme") {
            const std::optional<ColorScheme> scheme = ParseSchemeText(value);
            if (!scheme) {
                return fail("scheme text must hold exactly nine 0x items: " + Quoted(value));
            }
            options.scheme = *scheme;
            options.schemeName = FormatSchemeText(*scheme);
            haveScheme = true;
        } else if (name == "--preset") {
            const std::optional<Preset> preset = FindBuiltInPresetRow(value);
            if (!preset) {
                return fail("unknown preset " + Quoted(value) + " (see --list-presets)");
            }
            options.scheme = preset->slots;
            options.schemeName = TrimmedPresetName(*preset);
            havePreset = true;
        } else if (name == "--export-lut") {
            options.lutFile = value;
            haveExport = true;
        } else if (name == "--lut-size") {
            const std::optional<int> size = ParseCount(value, kLutMaxSize);
            if (!size || *size < kLutMinSize) {
                return fail("--lut-size wants a number from " + std::to_string(kLutMinSize) +
                            " to " + std::to_string(kLutMaxSize) + ": " + Quoted(value));
            }
            options.lutSize = *size;
            haveLutSize = true;
        } else if (name == "--max-size") {
            conversionSettings.push_back(name);
            if (!ParseMaxSize(value, options.maxWidth, options.maxHeight)) {
                return fail("--max-size wants WxH with whole numbers, 0 for no limit: " +
                            Quoted(value));
            }
        } else if (name == "--quality") {
            conversionSettings.push_back(name);
            const std::optional<int> quality = ParseQuality(value);
            if (!quality) {
                return fail("--quality wants medium, high or 1 to 100: " + Quoted(value));
            }
            options.quality = *quality;
        } else {  // --jobs
            conversionSettings.push_back(name);
            const std::optional<int> jobs = ParseCount(value, kMaxJobs);
            if (!jobs || *jobs < 1) {
                return fail("--jobs wants a number from 1 to " + std::to_string(kMaxJobs) + ": " +
                            Quoted(value));
            }
            options.jobs = *jobs;
        }
    }

    if (options.action == ConvertAction::kListPresets) {
        return {options, {}};
    }
    if (haveScheme && havePreset) {
        return fail("--scheme and --preset exclude each other");
    }
    if (haveExport) {
        const std::optional<LutFileFormat> format = LutFileFormatFor(options.lutFile);
        if (!format) {
            return fail("--export-lut wants a file name ending in .cube or .png: " +
                        Quoted(options.lutFile));
        }
        if (!options.inputs.empty()) {
            return fail("--export-lut converts nothing, so it takes no paths: " +
                        Quoted(options.inputs.front()));
        }
        if (haveOutput) {
            return fail("--export-lut names its file in full and takes no --output");
        }
        if (haveLutSize && *format == LutFileFormat::kHaldPng) {
            return fail("--lut-size is for .cube files: a Hald CLUT (.png) always has " +
                        std::to_string(kHaldLutSize) + " points per channel");
        }
        if (!conversionSettings.empty()) {
            return fail(conversionSettings.front() + " does not apply to --export-lut");
        }
        options.action = ConvertAction::kExportLut;
        return {options, {}};
    }
    if (haveLutSize) {
        return fail("--lut-size is for --export-lut");
    }
    if (!haveOutput) {
        return fail("missing --output DIR (see --help)");
    }
    if (options.inputs.empty()) {
        return fail("no files or folders to convert");
    }
    return {options, {}};
}

}  // namespace corvanta
