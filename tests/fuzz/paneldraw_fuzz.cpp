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

namespace {

using Input = FuzzReader;

int32 gImage = 0;  // one image the cosmetics may name

int16 Small(Input& in) { return int16(int8(in.Byte())); }
Rect AnyRect(Input& in) { return Rect{Small(in), Small(in), int16(Small(in) + 48), int16(Small(in) + 48)}; }
void SetRect(ObjHeap heap, int32 o, const Rect& r) { std::memcpy(*heap + o + kObjBounds, &r, sizeof r); }
int32 NewObj(ObjHeap heap, int32 cls, int32 owner, int16 id = 0, int32 extra = 0) {
  return vib::NewObject(heap, cls, ClassRecord(cls)->instanceSize + extra, owner, id, 0);
}
// An image word: none, the test's image, or anything.
uInt32 AnyImage(Input& in) {
  const int32 pick = in.Byte() % 4;
  return pick == 0 ? 0 : pick == 1 ? uInt32(kObjImageHeld | gImage) : pick == 2 ? uInt32(gImage) : in.Word();
}
// A flag word with the bits the drawing reads.
uInt32 AnyFlags(Input& in) { return in.Word() & (0x1 | 0x2 | 0x8 | 0x40 | 0x80 | 0x10000 | 0x20000 | 0x40000 | 0x80000 | 0x1000000); }

struct Made {
  std::vector<int32> objects;  // every object made, for the hidden bits
  std::vector<int32> labels;   // every label-like object: its text record is disposed at the end
  std::vector<int32> lists;    // multi-labels: their string lists are disposed at the end
};

// A label of the class with a text record of the input's text.
int32 NewLabel(Input& in, ObjHeap heap, int32 cls, int32 owner, int16 id, Made* m) {
  const int32 l = NewObj(heap, cls, owner, id);
  if (!l) return 0;
  SetRect(heap, l, AnyRect(in));
  uChar text[16];
  const int32 n = in.Byte() % 16;
  in.Bytes(text, size_t(n));
  const Rect r = AnyRect(in);
  if (TRecord t = TNew(&r, 0, text, n, kAppFont, in.Word() & 0xFFFFFF, in.Byte() & 1 ? kTransparentColor : in.Word() & 0xFFFFFF))
    ObjSetWord(heap, l, kObjText / 4, int32(uintptr_t(t)));
  ObjSetWord(heap, l, kObjImage / 4, int32(AnyImage(in)));
  m->labels.push_back(l);
  if (cls == kClsMultiLabel || cls == kClsBigMultiLabel) {
    // A string list: a count, then Pascal strings; the count may pass them.
    const int32 size = 4 + in.Byte() % 24;
    if (UHandle list = AZNewHClr(size)) {
      for (int32 i = 0; i < size; ++i) (*list)[i] = in.Byte();
      PutNative32(*list, in.Byte() % 5);
      ObjSetWord(heap, l, kObjStringList / 4, int32(uintptr_t(list)));
      m->lists.push_back(l);
    }
    ObjSetWord(heap, l, 10, int32(Small(in)));
  }
  return l;
}

int32 NewCosmetic(Input& in, ObjHeap heap, int32 owner, int16 id, Made* m) {
  const int32 kind = in.Byte() % 3;
  const int32 cls = kind == 0 ? kClsCosmetic : kind == 1 ? kClsMultiCosmetic : kClsBigMultiCosmetic;
  const int32 entries = in.Byte() % 4, entry = kind == 2 ? kBigImageEntry : 4;
  const int32 c = NewObj(heap, cls, owner, id, kind ? entries * entry : 0);
  if (!c) return 0;
  SetRect(heap, c, AnyRect(in));
  ObjSetWord(heap, c, kObjImage / 4, int32(AnyImage(in)));
  ObjSetWord(heap, c, kObjCosmFore / 4, int32(in.Word()));
  ObjSetWord(heap, c, kObjCosmBack / 4, int32(in.Byte() & 1 ? kTransparentColor : in.Word() & 0xFFFFFF));
  if (kind) {
    PutNative16(*heap + c + kObjImageCount, uInt16(in.Byte() & 1 ? entries : Small(in)));
    PutNative16(*heap + c + kObjImageIndex, uInt16(Small(in)));
    for (int32 i = 0; i < entries; ++i) {
      if (kind == 2) {
        const Rect r = AnyRect(in);
        std::memcpy(*heap + c + kObjImageList + i * entry, &r, sizeof r);
      }
      ObjSetWord(heap, c, (kObjImageList + i * entry + (kind == 2 ? kBigImageRef : 0)) / 4, int32(AnyImage(in)));
    }
  }
  m->objects.push_back(c);
  return c;
}

// A display object of the class the input picks, with parts of its own.
int32 NewDisplay(Input& in, ObjHeap heap, int32 owner, const TypeID* types, Made* m, int32 depth);

void AddParts(Input& in, ObjHeap heap, int32 o, const TypeID* types, Made* m, int32 depth) {
  for (int32 k = in.Byte() % 4; k > 0; --k) {
    static const int16 kIds[] = {16, 20, 28, 8001, 8002, 8010, 10, 2, 8, 11, 12, 14, 15, 17,
                                 21, 22, 23, 31, 41, 43, 44, 79, 83};
    const int16 id = kIds[in.Byte() % 23];
    const int32 pick = in.Byte() % 3;
    if (pick == 0) NewCosmetic(in, heap, o, id, m);
    else if (pick == 1) NewLabel(in, heap, in.Byte() & 1 ? kClsLabel : kClsMultiLabel, o, id, m);
    else if (depth < 3) NewDisplay(in, heap, o, types, m, depth + 1);
  }
}

int32 NewDisplay(Input& in, ObjHeap heap, int32 owner, const TypeID* types, Made* m, int32 depth) {
  static const int32 kClasses[] = {kClsNumeric,  kClsCluster,  kClsArray,   kClsTypeDefinition, kClsGrouperObject,
                                   kClsDataDisplayObject, kClsString, kClsBoolean, kClsRing, kClsColorBox,
                                   kClsSlide,    kClsKnob,     kClsPath,    kClsPicture, kClsUserItem,
                                   kClsColorRamp, kClsTag,     kClsRefNum,  kClsOleVariant};
  const int32 cls = kClasses[in.Byte() % 19];
  const int32 o = NewObj(heap, cls, owner, int16(in.Byte() & 1 ? 0 : 8010));
  if (!o) return 0;
  SetRect(heap, o, AnyRect(in));
  if (cls != kClsGrouperObject) ObjSetWord(heap, o, kPWDDOTypeId, int32(types[in.Byte() % 3]));
  m->objects.push_back(o);
  AddParts(in, heap, o, types, m, depth);
  if (cls == kClsCluster) {
    std::vector<int32> elements;
    for (int32 k = in.Byte() % 3; k > 0; --k)
      if (const int32 e = depth < 3 ? NewDisplay(in, heap, o, types, m, depth + 1) : 0) elements.push_back(e);
    if (in.Byte() & 1) elements.push_back(int32(in.Word()));
    ObjSetWord(heap, o, kPWClusterElements, vib::NewList(heap, elements));
  } else if (cls == kClsArray) {
    const int32 element = NewObj(heap, kClsNumeric, o, 8001);
    if (element) {
      SetRect(heap, element, AnyRect(in));
      ObjSetWord(heap, element, kPWDDOTypeId, int32(types[0]));
      m->objects.push_back(element);
      AddParts(in, heap, element, types, m, depth + 1);
    }
    ObjSetWord(heap, o, kPWArrayElement, in.Byte() < 230 ? element : int32(in.Word()));
    ObjSetWord(heap, o, kPWArrayGrid, int32(uInt32(uInt16(Small(in) % 6)) << 16 | uInt16(Small(in) % 6)));
    ObjSetWord(heap, o, kPWArrayShown, int32(uInt32(uInt16(Small(in) % 4)) << 16 | uInt16(Small(in) % 4)));
  }
  return o;
}

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
  for (int32 l : made.labels) {
    if (TRecord t = TCheckedRecord(OHWord(heap, uInt32(l + kObjText)))) TDispose(t);
  }
  for (int32 l : made.lists) {
    UHandle list = reinterpret_cast<UHandle>(uintptr_t(OHWord(heap, uInt32(l + kObjStringList))));
    if (list && AZCheckHandle(list) == kNoErr) AZDisposeHandle(list);
  }
  // A slide's housing image (word 13) and a picture's copy (word 10).
  for (int32 o : made.objects) {
    const int32 cls = ObjClass(heap, o);
    const int32 word = cls == kClsPicture ? 10 : cls == kClsSlide || cls == kClsKnob ? 13 : 0;
    if (!word || OHBlockSize(heap, o) < 4 * (word + 1)) continue;
    const int32 image = int32(OHWord(heap, uInt32(o + 4 * word)));
    if (image && IKindOf(image) == kImagePixmap) IRelease(image);
  }
  PutNative32(*heap + int32(OHWord(heap, kOHExtension)) + kHeapExtWindow, 0);
  UnregisterVI(vi);
  FuzzDisposePanel(heap, vi);
  FUZZ_CHECK(FuzzLiveHandles() == live);
  return 0;
}
