#include "panel/oinval.h"

#include <cstring>
#include <initializer_list>

#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/draw/dregion.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/imagedraw.h"
#include "mgsource/draw/imagegeom.h"
#include "mgsource/rects.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/wactive.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "panel/objload.h"
#include "panel/oinit.h"
#include "panel/osupport.h"
#include "panel/transact.h"

namespace {

const char kSourceFile[] = "oinval";

constexpr uInt32 kTransparent = 0x1000000;
constexpr DColor kMarkGrey = 0xB3B3B3;
constexpr uInt32 kPartFlagFrame = 0x10;     // a part that belongs to the frame rectangle
constexpr uInt32 kTextModeMarked = 0x4000;  // a text record's mark
constexpr uInt32 kVIFlags2Confirm = 0x400000;
constexpr uInt16 kWindowOptionDefaultFrame = 0x100;
constexpr int32 kCosmFore = 28, kCosmBack = 32;  // cosmetics: DColor words 7 and 8
static_assert(kCosmBack + 4 == kCosmeticBytes, "a cosmetic's block");
constexpr int32 kScaleInnerRect = 36;            // a scale's words 9 and 10
constexpr int32 kTableEditPart = 64;             // a table's edit-text part
constexpr int32 kPartElementsWord = 10;          // a cluster's element list, an array's element
constexpr int32 kLeadingBytes = kObjPartList + 4;
constexpr MgErr kImageNoMaskErr = 42;  // the image geometry has no rectangle of its own
constexpr Rect kNoRect{0, 0, 0, 0};
constexpr Rect kUnbounded{-32768, -32768, 32767, 32767};

// The value parts of level 1.
constexpr int16 kValueParts[] = {8001, 10, 11, 12, 8, 31, 23, 13, 21, 22, 20, 14, 41, 38, 28, 26, 8010};

// ---- Reading objects that came from a file --------------------------------------------

// A used block of at least bytes.
bool Has(ObjHeap heap, int32 o, int32 bytes) {
  return heap && *heap && o > 0 && OHIsUsedBlockOf(heap, o, bytes);
}
bool IsObj(ObjHeap heap, int32 o) { return Has(heap, o, kLeadingBytes); }
uInt32 Word(ObjHeap heap, int32 o, int32 at) { return GetNative32(*heap + o + at); }
void SetWord(ObjHeap heap, int32 o, int32 at, uInt32 v) { PutNative32(*heap + o + at, v); }
uInt32 Flags(ObjHeap heap, int32 o) { return Word(heap, o, kObjFlags); }
void SetFlags(ObjHeap heap, int32 o, uInt32 bits, bool on) {
  const uInt32 f = Flags(heap, o);
  SetWord(heap, o, kObjFlags, on ? f | bits : f & ~bits);
}
bool Hidden(ObjHeap heap, int32 o) { return Flags(heap, o) & kObjFlagHidden; }
Rect RectAt(ObjHeap heap, int32 o, int32 at) {
  Rect r;
  std::memcpy(&r, *heap + o + at, sizeof r);
  return r;
}
Rect Bounds(ObjHeap heap, int32 o) { return RectAt(heap, o, kObjBounds); }
int16 PartId(ObjHeap heap, int32 o) { return ObjInt16(heap, o, kObjPartId); }
int32 Cls(ObjHeap heap, int32 o) { return OHBlockClass(heap, o); }
bool IsA(ObjHeap heap, int32 o, int32 cls) { return ClassIsKindOf(Cls(heap, o), cls); }
bool IsPanel(ObjHeap heap) { return heap && *heap && OHWord(heap, kOHKind) == kPanelHeapKind; }

int32 ExtOffset(ObjHeap heap) {
  const int32 ext = heap && *heap ? int32(OHWord(heap, kOHExtension)) : 0;
  return Has(heap, ext, kHeapExtensionSize) ? ext : 0;
}
uInt32 Ext(ObjHeap heap, int32 at) {
  const int32 ext = ExtOffset(heap);
  return ext ? Word(heap, ext, at) : 0;
}
WindowRef PanelWindow(ObjHeap heap) { return IsPanel(heap) ? WindowRef(Ext(heap, kHeapExtWindow)) : 0; }
int32 Root(ObjHeap heap) {
  const int32 root = int32(Ext(heap, kHeapExtRoot));
  return Has(heap, root, kRootKeyNav + 4) ? root : 0;
}
UHandle OwnerVI(ObjHeap heap) {
  UHandle vi = reinterpret_cast<UHandle>(uintptr_t(Ext(heap, kHeapExtOwner)));
  return vi && *vi && AZGetHandleSize(vi) >= int32(sizeof(VIRecord)) ? vi : nullptr;
}
bool ConfirmMode(ObjHeap heap) {
  UHandle vi = IsPanel(heap) ? OwnerVI(heap) : nullptr;
  return vi && (VIRec(vi)->flags2 & kVIFlags2Confirm);
}
int32 ConfirmObject(ObjHeap heap) { return ConfirmMode(heap) ? int32(Ext(heap, kHeapExtConfirm)) : 0; }
bool InTextEntry(ObjHeap heap) { return OHWord(heap, kOHFlags) & kHeapFlagTextEntry; }

// The entries of an offset list that name objects, up to its count; a list
// whose stored count does not fit its block is skipped (heaps come from files).
template <typename Visit>
void ForEachIn(ObjHeap heap, int32 list, Visit visit) {
  if (!Has(heap, list, 4)) return;
  const int32 stored = int32(GetNative32(*heap + list));
  if (stored < 0 || stored > (OHBlockSize(heap, list) - 4) / 4) return;
  const int32 n = ObjListCount(heap, list);
  for (int32 i = 0; i < n && i < ObjListCount(heap, list); ++i) {
    const int32 o = ObjListGet(heap, list, i);
    if (IsObj(heap, o)) visit(o);
  }
}
// The object's parts (a cosmetic keeps its image where others keep parts).
template <typename Visit>
void ForEachPartOf(ObjHeap heap, int32 o, Visit visit) {
  if (ClassRecord(Cls(heap, o))->categoryB == kCatCOSM) return;
  ForEachIn(heap, int32(Word(heap, o, kObjPartList)), visit);
}
int32 PartOf(ObjHeap heap, int32 o, int16 id) {
  int32 found = 0;
  ForEachPartOf(heap, o, [&](int32 p) {
    if (!found && PartId(heap, p) == id) found = p;
  });
  return found;
}
// The text record of a label part (its word 9).
TRecord TextOf(ObjHeap heap, int32 o) {
  return Has(heap, o, 4 * (kPWLabelText + 1)) ? PartTextRecord(heap, o) : nullptr;
}

// ---- Bounded sends ----------------------------------------------------------------------

// Nested sends: their depth and their number in one outermost send are
// bounded by the heap's size (a block takes 16 bytes at least), so that a
// part list naming its owner, or a list naming one object many times, ends.
int32 gDepth = 0;
int64 gBudget = 0;
constexpr int32 kDepthCap = 400;  // the machine stack's share

int32 BlockBound(ObjHeap heap) { return int32((OHWord(heap, kOHEndOffset) + 1) / 16) + 1; }

template <typename R, typename... Args>
R Send(ObjMessage msg, ObjHeap heap, int32 o, R none, Args... args) {
  if (!IsObj(heap, o)) return none;
  const ObjMethodAddr m = OFindMethod(heap, o, msg);
  if (m == reinterpret_cast<ObjMethodAddr>(&ErrorMethod)) return none;  // a class without the message
  if (gDepth == 0) gBudget = 8 * int64(BlockBound(heap)) + 64;
  if (gDepth >= kDepthCap || gDepth >= BlockBound(heap) || gBudget <= 0) return none;
  --gBudget;
  ++gDepth;
  const R r = OSendMessage<R>(msg, heap, o, args...);
  --gDepth;
  return r;
}
void Inval(ObjHeap heap, int32 o, int32 level) { Send<int32>(kMsgOInval, heap, o, 0, level); }
Rect GetRect(ObjHeap heap, int32 o, int32 kind) {
  Rect r = kNoRect;
  Send<int32>(kMsgOGetRect, heap, o, 0, &r, kind);
  return r;
}
int32 Mark(ObjHeap heap, int32 o, DRgn region, const Rect* clip, int32 bits) {
  return Send<int32>(kMsgOMarkInRect, heap, o, 0, region, clip, bits);
}

// ---- Invalidation ------------------------------------------------------------------------

void InvalRect(ObjHeap heap, const Rect& r) {
  if (!DEmptyRect(&r)) WInvalRect(PanelWindow(heap), &r);
}
// The four one-pixel edge strips of r.
void InvalStrips(ObjHeap heap, const Rect& r) {
  if (DEmptyRect(&r)) return;
  const Rect strips[] = {{r.top, r.left, int16(r.top + 1), r.right},
                         {int16(r.bottom - 1), r.left, r.bottom, r.right},
                         {r.top, r.left, r.bottom, int16(r.left + 1)},
                         {r.top, int16(r.right - 1), r.bottom, r.right}};
  for (const Rect& s : strips) InvalRect(heap, s);
}
Rect Grown(Rect r, int32 by) {
  DInsetRect(&r, -by, -by);
  return r;
}
// Nothing is invalidated without a window or on a hidden object.
bool Invalidates(ObjHeap heap, int32 o) { return PanelWindow(heap) && IsObj(heap, o) && !Hidden(heap, o); }

bool IsValuePart(int16 id) {
  for (int16 v : kValueParts)
    if (v == id) return true;
  return false;
}

void DDOLevels(ObjHeap heap, int32 o, int32 level, bool allPartsForValue) {
  switch (level) {
    case kInvalAll: ForEachPartOf(heap, o, [&](int32 p) { Inval(heap, p, kInvalAll); }); break;
    case kInvalValue:
      ForEachPartOf(heap, o, [&](int32 p) {
        if (allPartsForValue || IsValuePart(PartId(heap, p))) Inval(heap, p, kInvalValue);
      });
      break;
    case kInvalFrame: InvalStrips(heap, GetRect(heap, o, kRectFrame)); break;
    default: break;
  }
}

int32 DDOInval(ObjHeap heap, int32 o, int32 level) {
  if (!Invalidates(heap, o)) return 0;
  SetFlags(heap, o, kObjFlagMoved, false);
  DDOLevels(heap, o, level, false);
  return 0;
}

int32 GrouperInval(ObjHeap heap, int32 o, int32 level) {
  if (!Invalidates(heap, o)) return 0;
  SetFlags(heap, o, kObjFlagMoved, false);
  DDOLevels(heap, o, level, true);
  return 0;
}

int32 ControllerInval(ObjHeap heap, int32 o, int32 level) {
  if (!Invalidates(heap, o) || !Has(heap, o, 4 * (kPWDCODisplay + 1))) return 0;
  Inval(heap, ObjWord(heap, o, kPWDCODisplay), level);
  return 0;
}

int32 ListInval(ObjHeap heap, int32 list, int32 level) {
  if (PanelWindow(heap)) ForEachIn(heap, list, [&](int32 o) { Inval(heap, o, level); });
  return 0;
}

int32 NoInval(ObjHeap, int32, int32) { return 0; }

void CosmeticLevels(ObjHeap heap, int32 o, int32 level, Rect r) {
  if (level == kInvalFrame) {
    InvalStrips(heap, Grown(Bounds(heap, o), 1));
    return;
  }
  if (level != kInvalAll && level != kInvalValue) return;
  if (Flags(heap, o) & kObjFlagMoved) {
    SetFlags(heap, o, kObjFlagMoved, false);
    r.right = int16(r.right + 4);
    r.bottom = int16(r.bottom + 4);
  }
  InvalRect(heap, r);
}

int32 CosmeticInval(ObjHeap heap, int32 o, int32 level) {
  if (Invalidates(heap, o)) CosmeticLevels(heap, o, level, Bounds(heap, o));
  return 0;
}

int32 ScaleInval(ObjHeap heap, int32 o, int32 level) {
  if (!Invalidates(heap, o)) return 0;
  const bool inner = level == kInvalValue && Has(heap, o, kScaleInnerRect + 8);
  CosmeticLevels(heap, o, level, inner ? RectAt(heap, o, kScaleInnerRect) : Bounds(heap, o));
  return 0;
}

int32 NumericInval(ObjHeap heap, int32 o, int32 level) {
  if (level == kInvalFrame && IsObj(heap, o) && IsPart10StdImage(heap, o)) return 0;
  return DDOInval(heap, o, level);
}

int32 StringInval(ObjHeap heap, int32 o, int32 level) {
  if (level == kInvalFrame && IsObj(heap, o) && IsPart11StdImage(heap, o)) return 0;
  return DDOInval(heap, o, level);
}

int32 ListboxInval(ObjHeap heap, int32 o, int32 level) {
  if (level == kInvalFrame && IsObj(heap, o) && IsPart9StdImage(heap, o)) {
    if (Invalidates(heap, o)) InvalStrips(heap, Grown(Bounds(heap, PartOf(heap, o, 9)), 2));
    return 0;
  }
  return DDOInval(heap, o, level);
}

int32 SlideInval(ObjHeap heap, int32 o, int32 level) {
  NumericInval(heap, o, level);
  if ((level == kInvalAll || level == kInvalValue) && Invalidates(heap, o)) {
    Rect scales;
    FPUnionScaleRects(heap, o, &scales);
    InvalRect(heap, scales);
  }
  return 0;
}

// The dialog's default button: key-navigation slot 0.
int32 DefaultButton(ObjHeap heap) {
  int32 button = 0;
  return DlgGetKeyNavItem(heap, 0, &button) ? button : 0;
}

int32 BooleanInval(ObjHeap heap, int32 o, int32 level) {
  if (!Invalidates(heap, o)) return 0;
  const bool button = GetBoolButtonImageKind(heap, o) != 0;
  DDOInval(heap, o, level == kInvalFrame && !button ? kInvalValue : level);
  const WindowRef w = PanelWindow(heap);
  if (WIsActive(w) && DefaultButton(heap) == o && !InTextEntry(heap) &&
      (button || (uInt16(Ext(heap, kHeapExtWindowOptions)) & kWindowOptionDefaultFrame)))
    InvalStrips(heap, GetRect(heap, o, kRectFrame));
  return 0;
}

// ---- Rectangles ---------------------------------------------------------------------------

void Unite(Rect* all, const Rect& r) {
  if (!DEmptyRect(&r)) DUnionRect(&r, all);
}

Rect FrameRect(ObjHeap heap, int32 o, int16 without) {
  const int32 main = PartOf(heap, o, 0);
  if (!main) return Grown(Bounds(heap, o), 1);
  Rect r = Bounds(heap, main);
  const uInt16 group = uInt16(ObjInt16(heap, main, kObjPartKey));
  ForEachPartOf(heap, o, [&](int32 p) {
    if (p == main || Hidden(heap, p) || !(Flags(heap, p) & kPartFlagFrame) || PartId(heap, p) == without) return;
    if (uInt16(ObjInt16(heap, p, kObjPartKey)) == group) Unite(&r, Bounds(heap, p));
  });
  return Grown(r, 1);
}

Rect DDORect(ObjHeap heap, int32 o, int32 kind, int16 without = -1) {
  switch (kind) {
    case kRectMain: case kRectMainOnly: {
      const int32 main = PartOf(heap, o, 0);
      return main ? Bounds(heap, main) : Bounds(heap, o);
    }
    case kRectFrame: return FrameRect(heap, o, without);
    default: return Bounds(heap, o);
  }
}

int32 Answer(Rect* out, const Rect& r) {
  if (out) *out = r;
  return 0;
}

int32 DDOGetRect(ObjHeap heap, int32 o, Rect* out, int32 kind) {
  return IsObj(heap, o) ? Answer(out, DDORect(heap, o, kind)) : Answer(out, kNoRect);
}

int32 BooleanGetRect(ObjHeap heap, int32 o, Rect* out, int32 kind) {
  if (!IsObj(heap, o)) return Answer(out, kNoRect);
  Rect r = DDORect(heap, o, kind);
  const int32 text = PartOf(heap, o, kPartBoolValue);
  if (kind == kRectFrame && text && !Hidden(heap, text)) Unite(&r, Grown(Bounds(heap, text), 1));
  return Answer(out, r);
}

int32 KnobGetRect(ObjHeap heap, int32 o, Rect* out, int32 kind) {
  return IsObj(heap, o) ? Answer(out, DDORect(heap, o, kind, kPartSlideHousing)) : Answer(out, kNoRect);
}

int32 ColorRampGetRect(ObjHeap heap, int32 o, Rect* out, int32 kind) {
  if (!IsObj(heap, o)) return Answer(out, kNoRect);
  Rect r = DDORect(heap, o, kind);
  if (kind == kRectFrame)
    ForEachPartOf(heap, o, [&](int32 p) {
      const int16 id = PartId(heap, p);
      if (!Hidden(heap, p) && (Flags(heap, p) & kPartFlagFrame) && id != kPartScaleLabels && id != 8012 && id != 8013)
        Unite(&r, Grown(Bounds(heap, p), 1));
    });
  return Answer(out, r);
}

int32 ClusterGetRect(ObjHeap heap, int32 o, Rect* out, int32 kind) {
  if (!IsObj(heap, o)) return Answer(out, kNoRect);
  Rect r = DDORect(heap, o, kind);
  if (kind != kRectMainOnly && ConfirmObject(heap) == o && Has(heap, o, 4 * (kPartElementsWord + 1)))
    ForEachIn(heap, ObjWord(heap, o, kPartElementsWord), [&](int32 e) { Unite(&r, GetRect(heap, e, kind)); });
  return Answer(out, r);
}

// A data controller stands for its display object.
int32 DisplayOf(ObjHeap heap, int32 o) {
  if (!IsA(heap, o, kClsFPDataController) || !Has(heap, o, 4 * (kPWDCODisplay + 1))) return 0;
  const int32 d = ObjWord(heap, o, kPWDCODisplay);
  return IsObj(heap, d) && d != o ? d : 0;
}

int32 ControllerGetRect(ObjHeap heap, int32 o, Rect* out, int32 kind) {
  const int32 d = IsObj(heap, o) ? DisplayOf(heap, o) : 0;
  return Answer(out, d ? GetRect(heap, d, kind) : kNoRect);
}

int32 FrontPanelGetRect(ObjHeap heap, int32 root, Rect* out, int32 kind) {
  Rect all = kNoRect;
  if (Has(heap, root, kRootObjectList + 4)) {
    const int32 confirm = ConfirmObject(heap);
    ForEachIn(heap, int32(Word(heap, root, kRootObjectList)), [&](int32 o) {
      const int32 d = DisplayOf(heap, o);
      const bool hidden = Hidden(heap, o) || (d && Hidden(heap, d));
      if (!hidden || (confirm && (o == confirm || d == confirm))) Unite(&all, GetRect(heap, o, kind));
    });
  }
  return Answer(out, all);
}

int32 BoundsGetRect(ObjHeap heap, int32 o, Rect* out, int32) {
  return Answer(out, IsObj(heap, o) ? Bounds(heap, o) : kNoRect);
}

// The id of a loaded or built-in image reference; 0 when it names no image.
int32 ImageOf(int32 ref) {
  const int32 id = ref ? (ref & 0xFFFF) : 0;
  return id && IKindOf(id) ? id : 0;
}

int32 CosmeticGetRect(ObjHeap heap, int32 o, Rect* out, int32 kind) {
  if (!Has(heap, o, kCosmBack + 4)) return Answer(out, kNoRect);
  Rect r = Bounds(heap, o);
  const int32 cls = Cls(heap, o);
  if (cls == kClsBigMultiCosmetic && kind != 1) {
    const int32 count = ObjInt16(heap, o, kObjImageCount);
    Rect all = kNoRect;
    for (int32 i = 0; i < count && Has(heap, o, kObjImageList + (i + 1) * kBigImageEntry); ++i)
      Unite(&all, RectAt(heap, o, kObjImageList + i * kBigImageEntry));
    if (!DEmptyRect(&all)) r = all;
  } else if (const int32 image = ImageOf(int32(Word(heap, o, kObjImage)))) {
    Rect got;
    if (IGetMaskBounds(image, &r, &got) != kImageNoMaskErr) r = got;
  }
  return Answer(out, r);
}

int32 ScaleGetRect(ObjHeap heap, int32 o, Rect* out, int32 kind) {
  if (!IsObj(heap, o)) return Answer(out, kNoRect);
  return Answer(out, kind == kRectFrame ? Grown(Bounds(heap, o), 1) : Bounds(heap, o));
}

int32 AnnexGetRect(ObjHeap, int32, Rect* out, int32) { return Answer(out, kNoRect); }

// ---- Marking ------------------------------------------------------------------------------

// Marks or unmarks the object; the answer.
int32 SetMark(ObjHeap heap, int32 o, uInt32 bits, bool marked) {
  SetFlags(heap, o, bits, marked);
  return marked ? 1 : 0;
}

bool Transparent(ObjHeap heap, int32 o, int32 at) { return Has(heap, o, at + 4) && Word(heap, o, at) == kTransparent; }

// The data display object rule, leaving out parts of the ids in skip; a
// part of the id `own` is marked by markOwn instead of its class's method.
template <typename MarkOwn>
int32 DDOMarkWith(ObjHeap heap, int32 o, DRgn region, const Rect* clip, int32 bits, std::initializer_list<int16> skip,
                  int16 own, MarkOwn markOwn) {
  if (!IsObj(heap, o) || Hidden(heap, o)) return 0;
  const Rect b = Bounds(heap, o);
  const bool touched = FPRectTouchesRegion(&b, clip, region, 0);
  bool any = false;
  ForEachPartOf(heap, o, [&](int32 p) {
    const int16 id = PartId(heap, p);
    for (int16 s : skip)
      if (id == s) return;
    if (Hidden(heap, p)) return;
    if (id == own ? markOwn(p) : Mark(heap, p, region, clip, bits)) any = true;
  });
  return SetMark(heap, o, uInt32(bits), touched && any);
}
int32 DDOMarkSkipping(ObjHeap heap, int32 o, DRgn region, const Rect* clip, int32 bits,
                      std::initializer_list<int16> skip) {
  return DDOMarkWith(heap, o, region, clip, bits, skip, -1, [](int32) { return 0; });
}

int32 DDOMark(ObjHeap heap, int32 o, DRgn region, const Rect* clip, int32 bits) {
  return DDOMarkSkipping(heap, o, region, clip, bits, {});
}

int32 ControllerMark(ObjHeap heap, int32 o, DRgn region, const Rect* clip, int32 bits) {
  const int32 d = IsObj(heap, o) && !Hidden(heap, o) ? DisplayOf(heap, o) : 0;
  return d ? Mark(heap, d, region, clip, bits) : 0;
}

int32 CosmeticMark(ObjHeap heap, int32 o, DRgn region, const Rect* clip, int32 bits) {
  if (!Has(heap, o, kCosmBack + 4) || Hidden(heap, o)) return 0;
  const Rect b = Bounds(heap, o);
  const bool touched = FPRectTouchesRegion(&b, clip, region, 1);
  return SetMark(heap, o, uInt32(bits), touched || Transparent(heap, o, kCosmFore) || Transparent(heap, o, kCosmBack));
}

int32 MultiCosmeticMark(ObjHeap heap, int32 o, DRgn region, const Rect* clip, int32 bits) {
  if (!Has(heap, o, kCosmBack + 4) || Hidden(heap, o)) return 0;
  Rect r = Bounds(heap, o);
  if (Cls(heap, o) == kClsBigMultiCosmetic) {
    r = GetRect(heap, o, kRectBounds);
    if (DEmptyRect(&r)) DBPrintf("BigMultiCosmetic 0x%lx: no rectangle to mark", long(o));
  }
  const bool touched = FPRectTouchesRegion(&r, clip, region, 1);
  return SetMark(heap, o, uInt32(bits), touched || !(Flags(heap, o) & kObjFlagOpaque));
}

bool TextTransparent(TRecord text) {
  if (!text) return false;
  DColor fore = 0, back = 0;
  TGetColors(text, &fore, &back);
  return back == kTransparent;
}

// Sets the marking bits of o and the mark of the text record when the mark
// changes; the answer.
int32 MarkWithText(ObjHeap heap, int32 o, TRecord text, uInt32 bits, bool marked) {
  if (bool(Flags(heap, o) & bits) != marked || (text && bool(TGetMode(text) & kTextModeMarked) != marked)) {
    SetFlags(heap, o, bits, marked);
    if (text) {
      const uInt32 mode = TGetMode(text);
      TSetMode(text, marked ? mode | kTextModeMarked : mode & ~kTextModeMarked, 0);
    }
  }
  return marked ? 1 : 0;
}

int32 LabelMark(ObjHeap heap, int32 o, DRgn region, const Rect* clip, int32 bits) {
  if (!Has(heap, o, kCosmBack + 4) || Hidden(heap, o)) return 0;
  const Rect b = Bounds(heap, o);
  const bool touched = FPRectTouchesRegion(&b, clip, region, 1);
  TRecord text = TextOf(heap, o);
  return MarkWithText(heap, o, text, uInt32(bits),
                      touched || Transparent(heap, o, kCosmBack) || TextTransparent(text));
}

int32 ScaleMark(ObjHeap heap, int32 o, DRgn region, const Rect* clip, int32 bits) {
  if (!IsObj(heap, o) || Hidden(heap, o)) return 0;
  const Rect b = Bounds(heap, o);
  const bool touched = FPRectTouchesRegion(&b, clip, region, 1);
  const int32 label = PartOf(heap, o, 27);
  TRecord text = label ? TextOf(heap, label) : nullptr;
  const bool clear = (label && Transparent(heap, label, kCosmBack)) || TextTransparent(text);
  return MarkWithText(heap, o, text, uInt32(bits), touched || clear);
}

int32 ArrayMark(ObjHeap heap, int32 o, DRgn region, const Rect* clip, int32 bits) {
  if (!IsObj(heap, o) || Hidden(heap, o)) return 0;
  if (Has(heap, o, 4 * (kPartElementsWord + 1))) {
    const int32 element = ObjWord(heap, o, kPartElementsWord);
    if (DRgn own = DRectRgn(nullptr)) {
      Mark(heap, element, own, &kUnbounded, bits);
      DDestroyRgn(own);
    }
  }
  return DDOMark(heap, o, region, clip, bits);
}

// Table and Graph/Chart: a transparent part 28 counts as grey while marking.
int32 GreyedMark(ObjHeap heap, int32 o, DRgn region, const Rect* clip, int32 bits, bool graph) {
  if (!IsObj(heap, o) || Hidden(heap, o)) return 0;
  const int32 area = PartOf(heap, o, 28);
  const bool cosm = area && Has(heap, area, kCosmBack + 4) && ClassRecord(Cls(heap, area))->categoryB == kCatCOSM;
  const bool fore = cosm && Transparent(heap, area, kCosmFore);
  const bool back = cosm && graph && Transparent(heap, area, kCosmBack);
  if (fore) SetWord(heap, area, kCosmFore, kMarkGrey);
  if (back) SetWord(heap, area, kCosmBack, kMarkGrey);
  const int32 marked = DDOMark(heap, o, region, clip, bits);
  // The marking sends may not move the heap's blocks: the offsets still hold.
  if (fore && Has(heap, area, kCosmBack + 4)) SetWord(heap, area, kCosmFore, kTransparent);
  if (back && Has(heap, area, kCosmBack + 4)) SetWord(heap, area, kCosmBack, kTransparent);
  TRecord text = nullptr;
  if (graph) {
    const int32 t = PartOf(heap, o, 32);
    text = t ? TextOf(heap, t) : nullptr;
  } else if (Has(heap, o, kTableEditPart + 4)) {
    const int32 t = int32(Word(heap, o, kTableEditPart));
    text = IsObj(heap, t) ? TextOf(heap, t) : nullptr;
  }
  if (text) {
    const uInt32 mode = TGetMode(text);
    const bool on = Flags(heap, o) & kObjFlagOverlapMark;
    if (bool(mode & kTextModeMarked) != on) TSetMode(text, on ? mode | kTextModeMarked : mode & ~kTextModeMarked, 0);
  }
  return marked;
}
int32 TableMark(ObjHeap heap, int32 o, DRgn region, const Rect* clip, int32 bits) {
  return GreyedMark(heap, o, region, clip, bits, false);
}
int32 GraphMark(ObjHeap heap, int32 o, DRgn region, const Rect* clip, int32 bits) {
  return GreyedMark(heap, o, region, clip, bits, true);
}

// The housing (part 8) is marked when it meets the region or does not
// paint every pixel of its rectangle.
int32 SlideMark(ObjHeap heap, int32 o, DRgn region, const Rect* clip, int32 bits) {
  return DDOMarkWith(heap, o, region, clip, bits, {kPartSlideHousing, kPartSlideFill, kPartScaleLabels, 44}, 8,
                     [&](int32 housing) {
                       const Rect r = Bounds(heap, housing);
                       const bool touched = FPRectTouchesRegion(&r, clip, region, 1);
                       return SetMark(heap, housing, uInt32(bits), touched || !(Flags(heap, housing) & kObjFlagOpaque));
                     });
}

int32 BooleanMark(ObjHeap heap, int32 o, DRgn region, const Rect* clip, int32 bits) {
  if (!IsObj(heap, o) || Hidden(heap, o)) return 0;
  const int32 button = PartOf(heap, o, 21), text = PartOf(heap, o, kPartBoolValue);
  if (!button || !text || Hidden(heap, text)) return DDOMark(heap, o, region, clip, bits);
  const Rect t = Bounds(heap, text), b = Bounds(heap, button);
  if (!DRectInRect(&t, &b)) return DDOMark(heap, o, region, clip, bits);
  const int32 marked = DDOMarkSkipping(heap, o, region, clip, bits, {kPartBoolValue});
  const bool buttonMarked = Flags(heap, button) & uInt32(bits);
  const bool buttonClear = Transparent(heap, button, kCosmFore) || Transparent(heap, button, kCosmBack);
  const bool textClear = Transparent(heap, text, kCosmBack) || TextTransparent(TextOf(heap, text));
  MarkWithText(heap, text, TextOf(heap, text), uInt32(bits), buttonMarked || (textClear && buttonClear));
  return marked;
}

int32 RingMark(ObjHeap heap, int32 o, DRgn region, const Rect* clip, int32 bits) {
  if (!IsObj(heap, o) || Hidden(heap, o)) return 0;
  if (const int32 items = PartOf(heap, o, kPartRingItems)) {
    Rect r = Bounds(heap, items);
    if (const int32 area = PartOf(heap, o, 28)) {
      Rect inner = Grown(Bounds(heap, area), -1);
      if (DRectInRect(&r, &inner)) r = inner;
    }
    SetMark(heap, items, uInt32(bits), FPRectTouchesRegion(&r, clip, region, 0));
  }
  return DDOMarkSkipping(heap, o, region, clip, bits, {kPartRingItems});
}

int32 ClusterMark(ObjHeap heap, int32 o, DRgn region, const Rect* clip, int32 bits) {
  if (!IsObj(heap, o) || Hidden(heap, o)) return 0;
  Rect narrowed = clip ? *clip : kUnbounded;
  if (const int32 area = PartOf(heap, o, 28)) {
    const Rect content = Bounds(heap, area);
    DSectRect(&narrowed, &content, &narrowed);
  } else {
    DBPrintf("Cluster 0x%lx: no content part to mark in", long(o));
  }
  if (Has(heap, o, 4 * (kPartElementsWord + 1)))
    ForEachIn(heap, ObjWord(heap, o, kPartElementsWord), [&](int32 e) {
      const Rect r = GetRect(heap, e, kRectBounds);
      if (!Hidden(heap, e) && DSectRect(&r, &narrowed, nullptr)) Mark(heap, e, region, &narrowed, bits);
    });
  ForEachPartOf(heap, o, [&](int32 p) {
    if (!Hidden(heap, p)) Mark(heap, p, region, clip, bits);
  });
  const Rect b = Bounds(heap, o);
  return SetMark(heap, o, uInt32(bits), FPRectTouchesRegion(&b, clip, region, 1));
}

// The window outside the panel's content (menu bar, tool bar, scroll bars,
// icon pane, size box), in the clip rectangle, added to the region.
void AddWindowParts(ObjHeap heap, WindowRef w, const Rect* clip, DRgn region) {
  const int32 ext = ExtOffset(heap);
  if (!ext || !region) return;
  Rect port, content = RectAt(heap, ext, kHeapExtContentRect);
  WGetRect(w, &port);
  if (clip && !DSectRect(&port, clip, &port)) return;
  DRgn parts = DRectRgn(&port), inner = DRectRgn(&content);
  if (parts && inner) {
    DCombineRgn(parts, parts, inner, kDRgnDiff);
    DCombineRgn(region, region, parts, kDRgnUnion);
  }
  if (parts) DDestroyRgn(parts);
  if (inner) DDestroyRgn(inner);
}

int32 FrontPanelMark(ObjHeap heap, int32 root, DRgn region, const Rect* clip, int32) {
  if (!IsObj(heap, root) || !Has(heap, root, kRootObjectList + 4)) return 0;
  const bool own = !region;
  if (own && !(region = DRectRgn(nullptr))) return 0;
  const bool entry = InTextEntry(heap);
  if (!entry) UpdateCursor(0);
  ForEachIn(heap, int32(Word(heap, root, kRootObjectList)), [&](int32 o) {
    const Rect r = GetRect(heap, o, kRectBounds);
    if (!clip || DSectRect(&r, clip, nullptr)) Mark(heap, o, region, clip, int32(kObjFlagOverlapMark));
  });
  if (const WindowRef w = PanelWindow(heap)) {
    AddWindowParts(heap, w, clip, region);
    WSetIdleRgn(w, region, 1);
  }
  if (!entry) UpdateCursor(0);
  if (own) DDestroyRgn(region);
  return 0;
}

// ---- Opacity of cosmetic parts -------------------------------------------------------------

bool ImageSolid(int32 image, const Rect& r, ObjHeap heap, int32 part) {
  const DColor colours[2] = {DColor(Word(heap, part, kCosmFore)), DColor(Word(heap, part, kCosmBack))};
  Bool32 solid = 0;
  return IIsSolid(image, &r, colours, &solid, nullptr) == kNoErr && solid;
}

bool CosmeticOpaque(ObjHeap heap, int32 part) {
  if (Transparent(heap, part, kCosmFore) || Transparent(heap, part, kCosmBack)) return false;
  const Rect bounds = Bounds(heap, part);
  if (DEmptyRect(&bounds)) return false;
  const int32 cls = Cls(heap, part);
  if (cls == kClsMultiCosmetic || cls == kClsBigMultiCosmetic || cls == kClsMultiLabel || cls == kClsBigMultiLabel) {
    const bool big = cls == kClsBigMultiCosmetic;
    const int32 entry = big ? kBigImageEntry : 4, refAt = big ? kBigImageRef : 0;
    const int32 count = Has(heap, part, kObjImageList) ? ObjInt16(heap, part, kObjImageCount) : 0;
    if (count <= 0) return false;
    Rect first = kNoRect;
    for (int32 i = 0; i < count; ++i) {
      if (!Has(heap, part, kObjImageList + (i + 1) * entry)) return false;
      const int32 image = ImageOf(int32(Word(heap, part, kObjImageList + i * entry + refAt)));
      if (!image) return false;
      Rect r = big ? RectAt(heap, part, kObjImageList + i * entry) : bounds;
      if (!big) IGetRect(image, &r);
      if (i == 0) first = r;
      else if (!DEqualRect(&r, &first)) return false;
      if (!ImageSolid(image, big ? r : bounds, heap, part)) return false;
    }
    return true;
  }
  const int32 image = ImageOf(int32(Word(heap, part, kObjImage)));
  // Without an image the look is the rectangle filled in its colours.
  return !image || ImageSolid(image, bounds, heap, part);
}

}  // namespace

