// 8. A folder of 1,000 files of 4 KiB, five runs (QUILLON_BENCH_BATCH_FILES: another count, run once
// when over 1,000) copied down and up in one batch over one
// connection (each file through FtpGetFileA / FtpPutFileA: a temporary name and the
// rename on the receiving side), next to lftp's "mirror" and "mirror -R" with one
// connection, against the same server. Runs alternate between the two. Then, as root, the
// upload once more against each FTP daemon found on this machine (Daemon.h), with the time
// that daemon takes per rename (RNFR and RNTO): every uploaded file is renamed once.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Daemon.h"
#include "net/CurlInternet.h"
#include "transfer/Batch.h"

namespace {

constexpr const char* kBench = "batch";
constexpr std::int64_t kFileSize = 4096;

int filesBelow(const QString& folder)
{
    return int(QDir(folder).entryList(QDir::Files | QDir::Hidden).size());
}

// The folder `tree` uploaded by the layer, then by lftp's "mirror -R", to a daemon; false when a
// run failed.
bool measureDaemon(const QString& name, const QString& program, const QString& base, const QString& tree,
                   int files)
{
    const bench::Daemon daemon(name, program, base);
    if (!daemon.running()) {
        bench::note(kBench, name.toStdString() + " found, but it did not start");
        return true;
    }
    const bench::Peer& peer = daemon.peer();
    const QString folder = peer.folder == QLatin1String("/") ? QString() : peer.folder;
    net::CurlInternet api;
    const net::HINTERNET session = api.InternetOpenA("bench", net::INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    const net::HINTERNET connection =
        api.InternetConnectA(session, peer.address.toLatin1().constData(), 0, peer.user.toLatin1().constData(),
                             peer.password.toLatin1().constData(), net::INTERNET_SERVICE_FTP, net::INTERNET_FLAG_PASSIVE, 0);
    const QByteArray one = QFile::encodeName(tree + QStringLiteral("/f00000"));
    const QByteArray names[2] = {(folder + QStringLiteral("/r0")).toLatin1(), (folder + QStringLiteral("/r1")).toLatin1()};
    bool ok = connection != 0 &&
              api.FtpPutFileA(connection, one.constData(), names[0].constData(), net::FTP_TRANSFER_TYPE_BINARY, 0);
    std::vector<double> renames;
    for (int i = 0; i < 10 && ok; ++i) {
        const auto start = bench::Clock::now();
        ok = api.FtpRenameFileA(connection, names[i % 2].constData(), names[1 - i % 2].constData());
        renames.push_back(bench::secondsSince(start));
    }
    bench::SilentUi ui;
    const auto start = bench::Clock::now();
    transfer::Batch up(api, connection, ui, nullptr, nullptr, net::FTP_TRANSFER_TYPE_BINARY);
    const transfer::BatchResult sent =
        ok ? up.upload({QFile::encodeName(tree).toStdString()}, (folder.isEmpty() ? QStringLiteral("/") : folder).toStdString())
           : transfer::BatchResult{};
    const double mine = bench::secondsSince(start);
    const QString site = QStringLiteral("ftp://%1:%2@%3").arg(peer.user, peer.password.isEmpty() ? QStringLiteral("x") : peer.password, peer.address);
    const double theirs = bench::timeProgram(
        QStringLiteral("/usr/bin/lftp"),
        {QStringLiteral("-e"), QStringLiteral("set net:connection-limit 1; set ftp:sync-mode on; mirror -R --parallel=1 ") +
                                   tree + QStringLiteral(" ") + folder + QStringLiteral("/lftp; quit"),
         site});
    if (connection != 0)
        (void)api.InternetCloseHandle(connection);
    (void)api.InternetCloseHandle(session);
    ok = ok && sent.problems.isEmpty() && filesBelow(peer.diskFolder + QStringLiteral("/tree")) == files &&
         filesBelow(peer.diskFolder + QStringLiteral("/lftp")) == files && theirs > 0;
    if (!ok) {
        std::fprintf(stderr, "%s failed: %u %s %s\n", qPrintable(name), api.GetLastError(), api.lastErrorDetail().c_str(),
                     qPrintable(sent.notice()));
        return false;
    }
    const std::string suffix = "_" + name.toStdString();
    bench::figure(kBench, "rename_seconds" + suffix, bench::median(renames), "s");
    bench::figure(kBench, "up_seconds" + suffix, mine, "s");
    bench::figure(kBench, "up_lftp_mirror_R_seconds" + suffix, theirs, "s");
    bench::figure(kBench, "up_ratio_vs_lftp" + suffix, theirs / mine, "x");
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const int asked = qEnvironmentVariableIntValue("QUILLON_BENCH_BATCH_FILES");
    const int kFiles = asked > 0 ? asked : 1000;
    const int kRuns = kFiles > 1000 ? 1 : 5;
    const QString lftp = QStringLiteral("/usr/bin/lftp");
    if (!QFile::exists(lftp)) {
        std::fprintf(stderr, "lftp is needed (the peer)\n");
        return 2;
    }
    QTemporaryDir temp;
    // The server's files in memory (tmpfs) where there is one, as on a server whose disk
    // makes a file in microseconds: a file system that takes a millisecond per new file (as
    // some here do) would add the same time to both clients' uploads and hide their own.
    // QUILLON_BENCH_SERVER_FILES names another folder.
    const QString serverPlace = qEnvironmentVariable(
        "QUILLON_BENCH_SERVER_FILES", QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : temp.path());
    QTemporaryDir serverTemp(serverPlace + QStringLiteral("/bench_batch-XXXXXX"));
    const QString root = serverTemp.filePath(QStringLiteral("srv"));
    const QString local = temp.filePath(QStringLiteral("local"));
    if (!temp.isValid() || !serverTemp.isValid() || !QDir().mkpath(root + QStringLiteral("/tree")) ||
        !QDir().mkpath(local)) {
        std::fprintf(stderr, "no temporary folder\n");
        return 2;
    }
    for (int i = 0; i < kFiles; ++i)
        if (!bench::writeRandomFile(root + QStringLiteral("/tree/f%1").arg(i, 5, 10, QLatin1Char('0')), kFileSize))
            return 2;

    bench::Server server(root);
    net::CurlInternet api;
    const net::HINTERNET connection = bench::connectLayer(api, server);
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
                            " runs; the server's files in " + serverPlace.toStdString() + ", the local ones in " +
                            QDir::tempPath().toStdString());
    bench::figure(kBench, "down_seconds", down, "s");
    bench::figure(kBench, "down_lftp_mirror_seconds", peerDown, "s");
    bench::figure(kBench, "down_ratio_vs_lftp", down > 0 ? peerDown / down : 0, "x");
    bench::figure(kBench, "up_seconds", upMine, "s");
    bench::figure(kBench, "up_lftp_mirror_R_seconds", peerUp, "s");
    bench::figure(kBench, "up_ratio_vs_lftp", upMine > 0 ? peerUp / upMine : 0, "x");
    for (const auto& [name, program] : bench::daemonsFound()) {
        if (::geteuid() != 0) {
            bench::note(kBench, name.toStdString() + " found, not measured: it must be started as root");
            continue;
        }
        // The daemons reach the login's folder as "ftp": the temporary folder lets them through.
        (void)!::chmod(QFile::encodeName(serverTemp.path()).constData(), 0711);
        ok = measureDaemon(name, program, serverTemp.filePath(name), local + QStringLiteral("/ours0/tree"), kFiles) && ok;
    }
    return ok ? 0 : 2;
}
