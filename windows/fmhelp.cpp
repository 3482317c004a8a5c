#include "windows/fmhelp.h"

#include "windows/AuxTexts.h"
#include "windows/Twips.h"
#include "windows/WindowStyle.h"

#include <QPlainTextEdit>

namespace windows {

fmhelp::fmhelp(QWidget* parent)
    : QWidget(parent)
    , m_Text1(new QPlainTextEdit(this))
{
    setObjectName(QStringLiteral("fmhelp"));
    setWindowTitle(QStringLiteral("Help"));
    applyHelpStyle(this, px(7095), px(5985), kHelpIcon);

    m_Text1->setObjectName(QStringLiteral("Text1"));
    m_Text1->setAccessibleName(QStringLiteral("Help text"));
    // 30 twips taller than the client area, as stored.
    m_Text1->setGeometry(pxRect(0, 0, 7095, 6015));
    m_Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_Text1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_Text1->setReadOnly(false);
    m_Text1->setPlainText(helpText());
    m_Text1->setFocus();
}

}  // namespace windows
