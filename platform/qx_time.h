// Clocks of the platform layer.
#pragma once
#include <cstdint>

// A 32-bit millisecond tick from the monotonic clock.  Its origin is fixed at
// process start so that the first reading gives 1,000: wrap-around and time 0
// behave the same on every machine.
uint32_t PlatTickMs();
// Test hook: moves the tick by delta milliseconds (positive: later).
void PlatTickShift(int64_t deltaMs);
// The current UTC time: whole seconds since 1 January 1904 00:00 UTC and the
// nanoseconds of the current second (0 to 999,999,999).
void PlatUtcNow(int64_t* secsSince1904, int32_t* nanos);
// Monotonic time in microseconds (for waits and deadlines).
uint64_t PlatMonotonicUs();
// Sleeps for ms milliseconds, resumed after signals.
void PlatSleepMs(uint32_t ms);
