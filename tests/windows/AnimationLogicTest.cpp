#include "AnimationFakes.h"

#include <gtest/gtest.h>

#include <set>

using namespace testsupport;
using windows::AnimationDisplay;

namespace {

struct Rig {
    FakeTimer timer1;
    FakeTimer timer2;
    ScriptedRandom random;
    CountingSink sink;
    qint64 dots = 0;
    std::unique_ptr<AnimationDisplay> display;

    Rig()
        : timer1([this] { display->Timer1_Timer(); })
        , timer2([this] { display->Timer2_Timer(); })
    {
        build();
    }
    void build() { display = std::make_unique<AnimationDisplay>(timer1, timer2, random, sink, dots); }

    // Fires Timer1 while it runs; returns the number of ticks.
    int slide()
    {
        int n = 0;
        while (timer1.fire())
            ++n;
        return n;
    }
};

}  // namespace

TEST(AnimationLogic, StartsSliding)
{
    Rig rig;
    EXPECT_EQ(rig.timer1.interval(), 4);
    EXPECT_EQ(rig.timer2.interval(), 0);
    EXPECT_EQ(rig.display->image1Left(), -1080);
    EXPECT_EQ(rig.display->image1Rect(), QRect(-1080, 1680, 1320, 615));
    EXPECT_FALSE(rig.display->image2Visible());
    EXPECT_TRUE(rig.sink.points.empty());
}

TEST(AnimationLogic, Timer1TicksSeventyEightTimesAndStopsAt6720)
{
    Rig rig;
    std::vector<int> lefts;
    int ticks = 0;
    while (rig.timer1.fire()) {
        ++ticks;
        lefts.push_back(rig.display->image1Left());
    }
    EXPECT_EQ(ticks, 78);
    ASSERT_EQ(lefts.size(), 78u);
    EXPECT_EQ(lefts.front(), -980);
    EXPECT_EQ(lefts[76], 6620);
    EXPECT_EQ(lefts.back(), 6720);
    EXPECT_EQ(rig.timer1.interval(), 0);
    EXPECT_EQ(rig.timer2.interval(), 1);
    // Timer2 was started before Timer1 was stopped.
    EXPECT_EQ(rig.timer2.history, (std::vector<int>{0, 1}));
    EXPECT_EQ(rig.timer1.history, (std::vector<int>{4, 0}));
}

TEST(AnimationLogic, TimersKeepRunningUntilTheLastTick)
{
    Rig rig;
    for (int i = 0; i < 77; ++i)
        ASSERT_TRUE(rig.timer1.fire());
    EXPECT_EQ(rig.display->image1Left(), 6620);
    EXPECT_EQ(rig.timer1.interval(), 4);
    EXPECT_EQ(rig.timer2.interval(), 0);
    const auto before = rig.sink.points.size();
    ASSERT_TRUE(rig.timer1.fire());
    EXPECT_EQ(rig.sink.points.size(), before + 1) << "the stopping tick still draws its dot";
}

TEST(AnimationLogic, FirstDisplayDraws350ThenOnePerTick)
{
    Rig rig;
    ASSERT_TRUE(rig.timer1.fire());
    EXPECT_EQ(rig.sink.points.size(), 350u);
    EXPECT_EQ(rig.dots, 350);
    ASSERT_TRUE(rig.timer1.fire());
    EXPECT_EQ(rig.sink.points.size(), 351u);
    rig.slide();
    EXPECT_EQ(rig.sink.points.size(), 427u);
    EXPECT_EQ(rig.dots, 427);
    EXPECT_EQ(rig.random.calls, 2 * 427);
    for (QRgb c : rig.sink.pointColours)
        ASSERT_EQ(c, 0xFFFFFFu);
}

TEST(AnimationLogic, SecondDisplayDrawsOneDotPerTick)
{
    Rig rig;
    rig.slide();
    rig.timer2.fire();
    rig.build();  // shown again in the same run: the counter carries on
    EXPECT_EQ(rig.display->image1Left(), -1080);
    EXPECT_FALSE(rig.display->image2Visible());
    EXPECT_EQ(rig.timer1.interval(), 4);
    EXPECT_EQ(rig.timer2.interval(), 0);
    const auto before = rig.sink.points.size();
    ASSERT_TRUE(rig.timer1.fire());
    EXPECT_EQ(rig.sink.points.size(), before + 1);
    EXPECT_EQ(rig.slide(), 77);
    EXPECT_EQ(rig.sink.points.size() - before, 78u);
    EXPECT_EQ(rig.dots, 427 + 78);
}

