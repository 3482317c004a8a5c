// "sftp://" under the Internet calls, with a temporary HOME: host keys decided before any
// password goes, logins, errors in the layer's numbers, and uploads whose oracle is the
// server's disk and log. The scripted SFTP server answers passwords, refuses and drops on
// purpose; OpenSSH's sshd takes keys and offers several host keys.
#include <sys/stat.h>

#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <set>

#include "HostileFixture.h"
#include "SshServer.h"
#include "net/KnownHosts.h"

using namespace net;
using namespace testsupport;
using layertest::readFile;
using layertest::writeFile;

namespace {

std::string blobOf(const std::string& keyLine)
{
    return QByteArray::fromBase64(QByteArray::fromStdString(keyLine.substr(keyLine.find(' ') + 1))).toStdString();
}

std::string fill(std::string text, const std::map<std::string, std::string>& values)
{
    for (const auto& [key, value] : values)
        for (std::size_t at; (at = text.find(key)) != std::string::npos;)
            text.replace(at, key.size(), value);
    return text;
}

class SftpTest : public ::testing::Test {
protected:
    void start(const std::string& modes = {})
    {
        m_server = std::make_unique<ScriptedSftpServer>(modes);
        ASSERT_TRUE(m_server->running());
        newRun();
    }
    // The program started anew: nothing trusted for the run.
    void newRun()
    {
        m_api = std::make_unique<CurlInternet>(layertest::fastOptions());
        m_session = m_api->InternetOpenA("sftp", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        ASSERT_NE(m_session, 0u);
    }
    HINTERNET tryConnect(const std::string& address, const char* user = "user", const char* password = "secret")
    {
        const std::string name = "sftp://" + address;
        return m_api->InternetConnectA(m_session, name.c_str(), 0, user, password, INTERNET_SERVICE_FTP, 0, 0);
    }
    void trustServer() { m_api->trustHostKeyForThisRun({"", "127.0.0.1", m_server->port(), blobOf(m_server->hostKey())}); }
    // The scripted server, its key trusted for the run.
    HINTERNET connect()
    {
        trustServer();
        const HINTERNET c = tryConnect(m_server->address());
        EXPECT_NE(c, 0u) << m_api->GetLastError() << " " << m_api->lastErrorDetail() << "\n" << m_server->commandLog();
        return c;
    }
    std::string knownHosts() const { return m_home.filePath(".ssh/known_hosts").toStdString(); }
    std::string disk(const std::string& name) const { return m_server->diskPath() + "/" + name; }
    std::string local(const std::string& name) const { return m_local.filePath(QString::fromStdString(name)).toStdString(); }
    std::string reply()
    {
        DWORD code = 0, length = 0;
        EXPECT_TRUE(m_api->InternetGetLastResponseInfoA(&code, nullptr, &length));
        std::string text(length + 1, '\0');
        EXPECT_TRUE(m_api->InternetGetLastResponseInfoA(&code, text.data(), &length));
        text.resize(length);
        return text;
    }

    QTemporaryDir m_home;
    ScopedEnv m_homeEnv{"HOME", m_home.path().toStdString()};
    ScopedEnv m_agentEnv{"SSH_AUTH_SOCK", std::nullopt};
    QTemporaryDir m_local;
    std::unique_ptr<ScriptedSftpServer> m_server;
    std::unique_ptr<CurlInternet> m_api;
    HINTERNET m_session = 0;
};

}  // namespace

TEST_F(SftpTest, HostKeysAreDecidedBeforeAnyPasswordGoes)
{
    struct Row {
        const char* what;
        std::string known;  // ~/.ssh/known_hosts: {K} the server's key, {O} another, {P} its port
        DWORD error;
        std::string detail;  // in the failure's detail
    };
    const Row rows[] = {
        {"unknown host", "", ERROR_INTERNET_INVALID_CA, "can't be established"},
        {"known", "[127.0.0.1]:{P} {K}\n", 0, ""},
        {"known on port 22 only", "127.0.0.1 {K}\n", 0, ""},
        {"changed", "# mine\n[127.0.0.1]:{P} {O}\n", ERROR_INTERNET_SEC_INVALID_CERT, "{F}, line 2"},
        {"revoked", "@revoked [127.0.0.1]:{P} {K}\n[127.0.0.1]:{P} {K}\n", ERROR_INTERNET_SEC_CERT_REVOKED,
         "{F}, line 1"},
    };
    ASSERT_TRUE(makeSshKey(m_home.filePath("other").toStdString()));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        start();
        const std::map<std::string, std::string> values{{"{K}", m_server->hostKey()},
                                                        {"{O}", publicKeyLine(m_home.filePath("other.pub").toStdString())},
                                                        {"{P}", std::to_string(m_server->port())},
                                                        {"{F}", knownHosts()}};
        QDir().mkpath(m_home.filePath(".ssh"));
        writeFile(knownHosts(), fill(row.known, values));
        const HINTERNET c = tryConnect(m_server->address());
        EXPECT_EQ(m_api->GetLastError(), row.error) << m_api->lastErrorDetail();
        EXPECT_EQ(m_server->count("auth"), row.error ? 0 : 1) << m_server->commandLog();
        const std::string fingerprint = sshKeyFingerprint(blobOf(m_server->hostKey()));
        if (row.error) {
            EXPECT_EQ(c, 0u);
            EXPECT_NE(m_api->lastErrorDetail().find(fill(row.detail, values)), std::string::npos) << m_api->lastErrorDetail();
            EXPECT_NE(m_api->lastErrorDetail().find(fingerprint), std::string::npos) << m_api->lastErrorDetail();
        }
        const std::optional<SshHostKey> offered = m_api->unknownHostKey();
        ASSERT_EQ(offered.has_value(), row.error == ERROR_INTERNET_INVALID_CA);
        if (!offered)
            continue;
        // Trusted for this run: this run connects, the next asks again; remembered: every run connects.
        EXPECT_EQ(offered->blob, blobOf(m_server->hostKey()));
        m_api->trustHostKeyForThisRun(*offered);
        EXPECT_NE(tryConnect(m_server->address()), 0u) << m_api->lastErrorDetail();
        newRun();
        EXPECT_EQ(tryConnect(m_server->address()), 0u);
        ASSERT_TRUE(m_api->rememberHostKey(*offered)) << m_api->lastErrorDetail();
        newRun();
        EXPECT_NE(tryConnect(m_server->address()), 0u) << m_api->lastErrorDetail();
        EXPECT_EQ(KnownHosts({knownHosts()}).check("127.0.0.1", m_server->port(), offered->blob).status,
                  HostKeyStatus::Known);
        EXPECT_NE(readFile(knownHosts()).find("|1|"), std::string::npos);  // hashed, as ssh adds it
        EXPECT_EQ(m_server->count("auth"), 2) << m_server->commandLog();
    }
}

