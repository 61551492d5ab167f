#include "decoder/decoder_channel.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>

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
        iovec io{data, length};
        alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int))> control{};
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control.data();
        message.msg_controllen = control.size();
        const ssize_t n = ::recvmsg(fd, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        }
        const cmsghdr* header = n > 0 ? CMSG_FIRSTHDR(&message) : nullptr;
        if (header != nullptr && header->cmsg_type == SCM_RIGHTS &&
            header->cmsg_len == CMSG_LEN(sizeof(int))) {
            int received = -1;
            std::memcpy(&received, CMSG_DATA(header), sizeof received);
            ScopedFd owned(received);  // closed unless the caller wants it
            if (passed != nullptr) {
                *passed = std::move(owned);
            }
        }
        return n == static_cast<ssize_t>(length) ? Wait::kDone : Wait::kClosed;
    }
}

}  // namespace corvanta::channel
