// Loading, placing, running and ending dialogs: the dialog VI and its
// window, the panel built from the dialog's 'DLG2' block with the item
// descriptions of its 'DHLP' resource, the modal loop with its quit event,
// and the dialog's share of the window's events.
#include <cstring>
#include <vector>

#include "engine/objswap.h"
#include "engine/typemgr.h"
#include "engine/vi/dlgpanel.h"
#include "engine/vi/objload.h"
#include "engine/vi/vihooks.h"
#include "engine/vi/viinst.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/objlist.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/wport.h"
#include "mgsource/window/wsysinfo.h"
#include "platform/qx_display.h"
#include "platform/qx_thread.h"
#include "shell/dialog.h"

#include "mgsource/window/wmisc.h"
#include "shell/dlghelp.h"
#include "shell/dlgpanelload.h"
#include "shell/viwindow.h"

namespace {

// Root words: the item list and the key-navigation slots; a controller's
// word naming the display object it shows; a display object's description.
constexpr int32 kRootItemListAt = 40, kRootKeyNavAt = 68;
constexpr int32 kControllerDisplayAt = 20;
constexpr int32 kDisplayDescriptionAt = 28;
// The heap flag of stale panel bounds.
constexpr uInt32 kPanelBoundsStale = 0x400000;
constexpr int32 kEscapeChar = 27;
// The invalidation level of the whole object.
constexpr int32 kInvalAll = 0;

// One running modal loop: its dialog, whether its quit event came, the
// code given to DlgQuit for it, and whether it was unloaded meanwhile.
struct LoopFrame {
  DialogRef dialog;
  bool waiting = false;  // its main loop waits for input (else it turns while events are queued)
  bool ended = false;
  bool unloaded = false;
  int32 result = 0;
};
// The loops, innermost last, and the current dialog; both live on the
// user-interface thread.  Each loop keeps the code of its own dialog's
// quit, so that a quit of another dialog meanwhile does not change it.
std::vector<LoopFrame*>& Loops() {
  static auto* v = new std::vector<LoopFrame*>;
  return *v;
}
DialogRef gCurrent = nullptr;
// The answer the next loop of a dialog gives for the operator, when one
// was given for it.
DialogRef gAnswerFor = nullptr;
WEventRecord gAnswer{};

// Found among the live heaps without a report (the loop's own checks).
bool Alive(DialogRef d) {
  for (ObjHeap h = OHFirstHeap(); h; h = OHNextHeap(h))
    if (h == d) return OHWord(h, kOHKind) == kPanelHeapKind && OHWord(h, kOHExtension);
  return false;
}
int32 Ext(DialogRef d) { return int32(OHWord(d, kOHExtension)); }
uInt32 ExtWord(DialogRef d, int32 at) { return GetNative32(*d + Ext(d) + at); }
void SetExtWord(DialogRef d, int32 at, uInt32 v) { PutNative32(*d + Ext(d) + at, v); }
Rect ExtRect(DialogRef d, int32 at) {
  const uChar* p = *d + Ext(d) + at;
  return Rect{int16(GetNative16(p)), int16(GetNative16(p + 2)), int16(GetNative16(p + 4)), int16(GetNative16(p + 6))};
}
void SetExtRect(DialogRef d, int32 at, const Rect& r) {
  uChar* p = *d + Ext(d) + at;
  PutNative16(p, uInt16(r.top));
  PutNative16(p + 2, uInt16(r.left));
  PutNative16(p + 4, uInt16(r.bottom));
  PutNative16(p + 6, uInt16(r.right));
}
Point ExtPoint(DialogRef d, int32 at) {
  const uChar* p = *d + Ext(d) + at;
  return Point{int16(GetNative16(p)), int16(GetNative16(p + 2))};
}
void SetExtPoint(DialogRef d, int32 at, Point pt) {
  uChar* p = *d + Ext(d) + at;
  PutNative16(p, uInt16(pt.v));
  PutNative16(p + 2, uInt16(pt.h));
}
WindowRef WindowOf(DialogRef d) { return WindowRef(ExtWord(d, kHeapExtWindow)); }
UHandle OwnerOf(DialogRef d) { return reinterpret_cast<UHandle>(uintptr_t(ExtWord(d, kHeapExtOwner))); }
int32 RootList(DialogRef d, int32 at) {
  const int32 root = int32(ExtWord(d, kHeapExtRoot));
  if (root <= 0 || OHBlockSize(d, root) < at + 4) return 0;
  return int32(OHWord(d, uInt32(root + at)));
}
void MarkBoundsStale(DialogRef d) { OHSetWord(d, kOHFlags, OHWord(d, kOHFlags) | kPanelBoundsStale); }

// The item bound to key-navigation slot 0 (the default button), 0 for none.
int32 DefaultButtonItem(DialogRef d) {
  const int32 nav = RootList(d, kRootKeyNavAt);
  const int32 object = nav && ObjListCount(d, nav) > 0 ? ObjListGet(d, nav, 0) : 0;
  const int32 items = RootList(d, kRootItemListAt);
  const int32 n = object && items ? ObjListCount(d, items) : 0;
  for (int32 i = 0; i < n; ++i) {
    const int32 e = ObjListGet(d, items, i);
    if (e == object ||
        (OHBlockSize(d, e) >= kControllerDisplayAt + 4 && int32(OHWord(d, uInt32(e + kControllerDisplayAt))) == object))
      return i + 1;
  }
  return 0;
}

}  // namespace

