#include "core/linetest/LineTestRun.h"

#include "core/linetest/TcpInfo.h"
#include "core/server/ServerDescriptor.h"

#include <QRandomGenerator>
#include <QSocketNotifier>
#include <algorithm>
#include <cstring>
#include <curl/curl.h>
#include <mutex>
#include <unistd.h>

namespace {
enum Role { DescriptorFetch, IdleProbe, LoadedProbe, Load };

constexpr long kLoadBufferBytes = 512 * 1024;
constexpr int kProbesInFlight = 3;
// A load connection that fails this often in a row, bytes or none, is given up.
constexpr int kFailuresInRow = 3;
constexpr qint64 kSmallestBody = 1024 * 1024;
constexpr qint64 kBodyBlockBytes = 8 * 1024 * 1024;

RunOutcome outcomeOfCurl(CURLcode code) {
    const QString text = QString::fromUtf8(curl_easy_strerror(code));
    switch (code) {
    case CURLE_COULDNT_CONNECT:
        return RunOutcome(RunEnd::Refused, text);
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return RunOutcome(RunEnd::Unresolved, text);
    case CURLE_OPERATION_TIMEDOUT:
        return RunOutcome(RunEnd::TimedOut, text);
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
        return RunOutcome(RunEnd::Reset, text);
    case CURLE_PARTIAL_FILE:
        return RunOutcome(RunEnd::CutShort, text);
    default:
        return RunOutcome(RunEnd::Failed, text);
    }
}

QString directionName(LineTestPhase phase) {
    return phase == LineTestPhase::Upload ? QStringLiteral("上り") : QStringLiteral("下り");
}
} // namespace

struct LineTestRun::Transfer {
    LineTestRun* run = nullptr;
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    int role = Load;
    LineTestPhase phase = LineTestPhase::Idle;
    bool attached = false;
    QByteArray received; // the descriptor's only
    bool tooLarge = false;
    // This request.
    qint64 sent = 0; // of the upload body, handed to libcurl
    // This load connection over its requests.
    int slot = 0;
    int opened = 0; // sockets
    int failuresInRow = 0;
    qint64 progressAt = 0;
};

// libcurl's callbacks, with access to the run.
struct LineTestCallbacks {
    using Transfer = LineTestRun::Transfer;

