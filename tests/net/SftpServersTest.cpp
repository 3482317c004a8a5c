// The SSH test servers do what the SFTP tests rely on, driven by libcurl as the layer drives it:
// the disk and the command log show what a client did, refusals and drops come as scripted,
// and a host key refused before authentication leaves no password on the server.
#include <gtest/gtest.h>

#include <curl/curl.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "support/FtpServer.h"
#include "support/SshServer.h"

using namespace testsupport;

namespace {

struct Transfer {
    std::string url, user = "user", password = "secret", privateKey;
    std::string upload;              // bytes to upload; empty: a download
    std::vector<std::string> quote;  // run before the transfer (NOBODY: alone)
    bool refuseHostKey = false;
};

struct Outcome {
    CURLcode code;
    std::string body;
};

Outcome run(const Transfer& t)
{
    Outcome out{CURLE_OK, {}};
    CURL* h = curl_easy_init();
    curl_easy_setopt(h, CURLOPT_URL, t.url.c_str());
    curl_easy_setopt(h, CURLOPT_USERNAME, t.user.c_str());
    curl_easy_setopt(h, CURLOPT_PASSWORD, t.password.c_str());
    // Named methods only: nothing of the real HOME's ~/.ssh is read.
    curl_easy_setopt(h, CURLOPT_SSH_AUTH_TYPES,
                     long(t.privateKey.empty() ? CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD : CURLSSH_AUTH_PUBLICKEY));
    if (!t.privateKey.empty())
        curl_easy_setopt(h, CURLOPT_SSH_PRIVATE_KEYFILE, t.privateKey.c_str());
    curl_easy_setopt(h, CURLOPT_SSH_HOSTKEYFUNCTION, +[](void* refuse, int, const char*, size_t) {
        return int(*static_cast<const bool*>(refuse) ? CURLKHMATCH_MISMATCH : CURLKHMATCH_OK);
    });
    curl_easy_setopt(h, CURLOPT_SSH_HOSTKEYDATA, &t.refuseHostKey);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, +[](char* d, size_t s, size_t n, void* body) {
        static_cast<std::string*>(body)->append(d, s * n);
        return s * n;
    });
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &out.body);
    std::string_view pending = t.upload;
    if (!t.upload.empty()) {
        curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(h, CURLOPT_READFUNCTION, +[](char* d, size_t s, size_t n, void* left) {
            auto* rest = static_cast<std::string_view*>(left);
            const size_t k = std::min(s * n, rest->size());
            std::copy_n(rest->data(), k, d);
            rest->remove_prefix(k);
            return k;
        });
        curl_easy_setopt(h, CURLOPT_READDATA, &pending);
    }
    curl_slist* quote = nullptr;
    for (const std::string& q : t.quote)
        quote = curl_slist_append(quote, q.c_str());
    curl_easy_setopt(h, CURLOPT_QUOTE, quote);
    curl_easy_setopt(h, CURLOPT_NOBODY, long(!t.quote.empty()));
    out.code = curl_easy_perform(h);
    curl_slist_free_all(quote);
    curl_easy_cleanup(h);
    return out;
}

