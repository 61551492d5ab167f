#include "scheme/store_file.h"

#include <fcntl.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "common/path_parts.h"
#include "common/scoped_fd.h"

namespace corvanta::store_file {
namespace {

constexpr int kMaxLinkHops = 40;  // the kernel's own limit for one path
constexpr mode_t kNewFileMode = 0644;
constexpr gint64 kLockWaitUs = 2 * G_USEC_PER_SEC;
constexpr gulong kLockRetryUs = 10000;

// Writes all of data at offset 0 onwards; 0 on success, else the error.
int WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n < 0 ? errno : ENOSPC;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

// A new file keeps the owner and the permissions of the one it replaces, as
// far as this process may give them.
void CopyOwnerAndMode(const std::string& from, int to) {
    struct stat info {};
    if (::stat(from.c_str(), &info) != 0) {
        return;
    }
    if (::fchown(to, info.st_uid, info.st_gid) != 0) {
        // another user's file: the new one is ours, with the same permissions
    }
    ::fchmod(to, info.st_mode & 07777);
}

// A rename is only lasting once the folder itself is on the disk; some file
// systems refuse to flush a folder, which costs nothing but that guarantee.
void FlushFolder(const std::string& folder) {
    const ScopedFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Valid()) {
        ::fsync(fd.Get());
    }
}

std::string RewriteInPlace(const std::string& path, const std::uint8_t* data, std::size_t size) {
    ScopedFd fd(::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!fd.Valid() || ::fstat(fd.Get(), &info) != 0) {
        return ErrorReason(path, errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return path + " is not a regular file";
    }
    int error = WriteAll(fd.Get(), data, size);
    if (error == 0 && ::ftruncate(fd.Get(), static_cast<off_t>(size)) != 0) {
        error = errno;
    }
    if (error == 0 && ::fsync(fd.Get()) != 0) {
        error = errno;
    }
    if (!fd.Close() && error == 0) {
        error = errno;
    }
    return error == 0 ? std::string() : ErrorReason(path, error);
}

}  // namespace

std::string ErrorReason(const std::string& path, int error) {
    return path + ": " + g_strerror(error);
}

ReadResult ReadStart(const std::string& path, std::uint8_t* buffer, std::size_t size) {
    // Never blocking: a FIFO under the file's name would otherwise hang.
    const ScopedFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid()) {
        return errno == ENOENT ? ReadResult{ReadResult::Kind::kMissing, 0, {}}
                               : ReadResult{ReadResult::Kind::kFailed, 0, ErrorReason(path, errno)};
    }
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0) {
        return {ReadResult::Kind::kFailed, 0, ErrorReason(path, errno)};
    }
    if (!S_ISREG(info.st_mode)) {
        return {ReadResult::Kind::kFailed, 0,
                path + (S_ISDIR(info.st_mode) ? " is a folder" : " is not a regular file")};
    }
    ReadResult result;
    while (result.length < size) {
        const ssize_t got = ::read(fd.Get(), buffer + result.length, size - result.length);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return {ReadResult::Kind::kFailed, 0, ErrorReason(path, errno)};
        }
        if (got == 0) {
            break;
        }
        result.length += static_cast<std::size_t>(got);
    }
    return result;
}

std::string FollowLinks(const std::string& path) {
    std::string current = path;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        gchar* target = g_file_read_link(current.c_str(), nullptr);
        if (target == nullptr) {
            return current;
        }
        current =
            g_path_is_absolute(target) ? std::string(target) : FolderOf(current) + "/" + target;
        g_free(target);
    }
    return current;  // a loop: opening it fails and says so
}

FolderLock::FolderLock(const std::string& folder)
    : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    const gint64 end = g_get_monotonic_time() + kLockWaitUs;
    while (fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || g_get_monotonic_time() >= end) {
            ::close(std::exchange(fd_, -1));  // go on unlocked rather than not at all
            break;
        }
        g_usleep(kLockRetryUs);
    }
}

FolderLock::~FolderLock() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::string Replace(const std::string& path, const std::uint8_t* data, std::size_t size) {
    const std::string folder = FolderOf(path);
    std::string temp = folder + "/.corvanta-store-XXXXXX";
    ScopedFd fd(g_mkstemp_full(temp.data(), O_WRONLY | O_CLOEXEC, kNewFileMode));
    if (!fd.Valid()) {
        const int error = errno;
        if ((error == EACCES || error == EPERM) && ::access(path.c_str(), W_OK) == 0) {
            return RewriteInPlace(path, data, size);
        }
        return ErrorReason(folder, error);
    }
    CopyOwnerAndMode(path, fd.Get());
    int error = WriteAll(fd.Get(), data, size);
    if (error == 0 && ::fsync(fd.Get()) != 0) {
        error = errno;
    }
    if (!fd.Close() && error == 0) {
        error = errno;
    }
    if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        g_unlink(temp.c_str());
        return ErrorReason(path, error);
    }
    FlushFolder(folder);
    return {};
}

}  // namespace corvanta::store_file
