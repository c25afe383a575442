// The listbox's items, selection, keys, type-ahead, scrolling and moving of
// selected items.  Everything from the panel data is checked: the item count
// against its handle, indexes against the count, texts within their handles.
#include "controls/listbox.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/objswap.h"
#include "engine/typemgr.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/virecord.h"
#include "mgsource/datetime.h"
#include "mgsource/debug.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/image.h"
#include "mgsource/memory.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/sbar.h"
#include "mgsource/window/winproc.h"
#include "panel/ctrl_internal.h"
#include "panel/datamsg.h"
#include "panel/objects.h"
#include "panel/oinit.h"
#include "panel/oinval.h"
#include "panel/osupport.h"
#include "panel/paneldisplay.h"
#include "panel/popup.h"
#include "panel/operate.h"
#include "panel/transact.h"
#include "platform/qx_sysinfo.h"
#include "rtlib/arraysize.h"

namespace {

constexpr int32 kNoSelectionClass = 150;  // an owner for which the selection is not stored
constexpr int32 kI32 = 3;
constexpr uInt32 kTypeAheadMs = 1000;
constexpr int32 kTypeAheadMax = 255;

// The type-ahead shared by all listboxes: the prefix and the time of the
// last typed character (0 when none is in progress).
uChar gPrefix[kTypeAheadMax];
int32 gPrefixLen = 0;
uInt32 gLastTyped = 0;

uInt32 Get32(const uChar* p) {
  uInt32 v;
  std::memcpy(&v, p, 4);
  return v;
}
void Put32(uChar* p, uInt32 v) { std::memcpy(p, &v, 4); }

int32 Clamp(int32 v, int32 lo, int32 hi) { return v < lo ? lo : v > hi ? hi : v; }

bool Selectable(const ListboxItem* it) { return !(it->flags & (kLbItemUnselectable | kLbItemSeparator)); }

// The text of an item: its bytes and length, none for a null or short handle.
int32 TextOf(const ListboxItem* it, const uChar** bytes) {
  *bytes = nullptr;
  UHandle h = it->text;
  const int32 size = h ? DSHandleSizeOrNone(h) : -1;
  if (size < 4) return 0;
  const int32 n = int32(Get32(*h));
  if (n < 0 || n > size - 4) return 0;
  *bytes = *h + 4;
  return n;
}

int Fold(uChar c, bool sensitive) { return sensitive ? c : (c >= 'a' && c <= 'z') ? c - 32 : c; }

// Three-way compare of a and b over their common length, then by length.
int Compare(const uChar* a, int32 an, const uChar* b, int32 bn, bool sensitive) {
  const int32 n = std::min(an, bn);
  for (int32 i = 0; i < n; ++i) {
    const int d = Fold(a[i], sensitive) - Fold(b[i], sensitive);
    if (d) return d < 0 ? -1 : 1;
  }
  return (an > bn) - (an < bn);
}

bool InTextEntry(ObjHeap heap) { return OHWord(heap, kOHFlags) & kHeapFlagTextEntry; }

// The listbox operates when it is a control, or when its panel is in text
// entry; an indicator otherwise only scrolls.
bool Operates(ObjHeap heap, int32 listbox) {
  return !(uInt32(ObjWord(heap, listbox, 0)) & kObjFlagIndicator) || InTextEntry(heap);
}

bool OwnerStoresNothing(ObjHeap heap, int32 listbox) {
  const int32 owner = ObjWord(heap, listbox, 1);
  return owner > 0 && OHIsUsedBlock(heap, owner) && OHBlockClass(heap, owner) == kNoSelectionClass;
}

// Redraws the rows and the bar, or invalidates them where drawing waits.
void RedrawList(ObjHeap heap, int32 listbox) {
  const int32 list = FindPart(heap, listbox, kLbListPart, 0);
  if (list && OHIsUsedBlock(heap, list)) ListboxSyncScrollBar(heap, listbox);
  else OInval(heap, listbox, kInvalAll);
}

// Rows whose look changed, redrawn together; past its room the whole list.
struct ChangedRows {
  static constexpr int32 kRoom = 40;
  int32 n = 0, at[kRoom];
  bool all = false;
  void Add(int32 i) {
    if (n < kRoom) at[n++] = i;
    else all = true;
  }
};

}  // namespace

// ---- Access --------------------------------------------------------------------------------

namespace lb {

bool IsListbox(ObjHeap heap, int32 listbox) {
  return heap && *heap && listbox > 0 && OHIsUsedBlock(heap, listbox) &&
         OHBlockClass(heap, listbox) == kClsListbox && OHBlockSize(heap, listbox) >= kLbRowsByte + 2;
}

uChar* Data(ObjHeap heap, int32 listbox) {
  if (!IsListbox(heap, listbox)) return nullptr;
  const int32 off = ObjWord(heap, listbox, kLbDataWord);
  UHandle vi = PanelHeapOwner(heap);
  UHandle ds = vi && *vi ? VIRec(vi)->dataSpace : nullptr;
  if (off <= 0 || !ds || !*ds || int64(off) + kLbDataSize > DSGetHandleSize(ds)) return nullptr;
  return *ds + off;
}

UHandle Items(const uChar* data, int32* count) {
  *count = 0;
  if (!data) return nullptr;
  UHandle h = reinterpret_cast<UHandle>(uintptr_t(Get32(data + kLbDataItems)));
  if (!h || !(DSCheckHandle(h) == kNoErr) || !*h) return h && (DSCheckHandle(h) == kNoErr) ? h : nullptr;
  const int32 size = DSGetHandleSize(h);
  const int32 n = size >= 4 ? int32(Get32(*h)) : 0;
  *count = n >= 0 && int64(n) * int64(sizeof(ListboxItem)) <= size - 4 ? n : 0;
  return h;
}

int16 Top(const uChar* data) {
  int16 v;
  std::memcpy(&v, data + kLbDataTop, 2);
  return v;
}
void SetTop(uChar* data, int32 top) {
  const int16 v = int16(top);
  std::memcpy(data + kLbDataTop, &v, 2);
}
int16 Activated(const uChar* data) {
  int16 v;
  std::memcpy(&v, data + kLbDataActivated, 2);
  return v;
}
void SetActivated(uChar* data, int32 item) {
  const int16 v = int16(item);
  std::memcpy(data + kLbDataActivated, &v, 2);
}
uInt32 Flags(ObjHeap heap, int32 listbox) { return uInt32(ObjWord(heap, listbox, kLbFlagsWord)); }
void SetFlags(ObjHeap heap, int32 listbox, uInt32 flags) { ObjSetWord(heap, listbox, kLbFlagsWord, int32(flags)); }
int32 Rows(ObjHeap heap, int32 listbox) { return std::max<int32>(ObjInt16(heap, listbox, kLbRowsByte), 1); }

void* Value(ObjHeap heap, int32 listbox) {
  if (!IsListbox(heap, listbox)) return nullptr;
  return reinterpret_cast<void*>(uintptr_t(uInt32(OGetDataPtr(heap, listbox, 0, 0, nullptr))));
}

}  // namespace lb

using lb::Item;

