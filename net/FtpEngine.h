#pragma once
// The FTP engine (plain, or explicit TLS for "ftps://"), over libcurl: one control
// connection per connection handle, directly or through a TIS gateway. Internal to net/.

#include <string>
#include <vector>

#include "net/Engine.h"
#include "net/FtpConnection.h"
#include "net/LocalFiles.h"

namespace net {

class FtpEngine final : public Engine {
public:
    explicit FtpEngine(const EngineContext& context);

    ConnectOutcome connect(const ConnectRequest& request) override;
    std::string currentDirectory() const override { return m_connection.cwd; }
    Outcome changeDirectory(const std::string& path) override;
    Outcome list(const std::string& folder, std::vector<ListEntry>& entries, bool linksAsLinks) override;
    Outcome download(const DownloadRequest& request) override;
    Outcome upload(const UploadRequest& request) override;
    Outcome createDirectory(const std::string& path) override;
    Outcome removeDirectory(const std::string& path) override;
    Outcome removeFile(const std::string& path) override;
    Outcome rename(const std::string& from, const std::string& to) override;
    Outcome setPermissions(const std::string& path, unsigned mode) override;

private:
    // Sets the connection up from the request; no network yet.
    [[nodiscard]] Outcome configure(const ConnectRequest& request);
    // One login, with FEAT; the login folder becomes the current one.
    [[nodiscard]] Outcome login();
    // The server file's size and time (-1 where it does not tell).
    [[nodiscard]] Outcome describeFile(const DownloadRequest& request, ServerFileId& file);
    // One transfer of a download into `target`, from `offset`; `code`: libcurl's outcome.
    [[nodiscard]] Outcome fetch(const DownloadRequest& request, DownloadTarget& target, ServerFileId& file,
                                std::uint64_t offset, CURLcode& code);
    // The finished file (`fd`) against the server's hash of it; `mismatch`: they differ.
    [[nodiscard]] Result checkHash(const DownloadRequest& request, DownloadOperation& op, int fd, bool& mismatch);
    // The layer's watcher says the running call ends because the program is being killed.
    // One server command on an absolute path, in that path's folder.
    [[nodiscard]] Outcome command(const std::string& line, const std::string& path);

    EngineContext m_context;
    FtpConnection m_connection;
    SpareFiles m_spares;  // for the small new files of a batch
};

}  // namespace net
