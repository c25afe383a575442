// Transactions: the stack of frame paths that carry panel actions down to
// objects, the state block of the current panel event, actions on a panel's
// root or on a VI, the panel event handler with its pop-up, colour and text
// roads, placing a free label, and the plain-call forms of messages.
#include "panel/transact.h"

#include <cstring>

#include "engine/typemgr.h"
#include "engine/vi/viinst.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dcolor.h"
#include "mgsource/draw/dregion.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "mgsource/printf.h"
#include "mgsource/walert.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/menutrack.h"
#include "mgsource/window/textcaret.h"
#include "mgsource/window/textedit.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wport.h"
#include "panel/fppanel.h"
#include "panel/osupport.h"
#include "panel/panelscroll.h"

UPtr gTRStackBlock = nullptr;

namespace {

constexpr const char* kSource = "transact";

TransactionState gState{};
bool gPushFailed = false;

int32* Words(void* record) { return static_cast<int32*>(record); }

int32 ExtOffset(ObjHeap heap) { return heap && *heap ? int32(OHWord(heap, kOHExtension)) : 0; }
int32 Ext(ObjHeap heap, int32 at) {
  const int32 ext = ExtOffset(heap);
  return ext > 0 ? int32(GetNative32(*heap + ext + at)) : 0;
}
UHandle Owner(ObjHeap heap) { return reinterpret_cast<UHandle>(uintptr_t(uInt32(Ext(heap, kHeapExtOwner)))); }
WindowRef Window(ObjHeap heap) { return WindowRef(Ext(heap, kHeapExtWindow)); }
bool IsFrontPanel(ObjHeap heap) { return heap && *heap && OHWord(heap, kOHKind) == kPanelHeapKind; }
bool OwnedByRootVI(ObjHeap heap) {
  const UHandle owner = Owner(heap);
  return owner && owner == RootVI();
}

TransactionFrame* Block() { return *reinterpret_cast<TransactionStack*>(gTRStackBlock); }
TransactionFrame* BlockEnd() { return reinterpret_cast<TransactionFrame*>(gTRStackBlock + kTransactionStackBytes); }

// The object of a path's last frame, 0 for an empty path.
int32 LastPathObject(const TransactionFrame* top) {
  if (!top) return 0;
  int32 object = 0;
  for (const TransactionFrame* f = top; f < BlockEnd() && f->kind != 0; ++f) object = f->object;
  return object;
}

// ---- Running an action -------------------------------------------------------------------
int32 RunAction(UHandle vi, ObjHeap heap, void* frame, int32 action, void* argument) {
  if (!vi && !heap) {
    DBAssert(kSource, __LINE__, "an action with neither VI nor heap");
    return 16;
  }
  if (heap) {
    const UHandle owner = Owner(heap);
    if (vi && vi != owner) {
      DBAssert(kSource, __LINE__, "the VI does not own the heap");
      return 16;
    }
    vi = owner;
    if (!frame) {
      void* previous = nullptr;
      if (TRPushRootPath(heap, &previous)) return 16;
      const int32 result = RunAction(vi, heap, TRStackTop(), action, argument);
      TRSetStackTop(previous);
      return result;
    }
  }
  bool outermost = false;
  if (vi && *vi) {
    VIRecord* r = VIRec(vi);
    if (!(r->flags & kVIFlagInTransaction) && !(r->marks & kVIMarkNestingAllowed)) {
      r->flags |= kVIFlagInTransaction;
      outermost = true;
    } else if (!(r->marks & kVIMarkNestingAllowed)) {
      DBAssert(kSource, __LINE__, "a nested action on a VI that does not allow nesting");
    }
  }
  int32 result = 0;
  if (!heap) {
    int32* w = Words(argument);
    switch (action) {
      case kActImportStrings: {
        if (!w) break;
        const MgErr err = PanelShell().importVIStrings
                              ? PanelShell().importVIStrings(vi, reinterpret_cast<Path>(uintptr_t(uInt32(w[3]))),
                                                             uInt8(w[4]), reinterpret_cast<Path>(uintptr_t(uInt32(w[5]))))
                              : kArgErr;
        w[6] = err;
        if (err) result = 16;
        break;
      }
      case kActNothing:
        break;
      case kActVIInfo:
        if (w) w[3] = PanelShell().viInfoDialog ? PanelShell().viInfoDialog(vi, w[4]) : kArgErr;
        break;
      default:
        DBAssert(kSource, __LINE__, "an unknown action on a VI without a heap");
        result = 16;
        break;
    }
  } else if (action != kActNone) {
    const int32 root = Ext(heap, kHeapExtRoot);
    if (!root) {
      DBAssert(kSource, __LINE__, "an action on a heap without a root");
      result = 16;
    } else {
      result = OSendMessage<int32>(kMsgODoit, heap, root, frame, action, argument);
    }
  }
  if (outermost && *vi) {
    VIRec(vi)->flags &= ~kVIFlagInTransaction;
    VIRec(vi)->flags2 &= ~kVIFlags2TransactionMode;
  }
  return result;
}

void ReportChange(ObjHeap heap, int32 object, int32 result, int32 action, void* record) {
  DlgSendItemChange(heap, object, result, action, record);
}

// ---- The roads of a click ----------------------------------------------------------------
bool IsSeparator(MenuHandle menu, int32 item) {
  Str255 text;
  MGetItemText(menu, item, text);
  return text[0] == 1 && text[1] == '-';
}

int32 PopUpMenu(ObjHeap heap, TransactionFrame* top, ActionParams* record) {
  int32* w = Words(record);
  const MenuHandle menu = PanelShell().standardMenu ? PanelShell().standardMenu(w[11] == 1 ? 72 : 64) : nullptr;
  if (menu)
    for (int32 n = MCountItems(menu); n > 0 && IsSeparator(menu, n); n = MCountItems(menu)) MDeleteItem(menu, n);
  if (!menu || MCountItems(menu) == 0) {
    WBeep();
    return 0;
  }
  int32 menuId = 0, item = 0;
  MPopUpMenuAt(menu, record->point, &menuId, &item, 0, 0, 0);
  w[9] = menuId;
  w[10] = item;
  bool found = false;
  if (menuId && item && PanelShell().menuFindTracked) found = PanelShell().menuFindTracked(&w[7], &w[9], &w[10]) != 0;
  if (PanelShell().menuReleaseTracked) PanelShell().menuReleaseTracked();
  if (!menuId || !item) return 0;
  w[4] = w[5] = w[6] = 0;
  w[11] = w[11] == 1 ? 3 : 2;
  w[8] = 0;
  if (found) w[7] = -w[7];
  const int32 object = LastPathObject(top);
  int32 result = TRSendAction(heap, top, kActMenuChoice, record);
  if (result & 0x480) PanelInvalBounds(heap);
  ReportChange(heap, object, result, kActMenuChoice, record);
  if (result & 1) {
    result = TRSendAction(heap, top, kActKeyOrText, record);
    ReportChange(heap, object, result, kActKeyOrText, record);
  }
  return result;
}

int32 gCurrentColours[2] = {0x000000, 0xFFFFFF};

int32 ColourAction(ObjHeap heap, TransactionFrame* top, ActionParams* record, bool palette) {
  int32* w = Words(record);
  const int32 request = w[3];
  if (palette) {
    const int32 before[2] = {w[4], w[5]};
    w[3] = 0x40000;
    TRSendAction(heap, top, kActColour, record);
    w[3] = request;
    const int32 answer = PopUpColorPalette(heap, top, record);
    if (w[4] == before[0] && w[5] == before[1]) return answer;
    w[3] = 0x50000;
    const int32 result = TRSendActionNoTrack(heap, top, kActColour, record);
    w[3] = request;
    return result;
  }
  if (w[4] == gCurrentColours[0] && w[5] == gCurrentColours[1]) return 0;
  w[4] = gCurrentColours[0];
  w[5] = gCurrentColours[1];
  w[3] |= 0x50000;
  const int32 result = TRSendAction(heap, top, kActColour, record);
  ReportChange(heap, LastPathObject(top), result, kActColour, record);
  return result;
}

void CopyEvent(const WEventRecord* event, ActionParams* record) {
  std::memcpy(Words(record) + 3, event, sizeof *event);
}

Point PinnedTo(Point p, const Rect& r) {
  if (p.v < r.top) p.v = r.top;
  if (p.v >= r.bottom) p.v = int16(r.bottom - 1);
  if (p.h < r.left) p.h = r.left;
  if (p.h >= r.right) p.h = int16(r.right - 1);
  return p;
}

Point PointOf(int32 word) {
  Point p;
  std::memcpy(&p, &word, sizeof p);
  return p;
}

int32 TextTracking(ObjHeap heap, TransactionFrame* top, ActionParams* record) {
  if (!record->focusObject || record->eventCode != 1) return 0;
  record->selStart = record->selEnd = 0;
  const int32 object = record->focusObject;
  if (!record->text) {
    const int32 result = TRSendAction(heap, top, kActKeyOrText, record);
    ReportChange(heap, object, result, kActKeyOrText, record);
    return result;
  }
  const TRecord text = reinterpret_cast<TRecord>(record->text);
  Rect view;
  LRect dest;
  TGetRect(text, &view, &dest);
  const Point at = PinnedTo(PointOf(record->localPoint), view);
  const UHandle owner = Owner(heap);
  const int32 focus = Ext(heap, kHeapExtKeyFocus);
  if (owner && *owner && (VIRec(owner)->flags2 & kVIFlags2OutsideText) && !focus) FPReleaseKeyFocus(heap);
  else if (focus && focus != object && TIdle(text, at) == kTIdleEdit) FPReleaseKeyFocus(heap);
  const int32 click = TClick(text, at, record->modifiers);
  if (click == kTClickDrag) record->flags |= kActionTracking;
  if (click != kTClickDone && click != kTClickDrag) return 0;
  TGetSelection(text, &record->selStart, &record->selEnd);
  int32 result = TRSendAction(heap, top, kActKeyOrText, record);
  const WindowRef window = Window(heap);
  bool tracked = false;
  while ((result & 1) && (record->flags & kActionTracking)) {
    if (!tracked) WStartTrack();
    tracked = true;
    ReportChange(heap, object, result, kActKeyOrText, record);
    if (window) WUpdate(window);
    WEventRecord next{};
    WGetTrackEvent(&next, 100);
    CopyEvent(&next, record);
    if (next.code == 5 || Ext(heap, kHeapExtKeyFocus) != object) {
      result &= ~1;
      break;
    }
    result = TRSendAction(heap, top, kActKeyOrText, record);
  }
  if (tracked) WEndTrack();
  ReportChange(heap, object, result, kActKeyOrText, record);
  if (window) WUpdate(window);
  return result;
}

// The saved key-focus path follows a new label: at the frame whose next is
// the label (the path's last frame, "COSM", mode 2), a saved index equal or
// above the current one moves up by one.
void ShiftSavedFocus(ObjHeap heap, const TransactionFrame* top) {
  const UHandle saved = reinterpret_cast<UHandle>(uintptr_t(uInt32(Ext(heap, kHeapExtSavedFrames))));
  if (!saved || !*saved || !top) return;
  const int32 count = AZGetHandleSize(saved) / int32(sizeof(TransactionFrame));
  for (int32 i = 0; i < count && top + i + 2 < BlockEnd(); ++i) {
    const TransactionFrame& cur = top[i];
    auto* s = reinterpret_cast<TransactionFrame*>(*saved) + i;
    if (cur.kind == 0) return;
    const TransactionFrame& next = top[i + 1];
    if (next.kind == kCatCOSM && next.mode == 2 && top[i + 2].kind == 0) {
      if (s->kind == cur.kind && s->mode == cur.mode && s->index >= cur.index) ++s->index;
      return;
    }
    if (s->kind != cur.kind || s->mode != cur.mode || s->index != cur.index) return;
  }
}

}  // namespace

