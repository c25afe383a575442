#include "panel/objdraw.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/datatype.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/memory.h"
#include "mgsource/prefs.h"
#include "mgsource/window/textedit.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/wport.h"
#include "panel/blink.h"
#include "panel/booltext.h"
#include "panel/ctrldraw.h"
#include "panel/datamsg.h"
#include "panel/methsupport.h"
#include "panel/numoperate.h"
#include "panel/objload.h"
#include "panel/oinit.h"
#include "panel/oinval.h"
#include "panel/operate_internal.h"
#include "panel/osupport.h"
#include "panel/panelcells.h"
#include "panel/paneldisplay.h"
#include "panel/rangecheck.h"
#include "panel/textparts.h"
#include "panel/transact.h"
#include "rtlib/panellocators.h"

using opmeth::BoundsOf;
using opmeth::ExtWord;
using opmeth::Flags;
using opmeth::IsObject;

int32 gPanelImagingMode = kPanelDrawScreen;

int32 PanelSetImagingMode(int32 mode) {
  const int32 old = gPanelImagingMode;
  gPanelImagingMode = mode;
  return old;
}

namespace {

const char kSourceFile[] = "objdraw";

constexpr int16 kPartContent = 28, kPartValueFirst = 8001, kPartIndexDisplay = 8002, kPartInner = 8010;
constexpr DColor kWhite = 0xFFFFFF, kBlack = 0x000000, kGrey = 0xB3B3B3;
constexpr uInt32 kTextShowsCodes = 0x1000000;
constexpr uInt32 kOwnerModeShowAll = 0x400000;
constexpr int32 kElementListWord = 10;             // a cluster's elements
constexpr int32 kShowAllWord = kHeapExtConfirm;    // the object of the show-all state
constexpr int32 kMultiLabelIndexWord = 10;         // a multi-label's shown index
// Control pictures a label's background may show that do not print with an
// opaque text background.
constexpr int32 kPlainPictFirst = 9, kPlainPictLast = 20;

PanelDrawHooks gHooks;

int32 Addr(const void* p) { return int32(uintptr_t(p)); }
bool Hidden(ObjHeap heap, int32 o) { return Flags(heap, o) & kObjFlagHidden; }
int16 PartId(ObjHeap heap, int32 o) { return ObjInt16(heap, o, kObjPartId); }
bool Meets(ObjHeap heap, int32 o) {
  const Rect r = BoundsOf(heap, o);
  return WNeedsDraw(&r) != 0;
}
bool Has(ObjHeap heap, int32 o, int32 bytes) { return IsObject(heap, o) && OHBlockSize(heap, o) >= bytes; }
void SetFlags(ObjHeap heap, int32 o, uInt32 flags) { ObjSetWord(heap, o, 0, int32(flags)); }
bool IsFrontPanelHeap(ObjHeap heap) { return heap && *heap && OHWord(heap, kOHKind) == kPanelHeapKind; }
int32 Root(ObjHeap heap) { return int32(ExtWord(heap, kHeapExtRoot)); }

// The panel's background colour (the root's word 15).
DColor PanelBackground(ObjHeap heap) {
  const int32 root = Root(heap);
  return Has(heap, root, kRootPanelColour + 4) ? DColor(ObjWord(heap, root, kRootPanelColour / 4)) : kTransparentColor;
}
DColor Opaque(DColor c, DColor instead) { return c == kTransparentColor ? instead : c; }
DColor BlinkFore() { return DColor(PrefGet(kPrefBlinkFG)); }
DColor BlinkBack() { return DColor(PrefGet(kPrefBlinkBG)); }

// Whether the class draws an object with a method that first asks whether
// its bounds meet the area being redrawn, and nothing else when they do not.
bool DrawsOnlyWhereRedrawn(int32 cls) {
  const ObjClassRecord* r = ClassRecord(cls);
  const ObjMethodAddr m = r->methods[std::min<int32>(kMsgODraw, r->methodCount)];
  return m == reinterpret_cast<ObjMethodAddr>(&CosmeticODrawMethod) ||
         m == reinterpret_cast<ObjMethodAddr>(&LabelODrawMethod);
}

// ---- Bounded sends ----------------------------------------------------------------------
// Part lists come from files: one naming its owner, or naming one object
// many times over, must end.  The nesting is bounded by the heap's blocks,
// and the sends of one outermost draw by a budget that each visited array
// cell widens by the heap's size.
int32 gDepth = 0;
int64 gBudget = 0;
constexpr int32 kDepthCap = 200;

int32 BlockBound(ObjHeap heap) { return int32((OHWord(heap, kOHEndOffset) + 1) / 16) + 1; }

// The object checked to be one already, of the class.
int32 SendDrawAs(ObjHeap heap, int32 o, int32 cls, const void* data, int32 pass, int32 mode) {
  const ObjClassRecord* r = ClassRecord(cls);
  const ObjMethodAddr m = r->methods[std::min<int32>(kMsgODraw, r->methodCount)];
  if (m == reinterpret_cast<ObjMethodAddr>(&ErrorMethod)) return 0;
  const int32 bound = BlockBound(heap);
  if (gDepth == 0) gBudget = 8 * int64(bound) + 64;
  if (gDepth >= kDepthCap || gDepth >= bound || gBudget <= 0) return 0;
  --gBudget;
  ++gDepth;
  // The class's method, entered as the dispatcher enters it.
  typedef int32 (*DrawMethod)(ObjHeap, int32, const void*, int32, int32);
  const int32 reply = reinterpret_cast<DrawMethod>(m)(heap, o, data, pass, mode);
  --gDepth;
  return reply;
}
int32 SendDrawTo(ObjHeap heap, int32 o, const void* data, int32 pass, int32 mode) {
  return SendDrawAs(heap, o, ObjClass(heap, o), data, pass, mode);
}
int32 SendDraw(ObjHeap heap, int32 o, const void* data, int32 pass, int32 mode) {
  return IsObject(heap, o) ? SendDrawTo(heap, o, data, pass, mode) : 0;
}

// Visits the entries of the object's list in that word from the last to
// the first; a list that drawing moved or replaced is checked again.
template <typename Visit>
void ForEachFromLast(ObjHeap heap, int32 object, int32 word, Visit visit) {
  if (!Has(heap, object, 4 * (word + 1))) return;
  int32 list = ObjWord(heap, object, word), n = PanelListCount(heap, list);
  for (int32 i = n - 1; i >= 0; --i) {
    if (const int32 now = ObjWord(heap, object, word); now != list) list = now, n = PanelListCount(heap, list);
    if (i >= n) continue;
    const int32 o = ObjListGet(heap, list, i);
    if (IsObject(heap, o) && o != object) visit(o);
  }
}
template <typename Visit>
void ForEachPartFromLast(ObjHeap heap, int32 object, Visit visit) {
  ForEachFromLast(heap, object, PartListWord(heap, object), visit);
}

// The panel's data space, asserted to exist.
UHandle PanelData(ObjHeap heap, const char* who) { return PanelDataSpaceOrAssert(heap, kSourceFile, __LINE__, who); }

// Whether the object is the container or lies in it directly (through its
// data controller for a display object).
bool IsChildOf(ObjHeap heap, int32 object, int32 container) {
  if (!IsObject(heap, object)) return false;
  const int32 owner = ObjWord(heap, object, kPWOwner);
  if (owner == container) return true;
  return IsObject(heap, owner) && ObjClass(heap, owner) == kClsFPDataController &&
         ObjWord(heap, owner, kPWOwner) == container;
}
// The show-all state of the owner's mode (bit 22), for the container that
// holds the object named by the heap extension's word 7.
bool ShowAllFor(ObjHeap heap, int32 container) {
  return (opmeth::OwnerMode(heap) & kOwnerModeShowAll) && IsChildOf(heap, int32(ExtWord(heap, kShowAllWord)), container);
}

// Whether the object takes the panel's data space with its drawing: data
// controllers and groupers do; a cosmetic or label would read the data
// space's first bytes as its image index or text, and a display object
// listed itself gets its value through its controller only.
bool TakesPanelData(int32 cls) { return cls == kClsFPDataController || cls == kClsGrouperObject; }

// Draws o with its hidden bit (the controller's control's for a
// controller) cleared for the drawing when show is set.
int32 DrawShown(ObjHeap heap, int32 o, int32 cls, const void* data, int32 pass, int32 mode, bool show) {
  const int32 control = cls == kClsFPDataController ? ObjWord(heap, o, kPWDCODisplay) : o;
  const int32 bitHolder = control == o || IsObject(heap, control) ? control : o;
  const uInt32 before = Flags(heap, bitHolder);
  if (!(before & kObjFlagHidden)) return SendDrawAs(heap, o, cls, data, pass, mode);
  if (!show) return 0;
  SetFlags(heap, bitHolder, before & ~kObjFlagHidden);
  const int32 r = SendDrawAs(heap, o, cls, data, pass, mode);
  if (IsObject(heap, bitHolder)) SetFlags(heap, bitHolder, Flags(heap, bitHolder) | kObjFlagHidden);
  return r;
}

// Draws the range frame (part 20) with the object's range state for the
// value: 1 when it is out of range.
void DrawRangeFrame(ObjHeap heap, int32 object, int32 frame, const void* data) {
  const int32 state = SetRangeFlags(heap, object, data);
  SendDraw(heap, frame, TakesRangeState(heap, frame) ? &state : nullptr, 0, kDrawModeNormal);
}

// The image id an image reference names (0: none).
int32 ImageOf(int32 ref) { return ref & 0xFFFF; }

// ---- Labels ---------------------------------------------------------------------------------

TRecord LabelText(ObjHeap heap, int32 label) { return PartTextRecord(heap, label); }

// Whether the label's text record is the panel's key-focus text.
bool IsFocusText(ObjHeap heap, TRecord text) {
  return text && ExtWord(heap, kHeapExtKeyFocus) && ExtWord(heap, kHeapExtFocusText) == uInt32(uintptr_t(text));
}

// Sets a focus text aside as the panel's pending edit text, the label going
// on with a copy: true when it did (it is given back by HeapStashText).
bool SetFocusTextAside(ObjHeap heap, int32 label, TRecord text) {
  if (!IsFocusText(heap, text) || ExtWord(heap, kHeapExtStashedText)) return false;
  const TRecord copy = TDuplicate(text, 0);
  if (!copy) return false;
  PutNative32(*heap + int32(OHWord(heap, kOHExtension)) + kHeapExtStashedText, uInt32(uintptr_t(text)));
  ObjSetWord(heap, label, kPWLabelText, int32(uintptr_t(copy)));
  return true;
}

// The control picture (9 to 383) the image reference shows, 0 for another.
int32 ControlPicture(int32 ref) { return ref < 0 ? -(ref >> 16) : 0; }

// Draws the text in the blink colours on a copy sharing its text, every
// character selected, the background only when the text's own is opaque.
void DrawInBlinkColours(TRecord text) {
  const DColor fore = BlinkFore(), back = BlinkBack();
  if (fore == kTransparentColor || back == kTransparentColor) {
    TDraw(reinterpret_cast<UHandle>(text));
    return;
  }
  const TRecord copy = TDuplicate(text, 1);
  if (!copy) {
    TDraw(reinterpret_cast<UHandle>(text));
    return;
  }
  DColor ownBack = kTransparentColor;
  TGetColors(copy, nullptr, &ownBack);
  TSelectText(copy, 0, 0x7FFFFFFF);
  TSetColors(copy, &fore, ownBack == kTransparentColor ? nullptr : &back, 0);
  TDraw(reinterpret_cast<UHandle>(copy));
  TDispose(copy);
}

int32 DrawLabel(ObjHeap heap, int32 label, const LStr* text, int32 mode) {
  const int32 given = mode;
  TRecord record = LabelText(heap, label);
  // 1. A focus text never blinks.
  if (IsFocusText(heap, record) && (mode == kDrawModeBlink || mode == kDrawModeBlinkNormal)) mode = kDrawModeNormal;
  // 2. The background image.
  const int32 image = ObjWord(heap, label, kObjImage / 4);
  if (ImageOf(image)) CosmeticODrawMethod(heap, label, nullptr, 0, mode);
  // 3. The focus text drawn normally is set aside; the label goes on with a copy.
  if (mode == kDrawModeNormal && SetFocusTextAside(heap, label, record)) record = LabelText(heap, label);
  if (!record) return 0;
  // 4. A new text of a part.
  if (text && mode == given && PartId(heap, label) != 0) {
    if (Flags(heap, label) & kTextShowsCodes) SetTextShowingCodes(record, text);
    else TReplaceText(record, text->str, LStrLen(text));
  }
  // 5. Off the screen, a text over a plain control picture goes without its
  // own background.
  DColor back = kTransparentColor;
  TGetColors(record, nullptr, &back);
  const int32 picture = ControlPicture(image);
  const bool clear = !DIsScreenPort() && picture >= kPlainPictFirst && picture <= kPlainPictLast &&
                     back != kTransparentColor;
  if (clear) {
    const DColor none = kTransparentColor;
    TSetColors(record, nullptr, &none, 0);
  }
  // 6. The text.
  if (mode == kDrawModeBlink) DrawInBlinkColours(record);
  else TDraw(reinterpret_cast<UHandle>(record));
  if (clear) TSetColors(record, nullptr, &back, 0);
  return 0;
}

// ---- Array cells ----------------------------------------------------------------------------

// The default element's address, null (asserted) without the record.
UPtr DefaultElement(ObjHeap heap, int32 array, UHandle ds) {
  const int32 at = ArrayDefaultElementOffset(heap, array, ds, kSourceFile, __LINE__,
                                             "ArrayODrawMethod: the array has no selection record");
  return at > 0 ? *ds + at : nullptr;
}
// The shown index of a dimension inside the selection record's first
// handle (a count, then one index per dimension); null (asserted) without.
UPtr ShownIndex(ObjHeap heap, int32 array, UHandle ds, int32 dimension) {
  if (ds && ArraySelectionRecord(heap, array)) {
    const int32 at = ObjWord(heap, array, kPWArrayPrivate);
    if (PanelInData(ds, at, 4)) {
      UHandle h = nullptr;
      std::memcpy(&h, *ds + at, sizeof h);
      if (h && DSCheckHandle(h) == kNoErr && DSGetHandleSize(h) >= 4) {
        const int32 n = int32(GetNative32(*h));
        if (dimension >= 0 && dimension < n && 4 + 4 * int64(dimension + 1) <= DSGetHandleSize(h))
          return *h + 4 + 4 * dimension;
      }
    }
  }
  DBAssert(kSourceFile, __LINE__, "ArrayODrawMethod: no index handle for the index display");
  return nullptr;
}

// The cells of the grid whose rectangles can show: inside the content area
// and the port's rectangle.  Cells are numbered row by row.
struct CellRange {
  int32 row0, row1, col0, col1;  // inclusive; empty when row0 > row1
};
CellRange VisibleCells(const ArrayGrid& g, const Rect& area, int32 pitchV, int32 pitchH) {
  Rect box = area, port{0, 0, 0, 0};
  WGetDrawRect(WCurrentPort(), &port);
  if (!DEmptyRect(&port) && !DSectRect(&box, &port, &box)) return CellRange{0, -1, 0, -1};
  if (DEmptyRect(&box)) return CellRange{0, -1, 0, -1};
  const auto floorDiv = [](int64 a, int64 b) { return a >= 0 ? a / b : -((-a + b - 1) / b); };
  // Cell k covers [origin + k * pitch, origin + (k + 1) * pitch); cells of
  // no extent all lie on the element's own.
  const auto range = [&](int32 from, int32 to, int32 origin, int32 pitch, int32 count, int32 own, int32* lo, int32* hi) {
    if (pitch <= 0) {
      *lo = *hi = own;
      return;
    }
    *lo = int32(std::clamp<int64>(floorDiv(int64(from) - origin, pitch), 0, count));
    *hi = int32(std::clamp<int64>(floorDiv(int64(to) - origin - 1, pitch), -1, count - 1));
  };
  CellRange c;
  range(box.top, box.bottom, area.top, pitchV, g.rows, g.row, &c.row0, &c.row1);
  range(box.left, box.right, area.left, pitchH, g.columns, g.column, &c.col0, &c.col1);
  return c;
}

int32 DrawCells(ObjHeap heap, int32 array, const void* data, int32 content) {
  const int32 element = ObjWord(heap, array, kPWArrayElement);
  if (!IsObject(heap, element) || element == array || ObjWord(heap, element, kPWOwner) != array ||
      Hidden(heap, element))
    return 0;
  const UHandle ds = PanelData(heap, "ArrayODrawMethod: the panel has no data space");
  const UPtr fallback = DefaultElement(heap, array, ds);
  const uInt32 flags = Flags(heap, array);
  const bool wide = flags & kArrayWideCells, selection = flags & kArrayShowsSelection;
  const Rect first = ArrayCellRect(heap, element, wide);
  const int32 pitchV = first.bottom - first.top, pitchH = first.right - first.left;
  UHandle values = nullptr;
  if (data) std::memcpy(&values, data, sizeof values);
  const Rect area = BoundsOf(heap, content);
  const DColor back = PartBackColour(heap, content);
  const TRecord pending = TRecord(uintptr_t(ExtWord(heap, kHeapExtStashedText)));
  const int32 focus = int32(ExtWord(heap, kHeapExtKeyFocus));
  const bool textFollows = pending && focus && (focus == array || IsInOwnerChain(heap, array, focus));

  const ArrayGrid g = ArrayGridOf(heap, array);
  const int64 total = int64(g.rows) * g.columns, home = int64(g.row) * g.columns + g.column;
  // The walk starts after the element's cell and ends on it; only the cells
  // that can show are visited, the element's own always last.
  const CellRange c = VisibleCells(g, area, pitchV, pitchH);
  std::vector<int64> cells;
  for (int32 r = c.row0; r <= c.row1; ++r)
    for (int32 k = c.col0; k <= c.col1; ++k)
      if (int64(r) * g.columns + k != home) cells.push_back(int64(r) * g.columns + k);
  std::sort(cells.begin(), cells.end(), [&](int64 a, int64 b) {
    return (a - home - 1 + total) % total < (b - home - 1 + total) % total;
  });
  cells.push_back(home);

  const CellWalkSaved saved = BeginCellWalk();
  int32 textRow = -1, textColumn = -1;
  Rect cell = first;
  for (size_t i = 0; i < cells.size(); ++i) {
    const int32 row = int32(cells[i] / g.columns), column = int32(cells[i] % g.columns);
    const Rect at = BoundsOf(heap, element);
    const int64 dv = int64(area.top) + int64(row) * pitchV - at.top, dh = int64(area.left) + int64(column) * pitchH - at.left;
    if (dv || dh) OOffsetObj(heap, element, Point{int16(std::clamp<int64>(dv, -32768, 32767)),
                                                  int16(std::clamp<int64>(dh, -32768, 32767))});
    SetArrayShownCell(heap, array, row, column);
    const bool last = i + 1 == cells.size();
    if (last) EndCellWalk(saved);
    cell = ArrayCellRect(heap, element, wide);
    gBudget += BlockBound(heap);
    const UPtr value = values ? ArrayDisplayEltPtr(heap, array, &values, 0) : nullptr;
    if (value || fallback) SendDraw(heap, element, value ? value : fallback, 0, kDrawModeNormal);
    if (!value) GreyArrayCell(cell, back);
    if (selection) DrawCellSelection(heap, array, ds, cell);
    if (textFollows && textRow < 0) textRow = row, textColumn = column;
  }
  if (textFollows && textRow >= 0) {
    // The text being edited follows the element back to its cell.
    FollowPendingText(heap, element, pending, (g.column - textColumn) * pitchH, (g.row - textRow) * pitchV, cell);
  }
  return 0;
}

// The multi-image's entries that lie inside its block.
int32 ImageCount(ObjHeap heap, int32 o, int32 entry) {
  if (!Has(heap, o, kObjImageList)) return 0;
  const int32 count = ObjInt16(heap, o, kObjImageCount);
  return std::clamp<int32>(count, 0, (OHBlockSize(heap, o) - kObjImageList) / entry);
}

}  // namespace

