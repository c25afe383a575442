// The properties every panel control shares: visibility, disabling, the key
// focus, blinking, position, size and the caption.
#include <algorithm>
#include <cstring>

#include "engine/objswap.h"
#include "engine/typemgr.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/printf.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/wactive.h"
#include "mgsource/window/wport.h"
#include "panel/attrcall.h"
#include "panel/blink.h"
#include "panel/ctrl_internal.h"
#include "panel/fpexec.h"
#include "panel/fppanel.h"
#include "panel/oinval.h"
#include "panel/osupport.h"
#include "panel/transact.h"

using ctrl::Flags;
using ctrl::IsObj;

namespace {

const char kSource[] = "ddoattr";

constexpr int32 kActOperate = 15;
constexpr int32 kSubKeyDown = 6, kKeyTakeFocus = 43;
constexpr int16 kPartCaption = 82;
constexpr uInt32 kFlagHidden = 0x8, kFlagGreyed = 0x80, kFlagDisabled = 0x200;
constexpr int32 kPositionLimit = 16000;
constexpr int32 kReplyGeometry = 0x30080, kReplyCaption = 0x10080;

// The table: Visible, Disabled, Key Focus, Blinking, Position (Left, Top),
// Bounds (Width, Height), Caption, Caption Visible.  Left and Top are
// signed: positions left of or above the panel's origin read back as such.
struct __attribute__((packed)) Element {
  uInt16 size;
  uChar code, flags;
};
struct __attribute__((packed)) PairTD {
  uInt16 size;
  uChar code, flags;
  uInt16 count;
  Element a, b;
};
struct __attribute__((packed)) StringTD {
  uInt16 size;
  uChar code, flags;
  int32 bound;
};
struct __attribute__((packed)) DDOTable {
  uInt16 size;
  uChar code, flags;
  uInt16 count;
  Element visible, disabled, focus, blinking;
  PairTD position, bounds;
  StringTD caption;
  Element captionVisible;
};
constexpr DDOTable kTable = {
    sizeof(DDOTable), kTDCluster, 0, 8,
    {4, kTDBoolean, 0}, {4, kTDU8, 0}, {4, kTDBoolean, 0}, {4, kTDBoolean, 0},
    {sizeof(PairTD), kTDCluster, 0, 2, {4, kTDI32, 0}, {4, kTDI32, 0}},
    {sizeof(PairTD), kTDCluster, 0, 2, {4, kTDU32, 0}, {4, kTDU32, 0}},
    {sizeof(StringTD), kTDString, 0, -1},
    {4, kTDBoolean, 0},
};
static_assert(sizeof(PairTD) % 2 == 0 && sizeof(StringTD) == 8, "property table elements");
const bool kEntered = (SetAttrTable(0, reinterpret_cast<const TypeDescriptor*>(&kTable), &ddoattr), true);

enum : int32 {
  kVisible = 0, kDisabled, kKeyFocus, kBlinking, kPosition, kLeft, kTop, kBounds, kWidth, kHeight, kCaption,
  kCaptionVisible,
};

// Visible, Disabled and the caption act on a type definition around the
// control when there is one.
int32 TargetOf(ObjHeap heap, int32 object) {
  const int32 owner = ObjWord(heap, object, kObjOwner / 4);
  return IsObj(heap, owner) && ObjClass(heap, owner) == kClsTypeDefinition ? owner : object;
}

// The key focus is given up when it lies in the object the call addresses.
void ReleaseFocusInside(ObjHeap heap) {
  if (CompareAttrPath(heap, static_cast<const TransactionFrame*>(TRStackTop()))) FPReleaseKeyFocus(heap);
}

Rect Bounds(ObjHeap heap, int32 object) {
  Rect r{0, 0, 0, 0};
  // One header read gives the class whose rectangle method the send would
  // reach (the record and clamp the dispatcher uses); a method that answers
  // the bounds of a block holding the leading fields is not sent to.
  int32 usable = 0, cls = 0;
  if (heap && *heap && object > 0 && OHUsedBlockRead(heap, object, &usable, &cls) && usable >= kObjPartList + 4) {
    if (OGetRectAnswersBounds(OFindClassMethod(cls, kMsgOGetRect))) {
      std::memcpy(&r, *heap + object + kObjBounds, sizeof r);
      return r;
    }
  }
  OGetRect(heap, object, &r, kRectBounds);
  return r;
}

// Bounds of an object whose block the caller checked (usable bytes, class
// cls) with nothing changed since.
Rect CheckedBounds(ObjHeap heap, int32 object, int32 usable, int32 cls) {
  Rect r{0, 0, 0, 0};
  if (usable >= kObjPartList + 4 && OGetRectAnswersBounds(OClassMethodAsSent(cls, kMsgOGetRect))) {
    std::memcpy(&r, *heap + object + kObjBounds, sizeof r);
    return r;
  }
  OGetRect(heap, object, &r, kRectBounds);
  return r;
}

int32 DisabledValue(uInt32 flags) { return (flags & kFlagGreyed) ? 2 : (flags & kFlagDisabled) ? 1 : 0; }

bool FocusInside(ObjHeap heap, int32 object) {
  const int32 focus = int32(ctrl::Ext(heap, kHeapExtKeyFocus));
  if (!focus) return false;
  if (focus == object) return true;
  if (!ObjIsA(heap, object, kClsSlide)) return false;
  // A slide or knob has the focus when one of its parts has it.
  int32 o = focus;
  for (int32 depth = 0; IsObj(heap, o) && depth < 64; ++depth) {
    o = ObjWord(heap, o, kObjOwner / 4);
    if (o == object) return true;
  }
  return false;
}

int32 TakeFocus(ObjHeap heap, int32 object, WindowRef window) {
  WUpdate(window);
  void* const previous = TRPushFrame();
  int32 reply = 0;
  if (TRStackTop() && GetObjAttrRec(heap, object, nullptr, nullptr)) {
    ActionParams p{};
    p.eventCode = kSubKeyDown;
    p.keyCode = kKeyTakeFocus;
    p.focusObject = object;
    p.selStart = 0;
    p.selEnd = 0x7FFFFFFF;
    const int32 root = int32(ctrl::Ext(heap, kHeapExtRoot));
    if (IsObj(heap, root)) reply = ODoit(heap, root, TRStackTop(), kActOperate, reinterpret_cast<int32*>(&p));
  }
  TRSetStackTop(previous);
  return reply & kAttrReplyMemFull;
}

// The text of a text record into the value's string handle (a new one
// when the value holds none).  0x10 when memory runs out.
int32 PutString(void* value, const uChar* bytes, int32 n) {
  UHandle h;
  std::memcpy(&h, value, sizeof h);
  if (h && DSCheckHandle(h) != kNoErr) return 0;
  if (!h) {
    if (!(h = DSNewHandle(4 + n))) return kAttrReplyMemFull;
    std::memcpy(value, &h, sizeof h);
  } else if (DSSetHandleSize(h, 4 + n) != kNoErr) {
    return kAttrReplyMemFull;
  }
  PutNative32(*h, uInt32(n));
  if (n) std::memcpy(*h + 4, bytes, size_t(n));
  return 0;
}

// The value's string, checked; null when it is none.
const LStr* GetString(const void* value) {
  UHandle h;
  std::memcpy(&h, value, sizeof h);
  if (!h || DSCheckHandle(h) != kNoErr || DSGetHandleSize(h) < 4) return nullptr;
  const int32 n = int32(GetNative32(*h));
  return n >= 0 && n <= DSGetHandleSize(h) - 4 ? reinterpret_cast<const LStr*>(*h) : nullptr;
}

int32 Visible(ObjHeap heap, int32 target, const TypeDescriptor* td, AttrCallRec* rec) {
  const bool shown = !(Flags(heap, target) & kFlagHidden);
  if (rec->read) {
    AttrPutBool(td, rec->value, shown);
    return 0;
  }
  bool on = false;
  if (!AttrGetBool(td, rec->value, &on) || on == shown) return 0;
  ReleaseFocusInside(heap);
  OInval(heap, target, kInvalAll);
  ctrl::SetFlags(heap, target, Flags(heap, target) ^ kFlagHidden);
  const int32 owner = ObjWord(heap, target, kObjOwner / 4);
  if (IsObj(heap, owner) && ObjClass(heap, owner) == kClsFPDataController) {
    FPRebindTransferEntry(heap, owner);
    if (on) FPTransferDCOData(heap, owner, nullptr);
  }
  OInval(heap, target, kInvalAll);
  return kReplyGeometry;
}

int32 Disabled(ObjHeap heap, int32 target, const TypeDescriptor* td, AttrCallRec* rec) {
  const int32 old = DisabledValue(Flags(heap, target));
  if (rec->read) {
    AttrGetNum(td, rec->value, kTDI32, &old);
    return 0;
  }
  int32 v = old;
  if (!AttrPutNum(td, rec->value, kTDI32, &v)) return 0;
  if (v < 0 || v > 2) v = old;
  if (v == old) return 0;
  ReleaseFocusInside(heap);
  uInt32 f = Flags(heap, target) & ~(kFlagGreyed | kFlagDisabled);
  if (v == 2) f |= kFlagGreyed | kFlagDisabled;
  if (v == 1) f |= kFlagDisabled;
  ctrl::SetFlags(heap, target, f);
  int32 reply = kAttrReplyState;
  if (old == 2 || v == 2) {
    const Rect r = Bounds(heap, target);
    InvalPanelRect(heap, &r);
    reply |= kAttrReplyRedrawn;
  }
  return reply;
}

int32 KeyFocus(ObjHeap heap, int32 object, const TypeDescriptor* td, AttrCallRec* rec) {
  const bool has = FocusInside(heap, object);
  if (rec->read) {
    AttrPutBool(td, rec->value, has);
    return 0;
  }
  bool on = false;
  if (!AttrGetBool(td, rec->value, &on)) return 0;
  const WindowRef window = WindowRef(ctrl::Ext(heap, kHeapExtWindow));
  if (!window || WGetActiveWindow() != window) return 0;
  if (!on) {
    if (int32(ctrl::Ext(heap, kHeapExtKeyFocus)) == object) FPReleaseKeyFocus(heap);
    return 0;
  }
  return int32(ctrl::Ext(heap, kHeapExtKeyFocus)) == object ? 0 : TakeFocus(heap, object, window);
}

// The object's block checked by ddoattr (usable bytes, class cls), with
// nothing changed since.
int32 Position(ObjHeap heap, int32 object, int32 usable, int32 cls, const TypeDescriptor* td, int32 mode,
               AttrCallRec* rec) {
  AttrPair pair{};
  if (mode == 1 || mode == 2) {
    // One element, as AttrSplitPair gives it.
    if (!td || !rec->value) return 0;
    pair.td[mode - 1] = td;
    pair.value[mode - 1] = rec->value;
  } else if (!AttrSplitPair(td, rec->value, mode, &pair)) {
    return 0;
  }
  const Rect r = CheckedBounds(heap, object, usable, cls);
  int32 at[2] = {r.left, r.top};
  if (rec->read) {
    for (int32 k = 0; k < 2; ++k)
      if (pair.td[k]) AttrGetNum(pair.td[k], pair.value[k], kTDI32, &at[k]);
    return 0;
  }
  int32 next[2] = {at[0], at[1]};
  for (int32 k = 0; k < 2; ++k) {
    if (!pair.td[k]) continue;
    // A 32-bit integer is copied, as AttrPutNum copies it.
    if (pair.td[k]->code == kTDI32 && pair.value[k])
      std::memcpy(&next[k], pair.value[k], sizeof next[k]);
    else
      AttrPutNum(pair.td[k], pair.value[k], kTDI32, &next[k]);
  }
  for (int32& v : next) v = std::clamp(v, -kPositionLimit, kPositionLimit);
  if (next[0] == at[0] && next[1] == at[1]) return 0;
  if (!rec->hidden) OInval(heap, object, kInvalAll);
  OOffset(heap, object, Point{int16(next[1] - at[1]), int16(next[0] - at[0])});
  if (!rec->hidden) OInval(heap, object, kInvalAll);
  return kReplyGeometry;
}

int32 Size(ObjHeap heap, int32 object, const TypeDescriptor* td, int32 mode, AttrCallRec* rec) {
  AttrPair pair;
  if (!rec->read || !AttrSplitPair(td, rec->value, mode, &pair)) return 0;
  const Rect r = Bounds(heap, object);
  const uInt32 size[2] = {uInt32(r.right - r.left), uInt32(r.bottom - r.top)};
  for (int32 k = 0; k < 2; ++k)
    if (pair.td[k]) AttrGetNum(pair.td[k], pair.value[k], kTDU32, &size[k]);
  return 0;
}

int32 Caption(ObjHeap heap, int32 target, const TypeDescriptor* td, AttrCallRec* rec) {
  if (td->code != kTDString) return 0;
  const int32 caption = FindPart(heap, target, kPartCaption, 0);
  const TRecord text = IsObj(heap, caption) ? PartTextRecord(heap, caption) : nullptr;
  const LStr* shown = text ? ctrl::CheckedLStr(TGetText(text)) : nullptr;
  if (rec->read) {
    return shown ? PutString(rec->value, reinterpret_cast<const uChar*>(shown) + 4, shown->cnt)
                 : PutString(rec->value, nullptr, 0);
  }
  const LStr* next = GetString(rec->value);
  if (!text || !next || (shown && LStrCmp(next, shown) == 0)) return 0;
  int32 reply = kReplyCaption;
  if (!rec->hidden) OInval(heap, caption, kInvalAll);
  if (TReplaceText(text, reinterpret_cast<const uChar*>(next) + 4, next->cnt) != kNoErr) return kAttrReplyMemFull;
  OSize(heap, caption, nullptr, 0);
  rec->partId = kPartCaption;
  rec->partOrder = 0;
  if (!rec->hidden) {
    OInval(heap, caption, kInvalAll);
    reply |= kAttrReplyRedrawn;
  }
  return reply;
}

int32 CaptionVisible(ObjHeap heap, int32 target, const TypeDescriptor* td, AttrCallRec* rec) {
  const int32 caption = FindPart(heap, target, kPartCaption, 0);
  const bool shown = IsObj(heap, caption) && !(Flags(heap, caption) & kFlagHidden);
  if (rec->read) {
    AttrPutBool(td, rec->value, shown);
    return 0;
  }
  bool on = false;
  if (!IsObj(heap, caption) || !AttrGetBool(td, rec->value, &on) || on == shown) return 0;
  ReleaseFocusInside(heap);
  int32 reply = kReplyCaption;
  if (!rec->hidden) OInval(heap, caption, kInvalAll);
  ctrl::SetFlags(heap, caption, Flags(heap, caption) ^ kFlagHidden);
  if (!rec->hidden) {
    OInval(heap, caption, kInvalAll);
    reply |= kAttrReplyRedrawn;
  }
  return reply;
}

}  // namespace

