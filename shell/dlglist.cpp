// Listbox items of dialogs: the entries (flag word, glyph, text handle)
// kept in the listbox's data, the selection through the item's value and
// the double-clicked entry.
#include <cstring>
#include <vector>

#include "engine/objswap.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "rtlib/panellocators.h"
#include "shell/dialog.h"

namespace {

// The listbox's word holding the offset of its data; in the data, the top
// row, the double-clicked entry and the entries' handle.
constexpr int32 kListDataAt = 40;
constexpr int32 kTopRowAt = 0, kDoubleClickAt = 2, kEntriesAt = 4;
constexpr int32 kEntrySize = 12, kEntryGlyph = 4, kEntryText = 8;
constexpr uInt32 kMultipleSelection = 0x2000;
constexpr uInt32 kReplaceClears = 0x1 | 0x2 | 0x4 | 0x10;
constexpr int32 kI32Value = 3;

struct List {
  DialogRef dialog;
  int32 box;   // the listbox object
  UPtr data;   // its data (valid until the data space moves)
};

// The listbox of the item and its data; box 0, reported, for a bad dialog or
// item, an item that is no listbox or one without data.
List ListOf(DialogRef d, int32 item) {
  List l{d, DlgItemDisplay(d, item), nullptr};
  if (!l.box) return l;
  if (OHBlockClass(d, l.box) != kClsListbox || OHBlockSize(d, l.box) < kListDataAt + 4) {
    DBAssert(__FILE__, __LINE__, "dialog item is no listbox");
    return List{d, 0, nullptr};
  }
  l.data = FPHeapDataPtr(d, int32(OHWord(d, uInt32(l.box + kListDataAt))));
  if (!l.data) l.box = 0;
  return l;
}

UHandle Entries(const List& l) { return reinterpret_cast<UHandle>(uintptr_t(GetNative32(l.data + kEntriesAt))); }

// The number of entries, 0 for none or a handle too short for its count.
int32 Count(const List& l) {
  UHandle h = Entries(l);
  if (!h || !*h) return 0;
  const int32 size = DSGetHandleSize(h);
  const int32 n = size >= 4 ? int32(GetNative32(*h)) : 0;
  return n >= 0 && int64(n) * kEntrySize <= size - 4 ? n : 0;
}

uChar* Entry(const List& l, int32 i) { return *Entries(l) + 4 + i * kEntrySize; }
uInt32 EntryWord(const List& l, int32 i, int32 at) { return GetNative32(Entry(l, i) + at); }
void SetEntryWord(const List& l, int32 i, int32 at, uInt32 v) { PutNative32(Entry(l, i) + at, v); }
LStrHandle EntryText(const List& l, int32 i) {
  return reinterpret_cast<LStrHandle>(uintptr_t(EntryWord(l, i, kEntryText)));
}

// The entry's flags normalised by the listbox.
void FixFlags(const List& l, int32 i) {
  if (DlgServices().listFixItemFlags) DlgServices().listFixItemFlags(Entry(l, i));
}

// A new text handle holding the Pascal string's bytes; null when memory is short.
LStrHandle NewText(ConstPStr text) {
  const int32 n = PStrLen(text);
  UHandle h = DSNewHandle(4 + n);
  if (!h) return nullptr;
  PutNative32(*h, uInt32(n));
  if (n) std::memcpy(*h + 4, text + 1, size_t(n));
  return reinterpret_cast<LStrHandle>(h);
}

bool TextEquals(LStrHandle h, ConstPStr text) {
  const int32 n = PStrLen(text);
  if (!h || !*h) return n == 0;
  const uChar* p = reinterpret_cast<const uChar*>(*h);
  return int32(GetNative32(p)) == n && std::memcmp(p + 4, text + 1, size_t(n)) == 0;
}

int32 Find(const List& l, ConstPStr text) {
  const int32 n = Count(l);
  for (int32 i = 0; i < n; ++i)
    if (TextEquals(EntryText(l, i), text)) return i;
  return -1;
}

// The entries resized to n by the listbox (new entries empty, the texts
// of dropped ones released); false when it cannot.
bool Resize(const List& l, int32 n) {
  const auto resize = DlgServices().listSetItemCount;
  return resize && resize(l.dialog, l.box, n) == kNoErr;
}

// Removes entry i: its text released, the later ones moved up, the last
// slot (now a copy) emptied before the array shrinks.
void RemoveAt(const List& l, int32 i) {
  const int32 n = Count(l);
  if (LStrHandle t = EntryText(l, i)) DSDisposeHandle(reinterpret_cast<UHandle>(t));
  std::memmove(Entry(l, i), Entry(l, i) + kEntrySize, size_t((n - 1 - i) * kEntrySize));
  SetEntryWord(l, n - 1, kEntryText, 0);
  Resize(l, n - 1);
}

// The listbox shows its current value again.
void Redisplay(const List& l) {
  const DlgPanelServices& s = DlgServices();
  if (!DlgWindow(l.dialog) || !s.getDataPtr || !s.displayVal) return;
  const int32 at = s.getDataPtr(l.dialog, l.box, 0, 0, nullptr);
  if (at) DlgDisplayVal(l.dialog, l.box, reinterpret_cast<const void*>(uintptr_t(uInt32(at))));
}

bool InRange(const List& l, int32 index) { return index >= 0 && index < Count(l); }

}  // namespace

