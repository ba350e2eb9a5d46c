// The main window's history list, quick presets, saved URLs and fastest record.
#include "app/quillmetUnit1.h"

void TForm1::Button3Click() {}

void TForm1::L1Click() {}

void TForm1::D2Click() {}

void TForm1::Button4Click() {}

void TForm1::N5Click() {}

void TForm1::DTI8184KBN1Click() {}

void TForm1::CommufaC1Click() {}

void TForm1::USEN1Click() {}

void TForm1::WebARENAW1Click() {}

void TForm1::QuillmetJPEG989KBV3Click() {}

void TForm1::QuillmetJPEG989KBV2Click() {}

void TForm1::QuillmetJPEG989KBV1Click() {}

void TForm1::Serverisland110Click() {}

void TForm1::Quillmetjpg1Click() {}

void TForm1::URLI1Click() {}

void TForm1::URLI2Click() {}

void TForm1::URLI3Click() {}

void TForm1::URLI4Click() {}

void TForm1::URLI5Click() {}

void TForm1::URL1Click() {}

void TForm1::URLJ1Click() {}

void TForm1::URLJ2Click() {}

void TForm1::URLJ3Click() {}

void TForm1::URLJ4Click() {}

void TForm1::Button6Click() {}

void TForm1::T1Click() {}

void TForm1::OfferToFastestRecord() {}
