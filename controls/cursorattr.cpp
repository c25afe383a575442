// The cursor properties of a graph.  Members are converted one by one
// between the record's fields and the property's declared types; a write
// collects change marks, then erases what of the old drawing must go,
// stores the record, resnaps it and draws it again, with its legend row in
// step.
#include "controls/cursorattr.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "controls/cursordraw.h"
#include "controls/cursorlegend.h"
#include "controls/graph.h"
#include "controls/graphcursors.h"
#include "controls/pointlookup.h"
#include "engine/datamgr.h"
#include "engine/panelrec.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "mgsource/sorting.h"
#include "panel/attrcall.h"
#include "panel/attrtd.h"
#include "panel/datamsg.h"
#include "panel/osupport.h"
#include "panel/ctrl_internal.h"
#include "panel/graphstate.h"
#include "panel/legendupdate.h"
#include "panel/objects.h"
#include "panel/oinval.h"
#include "panel/transact.h"
#include "rtlib/arraysize.h"
#include "rtlib/panellocators.h"

namespace {

constexpr int32 kArrayElementWord = 10;
constexpr uInt32 kLegendFlagInval = 0x4, kLegendFlagNoDirect = 0x80;
constexpr int32 kPartPlotArea = 28;
constexpr uInt32 kTransparent = 0x1000000;
constexpr int32 kReplyMemFull = 16, kReplyRedrawn = 0x20000;
constexpr int32 kListMembers = 10;

int32 Size() { return GraphCursorFields()->size; }
uChar Code(const TypeDescriptor* td) { return td ? td->code : 0; }
bool IsNumCode(uChar c) { return c >= 1 && c <= 30; }

// The graph's value as its data controller holds it.
const void* GraphValue(ObjHeap heap, int32 graph) {
  return reinterpret_cast<const void*>(uintptr_t(uInt32(OGetDataPtr(heap, graph, 0, kDataPtrPlain, nullptr))));
}

// The members of a cluster value: each element's descriptor and address,
// stepping past the 6-byte header, NextTD and the aligned data offset.
struct Member {
  const TypeDescriptor* td;
  uChar* at;
};
std::vector<Member> Members(const TypeDescriptor* td, void* value) {
  std::vector<Member> out;
  if (Code(td) != kTDCluster || !value) return out;
  const int32 n = int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4));
  const TypeDescriptor* el = reinterpret_cast<const TypeDescriptor*>(reinterpret_cast<const uChar*>(td) + 6);
  int32 off = 0;
  for (int32 i = 0; i < n; ++i) {
    off = AlignDatum(el, off);
    out.push_back({el, static_cast<uChar*>(value) + off});
    off += DataSize(el);
    el = NextTD(el);
  }
  return out;
}

// The declared shape of a cursor cluster (a list element or sub-index 1):
// exactly ten members of the right codes; an assertion otherwise.
bool CursorClusterShape(const TypeDescriptor* td, void* value, std::vector<Member>* out) {
  *out = Members(td, value);
  bool ok = out->size() == size_t(kListMembers);
  for (size_t i = 0; ok && i < out->size(); ++i) {
    const uChar c = Code((*out)[i].td);
    switch (i) {
      case 0: ok = c == kTDString || c == kTDStringView; break;
      case 4: case 5: ok = c == kTDBoolean; break;
      case 9: {
        std::vector<Member> xy = Members((*out)[i].td, (*out)[i].at);
        ok = xy.size() == 2 && Code(xy[0].td) == kTDDBL && Code(xy[1].td) == kTDDBL;
        break;
      }
      default: ok = IsNumCode(c); break;
    }
  }
  // Property nodes come from stored programs: a wrong shape is refused
  // with a debug line, never asserted on.
  if (!ok) DBPrintf("cursor cluster of another shape");
  return ok;
}

// ---- Reading one member ----------------------------------------------------------------
int32 PointOut(uInt32 stored) { return stored == 0 ? 0 : int32(stored) - 3; }