// ---- What the listbox knows of its marks ------------------------------------------------------
//
// The selected and caret items of the listbox last worked on, kept so that
// a key moving the selection or the caret costs the same over ten items or
// ten thousand: the items are walked once, then every change made here
// keeps the lists exact.  The lists name the listbox, its item handle and
// count; a new count, a normalised entry (every change of an entry made
// elsewhere ends with one) or a reorder forgets them, and each use checks
// that the items they name still carry their flags.

namespace {

constexpr int32 kMarkRoom = 16;  // more marked items than this are walked each time
enum : int32 { kMarkSel = 0, kMarkCaret = 1 };

struct Marks {
  bool valid = false;
  ObjHeap heap = nullptr;
  int32 listbox = 0, count = 0;
  UHandle items = nullptr;
  int32 n[2] = {0, 0};
  int32 at[2][kMarkRoom] = {};  // ascending
};
Marks gMarks;

uInt32 MaskOf(int32 kind) { return kind == kMarkSel ? kLbItemSelected : kLbItemCaret; }

bool MarksHold(ObjHeap heap, int32 listbox, UHandle items, int32 count) {
  const Marks& m = gMarks;
  if (!m.valid || m.heap != heap || m.listbox != listbox || m.items != items || m.count != count) return false;
  for (int32 k = 0; k < 2; ++k)
    for (int32 j = 0; j < m.n[k]; ++j)
      if (m.at[k][j] >= count || !(Item(items, m.at[k][j])->flags & MaskOf(k))) return false;
  return true;
}

// The marks of the listbox, walking its items when they are not known;
// null when more are marked than the lists hold.
const Marks* KnownMarks(ObjHeap heap, int32 listbox, UHandle items, int32 count) {
  if (MarksHold(heap, listbox, items, count)) return &gMarks;
  Marks m;
  m.heap = heap, m.listbox = listbox, m.items = items, m.count = count;
  for (int32 i = 0; i < count; ++i) {
    const uInt32 f = Item(items, i)->flags;
    for (int32 k = 0; k < 2; ++k)
      if (f & MaskOf(k)) {
        if (m.n[k] == kMarkRoom) {
          gMarks.valid = false;
          return nullptr;
        }
        m.at[k][m.n[k]++] = i;
      }
  }
  m.valid = items != nullptr;
  gMarks = m;
  return m.valid ? &gMarks : nullptr;
}

// Sets or clears a mark of item i, keeping the lists exact.
void Mark(ObjHeap heap, int32 listbox, UHandle items, int32 count, int32 i, int32 kind, bool on) {
  ListboxItem* it = Item(items, i);
  const uInt32 mask = MaskOf(kind);
  if (bool(it->flags & mask) == on) return;
  const bool known = MarksHold(heap, listbox, items, count);
  if (on) it->flags |= mask;
  else it->flags &= ~mask;
  if (!known) {
    gMarks.valid = false;
    return;
  }
  int32* at = gMarks.at[kind];
  int32& n = gMarks.n[kind];
  int32 j = 0;
  while (j < n && at[j] < i) ++j;
  if (!on) {
    if (j == n || at[j] != i) {
      gMarks.valid = false;  // a mark set elsewhere: walked again at the next use
      return;
    }
    std::memmove(at + j, at + j + 1, size_t(n - j - 1) * sizeof *at);
    --n;
  } else if (n == kMarkRoom) {
    gMarks.valid = false;
  } else {
    std::memmove(at + j + 1, at + j, size_t(n - j) * sizeof *at);
    at[j] = i, ++n;
  }
}

}  // namespace

void lb::ForgetMarks() { gMarks.valid = false; }

// ---- Items ---------------------------------------------------------------------------------

void ListboxFixItemFlags(ListboxItem* item) {
  if (!item) return;
  gMarks.valid = false;
  if (int16(item->symbol & 0xFFFF) < 0) {
    item->flags |= kLbItemSeparator | kLbItemUnselectable;
  } else {
    item->flags &= ~uInt32(kLbItemSeparator | kLbItemUnselectable);
    if (item->flags & kLbItemDisabled) item->flags |= kLbItemUnselectable;
  }
}

int32 ListboxCountFlag(ObjHeap heap, int32 listbox, uInt32 mask, int32* first) {
  int32 n = 0, count, f = -1;
  UHandle items = lb::Items(lb::Data(heap, listbox), &count);
  if (mask == kLbItemSelected || mask == kLbItemCaret)
    if (const Marks* m = KnownMarks(heap, listbox, items, count)) {
      const int32 k = mask == kLbItemSelected ? kMarkSel : kMarkCaret;
      if (first) *first = m->n[k] ? m->at[k][0] : -1;
      return m->n[k];
    }
  for (int32 i = 0; i < count; ++i)
    if (Item(items, i)->flags & mask) {
      if (f < 0) f = i;
      ++n;
    }
  if (first) *first = f;
  return n;
}
int32 ListboxGetSelection(ObjHeap heap, int32 listbox, int32* first) {
  return ListboxCountFlag(heap, listbox, kLbItemSelected, first);
}
int32 ListboxGetCaret(ObjHeap heap, int32 listbox, int32* first) {
  return ListboxCountFlag(heap, listbox, kLbItemCaret, first);
}

int32 ListboxPinTopItem(ObjHeap heap, int32 listbox) {
  uChar* d = lb::Data(heap, listbox);
  if (!d) return 0;
  int32 count;
  lb::Items(d, &count);
  const int32 old = lb::Top(d);
  int32 top = old;
  if (top + lb::Rows(heap, listbox) > count) top = count - lb::Rows(heap, listbox);
  if (top < 0) top = 0;
  lb::SetTop(d, top);
  return top - old;
}

int32 ListboxScrollToItem(ObjHeap heap, int32 listbox, int32 item, int32 mode, void* data) {
  uChar* d = data ? static_cast<uChar*>(data) : lb::Data(heap, listbox);
  if (!d) return 0;
  int32 c;
  lb::Items(d, &c);
  const int32 r = lb::Rows(heap, listbox), t = lb::Top(d);
  const int32 i = Clamp(item, 0, std::max(c - 1, 0));
  if (mode <= 3 && i >= t && i < t + r) return 0;
  int32 top;
  switch (mode) {
    case 0: top = i < t ? i : i - r + 1; break;
    case 1: case 4: top = i - r / 2; break;
    case 2: case 5: top = i; break;
    default: top = i - r + 1; break;
  }
  return Clamp(top, 0, std::max(c - r, 0)) - t;
}

namespace {

// Redraws the rows in place (each only when visible; where the list defers
// drawing it is invalidated); a hidden listbox or list is invalidated.
void RedrawRows(ObjHeap heap, int32 listbox, uChar* d, const ChangedRows& rows) {
  if (!rows.n && !rows.all) return;
  const int32 list = FindPart(heap, listbox, kLbListPart, 0);
  if (rows.all || list <= 0 || !OHIsUsedBlock(heap, list) || (uInt32(ObjWord(heap, listbox, 0)) & kObjFlagHidden) ||
      (uInt32(ObjWord(heap, list, 0)) & kObjFlagHidden)) {
    RedrawList(heap, listbox);
    return;
  }
  for (int32 k = 0; k < rows.n; ++k) ListboxRedrawItem(heap, listbox, d, rows.at[k]);
}

// The items carrying the mark, ascending: from the known lists, else walked.
int32 MarkedItems(ObjHeap heap, int32 listbox, UHandle items, int32 count, int32 kind, std::vector<int32>* out) {
  out->clear();
  if (const Marks* m = KnownMarks(heap, listbox, items, count)) {
    out->assign(m->at[kind], m->at[kind] + m->n[kind]);
  } else {
    for (int32 i = 0; i < count; ++i)
      if (Item(items, i)->flags & MaskOf(kind)) out->push_back(i);
  }
  return int32(out->size());
}

// Clears every item's caret mark, redrawing those rows.
void ClearCarets(ObjHeap heap, int32 listbox, uChar* d, UHandle items, int32 count) {
  thread_local std::vector<int32> carets;
  MarkedItems(heap, listbox, items, count, kMarkCaret, &carets);
  ChangedRows rows;
  for (int32 i : carets) Mark(heap, listbox, items, count, i, kMarkCaret, false), rows.Add(i);
  RedrawRows(heap, listbox, d, rows);
}

}  // namespace

