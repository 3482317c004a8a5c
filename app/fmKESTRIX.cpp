#include "app/fmKESTRIX.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleFactory>
#include <QStyleOption>
#include <QStylePainter>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cstring>

#include "app/CertificateQuestion.h"
#include "app/TreePictures.h"
#include "net/NameCodec.h"
#include "remote/RemotePaths.h"
#include "remote/RemoteTree.h"
#include "settings/ConnectionFileCommands.h"
#include "transfer/DirList.h"
#include "transfer/DriveList.h"
#include "transfer/FileList.h"
#include "transfer/LocalLists.h"
#include "ui/UiInterface.h"
#include "windows/AuxWindows.h"
#include "windows/ButtonKeys.h"
#include "windows/WindowStyle.h"

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

// A check box whose caption wraps onto the lines its height allows.
class WrappingCheckBox : public QCheckBox {
public:
    WrappingCheckBox(const QString& caption, QWidget* parent) : QCheckBox(caption, parent)
    {
        setProperty("wordWrap", true);
    }

    // The largest size up to the given one at which the caption fits.
    void fitCaption(qreal maxPoints)
    {
        QFont f = font();
        for (qreal points = maxPoints; points >= 6.0; points -= 0.25) {
            f.setPointSizeF(points);
            if (captionFits(QFontMetrics(f)))
                break;
        }
        setFont(f);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QStylePainter painter(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        const QString caption = option.text;
        option.text.clear();
        painter.drawControl(QStyle::CE_CheckBox, option);
        painter.drawItemText(captionArea(option), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap,
                             option.palette, isEnabled(), caption, QPalette::WindowText);
    }

private:
    QRect captionArea(const QStyleOptionButton& option) const
    {
        return style()->subElementRect(QStyle::SE_CheckBoxContents, &option, this);
    }

    bool captionFits(const QFontMetrics& metrics) const
    {
        QStyleOptionButton option;
        initStyleOption(&option);
        const QRect area = captionArea(option);
        const QRect needed = metrics.boundingRect(area, Qt::AlignLeft | Qt::TextWordWrap, text());
        return needed.width() <= area.width() && needed.height() <= area.height();
    }
};

// Shows every character of a password box as "*".
class PasswordStarStyle : public QProxyStyle {
public:
    PasswordStarStyle() : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

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

const QByteArray kAgent = QByteArrayLiteral("vb wininet");

}  // namespace

fmKESTRIX::fmKESTRIX(net::InternetApi& internet, UiInterface& ui, windows::AuxWindows* aux,
                     std::function<void()> quit)
    : m_internet(internet), m_ui(ui), m_aux(aux), m_quit(std::move(quit))
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
    setTabOrder();
    wireHandlers();
    windows::pressButtonsOnEnter(this);
    // The controls keep their places whatever the size, so the size is fixed.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

fmKESTRIX::~fmKESTRIX() = default;

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
    auto* stars = new PasswordStarStyle;
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
    auto* passive = place(new WrappingCheckBox(QStringLiteral("Passive FTP syntax"), Frame1), "chkPassive",
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

// ---- Load, state, resets ----

bool fmKESTRIX::Form_Load()
{
    bConnected = false;
    hOpen = 0;
    hConnection = 0;
    chkPassive->setChecked(true);
    optBin->setChecked(true);  // raises optBin_Click
    dwType = net::FTP_TRANSFER_TYPE_BINARY;

    for (const char* key : {"open", "closed", "leaf", "root"}) {
        const QString name = QString::fromLatin1(key) + QStringLiteral(".bmp");
        const TreePicture picture = loadTreePicture(name);
        if (!picture.error.isEmpty()) {
            m_ui.MsgBox(nullptr, picture.error, MsgStyle::OkOnly);
            return false;
        }
        ImageList1.Add(QString::fromLatin1(key), picture.pixmap);
    }
    TreeView1->setImageList(&ImageList1);

    EnableControls(false);
    return true;
}

void fmKESTRIX::EnableControls(bool bSession)
{
    txtServer->setEnabled(bSession);
    txtUser->setEnabled(bSession);
    txtPassword->setEnabled(bSession);
    cmdConnect->setEnabled(bSession && !bConnected);
    cmdDisconnect->setEnabled(bSession && bConnected);
    chkPassive->setEnabled(bSession);
    cmdClosehOpen->setEnabled(bSession);
    cmdInternetOpen->setEnabled(!bSession);
    txtProxy->setEnabled(!bSession);
    optBin->setEnabled(bSession);
    optAscii->setEnabled(bSession);
    cmdGet->setEnabled(bSession && bConnected);
    cmdPut->setEnabled(bSession && bConnected);
}

void fmKESTRIX::ClearListing()
{
    colNames.clear();
    colAttributes.clear();
    colDetails.clear();
}

void fmKESTRIX::ClearFields()
{
    txtServer->setText(QString());
    txtUser->setText(QString());
    txtPassword->setText(QString());
    txtProxy->setText(QString());
    ClearListing();
}

void fmKESTRIX::ext_Click()
{
    // A running call is cancelled (its temporary files go); the program ends as it returns.
    if (callRunning() && m_cancelCalls)
        m_cancelCalls();
    m_quit();
}

void fmKESTRIX::closeEvent(QCloseEvent* event)
{
    if (callRunning()) {
        event->ignore();  // the running handler still uses the handles
        closeWhenIdle();
        return;
    }
    if (m_queuedClose)
        m_queuedClose->stop();
    Form_Unload();
    event->accept();
}

// A close asked for during a call: the call is cancelled, and the window closes
// as soon as the handler that made it has returned.
void fmKESTRIX::closeWhenIdle()
{
    if (m_cancelCalls)
        m_cancelCalls();
    if (!m_queuedClose) {
        m_queuedClose = new QTimer(this);
        m_queuedClose->setInterval(20);
        QObject::connect(m_queuedClose, &QTimer::timeout, this, [this] {
            if (!callRunning())
                close();
        });
    }
    m_queuedClose->start();
}

void fmKESTRIX::Form_Unload()
{
    cmdClosehOpen_Click();
}

// ---- Error report ----

void fmKESTRIX::ErrorOut(std::int32_t dwError, const QString& szFunction)
{
    // Only Cancel (or a close of the window) ends a call with 12017: nothing to report or ask.
    if (static_cast<net::DWORD>(dwError) == net::ERROR_INTERNET_OPERATION_CANCELLED)
        return;
    // Read before any other call replaces it; shown behind the boxes' own texts.
    const QString reason = QString::fromLocal8Bit(m_internet.lastErrorDetail());
    if (static_cast<net::DWORD>(dwError) == net::ERROR_INTERNET_EXTENDED_ERROR) {
        net::DWORD code = 0;
        net::DWORD length = 0;
        (void)m_internet.InternetGetLastResponseInfoA(&code, nullptr, &length);
        QByteArray buffer(static_cast<qsizetype>(length) + 1, '\0');
        (void)m_internet.InternetGetLastResponseInfoA(&code, buffer.data(), &length);
        const QString response = QString::fromLocal8Bit(buffer.constData());  // up to the first NUL
        m_ui.MsgBox(this, szFunction + QStringLiteral(" Extd Err: ") + QString::number(code) + QLatin1Char(' ') + response,
                    MsgStyle::OkOnly, reason);
    }
    QString question = szFunction + QStringLiteral(" Err: ") + QString::number(dwError) +
                       QStringLiteral("\r\nClose Connection and Session?");
    // A refused secure connection says why below the question: the number alone tells the user nothing.
    const auto error = static_cast<net::DWORD>(dwError);
    const bool secureRefusal = error == net::ERROR_INTERNET_INVALID_CA ||
                               error == net::ERROR_INTERNET_SEC_CERT_CN_INVALID ||
                               error == net::ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    if (secureRefusal && !reason.isEmpty())
        question += QStringLiteral("\r\n\r\n") + reason;
    const MsgAnswer answer = m_ui.MsgBox(this, question, MsgStyle::YesNo, secureRefusal ? QString() : reason);
    if (answer == MsgAnswer::Yes)
        closeEverything();
}

// The close of the session and the "Yes" of the error report share these steps.
void fmKESTRIX::closeEverything()
{
    if (hConnection != 0)
        (void)m_internet.InternetCloseHandle(hConnection);
    if (hOpen != 0)
        (void)m_internet.InternetCloseHandle(hOpen);
    const bool wasConnected = bConnected;
    hConnection = 0;
    hOpen = 0;
    if (wasConnected)
        TreeView1->remove(m_rootKey);  // by the key it was made with: an edited box changes nothing
    m_rootKey.clear();
    m_loginFolder.clear();
    bConnected = false;
    ClearFields();
    EnableControls(false);
}

// ---- Session ----

void fmKESTRIX::cmdInternetOpen_Click() { if (!callRunning()) startSession(); }
void fmKESTRIX::ss_Click() { if (!callRunning()) startSession(); }
void fmKESTRIX::cmdClosehOpen_Click() { if (!callRunning()) closeSession(); }
void fmKESTRIX::cs_Click() { if (!callRunning()) closeSession(); }

void fmKESTRIX::startSession()
{
    const QString proxy = txtProxy->text();  // not trimmed: blanks name a proxy too
    if (!proxy.isEmpty()) {
        const QByteArray proxyText = proxy.toLocal8Bit();
        hOpen = m_internet.InternetOpenA(kAgent.constData(), net::INTERNET_OPEN_TYPE_PROXY, proxyText.constData(),
                                         nullptr, 0);
    } else {
        hOpen = m_internet.InternetOpenA(kAgent.constData(), net::INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    }
    if (hOpen == 0) {
        const auto error = static_cast<std::int32_t>(m_internet.GetLastError());
        ErrorOut(error, QStringLiteral("InternetOpen"));
    }
    EnableControls(true);
}

void fmKESTRIX::closeSession()
{
    closeEverything();
}

// ---- Connection ----

void fmKESTRIX::cmdConnect_Click() { if (!callRunning()) connectToServer(); }
void fmKESTRIX::connect_Click() { if (!callRunning()) connectToServer(); }
void fmKESTRIX::cmdDisconnect_Click() { if (!callRunning()) disconnectFromServer(); }
void fmKESTRIX::disconnect_Click() { if (!callRunning()) disconnectFromServer(); }

void fmKESTRIX::connectToServer()
{
    if (bConnected || hOpen == 0)
        return;
    const QString serverText = txtServer->text();
    if (serverText.isEmpty()) {
        m_ui.MsgBox(this, QStringLiteral("Please enter a server name!"), MsgStyle::OkOnly);
        return;
    }
    const net::DWORD passive = chkPassive->isChecked() ? net::INTERNET_FLAG_PASSIVE : 0;
    const QByteArray server = serverText.toLocal8Bit();
    const QByteArray user = txtUser->text().toLocal8Bit();
    const QByteArray password = txtPassword->text().toLocal8Bit();
    const auto connectNow = [&] {
        return m_internet.InternetConnectA(hOpen, server.constData(), net::INTERNET_INVALID_PORT_NUMBER,
                                           user.constData(), password.constData(), net::INTERNET_SERVICE_FTP,
                                           passive, 0);
    };
    hConnection = connectNow();
    if (hConnection == 0 && CertificateQuestion::askToTrust(m_internet, m_ui, this))
        hConnection = connectNow();  // the server's own certificate is trusted now
    if (hConnection == 0) {
        bConnected = false;
        const auto error = static_cast<std::int32_t>(m_internet.GetLastError());
        ErrorOut(error, QStringLiteral("InternetConnect"));
        return;
    }
    bConnected = true;
    m_rootKey = serverText;
    if (!readLoginFolder())
        return;  // the report's "Yes" closed everything
    EnableControls(hOpen != 0);
    TreeView1->clearNodes();  // a connect never reuses a node left from before
    AddNodes(m_rootKey);
    ListRemoteDirectory(QString());
    if (!colNames.isEmpty())
        AddNodes(m_rootKey);
}

// The folder the login placed the user in is the one the root node stands for.
// False when reading it failed and the report's "Yes" closed everything.
bool fmKESTRIX::readLoginFolder()
{
    m_loginFolder = QStringLiteral("/");
    QByteArray buffer(net::MAX_PATH, '\0');
    auto length = static_cast<net::DWORD>(buffer.size());
    net::BOOL read = m_internet.FtpGetCurrentDirectoryA(hConnection, buffer.data(), &length);
    if (!read && length > static_cast<net::DWORD>(buffer.size())) {  // a longer path: again, with room for it
        buffer = QByteArray(static_cast<qsizetype>(length), '\0');
        read = m_internet.FtpGetCurrentDirectoryA(hConnection, buffer.data(), &length);
    }
    if (!read) {
        const auto error = static_cast<std::int32_t>(m_internet.GetLastError());
        ErrorOut(error, QStringLiteral("FtpGetCurrentDirectory"));
        return bConnected;  // on "No" the root stands for "/"
    }
    m_loginFolder = net::textFromBytes(std::string_view(buffer.constData(), length));
    return true;
}

void fmKESTRIX::disconnectFromServer()
{
    if (hConnection != 0)
        (void)m_internet.InternetCloseHandle(hConnection);
    hConnection = 0;
    ClearListing();
    TreeView1->remove(m_rootKey);  // by the key it was made with: an edited box changes nothing
    m_rootKey.clear();
    m_loginFolder.clear();
    bConnected = false;
    EnableControls(true);
}

// ---- Remote folders ----

bool fmKESTRIX::ChangeRemoteDir(const QString& sPath)
{
    if (sPath.isEmpty()) {
        m_ui.MsgBox(this, QStringLiteral("Please enter the directory to CD"), MsgStyle::OkOnly);
        return false;
    }
    const QByteArray path = net::bytesFromText(remote::serverPathFor(sPath, m_rootKey, m_loginFolder));
    if (!m_internet.FtpSetCurrentDirectoryA(hConnection, path.constData())) {
        const auto error = static_cast<std::int32_t>(m_internet.GetLastError());
        ErrorOut(error, QStringLiteral("rcd"));
        return false;
    }
    return true;
}

void fmKESTRIX::appendEntry(const net::WIN32_FIND_DATAA& record)
{
    const auto length = ::strnlen(record.cFileName, sizeof record.cFileName);
    colAttributes.append(record.dwFileAttributes);
    colNames.append(net::textFromBytes(std::string_view(record.cFileName, length)));
    colDetails.append(remote::detailsOf(record));
}

bool fmKESTRIX::ListRemoteDirectory(const QString& sPath)
{
    ClearListing();
    // The folder that stayed current is never listed as if it were this one.
    if (!sPath.isEmpty() && !ChangeRemoteDir(QString(sPath)))
        return false;

    net::WIN32_FIND_DATAA record;
    std::memset(record.cFileName, 0, sizeof record.cFileName);
    const net::HINTERNET hFind = m_internet.FtpFindFirstFileA(hConnection, "*.*", &record, 0, 0);
    const net::DWORD firstError = m_internet.GetLastError();
    if (hFind == 0) {
        if (firstError == net::ERROR_NO_MORE_FILES)
            m_ui.MsgBox(this, QStringLiteral("This directory is empty!"), MsgStyle::OkOnly);
        else
            ErrorOut(static_cast<std::int32_t>(firstError), QStringLiteral("FtpFindFirstFile"));
        return true;
    }
    appendEntry(record);
    for (;;) {
        std::memset(record.cFileName, 0, sizeof record.cFileName);
        if (!m_internet.InternetFindNextFileA(hFind, &record))
            break;
        appendEntry(record);
    }
    const net::DWORD nextError = m_internet.GetLastError();
    if (nextError != net::ERROR_NO_MORE_FILES)
        ErrorOut(static_cast<std::int32_t>(nextError), QStringLiteral("InternetFindNextFile"));
    (void)m_internet.InternetCloseHandle(hFind);
    return true;
}

void fmKESTRIX::AddNodes(const QString& sParent)
{
    if (!m_rootKey.isEmpty() && m_rootKey == sParent && colNames.isEmpty()) {
        TreeView1->addRoot(m_rootKey, QStringLiteral("root"));
        return;
    }
    const qsizetype count = std::min(colNames.size(), colAttributes.size());
    // Each child's key is sParent, "/" and its name; the tree composes it.
    TreeView1->addChildren(sParent, count, [this](qsizetype i) {  // a parent that is not there gets nothing
        const bool folder = colAttributes[i] == net::FILE_ATTRIBUTE_DIRECTORY;
        return remote::ChildEntry{colNames.at(i), folder ? u"closed" : u"leaf", colDetails.value(i)};
    });
}

void fmKESTRIX::TreeView1_DblClick()
{
    if (callRunning())
        return;  // a call runs: the tree waits
    if (!bConnected) {
        m_ui.MsgBox(this, QStringLiteral("Not in session!"), MsgStyle::OkOnly);
        return;
    }
    remote::Node* node = TreeView1->selectedNode();
    if (!node) {
        m_ui.MsgBox(this, QStringLiteral("no Selection to enumerate"), MsgStyle::OkOnly);
        return;
    }
    const QString image = TreeView1->image(node);
    const QString path = TreeView1->text(node);
    if (image == QLatin1String("closed")) {
        TreeView1->setImage(node, QStringLiteral("open"));
        if (!ListRemoteDirectory(path)) {
            // Not entered: it stays closed and childless, so another double-click retries.
            // (The node is gone if the report's "Yes" closed everything.)
            if (remote::Node* again = TreeView1->find(path))
                TreeView1->setImage(again, QStringLiteral("closed"));
            return;
        }
        AddNodes(path);
    } else if (image == QLatin1String("open")) {
        TreeView1->setImage(node, QStringLiteral("closed"));
        TreeView1->removeChildren(node);
    }
}

// ---- Local lists and transfer type ----

void fmKESTRIX::Drive1_Change()
{
    transfer::followDrive(*Drive1, *Dir1);  // an unreadable volume falls back to "/", silently
}

void fmKESTRIX::Dir1_Change()
{
    transfer::followFolder(*Dir1, *File1);
    transfer::followVolume(*Dir1, *Drive1);  // the drive list shows the volume the folder is on
}

void fmKESTRIX::optAscii_Click() { dwType = net::FTP_TRANSFER_TYPE_ASCII; }
void fmKESTRIX::optBin_Click() { dwType = net::FTP_TRANSFER_TYPE_BINARY; }

// ---- Transfers ----

void fmKESTRIX::cmdGet_Click()
{
    if (callRunning())
        return;  // a call runs: no second one
    remote::Node* node = TreeView1->selectedNode();
    if (!bConnected) {
        m_ui.MsgBox(this, QStringLiteral("Not in session. Please start a new Internet Session."), MsgStyle::OkOnly);
        return;
    }
    if (!node) {
        m_ui.MsgBox(this, QStringLiteral("Please select the file to download from the server."), MsgStyle::OkOnly);
        return;
    }
    const remote::SplitPath split = remote::splitTreePath(TreeView1->text(node), m_rootKey);
    const QString folder = File1->Path();
    if (!ChangeRemoteDir(split.directory))
        return;  // a same-named file in the folder that stayed current is not this one
    const QByteArray remoteName = net::bytesFromText(split.name);
    const QByteArray localPath = net::bytesFromText(QDir(folder).filePath(split.name));
    const net::BOOL copied = m_internet.FtpGetFileA(hConnection, remoteName.constData(), localPath.constData(), 0,
                                                    net::FILE_FLAG_WRITE_THROUGH, dwType, 0);
    const net::DWORD error = copied ? 0 : m_internet.GetLastError();
    File1->Refresh();
    if (!copied)
        ErrorOut(static_cast<std::int32_t>(error), QStringLiteral("FtpGetFile"));
}

void fmKESTRIX::File1_DblClick()
{
    if (callRunning())
        return;
    cmdPut_Click();
}

void fmKESTRIX::cmdPut_Click()
{
    if (callRunning())
        return;  // a call runs: no second one
    remote::Node* node = TreeView1->selectedNode();
    if (!bConnected)
        return;
    if (!node || TreeView1->image(node) == QLatin1String("leaf")) {
        m_ui.MsgBox(this, QStringLiteral("Please select a folder on the Server."), MsgStyle::OkOnly);
        return;
    }
    if (File1->FileName().isEmpty()) {
        m_ui.MsgBox(this, QStringLiteral("Please select a local file to upload."), MsgStyle::OkOnly);
        return;
    }
    const QString nodeText = TreeView1->text(node);
    const QString fileName = File1->FileName();
    const QString localPath = QDir(File1->Path()).filePath(fileName);
    // The node's own path, mapped once there; the root stands for the login folder.
    if (!ChangeRemoteDir(nodeText))
        return;  // the file must not land in the folder that stayed current

    const QByteArray local = net::bytesFromText(localPath);
    const QByteArray remoteName = net::bytesFromText(fileName);
    if (!m_internet.FtpPutFileA(hConnection, local.constData(), remoteName.constData(), dwType, 0)) {
        const auto error = static_cast<std::int32_t>(m_internet.GetLastError());
        ErrorOut(error, QStringLiteral("FtpPutFile"));
        return;
    }
    // Uploaded, with files left on the server that could not be removed: the user is told.
    if (const QString notice = QString::fromLocal8Bit(m_internet.lastErrorDetail()); !notice.isEmpty())
        m_ui.MsgBox(this, notice, MsgStyle::OkOnly);
    // The node may have gone if the error report closed everything meanwhile.
    node = TreeView1->find(nodeText);
    if (!node)
        return;
    TreeView1->removeChildren(node);
    if (TreeView1->image(node) == QLatin1String("closed"))
        TreeView1->setImage(node, QStringLiteral("open"));
    ListRemoteDirectory(nodeText);
    if (!colNames.isEmpty())
        AddNodes(nodeText);
}

// ---- Settings file ----

void fmKESTRIX::Command1_Click() { if (!callRunning()) saveConnection(); }
void fmKESTRIX::sveconn_Click() { if (!callRunning()) saveConnection(); }

void fmKESTRIX::Command2_Click()
{
    if (callRunning())
        return;
    CommonDialog1.setFilter(settings::kOpenButtonFilter);
    openConnection();
}

void fmKESTRIX::opconn_Click() { if (!callRunning()) openConnection(); }

void fmKESTRIX::saveConnection()
{
    settings::saveConnection(m_ui, this, CommonDialog1,
                             settings::ConnectionFields{txtServer->text(), txtUser->text(), txtPassword->text()});
}

void fmKESTRIX::openConnection()
{
    const std::optional<settings::ConnectionFields> fields = settings::openConnection(m_ui, this, CommonDialog1);
    if (!fields)
        return;
    txtServer->setText(fields->server);
    txtUser->setText(fields->user);
    txtPassword->setText(fields->password);
}

// ---- Help menu ----

void fmKESTRIX::hlp_Click()
{
    if (m_aux)
        m_aux->showHelp();
}

void fmKESTRIX::license_Click()
{
    if (m_aux)
        m_aux->showLicence();
}

void fmKESTRIX::about_Click()
{
    if (m_aux)
        m_aux->showAbout();
}

}  // namespace app
