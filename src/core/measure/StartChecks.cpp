#include "core/measure/StartChecks.h"

#include "core/net/Nmhttp.h"

DownloadStartCheck CheckDownloadUrl(const QString& url) {
    using Refusal = DownloadStartCheck::Refusal;
    if (url.isEmpty())
        return {Refusal::Empty, QStringLiteral("エラー：URLを入れてください"),
                QStringLiteral("URLを入力し、測定開始を押してください。\n"
                               "「簡易測定」メニューを使うと簡単です。")};
    if (!url.startsWith(QLatin1String("http://")))
        return {Refusal::NotHttp, QStringLiteral("エラー：http://から始まるURLを入れてください"),
                QString()};
    if (!url.endsWith(QLatin1Char('g')))
        return {Refusal::NotJpeg, QString(), QStringLiteral("JPEGファイルで測定してください。")};
    if (HasControlCharacter(url.toStdString()))
        return {Refusal::ControlCharacter, QString(), QString::fromUtf8(kUrlCharacterRefused)};
    return {};
}
