#include "cli/CliRunner.h"

#include "core/history/MeasurementRecord.h"
#include "core/history/PrometheusFile.h"
#include "core/history/ResultsJournal.h"
#include "core/measure/DownloadRun.h"
#include "core/measure/RunResult.h"
#include "core/measure/StartChecks.h"
#include "core/net/Nmhttp.h"
#include "core/net/ScktComp.h"
#include "core/platform/WindowTimer.h"
#include "core/schedule/MeasurementSchedule.h"
#include "core/state/StateFileAppend.h"
#include "core/state/StateFileLock.h"
#include "core/upload/HttpUploadRun.h"
#include "core/upload/UploadRun.h"

#include <QEventLoop>
#include <QLocale>
#include <QScopedValueRollback>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int kProgressEveryMs = 250;    // progress line refresh
constexpr qsizetype kMaxUrlBytes = 8192; // a request line web servers still take
// A server silent from the start ends with the silence limit's own message, which starts
// a moment after the request's.
constexpr int kHeaderGraceMs = 500;

// A sink that refused or answered other than it should is the server's doing, as an error
// reply is; the rest are the line's.
int HttpUploadExitCode(RunEnd end) {
    switch (end) {
    case RunEnd::ErrorReply:
    case RunEnd::BodyTooLarge:
    case RunEnd::EarlyReply:
    case RunEnd::CountMismatch:
    case RunEnd::Redirected:
    case RunEnd::NoUploadSink:
        return ExitStopped;
    default:
        return ExitNetwork;
    }
}

} // namespace

CliRunner::CliRunner(CliOptions options, QObject* parent)
    : QObject(parent)
    , m_options(std::move(options)) {
    // One whole write per record: a full disk leaves no half line behind.
    Out = [this](const QByteArray& bytes) { OutError = WriteWhole(STDOUT_FILENO, bytes); };
    Err = [](const QString& text) {
        std::fprintf(stderr, "quillmet-cli: %s\n", text.toLocal8Bit().constData());
    };

    m_download = new DownloadRun(this);
    m_download->UrlSource = [this] { return m_options.url; };
    // The window waits for ever on a silent server; a scheduled job must not.
    m_download->NMHTTP1->TimeOut = m_options.timeoutSeconds * 1000;
    // That is a silence limit: a server dripping a header line now and then would never
    // reach it. The header is due within the time-out of the request, redirects included.
    m_headerTimer.setSingleShot(true);
    m_headerTimer.setTimerType(Qt::PreciseTimer); // a coarse one may end a bound early
    m_headerTimer.setInterval(m_options.timeoutSeconds * 1000 + kHeaderGraceMs);
    connect(&m_headerTimer, &QTimer::timeout, this, &CliRunner::OnHeaderDeadline);
    m_download->NMHTTP1->OnAboutToSend = [this](QObject*) { m_headerTimer.start(); };
    // The body's capture starts once the header's empty line has been read.
    m_download->NMHTTP1->ReportLevel = 8;
    m_download->NMHTTP1->OnStatus = [this](QObject*, const std::string& status) {
        if (status == "Capture String" || status == "CaptureFile")
            m_headerTimer.stop();
    };
    connect(m_download, &DownloadRun::statusChanged, this, [this](const QString& text) {
        m_status = text;
        m_round = m_download->RoundIndex() + 1; // the round that the text is about
        Progress();
    });
    connect(m_download, &DownloadRun::completed, this, &CliRunner::OnCompleted);
    connect(m_download, &DownloadRun::failed, this, &CliRunner::OnDownloadFailed);

    m_upload = new UploadRun(this);
    m_upload->SmtpSilenceTimer->setInterval(m_options.timeoutSeconds * 1000);
    // A connect the server never answers has no time-out of its own.
    m_upload->ConnectTimeoutMs = m_options.timeoutSeconds * 1000;
    m_upload->CloseOnRefusal = true;
    connect(m_upload, &UploadRun::statusChanged, this, [this](const QString& text) {
        m_status = text;
        Progress();
    });
    connect(m_upload, &UploadRun::finished, this, &CliRunner::OnUploadFinished);
    // Otherwise the socket has told why through the event error sink.
    connect(m_upload, &UploadRun::connectFailed, this, [this](const RunOutcome& outcome) {
        if (outcome.end == RunEnd::TimedOut)
            Message(QStringLiteral("SMTP サーバに接続できませんでした（%1 秒で時間切れ）")
                        .arg(m_options.timeoutSeconds));
        Finish(ExitNetwork);
    });

    m_httpUpload = new HttpUploadRun(this);
    m_httpUpload->SilenceTimeoutMs = m_options.timeoutSeconds * 1000;
    if (m_options.uploadHttp)
        ParseServerAddress(m_options.server, &m_server);
    connect(m_httpUpload, &HttpUploadRun::statusChanged, this, [this](const QString& text) {
        m_status = text;
        Progress();
    });
    connect(m_httpUpload, &HttpUploadRun::roundMeasured, this,
            [this](int index, const QString&, const QString&, qint64) { m_round = index + 1; });
    connect(m_httpUpload, &HttpUploadRun::completed, this, &CliRunner::OnHttpUploadCompleted);
    connect(m_httpUpload, &HttpUploadRun::failed, this, &CliRunner::OnHttpUploadFailed);

    // The runs follow each other as the window's command-line repeat's do.
    m_schedule = new MeasurementSchedule(this);
    connect(m_schedule, &MeasurementSchedule::runDue, this, [this] {
        if (m_loop)
            m_loop->quit();
    });

    m_maxTimer.setSingleShot(true);
    m_maxTimer.setTimerType(Qt::PreciseTimer);
    m_maxTimer.setInterval(std::chrono::seconds(m_options.maxTimeSeconds));
    connect(&m_maxTimer, &QTimer::timeout, this, &CliRunner::OnMaxTime);

    m_progressTimer.setInterval(kProgressEveryMs);
    connect(&m_progressTimer, &QTimer::timeout, this, &CliRunner::Progress);
}

