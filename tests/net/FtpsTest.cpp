// "ftps://" servers: explicit TLS against a loopback TLS server whose certificate
// comes from a throw-away authority, trusted only through SSL_CERT_FILE / SSL_CERT_DIR.
#include <QDir>
#include <QFile>
#include <algorithm>

#include "LayerTestHelpers.h"
#include "TestCertificates.h"

using namespace net;
using namespace layertest;
using testsupport::ScopedEnv;

namespace {

class FtpsTest : public LayerTest {
protected:
    static void SetUpTestSuite() { s_pki = new testsupport::TestCertificates; }
    static void TearDownTestSuite()
    {
        delete s_pki;
        s_pki = nullptr;
    }

    void SetUp() override
    {
        LayerTest::SetUp();
        ASSERT_TRUE(s_pki->ok()) << s_pki->error();
        newRun();
    }

    // A layer as at the program's start: nothing trusted yet.
    void newRun()
    {
        CurlInternet::Options options = fastOptions();
        // No DNS here: the test names lead to the loopback server.
        options.resolveHost = [](const std::string& host) -> std::optional<std::string> {
            if (host == "ftp.test" || host == "wrong.test" || host == "localhost")
                return "127.0.0.1";
            return std::nullopt;
        };
        m_session = 0;
        m_api = std::make_unique<CurlInternet>(options);
    }

    // Trust exactly `caFile` (and what `caFolder` holds) for this test.
    void trust(const std::string& caFile, const std::string& caFolder = {})
    {
        m_certFile.emplace("SSL_CERT_FILE", caFile);
        m_certDir.emplace("SSL_CERT_DIR", caFolder.empty() ? s_pki->emptyFolder() : caFolder);
    }

    void startTlsServer(bool selfSigned = false, const std::string& tlsMinimum = {}, bool dataAfterCommand = false)
    {
        testsupport::FtpServerOptions options;
        options.tlsMinimum = tlsMinimum;
        options.tlsDataAfterCommand = dataAfterCommand;
        options.tlsCertificate = selfSigned ? s_pki->selfSignedCertificate() : s_pki->serverCertificate();
        options.tlsKey = selfSigned ? s_pki->selfSignedKey() : s_pki->serverKey();
        startServer(options);
    }

    std::string ftpsName(const std::string& host = "ftp.test") const
    {
        return "ftps://" + host + ":" + std::to_string(m_server->port());
    }

    HINTERNET connectTo(const std::string& name)
    {
        if (!m_session)
            open();
        return m_api->InternetConnectA(m_session, name.c_str(), 0, "user", "secret", INTERNET_SERVICE_FTP,
                                       INTERNET_FLAG_PASSIVE, 0);
    }

    // Position of the first logged command starting with `prefix`; npos when absent.
    std::size_t firstIndex(const std::string& prefix) const
    {
        const auto lines = m_server->commands();
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (lines[i].rfind(prefix, 0) == 0)
                return i;
        return std::string::npos;
    }

    void expectNoLoginSent()
    {
        EXPECT_EQ(m_server->count("USER"), 0) << m_server->commandLog();
        EXPECT_EQ(m_server->count("PASS"), 0) << m_server->commandLog();
    }

    // down.bin of the current server folder arrives byte-exact.
    void expectDownload(HINTERNET c, const std::string& expected)
    {
        ASSERT_TRUE(m_api->FtpGetFileA(c, "down.bin", localPath("down.bin").c_str(), FALSE_, 0,
                                       FTP_TRANSFER_TYPE_BINARY, 0))
            << m_api->GetLastError() << " " << lastResponse().second;
        EXPECT_TRUE(readFile(localPath("down.bin")) == expected);
    }

    static testsupport::TestCertificates* s_pki;
    std::optional<ScopedEnv> m_certFile;
    std::optional<ScopedEnv> m_certDir;
};

testsupport::TestCertificates* FtpsTest::s_pki = nullptr;

class FtpsSession : public FtpsTest {};
class FtpsCertificate : public FtpsTest {};
class FtpsRefusal : public FtpsTest {};

}  // namespace

