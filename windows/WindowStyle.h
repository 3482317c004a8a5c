#pragma once

class QWidget;
class QString;

namespace windows {

// Licence, about and animation windows: fixed size, close box only.
void applyFixedToolStyle(QWidget* window, int clientWidthPx, int clientHeightPx, const QString& icon);
// Help window: fixed size, with a minimise box as well.
void applyHelpStyle(QWidget* window, int clientWidthPx, int clientHeightPx, const QString& icon);

}  // namespace windows
