// One running instance per user and program name.
//
// The instances of a user meet in a private runtime folder: QX_RUNTIME_DIR
// when set, else "quenlix" in XDG_RUNTIME_DIR, else "quenlix-<uid>" in the
// temporary folder.  It is made with mode 0700 and refused (one line on
// stderr) when another user owns it or others may write to it; without it
// every start counts as the first.
//
// The first instance holds an exclusive lock on "<name>.lock" there; the
// lock dies with its process, so a killed instance never blocks the next
// start.  Once its frame window exists the first instance writes a mark
// into that file, which later starts read.
#pragma once
#include <cstdint>
#include <string>

// The runtime folder, made when missing; false (with the reason on stderr)
// when it cannot be had or is not private.
bool PlatRuntimeFolder(std::string* hostPath);
// 0: this process is the first instance of name and holds the lock (the
// mark is cleared); 1: another process holds it.  A process that holds it
// already answers 0 again.
int32_t PlatInstanceLock(const char* name);
// Releases the lock of this process (nothing when it holds none).
void PlatInstanceUnlock();
// Writes the frame mark of the locked instance; false when none is held.
bool PlatInstanceSetFrame(uint32_t frame);
// The mark the running first instance of name wrote, 0 when none.
uint32_t PlatInstanceFrame(const char* name);