int32 GetMember(int32 sub, const TypeDescriptor* td, void* value, const uChar* c) {
  const uInt32 flags = CursorU32(c, kGCFlags);
  switch (sub) {
    case kCursPropName: {
      LStrHandle* dst = static_cast<LStrHandle*>(value);
      LStrHandle src = reinterpret_cast<LStrHandle>(CursorName(c));
      // The value's cell holds a handle of the data space or none.
      if (!dst || (*dst && DSCheckHandle(*dst) != kNoErr)) return 0;
      if (CopyString(src, dst) != kNoErr) return kReplyMemFull;
      return 0;
    }
    case kCursPropColour: {
      const uInt32 v = CursorU32(c, kGCColour);
      AttrGetNum(td, value, kTDU32, &v);
      return 0;
    }
    case kCursPropStyle: {
      const int32 v = CursorStyleOfFlags(flags);
      AttrGetNum(td, value, kTDI32, &v);
      return 0;
    }
    case kCursPropPoint: {
      const int32 v = PointOut(CursorU32(c, kGCPointStyle));
      AttrGetNum(td, value, kTDI32, &v);
      return 0;
    }
    case kCursPropShowName: AttrPutBool(td, value, (flags & kCursorShowLabel) != 0); return 0;
    case kCursPropDrag: AttrPutBool(td, value, (flags & kCursorNoDrag) == 0); return 0;
    case kCursPropLock: {
      const int32 v = CursorLockMode(flags);
      AttrGetNum(td, value, kTDI32, &v);
      return 0;
    }
    case kCursPropPlot: case kCursPropIndex: {
      const uInt32 v = CursorU32(c, sub == kCursPropPlot ? kGCPlot : kGCIndex);
      AttrGetNum(td, value, kTDU32, &v);
      return 0;
    }
    case kCursPropX: case kCursPropY: {
      const float64 v = CursorF64(c, sub == kCursPropX ? kGCX : kGCY);
      AttrGetNum(td, value, kTDDBL, &v);
      return 0;
    }
    case kCursPropCluster: case kCursPropPosition: {
      const std::vector<Member> m = Members(td, value);
      const int32 first = sub == kCursPropCluster ? kCursPropName : kCursPropX;
      const size_t want = sub == kCursPropCluster ? size_t(kListMembers) : 2;
      if (m.size() != want) {
        DBPrintf("cursor cluster of another shape");
        return 0;
      }
      for (size_t i = 0; i < m.size(); ++i)
        if (int32 r = GetMember(first + int32(i), m[i].td, m[i].at, c)) return r;
      return 0;
    }
    default: return 0;
  }
}

// ---- Taking members of a write ---------------------------------------------------------------
// The values a write takes, starting from the record's.
struct Taken {
  const uChar* name = nullptr;  // the new name's bytes (count in nameLen), null: unchanged
  int32 nameLen = 0;
  uInt32 colour = 0, flags = 0, point = 0, plot = 0, index = 0;
  float64 x = 0, y = 0;
  int32 marks = 0;
};
Taken TakenOf(const uChar* c) {
  Taken t;
  t.colour = CursorU32(c, kGCColour);
  t.flags = CursorU32(c, kGCFlags);
  t.point = CursorU32(c, kGCPointStyle);
  t.plot = CursorU32(c, kGCPlot);
  t.index = CursorU32(c, kGCIndex);
  t.x = CursorF64(c, kGCX);
  t.y = CursorF64(c, kGCY);
  return t;
}
bool NameDiffers(const uChar* c, const uChar* bytes, int32 n) {
  UHandle h = CursorName(c);
  const int32 old = h && *h ? int32(GetNative32(*h)) : 0;
  return old != n || (n > 0 && std::memcmp(*h + 4, bytes, size_t(n)) != 0);
}
// The cursor style number as flag bits: n < 3 as n, 3..5 as n + 1, 6 and up
// as n + 2; a result above 10 keeps the old bits (-1).
int32 StyleBits(int32 n) {
  const int32 bits = n < 3 ? n : n < 6 ? n + 1 : n + 2;
  return bits < 0 || bits > 10 ? -1 : bits;
}

