// The controls drawing themselves and the value drawing routines behind them.
#include "panel/ctrldraw.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "engine/typemgr.h"
#include "engine/vi/viinst.h"
#include "mgsource/fewlist.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/dregion.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/imagegeom.h"
#include "mgsource/draw/image.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "mgsource/path.h"
#include "mgsource/printf.h"
#include "mgsource/window/wactive.h"
#include "mgsource/window/wevent.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "panel/blink.h"
#include "panel/ctrl_internal.h"
#include "panel/ctrldisplay.h"
#include "panel/datageom.h"
#include "panel/datamsg.h"
#include "panel/methsupport.h"
#include "panel/objdraw.h"
#include "panel/oinit.h"
#include "panel/oinval.h"
#include "panel/osupport.h"
#include "panel/paneldisplay.h"
#include "panel/rangecheck.h"
#include "panel/transact.h"
#include "panel/valuedraw.h"
#include "panel/selabel.h"
#include "panel/zktag.h"

using namespace ctrl;

namespace {

const char kSourceFile[] = "ctrldraw";

constexpr int32 kKeyFocusFrame = 16;
constexpr int16 kPartFirstArrow = 2, kPartLastArrow = 7, kPartRefInner = 28;
constexpr int32 kObjRefKind = 8;

// A list of parts: a control's usual parts kept in place, as every value
// drawn lists them.
using PartList = FewList<int32, 16>;

// The parts of an object, last first (the order the controls draw in).
PartList PartsLastFirst(ObjHeap heap, int32 object) {
  PartList parts;
  if (!IsObj(heap, object)) return parts;
  // The visit only reads: the list is counted once.
  ForEachPartReading(heap, object, [&](int32 part) {
    if (part != object && IsObj(heap, part)) parts.push_back(part);
  });
  std::reverse(parts.begin(), parts.end());
  return parts;
}

bool Meets(ObjHeap heap, int32 o) {
  const Rect r = BoundsOf(heap, o);
  return WNeedsDraw(&r) != 0;
}

bool BlinkPhase(int32 mode) { return mode == kDrawModeBlink || mode == kDrawModeBlinkNormal; }
// Whether DrawPartForMode draws the part of that id at all.
bool PartDrawn(ObjHeap heap, int32 object, int32 id, int32 mode, Bool32 force) {
  return force || !BlinkPhase(mode) || IsBlinkPart(heap, object, id);
}

// The data of the parts every control draws alike: the arrows pressed
// while tracked, the range frame with the range state, the state button
// with the indicator bit.  False for another part id.
bool CommonPart(ObjHeap heap, int32 object, const void* value, int32 part, int16 id, int32 mode, Bool32 force,
                int32* reply) {
  int32 state = 0;
  if (id >= kPartFirstArrow && id <= kPartLastArrow) state = IsTracked(heap, part) ? 1 : 0;
  else if (id == kPartRange) state = SetRangeFlags(heap, object, value);
  else if (id == kPartStateButton) state = int32(Flags(heap, object) & 1);
  else return false;
  *reply |= DrawPartForMode(heap, object, Fit(heap, part, &state, Takes::kIndex), part, id, mode, force);
  return true;
}

// The digital display's text: the value in the display unit, or with no
// value a zeroed value of the type (numerics) or a zero I32 in format 0.
void DigitalText(ObjHeap heap, int32 object, const void* value, int32 code, bool units, bool zeroI32, NumberText* t) {
  if (value) {
    NumberToText(heap, object, value, code, FormatOf(heap, object), units, t);
  } else if (zeroI32) {
    const int32 zero = 0;
    NumberToText(heap, object, &zero, kTDI32, 0, false, t);
  } else {
    NumberToText(heap, object, nullptr, code, FormatOf(heap, object), false, t);
  }
}

// Draws the digital display (part 10) with its text.
int32 DrawDigital(ObjHeap heap, int32 object, const void* value, int32 part, int32 code, bool units, bool zeroI32,
                  int32 mode, Bool32 force) {
  NumberText t;
  DigitalText(heap, object, value, code, units, zeroI32, &t);
  return DrawPartForMode(heap, object, Fit(heap, part, t.lstr(), Takes::kText), part, kPartDigitalText, mode, force);
}

// The colour a colour box shows: 24 bits, or the transparent colour when
// the box allows it.
uInt32 BoxColour(ObjHeap heap, int32 box, const void* value) {
  if (!value) return 0;
  uInt32 c = 0;
  ConvertNum(TypeCodeOf(heap, box) & ~0x10, value, kTDU32, &c);
  return (Flags(heap, box) & kFlagTransparentAllowed) && c == kTransparentColor ? c : c & 0xFFFFFF;
}

// The swatch of a colour box: its colours set to the value, the
// transparent colour shown as a white swatch with its mark.
int32 DrawSwatch(ObjHeap heap, int32 box, const void* value, int32 swatch, int32 mode, Bool32 force) {
  const uInt32 colour = BoxColour(heap, box, value);
  SetPartColours(heap, swatch, colour, colour);
  if (colour != kTransparentColor) return DrawPartForMode(heap, box, nullptr, swatch, kPartSwatch, mode, force);
  if (!PartDrawn(heap, box, kPartSwatch, mode, force)) return 0;
  const Rect r = BoundsOf(heap, swatch);
  DSelectNormPen(kWhite, kWhite);
  DPaintRect(&r);
  DSelectNormPen(kBlack, kBlack);
  DrawTransparentMark(&r, 1);
  return 0;
}

// The state a Boolean shows while drawn.
int32 BooleanState(ObjHeap heap, int32 boolean, const void* value) {
  ObjHeap th = nullptr;
  int32 to = 0, ts = 0;
  SetTrackObject(nullptr, 0, &th, &to, 0);
  TrackState(0, &ts, 0);
  const bool held = th == heap && to == boolean && ts != 0;
  if (!value) return held ? 2 : 0;
  const bool on = *static_cast<const uChar*>(value) != 0;
  if (held && (Flags(heap, boolean) & kFlagTracksTransitions)) return on ? 2 : 3;
  return on ? 1 : 0;
}

// The offset of element i of a cluster-typed value (a slider's value), 0
// for a single value.
int32 ElementOffset(ObjHeap heap, int32 object, int32 i) {
  const TypeDescriptor* td = DisplayTD(heap, object);
  if (!td || td->code != kTDCluster) return i == 0 ? 0 : -1;
  const int32 n = int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4));
  if (i < 0 || i >= n) return -1;
  int32 at = 0;
  for (int32 k = 0; k <= i; ++k) {
    const TypeDescriptor* e = ElemTD(td, k);
    if (!e) return -1;
    at = AlignDatum(e, at);
    if (k < i) at += DataSize(e);
  }
  return at;
}

