// The click and do-it methods of numerics, rings, slides and knobs.
#include "panel/numdoit.h"

#include <algorithm>
#include <cstring>

#include "engine/datatype.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "mgsource/rects.h"
#include "mgsource/textnum.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/menutrack.h"
#include "mgsource/window/textedit.h"
#include "mgsource/window/textrec.h"
#include "panel/datageom.h"
#include "panel/datamsg.h"
#include "panel/methsupport.h"
#include "panel/objsize.h"
#include "panel/numincdec.h"
#include "panel/numoperate.h"
#include "panel/oinval.h"
#include "panel/operate.h"
#include "panel/operate_internal.h"
#include "panel/osupport.h"
#include "panel/textparts.h"
#include "rtlib/objunits.h"

namespace {

using namespace opmeth;

const char kSource[] = "numdoit";

constexpr int32 kLevelPart = 0, kLevelTarget = 2;
constexpr int32 kActCtrlOp = 27;
constexpr int32 kSubFormatChosen = 5;
enum : int32 {
  kPartArrowFirst = 2, kPartArrowLast = 7, kPartSlider = 8, kPartNumText = 10, kPartRingFace = 12,
  kPartRingPict = 14, kPartFormatMark = 15, kPartHousing = 17, kPartThumb = 23, kPartRingFrame = 28,
  kPartColourList = 44, kPartRingArrow = 47, kPartUnitLabel = 65, kPartRingDisplay = 81,
  kPartSliderDisplay = 8001,
};
enum : int32 { kKeyEnterCode = 2, kKeyUp = 4, kKeyDown = 5, kKeyChar = 27, kKeyCtrlDownCode = 40, kKeyReset = 43 };
constexpr uInt32 kNumFilterAsFloat = 0x10000, kFedKey = 0x100000;
constexpr int32 kFormatSigned = 0x40, kFormatUnsigned = 0x41, kFormatHex = 0x42, kFormatBinary = 0x44;
constexpr int32 kDataRead = 2, kDataWrite = 0, kDataWriteReport = 3;
constexpr int32 kReplyUnitOut = 0x80000, kReplyUnitChanged = 0x4, kReplyReported = 0x10000;
constexpr int32 kSelectAll = 0x7FFFFFFF;
constexpr int32 kBoundsKind = 5;
constexpr uInt32 kSlideTwoColours = 0x800000, kSlideTextLabels = 0x100000, kSlideColoursChanged = 0x400000;
constexpr int32 kSlideColourListWord = 13;
constexpr int32 kColourSliderRequest = 0x8B00;

SlideOpsHooks gSlideOps;

MgErr TrackSlider(ObjHeap heap, int32 slide, TransactionFrame* frame, ActionParams* p, void* data,
                  int32* changed) {
  if (changed) *changed = 0;
  return gSlideOps.trackValue ? gSlideOps.trackValue(heap, slide, frame, p, data, changed) : kArgErr;
}
int32 ScaleFitToItemCount(ObjHeap heap, int32 slide) {
  return gSlideOps.fitToItemCount ? gSlideOps.fitToItemCount(heap, slide) : 0;
}
void SlideColorChangeSliders(ObjHeap heap, int32 slide, int32* first, int32* second) {
  *first = *second = -1;
  if (gSlideOps.colourSliders) gSlideOps.colourSliders(heap, slide, first, second);
}

bool KeyEvent(const ActionParams* p) { return p->eventCode == kSubKeyDown || p->eventCode == kSubKeyRepeat; }
bool IsPanelLevelAction(int32 action) {
  switch (action) {
    case 21: case 24: case 25: case 26: case 32: case 55: case 60: return true;
    default: return false;
  }
}
bool IsArrowPart(int32 id) { return id >= kPartArrowFirst && id <= kPartArrowLast; }
bool IsFocusKey(int32 key) { return key >= kKeyTab && key <= kKeyReset; }

void EndAt(TransactionFrame* frame, int32 object) {
  *frame = TransactionFrame{object, kCatDDO, kLevelTarget, 0};
  frame[1].kind = 0;
}
bool DialogPanel(ObjHeap heap) {
  return ExtWord(heap, kHeapExtDialogFilter) && !(OwnerMode(heap) & kVIFlags2OwnerMode);
}
// Whether the object or its text part holds the key focus.
bool HoldsFocus(ObjHeap heap, int32 object) {
  const int32 focus = int32(ExtWord(heap, kHeapExtKeyFocus));
  return focus && (focus == object || focus == FindPart(heap, object, kPartNumText, 0));
}
int32 Live(ObjHeap heap, int32 part) { return IsObject(heap, part) ? part : 0; }

// The type descriptor of the object's value and its numeric code: of a
// cluster (one value per slider), its first element's.
const TypeDescriptor* ValueTD(ObjHeap heap, int32 object) {
  const TypeID id = IsObject(heap, object) ? DDOTypeID(heap, object) : 0;
  return id ? SkipTypedefs(TypeIDToTD(heap, id)) : nullptr;
}
int32 ValueType(ObjHeap heap, int32 object) {
  const TypeDescriptor* td = ValueTD(heap, object);
  if (td && td->code == kTDCluster)
    td = int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4)) > 0 ? SkipTypedefs(ElemTD(td, 0)) : nullptr;
  return td ? td->code : 0;
}
bool ValidType(int32 type) { return type >= 1 && type <= 30; }

