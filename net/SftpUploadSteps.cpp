#include "net/SftpUploadSteps.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <utility>

namespace net {
namespace {

const Result kCancelled = Result::failure(ERROR_INTERNET_OPERATION_CANCELLED, "cancelled");

}  // namespace

SftpUploadSteps::SftpUploadSteps(SftpConnection& connection, UploadSource& source, std::string shownName,
                                 CallWatcher* watcher, std::string resumable)
    : m_connection(connection),
      m_source(source),
      m_shownName(std::move(shownName)),
      m_call(watcher, {CallProgress::Kind::Uploading, m_shownName, 0, source.size()}),
      m_resumable(std::move(resumable))
{
}

// What the folder's listing says of the name: a listing the call was given by the change of
// folder before it, else a new one. A folder that cannot be listed tells nothing.
ServerFile SftpUploadSteps::describe(const std::string& path)
{
    const auto slash = path.rfind('/');
    const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
    const std::string name = path.substr(slash + 1);
    std::optional<std::vector<ListEntry>> entries = m_connection.takeListing(folder);
    if (!entries && !m_cancelled) {
        ListingOperation op;
        op.progress = progress();
        op.watcher = m_call.watcher();
        entries.emplace();
        m_cancelled = m_connection.list(folder, *entries, op).error == ERROR_INTERNET_OPERATION_CANCELLED;
    }
    ServerFile file;
    for (const ListEntry& entry : entries.value_or(std::vector<ListEntry>{})) {
        if (entry.name != name)
            continue;
        file.folder = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (entry.attributes == FILE_ATTRIBUTE_NORMAL && (entry.mode & kModeGiven))
            file.mode = entry.mode & 0777u;
    }
    m_mode = file.mode;
    return file;
}

// A part of this very file on the server (not longer than the file) is continued.
StoreOutcome SftpUploadSteps::store(const std::string& path)
{
    if (path.empty() || path != m_resumable || m_cancelled)
        return send(path, false);
    Operation op;
    op.progress = progress();
    op.watcher = m_call.watcher();
    Result asked;
    const std::optional<SftpConnection::Stored> part = m_connection.stat(path, op, false, &asked);
    m_cancelled = asked.error == ERROR_INTERNET_OPERATION_CANCELLED;
    return send(path, false, part && part->size <= m_source.size() ? part->size : 0);
}

StoreOutcome SftpUploadSteps::storeEmpty(const std::string& path) { return send(path, true); }

StoreOutcome SftpUploadSteps::send(const std::string& path, bool empty, std::uint64_t offset)
{
    SftpConnection& c = m_connection;
    StoreOutcome out;
    if (m_cancelled) {
        out.result = kCancelled;
        return out;
    }
    if (const int err = m_source.rewind(); err != 0) {
        out.result = Result::failure(errorFromErrno(err), std::strerror(err));
        return out;
    }
    const std::uint64_t size = empty ? 0 : m_source.size();
    UploadOperation op;
    op.progress = {CallProgress::Kind::Uploading, m_shownName, 0, size};
    op.url = c.url(path, false);
    op.inFd = m_source.fd();
    op.watcher = m_call.watcher();
    if (out.result = c.prepare(op); !out.result.ok())
        return out;
    CURL* h = c.easy.get();
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    sendFile(h, op, empty);
    curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
    curl_easy_setopt(h, CURLOPT_NEW_FILE_PERMS, static_cast<long>(m_mode.value_or(0644)));
    if (offset > 0)  // libcurl seeks the local file there and writes on from the part's end
        curl_easy_setopt(h, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(offset));
    out.result = c.perform(op);
    m_cancelled = out.result.error == ERROR_INTERNET_OPERATION_CANCELLED;
    // Cut by a lost connection (not the user, not a refusal) once data went (libcurl read the
    // local file past the part's end): kept to continue.
    const bool cancelledByUser = op.cancelledByUser();
    out.kept = !out.result.ok() && path == m_resumable && !cancelledByUser && op.localErrno == 0 &&
               out.result.error != ERROR_INTERNET_EXTENDED_ERROR &&
               ::lseek(m_source.fd(), 0, SEEK_CUR) > static_cast<off_t>(offset);
    // Refused when opened, before any data: the server takes no such name here.
    out.nameRefused = (c.lastCode == CURLE_REMOTE_ACCESS_DENIED || c.lastCode == CURLE_REMOTE_FILE_NOT_FOUND) &&
                      op.uploaded == 0;
    if (out.result.ok() && !empty) {
        Operation check;
        check.progress = progress();
        check.watcher = m_call.watcher();
        const std::optional<SftpConnection::Stored> stored = c.stat(path, check);
        if (stored && stored->size != size) {
            const std::string words = "The server kept " + std::to_string(stored->size) + " of the " +
                                      std::to_string(size) + " bytes sent: its disk may be full.";
            out.result = Result::failure(ERROR_INTERNET_EXTENDED_ERROR, words);
        } else if (m_mode && setMode(path, *m_mode).done()) {
            m_modeOn = path;
        }
    }
    out.reply = {out.result.error == ERROR_INTERNET_EXTENDED_ERROR ? 550 : 0, out.result.text, out.result};
    return out;
}

RenameReply SftpUploadSteps::rename(const std::string& from, const std::string& to, Step step)
{
    const StepReply reply = command("rename " + sftpQuoted(from) + " " + sftpQuoted(to), step);
    if (reply.done() && from == m_modeOn)
        m_modeOn = to;
    const bool sourceStays = reply.refused() && (reply.text == "No such file or directory" ||
                                                 reply.text == "Permission denied");
    return {reply, !sourceStays};
}

StepReply SftpUploadSteps::removeFile(const std::string& path)
{
    StepReply reply = command("rm " + sftpQuoted(path), Step::CleanUp);
    if (reply.refused() && reply.text == "No such file or directory")  // never made (its open was refused)
        reply.code = 200;
    return reply;
}

StepReply SftpUploadSteps::setMode(const std::string& path, unsigned mode)
{
    if (path == m_modeOn && m_mode == mode)  // given before the file took the name
        return {200, {}, Result::success()};
    char octal[16];
    std::snprintf(octal, sizeof octal, "%04o", mode);
    return command(std::string("chmod ") + octal + " " + sftpQuoted(path));
}

// A clean-up comes after a cancel or a failure too: the window stays served through it, but
// it cannot be cancelled (its time limit bounds it).
StepReply SftpUploadSteps::command(const std::string& line, Step step)
{
    StepReply out;
    const bool cleanUp = step == Step::CleanUp;
    if (m_cancelled && !cleanUp) {
        out.result = kCancelled;
        return out;
    }
    Operation op;
    op.progress = progress();
    op.watcher = m_call.watcher();
    op.cleanup = cleanUp;
    out.result = m_connection.command(line, op);
    m_cancelled = m_cancelled || out.result.error == ERROR_INTERNET_OPERATION_CANCELLED;
    if (out.result.ok())
        out.code = 200;
    else if (m_connection.lastCode == CURLE_QUOTE_ERROR)
        out = {550, out.result.text, out.result};
    return out;
}

}  // namespace net
