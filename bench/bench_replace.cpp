// 7. Re-uploading over an existing 256 MiB server file through the layer (FtpPutFileA,
// binary: a temporary name, then the rename, and the old file's mode asked and given
// back), next to the curl command-line client's "curl -T" over the same kind of file
// (written in place). Runs alternate between the two. First on the benchmarks' own
// server, then on each FTP daemon found on this machine (vsftpd, proftpd, pure-ftpd:
// run as root, each on a loopback port with a configuration of its own, stopped after).

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "net/CurlInternet.h"

namespace {

constexpr const char* kBench = "replace";
constexpr std::int64_t kMiB = 1024 * 1024;
constexpr std::int64_t kSize = 256 * kMiB;
constexpr int kRuns = 3;

double mibPerSecond(double seconds) { return seconds > 0 ? double(kSize) / kMiB / seconds : 0; }

// Where a server keeps the two files and how to log in to it.
struct Peer {
    QString name;      // "" for the benchmarks' own server
    QString address;   // "127.0.0.1:port"
    QString user;
    QString password;
    QString folder;    // on the server: "/..." with the two files
    QString diskFolder;
};

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

// A daemon found on this machine, started in `base`: the login's folder belongs to the
// unprivileged user "ftp", as the daemons serve files as that user.
class Daemon {
public:
    Daemon(const QString& name, const QString& program, const QString& base) : m_name(name)
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
                               "anon_upload_enable=YES\nanon_other_write_enable=YES\nanon_umask=022\n"
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
    ~Daemon()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    bool running() const { return m_listening; }
    const Peer& peer() const { return m_peer; }

private:
    QString m_name;
    Peer m_peer;
    QProcess m_process;
    bool m_listening = false;
};

// Alternating runs on one server; false when a run failed.
bool measure(const Peer& peer, const QString& source)
{
    const QString layerTarget = peer.diskFolder + QStringLiteral("/layer.bin");
    const QString curlTarget = peer.diskFolder + QStringLiteral("/curl.bin");
    if (!bench::writeRandomFile(layerTarget, kSize) || !QFile::copy(layerTarget, curlTarget)) {
        std::fprintf(stderr, "could not write the files\n");
        return false;
    }
    if (const passwd* ftp = ::getpwnam("ftp"); ftp && !peer.name.isEmpty())
        for (const QString& path : {layerTarget, curlTarget})
            (void)!::chown(QFile::encodeName(path).constData(), ftp->pw_uid, ftp->pw_gid);
    net::CurlInternet api;
    const net::HINTERNET session = api.InternetOpenA("bench", net::INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    const net::HINTERNET connection =
        api.InternetConnectA(session, peer.address.toLatin1().constData(), 0, peer.user.toLatin1().constData(),
                             peer.password.toLatin1().constData(), net::INTERNET_SERVICE_FTP, net::INTERNET_FLAG_PASSIVE, 0);
    if (connection == 0) {
        std::fprintf(stderr, "the layer did not connect: %u\n", api.GetLastError());
        return false;
    }
    const QByteArray sourceName = QFile::encodeName(source);
    const QByteArray remote = (peer.folder == QLatin1String("/") ? QString() : peer.folder).toLatin1() + "/layer.bin";
    const QString curlUrl = QStringLiteral("ftp://%1%2/curl.bin").arg(peer.address, peer.folder == "/" ? QString() : peer.folder);
    std::vector<double> layer, curl;
    bool ok = true;
    for (int run = 0; run < kRuns && ok; ++run) {
        ::sync();
        const auto start = bench::Clock::now();
        ok = api.FtpPutFileA(connection, sourceName.constData(), remote.constData(), net::FTP_TRANSFER_TYPE_BINARY, 0) != 0;
        layer.push_back(bench::secondsSince(start));
        ok = ok && QFileInfo(layerTarget).size() == kSize;
        ::sync();
        const double up = bench::timeProgram(QStringLiteral("/usr/bin/curl"),
                                             {QStringLiteral("-s"), QStringLiteral("-u"), peer.user + ":" + peer.password,
                                              QStringLiteral("-T"), source, curlUrl});
        curl.push_back(up);
        ok = ok && up > 0 && QFileInfo(curlTarget).size() == kSize;
        if (!ok)
            std::fprintf(stderr, "run %d failed (layer error %u: %s)\n", run, api.GetLastError(),
                         api.lastErrorDetail().c_str());
    }
    (void)api.InternetCloseHandle(connection);
    (void)api.InternetCloseHandle(session);
    QFile::remove(layerTarget);
    QFile::remove(curlTarget);
    if (!ok)
        return false;

    const std::string suffix = peer.name.isEmpty() ? "" : "_" + peer.name.toStdString();
    std::string text = (peer.name.isEmpty() ? "" : peer.name.toStdString() + " ") + "runs (MiB/s), layer then curl:";
    for (std::size_t i = 0; i < layer.size(); ++i)
        text += " " + std::to_string(int(mibPerSecond(layer[i]) + 0.5)) + "/" +
                std::to_string(int(mibPerSecond(curl[i]) + 0.5));
    bench::note(kBench, text);
    const double l = mibPerSecond(bench::median(layer));
    const double c = mibPerSecond(bench::median(curl));
    bench::figure(kBench, "reupload_curl_median" + suffix, c, "MiB/s");
    bench::figure(kBench, "reupload_layer_median" + suffix, l, "MiB/s");
    bench::figure(kBench, "reupload_ratio_layer_to_curl" + suffix, l / c, "x");
    bench::note(kBench, std::string("re-upload target: at least 1.0 of curl -T: ") + (l / c >= 1.0 ? "met" : "MISSED"));
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QTemporaryDir temp;  // removed at the end, with every big file in it
    const QString root = temp.filePath(QStringLiteral("srv"));
    const QString source = temp.filePath(QStringLiteral("new.bin"));
    if (!temp.isValid() || !QDir().mkpath(root) || !bench::writeRandomFile(source, kSize)) {
        std::fprintf(stderr, "could not write the files\n");
        return 2;
    }
    bool ok = true;
    {
        bench::Server server(root);
        if (!server.running()) {
            std::fprintf(stderr, "the FTP server did not start\n");
            return 2;
        }
        ok = measure({QString(), server.address(), QStringLiteral("user"), QStringLiteral("secret"), QStringLiteral("/"), root},
                     source);
    }
    const QStringList places{QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")};
    for (const QString& name : {QStringLiteral("vsftpd"), QStringLiteral("proftpd"), QStringLiteral("pure-ftpd")}) {
        QString program = QStandardPaths::findExecutable(name);
        if (program.isEmpty())
            program = QStandardPaths::findExecutable(name, places);
        if (program.isEmpty())
            continue;
        if (::geteuid() != 0) {
            bench::note(kBench, name.toStdString() + " found, not measured: it must be started as root");
            continue;
        }
        // The daemons reach the login's folder as "ftp": the temporary folder lets them through.
        (void)!::chmod(QFile::encodeName(temp.path()).constData(), 0711);
        const Daemon daemon(name, program, temp.filePath(name));
        if (!daemon.running()) {
            bench::note(kBench, name.toStdString() + " found, but it did not start");
            continue;
        }
        ok = measure(daemon.peer(), source) && ok;
    }
    double load[3] = {};
    if (::getloadavg(load, 3) > 0)
        bench::note(kBench, "load average " + std::to_string(load[0]) + " (other work on this machine adds noise)");
    return ok ? 0 : 2;
}
