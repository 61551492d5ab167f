// A stand-in for corvanta-decode that puts the same limits on itself and then
// does what the first word of the "picture" asks: the ways a format library
// can go wrong, made certain. When a limit fails to hold it answers with a
// valid one-pixel picture, so the test sees "[Done]" instead of an error.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "decoder/decoder_child.h"
#include "decoder/decoder_protocol.h"
#include "common/scoped_fd.h"

namespace {

using namespace corvanta;
using namespace corvanta::decoder;

constexpr std::size_t kWordBytes = 16;
constexpr std::size_t kScribbleChunk = std::size_t{1} << 20;

// The answer of a decoder whose limits did not hold: a whole 1 x 1 picture.
int SendOnePixel() {
    Report size;
    size.kind = ReportKind::kSize;
    size.width = size.height = size.fittedWidth = size.fittedHeight = 1;
    std::uint8_t go = 0;
    if (!WriteFully(kChannelFd, &size, sizeof size) || !ReadFully(kChannelFd, &go, 1)) {
        return 1;
    }
    Report image;
    image.kind = ReportKind::kImage;
    image.width = image.height = 1;
    const std::vector<std::uint8_t> row(static_cast<std::size_t>(RowBytes(1, false)), 0x80);
    if (go == kGoShared) {
        return ::pwrite(kPixelsFd, row.data(), row.size(), 0) == static_cast<ssize_t>(row.size()) &&
                       WriteFully(kChannelFd, &image, sizeof image)
                   ? 0
                   : 1;
    }
    return WriteFully(kChannelFd, &image, sizeof image) &&
                   WriteFully(kChannelFd, row.data(), row.size())
               ? 0
               : 1;
}

// Takes memory in steps and touches it, far beyond the limit it was given.
int Hog(std::int64_t limit) {
    std::vector<void*> blocks;
    for (std::int64_t taken = 0; taken < 2 * limit; taken += kScribbleChunk) {
        void* block = std::malloc(kScribbleChunk);
        if (block == nullptr) {
            std::abort();  // what a library does when its allocation fails
        }
        std::memset(block, 1, kScribbleChunk);
        blocks.push_back(block);
    }
    return SendOnePixel();
}

// Dies only once its server can no longer tell anyone: the test stops the
// server (SIGSTOP) and the batch must notice by itself.
void WaitUntilServerStopped() {
    const std::string stat = "/proc/" + std::to_string(::getppid()) + "/stat";
    for (int i = 0; i < 6000; ++i) {
        std::ifstream in(stat);
        std::string line;
        std::getline(in, line);
        const std::size_t close = line.rfind(')');
        if (close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'T') {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

[[noreturn]] void Spin() {
    for (;;) {
        asm volatile("");  // a side effect the compiler keeps: the loop stays
    }
}

// Tries to write beside its temporary folder, then fills the folder.
int Scribble() {
    const std::string temp = std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "";
    const std::string outside = temp + ".escaped";
    const ScopedFd escaped(::open(outside.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    if (escaped.Valid()) {
        return SendOnePixel();
    }
    const ScopedFd inside(::open((temp + "/copy").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    const std::vector<char> chunk(kScribbleChunk, 'x');
    for (;;) {
        if (!inside.Valid() || !WriteFully(inside.Get(), chunk.data(), chunk.size())) {
            return 1;
        }
    }
}

// What the picture's first word asks for, with the limits in force.
int Misbehave(const Request& request) {
    char word[kWordBytes + 1] = {};
    if (::pread(kInputFd, word, kWordBytes, 0) < 0) {
        return 1;
    }
    const std::string_view what(word);
    if (what.rfind("crash", 0) == 0) {
        std::raise(SIGSEGV);
    } else if (what.rfind("hog", 0) == 0) {
        return Hog(request.memoryBytes);
    } else if (what.rfind("spin", 0) == 0) {
        Spin();
    } else if (what.rfind("nap", 0) == 0) {
        WaitUntilServerStopped();
        std::raise(SIGSEGV);
    } else if (what.rfind("sleep", 0) == 0) {
        std::this_thread::sleep_for(std::chrono::hours(1));
    } else if (what.rfind("scribble", 0) == 0) {
        return Scribble();
    }
    return SendOnePixel();
}

}  // namespace

int main(int argc, char** argv) {
    return RunDecoder(argc, argv, Misbehave);
}
