// The click of a panel's root, and the click and do-it shared by all data
// display objects, of data controllers and of the connector pane: the root
// finds the front-most object under the mouse, a data display object its
// part, and each writes its frame of the path; the do-it follows the path
// down to the part or the object that is the target.
#include <cstring>

#include "engine/exec/dsprocs.h"
#include "engine/exec/runcmd.h"
#include "engine/typemgr.h"
#include "engine/vi/panelroutines.h"
#include "engine/vi/viinst.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/printf.h"
#include "mgsource/rects.h"
#include "mgsource/window/textedit.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/wevent.h"
#include "mgsource/window/window.h"
#include "panel/attrcall.h"
#include "panel/datageom.h"
#include "panel/methsupport.h"
#include "panel/oinval.h"
#include "panel/osupport.h"
#include "panel/trinsert.h"
#include "panel/ctrdoit.h"
#include "platform/qx_sysinfo.h"
#include "panel/dataxfer.h"
#include "panel/fppanel.h"
#include "panel/operate.h"

#include "panel/editmsg.h"
#include "panel/rangecheck.h"
#include "panel/operate_internal.h"

namespace {

using namespace opmeth;

const char kSource[] = "operate";

constexpr int32 kLevelPart = 0, kLevelChild = 1, kLevelTarget = 2, kLevelController = 3;
constexpr int32 kRootItemWord = 10;  // the controllers of a panel, the elements of a container
constexpr int32 kModifierShift = 0x2;
constexpr int32 kDCOWrapped = 5;
constexpr int16 kPartLabel = 16, kPartCaption = 82;
constexpr uInt32 kFlagsDisabled = 0x80 | 0x200;
constexpr int32 kReplyCheckedBits = 0xCC426;
constexpr int16 kVIKindStandard = 1;
constexpr int32 kActCtrlOp = 27;
constexpr uInt32 kPathTagPart32 = 0xFFFFFFFFu;
enum : int32 { kKeyEnter = 2, kKeyCopy = 31, kKeyRevert = 33, kKeyReset = 43 };

int32 gInsideControl = 0;
Rect gLastChangedPart{};
PictureUnderMouseRecord gPicture{};
bool gPictureClaimed = false;
constexpr int32 kTypeDefGlyph = kPartIdTypeDefControl;
constexpr uInt32 kGrouperLocked = 0x10000;

bool FrontPanelHeap(ObjHeap heap) { return OHWord(heap, kOHKind) == kPanelHeapKind; }
bool DialogPanel(ObjHeap heap) {
  return ExtWord(heap, kHeapExtDialogFilter) && !(OwnerMode(heap) & kVIFlags2OwnerMode);
}
void EndAt(TransactionFrame* frame, int32 object, uInt32 kind) {
  *frame = TransactionFrame{object, kind, kLevelTarget, 0};
  frame[1].kind = 0;
}

// The checked count of an offset list: -1 (reported) when it does not fit
// its block.
int32 ListCount(ObjHeap heap, int32 list) {
  if (!list) return 0;
  int32 usable = 0, cls = 0;
  const int32 n = OHUsedBlockRead(heap, list, &usable, &cls) ? ObjListCountSized(heap, list, usable) : -1;
  if (n < 0 || 4 + int64(4) * n > usable) {
    DBAssert(kSource, __LINE__, "an object list that does not fit its block");
    return -1;
  }
  return n;
}

bool IsPanelLevelAction(int32 action) {
  switch (action) {
    case 21: case 24: case 25: case 26: case 32: case 55: case 60: return true;
    default: return false;
  }
}

int32 Click(ObjHeap heap, int32 object, TransactionState* click, TransactionFrame* frame, ActionParams* p) {
  return OSendMessage<int32>(kMsgOClick, heap, object, click, frame, p);
}
int32 Doit(ObjHeap heap, int32 object, TransactionFrame* frame, int32 action, ActionParams* p) {
  return OSendMessage<int32>(kMsgODoit, heap, object, frame, action, p);
}

// A part sent the click or action with the globals of the walk: the
// glyph of a linked type definition records it as the enclosing one (when
// none is), any other part the control it is inside; both come back after.
template <typename Send>
int32 ThroughPart(ObjHeap heap, int32 object, int32 part, Send send) {
  const int32 outerControl = gInsideControl, outerTypeDef = EnclosingTypeDef();
  if (PartIdOf(heap, part) == kTypeDefGlyph) {
    if (ObjClass(heap, object) == kClsTypeDefinition && !outerTypeDef &&
        OHBlockSize(heap, object) >= 4 * (kTypeDefLinkWord + 1) && ObjWord(heap, object, kTypeDefLinkWord))
      SetEnclosingTypeDef(object);
  } else {
    gInsideControl = object;
  }
  const int32 answer = send();
  gInsideControl = outerControl;
  SetEnclosingTypeDef(outerTypeDef);
  return answer;
}

int32 StandardCursor(ActionParams* p, int32 region) {
  CursorOf(p)->cursor = kCursorStandard;
  CursorOf(p)->region = region;
  return kClickCursorAnswer;
}

// The parts front to back until one answers: its position in the frame,
// its id and order in the record (only a non-zero id when asked).
int32 WalkParts(ObjHeap heap, int32 object, int32 list, int32 n, TransactionState* click, TransactionFrame* frame,
                ActionParams* p, bool nonZeroIds) {
  int32 answer = 0;
  for (int32 i = 0; i < n && !answer; ++i) {
    const int32 part = ObjListGet(heap, list, i);
    if (!IsObject(heap, part)) continue;
    frame->index = i;
    answer = ThroughPart(heap, object, part, [&] { return Click(heap, part, click, frame + 1, p); });
    if (answer && IsObject(heap, part) && (!nonZeroIds || PartIdOf(heap, part) != 0)) {
      p->partId = PartIdOf(heap, part);
      p->partOrder = ObjInt16(heap, part, kObjPartOrder);
    }
  }
  return answer;
}

// A press on a label or caption of a front panel does not operate it,
// except on a standard VI's controls.
bool LabelPartRefused(ObjHeap heap, int32 object, int32 part) {
  if ((part != kPartLabel && part != kPartCaption) || !FrontPanelHeap(heap)) return false;
  const UHandle vi = PanelHeapOwner(heap);
  const int32 owner = ObjWord(heap, object, kObjOwner / 4);
  const bool standard = vi && *vi && VIRec(vi)->viKind == kVIKindStandard && IsObject(heap, owner) &&
                        ObjClass(heap, owner) == kClsFPDataController;
  return !standard;
}

int32 RootWalk(ObjHeap heap, int32 root, TransactionState* click, TransactionFrame* frame, ActionParams* p);

bool KeyEvent(const ActionParams* p) { return p->eventCode == kSubKeyDown || p->eventCode == kSubKeyRepeat; }

int32 DropHighlight(ObjHeap heap, int32 object) {
  if (Flags(heap, object) & kObjFlagHighlight) {
    ObjSetWord(heap, object, 0, int32(Flags(heap, object) & ~kObjFlagHighlight));
    OInval(heap, object, kInvalFrame);
  }
  return 0;
}

// A key at the object itself: Tab, Shift+Tab and the read-back keys move
// the key focus onto it or pass it on.
int32 TargetKey(ObjHeap heap, int32 object, ActionParams* p) {
  p->partId = p->partOrder = 0;
  const int32 key = p->keyCode;
  const bool holds = int32(ExtWord(heap, kHeapExtKeyFocus)) == object;
  if (key == kKeyTab || key == kKeyShiftTab || key == kKeyReadBack || key == kKeyReset) {
    const uInt32 flags = Flags(heap, object);
    const bool tab = key == kKeyTab || key == kKeyShiftTab;
    if (!ObjClickOperates(heap, object) || (flags & kOpFlagHiddenOrDisabled) || (tab && (flags & 0x2000)) || holds) {
      if (!tab) return holds ? 1 : 0;
      if (holds) DropHighlight(heap, object);
      return kReplyPassFocus;
    }
    const bool took = FPKeyFocusUpdate(heap, object, 0, nullptr) == kNoErr;
    if (took) ObjSetWord(heap, object, 0, int32(Flags(heap, object) | kObjFlagHighlight));
    OInval(heap, object, kInvalFrame);
    return took ? 1 : 0;
  }
  if (key == kKeyRelease || (key == kKeyEnter && !DialogPanel(heap))) return DropHighlight(heap, object);
  if (key == kKeyCtrlUp) return 0x100801;
  return 1;
}

}  // namespace

