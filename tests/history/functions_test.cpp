#include "QuillmetConfig.h"
#include "core/history/HistoryText.h"
#include "core/history/RecordSpeed.h"
#include "core/history/SavedUrl.h"

#include <QtTest>

class HistoryLogicTest : public QObject {
    Q_OBJECT

private slots:
    void clipboardTextEndsEveryLineWithCrLf_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QStringList{} << "";
        QTest::newRow("one line") << QStringList{"a,b"} << "a,b\r\n";
        QTest::newRow("three lines")
            << QStringList{"x,2013-05-19(日) 07:15:05,62,msec", "*y", "**z"}
            << "x,2013-05-19(日) 07:15:05,62,msec\r\n*y\r\n**z\r\n";
        QTest::newRow("an empty line stays a line") << QStringList{"", "b"} << "\r\nb\r\n";
    }
    void clipboardTextEndsEveryLineWithCrLf() {
        QFETCH(QStringList, lines);
        QFETCH(QString, text);
        QCOMPARE(HistoryClipboardText(lines), text);
    }

    void onlyHttpUrlsCanBeSaved_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("savable");
        QTest::newRow("http with path") << "http://host/x/y.jpg" << true;
        QTest::newRow("http, host only") << "http://host" << true;
        QTest::newRow("http:// alone") << "http://" << true;
        QTest::newRow("https") << "https://host/x.jpg" << false;
        QTest::newRow("upper case") << "HTTP://host/x.jpg" << false;
        QTest::newRow("mixed case") << "Http://host/x.jpg" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("shorter than seven") << "http:/" << false;
        QTest::newRow("leading blank") << " http://host/x.jpg" << false;
        QTest::newRow("no scheme") << "host/x.jpg" << false;
    }
    void onlyHttpUrlsCanBeSaved() {
        QFETCH(QString, url);
        QFETCH(bool, savable);
        QCOMPARE(IsSavableUrl(url), savable);
    }

    void slotCaptionIsHostAndSuffix_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QString>("caption");
        QTest::newRow("host and path") << "http://host/x/y.jpg"
                                       << "(&C)"
                                       << "host(&C)";
        QTest::newRow("no slash") << "http://host"
                                  << "(&A)"
                                  << "(&A)";
        QTest::newRow("slash right after scheme") << "http:///x.jpg"
                                                  << "(&B)"
                                                  << "(&B)";
        QTest::newRow("port and user stay") << "http://u@h.example:8080/a"
                                            << "(&D)"
                                            << "u@h.example:8080(&D)";
        QTest::newRow("double-byte host") << "http://日本語.jp/ソ/a.jpg"
                                          << "(&G)"
                                          << "日本語.jp(&G)";
    }
    void slotCaptionIsHostAndSuffix() {
        QFETCH(QString, url);
        QFETCH(QString, suffix);
        QFETCH(QString, caption);
        QCOMPARE(SavedUrlCaption(url, suffix), caption);
    }

    void sampleUrlUsesTheConfiguredHost() {
        QCOMPARE(SampleFileUrl("/qm/qm2M.jpg"), QStringLiteral("http://") +
                                                    QString::fromUtf8(qmconfig::SampleHost) +
                                                    QStringLiteral("/qm/qm2M.jpg"));
    }

    void speedTextsReadWithEitherSeparator_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("isNumber");
        QTest::addColumn<double>("value");
        QTest::newRow("zero") << "0" << true << 0.0;
        QTest::newRow("full stop") << "8192.0" << true << 8192.0;
        QTest::newRow("comma") << "8192,5" << true << 8192.5;
        QTest::newRow("blanks around") << " 12.5 " << true << 12.5;
        QTest::newRow("Mbps format") << "0.002" << true << 0.002;
        QTest::newRow("empty") << "" << false << 0.0;
        QTest::newRow("garbage") << "abc" << false << 0.0;
        QTest::newRow("number then garbage") << "12.5kbps" << false << 0.0;
        QTest::newRow("grouped") << "1,234.5" << false << 0.0;
        QTest::newRow("two commas") << "1,234,5" << false << 0.0;
        QTest::newRow("infinite") << "inf" << false << 0.0;
        QTest::newRow("not a number") << "nan" << false << 0.0;
    }
    void speedTextsReadWithEitherSeparator() {
        QFETCH(QString, text);
        QFETCH(bool, isNumber);
        QFETCH(double, value);
        const std::optional<double> read = ReadSpeedText(text);
        QCOMPARE(read.has_value(), isNumber);
        if (isNumber)
            QCOMPARE(*read, value);
    }

    void onlyAStrictlyFasterResultIsARecord_data() {
        QTest::addColumn<QString>("record");
        QTest::addColumn<QString>("current");
        QTest::addColumn<bool>("newRecord");
        QTest::newRow("faster") << "8192.0"
                                << "8192.1" << true;
        QTest::newRow("equal") << "8192.0"
                               << "8192.0" << false;
        QTest::newRow("slower") << "8192.0"
                                << "8191.9" << false;
        QTest::newRow("cleared record, result above 0") << "0"
                                                        << "0.1" << true;
        QTest::newRow("cleared record, result 0") << "0"
                                                  << "0.0" << false;
        QTest::newRow("comma record, faster") << "8192,0"
                                              << "8192.1" << true;
        QTest::newRow("comma record, equal") << "8192,0"
                                             << "8192.0" << false;
        QTest::newRow("garbage record counts as 0") << "abc"
                                                    << "0.1" << true;
        QTest::newRow("garbage record, result 0") << "abc"
                                                  << "0.0" << false;
        QTest::newRow("garbage result") << "-1"
                                        << "abc" << false;
        QTest::newRow("empty result") << "0"
                                      << "" << false;
    }
    void onlyAStrictlyFasterResultIsARecord() {
        QFETCH(QString, record);
        QFETCH(QString, current);
        QFETCH(bool, newRecord);
        QCOMPARE(IsNewRecord(record, current), newRecord);
    }
};

QTEST_GUILESS_MAIN(HistoryLogicTest)
#include "functions_test.moc"