TEST(SshTestServers, ScriptedServerRefusesAndDropsAsTold)
{
    struct Row {
        const char* what;
        std::string modes, path, upload;
        std::string password = "secret";
        bool refuseHostKey = false;
        CURLcode code;
        std::string logged;          // a line the command log must hold
        int authLines = 1;           // "auth" lines in the log: passwords the server received
    };
    const std::string big(300000, 'b');
    const Row rows[] = {
        {"download", "", "f.txt", "", "secret", false, CURLE_OK, "open /f.txt READ mode 100644"},
        {"upload", "", "new.txt", "up", "secret", false, CURLE_OK, "open /new.txt WRITE,CREAT,TRUNC mode 100644"},
        {"host key refused: no password sent", "", "f.txt", "", "secret", true, CURLE_PEER_FAILED_VERIFICATION, "connect", 0},
        {"wrong password", "", "f.txt", "", "wrong", false, CURLE_LOGIN_DENIED, "refused user", 2},
        {"no such file", "refuse-open-missing", "f.txt", "", "secret", false, CURLE_REMOTE_FILE_NOT_FOUND, "refused open /f.txt missing"},
        {"permission denied for one name", "refuse-open-permission@locked.txt", "locked.txt", "up", "secret", false,
         CURLE_REMOTE_ACCESS_DENIED, "refused open /locked.txt permission"},
        {"disk full at open", "refuse-open-full", "new.txt", "up", "secret", false, CURLE_REMOTE_DISK_FULL, "refused open /new.txt full"},
        {"dropped mid-download", "drop-read-100000", "big.bin", "", "secret", false, CURLE_SSH, "drop read"},
        {"dropped mid-upload", "drop-write-100000", "up.bin", big, "secret", false, CURLE_SSH, "drop write"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ScriptedSftpServer server(row.modes);
        ASSERT_TRUE(server.running());
        const QString disk = QString::fromStdString(server.diskPath());
        QFile f(disk + "/f.txt");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write("hello\n") == 6);
        f.close();
        QFile b(disk + "/big.bin");
        ASSERT_TRUE(b.open(QIODevice::WriteOnly) && b.write(QByteArray::fromStdString(big)) == qint64(big.size()));
        b.close();
        const Outcome o = run({"sftp://" + server.address() + "/" + row.path, "user", row.password, {}, row.upload, {},
                               row.refuseHostKey});
        EXPECT_EQ(o.code, row.code);
        const std::vector<std::string> log = server.commands();
        EXPECT_NE(std::find(log.begin(), log.end(), row.logged), log.end()) << server.commandLog();
        EXPECT_EQ(server.count("auth"), row.authLines) << server.commandLog();
        if (row.code == CURLE_OK && !row.upload.empty())
            EXPECT_EQ(readAll(disk + "/" + QString::fromStdString(row.path)), row.upload);
        if (row.code == CURLE_OK && row.upload.empty())
            EXPECT_EQ(o.body, "hello\n");
    }
}

TEST(SshTestServers, OpenSshServerLogsInByKeyAndServesItsFolder)
{
    QTemporaryDir home, disk;
    const std::string key = home.filePath(".ssh/id_ed25519").toStdString();
    ASSERT_TRUE(makeSshKey(key));
    SshServer server(disk.path().toStdString(), {.authorizedKeys = {key + ".pub"}});
    ASSERT_TRUE(server.running());
    const std::string url = "sftp://" + server.address() + "/~/";
    const std::string root = server.root();

    Transfer up{url + "up.txt", server.user(), "", key, "stored"};
    EXPECT_EQ(run(up).code, CURLE_OK);
    EXPECT_EQ(readAll(disk.filePath("up.txt")), "stored");
    EXPECT_EQ(server.count("open"), 1);
    EXPECT_NE(server.serverLog().find("Accepted publickey for " + server.user()), std::string::npos);

    // Version 3 renames refuse an existing target: the upload's swap has to step around it.
    QFile old(disk.filePath("old.txt"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
    old.close();
    Transfer rename{url, server.user(), "", key, {}, {"rename " + root + "/up.txt " + root + "/old.txt"}};
    EXPECT_EQ(run(rename).code, CURLE_QUOTE_ERROR);
    EXPECT_EQ(readAll(disk.filePath("old.txt")), "old");
    const std::vector<std::string> log = server.commands();
    const std::string asked = "rename old \"" + root + "/up.txt\" new \"" + root + "/old.txt\"";
    const auto at = std::find(log.begin(), log.end(), asked);
    ASSERT_NE(at, log.end()) << server.commandLog();
    ASSERT_NE(at + 1, log.end());
    EXPECT_EQ(*(at + 1), "sent status Failure");

    Transfer wrongKey = up;
    ASSERT_TRUE(makeSshKey(home.filePath("other").toStdString()));
    wrongKey.privateKey = home.filePath("other").toStdString();
    EXPECT_EQ(run(wrongKey).code, CURLE_LOGIN_DENIED);
}

}  // namespace
