// corvanta: the window program. Everything lives in the GUI library so that
// the tests can start the same window without this entry point.
#include "app/program.h"
#include "common/program_directory.h"
#include "decoder/decoder_child.h"

int main(int argc, char** argv) {
    // A copy of the program with no corvanta-decode beside it serves as its
    // own decoder, before anything of the toolkit is touched.
    if (corvanta::decoder::IsDecoderMode(argc, argv)) {
        return corvanta::decoder::RunDecoderMode(argc, argv);
    }
    corvanta::RememberProgramArgument(argc > 0 ? argv[0] : nullptr);
    return corvanta::RunProgram(argc, argv);
}
