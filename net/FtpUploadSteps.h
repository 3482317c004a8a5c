#pragma once
// The steps of an upload on an FTP server, as RemoteReplace asks for them:
// MLST or STAT, STOR, RNFR and RNTO, DELE, SITE CHMOD. Each step is one
// operation on the connection; a refusal is an answer, not a broken connection.
// Internal to net/.

#include <optional>
#include <string>

#include "net/FtpConnection.h"
#include "net/LocalFiles.h"
#include "net/RemoteReplace.h"

namespace net {

class FtpUploadSteps final : public RemoteSteps {
public:
    // `source`: the local file sent; `shownName`: the name the progress window shows.
    FtpUploadSteps(FtpConnection& connection, UploadSource& source, std::string shownName, bool ascii);

    ServerFile describe(const std::string& path) override;
    StoreOutcome store(const std::string& path) override;
    StoreOutcome storeEmpty(const std::string& path) override;
    RenameReply rename(const std::string& from, const std::string& to) override;
    StepReply removeFile(const std::string& path) override;
    StepReply setMode(const std::string& path, unsigned mode) override;

    // The server's reply that ended the newest step that got one.
    const std::optional<ServerReply>& newestReply() const { return m_reply; }

private:
    StoreOutcome send(const std::string& path, bool empty);
    // One command in the folder of `path`, with no progress shown unless it removes a file.
    StepReply command(const std::string& line, const std::string& path, bool removal = false);
    void noteReply(const Operation& op);

    FtpConnection& m_connection;
    UploadSource& m_source;
    std::string m_shownName;
    bool m_ascii;
    std::optional<ServerReply> m_reply;
};

}  // namespace net
