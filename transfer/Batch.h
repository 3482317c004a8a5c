#pragma once
// Several files and whole folders copied in one step, each file through the same
// single-file Internet calls as a lone transfer (its temporary name and rename, its
// modes, its progress). Folders are expanded on their own side (server links and
// local symbolic links are never followed) and made on the other side first.

#include <QString>

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "net/InternetApi.h"
#include "remote/EntryDetails.h"

class QWidget;
namespace ui { class UiInterface; }

namespace transfer {

// Told of the batch as a whole, so one progress window can stand for all its calls.
class BatchWatcher {
public:
    virtual ~BatchWatcher() = default;
    virtual void batchStarted(std::uint64_t files, std::uint64_t bytes) = 0;
    // `bytesBefore`: the bytes of the files that came before this one.
    virtual void batchFile(std::uint64_t index, std::uint64_t bytesBefore) = 0;
    // A question is about to be asked: the progress window steps aside.
    virtual void batchQuestion() = 0;
    virtual void batchEnded() = 0;
    virtual bool batchCancelled() const = 0;
};

struct ServerItem {
    std::string path;     // absolute on the server, in the server's bytes
    bool folder = false;
    remote::EntryDetails details;  // size, time and mode, as far as the listing gave them
};

struct BatchResult {
    int copied = 0;
    bool cancelled = false;
    QStringList problems;  // "name: reason", one per file or folder skipped or failed
    // The one notice at the end; empty when nothing was skipped or failed.
    QString notice() const;
};

class Batch {
public:
    Batch(net::InternetApi& internet, net::HINTERNET connection, ui::UiInterface& ui, QWidget* parent,
          BatchWatcher* watcher, net::DWORD transferType);

    // Local files and folders into the server folder `serverFolder` (absolute).
    BatchResult upload(const std::vector<std::filesystem::path>& local, const std::string& serverFolder);
    // Server files and folders into the local folder `localFolder`.
    BatchResult download(const std::vector<ServerItem>& items, const std::filesystem::path& localFolder);

    struct Step;  // one folder to make or one file to copy

private:
    enum class Answer { Ask, OverwriteAll, SkipAll };
    bool replaceExisting(const QString& target, std::uint64_t oldSize, std::int64_t oldTime,
                         const QString& source, std::uint64_t newSize, std::int64_t newTime, BatchResult& result);
    struct Known {
        std::uint64_t size;
        std::int64_t time;
        std::uint16_t mode;
        bool folder;
    };
    using Listing = std::map<std::string, Known>;
    // The entries of a server folder, listed once per batch; null when the listing failed
    // (the reason is in `result`).
    const Listing* serverEntries(const std::string& folder, BatchResult& result);
    QString failureReason(net::DWORD error);
    bool changeFolder(const std::string& folder, BatchResult& result);
    BatchResult run(std::vector<Step>& steps, bool up, BatchResult result);

    net::InternetApi& m_internet;
    net::HINTERNET m_connection;
    ui::UiInterface& m_ui;
    QWidget* m_parent;
    BatchWatcher* m_watcher;
    net::DWORD m_type;
    Answer m_answer = Answer::Ask;
    std::string m_serverFolder;  // the connection's current folder, once the batch set it
    std::map<std::string, Listing> m_listed;  // server folders listed, or made by this batch
    std::set<std::string> m_unlisted;         // server folders whose listing failed (told once)
};

}  // namespace transfer