// The object's value, null unless the whole value of its type lies inside
// the block that holds it (a part's type word and its owner's data both
// come from the file).
UPtr DataAt(ObjHeap heap, int32 object, int32 kind) { return NumValueData(heap, object, kind); }
int32 Show(ObjHeap heap, int32 object, const void* value) { return oDisplayVal(heap, object, 0, value); }

// The data of the object's value number index: the element of a cluster
// (checked against its element count), else the value itself.
UPtr SliderValue(ObjHeap heap, int32 object, UPtr base, int32 index) {
  const TypeDescriptor* td = ValueTD(heap, object);
  if (!base || !td || td->code != kTDCluster) return index == 0 ? base : nullptr;
  const int32 n = int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4));
  if (index < 0 || index >= n) return nullptr;
  int32 off = 0;
  for (int32 i = 0;; ++i) {
    const TypeDescriptor* el = ElemTD(td, i);
    if (!el) return nullptr;
    off = AlignDatum(el, off);
    if (i == index) return base + off;
    off += DataSize(el);
  }
}
int32 ActiveIndex(ObjHeap heap, int32 slide) {
  return OHBlockSize(heap, slide) >= 4 * (kPWActiveElement + 1) ? ObjWord(heap, slide, kPWActiveElement) : 0;
}

// ---- Stepping ------------------------------------------------------------------------------
// The kind of control and the value the step works on travel in the step
// state of the action record; a slide names its active slider's value there.
void SetStepKind(ActionParams* p, int16 kind) { IncDecOf(p)->kind = kind; }
void NameStepValue(ActionParams* p, UPtr value) { IncDecOf(p)->data = value; }
// The value a held arrow steps, read anew at each call.
UPtr StepValue(ObjHeap heap, int32 object, const ActionParams* p) {
  UPtr data = DataAt(heap, object, kDataWrite);
  if (IncDecOf(p)->kind == kIncKindSlide && data) data = SliderValue(heap, object, data, ActiveIndex(heap, object));
  return data;
}

// A first press: the state prepared and one step taken.  16 when the
// object has no value to step.
int32 FirstStep(ObjHeap heap, int32 object, ActionParams* p, bool useTextCursor) {
  const UPtr data = NumIncDecSetup(heap, object, p, useTextCursor ? 1 : 0);
  if (!data) return kReplyFailed;
  IncDecState* s = IncDecOf(p);
  return NumIncDecArrow(heap, object, p, s->data ? s->data : data, s->repr);
}

// A key on a digital display inside a slider steps the enclosing numeric.
int32 StepTarget(ObjHeap heap, int32 object) {
  for (int32 n = 0, o = object; n < 8 && IsObject(heap, o); ++n) {
    const int32 owner = ObjWord(heap, o, kObjOwner / 4);
    if (PartIdOf(heap, o) != kPartSliderDisplay || !IsObject(heap, owner) || !ObjIsA(heap, owner, kClsNumeric))
      return o;
    o = owner;
  }
  return object;
}