// ---- Entry points ---------------------------------------------------------------------------

void OInval(ObjHeap heap, int32 object, int32 level) { Inval(heap, object, level); }

void FPUnionScaleRects(ObjHeap heap, int32 object, Rect* rect) {
  Rect all = kNoRect;
  if (IsObj(heap, object))
    ForEachPartOf(heap, object, [&](int32 p) {
      if (Cls(heap, p) == kClsScale && !Hidden(heap, p)) Unite(&all, Bounds(heap, p));
    });
  if (rect) *rect = all;
}

Bool32 FPRectTouchesRegion(const Rect* rect, const Rect* clip, DRgn region, Bool32 add) {
  if (!rect || !region) return 0;
  Rect r = *rect;
  if (clip && !DSectRect(&r, clip, &r)) return 0;
  if (DEmptyRect(&r)) return 0;
  const Bool32 meets = DRectInRgn(&r, region);
  if (add) {
    if (DRgn clipped = DRectRgn(&r)) {
      DCombineRgn(region, region, clipped, kDRgnUnion);
      DDestroyRgn(clipped);
    }
  }
  return meets;
}

void FPSetTextMarked(ObjHeap heap, int32 label, uInt32 bits, Bool32 set) {
  if (!IsObj(heap, label)) return;
  SetFlags(heap, label, bits, set);
  if (TRecord text = TextOf(heap, label)) {
    const uInt32 mode = TGetMode(text);
    TSetMode(text, set ? mode | kTextModeMarked : mode & ~kTextModeMarked, 0);
  }
}

