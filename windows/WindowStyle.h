#pragma once

#include <QFont>

class QWidget;
class QString;

namespace windows {

// The windows' standard font: a narrow sans-serif (DejaVu Sans Condensed,
// from fonts-dejavu-extra; its width is stretched to match where that face is
// missing), so the captions fit the rectangles they were drawn for. The
// family is named rather than left to the platform theme, whose choice
// (and size) would otherwise differ from desktop to desktop.
QFont standardFont(qreal points = 8.25, bool bold = false);

// Licence, about and animation windows: fixed size, close box only; Escape
// closes them too.
void applyFixedToolStyle(QWidget* window, int clientWidthPx, int clientHeightPx, const QString& icon);
// Help window: fixed size, with a minimise box as well.
void applyHelpStyle(QWidget* window, int clientWidthPx, int clientHeightPx, const QString& icon);

}  // namespace windows
