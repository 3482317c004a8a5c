#include "transfer/Batch.h"

#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <cstring>
#include <functional>
#include <tuple>
#include <map>
#include <set>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "net/NameCodec.h"
#include "net/RemoteReplace.h"
#include "remote/EntryDetails.h"
#include "remote/ServerWalk.h"
#include "ui/UiInterface.h"

namespace fs = std::filesystem;

namespace transfer {

struct Batch::Step {
    bool folder = false;
    fs::path local;
    std::string server;      // absolute
    std::uint64_t size = 0;
    std::int64_t time = 0;   // 100-ns ticks since 1601; 0: not known
    std::uint16_t mode = 0;  // permission bits | kModeGiven; 0: not known
};

namespace {

// Files from this size on are flushed one by one.
constexpr std::uint64_t kFlushAloneFrom = 1024 * 1024;

// Puts everything written to the file system holding `folder` on the disk.
void flushFileSystemOf(const fs::path& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::syncfs(fd);
    ::close(fd);
}

constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kSecondsFrom1601 = 11'644'473'600;
constexpr std::size_t kLocalNameMax = 255;
constexpr qsizetype kNoticeLines = 20;

QString shown(const std::string& bytes) { return net::textFromBytes(bytes); }

std::string parentOf(const std::string& serverPath)
{
    const auto slash = serverPath.rfind('/');
    return slash == 0 || slash == std::string::npos ? std::string("/") : serverPath.substr(0, slash);
}

std::string nameOf(const std::string& serverPath) { return serverPath.substr(serverPath.rfind('/') + 1); }

std::string joinServer(const std::string& folder, const std::string& name)
{
    return folder.ends_with('/') ? folder + name : folder + "/" + name;
}

// A server name this computer cannot hold as one folder entry.
bool localNameImpossible(const std::string& name)
{
    return name.empty() || name == "." || name == ".." || name.size() > kLocalNameMax ||
           name.find('/') != std::string::npos;
}

// A name an FTP command line cannot carry: its line end would end the command.
bool serverNameImpossible(const std::string& name)
{
    return name.find_first_of("\r\n") != std::string::npos;
}

struct LocalStat {
    bool exists = false;
    bool regular = false;
    bool folder = false;  // a real folder, not a link to one
    std::uint64_t size = 0;
    std::int64_t time = 0;
    std::uint16_t mode = 0;
};

LocalStat localStat(const fs::path& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return {};
    return {true, S_ISREG(st.st_mode), S_ISDIR(st.st_mode), static_cast<std::uint64_t>(st.st_size),
            (static_cast<std::int64_t>(st.st_mtim.tv_sec) + kSecondsFrom1601) * kTicksPerSecond,
            static_cast<std::uint16_t>((st.st_mode & 07777) | remote::EntryDetails::kModeGiven)};
}

QString sizeAndTime(std::uint64_t size, std::int64_t time)
{
    remote::EntryDetails details;
    details.size = size;
    details.lastWrite = time;
    QString text = remote::sizeText(details);
    if (const QString when = remote::modifiedText(details); !when.isEmpty())
        text += QStringLiteral(", ") + when;
    return text;
}

}  // namespace

QString BatchResult::notice() const
{
    if (problems.isEmpty())
        return {};
    QStringList lines = problems.mid(0, kNoticeLines);
    if (problems.size() > kNoticeLines)
        lines << QStringLiteral("... and %1 more").arg(problems.size() - kNoticeLines);
    return QStringLiteral("Not everything was copied:\n") + lines.join(QLatin1Char('\n'));
}

Batch::Batch(net::InternetApi& internet, net::HINTERNET connection, ui::UiInterface& ui, QWidget* parent,
             BatchWatcher* watcher, net::DWORD transferType)
    : m_internet(internet), m_connection(connection), m_ui(ui), m_parent(parent), m_watcher(watcher),
      m_type(transferType)
{
}

// ---- Plans ----

BatchResult Batch::upload(const std::vector<fs::path>& local, const std::string& serverFolder)
{
    BatchResult result;
    std::vector<Step> steps;
    auto add = [&](const fs::path& path, const std::string& server) {
        const LocalStat st = localStat(path);
        const QString name = shown(path.string());
        if (serverNameImpossible(nameOf(server)))
            result.problems << name + QStringLiteral(": the name cannot exist on the server");
        else if (st.folder || st.regular)
            steps.push_back({st.folder, path, server, st.regular ? st.size : 0, st.time, st.mode});
        else
            result.problems << name + (st.exists ? QStringLiteral(": a link or special file, not copied")
                                                 : QStringLiteral(": not found"));
        return st.folder && !serverNameImpossible(nameOf(server));
    };
    // Each folder's entries in name order, each before what it holds; a symbolic link is an
    // entry of its own, never followed.
    std::function<void(const fs::path&, const std::string&)> walkLocal = [&](const fs::path& folder,
                                                                             const std::string& server) {
        std::error_code ec;
        std::vector<fs::path> names;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
            names.push_back(it->path().filename());
        if (ec)
            result.problems << shown(folder.string()) + QStringLiteral(": ") + QString::fromStdString(ec.message());
        std::sort(names.begin(), names.end());
        for (const fs::path& name : names)
            if (add(folder / name, joinServer(server, name.string())))
                walkLocal(folder / name, joinServer(server, name.string()));
    };
    for (const fs::path& top : local) {
        const std::string target = joinServer(serverFolder, top.filename().string());
        if (!add(top, target))
            continue;
        walkLocal(top, target);
    }
    return run(steps, true, std::move(result));
}

BatchResult Batch::download(const std::vector<ServerItem>& items, const fs::path& localFolder)
{
    BatchResult result;
    std::vector<Step> steps;
    for (const ServerItem& item : items) {
        const std::string top = nameOf(item.path);
        if (localNameImpossible(top)) {
            result.problems << shown(item.path) + QStringLiteral(": the name cannot exist in a local folder");
            continue;
        }
        if (!item.folder) {
            Step step{false, localFolder / top, item.path, item.details.size, item.details.lastWrite, item.details.mode};
            BatchResult ignored;  // unlisted, the file is still asked for: the server says why it is not there
            if (const Listing* entries = serverEntries(parentOf(item.path), ignored)) {
                if (const auto it = entries->find(top); it != entries->end())
                    std::tie(step.size, step.time, step.mode) = std::tie(it->second.size, it->second.time, it->second.mode);
            }
            steps.push_back(step);
            continue;
        }
        steps.push_back({true, localFolder / top, item.path, 0, 0, item.details.mode});
        const remote::ServerWalk walk = remote::walkServerFolder(m_internet, m_connection, item.path);
        if (walk.error != 0)
            result.problems << shown(walk.failedFolder) + QStringLiteral(": could not be listed (") +
                                   failureReason(walk.error) + QLatin1Char(')');
        // An entry lands below the folder step made for its parent, or nowhere: a name
        // holding "/" or ".." never reaches another local folder.
        std::map<std::string, fs::path> folders{{item.path, localFolder / top}};
        for (const remote::WalkedEntry& entry : walk.entries) {
            const auto parent = folders.find(parentOf(entry.path));
            const std::string name = nameOf(entry.path);
            if (parent == folders.end() || localNameImpossible(name)) {
                result.problems << shown(entry.path) + QStringLiteral(": the name cannot exist in a local folder");
                continue;
            }
            if (entry.details.link || !(entry.folder() || entry.attributes == net::FILE_ATTRIBUTE_NORMAL)) {
                result.problems << shown(entry.path) + QStringLiteral(": a link on the server, not followed");
                continue;
            }
            const fs::path target = parent->second / name;
            if (entry.folder())
                folders.emplace(entry.path, target);
            steps.push_back({entry.folder(), target, entry.path, entry.details.size, entry.details.lastWrite,
                             entry.details.mode});
        }
    }
    return run(steps, false, std::move(result));
}

// ---- Running ----

QString Batch::failureReason(net::DWORD error)
{
    if (error == net::ERROR_INTERNET_EXTENDED_ERROR) {
        net::DWORD code = 0;
        net::DWORD length = 0;
        (void)m_internet.InternetGetLastResponseInfoA(&code, nullptr, &length);
        std::string buffer(length + 1, '\0');
        (void)m_internet.InternetGetLastResponseInfoA(&code, buffer.data(), &length);
        const QString words = QString::fromLocal8Bit(buffer.c_str()).trimmed();
        if (!words.isEmpty())
            return words;
    }
    if (const std::string detail = m_internet.lastErrorDetail(); !detail.empty())
        return QString::fromLocal8Bit(detail);
    return QStringLiteral("error ") + QString::number(error);
}

const Batch::Listing* Batch::serverEntries(const std::string& folder, BatchResult& result)
{
    if (auto it = m_listed.find(folder); it != m_listed.end())
        return &it->second;
    if (m_unlisted.count(folder) != 0)
        return nullptr;
    Listing entries;
    net::WIN32_FIND_DATAA record{};
    const std::string pattern = joinServer(folder, "*");
    // Lines where a link is a link: they also give each entry's permissions.
    const net::HINTERNET find =
        m_internet.FtpFindFirstFileA(m_connection, pattern.c_str(), &record, net::FIND_FLAG_LINKS_AS_LINKS, 0);
    net::DWORD error = find == 0 ? m_internet.GetLastError() : 0;
    if (find != 0) {
        do {
            const remote::EntryDetails d = remote::detailsOf(record);
            entries[std::string(record.cFileName, ::strnlen(record.cFileName, sizeof record.cFileName))] = {
                d.size, d.lastWrite, d.mode, record.dwFileAttributes == net::FILE_ATTRIBUTE_DIRECTORY};
        } while (m_internet.InternetFindNextFileA(find, &record));
        error = m_internet.GetLastError();
        (void)m_internet.InternetCloseHandle(find);
    }
    if (error != net::ERROR_NO_MORE_FILES) {
        result.cancelled = error == net::ERROR_INTERNET_OPERATION_CANCELLED;
        if (!result.cancelled) {
            result.problems << shown(folder) + QStringLiteral(": could not be listed (") + failureReason(error) +
                                   QLatin1Char(')');
            m_unlisted.insert(folder);
        }
        return nullptr;
    }
    return &m_listed.emplace(folder, std::move(entries)).first->second;
}

bool Batch::changeFolder(const std::string& folder, BatchResult& result)
{
    if (folder == m_serverFolder)
        return true;
    if (!m_internet.FtpSetCurrentDirectoryA(m_connection, folder.c_str())) {
        const net::DWORD error = m_internet.GetLastError();
        result.cancelled = error == net::ERROR_INTERNET_OPERATION_CANCELLED;
        if (!result.cancelled)
            result.problems << shown(folder) + QStringLiteral(": ") + failureReason(error);
        m_serverFolder.clear();
        return false;
    }
    m_serverFolder = folder;
    return true;
}

bool Batch::replaceExisting(const QString& target, std::uint64_t oldSize, std::int64_t oldTime,
                            const QString& source, std::uint64_t newSize, std::int64_t newTime, BatchResult& result)
{
    if (m_answer != Answer::Ask)
        return m_answer == Answer::OverwriteAll;
    if (m_watcher)
        m_watcher->batchQuestion();
    ui::Choice choice;
    choice.text = target + QStringLiteral(" already exists (") + sizeAndTime(oldSize, oldTime) +
                  QStringLiteral(").\nReplace it with ") + source + QStringLiteral(" (") +
                  sizeAndTime(newSize, newTime) + QStringLiteral(")?");
    choice.answers = {QStringLiteral("Overwrite"), QStringLiteral("Skip"), QStringLiteral("Overwrite all"),
                      QStringLiteral("Skip all"), QStringLiteral("Cancel")};
    choice.defaultAnswer = 1;  // a stray Enter loses nothing
    choice.escapeAnswer = 4;
    switch (m_ui.Choose(m_parent, choice)) {
    case 0: return true;
    case 2: m_answer = Answer::OverwriteAll; return true;
    case 3: m_answer = Answer::SkipAll; return false;
    case 4: result.cancelled = true; return false;
    default: return false;
    }
}

BatchResult Batch::run(std::vector<Step>& steps, bool up, BatchResult result)
{
    fs::path flushLater;  // a folder on the disk that holds small new files not yet flushed
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
    for (const Step& step : steps) {
        files += step.folder ? 0 : 1;
        bytes += step.size;
    }
    if (m_watcher)
        m_watcher->batchStarted(files, bytes);
    std::set<std::string> failedFolders;  // what lies below these is not copied
    auto underFailed = [&](const Step& step) {
        const std::string key = up ? parentOf(step.server) : step.local.parent_path().string();
        return failedFolders.count(key) != 0;
    };
    auto failFolder = [&](const Step& step, const QString& reason) {
        result.problems << shown(up ? step.local.string() : step.server) + QStringLiteral(": ") + reason;
        failedFolders.insert(up ? step.server : step.local.string());
    };

    std::uint64_t index = 0;
    std::uint64_t before = 0;
    for (const Step& step : steps) {
        if (result.cancelled || (m_watcher && m_watcher->batchCancelled())) {
            result.cancelled = true;
            break;
        }
        if (underFailed(step)) {  // its folder's line tells why
            if (step.folder)
                failedFolders.insert(up ? step.server : step.local.string());
            continue;
        }
        if (step.folder) {
            if (!up) {
                const LocalStat there = localStat(step.local);
                std::error_code ec;
                if (there.exists && !there.folder)
                    failFolder(step, QStringLiteral("something of that name is in the way"));
                else if (!there.exists && !fs::create_directory(step.local, ec))
                    failFolder(step, QString::fromStdString(ec.message()));
                else if (!there.exists && (step.mode & remote::EntryDetails::kModeGiven))
                    ::chmod(step.local.c_str(), (step.mode & 0777) | 0700);  // it must take its files
                continue;
            }
            const auto* entries = serverEntries(parentOf(step.server), result);
            if (!entries) {
                if (!result.cancelled)
                    failFolder(step, QStringLiteral("its folder could not be listed"));
                continue;
            }
            if (const auto it = entries->find(nameOf(step.server)); it != entries->end()) {
                if (!it->second.folder)
                    failFolder(step, QStringLiteral("something of that name is in the way"));
                continue;  // an existing folder takes the files
            }
            if (!m_internet.FtpCreateDirectoryA(m_connection, step.server.c_str())) {
                const net::DWORD error = m_internet.GetLastError();
                result.cancelled = error == net::ERROR_INTERNET_OPERATION_CANCELLED;
                if (!result.cancelled)
                    failFolder(step, failureReason(error));
                continue;
            }
            m_listed[step.server];  // made now: empty
            m_listed[parentOf(step.server)][nameOf(step.server)] = {0, 0, step.mode, true};
            if ((step.mode & 0777) != 0755)
                (void)m_internet.FtpSetPermissionsA(m_connection, step.server.c_str(), step.mode & 0777);
            continue;
        }

        const std::string folder = parentOf(step.server);
        const std::string name = nameOf(step.server);
        const QString source = shown(up ? step.local.string() : step.server);
        const QString target = shown(up ? step.server : step.local.string());
        bool replacing = false;
        bool partOnServer = false;
        if (up) {
            const auto* entries = serverEntries(folder, result);
            if (!entries) {  // the listing's line tells why
                if (result.cancelled)
                    break;
                continue;
            }
            const std::string partPrefix = net::temporaryPrefix(name);
            const auto part = entries->lower_bound(partPrefix);
            partOnServer = part != entries->end() && part->first.starts_with(partPrefix);
            if (const auto it = entries->find(name); it != entries->end()) {
                replacing = true;
                if (it->second.folder) {
                    result.problems << source + QStringLiteral(": a folder of that name is in the way");
                    continue;
                }
                if (!replaceExisting(target, it->second.size, it->second.time, source, step.size, step.time, result))
                    continue;
            }
        } else if (const LocalStat there = localStat(step.local); there.exists) {
            replacing = true;
            if (!there.regular) {
                result.problems << source + QStringLiteral(": something of that name is in the way");
                continue;
            }
            if (!replaceExisting(target, there.size, there.time, source, step.size, step.time, result))
                continue;
        }
        if (!changeFolder(folder, result)) {
            if (result.cancelled)
                break;
            continue;
        }
        if (m_watcher)
            m_watcher->batchFile(index, before);
        const std::string localPath = step.local.string();
        // A file that replaces one, or a large one, is on the disk before it takes its name and
        // keeps its part when cut, as a lone download does. Small new files are put on the disk
        // together at the end and fetched again whole after a cut: a flush and a part's record
        // per file would cost more than their transfer, and no old file is at stake.
        const bool flushAlone = replacing || step.size >= kFlushAloneFrom;
        if (!up && !flushAlone)
            flushLater = step.local.parent_path();
        // A name new in the folder as listed, with no part of an earlier upload beside it, is
        // not asked about again before its data goes.
        const net::DWORD newName = replacing || partOnServer ? 0 : net::FTP_FLAG_NEW_NAME;
        const net::BOOL copied =
            up ? m_internet.FtpPutFileA(m_connection, localPath.c_str(), name.c_str(), m_type | newName, 0)
               : m_internet.FtpGetFileA(m_connection, name.c_str(), localPath.c_str(), 0,
                                        flushAlone ? net::FILE_FLAG_WRITE_THROUGH : 0,
                                        m_type | (flushAlone ? 0 : net::FTP_FLAG_NO_PART), 0);
        ++index;
        before += step.size;
        // Files the server kept that could not be removed, or a server file left holding part
        // of the new one: said even after a cancel.
        if (const std::string notice = up ? m_internet.lastNotice() : std::string(); !notice.empty())
            result.problems << source + QStringLiteral(": ") + QString::fromLocal8Bit(notice);
        if (!copied) {
            const net::DWORD error = m_internet.GetLastError();
            if (error == net::ERROR_INTERNET_OPERATION_CANCELLED) {
                result.cancelled = true;
                break;
            }
            result.problems << source + QStringLiteral(": ") + failureReason(error);
            continue;
        }
        if (!up && !flushAlone && (m_type & 3) != net::FTP_TRANSFER_TYPE_ASCII) {
            // Fetched without asking its size: less than the listing said is a cut file, not kept.
            if (const LocalStat got = localStat(step.local); got.size < step.size) {
                ::unlink(localPath.c_str());
                result.problems << source + QStringLiteral(": arrived incomplete (%1 of %2 bytes), not kept")
                                                .arg(got.size)
                                                .arg(step.size);
                continue;
            }
        }
        ++result.copied;
        if (up)  // a second item of the same name in this batch meets it
            m_listed[folder][name] = {step.size, step.time, step.mode, false};
        // A new file gets its source's permissions; a replaced one keeps its own.
        if (replacing || !(step.mode & remote::EntryDetails::kModeGiven))
            continue;
        if (!up)
            ::chmod(localPath.c_str(), step.mode & 0777);
        else if ((step.mode & 0777) != 0644)
            (void)m_internet.FtpSetPermissionsA(m_connection, name.c_str(), step.mode & 0777);
    }
    if (!flushLater.empty())
        flushFileSystemOf(flushLater);
    if (m_watcher)
        m_watcher->batchEnded();
    return result;
}

}  // namespace transfer
