// Colour changes of scales, colour ramps, graphs and listboxes: the parts
// that show one scale's colour keep matching.
#include "controls/ctlcolor.h"

#include "engine/objswap.h"
#include "engine/panelrec.h"
#include "panel/attrcall.h"
#include "panel/ctrl_internal.h"

namespace {

enum : int16 {
  kPartGraphFrame9 = 9, kPartChartFill = 18, kPartListRows = 26, kPartPlot28 = 28, kPartScaleBody = 41, kPartScaleLine = 69,
  kPartLowEnd = 8012, kPartHighEnd = 8013,
};
constexpr int32 kListboxTextWord = 12;

int32 Fore(int32 flags) { return (flags & ~kColorBoth) | kColorFore; }

// Part 9 of the object's part of that id, when it has one.
int32 RecolourInner(ObjHeap heap, int32 object, int32 id, DColor fore, DColor back, int32 flags) {
  const int32 holder = FindPart(heap, object, id, 0);
  return ctrl::IsObj(heap, holder) && holder != object
             ? ColorChangePartById(heap, holder, kPartGraphFrame9, 0, fore, back, flags)
             : 0;
}

// The scale's colour reaches its line, its body and both end markers.
int32 ScaleParts(ObjHeap heap, int32 object, int32 id, DColor fore, DColor back, int32 flags, bool withBody) {
  if (!(flags & kColorFore)) return 0;
  const int32 f = Fore(flags);
  int32 reply = 0;
  if (id == kPartScaleBody || id == kPartScaleLine) {
    reply |= RecolourInner(heap, object, kPartHighEnd, fore, back, f);
    reply |= RecolourInner(heap, object, kPartLowEnd, fore, back, f);
    if (withBody)
      reply |= ColorChangePartById(heap, object, id == kPartScaleBody ? kPartScaleLine : kPartScaleBody, 0, fore, back, f);
  } else if (id == kPartLowEnd || id == kPartHighEnd) {
    reply |= RecolourInner(heap, object, id == kPartLowEnd ? kPartHighEnd : kPartLowEnd, fore, back, f);
    if (withBody) reply |= ColorChangePartById(heap, object, kPartScaleBody, 0, fore, back, f);
    reply |= ColorChangePartById(heap, object, kPartScaleLine, 0, fore, back, f);
  }
  return reply;
}

template <auto M>
ObjMethodAddr A() {
  return reinterpret_cast<ObjMethodAddr>(M);
}

}  // namespace

int32 ScaleOColorChangeMethod(ObjHeap heap, int32 scale, int32 partId, int32, DColor fore, DColor back,
                              int32 flags) {
  if (!ctrl::IsObj(heap, scale)) return 0;
  return ScaleParts(heap, scale, partId, fore, back, flags, true);
}

int32 GraphOColorChangeMethod(ObjHeap heap, int32 graph, int32 partId, int32, DColor fore, DColor back,
                              int32 flags) {
  if (!ctrl::IsObj(heap, graph)) return 0;
  if (partId == kPartGraphFrame9) {
    const int32 style = ctrl::Has(heap, graph, kPanelGraphRecSize)
                            ? int32(GetNative16(*heap + graph + kPanelGraphKindByte))
                            : 0;
    if (style >= 101 && style <= 199 && (flags & kColorBack))
      return ColorChangePartById(heap, graph, kPartChartFill, 0, fore, back, (flags & ~kColorBoth) | kColorBack);
    return 0;
  }
  if (partId == kPartPlot28) {
    if (flags & kColorBack) GraphCursorColorChange(heap, graph, back);
    return 0;
  }
  if (partId == kPartScaleLine || partId == kPartLowEnd || partId == kPartHighEnd)
    return ScaleParts(heap, graph, partId, fore, back, flags, false);
  return 0;
}

int32 ListboxOColorChangeMethod(ObjHeap heap, int32 listbox, int32 partId, int32, DColor fore, DColor back,
                                int32 flags) {
  if (partId != kPartListRows) return 0;
  const int32 text = ctrl::WordOr0(heap, listbox, kListboxTextWord);
  if (!ctrl::IsObj(heap, text) || text == listbox) return 0;
  return OColorChange(heap, text, int32(kPartListRows), 0, int32(fore), int32(back), flags);
}

void ControlsJoinColourSlot() {
  ObjJoinSlot(kMsgOColorChange, [](int32 cls) {
    switch (cls) {
      case kClsScale: case kClsColorRamp: return A<&ScaleOColorChangeMethod>();
      case kClsGraphChart: return A<&GraphOColorChangeMethod>();
      case kClsListbox: return A<&ListboxOColorChangeMethod>();
      default: return ObjMethodAddr(nullptr);
    }
  });
}