// ---- Typed text -----------------------------------------------------------------------------
// The committed text of part 10 read as the numeric's value (as a double
// converted to an integer type when the plain read fails), taken from the
// display unit to the data unit and stored; the range re-checked and the
// value shown again.  A text that reads as no number leaves the value.
int32 CommitText(ObjHeap heap, int32 numeric, int32 reply) {
  reply &= ~kReplyCommitted;
  const int32 type = ValueType(heap, numeric) & ~0x10;
  const int32 part = FindPart(heap, numeric, kPartNumText, 0);
  const TRecord text = part ? PartTextRecord(heap, part) : nullptr;
  const UHandle bytes = text ? TGetText(text) : nullptr;
  const UPtr data = DataAt(heap, numeric, kDataWrite);
  if (!data) return reply | kReplyFailed;
  int32 len = -1;
  if (bytes && *bytes && DSGetHandleSize(bytes) >= 4) len = int32(GetNative32(*bytes));
  if (len < 0 || len > DSGetHandleSize(bytes) - 4 || type < 1 || type > kTDCXT) return reply | Show(heap, numeric, data);
  const int32 format = NumGetFormat(heap, numeric);
  uChar value[32] = {};
  bool read = TextToNum(*bytes + 4, len, type, value, format, 0, nullptr) != 0;
  if (!read && NumClass(type) != kNumClassFloat && NumClass(type) != kNumClassComplex) {
    float64 d = 0;
    read = TextToNum(*bytes + 4, len, kTDDBL, &d, kNumFormatFloat, 0, nullptr) != 0;
    if (read) ConvertNum(kTDDBL, &d, type, value);
  }
  if (!read) return reply | Show(heap, numeric, data);
  uChar converted[32] = {};
  if (UnitConvertObjValue(heap, numeric, value, 1, converted)) std::memcpy(value, converted, sizeof value);
  std::memcpy(data, value, size_t(NumSize(type)));
  RecheckArrayEltRange(heap, numeric);
  return reply | kReplyChanged | DisplayValQuiet(heap, numeric, data, 0);
}

// A key at the numeric: Up and Down step, other characters must pass the
// filter of the type and format, then the key goes to the text part.
int32 NumericKey(ObjHeap heap, int32 numeric, ActionParams* p, int32 reply) {
  const int32 key = p->keyCode;
  if ((key == kKeyUp || key == kKeyDown) && ObjClickOperates(heap, numeric)) {
    const int32 target = StepTarget(heap, numeric);
    IncDecOf(p)->pressState = key == kKeyUp ? kArrowUp : kArrowDown;
    if (target != numeric) {
      // The display's slider of the enclosing slide.
      SetStepKind(p, kIncKindSlide);
      NameStepValue(p, SliderValue(heap, target, DataAt(heap, target, kDataWrite),
                                   ObjInt16(heap, numeric, kObjPartOrder)));
    }
    return reply | FirstStep(heap, target, p, true) | kReplyTracking;
  }
  if (!IsFocusKey(key)) {
    const int32 format = NumGetFormat(heap, numeric);
    const bool own = !(Flags(heap, numeric) & kNumFilterAsFloat) || (format >= kFormatHex && format <= kFormatBinary);
    const int32 passes = own ? NumTextEntryKeyFilter(p, ValueType(heap, numeric), format)
                             : NumTextEntryKeyFilter(p, kTDCXT, kNumFormatFloat);
    if (!passes) return 1;
  }
  const int32 part = FindPart(heap, numeric, kPartNumText, 0);
  if (!part) return reply;
  reply = ObjTextActivate(heap, numeric, part, kPartNumText, p, reply);
  if (p->keyCode == kKeyEnterCode && (reply & kReplyTracking)) {
    // The entry stays with all its text selected again.
    p->keyCode = kKeyTab;
    p->selStart = 0, p->selEnd = kSelectAll;
    reply = ObjTextActivate(heap, numeric, part, kPartNumText, p, reply);
    p->keyCode = kKeyEnterCode;
  }
  p->partId = kPartNumText;
  return DDOCheckReply(heap, numeric, part, kPartNumText, reply);
}

// A format chosen from the radix menu: the entry ends, the format and the
// mark change and the value is shown in it.
int32 FormatChosen(ObjHeap heap, int32 numeric, ActionParams* p, int32 reply) {
  if (HoldsFocus(heap, numeric)) FPReleaseKeyFocus(heap);
  const int32 format = p->window;
  if (format == NumGetFormat(heap, numeric)) return reply;
  if (NumericSetFormatStyle(heap, numeric, format) != kNoErr) return reply | kReplyFailed;
  reply |= kReplyRedraw;
  if (const int32 mark = FindPart(heap, numeric, kPartFormatMark, 0))
    Show(heap, mark, reinterpret_cast<const void*>(uintptr_t(std::max(format - kFormatUnsigned, 0))));
  const UPtr data = DataAt(heap, numeric, kDataWriteReport);
  if (!data) return reply | kReplyFailed;
  return reply | DisplayValQuiet(heap, numeric, data, 0) | kReplyReported;
}

