#include <gtest/gtest.h>

#include <QLocale>
#include <QApplication>
#include <QProgressDialog>
#include <QTest>

#include "app/CallProgressPresenter.h"
#include <QAccessible>
#include <QProgressBar>

#include "app/QtProgressView.h"

namespace {

using namespace std::chrono_literals;

struct RecordingView : app::ProgressView {
    std::vector<QString> texts;
    std::vector<std::pair<int, int>> bars;
    int hides = 0;
    int pumps = 0;
    int pumpsWithInput = 0;
    bool cancel = false;
    void showProgress(const QString& text, int value, int maximum) override
    {
        texts.push_back(text);
        bars.emplace_back(value, maximum);
    }
    void hideProgress() override { ++hides; }
    void pumpEvents(bool shown) override { ++pumps, pumpsWithInput += shown; }
    bool cancelRequested() const override { return cancel; }
};

struct FakeClock {
    std::chrono::steady_clock::time_point now{};
    app::CallProgressPresenter::Clock fn() { return [this] { return now; }; }
};

// Sizes are written the locale's way; these cases read them in English.
struct EnglishLocale {
    QLocale before;
    EnglishLocale() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    ~EnglishLocale() { QLocale::setDefault(before); }
};

net::CallProgress download(std::uint64_t done, std::uint64_t total)
{
    return {net::CallProgress::Kind::Downloading, "a.bin", done, total};
}

}  // namespace

TEST(CallProgress, StaysHiddenForHalfASecondButKeepsWindowsPainting)
{
    RecordingView view;
    FakeClock clock;
    app::CallProgressPresenter presenter(view, clock.fn());
    presenter.callStarted(download(0, 100));
    clock.now += 400ms;
    EXPECT_TRUE(presenter.callProgress(download(10, 100)));
    EXPECT_TRUE(view.texts.empty());
    EXPECT_EQ(view.pumps, 1);
    EXPECT_EQ(view.pumpsWithInput, 0);  // no user input before the modal window shows
    presenter.callFinished();
    EXPECT_EQ(view.hides, 0);
}

TEST(CallProgress, ShowsTextAndBarThenCancelStopsTheCall)
{
    const EnglishLocale english;
    RecordingView view;
    FakeClock clock;
    app::CallProgressPresenter presenter(view, clock.fn());
    presenter.callStarted(download(0, 0));
    clock.now += 3s;
    const std::uint64_t mib = 1024 * 1024;
    EXPECT_TRUE(presenter.callProgress(download(45 * mib, 120 * mib)));
    ASSERT_EQ(view.texts.size(), 1u);
    EXPECT_EQ(view.texts[0], "Downloading a.bin: 45.0 MiB of 120.0 MiB, 15.0 MiB/s");
    EXPECT_EQ(view.bars[0], std::make_pair(375, 1000));
    EXPECT_TRUE(presenter.running());

    view.cancel = true;
    EXPECT_FALSE(presenter.callProgress(download(46 * mib, 120 * mib)));
    presenter.callFinished();
    EXPECT_EQ(view.hides, 1);
    EXPECT_FALSE(presenter.running());
}

TEST(CallProgress, DescribesEveryKindOfCall)
{
    const EnglishLocale english;
    using K = net::CallProgress::Kind;
    EXPECT_EQ(app::CallProgressPresenter::describe({K::Connecting, "host", 0, 0}, 0), "Connecting to host...");
    EXPECT_EQ(app::CallProgressPresenter::describe({K::Listing, "/pub", 12345, 0}, 0), "Listing /pub: 12,345 entries");
    EXPECT_EQ(app::CallProgressPresenter::describe({K::Uploading, "b", 1024 * 1024, 0}, 0), "Uploading b: 1.0 MiB");
    EXPECT_EQ(app::CallProgressPresenter::describe({K::Downloading, "c", 1024, 0, "/home/me/caf\xc3\xa9/c"}, 0),
              "Downloading c to /home/me/caf\u00e9: 1.0 KiB");
    EXPECT_EQ(app::CallProgressPresenter::describe({K::Checking, "d", 1024, 1024}, 0),
              "Checking d against the server's hash...");
}

