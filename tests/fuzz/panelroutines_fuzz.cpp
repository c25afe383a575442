// The shared panel-method routines over stored panel words: a key-binding
// table whose count and offsets are whatever the file held, key events of
// any code, array selection records whose handles claim any count, ring
// item lists whose handle and count disagree, colour tables of any bytes,
// edited texts of any bytes, shown in backslash codes or not, and focus
// moves inside arrays whose grid, shown cell, index displays, index handle
// and data are whatever the file held.  A binding answers nothing or a live
// object; a selection mark is an edge code (0 to 15); a list answered holds
// its count; an item change moves the count by one; a colour has 24 bits; a
// stored string is never longer than its text; a focus move answers with
// bit 0 and without 0x800 and leaves the shown cell inside the grid; a value
// shown is read whole; nothing is asserted on and no handle is left behind.
#include <cstdint>
#include <cstring>
#include <vector>

#include "controls/scale.h"
#include "engine/dsalloc.h"
#include "fuzz_support.h"
#include "panel/datageom.h"
#include "panel/datamsg.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "panel/methsupport.h"
#include "panel/numincdec.h"
#include "panel/numoperate.h"
#include "panel/oinit.h"
#include "panel/osupport.h"
#include "panel/textparts.h"
#include "rtlib/panellocators.h"
#include "panel/transact.h"
#include "panel_fuzz_support.h"