void SetInsideControl(int32 object) { gInsideControl = object; }
int32 InsideControl() { return gInsideControl; }
Rect LastChangedPartRect() { return gLastChangedPart; }

// ---- The panel root ----------------------------------------------------------------------
int32 PanelOClickMethod(ObjHeap heap, int32 root, TransactionState* click, TransactionFrame* frame,
                        ActionParams* p) {
  if (!IsObject(heap, root) || !click || !p || !OnStack(frame, 3)) return kClickNotHit;
  *frame = TransactionFrame{root, kCatFPSC, kLevelChild, 0};
  gPictureClaimed = false;
  const int32 answer = RootWalk(heap, root, click, frame, p);
  if (!gPictureClaimed) gPicture.heap = nullptr, gPicture.object = 0;
  return answer;
}

PictureUnderMouseRecord PictureUnderMouse() { return gPicture; }

namespace {
int32 RootWalk(ObjHeap heap, int32 root, TransactionState* click, TransactionFrame* frame, ActionParams* p) {
  const int32 list = ObjWord(heap, root, kRootObjectListWord);
  if (!list) DBAssert(kSource, __LINE__, "a panel without its object list");
  int32 answer = 0;
  for (int32 i = 0, n = ListCount(heap, list); i < n && !answer; ++i) {
    const int32 child = ObjListGet(heap, list, i);
    if (!IsObject(heap, child)) continue;
    frame->index = i;
    answer = Click(heap, child, click, frame + 1, p);
  }
  const int32 mode = click->mode;
  if (answer == kClickRecordOwner) {
    // No container inside recorded itself: the panel is the destination,
    // with its window's rectangle.
    RecordOwnerWords* rec = RecordOf(p);
    if (!rec->owner) {
      rec->owner = int32(uintptr_t(heap));
      if (rec->flags & kRecordWantsRect) rec->flags |= kRecordHasRect;
      Rect r{0, 0, 0, 0};
      if (const uInt32 window = ExtWord(heap, kHeapExtWindow)) WGetRect(WindowRef(window), &r);
      rec->rect = r;
    }
    return kClickRecordOwner;
  }
  const DRgn region = (mode & 1) && PanelShell().panelGetRgn ? PanelShell().panelGetRgn(heap, root) : DRgn(0);
  if (answer == 1 && (mode & 1)) return StandardCursor(p, int32(region));
  if (answer) return answer;
  EndAt(frame, root, kCatFPSC);
  if (mode & 1) {
    const Rect none{0, 0, 0, 0};
    CursorOf(p)->rect = none;
    return StandardCursor(p, int32(region));
  }
  return kClickAbsorbed;
}
}  // namespace

