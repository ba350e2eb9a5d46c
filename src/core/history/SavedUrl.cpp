#include "core/history/SavedUrl.h"

#include "QuillmetConfig.h"
#include "core/measure/RunResult.h"

QString SampleFileUrl(const char* path) {
    return QStringLiteral("http://") + QString::fromUtf8(qmconfig::SampleHost) +
           QString::fromLatin1(path);
}

bool IsSavableUrl(const QString& url) {
    return url.startsWith(QStringLiteral("http://"), Qt::CaseSensitive);
}

QString SavedUrlCaption(const QString& url, const QString& suffix) {
    return UrlHostPart(url) + suffix;
}