MgErr DlgInsertListItem(DialogRef dialog, int32 item, int32 index, ConstPStr text, int32 glyph) {
  return DlgInsertListItemEx(dialog, item, index, text, glyph, 0);
}

MgErr DlgInsertListItemEx(DialogRef dialog, int32 item, int32 index, ConstPStr text, int32 glyph, int32 topByte) {
  const List l = ListOf(dialog, item);
  if (!l.box) return kArgErr;
  const int32 n = Count(l);
  if (index < 0 || index > n) index = n;
  LStrHandle t = NewText(text);
  if (!t) return kMemFullErr;
  if (!Resize(l, n + 1)) {
    DSDisposeHandle(reinterpret_cast<UHandle>(t));
    return DlgServices().listSetItemCount ? kMemFullErr : kArgErr;
  }
  std::memmove(Entry(l, index + 1), Entry(l, index), size_t((n - index) * kEntrySize));
  SetEntryWord(l, index, 0, uInt32(topByte) << 24);
  SetEntryWord(l, index, kEntryGlyph, uInt32(glyph));
  SetEntryWord(l, index, kEntryText, uInt32(uintptr_t(t)));
  FixFlags(l, index);
  Redisplay(l);
  return kNoErr;
}

MgErr DlgReplaceList(DialogRef dialog, int32 item, const CPStr* texts, UHandle glyphs) {
  const List l = ListOf(dialog, item);
  if (!l.box || !texts) return kArgErr;
  // The texts are read whole before anything changes.
  const uChar* p = reinterpret_cast<const uChar*>(texts);
  const int32 count = int32(GetNative32(p));
  std::vector<const uChar*> each;
  const uChar* at = p + 4;
  for (int32 i = 0; i < count; ++i, at += 1 + at[0]) each.push_back(at);
  const int32 glyphCount = glyphs && *glyphs ? int32(GetNative32(*glyphs)) : 0;
  if (!Resize(l, count)) return DlgServices().listSetItemCount ? kMemFullErr : kArgErr;
  for (int32 i = 0; i < count; ++i) {
    LStrHandle t = EntryText(l, i);
    if (t) DSDisposeHandle(reinterpret_cast<UHandle>(t));
    t = NewText(each[size_t(i)]);
    SetEntryWord(l, i, kEntryText, uInt32(uintptr_t(t)));
    const int32 glyph = i < glyphCount ? int32(GetNative32(*glyphs + 4 + 4 * i)) : 0;
    SetEntryWord(l, i, kEntryGlyph, uInt32(glyph));
    SetEntryWord(l, i, 0, EntryWord(l, i, 0) & ~kReplaceClears);
    FixFlags(l, i);
    if (!t) return kMemFullErr;
  }
  return kNoErr;
}

MgErr DlgReplaceListItem(DialogRef dialog, int32 item, ConstPStr oldText, ConstPStr newText, int32 glyph) {
  const List l = ListOf(dialog, item);
  if (!l.box) return kArgErr;
  const int32 i = Find(l, oldText);
  if (i < 0) return kArgErr;
  LStrHandle t = NewText(newText);
  if (!t) return kMemFullErr;
  if (LStrHandle was = EntryText(l, i)) DSDisposeHandle(reinterpret_cast<UHandle>(was));
  SetEntryWord(l, i, kEntryText, uInt32(uintptr_t(t)));
  SetEntryWord(l, i, kEntryGlyph, uInt32(glyph));
  SetEntryWord(l, i, 0, EntryWord(l, i, 0) & 0x00FFFFFFu);
  FixFlags(l, i);
  return kNoErr;
}

MgErr DlgDeleteList(DialogRef dialog, int32 item) {
  const List l = ListOf(dialog, item);
  if (!l.box) return kArgErr;
  if (Entries(l)) Resize(l, 0);
  return kNoErr;
}

MgErr DlgDeleteListItem(DialogRef dialog, int32 item, ConstPStr text) {
  const List l = ListOf(dialog, item);
  if (!l.box) return kArgErr;
  const int32 i = Find(l, text);
  if (i >= 0) RemoveAt(l, i);
  return kNoErr;
}

