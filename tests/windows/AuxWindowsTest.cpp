#include "AnimationFakes.h"
#include "support/Wait.h"
#include "windows/AuxTexts.h"
#include "windows/AuxWindows.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QTimer>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace windows;
using testsupport::FakeTimerFactory;

namespace {

template <typename W>
void closeAndWait(W* window)
{
    QPointer<W> guard(window);
    window->close();
    WAIT_FOR(guard.isNull());
}

void expectOwnerlessTopLevel(QWidget* w)
{
    EXPECT_EQ(w->parentWidget(), nullptr);
    EXPECT_TRUE(w->isWindow());
    EXPECT_EQ(w->windowType(), Qt::Window);
    EXPECT_TRUE(w->testAttribute(Qt::WA_QuitOnClose));
    EXPECT_FALSE(w->isModal());
    EXPECT_TRUE(w->isVisible());
}

}  // namespace

TEST(HelpWindow, ShowsTheStoredText)
{
    AuxWindows aux;
    fmhelp* help = aux.showHelp();
    expectOwnerlessTopLevel(help);
    EXPECT_EQ(help->windowTitle(), "Help");
    EXPECT_EQ(help->size(), QSize(473, 399));
    EXPECT_FALSE(help->windowIcon().isNull());
    QPlainTextEdit* text = help->Text1();
    EXPECT_EQ(text->objectName(), "Text1");
    EXPECT_EQ(text->geometry(), QRect(0, 0, 473, 401));
    EXPECT_FALSE(text->isReadOnly());
    EXPECT_EQ(text->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(text->toPlainText(), QString(helpText()).replace("\r\n", "\n"));
}

TEST(HelpWindow, SecondRequestKeepsTheSameWindowAndItsEdits)
{
    AuxWindows aux;
    fmhelp* first = aux.showHelp();
    first->Text1()->setPlainText("typed by the user");
    fmhelp* second = aux.showHelp();
    EXPECT_EQ(first, second);
    EXPECT_EQ(second->Text1()->toPlainText(), "typed by the user");
    int helpWindows = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<fmhelp*>(w))
            ++helpWindows;
    EXPECT_EQ(helpWindows, 1);
}

TEST(HelpWindow, ReopensFreshAfterClose)
{
    AuxWindows aux;
    fmhelp* first = aux.showHelp();
    first->Text1()->setPlainText(helpText().repeated(5) + "edited");
    first->Text1()->verticalScrollBar()->setValue(first->Text1()->verticalScrollBar()->maximum());
    closeAndWait(first);
    EXPECT_EQ(aux.help(), nullptr);

    fmhelp* again = aux.showHelp();
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(again->isVisible());
    EXPECT_EQ(again->Text1()->toPlainText(), QString(helpText()).replace("\r\n", "\n"));
    EXPECT_EQ(again->Text1()->verticalScrollBar()->value(), 0);
}

TEST(LicenceWindow, TheLicenceLineByLineAndNoButton)
{
    AuxWindows aux;
    frmlicence* lic = aux.showLicence();
    expectOwnerlessTopLevel(lic);
    EXPECT_EQ(lic->windowTitle(), "License");
    EXPECT_EQ(lic->size(), QSize(600, 431));
    QListWidget* list = lic->List1();
    EXPECT_EQ(list->objectName(), "List1");
    EXPECT_EQ(list->geometry(), QRect(0, 8, 601, 420));
    const QStringList lines = licenceLines();
    ASSERT_EQ(list->count(), lines.size());
    for (int i = 0; i < list->count(); ++i) {
        EXPECT_EQ(list->item(i)->text(), lines[i]);
        EXPECT_EQ(list->item(i)->data(Qt::UserRole).toInt(), 0);
    }
    EXPECT_FALSE(list->isSortingEnabled());
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_TRUE(lic->findChildren<QAbstractButton*>().isEmpty());
    EXPECT_EQ(lic->windowIcon().cacheKey() != 0, true);
}

