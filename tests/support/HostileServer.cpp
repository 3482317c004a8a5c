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

HostileServer::HostileServer(const std::string& scenario, int lifetimeSeconds, const std::string& modes)
{
    QDir(m_logDir.path()).mkdir(QStringLiteral("disk"));
    m_port = startScript(m_process, scriptPath(),
                         {QStringLiteral("--scenario"), QString::fromStdString(scenario), QStringLiteral("--log"),
                          m_logDir.filePath("commands.log"), QStringLiteral("--lifetime"),
                          QString::number(lifetimeSeconds), QStringLiteral("--root"), m_logDir.filePath("disk"),
                          QStringLiteral("--modes"), QString::fromStdString(modes)});
}

std::string HostileServer::diskPath() const { return m_logDir.filePath("disk").toStdString(); }

HostileServer::~HostileServer() { stopScript(m_process); }

std::string HostileServer::address() const { return "127.0.0.1:" + std::to_string(m_port); }

std::string HostileServer::commandLog() const { return readAll(m_logDir.filePath("commands.log")); }

std::vector<std::string> HostileServer::commands() const { return splitLines(commandLog()); }

int HostileServer::count(std::string_view verb) const { return countVerb(commands(), verb); }

}  // namespace testsupport
