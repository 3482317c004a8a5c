// Transfers against a misbehaving server: a 227 reply naming another address,
// data connections cut half-way, and hostile remote names that must never
// reach a command or a path outside the chosen local folder.
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>

#include <algorithm>
#include <functional>
#include <string>

#include "HostileFixture.h"

using namespace net;
using namespace hostiletest;
using layertest::exists;
using layertest::folderEntries;
using layertest::readFile;
using layertest::writeFile;

namespace {

class HostilePassive : public HostileTest {};
class HostileCutTransfer : public HostileTest {
protected:
    // A download of big.bin over an existing local file: it must fail and change nothing.
    void expectFailureKeepsTheOldFile(const char* scenario)
    {
        start(scenario);
        const HINTERNET c = connect();
        ASSERT_NE(c, 0u);
        const std::string target = localPath("big.bin");
        writeFile(target, "the old contents");
        EXPECT_FALSE(m_api->FtpGetFileA(c, "big.bin", target.c_str(), FALSE_, FILE_FLAG_WRITE_THROUGH,
                                        FTP_TRANSFER_TYPE_BINARY, 0));
        // libcurl knows the size from SIZE and the 150 reply: a short file is a partial one.
        EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_CONNECTION_ABORTED);
        EXPECT_EQ(readFile(target), "the old contents");
        EXPECT_EQ(folderEntries(m_local.path().toStdString()), std::vector<std::string>{"big.bin"});
        EXPECT_EQ(m_server->count("RETR"), 1) << m_server->commandLog();
    }

    // A disk server (modes) holding big.bin, and a connection to it through a new layer.
    HINTERNET serve(const char* modes, const std::string& bigBin)
    {
        m_server = std::make_unique<testsupport::HostileServer>("disk", 60, modes);
        EXPECT_TRUE(m_server->running());
        writeFile(m_server->diskPath() + "/big.bin", bigBin);
        m_api = std::make_unique<CurlInternet>(layertest::fastOptions());
        m_session = m_api->InternetOpenA("hostile", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        return connect();
    }
};
class HostileNames : public HostileTest {};
class HostileAscii : public HostileTest {};
class HostileLocalFolder : public HostileTest {};
class HostileCleanUp : public HostileTest {};

// Runs `act` at the third report and cancels at the tenth.
struct ActingWatcher : CallWatcher {
    std::function<void()> act;
    int reports = 0;
    void callStarted(const CallProgress&) override {}
    bool callProgress(const CallProgress&) override
    {
        if (++reports == 3)
            act();
        return reports < 10;
    }
    void callFinished() override {}
};

}  // namespace

// ---- 227 replies that name another address -------------------------------

