#include "net/ListingParser.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstring>

#include "net/TextLines.h"

namespace net {
namespace {

constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
constexpr std::uint64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kSecondsPerDay = 86400;

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isBlank(char c) { return c == ' ' || c == '\t'; }
char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool iequals(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

bool istartsWith(std::string_view s, std::string_view prefix)
{
    return s.size() >= prefix.size() && iequals(s.substr(0, prefix.size()), prefix);
}

std::string_view stripCr(std::string_view line)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

// Digits only, non-empty, no overflow.
bool parseUnsigned(std::string_view s, std::uint64_t& out)
{
    if (s.empty())
        return false;
    std::uint64_t v = 0;
    for (char c : s) {
        if (!isDigit(c))
            return false;
        const std::uint64_t d = static_cast<std::uint64_t>(c - '0');
        if (v > (UINT64_MAX - d) / 10)
            return false;
        v = v * 10 + d;
    }
    out = v;
    return true;
}

// Fixed-width decimal field; caller guarantees s.size() >= pos + width.
int digitsAt(std::string_view s, std::size_t pos, std::size_t width)
{
    int v = 0;
    for (std::size_t i = pos; i < pos + width; ++i) {
        if (!isDigit(s[i]))
            return -1;
        v = v * 10 + (s[i] - '0');
    }
    return v;
}

// Days since 1970-01-01 of a proleptic Gregorian date; a day past the end of
// its month (Feb 31) counts on into the next one.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    using namespace std::chrono;
    return sys_days{year{static_cast<int>(y)} / month{m} / day{d}}.time_since_epoch().count();
}

std::int64_t yearOfDays(std::int64_t z)
{
    using namespace std::chrono;
    return static_cast<int>(year_month_day{sys_days{days{z}}}.year());
}

std::int64_t unixSeconds(std::int64_t y, unsigned mon, unsigned day, unsigned h, unsigned min, unsigned s)
{
    return daysFromCivil(y, mon, day) * kSecondsPerDay + h * 3600 + min * 60 + s;
}

FILETIME toFileTime(std::int64_t unixSecs, std::uint32_t extraTicks = 0)
{
    FILETIME ft;
    const std::int64_t secs = unixSecs + kSecondsFrom1601To1970;
    if (secs < 0)
        return ft;
    const std::uint64_t ticks = static_cast<std::uint64_t>(secs) * kTicksPerSecond + extraTicks;
    ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xffffffffu);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

std::int64_t clockNow()
{
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// ---- MLSD --------------------------------------------------------------

// YYYYMMDDHHMMSS[.fraction], UTC.
bool parseMlsdTime(std::string_view v, FILETIME& out)
{
    if (v.size() < 14)
        return false;
    const int y = digitsAt(v, 0, 4), mo = digitsAt(v, 4, 2), d = digitsAt(v, 6, 2);
    const int h = digitsAt(v, 8, 2), mi = digitsAt(v, 10, 2), s = digitsAt(v, 12, 2);
    if (y < 0 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59
        || s < 0 || s > 60)
        return false;
    std::uint32_t ticks = 0;
    if (v.size() > 14) {
        if (v[14] != '.' || v.size() == 15)
            return false;
        std::uint32_t scale = 1'000'000;  // first fraction digit = 100 ms = 1e6 ticks
        for (std::size_t i = 15; i < v.size(); ++i) {
            if (!isDigit(v[i]))
                return false;
            ticks += static_cast<std::uint32_t>(v[i] - '0') * scale;
            scale /= 10;  // digits beyond 100 ns add nothing
        }
    }
    out = toFileTime(unixSeconds(y, mo, d, h, mi, s), ticks);
    return true;
}

// "0755": octal digits only, at most six; the permission bits | kModeGiven, else 0.
std::uint16_t unixMode(std::string_view v)
{
    unsigned mode = 0;
    if (v.empty() || v.size() > 6 || v.find_first_not_of("01234567") != std::string_view::npos)
        return 0;
    (void)std::from_chars(v.data(), v.data() + v.size(), mode, 8);
    return std::uint16_t((mode & 0777) | kModeGiven);
}

DWORD mlsdTypeAttributes(std::string_view v)
{
    if (iequals(v, "dir") || iequals(v, "cdir") || iequals(v, "pdir"))
        return FILE_ATTRIBUTE_DIRECTORY;
    if (istartsWith(v, "os.unix=")) {
        std::string_view kind = v.substr(8);
        kind = kind.substr(0, std::min(kind.find(':'), kind.size()));  // "slink:/target"
        if (iequals(kind, "symlink") || iequals(kind, "slink"))
            return FILE_ATTRIBUTE_REPARSE_POINT;
    }
    return FILE_ATTRIBUTE_NORMAL;
}

// ---- Unix ls -l ----------------------------------------------------------

struct Token {
    std::size_t begin = 0;
    std::size_t end = 0;
};

constexpr unsigned key3(char a, char b, char c)
{
    return (unsigned(static_cast<unsigned char>(a)) << 16) | (unsigned(static_cast<unsigned char>(b)) << 8)
        | unsigned(static_cast<unsigned char>(c));
}

int monthIndex(std::string_view t)
{
    if (t.size() != 3)
        return 0;
    switch (key3(lower(t[0]), lower(t[1]), lower(t[2]))) {
    case key3('j', 'a', 'n'): return 1;
    case key3('f', 'e', 'b'): return 2;
    case key3('m', 'a', 'r'): return 3;
    case key3('a', 'p', 'r'): return 4;
    case key3('m', 'a', 'y'): return 5;
    case key3('j', 'u', 'n'): return 6;
    case key3('j', 'u', 'l'): return 7;
    case key3('a', 'u', 'g'): return 8;
    case key3('s', 'e', 'p'): return 9;
    case key3('o', 'c', 't'): return 10;
    case key3('n', 'o', 'v'): return 11;
    case key3('d', 'e', 'c'): return 12;
    default: return 0;
    }
}

int dayOfMonth(std::string_view t)
{
    if (t.empty() || t.size() > 2)
        return 0;
    const int d = digitsAt(t, 0, t.size());
    return (d >= 1 && d <= 31) ? d : 0;
}

// "HH:MM" / "H:MM" sets hour and minute; "YYYY" sets year.
bool timeOrYear(std::string_view t, int& year, int& hour, int& minute)
{
    if (t.size() == 4 && t[1] != ':') {
        year = digitsAt(t, 0, 4);
        return year >= 0;
    }
    if ((t.size() == 4 || t.size() == 5) && t[t.size() - 3] == ':') {
        hour = digitsAt(t, 0, t.size() - 3);
        minute = digitsAt(t, t.size() - 2, 2);
        year = -1;
        return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59;
    }
    return false;
}

bool isPermissionChar(char c)
{
    return std::memchr("rwxXsStTlL-?", c, 12) != nullptr && c != '\0';
}

std::optional<ListEntry> parseUnixLine(std::string_view line, std::int64_t now)
{
    if (line.size() < 10)
        return std::nullopt;
    const char type = line[0];
    if (type == '\0' || std::memchr("-dlcbps", type, 7) == nullptr)
        return std::nullopt;
    for (std::size_t i = 1; i < 10; ++i)
        if (!isPermissionChar(line[i]))
            return std::nullopt;

    // perms links owner group major, minor Mon DD time: at most 9 fields
    // before the name; a few spare cover odd servers.
    std::array<Token, 12> tok;
    std::size_t n = 0;
    for (std::size_t pos = 0; n < tok.size();) {
        while (pos < line.size() && isBlank(line[pos]))
            ++pos;
        if (pos >= line.size())
            break;
        const std::size_t b = pos;
        while (pos < line.size() && !isBlank(line[pos]))
            ++pos;
        tok[n++] = {b, pos};
    }
    auto text = [&](std::size_t i) { return line.substr(tok[i].begin, tok[i].end - tok[i].begin); };

    // The date comes after at least perms, owner and size; looking no earlier
    // keeps an owner or group that reads like "Jan 12" from passing for one.
    for (std::size_t i = 3; i + 2 < n; ++i) {
        const int month = monthIndex(text(i));
        if (!month)
            continue;
        const int day = dayOfMonth(text(i + 1));
        if (!day)
            continue;
        int year = -1, hour = 0, minute = 0;
        if (!timeOrYear(text(i + 2), year, hour, minute))
            continue;

        std::uint64_t size = 0;
        const std::string_view sizeText = text(i - 1);
        const bool device = sizeText.find(',') != std::string_view::npos
            || text(i - 2).back() == ',';
        if (!device && !parseUnsigned(sizeText, size))
            continue;

        const std::size_t nameStart = tok[i + 2].end + 1;  // one blank after the time/year
        if (nameStart >= line.size())
            return std::nullopt;
        std::string_view name = line.substr(nameStart);
        if (type == 'l') {
            const std::size_t arrow = name.find(" -> ");
            if (arrow != std::string_view::npos && arrow > 0)
                name = name.substr(0, arrow);
        }

        ListEntry e;
        e.name.assign(name.data(), name.size());
        e.attributes = type == 'd' ? FILE_ATTRIBUTE_DIRECTORY
            : type == 'l'          ? FILE_ATTRIBUTE_REPARSE_POINT
                                   : FILE_ATTRIBUTE_NORMAL;
        e.size = device ? 0 : size;
        for (std::size_t bit = 0; bit < 9; ++bit) {
            const char c = line[1 + bit];  // "rwx" letters, or s/t standing on an x
            if (c != '-' && c != 'S' && c != 'T' && c != 'l' && c != 'L' && c != '?')
                e.mode |= std::uint16_t(0400 >> bit);
        }
        e.mode |= kModeGiven;
        if (year >= 0) {
            e.lastWrite = toFileTime(unixSeconds(year, month, day, 0, 0, 0));
            e.dayOnly = true;
        } else {
            // ls omits the year for recent files; a date that lands well in
            // the future belongs to last year.
            const std::int64_t thisYear = yearOfDays(now >= 0 ? now / kSecondsPerDay
                                                              : (now - kSecondsPerDay + 1) / kSecondsPerDay);
            std::int64_t t = unixSeconds(thisYear, month, day, hour, minute, 0);
            if (t > now + kSecondsPerDay)
                t = unixSeconds(thisYear - 1, month, day, hour, minute, 0);
            e.lastWrite = toFileTime(t);
        }
        return e;
    }
    return std::nullopt;
}

// ---- DOS / IIS -------------------------------------------------------------

// Reads 1..maxDigits digits at pos.
bool readNumber(std::string_view s, std::size_t& pos, std::size_t maxDigits, int& out, std::size_t& count)
{
    out = 0;
    count = 0;
    while (pos < s.size() && isDigit(s[pos]) && count < maxDigits) {
        out = out * 10 + (s[pos] - '0');
        ++pos;
        ++count;
    }
    return count > 0;
}

std::size_t skipBlanks(std::string_view s, std::size_t pos)
{
    while (pos < s.size() && isBlank(s[pos]))
        ++pos;
    return pos;
}

std::optional<ListEntry> parseDosLine(std::string_view line)
{
    std::size_t pos = 0, count = 0;
    int month = 0, day = 0, year = 0, hour = 0, minute = 0;

    if (!readNumber(line, pos, 2, month, count) || pos >= line.size())
        return std::nullopt;
    const char sep = line[pos];
    if (sep != '-' && sep != '/')
        return std::nullopt;
    ++pos;
    if (!readNumber(line, pos, 2, day, count) || pos >= line.size() || line[pos] != sep)
        return std::nullopt;
    ++pos;
    if (!readNumber(line, pos, 4, year, count) || (count != 2 && count != 4))
        return std::nullopt;
    if (count == 2)
        year += year < 70 ? 2000 : 1900;
    if (month < 1 || month > 12 || day < 1 || day > 31)
        return std::nullopt;

    std::size_t p = skipBlanks(line, pos);
    if (p == pos)
        return std::nullopt;
    pos = p;
    if (!readNumber(line, pos, 2, hour, count) || pos >= line.size() || line[pos] != ':')
        return std::nullopt;
    ++pos;
    if (!readNumber(line, pos, 2, minute, count) || count != 2 || minute > 59)
        return std::nullopt;

    p = skipBlanks(line, pos);
    if (p + 1 < line.size() && (lower(line[p]) == 'a' || lower(line[p]) == 'p') && lower(line[p + 1]) == 'm') {
        if (hour < 1 || hour > 12)
            return std::nullopt;
        hour %= 12;
        if (lower(line[p]) == 'p')
            hour += 12;
        pos = p + 2;
    } else if (hour > 23) {
        return std::nullopt;
    }

    p = skipBlanks(line, pos);
    if (p == pos || p >= line.size())
        return std::nullopt;
    pos = p;

    ListEntry e;
    if (istartsWith(line.substr(pos), "<DIR>")) {
        e.attributes = FILE_ATTRIBUTE_DIRECTORY;
        pos = skipBlanks(line, pos + 5);  // the column after <DIR> is padded
    } else {
        std::uint64_t size = 0;
        std::size_t digits = 0;
        for (; pos < line.size() && (isDigit(line[pos]) || line[pos] == ','); ++pos) {
            if (line[pos] == ',')
                continue;
            const std::uint64_t d = static_cast<std::uint64_t>(line[pos] - '0');
            if (size > (UINT64_MAX - d) / 10)
                return std::nullopt;
            size = size * 10 + d;
            ++digits;
        }
        if (digits == 0 || pos >= line.size() || !isBlank(line[pos]))
            return std::nullopt;
        ++pos;
        e.attributes = FILE_ATTRIBUTE_NORMAL;
        e.size = size;
    }
    if (pos >= line.size())
        return std::nullopt;
    e.name.assign(line.data() + pos, line.size() - pos);
    e.lastWrite = toFileTime(unixSeconds(year, month, day, hour, minute, 0));
    return e;
}

}  // namespace

bool looksLikeListLine(std::string_view line)
{
    line = stripCr(line);
    if (line.empty())
        return false;
    if (isDigit(line[0]) || istartsWith(line, "total "))
        return true;
    if (line.size() < 10 || std::memchr("-dlcbps", line[0], 7) == nullptr)
        return false;
    for (std::size_t i = 1; i < 10; ++i)
        if (!isPermissionChar(line[i]))
            return false;
    return true;
}

namespace {

std::optional<ListEntry> parseListLineNow(std::string_view line, std::int64_t now)
{
    // Keeps the year arithmetic for "Mon DD HH:MM" dates from overflowing on an
    // absurd clock: 1601-01-01 .. 9999-12-31, the span of a FILETIME date.
    now = std::clamp<std::int64_t>(now, -kSecondsFrom1601To1970, 253402300799);
    line = stripCr(line);
    if (line.empty())
        return std::nullopt;
    if (isDigit(line[0]))
        return parseDosLine(line);
    return parseUnixLine(line, now);
}

}  // namespace

std::optional<ListEntry> parseMlsdLine(std::string_view line)
{
    line = stripCr(line);
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos || space + 1 >= line.size())
        return std::nullopt;
    std::string_view facts = line.substr(0, space);
    const std::string_view name = line.substr(space + 1);

