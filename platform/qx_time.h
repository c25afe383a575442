// Clocks of the platform layer.
#pragma once
#include <cstdint>

// A 32-bit millisecond tick from the monotonic clock.  Its origin is fixed at
// process start so that the first reading gives 1,000: wrap-around and time 0
// behave the same on every machine.
uint32_t PlatTickMs();
// Test hook: moves the tick by delta milliseconds (positive: later).
void PlatTickShift(int64_t deltaMs);
// Monotonic time in microseconds (for waits and deadlines).
uint64_t PlatMonotonicUs();
// Sleeps for ms milliseconds, resumed after signals.
void PlatSleepMs(uint32_t ms);
