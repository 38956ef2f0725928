#pragma once

// The program's sense of time: the time of day the program reads, and the
// way it waits. Every wait in the program goes through one Clock, so tests can
// install a clock whose time only moves when the program waits.
class Clock
{
public:
    virtual ~Clock() = default;

    // Seconds since local midnight, in single precision.
    virtual float timeOfDay() const = 0;

    // Waits `seconds` (> 0) while handling every window event that arrives,
    // and returns once that time has passed. Handlers that run meanwhile may
    // wait again themselves.
    virtual void wait(double seconds) = 0;
};

// The real clock: local wall time for the time of day, and a nested event
// loop bounded by a monotonic deadline for waits, so the thread sleeps until
// an event or the deadline arrives and a wait across midnight or a clock
// change ends on time.
class SystemClock final : public Clock
{
public:
    float timeOfDay() const override;
    void wait(double seconds) override;
};
