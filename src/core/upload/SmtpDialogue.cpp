#include "core/upload/SmtpDialogue.h"

#include <algorithm>
#include <iterator>

namespace {
constexpr std::string_view kCrLf = "\r\n";

struct StepRule {
    std::string_view expected;
    std::string_view mismatch;
};
// Indexed by SmtpStep: the reply code awaited, and what a different code logs.
constexpr StepRule kSteps[] = {
    {"220", "コネクト失敗."},    {"250", "Heloコマンド失敗."}, {"250", "From送信失敗."},
    {"250", "RCPT to送信失敗."}, {"354", "DATA送信失敗."},     {"250", "本文送信エラー."},
    {"221", "QUIT送信エラー."},
};
constexpr int kStepCount = static_cast<int>(std::size(kSteps));

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string WithCrLf(std::string_view text) {
    std::string wire;
    wire.reserve(text.size() + text.size() / 40);
    for (char c : text) {
        if (c == '\n')
            wire += '\r';
        wire += c;
    }
    return wire;
}
} // namespace

void SmtpDialogue::Start(std::string mailAddress) {
    SmtpEndpoints endpoints = std::move(Endpoints);
    *this = SmtpDialogue();
    Endpoints = std::move(endpoints);
    m_address = std::move(mailAddress);
    m_running = true;
}

void SmtpDialogue::Stop() {
    m_running = false;
    m_reply.clear();
    m_out.clear();
    m_outPos = 0;
    m_bodyAhead = 0;
}

bool SmtpDialogue::IsCompleteReply(std::string_view text) {
    if (!text.ends_with(kCrLf))
        return false;
    text.remove_suffix(kCrLf.size());
    const std::size_t lineStart = text.rfind('\n');
    const std::string_view line =
        lineStart == std::string_view::npos ? text : text.substr(lineStart + 1);
    return line.size() >= 3 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]) &&
           (line.size() == 3 || line[3] == ' ');
}

std::string SmtpDialogue::BuildBody(const std::string& localHost, const std::string& localAddress,
                                    int localPort, const std::string& remoteHost,
                                    const std::string& remoteAddress, int remotePort) {
    std::string body = "Mail from " + localHost + " , " + localAddress +
                       " , Port:" + std::to_string(localPort) + "\n";
    body += "Provider Host: " + remoteHost + " , " + remoteAddress +
            " , Port:" + std::to_string(remotePort) + "\n";
    body.reserve(body.size() + (kTestLine.size() + 1) * kTestLineCount + 2);
    for (int i = 0; i < kTestLineCount; ++i) {
        body += kTestLine;
        body += '\n';
    }
    body += ".\n";
    return body;
}

std::size_t SmtpDialogue::Take(std::string_view text) {
    std::size_t line = m_lineBytes;
    const std::size_t room = kMaxReply - m_replyBytes;
    std::size_t kept = 0;
    for (; kept < text.size() && kept < room; ++kept) {
        if (text[kept] == '\n')
            line = 0;
        else if (++line > kMaxReplyLine)
            break;
    }
    m_replyBytes += kept;
    m_lineBytes = line;
    return kept;
}

SmtpOutcome SmtpDialogue::Received(std::string_view text) {
    if (!m_running || text.empty() || m_tooLong)
        return {};
    if (const std::size_t kept = Take(text); kept < text.size()) {
        // A server that never ends its reply would fill the memory and the log.
        m_tooLong = true;
        m_reply = std::string();
        SmtpOutcome out;
        out.replyTooLong = true;
        out.keptBytes = kept;
        out.log.emplace_back("/* 応答が長すぎます. */");
        return out;
    }
    if (m_finished)
        return {};
    m_reply.append(text);
    // A server that answers before the body is out is heard once it is.
    if (m_step == SmtpStep::Body && m_bodyLeft > 0)
        return {};
    return Act();
}

std::string_view SmtpDialogue::Pending() const {
    if (!m_running)
        return {};
    return std::string_view(m_out).substr(m_outPos);
}

SmtpOutcome SmtpDialogue::Sent(int count) {
    if (!m_running || count <= 0)
        return {};
    const std::size_t taken =
        std::min<std::size_t>(static_cast<std::size_t>(count), m_out.size() - m_outPos);
    m_outPos += taken;
    if (m_outPos == m_out.size()) {
        m_out.clear();
        m_outPos = 0;
    }
    const std::size_t ahead = std::min(taken, m_bodyAhead);
    m_bodyAhead -= ahead;
    const std::size_t body = std::min(taken - ahead, m_bodyLeft);
    if (body == 0)
        return {};
    m_bodyLeft -= body;
    m_bodySent += static_cast<std::int32_t>(body);
    if (m_bodyLeft == 0 && m_step == SmtpStep::Body && !m_reply.empty())
        return Act();
    return {};
}

void SmtpDialogue::Queue(std::string_view command, SmtpOutcome& out) {
    out.log.emplace_back(command);
    m_out += command;
    m_out += kCrLf;
}

SmtpOutcome SmtpDialogue::Act() {
    SmtpOutcome out;
    if (m_step == SmtpStep::Body && !m_transferEnded) {
        m_transferEnded = true;
        out.transferEnded = true;
        out.log.emplace_back("/* アップロード測定終了. */");
    }
    if (!IsCompleteReply(m_reply))
        return out;
    const std::string reply = std::move(m_reply);
    m_reply.clear();
    m_replyBytes = 0;
    m_lineBytes = 0;

    const int index = static_cast<int>(m_step);
    if (index < 0 || index >= kStepCount) {
        out.log.emplace_back("その他エラー：SMTPステップ不明");
        out.refused = true;
        out.reply = reply;
        return out;
    }
    const StepRule& rule = kSteps[index];
    if (std::string_view(reply).substr(0, 3) != rule.expected) {
        out.log.emplace_back(rule.mismatch);
        out.refused = true;
        out.reply = reply;
        return out;
    }

    switch (m_step) {
    case SmtpStep::Greeting:
        m_localHost = Endpoints.LocalHostName ? Endpoints.LocalHostName() : std::string();
        Queue("Helo " + m_localHost, out);
        break;
    case SmtpStep::Helo:
        Queue("Mail From:" + m_address, out);
        break;
    case SmtpStep::MailFrom:
        Queue("RCPT to:" + m_address, out);
        break;
    case SmtpStep::RcptTo:
        Queue("DATA", out);
        break;
    case SmtpStep::Data: {
        const auto text = [](const auto& f) { return f ? f() : std::string(); };
        const auto number = [](const auto& f) { return f ? f() : 0; };
        m_localHost = text(Endpoints.LocalHostName);
        const std::string body =
            BuildBody(m_localHost, text(Endpoints.LocalAddressText),
                      number(Endpoints.LocalPortNumber), text(Endpoints.RemoteHostName),
                      text(Endpoints.RemoteAddressText), number(Endpoints.RemotePortNumber));
        out.bodyStarted = true;
        out.log.emplace_back("/* アップロード測定開始. */");
        out.log.push_back(body);
        m_bodyAhead = m_out.size() - m_outPos;
        const std::string wire = WithCrLf(body);
        m_out += wire;
        m_bodyLeft = wire.size();
        m_bodySent = 0;
        m_bodyQueued = true;
        break;
    }
    case SmtpStep::Body:
        Queue("QUIT", out);
        break;
    case SmtpStep::Quit:
        out.log.emplace_back("/* 正常終了しました. */");
        m_finished = true;
        m_step = SmtpStep::Greeting;
        return out;
    }
    m_step = static_cast<SmtpStep>(index + 1);
    return out;
}
