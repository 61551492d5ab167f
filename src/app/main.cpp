// corvanta: the window program. Everything lives in the GUI library so that
// the tests can start the same window without this entry point.
#include "app/program.h"

int main(int argc, char** argv) {
    return corvanta::RunProgram(argc, argv);
}