PanelDrawHooks SetPanelDrawHooks(const PanelDrawHooks& hooks) {
  const PanelDrawHooks old = gHooks;
  if (hooks.panelGetBounds) gHooks.panelGetBounds = hooks.panelGetBounds;
  return old;
}

void CheckDrawMode(ObjHeap heap, int32* mode) {
  if (!mode) return;
  if (!IsFrontPanelHeap(heap)) {
    if (*mode != kDrawModeAny) *mode = kDrawModeNormal;
    return;
  }
  if (*mode != kDrawModeBlink && *mode != kDrawModeBlinkNormal && *mode != kDrawModeNormal && *mode != kDrawModeAny) {
    DBAssert(kSourceFile, __LINE__, "CheckDrawMode: bad draw mode");
    *mode = kDrawModeNormal;
  }
}

int32 DrawPartForMode(ObjHeap heap, int32 object, const void* data, int32 part, int32 partId, int32 mode,
                      Bool32 force) {
  const bool blinks = IsBlinkPart(heap, object, partId) != 0;
  if (!force && (mode == kDrawModeBlink || mode == kDrawModeBlinkNormal))
    return blinks ? SendDraw(heap, part, data, 0, mode) : 0;
  return SendDraw(heap, part, data, 0, blinks ? mode : kDrawModeNormal);
}