TEST_F(SftpTest, RefusalsAndLostConnectionsComeInTheLayersNumbers)
{
    enum Call { Connect, Download, Upload, List, ChangeFolder, Gateway };
    struct Row {
        const char* what;
        std::string modes;
        Call call;
        DWORD error;
        std::string words;  // the reply shown for 12003, else the detail
    };
    const Row rows[] = {
        {"wrong password", "", Connect, ERROR_INTERNET_EXTENDED_ERROR, "password is wrong"},
        {"no such file", "", Download, ERROR_INTERNET_EXTENDED_ERROR, "No such file"},
        {"no permission to read", "refuse-open-permission", Download, ERROR_INTERNET_EXTENDED_ERROR, "Permission denied"},
        {"connection lost mid-download", "drop-read-100000", Download, ERROR_INTERNET_CONNECTION_ABORTED, "lost"},
        {"disk full", "refuse-open-full", Upload, ERROR_INTERNET_EXTENDED_ERROR, "Disk full"},
        {"write refused", "refuse-write-permission", Upload, ERROR_INTERNET_EXTENDED_ERROR, "broke the transfer off"},
        {"connection lost mid-upload", "drop-write-100000", Upload, ERROR_INTERNET_CONNECTION_ABORTED, "lost"},
        {"folder not listed", "refuse-opendir-permission", List, ERROR_INTERNET_EXTENDED_ERROR, "Permission denied"},
        {"a file is no folder", "", ChangeFolder, ERROR_INTERNET_EXTENDED_ERROR, "No such file"},
        {"gateway", "", Gateway, ERROR_INTERNET_EXTENDED_ERROR, "cannot go through the FTP gateway"},
    };
    const std::string data = layertest::randomBytes(300000, 31);
    writeFile(local("up.bin"), data);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        start(row.modes);
        writeFile(disk("f.bin"), data);
        writeFile(local("f.bin"), "old");
        BOOL ok = FALSE_;
        if (row.call == Connect) {
            trustServer();
            ok = tryConnect(m_server->address(), "user", "wrong") != 0;
        } else if (row.call == Gateway) {
            m_session = m_api->InternetOpenA("sftp", INTERNET_OPEN_TYPE_PROXY, m_server->address().c_str(), nullptr, 0);
            ok = tryConnect(m_server->address()) != 0;
            EXPECT_EQ(m_server->count("connect"), 0);
        } else {
            const HINTERNET c = connect();
            ASSERT_NE(c, 0u);
            WIN32_FIND_DATAA record{};
            const std::string remote = row.modes.empty() ? "missing.bin" : "f.bin";
            if (row.call == Download)  // no part kept: its own test keeps one
                ok = m_api->FtpGetFileA(c, remote.c_str(), local("f.bin").c_str(), FALSE_, 0,
                                        FTP_TRANSFER_TYPE_BINARY | FTP_FLAG_NO_PART, 0);
            else if (row.call == Upload)
                ok = m_api->FtpPutFileA(c, local("up.bin").c_str(), "f.bin", FTP_TRANSFER_TYPE_BINARY, 0);
            else if (row.call == List)
                ok = m_api->FtpFindFirstFileA(c, "*.*", &record, 0, 0) != 0;
            else
                ok = m_api->FtpSetCurrentDirectoryA(c, "f.bin");
        }
        EXPECT_FALSE(ok);
        EXPECT_EQ(m_api->GetLastError(), row.error) << m_api->lastErrorDetail();
        const std::string said = row.error == ERROR_INTERNET_EXTENDED_ERROR ? reply() : m_api->lastErrorDetail();
        EXPECT_NE(said.find(row.words), std::string::npos) << said << "\n" << m_server->commandLog();
        // Nothing lost, nothing half-written left on either side.
        EXPECT_EQ(readFile(local("f.bin")), "old");
        EXPECT_EQ(readFile(disk("f.bin")), data);
        EXPECT_EQ(layertest::folderEntries(m_local.path().toStdString()).size(), 2u);
    }
}

