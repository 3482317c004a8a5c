#include <QLineEdit>
#include <QToolButton>

#include <QTest>

#include "MainWindowFixture.h"
#include "remote/RemoteTree.h"

using testsupport::MainWindowTest;

namespace {

QStringList childTexts(remote::RemoteTree& tree, const QString& key)
{
    QStringList out;
    remote::Node* node = tree.find(key);
    for (int i = 0; node && i < node->childCount(); ++i)
        out << tree.text(node->child(i));
    return out;
}

}  // namespace

TEST_F(MainWindowTest, ConnectShowsRootAndLoginFolderEntriesInListingOrder)
{
    internet.addFolder("/", {{"zeta", 16}, {".", 16}, {"alpha", 128}, {"ro-dir", 17}});
    window->cmdInternetOpen_Click();
    window->chkPassive->setChecked(false);
    window->txtServer->setText("Srv");
    window->txtUser->setText("me");
    window->txtPassword->setText("pw");
    window->connect_->trigger();

    const auto h = std::to_string(window->hOpen);
    EXPECT_EQ(internet.calls.at(1), "InternetConnectA(" + h + ",Srv,0,me,pw,1,0x0)");
    EXPECT_TRUE(internet.callsNamed("FtpSetCurrentDirectoryA").empty());  // the login folder is listed
    auto& tree = *window->TreeView1;
    ASSERT_NE(tree.find("Srv"), nullptr);
    EXPECT_EQ(tree.image(tree.find("Srv")), "root");
    EXPECT_EQ(childTexts(tree, "Srv"), (QStringList{"Srv/zeta", "Srv/.", "Srv/alpha", "Srv/ro-dir"}));
    EXPECT_EQ(tree.image(tree.find("Srv/zeta")), "closed");
    EXPECT_EQ(tree.image(tree.find("Srv/ro-dir")), "leaf");  // only exactly 16 makes a folder
    EXPECT_FALSE(window->cmdConnect->isEnabled());
    EXPECT_TRUE(window->cmdDisconnect->isEnabled());

    internet.calls.clear();
    window->cmdConnect_Click();  // already connected: nothing
    EXPECT_TRUE(internet.calls.empty());
}

TEST_F(MainWindowTest, ConnectChecksTheServerNameAndPassesPassive)
{
    window->cmdInternetOpen_Click();
    window->cmdConnect_Click();
    ASSERT_EQ(ui.texts(), QStringList{"Please enter a server name!"});
    EXPECT_TRUE(internet.callsNamed("InternetConnectA").empty());

    window->txtServer->setText(" ");  // not trimmed
    window->cmdConnect_Click();
    ASSERT_EQ(internet.callsNamed("InternetConnectA").size(), 1u);
    EXPECT_NE(internet.callsNamed("InternetConnectA")[0].find(",0x8000000)"), std::string::npos);
}

TEST_F(MainWindowTest, EmptyLoginFolderShowsMessageAndRootAlone)
{
    window->cmdInternetOpen_Click();
    window->txtServer->setText("srv");
    window->cmdConnect_Click();
    EXPECT_EQ(ui.texts(), QStringList{"This directory is empty!"});
    EXPECT_EQ(window->TreeView1->nodeCount(), 1);
    EXPECT_TRUE(internet.callsNamed("InternetCloseHandle").empty());  // no find handle was opened
}

TEST_F(MainWindowTest, FailedConnectIsReportedAndLeavesConnectEnabled)
{
    window->cmdInternetOpen_Click();
    window->txtServer->setText("srv");
    internet.failures["InternetConnectA"].push_back(net::ERROR_INTERNET_EXTENDED_ERROR);
    internet.responseCode = 530;
    internet.responseText = "530 Login incorrect.\r\n";
    window->cmdConnect_Click();
    EXPECT_FALSE(window->bConnected);
    EXPECT_EQ(ui.texts(), (QStringList{"InternetConnect Extd Err: 530 530 Login incorrect.\r\n",
                                       "InternetConnect Err: 12003\r\nClose Connection and Session?"}));
    EXPECT_TRUE(window->cmdConnect->isEnabled());
    EXPECT_FALSE(window->cmdDisconnect->isEnabled());
    EXPECT_EQ(window->TreeView1->nodeCount(), 0);
}

