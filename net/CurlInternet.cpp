#include "net/CurlInternet.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include <curl/curl.h>

#include "net/Engine.h"
#include "net/FtpPath.h"
#include "net/KnownHosts.h"

// The entry points and the table of handles.

namespace net {
namespace {

// What the calling thread's last call left, as the entry points publish it.
thread_local DWORD t_lastError = ERROR_SUCCESS;
thread_local std::string t_lastDetail;  // a failure's reason, beside t_lastError
thread_local std::string t_lastNotice;  // what the user must read after the call
thread_local ServerReply t_lastReply;   // InternetGetLastResponseInfoA's; kept until a call brings another
thread_local std::optional<ServerCertificate> t_untrusted;  // beside t_lastError: 12045 of a connect
thread_local std::optional<SshHostKey> t_unknownHostKey;     // beside t_lastError: 12045 of an SSH connect
std::atomic<HINTERNET> g_nextHandle{1};
std::once_flag g_curlInit;

HINTERNET newHandle() { return g_nextHandle.fetch_add(1); }

BOOL fail(DWORD error)
{
    t_lastError = error;
    t_lastDetail.clear();
    t_lastNotice.clear();
    t_untrusted.reset();
    t_unknownHostKey.reset();
    return FALSE_;
}

BOOL succeed()
{
    t_lastError = ERROR_SUCCESS;
    t_lastDetail.clear();
    t_lastNotice.clear();
    t_untrusted.reset();
    t_unknownHostKey.reset();
    return TRUE_;
}

// An engine call's outcome: its reply, if it brought one, its error and reason, and its notice.
BOOL publish(Outcome outcome)
{
    if (outcome.reply)
        t_lastReply = std::move(*outcome.reply);
    const BOOL done = outcome.ok() ? succeed() : fail(outcome.result.error);
    if (!outcome.ok())
        t_lastDetail = std::move(outcome.result.text);
    t_lastNotice = std::move(outcome.notice);
    return done;
}

void fillRecord(const ListEntry& entry, WIN32_FIND_DATAA* record)
{
    *record = WIN32_FIND_DATAA{};
    record->dwFileAttributes = entry.attributes;
    record->ftLastWriteTime = entry.lastWrite;
    record->nFileSizeHigh = static_cast<DWORD>(entry.size >> 32);
    record->nFileSizeLow = static_cast<DWORD>(entry.size & 0xFFFFFFFFu);
    // The layer's own use of the two reserved fields: what else the listing said.
    record->dwReserved0 = entry.mode;
    record->dwReserved1 = entry.dayOnly ? 1 : 0;
    const std::size_t n = std::min<std::size_t>(entry.name.size(), MAX_PATH - 1);
    std::memcpy(record->cFileName, entry.name.data(), n);
    record->cFileName[n] = '\0';
}

// The folder and the name filter of a find pattern ("*.*", "sub/*.txt", "/pub/a?").
std::pair<std::string, std::string_view> splitPattern(const std::string& cwd, std::string_view pattern)
{
    std::string folder = cwd;
    std::string_view filter = pattern;
    if (const auto slash = pattern.rfind('/'); slash != std::string_view::npos) {
        folder = resolvePath(cwd, slash == 0 ? std::string_view("/") : pattern.substr(0, slash));
        filter = pattern.substr(slash + 1);
    }
    if (filter == "*.*" || filter == "*")
        filter = {};
    return {folder, filter};
}

}  // namespace

struct CurlInternet::Session {
    std::string agent;
    DWORD access = INTERNET_OPEN_TYPE_DIRECT;
    std::string proxy;
};

struct CurlInternet::Connection {
    HINTERNET session = 0;
    // Guarded by the handle table's lock: calls running on it, and whether its handle
    // was closed meanwhile (the running call is then cancelled and the object goes
    // when the last call returns).
    int busy = 0;
    std::atomic<bool> closed{false};
    std::unique_ptr<Engine> engine;  // after `closed`, which it watches: it goes first
};

struct CurlInternet::Find {
    HINTERNET connection = 0;
    std::vector<ListEntry> entries;
    std::size_t next = 0;
};

CurlInternet::CurlInternet() : CurlInternet(Options{}) {}

CurlInternet::CurlInternet(Options options) : m_options(std::move(options))
{
    std::call_once(g_curlInit, [] {
        // libcurl would append every secure session's keys to the file this names, from its
        // start-up on; the program takes no settings from the environment.
        ::unsetenv("SSLKEYLOGFILE");
        curl_global_init(CURL_GLOBAL_DEFAULT);
    });
}

CurlInternet::~CurlInternet()
{
    std::lock_guard lock(m_mutex);
    m_finds.clear();
    m_connections.clear();
    m_retired.clear();
    m_sessions.clear();
}

DWORD CurlInternet::GetLastError() { return t_lastError; }

std::string CurlInternet::lastErrorDetail() { return t_lastDetail; }

std::string CurlInternet::lastNotice() { return t_lastNotice; }

std::optional<ServerCertificate> CurlInternet::untrustedCertificate() { return t_untrusted; }

void CurlInternet::trustForThisRun(const ServerCertificate& certificate) { m_trust.trust(certificate); }

std::optional<SshHostKey> CurlInternet::unknownHostKey() { return t_unknownHostKey; }

void CurlInternet::trustHostKeyForThisRun(const SshHostKey& key)
{
    m_trust.trustHostKey(knownHostsName(key.host, key.port), key.blob);
}

BOOL CurlInternet::rememberHostKey(const SshHostKey& key)
{
    return publish({KnownHosts::forUser().add(key.host, key.port, key.blob), std::nullopt, {}});
}

void CurlInternet::setCallWatcher(CallWatcher* watcher) { m_watcher = watcher; }

std::string CurlInternet::currentDirectory(HINTERNET hConnect) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_connections.find(hConnect);
    return it == m_connections.end() ? std::string() : it->second->engine->currentDirectory();
}

