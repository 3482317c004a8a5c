// A spike, not product code: what this machine's libcurl does for SFTP, against OpenSSH's
// sshd and the scripted SFTP server of the tests. Prints one finding a line.
//
//   sftp_spike probe          host keys, logins, listing, transfers, quote commands, errors,
//                             resuming, cancelling
//   sftp_spike speed [MiB] [rounds]  download and upload of MiB (256), rounds (5) times, against
//                             sshd: curl's command line, OpenSSH's sftp -b (its own cipher and
//                             libssh2's), libcurl with several buffer sizes; medians at the end
#include <curl/curl.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <sys/stat.h>

#include <cstdio>
#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "net/KnownHosts.h"
#include "net/ListingParser.h"
#include "FtpServer.h"
#include "SshServer.h"

using namespace testsupport;

namespace {

QString g_home;

void say(const std::string& what) { std::printf("%s\n", what.c_str()); std::fflush(stdout); }

struct Call {
    std::string url;
    std::string user = "user", password;
    std::string privateKey, publicKey, keyPassword;
    long authTypes = CURLSSH_AUTH_ANY;
    std::function<int(int type, const std::string& blob)> hostKey;  // CURLKHMATCH_OK accepts
    std::string knownHosts;                                         // CURLOPT_SSH_KNOWNHOSTS
    std::vector<std::string> quote, postQuote;
    bool nobody = false, listOnly = false, append = false;
    std::string uploadFrom;      // a local file: upload it
    curl_off_t resumeFrom = 0;
    long bufferSize = 0, uploadBufferSize = 0;  // 0: libcurl's own
    long newFilePerms = -1;
    int cancelAfterMs = -1;      // the progress callback asks to stop this long after the start
    std::string downloadTo;      // a local file (else the body is kept in memory)
};

struct Outcome {
    CURLcode code = CURLE_OK;
    std::string error, body;
    double seconds = 0, cancelLatencyMs = -1;
    long port = 0;
};

int hostKeyTrampoline(void* clientp, int type, const char* key, size_t len)
{
    return (*static_cast<std::function<int(int, const std::string&)>*>(clientp))(type, std::string(key, len));
}

size_t keep(char* data, size_t size, size_t n, void* out)
{
    static_cast<std::string*>(out)->append(data, size * n);
    return size * n;
}

// Runs one transfer through the multi interface, as the layer drives libcurl.
Outcome perform(const Call& c)
{
    Outcome out;
    CURL* h = curl_easy_init();
    char error[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(h, CURLOPT_URL, c.url.c_str());
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(h, CURLOPT_USERNAME, c.user.c_str());
    curl_easy_setopt(h, CURLOPT_PASSWORD, c.password.c_str());
    curl_easy_setopt(h, CURLOPT_SSH_AUTH_TYPES, c.authTypes);
    if (!c.privateKey.empty())
        curl_easy_setopt(h, CURLOPT_SSH_PRIVATE_KEYFILE, c.privateKey.c_str());
    if (!c.keyPassword.empty())
        curl_easy_setopt(h, CURLOPT_KEYPASSWD, c.keyPassword.c_str());
    if (!c.publicKey.empty())
        curl_easy_setopt(h, CURLOPT_SSH_PUBLIC_KEYFILE, c.publicKey.c_str());
    if (!c.knownHosts.empty())
        curl_easy_setopt(h, CURLOPT_SSH_KNOWNHOSTS, c.knownHosts.c_str());
    std::function<int(int, const std::string&)> hostKey =
        c.hostKey ? c.hostKey : [](int, const std::string&) { return int(CURLKHMATCH_OK); };
    curl_easy_setopt(h, CURLOPT_SSH_HOSTKEYFUNCTION, hostKeyTrampoline);
    curl_easy_setopt(h, CURLOPT_SSH_HOSTKEYDATA, &hostKey);
    curl_slist *quote = nullptr, *post = nullptr;
    for (const auto& q : c.quote)
        quote = curl_slist_append(quote, q.c_str());
    for (const auto& q : c.postQuote)
        post = curl_slist_append(post, q.c_str());
    curl_easy_setopt(h, CURLOPT_QUOTE, quote);
    curl_easy_setopt(h, CURLOPT_POSTQUOTE, post);
    curl_easy_setopt(h, CURLOPT_NOBODY, long(c.nobody));
    curl_easy_setopt(h, CURLOPT_DIRLISTONLY, long(c.listOnly));
    curl_easy_setopt(h, CURLOPT_APPEND, long(c.append));
    curl_easy_setopt(h, CURLOPT_RESUME_FROM_LARGE, c.resumeFrom);
    if (c.bufferSize)
        curl_easy_setopt(h, CURLOPT_BUFFERSIZE, c.bufferSize);
    if (c.uploadBufferSize)
        curl_easy_setopt(h, CURLOPT_UPLOAD_BUFFERSIZE, c.uploadBufferSize);
    if (c.newFilePerms >= 0)
        curl_easy_setopt(h, CURLOPT_NEW_FILE_PERMS, c.newFilePerms);
    FILE* in = nullptr;
    FILE* to = nullptr;
    if (!c.uploadFrom.empty()) {
        in = std::fopen(c.uploadFrom.c_str(), "rb");
        curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(h, CURLOPT_READDATA, in);
    }
    if (!c.downloadTo.empty()) {
        to = std::fopen(c.downloadTo.c_str(), c.resumeFrom ? "ab" : "wb");
        curl_easy_setopt(h, CURLOPT_WRITEDATA, to);
    } else {
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, keep);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &out.body);
    }
    QElapsedTimer clock;
    clock.start();
    bool cancelled = false;
    qint64 cancelAt = -1;
    struct Progress {
        QElapsedTimer* clock;
        int after;
        bool* cancelled;
        qint64* at;
    } progress{&clock, c.cancelAfterMs, &cancelled, &cancelAt};
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &progress);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION,
                     +[](void* p, curl_off_t, curl_off_t, curl_off_t, curl_off_t) -> int {
                         auto* pr = static_cast<Progress*>(p);
                         if (pr->after < 0 || pr->clock->elapsed() < pr->after)
                             return 0;
                         if (*pr->at < 0)
                             *pr->at = pr->clock->nsecsElapsed();
                         return 1;
                     });
    CURLM* m = curl_multi_init();
    curl_multi_add_handle(m, h);
    int running = 1;
    while (running) {
        curl_multi_perform(m, &running);
        if (running)
            curl_multi_poll(m, nullptr, 0, 20, nullptr);  // the layer wakes at least every 20 ms
    }
    const qint64 end = clock.nsecsElapsed();
    int left = 0;
    if (CURLMsg* msg = curl_multi_info_read(m, &left))
        out.code = msg->data.result;
    out.seconds = end / 1e9;
    if (cancelAt >= 0)
        out.cancelLatencyMs = (end - cancelAt) / 1e6;
    curl_easy_getinfo(h, CURLINFO_PRIMARY_PORT, &out.port);
    out.error = error;
    curl_multi_remove_handle(m, h);
    curl_multi_cleanup(m);
    curl_easy_cleanup(h);
    curl_slist_free_all(quote);
    curl_slist_free_all(post);
    if (in)
        std::fclose(in);
    if (to)
        std::fclose(to);
    return out;
}

