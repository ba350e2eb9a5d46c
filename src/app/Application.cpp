#include "app/Application.h"

#include "app/quillmetUnit1.h"
#include "platform/ExceptionReport.h"
#include "platform/Fonts.h"
#include "platform/MessageBox.h"
#include "platform/TerminationSignals.h"
#include "timer/quillmetUnit6.h"
#include "ui/quillmetUnit2.h"
#include "ui/quillmetUnit3.h"
#include "upload/quillmetUnit4.h"

#include <QApplication>

void CreateForms(const QStringList& arguments, const std::function<void(TForm1*)>& beforeCreate) {
    // Errors escaping a handler of the network or the timers are shown in a message box.
    InstallExceptionReport();
    Form1 = new TForm1(arguments);
    if (beforeCreate)
        beforeCreate(Form1);
    Guarded([] { Form1->FormCreate(); });
    Form2 = new TForm2(Form1);
    Form3 = new TForm3(Form1);
    Form4 = new TForm4(Form1);
    Form6 = new TForm6(Form1);
}

void DestroyForms() {
    delete Form1; // the dialogs are its children
    Form1 = nullptr;
    Form2 = nullptr;
    Form3 = nullptr;
    Form4 = nullptr;
    Form6 = nullptr;
}

int RunQuillmet(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillmet"));
    InstallFontSubstitutions();
    QApplication::setFont(PixelFont(kGothic, 12));

    // SIGTERM, SIGINT and SIGHUP close the main window as its close box does.
    InstallTerminationSignals([](int) {
        if (Form1)
            Form1->CloseForSignal();
    });

    try {
        CreateForms(QApplication::arguments().mid(1), [](TForm1* form) {
            // Once the main window has closed nothing may wait for the user any more.
            QObject::connect(form, &TForm1::closed, [] { SetMessageBoxesSuppressed(true); });
        });
        if (!Form1->Closed()) {
            Form1->show();
            QApplication::exec();
        }
    } catch (const std::exception& e) {
        ShowException(e);
    }
    DestroyForms();
    return 0;
}
