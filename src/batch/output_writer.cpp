#include "batch/output_writer.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "batch/failure_reason.h"
#include "codecs/image_loader.h"
#include "common/ascii.h"
#include "common/buffered_writer.h"
#include "common/path_parts.h"
#include "tone/pixbuf_format.h"

namespace corvanta {
namespace {

constexpr std::size_t kDateSuffixLength = 14;
constexpr mode_t kNewFileMode = 0666;  // narrowed by the umask
constexpr std::size_t kHiddenNameRandomBytes = 8;
constexpr const char* kHiddenPrefix = ".corvanta-";
constexpr const char* kHiddenSuffix = ".tmp";
constexpr int kHiddenNameAttempts = 8;
// Where an O_TMPFILE file can be reached to give it a name.
constexpr const char* kOwnDescriptors = "/proc/self/fd/";
// A hidden file older than this with no writer's lock on it is a killed
// run's leftover; a live writer locks its file the moment it makes it.
constexpr std::time_t kStaleHiddenSeconds = 60;

// ---- Names ---------------------------------------------------------------

struct NameParts {
    std::string directory;  // up to and including the last slash
    std::string stem;
    std::string extension;  // without the dot; may be empty
};

NameParts SplitName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    NameParts parts{path.substr(0, nameStart), path.substr(nameStart), {}};
    const std::size_t dot = parts.stem.rfind('.');
    if (dot != std::string::npos && dot != 0 && parts.stem.find(' ', dot) == std::string::npos) {
        parts.extension = parts.stem.substr(dot + 1);
        parts.stem.resize(dot);
    }
    return parts;
}

bool AcceptedExtension(const std::string& extension, OutputFormat format) {
    const std::string lowered = AsciiLowered(extension);
    return format == OutputFormat::kJpeg ? (lowered == "jpg" || lowered == "jpeg")
                                         : lowered == "png";
}

const char* SuffixFor(OutputFormat format) {
    return format == OutputFormat::kJpeg ? ".jpg" : ".png";
}

// The plain name and the date-suffixed one, in the order they are tried.
std::array<std::string, 2> CandidateNames(const std::string& candidate, OutputFormat format,
                                          std::time_t when) {
    const NameParts parts = SplitName(candidate);
    std::string plain = candidate;
    std::string stem = parts.stem;
    if (!AcceptedExtension(parts.extension, format)) {
        stem = parts.stem + "_" + parts.extension;
        plain = parts.directory + stem + SuffixFor(format);
    }
    return {plain, parts.directory + stem + "_" + DateSuffix(when) + SuffixFor(format)};
}

// ---- Publishing ------------------------------------------------------------

// Whether path may be written: nothing there, or an empty regular file.
// lstat, so a symbolic link is seen as itself and taken rather than followed.
bool IsFree(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        // Missing is free; any other error shows when the file is named.
        return true;
    }
    return S_ISREG(info.st_mode) && info.st_size == 0;
}

// A lock another writer of an empty file would hold. Filesystems without
// flock() only lose the guard between processes.
bool LockedByOther(int fd) {
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EINTR) {
            return errno == EWOULDBLOCK;
        }
    }
    return false;
}

bool IsHiddenOutputName(std::string_view name) {
    const std::string_view prefix(kHiddenPrefix);
    const std::string_view suffix(kHiddenSuffix);
    if (name.size() != prefix.size() + 2 * kHiddenNameRandomBytes + suffix.size() ||
        name.substr(0, prefix.size()) != prefix ||
        name.substr(name.size() - suffix.size()) != suffix) {
        return false;
    }
    const std::string_view digits = name.substr(prefix.size(), 2 * kHiddenNameRandomBytes);
    return digits.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

std::string HiddenName() {
    std::array<std::uint8_t, kHiddenNameRandomBytes> random{};
    if (::getrandom(random.data(), random.size(), 0) != static_cast<ssize_t>(random.size())) {
        // Uniqueness then rests on O_EXCL and the retries alone.
        const auto fallback = static_cast<std::uint64_t>(std::time(nullptr)) ^
                              static_cast<std::uint64_t>(::getpid()) << 32;
        std::memcpy(random.data(), &fallback, std::min(random.size(), sizeof fallback));
    }
    std::string name = kHiddenPrefix;
    for (const std::uint8_t byte : random) {
        constexpr const char* kHex = "0123456789abcdef";
        name.push_back(kHex[byte >> 4]);
        name.push_back(kHex[byte & 0xF]);
    }
    return name + kHiddenSuffix;
}

// ---- Writing -------------------------------------------------------------

}  // namespace

std::string DateSuffix(std::time_t when) {
    std::tm local{};
    std::array<char, 32> text{};
    if (::localtime_r(&when, &local) == nullptr ||
        std::strftime(text.data(), text.size(), "%Y%m%d%H%M%S", &local) != kDateSuffixLength) {
        return std::string(kDateSuffixLength, '0');
    }
    return text.data();
}

