// The listbox's properties: rows, width, selection and keyboard modes, the
// scroll bar, symbols, the top and activated items, and the items' texts,
// symbols and disabled flags.  Values from property nodes are checked: array
// counts against their handles, indexes against the item count.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "controls/listbox.h"
#include "engine/objswap.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/window/textrec.h"
#include "panel/attrtd.h"
#include "panel/attrcall.h"
#include "panel/ctlattr.h"
#include "panel/ctrl_internal.h"
#include "panel/dataxfer.h"
#include "panel/oinval.h"
#include "panel/osupport.h"

QX_EXTERN_C int32 ListboxAttr(ObjHeap heap, int32 listbox, AttrCallRec* rec);

namespace {

const char kSource[] = "listboxattr";
constexpr int32 kListboxTable = 31;
constexpr int32 kMaxCoord = 16000, kMaxRight = 32767, kMinWidth = 64;

enum : int32 {
  kRows = 0, kWidth, kSelMode, kKeyMode, kScrollBar, kSymbols, kTop, kActivated, kTexts, kItemSymbols, kDisabled,
  kSelectorCount,
};

// ---- The table: descriptors in memory order ----------------------------------------------
using namespace attrtd;
const Bytes& Table() {
  static const Bytes t = [] {
    Bytes b{0, 0, kTDCluster, 0, uChar(kSelectorCount), 0};
    for (const Bytes& e : {Num(kTDI32), Num(kTDU32), Num(kTDI32), Num(kTDI32), Num(kTDBoolean), Num(kTDBoolean),
                           Num(kTDI32), Num(kTDI32), Arr(Str()), Arr(Num(kTDI32)), Arr(Num(kTDI32))})
      b.insert(b.end(), e.begin(), e.end());
    return Sized(b);
  }();
  return t;
}
const bool kEntered =
    (SetAttrTable(kListboxTable, reinterpret_cast<const TypeDescriptor*>(Table().data()), &ListboxAttr), true);

// ---- Array values ---------------------------------------------------------------------------

// A 1-D array value: its handle cell, element descriptor, count and element
// size; false for anything else or an array whose count overruns its handle.
struct ArrayValue {
  UHandle* cell;
  const TypeDescriptor* elem;
  int32 count, size;
};
bool ArrayOf(const TypeDescriptor* td, void* value, ArrayValue* a) {
  if (!td || !value || (td->code != kTDArray && td->code != kTDArrayView)) return false;
  const uChar* at = reinterpret_cast<const uChar*>(td);
  const int32 tdSize = GetNative16(at);
  if (int16(GetNative16(at + 4)) != 1 || tdSize < 14 || GetNative16(at + 10) < 4 || 10 + GetNative16(at + 10) > tdSize)
    return false;
  a->elem = SkipTypedefs(reinterpret_cast<const TypeDescriptor*>(at + 10));
  if (!a->elem) return false;
  a->size = DataSize(a->elem);
  a->cell = static_cast<UHandle*>(value);
  a->count = 0;
  if (a->size <= 0) return false;
  if (UHandle h = *a->cell) {
    if (DSCheckHandle(h) != kNoErr || !*h || DSGetHandleSize(h) < 4) return false;
    const int32 n = int32(GetNative32(*h));
    if (n < 0 || int64(n) * a->size > DSGetHandleSize(h) - 4) return false;
    a->count = n;
  }
  return true;
}
uChar* ElementAt(const ArrayValue& a, int32 i) { return **a.cell + 4 + a.size * i; }

// Gives the array n elements (see AttrResizeArray).
bool ResizeArray(ArrayValue* a, int32 n) {
  if (!AttrResizeArray(a->cell, a->elem, a->size, a->count, n)) return false;
  a->count = n;
  return true;
}

// The bytes of a string handle (none for null or a bad one).
int32 StrBytes(UHandle s, const uChar** p) {
  *p = nullptr;
  if (!s || DSCheckHandle(s) != kNoErr || !*s || DSGetHandleSize(s) < 4) return 0;
  const int32 n = int32(GetNative32(*s));
  if (n < 0 || n > DSGetHandleSize(s) - 4) return 0;
  *p = *s + 4;
  return n;
}
// Copies n bytes into the string cell (made when null); false on memory.
bool SetStr(UHandle* cell, const uChar* p, int32 n) {
  UHandle h = *cell;
  if (h && DSCheckHandle(h) != kNoErr) h = nullptr;
  if (!h) {
    if (!(h = DSNewHandle(4 + n))) return false;
    *cell = h;
  } else if (DSSetHandleSize(h, 4 + n) != kNoErr) {
    return false;
  }
  PutNative32(*h, uInt32(n));
  if (n) std::memcpy(*h + 4, p, size_t(n));
  return true;
}

bool IsNum(const TypeDescriptor* td) { return td && td->code >= kTDI8 && td->code <= kTDEXT; }

struct Ctx {
  ObjHeap heap;
  int32 lb;
  AttrCallRec* rec;
  const TypeDescriptor* td;
  void* value;
  uChar* data;
};

int32 GetInt(const Ctx& c, int32 v) {
  AttrGetNum(c.td, c.value, kTDI32, &v);
  return 0;
}
bool TakeInt(const Ctx& c, int32* v) { return AttrPutNum(c.td, c.value, kTDI32, v); }

int32 ReadArray(const Ctx& c, int32 sel) {
  ArrayValue a;
  if (!ArrayOf(c.td, c.value, &a)) return 0;
  int32 count;
  UHandle items = lb::Items(c.data, &count);
  std::vector<int32> nums;
  if (sel == kDisabled) {
    for (int32 i = 0; i < count; ++i)
      if (lb::Item(items, i)->flags & kLbItemDisabled) nums.push_back(i);
  } else {
    for (int32 i = 0; i < count; ++i) nums.push_back(int32(lb::Item(items, i)->symbol));
  }
  const int32 n = sel == kTexts ? count : int32(nums.size());
  if (sel == kTexts ? a.elem->code != kTDString : !IsNum(a.elem)) return 0;
  if (!ResizeArray(&a, n)) return kLbReplyFailed;
  for (int32 i = 0; i < n; ++i) {
    if (sel == kTexts) {
      items = lb::Items(lb::Data(c.heap, c.lb), &count);
      if (i >= count) break;
      const uChar* p;
      UHandle text = lb::Item(items, i)->text;
      const int32 len = StrBytes(text, &p);
      std::vector<uChar> copy(p, p + len);
      UHandle cell;
      std::memcpy(&cell, ElementAt(a, i), sizeof cell);
      if (!SetStr(&cell, copy.data(), len)) return kLbReplyFailed;
      std::memcpy(ElementAt(a, i), &cell, sizeof cell);
    } else {
      AttrGetNum(a.elem, ElementAt(a, i), kTDI32, &nums[size_t(i)]);
    }
  }
  return 0;
}

// Item texts written: the count follows the array; each text copied.
int32 WriteTexts(Ctx& c, bool* changed, bool* grew) {
  ArrayValue a;
  if (!ArrayOf(c.td, c.value, &a) || a.elem->code != kTDString) return 0;
  int32 count;
  lb::Items(c.data, &count);
  if (a.count != count) {
    if (ListboxSetItemCount(c.heap, c.lb, a.count) != kNoErr) return kLbReplyFailed;
    *changed = true, *grew = a.count > count;
    c.data = lb::Data(c.heap, c.lb);
  }
  UHandle items = lb::Items(c.data, &count);
  for (int32 i = 0; i < std::min(count, a.count); ++i) {
    UHandle s;
    std::memcpy(&s, ElementAt(a, i), sizeof s);
    const uChar *p, *old;
    const int32 n = StrBytes(s, &p);
    const int32 on = StrBytes(lb::Item(items, i)->text, &old);
    if (n == on && (n == 0 || std::memcmp(p, old, size_t(n)) == 0) && lb::Item(items, i)->text) continue;
    std::vector<uChar> copy(p, p + n);
    UHandle cell = lb::Item(items, i)->text;
    if (!SetStr(&cell, copy.data(), n)) return kLbReplyFailed;
    lb::Item(items, i)->text = cell;
    *changed = true;
  }
  return 0;
}

int32 WriteSymbols(Ctx& c, bool* changed) {
  ArrayValue a;
  if (!ArrayOf(c.td, c.value, &a) || !IsNum(a.elem)) return 0;
  int32 count;
  UHandle items = lb::Items(c.data, &count);
  for (int32 i = 0; i < count; ++i) {
    int32 sym = 0;
    if (i < a.count) AttrPutNum(a.elem, ElementAt(a, i), kTDI32, &sym);
    ListboxItem* it = lb::Item(items, i);
    if (it->symbol == uInt32(sym)) continue;
    const bool signChange = (int16(it->symbol & 0xFFFF) < 0) != (int16(sym & 0xFFFF) < 0);
    it->symbol = uInt32(sym);
    if (signChange) ListboxFixItemFlags(it);
    *changed = true;
  }
  return 0;
}

int32 WriteDisabled(Ctx& c, bool* changed) {
  ArrayValue a;
  if (!ArrayOf(c.td, c.value, &a) || !IsNum(a.elem)) return 0;
  int32 count;
  UHandle items = lb::Items(c.data, &count);
  std::vector<bool> listed(size_t(count), false);
  for (int32 k = 0; k < a.count; ++k) {
    int32 i = -1;
    AttrPutNum(a.elem, ElementAt(a, k), kTDI32, &i);
    if (i >= 0 && i < count) listed[size_t(i)] = true;
  }
  for (int32 i = 0; i < count; ++i) {
    ListboxItem* it = lb::Item(items, i);
    const uInt32 old = it->flags;
    if (listed[size_t(i)]) {
      it->flags = (it->flags | kLbItemDisabled | kLbItemUnselectable) & ~uInt32(kLbItemSelected);
    } else if (it->flags & kLbItemDisabled) {
      it->flags &= ~uInt32(kLbItemDisabled | kLbItemUnselectable);
      ListboxFixItemFlags(it);
    }
    *changed |= it->flags != old;
  }
  lb::ForgetMarks();
  return 0;
}

int32 SetTextRecordBar(ObjHeap heap, int32 lb, bool shown) {
  const int32 text = ctrl::WordOr0(heap, lb, kLbTextWord);
  TRecord r = ctrl::IsObj(heap, text) ? PartTextRecord(heap, text) : nullptr;
  if (r && *r) {
    TRecordData* d = TRData(r);
    d->mode = shown ? d->mode | kTRModeVBar : d->mode & ~uInt32(kTRModeVBar);
  }
  return 0;
}

}  // namespace

