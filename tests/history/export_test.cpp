#include "core/history/HistoryExport.h"
#include "core/history/ResultsJournal.h"
#include "support/MessageRecorder.h"
#include "window/dialogs/HistoryExportDialog.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>
#include <ctime>

namespace {
const QStringList kHistory = {
    QStringLiteral("speed.example.jp:8080,2026-12-07(月) 09:05:00,62,msec,1048576,byte,8192.0,"
                   "kbps,8.000,Mbps"),
    QStringLiteral("*a,b\"c,2026-12-08(火) 21:40:10,15,msec,2500000,byte,51200.0,kbps,50.000,Mbps"),
    QStringLiteral("damaged line"),
    QStringLiteral("*upload(310KB),2026-12-09(水) 12:00:00,120,msec,312100,byte,1219.1,kbps,"
                   "1.191,Mbps"),
};

const QByteArray kCsv = "kind,host,started,connect_ms,bytes,kbps,mbps,mbit_s,mark\r\n"
                        "download,speed.example.jp:8080,2026-12-07T09:05:00+09:00,62,1048576,"
                        "8192.0,8.000,8.389,0\r\n"
                        "download,\"a,b\"\"c\",2026-12-08T21:40:10+09:00,15,2500000,51200.0,"
                        "50.000,52.429,1\r\n"
                        "upload,,2026-12-09T12:00:00+09:00,120,312100,1219.1,1.191,1.248,0\r\n";

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QStringList entries(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}
} // namespace

class HistoryExportTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        qputenv("TZ", "Asia/Tokyo");
        ::tzset();
    }

    void csvIsHeaderAndOneQuotedRowPerRecord() {
        QCOMPARE(HistoryCsv(ParseHistory(kHistory).records), kCsv);
        QCOMPARE(HistoryCsv({}),
                 QByteArray("kind,host,started,connect_ms,bytes,kbps,mbps,mbit_s,mark\r\n"));
    }

    void csvQuotesOnlyWhereNeeded_data() {
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QString>("line");
        QTest::newRow("plain") << QStringList{"a", "b c", ""} << "a,b c,\r\n";
        QTest::newRow("comma") << QStringList{"a,b"} << "\"a,b\"\r\n";
        QTest::newRow("quote") << QStringList{"say \"hi\""} << "\"say \"\"hi\"\"\"\r\n";
        QTest::newRow("line feed") << QStringList{"a\nb", "c"} << "\"a\nb\",c\r\n";
        QTest::newRow("carriage return") << QStringList{"a\rb"} << "\"a\rb\"\r\n";
        QTest::newRow("Japanese stays as it is") << QStringList{"測定"} << "測定\r\n";
        QTest::newRow("formula starters")
            << QStringList{"=1+1", "+cmd", "-2+3", "@SUM(A1)", "\tx", "a=b"}
            << "'=1+1,'+cmd,'-2+3,'@SUM(A1),'\tx,a=b\r\n";
        QTest::newRow("carriage return first") << QStringList{"\r=x"} << "\"'\r=x\"\r\n";
        QTest::newRow("numbers stay numbers")
            << QStringList{"-1", "+2.5", "-0.001"} << "-1,+2.5,-0.001\r\n";
    }
    void csvQuotesOnlyWhereNeeded() {
        QFETCH(QStringList, fields);
        QFETCH(QString, line);
        QCOMPARE(CsvLine(fields), line);
    }

    void jsonParsesBackToTheSameValues() {
        const QList<HistoryRecord> records = ParseHistory(kHistory).records;
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(HistoryJson(records), &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        QVERIFY(doc.isArray());
        const QJsonArray array = doc.array();
        QCOMPARE(array.size(), records.size());
        for (qsizetype i = 0; i < records.size(); ++i) {
            const HistoryRecord& r = records[i];
            const QJsonObject o = array[i].toObject();
            QCOMPARE(o.keys().size(), 9);
            QCOMPARE(o["kind"].toString(), HistoryKindName(r.kind));
            QCOMPARE(o["host"].toString(), r.host);
            QCOMPARE(QDateTime::fromString(o["started"].toString(), Qt::ISODate), r.started);
            QCOMPARE(o["connect_ms"].toInteger(), r.connectMs);
            QCOMPARE(o["bytes"].toInteger(), r.bytes);
            QCOMPARE(o["kbps"].toDouble(), r.kbps);
            QCOMPARE(o["mbps"].toDouble(), r.mbps);
            QCOMPARE(o["mbit_s"].toDouble(), MbitPerSecondText(r).toDouble());
            QCOMPARE(o["mark"].toInt(), r.mark);
        }
        QCOMPARE(array[1].toObject()["started"].toString(),
                 QStringLiteral("2026-12-08T21:40:10+09:00"));
        QCOMPARE(array[2].toObject()["kind"].toString(), QStringLiteral("upload"));
        QCOMPARE(array[2].toObject()["mbit_s"].toDouble(), 1.248);
    }

    void exportReplacesTheFileWholeByItsExtension() {
        QTemporaryDir dir;
        const QString csv = dir.filePath("history.csv");
        QVERIFY(writeFile(csv, QByteArray(4096, 'o'))); // longer than what replaces it
        MessageRecorder boxes;
        HistoryExportResult r = ExportHistoryReporting(csv, kHistory);
        QVERIFY(r.ok);
        QCOMPARE(r.written, 3);
        QCOMPARE(r.skipped, 1);
        QCOMPARE(readFile(csv), kCsv);
        QCOMPARE(boxes.texts(), QStringList{QStringLiteral("測定履歴を3件エクスポートしました。\n"
                                                           "読み取れない1行は含めていません。")});

        boxes.clear();
        const QString json = dir.filePath("History.JSON");
        r = ExportHistoryReporting(json, kHistory.mid(0, 2));
        QVERIFY(r.ok);
        QCOMPARE(r.skipped, 0);
        QVERIFY(boxes.texts().isEmpty()); // a clean export says nothing
        const QJsonDocument doc = QJsonDocument::fromJson(readFile(json));
        QCOMPARE(doc.array().size(), 2);
        QCOMPARE(doc.array()[0].toObject()["host"].toString(),
                 QStringLiteral("speed.example.jp:8080"));
        QCOMPARE(entries(dir.path()), (QStringList{"History.JSON", "history.csv"}));
    }

    // The journal's record of the same kind and second gives its family; the others none.
    void jsonTakesTheFamilyOfTheJournalsMeasurement() {
        QTemporaryDir dir;
        const ResultsJournal journal(dir.filePath("results.jsonl"));
        for (const char* at :
             {"download 2026-12-07T09:05:00.480+09:00", "upload 2026-12-08T21:40:10.000+09:00"})
            QVERIFY(journal
                        .Append({{"kind", QString(at).section(' ', 0, 0)},
                                 {"started", QString(at).section(' ', 1)},
                                 {"family", "ipv6"},
                                 {"address", "2001:db8::8"}})
                        .ok());
        QVERIFY(ExportHistory(dir.filePath("h.json"), kHistory, journal.Path()).ok);
        const QJsonArray array = QJsonDocument::fromJson(readFile(dir.filePath("h.json"))).array();
        QCOMPARE(array[0].toObject()["address"].toString(), QStringLiteral("2001:db8::8"));
        QVERIFY(!array[1].toObject().contains("family")); // same second, not an upload
        QVERIFY(!array[2].toObject().contains("family"));
    }

    void failedExportShowsTheReasonAndLeavesNothingBehind_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("target is a folder") << "old.csv";
        QTest::newRow("folder is a file") << "plain/history.json";
        QTest::newRow("neither csv nor json") << "history.txt";
    }
    void failedExportShowsTheReasonAndLeavesNothingBehind() {
        QFETCH(QString, name);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("old.csv"));
        QVERIFY(writeFile(dir.filePath("old.csv/keep.txt"), "kept"));
        QVERIFY(writeFile(dir.filePath("plain"), "a file, not a folder"));
        const QStringList before = entries(dir.path());

        MessageRecorder boxes;
        const QString path = dir.filePath(name);
        const HistoryExportResult r = ExportHistoryReporting(path, kHistory);
        QVERIFY(!r.ok);
        QCOMPARE(r.written, 0);
        QVERIFY(r.reason.startsWith(path + QStringLiteral(": ")));
        QCOMPARE(
            boxes.texts(),
            QStringList{QStringLiteral("測定履歴をエクスポートできませんでした。\n") + r.reason});
        QCOMPARE(entries(dir.path()), before);
        QCOMPARE(entries(dir.filePath("old.csv")), QStringList{"keep.txt"});
        QCOMPARE(readFile(dir.filePath("old.csv/keep.txt")), QByteArray("kept"));
        QCOMPARE(readFile(dir.filePath("plain")), QByteArray("a file, not a folder"));
    }
};

QTEST_MAIN(HistoryExportTest)
#include "export_test.moc"