CurlInternet::Connection* CurlInternet::connectionFor(HINTERNET handle)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_connections.find(handle);
    return it == m_connections.end() ? nullptr : it->second.get();
}

// Keeps a connection alive for one call: a close of its handle meanwhile only
// takes it out of the table, and the object goes when the last lease ends.
class CurlInternet::Lease {
public:
    Lease(CurlInternet& owner, HINTERNET handle) : m_owner(owner)
    {
        std::lock_guard lock(owner.m_mutex);
        const auto it = owner.m_connections.find(handle);
        if (it != owner.m_connections.end()) {
            m_connection = it->second.get();
            ++m_connection->busy;
        }
    }
    ~Lease()
    {
        std::unique_ptr<Connection> gone;  // destroyed (QUIT) after the lock
        {
            std::lock_guard lock(m_owner.m_mutex);
            if (!m_connection || --m_connection->busy > 0 || !m_connection->closed)
                return;
            auto& retired = m_owner.m_retired;
            const auto it = std::find_if(retired.begin(), retired.end(),
                                         [this](const auto& c) { return c.get() == m_connection; });
            if (it != retired.end()) {
                gone = std::move(*it);
                retired.erase(it);
            }
        }
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;

    Connection* get() const { return m_connection; }

private:
    CurlInternet& m_owner;
    Connection* m_connection = nullptr;
};

// ---------------------------------------------------------------- entry points

HINTERNET CurlInternet::InternetOpenA(const char* lpszAgent, DWORD dwAccessType, const char* lpszProxy,
                                      const char*, DWORD)
{
    if (dwAccessType != 0 && dwAccessType != INTERNET_OPEN_TYPE_DIRECT && dwAccessType != INTERNET_OPEN_TYPE_PROXY)
        return fail(ERROR_INVALID_PARAMETER);
    auto session = std::make_unique<Session>();
    session->agent = lpszAgent ? lpszAgent : "";
    session->access = dwAccessType == INTERNET_OPEN_TYPE_PROXY ? INTERNET_OPEN_TYPE_PROXY : INTERNET_OPEN_TYPE_DIRECT;
    if (session->access == INTERNET_OPEN_TYPE_PROXY && lpszProxy)
        session->proxy = lpszProxy;
    const HINTERNET handle = newHandle();
    {
        std::lock_guard lock(m_mutex);
        m_sessions.emplace(handle, std::move(session));
    }
    succeed();
    return handle;
}

HINTERNET CurlInternet::InternetConnectA(HINTERNET hInternet, const char* lpszServerName, INTERNET_PORT nServerPort,
                                         const char* lpszUserName, const char* lpszPassword, DWORD dwService,
                                         DWORD dwFlags, DWORD_PTR)
{
    ConnectRequest request;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_sessions.find(hInternet);
        if (it == m_sessions.end())
            return fail(ERROR_INVALID_HANDLE);
        request.viaGateway = it->second->access == INTERNET_OPEN_TYPE_PROXY;
        request.gateway = it->second->proxy;
    }
    if (dwService != INTERNET_SERVICE_FTP || !lpszServerName)
        return fail(ERROR_INVALID_PARAMETER);
    request.serverName = lpszServerName;
    request.port = nServerPort;
    request.user = lpszUserName ? lpszUserName : "";
    request.password = lpszPassword ? lpszPassword : "";
    request.passive = (dwFlags & INTERNET_FLAG_PASSIVE) != 0;
    if (hasLineBreak(request.serverName) || hasLineBreak(request.user) || hasLineBreak(request.password))
        return fail(ERROR_INVALID_PARAMETER);