int32 DDOODrawMethod(ObjHeap heap, int32 object, const void*, int32, int32 mode) {
  if (!IsObject(heap, object) || Hidden(heap, object) || !gDDODrawEnabled) return 0;
  if (ObjClass(heap, object) == kClsDataDisplayObject) {
    // A plain drawing of a blinking object is in its blink phase's look.
    const int32 m = mode == kDrawModeNormal ? BlinkPartState(heap, object, mode) : mode;
    ForEachPartFromLast(heap, object, [&](int32 part) {
      if (!Hidden(heap, part)) SendDrawTo(heap, part, nullptr, 0, m);
    });
  }
  // The key-focus frame: always with the object's flag 0x40, else in a
  // dialog while no text is being entered.
  if (int32(ExtWord(heap, kHeapExtKeyFocus)) == object) {
    const bool dialog = ExtWord(heap, kHeapExtDialogFilter) && !(OHWord(heap, kOHFlags) & kHeapFlagTextEntry);
    if ((Flags(heap, object) & kObjFlagHighlight) || dialog) {
      DSelectNormPen(kBlack, kBlack);
      OFrameSel(heap, object, heap, 0, 16);
    }
  }
  if (Flags(heap, object) & kObjFlagGreyed) {
    const Rect r = BoundsOf(heap, object);
    DGrayOutRect(&r, Opaque(PanelBackground(heap), kWhite));
  }
  return 0;
}

