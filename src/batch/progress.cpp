#include "batch/progress.h"

#include "batch/display_name.h"

namespace corvanta {

std::string FileStatusLine(ProgressKind kind, std::string_view name, std::string_view reason) {
    std::string_view word;
    switch (kind) {
        case ProgressKind::kLoading:
            word = kLoadingPrefix;
            break;
        case ProgressKind::kSaving:
            word = kSavingPrefix;
            break;
        case ProgressKind::kDone:
            word = kDonePrefix;
            break;
        case ProgressKind::kFailed:
            word = kErrorPrefix;
            break;
        case ProgressKind::kCancelled:
            word = kCancelledPrefix;
            break;
        case ProgressKind::kThumbnail:
        case ProgressKind::kRemaining:
        case ProgressKind::kFinished:
            break;
    }
    std::string line(word);
    line += EscapedName(name);
    if (!reason.empty()) {
        line += " (";
        line += reason;
        line += ')';
    }
    return line;
}

}  // namespace corvanta
