// New values shown by the controls and their image and text parts.
#include "panel/ctrldisplay.h"

#include <algorithm>
#include <cstring>

#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/imagegeom.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "mgsource/path.h"
#include "mgsource/printf.h"
#include "mgsource/window/textdraw.h"
#include "mgsource/window/textedit.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/wport.h"
#include "panel/blink.h"
#include "panel/booltext.h"
#include "panel/ctrl_internal.h"
#include "panel/ctrldraw.h"
#include "panel/datageom.h"
#include "panel/methsupport.h"
#include "panel/objdraw.h"
#include "panel/objload.h"
#include "panel/oinit.h"
#include "panel/oinval.h"
#include "panel/osupport.h"
#include "panel/paneldisplay.h"
#include "panel/rangecheck.h"
#include "panel/textparts.h"
#include "panel/transact.h"
#include "panel/zktag.h"

using namespace ctrl;

namespace {

const char kSourceFile[] = "ctrldisplay";

constexpr int32 kMultiLabelIndexWord = 10;
constexpr uInt32 kTypeDefGreyed = 0x2 | 0x10000;

bool NoValue(const void* value, int32 line) {
  if (value) return false;
  DBAssert(kSourceFile, line, "oDisplayVal: no value to display");
  return true;
}

// Steps 1 to 4 of a data display object's display: the value asserted, a
// hidden object shows nothing, the range state updated (drawing deferred
// while greyed), an unchanged value shows nothing more.  False when the
// display is over, *reply holding its answer.
bool ValueSteps(ObjHeap heap, int32 object, const void* old, const void* value, int32* reply,
                const TypeDescriptor** read = nullptr) {
  *reply = 0;
  // One read of the block's header checks the object and sizes it for its
  // range word.
  int32 usable = 0;
  if (NoValue(value, __LINE__) || object <= 0 || !OHUsedBlockInfo(heap, object, &usable, nullptr) ||
      usable < int32(sizeof(ObjLeadingFields)) || Hidden(heap, object))
    return false;
  const uInt16 range = usable >= kRangeWordByte + 2 ? GetNative16(*heap + object + kRangeWordByte) : 0;
  if ((range & kRangeChecked) && !(range & kRangeKeepState)) {
    DisplaySwitchScope defer(gDeferDrawing, Greyed(heap, object) ? 1 : gDeferDrawing);
    *reply |= UpdateRangeFlags(heap, object, value);
  }
  if (old) {
    const TypeDescriptor* td = DisplayTD(heap, object);
    if (read) *read = td;
    const int32 size = td ? DataSize(td) : 0;
    if (size > 0 && std::memcmp(old, value, size_t(size)) == 0) return false;
  }
  return true;
}

// Step 5: a greyed object or a deferred display invalidates its value parts.
bool Deferred(ObjHeap heap, int32 object, int32* reply) {
  if (!Greyed(heap, object) && !gDeferDrawing) return false;
  OInval(heap, object, kInvalValue);
  *reply |= kReplyInvalidated;
  return true;
}

int16 Index16(const void* value) {
  int16 i = 0;
  std::memcpy(&i, value, sizeof i);
  return i;
}

// Draws the image of a multi-image in its bounds in its colours (black and
// white on black-and-white ports); nothing for image 0.
void DrawImageNow(ObjHeap heap, int32 cosmetic) {
  const int32 image = ObjWord(heap, cosmetic, kObjImage / 4) & 0xFFFF;
  if (!image) return;
  const Rect r = BoundsOf(heap, cosmetic);
  IDraw(image, nullptr, &r, PartFore(heap, cosmetic), PartBack(heap, cosmetic), kBlack, kWhite);
}

// The image entries of a multi-image that lie inside its block.
int32 ImageEntries(ObjHeap heap, int32 o, int32 entry) {
  if (!Has(heap, o, kObjImageList)) return 0;
  return std::clamp<int32>(ObjInt16(heap, o, kObjImageCount), 0, (OHBlockSize(heap, o) - kObjImageList) / entry);
}

// The text record of a text part.
TRecord TextOf(ObjHeap heap, int32 part) { return Has(heap, part, kObjText + 4) ? PartTextRecord(heap, part) : nullptr; }

// Whether the label's text record is the panel's focus text and the label
// refuses values while it is.
bool IsRefusingFocusText(ObjHeap heap, int32 label, TRecord text) {
  return text && Ext(heap, kHeapExtKeyFocus) && Ext(heap, kHeapExtFocusText) == uInt32(uintptr_t(text)) &&
         (Flags(heap, label) & kFlagFocusRefuses);
}
bool IsFocusText(ObjHeap heap, TRecord text) {
  return text && Ext(heap, kHeapExtKeyFocus) && Ext(heap, kHeapExtFocusText) == uInt32(uintptr_t(text));
}

// The string list of a multi-label and its count; 0 without a list that
// holds its count.
UHandle StringList(ObjHeap heap, int32 label, int32* count) {
  *count = 0;
  if (!Has(heap, label, kObjStringList + 4)) return nullptr;
  const UHandle list = reinterpret_cast<UHandle>(uintptr_t(uInt32(ObjWord(heap, label, kObjStringList / 4))));
  if (!list || AZCheckHandle(list) != kNoErr || AZGetHandleSize(list) < 4) return nullptr;
  *count = std::max<int32>(0, int32(GetNative32(*list)));
  return list;
}

// A fitted text part whose text changed: the control is laid out again
// around it (0x20080).
int32 RefitAround(ObjHeap heap, int32 object, int32 part, int32 partId) {
  if (!(Flags(heap, part) & kFlagFitted)) return 0;
  OInval(heap, object, kInvalAll);
  OSize(heap, part, nullptr, 0);
  OSize(heap, object, nullptr, partId);
  OInval(heap, object, kInvalAll);
  return kReplyInvalidated | kReplyResized;
}

// The digital display (part 10) of a number control: its text.
int32 ShowDigital(ObjHeap heap, int32 object, const void* value, int32 code, bool units, bool refit) {
  const int32 part = PartOf(heap, object, kPartDigitalText);
  if (!part) return 0;
  NumberText text;
  NumberToText(heap, object, value, code, FormatOf(heap, object), units, &text);
  if (!PartTakes(heap, part, Takes::kText)) return 0;
  int32 reply = ODisplayValObj(heap, part, 0, text.lstr());
  if (refit) reply |= RefitAround(heap, object, part, kPartDigitalText);
  return reply;
}

// An empty long string.
const int32 kNoText = 0;
const LStr* EmptyText() { return reinterpret_cast<const LStr*>(&kNoText); }

// The string a handle cell (a pointer to the handle) holds, or an empty one.
const LStr* CellString(const void* cell) {
  UHandle h = nullptr;
  if (cell) std::memcpy(&h, cell, sizeof h);
  const LStr* s = CheckedLStr(h);
  return s ? s : EmptyText();
}
UHandle CellHandle(const void* cell) {
  UHandle h = nullptr;
  if (cell) std::memcpy(&h, cell, sizeof h);
  return h;
}

// The state a Boolean shows for a value: 1 or 0, or 2 and 3 for a pressed
// Boolean that shows the transitions.
int32 BoolState(const void* value, bool pressed) {
  const bool on = *static_cast<const uChar*>(value) != 0;
  return pressed ? (on ? 2 : 3) : (on ? 1 : 0);
}

}  // namespace

