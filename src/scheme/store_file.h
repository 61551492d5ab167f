// The file work under the preset store, kept to the scheme room: reading the
// start of a file without ever blocking, following a symbolic link to the
// file it names, keeping two programs from updating one folder's file at
// once, and replacing a file's content so that a failure leaves the old one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace corvanta::store_file {

// How reading a file went; reason is for the user when it failed.
struct ReadResult {
    enum class Kind { kRead, kMissing, kFailed } kind = Kind::kRead;
    std::size_t length = 0;  // bytes read into the buffer
    std::string reason;
};

// Reads up to size bytes from the start of the regular file at path. A
// missing file is kMissing; a folder, a FIFO or any other kind of file, a
// refused open and an I/O error are kFailed.
ReadResult ReadStart(const std::string& path, std::uint8_t* buffer, std::size_t size);

// The file a chain of symbolic links at path ends in (path itself when it is
// no link); the file need not exist.
std::string FollowLinks(const std::string& path);

// An exclusive lock on a folder, held while the object lives, so that two
// programs updating a file in it take turns. Best effort: a folder that
// cannot be opened or locked in time is simply not locked.
class FolderLock {
  public:
    explicit FolderLock(const std::string& folder);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

  private:
    int fd_ = -1;
};

// Replaces the content of the file at path with size bytes: written to a new
// file in the same folder, flushed to the disk and renamed over path, so the
// old content stays whole until the new is complete. In a folder that may
// not be written, an existing file that may is rewritten in place and
// flushed. Empty on success, else the reason for the user.
std::string Replace(const std::string& path, const std::uint8_t* data, std::size_t size);

// The folder part of path, without its last "/" ("." when it has none).

// path followed by the system's text for the error number.
std::string ErrorReason(const std::string& path, int error);

}  // namespace corvanta::store_file
