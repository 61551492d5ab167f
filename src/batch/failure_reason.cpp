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

}  // namespace corvanta::failure_reason
