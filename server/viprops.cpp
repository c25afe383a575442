// The 69 VI properties of the local application (selectors 500 to 568):
// the attribute vector that runs them against one reference, and each
// property's get and set.
//
// Values: strings and arrays are data-zone handles the getter makes or
// resizes (the caller's variable holds the handle), paths are copied into
// the caller's path, Booleans are one byte, numbers and enumerations 32
// bits, rectangles four I16 in the order left, top, right, bottom, and the
// origin two I16, horizontal first.
#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/datamgr.h"
#include "engine/datasupp.h"
#include "engine/flatten.h"
#include "engine/membertab.h"
#include "engine/typemgr.h"
#include "engine/vi/vi_internal.h"
#include "engine/vi/viinst.h"
#include "engine/vi/viload.h"
#include "engine/vi/virecord.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/window/wevent.h"
#include "mgsource/window/window.h"
#include "server/srvvalues.h"
#include "server/proxy.h"
#include "server/viref.h"

namespace {

// Flags of the member table's entries that the vector tests.
enum : int32 {
  kPropSetUnreserved = 0x01,
  kPropNeedsPanel = 0x02,
  kPropRemoteForbidden = 0x08,
  kPropControlVI = 0x40,
  kPropGlobalVI = 0x80,
};

int32 PropFlags(int32 selector) {
  const AutoPropInfo* p = PropInfoLookup(kAutoClassVI, selector);
  return p ? p->flags : 0;
}

using namespace srvval;

// An application-zone handle of a 32-bit count and the bytes (a VI's
// description and help tag, as its file gave them): the bytes it holds.
MgErr SetCountedHandle(void* value, UHandle h) {
  int32 n = 0;
  const int32 size = h && *h ? AZGetHandleSize(h) : 0;
  if (size >= 4) {
    std::memcpy(&n, *h, sizeof n);
    n = std::clamp(n, int32(0), size - 4);
  }
  return SetString(static_cast<LStrHandle*>(value), n ? *h + 4 : nullptr, n);
}

// The names of the VIs of a caller or subVI list, subVI-kind VIs left out.
std::vector<ConstPStr> NamesOf(UHandle list) {
  std::vector<ConstPStr> names;
  for (int32 i = 0, n = viinst::ListCount(list); i < n; ++i) {
    UHandle vi = viinst::ListAt(list, i);
    if (vi && *vi && VIRec(vi)->viKind != kVIKindProxyCaller) names.push_back(VIRec(vi)->name);
  }
  return names;
}

int32 HandleBytes(UHandle h) { return h && *h ? std::max<int32>(0, HandleSize(h)) : 0; }

// ---- The panel and its window ----------------------------------------------------------------
ObjHeap PanelOf(UHandle vi) { return VIRec(vi)->panelHeap; }
WindowRef WindowOf(UHandle vi) { return PanelOf(vi) ? viinst::PanelWindow(PanelOf(vi)) : kWNoWindow; }
uInt16 WindowStyle(UHandle vi) { return PanelOf(vi) ? viinst::ExtHalf(PanelOf(vi), kHeapExtWindowStyle) : 0; }

Rect StoredContent(ObjHeap panel) {
  Rect c{0, 0, 0, 0};
  if (const uChar* p = viinst::ExtAt(panel, kHeapExtContentRect)) std::memcpy(&c, p, sizeof c);
  return c;
}
void SetStoredContent(ObjHeap panel, const Rect& c) {
  if (uChar* p = viinst::ExtAt(panel, kHeapExtContentRect)) std::memcpy(p, &c, sizeof c);
}
Point StoredOrigin(ObjHeap panel) {
  Point at{0, 0};
  if (const uChar* p = viinst::ExtAt(panel, kHeapExtContentOrigin)) std::memcpy(&at, p, sizeof at);
  return at;
}
void SetStoredOrigin(ObjHeap panel, Point at) {
  if (uChar* p = viinst::ExtAt(panel, kHeapExtContentOrigin)) std::memcpy(p, &at, sizeof at);
}
int16 Pin16(int32 v) { return int16(std::clamp(v, int32(-32768), int32(32767))); }

// The panel's content in screen coordinates: where it is stored.
Rect PanelBounds(ObjHeap panel) {
  const Rect c = StoredContent(panel);
  const Point at = StoredOrigin(panel);
  return Rect{at.v, at.h, Pin16(at.v + c.bottom - c.top), Pin16(at.h + c.right - c.left)};
}
// The window rectangle with its frame, in screen coordinates.
Rect WindowBounds(UHandle vi) {
  Rect r = PanelBounds(PanelOf(vi));
  uInt32 style = WindowStyle(vi);
  if (WindowRef w = WindowOf(vi)) {
    WGetGlobalRect(w, &r);
    style = WGetStyle(w);
  }
  Rect m;
  WGetShellRect(style, &m);
  return Rect{Pin16(r.top - m.top), Pin16(r.left - m.left), Pin16(r.bottom + m.bottom), Pin16(r.right + m.right)};
}


// Moves and sizes the panel (536: the window with its frame; 556: the
// panel's content).  The size must be non-empty and lie within the window's
// size limits, else 1 and nothing changes.
MgErr SetBounds(UHandle vi, const Rect& r, bool withFrame) {
  ObjHeap panel = PanelOf(vi);
  if (!panel) return kArgErr;
  const WindowRef w = WindowOf(vi);
  const int32 width = r.right - r.left, height = r.bottom - r.top;
  Point low, high;
  WGetSizeLimits(w, &low, &high);
  if (width <= 0 || height <= 0 || width < low.h || height < low.v || width > high.h || height > high.v)
    return kArgErr;
  Rect m{0, 0, 0, 0};
  if (withFrame) WGetShellRect(w ? WGetStyle(w) : WindowStyle(vi), &m);
  Rect content{Pin16(r.top + m.top), Pin16(r.left + m.left), Pin16(r.bottom - m.bottom),
               Pin16(r.right - m.right)};
  if (content.bottom <= content.top || content.right <= content.left) return kArgErr;
  if (w) {
    // The window's own parts (tool bar, menu bar) lie between its content
    // and the panel's: they keep their sizes.
    Rect client;
    WGetGlobalRect(w, &client);
    if (!withFrame) {
      const Rect now = PanelBounds(panel);
      content = Rect{Pin16(content.top - (now.top - client.top)), Pin16(content.left - (now.left - client.left)),
                     Pin16(content.bottom + (client.bottom - now.bottom)),
                     Pin16(content.right + (client.right - now.right))};
    }
    WSize(w, &content);
    return kNoErr;
  }
  Rect c = StoredContent(panel);
  c.bottom = Pin16(c.top + content.bottom - content.top);
  c.right = Pin16(c.left + content.right - content.left);
  SetStoredContent(panel, c);
  SetStoredOrigin(panel, Point{content.top, content.left});
  return kNoErr;
}

MgErr SetOrigin(UHandle vi, const void* value) {
  ObjHeap panel = PanelOf(vi);
  if (!panel) return kArgErr;
  const auto* at = static_cast<const uChar*>(value);
  const Rect c = StoredContent(panel);
  const int32 dh = GetI16(at) - c.left, dv = GetI16(at + 2) - c.top;
  if (dh == 0 && dv == 0) return kNoErr;
  if (WindowOf(vi) && VIPropPanel().scrollPanelBy) {
    VIPropPanel().scrollPanelBy(panel, dh, dv);
    return kNoErr;
  }
  SetStoredContent(panel, Rect{Pin16(c.top + dv), Pin16(c.left + dh), Pin16(c.bottom + dv), Pin16(c.right + dh)});
  return kNoErr;
}

// Asks the panel window to close; the user-interface thread completes it.
void PostWindowClose(WindowRef w) {
  WEventRecord e{};
  e.code = kWEvClose;
  e.window = w;
  WPostEvent(&e, 0, kWPostAnyLevel);
}

// ---- The connector pane's data ------------------------------------------------------------
// resID, permutation, then per terminal its flags, its descriptor as I16
// words and its name.  A pane whose count or descriptors run past its
// handle is refused with 1 before anything is written.
MgErr GetConPaneData(UHandle vi, void* value) {
  const TypeDescriptor* td = PropInfoTypeDesc(kAutoClassVI, 565);
  UHandle pane = VIRec(vi)->connPane;
  if (!td || !pane || !*pane) return kArgErr;
  const int32 size = AZGetHandleSize(pane);
  if (size < 8 || TDCheckBounds(*pane, size) != kNoErr) return kArgErr;
  const auto* p = reinterpret_cast<const TypeDescriptor*>(*pane);
  const int32 count = GetI16(*pane + 4);
  if (p->code != kTDFunction || count < 0 || 8 + 2 * count > size) return kArgErr;
  const uChar* end = *pane + std::min<int32>(p->size == kTDSizeInHolder ? size : p->size, size);
  for (int32 i = 0; i < count; ++i) {
    const auto* t = reinterpret_cast<const uChar*>(ElemTD(p, i));
    if (!t || t < *pane + 8 + 2 * count || t + 4 > end) return kArgErr;
    const int32 tdSize = uInt16(GetI16(t));
    if (tdSize < 4 || t + tdSize > end) return kArgErr;
  }
  const int32 pattern = GetI16(*pane + 6);
  auto* data = static_cast<uChar*>(value);
  const std::vector<int32> top = ElementOffsets(td);
  PutI16(data + top[0], 4800 + pattern / 8);
  PutI16(data + top[1], pattern & 3);
  const TypeDescriptor* termTD = ArrayElement(ElemTD(td, 2));
  const std::vector<int32> field = ElementOffsets(termTD);
  const TypeDescriptor* wordsTD = ArrayElement(ElemTD(termTD, 1));
  auto* terms = reinterpret_cast<UHandle*>(data + top[2]);
  MgErr err = kNoErr;
  if (!SizeArray(terms, termTD, count, &err)) return err ? err : kMemFullErr;
  const int32 stride = DataSize(termTD);
  for (int32 i = 0; i < count && !err; ++i) {
    // Everything is read again from the pane's handle after each allocation.
    const auto* t = reinterpret_cast<const uChar*>(ElemTD(reinterpret_cast<const TypeDescriptor*>(*pane), i));
    const int32 tdSize = uInt16(GetI16(t));
    const int32 words = (tdSize + 1) / 2;
    std::vector<uChar> bytes(t, t + tdSize);
    bytes.resize(size_t(words) * 2, 0);
    Str255 name{0};
    if (ConstPStr n = TDNamePtr(reinterpret_cast<const TypeDescriptor*>(t))) std::memcpy(name, n, size_t(n[0]) + 1);
    const uInt16 flags = uInt16(GetI16(*pane + 8 + 2 * i));
    uChar* e = **terms + AlignDatum(termTD, 4) + i * stride;
    std::memcpy(e + field[0], &flags, sizeof flags);
    UHandle wordsArray = nullptr;
    std::memcpy(&wordsArray, e + field[1], sizeof wordsArray);
    if (uChar* w = SizeArray(&wordsArray, wordsTD, words, &err)) std::memcpy(w, bytes.data(), bytes.size());
    e = **terms + AlignDatum(termTD, 4) + i * stride;
    std::memcpy(e + field[1], &wordsArray, sizeof wordsArray);
    if (err) break;
    LStrHandle s = nullptr;
    std::memcpy(&s, e + field[2], sizeof s);
    err = SetString(&s, name + 1, name[0]);
    e = **terms + AlignDatum(termTD, 4) + i * stride;
    std::memcpy(e + field[2], &s, sizeof s);
  }
  return err;
}

// The sizes of the VI's data spaces, each with what its handles hold (their
// flattened size beyond the fixed part).
int32 TotalDataSize(UHandle vi) {
  UHandle tdHandle = VIRec(vi)->dsTypeMap;
  const auto* td = tdHandle && *tdHandle ? reinterpret_cast<const TypeDescriptor*>(*tdHandle) : nullptr;
  int64 total = 0;
  int32 guard = 1 << 16;
  for (DataSpace ds = reinterpret_cast<DataSpace>(VIRec(vi)->dataSpace); ds && *ds && guard-- > 0;
       ds = (*ds)->nextClone) {
    const int32 bytes = HandleBytes(reinterpret_cast<UHandle>(ds));
    total += bytes;
    if (td && bytes >= DataSize(td)) total += std::max<int32>(0, FlatSize(td, *ds) - DataSize(td));
  }
  return int32(std::min<int64>(total, 0x7FFFFFFF));
}

int32 PriorityItem(UHandle vi) {
  if (VIRec(vi)->flags & kVIFlagSubroutine) return 6;
  const int32 p = VIRec(vi)->priority;
  return p >= 0 && p <= 4 ? p + 1 : 0;
}
int32 ExecSystemItem(UHandle vi) {
  if (VIRec(vi)->flags & kVIFlagSubroutine) return 0;
  const int32 s = VIRec(vi)->execSystem;
  return s == -1 ? 7 : s >= 0 && s <= 5 ? s + 1 : 0;
}
int32 StateItem(UHandle vi) {
  const uInt32 s = VIRec(vi)->eState & kVIStateMask;
  return s == 0 ? 0 : s == 1 ? 1 : (s & 2) ? 2 : 3;
}
int32 KindItem(UHandle vi) {
  switch (VIRec(vi)->viKind) {
    case kVIKindDatalog: return 1;
    case kVIKindControl: return 2;
    case kVIKindGlobal: return 3;
    default: return 0;
  }
}

MgErr BadSelector(const char* format, int32 selector) {
  DBPrintf(format, long(selector));
  return kVIRefSelectorErr;
}

}  // namespace

