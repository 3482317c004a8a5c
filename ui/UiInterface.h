#pragma once
// Message boxes and file dialogs, behind one interface so that tests can
// answer them by script. The program's implementation is QtUi.

#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

namespace ui {

// Message box styles and answers, with the values the windows compare against.
// YesNoDefaultNo: a question whose safe answer is "No" (Yes/No with the second button the default).
enum class MsgStyle { OkOnly = 0, YesNo = 4, YesNoDefaultNo = 4 | 0x100 };
enum class MsgAnswer { Ok = 1, Yes = 6, No = 7 };

struct FileDialogRequest {
    QString title;   // "Save Session"
    QString filter;  // Qt filter syntax, e.g. "Korvel FTP Files (*.kvx)"
};

// A question whose answers are named on buttons of their own, in order.
struct Choice {
    QString text;
    QStringList answers;    // "Remember", "Only this time", "No"
    int defaultAnswer = 0;  // the button Enter presses
    int escapeAnswer = -1;  // the answer when the box is closed without one; -1: the default
    QString detail = {};
};

// A line of text asked for: a new name.
struct TextRequest {
    QString text;     // the question
    QString initial;  // what the box holds at first
};

// The nine permission bits of a server entry asked for, in a box of its own.
struct PermissionsRequest {
    QString name;   // the entry's own name
    int mode = -1;  // the bits the box starts with; -1: not known
};

class UiInterface {
public:
    virtual ~UiInterface() = default;
    // A modal box captioned with the application's title "Quillon FTP".
    virtual MsgAnswer MsgBox(QWidget* parent, const QString& text, MsgStyle style) = 0;
    // The same box with a detailed text the user can open: why a call failed,
    // in plain words. An empty detail, or an implementation that cannot show
    // one, gives the plain box.
    virtual MsgAnswer MsgBox(QWidget* parent, const QString& text, MsgStyle style, const QString& detail)
    {
        (void)detail;
        return MsgBox(parent, text, style);
    }
    // A modal box captioned with the application's title; the index of the answer chosen.
    virtual int Choose(QWidget* parent, const Choice& choice) = 0;
    // Return the chosen path, or an empty string when the user cancelled.
    virtual QString ShowSave(QWidget* parent, const FileDialogRequest& request) = 0;
    virtual QString ShowOpen(QWidget* parent, const FileDialogRequest& request) = 0;
    // The text typed, or nothing when the user cancelled.
    virtual std::optional<QString> AskText(QWidget* parent, const TextRequest& request) = 0;
    // The permission bits chosen (0 to 0777), or nothing when the user cancelled.
    virtual std::optional<int> AskPermissions(QWidget* parent, const PermissionsRequest& request) = 0;
};

inline const QString kAppTitle = QStringLiteral("Quillon FTP");

}  // namespace ui
