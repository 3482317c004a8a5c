// The main window driving the real Internet layer against a local FTP server.

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QAccessible>
#include <QTemporaryDir>
#include <QTest>
#include <QtWidgets>
#include <gtest/gtest.h>

#include <csignal>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>

#include "ActingView.h"
#include "FtpServer.h"
#include "HostileServer.h"
#include "Wait.h"
#include "support/RawTempDir.h"
#include "support/ScriptedUi.h"
#include "app/Program.h"
#include "app/fmKESTRIX.h"
#include "net/CurlInternet.h"
#include "net/NameCodec.h"
#include "remote/RemoteTree.h"
#include "transfer/FileList.h"

namespace {

QByteArray randomBytes(int size)
{
    std::mt19937 gen(42);
    QByteArray out(size, '\0');
    for (char& c : out)
        c = static_cast<char>(gen() & 0xFF);
    return out;
}

void writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class WindowWithServer : public ::testing::Test {
protected:
    // The server never converts line ends, so its disk shows what went over the wire.
    virtual testsupport::FtpServerOptions serverOptions() const
    {
        testsupport::FtpServerOptions options;
        options.rawAscii = true;
        return options;
    }

    void SetUp() override
    {
        writeFile(m_remote.filePath("pub/docs/guide.txt"), "line one\r\nline two\r\n");
        writeFile(m_remote.filePath("pub/data.bin"), m_binary);
        writeFile(m_remote.filePath("readme.txt"), "hello\r\n");
        QDir(m_remote.path()).mkpath("empty");
        QDir(m_remote.path()).mkpath("incoming");
        m_server = std::make_unique<testsupport::FtpServer>(m_remote.path().toStdString(), serverOptions());
        ASSERT_TRUE(m_server->running());
        m_program = std::make_unique<app::Program>(m_internet, app::ProgramParts{.ui = &m_ui, .quit = [] {}});
        m_window = &m_program->window();
        ASSERT_TRUE(m_window->Form_Load());
        m_window->File1->setPath(m_local.path());
    }

    void connect(const char* password = "secret")
    {
        m_window->cmdInternetOpen_Click();
        m_key = QString::fromStdString(m_server->address());
        m_window->txtServer->setText(m_key);
        m_window->txtUser->setText("user");
        m_window->txtPassword->setText(password);
        m_window->cmdConnect_Click();
    }

    // The root's key: the server text the connection was made with.
    QString root() const { return m_key; }
    remote::RemoteTree& tree() { return *m_window->TreeView1; }
    remote::Node* node(const QString& below) { return tree().find(root() + below); }
    void doubleClick(const QString& below)
    {
        tree().setCurrentItem(node(below));
        m_window->TreeView1_DblClick();
    }
    void select(const QString& below) { tree().setCurrentItem(below.isEmpty() ? tree().find(root()) : node(below)); }
    int countCommands(const std::string& line) const
    {
        const auto all = m_server->commands();
        return int(std::count(all.begin(), all.end(), line));
    }
    QStringList children(const QString& below)
    {
        QStringList out;
        remote::Node* n = below.isEmpty() ? tree().find(root()) : node(below);
        for (int i = 0; n && i < n->childCount(); ++i)
            out << remote::RemoteTree::text(n->child(i)).mid(root().size());
        return out;
    }

    QByteArray m_binary = randomBytes(1 << 20);
    QString m_key;
    testsupport::RawTempDir m_remote;  // the tests leave names of any bytes in both
    testsupport::RawTempDir m_local;
    std::unique_ptr<testsupport::FtpServer> m_server;
    net::CurlInternet m_internet;
    testsupport::ScriptedUi m_ui;
    std::unique_ptr<app::Program> m_program;
    app::fmKESTRIX* m_window = nullptr;
};

TEST_F(WindowWithServer, ConnectShowsTheLoginFolderAndFoldersOpenAndClose)
{
    connect();
    ASSERT_TRUE(m_window->bConnected);
    EXPECT_EQ(remote::RemoteTree::image(tree().find(root())), "root");
    QStringList expected{"/empty", "/incoming", "/pub", "/readme.txt"};
    QStringList got = children("");
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, expected);
    EXPECT_EQ(remote::RemoteTree::image(node("/pub")), "closed");
    EXPECT_EQ(remote::RemoteTree::image(node("/readme.txt")), "leaf");

    doubleClick("/pub");
    EXPECT_NE(m_server->commandLog().find("CWD /pub"), std::string::npos) << m_server->commandLog();
    EXPECT_EQ(remote::RemoteTree::image(node("/pub")), "open");
    ASSERT_NE(node("/pub/docs"), nullptr);
    doubleClick("/pub/docs");
    ASSERT_NE(node("/pub/docs/guide.txt"), nullptr);

    doubleClick("/pub");  // closing takes the grandchildren too
    EXPECT_EQ(node("/pub/docs"), nullptr);
    EXPECT_EQ(node("/pub/docs/guide.txt"), nullptr);
    EXPECT_EQ(m_server->count("USER"), 1);
    EXPECT_TRUE(m_ui.shown.empty()) << m_ui.texts().join("|").toStdString();
}

TEST_F(WindowWithServer, EmptyFolderShowsTheMessageThenClosesAndRelists)
{
    connect();
    doubleClick("/empty");
    EXPECT_EQ(m_ui.texts(), QStringList{"This directory is empty!"});
    EXPECT_EQ(remote::RemoteTree::image(node("/empty")), "open");
    EXPECT_EQ(node("/empty")->childCount(), 0);
    doubleClick("/empty");
    EXPECT_EQ(remote::RemoteTree::image(node("/empty")), "closed");
    doubleClick("/empty");
    EXPECT_EQ(m_ui.texts().size(), 2);
}

TEST_F(WindowWithServer, MlsdFolderAndParentLinesAreNoNodesSoAnEmptyFolderSaysSo)
{
    testsupport::FtpServerOptions options;
    options.dots = true;  // MLSD lists type=cdir "." and type=pdir ".." in every folder
    m_server = std::make_unique<testsupport::FtpServer>(m_remote.path().toStdString(), options);
    ASSERT_TRUE(m_server->running());
    connect();
    QStringList got = children("");
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (QStringList{"/empty", "/incoming", "/pub", "/readme.txt"}));
    doubleClick("/empty");
    EXPECT_EQ(m_ui.texts(), QStringList{"This directory is empty!"});
    EXPECT_EQ(node("/empty")->childCount(), 0);
    EXPECT_GE(m_server->count("MLSD"), 2);
}

