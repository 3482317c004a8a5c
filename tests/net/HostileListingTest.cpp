// Listings from a misbehaving server: hostile names, random bytes, truncated
// and odd lines, and a very long listing. The parser is also fed hostile
// text directly.
#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <string>

#include "HostileFixture.h"
#include "net/ListingParser.h"

using namespace net;
using namespace hostiletest;

namespace {

class HostileListing : public HostileTest {
protected:
    std::set<std::string> names(const std::vector<WIN32_FIND_DATAA>& all)
    {
        std::set<std::string> n;
        for (const auto& r : all)
            n.insert(std::string(r.cFileName, ::strnlen(r.cFileName, sizeof r.cFileName)));
        return n;
    }
    const WIN32_FIND_DATAA* find(const std::vector<WIN32_FIND_DATAA>& all, const std::string& name)
    {
        for (const auto& r : all)
            if (name == r.cFileName)
                return &r;
        return nullptr;
    }
};

std::string line(const std::string& name) { return "-rw-r--r-- 1 u g 5 Jan 01  2020 " + name; }

}  // namespace

// ---- names a listing must not hand out -------------------------------------

TEST(HostileNameRules, UsableNames)
{
    EXPECT_TRUE(isUsableName("ok.txt"));
    EXPECT_TRUE(isUsableName("..x"));
    EXPECT_TRUE(isUsableName("x.."));
    EXPECT_TRUE(isUsableName("..."));
    EXPECT_TRUE(isUsableName("."));   // the folder itself and its parent are real entries
    EXPECT_TRUE(isUsableName(".."));
    EXPECT_TRUE(isUsableName(" leading and trailing "));
    EXPECT_TRUE(isUsableName("bad\xff\xfename"));      // bytes are kept as the server sent them
    EXPECT_TRUE(isUsableName("back\\slash"));
    EXPECT_TRUE(isUsableName(std::string(MAX_PATH - 1, 'L')));
}

TEST(HostileNameRules, UnusableNames)
{
    EXPECT_FALSE(isUsableName(""));
    EXPECT_FALSE(isUsableName("a/b"));
    EXPECT_FALSE(isUsableName("../x"));
    EXPECT_FALSE(isUsableName("/abs"));
    EXPECT_FALSE(isUsableName("dir/"));
    EXPECT_FALSE(isUsableName("cr\rRMD y"));
    EXPECT_FALSE(isUsableName("lf\nDELE x"));
    EXPECT_FALSE(isUsableName(std::string("nul\0name", 8)));
    EXPECT_FALSE(isUsableName(std::string(MAX_PATH, 'L')));
    EXPECT_FALSE(isUsableName(std::string(300, 'L')));
}

TEST(HostileParser, LineBreakInsideANameLeavesNoEntryOfEitherPiece)
{
    const auto v = parseListing(line("evil\r\nDELE x") + "\r\n" + line("ok") + "\r\n", false);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].name, "ok");
    const auto m = parseListing("type=file;size=1; evil\r\nDELE x\r\ntype=file;size=2; ok\r\n", true);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].name, "ok");
}

TEST(HostileParser, RandomBytesNeverCrashAndNeverYieldALineBreak)
{
    for (unsigned seed = 1; seed <= 200; ++seed) {
        const std::string body = layertest::randomBytes(2000 + seed * 7, seed);
        for (const bool mlsd : {false, true}) {
            const auto v = parseListing(body, mlsd);
            EXPECT_LE(v.size(), static_cast<std::size_t>(std::count(body.begin(), body.end(), '\n')) + 1);
            for (const auto& e : v) {
                EXPECT_FALSE(e.name.empty());
                EXPECT_EQ(e.name.find('\n'), std::string::npos) << "seed " << seed;
            }
        }
    }
}

TEST(HostileParser, MangledListLinesAroundARealOne)
{
    // Random lines in the familiar shape: cut anywhere, fields swapped, digits replaced.
    const std::string good = "drwxr-xr-x 2 owner group 4096 Mar 14 09:15 folder";
    std::mt19937 gen(7);
    for (int i = 0; i < 2000; ++i) {
        std::string l = good;
        l.resize(gen() % (good.size() + 1));
        if (!l.empty() && gen() % 2)
            l[gen() % l.size()] = static_cast<char>(gen() & 0xFF);
        const auto e = parseListLineAt(l, 1700000000);
        if (e) {
            EXPECT_FALSE(e->name.empty());
            EXPECT_LE(e->name.size(), l.size());
        }
    }
    EXPECT_TRUE(parseListLineAt(good, 1700000000).has_value());
}

// ---- against the server ----------------------------------------------------

