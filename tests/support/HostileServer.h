#pragma once
// A scripted loopback FTP server that misbehaves on purpose (tests/support/hostile_server.py).
//
//   testsupport::HostileServer server("evil-names");
//   ASSERT_TRUE(server.running());
//   api.InternetConnectA(session, server.address().c_str(), 0, "user", "secret", 1, INTERNET_FLAG_PASSIVE, 0);
//   EXPECT_EQ(server.count("DELE"), 0);
//
// Any user and password log in. The server refuses EPSV and active mode and its
// 227 replies name 10.255.255.1, while it only accepts data connections on
// 127.0.0.1. It stops in the destructor, or by itself after `lifetimeSeconds`.

#include <QProcess>
#include <QTemporaryDir>

#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

class HostileServer {
public:
    // `modes`: the "disk" scenario's comma-separated modes (see hostile_server.py).
    explicit HostileServer(const std::string& scenario, int lifetimeSeconds = 120, const std::string& modes = {});
    ~HostileServer();
    HostileServer(const HostileServer&) = delete;
    HostileServer& operator=(const HostileServer&) = delete;

    bool running() const { return m_port != 0; }
    int port() const { return m_port; }
    std::string address() const;  // "127.0.0.1:<port>"

    // Commands received so far, one per line ("PASS ******"; control bytes as \xNN).
    std::vector<std::string> commands() const;
    std::string commandLog() const;
    // How many commands start with `verb` as a whole word.
    int count(std::string_view verb) const;
    // The "disk" scenario's folder: what the server stored.
    std::string diskPath() const;

private:
    QTemporaryDir m_logDir;
    QProcess m_process;
    int m_port = 0;
};

}  // namespace testsupport
