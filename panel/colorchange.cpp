// Recolouring panel objects (message 19): the storing methods of the
// cosmetic classes and the forwarding rules that keep the parts of a
// control that belong together in matching colours.
#include <algorithm>

#include "engine/objswap.h"
#include "engine/typemgr.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/image.h"
#include "mgsource/window/textrec.h"
#include "panel/attrcall.h"
#include "panel/ctrl_internal.h"
#include "panel/numdoit.h"
#include "panel/objload.h"
#include "panel/oinit.h"
#include "panel/oinval.h"
#include "panel/osupport.h"

using ctrl::Flags;
using ctrl::Has;
using ctrl::IsObj;

namespace {

constexpr uInt32 kTransparent = 0x1000000;
constexpr uInt32 kSlideTwoFills = 0x800000;
constexpr int16 kPartLabelFixed = 81;
enum : int16 {
  kPartIncrement = 2, kPartDecrement = 3, kPartSlideArrowA = 6, kPartSlideArrowB = 7, kPartSlideHousing = 8,
  kPartFrame = 9, kPartRadixText = 15, kPartButton = 21, kPartSlider = 23, kPartContent = 28, kPartArrayFrame = 30,
  kPartFill = 31, kPartHousingDecor = 44,
};

bool PanelHeap(ObjHeap heap) { return heap && *heap && OHWord(heap, kOHKind) == kPanelHeapKind; }
int32 Root(ObjHeap heap) { return int32(ctrl::Ext(heap, kHeapExtRoot)); }
void MarkRoot(ObjHeap heap, uInt32 bits) {
  const int32 root = Root(heap);
  if (IsObj(heap, root)) ctrl::SetFlags(heap, root, Flags(heap, root) | bits);
}
bool RootMarked(ObjHeap heap) {
  const int32 root = Root(heap);
  return IsObj(heap, root) && (Flags(heap, root) & kRootFlagTransparent);
}

// With flags 0x300 cleared and the given colour bits in their place.
int32 With(int32 flags, int32 bits) { return (flags & ~kColorBoth) | bits; }
int32 Recolour(ObjHeap heap, int32 object, int32 id, int32 order, DColor fore, DColor back, int32 flags) {
  return ColorChangePartById(heap, object, id, order, fore, back, flags);
}

// ---- Multi-state cosmetics ----------------------------------------------------------------

int32 StateCount(ObjHeap heap, int32 object) {
  if (!Has(heap, object, kObjImageList)) return 0;
  return std::clamp<int32>(ObjInt16(heap, object, kObjImageCount), 0,
                           (OHBlockSize(heap, object) - kObjImageList) / kBigImageEntry);
}
int32 PairWord(int32 state, int32 which) { return (kObjImageList + kBigImageEntry * state + 8) / 4 + which; }

}  // namespace

// ---- Storing methods ----------------------------------------------------------------------

int32 CosmeticOColorChangeMethod(ObjHeap heap, int32 part, int32, int32, DColor fore, DColor back, int32 flags) {
  if (!Has(heap, part, kObjCosmBack + 4)) return 0;
  const bool panel = PanelHeap(heap);
  const DColor oldFore = ctrl::PartFore(heap, part), oldBack = ctrl::PartBack(heap, part);
  if (panel && (flags & kColorWasTransparent) && (oldFore == kTransparent || oldBack == kTransparent))
    MarkRoot(heap, kRootFlagTransparent);
  DColor f = oldFore, b = oldBack;
  if ((flags & kColorFore) && fore != oldFore) f = fore;
  if ((flags & kColorBack) && back != oldBack) b = back;
  const bool changed = f != oldFore || b != oldBack;
  if (changed) ctrl::SetPartColours(heap, part, f, b);
  if ((flags & kColorFinal) && panel) {
    if (f == kTransparent || b == kTransparent) MarkRoot(heap, kRootFlagTransparent);
    if (RootMarked(heap)) {
      FPInvalObjRect(heap, ObjWord(heap, part, kObjOwner / 4), part);
      MarkRoot(heap, kRootFlagRedrawAll);
    }
  }
  if (!changed) return 0;
  OInval(heap, part, kInvalAll);
  return kAttrReplyCosmetic;
}

