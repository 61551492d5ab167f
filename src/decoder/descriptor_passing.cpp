#include "decoder/descriptor_passing.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace corvanta::decoder {
namespace {

using ControlBuffer = std::array<char, CMSG_SPACE(sizeof(int) * kMaxPassedDescriptors)>;

}  // namespace

bool SendWithDescriptors(int socket, const void* data, std::size_t length, const int* fds,
                         std::size_t count) {
    iovec io{const_cast<void*>(data), length};
    alignas(cmsghdr) ControlBuffer control{};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    if (count > 0 && count <= kMaxPassedDescriptors) {
        message.msg_control = control.data();
        message.msg_controllen = CMSG_SPACE(sizeof(int) * count);
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int) * count);
        std::memcpy(CMSG_DATA(header), fds, sizeof(int) * count);
    }
    return ::sendmsg(socket, &message, MSG_NOSIGNAL) == static_cast<ssize_t>(length);
}

ssize_t ReceiveWithDescriptors(int socket, void* data, std::size_t length, int* fds,
                               std::size_t maxCount, std::size_t& received, int flags) {
    received = 0;
    iovec io{data, length};
    alignas(cmsghdr) ControlBuffer control{};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    const ssize_t n = ::recvmsg(socket, &message, flags | MSG_CMSG_CLOEXEC);
    const cmsghdr* header = n >= 0 ? CMSG_FIRSTHDR(&message) : nullptr;
    if (header != nullptr && header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS &&
        header->cmsg_len >= CMSG_LEN(0)) {
        const std::size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        std::array<int, kMaxPassedDescriptors> passed{};
        std::memcpy(passed.data(), CMSG_DATA(header), sizeof(int) * std::min(count, passed.size()));
        for (std::size_t i = 0; i < count && i < passed.size(); ++i) {
            if (i < maxCount) {
                fds[received++] = passed[i];
            } else {
                ::close(passed[i]);  // more than asked for: none of ours
            }
        }
    }
    return n;
}

}  // namespace corvanta::decoder
