// The main window's download run: start, rounds, completion.
#include "app/quillmetUnit1.h"

void TForm1::CreateDownloadComponents() {}

void TForm1::Button1Click() {}

void TForm1::NMHTTP1Connect() {}

void TForm1::NMHTTP1Success(CmdType) {}

void TForm1::NMHTTP1Failure(CmdType) {}

void TForm1::Timer1Timer() {}

void TForm1::Timer2Timer() {}
