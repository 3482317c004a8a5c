#include "net/ReplyReader.h"

namespace net {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// "ddd" followed by end, ' ' or '-' (RFC 959 4.2); the first digit is 1..5.
int replyCode(std::string_view line)
{
    if (line.size() < 3 || !isDigit(line[0]) || !isDigit(line[1]) || !isDigit(line[2]))
        return 0;
    if (line[0] < '1' || line[0] > '5')
        return 0;
    if (line.size() > 3 && line[3] != ' ' && line[3] != '-')
        return 0;
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

}  // namespace

bool ReplyReader::feed(std::string_view bytes)
{
    while (!m_failed && !bytes.empty()) {
        const std::size_t lf = bytes.find('\n');
        const std::string_view part = bytes.substr(0, lf);
        if (m_line.size() + part.size() > kMaxLine + 1) {  // +1: the CR before LF
            m_failed = true;
            break;
        }
        if (lf == std::string_view::npos) {
            m_line.append(part);
            break;
        }
        bytes.remove_prefix(lf + 1);
        if (m_line.empty()) {
            takeLine(part);
        } else {
            m_line.append(part);
            std::string line;
            line.swap(m_line);
            takeLine(line);
        }
    }
    return !m_failed;
}

bool ReplyReader::takeLine(std::string_view line)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (line.size() > kMaxLine || m_open.size() + line.size() + 2 > kMaxReply) {
        m_failed = true;
        return false;
    }
    const int code = replyCode(line);
    if (m_openCode == 0) {
        if (code == 0) {
            m_failed = true;
            return false;
        }
        m_open.assign(line);
        m_open.append("\r\n");
        if (line.size() > 3 && line[3] == '-') {
            m_openCode = code;
            return true;
        }
    } else {
        m_open.append(line);
        m_open.append("\r\n");
        // Only "ddd " with the opening code ends a multi-line reply; other lines are text.
        if (code != m_openCode || (line.size() > 3 && line[3] != ' '))
            return true;
    }
    m_replies.push_back(FtpReply{code, std::move(m_open)});
    m_open.clear();
    m_openCode = 0;
    return true;
}

const FtpReply* ReplyReader::lastWithCode(int code) const
{
    for (auto it = m_replies.rbegin(); it != m_replies.rend(); ++it)
        if (it->code == code)
            return &*it;
    return nullptr;
}

std::optional<FtpReply> ReplyReader::unfinished() const
{
    if (m_openCode == 0)
        return std::nullopt;
    return FtpReply{m_openCode, m_open};
}

void ReplyReader::reset()
{
    m_replies.clear();
    m_line.clear();
    m_open.clear();
    m_openCode = 0;
    m_failed = false;
}

}  // namespace net