TEST_F(HostileListing, HostileNamesAreLeftOut)
{
    start("evil-names");
    const HINTERNET c = connect();
    ASSERT_NE(c, 0u);
    const auto all = listAll(c);
    // "evil\r\nDELE x" splits into a line ending in "evil" and a line that is no entry:
    // neither piece is an entry. libcurl's ASCII listing turns the lone CR of "cr\rRMD y"
    // into a line end too; were it kept, the name would be left out all the same.
    EXPECT_EQ(names(all), (std::set<std::string>{".", "..", "ok.txt", "bad\xff\xfename"}));
    EXPECT_EQ(m_server->count("DELE") + m_server->count("RMD"), 0) << m_server->commandLog();
}

TEST_F(HostileListing, MlsdFolderLinesAndCutNamesAreNoEntries)
{
    start("mlsd-names");
    const HINTERNET c = connect();
    ASSERT_NE(c, 0u);
    // "crlf\r\nDELE ok.txt" and "lf\nRMD sub" split their lines; neither piece is an entry.
    EXPECT_EQ(names(listAll(c)), (std::set<std::string>{"ok.txt", "sub"}));
    ASSERT_TRUE(m_api->FtpSetCurrentDirectoryA(c, "/empty"));
    WIN32_FIND_DATAA record{};
    EXPECT_EQ(m_api->FtpFindFirstFileA(c, "*.*", &record, 0, 0), 0u);
    EXPECT_EQ(m_api->GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_EQ(m_server->count("MLSD"), 2) << m_server->commandLog();
    EXPECT_EQ(m_server->count("LIST") + m_server->count("DELE") + m_server->count("RMD"), 0);
}

TEST_F(HostileListing, HostileNamesNeverReachACommand)
{
    start("evil-names");
    const HINTERNET c = connect();
    ASSERT_NE(c, 0u);
    const auto all = listAll(c);
    ASSERT_FALSE(all.empty());
    const auto n = names(all);
    EXPECT_TRUE(n.count("ok.txt"));
    EXPECT_TRUE(n.count("bad\xff\xfename"));
    for (const std::string& name : n) {
        EXPECT_EQ(name.find('\n'), std::string::npos);
        EXPECT_NE(name.rfind("DELE", 0), 0u) << name;
    }
    // Try each listed name as a folder: every command the server saw is one the layer meant.
    for (const std::string& name : n)
        m_api->FtpSetCurrentDirectoryA(c, name.c_str());
    EXPECT_EQ(m_server->count("DELE") + m_server->count("RMD"), 0) << m_server->commandLog();
    for (const std::string& cmd : m_server->commands()) {
        const std::string verb = cmd.substr(0, cmd.find(' '));
        EXPECT_TRUE(verb == "USER" || verb == "PASS" || verb == "PWD" || verb == "FEAT" || verb == "CWD" ||
                    verb == "EPSV" || verb == "PASV" || verb == "TYPE" || verb == "LIST" || verb == "QUIT")
            << cmd;
    }
}

TEST_F(HostileListing, JunkIsSkippedAndGoodLinesKept)
{
    start("junk-listing");
    const HINTERNET c = connect();
    ASSERT_NE(c, 0u);
    const auto all = listAll(c);
    const auto n = names(all);
    for (const char* expected : {"dosdir", "dos file.txt", "null", "sda", "link", "pipe", "sock", "last.txt"})
        EXPECT_TRUE(n.count(expected)) << expected;
    EXPECT_FALSE(n.count("baddate.txt"));  // month 13
    const auto* dosdir = find(all, "dosdir");
    ASSERT_NE(dosdir, nullptr);
    EXPECT_EQ(dosdir->dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
    const auto* dosFile = find(all, "dos file.txt");
    ASSERT_NE(dosFile, nullptr);
    EXPECT_EQ(dosFile->nFileSizeLow, 1234u);
    const auto* link = find(all, "link");
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->dwFileAttributes, FILE_ATTRIBUTE_REPARSE_POINT);
    const auto* device = find(all, "null");
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->nFileSizeLow, 0u);  // "1,   3" is a device number, not a size
    const auto* last = find(all, "last.txt");
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->nFileSizeLow, 42u);
    for (const auto& r : all) {
        const std::string name = r.cFileName;
        EXPECT_FALSE(name.empty());
        EXPECT_EQ(name.find_first_of("\r\n"), std::string::npos);
    }
}

TEST_F(HostileListing, HundredThousandEntriesArriveComplete)
{
    start("big-listing");
    const HINTERNET c = connect();
    ASSERT_NE(c, 0u);
    CountingWatcher watcher;
    m_api->setCallWatcher(&watcher);
    const auto all = listAll(c);
    m_api->setCallWatcher(nullptr);
    ASSERT_EQ(all.size(), 100000u);
    char expected[32];
    for (std::size_t i = 0; i < all.size(); ++i) {
        std::snprintf(expected, sizeof expected, "file%06zu.dat", i);
        ASSERT_STREQ(all[i].cFileName, expected) << i;
        ASSERT_EQ(all[i].nFileSizeLow, i) << i;
    }
    EXPECT_EQ(watcher.started, 1);
    EXPECT_EQ(watcher.finished, 1);
    EXPECT_EQ(m_server->count("LIST"), 1);
}
