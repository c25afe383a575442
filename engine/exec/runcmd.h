// VI run commands and execution states: run, done, suspend and resume,
// reserve and release of a hierarchy, abort and reset, the completion step
// of a subVI call.
//
// A VI's execution state is the low 4 bits of its eState word: bit 1 idle,
// 2 running at top level, 4 reserved by a running caller hierarchy, 8 a data
// space busy as a subVI; 0 bad, 7 suspended, 9 running again after a
// suspension, 12 reserved and busy as a subVI.  The handlers run on the
// user-interface thread; execution threads reach them by posted user events.
//
// Lock order: "dsRights" of a data space, then a run record's mutex.
// "gCleanTblMutex" is never held together with "dsRights".
#pragma once
#include "engine/vi/dataspace.h"
#include "mgsource/extcode.h"
#include "mgsource/objheap.h"
#include "mgsource/path.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/window.h"

// Results of the run command.
enum : int32 {
  kRunCannotRun = 1000,
  kRunNoPanelHeap = 1001,
  kRunControlError = 1002,
  kRunBroken = 1003,
};

// VI flag bits read here.
enum : uInt32 {
  kVIFlagsBrokenByVI = 0x410003,      // the broken-VI alert's first text
  kVIFlagsSubVIBad = 0x41000F,        // a subVI that keeps its callers bad
  kVIFlagFollowsDataSpaces = 0x20000,  // the state follows the data spaces
  kVIFlags2LogRetrieval400000 = 0x400000,
  kVIFlags2ResetRunnable = 0x40000,   // gets kVIFlags2Runnable when the run ends
};

// Texts of the run-time resource file.
constexpr int32 kROVIErrorsListId = 14200;  // "_RO VI Errors"
constexpr int32 kLogAlertListId = 701;
constexpr int32 kLogIncompatibleListId = 700;
constexpr int32 kErrNotifyListId = 313;
constexpr int32 kResettingStrId = 2026;
constexpr int32 kResettingDialogId = 2299;
constexpr int32 kResettingTextItem = 1;
constexpr int32 kResettingDialogKind = 13;
constexpr int32 kDlgOffScreen = -16384, kDlgCentred = -32768;
// The error that names an incompatible log file.
constexpr MgErr kLogIncompatibleErr = 71;
// kCancelErr (43): the error code that VIErrorNotify shows nothing for.

// What the run commands ask of the panels, the shell, the datalog functions,
// printing and the proxy: each filled at start-up by its owner with
// SetRunCmdHooks; a member left null does nothing, answers "no" (0) or
// succeeds.
struct RunCmdHooks {
  // Window placement of the VI's panel.
  void (*placePanelWindow)(UHandle vi);
  // Bits 17 (control error) and 18 of the panel heap's flag word.
  int32 (*fpHeapFlag17)(UHandle vi);
  int32 (*fpHeapFlag18)(UHandle vi);
  void (*refreshToolbar)(UHandle vi);   // the tool bar's state slots
  void (*refreshPanel)(UHandle vi);     // the panel after a state change
  void (*endTextEdit)(UHandle vi);      // finishes a text edit on the panel
  void (*beep)();
  MgErr (*rtmNewVIMenuRef)(UHandle vi);
  Bool32 (*rtmHasVIMenuRef)(UHandle vi);
  // Front-panel objects.
  void (*clearSelection)(ObjHeap panel);
  // Writes each control's value into its transfer slot (FPUpdateTransferSlot).
  void (*updateTransferSlots)(ObjHeap panel);
  void (*blinkStartTimer)(int32 on);
  Bool32 (*blinkingOn)(UHandle vi);  // blinking is on for the VI's panel
  // Marks suspended controls (flag bit 0x10000 set, bit 1 clear) in the
  // data space; updates the indicators that log or print need.
  void (*markSuspendedControls)(ObjHeap panel, DataSpace ds);
  void (*updateIndicators)(ObjHeap panel);
  // The kind and name of control number n (1-based) of a panel: false when
  // it has no such control.
  Bool32 (*controlKindAndName)(ObjHeap panel, int32 n, PStr kind, PStr name);
  // Datalog: write one record (open only when openOnly), close the file,
  // whether it is open, the log path (null: none), clear it.
  MgErr (*writeDatalogRecord)(UHandle vi, int32 alert, Bool32 openOnly);
  void (*closeLogFile)(UHandle vi);
  Bool32 (*logFileOpen)(UHandle vi);
  Path (*logPath)(UHandle vi);
  void (*clearLogPath)(UHandle vi);
  MgErr (*printVIPanel)(UHandle vi, WindowRef window, int32 a, int32 b, int32 c);
  // The proxy of a VI run for a remote caller.
  void (*pxCallerFinish)(DataSpace ds, Bool32 aborted);
  void (*pxResetCallers)(DataSpace ds);
  void (*pxErrorNotify)(DataSpace ds, MgErr code, ConstPStr text);
  // The resetting dialog.
  UHandle (*dlgLoad)(RsrcFileRef file, int32 id, ConstPStr title, int32 kind, void* filter, int32 userData);
  int32 (*dlgSetCtrlVal)(UHandle dlg, int32 item, int32 type, const void* value);
  void (*dlgMove)(UHandle dlg, int32 h, int32 v);
  void (*dlgShow)(UHandle dlg, int32 update);
  int32 (*dlgBoxStep)(UHandle dlg);
  MgErr (*dlgUnload)(UHandle dlg);
  // Handles every queued user event of one sub-code at once.
  void (*handleQueuedUserEvents)(int32 subCode);
  // The global reclaim-memory option.
  Bool32 (*reclaimMemoryOption)();
};
void SetRunCmdHooks(const RunCmdHooks* hooks);
const RunCmdHooks& RunCmd();

