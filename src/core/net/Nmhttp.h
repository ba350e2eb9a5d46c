// TNMHTTP: an HTTP/1.0 client on TPowersock; requests look blocking to the caller.
#pragma once

#include "core/net/Nmextstr.h"
#include "core/net/Psock.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

enum CmdType : int {
    CmdGET,
    CmdOPTIONS,
    CmdHEAD,
    CmdPOST,
    CmdPUT,
    CmdPATCH,
    CmdCOPY,
    CmdMOVE,
    CmdDELETE,
    CmdLINK,
    CmdUNLINK,
    CmdTRACE,
    CmdWRAPPED
};

// The n-th piece (from 1) between delimiters, empty pieces included; empty past the last.
std::string NthWord(const std::string& text, char delimiter, int n);
// 1-based position of the n-th delimiter; the length + 1 when there are fewer than n
// delimiters or the n-th is the last character.
int NthPos(const std::string& text, char delimiter, int n);
// A URL holding a control character is refused with this text: the URL goes into the
// request line, where a CR or LF would start a header line of its own.
inline constexpr char kUrlCharacterRefused[] = "URLに使えない文字が含まれています。";
// A bracketed host that is not an IPv6 address ("[::1", "[example]", "[::1]x") is refused so.
inline constexpr char kUrlIpv6Refused[] =
    "URLのIPv6アドレスは http://[2001:db8::1]:8080/ のように角かっこで囲んでください。";
// A byte below 0x20, or 0x7F.
bool HasControlCharacter(std::string_view text);

// A URL's host part ("host", "host:port", "[2001:db8::1]", "[::1]:8080") as the client reads it.
struct UrlAuthority {
    std::string host;       // an IPv6 literal without its brackets
    std::string port;       // the text after the colon
    bool hasPort = false;   // a colon follows the host
    bool bracketed = false; // "[...]": an IPv6 literal
    // False for a bracket form that is not "[IPv6 address]" with at most ":port" after it.
    bool wellFormed = true;
};
UrlAuthority SplitUrlAuthority(std::string_view hostPart);
// The host as a URL or a Host header carries it: an IPv6 address in brackets.
std::string BracketedHost(const std::string& host);

// Optional request header values; an empty one is left out.
struct THeaderInfo {
    std::string LocalMailAddress;
    std::string LocalProgram;
    std::string Cookie;
    std::string Referer;
    std::string UserId;
    std::string Password;
};

class TNMHTTP final : public TPowersock {
    Q_OBJECT

public:
    using TResultEvent = std::function<void(CmdType Cmd)>;

    // Redirect-like replies followed by one request before "Too many redirects".
    static constexpr int MaxRepetitions = 20;
    // A body held in memory may not pass this, nor a counted one (ReceivedBytes would wrap).
    static constexpr std::size_t MaxReplyInMemory = 64u * 1024u * 1024u;
    // Nor may a reply header, in memory or in its file (curl allows 300 KB).
    static constexpr std::size_t MaxReplyHeader = 1024u * 1024u;
    // The path goes out cut to this many bytes, after its encoding.
    static constexpr std::size_t MaxPath = 256;

    explicit TNMHTTP(QObject* parent = nullptr);

    // String mode: the reply's body and header texts. File mode: the names of their files.
    std::string Body = "Default.htm";
    std::string Header = "Head.txt";
    THeaderInfo HeaderInfo;
    bool InputFileMode = false;  // Body names the file that receives the body
    bool OutputFileMode = false; // Header names a file; the data to send is a file name
    // In string mode, the body is counted in ReceivedBytes and dropped: Body is left empty.
    // A caller that needs only the length then pays no memory for a large reply.
    bool CountOnlyBody = false;
    TNotifyEvent OnAboutToSend;
    TResultEvent OnSuccess;
    TResultEvent OnFailure;
    THandlerEvent OnRedirect;
    TNotifyEvent OnAuthenticationNeeded;

    void Abort() override;

    void Get(const std::string& URL);
    void Options(const std::string& URL);
    void Head(const std::string& URL);
    void Post(const std::string& URL, const std::string& PostData);
    void Put(const std::string& URL, const std::string& PutData);
    void Patch(const std::string& URL, const std::string& PatchData);
    void Copy(const std::string& URL, const std::string& ToURI);
    void Move(const std::string& URL, const std::string& ToURI);
    void Delete(const std::string& URL);
    void Link(const std::string& URL, const std::string& LinkData);
    void UnLink(const std::string& URL, const std::string& LinkData);
    void Trace(const std::string& URL, const std::string& TraceData);
    void Wrapped(const std::string& URL, const std::string& WrappedData);

private:
    void Request(CmdType cmd, const std::string& url);
    void HTTPConnect();
    void ParseURL();
    void AssembleHTTPHeader();
    void SendHTTP();
    void RemoveHeader();

    // The Host header's value: the name or IPv4 address alone, an IPv6 literal as the URL
    // typed it (brackets and port).
    std::string HostField() const;

    std::string m_url;
    std::string m_typedHost; // the last URL's bracketed host part, as typed
    std::string m_path;
    TExStringList m_headers;
    std::string m_location;
    std::string m_cookie;
    bool m_lengthMalformed = false; // the reply's Content-Length value is not a number
    std::string m_malformedLength;
    std::string m_sendData;
    std::string m_uri;
    CmdType m_cmd = CmdGET;
    bool m_encodeFormData = true;
};
