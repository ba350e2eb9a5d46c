// quillmet-cli: the window's measurement for scripts, cron and timers.
#include "cli/CliMain.h"

int main(int argc, char* argv[]) {
    return RunQuillmetCli(argc, argv);
}
