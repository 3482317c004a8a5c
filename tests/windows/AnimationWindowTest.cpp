#include "AnimationFakes.h"
#include "support/Wait.h"
#include "windows/AuxTexts.h"
#include "windows/AuxWindows.h"
#include "windows/Twips.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace testsupport;
using windows::AuxWindows;
using windows::frmanim;

namespace {

int runSlide(frmanim& anim)
{
    int n = 0;
    while (anim.Timer1() && fake(anim.Timer1())->fire())
        ++n;
    return n;
}

QImage screenOf(QWidget* w)
{
    return w->screen()->grabWindow(w->winId()).toImage();
}

}  // namespace

TEST(AnimationWindow, IsBuiltFromItsStoredContents)
{
    FakeTimerFactory timers;
    AuxWindows aux(timers.services());
    frmanim& anim = aux.showAnimation();
    ASSERT_TRUE(anim.isOpen());
    QWidget* w = anim.window();
    EXPECT_EQ(w->windowTitle(), "Korvel Animation");
    EXPECT_EQ(w->size(), QSize(446, 396));
    EXPECT_EQ(w->parentWidget(), nullptr);
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(w->windowIcon().isNull());
    EXPECT_EQ(w->palette().color(QPalette::Window), QColor(Qt::black));
    EXPECT_EQ(anim.Timer1()->interval(), 4);
    EXPECT_EQ(anim.Timer2()->interval(), 0);
    EXPECT_EQ(anim.display()->image1Left(), -1080);
    EXPECT_FALSE(anim.display()->image2Visible());
    EXPECT_EQ(anim.dotCounter(), 0);
}

TEST(AnimationWindow, FirstAndSecondDisplayDotCounts)
{
    FakeTimerFactory timers;
    ScriptedRandom random;
    CountingSink drawn;
    AuxWindows aux(timers.services(&random, &drawn));

    frmanim& anim = aux.showAnimation();
    EXPECT_EQ(runSlide(anim), 78);
    EXPECT_EQ(drawn.points.size(), 427u);
    EXPECT_EQ(anim.display()->image1Left(), 6720);
    EXPECT_EQ(anim.Timer1()->interval(), 0);
    EXPECT_EQ(anim.Timer2()->interval(), 1);
    ASSERT_TRUE(fake(anim.Timer2())->fire());
    EXPECT_EQ(drawn.lines.size(), 13404u);
    EXPECT_TRUE(anim.display()->image2Visible());
    EXPECT_EQ(anim.Timer2()->interval(), 0);

    QPointer<QWidget> first = anim.window();
    first->close();
    EXPECT_FALSE(anim.isOpen());
    EXPECT_EQ(anim.Timer1(), nullptr);
    EXPECT_EQ(*timers.alive, 0) << "the timers belong to the on-screen window";
    WAIT_FOR(first.isNull());
    EXPECT_EQ(anim.dotCounter(), 427);

    frmanim& again = aux.showAnimation();
    EXPECT_EQ(&again, &anim) << "one instance for the whole run";
    EXPECT_EQ(again.display()->image1Left(), -1080);
    EXPECT_FALSE(again.display()->image2Visible());
    EXPECT_EQ(again.Timer1()->interval(), 4);
    EXPECT_EQ(again.Timer2()->interval(), 0);
    ASSERT_TRUE(fake(again.Timer1())->fire());
    EXPECT_EQ(drawn.points.size(), 428u) << "the first tick of a later display draws one dot";
    EXPECT_EQ(runSlide(again), 77);
    EXPECT_EQ(drawn.points.size(), 427u + 78u);
    EXPECT_EQ(again.dotCounter(), 505);
}

TEST(AnimationWindow, RequestWhileOpenChangesNothing)
{
    FakeTimerFactory timers;
    AuxWindows aux(timers.services());
    frmanim& anim = aux.showAnimation();
    QWidget* w = anim.window();
    for (int i = 0; i < 5; ++i)
        fake(anim.Timer1())->fire();
    const int made = timers.made;
    aux.showAnimation();
    EXPECT_EQ(anim.window(), w);
    EXPECT_EQ(timers.made, made);
    EXPECT_EQ(anim.display()->image1Left(), -580);
    EXPECT_EQ(anim.Timer1()->interval(), 4);
    EXPECT_EQ(anim.dotCounter(), 354);
}

TEST(AnimationWindow, ClosingWhileSlidingStopsAndRestartsFromTheBeginning)
{
    FakeTimerFactory timers;
    AuxWindows aux(timers.services());
    frmanim& anim = aux.showAnimation();
    for (int i = 0; i < 10; ++i)
        fake(anim.Timer1())->fire();
    anim.window()->close();
    EXPECT_EQ(*timers.alive, 0);
    EXPECT_EQ(anim.display(), nullptr);
    anim.Timer1_Timer();  // a stray tick after the close does nothing
    EXPECT_EQ(anim.dotCounter(), 359);

    aux.showAnimation();
    EXPECT_EQ(anim.display()->image1Left(), -1080);
    EXPECT_EQ(*timers.alive, 2);
}

