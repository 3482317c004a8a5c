#include "net/SftpEngine.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "net/LocalFiles.h"
#include "net/SftpUploadSteps.h"

// The connect step, listings, changes of folder, transfers and the server commands over SFTP.

namespace net {
namespace {

// "/a/./b/../c/" is "/a/c": a folder is named as the server would name it after a change.
std::string normalized(const std::string& path)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string out;
    for (const std::string& part : parts)
        out += "/" + part;
    return out.empty() ? "/" : out;
}

std::string homeFolder()
{
    const char* home = std::getenv("HOME");
    return home && *home ? home : "/";
}

// ssh's user name when none is given: the local one.
std::string localUser()
{
    const passwd* pw = ::getpwuid(::geteuid());
    return pw && pw->pw_name ? pw->pw_name : "root";
}

// The logins a connect tries, one session each: the typed password; or, with the box
// empty, each of ssh's default key files that exists (the SSH agent along with the first),
// or the agent alone.
std::vector<SftpLogin> loginsFor(const std::string& password)
{
    if (!password.empty())
        return {{CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD, {}}};
    std::vector<SftpLogin> logins;
    const char* agent = std::getenv("SSH_AUTH_SOCK");
    const long withAgent = agent && *agent ? CURLSSH_AUTH_AGENT : 0;
    for (const char* name : {"id_ed25519", "id_ecdsa", "id_rsa"}) {
        const std::string file = homeFolder() + "/.ssh/" + name;
        if (::access(file.c_str(), R_OK) == 0)
            logins.push_back({CURLSSH_AUTH_PUBLICKEY | (logins.empty() ? withAgent : 0), file});
    }
    if (logins.empty())  // with no agent either, the server still shows its key first
        logins.push_back({withAgent, {}});
    return logins;
}

// Why no login was accepted, in words the user can act on.
std::string loginRefusal(const std::vector<SftpLogin>& tried)
{
    if (tried.front().methods & CURLSSH_AUTH_PASSWORD)
        return "The server refused the login: the user name or the password is wrong.";
    std::string keys;
    bool rsa = false;
    for (const SftpLogin& login : tried) {
        if (login.keyFile.empty())
            continue;
        keys += (keys.empty() ? "" : ", ") + login.keyFile;
        rsa = rsa || login.keyFile.ends_with("/id_rsa");
    }
    const bool agent = (tried.front().methods & CURLSSH_AUTH_AGENT) != 0;
    if (keys.empty() && !agent)
        return "No password was typed, and there is no key to log in with: no ~/.ssh/id_ed25519, id_ecdsa or "
               "id_rsa, and no SSH agent.";
    std::string text = "The server refused the login with " + (keys.empty() ? std::string() : "the keys " + keys) +
                       (agent ? std::string(keys.empty() ? "" : " and ") + "the keys of your SSH agent" : "") +
                       ". Type your password to log in with it.";
    if (rsa)
        text += " (An RSA key is signed with SHA-1 here, which newer servers refuse.)";
    return text;
}

std::string folderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

}  // namespace

SftpEngine::SftpEngine(const EngineContext& context) : m_context(context), m_connection(context) {}

Outcome SftpEngine::configure(const ConnectRequest& request)
{
    SftpConnection& c = m_connection;
    const auto server = parseServerName(request.serverName, request.port);
    if (!server || !server->ssh)
        return {Result::failure(ERROR_INVALID_PARAMETER, {}), std::nullopt, {}};
    if (request.viaGateway)  // the gateway speaks FTP only
        return {Result::failure(ERROR_INTERNET_EXTENDED_ERROR, {}),
                ServerReply{0, "An SFTP (sftp://) connection cannot go through the FTP gateway; nothing was sent."},
                {}};
    c.server = *server;
    c.serverName = request.serverName;
    c.user = request.user.empty() ? localUser() : request.user;
    c.password = request.password;
    if (m_context.options.resolveHost && !isAddressLiteral(server->host)) {
        const auto address = m_context.options.resolveHost(server->host);
        if (!address)
            return {Result::failure(ERROR_INTERNET_NAME_NOT_RESOLVED, {}), std::nullopt, {}};
        c.resolveEntry = server->host + ":" + std::to_string(server->port) + ":" + *address;
    }
    c.authority = urlAuthority(*server);
    if (!c.easy || !c.multi)
        return {Result::failure(ERROR_INTERNET_INTERNAL_ERROR, {}), std::nullopt, {}};
    return {c.chooseHostKeyType(), std::nullopt, {}};
}

