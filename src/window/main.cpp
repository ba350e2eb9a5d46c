// Program entry: creates the windows in order and runs the event loop.
#include "window/Application.h"

int main(int argc, char* argv[]) {
    return RunQuillmet(argc, argv);
}