void TakeMember(int32 sub, const TypeDescriptor* td, void* value, const uChar* c, Taken* t) {
  auto num = [&](int32 code, void* out) { return AttrPutNum(td, value, code, out); };
  switch (sub) {
    case kCursPropName: {
      LStrHandle s = value ? *static_cast<LStrHandle*>(value) : nullptr;
      int32 n = 0;
      const uChar* bytes = reinterpret_cast<const uChar*>("");
      if (s && DSCheckHandle(reinterpret_cast<UHandle>(s)) == kNoErr) {
        const int32 size = DSGetHandleSize(reinterpret_cast<UHandle>(s));
        n = size >= 4 ? int32(GetNative32(reinterpret_cast<uChar*>(*s))) : 0;
        if (n < 0 || n > size - 4) n = 0;  // a count the handle does not hold reads as empty
        bytes = reinterpret_cast<const uChar*>(*s) + 4;
      }
      if (NameDiffers(c, bytes, n)) {
        t->name = bytes;
        t->nameLen = n;
        t->marks |= kCursMarkName;
      }
      return;
    }
    case kCursPropColour: {
      uInt32 v = 0;
      if (num(kTDU32, &v) && v <= kTransparent && v != t->colour) t->colour = v, t->marks |= kCursMarkColour;
      return;
    }
    case kCursPropStyle: {
      int32 v = 0;
      if (!num(kTDI32, &v)) return;
      const int32 bits = StyleBits(v);
      const uInt32 f = bits < 0 ? t->flags : (t->flags & ~0xFu) | uInt32(bits);
      if (f != t->flags) t->flags = f, t->marks |= kCursMarkStyle;
      return;
    }
    case kCursPropPoint: {
      int32 v = 0;
      if (!num(kTDI32, &v)) return;
      const int64_t p = v == 0 ? 0 : int64_t(v) + 3;
      if (p < 0 || p > 19 || uInt32(p) == t->point) return;
      t->point = uInt32(p), t->marks |= kCursMarkPoint;
      return;
    }
    case kCursPropShowName: case kCursPropDrag: {
      bool on = false;
      if (!AttrGetBool(td, value, &on)) return;
      const uInt32 bit = sub == kCursPropShowName ? kCursorShowLabel : kCursorNoDrag;
      const bool set = sub == kCursPropShowName ? on : !on;
      const uInt32 f = set ? (t->flags | bit) : (t->flags & ~bit);
      if (f != t->flags) t->flags = f, t->marks |= sub == kCursPropShowName ? kCursMarkShowName : kCursMarkDrag;
      return;
    }
    case kCursPropLock: {
      int32 v = 0;
      if (!num(kTDI32, &v) || v < kCursorLockFree || v > kCursorLockPlot) return;
      const uInt32 f = CursorFlagsWithLock(t->flags, v);
      // Only a change between free and snapped is a lock change.
      if ((f ^ t->flags) & kCursorSnapped) t->marks |= kCursMarkLock;
      t->flags = f;
      return;
    }
    case kCursPropPlot: case kCursPropIndex: {
      uInt32 v = 0;
      if (!num(kTDU32, &v)) return;
      uInt32& field = sub == kCursPropPlot ? t->plot : t->index;
      if (v != field) field = v, t->marks |= sub == kCursPropPlot ? kCursMarkPlot : kCursMarkIndex;
      return;
    }
    case kCursPropX: case kCursPropY: {
      float64 v = 0;
      if (!num(kTDDBL, &v)) return;
      float64& field = sub == kCursPropX ? t->x : t->y;
      if (std::memcmp(&v, &field, sizeof v) != 0) field = v, t->marks |= sub == kCursPropX ? kCursMarkX : kCursMarkY;
      return;
    }
    case kCursPropCluster: case kCursPropPosition: {
      std::vector<Member> m;
      if (sub == kCursPropCluster) {
        if (!CursorClusterShape(td, value, &m)) return;
      } else {
        m = Members(td, value);
        if (m.size() != 2) {
          DBPrintf("cursor position of another shape");
          return;
        }
      }
      const int32 first = sub == kCursPropCluster ? kCursPropName : kCursPropX;
      for (size_t i = 0; i < m.size(); ++i) TakeMember(first + int32(i), m[i].td, m[i].at, c, t);
      return;
    }
    default: return;
  }
}

// The record of the list at i (refetched: measuring and drawing may move handles).
uChar* CursorAt(ObjHeap heap, int32 graph, int32 i) {
  int32 n = 0;
  UPtr list = GraphCursorsOf(heap, graph, &n);
  return list && i >= 0 && i < n ? list + i * Size() : nullptr;
}

// Stores a name into the record's handle: 16 when it cannot be resized.
int32 StoreName(uChar* c, const uChar* bytes, int32 n) {
  UHandle h = CursorName(c);
  std::vector<uChar> copy(bytes, bytes + n);  // the source may be the handle being resized
  if (!h) {
    h = DSNewHClr(4 + n);
    if (!h) return kReplyMemFull;
    SetCursorName(c, h);
  } else if (DSSetHandleSize(h, 4 + n) != kNoErr) {
    return kReplyMemFull;
  }
  PutNative32(*h, uInt32(n));
  if (n) std::memcpy(*h + 4, copy.data(), size_t(n));
  return 0;
}

// The legend element's object, 0 without one.
int32 LegendElement(ObjHeap heap, int32 legend) { return legend ? ObjWord(heap, legend, kArrayElementWord) : 0; }

int32 CompareI32(const void* a, const void* b) {
  int32 x, y;
  std::memcpy(&x, a, 4);
  std::memcpy(&y, b, 4);
  return x < y ? -1 : x > y ? 1 : 0;
}

