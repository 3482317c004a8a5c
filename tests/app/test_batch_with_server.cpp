// Several files and whole folders through the window against the real test server;
// the oracle is the disk on the receiving side.

#include <QTest>
#include <QtWidgets>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <map>
#include <memory>

#include "FtpServer.h"
#include "HostileServer.h"
#include "TestCertificates.h"
#include "support/RawTempDir.h"
#include "support/ScriptedUi.h"
#include "app/Program.h"
#include "app/fmKESTRIX.h"
#include "net/CurlInternet.h"
#include "remote/RemoteTree.h"
#include "transfer/Batch.h"
#include "transfer/DirList.h"
#include "transfer/FileList.h"

namespace fs = std::filesystem;

namespace {

void put(const fs::path& path, const std::string& data, fs::perms mode = fs::perms(0644))
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << data;
    fs::permissions(path, mode);
}

std::string content(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Every entry below `root`: its bytes ("/" for a folder) and its permission bits.
std::map<std::string, std::pair<std::string, unsigned>> snapshot(const fs::path& root)
{
    std::map<std::string, std::pair<std::string, unsigned>> out;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        out[entry.path().lexically_relative(root).string()] = {
            entry.is_directory() ? "/" : content(entry.path()), unsigned(entry.status().permissions()) & 0777};
    return out;
}

// Cancels the batch once the progress window names `cancelOn`.
struct CancellingView : app::ProgressView {
    QString cancelOn;
    bool cancel = false;
    void showProgress(const QString& text, int, int) override { cancel = cancel || (!cancelOn.isEmpty() && text.contains(cancelOn)); }
    void hideProgress() override {}
    void pumpEvents(bool) override { QCoreApplication::processEvents(); }
    bool cancelRequested() const override { return cancel; }
};

class BatchWithServer : public ::testing::Test {
protected:
    fs::path remote() const { return m_remote.path().toStdString(); }
    fs::path local() const { return m_local.path().toStdString(); }

    void connect(testsupport::FtpServerOptions options = {})
    {
        m_server = std::make_unique<testsupport::FtpServer>(m_remote.path().toStdString(), options);
        ASSERT_TRUE(m_server->running());
        m_program = std::make_unique<app::Program>(
            m_internet, app::ProgramParts{.ui = &m_ui, .quit = [] {}, .progressView = &m_view});
        m_window = &m_program->window();
        ASSERT_TRUE(m_window->Form_Load());
        m_window->Dir1->setPath(m_local.path());
        m_window->cmdInternetOpen_Click();
        m_key = QString::fromStdString((options.tlsCertificate.empty() ? "" : "ftps://") + m_server->address());
        m_window->txtServer->setText(m_key);
        m_window->txtUser->setText("user");
        m_window->txtPassword->setText("secret");
        m_window->cmdConnect_Click();
        ASSERT_TRUE(m_window->bConnected);
        m_ui.shown.clear();  // an empty root says so
    }
    remote::RemoteTree& tree() { return *m_window->TreeView1; }
    void selectNodes(const QStringList& below)
    {
        tree().setCurrentItem(nullptr);
        for (const QString& path : below)
            tree().setSelected(tree().find(m_key + path), true);
    }
    // Highlights a subfolder in the folder list (or, given files, selects them in the file list).
    void selectLocal(const QStringList& files, const QString& folder = {})
    {
        m_window->Dir1->setPath(m_local.path());
        for (int i = 0; i < m_window->Dir1->count(); ++i)
            if (m_window->Dir1->item(i)->text() == folder)
                m_window->Dir1->setCurrentRow(i);
        for (const QString& name : files)
            m_window->File1->findItems(name, Qt::MatchExactly).front()->setSelected(true);
    }
    QStringList notices() const
    {
        QStringList out;
        for (const auto& shown : m_ui.shown)
            out << shown.text;
        return out;
    }

    testsupport::RawTempDir m_remote;
    testsupport::RawTempDir m_local;
    std::unique_ptr<testsupport::FtpServer> m_server;
    net::CurlInternet m_internet;
    testsupport::ScriptedUi m_ui;
    CancellingView m_view;
    std::unique_ptr<app::Program> m_program;
    app::fmKESTRIX* m_window = nullptr;
    QString m_key;
};

TEST_F(BatchWithServer, FilesAndAThreeLevelFolderGoDownAndUpByteExactWithTheirModes)
{
    const testsupport::TestCertificates pki;
    ASSERT_TRUE(pki.ok()) << pki.error();
    const testsupport::ScopedEnv trust("SSL_CERT_FILE", pki.caCertificate());
    testsupport::FtpServerOptions tls;
    tls.tlsCertificate = pki.serverCertificate();
    tls.tlsKey = pki.serverKey();
    for (const testsupport::FtpServerOptions& options : {testsupport::FtpServerOptions{}, tls}) {
        for (const fs::path& root : {remote(), local()})
            for (const auto& entry : fs::directory_iterator(root))
                fs::remove_all(entry.path());
        put(remote() / "site/index.html", "<html>\r\n");
        put(remote() / "site/a/run.sh", "#!/bin/sh\n", fs::perms(0755));
        put(remote() / "site/a/b/data.bin", std::string(3000, '\x93') + std::string("\r\n\0end", 6), fs::perms(0600));
        put(remote() / "site/a/b/c/deep.txt", "deep", fs::perms(0640));
        fs::permissions(remote() / "site/a/b", fs::perms(0750));
        put(remote() / "one.txt", "1");
        put(remote() / "two.txt", "22", fs::perms(0664));
        fs::create_directory(remote() / "back");
        connect(options);

        selectNodes({"/site", "/one.txt", "/two.txt"});
        m_window->cmdGet_Click();
        EXPECT_TRUE(m_ui.shown.empty()) << notices().join("|").toStdString();
        auto expected = snapshot(remote());
        expected.erase("back");
        EXPECT_EQ(snapshot(local()), expected);
        EXPECT_EQ(m_window->File1->count(), 2);  // the new files show

        tree().setCurrentItem(tree().find(m_key + "/back"));
        selectLocal({}, "site");
        m_window->cmdPut_Click();
        selectLocal({"one.txt", "two.txt"});
        tree().setCurrentItem(tree().find(m_key + "/back"));
        m_window->cmdPut_Click();
        EXPECT_TRUE(m_ui.shown.empty()) << notices().join("|").toStdString();
        EXPECT_EQ(snapshot(remote() / "back"), snapshot(local()));
        EXPECT_NE(tree().find(m_key + "/back/site"), nullptr);  // the tree shows what came
        // New names cost no question to the server before their data.
        const auto commands = m_server->commands();
        EXPECT_EQ(testsupport::countVerb(commands, "SIZE") + testsupport::countVerb(commands, "MLST") +
                      testsupport::countVerb(commands, "STAT"), 0) << m_server->commandLog();
    }
}

TEST_F(BatchWithServer, ExistingFilesAreAskedAboutAndTheAllAnswersHold)
{
    enum { Overwrite, Skip, OverwriteAll, SkipAll, Cancel };
    struct Row {
        bool up;
        std::deque<int> answers;
        std::string kept;  // per file: 'n' new, 'o' old
        int questions;
    };
    const std::vector<Row> rows = {
        {false, {Overwrite, Skip, Overwrite}, "non", 3},
        {false, {OverwriteAll}, "nnn", 1},
        {false, {Skip, Cancel}, "ooo", 2},
        {true, {SkipAll}, "ooo", 1},
        {true, {Skip, OverwriteAll}, "onn", 2},
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::string folder = "q" + std::to_string(i);
        for (const char* name : {"f1", "f2", "f3"}) {
            put((rows[i].up ? local() : remote()) / folder / name, "new");
            put((rows[i].up ? remote() : local()) / folder / name, "old");
        }
    }
    connect();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        const QString folder = "q" + QString::number(i);
        m_ui.choices.clear();
        m_ui.chosen = row.answers;
        if (row.up) {
            tree().setCurrentItem(tree().find(m_key));
            selectLocal({}, folder);
            m_window->cmdPut_Click();
        } else {
            selectNodes({"/" + folder});
            m_window->cmdGet_Click();
        }
        const fs::path target = (row.up ? remote() : local()) / folder.toStdString();
        std::string kept;
        for (const char* name : {"f1", "f2", "f3"})
            kept += content(target / name) == "new" ? 'n' : 'o';
        EXPECT_EQ(kept, row.kept) << "row " << i;
        ASSERT_EQ(int(m_ui.choices.size()), row.questions) << "row " << i;
        const QString question = m_ui.choices.front().text;
        EXPECT_TRUE(question.contains(folder + "/f1") && question.count("3 bytes") == 2) << question.toStdString();
        EXPECT_EQ(m_ui.choices.front().answers.size(), 5);
        EXPECT_EQ(fs::directory_iterator(target) == fs::directory_iterator(), false);
        EXPECT_EQ(std::distance(fs::directory_iterator(target), fs::directory_iterator()), 3) << "row " << i;
    }
    EXPECT_TRUE(m_ui.shown.empty()) << notices().join("|").toStdString();
}

