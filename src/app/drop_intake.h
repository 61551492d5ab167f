// Turning a file drop on the window into a batch: the ConversionJob built
// from the output settings as the window shows them (the queue itself comes
// from BuildFileQueue). No widgets here; the window reads its fields.
#pragma once

#include <string>
#include <vector>

#include "batch/conversion_job.h"
#include "ui/user_presets.h"  // the quality items

namespace corvanta {

// The output settings as they stand in the window's fields at drop time.
struct DropSettings {
    std::string outputFolder;  // UTF-8, as shown in the folder field
    std::string maxWidthText;
    std::string maxHeightText;
    int qualityIndex = kHighQualityIndex;  // the quality combo box's active item
};

// The job for queue: sizes read from the field texts (no number means no
// limit), quality 80 for "Medium" and 95 for every other choice. The folder
// text is turned into the file system's encoding; false when it cannot be.
bool BuildConversionJob(const DropSettings& settings, std::vector<std::string> queue,
                        ConversionJob& job);

}  // namespace corvanta
