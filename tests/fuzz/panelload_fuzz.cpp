// Stored panel heaps and the resources their objects load come from VI
// files.  The input either is a stored heap of its own or patches the heap
// of a panel the writer made (every loading class, with images, texts,
// descriptions, font lists and string lists), and it rewrites or truncates
// that panel's resources.  A heap the conversion accepts is sent the load
// broadcast, its selection emptied, and then unloaded; nothing may be
// reported, and every image, text, description and handle made by the load
// must be gone afterwards: every font keeps the references it had, and the
// only handles left over are the names of fonts the font table keeps cached.
// Before the load every block is asked its class name and kinship, and
// blocks of ids without a class are sent every message: each must land in
// ErrorMethod, whose hook answers.  The object
// check the heap loader runs is run as well (the load goes on whatever it
// says, so the load methods stay tried on unchecked heaps too).  A checked
// heap that loaded is shown in a headless window and every object is asked
// its rectangles, invalidated at each level and marked: the rectangles
// change no byte of the heap, invalidation only clears moved bits and the
// marking only sets or clears overlap marks (the colours it greys are put
// back), and each ends.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "controls/cursorlegend.h"
#include "engine/dsalloc.h"
#include "engine/typemgr.h"
#include "engine/vi/objload.h"
#include "engine/vi/virecord.h"
#include "fuzz_support.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/dregion.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "panel/fppanel.h"
#include "panel/objimage.h"
#include "panel/objload.h"
#include "panel/oinval.h"
#include "tools/panelwriter.h"
#include "tools/vibuilder.h"

