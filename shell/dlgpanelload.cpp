#include "shell/dlgpanelload.h"

#include <cstring>

#include "engine/dsalloc.h"
#include "engine/typemgr.h"
#include "engine/vi/dlgpanel.h"
#include "engine/vi/objload.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"

namespace {

constexpr int32 kDialogHeapSize = 2000;

void SetExt(ObjHeap heap, int32 at, uInt32 v) {
  const int32 ext = int32(OHWord(heap, kOHExtension));
  if (ext > 0) PutNative32(*heap + ext + at, v);
}

// A working copy of the block: the build converts it in place, and the
// file's copy stays as it was read.
UHandle CopyOfBlock(RsrcFileRef file, int32 id) {
  UHandle stored = nullptr;
  if (RGet(file, kDialogBlockType, id, &stored) != kNoErr || !stored) return nullptr;
  const int32 size = AZGetHandleSize(stored);
  UHandle copy = size > 0 ? AZNewHandle(size) : nullptr;
  if (copy) std::memcpy(*copy, *stored, size_t(size));
  RRelease(stored);
  return copy;
}

}  // namespace

bool LoadDialogPanel(RsrcFileRef file, int32 id, uInt32 kind, void* filter, DialogPanel* out) {
  if (!out) return false;
  *out = DialogPanel{nullptr, kWNoWindow};
  UHandle block = CopyOfBlock(file, id);
  if (!block) return false;
  ObjHeap heap = OHNewHeap(kDialogHeapSize, kPanelHeapKind, kHeapExtensionSize, kClsObjHeapHdrExtension);
  auto makeRoot = GetEnginePanelHooks()->newPanelRoot;
  const int32 root = heap && makeRoot ? makeRoot(heap) : 0;
  if (!root) {
    if (heap) OHDisposeHeap(heap);
    AZDisposeHandle(block);
    return false;
  }
  SetExt(heap, kHeapExtRoot, uInt32(root));
  SetExt(heap, kHeapExtDialogFilter, uInt32(uintptr_t(filter)));
  const int32 ext = int32(OHWord(heap, kOHExtension));
  PutNative16(*heap + ext + kHeapExtWindowOptions, kDialogWindowPart);
  PutNative16(*heap + ext + kHeapExtWindowStyle, uInt16(kind));
  const uChar none[1] = {0};
  const Rect empty{0, 0, 0, 0};
  const WindowRef window = WCreate(kind, none, nullptr, &empty, 0, 0, uInt32(uintptr_t(heap)));
  SetExt(heap, kHeapExtWindow, uInt32(window));
  const bool built = window && LoadDlgPanel(heap, block) == 0;
  AZDisposeHandle(block);
  if (!built) {
    DisposeDialogPanel(DialogPanel{heap, window});
    return false;
  }
  *out = DialogPanel{heap, window};
  return true;
}

void DisposeDialogPanel(const DialogPanel& dialog) {
  if (dialog.window) WDestroy(dialog.window);
  if (dialog.panel) {
    ODisposeHeapObjects(dialog.panel);  // the labels' text records, the cosmetics' images
    OHDisposeHeap(dialog.panel);
  }
}
