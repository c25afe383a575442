#include "engine/exec/retrieve.h"

#include "engine/exec/panelplace.h"
#include "engine/exec/runcmd_internal.h"
#include "engine/shellsvc.h"
#include "engine/vi/vifind.h"
#include "mgsource/debug.h"
#include "mgsource/path.h"
#include "mgsource/printf.h"
#include "mgsource/window/wactive.h"
#include "mgsource/window/wport.h"

using namespace qxrun;

namespace {

RetrieveLogHooks gLog{};

// The VI's datalog binding: a VI of kind 2 that carries one.
bool HasBinding(UHandle vi) {
  if (!vi || !*vi) return false;
  const VIRecord* r = VIRec(vi);
  return r->viKind == kVIKindDatalog && r->logRecord && *r->logRecord &&
         AZGetHandleSize(r->logRecord) >= int32(sizeof(DatalogBindingRec));
}
DatalogBindingRec* Binding(UHandle vi) { return reinterpret_cast<DatalogBindingRec*>(*VIRec(vi)->logRecord); }

bool Retrieving(UHandle vi) { return (VIRec(vi)->flags2 & kVIFlags2RetrievalMode) != 0; }

MgErr OpenLog(UHandle vi) { return gLog.openLog ? gLog.openLog(vi) : kCapabilityErr; }
void CloseLog(UHandle vi) {
  if (gLog.closeLog) gLog.closeLog(vi);
}
int32 RecordCount(UHandle vi) { return gLog.recordCount ? gLog.recordCount(vi) : 0; }
MgErr NewMarks(UHandle vi) { return gLog.newMarks ? gLog.newMarks(vi) : kNoErr; }
void DisposeMarks(UHandle vi) {
  if (gLog.disposeMarks) gLog.disposeMarks(vi);
}

// Shows entry `outer` of the retrieval texts formatted with entry `inner`.
void RetrieveAlert(int32 outer, int32 inner) {
  Str255 fmt, detail, text;
  if (!ListText(kLogIncompatibleListId, inner, detail)) detail[0] = 0;
  if (!ListText(kLogIncompatibleListId, outer, fmt)) fmt[0] = 0;
  PPrintfp(text, fmt, detail);
  OneButtonAlert(kAlertPStr, text, nullptr, kAlertDefaultPos, kAlertDefaultPos);
}

WindowRef WindowOf(UHandle vi) {
  ObjHeap panel = VIRec(vi)->panelHeap;
  const WindowRef w = panel && *panel ? viinst::PanelWindow(panel) : kWNoWindow;
  return w && WIsWindow(w) ? w : kWNoWindow;
}

// The cursor and the menus of the VI's window when it is the active one.
void RefreshActiveWindow(UHandle vi) {
  const WindowRef w = WindowOf(vi);
  if (!w || WGetActiveWindow() != w) return;
  if (VIWindow().updateCursor) VIWindow().updateCursor(VIRec(vi)->panelHeap);
  WEventRecord e{};
  e.code = weMenuInit;
  e.window = w;
  WSendEvent(&e);
}

void InvalWindow(UHandle vi) {
  if (const WindowRef w = WindowOf(vi)) WInvalRect(w, nullptr);
}

// Flips a second-flag bit and its data-space flag; reports the change.
void ToggleCompletion(UHandle vi, uInt32 flag2, uInt16 dsFlag) {
  VIRec(vi)->flags2 ^= flag2;
  if (DataSpace ds = FirstDS(vi)) (*ds)->dsFlags ^= dsFlag;
  if (!(VIRec(vi)->flags & kVIFlagRoot)) VIDocMod(vi, nullptr, kDocModCompletion);
}

}  // namespace

void SetRetrieveLogHooks(const RetrieveLogHooks* hooks) { gLog = hooks ? *hooks : RetrieveLogHooks{}; }
const RetrieveLogHooks& RetrieveLog() { return gLog; }

void ToggleLogAtCompletion(UHandle vi) {
  if (!HasBinding(vi)) return;
  ToggleCompletion(vi, kVIFlags2LogAtCompletion, kDSFlagLogAtCompletion);
  if (VIWindow().refreshLogIndicator) VIWindow().refreshLogIndicator(vi);
}

void TogglePrintAtCompletion(UHandle vi) {
  if (!vi || !*vi) return;
  const bool on = !(VIRec(vi)->flags2 & kVIFlags2PrintAtCompletion);
  if (on && !VIRec(vi)->panelHeap && VIRun().loadPanelHeap) VIRun().loadPanelHeap(vi);
  ToggleCompletion(vi, kVIFlags2PrintAtCompletion, kDSFlagPrintAtCompletion);
}

void EnterRetrieveMode(UHandle vi) {
  if (!vi || !*vi || Retrieving(vi)) return;
  if (!VIRec(vi)->panelHeap && VIRun().loadPanelHeap) VIRun().loadPanelHeap(vi);
  ObjHeap panel = VIRec(vi)->panelHeap;
  if (!panel || !*panel) return;
  if (MgErr err = OpenLog(vi)) {
    RetrieveAlert(kRetrieveCannotEnter, err == kLogIncompatibleErr ? kRetrieveIncompatible : kRetrieveOpenError);
    return;
  }
  if (RecordCount(vi) <= 0) {
    RetrieveAlert(kRetrieveCannotEnter, kRetrieveNoRecords);
    CloseLog(vi);
    return;
  }
  if (RunCmd().clearSelection) RunCmd().clearSelection(panel);
  VIRec(vi)->flags2 |= kVIFlags2RetrievalMode;
  viinst::SetExtHalf(panel, kHeapExtWindowOptions, uInt16(VIRec(vi)->windowOptions | kWindowPartToolBar));
  PlacePanelWindow(panel);
  InvalWindow(vi);
  if (RunCmd().endTextEdit) RunCmd().endTextEdit(vi);
  RefreshActiveWindow(vi);
  const VIWindowHooks& w = VIWindow();
  if (w.clearRecordField) w.clearRecordField(vi);
  if (w.createRecordField) {
    const Rect at{kRecordFieldTop, kRecordFieldLeft, kRecordFieldTop + kRecordFieldHeight,
                  kRecordFieldLeft + kRecordFieldWidth};
    Str255 first;
    if (!ListText(kLogIncompatibleListId, kRetrieveFirstNumber, first)) first[0] = 0;
    w.createRecordField(vi, &at, first);
  }
  if (MgErr err = NewMarks(vi)) DBPrintf("Error %ld making the deletion marks.", long(err));
  MarkCallersBad(vi);
  if (gLog.showRecord) gLog.showRecord(vi);
}