int32 ListboxApplySelection(ObjHeap heap, int32 listbox, void* value, int32 redraw) {
  uChar* d = lb::Data(heap, listbox);
  int32 count;
  UHandle items = lb::Items(d, &count);
  if (!d || !count) return 0;
  const uInt32 flags = lb::Flags(heap, listbox);
  ChangedRows rows;
  if (!((flags & kLbArrayValue) && value)) {
    // One index: it becomes the only selected item.
    int32 i = (flags & kLbArrayValue) ? -1 : 0;
    if (value) i = int32(Get32(static_cast<uChar*>(value)));
    // A value shown walks the items again: flags written elsewhere are met.
    lb::ForgetMarks();
    thread_local std::vector<int32> was;
    MarkedItems(heap, listbox, items, count, kMarkSel, &was);
    for (int32 j : was)
      if (j != i) Mark(heap, listbox, items, count, j, kMarkSel, false), rows.Add(j);
    if (i >= 0 && i < count && !(Item(items, i)->flags & (kLbItemSelected | kLbItemDisabled)))
      Mark(heap, listbox, items, count, i, kMarkSel, true), rows.Add(i);
    if (redraw) RedrawRows(heap, listbox, d, rows);
    return rows.n > 0 || rows.all;
  }
  std::vector<bool> marked(size_t(count), false);
  {
    UHandle a = reinterpret_cast<UHandle>(uintptr_t(Get32(static_cast<uChar*>(value))));
    if (a && (DSCheckHandle(a) == kNoErr) && *a && DSGetHandleSize(a) >= 4) {
      const int32 n = int32(Get32(*a));
      if (n > 0 && int64(n) * 4 <= DSGetHandleSize(a) - 4)
        for (int32 k = 0; k < n; ++k) {
          const int32 i = int32(Get32(*a + 4 + 4 * k));
          if (i >= 0 && i < count) marked[size_t(i)] = true;
        }
    }
  }
  for (int32 i = 0; i < count; ++i) {
    ListboxItem* it = Item(items, i);
    const bool sel = it->flags & kLbItemSelected;
    if (marked[size_t(i)] ? !sel && !(it->flags & kLbItemDisabled) : sel)
      Mark(heap, listbox, items, count, i, kMarkSel, !sel), rows.Add(i);
  }
  lb::ForgetMarks();
  if (redraw) RedrawRows(heap, listbox, d, rows);
  return rows.n > 0 || rows.all;
}

int32 ListboxStoreSelection(ObjHeap heap, int32 listbox, void* value, void* data) {
  uChar* d = data ? static_cast<uChar*>(data) : lb::Data(heap, listbox);
  if (!value) value = lb::Value(heap, listbox);
  if (!d || !value || OwnerStoresNothing(heap, listbox)) return 0;
  int32 count;
  UHandle items = lb::Items(d, &count);
  thread_local std::vector<int32> sel;
  MarkedItems(heap, listbox, items, count, kMarkSel, &sel);
  uChar* v = static_cast<uChar*>(value);
  if (!(lb::Flags(heap, listbox) & kLbArrayValue)) {
    const int32 now = sel.empty() ? -1 : sel.back();
    if (int32(Get32(v)) == now) return 0;
    Put32(v, uInt32(now));
    return kLbReplyChanged;
  }
  ArrayHandle a = reinterpret_cast<ArrayHandle>(uintptr_t(Get32(v)));
  UHandle ah = reinterpret_cast<UHandle>(a);
  if (ah && (!(DSCheckHandle(ah) == kNoErr) || !*ah || DSGetHandleSize(ah) < 4)) ah = nullptr, a = nullptr;
  if (ah) {
    const int32 n = int32(Get32(*ah));
    if (n == int32(sel.size()) && int64(n) * 4 <= DSGetHandleSize(ah) - 4 &&
        (n == 0 || std::memcmp(*ah + 4, sel.data(), size_t(n) * 4) == 0))
      return 0;
  } else if (sel.empty()) {
    return 0;
  }
  if (NumericArrayResize(kI32, 1, &a, int32(sel.size())) != kNoErr) return kLbReplyFailed;
  Put32(v, uInt32(uintptr_t(a)));
  ah = reinterpret_cast<UHandle>(a);
  Put32(*ah, uInt32(sel.size()));
  if (!sel.empty()) std::memcpy(*ah + 4, sel.data(), sel.size() * 4);
  return kLbReplyChanged;
}

MgErr ListboxSetItemCount(ObjHeap heap, int32 listbox, int32 count) {
  uChar* d = lb::Data(heap, listbox);
  if (!d || count < 0 || count > 0x7FFF) return d ? kArgErr : kNoErr;
  int32 old;
  UHandle items = lb::Items(d, &old);
  for (int32 i = count; i < old; ++i)
    if (UHandle t = Item(items, i)->text; t && (DSCheckHandle(t) == kNoErr)) DSDisposeHandle(t), Item(items, i)->text = nullptr;
  const int32 bytes = 4 + count * int32(sizeof(ListboxItem));
  if (!items) {
    if (!(items = DSNewHClr(bytes))) return kMemFullErr;
    Put32(d + kLbDataItems, uInt32(uintptr_t(items)));
  } else {
    if (old > count) Put32(*items, uInt32(count));
    if (DSSetHandleSize(items, bytes) != kNoErr) return kMemFullErr;
    if (count > old) std::memset(*items + 4 + old * int32(sizeof(ListboxItem)), 0, size_t(count - old) * sizeof(ListboxItem));
  }
  Put32(*items, uInt32(count));
  lb::ForgetMarks();
  // The data must still name the array just resized.
  const uChar* now = lb::Data(heap, listbox);
  const uInt32 held = now ? Get32(now + kLbDataItems) : 0;
  if (held != uInt32(uintptr_t(items))) {
    DBPrintf(" *dsp 0x%06lx != ->itemArr 0x%06lx", static_cast<unsigned long>(held),
             static_cast<unsigned long>(uintptr_t(items)));
    DBAssert(__FILE__, __LINE__, "the listbox's item array");
    return kNoErr;
  }
  ListboxPinTopItem(heap, listbox);
  return kNoErr;
}

// ---- Type-ahead and keys --------------------------------------------------------------------

void ListboxResetTypeAhead() { gPrefixLen = 0, gLastTyped = 0; }