TEST_F(SftpTest, NoUploadLosesBothFilesAndWhatStaysIsNamed)
{
    // disk: each name on the server's disk and what it holds; temporary names as <temp> or
    // <backup>. Every row starts from "t" holding "old" with permissions 0750.
    struct Row { const char* modes; bool ok; const char* disk; int stores = 1; };
    const Row rows[] = {
        {"", true, "t=new"},  // renamed onto only as a free name: the old file moved aside first
        {"refuse-rename-permission", true, "t=new"},  // no renames: written in place, once
        {"refuse-rename-failure", true, "t=new"},
        {"refuse-remove-permission", true, "<backup>=old <temp>=empty t=new"},
        {"refuse-setstat-permission", true, "t=new"},  // made with them: the permissions hold all the same
        {"refuse-write-full", false, "t=old"},
        {"keep-1000", false, "t=old"},  // cut, its close refused: libcurl says nothing, the size check does
        {"drop-write-100000", false, "<temp>=part t=old"},  // cut: kept for the next upload
        {"folder", false, "t=dir", 0},
    };
    const std::string fresh = layertest::randomBytes(300000, 20);
    writeFile(local("up"), fresh);
    for (const Row& row : rows) {
        const std::string modes = row.modes;
        SCOPED_TRACE(modes);
        start(modes == "folder" ? "" : modes);
        if (modes == "folder")
            ASSERT_EQ(::mkdir(disk("t").c_str(), 0750), 0);
        else
            writeFile(disk("t"), "old");
        ASSERT_EQ(::chmod(disk("t").c_str(), 0750), 0);
        const HINTERNET c = connect();
        ASSERT_NE(c, 0u);
        EXPECT_EQ(m_api->FtpPutFileA(c, local("up").c_str(), "t", FTP_TRANSFER_TYPE_BINARY, 0) != 0, row.ok)
            << m_api->GetLastError() << " " << m_api->lastErrorDetail();
        const std::string told = (row.ok ? "" : m_api->lastErrorDetail()) + m_api->lastNotice();
        const std::string log = m_server->commandLog();
        std::set<std::string> found;
        int stores = 0;
        for (const std::string& name : layertest::folderEntries(m_server->diskPath())) {
            const std::string bytes = layertest::exists(disk(name) + "/") ? "dir" : readFile(disk(name));
            const std::string what = bytes == fresh ? "new" : bytes.empty() ? "empty" : bytes == "old" || bytes == "dir" ? bytes : "part";
            found.insert((name == "t" ? name : name.ends_with("-old") ? "<backup>" : "<temp>") + "=" + what);
            if (name != "t")  // what stays is named
                EXPECT_NE(told.find("/" + name), std::string::npos) << name << " not named in: " << told;
        }
        for (const std::string& line : m_server->commands())
            stores += line.starts_with("open ") && line.find("WRITE") != std::string::npos &&
                      line.find("-probe") == std::string::npos;
        std::string text;
        for (const std::string& entry : found)
            text += (text.empty() ? "" : " ") + entry;
        EXPECT_EQ(text, row.disk) << log;
        EXPECT_EQ(stores, row.stores) << log;
        struct stat st {};
        EXPECT_EQ(::stat(disk("t").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0750u) << log;
    }
}

// A transfer cut by a lost connection keeps what went; the next one goes on from there (the
// offset of the server's first read or write) only while the file sent is the one cut.
TEST_F(SftpTest, TheNextTransferContinuesOnlyTheSameFileAndPart)
{
    const std::string first = layertest::randomBytes(300000, 40);
    const std::string second = layertest::randomBytes(320000, 41);
    // cut: the server's mode; then: the file sent (the server's or the local one) before the next
    // transfer; shift: seconds added to its time.
    // killed: the program is killed (a signal) while the server stalls.
    struct Row { const char* cut; std::string then; int shift; bool alterPart; bool continues; bool upload = false; bool killed = false; };
    const Row rows[] = {
        {"drop-read-200000", first, 0, false, true},
        {"stall-read-200000", first, 0, false, true},  // the server stopped answering
        {"drop-read-200000", second, 0, false, false},
        {"drop-read-200000", second.substr(0, first.size()), 3600, false, false},
        {"drop-read-200000", second.substr(0, 250000), 0, false, false},  // shrank
        {"drop-read-200000", "", 0, false, false},
        {"drop-read-200000", first, 0, true, false},
        {"drop-write-200000", first, 0, false, true, true},
        {"drop-write-200000", second, 0, false, false, true},  // the local file changed
        {"stall-read-200000", first, 0, false, true, false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.cut) + " then " + std::to_string(row.then.size()) + " bytes, " +
                     std::to_string(row.shift) + " s later" + (row.alterPart ? ", part altered" : ""));
        start(row.cut);
        const std::string sent = row.upload ? local("up.bin") : disk("f.bin");
        const std::string got = row.upload ? disk("f.bin") : local("f.bin");
        writeFile(sent, first);
        writeFile(got, "old");
        const HINTERNET c = connect();
        const auto transfer = [&] {
            return row.upload ? m_api->FtpPutFileA(c, sent.c_str(), "f.bin", FTP_TRANSFER_TYPE_BINARY, 0)
                              : m_api->FtpGetFileA(c, "f.bin", got.c_str(), FALSE_, 0, FTP_TRANSFER_TYPE_BINARY, 0);
        };
        layertest::KilledWhenStalled killing;
        if (row.killed)
            m_api->setCallWatcher(&killing);
        EXPECT_FALSE(transfer());
        m_api->setCallWatcher(nullptr);
        EXPECT_EQ(readFile(got), "old");
        EXPECT_NE(m_api->lastNotice().find("continues from there."), std::string::npos) << m_api->lastNotice();
        std::string part = local(".f.bin.quillon-part"), temp;
        for (const std::string& name : layertest::folderEntries(m_server->diskPath()))
            if (row.upload && name != "f.bin")
                part = disk(temp = name);
        const std::string kept = readFile(part);
        ASSERT_TRUE(!kept.empty() && kept.size() < first.size() && first.starts_with(kept)) << kept.size();
        if (!row.upload)  // what identifies the server's file
            EXPECT_NE(readFile(part + ".info").find("\nserver sftp://user@" + m_server->address() + "\n"),
                      std::string::npos);

        layertest::rewriteKeepingTime(sent, row.then, row.shift);
        if (row.alterPart)
            writeFile(part, std::string(100000, 'x'));
        ASSERT_TRUE(transfer()) << m_api->lastErrorDetail() << "\n" << m_server->commandLog();
        const std::string log = m_server->commandLog();
        EXPECT_TRUE(readFile(got) == row.then) << log;  // byte-exact
        EXPECT_FALSE(layertest::exists(local(".f.bin.quillon-part.info")));
        const std::size_t at = log.find(" from ", log.rfind(row.upload ? "\nwrite /" : "\nread /"));
        ASSERT_NE(at, std::string::npos) << log;
        EXPECT_EQ(std::stoul(log.substr(at + 6)), row.continues ? kept.size() : 0) << log;
        if (row.upload && row.continues)  // written on at the temporary's end, which then took the name
            EXPECT_NE(log.find("rename /" + temp, at), std::string::npos) << log;
    }
}

