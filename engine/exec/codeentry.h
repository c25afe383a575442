// Execution threads and the entry into compiled code.
//
// Each execution thread, and the user-interface thread during its background
// slice, runs ExecThreadProc: it takes a queue element off its slot's run
// queue, enters the element's compiled code with the data space and the
// element, and acts on what the code returns.  Compiled code calls back
// through QXRTTable, whose addresses PatchCodeRefs writes into the code when
// it is loaded.
//
// Entry convention (i386): EBP holds the data space's header, EAX the queue
// element; the code may use every general register and returns in EAX 0 (the
// clump is done) or the address where it wants to be resumed.
//
// How our compiled code uses the engine's calls (the emitter of tools/
// writes it so):
// - Countdown.  The patch index -2 receives the thread-relative address of a
//   thread-local word that holds the address of the countdown register the
//   calling thread runs down (its context's register: its own word with
//   execution threads, the timer service's register without).  Code tests
//   it with  mov ecx, gs:[patched] ; cmp dword [ecx], 0  and yields when it
//   is 0.  A thread that runs no clump sees a register that is always 0, so
//   code entered anywhere else yields at once.
// - Yield.  The code returns its resume address; the engine stores it as the
//   element's code address and enters it again, on this thread or another.
// - SubVI call.  Before calling VIEntrance the caller stores in its element's
//   code address the address where it goes on once the subVI has run.  When
//   VIEntrance answers 0 the caller returns 0: it waits in the entrance, runs
//   elsewhere or was sent back, and is resumed at that address.  When it
//   answers 1 the caller returns the subVI's entry address (header word 328):
//   the thread's current element is now the VI's own element, which the
//   engine enters at that address.  The subVI ends with VIExit: when the
//   answer is an element (the caller goes on here) it returns that element's
//   code address, else 0.
// - Subroutine-priority VIs use SubrVIEntrance and SubrVIExit the same way;
//   when SubrVIEntrance answers 0 the caller returns its resume address
//   after setting it to the entrance call, and tries again.
#pragma once
#include "engine/vi/dataspace.h"

// ---- The compiled-code block ----------------------------------------------------
// A little-endian block of 32-bit words at the start of the code: word 0 the
// offset of the entry procedure, word 2 the offset of the patch list (0 for
// none).  Our emitter also writes "i386" in word 1 and "code" in word 5.
enum : int32 {
  kCodeWordEntry = 0,
  kCodeWordArch = 1,
  kCodeWordPatchList = 2,
  kCodeWordTag = 5,
  kCodeHeaderWords = 6,
};
constexpr uInt32 kCodeArchTag = FourCC("i386");
constexpr uInt32 kCodeBlockTag = FourCC("code");

// CodePatchList: pairs (offset, index) ended by an offset of 0.  Indexes 0 to
// 1706 name QXRTTable entries (the absolute address after an opcode byte
// 0xB8..0xBF, else the address relative to the end of the word); the
// negative ones name the words below (always absolute).
struct CodePatchPair {
  uInt32 offset;
  int32 index;
};
static_assert(sizeof(CodePatchPair) == 8, "patch pair: two words");
typedef CodePatchPair CodePatchList;
enum : int32 { kPatchCountdown = -2, kPatchRTTable = -4, kPatchRTInfo = -6 };
// The stubs of routines this system does not have.
enum : int32 { kMissingRTFirst = 626, kMissingRTLast = 651 };
// The VI flags that bad code patches set: bad and not runnable.
constexpr uInt32 kVIFlagsBadCode = 0x90000;
// Bit 8 of the global compiler-error word.
constexpr uInt16 kCompilerErrPatch = 0x100;

// A VI's code in executable memory: the code handle (a data-zone handle)
// holds this record.  The block is sealed (readable and executable) except
// while it is patched.
struct VICodeRec {
  uInt32 signature;  // "VICD"
  UPtr start;        // the code block
  int32 size;
  int32 refused;     // patching reported a bad pair: the code is never entered
  int32 patched;     // patched against the table (or with nothing to patch): only such code is entered
  UPtr mapping;      // the executable mapping holding the block
  int32 mappingSize;
};
constexpr uInt32 kVICodeSig = FourCC("VICD");
typedef VICodeRec** VICode;
// Copies size bytes of code into a new block of executable memory, sealed:
// 0, 1 for bad arguments, 2 when memory is short.
MgErr NewVICode(const void* bytes, int32 size, VICode* code);
// The same with guard bytes of the given value before and after the block
// inside the mapping (for tests that watch what patching writes).
MgErr NewVICodeGuarded(const void* bytes, int32 size, int32 guard, uChar fill, VICode* code);
void DisposeVICode(VICode code);
// The record of a handle, or null for none or a foreign handle.
VICodeRec* VICodeRecord(UHandle code);

// ---- Entering code --------------------------------------------------------------
QX_EXTERN_C int32 CallCompiledCode(void* code, DataSpace ds, QueueElement* element);
// The completion trampoline: entered like compiled code, it calls procedure
// slot 25 with (data space, element) and returns its result.
QX_EXTERN_C void DSCompletionTrampoline();
// The calling thread's thread pointer (GS:0).
QX_EXTERN_C void* QXThreadPointer();

