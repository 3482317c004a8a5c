#include "net/CurlInternet.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "net/CurlParts.h"
#include "net/TlsFailure.h"

// The entry points and the table of handles.

namespace net {
namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;
thread_local std::string t_lastDetail;  // the failed Result's text, beside t_lastError
thread_local std::optional<ServerCertificate> t_untrusted;  // beside t_lastError: 12045 of a connect
std::atomic<HINTERNET> g_nextHandle{1};
std::once_flag g_curlInit;

HINTERNET newHandle() { return g_nextHandle.fetch_add(1); }

BOOL fail(DWORD error)
{
    t_lastError = error;
    t_lastDetail.clear();
    t_untrusted.reset();
    return FALSE_;
}

BOOL fail(const Result& result)
{
    t_lastError = result.error;
    t_lastDetail = result.text;
    t_untrusted.reset();
    return FALSE_;
}

BOOL succeed()
{
    t_lastError = ERROR_SUCCESS;
    t_lastDetail.clear();
    t_untrusted.reset();
    return TRUE_;
}

// A success may bring a notice for the user (files an upload could not remove).
BOOL finish(const Result& result)
{
    if (!result.ok())
        return fail(result);
    succeed();
    t_lastDetail = result.text;
    return TRUE_;
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

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}
}  // namespace

LastReply& lastReply()
{
    thread_local LastReply reply;
    return reply;
}

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

std::optional<ServerCertificate> CurlInternet::untrustedCertificate() { return t_untrusted; }

void CurlInternet::trustForThisRun(const ServerCertificate& certificate) { m_trust.trust(certificate); }

void CurlInternet::setCallWatcher(CallWatcher* watcher) { m_watcher = watcher; }