// The elements of a 1-D array value: its count (checked against its
// handle), the element descriptor and the first element; false for a bad array.
bool VectorOf(const TypeDescriptor* td, UHandle h, const TypeDescriptor** el, int32* count, uChar** first) {
  *count = 0;
  *first = nullptr;
  // One dimension only: the element follows the header and its one size.
  if (Code(td) != kTDArray || int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4)) != 1) return false;
  *el = reinterpret_cast<const TypeDescriptor*>(reinterpret_cast<const uChar*>(td) + 6 + 4);
  if (!h) return true;
  if (DSCheckHandle(h) != kNoErr) return false;
  const int32 size = DSGetHandleSize(h);
  if (size < 4) return false;
  const int32 n = int32(GetNative32(*h));
  const int32 at = AlignDatum(*el, 4), es = DataSize(*el);
  if (n < 0 || es <= 0 || n > (size - at) / es) return false;
  *count = n;
  *first = *h + at;
  return true;
}

}  // namespace

// ---- One property --------------------------------------------------------------------------

int32 GetCursorAttr(ObjHeap heap, int32 graph, const TypeDescriptor* td, void* value, int32 sub, int32 active) {
  if (!GraphCursorFields() || !value) return 0;
  if (sub == kCursPropActive) {
    AttrGetNum(td, value, kTDI32, &active);
    return 0;
  }
  if (sub == kCursPropList) return ReadCursors(heap, graph, td, static_cast<UHandle*>(value)) ? kReplyMemFull : 0;
  if (sub == kCursPropSelected)
    return ReadSelectedCursors(heap, graph, td, static_cast<UHandle*>(value)) ? kReplyMemFull : 0;
  const uChar* c = CursorAt(heap, graph, active);
  if (!c) {
    // No such cursor: the record the legend's element shows.
    const int32 legend = FindPart(heap, graph, kGPartCursorLegend, 0);
    GraphData* d = GraphDataOf(heap, graph);
    if (!legend || !LegendElement(heap, legend) || !d || !d->cursors) return 0;
    UHandle list = d->cursors;
    c = ArrayDisplayEltPtr(heap, legend, &list, false);
    if (!c) return 0;
  }
  return GetMember(sub, td, value, c);
}

