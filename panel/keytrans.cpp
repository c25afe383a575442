// The key focus of a panel: the one object that takes the panel window's
// keys, reached as action 15 inside the frames saved when it took the focus;
// moving, committing and releasing it; the default button's redraw; and the
// bracket of drawing into one area of the panel's window.
#include <cstring>

#include "engine/typemgr.h"
#include "engine/vi/viinst.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/walert.h"
#include "mgsource/window/textcaret.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wport.h"
#include "panel/fppanel.h"
#include "panel/methsupport.h"
#include "panel/textparts.h"
#include "panel/transact.h"

namespace {

constexpr const char* kSource = "keytrans";

bool gFocusOnBoolean = false;
bool gContainerTookKey = false;

int32 ExtOffset(ObjHeap heap) { return heap && *heap ? int32(OHWord(heap, kOHExtension)) : 0; }
int32 Ext(ObjHeap heap, int32 at) {
  const int32 ext = ExtOffset(heap);
  return ext > 0 ? int32(GetNative32(*heap + ext + at)) : 0;
}
void SetExt(ObjHeap heap, int32 at, int32 v) {
  if (const int32 ext = ExtOffset(heap); ext > 0) PutNative32(*heap + ext + at, uInt32(v));
}
UHandle Owner(ObjHeap heap) { return reinterpret_cast<UHandle>(uintptr_t(uInt32(Ext(heap, kHeapExtOwner)))); }
uInt32 OwnerFlags2(ObjHeap heap) {
  const UHandle vi = Owner(heap);
  return vi && *vi ? VIRec(vi)->flags2 : 0;
}
bool IsFrontPanel(ObjHeap heap) { return heap && *heap && OHWord(heap, kOHKind) == kPanelHeapKind; }
UHandle SavedFrames(ObjHeap heap) {
  return reinterpret_cast<UHandle>(uintptr_t(uInt32(Ext(heap, kHeapExtSavedFrames))));
}

// The focus ends: the saved frames go with it, or are handed to the caller.
UHandle ClearFocus(ObjHeap heap, bool keepFrames = false) {
  SetExt(heap, kHeapExtKeyFocus, 0);
  SetExt(heap, kHeapExtFocusText, 0);
  UHandle saved = SavedFrames(heap);
  SetExt(heap, kHeapExtSavedFrames, 0);
  if (saved && !keepFrames) {
    AZDisposeHandle(saved);
    saved = nullptr;
  }
  return saved;
}

// Ends the focus of an object that let go of it (step 4d of the key handler).
UHandle FocusLetGo(ObjHeap heap, bool keepFrames = false) {
  if (gFocusOnBoolean) FPRedrawDefaultButton(heap);
  gFocusOnBoolean = false;
  const UHandle saved = ClearFocus(heap, keepFrames);
  StatePnlSetTextEntry(heap, 0);
  return saved;
}

// Action 15 (or 45) to the focus object inside its saved frames, laid over
// the stack from a new top through the checked writer; direct sends the
// root's ODoit without the transaction.  A saved path longer than the room
// left is refused (kRefused) after the writer's assertion.
constexpr int32 kRefused = -1;
int32 SendToFocus(ObjHeap heap, int32 action, KeyActionBlock* block, bool direct) {
  void* const previous = TRPushFrame();
  void* const top = TRStackTop();
  if (top == previous) return kRefused;  // the push asserted
  const UHandle saved = SavedFrames(heap);
  const int32 count = saved && *saved ? AZGetHandleSize(saved) / int32(sizeof(TransactionFrame)) : 0;
  const bool laid = count > 0 ? TRWriteFrames(top, reinterpret_cast<const TransactionFrame*>(*saved), count)
                              : TRPutFrame(top, Ext(heap, kHeapExtRoot), kCatFPSC, 2, 0);
  int32 result = kRefused;
  if (laid) {
    result = direct ? OSendMessage<int32>(kMsgODoit, heap, Ext(heap, kHeapExtRoot), top, action, block)
                    : TRSendAction(heap, top, action, block);
  }
  TRSetStackTop(previous);
  return result;
}

KeyActionBlock SyntheticKey(ObjHeap heap, int32 focus, int32 modifiers, int32 keyCode) {
  KeyActionBlock b{};
  b.event.code = weKey;
  b.event.window = WindowRef(Ext(heap, kHeapExtWindow));
  b.event.modifiers = WModifiers(modifiers);
  b.event.character = 0;
  b.event.keyCode = WKeyCode(keyCode);
  b.object = focus;
  return b;
}

bool IsKey(const WEventRecord& e) { return e.code == weKey || e.code == weKeyRepeat; }

// Keys that beep on a selection nobody binds.
bool SelectionBeepKey(const WEventRecord& e) {
  switch (e.keyCode) {
    case vkCut: case vkPaste: case vkClear: case vkDelete: case vkUp: case vkDown: case vkLeft: case vkRight:
      return true;
    case vkAscii:
      return e.character == 127 || e.character == 8;
    default:
      return false;
  }
}

}  // namespace

