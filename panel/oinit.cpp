#include "panel/oinit.h"

#include <cstring>
#include <initializer_list>

#include "engine/objswap.h"
#include "engine/typemgr.h"
#include "engine/vi/dlgpanel.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/rects.h"
#include "panel/objload.h"

namespace {

constexpr uInt32 kRootFlagLists = 0x10000;
constexpr uInt32 kTplMLbl = FourCC("MLbl");

uInt32 W(ObjHeap heap, int32 at) { return OHWord(heap, uInt32(at)); }
void SetW(ObjHeap heap, int32 at, uInt32 v) { OHSetWord(heap, uInt32(at), v); }
void SetHalf(ObjHeap heap, int32 at, uInt16 v) { PutNative16(*heap + at, v); }

// A cleared block of the class's instance size (at least `least` bytes).
int32 NewCleared(ObjHeap heap, int32 size, int32 cls) {
  const int32 b = OHNewBlock(heap, size, cls);
  if (b) std::memset(*heap + b, 0, size_t(size));
  return b;
}

// A list of `count` zero entries (a count word, then the entries).
int32 NewList(ObjHeap heap, int32 count) {
  const int32 l = NewCleared(heap, 4 + 4 * (count > 0 ? count : 1), kObjClassList);
  if (l) SetW(heap, l, uInt32(count));
  return l;
}

// Disposes an object and, first, the parts its part list names (a part list
// of a class that has one: the data display objects).
void DisposeTree(ObjHeap heap, int32 object) {
  if (!object) return;
  const int32 cls = OHBlockClass(heap, object);
  if (ClassIsKindOf(cls, kClsGrouperObject) && cls != kClsFrontPanel &&
      OHBlockSize(heap, object) >= kObjPartList + 4) {
    const int32 list = int32(W(heap, object + kObjPartList));
    if (list) {
      const int32 n = ObjListCount(heap, list);
      for (int32 i = 0; i < n; ++i) DisposeTree(heap, ObjListGet(heap, list, i));
      OHDisposeBlock(heap, list);
    }
  }
  OHDisposeBlock(heap, object);
}

// The leading fields every template shares: the flags and three half-words.
void CopyHead(ObjHeap heap, int32 object, const uChar* t) {
  SetW(heap, object + kObjFlags, GetNative32(t + kTplFlags));
  SetHalf(heap, object + kObjHalf4, GetNative16(t + kTplHalf4));
  SetHalf(heap, object + kObjHalf5, 0);
  SetHalf(heap, object + kObjHalf6, GetNative16(t + kTplHalf6));
  SetHalf(heap, object + kObjHalf7, GetNative16(t + kTplHalf7));
}

Rect BoundsOf(ObjHeap heap, int32 object) {
  Rect r;
  std::memcpy(&r, *heap + object + kObjBounds, sizeof r);
  return r;
}
void SetBounds(ObjHeap heap, int32 object, const Rect& r) { std::memcpy(*heap + object + kObjBounds, &r, sizeof r); }

int32 Fail(ObjHeap heap, int32 object, void* tpl) {
  ReleasePreloadedRsrc(tpl);
  DisposeTree(heap, object);
  return 0;
}

// The shared step of the data display objects: "DDOD" gives the flags, the
// half-words and the parts, each made and initialised in turn.
// Templates from the resource file may name parts without end: nesting is
// bounded.
int32 gInitDepth = 0;
constexpr int32 kMaxInitDepth = 16;
struct DepthGuard {
  DepthGuard() { ++gInitDepth; }
  ~DepthGuard() { --gInitDepth; }
};

int32 DisplayInit(ObjHeap heap, int32 object, Point where, int32 rsrcId) {
  DepthGuard depth;
  if (gInitDepth > kMaxInitDepth) {
    DisposeTree(heap, object);
    return 0;
  }
  int32 size = 0;
  auto* t = static_cast<uChar*>(GetPreloadedRsrcSized(kRsrcDDOD, rsrcId, &size));
  if (!t) {
    SetW(heap, object + kObjPartList, 0);
    DBPrintf("Grouper doesn't have a partsList");
    DisposeTree(heap, object);
    return 0;
  }
  if (size < kDDODParts || SwapDDODRsrc(t, kToMemoryOrder, size) != kNoErr ||
      OHBlockSize(heap, object) < kObjPartList + 4)
    return Fail(heap, object, t);
  CopyHead(heap, object, t);
  const int32 n = int16(GetNative16(t + kDDODPartCount));  // fits the template: the conversion checked it
  const int32 list = NewList(heap, n);
  if (!list) return Fail(heap, object, t);
  SetW(heap, object + kObjPartList, uInt32(list));
  for (int32 i = 0; i < n; ++i) {
    const uChar* rec = t + kDDODParts + kDDODPartSize * i;
    const int32 cls = int32(GetNative32(rec));
    const int32 partRsrc = int16(GetNative16(rec + 4));
    const ObjClassRecord* c = ClassRecord(cls);
    // Resource id 0 names no template: a part that gives it comes from a
    // damaged template, not from a caller's mistake.
    if (partRsrc == 0 || c->methodCount == 0 || cls == kClsFrontPanel || !OInitMethodFor(cls))
      return Fail(heap, object, t);
    int32 part = NewCleared(heap, c->instanceSize, cls);
    if (!part) return Fail(heap, object, t);
    SetW(heap, part + kObjOwner, uInt32(object));
    part = OInit(heap, part, where, partRsrc);
    if (!part) return Fail(heap, object, t);
    ObjListSet(heap, list, i, part);
  }
  OSizeToParts(heap, object);
  ReleasePreloadedRsrc(t);
  return object;
}

// Cosmetics and labels: the flags, half-words and rectangle of their
// template.
int32 CosmeticInit(ObjHeap heap, int32 object, Point, int32 rsrcId) {
  const int32 cls = OHBlockClass(heap, object);
  uInt32 type = kRsrcCosm;
  int32 least = kCosmFixedSize;
  switch (cls) {
    case kClsLabel: case 149: type = kRsrcLabl, least = kLablFixedSize; break;
    case 11: type = kRsrcMCos; break;
    case 12: type = kRsrcBCos; break;
    case 13: case 14: type = kTplMLbl; break;
    default: break;
  }
  int32 size = 0;
  auto* t = static_cast<uChar*>(GetPreloadedRsrcSized(type, rsrcId, &size));
  if (!t) {
    DisposeTree(heap, object);
    return 0;
  }
  MgErr err = kNoErr;
  if (size < least || OHBlockSize(heap, object) < kObjBounds + 8) err = kArgErr;
  else if (type == kTplMLbl) {
    // No converter of its own: the shared head is converted here.
    PutNative32(t, GetBE32(t));
    for (int32 at : {4, 6, 8, 10, 12, 14, 16, 18}) PutNative16(t + at, GetBE16(t + at));
  } else {
    err = SwapRsrcData(type, t, size, kSwapToMemory);
  }
  if (err) return Fail(heap, object, t);
  CopyHead(heap, object, t);
  Rect r;
  std::memcpy(&r, t + kCosmRect, sizeof r);
  SetBounds(heap, object, r);
  ReleasePreloadedRsrc(t);
  return object;
}

// The root object: its item and object lists and its key-navigation table.
bool EnsureRootTables(ObjHeap heap, int32 root) {
  if (!root || OHBlockSize(heap, root) < kRootKeyNav + 4) return false;
  for (int32 at : {kRootItemList, kRootObjectList}) {
    if (W(heap, root + at)) continue;
    const int32 l = NewList(heap, 0);
    if (!l) return false;
    SetW(heap, root + at, uInt32(l));
  }
  if (!W(heap, root + kRootKeyNav)) {
    const int32 nav = NewList(heap, kKeyNavSlots);
    if (!nav) return false;
    SetW(heap, root + kRootKeyNav, uInt32(nav));
  }
  SetW(heap, root + kObjFlags, W(heap, root + kObjFlags) | kRootFlagLists);
  return true;
}

int32 FrontPanelInit(ObjHeap heap, int32 object, Point, int32) {
  if (EnsureRootTables(heap, object)) return object;
  for (int32 at : {kRootItemList, kRootObjectList, kRootKeyNav})
    if (int32 l = int32(W(heap, object + at))) OHDisposeBlock(heap, l);
  OHDisposeBlock(heap, object);
  return 0;
}


int32 Root(ObjHeap heap) {
  const int32 ext = int32(W(heap, kOHExtension));
  return ext > 0 ? int32(W(heap, ext + kHeapExtRoot)) : 0;
}

// ---- The dialog builder's steps ----------------------------------------------------
// A class without an initialisation of its own cannot come from a block:
// the object is disposed without reaching the error method.
int32 InitForDialog(ObjHeap heap, int32 object, int32 rsrcId) {
  const int32 cls = OHBlockClass(heap, object);
  if (!OInitMethodFor(cls) || cls == kClsFrontPanel) {
    OHDisposeBlock(heap, object);
    return 0;
  }
  return OInit(heap, object, Point{0, 0}, rsrcId);
}

MgErr AddChild(ObjHeap heap, int32 object) {
  const int32 root = Root(heap);
  if (!EnsureRootTables(heap, root)) return kMemFullErr;
  int32 list = int32(W(heap, root + kRootObjectList));
  if (MgErr err = OHListInsert(heap, &list, object, kObjListAppend)) return err;
  SetW(heap, root + kRootObjectList, uInt32(list));
  SetW(heap, object + kObjOwner, uInt32(root));
  return kNoErr;
}

Bool32 IsKindOf(ObjHeap heap, int32 object, int32 cls) { return ClassIsKindOf(OHBlockClass(heap, object), cls); }

MgErr SetDialogItems(ObjHeap heap, const int32* objects, int32 count) {
  const int32 root = Root(heap);
  if (!EnsureRootTables(heap, root)) return kMemFullErr;
  int32 list = int32(W(heap, root + kRootItemList));
  for (int32 i = 0; i < count; ++i) {
    if (MgErr err = OHListInsert(heap, &list, objects[i], kObjListAppend)) return err;
    SetW(heap, root + kRootItemList, uInt32(list));
  }
  return kNoErr;
}

MgErr SetKeyNavigation(ObjHeap heap, const int32* objects, int32 count) {
  const int32 root = Root(heap);
  if (count != kKeyNavSlots || !EnsureRootTables(heap, root)) return kArgErr;
  const int32 nav = int32(W(heap, root + kRootKeyNav));
  for (int32 i = 0; i < count; ++i) ObjListSet(heap, nav, i, objects[i]);
  return kNoErr;
}

void PanelBounds(ObjHeap heap, Rect* bounds) {
  Rect all{0, 0, 0, 0};
  bool any = false;
  const int32 root = Root(heap);
  const int32 list = root ? int32(W(heap, root + kRootObjectList)) : 0;
  const int32 n = list ? ObjListCount(heap, list) : 0;
  for (int32 i = 0; i < n; ++i) {
    const int32 o = ObjListGet(heap, list, i);
    if (!o || OHBlockSize(heap, o) < kObjBounds + 8) continue;
    const Rect r = BoundsOf(heap, o);
    if (!any) all = r, any = true;
    else DUnionRect(&r, &all);
  }
  const int32 ext = int32(W(heap, kOHExtension));
  if (ext > 0) std::memcpy(*heap + ext + kHeapExtPanelBounds, &all, sizeof all);
  if (bounds) *bounds = all;
}

}  // namespace

