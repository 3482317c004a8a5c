// 2. A 512 MiB file down and up through the layer (FtpGetFileA / FtpPutFileA,
// binary), next to the curl command-line client moving the same file from and
// to the same server. Runs alternate between the two so both see the same
// server and page-cache conditions.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
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

constexpr const char* kBench = "transfer";
constexpr std::int64_t kMiB = 1024 * 1024;
constexpr std::int64_t kSize = 512 * kMiB;
constexpr int kRuns = 3;

double mibPerSecond(double seconds) { return seconds > 0 ? double(kSize) / kMiB / seconds : 0; }

bool sizeIs(const QString& path) { return QFileInfo(path).size() == kSize; }

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QTemporaryDir temp;  // removed at the end, with every big file in it
    const QString root = temp.filePath(QStringLiteral("srv"));
    const QString local = temp.filePath(QStringLiteral("local"));
    if (!temp.isValid() || !QDir().mkpath(root) || !QDir().mkpath(local)) {
        std::fprintf(stderr, "no temporary folder\n");
        return 2;
    }
    const QString source = root + QStringLiteral("/big.bin");
    if (!bench::writeRandomFile(source, kSize)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(source));
        return 2;
    }

    bench::Server server(root);
    net::CurlInternet api;
    const net::HINTERNET connection = bench::connectLayer(api, server);
    if (connection == 0)
        return 2;

    const QString layerTarget = local + QStringLiteral("/layer.bin");
    const QString curlTarget = local + QStringLiteral("/curl.bin");
    const QByteArray layerTargetName = QFile::encodeName(layerTarget);
    const QByteArray sourceName = QFile::encodeName(source);
    const QString curl = QStringLiteral("/usr/bin/curl");
    const QString userArg = QStringLiteral("user:secret");

    std::vector<double> layerDown, layerDownSync, curlDownFile, curlDownNull, layerUp, curlUp;
    bool ok = true;
    for (int run = 0; run < kRuns && ok; ++run) {
        // Downloads. Targets are removed before each run so every run writes a new file.
        QFile::remove(layerTarget);
        ::sync();
        auto start = bench::Clock::now();
        ok = api.FtpGetFileA(connection, "big.bin", layerTargetName.constData(), 0, 0,
                             net::FTP_TRANSFER_TYPE_BINARY, 0) != 0;
        layerDown.push_back(bench::secondsSince(start));
        ok = ok && sizeIs(layerTarget);

        QFile::remove(curlTarget);
        ::sync();
        const double toFile = bench::timeProgram(
            curl, {QStringLiteral("-s"), QStringLiteral("-u"), userArg, server.url(QStringLiteral("/big.bin")),
                   QStringLiteral("-o"), curlTarget});
        curlDownFile.push_back(toFile);
        ok = ok && toFile > 0 && sizeIs(curlTarget);
        QFile::remove(curlTarget);
        ::sync();

        const double toNull = bench::timeProgram(
            curl, {QStringLiteral("-s"), QStringLiteral("-u"), userArg, server.url(QStringLiteral("/big.bin")),
                   QStringLiteral("-o"), QStringLiteral("/dev/null")});
        curlDownNull.push_back(toNull);
        ok = ok && toNull > 0;

        // As the Download button asks: FILE_FLAG_WRITE_THROUGH (the file is synced before it is renamed).
        QFile::remove(layerTarget);
        ::sync();
        start = bench::Clock::now();
        ok = ok && api.FtpGetFileA(connection, "big.bin", layerTargetName.constData(), 0,
                                   net::FILE_FLAG_WRITE_THROUGH, net::FTP_TRANSFER_TYPE_BINARY, 0) != 0;
        layerDownSync.push_back(bench::secondsSince(start));
        QFile::remove(layerTarget);

        // Uploads of the same file to new names on the server.
        QFile::remove(root + QStringLiteral("/up-layer.bin"));
        ::sync();
        start = bench::Clock::now();
        ok = ok && api.FtpPutFileA(connection, sourceName.constData(), "up-layer.bin",
                                   net::FTP_TRANSFER_TYPE_BINARY, 0) != 0;
        layerUp.push_back(bench::secondsSince(start));
        ok = ok && sizeIs(root + QStringLiteral("/up-layer.bin"));
        QFile::remove(root + QStringLiteral("/up-layer.bin"));

        QFile::remove(root + QStringLiteral("/up-curl.bin"));
        ::sync();
        const double up = bench::timeProgram(
            curl, {QStringLiteral("-s"), QStringLiteral("-u"), userArg, QStringLiteral("-T"), source,
                   server.url(QStringLiteral("/up-curl.bin"))});
        curlUp.push_back(up);
        ok = ok && up > 0 && sizeIs(root + QStringLiteral("/up-curl.bin"));
        QFile::remove(root + QStringLiteral("/up-curl.bin"));
        if (!ok)
            std::fprintf(stderr, "run %d failed (layer error %u)\n", run, api.GetLastError());
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
    runs("curl download to file", curlDownFile);
    runs("layer upload", layerUp);
    runs("curl upload", curlUp);
    double load[3] = {};
    if (::getloadavg(load, 3) > 0)
        bench::note(kBench, "load average " + std::to_string(load[0]) + " (other work on this machine adds noise)");

    const double ld = mibPerSecond(bench::median(layerDown));
    const double cd = mibPerSecond(bench::median(curlDownFile));
    const double lu = mibPerSecond(bench::median(layerUp));
    const double cu = mibPerSecond(bench::median(curlUp));
    bench::figure(kBench, "download_curl_to_file_median", cd, "MiB/s");
    bench::figure(kBench, "download_layer_to_file_median", ld, "MiB/s");
    bench::figure(kBench, "download_ratio_layer_to_curl", ld / cd, "x");
    bench::note(kBench, std::string("download target: at least 0.9 of curl: ") + (ld / cd >= 0.9 ? "met" : "MISSED"));
    bench::figure(kBench, "download_curl_to_devnull_median", mibPerSecond(bench::median(curlDownNull)), "MiB/s");
    bench::figure(kBench, "download_layer_write_through_median", mibPerSecond(bench::median(layerDownSync)),
                  "MiB/s");
    bench::figure(kBench, "upload_curl_median", cu, "MiB/s");
    bench::figure(kBench, "upload_layer_median", lu, "MiB/s");
    bench::figure(kBench, "upload_ratio_layer_to_curl", lu / cu, "x");
    bench::note(kBench, std::string("upload target: at least 0.9 of curl: ") + (lu / cu >= 0.9 ? "met" : "MISSED"));
    return 0;
}
