#pragma once
// Enter and Return press the focused push button, as Space does: outside a
// dialog the toolkit's buttons leave both keys alone.

class QWidget;

namespace windows {

// For every push button and tool button inside `window`, now present.
void pressButtonsOnEnter(QWidget* window);

}  // namespace windows
