// Choosing the measurement server in the window: the dialog, the presets, the settings file.
#include "core/server/ServerSettings.h"
#include "support/MessageRecorder.h"
#include "support/ScriptedPeer.h"
#include "support/TempWorkDir.h"
#include "window/dialogs/ServerSettingsDialog.h"
#include "window/main/quillmetUnit1.h"

#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTimer>
#include <QtTest>
#include <optional>

namespace {
// Every preset's file but the 15M one.
const QByteArray kDescriptor =
    R"({"name":"office-nas","version":"1.0","files":[)"
    R"({"path":"/qm/qm100K.jpg","bytes":102400},{"path":"/qm/qm200K.jpg","bytes":204800},)"
    R"({"path":"/qm/qm500K.jpg","bytes":512000},{"path":"/qm/qm1M.jpg","bytes":1048576},)"
    R"({"path":"/qm/qm2M.jpg","bytes":2097152},{"path":"/qm/qm4M.jpg","bytes":4194304},)"
    R"({"path":"/qm/qm8M.jpg","bytes":8388608}],"upload":{"path":"/qm/up","max_bytes":268435456},)"
    R"("empty":"/qm/empty"})";

QByteArray reply(const QByteArray& status, const QByteArray& body) {
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

class ServerSettingsTest final : public QObject {
    Q_OBJECT

private:
    // Opens the dialog from the menu, fills in the peer's address, checks it and presses OK;
    // what the check showed.
    static QString chooseThroughTheDialog(TForm1& form, quint16 port) {
        QString shown;
        bool done = false;
        QTimer::singleShot(0, &form, [&] {
            auto* dialog = form.findChild<ServerSettingsDialog*>();
            QVERIFY(dialog);
            const auto closeOnFailure = qScopeGuard([&] {
                if (!done)
                    dialog->reject();
            });
            dialog->HostEdit->selectAll();
            QTest::keyClicks(dialog->HostEdit, QStringLiteral("127.0.0.1"));
            dialog->PortEdit->selectAll();
            QTest::keyClicks(dialog->PortEdit, QString::number(port));
            QTest::mouseClick(dialog->CheckButton, Qt::LeftButton);
            QTRY_VERIFY(dialog->CheckButton->isEnabled());
            shown = dialog->ResultText->toPlainText();
            // A picture of the dialog after the check, for a reader of the change.
            if (const QString shot = qEnvironmentVariable("QM_SERVER_DIALOG_SHOT"); !shot.isEmpty())
                dialog->grab().save(shot);
            QTest::mouseClick(dialog->Buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
            done = true;
        });
        form.ServerSettings1->trigger();
        return done ? shown : QString();
    }

private slots:
    void init() { m_cwd.emplace(); }
    void cleanup() {
        QFile::remove(ServerSettingsPath());
        m_cwd.reset();
    }

    void theChosenServersPresetsAreUsedAndAMissingFileIsDisabled() {
        MessageRecorder messages;
        ScriptedPeer peer;
        peer.readRequest().send(reply("200 OK", kDescriptor)).close();
        TForm1 form;
        form.FormCreate();
        form.show();
        const QString shown = chooseThroughTheDialog(form, peer.port());
        QVERIFY2(shown.contains(QStringLiteral("office-nas")), qPrintable(shown));
        QVERIFY(shown.contains(QStringLiteral("4,194,304")));

        const QString base = QStringLiteral("http://127.0.0.1:%1").arg(peer.port());
        form.USEN1->trigger();
        QCOMPARE(form.Edit7->text(), base + QStringLiteral("/qm/qm4M.jpg"));
        QVERIFY(!form.DTI8184KBN1->isEnabled());
        QVERIFY(form.CommufaC1->isEnabled());
        QVERIFY(form.Label1->text().contains(base + QStringLiteral("/qm/qm4M.jpg")));

        // The next start knows the choice and the missing file without asking the server.
        QVERIFY(readAll(ServerSettingsPath()).contains("host=127.0.0.1"));
        TForm1 next;
        next.FormCreate();
        QCOMPARE(peer.connectionCount(), 1);
        next.Quillmetjpg1->trigger();
        QCOMPARE(next.Edit7->text(), base + QStringLiteral("/qm/qm100K.jpg"));
        QVERIFY(!next.DTI8184KBN1->isEnabled());
        QVERIFY(!next.StatusText().contains(QStringLiteral("測定サーバー")));
    }

    void aServerWithoutADescriptorIsToldAndKeepsEveryPreset() {
        MessageRecorder messages;
        ScriptedPeer peer;
        peer.readRequest().send(reply("404 Not Found", "")).close();
        TForm1 form;
        form.FormCreate();
        const QString shown = chooseThroughTheDialog(form, peer.port());
        QVERIFY2(shown.contains(QStringLiteral("案内がありません")), qPrintable(shown));
        for (QAction* preset : {form.DTI8184KBN1, form.USEN1, form.Quillmetjpg1})
            QVERIFY(preset->isEnabled());
        form.DTI8184KBN1->trigger();
        QCOMPARE(form.Edit7->text(),
                 QStringLiteral("http://127.0.0.1:%1/qm/qm15M.jpg").arg(peer.port()));
    }

    // Alt+A reaches the choice; OK stores it, and the dialog shows it again.
    void theAddressFamilyIsChosenByKeyboardAndKept() {
        MessageRecorder messages;
        TForm1 form;
        form.FormCreate();
        QString shown;
        QTimer::singleShot(0, &form, [&] {
            auto* dialog = form.findChild<ServerSettingsDialog*>();
            QVERIFY(dialog);
            auto close = qScopeGuard([&] { dialog->reject(); });
            dialog->activateWindow();
            QTRY_VERIFY(dialog->isActiveWindow());
            shown = dialog->FamilyBox->currentText();
            QTest::keyClick(dialog, Qt::Key_A, Qt::AltModifier);
            QTRY_VERIFY(dialog->FamilyBox->hasFocus());
            QTest::keyClick(dialog->FamilyBox, Qt::Key_Down);
            QTest::keyClick(dialog->FamilyBox, Qt::Key_Down);
            QCOMPARE(dialog->FamilyBox->currentText(), QStringLiteral("IPv6"));
            close.dismiss();
            QTest::mouseClick(dialog->Buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
        });
        form.ServerSettings1->trigger();
        QCOMPARE(shown, QStringLiteral("測定ごとの既定"));
        QVERIFY(readAll(ServerSettingsPath()).contains("family=ipv6"));
        QCOMPARE(ServerSettingsDialog(ReadServerSettings().server).FamilyBox->currentText(),
                 QStringLiteral("IPv6"));
    }

    void aGarbledSettingsFileMeansTheDefaultServerAndOneNote() {
        MessageRecorder messages;
        {
            TForm1 first;
            first.FormCreate();
            first.Edit7->setText(QStringLiteral("http://example.net/a.jpg"));
            first.WriteStateFile(true);
        }
        const QByteArray state = readAll(QStringLiteral("qm1.dat"));
        QVERIFY(!state.isEmpty());
        QVERIFY(QDir().mkpath(QFileInfo(ServerSettingsPath()).path()));
        QFile garbage(ServerSettingsPath());
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write(QByteArray("\x00\x01[server\nhost==\xff\n", 20));
        garbage.close();

        TForm1 form;
        form.FormCreate();
        QVERIFY2(form.StatusText().contains(QStringLiteral("既定の測定サーバー")),
                 qPrintable(form.StatusText()));
        QCOMPARE(form.Edit7->text(), QStringLiteral("http://example.net/a.jpg"));
        form.USEN1->trigger();
        QCOMPARE(form.Edit7->text(), QStringLiteral("http://localhost:8080/qm/qm4M.jpg"));
        QCOMPARE(readAll(QStringLiteral("qm1.dat")), state);
        QVERIFY(messages.texts().isEmpty());
    }

private:
    std::optional<TempWorkDir> m_cwd;
};

QTEST_MAIN(ServerSettingsTest)
#include "serversettings_test.moc"