    static bool accepted(Transfer* t) {
        long status = 0;
        curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &status);
        return status == 200;
    }

    static size_t Write(char* data, size_t size, size_t count, void* user) {
        auto* t = static_cast<Transfer*>(user);
        const size_t length = size * count;
        if (t->role == DescriptorFetch) {
            if (t->received.size() + static_cast<qint64>(length) > kMaxDescriptorBytes) {
                t->tooLarge = true;
                return 0;
            }
            t->received.append(data, static_cast<qsizetype>(length));
            return length;
        }
        // An error reply ends the request at once, however long its body.
        if (!accepted(t))
            return 0;
        if (t->role == Load && t->phase == LineTestPhase::Download) {
            // Counted and discarded: nothing received is kept.
            t->run->m_counted += static_cast<qint64>(length);
            t->progressAt = t->run->Now();
        }
        return length;
    }

    static size_t Read(char* buffer, size_t size, size_t count, void* user) {
        auto* t = static_cast<Transfer*>(user);
        // The body is the random block over and over, up to the body's length.
        const QByteArray& block = t->run->m_body;
        const qint64 at = t->sent % block.size();
        const qint64 length = std::min(
            {static_cast<qint64>(size * count), t->run->m_bodyLength - t->sent, block.size() - at});
        if (length <= 0)
            return 0;
        std::memcpy(buffer, block.constData() + at, static_cast<size_t>(length));
        t->sent += length;
        // Taken by the kernel: the server still reads (its acknowledgements are counted).
        t->progressAt = t->run->Now();
        return static_cast<size_t>(length);
    }

    // libcurl rewinds a body it must send again on a new connection.
    static int Seek(void* user, curl_off_t offset, int origin) {
        auto* t = static_cast<Transfer*>(user);
        if (origin != SEEK_SET || offset < 0 || offset > t->run->m_bodyLength)
            return CURL_SEEKFUNC_CANTSEEK;
        t->sent = offset;
        return CURL_SEEKFUNC_OK;
    }

    // Every new socket of a load connection: its acknowledged count starts from nothing.
    static int Sockopt(void* user, curl_socket_t fd, curlsocktype) {
        auto* t = static_cast<Transfer*>(user);
        if (t->role == Load) {
            t->run->m_acked.insert(fd, 0);
            if (t->opened++ > 0)
                ++t->run->Direction().reconnects;
        }
        return CURL_SOCKOPT_OK;
    }

    // A load socket's last acknowledged bytes are counted before it goes.
    static int CloseSocket(void* user, curl_socket_t fd) {
        auto* run = static_cast<LineTestRun*>(user);
        if (run->m_acked.contains(fd)) {
            if (run->m_phase == LineTestPhase::Upload)
                run->CreditSocket(fd);
            run->m_acked.remove(fd);
        }
        return ::close(fd);
    }

    static int Socket(CURL*, curl_socket_t fd, int what, void* user, void*) {
        auto* run = static_cast<LineTestRun*>(user);
        const auto watch = [run, fd](QHash<int, QSocketNotifier*>& map, QSocketNotifier::Type type,
                                     bool on) {
            QSocketNotifier* n = map.value(fd);
            if (on && !n) {
                n = new QSocketNotifier(fd, type, run);
                const int action =
                    type == QSocketNotifier::Read ? CURL_CSELECT_IN : CURL_CSELECT_OUT;
                QObject::connect(n, &QSocketNotifier::activated, run,
                                 [run, fd, action] { run->SocketEvent(fd, action); });
                map.insert(fd, n);
            } else if (!on && n) {
                // Possibly inside this notifier's own signal.
                map.remove(fd);
                n->setEnabled(false);
                n->deleteLater();
            }
        };
        watch(run->m_readers, QSocketNotifier::Read,
              what == CURL_POLL_IN || what == CURL_POLL_INOUT);
        watch(run->m_writers, QSocketNotifier::Write,
              what == CURL_POLL_OUT || what == CURL_POLL_INOUT);
        return 0;
    }

    static int Timer(CURLM*, long ms, void* user) {
        auto* run = static_cast<LineTestRun*>(user);
        if (ms < 0)
            run->m_curlTimer.stop();
        else
            run->m_curlTimer.start(static_cast<int>(ms));
        return 0;
    }
};

QString LineTestFailureText(const RunOutcome& o, const QString& authority) {
    const QString detail =
        o.message.isEmpty() ? QString() : QStringLiteral("\n(") + o.message + u')';
    switch (o.end) {
    case RunEnd::NoUploadSink:
        return QStringLiteral("%1 は Quillmet の測定サーバーではないため、回線品質を測れません。"
                              "測定サーバーの設定を確かめてください。")
                   .arg(authority) +
               detail;
    case RunEnd::BodyTooLarge:
        return QStringLiteral("%1 のサーバーが、送信データが大きすぎると断りました (413)。")
            .arg(authority);
    case RunEnd::ErrorReply:
        return QStringLiteral("%1 のサーバーがエラー %2 を返しました。")
            .arg(authority)
            .arg(o.replyCode);
    case RunEnd::TimedOut:
        return QStringLiteral("%1 のサーバーから時間内に応答がありませんでした。").arg(authority);
    case RunEnd::Reset:
    case RunEnd::CutShort:
        return QStringLiteral("%1 のサーバーが接続を切ったため、測定を続けられませんでした。")
                   .arg(authority) +
               detail;
    default:
        break;
    }
    // The port's colon comes after an IPv6 address's closing bracket.
    const qsizetype colon = authority.lastIndexOf(u':') > authority.lastIndexOf(u']')
                                ? authority.lastIndexOf(u':')
                                : -1;
    const QString host = colon < 0 ? authority : authority.left(colon);
    const int port = colon < 0 ? 80 : authority.mid(colon + 1).toInt();
    const QString explained = ExplainNetworkError(o, host, port);
    if (!explained.isEmpty())
        return explained;
    return QStringLiteral("%1 で回線品質を測れませんでした。").arg(authority) + detail;
}

LineTestRun::LineTestRun(QObject* parent)
    : QObject(parent) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    m_curlTimer.setSingleShot(true);
    connect(&m_curlTimer, &QTimer::timeout, this, &LineTestRun::CurlTimeout);
    for (QTimer* t : {&m_sampleTimer, &m_rampTimer, &m_probeTimer})
        t->setTimerType(Qt::PreciseTimer);
    connect(&m_sampleTimer, &QTimer::timeout, this, &LineTestRun::SampleTick);
    connect(&m_rampTimer, &QTimer::timeout, this, &LineTestRun::RampTick);
    connect(&m_probeTimer, &QTimer::timeout, this, &LineTestRun::ProbeTick);
}