// ---- Names ---------------------------------------------------------------

std::optional<std::string> ResolveOutputPath(const std::string& candidate, OutputFormat format) {
    return ResolveOutputPath(candidate, format, std::time(nullptr));
}

std::optional<std::string> ResolveOutputPath(const std::string& candidate, OutputFormat format,
                                             std::time_t when) {
    for (const std::string& name : CandidateNames(candidate, format, when)) {
        if (IsFree(name)) {
            return name;
        }
    }
    return std::nullopt;
}

// ---- PendingOutput -----------------------------------------------------------

PendingOutput::~PendingOutput() {
    Discard();
}

bool PendingOutput::Open(const std::string& candidate, Naming naming) {
    Discard();
    error_ = 0;
    const std::string folder = DirectoryPart(candidate);
    // Without /proc an unnamed file could never be given its name.
    if (naming == Naming::kUnnamedFirst && ::access(kOwnDescriptors, X_OK) == 0) {
        fd_ = ScopedFd(::open(folder.c_str(), O_WRONLY | O_TMPFILE | O_CLOEXEC, kNewFileMode));
        if (fd_.Valid()) {
            return true;
        }
        // EISDIR and EOPNOTSUPP: the kernel or the file system has no O_TMPFILE.
        if (errno != EISDIR && errno != EOPNOTSUPP) {
            error_ = errno;
            return false;
        }
    }
    for (int attempt = 0; attempt < kHiddenNameAttempts; ++attempt) {
        std::string hidden = folder + HiddenName();
        fd_ = ScopedFd(::open(hidden.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                              kNewFileMode));
        if (fd_.Valid()) {
            // Held until the file is named or dropped: a later run's sweep
            // leaves a locked file alone.
            ::flock(fd_.Get(), LOCK_EX | LOCK_NB);
            hiddenPath_ = std::move(hidden);
            return true;
        }
        if (errno != EEXIST) {
            error_ = errno;
            return false;
        }
    }
    error_ = EEXIST;
    return false;
}

void PendingOutput::Discard() {
    if (!hiddenPath_.empty()) {
        ::unlink(hiddenPath_.c_str());
        hiddenPath_.clear();
    }
    fd_.Reset();  // an O_TMPFILE file vanishes with its last descriptor
}

PendingOutput::Placed PendingOutput::LinkTo(const std::string& name) {
    int result = 0;
    if (hiddenPath_.empty()) {
        const std::string self = kOwnDescriptors + std::to_string(fd_.Get());
        result = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW);
    } else {
        result =
            ::renameat2(AT_FDCWD, hiddenPath_.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE);
        if (result != 0 && errno == EINVAL) {
            // No RENAME_NOREPLACE on this file system: link() never replaces either.
            result = ::link(hiddenPath_.c_str(), name.c_str());
            if (result == 0) {
                ::unlink(hiddenPath_.c_str());
            }
        }
        if (result == 0) {
            hiddenPath_.clear();
        }
    }
    if (result == 0) {
        return Placed::kPlaced;
    }
    if (errno == EEXIST) {
        return Placed::kTaken;
    }
    error_ = errno;
    return Placed::kFailed;
}