// ---------------------------------------------------------------- working sessions

TEST_F(FtpsSession, ListDownloadAndUploadAreByteExactOverTls)
{
    startTlsServer();
    trust(s_pki->caCertificate());
    ASSERT_TRUE(QDir(m_remote.path()).mkpath("sub"));
    const std::string down = randomBytes(300 * 1024 + 7, 11);
    const std::string up = randomBytes(200 * 1024 + 3, 12);
    writeFile(remotePath("sub/down.bin"), down);
    writeFile(remotePath("top.txt"), "top");
    writeFile(localPath("up.bin"), up);

    const HINTERNET c = connectTo(ftpsName());
    ASSERT_NE(c, 0u) << "last error " << m_api->GetLastError() << " " << lastResponse().second;
    std::vector<std::string> names;
    for (const auto& r : listAll(c))
        names.push_back(r.cFileName);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"sub", "top.txt"}));

    ASSERT_TRUE(m_api->FtpSetCurrentDirectoryA(c, "sub"));
    EXPECT_EQ(m_api->currentDirectory(c), "/sub");
    expectDownload(c, down);
    ASSERT_TRUE(m_api->FtpPutFileA(c, localPath("up.bin").c_str(), "up.bin", FTP_TRANSFER_TYPE_BINARY, 0))
        << m_api->GetLastError();
    EXPECT_TRUE(readFile(remotePath("sub/up.bin")) == up);

    // One TLS control connection served every call; data went protected.
    EXPECT_EQ(m_server->count("AUTH"), 1) << m_server->commandLog();
    EXPECT_EQ(m_server->count("USER"), 1);
    EXPECT_GE(m_server->count("PROT"), 1);
    EXPECT_EQ(m_server->commandLog().find("PROT C"), std::string::npos);
    EXPECT_TRUE(m_api->InternetCloseHandle(c));
}

TEST_F(FtpsSession, DataHandshakeAnsweredOnlyAfterTheTransferCommand)
{
    // Many servers answer a data connection's TLS handshake only once RETR, STOR or LIST has
    // come, while libcurl starts it at once and meanwhile needs the replies to TYPE and SIZE
    // on the control connection: every call still runs to its end.
    startTlsServer(/*selfSigned=*/false, {}, /*dataAfterCommand=*/true);
    trust(s_pki->caCertificate());
    const std::string small = "fifteen bytes.\n";
    writeFile(remotePath("small.txt"), small);
    writeFile(localPath("up.bin"), randomBytes(64 * 1024, 41));
    const HINTERNET c = connectTo(ftpsName());
    ASSERT_NE(c, 0u) << m_api->GetLastError() << " " << lastResponse().second;
    EXPECT_EQ(listAll(c).size(), 1u);
    for (int i = 0; i < 3; ++i) {
        const std::string target = localPath("small" + std::to_string(i) + ".txt");
        ASSERT_TRUE(m_api->FtpGetFileA(c, "small.txt", target.c_str(), FALSE_, 0, FTP_TRANSFER_TYPE_BINARY, 0))
            << m_api->GetLastError();
        EXPECT_EQ(readFile(target), small);
    }
    ASSERT_TRUE(m_api->FtpPutFileA(c, localPath("up.bin").c_str(), "up.bin", FTP_TRANSFER_TYPE_BINARY, 0))
        << m_api->GetLastError();
    EXPECT_TRUE(readFile(remotePath("up.bin")) == readFile(localPath("up.bin")));
    const auto tls = testsupport::splitLines(m_server->tlsLog());
    // The listing, three downloads, the connection's rename test on an empty file, the upload.
    EXPECT_EQ(std::count(tls.begin(), tls.end(), "data TLSv1.2"), 6) << m_server->tlsLog();
}