// The kind of a refnum type and, for an object reference, its object type.
int32 RefnumWord(const TypeDescriptor* td, int32 at) {
  const auto* b = reinterpret_cast<const uChar*>(td);
  return int32(GetNative16(b)) >= at + 2 ? int16(GetNative16(b + at)) : -1;
}

// Draws a part in the slide's housing image as well as on the screen.
void IntoImage(int32 image, const Rect& housing, ObjHeap heap, int32 part) {
  ImageSaveRecord save{};
  IOpen(image, &save);
  if (save.opened) {
    DSetOrigin(int32((uInt32(uInt16(housing.left)) << 16) | uInt16(housing.top)));
    ODrawObj(heap, part, 0, 0, kDrawModeNormal);
  }
  IClose(image, &save);
}

// Whether the image was made at another depth than the port's: re-made
// over its own rectangle.
bool RemadeForPort(int32* image) {
  if (!*image || IGetDepth(*image) == DGetDepth()) return false;
  Rect r{0, 0, 0, 0};
  IGetRect(*image, &r);
  int32 fresh = 0;
  IRelease(*image);
  *image = ICreatePixmap(-1, &r, DGetDepth(), &fresh) == kNoErr ? fresh : 0;
  return true;
}

// Whether the scale was drawn into a slide's housing image when it was last
// filled, by image: what the image holds, so a drawing from the image need
// not measure the scale again.  Every image is filled before it is drawn
// from, which sets its entry.
std::unordered_map<int32, bool> gScaleInImage;

// The part of the housing the current clip leaves (the housing without one).
Rect ClippedHousing(const Rect& housing) {
  Rect clip, part = housing;
  const WindowRef w = WCurrentPort();
  if (w && WGetClipRect(w, &clip) && !DSectRect(&housing, &clip, &part)) part = Rect{0, 0, 0, 0};
  return part;
}

// The two refnum pictures of the run-time file, loaded once.
int32 gRefnumImages[2] = {0, 0};

}  // namespace

// ---- Value routines ------------------------------------------------------------------------

int32 DrawNumericValue(ObjHeap heap, int32 object, const void* value, int32 mode, Bool32 force) {
  NoteValueDraw("DrawNumericValue", heap, object, mode);
  int32 reply = 0;
  for (int32 part : PartsLastFirst(heap, object)) {
    if (Hidden(heap, part)) continue;
    const int16 id = PartIdOf(heap, part);
    if (CommonPart(heap, object, value, part, id, mode, force, &reply)) continue;
    if (id == kPartDigitalText) {
      reply |= DrawDigital(heap, object, value, part, TypeCodeOf(heap, object), true, false, mode, force);
    } else if (id == kPartRadix) {
      const int32 f = FormatOf(heap, object) - 65;
      const int32 radix = f >= 0 && f <= 3 ? f : 0;
      reply |= DrawPartForMode(heap, object, Fit(heap, part, &radix, Takes::kIndex), part, id, mode, force);
    } else if (id == kPartSwatch) {
      reply |= DrawSwatch(heap, object, value, part, mode, force);
    } else {
      reply |= DrawPartForMode(heap, object, nullptr, part, id, mode, force);
    }
  }
  return reply;
}