OperatedByRef::OperatedByRef(VIRefRecord* ref, const char* who) : vi_(ref->vi) {
  VIRecord* r = VIRec(vi_);
  former_ = r->curVIRef;
  if (former_ != 0 && former_ != uInt32(ref->self))
    DBPrintf("YIKES!!! %s: already has curRef set to 0x%08lx!!!", who, static_cast<unsigned long>(former_));
  r->curVIRef = uInt32(ref->self);
  clearMark_ = !(ref->flags & kVIRefOptKeepOperatedMark) && !(r->marks & kVIMarkOperatedByRef);
  if (!(ref->flags & kVIRefOptKeepOperatedMark)) r->marks |= kVIMarkOperatedByRef;
}

OperatedByRef::~OperatedByRef() {
  // The VI may have gone meanwhile (a method that disposed of it).
  if (!vi_ || !*vi_) return;
  if (clearMark_) VIRec(vi_)->marks &= ~uInt32(kVIMarkOperatedByRef);
  VIRec(vi_)->curVIRef = former_;
}

MgErr VIRefLoadPanel(VIRefRecord* ref) {
  UHandle vi = ref->vi;
  if (VIRec(vi)->panelHeap) return kNoErr;
  if (MgErr err = LoadFPHeap(vi)) return err;
  VIRec(vi)->marks |= kVIMarkPanelByRefs;
  ref->flags |= kVIRefLoadedPanel;
  return kNoErr;
}