int32 FPInvalDiff(ObjHeap heap, int32 part) {
  if (!Has(heap, part, kCosmBack + 4) || ClassRecord(Cls(heap, part))->categoryB != kCatCOSM) {
    DBAssert(kSourceFile, __LINE__, "FPInvalDiff: not a cosmetic");
    return 0;
  }
  const bool opaque = CosmeticOpaque(heap, part);
  const bool was = Flags(heap, part) & kObjFlagOpaque;
  SetFlags(heap, part, kObjFlagOpaque, opaque);
  if (was != opaque && IsPanel(heap))
    if (const int32 root = Root(heap)) SetFlags(heap, root, kRootFlagRemark, true);
  return opaque ? 1 : 0;
}

int32 FPInvalObjRect(ObjHeap heap, int32 owner, int32 part) {
  if (!IsObj(heap, owner) || !IsObj(heap, part)) return 0;
  const int32 cls = Cls(heap, part), ownerCls = Cls(heap, owner);
  const int16 id = PartId(heap, part);
  const bool cosm = ClassRecord(cls)->categoryB == kCatCOSM && Has(heap, part, kCosmBack + 4);
  if (cls == kClsMultiCosmetic || cls == kClsBigMultiCosmetic) return FPInvalDiff(heap, part);
  if (ClassIsKindOf(ownerCls, kClsSlide) && (id == kPartSlideFill || id == 8) && cosm) {
    const Rect b = Bounds(heap, part);
    // A slider under 5 pixels and a knob's round housing leave pixels of
    // their rectangle unpainted.
    if ((id == kPartSlideFill && (RectWidth(&b) < 5 || RectHeight(&b) < 5)) ||
        (id == 8 && ClassIsKindOf(ownerCls, kClsKnob))) {
      const bool was = Flags(heap, part) & kObjFlagOpaque;
      SetFlags(heap, part, kObjFlagOpaque, false);
      if (was && IsPanel(heap))
        if (const int32 root = Root(heap)) SetFlags(heap, root, kRootFlagRemark, true);
      return 0;
    }
    return FPInvalDiff(heap, part);
  }
  if (ownerCls == kClsPicture && id == 28 && cosm) return FPInvalDiff(heap, part);
  return 1;
}

