#include "batch/drop_intake.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include <glib.h>

#include "common/parse_integer.h"

namespace corvanta {
namespace {

// The job's sizes are 32-bit; a field holds at most five digits, but a
// number typed as "$FFFFFFFFF" must not wrap into a small limit.
int SizeFromField(const std::string& text) {
    const std::int64_t value = ParseInteger(text);
    return static_cast<int>(std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(),
                                                     std::numeric_limits<int>::max()));
}

}  // namespace

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