TEST_F(MainWindowTest, DisconnectKeepsSessionAndBoxesAndAllowsReconnect)
{
    connectToSrv();
    const auto hConnection = window->hConnection;
    window->cmdDisconnect_Click();
    EXPECT_EQ(internet.calls, (std::vector<std::string>{"InternetCloseHandle(" + std::to_string(hConnection) + ")"}));
    EXPECT_EQ(window->TreeView1->nodeCount(), 0);
    EXPECT_EQ(window->txtServer->text(), "srv");
    EXPECT_NE(window->hOpen, 0u);
    EXPECT_TRUE(window->cmdConnect->isEnabled());
    EXPECT_EQ(window->colNames.size(), 0);

    window->disconnect_->trigger();  // not connected: closes nothing, harms nothing
    window->cmdConnect_Click();
    EXPECT_TRUE(window->bConnected);
    EXPECT_EQ(window->TreeView1->nodeCount(), 3);
}

TEST_F(MainWindowTest, DoubleClickOpensAndClosesFolders)
{
    connectToSrv();
    auto& tree = *window->TreeView1;
    tree.setCurrentItem(tree.find("srv/pub"));
    window->TreeView1_DblClick();
    EXPECT_EQ(internet.callsNamed("FtpSetCurrentDirectoryA"),
              (std::vector<std::string>{"FtpSetCurrentDirectoryA(" + std::to_string(window->hConnection) + ",/pub)"}));
    EXPECT_EQ(tree.image(tree.find("srv/pub")), "open");
    EXPECT_EQ(childTexts(tree, "srv/pub"), (QStringList{"srv/pub/docs", "srv/pub/x"}));

    tree.setCurrentItem(tree.find("srv/pub/docs"));
    window->TreeView1_DblClick();
    EXPECT_EQ(internet.currentDir, "/pub/docs");
    EXPECT_NE(tree.find("srv/pub/docs/a.txt"), nullptr);

    // Closing removes grandchildren too; reopening shows only the first level.
    tree.setCurrentItem(tree.find("srv/pub"));
    window->TreeView1_DblClick();
    EXPECT_EQ(tree.image(tree.find("srv/pub")), "closed");
    EXPECT_EQ(tree.find("srv/pub/docs/a.txt"), nullptr);
    EXPECT_EQ(tree.find("srv/pub/docs"), nullptr);
    window->TreeView1_DblClick();
    EXPECT_EQ(childTexts(tree, "srv/pub"), (QStringList{"srv/pub/docs", "srv/pub/x"}));
    EXPECT_EQ(tree.image(tree.find("srv/pub/docs")), "closed");

    // Root and leaf nodes do nothing.
    internet.calls.clear();
    for (const char* key : {"srv", "srv/readme"}) {
        tree.setCurrentItem(tree.find(key));
        window->TreeView1_DblClick();
    }
    EXPECT_TRUE(internet.calls.empty());
    EXPECT_TRUE(ui.shown.empty());
}