// Installs the run commands in the hooks of the VI instances and the
// entrance (abort, reserve, reset-list removal) and in the linker's services
// (bad-marking, priority propagation, the re-evaluation after an unlink);
// called by InitExec.
void InstallRunCommands();

// ---- Window side ---------------------------------------------------------------------
QX_EXTERN_C int32 DoRunCommand(UHandle vi, Bool32 allowResume);
QX_EXTERN_C void ShowVIBrokenAlert(UHandle vi);
// The entry of "_RO VI Errors" that the alert shows for a flag word.
int32 BrokenAlertEntry(uInt32 flags);
QX_EXTERN_C int32 StartVIRun(DataSpace ds);
QX_EXTERN_C void DoRunButton(UHandle vi);
QX_EXTERN_C int32 DoAbortCommand(DataSpace ds);
QX_EXTERN_C int32 AbortTopVI(UHandle vi);

// ---- User-event handlers -------------------------------------------------------------
QX_EXTERN_C void DoDoneCommand(DataSpace ds);
QX_EXTERN_C void DoSuspendCommand(DataSpace ds);
QX_EXTERN_C void DoResetCommand(DataSpace ds, int32 subVI, int32 location, MgErr error, int32 resetCount);
QX_EXTERN_C void DoReserveCommand(UHandle vi);
QX_EXTERN_C void DoCompletionCommand(DataSpace ds, QueueElement* element);
// Resume of a suspended VI (state 7 -> 9) and its twin that lets it go on as
// a subVI (-> 12).
void ResumeVI(UHandle vi, DataSpace ds);
void ContinueVI(UHandle vi, DataSpace ds);

// ---- States --------------------------------------------------------------------------
QX_EXTERN_C void SetVIReserved(UHandle vi, Bool32 release);
// Gives back one reservation that SetVIReserved(vi, 0) took: at the last the
// VI becomes idle and its subVIs are released.
QX_EXTERN_C void ReleaseVIReservation(UHandle vi);
QX_EXTERN_C void SetVIBad(UHandle vi);
QX_EXTERN_C void PropagateVIBad(UHandle vi, Bool32 bad);
// After a subVI was unlinked: the caller's flags 8 (a subVI is not
// executable) and 16 (a subVI runs) are cleared when no subVI of it still
// sets them, and a caller that became runnable is idle again.
void ReevalSubVIState(UHandle caller);
// Recomputes the effective priorities of the VI's data spaces and its subVIs.
void PropagatePriority(UHandle vi);
// The idle step that ends every run and release.
void SetVIIdle(UHandle vi, DataSpace ds);

// ---- Abort and reset -----------------------------------------------------------------
QX_EXTERN_C void AbortVI(DataSpace ds);
// One pass over the reset list; the entries left.
int32 WorkResetList();
QX_EXTERN_C void ResetDSRemove(DataSpace ds);
// Shows the resetting dialog until the reset list is empty.
void RunResettingDialog(DataSpace ds);

// ---- Run-time side -------------------------------------------------------------------
QX_EXTERN_C int32 ExecOpenFP(void* node, DataSpace callRecord);
QX_EXTERN_C int32 ExecCloseFP(void* node, DataSpace callRecord);
QX_EXTERN_C void SubVIStartUp(DataSpace ds);
QX_EXTERN_C int32 SubVIFinish(DataSpace ds);
QX_EXTERN_C void OpenSubWindow(UHandle vi);
QX_EXTERN_C void VIErrorNotify(UHandle vi, DataSpace ds, UHandle subVI, int32 location, MgErr error);
QX_EXTERN_C void VIDocMod(UHandle vi, UHandle h, uInt32 modMask);

// Bits of the completion step.
enum : uInt16 {
  kCallLogAtCompletion = 1,
  kCallPrintAtCompletion = 2,
};