bool KeyFocusOnBoolean() { return gFocusOnBoolean; }
void SetKeyContainerFlag() { gContainerTookKey = true; }

KeyFocusState PanelKeyFocus(ObjHeap heap) {
  return KeyFocusState{Ext(heap, kHeapExtKeyFocus),
                       reinterpret_cast<UHandle>(uintptr_t(uInt32(Ext(heap, kHeapExtFocusText)))), SavedFrames(heap)};
}

int32 FPHandleKey(WEventRecord* event, ObjHeap heap) {
  gContainerTookKey = false;
  if (!event || !heap || !*heap || ExtOffset(heap) <= 0) return 0;
  KeyActionBlock block{};
  block.event = *event;
  WEventRecord& e = block.event;
  if (IsKey(e)) {
    if (e.character == 9 && e.keyCode == vkAscii) e.keyCode = WKeyCode((e.modifiers & kWModShift) ? kKeyShiftTab : kKeyTab);
    else if (e.keyCode == vkDown && (e.modifiers & 0x20)) e.keyCode = WKeyCode(kKeyCtrlDown);
    else if (e.keyCode == vkUp && (e.modifiers & 0x20)) e.keyCode = WKeyCode(kKeyCtrlUp);
  }
  const int32 bound = KeyBindingTarget(heap, &e);
  const int32 focus = Ext(heap, kHeapExtKeyFocus);
  int32 answer = 0;
  if (focus) {
    if (IsKey(e) && e.keyCode >= kKeyExtra1 && e.keyCode <= kKeyExtra3) {
      e.code = WEventCode(4 + (e.keyCode - kKeyExtra1));
      TRSendAction(heap, nullptr, kActKeyExtra, &block);
      answer = 1;
      goto handled;
    }
    if (DlgSendItemKey(heap, focus, SavedFrames(heap), &block)) {
      answer = 1;
      goto handled;
    }
    const int32 oldText = Ext(heap, kHeapExtFocusText);
    answer = SendToFocus(heap, kActKeyOrText, &block, false);
    if (answer == kRefused) {
      answer = 0;
      goto handled;
    }
    const bool letGo = !(answer & 1);
    const UHandle frames = letGo ? FocusLetGo(heap, true) : nullptr;
    DlgSendItemChange(heap, focus, answer, kActKeyOrText, &block);
    if (letGo && Ext(heap, kHeapExtDialogFilter) && !(OwnerFlags2(heap) & kVIFlags2OwnerMode) && bound &&
        block.event.keyCode == kKeyReadBack && answer) {
      answer = 1;
      SetExt(heap, kHeapExtKeyFocus, focus);
      SetExt(heap, kHeapExtFocusText, oldText);
      SetExt(heap, kHeapExtSavedFrames, int32(uintptr_t(frames)));
    } else if (frames) {
      AZDisposeHandle(frames);
    }
  } else {
    const bool selected = FPSelectionCount(heap) > 0;
    if (selected && IsKey(e) && SelectionBeepKey(e) && !bound) {
      WBeep();
      goto handled;
    }
    void* previous = nullptr;
    if (TRPushRootPath(heap, &previous)) goto handled;
    block.object = selected ? -1 : ((e.modifiers & kWModShift) ? 0x7FFFFFFF : 0);
    block.start = 0;
    block.end = 0x7FFFFFFF;
    if (!DlgSendItemKey(heap, 0, nullptr, &block)) {
      answer = TRSendAction(heap, TRStackTop(), kActKeyOrText, &block);
      DlgSendItemChange(heap, 0, answer, kActKeyOrText, &block);
    }
    TRSetStackTop(previous);
  }
  if (answer & 0x480) PanelInvalBounds(heap);
  if (answer & 0x10) {
    MemFullAlert(0, 7);
    answer = 0;
  }
handled:
  if (!gContainerTookKey) WMarkMsgHandled();
  return answer != 0;
}

