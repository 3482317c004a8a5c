#include <QAccessible>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QStyleOption>
#include <QTest>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>
#include <functional>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QToolButton>

#include "MainWindowFixture.h"
#include "app/HostKeyQuestion.h"
#include "app/PermissionsDialog.h"
#include "app/QtUi.h"
#include "app/TreePictures.h"
#include "remote/RemoteTree.h"
#include "transfer/DirList.h"
#include "transfer/DriveList.h"
#include "windows/AuxWindows.h"

using testsupport::MainWindowTest;

namespace {

struct EnabledRow {
    bool server, user, password, connect, disconnect, passive, closeSession, startSession, proxy, bin, ascii, get, put;
};

EnabledRow enabledState(const app::fmKESTRIX& w)
{
    return {w.txtServer->isEnabled(),     w.txtUser->isEnabled(),       w.txtPassword->isEnabled(),
            w.cmdConnect->isEnabled(),    w.cmdDisconnect->isEnabled(), w.chkPassive->isEnabled(),
            w.cmdClosehOpen->isEnabled(), w.cmdInternetOpen->isEnabled(), w.txtProxy->isEnabled(),
            w.optBin->isEnabled(),        w.optAscii->isEnabled(),      w.cmdGet->isEnabled(),
            w.cmdPut->isEnabled()};
}

bool operator==(const EnabledRow& a, const EnabledRow& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

TEST_F(MainWindowTest, StartsInNoSessionStateWithPassiveAndBinary)
{
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Quillon File Transfer FTP"));
    EXPECT_TRUE(window->chkPassive->isChecked());
    EXPECT_TRUE(window->optBin->isChecked());
    EXPECT_FALSE(window->optAscii->isChecked());
    EXPECT_EQ(window->dwType, 0x2u);
    EXPECT_FALSE(window->bConnected);
    EXPECT_EQ(window->hOpen, 0u);
    EXPECT_EQ(window->hConnection, 0u);
    EXPECT_EQ(window->colNames.size(), 0);
    EXPECT_EQ(window->colAttributes.size(), 0);
    const EnabledRow noSession{false, false, false, false, false, false, false, true, true, false, false, false, false};
    EXPECT_TRUE(enabledState(*window) == noSession);
    EXPECT_TRUE(internet.calls.empty());
    EXPECT_EQ(window->ImageList1.keys(), (QStringList{"open", "closed", "leaf", "root"}));
    // The pictures' background is see-through, so they sit on a dark tree too.
    for (const QString& key : window->ImageList1.keys()) {
        const QImage picture = window->ImageList1.pixmap(key).toImage();
        EXPECT_EQ(picture.pixelColor(0, 0).alpha(), 0) << key.toStdString();
        EXPECT_EQ(picture.pixelColor(8, 8).alpha(), 255) << key.toStdString();
    }
}

TEST_F(MainWindowTest, EnableControlsFollowsSessionAndConnection)
{
    window->bConnected = false;
    window->EnableControls(true);
    const EnabledRow session{true, true, true, true, false, true, true, false, false, true, true, false, false};
    EXPECT_TRUE(enabledState(*window) == session);

    window->bConnected = true;
    window->EnableControls(true);
    const EnabledRow connected{true, true, true, false, true, true, true, false, false, true, true, true, true};
    EXPECT_TRUE(enabledState(*window) == connected);

    window->EnableControls(false);  // whatever bConnected holds
    const EnabledRow none{false, false, false, false, false, false, false, true, true, false, false, false, false};
    EXPECT_TRUE(enabledState(*window) == none);
    for (QAction* item : {window->ss, window->cs, window->connect_, window->disconnect_, window->opconn, window->ext})
        EXPECT_TRUE(item->isEnabled());
}

TEST_F(MainWindowTest, ClearFieldsEmptiesBoxesAndBuffersButNotTheTree)
{
    window->txtServer->setText("srv");
    window->txtUser->setText("u");
    window->txtPassword->setText("p");
    window->txtProxy->setText("gw");
    window->colNames << "a" << "b";
    window->colAttributes << 16 << 128;
    window->TreeView1->addRoot("srv", "root");

    window->ClearFields();
    for (QLineEdit* box : {window->txtServer, window->txtUser, window->txtPassword, window->txtProxy})
        EXPECT_TRUE(box->text().isEmpty());
    EXPECT_EQ(window->colNames.size(), 0);
    EXPECT_EQ(window->colAttributes.size(), 0);
    EXPECT_NE(window->TreeView1->find("srv"), nullptr);

    window->ClearListing();  // on empty buffers
    EXPECT_EQ(window->colNames.size(), 0);
}

TEST_F(MainWindowTest, MenusHoldTheirItemsInOrderWithoutShortcuts)
{
    QStringList menus;
    for (QAction* a : window->menuBar()->actions())
        menus << a->text();
    EXPECT_EQ(menus, (QStringList{"File", "Session", "Connection", "Help"}));
    QStringList fileItems;
    for (QAction* a : window->file->actions())
        fileItems << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(fileItems, (QStringList{"Open Connection", "Save Connection", "-", "Exit"}));
    for (QMenu* m : {window->file, window->sess, window->conn, window->help})
        for (QAction* a : m->actions()) {
            EXPECT_TRUE(a->shortcut().isEmpty());
            EXPECT_FALSE(a->text().contains('&'));
        }
    EXPECT_EQ(window->connect_->objectName(), "connect");
    EXPECT_EQ(window->about->text(), "About");
}

TEST_F(MainWindowTest, TabOrderAndGeometrySpotChecks)
{
    EXPECT_EQ(window->txtPassword->nextInFocusChain(), window->cmdConnect);
    EXPECT_EQ(window->cmdConnect->nextInFocusChain(), window->cmdDisconnect);
    EXPECT_EQ(window->cmdDisconnect->nextInFocusChain(), static_cast<QWidget*>(window->Drive1));
    EXPECT_EQ(window->cmdInternetOpen->nextInFocusChain(), window->txtProxy);
    EXPECT_EQ(window->centralWidget()->size(), QSize(614, 356));
    EXPECT_EQ(window->TreeView1->geometry(), QRect(376, 152, 233, 193));
    EXPECT_EQ(window->chkPassive->parentWidget(), window->Frame1);
    EXPECT_EQ(window->chkPassive->geometry(), QRect(8, 64, 73, 25));
    EXPECT_EQ(window->txtPassword->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(window->cmdGet->font().bold());
    EXPECT_EQ(window->Label5->text(), "Server");
    EXPECT_EQ(window->label4->objectName(), "label4");
}

TEST_F(MainWindowTest, OptionsSetTheTransferType)
{
    window->EnableControls(true);
    window->optAscii->click();
    EXPECT_EQ(window->dwType, 0x1u);
    EXPECT_FALSE(window->optBin->isChecked());
    window->optBin->click();
    EXPECT_EQ(window->dwType, 0x2u);
    EXPECT_FALSE(window->optAscii->isChecked());
    window->optBin->click();  // clicking the chosen option keeps it
    EXPECT_TRUE(window->optBin->isChecked());
}

TEST_F(MainWindowTest, ExitEndsAtOnceWithoutClosingHandles)
{
    window->cmdInternetOpen_Click();
    internet.calls.clear();
    window->ext->trigger();
    EXPECT_EQ(quitCalls, 1);
    EXPECT_TRUE(internet.calls.empty());
    EXPECT_NE(window->hOpen, 0u);
}

TEST(TreePictures, WorkingFolderCopyWinsOverBuiltIn)
{
    QTemporaryDir dir;
    QImage red(16, 16, QImage::Format_RGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(dir.filePath("leaf.bmp"), "BMP"));
    const app::TreePicture fromFolder = app::loadTreePicture("leaf.bmp", QDir(dir.path()));
    ASSERT_TRUE(fromFolder.error.isEmpty());
    EXPECT_EQ(fromFolder.pixmap.toImage().pixel(3, 3), QColor(Qt::red).rgb());

    const app::TreePicture builtIn = app::loadTreePicture("root.bmp", QDir(dir.path()));
    ASSERT_TRUE(builtIn.error.isEmpty());
    EXPECT_EQ(builtIn.pixmap.size(), QSize(16, 16));
}

TEST(TreePictures, UnreadableFileInWorkingFolderStopsStartUp)
{
    QTemporaryDir dir;
    QFile bad(dir.filePath("open.bmp"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("this is no picture");
    bad.close();
    const app::TreePicture picture = app::loadTreePicture("open.bmp", QDir(dir.path()));
    EXPECT_TRUE(picture.pixmap.isNull());
    EXPECT_TRUE(picture.error.contains(dir.filePath("open.bmp"))) << picture.error.toStdString();

    // The load step shows the reason and refuses to go on.
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    testsupport::RecordingInternet internet;
    testsupport::ScriptedUi ui;
    const app::Program program(internet, {.ui = &ui, .quit = [] {}});
    EXPECT_FALSE(program.window().Form_Load());
    QDir::setCurrent(before);
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_TRUE(ui.shown[0].text.contains("open.bmp"));
}

// ---- Whole captions ----

namespace {

// The rectangle a control's caption is drawn in, as its style lays it out, in
// logical pixels; and the flags it is drawn with.
struct CaptionBox {
    QRect area;
    int flags = 0;
};

QString captionOf(const QWidget* w)
{
    if (auto* l = qobject_cast<const QLabel*>(w))
        return l->text();
    if (auto* b = qobject_cast<const QAbstractButton*>(w))
        return b->text();
    if (auto* g = qobject_cast<const QGroupBox*>(w))
        return g->title();
    return {};
}

CaptionBox captionBox(QWidget* w)
{
    const int wrap = w->property("wordWrap").toBool() ? int(Qt::TextWordWrap) : 0;
    if (auto* l = qobject_cast<QLabel*>(w)) {
        const int m = l->margin();
        return {l->contentsRect().adjusted(m, m, -m, -m), int(l->alignment()) | wrap};
    }
    if (auto* c = qobject_cast<QCheckBox*>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(c);
        opt.text = c->text();
        return {c->style()->subElementRect(QStyle::SE_CheckBoxContents, &opt, c), wrap};
    }
    if (auto* r = qobject_cast<QRadioButton*>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(r);
        opt.text = r->text();
        return {r->style()->subElementRect(QStyle::SE_RadioButtonContents, &opt, r), wrap};
    }
    if (auto* p = qobject_cast<QPushButton*>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(p);
        opt.text = p->text();
        return {p->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, p), int(Qt::AlignCenter)};
    }
    if (auto* t = qobject_cast<QToolButton*>(w)) {
        // Text under the icon: what the frame and the icon leave free.
        const int frame = t->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, t);
        QRect area = t->rect().adjusted(frame, frame, -frame, -frame);
        if (t->toolButtonStyle() == Qt::ToolButtonTextUnderIcon)
            area.setTop(area.top() + t->iconSize().height() + 3);
        return {area.adjusted(0, 0, 0, -1), int(Qt::AlignCenter)};
    }
    if (auto* g = qobject_cast<QGroupBox*>(w)) {
        QStyleOptionGroupBox opt;
        opt.initFrom(g);
        opt.text = g->title();
        opt.subControls = QStyle::SC_GroupBoxLabel;
        const QRect label = g->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, g);
        return {label.intersected(g->rect()), int(Qt::AlignLeft | Qt::AlignTop)};
    }
    return {};
}

// Every captioned control of the window whose caption does not fit its box,
// one per line.
std::string clippedCaptions(QWidget* window)
{
    QStringList clipped;
    QList<QWidget*> controls = window->findChildren<QWidget*>();
    controls.prepend(window);
    for (QWidget* w : controls) {
        const QString text = captionOf(w);
        if (text.isEmpty() || !w->isVisible() || qobject_cast<QLabel*>(w) && !qobject_cast<QLabel*>(w)->pixmap().isNull())
            continue;
        const CaptionBox box = captionBox(w);
        const QRect needed = w->fontMetrics().boundingRect(box.area, box.flags, text);
        if (box.area.isEmpty() || needed.width() > box.area.width() || needed.height() > box.area.height())
            clipped << QStringLiteral("%1 \"%2\": needs %3x%4, has %5x%6")
                           .arg(w->objectName(), text)
                           .arg(needed.width()).arg(needed.height())
                           .arg(box.area.width()).arg(box.area.height());
    }
    return clipped.join(QLatin1Char('\n')).toStdString();
}

}  // namespace

TEST_F(MainWindowTest, EveryCaptionShowsWhole)
{
    // Run once as is and once with QT_SCALE_FACTOR=2 (a ctest entry of its own).
    const qreal scale = qEnvironmentVariable("QT_SCALE_FACTOR", "1").toDouble();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_DOUBLE_EQ(window->devicePixelRatio(), scale);
    EXPECT_EQ(clippedCaptions(window), "");

    windows::AuxWindows aux;
    EXPECT_EQ(clippedCaptions(aux.showHelp()), "");
    EXPECT_EQ(clippedCaptions(aux.showLicence()), "");
    EXPECT_EQ(clippedCaptions(aux.showAbout()), "");
    EXPECT_EQ(clippedCaptions(aux.showAnimation().window()), "");
}

TEST_F(MainWindowTest, PasswordShowsAnAsteriskPerCharacter)
{
    window->EnableControls(true);
    window->txtPassword->setFocus();
    QTest::keyClicks(window->txtPassword, "s3cr");
    EXPECT_EQ(window->txtPassword->displayText(), "****");
    EXPECT_EQ(window->txtPassword->text(), "s3cr");
}

TEST(WindowFonts, APlatformThemeCannotChangeTheWindowsFont)
{
    // A theme sets fonts per kind of control; every window sets its own.
    QFont large(QStringLiteral("DejaVu Serif"));
    large.setPointSizeF(14);
    const QFont before = QApplication::font();
    for (const char* kind : {"QMenu", "QMenuBar", "QLabel", "QPlainTextEdit", "QListWidget", "QAbstractButton"})
        QApplication::setFont(large, kind);
    testsupport::RecordingInternet internet;
    testsupport::ScriptedUi ui;
    const app::Program program(internet, {.ui = &ui, .quit = [] {}});
    app::fmKESTRIX& window = program.window();
    windows::AuxWindows aux;
    QList<QWidget*> widgets{&window, window.menuBar(), window.file, window.sess, window.conn, window.help,
                            window.Label2, window.cmdConnect, aux.showHelp()->Text1(), aux.showLicence()->List1(),
                            aux.showAbout()->Label2()};
    for (QWidget* w : widgets) {
        EXPECT_DOUBLE_EQ(w->font().pointSizeF(), 8.25) << w->objectName().toStdString();
        EXPECT_EQ(QFontInfo(w->font()).family(), "DejaVu Sans") << w->objectName().toStdString();
    }
    EXPECT_EQ(clippedCaptions(aux.showAbout()), "");
    EXPECT_EQ(clippedCaptions(&window), "");
    QApplication::setFont(before);  // also drops the per-kind fonts
}

TEST_F(MainWindowTest, ScreenReadersHearEveryControlByNameAndKind)
{
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    const auto w = window;
    struct Spoken {
        QWidget* control;
        QString name;
        QAccessible::Role role;
    };
    const std::vector<Spoken> expected = {
        {w->cmdInternetOpen, "Start Internet Session", QAccessible::Button},
        {w->cmdClosehOpen, "Close Internet Session", QAccessible::Button},
        {w->txtProxy, "TIS Compatible Proxy", QAccessible::EditableText},
        {w->txtServer, "FTP Server Name", QAccessible::EditableText},
        {w->txtUser, "User Name", QAccessible::EditableText},
        {w->txtPassword, "Password", QAccessible::EditableText},
        {w->cmdConnect, "Connect", QAccessible::Button},
        {w->cmdDisconnect, "Disconnect", QAccessible::Button},
        {w->Command2, "Open Connection", QAccessible::Button},
        {w->Command1, "Save Connection", QAccessible::Button},
        {w->Drive1, "Local drive", QAccessible::ComboBox},
        {w->Dir1, "Local folders", QAccessible::List},
        {w->File1, "Local files", QAccessible::List},
        {w->cmdGet, "Download", QAccessible::Button},
        {w->cmdPut, "Upload", QAccessible::Button},
        {w->Frame1, "Transfer Type", QAccessible::Grouping},
        {w->optBin, "Binary", QAccessible::RadioButton},
        {w->optAscii, "Ascii", QAccessible::RadioButton},
        {w->chkPassive, "Passive FTP syntax", QAccessible::CheckBox},
        {w->TreeView1, "Server", QAccessible::Tree},
    };
    for (const auto& [control, name, role] : expected) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(control);
        ASSERT_NE(a, nullptr) << control->objectName().toStdString();
        QString spoken = a->text(QAccessible::Name);
        if (role == QAccessible::ComboBox) {
            // Announced by its entry and by the label it is labelled by.
            const auto labels = a->relations(QAccessible::Label);
            spoken = labels.isEmpty() ? QString() : labels.first().first->text(QAccessible::Name);
            EXPECT_EQ(control->accessibleName(), name);
        }
        EXPECT_EQ(spoken, name) << control->objectName().toStdString();
        EXPECT_EQ(a->role(), role) << control->objectName().toStdString();
    }
    EXPECT_EQ(w->Label2->buddy(), w->txtServer);
    EXPECT_EQ(w->label4->buddy(), w->txtPassword);
}

TEST_F(MainWindowTest, EnterAndReturnPressTheFocusedButton)
{
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    window->txtServer->setText("srv");
    const struct {
        QWidget* control;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        const char* call;  // what the button's handler asks of the Internet layer
    } presses[] = {
        {window->cmdInternetOpen, Qt::Key_Return, Qt::NoModifier, "InternetOpenA"},
        {window->txtPassword, Qt::Key_Return, Qt::NoModifier, "InternetConnectA"},  // as "Connect"
        {window->cmdDisconnect, Qt::Key_Return, Qt::NoModifier, "InternetCloseHandle"},
        {window->cmdConnect, Qt::Key_Enter, Qt::KeypadModifier, "InternetConnectA"},
        {window->cmdDisconnect, Qt::Key_Enter, Qt::KeypadModifier, "InternetCloseHandle"},
        {window->cmdClosehOpen, Qt::Key_Enter, Qt::KeypadModifier, "InternetCloseHandle"},
    };
    for (const auto& press : presses) {
        internet.calls.clear();
        press.control->setFocus();
        ASSERT_TRUE(press.control->hasFocus()) << press.call;
        QTest::keyClick(press.control, press.key, press.modifiers);
        EXPECT_EQ(internet.callsNamed(press.call).size(), 1u) << press.call;
        if (window->bConnected) {  // a connect puts the focus on the server's root node
            EXPECT_TRUE(window->TreeView1->hasFocus()) << press.call;
            EXPECT_EQ(window->TreeView1->selectedNode(), window->TreeView1->find("srv"));
        }
    }
    internet.calls.clear();
    window->cmdInternetOpen->setFocus();
    QTest::keyClick(window->cmdInternetOpen, Qt::Key_Return, Qt::ControlModifier);  // not a press
    EXPECT_TRUE(internet.calls.empty());
}

TEST_F(MainWindowTest, TransferTypeIsOneExclusiveGroupStartingEmpty)
{
    QButtonGroup* group = window->optBin->group();
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(window->optAscii->group(), group);
    EXPECT_TRUE(group->exclusive());

    // Before the load step neither option is chosen.
    testsupport::RecordingInternet otherInternet;
    testsupport::ScriptedUi otherUi;
    const app::Program other(otherInternet, {.ui = &otherUi, .quit = [] {}});
    app::fmKESTRIX& fresh = other.window();
    EXPECT_FALSE(fresh.optBin->isChecked());
    EXPECT_FALSE(fresh.optAscii->isChecked());
    EXPECT_EQ(fresh.dwType, 0u);

    // The keyboard moves the choice within the group, and the handlers follow.
    window->EnableControls(true);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    window->optBin->setFocus();
    QTest::keyClick(window->optBin, Qt::Key_Down);
    EXPECT_TRUE(window->optAscii->isChecked());
    EXPECT_FALSE(window->optBin->isChecked());
    EXPECT_EQ(window->dwType, 0x1u);
}

// ---- The program's own dialogs ----

namespace {

// Runs `look` on the first visible top-level widget of type W once a modal loop shows it.
template <typename W>
void whenShown(std::function<void(W*)> look)
{
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, look] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* found = qobject_cast<W*>(w); found && found->isVisible()) {
                poll->stop();
                poll->deleteLater();
                look(found);
                return;
            }
        }
    });
    poll->start(10);
}

}  // namespace

