#include "net/Engine.h"

#include "net/FtpEngine.h"

namespace net {

std::unique_ptr<Engine> makeEngine(std::string_view serverName, const EngineContext& context)
{
    // "ftp://", "ftps://" and names without a scheme. A second protocol's scheme is told here.
    (void)serverName;
    return std::make_unique<FtpEngine>(context);
}

}  // namespace net
