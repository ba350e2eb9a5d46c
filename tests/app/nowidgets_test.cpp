// The base builds and runs without QtWidgets or QtGui: this target links quillmet_base alone.
#include "core/measure/DownloadRun.h"
#include "core/net/Nmhttp.h"
#include "core/net/ScktComp.h"
#include "core/platform/EventErrors.h"
#include "core/platform/WindowTimer.h"
#include "core/upload/UploadRun.h"

#include <QCoreApplication>
#include <QtTest>

// The base's include path must not reach the widget or GUI headers.
#if __has_include(<QWidget>) || __has_include(<QGuiApplication>)
#error "quillmet_base must not see QtWidgets or QtGui"
#endif

class NoWidgetsTest final : public QObject {
    Q_OBJECT

private slots:
    void runsUnderACoreApplication() {
        QVERIFY(qobject_cast<QCoreApplication*>(QCoreApplication::instance()));
        QVERIFY(!QCoreApplication::instance()->inherits("QGuiApplication"));
    }

    void componentsConstructWithoutAWindow() {
        QObject owner;
        auto* http = new TNMHTTP(&owner);
        auto* socket = new TClientSocket(&owner);
        auto* timer = new WindowTimer(&owner, 2500);
        QCOMPARE(timer->Interval(), 2500);
        QVERIFY(!socket->Active());
        QCOMPARE(http->ContentLength, 0);
    }

    void bothRunsConstructWithoutAWindow() {
        DownloadRun download;
        UploadRun upload;
        QCOMPARE(download.Timer1->Interval(), 2500);
        QCOMPARE(download.NMHTTP1->objectName(), QStringLiteral("NMHTTP1"));
        QCOMPARE(upload.ClientSocket3->Port(), 25);
        QCOMPARE(upload.SmtpSilenceTimer->Interval(), 60000);
        QVERIFY(!download.Running());
        QVERIFY(!upload.Running());
    }

    void anEscapedErrorReachesTheInstalledSink() {
        QStringList seen;
        SetEventErrorSink([&](const QString& message) { seen << message; });
        Guarded([] { throw std::runtime_error("Connection Failed"); });
        Guarded([] { throw 1; });
        SetEventErrorSink({});
        QCOMPARE(seen, (QStringList{"Connection Failed", "不明な例外が発生しました。"}));
    }
};

QTEST_GUILESS_MAIN(NoWidgetsTest)
#include "nowidgets_test.moc"
