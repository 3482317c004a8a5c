#pragma once
// The main window: the program's only working window and the owner of the
// connection state. Handlers keep the names of the events they serve.

#include <QMainWindow>
#include <QStringList>
#include <QVector>
#include <functional>
#include <memory>

#include "app/CallControl.h"
#include "app/ServerCommands.h"
#include "net/InternetApi.h"
#include "remote/ImageList.h"
#include "remote/EntryDetails.h"
#include "remote/NameList.h"
#include "settings/CommonDialog.h"

class QAction;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QToolButton;

namespace remote { class RemoteTree; }
namespace transfer { class DriveList; class DirList; class FileList; }
namespace ui { class UiInterface; }
namespace windows { class AuxWindows; }

namespace app {

class DropTargets;

class fmKESTRIX : public QMainWindow {
    Q_OBJECT
public:
    // While an Internet call runs (`calls`), the handlers that make calls, close handles or
    // open dialogs do nothing, whatever raised them; closing the window cancels the call
    // and closes it once the call has ended. quit ends the program at once (Exit); the
    // default asks the application to quit. app/Program.h puts the program together.
    fmKESTRIX(net::InternetApi& internet, ui::UiInterface& ui, CallControl& calls,
              windows::AuxWindows* aux = nullptr, std::function<void()> quit = {});
    ~fmKESTRIX() override;

    // Runs the load step. False when a tree picture could not be loaded: the
    // reason has been shown and the window must not be shown.
    bool Form_Load();

    // `note`: a line shown below the question (what a cut download kept).
    void ErrorOut(std::int32_t dwError, const QString& szFunction, const QString& note = {});

    // Window-wide state.
    bool bConnected = false;
    net::HINTERNET hOpen = 0;
    net::HINTERNET hConnection = 0;
    net::DWORD dwType = 0;
    remote::NameList colNames;
    QVector<net::DWORD> colAttributes;
    QVector<remote::EntryDetails> colDetails;  // size, time and permissions, where a listing gave them

    // Controls, named as the window's controls.
    QPushButton* cmdGet = nullptr;
    remote::RemoteTree* TreeView1 = nullptr;
    remote::ImageList ImageList1;
    settings::CommonDialog CommonDialog1;
    QToolButton* Command2 = nullptr;
    QToolButton* Command1 = nullptr;
    QPushButton* cmdPut = nullptr;
    transfer::FileList* File1 = nullptr;
    transfer::DirList* Dir1 = nullptr;
    transfer::DriveList* Drive1 = nullptr;
    QToolButton* cmdDisconnect = nullptr;
    QToolButton* cmdConnect = nullptr;
    QLineEdit* txtPassword = nullptr;
    QLineEdit* txtUser = nullptr;
    QLineEdit* txtServer = nullptr;
    QPushButton* cmdClosehOpen = nullptr;
    QLineEdit* txtProxy = nullptr;
    QPushButton* cmdInternetOpen = nullptr;
    QGroupBox* Frame1 = nullptr;
    QCheckBox* chkPassive = nullptr;
    QRadioButton* optBin = nullptr;
    QRadioButton* optAscii = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* label4 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label2 = nullptr;
    QFrame* Line1 = nullptr;
    QLabel* Label1 = nullptr;

    // Menus and their items.
    QMenu* file = nullptr;
    QAction* opconn = nullptr;
    QAction* sveconn = nullptr;
    QAction* lne = nullptr;
    QAction* ext = nullptr;
    QMenu* sess = nullptr;
    QAction* ss = nullptr;
    QAction* cs = nullptr;
    QMenu* conn = nullptr;
    QAction* connect_ = nullptr;  // "connect" would hide QObject::connect
    QAction* disconnect_ = nullptr;
    QMenu* help = nullptr;
    QAction* hlp = nullptr;
    QAction* license = nullptr;
    QAction* about = nullptr;
    // The server tree's context menu; F2, Delete and F5 on the tree.
    QAction* mnuNewFolder = nullptr;
    QAction* mnuRename = nullptr;
    QAction* mnuDelete = nullptr;
    QAction* mnuPermissions = nullptr;
    QAction* mnuRefresh = nullptr;

public slots:
    void cmdInternetOpen_Click();
    void ss_Click();
    void cmdClosehOpen_Click();
    void cs_Click();
    void cmdConnect_Click();
    void connect_Click();
    void cmdDisconnect_Click();
    void disconnect_Click();
    void TreeView1_DblClick();
    void cmdGet_Click();
    void cmdPut_Click();
    void File1_DblClick();
    void Drive1_Change();
    void Dir1_Change();
    void optAscii_Click();
    void optBin_Click();
    void Command1_Click();
    void sveconn_Click();
    void Command2_Click();
    void opconn_Click();
    void ext_Click();
    void hlp_Click();
    void license_Click();
    void about_Click();
    void mnuNewFolder_Click();
    void mnuRename_Click();
    void mnuDelete_Click();
    void mnuPermissions_Click();
    void mnuRefresh_Click();
    // Drops: local files and folders onto a server folder node; server nodes onto a local folder.
    void TreeView1_Drop(const QStringList& localPaths, const QString& nodeText);
    void LocalList_Drop(const QStringList& nodeTexts, const QString& folder);

public:
    void EnableControls(bool bSession);
    void ClearListing();
    void ClearFields();
    // False when the folder could not be made current (already reported): the caller stops.
    bool ChangeRemoteDir(const QString& sPath);
    // False when it listed nothing because the change of folder failed.
    bool ListRemoteDirectory(const QString& sPath);
    void AddNodes(const QString& sParent);
    // The folder node listed afresh and shown open (nothing when it has gone).
    void relistFolder(const QString& key);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    friend class WindowBatch;
    void Form_Unload();
    void buildControls();
    void buildMenus();
    void setTabOrder();
    void wireHandlers();
    void startSession();
    void closeSession();
    void connectToServer();
    void disconnectFromServer();
    void closeEverything();
    // A notice the user must read (style 0). While the program ends no box may hold it: it
    // goes to the standard error instead.
    void tellUser(const QString& notice);
    void saveConnection();
    void openConnection();
    void appendEntry(const net::WIN32_FIND_DATAA& record);
    bool readLoginFolder();
    void buildTreeMenu();
    // Runs one of ServerCommands' commands on the selected node (the root when none) and
    // shows the server's new state; nothing while a call runs.
    void runServerCommand(TreeChange (ServerCommands::*command)(const ServerEntry&));

    net::InternetApi& m_internet;
    ui::UiInterface& m_ui;
    CallControl& m_calls;
    windows::AuxWindows* m_aux;
    std::function<void()> m_quit;
    // The server text the connection was made with: the root node's key, by which tree
    // paths map and the root is removed, whatever the server box holds now. Empty when
    // not connected.
    QString m_rootKey;
    // The server folder the root node stands for: where the login placed the user.
    QString m_loginFolder;
    bool callRunning() const { return m_calls.callRunning(); }
    void closeWhenIdle();
    bool m_closeQueued = false;  // a close waits for the running call to end
    std::unique_ptr<DropTargets> m_drops;
};

}  // namespace app
