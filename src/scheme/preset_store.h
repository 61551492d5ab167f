// Corvanta.dat: the eight user presets and the output settings, read once at
// start-up and written once at exit.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "scheme/color_scheme.h"

namespace corvanta {

constexpr char kPresetStoreFileName[] = "Corvanta.dat";
constexpr char kPresetStoreFolderName[] = "corvanta";  // in the user's configuration folder
constexpr std::array<char, 4> kPresetStoreMagic = {'C', 'V', '1', '0'};
constexpr std::size_t kUserPresetBlockSize = sizeof(Preset) * kUserPresetCount;  // 480
constexpr std::size_t kPresetStoreSize = 16 + kUserPresetBlockSize;              // 496

// What the file keeps besides the presets: the two "Max size" numbers and the
// index of the "Jpeg quality" choice (0 "Medium", 1 "High").
struct StoredSettings {
    std::int32_t maxWidth = 8192;
    std::int32_t maxHeight = 8192;
    std::int32_t qualityIndex = 1;
};

// Applies a file's bytes to settings and the user rows of table. Returns false
// (changing nothing) unless the bytes start with the magic. A file that ends
// early gives 0 for every field beyond its end, keeps the low-order bytes of a
// field cut in the middle, and changes only as many preset bytes as it holds.
bool ApplyPresetStoreBytes(const std::uint8_t* data, std::size_t length, StoredSettings& settings,
                           PresetTable& table);

// The 496 bytes that represent settings and the user rows of table.
std::array<std::uint8_t, kPresetStoreSize> SerializePresetStore(const StoredSettings& settings,
                                                                const PresetTable& table);

// Reads the file at path into settings and table. A missing, unreadable or
// foreign file (or anything but a regular file) changes nothing.
bool LoadPresetStoreFile(const std::string& path, StoredSettings& settings, PresetTable& table);

// The places the file may live in.
struct PresetStorePlaces {
    std::string programDirectory;  // the running program's folder, ends with '/'
    // The folder a package installs the programs into (ends with '/'): it
    // belongs to the system, even when the user running it is root.
    std::string installedProgramDirectory;
    std::string configDirectory;  // the user's configuration folder
};

// Where the file is read from and written to. A copy of the program in a
// folder of its own keeps it beside itself, so that such a copy can be
// carried around: when the file is already there, or when the folder is
// the user's to write (and is not the installed programs' folder). Every
// other program keeps it in configDirectory/corvanta/. A file beside the
// program always wins, so it is never left behind for the other place.
std::string PresetStorePath(const PresetStorePlaces& places);

// Writes the file at path, creating it (and a missing last folder) when missing. A non-empty file that
// does not start with the magic is never overwritten; a longer file is cut to
// 496 bytes. Returns true when everything was written.
bool SavePresetStoreFile(const std::string& path, const StoredSettings& settings,
                         const PresetTable& table);

}  // namespace corvanta
