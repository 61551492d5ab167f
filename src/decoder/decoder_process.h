// Reading every picture that is not a JPEG TurboJPEG can take in the batch's
// own process, in a decoder process of ours with limits on memory, CPU
// time, wall time and files: a crash, a bomb or a hang in a format library
// costs that one picture, reported as a failure with a short reason.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "codecs/image_loader.h"
#include "common/scoped_fd.h"
#include "decoder/decoder_protocol.h"
#include "decoder/process_handle.h"

namespace corvanta {

// Address space a decoder may take beyond its start-up: two pictures at the
// pixel cap in RGBA (the decoded one and its fitted copy) and room for the
// libraries. It shrinks to what the declared size needs once that is known.
constexpr std::int64_t kDecoderMemoryBytes = 8 * kMaxImagePixels + (std::int64_t{512} << 20);

// A program that can serve as the decoder: its path, and the arguments that
// come before the server's own.
struct DecoderProgram {
    std::string path;
    std::vector<std::string> leadingArguments;
    bool operator==(const DecoderProgram&) const = default;
};

struct DecoderSettings {
    DecoderProgram program;  // no path: the first of DecoderCandidates() that starts
    std::int64_t memoryBytes = kDecoderMemoryBytes;
    int cpuSeconds = 60;
    // Wall time from the memory's admission to the last pixel.
    std::chrono::milliseconds deadline{std::chrono::minutes(2)};
};

// Where a decoder is to be had, in the order they are tried:
// corvanta-decode beside the real path of the running program (in its
// ../libexec/corvanta/, then in its own folder), at the installed
// library-executables path, and last the running program itself in its
// decoder mode, so that a copy of it alone in any folder still decodes.
std::vector<DecoderProgram> DecoderCandidates();

// A decoder the server forked for one picture.
struct ServedDecoder {
    ProcessHandle process;  // by the pidfd the server handed over
    bool killedHere = false;
};

// How a served decoder ended, as far as anyone can tell.
struct ServedEnding {
    ProcessEnding ending;
    bool killedHere = false;    // it had to be killed: it did not end by itself
    bool serverLost = false;    // the server went away meanwhile
    bool unresponsive = false;  // the server stopped answering and was killed
    bool stopped = false;
};

// One job's decoder server, started at the first picture that needs it and
// ended with the object. It must be used, and destroyed, on the thread that
// started it: the server ends with that thread. A server that died or
// stopped answering is replaced at the next picture.
class DecoderServer {
  public:
    DecoderServer() = default;
    ~DecoderServer();
    DecoderServer(const DecoderServer&) = delete;
    DecoderServer& operator=(const DecoderServer&) = delete;

    // kReplaced: the server died, could not fork or stopped answering, and
    // is gone; the next Start launches another. The request may have reached
    // it, and a decoder of it may have written into the channel, so a new
    // try needs a channel of its own.
    enum class Started { kStarted, kUnavailable, kStopped, kReplaced };
    // Forks a decoder for request with the picture, its channel and the
    // shared memory, starting the server first when there is none.
    Started Start(const DecoderSettings& settings, const decoder::ServeRequest& request, int input,
                  int channel, int pixels, ServedDecoder& decoder, const std::atomic<bool>* stop);
    // Waits for the decoder to end, killing it at once when killNow, at stop
    // and at the deadline, then for the server's word on how it ended. A
    // server that does not answer within a short grace is killed.
    ServedEnding Finish(ServedDecoder& decoder, bool killNow, SteadyClock::time_point deadline,
                        const std::atomic<bool>* stop);

    // The shared memory the job's pictures come back in, kept between
    // pictures; -1 when none can be had.
    int Pixels();
    // Lets go of the shared memory when it has grown unusually large, or
    // whenever `always`.
    void TrimPixels(bool always = false);

  private:
    bool Launch(const DecoderSettings& settings, const std::atomic<bool>* stop);
    bool LaunchOne(const DecoderProgram& program, const std::atomic<bool>* stop);
    void Shut(bool quickly);

    DecoderProgram program_;                   // the one that started last
    DecoderProgram configured_;                // settings.program it was started for
    const std::atomic<bool>* stop_ = nullptr;  // the last stop flag it was given
    ProcessHandle server_;
    ScopedFd control_;
    ScopedFd pixels_;
};

// One picture for the decoder: the regular file open on fd (size bytes; the
// descriptor is only handed on, never read here), nameHint its name for
// formats known only by it, fitted into the box as gdk-pixbuf's "load at
// size" fits it (TurboJPEG: as LoadJpegScaled fits it).
struct PictureToDecode {
    int fd = -1;
    std::int64_t size = 0;
    std::string_view nameHint;
    int maxWidth = 0;
    int maxHeight = 0;
    decoder::DecodeWith decodeWith = decoder::DecodeWith::kPixbuf;
};

// Why a decoder gave no picture.
enum class DecodeProblem {
    kNone,
    kNotAnImage,     // no loader recognises or reads it
    kTooLarge,       // beyond the pixel cap, a JPEG bomb, or past the file-size limit
    kTookTooLong,    // the CPU-time limit or the deadline
    kUndecodable,    // the format library crashed
    kDecoderKilled,  // by someone else, or its server went away
    kStoppedResponding,
    kNoDecoder,  // none could be started
    kOutOfMemory,
    kNeedsTempFolder,
    kTooManyFiles,
    kForbiddenCall,  // its system-call filter ended it
};

struct DecodedPicture {
    PixbufPtr image;                               // 8-bit RGB or RGBA, fitted into the box
    DecodeProblem problem = DecodeProblem::kNone;  // when there is no image
    bool stopped = false;                          // stop came first: no image and no problem
    std::uint8_t orientation = 0;                  // TurboJPEG only: the EXIF orientation to keep
    decoder::DecodeWith decodedWith = decoder::DecodeWith::kPixbuf;
    Damage damage = Damage::kNone;  // with an image: it is only part of the picture
};

// Decodes picture in a decoder forked from server (a server of its own when
// none is given). gdk-pixbuf's pictures come back turned upright by any
// orientation they carry; TurboJPEG's stay as stored, and a JPEG TurboJPEG
// cannot decode goes to gdk-pixbuf, as in the batch's own process. The decoder is
// killed at stop and at the deadline; with a gate, the picture's memory is
// admitted before the decoder may allocate it. The pixels
// come back in shared memory, through the socket where there is none.
DecodedPicture DecodeInHelper(const PictureToDecode& picture, const DecoderSettings& settings,
                              const std::atomic<bool>* stop = nullptr, SizeGate* gate = nullptr,
                              DecoderServer* server = nullptr);

}  // namespace corvanta