int32 SetCursorAttr(ObjHeap heap, int32 graph, const TypeDescriptor* td, void* value, int32 sub, int32 active,
                    Bool32 noDisplay, Bool32 defer) {
  if (!GraphCursorFields()) return 0;
  if (sub == kCursPropActive) {
    int32 v = 0;
    GraphData* d = GraphDataOf(heap, graph);
    if (d && AttrPutNum(td, value, kTDI32, &v)) d->activeCursor = v;
    return 0;
  }
  if (sub == kCursPropList)
    return WriteCursors(heap, graph, td, static_cast<UHandle*>(value), noDisplay, defer) ? kReplyMemFull : 0;
  if (sub == kCursPropSelected)
    return WriteSelectedCursors(heap, graph, td, static_cast<UHandle*>(value), noDisplay, defer) ? kReplyMemFull
                                                                                                  : 0;
  uChar* c = CursorAt(heap, graph, active);
  if (!c) return 0;
  Taken t = TakenOf(c);
  TakeMember(sub, td, value, c, &t);
  std::vector<uChar> name;
  if (t.name) name.assign(t.name, t.name + t.nameLen);  // the value's handle may move while drawing
  if (!t.marks) return 0;
  const bool whole = sub == kCursPropCluster;
  int32 reply = 0;

  // 1. Shown graph, legend, the cursor's row.
  const bool shown = !(ctrl::Flags(heap, graph) & kGraphFlagHidden);
  int32 legend = shown ? FindPart(heap, graph, kGPartCursorLegend, 0) : 0;
  if (legend && ctrl::Hidden(heap, legend)) legend = 0;
  const bool inval = legend && (ctrl::Flags(heap, legend) & kLegendFlagInval);
  if (inval) reply |= kReplyRedrawn;
  int32 previous = -1;
  const bool row = legend && ShowCursorLegendRow(heap, legend, active, &previous);
  const int32 element = row ? LegendElement(heap, legend) : 0;
  const int32 rowBits = inval || defer ? kLegendRowInval : kLegendRowWrite;
  // 2.
  const Bool32 wasUpdating = SetLegendUpdating(true);

  // 3. What of the old drawing must go.
  const uInt32 oldFlags = CursorU32(c, kGCFlags);
  const int32 oldPoint = int32(CursorU32(c, kGCPointStyle));
  const int32 moved = kCursMarkLock | kCursMarkPlot | kCursMarkIndex | kCursMarkX | kCursMarkY;
  int32 pieces = 0, markerStyle = 0;
  if (t.marks & (kCursMarkColour | moved)) pieces |= kCursorPieceAll & int32(oldFlags);
  if (t.marks & kCursMarkStyle) pieces |= int32(oldFlags) & (kCursorPieceVLine | kCursorPieceHLine);
  if (((t.marks & kCursMarkName) && (t.flags & kCursorShowLabel)) ||
      ((t.marks & kCursMarkShowName) && (oldFlags & kCursorShowLabel)))
    pieces |= kCursorPieceLabel;
  if (t.marks & (kCursMarkColour | kCursMarkPoint | moved)) markerStyle = oldPoint;
  bool erased = false;
  if (shown && (t.marks & ~moved) && (pieces || markerStyle)) {
    EraseGraphCursor(heap, graph, c, markerStyle, pieces, 0, defer);
    erased = true;
  }

  // 4. Name.
  if (t.marks & kCursMarkName) {
    if (StoreName(c, name.data(), int32(name.size()))) {
      SetLegendUpdating(wasUpdating);
      return reply | kReplyMemFull;
    }
    if (!whole && element) OInval(heap, element, kInvalValue);
    const int32 font = GetGraphCursorFont(heap, graph);
    c = CursorAt(heap, graph, active);
    MeasureCursorLabel(c, font);
    TDisposeFont(font);
  }
  // 5. Colour and styles (the lock and drag bits ride along in the flags).
  c = CursorAt(heap, graph, active);
  SetCursorU32(c, kGCColour, t.colour);
  SetCursorU32(c, kGCPointStyle, t.point);
  SetCursorU32(c, kGCFlags, t.flags);
  SetCursorBool(c, kGCLockButton, (t.flags & kCursorSnapped) != 0);
  if ((t.marks & (kCursMarkColour | kCursMarkStyle | kCursMarkPoint)) && element) {
    Rect area;
    CursorLegendRowsRect(heap, graph, &area);
    InvalCursorStyleIcon(heap, element, c, &area);
  }
  // 6. Lock mode, plot, index, x, y.
  if (t.marks & moved) {
    if ((t.marks & kCursMarkLock) && !whole && element) OInval(heap, element, kInvalValue);
    SetCursorU32(c, kGCPlot, t.plot);
    SetCursorU32(c, kGCIndex, t.index);
    float64 x = t.x, y = t.y, z = CursorF64(c, kGCZ);
    if (!(t.flags & kCursorSnapped)) {
      // A working copy takes the new position to read z under it.
      std::vector<uChar> work(c, c + Size());
      SetCursorF64(work.data(), kGCX, x);
      SetCursorF64(work.data(), kGCY, y);
      UpdateCursorPixel(heap, graph, work.data(), active);
      SnapCursorToData(heap, graph, work.data(), nullptr, nullptr, active, nullptr);
      z = CursorF64(work.data(), kGCZ);
    } else {
      x = CursorF64(c, kGCX), y = CursorF64(c, kGCY);
      t.marks &= ~(kCursMarkX | kCursMarkY);
      if (t.marks & (kCursMarkLock | kCursMarkPlot | kCursMarkIndex)) {
        const void* data = GraphValue(heap, graph);
        int32 plot = int32(t.plot), index = int32(t.index);
        if (index < 0) {
          const Point p{CursorI16(c, kGCV), CursorI16(c, kGCH)};
          int32 fp = -1, fi = -1;
          FindNearestPlotPoint(heap, graph, data, p, plot, &fp, &fi, 0);
          if (fp >= 0 && fi >= 0) plot = fp, index = fi;
          c = CursorAt(heap, graph, active);
          SetCursorU32(c, kGCPlot, uInt32(plot));
          SetCursorU32(c, kGCIndex, uInt32(index));
        }
        float64 px = x, py = y, pz = z;
        if (GetPlotPointValues(heap, graph, data, plot, index, &px, &py, &pz) == 0) {
          if (std::memcmp(&px, &x, 8)) t.marks |= kCursMarkX;
          if (std::memcmp(&py, &y, 8)) t.marks |= kCursMarkY;
          x = px, y = py, z = pz;
        }
        c = CursorAt(heap, graph, active);
      }
    }
    // 7. A new position.
    if (t.marks & (kCursMarkX | kCursMarkY)) {
      if (shown && !erased)
        EraseGraphCursor(heap, graph, c, oldPoint, pieces | (kCursorPieceAll & int32(oldFlags)), 0, defer);
      erased = true;
      c = CursorAt(heap, graph, active);
      SetCursorF64(c, kGCX, x);
      SetCursorF64(c, kGCY, y);
      SetCursorF64(c, kGCZ, z);
      UpdateCursorPixel(heap, graph, c, active);
      c = CursorAt(heap, graph, active);
      if (!whole && element) UpdateCursorLegendRow(heap, element, c, kLegendRowX | kLegendRowY | kLegendRowZ | rowBits);
    } else {
      SetCursorF64(c, kGCZ, z);
    }
  }
  // 8. Drawn again.
  c = CursorAt(heap, graph, active);
  if (shown && c)
    EraseGraphCursor(heap, graph, c, int32(CursorU32(c, kGCPointStyle)), 0,
                     (t.marks & kCursMarkDrag) ? kCursorDrawFixedChanged : kCursorDrawDraggable, defer);
  // 9. The whole record in its row; the legend back where it was.
  if (whole && element) OInval(heap, element, kInvalValue);
  if (row && previous >= 0) ShowCursorLegendRow(heap, legend, previous, nullptr);
  SetLegendUpdating(wasUpdating);
  return reply;
}

