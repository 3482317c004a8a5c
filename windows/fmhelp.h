#pragma once
// The help window: one editable, scrolling text box holding the help text.

#include <QWidget>

class QPlainTextEdit;

namespace windows {

class fmhelp : public QWidget {
    Q_OBJECT
public:
    explicit fmhelp(QWidget* parent = nullptr);

    QPlainTextEdit* Text1() const { return m_Text1; }

private:
    QPlainTextEdit* m_Text1;
};

}  // namespace windows
