#include "windows/ButtonKeys.h"

#include <QKeyEvent>
#include <QPushButton>
#include <QToolButton>

namespace windows {

namespace {

class EnterPresses : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        auto* button = qobject_cast<QAbstractButton*>(watched);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (!button || !enter || (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier || !button->isEnabled())
            return false;
        button->click();
        return true;
    }
};

}  // namespace

void pressButtonsOnEnter(QWidget* window)
{
    auto* filter = new EnterPresses(window);
    for (QPushButton* button : window->findChildren<QPushButton*>())
        button->installEventFilter(filter);
    for (QToolButton* button : window->findChildren<QToolButton*>())
        button->installEventFilter(filter);
}

}  // namespace windows
