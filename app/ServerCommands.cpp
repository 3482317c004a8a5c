#include "app/ServerCommands.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "net/NameCodec.h"
#include "remote/RemotePaths.h"
#include "remote/ServerWalk.h"
#include "ui/UiInterface.h"

namespace app {

using ui::MsgAnswer;
using ui::MsgStyle;

namespace {

QString counted(std::size_t n, const char* one, const char* many)
{
    return QString::number(n) + QLatin1Char(' ') + QString::fromLatin1(n == 1 ? one : many);
}

QString childKey(const QString& folderKey, const QString& name) { return folderKey + QLatin1Char('/') + name; }

}  // namespace

ServerCommands::ServerCommands(net::InternetApi& internet, ui::UiInterface& ui, QWidget* parent, ServerPlace place,
                               Report report)
    : m_internet(internet), m_ui(ui), m_parent(parent), m_place(std::move(place)), m_report(std::move(report))
{
}

QByteArray ServerCommands::serverPath(const QString& key) const
{
    return net::bytesFromText(remote::serverPathFor(key, m_place.rootKey, m_place.loginFolder));
}

QString ServerCommands::folderOf(const ServerEntry& entry)
{
    return entry.folder || entry.root() ? entry.key : entry.parentKey;
}

bool ServerCommands::belowRoot(const ServerEntry& entry) const
{
    if (!entry.root())
        return true;
    m_ui.MsgBox(m_parent, QStringLiteral("Please select a file or folder on the Server."), MsgStyle::OkOnly);
    return false;
}

QString ServerCommands::askName(const QString& question, const QString& initial) const
{
    const std::optional<QString> typed = m_ui.AskText(m_parent, ui::TextRequest{question, initial});
    if (!typed || typed->isEmpty() || *typed == initial)
        return {};
    // One name in this folder: a path would put the entry elsewhere, a line break would end
    // the command it is sent in.
    const bool control =
        std::any_of(typed->cbegin(), typed->cend(), [](QChar c) { return c.category() == QChar::Other_Control; });
    if (control || typed->contains(QLatin1Char('/')) || *typed == QLatin1String(".") || *typed == QLatin1String("..")) {
        m_ui.MsgBox(m_parent, QStringLiteral("\"%1\" is not a name for a file or folder.").arg(typed->simplified()),
                    MsgStyle::OkOnly);
        return {};
    }
    return *typed;
}

void ServerCommands::failed(const char* function) const
{
    m_report(m_internet.GetLastError(), QString::fromLatin1(function));
}

TreeChange ServerCommands::newFolder(const ServerEntry& at)
{
    const QString folder = folderOf(at);
    const QString name = askName(QStringLiteral("Name of the new folder:"), QString());
    if (name.isEmpty())
        return {};
    const QString key = childKey(folder, name);
    if (!m_internet.FtpCreateDirectoryA(m_place.connection, serverPath(key).constData())) {
        failed("FtpCreateDirectory");
        return {};
    }
    return {folder, key};
}

TreeChange ServerCommands::rename(const ServerEntry& entry)
{
    if (!belowRoot(entry))
        return {};
    const QString name = askName(QStringLiteral("New name of \"%1\":").arg(entry.name), entry.name);
    if (name.isEmpty())
        return {};
    // Many servers let a rename replace what has the new name: nothing is lost by a typo.
    if (entry.neighbours.contains(name)) {
        m_ui.MsgBox(m_parent, QStringLiteral("\"%1\" already exists in this folder.").arg(name), MsgStyle::OkOnly);
        return {};
    }
    const QString key = childKey(entry.parentKey, name);
    if (!m_internet.FtpRenameFileA(m_place.connection, serverPath(entry.key).constData(), serverPath(key).constData())) {
        failed("FtpRenameFile");
        return {};
    }
    return {entry.parentKey, key};
}

TreeChange ServerCommands::remove(const ServerEntry& entry)
{
    if (!belowRoot(entry))
        return {};
    const QByteArray path = serverPath(entry.key);
    if (!entry.folder || listedAsLink(entry)) {
        if (m_ui.MsgBox(m_parent, QStringLiteral("Delete \"%1\" from the server?").arg(entry.name),
                        MsgStyle::YesNoDefaultNo) != MsgAnswer::Yes)
            return {};
        if (!m_internet.FtpDeleteFileA(m_place.connection, path.constData())) {
            failed("FtpDeleteFile");
            return {};
        }
        return {entry.parentKey, entry.parentKey};
    }

    // What goes is counted before the question, so that the question can say it.
    const remote::ServerWalk walk = remote::walkServerFolder(m_internet, m_place.connection, path.toStdString());
    if (walk.error != 0) {
        m_report(walk.error, QStringLiteral("FtpFindFirstFile"));
        return {};
    }
    QString question = QStringLiteral("Delete the folder \"%1\" from the server").arg(entry.name);
    QStringList held;
    if (walk.files() > 0)
        held << counted(walk.files(), "file", "files");
    if (walk.folders() > 0)
        held << counted(walk.folders(), "folder", "folders");
    if (!held.isEmpty())
        question += QStringLiteral(", with the %1 in it").arg(held.join(QStringLiteral(" and ")));
    if (m_ui.MsgBox(m_parent, question + QLatin1Char('?'), MsgStyle::YesNoDefaultNo) != MsgAnswer::Yes)
        return {};

    // Backwards through the walk, each entry goes before the folder holding it.
    bool changed = false;
    for (auto it = walk.entries.rbegin(); it != walk.entries.rend(); ++it) {
        const bool done = it->folder() ? m_internet.FtpRemoveDirectoryA(m_place.connection, it->path.c_str())
                                       : m_internet.FtpDeleteFileA(m_place.connection, it->path.c_str());
        if (!done) {
            failed(it->folder() ? "FtpRemoveDirectory" : "FtpDeleteFile");
            // What did go is gone from the server: the tree shows what is left.
            return changed ? TreeChange{entry.parentKey, entry.key} : TreeChange{};
        }
        changed = true;
    }
    if (!m_internet.FtpRemoveDirectoryA(m_place.connection, path.constData())) {
        failed("FtpRemoveDirectory");
        return changed ? TreeChange{entry.parentKey, entry.key} : TreeChange{};
    }
    return {entry.parentKey, entry.parentKey};
}

bool ServerCommands::listedAsLink(const ServerEntry& entry) const
{
    if (entry.details.link)
        return true;
    const QByteArray folder = serverPath(entry.parentKey);
    const std::string pattern = folder.endsWith('/') ? folder.toStdString() + "*" : folder.toStdString() + "/*";
    const QByteArray name = net::bytesFromText(entry.name);
    net::WIN32_FIND_DATAA record;
    const net::HINTERNET find =
        m_internet.FtpFindFirstFileA(m_place.connection, pattern.c_str(), &record, net::FIND_FLAG_LINKS_AS_LINKS, 0);
    if (find == 0)
        return false;  // the walk that follows reports why
    bool link = false;
    do {
        if (std::string_view(record.cFileName, ::strnlen(record.cFileName, sizeof record.cFileName)) ==
            std::string_view(name.constData(), std::size_t(name.size())))
            link = record.dwFileAttributes != net::FILE_ATTRIBUTE_DIRECTORY;
    } while (!link && m_internet.InternetFindNextFileA(find, &record));
    (void)m_internet.InternetCloseHandle(find);
    return link;
}

TreeChange ServerCommands::setPermissions(const ServerEntry& entry)
{
    if (!belowRoot(entry))
        return {};
    const bool known = entry.details.mode & remote::EntryDetails::kModeGiven;
    const std::optional<int> mode =
        m_ui.AskPermissions(m_parent, ui::PermissionsRequest{entry.name, known ? entry.details.mode & 0777 : -1});
    if (!mode)
        return {};
    if (!m_internet.FtpSetPermissionsA(m_place.connection, serverPath(entry.key).constData(),
                                       static_cast<net::DWORD>(*mode & 0777))) {
        failed("FtpSetPermissions");
        return {};
    }
    return {entry.parentKey, entry.key};
}

TreeChange ServerCommands::refresh(const ServerEntry& at)
{
    return {folderOf(at), at.key};
}

}  // namespace app
