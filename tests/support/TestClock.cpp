#include "TestClock.h"

#include "Runtime.h"

#include <algorithm>
#include <cmath>

TestClock::TestClock(double startOfDay)
    : m_startOfDay(startOfDay)
{ }

float TestClock::timeOfDay() const
{
    return static_cast<float>(std::fmod(m_startOfDay + m_now, 86400.0));
}

void TestClock::wait(double seconds)
{
    m_waits.push_back({ m_now, seconds });
    const double end = m_now + seconds;
    Runtime::DoEvents();
    while (!m_actions.empty() && m_actions.begin()->first <= end) {
        auto next = m_actions.begin();
        m_now = std::max(m_now, next->first);
        std::function<void()> action = std::move(next->second);
        m_actions.erase(next);
        action();
        Runtime::DoEvents();
    }
    m_now = std::max(m_now, end);
}

void TestClock::at(double time, std::function<void()> action)
{
    m_actions.emplace(time, std::move(action));
}
