// Uploads over an existing file on servers that rename only onto free names, rename nothing,
// keep what they cannot delete, fail a STOR after 150, drop the connection after a step or
// hold a step's reply until the upload is cancelled. The oracle is the server's disk and
// command log.
#include <sys/stat.h>

#include <chrono>
#include <set>
#include <string>

#include "HostileFixture.h"

using namespace net;
using namespace hostiletest;
using layertest::folderEntries;
using layertest::readFile;
using layertest::writeFile;

namespace {

class HostileUpload : public HostileTest {
protected:
    // How many STORs brought the file's bytes: the server logs what each one received.
    int dataStores() const { return m_server->count("RECEIVED") - m_server->count("RECEIVED 0"); }

    // "name=old|new|part|empty" for each file on the server's disk; temporary names as <temp>/<backup>.
    std::string disk(const std::string& fresh, const std::string& target = "t") const
    {
        std::set<std::string> out;
        for (const std::string& name : folderEntries(m_server->diskPath())) {
            const std::string path = m_server->diskPath() + "/" + name;
            const std::string bytes = layertest::exists(path + "/") ? "dir" : readFile(path);
            const char* what = bytes == fresh ? "new" : bytes.empty() ? "empty" : "part";
            out.insert((name == target ? name : name.ends_with("-old") ? "<backup>" : "<temp>") + "=" +
                       (bytes == "old" || bytes == "dir" ? bytes : what));
        }
        std::string text;
        for (const std::string& entry : out)
            text += (text.empty() ? "" : " ") + entry;
        return text;
    }
};

// Cancels once the server holds a reply back.
struct CancelWhenHeld : CallWatcher {
    const testsupport::HostileServer& server;
    explicit CancelWhenHeld(const testsupport::HostileServer& s) : server(s) {}
    void callStarted(const CallProgress&) override {}
    bool callProgress(const CallProgress&) override { return server.count("<held>") == 0; }
    void callFinished() override {}
};

}  // namespace

TEST_F(HostileUpload, NoServerLosesBothFilesAndWhatStaysIsNamed)
{
    // stors: STORs of the first upload that brought the data. The first STOR, RNTO and DELE
    // are the connection's rename test on an empty file. name: the file uploaded over.
    struct Row { const char* modes; bool ok; const char* disk; int stors; const char* name = "t"; };
    const Row rows[] = {
        {"", true, "t=new", 1},
        {"rnto-existing-550", true, "t=new", 1},
        {"rnto-existing-550,mlst", true, "t=new", 1},
        {"rnto-existing-550,chmod-refused", true, "t=new", 1},
        {"rnto-existing-550,dele-refused", true, "<backup>=old <temp>=empty t=new", 1},
        {"rnto-existing-550,refuse-RNTO-4", false, "t=old", 1},  // the new file cannot take the name
        {"rename-refused", true, "t=new", 1},
        {"rename-refused,dele-refused", true, "<temp>=empty t=new", 1},
        {"rename-refused,plain-stor-553", false, "t=old", 0},
        {"plain-stor-553", true, "t=new", 1},
        {"stor-426", false, "t=old", 1},
        {"stor-452", false, "t=old", 1},
        {"stor-552", false, "t=old", 1},
        {"stor-550", false, "t=old", 1},  // after 150 the name was taken: a failed upload, not a refused name
        {"rnto-existing-550,drop-STOR-1", false, "t=old", 0},
        {"rnto-existing-550,drop-RNTO-1", false, "<temp>=empty t=old", 0},
        {"rnto-existing-550,drop-STOR-2", false, "<temp>=new t=old", 1},  // cut: kept for the next upload
        {"rnto-existing-550,drop-RNTO-3", false, "<backup>=old <temp>=new", 1},
        {"rnto-existing-550,drop-RNTO-4", false, "<backup>=old t=new", 1},
        {"rnto-existing-550,drop-DELE-2", true, "t=new", 1},
        {"rnto-existing-550,drop-SITE-1", true, "t=new", 1},
        {"rnto-existing-550,mlst,folder", false, "t=dir", 0},  // a folder is never moved aside
        {"rnto-existing-550,folder", false, "t=dir", 0},
        {"rnto-existing-550,mlst", true, "a type=dir; b=new", 1, "a type=dir; b"},  // facts words in a name
        {"rename-once", false, "t=old", 1},  // the probe took the one rename: the data is not sent again
        // Cancelled while the server holds a step's reply (the step carried out).
        {"hold-STAT-1", false, "t=old", 0},
        {"hold-RNFR-2", false, "t=old", 1},
        {"hold-RNTO-2", false, "t=new", 1},  // too late: the new file is in place
        {"rnto-existing-550,hold-RNTO-3", false, "t=old", 1},  // the old file moved aside goes back
        {"rnto-existing-550,hold-RNTO-4", false, "<backup>=old t=new", 1},
        {"rename-refused,hold-STOR-2", false, "t=part", 1},  // written in place: the user is told
        {"hold-SITE-1", true, "t=new", 1},
    };
    const std::string fresh = layertest::randomBytes(64 * 1024, 20);
    writeFile(localPath("up"), fresh);
    for (const Row& row : rows) {
        const std::string modes = row.modes;
        SCOPED_TRACE(modes);
        m_server = std::make_unique<testsupport::HostileServer>("disk", 60, modes);
        ASSERT_TRUE(m_server->running());
        const std::string target = m_server->diskPath() + "/" + row.name;
        if (modes.find("folder") == std::string::npos)  // not the server's: the test's own
            writeFile(target, "old");
        ASSERT_TRUE(modes.find("folder") == std::string::npos || ::mkdir(target.c_str(), 0755) == 0);
        ASSERT_EQ(::chmod(target.c_str(), 0750), 0);
        m_api = std::make_unique<CurlInternet>(layertest::fastOptions());
        m_session = m_api->InternetOpenA("hostile", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        const HINTERNET c = connect();
        ASSERT_NE(c, 0u);
        const bool held = modes.find("hold") != std::string::npos;
        CancelWhenHeld cancel(*m_server);
        m_api->setCallWatcher(held ? &cancel : nullptr);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(m_api->FtpPutFileA(c, localPath("up").c_str(), row.name, FTP_TRANSFER_TYPE_BINARY, 0) != 0, row.ok)
            << m_api->lastErrorDetail();
        m_api->setCallWatcher(nullptr);
        if (held) {  // the held step was cancelled at once, then the files were put in order (libcurl
                     // looks at a cancel while it waits for a STOR's last reply once a second)
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
            EXPECT_EQ(m_api->GetLastError(), row.ok ? ERROR_SUCCESS : ERROR_INTERNET_OPERATION_CANCELLED);
        }
        const std::string detail = m_api->lastNotice();
        const std::string log = m_server->commandLog();
        EXPECT_EQ(disk(fresh, row.name), row.disk) << log;
        for (const std::string& name : folderEntries(m_server->diskPath()))
            if (name != row.name || disk(fresh, row.name).find("=part") != std::string::npos)
                EXPECT_NE(detail.find("/" + name), std::string::npos) << name << " not named in: " << detail;
        EXPECT_EQ(dataStores(), row.stors) << log;
        if (modes.find("drop") == std::string::npos && !held)
            EXPECT_EQ(m_server->count("USER"), 1) << "a refusal cost a login\n" << log;
        struct stat st {};
        if (row.ok && modes.find("chmod-refused") == std::string::npos && ::stat(target.c_str(), &st) == 0)
            EXPECT_EQ(st.st_mode & 0777, 0750u) << log;
        if (!row.ok && modes.find("folder") == std::string::npos && modes.find("drop") == std::string::npos && !held) {
            EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_EXTENDED_ERROR) << detail;
            DWORD code = 0, length = 0;  // the server's refusal is the reply shown
            EXPECT_TRUE(m_api->InternetGetLastResponseInfoA(&code, nullptr, &length));
            EXPECT_GE(code, 400u);
        }
        // What the connection learnt holds: the next upload sends the file once.
        ASSERT_TRUE(m_api->FtpPutFileA(c, localPath("up").c_str(), row.name, FTP_TRANSFER_TYPE_BINARY, 0) ||
                    !row.ok)
            << m_api->lastErrorDetail();
        if (row.ok) {
            EXPECT_EQ(dataStores(), row.stors + 1) << m_server->commandLog();
            EXPECT_EQ(readFile(target), fresh);
        }
    }
}

