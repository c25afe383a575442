// The operate-mode methods of colour boxes, colour ramps and paths: a
// colour box asks the palette for its colours and keeps the chosen one as
// its value; a colour ramp maps the tracked mouse to a value along its
// scale; a path takes dropped paths, typed text and the validity menu of its
// browse button.  The numeric classes run the numeric methods first.
#include <algorithm>
#include <cstring>

#include "engine/typemgr.h"
#include "engine/vi/viinst.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "mgsource/path.h"
#include "mgsource/rects.h"
#include "mgsource/window/menutrack.h"
#include "mgsource/draw/textlayout.h"
#include "mgsource/window/textrec.h"
#include "mgsource/walert.h"
#include "mgsource/window/menus.h"
#include "panel/ctrdoit.h"
#include "panel/datageom.h"
#include "panel/datamsg.h"
#include "panel/dataxfer.h"
#include "panel/fppanel.h"
#include "panel/methsupport.h"
#include "panel/numincdec.h"
#include "panel/oinval.h"
#include "panel/operate.h"
#include "panel/operate_internal.h"
#include "panel/osupport.h"

namespace {

using namespace opmeth;

constexpr int32 kLevelPart = 0, kLevelTarget = 2;
constexpr int16 kPartFace = 41, kPartMarker = 69, kPartRamp = 17, kPartUnitLabel = 65;
constexpr int16 kPartPathText = 11, kPartBrowse = 43;
constexpr int32 kClickColourRequest = 6, kClickMenuChoice = 22;
constexpr uInt32 kFlagOwnColours = 0x100000;
constexpr int32 kRequestBothSides = 0x0B00, kRequestPanelOnly = 0x8000, kRequestPalette = 0x1080,
                kRequestColourList = 0x6000, kRequestForeground = 0x100, kRequestWrite = 0x10000;
constexpr int32 kWordColourList = 13, kWordFaceColour = 8;
constexpr int32 kTransparent = 0x1000000;
constexpr int32 kReplyReported = 0x10000, kReplyUnitApplied = 0x80000;
constexpr int32 kActMenuDone = 22, kSubPathValidity = 8;
constexpr int32 kKeyChar = 27, kKeyEnter = 2;

using ClickFn = int32 (*)(ObjHeap, int32, TransactionState*, TransactionFrame*, ActionParams*);
using DoitFn = int32 (*)(ObjHeap, int32, TransactionFrame*, int32, ActionParams*);

// The numeric class's own methods, where built; else the data display ones.
int32 NumericClick(ObjHeap heap, int32 object, TransactionState* click, TransactionFrame* frame, ActionParams* p) {
  const auto m = reinterpret_cast<ClickFn>(OClickMethodFor(kClsNumeric));
  return (m ? m : &DDOOClickMethod)(heap, object, click, frame, p);
}
int32 NumericDoit(ObjHeap heap, int32 object, TransactionFrame* frame, int32 action, ActionParams* p) {
  const auto m = reinterpret_cast<DoitFn>(OperateDoitMethodFor(kClsNumeric));
  return (m ? m : &DDOODoitMethod)(heap, object, frame, action, p);
}

// Actions 21, 24, 25, 26, 32, 55 and 60 come from the panel with a result
// word in place of the action record.
bool PanelLevelAction(int32 action) {
  switch (action) {
    case 21: case 24: case 25: case 26: case 32: case 55: case 60: return true;
    default: return false;
  }
}

bool FrontPanelHeap(ObjHeap heap) { return OHWord(heap, kOHKind) == kPanelHeapKind; }
bool Has(ObjHeap heap, int32 object, int32 word) {
  return IsObject(heap, object) && OHBlockSize(heap, object) >= 4 * (word + 1);
}
void EndAt(TransactionFrame* frame, int32 object) {
  *frame = TransactionFrame{object, kCatDDO, kLevelTarget, 0};
  frame[1].kind = 0;
}
void* DataAt(ObjHeap heap, int32 object, int32 mode) {
  return reinterpret_cast<void*>(uintptr_t(uInt32(OGetDataPtr(heap, object, 0, mode, nullptr))));
}

// Stores a value of the object's numeric type (given as an extended or
// 32-bit number of srcType) and shows it: 8 with the display's reply when it
// changed, 0 when not, 16 without data.
int32 StoreNumber(ObjHeap heap, int32 object, int32 srcType, const void* src) {
  const int32 type = NumStepType(heap, object);
  uChar* at = static_cast<uChar*>(DataAt(heap, object, kDataPtrPlain));
  if (!type || !at) return kReplyFailed;
  const int32 size = NumSize(type);
  uChar value[16] = {}, old[16] = {};
  if (size <= 0 || size > int32(sizeof value)) return kReplyFailed;
  ConvertNum(srcType, src, type, value);
  if (std::memcmp(at, value, size_t(size)) == 0) return 0;
  std::memcpy(old, at, size_t(size));
  std::memcpy(at, value, size_t(size));
  RecheckArrayEltRange(heap, object);
  return kReplyChanged | OSendMessage<int32>(kMsgODisplayVal, heap, object, old, at);
}

}  // namespace