// ---- The stack ---------------------------------------------------------------------------
void TRInit() {
  gTRStackBlock = AZNewPClr(kTransactionStackBytes);
  if (!gTRStackBlock) DBAssert(kSource, __LINE__, "TRInit: no memory for the transaction stack");
}

TransactionState* TRState() { return &gState; }

void* TRStackTop() { return gState.top; }
void TRSetStackTop(void* top) { gState.top = top; }

void* TRPushFrame() {
  void* const previous = gState.top;
  gPushFailed = true;
  if (!gTRStackBlock) {
    DBAssert(kSource, __LINE__, "TRPushFrame: no transaction stack");
    return previous;
  }
  TransactionFrame* f = previous ? static_cast<TransactionFrame*>(previous) : Block();
  if (previous) {
    // Just after the end of the path at the current top; the walk stops at
    // the block's end.
    while (f < BlockEnd() && f->kind != 0) ++f;
    ++f;
  }
  if (f >= reinterpret_cast<TransactionFrame*>(gTRStackBlock + kTransactionPathLimit)) {
    DBAssert(kSource, __LINE__, "TRPushFrame: the transaction stack is full");
    return previous;
  }
  gPushFailed = false;
  gState.top = f;
  return previous;
}

namespace {

// Whether count frames from f lie on the stack, a frame boundary.
bool FramesLie(const TransactionFrame* f, int32 count) { return TRFramesLie(f, count); }

// FramesLie, reported when they do not.
bool FramesFit(const TransactionFrame* f, int32 count) {
  if (!FramesLie(f, count)) {
    DBAssert(kSource, __LINE__, "a transaction path would pass the end of the stack");
    return false;
  }
  return true;
}

}  // namespace