// ---- Data display objects ----------------------------------------------------------------
// A drag over a selected object that the drag support can take (items of
// panel objects in a heap, or of a system drag): the object itself takes it
// with part 0, so that the drop does not land on one of its parts.
namespace {
bool SelectedDropOver(ObjHeap heap, int32 object, const ActionParams* p) {
  DataXferRec rec;
  std::memcpy(&rec, &p->eventCode, sizeof rec);
  const bool acceptable = rec.count > 0 && ((rec.kind & kDataXferObjKind) ? rec.heap != nullptr : rec.drag != nullptr);
  return acceptable && FPIsSelected(heap, object);
}
}  // namespace

int32 DDOOClickMethod(ObjHeap heap, int32 object, TransactionState* click, TransactionFrame* frame,
                      ActionParams* p) {
  if (!IsObject(heap, object) || !click || !p || !OnStack(frame, 3)) return kClickNotHit;
  const uInt32 flags = Flags(heap, object);
  const Point point = PointOf(click->point);
  const Rect bounds = BoundsOf(heap, object);
  if ((flags & kObjFlagHidden) || !DPtInRect(point, &bounds)) return kClickNotHit;
  const int32 mode = click->mode;
  const bool disabled = (flags & kFlagsDisabled) && !(OwnerMode(heap) & kVIFlags2OwnerMode);
  if (disabled && !(mode & 1)) {
    EndAt(frame, object, kCatDDO);
    p->partId = p->partOrder = 0;
    return kClickAbsorbed;
  }
  *frame = TransactionFrame{object, kCatDDO, kLevelPart, 0};
  if (mode == kClickDropTest && SelectedDropOver(heap, object, p)) {
    EndAt(frame, object, kCatDDO);
    p->partId = p->partOrder = 0;
    return kClickAbsorbed;
  }
  const int32 list = ObjWord(heap, object, kObjPartList / 4);
  const int32 n = ListCount(heap, list);
  int32 answer = 0;
  if (n <= 0) {
    if (mode & 1) return StandardCursor(p, 0);
    answer = kClickAbsorbed;
  }
  // A type definition is the tip target as soon as the mouse is over it;
  // other objects only where one of their parts answers.
  const bool typeDef = ObjClass(heap, object) == kClsTypeDefinition;
  if (typeDef) TipStripSetTarget(heap, object, 0);
  answer = answer ? answer : WalkParts(heap, object, list, n, click, frame, p, false);
  if (!answer) return kClickNotHit;
  if (!typeDef) TipStripSetTarget(heap, object, n > 0 ? p->partId : 0);
  if (disabled) return kClickAbsorbed;
  const int32 part = n > 0 ? p->partId : 0;
  const bool operates = ObjClickOperates(heap, object) != 0;
  switch (answer) {
    case kClickAbsorbed:
      EndAt(frame, object, kCatDDO);
      if (mode == kClickPopup && !(flags & kOpFlagNoPopup)) {
        p->eventCode = int32(kCatDDO);
        OPopup(heap, object, p);
        return kClickPopupReady;
      }
      return kClickAbsorbed;
    case kClickTrack:
      if (!operates && !IsOperatePartId(part)) return kClickAbsorbed;
      if (part != kPartIdTypeDefControl) p->dragObject = object;
      return kClickTrack;
    case kClickOperate:
      if (!operates && !IsIndicatorPartOperable(part)) return kClickAbsorbed;
      if (mode == kClickPress && LabelPartRefused(heap, object, part)) return kClickAbsorbed;
      if (DialogPanel(heap) && operates && IsTextFocusClass(heap, object)) {
        EndAt(frame, object, kCatDDO);
        p->focusObject = object;
      }
      return kClickOperate;
    default:
      break;
  }
  if (answer == kClickCursorAnswer && (mode == kClickCursor || mode == kClickLabelCursor) && !operates &&
      !IsIndicatorPartOperable(part))
    return StandardCursor(p, CursorOf(p)->region);
  if (mode == kClickCursor && LabelPartRefused(heap, object, part)) return StandardCursor(p, 0);
  return answer;
}

namespace {
// A data display object's frame names it: a property path names a part 32 by
// the tag -1 instead of its category.
inline void CheckFrameNames(const TransactionFrame* frame, int32 object) {
  if (frame->object != object || (frame->kind != kCatDDO && frame->kind != kPathTagPart32))
    DBAssert(kSource, __LINE__, "the frame does not name the data display object");
}
}  // namespace

int32 DDOODoitMethod(ObjHeap heap, int32 object, TransactionFrame* frame, int32 action, ActionParams* p) {
  if (IsPanelLevelAction(action)) return 0;
  if (!IsObject(heap, object) || !p || !OnStack(frame, 2)) {
    DBAssert(kSource, __LINE__, "a data display action without its frame");
    return 0;
  }
  // A level above the object (a container's child or cell) asks nothing of
  // this level.
  if (frame->mode != kLevelPart && frame->mode != kLevelTarget) {
    CheckFrameNames(frame, object);
    return 0;
  }
  return DDOODoitChecked(heap, object, frame, action, p);
}

