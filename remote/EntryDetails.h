#pragma once
// What a listing says about an entry besides its name, and the text that tells
// it to the user (tooltip, screen reader and the tree's columns). Pure: no window,
// no network.

#include <QLocale>
#include <QString>

#include <cstdint>

#include "net/WinInet.h"

namespace remote {

struct EntryDetails {
    static constexpr std::uint16_t kModeGiven = 0x8000;

    std::uint64_t size = 0;
    std::int64_t lastWrite = 0;  // 100-ns ticks since 1601-01-01 UTC; 0: not given
    std::uint16_t mode = 0;      // permission bits | kModeGiven; 0: not given
    bool dayOnly = false;        // the server gave the day of lastWrite, not its time
    bool link = false;           // a symbolic link
};

// Size, time and kind from a find record; the permissions and whether only the day is
// known from the two fields the layer fills for them (0 where the listing said nothing).
EntryDetails detailsOf(const net::WIN32_FIND_DATAA& record);

// "rwxr-xr-x" for the nine permission bits of `mode`.
QString permissionText(std::uint16_t mode);

// The size in the unit that fits it ("1.5 KiB").
QString sizeText(const EntryDetails& details, const QLocale& locale = QLocale());
// The modification time in the locale's short form, without seconds when it falls on
// a whole minute (a listing that gives minutes has none to show), only the day when
// the server gave only that; empty when not given.
QString modifiedText(const EntryDetails& details, const QLocale& locale = QLocale());

// The node's path, then a line each for a link, the size (files only), the
// modification time and the permissions, as far as the listing gave them. A root
// tells only its path.
QString describeEntry(const QString& path, bool root, bool folder, const EntryDetails& details,
                      const QLocale& locale = QLocale());

}  // namespace remote
