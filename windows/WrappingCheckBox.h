#pragma once
// A check box whose caption wraps onto the lines its height allows.

#include <QCheckBox>

class QFontMetrics;
class QStyleOptionButton;

namespace windows {

class WrappingCheckBox : public QCheckBox {
public:
    WrappingCheckBox(const QString& caption, QWidget* parent);

    // The largest size up to the given one at which the caption fits.
    void fitCaption(qreal maxPoints);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QRect captionArea(const QStyleOptionButton& option) const;
    bool captionFits(const QFontMetrics& metrics) const;
};

}  // namespace windows
