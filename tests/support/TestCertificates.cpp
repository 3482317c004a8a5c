#include "TestCertificates.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <cstdlib>

namespace testsupport {
namespace {

const QStringList kNewKey{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
const char kServerNames[] = "subjectAltName=DNS:ftp.test,DNS:localhost,IP:127.0.0.1";

}  // namespace

TestCertificates::TestCertificates()
{
    if (!m_dir.isValid()) {
        m_error = "no temporary folder";
        return;
    }
    const auto p = [this](const char* name) { return QString::fromStdString(path(name)); };
    QFile ext(p("server.ext"));
    if (!ext.open(QIODevice::WriteOnly) ||
        ext.write(QByteArray(kServerNames) + "\nbasicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                                              "extendedKeyUsage=serverAuth\n") < 0) {
        m_error = "cannot write server.ext";
        return;
    }
    ext.close();
    const QStringList caExtensions{"-addext", "basicConstraints=critical,CA:TRUE", "-addext",
                                   "keyUsage=critical,keyCertSign,cRLSign"};
    const bool made =
        run(QStringList{"req", "-x509"} + kNewKey + QStringList{"-keyout", p("ca.key"), "-out", p("ca.pem"),
                                                                 "-days", "2", "-subj", "/CN=Quillon Test CA"} +
            caExtensions) &&
        run(QStringList{"req", "-x509"} + kNewKey +
            QStringList{"-keyout", p("other-ca.key"), "-out", p("other-ca.pem"), "-days", "2", "-subj",
                        "/CN=Unrelated Test CA"} +
            caExtensions) &&
        run(QStringList{"req"} + kNewKey +
            QStringList{"-keyout", p("server.key"), "-out", p("server.csr"), "-subj", "/CN=ftp.test"}) &&
        run({"x509", "-req", "-in", p("server.csr"), "-CA", p("ca.pem"), "-CAkey", p("ca.key"), "-set_serial", "2",
             "-days", "2", "-extfile", p("server.ext"), "-out", p("server.pem")}) &&
        run(QStringList{"req", "-x509"} + kNewKey +
            QStringList{"-keyout", p("self.key"), "-out", p("self.pem"), "-days", "2", "-subj", "/CN=ftp.test",
                        "-addext", kServerNames}) &&
        run({"req", "-x509", "-key", p("self.key"), "-out", p("self-other.pem"), "-days", "2", "-subj",
             "/CN=other.test", "-addext", "subjectAltName=DNS:other.test"}) &&
        run({"req", "-new", "-key", p("self.key"), "-out", p("self.csr"), "-subj", "/CN=ftp.test"}) &&
        // Valid from now until a day ago, so expired: this openssl takes no start date.
        run({"x509", "-req", "-in", p("self.csr"), "-signkey", p("self.key"), "-days", "-1", "-extfile",
             p("server.ext"), "-out", p("self-expired.pem")}) &&
        run({"req", "-x509", "-key", p("self.key"), "-out", p("self-ip-cn.pem"), "-days", "2", "-subj",
             "/CN=127.0.0.1"});
    if (!made)
        return;
    QDir root(m_dir.path());
    if (!root.mkdir("empty") || !root.mkdir("cadir") || !QFile::copy(p("ca.pem"), p("cadir/ca.pem"))) {
        m_error = "cannot lay out the certificate folders";
        return;
    }
    run({"rehash", p("cadir")});
}

std::string TestCertificates::path(const char* name) const { return m_dir.filePath(name).toStdString(); }

bool TestCertificates::run(const QStringList& args)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("openssl"), args);
    const bool finished = process.waitForStarted(10000) && process.waitForFinished(30000);
    if (finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    m_error = "openssl " + args.join(' ').toStdString() + " failed: " + process.readAll().toStdString();
    return false;
}

}  // namespace testsupport