ConnectOutcome SftpEngine::connect(const ConnectRequest& request)
{
    SftpConnection& c = m_connection;
    ConnectOutcome outcome;
    if (Outcome configured = configure(request); !configured.ok()) {
        static_cast<Outcome&>(outcome) = std::move(configured);
        return outcome;
    }
    const std::vector<SftpLogin> logins = loginsFor(c.password);
    for (const SftpLogin& login : logins) {
        c.login = login;
        static_cast<Outcome&>(outcome) = logIn();
        // libssh2 cannot use the key type asked for (RSA against a server that wants SHA-2
        // signatures): the server shows the key it prefers, which is checked as any other.
        if (c.lastCode == CURLE_FAILED_INIT && !c.hostKeyTypeAsked().empty() && !m_context.closed) {
            c.askedTypeFailed = true;
            if (Result r = c.chooseHostKeyType(true); !r.ok())
                return {{std::move(r), std::nullopt, {}}, std::nullopt, std::nullopt};
            static_cast<Outcome&>(outcome) = logIn();
        }
        if (c.lastCode != CURLE_LOGIN_DENIED || m_context.closed)
            break;
    }
    if (c.lastCode == CURLE_LOGIN_DENIED) {
        const std::string words = loginRefusal(logins);
        outcome.result.text = words;
        outcome.reply = ServerReply{0, words};
    }
    if (!outcome.ok() && c.hostKeyRefusal)
        outcome.unknownHostKey = c.hostKeyRefusal->unknown;
    return outcome;
}

Outcome SftpEngine::logIn()
{
    SftpConnection& c = m_connection;
    Operation op;
    op.progress = {CallProgress::Kind::Connecting, c.server.host, 0, 0};
    // "pwd" names the URL's folder, here the login folder: 257 "/home/user/" is current directory.
    op.url = "sftp://" + c.authority + "/~/";
    std::string said;
    Result r = c.command("pwd", op, &said);
    if (r.ok()) {
        const auto folder = parsePwdReply(said);
        c.cwd = folder && folder->front() == '/' ? normalized(*folder) : "/";
    }
    return {std::move(r), op.reply, {}};
}

Outcome SftpEngine::changeDirectory(const std::string& target)
{
    SftpConnection& c = m_connection;
    c.justListed.reset();
    const std::string path = normalized(target);
    ListingOperation op;
    op.progress = {CallProgress::Kind::ChangingDirectory, path, 0, 0};
    std::vector<ListEntry> entries;
    if (Result r = c.list(path, entries, op); !r.ok())
        return {std::move(r), op.reply, {}};
    c.cwd = path;
    c.justListed.emplace(path, std::move(entries));
    return {Result::success(), std::nullopt, {}};
}

Outcome SftpEngine::list(const std::string& folder, std::vector<ListEntry>& entries, bool)
{
    SftpConnection& c = m_connection;
    if (auto listed = c.takeListing(folder)) {
        entries = std::move(*listed);
        return {Result::success(), std::nullopt, {}};
    }
    ListingOperation op;
    op.progress = {CallProgress::Kind::Listing, folder, 0, 0};
    Result r = c.list(folder, entries, op);
    return {std::move(r), op.reply, {}};
}

