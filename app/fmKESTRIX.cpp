#include "app/fmKESTRIX.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/CertificateQuestion.h"
#include "app/DropTargets.h"
#include "app/HostKeyQuestion.h"
#include "app/TreePictures.h"
#include "app/WindowBatch.h"
#include "net/NameCodec.h"
#include "remote/RemotePaths.h"
#include "remote/RemoteTree.h"
#include "settings/ConnectionFileCommands.h"
#include "transfer/DirList.h"
#include "transfer/DriveList.h"
#include "transfer/FileList.h"
#include "transfer/LocalLists.h"
#include "ui/UiInterface.h"
#include "windows/AuxWindows.h"

namespace app {

using ui::MsgAnswer;
using ui::MsgStyle;

namespace {

const QByteArray kAgent = QByteArrayLiteral("vb wininet");

}  // namespace

// ---- Load, state, resets ----

bool fmKESTRIX::Form_Load()
{
    bConnected = false;
    hOpen = 0;
    hConnection = 0;
    chkPassive->setChecked(true);
    optBin->setChecked(true);  // raises optBin_Click
    dwType = net::FTP_TRANSFER_TYPE_BINARY;

    for (const char* key : {"open", "closed", "leaf", "root"}) {
        const QString name = QString::fromLatin1(key) + QStringLiteral(".bmp");
        const TreePicture picture = loadTreePicture(name);
        if (!picture.error.isEmpty()) {
            m_ui.MsgBox(nullptr, picture.error, MsgStyle::OkOnly);
            return false;
        }
        ImageList1.Add(QString::fromLatin1(key), picture.pixmap);
    }
    TreeView1->setImageList(&ImageList1);

    EnableControls(false);
    return true;
}

void fmKESTRIX::EnableControls(bool bSession)
{
    txtServer->setEnabled(bSession);
    txtUser->setEnabled(bSession);
    txtPassword->setEnabled(bSession);
    cmdConnect->setEnabled(bSession && !bConnected);
    cmdDisconnect->setEnabled(bSession && bConnected);
    chkPassive->setEnabled(bSession);
    cmdClosehOpen->setEnabled(bSession);
    cmdInternetOpen->setEnabled(!bSession);
    txtProxy->setEnabled(!bSession);
    optBin->setEnabled(bSession);
    optAscii->setEnabled(bSession);
    cmdGet->setEnabled(bSession && bConnected);
    cmdPut->setEnabled(bSession && bConnected);
    for (QAction* command : TreeView1->actions())  // the server tree's commands
        command->setEnabled(bSession && bConnected);
}

void fmKESTRIX::ClearListing()
{
    colNames.clear();
    colAttributes.clear();
    colDetails.clear();
}

void fmKESTRIX::ClearFields()
{
    txtServer->setText(QString());
    txtUser->setText(QString());
    txtPassword->setText(QString());
    txtProxy->setText(QString());
    ClearListing();
}

void fmKESTRIX::ext_Click()
{
    // A running call is cancelled (its temporary files go); the program ends as it returns.
    if (callRunning())
        m_calls.cancelCalls();
    m_quit();
}

void fmKESTRIX::closeEvent(QCloseEvent* event)
{
    if (callRunning()) {
        event->ignore();  // the running handler still uses the handles
        closeWhenIdle();
        return;
    }
    Form_Unload();
    event->accept();
}

// A close asked for during a call: the call is cancelled, and the window closes
// as soon as the handler that made it has returned (the close is queued behind it;
// should another call run by then, the close waits for that one in turn).
void fmKESTRIX::closeWhenIdle()
{
    m_calls.cancelCalls();
    if (m_closeQueued)
        return;
    m_closeQueued = true;
    m_calls.whenCallEnds([window = QPointer<fmKESTRIX>(this)] {
        if (!window)
            return;
        window->m_closeQueued = false;
        QMetaObject::invokeMethod(window.data(), &QWidget::close, Qt::QueuedConnection);
    });
}

void fmKESTRIX::Form_Unload()
{
    cmdClosehOpen_Click();
}

// ---- Error report ----

void fmKESTRIX::ErrorOut(std::int32_t dwError, const QString& szFunction, const QString& note)
{
    // Only Cancel (or a close of the window) ends a call with 12017: nothing to report or ask.
    if (static_cast<net::DWORD>(dwError) == net::ERROR_INTERNET_OPERATION_CANCELLED)
        return;
    // Read before any other call replaces it; shown behind the boxes' own texts.
    const QString reason = QString::fromLocal8Bit(m_internet.lastErrorDetail());
    if (static_cast<net::DWORD>(dwError) == net::ERROR_INTERNET_EXTENDED_ERROR) {
        net::DWORD code = 0;
        net::DWORD length = 0;
        (void)m_internet.InternetGetLastResponseInfoA(&code, nullptr, &length);
        QByteArray buffer(static_cast<qsizetype>(length) + 1, '\0');
        (void)m_internet.InternetGetLastResponseInfoA(&code, buffer.data(), &length);
        const QString response = QString::fromLocal8Bit(buffer.constData());  // up to the first NUL
        m_ui.MsgBox(this, szFunction + QStringLiteral(" Extd Err: ") + QString::number(code) + QLatin1Char(' ') + response,
                    MsgStyle::OkOnly, reason);
    }
    QString question = szFunction + QStringLiteral(" Err: ") + QString::number(dwError) +
                       QStringLiteral("\r\nClose Connection and Session?");
    // A refused secure connection (a certificate, or an SSH host key) says why below the
    // question: the number alone tells the user nothing.
    const auto error = static_cast<net::DWORD>(dwError);
    const bool secureRefusal = error == net::ERROR_INTERNET_INVALID_CA ||
                               error == net::ERROR_INTERNET_SEC_CERT_CN_INVALID ||
                               error == net::ERROR_INTERNET_SECURITY_CHANNEL_ERROR ||
                               error == net::ERROR_INTERNET_SEC_INVALID_CERT ||
                               error == net::ERROR_INTERNET_SEC_CERT_REVOKED;
    if (secureRefusal && !reason.isEmpty())
        question += QStringLiteral("\r\n\r\n") + reason;
    if (!note.isEmpty())  // what a cut download kept
        question += QStringLiteral("\r\n\r\n") + note;
    // No is the default: a stray Enter keeps what was typed.
    const MsgAnswer answer = m_ui.MsgBox(this, question, MsgStyle::YesNoDefaultNo, secureRefusal ? QString() : reason);
    if (answer == MsgAnswer::Yes)
        closeEverything();
}

void fmKESTRIX::tellUser(const QString& notice)
{
    if (m_calls.ending())
        std::fprintf(stderr, "quillon-ftp: %s\n", notice.toLocal8Bit().constData());
    else
        m_ui.MsgBox(this, notice, MsgStyle::OkOnly);
}

// The close of the session and the "Yes" of the error report share these steps.
void fmKESTRIX::closeEverything()
{
    if (hConnection != 0)
        (void)m_internet.InternetCloseHandle(hConnection);
    if (hOpen != 0)
        (void)m_internet.InternetCloseHandle(hOpen);
    const bool wasConnected = bConnected;
    hConnection = 0;
    hOpen = 0;
    if (wasConnected)
        TreeView1->remove(m_rootKey);  // by the key it was made with: an edited box changes nothing
    m_rootKey.clear();
    m_loginFolder.clear();
    bConnected = false;
    ClearFields();
    EnableControls(false);
}

// ---- Session ----

void fmKESTRIX::cmdInternetOpen_Click() { if (!callRunning()) startSession(); }
void fmKESTRIX::ss_Click() { if (!callRunning()) startSession(); }
void fmKESTRIX::cmdClosehOpen_Click() { if (!callRunning()) closeSession(); }
void fmKESTRIX::cs_Click() { if (!callRunning()) closeSession(); }

void fmKESTRIX::startSession()
{
    const QString proxy = txtProxy->text();  // not trimmed: blanks name a proxy too
    if (!proxy.isEmpty()) {
        const QByteArray proxyText = proxy.toLocal8Bit();
        hOpen = m_internet.InternetOpenA(kAgent.constData(), net::INTERNET_OPEN_TYPE_PROXY, proxyText.constData(),
                                         nullptr, 0);
    } else {
        hOpen = m_internet.InternetOpenA(kAgent.constData(), net::INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    }
    if (hOpen == 0) {
        const auto error = static_cast<std::int32_t>(m_internet.GetLastError());
        ErrorOut(error, QStringLiteral("InternetOpen"));
    }
    EnableControls(true);
}

void fmKESTRIX::closeSession()
{
    closeEverything();
}

// ---- Connection ----

void fmKESTRIX::cmdConnect_Click() { if (!callRunning()) connectToServer(); }
void fmKESTRIX::connect_Click() { if (!callRunning()) connectToServer(); }
void fmKESTRIX::cmdDisconnect_Click() { if (!callRunning()) disconnectFromServer(); }
void fmKESTRIX::disconnect_Click() { if (!callRunning()) disconnectFromServer(); }

void fmKESTRIX::connectToServer()
{
    if (bConnected || hOpen == 0)
        return;
    const QString serverText = txtServer->text();
    if (serverText.isEmpty()) {
        m_ui.MsgBox(this, QStringLiteral("Please enter a server name!"), MsgStyle::OkOnly);
        return;
    }
    const net::DWORD passive = chkPassive->isChecked() ? net::INTERNET_FLAG_PASSIVE : 0;
    const QByteArray server = serverText.toLocal8Bit();
    const QByteArray user = txtUser->text().toLocal8Bit();
    const QByteArray password = txtPassword->text().toLocal8Bit();
    const auto connectNow = [&] {
        return m_internet.InternetConnectA(hOpen, server.constData(), net::INTERNET_INVALID_PORT_NUMBER,
                                           user.constData(), password.constData(), net::INTERNET_SERVICE_FTP,
                                           passive, 0);
    };
    hConnection = connectNow();
    if (hConnection == 0 && (CertificateQuestion::askToTrust(m_internet, m_ui, this) ||
                             HostKeyQuestion::askToTrust(m_internet, m_ui, this)))
        hConnection = connectNow();  // the server's own certificate, or its host key, is trusted now
    if (hConnection == 0) {
        bConnected = false;
        const auto error = static_cast<std::int32_t>(m_internet.GetLastError());
        ErrorOut(error, QStringLiteral("InternetConnect"));
        return;
    }
    bConnected = true;
    m_rootKey = serverText;
    if (!readLoginFolder())
        return;  // the report's "Yes" closed everything
    EnableControls(hOpen != 0);
    TreeView1->clearNodes();  // a connect never reuses a node left from before
    AddNodes(m_rootKey);
    ListRemoteDirectory(QString());
    if (!colNames.isEmpty())
        AddNodes(m_rootKey);
    TreeView1->focusNode(TreeView1->find(m_rootKey));  // none if the report's "Yes" closed everything
}

// The folder the login placed the user in is the one the root node stands for.
// False when reading it failed and the report's "Yes" closed everything.
bool fmKESTRIX::readLoginFolder()
{
    m_loginFolder = QStringLiteral("/");
    QByteArray buffer(net::MAX_PATH, '\0');
    auto length = static_cast<net::DWORD>(buffer.size());
    net::BOOL read = m_internet.FtpGetCurrentDirectoryA(hConnection, buffer.data(), &length);
    if (!read && length > static_cast<net::DWORD>(buffer.size())) {  // a longer path: again, with room for it
        buffer = QByteArray(static_cast<qsizetype>(length), '\0');
        read = m_internet.FtpGetCurrentDirectoryA(hConnection, buffer.data(), &length);
    }
    if (!read) {
        const auto error = static_cast<std::int32_t>(m_internet.GetLastError());
        ErrorOut(error, QStringLiteral("FtpGetCurrentDirectory"));
        return bConnected;  // on "No" the root stands for "/"
    }
    m_loginFolder = net::textFromBytes(std::string_view(buffer.constData(), length));
    return true;
}

void fmKESTRIX::disconnectFromServer()
{
    if (hConnection != 0)
        (void)m_internet.InternetCloseHandle(hConnection);
    hConnection = 0;
    ClearListing();
    TreeView1->remove(m_rootKey);  // by the key it was made with: an edited box changes nothing
    m_rootKey.clear();
    m_loginFolder.clear();
    bConnected = false;
    EnableControls(true);
}

// ---- Remote folders ----

bool fmKESTRIX::ChangeRemoteDir(const QString& sPath)
{
    if (sPath.isEmpty()) {
        m_ui.MsgBox(this, QStringLiteral("Please enter the directory to CD"), MsgStyle::OkOnly);
        return false;
    }
    const QByteArray path = net::bytesFromText(remote::serverPathFor(sPath, m_rootKey, m_loginFolder));
    if (!m_internet.FtpSetCurrentDirectoryA(hConnection, path.constData())) {
        const auto error = static_cast<std::int32_t>(m_internet.GetLastError());
        ErrorOut(error, QStringLiteral("rcd"));
        return false;
    }
    return true;
}

void fmKESTRIX::appendEntry(const net::WIN32_FIND_DATAA& record)
{
    const auto length = ::strnlen(record.cFileName, sizeof record.cFileName);
    colAttributes.append(record.dwFileAttributes);
    colNames.append(net::textFromBytes(std::string_view(record.cFileName, length)));
    colDetails.append(remote::detailsOf(record));
}

bool fmKESTRIX::ListRemoteDirectory(const QString& sPath)
{
    ClearListing();
    // The folder that stayed current is never listed as if it were this one.
    if (!sPath.isEmpty() && !ChangeRemoteDir(QString(sPath)))
        return false;

    net::WIN32_FIND_DATAA record;
    std::memset(record.cFileName, 0, sizeof record.cFileName);
    const net::HINTERNET hFind = m_internet.FtpFindFirstFileA(hConnection, "*.*", &record, 0, 0);
    const net::DWORD firstError = m_internet.GetLastError();
    if (hFind == 0) {
        if (firstError == net::ERROR_NO_MORE_FILES)
            m_ui.MsgBox(this, QStringLiteral("This directory is empty!"), MsgStyle::OkOnly);
        else
            ErrorOut(static_cast<std::int32_t>(firstError), QStringLiteral("FtpFindFirstFile"));
        return true;
    }
    appendEntry(record);
    for (;;) {
        std::memset(record.cFileName, 0, sizeof record.cFileName);
        if (!m_internet.InternetFindNextFileA(hFind, &record))
            break;
        appendEntry(record);
    }
    const net::DWORD nextError = m_internet.GetLastError();
    if (nextError != net::ERROR_NO_MORE_FILES)
        ErrorOut(static_cast<std::int32_t>(nextError), QStringLiteral("InternetFindNextFile"));
    (void)m_internet.InternetCloseHandle(hFind);
    return true;
}

void fmKESTRIX::AddNodes(const QString& sParent)
{
    if (!m_rootKey.isEmpty() && m_rootKey == sParent && colNames.isEmpty()) {
        TreeView1->addRoot(m_rootKey, QStringLiteral("root"));
        return;
    }
    const qsizetype count = std::min(colNames.size(), colAttributes.size());
    // Each child's key is sParent, "/" and its name; the tree composes it.
    TreeView1->addChildren(sParent, count, [this](qsizetype i) {  // a parent that is not there gets nothing
        const bool folder = colAttributes[i] == net::FILE_ATTRIBUTE_DIRECTORY;
        return remote::ChildEntry{colNames.at(i), folder ? u"closed" : u"leaf", colDetails.value(i)};
    });
}

void fmKESTRIX::TreeView1_DblClick()
{
    if (callRunning())
        return;  // a call runs: the tree waits
    if (!bConnected) {
        m_ui.MsgBox(this, QStringLiteral("Not in session!"), MsgStyle::OkOnly);
        return;
    }
    remote::Node* node = TreeView1->selectedNode();
    if (!node) {
        m_ui.MsgBox(this, QStringLiteral("no Selection to enumerate"), MsgStyle::OkOnly);
        return;
    }
    const QString image = TreeView1->image(node);
    const QString path = TreeView1->text(node);
    if (image == QLatin1String("closed")) {
        TreeView1->setImage(node, QStringLiteral("open"));
        if (!ListRemoteDirectory(path)) {
            // Not entered: it stays closed and childless, so another double-click retries.
            // (The node is gone if the report's "Yes" closed everything.)
            if (remote::Node* again = TreeView1->find(path))
                TreeView1->setImage(again, QStringLiteral("closed"));
            return;
        }
        AddNodes(path);
    } else if (image == QLatin1String("open")) {
        TreeView1->setImage(node, QStringLiteral("closed"));
        TreeView1->removeChildren(node);
    }
}

// ---- Local lists and transfer type ----

void fmKESTRIX::Drive1_Change()
{
    transfer::followDrive(*Drive1, *Dir1);  // an unreadable volume falls back to "/", silently
}

void fmKESTRIX::Dir1_Change()
{
    transfer::followFolder(*Dir1, *File1);
    transfer::followVolume(*Dir1, *Drive1);  // the drive list shows the volume the folder is on
}

void fmKESTRIX::optAscii_Click() { dwType = net::FTP_TRANSFER_TYPE_ASCII; }
void fmKESTRIX::optBin_Click() { dwType = net::FTP_TRANSFER_TYPE_BINARY; }

// ---- Transfers ----

void fmKESTRIX::cmdGet_Click()
{
    if (callRunning())
        return;  // a call runs: no second one
    remote::Node* node = TreeView1->selectedNode();
    if (!bConnected) {
        m_ui.MsgBox(this, QStringLiteral("Not in session. Please start a new Internet Session."), MsgStyle::OkOnly);
        return;
    }
    WindowBatch batch(*this);
    if (const auto nodes = batch.selectedNodes(); batch.wantsBatch(nodes))
        return batch.download(nodes, File1->Path());
    if (!node) {
        m_ui.MsgBox(this, QStringLiteral("Please select the file to download from the server."), MsgStyle::OkOnly);
        return;
    }
    const remote::SplitPath split = remote::splitTreePath(TreeView1->text(node), m_rootKey);
    const QString folder = File1->Path();
    if (!ChangeRemoteDir(split.directory))
        return;  // a same-named file in the folder that stayed current is not this one
    const QByteArray remoteName = net::bytesFromText(split.name);
    const QByteArray localPath = net::bytesFromText(QDir(folder).filePath(split.name));
    const net::BOOL copied = m_internet.FtpGetFileA(hConnection, remoteName.constData(), localPath.constData(), 0,
                                                    net::FILE_FLAG_WRITE_THROUGH, dwType, 0);
    const net::DWORD error = copied ? 0 : m_internet.GetLastError();
    const QString note = copied ? QString() : QString::fromLocal8Bit(m_internet.lastNotice());
    File1->Refresh();
    if (!copied)
        ErrorOut(static_cast<std::int32_t>(error), QStringLiteral("FtpGetFile"), note);
}

void fmKESTRIX::File1_DblClick()
{
    if (callRunning())
        return;
    cmdPut_Click();
}

void fmKESTRIX::cmdPut_Click()
{
    if (callRunning())
        return;  // a call runs: no second one
    remote::Node* node = TreeView1->selectedNode();
    if (!bConnected)
        return;
    if (!node || TreeView1->image(node) == QLatin1String("leaf")) {
        m_ui.MsgBox(this, QStringLiteral("Please select a folder on the Server."), MsgStyle::OkOnly);
        return;
    }
    if (const QStringList local = WindowBatch(*this).selectedLocal();
        local.size() > 1 || (local.size() == 1 && QFileInfo(local.front()).isDir()))
        return WindowBatch(*this).upload(local, TreeView1->text(node));
    if (File1->FileName().isEmpty()) {
        m_ui.MsgBox(this, QStringLiteral("Please select a local file to upload."), MsgStyle::OkOnly);
        return;
    }
    const QString nodeText = TreeView1->text(node);
    const QString fileName = File1->FileName();
    const QString localPath = QDir(File1->Path()).filePath(fileName);
    // The node's own path, mapped once there; the root stands for the login folder.
    if (!ChangeRemoteDir(nodeText))
        return;  // the file must not land in the folder that stayed current

    const QByteArray local = net::bytesFromText(localPath);
    const QByteArray remoteName = net::bytesFromText(fileName);
    const bool put = m_internet.FtpPutFileA(hConnection, local.constData(), remoteName.constData(), dwType, 0);
    const auto error = put ? 0 : static_cast<std::int32_t>(m_internet.GetLastError());
    // Files left on the server that could not be removed, or the server's file left holding
    // part of the new one: the user is told, even after a cancel (which ErrorOut does not report).
    if (const QString notice = QString::fromLocal8Bit(m_internet.lastNotice()); !notice.isEmpty())
        tellUser(notice);
    if (!put) {
        ErrorOut(error, QStringLiteral("FtpPutFile"));
        return;
    }
    relistFolder(nodeText);
}

// The folder's node, listed again; nothing when it has gone (the error report closed everything).
void fmKESTRIX::relistFolder(const QString& key)
{
    remote::Node* node = TreeView1->find(key);
    if (!node)
        return;
    TreeView1->removeChildren(node);
    if (TreeView1->image(node) == QLatin1String("closed"))
        TreeView1->setImage(node, QStringLiteral("open"));
    ListRemoteDirectory(key);
    if (!colNames.isEmpty())
        AddNodes(key);
}

// ---- Commands on server entries ----

void fmKESTRIX::mnuNewFolder_Click() { runServerCommand(&ServerCommands::newFolder); }
void fmKESTRIX::mnuRename_Click() { runServerCommand(&ServerCommands::rename); }
void fmKESTRIX::mnuDelete_Click() { runServerCommand(&ServerCommands::remove); }
void fmKESTRIX::mnuPermissions_Click() { runServerCommand(&ServerCommands::setPermissions); }
void fmKESTRIX::mnuRefresh_Click() { runServerCommand(&ServerCommands::refresh); }

void fmKESTRIX::runServerCommand(TreeChange (ServerCommands::*command)(const ServerEntry&))
{
    if (callRunning() || !bConnected)
        return;
    const remote::Node* node = TreeView1->selectedNode();
    if (!node)
        node = TreeView1->find(m_rootKey);
    if (!node)
        return;
    const remote::Node* parent = node->parent();
    ServerEntry entry{node->path(), node->name(), parent ? parent->path() : QString(),
                      TreeView1->image(node) != QLatin1String("leaf"), node->details(), {}};
    for (int i = 0; parent && i < parent->childCount(); ++i)
        entry.neighbours << parent->child(i)->name();
    ServerCommands commands(m_internet, m_ui, this, {hConnection, m_rootKey, m_loginFolder},
                            [this](net::DWORD error, const QString& function) { ErrorOut(std::int32_t(error), function); });
    const TreeChange change = (commands.*command)(entry);
    if (!change.relist.isEmpty())
        relistFolder(change.relist);
    if (remote::Node* chosen = TreeView1->find(change.select))
        TreeView1->focusNode(chosen);
}

void fmKESTRIX::TreeView1_Drop(const QStringList& localPaths, const QString& nodeText)
{
    if (callRunning() || !bConnected)
        return;  // refused like any other input while a call runs
    WindowBatch(*this).upload(localPaths, nodeText);
}

void fmKESTRIX::LocalList_Drop(const QStringList& nodeTexts, const QString& folder)
{
    if (callRunning() || !bConnected)
        return;
    WindowBatch batch(*this);
    batch.download(batch.nodesAt(nodeTexts), folder);
}

// ---- Settings file ----

void fmKESTRIX::Command1_Click() { if (!callRunning()) saveConnection(); }
void fmKESTRIX::sveconn_Click() { if (!callRunning()) saveConnection(); }

void fmKESTRIX::Command2_Click()
{
    if (callRunning())
        return;
    CommonDialog1.setFilter(settings::kOpenButtonFilter);
    openConnection();
}

void fmKESTRIX::opconn_Click() { if (!callRunning()) openConnection(); }

void fmKESTRIX::saveConnection()
{
    settings::saveConnection(m_ui, this, CommonDialog1,
                             settings::ConnectionFields{txtServer->text(), txtUser->text(), txtPassword->text()});
}

void fmKESTRIX::openConnection()
{
    const std::optional<settings::ConnectionFields> fields = settings::openConnection(m_ui, this, CommonDialog1);
    if (!fields)
        return;
    txtServer->setText(fields->server);
    txtUser->setText(fields->user);
    txtPassword->setText(fields->password);
}

// ---- Help menu ----

void fmKESTRIX::hlp_Click()
{
    if (m_aux)
        m_aux->showHelp();
}

void fmKESTRIX::license_Click()
{
    if (m_aux)
        m_aux->showLicence();
}

void fmKESTRIX::about_Click()
{
    if (m_aux)
        m_aux->showAbout();
}

}  // namespace app
