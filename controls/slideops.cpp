// Slides and their scales under the mouse and the label list.
#include "controls/slideops.h"

#include <cstring>
#include <utility>

#include "controls/scale.h"
#include "controls/scaleobj.h"
#include "engine/datatype.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "panel/osupport.h"
#include "mgsource/numconv.h"
#include "panel/numdoit.h"
#include "panel/numincdec.h"
#include "panel/numoperate.h"
#include "panel/oinval.h"
#include "panel/transact.h"

namespace {

constexpr int32 kPartFill = 31, kPartThumb = 23;
constexpr uInt32 kSlideTwoColours = 0x800000;
constexpr uInt32 kFillHidden = 0x8, kFillStyleBits = 0xC00000, kFillStyle2 = 0x400000;

bool Live(ObjHeap heap, int32 object, int32 size) {
  return heap && *heap && object > 0 && OHIsUsedBlock(heap, object) && OHBlockSize(heap, object) >= size;
}
uInt32 Flags(ObjHeap heap, int32 object) { return uInt32(ObjWord(heap, object, 0)); }

// The fill style a slider's flags give: 5 hidden, else 1 to 4 by two bits.
int32 FillStyle(uInt32 flags) {
  if (flags & kFillHidden) return 5;
  return 1 + int32((flags & kFillStyleBits) / kFillStyle2);
}


}  // namespace

int32 ScaleFitToItemCount(ObjHeap heap, int32 slide) {
  if (!Live(heap, slide, 4)) return 0;
  const int32 scale = FindPart(heap, slide, kControlPartScale, 0);
  const bool hasScale = Live(heap, scale, 4) && ScaleRecOf(heap, scale);
  // A slide with text labels ranges over its labels: 0 to the count less one
  // (1 for one label or none).
  if (hasScale && ObjIsA(heap, slide, kClsSlide) && (Flags(heap, scale) & kScaleTextLabels)) {
    const UHandle list = SlideScaleMarkerList(heap, scale);
    int32 count = 0;
    if (list && (DSCheckHandle(list) == kNoErr || AZCheckHandle(list) == kNoErr) && *list &&
        (DSCheckHandle(list) == kNoErr ? DSGetHandleSize(list) : AZGetHandleSize(list)) >= 4)
      count = int32(GetNative32(*list));
    const int32 top = count > 1 ? count - 1 : 1;
    Bool32 moved = 0;
    CalcScaleMarkers(heap, scale, 0, top, 1, 1, &moved);
  }
  if (hasScale) {
    OInval(heap, scale, kInvalAll);
    ScaleRecalc(heap, scale);
    OInval(heap, scale, kInvalAll);
  }
  OSize(heap, slide, nullptr, 0);
  return 0x80;
}

void SlideColorChangeSliders(ObjHeap heap, int32 slide, int32* first, int32* second) {
  int32 a = -1, b = -1;
  if (Live(heap, slide, 4) && (Flags(heap, slide) & kSlideTwoColours)) {
    ForEachPart(heap, slide, [&](int32 part) {
      if (!Live(heap, part, 12) || ObjInt16(heap, part, kObjPartId) != kPartFill) return;
      const int32 order = ObjInt16(heap, part, kObjPartOrder);
      const int32 thumb = FindPart(heap, slide, kPartThumb, order);
      if (!Live(heap, thumb, 4)) return;
      const int32 style = FillStyle(Flags(heap, thumb));
      if (style == 2 && a < 0) a = order;
      if (style == 1 && b < 0) b = order;
    });
    if (GetScaleRange(heap, slide, nullptr, nullptr, nullptr, nullptr)) std::swap(a, b);
  }
  if (first) *first = a;
  if (second) *second = b;
}

void ControlsInstallSlideOpsHooks() {
  SetSlideOpsHooks({.trackValue = &SlideTrackSlider,
                    .fitToItemCount = &ScaleFitToItemCount,
                    .colourSliders = &SlideColorChangeSliders,
                    .invalSliders = &SlideInvalSliders});
}
