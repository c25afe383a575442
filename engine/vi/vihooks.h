// The steps of making, closing and disposing VIs that other modules do.
//
// Creating a VI, its data spaces and its panel window reaches the code
// procedures of a data space, the run commands, the linker, the loader of
// panel heaps, the shell and the VI server.  The engine calls them through
// these tables, each filled at start-up by its owner with one setter; a
// member left null answers as that service does when it is not there: the
// step does nothing, a question is answered "no" (0) and a count is 0.  The
// panel services are the object system's EnginePanelHooks (engine/dsalloc.h).
#pragma once
#include "engine/vi/dataspace.h"
#include "mgsource/objheap.h"
#include "mgsource/path.h"
#include "mgsource/window/wevent.h"
#include "mgsource/window/window.h"

// The code procedures of a data space.
// The loader enters a VI's code only through them: without them (before the
// execution systems start) a VI with code is refused.
struct VICodeHooks {
  void (*runInitProc)(DataSpace ds);      // runs the compiled initialisation
  MgErr (*initDCOs)(DataSpace ds);        // prepares the panel data controllers
  void (*callDisposeProc)(DataSpace ds);  // the data space's dispose procedure
  // stores the code's entry in the data space and patches the code
  void (*setCodeEntryAndPatch)(UHandle code, DataSpace ds);
};
void SetVICodeHooks(const VICodeHooks* hooks);
const VICodeHooks& VICode();

// The run commands, datalog retrieval, window options and panel loading.
struct VIRunHooks {
  void (*exitRetrieveMode)(UHandle vi);
  void (*abortVI)(DataSpace ds);           // aborts the run of a data space
  void (*doReserveCommand)(UHandle vi);    // updates the reserve state
  void (*resetDSRemove)(DataSpace ds);     // takes a data space off the reset list
  void (*updateVIMenuBar)(ObjHeap panel);  // chooses the panel's menu bar
  MgErr (*loadPanelHeap)(UHandle vi);      // reads the VI's panel heap from its file
  void (*unloadPanelObjects)(ObjHeap panel);  // the objects' unload steps
};
void SetVIRunHooks(const VIRunHooks* hooks);
const VIRunHooks& VIRun();

// The linker.  Class codes are the link classes' four-character codes.
struct VILinkHooks {
  // 0 when entered, 1 when an entry of that name and class exists already.
  int16 (*addLinkEntry)(void* item, ConstPStr name, const void* typeBlock, uInt32 classCode, Path path);
  void (*unlinkItemByName)(ConstPStr name, uInt32 classCode);
  // 1 when a VI in the loaded-VI list (other than itself) or the root VI
  // holds a bound reference to the VI.
  int32 (*viHasLoadedCaller)(UHandle vi);
  // Removes the entry of that name and class only when `owner` is its item:
  // 1 when removed.
  Bool32 (*unlinkItemOwnedBy)(ConstPStr name, uInt32 classCode, const void* owner);
};
void SetVILinkHooks(const VILinkHooks* hooks);
const VILinkHooks& VILink();

// The sub-codes of the user event (event code -1000) that the engine and
// the servers post to the user-interface thread; five argument words follow.
enum UserEventCode : int32 {
  kUEPurgeVIs = 0,          // VIs may have become unused
  kUEOpenPanel = 1,         // run a VI whose panel must be shown
  kUEClosePanel = 2,        // continue a VI whose panel must close
  kUEPostedCallback = 3,
  kUEReachability = 5,
  kUEVIDone = 6,
  kUESuspend = 7,
  kUEReset = 8,
  kUEReserve = 9,
  kUECompletion = 11,
  kUEPanelUpdate = 12,
  kUECallInUIThread = 22,
  kUEAutomation = 23,
  kUEServerWork = 24,
  kUECloseVI = 25,
  kUEDisposeRTMenu = 27,
};

// The shell.
struct VIShellHooks {
  // Posts a user event to the user-interface thread; 2 when it cannot.
  int32 (*postUserEvent)(WindowRef window, int32 subCode, int32 a1, int32 a2, int32 a3, int32 a4, int32 a5,
                         Bool32 noDuplicate, int32 priority);
  // Queue filters: accept the queued events that name a VI, or a data space.
  WEventPredicate filterInstrUserEvents;
  WEventPredicate filterDSUserEvents;
  void (*helpClearTarget)(ObjHeap panel, int32 object);
  void (*rtmDisposeVIMenuRef)(UHandle vi);
  WEventHandler viWindowProc;  // the event procedure of VI windows
  WDropHandler viDropHandler;  // what a VI window does with drags over it (reference word: the panel)
};
void SetVIShellHooks(const VIShellHooks* hooks);
const VIShellHooks& VIShell();

// The VI server.
struct VIServerHooks {
  void (*disposeVIRefList)(UHandle vi);
  // True when references are open on the VI; their number in *count.
  Bool32 (*viHasRefs)(UHandle vi, int32* count);
  void (*viRefReleaseAll)();
  MgErr (*pxCalleeInstallCode)(UHandle vi);
};
void SetVIServerHooks(const VIServerHooks* hooks);
const VIServerHooks& VIServer();