LineTestRun::~LineTestRun() {
    Abort();
}

void LineTestRun::Start(const MeasurementServer& server) {
    if (Running())
        return;
    m_server = server;
    m_outcome = {};
    m_result = {};
    const QDateTime now = QDateTime::currentDateTime();
    m_result.started = now.toOffsetFromUtc(now.offsetFromUtc());
    m_result.server = server.Authority();
    m_idleProbes.clear();
    m_multi = curl_multi_init();
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &LineTestCallbacks::Socket);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &LineTestCallbacks::Timer);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
    m_clock.start();
    SetPhase(LineTestPhase::Descriptor);
    if (Running())
        Add(NewTransfer(DescriptorFetch, QString::fromLatin1(kDescriptorPath)));
}

LineTestRun::Transfer* LineTestRun::NewTransfer(int role, const QString& path) {
    auto owned = std::make_unique<Transfer>();
    Transfer* t = owned.get();
    t->run = this;
    t->role = role;
    t->phase = m_phase;
    t->progressAt = Now();
    t->easy = curl_easy_init();
    CURL* e = t->easy;
    curl_easy_setopt(e, CURLOPT_URL, m_server.FileUrl(path).toUtf8().constData());
    curl_easy_setopt(e, CURLOPT_PRIVATE, t);
    // Proxies as the environment names them (http_proxy, no_proxy), libcurl's default.
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(e, CURLOPT_USERAGENT, "quillmet-linetest/1");
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &LineTestCallbacks::Write);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, t);
    curl_easy_setopt(e, CURLOPT_SOCKOPTFUNCTION, &LineTestCallbacks::Sockopt);
    curl_easy_setopt(e, CURLOPT_SOCKOPTDATA, t);
    curl_easy_setopt(e, CURLOPT_CLOSESOCKETFUNCTION, &LineTestCallbacks::CloseSocket);
    curl_easy_setopt(e, CURLOPT_CLOSESOCKETDATA, this);
    // Auto unless a family was chosen: libcurl then tries the addresses in the system's order.
    const AddressFamily family = m_server.FamilyOr(AddressFamily::Auto);
    curl_easy_setopt(e, CURLOPT_IPRESOLVE,
                     family == AddressFamily::Ipv4   ? CURL_IPRESOLVE_V4
                     : family == AddressFamily::Ipv6 ? CURL_IPRESOLVE_V6
                                                     : CURL_IPRESOLVE_WHATEVER);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(Timings.requestTimeoutMs));
    if (role == DescriptorFetch) {
        // Only load connections are kept for reuse: their sockets are the ones counted.
        curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L);
        t->headers = curl_slist_append(t->headers, "Accept: application/json");
        curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(Timings.requestTimeoutMs));
    } else if (role == IdleProbe || role == LoadedProbe) {
        // Each probe times a TCP connect of its own and then its request.
        curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, 1L);
        curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L);
        curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(Timings.requestTimeoutMs));
    } else {
        curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kLoadBufferBytes);
        if (m_phase == LineTestPhase::Upload) {
            t->headers = curl_slist_append(t->headers, "Content-Type: application/octet-stream");
            // The sink takes the body at once: no round trip waiting for a 100.
            t->headers = curl_slist_append(t->headers, "Expect:");
            curl_easy_setopt(e, CURLOPT_POST, 1L);
            curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(m_bodyLength));
            curl_easy_setopt(e, CURLOPT_READFUNCTION, &LineTestCallbacks::Read);
            curl_easy_setopt(e, CURLOPT_READDATA, t);
            curl_easy_setopt(e, CURLOPT_SEEKFUNCTION, &LineTestCallbacks::Seek);
            curl_easy_setopt(e, CURLOPT_SEEKDATA, t);
            curl_easy_setopt(e, CURLOPT_UPLOAD_BUFFERSIZE, kLoadBufferBytes);
        }
    }
    if (t->headers)
        curl_easy_setopt(e, CURLOPT_HTTPHEADER, t->headers);
    m_transfers.push_back(std::move(owned));
    return t;
}

