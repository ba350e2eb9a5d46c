// Qt's own dialogs speak Japanese once Qt's translations are loaded; the program's own button
// texts stay as they are.
#include "window/Application.h"
#include "window/dialogs/HistoryExportDialog.h"
#include "window/dialogs/quillmetUnit4.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLibraryInfo>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace {
// True when the text holds a character from the Japanese scripts (kana or kanji).
bool readsJapanese(const QString& text) {
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x3040 && u <= 0x30ff) || (u >= 0x4e00 && u <= 0x9fff))
            return true;
    }
    return false;
}
} // namespace

class QtTranslationsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        const QString qm =
            QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_ja.qm");
        if (!QFileInfo::exists(qm))
            QSKIP(qPrintable(QStringLiteral("%1 is missing (qt6-translations-l10n, installed by "
                                            "scripts/install-deps)")
                                 .arg(qm)));
        QVERIFY(InstallQtTranslations());
    }

    void exportDialogReadsJapanese() {
        QStringList buttons;
        QStringList labels;
        bool seen = false;
        QTimer user;
        connect(&user, &QTimer::timeout, &user, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            user.stop();
            seen = true;
            for (QAbstractButton* b : dialog->findChild<QDialogButtonBox*>()->buttons())
                buttons << b->text();
            for (const char* name : {"lookInLabel", "fileNameLabel", "fileTypeLabel"}) {
                if (auto* label = dialog->findChild<QLabel*>(QLatin1String(name)))
                    labels << label->text();
            }
            dialog->reject();
        });
        user.start(10);
        ExportHistoryWithDialog(nullptr, {});
        QVERIFY(seen);

        QCOMPARE(buttons.size(), 2); // save and cancel
        for (const QString& text : buttons)
            QVERIFY2(readsJapanese(text), qPrintable(text));
        QCOMPARE(labels.size(), 3);
        for (const QString& text : labels)
            QVERIFY2(readsJapanese(text), qPrintable(text));
    }

    void cautionDialogKeepsItsOwnButtonTexts() {
        TForm4 caution;
        QCOMPARE(caution.Button1->text(), QStringLiteral("OK"));
        QCOMPARE(caution.Button2->text(), QStringLiteral("Cancel"));
    }
};

QTEST_MAIN(QtTranslationsTest)
#include "qttranslations_test.moc"