TEST(AnimationWindow, RealTimersRunTheWholeAnimation)
{
    ScriptedRandom random;
    CountingSink drawn;
    windows::AnimationServices services;
    services.random = &random;
    services.observer = &drawn;
    AuxWindows aux(services);
    frmanim& anim = aux.showAnimation();
    WAIT_FOR_MS(anim.Timer2() && anim.Timer2()->interval() == 0
                                 && anim.display()->image2Visible(), 20000);
    EXPECT_EQ(anim.Timer1()->interval(), 0);
    EXPECT_EQ(drawn.points.size(), 427u);
    EXPECT_EQ(drawn.lines.size(), 13404u);
    EXPECT_EQ(anim.display()->image1Left(), 6720);
}

TEST(AnimationWindow, DotsAreNotKeptAcrossRepaints)
{
    FakeTimerFactory timers;
    // Every dot at x = 3405, y = 634 twips: pixel (227, 42), clear of both pictures.
    ScriptedRandom random(QList<double>() << 0.5 << 0.1, 0.0);
    AuxWindows aux(timers.services(&random));
    frmanim& anim = aux.showAnimation();
    QWidget* w = anim.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    auto* surface = anim.surface();

    // Only the first dot goes to (227, 42); the other 349 land at (0, 0).
    fake(anim.Timer1())->fire();
    WAIT_FOR((surface->pendingOperations()) == (0));
    QImage shown = screenOf(w);
    ASSERT_FALSE(shown.isNull());
    EXPECT_EQ(shown.pixel(227, 42) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(shown.pixel(0, 0) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(shown.pixel(100, 42) & 0xFFFFFF, 0x000000u);

    // Image1 (left -980 twips = pixel -66) shows its right 22 columns.
    const QImage slider(windows::kSliderPicture);
    EXPECT_EQ(shown.pixel(5, 120) & 0xFFFFFF, slider.pixel(71, 8) & 0xFFFFFF);

    // A repaint of the window brings back background and pictures only.
    const int paints = surface->paintCount();
    w->update();
    WAIT_FOR(surface->paintCount() > paints);
    shown = screenOf(w);
    EXPECT_EQ(shown.pixel(227, 42) & 0xFFFFFF, 0x000000u);
    EXPECT_EQ(shown.pixel(0, 0) & 0xFFFFFF, 0x000000u);
    EXPECT_EQ(shown.pixel(5, 120) & 0xFFFFFF, slider.pixel(71, 8) & 0xFFFFFF);
}

TEST(AnimationWindow, LaterTicksLeaveEarlierDotsOnScreen)
{
    FakeTimerFactory timers;
    ScriptedRandom random(QList<double>() << 0.5 << 0.1, 0.0);
    AuxWindows aux(timers.services(&random));
    frmanim& anim = aux.showAnimation();
    QWidget* w = anim.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    fake(anim.Timer1())->fire();
    WAIT_FOR((anim.surface()->pendingOperations()) == (0));
    // The next ticks move Image1 and add dots at (0, 0); the dot at (227, 42) stays.
    fake(anim.Timer1())->fire();
    fake(anim.Timer1())->fire();
    WAIT_FOR((anim.surface()->pendingOperations()) == (0));
    EXPECT_EQ(screenOf(w).pixel(227, 42) & 0xFFFFFF, 0xFFFFFFu);
}

TEST(AnimationWindow, FinishedWindowIsBlackWithTheLargePicture)
{
    FakeTimerFactory timers;
    ScriptedRandom random({}, 0.3);
    AuxWindows aux(timers.services(&random));
    frmanim& anim = aux.showAnimation();
    QWidget* w = anim.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    runSlide(anim);
    fake(anim.Timer2())->fire();
    WAIT_FOR((anim.surface()->pendingOperations()) == (0));
    const QImage shown = screenOf(w);
    const QImage finale(windows::kFinalePicture);
    // Every dot fell at pixel (136, 126), under Image2 at (40, 40).
    EXPECT_EQ(shown.pixel(136, 126) & 0xFFFFFF, finale.pixel(96, 86) & 0xFFFFFF);
    EXPECT_EQ(shown.pixel(40, 40) & 0xFFFFFF, finale.pixel(0, 0) & 0xFFFFFF);
    EXPECT_EQ(shown.pixel(422, 272) & 0xFFFFFF, finale.pixel(382, 232) & 0xFFFFFF);
    for (const QPoint p : {QPoint(0, 0), QPoint(10, 300), QPoint(445, 395), QPoint(430, 100)})
        EXPECT_EQ(shown.pixel(p) & 0xFFFFFF, 0u) << p.x() << "," << p.y();
}