int32 DrawRingValue(ObjHeap heap, int32 object, const void* value, int32 mode, Bool32 force) {
  NoteValueDraw("DrawRingValue", heap, object, mode);
  const int32 code = TypeCodeOf(heap, object) & ~0x10;
  const int32 index = value ? RingIndexOf(code, value) : 0;
  int32 reply = 0;
  bool contentMet = false;
  Rect clip{0, 0, 0, 0};
  for (int32 part : PartsLastFirst(heap, object)) {
    if (Hidden(heap, part)) continue;
    const int16 id = PartIdOf(heap, part);
    if (CommonPart(heap, object, value, part, id, mode, force, &reply)) continue;
    if (id == kPartDigitalText) {
      reply |= DrawDigital(heap, object, value, part, code, false, true, mode, force);
    } else if (id == kPartItemText) {
      reply |= DrawPartForMode(heap, object, Fit(heap, part, &index, Takes::kIndex), part, id, mode, force);
      if (PartDrawn(heap, object, id, mode, force)) GrayDisabledRingItem(heap, object, part, index);
    } else if (id == kPartItemPicture) {
      Rect saved{0, 0, 0, 0};
      if (contentMet) WLimitClip(&clip, &saved);
      reply |= DrawPartForMode(heap, object, Fit(heap, part, &index, Takes::kIndex), part, id, mode, force);
      if (contentMet) {
        if (PartDrawn(heap, object, id, mode, force)) GrayDisabledRingItem(heap, object, part, index);
        WRestoreClip(&saved);
      }
    } else {
      if (id == kPartContent) contentMet = true, clip = Inset(BoundsOf(heap, part), 1);
      reply |= DrawPartForMode(heap, object, nullptr, part, id, mode, force);
    }
  }
  return reply;
}

int32 DrawStringValue(ObjHeap heap, int32 object, const void* value, int32 mode, Bool32 force) {
  NoteValueDraw("DrawStringValue", heap, object, mode);
  UHandle h = nullptr;
  if (value) std::memcpy(&h, value, sizeof h);
  const LStr* s = CheckedLStr(h);
  const int32 none = 0;
  int32 reply = 0;
  for (int32 part : PartsLastFirst(heap, object)) {
    if (Hidden(heap, part)) continue;
    const int16 id = PartIdOf(heap, part);
    if (CommonPart(heap, object, value, part, id, mode, force, &reply)) continue;
    const void* data = id == kPartText ? (s ? static_cast<const void*>(s) : &none) : nullptr;
    reply |= DrawPartForMode(heap, object, Fit(heap, part, data, Takes::kText), part, id, mode, force);
  }
  return reply;
}

int32 DrawPathValue(ObjHeap heap, int32 object, const void* value, int32 mode, Bool32 force) {
  NoteValueDraw("DrawPathValue", heap, object, mode);
  Path p = nullptr;
  if (value) std::memcpy(&p, value, sizeof p);
  int32 reply = 0;
  for (int32 part : PartsLastFirst(heap, object)) {
    if (Hidden(heap, part)) continue;
    const int16 id = PartIdOf(heap, part);
    if (id == kPartText) {
      reply |= DisplayPathText(heap, object, part, value, 1, mode, force);
      continue;
    }
    if (!CommonPart(heap, object, value, part, id, mode, force, &reply))
      reply |= DrawPartForMode(heap, object, nullptr, part, id, mode, force);
    if (id == kPartStateButton && value && !FIsAPath(p) && PartDrawn(heap, object, id, mode, force)) {
      // A slash across the button: the value is no path.
      const Rect r = BoundsOf(heap, part);
      const int32 d = (std::min(r.bottom - r.top, r.right - r.left) / 2 + 1) / 2;
      const DColor fore = PartFore(heap, part);
      DSelectNormPen(fore, fore);
      DMoveTo(r.left, r.bottom - 1 - d);
      DLineTo(r.right - 1, r.top + d);
    }
  }
  return reply;
}

int32 DrawColorRampValue(ObjHeap heap, int32 object, const void* value, int32 mode, Bool32 force) {
  NoteValueDraw("DrawColorRampValue", heap, object, mode);
  const int32 code = TypeCodeOf(heap, object) & ~0x10;
  float64 d = 0;
  if (value) ConvertNum(code, value, kTDDBL, &d);
  const int32 markers = PartOf(heap, object, kPartScale);
  int32 reply = 0;
  for (int32 part : PartsLastFirst(heap, object)) {
    if (Hidden(heap, part)) continue;
    const int16 id = PartIdOf(heap, part);
    if (id == kPartDigitalText) {
      reply |= DrawDigital(heap, object, value, part, code, true, true, mode, force);
      continue;
    }
    if (id == kPartSwatch && markers && Meets(heap, part))
      SetPartColours(heap, part, PartFore(heap, part), PanelLookupValue(heap, markers, d));
    reply |= DrawPartForMode(heap, object, nullptr, part, id, mode, force);
  }
  return reply;
}

