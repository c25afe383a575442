// Drawing the listbox: its rows (symbol, indent, text, separator, caret and
// drop line), the scroll bar and its parts, and the redraws that follow a
// change of the selection or of the top row.
#include <algorithm>
#include <cstring>

#include "controls/listbox.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dcolor.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "mgsource/window/sbar.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/wport.h"
#include "panel/blink.h"
#include "panel/editmsg.h"
#include "panel/ctrl_internal.h"
#include "panel/objdraw.h"
#include "panel/objects.h"
#include "panel/oinval.h"
#include "panel/osupport.h"
#include "panel/paneldisplay.h"
#include "panel/rangecheck.h"
#include "platform/qx_sysinfo.h"

namespace {

constexpr uInt32 kObjFlagTextOnly = 1u << 20;  // draw only the text object
constexpr uInt32 kPartDefers = 0x4;            // the part is invalidated, not drawn in place
constexpr int16 kOldListPart = 28;
constexpr int32 kLbFramePart = 9, kLbFrameFlag = 0x10;
constexpr DColor kWhite = 0xFFFFFF, kBlack = 0, kDisabledGrey = 0xCCCCCC;

TRecord TextRecord(ObjHeap heap, int32 listbox) {
  const int32 text = ObjWord(heap, listbox, kLbTextWord);
  if (text <= 0 || !OHIsUsedBlock(heap, text) || OHBlockSize(heap, text) < 4 * 10) return nullptr;
  TRecord r = PartTextRecord(heap, text);
  return r && *r ? r : nullptr;
}
int32 ListPart(ObjHeap heap, int32 listbox) {
  const int32 p = FindPart(heap, listbox, kLbListPart, 0);
  return p > 0 && ctrl::IsObj(heap, p) ? p : 0;
}
int32 RowHeight(ObjHeap heap, int32 listbox) { return std::max<int32>(ObjInt16(heap, listbox, kLbRowHeightByte), 1); }

// The caret's frame: the grey pattern, black dots on white, one pixel wide.
void FrameCaret(const Rect& r) {
  DSelectNormPen(kWhite, kWhite);
  DFrameRect(&r);
  DSelectNormPen(kBlack, kBlack);
  const auto dot = [](int32 h, int32 v) {
    if (((h + v) & 1) == 0) DSetPixel(h, v);
  };
  for (int32 h = r.left; h < r.right; ++h) dot(h, r.top), dot(h, r.bottom - 1);
  for (int32 v = r.top + 1; v < r.bottom - 1; ++v) dot(r.left, v), dot(r.right - 1, v);
}

}  // namespace

int32 ListboxListRects(ObjHeap heap, int32 listbox, Rect* list, Rect* bar) {
  Rect r{0, 0, 0, 0};
  if (const int32 p = ListPart(heap, listbox)) r = ctrl::BoundsOf(heap, p);
  const bool shown = !(lb::Flags(heap, listbox) & kLbNoScrollBar);
  Rect b = r;
  if (shown) {
    r.right = int16(std::max<int32>(r.left, r.right - PlatGetSystemMetric(kPlatMetricVScrollWidth)));
    b.left = r.right;
  } else {
    b.left = b.right;
  }
  if (list) *list = r;
  if (bar) *bar = b;
  return shown;
}

void ListboxRowLayout(ObjHeap heap, int32 listbox, const uChar* data, int32 row, ListboxRowBoxes* out) {
  Rect list;
  ListboxListRects(heap, listbox, &list, nullptr);
  const uInt32 flags = lb::Flags(heap, listbox);
  const int32 h = RowHeight(heap, listbox);
  const int32 top = list.top + (row - lb::Top(data)) * h;
  out->row = Rect{int16(top), list.left, int16(top + h), list.right};
  int32 left = list.left;
  out->symbol = Rect{out->row.top, int16(left), out->row.bottom, int16(left)};
  if (flags & kLbShowSymbols) {
    left += (flags & kLbLargeSymbols) ? 22 : 16;
    out->symbol.right = int16(left);
  }
  TRecord tr = TextRecord(heap, listbox);
  const uInt32 textMode = tr ? TRData(tr)->mode & kTRModeJustify : 0;
  if (!(flags & kLbShowSymbols) && textMode == 0) left += 5;
  out->text = Rect{out->row.top, int16(left), out->row.bottom, list.right};
  out->margin = Rect{out->row.top, list.right, out->row.bottom, list.right};
  if (textMode == kTRJustifyRight) {
    out->margin.left = int16(std::max<int32>(left, list.right - 5));
    out->text.right = out->margin.left;
  }
  // The text line is centred in the row.
  int32 ascent = 0, descent = 0, leading = 0;
  if (tr) TGetFontMetrics(TRData(tr)->runs[0].font, &ascent, &descent, &leading);
  const int32 line = std::min<int32>(ascent + descent, h);
  out->text.top = int16(top + (h - line) / 2);
  out->text.bottom = int16(out->text.top + line);
}

