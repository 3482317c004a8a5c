#include "net/Engine.h"

#include "net/FtpEngine.h"
#include "net/FtpPath.h"
#include "net/SftpEngine.h"

namespace net {

std::unique_ptr<Engine> makeEngine(std::string_view serverName, const EngineContext& context)
{
    if (const auto server = parseServerName(serverName, 0); server && server->ssh)
        return std::make_unique<SftpEngine>(context);
    return std::make_unique<FtpEngine>(context);
}

}  // namespace net
