#include "settings/ConnectionFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace settings {

QByteArray formatSettings(const ConnectionFields& fields)
{
    QByteArray out;
    out += '"';
    out += fields.server.toUtf8();
    out += "\",\"";
    out += fields.user.toUtf8();
    out += "\",\"";
    out += fields.password.toUtf8();
    out += "\"\r\n";
    return out;
}

namespace {

bool isLineEnd(QChar c) { return c == u'\r' || c == u'\n'; }

// Moves past one delimiter (a comma, or a line end with CR LF counted as one).
// Returns true when a comma was consumed: a value must then follow.
bool skipDelimiter(const QString& text, qsizetype& pos)
{
    if (pos >= text.size())
        return false;
    const QChar c = text.at(pos);
    if (c == u',') {
        ++pos;
        return true;
    }
    if (c == u'\r') {
        ++pos;
        if (pos < text.size() && text.at(pos) == u'\n')
            ++pos;
    } else if (c == u'\n') {
        ++pos;
    }
    return false;
}

}  // namespace

ParseResult parseSettings(const QByteArray& data)
{
    return parseSettingsText(QString::fromUtf8(data));
}

namespace {

// Windows-1252 differs from Latin-1 only in 0x80..0x9F; 0 marks the five
// bytes it leaves undefined.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

bool isControl(char16_t c)
{
    return (c < 0x20 && c != u'\t' && c != u'\r' && c != u'\n') || (c >= 0x7F && c <= 0x9F);
}

}  // namespace

DecodedText decodeSettingsText(const QByteArray& data)
{
    DecodedText out;
    if (data.contains('\0')) {
        out.error = FileError::NulByte;
        return out;
    }
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    out.text = utf8.decode(data);
    if (utf8.hasError()) {
        out.text.clear();
        out.text.reserve(data.size());
        for (const char byte : data) {
            const auto b = static_cast<unsigned char>(byte);
            const char16_t c = b >= 0x80 && b <= 0x9F ? kCp1252High[b - 0x80] : char16_t(b);
            if (c == 0) {
                out.error = FileError::NotText;
                out.text.clear();
                return out;
            }
            out.text += QChar(c);
        }
    }  // else the decoder has dropped a leading byte-order mark
    for (const QChar c : std::as_const(out.text)) {
        if (isControl(c.unicode())) {
            out.error = FileError::ControlCharacter;
            out.detail = QStringLiteral("U+%1").arg(c.unicode(), 4, 16, QChar(u'0')).toUpper();
            out.text.clear();
            return out;
        }
    }
    return out;
}

ParseResult parseSettingsText(const QString& text)
{
    qsizetype pos = 0;
    bool commaBefore = false;  // a comma promises a value, even an empty one at the end
    QString values[3];

    for (int i = 0; i < 3; ++i) {
        while (pos < text.size() && text.at(pos) == u' ')
            ++pos;
        if (pos >= text.size()) {
            if (!commaBefore)
                return {std::nullopt, kEndsEarly};
            values[i].clear();
            commaBefore = false;
            continue;
        }

        if (text.at(pos) == u'"') {
            const qsizetype close = text.indexOf(u'"', pos + 1);
            const qsizetype end = close < 0 ? text.size() : close;
            values[i] = text.mid(pos + 1, end - pos - 1);
            pos = close < 0 ? text.size() : close + 1;
            // Whatever stands between the closing quote and the delimiter is dropped.
            while (pos < text.size() && text.at(pos) != u',' && !isLineEnd(text.at(pos)))
                ++pos;
        } else {
            const qsizetype start = pos;
            while (pos < text.size() && text.at(pos) != u',' && !isLineEnd(text.at(pos)))
                ++pos;
            values[i] = text.mid(start, pos - start);
        }
        commaBefore = skipDelimiter(text, pos);
    }
    return {ConnectionFields{values[0], values[1], values[2]}, {}};
}