// Tracking on an arrow: the press steps once, every further event while
// the mouse is held steps again; the release ends it.
int32 ArrowTracking(ObjHeap heap, int32 numeric, ActionParams* p, int32 reply) {
  const int32 sub = p->eventCode;
  const int32 arrow = IsArrowPart(p->partId) ? FindPart(heap, numeric, p->partId, p->partOrder) : 0;
  if (sub == kSubRelease || sub == kSubEnd) {
    if (arrow) {
      TrackState(0, nullptr, 1);
      OInval(heap, arrow, kInvalAll);
    }
    return reply & ~kReplyTracking;
  }
  IncDecState* s = IncDecOf(p);
  if (!arrow || s->pressState < kArrowUp || s->pressState > kArrowHeldDown) return reply;
  if (s->pressState <= kArrowDown) {
    if (sub != kSubPress) return reply;
    FPReleaseKeyFocus(heap);
    TrackState(1, nullptr, 1);
    OInval(heap, arrow, kInvalAll);
    reply |= FirstStep(heap, numeric, p, s->selEnd != -1);
    s->pressState = int16(s->pressState + 2);
    return reply;
  }
  const UPtr data = StepValue(heap, numeric, p);
  if (!data) return reply | kReplyFailed;
  return reply | NumIncDecArrow(heap, numeric, p, data, s->repr);
}

}  // namespace

void SlideColourSliders(ObjHeap heap, int32 slide, int32* first, int32* second) {
  SlideColorChangeSliders(heap, slide, first, second);
}

SlideOpsHooks SetSlideOpsHooks(const SlideOpsHooks& hooks) {
  const SlideOpsHooks old = gSlideOps;
  if (hooks.trackValue) gSlideOps.trackValue = hooks.trackValue;
  if (hooks.fitToItemCount) gSlideOps.fitToItemCount = hooks.fitToItemCount;
  if (hooks.colourSliders) gSlideOps.colourSliders = hooks.colourSliders;
  if (hooks.invalSliders) gSlideOps.invalSliders = hooks.invalSliders;
  return old;
}

int32 NumRadixChoiceFormat(int32 key, int32 type) {
  switch (key) {
    case kRadixDecimal:
      if (!ValidType(type)) return kFormatUnsigned;
      return NumClass(type) == kNumClassSigned ? kFormatSigned
             : NumClass(type) == kNumClassUnsigned ? kFormatUnsigned
                                                   : kNumFormatFloat;
    case kRadixHex: case kRadixOctal: case kRadixBinary:
      return kFormatHex + key - kRadixHex;
    default:
      DBPrintf("what the heck was selected");
      return kFormatHex;
  }
}

// ---- Numeric ---------------------------------------------------------------------------------
int32 NumericOClickMethod(ObjHeap heap, int32 numeric, TransactionState* click, TransactionFrame* frame,
                          ActionParams* p) {
  const int32 answer = DDOOClickMethod(heap, numeric, click, frame, p);
  if (!answer || !IsObject(heap, numeric)) return answer;
  const int32 part = p->partId;
  if (answer == kClickTrack && IsArrowPart(part)) {
    IncDecState* s = IncDecOf(p);
    s->pressState = part == 2 || part == 6 ? kArrowUp : kArrowDown;
    SetStepKind(p, kIncKindNumeric);
    NameStepValue(p, nullptr);
    const int32 textPart = FindPart(heap, numeric, kPartNumText, 0);
    const TRecord text = textPart ? PartTextRecord(heap, textPart) : nullptr;
    int32 start = -1, end = -1;
    if (text && HoldsFocus(heap, numeric) && TGetSelection(text, &start, &end)) {
      s->selStart = int16(std::clamp(start, -1, 0x7FFF)), s->selEnd = int16(std::clamp(end, -1, 0x7FFF));
    } else {
      s->selEnd = -1;
    }
    return answer;
  }
  if (answer == kClickTrack && part == kPartFormatMark) {
    MenuHandle menu = NumRadixMenuSetup(heap, numeric);
    if (!menu) return kClickAbsorbed;
    int32 id = 0, item = 0;
    MPopUpMenuAt(menu, PointOf(click->point), &id, &item, 0, 0, 0);
    int32 key = 0;
    for (int32 k = kRadixDecimal; k <= kRadixBinary && item; ++k)
      if (MFindLItemByKey(menu, uInt32(k)) == item) key = k;
    MDisposeMenu(menu);
    if (id != kRadixMenuId) return kClickAbsorbed;
    p->window = NumRadixChoiceFormat(key, ValueType(heap, numeric));
    p->eventCode = kSubFormatChosen;
    EndAt(frame, numeric);
    return kActMenuComplete;
  }
  if (answer == kClickOperate && part == kPartNumText) {
    EndAt(frame, numeric);
    p->focusObject = numeric;
  } else if (answer == kClickOperate && part == kPartUnitLabel) {
    if (const int32 label = FindPart(heap, numeric, kPartUnitLabel, p->partOrder)) GetCachedUnitLabel(heap, label);
  }
  return answer;
}