bool ClassIsKindOf(int32 cls, int32 base) {
  if (cls == base) return true;
  // An id without a class (the filler's count is 0) derives from nothing.
  for (int32 depth = 0; depth < kClassIdCount; ++depth) {
    const ObjClassRecord* r = ClassRecord(cls);
    if (r->methodCount == 0) return false;
    cls = r->superId;
    if (cls < 0) return false;
    if (cls == base) return true;
  }
  return false;
}

// By id: the class table asks while it is being built.  The cosmetics
// derive from class 9, the display objects from class 172.
ObjMethodAddr OInitMethodFor(int32 cls) {
  using Init = int32 (*)(ObjHeap, int32, Point, int32);
  Init m = nullptr;
  if (cls == kClsFrontPanel) m = &FrontPanelInit;
  else if ((cls >= 77 && cls <= 101) || cls == 105 || cls == 143 || cls == 148 || (cls >= 171 && cls <= 175))
    m = &DisplayInit;
  else if ((cls >= 9 && cls <= 14) || cls == 149) m = &CosmeticInit;
  return reinterpret_cast<ObjMethodAddr>(m);
}

void OSizeToParts(ObjHeap heap, int32 object) {
  if (!heap || !*heap || !object || OHBlockSize(heap, object) < kObjBounds + 8) return;
  Rect r = BoundsOf(heap, object);
  bool any = !DEmptyRect(&r);
  if (ClassIsKindOf(OHBlockClass(heap, object), kClsGrouperObject) && OHBlockSize(heap, object) >= kObjPartList + 4) {
    ForEachPart(heap, object, [&](int32 part) {
      if (OHBlockSize(heap, part) < kObjBounds + 8) return;
      const Rect p = BoundsOf(heap, part);
      if (DEmptyRect(&p)) return;
      if (!any) r = p, any = true;
      else DUnionRect(&p, &r);
    });
  }
  SetBounds(heap, object, r);
}

void PanelInstallDialogHooks() {
  DlgPanelHooks h{};
  h.newObject = &NewObjectByClassName;
  h.initObject = &InitForDialog;
  h.resizeObject = &OSizeToParts;
  h.addChild = &AddChild;
  h.isKindOf = &IsKindOf;
  h.setDialogItems = &SetDialogItems;
  h.setKeyNavigation = &SetKeyNavigation;
  h.panelBounds = &PanelBounds;
  SetDlgPanelHooks(&h);
}
