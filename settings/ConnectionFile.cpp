#include "settings/ConnectionFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

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
    FileResult result;
    result.path = path;

    const QFileInfo info(path);
    if (!info.exists()) {
        result.error = FileError::DoesNotExist;
        return result;
    }
    if (info.isDir()) {
        result.error = FileError::CannotRead;
        result.detail = QStringLiteral("it is a folder");
        return result;
    }

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = FileError::CannotRead;
        result.detail = file.errorString();
        return result;
    }
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        result.error = FileError::CannotRead;
        result.detail = file.errorString();
        return result;
    }
    file.close();

    ParseResult parsed = parseSettings(data);
    if (!parsed.ok()) {
        result.error = FileError::EndsEarly;
        return result;
    }
    result.fields = std::move(parsed.fields);
    return result;
}

}  // namespace settings