namespace {

// A press on a text being fed a key goes straight to its editing: true
// when the frame's part is that text, with the reply.
[[gnu::noinline]] bool FedKeyPress(ObjHeap heap, int32 numeric, TransactionFrame* frame, ActionParams* p,
                                   int32* reply) {
  const int32 list = ObjWord(heap, numeric, kObjPartList / 4);
  const int32 n = list && OHIsUsedBlock(heap, list) ? ObjListCount(heap, list) : 0;
  const int32 part = frame->index >= 0 && frame->index < n && 4 + 4 * int64(n) <= OHBlockSize(heap, list)
                         ? Live(heap, ObjListGet(heap, list, frame->index))
                         : 0;
  if (!part || PartIdOf(heap, part) != kPartNumText || !((Flags(heap, part) | Flags(heap, numeric)) & kFedKey))
    return false;
  EndAt(frame, numeric);
  int32 r = ObjTextActivate(heap, numeric, part, kPartNumText, p, 0);
  p->partId = kPartNumText;
  *reply = DDOCheckReply(heap, numeric, part, kPartNumText, r);
  return true;
}

// The numeric's own replies after its parts and the data display level:
// the format menu's choice, the arrows' tracking, a committed text and the
// unit label.
[[gnu::noinline]] int32 NumericTail(ObjHeap heap, int32 numeric, TransactionFrame* frame, int32 action,
                                    ActionParams* p, int32 reply) {
  if (action == kActMenuComplete && p->eventCode == kSubFormatChosen) return FormatChosen(heap, numeric, p, reply);
  if (action == kActTrack && (reply & kReplyTracking)) {
    reply = ArrowTracking(heap, numeric, p, reply);
    if (!(reply & (kReplyTracking | kReplyFailed)) && DialogPanel(heap) && ObjClickOperates(heap, numeric) &&
        IsTextFocusClass(heap, numeric))
      FPFocusNumText(heap, numeric, frame);
    return reply;
  }
  if ((reply & kReplyCommitted) && p->partId == kPartNumText) return CommitText(heap, numeric, reply);
  if (p->partId == kPartUnitLabel &&
      ((action == kActOperate && !(reply & kReplyTracking)) || (reply & kReplyCommitted))) {
    const int32 label = FindPart(heap, numeric, kPartUnitLabel, p->partOrder);
    if (ApplyUnitLabelText(heap, numeric) & kReplyUnitOut) reply |= kReplyUnitChanged;
    ClearUnitLabelCache();
    reply = DDOCheckReply(heap, numeric, label, kPartUnitLabel, reply);
  }
  return reply;
}

// The numeric's do-it after the data display level answered a reply that
// may still change.
[[gnu::noinline]] int32 NumericPastLevel(ObjHeap heap, int32 numeric, TransactionFrame* frame, int32 action,
                                         ActionParams* p, bool key, int32 reply) {
  if (!IsObject(heap, numeric)) return reply;
  if (key && !(reply & kReplyPassFocus)) reply = NumericKey(heap, numeric, p, reply);
  // A press in the text that the click made this numeric's to focus, and
  // the tracking after it, go to the text part as keys do: the press makes
  // it the key focus, the moves extend its selection.
  if (!key && frame->mode == kLevelTarget && action == kActOperate && p->focusObject == numeric) {
    if (const int32 part = FindPart(heap, numeric, kPartNumText, 0)) {
      reply = ObjTextActivate(heap, numeric, part, kPartNumText, p, reply);
      p->partId = kPartNumText;
      reply = DDOCheckReply(heap, numeric, part, kPartNumText, reply);
    }
  }
  return NumericTail(heap, numeric, frame, action, p, reply);
}

// The last numeric whose header the do-it read: a do-it on the same
// numeric again reads it back while no block's layout has changed.
thread_local OHBlockMemo gDoitNumeric;

}  // namespace

