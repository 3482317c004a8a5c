#pragma once
// The SFTP engine ("sftp://host[:port]"), over libcurl and libssh2: one SSH session per
// connection handle, kept open between calls. Host keys are checked against the user's
// known_hosts before any password or key goes; the login is the password when one is
// typed, else the user's SSH agent and default key files. Internal to net/.

#include <string>
#include <vector>

#include "net/Engine.h"
#include "net/LocalFiles.h"
#include "net/SftpConnection.h"

namespace net {

class SftpEngine final : public Engine {
public:
    explicit SftpEngine(const EngineContext& context);

    ConnectOutcome connect(const ConnectRequest& request) override;
    std::string currentDirectory() const override { return m_connection.cwd; }
    // Lists the folder to learn that it is one; the listing serves the call right after.
    Outcome changeDirectory(const std::string& path) override;
    // A link is always listed as a link (SFTP's listing lines show it so).
    Outcome list(const std::string& folder, std::vector<ListEntry>& entries, bool linksAsLinks) override;
    // The bytes as they are, in either transfer type: SFTP has no text mode, and the servers
    // it reaches end their lines with LF, as this system does. A part kept from a cut download
    // continues at its end while the server's file has the same size and time as then.
    Outcome download(const DownloadRequest& request) override;
    // A binary upload's temporary is named after the local file: one cut continues at its size.
    Outcome upload(const UploadRequest& request) override;
    Outcome createDirectory(const std::string& path) override;
    Outcome removeDirectory(const std::string& path) override;
    Outcome removeFile(const std::string& path) override;
    Outcome rename(const std::string& from, const std::string& to) override;
    Outcome setPermissions(const std::string& path, unsigned mode) override;

private:
    [[nodiscard]] Outcome configure(const ConnectRequest& request);
    // One session: host key, login and the login folder.
    [[nodiscard]] Outcome logIn();
    [[nodiscard]] Outcome runCommand(const std::string& line, const std::string& path);
    // One read of the server's file into the target, from `offset`; `code` is libcurl's outcome.
    [[nodiscard]] Outcome fetch(const DownloadRequest& request, DownloadTarget& target, ServerFileId& file,
                                std::uint64_t offset, CURLcode& code);

    EngineContext m_context;
    SftpConnection m_connection;
    SpareFiles m_spares;  // for the small new files of a batch
};

}  // namespace net