TEST(CallProgress, SlowTransferShowsItsRateInTheUnitThatFits)
{
    const EnglishLocale english;
    const std::uint64_t mib = 1024 * 1024;
    const net::CallProgress huge{net::CallProgress::Kind::Downloading, "huge.bin", 2726298, 20027802};
    EXPECT_EQ(app::CallProgressPresenter::describe(huge, 0.5 * mib),
              "Downloading huge.bin: 2.6 MiB of 19.1 MiB, 512.0 KiB/s");
    EXPECT_EQ(app::CallProgressPresenter::describe({net::CallProgress::Kind::Uploading, "s", 700, 0}, 35),
              "Uploading s: 700 bytes, 35 bytes/s");
    EXPECT_EQ(app::CallProgressPresenter::describe({net::CallProgress::Kind::Uploading, "t", 3 * mib * 1024, 0},
                                                   1.25 * mib * 1024),
              "Uploading t: 3.0 GiB, 1.3 GiB/s");
}

TEST(CallProgress, AClosingWindowCancelsEveryCallAtItsFirstReport)
{
    RecordingView view;
    FakeClock clock;
    app::CallProgressPresenter presenter(view, clock.fn());
    presenter.cancelCalls();
    for (int call = 0; call < 2; ++call) {
        presenter.callStarted(download(0, 100));
        EXPECT_FALSE(presenter.callProgress(download(1, 100)));  // long before the window would show
        presenter.callFinished();
    }
    EXPECT_TRUE(view.texts.empty());
}

TEST(CallProgress, TheProgressWindowMadeAheadStaysHiddenUntilACallNeedsItAndOnlyEscapeOrCancelEndIt)
{
    QWidget owner;
    owner.show();
    app::QtProgressView view(&owner);
    QTest::qWait(4200);  // a progress dialog shows itself when its own 4 s timer runs out
    auto visibleDialogs = [] {
        int n = 0;
        for (QWidget* top : QApplication::topLevelWidgets())
            n += qobject_cast<QProgressDialog*>(top) && top->isVisible();
        return n;
    };
    EXPECT_EQ(visibleDialogs(), 0);
    view.showProgress(QStringLiteral("Downloading a.bin"), 1, 2);
    EXPECT_EQ(visibleDialogs(), 1);
    QProgressBar* bar = owner.findChild<QProgressBar*>();
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(bar)->text(QAccessible::Name), "Progress");
    // No default button: a stray Return leaves the call running; Escape cancels it.
    auto* dialog = owner.findChild<QProgressDialog*>();
    QTest::keyClick(dialog->focusWidget() ? dialog->focusWidget() : dialog, Qt::Key_Return);
    EXPECT_FALSE(view.cancelRequested());
    QTest::keyClick(dialog, Qt::Key_Escape);
    EXPECT_TRUE(view.cancelRequested());
    view.hideProgress();
    EXPECT_EQ(visibleDialogs(), 0);
}

TEST(CallProgress, ABatchKeepsOneWindowOverItsCallsCountsFilesAndBytesAndItsCancelHolds)
{
    const EnglishLocale english;
    RecordingView view;
    FakeClock clock;
    app::CallProgressPresenter presenter(view, clock.fn());
    presenter.batchStarted(3, 4000);
    for (std::uint64_t file = 0; file < 2; ++file) {
        presenter.batchFile(file, file * 1000);
        presenter.callStarted(download(0, 1000));
        clock.now += 1s;
        EXPECT_TRUE(presenter.callProgress(download(1000, 1000)));
        EXPECT_TRUE(presenter.callProgress(download(1000, 1000)));  // too soon to draw again
        presenter.callFinished();
        EXPECT_TRUE(presenter.running());  // between files too: input stays refused
    }
    ASSERT_EQ(view.texts.size(), 2u);
    EXPECT_EQ(view.texts[1].toStdString(), "File 2 of 3, 2.0 KiB of 3.9 KiB, 2 s left\n"
                             "Downloading a.bin: 1,000 bytes of 1,000 bytes, 1,000 bytes/s");
    EXPECT_EQ(view.bars[1], std::make_pair(500, 1000));
    EXPECT_EQ(view.hides, 0);

    presenter.batchFile(2, 2000);
    presenter.callStarted(download(0, 2000));
    view.cancel = true;
    EXPECT_FALSE(presenter.callProgress(download(10, 2000)));
    view.cancel = false;  // the window's own flag goes as it hides; the batch's stays
    presenter.callFinished();
    EXPECT_TRUE(presenter.batchCancelled());
    presenter.batchEnded();
    EXPECT_EQ(view.hides, 1);
    EXPECT_FALSE(presenter.running());
}
