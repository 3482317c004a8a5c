#include "Daemon.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "BenchSupport.h"

namespace bench {
namespace {

// A free loopback port (a daemon takes it a moment later).
int freePort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (s >= 0 && ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    if (s >= 0)
        ::close(s);
    return port;
}

bool writeText(const QString& path, const QByteArray& text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size() && f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
}

}  // namespace

Daemon::Daemon(const QString& name, const QString& program, const QString& base) : m_name(name)
{
    const passwd* ftp = ::getpwnam("ftp");
    const int port = freePort();
    if (!ftp || port == 0)
        return;
    const QString home = base + (name == QLatin1String("vsftpd") ? QStringLiteral("/root/pub") : QStringLiteral("/home"));
    if (!QDir().mkpath(home) || ::chown(QFile::encodeName(home).constData(), ftp->pw_uid, ftp->pw_gid) != 0)
        return;
    const QByteArray p = QByteArray::number(port);
    const QByteArray b = QFile::encodeName(base);
    QStringList args;
    m_peer = {name, QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("user"), QStringLiteral("secret"),
              QStringLiteral("/"), home};
    if (name == QLatin1String("vsftpd")) {
        // Anonymous, as vsftpd serves virtual users only through PAM.
        m_peer.user = QStringLiteral("anonymous");
        m_peer.password.clear();
        m_peer.folder = QStringLiteral("/pub");
        if (!writeText(base + "/vsftpd.conf",
                       "listen=YES\nlisten_address=127.0.0.1\nlisten_port=" + p +
                           "\nbackground=NO\nanonymous_enable=YES\nlocal_enable=NO\nwrite_enable=YES\n"
                           "anon_upload_enable=YES\nanon_mkdir_write_enable=YES\nanon_other_write_enable=YES\nanon_umask=022\n"
                           "no_anon_password=YES\nseccomp_sandbox=NO\nxferlog_enable=NO\nanon_root=" + b +
                           "/root\nsecure_chroot_dir=" + b + "/empty\n") ||
            !QDir().mkpath(base + "/empty"))
            return;
        args = {base + "/vsftpd.conf"};
    } else if (name == QLatin1String("proftpd")) {
        const QByteArray uid = QByteArray::number(ftp->pw_uid), gid = QByteArray::number(ftp->pw_gid);
        const group* g = ::getgrgid(ftp->pw_gid);
        if (!g)
            return;
        // "secret", MD5-crypt
        if (!writeText(base + "/passwd", "user:$1$quillon$ZopDKCiebkHVl5KShNOUd0:" + uid + ":" + gid + "::" +
                                             QFile::encodeName(home) + ":/bin/sh\n") ||
            !writeText(base + "/group", QByteArray(g->gr_name) + ":x:" + gid + ":\n") ||
            !writeText(base + "/proftpd.conf",
                       "ServerType standalone\nDefaultServer on\nPort " + p +
                           "\nDefaultAddress 127.0.0.1\nUseIPv6 off\nUser ftp\nGroup " + g->gr_name +
                           "\nScoreboardFile " + b + "/scoreboard\nPidFile " + b +
                           "/pid\nDelayTable none\nWtmpLog off\nAuthOrder mod_auth_file.c\nAuthUserFile " + b +
                           "/passwd\nAuthGroupFile " + b +
                           "/group\nRequireValidShell off\nDefaultRoot ~\nAllowOverwrite on\n"
                           "TransferLog none\nUseReverseDNS off\nSystemLog " + b + "/log\n"))
            return;
        args = {QStringLiteral("-n"), QStringLiteral("-c"), base + "/proftpd.conf"};
    } else {
        QProcess pw;
        pw.start(QStandardPaths::findExecutable(QStringLiteral("pure-pw")),
                 {QStringLiteral("useradd"), QStringLiteral("user"), QStringLiteral("-u"), QStringLiteral("ftp"),
                  QStringLiteral("-d"), home, QStringLiteral("-f"), base + "/pw", QStringLiteral("-m"),
                  QStringLiteral("-F"), base + "/pw.pdb"});
        pw.write("secret\nsecret\n");
        pw.closeWriteChannel();
        if (!pw.waitForFinished(10000) || pw.exitCode() != 0)
            return;
        args = {QStringLiteral("-S"), QStringLiteral("127.0.0.1,") + p, QStringLiteral("-l"),
                QStringLiteral("puredb:") + base + "/pw.pdb", QStringLiteral("-E"), QStringLiteral("-A")};
    }
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    m_process.start(program, args);
    if (!m_process.waitForStarted(5000))
        return;
    for (int i = 0; i < 50 && !m_listening; ++i) {  // until it answers on its port
        QThread::msleep(100);
        m_listening = bench::timeProgram(QStringLiteral("/usr/bin/curl"),
                                         {QStringLiteral("-s"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
                                          QStringLiteral("-m"), QStringLiteral("2"),
                                          QStringLiteral("ftp://127.0.0.1:%1/").arg(port), QStringLiteral("-u"),
                                          m_peer.user + ":" + m_peer.password},
                                         3000) > 0;
    }
}

Daemon::~Daemon() { stopProcess(m_process); }

QList<QPair<QString, QString>> daemonsFound()
{
    QList<QPair<QString, QString>> found;
    const QStringList places{QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")};
    for (const QString& name : {QStringLiteral("vsftpd"), QStringLiteral("proftpd"), QStringLiteral("pure-ftpd")}) {
        QString program = QStandardPaths::findExecutable(name);
        if (program.isEmpty())
            program = QStandardPaths::findExecutable(name, places);
        if (!program.isEmpty())
            found.append({name, program});
    }
    return found;
}

}  // namespace bench
