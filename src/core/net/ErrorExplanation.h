// Why a measurement run ended, and what a network failure means to the user.
#pragma once

#include <QString>
#include <exception>

enum class RunEnd {
    Completed,
    Stopped,       // the user's stop
    Refused,       // the server did not take the connection
    Unresolved,    // the host name did not resolve
    Reset,         // the server reset or dropped the connection
    TimedOut,      // no answer within the time-out
    Unreachable,   // no route to the server
    NoIpv4Address, // IPv4 chosen, and the host has IPv6 addresses only
    NoIpv6Address, // IPv6 chosen, and the host has IPv4 addresses only
    ErrorReply,    // the HTTP reply code ended the run
    TooBig,        // the file is above 25 MB
    CutShort,      // the connection ended before the measurement was whole
    NoBody,        // the reply carried no body to measure
    SmtpRefused,   // an SMTP reply other than the one the step awaits
    EarlyReply,    // the server answered before the whole body was handed over
    CountMismatch, // the server counted other than the bytes sent
    BodyTooLarge,  // 413: the server does not take a body of that size
    Redirected,    // a 3xx to an upload, which is not followed
    NoUploadSink,  // the server's descriptor names no upload sink, or there is no descriptor
    Failed,        // anything else: the message tells
};

struct RunOutcome {
    RunOutcome() = default;
    explicit RunOutcome(RunEnd why, QString text = {}, int code = 0)
        : end(why)
        , message(std::move(text))
        , socketError(code) {}

    RunEnd end = RunEnd::Completed;
    QString message;         // the component's own text, for display; empty when it raised none
    int socketError = 0;     // the socket error number, when one is known
    int replyCode = 0;       // ErrorReply
    int smtpStep = 0;        // SmtpRefused: the step whose reply was refused
    QString reply;           // SmtpRefused: the first line of the server's reply
    qint64 sentBytes = 0;    // CountMismatch: the body's length
    qint64 countedBytes = 0; // CountMismatch: what the server's reply counted
};

// What a socket error number stands for (10061 refused, 11001 no such host, ...); Failed
// for a number with no meaning of its own here.
RunEnd RunEndOfSocketError(int code);
// The outcome of a failure raised by a run's component.
RunOutcome OutcomeOfFailure(const std::exception& e);

// The explanation of a failed run for the host and port that were tried; empty when there is
// nothing useful to add.
QString ExplainNetworkError(const RunOutcome& outcome, const QString& host, int port);

// The explanation for a browser that could not be started with the URL.
QString ExplainBrowserFailure(const QString& url);
