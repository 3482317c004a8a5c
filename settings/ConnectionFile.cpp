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
    const QString text = QString::fromUtf8(data);
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
    case FileError::NotText:
        return QStringLiteral("the file is not text (it holds bytes that are not UTF-8 characters)");
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

    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    (void)QString(utf8.decode(data));
    if (utf8.hasError() || data.contains('\0')) {
        result.error = FileError::NotText;
        return result;
    }

    ParseResult parsed = parseSettings(data);
    if (!parsed.ok()) {
        result.error = FileError::EndsEarly;
        return result;
    }
    result.fields = std::move(parsed.fields);
    return result;
}

}  // namespace settings