int32 DrawBooleanValue(ObjHeap heap, int32 object, const void* value, int32 mode, Bool32 force) {
  NoteValueDraw("DrawBooleanValue", heap, object, mode);
  const int32 state = BooleanState(heap, object, value);
  const int32 button = PartOf(heap, object, kPartButton);
  int32 reply = 0;
  for (int32 part : PartsLastFirst(heap, object)) {
    if (Hidden(heap, part)) continue;
    const int16 id = PartIdOf(heap, part);
    if (id == kPartBoolText) {
      const bool blinks = IsBlinkPart(heap, object, id);
      if (force || !BlinkPhase(mode) || blinks)
        reply |= DisplayBoolText(heap, part, button, state, force, blinks ? mode : kDrawModeNormal);
    } else if (id == kPartButton) {
      reply |= DrawPartForMode(heap, object, Fit(heap, part, &state, Takes::kIndex), part, id, mode, force);
    } else if (!CommonPart(heap, object, value, part, id, mode, force, &reply)) {
      reply |= DrawPartForMode(heap, object, nullptr, part, id, mode, force);
    }
  }
  return reply;
}

// ---- Slides --------------------------------------------------------------------------------

namespace {

// SlideHousingRect with the housing part found (0 for none).
int32 HousingRect(ObjHeap heap, int32 slide, int32 housing, Rect* rect, Bool32* scaleOnHousing) {
  if (scaleOnHousing) *scaleOnHousing = 0;
  if (!housing || Hidden(heap, housing)) return 0;
  const Rect h = BoundsOf(heap, housing);
  if (rect) *rect = h;
  if (!scaleOnHousing) return 1;
  // The housing at or after the scale in the part list, the scale's ticks
  // and labels inside the housing.
  const int32 scale = PartOf(heap, slide, kPartScale);
  if (!scale || !PanelScale().scaleGetPartsRect) return 1;
  int32 at = 0, scaleAt = -1, housingAt = -1;
  ForEachPart(heap, slide, [&](int32 p) {
    if (p == scale && scaleAt < 0) scaleAt = at;
    if (p == housing && housingAt < 0) housingAt = at;
    ++at;
  });
  if (housingAt < scaleAt) return 1;
  Rect parts{0, 0, 0, 0}, meet;
  PanelScale().scaleGetPartsRect(heap, scale, &parts, 1, 1);
  *scaleOnHousing = DEmptyRect(&parts) || (DSectRect(&parts, &h, &meet) && DEqualRect(&meet, &parts));
  return 1;
}

}  // namespace

int32 SlideHousingRect(ObjHeap heap, int32 slide, Rect* rect, Bool32* scaleOnHousing) {
  return HousingRect(heap, slide, PartOf(heap, slide, kPartHousing), rect, scaleOnHousing);
}

namespace {

// DrawSlidePart of a part known to be a visible object.
int32 DrawShownSlidePart(ObjHeap heap, int32 slide, const void* value, int32 part, int32 mode, Bool32 force,
                         const Rect* housing, Bool32 scaleOnHousing) {
  const int16 id = PartIdOf(heap, part);
  const bool slider = id == kPartSlider || id == kPartFill || id == kPartDigital;
  // Only the active slider's parts blink.
  if (slider && BlinkPhase(mode) && !IsActiveElementPart(heap, slide, part)) {
    if (!force) return 0;
    mode = kDrawModeNormal;
  }
  int32 reply = 0;
  if (CommonPart(heap, slide, value, part, id, mode, force, &reply)) return reply;
  bool clipped = scaleOnHousing && housing && (id == kPartScale || id == kPartSlider);
  if (clipped) {
    // A clip inside the housing already (a repair of what moved) is the
    // limited one: it is left as it is.
    Rect now, meet;
    clipped = !WGetClipRect(WCurrentPort(), &now) || !DSectRect(&now, housing, &meet) || !DEqualRect(&meet, &now);
  }
  Rect saved{0, 0, 0, 0};
  if (clipped) WLimitClip(housing, &saved);
  if (id == kPartScale) {
    UHandle labels = PanelScaleMarkerList(heap, part);
    reply = DrawPartForMode(heap, slide, Fit(heap, part, labels ? &labels : nullptr, Takes::kLabels), part, id, mode, force);
  } else if (id == kPartSlider || id == kPartFill) {
    const int32 active = IsActiveElementPart(heap, slide, part);
    reply = DrawPartForMode(heap, slide, Fit(heap, part, &active, Takes::kIndex), part, id, mode, force);
  } else if (id == kPartDigital) {
    const int32 at = value ? ElementOffset(heap, slide, OrderOf(heap, part)) : -1;
    const void* element = at >= 0 ? static_cast<const uChar*>(value) + at : nullptr;
    reply = DrawPartForMode(heap, slide, Fit(heap, part, element, Takes::kNumber), part, id, mode, force);
  } else {
    reply = DrawPartForMode(heap, slide, nullptr, part, id, mode, force);
  }
  if (clipped) WRestoreClip(&saved);
  return reply;
}

}  // namespace