TEST(LicenceWindow, SelectingALineDoesNothingElse)
{
    AuxWindows aux;
    frmlicence* lic = aux.showLicence();
    QListWidget* list = lic->List1();
    list->setCurrentRow(3);
    list->setCurrentRow(8);
    EXPECT_EQ(list->selectedItems().size(), 1);
    EXPECT_EQ(list->count(), licenceLines().size());
    EXPECT_TRUE(lic->isVisible());
    EXPECT_EQ(aux.showLicence(), lic);
    EXPECT_EQ(list->currentRow(), 8) << "a second request resets nothing";

    closeAndWait(lic);
    EXPECT_EQ(aux.showLicence()->List1()->selectedItems().size(), 0);
}

TEST(AboutWindow, LogoAndFourCentredLines)
{
    AuxWindows aux;
    Form4* about = aux.showAbout();
    expectOwnerlessTopLevel(about);
    EXPECT_EQ(about->windowTitle(), "About");
    EXPECT_EQ(about->size(), QSize(255, 205));
    EXPECT_EQ(about->Picture1()->geometry(), QRect(56, 8, 129, 73));
    EXPECT_EQ(about->Picture1()->pixmap().size(), QSize(121, 70));
    EXPECT_EQ(about->Label1()->text(), "KorvelFTP 2000 v1.0");
    EXPECT_EQ(about->Label1()->geometry(), QRect(64, 88, 113, 17));
    EXPECT_EQ(about->Label2()->geometry(), QRect(8, 112, 225, 17));
    EXPECT_EQ(about->Label3()->geometry(), QRect(8, 136, 225, 17));
    EXPECT_EQ(about->Label4()->geometry(), QRect(0, 160, 241, 33));
    EXPECT_EQ(about->Label2()->text(), kAboutLabel2);
    EXPECT_EQ(about->Label3()->text(), kAboutLabel3);
    EXPECT_EQ(about->Label4()->text(), kAboutLabel4);
    for (QLabel* l : {about->Label1(), about->Label2(), about->Label3(), about->Label4()})
        EXPECT_TRUE(l->alignment() & Qt::AlignHCenter) << l->objectName().toStdString();
    EXPECT_TRUE(about->findChildren<QAbstractButton*>().isEmpty());
    EXPECT_NE(about->windowIcon().cacheKey(), aux.showHelp()->windowIcon().cacheKey());
}

TEST(AboutWindow, DoubleClickOnLogoOpensTheAnimationAndKeepsAbout)
{
    FakeTimerFactory timers;
    AuxWindows aux(timers.services());
    Form4* about = aux.showAbout();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(about));
    EXPECT_EQ(aux.animation(), nullptr);
    QTest::mouseDClick(about->Picture1(), Qt::LeftButton, {}, QPoint(30, 30));
    ASSERT_NE(aux.animation(), nullptr);
    WAIT_FOR(aux.animation()->isOpen());
    EXPECT_TRUE(about->isVisible());
    EXPECT_EQ(aux.about(), about);
    QWidget* anim = aux.animation()->window();

    about->Picture1_DblClick();  // again while open: no second window, no restart
    EXPECT_EQ(aux.animation()->window(), anim);
    EXPECT_EQ(timers.made, 2);
}

TEST(AboutWindow, DoubleClickAfterAboutWasReopenedReachesTheSameAnimation)
{
    FakeTimerFactory timers;
    AuxWindows aux(timers.services());
    aux.showAbout()->Picture1_DblClick();
    frmanim* anim = aux.animation();
    closeAndWait(aux.about());
    aux.showAbout()->Picture1_DblClick();
    EXPECT_EQ(aux.animation(), anim);
}

