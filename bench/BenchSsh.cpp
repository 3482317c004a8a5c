#include "BenchSsh.h"

#include <QDir>
#include <QFile>

#include <cstdio>
#include <string>

#include "BenchSupport.h"

namespace bench {

Sshd::Sshd(const QString& home, const QString& root) : m_home(home), m_root(root)
{
    if (!QDir().mkpath(root) || !testsupport::makeSshKey(key().toStdString())) {
        std::fprintf(stderr, "no folder or key for sshd\n");
        return;
    }
    qputenv("HOME", QFile::encodeName(home));  // the layer's ~/.ssh is this one
    qunsetenv("SSH_AUTH_SOCK");
    testsupport::SshServerOptions options{.authorizedKeys = {(key() + ".pub").toStdString()}};
    m_server = std::make_unique<testsupport::SshServer>(root.toStdString(), options);
    QFile file(knownHosts());
    if (!m_server->running() || !file.open(QIODevice::WriteOnly) ||
        file.write(QByteArray::fromStdString("[127.0.0.1]:" + std::to_string(m_server->port()) + " " +
                                             m_server->hostKey() + "\n")) <= 0) {
        std::fprintf(stderr, "sshd did not start\n");
        m_server.reset();
    }
}

net::HINTERNET Sshd::connect(net::InternetApi& api) const
{
    const net::HINTERNET session = api.InternetOpenA("bench", net::INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    const QByteArray name = QStringLiteral("sftp://%1").arg(QString::fromStdString(m_server->address())).toLatin1();
    const net::HINTERNET connection = api.InternetConnectA(session, name.constData(), 0, m_server->user().c_str(), "",
                                                           net::INTERNET_SERVICE_FTP, 0, 0);
    if (connection == 0 || !api.FtpSetCurrentDirectoryA(connection, QFile::encodeName(m_root).constData())) {
        std::fprintf(stderr, "the layer did not connect: %u %s\n", api.GetLastError(), api.lastErrorDetail().c_str());
        return 0;
    }
    return connection;
}

bool sshToolsHere(const char* bench)
{
    for (const char* tool : {"/usr/sbin/sshd", "/usr/bin/sftp", "/usr/bin/ssh-keygen"})
        if (!QFile::exists(QString::fromLatin1(tool))) {
            note(bench, std::string("skipped: ") + tool + " is missing (Debian: openssh-server, openssh-client)");
            return false;
        }
    return true;
}

}  // namespace bench