// ---- Shared operations ---------------------------------------------------------------------

void DrawTransparentMark(const Rect* rect, int32 kind) {
  if (!rect) return;
  const Rect r = Inset(*rect, 1);
  if (DEmptyRect(&r)) return;
  const int32 h = std::min(r.bottom - r.top, r.right - r.left) / 2;
  const int32 c = (r.left + r.right) / 2;
  const int32 top = r.top, bottom = r.bottom - 1;
  if (kind == 0) {
    DMoveTo(c - h, top);
    DLineTo(c + h, bottom);
    DMoveTo(c - h, bottom);
    DLineTo(c + h, top);
  } else {
    DMoveTo(c - h, top);
    DLineTo(c + h, top);
    DMoveTo(c, top);
    DLineTo(c, bottom);
  }
}

int32 RedrawDisplayedText(ObjHeap heap, int32 text, Bool32 isFocusText) {
  const TRecord record = TextOf(heap, text);
  if (!record) return 0;
  // A blinking owner among the data display objects above the text.
  int32 blinking = 0;
  int32 owner = ObjWord(heap, text, kPWOwner);
  for (int32 steps = 0; IsObj(heap, owner) && ClassRecord(ObjClass(heap, owner))->categoryB == kCatDDO && steps < 64;
       ++steps) {
    if (ObjIsBlinking(heap, owner)) {
      blinking = owner;
      break;
    }
    if (PartIdOf(heap, owner) == 0) break;
    owner = ObjWord(heap, owner, kPWOwner);
  }
  if (isFocusText && Ext(heap, kHeapExtDialogFilter) && !(OHWord(heap, kOHFlags) & kHeapFlagTextEntry))
    TSelectText(record, 0, 0x7FFFFFFF);
  if (!(Flags(heap, text) & kFlagNoDrawInPlace) && !gDeferDrawing) {
    if (blinking) ODrawObj(heap, text, 0, 0, BlinkPartState(heap, blinking, kDrawModeNormal));
    else TDraw(reinterpret_cast<UHandle>(record));
    return 0;
  }
  Rect view{0, 0, 0, 0};
  TGetRect(record, &view, nullptr);
  if (const WindowRef w = WCurrentPort(); w && !DEmptyRect(&view)) WInvalRect(w, &view);
  return kReplyInvalidated;
}

