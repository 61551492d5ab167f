#include "app/drop_intake.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include <glib.h>

#include "common/parse_integer.h"

namespace corvanta {
bool BuildConversionJob(const DropSettings& settings, std::vector<std::string> queue,
                        ConversionJob& job) {
    gchar* folder =
        g_filename_from_utf8(settings.outputFolder.c_str(), -1, nullptr, nullptr, nullptr);
    if (folder == nullptr) {
        return false;
    }
    job.outputFolder = folder;
    g_free(folder);
    job.maxWidth = ParseInteger32(settings.maxWidthText);
    job.maxHeight = ParseInteger32(settings.maxHeightText);
    job.quality =
        settings.qualityIndex == kMediumQualityIndex ? kJpegQualityMedium : kJpegQualityHigh;
    job.files = std::move(queue);
    return true;
}

}  // namespace corvanta
