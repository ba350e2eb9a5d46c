// The main window's links to web pages and its help dialogs.
#include "app/quillmetUnit1.h"

void TForm1::WebW1Click() {}

void TForm1::KAVJOURNALWebB1Click() {}

void TForm1::Label16Click() {}

void TForm1::About1Click() {}

void TForm1::Tutorial1Click() {}
