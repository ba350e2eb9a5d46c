#include "app/Application.h"

#include "platform/Fonts.h"

#include <QApplication>
#include <QMainWindow>

int RunQuillmet(int argc, char* argv[])
{
    QApplication app(argc, argv);
    InstallFontSubstitutions();
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Quillmet ver.1.90"));
    window.show();
    app.exec();
    return 0;
}
