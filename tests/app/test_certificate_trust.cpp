// The main window and a secure server with a certificate of its own: the question
// before trusting it for the run, against the real Internet layer.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "FtpServer.h"
#include "TestCertificates.h"
#include "app/Program.h"
#include "app/QtUi.h"
#include "app/fmKESTRIX.h"
#include "net/CurlInternet.h"
#include "remote/RemoteTree.h"
#include "support/ScriptedUi.h"

namespace {

TEST(CertificateTrust, TheWindowShowsTheCertificateAndConnectsOnlyOnYes)
{
    testsupport::TestCertificates pki;
    ASSERT_TRUE(pki.ok()) << pki.error();
    QTemporaryDir home, remote;
    const testsupport::ScopedEnv homeEnv("HOME", home.path().toStdString());
    const testsupport::ScopedEnv file("SSL_CERT_FILE", pki.caCertificate());
    const testsupport::ScopedEnv dir("SSL_CERT_DIR", pki.emptyFolder());
    ASSERT_TRUE(QFile(remote.filePath("readme.txt")).open(QIODevice::WriteOnly));
    testsupport::FtpServerOptions options;
    options.tlsCertificate = pki.selfSignedCertificate();
    options.tlsKey = pki.selfSignedKey();
    auto server = std::make_unique<testsupport::FtpServer>(remote.path().toStdString(), options);
    ASSERT_TRUE(server->running());
    const QString address = QString::fromStdString(server->address());
    QProcess openssl;  // the fingerprint as the server's administrator would read it
    openssl.start("openssl", {"x509", "-noout", "-fingerprint", "-sha256", "-in",
                              QString::fromStdString(pki.selfSignedCertificate())});
    ASSERT_TRUE(openssl.waitForFinished());
    const QString fingerprint = QString::fromLatin1(openssl.readAllStandardOutput()).section('=', 1).trimmed();
    ASSERT_EQ(fingerprint.size(), 32 * 3 - 1);

    // Ok stands for Enter: the program's own boxes, each answered by Return (its default button).
    for (const ui::MsgAnswer answer : {ui::MsgAnswer::No, ui::MsgAnswer::Ok, ui::MsgAnswer::Yes}) {
        SCOPED_TRACE(answer == ui::MsgAnswer::Yes ? "Yes" : answer == ui::MsgAnswer::No ? "No" : "Enter");
        net::CurlInternet internet;  // one run of the program: it trusts nothing yet
        testsupport::ScriptedUi ui;
        ui.answers = {answer};
        app::QtUi boxes;
        QTimer enter;
        QObject::connect(&enter, &QTimer::timeout, [] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                QTest::keyClick(box, Qt::Key_Return);
        });
        if (answer == ui::MsgAnswer::Ok) {
            ui.boxes = &boxes;
            enter.start(20);
        }
        const app::Program program(internet, {.ui = &ui, .quit = [] {}});
        app::fmKESTRIX& window = program.window();
        ASSERT_TRUE(window.Form_Load());
        window.cmdInternetOpen_Click();
        window.txtServer->setText("ftps://" + address);
        window.txtUser->setText("user");
        window.txtPassword->setText("secret");
        window.cmdConnect_Click();

        ASSERT_FALSE(ui.shown.empty());
        const QString question = ui.shown[0].text;
        EXPECT_EQ(ui.shown[0].style, ui::MsgStyle::YesNoDefaultNo);
        const QStringList parts{"not issued by an authority this program trusts", "Server: " + address,
                                "Issued to: CN=ftp.test\r\n", "Issued by: CN=ftp.test\r\n", "Valid from: 20",
                                "Valid until: 20", "SHA-256 fingerprint: " + fingerprint + "\r\n",
                                "read your password and your files", "the one the server's administrator gave you",
                                "until the program ends?"};
        for (const QString& part : parts)
            EXPECT_TRUE(question.contains(part)) << part.toStdString() << " in\n" << question.toStdString();
        const QString report = " Err: 12045\r\nClose Connection and Session?\r\n\r\nThe server's certificate ";
        if (answer != ui::MsgAnswer::Yes) {
            EXPECT_EQ(ui.texts().mid(1), QStringList{"InternetConnect" + report +
                                                     "is self-signed: it was not issued by a trusted authority."});
            EXPECT_FALSE(window.bConnected);
            // Nothing typed is lost: the boxes stay filled for another try.
            EXPECT_EQ(QStringList({window.txtServer->text(), window.txtUser->text(), window.txtPassword->text()}),
                      QStringList({"ftps://" + address, "user", "secret"}));
            continue;
        }
        EXPECT_EQ(ui.shown.size(), 1u) << ui.texts().join('|').toStdString();
        EXPECT_TRUE(window.bConnected);
        EXPECT_NE(window.TreeView1->find("ftps://" + address + "/readme.txt"), nullptr);
        EXPECT_EQ(server->count("USER"), 1) << server->commandLog();
        // Trusted now, the server comes back with another key, with the trusted key in an expired
        // certificate, and with another key on its data connections: each report says why.
        const struct { std::string certificate, dataCertificate; QString call, reason; } rows[] = {
            {pki.serverCertificate(), {}, "InternetConnect", "is not the one you chose to trust for this run."},
            {pki.selfSignedExpired(), {}, "InternetConnect", "has expired."},
            {pki.selfSignedCertificate(), pki.serverCertificate(), "FtpFindFirstFile",
             "is not the one you chose to trust for this run."},
        };
        const auto keyOf = [&](const std::string& c) {
            return c == pki.serverCertificate() ? pki.serverKey() : c.empty() ? c : pki.selfSignedKey();
        };
        for (const auto& row : rows) {
            window.cmdDisconnect_Click();
            options.port = server->port();
            options.tlsCertificate = row.certificate;
            options.tlsKey = keyOf(row.certificate);
            options.tlsDataCertificate = row.dataCertificate;
            options.tlsDataKey = keyOf(row.dataCertificate);
            server.reset();
            server = std::make_unique<testsupport::FtpServer>(remote.path().toStdString(), options);
            ASSERT_TRUE(server->running());
            ui.shown.clear();
            window.cmdConnect_Click();
            ASSERT_FALSE(ui.shown.empty());
            EXPECT_EQ(ui.shown.back().text, row.call + report + row.reason);
            EXPECT_EQ(ui.shown.back().detail, QString());  // nothing more, and nothing blaming the server
        }
    }
    const QStringList written = QDir(home.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    EXPECT_TRUE(written.isEmpty()) << written.join(' ').toStdString();
}

TEST(CertificateTrust, TheProgramsQuestionHasNoAsItsDefault)
{
    using ui::MsgStyle, ui::MsgAnswer;
    const std::pair<MsgStyle, MsgAnswer> rows[] = {{MsgStyle::YesNo, MsgAnswer::Yes},
                                                   {MsgStyle::YesNoDefaultNo, MsgAnswer::No}};
    for (const auto& [style, byDefault] : rows) {
        auto* poll = new QTimer(qApp);  // presses the default button (as Enter would) once the box shows
        QObject::connect(poll, &QTimer::timeout, poll, [poll] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                    poll->stop();
                    poll->deleteLater();
                    (box->defaultButton() ? box->defaultButton() : box->buttons().front())->click();
                    return;
                }
        });
        poll->start(10);
        app::QtUi ui;
        EXPECT_EQ(ui.MsgBox(nullptr, "Trust?", style), byDefault);
    }
}

}  // namespace
