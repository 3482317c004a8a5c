#include "app/HostKeyQuestion.h"

#include "net/KnownHosts.h"
#include "ui/UiInterface.h"

namespace app {

QString HostKeyQuestion::text(const QString& server, std::string_view blob)
{
    return QStringLiteral("The authenticity of host \"%1\" can't be established.\r\n%2.\r\n\r\n"
                          "Answer Remember or Only this time only if this fingerprint is the one the server's "
                          "administrator gave you. Remember adds the key to your known hosts, as ssh does.\r\n\r\n"
                          "Connect to this server?")
        .arg(server, QString::fromStdString(net::sshKeyDescription(blob)));
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

bool HostKeyQuestion::askToTrust(net::InternetApi& internet, ui::UiInterface& ui, QWidget* parent)
{
    const std::optional<net::SshHostKey> key = internet.unknownHostKey();
    if (!key)
        return false;
    switch (ask(ui, parent, QString::fromStdString(key->server), key->blob)) {
    case HostKeyAnswer::Remember:
        if (internet.rememberHostKey(*key))
            return true;
        ui.MsgBox(parent,
                  QStringLiteral("The key could not be added to your known hosts: %1\r\nIt is trusted until the "
                                 "program ends.")
                      .arg(QString::fromLocal8Bit(internet.lastErrorDetail())),
                  ui::MsgStyle::OkOnly);
        internet.trustHostKeyForThisRun(*key);
        return true;
    case HostKeyAnswer::ThisTime:
        internet.trustHostKeyForThisRun(*key);
        return true;
    case HostKeyAnswer::No:
        break;
    }
    return false;
}

}  // namespace app
