#include "net/FtpUploadSteps.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "net/ListingParser.h"

namespace net {
namespace {

std::string folderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

// A folder's name is never uploaded over; a file's permissions are kept.
ServerFile serverFileOf(const std::optional<ListEntry>& entry)
{
    ServerFile file;
    if (!entry)
        return file;
    file.folder = (entry->attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (entry->attributes == FILE_ATTRIBUTE_NORMAL && (entry->mode & kModeGiven))
        file.mode = entry->mode & 0777u;
    return file;
}

}  // namespace

FtpUploadSteps::FtpUploadSteps(FtpConnection& connection, UploadSource& source, std::string shownName, bool ascii,
                               CallWatcher* watcher, std::string resumable, bool newName)
    : m_connection(connection), m_source(source), m_shownName(std::move(shownName)), m_ascii(ascii),
      m_call(watcher, {CallProgress::Kind::Uploading, m_shownName, 0, source.size()}),
      m_resumable(std::move(resumable)), m_newName(newName)
{
}

void FtpUploadSteps::noteReply(const Operation& op)
{
    if (op.reply)
        m_reply = op.reply;
}

ServerFile FtpUploadSteps::describe(const std::string& path)
{
    ServerFile file;
    if (m_connection.mlsd)
        if (const StepReply r = command("MLST " + path, path); r.code == 250)
            file = serverFileOf(parseMlstReply(r.text));
    if (!file.mode && !file.folder)
        if (const StepReply r = command("STAT " + path, path); r.code / 100 == 2)
            file = serverFileOf(parseStatReply(r.text, path.substr(path.rfind('/') + 1)));
    return file;
}

// A part of this very file on the server (not longer than the file) is continued.
StoreOutcome FtpUploadSteps::store(const std::string& path)
{
    if (path.empty() || path != m_resumable || m_newName)
        return send(path, false);
    const StepReply size = command("SIZE " + path, path);
    if (m_cancelled)
        return {size.result, false, size, false};
    const std::int64_t part = parseSizeReply(size.code, size.text);
    return send(path, false, part > 0 && static_cast<std::uint64_t>(part) <= m_source.size() ? part : 0);
}

StoreOutcome FtpUploadSteps::storeEmpty(const std::string& path) { return send(path, true); }

RenameReply FtpUploadSteps::rename(const std::string& from, const std::string& to, Step step)
{
    if (m_newName && step == Step::Upload) {
        // After a refused RNFR the server refuses the RNTO too (503): no name waits for it.
        StepReply second;
        const StepReply first = command("RNFR " + from, from, step, "RNTO " + to, &second);
        return first.done() ? RenameReply{second, true} : RenameReply{first, false};
    }
    const StepReply first = command("RNFR " + from, from, step);
    if (!first.done())
        return {first, false};
    return {command("RNTO " + to, to, step), true};
}

StepReply FtpUploadSteps::removeFile(const std::string& path) { return command("DELE " + path, path, Step::CleanUp); }

StepReply FtpUploadSteps::setMode(const std::string& path, unsigned mode)
{
    char text[16];
    std::snprintf(text, sizeof text, "%03o", mode);
    return command(std::string("SITE CHMOD ") + text + " " + path, path);
}

// Sends the local file to `path`, or (empty) an empty file.
StoreOutcome FtpUploadSteps::send(const std::string& path, bool empty, std::uint64_t offset)
{
    FtpConnection& connection = m_connection;
    StoreOutcome out;
    if (const int err = m_source.rewind(); err != 0) {
        out.result = Result::failure(errorFromErrno(err), std::strerror(err));
        return out;
    }
    UploadOperation op;
    op.progress = {CallProgress::Kind::Uploading, m_shownName, 0, m_source.size()};
    op.url = connection.url(path, false);
    op.inFd = m_source.fd();
    if (out.result = connection.prepare(op); !out.result.ok())
        return out;
    op.watcher = m_call.watcher();
    CURL* h = connection.easy.get();
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    sendFile(h, op, empty);
    // An empty file is the same in either type: no TYPE command for it.
    if (!empty)
        if (out.result = connection.chooseType(op, m_ascii); !out.result.ok())
            return out;
    if (empty || !m_ascii)  // the read callback adds CRs to a text
        curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(empty ? 0 : m_source.size()));
    if (offset > 0)  // libcurl seeks the file there and sends APPE
        curl_easy_setopt(h, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(offset));
    out.result = connection.perform(op);
    m_cancelled = m_cancelled || op.cancelled;
    if (out.result.ok() && !empty)
        m_stored = m_source.size();
    noteReply(op);
    out.reply = {m_reply ? static_cast<int>(m_reply->code) : 0, m_reply ? m_reply->text : std::string(), out.result};
    // A STOR the server answered 125/150 had begun: a later 426, 452 or 552 is a failed
    // upload. Refused before that with 550, 553 or 501, it was the name.
    const FtpReply* last = op.replies.last();
    const bool began = std::any_of(op.replies.replies().begin(), op.replies.replies().end(),
                                   [](const FtpReply& reply) { return reply.code == 125 || reply.code == 150; });
    const bool answered = !out.result.ok() && !op.cancelled && op.localErrno == 0 && last && last->code >= 400;
    out.nameRefused = answered && !began && (last->code == 550 || last->code == 553 || last->code == 501);
    if (answered && began)  // the server's own words say more than "partial file"
        out.result = Result::failure(ERROR_INTERNET_EXTENDED_ERROR, last->text);
    out.kept = !out.result.ok() && path == m_resumable && began && !answered && !op.cancelledByUser() &&
               op.localErrno == 0;
    return out;
}

// A clean-up comes after a cancel or a failure too: the window stays served through it,
// but it cannot be cancelled (its time limit bounds it).
StepReply FtpUploadSteps::command(const std::string& line, const std::string& path, Step step,
                                  const std::string& then, StepReply* thenReply)
{
    using Watch = FtpConnection::Watch;
    const StepReply out =
        m_connection.command(line, folderOf(path), step == Step::CleanUp ? Watch::CleanUp : Watch::Cancellable,
                             {CallProgress::Kind::Uploading, m_shownName, m_stored, m_source.size()}, m_reply,
                             m_call.watcher(), then, thenReply);
    m_cancelled = m_cancelled || out.result.error == ERROR_INTERNET_OPERATION_CANCELLED;
    return out;
}

}  // namespace net