int32 DrawSlidePart(ObjHeap heap, int32 slide, const void* value, int32 part, int32 mode, Bool32 force,
                    const Rect* housing, Bool32 scaleOnHousing) {
  if (!IsObj(heap, part) || Hidden(heap, part)) return 0;
  return DrawShownSlidePart(heap, slide, value, part, mode, force, housing, scaleOnHousing);
}

int32 DrawSlideValue(ObjHeap heap, int32 slide, const void* value, int32 onlyPart, int32 mode, Bool32 force) {
  NoteValueDraw("DrawSlideValue", heap, slide, mode);
  if (!IsObj(heap, slide) || !Has(heap, slide, 4 * (kSlideImageWord + 1))) return 0;
  Rect hr{0, 0, 0, 0};
  Bool32 onHousing = 0;
  const int32 housingPart = PartOf(heap, slide, kPartHousing);
  const bool hasHousing = HousingRect(heap, slide, housingPart, &hr, nullptr);
  const int32 housing = hasHousing ? housingPart : 0;
  int32 image = ObjWord(heap, slide, kSlideImageWord);
  if (image && IKindOf(image) != kImagePixmap) image = 0;
  if (RemadeForPort(&image)) SetFlags(heap, slide, Flags(heap, slide) | kFlagRedrawImage);
  bool fill = Flags(heap, slide) & kFlagRedrawImage;
  const bool use = housing && !(Flags(heap, housing) & kFlagNoDrawInPlace) && DIsScreenPort();
  if (use && !image) {
    if (ICreatePixmap(-1, &hr, DGetDepth(), &image) != kNoErr) {
      DBAssert(kSourceFile, __LINE__, "DrawSlideValue: no housing image");
      image = 0;
    }
    fill = true;
  }
  ObjSetWord(heap, slide, kSlideImageWord, image);
  const bool cached = use && image;
  // Drawn from a filled image, the scale lies on the housing when the fill
  // drew it there; otherwise it is measured.
  const auto known = cached && !fill ? gScaleInImage.find(image) : gScaleInImage.end();
  if (known != gScaleInImage.end()) onHousing = known->second;
  else if (hasHousing) HousingRect(heap, slide, housing, &hr, &onHousing);
  if (cached && fill) gScaleInImage[image] = onHousing != 0;
  int32 reply = 0;
  bool started = onlyPart == 0, housingMet = false;
  for (int32 part : PartsLastFirst(heap, slide)) {
    const int16 id = PartIdOf(heap, part);
    if (!started) {
      const bool same = id == onlyPart || (onlyPart == kPartSlider && id == kPartFill) ||
                        (onlyPart == kPartFill && id == kPartSlider);
      if (!same) continue;
      started = true;
    }
    if (Hidden(heap, part)) continue;
    if (part == housing) housingMet = true;
    const bool inImage = cached && housingMet && (id == kPartHousing || id == kPartHousingDecor ||
                                                  (id == kPartScale && onHousing));
    if (inImage && !fill) {
      // The housing, with the scale on it, from the image.
      // Only the part of the image the clip leaves is copied.
      const Rect part = ClippedHousing(hr);
      if (id == kPartHousing && !DEmptyRect(&part) && PartDrawn(heap, slide, id, mode, force))
        IDraw(image, &part, &part, kBlack, kWhite, kBlack, kWhite);
      continue;
    }
    if (inImage) IntoImage(image, hr, heap, part);
    // The part is an object (as listed) and shown (as checked above).
    reply |= DrawShownSlidePart(heap, slide, value, part, mode, force, hasHousing ? &hr : nullptr, onHousing);
  }
  if (cached && fill && housingMet) SetFlags(heap, slide, Flags(heap, slide) & ~kFlagRedrawImage);
  else if (!cached) SetFlags(heap, slide, Flags(heap, slide) & ~kFlagRedrawImage);
  return reply;
}

// ---- Pictures ------------------------------------------------------------------------------

