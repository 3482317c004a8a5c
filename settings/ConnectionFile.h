#pragma once
// The connection settings file (".kvx"): one line
//   "server","user","password"\r\n
// written in UTF-8, nothing escaped. Reading also accepts bare values, values on
// separate lines, and files in Windows-1252 (the 8-bit code page such files were
// first written in) when they are not valid UTF-8.

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

// Takes the first three values from the start of the text; the rest is ignored.
ParseResult parseSettingsText(const QString& text);
// The same on bytes read as UTF-8.
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
    NulByte,        // a NUL byte: no text file
    ControlCharacter,  // a control character other than tab, CR and LF; detail names it
    NotText,        // bytes that are characters neither in UTF-8 nor in Windows-1252
};

struct DecodedText {
    QString text;
    FileError error = FileError::None;  // None, NulByte, ControlCharacter or NotText
    QString detail;                     // the control character, as "U+0001"
};

// The text of a settings file's bytes: UTF-8 when they are valid UTF-8 (a leading
// byte-order mark dropped), else Windows-1252. Refuses NUL bytes, control
// characters and bytes that Windows-1252 leaves undefined.
DecodedText decodeSettingsText(const QByteArray& data);

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
// kMaxSettingsBytes of it, and only text (decodeSettingsText).
FileResult loadSettingsFile(const QString& path);

// The reading part of loadSettingsFile, on a file already open for reading: the
// same checks and the same result. `path` only names the file in the result.
FileResult readSettingsFile(int fd, const QString& path);

}  // namespace settings
