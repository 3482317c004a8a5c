// 8. A download that continues a part cut at 90 % of a 256 MiB file, next to the whole
// download of the same file from the same server, as the Download button asks for them
// (write-through). Over FTP the server is the tests' scripted one on a real folder: it cuts
// the first transfer of each run after 90 % of the file. Over SFTP it is OpenSSH's sshd
// (skipped without it), and the first download of each run is cut as the program's end
// cuts it: its connection handle closed once about 90 % arrived. Runs alternate between
// the whole download and the continued one.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "BenchSsh.h"
#include "BenchSupport.h"
#include "net/CurlInternet.h"

namespace {

constexpr const char* kBench = "resume";
constexpr std::int64_t kMiB = 1024 * 1024;
constexpr std::int64_t kSize = 256 * kMiB;
constexpr std::int64_t kCut = kSize / 10 * 9;
constexpr int kRuns = 3;

bool download(net::CurlInternet& api, net::HINTERNET connection, const QByteArray& target)
{
    return api.FtpGetFileA(connection, "big.bin", target.constData(), 0, net::FILE_FLAG_WRITE_THROUGH,
                           net::FTP_TRANSFER_TYPE_BINARY, 0) != 0;
}

// The whole download into `whole`, then the one that continues the part of `resumed`; false
// after saying why.
bool timeBoth(net::CurlInternet& api, net::HINTERNET connection, const QByteArray& whole, const QByteArray& resumed,
              std::vector<double>& wholeSeconds, std::vector<double>& resumeSeconds)
{
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
    if (!ok)
        std::fprintf(stderr, "a run failed (layer error %u: %s)\n", api.GetLastError(), api.lastErrorDetail().c_str());
    return ok;
}

void report(const std::string& prefix, const std::vector<double>& wholeSeconds,
            const std::vector<double>& resumeSeconds)
{
    std::string text = prefix + "runs (whole s / resumed s):";
    for (std::size_t run = 0; run < wholeSeconds.size(); ++run)
        text += " " + std::to_string(wholeSeconds[run]) + "/" + std::to_string(resumeSeconds[run]);
    bench::note(kBench, text);
    const double w = bench::median(wholeSeconds);
    const double r = bench::median(resumeSeconds);
    bench::figure(kBench, prefix + "whole_download_median", w, "s");
    bench::figure(kBench, prefix + "resume_at_90_percent_median", r, "s");
    bench::figure(kBench, prefix + "ratio_resume_to_whole", r / w, "x");
    bench::note(kBench, prefix + std::string("target: at most 0.2: ") + (r / w <= 0.2 ? "met" : "MISSED"));
}

// Closes the connection (as the program's end does) once the part holds 90 % of the file
// (told by the part itself: libcurl tells SFTP progress in bursts).
struct CutAt90 final : net::CallWatcher {
    net::CurlInternet& api;
    net::HINTERNET connection;
    QString part;
    CutAt90(net::CurlInternet& a, net::HINTERNET c, QString p) : api(a), connection(c), part(std::move(p)) {}
    void callStarted(const net::CallProgress&) override {}
    bool callProgress(const net::CallProgress&) override
    {
        if (connection && QFileInfo(part).size() >= kCut)
            (void)api.InternetCloseHandle(std::exchange(connection, 0));
        return true;
    }
    void callFinished() override {}
};

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
        if (!timeBoth(api, connection, whole, resumed, wholeSeconds, resumeSeconds))
            return 2;
    }
    report("", wholeSeconds, resumeSeconds);

    if (!bench::sshToolsHere(kBench))
        return 0;
    const bench::Sshd sshd(temp.filePath(QStringLiteral("home")), root);
    if (!sshd.ok())
        return 2;
    const QString part = local + QStringLiteral("/.resumed.bin.quillon-part");
    std::vector<double> sftpWhole, sftpResumed;
    std::string cuts = "sftp parts kept (% of the file):";
    for (int run = 0; run < kRuns; ++run) {
        net::CurlInternet api;
        CutAt90 cut(api, sshd.connect(api), part);
        api.setCallWatcher(&cut);
        // Not written through: the reports come evenly, and the cut falls close to 90 %.
        const bool finished = cut.connection == 0 || api.FtpGetFileA(cut.connection, "big.bin", resumed.constData(),
                                                                     0, 0, net::FTP_TRANSFER_TYPE_BINARY, 0);
        api.setCallWatcher(nullptr);
        const qint64 kept = QFileInfo(part).size();
        if (finished || kept <= 0 || kept >= kSize) {
            std::fprintf(stderr, "sftp run %d: the cut download kept no part (%s, error %u, %lld bytes)\n", run,
                         finished ? "finished" : "cut", api.GetLastError(), static_cast<long long>(kept));
            return 2;
        }
        cuts += " " + std::to_string(100.0 * double(kept) / double(kSize));
        const net::HINTERNET connection = sshd.connect(api);
        if (connection == 0 || !timeBoth(api, connection, whole, resumed, sftpWhole, sftpResumed))
            return 2;
    }
    bench::note(kBench, cuts);
    report("sftp_", sftpWhole, sftpResumed);
    return 0;
}
