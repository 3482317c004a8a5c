// libFuzzer target for the control-connection reply reader (net/ReplyReader.h).
//
// Input: the first byte seeds how the stream is cut into slices; the rest is
// the stream, where 0xFF starts an escape so that short inputs can reach the
// line and reply limits:
//   FF FF       one 0xFF byte
//   FF c n      the byte c repeated n * 1024 times
// The stream is fed whole to one reader and in slices to another; both must
// end with the same replies and the same failed state, every reply must be
// well formed, and a reset reader fed the stream again must match as well.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "net/ReplyReader.h"

namespace {

void require(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "reply fuzzer: %s\n", what);
        std::abort();
    }
}

// A few times kMaxReply: enough to cross every limit.
constexpr std::size_t kMaxStream = 4 * net::ReplyReader::kMaxReply;

std::string expand(const std::uint8_t* data, std::size_t size)
{
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] != 0xFF) {
            out.push_back(static_cast<char>(data[i]));
        } else if (i + 1 < size && data[i + 1] == 0xFF) {
            out.push_back('\xFF');
            ++i;
        } else if (i + 2 < size) {
            if (out.size() > kMaxStream)
                break;
            out.append(std::size_t(data[i + 2]) * 1024, static_cast<char>(data[i + 1]));
            i += 2;
        } else {
            break;
        }
    }
    return out;
}

void checkReplies(const net::ReplyReader& r)
{
    for (const net::FtpReply& reply : r.replies()) {
        require(reply.code >= 100 && reply.code <= 599, "reply code out of range");
        require(reply.text.size() >= 5, "reply text too short");
        require(reply.text.size() <= net::ReplyReader::kMaxReply, "reply longer than kMaxReply");
        require(reply.text.compare(reply.text.size() - 2, 2, "\r\n") == 0, "reply text not ended by CR LF");
        const int lead = (reply.text[0] - '0') * 100 + (reply.text[1] - '0') * 10 + (reply.text[2] - '0');
        require(lead == reply.code, "reply text does not start with its code");
        require(r.lastWithCode(reply.code) != nullptr, "lastWithCode misses a reply");
    }
    require(r.replies().empty() == (r.last() == nullptr), "last() disagrees with replies()");
}

bool same(const net::ReplyReader& a, const net::ReplyReader& b)
{
    if (a.failed() != b.failed() || a.replies().size() != b.replies().size())
        return false;
    for (std::size_t i = 0; i < a.replies().size(); ++i)
        if (a.replies()[i].code != b.replies()[i].code || a.replies()[i].text != b.replies()[i].text)
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    std::uint32_t rng = 0x9E3779B9u ^ (std::uint32_t(data[0]) * 0x01000193u);
    const std::string stream = expand(data + 1, size - 1);

    net::ReplyReader whole;
    const bool wholeOk = whole.feed(stream);
    require(wholeOk == !whole.failed(), "feed() result disagrees with failed()");
    checkReplies(whole);

    net::ReplyReader sliced;
    std::string_view rest(stream);
    while (!rest.empty()) {
        rng ^= rng << 13;
        rng ^= rng >> 17;
        rng ^= rng << 5;
        // Short slices, longer ones and now and then an empty one; big
        // slices too, so that long streams do not take all the time.
        const unsigned kind = (rng >> 8) & 3;
        std::size_t n = kind == 0 ? rng % 8 : kind == 1 ? rng % 4096 : rng % 262144;
        if (n > rest.size())
            n = rest.size();
        const bool ok = sliced.feed(rest.substr(0, n));
        require(ok == !sliced.failed(), "feed() result disagrees with failed()");
        rest.remove_prefix(n);
    }
    checkReplies(sliced);
    require(same(whole, sliced), "slicing the stream changed the replies");

    // Once failed it stays failed.
    if (whole.failed())
        require(!whole.feed("220 ok\r\n") && whole.failed(), "a failed reader recovered");

    // A reset reader is as good as new (a failed reader's replies stayed as they were).
    sliced.reset();
    require(!sliced.failed() && sliced.replies().empty() && sliced.last() == nullptr, "reset left state");
    sliced.feed(stream);
    require(same(whole, sliced), "a reset reader differs");

    // clear() forgets the replies but keeps a partial line and an open reply:
    // what follows makes the same replies as on a reader that was not cleared.
    if (!sliced.failed()) {
        const std::size_t before = sliced.replies().size();
        net::ReplyReader kept;
        kept.feed(stream);
        kept.feed("\n");
        sliced.clear();
        require(sliced.replies().empty() && sliced.last() == nullptr, "clear left replies");
        sliced.feed("\n");
        require(sliced.failed() == kept.failed(), "clear changed the failed state");
        require(kept.replies().size() == before + sliced.replies().size(), "clear lost part of the stream");
        for (std::size_t i = 0; i < sliced.replies().size(); ++i)
            require(sliced.replies()[i].text == kept.replies()[before + i].text, "clear changed a later reply");
    }
    return 0;
}