int32 IsRingItemDisabled(ObjHeap heap, int32 ring, int32 item) {
  const UHandle list = IsObj(heap, ring) ? ObjItemData(heap, ring) : nullptr;
  if (!list) {
    // A ring read from a damaged file can lack its list: reported, and its
    // items count as enabled rather than stopping the program.
    DBPrintf("IsRingItemDisabled: the ring has no item list");
    return 0;
  }
  const int32 count = int32(GetNative32(*list));
  if (count <= 0) return 0;
  const int32 i = std::clamp(item, 0, count - 1);
  return GetNative32(*list + 4 + 4 * i) & 1;
}

void GrayDisabledRingItem(ObjHeap heap, int32 ring, int32 part, int32 item) {
  if (!IsObj(heap, part) || !IsRingItemDisabled(heap, ring, item)) return;
  const Rect r = Inset(BoundsOf(heap, part), 1);
  if (DEmptyRect(&r)) return;
  const DColor back = PartBack(heap, part);
  DGrayOutRect(&r, back == kTransparentColor ? PanelBackground(heap) : back);
}

int32 DisplayPathText(ObjHeap heap, int32 path, int32 textPart, const void* value, Bool32 drawOnly, int32 mode,
                      Bool32 force) {
  if (!IsObj(heap, textPart)) return 0;
  Path p = reinterpret_cast<Path>(CellHandle(value));
  LStrHandle text = nullptr;
  MgErr err = kNoErr;
  if (p) {
    err = FPathToAZString(p, &text);
  } else if (Path empty = FEmptyPath(nullptr)) {
    err = FPathToAZString(empty, &text);
    FDisposePath(empty);
  } else {
    err = kMemFullErr;
  }
  // The text, or "?" and the error when the path has no text form.
  char failed[32];
  const uChar* bytes = nullptr;
  int32 length = 0;
  if (err || !text || !*text) {
    length = SPrintf(failed, "?%ld", long(err ? err : kMemFullErr));
    bytes = reinterpret_cast<const uChar*>(failed);
  } else {
    bytes = (*text)->str;
    length = (*text)->cnt;
  }
  // The long string the part takes.
  std::vector<uChar> counted(size_t(length) + 4);
  PutNative32(counted.data(), uInt32(length));
  if (length) std::memcpy(counted.data() + 4, bytes, size_t(length));
  const auto* lstr = reinterpret_cast<const LStr*>(counted.data());
  int32 reply = 0;
  if (drawOnly) {
    reply = DrawPartForMode(heap, path, Fit(heap, textPart, lstr, Takes::kText), textPart, kPartText, mode, force);
  } else if (Flags(heap, textPart) & kFlagFitted) {
    reply = SetPartText(heap, textPart, lstr->str, length, 0, 0);
    if (reply & kReplyResized) {
      OInval(heap, path, kInvalAll);
      OSize(heap, path, nullptr, kPartText);
      OInval(heap, path, kInvalAll);
      reply |= kReplyInvalidated;
    }
  } else if (PartTakes(heap, textPart, Takes::kText)) {
    reply = ODisplayValObj(heap, textPart, 0, lstr);
  }
  if (text) AZDisposeHandle(reinterpret_cast<UHandle>(text));
  return reply;
}

DColor PartImageBackColor(ObjHeap heap, int32 part) {
  const DColor back = PartBack(heap, part);
  if (back != kTransparentColor || !Has(heap, part, kObjImage + 4)) return back;
  const int32 image = ObjWord(heap, part, kObjImage / 4) & 0xFFFF;
  DColor colours[4] = {PartFore(heap, part), back, kBlack, kWhite};
  if (image) IGetEraseColor(image, colours);
  return colours[1];
}

int32 DisplayBoolText(ObjHeap heap, int32 textPart, int32 buttonPart, int32 state, Bool32 forceDraw, int32 mode) {
  if (!IsObj(heap, textPart)) return 0;
  const TRecord record = TextOf(heap, textPart);
  DColor savedFore = kBlack, savedBack = kTransparentColor;
  if (record) TGetColors(record, &savedFore, &savedBack);
  bool recolour = false;
  if (record && IsObj(heap, buttonPart) && !Hidden(heap, textPart)) {
    const Rect t = BoundsOf(heap, textPart), b = BoundsOf(heap, buttonPart);
    Rect meet;
    if (DSectRect(&t, &b, &meet)) {
      // The whole text is selected first: its colour is set over the selection.
      if (!IsFocusText(heap, record)) TSelectText(record, 0, 0x7FFFFFFF);
      const DColor under = PartImageBackColor(heap, buttonPart);
      if (savedBack == kTransparentColor && savedFore == under) {
        // The text would vanish on the button: white on black, else black.
        const DColor shown = under == kBlack ? kWhite : kBlack;
        TSetColors(record, &shown, nullptr, 0);
        if (under == kBlack) gInvertHilite = 1;
        recolour = true;
      }
    }
  }
  int32 count = 0;
  StringList(heap, textPart, &count);
  if (count == 1) forceDraw = 1;
  const bool takes = PartTakes(heap, textPart, Takes::kIndex);
  const int32 reply = forceDraw ? ODrawObj(heap, textPart, takes ? int32(uintptr_t(&state)) : 0, 0, mode)
                     : takes   ? ODisplayValObj(heap, textPart, 0, &state)
                               : 0;
  if (recolour) TSetColors(record, &savedFore, &savedBack, 0);
  gInvertHilite = 0;
  return reply;
}