// ---- Loading code ---------------------------------------------------------------
// Stores the entry address in procedure slot 22 and patches the code; a bad
// patch list marks the VI bad and not runnable (0x90000).  The code of a VI
// already marked bad is left unpatched, and code left unpatched is never
// entered (the record's patched word stays 0).
QX_EXTERN_C void SetCodeEntryAndPatch(UHandle code, DataSpace ds);
// Patches the code: 0, or 1 when any pair (or the list's place) was reported.
QX_EXTERN_C int32 PatchCodeRefs(const CodePatchList* list, UPtr code, int32 size);
// True when a pair names a routine this system does not have.  The list
// must end within listBytes (else true: such code is refused anyway).
QX_EXTERN_C Bool32 UsesMissingRTEntries(const CodePatchList* list, int32 listBytes);
QX_EXTERN_C void FlushCaches(UPtr address, int32 size);
QX_EXTERN_C void ProfileStopStartAccum(UPtr address, int32 size);
// The global 16-bit compiler-error word.
uInt16 CompilerErrorFlags();
void SetCompilerErrorFlags(uInt16 flags);
// The word that the -2 patch holds: the thread-relative address of the
// calling thread's countdown pointer.
uInt32 ExecCountdownPatchValue();
// The word that pair (offset, index) writes into a block running at `base`,
// reading the opcode byte before the word from `block` (the same bytes, or a
// copy of them).  False when the index names nothing.
bool CodePatchValue(const uChar* block, uintptr_t base, uInt32 offset, int32 index, uInt32* value);
// The countdown register the calling thread's compiled code sees.
ExecCountdown* ExecThreadCountdown();

// ---- Threads --------------------------------------------------------------------
QX_EXTERN_C int32 ExecThreadProc(ExecContext* context);
QX_EXTERN_C void CondSchedClmp(QueueElement* element, int32 system);
QX_EXTERN_C int32 GetSetQXInfo(int32 mode, int32 value);
QX_EXTERN_C uInt32 RealWait(ExecContext* context, uInt32 deadline, uInt32 now);
QX_EXTERN_C void DoDDOAttrCallDone();
QX_EXTERN_C int32 SingleNodeExec();
// The global run-time information word (GetSetQXInfo mode 4, patch -6).
int32* QXRTInfoWord();

// ---- VI entrance ----------------------------------------------------------------
// The header that holds an entrance.
inline DataSpaceHeader* EntranceHeader(VIEntranceRec* e) {
  return reinterpret_cast<DataSpaceHeader*>(reinterpret_cast<char*>(e) - offsetof(DataSpaceHeader, entrance));
}
// Builds the entrance of a data space: "dsRights" (threads on), the message
// lock for a data space called by proxy, the 5-level wait queue (none for a
// subroutine VI) or the subroutine lock word, and the own element's
// signature.  0 or 2.
MgErr NewVIEntrance(DataSpace ds, Bool32 subroutine, Bool32 proxy);
void DisposeVIEntrance(DataSpace ds);

// VIExit's answer "the value 1": the caller was queued on its own thread.
#define kVIExitQueued (reinterpret_cast<QueueElement*>(1))
QX_EXTERN_C int32 VIEntrance(QueueElement* caller, VIEntranceRec* entrance);
QX_EXTERN_C QueueElement* VIExit(VIEntranceRec* entrance);
QX_EXTERN_C int32 SubrVIEntrance(QueueElement* caller, VIEntranceRec* entrance);
QX_EXTERN_C QueueElement* SubrVIExit(VIEntranceRec* entrance);
// Takes an element out of the VI's entrance for a reset; 1 when the data
// space entered the reset list.
QX_EXTERN_C int32 RemQEVIEntry(QueueElement* element, VIEntranceRec* entrance);

// ---- The user-interface thread --------------------------------------------------
// The shell's PostUserEvent (window, sub-code, five words, two flags), filled
// at start-up; until then events are dropped and the answer is 0.
typedef MgErr (*ExecPostUserEventProc)(int32 window, int32 code, int32 a1, int32 a2, int32 a3, int32 a4,
                                       int32 a5, int32 f1, int32 f2);
void ExecSetPostUserEventProc(ExecPostUserEventProc proc);
MgErr ExecPostUserEvent(int32 code, int32 a1, int32 a2 = 0, int32 a3 = 0, int32 a4 = 0, int32 a5 = 0);
enum : int32 {
  kUserEventDone = 6,
  kUserEventSuspend = 7,
  kUserEventReset = 8,
  kUserEventReserve = 9,
};
constexpr int32 kRootWindow = -2;
// The reserve-state update of a VI on the user-interface thread
// (DoReserveCommand), filled by the run commands; none: nothing is done.
typedef void (*ExecReserveProc)(UHandle vi);
void ExecSetReserveProc(ExecReserveProc proc);
// The global flag that a VI runs.
void ExecSetVIRunning(Bool32 on);
Bool32 ExecVIRunning();
// The time slice that ExecThreadProc gives each clump (ticks).
void ExecSetTimeSlice(int32 ticks);
