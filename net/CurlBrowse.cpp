#include <algorithm>
#include <cctype>

#include "net/CurlParts.h"
#include "net/Result.h"
#include "net/TextLines.h"

// The connect step, listings and changes of folder.

namespace net {
namespace {

bool featOffersMlsd(const std::string& reply)
{
    for (const std::string_view line : TextLines(reply)) {
        const auto first = line.find_first_not_of(' ');
        if (first == std::string_view::npos || first == 0)
            continue;  // features are indented by one space (RFC 2389)
        std::string word(line.substr(first, 4));
        std::transform(word.begin(), word.end(), word.begin(), [](unsigned char c) { return std::toupper(c); });
        if (word == "MLST" || word == "MLSD")
            return true;
    }
    return false;
}

size_t onBody(char* data, size_t size, size_t count, void* user)
{
    auto* op = static_cast<CurlInternet::Operation*>(user);
    const size_t n = size * count;
    op->body->append(data, n);
    op->lines += static_cast<std::uint64_t>(std::count(data, data + n, '\n'));
    return n;
}

}  // namespace

Result CurlInternet::connect(Connection& connection)
{
    Operation op;
    op.progress = {CallProgress::Kind::Connecting, connection.server.host, 0, 0};
    op.url = "ftp://" + connection.authority + "/";
    if (Result r = prepare(connection, op); !r.ok())
        return r;
    // '*': a server without FEAT must not fail the login.
    if (!op.quote.append("*FEAT"))
        return Result::failure(ERROR_NOT_ENOUGH_MEMORY, "out of memory");
    CURL* h = connection.easy.get();
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(h, CURLOPT_QUOTE, op.quote.get());
    if (Result r = perform(connection, op); !r.ok())
        return r;
    const char* entry = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_FTP_ENTRY_PATH, &entry) == CURLE_OK && entry && *entry == '/')
        connection.cwd = entry;
    if (const FtpReply* feat = op.replies.lastWithCode(211))
        connection.mlsd = featOffersMlsd(feat->text);
    return Result::success();
}

Result CurlInternet::list(Connection& connection, std::string_view pattern, Find& find)
{
    std::string folder = connection.cwd;
    std::string_view filter = pattern;
    if (const auto slash = pattern.rfind('/'); slash != std::string_view::npos) {
        folder = resolvePath(connection.cwd, slash == 0 ? std::string_view("/") : pattern.substr(0, slash));
        filter = pattern.substr(slash + 1);
    }
    if (filter == "*.*" || filter == "*")
        filter = {};

    std::string body;
    body.reserve(64 * 1024);
    Operation op;
    op.progress = {CallProgress::Kind::Listing, folder, 0, 0};
    op.url = "ftp://" + connection.authority + urlPath(folder, true);
    op.body = &body;
    if (Result r = prepare(connection, op); !r.ok())
        return r;
    CURL* h = connection.easy.get();
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, connection.mlsd ? "MLSD" : "LIST");
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, static_cast<void*>(&op));
    if (Result r = perform(connection, op); !r.ok())
        return r;
    find.entries = parseListing(body, connection.mlsd);
    // Names with '/', CR, LF or NUL, and names too long for a record, cannot stand for
    // an entry of this folder: they are left out. "." and ".." are kept as listed.
    std::erase_if(find.entries, [](const ListEntry& e) { return !isUsableName(e.name); });
    if (!filter.empty())
        std::erase_if(find.entries, [filter](const ListEntry& e) { return !wildcardMatch(filter, e.name); });
    if (find.entries.empty())
        return Result::failure(ERROR_NO_MORE_FILES, "empty listing");
    return Result::success();
}

Result CurlInternet::changeDirectory(Connection& connection, std::string_view path)
{
    const std::string target = resolvePath(connection.cwd, path);
    Operation op;
    op.progress = {CallProgress::Kind::ChangingDirectory, target, 0, 0};
    op.url = "ftp://" + connection.authority + urlPath(target, true);
    if (Result r = prepare(connection, op); !r.ok())
        return r;
    if (!op.quote.append("PWD"))
        return Result::failure(ERROR_NOT_ENOUGH_MEMORY, "out of memory");
    CURL* h = connection.easy.get();
    // NOBODY on a folder URL performs just the CWD; PWD afterwards names the canonical path.
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(h, CURLOPT_POSTQUOTE, op.quote.get());
    if (Result r = perform(connection, op); !r.ok())
        return r;
    const FtpReply* pwd = op.replies.lastWithCode(257);
    const auto canonical = pwd ? parsePwdReply(pwd->text) : std::nullopt;
    connection.cwd = canonical && canonical->front() == '/' ? *canonical : target;
    return Result::success();
}

}  // namespace net