namespace {

int32 LabelOColorChangeMethod(ObjHeap heap, int32 label, int32 id, int32 order, DColor fore, DColor back,
                              int32 flags) {
  if (!IsObj(heap, label) || ctrl::PartIdOf(heap, label) == kPartLabelFixed) return 0;
  if ((flags & kColorBack) && Has(heap, label, kObjText + 4) && back != ctrl::PartBack(heap, label)) {
    if (const TRecord text = PartTextRecord(heap, label)) TSetColors(text, nullptr, &back, 0);
  }
  return CosmeticOColorChangeMethod(heap, label, id, order, fore, back, flags);
}

int32 BigMultiCosmeticOColorChangeMethod(ObjHeap heap, int32 part, int32, int32, DColor fore, DColor back,
                                         int32 flags) {
  if (!Has(heap, part, kObjImageList)) return 0;
  const int32 reply = SetMultiCosmeticStateColors(heap, part, fore, back, flags, ObjInt16(heap, part, kObjImageIndex));
  if (reply) OInval(heap, part, kInvalAll);
  return reply;
}

}  // namespace

int32 SetMultiCosmeticStateColors(ObjHeap heap, int32 object, DColor fore, DColor back, int32 flags, int32 state) {
  if (state < 0 || state >= StateCount(heap, object)) return 0;
  const bool panel = PanelHeap(heap);
  const DColor oldFore = DColor(ObjWord(heap, object, PairWord(state, 0)));
  const DColor oldBack = DColor(ObjWord(heap, object, PairWord(state, 1)));
  if (panel && (flags & kColorWasTransparent) && (oldFore == kTransparent || oldBack == kTransparent))
    MarkRoot(heap, kRootFlagTransparent);
  DColor f = oldFore, b = oldBack;
  if (flags & kColorFore) f = fore;
  if (flags & kColorBack) b = back;
  const bool changed = f != oldFore || b != oldBack;
  ObjSetWord(heap, object, PairWord(state, 0), int32(f));
  ObjSetWord(heap, object, PairWord(state, 1), int32(b));
  if (state == ObjInt16(heap, object, kObjImageIndex)) ctrl::SetPartColours(heap, object, f, b);
  if ((flags & kColorFinal) && panel) {
    if (f == kTransparent || b == kTransparent) MarkRoot(heap, kRootFlagTransparent);
    if (RootMarked(heap)) {
      FPInvalDiff(heap, object);
      MarkRoot(heap, kRootFlagRedrawAll);
    }
  }
  return changed ? kAttrReplyCosmetic : 0;
}

int32 ColorChangePartById(ObjHeap heap, int32 object, int32 partId, int32 partOrder, DColor fore, DColor back,
                          int32 flags) {
  if (!flags || !IsObj(heap, object)) return 0;
  int32 part = 0;
  if (partOrder >= 0) {
    part = FindPart(heap, object, partId, partOrder);
  } else {
    ForEachPart(heap, object, [&](int32 p) {
      if (!part && ctrl::PartIdOf(heap, p) == partId) part = p;
    });
  }
  if (!IsObj(heap, part) || part == object) return 0;
  return OColorChange(heap, part, 0, 0, int32(fore), int32(back), flags);
}

// ---- Forwarding methods ---------------------------------------------------------------------

