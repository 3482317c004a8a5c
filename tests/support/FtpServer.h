#pragma once
// Loopback FTP servers for tests.
//
//   testsupport::FtpServer server(dir.path().toStdString());   // user "user", password "secret"
//   ASSERT_TRUE(server.running());
//   api.InternetConnectA(session, server.address().c_str(), 0, "user", "secret", 1, 0, 0);
//   EXPECT_EQ(server.count("USER"), 1);
//
// FtpServer runs tests/support/ftpserver.py (pyftpdlib, /usr/bin/python3) on a free
// port of 127.0.0.1, serving `root`; FtpGateway runs tests/support/ftpgateway.py, a
// TIS-style gateway (log in as "user@host:port"). Both stop in the destructor.

#include <QProcess>
#include <QTemporaryDir>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

struct FtpServerOptions {
    std::string user = "user";      // empty: no named account
    std::string password = "secret";
    bool anonymous = false;         // also accept "anonymous" (read-only: list and download)
    bool mlsd = true;               // false: no MLSD/MLST, FEAT does not offer them (clients use LIST)
    bool dots = false;              // listings show "." and ".." (MLSD: type=cdir, type=pdir)
    std::string permissions = "elradfmwMT";  // the named account's rights ('f': rename, 'd': delete)
    bool renameOntoExisting = true; // false: RNTO onto an existing name is refused with 550
    bool dotFiles = true;           // false: STOR of a name starting with '.' is refused with 550
    int uploadRate = 0;             // bytes a second the server takes on uploads (0: no limit)
    // PEM files: set, the server speaks explicit TLS (AUTH TLS) and requires it on the
    // control and the data connections (USER/PASS and PASV are refused before it).
    std::string tlsCertificate;     // the certificate chain (may hold the key too)
    std::string tlsKey;             // empty: the key is in tlsCertificate
    // Set: the session starts in this folder (PWD names it), "/" stays the served root,
    // as on hosts that log users into their home folder without a change of root.
    std::string loginFolder;
    // TYPE A is accepted but nothing is converted: the bytes of an ASCII transfer are
    // stored and sent as they are, so the disk shows what went over the wire.
    bool rawAscii = false;
    std::string tlsMinimum;         // "1.3": older TLS versions are refused; empty: TLS 1.2 and 1.3
    // A data connection's TLS handshake is answered only once the transfer command has come.
    bool tlsDataAfterCommand = false;
    std::string tlsDataCertificate; // set: data connections show this certificate (and tlsDataKey)
    std::string tlsDataKey;
    int port = 0;                   // 0: a free one; set: listen there (a server started again)
};

class FtpServer {
public:
    explicit FtpServer(std::string root, FtpServerOptions options = {});
    ~FtpServer();
    FtpServer(const FtpServer&) = delete;
    FtpServer& operator=(const FtpServer&) = delete;

    bool running() const { return m_port != 0; }
    int port() const { return m_port; }
    std::string address() const;          // "127.0.0.1:<port>"
    const std::string& root() const { return m_root; }
    const FtpServerOptions& options() const { return m_options; }

    // Commands received so far, one per line ("PASS ******" for passwords), all connections.
    std::string commandLog() const;
    std::vector<std::string> commands() const;
    // How many received commands start with `verb` as a whole word ("USER", "CWD", "RETR"...).
    int count(std::string_view verb) const;
    void clearLog();
    // TLS servers: one line per secured connection, "control TLSv1.2" or "data TLSv1.3".
    std::string tlsLog() const;

private:
    std::string m_root;
    FtpServerOptions m_options;
    QTemporaryDir m_logDir;
    QProcess m_process;
    int m_port = 0;
};

class FtpGateway {
public:
    FtpGateway();
    ~FtpGateway();
    FtpGateway(const FtpGateway&) = delete;
    FtpGateway& operator=(const FtpGateway&) = delete;

    bool running() const { return m_port != 0; }
    int port() const { return m_port; }
    std::string address() const;          // "127.0.0.1:<port>"
    // The "USER user@host[:port]" lines the gateway received, one per line.
    std::string log() const;

private:
    QTemporaryDir m_logDir;
    QProcess m_process;
    int m_port = 0;
};

// Runs a server script with /usr/bin/python3 and reads "PORT <n>" from its first
// output line; 0 when it did not start.
int startScript(QProcess& process, const QString& script, const QStringList& args);
void stopScript(QProcess& process);
std::string readAll(const QString& path);
// How many commands start with `verb` as a whole word, in any letter case.
int countVerb(const std::vector<std::string>& commands, std::string_view verb);

// Splits a log into its lines (no line ends).
std::vector<std::string> splitLines(const std::string& text);

// Sets (or, with nullopt, unsets) an environment variable; the old state comes back on destruction.
class ScopedEnv {
public:
    ScopedEnv(std::string name, const std::optional<std::string>& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

}  // namespace testsupport
