// The batch's side of the sockets to its decoder server and decoders:
// reads with a deadline that hear the stop flag. Private to the decoder
// process code.
#pragma once

#include <atomic>
#include <cstddef>

#include "common/scoped_fd.h"
#include "decoder/process_handle.h"

namespace corvanta::channel {

enum class Wait { kDone, kClosed, kStopped, kTimedOut };

// Waits until fd has something to read (or has been closed).
Wait WaitReadable(int fd, SteadyClock::time_point deadline, const std::atomic<bool>* stop);

// Reads exactly length bytes from a stream socket.
Wait ReadWithin(int fd, void* data, std::size_t length, SteadyClock::time_point deadline,
                const std::atomic<bool>* stop);

// Receives one whole message of length bytes from a packet socket, with the
// descriptor it carries, if any, in passed.
Wait ReceiveWithin(int fd, void* data, std::size_t length, SteadyClock::time_point deadline,
                   const std::atomic<bool>* stop, ScopedFd* passed = nullptr);

}  // namespace corvanta::channel
