// Threads of the platform layer, over pthreads.
//
// A PlatThread is a handle to a thread: made by PlatThreadCreate for a new
// thread, or by PlatThreadOpenCurrent for the calling one.  The handle lives
// until PlatThreadClose, which reclaims an ended thread or detaches a running
// one; the thread itself never needs the handle.
//
// Thread ids are 32-bit values, unique among the threads that run or have
// ended without being closed; 0 is never an id.
#pragma once
#include <cstdint>

#include "qx_event.h"

struct PlatThread;

typedef int32_t (*PlatThreadProc)(void* context);

// The exit code of a thread that has not ended yet.
constexpr uint32_t kPlatStillActive = 259;
// Stack size of the threads made here: 127 of them fit the 32-bit address space.
constexpr uint32_t kPlatThreadStack = 1024 * 1024;

// Starts a thread running proc(context) at once.  Stores the handle and the
// thread's id and returns 0, or returns the host error code.
int PlatThreadCreate(PlatThreadProc proc, void* context, PlatThread** handle, uint32_t* id);
// A handle for the calling thread (it cannot be waited for); NULL when out of memory.
PlatThread* PlatThreadOpenCurrent();
// The id of the calling thread.
uint32_t PlatThreadCurrentId();
// The thread's id; 0 for NULL.
uint32_t PlatThreadId(const PlatThread* h);
// True when the handle names the calling thread.
bool PlatThreadIsCurrent(const PlatThread* h);

// Stores the value the thread's routine returned, or kPlatStillActive while it
// runs; 0 or the host error code.
int PlatThreadExitCode(PlatThread* h, uint32_t* code);
// Waits at most timeoutMs (kPlatWaitForever: no limit) for the thread to end:
// 0 when it has ended, ETIMEDOUT, or another host error code (EDEADLK for the
// calling thread's own handle).
int PlatThreadWaitEnd(PlatThread* h, uint32_t timeoutMs);
// Gives the handle up: an ended thread is reclaimed, a running one detached
// and left to end by itself.  0 or the host error code.
int PlatThreadClose(PlatThread* h);

// Records the host priority asked for the thread and applies it as the
// thread's nice value (the negated priority, clamped to -20..19).  The host
// may refuse the nice value (no privilege); the priority stays recorded and
// the call succeeds.  0, or EINVAL for a NULL handle.
int PlatThreadSetPriority(PlatThread* h, int32_t priority);
// The priority last recorded for the thread (0 until one is set).
int32_t PlatThreadGetPriority(const PlatThread* h);

// The number of processors the host has online; 1 when it cannot tell.
int32_t PlatProcessorCount();

// Window input signals.  Each registered thread has one: the window system
// raises it when input arrives for the thread, and the thread waits for it
// together with an event.  Threads made here are registered before their
// routine runs; any other thread registers itself (idempotent).
void PlatThreadRegisterInput();
// Raises the input signal of the thread with that id; false when no such
// thread is registered.
bool PlatThreadRaiseInput(uint32_t threadId);
// Waits at most timeoutMs for ev or for the calling thread's input signal
// (registering it when needed): kPlatWaitEvent, kPlatWaitInput,
// kPlatWaitTimeout or kPlatWaitFailed.  Only the one that ended the wait is consumed.
int32_t PlatWaitEventOrInput(PlatEvent* ev, uint32_t timeoutMs);
// One more descriptor per thread that PlatWaitEventOrInput polls (a display
// connection), with the procedure that serves it: called (read true) before
// each block and whenever the descriptor turns readable; it raises the
// thread's input signal for what it queues.  fd -1 removes it.
// PlatThreadPumpWaitSource calls the calling thread's procedure, if it has
// one: read false only sends out what is pending (a flush of drawing).
typedef void (*PlatWaitSourceProc)(bool read);
void PlatThreadSetWaitSource(int fd, PlatWaitSourceProc proc);
void PlatThreadPumpWaitSource(bool read = true);

// Thread-exit callbacks, for threads made here and for any other thread.  A
// slot names a procedure; a thread that stores a non-NULL value in the slot
// has the procedure called with that value when it ends.  The slot is -1
// when the host has none left.
typedef void (*PlatThreadExitProc)(void* value);
int32_t PlatThreadExitSlot(PlatThreadExitProc proc);
void PlatThreadSetExitValue(int32_t slot, void* value);

// A memory barrier on every running thread of the process: when it returns,
// every store another thread made before it is visible to the caller, and
// every store of the caller made before it is visible to the others.  It lets
// a hot path order its accesses with plain loads and stores, the slow side
// paying for the ordering.  Costs a system call (microseconds).
void PlatProcessBarrier();
