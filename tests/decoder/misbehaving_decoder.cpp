// A stand-in for corvanta-decode that puts the same limits on itself and then
// does what the first word of the "picture" asks: the ways a format library
// can go wrong, made certain. When a limit fails to hold it answers with a
// valid one-pixel picture, so the test sees "[Done]" instead of an error;
// so does a confined decoder that gets out of its confinement.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/scoped_fd.h"
#include "decoder/decoder_child.h"
#include "decoder/decoder_protocol.h"

extern char** environ;

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

// The server's /proc entry, opened before the decoder's confinement
// closes /proc.
int serverStat = -1;

void OpenServerStat() {
    const std::string stat = "/proc/" + std::to_string(::getppid()) + "/stat";
    serverStat = ::open(stat.c_str(), O_RDONLY | O_CLOEXEC);
}

// Dies only once its server can no longer tell anyone: the test stops the
// server (SIGSTOP) and the batch must notice by itself.
void WaitUntilServerStopped() {
    for (int i = 0; i < 6000; ++i) {
        std::array<char, 1024> text{};
        const ssize_t n = ::pread(serverStat, text.data(), text.size() - 1, 0);
        const std::string line(text.data(), n > 0 ? static_cast<std::size_t>(n) : 0);
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

bool Connected(int family, const sockaddr* address, socklen_t length) {
    const ScopedFd socket(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    constexpr std::string_view kLeak = "leak";
    return socket.Valid() && ::connect(socket.Get(), address, length) == 0 &&
           ::send(socket.Get(), kLeak.data(), kLeak.size(), MSG_NOSIGNAL) > 0;
}

bool ConnectedInet(const std::string& port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(std::atoi(port.c_str())));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return Connected(AF_INET, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

bool ConnectedUnix(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    return Connected(AF_UNIX, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

// Whether the environment holds more than the locale, TMPDIR and where the
// loaders are, or secret.
bool EnvironmentTells(const std::string& secret) {
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view variable(*e);
        const bool expected = variable.rfind("LANG=", 0) == 0 || variable.rfind("LC_", 0) == 0 ||
                              variable.rfind("TMPDIR=", 0) == 0 ||
                              variable.rfind("GDK_PIXBUF_MODULE", 0) == 0;
        if (!expected || variable.find(secret) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

// "escape ACT ARGUMENT": one act a confined decoder must not get away with;
// the one-pixel answer when it does.
int Escape(const std::string& act, const std::string& argument) {
    bool escaped = false;
    if (act == "read") {
        std::array<char, 16> buffer{};
        const ScopedFd file(::open(argument.c_str(), O_RDONLY | O_CLOEXEC));
        escaped = file.Valid() && ::read(file.Get(), buffer.data(), buffer.size()) >= 0;
    } else if (act == "write") {
        escaped = ScopedFd(::open(argument.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600)).Valid();
    } else if (act == "inet") {
        escaped = ConnectedInet(argument);
    } else if (act == "unix") {
        escaped = ConnectedUnix(argument);
    } else if (act == "exec") {
        char* const arguments[] = {const_cast<char*>("/bin/true"), nullptr};
        ::execve("/bin/true", arguments, environ);
    } else if (act == "ptrace") {
        escaped = ::ptrace(PTRACE_ATTACH, ::getppid(), nullptr, nullptr) == 0;
    } else if (act == "environment") {
        escaped = EnvironmentTells(argument);
    }
    return escaped ? SendOnePixel() : 1;
}

int EscapeAsAsked() {
    std::array<char, 4096> text{};
    const ssize_t n = ::pread(kInputFd, text.data(), text.size() - 1, 0);
    std::istringstream words(std::string(text.data(), n > 0 ? static_cast<std::size_t>(n) : 0));
    std::string escape;
    std::string act;
    std::string argument;
    words >> escape >> act >> argument;
    return Escape(act, argument);
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
    } else if (what.rfind("escape", 0) == 0) {
        return EscapeAsAsked();
    }
    return SendOnePixel();
}

}  // namespace

int main(int argc, char** argv) {
    return RunDecoder(argc, argv, {Misbehave, OpenServerStat});
}
