#include "scheme/preset_store.h"

#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "common/path_parts.h"
#include "scheme/folder_key_file.h"
#include "scheme/store_file.h"

namespace corvanta {
namespace {

constexpr std::size_t kMaxWidthOffset = 4;
constexpr std::size_t kMaxHeightOffset = 8;
constexpr std::size_t kQualityOffset = 12;
constexpr std::size_t kPresetBlockOffset = 16;

// A little-endian 32-bit field; bytes beyond the end count as zero.
std::int32_t ReadField(const std::uint8_t* data, std::size_t length, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        if (offset + i < length) {
            value |= static_cast<std::uint32_t>(data[offset + i]) << (8 * i);
        }
    }
    return static_cast<std::int32_t>(value);
}

void WriteField(std::uint8_t* out, std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    for (std::size_t i = 0; i < 4; ++i) {
        out[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
}

// The user rows as the file holds them: names as raw bytes, colours
// little-endian whatever the host order.
void PresetToBytes(const Preset& preset, std::uint8_t* out) {
    std::memcpy(out, preset.name.data(), kPresetNameLength);
    for (std::size_t slot = 0; slot < preset.slots.size(); ++slot) {
        WriteField(out + kPresetNameLength + 4 * slot,
                   static_cast<std::int32_t>(preset.slots[slot]));
    }
}

bool StartsWithMagic(const std::uint8_t* data, std::size_t length) {
    return length >= kPresetStoreMagic.size() &&
           std::memcmp(data, kPresetStoreMagic.data(), kPresetStoreMagic.size()) == 0;
}

using store_file::ReadResult;

// The first 496 bytes of the file; anything longer is read no further.
struct StoreBytes {
    std::array<std::uint8_t, kPresetStoreSize> bytes{};
    StoreResult result;
    std::size_t length = 0;
};

StoreBytes ReadStoreBytes(const std::string& path) {
    StoreBytes read;
    const ReadResult got = store_file::ReadStart(path, read.bytes.data(), read.bytes.size());
    read.length = got.length;
    if (got.kind == ReadResult::Kind::kFailed) {
        read.result = {StoreStatus::kFailed, got.reason};
    } else if (got.kind == ReadResult::Kind::kMissing || got.length == 0) {
        read.result.status = StoreStatus::kMissing;
    } else if (!StartsWithMagic(read.bytes.data(), got.length)) {
        read.result = {StoreStatus::kForeign, path + " is not a Corvanta preset file"};
    }
    return read;
}

void ApplyChange(const PresetStoreChange& change, StoredSettings& settings, PresetTable& table) {
    if (change.settings) {
        settings = *change.settings;
    }
    for (int i = 0; i < kUserPresetCount; ++i) {
        const auto& colours = change.userPresets[static_cast<std::size_t>(i)];
        if (colours) {
            table.rows[static_cast<std::size_t>(kFirstUserPresetRow + i)].slots = *colours;
        }
    }
}

bool ChangesStoreBytes(const PresetStoreChange& change) {
    return change.settings || std::any_of(change.userPresets.begin(), change.userPresets.end(),
                                          [](const auto& colours) { return colours.has_value(); });
}

}  // namespace

bool ApplyPresetStoreBytes(const std::uint8_t* data, std::size_t length, StoredSettings& settings,
                           PresetTable& table) {
    if (data == nullptr || !StartsWithMagic(data, length)) {
        return false;
    }
    settings.maxWidth = ReadField(data, length, kMaxWidthOffset);
    settings.maxHeight = ReadField(data, length, kMaxHeightOffset);
    settings.qualityIndex = ReadField(data, length, kQualityOffset);

    std::array<std::uint8_t, kUserPresetBlockSize> block{};
    for (int i = 0; i < kUserPresetCount; ++i) {
        PresetToBytes(table.rows[static_cast<std::size_t>(kFirstUserPresetRow + i)],
                      block.data() + sizeof(Preset) * static_cast<std::size_t>(i));
    }
    const std::size_t present =
        length > kPresetBlockOffset ? std::min(length - kPresetBlockOffset, block.size()) : 0;
    std::memcpy(block.data(), data + kPresetBlockOffset, present);
    for (int i = 0; i < kUserPresetCount; ++i) {
        Preset& preset = table.rows[static_cast<std::size_t>(kFirstUserPresetRow + i)];
        const std::uint8_t* in = block.data() + sizeof(Preset) * static_cast<std::size_t>(i);
        std::memcpy(preset.name.data(), in, kPresetNameLength);
        for (std::size_t slot = 0; slot < preset.slots.size(); ++slot) {
            preset.slots[slot] = static_cast<std::uint32_t>(
                ReadField(in, kPresetNameLength + 4 * kSchemeSlots, kPresetNameLength + 4 * slot));
        }
    }
    return true;
}

std::array<std::uint8_t, kPresetStoreSize> SerializePresetStore(const StoredSettings& settings,
                                                                const PresetTable& table) {
    std::array<std::uint8_t, kPresetStoreSize> bytes{};
    std::memcpy(bytes.data(), kPresetStoreMagic.data(), kPresetStoreMagic.size());
    WriteField(bytes.data() + kMaxWidthOffset, settings.maxWidth);
    WriteField(bytes.data() + kMaxHeightOffset, settings.maxHeight);
    WriteField(bytes.data() + kQualityOffset, settings.qualityIndex);
    for (int i = 0; i < kUserPresetCount; ++i) {
        PresetToBytes(
            table.rows[static_cast<std::size_t>(kFirstUserPresetRow + i)],
            bytes.data() + kPresetBlockOffset + sizeof(Preset) * static_cast<std::size_t>(i));
    }
    return bytes;
}

StoreResult LoadPresetStoreFile(const std::string& path, StoredSettings& settings,
                                PresetTable& table) {
    const StoreBytes read = ReadStoreBytes(path);
    if (read.result.status == StoreStatus::kDone) {
        ApplyPresetStoreBytes(read.bytes.data(), read.length, settings, table);
    }
    return read.result;
}

bool IsEmpty(const PresetStoreChange& change) {
    return !change.outputFolder && !ChangesStoreBytes(change);
}

std::string PresetStorePath(const PresetStorePlaces& places) {
    const std::string beside = places.programDirectory + kPresetStoreFileName;
    struct stat info {};
    if (::lstat(beside.c_str(), &info) == 0) {
        return beside;
    }
    const bool installed = !places.installedProgramDirectory.empty() &&
                           places.programDirectory == places.installedProgramDirectory;
    if (!installed && ::access(places.programDirectory.c_str(), W_OK) == 0) {
        return beside;
    }
    return places.configDirectory + "/" + kPresetStoreFolderName + "/" + kPresetStoreFileName;
}

StoreResult UpdatePresetStoreFile(const std::string& path, const PresetStoreChange& change) {
    const std::string target = store_file::FollowLinks(path);
    const std::string folder = FolderOf(target);
    // The configuration folder of a user who never saved settings before
    // may not exist yet.
    if (g_mkdir_with_parents(folder.c_str(), 0700) != 0) {
        return {StoreStatus::kFailed, store_file::ErrorReason(folder, errno)};
    }
    const store_file::FolderLock lock(folder);
    std::string folderProblem;
    if (change.outputFolder) {
        folderProblem = WriteRememberedFolder(FolderKeyFilePath(target), *change.outputFolder);
    }
    if (!ChangesStoreBytes(change)) {
        return folderProblem.empty() ? StoreResult{}
                                     : StoreResult{StoreStatus::kFailed, std::move(folderProblem)};
    }
    const StoreBytes read = ReadStoreBytes(target);
    if (read.result.status == StoreStatus::kFailed || read.result.status == StoreStatus::kForeign) {
        return read.result;
    }
    StoredSettings settings;
    PresetTable table = MakePresetTable();
    ApplyPresetStoreBytes(read.bytes.data(), read.length, settings, table);
    ApplyChange(change, settings, table);
    const auto bytes = SerializePresetStore(settings, table);
    std::string problem = store_file::Replace(target, bytes.data(), bytes.size());
    if (!problem.empty()) {
        return {StoreStatus::kFailed, std::move(problem)};
    }
    if (!folderProblem.empty()) {
        return {StoreStatus::kFailed, std::move(folderProblem)};
    }
    return {};
}

}  // namespace corvanta