int32 FPSendTextOperation(ObjHeap heap, int32 keyCode, TRecord text) {
  const int32 focus = Ext(heap, kHeapExtKeyFocus);
  if (!focus) return 0;
  KeyActionBlock block = SyntheticKey(heap, focus, 0, keyCode);
  reinterpret_cast<ActionParams*>(&block)->text = reinterpret_cast<UHandle>(text);
  // Inside the panel's own transaction (a data command of its root) the
  // root is sent the action directly.
  const UHandle vi = Owner(heap);
  const bool direct = vi && *vi && (VIRec(vi)->flags & kVIFlagInTransaction);
  const int32 answer = SendToFocus(heap, kActKeyOrText, &block, direct);
  if (answer == kRefused) return 0;
  DlgSendItemChange(heap, focus, answer, kActKeyOrText, &block);
  if (!(answer & 1)) FocusLetGo(heap);
  return answer;
}

MgErr FPCommitKeyFocus(ObjHeap heap) {
  const int32 focus = Ext(heap, kHeapExtKeyFocus);
  if (!focus) return kNoErr;
  WPortState port{};
  Rect clip{};
  FPBeginWindowPart(heap, 0, &port, &clip);
  KeyActionBlock block = SyntheticKey(heap, focus, 0x400, vkEnter);
  const UHandle vi = Owner(heap);
  const bool direct = vi && *vi && (VIRec(vi)->flags & kVIFlagInTransaction);
  const int32 answer = SendToFocus(heap, kActKeyOrText, &block, direct);
  // A refused commit leaves the focus as it is.
  if (answer != kRefused && !(answer & 1)) FocusLetGo(heap);
  DlgSendItemChange(heap, focus, answer == kRefused ? 0 : answer, kActKeyOrText, &block);
  FPEndWindowPart(heap, &port, &clip);
  return kNoErr;
}

MgErr FPReleaseKeyFocus(ObjHeap heap) {
  if (!heap || !*heap) return kNoErr;
  const int32 focus = Ext(heap, kHeapExtKeyFocus);
  const UHandle vi = Owner(heap);
  if (!focus) {
    if ((OwnerFlags2(heap) & kVIFlags2OutsideText) && IsFrontPanel(heap) && PanelShell().deactivateOutsideText) {
      WPortState port{};
      Rect clip{};
      FPBeginWindowPart(heap, 8, &port, &clip);
      PanelShell().deactivateOutsideText(vi);
      FPEndWindowPart(heap, &port, &clip);
    }
    return kNoErr;
  }
  WPortState port{};
  Rect clip{};
  FPBeginWindowPart(heap, 0, &port, &clip);
  if (OwnerFlags2(heap) & kVIFlags2Confirm) DBAssert(kSource, __LINE__, "the key focus released in confirm mode");
  KeyActionBlock block = SyntheticKey(heap, focus, 0, kKeyRelease);
  const bool direct = vi && *vi && (VIRec(vi)->flags & kVIFlagInTransaction);
  int32 answer = SendToFocus(heap, kActKeyOrText, &block, direct);
  if (answer == kRefused) answer = 0;
  if (answer & 1) DBAssert(kSource, __LINE__, "the focus object kept the focus on release");
  FocusLetGo(heap);
  DlgSendItemChange(heap, focus, answer, kActKeyOrText, &block);
  FPEndWindowPart(heap, &port, &clip);
  return kNoErr;
}

