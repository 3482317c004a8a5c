#pragma once
// What the main window's "Save Connection" and "Open Connection" handlers do:
//   Command1_Click, sveconn_Click -> saveConnection
//   Command2_Click                -> openConnectionFromButton (sets the filter first)
//   opconn_Click                  -> openConnection
// A cancelled dialog does nothing at all. A failure is told in an OK-only box
// naming the file and the reason; the caller's fields are then left alone.

#include "settings/CommonDialog.h"
#include "settings/ConnectionFile.h"

#include <optional>

namespace settings {

// The message shown for a failed save or open.
QString saveFailureMessage(const FileResult& result);
QString openFailureMessage(const FileResult& result);

// Returns false when cancelled or failed (a message box was shown on failure).
bool saveConnection(ui::UiInterface& ui, QWidget* parent, CommonDialog& dlg,
                    const ConnectionFields& fields);

// The three values read, or nothing when cancelled or failed.
std::optional<ConnectionFields> openConnection(ui::UiInterface& ui, QWidget* parent,
                                               CommonDialog& dlg);

// The "Open Connection" button: switches the dialog to kOpenButtonFilter for
// the rest of the run, then opens.
std::optional<ConnectionFields> openConnectionFromButton(ui::UiInterface& ui, QWidget* parent,
                                                         CommonDialog& dlg);

}  // namespace settings
