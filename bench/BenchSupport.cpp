#include "BenchSupport.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace bench {

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void figure(const char* bench, const std::string& name, double value, const char* unit)
{
    std::printf("%s.%s %.4g %s\n", bench, name.c_str(), value, unit);
    std::fflush(stdout);
}

void note(const char* bench, const std::string& text)
{
    std::printf("# %s: %s\n", bench, text.c_str());
    std::fflush(stdout);
}

long rssKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return 0;
}

Server::Server(const QString& root, const QStringList& extraArgs)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral("/usr/bin/python3"),
                    QStringList{QStringLiteral(QUILLON_BENCH_FTPD), QStringLiteral("--root"), root} + extraArgs);
    if (!m_process.waitForStarted(10000))
        return;
    QByteArray out;
    for (int i = 0; i < 20 && !out.contains('\n'); ++i) {
        if (!m_process.waitForReadyRead(1000) && m_process.state() != QProcess::Running)
            return;
        out += m_process.readAllStandardOutput();
    }
    if (!out.startsWith("PORT "))
        return;
    m_port = out.mid(5, out.indexOf('\n') - 5).trimmed().toInt();
}

ScriptedServer::ScriptedServer(const QStringList& args)
{
    QStringList all = args;
    all.prepend(QString::fromUtf8(QUILLON_BENCH_SCRIPTED));
    m_process.start(QStringLiteral("/usr/bin/python3"), all);
    if (!m_process.waitForStarted(10000) || !m_process.waitForReadyRead(10000))
        return;
    const QByteArray out = m_process.readAllStandardOutput();
    if (out.startsWith("PORT "))
        m_address = QStringLiteral("127.0.0.1:") + QString::fromLatin1(out.mid(5).trimmed());
}

ScriptedServer::~ScriptedServer()
{
    m_process.kill();
    m_process.waitForFinished(3000);
}

void stopProcess(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}

Server::~Server() { stopProcess(m_process); }

double timeProgram(const QString& program, const QStringList& args, int timeoutMs)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    const auto start = Clock::now();
    process.start(program, args);
    if (!process.waitForStarted(10000))
        return -1;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(3000);
        return -1;
    }
    const double seconds = secondsSince(start);
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return -1;
    return seconds;
}

double timeUntilLine(const std::vector<std::string>& argv, const std::string& marker, int timeoutMs,
                     std::string* output, bool quiet)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return -1;
    }
    if (pid == 0) {
        ::dup2(fds[1], 1);
        if (quiet) {
            const int null = ::open("/dev/null", O_WRONLY);
            if (null >= 0)
                ::dup2(null, 2);
        }
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string text;
    double seen = -1;
    const auto deadline = start + std::chrono::milliseconds(timeoutMs);
    for (int rounds = 0; rounds < 1000000; ++rounds) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0)
            break;
        char buffer[4096];
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (seen < 0) {
            // The marker at a line start, its line complete.
            std::size_t at = 0;
            if (text.compare(0, marker.size(), marker) != 0) {
                at = text.find("\n" + marker);
                if (at != std::string::npos)
                    ++at;
            }
            if (at != std::string::npos && text.find('\n', at) != std::string::npos)
                seen = secondsSince(start);
        }
    }
    ::close(fds[0]);
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == 0) {
        // Still running after its output closed or the deadline: give it 5 s, then stop it.
        for (int i = 0; i < 50 && ::waitpid(pid, &status, WNOHANG) == 0; ++i)
            ::usleep(100000);
        if (::waitpid(pid, &status, WNOHANG) == 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
    }
    if (output)
        *output = text;
    return seen;
}

net::HINTERNET connectLayer(net::InternetApi& api, const QByteArray& serverName)
{
    const net::HINTERNET session = api.InternetOpenA("bench", net::INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    const net::HINTERNET connection = api.InternetConnectA(session, serverName.constData(), 0, "user", "secret",
                                                           net::INTERNET_SERVICE_FTP, net::INTERNET_FLAG_PASSIVE, 0);
    if (connection == 0)
        std::fprintf(stderr, "the layer did not connect: %u\n", api.GetLastError());
    return connection;
}

net::HINTERNET connectLayer(net::InternetApi& api, const Server& server)
{
    if (!server.running()) {
        std::fprintf(stderr, "the FTP server did not start\n");
        return 0;
    }
    return connectLayer(api, server.address().toLatin1());
}

bool writeRandomFile(const QString& path, std::int64_t size)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    std::vector<unsigned char> chunk(std::min<std::int64_t>(size, 8 * 1024 * 1024));
    std::uint32_t x = 2463534242u;  // xorshift
    bool ok = true;
    for (std::int64_t written = 0; ok && written < size; written += std::int64_t(chunk.size())) {
        for (auto& byte : chunk) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            byte = static_cast<unsigned char>(x);
        }
        ok = ::write(fd, chunk.data(), chunk.size()) == static_cast<ssize_t>(chunk.size());
    }
    return ::close(fd) == 0 && ok;
}

bool makeEmptyFiles(const QString& folder, int count)
{
    const QByteArray base = QFile::encodeName(folder);
    char name[64];
    for (int i = 0; i < count; ++i) {
        std::snprintf(name, sizeof name, "/f%06d", i);
        const QByteArray path = base + name;
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            return false;
        ::close(fd);
    }
    return true;
}

ui::MsgAnswer SilentUi::MsgBox(QWidget*, const QString& text, ui::MsgStyle style)
{
    texts << text;
    std::fprintf(stderr, "[message box] %s\n", qPrintable(text));
    return style == ui::MsgStyle::YesNo ? ui::MsgAnswer::No : ui::MsgAnswer::Ok;
}

void settle(int maxMs)
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, maxMs);
}

}  // namespace bench
