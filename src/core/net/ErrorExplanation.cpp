#include "core/net/ErrorExplanation.h"

#include "core/net/Psock.h"

#include <array>
#include <utility>

RunEnd RunEndOfSocketError(int code) {
    // The resolver's answers from 11001 to 11004: no such host, try again, no address.
    const std::pair<int, RunEnd> known[] = {
        {10061, RunEnd::Refused},    {10053, RunEnd::Reset},       {10054, RunEnd::Reset},
        {10060, RunEnd::TimedOut},   {10051, RunEnd::Unreachable}, {10065, RunEnd::Unreachable},
        {11001, RunEnd::Unresolved}, {11002, RunEnd::Unresolved},  {11003, RunEnd::Unresolved},
        {11004, RunEnd::Unresolved}};
    for (const auto& [number, end] : known) {
        if (number == code)
            return end;
    }
    return RunEnd::Failed;
}

RunOutcome OutcomeOfFailure(const std::exception& e) {
    RunOutcome o(RunEnd::Failed, QString::fromUtf8(e.what()));
    const auto* sock = dynamic_cast<const ESockError*>(&e);
    // Nothing cancels a request but the user's stop, which goes unreported, and the time-out.
    if (dynamic_cast<const EAbortError*>(&e))
        o.end = RunEnd::TimedOut;
    else if (sock && sock->Fault() == SockFault::SocketError)
        o.end = RunEndOfSocketError(sock->Code());
    else if (sock) // by SockFault; a connect that failed did not get through, whatever the cause
        o.end =
            std::array{RunEnd::Failed,        RunEnd::Failed,       RunEnd::Unresolved,
                       RunEnd::TimedOut,      RunEnd::Refused,      RunEnd::CutShort,
                       RunEnd::NoIpv4Address, RunEnd::NoIpv6Address}[std::size_t(sock->Fault())];
    o.socketError = sock ? sock->Code() : 0;
    return o;
}

QString ExplainNetworkError(const RunOutcome& outcome, const QString& host, int port) {
    const QString where = QStringLiteral("%1:%2").arg(host).arg(port);
    switch (outcome.end) {
    case RunEnd::ErrorReply:
        if (outcome.replyCode < 400)
            return QString();
        return QStringLiteral("%1 のサーバがエラー %2 を返しました。URL のパスとファイル名を"
                              "確かめてください。")
            .arg(where)
            .arg(outcome.replyCode);
    case RunEnd::Unresolved:
        return QStringLiteral("ホスト名 %1 が見つかりませんでした。URL のホスト名の綴りと、"
                              "ネットワークにつながっているかを確かめてください。")
            .arg(host);
    case RunEnd::NoIpv4Address:
        return QStringLiteral("このホストには IPv4 のアドレスがありません。");
    case RunEnd::NoIpv6Address:
        return QStringLiteral("このホストには IPv6 のアドレスがありません。");
    case RunEnd::Refused:
        return QStringLiteral("%1 に接続できませんでした。サーバが動いているか、URL のホスト名と"
                              "ポート番号を確かめてください。")
            .arg(where);
    case RunEnd::Reset:
        return QStringLiteral("%1 のサーバが測定の途中で接続を切りました。しばらくしてから、"
                              "もう一度測定してください。")
            .arg(where);
    case RunEnd::TimedOut:
        return QStringLiteral("%1 から決まった時間内に応答がありませんでした。サーバが混んで"
                              "いるか、途中のネットワークが止まっています。")
            .arg(where);
    case RunEnd::NoBody:
        return QStringLiteral("%1 のサーバは応答しましたが、ファイルの中身を送ってきませんでした。"
                              "URL が JPEG ファイルを指しているか確かめてください。")
            .arg(where);
    case RunEnd::Unreachable:
        return QStringLiteral("%1 へ届く経路がありません。ネットワークの接続を確かめて"
                              "ください。")
            .arg(where);
    default:
        return QString();
    }
}

QString ExplainBrowserFailure(const QString& url) {
    if (url.isEmpty())
        return QString();
    return QStringLiteral("ブラウザを起動できませんでした。%1 をブラウザで直接開いてください。")
        .arg(url);
}