CliRunner::~CliRunner() = default;

int CliRunner::Prepare() {
    if (m_options.upload) {
        if (const auto refusal = UploadStartRefusal(m_options.smtp, m_options.mail)) {
            Err(*refusal);
            return ExitRefused;
        }
    } else if (!m_options.uploadHttp) {
        const DownloadStartCheck check = CheckDownloadUrl(m_options.url);
        if (!check.Passed()) {
            Err(check.statusText.isEmpty() ? check.messageText : check.statusText);
            return ExitRefused;
        }
        if (m_options.url.toUtf8().size() > kMaxUrlBytes) {
            Err(QStringLiteral("エラー：URLが長すぎます（%1バイトまで）").arg(kMaxUrlBytes));
            return ExitRefused;
        }
    }

    if (!m_options.appendHistory)
        return ExitMeasured;
    m_lock = std::make_unique<StateFileLock>(StatePath);
    const auto outcome = m_lock->LockForAppender([this] {
        if (ShowProgress)
            Err(QStringLiteral("別の quillmet-cli が %1 に追記し終えるのを待っています…")
                    .arg(StatePath));
    });
    switch (outcome) {
    case StateFileLock::Outcome::Acquired:
        break;
    case StateFileLock::Outcome::Held:
        Err(QStringLiteral("Quillmet のウィンドウが開いているため、履歴に追記できません。"
                           "ウィンドウを閉じてからもう一度実行してください。"));
        return ExitLocked;
    case StateFileLock::Outcome::Failed:
        Err(QStringLiteral("%1 をロックできないため、履歴に追記しません。%2")
                .arg(StatePath, m_lock->Reason()));
        return ExitStateFile;
    }
    const QString unreadable = StateFileUnreadableReason(StatePath);
    if (!unreadable.isEmpty()) {
        Err(QStringLiteral("%1 を読み込めないため、履歴に追記しません。（%2）")
                .arg(StatePath, unreadable));
        return ExitStateFile;
    }
    return ExitMeasured;
}

std::optional<AddressFamily> CliRunner::RunFamily(int run) const {
    if (m_options.bothFamilies)
        return run % 2 == 1 ? AddressFamily::Ipv4 : AddressFamily::Ipv6;
    return m_options.family;
}

void CliRunner::Journal(const CliRecord& c) {
    const MeasurementKind kind = c.record.kind == HistoryKind::Download ? MeasurementKind::Download
                                 : c.record.kind == HistoryKind::UploadHttp
                                     ? MeasurementKind::UploadHttp
                                     : MeasurementKind::Upload;
    const QJsonObject record = MeasurementRecord(
        kind, c.record.started, c.record.kind == HistoryKind::Upload ? c.target : c.record.host,
        MeasuredPeer{c.family, c.address}, c.bytesPerSecond, c.record.mark);
    const ResultsJournal journal =
        JournalPath.isEmpty() ? ResultsJournal() : ResultsJournal(JournalPath);
    if (const JournalAppend appended = journal.Append(record); !appended.ok())
        Err(QStringLiteral("測定結果の記録に追記できませんでした。%1").arg(appended.message));
}

