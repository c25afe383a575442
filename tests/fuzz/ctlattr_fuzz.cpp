// Property calls on the control classes (numerics, colour boxes, Booleans,
// strings, paths, rings, slides, knobs, ramps, arrays and pictures) whose
// parts, part flags, string lists and state counts are the input's, with
// selectors, value descriptors and values the input gives: nothing is
// written outside the value, array values stay well formed, the transaction
// stack's top comes back, no handle is left behind and nothing is asserted.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "controls/cursorlegend.h"
#include "engine/dsalloc.h"
#include "engine/typemgr.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "panel/attrcall.h"
#include "panel/objload.h"
#include "panel/osupport.h"
#include "panel/transact.h"
#include "panel_fuzz_support.h"

namespace {

using Input = FuzzReader;

// The hidden window the panels are shown in: their drawing goes somewhere.
WindowRef gWindow = 0;

constexpr int32 kClasses[] = {kClsNumeric, kClsColorBox, kClsBoolean, kClsString, kClsPath, kClsTag, kClsRing,
                              kClsSlide,   kClsKnob,     kClsColorRamp, kClsArray, kClsPicture};
constexpr int16 kPartIds[] = {0, 8, 9, 10, 11, 12, 15, 17, 21, 22, 23, 28, 30, 31, 41, 68, 69, 8002, 8012, 8013};

// The value types: those of the tables' rows, and raw bytes now and then.
enum Shape { kPlain, kStrings, kPairs, kWords };
std::vector<uChar> AnyType(Input& in, Shape* shape) {
  *shape = kPlain;
  switch (in.Byte() % 12) {
    case 0: return tdb::U32().Bytes();
    case 1: return tdb::I32().Bytes();
    case 2: return tdb::U8().Bytes();
    case 3: return tdb::Boolean().Bytes();
    case 4: return tdb::Cluster({tdb::U32(), tdb::U32()}).Bytes();
    case 5: return tdb::Cluster({tdb::U8(), tdb::DBL()}).Bytes();
    case 6: *shape = kStrings; return tdb::Array(tdb::String(-1), {-1}).Bytes();
    case 7: *shape = kPairs; return tdb::Array(tdb::Cluster({tdb::U32(), tdb::U32()}), {-1}).Bytes();
    case 8: *shape = kWords; return tdb::Array(tdb::I32(), {-1}).Bytes();
    case 9:
      return tdb::Cluster({tdb::Cluster({tdb::I32(), tdb::I32()}),
                           tdb::Cluster({tdb::Boolean(), tdb::Boolean(), tdb::Boolean(), tdb::Boolean()})})
          .Bytes();
    case 10: return tdb::DBL().Bytes();
    default: {
      std::vector<uChar> raw(4 + in.Byte() % 28);
      in.Bytes(raw.data(), raw.size());
      return raw;
    }
  }
}

// An array value of the shape with the input's count and contents.
UHandle ArrayValue(Input& in, Shape shape) {
  const int32 n = in.Byte() % 6;
  const int32 size = shape == kPairs ? 8 : 4;
  UHandle a = DSNewHClr(4 + size * n);
  if (!a) return nullptr;
  PutNative32(*a, uInt32(n));
  for (int32 i = 0; i < n; ++i) {
    if (shape == kStrings) {
      const int32 len = in.Byte() % 6;
      UHandle s = DSNewHandle(4 + len);
      if (!s) continue;
      PutNative32(*s, uInt32(len));
      in.Bytes(*s + 4, size_t(len));
      std::memcpy(*a + 4 + 4 * i, &s, 4);
    } else {
      in.Bytes(*a + 4 + size * i, size_t(size));
    }
  }
  return a;
}

// Checks an array value left by a call and disposes it.
void DisposeArray(UHandle a, Shape shape) {
  if (!a) return;
  FUZZ_CHECK(DSCheckHandle(a) == kNoErr);
  const int32 n = int32(GetNative32(*a));
  FUZZ_CHECK(n >= 0 && int64(n) * (shape == kPairs ? 8 : 4) + 4 <= DSGetHandleSize(a));
  if (shape == kStrings)
    for (int32 i = 0; i < n; ++i) {
      UHandle s;
      std::memcpy(&s, *a + 4 + 4 * i, 4);
      if (!s) continue;
      FUZZ_CHECK(DSCheckHandle(s) == kNoErr && int32(GetNative32(*s)) + 4 <= DSGetHandleSize(s));
      DSDisposeHandle(s);
    }
  DSDisposeHandle(a);
}

void Fuzz(Input& in, ObjHeap heap, int32 root, UHandle vi) {
  const int32 cls = kClasses[in.Byte() % (sizeof kClasses / sizeof kClasses[0])];
  // The control's type as its class shows it, its data allocated.
  const tdb::TD type = cls == kClsBoolean                     ? tdb::Boolean()
                       : cls == kClsString || cls == kClsPicture ? tdb::String(-1)
                       : cls == kClsPath || cls == kClsTag     ? tdb::Path(-1)
                       : cls == kClsRing                       ? (in.Byte() & 1 ? tdb::U16() : tdb::Enum(kTDEnumU16, {"a", "b"}))
                       : cls == kClsArray                      ? tdb::Array(tdb::DBL(), {-1})
                                                               : (in.Byte() & 1 ? tdb::DBL() : tdb::I32());
  const std::vector<uChar> typeBytes = type.Bytes();
  const TypeID t = NewTypeIDForTD(heap, tdb::AsTD(typeBytes));
  const int32 dco = vib::NewObject(heap, kClsFPDataController, ClassRecord(kClsFPDataController)->instanceSize, root, 0, 0);
  const int32 control = vib::NewObject(heap, cls, ClassRecord(cls)->instanceSize, 0, 0, 0);
  if (!t || !dco || !control) return;
  OHSetWord(heap, uInt32(control + 4 * kPWOwner), uInt32(dco));
  OHSetWord(heap, uInt32(dco + 4 * kPWDCODisplay), uInt32(control));
  OHSetWord(heap, uInt32(dco + 4 * kPWDCOTypeId), uInt32(t));
  OHSetWord(heap, uInt32(control + 4 * kPWDDOTypeId), uInt32(t));
  if (const int32 list = vib::NewList(heap, {dco})) OHSetWord(heap, uInt32(root + 40), uInt32(list));
  // Now and then the panel has no window: the shell of this target has no
  // hidden one either, so its redisplays have nowhere to draw.
  const bool shown = in.Byte() % 4 != 0;
  PutNative32(*heap + int32(OHWord(heap, kOHExtension)) + kHeapExtWindow, uInt32(shown ? gWindow : 0));
  OHSetWord(heap, uInt32(control), in.Word() & ~0x8u);
  // The class's own words the properties read (display format, grid and
  // shown cell, active slider) the input gives; words that hold images or
  // handles of other parts of the system keep what the object was made with.
  const bool formatted = cls == kClsNumeric || cls == kClsColorBox || cls == kClsRing || cls == kClsColorRamp ||
                         cls == kClsSlide || cls == kClsKnob;
  if (formatted) PutNative16(*heap + control + 40, uInt16(in.Word()));
  if (cls == kClsArray)
    for (int32 word : {kPWArrayGrid, kPWArrayShown}) OHSetWord(heap, uInt32(control + 4 * word), in.Word() & 0x00FF00FF);
  if ((cls == kClsSlide || cls == kClsKnob) && OHBlockSize(heap, control) >= 4 * (kPWActiveElement + 1))
    OHSetWord(heap, uInt32(control + 4 * kPWActiveElement), in.Byte() % 4);
  // A slide's or knob's cached image word as a damaged file can hold it:
  // no image of this run has so high an id.
  constexpr int32 kSlideImageWord = 13;
  if ((cls == kClsSlide || cls == kClsKnob) && OHBlockSize(heap, control) >= 4 * (kSlideImageWord + 1) &&
      in.Byte() % 4 == 0)
    OHSetWord(heap, uInt32(control + 4 * kSlideImageWord), 0x7000 + in.Byte());
  if (AllocObjDataSpace(heap, dco) != kNoErr) return;
  // Now and then an array's type ID names no descriptor.
  if (cls == kClsArray && in.Byte() % 4 == 0) OHSetWord(heap, uInt32(control + 4 * kPWDDOTypeId), 0x7F000000u | in.Word());
  if (DSAllocCurrentState()->active) AllocEndPass();
  std::vector<UHandle> lists;
  std::vector<TRecord> texts;
  for (int32 k = 0, parts = 1 + in.Byte() % 6; k < parts; ++k) {
    const int16 id = kPartIds[in.Byte() % (sizeof kPartIds / sizeof kPartIds[0])];
    // Cosmetics, labels, and scales without their record.
    const uChar which = in.Byte() % 4;
    const int32 pcls = which == 0 ? kClsBigMultiCosmetic : which == 1 ? kClsScale : kClsMultiLabel;
    const int32 pSize = pcls == kClsScale ? ClassRecord(kClsScale)->instanceSize : kObjImageList + 4 * kBigImageEntry;
    const int32 p = vib::NewObject(heap, pcls, pSize, control, id, int16(in.Byte() % 3));
    if (!p) continue;
    OHSetWord(heap, uInt32(p), in.Word() & ~0x8u);
    OHSetWord(heap, uInt32(p + kObjBounds), in.Word());
    OHSetWord(heap, uInt32(p + kObjBounds + 4), in.Word());
    if (pcls == kClsScale) continue;
    if (pcls == kClsBigMultiCosmetic) {
      PutNative16(*heap + p + kObjImageCount, uInt16(in.Byte() % 8));
      continue;
    }
    // A string list whose count and lengths are the input's.
    const int32 bytes = 4 + in.Byte() % 24;
    if (UHandle l = AZNewHClr(bytes)) {
      in.Bytes(*l, size_t(bytes));
      PutNative32(*l, GetNative32(*l) % 8);
      lists.push_back(l);
      OHSetWord(heap, uInt32(p + kObjStringList), uInt32(uintptr_t(l)));
    }
    const Rect view{0, 0, 20, 60};
    const uInt32 mode = (in.Word() & ~0xFu) | (in.Byte() % 5);
    if (TRecord t = TNew(&view, mode, reinterpret_cast<const uChar*>("abc\rdef"), 7, 0, 0, 0xFFFFFF)) {
      texts.push_back(t);
      OHSetWord(heap, uInt32(p + kObjText), uInt32(uintptr_t(t)));
    }
  }
  for (int32 calls = 0; calls < 4 && in.n; ++calls) {
    Shape shape;
    const std::vector<uChar> td = AnyType(in, &shape);
    UHandle types = DSNewHandle(int32(td.size()));
    if (!types) break;
    std::memcpy(*types, td.data(), td.size());
    const auto* checked = TDCheckBounds(*types, int32(td.size())) == kNoErr
                              ? SkipTypedefs(reinterpret_cast<const TypeDescriptor*>(*types))
                              : nullptr;
    const int32 size = checked ? DataSize(checked) : 0;
    if (size < 0 || size > 1024) {
      DSDisposeHandle(types);
      continue;
    }
    FuzzGuardedValue guarded(size, 0x5A);
    uChar* value = guarded.Value();
    in.Bytes(value, size_t(size));
    if (shape != kPlain) {
      UHandle a = in.Byte() & 1 ? ArrayValue(in, shape) : nullptr;
      std::memcpy(value, &a, sizeof a);
    }
    void* const top = TRStackTop();
    const int32 selector = 12 + in.Byte() % 30;
    FuzzArmed() = true;
    DoDDOAttrCall(heap, control, types, 0, in.Byte() & 1, 1, selector, value);
    FuzzArmed() = false;
    FUZZ_CHECK(TRStackTop() == top);
    FUZZ_CHECK((VIRec(vi)->flags & 0x2000000) == 0);
    FUZZ_CHECK(guarded.Intact());
    if (shape != kPlain) {
      UHandle a;
      std::memcpy(&a, value, sizeof a);
      DisposeArray(a, shape);
    }
    DSDisposeHandle(types);
  }
  ForEachPart(heap, control, [&](int32 p) {
    if (p != control && OHBlockSize(heap, p) >= kObjText + 4) OHSetWord(heap, uInt32(p + kObjText), 0);
  });
  SetTrackObject(nullptr, 0, nullptr, nullptr, 1);
  UPtr ext = *heap + int32(OHWord(heap, kOHExtension));
  for (int32 at : {kHeapExtKeyFocus, kHeapExtFocusText, kHeapExtWindow}) PutNative32(ext + at, 0);
  for (TRecord t : texts) TDispose(t);
  for (UHandle l : lists) AZDisposeHandle(l);
}

void Run(Input& in) {
  UHandle vi = nullptr;
  ObjHeap heap = FuzzNewRegisteredPanel(&vi);
  if (!heap) return;
  const int32 root = FuzzPanelRoot(heap);
  Fuzz(in, heap, root, vi);
  UnregisterVI(vi);
  FuzzDisposePanel(heap, vi);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool init = [] {
    PanelInstallEngineHooks();
    // The control classes' own slots (scale resize and move, knob scale) as
    // the program joins them.
    ControlsInstallPanelHooks();
    MemSetDataSpaceInitHook(&AZPAllocInit);
    TRInit();
    if (!FuzzStartManagers(FuzzAbortWhenArmed) || TypeHeapInit() != kNoErr) return false;
    if (WInitScreenImage() != kNoErr) return false;
    DInitDraw();
    const Rect place{0, 0, 300, 400};
    gWindow = WCreate(0, nullptr, nullptr, &place, 0, 0, 0);
    // What the first drawing and the first text keep for the run (fonts,
    // the drawing's tables) is made before handles are counted: one call
    // of each class first.
    TXInitFonts();
    for (uint8_t cls = 0; cls < 12; ++cls) {
      const uint8_t warm[] = {cls, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
      Input in{warm, sizeof warm};
      Run(in);
    }
    return true;
  }();
  return init ? FuzzRunLeakChecked(data, size, Run) : 0;
}