int32 DDOODoitChecked(ObjHeap heap, int32 object, TransactionFrame* frame, int32 action, ActionParams* p) {
  CheckFrameNames(frame, object);
  if (frame->mode == kLevelPart) {
    const int32 list = ObjWord(heap, object, kObjPartList / 4);
    const int32 n = ListCount(heap, list);
    if (frame->index < 0 || frame->index >= n) {
      DBAssert(kSource, __LINE__, "a frame index outside the part list");
      return 0;
    }
    const int32 part = ObjListGet(heap, list, frame->index);
    if (!IsObject(heap, part)) return 0;
    const int16 id = PartIdOf(heap, part);
    if (!ObjClickOperates(heap, object) && action == kActOperate && KeyEvent(p) && p->keyCode != kKeyEnter &&
        p->keyCode != kKeyCopy && p->keyCode != kKeyRevert && p->keyCode != kKeyRelease && !IsKeyPart(id))
      return 1;
    int32 reply = ThroughPart(heap, object, part, [&] { return Doit(heap, part, frame + 1, action, p); });
    const bool still = IsObject(heap, part) && ObjListGet(heap, ObjWord(heap, object, kObjPartList / 4),
                                                          frame->index) == part;
    if (still && (reply & kReplyRedraw)) gLastChangedPart = BoundsOf(heap, part);
    p->partId = id;
    p->partOrder = still ? ObjInt16(heap, part, kObjPartOrder) : 0;
    if (reply & kReplyFailed) return reply;
    reply = DDOCheckReply(heap, object, still ? part : 0, id, reply);
    // A property call's record holds no colours: its colour replies were
    // carried out by the property itself.
    if (still && (reply & kReplyModified) && action != kActCtrlOp)
      OColorChange(heap, object, int32(id), p->partOrder, p->window, p->localPoint, p->eventCode);
    return reply;
  }
  if (frame->mode != kLevelTarget) return 0;
  int32 reply = 0;
  if (action == kActPopupChoice) {
    reply = OPopup(heap, object, p);
  } else if (action == kActOperate && KeyEvent(p)) {
    reply = TargetKey(heap, object, p);
  } else if (action == kActCtrlOp) {
    // The record is a property call's (AttrCallRec): its selector is word 7.
    const int32 selector = reinterpret_cast<const int32*>(p)[7];
    p->partId = p->partOrder = 0;
    // The caller checked the object and nothing has changed the heap since.
    const uInt32 layout = OHLayoutChanges();
    reply = OCtrlOpChecked(heap, object, reinterpret_cast<AttrCallRec*>(p));
    char line[200];
    if (reply & kReplyCheckedBits) {
      SPrintf(line, "bad return val for %lx^+%lx with args %lx(idx%ld)--returned %lx", long(uintptr_t(heap)),
              long(object), long(uintptr_t(p)), long(selector), long(reply));
      DBPrintf("%s", line);
      DBAssert(kSource, __LINE__, "a control operation answered reserved bits");
    }
    if (!((p->partId >= 0 && p->partId <= 83) || (p->partId >= 8001 && p->partId <= 8015))) {
      SPrintf(line, "bad partID for %lx^+%lx with idx %ld -- partID %ld partOrd %ld", long(uintptr_t(heap)),
              long(object), long(selector), long(p->partId), long(p->partOrder));
      DBPrintf("%s", line);
    }
    // No block's layout changed since the caller checked the object: its
    // header still passes, and is read without the checks.
    if (OHLayoutSame(layout)) {
      int32 usable = 0, cls = 0;
      OHUsedBlockFacts(heap, object, &usable, &cls);
      return DDOCheckReplyChecked(heap, object, usable, cls, p->partId, reply);
    }
  }
  return DDOCheckReply(heap, object, 0, p->partId, reply);
}

// ---- Data controllers and the connector pane -------------------------------------------------
int32 DCOOClickMethod(ObjHeap heap, int32 dco, TransactionState* click, TransactionFrame* frame, ActionParams* p) {
  if (!IsObject(heap, dco) || !click || !p || !OnStack(frame, 3) || OHBlockSize(heap, dco) < 4 * (kDCOWrapped + 1))
    return kClickNotHit;
  const int32 wrapped = ObjWord(heap, dco, kDCOWrapped);
  if (!IsObject(heap, wrapped)) return kClickNotHit;
  *frame = TransactionFrame{dco, kCatDCO, kLevelPart, 0};
  const int32 answer = Click(heap, wrapped, click, frame + 1, p);
  if (answer == kClickPopupReady && uInt32(p->eventCode) == kCatDDO) OPopup(heap, dco, p);
  return answer;
}

int32 DCOODoitMethod(ObjHeap heap, int32 dco, TransactionFrame* frame, int32 action, ActionParams* p) {
  if (IsPanelLevelAction(action) || !IsObject(heap, dco) || !p || !OnStack(frame, 2) ||
      OHBlockSize(heap, dco) < 4 * (kDCOWrapped + 1))
    return 0;
  const int32 wrapped = ObjWord(heap, dco, kDCOWrapped);
  if (!IsObject(heap, wrapped)) return 0;
  int32 reply = Doit(heap, wrapped, frame + 1, action, p);
  if (reply & kReplyFailed) return reply;
  if (!reply && action == kActPopupChoice && uInt32(p->eventCode) == kCatDDO) reply = OPopup(heap, dco, p);
  return reply ? DDOCheckReplyRange(heap, dco, nullptr, reply) : 0;
}

int32 ConnPaneOClickMethod(ObjHeap, int32, TransactionState*, TransactionFrame*, ActionParams*) { return 0; }
int32 ConnPaneODoitMethod(ObjHeap, int32 pane, TransactionFrame* frame, int32 action, ActionParams*) {
  if (IsPanelLevelAction(action)) return 0;
  if (!OnStack(frame, 1) || frame->object != pane || frame->kind != uInt32(kClsConnectorPane))
    DBAssert(kSource, __LINE__, "the frame does not name the connector pane");
  return 0;
}

