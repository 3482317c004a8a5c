#pragma once
// The Internet calls: the handle table and the entry points. Each connection
// handle has an engine of its own (net/Engine.h), chosen by the server name's
// scheme: FTP over libcurl, one control connection per handle, or for "sftp://"
// SFTP, one SSH session per handle (net/SftpEngine.h). The entry points
// alone set the thread's last error, last server reply, detail and notice.
//
// Behaviour worth knowing:
// - InternetConnectA returns only after the server accepted the login; the
//   layer keeps the server's current directory (PWD's canonical path) and
//   sends absolute paths, so relative names follow FtpSetCurrentDirectoryA.
// - ASCII transfers (FTP_TRANSFER_TYPE_ASCII) run in TYPE A with the layer's
//   own conversion: an upload sends each line end (LF or CR LF) as one CR LF,
//   a download turns CR LF into LF; lone CRs pass unchanged both ways.
// - FtpPutFileA writes a temporary file beside the target and puts it in the
//   target's place only when complete; where the server renames only onto free
//   names the old file is moved aside first and removed last. The first upload
//   of a connection renames an empty file to learn whether the server renames
//   at all; one that refuses gets every file in place, sent once.
//   The old file's permissions follow (SITE CHMOD) where the server tells and
//   allows it. Files it could not remove, and a file it left holding part of the
//   new one, are named in lastNotice(), failed or not. The data goes once: a server
//   that will not rename the complete temporary file fails the upload. The watcher
//   hears of every step as one call, and Cancel ends any of them.
// - A successful call sets the last error to 0. The last error and the last
//   server reply (InternetGetLastResponseInfoA) are per thread.
// - Handles are never reused within a run. Closing a session closes its
//   connections; closing a connection closes its find handles.
// - Calls on one connection must not overlap; the handle table itself is locked.
// - A call made on the calling thread while another of its calls runs (from the
//   watcher) fails with 12110 and touches nothing. Closing a handle while a call
//   runs on it cancels that call (12017); the connection goes when it returns.
// - A transfer, listing or change of folder fails with 12002 after stallTimeout
//   in which no byte arrived or left; the connect step has connectTimeout.
// - A call that finds its control connection closed by the server while idle
//   (its first reply is 421, or the connection closes before any reply) logs in
//   once more on a new connection and runs there; a failed login is its result.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "net/InternetApi.h"
#include "net/LayerOptions.h"
#include "net/Result.h"  // the error numbers of the calls beyond WinInet.h

namespace net {

class CurlInternet final : public InternetApi {
public:
    using Options = LayerOptions;

    CurlInternet();
    explicit CurlInternet(Options options);
    ~CurlInternet() override;
    CurlInternet(const CurlInternet&) = delete;
    CurlInternet& operator=(const CurlInternet&) = delete;

    HINTERNET InternetOpenA(const char* lpszAgent, DWORD dwAccessType, const char* lpszProxy,
                            const char* lpszProxyBypass, DWORD dwFlags) override;
    HINTERNET InternetConnectA(HINTERNET hInternet, const char* lpszServerName, INTERNET_PORT nServerPort,
                               const char* lpszUserName, const char* lpszPassword, DWORD dwService,
                               DWORD dwFlags, DWORD_PTR dwContext) override;
    BOOL InternetCloseHandle(HINTERNET hInternet) override;
    HINTERNET FtpFindFirstFileA(HINTERNET hConnect, const char* lpszSearchFile,
                                WIN32_FIND_DATAA* lpFindFileData, DWORD dwFlags, DWORD_PTR dwContext) override;
    BOOL InternetFindNextFileA(HINTERNET hFind, WIN32_FIND_DATAA* lpvFindData) override;
    BOOL FtpSetCurrentDirectoryA(HINTERNET hConnect, const char* lpszDirectory) override;
    // The folder the layer keeps (the login folder's PWD, then each change's); sends nothing.
    BOOL FtpGetCurrentDirectoryA(HINTERNET hConnect, char* lpszCurrentDirectory,
                                 DWORD* lpdwCurrentDirectory) override;
    BOOL FtpGetFileA(HINTERNET hConnect, const char* lpszRemoteFile, const char* lpszNewFile,
                     BOOL fFailIfExists, DWORD dwFlagsAndAttributes, DWORD dwFlags,
                     DWORD_PTR dwContext) override;
    BOOL FtpPutFileA(HINTERNET hConnect, const char* lpszLocalFile, const char* lpszNewRemoteFile,
                     DWORD dwFlags, DWORD_PTR dwContext) override;
    BOOL FtpCreateDirectoryA(HINTERNET hConnect, const char* lpszDirectory) override;
    BOOL FtpRemoveDirectoryA(HINTERNET hConnect, const char* lpszDirectory) override;
    BOOL FtpDeleteFileA(HINTERNET hConnect, const char* lpszFileName) override;
    BOOL FtpRenameFileA(HINTERNET hConnect, const char* lpszExisting, const char* lpszNew) override;
    BOOL FtpSetPermissionsA(HINTERNET hConnect, const char* lpszFileName, DWORD dwMode) override;
    // *lpdwError = the last reply's code. Null buffer: *lpdwBufferLength = text length, TRUE.
    // Buffer of *lpdwBufferLength >= text length: the text (NUL added when room), TRUE.
    // Smaller: what fits less one byte plus NUL, FALSE with 122 and the needed length.
    BOOL InternetGetLastResponseInfoA(DWORD* lpdwError, char* lpszBuffer, DWORD* lpdwBufferLength) override;

    DWORD GetLastError() override;
    void setCallWatcher(CallWatcher* watcher) override;

    // The text of the last failed internal call on this thread; cleared by every call that
    // succeeds or fails without one.
    std::string lastErrorDetail() override;
    std::string lastNotice() override;
    std::optional<ServerCertificate> untrustedCertificate() override;
    void trustForThisRun(const ServerCertificate& certificate) override;
    std::optional<SshHostKey> unknownHostKey() override;
    void trustHostKeyForThisRun(const SshHostKey& key) override;
    BOOL rememberHostKey(const SshHostKey& key) override;

    // The server's current directory of a connection as the layer keeps it; empty for a bad handle.
    std::string currentDirectory(HINTERNET hConnect) const;

private:
    struct Session;
    struct Connection;
    struct Find;

    Connection* connectionFor(HINTERNET handle);
    class Lease;
    template <typename Command>
    BOOL runCommand(HINTERNET hConnect, std::initializer_list<const char*> paths, Command command);

    Options m_options;
    RunTrust m_trust;
    CallWatcher* m_watcher = nullptr;
    mutable std::mutex m_mutex;
    std::unordered_map<HINTERNET, std::unique_ptr<Session>> m_sessions;
    std::unordered_map<HINTERNET, std::unique_ptr<Connection>> m_connections;
    std::unordered_map<HINTERNET, std::unique_ptr<Find>> m_finds;
    std::vector<std::unique_ptr<Connection>> m_retired;  // closed while a call ran on them
};

}  // namespace net
