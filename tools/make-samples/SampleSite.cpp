// The folder the local sample host serves: sample images, test images and two small pages.
#include "SampleSite.h"

#include "QuillmetConfig.h"
#include "SampleJpeg.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>
#include <stdexcept>

namespace {

void WriteWhole(const QString& path, const QByteArray& bytes) {
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        throw std::runtime_error("cannot create the folder of " + path.toStdString());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw std::runtime_error("cannot write " + path.toStdString() + ": " +
                                 file.errorString().toStdString());
}

QString Escaped(const char* text) {
    return QString::fromUtf8(text).toHtmlEscaped();
}

QByteArray Page(const QString& title, const QString& body) {
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"utf-8\">\n"
                          "<title>%1</title>\n</head>\n<body>\n<h1>%1</h1>\n%2</body>\n</html>\n")
        .arg(title, body)
        .toUtf8();
}

QByteArray HomePage() {
    QString body = QStringLiteral("<p>Quillmet measures the speed of your internet line. This "
                                  "host serves its sample images.</p>\n<ul>\n");
    for (const auto& sample : SampleFiles)
        body += QStringLiteral("<li><a href=\"/%1\">/%1</a> (%2 bytes)</li>\n")
                    .arg(QString::fromLatin1(sample.path))
                    .arg(sample.size);
    body += QStringLiteral("</ul>\n<p>%1 &middot; <a href=\"/author/\">%2</a></p>\n")
                .arg(Escaped(qmconfig::PublisherName), Escaped(qmconfig::AuthorName));
    return Page(QStringLiteral("Quillmet"), body);
}

QByteArray AuthorPage() {
    return Page(
        QStringLiteral("Quillmet: ") + Escaped(qmconfig::AuthorName),
        QStringLiteral("<p>%1 writes Quillmet for %2.</p>\n<p><a href=\"/\">Quillmet</a></p>\n")
            .arg(Escaped(qmconfig::AuthorName), Escaped(qmconfig::PublisherName)));
}

} // namespace

void WriteSampleSite(const QString& root, bool verbose) {
    QTextStream out(stdout);
    const QDir dir(root);
    const auto write = [&](const char* path, const QByteArray& bytes) {
        WriteWhole(dir.filePath(QString::fromLatin1(path)), bytes);
        if (verbose)
            out << path << " " << bytes.size() << " bytes" << Qt::endl;
    };
    for (const auto& sample : SampleFiles)
        write(sample.path, MakeSampleJpeg(sample.size, sample.seed));
    write("index.html", HomePage());
    write("author/index.html", AuthorPage());
}