TEST(QtUi, ErrorBoxKeepsTextAndButtonsAndOffersTheReason)
{
    app::QtUi ui;
    QString text, detail;
    QMessageBox::StandardButtons buttons;
    whenShown<QMessageBox>([&](QMessageBox* box) {
        text = box->text();
        detail = box->detailedText();
        buttons = box->standardButtons();
        box->button(QMessageBox::No)->click();
    });
    EXPECT_EQ(ui.MsgBox(nullptr, "InternetConnect Err: 12029\r\nClose Connection and Session?", ui::MsgStyle::YesNo,
                        "Connection refused"),
              ui::MsgAnswer::No);
    EXPECT_EQ(text, "InternetConnect Err: 12029\r\nClose Connection and Session?");
    EXPECT_EQ(detail, "Connection refused");
    EXPECT_EQ(buttons, QMessageBox::Yes | QMessageBox::No);
}

TEST(QtUi, SaveDialogDoesNotAskBeforeReplacing)
{
    app::QtUi ui;
    bool asksFirst = true;
    QString title;
    whenShown<QFileDialog>([&](QFileDialog* dialog) {
        asksFirst = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
        title = dialog->windowTitle();
        dialog->reject();
    });
    EXPECT_EQ(ui.ShowSave(nullptr, {"Save Session", "Korvel FTP Files (*.kvx)"}), "");
    EXPECT_EQ(title, "Save Session");
    EXPECT_FALSE(asksFirst);
}

