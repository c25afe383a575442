// Panels whose stored words are whatever a file held, drawn as window
// updates draw them: cosmetics and multi-images whose counts, indexes and
// entries pass their blocks, labels and multi-labels whose string lists
// pass their handles, clusters, arrays of any grid, type definitions,
// groupers and plain display objects, with any flags and part lists naming
// anything; the heap passes the load check first.  Each top-level object
// is drawn in modes 1, 2, 4 and 8 and the panel in each imaging mode, with
// and without the show-all state and with a focus text set aside and given
// back as the window's update does.  Then SetPartText with random texts,
// lengths and keys on part texts of any flags.  Invariants: nothing read
// outside a block or handle (the sanitizers), every hidden bit as it was,
// the display switches at their defaults, replies of SetPartText among 0,
// 0x10 and 0x80, and no text record or handle left behind or freed twice.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "engine/datasupp.h"
#include "engine/exec/panelplace.h"
#include "fuzz_support.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/image.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/wport.h"
#include "panel/datamsg.h"
#include "panel/objdraw.h"
#include "panel/objimage.h"
#include "panel/objload.h"
#include "panel/oinit.h"
#include "panel/osupport.h"
#include "panel/paneldisplay.h"
#include "panel/textparts.h"
#include "panel/transact.h"
#include "panel_fuzz_support.h"
#include "panel_objects_fuzz.h"