// Against OpenSSH's sshd: the key files and the agent, tried as ssh tries them.
TEST_F(SftpTest, AnEmptyPasswordLogsInWithTheAgentOrTheDefaultKeyFiles)
{
    const QString keys = m_local.filePath("keys");
    for (const char* key : {"a_ed25519", "b_ecdsa", "r_rsa", "agent_ed25519", "stranger_ed25519"}) {
        const std::string name = key;
        ASSERT_TRUE(makeSshKey((keys + "/" + key).toStdString(), name.substr(name.find('_') + 1)));
    }
    const auto pub = [&](const char* key) { return (keys + "/" + key + ".pub").toStdString(); };
    QTemporaryDir root;
    SshServer server(root.path().toStdString(),
                     {.authorizedKeys = {pub("a_ed25519"), pub("b_ecdsa"), pub("r_rsa"), pub("agent_ed25519")}});
    ASSERT_TRUE(server.running());
    struct Row {
        const char* what;
        std::map<std::string, std::string> files;  // ~/.ssh/<name>: a key of `keys`
        const char* agentHolds;                     // a key of `keys`, or nothing: no agent
        std::string refusal;                        // empty: logged in
    };
    const Row rows[] = {
        {"the first key file", {{"id_ed25519", "a_ed25519"}}, nullptr, ""},
        {"the next key file", {{"id_ed25519", "stranger_ed25519"}, {"id_ecdsa", "b_ecdsa"}}, nullptr, ""},
        {"the agent", {}, "agent_ed25519", ""},
        {"an RSA key", {{"id_rsa", "r_rsa"}}, nullptr, "SHA-1"},
        {"nothing to log in with", {}, nullptr, "no key to log in with"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        QTemporaryDir home;
        const ScopedEnv homeEnv("HOME", home.path().toStdString());
        QDir().mkpath(home.filePath(".ssh"));
        for (const auto& [name, key] : row.files)
            ASSERT_TRUE(QFile::copy(keys + "/" + QString::fromStdString(key), home.filePath(".ssh/" + QString::fromStdString(name))));
        QProcess agent;
        const QString socket = home.filePath("agent.sock");
        std::optional<ScopedEnv> agentEnv;
        if (row.agentHolds) {
            agent.start("ssh-agent", {"-D", "-a", socket});
            for (int i = 0; i < 200 && !QFile::exists(socket); ++i)
                QThread::msleep(10);
            agentEnv.emplace("SSH_AUTH_SOCK", socket.toStdString());
            ASSERT_EQ(QProcess::execute("ssh-add", {"-q", keys + "/" + row.agentHolds}), 0);
        }
        newRun();
        m_api->trustHostKeyForThisRun({"", "127.0.0.1", server.port(), blobOf(server.hostKey())});
        const HINTERNET c = tryConnect(server.address(), server.user().c_str(), "");
        EXPECT_EQ(c != 0, row.refusal.empty()) << m_api->GetLastError() << " " << m_api->lastErrorDetail();
        if (!row.refusal.empty()) {
            EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
            EXPECT_NE(reply().find(row.refusal), std::string::npos) << reply();
        }
        EXPECT_EQ(server.serverLog().find("Failed password"), std::string::npos);  // no password went
        agent.terminate();
        agent.waitForFinished(3000);
    }
}

// A server with several host keys shows the one whose type known_hosts holds, as ssh asks for it.
TEST_F(SftpTest, TheServerIsAskedForTheKeyTypeKnownForIt)
{
    ASSERT_TRUE(makeSshKey(m_home.filePath(".ssh/id_ed25519").toStdString()));
    QTemporaryDir root;
    SshServer server(root.path().toStdString(), {.hostKeyTypes = {"ed25519", "ecdsa", "rsa"},
                                                 .authorizedKeys = {m_home.filePath(".ssh/id_ed25519.pub").toStdString()}});
    ASSERT_TRUE(server.running());
    struct Row { const char* known; DWORD error; const char* detail; };
    const Row rows[] = {
        {"ed25519", 0, ""},  // libssh2's own choice would be ECDSA, which known_hosts does not hold
        {"ecdsa", 0, ""},
        {"rsa", ERROR_INTERNET_SEC_INVALID_CERT, "could not be checked"},  // libssh2 checks only SHA-1 RSA signatures
        {"", ERROR_INTERNET_INVALID_CA, "can't be established"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.known);
        const std::string type = row.known;
        writeFile(knownHosts(), type.empty() ? "" : "[127.0.0.1]:" + std::to_string(server.port()) + " " + server.hostKey(type) + "\n");
        newRun();
        const HINTERNET c = tryConnect(server.address(), server.user().c_str(), "");
        EXPECT_EQ(m_api->GetLastError(), row.error) << m_api->lastErrorDetail();
        EXPECT_EQ(c != 0, row.error == 0);
        EXPECT_NE(m_api->lastErrorDetail().find(row.detail), std::string::npos) << m_api->lastErrorDetail();
    }
}

TEST_F(SftpTest, ServerCommandsActOnTheDiskAndRefusalsBringTheServersWords)
{
    start();
    writeFile(disk("a b"), "x");
    const HINTERNET c = connect();
    ASSERT_NE(c, 0u);
    EXPECT_TRUE(m_api->FtpCreateDirectoryA(c, "new dir"));
    EXPECT_TRUE(m_api->FtpRenameFileA(c, "a b", "new dir/c\"d\\e"));  // quoted and escaped in the command
    EXPECT_EQ(readFile(disk("new dir/c\"d\\e")), "x");
    EXPECT_TRUE(m_api->FtpSetPermissionsA(c, "/new dir/c\"d\\e", 0640));
    struct stat st {};
    ASSERT_EQ(::stat(disk("new dir/c\"d\\e").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_FALSE(m_api->FtpRemoveDirectoryA(c, "new dir"));  // not empty
    EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    EXPECT_FALSE(reply().empty());
    EXPECT_TRUE(m_api->FtpDeleteFileA(c, "new dir/c\"d\\e"));
    EXPECT_TRUE(m_api->FtpRemoveDirectoryA(c, "/new dir"));
    EXPECT_TRUE(layertest::folderEntries(m_server->diskPath()).empty());
    EXPECT_EQ(m_server->count("connect"), 1);  // refusals cost no new session
}