std::string describe(const Outcome& o)
{
    return std::to_string(int(o.code)) + " " + curl_easy_strerror(o.code) + (o.error.empty() ? "" : " [" + o.error + "]");
}

std::string blobOf(const std::string& keyLine)
{
    return QByteArray::fromBase64(QByteArray::fromStdString(keyLine.substr(keyLine.find(' ') + 1))).toStdString();
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

QByteArray bytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int modeOf(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

const char* typeName(int t)
{
    switch (t) {
    case CURLKHTYPE_RSA: return "RSA";
    case CURLKHTYPE_ECDSA: return "ECDSA";
    case CURLKHTYPE_ED25519: return "ED25519";
    case CURLKHTYPE_DSS: return "DSS";
    default: return "UNKNOWN";
    }
}

// An easy handle that logs in with the test HOME's ed25519 key and takes any host key.
CURL* keyLoginHandle(const std::string& url, const std::string& user)
{
    CURL* h = curl_easy_init();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(h, CURLOPT_SSH_AUTH_TYPES, long(CURLSSH_AUTH_PUBLICKEY));
    curl_easy_setopt(h, CURLOPT_SSH_PRIVATE_KEYFILE, (g_home + "/.ssh/id_ed25519").toUtf8().constData());
    curl_easy_setopt(h, CURLOPT_SSH_HOSTKEYFUNCTION, +[](void*, int, const char*, size_t) { return int(CURLKHMATCH_OK); });
    return h;
}

// ---------------------------------------------------------------------------------------
void probeHostKeysAndPasswords()
{
    ScriptedSftpServer server;
    if (!server.running())
        return say("hostkey: the scripted server did not start");
    writeFile(QString::fromStdString(server.diskPath()) + "/f.txt", "hello\n");
    const std::string url = "sftp://127.0.0.1:" + std::to_string(server.port()) + "/";
    const std::string blob = blobOf(server.hostKey());

    Call c{url + "f.txt"};
    c.password = "secret";
    std::string seenBlob;
    int seenType = -1;
    c.hostKey = [&](int type, const std::string& key) {
        seenType = type;
        seenBlob = key;
        return int(CURLKHMATCH_MISMATCH);
    };
    Outcome o = perform(c);
    say("hostkey refused by callback: " + describe(o) + "; callback saw type " + typeName(seenType) +
        ", blob equals the server's key: " + (seenBlob == blob ? "yes" : "no") + ", fingerprint " +
        net::sshKeyFingerprint(seenBlob) + " (server's " + net::sshKeyFingerprint(blob) + ")");
    say("hostkey refused: server log has auth lines: " + std::to_string(server.count("auth")) + ", connects: " +
        std::to_string(server.count("connect")));
    for (int answer : {int(CURLKHMATCH_MISSING), int(CURLKHMATCH_LAST), 99}) {
        c.hostKey = [answer](int, const std::string&) { return answer; };
        say("hostkey callback returns " + std::to_string(answer) + ": " + describe(perform(c)));
    }
    c.hostKey = {};
    o = perform(c);
    say("password login accepted key: " + describe(o) + " body='" + o.body + "'");
    c.password = "wrong";
    say("password refused: " + describe(perform(c)) + "; auth attempts logged so far: " + std::to_string(server.count("auth")));
    c.password = "";
    c.authTypes = CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD;
    say("empty password, password types: " + describe(perform(c)));
    c.authTypes = CURLSSH_AUTH_PUBLICKEY | CURLSSH_AUTH_AGENT;
    say("empty password, key+agent types against a password-only server: " + describe(perform(c)));
    say("server log:\n  " + QString::fromStdString(server.commandLog()).trimmed().replace("\n", "\n  ").toStdString());
}

void probeKeyTypesAndForcing(const QString& work)
{
    QTemporaryDir disk;
    SshServer multi(disk.path().toStdString(), {.hostKeyTypes = {"ed25519", "ecdsa", "rsa"}});
    if (!multi.running())
        return say("forcing: sshd did not start");
    const std::string url = "sftp://127.0.0.1:" + std::to_string(multi.port()) + "/~/";
    Call c{url};
    c.user = multi.user();
    c.authTypes = CURLSSH_AUTH_NONE;  // only the key exchange matters here
    int seen = -1;
    c.hostKey = [&](int type, const std::string&) {
        seen = type;
        return int(CURLKHMATCH_MISMATCH);
    };
    perform(c);
    say(std::string("forcing: a server with ed25519, ecdsa and rsa host keys, no known_hosts: libssh2 takes ") +
        typeName(seen));
    for (const std::string type : {"ed25519", "rsa", "ecdsa"}) {
        const QString file = work + "/forced_" + QString::fromStdString(type);
        writeFile(file, QByteArray::fromStdString("[127.0.0.1]:" + std::to_string(multi.port()) + " " +
                                                  multi.hostKey(type) + "\n"));
        c.knownHosts = file.toStdString();
        seen = -1;
        const Outcome o = perform(c);
        say("forcing: known_hosts names the " + type + " key, with the callback set: the callback sees " +
            typeName(seen) + " (" + describe(o) + ")");
    }
    // The user's own file, hashed: libcurl takes a hashed entry (no plain name) as the host's,
    // whichever host it names.
    {
        const QString file = work + "/forced_hashed";
        writeFile(file, QByteArray::fromStdString(net::knownHostsLine("other.example", blobOf(multi.hostKey("ecdsa")), std::string(20, 's')) +
                                                  "[127.0.0.1]:" + std::to_string(multi.port()) + " " + multi.hostKey("ed25519") + "\n"));
        c.knownHosts = file.toStdString();
        seen = -1;
        perform(c);
        say(std::string("forcing: known_hosts holds a hashed ECDSA entry for another host, then this host's ED25519: "
                        "the callback sees ") + typeName(seen));
    }
    // What the callback gets for each single-type server.
    for (const std::string type : {"ecdsa", "rsa"}) {
        SshServer one(disk.path().toStdString(), {.hostKeyTypes = {type}});
        Call d{"sftp://127.0.0.1:" + std::to_string(one.port()) + "/~/"};
        d.user = one.user();
        d.authTypes = CURLSSH_AUTH_NONE;
        std::string blob;
        d.hostKey = [&](int t, const std::string& b) {
            seen = t;
            blob = b;
            return int(CURLKHMATCH_MISMATCH);
        };
        seen = -1;
        const Outcome o = perform(d);
        say("hostkey " + type + " server: " + describe(o) + "; callback type " + typeName(seen) + ", blob is the server's: " +
            (blob == blobOf(one.hostKey(type)) ? "yes" : "no"));
    }
}

void probeKeyLogins(const QString& work)
{
    const QString ssh = g_home + "/.ssh";
    std::vector<std::string> pubs;
    for (const std::string type : {"ed25519", "ecdsa", "rsa"}) {
        makeSshKey((ssh + "/id_" + QString::fromStdString(type)).toStdString(), type);
        pubs.push_back((ssh + "/id_" + QString::fromStdString(type) + ".pub").toStdString());
    }
    makeSshKey((work + "/locked_ed25519").toStdString(), "ed25519", "phrase");
    pubs.push_back((work + "/locked_ed25519.pub").toStdString());
    QTemporaryDir disk;
    SshServer server(disk.path().toStdString(), {.authorizedKeys = pubs});
    const std::string url = "sftp://127.0.0.1:" + std::to_string(server.port()) + "/~/";
    for (const std::string type : {"ed25519", "ecdsa", "rsa"}) {
        const std::string key = (ssh + "/id_" + QString::fromStdString(type)).toStdString();
        Call c{url};
        c.user = server.user();
        c.authTypes = CURLSSH_AUTH_PUBLICKEY;
        c.privateKey = key;
        say("key login " + type + ", private key file only: " + describe(perform(c)));
        c.publicKey = key + ".pub";
        say("key login " + type + ", private and public key files: " + describe(perform(c)));
    }
    Call c{url};
    c.user = server.user();
    c.authTypes = CURLSSH_AUTH_PUBLICKEY;
    say("key login, no key file named (libcurl's default ~/.ssh/id_rsa, id_dsa): " + describe(perform(c)));
    c.privateKey = (work + "/locked_ed25519").toStdString();
    say("key login, key with a passphrase, none given: " + describe(perform(c)));
    c.authTypes = CURLSSH_AUTH_ANY;
    c.password = "phrase";
    say("key login, key with a passphrase, CURLOPT_PASSWORD as its passphrase? " + describe(perform(c)));
    c.password.clear();
    c.keyPassword = "phrase";
    say("key login, key with a passphrase in CURLOPT_KEYPASSWD: " + describe(perform(c)));

    // The agent, on a socket of its own.
    QProcess agent;
    const QString sock = work + "/agent.sock";
    agent.start("ssh-agent", {"-D", "-a", sock});
    for (int i = 0; i < 100 && !QFile::exists(sock); ++i)
        QThread::msleep(20);
    qputenv("SSH_AUTH_SOCK", QFile::encodeName(sock));
    Call a{url};
    a.user = server.user();
    a.authTypes = CURLSSH_AUTH_AGENT;
    say("agent login, agent empty: " + describe(perform(a)));
    for (const std::string type : {"ecdsa", "rsa", "ed25519"}) {
        QProcess add;
        add.start("ssh-add", {"-D"});
        add.waitForFinished();
        add.start("ssh-add", {ssh + "/id_" + QString::fromStdString(type)});
        add.waitForFinished();
        say("agent login, agent holds only " + type + ": " + describe(perform(a)));
    }
    Call any{url};
    any.user = server.user();
    say("auth types ANY, empty password, agent holding ed25519, no key file: " + describe(perform(any)));
    const std::string log = server.serverLog();
    say("sshd saw: publickey accepted " + std::to_string(QString::fromStdString(log).count("Accepted publickey")) +
        " times, Failed password " + std::to_string(QString::fromStdString(log).count("Failed password")));
    agent.terminate();
    agent.waitForFinished(2000);
    qunsetenv("SSH_AUTH_SOCK");
}

void probeFilesAndQuotes(const QString& work)
{
    const QString pub = g_home + "/.ssh/id_ed25519.pub";
    QTemporaryDir disk;
    const QString root = disk.path();
    SshServer server(root.toStdString(), {.authorizedKeys = {pub.toStdString()}});
    const std::string base = "sftp://127.0.0.1:" + std::to_string(server.port());
    auto call = [&](const std::string& path) {
        Call c{base + path};
        c.user = server.user();
        c.authTypes = CURLSSH_AUTH_PUBLICKEY;
        c.privateKey = (g_home + "/.ssh/id_ed25519").toStdString();
        return c;
    };
    QDir(root).mkdir("sub");
    writeFile(root + "/a.txt", "alpha\n");
    writeFile(root + "/exec.sh", "#!/bin/sh\n");
    ::chmod(QFile::encodeName(root + "/exec.sh").constData(), 0755);
    writeFile(root + "/name with spaces", "x");
    QFile::link(root + "/a.txt", root + "/link");
    struct utimbuf;
    QProcess::execute("touch", {"-d", "2021-03-04 05:06:07", root + "/a.txt"});

    Outcome o = perform(call("/~/"));
    say("listing of the login folder /~/ (" + describe(o) + "):\n" + o.body);
    for (const net::ListEntry& e : net::parseListing(o.body, false))
        say("  parsed: '" + e.name + "' size " + std::to_string(e.size) + " dir " +
            std::to_string((e.attributes & 0x10) != 0) + " mode " + std::to_string(e.mode & 07777) + " dayOnly " +
            std::to_string(e.dayOnly) + " time " + std::to_string(e.lastWrite.dwHighDateTime) + ":" +
            std::to_string(e.lastWrite.dwLowDateTime));
    Call l = call("/~/");
    l.listOnly = true;
    say("names only (DIRLISTONLY): " + QString::fromStdString(perform(l).body).replace("\n", " | ").toStdString());
    say("listing the absolute path: " + describe(perform(call(root.toStdString() + "/"))));
    say("listing a folder without its final slash: " + describe(perform(call("/~/sub"))));
    {
        CURL* h = keyLoginHandle(base + "/~/a.txt", server.user());  // NOBODY + FILETIME: one file's size and time
        curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(h, CURLOPT_FILETIME, 1L);
        const CURLcode rc = curl_easy_perform(h);
        curl_off_t time = -1, size = -1;
        curl_easy_getinfo(h, CURLINFO_FILETIME_T, &time);
        curl_easy_getinfo(h, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &size);
        say("NOBODY+FILETIME on a file: " + std::to_string(rc) + ", time " + std::to_string(time) + " (2021-03-04 05:06:07 local), size " + std::to_string(size));
        curl_easy_cleanup(h);
    }

    // Two transfers on one handle: one SSH session, one host-key callback?
    {
        CURL* h = keyLoginHandle(base, server.user());
        int asked = 0;
        curl_easy_setopt(h, CURLOPT_SSH_HOSTKEYFUNCTION, +[](void* n, int, const char*, size_t) {
            ++*static_cast<int*>(n);
            return int(CURLKHMATCH_OK);
        });
        curl_easy_setopt(h, CURLOPT_SSH_HOSTKEYDATA, &asked);
        std::string sink;
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, keep);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
        const int before = server.count("session");
        QElapsedTimer t;
        std::string times;
        for (const char* path : {"/~/", "/~/a.txt", "/~/sub/"}) {
            t.start();
            curl_easy_setopt(h, CURLOPT_URL, (base + path).c_str());
            const CURLcode rc = curl_easy_perform(h);
            times += std::string(" ") + path + " " + std::to_string(rc) + " in " + std::to_string(t.elapsed()) + " ms;";
        }
        curl_easy_cleanup(h);
        QThread::msleep(200);
        say("one handle, three requests:" + times + " sessions " + std::to_string((server.count("session") - before) / 2) +
            ", host-key callbacks " + std::to_string(asked));
    }

    // Transfers.
    QByteArray payload(3 * 1024 * 1024 + 17, '\0');
    for (int i = 0; i < payload.size(); ++i)
        payload[i] = char((i * 7919) >> 3);
    writeFile(work + "/payload", payload);
    Call up = call("/~/up.bin");
    up.uploadFrom = (work + "/payload").toStdString();
    o = perform(up);
    say("upload: " + describe(o) + ", stored byte-exact: " + (bytes(root + "/up.bin") == payload ? "yes" : "no") +
        ", mode " + QString::number(modeOf(root + "/up.bin"), 8).toStdString());
    Call down = call("/~/up.bin");
    down.downloadTo = (work + "/down.bin").toStdString();
    o = perform(down);
    say("download: " + describe(o) + ", byte-exact: " + (bytes(work + "/down.bin") == payload ? "yes" : "no"));
    Call over = call("/~/exec.sh");
    over.uploadFrom = (work + "/payload").toStdString();
    perform(over);
    say("upload over an existing 0755 file: mode after " + QString::number(modeOf(root + "/exec.sh"), 8).toStdString());
    Call perms = call("/~/new755.bin");
    perms.uploadFrom = (work + "/payload").toStdString();
    perms.newFilePerms = 0755;
    perform(perms);
    say("NEW_FILE_PERMS 0755 on a new file: mode " + QString::number(modeOf(root + "/new755.bin"), 8).toStdString());

    // Resuming: half a download, then the rest; an upload continued.
    writeFile(work + "/half.bin", payload.left(1000000));
    Call resume = call("/~/up.bin");
    resume.downloadTo = (work + "/half.bin").toStdString();
    resume.resumeFrom = 1000000;
    o = perform(resume);
    say("download resumed at 1000000: " + describe(o) + ", whole: " + (bytes(work + "/half.bin") == payload ? "yes" : "no"));
    writeFile(root + "/part.bin", payload.left(1000000));
    writeFile(work + "/rest", payload.mid(1000000));
    Call upResume = call("/~/part.bin");
    upResume.uploadFrom = (work + "/payload").toStdString();
    upResume.resumeFrom = -1;  // ask the server's size
    o = perform(upResume);
    say("upload resumed (RESUME_FROM -1: the server's size): " + describe(o) + ", whole: " +
        (bytes(root + "/part.bin") == payload ? "yes" : "no"));
    writeFile(root + "/part2.bin", payload.left(1000000));
    Call upAppend = call("/~/part2.bin");
    upAppend.uploadFrom = (work + "/rest").toStdString();
    upAppend.append = true;
    o = perform(upAppend);
    say("upload with APPEND of the rest: " + describe(o) + ", whole: " + (bytes(root + "/part2.bin") == payload ? "yes" : "no"));

    // Quote commands, with no transfer (NOBODY on the folder). Each step apart: the order matters.
    const std::string r = root.toStdString();
    auto quote = [&](std::vector<std::string> q) {
        Call c = call("/~/");
        c.nobody = true;
        c.quote = std::move(q);
        return describe(perform(c));
    };
    auto exists = [&](const char* name) { return QFile::exists(root + "/" + name) ? " (exists)" : " (missing)"; };
    std::string s = quote({"rename " + r + "/new755.bin " + r + "/renamed.bin"});
    say("rename onto a new name: " + s + exists("renamed.bin"));
    s = quote({"rename " + r + "/renamed.bin " + r + "/a.txt"});
    say("rename onto an existing name: " + s + "; renamed.bin" + exists("renamed.bin"));
    s = quote({"rename ~/renamed.bin ~/renamed2.bin"});
    say("rename with ~/ paths: " + s + exists("renamed2.bin"));
    s = quote({"rename /~/renamed.bin /~/renamed2.bin"});
    say("rename with /~/ paths: " + s + exists("renamed2.bin"));
    s = quote({"rename renamed.bin renamed3.bin"});
    say("rename with relative paths: " + s + exists("renamed3.bin"));
    s = quote({"rename \"" + r + "/name with spaces\" \"" + r + "/name 2\""});
    say("rename of quoted names with spaces: " + s + exists("name 2"));
    s = quote({"chmod 0700 " + r + "/exec.sh"});
    say("chmod 0700: " + s + " -> mode " + QString::number(modeOf(root + "/exec.sh"), 8).toStdString());
    s = quote({"chmod 0700 " + r + "/missing"});
    say("chmod of a missing file: " + s);
    s = quote({"rm " + r + "/exec.sh"});
    say("rm: " + s + exists("exec.sh"));
    s = quote({"rm " + r + "/missing"});
    say("rm of a missing file: " + s);
    s = quote({"mkdir " + r + "/made"});
    say("mkdir: " + s + exists("made"));
    s = quote({"mkdir " + r + "/made"});
    say("mkdir of an existing folder: " + s);
    s = quote({"rmdir " + r + "/made"});
    say("rmdir: " + s + exists("made"));
    writeFile(root + "/sub/x", "x");
    s = quote({"rmdir " + r + "/sub"});
    say("rmdir of a folder holding a file: " + s);
    s = quote({"*rm " + r + "/missing"});
    say("'*' before a failing command: " + s);
    {
        std::string headers;
        CURL* h = keyLoginHandle(base + "/~/", server.user());
        curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
        curl_slist* q = curl_slist_append(nullptr, "pwd");
        curl_easy_setopt(h, CURLOPT_QUOTE, q);
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, keep);
        curl_easy_setopt(h, CURLOPT_HEADERDATA, &headers);
        const CURLcode rc = curl_easy_perform(h);
        say("quote pwd on /~/: " + std::to_string(rc) + ", header: " + headers);
        curl_slist_free_all(q);
        curl_easy_cleanup(h);
    }
    say("postquote after an upload, swap a.txt: " + [&] {
        Call c = call("/~/.a.txt.part");
        c.uploadFrom = (work + "/payload").toStdString();
        c.postQuote = {"rename " + r + "/a.txt " + r + "/.a.txt.old", "rename " + r + "/.a.txt.part " + r + "/a.txt",
                       "rm " + r + "/.a.txt.old"};
        const Outcome out = perform(c);
        return describe(out) + ", a.txt now the payload: " + (bytes(root + "/a.txt") == payload ? "yes" : "no");
    }());
    say("statvfs: " + quote({"statvfs " + r}));
    say("sftp-server log:\n  " + QString::fromStdString(server.commandLog()).trimmed().replace("\n", "\n  ").toStdString());

    // Missing files and folders.
    say("download of a missing file: " + describe(perform(call("/~/missing.txt"))));
    say("listing of a missing folder: " + describe(perform(call("/~/missing/"))));
    Call toMissing = call("/~/nofolder/x.bin");
    toMissing.uploadFrom = (work + "/payload").toStdString();
    say("upload into a missing folder: " + describe(perform(toMissing)));

    // Cancelling a big download and upload.
    QProcess::execute("truncate", {"-s", "2G", root + "/big.bin"});
    Call cancel = call("/~/big.bin");
    cancel.downloadTo = (work + "/cancelled.bin").toStdString();
    cancel.cancelAfterMs = 1500;
    o = perform(cancel);
    say("download cancelled after 1500 ms: " + describe(o) + ", cancel took " + std::to_string(o.cancelLatencyMs) + " ms");
    QProcess::execute("truncate", {"-s", "512M", work + "/bigup"});
    Call cancelUp = call("/~/bigup.bin");
    cancelUp.uploadFrom = (work + "/bigup").toStdString();
    cancelUp.cancelAfterMs = 1500;
    o = perform(cancelUp);
    say("upload cancelled after 1500 ms: " + describe(o) + ", cancel took " + std::to_string(o.cancelLatencyMs) + " ms");
    QFile::remove(work + "/bigup");
    QThread::msleep(300);
    const QStringList lines = QString::fromStdString(server.commandLog()).trimmed().split('\n');
    say("sftp-server after the cancels, 300 ms later:\n  " + lines.mid(lines.size() - 8).join("\n  ").toStdString());
}