bool DlgOnUIThread() {
  const uint32_t ui = PlatWindowSystemThread();
  return !ui || ui == PlatThreadCurrentId();
}

bool DlgAnswersForTheOperator() {
  // An input script cannot answer either: a dialog raised during one of its
  // steps runs inside that step, and the script goes on only after it.
  return WNoOperator() != 0;
}

void DlgAnswerNextLoop(DialogRef dialog, const WEventRecord& answer) {
  gAnswerFor = dialog;
  gAnswer = answer;
}

namespace {

void SendToDialog(DialogRef d, WEventRecord e) {
  e.window = WindowOf(d);
  WSendEvent(&e);
}

void PostToDialog(DialogRef d, WEventCode code) {
  WEventRecord e{};
  e.code = code;
  e.window = WindowOf(d);
  WPostEvent(&e, 0, kWPostAnyLevel);
}

// Turns of the loop while events wait and the dialog is up.
void RunQueuedTurns(const LoopFrame& frame, WindowRef window) {
  for (int32 guard = 10000; !frame.ended && !WQuitting() && WCountPendingEvents() > 0 && guard > 0; --guard)
    WMainLoop(0, window);
}

// The window's event handler until the VI window's own procedure is there:
// the dialog's share of the events; the rest is not taken.
int32 StandInWindowProc(WEventRecord* event, uInt32 refCon) {
  return DlgFilterVIEvents(event, reinterpret_cast<DialogRef>(uintptr_t(refCon)));
}

// Descriptions from the 'DHLP' resource: each text becomes the description
// handle (a count, then the bytes) of the item's display object.
struct HelpContext {
  DialogRef dialog;
};
MgErr TakeHelpText(void* context, int32 item, const uChar* text, int32 length) {
  const DialogRef d = static_cast<HelpContext*>(context)->dialog;
  const int32 object = DlgItemDisplay(d, item);
  if (!object || OHBlockSize(d, object) < kDisplayDescriptionAt + 4) {
    DBAssert(__FILE__, __LINE__, "a described item without its display object");
    return kNoErr;
  }
  UHandle h = AZNewHandle(length + 4);
  if (!h) return kMemFullErr;
  PutNative32(*h, uInt32(length));
  std::memcpy(*h + 4, text, size_t(length));
  // A word the panel's build left is disposed only when it is a handle.
  UHandle old = reinterpret_cast<UHandle>(uintptr_t(OHWord(d, uInt32(object + kDisplayDescriptionAt))));
  if (old && AZCheckHandle(old) == kNoErr) AZDisposeHandle(old);
  OHSetWord(d, uInt32(object + kDisplayDescriptionAt), uInt32(uintptr_t(h)));
  if (DlgServices().helpPartsTransparent) DlgServices().helpPartsTransparent(d, object);
  return kNoErr;
}

// Reads the descriptions: false only when one could not be stored; a bad
// resource is reported and leaves the items without descriptions.
bool LoadHelpTexts(DialogRef d, RsrcFileRef file, int32 id) {
  UHandle h = nullptr;
  if (RGet(file, kDialogHelpType, id, &h) != kNoErr || !h) return true;
  HelpContext context{d};
  const int32 size = *h ? AZGetHandleSize(h) : 0;
  const MgErr err = DlgReadHelpTexts(*h, size, DlgItemCount(d), &TakeHelpText, &context);
  RRelease(h);
  return err != kMemFullErr;
}

}  // namespace

