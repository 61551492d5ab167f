// Opening an input picture once, by descriptor: every loader reads from the
// descriptor opened here, so a path that is swapped for something else (a
// FIFO, another file) after its check can no longer reach them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "batch/scoped_fd.h"

namespace corvanta {

struct InputFile {
    ScopedFd fd;               // open for reading; valid only when problem is empty
    std::int64_t size = 0;     // bytes, from fstat on fd
    std::string_view problem;  // a failure reason, or empty
};

// Opens path without blocking (a FIFO or device never holds the open up)
// and without becoming the controlling terminal, and accepts it only when
// fstat on the opened descriptor shows a regular file. A symbolic link is
// followed: it is what the user handed us.
InputFile OpenInputFile(const std::string& path);

// Reads exactly length bytes at offset, whatever the descriptor's position.
bool ReadAt(int fd, void* data, std::size_t length, std::int64_t offset);

}  // namespace corvanta