int CliRunner::Measure() {
    if (m_options.format == CliOptions::Format::Csv && !Emit(CsvHeaderLine()))
        return ExitOutput;
    const int runs = m_options.upload ? 1 : m_options.runs * (m_options.bothFamilies ? 2 : 1);
    m_runs = runs;
    m_schedule->SetRepeatCount(runs, runs);
    // A failed run does not end a series: a monitoring job wants the others.
    int lastFailure = ExitMeasured;
    for (m_run = 1; m_run <= runs; ++m_run) {
        if (m_run > 1 && !Pause())
            break;
        CliRecord record;
        m_lastMessage.clear();
        const int code = m_options.upload       ? UploadOnce(&record)
                         : m_options.uploadHttp ? HttpUploadOnce(&record)
                                                : DownloadOnce(&record);
        ClearProgress();
        if (m_signal)
            break;
        WritePrometheus(code == ExitMeasured ? &record : nullptr);
        if (code != ExitMeasured) {
            lastFailure = code;
            if (runs > 1 && !PrintFailure(code))
                return ExitOutput;
            continue;
        }
        // The history keeps the run even when its record could not be written.
        const bool printed = Print(record);
        Journal(record);
        if (m_options.appendHistory) {
            const StateAppendResult appended = AppendHistoryLineToFile(
                StatePath, record.historyLine,
                m_options.upload || m_options.uploadHttp ? kUploadHistoryCap : kDownloadHistoryCap);
            if (!appended.ok()) {
                Err(appended.status == StateAppendResult::Status::Unreadable
                        ? QStringLiteral("%1 を読み込めないため、履歴に追記しません。（%2）")
                              .arg(StatePath, appended.reason)
                        : QStringLiteral("%1 に書き込めませんでした。（%2）")
                              .arg(StatePath, appended.reason));
                return ExitStateFile;
            }
        }
        if (!printed)
            return ExitOutput;
    }
    return m_signal ? ExitSignalBase + m_signal : lastFailure;
}

void CliRunner::Interrupt(int signal) {
    if (m_signal)
        return;
    m_signal = signal;
    m_download->Timer1->setEnabled(false);
    m_schedule->RepeatTimer->setEnabled(false);
    if (m_download->Running())
        m_download->Abort();
    // Abort reports nothing; no record follows.
    m_httpUpload->Abort();
    if (m_upload->Running()) {
        // Closing ends the dialogue through its disconnect event; no record follows.
        m_finished = true;
        m_upload->Close();
    }
    if (m_loop)
        m_loop->quit();
}

int CliRunner::DownloadOnce(CliRecord* record) {
    m_download->Family = RunFamily(m_run).value_or(AddressFamily::Ipv4);
    // Round 1 runs inside Start; the later rounds come from the round timer.
    return RunOnce(record, [this] { m_download->Start(FormatRunDate(m_started)); });
}

int CliRunner::UploadOnce(CliRecord* record) {
    return RunOnce(record, [this] {
        try {
            m_upload->Start(m_options.smtp, m_options.mail, FormatRunDate(m_started));
        } catch (const std::exception& e) {
            Message(QString::fromUtf8(e.what()));
            Finish(ExitNetwork);
        }
    });
}

int CliRunner::HttpUploadOnce(CliRecord* record) {
    if (const std::optional<AddressFamily> family = RunFamily(m_run))
        m_server.family = family;
    // The descriptor is read first, then round 1; the later rounds come from the round timer.
    return RunOnce(record, [this] { m_httpUpload->Start(m_server, FormatRunDate(m_started)); });
}

int CliRunner::RunOnce(CliRecord* record, const std::function<void()>& start) {
    m_record = record;
    m_finished = false;
    m_code = ExitMeasured;
    m_status.clear();
    m_round = 0;
    m_started = QDateTime::currentDateTime();
    m_runClock.start();
    if (ShowProgress)
        m_progressTimer.start();
    m_maxTimer.start();
    start();
    Wait();
    m_maxTimer.stop();
    m_headerTimer.stop();
    m_progressTimer.stop();
    m_record = nullptr;
    return m_code;
}

