#include "app/fmKESTRIX.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCoreApplication>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <limits>

#include "app/DropTargets.h"
#include "remote/RemoteTree.h"
#include "transfer/DirList.h"
#include "transfer/DriveList.h"
#include "transfer/FileList.h"
#include "windows/ButtonKeys.h"
#include "windows/PasswordStarStyle.h"
#include "windows/WindowStyle.h"
#include "windows/WrappingCheckBox.h"

// The main window's controls, menus, tab order and the wiring of their events to
// the handlers: fixed, as the window was drawn.

namespace app {

namespace {

// Positions are kept in twips, as the window was drawn; 15 twips to a pixel.
constexpr int px(int twips) { return twips / 15; }

template <typename W>
W* place(W* widget, const char* name, int left, int top, int width, int height)
{
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(px(left), px(top), px(width), px(height));
    return widget;
}

QFont sansSerif(qreal points, bool bold)
{
    return windows::standardFont(points, bold);
}

QToolButton* pictureButton(QWidget* parent, const QString& caption, const QString& iconPath)
{
    auto* button = new QToolButton(parent);
    button->setText(caption);
    button->setIcon(QIcon(iconPath));
    button->setIconSize(QSize(32, 32));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setAutoRaise(false);
    return button;
}

QLabel* label(QWidget* parent, const QString& caption)
{
    auto* l = new QLabel(caption, parent);
    l->setTextFormat(Qt::PlainText);
    return l;
}

}  // namespace

fmKESTRIX::fmKESTRIX(net::InternetApi& internet, ui::UiInterface& ui, CallControl& calls,
                     windows::AuxWindows* aux, std::function<void()> quit)
    : m_internet(internet), m_ui(ui), m_calls(calls), m_aux(aux), m_quit(std::move(quit))
{
    setObjectName(QStringLiteral("fmKESTRIX"));
    setWindowTitle(QStringLiteral("Quillon File Transfer FTP"));
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/app.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/icons/app16.png"), QSize(16, 16));
    setWindowIcon(icon);
    if (!m_quit)
        m_quit = [] { QCoreApplication::exit(0); };
    buildControls();
    buildMenus();
    buildTreeMenu();
    setTabOrder();
    wireHandlers();
    m_drops = std::make_unique<DropTargets>(*this);
    windows::pressButtonsOnEnter(this);
    // The controls keep their places whatever the size, so the size is fixed.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

fmKESTRIX::~fmKESTRIX()
{
    TreeView1->setImageList(nullptr);  // ImageList1 goes before the tree, which may still paint
}

void fmKESTRIX::buildControls()
{
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(px(9210), px(5340));
    setFont(sansSerif(8.25, false));  // the menu bar too, whatever a platform theme says
    client->setFont(sansSerif(8.25, false));
    setCentralWidget(client);

    const QFont boldButton = sansSerif(8.25, true);
    const QFont heading = sansSerif(9.75, true);

    // Created in the order of their control index.
    cmdGet = place(new QPushButton(QStringLiteral("<--- Download"), client), "cmdGet", 4200, 4200, 1335, 375);
    cmdGet->setFont(boldButton);
    TreeView1 = place(new remote::RemoteTree(client), "TreeView1", 5640, 2280, 3495, 2895);
    ImageList1.setUseMaskColor(true);  // the pictures' background shows the tree's own, light or dark
    Command2 = place(pictureButton(client, QStringLiteral("Open Connection"), QStringLiteral(":/icons/open-connection.png")),
                     "Command2", 120, 960, 1455, 855);
    Command1 = place(pictureButton(client, QStringLiteral("Save Connection"), QStringLiteral(":/icons/save-connection.png")),
                     "Command1", 1560, 960, 1455, 855);
    cmdPut = place(new QPushButton(QStringLiteral("Upload ------>"), client), "cmdPut", 4200, 3840, 1335, 375);
    cmdPut->setFont(boldButton);
    File1 = place(new transfer::FileList(client), "File1", 2040, 2640, 2055, 2625);
    Dir1 = place(new transfer::DirList(client), "Dir1", 0, 2640, 2055, 2565);
    Drive1 = place(new transfer::DriveList(client), "Drive1", 0, 2280, 4095, 315);
    cmdDisconnect = place(pictureButton(client, QStringLiteral("Disconnect"), QStringLiteral(":/icons/disconnect.png")),
                          "cmdDisconnect", 8160, 960, 975, 855);
    cmdConnect = place(pictureButton(client, QStringLiteral("Connect"), QStringLiteral(":/icons/connect.png")),
                       "cmdConnect", 7200, 960, 975, 855);
    txtPassword = place(new QLineEdit(client), "txtPassword", 7920, 600, 1215, 285);
    txtPassword->setEchoMode(QLineEdit::Password);
    auto* stars = new windows::PasswordStarStyle;
    stars->setParent(txtPassword);
    txtPassword->setStyle(stars);
    txtUser = place(new QLineEdit(client), "txtUser", 5160, 600, 1695, 285);
    txtServer = place(new QLineEdit(client), "txtServer", 1560, 600, 2415, 285);
    cmdClosehOpen = place(new QPushButton(QStringLiteral("Close Internet Session"), client), "cmdClosehOpen",
                          2160, 0, 1935, 375);
    txtProxy = place(new QLineEdit(client), "txtProxy", 7800, 0, 1335, 315);
    cmdInternetOpen = place(new QPushButton(QStringLiteral("Start Internet Session"), client), "cmdInternetOpen",
                            120, 0, 1935, 375);
    for (QLineEdit* box : {txtPassword, txtUser, txtServer, txtProxy})
        box->setMaxLength(std::numeric_limits<int>::max());  // nothing limits their length

    Frame1 = place(new QGroupBox(QStringLiteral("Transfer Type"), client), "Frame1", 4200, 2280, 1335, 1455);
    auto* passive = place(new windows::WrappingCheckBox(QStringLiteral("Passive FTP syntax"), Frame1), "chkPassive",
                          120, 960, 1095, 375);
    passive->fitCaption(8.25);
    chkPassive = passive;
    optBin = place(new QRadioButton(QStringLiteral("Binary"), Frame1), "optBin", 120, 240, 855, 375);
    optAscii = place(new QRadioButton(QStringLiteral("Ascii"), Frame1), "optAscii", 120, 600, 975, 195);
    // One exclusive group; neither option is selected until the load step picks "Binary".
    auto* transferType = new QButtonGroup(Frame1);
    transferType->setObjectName(QStringLiteral("transferType"));
    transferType->setExclusive(true);
    transferType->addButton(optBin);
    transferType->addButton(optAscii);

    Label6 = place(label(client, QStringLiteral("Local")), "Label6", 1560, 1920, 975, 255);
    Label5 = place(label(client, QStringLiteral("Server")), "Label5", 7440, 1920, 1335, 255);
    for (QLabel* l : {Label6, Label5}) {
        l->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        l->setFont(heading);
    }
    label4 = place(label(client, QStringLiteral("Password:")), "label4", 6960, 600, 855, 255);
    Label3 = place(label(client, QStringLiteral("User Name:")), "Label3", 4080, 600, 975, 255);
    Label2 = place(label(client, QStringLiteral("FTP Server Name:")), "Label2", 120, 600, 1335, 255);
    Line1 = new QFrame(client);
    Line1->setObjectName(QStringLiteral("Line1"));
    Line1->setFrameShape(QFrame::HLine);
    Line1->setFrameShadow(QFrame::Plain);
    Line1->setGeometry(px(120), px(480), px(9120 - 120), 1);
    Label1 = place(label(client, QStringLiteral("TIS Compatible Proxy (No CERN):")), "Label1", 5160, 0, 2535, 255);

    // What a screen reader announces: the caption beside each box and list.
    const QList<QPair<QWidget*, QString>> names = {
        {txtServer, QStringLiteral("FTP Server Name")}, {txtUser, QStringLiteral("User Name")},
        {txtPassword, QStringLiteral("Password")},      {txtProxy, QStringLiteral("TIS Compatible Proxy")},
        {TreeView1, QStringLiteral("Server")},          {Drive1, QStringLiteral("Local drive")},
        {Dir1, QStringLiteral("Local folders")},        {File1, QStringLiteral("Local files")},
        {cmdGet, QStringLiteral("Download")},           {cmdPut, QStringLiteral("Upload")}};
    for (const auto& [control, name] : names)
        control->setAccessibleName(name);
    Label2->setBuddy(txtServer);
    Label3->setBuddy(txtUser);
    label4->setBuddy(txtPassword);
    Label1->setBuddy(txtProxy);
    Label5->setBuddy(TreeView1);
    // On Linux a drop-down list is announced by its current entry and its
    // label relation, so the drive list gets a label that is never shown.
    auto* driveLabel = label(client, QStringLiteral("Local drive"));
    driveLabel->setObjectName(QStringLiteral("Drive1Label"));
    driveLabel->setBuddy(Drive1);
    driveLabel->hide();
}

void fmKESTRIX::buildMenus()
{
    auto item = [this](QMenu* menu, QAction*& action, const char* name, const QString& caption) {
        action = menu->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
    };
    auto topMenu = [this](QMenu*& menu, const char* name, const QString& caption) {
        menu = menuBar()->addMenu(caption);
        menu->setObjectName(QString::fromLatin1(name));
        menu->setFont(font());  // a menu is a window of its own and does not inherit it
    };
    topMenu(file, "file", QStringLiteral("File"));
    item(file, opconn, "opconn", QStringLiteral("Open Connection"));
    item(file, sveconn, "sveconn", QStringLiteral("Save Connection"));
    lne = file->addSeparator();
    lne->setObjectName(QStringLiteral("lne"));
    item(file, ext, "ext", QStringLiteral("Exit"));
    topMenu(sess, "sess", QStringLiteral("Session"));
    item(sess, ss, "ss", QStringLiteral("Start Session"));
    item(sess, cs, "cs", QStringLiteral("Close Session"));
    topMenu(conn, "conn", QStringLiteral("Connection"));
    item(conn, connect_, "connect", QStringLiteral("Connect"));
    item(conn, disconnect_, "disconnect", QStringLiteral("Disconnect"));
    topMenu(help, "help", QStringLiteral("Help"));
    item(help, hlp, "hlp", QStringLiteral("Help"));
    item(help, license, "license", QStringLiteral("License"));
    item(help, about, "about", QStringLiteral("About"));
}

// The commands on server entries: the tree's context menu, and the keys users know for
// them while the tree has the focus.
void fmKESTRIX::buildTreeMenu()
{
    const auto item = [this](QAction*& action, const char* name, const QString& caption, QKeySequence key,
                             void (fmKESTRIX::*handler)()) {
        action = new QAction(caption, TreeView1);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcut(key);
        action->setShortcutContext(Qt::WidgetShortcut);
        TreeView1->addAction(action);
        connect(action, &QAction::triggered, this, handler);
    };
    item(mnuNewFolder, "mnuNewFolder", QStringLiteral("New Folder"), {}, &fmKESTRIX::mnuNewFolder_Click);
    item(mnuRename, "mnuRename", QStringLiteral("Rename"), QKeySequence(Qt::Key_F2), &fmKESTRIX::mnuRename_Click);
    item(mnuDelete, "mnuDelete", QStringLiteral("Delete"), QKeySequence(QKeySequence::Delete), &fmKESTRIX::mnuDelete_Click);
    item(mnuPermissions, "mnuPermissions", QStringLiteral("Permissions..."), {}, &fmKESTRIX::mnuPermissions_Click);
    item(mnuRefresh, "mnuRefresh", QStringLiteral("Refresh"), QKeySequence(Qt::Key_F5), &fmKESTRIX::mnuRefresh_Click);
    TreeView1->setContextMenuPolicy(Qt::ActionsContextMenu);
}

void fmKESTRIX::setTabOrder()
{
    const QList<QWidget*> order = {cmdInternetOpen, txtProxy, cmdClosehOpen, txtServer, txtUser, txtPassword,
                                   cmdConnect, cmdDisconnect, Drive1, Dir1, File1, cmdGet, cmdPut,
                                   Command1, Command2, optAscii, optBin, TreeView1, chkPassive};
    for (QWidget* w : order)
        w->setFocusPolicy(w->focusPolicy() == Qt::NoFocus ? Qt::StrongFocus : w->focusPolicy());
    for (int i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void fmKESTRIX::wireHandlers()
{
    connect(cmdInternetOpen, &QPushButton::clicked, this, &fmKESTRIX::cmdInternetOpen_Click);
    connect(cmdClosehOpen, &QPushButton::clicked, this, &fmKESTRIX::cmdClosehOpen_Click);
    connect(cmdConnect, &QToolButton::clicked, this, &fmKESTRIX::cmdConnect_Click);
    connect(txtPassword, &QLineEdit::returnPressed, cmdConnect, &QToolButton::click);  // only while it is enabled
    connect(cmdDisconnect, &QToolButton::clicked, this, &fmKESTRIX::cmdDisconnect_Click);
    connect(Command1, &QToolButton::clicked, this, &fmKESTRIX::Command1_Click);
    connect(Command2, &QToolButton::clicked, this, &fmKESTRIX::Command2_Click);
    connect(cmdGet, &QPushButton::clicked, this, &fmKESTRIX::cmdGet_Click);
    connect(cmdPut, &QPushButton::clicked, this, &fmKESTRIX::cmdPut_Click);
    connect(Drive1, &transfer::DriveList::Change, this, &fmKESTRIX::Drive1_Change);
    connect(Dir1, &transfer::DirList::Change, this, &fmKESTRIX::Dir1_Change);
    connect(File1, &transfer::FileList::DblClick, this, &fmKESTRIX::File1_DblClick);
    connect(optAscii, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            optAscii_Click();
    });
    connect(optBin, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            optBin_Click();
    });
    connect(TreeView1, &remote::RemoteTree::DblClick, this, &fmKESTRIX::TreeView1_DblClick);
    connect(opconn, &QAction::triggered, this, &fmKESTRIX::opconn_Click);
    connect(sveconn, &QAction::triggered, this, &fmKESTRIX::sveconn_Click);
    connect(ext, &QAction::triggered, this, &fmKESTRIX::ext_Click);
    connect(ss, &QAction::triggered, this, &fmKESTRIX::ss_Click);
    connect(cs, &QAction::triggered, this, &fmKESTRIX::cs_Click);
    connect(connect_, &QAction::triggered, this, &fmKESTRIX::connect_Click);
    connect(disconnect_, &QAction::triggered, this, &fmKESTRIX::disconnect_Click);
    connect(hlp, &QAction::triggered, this, &fmKESTRIX::hlp_Click);
    connect(license, &QAction::triggered, this, &fmKESTRIX::license_Click);
    connect(about, &QAction::triggered, this, &fmKESTRIX::about_Click);
}

}  // namespace app