void LineTestRun::Add(Transfer* t) {
    t->attached = curl_multi_add_handle(m_multi, t->easy) == CURLM_OK;
}

void LineTestRun::Drop(Transfer* t) {
    if (t->attached)
        curl_multi_remove_handle(m_multi, t->easy);
    curl_easy_cleanup(t->easy);
    curl_slist_free_all(t->headers);
    const auto at = std::find_if(m_transfers.begin(), m_transfers.end(),
                                 [t](const auto& owned) { return owned.get() == t; });
    if (at != m_transfers.end())
        m_transfers.erase(at);
}

void LineTestRun::SocketEvent(int fd, int action) {
    if (!m_multi)
        return;
    int running = 0;
    curl_multi_socket_action(m_multi, fd, action, &running);
    ReadMessages();
}

void LineTestRun::CurlTimeout() {
    SocketEvent(CURL_SOCKET_TIMEOUT, 0);
}

void LineTestRun::ReadMessages() {
    int left = 0;
    while (m_multi) {
        CURLMsg* msg = curl_multi_info_read(m_multi, &left);
        if (!msg)
            return;
        if (msg->msg != CURLMSG_DONE)
            continue;
        Transfer* t = nullptr;
        curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &t);
        const CURLcode code = msg->data.result;
        if (t)
            Done(t, code);
    }
}

void LineTestRun::Done(Transfer* t, int code) {
    long status = 0;
    curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &status);
    // The server's address as the first answered transfer reached it.
    char* ip = nullptr;
    if (code == CURLE_OK && m_result.address.isEmpty() &&
        curl_easy_getinfo(t->easy, CURLINFO_PRIMARY_IP, &ip) == CURLE_OK && ip && *ip) {
        m_result.address = QString::fromLatin1(ip);
        m_result.family =
            m_result.address.contains(u':') ? AddressFamily::Ipv6 : AddressFamily::Ipv4;
    }
    switch (t->role) {
    case DescriptorFetch:
        DescriptorDone(t, code, status);
        return;
    case IdleProbe:
    case LoadedProbe:
        ProbeDone(t, code, status);
        return;
    default:
        LoadDone(t, code, status);
        return;
    }
}

void LineTestRun::DescriptorDone(Transfer* t, int code, long status) {
    const QByteArray body = t->received;
    const bool tooLarge = t->tooLarge;
    Drop(t);
    const auto notOurs = [this](DescriptorOutcome outcome, int httpStatus = 0) {
        Fail(RunOutcome(RunEnd::NoUploadSink, DescriptorOutcomeText(outcome, httpStatus)));
    };
    if (tooLarge)
        return notOurs(DescriptorOutcome::TooLarge);
    if (code != CURLE_OK)
        return Fail(outcomeOfCurl(static_cast<CURLcode>(code)));
    if (status == 404)
        return notOurs(DescriptorOutcome::NoDescriptor);
    if (status != 200)
        return notOurs(DescriptorOutcome::HttpError, static_cast<int>(status));
    ServerDescriptor d;
    if (!ParseServerDescriptor(body, &d))
        return notOurs(DescriptorOutcome::Garbled);
    const auto largest = std::max_element(
        d.files.begin(), d.files.end(),
        [](const ServerFile& a, const ServerFile& b) { return a.bytes < b.bytes; });
    if (largest == d.files.end() || largest->bytes <= 0 || d.emptyPath.isEmpty() ||
        d.uploadPath.isEmpty() || d.uploadMaxBytes <= 0) {
        Fail(RunOutcome(
            RunEnd::NoUploadSink,
            QStringLiteral("案内に見本ファイル、/qm/empty、受け口のどれかがありません")));
        return;
    }
    m_samplePath = largest->path;
    m_emptyPath = d.emptyPath;
    m_sinkPath = d.uploadPath;
    m_sinkMaxBytes = d.uploadMaxBytes;
    SetPhase(LineTestPhase::IdleLatency);
    if (Running())
        NextIdleProbe();
}

void LineTestRun::NextIdleProbe() {
    if (static_cast<int>(m_idleProbes.size()) >= Timings.idleProbes) {
        m_result.idleLatency = SummarizeLatency(m_idleProbes);
        StartLoad(LineTestPhase::Download);
        return;
    }
    Add(NewTransfer(IdleProbe, m_emptyPath));
}

