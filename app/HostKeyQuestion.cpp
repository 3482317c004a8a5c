#include "app/HostKeyQuestion.h"

#include "ui/UiInterface.h"

namespace app {
namespace {

QString keyLine(std::string_view blob)
{
    return QString::fromStdString(net::sshKeyLabel(net::sshKeyType(blob)) + " key fingerprint is " +
                                  net::sshKeyFingerprint(blob));
}

}  // namespace

QString HostKeyQuestion::text(const QString& server, std::string_view blob)
{
    return QStringLiteral("The authenticity of host \"%1\" can't be established.\r\n%2.\r\n\r\n"
                          "Answer Remember or Only this time only if this fingerprint is the one the server's "
                          "administrator gave you. Remember adds the key to your known hosts, as ssh does.\r\n\r\n"
                          "Connect to this server?")
        .arg(server, keyLine(blob));
}

HostKeyAnswer HostKeyQuestion::ask(ui::UiInterface& ui, QWidget* parent, const QString& server, std::string_view blob)
{
    const ui::Choice choice{text(server, blob), {QStringLiteral("Remember"), QStringLiteral("Only this time"), QStringLiteral("No")}, 2};
    switch (ui.Choose(parent, choice)) {
    case 0:
        return HostKeyAnswer::Remember;
    case 1:
        return HostKeyAnswer::ThisTime;
    default:
        return HostKeyAnswer::No;
    }
}

QString HostKeyQuestion::refusal(const QString& server, std::string_view blob, const net::HostKeyVerdict& verdict)
{
    const QString where = QStringLiteral("%1, line %2").arg(QString::fromStdString(verdict.file)).arg(verdict.line);
    if (verdict.status == net::HostKeyStatus::Revoked)
        return QStringLiteral("The host key of \"%1\" is marked as revoked in %2.\r\n%3.\r\n\r\n"
                              "Someone may be pretending to be this server. No connection was made.")
            .arg(server, where, keyLine(blob));
    return QStringLiteral("The host key of \"%1\" has changed: it differs from the one known in %2.\r\n%3.\r\n\r\n"
                          "Someone may be pretending to be this server, or its key was replaced. No connection was "
                          "made; if the server's administrator confirms the new key, remove that line.")
        .arg(server, where, keyLine(blob));
}

}  // namespace app
