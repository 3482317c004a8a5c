#pragma once
// The about window: logo, name and version, and three credit lines. A
// double-click on the logo opens the animation window.

#include <QLabel>
#include <QWidget>

#include <functional>

namespace windows {

// A picture box that reports double-clicks.
class PictureBox : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
signals:
    void doubleClicked();
protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};

class Form4 : public QWidget {
    Q_OBJECT
public:
    // openAnimation is what a double-click on the logo does.
    explicit Form4(std::function<void()> openAnimation, QWidget* parent = nullptr);

    PictureBox* Picture1() const { return m_Picture1; }
    QLabel* Label1() const { return m_Label1; }
    QLabel* Label2() const { return m_Label2; }
    QLabel* Label3() const { return m_Label3; }
    QLabel* Label4() const { return m_Label4; }

    void Picture1_DblClick();

private:
    std::function<void()> m_openAnimation;
    PictureBox* m_Picture1;
    QLabel* m_Label1;
    QLabel* m_Label2;
    QLabel* m_Label3;
    QLabel* m_Label4;
};

}  // namespace windows
