#include "core/net/ErrorExplanation.h"

namespace {
bool has(const QString& message, const char* part) {
    return message.contains(QLatin1String(part), Qt::CaseInsensitive);
}
} // namespace

QString ExplainNetworkError(const QString& message, const QString& host, int port, int replyCode) {
    const QString where = QStringLiteral("%1:%2").arg(host).arg(port);
    if (replyCode >= 400)
        return QStringLiteral("%1 のサーバがエラー %2 を返しました。URL のパスとファイル名を"
                              "確かめてください。")
            .arg(where)
            .arg(replyCode);
    // The socket's own texts carry the system's error number; the HTTP client's do not.
    if (has(message, "Null Remote Address") || has(message, "Host Lookup") ||
        has(message, "ASync Lookup") || has(message, "11001") || has(message, "11004"))
        return QStringLiteral("ホスト名 %1 が見つかりませんでした。URL のホスト名の綴りと、"
                              "ネットワークにつながっているかを確かめてください。")
            .arg(host);
    if (has(message, "Connection Failed") || has(message, "10061") ||
        has(message, "Connection refused"))
        return QStringLiteral("%1 に接続できませんでした。サーバが動いているか、URL のホスト名と"
                              "ポート番号を確かめてください。")
            .arg(where);
    if (has(message, "10054") || has(message, "reset by peer") || has(message, "10053"))
        return QStringLiteral("%1 のサーバが測定の途中で接続を切りました。しばらくしてから、"
                              "もう一度測定してください。")
            .arg(where);
    if (has(message, "Timed out") || has(message, "10060"))
        return QStringLiteral("%1 から決まった時間内に応答がありませんでした。サーバが混んで"
                              "いるか、途中のネットワークが止まっています。")
            .arg(where);
    if (has(message, "10051") || has(message, "10065"))
        return QStringLiteral("%1 へ届く経路がありません。ネットワークの接続を確かめて"
                              "ください。")
            .arg(where);
    return QString();
}

QString ExplainBrowserFailure(const QString& url) {
    if (url.isEmpty())
        return QString();
    return QStringLiteral("ブラウザを起動できませんでした。%1 をブラウザで直接開いてください。")
        .arg(url);
}
