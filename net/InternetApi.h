#pragma once
// The ten Internet calls the windows make. The program uses CurlInternet;
// window tests use a recording fake.

#include <cstdint>
#include <optional>
#include <string>

#include "net/ServerCertificate.h"
#include "net/WinInet.h"

namespace net {

// What a long call is doing, for a progress window.
struct CallProgress {
    // Checking: a downloaded file against the server's hash (done and total: its size).
    enum class Kind { Connecting, Listing, ChangingDirectory, Downloading, Uploading, ServerCommand, Checking };
    Kind kind = Kind::Connecting;
    std::string subject;        // host, folder or file name
    std::uint64_t done = 0;     // bytes moved, or entries read for a listing
    std::uint64_t total = 0;    // 0 when not known
    std::string destination;    // a download's local file
};

// An SSH server's host key, as the user is shown it before trusting it.
struct SshHostKey {
    std::string server;  // the server name as typed ("sftp://host:2222")
    std::string host;    // looked up and added in known_hosts by this name and port
    int port = 22;
    std::string blob;    // the key as the server sent it
};

// Told while a call runs, on the calling thread, about every 20 ms whatever the
// server does. Returning false cancels the call: it fails with 12017 within
// another 20 ms. Calls made from inside callProgress fail with 12110.
class CallWatcher {
public:
    virtual ~CallWatcher() = default;
    virtual void callStarted(const CallProgress& what) = 0;
    virtual bool callProgress(const CallProgress& now) = 0;
    virtual void callFinished() = 0;
    // Asked once callProgress has returned false: true when the program is being killed (a
    // signal), not ended by the user's choice. A transfer cut so keeps what a lost connection
    // keeps, for the next one to continue.
    virtual bool programKilled() const { return false; }
};

class InternetApi {
public:
    virtual ~InternetApi() = default;

    virtual HINTERNET InternetOpenA(const char* lpszAgent, DWORD dwAccessType, const char* lpszProxy,
                                    const char* lpszProxyBypass, DWORD dwFlags) = 0;
    virtual HINTERNET InternetConnectA(HINTERNET hInternet, const char* lpszServerName,
                                       INTERNET_PORT nServerPort, const char* lpszUserName,
                                       const char* lpszPassword, DWORD dwService, DWORD dwFlags,
                                       DWORD_PTR dwContext) = 0;
    virtual BOOL InternetCloseHandle(HINTERNET hInternet) = 0;
    virtual HINTERNET FtpFindFirstFileA(HINTERNET hConnect, const char* lpszSearchFile,
                                        WIN32_FIND_DATAA* lpFindFileData, DWORD dwFlags,
                                        DWORD_PTR dwContext) = 0;
    virtual BOOL InternetFindNextFileA(HINTERNET hFind, WIN32_FIND_DATAA* lpvFindData) = 0;
    virtual BOOL FtpSetCurrentDirectoryA(HINTERNET hConnect, const char* lpszDirectory) = 0;
    // The connection's current server folder. *lpdwCurrentDirectory: in, the buffer's size
    // counting the NUL; out, the characters copied (no NUL). A buffer too small (or null)
    // fails with 122 (ERROR_INSUFFICIENT_BUFFER) and *lpdwCurrentDirectory = the size needed.
    virtual BOOL FtpGetCurrentDirectoryA(HINTERNET hConnect, char* lpszCurrentDirectory,
                                         DWORD* lpdwCurrentDirectory) = 0;
    virtual BOOL FtpGetFileA(HINTERNET hConnect, const char* lpszRemoteFile, const char* lpszNewFile,
                             BOOL fFailIfExists, DWORD dwFlagsAndAttributes, DWORD dwFlags,
                             DWORD_PTR dwContext) = 0;
    virtual BOOL FtpPutFileA(HINTERNET hConnect, const char* lpszLocalFile,
                             const char* lpszNewRemoteFile, DWORD dwFlags, DWORD_PTR dwContext) = 0;
    // Server commands. Paths are absolute or relative to the connection's current folder.
    virtual BOOL FtpCreateDirectoryA(HINTERNET hConnect, const char* lpszDirectory) = 0;
    // Removes an empty folder.
    virtual BOOL FtpRemoveDirectoryA(HINTERNET hConnect, const char* lpszDirectory) = 0;
    virtual BOOL FtpDeleteFileA(HINTERNET hConnect, const char* lpszFileName) = 0;
    virtual BOOL FtpRenameFileA(HINTERNET hConnect, const char* lpszExisting, const char* lpszNew) = 0;
    // Our own addition: sets a file's or folder's permission bits (dwMode & 07777).
    virtual BOOL FtpSetPermissionsA(HINTERNET hConnect, const char* lpszFileName, DWORD dwMode) = 0;
    // Two-call pattern: a null buffer asks for the length (returned in *lpdwBufferLength).
    virtual BOOL InternetGetLastResponseInfoA(DWORD* lpdwError, char* lpszBuffer,
                                              DWORD* lpdwBufferLength) = 0;

    // The calling thread's last error, set by every failing call.
    virtual DWORD GetLastError() = 0;

    // Watcher for long calls; null for none. Not owned.
    virtual void setCallWatcher(CallWatcher* watcher) = 0;

    // Our own addition: why the calling thread's last failed call failed, in
    // plain words ("Connection refused", "No space left on device", a TLS
    // verification failure); empty when the layer knows no more than the
    // error number, and after a call that succeeded.
    virtual std::string lastErrorDetail() = 0;
    // Our own addition: what the user must read after the calling thread's last call,
    // failed or not, even after a cancel (an upload names the files the server kept that it
    // could not remove, or the server file it left holding part of the new file; a cut
    // download tells how much arrived and that the next one continues); empty otherwise.
    virtual std::string lastNotice() = 0;

    // Our own addition: the certificate of the calling thread's last call when that was a
    // secure connect that failed (12045) only because no trusted authority issued the
    // certificate; nullopt after any other call.
    virtual std::optional<ServerCertificate> untrustedCertificate() { return std::nullopt; }
    // Our own addition: until the program ends, connections to the certificate's server
    // accept its public key, and only that key; the host name is still checked.
    virtual void trustForThisRun(const ServerCertificate& certificate) { (void)certificate; }

    // Our own addition: the host key of the calling thread's last call when that was an SSH
    // connect that failed (12045) only because no known_hosts file knows the host (nothing
    // was sent to it); nullopt after any other call. A key that differs from a known one
    // fails with 12169 (12170: marked revoked), its warning the call's detail, and is not
    // offered.
    virtual std::optional<SshHostKey> unknownHostKey() { return std::nullopt; }
    // Our own addition: until the program ends, connections to the key's host and port accept
    // this key while known_hosts knows none for them, and no other.
    virtual void trustHostKeyForThisRun(const SshHostKey& key) { (void)key; }
    // Our own addition: adds the key to ~/.ssh/known_hosts as ssh adds it (the host name
    // hashed). FALSE with the last error and detail when it could not be written.
    virtual BOOL rememberHostKey(const SshHostKey& key)
    {
        (void)key;
        return FALSE_;
    }
};

}  // namespace net
