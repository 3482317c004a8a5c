// Host keys against OpenSSH's own tools: ssh's verdict on a known_hosts file (against a real
// sshd), ssh-keygen's fingerprints and ssh-keygen -F's look-ups.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <sys/stat.h>

#include "net/KnownHosts.h"
#include "support/FtpServer.h"
#include "support/SshServer.h"

using net::HostKeyStatus;
using namespace testsupport;

namespace {

QString run(const QString& program, const QStringList& args, const QString& home)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAll());
}

std::string blobOf(const std::string& keyLine)
{
    const std::string b64 = keyLine.substr(keyLine.find(' ') + 1);
    return QByteArray::fromBase64(QByteArray::fromStdString(b64)).toStdString();
}

std::string fill(std::string text, const std::map<std::string, std::string>& values)
{
    for (const auto& [key, value] : values)
        for (std::size_t at; (at = text.find(key)) != std::string::npos;)
            text.replace(at, key.size(), value);
    return text;
}

class KnownHostsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_home = new QTemporaryDir;
        s_disk = new QTemporaryDir;
        s_server = new SshServer(s_disk->path().toStdString());
        ASSERT_TRUE(s_server->running());
        ASSERT_TRUE(makeSshKey(path("keys/other").toStdString()));
        ASSERT_TRUE(makeSshKey(path("keys/ecdsa").toStdString(), "ecdsa"));
        s_values = {{"{K}", s_server->hostKey()},
                    {"{O}", publicKeyLine(path("keys/other.pub").toStdString())},
                    {"{E}", publicKeyLine(path("keys/ecdsa.pub").toStdString())},
                    {"{P}", std::to_string(s_server->port())}};
    }
    static void TearDownTestSuite()
    {
        delete s_server;
        delete s_disk;
        delete s_home;
    }
    static QString path(const QString& name) { return s_home->filePath(name); }

    struct SshSays {
        HostKeyStatus status = HostKeyStatus::Unknown;
        int line = 0;
        QString text;
    };
    // What ssh makes of the server's key with `file` as the only known_hosts file, looking the
    // server up by `alias` (as if it were that host on port 22) or, empty, as [127.0.0.1]:port.
    static SshSays sshVerdict(const QString& file, const std::string& alias)
    {
        QStringList args{"-F", "/dev/null", "-o", "BatchMode=yes", "-o", "StrictHostKeyChecking=yes",
                         "-o", "UserKnownHostsFile=" + file, "-o", "GlobalKnownHostsFile=/dev/null",
                         "-o", "PubkeyAuthentication=no", "-p", QString::number(s_server->port())};
        if (!alias.empty())
            args << "-o" << "HostKeyAlias=" + QString::fromStdString(alias);
        SshSays says;
        says.text = run("ssh", args << "127.0.0.1" << "true", s_home->path());
        const auto offending = QRegularExpression("Offending \\w+ key in .*:(\\d+)").match(says.text);
        if (says.text.contains("Permission denied"))
            says.status = HostKeyStatus::Known;
        else if (offending.hasMatch())
            says = {HostKeyStatus::Changed, offending.captured(1).toInt(), says.text};
        else if (says.text.contains("revoked"))
            says.status = HostKeyStatus::Revoked;
        return says;
    }
    // The lines ssh-keygen -F finds for `name`, "2" or "1 REVOKED".
    static QStringList keygenFinds(const QString& file, const std::string& name)
    {
        QStringList found;
        const QString out = run("ssh-keygen", {"-F", QString::fromStdString(name), "-f", file}, s_home->path());
        auto it = QRegularExpression("found: line (\\d+ ?\\w*)").globalMatch(out);
        while (it.hasNext())
            found << it.next().captured(1).trimmed();
        return found;
    }
    static void write(const QString& file, const std::string& text)
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QByteArray::fromStdString(text));
    }

    static inline QTemporaryDir* s_home = nullptr;
    static inline QTemporaryDir* s_disk = nullptr;
    static inline SshServer* s_server = nullptr;
    static inline std::map<std::string, std::string> s_values;
};

TEST_F(KnownHostsTest, FingerprintsAsSshKeygenPrintsThem)
{
    for (const std::string type : {"ed25519", "ecdsa", "rsa"}) {
        const QString key = path(QString::fromStdString("print/" + type));
        ASSERT_TRUE(makeSshKey(key.toStdString(), type));
        const std::string line = publicKeyLine((key + ".pub").toStdString());
        // "256 SHA256:... test (ED25519)"
        const QStringList printed = run("ssh-keygen", {"-l", "-f", key + ".pub"}, s_home->path()).simplified().split(' ');
        ASSERT_EQ(printed.size(), 4) << type;
        EXPECT_EQ(net::sshKeyFingerprint(blobOf(line)), printed[1].toStdString()) << type;
        EXPECT_EQ(net::sshKeyType(blobOf(line)), line.substr(0, line.find(' '))) << type;
        EXPECT_EQ("(" + net::sshKeyLabel(net::sshKeyType(blobOf(line))) + ")", printed[3].toStdString()) << type;
    }
}