void ListboxRowColors(ObjHeap heap, int32 listbox, uInt32 itemFlags, int32 drawMode, DColor* text, DColor* back) {
  TRecord tr = TextRecord(heap, listbox);
  const int32 list = ListPart(heap, listbox);
  DColor t = tr ? TRData(tr)->runs[0].colour : kBlack;
  DColor b = list ? ctrl::PartBack(heap, list) : kTransparentColor;
  if (b == kTransparentColor) b = kWhite;
  if (itemFlags & kLbItemSelected) {
    if (drawMode == kDrawModeBlinkNormal || drawMode == kDrawModeNormal) {
      std::swap(t, b);
    } else if (drawMode == kDrawModeBlink) {
      const DColor ht = PlatSysColourRgb(kPlatColourHighlightText), hb = PlatSysColourRgb(kPlatColourHighlight);
      t = ht == kTransparentColor ? t : ht;
      b = hb == kTransparentColor ? b : hb;
    } else {
      DBAssert(__FILE__, __LINE__, "a listbox row's draw mode");
    }
  }
  if (itemFlags & (kLbItemDisabled | kLbItemSeparator)) t = kDisabledGrey;
  *text = t, *back = b;
}

void ListboxDrawRow(ObjHeap heap, int32 listbox, const uChar* data, int32 row, int32 drawMode) {
  int32 count;
  UHandle items = lb::Items(data, &count);
  if (!items || row < 0 || row >= count) return;
  const ::ListboxItem it = *lb::Item(items, row);
  const uInt32 flags = lb::Flags(heap, listbox);
  DColor text, back;
  ListboxRowColors(heap, listbox, it.flags, drawMode, &text, &back);
  // On one-bit ports a selected row is white on black.
  const bool inverted = it.flags & kLbItemSelected;
  const DColor bwText = inverted ? kWhite : kBlack, bwBack = inverted ? kBlack : kWhite;
  ListboxRowBoxes box;
  ListboxRowLayout(heap, listbox, data, row, &box);
  DSelectNormPen(back, bwBack);
  DPaintRect(&box.row);
  const int32 mid = (box.row.top + box.row.bottom) / 2;
  if (it.flags & kLbItemSeparator) {
    DSelectNormPen(text, bwText);
    DMoveTo(box.row.left, mid);
    DLineTo(box.row.right - 2, mid);
  } else {
    const int16 shift = int16(10 * int32(it.flags >> kLbItemIndentShift));
    box.text.left = int16(std::min<int32>(box.text.left + shift, box.text.right));
    box.symbol.left += shift, box.symbol.right += shift;
    TRecord tr = TextRecord(heap, listbox);
    const int32 font = tr ? TRData(tr)->runs[0].font : 0;
    const uInt32 mode = tr ? TRData(tr)->mode & kTRModeJustify : 0;
    const uChar* bytes = nullptr;
    int32 n = 0;
    if (UHandle h = it.text; h && DSCheckHandle(h) == kNoErr && *h && DSGetHandleSize(h) >= 4) {
      uInt32 len;
      std::memcpy(&len, *h, 4);
      if (len <= uInt32(DSGetHandleSize(h) - 4)) bytes = *h + 4, n = int32(len);
    }
    if (n) TBox(&box.text, int32(mode | ((it.flags & kLbItemDisabled) ? 0x100 : 0)), bytes, n, font, text, back, bwText, bwBack);
    const int32 sym = int16(it.symbol & 0xFFFF);
    int32 image = 0;
    if (flags & kLbShowSymbols) {
      // Built-in symbols name pictures of the system's set: their images
      // come from its table.
      const int32 builtIn = ListboxSymbolImage(sym);
      image = sym >= 1000 ? ((flags & kLbLargeSymbols) ? ListboxLoadedSymbol(sym) : 0)
              : builtIn   ? CheckPictIndex(builtIn)
                          : 0;
    }
    if (image) {
      const int32 side = std::min<int32>(16, box.symbol.bottom - box.symbol.top);
      const int32 l = (box.symbol.left + box.symbol.right - side) / 2, t = (box.symbol.top + box.symbol.bottom - side) / 2;
      const Rect r{int16(t), int16(l), int16(t + side), int16(l + side)};
      IDraw(image, nullptr, &r, text, back, bwText, bwBack);
      if ((it.flags & kLbItemDisabled) && sym >= 37) DGrayOutRect(&r, back);
    }
    if ((it.flags & kLbItemDisabled) && DIsBW()) DGrayOutRect(&box.row, back);
  }
  if (it.flags & kLbItemCaret) FrameCaret(box.row);
  const int32 drop = lb::DropPosition(listbox);
  if (drop >= 0 && (row == drop || row == drop - 1)) {
    DSelectNormPen(text, bwText);
    const int32 v = row == drop ? box.row.top : box.row.bottom - 1;
    DMoveTo(box.row.left, v);
    DLineTo(box.row.right - 1, v);
  }
}