int32 ListboxFindPrefix(ObjHeap heap, int32 listbox, const uChar* prefix, int32 n, int32 caseSensitive) {
  int32 count;
  UHandle items = lb::Items(lb::Data(heap, listbox), &count);
  const bool cs = caseSensitive != 0;
  // The first selectable item that begins with the prefix wins; only when
  // none does are the texts ordered against it.
  for (int32 i = 0; i < count; ++i) {
    const ListboxItem* it = Item(items, i);
    if (!Selectable(it)) continue;
    const uChar* t;
    const int32 tn = TextOf(it, &t);
    if (tn >= n && Compare(prefix, n, t, n, cs) == 0) return i;
  }
  int32 after = -1, before = -1;
  const uChar *afterT = nullptr, *beforeT = nullptr;
  int32 afterN = 0, beforeN = 0;
  for (int32 i = 0; i < count; ++i) {
    const ListboxItem* it = Item(items, i);
    if (!Selectable(it)) continue;
    const uChar* t;
    const int32 tn = TextOf(it, &t);
    const int32 common = std::min(n, tn);
    if (Compare(prefix, common, t, common, cs) == 0 && tn >= n) return i;
    // The prefix sorts after the text when it is greater over the common
    // length, or equal there and longer.
    if (Compare(prefix, n, t, tn, cs) > 0) {
      if (before < 0 || Compare(t, tn, beforeT, beforeN, cs) > 0) before = i, beforeT = t, beforeN = tn;
    } else if (after < 0 || Compare(t, tn, afterT, afterN, cs) < 0) {
      after = i, afterT = t, afterN = tn;
    }
  }
  return after >= 0 ? after : before;
}

namespace {

bool PrefixMatch(const ListboxItem* it, bool cs) {
  const uChar* t;
  const int32 tn = TextOf(it, &t);
  return tn >= gPrefixLen && Compare(gPrefix, gPrefixLen, t, gPrefixLen, cs) == 0;
}

int32 KeyboardCase(uInt32 flags) {
  return (flags & (kLbKeysCaseSensitive | kLbKeysCaseInsensitive)) == kLbKeysCaseSensitive;
}

}  // namespace

int32 ListboxKey(ObjHeap heap, int32 listbox, int32 keyCode, int32 character, int32 operating) {
  uChar* d = lb::Data(heap, listbox);
  int32 count;
  UHandle items = lb::Items(d, &count);
  if (!d || !count) return 0;
  const uInt32 flags = lb::Flags(heap, listbox);
  const int32 rows = lb::Rows(heap, listbox);
  lb::SetTop(d, Clamp(lb::Top(d), 0, count - 1));
  const bool caretOnly = (flags & kLbArrayValue) && (flags & kLbSelSeveral);
  const int32 mode = int32(flags & kLbSelModeMask);
  const bool cs = KeyboardCase(flags);
  int32 caret = -1;
  if (caretOnly) ListboxGetCaret(heap, listbox, &caret);
  else ListboxGetSelection(heap, listbox, &caret);
  int32 target = caret, reply = 0, scroll = 0;
  const int32 top = lb::Top(d);
  auto stopTyping = [] { gLastTyped = 0, gPrefixLen = 0; };
  if (!operating) {
    switch (keyCode) {
      case vkUp: case vkLeft: scroll = ListboxScrollToItem(heap, listbox, top - 1, 5, d); break;
      case vkDown: case vkRight: scroll = ListboxScrollToItem(heap, listbox, top + 1, 5, d); break;
      case vkHome: scroll = ListboxScrollToItem(heap, listbox, 0, 2, d); break;
      case vkEnd: scroll = ListboxScrollToItem(heap, listbox, count - rows, 2, d); break;
      case vkPageUp: scroll = ListboxScrollToItem(heap, listbox, top - (rows - 1), 5, d); break;
      case vkPageDown: scroll = ListboxScrollToItem(heap, listbox, top + (rows - 1), 5, d); break;
      case vkAscii: break;
      default: stopTyping(); break;
    }
  } else {
    switch (keyCode) {
      case vkUp:
      case vkDown: {
        const int32 step = keyCode == vkUp ? -1 : 1;
        for (int32 i = (caret < 0 ? (step > 0 ? -1 : count) : caret) + step; i >= 0 && i < count; i += step)
          if (Selectable(Item(items, i))) {
            target = i;
            break;
          }
        stopTyping();
        scroll = target >= 0 ? ListboxScrollToItem(heap, listbox, target, 0, d) : 0;
        break;
      }
      case vkLeft:
      case vkRight:
        if (gLastTyped && gPrefixLen) {
          const int32 step = keyCode == vkLeft ? -1 : 1, from = caret < 0 ? 0 : caret;
          for (int32 k = 1; k <= count; ++k) {
            const int32 i = ((from + step * k) % count + count) % count;
            if (Selectable(Item(items, i)) && PrefixMatch(Item(items, i), cs)) {
              target = i;
              break;
            }
          }
          scroll = target >= 0 ? ListboxScrollToItem(heap, listbox, target, 1, d) : 0;
        }
        break;
      case vkHome: scroll = ListboxScrollToItem(heap, listbox, 0, 2, d); break;
      case vkEnd: scroll = ListboxScrollToItem(heap, listbox, count - rows, 2, d); break;
      case vkPageUp: scroll = ListboxScrollToItem(heap, listbox, top - (rows - 1), 5, d); break;
      case vkPageDown: scroll = ListboxScrollToItem(heap, listbox, top + (rows - 1), 5, d); break;
      case vkAscii:
        if (character == ' ') {
          if (mode == 1) break;
          const int32 t = caretOnly ? caret : [&] { int32 f; ListboxGetSelection(heap, listbox, &f); return f; }();
          if (t < 0) break;
          ListboxItem* it = Item(items, t);
          const bool sel = it->flags & kLbItemSelected;
          if (sel && mode == 3 && ListboxGetSelection(heap, listbox, nullptr) == 1) break;
          if (!sel && !Selectable(it)) break;
          Mark(heap, listbox, items, count, t, kMarkSel, !sel);
          ChangedRows row;
          row.Add(t);
          RedrawRows(heap, listbox, d, row);
          reply |= ListboxStoreSelection(heap, listbox, nullptr, d) | kLbReplyChanged;
        } else if (character == '\n') {
          int32 f;
          if (ListboxGetSelection(heap, listbox, &f) == 1) lb::SetActivated(d, caretOnly && caret >= 0 ? caret : f);
        } else {
          const uInt32 now = MilliSecs();
          if (!gLastTyped || now - gLastTyped > kTypeAheadMs) gPrefixLen = 0;
          if (gPrefixLen < kTypeAheadMax) gPrefix[gPrefixLen++] = uChar(character);
          gLastTyped = now ? now : 1;
          const int32 found = ListboxFindPrefix(heap, listbox, gPrefix, gPrefixLen, cs);
          if (found >= 0) target = found;
          scroll = target >= 0 ? ListboxScrollToItem(heap, listbox, target, 1, d) : 0;
        }
        break;
      default: stopTyping(); break;
    }
  }
  if (operating && target >= 0 && target != caret) {
    // The mark moves from every other item to the target.
    const int32 kind = caretOnly ? kMarkCaret : kMarkSel;
    thread_local std::vector<int32> was;
    MarkedItems(heap, listbox, items, count, kind, &was);
    ChangedRows rows;
    for (int32 i : was)
      if (i != target) Mark(heap, listbox, items, count, i, kind, false), rows.Add(i);
    if (!(Item(items, target)->flags & MaskOf(kind))) Mark(heap, listbox, items, count, target, kind, true), rows.Add(target);
    if (!caretOnly) reply |= ListboxStoreSelection(heap, listbox, nullptr, d) | kLbReplyChanged;
    // A list that scrolls is drawn whole below, once.
    if (!scroll) RedrawRows(heap, listbox, d, rows);
  }
  if (scroll) {
    lb::SetTop(d, top + scroll);
    ListboxRedrawScrolled(heap, listbox, top);
  }
  return reply;
}