int32 DrawPictureValue(ObjHeap heap, int32 picture, const void* value, int32 content, int32 modeBits) {
  if (!IsObj(heap, picture) || !IsObj(heap, content) || !Has(heap, picture, 4 * (kPictureCopyWord + 1))) return 0;
  const Rect r = BoundsOf(heap, content);
  const bool erase = (Flags(heap, picture) & kFlagFitted) || !(Flags(heap, content) & kFlagOpaque);
  int32 copy = ObjWord(heap, picture, kPictureCopyWord);
  if (copy && IKindOf(copy) != kImagePixmap) copy = 0;
  UHandle h = nullptr;
  if (value) std::memcpy(&h, value, sizeof h);
  const int32 size = h && DSCheckHandle(h) == kNoErr && *h ? DSGetHandleSize(h) : 0;
  if (size <= 4) {
    if (erase && (modeBits & kPictToScreen)) ODrawObj(heap, content, 0, 0, kDrawModeNormal);
    if (!DIsScreenPort() && copy) {
      IRelease(copy);
      ObjSetWord(heap, picture, kPictureCopyWord, 0);
    }
    return 0;
  }
  // 1. The picture image, at the part's rectangle moved to the origin.
  const Rect at{0, 0, int16(r.bottom - r.top), int16(r.right - r.left)};
  int32 pict = 0;
  // The value stays the data space's: the image only borrows it.
  if (ICreatePict(-1, &at, DGetDepth(), reinterpret_cast<QXPict>(h), kImageBorrowed, &pict) != kNoErr || !pict)
    return kReplyFailed;
  // 2. The off-screen copy.
  if ((modeBits & kPictIntoCopy) && !copy) {
    if (ICreatePixmap(-1, &r, DGetDepth(), &copy) != kNoErr || !copy) {
      IRelease(pict);
      ObjSetWord(heap, picture, kPictureCopyWord, 0);
      return kReplyFailed;
    }
    ObjSetWord(heap, picture, kPictureCopyWord, copy);
    IntoImage(copy, r, heap, content);
  } else if (!(modeBits & kPictIntoCopy) && DIsScreenPort() && copy) {
    IRelease(copy);
    ObjSetWord(heap, picture, kPictureCopyWord, copy = 0);
  }
  // 3. The background.
  if (erase) {
    if (modeBits & kPictToScreen) ODrawObj(heap, content, 0, 0, kDrawModeNormal);
    if ((modeBits & kPictIntoCopy) && copy) IntoImage(copy, r, heap, content);
  }
  // 4. The picture, black on white.
  if ((modeBits & kPictIntoCopy) && copy) {
    ImageSaveRecord save{};
    IOpen(copy, &save);
    if (save.opened) {
      DSetOrigin(int32((uInt32(uInt16(r.left)) << 16) | uInt16(r.top)));
      IDraw(pict, nullptr, &r, kBlack, kWhite, kBlack, kWhite);
    }
    IClose(copy, &save);
  }
  if (modeBits & kPictToScreen) IDraw(pict, nullptr, &r, kBlack, kWhite, kBlack, kWhite);
  IRelease(pict);
  return 0;
}

// ---- Class methods -------------------------------------------------------------------------

namespace {

using ValueRoutine = int32 (*)(ObjHeap, int32, const void*, int32, Bool32);

// The common shape of the simple controls' methods: when the object meets
// the redrawn area, its value routine in its blink look, then the generic
// step.
int32 DrawThrough(ValueRoutine routine, bool checkMode, int32 genericMode, ObjHeap heap, int32 object,
                  const void* value, int32 pass, int32 mode) {
  if (checkMode) CheckDrawMode(heap, &mode);
  if (!IsObj(heap, object) || Hidden(heap, object) || !Meets(heap, object)) return 0;
  routine(heap, object, value, BlinkPartState(heap, object, mode), 1);
  return DDOODrawMethod(heap, object, value, pass, genericMode ? genericMode : mode);
}

}  // namespace

int32 NumericODrawMethod(ObjHeap heap, int32 object, const void* value, int32 pass, int32 mode) {
  return DrawThrough(&DrawNumericValue, true, 0, heap, object, value, pass, mode);
}
int32 RingODrawMethod(ObjHeap heap, int32 object, const void* value, int32 pass, int32 mode) {
  return DrawThrough(&DrawRingValue, false, 0, heap, object, value, pass, mode);
}
int32 StringODrawMethod(ObjHeap heap, int32 object, const void* value, int32 pass, int32 mode) {
  return DrawThrough(&DrawStringValue, true, 0, heap, object, value, pass, mode);
}
int32 PathODrawMethod(ObjHeap heap, int32 object, const void* value, int32 pass, int32 mode) {
  return DrawThrough(&DrawPathValue, true, 0, heap, object, value, pass, mode);
}
int32 ColorRampODrawMethod(ObjHeap heap, int32 object, const void* value, int32 pass, int32 mode) {
  return DrawThrough(&DrawColorRampValue, true, kDrawModeNormal, heap, object, value, pass, mode);
}

int32 TagODrawMethod(ObjHeap heap, int32 object, const void* value, int32 pass, int32 mode) {
  const int32 reply = StringODrawMethod(heap, object, value, pass, mode);
  if (!IsObj(heap, object) || Hidden(heap, object) || !Meets(heap, object)) return reply;
  const int32 text = PartOf(heap, object, kPartText);
  if (!text) return reply;
  if (const int32 list = PartOf(heap, object, kPartListButton); list && !Hidden(heap, list) && SelLabelItemCount(heap, object, text) == 0)
    GreyInset(heap, list);
  if (!Hidden(heap, text) && !IsValidTag(heap, object, text)) GreyInset(heap, text);
  return reply;
}