// ---- Colour boxes ------------------------------------------------------------------------
int32 ColorBoxOClickMethod(ObjHeap heap, int32 box, TransactionState* click, TransactionFrame* frame,
                           ActionParams* p) {
  const int32 answer = NumericClick(heap, box, click, frame, p);
  if ((answer != kClickTrack && answer != kClickColourRequest) || p->partId != kPartFace || !IsObject(heap, box))
    return answer;
  const uInt32 flags = Flags(heap, box);
  if (flags & kObjFlagIndicator) return kClickNotHit;
  int32 request = kRequestBothSides;
  if (FrontPanelHeap(heap) && !(flags & kFlagOwnColours)) request |= kRequestPanelOnly;
  const int32 colours = Has(heap, box, kWordColourList) ? ObjWord(heap, box, kWordColourList) : 0;
  p->eventCode = request;
  p->globalPoint = colours;
  if (click->mode == kClickPress) {
    // The palette opens under the face with the face's two colours.
    const int32 face = FindPart(heap, box, kPartFace, 0);
    const Rect r = BoundsOf(heap, IsObject(heap, face) ? face : box);
    p->point = Point{r.bottom, r.left};
    const auto* value = static_cast<const uChar*>(DataAt(heap, box, kDataPtrOperate));
    uInt32 fg = 0;
    const int32 type = NumStepType(heap, box);
    if (value && type) ConvertNum(type, value, kTDU32, &fg);
    p->window = int32(fg);
    p->localPoint = Has(heap, face, kWordFaceColour) ? ObjWord(heap, face, kWordFaceColour) : 0;
    p->eventCode = request | kRequestPalette | (colours ? kRequestColourList : 0);
    PopUpColorPalette(heap, frame, p);
  }
  return kClickColourRequest;
}

int32 ColorBoxODoitMethod(ObjHeap heap, int32 box, TransactionFrame* frame, int32 action, ActionParams* p) {
  if (PanelLevelAction(action) || !IsObject(heap, box) || !p) return NumericDoit(heap, box, frame, action, p);
  const bool colour = action == kActColourChange;
  const int32 request = p->eventCode;
  const int32 chosen = (request & kRequestForeground) ? p->window : p->localPoint;
  if (colour && FrontPanelHeap(heap) && !(Flags(heap, box) & kFlagOwnColours) && (request & kRequestWrite) &&
      chosen == kTransparent) {
    // A panel's colour box shows a colour: transparency is no value.
    WBeep();
    return 0;
  }
  int32 reply = NumericDoit(heap, box, frame, action, p);
  if ((reply & kReplyFailed) || !colour || p->partId != kPartFace || !(request & kRequestWrite)) return reply;
  const uInt32 value = uInt32(chosen);
  const int32 stored = StoreNumber(heap, box, kTDU32, &value);
  return (reply | stored) | kReplyChanged;
}

// ---- Colour ramps ------------------------------------------------------------------------
namespace {
PanelRampHooks gRampHooks;

// The ramp's scale: its first part of the Scale class.
int32 RampScale(ObjHeap heap, int32 ramp) {
  const int32 list = ObjWord(heap, ramp, kObjPartList / 4);
  if (list <= 0 || !OHIsUsedBlock(heap, list)) return 0;
  const int32 n = ObjListCount(heap, list);
  if (n < 0 || 4 + int64(4) * n > OHBlockSize(heap, list)) return 0;
  for (int32 i = 0; i < n; ++i) {
    const int32 part = ObjListGet(heap, list, i);
    if (IsObject(heap, part) && ObjClass(heap, part) == kClsScale) return part;
  }
  return 0;
}

// The mouse's vertical position, pinned between the scale's pixel ends,
// mapped to a value and stored: 8 (with the display's reply) on a change.
int32 TrackRamp(ObjHeap heap, int32 ramp, ActionParams* p) {
  const int32 scale = RampScale(heap, ramp);
  const int32 type = NumStepType(heap, ramp);
  PanelScaleInfo info{};
  if (!scale || !type || !PanelScale().scaleInfo || !PanelScale().mapPixelsToValues ||
      !PanelScale().scaleInfo(heap, scale, &info))
    return 0;
  const int16 lo = std::min(info.pixelStart, info.pixelEnd), hi = std::max(info.pixelStart, info.pixelEnd);
  const int16 pixel = std::clamp(PointOf(p->localPoint).v, lo, hi);
  uChar value[16] = {};
  PanelScale().mapPixelsToValues(heap, info.dataOffset, type, &pixel, 0, 1, value, 0);
  return StoreNumber(heap, ramp, type, value);
}
}  // namespace