int32 NumericODoitMethod(ObjHeap heap, int32 numeric, TransactionFrame* frame, int32 action, ActionParams* p) {
  if (IsPanelLevelAction(action)) return 0;
  int32 usable = 0, cls = 0;
  if (numeric <= 0 || !OHUsedBlockReadMemo(&gDoitNumeric, heap, numeric, &usable, &cls) ||
      usable < int32(sizeof(ObjLeadingFields)) || !p || !OnStack(frame, 2)) {
    DBAssert(kSource, __LINE__, "a numeric action without its frame");
    return 0;
  }
  int32 reply = 0;
  if (frame->mode == kLevelPart && action == kActOperate && p->eventCode == kSubPress &&
      FedKeyPress(heap, numeric, frame, p, &reply))
    return NumericTail(heap, numeric, frame, action, p, reply);
  const bool key = frame->mode == kLevelTarget && action == kActOperate && KeyEvent(p);
  if (key && p->keyCode == kKeyChar && p->character == 10) p->keyCode = kKeyEnterCode;
  // The checks above are the data display level's own: nothing since has
  // changed the heap.
  reply = DDOODoitChecked(heap, numeric, frame, action, p);
  if (reply & kReplyFailed) return reply;
  // Past here a reply changes only under these conditions; without any of
  // them it comes back as it is, whether the numeric is still an object
  // or not (the check only reads).
  if (!key && !(frame->mode == kLevelTarget && action == kActOperate) && action != kActMenuComplete &&
      action != kActTrack && !(reply & kReplyCommitted) && p->partId != kPartUnitLabel)
    return reply;
  return NumericPastLevel(heap, numeric, frame, action, p, key, reply);
}

// ---- Ring ------------------------------------------------------------------------------------
namespace {

// Pops the ring's menu and stores the choice: a picture ring's grid at
// the point (at its picture part for a key), else the text menu over its
// face, placed below the display part when that opened it.
int32 OpenRingMenu(ObjHeap heap, int32 ring, TransactionFrame* frame, ActionParams* p, bool byKey, int32 reply) {
  const int32 type = ValueType(heap, ring) & ~0x10;
  UPtr data = DataAt(heap, ring, kDataRead);
  if (!data || type < 1 || type > kTDCXT) return reply | kReplyFailed;
  int32 current = 0;
  ConvertNum(type, data, kTDI32, &current);
  int32 choice = 0;
  if (const int32 pict = FindPart(heap, ring, kPartRingPict, 0)) {
    Point at = p->point;
    if (byKey) at = Point{BoundsOf(heap, pict).top, BoundsOf(heap, pict).left};
    choice = RingPictMenu(heap, ring, at, current);
  } else {
    const bool place = p->partId == kPartRingDisplay;
    int32 display = 0;
    if (place) RingDrawDisplay(heap, ring, &display);
    choice = RingPopupMenu(heap, ring, 0, current, place ? 1 : 0);
    if (place && Live(heap, display)) OInval(heap, display, kInvalAll);
  }
  if (choice > 0 && choice - 1 != current) {
    data = DataAt(heap, ring, kDataWrite);
    if (!data) return reply | kReplyFailed;
    const int32 value = choice - 1;
    uChar stored[32] = {};
    ConvertNum(kTDI32, &value, type, stored);
    std::memcpy(data, stored, size_t(NumSize(type)));
    RecheckArrayEltRange(heap, ring);
    reply |= kReplyChanged | Show(heap, ring, data);
  }
  reply &= ~kReplyTracking;
  if (DialogPanel(heap)) FPFocusNumText(heap, ring, frame);
  return reply;
}

bool RingOpeningPart(int32 id) {
  return id == kPartRingFace || id == kPartRingPict || id == kPartRingFrame || id == kPartRingArrow ||
         id == kPartRingDisplay;
}

}  // namespace

int32 RingOClickMethod(ObjHeap heap, int32 ring, TransactionState* click, TransactionFrame* frame,
                       ActionParams* p) {
  if (!IsObject(heap, ring) || !click || !p) return kClickNotHit;
  // A picture that reaches past the frame's inside is hit only inside it.
  const int32 pict = FindPart(heap, ring, kPartRingPict, 0), box = FindPart(heap, ring, kPartRingFrame, 0);
  Rect saved{};
  bool clipped = false;
  if (pict && box) {
    const Rect outer = BoundsOf(heap, box);
    const Rect inner{int16(outer.top + 1), int16(outer.left + 1), int16(outer.bottom - 1), int16(outer.right - 1)};
    saved = BoundsOf(heap, pict);
    if (saved.top < inner.top || saved.left < inner.left || saved.bottom > inner.bottom || saved.right > inner.right) {
      Rect cut{};
      DSectRect(&saved, &inner, &cut);
      std::memcpy(*heap + pict + kObjBounds, &cut, sizeof cut);
      clipped = true;
    }
  }
  int32 answer = NumericOClickMethod(heap, ring, click, frame, p);
  if (clipped && IsObject(heap, pict)) std::memcpy(*heap + pict + kObjBounds, &saved, sizeof saved);
  if (p->partId == kPartRingDisplay) {
    if (answer == kClickOperate && click->mode == kClickPress) answer = kClickTrack;
    else if (answer == kClickCursorAnswer && (click->mode & 1)) CursorOf(p)->cursor = kCursorStandard;
  }
  return answer;
}

