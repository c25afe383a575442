#include "panel/textparts.h"

#include <cstring>

#include "engine/panelrec.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "mgsource/walert.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/window/textrec.h"
#include "panel/datamsg.h"
#include "panel/osupport.h"
#include "rtlib/chartdata.h"
#include "rtlib/objunits.h"

namespace {

// The text of the part's text record (a count, then the bytes).
LStrHandle TextOf(ObjHeap heap, int32 part) {
  TRecord r = PartTextRecord(heap, part);
  return r ? reinterpret_cast<LStrHandle>(TGetText(r)) : nullptr;
}

UPtr DataOf(ObjHeap heap, int32 object) {
  return reinterpret_cast<UPtr>(uintptr_t(uInt32(OGetDataPtr(heap, object, 0, kDataPtrPlain, nullptr))));
}

}  // namespace

int32 SetPartText(ObjHeap heap, int32 part, const uChar* text, int32 length) {
  if (!heap || !*heap || !part || length < 0 || (length && !text)) return 0;
  if (OHBlockSize(heap, part) < 4 * (kPWLabelText + 1)) return 0;
  if (TRecord r = PartTextRecord(heap, part)) {
    TReplaceText(r, text, length);
    return 0;
  }
  if (ObjWord(heap, part, kPWLabelText)) return 0;  // a word that names no text record of ours
  Rect bounds;
  std::memcpy(&bounds, *heap + part + kObjBounds, sizeof bounds);
  if (TRecord r = TNew(&bounds, 0, text, length, kAppFont, gDefaultTextColor, kTransparentColor))
    ObjSetWord(heap, part, kPWLabelText, int32(uintptr_t(r)));
  return 0;
}

void PanelInstallTextPartHooks() {
  SetUnitLabelHooks({.inval = &OInval,
                     .setPartText = &SetPartText,
                     .beep = &WBeep,
                     .getText = &TextOf,
                     .displayData = &DataOf});
  SetChartPanelHooks({.dataPtr = &DataOf, .inval = &OInval});
}
