#include "core/net/Nmhttp.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>

namespace {

constexpr std::size_t kMaxField = 256;

std::string UpperCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::string LowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string WithoutLineEnd(std::string line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    return line;
}

// The text from a 1-based character position on, without the line end, cut to 256.
std::string FieldFrom(const std::string& line, std::size_t position) {
    if (line.size() < position)
        return {};
    return WithoutLineEnd(line.substr(position - 1)).substr(0, kMaxField);
}

// The run of digits after the first non-digits; 0 when there is none, capped at the maximum.
std::int32_t FirstNumber(const std::string& text) {
    const auto start = text.find_first_of("0123456789");
    if (start == std::string::npos)
        return 0;
    std::int64_t value = 0;
    for (auto i = start; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min<std::int64_t>(value * 10 + (text[i] - '0'), INT32_MAX);
    return static_cast<std::int32_t>(value);
}

std::string UrlEncode(const std::string& data) {
    static const char hex[] = "0123456789ABCDEF";
    std::string encoded;
    for (const unsigned char c : data) {
        if (std::isalnum(c) && c < 0x80) {
            encoded += static_cast<char>(c);
        } else if (c == ' ') {
            encoded += '+';
        } else {
            encoded += '%';
            encoded += hex[c >> 4];
            encoded += hex[c & 0x0F];
        }
    }
    return encoded;
}

// The request target as it goes out: bytes from 0x80 on and the blank percent-encoded with
// upper-case hex, as browsers send the UTF-8 of a URL typed in Japanese (a raw blank would end
// the target inside the request line); every other byte as it is. The cut to
// `limit` bytes applies to the encoded text, so the request line stays as short as it always was;
// it never falls inside a %XX, nor between the bytes of one UTF-8 character (a byte 10xxxxxx stays
// with the bytes before it).
std::string EncodedTarget(std::string_view raw, std::size_t limit) {
    static const char hex[] = "0123456789ABCDEF";
    std::string encoded;
    std::size_t characterStart = 0;
    unsigned char previous = 0;
    for (const unsigned char c : raw) {
        const bool continuation = (c & 0xC0) == 0x80;
        if (!continuation || previous < 0x80)
            characterStart = encoded.size();
        const bool escaped = c >= 0x80 || c == ' ';
        if (encoded.size() + (escaped ? 3 : 1) > limit) {
            if (continuation && previous >= 0x80)
                encoded.resize(characterStart);
            break;
        }
        if (!escaped) {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += hex[c >> 4];
            encoded += hex[c & 0x0F];
        }
        previous = c;
    }
    return encoded;
}

// A Location is followed when it is relative or an http:// URL: the client speaks HTTP only,
// and another scheme's port (ftp's 21) or an empty host must not get an HTTP request.
bool FollowableLocation(const std::string& location) {
    const auto isSchemeChar = [](unsigned char c) {
        return std::isalnum(c) || c == '+' || c == '-' || c == '.';
    };
    if (location.empty() || !std::isalpha(static_cast<unsigned char>(location.front())))
        return true;
    std::size_t end = 1;
    while (end < location.size() && isSchemeChar(static_cast<unsigned char>(location[end])))
        ++end;
    if (end == location.size() || location[end] != ':')
        return true;
    return LowerCase(location.substr(0, end)) == "http";
}

// The server's text as a message may show it: a control byte (an escape sequence for a terminal)
// becomes "?".
std::string Printable(std::string text) {
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            c = '?';
    }
    return text;
}

// A Content-Length value is a run of digits; anything else cannot say where the body ends.
bool WellFormedLength(std::string value) {
    value = WithoutLineEnd(std::move(value));
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
        value.pop_back();
    const auto start = value.find_first_not_of(" \t");
    return start != std::string::npos &&
           value.find_first_not_of("0123456789", start) == std::string::npos;
}

void RefuseControlCharacters(std::string_view text) {
    if (HasControlCharacter(text))
        throw Exception(kUrlCharacterRefused);
}

// Takes every byte and keeps none: the body of a count-only reply goes here.
class DiscardDevice final : public QIODevice {
public:
    DiscardDevice() { open(QIODevice::WriteOnly | QIODevice::Unbuffered); }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char*, qint64 size) override { return size; }
};

bool SendsData(CmdType cmd) {
    return cmd == CmdPOST || cmd == CmdPUT || cmd == CmdPATCH || cmd == CmdTRACE ||
           cmd == CmdWRAPPED;
}

} // namespace