int32 TRWriteFrames(void* at, const TransactionFrame* frames, int32 count) {
  auto* f = static_cast<TransactionFrame*>(at);
  if (!FramesFit(f, frames ? count : -1)) return 0;
  std::memmove(f, frames, size_t(count) * sizeof(TransactionFrame));
  return 1;
}

// The frame and the end mark written in place: a path walk writes one per
// step.
int32 TRPutFrame(void* at, int32 object, uInt32 kind, int32 mode, int32 index) {
  auto* f = static_cast<TransactionFrame*>(at);
  if (!FramesFit(f, 2)) return 0;
  f[0] = TransactionFrame{object, kind, mode, index};
  f[1] = TransactionFrame{0, 0, 0, 0};
  return 1;
}

int32 TRPutFrames(void* at, const TransactionFrame* frames, int32 count) {
  auto* f = static_cast<TransactionFrame*>(at);
  if (count > 0 && FramesLie(f, count + 1)) {
    // A path is a few frames: copied one by one rather than by a library call.
    for (int32 i = 0; i < count; ++i) f[i] = frames[i];
    f[count] = TransactionFrame{0, 0, 0, 0};
    return 1;
  }
  // A path that does not fit is written frame by frame up to the one that
  // fails, which is reported.
  for (int32 i = 0; i < count; ++i)
    if (!TRPutFrame(f + i, frames[i].object, frames[i].kind, frames[i].mode, frames[i].index)) return 0;
  return 1;
}

