// Tag lists come from external code and diagrams: the list's count, its
// name handles and their lengths are whatever the caller passed.  A list
// that fails its checks answers 1 and leaves the installed list as it was;
// an accepted one is installed name for name.  Nothing is left behind.
// Rings and labels come from stored panels: their item counts, text lists,
// part ids, orders and keys are whatever the file held; item edits keep the
// count they report in step and stay inside their blocks.  A text part's
// word names a text record, a counted text or anything at all: keys, cuts,
// pastes and commits reach only whole records and leave them whole.  The
// ring's menus hold an item for each text or record that fits its block.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/menus.h"
#include "engine/objswap.h"
#include "engine/panelrec.h"
#include "engine/vi/panelroutines.h"
#include "panel/objects.h"
#include "panel/osupport.h"
#include "panel/zktag.h"
#include "panel_fuzz_support.h"

namespace {

using Input = FuzzReader;

std::vector<std::string> Installed() {
  std::vector<std::string> v;
  UHandle l = TagListHandle();
  const uChar* text = nullptr;
  int32 attrs = 0;
  const int32 n = TagListItem(nullptr, 0, l, &text, &attrs, -1);
  for (int32 i = 0; i < n; ++i) {
    const int32 len = TagListItem(nullptr, 0, l, &text, &attrs, i);
    v.emplace_back(reinterpret_cast<const char*>(text), size_t(len));
  }
  return v;
}

void FuzzTagList(Input& in) {
  // A pool of real names (one freed), then a list whose words come from
  // the input: pool entries by selector or raw words.
  std::vector<UHandle> pool;
  for (int i = 0; i < 4; ++i) {
    const int32 len = in.Byte() % 12;
    UHandle h = DSNewHandle(4 + len + in.Byte() % 4);
    if (!h) break;
    reinterpret_cast<LStr*>(*h)->cnt = in.Byte() < 240 ? len : int32(in.Word());
    for (int32 k = 0; k < len; ++k) (*h)[4 + k] = in.Byte();
    pool.push_back(h);
  }
  UHandle freed = DSNewHandle(8);
  if (freed) DSDisposeHandle(freed);
  const int32 size = 4 + in.Byte() % 40;
  UHandle list = DSNewHClr(size);
  if (list) {
    PutNative32(*list, in.Byte() < 200 ? uInt32(in.Byte() % 10) : in.Word());
    for (int32 at = 4; at + 5 <= size; at += 5) {
      const uint8_t sel = in.Byte();
      UHandle name = sel < 4 && size_t(sel) < pool.size() ? pool[sel] : sel < 8 ? freed : nullptr;
      PutNative32(*list + at, sel < 8 ? uInt32(uintptr_t(name)) : in.Word());
      (*list)[at + 4] = in.Byte();
    }
    const std::vector<std::string> before = Installed();
    const MgErr err = InstallTagList(list);
    FUZZ_CHECK(err == kNoErr || err == kArgErr);
    const std::vector<std::string> after = Installed();
    if (err) {
      FUZZ_CHECK(after == before);
    } else {
      const int32 n = int32(GetNative32(*list));
      FUZZ_CHECK(int32(after.size()) == n);
      for (int32 i = 0; i < n; ++i) {
        LStrHandle name = reinterpret_cast<LStrHandle>(uintptr_t(GetNative32(*list + 4 + 5 * i)));
        FUZZ_CHECK(after[size_t(i)] == std::string(reinterpret_cast<const char*>((*name)->str), size_t((*name)->cnt)));
        FUZZ_CHECK(StringInTagList(name) == 1);
      }
    }
    DSDisposeHandle(list);
  }
  for (UHandle h : pool) DSDisposeHandle(h);
}

void FuzzObjects(Input& in) {
  UHandle vi = nullptr;
  ObjHeap heap = FuzzNewBoundPanel({tdb::I32()}, &vi);
  if (!heap) return;
  // A ring and a control whose parts come from the input.
  const int32 ring = vib::NewObject(heap, kClsRing, ClassRecord(kClsRing)->instanceSize);
  const int32 display = vib::NewObject(heap, kClsNumeric, ClassRecord(kClsNumeric)->instanceSize);
  const int32 owners[] = {ring, display};
  UHandle texts = nullptr;
  std::vector<int32> parts;
  std::vector<UHandle> words;  // the records and counted texts made for text words
  for (int32 k = in.Byte() % 10; k > 0; --k) {
    const int32 owner = owners[in.Byte() & 1];
    const int16 id = int16(in.Byte() < 128 ? in.Byte() % 32 : int16(in.Word()));
    const int32 size = 28 + 4 * (in.Byte() % 12);
    const int32 part = vib::NewObject(heap, kClsLabel, size, owner, id, int16(in.Byte() % 4));
    if (!part) break;
    PutNative16(*heap + part + kObjPartKey, in.Byte() < 200 ? 0 : in.Byte());
    parts.push_back(part);
    if (size >= 4 * (kPWLabelText + 1) && id != kRingTextPart) {
      // The text word: a record of input text, a counted text, or a raw word.
      const uint8_t kind = in.Byte() % 3;
      uChar bytes[16];
      const int32 n = in.Byte() % 16;
      for (int32 i = 0; i < n; ++i) bytes[i] = in.Byte();
      const Rect view{0, 0, int16(in.Byte() % 40), int16(in.Byte() % 80)};
      UHandle h = kind == 0 ? TNew(&view, in.Byte() % 5, bytes, n, kAppFont, 0, kTransparentColor)
                  : kind == 1 ? DSNewHClr(4 + n)
                              : nullptr;
      if (kind == 1 && h) PutNative32(*h, uInt32(n));
      if (h) words.push_back(h);
      ObjSetWord(heap, part, kPWLabelText, kind == 2 ? int32(in.Word()) : int32(uintptr_t(h)));
    }
    if (size >= kRingItemsAt) PutNative16(*heap + part + kRingItemCountAt, uInt16(in.Byte() % 6));
    if (id == kRingTextPart && size >= kRingTextWord + 4 && !texts) {
      // A text list whose count and lengths come from the input.
      texts = DSNewHClr(4 + in.Byte() % 24);
      if (texts) {
        PutNative32(*texts, in.Byte() % 8);
        for (int32 i = 4; i < DSGetHandleSize(texts); ++i) (*texts)[i] = in.Byte() % 8;
        OHSetWord(heap, uInt32(part + kRingTextWord), uInt32(uintptr_t(texts)));
      }
    }
  }
  for (int32 op = in.Byte() % 8; op > 0 && in.n; --op) {
    const int32 before = RingItemCountChecked(heap, ring);
    const int32 index = int8_t(in.Byte());
    switch (in.Byte() % 6) {
      case 0: {
        const uChar text[] = "\002ab";
        const MgErr err = RingInsertItem(heap, ring, text, nullptr, index, in.Byte() & 1);
        if (err == kNoErr) FUZZ_CHECK(RingItemCountChecked(heap, ring) == before + 1);
        break;
      }
      case 1:
        if (RingRemoveItem(heap, ring, index) == kNoErr) FUZZ_CHECK(RingItemCountChecked(heap, ring) == before - 1);
        break;
      case 2: FindPart(heap, owners[index & 1], in.Byte() % 32, index < 0 ? kPartOrderHighest : index % 4); break;
      case 3: {
        const PStr label = GetCtrlLabel(heap, display);
        FUZZ_CHECK(label[0] == 0 || (label[1] != ' ' && label[label[0]] != ' '));
        break;
      }
      case 4: {
        if (parts.empty()) break;
        const int32 part = parts[size_t(uint8_t(index)) % parts.size()];
        TRecord had = PartTextRecord(heap, part);
        ActionParams p{};
        p.eventCode = 1 + in.Byte() % 7;
        p.keyCode = in.Byte() % 40;
        p.character = in.Byte();
        p.modifiers = in.Byte() & 0x22;
        p.selStart = int8_t(in.Byte());
        p.selEnd = int8_t(in.Byte());
        p.flags = in.Byte() & 1;
        ObjSetWord(heap, part, 0, int32(in.Word() & 0x20220008));
        const int32 r = TextPartDoit(heap, part, &p, 0);
        FUZZ_CHECK(had ? PartTextRecord(heap, part) == had && p.text == had : (r & 1) == 0);
        break;
      }
      case 5: {
        // The pop-up menus built, not shown: an item per checked text or record.
        if (MenuHandle m = RingBuildPopupMenu(heap, ring, index, in.Byte())) {
          FUZZ_CHECK(MCountItems(m) == before);
          MDisposeMenu(m);
        }
        const int32 table = FindPart(heap, ring, kRingTablePart, 0);
        if (MenuHandle m = PictMenuBuild(heap, table, FindPart(heap, ring, kRingTextPart, 0), Point{0, 0}, 0, 1,
                                         index)) {
          FUZZ_CHECK(MCountItems(m) == ObjInt16(heap, table, kRingItemCountAt));
          MDisposeMenu(m);
        }
        break;
      }
    }
  }
  if (texts) DSDisposeHandle(texts);
  for (UHandle h : words)
    if (TCheckedRecord(uInt32(uintptr_t(h))) == h) TDispose(h);
    else DSDisposeHandle(h);
  FuzzDisposePanel(heap, vi);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool init = [] {
    PanelInstallEngineHooks();
    // The text clipboard lives from its first use on: made before any count.
    if (!FuzzStartManagers(FuzzAbortWhenArmed)) return false;
    // The menu font is made on the first menu: made before any count.
    MenuHandle m = nullptr;
    if (MNewLMenu(&m, reinterpret_cast<ConstPStr>("\0"), 1) != kNoErr) return false;
    MDisposeMenu(m);
    return TypeHeapInit() == kNoErr && InitTagLists() == kNoErr && PanelTextClipboard() != nullptr;
  }();
  if (!init || size > 4096) return 0;
  Input in{data, size};
  const int32 live = FuzzLiveHandles();
  if (in.Byte() & 1) {
    FuzzArmed() = true;
    FuzzTagList(in);
    FuzzArmed() = false;
  } else {
    FuzzObjects(in);
  }
  // The installed list's own handles come and go with its length.
  FUZZ_CHECK(InstallTagList(nullptr) == kNoErr);
  FUZZ_CHECK(FuzzLiveHandles() == live);
  return 0;
}