TEST_F(WindowWithServer, WrongPasswordIsReportedWithTheServerWordsAndConnectStaysEnabled)
{
    connect("wrong");
    EXPECT_FALSE(m_window->bConnected);
    ASSERT_EQ(m_ui.shown.size(), 2u);
    EXPECT_TRUE(m_ui.shown[0].text.startsWith("InternetConnect Extd Err: 530 530")) << m_ui.shown[0].text.toStdString();
    EXPECT_EQ(m_ui.shown[1].text, "InternetConnect Err: 12003\r\nClose Connection and Session?");
    EXPECT_TRUE(m_window->cmdConnect->isEnabled());
    EXPECT_EQ(tree().nodeCount(), 0);

    m_window->txtPassword->setText("secret");
    m_window->cmdConnect_Click();
    EXPECT_TRUE(m_window->bConnected);
}

TEST_F(WindowWithServer, DisconnectThenConnectAgain)
{
    connect();
    m_window->cmdDisconnect_Click();
    EXPECT_EQ(tree().nodeCount(), 0);
    EXPECT_NE(m_window->hOpen, 0u);
    m_window->cmdConnect_Click();
    EXPECT_TRUE(m_window->bConnected);
    EXPECT_EQ(children("").size(), 4);
    EXPECT_EQ(m_server->count("USER"), 2);
}

TEST_F(WindowWithServer, BinaryDownloadIsByteExactAndListed)
{
    writeFile(m_local.filePath("data.bin"), "old contents");  // replaced without asking
    connect();
    doubleClick("/pub");
    tree().setCurrentItem(node("/pub/data.bin"));
    m_window->cmdGet_Click();
    EXPECT_TRUE(m_ui.shown.empty()) << m_ui.texts().join("|").toStdString();
    EXPECT_EQ(QCryptographicHash::hash(readFile(m_local.filePath("data.bin")), QCryptographicHash::Sha256),
              QCryptographicHash::hash(m_binary, QCryptographicHash::Sha256));
    EXPECT_EQ(m_window->File1->findItems("data.bin", Qt::MatchExactly).size(), 1);
}

TEST_F(WindowWithServer, AsciiDownloadTurnsCrLfIntoLfAndKeepsLoneCrs)
{
    writeFile(m_remote.filePath("mixed.txt"), "a\r\nb\rc\nd\r\r\n\r");
    connect();
    m_window->optAscii->click();
    tree().setCurrentItem(node("/readme.txt"));
    m_window->cmdGet_Click();
    EXPECT_EQ(readFile(m_local.filePath("readme.txt")), "hello\n");
    EXPECT_NE(m_server->commandLog().find("TYPE A"), std::string::npos);
    // The server sends the bytes as they are: only CR LF pairs become LF, a CR at the very end stays.
    tree().setCurrentItem(node("/mixed.txt"));
    m_window->cmdGet_Click();
    EXPECT_EQ(readFile(m_local.filePath("mixed.txt")), "a\nb\rc\nd\r\n\r");
    EXPECT_TRUE(m_ui.shown.empty()) << m_ui.texts().join("|").toStdString();
}

