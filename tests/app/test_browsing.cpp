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
    QTreeWidgetItem* node = tree.find(key);
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
    ui.answers.push_back(app::MsgAnswer::Yes);
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