// ---- The list ---------------------------------------------------------------------------------

MgErr ReadCursors(ObjHeap heap, int32 graph, const TypeDescriptor* td, UHandle* array) {
  const TypeDescriptor* el = nullptr;
  int32 have = 0;
  uChar* first = nullptr;
  if (!array || !VectorOf(td, nullptr, &el, &have, &first)) return kArgErr;
  std::vector<Member> probe;
  std::vector<uChar> blank(size_t(std::max(DataSize(el), 0)) + 8, 0);
  if (!CursorClusterShape(el, blank.data(), &probe)) return kArgErr;
  int32 n = 0;
  GraphCursorsOf(heap, graph, &n);
  if (!attrtd::ClearOutput(array, 1)) return kArgErr;
  int32 want = n;
  int32* count = &want;
  ArrayHandle h = reinterpret_cast<ArrayHandle>(*array);
  const MgErr err = VectorResize(el, &h, &count);
  *array = reinterpret_cast<UHandle>(h);
  if (err) {
    DBPrintf("Couldn't resize in ReadCursors");
    return err;
  }
  const int32 at = AlignDatum(el, 4), es = DataSize(el);
  for (int32 i = 0; i < n; ++i) {
    const uChar* c = CursorAt(heap, graph, i);
    if (!c || !*array) break;
    uChar* e = **array + at + i * es;
    std::vector<Member> m;
    CursorClusterShape(el, e, &m);
    for (int32 k = 0; k < kListMembers; ++k) {
      const int32 sub = k == 9 ? kCursPropPosition : kCursPropName + k;
      if (int32 r = GetMember(sub, m[size_t(k)].td, m[size_t(k)].at, c))
        return r == kReplyMemFull ? kMemFullErr : kArgErr;
      e = **array + at + i * es;  // a name copy may not move the array, but stay safe
      CursorClusterShape(el, e, &m);
    }
  }
  return kNoErr;
}