namespace {

constexpr uInt32 kSTRG = FourCC("STRG"), kHOBJ = FourCC("HOBJ"), kCPST = FourCC("CPST");

struct Rsrc {
  uInt32 type;
  int32 id;
  rsrcw::Bytes data;
};
struct Base {
  UHandle vi = nullptr;
  rsrcw::Bytes heap;
  std::vector<Rsrc> rsrcs;
};

rsrcw::Bytes Be(std::initializer_list<uInt32> words) {
  rsrcw::Bytes b;
  for (uInt32 w : words)
    for (int i = 3; i >= 0; --i) b.push_back(uChar(w >> (8 * i)));
  return b;
}

// The panel every patch starts from.
Base MakeBase() {
  Base b;
  b.vi = vib::NewVI({tdb::I16(), tdb::DBL(), tdb::I32()});
  ObjHeap src = OHNewHeap(2048, kPanelHeapKind, kHeapExtensionSize, kClsObjHeapHdrExtension);
  UHandle map = VIRec(b.vi)->dsTypeMap;
  std::vector<int32> pos;
  for (int32 i = 0, p = 6; i < 4; ++i, p += GetNative16(*map + p)) pos.push_back(p);
  auto obj = [&](int32 cls, int32 owner, int16 part, int32 size = 0) {
    return vib::NewObject(src, cls, size ? size : ClassRecord(cls)->instanceSize, owner, part);
  };
  auto set = [&](int32 o, int32 at, uInt32 v) { PutNative32(*src + o + at, v); };
  panelwriter::SavedText text;
  text.text = "text";
  text.insertion = {0, 1, 0};
  text.runs = {{0, 1, 5}, {2, 0, 6}};
  const rsrcw::Bytes saved = panelwriter::TextRecordRsrc(text);
  rsrcw::Bytes list = Be({2});
  for (const char* s : {"off", "on"}) {
    list.push_back(uChar(std::strlen(s)));
    list.insert(list.end(), s, s + std::strlen(s));
  }
  const int32 root = obj(kClsFrontPanel, 0, 0);
  const int32 num = obj(kClsNumeric, root, 0);
  set(num, 48, uInt32(pos[2]));
  set(num, kObjDescription, 1);
  const int32 label = obj(kClsLabel, num, 16);
  const int32 ring = obj(kClsRing, root, 0);
  set(ring, 48, uInt32(pos[1]));
  set(ring, 64, uInt32(pos[3]));
  const int32 table = obj(kClsTable, root, 0);
  set(table, 44, uInt32(pos[3]));
  const int32 graph = obj(kClsGraphChart, root, 0);
  PutNative16(*src + graph + kGraphKind, 104);
  set(graph, 48, uInt32(pos[1]));
  set(graph, 68, uInt32(pos[2]));
  set(graph, 56, uInt32(pos[3]));
  const int32 multi = obj(kClsMultiCosmetic, root, 0, 48);
  PutNative16(*src + multi + kObjImageCount, 2);
  const int32 big = obj(kClsBigMultiCosmetic, root, 0, 80);
  PutNative16(*src + big + kObjImageCount, 2);
  const int32 mlabel = obj(kClsMultiLabel, root, 22);
  set(mlabel, kObjStringList, 1);
  const int32 dco = obj(kClsFPDataController, root, 0);
  set(dco, 28, uInt32(pos[3]));
  const int32 tag = obj(kClsTag, root, 0);
  set(tag, kObjDescription, 1);
  const int32 scale = obj(kClsScale, root, 0);
  set(scale, 32, uInt32(pos[2]));
  const int32 slide = obj(kClsSlide, root, 0);
  const int32 array = obj(kClsArray, root, 0);
  set(array, 56, uInt32(pos[1]));
  using panelwriter::Image;
  const std::vector<panelwriter::PanelObject> objects = {
      {root, {}},
      {num, {{kSTRG, Be({1, 2})}}},
      {label, {Image(kObjImage, "a"), {kTextRecordType, saved}}},
      {ring, {}},
      {table, {{kHOBJ, Be({2, 0, 1})}}},
      {graph, {}},
      {multi, {Image(40, "a"), Image(44, "b")}},
      {big, {Image(56, "c"), Image(76, "a")}},
      {mlabel, {Image(kObjImage, "b"), {kCPST, list}, {kTextRecordType, saved}}},
      {dco, {}},
      {tag, {{kSTRG, rsrcw::Bytes{0, 1}}}},
      {scale, {}},
      {slide, {}},
      {array, {}},
  };
  rsrcw::Writer w(FourCC("LVIN"), FourCC("QNLX"));
  b.heap = panelwriter::PanelHeapImage(src, 100, objects, nullptr, nullptr);
  panelwriter::HeapLayout layout;
  panelwriter::PanelHeapImage(src, 100, objects, nullptr, &layout);
  for (size_t i = 0; i < objects.size(); ++i)
    for (size_t k = 0; k < objects[i].rsrcs.size(); ++k)
      if (layout.rsrcNumbers[i][k])
        b.rsrcs.push_back({objects[i].rsrcs[k].type, layout.rsrcNumbers[i][k], objects[i].rsrcs[k].data});
  b.rsrcs.push_back({kFontTableType, kFontTableId,
                     panelwriter::FontTableRsrc({{"Own", 10}, {"Courier", 12, 1, 0}, {"", 0}}, 1)});
  OHDisposeHeap(src);
  return b;
}

void RunOne(const Base* base, const uint8_t* data, size_t size, bool check);

// The references held on each slot of the font table.
std::vector<int32> FontReferences() {
  std::vector<int32> refs(static_cast<size_t>(TFontCount()));
  for (int32 i = 0; i < TFontCount(); ++i) refs[size_t(i)] = TFontReferences(i);
  return refs;
}

// Handles alive besides the names of cached fonts: a released font stays in
// the table as a cache, whose slot a later font may take.
int32 LiveUncachedHandles() { return FuzzLiveHandles() - TCachedFontCount(); }

int32 gHookCalls = 0;
int32 CountingHook(ObjHeap, int32) { return ++gHookCalls, kBadProcLoadResult; }

int32 ProbeBlock(ObjHeap h, int32 b) {
  const int32 cls = OHBlockClass(h, b);
  const ObjClassRecord* r = ClassRecord(cls);
  FUZZ_CHECK(ObjIsA(h, b, cls) == 1);
  FUZZ_CHECK(ObjIsA(h, b, kClsGrouperObject) == (r->methodCount && (cls == kClsGrouperObject ||
                                                                     ObjIsA(h, b, kClsDataDisplayObject) ||
                                                                     cls == kClsScale)));
  Str255 name;
  GetObjClassName(h, b, name);
  if (cls != kClsRefNum && cls != kClsRing && cls != kClsTable && cls != kClsGraphChart)
    FUZZ_CHECK(std::memcmp(name, r->name, size_t(r->name[0]) + 1) == 0);
  if (r->methodCount == 0) {
    for (int32 msg = -1; msg <= 80; ++msg) {
      const int32 before = gHookCalls;
      FUZZ_CHECK(OSendMessage<int32>(msg, h, b) == kBadProcLoadResult);
      FUZZ_CHECK(gHookCalls == before + 1);
    }
    gQXLoadErrorCode = 0;
  }
  return 0;
}

int32 CollectBlock(ObjHeap, int32 b, void* blocks) {
  static_cast<std::vector<int32>*>(blocks)->push_back(b);
  return 0;
}

// Fails unless the heap's bytes differ from before only in the bits of the
// blocks' flag words.
void CheckOnlyFlagBits(ObjHeap h, const rsrcw::Bytes& before, const std::vector<int32>& blocks, uInt32 bits) {
  const size_t n = OHWord(h, kOHEndOffset) + 1;
  FUZZ_CHECK(n == before.size());
  rsrcw::Bytes allowed(n, 0);
  for (int32 b : blocks)
    if (size_t(b) + 4 <= n) PutNative32(allowed.data() + b, bits);
  for (size_t i = 0; i < n; ++i) FUZZ_CHECK(((before[i] ^ (*h)[i]) & ~allowed[i]) == 0);
}

rsrcw::Bytes Snapshot(ObjHeap h) { return rsrcw::Bytes(*h, *h + OHWord(h, kOHEndOffset) + 1); }

void RedrawPass(ObjHeap h, WindowRef window) {
  const int32 ext = int32(OHWord(h, kOHExtension));
  PutNative32(*h + ext + kHeapExtWindow, uInt32(window));
  std::vector<int32> blocks;
  OHForEachBlockWith(h, &CollectBlock, &blocks);
  auto takes = [&](int32 b, ObjMessage msg) {
    return OFindMethod(h, b, msg) != reinterpret_cast<ObjMethodAddr>(&ErrorMethod);
  };
  rsrcw::Bytes before = Snapshot(h);
  for (int32 b : blocks)
    for (int32 kind : {int32(kRectBounds), 1, int32(kRectMain), int32(kRectFrame), int32(kRectMainOnly)})
      if (takes(b, kMsgOGetRect)) {
        Rect r;
        OGetRect(h, b, &r, kind);
      }
  CheckOnlyFlagBits(h, before, blocks, 0);
  for (int32 b : blocks)
    for (int32 level : {kInvalAll, kInvalValue, kInvalFrame}) OInval(h, b, level);
  CheckOnlyFlagBits(h, before, blocks, kObjFlagMoved);
  before = Snapshot(h);
  const Rect clip{0, 0, 300, 400};
  DRgn region = DRectRgn(nullptr);
  for (int32 b : blocks)
    if (takes(b, kMsgOMarkInRect)) OMarkInRect(h, b, region, &clip, int32(kObjFlagOverlapMark));
  DDestroyRgn(region);
  if (const int32 root = int32(GetNative32(*h + ext + kHeapExtRoot)); root && takes(root, kMsgOMarkInRect))
    OMarkInRect(h, root, DRgn(0), static_cast<const Rect*>(nullptr), 0);
  CheckOnlyFlagBits(h, before, blocks, kObjFlagOverlapMark);
  WValidate(window);
  PutNative32(*h + ext + kHeapExtWindow, 0);
}

WindowRef gWindow = 0;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Base* base = [] {
    PanelInstallEngineHooks();
    ControlsInstallPanelHooks();
    MemSetDataSpaceInitHook(&AZPAllocInit);
    if (!FuzzStartManagers(FuzzAbortWhenArmed) || RInitResources() != kNoErr) return static_cast<Base*>(nullptr);
    const Rect place{0, 0, 300, 400};
    gWindow = WCreate(0, nullptr, nullptr, &place, 0, 0, 0);
    Base* b = new Base(MakeBase());
    // The managers' own tables (images, resource files) are made by a first load.
    if (!b->heap.empty()) RunOne(b, nullptr, 0, false);
    return b;
  }();
  if (!base || base->heap.empty() || size > 1 << 16) return 0;
  RunOne(base, data, size, true);
  return 0;
}