int32 FPODrawMethod(ObjHeap heap, int32 panel) {
  if (!Has(heap, panel, 4 * (kRootObjectListWord + 1))) return 0;
  if (Flags(heap, panel) & kRootFlagRemark) {
    OMarkInRect(heap, panel, 0, nullptr, 0);
    SetFlags(heap, panel, Flags(heap, panel) & ~kRootFlagRemark);
  }
  DSelectNormPen(PanelBackground(heap), kWhite);
  if (gPanelImagingMode == kPanelDrawPrint) {
    // The panel's bounds; before the shell has found them, its objects'.
    Rect bounds{0, 0, 0, 0};
    if (gHooks.panelGetBounds) {
      if (const Rect* b = gHooks.panelGetBounds(heap)) bounds = *b;
    }
    if (DEmptyRect(&bounds)) OGetRect(heap, panel, &bounds, kRectBounds);
    DPaintRect(&bounds);
  } else if (gPanelImagingMode == kPanelDrawScreen) {
    const uInt32 corners[2] = {ExtWord(heap, kHeapExtContentRect), ExtWord(heap, kHeapExtContentRect + 4)};
    Rect clip;
    std::memcpy(&clip, corners, sizeof clip);
    DPaintRect(&clip);
  }
  // The data space the controllers' values lie in; a panel without
  // controllers (a window's bare panel) may have none.
  UHandle* bound = IsFrontPanelHeap(heap) ? FPGetDataSpace(heap) : nullptr;
  UHandle ds = bound && *bound && **bound ? *bound : nullptr;
  if (!ds && Has(heap, panel, kRootItemList + 4) && PanelListCount(heap, ObjWord(heap, panel, kRootItemList / 4)) > 0)
    ds = PanelData(heap, "FPODrawMethod: the panel has no data space");
  const UPtr base = ds ? *ds : nullptr;
  const bool showAll = ShowAllFor(heap, panel);
  const int32 list = ObjWord(heap, panel, kRootObjectListWord);
  // The box being redrawn, asked once for the panel's own cosmetics and
  // labels: a small update of a large panel costs little for the rest.
  Rect box{0, 0, 0, 0}, meet;
  const bool limited = WNeedsDrawBox(&box) != 0;
  ForEachFromLast(heap, panel, kRootObjectListWord, [&](int32 o) {
    // A display object listed itself is drawn through its data controller.
    int32 target = o, cls = ObjClass(heap, o);
    const int32 owner = ObjWord(heap, o, kPWOwner);
    if (owner != panel && IsObject(heap, owner) && ObjClass(heap, owner) == kClsFPDataController &&
        ObjWord(heap, owner, kPWDCODisplay) == o)
      target = owner, cls = kClsFPDataController;
    if (limited && DrawsOnlyWhereRedrawn(cls)) {
      const Rect r = BoundsOf(heap, o);
      if (!DSectRect(&r, &box, &meet)) return;
    }
    DrawShown(heap, target, cls, TakesPanelData(cls) ? base : nullptr, list, kDrawModeNormal, showAll);
  });
  return 0;
}

