// The program quillmet-cli: options, the lock, the runs and the exit code.
#pragma once

int RunQuillmetCli(int argc, char* argv[]);
