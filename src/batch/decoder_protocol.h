// What the batch and its decoder program (corvanta-decode) say to each other.
// The batch starts one decoder per picture with the picture's open
// descriptor; the decoder reports the size the file declares, waits for the
// batch to admit that much memory, decodes and sends the pixels back
// through a socket. Both sides are built from this one header.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvanta::decoder {

// The decoder's descriptors. 0 to 2 lead to /dev/null, so that nothing a
// format library prints can get mixed into the reports.
constexpr int kInputFd = 3;  // the picture, open for reading
// A stream socket to the batch: Reports and pixel rows go out, one byte
// comes in once the batch has admitted the memory of the picture. A socket
// rather than pipes, so that the batch can write to a decoder that has
// died without being killed by SIGPIPE.
constexpr int kChannelFd = 4;
// Shared memory the batch sized for the fitted picture (and sealed against
// resizing): the rows are written here, with no copy through the socket.
constexpr int kPixelsFd = 5;

// The byte the batch sends once the memory is admitted: where the rows go.
constexpr std::uint8_t kGoShared = 1;  // into kPixelsFd
constexpr std::uint8_t kGoStream = 2;  // through kChannelFd (the shared memory could not be sized)

// Exit statuses of a decoder that never got to the picture.
constexpr int kExitUsage = 64;   // not started by a batch
constexpr int kExitLimits = 71;  // a limit could not be set

constexpr std::uint32_t kReportMagic = 0x434F5644;  // "DVOC" in memory order

enum class ReportKind : std::uint32_t {
    kSize = 1,     // the declared size and the size it will be fitted to
    kImage = 2,    // the decoded size; height rows of RowBytes() follow
    kFailure = 3,  // why there is no picture
};

enum class Failure : std::uint32_t {
    kNotAnImage = 1,  // no loader recognises or reads it
    kTooLarge = 2,    // beyond the pixel cap, or a JPEG bomb
    kOutOfMemory = 3,
};

struct Report {
    std::uint32_t magic = kReportMagic;
    ReportKind kind = ReportKind::kFailure;
    std::int32_t width = 0;  // kSize: declared; kImage: decoded
    std::int32_t height = 0;
    std::int32_t fittedWidth = 0;  // kSize only
    std::int32_t fittedHeight = 0;
    std::int32_t hasAlpha = 0;               // kImage only
    Failure failure = Failure::kNotAnImage;  // kFailure only
};

// The bytes of one pixel row as sent: the row padded to four bytes, the
// layout gdk_pixbuf_new gives, so the batch reads the rows straight into
// its own picture.
std::int64_t RowBytes(std::int32_t width, bool hasAlpha);

// What the decoder is asked to do and the limits it puts on itself before it
// touches the picture.
struct Request {
    std::int32_t maxWidth = 0;  // below 1: no limit
    std::int32_t maxHeight = 0;
    std::string nameHint;          // the file's name, for formats known only by it
    std::int64_t memoryBytes = 0;  // address space beyond what the program starts with
    std::int32_t cpuSeconds = 0;
    std::int64_t tempFileBytes = 0;  // the largest file it may write (its temporary folder)
    std::int64_t parentPid = 0;      // it ends when this process does
};

std::vector<std::string> RequestArguments(const Request& request);
std::optional<Request> ParseRequest(int argc, char** argv);

// ---- the decoder server ---------------------------------------------------------
// "corvanta-decode --serve PID" starts once per job with its libraries, its
// loader list and the MIME database loaded, then forks one fresh decoder per
// picture, so that each picture still gets a process and limits of its own
// while paying neither exec nor start-up.

constexpr const char* kServeOption = "--serve";
constexpr int kServerFd = 3;  // a SOCK_SEQPACKET socket to the batch
constexpr std::size_t kMaxNameHintBytes = 256;

// One message per picture, with SCM_RIGHTS carrying the input, the channel
// and the shared memory, in that order.
struct ServeRequest {
    std::int32_t maxWidth = 0;
    std::int32_t maxHeight = 0;
    std::int64_t memoryBytes = 0;
    std::int32_t cpuSeconds = 0;
    std::int64_t tempFileBytes = 0;
    char tempFolder[4096] = {};
    char nameHint[kMaxNameHintBytes] = {};
};
constexpr int kServeDescriptors = 3;

// The server's answers: the decoder's pid once forked, then how it ended.
struct ServeStarted {
    std::int64_t pid = -1;
};
struct ServeEnded {
    std::int64_t pid = -1;
    std::int32_t status = 0;     // as waitpid gives it
    std::int64_t cpuMicros = 0;  // user and system time
};

}  // namespace corvanta::decoder
