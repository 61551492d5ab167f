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

#include "batch/image_loader.h"
#include "batch/memory_budget.h"
#include "batch/pixel_pool.h"

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
// from its budget before the decoder may allocate it; with a pool, the
// picture's pixels come from it.
DecodedPicture DecodeInHelper(int fd, std::int64_t size, std::string_view nameHint, int maxWidth,
                              int maxHeight, const DecoderSettings& settings,
                              const std::atomic<bool>* stop = nullptr, BudgetHold* hold = nullptr,
                              PixelPool* pool = nullptr);

}  // namespace corvanta
