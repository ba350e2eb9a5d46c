#include "core/server/MeasurementServer.h"

#include "QuillmetConfig.h"

#include <QRegularExpression>
#include <array>

namespace {
struct Preset {
    const char* size;
    const char* path;
};
constexpr std::array<Preset, 8> kPresets{{
    {"15M", "/qm/qm15M.jpg"},
    {"8M", "/qm/qm8M.jpg"},
    {"4M", "/qm/qm4M.jpg"},
    {"2M", "/qm/qm2M.jpg"},
    {"1M", "/qm/qm1M.jpg"},
    {"500K", "/qm/qm500K.jpg"},
    {"200K", "/qm/qm200K.jpg"},
    {"100K", "/qm/qm100K.jpg"},
}};

// A host name or an IPv4 address: letters, digits, '-' and '.', as a URL's host part
// carries them unescaped.
bool validHost(const QString& host) {
    static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9.-]{0,252})$"));
    return name.match(host).hasMatch() && !host.contains(QStringLiteral(".."));
}

ServerAddressError parsePort(const QString& text, quint16* port) {
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
    if (!digits.match(text).hasMatch())
        return ServerAddressError::BadPort;
    const int n = text.toInt();
    if (n < 1 || n > 65535)
        return ServerAddressError::BadPort;
    *port = static_cast<quint16>(n);
    return ServerAddressError::None;
}

ServerAddressError checkHost(const QString& host) {
    if (host.isEmpty())
        return ServerAddressError::EmptyHost;
    // A bracketed literal, or a bare one, which has more than one colon.
    if (host.startsWith(QLatin1Char('[')) || host.count(QLatin1Char(':')) > 1)
        return ServerAddressError::Ipv6Literal;
    return validHost(host) ? ServerAddressError::None : ServerAddressError::BadHost;
}
} // namespace

MeasurementServer MeasurementServer::Default() {
    MeasurementServer server;
    ParseServerAddress(QString::fromUtf8(qmconfig::SampleHost), &server);
    return server;
}

QString MeasurementServer::Authority() const {
    return port == 80 ? host : host + QLatin1Char(':') + QString::number(port);
}

QString MeasurementServer::FileUrl(const QString& path) const {
    return QStringLiteral("http://") + Authority() + path;
}

QString MeasurementServer::PresetUrl(const QString& size) const {
    const QString path = PresetPath(size);
    return path.isEmpty() ? QString() : FileUrl(path);
}

bool MeasurementServer::Lacks(const QString& path) const {
    return files && !files->contains(path);
}

ServerAddressError ParseServerAddress(const QString& text, MeasurementServer* server) {
    const QString t = text.trimmed();
    if (t.startsWith(QLatin1Char('[')) || t.count(QLatin1Char(':')) > 1)
        return ServerAddressError::Ipv6Literal;
    const qsizetype colon = t.indexOf(QLatin1Char(':'));
    return ParseServerFields(colon < 0 ? t : t.left(colon),
                             colon < 0 ? QStringLiteral("80") : t.mid(colon + 1), server);
}

ServerAddressError ParseServerFields(const QString& host, const QString& port,
                                     MeasurementServer* server) {
    const QString h = host.trimmed();
    if (const ServerAddressError e = checkHost(h); e != ServerAddressError::None)
        return e;
    quint16 p = 0;
    if (const ServerAddressError e = parsePort(port.trimmed(), &p); e != ServerAddressError::None)
        return e;
    server->host = h.toLower();
    server->port = p;
    server->files.reset();
    return ServerAddressError::None;
}

QString ServerAddressErrorText(ServerAddressError error) {
    switch (error) {
    case ServerAddressError::None:
        break;
    case ServerAddressError::EmptyHost:
        return QStringLiteral("サーバーのホスト名を入力してください。");
    case ServerAddressError::BadHost:
        return QStringLiteral("ホスト名には英数字、「-」と「.」だけが使えます。");
    case ServerAddressError::Ipv6Literal:
        return QStringLiteral("IPv6 のアドレスはまだ使えません。ホスト名か IPv4 のアドレスを"
                              "入力してください。");
    case ServerAddressError::BadPort:
        return QStringLiteral("ポート番号には 1 から 65535 までの数字を入力してください。");
    }
    return {};
}

QStringList PresetSizeNames() {
    QStringList names;
    for (const Preset& p : kPresets)
        names << QString::fromLatin1(p.size);
    return names;
}

QString PresetPath(const QString& size) {
    for (const Preset& p : kPresets) {
        if (size.compare(QLatin1String(p.size), Qt::CaseInsensitive) == 0)
            return QString::fromLatin1(p.path);
    }
    return {};
}

MeasurementServer WithKnownFiles(MeasurementServer chosen,
                                 std::initializer_list<const MeasurementServer*> known) {
    chosen.files.reset();
    for (const MeasurementServer* k : known) {
        if (k && k->SameAddress(chosen)) {
            chosen.files = k->files;
            break;
        }
    }
    return chosen;
}

QString SampleHostText(const MeasurementServer& server) {
    return server.SameAddress(MeasurementServer::Default())
               ? QString::fromUtf8(qmconfig::SampleHost)
               : server.Authority();
}

QString ExampleUrlText(const MeasurementServer& server) {
    if (server.SameAddress(MeasurementServer::Default()))
        return QString::fromUtf8(qmconfig::ExampleUrl);
    // Below 2,500,000 bytes a fast line marks the run too small, so the example is the
    // smallest preset above that which the server is not known to lack.
    for (const char* size : {"4M", "8M", "15M"}) {
        if (!server.Lacks(PresetPath(QLatin1String(size))))
            return server.PresetUrl(QLatin1String(size));
    }
    return server.PresetUrl(QStringLiteral("4M"));
}
