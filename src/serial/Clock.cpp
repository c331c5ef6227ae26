#include "Clock.h"

#include <atomic>
#include <cerrno>
#include <ctime>

namespace {

class SystemClock : public Clock {
public:
    uint32_t tickCount() override {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u +
                            static_cast<uint64_t>(now.tv_nsec) / 1000000u;
        return static_cast<uint32_t>(ms); // keeps the low 32 bits: wraps like GetTickCount
    }

    void sleep(uint32_t ms) override {
        timespec left{static_cast<time_t>(ms / 1000u), static_cast<long>(ms % 1000u) * 1000000L};
        // A signal cuts the sleep short; sleep the rest so the wait is the one asked for.
        while (nanosleep(&left, &left) != 0 && errno == EINTR) {
        }
    }
};

std::atomic<Clock*> g_testClock{nullptr};

} // namespace

Clock& systemClock() {
    static SystemClock clock;
    return clock;
}

Clock& activeClock() {
    Clock* clock = g_testClock.load(std::memory_order_acquire);
    return clock != nullptr ? *clock : systemClock();
}

void setClockForTesting(Clock* clock) {
    g_testClock.store(clock, std::memory_order_release);
}
