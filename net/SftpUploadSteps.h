#pragma once
// The steps of an upload on an SFTP server, as RemoteReplace asks for them: the folder's
// listing, a write, rename, rm and chmod. Each step is one operation in the connection's
// SSH session, watched by the call's watcher like the data (Cancel stops it; a removal
// after a cancel or a failure runs all the same). A refusal is an answer (code 550, the
// server's words), a lost connection none (code 0). Internal to net/.

#include <cstdint>
#include <optional>
#include <string>

#include "net/LocalFiles.h"
#include "net/RemoteReplace.h"
#include "net/SftpConnection.h"

namespace net {

class SftpUploadSteps final : public RemoteSteps {
public:
    // `source`: the local file sent; `shownName`: the name the progress window shows;
    // `watcher`: the layer's (null: none), told the call starts now and ends as this goes.
    // `resumable`: the temporary whose part, left by a cut upload of the same local file, is
    // continued at its size and kept when cut again (empty: none).
    SftpUploadSteps(SftpConnection& connection, UploadSource& source, std::string shownName, CallWatcher* watcher,
                    std::string resumable = {});

    ServerFile describe(const std::string& path) override;
    // The new file is made with the old file's permissions and given them again before it
    // takes the name (the server's umask may have taken bits); what the server stored is
    // checked against the file's size, since libcurl ignores a refused close.
    StoreOutcome store(const std::string& path) override;
    StoreOutcome storeEmpty(const std::string& path) override;
    // SFTP renames in one request: a refusal for a missing source or a forbidden one leaves
    // the source where it was; any other (the name taken, on version 3 servers) is the
    // new name's.
    RenameReply rename(const std::string& from, const std::string& to, Step step) override;
    StepReply removeFile(const std::string& path) override;
    StepReply setMode(const std::string& path, unsigned mode) override;
    bool cancelled() const override { return m_cancelled; }

private:
    StoreOutcome send(const std::string& path, bool empty, std::uint64_t offset = 0);
    StepReply command(const std::string& line, Step step = Step::Upload);
    CallProgress progress() const { return {CallProgress::Kind::Uploading, m_shownName, 0, 0}; }

    SftpConnection& m_connection;
    UploadSource& m_source;
    std::string m_shownName;
    StepsCall m_call;
    std::optional<unsigned> m_mode;  // the old file's permissions
    std::string m_modeOn;            // the file that holds them already
    bool m_cancelled = false;        // a step was cancelled: the rest are refused, removals aside
    std::string m_resumable;
};

}  // namespace net
