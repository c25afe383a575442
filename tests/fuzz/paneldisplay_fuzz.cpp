// Panels whose stored words are whatever a file held, shown value by
// value: data controllers of numerics, clusters and arrays with any flags,
// range words and range-check numbers, element lists naming anything, grids
// and shown cells of any size and elements at any place, over data whose
// values, array sizes and selection indexes are arbitrary, beside strings,
// paths, tags, user items, type definitions and refnums with parts of any
// class, labels and multi-images; the heap passes
// the load check first.  PanelDisplayValues of the panel and of each
// controller, with no old value or an arbitrary one: nothing is read
// outside a block or handle (the sanitizers), the display switches are back
// at their defaults after every display, an array whose cells all fit ends
// with its element on the cell it started on, and no handle is left behind.
// Then the range states over the same words: the set-up of a state change,
// the panel's summary (its answer agrees with the flags it leaves), the
// re-check through arrays and the reply filters (each answers the reply,
// the panel's adding at most the out-of-range flag).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/datasupp.h"
#include "engine/exec/dsprocs.h"
#include "engine/exec/panelplace.h"
#include "fuzz_support.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/image.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/wport.h"
#include "panel/datamsg.h"
#include "panel/objload.h"
#include "panel/paneldisplay.h"
#include "panel/rangecheck.h"
#include "panel/replyfilters.h"
#include "panel_fuzz_support.h"
#include "panel_objects_fuzz.h"