TEST_F(KnownHostsTest, VerdictsAsSshGivesThem)
{
    struct Row {
        const char* what;
        std::string text;      // {K} the server's key, {O} another ed25519 key, {E} an ECDSA key, {P} its port
        std::string alias;     // the name looked up (port 22); empty: [127.0.0.1]:port
        bool hashed;           // the text goes through ssh-keygen -H first
        HostKeyStatus status;
    };
    const Row rows[] = {
        {"plain name", "a.example {K}\n", "a.example", false, HostKeyStatus::Known},
        {"comma list", "b.example,a.example {K} comment\n", "a.example", false, HostKeyStatus::Known},
        {"hashed name", "a.example {K}\n", "a.example", true, HostKeyStatus::Known},
        {"other port", "[127.0.0.1]:{P} {K}\n", "", false, HostKeyStatus::Known},
        {"hashed other port", "[127.0.0.1]:{P} {K}\n", "", true, HostKeyStatus::Known},
        {"port 22 entry only", "127.0.0.1 {K}\n", "", false, HostKeyStatus::Known},
        {"port 22 entry with other key", "127.0.0.1 {O}\n", "", false, HostKeyStatus::Unknown},
        {"comment and other host", "# a.example {K}\n\nz.example {K}\n", "a.example", false, HostKeyStatus::Unknown},
        {"wildcard", "*.example {K}\n", "a.example", false, HostKeyStatus::Known},
        {"negated", "*.example,!a.example {K}\n", "a.example", false, HostKeyStatus::Unknown},
        {"capitals, later line", "a.example {O}\nA.EXAMPLE {K}\n", "a.example", false, HostKeyStatus::Known},
        {"other key", "z.example {K}\na.example {O}\n", "a.example", false, HostKeyStatus::Changed},
        {"hashed other key", "a.example {O}\n", "a.example", true, HostKeyStatus::Changed},
        {"other type only", "a.example {E}\n", "a.example", false, HostKeyStatus::Changed},
        {"same type named first", "a.example {E}\na.example {O}\n", "a.example", false, HostKeyStatus::Changed},
        {"revoked", "a.example {O}\n@revoked a.example {K}\na.example {K}\n", "a.example", false, HostKeyStatus::Revoked},
        {"certificate authority", "@cert-authority a.example {K}\n", "a.example", false, HostKeyStatus::Unknown},
    };
    const QString file = path("verdict_hosts");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        write(file, fill(row.text, s_values));
        if (row.hashed)
            run("ssh-keygen", {"-H", "-f", file}, s_home->path());
        const SshSays ssh = sshVerdict(file, row.alias);
        const net::HostKeyVerdict ours = net::KnownHosts({file.toStdString()})
                                             .check(row.alias.empty() ? "127.0.0.1" : row.alias,
                                                    row.alias.empty() ? s_server->port() : 22, blobOf(s_values["{K}"]));
        EXPECT_EQ(ssh.status, row.status) << ssh.text.toStdString();
        EXPECT_EQ(ours.status, ssh.status);
        if (ours.status == HostKeyStatus::Changed)
            EXPECT_EQ(ours.line, ssh.line);
        if (ours.status == HostKeyStatus::Revoked)
            EXPECT_TRUE(keygenFinds(file, row.alias).contains(QString::number(ours.line) + " REVOKED"));
        if (ours.status != HostKeyStatus::Known && ours.status != HostKeyStatus::Unknown)
            EXPECT_EQ(ours.file, file.toStdString());
    }
}

TEST_F(KnownHostsTest, AddsTheEntrySshThenKnows)
{
    struct Row {
        const char* what;
        std::string before;  // empty: no .ssh folder at all
        std::string alias;   // as above
        bool hashed;
    };
    const Row rows[] = {
        {"no folder yet, hashed", "", "a.example", true},
        {"plain, other port", "z.example {O}\n", "", false},
        {"last line without its end", "# mine\nz.example {O}", "a.example", true},
        {"hashed, other port, beside another key", "a.example {O}\n", "", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        QTemporaryDir home;
        const QString folder = home.filePath(".ssh"), file = folder + "/known_hosts";
        const std::string before = fill(row.before, s_values);
        if (!before.empty()) {
            QDir().mkpath(folder);
            write(file, before);
        }
        const std::string host = row.alias.empty() ? "127.0.0.1" : row.alias;
        const int port = row.alias.empty() ? s_server->port() : 22;
        ASSERT_TRUE(net::KnownHosts({file.toStdString()}).add(host, port, blobOf(s_values["{K}"]), row.hashed).ok());

        EXPECT_EQ(sshVerdict(file, row.alias).status, HostKeyStatus::Known);
        const std::string after = readAll(file);
        ASSERT_EQ(after.substr(0, before.size()), before);
        const std::string added = after.substr(before.size());
        EXPECT_EQ(added.front() == '\n', !before.empty() && before.back() != '\n');
        EXPECT_EQ(added.find("|1|") != std::string::npos, row.hashed) << added;
        const QStringList found = keygenFinds(file, net::knownHostsName(host, port));
        EXPECT_EQ(found.last(), QString::number(splitLines(after).size()));
        struct stat st {};
        if (before.empty()) {
            ASSERT_EQ(::stat(QFile::encodeName(folder).constData(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 0700u);
            ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 0600u);
        }
    }
}

}  // namespace
