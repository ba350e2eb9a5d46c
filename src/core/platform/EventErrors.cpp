#include "core/platform/EventErrors.h"

#include <cstdio>

namespace {
EventErrorSink& sink() {
    static EventErrorSink s;
    return s;
}

void toStandardError(const QString& message) {
    std::fprintf(stderr, "quillmet: %s\n", message.toLocal8Bit().constData());
}
} // namespace

void SetEventErrorSink(EventErrorSink s) {
    sink() = std::move(s);
}

void ReportEventError(const QString& message) {
    if (!sink()) {
        toStandardError(message);
        return;
    }
    try {
        sink()(message);
    } catch (...) {
        toStandardError(message);
    }
}

void ReportEventError(const std::exception& e) {
    ReportEventError(QString::fromUtf8(e.what()));
}

void ReportUnknownEventError() {
    ReportEventError(QStringLiteral("不明な例外が発生しました。"));
}
