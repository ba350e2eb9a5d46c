#include "core/net/ErrorExplanation.h"

#include "core/net/Psock.h"

RunEnd RunEndOfSocketError(int code) {
    switch (code) {
    case 10061:
        return RunEnd::Refused;
    case 10053:
    case 10054:
        return RunEnd::Reset;
    case 10060:
        return RunEnd::TimedOut;
    case 10051:
    case 10065:
        return RunEnd::Unreachable;
    default:
        // The resolver's answers: no such host, try again, no address.
        return code >= 11001 && code <= 11004 ? RunEnd::Unresolved : RunEnd::Failed;
    }
}

RunOutcome OutcomeOfFailure(const std::exception& e) {
    RunOutcome o(RunEnd::Failed, QString::fromUtf8(e.what()));
    // Nothing cancels a request but the user's stop, which goes unreported, and the time-out.
    if (dynamic_cast<const EAbortError*>(&e)) {
        o.end = RunEnd::TimedOut;
        return o;
    }
    const auto* sock = dynamic_cast<const ESockError*>(&e);
    if (!sock)
        return o;
    o.socketError = sock->Code();
    switch (sock->Fault()) {
    case SockFault::SocketError:
        o.end = RunEndOfSocketError(sock->Code());
        break;
    case SockFault::Unresolved:
        o.end = RunEnd::Unresolved;
        break;
    case SockFault::TimedOut:
        o.end = RunEnd::TimedOut;
        break;
    case SockFault::ConnectFailed:
        // Whatever the kernel said, the connect did not get through.
        o.end = RunEnd::Refused;
        break;
    case SockFault::CutShort:
        o.end = RunEnd::CutShort;
        break;
    case SockFault::Other:
        break;
    }
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