PendingOutput::Placed PendingOutput::PlaceAt(const std::string& name) {
    const Placed placed = LinkTo(name);
    if (placed != Placed::kTaken) {
        return placed;
    }
    struct stat there {};
    if (::lstat(name.c_str(), &there) != 0) {
        return Placed::kTaken;  // gone again: someone else is at work on it
    }
    if (!S_ISREG(there.st_mode) || there.st_size != 0) {
        return Placed::kTaken;
    }
    // An empty file counts as free. It is removed only while locked and
    // while it is still the file under the name; whoever names a file there
    // first gets it, the other tries the next name.
    ScopedFd empty(::open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat locked {};
    if (!empty.Valid() || LockedByOther(empty.Get()) || ::fstat(empty.Get(), &locked) != 0 ||
        !S_ISREG(locked.st_mode) || locked.st_size != 0 || ::lstat(name.c_str(), &there) != 0 ||
        there.st_dev != locked.st_dev || there.st_ino != locked.st_ino) {
        return Placed::kTaken;
    }
    if (::unlink(name.c_str()) != 0) {
        error_ = errno;
        return Placed::kFailed;
    }
    return LinkTo(name);
}

std::optional<std::string> PendingOutput::Publish(const std::string& candidate,
                                                  OutputFormat format) {
    return Publish(candidate, format, std::time(nullptr));
}

std::optional<std::string> PendingOutput::Publish(const std::string& candidate, OutputFormat format,
                                                  std::time_t when) {
    if (!fd_.Valid()) {
        return std::nullopt;
    }
    for (const std::string& name : CandidateNames(candidate, format, when)) {
        switch (PlaceAt(name)) {
            case Placed::kPlaced:
                if (!fd_.Close()) {
                    // A delayed write error: the data may be damaged.
                    error_ = errno;
                    ::unlink(name.c_str());
                    Discard();
                    return std::nullopt;
                }
                Discard();
                return name;
            case Placed::kTaken:
                continue;
            case Placed::kFailed:
                Discard();
                return std::nullopt;
        }
    }
    Discard();
    return std::nullopt;
}

PendingOutput::Named PendingOutput::PublishExactly(const std::string& name) {
    if (!fd_.Valid()) {
        errno = EBADF;
        return Named::kFailed;
    }
    Placed placed = LinkTo(name);
    int error = errno;
    if (placed == Placed::kPlaced && !fd_.Close()) {
        error = errno;  // a delayed write error: the data may be damaged
        ::unlink(name.c_str());
        placed = Placed::kFailed;
    }
    Discard();
    errno = error;
    return placed == Placed::kPlaced  ? Named::kPublished
           : placed == Placed::kTaken ? Named::kTaken
                                      : Named::kFailed;
}

// ---- Writers -------------------------------------------------------------

namespace {

bool PublishAs(PendingOutput& output, const std::string& candidate, OutputFormat format,
               std::string* written) {
    std::optional<std::string> name = output.Publish(candidate, format);
    if (name && written != nullptr) {
        *written = std::move(*name);
    }
    return name.has_value();
}

// Says why, when asked, and fails.
bool Fail(std::string_view* problem, std::string_view reason) {
    if (problem != nullptr) {
        *problem = reason;
    }
    return false;
}

std::string_view WriteProblem(int error) {
    return error == 0 ? failure_reason::kNotWritten : failure_reason::ForWriteError(error);
}

}  // namespace

bool WriteJpegOutput(JpegEncoder& encoder, const GdkPixbuf* image, const std::string& candidate,
                     int quality, std::uint8_t orientation, std::string* written,
                     std::string_view* problem) {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    if (!ResolveOutputPath(candidate, OutputFormat::kJpeg)) {
        return Fail(problem, failure_reason::kNotWritten);
    }
    if (!encoder.Encode(image, quality, data, size)) {
        return Fail(problem, IsWritableImage(image) ? failure_reason::kOutOfMemory
                                                    : failure_reason::kNotWritten);
    }
    PendingOutput output;
    if (!output.Open(candidate)) {
        return Fail(problem, WriteProblem(output.Error()));
    }
    const bool complete = WriteJpegBytes(output.Fd(), data, size, orientation);
    const int error = errno;
    encoder.TrimBuffer();
    if (!complete) {
        return Fail(problem, WriteProblem(error));
    }
    return PublishAs(output, candidate, OutputFormat::kJpeg, written) ||
           Fail(problem, WriteProblem(output.Error()));
}

bool WritePngOutput(DeflatePngEncoder& encoder, const GdkPixbuf* image,
                    const std::string& candidate, std::string* written, std::string_view* problem) {
    // The lookup first: no picture is encoded for a name that cannot be had.
    if (!IsWritableImage(image) || !ResolveOutputPath(candidate, OutputFormat::kPng)) {
        return Fail(problem, failure_reason::kNotWritten);
    }
    PendingOutput output;
    if (!output.Open(candidate)) {
        return Fail(problem, WriteProblem(output.Error()));
    }
    BufferedWriter sink(output.Fd());
    const bool encoded = encoder.Encode(
        gdk_pixbuf_read_pixels(image), gdk_pixbuf_get_width(image), gdk_pixbuf_get_height(image),
        static_cast<std::size_t>(gdk_pixbuf_get_rowstride(image)),
        gdk_pixbuf_get_has_alpha(image) != FALSE, BufferedWriter::AppendTo, &sink);
    encoder.TrimBuffers();
    if (!encoded || !sink.Flush()) {
        // A write that failed says why; an encoder that failed by itself
        // could not have its memory.
        return Fail(problem,
                    sink.Error() != 0 ? WriteProblem(sink.Error()) : failure_reason::kOutOfMemory);
    }
    return PublishAs(output, candidate, OutputFormat::kPng, written) ||
           Fail(problem, WriteProblem(output.Error()));
}

void RemoveStaleHiddenOutputs(const std::string& folder) {
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) {
        return;
    }
    const std::time_t now = std::time(nullptr);
    while (const dirent* entry = ::readdir(dir)) {
        if (!IsHiddenOutputName(entry->d_name)) {
            continue;
        }
        const ScopedFd file(::openat(::dirfd(dir), entry->d_name,
                                     O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
        struct stat info {};
        if (file.Valid() && ::fstat(file.Get(), &info) == 0 && S_ISREG(info.st_mode) &&
            info.st_uid == ::geteuid() && now - info.st_mtime >= kStaleHiddenSeconds &&
            !LockedByOther(file.Get())) {
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
        }
    }
    ::closedir(dir);
}

}  // namespace corvanta