void LineTestRun::ProbeDone(Transfer* t, int code, long status) {
    // A probe's round trip: the mean of its connect and its request, each one round trip.
    curl_off_t totalMicros = 0;
    curl_easy_getinfo(t->easy, CURLINFO_TOTAL_TIME_T, &totalMicros);
    const double ms = static_cast<double>(totalMicros) / 2000.0;
    const int role = t->role;
    const LineTestPhase phase = t->phase;
    Drop(t);
    const bool answered = code == CURLE_OK && status >= 200 && status < 300;
    if (role == LoadedProbe) {
        // A lost probe under load is no reason to end the test; the others tell.
        if (answered && phase == m_phase)
            Direction().probeMs.push_back(ms);
        return;
    }
    if (!answered) {
        const bool refused = status != 0 && (status < 200 || status >= 300);
        RunOutcome o =
            refused ? RunOutcome(RunEnd::ErrorReply) : outcomeOfCurl(static_cast<CURLcode>(code));
        o.replyCode = static_cast<int>(status);
        Fail(o);
        return;
    }
    m_idleProbes.push_back(ms);
    NextIdleProbe();
}

void LineTestRun::StartLoad(LineTestPhase phase) {
    SetPhase(phase);
    if (!Running())
        return;
    if (phase == LineTestPhase::Upload) {
        // A body lasts half a second at the download's rate at least, up to the sink's limit.
        // Its bytes are one random block, made once and repeated: nothing on the way can
        // compress them, and the memory stays that of the block whatever the line's rate.
        const auto wanted = static_cast<qint64>(m_result.download.bytesPerSecond / 2);
        m_bodyLength = std::min(std::max(wanted, kSmallestBody), m_sinkMaxBytes);
        const qint64 block = std::min(kBodyBlockBytes, m_bodyLength);
        m_body.resize(block);
        QRandomGenerator64 random(QRandomGenerator::system()->generate64());
        random.fillRange(reinterpret_cast<quint32*>(m_body.data()),
                         static_cast<qsizetype>(block / 4));
        // A download connection the upload reuses counts from here on.
        for (auto at = m_acked.begin(); at != m_acked.end(); ++at) {
            TcpInfoReading r;
            if (ReadTcpInfo(at.key(), &r))
                at.value() = r.bytesAcked;
        }
    }
    m_phaseStart = Now();
    m_counted = 0;
    m_lastSampleCount = 0;
    m_lastSampleAt = m_phaseStart;
    m_lastRampCount = 0;
    m_lastRampAt = m_phaseStart;
    m_lastRampRate = 0;
    m_ramping = true;
    m_rampEndSample = 0;
    m_connectionCap = Timings.maxConnections;
    m_slots = 0;
    m_samples.clear();
    m_marks.clear();
    m_loadRtts.clear();
    m_refusalNoted = false;
    AddLoadConnection();
    m_sampleTimer.start(Timings.sampleMs);
    m_rampTimer.start(Timings.rampMs);
    m_probeTimer.start(Timings.probeMs);
}

int LineTestRun::LoadConnections() const {
    return static_cast<int>(std::count_if(m_transfers.begin(), m_transfers.end(),
                                          [](const auto& t) { return t->role == Load; }));
}

void LineTestRun::AddLoadConnection() {
    Transfer* t = NewTransfer(Load, m_phase == LineTestPhase::Upload ? m_sinkPath : m_samplePath);
    t->slot = ++m_slots;
    Add(t);
    Direction().connections = std::max(Direction().connections, LoadConnections());
}

void LineTestRun::Recycle(Transfer* t) {
    curl_multi_remove_handle(m_multi, t->easy);
    t->sent = 0;
    t->attached = curl_multi_add_handle(m_multi, t->easy) == CURLM_OK;
}