// ---- Image family ----------------------------------------------------------------------------

int32 MultiCosmeticODisplayValMethod(ObjHeap heap, int32 cosmetic, const void*, const void* index) {
  if (NoValue(index, __LINE__) || !IsObj(heap, cosmetic) || Hidden(heap, cosmetic)) return 0;
  const int32 count = ImageEntries(heap, cosmetic, 4);
  if (count < 1) return 0;
  const int32 i = std::clamp<int32>(Index16(index), 0, count - 1);
  const int32 image = ObjWord(heap, cosmetic, (kObjImageList + 4 * i) / 4);
  const bool stale = Flags(heap, cosmetic) & kFlagStale;
  if (!gForceDisplay && !stale) {
    if (i == ObjInt16(heap, cosmetic, kObjImageIndex)) return 0;
    if (image == ObjWord(heap, cosmetic, kObjImage / 4)) {
      PutNative16(*heap + cosmetic + kObjImageIndex, uInt16(i));
      return 0;
    }
  }
  SetFlags(heap, cosmetic, Flags(heap, cosmetic) & ~kFlagStale);
  ObjSetWord(heap, cosmetic, kObjImage / 4, image);
  PutNative16(*heap + cosmetic + kObjImageIndex, uInt16(i));
  if (!(Flags(heap, cosmetic) & kFlagNoDrawInPlace) && !gDeferDrawing) {
    DrawImageNow(heap, cosmetic);
    return 0;
  }
  OInval(heap, cosmetic, kInvalAll);
  return kReplyInvalidated;
}

int32 BigMultiCosmeticODisplayValMethod(ObjHeap heap, int32 cosmetic, const void*, const void* index) {
  if (NoValue(index, __LINE__) || !IsObj(heap, cosmetic) || Hidden(heap, cosmetic)) return 0;
  const int32 count = ImageEntries(heap, cosmetic, kBigImageEntry);
  if (count < 1) return 0;
  const int32 i = std::clamp<int32>(Index16(index), 0, count - 1);
  const int32 entry = kObjImageList + kBigImageEntry * i;
  Rect place;
  std::memcpy(&place, *heap + cosmetic + entry, sizeof place);
  const DColor fore = DColor(ObjWord(heap, cosmetic, (entry + 8) / 4)), back = DColor(ObjWord(heap, cosmetic, (entry + 12) / 4));
  const int32 image = ObjWord(heap, cosmetic, (entry + kBigImageRef) / 4);
  const Rect bounds = BoundsOf(heap, cosmetic);
  const bool stale = Flags(heap, cosmetic) & kFlagStale;
  if (!gForceDisplay && !stale) {
    if (i == ObjInt16(heap, cosmetic, kObjImageIndex)) return 0;
    if (image == ObjWord(heap, cosmetic, kObjImage / 4) && fore == PartFore(heap, cosmetic) &&
        back == PartBack(heap, cosmetic) && DEqualRect(&place, &bounds)) {
      PutNative16(*heap + cosmetic + kObjImageIndex, uInt16(i));
      return 0;
    }
  }
  SetFlags(heap, cosmetic, Flags(heap, cosmetic) & ~kFlagStale);
  ObjSetWord(heap, cosmetic, kObjImage / 4, image);
  SetPartColours(heap, cosmetic, fore, back);
  PutNative16(*heap + cosmetic + kObjImageIndex, uInt16(i));
  if (!DEqualRect(&place, &bounds)) {
    OInval(heap, cosmetic, kInvalAll);
    SetBoundsOf(heap, cosmetic, place);
    OInval(heap, cosmetic, kInvalAll);
    return kReplyInvalidated;
  }
  if (!(Flags(heap, cosmetic) & kFlagNoDrawInPlace) && !gDeferDrawing) {
    DrawImageNow(heap, cosmetic);
    return 0;
  }
  OInval(heap, cosmetic, kInvalAll);
  return kReplyInvalidated;
}

// ---- Text family -----------------------------------------------------------------------------

int32 LabelODisplayValMethod(ObjHeap heap, int32 label, const void*, const void* value) {
  if (NoValue(value, __LINE__) || !IsObj(heap, label) || Hidden(heap, label)) return 0;
  const TRecord record = TextOf(heap, label);
  if (!record) return 0;
  const auto* text = static_cast<const LStr*>(value);
  const int32 n = std::max<int32>(0, LStrLen(text));
  if (!gForceDisplay) {
    const LStr* shown = CheckedLStr(TGetText(record));
    if (shown && LStrLen(shown) == n && std::memcmp(shown->str, text->str, size_t(n)) == 0) return 0;
  }
  const bool focus = IsRefusingFocusText(heap, label, record);
  if (focus && !gAllowFocusTextDisplay) {
    DBPrintf("can't display val to heapTextObj");
    return 0;
  }
  const MgErr err = (Flags(heap, label) & kFlagShowsCodes) ? SetTextShowingCodes(record, text)
                                                             : TReplaceText(record, text->str, n);
  if (err) return kReplyFailed;
  return RedrawDisplayedText(heap, label, focus);
}

