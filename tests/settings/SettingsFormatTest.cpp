#include "settings/ConnectionFile.h"

#include <gtest/gtest.h>

using settings::ConnectionFields;
using settings::formatSettings;
using settings::parseSettings;

namespace {

ConnectionFields roundTrip(const ConnectionFields& in)
{
    const auto parsed = parseSettings(formatSettings(in));
    EXPECT_TRUE(parsed.ok()) << parsed.error.toStdString();
    return parsed.fields.value_or(ConnectionFields{});
}

}  // namespace

TEST(SettingsFormat, WritesTheExactLine)
{
    EXPECT_EQ(formatSettings({"S", "U", "P"}), QByteArray("\"S\",\"U\",\"P\"\r\n"));
}

TEST(SettingsFormat, EmptyPasswordIsTwoQuotes)
{
    EXPECT_EQ(formatSettings({"ftp.lindenrow.test", "ana", ""}),
              QByteArray("\"ftp.lindenrow.test\",\"ana\",\"\"\r\n"));
}

TEST(SettingsFormat, NothingIsEscapedOrPadded)
{
    EXPECT_EQ(formatSettings({" a,b", "x\"y", "p\\q"}),
              QByteArray("\" a,b\",\"x\"y\",\"p\\q\"\r\n"));
}

TEST(SettingsFormat, WritesUtf8WithoutByteOrderMark)
{
    const QByteArray bytes = formatSettings({QStringLiteral("sérveur"), QStringLiteral("Jürgen"),
                                             QStringLiteral("пароль")});
    EXPECT_EQ(bytes, QByteArray("\"s\xC3\xA9rveur\",\"J\xC3\xBCrgen\",\"\xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE"
                                "\xD0\xBB\xD1\x8C\"\r\n"));
}

TEST(SettingsFormat, RoundTripsTrickyValues)
{
    const ConnectionFields cases[] = {
        {"ftp.example.test", "ana", "s3cret"},
        {" leading", "  two", " "},
        {"host,with,commas", "user,1", ",,"},
        {"h", "u", ""},
        {"", "", ""},
        {QStringLiteral("hôte.test"), QStringLiteral("Łucja"), QStringLiteral("密码 ok")},
        {"trailing ", "tab\there", "sp ace"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(roundTrip(c), c) << c.server.toStdString() << "|" << c.user.toStdString();
}

TEST(SettingsReader, BareValuesOnThreeLines)
{
    const auto r = parseSettings("ftp.lindenrow.test\r\nana\r\nsecret\r\n");
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(*r.fields, (ConnectionFields{"ftp.lindenrow.test", "ana", "secret"}));
}

TEST(SettingsReader, BareValuesWithLfOnlyAndNoFinalLineEnd)
{
    const auto r = parseSettings("h\nu\np");
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(*r.fields, (ConnectionFields{"h", "u", "p"}));
}

TEST(SettingsReader, QuotedValuesOnSeparateLines)
{
    const auto r = parseSettings("\"h\"\r\n\"u\"\r\n\"p\"\r\n");
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(*r.fields, (ConnectionFields{"h", "u", "p"}));
}

TEST(SettingsReader, SkipsLeadingSpacesOutsideQuotesOnly)
{
    const auto r = parseSettings("   h,  \" u\",   p q\r\n");
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(*r.fields, (ConnectionFields{"h", " u", "p q"}));
}

TEST(SettingsReader, IgnoresEverythingAfterTheThirdValue)
{
    const auto r = parseSettings("\"h\",\"u\",\"p\",\"extra\"\r\nmore lines\r\n");
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(*r.fields, (ConnectionFields{"h", "u", "p"}));
}

TEST(SettingsReader, DropsTextBetweenClosingQuoteAndComma)
{
    const auto r = parseSettings("\"h\"xx,\"u\" ,\"p\"\r\n");
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(*r.fields, (ConnectionFields{"h", "u", "p"}));
}

TEST(SettingsReader, EmptyLineIsAnEmptyValue)
{
    const auto r = parseSettings("h\r\nu\r\n\r\n");
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(*r.fields, (ConnectionFields{"h", "u", ""}));
}

TEST(SettingsReader, TrailingCommaPromisesAnEmptyValue)
{
    const auto r = parseSettings("\"h\",\"u\",");
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(*r.fields, (ConnectionFields{"h", "u", ""}));
}

TEST(SettingsReader, TwoValuesEndEarly)
{
    for (const QByteArray& data : {QByteArray("\"h\",\"u\"\r\n"), QByteArray("\"h\",\"u\""),
                                  QByteArray("h\r\nu\r\n"), QByteArray("h\r\nu\r\n   ")}) {
        const auto r = parseSettings(data);
        EXPECT_FALSE(r.ok()) << data.toStdString();
        EXPECT_EQ(r.error, "ends before the third value");
    }
}

TEST(SettingsReader, EmptyFileEndsEarly)
{
    EXPECT_FALSE(parseSettings("").ok());
    EXPECT_FALSE(parseSettings("   ").ok());
}

TEST(SettingsReader, UnclosedQuoteRunsToTheEnd)
{
    const auto r = parseSettings("\"h\",\"u\",\"p, still p\r\nand more");
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.fields->password, "p, still p\r\nand more");
}

TEST(SettingsReader, QuoteInsideValueDoesNotSurvive)
{
    const auto r = parseSettings(formatSettings({"h", "a\"b", "p"}));
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.fields->user, "a");
    EXPECT_EQ(r.fields->password, "p");
}