std::string NthWord(const std::string& text, char delimiter, int n) {
    if (n < 1)
        return {};
    std::size_t start = 0;
    for (int piece = 1; piece < n; ++piece) {
        const auto next = text.find(delimiter, start);
        if (next == std::string::npos)
            return {};
        start = next + 1;
    }
    const auto end = text.find(delimiter, start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

int NthPos(const std::string& text, char delimiter, int n) {
    const int past = static_cast<int>(text.size()) + 1;
    if (n < 1)
        return past;
    std::size_t at = std::string::npos;
    for (int count = 0; count < n; ++count) {
        at = text.find(delimiter, at == std::string::npos ? 0 : at + 1);
        if (at == std::string::npos)
            return past;
    }
    return at + 1 == text.size() ? past : static_cast<int>(at) + 1;
}

bool HasControlCharacter(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

UrlAuthority SplitUrlAuthority(std::string_view hostPart) {
    UrlAuthority a;
    if (hostPart.empty() || hostPart.front() != '[') {
        const auto colon = hostPart.find(':');
        a.host = std::string(hostPart.substr(0, colon));
        if (colon != std::string_view::npos) {
            a.hasPort = true;
            a.port = std::string(hostPart.substr(colon + 1));
        }
        return a;
    }
    a.bracketed = true;
    const auto close = hostPart.find(']');
    if (close == std::string_view::npos) {
        a.wellFormed = false;
        a.host = std::string(hostPart.substr(1));
        return a;
    }
    a.host = std::string(hostPart.substr(1, close - 1));
    const std::string_view after = hostPart.substr(close + 1);
    if (!after.empty()) {
        a.hasPort = after.front() == ':';
        a.port = std::string(after.substr(1));
    }
    a.wellFormed = (after.empty() || a.hasPort) && Ipv6Literal(a.host).has_value();
    return a;
}

std::string BracketedHost(const std::string& host) {
    return host.find(':') == std::string::npos ? host : "[" + host + "]";
}

TNMHTTP::TNMHTTP(QObject* parent)
    : TPowersock(parent) {}

void TNMHTTP::Abort() {
    SetLookupDone();
    Cancel();
}

void TNMHTTP::Request(CmdType cmd, const std::string& url) {
    m_url = url;
    m_cmd = cmd;
    HTTPConnect();
}

void TNMHTTP::Get(const std::string& URL) {
    Request(CmdGET, URL);
}

void TNMHTTP::Options(const std::string& URL) {
    Request(CmdOPTIONS, URL);
}

void TNMHTTP::Head(const std::string& URL) {
    Request(CmdHEAD, URL);
}

void TNMHTTP::Post(const std::string& URL, const std::string& PostData) {
    m_sendData = m_encodeFormData && !OutputFileMode ? UrlEncode(PostData) : PostData;
    Request(CmdPOST, URL);
}

void TNMHTTP::Put(const std::string& URL, const std::string& PutData) {
    m_sendData = PutData;
    Request(CmdPUT, URL);
}

void TNMHTTP::Patch(const std::string& URL, const std::string& PatchData) {
    m_sendData = PatchData;
    Request(CmdPATCH, URL);
}

void TNMHTTP::Copy(const std::string& URL, const std::string& ToURI) {
    m_uri = ToURI;
    Request(CmdCOPY, URL);
}

void TNMHTTP::Move(const std::string& URL, const std::string& ToURI) {
    m_uri = ToURI;
    Request(CmdMOVE, URL);
}

void TNMHTTP::Delete(const std::string& URL) {
    Request(CmdDELETE, URL);
}

void TNMHTTP::Link(const std::string& URL, const std::string& LinkData) {
    m_uri = LinkData;
    m_sendData = "Send.dat";
    Request(CmdLINK, URL);
}

void TNMHTTP::UnLink(const std::string& URL, const std::string& LinkData) {
    m_uri = LinkData;
    m_sendData = "Send.dat";
    Request(CmdUNLINK, URL);
}

void TNMHTTP::Trace(const std::string& URL, const std::string& TraceData) {
    m_sendData = TraceData;
    Request(CmdTRACE, URL);
}

void TNMHTTP::Wrapped(const std::string& URL, const std::string& WrappedData) {
    m_sendData = WrappedData;
    Request(CmdWRAPPED, URL);
}

void TNMHTTP::HTTPConnect() {
    for (int repetitions = 0;; ++repetitions) {
        // Also a Location of the last reply: nothing a URL holds may add request lines.
        RefuseControlCharacters(m_url);
        ParseURL();
        RefuseControlCharacters(Host);
        AssembleHTTPHeader();
        if (OnAboutToSend)
            OnAboutToSend(this);
        try {
            Connect();
            SendHTTP();
            ReplyCode = 0;
            RemoveHeader();
            if (ReplyCode < 299 && m_cmd != CmdHEAD && m_lengthMalformed)
                throw ESockError("Content-Length が正しくありません (" +
                                 Printable(m_malformedLength) + ")");
            if (InputFileMode) {
                CaptureFile(Body);
            } else if (CountOnlyBody) {
                Body.clear();
                // One byte past the bound tells a body that is too large; the receive buffer
                // is the socket's own, the same for every reply.
                DiscardDevice discard;
                CaptureStream(discard, static_cast<int>(MaxReplyInMemory) + 1);
                if (static_cast<std::uint32_t>(ReceivedBytes) > MaxReplyInMemory)
                    CloseAndRaise("Reply body too large");
            } else {
                // Room for the announced body at once, so that a large file is not copied
                // over and over while it grows (the announcement is only a hint, bounded).
                Body.clear();
                Body.reserve(std::min<std::size_t>(
                    static_cast<std::size_t>(std::max<std::int32_t>(ContentLength, 0)),
                    MaxReplyInMemory));
                CaptureStringBounded(Body, -1, MaxReplyInMemory);
            }
            // A body cut short would be measured as the size it announced.
            if (ReplyCode < 299 && m_cmd != CmdHEAD && ContentLength > 0 &&
                static_cast<std::uint32_t>(ReceivedBytes) <
                    static_cast<std::uint32_t>(ContentLength)) {
                throw ESockError("受信が途中で切れました (" +
                                     std::to_string(static_cast<std::uint32_t>(ReceivedBytes)) +
                                     " / " + std::to_string(ContentLength) + " バイト)",
                                 SockFault::CutShort);
            }
            if (ReplyCode < 299) {
                if (OnSuccess)
                    OnSuccess(m_cmd);
                StatusMessage(2, "Transaction Completed");
            } else if (ReplyCode > 399) {
                if (OnFailure)
                    OnFailure(m_cmd);
            } else if (ReplyCode >= 300 && ReplyCode <= 302) {
                m_url = m_location;
            }
        } catch (...) {
            // The first failure is the one to report; closing is only tidying up.
            try {
                Disconnect();
            } catch (const std::exception&) {
            }
            throw;
        }
        Disconnect();

        if (ReplyCode >= 300 && ReplyCode <= 398) {
            bool handled = false;
            if (!m_cookie.empty())
                HeaderInfo.Cookie = m_cookie;
            if (OnRedirect)
                OnRedirect(handled);
            if (handled)
                return;
            if (ReplyCode <= 302 && !FollowableLocation(m_url))
                throw ESockError("リダイレクト先に対応していません: " + Printable(m_url));
            if (m_url.find('/') == std::string::npos)
                m_url = "http://" + HostField() + "/" + m_url;
        }
        if (ReplyCode == 401 && OnAuthenticationNeeded)
            OnAuthenticationNeeded(this);
        if (ReplyCode < 299 || ReplyCode > 399)
            return;
        if (repetitions >= MaxRepetitions)
            throw ESockError("Too many redirects");
    }
}

void TNMHTTP::ParseURL() {
    if (m_url.empty())
        throw Exception("Empty URL");
    if (Port == 0)
        Port = 80;

    const bool hasSlashes = m_url.find("//") != std::string::npos;
    const std::string_view url = m_url;
    if (hasSlashes) {
        const auto third = static_cast<std::size_t>(NthPos(m_url, '/', 3));
        m_path = EncodedTarget(url.substr(std::min(third - 1, url.size())), MaxPath);
    } else if (const auto slash = m_url.find('/'); slash != std::string::npos) {
        m_path = EncodedTarget(url.substr(slash), MaxPath);
    } else {
        m_path.clear();
    }

    if (const auto colon = m_url.find(':'); colon != std::string::npos) {
        const std::string scheme = LowerCase(m_url.substr(0, colon));
        if (scheme == "gopher")
            Port = 70;
        else if (scheme == "ftp")
            Port = 21;
        else if (scheme == "https")
            throw Exception("HTTP Secure Socket is not supported");
        else
            Port = 80;
    }

    std::string hostPart;
    if (hasSlashes)
        hostPart = NthWord(m_url, '/', 3);
    else if (m_url.front() != '/')
        hostPart = m_url.substr(0, m_url.find('/'));
    const UrlAuthority authority = SplitUrlAuthority(hostPart);
    // A bracket that does not hold an IPv6 address would go to the lookup as a name.
    if (!authority.wellFormed)
        throw Exception(kUrlIpv6Refused);
    if (authority.hasPort)
        Port = StrToInt(authority.port);
    if (!authority.host.empty()) {
        Host = authority.host;
        if (authority.bracketed)
            m_typedHost = hostPart;
    }

    if (m_path.empty()) {
        m_path = "/";
        m_url += "/";
    }
}

std::string TNMHTTP::HostField() const {
    if (Host.find(':') == std::string::npos)
        return Host;
    const UrlAuthority typed = SplitUrlAuthority(m_typedHost);
    return typed.bracketed && typed.host == Host ? m_typedHost : BracketedHost(Host);
}

void TNMHTTP::AssembleHTTPHeader() {
    static const char* const methods[] = {"GET ",    "OPTIONS ", "HEAD ",   "POST ",
                                          "PUT ",    "PATCH ",   "COPY ",   "MOVE ",
                                          "DELETE ", "LINK ",    "UNLINK ", "TRACE "};
    m_headers.Clear();
    if (m_cmd != CmdWRAPPED)
        m_headers.Add(methods[m_cmd] +
                      (Proxy.empty() ? m_path : EncodedTarget(m_url, std::string::npos)) +
                      " HTTP/1.0");
    if (!Proxy.empty()) {
        m_headers.Add("Proxy-Connection: Keep-Alive");
        m_headers.Add("Host: " + HostField());
    }
    m_headers.SetValue("Host", HostField());
    m_headers.Add("Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff");
    m_headers.Add("Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript");
    const auto optional = [this](const char* name, const std::string& value) {
        if (!value.empty())
            m_headers.SetValue(name, value);
    };
    optional("User-Agent", HeaderInfo.LocalProgram);
    optional("From", HeaderInfo.LocalMailAddress);
    optional("Cookie", HeaderInfo.Cookie);
    optional("Referer", HeaderInfo.Referer);
    if (!HeaderInfo.UserId.empty() && !HeaderInfo.Password.empty()) {
        const QByteArray credentials =
            QByteArray::fromStdString(HeaderInfo.UserId + ":" + HeaderInfo.Password);
        m_headers.SetValue("Authorization", "Basic " + credentials.toBase64().toStdString());
    }
    m_headers.Add("Content-type: application/x-www-form-urlencoded");
    if (m_cmd == CmdCOPY || m_cmd == CmdMOVE)
        m_headers.Add("URI-header: " + m_uri);
    if (m_cmd == CmdLINK || m_cmd == CmdUNLINK)
        m_headers.Add("Link: " + m_uri);
    if (SendsData(m_cmd) || m_cmd == CmdLINK || m_cmd == CmdUNLINK) {
        const qint64 length = OutputFileMode ? QFileInfo(QString::fromStdString(m_sendData)).size()
                                             : static_cast<qint64>(m_sendData.size());
        m_headers.Add("Content-Length: " + std::to_string(length));
    }
}

void TNMHTTP::SendHTTP() {
    std::string block;
    for (const std::string& line : m_headers.Lines())
        block += line + "\r\n";
    Write(block);
    Writeln("");
    if (SendsData(m_cmd)) {
        if (OutputFileMode)
            SendFile(m_sendData);
        else
            Write(m_sendData);
    }
}

void TNMHTTP::RemoveHeader() {
    ContentLength = 0;
    ReceivedBytes = 0;
    m_lengthMalformed = false;
    m_malformedLength.clear();
    m_cookie.clear();
    QFile file;
    if (OutputFileMode) {
        file.setFileName(QString::fromStdString(Header));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            throw Exception("Cannot create file \"" + Header + "\"");
    } else {
        Header.clear();
    }
    std::size_t kept = 0;
    const auto keep = [&](const std::string& line) {
        // A header that never ends is cut here; ReadLn already bounds each line.
        if (kept + line.size() > MaxReplyHeader)
            CloseAndRaise("Reply header too large");
        kept += line.size();
        if (OutputFileMode) {
            if (file.write(line.data(), static_cast<qint64>(line.size())) !=
                static_cast<qint64>(line.size()))
                throw Exception("Cannot write file \"" + Header + "\"");
        } else {
            Header += line;
        }
    };

    const std::string status = ReadLn();
    if (!status.empty()) {
        int code = 0;
        try {
            code = StrToInt(NthWord(WithoutLineEnd(status), ' ', 2));
        } catch (const EConvertError&) {
        }
        ReplyCode = static_cast<std::int16_t>(static_cast<std::uint16_t>(code & 0xFFFF));
        keep(status);
    }

    for (;;) {
        const std::string line = ReadLn();
        const std::string upper = UpperCase(line);
        const std::string name = NthWord(upper, ' ', 1);
        if (name == "SET-COOKIE:")
            m_cookie = FieldFrom(line, 13);
        else if (name == "LOCATION:")
            m_location = FieldFrom(line, 11);
        else if (name == "CONTENT-LENGTH:") {
            const std::string value = upper.substr(std::string("CONTENT-LENGTH:").size() + 1);
            // A value that is not a number announces nothing.
            const bool wellFormed = WellFormedLength(value);
            ContentLength = wellFormed ? FirstNumber(value) : 0;
            if (!wellFormed) {
                m_lengthMalformed = true;
                m_malformedLength = FieldFrom(line, 17);
            }
        }
        keep(line);
        if (line.empty() || line == "\n" || line == "\r\n")
            break;
    }
}