int32 TRPushRootPath(ObjHeap heap, void** previous) {
  *previous = TRPushFrame();
  if (gPushFailed) return 16;
  if (!TRPutFrame(gState.top, Ext(heap, kHeapExtRoot), kCatFPSC, 2, 0)) {
    gState.top = *previous;
    return 16;
  }
  return 0;
}

// ---- Actions -----------------------------------------------------------------------------
int32 TRSendAction(ObjHeap heap, void* frame, int32 action, void* argument) {
  return RunAction(nullptr, heap, frame, action, argument);
}
int32 TRSendActionNoTrack(ObjHeap heap, void* frame, int32 action, void* argument) {
  return RunAction(nullptr, heap, frame, action, argument);
}
int32 TRSendVIAction(UHandle vi, int32 action, void* argument) {
  return RunAction(vi, nullptr, nullptr, action, argument);
}

int32 VISetTransactionNesting(UHandle vi) {
  if (!vi || !*vi) return 0;
  VIRecord* r = VIRec(vi);
  if (r->marks & kVIMarkNestingAllowed) return 0;
  if (!(r->flags & kVIFlagInTransaction) && !(r->marks & kVIMarkNestingPermitted))
    DBAssert(kSource, __LINE__, "transaction nesting set on a VI outside a transaction");
  r->marks |= kVIMarkNestingAllowed;
  return 1;
}

