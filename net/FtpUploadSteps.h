#pragma once
// The steps of an upload on an FTP server, as RemoteReplace asks for them:
// MLST or STAT, STOR, RNFR and RNTO, DELE, SITE CHMOD. Each step is one
// operation on the connection; a refusal is an answer, not a broken connection.
// The watcher hears of all of them as one call, from the first to the last.
// Internal to net/.

#include <optional>
#include <string>

#include "net/FtpConnection.h"
#include "net/LocalFiles.h"
#include "net/RemoteReplace.h"

namespace net {

class FtpUploadSteps final : public RemoteSteps {
public:
    // `source`: the local file sent; `shownName`: the name the progress window shows;
    // `watcher`: the layer's (null: none), told the call starts now and ends as this goes.
    // `resumable`: the temporary whose part, left by a cut upload of the same local file,
    // is continued (SIZE, then APPE) and kept when cut again (empty: none); `newName`: the
    // caller knows neither the target nor such a part is on the server, so no part is asked for
    // (a cut one is still kept), and RNTO follows RNFR in one operation.
    FtpUploadSteps(FtpConnection& connection, UploadSource& source, std::string shownName, bool ascii,
                   CallWatcher* watcher, std::string resumable = {}, bool newName = false);

    ServerFile describe(const std::string& path) override;
    StoreOutcome store(const std::string& path) override;
    StoreOutcome storeEmpty(const std::string& path) override;
    RenameReply rename(const std::string& from, const std::string& to, Step step) override;
    StepReply removeFile(const std::string& path) override;
    StepReply setMode(const std::string& path, unsigned mode) override;
    bool cancelled() const override { return m_cancelled; }

    // The server's reply that ended the newest step that got one.
    const std::optional<ServerReply>& newestReply() const { return m_reply; }

private:
    StoreOutcome send(const std::string& path, bool empty, std::uint64_t offset = 0);
    // One command in the folder of `path`.
    StepReply command(const std::string& line, const std::string& path, Step step = Step::Upload,
                      const std::string& then = {}, StepReply* thenReply = nullptr);
    void noteReply(const Operation& op);

    FtpConnection& m_connection;
    UploadSource& m_source;
    std::string m_shownName;
    bool m_ascii;
    std::optional<ServerReply> m_reply;
    StepsCall m_call;
    std::uint64_t m_stored = 0;  // the data's bytes on the server, once a store succeeded
    bool m_cancelled = false;
    std::string m_resumable;
    bool m_newName;
};

}  // namespace net
