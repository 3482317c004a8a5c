#include <QFile>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <functional>

#include "MainWindowFixture.h"
#include "remote/RemoteTree.h"
#include "transfer/FileList.h"

using testsupport::MainWindowTest;

namespace {

void touch(const QString& path)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("data\n");
}

}  // namespace

TEST_F(MainWindowTest, DownloadChecksConnectionBeforeSelection)
{
    window->cmdGet_Click();
    EXPECT_EQ(ui.texts(), QStringList{"Not in session. Please start a new Internet Session."});
    connectToSrv();
    ui.shown.clear();
    window->TreeView1->setCurrentItem(nullptr);
    window->cmdGet_Click();
    EXPECT_EQ(ui.texts(), QStringList{"Please select the file to download from the server."});
    EXPECT_TRUE(internet.calls.empty());

    // The root node is no file, however the server name was typed.
    for (const QString server : {"srv", "ftp://srv/", "ftps://srv"}) {
        window->cmdDisconnect_Click();
        connectToSrv(server);
        ui.shown.clear();
        window->TreeView1->setCurrentItem(window->TreeView1->find(server));
        window->cmdGet_Click();
        EXPECT_EQ(ui.texts(), QStringList{"Please enter the directory to CD"}) << server.toStdString();
        EXPECT_TRUE(internet.calls.empty()) << internet.calls.front();
    }
}

TEST_F(MainWindowTest, DownloadSplitsAtLastSlashAndPassesTheTransferType)
{
    QTemporaryDir local;
    connectToSrv();
    window->File1->setPath(local.path());
    auto& tree = *window->TreeView1;
    tree.setCurrentItem(tree.find("srv/pub"));
    window->TreeView1_DblClick();
    tree.setCurrentItem(tree.find("srv/pub/docs"));
    window->TreeView1_DblClick();
    internet.calls.clear();

    window->optAscii->click();
    window->optBin->click();
    tree.setCurrentItem(tree.find("srv/pub/docs/a.txt"));
    window->cmdGet_Click();
    const std::string h = std::to_string(window->hConnection);
    EXPECT_EQ(internet.calls,
              (std::vector<std::string>{"FtpSetCurrentDirectoryA(" + h + ",/pub/docs/)",
                                        "FtpGetFileA(" + h + ",a.txt," + local.path().toStdString() +
                                            "/a.txt,0,0x80000000,0x2)"}));
    EXPECT_TRUE(ui.shown.empty());
}

TEST_F(MainWindowTest, FailedDownloadRefreshesTheListThenReports)
{
    QTemporaryDir local;
    connectToSrv();
    window->File1->setPath(local.path());
    touch(local.filePath("appeared.txt"));
    internet.failures["FtpGetFileA"].push_back(net::ERROR_INTERNET_EXTENDED_ERROR);
    auto& tree = *window->TreeView1;
    tree.setCurrentItem(tree.find("srv/readme"));
    window->cmdGet_Click();
    EXPECT_EQ(internet.callsNamed("FtpSetCurrentDirectoryA").back(),
              "FtpSetCurrentDirectoryA(" + std::to_string(window->hConnection) + ",/)");
    EXPECT_EQ(ui.texts().back(), "FtpGetFile Err: 12003\r\nClose Connection and Session?");
    EXPECT_TRUE(window->File1->findItems("appeared.txt", Qt::MatchExactly).size() == 1);
    // A cut download that kept its part says so below the question.
    internet.failures["FtpGetFileA"].push_back(net::ERROR_INTERNET_CONNECTION_ABORTED);
    internet.failNotice = "400 of 1,000 bytes arrived";
    window->cmdGet_Click();
    EXPECT_EQ(ui.texts().back(), "FtpGetFile Err: 12030\r\nClose Connection and Session?\r\n\r\n400 of 1,000 bytes arrived");
}

TEST_F(MainWindowTest, CancelledTransfersAreNeitherReportedNorQuestioned)
{
    QTemporaryDir local;
    connectToSrv();
    window->File1->setPath(local.path());
    internet.failures["FtpGetFileA"].push_back(net::ERROR_INTERNET_OPERATION_CANCELLED);
    internet.failures["FtpPutFileA"].push_back(net::ERROR_INTERNET_OPERATION_CANCELLED);
    auto& tree = *window->TreeView1;
    tree.setCurrentItem(tree.find("srv/readme"));
    window->cmdGet_Click();
    selectLocalFile(local, "up.txt");
    tree.setCurrentItem(tree.find("srv/pub"));
    window->cmdPut_Click();
    EXPECT_TRUE(ui.shown.empty()) << ui.texts().join("|").toStdString();
    EXPECT_TRUE(window->bConnected);  // as a failed transfer answered "No" leaves it
    EXPECT_NE(window->hConnection, 0u);
    EXPECT_TRUE(window->cmdGet->isEnabled());
}

