#include "windows/WindowStyle.h"

#include <QIcon>
#include <QString>
#include <QWidget>

namespace windows {

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
