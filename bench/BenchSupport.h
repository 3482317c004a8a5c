#pragma once
// Shared pieces of the benchmarks: a loopback pyftpdlib server, a silent
// message-box answerer, a child-process runner with a bounded wait, and the
// figures' printing. Benchmarks print ratios against a peer measured in the
// same run; they never pass or fail on time.

#include <QProcess>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "net/InternetApi.h"
#include "ui/UiInterface.h"

namespace bench {

using Clock = std::chrono::steady_clock;
inline double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values);

// One figure per line: "<bench>.<name> <value> <unit>".
void figure(const char* bench, const std::string& name, double value, const char* unit);
void note(const char* bench, const std::string& text);

// Resident set size of this process (VmRSS), in KiB; 0 when unknown.
long rssKiB();

// Asks a child to end (SIGTERM) and kills it when it has not after 3 s.
void stopProcess(QProcess& process);

// bench/ftpd.py on a free port of 127.0.0.1, user "user" / "secret"; stops in the destructor.
// `extraArgs` go to ftpd.py (--tls-cert and --tls-key: explicit TLS, required).
class Server {
public:
    explicit Server(const QString& root, const QStringList& extraArgs = {});
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;
    bool running() const { return m_port != 0; }
    int port() const { return m_port; }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    QString url(const QString& path) const { return QStringLiteral("ftp://127.0.0.1:%1%2").arg(m_port).arg(path); }

private:
    QProcess m_process;
    int m_port = 0;
};

// tests/support/hostile_server.py with these arguments ("--scenario", ...); stops in the destructor.
class ScriptedServer {
public:
    explicit ScriptedServer(const QStringList& args);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;
    QByteArray address() const { return m_address.toLatin1(); }

private:
    QProcess m_process;
    QString m_address;
};

// Runs a program to its end (at most timeoutMs) and returns its wall time in
// seconds, or a negative value when it failed or timed out.
double timeProgram(const QString& program, const QStringList& args, int timeoutMs = 600000);

// Runs `argv` with its stdout on a pipe; returns the seconds from just before the
// fork until a stdout line starting with `marker` arrived (negative on failure or
// after timeoutMs). All stdout read so far goes to *output. The child is waited for.
// quiet: the child's stderr goes to /dev/null.
double timeUntilLine(const std::vector<std::string>& argv, const std::string& marker, int timeoutMs,
                     std::string* output, bool quiet = false);

// Opens a session and logs in to `serverName` as "user" / "secret", passive; the
// connection handle, or 0 after saying why on stderr.
net::HINTERNET connectLayer(net::InternetApi& api, const QByteArray& serverName);
// The same to a started benchmark server (0, said on stderr, when it did not start).
net::HINTERNET connectLayer(net::InternetApi& api, const Server& server);

// Writes `size` bytes of pseudo-random data (nothing a layer could shortcut) to `path`.
bool writeRandomFile(const QString& path, std::int64_t size);

// Creates `count` empty files named f000000, f000001... in `folder`; false on error.
bool makeEmptyFiles(const QString& folder, int count);

// Answers every box with OK / No (a question with answers of its own: its default; a text or
// permissions box: cancelled) and records the texts.
class SilentUi : public ui::UiInterface {
public:
    ui::MsgAnswer MsgBox(QWidget*, const QString& text, ui::MsgStyle style) override;
    int Choose(QWidget*, const ui::Choice& c) override { return c.defaultAnswer; }
    QString ShowSave(QWidget*, const ui::FileDialogRequest&) override { return {}; }
    QString ShowOpen(QWidget*, const ui::FileDialogRequest&) override { return {}; }
    std::optional<QString> AskText(QWidget*, const ui::TextRequest&) override { return std::nullopt; }
    std::optional<int> AskPermissions(QWidget*, const ui::PermissionsRequest&) override { return std::nullopt; }
    QStringList texts;
};

// Lets pending events (repaints, deferred layout) run, for at most ~maxMs.
void settle(int maxMs = 200);

}  // namespace bench
