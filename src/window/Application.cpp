#include "window/Application.h"

#include "core/platform/TerminationSignals.h"
#include "window/dialogs/quillmetUnit2.h"
#include "window/dialogs/quillmetUnit3.h"
#include "window/dialogs/quillmetUnit4.h"
#include "window/dialogs/quillmetUnit6.h"
#include "window/main/quillmetUnit1.h"
#include "window/widgets/ExceptionReport.h"
#include "window/widgets/Fonts.h"
#include "window/widgets/MessageBox.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>

bool InstallQtTranslations() {
    // Parented to the application, so it lives exactly as long as the texts it translates.
    auto* qt = new QTranslator(QCoreApplication::instance());
    if (!qt->load(QStringLiteral("qtbase_ja"),
                  QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete qt;
        return false;
    }
    return QCoreApplication::installTranslator(qt);
}

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
    // The icon drawn for the menu entry. Wayland shows the one of the desktop file named here.
    QIcon icon;
    for (int size : {16, 32, 48, 256})
        icon.addFile(QStringLiteral(":/icons/quillmet-%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
    QApplication::setDesktopFileName(QStringLiteral("io.github.quillmet.Quillmet"));
    InstallQtTranslations();
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