TEST_F(FtpsSession, UploadsArriveWholeOneAfterAnother)
{
    // A data connection closed with unread TLS data is reset, and the server may then cut
    // the file short: check each byte arrived.
    startTlsServer();
    trust(s_pki->caCertificate());
    const HINTERNET c = connectTo(ftpsName());
    ASSERT_NE(c, 0u) << m_api->GetLastError();
    for (unsigned i = 0; i < 4; ++i) {
        const std::string bytes = randomBytes(256 * 1024 + i, 20 + i);
        const std::string name = "up" + std::to_string(i) + ".bin";
        writeFile(localPath(name), bytes);
        ASSERT_TRUE(m_api->FtpPutFileA(c, localPath(name).c_str(), name.c_str(), FTP_TRANSFER_TYPE_BINARY, 0))
            << m_api->GetLastError();
        EXPECT_EQ(readFile(remotePath(name)).size(), bytes.size()) << name;
        EXPECT_TRUE(readFile(remotePath(name)) == bytes) << name;
    }
    EXPECT_EQ(m_server->count("USER"), 1);
    // Held to TLS 1.2, whose ticket comes inside the handshake: nothing is left unread.
    const auto tls = testsupport::splitLines(m_server->tlsLog());
    // The control connection, the rename test's empty file and four uploads.
    EXPECT_EQ(tls.size(), 6u) << m_server->tlsLog();
    EXPECT_EQ(std::count(tls.begin(), tls.end(), "data TLSv1.2"), 5) << m_server->tlsLog();
    EXPECT_EQ(std::count(tls.begin(), tls.end(), "control TLSv1.2"), 1) << m_server->tlsLog();
}

