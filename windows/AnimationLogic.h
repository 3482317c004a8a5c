#pragma once
// What the animation window does on its two timer ticks, apart from any screen.
// Everything is in twips, so the step counts come out exact.

#include <QRect>
#include <QRgb>
#include <QtGlobal>

namespace windows {

// A pseudo-random source with results r, 0 <= r < 1.
class IRandom {
public:
    virtual ~IRandom() = default;
    virtual double next() = 0;
};

// A timer that runs while its interval is above 0.
class ITimer {
public:
    virtual ~ITimer() = default;
    virtual void setInterval(int ms) = 0;
    virtual int interval() const = 0;
};

// Where points and lines go, in twips. Nothing drawn here is kept.
class IDrawSink {
public:
    virtual ~IDrawSink() = default;
    virtual void point(int x, int y, QRgb colour) = 0;
    virtual void line(int x1, int y1, int x2, int y2, QRgb colour) = 0;
    // A picture moved or appeared over this area (twips).
    virtual void pictureChanged(const QRect& area) { Q_UNUSED(area); }
};

inline constexpr QRgb kWhite = 0xFFFFFFu;
inline constexpr QRgb kBlack = 0x000000u;

// One display of the window, from the moment it is built until it is closed.
class AnimationDisplay {
public:
    static constexpr int kImage1Left = -1080;
    static constexpr int kImage1Top = 1680;
    static constexpr int kImage1Width = 1320;
    static constexpr int kImage1Height = 615;
    static constexpr int kImage2Left = 600;
    static constexpr int kImage2Top = 600;
    static constexpr int kImage2Width = 5745;
    static constexpr int kImage2Height = 3495;
    static constexpr int kTimer1Interval = 4;
    static constexpr int kTimer2Interval = 1;
    static constexpr int kStopLeft = 6700;
    static constexpr int kStep = 100;
    static constexpr int kDotField = 350;
    static constexpr int kDotWidth = 6810;
    static constexpr int kDotHeight = 6345;

    // Sets Timer2 to 0 and starts Timer1 at 4 ms. dotCounter belongs to the
    // window instance and outlives this display.
    AnimationDisplay(ITimer& timer1, ITimer& timer2, IRandom& random, IDrawSink& sink,
                     qint64& dotCounter);

    void Timer1_Timer();
    void Timer2_Timer();

    int image1Left() const { return m_image1Left; }
    bool image1Visible() const { return true; }
    bool image2Visible() const { return m_image2Visible; }
    QRect image1Rect() const { return {m_image1Left, kImage1Top, kImage1Width, kImage1Height}; }
    static QRect image2Rect() { return {kImage2Left, kImage2Top, kImage2Width, kImage2Height}; }

private:
    ITimer& m_Timer1;
    ITimer& m_Timer2;
    IRandom& m_random;
    IDrawSink& m_sink;
    qint64& m_dotCounter;
    int m_image1Left = kImage1Left;
    bool m_image2Visible = false;
};

}  // namespace windows