namespace {
// Whether the part of that id shows the built-in picture index.
int32 PartShowsPicture(ObjHeap heap, int32 object, int16 id, int32 index) {
  if (!IsObj(heap, object)) return 0;
  const int32 part = PartOf(heap, object, id);
  if (!part || !Has(heap, part, kObjImage + 4)) return 0;
  return int16(Word(heap, part, kObjImage) >> 16) == -index ? 1 : 0;
}
}  // namespace

int32 IsPart9StdImage(ObjHeap heap, int32 object) { return PartShowsPicture(heap, object, 9, 300); }
int32 IsPart10StdImage(ObjHeap heap, int32 object) { return PartShowsPicture(heap, object, 10, 301); }
int32 IsPart11StdImage(ObjHeap heap, int32 object) { return PartShowsPicture(heap, object, 11, 302); }

int32 GetBoolButtonImageKind(ObjHeap heap, int32 object) {
  if (!IsObj(heap, object)) return 0;
  const int32 part = PartOf(heap, object, 21);
  if (!part) return 0;
  const int32 cls = Cls(heap, part);
  if (cls != kClsMultiCosmetic && cls != kClsBigMultiCosmetic) {
    DBPrintf("GetBoolButtonImageKind: part 21 of class %ld", long(cls));
    return 0;
  }
  const bool big = cls == kClsBigMultiCosmetic;
  const int32 entry = big ? kBigImageEntry : 4, refAt = big ? kBigImageRef : 0;
  const int32 count = Has(heap, part, kObjImageList) ? ObjInt16(heap, part, kObjImageCount) : 0;
  if (count <= 0) return 0;
  for (int32 i = 0; i < count; ++i) {
    if (!Has(heap, part, kObjImageList + (i + 1) * entry)) return 0;
    const int32 index = -int16(Word(heap, part, kObjImageList + i * entry + refAt) >> 16);
    if (index < 272 || index > 275) return 0;
  }
  return 1;
}