MgErr ThisApp_GetAttribute(VIRefRecord* ref, int32 selector, void* value, PStr) {
  if (selector < 500 || selector > 568) return BadSelector("ThisApp_GetAttribute: bad selector: %ld", selector);
  if (!value) return kNoErr;
  UHandle vi = ref->vi;
  if (!vi || !*vi) return kVIRefInvalidErr;
  const VIRecord* r = VIRec(vi);
  const uInt32 options = r->windowOptions, toolBar = r->stored84, style = WindowStyle(vi);
  switch (selector) {
    case 500: return SetPString(value, r->name);
    case 501: return SetPath(value, r->path);
    case 502: return SetCountedHandle(value, r->strings);
    case 504: PutI32(value, ref->mode); return kNoErr;
    case 505: PutBool(value, style & 0x4); return kNoErr;
    case 506: PutBool(value, style & 0x8); return kNoErr;
    case 507: PutBool(value, style & 0x30); return kNoErr;
    case 508: PutBool(value, !(options & 0x80)); return kNoErr;
    case 509: PutBool(value, options & 0x100); return kNoErr;
    case 510: PutBool(value, options & 0x40); return kNoErr;
    case 511: PutBool(value, options & 0x20); return kNoErr;
    case 512: PutBool(value, options & 0x3); return kNoErr;
    case 513: PutBool(value, options & 0x10); return kNoErr;
    case 514: PutBool(value, options & 0x8); return kNoErr;
    case 515: PutBool(value, !(toolBar & 0x1)); return kNoErr;
    case 516: PutBool(value, !(toolBar & 0x20)); return kNoErr;
    case 517: PutBool(value, !(toolBar & 0x80)); return kNoErr;
    case 518: PutBool(value, r->flags2 & 0x200); return kNoErr;
    case 519: return kNoErr;
    case 520: PutBool(value, style & 0x1); return kNoErr;
    case 521: PutBool(value, r->flags & 0x400); return kNoErr;
    case 522: PutBool(value, r->flags & 0x8000); return kNoErr;
    case 523: PutBool(value, r->flags & 0x40); return kNoErr;
    case 524: PutBool(value, r->flags & 0x4000); return kNoErr;
    case 525: PutBool(value, r->flags & kVIFlagReentrant); return kNoErr;
    case 526: PutI32(value, PriorityItem(vi)); return kNoErr;
    case 527: case 528: case 529: case 530: case 531: case 539: case 560:
      return BadSelector("ThisApp_GetAttribute: bad selector: %ld", selector);
    case 532: return SetCountedHandle(value, r->helpTag);
    case 533: return SetPath(value, r->helpPath);
    case 534: PutBool(value, WindowOf(vi) != kWNoWindow); return kNoErr;
    case 535: PutBool(value, WindowOf(vi) != kWNoWindow && WActiveDocWind() == WindowOf(vi)); return kNoErr;
    case 536:
      if (!PanelOf(vi)) return kArgErr;
      PutRect(value, WindowBounds(vi));
      return kNoErr;
    case 537: PutI32(value, int32(r->modFlags)); return kNoErr;
    case 538: PutI32(value, (r->modFlags & 0x10000001) ? int32(r->modFlags) : 0); return kNoErr;
    case 540: PutI32(value, HandleBytes(r->codeHandle)); return kNoErr;
    case 541: PutI32(value, TotalDataSize(vi)); return kNoErr;
    case 542: PutI32(value, HandleBytes(reinterpret_cast<UHandle>(PanelOf(vi)))); return kNoErr;
    case 543: PutI32(value, 0); return kNoErr;
    case 544: return SetNames(value, NamesOf(r->callers));
    case 545: return SetNames(value, NamesOf(r->subVIs));
    case 546: {
      // A non-native call runs the VI on its proxy's target data space.
      const DataSpace ds = ref->callDS ? ref->callDS : PxCallerTargetDS(ref->proxyDS);
      std::memcpy(value, &ds, sizeof ds);
      return kNoErr;
    }
    case 547: {
      const TypeDescriptor* pane =
          r->connPane && *r->connPane ? reinterpret_cast<const TypeDescriptor*>(*r->connPane) : nullptr;
      std::memcpy(value, &pane, sizeof pane);
      return kNoErr;
    }
    case 549: {
      UHandle log = r->logRecord;
      Path p = log && *log && AZGetHandleSize(log) >= int32(sizeof(DatalogBindingRec))
                   ? reinterpret_cast<const DatalogBindingRec*>(*log)->logPath
                   : nullptr;
      return SetPath(value, p);
    }
    case 550: PutBool(value, r->flags2 & 0x20); return kNoErr;
    case 551: PutBool(value, r->flags2 & 0x8000); return kNoErr;
    case 552: {
      if (!PanelOf(vi)) return kArgErr;
      const Rect c = StoredContent(PanelOf(vi));
      PutI16(static_cast<uChar*>(value), c.left);
      PutI16(static_cast<uChar*>(value) + 2, c.top);
      return kNoErr;
    }
    case 553: {
      UHandle title = r->title;
      if (title && *title && AZGetHandleSize(title) >= 1 && AZGetHandleSize(title) >= 1 + **title)
        return SetString(static_cast<LStrHandle*>(value), *title + 1, **title);
      return SetPString(value, r->name);
    }
    case 554: PutI32(value, ref->self); return kNoErr;
    case 555: PutBool(value, r->flags & 0x1000); return kNoErr;
    case 556:
      if (!PanelOf(vi)) return kArgErr;
      PutRect(value, PanelBounds(PanelOf(vi)));
      return kNoErr;
    case 557: PutI32(value, StateItem(vi)); return kNoErr;
    case 558: PutBool(value, r->flags2 & 0x80000); return kNoErr;
    case 559: PutI32(value, ExecSystemItem(vi)); return kNoErr;
    case 561: PutBool(value, r->title != nullptr); return kNoErr;
    case 562: PutI32(value, KindItem(vi)); return kNoErr;
    case 565: return GetConPaneData(vi, value);
    default:  // 503, 548, 563, 564, 566, 567, 568
      DBPrintf("ThisApp_GetAttribute: unsupported selector: %ld", long(selector));
      return kVIRefUnsupportedErr;
  }
}

