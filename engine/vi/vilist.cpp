// The loaded-VI list, held VI names, and closing and purging VIs.
#include <cstring>
#include <vector>

#include "engine/vi/vi_internal.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"

using namespace viinst;

namespace {

UHandle gFirst = nullptr;  // the loaded-VI list's head

UHandle NextOf(UHandle vi) { return VIRec(vi)->next; }
void SetNext(UHandle vi, UHandle next) { VIRec(vi)->next = next; }

void PutAtHead(UHandle vi) {
  SetNext(vi, gFirst);
  gFirst = vi;
}

void PutAfter(UHandle at, UHandle vi) {
  SetNext(vi, NextOf(at));
  SetNext(at, vi);
}

// The VIs being re-inserted by an order conflict, so that a cycle of
// callers ends.
std::vector<UHandle>& Reinserting() {
  static std::vector<UHandle> v;
  return v;
}

void Insert(UHandle vi) {
  UHandle subs = VIRec(vi)->subVIs, callers = VIRec(vi)->callers;
  const int32 want = ListCount(subs);
  if (want == 0 || !gFirst) {
    PutAtHead(vi);
    return;
  }
  int32 found = 0, pos = 0, lastFoundPos = -1, firstCallerPos = -1;
  UHandle lastFound = nullptr;
  for (UHandle e = gFirst; e && found < want; e = NextOf(e), ++pos) {
    if (ListHas(subs, e)) {
      ++found;
      lastFound = e;
      lastFoundPos = pos;
    } else if (firstCallerPos < 0 && ListHas(callers, e)) {
      firstCallerPos = pos;
    }
  }
  if (lastFound) PutAfter(lastFound, vi);
  else PutAtHead(vi);
  if (firstCallerPos < 0 || firstCallerPos > lastFoundPos) return;
  // A caller stands before one of the VI's subVIs: every loaded caller is
  // inserted again by the same rule.
  std::vector<UHandle>& busy = Reinserting();
  busy.push_back(vi);
  std::vector<UHandle> loadedCallers;
  for (int32 i = 0, n = ListCount(callers); i < n; ++i) {
    UHandle c = ListAt(callers, i);
    bool repeated = false;
    for (UHandle b : busy) repeated |= b == c;
    for (UHandle l : loadedCallers) repeated |= l == c;
    if (!repeated && c != vi && IsVILoaded(c)) loadedCallers.push_back(c);
  }
  for (UHandle c : loadedCallers) {
    RemoveLoadedVI(c);
    Insert(c);
  }
  busy.pop_back();
}

// ---- Held names -------------------------------------------------------------------------

CPStrHandle gHeldNames = nullptr;  // the names
UHandle gHoldCounts = nullptr;     // a 32-bit count per name

MgErr MakeHeldLists() {
  if (gHeldNames) return kNoErr;
  gHeldNames = reinterpret_cast<CPStrHandle>(AZNewHClr(4));
  gHoldCounts = AZNewHClr(0);
  if (gHeldNames && gHoldCounts) return kNoErr;
  if (gHeldNames) AZDisposeHandle(reinterpret_cast<UHandle>(gHeldNames));
  if (gHoldCounts) AZDisposeHandle(gHoldCounts);
  gHeldNames = nullptr;
  gHoldCounts = nullptr;
  return kMemFullErr;
}

int32 HeldCount() { return gHeldNames ? (*gHeldNames)->cnt : 0; }
int32& HoldCount(int32 i) { return reinterpret_cast<int32*>(*gHoldCounts)[i]; }

// The list (the engine's own, made by CPStrInsert) is walked once; names of
// another length are passed over without a comparison, and a name held in
// the same spelling without the case-insensitive one.
int32 FindHeld(ConstPStr name) {
  const int32 n = HeldCount();
  if (n <= 0 || !name) return -1;
  const uChar* p = reinterpret_cast<const uChar*>(*gHeldNames) + 4;
  for (int32 i = 0; i < n; ++i, p += p[0] + 1) {
    if (p[0] != name[0]) continue;
    int32 k = 1;
    while (k <= name[0] && p[k] == name[k]) ++k;
    if (k > name[0] || PStrCaseCmp(p, name) == 0) return i;
  }
  return -1;
}

void RemoveHeld(int32 i) {
  CPStrRemove(gHeldNames, i);
  const int32 n = AZGetHandleSize(gHoldCounts) / 4;
  std::memmove(&HoldCount(i), &HoldCount(i) + 1, size_t(n - i - 1) * 4);
  AZSetHandleSize(gHoldCounts, (n - 1) * 4);
}

bool NameHeld(UHandle vi) { return !IsVINameFree(VIRec(vi)->name); }
bool HasLoadedCaller(UHandle vi) { return VILink().viHasLoadedCaller && VILink().viHasLoadedCaller(vi); }
int32 VIRefs(UHandle vi) {
  int32 count = 0;
  if (VIServer().viHasRefs) VIServer().viHasRefs(vi, &count);
  return count;
}

UHandle LoadedAt(int32 index) {
  UHandle e = gFirst;
  for (int32 i = 0; e && i < index; ++i) e = NextOf(e);
  return e;
}

}  // namespace