namespace {

void RunOne(const Base* base, const uint8_t* data, size_t size, bool check) {
  FuzzReader in{data, size};
  // The heap: the input's own, or the base heap with patched bytes.
  rsrcw::Bytes heap;
  if (in.Byte() & 1) {
    const size_t n = in.Byte() << 8 | in.Byte();
    for (size_t i = 0; i < n && in.n; ++i) heap.push_back(in.Byte());
  } else {
    heap = base->heap;
    for (int k = in.Byte() % 16; k > 0; --k) {
      const size_t at = (size_t(in.Byte()) << 8 | in.Byte()) % heap.size();
      heap[at] = uChar(heap[at] ^ in.Byte());
    }
  }
  // The resources: some rewritten or cut short.
  std::vector<Rsrc> rsrcs = base->rsrcs;
  for (int k = in.Byte() % 4; k > 0; --k) {
    Rsrc& r = rsrcs[in.Byte() % rsrcs.size()];
    const size_t keep = in.Byte();
    if (keep < r.data.size()) r.data.resize(keep);
    for (int j = in.Byte() % 8; j > 0 && !r.data.empty(); --j) r.data[in.Byte() % r.data.size()] ^= in.Byte();
  }
  rsrcw::Writer w(FourCC("LVIN"), FourCC("QNLX"));
  for (const Rsrc& r : rsrcs) w.Add(r.type, r.id, r.data);
  w.Add(kPanelHeapKind, 1, heap);
  const int32 live = LiveUncachedHandles();
  const std::vector<int32> refs = FontReferences();
  RsrcFileRef file = 0;
  FuzzArmed() = true;
  ObjHeap h = panelwriter::ReadStoredHeap(w.Write(), 1, &file);
  if (h) {
    const int32 ext = int32(OHWord(h, kOHExtension));
    if (ext > 0 && OHBlockSize(h, ext) >= kHeapExtensionSize) {
      PutNative32(*h + ext + kHeapExtOwner, uInt32(uintptr_t(base->vi)));
      PutNative32(*h + ext + kHeapExtWindow, 0);
      PutNative32(*h + ext + kHeapExtFocusText, 0);
      const MgErr checked = CheckStoredPanelObjects(h);
      FUZZ_CHECK(checked == kNoErr || checked == kArgErr);
      if (checked == kNoErr)
        for (int32 at : {kHeapExtFocusText, kHeapExtStashedText, kHeapExtSavedFrames, kHeapExtWindow})
          FUZZ_CHECK(GetNative32(*h + ext + at) == 0);
      SetBadClassHook(&CountingHook);
      OHForEachBlock(h, &ProbeBlock);
      ClearBadClassHook();
      FPClearImageTable();
      ClearObjLoadAbort();
      SetBadClassHook(&BadProcLoadMethod);
      const int32 r = OLoadHeapObjects(h, file);
      if (r) {
        FUZZ_CHECK(r == kOHStopEnum && ObjLoadAbort().heap == h && ObjLoadAbort().error != 0);
        ODisposeAfterAbort(h);
        ClearObjLoadAbort();
      } else {
        if (checked == kNoErr && gWindow) RedrawPass(h, gWindow);
        ODisposeHeapObjects(h);
      }
      ClearBadClassHook();
      // The selection word is the stored heap's too: emptying it (as the
      // fix-up after a load does) touches only a list block of the heap.
      FPEmptySelection(h);
      FUZZ_CHECK(FPSelectionCount(h) == 0);
      FUZZ_CHECK(FPImageTableCount() == 0);
      UHandle ds = VIRec(base->vi)->dataSpace;
      FUZZ_CHECK(reinterpret_cast<DataSpaceHeader*>(*ds)->panel != h);
    }
    OHDisposeHeap(h);
  }
  FuzzArmed() = false;
  if (file) RCloseFile(file);
  TReleaseFontReferences();
  if (check) {
    std::vector<int32> after = FontReferences();
    // Slots past the end of either table hold no reference.
    after.resize(std::max(after.size(), refs.size()), 0);
    for (size_t i = 0; i < after.size(); ++i) FUZZ_CHECK(after[i] == (i < refs.size() ? refs[i] : 0));
    FUZZ_CHECK(LiveUncachedHandles() == live);
  }
}

}  // namespace