TEST_F(HostilePassive, DataGoesToTheControlPeerNotTheAddressIn227)
{
    start("pasv-elsewhere");
    const HINTERNET c = connect();
    ASSERT_NE(c, 0u);
    // The server refuses EPSV and its 227 names 10.255.255.1; it only listens on 127.0.0.1,
    // so a listing and a download can only work over the control connection's peer.
    const auto all = listAll(c);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_STREQ(all[0].cFileName, "hello.txt");
    EXPECT_EQ(all[0].nFileSizeLow, 25u);
    EXPECT_STREQ(all[1].cFileName, "sub");
    EXPECT_EQ(all[1].dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
    const std::string target = localPath("hello.txt");
    ASSERT_TRUE(m_api->FtpGetFileA(c, "hello.txt", target.c_str(), FALSE_, 0, FTP_TRANSFER_TYPE_BINARY, 0))
        << m_api->GetLastError();
    EXPECT_EQ(readFile(target), "hello from the data port\n");
    EXPECT_GE(m_server->count("EPSV"), 1) << m_server->commandLog();
    EXPECT_GE(m_server->count("PASV"), 2);
    EXPECT_EQ(m_server->count("PORT") + m_server->count("EPRT"), 0);
}

TEST_F(HostilePassive, MissingFileAfterForeign227GivesServerRefusal)
{
    start("pasv-elsewhere");
    const HINTERNET c = connect();
    ASSERT_NE(c, 0u);
    EXPECT_FALSE(m_api->FtpGetFileA(c, "absent.txt", localPath("absent.txt").c_str(), FALSE_, 0,
                                    FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    EXPECT_TRUE(folderEntries(m_local.path().toStdString()).empty());
}

// ---- data connections cut half-way ---------------------------------------

TEST_F(HostileCutTransfer, CutWith426FailsAndKeepsTheOldFile) { expectFailureKeepsTheOldFile("cut-426"); }

TEST_F(HostileCutTransfer, CutFollowedByALying226FailsAndKeepsTheOldFile)
{
    // The 150 reply and SIZE announced 1000000 bytes; 400000 came, then "226 complete".
    expectFailureKeepsTheOldFile("cut-226");
}

TEST_F(HostileCutTransfer, CutWithTheControlConnectionGoneFailsAndKeepsTheOldFile)
{
    expectFailureKeepsTheOldFile("cut-drop");
}

TEST_F(HostileCutTransfer, CutLeavesNoFileWhereNoneWas)
{
    start("cut-426");
    const HINTERNET c = connect();
    ASSERT_NE(c, 0u);
    EXPECT_FALSE(m_api->FtpGetFileA(c, "big.bin", localPath("big.bin").c_str(), TRUE_, 0,
                                    FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_NE(m_api->GetLastError(), ERROR_SUCCESS);
    EXPECT_TRUE(folderEntries(m_local.path().toStdString()).empty());
}

TEST_F(HostileCutTransfer, ConnectionStaysUsableAfterA426)
{
    start("cut-426");
    const HINTERNET c = connect();
    ASSERT_NE(c, 0u);
    EXPECT_FALSE(m_api->FtpGetFileA(c, "big.bin", localPath("a.bin").c_str(), FALSE_, 0,
                                    FTP_TRANSFER_TYPE_BINARY, 0));
    // The same handle still answers (a new control connection if libcurl dropped the old one).
    EXPECT_TRUE(m_api->FtpSetCurrentDirectoryA(c, "/")) << m_api->GetLastError();
    EXPECT_FALSE(m_api->FtpGetFileA(c, "big.bin", localPath("b.bin").c_str(), FALSE_, 0,
                                    FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_EQ(m_server->count("RETR"), 2) << m_server->commandLog();
    EXPECT_TRUE(folderEntries(m_local.path().toStdString()).empty());
}

// A download cut after 400000 bytes keeps its part; the next one continues it (REST) only
// while the server's file has the same size and time and the part is as it was left.
TEST_F(HostileCutTransfer, TheNextDownloadContinuesOnlyTheSameFileAndPart)
{
    const std::string first = layertest::randomBytes(1000000, 1);
    const std::string second = layertest::randomBytes(1200000, 2);
    // then: the server's file before the next download; shift: seconds added to its time;
    // gone: the old local file is removed before it; killed: a download killed while it
    // continued comes before it (the server holds its data); hard: killed outright, its files
    // left as they were at that moment.
    struct Row { const char* name; const char* modes; std::string then; int shift; bool alterPart; bool continues; bool gone = false; bool killed = false; bool hard = false; };
    const Row rows[] = {
        {"unchanged", "cut-400000", first, 0, false, true},
        {"unchanged, hashed whole", "cut-400000,hash-HASH", first, 0, false, true},
        {"old file gone", "cut-400000", first, 0, false, true, true},
        {"other size", "cut-400000", second, 0, false, false},
        {"other time", "cut-400000", second.substr(0, first.size()), 3600, false, false},
        {"shrank", "cut-400000", second.substr(0, 700000), 0, false, false},
        {"part altered", "cut-400000", first, 0, true, false},
        {"REST refused", "cut-400000,refuse-REST-1", first, 0, false, false},
        {"killed while continuing", "cut-400000,hold-RETR-2", first, 0, false, true, false, true},
        {"killed outright while continuing", "cut-400000,hold-RETR-2", first, 0, false, true, false, true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const HINTERNET c = serve(row.modes, first);
        ASSERT_NE(c, 0u);
        const std::string served = m_server->diskPath() + "/big.bin";
        const std::string folder = localPath(row.name);
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
        writeFile(folder + "/big.bin", "the old contents");
        EXPECT_FALSE(m_api->FtpGetFileA(c, "big.bin", (folder + "/big.bin").c_str(), FALSE_, 0,
                                        FTP_TRANSFER_TYPE_BINARY, 0));
        EXPECT_EQ(readFile(folder + "/big.bin"), "the old contents");
        EXPECT_NE(m_api->lastNotice().find("400,000 of 1,000,000"), std::string::npos)
            << m_api->lastNotice() << "\n" << m_server->commandLog();
        const std::string part = folder + "/.big.bin.quillon-part";
        ASSERT_TRUE(readFile(part) == first.substr(0, 400000)) << readFile(part).size();

        layertest::rewriteKeepingTime(served, row.then, row.shift);
        if (row.alterPart)
            writeFile(part, std::string(350000, 'x'));
        if (row.gone)
            ASSERT_EQ(::unlink((folder + "/big.bin").c_str()), 0);
        std::size_t at = 400000;
        if (row.killed) {
            layertest::KilledWhenStalled killing;
            std::string partThen, infoThen;
            if (row.hard)
                killing.killing = [&] { partThen = readFile(part), infoThen = readFile(part + ".info"); };
            m_api->setCallWatcher(&killing);
            EXPECT_FALSE(m_api->FtpGetFileA(c, "big.bin", (folder + "/big.bin").c_str(), FALSE_, 0,
                                            FTP_TRANSFER_TYPE_BINARY, 0));
            m_api->setCallWatcher(nullptr);
            if (row.hard)
                writeFile(part, partThen), writeFile(part + ".info", infoThen);
            at = readFile(part).size();
            ASSERT_GT(at, 400000u);
        }
        ASSERT_TRUE(m_api->FtpGetFileA(c, "big.bin", (folder + "/big.bin").c_str(), FALSE_, 0,
                                       FTP_TRANSFER_TYPE_BINARY, 0))
            << m_api->GetLastError() << " " << m_api->lastErrorDetail() << "\n" << m_server->commandLog();
        const std::string log = m_server->commandLog();
        EXPECT_TRUE(readFile(folder + "/big.bin") == row.then) << log;  // byte-exact
        EXPECT_EQ(folderEntries(folder), std::vector<std::string>{"big.bin"});
        // What the last RETR sent (a held one logs its count only when its connection closes).
        const std::size_t sent = row.continues ? row.then.size() - at : row.then.size();
        EXPECT_NE(log.find("SENT " + std::to_string(sent) + "\n", log.rfind("RETR")), std::string::npos) << log;
        EXPECT_EQ(log.find("REST " + std::to_string(at)) != std::string::npos,
                  row.continues || std::string(row.modes).find("REST") != std::string::npos) << log;
        EXPECT_EQ(log.find("HASH /big.bin") != std::string::npos, std::string(row.modes).find("hash") != std::string::npos);
        // The old file's mode, which a file written here gets; where it is gone, too (the part
        // begun over it was private).
        const std::string fresh = folder + "/fresh";
        writeFile(fresh, "");
        struct stat made {}, wanted {};
        ASSERT_EQ(::stat((folder + "/big.bin").c_str(), &made), 0);
        ASSERT_EQ(::stat(fresh.c_str(), &wanted), 0);
        EXPECT_EQ(made.st_mode & 0777, wanted.st_mode & 0777);
        ::unlink(fresh.c_str());
    }
    // A file the caller would rather fetch again whole: no MDTM for it, nothing kept of it.
    const HINTERNET c = serve("cut-400000", first);
    ASSERT_NE(c, 0u);
    const std::string folder = localPath("whole");
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
    EXPECT_FALSE(m_api->FtpGetFileA(c, "big.bin", (folder + "/big.bin").c_str(), FALSE_, 0,
                                    FTP_TRANSFER_TYPE_BINARY | FTP_FLAG_NO_PART, 0));
    EXPECT_TRUE(folderEntries(folder).empty());
    EXPECT_EQ(m_server->count("MDTM"), 0) << m_server->commandLog();
}

// The finished file is checked against the hash its server offers in FEAT (only there): a
// hash that differs discards it, part and all; a refusal or a reply that cannot be read
// leaves the download as its size check left it.
TEST_F(HostileCutTransfer, TheFinishedFileIsCheckedAgainstTheServersHash)
{
    const std::string content = layertest::randomBytes(300000, 3);
    struct Row { const char* modes; const char* sent; bool ok; };
    const Row rows[] = {
        {"", nullptr, true},
        {"hash-XSHA1,hash-XMD5,hash-HASH", "OPTS HASH SHA-256", true},
        {"hash-XMD5,hash-XSHA256", "XSHA256 /big.bin", true},
        {"hash-MD5", "MD5 /big.bin", true},
        {"hash-XSHA256,hash-wrong", "XSHA256 /big.bin", false},
        {"hash-HASH,hash-wrong", "HASH /big.bin", false},
        {"hash-XSHA256,hash-garbled", "XSHA256 /big.bin", true},
        {"hash-XSHA256,refuse-XSHA256-1", "XSHA256 /big.bin", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.modes);
        const HINTERNET c = serve(row.modes, content);
        ASSERT_NE(c, 0u);
        const std::string target = localPath("big.bin");
        writeFile(target, "the old contents");
        EXPECT_EQ(m_api->FtpGetFileA(c, "big.bin", target.c_str(), FALSE_, 0, FTP_TRANSFER_TYPE_BINARY, 0),
                  row.ok ? TRUE_ : FALSE_);
        const std::string log = m_server->commandLog();
        EXPECT_TRUE(readFile(target) == (row.ok ? content : "the old contents")) << log;
        EXPECT_EQ(folderEntries(m_local.path().toStdString()), std::vector<std::string>{"big.bin"});  // no part
        if (row.sent)
            EXPECT_NE(log.find(std::string(row.sent) + "\n"), std::string::npos) << log;
        for (const char* verb : {"HASH", "XSHA256", "XSHA1", "XMD5", "MD5 "})  // only the one chosen
            EXPECT_EQ(log.find(verb) != std::string::npos, row.sent && std::string(row.sent).find(verb) != std::string::npos) << verb;
        if (!row.ok) {
            EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_CONNECTION_ABORTED);
            EXPECT_NE(m_api->lastErrorDetail().find("big.bin"), std::string::npos) << m_api->lastErrorDetail();
            EXPECT_NE(m_api->lastErrorDetail().find("SHA-256"), std::string::npos);
        }
    }
}

// ---- hostile names: never a command, never outside the folder --------------

TEST_F(HostileNames, NamesWithLineBreaksAreRefusedBeforeAnythingIsSent)
{
    start("evil-names");
    const HINTERNET c = connect();
    ASSERT_NE(c, 0u);
    const std::size_t before = m_server->commands().size();
    for (const char* name : {"evil\r\nDELE x", "cr\rRMD y", "lf\nRMD y"}) {
        EXPECT_FALSE(m_api->FtpGetFileA(c, name, localPath("evil").c_str(), FALSE_, 0, FTP_TRANSFER_TYPE_BINARY, 0));
        EXPECT_EQ(m_api->GetLastError(), ERROR_INVALID_PARAMETER) << name;
        EXPECT_FALSE(m_api->FtpSetCurrentDirectoryA(c, name));
        EXPECT_EQ(m_api->GetLastError(), ERROR_INVALID_PARAMETER) << name;
    }
    EXPECT_EQ(m_server->commands().size(), before) << m_server->commandLog();
    EXPECT_EQ(m_server->count("DELE") + m_server->count("RMD"), 0);
    EXPECT_TRUE(folderEntries(m_local.path().toStdString()).empty());
}

TEST_F(HostileNames, EveryListedNameDownloadsInsideTheFolderOrFails)
{
    start("evil-names");
    const HINTERNET c = connect();
    ASSERT_NE(c, 0u);
    const std::string folder = localPath("dl");
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
    const auto all = listAll(c);
    ASSERT_FALSE(all.empty());
    // As the window does: the listed name joined to the chosen folder.
    for (const auto& record : all) {
        const std::string name = record.cFileName;
        m_api->FtpGetFileA(c, name.c_str(), (folder + "/" + name).c_str(), FALSE_, 0, FTP_TRANSFER_TYPE_BINARY, 0);
    }
    // Whatever was listed, nothing appeared beside the chosen folder.
    EXPECT_EQ(folderEntries(m_local.path().toStdString()), std::vector<std::string>{"dl"});
    EXPECT_EQ(m_server->count("DELE") + m_server->count("RMD"), 0) << m_server->commandLog();
    // The ordinary and the invalid-UTF-8 names arrive byte for byte.
    EXPECT_EQ(readFile(folder + "/ok.txt"), "payload:ok.txt\n");
    EXPECT_EQ(readFile(folder + "/bad\xff\xfename"), "payload:bad\xff\xfename\n");
    ::unlink((folder + "/bad\xff\xfename").c_str());  // QTemporaryDir cannot remove a name that is not UTF-8
}

TEST_F(HostileNames, DotDotAndSlashNamesNeverWriteOutsideTheFolder)
{
    start("evil-names");
    const HINTERNET c = connect();
    ASSERT_NE(c, 0u);
    const std::string folder = localPath("dl");
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
    // ".." names a folder locally: never replaced.
    EXPECT_FALSE(m_api->FtpGetFileA(c, "..", (folder + "/..").c_str(), FALSE_, 0, FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_EQ(m_api->GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(m_api->FtpGetFileA(c, ".", (folder + "/.").c_str(), FALSE_, 0, FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_EQ(m_api->GetLastError(), ERROR_ACCESS_DENIED);
    // "a/b" names a subfolder that does not exist here.
    EXPECT_FALSE(m_api->FtpGetFileA(c, "a/b", (folder + "/a/b").c_str(), FALSE_, 0, FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_EQ(m_api->GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(m_server->count("RETR"), 0) << m_server->commandLog();
    EXPECT_EQ(folderEntries(m_local.path().toStdString()), std::vector<std::string>{"dl"});
    EXPECT_TRUE(folderEntries(folder).empty());
}

TEST_F(HostileNames, ParentStepInTheLocalPathIsRefused)
{
    start("evil-names");
    const HINTERNET c = connect();
    ASSERT_NE(c, 0u);
    const std::string folder = localPath("dl");
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
    const std::size_t before = m_server->commands().size();
    EXPECT_FALSE(m_api->FtpGetFileA(c, "../x", (folder + "/../x").c_str(), FALSE_, 0, FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_EQ(m_api->GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(m_api->FtpGetFileA(c, "x", (folder + "/../../x").c_str(), FALSE_, 0, FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_EQ(m_api->GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(exists(localPath("x")));
    EXPECT_EQ(folderEntries(m_local.path().toStdString()), std::vector<std::string>{"dl"});
    EXPECT_EQ(m_server->commands().size(), before) << m_server->commandLog();
    // A name that merely starts with dots is an ordinary name.
    EXPECT_TRUE(m_api->FtpGetFileA(c, "..x", (folder + "/..x").c_str(), FALSE_, 0, FTP_TRANSFER_TYPE_BINARY, 0))
        << m_api->GetLastError();
    EXPECT_EQ(readFile(folder + "/..x"), "payload:..x\n");
}

// ---- ASCII transfers: the bytes on the wire ---------------------------------

TEST_F(HostileAscii, LineEndsAreExactAndAnUnderstatedSizeIsNoFailure)
{
    start("ascii-text");
    const HINTERNET c = connect();
    ASSERT_NE(c, 0u);
    // In TYPE A the server sends "one\r\ntwo\r\n" although SIZE and its 150 reply said 8 bytes.
    ASSERT_TRUE(m_api->FtpGetFileA(c, "text.txt", localPath("a.txt").c_str(), FALSE_, 0, FTP_TRANSFER_TYPE_ASCII, 0))
        << m_api->GetLastError() << "\n" << m_server->commandLog();
    EXPECT_EQ(readFile(localPath("a.txt")), "one\ntwo\n");
    // The binary transfers after it run in TYPE I again: the stored bytes, exactly.
    ASSERT_TRUE(m_api->FtpGetFileA(c, "text.txt", localPath("i.txt").c_str(), FALSE_, 0, FTP_TRANSFER_TYPE_BINARY, 0))
        << m_api->GetLastError() << "\n" << m_server->commandLog();
    EXPECT_EQ(readFile(localPath("i.txt")), "one\ntwo\n");

    writeFile(localPath("up.txt"), "a\nb\r\nc\rd\r\r\n");
    ASSERT_TRUE(m_api->FtpPutFileA(c, localPath("up.txt").c_str(), "up.txt", FTP_TRANSFER_TYPE_ASCII, 0))
        << m_api->GetLastError();
    ASSERT_TRUE(m_api->FtpPutFileA(c, localPath("up.txt").c_str(), "raw.txt", FTP_TRANSFER_TYPE_BINARY, 0))
        << m_api->GetLastError();
    const std::string log = m_server->commandLog();
    EXPECT_NE(log.find("STORED up.txt A a\\x0d\\x0ab\\x0d\\x0ac\\x0dd\\x0d\\x0d\\x0a\n"), std::string::npos) << log;
    EXPECT_NE(log.find("STORED raw.txt I a\\x0ab\\x0d\\x0ac\\x0dd\\x0d\\x0d\\x0a\n"), std::string::npos) << log;
}


// The local folder renamed, or its path turned into a link to another folder, during a
// download: the temporary file goes from the folder it was made in, nothing goes elsewhere.
TEST_F(HostileLocalFolder, MovedOrSwappedFolderKeepsTheOldFileAndNoTemporary)
{
    for (const bool link : {false, true}) {
        SCOPED_TRACE(link ? "path now a link elsewhere" : "folder renamed");
        const std::string folder = localPath(link ? "dl-l" : "dl-r");
        const std::string moved = folder + "-moved";
        const std::string other = folder + "-other";
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(other)) && QDir().mkpath(QString::fromStdString(folder)));
        writeFile(folder + "/hello.txt", "old");
        start("slow-file");
        const HINTERNET c = connect();
        ASSERT_NE(c, 0u);
        ActingWatcher watcher;
        watcher.act = [&] {
            ASSERT_EQ(::rename(folder.c_str(), moved.c_str()), 0);
            if (link)
                ASSERT_EQ(::symlink(other.c_str(), folder.c_str()), 0);
        };
        m_api->setCallWatcher(&watcher);
        EXPECT_FALSE(m_api->FtpGetFileA(c, "hello.txt", (folder + "/hello.txt").c_str(), FALSE_,
                                        FILE_FLAG_WRITE_THROUGH, FTP_TRANSFER_TYPE_BINARY, 0));
        m_api->setCallWatcher(nullptr);
        EXPECT_EQ(m_api->GetLastError(), ERROR_INTERNET_OPERATION_CANCELLED);
        EXPECT_EQ(folderEntries(moved), std::vector<std::string>{"hello.txt"});
        EXPECT_EQ(readFile(moved + "/hello.txt"), "old");
        EXPECT_TRUE(folderEntries(other).empty());
    }
}

// A broken-off upload's temporary file is removed on the server while the watcher keeps
// hearing from the call, though the DELE takes 3 s to be answered.
TEST_F(HostileCleanUp, RemovingTheTemporaryAfterAFailureKeepsTheWatcherTold)
{
    start("slow-dele");
    const HINTERNET c = connect();
    ASSERT_NE(c, 0u);
    writeFile(localPath("up.bin"), "some bytes");
    CountingWatcher watcher;
    m_api->setCallWatcher(&watcher);
    EXPECT_FALSE(m_api->FtpPutFileA(c, localPath("up.bin").c_str(), "up.bin", FTP_TRANSFER_TYPE_BINARY, 0));
    m_api->setCallWatcher(nullptr);
    EXPECT_EQ(m_server->count("DELE"), 1) << m_server->commandLog();
    EXPECT_GT(watcher.reports, 70);  // told every 20 ms or so through the 3 s
}