    auto connection = std::make_unique<Connection>();
    connection->session = hInternet;
    connection->engine = makeEngine(request.serverName, EngineContext{m_options, m_trust, m_watcher, connection->closed});
    // In the table while it logs in, so that closing the session cancels the login.
    const HINTERNET handle = newHandle();
    {
        std::lock_guard lock(m_mutex);
        if (!m_sessions.contains(hInternet))
            return fail(ERROR_INVALID_HANDLE);
        m_connections.emplace(handle, std::move(connection));
    }
    ConnectOutcome outcome;
    {
        const Lease lease(*this, handle);
        if (Connection* c = lease.get(); !c) {
            outcome.result = Result::failure(ERROR_INTERNET_OPERATION_CANCELLED, "the session was closed");
        } else {
            outcome = c->engine->connect(request);
            if (outcome.ok() && c->closed)
                outcome.result = Result::failure(ERROR_INTERNET_OPERATION_CANCELLED, "the connection was closed");
        }
        if (!outcome.ok())
            (void)InternetCloseHandle(handle);
    }
    std::optional<ServerCertificate> untrusted = std::move(outcome.untrusted);
    std::optional<SshHostKey> unknownHostKey = std::move(outcome.unknownHostKey);
    if (!publish(std::move(outcome))) {
        t_untrusted = std::move(untrusted);
        t_unknownHostKey = std::move(unknownHostKey);
        return 0;
    }
    return handle;
}

BOOL CurlInternet::InternetCloseHandle(HINTERNET hInternet)
{
    std::vector<std::unique_ptr<Connection>> closing;  // destroyed (QUIT) after the lock
    {
        std::lock_guard lock(m_mutex);
        if (m_finds.erase(hInternet))
            return succeed();
        std::vector<HINTERNET> connections;
        if (const auto it = m_connections.find(hInternet); it != m_connections.end()) {
            connections.push_back(hInternet);
        } else if (const auto s = m_sessions.find(hInternet); s != m_sessions.end()) {
            for (const auto& [handle, connection] : m_connections)
                if (connection->session == hInternet)
                    connections.push_back(handle);
            m_sessions.erase(s);
        } else {
            return fail(ERROR_INVALID_HANDLE);
        }
        for (const HINTERNET c : connections) {
            std::erase_if(m_finds, [c](const auto& item) { return item.second->connection == c; });
            auto node = m_connections.extract(c);
            node.mapped()->closed = true;
            // A call still runs on it: it is cancelled, and its lease frees the object.
            if (node.mapped()->busy > 0)
                m_retired.push_back(std::move(node.mapped()));
            else
                closing.push_back(std::move(node.mapped()));
        }
    }
    closing.clear();
    return succeed();
}

HINTERNET CurlInternet::FtpFindFirstFileA(HINTERNET hConnect, const char* lpszSearchFile,
                                          WIN32_FIND_DATAA* lpFindFileData, DWORD dwFlags, DWORD_PTR)
{
    const Lease lease(*this, hConnect);
    Connection* connection = lease.get();
    if (!connection)
        return fail(ERROR_INVALID_HANDLE);
    const std::string_view pattern = lpszSearchFile ? lpszSearchFile : "";
    if (!lpFindFileData || hasLineBreak(pattern))
        return fail(ERROR_INVALID_PARAMETER);
    auto find = std::make_unique<Find>();
    find->connection = hConnect;
    const auto [folder, filter] = splitPattern(connection->engine->currentDirectory(), pattern);
    Outcome outcome =
        connection->engine->list(folder, find->entries, (dwFlags & FIND_FLAG_LINKS_AS_LINKS) != 0);
    if (outcome.ok()) {
        // Names with '/', CR, LF or NUL, and names too long for a record, cannot stand for
        // an entry of this folder: they are left out. "." and ".." are kept as listed.
        std::erase_if(find->entries, [](const ListEntry& e) { return !isUsableName(e.name); });
        if (!filter.empty())
            std::erase_if(find->entries, [filter](const ListEntry& e) { return !wildcardMatch(filter, e.name); });
        if (find->entries.empty())
            outcome.result = Result::failure(ERROR_NO_MORE_FILES, "empty listing");
    }
    if (!publish(std::move(outcome)))
        return 0;
    fillRecord(find->entries.front(), lpFindFileData);
    find->next = 1;
    const HINTERNET handle = newHandle();
    {
        std::lock_guard lock(m_mutex);
        m_finds.emplace(handle, std::move(find));
    }
    return handle;
}

