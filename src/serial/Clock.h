// The one clock of the serial channel: every wait of the link layer and of the
// device protocols goes through activeClock(), so tests can replace real time
// by a counter and run the 6-second paths without waiting.
#pragma once

#include <cstdint>

class Clock {
public:
    virtual ~Clock() = default;
    virtual uint32_t tickCount() = 0; // milliseconds, wraps like GetTickCount
    virtual void sleep(uint32_t ms) = 0;
};

// Milliseconds of CLOCK_MONOTONIC (cut to 32 bits, so it wraps after 49.7 days)
// and nanosleep.
Clock& systemClock();

// What the serial code uses: systemClock() unless a test installed another one.
Clock& activeClock();

// Installs a clock for the tests; null restores systemClock(). The clock must
// outlive its installation.
void setClockForTesting(Clock* clock);