TEST_F(MainWindowTest, UploadChecksRunInOrder)
{
    window->cmdPut_Click();  // not connected: silent
    EXPECT_TRUE(ui.shown.empty());
    connectToSrv();
    auto& tree = *window->TreeView1;
    tree.setCurrentItem(nullptr);
    window->cmdPut_Click();
    tree.setCurrentItem(tree.find("srv/readme"));
    window->cmdPut_Click();
    tree.setCurrentItem(tree.find("srv/pub"));
    window->cmdPut_Click();
    EXPECT_EQ(ui.texts(), (QStringList{"Please select a folder on the Server.", "Please select a folder on the Server.",
                                       "Please select a local file to upload."}));
    EXPECT_TRUE(internet.calls.empty());
}

TEST_F(MainWindowTest, UploadIntoRootChangesToSlashAndRelistsTheNode)
{
    QTemporaryDir local;
    connectToSrv();
    selectLocalFile(local, "new.txt");
    auto& tree = *window->TreeView1;
    tree.setCurrentItem(tree.find("srv"));
    internet.putNotice = "The file was uploaded. The server may still hold /.new.txt.quillon-1-2-old (the old file).";
    window->File1_DblClick();
    EXPECT_EQ(ui.texts(), QStringList{QString::fromStdString(internet.putNotice)});
    const std::string h = std::to_string(window->hConnection);
    ASSERT_GE(internet.calls.size(), 2u);
    EXPECT_EQ(internet.calls[0], "FtpSetCurrentDirectoryA(" + h + ",/)");
    EXPECT_EQ(internet.calls[1], "FtpPutFileA(" + h + "," + local.path().toStdString() + "/new.txt,new.txt,0x2)");
    EXPECT_NE(tree.find("srv/new.txt"), nullptr);
    EXPECT_EQ(tree.image(tree.find("srv")), "root");
    EXPECT_EQ(tree.find("srv")->childCount(), 3);
}

TEST_F(MainWindowTest, UploadIntoClosedFolderOpensIt)
{
    QTemporaryDir local;
    connectToSrv();
    selectLocalFile(local, "n.bin");
    auto& tree = *window->TreeView1;
    tree.setCurrentItem(tree.find("srv/pub"));
    window->cmdPut_Click();
    EXPECT_EQ(internet.calls[0], "FtpSetCurrentDirectoryA(" + std::to_string(window->hConnection) + ",/pub)");
    EXPECT_EQ(tree.image(tree.find("srv/pub")), "open");
    EXPECT_NE(tree.find("srv/pub/n.bin"), nullptr);
}

TEST_F(MainWindowTest, FailedUploadLeavesTheTreeAndReports)
{
    QTemporaryDir local;
    connectToSrv();
    selectLocalFile(local, "n.bin");
    internet.failures["FtpPutFileA"].push_back(net::ERROR_ACCESS_DENIED);
    auto& tree = *window->TreeView1;
    tree.setCurrentItem(tree.find("srv/pub"));
    window->cmdPut_Click();
    EXPECT_EQ(ui.texts().back(), "FtpPutFile Err: 5\r\nClose Connection and Session?");
    EXPECT_EQ(tree.image(tree.find("srv/pub")), "closed");
    EXPECT_TRUE(internet.callsNamed("FtpFindFirstFileA").empty());
}

TEST_F(MainWindowTest, YesAfterAFailedChangeOfFolderCallsNothingMore)
{
    QTemporaryDir local;
    const std::vector<std::function<void()>> actions = {
        [this] { window->TreeView1->setCurrentItem(window->TreeView1->find("srv/readme")), window->cmdGet_Click(); },
        [this] { window->cmdPut_Click(); },
        [this] { window->TreeView1_DblClick(); }};
    for (const auto& action : actions) {
        connectToSrv();
        selectLocalFile(local, "n.bin");
        window->TreeView1->setCurrentItem(window->TreeView1->find("srv/pub"));
        internet.failures["FtpSetCurrentDirectoryA"] = {net::ERROR_INTERNET_EXTENDED_ERROR};
        ui.answers = {ui::MsgAnswer::Yes};
        ui.shown.clear();
        action();
        EXPECT_FALSE(window->bConnected);
        EXPECT_EQ(window->TreeView1->nodeCount(), 0);
        ASSERT_EQ(internet.calls.size(), 5u);  // the change, the reply's two calls, the two closes
        EXPECT_EQ(internet.calls.back().rfind("InternetCloseHandle(", 0), 0u);
        EXPECT_EQ(ui.shown.size(), 2u) << ui.texts().join("|").toStdString();
    }
}
