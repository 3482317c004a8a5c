// 7. Re-uploading over an existing 256 MiB server file through the layer (FtpPutFileA,
// binary: a temporary name, then the rename, and the old file's mode asked and given
// back), next to the curl command-line client's "curl -T" over the same kind of file
// (written in place). Runs alternate between the two.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
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

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QTemporaryDir temp;  // removed at the end, with every big file in it
    const QString root = temp.filePath(QStringLiteral("srv"));
    const QString source = temp.filePath(QStringLiteral("new.bin"));
    const QString layerTarget = root + QStringLiteral("/layer.bin");
    const QString curlTarget = root + QStringLiteral("/curl.bin");
    if (!temp.isValid() || !QDir().mkpath(root) || !bench::writeRandomFile(source, kSize) ||
        !bench::writeRandomFile(layerTarget, kSize) || !QFile::copy(layerTarget, curlTarget)) {
        std::fprintf(stderr, "could not write the files\n");
        return 2;
    }
    bench::Server server(root);
    if (!server.running()) {
        std::fprintf(stderr, "the FTP server did not start\n");
        return 2;
    }
    net::CurlInternet api;
    const net::HINTERNET connection = bench::connectLayer(api, server.address().toLatin1());
    if (connection == 0)
        return 2;
    const QByteArray sourceName = QFile::encodeName(source);

    std::vector<double> layer, curl;
    bool ok = true;
    for (int run = 0; run < kRuns && ok; ++run) {
        ::sync();
        const auto start = bench::Clock::now();
        ok = api.FtpPutFileA(connection, sourceName.constData(), "layer.bin", net::FTP_TRANSFER_TYPE_BINARY, 0) != 0;
        layer.push_back(bench::secondsSince(start));
        ok = ok && QFileInfo(layerTarget).size() == kSize;
        ::sync();
        const double up = bench::timeProgram(
            QStringLiteral("/usr/bin/curl"), {QStringLiteral("-s"), QStringLiteral("-u"), QStringLiteral("user:secret"),
                                               QStringLiteral("-T"), source, server.url(QStringLiteral("/curl.bin"))});
        curl.push_back(up);
        ok = ok && up > 0 && QFileInfo(curlTarget).size() == kSize;
        if (!ok)
            std::fprintf(stderr, "run %d failed (layer error %u)\n", run, api.GetLastError());
    }
    (void)api.InternetCloseHandle(connection);
    if (!ok)
        return 2;

    std::string text = "runs (MiB/s), layer then curl:";
    for (std::size_t i = 0; i < layer.size(); ++i)
        text += " " + std::to_string(int(mibPerSecond(layer[i]) + 0.5)) + "/" +
                std::to_string(int(mibPerSecond(curl[i]) + 0.5));
    bench::note(kBench, text);
    double load[3] = {};
    if (::getloadavg(load, 3) > 0)
        bench::note(kBench, "load average " + std::to_string(load[0]) + " (other work on this machine adds noise)");
    const double l = mibPerSecond(bench::median(layer));
    const double c = mibPerSecond(bench::median(curl));
    bench::figure(kBench, "reupload_curl_median", c, "MiB/s");
    bench::figure(kBench, "reupload_layer_median", l, "MiB/s");
    bench::figure(kBench, "reupload_ratio_layer_to_curl", l / c, "x");
    bench::note(kBench, std::string("re-upload target: at least 1.0 of curl -T: ") + (l / c >= 1.0 ? "met" : "MISSED"));
    return 0;
}
