#include "remote/EntryDetails.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTimeZone>

namespace remote {

namespace {

// Between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kEpochDifferenceMs = 11644473600000LL;
constexpr std::int64_t kTicksPerMinute = 600000000LL;

}  // namespace

EntryDetails detailsOf(const net::WIN32_FIND_DATAA& record)
{
    EntryDetails d;
    d.size = (std::uint64_t(record.nFileSizeHigh) << 32) | record.nFileSizeLow;
    d.lastWrite = std::int64_t((std::uint64_t(record.ftLastWriteTime.dwHighDateTime) << 32) |
                               record.ftLastWriteTime.dwLowDateTime);
    d.mode = std::uint16_t(record.dwReserved0 & (EntryDetails::kModeGiven | 0777));
    d.dayOnly = record.dwReserved1 & 1;
    d.link = record.dwFileAttributes & net::FILE_ATTRIBUTE_REPARSE_POINT;
    return d;
}

QString permissionText(std::uint16_t mode)
{
    QString out(9, QLatin1Char('-'));
    const char letters[] = "rwx";
    for (int bit = 0; bit < 9; ++bit) {
        if (mode & (0400 >> bit))
            out[bit] = QLatin1Char(letters[bit % 3]);
    }
    return out;
}

QString sizeText(const EntryDetails& details, const QLocale& locale)
{
    return locale.formattedDataSize(qint64(details.size), 1);
}

QString modifiedText(const EntryDetails& details, const QLocale& locale)
{
    if (details.lastWrite <= 0)
        return {};
    const QDateTime when =
        QDateTime::fromMSecsSinceEpoch(details.lastWrite / 10000 - kEpochDifferenceMs, QTimeZone::utc());
    if (details.dayOnly)  // a day is a day where the server is: not moved into this time zone
        return locale.toString(when.date(), QLocale::ShortFormat);
    QString format = locale.dateTimeFormat(QLocale::ShortFormat);
    if (details.lastWrite % kTicksPerMinute == 0) {
        static const QRegularExpression seconds(QStringLiteral("[:.]ss?"));
        format.remove(seconds);
    }
    return locale.toString(when.toLocalTime(), format);
}

QString describeEntry(const QString& path, bool root, bool folder, const EntryDetails& details, const QLocale& locale)
{
    QString text = path;
    if (root)
        return text;
    if (details.link)
        text += QStringLiteral("\nType: link");
    if (!folder)
        text += QStringLiteral("\nSize: ") + sizeText(details, locale);
    if (details.lastWrite > 0) {
        text += QStringLiteral("\nModified: ") + modifiedText(details, locale);
        if (details.dayOnly)
            text += QStringLiteral(" (the server gave only the day)");
    }
    if (details.mode & EntryDetails::kModeGiven)
        text += QStringLiteral("\nPermissions: ") + permissionText(details.mode);
    return text;
}

}  // namespace remote
