#include "cli/CliLineTest.h"

#include "cli/CliOutput.h"
#include "core/history/PrometheusFile.h"
#include "core/history/ResultsJournal.h"
#include "core/linetest/LineTestRun.h"
#include "core/net/ErrorExplanation.h"
#include "core/schedule/MeasurementSchedule.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QScopedValueRollback>
#include <chrono>
#include <cstdio>
#include <unistd.h>

namespace {
QString mbps(double bytesPerSecond) {
    return QString::number(bytesPerSecond * 8.0 / 1e6, 'f', 1);
}

QString ms(double value) {
    return QString::number(value, 'f', 1);
}
} // namespace

int LineTestExitCode(RunEnd end) {
    switch (end) {
    case RunEnd::ErrorReply:
    case RunEnd::BodyTooLarge:
    case RunEnd::NoUploadSink:
        return ExitStopped;
    default:
        return ExitNetwork;
    }
}

QString LineTestSummaryText(const LineTestResult& r) {
    QString text = QStringLiteral("下り: %1 Mbit/s（%2 接続）\n上り: %3 Mbit/s（%4 接続）\n")
                       .arg(mbps(r.download.bytesPerSecond))
                       .arg(r.download.connections)
                       .arg(mbps(r.upload.bytesPerSecond))
                       .arg(r.upload.connections);
    text += QStringLiteral("遅延: 待機時 %1 ms、下りの負荷時 %2 ms、上りの負荷時 %3 ms"
                           "（ゆらぎ %4 ms）\n")
                .arg(ms(r.idleLatency.medianMs), ms(r.download.latency.medianMs),
                     ms(r.upload.latency.medianMs), ms(r.idleLatency.jitterMs));
    text += QStringLiteral("RPM: %1（%2）\n判定: %3\n").arg(r.rpm).arg(r.rpmBand, r.grade);
    for (const QString& note : r.notes)
        text += QStringLiteral("注: %1\n").arg(note);
    return text;
}

CliLineTest::CliLineTest(CliOptions options, QObject* parent)
    : QObject(parent)
    , m_options(std::move(options)) {
    Out = [this](const QByteArray& bytes) { OutError = WriteWhole(STDOUT_FILENO, bytes); };
    Err = [](const QString& text) {
        std::fprintf(stderr, "quillmet-cli: %s\n", text.toLocal8Bit().constData());
    };
    m_run = new LineTestRun(this);
    connect(m_run, &LineTestRun::completed, this, &CliLineTest::OnCompleted);
    connect(m_run, &LineTestRun::failed, this, &CliLineTest::OnFailed);
    connect(m_run, &LineTestRun::sampled, this, [this](const LineTestSample& s) {
        if (!ShowProgress)
            return;
        std::fprintf(stderr, "\r\033[K%s %s Mbit/s  %d 接続",
                     s.phase == LineTestPhase::Upload ? "上り" : "下り",
                     mbps(s.bytesPerSecond).toLocal8Bit().constData(), s.connections);
        std::fflush(stderr);
        m_progressShown = true;
    });
    m_bound.setSingleShot(true);
    m_bound.setTimerType(Qt::PreciseTimer);
    m_bound.setInterval(std::chrono::seconds(m_options.timeoutSeconds));
    connect(&m_bound, &QTimer::timeout, this, [this] {
        m_run->Abort();
        Err(QStringLiteral("%1 秒を過ぎても回線品質測定が終わらないため打ち切りました（%2）")
                .arg(m_options.timeoutSeconds)
                .arg(m_server.Authority()));
        Finish(ExitNetwork);
    });
}

CliLineTest::~CliLineTest() = default;

