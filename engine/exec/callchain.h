// Call chains of running data spaces, reachability of loaded VIs, the
// cleanup procedures of a VI's run and the error I/O cluster.
//
// The caller of a data space is the owner of its entrance (the caller's
// element, whose data space is the caller's); a data space whose owner is
// none or its own run element is the top of its chain.  The chain functions
// take only the first data space's "dsRights" and read the links above it
// without locks: they run on the user-interface thread or on the thread that
// runs the chain, for which those links do not change.
#pragma once
#include "engine/vi/dataspace.h"
#include "mgsource/extcode.h"
#include "mgsource/objheap.h"

// ---- Call chain ---------------------------------------------------------------------
// True when the data space has a caller; its VI is stored when asked.
QX_EXTERN_C Bool32 GetCallChainCaller(DataSpace ds, UHandle* callerVI);
// The top-level data space of the chain, none when the data space does not
// run.  With stopAtResumed the walk stops at a VI running again after a
// suspension (state 9).
QX_EXTERN_C DataSpace GetCallChainTop(DataSpace ds, Bool32 stopAtResumed);
// Whether the VI's window shows a call chain.
QX_EXTERN_C Bool32 VIShowsCallChain(UHandle vi);
// The title of the call-chain item (id 37) of a panel's VI: 1 when made.
constexpr int32 kCallChainItemId = 37;
constexpr int32 kCallChainTitleListId = 11720;
constexpr int32 kCallChainTitleEntry = 8;
QX_EXTERN_C int32 GetCallChainTitle(ObjHeap panel, int32 itemId, PStr title);
// 2 (disabled) or 0 for the VI window's menu item kinds 2 and 3.
QX_EXTERN_C int32 CallChainMenuState(UHandle vi, int32 kind);

// ---- Reachability -------------------------------------------------------------------
enum : uInt32 {
  kVIMarkExcluded = 0x10,    // left out of the walk
  kVIMarkReachable = 0x100,  // set by the walk
};
QX_EXTERN_C void MarkReachableVIs();
QX_EXTERN_C void MarkVITree(UHandle vi);
QX_EXTERN_C Bool32 IsReachableRoot(UHandle vi);
// Posts user event 5: the walk, then the purge of unreachable VIs.
QX_EXTERN_C void PostPurgeUnreachable();

// ---- Cleanup procedures -------------------------------------------------------------
// A procedure run when a VI's run ends, called with its cookie.
typedef int32 (*RTCleanupProc)(void* cookie);
enum : int32 {
  kCleanupRemove = 0,
  kCleanupDataSpace = 1,    // at shut-down only
  kCleanupTopVI = 2,        // the top-level VI leaves a running state
  kCleanupTopVIAbort = 3,   // its run ends by an abort
  kCleanupNamedVI = 4,
  kCleanupNamedVIAbort = 5,
};
// The list's entries: five words.
struct CleanupEntry {
  UHandle vi;
  DataSpace ds;
  RTCleanupProc proc;
  void* cookie;
  int32 mode;
};
static_assert(sizeof(CleanupEntry) == 20, "cleanup entry: five words");
// The system's list of cleanup procedures: a data-zone handle of entries,
// made with room for 8 on first use and grown by 8.
typedef CleanupEntry** CleanupProcList;
constexpr int32 kCleanupListStep = 8;
// 1 when the list changed, else 0.
QX_EXTERN_C int32 RTSetCleanupProc(RTCleanupProc proc, void* cookie, int32 mode);
QX_EXTERN_C int32 ExtRTSetCleanupProc(ConstPStr viName, RTCleanupProc proc, void* cookie, int32 mode);
// From outside the VI's run (the user-interface thread): adds an entry for
// the VI's run ending (mode 2) or its run aborted (mode 3), for any of its
// data spaces when ds is null; mode 0 removes the entry of the procedure
// and cookie.  1 when the list changed, else 0 (a bad VI or mode, the
// entry already there, no memory).
QX_EXTERN_C int32 SetCleanupProcEntry(UHandle vi, DataSpace ds, RTCleanupProc proc, void* cookie, int32 mode);
// Runs (and clears) the entries of the data space's VI of modes 2 and 4, or
// of modes 3 and 5; with no data space every entry.
QX_EXTERN_C void RunCleanupProcs(DataSpace ds);
QX_EXTERN_C void RunAbortCleanupProcs(DataSpace ds);
// The entries in use, for tests and shut-down.
int32 CleanupProcCount();
// Disposes the list (after shut-down ran every entry).
void DisposeCleanupList();

// ---- Error I/O cluster --------------------------------------------------------------
#pragma pack(push, 1)
struct ErrorIOCluster {
  uInt8 status;  // 1 error, 0 none
  int32 code;
  LStrHandle source;
};
#pragma pack(pop)
static_assert(sizeof(ErrorIOCluster) == 9 && offsetof(ErrorIOCluster, code) == 1 &&
              offsetof(ErrorIOCluster, source) == 5,
              "error cluster: packed");
enum : int32 { kErrSourceLStr = 48, kErrSourceCStr = 52, kErrSourcePStr = 53 };
QX_EXTERN_C MgErr SetErrorIOClust(ErrorIOCluster* cluster, Bool32 status, MgErr code, int32 kind, const void* source,
                                  DataSpace ds);
QX_EXTERN_C MgErr SetErrorIOClustFromRsrc(ErrorIOCluster* cluster, Bool32 status, MgErr code, int32 listId,
                                          DataSpace ds);
QX_EXTERN_C MgErr SetErrorIOClustWithArg(ErrorIOCluster* cluster, Bool32 status, MgErr code, int32 listId,
                                         int32 argument, DataSpace ds);
// Fills a 1-D array of strings with the VI names of the chain, innermost
// first.  1 (and a count of 0) unless the data space is the one the calling
// thread runs and call chains are enabled.
QX_EXTERN_C MgErr GetCallChain(DataSpace ds, UHandle array, int32* levels, int32* totalLength);
QX_EXTERN_C MgErr CallChain(UHandle array);
QX_EXTERN_C Bool32 CallChainEnabled();
// The global call-chain flag and the calling context's own (both on at start).
void SetGlobalCallChainEnabled(Bool32 on);
void SetContextCallChainEnabled(ExecContext* context, Bool32 on);