namespace {
template <typename F>
ObjMethodAddr A(F f) {
  return reinterpret_cast<ObjMethodAddr>(f);
}
bool IsCosmeticClass(int32 cls) {
  return (cls >= kClsCosmetic && cls <= kClsBigMultiLabel) || cls == kClsSelLabel;
}
// The data display object and the classes that derive from it (the class
// table is still being built when it asks for methods: no class record can
// be read yet).
bool IsDisplayClass(int32 cls) {
  switch (cls) {
    case kClsFrontPanel: case kClsDataDisplayObject: case kClsBoolean: case kClsNumeric: case kClsString:
    case kClsArray: case kClsCluster: case kClsRefNum: case kClsColorBox: case kClsRing: case kClsSlide:
    case kClsKnob: case kClsPath: case kClsTable: case kClsGraphChart: case kClsPicture: case kClsUserItem:
    case kClsTypeDefinition: case kClsColorRamp: case kClsListbox: case kClsTag: case kClsOleVariant:
    case kClsContainer:
      return true;
    default: return false;
  }
}
}  // namespace

ObjMethodAddr OInvalMethodFor(int32 cls) {
  if (IsCosmeticClass(cls)) return A(&CosmeticInval);
  switch (cls) {
    case kClsList: return A(&ListInval);
    case kClsCrossList: return A(&NoInval);
    case kClsFPDataController: return A(&ControllerInval);
    case kClsGrouperObject: return A(&GrouperInval);
    case kClsScale: return A(&ScaleInval);
    case kClsNumeric: case kClsColorBox: case kClsRing: case kClsColorRamp: return A(&NumericInval);
    case kClsString: case kClsTag: return A(&StringInval);
    case kClsListbox: return A(&ListboxInval);
    case kClsSlide: case kClsKnob: return A(&SlideInval);
    case kClsBoolean: return A(&BooleanInval);
    default: return IsDisplayClass(cls) ? A(&DDOInval) : nullptr;
  }
}

