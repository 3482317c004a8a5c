#include "windows/frmlicence.h"

#include "windows/AuxTexts.h"
#include "windows/Twips.h"
#include "windows/WindowStyle.h"

#include <QListWidget>

namespace windows {

frmlicence::frmlicence(QWidget* parent)
    : QWidget(parent)
    , m_List1(new QListWidget(this))
{
    setObjectName(QStringLiteral("frmlicence"));
    setWindowTitle(QStringLiteral("License"));
    applyFixedToolStyle(this, px(9000), px(6465), kHelpIcon);

    m_List1->setObjectName(QStringLiteral("List1"));
    m_List1->setAccessibleName(QStringLiteral("License text"));
    m_List1->setGeometry(pxRect(0, 120, 9015, 6300));
    m_List1->setSelectionMode(QAbstractItemView::SingleSelection);
    m_List1->setSortingEnabled(false);
    m_List1->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    for (const QString& line : licenceLines()) {
        auto* item = new QListWidgetItem(line, m_List1);
        item->setData(Qt::UserRole, 0);  // every item's associated number
    }
    m_List1->setFocus();
}

}  // namespace windows
