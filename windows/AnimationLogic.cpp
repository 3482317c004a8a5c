#include "windows/AnimationLogic.h"

#include <cmath>

namespace windows {

AnimationDisplay::AnimationDisplay(ITimer& timer1, ITimer& timer2, IRandom& random,
                                   IDrawSink& sink, qint64& dotCounter)
    : m_Timer1(timer1)
    , m_Timer2(timer2)
    , m_random(random)
    , m_sink(sink)
    , m_dotCounter(dotCounter)
{
    m_Timer2.setInterval(0);
    m_Timer1.setInterval(kTimer1Interval);
}

void AnimationDisplay::Timer1_Timer()
{
    const QRect before = image1Rect();
    m_image1Left = m_image1Left + kStep;
    m_sink.pictureChanged(before.united(image1Rect()));

    if (m_image1Left >= kStopLeft) {
        m_Timer2.setInterval(kTimer2Interval);
        m_Timer1.setInterval(0);
    }

    // At least one dot; on a fresh run enough to bring the field up to 350.
    do {
        const double r1 = m_random.next();
        const double r2 = m_random.next();
        const int x = static_cast<int>(std::floor(r1 * kDotWidth));
        const int y = static_cast<int>(std::floor(r2 * kDotHeight));
        m_sink.point(x, y, kWhite);
        ++m_dotCounter;
    } while (m_dotCounter < kDotField);
}

void AnimationDisplay::Timer2_Timer()
{
    m_image2Visible = true;
    m_sink.pictureChanged(image2Rect());

    int top = 1;
    int bottom = 6700;
    int left = 1;
    int right = 6345;
    do {
        m_sink.line(0, top, 6345, top, kBlack);
        top += 2;
        m_sink.line(0, bottom, 6345, bottom, kBlack);
        bottom -= 2;
        m_sink.line(left, 0, left, 6700, kBlack);
        left += 2;
        m_sink.line(right, 0, right, 6700, kBlack);
        right -= 2;
    } while (bottom != -2);

    m_Timer2.setInterval(0);
}

}  // namespace windows
