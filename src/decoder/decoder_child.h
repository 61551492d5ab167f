// The decoder's side: the server that forks a decoder per picture, and the
// decoder that fences itself in, reads one picture (with gdk-pixbuf, or
// with the batch's own JPEG loader for a costly JPEG) and sends it back.
// Everything here runs in corvanta-decode or in the program's decoder mode,
// never in the batch.
#pragma once

#include "decoder/decoder_protocol.h"

namespace corvanta::decoder {

// Puts the limits of request on this process before it reads anything: it
// dies with its parent, dumps no core, gets SIGXCPU after cpuSeconds of CPU
// time and is killed a little later, writes no file above tempFileBytes,
// may map only memoryBytes more than it holds now, is the first the kernel
// kills when memory runs out, cannot be looked into by other processes,
// and is confined (confinement.h): where the kernel has Landlock it reads
// only system files and $TMPDIR, creates, writes or removes files only
// under $TMPDIR (nowhere without a temporary folder) and executes nothing;
// where it has seccomp, a system call outside the allow-list ends it with
// SIGSYS.
// False when a limit that must hold could not be set.
bool EnterDecoderLimits(const Request& request);

// Reads the picture on kInputFd and reports it on kChannelFd, the limits
// already in force. Returns the exit status.
int DecodePicture(const Request& request);

// What a decoder runs: decode once its limits and confinement hold, and
// beforeConfinement (when not null) just before them, its descriptors taken.
struct Decoder {
    int (*decode)(const Request& request) = nullptr;
    void (*beforeConfinement)() = nullptr;
};

// The whole program: "PROGRAM --serve PID VERSION" is the server that forks
// a decoder per picture; each enters its limits and then runs decode.
int RunDecoder(int argc, char** argv, const Decoder& decoder);

// Whether argv asks the program for its decoder mode (kSelfOption first),
// and that mode, which must run before any toolkit is initialised.
bool IsDecoderMode(int argc, char** argv);
int RunDecoderMode(int argc, char** argv);

}  // namespace corvanta::decoder
