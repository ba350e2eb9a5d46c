#include "window/widgets/ExceptionReport.h"

#include "window/widgets/MessageBox.h"

#include <cstdio>

namespace {
std::function<QString(const QString&)>& explainer() {
    static std::function<QString(const QString&)> e;
    return e;
}
} // namespace

void SetErrorExplainer(std::function<QString(const QString& message)> e) {
    explainer() = std::move(e);
}

void InstallExceptionReport() {
    SetEventErrorSink([](const QString& message) {
        ShowExceptionMessage(message, explainer() ? explainer()(message) : QString());
    });
}

void ShowExceptionMessage(const QString& message, const QString& explanation) {
    try {
        ShowMessageBox(message, MsgButtons::Ok, MsgIcon::Error, explanation);
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
