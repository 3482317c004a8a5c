// libFuzzer target for the listing parsers (net/ListingParser.h).
//
// The first byte chooses what is done with the rest (its value modulo 4):
//   0 ('L', 'P', ...)  parseListing(rest, false), checked line by line against parseListLine
//   1 ('M', 'I', ...)  parseListing(rest, true), checked line by line against parseMlsdLine
//   2 ('N', 'J', ...)  the next 8 bytes are "now" (little-endian, any int64);
//                      parseListLineAt on each line of what follows
//   3 ('O', 'K', ...)  the rest as one line, given to every single-line parser, and as
//                      a reply to MLST and to STAT
// Besides the sanitizers, it checks that every entry has a name and one of
// the three attribute values, and that whole-body and line-by-line parsing agree.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "net/ListingParser.h"

namespace {

void require(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "listing fuzzer: %s\n", what);
        std::abort();
    }
}

void checkEntry(const net::ListEntry& e)
{
    require(!e.name.empty(), "entry with an empty name");
    require(e.attributes == net::FILE_ATTRIBUTE_DIRECTORY || e.attributes == net::FILE_ATTRIBUTE_NORMAL
                || e.attributes == net::FILE_ATTRIBUTE_REPARSE_POINT,
            "unexpected attributes");
}

bool sameTime(const net::FILETIME& a, const net::FILETIME& b)
{
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// The lines as parseListing splits them: at LF, a last unterminated line included.
std::vector<std::string_view> splitLines(std::string_view body)
{
    std::vector<std::string_view> lines;
    std::size_t pos = 0;
    while (pos < body.size()) {
        std::size_t nl = body.find('\n', pos);
        if (nl == std::string_view::npos)
            nl = body.size();
        lines.push_back(body.substr(pos, nl - pos));
        pos = nl + 1;
    }
    return lines;
}

void wholeListing(std::string_view body, bool mlsd)
{
    const std::vector<net::ListEntry> all = net::parseListing(body, mlsd);
    // Line by line: MLSD's lines for the folder itself and its parent are no entries, and a
    // line that is no listing line after an entry is the rest of that entry's cut name.
    std::vector<net::ListEntry> one;
    bool afterEntry = false;
    for (std::string_view line : splitLines(body)) {
        auto e = mlsd ? net::parseMlsdLine(line) : net::parseListLine(line);
        if (e) {
            afterEntry = !e->listedFolder;
            if (afterEntry)
                one.push_back(std::move(*e));
            continue;
        }
        const bool blank = line.empty() || line == "\r";
        if (!mlsd && (blank || net::looksLikeListLine(line)))
            continue;
        if (afterEntry)
            one.pop_back();
        afterEntry = false;
    }
    require(all.size() == one.size(), "parseListing and the single-line parser disagree on the count");
    for (std::size_t i = 0; i < all.size(); ++i) {
        checkEntry(all[i]);
        require(all[i].name == one[i].name, "names differ");
        require(all[i].attributes == one[i].attributes, "attributes differ");
        require(all[i].size == one[i].size, "sizes differ");
        // A LIST date without a year depends on the clock, which may have moved on.
        if (mlsd)
            require(sameTime(all[i].lastWrite, one[i].lastWrite), "times differ");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 4) {
    case 0:
        wholeListing(rest, false);
        break;
    case 1:
        wholeListing(rest, true);
        break;
    case 2: {
        std::uint64_t raw = 0;
        const std::size_t n = rest.size() < 8 ? rest.size() : 8;
        for (std::size_t i = 0; i < n; ++i)
            raw |= std::uint64_t(static_cast<unsigned char>(rest[i])) << (8 * i);
        rest.remove_prefix(n);
        std::int64_t now;
        std::memcpy(&now, &raw, sizeof now);
        for (std::string_view line : splitLines(rest))
            if (auto e = net::parseListLineAt(line, now))
                checkEntry(*e);
        break;
    }
    case 3:
        if (auto e = net::parseMlsdLine(rest))
            checkEntry(*e);
        if (auto e = net::parseListLine(rest))
            checkEntry(*e);
        if (auto e = net::parseListLineAt(rest, 0))
            checkEntry(*e);
        if (auto e = net::parseMlstReply(rest))
            checkEntry(*e);
        if (auto e = net::parseStatReply(rest, "a"))
            checkEntry(*e);
        break;
    }
    return 0;
}