TEST_F(WindowWithServer, FailedDownloadsAreReportedAndKeepTheOldFile)
{
    writeFile(m_local.filePath("pub"), "keep me");
    writeFile(m_local.filePath("readme.txt"), "keep me too");
    connect();
    QFile::remove(m_remote.filePath("readme.txt"));  // gone since the listing
    tree().setCurrentItem(node("/readme.txt"));
    m_window->cmdGet_Click();
    tree().setCurrentItem(node("/pub"));  // a folder onto a file of its name: listed, never written elsewhere
    m_window->cmdGet_Click();
    const QStringList texts = m_ui.texts();
    EXPECT_EQ(texts.filter("FtpGetFile Err: 12003").size(), 1) << texts.join("|").toStdString();
    EXPECT_EQ(texts.filter("FtpGetFile Extd Err: 550").size(), 1);
    EXPECT_EQ(texts.filter("/pub: ").size(), 1);
    EXPECT_EQ(readFile(m_local.filePath("readme.txt")), "keep me too");
    EXPECT_EQ(readFile(m_local.filePath("pub")), "keep me");
    EXPECT_EQ(QDir(m_local.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);  // no temporary left
}

TEST_F(WindowWithServer, NamesOfAnyBytesGoBothWaysByteExact)
{
    // Latin-1 names, not UTF-8: the server and the local disk hold these very bytes.
    const std::string remoteName = "caf\xe9.txt", localName = "na\xefve.bin";
    const std::string remoteRoot = QFile::encodeName(m_remote.path()).toStdString();
    const std::string localRoot = QFile::encodeName(m_local.path()).toStdString();
    auto write = [](const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    };
    auto read = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    write(remoteRoot + "/" + remoteName, "down under its own bytes");
    write(localRoot + "/" + localName, "up under its own bytes");
    m_window->File1->Refresh();
    connect();

    const QString shown = net::textFromBytes(remoteName);
    ASSERT_NE(node("/" + shown), nullptr) << children("").join("|").toStdString();
    tree().setCurrentItem(node("/" + shown));
    m_window->cmdGet_Click();
    EXPECT_TRUE(m_ui.shown.empty()) << m_ui.texts().join("|").toStdString();
    EXPECT_EQ(read(localRoot + "/" + remoteName), "down under its own bytes");
    EXPECT_NE(m_server->commandLog().find("RETR " + remoteName + "\n"), std::string::npos) << m_server->commandLog();
    EXPECT_EQ(m_window->File1->findItems(shown, Qt::MatchExactly).size(), 1);

    ASSERT_TRUE(m_window->File1->setFileName(net::textFromBytes(localName)));
    tree().setCurrentItem(tree().find(root()));
    m_window->cmdPut_Click();
    EXPECT_TRUE(m_ui.shown.empty()) << m_ui.texts().join("|").toStdString();
    EXPECT_EQ(read(remoteRoot + "/" + localName), "up under its own bytes");
    EXPECT_NE(m_server->commandLog().find("RNTO /" + localName + "\n"), std::string::npos) << m_server->commandLog();
    EXPECT_NE(node("/" + net::textFromBytes(localName)), nullptr);
}

TEST_F(WindowWithServer, UploadIntoAFolderNodeAndIntoTheRoot)
{
    writeFile(m_local.filePath("up.bin"), m_binary);
    writeFile(m_local.filePath("notes.txt"), "a\nb\n");
    m_window->File1->Refresh();
    connect();

    m_window->File1->setFileName("up.bin");
    tree().setCurrentItem(node("/incoming"));
    m_window->cmdPut_Click();
    EXPECT_EQ(readFile(m_remote.filePath("incoming/up.bin")), m_binary);
    EXPECT_EQ(remote::RemoteTree::image(node("/incoming")), "open");
    EXPECT_NE(node("/incoming/up.bin"), nullptr);

    m_server->clearLog();
    m_window->optAscii->click();
    m_window->File1->setFileName("notes.txt");
    tree().setCurrentItem(tree().find(root()));
    m_window->File1_DblClick();
    // What the server received: one CR LF per line end, whatever the local file had.
    EXPECT_EQ(readFile(m_remote.filePath("notes.txt")), "a\r\nb\r\n");
    EXPECT_NE(m_server->commandLog().find("CWD /\n"), std::string::npos) << m_server->commandLog();
    EXPECT_NE(node("/notes.txt"), nullptr);
    EXPECT_EQ(remote::RemoteTree::image(tree().find(root())), "root");

    writeFile(m_local.filePath("dos.txt"), "c\r\nd\re\n");
    m_window->File1->Refresh();
    m_window->File1->setFileName("dos.txt");
    tree().setCurrentItem(tree().find(root()));
    m_window->cmdPut_Click();
    EXPECT_EQ(readFile(m_remote.filePath("dos.txt")), "c\r\nd\re\r\n");
    EXPECT_TRUE(m_ui.shown.empty()) << m_ui.texts().join("|").toStdString();
}

// A folder that cannot be entered stops the work: nothing is listed, fetched or stored
// in the folder that stayed current.
TEST_F(WindowWithServer, FailedChangeOfFolderStopsListingDownloadAndUpload)
{
    writeFile(m_remote.filePath("a/same.txt"), "from a");
    writeFile(m_remote.filePath("b/same.txt"), "from b");
    writeFile(m_remote.filePath("c/inner.txt"), "from c");
    writeFile(m_local.filePath("same.txt"), "keep me");
    writeFile(m_local.filePath("up.txt"), "upload");
    m_window->File1->Refresh();
    connect();
    doubleClick("/a");
    doubleClick("/b");  // the current folder is now /b
    ASSERT_NE(node("/a/same.txt"), nullptr);
    ASSERT_TRUE(QDir(m_remote.filePath("a")).removeRecursively());
    ASSERT_TRUE(QDir(m_remote.filePath("c")).removeRecursively());
    ASSERT_TRUE(m_ui.shown.empty()) << m_ui.texts().join("|").toStdString();

    const int listings = m_server->count("MLSD") + m_server->count("LIST");
    doubleClick("/c");
    EXPECT_EQ(remote::RemoteTree::image(node("/c")), "closed");  // another double-click retries
    EXPECT_EQ(node("/c")->childCount(), 0);
    EXPECT_EQ(m_server->count("MLSD") + m_server->count("LIST"), listings) << m_server->commandLog();
    EXPECT_TRUE(m_window->colNames.isEmpty());

    select("/a/same.txt");
    m_window->cmdGet_Click();
    EXPECT_EQ(m_server->count("RETR"), 0) << m_server->commandLog();
    EXPECT_EQ(readFile(m_local.filePath("same.txt")), "keep me");

    m_window->File1->setFileName("up.txt");
    select("/a");
    m_window->cmdPut_Click();
    EXPECT_EQ(m_server->count("STOR"), 0) << m_server->commandLog();
    EXPECT_FALSE(QFile::exists(m_remote.filePath("b/up.txt")));
    EXPECT_EQ(readFile(m_remote.filePath("b/same.txt")), "from b");

    // Each failure was told once, as the change of folder, and answered "No".
    const QStringList texts = m_ui.texts();
    EXPECT_EQ(texts.filter("rcd Err: 12003").size(), 3) << texts.join("|").toStdString();
    EXPECT_EQ(texts.filter("rcd Extd Err: 550").size(), 3);
    EXPECT_EQ(texts.size(), 6);
    EXPECT_TRUE(m_window->bConnected);
}

// "Yes" in the report of a failed change closes everything; nothing is sent afterwards.
TEST_F(WindowWithServer, YesAfterAFailedChangeOfFolderSendsNothingMore)
{
    writeFile(m_local.filePath("up.txt"), "upload");
    m_window->File1->Refresh();
    connect();
    ASSERT_TRUE(QDir(m_remote.filePath("incoming")).removeRecursively());
    m_window->File1->setFileName("up.txt");
    select("/incoming");
    m_ui.answers.push_back(ui::MsgAnswer::Yes);
    m_window->cmdPut_Click();
    EXPECT_FALSE(m_window->bConnected);
    EXPECT_EQ(tree().nodeCount(), 0);
    EXPECT_EQ(m_server->count("STOR") + m_server->count("PASV") + m_server->count("EPSV"), 1)
        << m_server->commandLog();  // the connect's listing only
    EXPECT_EQ(m_ui.texts().size(), 2) << m_ui.texts().join("|").toStdString();
}

// A folder named like the server is mapped once: the file lands in that folder.
TEST_F(WindowWithServer, UploadIntoAFolderNamedLikeTheServerLandsThere)
{
    const QString hostFolder = QStringLiteral("pub/") + QString::fromStdString(m_server->address());
    ASSERT_TRUE(QDir(m_remote.path()).mkpath(hostFolder));
    writeFile(m_local.filePath("site.html"), "<p>site</p>");
    m_window->File1->Refresh();
    connect();
    doubleClick("/pub");
    const QString below = QStringLiteral("/") + hostFolder;
    ASSERT_NE(node(below), nullptr);
    m_window->File1->setFileName("site.html");
    select(below);
    m_window->cmdPut_Click();
    EXPECT_EQ(readFile(m_remote.filePath(hostFolder + "/site.html")), "<p>site</p>");
    EXPECT_FALSE(QFile::exists(m_remote.filePath("pub/site.html")));
    EXPECT_GE(countCommands("CWD /" + hostFolder.toStdString()), 1) << m_server->commandLog();
    EXPECT_NE(node(below + "/site.html"), nullptr);
    EXPECT_TRUE(m_ui.shown.empty()) << m_ui.texts().join("|").toStdString();
}

// The tree follows the server it is connected to, whatever the server box holds now.
TEST_F(WindowWithServer, EditedServerBoxChangesNeitherMappingNorRemoval)
{
    writeFile(m_local.filePath("up.txt"), "upload");
    m_window->File1->Refresh();
    connect();
    m_window->txtServer->setText("[::1]:1");  // edited while connected (an address: nothing resolves)
    doubleClick("/pub");
    EXPECT_GE(countCommands("CWD /pub"), 1) << m_server->commandLog();
    EXPECT_NE(node("/pub/data.bin"), nullptr);
    EXPECT_NE(node("/pub/docs"), nullptr);
    select("/pub/data.bin");
    m_window->cmdGet_Click();
    EXPECT_EQ(readFile(m_local.filePath("data.bin")), m_binary);
    m_window->File1->setFileName("up.txt");
    select("/incoming");
    m_window->cmdPut_Click();
    EXPECT_EQ(readFile(m_remote.filePath("incoming/up.txt")), "upload");
    EXPECT_NE(node("/incoming/up.txt"), nullptr);
    EXPECT_TRUE(m_ui.shown.empty()) << m_ui.texts().join("|").toStdString();

    m_window->cmdDisconnect_Click();
    EXPECT_EQ(tree().nodeCount(), 0);  // no orphan root left behind

    connect();  // a fresh root: the old children are not reused
    EXPECT_EQ(children("").size(), 4);
    EXPECT_EQ(node("/pub/docs"), nullptr);
    m_window->txtServer->setText("[::1]:1");
    QFile::remove(m_remote.filePath("readme.txt"));
    select("/readme.txt");
    m_ui.answers.push_back(ui::MsgAnswer::Yes);
    m_window->cmdGet_Click();  // fails; "Yes" closes everything
    EXPECT_FALSE(m_window->bConnected);
    EXPECT_EQ(tree().nodeCount(), 0);
}

// A server that logs users into their home folder: the root node stands for that folder.
// What a screen reader hears of each node, reached as it would reach it (by the
// node's place on screen): its own name, a description of its path and of what the
// server listed, whether it is a folder that is open, and in the row's other columns
// the size, time and permissions that the description tells.
struct Spoken {
    QString below;  // the node's path below the root; empty: the root
    QString name;
    QStringList description;
    bool expandable;
    bool expanded;
};

class WindowWithListServer : public WindowWithServer {
protected:
    testsupport::FtpServerOptions serverOptions() const override
    {
        testsupport::FtpServerOptions options = WindowWithServer::serverOptions();
        options.mlsd = false;
        return options;
    }

public:
    void expectSpoken(const std::vector<Spoken>& rows)
    {
        m_window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window));
        QAccessibleInterface* treeView = QAccessible::queryAccessibleInterface(&tree());
        for (const Spoken& row : rows) {
            remote::Node* n = row.below.isEmpty() ? tree().find(root()) : node(row.below);
            ASSERT_NE(n, nullptr) << row.below.toStdString();
            tree().scrollTo(tree().indexOf(n));
            const QPoint at = tree().viewport()->mapToGlobal(tree().visualItemRect(n).center());
            QAccessibleInterface* cell = treeView->childAt(at.x(), at.y());
            ASSERT_NE(cell, nullptr) << row.below.toStdString();
            EXPECT_EQ(cell->text(QAccessible::Name).toStdString(), row.name.toStdString());
            const std::string description = row.description.join('\n').toStdString();
            EXPECT_EQ(cell->text(QAccessible::Description).toStdString(), description);
            EXPECT_EQ(tree().model()->data(tree().indexOf(n), Qt::ToolTipRole).toString().toStdString(), description);
            EXPECT_EQ(cell->state().expandable, row.expandable) << row.below.toStdString();
            EXPECT_EQ(cell->state().expanded, row.expanded) << row.below.toStdString();
            const QStringList labels{"Size: ", "Modified: ", "Permissions: "};  // the row's other columns
            for (int column = 1; column <= int(labels.size()); ++column) {
                QString told = row.description.filter(labels[column - 1]).value(0).mid(labels[column - 1].size());
                const QString read = treeView->tableInterface()->cellAt(cell->tableCellInterface()->rowIndex(), column)->text(QAccessible::Name);
                EXPECT_EQ(read.toStdString(), told.remove(" (the server gave only the day)").toStdString()) << row.below.toStdString();
                EXPECT_GT(tree().columnWidth(column), tree().fontMetrics().horizontalAdvance(read));  // shown whole
            }
        }
    }
    QString size(const QString& below) const
    {
        return "Size: " + QLocale().formattedDataSize(QFileInfo(m_remote.filePath(below.mid(1))).size(), 1);
    }
    // The disk's time in the locale's short form; without seconds where the listing gives minutes.
    QString modified(const QString& below, bool seconds = true) const
    {
        QString format = QLocale().dateTimeFormat(QLocale::ShortFormat);
        if (!seconds)
            format.remove(":ss");
        return "Modified: " + QLocale().toString(QFileInfo(m_remote.filePath(below.mid(1))).lastModified(), format);
    }
    static void setTimeAndMode(const QString& path, std::int64_t unixSeconds, mode_t mode, int flags = 0)
    {
        const timespec times[2] = {{unixSeconds, 0}, {unixSeconds, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, flags), 0);
        if (mode)
            ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
    }
};