void CliRunner::Wait() {
    if (m_finished || m_signal)
        return;
    QEventLoop loop;
    QScopedValueRollback<QEventLoop*> current(m_loop, &loop);
    loop.exec();
}

void CliRunner::Finish(int code) {
    if (m_finished)
        return;
    m_finished = true;
    m_code = code;
    if (m_loop)
        m_loop->quit();
}

bool CliRunner::Pause() {
    if (!m_schedule->RepeatAfterRun())
        return false;
    m_finished = false;
    Wait();
    return m_signal == 0;
}

void CliRunner::OnMaxTime() {
    EndTimedOut(QStringLiteral("%1 秒を過ぎても測定が終わらないため打ち切りました（%2）")
                    .arg(m_options.maxTimeSeconds)
                    .arg(m_options.upload ? m_options.smtp : Target()));
}

QString CliRunner::ContactedHost() const {
    // After a redirect the host and port tried are another than the URL's.
    const QString url = UrlHostPart(m_options.url);
    const QString host = QString::fromStdString(m_download->NMHTTP1->Host);
    const QString hostPort = QStringLiteral("%1:%2")
                                 .arg(QString::fromStdString(BracketedHost(host.toStdString())))
                                 .arg(m_download->NMHTTP1->Port);
    if (host.isEmpty() || url == host || url == hostPort)
        return url;
    return hostPort;
}

void CliRunner::OnHeaderDeadline() {
    if (!m_download->Running())
        return;
    EndTimedOut(QStringLiteral("%1 秒のうちに応答ヘッダーが届かないため打ち切りました（%2）")
                    .arg(m_options.timeoutSeconds)
                    .arg(ContactedHost()));
}

void CliRunner::EndTimedOut(const QString& text) {
    if (m_finished || m_signal)
        return;
    m_headerTimer.stop();
    if (m_options.uploadHttp) {
        m_httpUpload->Abort();
        Message(text);
        Finish(ExitNetwork);
        return;
    }
    if (m_options.upload) {
        // Closing ends the dialogue through its disconnect event; no record follows.
        m_finished = true;
        m_code = ExitNetwork;
        m_upload->Close();
        Message(text);
        if (m_loop)
            m_loop->quit();
        return;
    }
    // The request under way (or the pause between rounds) ends; nothing more is reported.
    m_download->Stop();
    Message(text);
    Finish(ExitNetwork);
}

namespace {
// The fields a record takes from a finished run; the speeds as the window shows them.
HistoryRecord resultRecord(HistoryKind kind, const QDateTime& started, qint64 connectMs,
                           qint64 bytes, const QString& kbpsText, const QString& mbpsText) {
    HistoryRecord record;
    record.kind = kind;
    record.started = started;
    record.connectMs = connectMs;
    record.bytes = bytes;
    record.kbpsText = kbpsText;
    record.mbpsText = mbpsText;
    record.kbps = kbpsText.toDouble();
    record.mbps = mbpsText.toDouble();
    return record;
}

// The record's names for why a result is marked (an HTTP upload is never too small).
QStringList markReasonNames(const MarkReasons& reasons) {
    QStringList names;
    if (reasons.unsteadyRound)
        names << QStringLiteral("unsteady");
    if (reasons.tooSmall)
        names << QStringLiteral("too_small");
    if (reasons.connectUnmeasured)
        names << QStringLiteral("connect_time");
    return names;
}
} // namespace

void CliRunner::OnCompleted(const DownloadResult& r) {
    if (!m_record)
        return;
    CliRecord& c = *m_record;
    c.record = resultRecord(HistoryKind::Download, m_started, r.connectText.toLongLong(), r.bytes,
                            r.kbpsText, r.mbpsText);
    c.record.mark = r.mark;
    c.record.host = r.host;
    c.target = m_options.url;
    c.rounds.clear();
    for (const DownloadRound& round : r.rounds)
        c.rounds.push_back({round.bytesPerSecond, round.kbpsText, round.mbpsText});
    c.markReasons = markReasonNames(r.reasons);
    c.historyLine = r.historyLine;
    c.family = r.family;
    c.address = r.address;
    c.bytesPerSecond = static_cast<double>(r.meanBytesPerSecond);
    // Not a failure: the record is kept with its mark, as the window keeps it.
    if (r.tooSmall)
        Message(QStringLiteral("測定ファイルが小さすぎます。\nURLを変更してください。"));
    Finish(ExitMeasured);
}