std::string CurlInternet::currentDirectory(HINTERNET hConnect) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_connections.find(hConnect);
    return it == m_connections.end() ? std::string() : it->second->cwd;
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
            m_connection->callStart = true;
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
    std::string proxy;
    bool viaGateway = false;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_sessions.find(hInternet);
        if (it == m_sessions.end())
            return fail(ERROR_INVALID_HANDLE);
        viaGateway = it->second->access == INTERNET_OPEN_TYPE_PROXY;
        proxy = it->second->proxy;
    }
    if (dwService != INTERNET_SERVICE_FTP || !lpszServerName)
        return fail(ERROR_INVALID_PARAMETER);
    const std::string user = lpszUserName ? lpszUserName : "";
    const std::string password = lpszPassword ? lpszPassword : "";
    if (hasLineBreak(lpszServerName) || hasLineBreak(user) || hasLineBreak(password))
        return fail(ERROR_INVALID_PARAMETER);
    const auto server = parseServerName(lpszServerName, nServerPort);
    if (!server)
        return fail(ERROR_INVALID_PARAMETER);
    if (server->tls && viaGateway) {
        // The gateway takes the login in plain text; TLS would only start behind it.
        lastReply() = LastReply{0, "A secure (ftps://) connection cannot go through the FTP gateway; "
                                   "nothing was sent."};
        return fail(ERROR_INTERNET_EXTENDED_ERROR);
    }

    auto connection = std::make_unique<Connection>();
    connection->session = hInternet;
    connection->server = *server;
    connection->passive = (dwFlags & INTERNET_FLAG_PASSIVE) != 0;
    connection->user = user.empty() ? "anonymous" : user;
    connection->password = password.empty() && user.empty() ? "quillon@" : password;
    if (server->tls) {
        connection->caFile = environment("SSL_CERT_FILE");
        connection->caPath = environment("SSL_CERT_DIR");
        connection->pinnedKey = m_trust.pinFor(urlAuthority(*server)).value_or(std::string());
        connection->peer.emplace(server->host, urlAuthority(*server), connection->pinnedKey);
    }
    ServerAddress peer = *server;
    if (viaGateway) {
        // A TIS-style gateway: log in to the gateway as "user@server[:port]".
        std::string_view text = proxy;
        for (const std::string_view prefix : {"ftp=", "ftp://"})
            if (text.substr(0, prefix.size()) == prefix)
                text.remove_prefix(prefix.size());
        while (!text.empty() && text.back() == '/')
            text.remove_suffix(1);
        const auto gateway = hasLineBreak(text) ? std::nullopt : parseServerName(text, 0);
        if (!gateway)
            return fail(ERROR_INTERNET_NAME_NOT_RESOLVED);
        peer = *gateway;
        connection->user += "@" + gatewayTarget(*server);
    }
    if (m_options.resolveHost && !isAddressLiteral(peer.host)) {
        const auto address = m_options.resolveHost(peer.host);
        if (!address)
            return fail(ERROR_INTERNET_NAME_NOT_RESOLVED);
        connection->resolveEntry = peer.host + ":" + std::to_string(peer.port) + ":" + *address;
    }
    connection->authority = urlAuthority(peer);
    if (!connection->easy || !connection->multi)
        return fail(ERROR_INTERNET_INTERNAL_ERROR);

    // In the table while it logs in, so that closing the session cancels the login.
    const HINTERNET handle = newHandle();
    {
        std::lock_guard lock(m_mutex);
        if (!m_sessions.contains(hInternet))
            return fail(ERROR_INVALID_HANDLE);
        m_connections.emplace(handle, std::move(connection));
    }
    Result outcome = Result::success();
    std::optional<ServerCertificate> untrusted;
    {
        const Lease lease(*this, handle);
        if (Connection* c = lease.get(); !c) {
            outcome = Result::failure(ERROR_INTERNET_OPERATION_CANCELLED, "the session was closed");
        } else {
            outcome = connect(*c);
            if (!outcome.ok() && c->tlsVersionRefused && !c->tls13 && !c->closed) {
                // The server refused TLS 1.2 before anything but AUTH TLS was sent: try TLS 1.3.
                c->tls13 = true;
                outcome = connect(*c);
            }
            if (outcome.ok() && c->closed)
                outcome = Result::failure(ERROR_INTERNET_OPERATION_CANCELLED, "the connection was closed");
            // Offered for trust only while no key is trusted for the server: a changed key is refused.
            if (outcome.error == ERROR_INTERNET_INVALID_CA && c->peer && c->pinnedKey.empty())
                untrusted = c->peer->untrusted();
        }
        if (!outcome.ok())
            (void)InternetCloseHandle(handle);
    }
    if (!outcome.ok()) {
        fail(outcome);
        t_untrusted = std::move(untrusted);
        return 0;
    }
    succeed();
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
                                          WIN32_FIND_DATAA* lpFindFileData, DWORD, DWORD_PTR)
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
    if (const Result result = list(*connection, pattern, *find); !result.ok())
        return fail(result);
    fillRecord(find->entries.front(), lpFindFileData);
    find->next = 1;
    const HINTERNET handle = newHandle();
    {
        std::lock_guard lock(m_mutex);
        m_finds.emplace(handle, std::move(find));
    }
    succeed();
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
    return finish(changeDirectory(*connection, lpszDirectory));
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
    return finish(download(*connection, lpszRemoteFile, lpszNewFile, fFailIfExists != 0,
                           (dwFlagsAndAttributes & FILE_FLAG_WRITE_THROUGH) != 0,
                           (dwFlags & 3) == FTP_TRANSFER_TYPE_ASCII));
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
    if (connection->tls13) {
        lastReply() = LastReply{0, kNoTls13Uploads};
        return fail(ERROR_INTERNET_EXTENDED_ERROR);
    }
    return finish(upload(*connection, lpszLocalFile, lpszNewRemoteFile, (dwFlags & 3) == FTP_TRANSFER_TYPE_ASCII));
}

BOOL CurlInternet::InternetGetLastResponseInfoA(DWORD* lpdwError, char* lpszBuffer, DWORD* lpdwBufferLength)
{
    if (!lpdwError || !lpdwBufferLength)
        return fail(ERROR_INVALID_PARAMETER);
    const LastReply& last = lastReply();
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