PanelRampHooks SetPanelRampHooks(const PanelRampHooks& hooks) {
  const PanelRampHooks before = gRampHooks;
  gRampHooks = hooks;
  return before;
}

int32 ColorRampOClickMethod(ObjHeap heap, int32 ramp, TransactionState* click, TransactionFrame* frame,
                            ActionParams* p) {
  return NumericClick(heap, ramp, click, frame, p);
}

int32 ColorRampODoitMethod(ObjHeap heap, int32 ramp, TransactionFrame* frame, int32 action, ActionParams* p) {
  int32 reply = NumericDoit(heap, ramp, frame, action, p);
  if ((reply & kReplyFailed) || PanelLevelAction(action) || !IsObject(heap, ramp) || !p || !frame) return reply;
  const int32 part = p->partId;
  if (part == kPartUnitLabel && (reply & (kReplyReported | kReplyUnitApplied))) {
    if (gRampHooks.scaleFitToItemCount) reply |= gRampHooks.scaleFitToItemCount(heap, ramp);
    OInval(heap, ramp, kInvalAll);
  }
  if (part == kPartRamp && (reply & kReplyRedraw)) {
    oDisplayVal(heap, ramp, 0, DataAt(heap, ramp, kDataPtrOperate));
    reply |= kReplyReported;
  }
  if (action == kActTrack && (part == kPartFace || part == kPartMarker)) {
    if (p->eventCode == kSubRelease || p->eventCode == kSubEnd) return reply & ~kActionTracking;
    reply |= TrackRamp(heap, ramp, p) | kActionTracking;
  }
  return reply;
}

// ---- Paths ------------------------------------------------------------------------------
namespace {
Path ValuePath(ObjHeap heap, int32 path, int32 mode) {
  const uChar* at = static_cast<const uChar*>(DataAt(heap, path, mode));
  return at ? reinterpret_cast<Path>(uintptr_t(GetNative32(at))) : nullptr;
}
DataXferRec* DragOf(ActionParams* p) { return reinterpret_cast<DataXferRec*>(&p->eventCode); }

int32 Redisplay(ObjHeap heap, int32 path) {
  return kReplyChanged | oDisplayVal(heap, path, 0, DataAt(heap, path, kDataPtrOperate));
}

// Ends the key focus when the path or its text holds it.
void ReleaseOwnFocus(ObjHeap heap, int32 path) {
  const int32 focus = int32(ExtWord(heap, kHeapExtKeyFocus));
  if (focus && (focus == path || ObjWord(heap, focus, kObjOwner / 4) == path)) FPReleaseKeyFocus(heap);
}

// The dropped path copied into the value, the panel's key focus set aside
// meanwhile; the selection emptied and the value shown.
int32 TakeDroppedPath(ObjHeap heap, int32 path, ActionParams* p) {
  const Path value = ValuePath(heap, path, kDataPtrPlain);
  const Path dropped = FEmptyPath(nullptr);
  if (!value || !dropped) {
    if (dropped) FDisposePath(dropped);
    return kReplyFailed;
  }
  MgErr err = DataXferItemPath(*DragOf(p), 0, dropped);
  if (!err) {
    const int32 ext = int32(OHWord(heap, kOHExtension));
    const uInt32 focus = ExtWord(heap, kHeapExtKeyFocus);
    if (focus) PutNative32(*heap + ext + kHeapExtKeyFocus, 0);
    err = FPathCpy(value, dropped);
    if (focus) PutNative32(*heap + int32(OHWord(heap, kOHExtension)) + kHeapExtKeyFocus, focus);
  }
  FDisposePath(dropped);
  if (err) return err == kMemFullErr ? kReplyFailed : 0;
  FPEmptySelection(heap);
  return Redisplay(heap, path);
}

// The committed text read as a path into the value: 8 without 0x40.
int32 TextToPath(ObjHeap heap, int32 path, int32 reply) {
  reply &= ~kReplyCommitted;
  const int32 part = FindPart(heap, path, kPartPathText, 0);
  const TRecord text = part ? PartTextRecord(heap, part) : nullptr;
  const Path value = ValuePath(heap, path, kDataPtrPlain);
  if (!text || !value) return reply | kReplyFailed;
  Path read = nullptr;
  const MgErr err = FStringToPath(reinterpret_cast<LStrHandle>(TGetText(text)), &read);
  const MgErr copied = err ? err : FPathCpy(value, read);
  if (read) FDisposePath(read);
  if (copied == kMemFullErr) return reply | kReplyFailed;
  return reply | Redisplay(heap, path);
}
// A scrolling text less than two lines tall loses its scrolling and is
// redrawn.
void UnscrollShortText(ObjHeap heap, int32 path) {
  const int32 part = FindPart(heap, path, kPartPathText, 0);
  const TRecord text = part ? PartTextRecord(heap, part) : nullptr;
  if (!text || !(TGetMode(text) & kTRModeBars)) return;
  TValidateLines(text);
  const int32 line = TLineCount(text) > 0 ? TLineAt(text, 0).height : 0;
  Rect view;
  TGetRect(text, &view, nullptr);
  if (line > 0 && view.bottom - view.top < 2 * line) {
    TSetMode(text, TGetMode(text) & ~uInt32(kTRModeBars), 0);
    OInval(heap, part, kInvalAll);
  }
}
}  // namespace

