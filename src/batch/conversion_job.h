// One batch as the front ends hand it to the conversion loop.
#pragma once

#include <string>
#include <vector>

#include "decoder/decoder_process.h"

namespace corvanta {

constexpr int kDefaultMaxSide = 8192;  // the window's "Max size" fields at start
constexpr int kJpegQualityHigh = 95;
constexpr int kJpegQualityMedium = 80;

struct ConversionJob {
    int maxWidth = kDefaultMaxSide;   // below 1: no limit
    int maxHeight = kDefaultMaxSide;  // below 1: no limit
    int quality = kJpegQualityHigh;   // JPEG quality, 1..100
    // Output names are this folder followed by the input's file name; a
    // missing trailing slash is supplied.
    std::string outputFolder;
    // One path per element, in conversion order. Kept apart rather than
    // joined into one text, so that no character of a name (a line feed
    // included) can split it into other paths.
    std::vector<std::string> files;
    // How pictures other than JPEG are decoded (tests point it elsewhere).
    DecoderSettings decoder;
};

}  // namespace corvanta
