// The string import's reach into listboxes and tables.  Each list is handed
// over only when its handle holds the count it states, so that the import
// never walks past a damaged list's end.
#include "controls/strimporthooks.h"

#include "controls/listbox.h"
#include "controls/table.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "panel/blink.h"
#include "panel/ctrl_internal.h"

static_assert(kListboxItemBytes == sizeof(::ListboxItem) && kListboxItemTextAt == offsetof(::ListboxItem, text),
              "listbox item record");
static_assert(kCellFontEntryBytes == sizeof(TableCellFontRec) &&
                  kCellFontIndexAt == offsetof(TableCellFontRec, font) &&
                  kCellFontColourAt == offsetof(TableCellFontRec, textColor),
              "cell-font entry");

namespace {

// The count a data-space handle of count-prefixed entries states, -1 when
// the handle is not one or is too short for them.
int32 CountedEntries(UHandle h, int32 entryBytes) {
  if (!h || DSCheckHandle(h) != kNoErr || !*h) return -1;
  const int32 size = DSGetHandleSize(h);
  if (size < 4) return -1;
  const int32 n = int32(GetNative32(*h));
  return n >= 0 && 4 + int64(n) * entryBytes <= size ? n : -1;
}

UPtr ListboxItems(ObjHeap heap, int32 listbox, int32* count) {
  *count = 0;
  const uChar* data = lb::IsListbox(heap, listbox) ? lb::Data(heap, listbox) : nullptr;
  int32 n = 0;
  const UHandle items = data ? lb::Items(data, &n) : nullptr;
  if (!items || n <= 0) return nullptr;
  *count = n;
  return *items + 4;
}

UHandle TableHeaders(ObjHeap heap, int32 table, int32 columns) {
  const TableState* st = TableStateOf(heap, table);
  const UHandle h = st ? (columns ? st->columnHeaders : st->rowHeaders) : nullptr;
  return CountedEntries(h, 4) > 0 ? h : nullptr;
}

UPtr TableCellFonts(ObjHeap heap, int32 table, int32* count) {
  *count = 0;
  const TableState* st = TableStateOf(heap, table);
  const UHandle h = st ? st->cellFormats : nullptr;
  const int32 n = CountedEntries(h, kCellFontEntryBytes);
  if (n <= 0) return nullptr;
  *count = n;
  return *h + 4;
}

// The font list: an application-zone handle, a count, then font numbers.
UHandle TableFonts(ObjHeap heap, int32 table, int32* count) {
  *count = 0;
  const UHandle fonts = reinterpret_cast<UHandle>(uintptr_t(uInt32(ctrl::WordOr0(heap, table, kTableFontListWord))));
  if (!fonts || !AZIsHandle(fonts) || AZGetHandleSize(fonts) < 4) return nullptr;
  const int32 n = int32(GetNative32(*fonts));
  if (n < 0 || 4 + int64(n) * 4 > AZGetHandleSize(fonts)) return nullptr;
  *count = n;
  return fonts;
}

int32 TableFont(ObjHeap heap, int32 table, int32 index) {
  int32 n = 0;
  const UHandle fonts = TableFonts(heap, table, &n);
  return fonts && index >= 0 && index < n ? int32(GetNative32(*fonts + 4 + 4 * index)) : 0;
}

// Takes the font (the import's reference) into the entry and releases the
// one it held; a font with no entry to go to is released at once.
void SetTableFont(ObjHeap heap, int32 table, int32 index, int32 font) {
  int32 n = 0;
  const UHandle fonts = TableFonts(heap, table, &n);
  if (!fonts || index < 0 || index >= n) {
    TDisposeFont(font);
    return;
  }
  const int32 old = int32(GetNative32(*fonts + 4 + 4 * index));
  PutNative32(*fonts + 4 + 4 * index, uInt32(font));
  if (old != font) TDisposeFont(old);
}

}  // namespace

void ControlsFillStringImportHooks(StringImportHooks* hooks) {
  hooks->listboxItems = &ListboxItems;
  hooks->tableHeaders = &TableHeaders;
  hooks->tableCellFonts = &TableCellFonts;
  hooks->tableFont = &TableFont;
  hooks->setTableFont = &SetTableFont;
}
