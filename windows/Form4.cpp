#include "windows/Form4.h"

#include "windows/AuxTexts.h"
#include "windows/Twips.h"
#include "windows/WindowStyle.h"

#include <QMouseEvent>
#include <QPixmap>

namespace windows {

void PictureBox::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        emit doubleClicked();
    QLabel::mouseDoubleClickEvent(event);
}

namespace {

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label->setGeometry(geometry);
    return label;
}

}  // namespace

Form4::Form4(std::function<void()> openAnimation, QWidget* parent)
    : QWidget(parent)
    , m_openAnimation(std::move(openAnimation))
    , m_Picture1(new PictureBox(this))
{
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("About"));
    applyFixedToolStyle(this, px(3825), px(3075), kAboutIcon);

    m_Picture1->setObjectName(QStringLiteral("Picture1"));
    m_Picture1->setAccessibleName(QStringLiteral("Quillon FTP logo"));
    m_Picture1->setAccessibleDescription(QStringLiteral("Double-click for a short animation"));
    m_Picture1->setGeometry(pxRect(840, 120, 1935, 1095));
    m_Picture1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_Picture1->setLineWidth(2);
    m_Picture1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_Picture1->setPixmap(QPixmap(kLogoPicture));
    m_Picture1->setFocusPolicy(Qt::StrongFocus);
    connect(m_Picture1, &PictureBox::doubleClicked, this, &Form4::Picture1_DblClick);

    m_Label1 = makeLabel(this, "Label1", kAboutLabel1, pxRect(960, 1320, 1695, 255));
    m_Label2 = makeLabel(this, "Label2", kAboutLabel2, pxRect(120, 1680, 3375, 255));
    m_Label3 = makeLabel(this, "Label3", kAboutLabel3, pxRect(120, 2040, 3375, 255));
    m_Label4 = makeLabel(this, "Label4", kAboutLabel4, pxRect(0, 2400, 3615, 495));
}

void Form4::Picture1_DblClick()
{
    if (m_openAnimation)
        m_openAnimation();
}

}  // namespace windows
