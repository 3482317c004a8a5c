#pragma once
// Splits the bytes of an FTP control connection into replies. Pure: no I/O.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace net {

struct FtpReply {
    int code = 0;        // 100..599
    std::string text;    // every line of the reply, each ended by CR LF
};

class ReplyReader {
public:
    static constexpr std::size_t kMaxLine = 64 * 1024;
    static constexpr std::size_t kMaxReply = 1024 * 1024;

    // Takes any slice of the stream. Returns false, and stays failed, once the
    // stream is not FTP: a line outside a reply that is not "ddd " / "ddd-",
    // a line longer than kMaxLine or a reply longer than kMaxReply.
    bool feed(std::string_view bytes);
    bool failed() const { return m_failed; }

    // Complete replies in arrival order since the last clear().
    const std::vector<FtpReply>& replies() const { return m_replies; }
    const FtpReply* last() const { return m_replies.empty() ? nullptr : &m_replies.back(); }
    // The newest complete reply with this code, if any.
    const FtpReply* lastWithCode(int code) const;
    // A multi-line reply whose closing "ddd " line has not come yet: its lines so far.
    std::optional<FtpReply> unfinished() const;

    // Forgets the replies; a partial line is kept (the stream goes on).
    void clear() { m_replies.clear(); }
    // Forgets everything, failure included (a new connection).
    void reset();

private:
    bool takeLine(std::string_view line);

    std::vector<FtpReply> m_replies;
    std::string m_line;       // bytes of an unfinished line
    std::string m_open;       // lines of an unfinished multi-line reply
    int m_openCode = 0;       // 0: no multi-line reply open
    bool m_failed = false;
};

}  // namespace net