// ---- Moving selected items ---------------------------------------------------------------

int32 ListboxMoveSelected(ObjHeap heap, int32 listbox, int32 p) {
  uChar* d = lb::Data(heap, listbox);
  int32 count;
  UHandle items = lb::Items(d, &count);
  if (!d || p < 0 || p > count) return 0;
  std::vector<ListboxItem> above, sel, below;
  for (int32 i = 0; i < count; ++i) {
    const ListboxItem it = *Item(items, i);
    (it.flags & kLbItemSelected ? sel : i < p ? above : below).push_back(it);
  }
  std::vector<ListboxItem> order = above;
  order.insert(order.end(), sel.begin(), sel.end());
  order.insert(order.end(), below.begin(), below.end());
  bool moved = false;
  for (int32 i = 0; i < count; ++i) moved |= std::memcmp(Item(items, i), &order[size_t(i)], sizeof(ListboxItem)) != 0;
  if (!moved) return 0;
  std::memcpy(Item(items, 0), order.data(), order.size() * sizeof(ListboxItem));
  lb::ForgetMarks();
  RedrawList(heap, listbox);
  if (OwnerStoresNothing(heap, listbox) || !lb::Value(heap, listbox)) return kLbReplyState;
  return kLbReplyState | kLbReplyChanged | (ListboxStoreSelection(heap, listbox, nullptr, d) & kLbReplyFailed);
}

// ---- Symbols and redrawing -----------------------------------------------------------------

int32 ListboxSymbolImage(int32 n) {
  static const int16 kBuiltIn[36] = {2019, 2076, 2077, 2020, 2022, 2021, 2023, 2081, 2082, 2078, 2079, 2080,
                                     2017, 2008, 2009, 2012, 2014, 2013, 2015, 2016, 2018, 2069, 2073, 2074,
                                     2075, 2010, 2011, 2066, 2070, 2071, 2086, 2087, 2088, 2089, 2090, 2091};
  return n >= 1 && n <= 36 ? kBuiltIn[n - 1] : 0;
}


// ---- Class methods -------------------------------------------------------------------------

namespace {
constexpr int32 kKeyEnterCode = 2, kKeyFinish = 34, kLevelPart = 0, kLevelTarget = 2;
bool StopsTyping(int32 code) { return code == kKeyEnterCode || code == kKeyFinish || (code >= 38 && code <= 43 && code != 40 && code != 41); }
bool EndsAtOnce(int32 code) { return code == 38 || code == 39 || code == 42 || code == 43; }
}  // namespace

int32 ListboxODoitMethod(ObjHeap heap, int32 listbox, TransactionFrame* frame, int32 action, ActionParams* p) {
  const bool key = p && action == kActOperate && (p->eventCode == kSubKeyDown || p->eventCode == kSubKeyRepeat) &&
                   frame && frame->mode == kLevelTarget;
  // Presses, moves and the release on the list area are the listbox's own.
  const bool mouse = p && (action == kActOperate || action == kActTrack) && frame && frame->mode == kLevelPart &&
                     (p->eventCode == kSubPress || p->eventCode == kSubRelease || p->eventCode == kSubMove ||
                      p->eventCode == 4 || p->eventCode == kSubEnd || p->eventCode == 19);
  if (mouse && lb::IsListbox(heap, listbox)) {
    const int32 list = ObjWord(heap, listbox, kObjPartList / 4);
    const int32 part = frame->index >= 0 && frame->index < ObjListCount(heap, list) ? ObjListGet(heap, list, frame->index) : 0;
    if (part > 0 && OHIsUsedBlock(heap, part) && ObjInt16(heap, part, kObjPartId) == kLbListPart)
      return ListboxMouse(heap, listbox, p->eventCode, p->point, p->modifiers);
  }
  if (!key || !lb::IsListbox(heap, listbox)) return DDOODoitMethod(heap, listbox, frame, action, p);
  if (StopsTyping(p->keyCode)) {
    gLastTyped = 0, gPrefixLen = 0;
    int32 count;
    uChar* d = lb::Data(heap, listbox);
    UHandle items = lb::Items(d, &count);
    if (count) ClearCarets(heap, listbox, d, items, count);
  }
  // The data display object's keys (focus moves, release, Enter) are its
  // own; every other key it answers with 1, keeping the focus.
  const int32 generic = DDOODoitMethod(heap, listbox, frame, action, p);
  if (generic & ~kLbReplyFollow) return generic;
  if (uChar* d = lb::Data(heap, listbox)) lb::SetActivated(d, -1);
  if (EndsAtOnce(p->keyCode)) return kLbReplyFollow;
  if (StopsTyping(p->keyCode)) return generic;
  return generic | ListboxKey(heap, listbox, p->keyCode, p->character, Operates(heap, listbox));
}

int32 ListboxODisplayValMethod(ObjHeap heap, int32 listbox, const void* old, const void* value);

// The generic pop-up menu; the listbox keeps a level of its own in it.
int32 ListboxOPopupMethod(ObjHeap heap, int32 listbox, PopupMsgRecord* rec) {
  const int32 reply = DDOOPopupMethod(heap, listbox, rec);
  if (!reply && rec) ++rec->level;
  return reply;
}

void ControlsJoinListboxSlots() {
  ObjJoinSlot(kMsgOClick, [](int32 cls) {
    return cls == kClsListbox ? reinterpret_cast<ObjMethodAddr>(&ListboxOClickMethod) : ObjMethodAddr(nullptr);
  });
  ObjJoinSlot(kMsgOPopup, [](int32 cls) {
    return cls == kClsListbox ? reinterpret_cast<ObjMethodAddr>(&ListboxOPopupMethod) : ObjMethodAddr(nullptr);
  });
  ObjJoinSlot(kMsgODisplayVal, [](int32 cls) {
    return cls == kClsListbox ? reinterpret_cast<ObjMethodAddr>(&ListboxODisplayValMethod) : ObjMethodAddr(nullptr);
  });
  ObjJoinSlot(kMsgODraw, [](int32 cls) {
    return cls == kClsListbox ? reinterpret_cast<ObjMethodAddr>(&ListboxODrawMethod) : ObjMethodAddr(nullptr);
  });
  ObjJoinSlot(kMsgOFrameSel, [](int32 cls) {
    return cls == kClsListbox ? reinterpret_cast<ObjMethodAddr>(&ListboxOFrameSelMethod) : ObjMethodAddr(nullptr);
  });
  ObjJoinSlot(kMsgODoit, [](int32 cls) {
    return cls == kClsListbox ? reinterpret_cast<ObjMethodAddr>(&ListboxODoitMethod) : ObjMethodAddr(nullptr);
  });
}

// ---- Mouse -----------------------------------------------------------------------------------