int32 DCOODrawMethod(ObjHeap heap, int32 controller, const void* base, int32 pass) {
  if (!Has(heap, controller, 4 * (kPWDCORecordTD + 1))) return 0;
  const int32 control = ObjWord(heap, controller, kPWDCODisplay);
  if (!IsObject(heap, control) || control == controller || Hidden(heap, control)) return 0;
  const UHandle ds = base ? PanelData(heap, "DCOODrawMethod: the panel has no data space") : nullptr;
  const TypeDescriptor* td = PanelTypeOf(heap, DCOTypeID(heap, controller));
  const void* value = nullptr;
  if (ds && td && base == *ds) {
    const int32 at = AlignDatum(td, ObjWord(heap, controller, kPWDCORecord) + 12);
    if (ObjWord(heap, controller, kPWDCORecord) > 0 && PanelInData(ds, at, DataSize(td))) value = *ds + at;
  }
  return SendDraw(heap, control, value, pass, kDrawModeNormal);
}

int32 GrouperODrawMethod(ObjHeap heap, int32 grouper, const void* data, int32 pass, int32 mode) {
  if (!IsObject(heap, grouper) || Hidden(heap, grouper)) return 0;
  ForEachPartFromLast(heap, grouper, [&](int32 part) {
    if (Hidden(heap, part)) return;
    const int32 cls = ObjClass(heap, part);
    const uInt32 category = ClassRecord(cls)->categoryB;
    if (category == kCatDCO || category == kCatCOSM || cls == kClsGrouperObject) {
      SendDrawAs(heap, part, cls, TakesPanelData(cls) ? data : nullptr, pass, mode);
    } else if (category == kCatDDO) {
      const int32 owner = ObjWord(heap, grouper, kPWOwner);
      const int32 at = IsObject(heap, owner) ? OGetDataPtr(heap, owner, part, kDataPtrOperate, nullptr) : 0;
      SendDrawTo(heap, part, reinterpret_cast<const void*>(uintptr_t(uInt32(at))), pass, mode);
    } else {
      DBAssert(kSourceFile, __LINE__, "GrouperODrawMethod: a part of no drawable class");
    }
  });
  return 0;
}