MgErr ThisApp_SetAttribute(VIRefRecord* ref, int32 selector, void* value, PStr) {
  if (selector < 500 || selector > 568) return BadSelector("ThisApp_SetAttribute: bad selector: %ld", selector);
  switch (selector) {
    case 501: case 537: case 538: case 539: case 540: case 541: case 542: case 543: case 544: case 545: case 546:
    case 557: case 560: case 562: case 564: case 565:
      return kVIRefReadOnlyErr;
    case 547: case 548: case 550: case 551: case 559: case 566:
      return BadSelector("ThisApp_SetAttribute: bad selector: %ld", selector);
    case 504: case 534: case 535: case 536: case 552: case 553: case 556: case 561: break;
    default: return kVIRefUnsupportedErr;
  }
  if (!value) return kArgErr;
  if (selector == 504) return SetReservation(ref, GetI32(value));
  UHandle vi = ref->vi;
  if (!vi || !*vi) return kVIRefInvalidErr;
  switch (selector) {
    case 534:
      if (GetBool(value)) return OpenFrontPanel(vi) ? kNoErr : kArgErr;
      if (WindowRef w = WindowOf(vi)) PostWindowClose(w);
      return kNoErr;
    case 535:
      if (WindowRef w = WindowOf(vi); w && GetBool(value)) WBringToFront(w);
      return kNoErr;
    case 536: return SetBounds(vi, GetRect(value), true);
    case 556: return SetBounds(vi, GetRect(value), false);
    case 552: return SetOrigin(vi, value);
    case 553: {
      LStrHandle h = *static_cast<LStrHandle*>(value);
      Str255 title{0};
      const int32 held = HandleBytes(reinterpret_cast<UHandle>(h)) - 4;
      if (h && *h && (*h)->cnt > 0 && held > 0) {
        const int32 n = std::min<int32>(std::min<int32>((*h)->cnt, held), 255);
        title[0] = uChar(n);
        std::memcpy(title + 1, (*h)->str, size_t(n));
      }
      return SetVITitle(vi, title, nullptr);
    }
    case 561: return SetVITitle(vi, GetBool(value) ? VIRec(vi)->name : nullptr, nullptr);
    default: return kVIRefUnsupportedErr;
  }
}

