// Shared by the run commands: the state word, the data spaces and lists of a
// VI, the texts, and the few calls of the compiled-code layer they use
// (declared here because that layer's header cannot share a unit with the
// VI instances' header).
#pragma once
#include <string>

#include "engine/exec/exec.h"
#include "engine/exec/runcmd.h"
#include "engine/vi/vi_internal.h"

MgErr ExecPostUserEvent(int32 code, int32 a1, int32 a2, int32 a3, int32 a4, int32 a5);
void ExecSetVIRunning(Bool32 on);
Bool32 ExecVIRunning();
typedef void (*ExecReserveProc)(UHandle vi);
void ExecSetReserveProc(ExecReserveProc proc);

namespace qxrun {

constexpr int16 kKindProxy = 8;

// The 4-bit execution state of a VI: the low bits of its state word.
typedef uInt32 VIExecState;
inline VIExecState State(UHandle vi) { return VIRec(vi)->eState & kVIStateMask; }
inline void SetState(UHandle vi, VIExecState s) { VIRec(vi)->eState = (VIRec(vi)->eState & ~kVIStateMask) | (s & kVIStateMask); }
inline bool RunningTop(uInt32 s) { return s == 2 || s == 6 || s == 14; }
inline bool IsProxy(UHandle vi) { return VIRec(vi)->viKind == kKindProxy; }
inline bool Reentrant(UHandle vi) { return (VIRec(vi)->flags & kVIFlagReentrant) != 0; }
inline DataSpace FirstDS(UHandle vi) { return viinst::AsDS(VIRec(vi)->dataSpace); }
inline DataSpace NextDS(DataSpace ds) { return (*ds)->nextClone; }
inline UHandle OwnerOf(DataSpace ds) { return ds && *ds ? (*ds)->owner : nullptr; }
inline int32 Word(const void* p) { return int32(reinterpret_cast<intptr_t>(p)); }
template <class T>
inline T FromWord(int32 w) {
  return reinterpret_cast<T>(uintptr_t(uInt32(w)));
}
// True when any data space of the VI is busy.
bool AnyBusy(UHandle vi);
// The VI's name as text.
std::string NameOf(UHandle vi);
// Entry `index` of a list of the run-time resource file, else of the
// built-in table (count entries); false when neither has it.
bool ListText(int32 listId, int32 index, Str255 out);
// Puts the data space's run element on its run queue for a top-level run.
void QueueRunElement(DataSpace ds);
// Clears what a queued element carries from its last run and queues it.
void RequeueElement(QueueElement* e);
// Releases a hierarchy reserved by a run: the reservation count goes down
// and at 0 the VI becomes idle and its subVIs are released.
void ReleaseHierarchy(UHandle vi);
// The callers of a non-reentrant VI are marked bad while it runs, and the
// marking undone at the end of the run.
void MarkCallersBad(UHandle vi);
void UndoCallersBad(UHandle vi);

}  // namespace qxrun