int32 ClusterODrawMethod(ObjHeap heap, int32 cluster, const void* data, int32 pass, int32 mode) {
  if (!IsObject(heap, cluster) || Hidden(heap, cluster)) return 0;
  const bool showAll = ShowAllFor(heap, cluster);
  if (!showAll && !Meets(heap, cluster)) return 0;
  ForEachPartFromLast(heap, cluster, [&](int32 part) {
    if (Hidden(heap, part)) return;
    const int16 id = PartId(heap, part);
    if (id == kPartRangeFrame) DrawRangeFrame(heap, cluster, part, data);
    else if (id < kPartValueFirst) SendDrawTo(heap, part, nullptr, 0, kDrawModeNormal);
    else SendDrawTo(heap, part, data, 0, mode);
    if (id != kPartContent) return;
    Rect savedClip{0, 0, 0, 0};
    const Rect limit = BoundsOf(heap, part);
    if (!showAll) WLimitClip(&limit, &savedClip);
    const int32 list = Has(heap, cluster, 4 * (kElementListWord + 1)) ? ObjWord(heap, cluster, kElementListWord) : 0;
    ForEachFromLast(heap, cluster, kElementListWord, [&](int32 element) {
      const int32 at = data ? ClusterEltOffset(heap, cluster, element, Addr(data), nullptr) : 0;
      DrawShown(heap, element, ObjClass(heap, element), reinterpret_cast<const void*>(uintptr_t(uInt32(at))), list, mode,
                showAll);
    });
    if (!showAll) WRestoreClip(&savedClip);
  });
  return DDOODrawMethod(heap, cluster, data, pass, mode);
}

