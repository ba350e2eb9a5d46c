// quillmet-cli's command line, its start checks before any request, and its record formats.
#include "cli/CliOptions.h"
#include "cli/CliOutput.h"
#include "cli/CliRunner.h"
#include "core/history/HistoryExport.h"
#include "core/server/ServerSettings.h"
#include "core/state/StateFileLock.h"
#include "support/TempWorkDir.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

namespace {
using Outcome = CliParse::Outcome;

QStringList args(const QString& line) {
    QStringList list{QStringLiteral("quillmet-cli")};
    if (!line.isEmpty())
        list << line.split(QLatin1Char(' '));
    return list;
}

CliRecord downloadRecord() {
    CliRecord r;
    r.historyLine = QStringLiteral(
        "*localhost:8080,2013-05-19(日) 07:15:05,62,msec,1048576,byte,8192.0,kbps,8.000,Mbps");
    r.record = *ParseHistoryLine(r.historyLine);
    r.target = QStringLiteral("http://localhost:8080/qm/qm1M.jpg");
    for (int i = 0; i < 5; ++i)
        r.rounds.push_back({1048576.0L, QStringLiteral("8192.0"), QStringLiteral("8.000")});
    r.markReasons = {QStringLiteral("unsteady"), QStringLiteral("too_small")};
    return r;
}
} // namespace

