#include "platform/ExceptionReport.h"

#include "platform/MessageBox.h"

#include <QString>
#include <cstdio>

void ShowException(const std::exception& e) {
    try {
        ShowMessageBox(QString::fromUtf8(e.what()), MsgButtons::Ok, MsgIcon::Error);
    } catch (...) {
        std::fprintf(stderr, "quillmet: %s\n", e.what());
    }
}

void ShowUnknownException() {
    try {
        ShowMessageBox(QStringLiteral("不明な例外が発生しました。"), MsgButtons::Ok,
                       MsgIcon::Error);
    } catch (...) {
        std::fprintf(stderr, "quillmet: unknown exception\n");
    }
}