int32 ArrayODrawMethod(ObjHeap heap, int32 array, const void* data, int32 pass, int32 mode) {
  if (!Has(heap, array, int32(sizeof(PanelArrayRec))) || Hidden(heap, array) || !Meets(heap, array)) return 0;
  ForEachPartFromLast(heap, array, [&](int32 part) {
    if (Hidden(heap, part)) return;
    const int16 id = PartId(heap, part);
    if (id == kPartRangeFrame) {
      DrawRangeFrame(heap, array, part, data);
    } else if (id == kPartIndexDisplay) {
      const UHandle ds = PanelData(heap, "ArrayODrawMethod: the panel has no data space");
      SendDrawTo(heap, part, ShownIndex(heap, array, ds, ObjInt16(heap, part, kObjPartOrder)), 0, kDrawModeNormal);
    } else {
      SendDrawTo(heap, part, nullptr, 0, kDrawModeNormal);
    }
    if (id == kPartContent) DrawCells(heap, array, data, part);
  });
  return DDOODrawMethod(heap, array, data, pass, mode);
}

int32 TypeDefODrawMethod(ObjHeap heap, int32 typeDef, const void* data, int32 pass, int32 mode) {
  if (!IsObject(heap, typeDef) || Hidden(heap, typeDef) || !Meets(heap, typeDef)) return 0;
  const int32 inner = FindPart(heap, typeDef, kPartInner, 0);
  ForEachPartFromLast(heap, typeDef, [&](int32 part) {
    if (Hidden(heap, part)) return;
    const int16 id = PartId(heap, part);
    if (id == kPartInner) {
      SendDrawTo(heap, part, data, pass, mode);
    } else if (id == kPartRangeFrame) {
      DrawRangeFrame(heap, IsObject(heap, inner) ? inner : typeDef, part, data);
    } else {
      SendDrawTo(heap, part, nullptr, 0, mode);
    }
  });
  DDOODrawMethod(heap, typeDef, data, pass, mode);
  if (Flags(heap, typeDef) & (kTypeDefGreyA | kTypeDefGreyB)) {
    const Rect r = BoundsOf(heap, typeDef);
    DGrayOutRect(&r, kGrey);
  }
  return 0;
}

int32 CosmeticODrawMethod(ObjHeap heap, int32 cosmetic, const void*, int32, int32 mode) {
  CheckDrawMode(heap, &mode);
  if (!Has(heap, cosmetic, kObjCosmBack + 4) || !Meets(heap, cosmetic)) return 0;
  const int32 image = ImageOf(ObjWord(heap, cosmetic, kObjImage / 4));
  if (!image) return 0;
  DColor fore = DColor(ObjWord(heap, cosmetic, kObjCosmFore / 4)), back = DColor(ObjWord(heap, cosmetic, kObjCosmBack / 4));
  if (mode == kDrawModeBlink) fore = BlinkFore(), back = BlinkBack();
  const Rect r = BoundsOf(heap, cosmetic);
  IDraw(image, nullptr, &r, fore, back, kBlack, kWhite);
  return 0;
}

int32 MultiCosmeticODrawMethod(ObjHeap heap, int32 cosmetic, const void* index, int32 pass, int32 mode) {
  if (!Has(heap, cosmetic, kObjImageList)) return 0;
  if (index) {
    const int32 count = ImageCount(heap, cosmetic, 4);
    if (count > 0) {
      int16 i = 0;
      std::memcpy(&i, index, sizeof i);
      const int16 shown = int16(std::clamp<int32>(i, 0, count - 1));
      PutNative16(*heap + cosmetic + kObjImageIndex, uInt16(shown));
      ObjSetWord(heap, cosmetic, kObjImage / 4, ObjWord(heap, cosmetic, (kObjImageList + 4 * shown) / 4));
    }
  }
  SetFlags(heap, cosmetic, Flags(heap, cosmetic) & ~kObjFlagStale);
  return CosmeticODrawMethod(heap, cosmetic, index, pass, mode);
}

