// Names of any bytes turn into text and back unchanged; valid UTF-8 reads as text.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "net/NameCodec.h"

using net::bytesFromText;
using net::textFromBytes;

namespace {

QByteArray bytes(std::string_view s) { return QByteArray(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace

TEST(NameCodec, ValidUtf8IsText)
{
    EXPECT_EQ(textFromBytes("plain.txt"), QStringLiteral("plain.txt"));
    EXPECT_EQ(textFromBytes("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"), QStringLiteral("caf\u00e9 \u20ac \U0001F600"));
    EXPECT_EQ(bytesFromText(QStringLiteral("caf\u00e9 \u20ac \U0001F600")), bytes("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"));
    EXPECT_EQ(textFromBytes(std::string_view("a\0b", 3)).size(), 3);
    // Each edge of the UTF-8 lengths, both ways.
    const struct {
        char32_t cp;
        std::string_view utf8;
    } edges[] = {{0x7F, "\x7f"},         {0x80, "\xc2\x80"},         {0x7FF, "\xdf\xbf"},
                 {0x800, "\xe0\xa0\x80"}, {0xFFFF, "\xef\xbf\xbf"},   {0x10000, "\xf0\x90\x80\x80"},
                 {0x10FFFF, "\xf4\x8f\xbf\xbf"}};
    for (const auto& e : edges) {
        const QString text = QStringLiteral("n") + QString::fromUcs4(&e.cp, 1) + QStringLiteral("e");
        EXPECT_EQ(textFromBytes("n" + std::string(e.utf8) + "e"), text) << std::hex << static_cast<unsigned>(e.cp);
        EXPECT_EQ(bytesFromText(text), bytes("n" + std::string(e.utf8) + "e")) << std::hex << static_cast<unsigned>(e.cp);
    }
}

TEST(NameCodec, EachInvalidByteHasItsOwnReservedCodePoint)
{
    const QString latin1 = textFromBytes("caf\xe9.txt");
    EXPECT_EQ(latin1, QStringLiteral("caf") + QChar(0xDCE9) + QStringLiteral(".txt"));
    EXPECT_EQ(bytesFromText(latin1), bytes("caf\xe9.txt"));
    // Overlong, a UTF-16 surrogate, past U+10FFFF, cut short, a lone continuation byte.
    for (const std::string_view bad : {"\xc0\x80", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe2\x82", "\x80", "\xff\xfe"}) {
        const QString text = textFromBytes(bad);
        EXPECT_EQ(text.size(), static_cast<qsizetype>(bad.size())) << bad;
        for (qsizetype i = 0; i < text.size(); ++i)
            EXPECT_EQ(text.at(i).unicode(), 0xDC00 + static_cast<unsigned char>(bad[static_cast<std::size_t>(i)]));
        EXPECT_EQ(bytesFromText(text), bytes(bad));
    }
    // A valid character right after an invalid byte still reads as text.
    EXPECT_EQ(textFromBytes("\xe2\xc3\xa9"), QString(QChar(0xDCE2)) + QChar(0xE9));
}

TEST(NameCodec, AnyBytesComeBackExactly)
{
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        EXPECT_EQ(bytesFromText(textFromBytes(one)), bytes(one)) << b;
    }
    std::mt19937 gen(13);
    for (int round = 0; round < 2000; ++round) {
        std::string s(gen() % 40, '\0');
        for (char& c : s)
            c = static_cast<char>(round % 2 ? 0x80 | (gen() & 0x7F) : gen() & 0xFF);
        ASSERT_EQ(bytesFromText(textFromBytes(s)), bytes(s)) << round;
    }
}

TEST(NameCodec, OtherLoneSurrogatesBecomeTheReplacementCharacter)
{
    EXPECT_EQ(bytesFromText(QString(QChar(0xD800))), bytes("\xef\xbf\xbd"));
    EXPECT_EQ(bytesFromText(QString(QChar(0xDC7F))), bytes("\xef\xbf\xbd"));
}
