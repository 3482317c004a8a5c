// 8. A download that continues a part cut at 90 % of a 256 MiB file, next to the whole
// download of the same file from the same server, as the Download button asks for them
// (write-through). The server is the tests' scripted one on a real folder: it cuts the
// first transfer of each run after 90 % of the file. Runs alternate between the two.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "net/CurlInternet.h"

namespace {

constexpr const char* kBench = "resume";
constexpr std::int64_t kMiB = 1024 * 1024;
constexpr std::int64_t kSize = 256 * kMiB;
constexpr std::int64_t kCut = kSize / 10 * 9;
constexpr int kRuns = 3;

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QTemporaryDir temp;  // removed at the end, with every big file in it
    const QString root = temp.filePath(QStringLiteral("srv"));
    const QString local = temp.filePath(QStringLiteral("local"));
    if (!temp.isValid() || !QDir().mkpath(root) || !QDir().mkpath(local) ||
        !bench::writeRandomFile(root + QStringLiteral("/big.bin"), kSize)) {
        std::fprintf(stderr, "no temporary folder or file\n");
        return 2;
    }
    const QByteArray whole = QFile::encodeName(local + QStringLiteral("/whole.bin"));
    const QByteArray resumed = QFile::encodeName(local + QStringLiteral("/resumed.bin"));
    auto download = [](net::CurlInternet& api, net::HINTERNET connection, const QByteArray& target) {
        return api.FtpGetFileA(connection, "big.bin", target.constData(), 0, net::FILE_FLAG_WRITE_THROUGH,
                               net::FTP_TRANSFER_TYPE_BINARY, 0) != 0;
    };

    std::vector<double> wholeSeconds, resumeSeconds;
    for (int run = 0; run < kRuns; ++run) {
        const bench::ScriptedServer server({QStringLiteral("--scenario"), QStringLiteral("disk"), QStringLiteral("--log"),
                                            temp.filePath(QStringLiteral("log")), QStringLiteral("--root"), root,
                                            QStringLiteral("--modes"), QStringLiteral("cut-%1").arg(kCut)});
        net::CurlInternet api;
        const net::HINTERNET connection = bench::connectLayer(api, server.address());
        if (connection == 0)
            return 2;
        if (download(api, connection, resumed) || api.lastNotice().empty()) {
            std::fprintf(stderr, "run %d: the cut download kept no part (error %u)\n", run, api.GetLastError());
            return 2;
        }
        ::sync();
        auto start = bench::Clock::now();
        bool ok = download(api, connection, whole);
        wholeSeconds.push_back(bench::secondsSince(start));
        ok = ok && QFileInfo(QString::fromLocal8Bit(whole)).size() == kSize;
        QFile::remove(QString::fromLocal8Bit(whole));
        ::sync();
        start = bench::Clock::now();
        ok = ok && download(api, connection, resumed);
        resumeSeconds.push_back(bench::secondsSince(start));
        ok = ok && QFileInfo(QString::fromLocal8Bit(resumed)).size() == kSize;
        QFile::remove(QString::fromLocal8Bit(resumed));
        (void)api.InternetCloseHandle(connection);
        if (!ok) {
            std::fprintf(stderr, "run %d failed (layer error %u: %s)\n", run, api.GetLastError(),
                         api.lastErrorDetail().c_str());
            return 2;
        }
    }
    std::string text = "runs (whole s / resumed s):";
    for (int run = 0; run < kRuns; ++run)
        text += " " + std::to_string(wholeSeconds[run]) + "/" + std::to_string(resumeSeconds[run]);
    bench::note(kBench, text);
    const double w = bench::median(wholeSeconds);
    const double r = bench::median(resumeSeconds);
    bench::figure(kBench, "whole_download_median", w, "s");
    bench::figure(kBench, "resume_at_90_percent_median", r, "s");
    bench::figure(kBench, "ratio_resume_to_whole", r / w, "x");
    bench::note(kBench, std::string("target: at most 0.2: ") + (r / w <= 0.2 ? "met" : "MISSED"));
    return 0;
}
