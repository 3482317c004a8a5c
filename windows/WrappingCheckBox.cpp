#include "windows/WrappingCheckBox.h"

#include <QFontMetrics>
#include <QStyleOption>
#include <QStylePainter>

namespace windows {

WrappingCheckBox::WrappingCheckBox(const QString& caption, QWidget* parent) : QCheckBox(caption, parent)
{
    setProperty("wordWrap", true);
}

void WrappingCheckBox::fitCaption(qreal maxPoints)
{
    QFont f = font();
    for (qreal points = maxPoints; points >= 6.0; points -= 0.25) {
        f.setPointSizeF(points);
        if (captionFits(QFontMetrics(f)))
            break;
    }
    setFont(f);
}

void WrappingCheckBox::paintEvent(QPaintEvent*)
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

QRect WrappingCheckBox::captionArea(const QStyleOptionButton& option) const
{
    return style()->subElementRect(QStyle::SE_CheckBoxContents, &option, this);
}

bool WrappingCheckBox::captionFits(const QFontMetrics& metrics) const
{
    QStyleOptionButton option;
    initStyleOption(&option);
    const QRect area = captionArea(option);
    const QRect needed = metrics.boundingRect(area, Qt::AlignLeft | Qt::TextWordWrap, text());
    return needed.width() <= area.width() && needed.height() <= area.height();
}

}  // namespace windows