int32 MultiLabelODisplayValMethod(ObjHeap heap, int32 label, const void*, const void* index) {
  if (NoValue(index, __LINE__) || !IsObj(heap, label)) return 0;
  const TRecord record = TextOf(heap, label);
  const bool focus = IsRefusingFocusText(heap, label, record);
  if (focus && !gAllowFocusTextDisplay) {
    DBPrintf("can't displayVal to HeapTextObj");
    return 0;
  }
  if (Hidden(heap, label)) return 0;
  int32 count = 0;
  const UHandle list = StringList(heap, label, &count);
  if (count < 1 || !Has(heap, label, 4 * (kMultiLabelIndexWord + 1))) {
    // A label read from a damaged file can lack its strings: reported, and
    // the label keeps what it shows rather than stopping the program.
    DBPrintf("MultiLabelODisplayValMethod: no strings");
    return 0;
  }
  const int32 i = std::clamp<int32>(Index16(index), 0, count - 1);
  const bool stale = Flags(heap, label) & kFlagStale;
  if (!gForceDisplay && i == ObjWord(heap, label, kMultiLabelIndexWord) && !stale) return 0;
  SetFlags(heap, label, Flags(heap, label) & ~kFlagStale);
  ObjSetWord(heap, label, kMultiLabelIndexWord, i);
  if (UpdateBoolText(heap, label, list, i) == kMemFullErr) return kReplyFailed;
  return RedrawDisplayedText(heap, label, focus);
}

namespace {

// The string method's work: whether the value was shown (not hidden, not
// unchanged), its reply in *reply.
bool ShowString(ObjHeap heap, int32 string, const void* old, const void* value, int32* reply) {
  *reply = 0;
  if (NoValue(value, __LINE__) || !IsObj(heap, string) || Hidden(heap, string)) return false;
  const LStr* now = CellString(value);
  if (old) {
    const LStr* before = CellString(old);
    if (LStrLen(before) == LStrLen(now) && std::memcmp(before, now, size_t(LStrLen(before)) + 4) == 0) return false;
  }
  DisplaySwitchScope defer(gDeferDrawing, Greyed(heap, string) ? 1 : gDeferDrawing);
  const int32 part = PartOf(heap, string, kPartText);
  if (PartTakes(heap, part, Takes::kText)) *reply = ODisplayValObj(heap, part, 0, now);
  return true;
}

}  // namespace

int32 StringODisplayValMethod(ObjHeap heap, int32 string, const void* old, const void* value) {
  const DisplayNesting nesting;
  if (nesting.TooDeep()) return 0;
  int32 reply = 0;
  ShowString(heap, string, old, value, &reply);
  return reply;
}

int32 TagODisplayValMethod(ObjHeap heap, int32 tag, const void* old, const void* value) {
  const DisplayNesting nesting;
  if (nesting.TooDeep()) return 0;
  int32 reply = 0;
  if (!ShowString(heap, tag, old, value, &reply)) return reply;
  const int32 text = PartOf(heap, tag, kPartText);
  if (text && !IsValidTag(heap, tag, text)) GreyInset(heap, text);
  return reply;
}

int32 PathODisplayValMethod(ObjHeap heap, int32 path, const void* old, const void* value) {
  if (NoValue(value, __LINE__) || !IsObj(heap, path) || Hidden(heap, path)) return 0;
  const DisplayNesting nesting;
  if (nesting.TooDeep()) return 0;
  const Path now = reinterpret_cast<Path>(CellHandle(value));
  const Path before = old ? reinterpret_cast<Path>(CellHandle(old)) : nullptr;
  const bool good = FIsAPath(now), wasGood = old && FIsAPath(before);
  const int32 text = PartOf(heap, path, kPartText);
  int32 reply = 0;
  if (!old || good != wasGood) {
    if (text) {
      const uInt32 f = Flags(heap, text);
      SetFlags(heap, text, good ? f & ~kFlagMalformedPath : f | kFlagMalformedPath);
    }
    if (const int32 state = PartOf(heap, path, kPartStateButton)) {
      OInval(heap, state, kInvalValue);
      reply |= kReplyInvalidated;
    }
  }
  if (Greyed(heap, path) || gDeferDrawing) {
    OInval(heap, path, kInvalValue);
    return reply | kReplyInvalidated;
  }
  // Two values that are both no path compare equal when both are empty.
  if (old && ((good && wasGood && FPathCmp(before, now) == 0) || (!now && !before))) return reply;
  return reply | DisplayPathText(heap, path, text, value, 0, kDrawModeNormal, 0);
}

// ---- Numeric family --------------------------------------------------------------------------

