#pragma once
// Timers that tick only when told to, fixed random numbers and a drawing
// sink that counts, for running the animation without waiting.

#include "windows/AnimationLogic.h"
#include "windows/frmanim.h"

#include <QList>
#include <QRect>

#include <functional>
#include <memory>
#include <vector>

namespace testsupport {

class FakeTimer : public windows::ITimer {
public:
    explicit FakeTimer(std::function<void()> onTick = {}, std::shared_ptr<int> alive = {})
        : m_onTick(std::move(onTick)), m_alive(std::move(alive))
    {
        if (m_alive)
            ++*m_alive;
    }
    ~FakeTimer() override
    {
        if (m_alive)
            --*m_alive;
    }
    void setInterval(int ms) override
    {
        m_interval = ms;
        history.push_back(ms);
    }
    int interval() const override { return m_interval; }
    // One tick, as a running timer would deliver it.
    bool fire()
    {
        if (m_interval <= 0)
            return false;
        ++ticks;
        if (m_onTick)
            m_onTick();
        return true;
    }

    std::vector<int> history;
    int ticks = 0;

private:
    std::function<void()> m_onTick;
    std::shared_ptr<int> m_alive;
    int m_interval = 0;
};

// Makes FakeTimers for frmanim and counts how many are alive.
struct FakeTimerFactory {
    std::shared_ptr<int> alive = std::make_shared<int>(0);
    int made = 0;

    windows::AnimationServices services(windows::IRandom* random = nullptr,
                                        windows::IDrawSink* observer = nullptr)
    {
        windows::AnimationServices s;
        s.makeTimer = [this](std::function<void()> onTick) -> std::unique_ptr<windows::ITimer> {
            ++made;
            return std::make_unique<FakeTimer>(std::move(onTick), alive);
        };
        s.random = random;
        s.observer = observer;
        return s;
    }
};

inline FakeTimer* fake(windows::ITimer* timer) { return dynamic_cast<FakeTimer*>(timer); }

// Returns the scripted values in turn, then `rest` for ever.
class ScriptedRandom : public windows::IRandom {
public:
    explicit ScriptedRandom(QList<double> values = {}, double rest = 0.5)
        : m_values(std::move(values)), m_rest(rest) {}
    double next() override
    {
        ++calls;
        return m_values.isEmpty() ? m_rest : m_values.takeFirst();
    }
    int calls = 0;

private:
    QList<double> m_values;
    double m_rest;
};

struct Line {
    int x1, y1, x2, y2;
    QRgb colour;
    bool operator==(const Line&) const = default;
};

class CountingSink : public windows::IDrawSink {
public:
    void point(int x, int y, QRgb colour) override
    {
        points.push_back({x, y});
        pointColours.push_back(colour);
    }
    void line(int x1, int y1, int x2, int y2, QRgb colour) override
    {
        lines.push_back({x1, y1, x2, y2, colour});
    }
    void pictureChanged(const QRect& area) override { pictureAreas.push_back(area); }

    std::vector<QPoint> points;
    std::vector<QRgb> pointColours;
    std::vector<Line> lines;
    std::vector<QRect> pictureAreas;
};

}  // namespace testsupport
