#pragma once
// OpenSSH's sshd for the benchmarks, started as the tests start it (tests/support/SshServer.h):
// HOME becomes a folder of its own with a key, and a known_hosts that holds the server's key;
// the layer connects by that key.

#include <QString>

#include <memory>

#include "SshServer.h"
#include "net/InternetApi.h"

namespace bench {

class Sshd {
public:
    // Serves `root` (made when missing); `home` becomes HOME. ok() false: it said why on stderr.
    Sshd(const QString& home, const QString& root);
    bool ok() const { return m_server && m_server->running(); }
    const testsupport::SshServer& server() const { return *m_server; }
    QString key() const { return m_home + QStringLiteral("/.ssh/id_ed25519"); }
    QString knownHosts() const { return m_home + QStringLiteral("/.ssh/known_hosts"); }
    // A connection of `api` to it whose current folder is `root`; 0 after saying why.
    net::HINTERNET connect(net::InternetApi& api) const;

private:
    QString m_home;
    QString m_root;
    std::unique_ptr<testsupport::SshServer> m_server;
};

// True when OpenSSH's server and tools are here; otherwise notes for `bench` what is missing.
bool sshToolsHere(const char* bench);

}  // namespace bench