int32 VIClearTransactionNesting(UHandle vi) {
  if (!vi || !*vi || !(VIRec(vi)->marks & kVIMarkNestingAllowed)) return 0;
  VIRec(vi)->marks &= ~kVIMarkNestingAllowed;
  return 1;
}

// ---- The panel event ---------------------------------------------------------------------
int32 TRPanelEvent(WEventRecord* event, ObjHeap heap) {
  if (!event || !heap || !*heap) return 0;
  const TransactionState saved = gState;
  auto restore = [&] {
    gState.mode = saved.mode;
    gState.point = saved.point;
    gState.modifiers = saved.modifiers;
  };
  gState.point = event->where;
  gState.modifiers = int32(event->modifiers);
  int32 mode = kTRModeMouseDown;
  switch (event->code) {
    case weMouseDown: break;
    case weMouseMove: case weMouseIdle: mode |= 1; break;
    case wePopupClick: mode = kTRModePopup; break;
    case kWEvWheel: mode = kTRModeWheel; break;
    default: mode = kTRModeTracking; break;
  }
  ActionParams record{};
  int32* w = Words(&record);
  std::memcpy(&record.point, &event->where, sizeof record.point);
  if (OwnedByRootVI(heap)) {
    Rect r{0, 0, 0, 0};
    if (const WindowRef window = Window(heap)) {
      WGetRect(window, &r);
      r = Rect{0, 0, int16(r.bottom - r.top), int16(r.right - r.left)};
    }
    std::memcpy(w + 3, &r, sizeof r);
    GrabberSetIdleRgn(heap, &record);
    gState.mode = mode;
    restore();
    return 0;
  }
  if (mode == kTRModePopup) {
    if (PanelShell().menuReleaseTracked) PanelShell().menuReleaseTracked();
    const int32 standard[3] = {64, 72, 82};
    for (int32 i = 0; i < 3; ++i) {
      const MenuHandle m = PanelShell().standardMenu ? PanelShell().standardMenu(standard[i]) : nullptr;
      w[4 + i] = int32(uintptr_t(m));
    }
    w[7] = w[8] = 0;
    w[12] = -1;
    const int32 ext = ExtOffset(heap);
    uInt16 parts = 0;
    if (ext > 0) std::memcpy(&parts, *heap + ext + kHeapExtWindowOptions, sizeof parts);
    if (IsFrontPanel(heap) && (parts & kWindowPartNoPopups)) {
      mode = kTRModeTracking;
    } else {
      w[11] = 1;
      FPReleaseKeyFocus(heap);
      FPEmptySelection(heap);  // ClearSelectionList
    }
  } else if (mode == kTRModeWheel) {
    float amount;
    std::memcpy(&amount, &event->character, sizeof amount);
    // Truncated toward zero; a value out of range (or not a number) is
    // pinned rather than converted, which would be undefined.
    w[3] = amount != amount          ? 0
           : amount >= 2147483647.0f  ? 2147483647
           : amount <= -2147483648.0f ? int32(-2147483647 - 1)
                                      : int32(amount);
    w[4] = 0;
  }
  if (mode & 1) {
    const Point p = record.point;
    const Rect pixel{p.v, p.h, int16(p.v + 1), int16(p.h + 1)};
    std::memcpy(w + 3, &pixel, sizeof pixel);
    w[5] = w[6] = 0;
  }
  gState.mode = mode;
  void* const previous = TRPushFrame();
  if (gPushFailed) {
    restore();
    return 16;
  }
  auto* const top = static_cast<TransactionFrame*>(gState.top);
  const int32 click = OClick(heap, Ext(heap, kHeapExtRoot), &gState, top, &record);
  if (Ext(heap, kHeapExtStashedText)) DBAssert(kSource, __LINE__, "a stashed text is left after the click");
  int32 result = 0;
  if (!DlgSendItemClick(heap, LastPathObject(top), click, &record)) {
    if (gState.mode == kTRModeGrabber) GrabberTrack(heap, event);
    else switch (click) {
      case 0:
        DBAssert(kSource, __LINE__, "no answer to a click");
        break;
      case 1:
        if (mode & 1) DBAssert(kSource, __LINE__, "an untaken click in a tracking transaction");
        else if (mode == kTRModeMouseDown) FPCommitKeyFocus(heap);
        else if (mode == kTRModeWheel) PanelWheelScroll(heap, event);
        break;
      case 2:
        GrabberSetIdleRgn(heap, &record);
        break;
      case 4:
        result = PopUpMenu(heap, top, &record);
        break;
      case 6:
        FPReleaseKeyFocus(heap);
        result = ColourAction(heap, top, &record, (w[7] & 0xFFFF) != 0 || event->code == wePopupClick);
        break;
      case 14:
        CopyEvent(event, &record);
        result = TrackLastPathSeg(heap, &record);
        break;
      case 15:
        CopyEvent(event, &record);
        result = TextTracking(heap, top, &record);
        break;
      case 22:
        result = TRSendAction(heap, top, kActMenuComplete, &record);
        if (result & 0x480) PanelInvalBounds(heap);
        break;
      default:
        break;
    }
  }
  if (Ext(heap, kHeapExtStashedText)) DBAssert(kSource, __LINE__, "a stashed text is left after the click");
  gState.top = previous;
  restore();
  return result;
}