DialogRef DlgCreate(const Rect* rect, ConstPStr title, int32 kind, DlgFilterProc filter, int32 userData) {
  // Before the type heap exists no VI can be made (start-up, shut-down);
  // windows are made on the user-interface thread only.
  ObjHeap heap = TypeHeap() && DlgOnUIThread() ? NewDialogVIHeap() : nullptr;
  if (!heap) return nullptr;
  UHandle vi = OwnerOf(heap);
  const Rect r = rect ? *rect : Rect{0, 0, 10, 10};
  const uChar none[1] = {0};
  const WEventHandler proc = VIShell().viWindowProc ? VIShell().viWindowProc : &StandInWindowProc;
  const WindowRef window = WCreate(uInt32(kind), title ? title : none, proc, &r, 0, 0, uInt32(uintptr_t(heap)));
  if (!window) {
    DisposeVI(vi, 0);
    return nullptr;
  }
  SetExtWord(heap, kHeapExtWindow, uInt32(window));
  SetExtWord(heap, kHeapExtDialogFilter, uInt32(uintptr_t(filter)));
  SetExtWord(heap, kHeapExtDialogData, uInt32(userData));
  uChar* options = *heap + Ext(heap) + kHeapExtWindowOptions;
  PutNative16(options, uInt16(GetNative16(options) | kDialogWindowPart));
  PutNative16(*heap + Ext(heap) + kHeapExtWindowStyle, uInt16(kind));
  SetExtPoint(heap, kHeapExtContentOrigin, Point{r.top, r.left});
  SetExtRect(heap, kHeapExtContentRect, Rect{0, 0, int16(r.bottom - r.top), int16(r.right - r.left)});
  if (VIRec(vi)->path) FDisposePath(VIRec(vi)->path);
  VIRec(vi)->path = nullptr;
  return heap;
}

DialogRef DlgLoad(RsrcFileRef file, int32 id, ConstPStr title, int32 kind, DlgFilterProc filter, int32 userData) {
  const Rect start{0, 0, 10, 10};
  DialogRef d = DlgCreate(&start, title, kind, filter, userData);
  if (!d) return nullptr;
  UHandle block = CopyDialogBlock(file, id);
  bool built = false;
  if (block) {
    WPortState saved;
    WSetup(WindowOf(d), &saved);
    built = LoadDlgPanel(d, block) == 0;
    WRestore(&saved);
    AZDisposeHandle(block);
  }
  if (!built || !LoadHelpTexts(d, file, id)) {
    DlgUnload(d);
    return nullptr;
  }
  return d;
}

MgErr DlgUnload(DialogRef dialog) {
  if (!DlgIsLiveDialog(dialog)) return kArgErr;
  // Only a dialog's own VI goes: another VI's panel is refused.
  UHandle vi = OwnerOf(dialog);
  if (!vi || !*vi || VIRec(vi)->viKind != kVIKindDialog) {
    DBAssert(__FILE__, __LINE__, "not a dialog's panel");
    return kArgErr;
  }
  for (LoopFrame* f : Loops())
    if (f->dialog == dialog) f->unloaded = f->ended = true;
  if (gCurrent == dialog) gCurrent = nullptr;
  if (gAnswerFor == dialog) gAnswerFor = nullptr;
  if (const WindowRef w = WindowOf(dialog)) {
    SetExtWord(dialog, kHeapExtWindow, 0);
    WDestroy(w);
  }
  ODisposeHeapObjects(dialog);
  if (Path p = VIRec(vi)->path) {
    if (FDisposePath(p) != kNoErr) DBAssert(__FILE__, __LINE__, "the dialog VI's path would not go");
    VIRec(vi)->path = nullptr;
  }
  DisposeVI(vi, 0);
  return kNoErr;
}

void DlgSize(DialogRef dialog, const Rect* rect) {
  if (!DlgIsLiveDialog(dialog)) return;
  Rect r;
  if (rect) {
    r = *rect;
  } else {
    Rect bounds{0, 0, 0, 0};
    MarkBoundsStale(dialog);
    DlgPanelGetBounds(dialog, &bounds);
    const Point at = ExtPoint(dialog, kHeapExtContentOrigin);
    r = Rect{int16(bounds.top + at.v), int16(bounds.left + at.h), int16(bounds.bottom + at.v),
             int16(bounds.right + at.h)};
  }
  const WindowRef w = WindowOf(dialog);
  if (w) WSize(w, &r);
  SetExtPoint(dialog, kHeapExtContentOrigin, Point{r.top, r.left});
  Rect content;
  VIWindWindowToContent(w, GetNative16(*dialog + Ext(dialog) + kHeapExtWindowOptions), &r, &content);
  Rect visible = ExtRect(dialog, kHeapExtContentRect);
  visible.bottom = int16(visible.top + (content.bottom - content.top));
  visible.right = int16(visible.left + (content.right - content.left));
  SetExtRect(dialog, kHeapExtContentRect, visible);
  MarkBoundsStale(dialog);
}