int32 DlgFindListItem(DialogRef dialog, int32 item, ConstPStr text) {
  const List l = ListOf(dialog, item);
  return l.box ? Find(l, text) : -1;
}

void DlgEnableListItem(DialogRef dialog, int32 item, int32 index, int32 on) {
  const List l = ListOf(dialog, item);
  if (!l.box || !InRange(l, index)) return;
  const uInt32 f = EntryWord(l, index, 0);
  SetEntryWord(l, index, 0, on ? f & ~kListEntryDisabled : (f | kListEntryDisabled) & ~kListEntrySelected);
  FixFlags(l, index);
}

int32 DlgGetListItemGlyph(DialogRef dialog, int32 item, int32 index) {
  const List l = ListOf(dialog, item);
  return l.box && InRange(l, index) ? int32(EntryWord(l, index, kEntryGlyph)) : 0;
}

int32 DlgGetListItemCount(DialogRef dialog, int32 item) {
  const List l = ListOf(dialog, item);
  return l.box ? Count(l) : 0;
}

int32 DlgGetListItemText(DialogRef dialog, int32 item, int32 index, LStrHandle* text) {
  if (text) *text = nullptr;
  const List l = ListOf(dialog, item);
  const int32 n = l.box ? Count(l) : 0;
  if (!n) return 0;
  const bool inRange = index >= 0 && index < n;
  const int32 pinned = index < 0 ? 0 : index >= n ? n - 1 : index;
  if (text) *text = EntryText(l, pinned);
  return inRange ? 1 : 0;
}

void DlgSetListItemGlyph(DialogRef dialog, int32 item, int32 index, int32 glyph) {
  const List l = ListOf(dialog, item);
  if (l.box && InRange(l, index)) SetEntryWord(l, index, kEntryGlyph, uInt32(glyph));
}

int32 DlgGetSelectedListItem(DialogRef dialog, int32 item, int32* index, LStrHandle* text) {
  const List l = ListOf(dialog, item);
  if (!l.box) return 0;
  int32 selected = -1;
  if (DlgGetCtrlVal(dialog, item, kI32Value, &selected) != kNoErr) selected = -1;
  const List now = ListOf(dialog, item);  // the data may have moved
  if (!InRange(now, selected)) selected = -1;
  if (index) *index = selected;
  if (selected < 0) return 0;
  if (text) {
    LStrHandle t = EntryText(now, selected);
    const int32 n = t && *t ? int32(GetNative32(reinterpret_cast<uChar*>(*t))) : 0;
    UHandle copy = DSNewHandle(4 + n);
    if (copy) {
      PutNative32(*copy, uInt32(n));
      if (n) std::memcpy(*copy + 4, reinterpret_cast<uChar*>(*t) + 4, size_t(n));
    }
    *text = reinterpret_cast<LStrHandle>(copy);
  }
  return (EntryWord(now, selected, 0) & kListEntryDisabled) ? 0 : 1;
}

int32 DlgSetSelectedListItem(DialogRef dialog, int32 item, int32 index, int32 scroll) {
  const List l = ListOf(dialog, item);
  if (!l.box) return 0;
  if (OHWord(dialog, uInt32(l.box)) & kMultipleSelection) {
    DBPrintf("Don't support multiple selection yet!!");
    return 0;
  }
  if (scroll && DlgServices().listScrollBy) {
    const int32 by = DlgServices().listScrollBy(dialog, l.box, index);
    const List now = ListOf(dialog, item);
    if (now.box) PutNative16(now.data + kTopRowAt, uInt16(int32(GetNative16(now.data + kTopRowAt)) + by));
  }
  if (!InRange(l, index)) index = -1;
  DlgSetCtrlVal(dialog, item, kI32Value, &index);
  return 1;
}

int32 DlgListDoubleClickIndex(DialogRef dialog, int32 item) {
  const List l = ListOf(dialog, item);
  return l.box ? int16(GetNative16(l.data + kDoubleClickAt)) : -1;
}

int32 DlgGetDoubleClickListItem(DialogRef dialog, int32 item, int32* index) {
  const List l = ListOf(dialog, item);
  if (!l.box) return 0;
  const int32 clicked = int16(GetNative16(l.data + kDoubleClickAt));
  if (index) *index = clicked;
  PutNative16(l.data + kDoubleClickAt, uInt16(-1));
  return clicked != -1 ? 1 : 0;
}

void DlgSyncListScrollBar(DialogRef dialog, int32 item) {
  const List l = ListOf(dialog, item);
  if (!l.box) return;
  const WindowRef window = DlgWindow(dialog);
  if (!window || !WIsVisible(window)) return;
  if (DlgServices().listDrawScrollBar) DlgServices().listDrawScrollBar(dialog, l.box);
  WUpdate(window);
}
