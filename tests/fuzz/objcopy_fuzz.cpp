// A panel heap of arbitrary objects (classes, sizes, words, lists, counts
// and owners as a file may hold them) that passes the load check is copied
// whole into another VI's panel in one pass, at an arbitrary offset and with
// arbitrary flags.  The stored words never reach an assertion, the
// destination passes the load check, the next marking pass finds no
// copy-forward word set, and no handle is left behind.
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/dmprog.h"
#include "engine/vi/panelroutines.h"
#include "fuzz_support.h"
#include "panel/oinit.h"
#include "panel_fuzz_support.h"

namespace {

using Input = FuzzReader;

const int32 kClasses[] = {kClsCosmetic,  kClsLabel,      kClsMultiCosmetic, kClsBigMultiCosmetic, kClsMultiLabel,
                          kClsBigMultiLabel, kClsSelLabel, kClsDataDisplayObject, kClsBoolean, kClsNumeric,
                          kClsString,    kClsArray,      kClsCluster,       kClsRefNum,           kClsColorBox,
                          kClsRing,      kClsSlide,      kClsKnob,          kClsPath,             kClsTable,
                          kClsGraphChart, kClsPicture,   kClsUserItem,      kClsTypeDefinition,   kClsColorRamp,
                          kClsAnnex,     kClsListbox,    kClsScale,         kClsTag,              kClsOleVariant,
                          kClsGrouperObject, kClsDataController, kClsFPDataController, kClsWizardData};

// Words that hold handles or records outside the heap: a loaded panel holds
// its own there, so they stay 0 here.
bool OutsideWord(ObjHeap heap, int32 o, int32 word) {
  const int32 cls = ObjClass(heap, o);
  if (ObjInt16(heap, o, kObjPartId) == 12 && word == 11) return true;  // a ring's item texts
  if (ClassIsKindOf(cls, kClsDataDisplayObject) && word == 7) return true;
  if (ClassIsKindOf(cls, kClsLabel) && word == 9) return true;
  if (ClassIsKindOf(cls, kClsMultiLabel) && word == 11) return true;
  return (cls == kClsTable && word == 17) || (cls == kClsTypeDefinition && word == 11) ||
         (cls == kClsTag && (word == 11 || word == 12));
}

bool IsContainer(int32 cls) { return ClassIsKindOf(cls, kClsGrouperObject); }

// Assertions while copying are faults; running out of memory on the sizes a
// file holds is not.
int32_t AbortOnAssertion(const char* title, const char* text, int32_t buttons, int32_t def) {
  if (text && std::strstr(text, "Not enough memory")) return PlatAlertDefaultAnswer(buttons);
  return FuzzAbortWhenArmed(title, text, buttons, def);
}

int32 CheckMark(ObjHeap heap, int32 offset, void*) {
  FUZZ_CHECK(OHBlockMarkWord(heap, offset) == 0);
  return 0;
}

void Run(Input& in) {
  UHandle srcVI = nullptr, dstVI = nullptr;
  ObjHeap src = FuzzNewBoundPanel({}, &srcVI);
  if (!src) return;
  ObjHeap dst = FuzzNewBoundPanel({}, &dstVI);
  if (!dst || RegisterVI(srcVI) != kNoErr || RegisterVI(dstVI) != kNoErr) {
    UnregisterVI(srcVI);
    if (dst) FuzzDisposePanel(dst, dstVI);
    return FuzzDisposePanel(src, srcVI);
  }
  VIRec(dstVI)->viKind = in.Byte() & 1 ? 1 : 2;
  const int32 root = int32(GetNative32(*src + int32(OHWord(src, kOHExtension)) + kHeapExtRoot));
  std::vector<int32> objects;
  for (int32 k = 1 + in.Byte() % 12; k > 0; --k) {
    const int32 cls = kClasses[in.Byte() % (sizeof kClasses / sizeof kClasses[0])];
    int32 owner = root;
    if (!objects.empty() && (in.Byte() & 1)) owner = objects[in.Byte() % objects.size()];
    if (!IsContainer(ObjClass(src, owner)) && owner != root) owner = root;
    const int32 size = ClassRecord(cls)->instanceSize + 4 * (in.Byte() % 8);
    const int32 o = vib::NewObject(src, cls, size, owner, int16(in.Byte() % 70), int16(in.Byte() % 3));
    if (!o) break;
    objects.push_back(o);
  }
  // The words after the leading fields: another object, a list of objects,
  // a small number or any word.
  for (int32 o : objects) {
    const int32 cls = ObjClass(src, o), words = OHBlockSize(src, o) / 4;
    ObjSetWord(src, o, 0, int32(in.Word()));
    for (int32 w = 4; w < 6 && w < words; ++w) ObjSetWord(src, o, w, int32(in.Word() & 0x00FF00FF));
    for (int32 w = IsContainer(cls) ? 7 : 6; w < words; ++w) {
      if (OutsideWord(src, o, w)) continue;
      const uint8_t kind = in.Byte() % 5;
      int32 v = int32(in.Word());
      if (kind == 0) v = objects[size_t(v) % objects.size()];
      if (kind == 1) {
        std::vector<int32> items;
        for (int32 i = v & 3; i >= 0; --i) items.push_back(objects[in.Byte() % objects.size()]);
        v = vib::NewList(src, items);
      }
      if (kind == 2) v &= 0x7;
      if (kind == 3) v = 0;
      ObjSetWord(src, o, w, v);
    }
  }
  if (CheckStoredPanelObjects(src) == kNoErr) {
    const int32 by = int32(in.Word()), flags = int32(in.Word() & 0x101);
    OHBeginMarkPassPair(src, dst);
    FuzzArmed() = true;
    for (int32 o : objects) {
      const int32 r = OCopy(src, o, dst, by, flags);
      FUZZ_CHECK(r == 0 || r == 1 || r == 2 || r == 43);  // 1: an image the table does not hold
    }
    FuzzArmed() = false;
    std::vector<int32> tops;
    for (int32 o : objects) {
      const int32 copy = OHBlockMarkWord(src, o);
      if (ObjWord(src, o, kPWOwner) == root && copy && OHBlockSize(dst, copy) >= 8 && !ObjWord(dst, copy, kPWOwner))
        tops.push_back(copy);
    }
    OHEndMarkPassPair(src, dst);
    FUZZ_CHECK(CheckStoredPanelObjects(dst) == kNoErr);
    // The top-level copies join the destination's panel, some insertions
    // running out of memory: the heap stays whole either way.
    const int32 dstRoot = int32(GetNative32(*dst + int32(OHWord(dst, kOHExtension)) + kHeapExtRoot));
    for (int32 copy : tops) {
      const uInt32 cat = ClassRecord(ObjClass(dst, copy))->categoryB;
      if (cat != kCatDDO && cat != kCatCOSM) continue;
      ObjSetWord(dst, copy, 0, ObjWord(dst, copy, 0) & ~0x100);
      MemFailNthAllocation(in.Byte() % 8);
      const int32 r = OInsert(dst, dstRoot, copy, int32(in.Byte()) - 8);
      MemFailNthAllocation(0);
      FUZZ_CHECK(r == 1 || r == 2);
      FUZZ_CHECK(CheckStoredPanelObjects(dst) == kNoErr);
    }
    for (ObjHeap h : {src, dst}) {
      OHBeginMarkPass(h, 1);
      OHForEachBlockWith(h, &CheckMark, nullptr);
      OHEndMarkPass(h);
    }
  }
  DMDisposePending();
  UnregisterVI(dstVI);
  UnregisterVI(srcVI);
  FuzzDisposePanel(dst, dstVI);
  FuzzDisposePanel(src, srcVI);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool init = [] { return FuzzStartPanelManagers(); }();
  if (!init || size > 4096) return 0;
  PlatSetAlertProc(AbortOnAssertion);
  // What the managers make on first use stays: the input runs once before
  // the handles are counted around a second run.
  Input first{data, size};
  Run(first);
  Input in{data, size};
  const int32 live = FuzzLiveHandles();
  Run(in);
  FUZZ_CHECK(FuzzLiveHandles() == live);
  return 0;
}
