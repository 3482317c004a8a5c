// 8. A folder of 1,000 files of 4 KiB (QUILLON_BENCH_BATCH_FILES: another count, run once
// when over 1,000) copied down and up in one batch over one
// connection (each file through FtpGetFileA / FtpPutFileA: a temporary name and the
// rename on the receiving side), next to lftp's "mirror" and "mirror -R" with one
// connection, against the same server. Runs alternate between the two.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "net/CurlInternet.h"
#include "transfer/Batch.h"

namespace {

constexpr const char* kBench = "batch";
constexpr std::int64_t kFileSize = 4096;

int filesBelow(const QString& folder)
{
    return int(QDir(folder).entryList(QDir::Files | QDir::Hidden).size());
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const int asked = qEnvironmentVariableIntValue("QUILLON_BENCH_BATCH_FILES");
    const int kFiles = asked > 0 ? asked : 1000;
    const int kRuns = kFiles > 1000 ? 1 : 3;
    const QString lftp = QStringLiteral("/usr/bin/lftp");
    if (!QFile::exists(lftp)) {
        std::fprintf(stderr, "lftp is needed (the peer)\n");
        return 2;
    }
    QTemporaryDir temp;
    const QString root = temp.filePath(QStringLiteral("srv"));
    const QString local = temp.filePath(QStringLiteral("local"));
    if (!temp.isValid() || !QDir().mkpath(root + QStringLiteral("/tree")) || !QDir().mkpath(local)) {
        std::fprintf(stderr, "no temporary folder\n");
        return 2;
    }
    for (int i = 0; i < kFiles; ++i)
        if (!bench::writeRandomFile(root + QStringLiteral("/tree/f%1").arg(i, 5, 10, QLatin1Char('0')), kFileSize))
            return 2;

    bench::Server server(root);
    if (!server.running()) {
        std::fprintf(stderr, "the FTP server did not start\n");
        return 2;
    }
    net::CurlInternet api;
    const net::HINTERNET connection = bench::connectLayer(api, server.address().toLatin1());
    if (connection == 0)
        return 2;
    bench::SilentUi ui;
    const QString site = QStringLiteral("ftp://user:secret@") + server.address();
    auto mirror = [&](const QString& command) {
        return bench::timeProgram(lftp, {QStringLiteral("-e"),
                                         QStringLiteral("set net:connection-limit 1; set ftp:sync-mode on; ") +
                                             command + QStringLiteral("; quit"),
                                         site});
    };

    std::vector<double> ours, theirs, oursUp, theirsUp;
    bool ok = true;
    for (int run = 0; run < kRuns && ok; ++run) {
        const QString mine = local + QStringLiteral("/ours%1").arg(run);
        const QString peer = local + QStringLiteral("/lftp%1").arg(run);
        QDir().mkpath(mine);
        auto start = bench::Clock::now();
        transfer::Batch down(api, connection, ui, nullptr, nullptr, net::FTP_TRANSFER_TYPE_BINARY);
        const transfer::BatchResult got = down.download({{"/tree", true, {}}}, QFile::encodeName(mine).toStdString());
        ours.push_back(bench::secondsSince(start));
        theirs.push_back(mirror(QStringLiteral("mirror --parallel=1 /tree ") + peer));
        ok = got.problems.isEmpty() && filesBelow(mine + QStringLiteral("/tree")) == kFiles &&
             filesBelow(peer) == kFiles && theirs.back() > 0;

        start = bench::Clock::now();
        transfer::Batch up(api, connection, ui, nullptr, nullptr, net::FTP_TRANSFER_TYPE_BINARY);
        QDir(root).mkpath(QStringLiteral("ours%1").arg(run));
        const transfer::BatchResult sent =
            up.upload({QFile::encodeName(mine + QStringLiteral("/tree")).toStdString()},
                      QStringLiteral("/ours%1").arg(run).toStdString());
        oursUp.push_back(bench::secondsSince(start));
        theirsUp.push_back(mirror(QStringLiteral("mirror -R --parallel=1 ") + peer + QStringLiteral(" /lftp%1").arg(run)));
        ok = ok && sent.problems.isEmpty() && filesBelow(root + QStringLiteral("/ours%1/tree").arg(run)) == kFiles &&
             filesBelow(root + QStringLiteral("/lftp%1").arg(run)) == kFiles && theirsUp.back() > 0;
        if (!ok)
            std::fprintf(stderr, "run %d failed: %s%s\n", run, qPrintable(got.notice()), qPrintable(sent.notice()));
    }
    (void)api.InternetCloseHandle(connection);
    if (!ok)
        return 2;
    const double down = bench::median(ours), peerDown = bench::median(theirs);
    const double upMine = bench::median(oursUp), peerUp = bench::median(theirsUp);
    bench::note(kBench, std::to_string(kFiles) + " files of 4 KiB, one connection, medians of " + std::to_string(kRuns) +
                            " runs");
    bench::figure(kBench, "down_seconds", down, "s");
    bench::figure(kBench, "down_lftp_mirror_seconds", peerDown, "s");
    bench::figure(kBench, "down_ratio_vs_lftp", down > 0 ? peerDown / down : 0, "x");
    bench::figure(kBench, "up_seconds", upMine, "s");
    bench::figure(kBench, "up_lftp_mirror_R_seconds", peerUp, "s");
    bench::figure(kBench, "up_ratio_vs_lftp", upMine > 0 ? peerUp / upMine : 0, "x");
    return 0;
}