void CliRunner::OnDownloadFailed(const RunOutcome& o) {
    switch (o.end) {
    case RunEnd::TooBig:
        Message(
            QStringLiteral("測定ファイルが大きすぎます。\n25MB以下のファイルで測定してください。"));
        Finish(ExitStopped);
        return;
    case RunEnd::ErrorReply:
        Message(QStringLiteral("接続できませんでした（HTTP %1）").arg(o.replyCode));
        Finish(ExitStopped);
        return;
    case RunEnd::TimedOut:
        // The component's message first; then what it means here.
        Message(QStringLiteral("%1（%2 秒応答がないため打ち切りました）")
                    .arg(o.message)
                    .arg(m_options.timeoutSeconds));
        break;
    default:
        Message(QStringLiteral("%1（%2 で測定できませんでした）").arg(o.message, ContactedHost()));
        break;
    }
    Finish(ExitNetwork);
}

void CliRunner::OnUploadFinished(const UploadResult& r) {
    if (m_finished || !m_record)
        return;
    const RunEnd end = r.outcome.end;
    const QString refusal = r.outcome.message + QLatin1Char(' ') + r.outcome.reply;
    if (!r.measured) {
        if (end == RunEnd::TimedOut)
            Message(QStringLiteral("SMTP サーバの応答がありません（%1 秒で時間切れ）")
                        .arg(m_options.timeoutSeconds));
        else if (end == RunEnd::SmtpRefused)
            Message(refusal);
        else if (r.connected)
            Message(QStringLiteral("SMTP サーバが測定の前に接続を切りました"));
        else
            Message(QStringLiteral("接続できませんでした"));
        Finish(end == RunEnd::SmtpRefused ? ExitStopped : ExitNetwork);
        return;
    }
    if (end == RunEnd::SmtpRefused)
        Message(refusal);
    CliRecord& c = *m_record;
    // An upload's line names no server and carries no mark: its "*" is part of its text.
    c.record =
        resultRecord(HistoryKind::Upload, m_started, r.connectMs, r.bytes, r.kbpsText, r.mbpsText);
    c.target = m_options.smtp;
    c.rounds.clear();
    c.markReasons.clear();
    c.historyLine = r.historyLine;
    c.family = r.family;
    c.address = r.address;
    c.bytesPerSecond = static_cast<double>(r.bytesPerSecond);
    Finish(ExitMeasured);
}

void CliRunner::OnHttpUploadCompleted(const HttpUploadResult& r) {
    if (!m_record)
        return;
    CliRecord& c = *m_record;
    c.record = resultRecord(HistoryKind::UploadHttp, m_started, r.connectText.toLongLong(), r.bytes,
                            r.kbpsText, r.mbpsText);
    c.record.mark = r.mark;
    c.record.host = r.host;
    c.target = r.host;
    c.rounds.clear();
    for (const HttpUploadRound& round : r.rounds) {
        c.rounds.push_back({round.bytesPerSecond, RoundKbpsText(round.bytesPerSecond),
                            RoundMbpsText(round.bytesPerSecond), round.bytes});
    }
    c.markReasons = markReasonNames(r.reasons);
    c.historyLine = r.historyLine;
    c.family = r.family;
    c.address = r.address;
    c.bytesPerSecond = static_cast<double>(r.meanBytesPerSecond);
    Finish(ExitMeasured);
}

void CliRunner::OnHttpUploadFailed(const RunOutcome& o) {
    QString text = HttpUploadFailureText(o, m_server.Authority());
    if (o.end == RunEnd::TimedOut)
        text +=
            QStringLiteral("（%1 秒応答がないため打ち切りました）").arg(m_options.timeoutSeconds);
    Message(text);
    Finish(HttpUploadExitCode(o.end));
}

QString CliRunner::Target() const {
    return m_options.uploadHttp ? m_server.Authority() : UrlHostPart(m_options.url);
}

bool CliRunner::Print(const CliRecord& record) {
    switch (m_options.format) {
    case CliOptions::Format::History:
        return Emit(record.historyLine.toUtf8() + '\n');
    case CliOptions::Format::Json:
        return Emit(RecordJsonLine(record));
    case CliOptions::Format::Csv:
        return Emit(RecordCsvLine(record));
    }
    return false;
}