int32 RingODoitMethod(ObjHeap heap, int32 ring, TransactionFrame* frame, int32 action, ActionParams* p) {
  if (IsPanelLevelAction(action)) return 0;
  if (p) SetStepKind(p, kIncKindRing);
  int32 reply = NumericODoitMethod(heap, ring, frame, action, p);
  if ((reply & kReplyFailed) || !IsObject(heap, ring) || !p || !OnStack(frame, 2)) return reply;
  const bool key = frame->mode == kLevelTarget && action == kActOperate && KeyEvent(p);
  if (key && int32(ExtWord(heap, kHeapExtKeyFocus)) == ring &&
      ((p->keyCode == kKeyChar && p->character == ' ') || p->keyCode == kKeyCtrlDownCode))
    return OpenRingMenu(heap, ring, frame, p, true, reply);
  if (action == kActTrack && (reply & kReplyTracking) && p->eventCode == kSubPress && RingOpeningPart(p->partId))
    return OpenRingMenu(heap, ring, frame, p, false, reply);
  return reply;
}

// ---- Slide and Knob ------------------------------------------------------------------------
int32 SlideOClickMethod(ObjHeap heap, int32 slide, TransactionState* click, TransactionFrame* frame,
                        ActionParams* p) {
  const int32 answer = NumericOClickMethod(heap, slide, click, frame, p);
  if (!answer || !IsObject(heap, slide)) return answer;
  const int32 part = p->partId;
  if (answer == kClickCursorAnswer && (part == kPartSlider || part == kPartThumb || part == kPartFill)) {
    const Point at = PointOf(click->point);
    CursorOf(p)->rect = Rect{at.v, at.h, int16(at.v + 1), int16(at.h + 1)};
  } else if (answer == kActColourChange) {
    bool slider = part == kPartFill;
    if ((part == 6 || part == 7) && (Flags(heap, slide) & kSlideTwoColours)) {
      int32 first = -1, second = -1;
      SlideColorChangeSliders(heap, slide, &first, &second);
      slider = (part == 6 ? first : second) >= 0;
    }
    if (slider) p->eventCode = kColourSliderRequest;
  }
  return answer;
}

