#pragma once
// Loopback SSH servers for tests, both serving a real folder over SFTP.
//
//   QTemporaryDir home;                          // the test's HOME: its .ssh, never the real one
//   testsupport::makeSshKey(home.filePath(".ssh/id_ed25519").toStdString());
//   testsupport::SshServer server(disk.path().toStdString(), {.authorizedKeys = {home.filePath(".ssh/id_ed25519.pub").toStdString()}});
//   ASSERT_TRUE(server.running());
//   // sftp://127.0.0.1:<port>/~/ is `root`; log in as server.user() with the key
//   EXPECT_EQ(server.count("posix-rename"), 0);
//
// SshServer runs OpenSSH's own server (/usr/sbin/sshd -D -e, no system service) with a
// configuration of its own on a free port of 127.0.0.1: host keys made for it, key logins
// only, for the user running the tests (root in CI), who starts in `root` (its real path:
// no change of root, as on a host that logs users into their home folder). Its SFTP server
// logs every request, one a line, which is the test's command log.
//
// ScriptedSftpServer runs tests/support/sftp_server.py: password logins for any user name,
// `root` served as "/", refusals and dropped connections by its modes (see the script).

#include <QProcess>
#include <QTemporaryDir>

#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

// Makes a key pair with ssh-keygen: `path` (private) and `path`.pub; the folder is made
// (0700) when missing. `type`: ed25519, ecdsa or rsa. True when both files exist.
bool makeSshKey(const std::string& path, const std::string& type = "ed25519", const std::string& passphrase = {});
// The public key line of a .pub file without its comment: "ssh-ed25519 AAAA...".
std::string publicKeyLine(const std::string& pubPath);

struct SshServerOptions {
    std::vector<std::string> hostKeyTypes = {"ed25519"};  // one host key per type, made at start
    std::vector<std::string> authorizedKeys;             // .pub files whose keys may log in
};

class SshServer {
public:
    explicit SshServer(std::string root, SshServerOptions options = {});
    ~SshServer();
    SshServer(const SshServer&) = delete;
    SshServer& operator=(const SshServer&) = delete;

    bool running() const { return m_port != 0; }
    int port() const { return m_port; }
    std::string address() const;  // "127.0.0.1:<port>"
    const std::string& root() const { return m_root; }
    const std::string& user() const { return m_user; }
    // The server's public host key of `type` as a key line ("ssh-ed25519 AAAA...") and its file.
    std::string hostKey(const std::string& type = "ed25519") const;
    std::string hostKeyFile(const std::string& type = "ed25519") const;

    // The SFTP server's log: "open \"<path>\" flags WRITE,CREATE,TRUNCATE mode 0644",
    // "rename old \"<a>\" new \"<b>\"", "sent status Failure"... (paths as real paths).
    std::string commandLog() const;
    std::vector<std::string> commands() const;
    int count(std::string_view verb) const;  // lines starting with `verb` as a whole word
    // sshd's own log: connections and logins ("Accepted publickey for root ...").
    std::string serverLog() const;

private:
    bool start();

    std::string m_root;
    SshServerOptions m_options;
    std::string m_user;
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
};

class ScriptedSftpServer {
public:
    // `modes`: the script's comma-separated modes; `hostKeyFile`: an OpenSSH private key
    // to serve (empty: a new ed25519 key, kept for this server's life).
    explicit ScriptedSftpServer(const std::string& modes = {}, const std::string& password = "secret",
                                const std::string& hostKeyFile = {}, int lifetimeSeconds = 120);
    ~ScriptedSftpServer();
    ScriptedSftpServer(const ScriptedSftpServer&) = delete;
    ScriptedSftpServer& operator=(const ScriptedSftpServer&) = delete;

    bool running() const { return m_port != 0; }
    int port() const { return m_port; }
    std::string address() const;  // "127.0.0.1:<port>"
    std::string diskPath() const; // the folder served as "/"
    std::string hostKey() const;  // "ssh-ed25519 AAAA..."

    // "connect", "auth <user> password ******", "open /<path> WRITE,CREAT,TRUNC", ...
    std::string commandLog() const;
    std::vector<std::string> commands() const;
    int count(std::string_view verb) const;

private:
    QTemporaryDir m_dir;
    std::string m_keyFile;
    QProcess m_process;
    int m_port = 0;
};

}  // namespace testsupport
