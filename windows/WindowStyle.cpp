#include "windows/WindowStyle.h"

#include <QIcon>
#include <QShortcut>
#include <QString>
#include <QWidget>

namespace windows {

QFont standardFont(qreal points, bool bold)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setStretch(QFont::SemiCondensed);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    font.setPointSizeF(points);
    return font;
}

namespace {

void applyCommon(QWidget* window, Qt::WindowFlags flags, int w, int h, const QString& icon)
{
    // A plain Qt::Window without a parent: ownerless, and it keeps the
    // program alive after the main window has closed.
    window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                           | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint | flags);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setAttribute(Qt::WA_QuitOnClose);
    window->setFixedSize(w, h);
    window->setWindowIcon(QIcon(icon));
    // Set on the window itself: a platform theme's font for a kind of
    // control would otherwise win over the application's font.
    window->setFont(standardFont());
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), window);
    escape->setContext(Qt::WindowShortcut);
    QObject::connect(escape, &QShortcut::activated, window, &QWidget::close);
}

}  // namespace

void applyFixedToolStyle(QWidget* window, int w, int h, const QString& icon)
{
    applyCommon(window, {}, w, h, icon);
}

void applyHelpStyle(QWidget* window, int w, int h, const QString& icon)
{
    applyCommon(window, Qt::WindowMinimizeButtonHint, w, h, icon);
}

}  // namespace windows
