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

// An IPv6 address, bare or in brackets (the dialog's host field may hold either): without them.
std::optional<QString> ipv6Host(const QString& host) {
    QString inner = host;
    if (host.startsWith(QLatin1Char('['))) {
        if (!host.endsWith(QLatin1Char(']')))
            return std::nullopt;
        inner = host.mid(1, host.size() - 2);
    }
    if (!Ipv6Literal(inner.toStdString()))
        return std::nullopt;
    return inner;
}

bool looksIpv6(const QString& host) {
    return host.startsWith(QLatin1Char('[')) || host.contains(QLatin1Char(':'));
}

ServerAddressError checkHost(const QString& host) {
    if (host.isEmpty())
        return ServerAddressError::EmptyHost;
    if (looksIpv6(host))
        return ipv6Host(host) ? ServerAddressError::None : ServerAddressError::BadIpv6Literal;
    return validHost(host) ? ServerAddressError::None : ServerAddressError::BadHost;
}
} // namespace

MeasurementServer MeasurementServer::Default() {
    MeasurementServer server;
    ParseServerAddress(QString::fromUtf8(qmconfig::SampleHost), &server);
    return server;
}

QString MeasurementServer::Authority() const {
    const QString name = host.contains(QLatin1Char(':'))
                             ? QString(QLatin1Char('[') + host + QLatin1Char(']'))
                             : host;
    return port == 80 ? name : name + QLatin1Char(':') + QString::number(port);
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
    // "[v6]" or "[v6]:port"; a bare IPv6 address (more than one colon) has no port.
    if (t.startsWith(QLatin1Char('['))) {
        const qsizetype close = t.indexOf(QLatin1Char(']'));
        if (close < 0)
            return ServerAddressError::BadIpv6Literal;
        const QString after = t.mid(close + 1);
        if (!after.isEmpty() && !after.startsWith(QLatin1Char(':')))
            return ServerAddressError::BadIpv6Literal;
        return ParseServerFields(t.left(close + 1),
                                 after.isEmpty() ? QStringLiteral("80") : after.mid(1), server);
    }
    if (t.count(QLatin1Char(':')) > 1)
        return ParseServerFields(t, QStringLiteral("80"), server);
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
    const std::optional<QString> v6 = looksIpv6(h) ? ipv6Host(h) : std::nullopt;
    server->host = (v6 ? *v6 : h).toLower();
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
    case ServerAddressError::BadIpv6Literal:
        return QStringLiteral("IPv6 のアドレスが正しくありません。[2001:db8::1]:8080 のように"
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
