// A VI with a front-panel heap whose root is bound to the VI's data space,
// for the fuzz targets that build panel objects from their input.
#pragma once
#include <initializer_list>
#include <vector>

#include "engine/dsalloc.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/viinst.h"
#include "fuzz_support.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "panel/fppanel.h"
#include "panel/graphstate.h"
#include "panel/objects.h"
#include "tools/tdbuilder.h"
#include "tools/vibuilder.h"

// Starts the managers the panel targets need, with the panel's engine hooks
// and the data-space start-up blocks; false when they cannot start.  The
// graph state's descriptor, which the panel keeps for the run once a cursor
// record is first read, is built here, before any run counts handles.
inline bool FuzzStartPanelManagers() {
  PanelInstallEngineHooks();
  MemSetDataSpaceInitHook(&AZPAllocInit);
  return FuzzStartManagers() && TypeHeapInit() == kNoErr && GraphStateStaticTD() != nullptr;
}

// The panel heap of a new VI with a data space of the types, its root bound;
// null (and nothing left behind) when either cannot be made.
inline ObjHeap FuzzNewBoundPanel(std::initializer_list<tdb::TD> types, UHandle* vi) {
  *vi = vib::NewVI(types);
  if (!*vi) return nullptr;
  ObjHeap heap = vib::NewPanel(*vi);
  int32 root = heap ? FPNewPanelRoot(heap) : 0;
  if (!root) {
    vib::DisposeVI(*vi);
    *vi = nullptr;
    return nullptr;
  }
  PutNative32(*heap + int32(OHWord(heap, kOHExtension)) + kHeapExtRoot, uInt32(root));
  OHSetWord(heap, uInt32(root + 4 * kPanelRootDataSpaceWord), uInt32(uintptr_t(VIRec(*vi)->dataSpace)));
  return heap;
}

// FuzzNewBoundPanel of no types with the VI registered, so that the panel
// can hand out type IDs; null (nothing left behind) when either fails.
inline ObjHeap FuzzNewRegisteredPanel(UHandle* vi) {
  ObjHeap heap = FuzzNewBoundPanel({}, vi);
  if (heap && RegisterVI(*vi) != kNoErr) {
    OHDisposeHeap(heap);
    VIRec(*vi)->panelHeap = nullptr;
    vib::DisposeVI(*vi);
    return nullptr;
  }
  return heap;
}

// Disposes the heap and its VI.
inline void FuzzDisposePanel(ObjHeap heap, UHandle vi) {
  OHDisposeHeap(heap);
  VIRec(vi)->panelHeap = nullptr;
  vib::DisposeVI(vi);
}

// A control of the type under root (a data controller around a display
// object of the class) with its data allocated; the display object, or 0.
inline int32 FuzzNewControl(ObjHeap heap, int32 root, const tdb::TD& type, int32 cls) {
  std::vector<uChar> td = type.Bytes();
  const TypeID t = NewTypeIDForTD(heap, tdb::AsTD(td));
  const int32 dco = vib::NewObject(heap, kClsFPDataController, ClassRecord(kClsFPDataController)->instanceSize, root);
  const int32 display = vib::NewObject(heap, cls, ClassRecord(cls)->instanceSize);
  if (!t || !dco || !display) return 0;
  OHSetWord(heap, uInt32(display + 4 * kPWOwner), uInt32(dco));
  OHSetWord(heap, uInt32(display + 4 * kPWDDOTypeId), t);
  OHSetWord(heap, uInt32(dco + 4 * kPWDCOTypeId), t);
  OHSetWord(heap, uInt32(dco + 4 * kPWDCODisplay), uInt32(display));
  const MgErr err = AllocObjDataSpace(heap, dco);
  if (DSAllocCurrentState()->active) AllocEndPass();
  return err == kNoErr ? display : 0;
}

// The root object of a panel heap.
inline int32 FuzzPanelRoot(ObjHeap heap) {
  return int32(GetNative32(*heap + int32(OHWord(heap, kOHExtension)) + kHeapExtRoot));
}

// A value of size bytes for a property call between two guards of a known
// pattern (seed ^ index), so that a write past either end is caught.
struct FuzzGuardedValue {
  static constexpr int32 kGuard = 16;
  FuzzGuardedValue(int32 size, uChar seed) : size(size), seed(seed), buffer(size_t(size + 2 * kGuard + 8)) {
    for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = uChar(seed ^ i);
  }
  uChar* Value() { return buffer.data() + kGuard; }
  // Both guards as they were made.
  bool Intact() const {
    for (int32 i = 0; i < kGuard; ++i) {
      const size_t j = size_t(kGuard + size + i);
      if (buffer[size_t(i)] != uChar(seed ^ i) || buffer[j] != uChar(seed ^ j)) return false;
    }
    return true;
  }
  int32 size;
  uChar seed;
  std::vector<uChar> buffer;
};
