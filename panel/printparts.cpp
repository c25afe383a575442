// The print layout's hooks into the object system.
#include "panel/printparts.h"

#include "engine/typemgr.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/printlayout.h"
#include "mgsource/memory.h"
#include "panel/fppanel.h"
#include "panel/objects.h"
#include "panel/osupport.h"
#include "panel/transact.h"

namespace {

// Printing shows the busy cursor at once and takes it away at its end.
void PrintBusyCursor(Bool32 busy) {
  if (busy) {
    BusyCursorShowNow();
  } else {
    UpdateCursor(0);
  }
}

// The heap extension's word at, 0 without an extension.
int32 ExtWord(ObjHeap heap, int32 at) {
  if (!heap || !*heap) return 0;
  const int32 ext = int32(OHWord(heap, kOHExtension));
  return ext > 0 && OHBlockSize(heap, ext) >= at + 4 ? int32(GetNative32(*heap + ext + at)) : 0;
}

bool IsPanelHeap(ObjHeap heap) { return heap && *heap && OHWord(heap, kOHKind) == kPanelHeapKind; }

ObjHeap PanelHeapOf(UHandle vi) {
  if (!vi || !*vi || AZGetHandleSize(vi) < int32(sizeof(VIRecord))) return nullptr;
  ObjHeap heap = reinterpret_cast<const VIRecord*>(*vi)->panelHeap;
  return IsPanelHeap(heap) ? heap : nullptr;
}

MgErr CommitKeyFocus(ObjHeap heap) {
  if (!IsPanelHeap(heap) || !ExtWord(heap, kHeapExtKeyFocus)) return kNoErr;
  return FPCommitKeyFocus(heap);
}

// The content rectangle kept in the heap extension (words 14 and 15).
MgErr PanelRect(ObjHeap heap, Rect* r) {
  if (!IsPanelHeap(heap) || !r) return kArgErr;
  const int32 ext = int32(OHWord(heap, kOHExtension));
  if (ext <= 0 || OHBlockSize(heap, ext) < kHeapExtContentRect + int32(sizeof(Rect))) return kArgErr;
  __builtin_memcpy(r, *heap + ext + kHeapExtContentRect, sizeof(Rect));
  return kNoErr;
}

// The bounds of the panel's contents: the root object's rectangle of kind 0.
MgErr ContentBounds(ObjHeap heap, Rect* r) {
  const int32 root = IsPanelHeap(heap) ? ExtWord(heap, kHeapExtRoot) : 0;
  if (!root || !r) return kArgErr;
  OGetRect(heap, root, r, 0);
  return kNoErr;
}

int32 Send(int32 slot, ObjHeap heap, int32 object, int32 page, const Rect* points, const Rect* device) {
  switch (slot) {
    case kPartListMsgPicture: return OPrint(heap, object, page);
    case kPartListMsgDraw: return OSendMessage<int32>(kPartListMsgDraw, heap, object, points, device, page);
    case kPartListMsgLayout: return OSendMessage<int32>(kPartListMsgLayout, heap, object);
    default: return kArgErr;
  }
}

WindowRef PanelWindow(ObjHeap heap) { return IsPanelHeap(heap) ? WindowRef(ExtWord(heap, kHeapExtWindow)) : 0; }

}  // namespace

void PanelInstallPrintHooks() {
  PrintPanelHooks h = PPrintPanelHooks();
  h.panelWindow = &PanelWindow;
  h.panelHeap = &PanelHeapOf;
  h.commitKeyFocus = &CommitKeyFocus;
  h.panelRect = &PanelRect;
  h.contentBounds = &ContentBounds;
  h.setDrawMode = &PanelSetImagingMode;
  h.send = &Send;
  h.updateCursor = [](int32 flag) { UpdateCursor(flag); };
  h.busyCursor = &PrintBusyCursor;
  h.stashText = [](ObjHeap panel) { return HeapStashText(panel, 0); };
  h.drawPanel = [](ObjHeap panel) -> MgErr {
    if (!IsPanelHeap(panel)) return kArgErr;
    ODrawPanel(panel);
    return kNoErr;
  };
  PSetPrintPanelHooks(h);
}
