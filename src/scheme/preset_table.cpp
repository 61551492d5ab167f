#include "scheme/color_scheme.h"

namespace corvanta {
namespace {

constexpr Preset MakePreset(std::string_view name, ColorScheme slots) {
    Preset preset{};
    for (std::size_t i = 0; i < kPresetNameLength; ++i) {
        preset.name[i] = i < name.size() ? name[i] : ' ';
    }
    preset.slots = slots;
    return preset;
}

// Row order matters: list rows, the store file's block and the clipboard all
// address presets by row number, so "Gray" leads and the rest follow the
// order of the original list even where it is not strictly alphabetical.
constexpr std::array<Preset, kPresetRows> kBuiltInRows = {{
    MakePreset("Gray", {0xFF000000, 0, 0, 0, 0, 0, 0, 0, 0xFFFFFFFF}),
    MakePreset("-", {0, 0, 0, 0, 0, 0, 0, 0, 0}),
    MakePreset("Autumn", {0xFF000000, 0, 0xFF000099, 0, 0xFF008D99, 0, 0xFF55C6FF, 0, 0xFFFFFFFF}),
    MakePreset("Black & white", {0xFF000000, 0, 0, 0xFF000000, 0, 0xFFFFFFFF, 0, 0, 0xFFFFFFFF}),
    MakePreset("Blue", {0xFF000000, 0, 0, 0, 0xFFFF9060, 0, 0, 0xFFFFFF80, 0xFFFFFFFF}),
    MakePreset("Blue magenta", {0xFF800000, 0, 0, 0, 0xFFFF80FF, 0, 0, 0, 0xFFFFFFFF}),
    MakePreset("Deep green", {0xFF000000, 0, 0, 0, 0xFF008D00, 0, 0, 0, 0xFFFFFFFF}),
    MakePreset("Faded red", {0xFF000000, 0, 0, 0, 0xFF7864B4, 0, 0, 0, 0xFFFFFFFF}),
    MakePreset("Gray (high contrast)", {0xFF000000, 0xFF101010, 0xFF202020, 0xFF404040, 0,
                                        0xFFC0C0C0, 0xFFE0E0E0, 0xFFF0F0F0, 0xFFFFFFFF}),
    MakePreset("Heat camera", {0xFF000000, 0xFFFF0000, 0xFFE08000, 0xFF00FF00, 0xFF00FFFF,
                               0xFF00D0FF, 0, 0xFF0000FF, 0xFFFFFFFF}),
    MakePreset("Ice", {0xFF000000, 0, 0, 0, 0xFFFFC666, 0, 0xFFFFFFCC, 0, 0xFFFFFFFF}),
    MakePreset("Inverted gray", {0xFFFFFFFF, 0, 0, 0, 0, 0, 0, 0, 0xFF000000}),
    MakePreset("Mystery", {0xFF000000, 0, 0, 0xFFAA0099, 0, 0, 0xFFAAE266, 0, 0xFFFFFFFF}),
    MakePreset("Ocean", {0xFF000000, 0, 0xFF115211, 0, 0xFFAD8F1E, 0, 0xFFD6CB99, 0, 0xFFFFFFFF}),
    MakePreset("Sepia old", {0xFF144270, 0xFF144270, 0, 0, 0, 0, 0, 0xFFF0FCFF, 0xFFF0FCFF}),
    MakePreset("Sepia modern", {0xFF000000, 0, 0xFF144270, 0, 0, 0, 0, 0, 0xFFFFFFFF}),
    MakePreset("Sepia silver", {0xFF000000, 0, 0xFF144270, 0, 0, 0, 0xFFC8C8B8, 0, 0xFFFFFFFF}),
    MakePreset("Summer", {0xFF000033, 0, 0xFF005599, 0, 0xFF558DFF, 0, 0, 0xFFAAFFFF, 0xFFFFFFFF}),
    MakePreset("Touch of pink", {0xFF000000, 0, 0, 0xFF6E6367, 0, 0, 0xFFB9ADEA, 0, 0xFFFFFFFF}),
    MakePreset("Warm brown", {0xFF000000, 0, 0xFF000066, 0, 0, 0, 0xFF55C6FF, 0, 0xFFFFFFFF}),
    MakePreset("-", {0, 0, 0, 0, 0, 0, 0, 0, 0}),
    MakePreset("User preset 1", {}),
    MakePreset("User preset 2", {}),
    MakePreset("User preset 3", {}),
    MakePreset("User preset 4", {}),
    MakePreset("User preset 5", {}),
    MakePreset("User preset 6", {}),
    MakePreset("User preset 7", {}),
    MakePreset("User preset 8", {}),
}};

}  // namespace

PresetTable MakePresetTable() {
    PresetTable table;
    table.rows = kBuiltInRows;
    table.terminator = 0;
    return table;
}

std::string_view TrimmedPresetName(const Preset& preset) {
    std::size_t length = kPresetNameLength;
    while (length > 0 && (preset.name[length - 1] == ' ' || preset.name[length - 1] == '\0')) {
        --length;
    }
    return {preset.name.data(), length};
}

}  // namespace corvanta
