#include "decoder/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

namespace corvanta {

InputFile OpenInputFile(const std::string& path) {
    InputFile input;
    input.fd = ScopedFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!input.fd.Valid()) {
        switch (errno) {
            case ENOENT:
            case ENOTDIR:
                input.problem = InputProblem::kNotFound;
                break;
            case EACCES:
            case EPERM:
                input.problem = InputProblem::kNoPermission;
                break;
            case ENOMEM:
                input.problem = InputProblem::kOutOfMemory;
                break;
            case EMFILE:
            case ENFILE:
                input.problem = InputProblem::kTooManyFiles;
                break;
            default:
                input.problem = InputProblem::kUnreadable;
                break;
        }
        return input;
    }
    struct stat info {};
    if (::fstat(input.fd.Get(), &info) != 0) {
        input.problem = InputProblem::kUnreadable;
    } else if (S_ISDIR(info.st_mode)) {
        input.problem = InputProblem::kFolder;
    } else if (!S_ISREG(info.st_mode)) {
        input.problem = InputProblem::kNotRegular;
    }
    if (!input.Opened()) {
        input.fd.Reset();
        return input;
    }
    input.size = info.st_size;
    return input;
}

PixbufPtr LoadJpegFile(JpegDecoder& decoder, const std::string& path, int maxWidth, int maxHeight,
                       std::uint8_t* orientation) {
    const InputFile input = OpenInputFile(path);
    if (!input.Opened()) {
        return nullptr;
    }
    return LoadJpegScaled(decoder, input.fd.Get(), input.size, maxWidth, maxHeight, orientation);
}

}  // namespace corvanta