int32 ListboxAttr(ObjHeap heap, int32 lb, AttrCallRec* rec) {
  if (!rec) return 0;
  const int32 sel = rec->selector;
  if (sel < 0 || sel >= kSelectorCount) {
    char text[64];
    std::snprintf(text, sizeof text, "bad index in ListboxAttr %ld", long(sel));
    DBPrintf("%s", text);
    if (rec->read) DBAssert(kSource, __LINE__, text);
    return 0;
  }
  Ctx c{heap, lb, rec, AttrValueTD(rec), rec->value, lb::Data(heap, lb)};
  if (!c.data) return 0;
  const bool read = rec->read != 0;
  if (!read || sel == kActivated) {
    if (read) {
      GetInt(c, lb::Activated(c.data));
      lb::SetActivated(c.data, -1);
      return 0;
    }
    lb::SetActivated(c.data, -1);
  }
  const uInt32 flags = lb::Flags(heap, lb);
  int32 count;
  lb::Items(c.data, &count);
  if (read) {
    switch (sel) {
      case kRows: return GetInt(c, ObjInt16(heap, lb, kLbRowsByte));
      case kWidth: {
        const Rect r = ctrl::BoundsOf(heap, lb);
        const uInt32 w = uInt32(r.right - r.left);
        AttrGetNum(c.td, c.value, kTDU32, &w);
        return 0;
      }
      case kSelMode: return GetInt(c, int32(flags & kLbSelModeMask));
      case kKeyMode: return GetInt(c, (flags & kLbKeysCaseSensitive) ? 1 : (flags & kLbKeysCaseInsensitive) ? 2 : 0);
      case kScrollBar: AttrPutBool(c.td, c.value, !(flags & kLbNoScrollBar)); return 0;
      case kSymbols: AttrPutBool(c.td, c.value, flags & kLbShowSymbols); return 0;
      case kTop: return GetInt(c, lb::Top(c.data));
      default: return ReadArray(c, sel);
    }
  }
  int32 reply = 0, v = 0;
  bool changed = false, grew = false;
  bool on = false;
  switch (sel) {
    case kRows:
      if (!TakeInt(c, &v)) return 0;
      if (ListboxSetRowCount(heap, lb, std::clamp(v, 1, kMaxCoord))) reply |= 0x20080, ListboxPinTopItem(heap, lb);
      return reply;
    case kWidth: {
      uInt32 w = 0;
      if (!AttrPutNum(c.td, c.value, kTDU32, &w)) return 0;
      Rect r = ctrl::BoundsOf(heap, lb);
      const int32 width = int32(std::clamp<uInt32>(w, kMinWidth, uInt32(std::max(kMaxCoord - r.left, kMinWidth))));
      r.right = int16(std::min<int32>(r.left + width, kMaxRight));
      OInval(heap, lb, kInvalAll);
      OSize(heap, lb, &r, 0);
      OInval(heap, lb, kInvalAll);
      return 0x20080;
    }
    case kSelMode:
      if (TakeInt(c, &v) && v >= 0 && v < 4 && uInt32(v) != (flags & kLbSelModeMask))
        lb::SetFlags(heap, lb, (flags & ~uInt32(kLbSelModeMask)) | uInt32(v)), changed = true;
      break;
    case kKeyMode: {
      if (!TakeInt(c, &v)) return 0;
      const uInt32 keys = v == 1 ? uInt32(kLbKeysCaseSensitive) : v == 2 ? uInt32(kLbKeysCaseInsensitive) : 0u;
      const uInt32 now = (flags & ~uInt32(kLbKeysCaseSensitive | kLbKeysCaseInsensitive)) | keys;
      if (now != flags) lb::SetFlags(heap, lb, now), changed = true;
      break;
    }
    case kScrollBar:
      if (AttrGetBool(c.td, c.value, &on) && on == bool(flags & kLbNoScrollBar)) {
        lb::SetFlags(heap, lb, flags ^ kLbNoScrollBar);
        SetTextRecordBar(heap, lb, on);
        changed = true;
      }
      break;
    case kSymbols:
      if (AttrGetBool(c.td, c.value, &on) && on != bool(flags & kLbShowSymbols)) {
        lb::SetFlags(heap, lb, flags ^ kLbShowSymbols);
        // The rows take the symbols' height and the text moves beside them.
        if (ListboxCalcRowHeight(heap, lb)) reply |= kAttrReplyResized;
        ListboxLayoutParts(heap, lb);
        c.data = lb::Data(heap, lb);
        changed = true;
      }
      break;
    case kTop:
      if (TakeInt(c, &v)) {
        const int32 top = std::clamp(v, 0, std::max(count - lb::Rows(heap, lb), 0));
        if (top != lb::Top(c.data)) lb::SetTop(c.data, top), changed = true;
      }
      break;
    case kActivated: break;
    case kTexts:
      reply |= WriteTexts(c, &changed, &grew);
      if (changed && (c.data = lb::Data(heap, lb))) {
        lb::SetTop(c.data, 0);
        if (grew) ListboxApplySelection(heap, lb, lb::Value(heap, lb), 0);
      }
      break;
    case kItemSymbols: reply |= WriteSymbols(c, &changed); break;
    case kDisabled: reply |= WriteDisabled(c, &changed); break;
  }
  if (changed) {
    reply |= kLbReplyState;
    if (!rec->hidden) {
      OInval(heap, lb, kInvalAll);
      reply |= kLbReplyInvalidated;
    }
  }
  return reply;
}
