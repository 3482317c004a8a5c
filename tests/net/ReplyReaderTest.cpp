#include <gtest/gtest.h>

#include "net/ReplyReader.h"

using net::ReplyReader;

TEST(ReplyReader, SingleLineReply)
{
    ReplyReader r;
    EXPECT_TRUE(r.feed("220 Ready.\r\n"));
    ASSERT_EQ(r.replies().size(), 1u);
    EXPECT_EQ(r.last()->code, 220);
    EXPECT_EQ(r.last()->text, "220 Ready.\r\n");
}

TEST(ReplyReader, MultiLineReplyKeepsEveryLine)
{
    ReplyReader r;
    EXPECT_TRUE(r.feed("211-Features:\r\n MLST type*;\r\n211-not the end\r\n UTF8\r\n211 End\r\n"));
    ASSERT_EQ(r.replies().size(), 1u);
    EXPECT_EQ(r.last()->code, 211);
    EXPECT_EQ(r.last()->text, "211-Features:\r\n MLST type*;\r\n211-not the end\r\n UTF8\r\n211 End\r\n");
}

TEST(ReplyReader, OtherCodeInsideMultiLineIsText)
{
    ReplyReader r;
    EXPECT_TRUE(r.feed("230-Welcome\r\n200 still text\r\n230 Logged in.\r\n"));
    ASSERT_EQ(r.replies().size(), 1u);
    EXPECT_EQ(r.last()->code, 230);
}

TEST(ReplyReader, BytesArrivingOneByOne)
{
    const std::string stream = "331 Password?\r\n230-Hi\r\n230 OK\r\n257 \"/\" is cwd\n";
    ReplyReader r;
    for (char c : stream)
        ASSERT_TRUE(r.feed(std::string_view(&c, 1)));
    ASSERT_EQ(r.replies().size(), 3u);
    EXPECT_EQ(r.replies()[0].code, 331);
    EXPECT_EQ(r.replies()[1].text, "230-Hi\r\n230 OK\r\n");
    EXPECT_EQ(r.replies()[2].text, "257 \"/\" is cwd\r\n");  // bare LF ends a line too
    ASSERT_NE(r.lastWithCode(331), nullptr);
    EXPECT_EQ(r.lastWithCode(500), nullptr);
}

TEST(ReplyReader, PartialReplyIsNotComplete)
{
    ReplyReader r;
    EXPECT_TRUE(r.feed("150-Opening\r\n150"));
    EXPECT_TRUE(r.replies().empty());
    EXPECT_TRUE(r.feed(" done\r\n"));
    ASSERT_EQ(r.replies().size(), 1u);
}

TEST(ReplyReader, ClearKeepsPartialLine)
{
    ReplyReader r;
    EXPECT_TRUE(r.feed("200 OK\r\n22"));
    r.clear();
    EXPECT_TRUE(r.feed("6 Done\r\n"));
    ASSERT_EQ(r.replies().size(), 1u);
    EXPECT_EQ(r.last()->code, 226);
}

TEST(ReplyReader, HttpAnswerIsNotFtp)
{
    ReplyReader r;
    EXPECT_FALSE(r.feed("HTTP/1.1 400 Bad Request\r\n"));
    EXPECT_TRUE(r.failed());
    EXPECT_FALSE(r.feed("200 OK\r\n"));  // stays failed
    r.reset();
    EXPECT_TRUE(r.feed("200 OK\r\n"));
}

TEST(ReplyReader, CodesOutsideOneToFiveAreRejected)
{
    ReplyReader a;
    EXPECT_FALSE(a.feed("600 what\r\n"));
    ReplyReader b;
    EXPECT_FALSE(b.feed("20 short\r\n"));
    ReplyReader c;
    EXPECT_FALSE(c.feed("200x\r\n"));
}

TEST(ReplyReader, OverlongLineFailsWithBoundedMemory)
{
    std::string shortLines;
    for (int i = 0; i < 64; ++i)
        shortLines += " SIZE\r\n";
    const struct {
        std::string start, chunk;
        std::size_t limit;
    } cases[] = {
        {"200 ", std::string(4096, 'x'), ReplyReader::kMaxLine},  // one line without an end
        {"211-Features:\r\n", shortLines, ReplyReader::kMaxReply},  // an endless reply of short lines
    };
    for (const auto& c : cases) {
        ReplyReader r;
        EXPECT_TRUE(r.feed(c.start));
        std::size_t fed = 0;
        bool ok = true;
        while (ok && fed < 2 * c.limit) {
            ok = r.feed(c.chunk);
            fed += c.chunk.size();
        }
        EXPECT_FALSE(ok) << c.start;
        EXPECT_TRUE(r.failed());
        EXPECT_GT(fed, c.limit - c.chunk.size()) << c.start;  // not before the limit
    }
}

TEST(ReplyReader, LongestAllowedLinePasses)
{
    ReplyReader r;
    std::string line = "200 " + std::string(ReplyReader::kMaxLine - 4, 'y') + "\r\n";
    EXPECT_TRUE(r.feed(line));
    ASSERT_EQ(r.replies().size(), 1u);
}

TEST(ReplyReader, MultiLineReplyOpenUntilItsOwnCodeAndSpace)
{
    net::ReplyReader reader;
    reader.feed("331 Password please.\r\n530-Login refused.\r\n123 is text\r\n");
    ASSERT_EQ(reader.replies().size(), 1u);
    const auto open = reader.unfinished();
    ASSERT_TRUE(open.has_value());
    EXPECT_EQ(open->code, 530);
    EXPECT_EQ(open->text, "530-Login refused.\r\n123 is text\r\n");
    reader.feed("530 Login incorrect.\r\n");
    EXPECT_FALSE(reader.unfinished().has_value());
    ASSERT_EQ(reader.replies().size(), 2u);
    EXPECT_EQ(reader.last()->text, "530-Login refused.\r\n123 is text\r\n530 Login incorrect.\r\n");
}