namespace {

using Input = FuzzReader;

int32 gRangeAnswer = 0;
int32 AnyRange(DataSpace, int32 number, int32, int32) { return gRangeAnswer ^ number; }

int32 NewObj(ObjHeap heap, int32 cls, int32 owner, int16 id = 0) {
  return vib::NewObject(heap, cls, ClassRecord(cls)->instanceSize, owner, id, 0);
}
Rect RectOf(ObjHeap heap, int32 o) {
  Rect r;
  std::memcpy(&r, *heap + o + kObjBounds, sizeof r);
  return r;
}
void SetRect(ObjHeap heap, int32 o, const Rect& r) { std::memcpy(*heap + o + kObjBounds, &r, sizeof r); }
int16 Small(Input& in) { return int16(int8(in.Byte())); }
Rect AnyRect(Input& in) { return Rect{Small(in), Small(in), int16(Small(in) + 64), int16(Small(in) + 64)}; }

struct ArrayAt {
  int32 array, element, content;
};

// The text parts and controls made by a run: their text records and the
// off-screen images a display makes are let go at its end.
std::vector<int32> gTextParts, gControls;
// The objects made by the shared makers: strings, paths, tags, user items,
// type definitions, refnums, labels and multi-images, with their parts.
fuzzobj::Made gMade;
constexpr int32 kOtherClasses[] = {kClsString,  kClsPath,   kClsTag,   kClsUserItem,
                                   kClsTypeDefinition, kClsRefNum};

// A data controller around a display object of the kind the input picks.
int32 NewControl(Input& in, ObjHeap heap, const TypeID* types, std::vector<ArrayAt>* arrays) {
  const int32 kind = in.Byte() % 4;
  if (kind == 3) {
    // Data without handles, so that any bytes are a value of it.
    const TypeID plain[3] = {types[0], types[1], types[3]};
    const int32 dco = NewObj(heap, kClsFPDataController, 0);
    const int32 shown = dco ? fuzzobj::NewDisplay(in, heap, 0, plain, &gMade, 0, kOtherClasses) : 0;
    if (!shown) return 0;
    OHSetWord(heap, uInt32(shown + 4 * kPWOwner), uInt32(dco));
    OHSetWord(heap, uInt32(dco + 4 * kPWDCODisplay), uInt32(shown));
    OHSetWord(heap, uInt32(dco + 4 * kPWDCOTypeId), uInt32(ObjWord(heap, shown, kPWDDOTypeId)));
    return dco;
  }
  // The controls of one number, each with parts of the ids they show values in.
  static const int32 kNumberClasses[] = {kClsNumeric, kClsRing,      kClsColorBox, kClsSlide,
                                         kClsKnob,    kClsColorRamp, kClsBoolean};
  const int32 cls = kind == 0 ? kNumberClasses[in.Byte() % 7] : kind == 1 ? kClsCluster : kClsArray;
  // A controller's word 6 is its record, not a part list: the display is
  // owned without being listed.
  const int32 dco = NewObj(heap, kClsFPDataController, 0), shown = dco ? NewObj(heap, cls, 0) : 0;
  if (!shown) return 0;
  OHSetWord(heap, uInt32(shown + 4 * kPWOwner), uInt32(dco));
  OHSetWord(heap, uInt32(dco + 4 * kPWDCOTypeId), types[kind]);
  OHSetWord(heap, uInt32(dco + 4 * kPWDCODisplay), uInt32(shown));
  OHSetWord(heap, uInt32(shown + 4 * kPWDDOTypeId), types[kind]);
  SetRect(heap, shown, AnyRect(in));
  gControls.push_back(shown);
  if (kind == 0) {
    static const int16 kIds[] = {2, 8, 10, 12, 14, 17, 20, 21, 22, 23, 28, 31, 41, 8001};
    for (int32 k = in.Byte() % 5; k > 0; --k) {
      const int16 id = kIds[in.Byte() % 14];
      const bool label = id == 10 || id == 12 || id == 22;
      const int32 part = NewObj(heap, label ? kClsLabel : kClsCosmetic, shown, id);
      if (!part) return 0;
      SetRect(heap, part, AnyRect(in));
      OHSetWord(heap, uInt32(part), in.Word() & (0x2 | 0x4 | 0x80 | 0x20000 | 0x80000));
      if (label) {
        const Rect r = RectOf(heap, part);
        TRecord t = TNew(&r, 0, reinterpret_cast<const uChar*>("0"), 1, 0, 0, kTransparentColor);
        OHSetWord(heap, uInt32(part + kObjText), uInt32(uintptr_t(t)));
        gTextParts.push_back(part);
      }
    }
    return dco;
  }
  const int32 content = NewObj(heap, kClsCosmetic, shown, 28);
  if (!content) return 0;
  SetRect(heap, content, AnyRect(in));
  OHSetWord(heap, uInt32(content + 32), in.Byte() & 1 ? kTransparentColor : in.Word() & 0xFFFFFF);
  if (kind == 1) {
    const int32 a = NewObj(heap, kClsNumeric, shown), b = a ? NewObj(heap, kClsNumeric, shown) : 0;
    if (!b) return 0;
    OHSetWord(heap, uInt32(a + 4 * kPWDDOTypeId), types[3]);
    OHSetWord(heap, uInt32(b + 4 * kPWDDOTypeId), types[4]);
    const int32 list = vib::NewList(heap, {a, in.Byte() & 1 ? b : int32(in.Word())});
    OHSetWord(heap, uInt32(shown + 40), in.Byte() < 220 ? uInt32(list) : in.Word());
    return dco;
  }
  const int32 element = NewObj(heap, kClsNumeric, shown, kPartDigital);
  if (!element) return 0;
  SetRect(heap, element, AnyRect(in));
  OHSetWord(heap, uInt32(element + 4 * kPWDDOTypeId), types[0]);
  OHSetWord(heap, uInt32(shown + 4 * kPWArrayElement), in.Byte() < 230 ? uInt32(element) : in.Word());
  OHSetWord(heap, uInt32(shown + 4 * kPWArrayGrid), uInt32(uInt16(Small(in) % 6)) << 16 | uInt16(Small(in) % 6));
  OHSetWord(heap, uInt32(shown + 4 * kPWArrayShown), uInt32(uInt16(Small(in) % 4)) << 16 | uInt16(Small(in) % 4));
  arrays->push_back({shown, element, content});
  return dco;
}

// A 2-D array of i32 of the sizes the input gives, its dimension words
// sometimes overwritten with anything.
UHandle AnyArray(Input& in) {
  int32 sizes[2] = {in.Byte() % 4, in.Byte() % 4};
  int32* sz = sizes;
  UHandle h = nullptr;
  if (ArrayResize(StdTDTable[kTDI32], 2, &h, &sz) != kNoErr || !h) return h;
  if (in.Byte() > 200) PutNative32(*h + 4 * (in.Byte() & 1), in.Word());
  return h;
}

// The arbitrary part of the data: values, array sizes, selection indexes and
// the range state of each record's head.
void ScrambleData(Input& in, ObjHeap heap, const std::vector<int32>& controls, std::vector<UHandle>* made) {
  UHandle ds = VIRec(PanelHeapOwner(heap))->dataSpace;
  for (int32 dco : controls) {
    const int32 record = ObjWord(heap, dco, kPWDCORecord);
    if (record > 0 && int64(record) + 12 <= DSGetHandleSize(ds)) PutNative32(*ds + record + 8, in.Word());
    const int32 shown = ObjWord(heap, dco, kPWDCODisplay);
    UPtr at = reinterpret_cast<UPtr>(uintptr_t(uInt32(OGetDataPtr(heap, dco, 0, kDataPtrOperate, nullptr))));
    if (!at) continue;
    if (ObjClass(heap, shown) != kClsArray) {
      const TypeDescriptor* td = TypeIDToTD(heap, DCOTypeID(heap, dco));
      in.Bytes(at, size_t(td ? DataSize(td) : 0));
      continue;
    }
    UHandle old = *reinterpret_cast<UHandle*>(at);
    if (old) made->push_back(old);
    *reinterpret_cast<UHandle*>(at) = AnyArray(in);
    const int32 priv = ObjWord(heap, shown, kPWArrayPrivate);
    for (int32 k = 0; k < 3 && priv > 0 && int64(priv) + 12 <= DSGetHandleSize(ds); ++k) {
      UHandle indexes = *reinterpret_cast<UHandle*>(*ds + priv + 4 * k);
      if (indexes && DSGetHandleSize(indexes) >= 12) PutNative32(*indexes + 4 + 4 * (in.Byte() & 1), Small(in));
    }
  }
}

// Places the element on its shown cell when the input asks; true when every
// cell of its grid lies inside 16-bit coordinates, so that it must end there.
bool PlaceElement(Input& in, ObjHeap heap, const ArrayAt& a) {
  if (ObjWord(heap, a.array, kPWArrayElement) != a.element) return false;
  const Rect area = RectOf(heap, a.content), e = RectOf(heap, a.element);
  const int32 h = e.bottom - e.top, w = e.right - e.left;
  const int32 cols = std::clamp(ObjInt16(heap, a.array, 4 * kPWArrayGrid) + 1, 1, 16000);
  const int32 rows = std::clamp(ObjInt16(heap, a.array, 4 * kPWArrayGrid + 2) + 1, 1, 16000);
  const int32 col = std::clamp(int32(ObjInt16(heap, a.array, 4 * kPWArrayShown)), 0, cols - 1);
  const int32 row = std::clamp(int32(ObjInt16(heap, a.array, 4 * kPWArrayShown + 2)), 0, rows - 1);
  if (in.Byte() & 1) {
    const Rect on{int16(area.top + row * h), int16(area.left + col * w), int16(area.top + row * h + h),
                  int16(area.left + col * w + w)};
    SetRect(heap, a.element, on);
  }
  const Rect now = RectOf(heap, a.element);
  const bool onCell = now.top == area.top + row * h && now.left == area.left + col * w;
  const int64 far = std::max<int64>(std::abs(area.top) + int64(rows + 1) * std::abs(h),
                                    std::abs(area.left) + int64(cols + 1) * std::abs(w));
  return onCell && far < 16000 && !(OHWord(heap, uInt32(a.array)) & kArrayWideCells);
}

void Run(Input& in, ObjHeap heap, int32 root, WindowRef window) {
  TypeID types[5];
  const tdb::TD tds[5] = {tdb::I32(), tdb::Cluster({tdb::I16(), tdb::DBL()}),
                          tdb::Array(tdb::I32(), {kTDVariable, kTDVariable}), tdb::I16(), tdb::DBL()};
  for (int32 i = 0; i < 5; ++i)
    if (!(types[i] = NewTypeIDForTD(heap, tdb::AsTD(tds[i].Bytes())))) return;
  std::vector<int32> controls;
  std::vector<ArrayAt> arrays;
  for (int32 k = 1 + in.Byte() % 4; k > 0; --k)
    if (const int32 dco = NewControl(in, heap, types, &arrays)) controls.push_back(dco);
  int32 list = vib::NewList(heap, {});
  for (int32 dco : controls) OHListInsert(heap, &list, dco, kObjListAppend);
  OHSetWord(heap, uInt32(root + 40), uInt32(list));
  // Labels, multi-labels and multi-images beside them.
  for (int32 k = in.Byte() % 3; k > 0; --k) {
    static const int32 kLabels[] = {kClsLabel, kClsMultiLabel, kClsBigMultiLabel};
    if (in.Byte() & 1) fuzzobj::NewCosmetic(in, heap, root, 0, &gMade);
    else fuzzobj::NewLabel(in, heap, kLabels[in.Byte() % 3], root, 0, &gMade);
  }
  for (int32 dco : controls)
    if (AllocObjDataSpace(heap, dco) != kNoErr) return;
  for (const auto* objects : {&gMade.objects, &gMade.labels})
    for (int32 o : *objects)
      if (OHBlockSize(heap, o) >= 4) OHSetWord(heap, uInt32(o), fuzzobj::AnyFlags(in));
  // The stored words a display reads.
  for (int32 dco : controls) {
    const int32 shown = ObjWord(heap, dco, kPWDCODisplay);
    PutNative16(*heap + dco + kRangeWordByte, uInt16(in.Word()));
    const bool array = ObjClass(heap, shown) == kClsArray;
    for (int32 o : {shown, array ? ObjWord(heap, shown, kPWArrayElement) : 0}) {
      if (!o || !OHIsUsedBlock(heap, o) || OHBlockSize(heap, o) < 36) continue;
      OHSetWord(heap, uInt32(o), in.Word() & (0x10000 | 0x60000 | 0x8D));
      PutNative16(*heap + o + kRangeWordByte, uInt16(in.Word()));
      PutNative16(*heap + o + kRangeNumberByte, uInt16(in.Byte() % 4));
    }
  }
  std::vector<UHandle> made;
  ScrambleData(in, heap, controls, &made);
  if (CheckStoredPanelObjects(heap) != kNoErr) {
    for (UHandle h : made) DSDisposeHandle(h);
    return;
  }
  const int32 ext = int32(OHWord(heap, kOHExtension));
  PutNative32(*heap + ext + kHeapExtWindow, in.Byte() & 7 ? uInt32(window) : 0);
  OHSetWord(heap, kOHFlags, OHWord(heap, kOHFlags) | (in.Word() & (kPanelHeapTracking | 0x1000000)));
  gRangeAnswer = int32(in.Byte());
  const int32 value = 0;
  PanelDisplayValues(heap, root, nullptr, &value);
  FUZZ_CHECK(gForceDisplay == 0 && gDeferDrawing == 0 && gDDODrawEnabled == 1);
  for (int32 dco : controls) {
    const void* now = reinterpret_cast<const void*>(uintptr_t(uInt32(OGetDataPtr(heap, dco, 0, kDataPtrOperate, nullptr))));
    if (!now) continue;
    std::vector<bool> mustReturn;
    std::vector<Rect> before;
    for (const ArrayAt& a : arrays) mustReturn.push_back(PlaceElement(in, heap, a)), before.push_back(RectOf(heap, a.element));
    uChar bytes[16];
    in.Bytes(bytes, sizeof bytes);
    UHandle oldArray = ObjClass(heap, ObjWord(heap, dco, kPWDCODisplay)) == kClsArray ? AnyArray(in) : nullptr;
    if (oldArray) made.push_back(oldArray);
    const void* old = in.Byte() & 1 ? nullptr : oldArray ? static_cast<const void*>(&oldArray) : bytes;
    PanelDisplayValues(heap, dco, old, now);
    FUZZ_CHECK(gForceDisplay == 0 && gDeferDrawing == 0 && gDDODrawEnabled == 1);
    for (size_t i = 0; i < arrays.size(); ++i)
      if (mustReturn[i]) FUZZ_CHECK(std::memcmp(&before[i], *heap + arrays[i].element + kObjBounds, sizeof(Rect)) == 0);
  }
  // The range states over the same words: the set-up of a state change, the
  // panel's summary, the re-check through arrays and the filters.
  InitPanelRangeFlags(heap);
  const int32 out = ClusterRangeFlags(heap, root, in.Byte() & 1);
  FUZZ_CHECK(out == ((OHWord(heap, uInt32(root)) & (kRangeOutControl | kRangeOutIndicator)) != 0));
  for (const ArrayAt& a : arrays) FUZZ_CHECK(RecheckArrayEltRange(heap, a.element) <= 1);
  for (int32 dco : controls) {
    const int32 reply = int32(in.Word());
    FUZZ_CHECK((DDOCheckReplyData(heap, root, dco, reply) & ~kReplyOutOfRange) == (reply & ~kReplyOutOfRange));
    FUZZ_CHECK(DDOCheckReplyRange(heap, dco, nullptr, reply) == reply);
    const int32 shown = ObjWord(heap, dco, kPWDCODisplay);
    const void* now = reinterpret_cast<const void*>(uintptr_t(uInt32(OGetDataPtr(heap, dco, 0, kDataPtrOperate, nullptr))));
    int32 answer = 0;
    if (now) DDODisplayPrologue(heap, shown, in.Byte() & 1 ? now : nullptr, now, &answer);
    FUZZ_CHECK(gDeferDrawing == 0);
  }
  for (UHandle h : made) DSDisposeHandle(h);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static WindowRef window = 0;
  static bool init = [] {
    if (!FuzzStartPanelManagers() || WInitScreenImage() != kNoErr) return false;
    DInitDraw();
    const Rect place{0, 0, 300, 400};
    window = WCreate(0x3C, nullptr, nullptr, &place, 0, 1, 0);
    if (window == kWNoWindow) return false;
    // What the first text drawn keeps for the whole run (the fonts' cached
    // names) is made before any run is counted.
    const Rect r{0, 0, 8, 8};
    if (ICreatePixmap(-1, &r, 0, &fuzzobj::gImage) != kNoErr) return false;
    TRecord text = TNew(&r, 0, reinterpret_cast<const uChar*>("0"), 1, kAppFont, 0, kTransparentColor);
    WPortState port;
    WSetup(window, &port);
    TDraw(reinterpret_cast<UHandle>(text));
    WRestore(&port);
    TDispose(text);
    return true;
  }();
  if (!init || size > 4096) return 0;
  Input in{data, size};
  const int32 live = FuzzLiveHandles();
  UHandle vi = nullptr;
  ObjHeap heap = FuzzNewRegisteredPanel(&vi);
  if (!heap) return 0;
  DSProc(DSHdr(VIRec(vi)->dataSpace), kDSProcChkRange) = reinterpret_cast<void*>(&AnyRange);
  const int32 root = int32(GetNative32(*heap + int32(OHWord(heap, kOHExtension)) + kHeapExtRoot));
  gTextParts.clear(), gControls.clear(), gMade = {};
  Run(in, heap, root, window);
  fuzzobj::DisposeMade(heap, gMade);
  for (int32 t : gTextParts)
    if (TRecord r = TCheckedRecord(OHWord(heap, uInt32(t + kObjText)))) TDispose(r);
  // A slide's housing image (word 13) and a picture's copy (word 10).
  for (int32 c : gControls) {
    const int32 word = ObjClass(heap, c) == kClsPicture ? 10 : 13;
    if (OHBlockSize(heap, c) < 4 * (word + 1)) continue;
    const int32 image = int32(OHWord(heap, uInt32(c + 4 * word)));
    if (image && IKindOf(image) == kImagePixmap) IRelease(image);
  }
  PutNative32(*heap + int32(OHWord(heap, kOHExtension)) + kHeapExtWindow, 0);
  DSProc(DSHdr(VIRec(vi)->dataSpace), kDSProcChkRange) = nullptr;
  UnregisterVI(vi);
  FuzzDisposePanel(heap, vi);
  FUZZ_CHECK(FuzzLiveHandles() == live);
  return 0;
}