void ListboxDrawItem(ObjHeap heap, int32 listbox, const uChar* data, int32 item, int32 drawMode) {
  int32 count;
  lb::Items(data, &count);
  const int32 top = lb::Top(data), rows = lb::Rows(heap, listbox);
  if (item < 0 || item >= count || item < top || item >= top + rows) {
    DBAssert(__FILE__, __LINE__, "a listbox item outside its visible rows");
    return;
  }
  ListboxDrawRow(heap, listbox, data, item, drawMode);
}

void ListboxDrawContents(ObjHeap heap, int32 listbox, void* data, int32 first, int32 last, int32 drawMode) {
  const uChar* d = data ? static_cast<const uChar*>(data) : lb::Data(heap, listbox);
  if (!d) {
    DBPrintf("No LBD in ListboxDrawContents!!!");
    return;
  }
  int32 count;
  lb::Items(d, &count);
  const int32 top = lb::Top(d);
  const int32 end = std::min({last, top + lb::Rows(heap, listbox) - 1, count - 1});
  for (int32 i = std::max(first, top); i <= end; ++i) ListboxDrawItem(heap, listbox, d, i, drawMode);
}

void ListboxDrawScrollBar(ObjHeap heap, int32 listbox, int32 drawMode, int32 withScrollBar) {
  if (!lb::IsListbox(heap, listbox)) return;
  if (ctrl::Flags(heap, listbox) & kObjFlagTextOnly) {
    const int32 text = ObjWord(heap, listbox, kLbTextWord);
    if (text > 0 && ctrl::IsObj(heap, text)) ODraw(heap, text, nullptr, int32(0), int32(kDrawModeNormal));
    return;
  }
  const uChar* d = lb::Data(heap, listbox);
  Rect bar;
  if (ListboxListRects(heap, listbox, nullptr, &bar) && withScrollBar && d && bar.right > bar.left &&
      bar.bottom > bar.top) {
    int32 count;
    lb::Items(d, &count);
    DrawSBar(&bar, lb::Top(d), lb::Rows(heap, listbox), count, nullptr, nullptr, 1);
  }
  const int32 top = d ? lb::Top(d) : 0;
  ListboxDrawContents(heap, listbox, const_cast<uChar*>(d), top, top + lb::Rows(heap, listbox) - 1, drawMode);
}

void ListboxRedrawItem(ObjHeap heap, int32 listbox, void* data, int32 item) {
  const uChar* d = data ? static_cast<const uChar*>(data) : lb::Data(heap, listbox);
  if (!d) return;
  int32 count;
  lb::Items(d, &count);
  const int32 top = lb::Top(d);
  if (item < 0 || item >= count || item < top || item >= top + lb::Rows(heap, listbox)) return;
  const int32 list = ListPart(heap, listbox);
  if (!list || (ctrl::Flags(heap, list) & kPartDefers) || gDeferDrawing) {
    if (list) OInval(heap, list, kInvalAll);
    return;
  }
  ListboxDrawRow(heap, listbox, d, item, kDrawModeNormal);
}

void ListboxScrollTo(ObjHeap heap, int32 listbox, int32 withScrollBar) {
  const int32 list = ListPart(heap, listbox);
  if (!list) return;
  if ((ctrl::Flags(heap, list) & kPartDefers) || gDeferDrawing) {
    OInval(heap, list, kInvalAll);
    return;
  }
  ListboxDrawScrollBar(heap, listbox, kDrawModeNormal, withScrollBar);
}

