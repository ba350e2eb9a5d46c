// Program start and end.
#pragma once

// Creates the windows in order, runs the event loop until the main window has
// closed, and returns the exit code (0).
int RunQuillmet(int argc, char* argv[]);
