#include "remote/ServerWalk.h"

#include <algorithm>
#include <cstring>

namespace remote {
namespace {

struct Walker {
    net::InternetApi& internet;
    net::HINTERNET connection;
    ServerWalk walk;

    // False once a listing failed: nothing more is listed.
    bool list(const std::string& folder, int depth)
    {
        if (depth > kMaxWalkDepth)
            return failed(net::ERROR_INVALID_PARAMETER, folder);
        const std::string prefix = folder == "/" ? "/" : folder + "/";
        net::WIN32_FIND_DATAA record;
        const std::string pattern = prefix + "*";
        const net::HINTERNET find =
            internet.FtpFindFirstFileA(connection, pattern.c_str(), &record, net::FIND_FLAG_LINKS_AS_LINKS, 0);
        if (find == 0) {
            const net::DWORD error = internet.GetLastError();
            return error == net::ERROR_NO_MORE_FILES || failed(error, folder);
        }
        std::vector<WalkedEntry> here;
        do {
            const std::string name(record.cFileName, ::strnlen(record.cFileName, sizeof record.cFileName));
            if (name != "." && name != "..")
                here.push_back({prefix + name, record.dwFileAttributes, detailsOf(record)});
        } while (internet.InternetFindNextFileA(find, &record));
        const net::DWORD ended = internet.GetLastError();
        (void)internet.InternetCloseHandle(find);
        if (ended != net::ERROR_NO_MORE_FILES)
            return failed(ended, folder);
        for (WalkedEntry& entry : here) {
            const std::string below = entry.folder() ? entry.path : std::string();
            walk.entries.push_back(std::move(entry));
            if (!below.empty() && !list(below, depth + 1))
                return false;
        }
        return true;
    }

    bool failed(net::DWORD error, const std::string& folder)
    {
        walk.error = error;
        walk.failedFolder = folder;
        return false;
    }
};

}  // namespace

std::size_t ServerWalk::folders() const
{
    return static_cast<std::size_t>(std::count_if(entries.begin(), entries.end(), [](const auto& e) { return e.folder(); }));
}

std::size_t ServerWalk::files() const { return entries.size() - folders(); }

ServerWalk walkServerFolder(net::InternetApi& internet, net::HINTERNET connection, const std::string& folder)
{
    Walker walker{internet, connection, {}};
    (void)walker.list(folder, 0);
    return std::move(walker.walk);
}

}  // namespace remote