int32 NumericODisplayValMethod(ObjHeap heap, int32 numeric, const void* old, const void* value) {
  if (NoValue(value, __LINE__) || !IsObj(heap, numeric) || Hidden(heap, numeric)) return 0;
  const DisplayNesting nesting;
  if (nesting.TooDeep()) return 0;
  // The display of a greyed numeric is deferred: its update draws it.
  DisplaySwitchScope defer(gDeferDrawing, Greyed(heap, numeric) ? 1 : gDeferDrawing);
  int32 reply = 0;
  if (!ValueSteps(heap, numeric, old, value, &reply)) return reply;
  return reply | ShowDigital(heap, numeric, value, TypeCodeOf(heap, numeric), true, false);
}

int32 RingODisplayValMethod(ObjHeap heap, int32 ring, const void* old, const void* value) {
  const DisplayNesting nesting;
  if (nesting.TooDeep()) return 0;
  int32 reply = 0;
  if (!ValueSteps(heap, ring, old, value, &reply) || Deferred(heap, ring, &reply)) return reply;
  const int32 code = TypeCodeOf(heap, ring) & ~0x10;
  const int32 index = RingIndexOf(code, value);
  // The item picture, inside the content area (part 28) inset by 1.
  if (const int32 picture = PartOf(heap, ring, kPartItemPicture)) {
    const int32 content = PartOf(heap, ring, kPartContent);
    if (!content) {
      OInval(heap, picture, kInvalAll);
      reply |= kReplyInvalidated;
    } else {
      Rect area{0, 0, 0, 0};
      OGetRect(heap, content, &area, kRectBounds);
      const Rect clip = Inset(area, 1);
      if (Flags(heap, picture) & kFlagNoDrawInPlace) {
        if (Flags(heap, content) & kFlagNoDrawInPlace) {
          const Rect r = BoundsOf(heap, picture);
          Rect meet;
          const WindowRef w = WindowRef(Ext(heap, kHeapExtWindow));
          if (DSectRect(&r, &clip, &meet) && DEqualRect(&meet, &r)) {
            if (w) WInvalRect(w, &r);
          } else {
            OInval(heap, content, kInvalAll);
          }
          reply |= kReplyInvalidated;
        } else {
          DrawPartForMode(heap, ring, nullptr, content, kPartContent, kDrawModeNormal, 1);
          Rect saved;
          WLimitClip(&clip, &saved);
          DrawPartForMode(heap, ring, Fit(heap, picture, &index, Takes::kIndex), picture, kPartItemPicture, kDrawModeNormal,
                          1);
          GrayDisabledRingItem(heap, ring, picture, index);
          WRestoreClip(&saved);
        }
      } else {
        Rect saved;
        WLimitClip(&clip, &saved);
        if (!gForceDisplay && Has(heap, picture, kObjImageIndex + 2) &&
            IsRingItemDisabled(heap, ring, index) != IsRingItemDisabled(heap, ring, ObjInt16(heap, picture, kObjImageIndex)))
          SetFlags(heap, picture, Flags(heap, picture) | kFlagStale);
        const int32 r = PartTakes(heap, picture, Takes::kIndex) ? ODisplayValObj(heap, picture, 0, &index) : 0;
        reply |= r;
        if (!(r & kReplyInvalidated)) GrayDisabledRingItem(heap, ring, picture, index);
        WRestoreClip(&saved);
      }
    }
  }
  // The item text.
  if (const int32 text = PartOf(heap, ring, kPartItemText)) {
    const int32 r = PartTakes(heap, text, Takes::kIndex) ? ODisplayValObj(heap, text, 0, &index) : 0;
    reply |= r | RefitAround(heap, ring, text, kPartItemText);
    if (!(r & kReplyInvalidated)) GrayDisabledRingItem(heap, ring, text, index);
  }
  return reply | ShowDigital(heap, ring, value, code, false, true);
}

int32 ColorBoxODisplayValMethod(ObjHeap heap, int32 box, const void* old, const void* value) {
  if (NoValue(value, __LINE__) || !IsObj(heap, box)) return 0;
  const int32 code = TypeCodeOf(heap, box) & ~0x10;
  const bool allowed = Flags(heap, box) & kFlagTransparentAllowed;
  const auto colourOf = [&](const void* v) {
    uInt32 c = 0;
    ConvertNum(code, v, kTDU32, &c);
    return allowed && c == kTransparentColor ? c : c & 0xFFFFFF;
  };
  const uInt32 colour = colourOf(value);
  if (Hidden(heap, box) || (old && colourOf(old) == colour)) return 0;
  const int32 swatch = PartOf(heap, box, kPartSwatch);
  if (!swatch) return 0;
  SetPartColours(heap, swatch, colour, colour);
  if ((Flags(heap, swatch) & kFlagNoDrawInPlace) || Greyed(heap, box) || gDeferDrawing) {
    OInval(heap, swatch, kInvalAll);
    return kReplyInvalidated;
  }
  if (colour != kTransparentColor) {
    if (!Hidden(heap, swatch)) DrawPartForMode(heap, box, nullptr, swatch, kPartSwatch, kDrawModeNormal, 1);
    return 0;
  }
  const Rect r = BoundsOf(heap, swatch);
  DSelectNormPen(kWhite, kWhite);
  DPaintRect(&r);
  DSelectNormPen(kBlack, kBlack);
  DrawTransparentMark(&r, 1);
  SetPartColours(heap, swatch, kTransparentColor, kTransparentColor);
  return 0;
}

