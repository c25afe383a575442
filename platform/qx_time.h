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

// The system timer's resolution.  The host's timers already keep
// millisecond time, so these change nothing: they answer the range the
// engine asks about (1 to 1,000,000 ms) and record the periods begun and not
// yet ended, which tests read.  Each answers 0 or an error number.
int PlatTimerGetCaps(uint32_t* minMs, uint32_t* maxMs);
int PlatTimerBeginPeriod(uint32_t ms);
int PlatTimerEndPeriod(uint32_t ms);
// Test hooks: the periods begun and not yet ended, and errors the next calls
// of the capability query and of PlatTimerBeginPeriod answer (0: none).
int32_t PlatTimerTestOpenPeriods();
void PlatTimerTestFail(int capsError, int beginError);