int32 SlideODrawMethod(ObjHeap heap, int32 object, const void* value, int32 pass, int32 mode) {
  if (!IsObj(heap, object) || Hidden(heap, object) || !Meets(heap, object)) return 0;
  if (value) ObjUpdateDataBounds(heap, object, nullptr, value, 0);
  DrawSlideValue(heap, object, value, 0, BlinkPartState(heap, object, mode), 1);
  const int32 reply = DDOODrawMethod(heap, object, value, pass, mode);
  // The key focus in the active slider's hidden display frames the slide.
  const int32 focus = int32(Ext(heap, kHeapExtKeyFocus));
  if (focus && gDDODrawEnabled && IsObj(heap, focus) && ObjWord(heap, focus, kPWOwner) == object &&
      PartIdOf(heap, focus) == kPartDigital && Hidden(heap, focus) && IsActiveElementPart(heap, object, focus)) {
    DSelectNormPen(kBlack, kBlack);
    OFrameSel(heap, object, heap, 0, kKeyFocusFrame);
  }
  return reply;
}

int32 BooleanODrawMethod(ObjHeap heap, int32 object, const void* value, int32 pass, int32 mode) {
  CheckDrawMode(heap, &mode);
  if (!IsObj(heap, object) || Hidden(heap, object)) return 0;
  int32 reply = 0;
  if (Meets(heap, object)) {
    DrawBooleanValue(heap, object, value, BlinkPartState(heap, object, mode), 1);
    reply = DDOODrawMethod(heap, object, value, pass, kDrawModeNormal);
  }
  // The default button of the active panel's window gets the focus frame.
  if (OHWord(heap, kOHKind) != kPanelHeapKind) return reply;
  const WindowRef w = WindowRef(Ext(heap, kHeapExtWindow));
  if (!w || w != WGetActiveWindow()) return reply;
  int32 returnButton = 0;
  DlgGetKeyNavItem(heap, 0, &returnButton);
  if (returnButton != object || (OHWord(heap, kOHFlags) & kHeapFlagTextEntry)) return reply;
  if (!GetBoolButtonImageKind(heap, object) && !(GetNative16(*heap + OHWord(heap, kOHExtension) + kHeapExtWindowOptions) &
                                                  kWindowPartDefaultFrame))
    return reply;
  const int32 focus = int32(Ext(heap, kHeapExtKeyFocus));
  if (focus && IsObj(heap, focus) && ObjClass(heap, focus) == kClsBoolean) return reply;
  const int32 button = PartOf(heap, object, kPartButton);
  if (!button) return reply;
  const Rect around = Inset(BoundsOf(heap, button), -1);
  if (!WNeedsDraw(&around)) return reply;
  DSelectNormPen(kBlack, kBlack);
  OFrameSel(heap, object, heap, 0, kKeyFocusFrame);
  return reply;
}

int32 PictureODrawMethod(ObjHeap heap, int32 object, const void* value, int32 pass, int32 mode) {
  if (!IsObj(heap, object) || Hidden(heap, object) || !Has(heap, object, 4 * (kPictureCopyWord + 1))) return 0;
  const int32 content = PartOf(heap, object, kPartContent);
  const uInt32 f = Flags(heap, object), f28 = content ? Flags(heap, content) : 0;
  const bool a = (f28 & kFlagOpaque) && !(f & kFlagFitted);
  const bool b = (f28 & kFlagOpaque) && DIsScreenPort() && (f & kFlagViaCopy);
  if (!Meets(heap, object) && !b) return 0;
  int32 copy = ObjWord(heap, object, kPictureCopyWord);
  if (copy && IKindOf(copy) != kImagePixmap) copy = 0;
  int32 reply = 0;
  if (RemadeForPort(&copy) && copy) {
    const Rect r = content ? BoundsOf(heap, content) : Rect{0, 0, 0, 0};
    IntoImage(copy, r, heap, content);
    // A copy made again at the port's depth takes the value too, not only
    // the background: it is what the content part shows from now on.
    if (value && (f28 & kFlagOpaque)) {
      ObjSetWord(heap, object, kPictureCopyWord, copy);
      reply |= DrawPictureValue(heap, object, value, content, kPictIntoCopy);
    }
  }
  ObjSetWord(heap, object, kPictureCopyWord, copy);
  for (int32 part : PartsLastFirst(heap, object)) {
    if (Hidden(heap, part)) continue;
    if (part != content) {
      ODrawObj(heap, part, 0, 0, kDrawModeNormal);
      continue;
    }
    if (a || b) {
      if (value && !ObjWord(heap, object, kPictureCopyWord)) reply |= DrawPictureValue(heap, object, value, content, kPictIntoCopy);
      const Rect r = BoundsOf(heap, content);
      if (const int32 c = ObjWord(heap, object, kPictureCopyWord)) IDraw(c, nullptr, &r, kBlack, kWhite, kBlack, kWhite);
      else ODrawObj(heap, content, 0, 0, kDrawModeNormal);
    } else {
      reply |= DrawPictureValue(heap, object, value, content, kPictToScreen);
    }
  }
  DDOODrawMethod(heap, object, value, pass, mode);
  return reply;
}