int32 SlideODisplayValMethod(ObjHeap heap, int32 slide, const void* old, const void* value) {
  int32 reply = 0;
  // The type read to compare the values is the one the update maps.
  const TypeDescriptor* td = nullptr;
  if (!ValueSteps(heap, slide, old, value, &reply, &td)) return reply;
  if (!Greyed(heap, slide) && !gDeferDrawing)
    return reply | ObjUpdateDataBoundsOfType(heap, slide, td, old, value,
                                             kBoundsDrawNow | kBoundsShowDigital | kBoundsSetPort);
  OInval(heap, slide, kInvalValue);
  return reply | kReplyInvalidated;
}

int32 ColorRampODisplayValMethod(ObjHeap heap, int32 ramp, const void* old, const void* value) {
  if (NoValue(value, __LINE__) || !IsObj(heap, ramp) || Hidden(heap, ramp)) return 0;
  const DisplayNesting nesting;
  if (nesting.TooDeep()) return 0;
  const TypeDescriptor* td = DisplayTD(heap, ramp);
  if (old && td && DataSize(td) > 0 && std::memcmp(old, value, size_t(DataSize(td))) == 0) return 0;
  const bool greyed = Greyed(heap, ramp);
  int32 reply = 0;
  const uInt16 range = RangeWord(heap, ramp);
  if ((range & kRangeChecked) && !(range & kRangeKeepState)) {
    DisplaySwitchScope defer(gDeferDrawing, greyed ? 1 : gDeferDrawing);
    reply |= UpdateRangeFlags(heap, ramp, value);
  }
  const int32 code = (td ? td->code : 0) & ~0x10;
  float64 d = 0;
  ConvertNum(code, value, kTDDBL, &d);
  const int32 swatch = PartOf(heap, ramp, kPartSwatch);
  const int32 markers = PartOf(heap, ramp, kPartScale);
  if (swatch && markers) {
    const DColor colour = PanelLookupValue(heap, markers, d);
    if (gForceDisplay || colour != PartBack(heap, swatch)) {
      SetPartColours(heap, swatch, PartFore(heap, swatch), colour);
      if (!(Flags(heap, swatch) & kFlagNoDrawInPlace) && !greyed && !gDeferDrawing) {
        DrawPartForMode(heap, ramp, nullptr, swatch, kPartSwatch, kDrawModeNormal, 1);
      } else {
        OInval(heap, swatch, kInvalAll);
        reply |= kReplyInvalidated;
      }
    }
  }
  DisplaySwitchScope defer(gDeferDrawing, greyed ? 1 : gDeferDrawing);
  return reply | ShowDigital(heap, ramp, value, code, true, false);
}

// ---- Other classes ---------------------------------------------------------------------------

int32 TypeDefODisplayValMethod(ObjHeap heap, int32 typeDef, const void* old, const void* value) {
  if (NoValue(value, __LINE__) || !IsObj(heap, typeDef) || Hidden(heap, typeDef)) return 0;
  const DisplayNesting nesting;
  if (nesting.TooDeep()) return 0;
  const int32 inner = PartOf(heap, typeDef, kPartTypeDefControl);
  if (!inner) {
    DBAssert(kSourceFile, __LINE__, "TypeDefODisplayValMethod: no inner control");
    return 0;
  }
  // The value is the control's datum: a damaged panel whose inner part is a
  // label or a decoration would read it as a string of its own.
  if (!ClassIsKindOf(OHBlockClass(heap, inner), kClsDataDisplayObject)) return 0;
  int32 reply = 0;
  {
    DisplaySwitchScope defer(gDeferDrawing, Greyed(heap, typeDef) ? 1 : gDeferDrawing);
    const uInt16 own = RangeWord(heap, typeDef);
    if (own & kRangeChecked) {
      const uInt16 w = RangeWord(heap, inner);
      SetRangeWord(heap, inner, uInt16((w & ~kRangeKeepState) | (own & kRangeKeepState)));
      reply = ODisplayValObj(heap, inner, int32(uintptr_t(old)), value);
      SetRangeWord(heap, inner, uInt16(RangeWord(heap, inner) & ~kRangeKeepState));
      if (!(own & kRangeKeepState)) reply |= CopyRangeFlags(heap, typeDef, inner);
    } else {
      reply = ODisplayValObj(heap, inner, int32(uintptr_t(old)), value);
    }
  }
  if (Flags(heap, typeDef) & kTypeDefGreyed) {
    if (Flags(heap, typeDef) & kFlagNoDrawInPlace) {
      OInval(heap, typeDef, kInvalAll);
      reply |= kReplyInvalidated;
    } else {
      const Rect r = BoundsOf(heap, typeDef);
      DGrayOutRect(&r, kGrey);
    }
  }
  return reply;
}

