// The colour scheme model: nine gradient stops, the 60-byte preset record and
// the 29-row preset table that the preset list, the store file and the
// clipboard exchange all work on.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

namespace corvanta {

// Slot k stands at gradient position 256 * k. A slot is a 32-bit colour with
// red in the low byte (hexadecimal AABBGGRR); 0 means empty.
constexpr int kSchemeSlots = 9;
using ColorScheme = std::array<std::uint32_t, kSchemeSlots>;

// Alpha 0xFF and no colour: opaque black, and the alpha of every colour the
// program writes.
constexpr std::uint32_t kOpaqueAlpha = 0xFF000000u;
constexpr std::uint32_t kOpaqueWhite = 0xFFFFFFFFu;

// The largest value of one colour component.
constexpr int kComponentMax = 255;

constexpr std::uint8_t SlotRed(std::uint32_t c) {
    return static_cast<std::uint8_t>(c);
}
constexpr std::uint8_t SlotGreen(std::uint32_t c) {
    return static_cast<std::uint8_t>(c >> 8);
}
constexpr std::uint8_t SlotBlue(std::uint32_t c) {
    return static_cast<std::uint8_t>(c >> 16);
}
constexpr std::uint8_t SlotAlpha(std::uint32_t c) {
    return static_cast<std::uint8_t>(c >> 24);
}

constexpr std::uint32_t MakeOpaqueColor(int red, int green, int blue) {
    return kOpaqueAlpha | static_cast<std::uint32_t>(red & 0xFF) |
           (static_cast<std::uint32_t>(green & 0xFF) << 8) |
           (static_cast<std::uint32_t>(blue & 0xFF) << 16);
}

// A preset as it lies in memory and in Corvanta.dat: a blank-padded ASCII
// name without terminator, then the nine slots (little-endian on disk; the
// store file converts explicitly, so the in-memory order is native).
constexpr std::size_t kPresetNameLength = 24;
struct Preset {
    std::array<char, kPresetNameLength> name;
    ColorScheme slots;
};
static_assert(sizeof(Preset) == 60, "a preset record is 60 bytes");
static_assert(std::is_trivially_copyable_v<Preset>);

constexpr int kPresetRows = 29;
constexpr int kSeparatorRowA = 1;
constexpr int kSeparatorRowB = 20;
constexpr int kFirstUserPresetRow = 21;
constexpr int kUserPresetCount = 8;

// The rows back to back, then the zero byte where a 30th record's name
// would begin: the table's layout as a block of records. The preset list
// shows the rows up to the first whose name starts with 0.
struct PresetTable {
    std::array<Preset, kPresetRows> rows;
    char terminator = 0;
};
static_assert(sizeof(Preset) * kPresetRows == 1740);

// A fresh copy of the built-in table (user presets empty).
PresetTable MakePresetTable();

// The name without its trailing blanks, for display and look-ups.
std::string_view TrimmedPresetName(const Preset& preset);

}  // namespace corvanta
