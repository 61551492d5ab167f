#include "batch/failure_reason.h"

#include <cerrno>

namespace corvanta::failure_reason {

std::string_view ForWriteError(int error) {
    switch (error) {
        case ENOSPC:
        case EDQUOT:
            return kDiskFull;
        case ENOENT:
        case ENOTDIR:
        case ESTALE:
            return kOutputGone;
        case EROFS:
            return kOutputReadOnly;
        case EACCES:
        case EPERM:
            return kNoWritePermission;
        case EMFILE:
        case ENFILE:
            return kTooManyFiles;
        case ENOMEM:
            return kOutOfMemory;
        default:
            return kNotWritten;
    }
}

std::string_view ForInput(InputProblem problem) {
    switch (problem) {
        case InputProblem::kNone:
            break;
        case InputProblem::kNotFound:
            return kNotFound;
        case InputProblem::kNoPermission:
            return kNoPermission;
        case InputProblem::kUnreadable:
            return kUnreadable;
        case InputProblem::kFolder:
            return kFolder;
        case InputProblem::kNotRegular:
            return kNotRegular;
        case InputProblem::kOutOfMemory:
            return kOutOfMemory;
        case InputProblem::kTooManyFiles:
            return kTooManyFiles;
    }
    return {};
}

std::string_view ForDecode(DecodeProblem problem) {
    switch (problem) {
        case DecodeProblem::kNone:
            break;
        case DecodeProblem::kNotAnImage:
            return kNotAnImage;
        case DecodeProblem::kTooLarge:
            return kTooLarge;
        case DecodeProblem::kTookTooLong:
            return kTookTooLong;
        case DecodeProblem::kUndecodable:
            return kUndecodable;
        case DecodeProblem::kDecoderKilled:
            return kDecoderKilled;
        case DecodeProblem::kStoppedResponding:
            return kStoppedResponding;
        case DecodeProblem::kNoDecoder:
            return kNoDecoder;
        case DecodeProblem::kOutOfMemory:
            return kOutOfMemory;
        case DecodeProblem::kNeedsTempFolder:
            return kNeedsTempFolder;
        case DecodeProblem::kTooManyFiles:
            return kTooManyFiles;
        case DecodeProblem::kForbiddenCall:
            return kForbiddenCall;
    }
    return {};
}

}  // namespace corvanta::failure_reason