TEST(QtUi, ChoiceBoxNamesItsAnswersAndKeepsItsDefault)
{
    // How the user leaves the box: a button's text to click, or a key.
    struct Row {
        const char* what;
        ui::Choice choice;  // empty text: the host-key question
        QString press;
        int answer;
    };
    const QStringList replace{"Overwrite", "Skip", "Overwrite all", "Skip all", "Cancel"};
    const Row rows[] = {
        {"host key, Enter", {}, "Enter", int(app::HostKeyAnswer::No)},
        {"host key, Escape", {}, "Escape", int(app::HostKeyAnswer::No)},
        {"host key, Remember", {}, "Remember", int(app::HostKeyAnswer::Remember)},
        {"host key, Only this time", {}, "Only this time", int(app::HostKeyAnswer::ThisTime)},
        {"five answers, Enter", {"Replace?", replace, 1, 4}, "Enter", 1},
        {"five answers, Escape", {"Replace?", replace, 1, 4}, "Escape", 4},
        {"five answers, Skip all", {"Replace?", replace, 1, 4}, "Skip all", 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        app::QtUi ui;
        QStringList shown;
        whenShown<QMessageBox>([&](QMessageBox* box) {
            for (QAbstractButton* b : box->buttons())
                shown << b->text();
            if (row.press == "Enter" || row.press == "Escape")
                QTest::keyClick(box, row.press == "Enter" ? Qt::Key_Return : Qt::Key_Escape);
            else
                for (QAbstractButton* b : box->buttons())
                    if (b->text() == row.press)
                        b->click();
        });
        const bool hostKey = row.choice.text.isEmpty();
        const std::string blob = std::string("\0\0\0\x0bssh-ed25519\0\0\0\x20", 19) + std::string(32, 'k');
        const int answer = hostKey ? int(app::HostKeyQuestion::ask(ui, nullptr, "sftp://example.org", blob))
                                   : ui.Choose(nullptr, row.choice);
        EXPECT_EQ(answer, row.answer);
        EXPECT_EQ(shown.size(), hostKey ? 3 : replace.size());  // one button per answer, no other
    }
}

// The permissions box: the nine boxes and the octal value follow each other; a mode the
// listing did not give is not offered as if it were, so OK waits for a choice.
TEST(QtUi, PermissionsBoxShowsTheModeAsBoxesAndAsAnOctalValue)
{
    using Change = std::function<void(const QList<QCheckBox*>&, QLineEdit*)>;
    const struct {
        int listed;
        QString octalAtFirst;
        Change change;
        std::optional<int> answer;  // nothing: left with Escape, as OK cannot be pressed
    } rows[] = {
        {0640, "640", [](const QList<QCheckBox*>& bits, QLineEdit*) { bits[8]->click(); bits[1]->click(); }, 0441},
        {0644, "644", [](const QList<QCheckBox*>&, QLineEdit* octal) { octal->selectAll(); QTest::keyClicks(octal, "7509"); }, 0750},
        {-1, "", [](const QList<QCheckBox*>&, QLineEdit*) {}, std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.listed);
        app::QtUi ui;
        QString octalAtFirst, octalAfter;
        bool okAtFirst = false;
        whenShown<app::PermissionsDialog>([&](app::PermissionsDialog* box) {
            const QList<QCheckBox*> bits = box->findChildren<QCheckBox*>();
            auto* octal = box->findChild<QLineEdit*>();
            QPushButton* ok = box->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
            octalAtFirst = octal->text();
            okAtFirst = ok->isEnabled();
            row.change(bits, octal);
            octalAfter = octal->text();
            int checked = 0;
            for (int i = 0; i < bits.size(); ++i)
                checked |= bits[i]->isChecked() ? 0400 >> i : 0;
            EXPECT_EQ(checked, row.answer.value_or(0));
            if (ok->isEnabled())
                ok->click();
            else
                QTest::keyClick(box, Qt::Key_Escape);
        });
        EXPECT_EQ(ui.AskPermissions(nullptr, {"f", row.listed}), row.answer);
        EXPECT_EQ(octalAtFirst, row.octalAtFirst);
        EXPECT_EQ(okAtFirst, row.listed >= 0);
        if (row.answer)
            EXPECT_EQ(octalAfter.toInt(nullptr, 8), *row.answer);
    }
}
