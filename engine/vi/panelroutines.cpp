#include "engine/vi/panelroutines.h"

#include <cstring>

#include "engine/dsalloc.h"
#include "engine/exec/panelplace.h"
#include "engine/typemgr.h"
#include "engine/vi/vi_internal.h"
#include "mgsource/counted_strings.h"
#include "mgsource/window/wactive.h"

using viinst::ExtAt;
using viinst::ExtWord;

namespace {

PanelRoutineHooks gHooks{};

int32 Part(ObjHeap heap, int32 object, int32 id) {
  return gHooks.findPart ? gHooks.findPart(heap, object, id, 0) : 0;
}
int16 Half(ObjHeap heap, int32 at) {
  int16 v;
  std::memcpy(&v, *heap + at, 2);
  return v;
}
Rect RectAt(const uChar* p) {
  Rect r;
  std::memcpy(&r, p, sizeof r);
  return r;
}

}  // namespace

void SetPanelRoutineHooks(const PanelRoutineHooks* hooks) { gHooks = hooks ? *hooks : PanelRoutineHooks{}; }
const PanelRoutineHooks& PanelRoutines() { return gHooks; }

int32 RingSyncItemCount(ObjHeap heap, int32 ring) {
  if (!heap || !*heap || !ring) return 0;
  int32 table = Part(heap, ring, kRingTablePart);
  const int32 textPart = Part(heap, ring, kRingTextPart);
  if (!table || !textPart) return 0;
  auto texts = reinterpret_cast<CPStrHandle>(uintptr_t(OHWord(heap, uInt32(textPart + kRingTextWord))));
  const int32 nTexts = texts && *texts ? int32(GetNative32(*texts)) : 0;
  const int32 nItems = Half(heap, table + kRingItemCountAt);
  if (nTexts < nItems) {
    if (!texts) return 0;
    const uChar empty[1] = {0};
    // A text that cannot be inserted leaves the list shorter.
    for (int32 i = nTexts; i < nItems; ++i)
      if (CPStrInsert(texts, empty, i) != kNoErr) break;
    return 1;
  }
  if (nTexts > nItems) {
    for (int32 i = nItems; i < nTexts; ++i)
      if (!gHooks.resizePartObject || gHooks.resizePartObject(heap, ring, &table, i) != kNoErr) break;
    return 1;
  }
  return 0;
}

void FPCommitOrActivate(ObjHeap heap) {
  if (!heap || !*heap) return;
  if (ExtWord(heap, kHeapExtFocusText)) {
    if (auto commit = GetEnginePanelHooks()->commitKeyFocus) commit(heap);
  } else if (WindowRef w = viinst::PanelWindow(heap)) {
    WSetActiveWindow(w);
  }
}

void FPSetKeyFocus(ObjHeap heap, int32 object, void* text) {
  FPCommitOrActivate(heap);
  if (text && gHooks.keyFocusUpdate) gHooks.keyFocusUpdate(heap, object, 1, text);
}

int32 IsRunTimeEditablePart(ObjHeap heap, int32 part) {
  if (!heap || !*heap || !part) return 0;
  switch (Half(heap, part + 8)) {
    case 10: case 11: case 12: case 16: case 22: return 1;
    case 0: return Half(heap, part + kPartFurtherWord) == 0 ? 1 : 0;
    default: return 0;
  }
}

void OHBeginMarkPassPair(ObjHeap heap, ObjHeap second) {
  OHBeginMarkPass(heap, kSelectionPassKind);
  if (second && second != heap) OHBeginMarkPass(second, kSelectionPassKind);
}

void OHEndMarkPassPair(ObjHeap heap, ObjHeap second) {
  OHEndMarkPass(heap);
  if (second && second != heap) OHEndMarkPass(second);
}

int32 GetObjContentRect(ObjHeap heap, int32 object, Rect* rect, int32* found) {
  if (found) *found = 0;
  if (!heap || !*heap || !object || !rect || !ExtAt(heap, 0) || !ExtWord(heap, kHeapExtWindow)) return 0;
  if (OHWord(heap, kOHKind) != kPanelHeapKind) return 1;
  int32 hit = 1;
  switch (OHBlockClass(heap, object)) {
    case kClassFrontPanel: *rect = RectAt(ExtAt(heap, kHeapExtContentRect)); break;
    case kClassRefNum:
    case kClassArray:
    case kClassCluster: {
      const int32 part = Part(heap, object, OHBlockClass(heap, object) == kClassRefNum ? kRefNumFramePart
                                                                                      : kGroupFramePart);
      *rect = RectAt(*heap + (part ? part : object) + kPartBoundsAt);
      hit = part ? 1 : 0;
      break;
    }
    case kClassConnectorPane: {
      Rect pane{0, 0, 0, 0}, icon{0, 0, 0, 0};
      if (gHooks.iconPaneRect) gHooks.iconPaneRect(heap, &pane, &icon);
      *rect = pane;
      break;
    }
    default:
      *rect = RectAt(*heap + object + kPartBoundsAt);
      hit = 0;
      break;
  }
  if (found) *found = hit;
  return 1;
}

void VIClearStepFlags(UHandle vi) {
  if (!vi || !*vi) return;
  VIRecord* r = VIRec(vi);
  r->flags2 &= ~kVIFlags2StepInto;
  ObjHeap panel = r->panelHeap;
  if (!panel || !gHooks.statePnlSlotIcon) return;
  for (int32 slot : {1, 4}) UpdateToolbarButton(vi, gHooks.statePnlSlotIcon(panel, slot), 0);
}