    ListEntry e;
    e.attributes = FILE_ATTRIBUTE_NORMAL;
    while (!facts.empty()) {
        const std::size_t semi = std::min(facts.find(';'), facts.size());
        const std::string_view fact = facts.substr(0, semi);
        facts.remove_prefix(std::min(semi + 1, facts.size()));
        if (fact.empty())
            continue;
        const std::size_t eq = fact.find('=');
        if (eq == std::string_view::npos || eq == 0)
            return std::nullopt;
        const std::string_view key = fact.substr(0, eq);
        const std::string_view value = fact.substr(eq + 1);
        if (iequals(key, "type")) {
            e.attributes = mlsdTypeAttributes(value);
            e.listedFolder = iequals(value, "cdir") || iequals(value, "pdir");
        }
        else if (iequals(key, "size"))
            parseUnsigned(value, e.size);
        else if (iequals(key, "modify"))
            parseMlsdTime(value, e.lastWrite);
        else if (iequals(key, "unix.mode"))
            e.mode = unixMode(value);
    }
    e.name.assign(name.data(), name.size());
    return e;
}

std::optional<ListEntry> parseListLine(std::string_view line)
{
    return parseListLineNow(line, clockNow());
}

std::optional<ListEntry> parseListLineAt(std::string_view line, std::int64_t nowUnixSeconds)
{
    return parseListLineNow(line, nowUnixSeconds);
}

bool isUsableName(std::string_view name)
{
    if (name.empty() || name.size() > static_cast<std::size_t>(MAX_PATH - 1))
        return false;
    return name.find_first_of(std::string_view("/\r\n\0", 4)) == std::string_view::npos;
}

std::vector<ListEntry> parseListing(std::string_view body, bool mlsd)
{
    std::vector<ListEntry> out;
    out.reserve(static_cast<std::size_t>(std::count(body.begin(), body.end(), '\n')) + 1);
    const std::int64_t now = mlsd ? 0 : clockNow();

    bool afterEntry = false;  // the last line that counted was an entry, still in `out`
    for (const std::string_view line : TextLines(body)) {
        std::optional<ListEntry> e = mlsd ? parseMlsdLine(line) : parseListLineNow(line, now);
        if (e) {
            afterEntry = !e->listedFolder;
            if (!e->listedFolder)
                out.push_back(std::move(*e));
            continue;
        }
        if (!mlsd && (stripCr(line).empty() || looksLikeListLine(line)))
            continue;
        // The rest of a name cut by a line break: its entry named another file.
        if (afterEntry)
            out.pop_back();
        afterEntry = false;
    }
    return out;
}

std::optional<ListEntry> parseMlstReply(std::string_view reply)
{
    // "250-Listing", " type=file;unix.mode=0644; /pub/a b", "250 End": the fact line, whose
    // facts end at its first blank; the name after it may hold anything.
    for (std::string_view line : TextLines(reply)) {
        if (line.starts_with(' '))
            line.remove_prefix(1);
        if (std::optional<ListEntry> entry = parseMlsdLine(line))
            return entry;
    }
    return std::nullopt;
}

std::optional<ListEntry> parseStatReply(std::string_view reply, std::string_view name)
{
    // "213-Status of x:", " -rwxr-xr-x 1 owner group 5 Jan 01  2020 x", "213 End".
    for (std::string_view line : TextLines(reply)) {
        line.remove_prefix(std::min(line.size(), line.find_first_not_of(' ')));
        std::optional<ListEntry> entry = parseListLine(line);
        if (entry && (entry->name == name || entry->name.ends_with("/" + std::string(name))))
            return entry;
    }
    return std::nullopt;
}

}  // namespace net
