// A table's state, its look list, its header lists, its font list and its
// value come from a VI file: counts may claim more than their handles hold,
// offsets and origins may be anything, looks may name any row, column,
// width or height.  Drawing, value display, cell access with growth and
// look changes must stay inside every block, end, and leave the look list
// sorted with the all-cells record first and no record without a field.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

#include "controls/table.h"
#include "controls/tableops.h"
#include "mgsource/window/textrec.h"
#include "panel/attrcall.h"
#include "panel/operate.h"
#include "mgsource/window/sbar.h"
#include "fuzz_support.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "panel/ctrl_internal.h"
#include "panel/datamsg.h"
#include "panel/objdraw.h"
#include "panel_fuzz_support.h"

namespace {

constexpr int32 kRec = int32(sizeof(TableCellFontRec));

// Small numbers mostly, anything now and then.
int32 Index(FuzzReader& in) {
  const uint8_t b = in.Byte();
  return b < 240 ? int32(b % 9) - 2 : int32(in.Word());
}

struct Run {
  FuzzReader in;
  std::vector<UHandle> strings;  // every string handle made here

  UHandle Str() {
    if (in.Byte() < 64) return nullptr;
    const int32 n = in.Byte() % 6;
    UHandle h = DSNewHandle(4 + n);
    if (!h) return nullptr;
    PutNative32(*h, uInt32(n));
    for (int32 i = 0; i < n; ++i) (*h)[4 + i] = uChar('a' + in.Byte() % 26);
    strings.push_back(h);
    return h;
  }
  // A list of room entries of string handles whose count word may lie.
  UHandle List(int32 dims) {
    if (in.Byte() < 40) return nullptr;
    int32 sizes[2] = {in.Byte() % 5, in.Byte() % 5};
    const int32 room = dims == 1 ? sizes[0] : sizes[0] * sizes[1];
    UHandle h = DSNewHClr(4 * dims + 4 * room);
    if (!h) return nullptr;
    for (int32 d = 0; d < dims; ++d) PutNative32(*h + 4 * d, in.Byte() < 220 ? uInt32(sizes[d]) : in.Word());
    for (int32 i = 0; i < room; ++i) {
      const UHandle s = Str();
      std::memcpy(*h + 4 * dims + 4 * i, &s, 4);
    }
    return h;
  }
  UHandle Looks() {
    if (in.Byte() < 40) return nullptr;
    const int32 n = in.Byte() % 8;
    UHandle h = DSNewHClr(4 + kRec * n);
    if (!h) return nullptr;
    PutNative32(*h, in.Byte() < 220 ? uInt32(n) : in.Word());
    for (int32 i = 0; i < n; ++i) {
      TableCellFontRec r{};
      r.row = Index(in), r.column = Index(in), r.font = Index(in), r.format = int32(in.Word());
      r.textColor = in.Word(), r.backColor = in.Word();
      r.width = in.Byte() < 200 ? in.Byte() % 40 : int32(in.Word());
      r.height = in.Byte() < 200 ? in.Byte() % 30 : int32(in.Word());
      r.blink = in.Byte() & 1 ? kCellBlinking : 0;
      r.mask = in.Byte() < 200 ? in.Byte() & 0x7F : in.Word();
      std::memcpy(*h + 4 + kRec * i, &r, sizeof r);
    }
    return h;
  }
};

// Collects the string handles an array holds within its room.
void Collect(UHandle a, int32 dims, std::set<UHandle>* out) {
  if (!a || !*a || DSGetHandleSize(a) < 4 * dims) return;
  const int32 room = (DSGetHandleSize(a) - 4 * dims) / 4;
  int64 n = 1;
  for (int32 d = 0; d < dims; ++d) n *= std::max<int32>(int32(GetNative32(*a + 4 * d)), 0);
  for (int64 i = 0; i < std::min<int64>(n, room); ++i) {
    UHandle s;
    std::memcpy(&s, *a + 4 * dims + 4 * i, 4);
    if (s) out->insert(s);
  }
}

void CheckLooks(ObjHeap heap, int32 table) {
  const TableState* st = TableStateOf(heap, table);
  const UHandle h = st ? st->cellFormats : nullptr;
  if (!h) return;
  const int32 n = int32(GetNative32(*h));
  // An empty list (nothing stored yet) is every cell's default look.
  FUZZ_CHECK(n >= 0 && 4 + int64(n) * kRec <= DSGetHandleSize(h));
  if (n == 0) return;
  std::vector<TableCellFontRec> r(static_cast<size_t>(n));
  std::memcpy(r.data(), *h + 4, size_t(n) * kRec);
  FUZZ_CHECK(r[0].row == kTableAll && r[0].column == kTableAll);
  for (int32 i = 0; i < n; ++i) {
    FUZZ_CHECK(r[size_t(i)].mask & kCellLookAll);
    if (i) FUZZ_CHECK(TableCellFormatCompare(&r[size_t(i - 1)], &r[size_t(i)]) <= 0);
  }
}


// Clicks, tracking, keys and properties at the table, as the panel and
// property nodes send them: origins that were not negative stay so, and the
// edit cell is never the corner.
int32 gWorked = 0;
void CheckWorked(ObjHeap heap, int32 table, bool originsKept) {
  const TableState* st = TableStateOf(heap, table);
  if (!st) return;
  if (originsKept) FUZZ_CHECK(st->topRow >= 0 && st->leftColumn >= 0);
  FUZZ_CHECK(!(ObjWord(heap, table, kTableEditRowWord) == -1 && ObjWord(heap, table, kTableEditColumnWord) == -1) ||
             gWorked == 0);
}
Point FuzzPoint(FuzzReader& in) { return Point{int16(int32(in.Byte()) - 20), int16(int32(in.Byte()) - 20)}; }

// An action at the table (mode 2) or at its part (mode 0, the part at index).
int32 Doit(ObjHeap heap, int32 table, int32 mode, int32 index, int32 action, ActionParams* p, int32 part = 0) {
  void* const previous = TRPushFrame();
  auto* frame = static_cast<TransactionFrame*>(TRStackTop());
  frame[0] = TransactionFrame{table, kCatDDO, mode, index};
  frame[1].kind = 0;
  if (part) frame[1] = TransactionFrame{part, kCatCOSM, 2, 0}, frame[2].kind = 0;
  const int32 reply = OSendMessage<int32>(kMsgODoit, heap, table, frame, action, p);
  TRSetStackTop(previous);
  return reply;
}

// Whether a commit could grow the value or a header list to a far cell
// (an origin, a visible count or the edit cell beyond a few hundred): such
// growth is refused by memory and reported, which is no fault here.
bool FarCells(ObjHeap heap, int32 table) {
  const TableState* st = TableStateOf(heap, table);
  if (!st) return false;
  auto far = [](int64 v) { return v > 200 || v < -2; };
  return far(int64(st->topRow) + st->visibleRows) || far(int64(st->leftColumn) + st->visibleColumns) ||
         far(st->topRow) || far(st->leftColumn) || far(ObjWord(heap, table, kTableEditRowWord)) ||
         far(ObjWord(heap, table, kTableEditColumnWord)) || st->visibleRows < 0 || st->visibleColumns < 0;
}

void WorkTable(FuzzReader& in, ObjHeap heap, int32 table, TRecord text, int32 label, std::vector<UHandle>* owned) {
  const int32 ext = int32(OHWord(heap, kOHExtension));
  switch (in.Byte() % 4) {
    case 0: {  // a click, then tracking steps while the table tracks
      TransactionState click{int32(in.Byte() % 8), 0, int32(in.Byte()), nullptr};
      const Point at = FuzzPoint(in);
      std::memcpy(&click.point, &at, 4);
      ActionParams p{};
      p.point = at;
      void* const previous = TRPushFrame();
      auto* frame = static_cast<TransactionFrame*>(TRStackTop());
      const int32 answer = OSendMessage<int32>(kMsgOClick, heap, table, &click, frame, &p);
      TRSetStackTop(previous);
      if (answer != kClickTrack || p.dragObject != table) break;
      for (int32 step = 0, n = 1 + in.Byte() % 6; step < n; ++step) {
        p.eventCode = 1 + in.Byte() % 4;
        const Point to = FuzzPoint(in);
        std::memcpy(&p.localPoint, &to, 4);
        p.modifiers = in.Byte() & 0x2;
        if (!(Doit(heap, table, 2, 0, kActTrack, &p) & 1)) break;
      }
      break;
    }
    case 1: {  // keys at the table holding the key focus with its edit text
      PutNative32(*heap + ext + kHeapExtKeyFocus, uInt32(table));
      PutNative32(*heap + ext + kHeapExtFocusText, in.Byte() & 1 ? uInt32(uintptr_t(text)) : 0u);
      static const int32 kCodes[] = {4, 5, 6, 7, 27, 27, 38, 39, 40, 42, 43, 2, 34};
      for (int32 k = 0, n = 1 + in.Byte() % 6; k < n; ++k) {
        ActionParams p{};
        p.eventCode = kSubKeyDown;
        p.keyCode = kCodes[in.Byte() % 13];
        p.character = in.Byte() & 1 ? 10 : 'a' + in.Byte() % 26;
        p.modifiers = in.Byte() & 0x2;
        Doit(heap, table, 2, 0, kActOperate, &p);
        ++gWorked;
        PutNative32(*heap + ext + kHeapExtKeyFocus, uInt32(table));
      }
      PutNative32(*heap + ext + kHeapExtKeyFocus, 0);
      PutNative32(*heap + ext + kHeapExtFocusText, 0);
      break;
    }
    case 2: {  // a scroll-bar step on a bar the table has
      const int32 bar = ctrl::PartOf(heap, table, in.Byte() & 1 ? kTablePartVBar : kTablePartHBar);
      const int32 list = ObjWord(heap, table, kObjPartList / 4);
      int32 at = -1;
      for (int32 i = 0, n = list ? ObjListCount(heap, list) : 0; i < n; ++i)
        if (ObjListGet(heap, list, i) == bar) at = i;
      if (at < 0) break;
      SBarResetTrackers();
      ActionParams p{};
      for (int32 e : {1, 3, 2}) {
        p.eventCode = e;
        const Point to = FuzzPoint(in);
        std::memcpy(&p.localPoint, &to, 4);
        Doit(heap, table, 0, at, kActTrack, &p, bar);
      }
      break;
    }
    default: {  // a property read or written
      static const int32 kSelectors[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 11, 14, 17, 20, 21, 22, 25, 26, 27, 28, 29};
      const int32 sel = kSelectors[in.Byte() % 20];
      tdb::TD td = tdb::U32();
      if (sel >= 2 && sel <= 6) td = tdb::Boolean();
      else if (sel == 8 || sel == 14 || sel == 17 || sel == 22) td = tdb::Cluster({tdb::I32(), tdb::I32()});
      else if (sel == 11 || sel == 27) td = tdb::Cluster({tdb::U32(), tdb::U32()});
      else if (sel == 20 || sel == 21) td = tdb::Array(tdb::String());
      const std::vector<uChar> b = td.Bytes();
      UHandle types = AZNewHandle(int32(b.size()));
      if (!types) break;
      std::memcpy(*types, b.data(), b.size());
      uChar value[8] = {};
      UHandle strings = nullptr;
      if (sel == 20 || sel == 21) {
        if (in.Byte() & 1 && (strings = DSNewHClr(4 + 4 * 2))) PutNative32(*strings, 2);
        std::memcpy(value, &strings, 4);
      } else if (sel >= 2 && sel <= 6) {
        value[0] = in.Byte() & 1;
      } else {
        // Small numbers mostly, any 32-bit value now and then.
        for (int32 k = 0; k < 2; ++k) {
          const int32 v = in.Byte() < 200 ? int32(in.Byte() % 40) - 3 : int32(in.Word());
          std::memcpy(value + 4 * k, &v, 4);
        }
      }
      AttrCallRec rec{};
      rec.types = types, rec.read = in.Byte() & 1, rec.selector = sel, rec.value = value, rec.last = 1;
      if ((sel == 20 || sel == 21) && !rec.read) {
        // The table disposes the list it replaces with the strings it holds.
        const TableState* st = TableStateOf(heap, table);
        const UHandle old = st ? (sel == 20 ? st->rowHeaders : st->columnHeaders) : nullptr;
        std::set<UHandle> gone;
        if (old && DSGetHandleSize(old) >= 4) {
          const int32 n = std::clamp<int32>(int32(GetNative32(*old)), 0, (DSGetHandleSize(old) - 4) / 4);
          for (int32 i = 0; i < n; ++i) {
            UHandle e;
            std::memcpy(&e, *old + 4 + 4 * i, 4);
            gone.insert(e);
          }
        }
        owned->erase(std::remove_if(owned->begin(), owned->end(), [&](UHandle h) { return gone.count(h) != 0; }),
                     owned->end());
      }
      rec.hidden = in.Byte() & 1;
      TableAttr(heap, table, &rec);
      if (sel == 8 && !rec.read) ++gWorked;
      std::memcpy(&strings, value, 4);
      if ((sel == 20 || sel == 21) && strings) {
        const int32 n = int32(GetNative32(*strings));
        for (int32 i = 0; i < n; ++i) {
          UHandle e;
          std::memcpy(&e, *strings + 4 + 4 * i, 4);
          if (e) DSDisposeHandle(e);
        }
        DSDisposeHandle(strings);
      }
      AZDisposeHandle(types);
      break;
    }
  }
  (void)label;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static WindowRef window = 0;
  static bool init = [] {
    if (!FuzzStartPanelManagers() || WInitScreenImage() != kNoErr) return false;
    PlatSetAlertProc(&FuzzAbortWhenArmed);
    ControlsJoinTableSlots();
    ControlsJoinTableOpSlots();
    if (!TRStackBlock()) TRInit();
    DInitDraw();
    const Rect place{0, 0, 300, 400};
    window = WCreate(0x3C, nullptr, nullptr, &place, 0, 1, 0);
    return window != kWNoWindow;
  }();
  if (!init || size > 4096) return 0;
  Run run{{data, size}, {}};
  FuzzReader& in = run.in;
  UHandle vi = nullptr;
  ObjHeap heap = FuzzNewRegisteredPanel(&vi);
  if (!heap) return 0;
  const int32 root = int32(GetNative32(*heap + int32(OHWord(heap, kOHExtension)) + kHeapExtRoot));
  // Mostly the table's own type; now and then one a damaged file could give
  // it, whose elements must never be read as strings.
  const uint8_t kind = in.Byte();
  const tdb::TD type = kind < 230   ? tdb::Array(tdb::String(), {kTDVariable, kTDVariable})
                       : kind < 243 ? tdb::Array(tdb::I32(), {kTDVariable, kTDVariable})
                                    : tdb::Array(tdb::String());
  const int32 table = FuzzNewControl(heap, root, type, kClsTable);
  TableState* st = table ? TableStateOf(heap, table) : nullptr;
  if (!st) {
    UnregisterVI(vi);
    FuzzDisposePanel(heap, vi);
    return 0;
  }
  ObjSetWord(heap, table, 0, int32(in.Word() & ~kTableFlagHidden));
  const int16 parts[] = {kTablePartCells, kTablePartHBar, kTablePartVBar, kTablePartRange, kTablePartCells};
  for (int32 i = 0, n = 1 + in.Byte() % 4; i < n; ++i) {
    const int16 id = parts[in.Byte() % 5];
    const int32 p = vib::NewObject(heap, kClsCosmetic, ClassRecord(kClsCosmetic)->instanceSize, table, id, 0);
    if (!p) continue;
    const Rect b{int16(in.Byte() % 80), int16(in.Byte() % 80), int16(in.Byte() < 200 ? 80 + in.Byte() : in.Word()),
                 int16(in.Byte() < 200 ? 80 + in.Byte() : in.Word())};
    std::memcpy(*heap + p + kObjBounds, &b, sizeof b);
    ctrl::SetPartColours(heap, p, in.Byte() & 1 ? kTransparentColor : in.Word() & 0xFFFFFF, in.Word() & 0xFFFFFF);
    ObjSetWord(heap, p, 0, int32(in.Byte() & 0x4));
  }
  // The edit text's part.
  gWorked = 0;
  const Rect none{0, 0, 10, 10};
  TRecord text = TNew(&none, 0, nullptr, 0, 0, 0, 0xFFFFFF);
  int32 label = text ? vib::NewObject(heap, kClsLabel, ClassRecord(kClsLabel)->instanceSize, table, 11, 0) : 0;
  if (label) {
    ObjSetWord(heap, label, 9, int32(uintptr_t(text)));
    ObjSetWord(heap, table, kTableEditPartWord, label);
  }
  // The state.
  st = TableStateOf(heap, table);
  int32* words = &st->topRow;
  for (int32 i = 0; i < 8; ++i) words[i] = Index(in);
  st->selColor = in.Word();
  st->activeRow = Index(in), st->activeColumn = Index(in);
  const UHandle rowHeaders = run.List(1), columnHeaders = run.List(1), looks = run.Looks();
  const UHandle headerFill = run.Str(), valueFill = run.Str(), value = run.List(2);
  st = TableStateOf(heap, table);
  // What the allocation made goes first.
  for (UHandle h : {st->rowHeaders, st->columnHeaders, st->cellFormats, st->headerFill, st->valueFill})
    if (h) DSDisposeHandle(h);
  st->rowHeaders = rowHeaders, st->columnHeaders = columnHeaders, st->cellFormats = looks;
  st->headerFill = headerFill, st->valueFill = valueFill;
  UHandle* slot = TableValue(heap, table);
  if (!slot) __builtin_trap();
  if (*slot) DSDisposeHandle(*slot);
  *slot = value;
  // The font list: valid fonts, a count that may lie.
  const int32 fonts = in.Byte() % 4;
  UHandle fontList = in.Byte() < 60 ? nullptr : AZNewHandle(4 + 4 * fonts);
  if (fontList) {
    PutNative32(*fontList, in.Byte() < 220 ? uInt32(fonts) : in.Word());
    for (int32 i = 0; i < fonts; ++i) PutNative32(*fontList + 4 + 4 * i, uInt32(in.Byte() % 3));
    ObjSetWord(heap, table, kTableFontListWord, int32(uintptr_t(fontList)));
  }
  const bool looksValid = !looks || (int32(GetNative32(*looks)) >= 0 &&
                                     4 + int64(int32(GetNative32(*looks))) * kRec <= DSGetHandleSize(looks));

  WPortState saved{};
  WSetup(window, &saved);
  // Nothing the file holds may reach an assertion or an alert.
  FuzzArmed() = true;
  for (int32 op = 0, n = 1 + in.Byte() % 8; op < n; ++op) {
    switch (in.Byte() % 8) {
      case 0: {
        UHandle previous = run.List(2);
        const UHandle* now = TableValue(heap, table);
        TableDraw(heap, table, in.Byte() & 1 ? &previous : nullptr, now, 1 + in.Byte() % 7, 1 + in.Byte() % 4);
        if (previous) DSDisposeHandle(previous);
        break;
      }
      case 1: ODraw(heap, table, TableValue(heap, table), int32(0), int32(kDrawModeNormal)); break;
      case 2: {
        UHandle previous = run.List(2);
        oDisplayVal(heap, table, in.Byte() & 1 ? int32(uintptr_t(&previous)) : 0, TableValue(heap, table));
        if (previous) DSDisposeHandle(previous);
        break;
      }
      case 3: {
        // A cell store grows the value or a header list to reach the cell:
        // far cells are refused only by memory, so the growth stays small
        // here and the far ones are only read.
        const int32 row = Index(in), column = Index(in);
        ObjSetWord(heap, table, kTableCurRowWord, row);
        ObjSetWord(heap, table, kTableCurColumnWord, column);
        // An empty value may claim any count in its other dimension; a
        // growth that memory refuses is reported, which is no fault here.
        const UHandle* v = TableValue(heap, table);
        int32 rows = 0, columns = 0;
        const bool small = v && TableValueSize(*v, &rows, &columns) &&
                           std::max<int64>(rows, int64(row) + 1) * std::max<int64>(columns, int64(column) + 1) < 100000;
        if (row < 300 && column < 300 && small) {
          FuzzArmed() = false;
          OGetDataPtr(heap, table, 0, kDataPtrPlain, nullptr);
          FuzzArmed() = true;
        } else {
          UHandle* cell = TableCellPtr(heap, table, TableValue(heap, table), 0);
          if (cell) FUZZ_CHECK(!*cell || DSGetHandleSize(*cell) >= 4);
        }
        Rect r;
        TableCellRect(heap, table, Index(in), Index(in), &r);
        break;
      }
      case 4: case 5: {
        TableCellFontRec r{};
        r.row = Index(in), r.column = Index(in), r.font = in.Byte() % 3, r.format = int32(in.Word());
        r.textColor = in.Word(), r.backColor = in.Word(), r.width = in.Byte() % 50, r.height = in.Byte() % 50;
        r.blink = in.Byte() & 1 ? kCellBlinking : 0;
        const bool font = in.Byte() & 1;
        const uInt32 mask = in.Byte() & 0x7F;
        const bool line = (r.row == kTableAll) != (r.column == kTableAll);
        const int32 reply = font ? TableSetCellFont(heap, table, &r, int32(mask), int32(in.Word()))
                                 : TableSetCellFormat(heap, table, &r, mask);
        FUZZ_CHECK(!(reply & ~(kCellChangedLayout | kCellChangedColour | kCellChangeFailed)));
        // A refused change (the font list cannot take the font) leaves the
        // list as it was, and so does a line's font change of no field; any
        // other leaves it in order.
        if (looksValid && !(reply & kCellChangeFailed) && !(font && line && !mask)) CheckLooks(heap, table);
        break;
      }
      case 7: {
        const TableState* before = TableStateOf(heap, table);
        const bool kept = before && before->topRow >= 0 && before->leftColumn >= 0;
        // Properties may move the origin or the edit cell far: checked before
        // each step of a sequence of one.
        FuzzArmed() = !FarCells(heap, table);
        if (label) WorkTable(in, heap, table, text, label, &run.strings);
        FuzzArmed() = true;
        CheckWorked(heap, table, kept);
        break;
      }
      default: TableInvalCells(heap, table, Index(in), Index(in), in.Byte() & 1); break;
    }
  }
  FuzzArmed() = false;
  WRestore(&saved);

  // Everything made here, and what the table grew, goes.
  st = TableStateOf(heap, table);
  std::set<UHandle> strings(run.strings.begin(), run.strings.end());
  Collect(st->rowHeaders, 1, &strings);
  Collect(st->columnHeaders, 1, &strings);
  slot = TableValue(heap, table);
  Collect(*slot, 2, &strings);
  for (UHandle h : {st->rowHeaders, st->columnHeaders, st->cellFormats, *slot})
    if (h) DSDisposeHandle(h);
  for (UHandle s : strings) DSDisposeHandle(s);
  st = TableStateOf(heap, table);
  st->rowHeaders = st->columnHeaders = st->cellFormats = st->headerFill = st->valueFill = nullptr;
  *TableValue(heap, table) = nullptr;
  if (UHandle f = reinterpret_cast<UHandle>(uintptr_t(uInt32(ObjWord(heap, table, kTableFontListWord))))) {
    const int32 count = std::min<int32>(int32(GetNative32(*f)), (AZGetHandleSize(f) - 4) / 4);
    for (int32 i = fonts; i < count; ++i) TDisposeFont(int32(GetNative32(*f + 4 + 4 * i)));
    AZDisposeHandle(f);
    ObjSetWord(heap, table, kTableFontListWord, 0);
  }
  if (label) ObjSetWord(heap, label, 9, 0);
  if (text) TDispose(text);
  UnregisterVI(vi);
  FuzzDisposePanel(heap, vi);
  return 0;
}