// ---- Tab order ----------------------------------------------------------------------------------
int32 FPNextKeyFocus(ObjHeap heap, TransactionFrame* frame, ActionParams* p) {
  if (!heap || !*heap || !p || !OnStack(frame, 4) || !IsObject(heap, frame->object)) return 0;
  if (p->keyCode == kKeyReadBack || p->keyCode == kKeyReset) return 0;
  const int32 owner = frame->object;
  const bool panel = ObjClass(heap, owner) == kClsFrontPanel;
  const int32 list = OHBlockSize(heap, owner) >= 4 * (kRootItemWord + 1) ? ObjWord(heap, owner, kRootItemWord) : 0;
  const int32 n = ListCount(heap, list);
  if (n <= 0) return 0;
  uInt32 kind = frame[1].kind;
  int32 start = frame->index;
  if (panel && frame->mode == kLevelChild) {
    // The controller that holds the object the frame names.
    const int32 objects = ObjWord(heap, owner, kRootObjectListWord);
    const int32 count = ListCount(heap, objects);
    const int32 child = start >= 0 && start < count ? ObjListGet(heap, objects, start) : 0;
    start = -1;
    for (int32 i = 0; i < n && start < 0; ++i)
      if (child && ObjListGet(heap, list, i) == child) start = i;
    if (start < 0) return 0;
    frame->mode = kLevelController;
    if (ObjClass(heap, child) == kClsFPDataController) kind = kCatDCO;
  }
  if (start < 0 || start >= n) start = p->modifiers & kModifierShift ? 0 : n - 1;
  const int32 step = p->modifiers & kModifierShift ? n - 1 : 1;
  int32 reply = 0;
  for (int32 i = (start + step) % n, walked = 0; walked < n; i = (i + step) % n, ++walked) {
    if (n > 1 && i == start) break;
    FPReleaseKeyFocus(heap);
    p->selStart = 0;
    p->selEnd = 0x7FFFFFFF;
    const int32 item = ObjListGet(heap, list, i);
    if (!IsObject(heap, item)) continue;
    frame->index = i;
    if (panel) {
      const int32 shown = OHBlockSize(heap, item) >= 4 * (kDCOWrapped + 1) ? ObjWord(heap, item, kDCOWrapped) : 0;
      frame[1] = TransactionFrame{item, kind ? kind : kCatDCO, kLevelPart, 0};
      frame[2] = TransactionFrame{shown, kCatDDO, kLevelTarget, 0};
      frame[3].kind = 0;
    } else {
      EndAt(frame + 1, item, kCatDDO);
    }
    reply = Doit(heap, item, frame + 1, kActOperate, p);
    if (!(reply & kReplyPassFocus)) break;
  }
  return n == 1 ? reply : 0;
}

// ---- Pictures, type definitions and groupers -------------------------------------------------
int32 PictureOClickMethod(ObjHeap heap, int32 picture, TransactionState* click, TransactionFrame* frame,
                          ActionParams* p) {
  const int32 answer = DDOOClickMethod(heap, picture, click, frame, p);
  if (answer != kClickAbsorbed && answer != kClickCursorAnswer) return answer;
  const Point point = PointOf(click->point);
  gPicture = PictureUnderMouseRecord{point, click->modifiers, heap, picture};
  gPictureClaimed = true;
  if (answer == kClickCursorAnswer) CursorOf(p)->rect = Rect{point.v, point.h, int16(point.v + 1), int16(point.h + 1)};
  return answer;
}

int32 TypeDefOClickMethod(ObjHeap heap, int32 typeDef, TransactionState* click, TransactionFrame* frame,
                          ActionParams* p) {
  const int32 answer = DDOOClickMethod(heap, typeDef, click, frame, p);
  if (answer == kClickPopupReady && p->partId == kTypeDefGlyph && uInt32(p->eventCode) == kCatDDO)
    OPopup(heap, typeDef, p);
  return answer;
}

int32 GrouperOClickMethod(ObjHeap heap, int32 grouper, TransactionState* click, TransactionFrame* frame,
                          ActionParams* p) {
  if (!IsObject(heap, grouper) || !click || !p || !OnStack(frame, 3)) return kClickNotHit;
  const uInt32 flags = Flags(heap, grouper);
  const Rect bounds = BoundsOf(heap, grouper);
  if ((flags & kObjFlagHidden) || !DPtInRect(PointOf(click->point), &bounds)) return kClickNotHit;
  *frame = TransactionFrame{grouper, kCatDDO, kLevelPart, 0};
  if (click->mode == kClickDropTest && SelectedDropOver(heap, grouper, p)) {
    EndAt(frame, grouper, kCatDDO);
    return kClickAbsorbed;
  }
  const int32 list = ObjWord(heap, grouper, kObjPartList / 4);
  const int32 answer = WalkParts(heap, grouper, list, ListCount(heap, list), click, frame, p, true);
  if (answer == 1 || answer == 11 || answer == 12 || answer == kClickPopupReady) EndAt(frame, grouper, kCatDDO);
  if (answer == kClickAbsorbed && click->mode == kClickPopup) {
    if (flags & kGrouperLocked) return 3;
    if (!(flags & kOpFlagNoPopup)) {
      p->eventCode = int32(kCatDDO);
      OPopup(heap, grouper, p);
      return kClickPopupReady;
    }
  }
  return answer;
}

int32 GrouperODoitMethod(ObjHeap heap, int32 grouper, TransactionFrame* frame, int32 action, ActionParams* p) {
  if (IsPanelLevelAction(action) || !IsObject(heap, grouper) || !p || !OnStack(frame, 2)) return 0;
  if (frame->mode == kLevelTarget) {
    const int32 reply = action == kActPopupChoice ? OPopup(heap, grouper, p) : 0;
    return DDOCheckReply(heap, grouper, 0, p->partId, reply);
  }
  if (frame->mode != kLevelPart) return 0;
  const int32 list = ObjWord(heap, grouper, kObjPartList / 4);
  if (frame->index < 0 || frame->index >= ListCount(heap, list)) {
    DBAssert(kSource, __LINE__, "a frame index outside the part list");
    return 0;
  }
  const int32 part = ObjListGet(heap, list, frame->index);
  if (!IsObject(heap, part)) return 0;
  const int32 reply = Doit(heap, part, frame + 1, action, p);
  if (!IsObject(heap, part)) return reply;
  const int16 id = PartIdOf(heap, part);
  if (id != 0) {
    p->partId = id;
    p->partOrder = ObjInt16(heap, part, kObjPartOrder);
  }
  return reply & kReplyFailed ? reply : DDOCheckReply(heap, grouper, part, id, reply);
}

