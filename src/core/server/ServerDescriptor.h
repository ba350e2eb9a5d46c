// What a measurement server says it offers: its "/.well-known/quillmet.json".
#pragma once

#include "core/server/MeasurementServer.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

class QNetworkAccessManager;
class QNetworkReply;

struct ServerFile {
    QString path;
    qint64 bytes = 0;
};

struct ServerDescriptor {
    QString name;
    QString version;
    QList<ServerFile> files;
    QString uploadPath; // empty when the server has no upload sink
    qint64 uploadMaxBytes = 0;
    QString emptyPath;

    QStringList FilePaths() const;
};

inline constexpr char kDescriptorPath[] = "/.well-known/quillmet.json";
// A descriptor is a few hundred bytes; anything near this is not one.
inline constexpr qint64 kMaxDescriptorBytes = 64 * 1024;

// The descriptor from its JSON, every field checked; false for anything else.
bool ParseServerDescriptor(const QByteArray& json, ServerDescriptor* descriptor);

// How a fetch of the descriptor ended.
enum class DescriptorOutcome {
    Read,
    NoDescriptor, // 404: a web server, but not one that describes itself
    HttpError,    // another status
    NoConnection, // refused, no such host, a lost connection
    TimedOut,
    TooLarge,
    Garbled, // not the descriptor's JSON
};

// What to tell the user of an outcome other than Read (status: the HTTP status, if any).
QString DescriptorOutcomeText(DescriptorOutcome outcome, int status = 0);

// One fetch of a server's descriptor at a time, on the caller's event loop.
class ServerDescriptorFetch final : public QObject {
    Q_OBJECT

public:
    explicit ServerDescriptorFetch(QObject* parent = nullptr);
    ~ServerDescriptorFetch() override;

    int TimeoutMs = 10000;

    // Starts a fetch from server, ending one under way without a report.
    void Start(const MeasurementServer& server);
    void Abort();
    bool Running() const { return m_reply != nullptr; }

signals:
    // status: the HTTP status when one came.
    void finished(DescriptorOutcome outcome, const ServerDescriptor& descriptor, int status);

private:
    void OnReadyRead();
    void OnFinished();
    void End(DescriptorOutcome outcome, int status = 0);

    QNetworkAccessManager* m_manager = nullptr;
    QNetworkReply* m_reply = nullptr;
    QTimer m_timeout;
    QByteArray m_body;
};

// The descriptor for the user: name, version, the files with their sizes, and the presets
// the server lacks.
QString DescriptorSummary(const ServerDescriptor& descriptor);
