#include "batch/lut_export.h"

#include <sys/stat.h>

#include <cerrno>
#include <new>
#include <optional>
#include <vector>

#include "codecs/deflate_png_encoder.h"
#include "common/buffered_writer.h"
#include "common/path_parts.h"

namespace corvanta {
namespace {

using Outcome = LutExportResult::Outcome;

bool WriteHald(BufferedWriter& out, const LutTable& lut) {
    const std::vector<std::uint8_t> pixels = HaldPixels(lut);
    if (pixels.empty()) {
        errno = EINVAL;
        return false;
    }
    DeflatePngEncoder encoder;
    return encoder.Valid() &&
           encoder.Encode(pixels.data(), kHaldImageSide, kHaldImageSide,
                          static_cast<std::size_t>(kHaldImageSide) * kLutChannels, false,
                          BufferedWriter::AppendTo, &out);
}

LutExportResult Ended(Outcome outcome, int error = 0) {
    LutExportResult result;
    result.outcome = outcome;
    result.error = error;
    return result;
}

// The unnamed file, or why there is none.
std::optional<LutExportResult> OpenFor(const std::string& path, PendingOutput& output) {
    // Asked early so that nobody waits for a table that cannot be written;
    // publishing asks again and never replaces what is there by then.
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) == 0) {
        return Ended(Outcome::kExists);
    }
    if (output.Open(path)) {
        return std::nullopt;
    }
    LutExportResult result = Ended(Outcome::kCannotWrite, output.Error());
    result.folderPath = FolderOf(path);
    result.folder = CheckOutputFolder(result.folderPath);
    if (result.folder != OutputFolderCheck::kFine) {
        result.outcome = Outcome::kFolderProblem;
    }
    return result;
}

}  // namespace

LutWrite WriteLutFile(PendingOutput& output, const LutTable& lut, LutFileFormat format,
                      std::string_view title, const std::string& path,
                      const std::atomic<bool>& stop) {
    BufferedWriter writer(output.Fd());
    bool written = false;
    if (lut.size < kLutMinSize) {
        errno = EINVAL;
    } else {
        written = (format == LutFileFormat::kCube
                       ? WriteCubeText(lut, title, BufferedWriter::AppendTo, &writer, stop)
                       : WriteHald(writer, lut)) &&
                  writer.Flush();
        errno = writer.Error() != 0 ? writer.Error() : errno;
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

LutExportResult ExportLut(const ColorScheme& scheme, std::string_view title,
                          const std::string& path, int cubeSize, const std::atomic<bool>& stop) {
    const std::optional<LutFileFormat> format = LutFileFormatFor(path);
    if (!format) {
        return Ended(Outcome::kNotALutName);
    }
    PendingOutput output;  // the unnamed file goes with it whichever way this ends
    if (std::optional<LutExportResult> problem = OpenFor(path, output)) {
        return *problem;
    }
    const bool hald = *format == LutFileFormat::kHaldPng;
    const int size = hald ? kHaldLutSize : cubeSize;
    LutWrite written = LutWrite::kFailed;
    try {
        LutTable lut;
        {
            const ExactColorMap map = MapEveryColor(scheme);
            lut = FitLut(map, size, hald ? LutPrecision::kEightBit : LutPrecision::kFine, stop);
        }
        if (stop.load()) {
            return Ended(Outcome::kCancelled);
        }
        written = WriteLutFile(output, lut, *format, title, path, stop);
    } catch (const std::bad_alloc&) {
        LutExportResult result = Ended(Outcome::kNoMemory);
        result.size = size;
        return result;
    }
    switch (written) {
        case LutWrite::kWritten:
            return Ended(Outcome::kWritten);
        case LutWrite::kTaken:
            return Ended(Outcome::kExists);
        case LutWrite::kCancelled:
            return Ended(Outcome::kCancelled);
        case LutWrite::kFailed:
            break;
    }
    return Ended(Outcome::kCannotWrite, errno);
}

}  // namespace corvanta