void ListboxSyncScrollBar(ObjHeap heap, int32 listbox) {
  if (!lb::IsListbox(heap, listbox)) return;
  const int32 list = ListPart(heap, listbox);
  if (!list) return;
  if (ctrl::Hidden(heap, listbox) || ctrl::Hidden(heap, list) || gDeferDrawing) {
    OInval(heap, list, kInvalAll);
    return;
  }
  ListboxScrollTo(heap, listbox, 1);
}

void ListboxRedrawScrolled(ObjHeap heap, int32 listbox, int32 oldTop) {
  if (!lb::IsListbox(heap, listbox)) return;
  const int32 list = ListPart(heap, listbox);
  const uChar* d = lb::Data(heap, listbox);
  if (!list || !d || ctrl::Hidden(heap, listbox) || ctrl::Hidden(heap, list) || gDeferDrawing ||
      (ctrl::Flags(heap, list) & kPartDefers) || (ctrl::Flags(heap, listbox) & kObjFlagTextOnly)) {
    ListboxSyncScrollBar(heap, listbox);
    return;
  }
  const int32 top = lb::Top(d), rows = lb::Rows(heap, listbox);
  Rect bar;
  if (ListboxListRects(heap, listbox, nullptr, &bar) && bar.right > bar.left && bar.bottom > bar.top) {
    int32 count;
    lb::Items(d, &count);
    // Only what moved on the bar: its thumb, when it moved at all.
    UpdateSBar(&bar, top, rows, count, oldTop, rows, count, nullptr, nullptr, 1);
  }
  ListboxDrawContents(heap, listbox, const_cast<uChar*>(d), top, top + rows - 1, kDrawModeNormal);
}

void ListboxDrawParts(ObjHeap heap, int32 listbox, const void* value, int32 drawMode) {
  const int32 parts = ObjWord(heap, listbox, kObjPartList / 4);
  const int32 n = parts ? PanelListCount(heap, parts) : 0;
  for (int32 i = n - 1; i >= 0; --i) {
    const int32 part = ObjListGet(heap, parts, i);
    if (part == listbox || !ctrl::IsObj(heap, part) || ctrl::Hidden(heap, part)) continue;
    const int16 id = ctrl::PartIdOf(heap, part);
    const int32 mode = drawMode == kDrawModeBlink && !IsBlinkPart(heap, listbox, id) ? kDrawModeNormal : drawMode;
    ODraw(heap, part, nullptr, int32(0), mode);
    if (id == kLbListPart) {
      ListboxApplySelection(heap, listbox, const_cast<void*>(value), 0);
      ListboxDrawScrollBar(heap, listbox, mode, 1);
    }
  }
}

int32 ListboxODrawMethod(ObjHeap heap, int32 listbox, const void* value, int32 pass, int32 mode) {
  const int32 old = FindPart(heap, listbox, kOldListPart, 0);
  if (old > 0 && ctrl::IsObj(heap, old)) {
    const int16 id = kLbListPart;
    std::memcpy(*heap + old + kObjPartId, &id, 2);
    DBPrintf("Mutated kContentRectID to kListboxContentID");
  }
  const Rect bounds = ctrl::BoundsOf(heap, listbox);
  if (WNeedsDraw(&bounds)) ListboxDrawParts(heap, listbox, value, BlinkPartState(heap, listbox, mode));
  return DDOODrawMethod(heap, listbox, value, pass, kDrawModeNormal);
}

// A listbox whose frame part shows the standard picture is framed just
// outside that part, in black; any other gets the generic frame.
int32 ListboxOFrameSelMethod(ObjHeap heap, int32 listbox, ObjHeap port, int32 offset, int32 flags) {
  const int32 frame = FindPart(heap, listbox, kLbFramePart, 0);
  if (!(flags & kLbFrameFlag) || !IsPart9StdImage(heap, listbox) || frame <= 0 || !ctrl::IsObj(heap, frame))
    return DDOOFrameSelMethod(heap, listbox, port, offset, flags);
  Rect r = ctrl::BoundsOf(heap, frame);
  Point by;
  std::memcpy(&by, &offset, sizeof by);
  r.top = int16(r.top + by.v - 2), r.bottom = int16(r.bottom + by.v + 2);
  r.left = int16(r.left + by.h - 2), r.right = int16(r.right + by.h + 2);
  DSelectNormPen(kBlack, kBlack);
  DFrameRect(&r);
  return 0;
}
