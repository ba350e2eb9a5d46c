// The main window's upload: the SMTP dialogue over ClientSocket3, and the mode switch.
#include "app/quillmetUnit1.h"

void TForm1::CreateUploadComponents() {}

void TForm1::CloseUploadSocket() {}

void TForm1::StartUpload() {}

void TForm1::ClientSocket3Connect(QObject*, TCustomWinSocket*) {}

void TForm1::ClientSocket3Read(QObject*, TCustomWinSocket*) {}

void TForm1::ClientSocket3Disconnect(QObject*, TCustomWinSocket*) {}

void TForm1::SMTPB1Click() {}

void TForm1::WEBB1Click() {}