int32 BigMultiCosmeticODrawMethod(ObjHeap heap, int32 cosmetic, const void* index, int32 pass, int32 mode) {
  if (!Has(heap, cosmetic, kObjImageList)) return 0;
  if (index) {
    const int32 count = ImageCount(heap, cosmetic, kBigImageEntry);
    if (count > 0) {
      int16 i = 0;
      std::memcpy(&i, index, sizeof i);
      const int16 shown = int16(std::clamp<int32>(i, 0, count - 1));
      const int32 entry = kObjImageList + kBigImageEntry * shown;
      PutNative16(*heap + cosmetic + kObjImageIndex, uInt16(shown));
      std::memcpy(*heap + cosmetic + kObjBounds, *heap + cosmetic + entry, sizeof(Rect));
      const bool blink = mode == kDrawModeBlink;
      ObjSetWord(heap, cosmetic, kObjCosmFore / 4, blink ? int32(BlinkFore()) : ObjWord(heap, cosmetic, (entry + 8) / 4));
      ObjSetWord(heap, cosmetic, kObjCosmBack / 4, blink ? int32(BlinkBack()) : ObjWord(heap, cosmetic, (entry + 12) / 4));
      ObjSetWord(heap, cosmetic, kObjImage / 4, ObjWord(heap, cosmetic, (entry + kBigImageRef) / 4));
    }
  }
  SetFlags(heap, cosmetic, Flags(heap, cosmetic) & ~kObjFlagStale);
  return CosmeticODrawMethod(heap, cosmetic, index, pass, mode);
}

int32 LabelODrawMethod(ObjHeap heap, int32 label, const void* text, int32, int32 mode) {
  CheckDrawMode(heap, &mode);
  if (!Has(heap, label, kObjText + 4) || !Meets(heap, label)) return 0;
  return DrawLabel(heap, label, static_cast<const LStr*>(text), mode);
}

int32 MultiLabelODrawMethod(ObjHeap heap, int32 label, const void* index, int32, int32 mode) {
  CheckDrawMode(heap, &mode);
  if (!Has(heap, label, kObjStringList + 4) || !Meets(heap, label)) return 0;
  if (mode == kDrawModeNormal && SetFocusTextAside(heap, label, LabelText(heap, label)))
    SetFlags(heap, label, Flags(heap, label) | kObjFlagStale);
  if (index) {
    const UHandle list = reinterpret_cast<UHandle>(uintptr_t(uInt32(ObjWord(heap, label, kObjStringList / 4))));
    const int32 count = list && AZCheckHandle(list) == kNoErr && AZGetHandleSize(list) >= 4 ? int32(GetNative32(*list)) : 0;
    if (count < 1) {
      DBAssert(kSourceFile, __LINE__, "MultiLabelODrawMethod: no strings");
    } else {
      int16 i = 0;
      std::memcpy(&i, index, sizeof i);
      const int32 shown = std::clamp<int32>(i, 0, count - 1);
      const bool stale = Flags(heap, label) & kObjFlagStale;
      if (shown != ObjWord(heap, label, kMultiLabelIndexWord) || stale) {
        ObjSetWord(heap, label, kMultiLabelIndexWord, shown);
        SetFlags(heap, label, Flags(heap, label) & ~kObjFlagStale);
        UpdateBoolText(heap, label, list, shown);
      }
    }
  }
  return DrawLabel(heap, label, nullptr, mode);
}

ObjMethodAddr ODrawMethodFor(int32 cls) {
  const auto a = [](auto m) { return reinterpret_cast<ObjMethodAddr>(m); };
  switch (cls) {
    case kClsFrontPanel: return a(&FPODrawMethod);
    case kClsFPDataController: return a(&DCOODrawMethod);
    case kClsGrouperObject: return a(&GrouperODrawMethod);
    case kClsDataDisplayObject: return a(&DDOODrawMethod);
    case kClsCluster: return a(&ClusterODrawMethod);
    case kClsArray: return a(&ArrayODrawMethod);
    case kClsTypeDefinition: return a(&TypeDefODrawMethod);
    case kClsCosmetic: return a(&CosmeticODrawMethod);
    case kClsMultiCosmetic: return a(&MultiCosmeticODrawMethod);
    case kClsBigMultiCosmetic: return a(&BigMultiCosmeticODrawMethod);
    case kClsLabel: case kClsSelLabel: return a(&LabelODrawMethod);
    case kClsMultiLabel: case kClsBigMultiLabel: return a(&MultiLabelODrawMethod);
    default: return CtrlODrawMethodFor(cls);
  }
}