bool CliRunner::PrintFailure(int code) {
    CliFailure failure;
    failure.started = m_started;
    failure.upload = m_options.upload;
    failure.uploadHttp = m_options.uploadHttp;
    failure.target = m_options.upload       ? m_options.smtp
                     : m_options.uploadHttp ? m_server.Authority()
                                            : m_options.url;
    failure.exitCode = code;
    failure.message = m_lastMessage;
    if (const std::optional<AddressFamily> family = RunFamily(m_run);
        family && *family != AddressFamily::Auto)
        failure.family = QString::fromLatin1(AddressFamilyName(*family));
    switch (m_options.format) {
    case CliOptions::Format::History:
        return true; // no history line: standard error has told
    case CliOptions::Format::Json:
        return Emit(FailureJsonLine(failure));
    case CliOptions::Format::Csv:
        return Emit(FailureCsvLine(failure));
    }
    return false;
}

void CliRunner::WritePrometheus(const CliRecord* measured) {
    if (m_options.prometheus.isEmpty())
        return;
    PrometheusRun run;
    if (measured) {
        const HistoryRecord& r = measured->record;
        // 1 kbps is 1,024 bits per second.
        run = PrometheusRunFromRecord({
            {QStringLiteral("kind"), HistoryKindName(r.kind)},
            {QStringLiteral("started"), m_started.toString(Qt::ISODateWithMs)},
            {QStringLiteral("server"), r.kind == HistoryKind::Upload ? measured->target : r.host},
            {QStringLiteral("bytes_per_s"), r.kbps * 1024.0 / 8.0},
            {QStringLiteral("connect_ms"), double(r.connectMs)},
            {QStringLiteral("family"), QString::fromLatin1(AddressFamilyName(measured->family))},
        });
    } else {
        run.kind = HistoryKindName(m_options.upload       ? HistoryKind::Upload
                                   : m_options.uploadHttp ? HistoryKind::UploadHttp
                                                          : HistoryKind::Download);
        run.server = m_options.upload ? m_options.smtp : Target();
        run.started = m_started;
        // The family the run was to use; 自動 that never connected names none.
        if (const std::optional<AddressFamily> family = RunFamily(m_run);
            family && *family != AddressFamily::Auto)
            run.family = QString::fromLatin1(AddressFamilyName(*family));
    }
    // The run's own record and exit code stand; the file's trouble is only told (not through
    // Message, whose text a failed run's record carries).
    if (const QString error = WritePrometheusFile(m_options.prometheus, run); !error.isEmpty())
        Err(error);
}

bool CliRunner::Emit(const QByteArray& bytes) {
    OutError.clear();
    Out(bytes);
    if (OutError.isEmpty())
        return true;
    Message(QStringLiteral("測定結果を標準出力に書き込めませんでした（%1）").arg(OutError));
    return false;
}

void CliRunner::Progress() {
    if (!ShowProgress || m_status.isEmpty())
        return;
    QString line;
    if (m_runs > 1 && !m_options.upload)
        line += QStringLiteral("[%1/%2] ").arg(m_run).arg(m_runs);
    line += m_status;
    qint64 bytes = 0;
    if (m_options.upload) {
        bytes = m_upload->RoundBytes();
    } else if (m_options.uploadHttp) {
        // The round under way and its body's length.
        const int round = std::min(m_round, 4);
        line += QStringLiteral(" %1/5").arg(round + 1);
        bytes = m_httpUpload->RoundBytes()[std::size_t(round)];
    } else {
        line += QStringLiteral(" %1/5").arg(m_round);
        bytes = m_download->NMHTTP1->ReceivedBytes;
    }
    line += QStringLiteral("  %1 byte  %2 秒")
                // "1,234,567" whatever the user's locale.
                .arg(QLocale(QLocale::English, QLocale::UnitedStates).toString(bytes))
                .arg(double(m_runClock.elapsed()) / 1000.0, 0, 'f', 1);
    std::fprintf(stderr, "\r\033[K%s", line.toLocal8Bit().constData());
    std::fflush(stderr);
    m_progressShown = true;
}

void CliRunner::ClearProgress() {
    if (!m_progressShown)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    m_progressShown = false;
}

void CliRunner::Message(const QString& text) {
    m_lastMessage = text;
    ClearProgress();
    Err(text);
}
