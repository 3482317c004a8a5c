#pragma once
// Turns the text of a directory listing (MLSD, or LIST in Unix "ls -l" or
// DOS/IIS form) into find records. Pure functions: no I/O, no Qt.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/WinInet.h"

namespace net {

// Set in ListEntry::mode when the listing gave the entry's permission bits.
constexpr std::uint16_t kModeGiven = 0x8000;

struct ListEntry {
    std::string name;            // bytes as the server sent them; may exceed MAX_PATH
    DWORD attributes = 0;        // FILE_ATTRIBUTE_DIRECTORY, _NORMAL or _REPARSE_POINT
    std::uint64_t size = 0;
    FILETIME lastWrite;          // 100-ns ticks since 1601-01-01 UTC; zero when unknown
    bool dayOnly = false;        // the listing gave the day of lastWrite, not its time
    std::uint16_t mode = 0;      // permission bits | kModeGiven; zero when the listing gave none
    // MLSD "type=cdir" or "type=pdir": the listed folder or its parent, not an entry of it.
    bool listedFolder = false;
};

// One line of a MLSD reply; nullopt when it does not parse.
std::optional<ListEntry> parseMlsdLine(std::string_view line);

// One line of a LIST reply (Unix ls -l or DOS/IIS); nullopt when it does not parse (e.g. "total 12").
std::optional<ListEntry> parseListLine(std::string_view line);

// As parseListLine, but "Mon DD HH:MM" dates (which carry no year) are placed
// relative to nowUnixSeconds instead of the clock.
std::optional<ListEntry> parseListLineAt(std::string_view line, std::int64_t nowUnixSeconds);

// Whether a listed name can stand for one entry of the listed folder: not empty,
// no '/', no CR, LF or NUL (it could never be sent in a command),
// and short enough for a find record (MAX_PATH - 1 bytes; a cut name would stand
// for another file). Any other bytes, invalid UTF-8 included, are kept as sent.
bool isUsableName(std::string_view name);

// Whether a LIST line starts like a listing line (a cut or odd one, a "total"
// line) rather than like the rest of a name split by a line break.
bool looksLikeListLine(std::string_view line);

// A whole listing body, split at CR LF or LF; lines that do not parse are skipped.
// MLSD's "type=cdir" and "type=pdir" lines are left out; a LIST listing keeps
// "." and ".." as listed. A name holding a line break splits its line: the
// piece after the break is no listing line (in MLSD: no "facts name" line, a
// blank one included), and then the entry before it is left out whole, since
// its name was cut short.
std::vector<ListEntry> parseListing(std::string_view body, bool mlsd);

// The entry of a MLST reply: its fact line, read as a MLSD line (the name is all that
// follows the facts); nullopt when no line parses.
std::optional<ListEntry> parseMlstReply(std::string_view reply);

// The entry named `name` (or ending in "/" and `name`) among the listing lines of a STAT
// reply; nullopt when none names it. A folder's STAT lists what it holds.
std::optional<ListEntry> parseStatReply(std::string_view reply, std::string_view name);

}  // namespace net
