// The main window's state file "qm1.dat".
#include "app/quillmetUnit1.h"

void TForm1::ReadStateFile() {}

void TForm1::WriteStateFile() {}
