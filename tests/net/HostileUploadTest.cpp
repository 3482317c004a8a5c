// Uploads over an existing file on servers that rename onto it, rename only onto
// free names, rename nothing, keep what they cannot delete, fail a transfer after
// 150, or drop the connection after a step. The server's disk and its command log
// are the oracle: the old or the new file is always there, and any other file left
// is named to the user.
#include <sys/stat.h>

#include <algorithm>
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
    // "name=old|new|part" for each file on the server's disk; temporary names as <temp>/<backup>.
    std::string disk(const std::string& fresh) const
    {
        std::vector<std::string> out;
        for (const std::string& name : folderEntries(m_server->diskPath())) {
            const std::string bytes = readFile(m_server->diskPath() + "/" + name);
            const std::string shown = name == "t" ? name : name.ends_with("-old") ? "<backup>" : "<temp>";
            out.push_back(shown + "=" + (bytes == "old" ? "old" : bytes == fresh ? "new" : "part"));
        }
        std::sort(out.begin(), out.end());
        std::string text;
        for (const std::string& entry : out)
            text += (text.empty() ? "" : " ") + entry;
        return text;
    }
};

}  // namespace

TEST_F(HostileUpload, NoServerLosesBothFilesAndWhatStaysIsNamed)
{
    struct Row {
        const char* modes;
        bool ok;
        const char* disk;
        int stors;  // STORs of the first upload; each later one sends one
    };
    const Row rows[] = {
        {"", true, "t=new", 1},
        {"rnto-existing-550", true, "t=new", 1},
        {"rnto-existing-550,mlst", true, "t=new", 1},
        {"rnto-existing-550,chmod-refused", true, "t=new", 1},
        {"rnto-existing-550,dele-refused", true, "<backup>=old t=new", 1},
        {"rnto-existing-550,refuse-RNTO-3", false, "t=old", 1},  // the new file cannot take the name
        {"rename-refused", true, "t=new", 2},
        {"rename-refused,dele-refused", true, "<temp>=new t=new", 2},
        {"rename-refused,plain-stor-553", false, "t=old", 2},
        {"plain-stor-553", true, "t=new", 1},
        {"stor-426", false, "t=old", 1},
        {"stor-452", false, "t=old", 1},
        {"stor-552", false, "t=old", 1},
        {"rnto-existing-550,drop-STOR-1", false, "t=old", 1},
        {"rnto-existing-550,drop-RNTO-2", false, "<backup>=old <temp>=new", 1},
        {"rnto-existing-550,drop-RNTO-3", false, "<backup>=old t=new", 1},
        {"rnto-existing-550,drop-DELE-1", true, "t=new", 1},
        {"rnto-existing-550,drop-SITE-1", true, "t=new", 1},
    };
    const std::string fresh = layertest::randomBytes(64 * 1024, 20);
    writeFile(localPath("up"), fresh);
    for (const Row& row : rows) {
        const std::string modes = row.modes;
        SCOPED_TRACE(modes);
        m_server = std::make_unique<testsupport::HostileServer>("disk", 60, modes);
        ASSERT_TRUE(m_server->running());
        const std::string target = m_server->diskPath() + "/t";
        writeFile(target, "old");
        ASSERT_EQ(::chmod(target.c_str(), 0750), 0);
        m_api = std::make_unique<CurlInternet>(layertest::fastOptions());
        m_session = m_api->InternetOpenA("hostile", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        const HINTERNET c = connect();
        ASSERT_NE(c, 0u);
        EXPECT_EQ(m_api->FtpPutFileA(c, localPath("up").c_str(), "t", FTP_TRANSFER_TYPE_BINARY, 0) != 0, row.ok)
            << m_api->lastErrorDetail();
        const std::string detail = m_api->lastErrorDetail();
        const std::string log = m_server->commandLog();
        EXPECT_EQ(disk(fresh), row.disk) << log;
        for (const std::string& name : folderEntries(m_server->diskPath()))
            if (name != "t")
                EXPECT_NE(detail.find("/" + name), std::string::npos) << name << " not named in: " << detail;
        EXPECT_EQ(m_server->count("STOR"), row.stors) << log;
        if (modes.find("drop") == std::string::npos)
            EXPECT_EQ(m_server->count("USER"), 1) << "a refusal cost a login\n" << log;
        struct stat st {};
        if (row.ok && modes.find("chmod-refused") == std::string::npos && ::stat(target.c_str(), &st) == 0)
            EXPECT_EQ(st.st_mode & 0777, 0750u) << log;
        if (!row.ok && modes.find("drop") == std::string::npos)
            EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_EXTENDED_ERROR) << detail;
        // What the connection learnt holds: the next upload sends the file once.
        ASSERT_TRUE(m_api->FtpPutFileA(c, localPath("up").c_str(), "t", FTP_TRANSFER_TYPE_BINARY, 0) ||
                    !row.ok)
            << m_api->lastErrorDetail();
        if (row.ok) {
            EXPECT_EQ(m_server->count("STOR"), row.stors + 1) << m_server->commandLog();
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
