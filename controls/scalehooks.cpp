// What the panel and the data manager reach of the scales, installed at
// start-up: a scale part's text labels, recomputing a scale whose range was
// copied in or whose chart history was reset, and the value of a pointer position on a knob or slide.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "controls/scale.h"
#include "controls/slideops.h"
#include "engine/dmprog.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "mgsource/numconv.h"
#include "panel/datageom.h"
#include "panel/datamsg.h"
#include "panel/ctrdoit.h"
#include "panel/methsupport.h"
#include "panel/objects.h"
#include "rtlib/chartdata.h"

namespace {

MgErr RangeCopied(ObjHeap heap, int32 scale) {
  int32 index = 0;
  ScaleSetRangeValue(heap, scale, -2, 0, &index);
  return ScaleRecalc(heap, scale);
}

// The numeric type of one of the object's values (a number or a cluster of
// numbers).
int32 ValueType(ObjHeap heap, int32 object) {
  TypeID id = DDOTypeID(heap, object);
  const TypeDescriptor* td = id ? TypeIDToTD(heap, id) : nullptr;
  if (!td) return 0;
  td = SkipTypedefs(td);
  if (td->code == kTDCluster) td = SkipTypedefs(ElemTD(td, 0));
  return td ? td->code : 0;
}

MgErr PointerValue(ObjHeap heap, int32 object, int32 pointWord, void* dst) {
  int32 scale = FindPart(heap, object, kControlPartScale, 0);
  int32 type = ValueType(heap, object);
  if (!scale || !type || !ScaleRecOf(heap, scale)) return kArgErr;
  int32 data = ObjWord(heap, scale, kScaleObjData);
  Point pt;
  std::memcpy(&pt, &pointWord, sizeof pt);
  int32 cls = ObjClass(heap, object);
  if (cls == kClsKnob) {
    float64 angle = 0;
    KnobPointToAngle(heap, data, pt, &angle);
    KnobAngleToValue(heap, data, type, angle, dst);
  } else if (cls == kClsSlide) {
    int16 pixel = (OHWord(heap, uInt32(scale)) & kScaleHorizontal) ? pt.h : pt.v;
    ScalePixelToValuePinned(heap, data, type, &pixel, dst);
  }
  return kNoErr;
}

// What the colour ramps read of a scale: its ends, markers and the colours
// beyond them (the data of its two end parts, the lower end's first).
Bool32 ScaleInfo(ObjHeap heap, int32 scale, PanelScaleInfo* info) {
  const ScaleRec* r = ScaleRecOf(heap, scale);
  if (!r || !info) return 0;
  *info = {r->min, r->max, r->pixelStart, r->pixelEnd, ObjWord(heap, scale, kScaleObjData), r->markers,
           r->endParts[0], r->endParts[1]};
  return 1;
}

}  // namespace

void ControlsInstallScaleHooks() {
  SetPanelScaleHooks({.scaleInfo = &ScaleInfo,
                      .mapPixelsToValues = &MapPixelsToValues,
                      .scaleValueToPixelPinned = &ScaleValueToPixelPinned,
                      .knobValueToPoint = &KnobValueToPoint,
                      .scaleGetPartsRect = &ScaleGetPartsRect});
  SetPanelDataHooks({.slideScaleMarkerList = &SlideScaleMarkerList});
  SetDataMgrHooks({.scaleRangeSet = &RangeCopied, .pointerValue = &PointerValue});
  SetChartPanelHooks({.scaleRecalc = &ScaleRecalc, .calcScaleMarkers = &CalcScaleMarkers});
  SetPanelRampHooks({.scaleFitToItemCount = &ScaleFitToItemCount});
}
