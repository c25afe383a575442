// New panel objects are filled from templates of the run-time resource file.
// The input is either one class and the same bytes under every template type,
// or one of the writer's template sets with bytes of one template patched and
// its end cut.  An object of a creatable class is initialised from resource
// id 1: nothing may be reported, a refused object leaves the panel heap's
// blocks, the image table and the live handles as they were, and a made one,
// disposed, leaves the blocks and the image table so.
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "engine/vi/objload.h"
#include "engine/vi/rtrsrc.h"
#include "fuzz_support.h"
#include "panel/oinit.h"
#include "panel/objimage.h"
#include "panel_fuzz_support.h"
#include "tools/dlgwriter.h"

namespace {

using Set = std::map<uInt32, rsrcw::Bytes>;
struct Base {
  int32 cls;
  Set templates;
};

const uInt32 kTypes[] = {kRsrcDDOD, kRsrcSNUM, kRsrcSLBX, kRsrcCosm, kRsrcMCos, kRsrcBCos, kRsrcLabl, kRsrcMLbl};
const int32 kClasses[] = {kClsDataDisplayObject, kClsGrouperObject, kClsNumeric, kClsColorBox, kClsColorRamp,
                          kClsRing, kClsBoolean, kClsString, kClsListbox, kClsCosmetic, kClsMultiCosmetic,
                          kClsBigMultiCosmetic, kClsLabel, kClsMultiLabel, kClsBigMultiLabel, kClsWizardData};

std::vector<Base> Bases() {
  using namespace dlgwriter;
  const Rect r{2, 3, 18, 60};
  const rsrcw::Bytes label = LabelTemplate(kLabelPartId, r, "Value");
  const rsrcw::Bytes labelled = DisplayTemplate(1, 0, {{kClsLabel, 1}});
  return {
      {kClsNumeric, {{kRsrcDDOD, labelled}, {kRsrcSNUM, NumericTemplate(10, 2)}, {kRsrcLabl, label}}},
      {kClsListbox, {{kRsrcDDOD, labelled}, {kRsrcSLBX, ListboxTemplate(1, 0x2003)}, {kRsrcLabl, label}}},
      {kClsBoolean, {{kRsrcDDOD, labelled}, {kRsrcLabl, label}}},
      {kClsCosmetic, {{kRsrcCosm, CosmeticTemplate(0, r)}}},
      {kClsMultiCosmetic, {{kRsrcMCos, MultiCosmeticTemplate(0, r, {{0, 3}, {0, 4}})}}},
      {kClsBigMultiCosmetic, {{kRsrcBCos, BigMultiCosmeticTemplate(0, {{r, 1, 2, {0, 5}}, {r, 3, 4, {0, 6}}})}}},
      {kClsMultiLabel, {{kRsrcMLbl, MultiLabelTemplate(0, r, {{0, 2}}, 1u << 16, {"one", "two"})}}},
  };
}

int32 Blocks(ObjHeap heap) {
  int32 n = 0;
  OHForEachBlockWith(heap, [](ObjHeap, int32, void* c) { return ++*static_cast<int32*>(c), 0; }, &n);
  return n;
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "invariant: %s\n", what);
    std::abort();
  }
}

void RunOne(ObjHeap heap, const std::vector<Base>& bases, const uint8_t* data, size_t size) {
  FuzzReader in{data, size};
  const uint8_t mode = in.Byte();
  int32 cls;
  Set set;
  if (mode & 1) {
    cls = kClasses[in.Byte() % (sizeof kClasses / sizeof kClasses[0])];
    for (uInt32 t : kTypes) set[t].assign(in.p, in.p + in.n);
  } else {
    const Base& b = bases[(mode >> 1) % bases.size()];
    cls = b.cls;
    set = b.templates;
    rsrcw::Bytes& t = std::next(set.begin(), in.Byte() % set.size())->second;
    const size_t cut = in.Byte();
    while (in.n >= 3) {
      const size_t at = (size_t(in.Byte()) << 8 | in.Byte()) % (t.size() + 1);
      const uint8_t v = in.Byte();
      if (at < t.size()) t[at] = v;
    }
    if (cut && cut < t.size()) t.resize(t.size() - cut);
  }
  rsrcw::Writer w(FourCC("APPL"), FourCC("QXrt"));
  for (const auto& [type, bytes] : set) w.Add(type, 1, bytes);
  const rsrcw::Bytes file = w.Write();
  const int32 live = FuzzLiveHandles();
  UHandle fh = AZNewHandle(int32(file.size()));
  if (!fh) return;
  std::memcpy(*fh, file.data(), file.size());
  RsrcFileRef ref = 0;
  if (ROpenFileOrHandle(nullptr, kRsrcReadOnly, &ref, nullptr, nullptr, fh) != kNoErr) return;
  SetRunTimeRsrcFile(ref);
  const int32 blocks = Blocks(heap), images = FPImageTableCount();
  const int32 object = OHNewBlock(heap, ClassRecord(cls)->instanceSize, cls);
  int32 made = 0;
  if (object) {
    FuzzArmed() = true;
    made = OInit(heap, object, Point{10, 20}, 1);
    FuzzArmed() = false;
    if (made) DisposeObjectTree(heap, made);
    Check(Blocks(heap) == blocks, "the heap's blocks are as before");
    Check(FPImageTableCount() == images, "no image is left held");
  }
  SetRunTimeRsrcFile(0);
  RCloseFile(ref);
  // A made object's data stays with the VI's data space (a listbox's rows).
  Check(made || FuzzLiveHandles() == live, "nothing outlives a refused object");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::vector<Base>* bases = [] {
    PanelInstallEngineHooks();
    MemSetDataSpaceInitHook(&AZPAllocInit);
    if (!FuzzStartManagers(FuzzAbortWhenArmed) || TypeHeapInit() != kNoErr || RInitResources() != kNoErr)
      return static_cast<std::vector<Base>*>(nullptr);
    // The image readers make their caches on first use: once, before counting.
    int32 ref = 1 << 16;
    SetRsrcCounter(0);
    FPLoadObjImage(0, &ref, nullptr, 0);
    return new std::vector<Base>(Bases());
  }();
  if (!bases || size > 1 << 14) return 0;
  // A VI of its own for each input: the data its objects take stays with it.
  UHandle vi = nullptr;
  ObjHeap heap = FuzzNewBoundPanel({}, &vi);
  if (!heap) return 0;
  if (RegisterVI(vi) == kNoErr) {
    RunOne(heap, *bases, data, size);
    UnregisterVI(vi);
  }
  FuzzDisposePanel(heap, vi);
  return 0;
}