MgErr FPKeyFocusUpdate(ObjHeap heap, int32 object, int32 textEntry, void* text) {
  if (!object) {
    DBAssert(kSource, __LINE__, "the key focus moved to no object");
    return kArgErr;
  }
  if (!heap || !*heap || ExtOffset(heap) <= 0) return kArgErr;
  const int32 focus = Ext(heap, kHeapExtKeyFocus);
  if (((OwnerFlags2(heap) & kVIFlags2OutsideText) && !focus) || (focus && focus != object)) FPReleaseKeyFocus(heap);
  SetExt(heap, kHeapExtKeyFocus, object);
  SetExt(heap, kHeapExtFocusText, int32(uintptr_t(text)));
  if (textEntry) StatePnlSetTextEntry(heap, 1);
  // The frames from the current top up to and including the path's end.
  int32 count = 0;
  auto* top = static_cast<const TransactionFrame*>(TRStackTop());
  const auto* end = reinterpret_cast<const TransactionFrame*>(TRStackBlock() + kTransactionStackBytes);
  if (top) {
    while (top + count < end && top[count].kind != 0) ++count;
    if (top + count < end) ++count;
  }
  UHandle saved = SavedFrames(heap);
  MgErr err = kNoErr;
  const int32 bytes = count * int32(sizeof(TransactionFrame));
  if (saved) {
    err = AZSetHandleSize(saved, bytes);
  } else if (!(saved = AZNewHandle(bytes))) {
    err = kMemFullErr;
  } else {
    SetExt(heap, kHeapExtSavedFrames, int32(uintptr_t(saved)));
  }
  if (err) {
    ClearFocus(heap);
    if (textEntry) StatePnlSetTextEntry(heap, 0);
    return err;
  }
  if (bytes) std::memcpy(*saved, top, size_t(bytes));
  if (IsFrontPanel(heap)) {
    const bool isBoolean = ObjIsA(heap, object, kClsBoolean) != 0;
    if (isBoolean || gFocusOnBoolean) FPRedrawDefaultButton(heap);
    gFocusOnBoolean = isBoolean;
  }
  return kNoErr;
}

void FPRedrawDefaultButton(ObjHeap heap) {
  int32 button = 0;
  DlgGetKeyNavItem(heap, 0, &button);
  if (!button || !ObjIsA(heap, button, kClsBoolean)) return;
  OInval(heap, button, 2);
  if (const WindowRef window = WindowRef(Ext(heap, kHeapExtWindow))) {
    Rect r;
    std::memcpy(&r, *heap + button + kObjBounds, sizeof r);
    ++r.right;
    ++r.bottom;
    WInvalRect(window, &r);
  }
}

void FPBeginWindowPart(ObjHeap heap, int32 area, WPortState* savedPort, Rect* savedClip) {
  Rect r{0, 0, 0, 0};
  const WindowRef window = WindowRef(Ext(heap, kHeapExtWindow));
  switch (area) {
    case 0: {
      const int32 root = Ext(heap, kHeapExtRoot);
      if (root && window) OGetRect(heap, root, &r, 0);
      break;
    }
    case 1: case 2: case 4: case 8: case 16:
      if (!PanelShell().windowPartRect || !PanelShell().windowPartRect(heap, area, &r)) r = Rect{0, 0, 0, 0};
      break;
    default:
      DBAssert(kSource, __LINE__, "a drawing bracket for an unknown window area");
      break;
  }
  if (!window || !savedPort) return;
  WSetup(window, savedPort);
  WSetClipRect(&r, savedClip);
}

void FPEndWindowPart(ObjHeap heap, const WPortState* savedPort, const Rect* savedClip) {
  if (!savedPort || !savedClip) {
    DBAssert(kSource, __LINE__, "a drawing bracket ended without its saved state");
    return;
  }
  if (!WindowRef(Ext(heap, kHeapExtWindow))) return;
  WRestoreClip(savedClip);
  WRestore(savedPort);
}