TEST_F(BatchWithServer, CancelEndsTheCurrentFileKeepsItsOldOneAndStartsNoOther)
{
    put(local() / "up/first.bin", "first");
    put(local() / "up/second.bin", std::string(400'000, 's'));
    put(local() / "up/third.bin", "third");
    put(remote() / "up/second.bin", "old second");
    testsupport::FtpServerOptions slow;
    slow.uploadRate = 100'000;
    connect(slow);
    m_view.cancelOn = "second.bin";
    m_ui.chosen = {0};  // Overwrite
    tree().setCurrentItem(tree().find(m_key));
    selectLocal({}, "up");
    m_window->cmdPut_Click();
    EXPECT_TRUE(m_view.cancel);
    EXPECT_EQ(content(remote() / "up/first.bin"), "first");
    EXPECT_EQ(content(remote() / "up/second.bin"), "old second");
    EXPECT_FALSE(fs::exists(remote() / "up/third.bin"));
    EXPECT_EQ(std::distance(fs::directory_iterator(remote() / "up"), fs::directory_iterator()), 2);  // no temporary
    EXPECT_EQ(m_server->commandLog().find("third.bin"), std::string::npos);
    EXPECT_TRUE(m_ui.shown.empty()) << notices().join("|").toStdString();
}

TEST_F(BatchWithServer, RefusedAndImpossibleNamesAreListedInOneNoticeAndTheRestIsCopied)
{
    put(local() / "pack/.hidden", "h");
    put(local() / "pack/ok.txt", "ok");
    put(local() / "pack/line\nbreak", "x");
    testsupport::FtpServerOptions options;
    options.dotFiles = false;
    connect(options);
    tree().setCurrentItem(tree().find(m_key));
    selectLocal({}, "pack");
    m_window->cmdPut_Click();
    EXPECT_EQ(content(remote() / "pack/ok.txt"), "ok");
    EXPECT_EQ(std::distance(fs::directory_iterator(remote() / "pack"), fs::directory_iterator()), 1);
    ASSERT_EQ(m_ui.shown.size(), 1u) << notices().join("|").toStdString();
    const QString notice = m_ui.shown.front().text;
    EXPECT_TRUE(notice.contains(".hidden: 550")) << notice.toStdString();
    EXPECT_TRUE(notice.contains("line\nbreak: ")) << notice.toStdString();
}

TEST_F(BatchWithServer, DropsOfLocalFilesOnAFolderNodeUploadAndDropsOfNodesOnALocalListDownload)
{
    put(local() / "drop/sub/x.txt", "x");
    put(local() / "loose.txt", "loose");
    fs::create_directory(local() / "dest");
    put(remote() / "incoming/keep", "");
    put(remote() / "site2/deeper/y.txt", "y");
    put(remote() / "top.txt", "top");
    connect();
    m_window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window));
    const auto urls = [this](std::initializer_list<const char*> names) {
        auto* data = new QMimeData;
        QList<QUrl> list;
        for (const char* name : names)
            list << QUrl::fromLocalFile(m_local.filePath(name));
        data->setUrls(list);
        return data;
    };
    const auto nodes = [this](const QStringList& below) {
        QModelIndexList indexes;
        for (const QString& path : below)
            indexes << tree().indexOf(tree().find(m_key + path));
        return tree().model()->mimeData(indexes);
    };
    struct Row {
        QMimeData* data;
        QWidget* viewport;
        std::function<QPoint()> at;
        bool accepted;
        fs::path arrived;  // a file the drop must have copied
    };
    auto* dir = m_window->Dir1;
    const auto dirItem = [dir](const QString& text) { return dir->visualItemRect(dir->findItems(text, Qt::MatchExactly).front()).center(); };
    const std::vector<Row> rows = {
        {urls({"drop", "loose.txt"}), tree().viewport(), [this] { return tree().visualItemRect(tree().find(m_key + "/incoming")).center(); },
         true, remote() / "incoming/drop/sub/x.txt"},
        {urls({"loose.txt"}), tree().viewport(), [this] { return tree().visualItemRect(tree().find(m_key + "/top.txt")).center(); },
         false, {}},  // a file node takes nothing
        {nodes({"/site2", "/top.txt"}), dir->viewport(), [&] { return dirItem("dest"); }, true, local() / "dest/site2/deeper/y.txt"},
        {nodes({"/top.txt"}), m_window->File1->viewport(), [] { return QPoint(5, 5); }, true, local() / "top.txt"},
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        QDragEnterEvent enter(row.at(), Qt::CopyAction, row.data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(row.viewport, &enter);
        QDropEvent drop(QPointF(row.at()), Qt::CopyAction, row.data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(row.viewport, &drop);
        EXPECT_EQ(enter.isAccepted() && drop.isAccepted(), row.accepted) << "row " << i;
        if (!row.arrived.empty())
            EXPECT_TRUE(fs::exists(row.arrived)) << "row " << i;
        delete row.data;
    }
    EXPECT_EQ(content(remote() / "incoming/loose.txt"), "loose");
    EXPECT_EQ(content(local() / "dest/top.txt"), "top");
    EXPECT_TRUE(m_ui.shown.empty()) << notices().join("|").toStdString();
}

// The batch lists a folder once; names taken on the server after that keep what holds them.
TEST_F(BatchWithServer, NamesTakenOnTheServerDuringTheBatchAreNeitherReplacedNorMovedAside)
{
    put(local() / "up/a", "new a");
    put(local() / "up/b", "new b");
    fs::create_directory(remote() / "up");
    testsupport::FtpServerOptions options;
    options.renameOntoExisting = false;
    connect(options);
    struct TakingNames : transfer::BatchWatcher {
        fs::path folder;
        void batchStarted(std::uint64_t, std::uint64_t) override {}
        void batchFile(std::uint64_t index, std::uint64_t) override
        {
            if (index == 0) {  // after the listing, before the first file
                put(folder / "a", "theirs");
                fs::create_directory(folder / "b");
            }
        }
        void batchQuestion() override {}
        void batchEnded() override {}
        bool batchCancelled() const override { return false; }
    } watcher;
    watcher.folder = remote() / "up";
    transfer::Batch batch(m_internet, m_window->hConnection, m_ui, nullptr, &watcher, net::FTP_TRANSFER_TYPE_BINARY);
    const transfer::BatchResult result = batch.upload({local() / "up"}, "/");
    EXPECT_EQ(result.problems.size(), 2) << result.notice().toStdString();
    EXPECT_EQ(content(remote() / "up/a"), "theirs");
    EXPECT_TRUE(fs::is_directory(remote() / "up/b"));
    EXPECT_EQ(std::distance(fs::directory_iterator(remote() / "up"), fs::directory_iterator()), 2);
}

// A small new file is fetched without asking its size: short of the listed size, it is not kept.
TEST_F(BatchWithServer, ASmallFileThatArrivesShorterThanListedIsNotKept)
{
    testsupport::HostileServer server("cut-226");  // 400,000 of 1,000,000 bytes, then "226"
    ASSERT_TRUE(server.running());
    const net::HINTERNET session = m_internet.InternetOpenA("t", net::INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    const net::HINTERNET c = m_internet.InternetConnectA(session, server.address().c_str(), 0, "user", "secret",
                                                         net::INTERNET_SERVICE_FTP, net::INTERNET_FLAG_PASSIVE, 0);
    ASSERT_NE(c, 0u) << server.commandLog();
    remote::EntryDetails listed;
    listed.size = 1'000'000;
    transfer::Batch batch(m_internet, c, m_ui, nullptr, nullptr, net::FTP_TRANSFER_TYPE_BINARY);
    const transfer::BatchResult result = batch.download({{"/big.bin", false, listed}}, local());
    EXPECT_EQ(result.copied, 0);
    EXPECT_TRUE(result.notice().contains("big.bin: arrived incomplete")) << result.notice().toStdString();
    EXPECT_TRUE(fs::is_empty(local()));
    (void)m_internet.InternetCloseHandle(session);
}

}  // namespace
