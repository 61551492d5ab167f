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
// kills when memory runs out, and, where the kernel has Landlock, may
// create, write or remove files only under $TMPDIR (nowhere without a
// temporary folder) and execute nothing.
// False when a limit that must hold could not be set.
bool EnterDecoderLimits(const Request& request);

// Reads the picture on kInputFd and reports it on kChannelFd, the limits
// already in force. Returns the exit status.
int DecodePicture(const Request& request);

using PictureDecoder = int (*)(const Request& request);

// The whole program: "PROGRAM --serve PID VERSION" is the server that forks
// a decoder per picture; each enters its limits and then runs decode.
int RunDecoder(int argc, char** argv, PictureDecoder decode);

// Whether argv asks the program for its decoder mode (kSelfOption first),
// and that mode, which must run before any toolkit is initialised.
bool IsDecoderMode(int argc, char** argv);
int RunDecoderMode(int argc, char** argv);

}  // namespace corvanta::decoder
