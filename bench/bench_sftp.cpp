// A 256 MiB file down and up over SFTP through the layer (FtpGetFileA / FtpPutFileA on an
// "sftp://" connection), next to the curl command-line client and OpenSSH's sftp client
// moving the same file from and to the same OpenSSH server (sshd on a loopback port, key
// logins, a temporary HOME). Runs alternate between the three. Without sshd or sftp it
// says so and measures nothing.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "BenchSsh.h"
#include "net/CurlInternet.h"

namespace {

constexpr const char* kBench = "sftp";
constexpr std::int64_t kMiB = 1024 * 1024;
constexpr std::int64_t kSize = 256 * kMiB;
constexpr int kRuns = 5;

double mibPerSecond(double seconds) { return seconds > 0 ? double(kSize) / kMiB / seconds : 0; }

bool sizeIs(const QString& path) { return QFileInfo(path).size() == kSize; }

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (!bench::sshToolsHere(kBench))
        return 0;
    QTemporaryDir temp;  // removed at the end, with every big file in it
    const QString root = temp.filePath(QStringLiteral("srv"));
    const QString local = temp.filePath(QStringLiteral("local"));
    const bench::Sshd sshd(temp.filePath(QStringLiteral("home")), root);
    if (!temp.isValid() || !QDir().mkpath(local) || !sshd.ok())
        return 2;
    const testsupport::SshServer& server = sshd.server();
    const QString key = sshd.key();
    const QString knownHosts = sshd.knownHosts();
    const QString source = root + QStringLiteral("/big.bin");
    const QString original = local + QStringLiteral("/original.bin");
    if (!bench::writeRandomFile(source, kSize) || !QFile::copy(source, original)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(source));
        return 2;
    }
    net::CurlInternet api;
    const net::HINTERNET connection = sshd.connect(api);
    if (connection == 0)
        return 2;

    const QString url = QStringLiteral("sftp://%1%2/").arg(QString::fromStdString(server.address()), root);
    const QString user = QString::fromStdString(server.user());
    const QStringList curlLogin{QStringLiteral("-sS"), QStringLiteral("-k"), QStringLiteral("--key"), key,
                                QStringLiteral("--pubkey"), key + ".pub", QStringLiteral("-u"), user + ":"};
    const QStringList sftpLogin{QStringLiteral("-q"), QStringLiteral("-F"), QStringLiteral("/dev/null"),
                                QStringLiteral("-i"), key, QStringLiteral("-o"), "UserKnownHostsFile=" + knownHosts,
                                QStringLiteral("-o"), QStringLiteral("GlobalKnownHostsFile=/dev/null"),
                                QStringLiteral("-o"), QStringLiteral("BatchMode=yes"), QStringLiteral("-P"),
                                QString::number(server.port())};
    const QString target = user + QStringLiteral("@127.0.0.1");
    const auto batch = [&](const QString& file, const QString& command) {
        QFile f(temp.filePath(file));
        return f.open(QIODevice::WriteOnly) && f.write((command + "\n").toUtf8()) > 0 ? f.fileName() : QString();
    };
    const QString getBatch = batch("get.batch", "@get " + source + " " + local + "/sftp.bin");  // '@': not echoed
    const QString putBatch = batch("put.batch", "@put " + original + " " + root + "/up-sftp.bin");
    const QString sftp = QStringLiteral("/usr/bin/sftp");
    const QString curl = QStringLiteral("/usr/bin/curl");

    std::vector<double> layerDown, curlDown, sftpDown, layerUp, curlUp, sftpUp;
    bool ok = true;
    for (int run = 0; run < kRuns && ok; ++run) {
        const QByteArray layerTarget = QFile::encodeName(local + QStringLiteral("/layer.bin"));
        auto start = bench::Clock::now();
        ok = api.FtpGetFileA(connection, "big.bin", layerTarget.constData(), 0, 0, net::FTP_TRANSFER_TYPE_BINARY, 0) != 0;
        layerDown.push_back(bench::secondsSince(start));
        ok = ok && sizeIs(QString::fromLocal8Bit(layerTarget));
        curlDown.push_back(bench::timeProgram(curl, QStringList(curlLogin) << "-o" << local + "/curl.bin" << url + "big.bin"));
        ok = ok && curlDown.back() > 0 && sizeIs(local + "/curl.bin");
        sftpDown.push_back(bench::timeProgram(sftp, QStringList(sftpLogin) << "-b" << getBatch << target));
        ok = ok && sftpDown.back() > 0 && sizeIs(local + "/sftp.bin");
        for (const char* file : {"/layer.bin", "/curl.bin", "/sftp.bin"})
            QFile::remove(local + file);

        const QByteArray originalName = QFile::encodeName(original);
        start = bench::Clock::now();
        ok = ok && api.FtpPutFileA(connection, originalName.constData(), "up-layer.bin", net::FTP_TRANSFER_TYPE_BINARY, 0);
        layerUp.push_back(bench::secondsSince(start));
        ok = ok && sizeIs(root + "/up-layer.bin");
        curlUp.push_back(bench::timeProgram(curl, QStringList(curlLogin) << "-T" << original << url + "up-curl.bin"));
        ok = ok && curlUp.back() > 0 && sizeIs(root + "/up-curl.bin");
        sftpUp.push_back(bench::timeProgram(sftp, QStringList(sftpLogin) << "-b" << putBatch << target));
        ok = ok && sftpUp.back() > 0 && sizeIs(root + "/up-sftp.bin");
        for (const char* file : {"/up-layer.bin", "/up-curl.bin", "/up-sftp.bin"})
            QFile::remove(root + file);
        if (!ok)
            std::fprintf(stderr, "run %d failed (layer error %u %s)\n", run, api.GetLastError(),
                         api.lastErrorDetail().c_str());
    }
    (void)api.InternetCloseHandle(connection);
    if (!ok)
        return 2;

    auto runs = [](const char* what, const std::vector<double>& seconds) {
        std::string text = std::string(what) + " runs (MiB/s):";
        for (const double s : seconds)
            text += " " + std::to_string(int(mibPerSecond(s) + 0.5));
        bench::note(kBench, text);
    };
    runs("layer download", layerDown);
    runs("curl download", curlDown);
    runs("sftp download", sftpDown);
    runs("layer upload", layerUp);
    runs("curl upload", curlUp);
    runs("sftp upload", sftpUp);
    double load[3] = {};
    if (::getloadavg(load, 3) > 0)
        bench::note(kBench, "load average " + std::to_string(load[0]) + " (other work on this machine adds noise)");

    const auto report = [](const char* way, const std::vector<double>& layer, const std::vector<double>& curlRuns,
                           const std::vector<double>& sftpRuns) {
        const double l = mibPerSecond(bench::median(layer));
        const double c = mibPerSecond(bench::median(curlRuns));
        const double s = mibPerSecond(bench::median(sftpRuns));
        const std::string w = way;
        bench::figure(kBench, w + "_layer_median", l, "MiB/s");
        bench::figure(kBench, w + "_curl_median", c, "MiB/s");
        bench::figure(kBench, w + "_sftp_median", s, "MiB/s");
        bench::figure(kBench, w + "_ratio_layer_to_curl", l / c, "x");
        bench::figure(kBench, w + "_ratio_layer_to_sftp", l / s, "x");
        bench::note(kBench, w + " target: at least 1.0 of curl and 0.9 of sftp: " +
                                (l / c >= 1.0 && l / s >= 0.9 ? "met" : "MISSED"));
    };
    report("download", layerDown, curlDown, sftpDown);
    report("upload", layerUp, curlUp, sftpUp);
    return 0;
}
