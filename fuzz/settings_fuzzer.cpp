// libFuzzer target for the settings-file reader (settings/ConnectionFile.h):
// the input is the bytes of a settings file. The bounded reader reads it from
// an in-memory file, as the program reads a file the user picks; parseSettings
// takes the bytes directly. Besides the sanitizers, it checks that the reader
// refuses exactly what is too large, holds NUL or control characters or is text
// neither in UTF-8 nor in Windows-1252, and otherwise agrees with parseSettings
// (on Windows-1252 text: wherever the characters are ASCII), that a parse failure carries the "ends early" message, and
// that values without a double quote survive being written back with
// formatSettings and read again.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <QByteArray>
#include <QRegularExpression>
#include <QStringDecoder>

#include <optional>

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

    const int fd = ::memfd_create("settings", MFD_CLOEXEC);
    require(fd >= 0, "no in-memory file");
    require(::write(fd, data, size) == static_cast<ssize_t>(size) && ::lseek(fd, 0, SEEK_SET) == 0,
            "in-memory file not written");
    const settings::FileResult read = settings::readSettingsFile(fd, QStringLiteral("fuzz.kvx"));
    ::close(fd);
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString asUtf8 = utf8.decode(bytes);
    const bool isUtf8 = !utf8.hasError();
    // Windows-1252 leaves five bytes undefined; it agrees with Latin-1 on the rest but 0x80..0x9F.
    const QString asLatin1 = QString::fromLatin1(bytes);
    const bool cp1252 = !asLatin1.contains(QRegularExpression(QStringLiteral("[\x81\x8d\x8f\x90\x9d]")));
    const QString text = isUtf8 ? asUtf8 : asLatin1;
    const bool control = text.contains(QRegularExpression(isUtf8 ? QStringLiteral("[\x01-\x08\x0b\x0c\x0e-\x1f\x7f-\x9f]")
                                                                 : QStringLiteral("[\x01-\x08\x0b\x0c\x0e-\x1f\x7f]")));
    const auto ascii = [](std::optional<settings::ConnectionFields> f) {
        if (f)
            for (QString* s : {&f->server, &f->user, &f->password})
                for (QChar& c : *s)
                    c = c.unicode() < 0x80 ? c : QChar(u'?');
        return f;
    };
    if (static_cast<qsizetype>(size) > settings::kMaxSettingsBytes)
        require(read.error == settings::FileError::TooLarge, "a too large file read");
    else if (bytes.contains('\0'))
        require(read.error == settings::FileError::NulByte, "a NUL byte read");
    else if (!isUtf8 && !cp1252)
        require(read.error == settings::FileError::NotText, "bytes that are no text read");
    else if (control)
        require(read.error == settings::FileError::ControlCharacter, "a control character read");
    else if (isUtf8 ? result.ok() : settings::parseSettingsText(asLatin1).ok())
        require(read.ok() && (isUtf8 ? read.fields == settings::parseSettingsText(asUtf8).fields
                                     : ascii(read.fields) == ascii(settings::parseSettingsText(asLatin1).fields)),
                "the file reader disagrees with the parser");
    else
        require(read.error == settings::FileError::EndsEarly, "a short file read");

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
