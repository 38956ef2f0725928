#include "Clock.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTime>
#include <QTimer>

float SystemClock::timeOfDay() const
{
    return static_cast<float>(QTime::currentTime().msecsSinceStartOfDay() / 1000.0);
}

void SystemClock::wait(double seconds)
{
    const QDeadlineTimer deadline(static_cast<qint64>(seconds * 1000.0 + 0.5), Qt::PreciseTimer);
    // A nested wait that outlasts ours can leave our loop's timer fired while
    // it ran; loop until the deadline itself has passed.
    while (!deadline.hasExpired()) {
        QEventLoop loop;
        QTimer::singleShot(deadline.remainingTime(), Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }
}
