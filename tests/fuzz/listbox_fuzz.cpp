// Listboxes whose flags, rows, items, texts, symbols, top and activated
// items and value are whatever the panel data held, then worked by keys,
// moves of the selection and property writes from the rest of the input.
// After each step the stored value is the selected items in ascending order
// (or the highest one), and the top row stays within 0..max(count - rows, 0);
// nothing is read outside a block (the sanitizers watch).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "controls/listbox.h"
#include "fuzz_support.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "mgsource/window/winproc.h"
#include "panel/attrcall.h"
#include "panel_fuzz_support.h"
#include "platform/qx_time.h"
#include "tools/tdbuilder.h"

QX_EXTERN_C int32 ListboxAttr(ObjHeap heap, int32 listbox, AttrCallRec* rec);

namespace {

using Input = FuzzReader;

std::vector<int32> Selected(ObjHeap heap, int32 lbo) {
  int32 count;
  UHandle items = lb::Items(lb::Data(heap, lbo), &count);
  std::vector<int32> s;
  for (int32 i = 0; i < count; ++i)
    if (lb::Item(items, i)->flags & kLbItemSelected) s.push_back(i);
  return s;
}

void CheckValue(ObjHeap heap, int32 lbo) {
  uChar* v = static_cast<uChar*>(lb::Value(heap, lbo));
  if (!v) return;
  const std::vector<int32> sel = Selected(heap, lbo);
  if (!(lb::Flags(heap, lbo) & kLbArrayValue)) {
    FUZZ_CHECK(int32(GetNative32(v)) == (sel.empty() ? -1 : sel.back()));
    return;
  }
  UHandle a = reinterpret_cast<UHandle>(uintptr_t(GetNative32(v)));
  if (!a) {
    FUZZ_CHECK(sel.empty());
    return;
  }
  FUZZ_CHECK(int32(GetNative32(*a)) == int32(sel.size()));
  for (size_t i = 0; i < sel.size(); ++i) FUZZ_CHECK(int32(GetNative32(*a + 4 + 4 * i)) == sel[i]);
}

void CheckTop(ObjHeap heap, int32 lbo) {
  uChar* d = lb::Data(heap, lbo);
  int32 count;
  lb::Items(d, &count);
  const int32 top = lb::Top(d);
  FUZZ_CHECK(top >= 0 && top <= std::max(count - lb::Rows(heap, lbo), 0));
}

// A property write of a number or of an array of numbers.
void WriteProperty(Input& in, ObjHeap heap, int32 lbo) {
  const int32 selector = in.Byte() % 12;
  const bool array = selector >= 8;
  std::vector<uChar> td = (array ? tdb::Array(tdb::I32()) : tdb::I32()).Bytes();
  UHandle types = DSNewHandle(int32(td.size()));
  if (!types) return;
  std::memcpy(*types, td.data(), td.size());
  int32 number = int32(in.Word());
  UHandle values = nullptr;
  if (array) {
    const int32 n = in.Byte() % 12;
    if ((values = DSNewHandle(4 + 4 * n))) {
      PutNative32(*values, uInt32(n));
      for (int32 i = 0; i < n; ++i) PutNative32(*values + 4 + 4 * i, uInt32(int32(in.Byte()) - 20));
    }
  }
  AttrCallRec rec{};
  rec.types = types, rec.selector = selector, rec.value = array ? static_cast<void*>(&values) : &number;
  if (selector != 8) {  // texts need string elements: an array of numbers changes nothing
    const int32 reply = ListboxAttr(heap, lbo, &rec);
    FUZZ_CHECK(!(reply & kAttrReplyForbidden));
  }
  if (values) DSDisposeHandle(values);
  DSDisposeHandle(types);
}

void FuzzListbox(Input& in, ObjHeap heap, int32 root) {
  const uInt32 flags = in.Word() & 0xFC3F;
  const int32 lbo = FuzzNewControl(heap, root, (flags & kLbArrayValue) ? tdb::Array(tdb::I32()) : tdb::I32(),
                                   kClsListbox);
  if (!lbo || !lb::Data(heap, lbo)) return;
  ObjSetWord(heap, lbo, kLbFlagsWord, int32(flags));
  const int16 rows = int16(int32(in.Byte() % 12) - 1), height = int16(in.Byte() % 30);
  std::memcpy(*heap + lbo + kLbRowsByte, &rows, 2);
  std::memcpy(*heap + lbo + kLbRowHeightByte, &height, 2);
  const int32 count = in.Byte() % 24;
  if (ListboxSetItemCount(heap, lbo, count) != kNoErr) return;
  int32 n;
  UHandle items = lb::Items(lb::Data(heap, lbo), &n);
  for (int32 i = 0; i < n; ++i) {
    ListboxItem* it = lb::Item(items, i);
    it->flags = in.Word(), it->symbol = in.Word();
    const int32 len = in.Byte() % 6 - 1;  // -1: no text
    if (len >= 0) {
      UHandle t = DSNewHandle(4 + len);
      if (!t) continue;
      items = lb::Items(lb::Data(heap, lbo), &n);
      PutNative32(*t, uInt32(len));
      for (int32 k = 0; k < len; ++k) (*t)[4 + k] = "abAB r-"[in.Byte() % 7];
      lb::Item(items, i)->text = t;
    }
  }
  uChar* d = lb::Data(heap, lbo);
  lb::SetTop(d, int16(in.Word())), lb::SetActivated(d, int16(in.Word()));
  // The value as stored: an index, or an array of any indexes.
  if (uChar* v = static_cast<uChar*>(lb::Value(heap, lbo))) {
    if (flags & kLbArrayValue) {
      const int32 k = in.Byte() % 5;
      if (UHandle a = DSNewHandle(4 + 4 * k)) {
        PutNative32(*a, uInt32(k));
        for (int32 i = 0; i < k; ++i) PutNative32(*a + 4 + 4 * i, uInt32(int32(in.Byte()) - 10));
        if (UHandle old = reinterpret_cast<UHandle>(uintptr_t(GetNative32(v)))) DSDisposeHandle(old);
        PutNative32(v, uInt32(uintptr_t(a)));
      }
    } else {
      PutNative32(v, in.Word() % 40 - 10);
    }
  }
  ListboxApplySelection(heap, lbo, lb::Value(heap, lbo), 0);
  ListboxPinTopItem(heap, lbo);
  ListboxStoreSelection(heap, lbo, nullptr, nullptr);
  CheckValue(heap, lbo), CheckTop(heap, lbo);
  static const int32 kKeys[] = {vkUp, vkDown, vkLeft, vkRight, vkHome, vkEnd, vkPageUp, vkPageDown, vkAscii, 2, 38};
  for (int32 step = 0; step < 32 && in.n; ++step) {
    switch (in.Byte() % 4) {
      case 0: case 1:
        ListboxKey(heap, lbo, kKeys[in.Byte() % 11], "ab Br\n"[in.Byte() % 6], in.Byte() & 1);
        break;
      case 2: ListboxMoveSelected(heap, lbo, int32(in.Byte() % 30) - 2); break;
      default: WriteProperty(in, heap, lbo); break;
    }
    ListboxStoreSelection(heap, lbo, nullptr, nullptr);
    CheckValue(heap, lbo), CheckTop(heap, lbo);
    PlatTickShift(in.Byte() % 3 * 600);
  }
  // Everything the listbox holds is released.
  ListboxSetItemCount(heap, lbo, 0);
  if ((d = lb::Data(heap, lbo))) {
    if (UHandle h = reinterpret_cast<UHandle>(uintptr_t(GetNative32(d + kLbDataItems)))) DSDisposeHandle(h);
    PutNative32(d + kLbDataItems, 0);
  }
  if (uChar* v = static_cast<uChar*>(lb::Value(heap, lbo)); v && (flags & kLbArrayValue)) {
    if (UHandle a = reinterpret_cast<UHandle>(uintptr_t(GetNative32(v)))) DSDisposeHandle(a);
    PutNative32(v, 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool init = [] {
    PanelInstallEngineHooks();
    MemSetDataSpaceInitHook(&AZPAllocInit);
    return FuzzStartManagers(FuzzAbortWhenArmed) && TypeHeapInit() == kNoErr;
  }();
  if (!init || size > 4096) return 0;
  Input in{data, size};
  const int32 live = FuzzLiveHandles();
  ListboxResetTypeAhead();
  UHandle vi = nullptr;
  ObjHeap heap = FuzzNewRegisteredPanel(&vi);
  if (!heap) return 0;
  const int32 root = FuzzPanelRoot(heap);
  FuzzArmed() = true;
  FuzzListbox(in, heap, root);
  FuzzArmed() = false;
  UnregisterVI(vi);
  FuzzDisposePanel(heap, vi);
  FUZZ_CHECK(FuzzLiveHandles() == live);
  return 0;
}