namespace {

enum : int32 {
  kTrackNone = 0, kTrackScrollBar = 1, kTrackClick = 2, kTrackExtend = 4, kTrackRange = 5, kTrackUnrange = 6,
  kTrackMayDrag = 7, kTrackDragging = 8,
};

// The press under way: its listbox, state and index (anchor or drop
// position), and the modifiers of the press.
int32 gTrackObject = 0;
int32 gTrackState = kTrackNone, gTrackIndex = -1;
int32 gPressModifiers = 0;

Rect ListRect(ObjHeap heap, int32 listbox, bool* withBar) {
  Rect r{0, 0, 0, 0};
  const int32 list = FindPart(heap, listbox, kLbListPart, 0);
  if (list > 0 && OHIsUsedBlock(heap, list) && OHBlockSize(heap, list) >= kObjBounds + 8)
    std::memcpy(&r, *heap + list + kObjBounds, sizeof r);
  const bool bar = !(lb::Flags(heap, listbox) & kLbNoScrollBar);
  if (bar) r.right = int16(std::max<int32>(r.left, r.right - PlatGetSystemMetric(kPlatMetricVScrollWidth)));
  if (withBar) *withBar = bar;
  return r;
}
int32 RowHeight(ObjHeap heap, int32 listbox) { return std::max<int32>(ObjInt16(heap, listbox, kLbRowHeightByte), 1); }
}  // namespace

int32 lb::DropPosition(int32 listbox) {
  return listbox == gTrackObject && gTrackState == kTrackDragging ? gTrackIndex : -1;
}