namespace {

// After the numeric's do-it: the slider displays, the active slider, the
// value under the mouse and the redraws the reply asks for.
int32 SlideAfter(ObjHeap heap, int32 slide, TransactionFrame* frame, int32 action, ActionParams* p, int32 reply,
                 UHandle oldCopy) {
  // The copy is a handle: read where it lies at each use.
  const auto old = [oldCopy]() -> const uChar* { return oldCopy ? *oldCopy : nullptr; };
  const int32 part = p->partId, order = p->partOrder;
  const bool key = action == kActOperate && KeyEvent(p);
  const bool tracking = action == kActTrack && (reply & kReplyTracking);
  const int32 active = ActiveIndex(heap, slide);
  if (key && (p->keyCode == kKeyRelease || (p->keyCode == kKeyEnterCode && !DialogPanel(heap)))) {
    const int32 display = FindPart(heap, slide, kPartSliderDisplay, active);
    if (display && (Flags(heap, display) & kObjFlagHidden)) OInval(heap, display, kInvalAll);
  }
  const UPtr data = SliderValue(heap, slide, DataAt(heap, slide, kDataWrite), active);
  if (part == kPartHousing && tracking && (reply & kReplyChanged) && data)
    ObjUpdateDataBounds(heap, slide, old(), DataAt(heap, slide, kDataRead), kBoundsKind);
  else if (part == kPartHousing && (reply & 0x280) && data) {
    ObjUpdateDataBounds(heap, slide, nullptr, DataAt(heap, slide, kDataRead), kBoundsKind);
    reply &= ~0x200;
  }
  // Tab and the read-back keys walk the slider displays of a focused slide.
  const int32 k = p->keyCode;
  if (key && (k == kKeyTab || k == kKeyShiftTab || k == kKeyReadBack || k == kKeyReset)) {
    const int32 count = SliderCount(heap, slide);
    if (frame->mode == kLevelPart && (reply & kReplyPassFocus) && part == kPartSliderDisplay) {
      const int32 next = order + (k == kKeyShiftTab ? -1 : 1);
      if (next >= 0 && next < count)
        return FocusSliderDisplay(heap, slide, next, reply & ~kReplyPassFocus, frame, p, 1);
      const int32 display = FindPart(heap, slide, kPartSliderDisplay, order);
      if (display && (Flags(heap, display) & kObjFlagHidden)) OInval(heap, display, kInvalAll);
    } else if (frame->mode == kLevelTarget && !(reply & kReplyPassFocus) &&
               int32(ExtWord(heap, kHeapExtKeyFocus)) == slide) {
      const int32 start = k == kKeyShiftTab ? count - 1 : k == kKeyTab ? 0 : active;
      if (FindPart(heap, slide, kPartSliderDisplay, start))
        return FocusSliderDisplay(heap, slide, start, reply, frame, p, 1);
    }
    return reply;
  }
  if ((tracking || (reply & kReplyChanged)) && (part == kPartThumb || part == kPartSliderDisplay) &&
      order != active && order >= 0 && order < SliderCount(heap, slide))
    SetActiveIndex(heap, slide, order);
  if (tracking && !(reply & kReplyChanged) && !IsArrowPart(part) && part != kPartSliderDisplay) {
    UPtr value = SliderValue(heap, slide, DataAt(heap, slide, kDataWrite), ActiveIndex(heap, slide));
    int32 changed = 0;
    if (value && TrackSlider(heap, slide, frame, p, value, &changed) == kNoErr && changed) {
      reply |= kReplyChanged;
      ObjUpdateDataBounds(heap, slide, old(), DataAt(heap, slide, kDataRead), kBoundsKind);
    }
  }
  if (action == kActTrack && (p->eventCode == kSubRelease || p->eventCode == kSubEnd)) reply &= ~kReplyTracking;
  if ((Flags(heap, slide) & kSlideTextLabels) && part == kPartSliderDisplay &&
      ((reply & kReplyCommitted) || (action == kActCtrlOp && (reply & kReplyReported)))) {
    ScaleFitToItemCount(heap, slide);
    // The other sliders' displays take the edited display's items.
    if (gSlideOps.invalSliders) gSlideOps.invalSliders(heap, slide, FindPart(heap, slide, kPartSliderDisplay, order));
    OInval(heap, slide, kInvalValue);
  }
  if ((reply & kReplyRedraw) && (part == kPartThumb || part == kPartSlider)) {
    if (part == kPartThumb && ObjClass(heap, slide) == kClsKnob) KnobNeedleLength(heap, slide, order);
    ObjUpdateDataBounds(heap, slide, nullptr, DataAt(heap, slide, kDataRead), kBoundsKind);
  }
  if (OHBlockSize(heap, slide) >= 4 * (kSlideColourListWord + 1) && ObjWord(heap, slide, kSlideColourListWord) &&
      (reply & 0x10380) && (part == kPartHousing || part == kPartSlider || part == kPartColourList))
    ObjSetWord(heap, slide, 0, int32(Flags(heap, slide) | kSlideColoursChanged));
  return reply;
}

}  // namespace

int32 SlideODoitMethod(ObjHeap heap, int32 slide, TransactionFrame* frame, int32 action, ActionParams* p) {
  if (IsPanelLevelAction(action)) return 0;
  if (!IsObject(heap, slide) || !p || !OnStack(frame, 2)) return NumericODoitMethod(heap, slide, frame, action, p);
  const bool operate = action == kActTrack || action == kActOperate;
  // The old value, copied aside for the redisplay; freed on every road.
  UHandle old = nullptr;
  if (operate) {
    const TypeDescriptor* td = ValueTD(heap, slide);
    const int32 size = td ? DataSize(td) : 0;
    const UPtr now = DataAt(heap, slide, kDataRead);
    if (size > 0 && now) {
      old = DSNewHandle(size);
      if (!old) return kReplyFailed;
      std::memcpy(*old, DataAt(heap, slide, kDataRead), size_t(size));
    }
  }
  const int32 part = p->partId;
  const bool press = action == kActTrack && p->eventCode == kSubPress;
  const bool stepKey = action == kActOperate && KeyEvent(p) && (p->keyCode == kKeyUp || p->keyCode == kKeyDown);
  const int16 state = IncDecOf(p)->pressState;
  if ((press && ((part == 6 && state == kArrowUp) || (part == 7 && state == kArrowDown))) ||
      (stepKey && frame->mode == kLevelTarget))
  {
    SetStepKind(p, kIncKindSlide);
    NameStepValue(p, SliderValue(heap, slide, DataAt(heap, slide, kDataWrite), ActiveIndex(heap, slide)));
  }
  int32 reply = NumericODoitMethod(heap, slide, frame, action, p);
  if (!(reply & kReplyFailed) && IsObject(heap, slide)) reply = SlideAfter(heap, slide, frame, action, p, reply, old);
  if (old) DSDisposeHandle(old);
  return reply;
}
