// The short reasons a file's "[Error]" line gives, shared by every step of a
// conversion and both front ends.
#pragma once

#include <string_view>

#include "decoder/decoder_process.h"
#include "decoder/input_file.h"

namespace corvanta::failure_reason {

constexpr std::string_view kNoFileName = "no file name";
constexpr std::string_view kNotFound = "file not found";
constexpr std::string_view kNoPermission = "permission denied";
constexpr std::string_view kUnreadable = "cannot read file";
constexpr std::string_view kFolder = "is a folder";
constexpr std::string_view kNotRegular = "not a regular file";
constexpr std::string_view kNotAnImage = "not a readable image";
constexpr std::string_view kTooLarge = "too large";
constexpr std::string_view kTookTooLong = "took too long";
constexpr std::string_view kUndecodable = "could not be decoded";
constexpr std::string_view kNoDecoder = "image decoder unavailable";
constexpr std::string_view kNeedsTempFolder =
    "needs a temporary folder: TMPDIR and /tmp are unusable";
constexpr std::string_view kTooCostly = "too costly to decode";
constexpr std::string_view kStoppedResponding = "decoder stopped responding";
constexpr std::string_view kDecoderKilled = "decoder was killed";
constexpr std::string_view kOutOfMemory = "out of memory";
constexpr std::string_view kTooManyFiles = "too many open files";
constexpr std::string_view kForbiddenCall = "decoder stopped: forbidden system call";
// What a [Done] line says of a picture that decoded only in part.
constexpr std::string_view kDamagedEndsEarly = "damaged: the picture ends early";
constexpr std::string_view kDamagedCorrupt = "damaged: part of the picture is corrupt";
// Why an output could not be written, by what the system said.
constexpr std::string_view kDiskFull = "disk full";
constexpr std::string_view kOutputGone = "output folder is gone";
constexpr std::string_view kOutputReadOnly = "output folder is read-only";
constexpr std::string_view kNoWritePermission = "no permission to write";
constexpr std::string_view kNotWritten = "could not write output";
constexpr std::string_view kNoCodec = "TurboJPEG unavailable";

// The reason for a failed open, create, write, link or rename of an output
// with errno error.
std::string_view ForWriteError(int error);

// The reasons for an input that could not be opened, and for a decoder that
// gave no picture.
std::string_view ForInput(InputProblem problem);
std::string_view ForDecode(DecodeProblem problem);

}  // namespace corvanta::failure_reason