class WindowWithMlsdServer : public WindowWithListServer {
protected:
    testsupport::FtpServerOptions serverOptions() const override { return WindowWithServer::serverOptions(); }
};

TEST_F(WindowWithMlsdServer, ScreenReadersHearEachNodeByItsNameWithItsSizeAndTime)
{
    for (const char* path : {"pub", "pub/data.bin", "empty", "readme.txt"})
        setTimeAndMode(m_remote.filePath(path), 1700000007, 0);  // MLSD gives the seconds
    connect();
    doubleClick("/pub");
    expectSpoken({
        {"", root(), {root()}, true, true},
        {"/pub", "pub", {root() + "/pub", modified("/pub")}, true, true},
        {"/pub/data.bin", "data.bin", {root() + "/pub/data.bin", size("/pub/data.bin"), modified("/pub/data.bin")}, false, false},
        {"/empty", "empty", {root() + "/empty", modified("/empty")}, true, false},
        {"/readme.txt", "readme.txt", {root() + "/readme.txt", size("/readme.txt"), modified("/readme.txt")}, false, false},
    });
}

TEST_F(WindowWithListServer, ListedPermissionsLinksAndTimesWithoutSecondsOrTimeAreSaid)
{
    setTimeAndMode(m_remote.filePath("readme.txt"), 1580731200, 0640);  // 2020-02-03 12:00 UTC: ls shows the day only
    setTimeAndMode(m_remote.filePath("empty"), QDateTime::currentSecsSinceEpoch() / 60 * 60 - 3600, 0750);  // ls: minutes
    ASSERT_TRUE(QFile::link("readme.txt", m_remote.filePath("link.txt")));
    setTimeAndMode(m_remote.filePath("link.txt"), 1580731200, 0, AT_SYMLINK_NOFOLLOW);
    connect();
    const QString day = "Modified: " + QLocale().toString(QDate(2020, 2, 3), QLocale::ShortFormat) +
                        " (the server gave only the day)";
    expectSpoken({
        {"/empty", "empty", {root() + "/empty", modified("/empty", false), "Permissions: rwxr-x---"}, true, false},
        {"/readme.txt", "readme.txt", {root() + "/readme.txt", size("/readme.txt"), day, "Permissions: rw-r-----"}, false, false},
        {"/link.txt", "link.txt",  // ls gives the link's own size: its target's name
         {root() + "/link.txt", "Type: link", "Size: " + QLocale().formattedDataSize(10, 1), day, "Permissions: rwxrwxrwx"},
         false, false},
    });
    EXPECT_NE(tree().icon(node("/link.txt")).pixmap(16).toImage(), tree().icon(node("/readme.txt")).pixmap(16).toImage());
}

