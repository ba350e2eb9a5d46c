#include "platform/ExceptionReport.h"

#include "platform/MessageBox.h"

#include <cstdio>

void InstallExceptionReport() {
    SetEventErrorSink([](const QString& message) { ShowExceptionMessage(message); });
}

void ShowExceptionMessage(const QString& message) {
    try {
        ShowMessageBox(message, MsgButtons::Ok, MsgIcon::Error);
    } catch (...) {
        std::fprintf(stderr, "quillmet: %s\n", message.toLocal8Bit().constData());
    }
}

void ShowException(const std::exception& e) {
    ShowExceptionMessage(QString::fromUtf8(e.what()));
}

void ShowUnknownException() {
    ShowExceptionMessage(QStringLiteral("不明な例外が発生しました。"));
}
