#pragma once

#include "Clock.h"

#include <functional>
#include <map>
#include <vector>

// A clock whose time only moves when the program waits. A wait first handles
// pending window events, then runs, in time order, every action scheduled up
// to its end (the clock reads each action's time while it runs), and finally
// sets the clock to the end of the wait. A wait therefore takes no real time,
// and an action can play the part of the outside world: bytes arriving from
// the modem, the user closing a window.
class TestClock final : public Clock
{
public:
    // `startOfDay`: the time of day, in seconds, the clock starts at.
    explicit TestClock(double startOfDay = 8 * 3600.0);

    float timeOfDay() const override;
    void wait(double seconds) override;

    // Seconds since the clock was made.
    double now() const { return m_now; }

    // Runs `action` when a wait carries the clock to `time` (seconds since
    // the clock was made), or to `delay` from now.
    void at(double time, std::function<void()> action);
    void after(double delay, std::function<void()> action) { at(m_now + delay, std::move(action)); }

    struct Wait
    {
        double start;
        double seconds;
    };
    // Every wait, in the order they began.
    const std::vector<Wait>& waits() const { return m_waits; }

private:
    double m_startOfDay;
    double m_now = 0.0;
    std::multimap<double, std::function<void()>> m_actions;
    std::vector<Wait> m_waits;
};