TEST_F(FtpsSession, Tls13OnlyServerBrowsesAndDownloadsButRefusesUploads)
{
    startTlsServer(/*selfSigned=*/false, "1.3");
    trust(s_pki->caCertificate());
    const std::string down = randomBytes(200 * 1024 + 5, 31);
    writeFile(remotePath("down.bin"), down);
    writeFile(localPath("up.bin"), "never sent");

    const HINTERNET c = connectTo(ftpsName());
    ASSERT_NE(c, 0u) << m_api->GetLastError() << " " << lastResponse().second;
    // TLS 1.2 was refused before the login; the login went once, over TLS 1.3.
    EXPECT_EQ(m_server->count("AUTH"), 2) << m_server->commandLog();
    EXPECT_EQ(m_server->count("USER"), 1) << m_server->commandLog();
    EXPECT_EQ(listAll(c).size(), 1u);
    expectDownload(c, down);
    const auto tls = testsupport::splitLines(m_server->tlsLog());
    EXPECT_EQ(tls, (std::vector<std::string>{"control TLSv1.3", "data TLSv1.3", "data TLSv1.3"}))
        << m_server->tlsLog();

    // Over TLS 1.3 an upload could be cut short: refused, with the reason, before anything is sent.
    m_server->clearLog();
    EXPECT_FALSE(m_api->FtpPutFileA(c, localPath("up.bin").c_str(), "up.bin", FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    EXPECT_EQ(lastResponse().second, "The server accepts only TLS 1.3, which this program does not use for uploads.");
    EXPECT_TRUE(m_server->commands().empty()) << m_server->commandLog();
    EXPECT_FALSE(QFile::exists(QString::fromStdString(remotePath("up.bin"))));
    // The connection stays usable.
    EXPECT_EQ(listAll(c).size(), 1u);
}

TEST_F(FtpsSession, AuthTlsComesBeforeTheLoginAndProtBeforeData)
{
    startTlsServer();
    trust(s_pki->caCertificate());
    writeFile(remotePath("f.txt"), "f");
    const HINTERNET c = connectTo(ftpsName());
    ASSERT_NE(c, 0u) << m_api->GetLastError();
    EXPECT_EQ(listAll(c).size(), 1u) << m_server->commandLog();
    const auto lines = m_server->commands();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "AUTH TLS") << m_server->commandLog();
    const std::size_t user = firstIndex("USER");
    const std::size_t pass = firstIndex("PASS");
    const std::size_t prot = firstIndex("PROT P");
    const std::size_t pasv = std::min(firstIndex("EPSV"), firstIndex("PASV"));
    ASSERT_NE(user, std::string::npos);
    ASSERT_NE(pass, std::string::npos);
    ASSERT_NE(pasv, std::string::npos);
    EXPECT_LT(user, pass);
    EXPECT_LT(prot, pasv);
    // The server refuses USER and PASS on a plain control connection, so the
    // login succeeding shows both went inside TLS.
    EXPECT_EQ(m_server->commandLog().find("secret"), std::string::npos);
}

TEST_F(FtpsSession, AddressLiteralMatchesTheCertificatesIpName)
{
    startTlsServer();
    trust(s_pki->caCertificate());
    const HINTERNET c = connectTo(ftpsName("127.0.0.1"));
    EXPECT_NE(c, 0u) << m_api->GetLastError() << " " << lastResponse().second;
}

TEST_F(FtpsSession, SslCertDirChoosesTrustedAuthorities)
{
    startTlsServer();
    trust(s_pki->otherCaCertificate(), s_pki->caFolder());
    const HINTERNET c = connectTo(ftpsName());
    EXPECT_NE(c, 0u) << m_api->GetLastError() << " " << lastResponse().second;
}

// ---------------------------------------------------------------- certificates refused

TEST_F(FtpsCertificate, UnknownAuthorityGives12045)
{
    startTlsServer();
    trust(s_pki->otherCaCertificate());
    EXPECT_EQ(connectTo(ftpsName()), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_INVALID_CA);
    EXPECT_EQ(lastResponse().second, "The server's certificate was not issued by a trusted authority.");
    expectNoLoginSent();
}

TEST_F(FtpsCertificate, SelfSignedGives12045)
{
    startTlsServer(/*selfSigned=*/true);
    trust(s_pki->caCertificate());
    EXPECT_EQ(connectTo(ftpsName()), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_INVALID_CA);
    EXPECT_NE(lastResponse().second.find("self-signed"), std::string::npos) << lastResponse().second;
    expectNoLoginSent();
}

TEST_F(FtpsCertificate, MachineStoreDoesNotKnowTheTestAuthority)
{
    startTlsServer();
    const ScopedEnv file("SSL_CERT_FILE", std::nullopt);
    const ScopedEnv dir("SSL_CERT_DIR", std::nullopt);
    EXPECT_EQ(connectTo(ftpsName()), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_INVALID_CA);
    expectNoLoginSent();
}

TEST_F(FtpsCertificate, WrongHostNameGives12038)
{
    startTlsServer();
    trust(s_pki->caCertificate());
    EXPECT_EQ(connectTo(ftpsName("wrong.test")), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_SEC_CERT_CN_INVALID);
    EXPECT_EQ(lastResponse().second, "The server's certificate is for another host name.");
    expectNoLoginSent();
}

TEST_F(FtpsCertificate, RefusalIsNotRetriedInPlainText)
{
    startTlsServer();
    trust(s_pki->otherCaCertificate());
    EXPECT_EQ(connectTo(ftpsName()), 0u);
    // One AUTH, and no second (plain) attempt: nothing after it.
    EXPECT_EQ(m_server->commands(), (std::vector<std::string>{"AUTH TLS"}));
}

// ---------------------------------------------------------------- a server's own certificate, trusted for this run

TEST_F(FtpsCertificate, OwnCertificateTrustedForTheRunServesProtectedData)
{
    startTlsServer(/*selfSigned=*/true);
    trust(s_pki->caCertificate());
    const std::string down = randomBytes(300 * 1024 + 1, 51);
    writeFile(remotePath("down.bin"), down);
    EXPECT_EQ(connectTo(ftpsName()), 0u);
    ASSERT_EQ(m_api->GetLastError(), ERROR_INTERNET_INVALID_CA);
    ASSERT_TRUE(m_api->untrustedCertificate());
    expectNoLoginSent();
    m_api->trustForThisRun(*m_api->untrustedCertificate());
    const HINTERNET c = connectTo(ftpsName());
    ASSERT_NE(c, 0u) << m_api->GetLastError() << " " << lastResponse().second;
    EXPECT_EQ(listAll(c).size(), 1u);
    expectDownload(c, down);
    const auto tls = testsupport::splitLines(m_server->tlsLog());
    EXPECT_EQ(std::count(tls.begin(), tls.end(), "data TLSv1.2"), 2) << m_server->tlsLog();
}

TEST_F(FtpsCertificate, ATrustedKeyIsAcceptedOnlyInAValidCertificateForItsServer)
{
    // A server's own certificate is trusted for the run (as "ftp.test:P" or "127.0.0.1:P"), then the
    // server starts again on P, or on another port, showing other certificates on its control or
    // data connections. Without trust first, one for another name or out of its dates is not offered.
    enum Cert { None, Own, Authority, OwnKeyOtherName, OwnKeyExpired, AddressInCommonName };
    struct Row { const char* trustAs; Cert control, data; const char* host; bool otherPort; DWORD error;
                 const char* text; bool offered; };
    const DWORD ca = ERROR_INTERNET_INVALID_CA, cn = ERROR_INTERNET_SEC_CERT_CN_INVALID;
    const char* const changed = "The server's certificate is not the one you chose to trust for this run.";
    const char* const otherName = "The server's certificate is for another host name.";
    const char* const expired = "The server's certificate has expired.";
    const char* const selfSigned = "The server's certificate is self-signed: it was not issued by a trusted authority.";
    const Row rows[] = {
        {"ftp.test", Authority, None, "ftp.test", false, ca, changed, false},
        {"ftp.test", OwnKeyOtherName, None, "ftp.test", false, cn, otherName, false},
        {"ftp.test", OwnKeyExpired, None, "ftp.test", false, ca, expired, false},
        {"ftp.test", Own, Authority, "ftp.test", false, ca, changed, false},
        {"ftp.test", Own, OwnKeyOtherName, "ftp.test", false, cn, otherName, false},
        {nullptr, Authority, Own, "ftp.test", false, ca, selfSigned, false},
        {"127.0.0.1", Own, None, "localhost", false, ca, selfSigned, true},
        {"127.0.0.1", Own, None, "127.0.0.1", true, ca, selfSigned, true},
        {nullptr, Own, None, "wrong.test", false, cn, otherName, false},
        {nullptr, OwnKeyExpired, None, "ftp.test", false, ca, expired, false},
        // As libcurl decides: a certificate without alternative names names its host in its common name.
        {nullptr, AddressInCommonName, None, "127.0.0.1", false, ca, selfSigned, true},
    };
    const std::string certificates[] = {{}, s_pki->selfSignedCertificate(), s_pki->serverCertificate(),
                                        s_pki->selfSignedForAnotherName(), s_pki->selfSignedExpired(),
                                        s_pki->addressInCommonNameOnly()};
    const auto key = [](Cert c) {
        return c == None ? "" : c == Authority ? s_pki->serverKey() : s_pki->selfSignedKey();
    };
    trust(s_pki->caCertificate());
    ASSERT_TRUE(QDir(m_remote.path()).mkpath("sub"));
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "row " << &row - rows);
        newRun();
        testsupport::FtpServerOptions options;
        options.tlsCertificate = certificates[Own];
        options.tlsKey = key(Own);
        if (row.trustAs) {
            startServer(options);
            ASSERT_EQ(connectTo(ftpsName(row.trustAs)), 0u);
            ASSERT_TRUE(m_api->untrustedCertificate());
            m_api->trustForThisRun(*m_api->untrustedCertificate());
            options.port = row.otherPort ? 0 : m_server->port();
            m_server.reset();
        }
        options.tlsCertificate = certificates[row.control];
        options.tlsKey = key(row.control);
        options.tlsDataCertificate = certificates[row.data];
        options.tlsDataKey = key(row.data);
        startServer(options);
        const HINTERNET c = connectTo(ftpsName(row.host));
        WIN32_FIND_DATAA record{};
        if (row.data == None) {
            EXPECT_EQ(c, 0u);
            expectNoLoginSent();
        } else {  // refused on the listing's data connection
            ASSERT_NE(c, 0u) << m_api->GetLastError() << " " << lastResponse().second;
            EXPECT_EQ(m_api->FtpFindFirstFileA(c, "*.*", &record, 0, 0), 0u);
        }
        EXPECT_EQ(m_api->GetLastError(), row.error);
        EXPECT_EQ(lastResponse().second, row.text);
        EXPECT_EQ(m_api->lastErrorDetail(), row.text);
        ASSERT_EQ(m_api->untrustedCertificate().has_value(), row.offered);
        if (row.data != None) {  // the next calls get their own replies: a missing folder, then one there
            EXPECT_FALSE(m_api->FtpSetCurrentDirectoryA(c, "missing"));
            EXPECT_EQ(lastResponse().first, 550u) << m_server->commandLog();
            EXPECT_TRUE(m_api->FtpSetCurrentDirectoryA(c, "sub")) << lastResponse().second;
            EXPECT_EQ(m_api->currentDirectory(c), "/sub");
        }
        if (row.offered) {  // once trusted, it serves
            m_api->trustForThisRun(*m_api->untrustedCertificate());
            EXPECT_NE(connectTo(ftpsName(row.host)), 0u) << m_api->GetLastError() << " " << lastResponse().second;
        }
    }
}

