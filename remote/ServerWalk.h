#pragma once
// Everything below a server folder, listed folder by folder through the Internet
// calls: what deleting or copying a whole folder works on. Links are listed as
// they are, never followed, so no server can lead the walk round in a loop.

#include <cstddef>
#include <string>
#include <vector>

#include "net/InternetApi.h"
#include "remote/EntryDetails.h"

namespace remote {

struct WalkedEntry {
    std::string path;             // absolute on the server, in the server's bytes
    net::DWORD attributes = 0;    // the find record's: a folder, a link (reparse point), a file
    EntryDetails details;
    bool folder() const { return attributes == net::FILE_ATTRIBUTE_DIRECTORY; }
};

struct ServerWalk {
    std::vector<WalkedEntry> entries;  // each folder just before what it holds
    // The first listing that failed (0: none), and its folder; entries holds what came before.
    net::DWORD error = 0;
    std::string failedFolder;

    std::size_t folders() const;
    std::size_t files() const;  // everything that is not a folder, links included
};

// Folders nested deeper than this below the walk's start are not listed: the walk fails
// with ERROR_INVALID_PARAMETER rather than follow a server that never ends.
inline constexpr int kMaxWalkDepth = 128;

// Lists `folder` (absolute) and every folder below it. "." and ".." are passed over; an
// empty folder is no failure.
ServerWalk walkServerFolder(net::InternetApi& internet, net::HINTERNET connection, const std::string& folder);

}  // namespace remote