TEST(AnimationLogic, PartlyFilledFieldIsToppedUpTo350)
{
    Rig rig;
    rig.dots = 340;
    rig.timer1.fire();
    EXPECT_EQ(rig.sink.points.size(), 10u);
    EXPECT_EQ(rig.dots, 350);
}

TEST(AnimationLogic, FirstRandomNumberGivesXSecondGivesY)
{
    Rig rig;
    rig.dots = 1000;
    rig.random = ScriptedRandom({0.0, 0.99999999, 0.99999999, 0.0, 0.5, 0.25});
    rig.timer1.fire();
    rig.timer1.fire();
    rig.timer1.fire();
    ASSERT_EQ(rig.sink.points.size(), 3u);
    EXPECT_EQ(rig.sink.points[0], QPoint(0, 6344));
    EXPECT_EQ(rig.sink.points[1], QPoint(6809, 0));
    EXPECT_EQ(rig.sink.points[2], QPoint(3405, 1586));
}

TEST(AnimationLogic, Image1MovesUncoverBothOldAndNewPlace)
{
    Rig rig;
    rig.timer1.fire();
    ASSERT_FALSE(rig.sink.pictureAreas.empty());
    EXPECT_EQ(rig.sink.pictureAreas.front(), QRect(-1080, 1680, 1420, 615));
}

TEST(AnimationLogic, Timer2DrawsTheWholeSweepOnce)
{
    Rig rig;
    rig.slide();
    ASSERT_TRUE(rig.timer2.fire());
    EXPECT_FALSE(rig.timer2.fire()) << "Timer2 stops itself after one tick";
    EXPECT_EQ(rig.timer2.ticks, 1);
    EXPECT_EQ(rig.timer2.interval(), 0);
    EXPECT_EQ(rig.timer1.interval(), 0);
    EXPECT_TRUE(rig.display->image2Visible());
    EXPECT_EQ(rig.display->image2Rect(), QRect(600, 600, 5745, 3495));
    EXPECT_EQ(rig.display->image1Left(), 6720);

    const auto& lines = rig.sink.lines;
    ASSERT_EQ(lines.size(), 13404u);
    EXPECT_EQ(lines.size() / 4, 3351u);
    EXPECT_EQ(lines[0], (Line{0, 1, 6345, 1, 0}));
    EXPECT_EQ(lines[1], (Line{0, 6700, 6345, 6700, 0}));
    EXPECT_EQ(lines[2], (Line{1, 0, 1, 6700, 0}));
    EXPECT_EQ(lines[3], (Line{6345, 0, 6345, 6700, 0}));
    const auto n = lines.size();
    EXPECT_EQ(lines[n - 4], (Line{0, 6701, 6345, 6701, 0}));
    EXPECT_EQ(lines[n - 3], (Line{0, 0, 6345, 0, 0}));
    EXPECT_EQ(lines[n - 2], (Line{6701, 0, 6701, 6700, 0}));
    EXPECT_EQ(lines[n - 1], (Line{-355, 0, -355, 6700, 0}));
    for (const Line& l : lines)
        ASSERT_EQ(l.colour, 0x000000u);
}

TEST(AnimationLogic, SweepCoversEveryRowAndEveryOddColumn)
{
    Rig rig;
    rig.slide();
    rig.timer2.fire();
    std::multiset<int> rows;
    std::set<int> columns;
    for (const Line& l : rig.sink.lines) {
        if (l.y1 == l.y2)
            rows.insert(l.y1);
        else
            columns.insert(l.x1);
    }
    ASSERT_EQ(rows.size(), 6702u);
    for (int y = 0; y <= 6701; ++y)
        ASSERT_EQ(rows.count(y), 1u) << y;
    EXPECT_EQ(*columns.begin(), -355);
    EXPECT_EQ(*columns.rbegin(), 6701);
    for (int x = -355; x <= 6701; x += 2)
        ASSERT_TRUE(columns.count(x)) << x;
}

TEST(AnimationLogic, Image2IsShownBeforeTheSweep)
{
    Rig rig;
    rig.slide();
    const auto areasBefore = rig.sink.pictureAreas.size();
    rig.timer2.fire();
    ASSERT_EQ(rig.sink.pictureAreas.size(), areasBefore + 1);
    EXPECT_EQ(rig.sink.pictureAreas.back(), QRect(600, 600, 5745, 3495));
}
