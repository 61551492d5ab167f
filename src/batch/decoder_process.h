// Reading every picture that is not a JPEG TurboJPEG can take, in a decoder
// process of our own (corvanta-decode) with limits on memory, CPU time, wall
// time and files: a crash, a bomb or a hang in a format library costs that
// one picture, reported as a failure with a short reason.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include <sys/types.h>

#include "batch/decoder_protocol.h"
#include "batch/image_loader.h"
#include "batch/memory_budget.h"
#include "batch/scoped_fd.h"

namespace corvanta {

// Address space a decoder may take beyond its start-up: two pictures at the
// pixel cap in RGBA (the decoded one and its fitted copy) and room for the
// libraries. It shrinks to what the declared size needs once that is known.
constexpr std::int64_t kDecoderMemoryBytes = 8 * kMaxImagePixels + (std::int64_t{512} << 20);

struct DecoderSettings {
    std::string program;  // empty: DefaultDecoderProgram()
    std::int64_t memoryBytes = kDecoderMemoryBytes;
    int cpuSeconds = 60;
    // Wall time from the memory's admission to the last pixel.
    std::chrono::milliseconds deadline{std::chrono::minutes(2)};
};

// corvanta-decode where this program's own folder says it is: beside an
// installed program in the library-executables folder, and at the same
// place relative to the programs of a build tree.
std::string DefaultDecoderProgram();

// One job's decoder server (corvanta-decode --serve), started at the first
// picture that needs it and ended with the object. It must be used, and
// destroyed, on the thread that started it: the server ends with that
// thread. A server that died is started again at the next picture.
class DecoderServer {
  public:
    DecoderServer() = default;
    ~DecoderServer();
    DecoderServer(const DecoderServer&) = delete;
    DecoderServer& operator=(const DecoderServer&) = delete;

    // Forks a decoder for request with the picture, its channel and the
    // shared memory; its pid, or -1 when there is no server to be had.
    pid_t Start(const std::string& program, const decoder::ServeRequest& request, int input,
                int channel, int pixels);
    // Waits until the decoder started last has ended, killing it at stop or
    // at the deadline. False when the server went away meanwhile.
    bool WaitForEnd(pid_t pid, std::chrono::steady_clock::time_point deadline,
                    const std::atomic<bool>* stop, decoder::ServeEnded& ended, bool& killed);

    // The shared memory the job's pictures come back in, kept between
    // pictures; -1 when none can be had.
    int Pixels();
    // Lets go of the shared memory when it has grown unusually large.
    void TrimPixels();

  private:
    bool Launch(const std::string& program);
    void Stop();

    std::string program_;
    pid_t server_ = -1;
    int control_ = -1;
    ScopedFd pixels_;
};

struct DecodedPicture {
    PixbufPtr image;           // 8-bit RGB or RGBA, upright, fitted into the box
    std::string_view problem;  // a failure reason when there is no image
    bool stopped = false;      // stop came first: no image and no problem
};

// Decodes the regular file open on fd (size bytes; the descriptor is only
// handed on, never read here) fitted into the box as gdk-pixbuf's "load at
// size" fits it, turned upright by any orientation it carries. nameHint is
// the file's name, for formats known only by it. The decoder is killed at
// stop and at the deadline; with a hold, the picture's memory is admitted
// from its budget before the decoder may allocate it. The pixels come back
// in shared memory (through the socket when it cannot be sized, under a
// file-size limit). With a server the decoder is forked from it, otherwise
// started as a program of its own.
DecodedPicture DecodeInHelper(int fd, std::int64_t size, std::string_view nameHint, int maxWidth,
                              int maxHeight, const DecoderSettings& settings,
                              const std::atomic<bool>* stop = nullptr, BudgetHold* hold = nullptr,
                              DecoderServer* server = nullptr);

}  // namespace corvanta
