#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <random>
#include <set>
#include <string>

#include "net/ListingParser.h"

using namespace std::string_literals;
using namespace std::string_view_literals;
using net::ListEntry;
using net::parseListing;
using net::parseListLine;
using net::parseListLineAt;
using net::parseMlsdLine;

namespace {

constexpr net::DWORD kDir = net::FILE_ATTRIBUTE_DIRECTORY;
constexpr net::DWORD kFile = net::FILE_ATTRIBUTE_NORMAL;
constexpr net::DWORD kLink = net::FILE_ATTRIBUTE_REPARSE_POINT;

// 2024-06-15 12:00:00 UTC
constexpr std::int64_t kNow = 1718452800;

std::uint64_t ticks(const net::FILETIME& ft)
{
    return (std::uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// Independent of the parser's own calendar code: the C library's timegm.
std::uint64_t expectTicks(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    return (std::uint64_t(timegm(&tm)) + 11644473600ull) * 10000000ull;
}

ListEntry list(std::string_view line)
{
    auto e = parseListLineAt(line, kNow);
    EXPECT_TRUE(e.has_value()) << "did not parse: " << line;
    return e.value_or(ListEntry{});
}

ListEntry mlsd(std::string_view line)
{
    auto e = parseMlsdLine(line);
    EXPECT_TRUE(e.has_value()) << "did not parse: " << line;
    return e.value_or(ListEntry{});
}

}  // namespace

// ---- time conversion ----------------------------------------------------------

TEST(ListingTime, KnownFileTimeValue)
{
    // 2024-01-01 12:00:00 UTC, worked out by hand.
    auto e = mlsd("type=file;size=1;modify=20240101120000; a");
    EXPECT_EQ(ticks(e.lastWrite), 133485840000000000ull);
    EXPECT_EQ(e.lastWrite.dwHighDateTime, 133485840000000000ull >> 32);
    EXPECT_EQ(e.lastWrite.dwLowDateTime, 133485840000000000ull & 0xffffffffull);
}

TEST(ListingTime, LeapDayAndCenturyBoundaries)
{
    EXPECT_EQ(ticks(mlsd("modify=20240229235959; a").lastWrite), expectTicks(2024, 2, 29, 23, 59, 59));
    EXPECT_EQ(ticks(mlsd("modify=20000301000000; a").lastWrite), expectTicks(2000, 3, 1));
    EXPECT_EQ(ticks(mlsd("modify=19700101000000; a").lastWrite), 116444736000000000ull);
    EXPECT_EQ(ticks(mlsd("modify=16010101000000; a").lastWrite), 0u);
    EXPECT_EQ(ticks(mlsd("modify=21000101000000; a").lastWrite), expectTicks(2100, 1, 1));
}

// ---- MLSD -------------------------------------------------------------------------

TEST(MlsdLine, FileWithSizeAndTime)
{
    auto e = mlsd("type=file;size=1234;modify=20240101120000;perm=adfrw; file.txt");
    EXPECT_EQ(e.name, "file.txt");
    EXPECT_EQ(e.attributes, kFile);
    EXPECT_EQ(e.size, 1234u);
    EXPECT_EQ(ticks(e.lastWrite), expectTicks(2024, 1, 1, 12));
}

TEST(ListingLines, PermissionsAndDaysWithoutTime)
{
    const struct {
        std::string line;
        bool mlsd;
        std::uint16_t mode;  // with kModeGiven when the line gives permissions
        bool dayOnly;
    } rows[] = {
        {"type=file;size=1;modify=20240101120000;unix.mode=0640; a", true, 0640 | net::kModeGiven, false},
        {"type=file;size=1;modify=20240101120000;perm=adfrw; a", true, 0, false},
        {"type=file;unix.mode=9z; a", true, 0, false},
        {"-rw-r--r--    1 ftp      ftp         12 Mar 14  2023 a", false, 0644 | net::kModeGiven, true},
        {"drwsr-S--T    1 ftp      ftp         12 Mar 14 10:01 a", false, 0740 | net::kModeGiven, false},
    };
    for (const auto& row : rows) {
        auto e = row.mlsd ? mlsd(row.line) : list(row.line);
        EXPECT_EQ(e.mode, row.mode) << row.line;
        EXPECT_EQ(e.dayOnly, row.dayOnly) << row.line;
    }
}

TEST(MlsdLine, DirectoryKinds)
{
    auto d = mlsd("type=dir;size=0;modify=20240101120000;perm=el; pub");
    EXPECT_EQ(d.attributes, kDir);
    EXPECT_EQ(d.name, "pub");
    auto c = mlsd("type=cdir;modify=20240101120000;perm=el; .");
    EXPECT_EQ(c.attributes, kDir);
    EXPECT_EQ(c.name, ".");
    auto p = mlsd("type=pdir;modify=20240101120000;perm=el; ..");
    EXPECT_EQ(p.attributes, kDir);
    EXPECT_EQ(p.name, "..");
    // Some servers name the current folder in full.
    EXPECT_EQ(mlsd("type=cdir;perm=el; /home/user").name, "/home/user");
}

TEST(MlsdLine, SymlinkSpellings)
{
    EXPECT_EQ(mlsd("type=OS.unix=symlink;size=7; bin").attributes, kLink);
    EXPECT_EQ(mlsd("type=OS.unix=slink; bin").attributes, kLink);
    EXPECT_EQ(mlsd("type=os.UNIX=SLINK:/usr/bin; bin").attributes, kLink);
    EXPECT_EQ(mlsd("type=OS.unix=slink:/usr/bin; bin").name, "bin");
}

TEST(MlsdLine, UnknownOrMissingTypeIsAFile)
{
    EXPECT_EQ(mlsd("type=OS.unix=chr-1/3; null").attributes, kFile);
    EXPECT_EQ(mlsd("type=OS.unix=symlinked; x").attributes, kFile);
    EXPECT_EQ(mlsd("type=weird; x").attributes, kFile);
    EXPECT_EQ(mlsd("size=10; x").attributes, kFile);
    EXPECT_EQ(mlsd("size=10; x").size, 10u);
}

TEST(MlsdLine, FactNamesAndTypeValuesIgnoreCase)
{
    auto e = mlsd("TYPE=DIR;Size=5;MODIFY=20240101120000; Pub");
    EXPECT_EQ(e.attributes, kDir);
    EXPECT_EQ(e.size, 5u);
    EXPECT_EQ(ticks(e.lastWrite), expectTicks(2024, 1, 1, 12));
    EXPECT_EQ(e.name, "Pub");
    EXPECT_EQ(mlsd("Type=File; x").attributes, kFile);
    EXPECT_EQ(mlsd("type=CDir; .").attributes, kDir);
}

TEST(MlsdLine, NameIsEverythingAfterTheFirstSpace)
{
    EXPECT_EQ(mlsd("type=file;size=1; my file.txt").name, "my file.txt");
    EXPECT_EQ(mlsd("type=file;size=1;  leading").name, " leading");
    EXPECT_EQ(mlsd("type=file;size=1; trailing  ").name, "trailing  ");
    EXPECT_EQ(mlsd("type=file;size=1; a;b=c; d").name, "a;b=c; d");
    EXPECT_EQ(mlsd("type=file;size=1; size=99; x").size, 1u);
    EXPECT_EQ(mlsd("type=file; tab\there").name, "tab\there");
}

TEST(MlsdLine, NameBytesAreKept)
{
    const std::string raw = "type=file;size=3; \xff\xfe\x80 caf\xc3\xa9\0z"s;
    auto e = mlsd(raw);
    EXPECT_EQ(e.name, "\xff\xfe\x80 caf\xc3\xa9\0z"s);
    EXPECT_EQ(e.name.size(), 11u);
}

TEST(MlsdLine, LongNamesAreKeptWhole)
{
    const std::string name(1000, 'n');
    auto e = mlsd("type=file;size=1; " + name);
    EXPECT_EQ(e.name.size(), 1000u);
    EXPECT_EQ(e.name, name);
}

TEST(MlsdLine, SizesBeyondFourGigabytes)
{
    EXPECT_EQ(mlsd("type=file;size=5368709120; big.iso").size, 5368709120ull);
    EXPECT_EQ(mlsd("type=file;size=18446744073709551615; max").size, 18446744073709551615ull);
    // Overflowing or non-numeric sizes read as unknown, the entry stays.
    EXPECT_EQ(mlsd("type=file;size=18446744073709551616; over").size, 0u);
    EXPECT_EQ(mlsd("type=file;size=12ab; bad").size, 0u);
}

TEST(MlsdLine, FractionalSeconds)
{
    EXPECT_EQ(ticks(mlsd("modify=20240101120000.5; a").lastWrite), expectTicks(2024, 1, 1, 12) + 5000000);
    EXPECT_EQ(ticks(mlsd("modify=20240101120000.123; a").lastWrite), expectTicks(2024, 1, 1, 12) + 1230000);
    EXPECT_EQ(ticks(mlsd("modify=20240101120000.123456789; a").lastWrite),
              expectTicks(2024, 1, 1, 12) + 1234567);
}

TEST(MlsdLine, BadTimesLeaveTheTimeUnknown)
{
    for (const char* line : {"modify=2024; a", "modify=20241301120000; a", "modify=20240100120000; a",
                             "modify=20240101250000; a", "modify=2024010112000x; a",
                             "modify=20240101120000.; a", "modify=20240101120000Z; a",
                             "modify=20240101120000.1x; a"}) {
        auto e = parseMlsdLine(line);
        ASSERT_TRUE(e) << line;
        EXPECT_EQ(ticks(e->lastWrite), 0u) << line;
        EXPECT_EQ(e->name, "a");
    }
}

TEST(MlsdLine, FactlessEntry)
{
    auto e = mlsd(" lonely");
    EXPECT_EQ(e.name, "lonely");
    EXPECT_EQ(e.attributes, kFile);
}

TEST(MlsdLine, Rejects)
{
    EXPECT_FALSE(parseMlsdLine(""));
    EXPECT_FALSE(parseMlsdLine("type=file;size=1;"));      // no name
    EXPECT_FALSE(parseMlsdLine("type=file;size=1; "));     // empty name
    EXPECT_FALSE(parseMlsdLine("type=file;size=1; \r"));   // empty once CR goes
    EXPECT_FALSE(parseMlsdLine("226 Transfer complete"));  // "226" is no fact
    EXPECT_FALSE(parseMlsdLine("=file; x"));
    EXPECT_FALSE(parseMlsdLine("type=file;junk; x"));
}

TEST(MlsdLine, TrailingCarriageReturnIsNotPartOfTheName)
{
    EXPECT_EQ(mlsd("type=file;size=1; a.txt\r").name, "a.txt");
}

// ---- Unix ls -l -------------------------------------------------------------------

TEST(UnixLine, RegularFileWithGroup)
{
    auto e = list("-rw-r--r--    1 ftp      ftp         12345 Mar 14  2023 readme.txt");
    EXPECT_EQ(e.name, "readme.txt");
    EXPECT_EQ(e.attributes, kFile);
    EXPECT_EQ(e.size, 12345u);
    EXPECT_EQ(ticks(e.lastWrite), expectTicks(2023, 3, 14));
}

TEST(UnixLine, WithoutGroupColumn)
{
    auto e = list("-rw-r--r--  1 alice  4096 Jan  5  2021 notes");
    EXPECT_EQ(e.name, "notes");
    EXPECT_EQ(e.size, 4096u);
    EXPECT_EQ(ticks(e.lastWrite), expectTicks(2021, 1, 5));
}

TEST(UnixLine, WithoutLinkCount)
{
    auto e = list("-rw-r--r-- ftp ftp 12 Feb 2 2020 a");
    EXPECT_EQ(e.name, "a");
    EXPECT_EQ(e.size, 12u);
}

TEST(UnixLine, NumericOwners)
{
    auto e = list("drwxr-xr-x    2 1000     1000         4096 Mar 14  2023 Documents");
    EXPECT_EQ(e.name, "Documents");
    EXPECT_EQ(e.attributes, kDir);
    EXPECT_EQ(e.size, 4096u);
}

TEST(UnixLine, OwnerNamedLikeAMonth)
{
    const struct {
        const char* line;
        const char* name;
        std::uint64_t size;
        int month, day;
    } cases[] = {
        {"-rw-r--r-- 1 Jan Feb 12 Mar 3 2021 x", "x", 12, 3, 3},
        {"-rw-r--r-- 1 may 20 1024 Jan 5 2021 notes", "notes", 1024, 1, 5},  // group a day number
    };
    for (const auto& c : cases) {
        auto e = list(c.line);
        EXPECT_EQ(e.name, c.name) << c.line;
        EXPECT_EQ(e.size, c.size) << c.line;
        EXPECT_EQ(ticks(e.lastWrite), expectTicks(2021, c.month, c.day)) << c.line;
    }
}

TEST(UnixLine, DirectoryIsExactlyDirectoryEvenWhenReadOnly)
{
    EXPECT_EQ(list("dr-xr-xr-x   2 root root 4096 Dec 24  2022 ro").attributes, kDir);
    EXPECT_EQ(list("d---------   2 root root 4096 Dec 24  2022 locked").attributes, kDir);
    EXPECT_EQ(list("drwxr-xr-x+  3 root root 4096 Dec 24  2022 acl").attributes, kDir);
    EXPECT_EQ(list("drwxrwxrwt  10 root root 4096 Dec 24  2022 tmp").attributes, kDir);
}

TEST(UnixLine, OtherTypeLettersAreFiles)
{
    EXPECT_EQ(list("prw-r--r-- 1 root root 0 Jan 1 2020 fifo").attributes, kFile);
    EXPECT_EQ(list("srwxrwxrwx 1 root root 0 Jan 1 2020 sock").attributes, kFile);
    EXPECT_EQ(list("---------- 1 owner group 1803128 Jul 10 2019 ls-lR.Z").attributes, kFile);
}

TEST(UnixLine, DeviceFilesHaveMajorMinorInsteadOfSize)
{
    auto c = list("crw-rw-rw- 1 root root 1, 3 Jan 1 2020 null");
    EXPECT_EQ(c.name, "null");
    EXPECT_EQ(c.attributes, kFile);
    EXPECT_EQ(c.size, 0u);
    EXPECT_EQ(ticks(c.lastWrite), expectTicks(2020, 1, 1));
    auto b = list("brw-rw----   1 root     disk       8,   0 Jun 10 09:15 sda");
    EXPECT_EQ(b.name, "sda");
    EXPECT_EQ(b.size, 0u);
    auto packed = list("crw-------  1 root  tty  4,1 Jan 1 2020 tty1");
    EXPECT_EQ(packed.name, "tty1");
    EXPECT_EQ(packed.size, 0u);
}

TEST(UnixLine, SymlinkNameStopsAtArrow)
{
    auto e = list("lrwxrwxrwx    1 0        0               7 Feb 10  2023 bin -> usr/bin");
    EXPECT_EQ(e.name, "bin");
    EXPECT_EQ(e.attributes, kLink);
    EXPECT_EQ(e.size, 7u);
    EXPECT_EQ(list("lrwxrwxrwx 1 u g 9 Feb 10 2023 my link -> a -> b").name, "my link");
    EXPECT_EQ(list("lrwxrwxrwx 1 u g 9 Feb 10 2023 dangling").name, "dangling");
    // Only links carry a target; elsewhere the arrow is part of the name.
    EXPECT_EQ(list("-rw-r--r-- 1 u g 9 Feb 10 2023 a -> b").name, "a -> b");
}

TEST(UnixLine, NamesWithSpacesAreKeptByteForByte)
{
    EXPECT_EQ(list("-rw-r--r-- 1 u g 5 Jan  1  2020 two  spaces").name, "two  spaces");
    EXPECT_EQ(list("-rw-r--r-- 1 u g 5 Jan  1  2020 trailing  ").name, "trailing  ");
    EXPECT_EQ(list("-rw-r--r-- 1 u g 5 Jan  1  2020   leading").name, "  leading");
    EXPECT_EQ(list("-rw-r--r-- 1 u g 5 Jan  1 12:00  leading").name, " leading");
    EXPECT_EQ(list("-rw-r--r-- 1 u g 5 Jan  1  2020 Jan 1 2020 x").name, "Jan 1 2020 x");
    EXPECT_EQ(list("-rw-r--r-- 1 u g 5 Jan  1  2020 tab\tin").name, "tab\tin");
}

TEST(UnixLine, NameBytesAndLength)
{
    const std::string bytes = "\xff\x80\0\x01 x"s;
    EXPECT_EQ(list("-rw-r--r-- 1 u g 5 Jan 1 2020 " + bytes).name, bytes);
    const std::string longName(600, 'q');
    EXPECT_EQ(list("-rw-r--r-- 1 u g 5 Jan 1 2020 " + longName).name, longName);
}

TEST(UnixLine, LargeSize)
{
    EXPECT_EQ(list("-rw-r--r-- 1 u g 5368709120 Jan 1 2020 big").size, 5368709120ull);
}

TEST(UnixLine, RecentDatesTakeTheCurrentYear)
{
    // now is 2024-06-15 12:00 UTC
    EXPECT_EQ(ticks(list("-rw-r--r-- 1 u g 1 Jun 15 09:30 a").lastWrite), expectTicks(2024, 6, 15, 9, 30));
    EXPECT_EQ(ticks(list("-rw-r--r-- 1 u g 1 Jan  2 00:00 a").lastWrite), expectTicks(2024, 1, 2));
    EXPECT_EQ(ticks(list("-rw-r--r-- 1 u g 1 Feb 29 23:59 a").lastWrite), expectTicks(2024, 2, 29, 23, 59));
    EXPECT_EQ(ticks(list("-rw-r--r-- 1 u g 1 Jun 15 9:05 a").lastWrite), expectTicks(2024, 6, 15, 9, 5));
}

TEST(UnixLine, DatesMoreThanADayAheadBelongToLastYear)
{
    EXPECT_EQ(ticks(list("-rw-r--r-- 1 u g 1 Jun 16 12:00 a").lastWrite), expectTicks(2024, 6, 16, 12));
    EXPECT_EQ(ticks(list("-rw-r--r-- 1 u g 1 Jun 16 12:01 a").lastWrite), expectTicks(2023, 6, 16, 12, 1));
    EXPECT_EQ(ticks(list("-rw-r--r-- 1 u g 1 Dec 31 23:59 a").lastWrite), expectTicks(2023, 12, 31, 23, 59));

    const std::int64_t newYear = 1704068400;  // 2024-01-01 00:20 UTC
    auto e = parseListLineAt("-rw-r--r-- 1 u g 1 Dec 31 23:00 a", newYear);
    ASSERT_TRUE(e);
    EXPECT_EQ(ticks(e->lastWrite), expectTicks(2023, 12, 31, 23));
}

TEST(UnixLine, ClockedVersionNeverPlacesTimesFarAhead)
{
    const auto now = std::chrono::system_clock::now();
    const std::int64_t nowSecs =
        std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    const std::uint64_t limit = (std::uint64_t(nowSecs) + 11644473600ull + 86400) * 10000000ull;
    const std::uint64_t yearAgo = (std::uint64_t(nowSecs) + 11644473600ull - 367 * 86400) * 10000000ull;
    for (const char* m : {"Jan", "Mar", "Jun", "Sep", "Dec"}) {
        auto e = parseListLine("-rw-r--r-- 1 u g 1 "s + m + " 28 23:59 a");
        ASSERT_TRUE(e) << m;
        EXPECT_LE(ticks(e->lastWrite), limit) << m;
        EXPECT_GT(ticks(e->lastWrite), yearAgo) << m;
    }
    auto fixed = parseListLine("-rw-r--r-- 1 u g 1 Jan 1 2020 a");
    ASSERT_TRUE(fixed);
    EXPECT_EQ(ticks(fixed->lastWrite), expectTicks(2020, 1, 1));
}

TEST(UnixLine, MonthNamesIgnoreCase)
{
    EXPECT_EQ(ticks(list("-rw-r--r-- 1 u g 1 SEP 9 2019 a").lastWrite), expectTicks(2019, 9, 9));
    EXPECT_EQ(ticks(list("-rw-r--r-- 1 u g 1 nov 30 2019 a").lastWrite), expectTicks(2019, 11, 30));
}

TEST(UnixLine, Rejects)
{
    for (const char* line : {
             "total 123",
             "total 0",
             "",
             "-rw-r--r--",
             "-rw-r--r-- 1 u g 5 Jan 1 2020",             // no name
             "-rw-r--r-- 1 u g 5 Jan 1 2020 ",            // empty name
             "-rw-r--r-- 1 u g five Jan 1 2020 a",        // size is no number
             "-rw-r--r-- 1 u g 5 Foo 1 2020 a",           // no month
             "-rw-r--r-- 1 u g 5 Jan 32 2020 a",          // no such day
             "-rw-r--r-- 1 u g 5 Jan 0 2020 a",
             "-rw-r--r-- 1 u g 5 Jan 1 24:00 a",          // no such hour
             "-rw-r--r-- 1 u g 5 Jan 1 12:60 a",
             "-rw-r--r-- 1 u g 5 Jan 1 20201 a",
             "-rw-r--r-- 1 u g 18446744073709551616 Jan 1 2020 a",
             "xrw-r--r-- 1 u g 5 Jan 1 2020 a",           // unknown type letter
             "-rw-r-Zr-- 1 u g 5 Jan 1 2020 a",           // bad permission letter
             "226 Transfer complete.",
             "ls: cannot access 'x': No such file or directory",
         }) {
        EXPECT_FALSE(parseListLineAt(line, kNow)) << line;
    }
}

// ---- DOS / IIS ----------------------------------------------------------------------

TEST(DosLine, DirectoryAndFile)
{
    auto d = list("01-02-24  03:04PM       <DIR>          folder name");
    EXPECT_EQ(d.name, "folder name");
    EXPECT_EQ(d.attributes, kDir);
    EXPECT_EQ(d.size, 0u);
    EXPECT_EQ(ticks(d.lastWrite), expectTicks(2024, 1, 2, 15, 4));

    auto f = list("01-02-24  03:04PM              1234 file.txt");
    EXPECT_EQ(f.name, "file.txt");
    EXPECT_EQ(f.attributes, kFile);
    EXPECT_EQ(f.size, 1234u);
    EXPECT_EQ(ticks(f.lastWrite), expectTicks(2024, 1, 2, 15, 4));
}

TEST(DosLine, FourDigitYearsAnd24HourTimes)
{
    auto e = list("12-31-2023  23:59                 5368709120 big.iso");
    EXPECT_EQ(e.size, 5368709120ull);
    EXPECT_EQ(ticks(e.lastWrite), expectTicks(2023, 12, 31, 23, 59));
    auto d = list("07-04-2021  00:00       <DIR>          root");
    EXPECT_EQ(d.attributes, kDir);
    EXPECT_EQ(ticks(d.lastWrite), expectTicks(2021, 7, 4));
}

TEST(DosLine, TwelveOClock)
{
    EXPECT_EQ(ticks(list("03-05-22  12:15AM                 1 a").lastWrite), expectTicks(2022, 3, 5, 0, 15));
    EXPECT_EQ(ticks(list("03-05-22  12:15PM                 1 a").lastWrite), expectTicks(2022, 3, 5, 12, 15));
    EXPECT_EQ(ticks(list("03-05-22  01:15am                 1 a").lastWrite), expectTicks(2022, 3, 5, 1, 15));
    EXPECT_EQ(ticks(list("03-05-22  11:15 PM                1 a").lastWrite), expectTicks(2022, 3, 5, 23, 15));
}

TEST(DosLine, TwoDigitYearWindow)
{
    EXPECT_EQ(ticks(list("04-27-99  09:09PM       <DIR>          old").lastWrite), expectTicks(1999, 4, 27, 21, 9));
    EXPECT_EQ(ticks(list("04-27-69  09:09PM       <DIR>          new").lastWrite), expectTicks(2069, 4, 27, 21, 9));
    EXPECT_EQ(ticks(list("04-27-70  09:09PM       <DIR>          epoch").lastWrite), expectTicks(1970, 4, 27, 21, 9));
}

TEST(DosLine, NamesAndSizes)
{
    EXPECT_EQ(list("01-02-24  03:04PM              1234  lead").name, " lead");
    EXPECT_EQ(list("01-02-24  03:04PM              1234 trail ").name, "trail ");
    EXPECT_EQ(list("01-02-24  03:04PM              1,234,567 commas").size, 1234567u);
    EXPECT_EQ(list("01/02/2024  15:04       <dir>          lower").attributes, kDir);
    EXPECT_EQ(list("01-02-24  03:04PM       <DIR>          a -> b").name, "a -> b");
}

TEST(DosLine, Rejects)
{
    for (const char* line : {
             "01-02-24",
             "01-02-24  03:04PM",
             "01-02-24  03:04PM       <DIR>",
             "01-02-24  03:04PM       <DIR>          ",
             "01-02-24  03:04PM              1234",
             "01-02-24  03:04PM              1234 ",
             "13-02-24  03:04PM              1234 month",
             "01-32-24  03:04PM              1234 day",
             "01-02-24  13:04PM              1234 hour",
             "01-02-24  00:04AM              1234 hour",
             "01-02-24  24:00                1234 hour",
             "01-02-24  03:60PM              1234 minute",
             "01-02-2  03:04PM              1234 year",
             "01-02/24  03:04PM              1234 seps",
             "01-02-24 03:04PM              12x4 size",
             "01-02-2403:04PM              1234 nospace",
             "123 bytes",
         }) {
        EXPECT_FALSE(parseListLineAt(line, kNow)) << line;
    }
}

// ---- whole listings, as captured from servers ---------------------------------------

namespace {

// A Linux server relaying GNU ls.
const std::string kLinuxListing =
    "total 5242916\r\n"
    "drwxr-xr-x    5 ftp      ftp          4096 Apr  3  2023 .\r\n"
    "drwxr-xr-x    3 root     root         4096 Jan 17  2022 ..\r\n"
    "-rw-r--r--    1 ftp      ftp       5368709120 Mar 14  2023 debian-12.iso\r\n"
    "drwxr-xr-x    2 ftp      ftp          4096 Jun 10 09:15 incoming\r\n"
    "lrwxrwxrwx    1 ftp      ftp            12 Feb 28  2023 latest -> debian-12.iso\r\n"
    "-rw-r--r--    1 1001     1001          220 Jun  1 11:30 notes with spaces.txt\r\n"
    "dr-xr-xr-x    2 root     root         4096 Dec 24  2022 readonly\r\n";

// BSD-style: no group column, ACL markers.
const std::string kBsdListing =
    "total 24\n"
    "drwxr-xr-x  2 wheel  512 Oct  1  2022 bin\n"
    "-rw-r--r--+ 1 admin  1876 May 20 17:02 README\n"
    "lrwxr-xr-x  1 root   11 Sep  9  2021 sys -> usr/src/sys\n"
    "-rw-------  1 admin  0 Jan  2 08:00 .hidden\n";

// A small embedded server: fixed perms, no link count.
const std::string kMinimalListing =
    "-rw-rw-rw- owner group 1024 Jan 01 2000 config.bin\r\n"
    "drw-rw-rw- owner group 0 Jan 01 2000 logs\r\n"
    "-r--r--r-- owner group 42 Jan 01 2000 version\r\n";

const std::string kIisListing =
    "04-14-00  03:47PM                  589 readme.htm\r\n"
    "12-13-11  09:45AM       <DIR>          aspnet_client\r\n"
    "02-17-20  11:27AM                99710 iis-85.png\r\n"
    "07-18-19  10:16AM       <DIR>          Program Files\r\n";

// type first, perm last
const std::string kMlsdServerA =
    "type=cdir;sizd=4096;modify=20240101120000;perm=flcdmpe;unix.mode=0755;unix.owner=0; .\r\n"
    "type=pdir;sizd=4096;modify=20231201000000;perm=flcdmpe;unix.mode=0755;unix.owner=0; ..\r\n"
    "type=file;size=1234;modify=20240101120000.123;perm=adfrw;unix.mode=0644; file.txt\r\n"
    "type=dir;sizd=4096;modify=20240102030405;perm=flcdmpe;unix.mode=0755; sub dir\r\n"
    "type=OS.unix=symlink;size=8;modify=20240101120000;perm=adfrw; link\r\n";

// capitalised facts in alphabetical order, type near the end
const std::string kMlsdServerB =
    "Modify=20230615080910;Perm=el;Size=0;Type=cdir;Unique=801U1;UNIX.group=0;UNIX.mode=0755;UNIX.owner=0; /pub\r\n"
    "Modify=20230615080910;Perm=el;Size=0;Type=pdir;Unique=801U2; ..\r\n"
    "Modify=20230615080910;Perm=r;Size=731;Type=file;Unique=801U3;UNIX.group=0;UNIX.mode=0644;UNIX.owner=0; welcome.msg\r\n"
    "Modify=20230615080910;Perm=el;Size=4096;Type=dir;Unique=801U4; mirrors\r\n"
    "Modify=20230615080910;Perm=r;Size=7;Type=OS.unix=slink:/pub/mirrors; m\r\n";

std::vector<std::string> names(const std::vector<ListEntry>& v)
{
    std::vector<std::string> out;
    for (const auto& e : v)
        out.push_back(e.name);
    return out;
}

}  // namespace

TEST(Listing, LinuxServer)
{
    auto v = parseListing(kLinuxListing, false);
    ASSERT_EQ(v.size(), 7u);
    EXPECT_EQ(names(v), (std::vector<std::string>{".", "..", "debian-12.iso", "incoming", "latest",
                                                 "notes with spaces.txt", "readonly"}));
    EXPECT_EQ(v[2].size, 5368709120ull);
    EXPECT_EQ(v[3].attributes, kDir);
    EXPECT_EQ(v[4].attributes, kLink);
    EXPECT_EQ(v[6].attributes, kDir);
    EXPECT_EQ(ticks(v[2].lastWrite), expectTicks(2023, 3, 14));
}

TEST(Listing, BsdServerWithoutGroup)
{
    auto v = parseListing(kBsdListing, false);
    ASSERT_EQ(v.size(), 4u);
    EXPECT_EQ(names(v), (std::vector<std::string>{"bin", "README", "sys", ".hidden"}));
    EXPECT_EQ(v[0].attributes, kDir);
    EXPECT_EQ(v[1].size, 1876u);
    EXPECT_EQ(v[2].attributes, kLink);
    EXPECT_EQ(v[3].size, 0u);
}

TEST(Listing, MinimalServer)
{
    auto v = parseListing(kMinimalListing, false);
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(names(v), (std::vector<std::string>{"config.bin", "logs", "version"}));
    EXPECT_EQ(v[1].attributes, kDir);
    EXPECT_EQ(v[2].size, 42u);
    EXPECT_EQ(ticks(v[0].lastWrite), expectTicks(2000, 1, 1));
}

TEST(Listing, IisServer)
{
    auto v = parseListing(kIisListing, false);
    ASSERT_EQ(v.size(), 4u);
    EXPECT_EQ(names(v), (std::vector<std::string>{"readme.htm", "aspnet_client", "iis-85.png", "Program Files"}));
    EXPECT_EQ(v[0].size, 589u);
    EXPECT_EQ(v[1].attributes, kDir);
    EXPECT_EQ(v[3].attributes, kDir);
    EXPECT_EQ(ticks(v[0].lastWrite), expectTicks(2000, 4, 14, 15, 47));
}

TEST(Listing, MlsdServerTypeFirst)
{
    // "type=cdir" and "type=pdir" describe the listed folder and its parent: no entries.
    auto v = parseListing(kMlsdServerA, true);
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(names(v), (std::vector<std::string>{"file.txt", "sub dir", "link"}));
    EXPECT_EQ(v[0].attributes, kFile);
    EXPECT_EQ(v[0].size, 1234u);
    EXPECT_EQ(ticks(v[0].lastWrite), expectTicks(2024, 1, 1, 12) + 1230000);
    EXPECT_EQ(v[1].attributes, kDir);
    EXPECT_EQ(ticks(v[1].lastWrite), expectTicks(2024, 1, 2, 3, 4, 5));
    EXPECT_EQ(v[2].attributes, kLink);
}

TEST(Listing, MlsdServerTypeLast)
{
    auto v = parseListing(kMlsdServerB, true);
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(names(v), (std::vector<std::string>{"welcome.msg", "mirrors", "m"}));
    EXPECT_EQ(v[0].attributes, kFile);
    EXPECT_EQ(v[0].size, 731u);
    EXPECT_EQ(v[1].attributes, kDir);
    EXPECT_EQ(v[2].attributes, kLink);
    EXPECT_EQ(ticks(v[0].lastWrite), expectTicks(2023, 6, 15, 8, 9, 10));
    // A folder holding nothing lists as nothing.
    EXPECT_TRUE(parseListing("type=cdir;perm=el; /empty\r\ntype=pdir;perm=el; /\r\n", true).empty());
    EXPECT_TRUE(parseListing("Type=CDIR; .\r\nType=PDir; ..\r\n", true).empty());
}

TEST(Listing, LineEndings)
{
    std::string lf = kIisListing;
    for (std::size_t p; (p = lf.find("\r\n")) != std::string::npos;)
        lf.erase(p, 1);
    EXPECT_EQ(names(parseListing(lf, false)), names(parseListing(kIisListing, false)));

    // blank lines before the first entry, a last line without an end
    auto v = parseListing("\n\r\ntype=file; a\ntype=dir; b\r\ntype=file; c"sv, true);
    EXPECT_EQ(names(v), (std::vector<std::string>{"a", "b", "c"}));
    // LIST: blank lines anywhere are skipped
    EXPECT_EQ(names(parseListing("\r\n" + kMinimalListing + "\r\n\n" + kMinimalListing, false)).size(), 6u);

    EXPECT_TRUE(parseListing("", true).empty());
    EXPECT_TRUE(parseListing("\r\n\r\n", false).empty());
}

TEST(Listing, MixedUnixAndDosLines)
{
    auto v = parseListing(kBsdListing + kIisListing, false);
    EXPECT_EQ(v.size(), 8u);
}

TEST(Listing, LinesThatDoNotParseAreSkipped)
{
    auto v = parseListing("garbage\r\ntype=file; ok\r\n=x; bad\r\ntype=dir; fine\r\n", true);
    EXPECT_EQ(names(v), (std::vector<std::string>{"fine"}));  // "ok" was cut short, see below
    auto l = parseListing("garbage\r\ntotal 3\r\n-rw-r--r-- 1 u g 5 Jan 01  2020 ok\r\n"
                          "-rw-r--r-- 1 u g 12 Ja\r\n01-02-20  10:00AM  <DIR>\r\n"
                          "-rw-r--r-- 1 u g 5 Jan 01  2020 fine\r\n", false);
    EXPECT_EQ(names(l), (std::vector<std::string>{"ok", "fine"}));
}

TEST(Listing, NamesCutByALineBreakAreLeftOutWhole)
{
    // After the transfer library's line-end conversion, CR LF, a lone CR and a lone LF
    // inside a name all arrive as LF.
    const std::string prefix = "-rw-r--r-- 1 u g 5 Jan 01  2020 ";
    auto l = parseListing(prefix + "crlf\nRMD x\n" + prefix + "ok\n" + prefix + "lf\nname\n" + prefix + "a\nb\nc\n" +
                              prefix + "last\n",
                          false);
    EXPECT_EQ(names(l), (std::vector<std::string>{"ok", "last"}));
    // A piece that reads like a listing line cannot be told from one.
    EXPECT_EQ(names(parseListing(prefix + "two\n" + prefix + "lines\n", false)),
              (std::vector<std::string>{"two", "lines"}));

    auto m = parseListing("type=file;size=1; crlf\nDELE x\ntype=file; ok\ntype=file; ends\n\n"
                          "type=dir; lf\nsub dir\ntype=file; last\r\n",
                          true);
    EXPECT_EQ(names(m), (std::vector<std::string>{"ok", "last"}));
    // After a folder's own line, nothing is lost.
    EXPECT_EQ(names(parseListing("type=cdir; .\njunk\ntype=file; a\n", true)), std::vector<std::string>{"a"});
}

TEST(Listing, HundredThousandLines)
{
    std::string unixBody = "total 400000\r\n";
    std::string mlsdBody;
    unixBody.reserve(100000 * 64);
    mlsdBody.reserve(100000 * 80);
    for (int i = 0; i < 100000; ++i) {
        const std::string n = "file_" + std::to_string(i) + ".dat";
        unixBody += "-rw-r--r--    1 ftp      ftp      " + std::to_string(i * 7) + " Mar 14  2023 " + n + "\r\n";
        mlsdBody += "type=file;size=" + std::to_string(i) + ";modify=20240101120000;perm=r; " + n + "\r\n";
    }
    auto u = parseListing(unixBody, false);
    ASSERT_EQ(u.size(), 100000u);
    EXPECT_EQ(u.front().name, "file_0.dat");
    EXPECT_EQ(u.back().name, "file_99999.dat");
    EXPECT_EQ(u.back().size, 99999u * 7);

    auto m = parseListing(mlsdBody, true);
    ASSERT_EQ(m.size(), 100000u);
    EXPECT_EQ(m[54321].name, "file_54321.dat");
    EXPECT_EQ(m[54321].size, 54321u);
}

// ---- robustness -----------------------------------------------------------------------

namespace {

void expectSane(const std::optional<ListEntry>& e, std::string_view line)
{
    if (!e)
        return;
    EXPECT_FALSE(e->name.empty()) << line;
    EXPECT_EQ(e->name.find('\n'), std::string::npos);
    EXPECT_TRUE(e->attributes == kDir || e->attributes == kFile || e->attributes == kLink);
    // The name is always a piece of the line it came from.
    EXPECT_NE(line.find(e->name), std::string_view::npos) << line;
}

}  // namespace

TEST(ListingRobustness, EveryPrefixOfRealLines)
{
    int parsed = 0;
    for (const std::string* body : {&kLinuxListing, &kBsdListing, &kMinimalListing, &kIisListing,
                                    &kMlsdServerA, &kMlsdServerB}) {
        std::size_t pos = 0;
        while (pos < body->size()) {
            const std::size_t nl = body->find('\n', pos);
            const std::string line = body->substr(pos, nl - pos);
            pos = nl == std::string::npos ? body->size() : nl + 1;
            for (std::size_t len = 0; len <= line.size(); ++len) {
                const std::string cut = line.substr(0, len);  // own buffer so ASan sees overreads
                auto a = parseListLineAt(cut, kNow);
                auto b = parseMlsdLine(cut);
                expectSane(a, cut);
                expectSane(b, cut);
                parsed += a.has_value() + b.has_value();
            }
        }
    }
    EXPECT_GT(parsed, 100);
}

TEST(ListingRobustness, RandomBytes)
{
    std::mt19937 rng(20240615);
    const std::string_view pieces[] = {"Jan", "Dec", " ", "  ", "-", "d", "l", "c", "rwx", "r--", ",",
                                       ":", "12", "2020", "<DIR>", "PM", "AM", "->", "type=", "dir",
                                       ";", "=", "size=", "modify=", "2024010112000", ".", "\r", "9"};
    for (int round = 0; round < 20000; ++round) {
        std::string line;
        const int len = int(rng() % 120);
        const bool structured = round % 2 == 0;
        if (round % 4 == 0)
            line = "-rw-r--r-- ";
        else if (round % 4 == 2)
            line = "type=";
        for (int i = 0; i < len; ++i) {
            if (structured && rng() % 3 != 0)
                line += pieces[rng() % std::size(pieces)];
            else
                line += char(rng() % 256);
        }
        std::string noNewlines = line;
        for (char& c : noNewlines)
            if (c == '\n')
                c = ' ';
        expectSane(parseListLineAt(noNewlines, kNow), noNewlines);
        expectSane(parseMlsdLine(noNewlines), noNewlines);

        const std::size_t lines = std::count(line.begin(), line.end(), '\n') + 1;
        EXPECT_LE(parseListing(line, false).size(), lines);
        EXPECT_LE(parseListing(line, true).size(), lines);
    }
}

TEST(ListingRobustness, HugeNumbersAndLongLines)
{
    const std::string digits(5000, '9');
    EXPECT_FALSE(parseListLineAt("-rw-r--r-- 1 u g " + digits + " Jan 1 2020 a", kNow));
    EXPECT_FALSE(parseListLineAt("01-02-24  03:04PM  " + digits + " a", kNow));
    EXPECT_EQ(mlsd("type=file;size=" + digits + "; a").size, 0u);
    EXPECT_EQ(ticks(mlsd("modify=20240101120000." + digits + "; a").lastWrite),
              expectTicks(2024, 1, 1, 12) + 9999999);
    const std::string spaces(10000, ' ');
    EXPECT_FALSE(parseListLineAt("-rw-r--r--" + spaces, kNow));
    EXPECT_EQ(list("-rw-r--r-- 1 u g 1 Jan 1 2020 " + spaces).name, spaces);
}
