// Turning a file drop on the window into a batch: which paths are queued and
// the ConversionJob built from the output settings as the window shows them.
// No widgets here; the window reads its fields and calls these.
#pragma once

#include <string>
#include <vector>

#include "batch/conversion_job.h"

namespace corvanta {

// The output settings as they stand in the window's fields at drop time.
struct DropSettings {
    std::string outputFolder;  // UTF-8, as shown in the folder field
    std::string maxWidthText;
    std::string maxHeightText;
    int qualityIndex = 1;  // the quality combo box's active item; 0 is "Medium"
};

constexpr int kMediumQualityIndex = 0;

// The paths to convert, in conversion order. A single dropped folder is
// expanded one level deep, in directory order, leaving out subfolders and
// names that begin with a dot; it may come out empty. Anything else (several
// items, or one file) is queued as dropped. A single folder that cannot be
// listed is queued as itself, so that the conversion reports it as an error
// instead of calling it empty.
std::vector<std::string> BuildFileQueue(const std::vector<std::string>& dropped);

// Whether a single dropped item is a folder that BuildFileQueue expands.
bool IsSingleFolderDrop(const std::vector<std::string>& dropped);

// The job for queue: sizes read from the field texts (no number means no
// limit), quality 80 for "Medium" and 95 for every other choice. The folder
// text is turned into the file system's encoding; false when it cannot be.
bool BuildConversionJob(const DropSettings& settings, std::vector<std::string> queue,
                        ConversionJob& job);

}  // namespace corvanta