MgErr WriteCursors(ObjHeap heap, int32 graph, const TypeDescriptor* td, UHandle* array, Bool32 noDisplay,
                   Bool32 defer) {
  const TypeDescriptor* el = nullptr;
  int32 n = 0;
  uChar* src = nullptr;
  if (!array || !VectorOf(td, *array, &el, &n, &src)) return kArgErr;
  {
    std::vector<uChar> blank(size_t(std::max(DataSize(el), 0)) + 8, 0);
    std::vector<Member> probe;
    if (!CursorClusterShape(el, blank.data(), &probe)) return kArgErr;
  }
  const int32 dataWord = ObjWord(heap, graph, kGraphDataWord);
  const TypeDescriptor* listTD = nullptr;
  UPtr field = GraphDataOf(heap, graph) ? GraphCursorListField(heap, dataWord, &listTD) : nullptr;
  const TypeDescriptor* recTD = GraphCursorRecordTD();
  if (!field || !recTD || !GraphCursorFields()) return kArgErr;
  int32 m = 0;
  GraphCursorsOf(heap, graph, &m);
  const bool updating = !noDisplay && !(ctrl::Flags(heap, graph) & kGraphFlagHidden);
  // 1. Direct drawing: the plot image can take the cursors, and not deferred.
  const bool direct = updating && !defer && CursorDirectImage(heap, graph, false) != 0;
  // 2. Removed cursors go from the plot first.
  bool fixedChanged = false;
  for (int32 i = n; updating && i < m; ++i) {
    uChar* c = CursorAt(heap, graph, i);
    if (!c) break;
    if (CursorU32(c, kGCFlags) & kCursorNoDrag) fixedChanged = true;
    EraseGraphCursor(heap, graph, c, int32(CursorU32(c, kGCPointStyle)),
                       kCursorPieceAll & int32(CursorU32(c, kGCFlags)), 0, !direct);
  }
  // 3. The list resized; on failure it keeps its length and records.
  {
    UHandle list;
    std::memcpy(&list, field, sizeof list);
    ArrayHandle h = reinterpret_cast<ArrayHandle>(list);
    int32 want = n;
    int32* count = &want;
    if (MgErr err = VectorResize(recTD, &h, &count)) {
      DBPrintf("Couldn't resize in WriteCursors");
      return err;
    }
    field = GraphCursorListField(heap, dataWord, nullptr);
    std::memcpy(field, &h, sizeof h);
  }
  // 4. Each cursor takes its members.
  bool anyChanged = n != m;
  const int32 at = AlignDatum(el, 4), es = DataSize(el);
  for (int32 i = 0; i < n; ++i) {
    uChar* c = CursorAt(heap, graph, i);
    if (!c || !*array) break;
    const bool isNew = i >= m;
    if (isNew) SetCursorU32(c, kGCFlags, CursorU32(c, kGCFlags) | kCursorNew);
    std::vector<Member> mem;
    CursorClusterShape(el, **array + at + i * es, &mem);
    Taken t = TakenOf(c);
    TakeMember(kCursPropName, mem[0].td, mem[0].at, c, &t);
    bool changed = isNew || (t.marks & kCursMarkName) || !CursorName(c);
    bool erased = false;
    std::vector<uChar> saved;
    if (changed && !isNew && updating) {
      EraseGraphCursor(heap, graph, c, int32(CursorU32(c, kGCPointStyle)),
                       kCursorPieceAll & int32(CursorU32(c, kGCFlags)), 0, !direct);
      erased = true;
    } else if (!isNew) {
      saved.assign(c, c + Size());
    }
    std::vector<uChar> name;
    if (t.name) name.assign(t.name, t.name + t.nameLen);
    for (int32 k = 1; k < kListMembers; ++k)
      TakeMember(k == 9 ? kCursPropPosition : kCursPropName + k, mem[size_t(k)].td, mem[size_t(k)].at, c, &t);
    changed = changed || t.marks != 0;
    if (!changed) continue;
    anyChanged = true;
    c = CursorAt(heap, graph, i);
    if (t.marks & kCursMarkName) {
      if (StoreName(c, name.data(), int32(name.size()))) return kMemFullErr;
      c = CursorAt(heap, graph, i);
    }
    SetCursorU32(c, kGCColour, t.colour);
    SetCursorU32(c, kGCPointStyle, t.point);
    SetCursorU32(c, kGCFlags, t.flags);
    SetCursorBool(c, kGCLockButton, (t.flags & kCursorSnapped) != 0);
    SetCursorU32(c, kGCPlot, t.plot);
    SetCursorU32(c, kGCIndex, t.index);
    SetCursorF64(c, kGCX, t.x);
    SetCursorF64(c, kGCY, t.y);
    if (t.flags & kCursorSnapped) {
      // A snapped cursor takes its point's values; a negative index reads
      // point 0 and is kept (the next resnap corrects it).
      float64 x = t.x, y = t.y, z = CursorF64(c, kGCZ);
      const int32 index = int32(t.index) < 0 ? 0 : int32(t.index);
      if (GetPlotPointValues(heap, graph, GraphValue(heap, graph), int32(t.plot), index, &x, &y, &z) == 0) {
        c = CursorAt(heap, graph, i);
        SetCursorF64(c, kGCX, x);
        SetCursorF64(c, kGCY, y);
        SetCursorF64(c, kGCZ, z);
      }
    }
    c = CursorAt(heap, graph, i);
    UpdateCursorPixel(heap, graph, c, i);
    c = CursorAt(heap, graph, i);
    if (!(t.flags & kCursorSnapped)) SnapCursorToData(heap, graph, c, nullptr, nullptr, i, nullptr);
    if (!isNew && !erased && updating && !saved.empty())
      EraseGraphCursor(heap, graph, saved.data(), int32(CursorU32(saved.data(), kGCPointStyle)),
                       kCursorPieceAll & int32(CursorU32(saved.data(), kGCFlags)), 0, !direct);
    c = CursorAt(heap, graph, i);
    if (updating && !direct) {
      Rect plot;
      if (CursorPlotRect(heap, graph, &plot))
        InvalCursorArea(c, &plot, int32(CursorU32(c, kGCPointStyle)), int32(CursorU32(c, kGCFlags)) & kCursorPieceAll);
    }
    if ((t.flags | uInt32(saved.empty() ? 0 : CursorU32(saved.data(), kGCFlags))) & kCursorNoDrag) fixedChanged = true;
  }
  // 5. Labels, legend, drawing.
  if (anyChanged) {
    MeasureAllCursorLabels(heap, graph, 0, nullptr);
    const int32 legend = updating ? FindPart(heap, graph, kGPartCursorLegend, 0) : 0;
    if (legend && !ctrl::Hidden(heap, legend)) {
      const Bool32 was = SetLegendUpdating(true);
      if (!defer && !(ctrl::Flags(heap, legend) & kLegendFlagNoDirect)) {
        GraphData* d = GraphDataOf(heap, graph);
        if (d) ODisplayValObj(heap, legend, 0, &d->cursors);
        InvalCursorLegendIcons(heap, graph);
      } else {
        OInval(heap, legend, kInvalValue);
      }
      SetLegendUpdating(was);
    }
    if (direct) DrawCursorsInPlot(heap, graph, fixedChanged ? kCursorDrawFixedChanged : kCursorDrawDraggable);
  }
  return kNoErr;
}