ObjMethodAddr OGetRectMethodFor(int32 cls) {
  if (IsCosmeticClass(cls)) return A(&CosmeticGetRect);
  switch (cls) {
    case kClsFPDataController: return A(&ControllerGetRect);
    case kClsFrontPanel: return A(&FrontPanelGetRect);
    case kClsGrouperObject: return A(&BoundsGetRect);
    case kClsScale: return A(&ScaleGetRect);
    case kClsAnnex: return A(&AnnexGetRect);
    case kClsBoolean: return A(&BooleanGetRect);
    case kClsKnob: return A(&KnobGetRect);
    case kClsColorRamp: return A(&ColorRampGetRect);
    case kClsCluster: return A(&ClusterGetRect);
    default: return IsDisplayClass(cls) ? A(&DDOGetRect) : nullptr;
  }
}

bool OGetRectAnswersBounds(ObjMethodAddr method) {
  return method == A(&DDOGetRect) || method == A(&BooleanGetRect) || method == A(&KnobGetRect) ||
         method == A(&ColorRampGetRect);
}

const ObjMethodAddr kCosmeticGetRectMethod = A(&CosmeticGetRect);

bool OGetRectBoundsReadOther(ObjHeap heap, int32 o, int32 usable, ObjMethodAddr method, Rect* out) {
  if (!OGetRectAnswersBounds(method) && method != A(&BoundsGetRect)) return false;
  *out = usable >= kLeadingBytes ? Bounds(heap, o) : kNoRect;
  return true;
}

ObjMethodAddr OMarkInRectMethodFor(int32 cls) {
  switch (cls) {
    case kClsCosmetic: return A(&CosmeticMark);
    case kClsMultiCosmetic: case kClsBigMultiCosmetic: return A(&MultiCosmeticMark);
    case kClsLabel: case kClsMultiLabel: case kClsBigMultiLabel: case kClsSelLabel: return A(&LabelMark);
    case kClsScale: return A(&ScaleMark);
    case kClsFPDataController: return A(&ControllerMark);
    case kClsFrontPanel: return A(&FrontPanelMark);
    case kClsArray: return A(&ArrayMark);
    case kClsTable: return A(&TableMark);
    case kClsGraphChart: return A(&GraphMark);
    case kClsSlide: case kClsKnob: return A(&SlideMark);
    case kClsBoolean: return A(&BooleanMark);
    case kClsRing: return A(&RingMark);
    case kClsCluster: return A(&ClusterMark);
    default:
      return IsDisplayClass(cls) || cls == kClsGrouperObject ? A(&DDOMark) : nullptr;
  }
}