int32 UserItemODisplayValMethod(ObjHeap, int32, const void*, const void*) {
  DBAssert(kSourceFile, __LINE__, "UserItemODisplayValMethod: a user item shows no value");
  return 0;
}

int32 PictureODisplayValMethod(ObjHeap heap, int32 picture, const void*, const void* value) {
  if (NoValue(value, __LINE__) || !IsObj(heap, picture) || Hidden(heap, picture)) return 0;
  int32 reply = 0;
  if (Deferred(heap, picture, &reply)) return reply;
  const int32 content = PartOf(heap, picture, kPartContent);
  if (!content) return 0;
  const uInt32 f = Flags(heap, picture), f28 = Flags(heap, content);
  if ((f28 & kFlagOpaque) && (!(f & kFlagFitted) || (f & kFlagViaCopy))) {
    if (f28 & kFlagNoDrawInPlace) {
      reply = DrawPictureValue(heap, picture, value, content, kPictIntoCopy);
      OInval(heap, content, kInvalValue);
      return reply | kReplyInvalidated;
    }
    if (!(f & kFlagViaCopy)) return DrawPictureValue(heap, picture, value, content, kPictIntoCopy | kPictToScreen);
    reply = DrawPictureValue(heap, picture, value, content, kPictIntoCopy);
    const int32 copy = WordOr0(heap, picture, kPictureCopyWord);
    if (!(reply & kReplyFailed) && copy) {
      const Rect r = BoundsOf(heap, content);
      IDraw(copy & 0xFFFF, nullptr, &r, kBlack, kWhite, kBlack, kWhite);
    }
    return reply;
  }
  if (!(f28 & kFlagNoDrawInPlace) && (f28 & kFlagOpaque))
    return DrawPictureValue(heap, picture, value, content, kPictToScreen);
  OInval(heap, content, kInvalValue);
  return kReplyInvalidated;
}

int32 BooleanODisplayValMethod(ObjHeap heap, int32 boolean, const void* old, const void* value) {
  if (NoValue(value, __LINE__) || !IsObj(heap, boolean) || Hidden(heap, boolean)) return 0;
  const DisplayNesting nesting;
  if (nesting.TooDeep()) return 0;
  ObjHeap trackHeap = nullptr;
  int32 trackObject = 0, trackState = 0;
  SetTrackObject(nullptr, 0, &trackHeap, &trackObject, 0);
  TrackState(0, &trackState, 0);
  int32 reply = 0;
  const uInt16 range = RangeWord(heap, boolean);
  if ((range & kRangeChecked) && !(range & kRangeKeepState)) {
    DisplaySwitchScope defer(gDeferDrawing, Greyed(heap, boolean) ? 1 : gDeferDrawing);
    reply |= UpdateRangeFlags(heap, boolean, value);
  }
  const bool pressed = (Flags(heap, boolean) & kFlagTracksTransitions) && trackHeap == heap &&
                       trackObject == boolean && trackState != 0;
  const int32 state = BoolState(value, pressed);
  if (old && BoolState(old, pressed) == state) return reply;
  if (Deferred(heap, boolean, &reply)) return reply;
  const int32 button = PartOf(heap, boolean, kPartButton);
  if (PartTakes(heap, button, Takes::kIndex)) reply |= ODisplayValObj(heap, button, 0, &state);
  const int32 text = PartOf(heap, boolean, kPartBoolText);
  if (text && !Hidden(heap, text)) reply |= DisplayBoolText(heap, text, button, state, 0, kDrawModeNormal);
  return reply;
}

ObjMethodAddr CtrlODisplayValMethodFor(int32 cls) {
  const auto a = [](auto m) { return reinterpret_cast<ObjMethodAddr>(m); };
  switch (cls) {
    case kClsMultiCosmetic: return a(&MultiCosmeticODisplayValMethod);
    case kClsBigMultiCosmetic: return a(&BigMultiCosmeticODisplayValMethod);
    case kClsLabel: case kClsSelLabel: return a(&LabelODisplayValMethod);
    case kClsMultiLabel: case kClsBigMultiLabel: return a(&MultiLabelODisplayValMethod);
    case kClsNumeric: return a(&NumericODisplayValMethod);
    case kClsRing: return a(&RingODisplayValMethod);
    case kClsColorBox: return a(&ColorBoxODisplayValMethod);
    case kClsSlide: case kClsKnob: return a(&SlideODisplayValMethod);
    case kClsString: return a(&StringODisplayValMethod);
    case kClsTag: return a(&TagODisplayValMethod);
    case kClsPath: return a(&PathODisplayValMethod);
    case kClsTypeDefinition: return a(&TypeDefODisplayValMethod);
    case kClsUserItem: return a(&UserItemODisplayValMethod);
    case kClsColorRamp: return a(&ColorRampODisplayValMethod);
    case kClsPicture: return a(&PictureODisplayValMethod);
    case kClsBoolean: return a(&BooleanODisplayValMethod);
    default: return nullptr;
  }
}
