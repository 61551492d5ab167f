// What the batch and its decoder server (corvanta-decode, or the program's
// own decoder mode) say to each other; both sides are built from this one
// header.
//
// A job starts one server, which loads its libraries and loader list once
// and then forks a fresh decoder for every picture, so that each picture
// gets a process and limits of its own while paying neither exec nor
// start-up. The decoder reports the size the file declares, waits until
// the batch has admitted that much memory, decodes and hands the pixels
// back in a shared-memory file the batch gave it (through its socket when
// there is none).
#pragma once

#include <cstdint>
#include <string>

namespace corvanta::decoder {

// ---- the server -------------------------------------------------------------
// Started as "PROGRAM [kSelfOption] kServeOption PID kProtocolVersion"; a
// server of another version exits at once with kExitUsage, so that a copy
// of the program never talks to a decoder of another build.

constexpr const char* kServeOption = "--serve";
// The first argument that turns corvanta or corvanta-convert into a decoder
// server, for a copy of the program that has no corvanta-decode beside it.
constexpr const char* kSelfOption = "--corvanta-decoder";
constexpr std::uint32_t kProtocolVersion = 3;
constexpr int kServerFd = 3;  // a SOCK_SEQPACKET socket to the batch
constexpr std::size_t kMaxNameHintBytes = 256;
constexpr std::size_t kMaxTempFolderBytes = 4096;

// Exit statuses of a server or decoder that never got to a picture.
constexpr int kExitUsage = 64;   // not started by a batch of this build
constexpr int kExitLimits = 71;  // a limit could not be set

constexpr std::uint32_t kReportMagic = 0x434F5644;  // "DVOC" in memory order

// The server's first message, once its libraries are loaded.
struct ServeHello {
    std::uint32_t magic = kReportMagic;
    std::uint32_t version = kProtocolVersion;
};

// Which library reads the picture.
enum class DecodeWith : std::uint32_t {
    kPixbuf = 1,     // gdk-pixbuf's loaders: the picture comes back upright, RGB or RGBA
    kTurboJpeg = 2,  // a JPEG too costly for the batch's own process: stored orientation, RGB
};

// One message per picture, with SCM_RIGHTS carrying the input, the channel
// and the shared memory, in that order.
struct ServeRequest {
    DecodeWith decodeWith = DecodeWith::kPixbuf;
    std::int32_t maxWidth = 0;  // below 1: no limit
    std::int32_t maxHeight = 0;
    std::int64_t memoryBytes = 0;  // address space beyond what the decoder starts with
    std::int32_t cpuSeconds = 0;
    std::int64_t tempFileBytes = 0;  // the largest file it may write (its temporary folder)
    char tempFolder[kMaxTempFolderBytes] = {};  // empty: none could be made
    char nameHint[kMaxNameHintBytes] = {};      // the file's name, for formats known only by it
};
constexpr int kServeDescriptors = 3;

// The server's answers: the decoder's pid once forked, with a pidfd for it
// in SCM_RIGHTS where the kernel has pidfds; then how it ended.
struct ServeStarted {
    std::int64_t pid = -1;
};
struct ServeEnded {
    std::int64_t pid = -1;
    std::int32_t status = 0;     // as waitpid gives it
    std::int64_t cpuMicros = 0;  // user and system time
};

// ---- one decoder --------------------------------------------------------------

// The decoder's descriptors. 0 to 2 lead to /dev/null, so that nothing a
// format library prints can get mixed into the reports.
constexpr int kInputFd = 3;  // the picture, open for reading
// A stream socket to the batch: reports and pixel rows go out, one byte
// comes in once the batch has admitted the memory of the picture. A socket
// rather than pipes, so that the batch can write to a decoder that has
// died without being killed by SIGPIPE.
constexpr int kChannelFd = 4;
// A shared-memory file (or /dev/null when there is none) that the batch
// sizes for the fitted picture once it has admitted it.
constexpr int kPixelsFd = 5;

// The byte the batch sends once the memory is admitted: where the rows go.
constexpr std::uint8_t kGoShared = 1;  // into kPixelsFd
constexpr std::uint8_t kGoStream = 2;  // through kChannelFd

enum class ReportKind : std::uint32_t {
    kSize = 1,     // the size to be decoded and the size it will be fitted to
    kImage = 2,    // the decoded size; with kGoStream height rows of RowBytes() follow
    kFailure = 3,  // why there is no picture
};

enum class Failure : std::uint32_t {
    kNotAnImage = 1,  // no loader recognises or reads it
    kTooLarge = 2,    // beyond the pixel cap, or a JPEG bomb
    kOutOfMemory = 3,
    kNeedsTempFolder = 4,  // its loader needs a temporary file, and there is no folder for one
    kNotForTurboJpeg = 5,  // kTurboJpeg only: damaged, or a colour space TurboJPEG does not convert
};

struct Report {
    std::uint32_t magic = kReportMagic;
    ReportKind kind = ReportKind::kFailure;
    std::int32_t width = 0;  // kSize: as decoded before fitting; kImage: as sent
    std::int32_t height = 0;
    std::int32_t fittedWidth = 0;  // kSize only
    std::int32_t fittedHeight = 0;
    std::int32_t hasAlpha = 0;               // kImage only
    std::int32_t orientation = 0;            // kImage from kTurboJpeg: the EXIF orientation
    std::uint32_t damage = 0;                // kImage, kNotForTurboJpeg: a Damage, 0 for none
    Failure failure = Failure::kNotAnImage;  // kFailure only
};

// The bytes of one pixel row as sent: the row padded to four bytes, the
// layout gdk_pixbuf_new gives, so the batch reads the rows straight into
// its own picture.
std::int64_t RowBytes(std::int32_t width, bool hasAlpha);

// What one decoder is asked to do, and the limits it puts on itself before
// it touches the picture.
struct Request {
    DecodeWith decodeWith = DecodeWith::kPixbuf;
    std::int32_t maxWidth = 0;
    std::int32_t maxHeight = 0;
    std::string nameHint;
    bool haveTempFolder = false;  // TMPDIR is the decoder's own folder
    std::int64_t memoryBytes = 0;
    std::int32_t cpuSeconds = 0;
    std::int64_t tempFileBytes = 0;
    std::int64_t parentPid = 0;  // it ends when this process (the server) does
};

}  // namespace corvanta::decoder
