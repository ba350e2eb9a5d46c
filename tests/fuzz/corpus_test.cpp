// Replays the fuzz corpus through the state file reader.
#include "StateFileFuzz.h"

#include <QDir>
#include <QtTest>

class CorpusTest : public QObject {
    Q_OBJECT

private slots:
    void everyCorpusFileEndsCleanly() {
        const QDir corpus(qEnvironmentVariable("QM_SOURCE_DIR") + "/tests/fuzz/corpus");
        const auto files = corpus.entryInfoList(QDir::Files, QDir::Name);
        QVERIFY2(files.size() >= 10, qPrintable(corpus.path()));
        int read = 0;
        int failed = 0;
        for (const auto& info : files) {
            QFile file(info.filePath());
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray data = file.readAll();
            const auto outcome =
                statefilefuzz::Check(std::string_view(data.constData(), std::size_t(data.size())));
            QVERIFY2(!outcome.violation,
                     qPrintable(info.fileName() + ": " +
                                QString::fromStdString(outcome.violation.value_or(""))));
            (outcome.status == StateReadResult::Status::Read ? read : failed) += 1;
        }
        // The corpus holds whole files as well as damaged ones.
        QVERIFY(read > 0);
        QVERIFY(failed > 0);
    }
};

QTEST_APPLESS_MAIN(CorpusTest)
#include "corpus_test.moc"
