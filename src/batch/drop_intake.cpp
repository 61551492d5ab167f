#include "batch/drop_intake.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>

#include <glib.h>

#include "batch/folder_listing.h"
#include "common/parse_integer.h"

namespace corvanta {
namespace {

bool IsFolder(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The job's sizes are 32-bit; a field holds at most five digits, but a
// number typed as "$FFFFFFFFF" must not wrap into a small limit.
int SizeFromField(const std::string& text) {
    const std::int64_t value = ParseInteger(text);
    return static_cast<int>(std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(),
                                                     std::numeric_limits<int>::max()));
}

}  // namespace

bool IsSingleFolderDrop(const std::vector<std::string>& dropped) {
    return dropped.size() == 1 && IsFolder(dropped.front());
}

std::vector<std::string> BuildFileQueue(const std::vector<std::string>& dropped) {
    if (!IsSingleFolderDrop(dropped)) {
        return dropped;
    }
    std::optional<std::vector<std::string>> files =
        ListFolderFiles(dropped.front(), FolderOrder::kDirectory);
    if (!files) {
        return dropped;
    }
    return std::move(*files);
}

bool BuildConversionJob(const DropSettings& settings, std::vector<std::string> queue,
                        ConversionJob& job) {
    gchar* folder =
        g_filename_from_utf8(settings.outputFolder.c_str(), -1, nullptr, nullptr, nullptr);
    if (folder == nullptr) {
        return false;
    }
    job.outputFolder = folder;
    g_free(folder);
    job.maxWidth = SizeFromField(settings.maxWidthText);
    job.maxHeight = SizeFromField(settings.maxHeightText);
    job.quality =
        settings.qualityIndex == kMediumQualityIndex ? kJpegQualityMedium : kJpegQualityHigh;
    job.files = std::move(queue);
    return true;
}

}  // namespace corvanta
