#include "batch/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "batch/failure_reason.h"

namespace corvanta {

InputFile OpenInputFile(const std::string& path) {
    InputFile input;
    input.fd = ScopedFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!input.fd.Valid()) {
        switch (errno) {
            case ENOENT:
            case ENOTDIR:
                input.problem = failure_reason::kNotFound;
                break;
            case EACCES:
            case EPERM:
                input.problem = failure_reason::kNoPermission;
                break;
            case ENOMEM:
                input.problem = failure_reason::kOutOfMemory;
                break;
            case EMFILE:
            case ENFILE:
                input.problem = failure_reason::kTooManyFiles;
                break;
            default:
                input.problem = failure_reason::kUnreadable;
                break;
        }
        return input;
    }
    struct stat info {};
    if (::fstat(input.fd.Get(), &info) != 0) {
        input.problem = failure_reason::kUnreadable;
    } else if (S_ISDIR(info.st_mode)) {
        input.problem = failure_reason::kFolder;
    } else if (!S_ISREG(info.st_mode)) {
        input.problem = failure_reason::kNotRegular;
    }
    if (!input.problem.empty()) {
        input.fd.Reset();
        return input;
    }
    input.size = info.st_size;
    return input;
}

bool ReadAt(int fd, void* data, std::size_t length, std::int64_t offset) {
    auto* p = static_cast<unsigned char*>(data);
    return TransferFully(p, length, [fd, p, offset](unsigned char* at, std::size_t n) {
        return ::pread(fd, at, n, static_cast<off_t>(offset + (at - p)));
    });
}

}  // namespace corvanta
