#pragma once
// The connection settings file (".kvx"): one line
//   "server","user","password"\r\n
// in UTF-8, nothing escaped. Reading also accepts bare values and values on
// separate lines.

#include <QByteArray>
#include <QString>

#include <optional>

namespace settings {

struct ConnectionFields {
    QString server;
    QString user;
    QString password;

    friend bool operator==(const ConnectionFields&, const ConnectionFields&) = default;
};

// The exact bytes the program writes for these fields.
QByteArray formatSettings(const ConnectionFields& fields);

struct ParseResult {
    std::optional<ConnectionFields> fields;  // set on success
    QString error;                           // "ends before the third value" otherwise
    bool ok() const { return fields.has_value(); }
};

// Takes the first three values from the start of data; the rest is ignored.
ParseResult parseSettings(const QByteArray& data);

inline const QString kEndsEarly = QStringLiteral("ends before the third value");

enum class FileError {
    None,
    CannotCreate,   // the file (or its temporary neighbour) could not be created
    CannotWrite,    // writing or replacing the file failed
    DoesNotExist,
    CannotRead,
    EndsEarly,      // fewer than three values
    TooLarge,       // more than kMaxSettingsBytes: no settings file
    NotText,        // not UTF-8 text (binary junk, NUL bytes)
};

// A settings line is a few hundred bytes; reading stops past this.
inline constexpr qsizetype kMaxSettingsBytes = 64 * 1024;

struct FileResult {
    QString path;          // the file concerned
    FileError error = FileError::None;
    QString detail;        // the system's words, when it gave any
    std::optional<ConnectionFields> fields;  // set by a successful load

    bool ok() const { return error == FileError::None; }
    // "permission denied", "the file does not exist", ... for messages.
    QString reason() const;
};

// Writes everything to a temporary file beside path and renames it over path,
// so a failed save leaves any old file as it was. The file is made 0600.
FileResult saveSettingsFile(const QString& path, const ConnectionFields& fields);

// Reads only an ordinary file (never waits on a pipe or reads a device), at most
// kMaxSettingsBytes of it, and only text.
FileResult loadSettingsFile(const QString& path);

// The reading part of loadSettingsFile, on a file already open for reading: the
// same checks and the same result. `path` only names the file in the result.
FileResult readSettingsFile(int fd, const QString& path);

}  // namespace settings
