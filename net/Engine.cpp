#include "net/Engine.h"

#include "net/FtpEngine.h"
#include "net/FtpPath.h"
#include "net/LocalFiles.h"
#include "net/SftpEngine.h"

namespace net {

Outcome continueOrStartOver(DownloadTarget& target, ServerFileId& file, const CallWatcher* watcher,
                            const std::function<Outcome(ServerFileId& file)>& describe,
                            const std::function<Outcome(std::uint64_t offset, bool& startOver)>& fetch)
{
    std::uint64_t offset = 0;
    if (target.partSize() > 0 && target.partOf().server == file.server && target.partOf().path == file.path) {
        if (Outcome asked = describe(file); !asked.ok()) {
            // Nothing was learnt: the part stays as it was, unless the user cancelled.
            if (asked.result.error != ERROR_INTERNET_OPERATION_CANCELLED || (watcher && watcher->programKilled()))
                (void)target.keep();
            return asked;
        }
        if (file == target.partOf())
            offset = target.partSize();
    }
    if (offset == 0 && target.partSize() > 0)
        if (Result r = target.startOver(); !r.ok())
            return {std::move(r), std::nullopt, {}};
    bool startOver = false;
    Outcome outcome = fetch(offset, startOver);
    if (!outcome.ok() && offset > 0 && startOver) {
        if (Result r = target.startOver(); !r.ok())
            return {std::move(r), std::nullopt, {}};
        outcome = fetch(0, startOver);
    }
    return outcome;
}

std::unique_ptr<Engine> makeEngine(std::string_view serverName, const EngineContext& context)
{
    if (const auto server = parseServerName(serverName, 0); server && server->ssh)
        return std::make_unique<SftpEngine>(context);
    return std::make_unique<FtpEngine>(context);
}

}  // namespace net
