#pragma once
// Shows every character of a password box as "*", on top of the application's style.

#include <QProxyStyle>

namespace windows {

class PasswordStarStyle : public QProxyStyle {
public:
    PasswordStarStyle();

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override;
};

}  // namespace windows
