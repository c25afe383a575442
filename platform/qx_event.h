// Auto-reset events of the platform layer.
//
// An event is either set or clear.  Setting a set event leaves it set; a wait
// that finds it set clears it and returns, so one set releases one wait.  Each
// event is a file descriptor that poll() reports readable while it is set, so
// a thread can wait on several of them at once.
#pragma once
#include <cstdint>

struct PlatEvent;

// Time-out of the waits that never end by themselves.
constexpr uint32_t kPlatWaitForever = 0xFFFFFFFFu;

// Results of the waits.
enum : int32_t {
  kPlatWaitFailed = -1,
  kPlatWaitEvent = 0,    // the (first) event was set and has been consumed
  kPlatWaitInput = 1,    // the second event (the thread's input signal) ended the wait
  kPlatWaitTimeout = 2,  // the time-out passed
};

// A new event, set or clear; NULL when the host has no descriptor left.
PlatEvent* PlatEventCreate(bool initiallySet);
void PlatEventDestroy(PlatEvent* ev);
// Sets the event; false for a NULL event or a host failure.
bool PlatEventSet(PlatEvent* ev);
// Waits at most timeoutMs (measured on the monotonic clock) for the event and
// clears it.  A time-out of 0 only tests it.
int32_t PlatEventWait(PlatEvent* ev, uint32_t timeoutMs);
// Waits for whichever of two events is set first, consuming only that one;
// a and b are tested in that order when both are set.  b may be NULL.
int32_t PlatEventWaitEither(PlatEvent* a, PlatEvent* b, uint32_t timeoutMs);
// The descriptor that poll() reports readable while the event is set.
int PlatEventFd(const PlatEvent* ev);
// The host error code of the last failed event call of this thread.
int PlatEventLastError();
