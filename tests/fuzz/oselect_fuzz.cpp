// Edit messages on panels whose stored words are whatever a file held:
// controllers around numerics, strings, clusters, arrays, type definitions,
// refnums and groups with parts naming anything, cosmetics and labels, any
// selection (stored list words included) and any copy-forward words; the
// heap passes the load check first.  Every code goes to the root with a
// record of random words: moves within the panel and into a second one,
// re-fits, font changes with any flags, pastes of a number of random bytes
// (or of no type; the value comes from memory, not from a file),
// cleanings.  Invariants: nothing read outside a block or handle (the
// sanitizers), both heaps pass the load check afterwards, the record's
// flags word is given back as it was for every code but a move, and no
// handle is left behind.  Then both pop-up passes on random objects, with
// random nesting, hit parts, items and levels: the build pass counts at
// most the class chain's levels of each nested type definition, and walks
// over part lists that lead back to their object end.
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/dmprog.h"
#include "engine/vi/panelroutines.h"
#include "fuzz_support.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/lmenu.h"
#include "panel/editmsg.h"
#include "panel/popup.h"
#include "panel/objload.h"
#include "panel/oinit.h"
#include "panel/osupport.h"
#include "panel/osupport.h"
#include "panel/textparts.h"
#include "panel/transact.h"
#include "panel_fuzz_support.h"