int32 PathOClickMethod(ObjHeap heap, int32 path, TransactionState* click, TransactionFrame* frame, ActionParams* p) {
  const int32 answer = DDOOClickMethod(heap, path, click, frame, p);
  if (!answer || !IsObject(heap, path)) return answer;
  const int32 mode = click->mode;
  const bool isPath = FIsAPath(ValuePath(heap, path, kDataPtrOperate)) != 0;
  if (mode == kClickDropTest && p->partId == kPartPathText) {
    DataXferRec* rec = DragOf(p);
    if (rec->count == 1 && (FrontPanelHeap(heap) || (OwnerMode(heap) & kVIFlags2OwnerMode)) && isPath &&
        DataXferPathCheck(*rec, 0, heap, path)) {
      DataXferSetResult(rec, path);
      EndAt(frame, path);
      return kClickCursorAnswer;
    }
    return answer;
  }
  if (answer == kClickOperate && p->partId == kPartPathText) {
    if (!isPath) return kClickAbsorbed;
    EndAt(frame, path);
    p->focusObject = path;
    return answer;
  }
  if (answer == kClickTrack && p->partId == kPartBrowse) {
    // The validity menu: a choice is completed by the do-it.
    MenuHandle menu = PathMenuSetup(heap, path);
    if (!menu) return kClickAbsorbed;
    int32 id = 0, item = 0;
    MPopUpMenuAt(menu, PointOf(click->point), &id, &item, 0, 0, 0);
    MDisposeMenu(menu);
    if (id != kPathValidityMenuId || (item != kPathValid && item != kPathNotAPath)) return kClickAbsorbed;
    p->eventCode = kSubPathValidity;
    p->window = item == kPathValid ? 1 : 0;
    EndAt(frame, path);
    return kClickMenuChoice;
  }
  return answer;
}

int32 StdPathODoitMethod(ObjHeap heap, int32 path, TransactionFrame* frame, int32 action, ActionParams* p) {
  if (PanelLevelAction(action) || !IsObject(heap, path) || !p || !OnStack(frame, 2))
    return DDOODoitMethod(heap, path, frame, action, p);
  if (action == kActTextDrop) return TakeDroppedPath(heap, path, p);
  if (action == kActMenuDone && p->eventCode == kSubPathValidity) {
    const Path value = ValuePath(heap, path, kDataPtrPlain);
    if (!value) return kReplyFailed;
    const bool wantPath = p->window != 0;
    if (wantPath == (FIsAPath(value) != 0)) return 0;
    ReleaseOwnFocus(heap, path);
    if (!(wantPath ? FEmptyPath(value) : FNotAPath(value))) return kReplyFailed;
    return Redisplay(heap, path);
  }
  const bool key = frame->mode == kLevelTarget && action == kActOperate && (p->eventCode == kSubKeyDown ||
                                                                           p->eventCode == kSubKeyRepeat);
  if (key && p->keyCode == kKeyChar && (p->character == '\n' || p->character == '\r')) p->keyCode = kKeyEnter;
  int32 reply = DDOODoitMethod(heap, path, frame, action, p);
  if (reply & kReplyFailed) return reply;
  const int32 text = FindPart(heap, path, kPartPathText, 0);
  if (key && text) {
    reply = DDOCheckReply(heap, path, text, kPartPathText, ObjTextActivate(heap, path, text, kPartPathText, p, reply));
    p->partId = kPartPathText;
  }
  if (frame->mode == kLevelPart && action == kActTrack && p->eventCode == kSubRelease && p->partId == kPartBrowse) {
    DBPrintf("StdPathODoitMethod: invalidate glyph");
    const int32 button = FindPart(heap, path, kPartBrowse, 0);
    if (button) OInval(heap, button, kInvalAll);
  }
  if ((reply & kReplyCommitted) && p->partId == kPartPathText) reply = TextToPath(heap, path, reply);
  if ((reply & kReplyRedraw) && p->partId == kPartPathText) UnscrollShortText(heap, path);
  return reply;
}