void probeRefusals(const QString& work)
{
    writeFile(work + "/small", QByteArray(200000, 'x'));
    struct Row {
        const char* what;
        std::string modes, path;
        bool upload;
    };
    const Row rows[] = {
        {"download, open refused: no such file", "refuse-open-missing", "f.bin", false},
        {"download, open refused: permission denied", "refuse-open-permission", "f.bin", false},
        {"upload, open refused: permission denied", "refuse-open-permission", "up.bin", true},
        {"upload, open refused: disk full (code 14)", "refuse-open-full", "up.bin", true},
        {"upload, write refused: disk full (code 14)", "refuse-write-full", "up.bin", true},
        {"upload, write refused: disk full as version 3 says it", "refuse-write-full-v3", "up.bin", true},
        {"upload, write refused: permission denied", "refuse-write-permission", "up.bin", true},
        {"upload, close refused: failure", "refuse-close-failure", "up.bin", true},
        {"listing refused: permission denied", "refuse-opendir-permission", "", false},
        {"download, connection dropped after 100000 bytes", "drop-read-100000", "f.bin", false},
        {"upload, connection dropped after 100000 bytes", "drop-write-100000", "up.bin", true},
    };
    for (const Row& row : rows) {
        ScriptedSftpServer server(row.modes);
        writeFile(QString::fromStdString(server.diskPath()) + "/f.bin", QByteArray(500000, 'y'));
        Call c{"sftp://127.0.0.1:" + std::to_string(server.port()) + "/" + row.path};
        c.password = "secret";
        if (row.upload)
            c.uploadFrom = (work + "/small").toStdString();
        const Outcome o = perform(c);
        say(std::string("refusal: ") + row.what + ": " + describe(o) + ", body bytes " + std::to_string(o.body.size()));
    }
    Call none{"sftp://127.0.0.1:1/x"};
    say("no server on the port: " + describe(perform(none)));
}

