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

    // The host part runs from after "http://" to the next "/", as the client reads it.
    const QString rest = url.mid(7);
    const QString hostPart = rest.left(rest.indexOf(QLatin1Char('/')));
    if (hostPart.contains(QLatin1Char('@')))
        return {Refusal::UserInfo, QString(),
                QStringLiteral("URLにユーザー名やパスワードは入れられません。")};
    const UrlAuthority authority = SplitUrlAuthority(hostPart.toStdString());
    if (!authority.wellFormed)
        return {Refusal::BadIpv6Literal, QString(), QString::fromUtf8(kUrlIpv6Refused)};
    if (authority.host.empty())
        return {Refusal::NoHost, QString(), QStringLiteral("URLにホスト名がありません。")};
    if (authority.hasPort) {
        // Digits only: the client would read "-1" or "99999" as some other port.
        const QString port = QString::fromStdString(authority.port);
        bool digits = !port.isEmpty() && port.size() <= 5;
        for (const QChar c : port)
            digits = digits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
        const int number = digits ? port.toInt() : 0;
        if (number < 1 || number > 65535)
            return {Refusal::BadPort, QString(),
                    QStringLiteral("ポート番号は1から65535までの数字で入れてください。")};
    }
    return {};
}

AddressFamily DownloadFamily(const QString& url, AddressFamily chosen) {
    const QString rest = url.mid(7);
    return rest.startsWith(QLatin1Char('[')) ? AddressFamily::Ipv6 : chosen;
}
