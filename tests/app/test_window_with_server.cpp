// The main window driving the real Internet layer against a local FTP server.

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtWidgets>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

#include "FtpServer.h"
#include "HostileServer.h"
#include "ScriptedUi.h"
#include "Wait.h"
#include "app/CallProgressPresenter.h"
#include "app/fmKESTRIX.h"
#include "net/CurlInternet.h"
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
    void SetUp() override
    {
        writeFile(m_remote.filePath("pub/docs/guide.txt"), "line one\r\nline two\r\n");
        writeFile(m_remote.filePath("pub/data.bin"), m_binary);
        writeFile(m_remote.filePath("readme.txt"), "hello\r\n");
        QDir(m_remote.path()).mkpath("empty");
        QDir(m_remote.path()).mkpath("incoming");
        m_server = std::make_unique<testsupport::FtpServer>(m_remote.path().toStdString());
        ASSERT_TRUE(m_server->running());
        m_window = std::make_unique<app::fmKESTRIX>(m_internet, m_ui, nullptr, [] {});
        ASSERT_TRUE(m_window->Form_Load());
        m_window->File1->setPath(m_local.path());
    }

    void connect(const char* password = "secret")
    {
        m_window->cmdInternetOpen_Click();
        m_window->txtServer->setText(QString::fromStdString(m_server->address()));
        m_window->txtUser->setText("user");
        m_window->txtPassword->setText(password);
        m_window->cmdConnect_Click();
    }

    QString root() const { return m_window->txtServer->text(); }
    remote::RemoteTree& tree() { return *m_window->TreeView1; }
    QTreeWidgetItem* node(const QString& below) { return tree().find(root() + below); }
    void doubleClick(const QString& below)
    {
        tree().setCurrentItem(node(below));
        m_window->TreeView1_DblClick();
    }
    QStringList children(const QString& below)
    {
        QStringList out;
        QTreeWidgetItem* n = below.isEmpty() ? tree().find(root()) : node(below);
        for (int i = 0; n && i < n->childCount(); ++i)
            out << remote::RemoteTree::text(n->child(i)).mid(root().size());
        return out;
    }

    QByteArray m_binary = randomBytes(1 << 20);
    QTemporaryDir m_remote;
    QTemporaryDir m_local;
    std::unique_ptr<testsupport::FtpServer> m_server;
    net::CurlInternet m_internet;
    testsupport::ScriptedUi m_ui;
    std::unique_ptr<app::fmKESTRIX> m_window;
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

TEST_F(WindowWithServer, AsciiDownloadTurnsCrLfIntoLf)
{
    connect();
    m_window->optAscii->click();
    tree().setCurrentItem(node("/readme.txt"));
    m_window->cmdGet_Click();
    EXPECT_EQ(readFile(m_local.filePath("readme.txt")), "hello\n");
    EXPECT_NE(m_server->commandLog().find("TYPE A"), std::string::npos);
}

TEST_F(WindowWithServer, FailedDownloadsAreReportedAndKeepTheOldFile)
{
    writeFile(m_local.filePath("pub"), "keep me");
    writeFile(m_local.filePath("readme.txt"), "keep me too");
    connect();
    QFile::remove(m_remote.filePath("readme.txt"));  // gone since the listing
    tree().setCurrentItem(node("/readme.txt"));
    m_window->cmdGet_Click();
    tree().setCurrentItem(node("/pub"));  // a folder asked for as a file
    m_window->cmdGet_Click();
    const QStringList texts = m_ui.texts();
    EXPECT_EQ(texts.filter("FtpGetFile Err: 12003").size(), 2) << texts.join("|").toStdString();
    EXPECT_EQ(texts.filter("FtpGetFile Extd Err: 550").size(), 2);
    EXPECT_EQ(readFile(m_local.filePath("readme.txt")), "keep me too");
    EXPECT_EQ(readFile(m_local.filePath("pub")), "keep me");
    EXPECT_EQ(QDir(m_local.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);  // no temporary left
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
    EXPECT_EQ(readFile(m_remote.filePath("notes.txt")), "a\r\nb\r\n");
    EXPECT_NE(m_server->commandLog().find("CWD /\n"), std::string::npos) << m_server->commandLog();
    EXPECT_NE(node("/notes.txt"), nullptr);
    EXPECT_EQ(remote::RemoteTree::image(tree().find(root())), "root");
    EXPECT_TRUE(m_ui.shown.empty()) << m_ui.texts().join("|").toStdString();
}

// ---- events that arrive while a call runs ----------------------------------

// A progress view that lets the test act from inside the running call.
struct ActingView : app::ProgressView {
    std::function<void(int pump)> onPump;
    int pumps = 0;
    bool cancel = false;
    void showProgress(const QString&, int, int) override {}
    void hideProgress() override {}
    void pumpEvents(bool) override
    {
        QCoreApplication::processEvents();
        if (onPump)
            onPump(++pumps);
    }
    bool cancelRequested() const override { return cancel; }
};

class WindowDuringACall : public ::testing::Test {
protected:
    void start(const std::string& scenario)
    {
        m_server = std::make_unique<testsupport::HostileServer>(scenario);
        ASSERT_TRUE(m_server->running());
        net::CurlInternet::Options options;
        options.connectTimeout = std::chrono::milliseconds(10000);
        m_internet = std::make_unique<net::CurlInternet>(options);
        m_internet->setCallWatcher(&m_presenter);
        m_window = std::make_unique<app::fmKESTRIX>(*m_internet, m_ui, nullptr, [] {});
        m_window->setCallInProgress([this] { return m_presenter.running(); });
        m_window->setCancelCalls([this] { m_presenter.cancelCalls(); });
        ASSERT_TRUE(m_window->Form_Load());
        m_window->show();
        m_window->cmdInternetOpen_Click();
        m_window->txtServer->setText(QString::fromStdString(m_server->address()));
        m_window->txtUser->setText("user");
        m_window->txtPassword->setText("secret");
    }
    void TearDown() override
    {
        if (m_internet)
            m_internet->setCallWatcher(nullptr);
    }

    ActingView m_view;
    app::CallProgressPresenter m_presenter{m_view};
    std::unique_ptr<testsupport::HostileServer> m_server;
    std::unique_ptr<net::CurlInternet> m_internet;
    testsupport::ScriptedUi m_ui;
    std::unique_ptr<app::fmKESTRIX> m_window;
};

TEST_F(WindowDuringACall, CommandsDuringTheLoginListingAreRefusedAndCancelIsQuiet)
{
    start("slow-list");  // the listing after the login drips for half a minute
    app::fmKESTRIX& w = *m_window;
    m_view.onPump = [&](int pump) {
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
    EXPECT_TRUE(m_ui.shown.empty()) << m_ui.texts().join("|").toStdString();  // no report, no question
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

}  // namespace