// ---- Selected cursors -------------------------------------------------------------------------

MgErr ReadSelectedCursors(ObjHeap heap, int32 graph, const TypeDescriptor* td, UHandle* array) {
  const TypeDescriptor* el = nullptr;
  int32 have = 0;
  uChar* first = nullptr;
  if (!array || !VectorOf(td, nullptr, &el, &have, &first) || !IsNumCode(Code(el))) return kArgErr;
  int32 n = 0;
  GraphCursorsOf(heap, graph, &n);
  std::vector<int32> picked;
  for (int32 i = 0; i < n; ++i)
    if (const uChar* c = CursorAt(heap, graph, i); c && CursorBool(c, kGCSelected)) picked.push_back(i);
  if (!attrtd::ClearOutput(array, 1)) return kArgErr;
  int32 want = int32(picked.size());
  int32* count = &want;
  ArrayHandle h = reinterpret_cast<ArrayHandle>(*array);
  const MgErr err = VectorResize(el, &h, &count);
  *array = reinterpret_cast<UHandle>(h);
  if (err) return err;
  const int32 at = AlignDatum(el, 4), es = DataSize(el);
  for (size_t i = 0; i < picked.size(); ++i) AttrGetNum(el, **array + at + int32(i) * es, kTDI32, &picked[i]);
  return kNoErr;
}

MgErr WriteSelectedCursors(ObjHeap heap, int32 graph, const TypeDescriptor* td, UHandle* array, Bool32 noDisplay,
                           Bool32 defer) {
  const TypeDescriptor* el = nullptr;
  int32 len = 0;
  uChar* src = nullptr;
  if (!array || !VectorOf(td, *array, &el, &len, &src) || !IsNumCode(Code(el))) return kArgErr;
  int32 n = 0;
  GraphCursorsOf(heap, graph, &n);
  // 1. The valid indices, ascending.
  UHandle tmp = DSNewHandle(std::max(len, 1) * 4);
  if (!tmp) return kMemFullErr;
  int32 kept = 0;
  const int32 es = DataSize(el);
  for (int32 i = 0; i < len; ++i) {
    int32 v = -1;
    AttrPutNum(el, src + i * es, kTDI32, &v);
    if (v >= 0 && v < n) std::memcpy(*tmp + 4 * kept++, &v, 4);
  }
  QSort(*tmp, kept, 4, &CompareI32);
  // 2. How rows are updated.
  const bool updating = !noDisplay && !(ctrl::Flags(heap, graph) & kGraphFlagHidden);
  const int32 legend = updating ? FindPart(heap, graph, kGPartCursorLegend, 0) : 0;
  const int32 element = legend && !ctrl::Hidden(heap, legend) ? LegendElement(heap, legend) : 0;
  int32 rowBits = 0;
  if (element && !ctrl::Hidden(heap, element)) {
    const int32 rows = FindPart(heap, legend, kPartPlotArea, 0);
    const bool direct = !defer && !(ctrl::Flags(heap, legend) & kLegendFlagNoDirect) &&
                        !(ctrl::Flags(heap, element) & kLegendFlagNoDirect) &&
                        !(rows && (ctrl::Flags(heap, rows) & kLegendFlagInval));
    rowBits = direct ? (kLegendRowWrite | kLegendRowForce | kLegendRowSelected)
                     : (kLegendRowInval | kLegendRowForce | kLegendRowSelected);
  }
  // 3. Each cursor's selected field follows the list.
  const Bool32 was = SetLegendUpdating(true);
  int32 firstShown = -1, k = 0;
  for (int32 i = 0; i < n; ++i) {
    while (k < kept && GetNative32(*tmp + 4 * k) < uInt32(i)) ++k;
    const bool on = k < kept && int32(GetNative32(*tmp + 4 * k)) == i;
    uChar* c = CursorAt(heap, graph, i);
    if (!c || (CursorBool(c, kGCSelected) != 0) == on) continue;
    SetCursorBool(c, kGCSelected, on);
    int32 previous = -1;
    if (rowBits && ShowCursorLegendRow(heap, legend, i, &previous)) {
      if (firstShown < 0) firstShown = previous;
      UpdateCursorLegendRow(heap, element, CursorAt(heap, graph, i), rowBits);
    }
  }
  // 4.
  DSDisposeHandle(tmp);
  if (firstShown >= 0) ShowCursorLegendRow(heap, legend, firstShown, nullptr);
  SetLegendUpdating(was);
  return kNoErr;
}