MgErr ThisApp_VIAttrVector(VIRefRecord* ref, int32 count, AttrEntry* vector, int32 options, MgErr* error,
                           int32* index, PStr text, AsyncCompletion, AsyncRef* async) {
  MgErr localError = kNoErr;
  int32 localIndex = 0;
  if (!error) error = &localError;
  if (!index) index = &localIndex;
  if (async) *async = nullptr;
  *error = kNoErr;
  *index = 0;
  UHandle vi = ref->vi;
  if (!vi || !*vi) return kVIRefInvalidErr;
  if (count < 0) count = 0;
  if (count > 0 && !vector) return kArgErr;
  // 1 and 3. The VI's current reference and its operated-through-a-reference
  // mark for the duration.
  OperatedByRef operated(ref, "ThisApp_VIAttrVector");
  // 2. Sets of properties that need a reservation.
  bool needsReservation = false;
  for (int32 i = 0; i < count; ++i)
    if (!vector[i].get && vector[i].value && !(PropFlags(vector[i].selector) & kPropSetUnreserved))
      needsReservation = true;
  if (needsReservation && (ref->mode == kVIRefModeNone || ref->mode == kVIRefModeCall))
    return ref->mode == kVIRefModeNone ? kVIRefUnreservedErr : kVIRefNotIdleErr;
  // 4. The entries in order, to the first error.
  const bool untrusted = !(options & kVIRefOptTrusted);
  int32 i = 0;
  for (; i < count; ++i) {
    const AttrEntry& e = vector[i];
    if (!e.value) continue;
    const int32 flags = PropFlags(e.selector);
    const int16 kind = VIRec(vi)->viKind;
    MgErr err = kNoErr;
    if (untrusted && (flags & kPropRemoteForbidden)) err = kVIRefAccessErr;
    else if (kind == kVIKindControl && !(flags & kPropControlVI)) err = kVIRefKindErr;
    else if (kind == kVIKindGlobal && !(flags & kPropGlobalVI)) err = kVIRefKindErr;
    else if (flags & kPropNeedsPanel) err = VIRefLoadPanel(ref);
    if (!err)
      err = e.get ? ThisApp_GetAttribute(ref, e.selector, e.value, text)
                  : ThisApp_SetAttribute(ref, e.selector, e.value, text);
    if (err) {
      *error = err;
      break;
    }
  }
  // 5. The failing entry's place, or count + 1.
  *index = i + 1;
  return kNoErr;
}
