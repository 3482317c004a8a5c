// 3. Secure downloads ("ftps://", explicit TLS 1.2): a 256 MiB file through the layer
// (FtpGetFileA, binary) next to `curl --ssl-reqd --tls-max 1.2` moving the same file from
// the same server, and the time of a small download on the open connection. Then 100 small
// downloads on one connection, secure next to plain from a plain server serving the same
// folder: a secure data connection must not make each wait for its handshake. The server's
// certificate comes from an authority made at run time with openssl, trusted through
// SSL_CERT_FILE by the layer and --cacert by curl. Runs alternate between the two.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "net/CurlInternet.h"

namespace {

constexpr const char* kBench = "secure";
constexpr std::int64_t kMiB = 1024 * 1024;
constexpr std::int64_t kSize = 256 * kMiB;
constexpr int kRuns = 3;
constexpr int kSmallRuns = 9;
constexpr int kManySmall = 100;
const QByteArray kSmall = "fifteen bytes.\n";

bool openssl(const QStringList& args)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("openssl"), args);
    if (process.waitForStarted(10000) && process.waitForFinished(60000) &&
        process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    std::fprintf(stderr, "openssl %s failed: %s\n", qPrintable(args.join(' ')), process.readAll().constData());
    return false;
}

// A certificate authority and a server certificate for 127.0.0.1 signed by it, in `dir`.
bool makeCertificates(const QString& dir)
{
    const QStringList newKey{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    QFile ext(dir + "/server.ext");
    if (!ext.open(QIODevice::WriteOnly) ||
        ext.write("subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n") < 0)
        return false;
    ext.close();
    return openssl(QStringList{"req", "-x509"} + newKey +
                   QStringList{"-keyout", dir + "/ca.key", "-out", dir + "/ca.pem", "-days", "2", "-subj",
                               "/CN=Quillon Bench CA", "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
                               "keyUsage=critical,keyCertSign,cRLSign"}) &&
           openssl(QStringList{"req"} + newKey +
                   QStringList{"-keyout", dir + "/server.key", "-out", dir + "/server.csr", "-subj",
                               "/CN=127.0.0.1"}) &&
           openssl({"x509", "-req", "-in", dir + "/server.csr", "-CA", dir + "/ca.pem", "-CAkey", dir + "/ca.key",
                    "-set_serial", "2", "-days", "2", "-extfile", dir + "/server.ext", "-out", dir + "/server.pem"});
}

double mibPerSecond(double seconds) { return seconds > 0 ? double(kSize) / kMiB / seconds : 0; }

bool sizeIs(const QString& path, std::int64_t size) { return QFileInfo(path).size() == size; }

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QTemporaryDir temp;  // removed at the end, with every big file in it
    const QString root = temp.filePath(QStringLiteral("srv"));
    const QString local = temp.filePath(QStringLiteral("local"));
    const QString pki = temp.filePath(QStringLiteral("pki"));
    if (!temp.isValid() || !QDir().mkpath(root) || !QDir().mkpath(local) || !QDir().mkpath(pki) ||
        !QDir().mkpath(pki + "/empty")) {
        std::fprintf(stderr, "no temporary folder\n");
        return 2;
    }
    if (!makeCertificates(pki))
        return 2;
    const QString source = root + QStringLiteral("/big.bin");
    QFile small(root + QStringLiteral("/small.txt"));
    if (!bench::writeRandomFile(source, kSize) || !small.open(QIODevice::WriteOnly) || small.write(kSmall) != kSmall.size()) {
        std::fprintf(stderr, "could not write the files to serve\n");
        return 2;
    }
    small.close();

    bench::Server server(root, {QStringLiteral("--tls-cert"), pki + "/server.pem", QStringLiteral("--tls-key"),
                                pki + "/server.key"});
    if (!server.running()) {
        std::fprintf(stderr, "the FTP server did not start\n");
        return 2;
    }
    // The layer trusts exactly the bench authority.
    ::setenv("SSL_CERT_FILE", QFile::encodeName(pki + "/ca.pem").constData(), 1);
    ::setenv("SSL_CERT_DIR", QFile::encodeName(pki + "/empty").constData(), 1);

    net::CurlInternet api;
    const net::HINTERNET connection = bench::connectLayer(api, "ftps://" + server.address().toLatin1());
    if (connection == 0)
        return 2;

    const QString layerTarget = local + QStringLiteral("/layer.bin");
    const QString curlTarget = local + QStringLiteral("/curl.bin");
    const QByteArray layerTargetName = QFile::encodeName(layerTarget);
    const QString curl = QStringLiteral("/usr/bin/curl");
    const QStringList curlArgs{QStringLiteral("-s"),          QStringLiteral("--ssl-reqd"),
                               QStringLiteral("--tls-max"),   QStringLiteral("1.2"),
                               QStringLiteral("--cacert"),    pki + "/ca.pem",
                               QStringLiteral("-u"),          QStringLiteral("user:secret")};

    // Small downloads on the open connection, the layer's, then curl's (a new connection each).
    std::vector<double> layerSmall, curlSmall;
    bool ok = true;
    for (int run = 0; run < kSmallRuns && ok; ++run) {
        QFile::remove(layerTarget);
        const auto start = bench::Clock::now();
        ok = api.FtpGetFileA(connection, "small.txt", layerTargetName.constData(), 0, 0,
                             net::FTP_TRANSFER_TYPE_BINARY, 0) != 0;
        layerSmall.push_back(bench::secondsSince(start));
        ok = ok && sizeIs(layerTarget, kSmall.size());
        const double seconds = bench::timeProgram(
            curl, curlArgs + QStringList{server.url(QStringLiteral("/small.txt")), QStringLiteral("-o"), curlTarget});
        curlSmall.push_back(seconds);
        ok = ok && seconds > 0 && sizeIs(curlTarget, kSmall.size());
        if (!ok)
            std::fprintf(stderr, "small run %d failed (layer error %u)\n", run, api.GetLastError());
    }

    // Many small downloads on one connection each, secure and plain, alternating.
    bench::Server plainServer(root);
    const net::HINTERNET plain = plainServer.running() ? bench::connectLayer(api, plainServer.address().toLatin1()) : 0;
    ok = ok && plain != 0;
    std::vector<double> manySecure, manyPlain;
    for (int i = 0; i < kManySmall && ok; ++i) {
        for (const bool secure : {true, false}) {
            QFile::remove(layerTarget);
            const auto start = bench::Clock::now();
            ok = ok && api.FtpGetFileA(secure ? connection : plain, "small.txt", layerTargetName.constData(), 0, 0,
                                       net::FTP_TRANSFER_TYPE_BINARY, 0) != 0;
            (secure ? manySecure : manyPlain).push_back(bench::secondsSince(start));
        }
        if (!ok)
            std::fprintf(stderr, "small download %d failed (layer error %u)\n", i, api.GetLastError());
    }
    (void)api.InternetCloseHandle(plain);

    std::vector<double> layerDown, curlDown;
    for (int run = 0; run < kRuns && ok; ++run) {
        QFile::remove(layerTarget);
        ::sync();
        const auto start = bench::Clock::now();
        ok = api.FtpGetFileA(connection, "big.bin", layerTargetName.constData(), 0, 0,
                             net::FTP_TRANSFER_TYPE_BINARY, 0) != 0;
        layerDown.push_back(bench::secondsSince(start));
        ok = ok && sizeIs(layerTarget, kSize);
        QFile::remove(layerTarget);

        QFile::remove(curlTarget);
        ::sync();
        const double seconds = bench::timeProgram(
            curl, curlArgs + QStringList{server.url(QStringLiteral("/big.bin")), QStringLiteral("-o"), curlTarget});
        curlDown.push_back(seconds);
        ok = ok && seconds > 0 && sizeIs(curlTarget, kSize);
        QFile::remove(curlTarget);
        if (!ok)
            std::fprintf(stderr, "run %d failed (layer error %u)\n", run, api.GetLastError());
    }
    (void)api.InternetCloseHandle(connection);
    if (!ok)
        return 2;

    auto runs = [](const char* what, const std::vector<double>& seconds, bool rate) {
        std::string text = std::string(what) + (rate ? " runs (MiB/s):" : " runs (ms):");
        for (const double s : seconds)
            text += " " + std::to_string(int((rate ? mibPerSecond(s) : s * 1000) + 0.5));
        bench::note(kBench, text);
    };
    runs("layer small download", layerSmall, false);
    runs("curl small download", curlSmall, false);
    runs("layer download", layerDown, true);
    runs("curl download to file", curlDown, true);
    double load[3] = {};
    if (::getloadavg(load, 3) > 0)
        bench::note(kBench, "load average " + std::to_string(load[0]) + " (other work on this machine adds noise)");

    bench::figure(kBench, "small_download_layer_median", bench::median(layerSmall) * 1000, "ms");
    bench::figure(kBench, "small_download_curl_median", bench::median(curlSmall) * 1000, "ms");
    // A data connection's handshake costs a few ms here; a wait that missed it costs 20.
    bench::figure(kBench, "small_downloads_100_secure_median", bench::median(manySecure) * 1000, "ms");
    bench::figure(kBench, "small_downloads_100_plain_median", bench::median(manyPlain) * 1000, "ms");
    const double manyRatio = bench::median(manySecure) / bench::median(manyPlain);
    bench::figure(kBench, "small_downloads_ratio_secure_to_plain_time", manyRatio, "x");
    bench::note(kBench, std::string("small secure downloads goal: at most 10x plain: ") + (manyRatio <= 10 ? "met" : "MISSED"));
    const double ld = mibPerSecond(bench::median(layerDown));
    const double cd = mibPerSecond(bench::median(curlDown));
    bench::figure(kBench, "download_curl_to_file_median", cd, "MiB/s");
    bench::figure(kBench, "download_layer_to_file_median", ld, "MiB/s");
    bench::figure(kBench, "download_ratio_layer_to_curl", ld / cd, "x");
    bench::note(kBench, std::string("download target: at least the speed of curl: ") + (ld >= cd ? "met" : "MISSED"));
    return 0;
}