namespace {

int32 FloorDiv(int32 a, int32 b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

}  // namespace

int32 ListboxPtInSymbol(ObjHeap heap, int32 listbox, Point where) {
  uChar* d = lb::Data(heap, listbox);
  int32 count;
  UHandle items = lb::Items(d, &count);
  const uInt32 flags = lb::Flags(heap, listbox);
  if (!d || !(flags & kLbShowSymbols)) return 0;
  const Rect list = ListRect(heap, listbox, nullptr);
  const int32 row = lb::Top(d) + FloorDiv(where.v - list.top, RowHeight(heap, listbox));
  if (row < 0 || row >= count || where.v < list.top || where.v >= list.bottom) return 0;
  const int32 left = list.left + 10 * int32(lb::Item(items, row)->flags >> kLbItemIndentShift);
  return where.h >= left && where.h < left + ((flags & kLbLargeSymbols) ? 22 : 16);
}

int32 ListboxTrack(ObjHeap heap, int32 listbox, Point where, int32 press, int32 release) {
  uChar* d = lb::Data(heap, listbox);
  if (!d || !lb::Value(heap, listbox)) return kLbReplyFailed;
  int32 count;
  UHandle items = lb::Items(d, &count);
  if (!count) return 0;
  const uInt32 flags = lb::Flags(heap, listbox);
  const bool bit0 = flags & kLbSelNeverEmpty, several = flags & kLbSelSeveral, drag = flags & kLbDragReorder;
  const int32 rows = lb::Rows(heap, listbox), top = lb::Top(d), h = RowHeight(heap, listbox);
  const Rect list = ListRect(heap, listbox, nullptr);
  // The caret mark goes, and the type-ahead stops.
  ClearCarets(heap, listbox, d, items, count);
  gLastTyped = 0, gPrefixLen = 0;
  const int32 raw = top + FloorDiv(where.v - list.top, h);
  int32 r = Clamp(raw, 0, count - 1);
  const bool insideH = where.h >= list.left && where.h < list.right;
  const bool overRow = raw == r && where.v >= list.top && where.v < list.bottom && insideH;
  int32 a = gTrackIndex, reply = 0;
  const int32 state0 = gTrackState;
  // The scroll bar's state and the unused 3 never take a row step.
  if (gTrackState == kTrackScrollBar || gTrackState == kTrackScrollBar + kTrackClick) {
    DBPrintf("currTrackState 0x%08lx", static_cast<unsigned long>((uInt32(gTrackIndex) << 16) | uInt16(gTrackState)));
    DBAssert(__FILE__, __LINE__, "a listbox track state");
    return 0;
  }
  if (gTrackState == kTrackExtend && a == -1 && overRow && Selectable(lb::Item(items, r))) {
    gTrackState = (lb::Item(items, r)->flags & kLbItemSelected) ? kTrackUnrange : kTrackRange;
    gTrackIndex = a = r;
    if (gTrackState == kTrackRange && !several) gTrackState = kTrackClick, gTrackIndex = a = 0;
  }
  int32 scroll = r < top ? r - top : r > top + rows - 1 ? r - (top + rows - 1) : 0;
  // A list that scrolls is drawn whole at the end; else changed rows alone.
  const bool scrolls = Clamp(top + scroll, 0, std::max(count - rows, 0)) != top;
  switch (gTrackState) {
    case kTrackClick:
    case kTrackMayDrag: {
      if (!bit0) {
        if (!overRow) r = -1;
      } else if (a >= 0 && a < count) {
        while (r != a && !Selectable(lb::Item(items, r))) r += r < a ? 1 : -1;
      }
      gTrackIndex = r;
      if (gTrackState == kTrackMayDrag && drag && a >= 0 && r != a) {
        r = a;
        gTrackState = kTrackDragging, gTrackIndex = a;
      }
      if (bit0 && (r < 0 || !Selectable(lb::Item(items, r)))) break;
      std::vector<int32> marked;
      if (r >= 0 && Selectable(lb::Item(items, r)) &&
          (((flags & kLbClickDeselects) && press) || !(lb::Item(items, r)->flags & kLbItemSelected)))
        marked.push_back(r);
      if (!marked.empty() || !(state0 == kTrackMayDrag && drag) || release) {
        std::vector<int32> was;
        MarkedItems(heap, listbox, items, count, kMarkSel, &was);
        for (int32 i : was)
          if (i != r) marked.push_back(i);
      }
      ChangedRows changed;
      for (int32 i : marked)
        Mark(heap, listbox, items, count, i, kMarkSel, !(lb::Item(items, i)->flags & kLbItemSelected)), changed.Add(i);
      if (!marked.empty()) reply |= kLbReplyChanged;
      if (!scrolls) RedrawRows(heap, listbox, d, changed);
      break;
    }
    case kTrackRange: {
      ChangedRows changed;
      for (int32 i = std::min(a, r); i <= std::max(a, r); ++i)
        if (i >= 0 && Selectable(lb::Item(items, i)) && !(lb::Item(items, i)->flags & kLbItemSelected))
          Mark(heap, listbox, items, count, i, kMarkSel, true), changed.Add(i), reply |= kLbReplyChanged;
      if (!scrolls) RedrawRows(heap, listbox, d, changed);
      break;
    }
    case kTrackUnrange: {
      ChangedRows changed;
      if (!bit0) {
        for (int32 i = std::min(a, r); i <= std::max(a, r); ++i)
          if (i >= 0 && (lb::Item(items, i)->flags & kLbItemSelected))
            Mark(heap, listbox, items, count, i, kMarkSel, false), changed.Add(i), reply |= kLbReplyChanged;
      } else {
        for (int32 i = a; ListboxGetSelection(heap, listbox, nullptr) >= 2; i += r < a ? -1 : 1) {
          if (i >= 0 && i < count && (lb::Item(items, i)->flags & kLbItemSelected))
            Mark(heap, listbox, items, count, i, kMarkSel, false), changed.Add(i), reply |= kLbReplyChanged;
          if (i == r) break;
        }
        int32 first;
        if (ListboxGetSelection(heap, listbox, &first) == 1 && first == r) gTrackState = kTrackClick;
      }
      if (!scrolls) RedrawRows(heap, listbox, d, changed);
      break;
    }
    case kTrackDragging: {
      int32 p = Clamp(top + FloorDiv(where.v - list.top + h / 2, h), 0, count);
      if (!(p >= top && p <= top + rows && insideH))
        p = scroll < 0 ? Clamp(top - 1, 0, count) : scroll > 0 ? Clamp(top + rows + 1, 0, count) : -1;
      if (p != gTrackIndex) {
        // The rows at the old drop line lose it, those at the new one get it.
        ChangedRows changed;
        for (int32 at : {gTrackIndex, p})
          if (at >= 0) changed.Add(at - 1), changed.Add(at);
        gTrackIndex = p;
        if (!scrolls) RedrawRows(heap, listbox, d, changed);
      }
      break;
    }
    case kTrackNone:
    case kTrackExtend:
      break;  // none, or an extend press away from the rows
    default:
      DBPrintf("trackMode : %d, state 0x%04lx", int(flags & kLbSelModeMask), static_cast<unsigned long>(gTrackState));
      DBAssert(__FILE__, __LINE__, "a listbox track state");
      return 0;
  }
  // Activation: a press on the symbol of the one selected item, or the
  // release of a double click on it.
  int32 first;
  const int32 selected = ListboxGetSelection(heap, listbox, &first);
  if (press && (flags & kLbSymbolActivates) && ListboxPtInSymbol(heap, listbox, where) && selected == 1 && first == r)
    release = 1, gPressModifiers |= kWModDoubleClick, reply &= ~kLbReplyFollow;
  if (release && (gPressModifiers & kWModDoubleClick) == kWModDoubleClick && selected == 1 && first == r) {
    lb::SetActivated(d, r);
    reply |= kLbReplyState;
  }
  if (scroll) {
    const int32 now = Clamp(top + scroll, 0, std::max(count - rows, 0));
    if (now != top) lb::SetTop(d, now), ListboxRedrawScrolled(heap, listbox, top), reply |= kLbReplyState;
  }
  if (reply & kLbReplyChanged) reply |= ListboxStoreSelection(heap, listbox, nullptr, d) & kLbReplyFailed;
  return reply;
}

int32 ListboxTrackScrollBar(ObjHeap heap, int32 listbox, Point where, int32 eventCode) {
  uChar* d = lb::Data(heap, listbox);
  if (!d) return 0;
  ListboxPinTopItem(heap, listbox);
  int32 count;
  lb::Items(d, &count);
  const int32 rows = lb::Rows(heap, listbox), top = lb::Top(d);
  bool bar;
  const Rect list = ListRect(heap, listbox, &bar);
  const int32 list26 = FindPart(heap, listbox, kLbListPart, 0);
  Rect sb = list;
  if (list26 > 0) std::memcpy(&sb, *heap + list26 + kObjBounds, sizeof sb);
  sb.left = list.right;
  const int32 result = TrackSBarEvent(&sb, where, eventCode, top, rows, count, nullptr, nullptr, 1);
  int32 now = top;
  if (result == 0) return kLbReplyFollow;
  if (result & int32(0x80000000u)) now = result & 0x3FFFFFFF;
  else if (result == 2) now = top - 1;
  else if (result == 3) now = top + 1;
  else if (result == 6) now = top - (rows - 1);
  else if (result == 7) now = top + (rows - 1);
  if (now < 0 || count <= 0 || count < rows) now = 0;
  now = std::min(now, std::max(count - rows, 0));
  if (now == top) return kLbReplyFollow;
  lb::SetTop(d, now);
  ListboxRedrawScrolled(heap, listbox, top);
  return kLbReplyState | kLbReplyFollow;
}

int32 ListboxMouse(ObjHeap heap, int32 listbox, int32 eventCode, Point where, int32 modifiers) {
  uChar* d = lb::Data(heap, listbox);
  if (!d) return 0;
  int32 reply = 0;
  if (eventCode == kSubPress || eventCode == 19) {
    lb::SetActivated(d, -1);
    gTrackObject = listbox, gTrackState = kTrackNone, gTrackIndex = -1, gPressModifiers = modifiers;
    bool bar;
    const Rect list = ListRect(heap, listbox, &bar);
    if (bar && where.h >= list.right && where.v >= list.top && where.v < list.bottom) {
      gTrackState = kTrackScrollBar;
      return ListboxTrackScrollBar(heap, listbox, where, eventCode);
    }
    const uInt32 flags = lb::Flags(heap, listbox);
    gTrackState = (flags & kLbDragReorder) ? kTrackMayDrag : kTrackClick;
    if ((modifiers & kWModShift) && ((flags & kLbSelSeveral) || !(flags & kLbSelNeverEmpty))) gTrackState = kTrackExtend;
    return ListboxTrack(heap, listbox, where, 1, 0) | kLbReplyFollow;
  }
  if (gTrackObject != listbox || gTrackState == kTrackNone) return 0;
  if (eventCode == kSubMove || eventCode == 4) {
    return (gTrackState == kTrackScrollBar ? ListboxTrackScrollBar(heap, listbox, where, eventCode)
                                           : ListboxTrack(heap, listbox, where, 0, 0)) |
           kLbReplyFollow;
  }
  // A track that ends without a release (the application lost the mouse)
  // ends as a release does: the press must not stay under way.
  if (eventCode == kSubRelease || eventCode == kSubEnd) {
    reply = gTrackState == kTrackScrollBar ? ListboxTrackScrollBar(heap, listbox, where, eventCode)
                                           : ListboxTrack(heap, listbox, where, 0, 1);
    if (gTrackState == kTrackDragging) {
      const int32 p = gTrackIndex;
      gTrackState = kTrackNone;
      reply |= ListboxMoveSelected(heap, listbox, p);
      RedrawList(heap, listbox);
    }
    gTrackObject = 0, gTrackState = kTrackNone, gTrackIndex = -1;
    // The listbox takes the key focus; a dialog not in text entry shows
    // the focus, so the listbox is redrawn when it takes it from another.
    if (ctrl::Ext(heap, kHeapExtDialogFilter) && !InTextEntry(heap) && int32(ctrl::Ext(heap, kHeapExtKeyFocus)) != listbox)
      OInval(heap, listbox, kInvalAll);
    FPKeyFocusUpdate(heap, listbox, 0, nullptr);
    reply &= ~kLbReplyFollow;
  }
  return reply;
}

// ---- Geometry --------------------------------------------------------------------------------

namespace {

TRecord TextRecordOf(ObjHeap heap, int32 listbox) {
  const int32 text = ObjWord(heap, listbox, kLbTextWord);
  if (text <= 0 || !OHIsUsedBlock(heap, text) || OHBlockSize(heap, text) < 4 * 10) return nullptr;
  TRecord r = PartTextRecord(heap, text);
  return r && *r ? r : nullptr;
}
bool PartBounds(ObjHeap heap, int32 part, Rect* r) {
  if (part <= 0 || !OHIsUsedBlock(heap, part) || OHBlockSize(heap, part) < kObjBounds + 8) return false;
  std::memcpy(r, *heap + part + kObjBounds, sizeof *r);
  return true;
}

}  // namespace

int32 ListboxCalcRowHeight(ObjHeap heap, int32 listbox) {
  if (!lb::IsListbox(heap, listbox)) return 0;
  OInval(heap, listbox, kInvalAll);
  TRecord tr = TextRecordOf(heap, listbox);
  int32 ascent = 0, descent = 0, leading = 0;
  if (tr) TGetFontMetrics(TRData(tr)->runs[0].font, &ascent, &descent, &leading);
  int32 height = ascent + descent + leading;
  const uInt32 flags = lb::Flags(heap, listbox);
  if (flags & kLbShowSymbols) height = std::max<int32>(height, (flags & kLbTallSymbolRows) ? 18 : 14);
  height = Clamp(height, 1, 0x7FFF);
  if (height == ObjInt16(heap, listbox, kLbRowHeightByte)) return 0;
  const int16 h16 = int16(height);
  std::memcpy(*heap + listbox + kLbRowHeightByte, &h16, 2);
  const int32 list = FindPart(heap, listbox, kLbListPart, 0);
  Rect r;
  if (!PartBounds(heap, list, &r)) return 0;
  const int32 rows = Clamp((r.bottom - r.top + height / 2) / height, 0, 0x7FFF);
  const int16 r16 = int16(rows);
  std::memcpy(*heap + listbox + kLbRowsByte, &r16, 2);
  const int32 bottom = r.top + rows * height;
  if (bottom == r.bottom) {
    ListboxPinTopItem(heap, listbox);
    return 0;
  }
  r.bottom = int16(Clamp(bottom, -32768, 32767));
  OSize(heap, list, &r, 0);
  OSize(heap, listbox, nullptr, kLbListPart);
  OInval(heap, listbox, kInvalAll);
  return 128;
}

int32 ListboxLayoutParts(ObjHeap heap, int32 listbox) {
  if (!lb::IsListbox(heap, listbox)) return 0;
  const int32 text = ObjWord(heap, listbox, kLbTextWord);
  Rect list, now;
  if (!PartBounds(heap, FindPart(heap, listbox, kLbListPart, 0), &list) || !PartBounds(heap, text, &now)) return 0;
  const uInt32 flags = lb::Flags(heap, listbox);
  TRecord tr = TextRecordOf(heap, listbox);
  const uInt32 textMode = tr ? TRData(tr)->mode & kTRModeJustify : 0;
  const int32 shift = (flags & kLbLargeSymbols) && (flags & kLbShowSymbols) ? 21
                      : (flags & kLbShowSymbols)                            ? 15
                      : textMode == 0                                       ? 4
                                                                            : 0;
  Rect want{int16(list.top - 1), int16(list.left + shift - 1), int16(list.bottom + 1), int16(list.right + 1)};
  if (std::memcmp(&want, &now, sizeof want) == 0) return 0;
  OSize(heap, text, &want, 0);
  return 1;
}

void ControlsInstallListboxHooks() { SetListboxRowHeightHook(&ListboxCalcRowHeight); }

// A new value: the items' selection follows it, drawn at once unless the
// listbox is greyed or drawing is deferred, when it is invalidated.
int32 ListboxODisplayValMethod(ObjHeap heap, int32 listbox, const void*, const void* value) {
  if (!lb::IsListbox(heap, listbox) || (uInt32(ObjWord(heap, listbox, 0)) & kObjFlagHidden)) return 0;
  if (!(uInt32(ObjWord(heap, listbox, 0)) & 0x80) && !gDeferDrawing) {
    ListboxApplySelection(heap, listbox, const_cast<void*>(value), 1);
    return 0;
  }
  OInval(heap, listbox, kInvalAll);
  return kLbReplyInvalidated;
}

// ---- Loaded symbols --------------------------------------------------------------------------

namespace {

// The images read at start-up, symbol 1000 + k in entry k; room grows by 32.
constexpr int32 kSymbolRoom = 32, kLoadedBase = 1000;
UHandle gSymbols = nullptr;
int32 gSymbolCount = 0;

int32 SymbolEntry(int32 k) {
  int32 image;
  std::memcpy(&image, *gSymbols + 4 * k, 4);
  return image;
}

}  // namespace

MgErr InitListboxSymbols(int32 base) {
  ListboxDisposeSymbols();
  if (!(gSymbols = AZNewHandle(kSymbolRoom * 4))) return kMemFullErr;
  const RsrcFileRef file = RunTimeRsrcFile();
  for (int32 k = 0; file && k < 0x7FFF; ++k) {
    int32 image = 0;
    const MgErr err = IGet(file, kImageFamily, base + k, &image, 1);
    const bool full = err == kMemFullErr;
    if (err && !full) break;  // the first missing family ends the table
    if (full || (gSymbolCount * 4 >= AZGetHandleSize(gSymbols) &&
                 AZSetHandleSize(gSymbols, (gSymbolCount + kSymbolRoom) * 4))) {
      // Everything read so far goes with the table.
      if (!full) IRelease(image);
      ListboxDisposeSymbols();
      return kMemFullErr;
    }
    std::memcpy(*gSymbols + 4 * gSymbolCount++, &image, 4);
  }
  return kNoErr;
}

void ListboxDisposeSymbols() {
  for (int32 k = 0; gSymbols && k < gSymbolCount; ++k) IRelease(SymbolEntry(k));
  if (gSymbols) AZDisposeHandle(gSymbols);
  gSymbols = nullptr, gSymbolCount = 0;
}

int32 ListboxLoadedSymbolCount() { return gSymbolCount; }

int32 ListboxLoadedSymbol(int32 n) {
  const int32 k = n - kLoadedBase;
  return gSymbols && k >= 0 && k < gSymbolCount ? SymbolEntry(k) : 0;
}

// The generic click; over the list the hover region is the list, over the
// scroll bar one pixel at the mouse with the list's own cursor; an
// indicator's list takes no press (only its scroll bar operates).
int32 ListboxOClickMethod(ObjHeap heap, int32 listbox, TransactionState* click, TransactionFrame* frame,
                          ActionParams* p) {
  const int32 answer = DDOOClickMethod(heap, listbox, click, frame, p);
  if (!p || !lb::IsListbox(heap, listbox) || !answer) return answer;
  bool bar;
  const Rect list = ListRect(heap, listbox, &bar);
  Rect area = list;
  const int32 part = FindPart(heap, listbox, kLbListPart, 0);
  PartBounds(heap, part, &area);
  const Point pt = p->point;
  const bool inArea = pt.v >= area.top && pt.v < area.bottom && pt.h >= area.left && pt.h < area.right;
  const bool inList = inArea && pt.h < list.right;
  if (p->eventCode == kSubMove && inArea) {
    CursorAnswer* c = CursorOf(p);
    if (inList) {
      c->rect = list;
    } else {
      c->rect = Rect{pt.v, pt.h, int16(pt.v + 1), int16(pt.h + 1)};
      c->cursor = kCursorTextOwn;
    }
  }
  if (p->eventCode == kSubPress && inList && !Operates(heap, listbox)) return kClickAbsorbed;
  return answer;
}