void LineTestRun::LoadDone(Transfer* t, int code, long status) {
    if (status == 413 || (status != 0 && status != 200)) {
        RunOutcome o(status == 413 ? RunEnd::BodyTooLarge : RunEnd::ErrorReply);
        o.replyCode = static_cast<int>(status);
        Fail(o);
        return;
    }
    if (code == CURLE_OK) {
        t->failuresInRow = 0;
        Recycle(t);
        return;
    }
    const int others = LoadConnections() - 1;
    if (code == CURLE_COULDNT_CONNECT && others > 0) {
        // The server takes no more connections than it has: the test goes on with those.
        m_connectionCap = others;
        Drop(t);
        if (!m_refusalNoted) {
            m_refusalNoted = true;
            Note(QStringLiteral("サーバーが %1 本を超える接続を受け付けなかったため、%2は %1 本の"
                                "接続で測定しました。")
                     .arg(others)
                     .arg(directionName(m_phase)));
        }
        return;
    }
    // A reset or a cut: the connection is opened again, unless it keeps failing.
    if (++t->failuresInRow < kFailuresInRow) {
        Recycle(t);
        return;
    }
    if (others > 0) {
        Note(QStringLiteral("%1の接続の一つが続けて切れたため、その接続を外して測定を続けました。")
                 .arg(directionName(m_phase)));
        Drop(t);
        return;
    }
    Fail(outcomeOfCurl(static_cast<CURLcode>(code)));
}

void LineTestRun::CreditSocket(int fd) {
    TcpInfoReading r;
    if (!ReadTcpInfo(fd, &r))
        return;
    const qint64 before = m_acked.value(fd, 0);
    if (r.bytesAcked > before) {
        // The requests' heads are in this count too: some hundred bytes a body.
        m_counted += r.bytesAcked - before;
        m_acked.insert(fd, r.bytesAcked);
    }
}

void LineTestRun::CreditAcknowledged() {
    const QList<int> sockets = m_acked.keys();
    for (const int fd : sockets)
        CreditSocket(fd);
}

void LineTestRun::SampleTick() {
    if (m_phase != LineTestPhase::Download && m_phase != LineTestPhase::Upload)
        return;
    if (m_phase == LineTestPhase::Upload)
        CreditAcknowledged();
    const qint64 now = Now();
    const double rate = now > m_lastSampleAt
                            ? static_cast<double>(m_counted - m_lastSampleCount) * 1000.0 /
                                  static_cast<double>(now - m_lastSampleAt)
                            : 0.0;
    m_lastSampleAt = now;
    m_lastSampleCount = m_counted;
    m_samples.push_back(rate);
    m_marks.push_back({now, m_counted});
    const LineTestPhase phase = m_phase;
    emit sampled(LineTestSample{now, rate, LoadConnections(), phase});
    if (m_phase != phase)
        return;

    // A connection that carries nothing while the others do is dropped; the rest go on.
    std::vector<Transfer*> stalled;
    for (const auto& owned : m_transfers) {
        if (owned->role == Load && now - owned->progressAt > Timings.stallMs)
            stalled.push_back(owned.get());
    }
    if (!stalled.empty() && static_cast<int>(stalled.size()) < LoadConnections()) {
        for (Transfer* t : stalled) {
            Note(QStringLiteral("%1の %2 本目の接続が %3 秒間データを運ばなかったため、その接続を"
                                "外して測定を続けました。")
                     .arg(directionName(phase))
                     .arg(t->slot)
                     .arg(Timings.stallMs / 1000.0));
            if (m_phase != phase)
                return;
            Drop(t);
        }
        m_connectionCap = std::min(m_connectionCap, std::max(1, LoadConnections()));
    }

    const int perSecond = std::max(1, 1000 / Timings.sampleMs);
    const std::size_t window = static_cast<std::size_t>(perSecond) * 4;
    if (!m_ramping && m_samples.size() >= m_rampEndSample + window &&
        IsStable(m_samples, perSecond))
        EndLoad(true);
    else if (now - m_phaseStart >= Timings.phaseMaxMs)
        EndLoad(false);
}

void LineTestRun::RampTick() {
    if (!m_ramping)
        return;
    if (m_phase == LineTestPhase::Upload)
        CreditAcknowledged();
    const qint64 now = Now();
    const double rate = now > m_lastRampAt ? static_cast<double>(m_counted - m_lastRampCount) *
                                                 1000.0 / static_cast<double>(now - m_lastRampAt)
                                           : 0.0;
    m_lastRampAt = now;
    m_lastRampCount = m_counted;
    switch (DecideRamp(m_lastRampRate, rate, LoadConnections(), m_connectionCap)) {
    case RampDecision::Add:
        m_lastRampRate = rate;
        AddLoadConnection();
        break;
    case RampDecision::Wait:
        break;
    case RampDecision::Done:
        m_ramping = false;
        m_rampEndSample = m_samples.size();
        m_rampTimer.stop();
        break;
    }
}

