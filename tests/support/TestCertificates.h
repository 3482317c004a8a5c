#pragma once
// Throw-away certificate authorities for TLS tests, made with the openssl
// command line in a temporary folder at run time.
//
//   testsupport::TestCertificates pki;          // a CA, a server certificate, an unrelated CA
//   ASSERT_TRUE(pki.ok()) << pki.error();
//   FtpServerOptions o; o.tlsCertificate = pki.serverCertificate(); o.tlsKey = pki.serverKey();
//   testsupport::ScopedEnv trust("SSL_CERT_FILE", pki.caCertificate());
//
// The server certificate is for "ftp.test", "localhost" and 127.0.0.1 and is signed by the CA.
// Nothing is added to the machine's trust store: a test trusts a CA only
// through SSL_CERT_FILE / SSL_CERT_DIR, set for its own duration.

#include <QTemporaryDir>

#include "FtpServer.h"  // ScopedEnv, which the TLS tests set their trust with

#include <optional>
#include <string>

namespace testsupport {

class TestCertificates {
public:
    TestCertificates();

    bool ok() const { return m_error.empty(); }
    const std::string& error() const { return m_error; }

    std::string caCertificate() const { return path("ca.pem"); }
    std::string serverCertificate() const { return path("server.pem"); }    // "ftp.test", 127.0.0.1
    std::string serverKey() const { return path("server.key"); }
    std::string otherCaCertificate() const { return path("other-ca.pem"); }  // unrelated to the server
    std::string selfSignedCertificate() const { return path("self.pem"); }   // "ftp.test", 127.0.0.1
    std::string selfSignedKey() const { return path("self.key"); }
    // selfSignedKey() again: for "other.test"; expired yesterday; for 127.0.0.1 in its common name alone.
    std::string selfSignedForAnotherName() const { return path("self-other.pem"); }
    std::string selfSignedExpired() const { return path("self-expired.pem"); }
    std::string addressInCommonNameOnly() const { return path("self-ip-cn.pem"); }
    std::string emptyFolder() const { return path("empty"); }
    // A folder holding the CA in the hashed form SSL_CERT_DIR expects.
    std::string caFolder() const { return path("cadir"); }

private:
    std::string path(const char* name) const;
    bool run(const QStringList& args);

    QTemporaryDir m_dir;
    std::string m_error;
};

}  // namespace testsupport