namespace {

using Input = FuzzReader;
using namespace fuzzobj;

// The objects' hidden bits.
std::vector<bool> HiddenBits(ObjHeap heap, const Made& m) {
  std::vector<bool> bits;
  for (int32 o : m.objects) bits.push_back(OHWord(heap, uInt32(o)) & kObjFlagHidden);
  for (int32 o : m.labels) bits.push_back(OHWord(heap, uInt32(o)) & kObjFlagHidden);
  return bits;
}

void Run(Input& in, ObjHeap heap, int32 root, WindowRef window, Made* m) {
  TypeID types[3];
  const tdb::TD tds[3] = {tdb::I32(), tdb::Cluster({tdb::I16(), tdb::DBL()}),
                          tdb::Array(tdb::I32(), {kTDVariable, kTDVariable})};
  for (int32 i = 0; i < 3; ++i)
    if (!(types[i] = NewTypeIDForTD(heap, tdb::AsTD(tds[i].Bytes())))) return;
  // Top-level objects: display objects behind controllers, cosmetics and labels.
  std::vector<int32> controllers;
  for (int32 k = 1 + in.Byte() % 5; k > 0; --k) {
    const int32 pick = in.Byte() % 3;
    if (pick == 0) {
      const int32 dco = NewObj(heap, kClsFPDataController, root);
      const int32 shown = dco ? NewDisplay(in, heap, dco, types, m, 0) : 0;
      if (!shown) continue;
      ObjSetWord(heap, dco, kPWDCODisplay, shown);
      ObjSetWord(heap, dco, kPWDCOTypeId, ObjWord(heap, shown, kPWDDOTypeId));
      controllers.push_back(dco);
    } else if (pick == 1) {
      NewCosmetic(in, heap, root, 0, m);
    } else {
      NewLabel(in, heap, in.Byte() & 1 ? kClsLabel : kClsBigMultiLabel, root, 0, m);
    }
  }
  OHSetWord(heap, uInt32(root + 40), uInt32(vib::NewList(heap, controllers)));
  for (int32 dco : controllers)
    if (AllocObjDataSpace(heap, dco) != kNoErr) return;
  for (const auto* objects : {&m->objects, &m->labels})
    for (int32 o : *objects)
      if (OHBlockSize(heap, o) >= 4) OHSetWord(heap, uInt32(o), AnyFlags(in) | (in.Byte() & 0x20 ? 0x20000000 : 0));
  if (CheckStoredPanelObjects(heap) != kNoErr) return;

  const int32 ext = int32(OHWord(heap, kOHExtension));
  PutNative32(*heap + ext + kHeapExtWindow, uInt32(window));
  PutNative32(*heap + ext + kHeapExtContentRect, 0);
  PutNative32(*heap + ext + kHeapExtContentRect + 4, (200u << 16) | 150u);
  const int32 list = int32(OHWord(heap, uInt32(root + 4 * kRootObjectListWord)));
  const int32 count = ObjListCount(heap, list);
  // A free label as the key focus, reachable down its saved path (a hidden
  // label cannot hold the key focus).
  UHandle frames = nullptr;
  int32 focus = 0;
  for (int32 i = 0; i < count && !focus; ++i) {
    const int32 o = ObjListGet(heap, list, i);
    if (ObjClass(heap, o) == kClsLabel && !(OHWord(heap, uInt32(o)) & kObjFlagHidden) && (in.Byte() & 1) &&
        (frames = AZNewHClr(3 * 16))) {
      const TransactionFrame path[] = {{root, kCatFPSC, 2, i}, {o, kCatCOSM, 2, 0}, {}};
      std::memcpy(*frames, path, sizeof path);
      PutNative32(*heap + ext + kHeapExtSavedFrames, uInt32(uintptr_t(frames)));
      PutNative32(*heap + ext + kHeapExtKeyFocus, uInt32(o));
      PutNative32(*heap + ext + kHeapExtFocusText, OHWord(heap, uInt32(o + kObjText)));
      focus = o;
    }
  }
  const std::vector<bool> hidden = HiddenBits(heap, *m);
  const UHandle vi = PanelHeapOwner(heap);
  WPortState port;
  WSetup(window, &port);
  for (bool all : {false, true}) {
    VIRec(vi)->flags2 = all ? 0x400000 : 0;
    PutNative32(*heap + ext + kHeapExtConfirm, count ? uInt32(ObjListGet(heap, list, in.Byte() % count)) : 0);
    for (int32 mode : {1, 2, 4, 8}) {
      for (int32 i = count - 1; i >= 0; --i)
        if (i < ObjListCount(heap, list)) ODrawObj(heap, ObjListGet(heap, list, i), 0, 0, mode);
      if (focus) HeapStashText(heap, focus);
    }
    for (int32 imaging : {0, 1, 2}) {
      const int32 saved = PanelSetImagingMode(imaging);
      ODrawPanel(heap);
      PanelSetImagingMode(saved);
      if (focus) HeapStashText(heap, focus);
    }
    FUZZ_CHECK(HiddenBits(heap, *m) == hidden);
    FUZZ_CHECK(gForceDisplay == 0 && gDeferDrawing == 0 && gDDODrawEnabled == 1);
    FUZZ_CHECK(GetNative32(*heap + ext + kHeapExtStashedText) == 0);
  }
  VIRec(vi)->flags2 = 0;
  // New texts and keys for the part texts.
  for (int32 l : m->labels) {
    if (!OHIsUsedBlock(heap, l) || in.Byte() & 1) continue;
    OHSetWord(heap, uInt32(l), in.Word() & (0x8 | 0x20000 | 0x40000 | 0x1000000));
    uChar text[24];
    const int32 n = in.Byte() % 24;
    in.Bytes(text, size_t(n));
    const int32 length = in.Byte() & 1 ? -1 : n;
    const int32 reply = SetPartText(heap, l, text, length, in.Byte() % 40, int32(in.Byte()));
    FUZZ_CHECK(reply == 0 || reply == 0x10 || reply == 0x80);
    FUZZ_CHECK(!OHWord(heap, uInt32(l + kObjText)) || TCheckedRecord(OHWord(heap, uInt32(l + kObjText))));
  }
  WRestore(&port);
  PutNative32(*heap + ext + kHeapExtKeyFocus, 0);
  PutNative32(*heap + ext + kHeapExtFocusText, 0);
  PutNative32(*heap + ext + kHeapExtSavedFrames, 0);
  if (frames) AZDisposeHandle(frames);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static WindowRef window = 0;
  static bool init = [] {
    if (!FuzzStartPanelManagers() || WInitScreenImage() != kNoErr) return false;
    DInitDraw();
    const Rect place{0, 0, 150, 200};
    window = WCreate(0x3C, nullptr, nullptr, &place, 0, 1, 0);
    const Rect r{0, 0, 8, 8};
    if (window == kWNoWindow || ICreatePixmap(-1, &r, 0, &gImage) != kNoErr) return false;
    // What the first drawing keeps for the whole run (the window's idle
    // region, the fonts' cached names) is made before any run is counted.
    UHandle vi = nullptr;
    ObjHeap heap = FuzzNewRegisteredPanel(&vi);
    if (!heap) return false;
    const int32 root = int32(GetNative32(*heap + int32(OHWord(heap, kOHExtension)) + kHeapExtRoot));
    const int32 label = NewObj(heap, kClsLabel, root);
    TRecord text = TNew(&r, 0, reinterpret_cast<const uChar*>("x"), 1, kAppFont, 0, kTransparentColor);
    ObjSetWord(heap, label, kObjText / 4, int32(uintptr_t(text)));
    PutNative32(*heap + int32(OHWord(heap, kOHExtension)) + kHeapExtWindow, uInt32(window));
    WPortState port;
    WSetup(window, &port);
    ODrawPanel(heap);
    WRestore(&port);
    TDispose(text);
    PutNative32(*heap + int32(OHWord(heap, kOHExtension)) + kHeapExtWindow, 0);
    UnregisterVI(vi);
    FuzzDisposePanel(heap, vi);
    return true;
  }();
  if (!init || size > 4096) return 0;
  Input in{data, size};
  const int32 live = FuzzLiveHandles();
  UHandle vi = nullptr;
  ObjHeap heap = FuzzNewRegisteredPanel(&vi);
  if (!heap) return 0;
  const int32 root = int32(GetNative32(*heap + int32(OHWord(heap, kOHExtension)) + kHeapExtRoot));
  Made made;
  Run(in, heap, root, window, &made);
  DisposeMade(heap, made);
  PutNative32(*heap + int32(OHWord(heap, kOHExtension)) + kHeapExtWindow, 0);
  UnregisterVI(vi);
  FuzzDisposePanel(heap, vi);
  FUZZ_CHECK(FuzzLiveHandles() == live);
  return 0;
}
