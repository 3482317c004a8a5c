#include "HostileServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cctype>

#include "FtpServer.h"

namespace testsupport {
namespace {

// The script lives beside this source file.
QString scriptPath()
{
    return QFileInfo(QStringLiteral(__FILE__)).absoluteDir().filePath(QStringLiteral("hostile_server.py"));
}

}  // namespace

HostileServer::HostileServer(const std::string& scenario, int lifetimeSeconds)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral("/usr/bin/python3"),
                    {scriptPath(), QStringLiteral("--scenario"),
                     QString::fromStdString(scenario), QStringLiteral("--log"), m_logDir.filePath("commands.log"),
                     QStringLiteral("--lifetime"), QString::number(lifetimeSeconds)});
    if (!m_process.waitForStarted(10000))
        return;
    QByteArray out;
    for (int i = 0; i < 100 && !out.contains('\n'); ++i) {
        if (!m_process.waitForReadyRead(15000))
            return;
        out += m_process.readAllStandardOutput();
    }
    const QByteArray line = out.left(out.indexOf('\n')).trimmed();
    if (!line.startsWith("PORT "))
        return;
    bool ok = false;
    const int port = line.mid(5).toInt(&ok);
    m_port = ok ? port : 0;
}

HostileServer::~HostileServer()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

std::string HostileServer::address() const { return "127.0.0.1:" + std::to_string(m_port); }

std::string HostileServer::commandLog() const
{
    QFile f(m_logDir.filePath("commands.log"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll().toStdString();
}

std::vector<std::string> HostileServer::commands() const { return splitLines(commandLog()); }

int HostileServer::count(std::string_view verb) const
{
    int n = 0;
    for (const std::string& line : commands()) {
        if (line.size() < verb.size())
            continue;
        bool same = true;
        for (std::size_t i = 0; i < verb.size() && same; ++i)
            same = std::toupper(static_cast<unsigned char>(line[i])) ==
                   std::toupper(static_cast<unsigned char>(verb[i]));
        if (same && (line.size() == verb.size() || line[verb.size()] == ' '))
            ++n;
    }
    return n;
}

}  // namespace testsupport
