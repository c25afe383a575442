#include "engine/exec/panelplace.h"

#include <atomic>

#include "engine/exec/runcmd_internal.h"
#include "engine/typemgr.h"
#include "engine/vi/vi_internal.h"
#include "engine/vi/viinst.h"

using namespace qxrun;

namespace {
std::atomic<int32> gWindowOptionMode{0};
}  // namespace

void SetWindowOptionMode(int32 mode) { gWindowOptionMode.store(mode); }
int32 WindowOptionMode() { return gWindowOptionMode.load(); }

void GetPanelWindowOptions(ObjHeap panel, uInt16* first, uInt16* second) {
  uInt16 a = kWindowOptionsDefault, b = kWindowOptions2Default;
  UHandle vi = panel && *panel ? PanelHeapOwner(panel) : nullptr;
  if (vi && *vi) {
    const VIRecord* r = VIRec(vi);
    const uInt16 headerFirst = viinst::ExtHalf(panel, kHeapExtWindowOptions);
    const uInt16 headerSecond = viinst::ExtHalf(panel, kHeapExtWindowParts);
    if (r->viKind != kVIKindDatalog) {
      a = headerFirst;
      b = r->viKind == kVIKindDialog ? headerSecond : r->viKind == 1 ? kWindowOptions2Kind1 : kWindowOptions2Default;
    } else if (OHWord(panel, kOHKind) == kPanelHeapKind) {
      const VIExecState s = State(vi);
      const int32 mode = WindowOptionMode();
      const bool own = (s & (2u | 4u | 8u)) ||
                       (s != 0 && (mode == 2 || (mode == 1 && (r->flags & kVIFlagRunWhenOpened)) ||
                                   (OHWord(panel, kOHFlags) & kPanelHeapKeepsOptions)));
      if (own) {
        a = r->windowOptions;
        b = headerSecond;
      }
    }
  }
  if (panel && *panel) viinst::SetExtHalf(panel, kHeapExtWindowOptions, a);
  if (first) *first = a;
  if (second) *second = b;
}

void PlacePanelWindow(ObjHeap panel) {
  if (!panel || !*panel || !viinst::PanelWindow(panel)) return;
  uInt16 first = 0, second = 0;
  GetPanelWindowOptions(panel, &first, &second);
}

void PlaceVIPanelWindow(UHandle vi) {
  if (vi) {
    if (*vi) PlacePanelWindow(VIRec(vi)->panelHeap);
    return;
  }
  for (UHandle v = FirstLoadedVI(); v; v = VIRec(v)->next) {
    ObjHeap panel = VIRec(v)->panelHeap;
    if (!panel || !*panel || !viinst::PanelWindow(panel)) continue;
    const uInt32 flags = OHWord(panel, kOHFlags);
    if (!(flags & kPanelHeapKeepsOptions)) continue;
    OHSetWord(panel, kOHFlags, flags & ~kPanelHeapKeepsOptions);
    PlacePanelWindow(panel);
  }
}
