#pragma once
// The animation window. frmanim is the program's one instance, held for the
// whole run; it keeps the dot counter. Its on-screen window (AnimationSurface)
// and the two timers exist only while the window is shown and are rebuilt
// from the stored contents after the user has closed it.

#include "windows/AnimationLogic.h"

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QRegion>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

namespace windows {

// Timers and random numbers come from here, so that tests can drive the ticks.
struct AnimationServices {
    // Returns a stopped timer that calls onTick on each tick while running.
    std::function<std::unique_ptr<ITimer>(std::function<void()> onTick)> makeTimer;
    IRandom* random = nullptr;       // nullptr: the program's generator
    IDrawSink* observer = nullptr;   // also told of every drawing operation
};

// A QTimer behind ITimer; interval 0 stops it.
class QtIntervalTimer : public ITimer {
public:
    explicit QtIntervalTimer(std::function<void()> onTick);
    ~QtIntervalTimer() override;
    void setInterval(int ms) override;
    int interval() const override { return m_interval; }

private:
    std::unique_ptr<class QTimer> m_timer;
    int m_interval = 0;
};

class SystemRandom : public IRandom {
public:
    double next() override;
};

// The window's client area: a black background with the two pictures.
// Points and lines are painted once, in the next paint, over whatever is on
// screen; any later repaint of that area shows only background and pictures.
class AnimationSurface : public QWidget, public IDrawSink {
    Q_OBJECT
public:
    explicit AnimationSurface(IDrawSink* observer);

    void setScene(const AnimationDisplay* scene) { m_scene = scene; }
    // Asks for one repaint of what the last tick drew and uncovered.
    void flush();

    void point(int x, int y, QRgb colour) override;
    void line(int x1, int y1, int x2, int y2, QRgb colour) override;
    void pictureChanged(const QRect& area) override;

    // Drawing operations waiting for the next paint.
    int pendingOperations() const { return static_cast<int>(m_pending.size()); }
    int paintCount() const { return m_paints; }

signals:
    void closing();

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    struct Op {
        QPoint a, b;
        QRgb colour;
        bool isLine;
    };
    IDrawSink* m_observer;
    const AnimationDisplay* m_scene = nullptr;
    QImage m_slider;
    QImage m_finale;
    std::vector<Op> m_pending;
    QRegion m_opArea;      // pixels touched by pending operations
    QRegion m_uncovered;   // pixels where a picture moved or appeared: repainted, not drawn on
    QRegion m_requested;   // not yet passed to update()
    int m_paints = 0;
};

class frmanim : public QObject {
    Q_OBJECT
public:
    explicit frmanim(AnimationServices services = {}, QObject* parent = nullptr);
    ~frmanim() override;

    // Shows the window, building it first when it is not on screen. While it
    // is open this changes nothing.
    void Show();
    bool isOpen() const { return m_window != nullptr; }
    QWidget* window() const { return m_window; }
    AnimationSurface* surface() const { return m_window; }

    qint64 dotCounter() const { return m_dotCounter; }

    // The current display; null while the window is closed.
    const AnimationDisplay* display() const { return m_display ? m_display->logic.get() : nullptr; }
    ITimer* Timer1() const { return m_display ? m_display->timer1.get() : nullptr; }
    ITimer* Timer2() const { return m_display ? m_display->timer2.get() : nullptr; }

    void Timer1_Timer();
    void Timer2_Timer();

private:
    struct Display {
        std::unique_ptr<ITimer> timer1;
        std::unique_ptr<ITimer> timer2;
        std::unique_ptr<AnimationDisplay> logic;  // destroyed before the timers
    };
    void dropDisplay();

    AnimationServices m_services;
    SystemRandom m_systemRandom;
    qint64 m_dotCounter = 0;
    QPointer<AnimationSurface> m_window;
    std::unique_ptr<Display> m_display;
};

}  // namespace windows
