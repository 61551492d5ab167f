#include "batch/lut_export.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <vector>

#include "codecs/deflate_png_encoder.h"
#include "common/scoped_fd.h"

namespace corvanta {
namespace {

constexpr std::size_t kWriteBufferBytes = std::size_t{64} << 10;
constexpr int kCubeDecimals = 6;  // steps of 1e-6: finer than 16 bits
constexpr std::size_t kCubeRowBytes = 64;
constexpr int kMaxLevel = kColorLevels - 1;

// Collects the many small pieces of a file into few system calls.
class BufferedWriter {
  public:
    explicit BufferedWriter(int fd) : fd_(fd), buffer_(kWriteBufferBytes) {}

    bool Append(const void* data, std::size_t length) {
        if (length > buffer_.size() - used_) {
            if (!Flush()) {
                return false;
            }
            if (length >= buffer_.size()) {
                return WriteFully(fd_, data, length);
            }
        }
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        std::copy(bytes, bytes + length, buffer_.begin() + static_cast<std::ptrdiff_t>(used_));
        used_ += length;
        return true;
    }

    bool Flush() {
        const bool ok = WriteFully(fd_, buffer_.data(), used_);
        used_ = 0;
        return ok;
    }

  private:
    int fd_;
    std::size_t used_ = 0;
    std::vector<std::uint8_t> buffer_;
};

bool AppendPng(void* context, const std::uint8_t* data, std::size_t length) {
    return static_cast<BufferedWriter*>(context)->Append(data, length);
}

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsControl(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
}

double Clamped(float value) {
    return std::clamp(static_cast<double>(value), 0.0, 1.0);
}

bool WriteCube(BufferedWriter& out, const LutTable& lut, std::string_view title,
               const std::atomic<bool>& stop) {
    std::string header = "TITLE \"";
    for (const char c : title) {
        if (c != '"' && !IsControl(c)) {
            header.push_back(c);
        }
    }
    header +=
        "\"\nLUT_3D_SIZE " + std::to_string(lut.size) + "\nDOMAIN_MIN 0 0 0\nDOMAIN_MAX 1 1 1\n";
    if (!out.Append(header.data(), header.size())) {
        return false;
    }
    // to_chars ignores the locale: a .cube has a decimal point whatever the
    // user's language writes.
    std::array<char, kCubeRowBytes> row{};
    const auto rowsPerPlane = static_cast<std::size_t>(lut.size) * lut.size;
    for (std::size_t i = 0; i < lut.Points(); ++i) {
        // A large table takes seconds to write: Ctrl+C need not wait for it.
        if (i % rowsPerPlane == 0 && stop.load()) {
            return false;
        }
        char* end = row.data();
        for (std::size_t ch = 0; ch < kLutChannels; ++ch) {
            end = std::to_chars(end, row.data() + row.size(), Clamped(lut.channels[ch][i]),
                                std::chars_format::fixed, kCubeDecimals)
                      .ptr;
            *end++ = ch + 1 < kLutChannels ? ' ' : '\n';
        }
        if (!out.Append(row.data(), static_cast<std::size_t>(end - row.data()))) {
            return false;
        }
    }
    return out.Flush();
}

bool WriteHald(BufferedWriter& out, const LutTable& lut) {
    if (lut.size != kHaldLutSize) {
        errno = EINVAL;
        return false;
    }
    // The grid points lie red fastest, then green, then blue, as the Hald
    // image's pixels do: the image is the table in order.
    std::vector<std::uint8_t> pixels(kLutChannels * lut.Points());
    for (std::size_t i = 0; i < lut.Points(); ++i) {
        for (std::size_t ch = 0; ch < kLutChannels; ++ch) {
            pixels[kLutChannels * i + ch] =
                static_cast<std::uint8_t>(std::lround(Clamped(lut.channels[ch][i]) * kMaxLevel));
        }
    }
    // The same encoder as every PNG output.
    DeflatePngEncoder encoder;
    return encoder.Valid() &&
           encoder.Encode(pixels.data(), kHaldImageSide, kHaldImageSide,
                          static_cast<std::size_t>(kHaldImageSide) * kLutChannels, false, AppendPng,
                          &out) &&
           out.Flush();
}

}  // namespace

std::optional<LutFileFormat> LutFileFormatFor(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) {
        return std::nullopt;
    }
    std::string extension(name.substr(dot + 1));
    std::transform(extension.begin(), extension.end(), extension.begin(), AsciiLower);
    if (extension == "cube") {
        return LutFileFormat::kCube;
    }
    if (extension == "png") {
        return LutFileFormat::kHaldPng;
    }
    return std::nullopt;
}

LutWrite WriteLutFile(PendingOutput& output, const LutTable& lut, LutFileFormat format,
                      std::string_view title, const std::string& path,
                      const std::atomic<bool>& stop) {
    BufferedWriter writer(output.Fd());
    bool written = false;
    if (lut.size < kLutMinSize) {
        errno = EINVAL;
    } else {
        written = format == LutFileFormat::kCube ? WriteCube(writer, lut, title, stop)
                                                 : WriteHald(writer, lut);
    }
    if (stop.load()) {
        output.Discard();
        return LutWrite::kCancelled;
    }
    if (!written) {
        const int error = errno;
        output.Discard();
        errno = error;
        return LutWrite::kFailed;
    }
    switch (output.PublishExactly(path)) {
        case PendingOutput::Named::kPublished:
            return LutWrite::kWritten;
        case PendingOutput::Named::kTaken:
            return LutWrite::kTaken;
        case PendingOutput::Named::kFailed:
            break;
    }
    return LutWrite::kFailed;
}

}  // namespace corvanta