BOOL CurlInternet::InternetFindNextFileA(HINTERNET hFind, WIN32_FIND_DATAA* lpvFindData)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_finds.find(hFind);
    if (it == m_finds.end())
        return fail(ERROR_INVALID_HANDLE);
    if (!lpvFindData)
        return fail(ERROR_INVALID_PARAMETER);
    Find& find = *it->second;
    if (find.next >= find.entries.size())
        return fail(ERROR_NO_MORE_FILES);
    fillRecord(find.entries[find.next++], lpvFindData);
    return succeed();
}

BOOL CurlInternet::FtpSetCurrentDirectoryA(HINTERNET hConnect, const char* lpszDirectory)
{
    const Lease lease(*this, hConnect);
    Connection* connection = lease.get();
    if (!connection)
        return fail(ERROR_INVALID_HANDLE);
    if (!lpszDirectory || !*lpszDirectory || hasLineBreak(lpszDirectory))
        return fail(ERROR_INVALID_PARAMETER);
    Engine& engine = *connection->engine;
    return publish(engine.changeDirectory(resolvePath(engine.currentDirectory(), lpszDirectory)));
}

BOOL CurlInternet::FtpGetCurrentDirectoryA(HINTERNET hConnect, char* lpszCurrentDirectory,
                                           DWORD* lpdwCurrentDirectory)
{
    if (!connectionFor(hConnect))
        return fail(ERROR_INVALID_HANDLE);
    if (!lpdwCurrentDirectory)
        return fail(ERROR_INVALID_PARAMETER);
    const std::string folder = currentDirectory(hConnect);
    const auto needed = static_cast<DWORD>(folder.size() + 1);
    if (!lpszCurrentDirectory || *lpdwCurrentDirectory < needed) {
        *lpdwCurrentDirectory = needed;
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(lpszCurrentDirectory, folder.c_str(), needed);
    *lpdwCurrentDirectory = needed - 1;
    return succeed();
}

BOOL CurlInternet::FtpGetFileA(HINTERNET hConnect, const char* lpszRemoteFile, const char* lpszNewFile,
                               BOOL fFailIfExists, DWORD dwFlagsAndAttributes, DWORD dwFlags, DWORD_PTR)
{
    const Lease lease(*this, hConnect);
    Connection* connection = lease.get();
    if (!connection)
        return fail(ERROR_INVALID_HANDLE);
    if (!lpszRemoteFile || !*lpszRemoteFile || !lpszNewFile || !*lpszNewFile || hasLineBreak(lpszRemoteFile) ||
        hasLineBreak(lpszNewFile))
        return fail(ERROR_INVALID_PARAMETER);
    Engine& engine = *connection->engine;
    DownloadRequest request;
    request.remotePath = resolvePath(engine.currentDirectory(), lpszRemoteFile);
    request.shownName = lpszRemoteFile;
    request.localPath = lpszNewFile;
    request.failIfExists = fFailIfExists != 0;
    request.writeThrough = (dwFlagsAndAttributes & FILE_FLAG_WRITE_THROUGH) != 0;
    request.ascii = (dwFlags & 3) == FTP_TRANSFER_TYPE_ASCII;
    request.keepsPart = !request.ascii && (dwFlags & FTP_FLAG_NO_PART) == 0;
    request.oneOfMany = (dwFlags & FTP_FLAG_NO_PART) != 0;
    return publish(engine.download(request));
}

BOOL CurlInternet::FtpPutFileA(HINTERNET hConnect, const char* lpszLocalFile, const char* lpszNewRemoteFile,
                               DWORD dwFlags, DWORD_PTR)
{
    const Lease lease(*this, hConnect);
    Connection* connection = lease.get();
    if (!connection)
        return fail(ERROR_INVALID_HANDLE);
    if (!lpszLocalFile || !*lpszLocalFile || !lpszNewRemoteFile || !*lpszNewRemoteFile ||
        hasLineBreak(lpszLocalFile) || hasLineBreak(lpszNewRemoteFile))
        return fail(ERROR_INVALID_PARAMETER);
    Engine& engine = *connection->engine;
    UploadRequest request;
    request.localPath = lpszLocalFile;
    request.remotePath = resolvePath(engine.currentDirectory(), lpszNewRemoteFile);
    request.shownName = lpszNewRemoteFile;
    request.ascii = (dwFlags & 3) == FTP_TRANSFER_TYPE_ASCII;
    request.newName = (dwFlags & FTP_FLAG_NEW_NAME) != 0;
    return publish(engine.upload(request));
}

// One server command on one path: the checks every command shares.
template <typename Command>
BOOL CurlInternet::runCommand(HINTERNET hConnect, std::initializer_list<const char*> paths, Command command)
{
    const Lease lease(*this, hConnect);
    Connection* connection = lease.get();
    if (!connection)
        return fail(ERROR_INVALID_HANDLE);
    for (const char* path : paths)
        if (!path || !*path || hasLineBreak(path))
            return fail(ERROR_INVALID_PARAMETER);
    Engine& engine = *connection->engine;
    const auto absolute = [&engine](const char* path) { return resolvePath(engine.currentDirectory(), path); };
    return publish(command(engine, absolute));
}

BOOL CurlInternet::FtpCreateDirectoryA(HINTERNET hConnect, const char* lpszDirectory)
{
    return runCommand(hConnect, {lpszDirectory},
                      [&](Engine& engine, auto absolute) { return engine.createDirectory(absolute(lpszDirectory)); });
}

BOOL CurlInternet::FtpRemoveDirectoryA(HINTERNET hConnect, const char* lpszDirectory)
{
    return runCommand(hConnect, {lpszDirectory},
                      [&](Engine& engine, auto absolute) { return engine.removeDirectory(absolute(lpszDirectory)); });
}

BOOL CurlInternet::FtpDeleteFileA(HINTERNET hConnect, const char* lpszFileName)
{
    return runCommand(hConnect, {lpszFileName},
                      [&](Engine& engine, auto absolute) { return engine.removeFile(absolute(lpszFileName)); });
}

BOOL CurlInternet::FtpRenameFileA(HINTERNET hConnect, const char* lpszExisting, const char* lpszNew)
{
    return runCommand(hConnect, {lpszExisting, lpszNew}, [&](Engine& engine, auto absolute) {
        return engine.rename(absolute(lpszExisting), absolute(lpszNew));
    });
}

BOOL CurlInternet::FtpSetPermissionsA(HINTERNET hConnect, const char* lpszFileName, DWORD dwMode)
{
    if (dwMode > 07777)
        return fail(ERROR_INVALID_PARAMETER);
    return runCommand(hConnect, {lpszFileName}, [&](Engine& engine, auto absolute) {
        return engine.setPermissions(absolute(lpszFileName), dwMode);
    });
}

BOOL CurlInternet::InternetGetLastResponseInfoA(DWORD* lpdwError, char* lpszBuffer, DWORD* lpdwBufferLength)
{
    if (!lpdwError || !lpdwBufferLength)
        return fail(ERROR_INVALID_PARAMETER);
    const ServerReply& last = t_lastReply;
    const auto length = static_cast<DWORD>(last.text.size());
    *lpdwError = last.code;
    if (!lpszBuffer) {
        *lpdwBufferLength = length;
        return TRUE_;
    }
    if (*lpdwBufferLength < length) {
        if (*lpdwBufferLength > 0) {
            std::memcpy(lpszBuffer, last.text.data(), *lpdwBufferLength - 1);
            lpszBuffer[*lpdwBufferLength - 1] = '\0';
        }
        *lpdwBufferLength = length;
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(lpszBuffer, last.text.data(), length);
    if (*lpdwBufferLength > length)
        lpszBuffer[length] = '\0';
    *lpdwBufferLength = length;
    return TRUE_;
}

}  // namespace net
