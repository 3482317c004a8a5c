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
#include <QTemporaryDir>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Daemon.h"
#include "net/CurlInternet.h"

namespace {

constexpr const char* kBench = "replace";
constexpr std::int64_t kMiB = 1024 * 1024;
constexpr std::int64_t kSize = 256 * kMiB;
constexpr int kRuns = 3;

double mibPerSecond(double seconds) { return seconds > 0 ? double(kSize) / kMiB / seconds : 0; }


// Alternating runs on one server; false when a run failed.
bool measure(const bench::Peer& peer, const QString& source)
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
    for (const auto& [name, program] : bench::daemonsFound()) {
        if (::geteuid() != 0) {
            bench::note(kBench, name.toStdString() + " found, not measured: it must be started as root");
            continue;
        }
        // The daemons reach the login's folder as "ftp": the temporary folder lets them through.
        (void)!::chmod(QFile::encodeName(temp.path()).constData(), 0711);
        const bench::Daemon daemon(name, program, temp.filePath(name));
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
