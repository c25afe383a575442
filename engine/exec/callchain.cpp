// Call chains of running data spaces and the reachability walk over the
// loaded VIs.
#include "engine/exec/callchain.h"

#include <vector>

#include "mgsource/counted_strings.h"
#include "engine/exec/exec.h"
#include "engine/exec/runcmd.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/vi_internal.h"
#include "mgsource/printf.h"

using viinst::ListAt;
using viinst::ListCount;

namespace {

// More levels than any real chain has: a chain whose links loop is cut here.
constexpr int32 kMaxChainLevels = 100000;

DataSpaceHeader* Hdr(DataSpace ds) { return ds && *ds ? *ds : nullptr; }

// The caller's data space, read without a lock; none at the top.
DataSpace CallerOf(DataSpaceHeader* h) {
  QueueElement* owner = h->entrance.owner;
  if (!owner || owner == h->runElement) return nullptr;
  return owner->dataSpace;
}

uInt32 StateOf(UHandle vi) { return vi && *vi ? VIRec(vi)->eState & kVIStateMask : 0; }

}  // namespace

Bool32 GetCallChainCaller(DataSpace ds, UHandle* callerVI) {
  DataSpaceHeader* h = Hdr(ds);
  if (!h) return 0;
  ThMutexAcquire(h->entrance.dsRights);
  DataSpace caller = CallerOf(h);
  UHandle vi = caller && *caller ? (*caller)->owner : nullptr;
  ThMutexRelease(h->entrance.dsRights);
  if (!caller) return 0;
  if (callerVI) *callerVI = vi;
  return 1;
}

DataSpace GetCallChainTop(DataSpace ds, Bool32 stopAtResumed) {
  DataSpaceHeader* h = Hdr(ds);
  if (!h) return nullptr;
  ThMutexAcquire(h->entrance.dsRights);
  DataSpace top = nullptr;
  if (h->busy) {
    top = ds;
    for (int32 level = 0; level < kMaxChainLevels; ++level) {
      DataSpaceHeader* t = Hdr(top);
      if (stopAtResumed && StateOf(t->owner) == 9) break;
      DataSpace up = CallerOf(t);
      if (!up || !*up) break;
      top = up;
    }
  }
  ThMutexRelease(h->entrance.dsRights);
  return top;
}

Bool32 VIShowsCallChain(UHandle vi) {
  if (!vi || !*vi) return 0;
  VIRecord* r = VIRec(vi);
  const uInt32 state = r->eState & kVIStateMask;
  if (state == 2 || state == 7 || state == 9 || state == 12) return 1;
  DataSpace panelDS = r->panelHeap ? viinst::PanelDataSpace(r->panelHeap) : nullptr;
  if (r->flags & kVIFlagReentrant) return panelDS && *panelDS && (*panelDS)->busy;
  if (!panelDS || reinterpret_cast<UHandle>(panelDS) != r->dataSpace) return 0;
  return (state == 1 || state == 5 || state == 13) && (r->flags2 & kVIFlags2RunContinuously) != 0;
}

int32 GetCallChainTitle(ObjHeap panel, int32 itemId, PStr title) {
  if (itemId != kCallChainItemId || !panel || !*panel || !title) return 0;
  DataSpace ds = viinst::PanelDataSpace(panel);
  UHandle vi = ds && *ds ? (*ds)->owner : nullptr;
  if (!vi || !*vi || !VIShowsCallChain(vi)) return 0;
  DataSpace top = GetCallChainTop(ds, 1);
  UHandle topVI = top && *top && (*top)->owner ? (*top)->owner : vi;
  Str255 format;
  if (RGetIndString(RunTimeRsrcFile(), format, kCallChainTitleListId, kCallChainTitleEntry) != kNoErr)
    PStrCpy(format, reinterpret_cast<ConstPStr>("\x02%p"));
  PPrintfp(title, format, VIRec(topVI)->name);
  return 1;
}

int32 CallChainMenuState(UHandle vi, int32 kind) {
  if (!vi || !*vi) return 0;
  if (kind == 2) return StateOf(vi) == 7 && RunCmd().fpHeapFlag18 && RunCmd().fpHeapFlag18(vi) ? 2 : 0;
  if (kind == 3) return VIShowsCallChain(vi) ? 0 : 2;
  return 0;
}

// ---- Reachability -------------------------------------------------------------------

void MarkVITree(UHandle vi) {
  if (!vi || !*vi) return;
  // Depth first in list order, without recursion: a deep hierarchy must not
  // use up the stack.
  std::vector<UHandle> stack{vi};
  while (!stack.empty()) {
    UHandle v = stack.back();
    stack.pop_back();
    if (!v || !*v || (VIRec(v)->marks & kVIMarkReachable)) continue;
    VIRec(v)->marks |= kVIMarkReachable;
    UHandle subs = VIRec(v)->subVIs;
    for (int32 i = ListCount(subs) - 1; i >= 0; --i) {
      UHandle s = ListAt(subs, i);
      if (s && *s && !(VIRec(s)->marks & (kVIMarkExcluded | kVIMarkReachable))) stack.push_back(s);
    }
  }
}

void MarkReachableVIs() {
  for (UHandle vi = FirstLoadedVI(); vi; vi = VIRec(vi)->next) VIRec(vi)->marks &= ~kVIMarkReachable;
  for (UHandle vi = FirstLoadedVI(); vi; vi = VIRec(vi)->next) {
    VIRecord* r = VIRec(vi);
    if (r->marks & (kVIMarkExcluded | kVIMarkReachable)) continue;
    const bool panelOpen = r->panelHeap && viinst::PanelWindow(r->panelHeap) != 0;
    if (panelOpen || ListCount(r->callers) == 0) MarkVITree(vi);
  }
  UHandle root = RootVI();
  if (root && *root && !(VIRec(root)->marks & kVIMarkExcluded)) MarkVITree(root);
}

Bool32 IsReachableRoot(UHandle vi) {
  if (!vi || !*vi) return 0;
  VIRecord* r = VIRec(vi);
  if ((r->marks & kVIMarkExcluded) || !(r->marks & kVIMarkReachable)) return 0;
  for (int32 i = 0, n = ListCount(r->callers); i < n; ++i) {
    UHandle c = ListAt(r->callers, i);
    if (c && *c && (VIRec(c)->marks & kVIMarkReachable)) return 0;
  }
  return 1;
}