Outcome SftpEngine::download(const DownloadRequest& request)
{
    SftpConnection& c = m_connection;
    const std::string name = request.remotePath.substr(request.remotePath.rfind('/') + 1);
    if (const auto listed = c.takeListing(folderOf(request.remotePath)))
        for (const ListEntry& entry : *listed)
            if (entry.name == name && (entry.attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                const std::string words = name + " is a folder.";
                return {Result::failure(ERROR_INTERNET_EXTENDED_ERROR, words), ServerReply{0, words}, {}};
            }
    DownloadTarget target;
    if (Result r = target.open(request.localPath, request.failIfExists, request.keepsPart,
                                    request.oneOfMany ? &m_spares : nullptr); !r.ok())
        return {std::move(r), std::nullopt, {}};
    ServerFileId file{"sftp://" + c.user + "@" + c.authority, request.remotePath};
    const auto describe = [&](ServerFileId& described) -> Outcome {
        Operation op;
        op.progress = {CallProgress::Kind::Downloading, request.shownName, 0, 0, request.localPath};
        Result asked;
        if (const auto stored = c.stat(request.remotePath, op, true, &asked)) {
            described.size = static_cast<std::int64_t>(stored->size);
            described.mtime = stored->mtime;
        } else if (!asked.ok() && asked.error != ERROR_INTERNET_EXTENDED_ERROR) {
            return {std::move(asked), op.reply, {}};
        }
        // A refusal, or an empty file whose size is not told, is the read's to tell.
        return {Result::success(), std::nullopt, {}};
    };
    return continueOrStartOver(target, file, m_context.watcher, describe, [&](std::uint64_t offset, bool& startOver) {
        CURLcode code = CURLE_OK;
        Outcome outcome = fetch(request, target, file, offset, code);
        startOver = code == CURLE_BAD_DOWNLOAD_RESUME;  // the file shrank meanwhile
        return outcome;
    });
}

// A download from the start that may keep its part asks the file's time before its read
// (libcurl's stat) and tells the target the server's file as the data begins; one cut by
// anything but the user's Cancel or a local failure keeps its part.
Outcome SftpEngine::fetch(const DownloadRequest& request, DownloadTarget& target, ServerFileId& file,
                          std::uint64_t offset, CURLcode& code)
{
    SftpConnection& c = m_connection;
    // Declared after the target: the call ends (and the window hears so) before an
    // unfinished file is removed.
    DownloadOperation op;
    op.progress = {CallProgress::Kind::Downloading, request.shownName, 0, 0, request.localPath};
    op.url = c.url(request.remotePath, false);
    op.outFd = target.fd();
    op.writeBehind = request.writeThrough;
    op.written = op.writebackFrom = offset;
    op.holdWatch = true;  // the flush is part of the call: the window is served through it
    if (Result r = c.prepare(op); !r.ok())
        return {std::move(r), op.reply, {}};
    CURL* h = c.easy.get();
    receiveFile(h, op);
    curl_easy_setopt(h, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(offset));
    curl_easy_setopt(h, CURLOPT_FILETIME, offset == 0 && request.keepsPart ? 1L : 0L);
    // Told again when continuing, so that a program killed now leaves a part that continues.
    op.firstData = [&] {
        curl_off_t value = -1;
        if (offset == 0 && curl_easy_getinfo(h, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &value) == CURLE_OK)
            file.size = value;
        if (offset == 0 && request.keepsPart && curl_easy_getinfo(h, CURLINFO_FILETIME_T, &value) == CURLE_OK)
            file.mtime = value;
        target.remember(file);
    };
    Result result = c.perform(op);
    code = c.lastCode;
    // Never a part for the whole: what arrived must be the server's size.
    if (result.ok() && file.size >= 0 && target.writtenSize() != file.size)
        result = Result::failure(ERROR_INTERNET_CONNECTION_ABORTED, "the file arrived incomplete");
    if (result.ok())
        return {target.commit(request.writeThrough, [&op](int fd) { return flushServed(op, fd); }), std::nullopt, {}};
    Outcome outcome{std::move(result), op.reply, {}};
    const bool cancelledByUser = op.cancelledByUser();
    if (!cancelledByUser && op.localErrno == 0 && code != CURLE_BAD_DOWNLOAD_RESUME && target.keep())
        outcome.notice = target.keptNotice();
    return outcome;
}

Outcome SftpEngine::upload(const UploadRequest& request)
{
    SftpConnection& c = m_connection;
    UploadSource source;
    if (Result r = source.open(request.localPath); !r.ok())
        return {std::move(r), std::nullopt, {}};
    const std::string& target = request.remotePath;
    if (target.substr(target.rfind('/') + 1).empty())
        return {Result::failure(ERROR_INVALID_PARAMETER, "no file name"), std::nullopt, {}};
    // ASCII uploads always start over, as on FTP.
    const std::string key = request.ascii ? std::string() : source.key();
    const ReplaceNames names = replaceNamesFor(target, key);
    SftpUploadSteps steps(c, source, request.shownName, m_context.watcher, key.empty() ? std::string() : names.temp);
    ReplaceOutcome replaced = replaceRemote(steps, names, c.renames);
    c.justListed.reset();
    Outcome outcome{std::move(replaced.result), std::nullopt, std::move(replaced.notice)};
    if (outcome.result.error == ERROR_INTERNET_EXTENDED_ERROR)  // the server's words, and what it may still hold
        outcome.reply = ServerReply{0, outcome.result.text};
    return outcome;
}

Outcome SftpEngine::runCommand(const std::string& line, const std::string& path)
{
    SftpConnection& c = m_connection;
    c.justListed.reset();
    Operation op;
    op.progress = {CallProgress::Kind::ServerCommand, path, 0, 0};
    Result r = c.command(line, op);
    return {std::move(r), op.reply, {}};
}

Outcome SftpEngine::createDirectory(const std::string& path) { return runCommand("mkdir " + sftpQuoted(path), path); }

Outcome SftpEngine::removeDirectory(const std::string& path) { return runCommand("rmdir " + sftpQuoted(path), path); }

Outcome SftpEngine::removeFile(const std::string& path) { return runCommand("rm " + sftpQuoted(path), path); }

Outcome SftpEngine::rename(const std::string& from, const std::string& to)
{
    return runCommand("rename " + sftpQuoted(from) + " " + sftpQuoted(to), from);
}

Outcome SftpEngine::setPermissions(const std::string& path, unsigned mode)
{
    char octal[16];
    std::snprintf(octal, sizeof octal, "%04o", mode & 07777u);
    return runCommand(std::string("chmod ") + octal + " " + sftpQuoted(path), path);
}

}  // namespace net
