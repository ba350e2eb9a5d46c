// A scripted SMTP server on 127.0.0.1 for upload tests: one reply per command,
// replies in chunks, silence, closes and resets, and an optionally slow reader.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

class SmtpPeer final : public QObject {
    Q_OBJECT

public:
    // What the peer does in its turn: the greeting, then after each command line and
    // after the end of the mail data.
    struct Turn {
        QList<QByteArray> chunks; // written one by one, chunkDelayMs apart
        int chunkDelayMs = 20;
        enum class End { Stay, Close, Reset } end = End::Stay;
    };
    static Turn reply(const QByteArray& text) { return Turn{{text}}; }
    static Turn replyThenClose(const QByteArray& text) {
        return Turn{{text}, 20, Turn::End::Close};
    }
    static Turn closing() { return Turn{{}, 20, Turn::End::Close}; }
    static Turn resetting() { return Turn{{}, 20, Turn::End::Reset}; }
    static Turn silence() { return Turn{}; }
    // A well-behaved server: greeting, three 250s, 354, 250 after the data, 221 and close.
    static QList<Turn> normalScript();

    explicit SmtpPeer(QObject* parent = nullptr);
    ~SmtpPeer() override;

    quint16 port() const { return m_server.serverPort(); }
    void setScript(QList<Turn> turns) { m_turns = std::move(turns); }
    // Reads at most `bytes` every `intervalMs` instead of all at once, with small
    // kernel buffers, so that the sender meets a full socket.
    void setSlowReader(int bytes, int intervalMs);

    // Resets the connection now (linger 0), wherever the dialogue is.
    void resetNow();

    int connections() const { return m_connections; }
    // The client's port of the latest connection.
    quint16 clientPort() const { return m_clientPort; }
    // Every byte received, in order.
    const QByteArray& received() const { return m_received; }
    // Command lines as received, CR LF included; the mail data is one entry.
    const QList<QByteArray>& commands() const { return m_commands; }
    const QByteArray& mailData() const { return m_data; }
    bool clientClosed() const { return m_clientClosed; }

private:
    void accept();
    void readSome();
    void consume(const QByteArray& bytes);
    void play(int index);

    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    QList<Turn> m_turns;
    int m_nextTurn = 0;
    int m_connections = 0;
    quint16 m_clientPort = 0;
    bool m_inData = false;
    bool m_clientClosed = false;
    QByteArray m_pending; // command text not yet a whole line, or mail data so far
    QByteArray m_received;
    QList<QByteArray> m_commands;
    QByteArray m_data;
    int m_slowBytes = 0;
    QTimer m_slowTimer;
};
