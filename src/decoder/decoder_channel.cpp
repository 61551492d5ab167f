#include "decoder/decoder_channel.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "decoder/descriptor_passing.h"

namespace corvanta::channel {
namespace {

using Clock = SteadyClock;
constexpr std::chrono::milliseconds kPollSlice{50};

bool Stopped(const std::atomic<bool>* stop) {
    return stop != nullptr && stop->load();
}

}  // namespace

Wait WaitReadable(int fd, Clock::time_point deadline, const std::atomic<bool>* stop) {
    for (;;) {
        if (Stopped(stop)) {
            return Wait::kStopped;
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            return Wait::kTimedOut;
        }
        const auto slice = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::min<Clock::duration>(kPollSlice, deadline - now));
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(slice.count()) + 1) > 0) {
            return Wait::kDone;
        }
    }
}

Wait ReadWithin(int fd, void* data, std::size_t length, Clock::time_point deadline,
                const std::atomic<bool>* stop) {
    auto* p = static_cast<std::uint8_t*>(data);
    while (length > 0) {
        const Wait ready = WaitReadable(fd, deadline, stop);
        if (ready != Wait::kDone) {
            return ready;
        }
        const ssize_t n = ::recv(fd, p, length, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            return Wait::kClosed;
        }
        if (n > 0) {
            p += n;
            length -= static_cast<std::size_t>(n);
        }
    }
    return Wait::kDone;
}

Wait ReceiveWithin(int fd, void* data, std::size_t length, Clock::time_point deadline,
                   const std::atomic<bool>* stop, ScopedFd* passed) {
    for (;;) {
        const Wait ready = WaitReadable(fd, deadline, stop);
        if (ready != Wait::kDone) {
            return ready;
        }
        int received = -1;
        std::size_t count = 0;
        const ssize_t n =
            decoder::ReceiveWithDescriptors(fd, data, length, &received, 1, count, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        }
        ScopedFd owned(count > 0 ? received : -1);  // closed unless the caller wants it
        if (passed != nullptr) {
            *passed = std::move(owned);
        }
        return n == static_cast<ssize_t>(length) ? Wait::kDone : Wait::kClosed;
    }
}

}  // namespace corvanta::channel
