#include "windows/AuxTexts.h"

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>

using namespace windows;

namespace {

QStringList helpLines() { return helpText().split(QStringLiteral("\r\n")); }

int lineStartingWith(const QStringList& lines, const QString& prefix)
{
    for (int i = 0; i < lines.size(); ++i)
        if (lines[i].startsWith(prefix))
            return i;
    return -1;
}

}  // namespace

TEST(HelpText, LinesEndWithCrLfOnly)
{
    const QString text = helpText();
    ASSERT_FALSE(text.isEmpty());
    EXPECT_EQ(text.count(u'\n'), text.count(QStringLiteral("\r\n")));
    EXPECT_EQ(text.count(u'\r'), text.count(QStringLiteral("\r\n")));
    EXPECT_GE(text.size(), 1400);
    EXPECT_LE(text.size(), 1650);
}

TEST(HelpText, TitleAndHeading)
{
    const QStringList lines = helpLines();
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines[0], "KorvelFTP v1.04.2000");
    EXPECT_EQ(lines[1], "How to use KorvelFTP");
}

TEST(HelpText, TenNumberedStepsInOrder)
{
    const QStringList lines = helpLines();
    int previous = -1;
    for (int n = 1; n <= 10; ++n) {
        const int at = lineStartingWith(lines, QStringLiteral("%1. ").arg(n));
        ASSERT_GT(at, previous) << "step " << n;
        previous = at;
    }
    EXPECT_EQ(previous, lines.size() - 1) << "nothing follows the tenth step";
    // No step numbers beyond ten.
    EXPECT_EQ(lineStartingWith(lines, "11. "), -1);
}

TEST(HelpText, FirstFourStepsOnConsecutiveLinesThenBlankSeparatedParagraphs)
{
    const QStringList lines = helpLines();
    const int one = lineStartingWith(lines, "1. ");
    EXPECT_EQ(lineStartingWith(lines, "2. "), one + 1);
    EXPECT_EQ(lineStartingWith(lines, "3. "), one + 2);
    EXPECT_EQ(lineStartingWith(lines, "4. "), one + 3);
    // From the example onwards every paragraph is followed by a blank line.
    for (int i = one + 4; i < lines.size(); i += 2) {
        EXPECT_TRUE(lines[i].isEmpty()) << i;
        ASSERT_LT(i + 1, lines.size());
        EXPECT_FALSE(lines[i + 1].isEmpty()) << i + 1;
    }
}

TEST(HelpText, ExampleOfStepFourIsFourParagraphsWithTwoIndentedAddresses)
{
    const QStringList lines = helpLines();
    const int four = lineStartingWith(lines, "4. ");
    const int five = lineStartingWith(lines, "5. ");
    QStringList paragraphs;
    for (int i = four + 1; i < five; ++i)
        if (!lines[i].isEmpty())
            paragraphs << lines[i];
    ASSERT_EQ(paragraphs.size(), 4);
    EXPECT_FALSE(paragraphs[0].startsWith(u'\t'));
    EXPECT_TRUE(paragraphs[1].startsWith("\t\thttp://"));
    EXPECT_TRUE(paragraphs[2].contains("\"FTP Server Name\""));
    EXPECT_TRUE(paragraphs[3].startsWith("\t\t"));
    EXPECT_FALSE(paragraphs[3].contains("/"));
    // The bare host name is the one inside the web address.
    EXPECT_TRUE(paragraphs[1].contains(paragraphs[3].trimmed()));
}

TEST(HelpText, StepNineHasAnUnindentedHostSlashDotExample)
{
    const QStringList lines = helpLines();
    const int nine = lineStartingWith(lines, "9. ");
    const int ten = lineStartingWith(lines, "10. ");
    QStringList examples;
    for (int i = nine + 1; i < ten; ++i)
        if (!lines[i].isEmpty())
            examples << lines[i];
    ASSERT_EQ(examples.size(), 1);
    EXPECT_TRUE(examples[0].endsWith("/."));
    EXPECT_FALSE(examples[0].startsWith(u'\t'));
    EXPECT_FALSE(examples[0].contains(u' '));
}

TEST(HelpText, ButtonsInAngleBracketsFieldsInQuotesNoDownload)
{
    const QString text = helpText();
    for (const char* button : {"<Start Internet Session>", "<Connect>", "<Save Connection>", "<Upload>"})
        EXPECT_TRUE(text.contains(QLatin1String(button))) << button;
    EXPECT_TRUE(text.contains("\"FTP Server Name\""));
    EXPECT_FALSE(text.contains("download", Qt::CaseInsensitive));
}

TEST(LicenceText, IsTheLicenceFileThePackageInstallsLineByLine)
{
    QFile file(QStringLiteral(QUILLON_LICENSE_FILE));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QStringList expected = QString::fromUtf8(file.readAll()).split(u'\n');
    ASSERT_EQ(expected.takeLast(), QString());  // the last line's end starts no line
    EXPECT_EQ(licenceLines(), expected);
    EXPECT_TRUE(expected.contains(QStringLiteral("MIT License")));
}

TEST(AboutTexts, NamesTheMakerAndTheYear)
{
    EXPECT_EQ(kAboutLabel1, "KorvelFTP 2000 v1.0");
    EXPECT_TRUE(kAboutLabel2.contains("2000"));
    EXPECT_TRUE(kAboutLabel2.contains(kMakerName));
    EXPECT_FALSE(kAboutLabel3.isEmpty());
    EXPECT_EQ(kAboutLabel4.count(u'\n'), 1);
    EXPECT_TRUE(kAboutLabel4.contains(kMakerName));
}
