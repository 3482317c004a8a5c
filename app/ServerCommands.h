#pragma once
// The commands on server entries (new folder, rename, delete, permissions, refresh):
// what each asks the user, what it sends through the Internet calls, and which folder
// the tree must list again to show the server's new state. No window: the window
// hands in the chosen entry and shows the change it gets back.

#include <QString>
#include <QStringList>
#include <functional>

#include "net/InternetApi.h"
#include "remote/EntryDetails.h"

class QWidget;

namespace ui { class UiInterface; }

namespace app {

// The connection the commands go over, and how tree paths map to server paths.
struct ServerPlace {
    net::HINTERNET connection = 0;
    QString rootKey;      // the root node's key
    QString loginFolder;  // the server folder the root stands for
};

// The tree's node a command works on.
struct ServerEntry {
    QString key;        // its tree path
    QString name;       // its own name
    QString parentKey;  // empty for the root
    bool folder = false;
    remote::EntryDetails details;
    QStringList neighbours;  // the names the tree shows beside it
    bool root() const { return parentKey.isEmpty(); }
};

// What the tree must show afterwards: the folder to list again (empty: the tree stays
// as it is, as after a refusal or a cancel) and the node to select then.
struct TreeChange {
    QString relist;
    QString select;
};

class ServerCommands {
public:
    // `report` tells a failed call by its error and the call's name (the window's error report).
    using Report = std::function<void(net::DWORD error, const QString& function)>;
    ServerCommands(net::InternetApi& internet, ui::UiInterface& ui, QWidget* parent, ServerPlace place, Report report);

    // A folder, asked for by name, in `at` (a file: in the folder holding it).
    TreeChange newFolder(const ServerEntry& at);
    TreeChange rename(const ServerEntry& entry);
    // After one question naming what goes; a folder is emptied, deepest first, and removed.
    TreeChange remove(const ServerEntry& entry);
    TreeChange setPermissions(const ServerEntry& entry);
    // The folder listed again: `at` itself, or the folder holding a file.
    TreeChange refresh(const ServerEntry& at);

private:
    QByteArray serverPath(const QString& key) const;
    static QString folderOf(const ServerEntry& entry);
    // False, after saying so, for the root, which no command renames, deletes or changes.
    bool belowRoot(const ServerEntry& entry) const;
    // The name typed, or empty when cancelled, unchanged or not a name (said so).
    QString askName(const QString& question, const QString& initial) const;
    void failed(const char* function) const;
    // A link to a folder goes as a link, never emptying what it points to, also where the
    // tree's listing (MLSD) showed it as the folder itself: the folder holding it is asked.
    bool listedAsLink(const ServerEntry& entry) const;

    net::InternetApi& m_internet;
    ui::UiInterface& m_ui;
    QWidget* m_parent;
    ServerPlace m_place;
    Report m_report;
};

}  // namespace app
