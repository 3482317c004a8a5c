#include "FtpServer.h"

#include <QFile>

#include <cctype>
#include <cstdlib>

namespace testsupport {

// Starts the script and reads "PORT <n>" from its first output line; 0 on failure.
int startScript(QProcess& process, const QString& script, const QStringList& args)
{
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral("/usr/bin/python3"), QStringList{script} + args);
    if (!process.waitForStarted(10000))
        return 0;
    QByteArray out;
    while (!out.contains('\n')) {
        if (!process.waitForReadyRead(15000))
            return 0;
        out += process.readAllStandardOutput();
    }
    const QByteArray line = out.left(out.indexOf('\n')).trimmed();
    if (!line.startsWith("PORT "))
        return 0;
    bool ok = false;
    const int port = line.mid(5).toInt(&ok);
    return ok ? port : 0;
}

void stopScript(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}

std::string readAll(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll().toStdString();
}


std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

FtpServer::FtpServer(std::string root, FtpServerOptions options)
    : m_root(std::move(root)), m_options(std::move(options))
{
    QStringList args{"--root", QString::fromStdString(m_root),
                     "--log", m_logDir.filePath("commands.log"),
                     "--user", QString::fromStdString(m_options.user),
                     "--password", QString::fromStdString(m_options.password)};
    if (m_options.anonymous)
        args << "--anonymous";
    if (!m_options.mlsd)
        args << "--no-mlsd";
    if (m_options.dots)
        args << "--dots";
    args << "--perm" << QString::fromStdString(m_options.permissions);
    if (!m_options.renameOntoExisting)
        args << "--no-rename-onto-existing";
    if (!m_options.dotFiles)
        args << "--no-dot-files";
    if (m_options.uploadRate > 0)
        args << "--upload-rate" << QString::number(m_options.uploadRate);
    if (!m_options.tlsCertificate.empty())
        args << "--tls-cert" << QString::fromStdString(m_options.tlsCertificate);
    if (!m_options.tlsCertificate.empty())
        args << "--tls-log" << m_logDir.filePath("tls.log");
    if (!m_options.tlsKey.empty())
        args << "--tls-key" << QString::fromStdString(m_options.tlsKey);
    if (!m_options.loginFolder.empty())
        args << "--login-folder" << QString::fromStdString(m_options.loginFolder);
    if (m_options.rawAscii)
        args << "--raw-ascii";
    if (!m_options.tlsMinimum.empty())
        args << "--tls-min" << QString::fromStdString(m_options.tlsMinimum);
    if (m_options.tlsDataAfterCommand)
        args << "--tls-data-after-command";
    if (!m_options.tlsDataCertificate.empty())
        args << "--tls-data-cert" << QString::fromStdString(m_options.tlsDataCertificate) << "--tls-data-key"
             << QString::fromStdString(m_options.tlsDataKey);
    if (m_options.port != 0)
        args << "--port" << QString::number(m_options.port);
    m_port = startScript(m_process, QStringLiteral(QUILLON_FTPSERVER_SCRIPT), args);
}

FtpServer::~FtpServer() { stopScript(m_process); }

std::string FtpServer::address() const { return "127.0.0.1:" + std::to_string(m_port); }

std::string FtpServer::commandLog() const { return readAll(m_logDir.filePath("commands.log")); }

std::vector<std::string> FtpServer::commands() const { return splitLines(commandLog()); }

int FtpServer::count(std::string_view verb) const { return countVerb(commands(), verb); }

int countVerb(const std::vector<std::string>& commands, std::string_view verb)
{
    int n = 0;
    for (const std::string& line : commands) {
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

std::string FtpServer::tlsLog() const { return readAll(m_logDir.filePath("tls.log")); }

void FtpServer::clearLog()
{
    QFile f(m_logDir.filePath("commands.log"));
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.close();
}

FtpGateway::FtpGateway()
{
    m_port = startScript(m_process, QStringLiteral(QUILLON_FTPGATEWAY_SCRIPT),
                         {"--log", m_logDir.filePath("gateway.log")});
}

FtpGateway::~FtpGateway() { stopScript(m_process); }

std::string FtpGateway::address() const { return "127.0.0.1:" + std::to_string(m_port); }

std::string FtpGateway::log() const { return readAll(m_logDir.filePath("gateway.log")); }

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string>& value) : m_name(std::move(name))
{
    if (const char* old = std::getenv(m_name.c_str()))
        m_old = old;
    if (value)
        ::setenv(m_name.c_str(), value->c_str(), 1);
    else
        ::unsetenv(m_name.c_str());
}

ScopedEnv::~ScopedEnv()
{
    if (m_old)
        ::setenv(m_name.c_str(), m_old->c_str(), 1);
    else
        ::unsetenv(m_name.c_str());
}

}  // namespace testsupport
