#include "windows/PasswordStarStyle.h"

#include <QApplication>
#include <QStyleFactory>

namespace windows {

PasswordStarStyle::PasswordStarStyle() : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}

int PasswordStarStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                                 QStyleHintReturn* returnData) const
{
    if (hint == SH_LineEdit_PasswordCharacter)
        return '*';
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

}  // namespace windows