Point DlgDefaultPosition(uInt32 kind, int32 width, int32 height) {
  Rect work, inset;
  WGetWorkAreaRect(Point{kDlgDefaultPos, kDlgDefaultPos}, &work);
  WGetShellRect(kind, &inset);
  const int32 h = inset.left + (work.right - work.left - width - inset.left - inset.right) / 2 + work.left;
  const int32 v = inset.top + (work.bottom - work.top - height - inset.top - inset.bottom) / 3 + work.top;
  return Point{int16(v), int16(h)};
}

void DlgMove(DialogRef dialog, int32 h, int32 v) {
  if (!DlgIsLiveDialog(dialog)) return;
  const Rect visible = ExtRect(dialog, kHeapExtContentRect);
  const int32 width = visible.right - visible.left, height = visible.bottom - visible.top;
  if (h == kDlgDefaultPos || v == kDlgDefaultPos) {
    const Point place = DlgDefaultPosition(GetNative16(*dialog + Ext(dialog) + kHeapExtWindowStyle), width, height);
    if (h == kDlgDefaultPos) h = place.h;
    if (v == kDlgDefaultPos) v = place.v;
  }
  const Rect moved{int16(v), int16(h), int16(v + height), int16(h + width)};
  DlgSize(dialog, &moved);
}

void DlgShow(DialogRef dialog, int32 update) {
  if (!DlgIsLiveDialog(dialog)) return;
  if (const WindowRef w = WindowOf(dialog)) {
    WShow(w);
    if (update) WUpdate(w);
  }
}

void DlgHide(DialogRef dialog) {
  if (!DlgIsLiveDialog(dialog)) return;
  if (const WindowRef w = WindowOf(dialog)) WHide(w);
}

int32 DlgBoxLoop(DialogRef dialog) {
  if (!DlgIsLiveDialog(dialog)) return 0;
  // 1. The dialog that runs now, and its focus item.
  const DialogRef outer = gCurrent;
  const int32 outerFocus = outer && Alive(outer) ? DlgGetKbdFocus(outer) : 0;
  LoopFrame frame{dialog};
  Loops().push_back(&frame);
  // 2. This one runs.
  gCurrent = dialog;
  DlgShow(dialog, 0);
  // 3. The nested loop until the quit event came.
  const WindowRef window = WindowOf(dialog);
  if (DlgAnswersForTheOperator()) {
    // The answer given for the operator, or the default button, once; then
    // the cancel event; each as the panel would send it.  A dialog that
    // takes neither is ended.
    WEventRecord first{};
    if (gAnswerFor == dialog) {
      first = gAnswer;
      gAnswerFor = nullptr;
    } else if (const int32 item = DefaultButtonItem(dialog)) {
      first.code = kDlgEvItemChange;
      first.where = item;
      first.globalWhere = kDlgResultCommitted;
    }
    if (first.code) {
      SendToDialog(dialog, first);
      RunQueuedTurns(frame, window);
    }
    if (!frame.ended && Alive(dialog)) {
      WEventRecord cancel{};
      cancel.code = kDlgEvCancel;
      SendToDialog(dialog, cancel);
      RunQueuedTurns(frame, window);
    }
  } else {
    frame.waiting = true;
    while (!frame.ended && !WQuitting()) WMainLoop(1, window);
  }
  Loops().pop_back();
  // 4. Hidden; the outer dialog runs again with its focus item.
  if (!frame.unloaded) DlgHide(dialog);
  gCurrent = outer && Alive(outer) ? outer : nullptr;
  if (gCurrent && outerFocus) DlgSetKbdFocus(gCurrent, outerFocus, 0, 0x7fffffff);
  // The outer dialog's quit came while this one ran: its waiting loop ends
  // now (one that turns sees the flag itself).
  if (!Loops().empty() && Loops().back()->ended && Loops().back()->waiting) WQuitNestedMainLoop();
  // 5. The code given to DlgQuit for this dialog.
  return frame.result;
}

int32 DlgBoxStep(DialogRef dialog) {
  if (dialog && !DlgIsLiveDialog(dialog)) return 0;
  const DialogRef saved = gCurrent;
  if (dialog) gCurrent = dialog;
  const int32 result = WMainLoop(0, dialog ? WindowOf(dialog) : kWNoWindow);
  gCurrent = saved && Alive(saved) ? saved : nullptr;
  return result;
}