// The server's order first; a column's header sorts by it, again the other way round,
// a third time gives back the server's order. A folder listed meanwhile comes sorted.
TEST_F(WindowWithListServer, ColumnHeadersSortTheTreeAndAThirdClickGivesBackTheServersOrder)
{
    // name, size, day (long ago: ls gives the day), mode
    const std::tuple<const char*, int, std::int64_t, mode_t> files[] = {
        {"a", 3, 1580731200, 0600}, {"B", 1, 1580904000, 0755}, {"c", 2, 1580644800, 0644}};
    for (const auto& [name, size, day, mode] : files) {
        writeFile(m_remote.filePath(QString("s/") + name), QByteArray(size, 'x'));
        setTimeAndMode(m_remote.filePath(QString("s/") + name), day, mode);
    }
    connect();
    m_window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window));
    doubleClick("/s");
    const QStringList server = children("/s");
    const struct {
        int column;
        bool reopen;    // the folder closed and opened again after the click
        QString order;  // empty: the server's
    } clicks[] = {{0, false, "aBc"}, {0, false, "cBa"}, {0, false, ""},    {1, true, "Bca"},
                  {2, false, "caB"}, {3, false, "acB"}, {3, false, "Bca"}, {3, true, ""}};
    QHeaderView* header = tree().header();
    for (const auto& click : clicks) {
        tree().horizontalScrollBar()->setValue(header->sectionPosition(click.column));  // the header shows it
        const int middle = header->sectionViewportPosition(click.column) + header->sectionSize(click.column) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, {middle, header->height() / 2});
        if (click.reopen) {
            doubleClick("/s");
            doubleClick("/s");
        }
        QStringList expected = click.order.isEmpty() ? server : QStringList();
        for (const QChar name : click.order)
            expected << QString("/s/") + name;
        EXPECT_EQ(children("/s"), expected) << click.column;  // top to bottom
    }
}

