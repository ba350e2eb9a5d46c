#include "core/net/Nmextstr.h"

#include <QtTest>

class NmextstrTest : public QObject {
    Q_OBJECT

private slots:
    void indexOfNameIgnoresCaseAndNeedsAColon() {
        TExStringList list;
        list.Add("GET / HTTP/1.0");
        list.Add("Host");
        list.Add("host: a");
        list.Add("Accept: b");
        QCOMPARE(list.IndexOfName("HOST"), 2); // "Host" without a colon never matches
        QCOMPARE(list.IndexOfName("accept"), 3);
        QCOMPARE(list.IndexOfName("Acc"), -1);
        QCOMPARE(list.IndexOfName("GET / HTTP/1.0"), -1);
    }

    void setValueReplacesAppendsOrDeletes() {
        TExStringList list;
        list.Add("Host: old");
        list.Add("Accept: x");
        list.SetValue("HOST", "new");
        list.SetValue("Cookie", "a=b");
        QCOMPARE(list.Lines(), (std::vector<std::string>{"HOST: new", "Accept: x", "Cookie: a=b"}));
        list.SetValue("accept", "");
        list.SetValue("Missing", "");
        QCOMPARE(list.Lines(), (std::vector<std::string>{"HOST: new", "Cookie: a=b"}));
    }

    void getValueDropsOneLeadingBlank_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("value");
        QTest::newRow("one blank") << "Host: a"
                                   << "a";
        QTest::newRow("two blanks") << "Host:  a"
                                    << " a";
        QTest::newRow("no blank") << "Host:a"
                                  << "a";
        QTest::newRow("empty") << "Host:"
                               << "";
        QTest::newRow("colon in value") << "Host: a:8080"
                                        << "a:8080";
    }
    void getValueDropsOneLeadingBlank() {
        QFETCH(QString, line);
        QFETCH(QString, value);
        TExStringList list;
        list.Add(line.toStdString());
        QCOMPARE(QString::fromStdString(list.GetValue("host")), value);
        QCOMPARE(list.GetValue("Other"), std::string());
    }
};

QTEST_MAIN(NmextstrTest)
#include "nmextstr_test.moc"
