// Global memory blocks: the blocks that carry data across the clipboard and
// drops and that printing keeps its device settings in.
//
// A block is named by a handle, fixed or movable.  Its bytes are reached by
// locking it; a movable block counts its locks.  Every call refuses a handle
// that was freed or never made (kPlatErrInvalidHandle), so a stale handle
// from outside never reaches freed memory.  Handles of freed blocks come back
// only after 2^32 more blocks were made.  The calls are safe from any thread.
#pragma once
#include <cstdint>

typedef uint32_t PlatGlobal;

enum : uint32_t {
  kPlatGlobalFixed = 0x0,
  kPlatGlobalMovable = 0x2,
  kPlatGlobalZeroInit = 0x40,
};
// The largest block: what a 32-bit size in the stored forms can describe
// and the address space can still hold.
constexpr uint32_t kPlatGlobalMaxSize = 0x7FFFFFFFu;

// A new block of size bytes (0 allowed); 0 with kPlatErrInvalidParam for
// unknown flags or a size past the limit, kPlatErrNoMemory when memory runs out.
PlatGlobal PlatGlobalAlloc(uint32_t flags, uint32_t size);
// The block's bytes; a movable block gains a lock.  Null for a bad handle.
void* PlatGlobalLock(PlatGlobal h);
// Takes a lock off a movable block: the locks left, 0 for a fixed block, -1
// for a bad handle or a movable block that was not locked (kPlatErrNotLocked).
int32_t PlatGlobalUnlock(PlatGlobal h);
// The locks a movable block holds (0 for a fixed one), -1 for a bad handle.
int32_t PlatGlobalLockCount(PlatGlobal h);
// The size asked for; 0 for a bad handle (kPlatErrInvalidHandle).
uint32_t PlatGlobalSize(PlatGlobal h);
bool PlatGlobalIsValid(PlatGlobal h);
// Frees the block, locked or not; false for a bad handle.
bool PlatGlobalFree(PlatGlobal h);
// The blocks alive (tests look for leaks with it).
int32_t PlatGlobalLiveCount();
