// make-jpeg FILE SIZE [SEED]: a sample JPEG of exactly SIZE bytes, as the sample host serves.
#include "SampleJpeg.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <exception>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    bool sizeOk = false;
    const qint64 size = args.size() >= 3 ? args[2].toLongLong(&sizeOk) : 0;
    const quint64 seed = args.size() == 4 ? args[3].toULongLong() : 25000;
    if (args.size() < 3 || args.size() > 4 || !sizeOk || size < SampleJpegMinimumSize) {
        std::fprintf(stderr, "usage: make-jpeg FILE SIZE [SEED]\n");
        return 2;
    }
    try {
        const QByteArray jpeg = MakeSampleJpeg(size, seed);
        QFile file(args[1]);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(jpeg) != jpeg.size() || !file.flush()) {
            std::fprintf(stderr, "make-jpeg: cannot write %s\n", qPrintable(args[1]));
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make-jpeg: %s\n", e.what());
        return 1;
    }
    return 0;
}