void LineTestRun::ProbeTick() {
    const auto inFlight = std::count_if(m_transfers.begin(), m_transfers.end(),
                                        [](const auto& t) { return t->role == LoadedProbe; });
    if (inFlight < kProbesInFlight)
        Add(NewTransfer(LoadedProbe, m_emptyPath));
    for (auto at = m_acked.cbegin(); at != m_acked.cend(); ++at) {
        TcpInfoReading r;
        if (ReadTcpInfo(at.key(), &r) && r.rttMs > 0)
            m_loadRtts.push_back(r.rttMs);
    }
}

void LineTestRun::EndLoad(bool stable) {
    const LineTestPhase phase = m_phase;
    m_sampleTimer.stop();
    m_rampTimer.stop();
    m_probeTimer.stop();
    std::vector<Transfer*> load;
    for (const auto& owned : m_transfers)
        load.push_back(owned.get());
    for (Transfer* t : load)
        Drop(t);
    if (m_counted <= 0) {
        Fail(RunOutcome(RunEnd::TimedOut));
        return;
    }
    // The window read: the stable seconds, else the last seconds after the ramp.
    const int perSecond = std::max(1, 1000 / Timings.sampleMs);
    const std::size_t window = static_cast<std::size_t>(perSecond) * 4;
    const std::size_t count = m_marks.size();
    std::size_t first = count > window ? count - window : 0;
    // Never the ramp when there is a second after it; never less than a second.
    if (!stable && !m_ramping && count > static_cast<std::size_t>(perSecond))
        first =
            std::max(first, std::min(m_rampEndSample, count - static_cast<std::size_t>(perSecond)));
    const Mark start = first == 0 ? Mark{m_phaseStart, 0} : m_marks[first - 1];
    const Mark end = m_marks.back();
    LineDirection& d = Direction();
    d.stable = stable;
    d.bytes = end.counted - start.counted;
    d.seconds = static_cast<double>(end.at - start.at) / 1000.0;
    d.bytesPerSecond = d.seconds > 0 ? static_cast<double>(d.bytes) / d.seconds : 0;
    d.latency = SummarizeLatency(d.probeMs);
    d.loadRttMs = Median(m_loadRtts);
    if (!stable)
        Note(QStringLiteral("%1の速度は %2 秒のうちに落ち着かなかったため、最後の %3 秒の平均を"
                            "記録しました。")
                 .arg(directionName(phase))
                 .arg(Timings.phaseMaxMs / 1000.0)
                 .arg(d.seconds, 0, 'f', 1));
    if (d.reconnects > 0 && Running())
        Note(QStringLiteral("サーバーが接続を使い回さないため、%1は %2 回つなぎ直しながら測定"
                            "しました。")
                 .arg(directionName(phase))
                 .arg(d.reconnects));
    if (!Running())
        return;
    m_body.clear();
    m_body.squeeze();
    if (phase == LineTestPhase::Download)
        StartLoad(LineTestPhase::Upload);
    else
        Finish();
}

void LineTestRun::Finish() {
    LineTestResult result = m_result;
    GradeLineTest(&result);
    Teardown();
    emit completed(result);
}

void LineTestRun::Fail(RunOutcome outcome) {
    if (!Running())
        return;
    Teardown();
    m_outcome = std::move(outcome);
    emit failed(m_outcome);
}

void LineTestRun::Stop() {
    if (!Running())
        return;
    Abort();
    emit stopped();
}

void LineTestRun::Abort() {
    if (!Running())
        return;
    Teardown();
    m_outcome = RunOutcome(RunEnd::Stopped);
}

void LineTestRun::Teardown() {
    m_sampleTimer.stop();
    m_rampTimer.stop();
    m_probeTimer.stop();
    m_curlTimer.stop();
    while (!m_transfers.empty())
        Drop(m_transfers.back().get());
    if (m_multi)
        curl_multi_cleanup(std::exchange(m_multi, nullptr));
    for (auto* map : {&m_readers, &m_writers}) {
        for (QSocketNotifier* n : std::as_const(*map)) {
            n->setEnabled(false);
            n->deleteLater();
        }
        map->clear();
    }
    m_acked.clear();
    m_body.clear();
    m_body.squeeze();
    m_phase = LineTestPhase::Idle;
}

void LineTestRun::Note(const QString& text) {
    m_result.notes << text;
    emit noted(text);
}

void LineTestRun::SetPhase(LineTestPhase phase) {
    m_phase = phase;
    emit phaseChanged(phase);
}