void InsertLoadedVI(UHandle vi) {
  if (!vi || !*vi) return;
  if (IsVILoaded(vi)) {
    DBAssert(__FILE__, __LINE__, "InsertLoadedVI: the VI is in the list already");
    return;
  }
  Insert(vi);
}

Bool32 RemoveLoadedVI(UHandle vi) {
  if (!vi) return 0;
  Bool32 found = 0;
  if (gFirst == vi) {
    gFirst = NextOf(vi);
    found = 1;
  } else {
    for (UHandle e = gFirst; e; e = NextOf(e))
      if (NextOf(e) == vi) {
        SetNext(e, NextOf(vi));
        found = 1;
        break;
      }
  }
  if (found) SetNext(vi, nullptr);
  if (!gFirst) ResetPanelCascade();
  return found;
}

Bool32 IsVILoaded(UHandle vi) {
  for (UHandle e = gFirst; e; e = NextOf(e))
    if (e == vi) return 1;
  return 0;
}

UHandle FirstLoadedVI() { return gFirst; }
UHandle* LoadedVIListHead() { return &gFirst; }

UHandle FindVIByName(ConstPStr name) {
  if (!name) return nullptr;
  for (UHandle vi = gFirst; vi && *vi; vi = NextOf(vi))
    if (PStrCaseCmp(VIRec(vi)->name, name) == 0) return vi;
  return nullptr;
}

int32 LoadedVICount() {
  int32 n = 0;
  for (UHandle e = gFirst; e; e = NextOf(e)) ++n;
  return n;
}

MgErr HoldVIName(ConstPStr name, Bool32 release) {
  if (!release) {
    if (!name) return kArgErr;
    if (MgErr err = MakeHeldLists()) return err;
    const int32 i = FindHeld(name);
    if (i >= 0) {
      ++HoldCount(i);
      return kNoErr;
    }
    const int32 n = HeldCount();
    if (MgErr err = AZSetHandleSize(gHoldCounts, (n + 1) * 4)) return err;
    if (MgErr err = CPStrInsert(gHeldNames, name, n)) {
      AZSetHandleSize(gHoldCounts, n * 4);
      return err;
    }
    HoldCount(n) = 1;
    return kNoErr;
  }
  if (!name) {
    const bool any = HeldCount() > 0;
    while (HeldCount() > 0) RemoveHeld(HeldCount() - 1);
    if (any) PostPurgeVIs();
    return kNoErr;
  }
  const int32 i = FindHeld(name);
  if (i < 0) return kArgErr;
  if (--HoldCount(i) <= 0) {
    RemoveHeld(i);
    PostPurgeVIs();
  }
  return kNoErr;
}

Bool32 IsVINameFree(ConstPStr name) { return !name || FindHeld(name) < 0; }

void PostPurgeVIs() {
  if (VIShell().postUserEvent) VIShell().postUserEvent(kWRootWindow, kUEPurgeVIs, 0, 0, 0, 0, 0, 0, 0);
}