// Each command on a server entry as the user gives it (a key on the tree, else its menu
// item): the server's disk changes as asked, or not at all when declined or refused, and
// the folder listed again shows what the disk holds. A refusal leaves every node as it
// was and tells the server's words.
TEST_F(WindowWithListServer, CommandsOnServerEntriesChangeTheDiskAndTheTreeShowsIt)
{
    testsupport::FtpServerOptions options = serverOptions();
    options.readOnlyFolder = "locked";  // refused by the server's rights, whoever runs the tests
    writeFile(m_remote.filePath("locked/inner/keep.txt"), "keep");
    m_server = std::make_unique<testsupport::FtpServer>(m_remote.path().toStdString(), options);
    ASSERT_TRUE(m_server->running());
    connect();
    m_window->show();
    m_window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_window));
    writeFile(m_remote.filePath("later.txt"), "written behind the tree's back");
    const auto diskMode = [this](const QString& below) {
        struct stat st {};
        return ::stat(QFile::encodeName(m_remote.filePath(below)).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
    };
    const auto onDisk = [this](const QString& folder) {
        QStringList out;
        for (const QString& name : QDir(m_remote.filePath(folder.mid(1))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
            out << folder + "/" + name;
        return out;
    };
    // Every node's path and kind, top to bottom.
    const std::function<QStringList(remote::Node*)> shownTree = [&](remote::Node* n) {
        QStringList out{remote::RemoteTree::text(n) + " " + remote::RemoteTree::image(n)};
        for (int i = 0; i < n->childCount(); ++i)
            out << shownTree(n->child(i));
        return out;
    };
    struct Row {
        const char* what;
        QString below;  // the node chosen
        Qt::Key key;    // pressed on the tree; 0: the menu item
        QAction* app::fmKESTRIX::*item;
        std::optional<QString> typed;
        std::optional<int> mode;
        bool yes;
        QStringList made, gone;  // below the server's root
        QString folder;          // the folder shown afterwards
        QString told;            // in a message: the question or the server's words
        bool relists = true;
    };
    using W = app::fmKESTRIX;
    const Row rows[] = {
        {"refresh", "", Qt::Key_F5, &W::mnuRefresh, {}, {}, false, {"later.txt"}, {}, ""},
        {"new folder", "/pub/data.bin", Qt::Key(0), &W::mnuNewFolder, "new one", {}, false, {"pub/new one"}, {}, "/pub"},
        {"rename", "/readme.txt", Qt::Key_F2, &W::mnuRename, "read me.txt", {}, false, {"read me.txt"}, {"readme.txt"}, ""},
        {"name taken", "/read me.txt", Qt::Key_F2, &W::mnuRename, "later.txt", {}, false, {"read me.txt", "later.txt"},
         {}, "", "\"later.txt\"", false},
        {"not a name", "/read me.txt", Qt::Key_F2, &W::mnuRename, "x\r\nDELE later.txt", {}, false,
         {"read me.txt", "later.txt"}, {}, "", "is not a name", false},
        {"permissions", "/empty", Qt::Key(0), &W::mnuPermissions, {}, 0750, false, {"empty"}, {}, ""},
        {"delete file", "/pub/data.bin", Qt::Key_Delete, &W::mnuDelete, {}, {}, true, {}, {"pub/data.bin"}, "/pub", "\"data.bin\""},
        {"declined", "/pub", Qt::Key_Delete, &W::mnuDelete, {}, {}, false, {"pub/docs/guide.txt"}, {}, "", "\"pub\"", false},
        {"delete folder", "/pub", Qt::Key_Delete, &W::mnuDelete, {}, {}, true, {}, {"pub", "pub/docs"}, "",
         "\"pub\" from the server, with the 1 file and 2 folders"},
        {"refused", "/locked/inner", Qt::Key_Delete, &W::mnuDelete, {}, {}, true, {"locked/inner/keep.txt"}, {}, "/locked",
         "FtpDeleteFile Extd Err: 550", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        for (qsizetype cut = row.below.indexOf('/', 1); cut != 0; cut = row.below.indexOf('/', cut + 1)) {
            if (remote::RemoteTree::image(node(row.below.left(cut))) == "closed")
                doubleClick(row.below.left(cut));  // the chosen node shown, and open
            if (cut < 0)
                break;
        }
        ASSERT_TRUE(row.below.isEmpty() || node(row.below));
        const int oldMode = diskMode(row.below.mid(1));
        const QStringList before = shownTree(tree().find(root()));
        m_ui.shown.clear();
        m_ui.typed = {row.typed};
        m_ui.modes = {row.mode};
        m_ui.answers = {row.yes ? ui::MsgAnswer::Yes : ui::MsgAnswer::No, ui::MsgAnswer::No};
        select(row.below);
        tree().setFocus();
        if (row.key)
            QTest::keyClick(&tree(), row.key);
        else
            (m_window->*row.item)->trigger();
        for (const QString& made : row.made)
            EXPECT_TRUE(QFileInfo::exists(m_remote.filePath(made))) << made.toStdString();
        for (const QString& gone : row.gone)
            EXPECT_FALSE(QFileInfo::exists(m_remote.filePath(gone))) << gone.toStdString();
        if (row.mode) {
            EXPECT_EQ(m_ui.permissionRequests.back().mode, oldMode & 0777);  // as the row showed it
            EXPECT_EQ(diskMode(row.below.mid(1)) & 0777, *row.mode);
        }
        QStringList shown = children(row.folder);
        std::sort(shown.begin(), shown.end());
        EXPECT_EQ(shown.join('|').toStdString(), onDisk(row.folder).join('|').toStdString());
        if (!row.relists)  // every node as it was
            EXPECT_EQ(shownTree(tree().find(root())).join('|').toStdString(), before.join('|').toStdString());
        EXPECT_EQ(m_ui.texts().filter(row.told).isEmpty(), row.told.isEmpty()) << m_ui.texts().join("|").toStdString();
    }
    EXPECT_EQ(m_server->count("USER"), 1);
}

// A link to a folder, which MLSD shows as the folder itself, is deleted as a link.
TEST_F(WindowWithMlsdServer, DeletingALinkToAFolderKeepsWhatItPointsTo)
{
    ASSERT_TRUE(QFile::link("pub", m_remote.filePath("shortcut")));
    connect();
    ASSERT_EQ(remote::RemoteTree::image(node("/shortcut")), "closed");
    select("/shortcut");
    m_ui.answers = {ui::MsgAnswer::Yes};
    m_window->mnuDelete_Click();
    EXPECT_FALSE(QFileInfo(m_remote.filePath("shortcut")).isSymLink());
    EXPECT_EQ(readFile(m_remote.filePath("pub/docs/guide.txt")), "line one\r\nline two\r\n");
    EXPECT_EQ(node("/shortcut"), nullptr);
    EXPECT_EQ(m_ui.texts(), QStringList{"Delete \"shortcut\" from the server?"});
}

class WindowWithHomeServer : public WindowWithServer {
protected:
    testsupport::FtpServerOptions serverOptions() const override
    {
        testsupport::FtpServerOptions options = WindowWithServer::serverOptions();
        options.loginFolder = "/home/user";
        return options;
    }
};

TEST_F(WindowWithHomeServer, RootStandsForTheLoginFolder)
{
    writeFile(m_remote.filePath("home/user/pub/a.txt"), "home a");
    writeFile(m_remote.filePath("home/user/readme.txt"), "home readme");
    writeFile(m_local.filePath("up.txt"), "upload");
    m_window->File1->Refresh();
    connect();  // the machine's own /pub (from the set-up) holds docs/ and data.bin
    QStringList got = children("");
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (QStringList{"/pub", "/readme.txt"}));

    doubleClick("/pub");
    EXPECT_GE(countCommands("CWD /home/user/pub"), 1) << m_server->commandLog();
    EXPECT_EQ(children("/pub"), QStringList{"/pub/a.txt"});
    select("/pub/a.txt");
    m_window->cmdGet_Click();
    EXPECT_EQ(readFile(m_local.filePath("a.txt")), "home a");
    select("/readme.txt");
    m_window->cmdGet_Click();
    EXPECT_EQ(readFile(m_local.filePath("readme.txt")), "home readme");

    m_window->File1->setFileName("up.txt");
    select("");
    m_window->cmdPut_Click();
    EXPECT_EQ(readFile(m_remote.filePath("home/user/up.txt")), "upload");
    EXPECT_FALSE(QFile::exists(m_remote.filePath("up.txt")));
    EXPECT_GE(countCommands("CWD /home/user"), 1) << m_server->commandLog();
    EXPECT_EQ(countCommands("CWD /") + countCommands("CWD /pub"), 0);
    got = children("");
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (QStringList{"/pub", "/readme.txt", "/up.txt"}));

    // The root upload relisted the root: /pub is a fresh closed node, and still the home folder's.
    EXPECT_EQ(remote::RemoteTree::image(node("/pub")), "closed");
    doubleClick("/pub");
    EXPECT_EQ(children("/pub"), QStringList{"/pub/a.txt"});
    EXPECT_TRUE(m_ui.shown.empty()) << m_ui.texts().join("|").toStdString();
}

// ---- events that arrive while a call runs ----------------------------------

class WindowDuringACall : public ::testing::Test {
protected:
    // realWindow: the program's own progress window rather than m_view.
    void start(const std::string& scenario, const std::string& modes = {}, bool realWindow = false)
    {
        m_program.reset();
        m_ui.shown.clear();
        m_server = std::make_unique<testsupport::HostileServer>(scenario, 120, modes);
        ASSERT_TRUE(m_server->running());
        net::CurlInternet::Options options;
        options.connectTimeout = std::chrono::milliseconds(10000);
        m_internet = std::make_unique<net::CurlInternet>(options);
        m_program = std::make_unique<app::Program>(
            *m_internet,
            app::ProgramParts{.ui = &m_ui, .quit = [] {}, .progressView = realWindow ? nullptr : &m_view});
        m_window = &m_program->window();
        ASSERT_TRUE(m_window->Form_Load());
        m_window->show();
        m_window->cmdInternetOpen_Click();
        m_window->txtServer->setText(QString::fromStdString(m_server->address()));
        m_window->txtUser->setText("user");
        m_window->txtPassword->setText("secret");
    }
    ActingView m_view;
    std::unique_ptr<testsupport::HostileServer> m_server;
    std::unique_ptr<net::CurlInternet> m_internet;
    testsupport::ScriptedUi m_ui;
    std::unique_ptr<app::Program> m_program;
    app::fmKESTRIX* m_window = nullptr;
};

TEST_F(WindowDuringACall, CommandsDuringTheLoginListingAreRefusedAndCancelIsQuiet)
{
    start("slow-list");  // the listing after the login drips for half a minute
    app::fmKESTRIX& w = *m_window;
    bool treeCommands = false;
    m_view.onPump = [&](int pump) {
        if (w.bConnected && !std::exchange(treeCommands, true))  // listing: the server tree's menu and keys
            for (QAction* command : w.TreeView1->actions())
                command->trigger();
        if (pump == 2) {
            // As mouse, keyboard or an accessibility action would raise them.
            w.cmdDisconnect->click();
            w.disconnect_->trigger();
            w.cmdClosehOpen->click();
            w.cs->trigger();
            w.connect_->trigger();
            w.cmdGet->click();
            w.cmdPut->click();
            // As a timer or a queued signal would.
            QTimer::singleShot(0, &w, &app::fmKESTRIX::TreeView1_DblClick);
            QMetaObject::invokeMethod(&w, "cmdDisconnect_Click", Qt::QueuedConnection);
            QMetaObject::invokeMethod(&w, "File1_DblClick", Qt::QueuedConnection);
        }
        if (pump == 10)
            m_view.cancel = true;  // taken once the progress window shows
    };
    w.cmdConnect_Click();
    m_view.onPump = nullptr;
    EXPECT_TRUE(treeCommands);
    EXPECT_TRUE(m_ui.shown.empty() && m_ui.textRequests.empty()) << m_ui.texts().join("|").toStdString();  // no report, no question
    // What a failed listing of the login folder leaves: connected, the root node alone.
    EXPECT_TRUE(w.bConnected);
    ASSERT_NE(w.hConnection, 0u);
    EXPECT_NE(w.hOpen, 0u);
    ASSERT_NE(w.TreeView1->find(w.txtServer->text()), nullptr);
    EXPECT_EQ(w.TreeView1->find(w.txtServer->text())->childCount(), 0);
    EXPECT_TRUE(w.cmdDisconnect->isEnabled());
    EXPECT_EQ(m_server->count("LIST"), 1);
    EXPECT_EQ(m_server->count("CWD"), 1);  // the listing's own "CWD /"
    EXPECT_EQ(m_server->count("RETR") + m_server->count("STOR"), 0) << m_server->commandLog();
    // The connection handle still works.
    EXPECT_TRUE(m_internet->FtpSetCurrentDirectoryA(w.hConnection, "/")) << m_internet->GetLastError();
}

TEST_F(WindowDuringACall, CloseDuringAConnectCancelsItAndThenClosesTheWindow)
{
    start("late-greeting");  // the greeting comes after 3 s
    bool closedAtOnce = true;
    m_view.onPump = [&](int pump) {
        if (pump == 2)
            closedAtOnce = m_window->close();
    };
    m_window->cmdConnect_Click();
    m_view.onPump = nullptr;
    EXPECT_FALSE(closedAtOnce);  // not while the call ran
    EXPECT_TRUE(m_ui.shown.empty()) << m_ui.texts().join("|").toStdString();
    EXPECT_EQ(m_window->hConnection, 0u);
    WAIT_FOR(!m_window->isVisible());
    EXPECT_EQ(m_window->hOpen, 0u);  // the close ran the session close
    EXPECT_EQ(m_server->count("USER"), 0);  // cancelled long before the greeting
}

// Cancel in the progress window while the server holds an upload's step: it is offered as
// during the data, and a server file left holding part of the new one is named.
TEST_F(WindowDuringACall, CancelOfAnUploadIsOfferedWhileTheServerHoldsAStepAndWhatItLeftIsTold)
{
    const QByteArray fresh = randomBytes(64 * 1024);
    for (const char* modes : {"hold-RNFR-2", "rename-refused,hold-STOR-2"}) {  // the temporary's rename; in place
        SCOPED_TRACE(modes);
        start("disk", modes, true);
        const QString target = QString::fromStdString(m_server->diskPath()) + "/t";
        writeFile(target, "old");
        QTemporaryDir local;
        writeFile(local.filePath("t"), fresh);
        app::fmKESTRIX& w = *m_window;
        w.cmdConnect_Click();
        w.File1->setPath(local.path());
        w.File1->setFileName("t");
        w.TreeView1->setCurrentItem(w.TreeView1->find(w.txtServer->text()));
        QString offered;
        QTimer press;
        QObject::connect(&press, &QTimer::timeout, [&] {
            auto* dialog = w.findChild<QProgressDialog*>();
            if (m_server->count("<held>") == 0 || !dialog || !dialog->isVisible())
                return;
            offered = dialog->findChild<QPushButton*>()->text();
            dialog->findChild<QPushButton*>()->click();
            press.stop();
        });
        press.start(20);
        w.cmdPut_Click();
        EXPECT_EQ(offered, "Cancel");
        EXPECT_EQ(QDir(QFileInfo(target).path()).entryList(QDir::Files | QDir::Hidden), QStringList{"t"});
        if (std::string(modes).find("STOR") == std::string::npos) {  // the old file kept, nothing to tell
            EXPECT_EQ(readFile(target), "old");
            EXPECT_TRUE(m_ui.shown.empty()) << m_ui.texts().join("|").toStdString();
        } else {  // the user learns that the server's file holds a part
            EXPECT_TRUE(fresh.startsWith(readFile(target)) && readFile(target).size() < fresh.size());
            ASSERT_EQ(m_ui.shown.size(), 1u);
            EXPECT_EQ(m_ui.shown[0].style, ui::MsgStyle::OkOnly);
            EXPECT_TRUE(m_ui.shown[0].text.contains("/t ") && m_ui.shown[0].text.contains("part"))
                << m_ui.shown[0].text.toStdString();
        }
    }
}

// The local folder's entries, hidden ones too.
std::string entries(const QTemporaryDir& dir)
{
    return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).join('|').toStdString();
}

