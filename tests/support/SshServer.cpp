#include "SshServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FtpServer.h"

namespace testsupport {
namespace {

int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

// Whether an SSH server greets on the port within a second.
bool greets(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    char banner[8] = {};
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    pollfd p{fd, POLLIN, 0};
    ok = ok && ::poll(&p, 1, 1000) == 1 && ::recv(fd, banner, 7, MSG_WAITALL) == 7;
    ::close(fd);
    return ok && std::string_view(banner) == "SSH-2.0";
}

QString quoted(const QString& path) { return "'" + path + "'"; }

}  // namespace

bool makeSshKey(const std::string& path, const std::string& type, const std::string& passphrase)
{
    const QString file = QString::fromStdString(path);
    const QString folder = QFileInfo(file).absolutePath();
    if (!QFileInfo::exists(folder)) {
        QDir().mkpath(folder);
        ::chmod(QFile::encodeName(folder).constData(), 0700);
    }
    QProcess keygen;
    keygen.start(QStringLiteral("ssh-keygen"), {"-q", "-t", QString::fromStdString(type), "-N",
                                                QString::fromStdString(passphrase), "-C", "test", "-f", file});
    keygen.waitForFinished(30000);
    return QFileInfo::exists(file) && QFileInfo::exists(file + ".pub");
}

std::string publicKeyLine(const std::string& pubPath)
{
    const QList<QByteArray> words = QByteArray::fromStdString(readAll(QString::fromStdString(pubPath))).simplified().split(' ');
    return words.size() >= 2 ? (words[0] + ' ' + words[1]).toStdString() : std::string();
}

SshServer::SshServer(std::string root, SshServerOptions options) : m_root(std::move(root)), m_options(std::move(options))
{
    const passwd* pw = ::getpwuid(::geteuid());
    m_user = pw ? pw->pw_name : "root";
    if (::geteuid() == 0)
        ::mkdir("/run/sshd", 0755);  // sshd's privilege separation folder, missing when no service ran
    for (const std::string& type : m_options.hostKeyTypes)
        if (!makeSshKey(hostKeyFile(type).substr(0, hostKeyFile(type).size() - 4), type))
            return;
    QFile keys(m_dir.filePath("authorized_keys"));
    if (!keys.open(QIODevice::WriteOnly))
        return;
    for (const std::string& pub : m_options.authorizedKeys)
        keys.write(QByteArray::fromStdString(readAll(QString::fromStdString(pub))));
    keys.close();
    for (int attempt = 0; attempt < 3 && !start(); ++attempt) {
    }
}

bool SshServer::start()
{
    const int port = freePort();
    QString config = QStringLiteral("Port %1\nListenAddress 127.0.0.1\nPidFile none\n").arg(port);
    for (const std::string& type : m_options.hostKeyTypes) {
        const std::string pub = hostKeyFile(type);
        config += "HostKey " + QString::fromStdString(pub.substr(0, pub.size() - 4)) + "\n";
    }
    config += "AuthorizedKeysFile " + m_dir.filePath("authorized_keys") + "\n" +
              "AllowUsers " + QString::fromStdString(m_user) + "\n" +
              "UsePAM no\nStrictModes no\nPermitRootLogin prohibit-password\n"
              "PasswordAuthentication no\nKbdInteractiveAuthentication no\nLogLevel VERBOSE\n"
              // The SFTP server runs through the shell, so its log (-e: to stderr) goes to a file.
              "Subsystem sftp /usr/lib/openssh/sftp-server -e -l INFO -d " + quoted(QString::fromStdString(m_root)) +
              " 2>>" + quoted(m_dir.filePath("sftp.log")) + "\n";
    QFile file(m_dir.filePath("sshd_config"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.write(config.toUtf8());
    file.close();
    m_process.setStandardErrorFile(m_dir.filePath("sshd.log"), QIODevice::Append);
    m_process.start(QStringLiteral("/usr/sbin/sshd"), {"-D", "-e", "-f", file.fileName()});
    if (!m_process.waitForStarted(10000))
        return false;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000 && m_process.state() == QProcess::Running) {
        if (greets(port)) {
            m_port = port;
            return true;
        }
        QThread::msleep(20);
    }
    stopScript(m_process);
    return false;
}

SshServer::~SshServer() { stopScript(m_process); }

std::string SshServer::address() const { return "127.0.0.1:" + std::to_string(m_port); }

std::string SshServer::hostKeyFile(const std::string& type) const
{
    return m_dir.filePath(QString::fromStdString("host_" + type + ".pub")).toStdString();
}

std::string SshServer::hostKey(const std::string& type) const { return publicKeyLine(hostKeyFile(type)); }

std::string SshServer::commandLog() const { return readAll(m_dir.filePath("sftp.log")); }

std::vector<std::string> SshServer::commands() const { return splitLines(commandLog()); }

int SshServer::count(std::string_view verb) const { return countVerb(commands(), verb); }

std::string SshServer::serverLog() const { return readAll(m_dir.filePath("sshd.log")); }

ScriptedSftpServer::ScriptedSftpServer(const std::string& modes, const std::string& password,
                                       const std::string& hostKeyFile, int lifetimeSeconds)
    : m_keyFile(hostKeyFile.empty() ? m_dir.filePath("host_key").toStdString() : hostKeyFile)
{
    QDir(m_dir.path()).mkdir(QStringLiteral("disk"));
    m_port = startScript(m_process, QStringLiteral(QUILLON_SFTPSERVER_SCRIPT),
                         {"--root", m_dir.filePath("disk"), "--log", m_dir.filePath("commands.log"), "--host-key",
                          QString::fromStdString(m_keyFile), "--password", QString::fromStdString(password),
                          "--modes", QString::fromStdString(modes), "--lifetime", QString::number(lifetimeSeconds)});
}

ScriptedSftpServer::~ScriptedSftpServer() { stopScript(m_process); }

std::string ScriptedSftpServer::address() const { return "127.0.0.1:" + std::to_string(m_port); }

std::string ScriptedSftpServer::diskPath() const { return m_dir.filePath("disk").toStdString(); }

std::string ScriptedSftpServer::hostKey() const { return publicKeyLine(m_keyFile + ".pub"); }

std::string ScriptedSftpServer::commandLog() const { return readAll(m_dir.filePath("commands.log")); }

std::vector<std::string> ScriptedSftpServer::commands() const { return splitLines(commandLog()); }

int ScriptedSftpServer::count(std::string_view verb) const { return countVerb(commands(), verb); }

}  // namespace testsupport