TEST_F(HostileUpload, APipeIsRefusedAtOnceAndNothingIsSent)
{
    start("disk");
    const HINTERNET c = connect();
    ASSERT_NE(c, 0u);
    ASSERT_EQ(::mkfifo(localPath("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(m_api->FtpPutFileA(c, localPath("fifo").c_str(), "t", FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_EQ(m_api->GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_NE(m_api->lastErrorDetail().find("ordinary file"), std::string::npos);
    EXPECT_EQ(m_server->count("STOR"), 0);
    EXPECT_TRUE(folderEntries(m_server->diskPath()).empty());
}

// An upload cut after 40000 bytes keeps its temporary on the server; the next upload of the
// same local file continues it (SIZE, then APPE) and renames it as always. A changed local
// file starts over.
TEST_F(HostileUpload, ACutUploadContinuesOnlyForTheSameLocalFile)
{
    const std::string fresh = layertest::randomBytes(64 * 1024, 21);
    for (const bool changed : {false, true}) {
        SCOPED_TRACE(changed ? "local file changed" : "unchanged");
        m_server = std::make_unique<testsupport::HostileServer>("disk", 60, "cut-40000");
        ASSERT_TRUE(m_server->running());
        writeFile(m_server->diskPath() + "/t", "old");
        writeFile(localPath("up"), changed ? layertest::randomBytes(64 * 1024, 22) : fresh);
        m_api = std::make_unique<CurlInternet>(layertest::fastOptions());
        m_session = m_api->InternetOpenA("hostile", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        const HINTERNET c = connect();
        ASSERT_NE(c, 0u);
        EXPECT_FALSE(m_api->FtpPutFileA(c, localPath("up").c_str(), "t", FTP_TRANSFER_TYPE_BINARY, 0));
        EXPECT_EQ(disk(fresh), "<temp>=part t=old") << m_server->commandLog();
        EXPECT_NE(m_api->lastNotice().find(".quillon-"), std::string::npos) << m_api->lastNotice();
        if (changed)
            writeFile(localPath("up"), fresh);
        ASSERT_TRUE(m_api->FtpPutFileA(c, localPath("up").c_str(), "t", FTP_TRANSFER_TYPE_BINARY, 0))
            << m_api->lastErrorDetail() << "\n" << m_server->commandLog();
        const std::string log = m_server->commandLog();
        EXPECT_EQ(readFile(m_server->diskPath() + "/t"), fresh) << log;
        EXPECT_EQ(m_server->count("APPE"), changed ? 0 : 1) << log;
        if (!changed) {  // the rest went to the temporary, which then took the name
            EXPECT_EQ(disk(fresh), "t=new") << log;
            EXPECT_LT(log.find("APPE .t.quillon-"), log.rfind("RNFR .t.quillon-")) << log;
        }
    }
}