int32 ddoattr(ObjHeap heap, int32 object, AttrCallRec* rec) {
  (void)kEntered;
  // The object's block checked once: the value's descriptor and the
  // position's pair are read outside the heap.
  int32 usable = 0, cls = 0;
  if (!rec || object <= 0 || !OHUsedBlockRead(heap, object, &usable, &cls) ||
      usable < int32(sizeof(ObjLeadingFields)))
    return 0;
  return DDOAttrChecked(heap, object, usable, cls, rec);
}

int32 DDOAttrChecked(ObjHeap heap, int32 object, int32 usable, int32 cls, AttrCallRec* rec) {
  const TypeDescriptor* td = AttrValueTD(rec);
  if (!td) return 0;
  switch (rec->selector) {
    case kVisible: return Visible(heap, TargetOf(heap, object), td, rec);
    case kDisabled: return Disabled(heap, TargetOf(heap, object), td, rec);
    case kKeyFocus: return KeyFocus(heap, object, td, rec);
    case kBlinking:
      if (rec->read) {
        AttrPutBool(td, rec->value, BlinkFindObject(heap, object) > 0);
      } else {
        bool on = false;
        // A VI that does not blink refuses the start: the diagram's write
        // changes nothing there.
        if (AttrGetBool(td, rec->value, &on) && (!on || PanelCanBlink(heap)))
          SetObjBlinking(heap, object, on ? 1 : 0);
      }
      return 0;
    case kPosition: case kLeft: case kTop:
      return Position(heap, object, usable, cls, td, rec->selector - kPosition, rec);
    case kBounds: case kWidth: case kHeight: return Size(heap, object, td, rec->selector - kBounds, rec);
    case kCaption: return Caption(heap, TargetOf(heap, object), td, rec);
    case kCaptionVisible: return CaptionVisible(heap, TargetOf(heap, object), td, rec);
    default: {
      char line[64];
      SPrintf(line, "bad index in ddoattr %ld", long(rec->selector));
      DBPrintf("%s", line);
      DBAssert(kSource, __LINE__, "a property selector without a case");
      return 0;
    }
  }
}