int CliLineTest::Measure() {
    if (m_options.server.isEmpty()) {
        QString note;
        m_server = CliServer(m_options, &note);
        if (!note.isEmpty())
            Err(note);
    } else if (const ServerAddressError e = ParseServerAddress(m_options.server, &m_server);
               e != ServerAddressError::None) {
        Err(QStringLiteral("--server: ") + ServerAddressErrorText(e));
        return ExitRefused;
    }
    if (m_options.family)
        m_server.family = m_options.family;
    // --family both: each run a pair, IPv4 then IPv6.
    const int runs = m_options.runs * (m_options.bothFamilies ? 2 : 1);
    int lastFailure = ExitMeasured;
    for (int run = 1; run <= runs && !m_signal; ++run) {
        if (m_options.bothFamilies)
            m_server.family = run % 2 == 1 ? AddressFamily::Ipv4 : AddressFamily::Ipv6;
        if (run > 1) {
            // The same pause between runs as the other measurements'.
            m_finished = false;
            QTimer::singleShot(MeasurementSchedule::RepeatPauseMs, this,
                               [this] { Finish(ExitMeasured); });
            Wait();
            if (m_signal)
                break;
        }
        const int code = MeasureOnce();
        if (m_signal)
            break;
        WritePrometheus(code);
        if (code == ExitOutput)
            return code;
        if (code != ExitMeasured) {
            lastFailure = code;
            if (runs > 1 && m_options.format == CliOptions::Format::Json) {
                CliFailure f;
                f.started = m_started;
                f.uploadHttp = true; // names the server
                f.target = m_server.Authority();
                f.exitCode = code;
                f.message = m_lastMessage;
                if (m_server.family && *m_server.family != AddressFamily::Auto)
                    f.family = QString::fromLatin1(AddressFamilyName(*m_server.family));
                if (!Emit(FailureJsonLine(f)))
                    return ExitOutput;
            }
        }
    }
    return m_signal ? ExitSignalBase + m_signal : lastFailure;
}

int CliLineTest::MeasureOnce() {
    m_finished = false;
    m_code = ExitMeasured;
    m_lastMessage.clear();
    m_record = QJsonObject();
    m_started = QDateTime::currentDateTime();
    m_bound.start();
    m_run->Start(m_server);
    Wait();
    m_bound.stop();
    return m_code;
}

void CliLineTest::Wait() {
    if (m_finished || m_signal)
        return;
    QEventLoop loop;
    QScopedValueRollback<QEventLoop*> current(m_loop, &loop);
    loop.exec();
}

void CliLineTest::Finish(int code) {
    if (m_finished)
        return;
    if (m_progressShown) {
        std::fputs("\r\033[K", stderr);
        m_progressShown = false;
    }
    m_finished = true;
    m_code = code;
    if (m_loop)
        m_loop->quit();
}

void CliLineTest::Interrupt(int signal) {
    if (m_signal)
        return;
    m_signal = signal;
    m_run->Abort();
    if (m_loop)
        m_loop->quit();
}

bool CliLineTest::Emit(const QByteArray& bytes) {
    OutError.clear();
    Out(bytes);
    if (OutError.isEmpty())
        return true;
    Err(QStringLiteral("測定結果を標準出力に書き込めませんでした（%1）").arg(OutError));
    return false;
}

void CliLineTest::WritePrometheus(int code) {
    if (m_options.prometheus.isEmpty())
        return;
    // A record that could not be printed was measured all the same.
    PrometheusRun run;
    if (code == ExitMeasured || code == ExitOutput) {
        run = PrometheusRunFromRecord(m_record);
    } else {
        run.kind = QStringLiteral("line");
        run.server = m_server.Authority();
        run.started = m_started;
        if (m_server.family && *m_server.family != AddressFamily::Auto)
            run.family = QString::fromLatin1(AddressFamilyName(*m_server.family));
    }
    if (const QString error = WritePrometheusFile(m_options.prometheus, run); !error.isEmpty())
        Err(error);
}

void CliLineTest::OnCompleted(const LineTestResult& r) {
    m_record = LineTestRecord(r);
    // A journal that cannot take the record is told; the test stands.
    if (const JournalAppend appended = ResultsJournal().Append(m_record); !appended.ok())
        Err(QStringLiteral("測定結果の記録に追記できませんでした。%1").arg(appended.message));
    const QByteArray bytes = m_options.format == CliOptions::Format::Json
                                 ? QJsonDocument(m_record).toJson(QJsonDocument::Compact) + '\n'
                                 : LineTestSummaryText(r).toUtf8();
    Finish(ExitMeasured);
    if (!Emit(bytes))
        m_code = ExitOutput;
}

void CliLineTest::OnFailed(const RunOutcome& o) {
    m_lastMessage = LineTestFailureText(o, m_server.Authority());
    Finish(LineTestExitCode(o.end));
    Err(m_lastMessage);
}