// ---- Placing a label ----------------------------------------------------------------------
int32 TRPlaceLabel(ObjHeap heap, UHandle text, int32 point) {
  if (!heap || !*heap) {
    if (text) AZDisposeHandle(text);
    return 16;
  }
  void* previous = nullptr;
  if (TRPushRootPath(heap, &previous)) {
    if (text) AZDisposeHandle(text);
    return 16;
  }
  auto* const top = static_cast<TransactionFrame*>(gState.top);
  const bool hiddenRoot = OwnedByRootVI(heap);
  union {
    ActionParams action;
    CreationRecord creation;
  } record;
  std::memset(&record, 0, sizeof record);
  std::memcpy(&record.creation.point, &point, sizeof point);
  std::memcpy(record.creation.className, "\005Label", 6);
  record.creation.flags = uInt16(hiddenRoot ? 133 : 128);
  record.creation.kind = kCatCOSM;
  record.creation.newObject = 0;
  int32 result = TRSendAction(heap, top, kActCreate, &record);
  if (!(result & 1)) {
    result = 0;
  } else {
    result = 1;
    ShiftSavedFocus(heap, top);
    bool refused = false;
    if (Window(heap) && !hiddenRoot) {
      record.action.focusObject = 0;
      result = TRSendActionNoTrack(heap, top, kActKeyOrText, &record);
      refused = (result & 16) != 0;
    }
    if (!refused && text) {
      const int32 size = AZGetHandleSize(text);
      const int32 length = size >= 4 ? int32(GetNative32(*text)) : -1;
      const Rect view{0, 0, 20, 30};
      TRecord typed = length >= 0 && length <= size - 4
                          ? TNew(&view, 0, *text + 4, length, kAppFont, gDefaultTextColor, 0xFFFFFF)
                          : nullptr;
      AZDisposeHandle(text);
      text = nullptr;
      if (!typed) {
        DBAssert(kSource, __LINE__, "no text record for the label's text");
      } else {
        record.action.eventCode = weKey;
        record.action.keyCode = vkPaste;
        record.action.selStart = 0;
        record.action.selEnd = 0x7FFFFFFF;
        record.action.focusObject = 0;
        record.action.text = reinterpret_cast<UHandle>(typed);
        result = TRSendActionNoTrack(heap, top, kActKeyOrText, &record);
        TDispose(typed);
      }
    }
  }
  if (text) AZDisposeHandle(text);
  if (const WindowRef window = Window(heap)) WUpdate(window);
  PanelInvalBounds(heap);
  gState.top = previous;
  return result;
}