int32 DrawUserItem(ObjHeap heap, int32 object, const void* value, int32 pass, int32 mode) {
  if (!IsObj(heap, object) || Hidden(heap, object)) return 0;
  const Rect r = BoundsOf(heap, object);
  if (Ext(heap, kHeapExtDialogFilter)) {
    // The dialog's handler draws it: the owner's place among the controllers.
    const int32 owner = ObjWord(heap, object, kPWOwner);
    const int32 root = int32(Ext(heap, kHeapExtRoot));
    const int32 list = Has(heap, root, kRootItemList + 4) ? ObjWord(heap, root, kRootItemList / 4) : 0;
    int32 position = 0;
    for (int32 i = 0, n = list ? PanelListCount(heap, list) : 0; i < n; ++i)
      if (ObjListGet(heap, list, i) == owner) {
        position = i + 1;
        break;
      }
    WEventRecord e{};
    e.code = kUserItemDrawEvent;
    e.window = WindowRef(Ext(heap, kHeapExtWindow));
    e.data[0] = position;
    std::memcpy(&e.where, &r, sizeof r);
    WSendEvent(&e);
  } else {
    DSelectNormPen(kWhite, kWhite);
    DPaintRect(&r);
    char text[40];
    const int32 n = SPrintf(text, "%ldx%ld", long(r.right - r.left), long(r.bottom - r.top));
    TBox(&r, 32, reinterpret_cast<const uChar*>(text), n, kAppFont, kBlack, kWhite, kBlack, kWhite);
    DSelectNormPen(kBlack, kBlack);
    DFrameRect(&r);
  }
  return DDOODrawMethod(heap, object, value, pass, mode);
}
int32 UserItemODrawMethod(ObjHeap heap, int32 object, const void* value, int32 pass, int32 mode) {
  return DrawUserItem(heap, object, value, pass, mode);
}

int32 StdRefNumODrawMethod(ObjHeap heap, int32 object, const void* value, int32 pass, int32 mode) {
  if (!IsObj(heap, object) || Hidden(heap, object)) return 0;
  for (int32 part : PartsLastFirst(heap, object)) {
    if (Hidden(heap, part)) continue;
    ODrawObj(heap, part, 0, 0, kDrawModeNormal);
    const int16 id = PartIdOf(heap, part);
    if (id == kPartRefInner) {
      const int32 inner = WordOr0(heap, object, kRefNumInnerWord);
      if (inner && inner != object && IsObj(heap, inner) && !Hidden(heap, inner)) {
        const Rect clip = BoundsOf(heap, part);
        Rect saved;
        WLimitClip(&clip, &saved);
        ODrawObj(heap, inner, 0, 0, kDrawModeNormal);
        WRestoreClip(&saved);
      }
    } else if (id == kPartRefType) {
      const TypeDescriptor* td = DisplayTD(heap, object);
      if (!td || td->code != kTDRefnum || RefnumWord(td, 4) != kObjRefKind) continue;
      const int32 type = RefnumWord(td, 6);
      if (type != 1 && type != 2) {
        DBPrintf("StdRefNumODrawMethod: QXObjRef: unknown QXObjType=0x%lx?|!!", long(type));
        continue;
      }
      int32& image = gRefnumImages[type - 1];
      if (!image) image = GetRTImage(type == 1 ? kRefnumAppImage : kRefnumVIImage);
      const Rect r = BoundsOf(heap, part);
      if (image) IDraw(image, nullptr, &r, kBlack, kWhite, kBlack, kWhite);
    }
  }
  return DDOODrawMethod(heap, object, value, pass, mode);
}

int32 OleVariantODrawMethod(ObjHeap heap, int32 object, const void* value, int32 pass, int32 mode) {
  if (!IsObj(heap, object) || Hidden(heap, object) || !Meets(heap, object)) return 0;
  for (int32 part : PartsLastFirst(heap, object))
    if (!Hidden(heap, part)) ODrawObj(heap, part, 0, 0, kDrawModeNormal);
  return DDOODrawMethod(heap, object, value, pass, mode);
}

ObjMethodAddr CtrlODrawMethodFor(int32 cls) {
  const auto a = [](auto m) { return reinterpret_cast<ObjMethodAddr>(m); };
  switch (cls) {
    case kClsNumeric: case kClsColorBox: return a(&NumericODrawMethod);
    case kClsRing: return a(&RingODrawMethod);
    case kClsSlide: case kClsKnob: return a(&SlideODrawMethod);
    case kClsString: return a(&StringODrawMethod);
    case kClsTag: return a(&TagODrawMethod);
    case kClsPath: return a(&PathODrawMethod);
    case kClsUserItem: return a(&UserItemODrawMethod);
    case kClsColorRamp: return a(&ColorRampODrawMethod);
    case kClsPicture: return a(&PictureODrawMethod);
    case kClsBoolean: return a(&BooleanODrawMethod);
    case kClsRefNum: return a(&StdRefNumODrawMethod);
    case kClsOleVariant: return a(&OleVariantODrawMethod);
    default: return nullptr;
  }
}
