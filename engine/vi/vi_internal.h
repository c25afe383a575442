// Shared by the VI instance code: the words of a panel heap that it reads
// and writes, and small handle helpers.
#pragma once
#include "engine/dsalloc.h"
#include "engine/typemgr.h"
#include "engine/vi/viinst.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"

namespace viinst {

inline DataSpaceHeader* Hdr(DataSpace ds) { return *ds; }
inline UHandle AsHandle(DataSpace ds) { return reinterpret_cast<UHandle>(ds); }
inline DataSpace AsDS(UHandle h) { return reinterpret_cast<DataSpace>(h); }

// The address of a byte offset in the panel heap's extension; null for a
// heap without one.
inline uChar* ExtAt(ObjHeap panel, int32 at) {
  if (!panel || !*panel) return nullptr;
  const int32 ext = int32(OHWord(panel, kOHExtension));
  return ext > 0 ? *panel + ext + at : nullptr;
}
// Words and half-words of the extension; 0 for a heap without one.
inline uInt32 ExtWord(ObjHeap panel, int32 at) {
  uChar* p = ExtAt(panel, at);
  return p ? GetNative32(p) : 0;
}
inline void SetExtWord(ObjHeap panel, int32 at, uInt32 v) {
  if (uChar* p = ExtAt(panel, at)) PutNative32(p, v);
}
inline uInt16 ExtHalf(ObjHeap panel, int32 at) {
  uChar* p = ExtAt(panel, at);
  return p ? GetNative16(p) : 0;
}
inline void SetExtHalf(ObjHeap panel, int32 at, uInt16 v) {
  if (uChar* p = ExtAt(panel, at)) PutNative16(p, v);
}

inline WindowRef PanelWindow(ObjHeap panel) { return WindowRef(ExtWord(panel, kHeapExtWindow)); }
inline int32 PanelRoot(ObjHeap panel) { return int32(ExtWord(panel, kHeapExtRoot)); }

// The data space the panel is bound to (word 14 of its root object), or null.
inline DataSpace PanelDataSpace(ObjHeap panel) {
  const int32 root = PanelRoot(panel);
  if (!root) return nullptr;
  return reinterpret_cast<DataSpace>(uintptr_t(GetNative32(*panel + root + 4 * kPanelRootDataSpaceWord)));
}
inline void SetPanelDataSpace(ObjHeap panel, DataSpace ds) {
  const int32 root = PanelRoot(panel);
  if (root) PutNative32(*panel + root + 4 * kPanelRootDataSpaceWord, uInt32(uintptr_t(ds)));
}

// Frees a handle of either zone; null is ignored.
inline void FreeHandle(UHandle h) {
  if (!h) return;
  if (AZIsHandle(h)) AZDisposeHandle(h);
  else if (MemIsDSHandle(h)) DSDisposeHandle(h);
}

// The entries of a callers or subVIs list: a count, then VI handles.
inline int32 ListCount(UHandle list) {
  if (!list || !*list || AZGetHandleSize(list) < 4) return 0;
  const int32 n = int32(GetNative32(*list));
  const int32 room = (AZGetHandleSize(list) - 4) / 4;
  return n < 0 ? 0 : (n > room ? room : n);
}
inline UHandle ListAt(UHandle list, int32 i) {
  return reinterpret_cast<UHandle>(uintptr_t(GetNative32(*list + 4 + 4 * i)));
}
inline bool ListHas(UHandle list, UHandle vi) {
  for (int32 i = 0, n = ListCount(list); i < n; ++i)
    if (ListAt(list, i) == vi) return true;
  return false;
}

// Closes the panel's window, when it has one.
void ClosePanelWindow(UHandle vi);
// Disposes the VI's panel heap (its window first); with unlink its link
// entry goes too.
void DisposePanelHeap(UHandle vi, Bool32 unlink);
// Resets the window cascade (when the loaded-VI list becomes empty).
void ResetPanelCascade();

}  // namespace viinst