void ExitRetrieveMode(UHandle vi) {
  if (!vi || !*vi || !Retrieving(vi)) return;
  if (gLog.anyMarked && gLog.anyMarked(vi)) {
    Str255 question, yes, no;
    if (!ListText(kLogIncompatibleListId, kRetrieveAskPurge, question)) question[0] = 0;
    LoadTextOf(kYesNoListId, kYesNoYes, yes);
    LoadTextOf(kYesNoListId, kYesNoNo, no);
    // "No" is the default: without an alert, or headless, the records stay.
    const bool purge = VIFindShell().twoButtonAlert && VIFindShell().twoButtonAlert(question, yes, no, 2) == 1;
    if (purge && gLog.purge) gLog.purge(vi);
  }
  VIRec(vi)->flags2 &= ~kVIFlags2RetrievalMode;
  InvalWindow(vi);
  if (VIWindow().disposeRecordField) VIWindow().disposeRecordField(vi);
  ObjHeap panel = VIRec(vi)->panelHeap;
  if (const WindowRef w = WindowOf(vi)) {
    Rect bar{0, 0, 0, 0};
    if (VIWindow().toolBarRect) VIWindow().toolBarRect(panel, &bar);
    if (bar.bottom > bar.top && bar.right > bar.left) WInvalRect(w, &bar);
  }
  CloseLog(vi);
  DisposeMarks(vi);
  if (panel && *panel) {
    viinst::SetExtHalf(panel, kHeapExtWindowOptions, VIRec(vi)->windowOptions);
    PlacePanelWindow(panel);
  }
  RefreshActiveWindow(vi);
  UndoCallersBad(vi);
}

void ChangeLogFile(UHandle vi) {
  if (!HasBinding(vi)) return;
  // A copy of the old path, put back when the new log cannot be opened.
  Path old = FEmptyPath(nullptr);
  if (!old) return;
  MgErr err = Binding(vi)->logPath ? FPathCpy(old, Binding(vi)->logPath) : kNoErr;
  if (!err) err = gLog.chooseLogFile ? gLog.chooseLogFile(vi) : kCancelErr;
  if (err) {
    DBPrintf("ChangeLogFile: no log file chosen, error %ld.", long(err));
    FDisposePath(old);
    return;
  }
  const bool retrieving = Retrieving(vi);
  MgErr openErr = kNoErr;
  if (retrieving) {
    const int32 shown = gLog.shownRecord ? gLog.shownRecord(vi) : 0;
    CloseLog(vi);
    DisposeMarks(vi);
    openErr = OpenLog(vi);
    if (!openErr) {
      NewMarks(vi);
      if (RecordCount(vi) <= 0) {
        RetrieveAlert(kRetrieveExiting, kRetrieveNoRecords);
        ExitRetrieveMode(vi);
      } else {
        ShowLogRecord(vi, shown);
      }
    }
  } else if (gLog.refreshBinding) {
    gLog.refreshBinding(vi);
  }
  if (openErr) {
    Str255 text;
    if (!ListText(kLogAlertListId, kLogChangeError, text)) text[0] = 0;
    OneButtonAlert(kAlertPStr, text, nullptr, kAlertDefaultPos, kAlertDefaultPos);
    if (HasBinding(vi)) {
      DatalogBindingRec* b = Binding(vi);
      if (b->logPath) FPathCpy(b->logPath, old);
    }
    if (retrieving) {
      // Without its old log either, retrieval mode has no records to show.
      if (OpenLog(vi) == kNoErr) NewMarks(vi);
      else ExitRetrieveMode(vi);
    }
  }
  FDisposePath(old);
}

void ShowLogRecord(UHandle vi, int32 n) {
  if (!vi || !*vi) return;
  const int32 count = RecordCount(vi);
  if (n > count - 1) n = count - 1;
  if (n < 0) n = 0;
  Str255 text;
  PPrintf(text, "%ld", long(n));
  const WindowRef w = WindowOf(vi);
  WPortState saved;
  Rect prior;
  bool hadClip = false;
  if (w) {
    // Drawn under a clip to the tool bar; the window's clip comes back after.
    WSetup(w, &saved);
    hadClip = WGetClipRect(w, &prior);
    if (!hadClip) WGetRect(w, &prior);
    Rect bar{0, 0, 0, 0};
    if (VIWindow().toolBarRect) VIWindow().toolBarRect(VIRec(vi)->panelHeap, &bar);
    WSetClipRect(&bar, nullptr);
  }
  if (VIWindow().setRecordField) VIWindow().setRecordField(vi, text);
  if (w) {
    UpdateToolbarButton(vi, kRecordSlotImage, 0);
    WSetClipRect(&prior, nullptr);
    WRestore(&saved);
  }
  if (gLog.showRecord) gLog.showRecord(vi);
}
