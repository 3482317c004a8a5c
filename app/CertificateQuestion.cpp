#include "app/CertificateQuestion.h"

#include "ui/UiInterface.h"

namespace app {

QString CertificateQuestion::text(const net::ServerCertificate& certificate)
{
    const auto line = [](const char* label, const std::string& value) {
        return QString::fromLatin1(label) + QString::fromStdString(value) + QStringLiteral("\r\n");
    };
    return QStringLiteral("The server's certificate was not issued by an authority this program trusts.\r\n\r\n") +
           line("Server: ", certificate.server) + line("Issued to: ", certificate.subject) +
           line("Issued by: ", certificate.issuer) + line("Valid from: ", certificate.validFrom) +
           line("Valid until: ", certificate.validUntil) + line("SHA-256 fingerprint: ", certificate.fingerprint) +
           QStringLiteral("\r\nAnyone between you and the server could show a certificate like this one and "
                          "read your password and your files. Answer Yes only if this fingerprint is the one "
                          "the server's administrator gave you.\r\n\r\n"
                          "Trust this certificate for this server until the program ends?");
}

bool CertificateQuestion::askToTrust(net::InternetApi& internet, ui::UiInterface& ui, QWidget* parent)
{
    const std::optional<net::ServerCertificate> certificate = internet.untrustedCertificate();
    if (!certificate)
        return false;
    if (ui.MsgBox(parent, text(*certificate), ui::MsgStyle::YesNoDefaultNo) != ui::MsgAnswer::Yes)
        return false;
    internet.trustForThisRun(*certificate);
    return true;
}

}  // namespace app