// ---- User items of dialogs ----------------------------------------------------------------------
namespace {
constexpr WEventCode kWEvUserItemClick = 33, kWEvUserItemAction = 34;

// Sends the item's event to the dialog's window: the item number (its
// controller's position in the panel's controller list, plus 1), its
// bounds, the answer, the frame, the record and the last word; the answer
// the handler leaves in the event.
int32 SendItemEvent(ObjHeap heap, int32 item, WEventCode code, int32 answer, void* frame, ActionParams* p,
                    int32 last) {
  const WindowRef window = WindowRef(ExtWord(heap, kHeapExtWindow));
  if (!ExtWord(heap, kHeapExtDialogFilter) || !window) return answer;
  const int32 root = int32(ExtWord(heap, kHeapExtRoot));
  const int32 list = IsObject(heap, root) && OHBlockSize(heap, root) >= 4 * (kRootItemWord + 1)
                         ? ObjWord(heap, root, kRootItemWord)
                         : 0;
  const int32 owner = ObjWord(heap, item, kObjOwner / 4);
  int32 number = 0;
  for (int32 i = 0, n = ListCount(heap, list); i < n && !number; ++i)
    if (owner && ObjListGet(heap, list, i) == owner) number = i + 1;
  WEventRecord e{};
  e.code = code;
  e.window = window;
  e.where = number;
  std::memcpy(&e.globalWhere, *heap + item + kObjBounds, 8);
  e.character = answer;
  e.keyCode = WKeyCode(uInt32(uintptr_t(frame)));
  e.data[0] = int32(uInt32(uintptr_t(p)));
  e.data[1] = last;
  WSendEvent(&e);
  return e.character;
}
}  // namespace

int32 UserItemOClickMethod(ObjHeap heap, int32 item, TransactionState* click, TransactionFrame* frame,
                           ActionParams* p) {
  const int32 answer = DDOOClickMethod(heap, item, click, frame, p);
  if (!answer) return answer;
  return SendItemEvent(heap, item, kWEvUserItemClick, answer, frame, p, int32(uInt32(uintptr_t(click))));
}

int32 UserItemODoitMethod(ObjHeap heap, int32 item, TransactionFrame* frame, int32 action, ActionParams* p) {
  const int32 reply = DDOODoitMethod(heap, item, frame, action, p);
  if ((reply & kReplyFailed) || IsPanelLevelAction(action) || !IsObject(heap, item)) return reply;
  return SendItemEvent(heap, item, kWEvUserItemAction, reply, frame, p, action);
}

// ---- Strings ----------------------------------------------------------------------------------
namespace {
constexpr int16 kStringText = 11, kStringButton = 43;
constexpr uInt32 kTextPartTakesPress = 0x100000, kTextPartReturnEnters = 0x200000;

// The text part's reply: a committed text is stored in the string's data; a
// text grown or shrunk below two scroll-bar widths loses its scrolling.
int32 StringTextReply(ObjHeap heap, int32 string, int32 reply) {
  const int32 part = FindPart(heap, string, kStringText, 0);
  const TRecord text = part ? PartTextRecord(heap, part) : nullptr;
  if (reply & kReplyCommitted) reply = StringTextToData(heap, string, part, text, reply);
  if ((reply & kReplyRedraw) && text) {
    Rect view;
    TGetRect(text, &view, nullptr);
    if (view.bottom - view.top < 2 * PlatGetSystemMetric(kPlatMetricVScrollWidth) &&
        (TGetMode(text) & kTRModeVBar)) {
      TSetMode(text, TGetMode(text) & ~uInt32(kTRModeVBar), 0);
      OInval(heap, part, kInvalAll);
    }
  }
  return reply;
}
}  // namespace

int32 StringOClickMethod(ObjHeap heap, int32 string, TransactionState* click, TransactionFrame* frame,
                         ActionParams* p) {
  const int32 answer = DDOOClickMethod(heap, string, click, frame, p);
  if (answer == kClickOperate && p->partId == kStringText) {
    EndAt(frame, string, kCatDDO);
    p->focusObject = string;
  }
  return answer == kClickTrack && p->partId == kStringButton ? kClickAbsorbed : answer;
}

int32 StringODoitMethod(ObjHeap heap, int32 string, TransactionFrame* frame, int32 action, ActionParams* p) {
  if (IsPanelLevelAction(action) || !IsObject(heap, string) || !p || !OnStack(frame, 2)) return 0;
  if (frame->mode == kLevelPart && action == kActOperate && p->eventCode == kSubPress) {
    const int32 list = ObjWord(heap, string, kObjPartList / 4);
    const int32 n = ListCount(heap, list);
    const int32 part = frame->index >= 0 && frame->index < n ? ObjListGet(heap, list, frame->index) : 0;
    if (IsObject(heap, part) && PartIdOf(heap, part) == kStringText && (Flags(heap, part) & kTextPartTakesPress)) {
      EndAt(frame, string, kCatDDO);
      const int32 reply = ObjTextActivate(heap, string, part, kStringText, p, 0);
      p->partId = kStringText;
      return StringTextReply(heap, string, DDOCheckReply(heap, string, part, kStringText, reply));
    }
  }
  const bool key = frame->mode == kLevelTarget && action == kActOperate && KeyEvent(p);
  const int32 part = FindPart(heap, string, kStringText, 0);
  if (key && p->keyCode == kTKeyChar && p->character == '\n' && part &&
      (Flags(heap, part) & kTextPartReturnEnters))
    p->keyCode = kKeyEnter;
  int32 reply = DDOODoitMethod(heap, string, frame, action, p);
  if (reply & kReplyFailed) return reply;
  if (frame->mode == kLevelTarget && action == kActOperate) {
    if (p->keyCode == kKeyReset && key && part)
      if (const TRecord text = PartTextRecord(heap, part)) TGetSelection(text, &p->selStart, &p->selEnd);
    reply = DDOCheckReply(heap, string, part, kStringText, ObjTextActivate(heap, string, part, kStringText, p, reply));
    p->partId = kStringText;
  }
  return p->partId == kStringText ? StringTextReply(heap, string, reply) : reply;
}

