#include "core/server/ServerDescriptor.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

namespace {
// A path on the server: absolute, printable ASCII, no way up.
bool validPath(const QJsonValue& v) {
    if (!v.isString())
        return false;
    const QString p = v.toString();
    if (!p.startsWith(QLatin1Char('/')) || p.size() > 1024 || p.contains(QStringLiteral("/..")))
        return false;
    for (const QChar c : p) {
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7f)
            return false;
    }
    return true;
}

// A whole, non-negative byte count (JSON numbers are doubles; 2^53 is plenty).
bool validCount(const QJsonValue& v, qint64* count) {
    if (!v.isDouble())
        return false;
    const double d = v.toDouble();
    if (d < 0 || d > 9007199254740992.0 || d != static_cast<double>(static_cast<qint64>(d)))
        return false;
    *count = static_cast<qint64>(d);
    return true;
}

bool optionalText(const QJsonObject& o, const char* key, int maxLength, QString* text) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined())
        return true;
    if (!v.isString() || v.toString().size() > maxLength)
        return false;
    *text = v.toString();
    return true;
}
} // namespace

QStringList ServerDescriptor::FilePaths() const {
    QStringList paths;
    for (const ServerFile& f : files)
        paths << f.path;
    return paths;
}

bool ParseServerDescriptor(const QByteArray& json, ServerDescriptor* descriptor) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    const QJsonObject o = doc.object();
    ServerDescriptor d;
    const QJsonValue name = o.value(QLatin1String("name"));
    if (!name.isString() || name.toString().size() > 200)
        return false;
    d.name = name.toString();
    if (!optionalText(o, "version", 100, &d.version))
        return false;

    const QJsonValue files = o.value(QLatin1String("files"));
    if (!files.isArray() || files.toArray().size() > 1000)
        return false;
    for (const QJsonValue& f : files.toArray()) {
        if (!f.isObject())
            return false;
        ServerFile file;
        if (!validPath(f.toObject().value(QLatin1String("path"))) ||
            !validCount(f.toObject().value(QLatin1String("bytes")), &file.bytes))
            return false;
        file.path = f.toObject().value(QLatin1String("path")).toString();
        d.files << file;
    }

    if (const QJsonValue up = o.value(QLatin1String("upload")); !up.isUndefined()) {
        if (!up.isObject() || !validPath(up.toObject().value(QLatin1String("path"))) ||
            !validCount(up.toObject().value(QLatin1String("max_bytes")), &d.uploadMaxBytes))
            return false;
        d.uploadPath = up.toObject().value(QLatin1String("path")).toString();
    }
    if (const QJsonValue empty = o.value(QLatin1String("empty")); !empty.isUndefined()) {
        if (!validPath(empty))
            return false;
        d.emptyPath = empty.toString();
    }
    *descriptor = d;
    return true;
}

QString DescriptorOutcomeText(DescriptorOutcome outcome, int status) {
    switch (outcome) {
    case DescriptorOutcome::Read:
        break;
    case DescriptorOutcome::NoDescriptor:
        return QStringLiteral("このサーバーには Quillmet の測定用ファイルの案内がありません。"
                              "見本ファイルがあれば、簡易測定はそのまま使えます。");
    case DescriptorOutcome::HttpError:
        return QStringLiteral("サーバーがエラーを返しました（HTTP %1）。").arg(status);
    case DescriptorOutcome::NoConnection:
        return QStringLiteral("サーバーに接続できませんでした。ホスト名とポート番号、"
                              "サーバーが動いているかを確かめてください。");
    case DescriptorOutcome::TimedOut:
        return QStringLiteral("サーバーから時間内に応答がありませんでした。");
    case DescriptorOutcome::TooLarge:
    case DescriptorOutcome::Garbled:
        return QStringLiteral("サーバーの案内（quillmet.json）を読み取れませんでした。");
    }
    return {};
}

ServerDescriptorFetch::ServerDescriptorFetch(QObject* parent)
    : QObject(parent)
    , m_manager(new QNetworkAccessManager(this)) {
    // The measurements themselves go straight to the server; so does the check.
    m_manager->setProxy(QNetworkProxy::NoProxy);
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, [this] { End(DescriptorOutcome::TimedOut); });
}

ServerDescriptorFetch::~ServerDescriptorFetch() {
    Abort();
}

void ServerDescriptorFetch::Start(const MeasurementServer& server) {
    Abort();
    QNetworkRequest request(QUrl(server.FileUrl(QString::fromLatin1(kDescriptorPath))));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setRawHeader("Accept", "application/json");
    m_body.clear();
    m_reply = m_manager->get(request);
    connect(m_reply, &QNetworkReply::readyRead, this, &ServerDescriptorFetch::OnReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &ServerDescriptorFetch::OnFinished);
    m_timeout.start(TimeoutMs);
}

void ServerDescriptorFetch::Abort() {
    m_timeout.stop();
    if (QNetworkReply* reply = std::exchange(m_reply, nullptr)) {
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void ServerDescriptorFetch::OnReadyRead() {
    m_body += m_reply->read(kMaxDescriptorBytes + 1 - m_body.size());
    if (m_body.size() > kMaxDescriptorBytes)
        End(DescriptorOutcome::TooLarge);
}

void ServerDescriptorFetch::OnFinished() {
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (m_reply->error() != QNetworkReply::NoError && status == 0) {
        End(DescriptorOutcome::NoConnection);
        return;
    }
    if (status == 404) {
        End(DescriptorOutcome::NoDescriptor, status);
        return;
    }
    if (status != 200) {
        End(DescriptorOutcome::HttpError, status);
        return;
    }
    OnReadyRead();
    if (m_reply)
        End(DescriptorOutcome::Read, status);
}

void ServerDescriptorFetch::End(DescriptorOutcome outcome, int status) {
    ServerDescriptor descriptor;
    if (outcome == DescriptorOutcome::Read && !ParseServerDescriptor(m_body, &descriptor))
        outcome = DescriptorOutcome::Garbled;
    Abort();
    m_body.clear();
    emit finished(outcome, descriptor, status);
}

QString DescriptorSummary(const ServerDescriptor& descriptor) {
    // Digits grouped by thousands, as the history shows byte counts.
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::DefaultNumberOptions);
    QString text = QStringLiteral("サーバー名: %1\n").arg(descriptor.name);
    if (!descriptor.version.isEmpty())
        text += QStringLiteral("版: %1\n").arg(descriptor.version);
    text += QStringLiteral("見本ファイル:\n");
    for (const ServerFile& f : descriptor.files)
        text += QStringLiteral("　%1（%2 バイト）\n").arg(f.path, c.toString(f.bytes));
    QStringList lacking;
    for (const QString& size : PresetSizeNames()) {
        if (!descriptor.FilePaths().contains(PresetPath(size)))
            lacking << size;
    }
    if (!lacking.isEmpty())
        text += QStringLiteral("このサーバーにない簡易測定: %1\n")
                    .arg(lacking.join(QStringLiteral(", ")));
    return text;
}