Bool32 VIIsDisposable(UHandle vi) {
  if (!vi || !*vi) return 0;
  if (VIRec(vi)->viKind == kVIKindProxyCaller) return 0;
  if (PanelWindow(VIRec(vi)->panelHeap)) return 0;
  if (NameHeld(vi)) return 0;
  if (VIRefs(vi) > 0) return 0;
  return !HasLoadedCaller(vi);
}

int32 CloseVI(UHandle vi, int32 /*word1*/, int32 /*word2*/, Bool32 force) {
  if (!vi || !*vi) return 1;
  if ((VIRec(vi)->flags2 & kVIFlags2RetrievalMode) && VIRun().exitRetrieveMode) VIRun().exitRetrieveMode(vi);
  if (ObjHeap panel = VIRec(vi)->panelHeap) {
    if (auto commit = GetEnginePanelHooks()->commitKeyFocus) commit(panel);
    ClosePanelWindow(vi);
  }
  const uInt32 state = VIRec(vi)->eState & kVIStateMask;
  if ((state == 2 || state == 6 || state == 14) && VIRefs(vi) == 0) {
    const bool keepRunning = NameHeld(vi) && !force;
    if (!keepRunning && VIRun().abortVI && VIRec(vi)->dataSpace) VIRun().abortVI(AsDS(VIRec(vi)->dataSpace));
  }
  if (VIIsDisposable(vi)) {
    DisposeVI(vi, 1);
    return 0;
  }
  if (!(VIRec(vi)->flags & 0x410007)) VIRec(vi)->flags2 |= kVIFlags2SetAtLoad;
  return 1;
}

int32 CloseFPAndUnload(UHandle vi) {
  if (!vi || !*vi) return 0;
  const VIRecord* r = VIRec(vi);
  if (!r->path || r->modFlags != 0) return 0;
  if (!(r->flags2 & 0x800000) || (r->flags2 & 0x20093000)) return 0;
  if (r->panelHeap) {
    if ((r->flags & 0x100) || (r->flags2 & kVIFlags2PrintAtCompletion) || NameHeld(vi)) return 0;
  }
  if (r->marks & 0x400) return 0;
  if (!r->panelHeap) return 0;
  DisposePanelHeap(vi, 1);
  return 1;
}

void PurgeUnusedVIs(int32 /*mode*/) {
  // From the tail to the head: callers stand behind their subVIs, so a
  // caller closes first and frees its subVIs for the same pass.
  for (int32 i = LoadedVICount() - 1; i >= 0; --i) {
    UHandle vi = LoadedAt(i);
    if (!vi || !VIIsDisposable(vi)) continue;
    CloseVI(vi, 0, 0, 0);
    const int32 n = LoadedVICount();
    if (i > n) i = n;
  }
  CollectTypeHeapGarbage();
}

int32 CloseAllVIs(int32 /*mode*/) {
  if (auto clear = GetEnginePanelHooks()->clearPanelClipboard) clear();
  if (VIServer().viRefReleaseAll) VIServer().viRefReleaseAll();
  while (gFirst) {
    UHandle chosen = nullptr;
    for (UHandle e = gFirst; e; e = NextOf(e)) {
      if (NameHeld(e)) {
        chosen = e;
        break;
      }
      if (!HasLoadedCaller(e) && VIRefs(e) == 0) {
        chosen = e;
        break;
      }
    }
    // Every VI left is held by a loaded caller: the callers form a cycle
    // (only a damaged hierarchy makes one). All of them are closing, so the
    // head goes first although its callers are still loaded; otherwise the
    // cycle would refuse every quit.
    const bool cycle = !chosen;
    if (cycle) chosen = gFirst;
    while (NameHeld(chosen)) HoldVIName(VIRec(chosen)->name, 1);
    if (VIServer().disposeVIRefList) VIServer().disposeVIRefList(chosen);
    if (CloseVI(chosen, 0, 0, 1) != 0) {
      if (!cycle || !IsVILoaded(chosen) || PanelWindow(VIRec(chosen)->panelHeap) || VIRefs(chosen) > 0 ||
          VIRec(chosen)->viKind == kVIKindProxyCaller)
        return 1;
      DisposeVI(chosen, 1);
    }
    PurgeUnusedVIs(0);
  }
  return 0;
}