// ---- The panel root's do-it -------------------------------------------------------------------
namespace {
constexpr uInt32 kRootFlagRedraw = 0x80000;
constexpr uInt32 kDocModPanel = 0x80000200, kDocModReset = 0x24000000;
constexpr uInt32 kVIFlags2Retrieval = 0x800;
constexpr int32 kRootRangeWord = 8;
constexpr uInt32 kRootRangeChecked = 0x100;
constexpr int32 kDragFlagIntoHeap = 0x1;
constexpr int32 kActReset = 42, kActResetDefault = 43, kActDataCommand = 45, kDataCommandPaste = 6;

int32 ItemList(ObjHeap heap, int32 root) {
  return OHBlockSize(heap, root) >= 4 * (kRootItemWord + 1) ? ObjWord(heap, root, kRootItemWord) : 0;
}

// Key 38, 39 or 43 at the panel itself: the focus goes into the controller
// list at the start index the key handler set (word 13 of the record).
int32 FocusIntoControllers(ObjHeap heap, int32 root, TransactionFrame* frame, ActionParams* p) {
  const int32 key = p->keyCode;
  if ((key != kKeyTab && key != kKeyShiftTab && key != kKeyReset) || p->focusObject < 0 ||
      (OwnerMode(heap) & (kVIFlags2Confirm | kVIFlags2Retrieval)) || !OnStack(frame, 4))
    return 0;
  const int32 list = ItemList(heap, root);
  const int32 n = ListCount(heap, list);
  if (n <= 0) return 0;
  const int32 index = p->focusObject >= n ? n - 1 : p->focusObject;
  const int32 dco = ObjListGet(heap, list, index);
  if (!IsObject(heap, dco)) return 0;
  const int32 shown = OHBlockSize(heap, dco) >= 4 * (kDCOWrapped + 1) ? ObjWord(heap, dco, kDCOWrapped) : 0;
  frame[0] = TransactionFrame{root, kCatFPSC, kLevelController, index};
  frame[1] = TransactionFrame{dco, kCatDCO, kLevelPart, 0};
  frame[2] = TransactionFrame{shown, kCatDDO, kLevelTarget, 0};
  frame[3].kind = 0;
  int32 reply = Doit(heap, dco, frame + 1, kActOperate, p);
  if (reply & kReplyPassFocus) reply = (reply & ~kReplyPassFocus) | FPNextKeyFocus(heap, frame, p);
  return reply;
}

bool IsLinkedHeap(ObjHeap heap) {
  for (ObjHeap h = OHFirstHeap(); h; h = OHNextHeap(h))
    if (h == heap) return true;
  return false;
}

// Panel objects dragged from a panel (this one or another) and dropped on
// the panel itself: the source panel's root is asked to move its selected
// objects here, both heaps in a selection pass meanwhile.  The transfer
// record sits in the params in place of the request word; its result word
// names this heap as the destination when the drag's flags (the record's
// parameter word) ask to move into it.  A record whose heap is not a live
// object heap with a root is no drop.
int32 DropOnPanel(ObjHeap heap, int32 root, ActionParams* p) {
  auto* rec = reinterpret_cast<DataXferRec*>(&p->eventCode);
  const ObjHeap source = rec->heap;
  if (!DataXferIsObjKind(*rec, 0, nullptr) || rec->count <= 0 || !IsLinkedHeap(source)) return 0;
  const int32 sourceRoot = int32(ExtWord(source, kHeapExtRoot));
  if (!IsObject(source, sourceRoot) || ObjClass(source, sourceRoot) != kClsFrontPanel) return 0;
  OHBeginMarkPassPair(heap, source);
  rec->result = (rec->param & kDragFlagIntoHeap) ? int32(uintptr_t(heap)) : 0;
  // Into this heap the copies go to the end of this panel; otherwise the
  // objects stay with their owners.
  EditMsgRecord move{};
  if (rec->result) {
    move.flags = root;
    move.targetHeap = heap;
  }
  int32 reply = OSelectCode(source, sourceRoot, kEditMove, &move);
  if (source != heap) reply = DDOCheckReplyData(heap, root, root, reply);
  OHEndMarkPassPair(heap, source);
  return reply;
}

int32 PanelItself(ObjHeap heap, int32 root, TransactionFrame* frame, int32 action, ActionParams* p) {
  switch (action) {
    case kActOperate:
      return KeyEvent(p) ? FocusIntoControllers(heap, root, frame, p) : 0;
    case kActReset:
    case kActResetDefault: {
      const UHandle ds = OHBlockSize(heap, root) >= 4 * (kPanelRootDataSpaceWord + 1)
                             ? reinterpret_cast<UHandle>(uintptr_t(uInt32(ObjWord(heap, root, kPanelRootDataSpaceWord))))
                             : nullptr;
      int32 reply = 0;
      if (ds && DSCallProc17(reinterpret_cast<DataSpace>(ds), action == kActResetDefault) == kMemFullErr)
        reply = kReplyFailed;
      if (action == kActReset) {
        const int32 list = ItemList(heap, root);
        for (int32 i = 0, n = ListCount(heap, list); i < n; ++i)
          if (IsObject(heap, ObjListGet(heap, list, i))) OInval(heap, ObjListGet(heap, list, i), kInvalValue);
        if (OHBlockSize(heap, root) >= 4 * (kRootRangeWord + 1) &&
            (uInt32(ObjWord(heap, root, kRootRangeWord)) & kRootRangeChecked))
          ClusterRangeFlags(heap, root, 1);
      } else {
        VIDocMod(PanelHeapOwner(heap), nullptr, kDocModReset);
      }
      return reply;
    }
    case kActCreate:
      // A new object described by the creation record, placed on the panel
      // along the path at this frame.
      return TRInsertNewObject(heap, root, frame, reinterpret_cast<CreationRecord*>(p), 1);
    case kActDataCommand:
      return p->eventCode == kDataCommandPaste ? PasteFromPanelClipboard(heap) : DoDataOperation(heap, p->eventCode);
    case kActTextDrop:
      return DropOnPanel(heap, root, p);
    default: {
      char line[64];
      SPrintf(line, "supcodoit action=%lx?", long(action));
      DBPrintf("%s", line);
      DBAssert(kSource, __LINE__, "an action the panel does not take");
      return 0;
    }
  }
}
}  // namespace