// The program in a process of its own during a download dripping from the server (25
// bytes over 12 s), or one the server holds half-way (`held`), or an upload whose step the
// server holds (modes): a signal, or once the progress window shows, a close request from
// the window system or File > Exit. A killed program keeps its download's part, with what
// identifies the server's file, for the next download to continue; so does an upload's
// temporary while its data went. The user's close and Exit remove the part.
TEST(ProgramEnding, SignalsKeepWhatArrivedWhileCloseRequestAndExitLeaveOnlyTheOldFile)
{
    const struct {
        const char* what;
        int signal;
        int status;
        const char* modes = nullptr;  // an upload's, on the server's disk
        bool held = false;            // a download from the server's disk, continued afterwards
    } cases[] = {{"signal", SIGTERM, 128 + SIGTERM},
                 {"signal", SIGINT, 128 + SIGINT},
                 {"signal", SIGHUP, 128 + SIGHUP},
                 {"close", 0, 0},
                 {"exit", 0, 0},
                 {"kill", SIGKILL, -1},
                 {"signal", SIGTERM, 128 + SIGTERM, nullptr, true},
                 {"signal", SIGTERM, 128 + SIGTERM, "hold-STOR-2"},                    // the temporary's data
                 {"signal", SIGTERM, 128 + SIGTERM, "hold-RNFR-2"},                    // the temporary's rename
                 {"signal", SIGTERM, 128 + SIGTERM, "rnto-existing-550,hold-RNTO-3"},  // the old file moved aside
                 {"close", 0, 0, "rnto-existing-550,hold-RNTO-3"},
                 {"exit", 0, 0, "hold-STAT-1"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.what) + " " + std::to_string(c.signal) + " " + (c.modes ? c.modes : ""));
        testsupport::HostileServer server(c.modes || c.held ? "disk" : "slow-file", 120,
                                          c.modes ? c.modes : c.held ? "hold-RETR-1" : "");
        ASSERT_TRUE(server.running());
        QTemporaryDir local;
        const QString old = c.modes ? QString::fromStdString(server.diskPath()) + "/t" : local.filePath("hello.txt");
        const QByteArray served = randomBytes(200000);
        if (c.held)
            writeFile(QString::fromStdString(server.diskPath()) + "/hello.txt", served);
        writeFile(old, "old");
        const QByteArray fresh = randomBytes(4000000);  // more than the sockets hold: the data is on its way
        writeFile(local.filePath(c.modes ? "t" : "hello.txt"), c.modes ? fresh : "old");
        QProcess program;
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        program.start(QUILLON_ENDING_CHILD, QStringList{QString::fromStdString(server.address()), local.path(), c.what} +
                                                (c.modes ? QStringList{"upload"} : QStringList{}));
        ASSERT_TRUE(program.waitForStarted(5000));
        // The download is under way, its temporary file there (with its identity in place, not
        // being written, for a signal);
        // or the server holds the step.
        if (c.modes || c.held)
            WAIT_FOR_MS(server.count("<held>") == 1, 10000);
        if (!c.modes)
            WAIT_FOR_MS(server.count("RETR") == 1 &&
                            entries(local).find(c.signal ? ".info|" : ".quillon-") != std::string::npos,
                        10000);
        QElapsedTimer ending;
        ending.start();
        if (c.signal)
            ::kill(static_cast<pid_t>(program.processId()), c.signal);
        ASSERT_TRUE(program.waitForFinished(5000));  // cancelled, not run to its end
        if (c.signal)
            EXPECT_LT(ending.elapsed(), 1000);
        EXPECT_EQ(program.exitStatus(), c.status < 0 ? QProcess::CrashExit : QProcess::NormalExit);
        if (c.status >= 0)
            EXPECT_EQ(program.exitCode(), c.status);
        EXPECT_EQ(entries(local), c.modes    ? "t"
                                  : c.signal ? ".hello.txt.quillon-part|.hello.txt.quillon-part.info|hello.txt"
                                             : "hello.txt");
        QStringList left = QDir(QFileInfo(old).path()).entryList(QDir::Files | QDir::Hidden);
        if (c.modes && std::string(c.modes) == "hold-STOR-2") {  // the temporary stays, holding the data
            ASSERT_EQ(left.size(), 2) << left.join('|').toStdString();
            EXPECT_TRUE(left[0].startsWith(".t.quillon-"));
            const QByteArray part = readFile(QFileInfo(old).path() + "/" + left[0]);
            EXPECT_TRUE(part.size() >= 1024 && fresh.startsWith(part)) << part.size();
            left.removeFirst();
        }
        if (c.modes || !c.signal)
            EXPECT_EQ(left, QStringList{QFileInfo(old).fileName()});
        EXPECT_EQ(readFile(old), "old");
        if (!c.held)
            continue;
        // The next download continues from the part's end, byte-exact.
        net::CurlInternet internet;
        const net::HINTERNET session = internet.InternetOpenA("ending", net::INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        const net::HINTERNET connection = internet.InternetConnectA(session, server.address().c_str(), 0, "user", "secret",
                                                                    net::INTERNET_SERVICE_FTP, net::INTERNET_FLAG_PASSIVE, 0);
        ASSERT_NE(connection, 0u);
        EXPECT_TRUE(internet.FtpGetFileA(connection, "hello.txt", local.filePath("hello.txt").toLocal8Bit().constData(),
                                         net::FALSE_, 0, net::FTP_TRANSFER_TYPE_BINARY, 0))
            << internet.GetLastError() << " " << internet.lastErrorDetail();
        EXPECT_NE(server.commandLog().find("REST 100000\n"), std::string::npos) << server.commandLog();
        EXPECT_TRUE(readFile(local.filePath("hello.txt")) == served);
        EXPECT_EQ(entries(local), "hello.txt");
    }
}

}  // namespace