namespace {

using Input = FuzzReader;

int16 Small(Input& in) { return int16(int8(in.Byte())); }
void SetRect(ObjHeap heap, int32 o, Input& in) {
  const Rect r{Small(in), Small(in), int16(Small(in) + 48), int16(Small(in) + 48)};
  std::memcpy(*heap + o + kObjBounds, &r, sizeof r);
}
int32 NewObj(ObjHeap heap, int32 cls, int32 owner, int16 id = 0) {
  return vib::NewObject(heap, cls, ClassRecord(cls)->instanceSize, owner, id, 0);
}

MenuHandle gMenu = nullptr;

struct Made {
  std::vector<int32> objects;
};

int32 DisposeText(ObjHeap h, int32 o, void*) {
  if (OHBlockClass(h, o) == kClsLabel && OHBlockSize(h, o) >= kObjText + 4)
    if (TRecord t = TCheckedRecord(OHWord(h, uInt32(o + kObjText)))) {
      TDispose(t);
      OHSetWord(h, uInt32(o + kObjText), 0);
    }
  return 0;
}

// What the first sizing of a label keeps for the whole run (the fonts'
// measuring caches) is made before any run is counted.
bool WarmUp() {
  UHandle vi = nullptr;
  ObjHeap heap = FuzzNewRegisteredPanel(&vi);
  if (!heap) return false;
  const int32 root = int32(GetNative32(*heap + int32(OHWord(heap, kOHExtension)) + kHeapExtRoot));
  const int32 label = NewObj(heap, kClsLabel, root);
  SetPartText(heap, label, reinterpret_cast<const uChar*>("x"), 1, 0, 0);
  OSizeObj(heap, label, nullptr, 0);
  OHForEachBlockWith(heap, &DisposeText, nullptr);
  UnregisterVI(vi);
  FuzzDisposePanel(heap, vi);
  return true;
}

// A label part with a text, in password display when the input asks.
void NewText(Input& in, ObjHeap heap, int32 owner, int16 id, Made* m) {
  const int32 l = NewObj(heap, kClsLabel, owner, id);
  if (!l) return;
  SetRect(heap, l, in);
  uChar text[8];
  const int32 n = in.Byte() % 8;
  in.Bytes(text, size_t(n));
  SetPartText(heap, l, text, n, 0, 0);
  if (TRecord t = PartTextRecord(heap, l))
    if (in.Byte() & 1) TSetMode(t, TGetMode(t) | kTRModePassword, 0);
  m->objects.push_back(l);
}

int32 NewDisplay(Input& in, ObjHeap heap, int32 owner, const TypeID* types, Made* m, int32 depth) {
  static const int32 kClasses[] = {kClsNumeric, kClsString, kClsCluster, kClsArray, kClsTypeDefinition,
                                   kClsGrouperObject, kClsRefNum, kClsSlide};
  const int32 cls = kClasses[in.Byte() % 8];
  const int32 o = NewObj(heap, cls, owner, int16(in.Byte() & 1 ? 0 : 8010));
  if (!o) return 0;
  SetRect(heap, o, in);
  if (cls != kClsGrouperObject) ObjSetWord(heap, o, kPWDDOTypeId, int32(types[in.Byte() % 3]));
  m->objects.push_back(o);
  for (int32 k = in.Byte() % 3; k > 0; --k) {
    static const int16 kIds[] = {10, 11, 16, 20, 28, 8010, 17, 32};
    const int16 id = kIds[in.Byte() % 8];
    if (in.Byte() & 1) NewText(in, heap, o, id, m);
    else if (depth < 3) NewDisplay(in, heap, o, types, m, depth + 1);
  }
  if (cls == kClsCluster || cls == kClsArray || cls == kClsRefNum) {
    std::vector<int32> elements;
    for (int32 k = in.Byte() % 3; k > 0; --k)
      if (const int32 e = depth < 3 ? NewDisplay(in, heap, o, types, m, depth + 1) : 0) elements.push_back(e);
    if (in.Byte() & 1) elements.push_back(int32(in.Word()));
    ObjSetWord(heap, o, 10, cls == kClsCluster ? vib::NewList(heap, elements) : elements.empty() ? 0 : elements[0]);
  }
  return o;
}

void Populate(Input& in, ObjHeap heap, int32 root, Made* m) {
  TypeID types[3];
  const tdb::TD tds[3] = {tdb::I32(), tdb::Cluster({tdb::String(), tdb::I32()}), tdb::String()};
  for (int32 i = 0; i < 3; ++i)
    if (!(types[i] = NewTypeIDForTD(heap, tdb::AsTD(tds[i].Bytes())))) return;
  std::vector<int32> controllers;
  for (int32 k = 1 + in.Byte() % 4; k > 0; --k) {
    if (in.Byte() & 1) {
      const int32 dco = NewObj(heap, kClsFPDataController, root);
      const int32 shown = dco ? NewDisplay(in, heap, dco, types, m, 0) : 0;
      if (!shown) continue;
      ObjSetWord(heap, dco, kPWDCODisplay, shown);
      if (OHBlockSize(heap, shown) >= 4 * (kPWDDOTypeId + 1))
        ObjSetWord(heap, dco, kPWDCOTypeId, ObjWord(heap, shown, kPWDDOTypeId));
      controllers.push_back(dco);
    } else if (const int32 c = NewObj(heap, in.Byte() & 1 ? kClsCosmetic : kClsLabel, root)) {
      SetRect(heap, c, in);
      m->objects.push_back(c);
    }
  }
  OHSetWord(heap, uInt32(root + kRootItemList), uInt32(vib::NewList(heap, controllers)));
  for (int32 dco : controllers) AllocObjDataSpace(heap, dco);
  // Flags, copy-forward words and the selection, any of them.
  for (int32 o : m->objects) {
    if (in.Byte() & 1) OHSetWord(heap, uInt32(o), in.Word() & (0x1 | 0x8 | 0x100 | 0x100000));
    if (in.Byte() % 8 == 0) OHSetWord(heap, uInt32(o - 8), in.Byte() & 1 ? uInt32(o) : in.Word());
    if (in.Byte() % 3 == 0) FPSelectObject(heap, o);
    // A part list that leads back to its own object, as a file may hold.
    if (in.Byte() % 16 == 0 && OHBlockSize(heap, o) >= kObjPartList + 4) {
      int32 list = ObjWord(heap, o, kObjPartList / 4);
      if (list && OHListInsert(heap, &list, o, 0x7FFFFFFF) == kNoErr) ObjSetWord(heap, o, kObjPartList / 4, list);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool init = FuzzStartPanelManagers() && WarmUp() &&
                     MNewLMenu(&gMenu, reinterpret_cast<const uChar*>("\001P"), 72) == kNoErr;
  if (!init || size > 2048) return 0;
  Input in{data, size};
  const int32 live = FuzzLiveHandles();
  UHandle vi = nullptr, vi2 = nullptr;
  ObjHeap heap = FuzzNewRegisteredPanel(&vi);
  ObjHeap other = heap ? FuzzNewRegisteredPanel(&vi2) : nullptr;
  if (!other) {
    if (heap) {
      UnregisterVI(vi);
      FuzzDisposePanel(heap, vi);
    }
    return 0;
  }
  const int32 root = int32(GetNative32(*heap + int32(OHWord(heap, kOHExtension)) + kHeapExtRoot));
  const int32 root2 = int32(GetNative32(*other + int32(OHWord(other, kOHExtension)) + kHeapExtRoot));
  Made made;
  Populate(in, heap, root, &made);
  if (CheckStoredPanelObjects(heap) == kNoErr) {
    static const int32 kCodes[] = {12, 21, 24, 25, 26, 32, 55, 60};
    const TypeID any = NewTypeIDForTD(heap, tdb::AsTD(tdb::DBL().Bytes()));
    uChar source[16];
    for (int32 k = 1 + in.Byte() % 4; k > 0; --k) {
      const int32 code = kCodes[in.Byte() % 8];
      EditMsgRecord rec{};
      rec.flags = int32(in.Word() & 0x38);
      rec.offset = Point{Small(in), Small(in)};
      rec.moveFlags = uInt16(in.Byte() & 1 ? 0x10 : 0) | uInt16(in.Byte() & 1 ? 0x100 : 0);
      in.Bytes(source, sizeof source);
      rec.sourceHeap = heap, rec.sourceType = in.Byte() & 1 ? any : 0, rec.sourceData = source;
      if (code == kEditMove) {
        const int32 target = in.Byte() % 3;
        rec.targetHeap = target == 0 ? nullptr : target == 1 ? heap : other;
        rec.flags = target == 2 ? root2 : target == 1 && (in.Byte() & 1) ? root : 0;
        OHBeginMarkPassPair(heap, rec.targetHeap == other ? other : nullptr);
      }
      const int32 flags = rec.flags;
      OSelectCode(heap, root, code, &rec);
      if (code == kEditMove) {
        OHEndMarkPassPair(heap, rec.targetHeap == other ? other : nullptr);
        DMDisposePending();  // the copies' data is the next data pass's
      }
      else FUZZ_CHECK(rec.flags == flags);
    }
    FUZZ_CHECK(CheckStoredPanelObjects(other) == kNoErr);
    // Pop-ups: the build pass, then a run pass at a random level, on
    // objects of the panel.
    static const int32 kItems[] = {6, 24, 25, 124, 125, 126, 128, 129, 158, 159, 223, 265, 277, 316, 317, 318, 319, 320};
    for (int32 k = in.Byte() % 4; k > 0 && !made.objects.empty(); --k) {
      const int32 o = made.objects[in.Byte() % made.objects.size()];
      if (!OHIsUsedBlock(heap, o)) continue;
      MDeleteAllItems(gMenu);
      PopupMsgRecord rec{};
      rec.menu72 = gMenu, rec.phase = kPopupBuild, rec.nested = in.Byte() & 1, rec.hitPartId = in.Byte() & 1 ? 28 : 0;
      OPopup(heap, o, &rec);
      const int32 levels = rec.level;
      FUZZ_CHECK(levels >= 0 && levels <= 4 * 33);
      rec = PopupMsgRecord{};
      rec.phase = kPopupRun, rec.menuId = 72, rec.item = kItems[in.Byte() % 18], rec.level = -int32(in.Byte() % 5);
      OPopup(heap, o, &rec);
    }
  }
  ClearSelectionList(heap);
  ClearSelectionList(other);
  // The labels' text records, the copies' in the second panel among them.
  for (ObjHeap h : {heap, other})
    OHForEachBlockWith(h, [](ObjHeap h, int32 o, void*) -> int32 {
      if (OHBlockClass(h, o) == kClsLabel && OHBlockSize(h, o) >= kObjText + 4)
        if (TRecord t = TCheckedRecord(OHWord(h, uInt32(o + kObjText)))) {
          TDispose(t);
          OHSetWord(h, uInt32(o + kObjText), 0);
        }
      return 0;
    }, nullptr);
  UnregisterVI(vi2);
  FuzzDisposePanel(other, vi2);
  UnregisterVI(vi);
  FuzzDisposePanel(heap, vi);
  FUZZ_CHECK(FuzzLiveHandles() == live);
  return 0;
}
