// Preloaded panel blocks come from the run-time resource file.  The input is
// either a block of its own or one of the writer's dialog blocks with bytes
// patched and its end cut.  The block is built into a fresh dialog panel with
// the object system's class table: nothing may be reported, a refused block
// answers 1, a built one has every item and navigation slot naming a live
// object of the panel, and nothing outlives the panel.
#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

#include "engine/dsalloc.h"
#include "engine/typemgr.h"
#include "engine/vi/dlgpanel.h"
#include "engine/vi/objload.h"
#include "fuzz_support.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/image.h"
#include "panel/fppanel.h"
#include "panel/oinit.h"
#include "tools/dlgwriter.h"

namespace {

std::set<int32> Blocks(ObjHeap heap) {
  std::set<int32> s;
  OHForEachBlockWith(
      heap,
      [](ObjHeap, int32 offset, void* c) {
        static_cast<std::set<int32>*>(c)->insert(offset);
        return 0;
      },
      &s);
  return s;
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "invariant: %s\n", what);
    std::abort();
  }
}

void RunOne(const std::vector<rsrcw::Bytes>& bases, const uint8_t* data, size_t size, bool counted = true) {
  FuzzReader in{data, size};
  rsrcw::Bytes block;
  const uint8_t mode = in.Byte();
  if (mode & 1) {
    block.assign(in.p, in.p + in.n);
  } else {
    block = bases[(mode >> 1) % bases.size()];
    const size_t cut = in.Byte() << 8 | in.Byte();
    while (in.n >= 3) {
      const size_t at = (size_t(in.Byte()) << 8 | in.Byte()) % (block.size() + 1);
      const uint8_t v = in.Byte();
      if (at < block.size()) block[at] = v;
    }
    if (cut && cut < block.size()) block.resize(block.size() - cut);
  }
  const int32 live = FuzzLiveHandles();
  ObjHeap heap = OHNewHeap(2000, kPanelHeapKind, kHeapExtensionSize, kClsObjHeapHdrExtension);
  const int32 root = heap ? FPNewPanelRoot(heap) : 0;
  UHandle h = AZNewHandle(int32(block.size()));
  if (root && h) {
    if (!block.empty()) std::memcpy(*h, block.data(), block.size());
    const int32 ext = int32(OHWord(heap, kOHExtension));
    PutNative32(*heap + ext + kHeapExtRoot, uInt32(root));
    FuzzArmed() = true;
    const int32 r = LoadDlgPanel(heap, h);
    FuzzArmed() = false;
    Check(r == 0 || r == 1, "the result is 0 or 1");
    if (r == 0) {
      const std::set<int32> blocks = Blocks(heap);
      const int32 items = int32(OHWord(heap, uInt32(root + kRootItemList)));
      const int32 nav = int32(OHWord(heap, uInt32(root + kRootKeyNav)));
      Check(items && blocks.count(items), "a built panel has its item list");
      for (int32 i = 0; i < ObjListCount(heap, items); ++i)
        Check(blocks.count(ObjListGet(heap, items, i)) == 1, "an item is a live object");
      Check(nav && ObjListCount(heap, nav) == kKeyNavSlots, "the navigation has 55 slots");
      for (int32 s = 0; s < kKeyNavSlots; ++s) {
        const int32 o = ObjListGet(heap, nav, s);
        Check(o == 0 || blocks.count(o) == 1, "a navigation slot is empty or a live object");
      }
    }
  }
  if (h) AZDisposeHandle(h);
  if (heap) {
    ODisposeHeapObjects(heap);
    OHDisposeHeap(heap);
  }
  if (counted) Check(FuzzLiveHandles() == live, "nothing outlives the panel");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::vector<rsrcw::Bytes>* bases = [] {
    PanelInstallEngineHooks();
    MemSetDataSpaceInitHook(&AZPAllocInit);
    if (!FuzzStartManagers(FuzzAbortWhenArmed)) return static_cast<std::vector<rsrcw::Bytes>*>(nullptr);
    // The image table is the process's, made at start-up as the window
    // manager makes it: a label's image must not be the first to make it.
    if (IInitImageTable(350) != kNoErr) return static_cast<std::vector<rsrcw::Bytes>*>(nullptr);
    auto* blocks = new std::vector<rsrcw::Bytes>{dlgwriter::DialogBlock(dlgwriter::LoadProgressDialog()),
                                                 dlgwriter::DialogBlock(dlgwriter::StatusDialog())};
    // What the first load keeps for the whole run (its texts and lists,
    // made once on first use) is made before any run is counted.
    RunOne(*blocks, nullptr, 0, false);
    return blocks;
  }();
  if (!bases || size > 1 << 16) return 0;
  RunOne(*bases, data, size);
  return 0;
}
