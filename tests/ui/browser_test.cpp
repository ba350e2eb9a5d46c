#include "support/MessageRecorder.h"
#include "support/TestHelpers.h"
#include "window/widgets/BrowserLauncher.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <unistd.h>

namespace {
QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
} // namespace

class BrowserTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_path = qgetenv("PATH");
    }

    void cleanup() {
        qunsetenv("QM_BROWSER_OPENER");
        qputenv("PATH", m_path);
        SetOpenerExitWaitMs(2000);
    }

    void failureShowsOneBoxWithClassName_data() {
        QTest::addColumn<QString>("opener"); // empty: the default opener
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("fragment");
        const QString url = QStringLiteral("http://127.0.0.1:9/");
        QTest::newRow("missing program")
            << m_dir.filePath(QStringLiteral("no-such-opener")) << url
            << QStringLiteral("「%1」が見つかりません").arg(m_dir.filePath("no-such-opener"));
        QTest::newRow("not executable")
            << writeScript(m_dir, "plain", "exit 0\n", QFile::ReadOwner | QFile::WriteOwner) << url
            << QStringLiteral("実行する権限がありません");
        QTest::newRow("exits non-zero")
            << writeScript(m_dir, "refuses", "exit 3\n") << url << QStringLiteral("終了コード 3");
        QTest::newRow("killed") << writeScript(m_dir, "killed", "kill -KILL $$\n") << url
                                << QStringLiteral("シグナル 9");
        QTest::newRow("no xdg-open on PATH")
            << QString() << url << QStringLiteral("「xdg-open」が見つかりません");
        QTest::newRow("option-like url")
            << writeScript(m_dir, "accepts", "exit 0\n") << QStringLiteral("--help")
            << QStringLiteral("URLが正しくありません");
        QTest::newRow("empty url") << writeScript(m_dir, "accepts", "exit 0\n") << QString()
                                   << QStringLiteral("URLが正しくありません");
    }
    void failureShowsOneBoxWithClassName() {
        QFETCH(QString, opener);
        QFETCH(QString, url);
        QFETCH(QString, fragment);
        if (opener.isEmpty()) {
            QDir(m_dir.path()).mkpath(QStringLiteral("empty-bin"));
            qputenv("PATH", m_dir.filePath(QStringLiteral("empty-bin")).toLocal8Bit());
        } else {
            qputenv("QM_BROWSER_OPENER", opener.toLocal8Bit());
        }
        MessageRecorder boxes;
        OpenUrlInBrowser(url);
        QCOMPARE(boxes.texts().size(), 1);
        QVERIFY2(boxes.texts().first().startsWith(QStringLiteral("EBrowserError ")),
                 qPrintable(boxes.texts().first()));
        QVERIFY2(boxes.texts().first().contains(fragment), qPrintable(boxes.texts().first()));
        // Underneath, the URL to open by hand.
        const QString byHand =
            QStringLiteral("ブラウザを起動できませんでした。%1 をブラウザで直接開いてください。")
                .arg(url);
        QCOMPARE(boxes.informativeTexts().first(), url.isEmpty() ? QString() : byHand);
    }

    void failureRaisesEBrowserError() {
        qputenv("QM_BROWSER_OPENER", writeScript(m_dir, "refuses", "exit 3\n").toLocal8Bit());
        try {
            HandUrlToBrowser(QStringLiteral("http://127.0.0.1:9/"));
            QFAIL("no exception");
        } catch (const EBrowserError& e) {
            QCOMPARE(QString::fromLatin1(e.ClassName()), QStringLiteral("EBrowserError"));
        }
    }

    void longUrlIsPassedWholeAsTheOnlyArgument() {
        const QString log = m_dir.filePath(QStringLiteral("long.log"));
        QFile::remove(log);
        qputenv("QM_BROWSER_OPENER",
                writeScript(m_dir, "recorder",
                            "printf '%s\\n' \"$#\" >> '" + log.toLocal8Bit() +
                                "'\nprintf '%s\\n' \"$1\" >> '" + log.toLocal8Bit() + "'\n")
                    .toLocal8Bit());
        // Characters a shell or an option parser would take apart.
        QString url = QStringLiteral("http://127.0.0.1:8080/qm/qm1M.jpg?q=");
        while (url.size() < 700)
            url += QStringLiteral("a&b=%20$HOME;`id`|'x'\"y\"*?#");
        MessageRecorder boxes;
        OpenUrlInBrowser(url);
        QVERIFY2(boxes.texts().isEmpty(), qPrintable(boxes.texts().join('\n')));
        QCOMPARE(QString::fromUtf8(readFile(log)), QStringLiteral("1\n") + url + '\n');
    }

    void openerStillRunningIsNotWaitedFor() {
        SetOpenerExitWaitMs(100);
        const QString log = m_dir.filePath(QStringLiteral("slow.log"));
        QFile::remove(log);
        qputenv("QM_BROWSER_OPENER", writeScript(m_dir, "slow",
                                                 "printf '%s' \"$1\" > '" + log.toLocal8Bit() +
                                                     "'\nexec sleep 3 >/dev/null 2>&1\n")
                                         .toLocal8Bit());
        MessageRecorder boxes;
        QElapsedTimer clock;
        clock.start();
        OpenUrlInBrowser(QStringLiteral("http://127.0.0.1:9/page"));
        QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(boxes.texts().isEmpty());
        QTRY_COMPARE(readFile(log), QByteArray("http://127.0.0.1:9/page"));
    }

    void openerRunsDetached() {
        // A descriptor the opener must not inherit (a socket would stay open in the browser).
        const int fd = ::dup(STDERR_FILENO);
        QVERIFY(fd > STDERR_FILENO);
        const QString log = m_dir.filePath(QStringLiteral("detached.log"));
        QFile::remove(log);
        const QByteArray script =
            "exec > '" + log.toLocal8Bit() +
            "'\n"
            "sid=$(cut -d' ' -f6 /proc/$$/stat)\n"
            "[ \"$sid\" = \"$$\" ] && echo own-session || echo shared-session\n"
            "[ -e /proc/$$/fd/" +
            QByteArray::number(fd) +
            " ] && echo fd-leaked || echo fd-closed\n"
            "readlink /proc/$$/fd/0\n";
        qputenv("QM_BROWSER_OPENER", writeScript(m_dir, "detached", script).toLocal8Bit());
        MessageRecorder boxes;
        OpenUrlInBrowser(QStringLiteral("http://127.0.0.1:9/"));
        ::close(fd);
        QVERIFY(boxes.texts().isEmpty());
        QCOMPARE(readFile(log), QByteArray("own-session\nfd-closed\n/dev/null\n"));
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_path;
};

QTEST_MAIN(BrowserTest)
#include "browser_test.moc"
