// The main window's links to web pages and its help dialogs.
#include "window/main/quillmetUnit1.h"

#include "QuillmetConfig.h"
#include "window/dialogs/quillmetUnit2.h"
#include "window/dialogs/quillmetUnit3.h"
#include "window/widgets/BrowserLauncher.h"

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
    if (Form3) {
        Form3->ShowSampleHost(SampleHostText(m_server));
        Form3->exec();
    }
}