namespace {

using Input = FuzzReader;

void FuzzKeys(Input& in, ObjHeap heap, int32 root) {
  std::vector<int32> objects;
  for (int32 cls : {kClsNumeric, kClsBoolean, kClsString})
    if (const int32 o = vib::NewObject(heap, cls, ClassRecord(cls)->instanceSize, root)) objects.push_back(o);
  const int32 nav = OHNewBlock(heap, 4 + 4 * kKeySlotCount, kObjClassList);
  if (!nav) return;
  OHSetWord(heap, uInt32(root + kRootKeyNav), uInt32(nav));
  const uInt8 countPick = in.Byte();
  OHSetWord(heap, uInt32(nav), countPick < 200 ? kKeySlotCount : in.Word());
  for (int32 s = 0; s < kKeySlotCount; ++s) {
    const uInt8 pick = in.Byte();
    const int32 word = pick < 128 ? 0 : pick < 220 && !objects.empty() ? objects[pick % objects.size()] : int32(in.Word());
    OHSetWord(heap, uInt32(nav + 4 + 4 * s), uInt32(word));
  }
  const int32 ext = int32(OHWord(heap, kOHExtension));
  PutNative32(*heap + ext + kHeapExtKeyFocus, in.Byte() & 1 ? uInt32(in.Word()) : uInt32(objects.empty() ? 0 : objects[1 % objects.size()]));
  for (int32 k = 0; k < 16 && in.n; ++k) {
    WEventRecord e{};
    e.code = WEventCode(in.Byte() & 1 ? weKey : in.Byte());
    e.modifiers = WModifiers(in.Word());
    e.character = int32(in.Byte());
    e.keyCode = WKeyCode(in.Byte() % 40);
    const int32 bound = KeyBindingTarget(heap, &e);
    FUZZ_CHECK(bound == 0 || OHIsUsedBlock(heap, bound));
  }
  PutNative32(*heap + ext + kHeapExtKeyFocus, 0);
}

// An array control of one to three dimensions with its allocated selection
// record; the record's handles then claim any count and hold any indexes,
// and the record's words may be moved off the array's entry.
// An array control of one to three dimensions of I32 with its allocated
// private record, whose index handles then claim any count and hold any
// indexes; 0 when it cannot be made.  *dcoOut receives its controller.
int32 FuzzArrayControl(Input& in, ObjHeap heap, int32 root, int32* dcoOut = nullptr) {
  const int32 array = FuzzNewControl(heap, root, tdb::Array(tdb::I32(), std::vector<int32>(1 + in.Byte() % 3, kTDVariable)),
                                     kClsArray);
  if (!array) return 0;
  const int32 dco = int32(OHWord(heap, uInt32(array + 4 * kPWOwner)));
  const UHandle ds = VIRec(PanelHeapOwner(heap))->dataSpace;
  const int32 at = int32(OHWord(heap, uInt32(array + 4 * kPWArrayPrivate)));
  if (at <= 0 || at > DSGetHandleSize(ds) - 12) return 0;
  for (int32 i = 0; i < 3; ++i) {
    UHandle h = reinterpret_cast<UHandle>(uintptr_t(GetNative32(*ds + at + 4 * i)));
    if (!h || DSSetHandleSize(h, 4 * (in.Byte() % 6)) != kNoErr) continue;
    const int32 size = DSGetHandleSize(h);
    for (int32 k = 0; k + 4 <= size; k += 4) PutNative32(*h + k, in.Byte() < 160 ? in.Byte() % 4 : in.Word());
  }
  if (dcoOut) *dcoOut = dco;
  return array;
}

void FuzzSelection(Input& in, ObjHeap heap, int32 root) {
  const int32 array = FuzzArrayControl(in, heap, root);
  if (!array) return;
  const UHandle ds = VIRec(PanelHeapOwner(heap))->dataSpace;
  OHSetWord(heap, uInt32(array + 4 * kPWArrayShown), in.Word());
  if (in.Byte() >= 230) OHSetWord(heap, uInt32(array + 4 * kPWArrayPrivate), in.Word());
  if (in.Byte() >= 230) OHSetWord(heap, uInt32(array + 4 * kPWArrayPrivateTD), in.Word());
  const int32 code = ArrayEltLayout(heap, array, ds);
  FUZZ_CHECK(code >= 0 && code <= 15);
}

// The numerics that stand for an array's element and index displays: they
// take action 15 (answering from the input), read a value shown whole and
// move nowhere.
uInt8 gFocusAnswer = 0;
int32 FuzzNumericDoit(ObjHeap, int32, void*, int32, void*) { return gFocusAnswer; }
int32 FuzzNumericShow(ObjHeap, int32, int32, const void* value) {
  volatile uInt8 sink = 0;
  for (int32 i = 0; value && i < 4; ++i) sink = sink + static_cast<const uInt8*>(value)[i];
  return 0;
}
int32 FuzzNumericMove(ObjHeap, int32, Point) { return 0; }

// An array with an element, up to four index displays and an index frame;
// its grid and shown cell, its operate data (an array handle of any claimed
// sizes) and the frame a focus move starts from come from the input.
void FuzzArrayFocus(Input& in, ObjHeap heap, int32 root) {
  int32 dco = 0;
  const int32 array = FuzzArrayControl(in, heap, root, &dco);
  if (!array) return;
  const int32 numeric = ClassRecord(kClsNumeric)->instanceSize;
  const int32 element = vib::NewObject(heap, kClsNumeric, numeric, array);
  for (int32 k = in.Byte() % 5; k-- > 0;) vib::NewObject(heap, kClsNumeric, numeric, array, kPartArrayIndex, int16(in.Byte() % 6));
  const int32 indexFrame = vib::NewObject(heap, kClsCosmetic, ClassRecord(kClsCosmetic)->instanceSize, array, 30, 0);
  if (!element || !indexFrame) return;
  OHSetWord(heap, uInt32(indexFrame), in.Byte() & 1 ? kObjFlagHidden : 0);
  OHSetWord(heap, uInt32(array + 4 * kPWArrayElement), in.Byte() < 240 ? uInt32(element) : in.Word());
  OHSetWord(heap, uInt32(array + 4 * kPWArrayGrid), in.Byte() < 200 ? uInt32(ArrayCell(in.Byte() % 4, in.Byte() % 4)) : in.Word());
  OHSetWord(heap, uInt32(array + 4 * kPWArrayShown), in.Byte() < 200 ? uInt32(ArrayCell(in.Byte() % 5, in.Byte() % 5)) : in.Word());
  OHSetWord(heap, uInt32(array), in.Byte() & 1 ? kArrayFlagWideCells : 0);
  // The operate data: an array handle whose sizes claim any count.
  const UHandle ds = VIRec(PanelHeapOwner(heap))->dataSpace;
  const int32 rec = int32(OHWord(heap, uInt32(dco + 4 * kPWDCORecord)));
  if (in.Byte() & 1 && rec > 0 && rec + 16 <= DSGetHandleSize(ds) && !GetNative32(*ds + rec + 12)) {
    if (UHandle data = DSNewHClr(4 * (in.Byte() % 12))) {
      for (int32 k = 0; k + 4 <= DSGetHandleSize(data); k += 4) PutNative32(*data + k, in.Byte() < 200 ? in.Byte() % 5 : in.Word());
      PutNative32(*ds + rec + 12, uInt32(uintptr_t(data)));
    }
  }
  gFocusAnswer = in.Byte();
  void* const previous = TRPushFrame();
  auto* top = static_cast<TransactionFrame*>(TRStackTop());
  if (top != previous) {
    top[0] = {root, kCatFPSC, 2, 0};
    for (int32 step = 0; step < 4 && in.n; ++step) {
      top[1] = {array, kCatDDO, int32(in.Byte() % 4), in.Byte() < 128 ? int32(in.Byte() % 8) : int32(in.Word())};
      top[2] = {int32(OHWord(heap, uInt32(array + 4 * kPWArrayElement))), kCatDDO, 2, 0};
      top[3] = {};
      ActionParams params{};
      params.keyCode = int32(in.Byte() % 3) + kKeyTab;
      if (in.Byte() & 1) {
        const int32 reply = ArrayFocusNav(heap, array, &top[1], int32(in.Word()), &params, kActKeyOrText);
        FUZZ_CHECK((reply & 1) && !(reply & 0x800));
        continue;
      }
      top[1].mode = kPathLevelCell;
      if (ArrayEltDoit(heap, array, &top[1], in.Byte(), &params) == 16) continue;
      // The cell reached is the shown one, inside the grid.
      const int32 grid = int32(OHWord(heap, uInt32(array + 4 * kPWArrayGrid)));
      const int32 shown = int32(OHWord(heap, uInt32(array + 4 * kPWArrayShown)));
      FUZZ_CHECK(int16(shown) >= 0 && int16(shown) <= std::max<int16>(int16(grid), 0));
      FUZZ_CHECK(int16(shown >> 16) >= 0 && int16(shown >> 16) <= std::max<int16>(int16(grid >> 16), 0));
    }
    TRSetStackTop(previous);
  }
}

void FuzzRing(Input& in, ObjHeap heap, int32 root) {
  const int32 ring = FuzzNewControl(heap, root, tdb::U16(), kClsRing);
  const UPtr cell = ring ? FPHeapDataPtr(heap, ObjWord(heap, ring, 15)) : nullptr;
  if (!cell) return;
  const UHandle h = reinterpret_cast<UHandle>(uintptr_t(GetNative32(cell)));
  if (h && DSSetHandleSize(h, 4 * (in.Byte() % 6)) == kNoErr && DSGetHandleSize(h) >= 4)
    PutNative32(*h, in.Byte() < 128 ? in.Byte() % 5 : in.Word());
  if (in.Byte() >= 230) ObjSetWord(heap, ring, 15, int32(in.Word()));
  if (in.Byte() >= 230) ObjSetWord(heap, ring, 16, int32(in.Word()));
  for (int32 k = 0; k < 4 && in.n; ++k) {
    UHandle list = ObjItemData(heap, ring);
    FUZZ_CHECK(!list || 4 + 4 * int64(GetNative32(*list)) <= DSGetHandleSize(list));
    const int32 before = list ? int32(GetNative32(*list)) : -1, index = int32(in.Word());
    const bool insert = in.Byte() & 1;
    const int32 got = RingInsertDeleteItem(heap, ring, index, insert);
    if (got < 0) continue;
    list = ObjItemData(heap, ring);
    FUZZ_CHECK(list && got <= before && int32(GetNative32(*list)) == before + (insert ? 1 : -1));
  }
}

void FuzzRamp(Input& in, ObjHeap heap, int32 root) {
  const int32 scale = vib::NewObject(heap, kClsScale, ClassRecord(kClsScale)->instanceSize, root);
  const MgErr err = scale ? AllocObjDataSpace(heap, scale) : kMemFullErr;
  if (DSAllocCurrentState()->active) AllocEndPass();
  ScaleRec* r = err == kNoErr ? ScaleRecOf(heap, scale) : nullptr;
  UHandle m = r ? DSNewHClr(in.Byte() % 64) : nullptr;
  if (!m) return;
  in.Bytes(*m, size_t(DSGetHandleSize(m)));
  if (DSGetHandleSize(m) >= 4 && in.Byte() < 200) PutNative32(*m, in.Byte() % 6);
  const UHandle own = r->markers;  // the record's own table, put back for its disposal
  r->markers = m, r->endParts[0] = in.Word(), r->endParts[1] = in.Word();
  ObjSetWord(heap, scale, 0, int32(in.Word() & (kRampNoInterpolation | kRampStepped)));
  for (int32 k = 0; k < 4 && in.n; ++k) {
    float64 v;
    in.Bytes(&v, sizeof v);
    FUZZ_CHECK(PanelLookupValue(heap, scale, v) <= 0xFFFFFF);
  }
  ScaleRecOf(heap, scale)->markers = own;
  DSDisposeHandle(m);
}

void FuzzString(Input& in, ObjHeap heap, int32 root) {
  const int32 string = FuzzNewControl(heap, root, tdb::String(), kClsString);
  const int32 text = string ? vib::NewObject(heap, kClsLabel, ClassRecord(kClsLabel)->instanceSize, string, 11, 0) : 0;
  if (!text) return;
  ObjSetWord(heap, text, 0, in.Byte() & 1 ? int32(kTextFlagBackslash) : 0);
  uChar bytes[64];
  const int32 length = in.Byte() % 64;
  in.Bytes(bytes, size_t(length));
  SetPartText(heap, text, bytes, length, 0, 0);
  const int32 reply = StringTextToData(heap, string, text, PartTextRecord(heap, text), 0x41);
  const UPtr cell = reinterpret_cast<UPtr>(uintptr_t(uInt32(OGetDataPtr(heap, string, 0, kDataPtrPlain, nullptr))));
  const UHandle data = cell ? reinterpret_cast<UHandle>(uintptr_t(GetNative32(cell))) : nullptr;
  FUZZ_CHECK((reply & 0x48) == 8 && data && int32(GetNative32(*data)) <= length);
  if (const TRecord record = PartTextRecord(heap, text)) TDispose(record);  // the heap does not own it
}

// Owner words of any value, loops included: every walk ends, and what it
// finds is a live object of the class it looks for.
void FuzzOwnerWalks(Input& in, ObjHeap heap, int32 root) {
  const int32 classes[] = {kClsRefNum, kClsTypeDefinition, kClsNumeric, kClsLabel, kClsArray};
  std::vector<int32> objects{root};
  for (int32 k = 1 + in.Byte() % 8; k-- > 0;) {
    const int32 cls = classes[in.Byte() % 5];
    if (const int32 o = vib::NewObject(heap, cls, ClassRecord(cls)->instanceSize, root, int16(in.Byte() & 1 ? 8010 : 0)))
      objects.push_back(o);
  }
  auto pick = [&] { return in.Byte() < 220 ? objects[in.Byte() % objects.size()] : int32(in.Word()); };
  for (size_t i = 1; i < objects.size(); ++i) {
    ObjSetWord(heap, objects[i], kPWOwner, pick());
    if (OHBlockSize(heap, objects[i]) < 48) continue;  // words 10 and 11 only of objects that have them
    ObjSetWord(heap, objects[i], 10, pick());
    ObjSetWord(heap, objects[i], 11, in.Byte() & 1 ? 0 : int32(in.Word()));
  }
  for (const int32 o : objects) {
    const int32 ref = FindOwnerRefNum(heap, o);
    FUZZ_CHECK(!ref || (OHIsUsedBlock(heap, ref) && ObjClass(heap, ref) == kClsRefNum));
    FUZZ_CHECK(IsInOwnerChain(heap, pick(), o) <= 1 && IsInTypeDef(heap, o) <= 1);
    FUZZ_CHECK(!IsInPlainTypeDef(heap, o) || IsInTypeDef(heap, o));
  }
}

// A numeric or ring whose range words and range entry are whatever the
// file held, stepped by arrows of any direction: a changed value is stored.
void FuzzNumericStep(Input& in, ObjHeap heap, int32 root) {
  const bool ring = in.Byte() & 1;
  const tdb::TD types[] = {tdb::I8(), tdb::U8(), tdb::I32(), tdb::DBL(), tdb::U16()};
  const int32 n = FuzzNewControl(heap, root, ring ? tdb::U16() : types[in.Byte() % 5], ring ? kClsRing : kClsNumeric);
  if (!n) return;
  ObjSetWord(heap, n, 8, int32(in.Word()));
  if (in.Byte() >= 200) ObjSetWord(heap, n, kPWNumRange, int32(in.Word()));
  for (int32 k = 0; k < 4 && in.n; ++k) {
    UPtr data = reinterpret_cast<UPtr>(uintptr_t(uInt32(OGetDataPtr(heap, n, 0, kDataPtrOperate, nullptr))));
    if (!data) return;
    in.Bytes(data, 2);
    ActionParams p{};
    IncDecState* s = IncDecOf(&p);
    s->kind = ring ? kIncKindRing : kIncKindNumeric;
    s->pressState = int16(1 + in.Byte() % 2), s->selEnd = -1;
    p.eventCode = 6, p.keyCode = in.Byte() % 40, p.character = in.Byte();
    FUZZ_CHECK(NumTextEntryKeyFilter(&p, in.Byte() % 32, int16(in.Word())) <= 1);
    const UPtr at = NumIncDecSetup(heap, n, &p, 0);
    if (!at) continue;
    uChar before[8];
    std::memcpy(before, at, sizeof before);
    // A first press commits at once: a reply without 8 changed nothing.
    if (!(NumIncDecArrow(heap, n, &p, s->data, s->repr) & 8))
      FUZZ_CHECK(std::memcmp(before, s->data, size_t(NumSize(s->repr))) == 0);
    FUZZ_CHECK(IsRingItemDisabled(heap, n, int32(in.Word())) <= 1 && RecheckArrayEltRange(heap, n) <= 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static WindowRef window = 0;
  static bool init = [] {
    auto* numeric = const_cast<ObjClassRecord*>(ClassRecord(kClsNumeric));
    numeric->methods[kMsgODoit] = reinterpret_cast<ObjMethodAddr>(&FuzzNumericDoit);
    numeric->methods[kMsgODisplayVal] = reinterpret_cast<ObjMethodAddr>(&FuzzNumericShow);
    numeric->methods[kMsgOOffset] = reinterpret_cast<ObjMethodAddr>(&FuzzNumericMove);
    PanelInstallEngineHooks();
    ControlsInstallScaleHooks();
    MemSetDataSpaceInitHook(&AZPAllocInit);
    const bool started = FuzzStartManagers(FuzzAbortWhenArmed) && TypeHeapInit() == kNoErr;
    if (!started || WInitScreenImage() != kNoErr) return false;
    if (!TRStackBlock()) TRInit();
    // Values draw themselves: a window of the screen image takes what they draw.
    DInitDraw();
    const Rect place{0, 0, 300, 400};
    window = WCreate(0x3C, nullptr, nullptr, &place, 0, 1, 0);
    if (window == kWNoWindow) return false;
    PanelTextClipboard();  // made once, on first use: no handle of an input
    return true;
  }();
  if (!init || size > 4096) return 0;
  Input in{data, size};
  const int32 live = FuzzLiveHandles();
  UHandle vi = nullptr;
  ObjHeap heap = FuzzNewRegisteredPanel(&vi);
  if (!heap) return 0;
  VIRec(vi)->viKind = int16(in.Byte() % 8);
  VIRec(vi)->flags2 = in.Byte() & 1 ? kVIFlags2OwnerMode : 0;
  const int32 root = int32(GetNative32(*heap + int32(OHWord(heap, kOHExtension)) + kHeapExtRoot));
  WPortState port;
  WSetup(window, &port);
  FuzzArmed() = true;
  switch (in.Byte() % 8) {
    case 0: FuzzKeys(in, heap, root); break;
    case 1: FuzzSelection(in, heap, root); break;
    case 2: FuzzRing(in, heap, root); break;
    case 3: FuzzRamp(in, heap, root); break;
    case 4: FuzzString(in, heap, root); break;
    case 6: FuzzOwnerWalks(in, heap, root); break;
    case 7: FuzzNumericStep(in, heap, root); break;
    default: FuzzArrayFocus(in, heap, root); break;
  }
  FuzzArmed() = false;
  WRestore(&port);
  UnregisterVI(vi);
  FuzzDisposePanel(heap, vi);
  FUZZ_CHECK(FuzzLiveHandles() == live);
  return 0;
}