void DlgQuit(DialogRef dialog, int32 result) {
  if (!DlgIsLiveDialog(dialog)) return;
  WEndTrack();
  for (LoopFrame* f : Loops())
    if (f->dialog == dialog) f->result = result;
  // Taken at any nesting level: the loop that ends is the one whose dialog
  // the event names.
  PostToDialog(dialog, kDlgEvQuit);
}

int32 DlgFilterVIEvents(WEventRecord* event, DialogRef dialog) {
  if (!event || !Alive(dialog)) return 0;
  const DlgFilterProc filter = reinterpret_cast<DlgFilterProc>(uintptr_t(ExtWord(dialog, kHeapExtDialogFilter)));
  const bool isDialog = filter || (GetNative16(*dialog + Ext(dialog) + kHeapExtWindowOptions) & kDialogWindowPart);
  if (!isDialog) return 0;
  const int32 userData = int32(ExtWord(dialog, kHeapExtDialogData));
  // 1. The filter first.
  if (filter && filter(event, dialog, userData)) return 1;
  // 2. Close and Escape of a dialog VI are the cancel event.
  UHandle vi = OwnerOf(dialog);
  const bool dialogVI = vi && *vi && VIRec(vi)->viKind == kVIKindDialog;
  const bool escape = (event->code == weKey || event->code == weKeyRepeat) && event->character == kEscapeChar;
  if (dialogVI && (event->code == kWEvClose || escape)) {
    event->code = kDlgEvCancel;
    return filter ? filter(event, dialog, userData) : 0;
  }
  // 3. The quit event ends this dialog's loop (and unloads it when asked).
  if (event->code == kDlgEvQuit) {
    DlgHide(dialog);
    bool waiting = gCurrent == dialog;
    for (LoopFrame* f : Loops())
      if (f->dialog == dialog) f->ended = true, waiting = f->waiting && gCurrent == dialog;
    if (waiting) WQuitNestedMainLoop();
    if (event->where) DlgUnload(dialog);
    return 1;
  }
  // 4. The rest goes on to the panel.
  return 0;
}

int32 DlgFilterKey(WEventRecord* event, DialogRef dialog) {
  if (!event || !DlgIsLiveDialog(dialog)) return 0;
  const DlgFilterProc filter = DlgFilter(dialog);
  if (!filter) return 0;
  // Return without modifiers is shown to the filter as key code 2 with no
  // character, and given back when the filter left it so.
  const bool plainReturn = event->character == 10 && !(event->modifiers & kDlgReturnModifiers);
  if (plainReturn) {
    event->keyCode = kDlgReturnKeyCode;
    event->character = 0;
  }
  const int32 answer = filter(event, dialog, DlgUserData(dialog));
  if (plainReturn && event->keyCode == kDlgReturnKeyCode) {
    event->keyCode = 27;
    event->character = 10;
  }
  return answer;
}

void DlgRefresh(DialogRef dialog, int32 item) {
  const int32 object = DlgIsLiveDialog(dialog) ? DlgItemDisplay(dialog, item) : 0;
  if (!object) return;
  const WindowRef w = WindowOf(dialog);
  if (!w || !WIsVisible(w) || (OHWord(dialog, uInt32(object)) & kDlgItemHidden)) return;
  if (DlgServices().inval) DlgServices().inval(dialog, object, kInvalAll);
  WUpdate(w);
}

void DlgMoveItem(DialogRef dialog, int32 item, Point offset) {
  const int32 object = DlgIsLiveDialog(dialog) ? DlgItemDisplay(dialog, item) : 0;
  if (!object) return;
  if (DlgServices().inval) DlgServices().inval(dialog, object, kInvalAll);
  if (DlgServices().offset) DlgServices().offset(dialog, object, offset);
  if (DlgServices().inval) DlgServices().inval(dialog, object, kInvalAll);
  MarkBoundsStale(dialog);
}

int32 DlgGetItemRect(DialogRef dialog, int32 item, int32 kind, Rect* rect) {
  if (!rect) {
    DBAssert(__FILE__, __LINE__, "no rectangle to fill");
    return 0;
  }
  *rect = Rect{0, 0, 0, 0};
  const int32 object = DlgIsLiveDialog(dialog) ? DlgItemDisplay(dialog, item) : 0;
  if (!object || !DlgServices().getRect) return 0;
  return DlgServices().getRect(dialog, object, rect, kind);
}
