#include <QLineEdit>

#include "MainWindowFixture.h"
#include "remote/RemoteTree.h"

using testsupport::MainWindowTest;

TEST_F(MainWindowTest, SessionStartsDirectOrThroughTheProxyTextAsTyped)
{
    window->cmdInternetOpen_Click();
    EXPECT_EQ(internet.calls.back(), "InternetOpenA(vb wininet,1,NULL)");
    EXPECT_NE(window->hOpen, 0u);
    EXPECT_FALSE(window->cmdInternetOpen->isEnabled());
    EXPECT_TRUE(window->cmdConnect->isEnabled());

    window->cmdClosehOpen_Click();
    window->txtProxy->setText("  ");  // blanks still name a proxy
    window->ss->trigger();
    EXPECT_EQ(internet.calls.back(), "InternetOpenA(vb wininet,3,'  ')");
}

TEST_F(MainWindowTest, FailedSessionStartIsReportedAndStillEntersSessionState)
{
    internet.failures["InternetOpenA"].push_back(net::ERROR_INTERNET_NAME_NOT_RESOLVED);
    window->cmdInternetOpen_Click();
    EXPECT_EQ(window->hOpen, 0u);
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].text, "InternetOpen Err: 12007\r\nClose Connection and Session?");
    EXPECT_EQ(ui.shown[0].style, ui::MsgStyle::YesNoDefaultNo);
    EXPECT_TRUE(window->txtServer->isEnabled());
    EXPECT_FALSE(window->cmdInternetOpen->isEnabled());

    // Connect does nothing without a session handle.
    window->txtServer->setText("srv");
    internet.calls.clear();
    window->cmdConnect_Click();
    EXPECT_TRUE(internet.calls.empty());
}

TEST_F(MainWindowTest, CloseWhileConnectedClosesConnectionFirstAndEmptiesEverything)
{
    connectToSrv();
    const auto hConnection = window->hConnection, hOpen = window->hOpen;
    window->txtProxy->setText("ignored");
    window->cs->trigger();
    EXPECT_EQ(internet.calls, (std::vector<std::string>{
                                  "InternetCloseHandle(" + std::to_string(hConnection) + ")",
                                  "InternetCloseHandle(" + std::to_string(hOpen) + ")"}));
    EXPECT_EQ(window->TreeView1->nodeCount(), 0);
    EXPECT_FALSE(window->bConnected);
    EXPECT_EQ(window->hOpen, 0u);
    for (QLineEdit* box : {window->txtServer, window->txtUser, window->txtPassword, window->txtProxy})
        EXPECT_TRUE(box->text().isEmpty());
    EXPECT_TRUE(window->cmdInternetOpen->isEnabled());
    EXPECT_FALSE(window->cmdGet->isEnabled());
}

TEST_F(MainWindowTest, CloseAfterTheServerBoxWasEditedStillRunsToTheEnd)
{
    connectToSrv();
    window->txtServer->setText("elsewhere");
    window->cmdClosehOpen_Click();
    EXPECT_EQ(window->TreeView1->nodeCount(), 0);  // the root goes by the key it was made with
    EXPECT_EQ(window->hOpen, 0u);
    EXPECT_FALSE(window->bConnected);
    EXPECT_TRUE(window->txtServer->text().isEmpty());
    EXPECT_TRUE(window->cmdInternetOpen->isEnabled());
}

TEST_F(MainWindowTest, ClosingTheWindowRunsTheSessionClose)
{
    connectToSrv();
    const auto hConnection = window->hConnection;
    EXPECT_TRUE(window->close());
    ASSERT_EQ(internet.calls.size(), 2u);
    EXPECT_EQ(internet.calls[0], "InternetCloseHandle(" + std::to_string(hConnection) + ")");
    EXPECT_EQ(window->TreeView1->nodeCount(), 0);
}

TEST_F(MainWindowTest, ExtendedErrorShowsTheServerResponseThenAsks)
{
    window->cmdInternetOpen_Click();
    internet.responseCode = 530;
    internet.responseText = "530 Login incorrect.\r\n";
    window->ErrorOut(12003, "InternetConnect");
    ASSERT_EQ(ui.shown.size(), 2u);
    EXPECT_EQ(ui.shown[0].text, "InternetConnect Extd Err: 530 530 Login incorrect.\r\n");
    EXPECT_EQ(ui.shown[0].style, ui::MsgStyle::OkOnly);
    EXPECT_EQ(ui.shown[1].text, "InternetConnect Err: 12003\r\nClose Connection and Session?");
    // The length is asked first with no buffer, then the text with that length.
    const auto asks = internet.callsNamed("InternetGetLastResponseInfoA");
    EXPECT_EQ(asks, (std::vector<std::string>{"InternetGetLastResponseInfoA(NULL,0)",
                                              "InternetGetLastResponseInfoA(buffer,22)"}));
    EXPECT_NE(window->hOpen, 0u);  // "No" leaves everything
}

TEST_F(MainWindowTest, ErrorBoxesKeepTheirTextsAndCarryTheReasonAsDetails)
{
    window->cmdInternetOpen_Click();
    window->txtServer->setText("srv");
    internet.errorDetail = "Failed to connect to 127.0.0.1 port 21: Connection refused";
    internet.failures["InternetConnectA"].push_back(12029);
    window->cmdConnect_Click();
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].text, "InternetConnect Err: 12029\r\nClose Connection and Session?");
    EXPECT_EQ(ui.shown[0].style, ui::MsgStyle::YesNoDefaultNo);
    EXPECT_EQ(ui.shown[0].detail, "Failed to connect to 127.0.0.1 port 21: Connection refused");

    // The extended error's two boxes both carry it; the server's response stays in the text.
    ui.shown.clear();
    internet.errorDetail = "Access denied to remote resource";
    internet.failures["InternetConnectA"].push_back(12003);
    window->cmdConnect_Click();
    ASSERT_EQ(ui.shown.size(), 2u);
    EXPECT_EQ(ui.shown[0].text, "InternetConnect Extd Err: 550 550 No such file.\r\n");
    EXPECT_EQ(ui.shown[0].detail, "Access denied to remote resource");
    EXPECT_EQ(ui.shown[1].detail, "Access denied to remote resource");

    // Other messages have no details.
    ui.shown.clear();
    window->txtServer->setText("");
    window->cmdConnect_Click();
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].detail, "");
}

TEST_F(MainWindowTest, OtherErrorsAskOnlyAndShowNegativeNumbers)
{
    window->ErrorOut(-5, "rcd");
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].text, "rcd Err: -5\r\nClose Connection and Session?");
}

TEST_F(MainWindowTest, YesClosesConnectionThenSessionAndResetsTheWindow)
{
    connectToSrv();
    const auto hConnection = window->hConnection, hOpen = window->hOpen;
    ui.answers.push_back(ui::MsgAnswer::Yes);
    window->ErrorOut(12030, "FtpGetFile");
    EXPECT_EQ(internet.calls, (std::vector<std::string>{
                                  "InternetCloseHandle(" + std::to_string(hConnection) + ")",
                                  "InternetCloseHandle(" + std::to_string(hOpen) + ")"}));
    EXPECT_EQ(window->TreeView1->nodeCount(), 0);
    EXPECT_TRUE(window->txtServer->text().isEmpty());
    EXPECT_FALSE(window->cmdConnect->isEnabled());
    EXPECT_TRUE(window->cmdInternetOpen->isEnabled());
}
