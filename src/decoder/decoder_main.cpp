#include "decoder/decoder_child.h"

// corvanta-decode: reads one picture for the batch in a process of its own,
// so that a format library that crashes, hangs or runs out of memory costs
// that one picture and nothing else.
int main(int argc, char** argv) {
    return corvanta::decoder::RunDecoder(argc, argv, {corvanta::decoder::DecodePicture, nullptr});
}
