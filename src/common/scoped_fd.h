// An owning POSIX file descriptor, closed when it goes out of scope.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace corvanta {

class ScopedFd {
  public:
    ScopedFd() = default;
    explicit ScopedFd(int fd) : fd_(fd) {}
    ~ScopedFd() { Reset(); }
    ScopedFd(ScopedFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    ScopedFd& operator=(ScopedFd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    ScopedFd(const ScopedFd&) = delete;
    ScopedFd& operator=(const ScopedFd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }

    // Closes now and reports whether close() succeeded (a delayed write
    // error can surface only here).
    bool Close() {
        if (fd_ < 0) {
            return true;
        }
        const int result = ::close(std::exchange(fd_, -1));
        return result == 0 || errno == EINTR;
    }
    void Reset() { Close(); }
    // Gives the descriptor up without closing it.
    int Release() { return std::exchange(fd_, -1); }

  private:
    int fd_ = -1;
};

// Runs transfer (read or write) until length bytes have gone through,
// retrying after signals and short transfers; false on an error or an end
// of file before that.
template <typename Byte, typename Transfer>
bool TransferFully(Byte* data, std::size_t length, Transfer transfer) {
    while (length > 0) {
        const ssize_t n = transfer(data, length);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

// Reads exactly length bytes.
inline bool ReadFully(int fd, void* data, std::size_t length) {
    return TransferFully(static_cast<unsigned char*>(data), length,
                         [fd](unsigned char* p, std::size_t n) { return ::read(fd, p, n); });
}

// Writes exactly length bytes.
inline bool WriteFully(int fd, const void* data, std::size_t length) {
    return TransferFully(static_cast<const unsigned char*>(data), length,
                         [fd](const unsigned char* p, std::size_t n) { return ::write(fd, p, n); });
}

// Reads exactly length bytes at offset, whatever the descriptor's position.
inline bool ReadAt(int fd, void* data, std::size_t length, std::int64_t offset) {
    auto* start = static_cast<unsigned char*>(data);
    return TransferFully(start, length, [fd, start, offset](unsigned char* at, std::size_t n) {
        return ::pread(fd, at, n, static_cast<off_t>(offset + (at - start)));
    });
}

}  // namespace corvanta
