// The main window's links to web pages and its help dialogs.
#include "app/quillmetUnit1.h"

#include "QuillmetConfig.h"
#include "ui/BrowserLauncher.h"
#include "ui/quillmetUnit2.h"
#include "ui/quillmetUnit3.h"

void TForm1::WebW1Click() {
    OpenUrlInBrowser(QString::fromUtf8(qmconfig::HomeUrl));
}

void TForm1::KAVJOURNALWebB1Click() {
    OpenUrlInBrowser(QString::fromUtf8(qmconfig::AuthorUrl));
}

void TForm1::Label16Click() {
    OpenUrlInBrowser(QString::fromUtf8(qmconfig::HomeUrl));
}

void TForm1::About1Click() {
    if (Form2)
        Form2->exec();
}

void TForm1::Tutorial1Click() {
    if (Form3)
        Form3->exec();
}