// ---------------------------------------------------------------- servers without TLS

TEST_F(FtpsRefusal, PlainServerIsRefusedBeforeTheLogin)
{
    startServer();
    trust(s_pki->caCertificate());
    EXPECT_EQ(connectTo(ftpsName("127.0.0.1")), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    const auto [code, text] = lastResponse();
    EXPECT_GE(code, 500u);
    EXPECT_EQ(text.rfind("The server does not offer TLS", 0), 0u) << text;
    EXPECT_GE(m_server->count("AUTH"), 1) << m_server->commandLog();
    expectNoLoginSent();
}

TEST_F(FtpsRefusal, FtpSchemeAndBareNameStayPlain)
{
    startServer();
    const HINTERNET a = connectTo("ftp://" + m_server->address() + "/");
    EXPECT_NE(a, 0u) << m_api->GetLastError();
    const HINTERNET b = connectTo(m_server->address());
    EXPECT_NE(b, 0u) << m_api->GetLastError();
    EXPECT_EQ(m_server->count("AUTH"), 0) << m_server->commandLog();
    EXPECT_EQ(m_server->count("USER"), 2);
}

TEST_F(FtpsRefusal, FtpSchemeDoesNotTalkTlsToATlsServer)
{
    startTlsServer();
    trust(s_pki->caCertificate());
    EXPECT_EQ(connectTo("ftp://127.0.0.1:" + std::to_string(m_server->port())), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    EXPECT_EQ(lastResponse().first, 550u);  // "SSL/TLS required on the control channel."
    EXPECT_EQ(m_server->count("AUTH"), 0);
}

TEST_F(FtpsRefusal, GatewayCannotCarryFtps)
{
    startTlsServer();
    trust(s_pki->caCertificate());
    testsupport::FtpGateway gateway;
    ASSERT_TRUE(gateway.running());
    m_session = m_api->InternetOpenA("a", INTERNET_OPEN_TYPE_PROXY, gateway.address().c_str(), nullptr, 0);
    ASSERT_NE(m_session, 0u);
    EXPECT_EQ(connectTo(ftpsName("127.0.0.1")), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    EXPECT_NE(lastResponse().second.find("gateway"), std::string::npos) << lastResponse().second;
    EXPECT_EQ(gateway.log(), "");
    EXPECT_TRUE(m_server->commands().empty());
}