TEST_F(MainWindowTest, KeysOpenAndCloseFoldersAsADoubleClickDoes)
{
    connectToSrv();
    auto& tree = *window->TreeView1;
    tree.setFocus();
    tree.setCurrentItem(tree.find("srv/pub"));
    QTest::keyClick(&tree, Qt::Key_Return);
    EXPECT_EQ(tree.image(tree.find("srv/pub")), "open");
    EXPECT_EQ(childTexts(tree, "srv/pub"), (QStringList{"srv/pub/docs", "srv/pub/x"}));
    tree.setCurrentItem(tree.find("srv/pub"));
    QTest::keyClick(&tree, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(tree.image(tree.find("srv/pub")), "closed");
    EXPECT_EQ(tree.find("srv/pub/docs"), nullptr);

    // Right opens only a closed folder, Left closes only an open one.
    QTest::keyClick(&tree, Qt::Key_Left);
    EXPECT_EQ(tree.image(tree.find("srv/pub")), "closed");
    tree.setCurrentItem(tree.find("srv/pub"));
    QTest::keyClick(&tree, Qt::Key_Right);
    EXPECT_EQ(tree.image(tree.find("srv/pub")), "open");
    tree.setCurrentItem(tree.find("srv/pub"));
    QTest::keyClick(&tree, Qt::Key_Right);
    EXPECT_EQ(tree.image(tree.find("srv/pub")), "open");
    EXPECT_EQ(childTexts(tree, "srv/pub"), (QStringList{"srv/pub/docs", "srv/pub/x"}));
    tree.setCurrentItem(tree.find("srv/pub"));
    QTest::keyClick(&tree, Qt::Key_Left);
    EXPECT_EQ(tree.image(tree.find("srv/pub")), "closed");
    EXPECT_TRUE(ui.shown.empty());
}

TEST_F(MainWindowTest, DoubleClickNeedsASessionAndASelection)
{
    window->TreeView1_DblClick();
    EXPECT_EQ(ui.texts(), QStringList{"Not in session!"});
    connectToSrv();
    ui.shown.clear();
    window->TreeView1->clearSelection();
    window->TreeView1->setCurrentItem(nullptr);
    window->TreeView1_DblClick();
    EXPECT_EQ(ui.texts(), QStringList{"no Selection to enumerate"});
}

TEST_F(MainWindowTest, EmptyFolderOpensWithoutChildrenThenClosesThenRelists)
{
    connectToSrv();
    internet.addFolder("/empty", {});
    auto& tree = *window->TreeView1;
    window->colNames.clear();
    window->colAttributes = {16};
    window->colNames = {"empty"};
    window->AddNodes("srv");
    tree.setCurrentItem(tree.find("srv/empty"));
    window->TreeView1_DblClick();
    EXPECT_EQ(ui.texts(), QStringList{"This directory is empty!"});
    EXPECT_EQ(tree.image(tree.find("srv/empty")), "open");
    EXPECT_EQ(tree.find("srv/empty")->childCount(), 0);
    window->TreeView1_DblClick();
    EXPECT_EQ(tree.image(tree.find("srv/empty")), "closed");
    window->TreeView1_DblClick();
    EXPECT_EQ(ui.texts().size(), 2);
}

TEST_F(MainWindowTest, ChangeRemoteDirMapsTreePathsToServerPaths)
{
    connectToSrv();
    const std::string h = std::to_string(window->hConnection);
    internet.addFolder("/pub/docs", {});
    window->ChangeRemoteDir("srv");
    window->ChangeRemoteDir("srv/");
    window->ChangeRemoteDir("srv/pub/docs");
    window->ChangeRemoteDir("/pub");
    EXPECT_EQ(internet.callsNamed("FtpSetCurrentDirectoryA"),
              (std::vector<std::string>{"FtpSetCurrentDirectoryA(" + h + ",/)", "FtpSetCurrentDirectoryA(" + h + ",/)",
                                        "FtpSetCurrentDirectoryA(" + h + ",/pub/docs)",
                                        "FtpSetCurrentDirectoryA(" + h + ",/pub)"}));
    window->ChangeRemoteDir("");
    EXPECT_EQ(ui.texts(), QStringList{"Please enter the directory to CD"});
    EXPECT_EQ(internet.callsNamed("FtpSetCurrentDirectoryA").size(), 4u);

    window->ChangeRemoteDir("srv/missing");
    EXPECT_EQ(ui.texts().back(), "rcd Err: 12003\r\nClose Connection and Session?");
}

TEST_F(MainWindowTest, MidListingFailureKeepsEntriesReportsThenClosesHandle)
{
    connectToSrv();
    internet.addFolder("/big", {{"a", 128}, {"b", 128}, {"c", 128}});
    internet.failListingAfter = 2;
    window->ListRemoteDirectory("srv/big");
    EXPECT_EQ(window->colNames, (QStringList{"a", "b"}));
    EXPECT_EQ(window->colAttributes.size(), 2);
    EXPECT_EQ(ui.texts().back(), "InternetFindNextFile Err: 12030\r\nClose Connection and Session?");
    EXPECT_EQ(internet.calls.back().rfind("InternetCloseHandle(", 0), 0u);
}

TEST_F(MainWindowTest, YesInTheMiddleOfAListingEmptiesEverythingWithoutCrash)
{
    connectToSrv();
    internet.addFolder("/pub", {{"a", 16}, {"b", 128}, {"c", 128}});
    internet.failListingAfter = 1;
    ui.answers.push_back(ui::MsgAnswer::Yes);
    auto& tree = *window->TreeView1;
    tree.setCurrentItem(tree.find("srv/pub"));
    window->TreeView1_DblClick();
    EXPECT_EQ(tree.nodeCount(), 0);
    EXPECT_EQ(window->colNames.size(), 0);
    EXPECT_TRUE(window->txtServer->text().isEmpty());
    EXPECT_FALSE(window->bConnected);
}

TEST_F(MainWindowTest, AddNodesUnderAMissingParentAddsNothing)
{
    connectToSrv();
    const int before = window->TreeView1->nodeCount();
    window->colNames = {"x"};
    window->colAttributes = {128};
    window->AddNodes("srv/nowhere");
    EXPECT_EQ(window->TreeView1->nodeCount(), before);
}

TEST_F(MainWindowTest, FolderThatCannotBeEnteredStaysClosedAndIsNotListed)
{
    connectToSrv();
    auto& tree = *window->TreeView1;
    internet.failures["FtpSetCurrentDirectoryA"] = {net::ERROR_INTERNET_EXTENDED_ERROR,
                                                    net::ERROR_INTERNET_EXTENDED_ERROR};
    tree.setCurrentItem(tree.find("srv/pub"));
    window->TreeView1_DblClick();
    EXPECT_EQ(tree.image(tree.find("srv/pub")), "closed");
    EXPECT_EQ(tree.find("srv/pub")->childCount(), 0);
    window->colNames = {"stale"};
    window->colAttributes = {128};
    EXPECT_FALSE(window->ListRemoteDirectory("srv/pub"));
    EXPECT_TRUE(window->colNames.isEmpty());
    EXPECT_TRUE(window->colAttributes.isEmpty());
    EXPECT_TRUE(internet.callsNamed("FtpFindFirstFileA").empty());
    EXPECT_EQ(ui.texts().filter("rcd Err: 12003").size(), 2);

    window->TreeView1_DblClick();  // retried: now it opens
    EXPECT_EQ(tree.image(tree.find("srv/pub")), "open");
    EXPECT_EQ(childTexts(tree, "srv/pub"), (QStringList{"srv/pub/docs", "srv/pub/x"}));
}

TEST_F(MainWindowTest, RootStandsForTheLoginFolderReadOnceAtConnect)
{
    internet.loginDir = "/home/me";
    internet.addFolder("/home/me", {{"pub", 16}, {"readme", 128}});
    internet.addFolder("/home/me/pub", {{"x", 128}});
    internet.addFolder("/pub", {{"machine", 128}});
    window->cmdInternetOpen_Click();
    window->txtServer->setText("srv");
    window->cmdConnect_Click();
    const std::string h = std::to_string(window->hConnection);
    ASSERT_GE(internet.calls.size(), 4u);
    EXPECT_EQ(internet.calls[2], "FtpGetCurrentDirectoryA(" + h + ",260)");  // right after the connect
    EXPECT_EQ(internet.calls[3].rfind("FtpFindFirstFileA(", 0), 0u);
    auto& tree = *window->TreeView1;
    EXPECT_EQ(childTexts(tree, "srv"), (QStringList{"srv/pub", "srv/readme"}));
    tree.setCurrentItem(tree.find("srv/pub"));
    window->TreeView1_DblClick();
    EXPECT_EQ(childTexts(tree, "srv/pub"), QStringList{"srv/pub/x"});
    window->ChangeRemoteDir("/pub");  // a server path typed without the server name
    EXPECT_EQ(internet.callsNamed("FtpSetCurrentDirectoryA"),
              (std::vector<std::string>{"FtpSetCurrentDirectoryA(" + h + ",/home/me/pub)",
                                        "FtpSetCurrentDirectoryA(" + h + ",/pub)"}));
    EXPECT_EQ(internet.callsNamed("FtpGetCurrentDirectoryA").size(), 1u);
    EXPECT_TRUE(ui.shown.empty()) << ui.texts().join("|").toStdString();
}

TEST_F(MainWindowTest, LongLoginFolderIsReadWithARoomierBuffer)
{
    const std::string home = "/" + std::string(300, 'h');
    internet.loginDir = home;
    internet.addFolder(home, {{"pub", 16}});
    internet.addFolder(home + "/pub", {{"x", 128}});
    window->cmdInternetOpen_Click();
    window->txtServer->setText("srv");
    window->cmdConnect_Click();
    const std::string h = std::to_string(window->hConnection);
    EXPECT_EQ(internet.callsNamed("FtpGetCurrentDirectoryA"),
              (std::vector<std::string>{"FtpGetCurrentDirectoryA(" + h + ",260)",
                                        "FtpGetCurrentDirectoryA(" + h + ",302)"}));
    window->ChangeRemoteDir("srv/pub");
    EXPECT_EQ(internet.callsNamed("FtpSetCurrentDirectoryA").back(), "FtpSetCurrentDirectoryA(" + h + "," + home + "/pub)");
    EXPECT_TRUE(ui.shown.empty()) << ui.texts().join("|").toStdString();
}

TEST_F(MainWindowTest, UnreadableLoginFolderIsReportedAndYesStopsTheConnect)
{
    window->cmdInternetOpen_Click();
    window->txtServer->setText("srv");
    internet.failures["FtpGetCurrentDirectoryA"] = {net::ERROR_INVALID_HANDLE};
    window->cmdConnect_Click();  // "No": the root stands for "/"
    EXPECT_EQ(ui.texts(), (QStringList{"FtpGetCurrentDirectory Err: 6\r\nClose Connection and Session?",
                                       "This directory is empty!"}));
    EXPECT_TRUE(window->bConnected);
    window->ChangeRemoteDir("srv");
    EXPECT_EQ(internet.callsNamed("FtpSetCurrentDirectoryA").back(),
              "FtpSetCurrentDirectoryA(" + std::to_string(window->hConnection) + ",/)");

    window->cmdDisconnect_Click();
    internet.failures["FtpGetCurrentDirectoryA"] = {net::ERROR_INVALID_HANDLE};
    ui.answers = {ui::MsgAnswer::Yes};
    internet.calls.clear();
    window->cmdConnect_Click();
    EXPECT_FALSE(window->bConnected);
    EXPECT_EQ(window->TreeView1->nodeCount(), 0);
    EXPECT_TRUE(internet.callsNamed("FtpFindFirstFileA").empty());
}

TEST_F(MainWindowTest, ConnectNeverReusesANodeLeftFromBefore)
{
    auto& tree = *window->TreeView1;
    tree.addRoot("srv", "root");
    tree.addChild("srv", "srv/stale", "leaf");
    connectToSrv();
    EXPECT_EQ(childTexts(tree, "srv"), (QStringList{"srv/pub", "srv/readme"}));
    EXPECT_EQ(tree.nodeCount(), 3);
}