// ---- Plain-call forms ---------------------------------------------------------------------
int32 OOffsetObj(ObjHeap heap, int32 object, Point by) { return OSendMessage<int32>(kMsgOOffset, heap, object, by); }
int32 OSizeObj(ObjHeap heap, int32 object, const Rect* rect, int32 partId) {
  return OSendMessage<int32>(kMsgOSize, heap, object, rect, partId);
}
int32 ODrawPanel(ObjHeap heap) {
  const int32 root = Ext(heap, kHeapExtRoot);
  return root ? OSendMessage<int32>(kMsgODraw, heap, root) : 0;
}
int32 ODrawObj(ObjHeap heap, int32 object, int32 a, int32 b, int32 c) {
  return OSendMessage<int32>(kMsgODraw, heap, object, a, b, c);
}
int32 ODisplayValObj(ObjHeap heap, int32 object, int32 flags, const void* value) {
  return OSendMessage<int32>(kMsgODisplayVal, heap, object, flags, value);
}

// ---- Services of the display layer -------------------------------------------------------
PanelDisplayCalls& PanelDisplayCallCounts() {
  static PanelDisplayCalls calls{};
  return calls;
}
// A press that the object tracks (click answer 14): the object recorded as
// the dragged one gets action 14 with the press, then with every tracking
// event while it asks to go on; a track that is over (code 5) ends it.
int32 TrackLastPathSeg(ObjHeap heap, ActionParams* record) {
  if (!heap || !*heap || !record) return 0;
  ++PanelDisplayCallCounts().pathTracks;
  auto* const top = static_cast<TransactionFrame*>(gState.top);
  const int32 object = record->dragObject;
  if (!object) {
    char line[48];
    SPrintf(line, "gLastPathSeg %lx", long(uintptr_t(top)));
    DBPrintf("%s", line);
    DBAssert(kSource, __LINE__, "a tracking click names no object");
    return 0;
  }
  if (Ext(heap, kHeapExtKeyFocus) != object) FPCommitKeyFocus(heap);
  const WindowRef window = Window(heap);
  WStartTrack();
  int32 result = TRSendAction(heap, top, kActTrackEvent, record);
  while (result & 1) {
    ReportChange(heap, object, result, kActTrackEvent, record);
    if (window) WUpdate(window);
    if (record->eventCode == 5) break;
    WEventRecord next{};
    WGetTrackEvent(&next, 100);
    CopyEvent(&next, record);
    result = TRSendAction(heap, top, kActTrackEvent, record);
  }
  SetTrackObject(nullptr, 0, nullptr, nullptr, 1);
  TrackState(0, nullptr, 1);
  WEndTrack();
  ReportChange(heap, object, result, kActTrackEvent, record);
  if (window) WUpdate(window);
  return result;
}
void SetPanelCurrentColours(int32 foreground, int32 background) {
  gCurrentColours[0] = foreground;
  gCurrentColours[1] = background;
}
void PanelCurrentColours(int32* foreground, int32* background) {
  if (foreground) *foreground = gCurrentColours[0];
  if (background) *background = gCurrentColours[1];
}
