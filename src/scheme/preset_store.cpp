#include "scheme/preset_store.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

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

// Opens path without ever blocking (a FIFO named Corvanta.dat would otherwise
// hang the window) and only when it is a regular file.
int OpenRegularFile(const std::string& path, int flags, mode_t mode = 0) {
    const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, mode);
    if (fd < 0) {
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::size_t ReadUpTo(int fd, std::uint8_t* buffer, std::size_t wanted) {
    std::size_t total = 0;
    while (total < wanted) {
        const ssize_t got = ::read(fd, buffer + total, wanted - total);
        if (got <= 0) {
            break;
        }
        total += static_cast<std::size_t>(got);
    }
    return total;
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

bool LoadPresetStoreFile(const std::string& path, StoredSettings& settings, PresetTable& table) {
    const int fd = OpenRegularFile(path, O_RDONLY);
    if (fd < 0) {
        return false;
    }
    // Only the first 496 bytes matter; anything longer is read no further.
    std::array<std::uint8_t, kPresetStoreSize> bytes{};
    const std::size_t length = ReadUpTo(fd, bytes.data(), bytes.size());
    ::close(fd);
    return ApplyPresetStoreBytes(bytes.data(), length, settings, table);
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

bool SavePresetStoreFile(const std::string& path, const StoredSettings& settings,
                         const PresetTable& table) {
    // The configuration folder of a user who never saved settings before
    // may not exist yet.
    const std::string::size_type slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0 &&
        g_mkdir_with_parents(path.substr(0, slash).c_str(), 0700) != 0) {
        return false;
    }
    const int fd = OpenRegularFile(path, O_RDWR | O_CREAT, 0644);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        ::close(fd);
        return false;
    }
    if (info.st_size > 0) {
        std::array<std::uint8_t, kPresetStoreMagic.size()> head{};
        if (ReadUpTo(fd, head.data(), head.size()) != head.size() ||
            !StartsWithMagic(head.data(), head.size())) {
            ::close(fd);  // someone else's file: leave it exactly as it is
            return false;
        }
    }
    const auto bytes = SerializePresetStore(settings, table);
    bool ok = ::lseek(fd, 0, SEEK_SET) == 0;
    std::size_t written = 0;
    while (ok && written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n <= 0) {
            ok = false;
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    if (ok) {
        ok = ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0;
    }
    return ::close(fd) == 0 && ok;
}

}  // namespace corvanta