// ---------------------------------------------------------------------------------------
double timed(const QString& program, const QStringList& args)
{
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(program, args);
    p.waitForFinished(-1);
    if (p.exitCode() != 0)
        say("  (" + program.toStdString() + " exited " + std::to_string(p.exitCode()) + ")");
    return t.nsecsElapsed() / 1e9;
}

void speed(const QString& work, int mib, int rounds)
{
    const QString key = g_home + "/.ssh/id_ed25519";
    makeSshKey(key.toStdString());
    QTemporaryDir disk(work + "/disk-XXXXXX");
    const QString root = disk.path();
    SshServer server(root.toStdString(), {.authorizedKeys = {(key + ".pub").toStdString()}});
    const QString base = QStringLiteral("sftp://127.0.0.1:%1").arg(server.port());
    QProcess::execute("dd", {"if=/dev/urandom", "of=" + root + "/big.bin", "bs=1M", "count=" + QString::number(mib), "status=none"});
    QFile::copy(root + "/big.bin", work + "/local.bin");
    const QString khFile = work + "/kh";
    writeFile(khFile, QByteArray::fromStdString("[127.0.0.1]:" + std::to_string(server.port()) + " " + server.hostKey() + "\n"));
    const QStringList curlArgs{"-sS", "--key", key, "--pubkey", key + ".pub", "-u", QString::fromStdString(server.user()) + ":"};
    const QStringList sftpArgs{"-q", "-F", "/dev/null", "-i", key, "-o", "UserKnownHostsFile=" + khFile, "-o",
                               "GlobalKnownHostsFile=/dev/null", "-P", QString::number(server.port())};
    const QString target = QString::fromStdString(server.user()) + "@127.0.0.1";
    writeFile(work + "/get.batch", ("get " + root + "/big.bin " + work + "/sftp-down.bin\n").toUtf8());
    writeFile(work + "/put.batch", ("put " + work + "/local.bin " + root + "/sftp-up.bin\n").toUtf8());

    auto lib = [&](long buffer, long upBuffer, bool upload) {
        Call c{(base + "/~/" + (upload ? "lib-up.bin" : "big.bin")).toStdString()};
        c.user = server.user();
        c.authTypes = CURLSSH_AUTH_PUBLICKEY;
        c.privateKey = key.toStdString();
        c.bufferSize = buffer;
        c.uploadBufferSize = upBuffer;
        if (upload)
            c.uploadFrom = (work + "/local.bin").toStdString();
        else
            c.downloadTo = (work + "/lib-down.bin").toStdString();
        const Outcome o = perform(c);
        if (o.code != CURLE_OK)
            say("  libcurl: " + describe(o));
        return o.seconds;
    };
    // Each figure's seconds over the rounds; medians at the end.
    std::map<std::string, std::vector<double>> figures;
    auto add = [&](const std::string& name, double seconds) {
        figures[name].push_back(seconds);
        return " " + name + " " + QString::number(seconds, 'f', 2).toStdString();
    };
    const QStringList likeLibssh2{"-c", "aes128-ctr", "-o", "MACs=hmac-sha2-256"};
    for (int round = 1; round <= rounds; ++round) {
        std::string line = "round " + std::to_string(round) + " down:";
        line += add("down.curl", timed("/usr/bin/curl", QStringList(curlArgs) << "-o" << work + "/curl-down.bin" << base + "/~/big.bin"));
        line += add("down.sftp", timed("sftp", QStringList(sftpArgs) << "-b" << work + "/get.batch" << target));
        line += add("down.sftp-aes128ctr", timed("sftp", QStringList(sftpArgs) << likeLibssh2 << "-b" << work + "/get.batch" << target));
        for (long b : {0L, 102400L, 262144L, 524288L})
            line += add("down.lib" + std::to_string(b / 1024) + "K", lib(b, 0, false));
        say(line);
        line = "round " + std::to_string(round) + " up:";
        line += add("up.curl", timed("/usr/bin/curl", QStringList(curlArgs) << "-T" << work + "/local.bin" << base + "/~/curl-up.bin"));
        line += add("up.sftp", timed("sftp", QStringList(sftpArgs) << "-b" << work + "/put.batch" << target));
        line += add("up.sftp-aes128ctr", timed("sftp", QStringList(sftpArgs) << likeLibssh2 << "-b" << work + "/put.batch" << target));
        for (long b : {0L, 262144L, 524288L, 2097152L})
            line += add("up.lib" + std::to_string(b / 1024) + "K", lib(0, b, true));
        say(line);
    }
    for (auto& [name, list] : figures) {
        std::sort(list.begin(), list.end());
        say("median " + name + " " + QString::number(list[list.size() / 2], 'f', 2).toStdString() + " s");
    }
    say(std::string("byte-exact: curl ") + (bytes(work + "/curl-down.bin") == bytes(work + "/local.bin") ? "yes" : "no") +
        ", lib " + (bytes(work + "/lib-down.bin") == bytes(work + "/local.bin") ? "yes" : "no") + ", lib upload " +
        (bytes(root + "/lib-up.bin") == bytes(work + "/local.bin") ? "yes" : "no"));
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    curl_global_init(CURL_GLOBAL_ALL);
    QTemporaryDir home, work;
    g_home = home.path();
    qputenv("HOME", QFile::encodeName(g_home));  // libcurl's ~/.ssh and ssh's are this one
    const QString what = argc > 1 ? argv[1] : "probe";
    say(curl_version());
    if (what == "probe") {
        probeHostKeysAndPasswords();
        probeKeyTypesAndForcing(work.path());
        probeKeyLogins(work.path());
        probeFilesAndQuotes(work.path());
        probeRefusals(work.path());
    } else if (what == "speed") {
        speed(work.path(), argc > 2 ? std::atoi(argv[2]) : 256, argc > 3 ? std::atoi(argv[3]) : 5);
    }
    curl_global_cleanup();
    return 0;
}
