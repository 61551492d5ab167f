// Corvanta.dat: the eight user presets and the output settings. Read once at
// start-up; updated each time a window stores a preset and once more at its
// close, each update changing only what that window changed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
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

// How a read or an update of the file went.
enum class StoreStatus {
    kDone,
    kMissing,  // no file, or an empty one: nothing to read, an update creates it
    kForeign,  // another kind of file under the name: never read, never overwritten
    kFailed,   // could not be opened, read or written
};

struct StoreResult {
    StoreStatus status = StoreStatus::kDone;
    std::string reason;  // for the user, unless done or missing
};

// Reads the file at path into settings and table; anything but kDone
// changes nothing. A folder, a FIFO or any other kind of file, a refused
// open and an I/O error are kFailed: such a file is not to be written over.
StoreResult LoadPresetStoreFile(const std::string& path, StoredSettings& settings,
                                PresetTable& table);

// What one window changes in the file: the colours of the user presets it
// stored (index 0 is user preset 1) and, at its close, the output settings.
struct PresetStoreChange {
    std::array<std::optional<ColorScheme>, kUserPresetCount> userPresets{};
    std::optional<StoredSettings> settings;
    // The output folder (UTF-8), kept in the key file beside the store.
    std::optional<std::string> outputFolder;
};

bool IsEmpty(const PresetStoreChange& change);

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

// Reads the file at path again, applies change to what it holds (to the
// defaults and the built-in names when there is no file) and replaces it
// with the 496 bytes of the result, so what other windows stored meanwhile
// stays. Missing folders are made. A symbolic link is followed and its
// target replaced. A file that cannot be read, or a foreign one, is left
// exactly as it is; so is the old file when the new one cannot be written
// whole. Another program's update of the same file waits for this one.
StoreResult UpdatePresetStoreFile(const std::string& path, const PresetStoreChange& change);

}  // namespace corvanta
