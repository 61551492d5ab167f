// The decoder program's side: it fences itself in, then reads one picture
// with gdk-pixbuf and sends it back. Everything here runs in the short-lived
// corvanta-decode process, never in the batch.
#pragma once

#include "batch/decoder_protocol.h"

namespace corvanta::decoder {

// Puts the limits of request on this process before it reads anything: it
// dies with its parent, dumps no core, gets SIGXCPU after cpuSeconds of CPU
// time and is killed a little later, writes no file above tempFileBytes,
// may map only memoryBytes more than it holds now, is the first the kernel
// kills when memory runs out, and, where the kernel has Landlock, may
// create, write or remove files only under $TMPDIR and execute nothing.
// False when a limit that must hold could not be set.
bool EnterDecoderLimits(const Request& request);

// Reads the picture on kInputFd and reports it on kChannelFd, the limits
// already in force. Returns the exit status.
int DecodePicture(const Request& request);

using PictureDecoder = int (*)(const Request& request);

// The whole program: with "--serve PID" the server that forks a decoder per
// picture, otherwise one decoder for the request in argv. Either way each
// picture's process enters its limits and then runs decode.
int RunDecoder(int argc, char** argv, PictureDecoder decode);

}  // namespace corvanta::decoder