QString FileResult::reason() const
{
    const QString sys = detail.isEmpty() ? QString() : detail.toLower();
    switch (error) {
    case FileError::None:
        return {};
    case FileError::CannotCreate:
        return sys.isEmpty() ? QStringLiteral("the file cannot be created")
                             : QStringLiteral("the file cannot be created (%1)").arg(sys);
    case FileError::CannotWrite:
        return sys.isEmpty() ? QStringLiteral("the file cannot be written")
                             : QStringLiteral("the file cannot be written (%1)").arg(sys);
    case FileError::DoesNotExist:
        return QStringLiteral("the file does not exist");
    case FileError::CannotRead:
        return sys.isEmpty() ? QStringLiteral("the file cannot be read")
                             : QStringLiteral("the file cannot be read (%1)").arg(sys);
    case FileError::EndsEarly:
        return QStringLiteral("the file ") + kEndsEarly;
    case FileError::TooLarge:
        return QStringLiteral("the file is larger than %1 KiB, far too large for connection settings")
            .arg(kMaxSettingsBytes / 1024);
    case FileError::NulByte:
        return QStringLiteral("the file is not text (it holds a NUL byte)");
    case FileError::ControlCharacter:
        return QStringLiteral("the file is not text (it holds the control character %1)").arg(detail);
    case FileError::NotText:
        return QStringLiteral("the file is not text (it holds bytes that are characters neither in "
                              "UTF-8 nor in Windows-1252)");
    }
    return {};
}

FileResult saveSettingsFile(const QString& path, const ConnectionFields& fields)
{
    FileResult result;
    result.path = path;

    if (QFileInfo(path).isDir()) {
        result.error = FileError::CannotCreate;
        result.detail = QStringLiteral("it is a folder");
        return result;
    }

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        result.error = FileError::CannotCreate;
        result.detail = file.errorString();
        return result;
    }
    // It holds the password in plain text: owner only, whatever the old file allowed.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    const QByteArray bytes = formatSettings(fields);
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        result.error = FileError::CannotWrite;
        result.detail = file.errorString();
        file.cancelWriting();
        return result;
    }
    return result;
}

FileResult loadSettingsFile(const QString& path)
{
    // Non-blocking: opening a pipe with no writer must not hang; only ordinary files are read.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        FileResult result;
        result.path = path;
        const int err = errno;
        result.error = err == ENOENT ? FileError::DoesNotExist : FileError::CannotRead;
        if (err != ENOENT)
            result.detail = QString::fromLocal8Bit(std::strerror(err));
        return result;
    }
    FileResult result = readSettingsFile(fd, path);
    ::close(fd);
    return result;
}

FileResult readSettingsFile(int fd, const QString& path)
{
    FileResult result;
    result.path = path;

    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        result.error = FileError::CannotRead;
        result.detail = QString::fromLocal8Bit(std::strerror(errno));
        return result;
    }
    if (!S_ISREG(st.st_mode)) {
        result.error = FileError::CannotRead;
        result.detail = S_ISDIR(st.st_mode) ? QStringLiteral("it is a folder")
                                            : QStringLiteral("it is not an ordinary file");
        return result;
    }

    // One byte past the bound tells a file that is too large.
    QByteArray data(kMaxSettingsBytes + 1, Qt::Uninitialized);
    qsizetype size = 0;
    while (size < data.size()) {
        const ssize_t n = ::read(fd, data.data() + size, static_cast<size_t>(data.size() - size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            result.error = FileError::CannotRead;
            result.detail = QString::fromLocal8Bit(std::strerror(errno));
            return result;
        }
        if (n == 0)
            break;
        size += n;
    }
    if (size > kMaxSettingsBytes) {
        result.error = FileError::TooLarge;
        return result;
    }
    data.truncate(size);

    DecodedText decoded = decodeSettingsText(data);
    if (decoded.error != FileError::None) {
        result.error = decoded.error;
        result.detail = decoded.detail;
        return result;
    }

    ParseResult parsed = parseSettingsText(decoded.text);
    if (!parsed.ok()) {
        result.error = FileError::EndsEarly;
        return result;
    }
    result.fields = std::move(parsed.fields);
    return result;
}

}  // namespace settings
