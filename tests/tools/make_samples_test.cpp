// make-samples: the sample images are real JPEG files of exact sizes that do not compress.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString Tool() {
    return qEnvironmentVariable("QM_BINARY_DIR") + QStringLiteral("/tools/make-samples");
}

struct Run {
    int exitCode = -1;
    QByteArray err;
};

Run RunTool(const QStringList& args) {
    QProcess process;
    process.start(Tool(), args);
    if (!process.waitForFinished(120'000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), process.readAllStandardError()};
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct Markers {
    QList<int> beforeScan; // marker bytes from SOI up to and including SOS
    bool wellFormed = false;
};

// Walks the marker segments from SOI to the first SOS, checking every length against the file.
Markers WalkHeader(const QByteArray& jpeg) {
    Markers markers;
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(jpeg.at(i)); };
    if (jpeg.size() < 4 || byte(0) != 0xff || byte(1) != 0xd8)
        return markers;
    qsizetype at = 2;
    while (at + 4 <= jpeg.size()) {
        if (byte(at) != 0xff)
            return markers;
        const int marker = byte(at + 1);
        const int length = byte(at + 2) << 8 | byte(at + 3);
        if (length < 2 || at + 2 + length > jpeg.size())
            return markers;
        markers.beforeScan.append(marker);
        if (marker == 0xda) {
            markers.wellFormed = true;
            return markers;
        }
        at += 2 + length;
    }
    return markers;
}

} // namespace

class MakeSamplesTest : public QObject {
    Q_OBJECT

    QTemporaryDir first;
    QTemporaryDir second;

private slots:
    void initTestCase() {
        QVERIFY2(QFile::exists(Tool()), qPrintable(Tool() + " is not built"));
        QVERIFY(first.isValid() && second.isValid());
        for (const QTemporaryDir* dir : {&first, &second}) {
            const Run run = RunTool({dir->path()});
            QVERIFY2(run.exitCode == 0, run.err.constData());
        }
    }

    void samples_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<qint64>("size");
        QTest::newRow("100K") << "qm/qm100K.jpg" << qint64(102'400);
        QTest::newRow("200K") << "qm/qm200K.jpg" << qint64(204'800);
        QTest::newRow("500K") << "qm/qm500K.jpg" << qint64(512'000);
        QTest::newRow("1M") << "qm/qm1M.jpg" << qint64(1'048'576);
        QTest::newRow("2M") << "qm/qm2M.jpg" << qint64(2'097'152);
        QTest::newRow("4M") << "qm/qm4M.jpg" << qint64(4'194'304);
        QTest::newRow("8M") << "qm/qm8M.jpg" << qint64(8'388'608);
        QTest::newRow("15M") << "qm/qm15M.jpg" << qint64(15'728'640);
        // The about box's test images: a large one below the too-big limit, a small one.
        QTest::newRow("big") << "test/big.jpg" << qint64(20'971'520);
        QTest::newRow("sml") << "test/sml.jpg" << qint64(51'200);
    }
    void samples() {
        QFETCH(QString, path);
        QFETCH(qint64, size);
        const QString file = QDir(first.path()).filePath(path);
        const QByteArray bytes = ReadAll(file);
        QCOMPARE(bytes.size(), size);

        // A baseline JPEG: SOF0 and no other frame type before the scan, EOI at the end.
        const Markers markers = WalkHeader(bytes);
        QVERIFY(markers.wellFormed);
        QVERIFY(markers.beforeScan.contains(0xc0));
        for (int marker : markers.beforeScan)
            QVERIFY(marker == 0xc0 || marker == 0xc4 || marker == 0xdb || marker == 0xda ||
                    (marker >= 0xe0 && marker <= 0xef) || marker == 0xfe);
        QVERIFY(bytes.endsWith("\xff\xd9"));

        // Decodes as a picture; the decoder warns of any stray byte between segments.
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
        QImageReader reader(file);
        QCOMPARE(reader.format(), QByteArray("jpeg"));
        const QImage picture = reader.read();
        QVERIFY2(!picture.isNull(), qPrintable(reader.errorString()));
        QVERIFY(picture.width() >= 16 && picture.height() >= 16);

        // A compressing line must not gain anything: deflate at its best keeps 99 %.
        const qsizetype packed = qCompress(bytes, 9).size() - 4; // minus the length prefix
        QVERIFY2(packed >= size * 99 / 100,
                 qPrintable(QStringLiteral("deflate packs %1 into %2").arg(size).arg(packed)));

        // Every run writes the same bytes.
        QVERIFY(bytes == ReadAll(QDir(second.path()).filePath(path)));
    }

    void pagesNameQuillmet_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("home") << "index.html";
        QTest::newRow("author") << "author/index.html";
    }
    void pagesNameQuillmet() {
        QFETCH(QString, path);
        const QByteArray page = ReadAll(QDir(first.path()).filePath(path));
        QVERIFY(page.startsWith("<!DOCTYPE html>"));
        QVERIFY(page.contains("<meta charset=\"utf-8\">"));
        QVERIFY(page.contains("Quillmet"));
        QVERIFY(QString::fromUtf8(page).toUtf8() == page); // valid UTF-8
        QVERIFY(page == ReadAll(QDir(second.path()).filePath(path)));
    }

    void homePageLinksEverySample() {
        const QByteArray page = ReadAll(QDir(first.path()).filePath("index.html"));
        for (const char* link :
             {"/qm/qm100K.jpg", "/qm/qm15M.jpg", "/test/big.jpg", "/test/sml.jpg", "/author/"})
            QVERIFY2(page.contains(QByteArray("href=\"") + link + '"'), link);
    }

    void badArgumentsGiveUsage_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("none") << QStringList{};
        QTest::newRow("two folders") << QStringList{"a", "b"};
        QTest::newRow("option") << QStringList{"--help"};
    }
    void badArgumentsGiveUsage() {
        QFETCH(QStringList, args);
        const Run run = RunTool(args);
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.err.startsWith("usage: make-samples DIR"));
    }

    void unwritableFolderIsReported() {
        // A plain file where the folder should be: nothing can be created below it.
        QTemporaryDir dir;
        QFile blocker(dir.filePath("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const Run run = RunTool({dir.filePath("blocker")});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.startsWith("make-samples: cannot "), run.err.constData());
        QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList{"blocker"});
    }
};

QTEST_GUILESS_MAIN(MakeSamplesTest)
#include "make_samples_test.moc"