TEST(AuxWindows, WindowsOutliveTheMainWindow)
{
    // The program's own event loop decides: it must keep running after the
    // main window closes and end when the help window closes.
    ASSERT_TRUE(QGuiApplication::quitOnLastWindowClosed());
    for (QWidget* w : QApplication::topLevelWidgets())
        ASSERT_FALSE(w->isVisible()) << "a window of an earlier test is still open";

    auto* main = new QWidget;
    main->setAttribute(Qt::WA_DeleteOnClose);
    main->show();
    AuxWindows aux;
    QPointer<fmhelp> help = aux.showHelp();

    bool runningAfterMainClosed = false;
    bool helpStillShown = false;
    QTimer::singleShot(0, main, [main] { main->close(); });
    QTimer::singleShot(50, qApp, [&] {
        runningAfterMainClosed = true;
        helpStillShown = help && help->isVisible();
        if (help)
            help->close();
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
    watchdog.start(5000);

    const int code = QApplication::exec();
    watchdog.stop();
    EXPECT_EQ(code, 0) << "the event loop did not end when the last window closed";
    EXPECT_TRUE(runningAfterMainClosed) << "closing the main window ended the program";
    EXPECT_TRUE(helpStillShown);
}

TEST(AuxWindows, EachKindOpensOnceAndAllAtOnce)
{
    FakeTimerFactory timers;
    AuxWindows aux(timers.services());
    fmhelp* help = aux.showHelp();
    frmlicence* lic = aux.showLicence();
    Form4* about = aux.showAbout();
    frmanim& anim = aux.showAnimation();
    EXPECT_EQ(aux.showHelp(), help);
    EXPECT_EQ(aux.showLicence(), lic);
    EXPECT_EQ(aux.showAbout(), about);
    EXPECT_EQ(&aux.showAnimation(), &anim);
    for (QWidget* w : {static_cast<QWidget*>(help), static_cast<QWidget*>(lic),
                       static_cast<QWidget*>(about), anim.window()}) {
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(w->parentWidget(), nullptr);
    }
}

TEST(AuxWindows, RegistryTakesItsWindowsWithIt)
{
    QPointer<QWidget> help;
    QPointer<QWidget> anim;
    {
        FakeTimerFactory timers;
        AuxWindows aux(timers.services());
        help = aux.showHelp();
        anim = aux.showAnimation().window();
        aux.showAbout();
    }
    EXPECT_TRUE(help.isNull());
    EXPECT_TRUE(anim.isNull());
}

TEST(AuxWindows, EscapeClosesEachWindow)
{
    FakeTimerFactory timers;
    AuxWindows aux(timers.services());
    const auto escapeCloses = [](QWidget* window, QWidget* focus) {
        window->activateWindow();
        if (!QTest::qWaitForWindowActive(window))
            return false;
        focus->setFocus();
        QPointer<QWidget> guard(window);
        QTest::keyClick(focus, Qt::Key_Escape);
        return QTest::qWaitFor([&] { return guard.isNull() || !guard->isVisible(); }, 5000);
    };
    fmhelp* help = aux.showHelp();
    EXPECT_TRUE(escapeCloses(help, help->Text1()));
    frmlicence* licence = aux.showLicence();
    EXPECT_TRUE(escapeCloses(licence, licence->List1()));
    Form4* about = aux.showAbout();
    EXPECT_TRUE(escapeCloses(about, about->Picture1()));
    frmanim& anim = aux.showAnimation();
    EXPECT_TRUE(escapeCloses(anim.window(), anim.window()));
    EXPECT_FALSE(anim.isOpen());
}

TEST(AuxWindows, ScreenReadersHearTheTextBoxesAndTheLogoByName)
{
    AuxWindows aux;
    const std::pair<QWidget*, QString> named[] = {{aux.showHelp()->Text1(), "Help text"},
                                                  {aux.showLicence()->List1(), "License text"},
                                                  {aux.showAbout()->Picture1(), "Quillon FTP logo"}};
    for (const auto& [widget, name] : named)
        EXPECT_EQ(QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name), name);
}
