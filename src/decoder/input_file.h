// Opening an input picture once, by descriptor: every loader reads from the
// descriptor opened here, so a path that is swapped for something else (a
// FIFO, another file) after its check can no longer reach them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "codecs/image_loader.h"
#include "common/scoped_fd.h"

namespace corvanta {

// Why an input could not be opened.
enum class InputProblem {
    kNone,
    kNotFound,
    kNoPermission,
    kUnreadable,
    kFolder,
    kNotRegular,
    kOutOfMemory,
    kTooManyFiles,
};

struct InputFile {
    ScopedFd fd;            // open for reading; valid only without a problem
    std::int64_t size = 0;  // bytes, from fstat on fd
    InputProblem problem = InputProblem::kNone;
    bool Opened() const { return problem == InputProblem::kNone; }
};

// Opens path without blocking (a FIFO or device never holds the open up)
// and without becoming the controlling terminal, and accepts it only when
// fstat on the opened descriptor shows a regular file. A symbolic link is
// followed: it is what the user handed us.
InputFile OpenInputFile(const std::string& path);

// A JPEG file read by the batch's own loader (LoadJpegScaled), opened as
// the batch opens it; null when it cannot be opened or read.
PixbufPtr LoadJpegFile(JpegDecoder& decoder, const std::string& path, int maxWidth, int maxHeight,
                       std::uint8_t* orientation = nullptr);

}  // namespace corvanta