class CliOptionsTest : public QObject {
    Q_OBJECT

private slots:
    void parse_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("error"); // a part of the message
        QTest::newRow("url") << "http://h/a.jpg" << Outcome::Run << "";
        QTest::newRow("upload") << "--upload --smtp mx --mail a@b --json" << Outcome::Run << "";
        QTest::newRow("help") << "--help" << Outcome::Help << "";
        QTest::newRow("version") << "--version" << Outcome::Version << "";
        QTest::newRow("unknown option")
            << "--fast http://h/a.jpg" << Outcome::Usage << "知らないオプションです: --fast";
        QTest::newRow("no url") << "--json" << Outcome::Usage << "URL を指定してください";
        QTest::newRow("runs 0") << "--runs 0 http://h/a.jpg" << Outcome::Usage << "--runs";
        QTest::newRow("runs without value")
            << "http://h/a.jpg --runs" << Outcome::Usage << "--runs には値が必要です";
        QTest::newRow("json and csv")
            << "--json --csv http://h/a.jpg" << Outcome::Usage << "同時に";
        QTest::newRow("flag with value")
            << "--json=1 http://h/a.jpg" << Outcome::Usage << "--json は値をとりません";
        QTest::newRow("upload without mail") << "--upload --smtp mx" << Outcome::Usage << "--mail";
        QTest::newRow("upload with runs")
            << "--upload --smtp mx --mail a@b --runs 2" << Outcome::Usage << "--runs";
        QTest::newRow("runs twice")
            << "--runs 2 --runs 3 http://h/a.jpg" << Outcome::Usage << "一度だけ";
        QTest::newRow("prometheus folder missing")
            << "--prometheus /no/such/q.prom http://h/a.jpg" << Outcome::Usage
            << "フォルダー /no/such がありません";
        QTest::newRow("prometheus a folder")
            << "--prometheus / http://h/a.jpg" << Outcome::Usage << "/ はフォルダーです";
        QTest::newRow("preset") << "--server example.net:8080 --size 4m" << Outcome::Run << "";
        QTest::newRow("url and size")
            << "--size 4M http://h/a.jpg" << Outcome::Usage << "URL と --size は同時に";
        QTest::newRow("unknown size")
            << "--size 3M" << Outcome::Usage << "15M, 8M, 4M, 2M, 1M, 500K, 200K, 100K";
        QTest::newRow("server without size")
            << "--server h http://h/a.jpg" << Outcome::Usage << "--server は --size と";
        QTest::newRow("server port 0") << "--server h:0 --size 1M" << Outcome::Usage << "65535";
        QTest::newRow("server ipv6") << "--server [::1]:80 --size 1M" << Outcome::Run << "";
        QTest::newRow("server bad ipv6")
            << "--server [::1:80 --size 1M" << Outcome::Usage << "IPv6";
        QTest::newRow("family both") << "--family both --size 1M" << Outcome::Run << "";
        QTest::newRow("unknown family")
            << "--family ipv5 http://h/a.jpg" << Outcome::Usage << "--family には";
        QTest::newRow("two families") << "-4 -6 http://h/a.jpg" << Outcome::Usage << "どれか一つ";
        QTest::newRow("ipv6 url with -4")
            << "-4 http://[::1]/a.jpg" << Outcome::Usage << "IPv6 アドレスの URL";
        QTest::newRow("family with mail")
            << "-6 --upload --smtp mx --mail a@b" << Outcome::Usage << "メールの測定";
        QTest::newRow("size with upload")
            << "--upload --smtp mx --mail a@b --size 1M" << Outcome::Usage << "--size";
        QTest::newRow("upload-http") << "--upload-http --runs 3 --json" << Outcome::Run << "";
        QTest::newRow("upload-http with url")
            << "--upload-http http://h/a.jpg" << Outcome::Usage << "URL を指定しません";
        QTest::newRow("upload-http with upload")
            << "--upload-http --upload --smtp mx --mail a@b" << Outcome::Usage << "--upload-http";
        QTest::newRow("upload-http with size")
            << "--upload-http --size 1M" << Outcome::Usage << "--size";
        QTest::newRow("line") << "--line --server h:8080 --runs 2 --json" << Outcome::Run << "";
        QTest::newRow("line with url") << "--line http://h/a.jpg" << Outcome::Usage << "URL";
        QTest::newRow("line with csv") << "--line --csv" << Outcome::Usage << "--json";
        QTest::newRow("line with history")
            << "--line --append-history" << Outcome::Usage << "qm1.dat";
        QTest::newRow("line with upload-http")
            << "--line --upload-http" << Outcome::Usage << "--upload-http";
    }
    void parse() {
        QFETCH(QString, line);
        QFETCH(Outcome, outcome);
        QFETCH(QString, error);
        const CliParse parsed = ParseCliArguments(args(line));
        QCOMPARE(parsed.outcome, outcome);
        QVERIFY2(parsed.error.contains(error), qPrintable(parsed.error));
    }

    void aPresetIsTheSizesFileOnTheGivenOrTheSettingsServer() {
        QString note;
        const CliOptions given =
            ParseCliArguments(args("--server example.net:8080 --size 4m")).options;
        QCOMPARE(CliPresetUrl(given, &note), QStringLiteral("http://example.net:8080/qm/qm4M.jpg"));
        MeasurementServer chosen;
        QCOMPARE(ParseServerAddress(QStringLiteral("10.0.0.2:8081"), &chosen),
                 ServerAddressError::None);
        QVERIFY(WriteServerSettings(chosen));
        const CliOptions settings = ParseCliArguments(args("--size 100K")).options;
        QCOMPARE(CliPresetUrl(settings, &note),
                 QStringLiteral("http://10.0.0.2:8081/qm/qm100K.jpg"));
        QVERIFY(note.isEmpty());
        QVERIFY(QFile::remove(ServerSettingsPath()));
    }

    void anArgumentThatIsNotUtf8KeepsItsBytes() {
        const char* argv[] = {"quillmet-cli", "http://h/caf\xe9 \xff.jpg",
                              "http://h/caf\xc3\xa9.jpg"};
        QCOMPARE(CliArguments(3, argv), (QStringList{QStringLiteral("quillmet-cli"),
                                                     QStringLiteral("http://h/caf%E9 %FF.jpg"),
                                                     QStringLiteral("http://h/café.jpg")}));
    }

    void parsedValues() {
        const CliOptions o = ParseCliArguments(args("--runs 7 --csv --append-history --timeout 5 "
                                                    "-q http://h/a.jpg"))
                                 .options;
        QCOMPARE(o.runs, 7);
        QCOMPARE(o.format, CliOptions::Format::Csv);
        QVERIFY(o.appendHistory && o.quiet && !o.upload);
        QCOMPARE(o.timeoutSeconds, 5);
        QCOMPARE(o.url, QStringLiteral("http://h/a.jpg"));
        const CliOptions d = ParseCliArguments(args("http://h/a.jpg")).options;
        QCOMPARE(d.runs, 1);
        QCOMPARE(d.timeoutSeconds, 60);
        QCOMPARE(d.format, CliOptions::Format::History);
    }

    // The window's start checks and texts, before the lock (the rest: peers_test).
    void startChecksRefuse_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty") << ""
                               << "エラー：URLを入れてください";
        QTest::newRow("upper-case JPG") << "http://h/a.JPG"
                                        << "JPEGファイルで測定してください。";
        QTest::newRow("carriage return") << "http://h/a\r.jpg"
                                         << "URLに使えない文字が含まれています。";
    }
    void startChecksRefuse() {
        QFETCH(QString, url);
        QFETCH(QString, message);
        CliOptions options;
        options.url = url;
        options.appendHistory = true;
        CliRunner runner(options);
        QStringList said;
        runner.Err = [&](const QString& text) { said << text; };
        const TempWorkDir dir;
        QCOMPARE(runner.Prepare(), int(ExitRefused));
        QCOMPARE(said, QStringList{message});
        // Refused before the lock: nothing was created.
        QVERIFY(!QFile::exists(QStringLiteral("qm1.dat.lock")));
    }

    void uploadStartCheckRefuses() {
        CliOptions options;
        options.upload = true;
        options.smtp = QStringLiteral("mx.example.jp");
        options.mail = QStringLiteral("a@b\r\nRCPT to:c@d");
        CliRunner runner(options);
        QStringList said;
        runner.Err = [&](const QString& text) { said << text; };
        QCOMPARE(runner.Prepare(), int(ExitRefused));
        QCOMPARE(said, QStringList{"エラー：SMTPサーバとメールアドレスを入力してください。"});
    }

    // --append-history: a window holding qm1.dat, or a file that does not read whole.
    void appendHistoryRefusals() {
        const TempWorkDir dir;
        CliOptions options;
        options.url = QStringLiteral("http://h/a.jpg");
        options.appendHistory = true;
        QStringList said;
        {
            StateFileLock window(QStringLiteral("qm1.dat"));
            QCOMPARE(window.LockForWindow(), StateFileLock::Outcome::Acquired);
            CliRunner runner(options);
            runner.Err = [&](const QString& text) { said << text; };
            QCOMPARE(runner.Prepare(), int(ExitLocked));
        }
        QCOMPARE(said, QStringList{"Quillmet のウィンドウが開いているため、履歴に追記できません。"
                                   "ウィンドウを閉じてからもう一度実行してください。"});
        QFile damaged(QStringLiteral("qm1.dat"));
        QVERIFY(damaged.open(QIODevice::WriteOnly) && damaged.write("TPF0\x05TEdit") > 0);
        damaged.close();
        said.clear();
        CliRunner runner(options);
        runner.Err = [&](const QString& text) { said << text; };
        QCOMPARE(runner.Prepare(), int(ExitStateFile));
        QCOMPARE(said.size(), 1);
        QVERIFY2(said.front().startsWith(
                     QStringLiteral("qm1.dat を読み込めないため、履歴に追記しません。")),
                 qPrintable(said.front()));
    }

    // A failed run's row lines up with the header: its code and message in their columns.
    void csvFailureRowMatchesHeader() {
        const QList<QByteArray> header = CsvHeaderLine().chopped(2).split(',');
        CliFailure failure;
        failure.started = QDateTime::currentDateTime();
        failure.target = QStringLiteral("http://h/a.jpg");
        failure.exitCode = 4;
        failure.message = QStringLiteral("Connection Failed");
        const QByteArray row = FailureCsvLine(failure);
        QVERIFY(row.endsWith("\r\n"));
        const QList<QByteArray> fields = row.chopped(2).split(',');
        QCOMPARE(fields.size(), header.size());
        QCOMPARE(fields[header.indexOf("kind")], QByteArray("error"));
        QCOMPARE(fields[header.indexOf("url")], QByteArray("http://h/a.jpg"));
        QCOMPARE(fields[header.indexOf("exit_code")], QByteArray("4"));
        QCOMPARE(fields[header.indexOf("message")], QByteArray("Connection Failed"));
        QVERIFY(fields[header.indexOf("history_line")].isEmpty());
    }

    void csvRowMatchesHeader() {
        const QList<QByteArray> header = CsvHeaderLine().chopped(2).split(',');
        const QByteArray row = RecordCsvLine(downloadRecord());
        QVERIFY(row.endsWith("\r\n"));
        // The history line is the one quoted field, and the last.
        const qsizetype quote = row.indexOf('"');
        QList<QByteArray> fields = row.left(quote).split(',');
        fields.last() = row.mid(quote);
        QCOMPARE(fields.size(), header.size());
        // The history export's columns and values come first, unchanged.
        const QStringList exported = HistoryCsvHeader();
        QCOMPARE(QString::fromUtf8(header.mid(0, exported.size()).join(',')),
                 exported.join(QLatin1Char(',')));
        QCOMPARE(QString::fromUtf8(fields.mid(0, exported.size()).join(',')),
                 HistoryCsvRow(downloadRecord().record).join(QLatin1Char(',')));
        QCOMPARE(header.last(), QByteArray("history_line"));
        QCOMPARE(fields.last().chopped(2), '"' + downloadRecord().historyLine.toUtf8() + '"');
        QCOMPARE(fields[header.indexOf("mark_reasons")], QByteArray("unsteady;too_small"));
        QCOMPARE(fields[header.indexOf("round5_kbps")], QByteArray("8192.0"));
        QCOMPARE(fields[header.indexOf("mbit_s")], QByteArray("8.389"));
    }

    // A JSON record is the export's object of its line with the command line's fields added.
    void jsonExtendsTheExportObject() {
        const CliRecord r = downloadRecord();
        const QJsonObject o = RecordJson(r);
        const QJsonObject exported = HistoryJsonObject(r.record);
        for (auto it = exported.begin(); it != exported.end(); ++it)
            QCOMPARE(o.value(it.key()), it.value());
        QCOMPARE(o.value("url").toString(), r.target);
        QCOMPARE(o.value("rounds").toArray().size(), 5);
        QCOMPARE(o.value("rounds").toArray().at(4).toObject().value("kbps").toDouble(), 8192.0);
        QCOMPARE(o.value("mark_reasons").toArray().size(), 2);
        QCOMPARE(o.value("history_line").toString(), r.historyLine);
    }
};

QTEST_GUILESS_MAIN(CliOptionsTest)
#include "options_test.moc"
