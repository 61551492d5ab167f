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

namespace {

// Which options the command line has given, for the rules between them.
struct GivenOptions {
    bool output = false;
    bool scheme = false;
    bool preset = false;
    bool exportLut = false;
    bool lutSize = false;
    std::vector<std::string> conversionSettings;  // options an export has no use for
};

bool TakesValue(const std::string& name) {
    return name == "--output" || name == "--scheme" || name == "--preset" || name == "--max-size" ||
           name == "--quality" || name == "--jobs" || name == "--export-lut" ||
           name == "--lut-size";
}

// Reads the value of one option into options; the problem, or nothing.
std::optional<std::string> ApplyScheme(const std::string& name, const std::string& value,
                                       ConvertOptions& options, GivenOptions& given) {
    if (name == "--scheme") {
        const std::optional<ColorScheme> scheme = ParseSchemeText(value);
        if (!scheme) {
            return "scheme text must hold exactly nine 0x items: " + Quoted(value);
        }
        options.scheme = *scheme;
        options.schemeName = FormatSchemeText(*scheme);
        given.scheme = true;
        return std::nullopt;
    }
    const std::optional<Preset> preset = FindBuiltInPresetRow(value);
    if (!preset) {
        return "unknown preset " + Quoted(value) + " (see --list-presets)";
    }
    options.scheme = preset->slots;
    options.schemeName = TrimmedPresetName(*preset);
    given.preset = true;
    return std::nullopt;
}

std::optional<std::string> ApplyConversionSetting(const std::string& name, const std::string& value,
                                                  ConvertOptions& options, GivenOptions& given) {
    given.conversionSettings.push_back(name);
    if (name == "--max-size") {
        if (!ParseMaxSize(value, options.maxWidth, options.maxHeight)) {
            return "--max-size wants WxH with whole numbers, 0 for no limit: " + Quoted(value);
        }
    } else if (name == "--quality") {
        const std::optional<int> quality = ParseQuality(value);
        if (!quality) {
            return "--quality wants medium, high or 1 to 100: " + Quoted(value);
        }
        options.quality = *quality;
    } else {  // --jobs
        const std::optional<int> jobs = ParseCount(value, kMaxJobs);
        if (!jobs || *jobs < 1) {
            return "--jobs wants a number from 1 to " + std::to_string(kMaxJobs) + ": " +
                   Quoted(value);
        }
        options.jobs = *jobs;
    }
    return std::nullopt;
}

std::optional<std::string> ApplyValue(const std::string& name, const std::string& value,
                                      ConvertOptions& options, GivenOptions& given) {
    if (name == "--output") {
        if (value.empty()) {
            return "the output folder is empty";
        }
        options.outputFolder = value;
        given.output = true;
    } else if (name == "--scheme" || name == "--preset") {
        return ApplyScheme(name, value, options, given);
    } else if (name == "--export-lut") {
        options.lutFile = value;
        given.exportLut = true;
    } else if (name == "--lut-size") {
        const std::optional<int> size = ParseCount(value, kLutMaxSize);
        if (!size || *size < kLutMinSize) {
            return "--lut-size wants a number from " + std::to_string(kLutMinSize) + " to " +
                   std::to_string(kLutMaxSize) + ": " + Quoted(value);
        }
        options.lutSize = *size;
        given.lutSize = true;
    } else {
        return ApplyConversionSetting(name, value, options, given);
    }
    return std::nullopt;
}

std::optional<std::string> CheckExport(ConvertOptions& options, const GivenOptions& given) {
    const std::optional<LutFileFormat> format = LutFileFormatFor(options.lutFile);
    if (!format) {
        return "--export-lut wants a file name ending in .cube or .png: " + Quoted(options.lutFile);
    }
    if (!options.inputs.empty()) {
        return "--export-lut converts nothing, so it takes no paths: " +
               Quoted(options.inputs.front());
    }
    if (given.output) {
        return std::string("--export-lut names its file in full and takes no --output");
    }
    if (given.lutSize && *format == LutFileFormat::kHaldPng) {
        return "--lut-size is for .cube files: a Hald CLUT (.png) always has " +
               std::to_string(kHaldLutSize) + " points per channel";
    }
    if (!given.conversionSettings.empty()) {
        return given.conversionSettings.front() + " does not apply to --export-lut";
    }
    options.action = ConvertAction::kExportLut;
    return std::nullopt;
}

// The rules between options, once every value has been read.
std::optional<std::string> CheckCombination(ConvertOptions& options, const GivenOptions& given) {
    if (options.action == ConvertAction::kListPresets) {
        return std::nullopt;
    }
    if (given.scheme && given.preset) {
        return std::string("--scheme and --preset exclude each other");
    }
    if (given.exportLut) {
        return CheckExport(options, given);
    }
    if (given.lutSize) {
        return std::string("--lut-size is for --export-lut");
    }
    if (!given.output) {
        return std::string("missing --output DIR (see --help)");
    }
    if (options.inputs.empty()) {
        return std::string("no files or folders to convert");
    }
    return std::nullopt;
}

}  // namespace

ParsedOptions ParseConvertOptions(const std::vector<std::string>& args) {
    ConvertOptions options;
    const Preset defaultPreset = *FindBuiltInPresetRow(kDefaultPresetName);
    options.scheme = defaultPreset.slots;
    options.schemeName = TrimmedPresetName(defaultPreset);
    GivenOptions given;
    const auto fail = [](std::string message) {
        return ParsedOptions{std::nullopt, std::move(message)};
    };
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            options.inputs.push_back(arg);  // "-" alone is a file name too
            continue;
        }
        optionsEnded = arg == "--";
        // Both "--name value" and "--name=value".
        const std::size_t eq = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
        const std::string name = arg.substr(0, eq);
        const bool inlineValue = eq != std::string::npos;
        if (optionsEnded) {
            continue;
        }
        if ((name == "--help" || name == "--version") && !inlineValue) {
            options.action = name == "--help" ? ConvertAction::kHelp : ConvertAction::kVersion;
            return {options, {}};
        }
        if (name == "--list-presets" && !inlineValue) {
            options.action = ConvertAction::kListPresets;
            continue;
        }
        if (!TakesValue(name)) {
            return fail("unknown option " + Quoted(arg) + " (see --help)");
        }
        if (!inlineValue && i + 1 >= args.size()) {
            return fail("option " + name + " needs a value");
        }
        const std::string value = inlineValue ? arg.substr(eq + 1) : args[++i];
        if (std::optional<std::string> problem = ApplyValue(name, value, options, given)) {
            return fail(std::move(*problem));
        }
    }
    if (std::optional<std::string> problem = CheckCombination(options, given)) {
        return fail(std::move(*problem));
    }
    return {options, {}};
}

}  // namespace corvanta