namespace {

int32 PictureOColorChangeMethod(ObjHeap heap, int32 picture, int32 id, int32, DColor, DColor, int32) {
  if (id != kPartContent || !Has(heap, picture, 4 * (ctrl::kPictureCopyWord + 1))) return 0;
  if (const int32 copy = ObjWord(heap, picture, ctrl::kPictureCopyWord)) {
    IRelease(copy);
    ObjSetWord(heap, picture, ctrl::kPictureCopyWord, 0);
  }
  return 0;
}

int32 ArrayOColorChangeMethod(ObjHeap heap, int32 array, int32 id, int32, DColor fore, DColor back, int32 flags) {
  if (id == kPartArrayFrame) return Recolour(heap, array, kPartFrame, 0, fore, back, flags);
  if (id == kPartFrame) return Recolour(heap, array, kPartArrayFrame, 0, fore, back, flags);
  return 0;
}

int32 NumericOColorChangeMethod(ObjHeap heap, int32 numeric, int32 id, int32 order, DColor fore, DColor back,
                                int32 flags) {
  switch (id) {
    case kPartIncrement: return Recolour(heap, numeric, kPartDecrement, order, fore, back, flags);
    case kPartDecrement: return Recolour(heap, numeric, kPartIncrement, order, fore, back, flags);
    case kPartFrame: return Recolour(heap, numeric, kPartRadixText, 0, fore, back, With(flags, kColorBack));
    case kPartRadixText:
      return (flags & kColorBack) ? Recolour(heap, numeric, kPartFrame, 0, back, back, With(flags, kColorBoth)) : 0;
    default: return 0;
  }
}

int32 BooleanOColorChangeMethod(ObjHeap heap, int32 boolean, int32 id, int32 order, DColor fore, DColor back,
                                int32 flags) {
  if (id != kPartButton) return 0;
  const int32 face = FindPart(heap, boolean, kPartButton, order);
  if (!IsObj(heap, face) || !ObjIsA(heap, face, kClsBigMultiCosmetic)) return 0;
  DColor hilite, shadeFore, shadeBack;
  DCalcHiliteColor(fore, &hilite, &shadeFore);
  DCalcHiliteColor(back, &hilite, &shadeBack);
  return SetMultiCosmeticStateColors(heap, face, shadeFore, shadeBack, flags,
                                     ObjInt16(heap, face, kObjImageIndex) + 2);
}

// Every state of a multi-state part takes the colours the flags name.
int32 RecolourAllStates(ObjHeap heap, int32 part, DColor fore, DColor back, int32 flags) {
  if (!IsObj(heap, part)) return 0;
  const int32 n = StateCount(heap, part);
  for (int32 s = 0; s < n; ++s) {
    if (flags & kColorFore) ObjSetWord(heap, part, PairWord(s, 0), int32(fore));
    if (flags & kColorBack) ObjSetWord(heap, part, PairWord(s, 1), int32(back));
  }
  if (Has(heap, part, kObjCosmBack + 4))
    ctrl::SetPartColours(heap, part, (flags & kColorFore) ? fore : ctrl::PartFore(heap, part),
                         (flags & kColorBack) ? back : ctrl::PartBack(heap, part));
  OInval(heap, part, kInvalAll);
  return kAttrReplyCosmetic;
}

int32 SlideOColorChangeMethod(ObjHeap heap, int32 slide, int32 id, int32 order, DColor fore, DColor back,
                              int32 flags) {
  if (!IsObj(heap, slide)) return 0;
  int32 a = -1, b = -1;
  if (Flags(heap, slide) & kSlideTwoFills) SlideColourSliders(heap, slide, &a, &b);
  const int32 foreOnly = flags & ~kColorBack;
  int32 reply = 0;
  // An arrow recolours the housing and the other arrow; its background
  // also fills the slider on its side, and the housing then keeps its own.
  auto arrow = [&](int32 slider, int32 other, int32 otherArrow) {
    int32 f = flags;
    if (slider >= 0) {
      if (f & kColorBack) reply |= Recolour(heap, slide, kPartFill, slider, back, back, With(f, kColorBoth));
      f &= ~kColorBack;
    }
    reply |= Recolour(heap, slide, kPartSlideHousing, order, fore, back, f);
    if (other >= 0) f &= ~kColorBack;
    reply |= Recolour(heap, slide, otherArrow, 0, fore, back, f);
  };
  switch (id) {
    case kPartSlideArrowA: arrow(a, b, kPartSlideArrowB); break;
    case kPartSlideArrowB: arrow(b, a, kPartSlideArrowA); break;
    case kPartSlideHousing:
      reply |= Recolour(heap, slide, kPartSlideArrowA, 0, fore, back, a < 0 ? flags : foreOnly);
      reply |= Recolour(heap, slide, kPartSlideArrowB, 0, fore, back, b < 0 ? flags : foreOnly);
      break;
    case kPartFrame: reply = Recolour(heap, slide, kPartHousingDecor, 0, fore, back, flags); break;
    case kPartHousingDecor: reply = Recolour(heap, slide, kPartFrame, 0, fore, back, flags); break;
    case kPartSlider: reply = RecolourAllStates(heap, FindPart(heap, slide, kPartSlider, order), fore, back, flags); break;
    case kPartFill:
      if (order >= 0 && order == b) reply = Recolour(heap, slide, kPartSlideArrowB, 0, fore, back, With(flags, flags & kColorBack));
      else if (order >= 0 && order == a) reply = Recolour(heap, slide, kPartSlideArrowA, 0, fore, back, With(flags, flags & kColorBack));
      break;
    default: break;
  }
  return reply;
}

template <auto M>
ObjMethodAddr A() {
  return reinterpret_cast<ObjMethodAddr>(M);
}

}  // namespace

ObjMethodAddr OColorChangeMethodFor(int32 cls) {
  switch (cls) {
    case kClsCosmetic: case kClsMultiCosmetic: return A<&CosmeticOColorChangeMethod>();
    case kClsLabel: case kClsMultiLabel: case kClsBigMultiLabel: case kClsSelLabel:
      return A<&LabelOColorChangeMethod>();
    case kClsBigMultiCosmetic: return A<&BigMultiCosmeticOColorChangeMethod>();
    case kClsPicture: return A<&PictureOColorChangeMethod>();
    case kClsArray: return A<&ArrayOColorChangeMethod>();
    case kClsNumeric: case kClsRing: case kClsColorBox: return A<&NumericOColorChangeMethod>();
    case kClsBoolean: return A<&BooleanOColorChangeMethod>();
    case kClsSlide: case kClsKnob: return A<&SlideOColorChangeMethod>();
    default: return nullptr;
  }
}
