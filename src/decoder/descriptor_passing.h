// Messages with descriptors attached (SCM_RIGHTS), as the batch and its
// decoder server hand each other pictures, sockets, shared memory and
// pidfds. Both ends go through these two functions.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace corvanta::decoder {

constexpr std::size_t kMaxPassedDescriptors = 3;

// Sends length bytes of data with count descriptors (at most
// kMaxPassedDescriptors, none when count is 0); true when all of it went.
bool SendWithDescriptors(int socket, const void* data, std::size_t length, const int* fds,
                         std::size_t count);

// Receives one message of up to length bytes, and the descriptors it
// carries (close-on-exec) into fds, at most maxCount of them, their number
// in received. Returns what recvmsg returns; flags go to recvmsg.
ssize_t ReceiveWithDescriptors(int socket, void* data, std::size_t length, int* fds,
                               std::size_t maxCount, std::size_t& received, int flags = 0);

}  // namespace corvanta::decoder
