// What a network failure means to the user, in a sentence or two under the message itself.
#pragma once

#include <QString>

// The explanation of a failure: its message as the component raised it ("Connection
// Failed", "Null Remote Address", "10054:Connection reset by peer", "非同期ソケットエラー
// 10061", …), the host and port that were tried, and the reply code of an error reply
// (0 for none). Empty when there is nothing useful to add.
QString ExplainNetworkError(const QString& message, const QString& host, int port,
                            int replyCode = 0);

// The explanation for a browser that could not be started with the URL.
QString ExplainBrowserFailure(const QString& url);