int32 PanelODoitMethod(ObjHeap heap, int32 root, TransactionFrame* frame, int32 action, ActionParams* p) {
  if (IsPanelLevelAction(action)) {
    // Handed to the panel's selection method with an empty edit record; the
    // params are the result word.
    EditMsgRecord rec{};
    const int32 reply = OSelectCode(heap, root, action, &rec);
    if (p) *reinterpret_cast<int32*>(p) = reply;
    return 0;
  }
  if (!IsObject(heap, root) || !p || !OnStack(frame, 2)) {
    DBAssert(kSource, __LINE__, "a panel action without its frame");
    return 0;
  }
  return PanelODoitChecked(heap, root, frame, action, p, 0);
}

int32 PanelODoitChecked(ObjHeap heap, int32 root, TransactionFrame* frame, int32 action, ActionParams* p,
                        int32 knownChild) {
  if (frame->object != root || frame->kind != kCatFPSC)
    DBAssert(kSource, __LINE__, "the frame does not name the panel");
  // A key bound to a control becomes its read-back key along its path.
  bool bound = false;
  if (action == kActOperate && KeyEvent(p)) {
    if (const int32 target = KeyBindingTarget(heap, reinterpret_cast<const WEventRecord*>(&p->eventCode))) {
      p->keyCode = kKeyReadBack;
      p->selStart = 0;
      p->selEnd = 0x7FFFFFFF;
      if (frame != TRStackTop() || !GetObjAttrRec(heap, target, nullptr, nullptr))
        DBAssert(kSource, __LINE__, "no path to the control bound to the key");
      bound = true;
      knownChild = 0;  // the path was written anew
    }
  }
  int32 child = 0;
  if (frame->mode == kLevelChild || frame->mode == kLevelController) {
    if (knownChild && frame->mode == kLevelChild) {
      child = knownChild;
    } else {
      const int32 list = frame->mode == kLevelChild ? ObjWord(heap, root, kRootObjectListWord) : ItemList(heap, root);
      const int32 n = ListCount(heap, list);
      if (frame->index < 0 || frame->index >= n) {
        DBAssert(kSource, __LINE__, "a frame index outside the panel's lists");
        return 0;
      }
      child = ObjListGet(heap, list, frame->index);
      if (!IsObject(heap, child)) return 0;
    }
    if (action == kActTextDrop && p->eventCode == 0) child = 0;
  } else if (frame->mode != kLevelTarget) {
    DBAssert(kSource, __LINE__, "a panel frame of an unknown level");
    return 0;
  }
  int32 reply;
  if (child) {
    reply = Doit(heap, child, frame + 1, action, p);
    if (!(reply & kReplyFailed)) {
      if (bound && reply == 0 && ExtWord(heap, kHeapExtKeyFocus)) {
        const UHandle saved = reinterpret_cast<UHandle>(uintptr_t(ExtWord(heap, kHeapExtSavedFrames)));
        if (saved && *saved) {
          TRWriteFrames(frame, reinterpret_cast<const TransactionFrame*>(*saved),
                        AZGetHandleSize(saved) / int32(sizeof(TransactionFrame)));
          reply = 1;
        }
      }
      if (reply & kFilterDataBits) reply = DDOCheckReplyData(heap, root, child, reply);
      if ((reply & kReplyPassFocus) && !(reply & kReplyKeyUsed)) {
        if (action != kActOperate) DBAssert(kSource, __LINE__, "the focus passed on by an action other than 15");
        DlgSendItemChange(heap, child, reply, kActOperate, p);
        int32 next = FPNextKeyFocus(heap, frame, p);
        if (next & kReplyPassFocus) next = FPNextKeyFocus(heap, frame, p);
        reply = (reply & ~kReplyChanged) | next;
      }
    }
  } else {
    reply = PanelItself(heap, root, frame, action, p);
    if (reply & (kReplyRedraw | kReplyRedrawAll))
      ObjSetWord(heap, root, 0, int32(Flags(heap, root) | kRootFlagRedraw));
  }
  if (reply & kReplyFailed) MemFullAlert(0, 7);
  if ((reply & kReplyModified) && action != kActCtrlOp) VIDocMod(PanelHeapOwner(heap), nullptr, kDocModPanel);
  return reply;
}
