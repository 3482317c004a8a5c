// libFuzzer target for the settings-file reader (settings/ConnectionFile.h):
// the input is the bytes of a settings file, given to parseSettings.
// Besides the sanitizers, it checks that a failure carries the "ends early"
// message, and that values without a double quote survive being written
// back with formatSettings and read again.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <QByteArray>

#include "settings/ConnectionFile.h"

namespace {

void require(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "settings fuzzer: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data),
                                                     static_cast<qsizetype>(size));
    const settings::ParseResult result = settings::parseSettings(bytes);
    if (!result.ok()) {
        require(result.error == settings::kEndsEarly, "failure without the ends-early message");
        return 0;
    }
    require(result.error.isEmpty(), "success with an error message");

    const settings::ConnectionFields& f = *result.fields;
    if (f.server.contains(u'"') || f.user.contains(u'"') || f.password.contains(u'"'))
        return 0;  // nothing is escaped: such values cannot be written back
    const settings::ParseResult again = settings::parseSettings(settings::formatSettings(f));
    require(again.ok(), "formatted settings do not parse");
    require(*again.fields == f, "formatted settings read back differently");
    return 0;
}
