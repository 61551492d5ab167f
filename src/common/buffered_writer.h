// Gathers many small writes to a descriptor (a PNG's chunk heads, a .cube's
// rows) into few system calls; large pieces go straight through.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/scoped_fd.h"

namespace corvanta {

class BufferedWriter {
  public:
    static constexpr std::size_t kBufferBytes = std::size_t{64} << 10;

    explicit BufferedWriter(int fd) : fd_(fd), buffer_(kBufferBytes) {}

    bool Append(const void* data, std::size_t length) {
        if (length > buffer_.size() - used_) {
            if (!Flush()) {
                return false;
            }
            if (length >= buffer_.size()) {
                return Write(data, length);
            }
        }
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        std::copy(bytes, bytes + length, buffer_.begin() + static_cast<std::ptrdiff_t>(used_));
        used_ += length;
        return true;
    }

    bool Flush() {
        const bool ok = Write(buffer_.data(), used_);
        used_ = 0;
        return ok;
    }

    // The errno of a write that failed, 0 while none has.
    int Error() const { return error_; }

    // For byte sinks that take a function and a context.
    static bool AppendTo(void* writer, const std::uint8_t* data, std::size_t length) {
        return static_cast<BufferedWriter*>(writer)->Append(data, length);
    }

  private:
    bool Write(const void* data, std::size_t length) {
        if (WriteFully(fd_, data, length)) {
            return true;
        }
        error_ = errno;
        return false;
    }

    int fd_;
    int error_ = 0;
    std::size_t used_ = 0;
    std::vector<std::uint8_t> buffer_;
};

}  // namespace corvanta
