// The main window over "sftp://" against OpenSSH's own server, with a temporary HOME: the
// host-key question and a second connect that asks nothing, browsing, transfers byte-exact,
// a re-upload that keeps the file's permissions, Cancel, a close during a call, and a
// changed host key refused.

#include <QDir>
#include <QFile>
#include <QtWidgets>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>

#include "ActingView.h"
#include "FtpServer.h"
#include "SshServer.h"
#include "Wait.h"
#include "app/Program.h"
#include "app/fmKESTRIX.h"
#include "net/CurlInternet.h"
#include "net/KnownHosts.h"
#include "remote/RemoteTree.h"
#include "support/ScriptedUi.h"
#include "transfer/DirList.h"
#include "transfer/FileList.h"

namespace {

using Clock = std::chrono::steady_clock;

QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void put(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

QStringList entries(const QString& folder)
{
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

TEST(SftpWindow, ConnectsBrowsesTransfersAndCancelsAsOverFtp)
{
    QTemporaryDir home, remote, local;
    const testsupport::ScopedEnv homeEnv("HOME", home.path().toStdString());
    const testsupport::ScopedEnv agentEnv("SSH_AUTH_SOCK", std::nullopt);
    ASSERT_TRUE(testsupport::makeSshKey(home.filePath(".ssh/id_ed25519").toStdString()));
    QByteArray data(1 << 20, '\0');
    for (int i = 0; i < data.size(); ++i)
        data[i] = char((unsigned(i) * 7919u) >> 5);
    put(remote.filePath("pub/data.bin"), data);
    put(remote.filePath("run.sh"), "#!/bin/sh\necho old\n");
    ASSERT_EQ(::chmod(QFile::encodeName(remote.filePath("run.sh")).constData(), 0755), 0);
    put(remote.filePath("big.bin"), {});
    ASSERT_EQ(::truncate(QFile::encodeName(remote.filePath("big.bin")).constData(), 8LL << 30), 0);  // sparse
    testsupport::SshServer server(remote.path().toStdString(),
                                  {.authorizedKeys = {home.filePath(".ssh/id_ed25519.pub").toStdString()}});
    ASSERT_TRUE(server.running());
    const std::string key =
        QByteArray::fromBase64(QByteArray::fromStdString(server.hostKey().substr(server.hostKey().find(' ') + 1)))
            .toStdString();

    net::CurlInternet internet;
    testsupport::ScriptedUi ui;
    ActingView view;
    const app::Program program(internet, {.ui = &ui, .quit = [] {}, .progressView = &view});
    app::fmKESTRIX& w = program.window();
    ASSERT_TRUE(w.Form_Load());
    w.show();
    w.File1->setPath(local.path());
    const QString root = QStringLiteral("sftp://127.0.0.1:%1").arg(server.port());
    auto node = [&](const QString& below) { return w.TreeView1->find(root + below); };
    auto select = [&](const QString& below) { w.TreeView1->setCurrentItem(below.isEmpty() ? w.TreeView1->find(root) : node(below)); };
    w.cmdInternetOpen_Click();
    w.txtServer->setText(root);
    w.txtUser->setText(QString::fromStdString(server.user()));
    w.txtPassword->clear();  // the key in ~/.ssh

    // Unknown: asked, remembered; the next connect asks nothing.
    ui.chosen = {0};
    w.cmdConnect_Click();
    ASSERT_TRUE(w.bConnected) << ui.texts().join('|').toStdString();
    ASSERT_EQ(ui.choices.size(), 1u);
    EXPECT_TRUE(ui.choices[0].text.contains(QString::fromStdString(net::sshKeyFingerprint(key))));
    EXPECT_EQ(net::KnownHosts::forUser().check("127.0.0.1", server.port(), key).status, net::HostKeyStatus::Known);
    w.cmdDisconnect_Click();
    w.cmdConnect_Click();
    ASSERT_TRUE(w.bConnected);
    EXPECT_EQ(ui.choices.size(), 1u);

    // Browse, download, upload, re-upload over a 0755 file.
    ASSERT_NE(node("/pub"), nullptr);
    ASSERT_NE(node("/run.sh"), nullptr);
    w.TreeView1->setCurrentItem(node("/pub"));
    w.TreeView1_DblClick();
    ASSERT_NE(node("/pub/data.bin"), nullptr);
    select("/pub/data.bin");
    w.cmdGet_Click();
    EXPECT_EQ(bytesOf(local.filePath("data.bin")), data);
    put(local.filePath("up.bin"), data.right(300000));
    w.File1->Refresh();
    w.File1->setFileName("up.bin");
    select("/pub");
    w.cmdPut_Click();
    EXPECT_EQ(bytesOf(remote.filePath("pub/up.bin")), data.right(300000));
    put(local.filePath("run.sh"), "#!/bin/sh\necho new\n");
    w.File1->Refresh();
    w.File1->setFileName("run.sh");
    select("");
    w.cmdPut_Click();
    EXPECT_EQ(bytesOf(remote.filePath("run.sh")), "#!/bin/sh\necho new\n");
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(remote.filePath("run.sh")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    EXPECT_EQ(entries(remote.path()), (QStringList{"big.bin", "pub", "run.sh"}));
    EXPECT_TRUE(ui.shown.empty()) << ui.texts().join('|').toStdString();

    // A folder in one step: /pub comes down whole, and goes up again as /copy, byte-exact.
    select("/pub");
    w.cmdGet_Click();
    EXPECT_EQ(bytesOf(local.filePath("pub/data.bin")), data);
    ASSERT_TRUE(QDir(local.path()).rename("pub", "copy"));
    w.Dir1->setPath(local.path());
    w.File1->clearSelection();
    w.Dir1->setCurrentRow(w.Dir1->row(w.Dir1->findItems("copy", Qt::MatchExactly).front()));
    select("");
    w.cmdPut_Click();
    EXPECT_EQ(bytesOf(remote.filePath("copy/data.bin")), data);
    EXPECT_EQ(bytesOf(remote.filePath("copy/up.bin")), data.right(300000));
    EXPECT_TRUE(ui.shown.empty()) << ui.texts().join('|').toStdString();
    ASSERT_TRUE(QDir(local.filePath("copy")).removeRecursively() && QDir(remote.filePath("copy")).removeRecursively());

    // The tree's commands: permissions set, a folder removed with what it holds, the root listed again.
    select("/run.sh");
    ui.modes = {0750};
    w.mnuPermissions_Click();
    ASSERT_EQ(::stat(QFile::encodeName(remote.filePath("run.sh")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0750u);
    select("/pub");
    ui.answers = {ui::MsgAnswer::Yes};
    w.mnuDelete_Click();
    EXPECT_EQ(entries(remote.path()), (QStringList{"big.bin", "run.sh"}));
    EXPECT_EQ(node("/pub"), nullptr);
    EXPECT_EQ(ui.texts(), QStringList{"Delete the folder \"pub\" from the server, with the 2 files in it?"});
    ui.shown.clear();

    // Cancel a download: the session is shut at once, and the server sees it closed.
    const auto closedByClient = [&] { return QString::fromStdString(server.serverLog()).count("Close session"); };
    const auto closedBefore = closedByClient();
    select("/big.bin");
    view.onPump = [&](int) { view.cancel = view.shown; };
    w.cmdGet_Click();
    const auto returned = Clock::now();
    view.onPump = nullptr;
    view.cancel = false;
    ASSERT_TRUE(view.cancelTaken);
    // Limits with room for a loaded machine; a session that waited on the server takes seconds.
    EXPECT_LT(returned - *view.cancelTaken, std::chrono::milliseconds(300));
    (void)QTest::qWaitFor([&] { return closedByClient() > closedBefore; }, 2000);
    EXPECT_GT(closedByClient(), closedBefore) << server.serverLog();
    EXPECT_LT(Clock::now() - *view.cancelTaken, std::chrono::milliseconds(600)) << server.serverLog();
    EXPECT_EQ(entries(local.path()), (QStringList{"data.bin", "run.sh", "up.bin"}));
    EXPECT_TRUE(ui.shown.empty()) << ui.texts().join('|').toStdString();

    // A changed host key: refused with the entry named, nothing asked.
    w.cmdDisconnect_Click();
    ASSERT_TRUE(testsupport::makeSshKey(home.filePath("other").toStdString()));
    put(home.filePath(".ssh/known_hosts"),
        QByteArray::fromStdString(net::knownHostsName("127.0.0.1", server.port()) + " " +
                                  testsupport::publicKeyLine(home.filePath("other.pub").toStdString()) + "\n"));
    const auto logins = [&] { return QString::fromStdString(server.serverLog()).count("Accepted publickey"); };
    const auto loginsBefore = logins();
    w.cmdConnect_Click();
    EXPECT_FALSE(w.bConnected);
    EXPECT_EQ(logins(), loginsBefore);  // refused before the key went
    EXPECT_EQ(ui.choices.size(), 1u);
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_TRUE(ui.shown[0].text.startsWith("InternetConnect Err: 12169\r\nClose Connection and Session?\r\n\r\n"));
    EXPECT_TRUE(ui.shown[0].text.contains(home.filePath(".ssh/known_hosts") + ", line 1")) << ui.shown[0].text.toStdString();

    // Closing the window during a download cancels it, then the window closes.
    ui.shown.clear();
    put(home.filePath(".ssh/known_hosts"), {});
    ui.chosen = {1};  // only this time
    w.cmdConnect_Click();
    ASSERT_TRUE(w.bConnected) << ui.texts().join('|').toStdString();
    select("/big.bin");
    bool closedAtOnce = true;
    view.onPump = [&](int) {
        if (view.shown && closedAtOnce)
            closedAtOnce = w.close();
    };
    w.cmdGet_Click();
    view.onPump = nullptr;
    EXPECT_FALSE(closedAtOnce);
    WAIT_FOR(!w.isVisible());
    EXPECT_EQ(w.hOpen, 0u);
    EXPECT_EQ(entries(local.path()), (QStringList{"data.bin", "run.sh", "up.bin"}));
    EXPECT_TRUE(ui.shown.empty()) << ui.texts().join('|').toStdString();
}

}  // namespace
