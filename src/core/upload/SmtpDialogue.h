// The SMTP steps of the upload measurement: received text in, commands and log lines out.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// What the connection tells about itself; asked only when a command or the body needs it.
struct SmtpEndpoints {
    std::function<std::string()> LocalHostName;
    std::function<std::string()> LocalAddressText;
    std::function<int()> LocalPortNumber;
    std::function<std::string()> RemoteHostName;
    std::function<std::string()> RemoteAddressText;
    std::function<int()> RemotePortNumber;
};

// What the caller does after received text or sent bytes, in the order of the fields.
struct SmtpOutcome {
    // First text after the whole body went out: take the end tick, show "終了処理中".
    bool transferEnded = false;
    // The body is built and queued: show "測定中", log, then take the start tick and send.
    bool bodyStarted = false;
    // Lines for the log (the body is one entry, its lines ending in LF).
    std::vector<std::string> log;
    // The reply passed its bound: only the first `keptBytes` of the text belong in the log
    // (before the lines above); the connection is to be closed, and no rate counts.
    bool replyTooLong = false;
    std::size_t keptBytes = 0;
    // The reply was not the one the step awaits: the last log line says so.
    bool refused = false;
    std::string reply;
};

// Which reply the dialogue waits for; the numbers are the steps as the log and tests count them.
enum class SmtpStep : int {
    Greeting = 0, // "220", then Helo
    Helo = 1,     // "250", then Mail From
    MailFrom = 2, // "250", then RCPT to
    RcptTo = 3,   // "250", then DATA
    Data = 4,     // "354", then the body
    Body = 5,     // "250", then QUIT
    Quit = 6,     // "221"
};

class SmtpDialogue final {
public:
    // A reply line may hold this much before its LF, a reply of several lines this much in
    // all; text after the server's last reply counts as one more reply.
    static constexpr std::size_t kMaxReplyLine = 64 * 1024;
    static constexpr std::size_t kMaxReply = 1024 * 1024;
    static constexpr int kTestLineCount = 6000;
    static constexpr std::string_view kTestLine =
        "This is an upload speed test mail sent by Quillmet.";

    SmtpEndpoints Endpoints;

    // A new dialogue at step 0; the address is both sender and recipient.
    void Start(std::string mailAddress);
    // The connection is up; from now on silence and closes count.
    void Connected() { m_connected = true; }
    // The connection is gone; nothing more is sent or acted on.
    void Stop();

    // Text as it arrives. A reply is acted on once the gathered text ends in a final
    // reply line; a reply to the body only once the whole body has gone out.
    SmtpOutcome Received(std::string_view text);

    // Bytes waiting to go out (commands end in CR LF), and how many the socket took.
    std::string_view Pending() const;
    SmtpOutcome Sent(int count);

    bool Running() const noexcept { return m_running; }
    bool WasConnected() const noexcept { return m_connected; }
    int Step() const noexcept { return static_cast<int>(m_step); }
    const std::string& LocalHostName() const noexcept { return m_localHost; }
    bool BodyStarted() const noexcept { return m_bodyQueued; }
    // Body bytes the socket has taken so far.
    std::int32_t BodyBytesSent() const noexcept { return m_bodySent; }
    // A reply to the body has begun to arrive: the transfer time exists.
    bool TransferEnded() const noexcept { return m_transferEnded; }
    // The server answered QUIT; later text is only logged.
    bool Finished() const noexcept { return m_finished; }
    // A reply passed its bound; nothing received is acted on any more.
    bool ReplyTooLong() const noexcept { return m_tooLong; }

    // True when text ends with CR LF and its last line is three digits followed by a
    // blank or by the line end.
    static bool IsCompleteReply(std::string_view text);
    // The test body as logged, lines ending in LF, the end-of-data line included.
    static std::string BuildBody(const std::string& localHost, const std::string& localAddress,
                                 int localPort, const std::string& remoteHost,
                                 const std::string& remoteAddress, int remotePort);

private:
    SmtpOutcome Act();
    // How much of the text fits the reply's bounds; counts what fits.
    std::size_t Take(std::string_view text);
    void Queue(std::string_view command, SmtpOutcome& out);

    bool m_running = false;
    bool m_connected = false;
    bool m_finished = false;
    SmtpStep m_step = SmtpStep::Greeting;
    std::string m_address;
    std::string m_localHost;
    std::string m_reply;          // received text not yet acted on
    std::size_t m_replyBytes = 0; // of the reply under way, also after the last one
    std::size_t m_lineBytes = 0;  // of its line under way
    bool m_tooLong = false;

    std::string m_out;
    std::size_t m_outPos = 0;
    bool m_bodyQueued = false;
    std::size_t m_bodyAhead = 0; // pending bytes queued before the body
    std::size_t m_bodyLeft = 0;  // body bytes not yet taken by the socket
    std::int32_t m_bodySent = 0;
    bool m_transferEnded = false;
};
