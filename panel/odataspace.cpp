// The data procedures of the panel classes (message 73): during a data
// manager pass each data-carrying object compiles the programs that set up,
// copy or convert its data, keyed by its offset plus 0 (set-up), 1 (operate
// data), 2 (default data), 3 (calls of its element objects) and 4 (the
// numeric family's per-value conversion).  A controller's main program calls
// its display object's programs and runs when it closes.
//
// An object's data source is the pending entry of a paste or copy: with one,
// the programs copy (or convert) from the source's data; without one the
// data the object has stays as it is; an entry flagged for initialisation
// gives the empty value.
#include <cstring>

#include "engine/dmprog.h"
#include "engine/dsalloc.h"
#include "engine/typemgr.h"
#include "engine/vi/viinst.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "panel/datamsg.h"
#include "panel/fppanel.h"
#include "panel/panel_internal.h"
#include "rtlib/objunits.h"
#include "rtlib/panellocators.h"

namespace {

constexpr uInt32 kObjChanged = 0x8000;          // bit 15: the data procedure reported a change
constexpr uInt32 kTypeDefRebuildCtl = 0x200000; // a type definition's control needs its set-up
constexpr int32 kAcceptMask = 0x899;            // type differences a source may have
constexpr int32 kNumFlagsByte = 32;             // the numeric family's 16-bit word
constexpr uInt16 kNumSourceBits = 0xE0;

thread_local int32 tDepth = 0;
// The messages one pass may send (part lists that loop would otherwise
// take exponential time).
constexpr int32 kMaxMessages = 1 << 16;
thread_local int32 tMessages = 0;

int32 Ptr(const void* p) { return int32(uInt32(uintptr_t(p))); }
uInt32 Flags(ObjHeap heap, int32 obj) { return uInt32(ObjWord(heap, obj, 0)); }
void SetFlags(ObjHeap heap, int32 obj, uInt32 f) { ObjSetWord(heap, obj, 0, int32(f)); }
uInt32 Category(ObjHeap heap, int32 obj) { return ClassRecord(ObjClass(heap, obj))->categoryB; }

const TypeDescriptor* OwnType(ObjHeap heap, int32 obj) {
  TypeID id = DDOTypeID(heap, obj);
  return id ? TypeIDToTD(heap, id) : nullptr;
}
const TypeDescriptor* Plain(const TypeDescriptor* td) { return td ? SkipTypedefs(td) : nullptr; }

// Whether data of the two descriptors is laid out alike.
bool SameData(const TypeDescriptor* a, const TypeDescriptor* b) {
  return a && b && (TDCompare(a, b) & ~(kTDDiffTypedef | kTDDiffName)) == 0;
}

void Call(int32 key) { DMBuildInstr(kDMCall, key, 0, 0); }
void End() { DMBuildInstr(kDMEnd, 0, 0, 0); }

// ---- Data sources ------------------------------------------------------------------
enum class Mode { kInPlace, kCopy, kInit };
struct Source {
  Mode mode = Mode::kInPlace;
  ObjHeap heap = nullptr;
  int32 obj = 0;
};

Source FindSource(ObjHeap heap, int32 obj) {
  Source s;
  uInt32 flags = 0;
  if (DMFindDataProc(heap, obj, &s.heap, &s.obj, nullptr, &flags)) {
    s.mode = (flags & kDMPendInit) || !s.heap || !s.obj ? Mode::kInit : Mode::kCopy;
  }
  return s;
}

// The object a type definition stands for: its control (part 8010),
// through nested definitions.
int32 ThroughTypeDefs(ObjHeap heap, int32 obj) {
  for (int32 i = 0; obj && i < 64 && ObjClass(heap, obj) == kClsTypeDefinition; ++i)
    obj = FindPart(heap, obj, kPartTypeDefControl, 0);
  return obj;
}

// Whether the source's type differs from the object's only in the bits a
// source may differ in.
bool Compatible(const Source& src, ObjHeap heap, int32 obj) {
  const TypeDescriptor* a = OwnType(src.heap, src.obj);
  const TypeDescriptor* b = OwnType(heap, obj);
  return a && b && (TDCompare(a, b) & ~kAcceptMask) == 0;
}

// S set to the source's data of the mode (2/6 operate, 1/5 default); false
// when the source has none.
bool SetSourceS(const Source& src, ObjHeap heap, int32 mode) {
  UHandle h = nullptr;
  int32 same = src.heap == heap ? 4 : 0;
  int32 off = OGetDataPtr(src.heap, src.obj, 0, mode + same, &h);
  if (!off || !h) return false;
  DMBuildInstr(kDMSetSBase, Ptr(h), off, 0);
  return true;
}

// The generic +1 or +2 program: copy (or convert) from the source, the empty
// value, or nothing (the data stays).
void ValueProgram(int32 key, const Source& src, ObjHeap heap, int32 obj, int32 mode) {
  const TypeDescriptor* own = OwnType(heap, obj);
  DMBeginProc(key, kDMOpen, 0);
  if (own && src.mode == Mode::kCopy && SetSourceS(src, heap, mode)) {
    const TypeDescriptor* from = OwnType(src.heap, src.obj);
    if (SameData(from, own))
      DMBuildInstr(kDMCopy, Ptr(own), 0, 0);
    else if (from)
      DMBuildInstr(kDMConvert, Ptr(from), Ptr(own), 0);
  } else if (own && src.mode != Mode::kInPlace) {
    DMBuildInstr(kDMInit, Ptr(own), 0, 0);
  }
  End();
}

// ---- Grouping: the display objects among the object's parts ----------------------------
// Objects an owner sends the message itself (its elements) are left out:
// the element list at exceptList, or the one object except.
bool Group(ObjHeap heap, int32 obj, int32 arg, int32 exceptList = 0, int32 except = 0) {
  bool any = false;
  auto grouped = [&](int32 part) {
    if (Category(heap, part) != kCatDDO || part == except) return false;
    return !exceptList || OHListFind(heap, exceptList, part) < 0;
  };
  ForEachPart(heap, obj, [&](int32 part) {
    if (!grouped(part)) return;
    if (ODataSpace(heap, part, arg)) {
      SetFlags(heap, part, Flags(heap, part) | kObjChanged);
      any = true;
    }
  });
  if (!any) return false;
  DMBeginProc(obj + kDMKeyElements, kDMOpen, 0);
  ForEachPart(heap, obj, [&](int32 part) {
    if (!grouped(part) || !(Flags(heap, part) & kObjChanged)) return;
    SetFlags(heap, part, Flags(heap, part) & ~kObjChanged);
    Call(part + kDMKeySetUp);
  });
  End();
  return true;
}

// The set-up program that only calls the element programs.
void SetUpCallingElements(int32 obj, bool elems) {
  DMBeginProc(obj + kDMKeySetUp, kDMOpen, 0);
  if (elems) Call(obj + kDMKeyElements);
  End();
}

// ---- The procedures ---------------------------------------------------------------------

int32 FrontPanelDataSpace(ObjHeap heap, int32 panel, int32 arg) {
  ForEachPart(heap, panel, [&](int32 part) {
    if (Category(heap, part) == kCatDCO) ODataSpace(heap, part, arg);
  });
  return 0;
}

int32 DCODataSpace(ObjHeap heap, int32 dco, int32 arg) {
  if (MgErr err = AllocObjDataSpace(heap, dco)) DMSetPassError(err == kArgErr ? kArgErr : kMemFullErr);
  uInt32 f = Flags(heap, dco);
  bool changed = (f & kObjChanged) || arg;
  if (!changed && ObjWord(heap, dco, kPWDCORecord) == 0) {
    DBAssert(__FILE__, __LINE__, "FrontPanelDataController: no record");
    return 0;
  }
  int32 display = ObjWord(heap, dco, kPWDCODisplay);
  int32 displayChanged = display ? ODataSpace(heap, display, changed ? 1 : 0) : 0;
  if (!changed) return 0;
  SetFlags(heap, dco, Flags(heap, dco) & ~kObjChanged);
  TypeID id = DCOTypeID(heap, dco);
  const TypeDescriptor* td = id ? TypeIDToTD(heap, id) : nullptr;
  UHandle* ds = FPGetDataSpace(heap);
  int32 value = td && ds && *ds ? FPTransferDCOData(heap, dco, td) : 0;
  if (!display || !value || DMPassError()) return 0;
  DMBeginMainProc(dco, kDMOpen, 0);
  if (displayChanged) Call(display + kDMKeySetUp);
  DMBuildInstr(kDMSetSBase, Ptr(*ds), value, 0);
  DMBuildInstr(kDMSetDBase, Ptr(*ds), value, 0);
  if (DMHasProc(display + kDMKeyOperate)) Call(display + kDMKeyOperate);
  int32 size = DataSize(td);
  DMBuildInstr(kDMStep, size, size, 0);
  if (DMHasProc(display + kDMKeyDefault)) Call(display + kDMKeyDefault);
  End();
  return 1;
}

int32 GenericDataSpace(ObjHeap heap, int32 obj, int32 arg) {
  bool elems = Group(heap, obj, arg);
  Source src = FindSource(heap, obj);
  if (ObjInt16(heap, obj, kObjPartId) == kPartTypeDefControl) {
    int32 owner = ObjWord(heap, obj, kPWOwner);
    if (owner) SetFlags(heap, owner, Flags(heap, owner) | kTypeDefRebuildCtl);
  }
  if (!arg && !elems) return 0;
  SetUpCallingElements(obj, elems);
  if (arg) {
    ValueProgram(obj + kDMKeyOperate, src, heap, obj, kDataPtrOperate);
    ValueProgram(obj + kDMKeyDefault, src, heap, obj, kDataPtrDefault);
  }
  return 1;
}

int32 GrouperDataSpace(ObjHeap heap, int32 obj, int32 arg) {
  bool elems = Group(heap, obj, arg);
  SetUpCallingElements(obj, elems);
  return 1;
}

int32 TypeDefDataSpace(ObjHeap heap, int32 def, int32 arg) {
  SetFlags(heap, def, Flags(heap, def) & ~kTypeDefRebuildCtl);
  bool elems = Group(heap, def, arg);
  bool rebuild = (Flags(heap, def) & kTypeDefRebuildCtl) != 0;
  SetFlags(heap, def, Flags(heap, def) & ~kTypeDefRebuildCtl);
  Source src = FindSource(heap, def);
  bool hasSource = src.mode == Mode::kCopy && Compatible(src, heap, def);
  int32 ctl = FindPart(heap, def, kPartTypeDefControl, 0);
  if (!arg && !elems && !hasSource && !rebuild) return 0;
  DMBeginProc(def + kDMKeySetUp, kDMOpen, 0);
  if (elems) Call(def + kDMKeyElements);
  if (rebuild && ctl && !elems && DMHasProc(ctl + kDMKeySetUp)) Call(ctl + kDMKeySetUp);
  End();
  if (arg) {
    for (int32 k : {kDMKeyOperate, kDMKeyDefault}) {
      DMBeginProc(def + k, kDMOpen, 0);
      if (ctl && DMHasProc(ctl + k)) Call(ctl + k);
      End();
    }
  }
  return 1;
}

int32 ClusterDataSpace(ObjHeap heap, int32 cl, int32 arg) {
  int32 list = ObjWord(heap, cl, kPWClusterElements);
  int32 n = list ? ObjListCount(heap, list) : 0;
  bool any = false;
  for (int32 i = 0; i < n; ++i) {
    int32 e = ObjListGet(heap, ObjWord(heap, cl, kPWClusterElements), i);
    if (e && ODataSpace(heap, e, arg)) {
      SetFlags(heap, e, Flags(heap, e) | kObjChanged);
      any = true;
    }
  }
  bool elems = Group(heap, cl, arg, ObjWord(heap, cl, kPWClusterElements));
  if (!arg && !any && !elems) return 0;
  DMBeginProc(cl + kDMKeySetUp, kDMOpen, 0);
  if (elems) Call(cl + kDMKeyElements);
  for (int32 i = 0; i < n; ++i) {
    int32 e = ObjListGet(heap, ObjWord(heap, cl, kPWClusterElements), i);
    if (!e || !(Flags(heap, e) & kObjChanged)) continue;
    SetFlags(heap, e, Flags(heap, e) & ~kObjChanged);
    if (DMHasProc(e + kDMKeySetUp)) Call(e + kDMKeySetUp);
  }
  End();
  if (arg) {
    const TypeDescriptor* td = Plain(OwnType(heap, cl));
    for (int32 k : {kDMKeyOperate, kDMKeyDefault}) {
      DMBeginProc(cl + k, kDMOpen, 0);
      int32 at = 0;
      for (int32 i = 0; td && td->code == kTDCluster && i < n; ++i) {
        int32 e = ObjListGet(heap, ObjWord(heap, cl, kPWClusterElements), i);
        const TypeDescriptor* et = td;
        int32 off = ObjDataOffset(&et, 0, i);
        if (!e || off < 0 || !DMHasProc(e + k)) continue;
        if (off != at) DMBuildInstr(kDMStep, off - at, off - at, 0);
        at = off;
        Call(e + k);
      }
      End();
    }
  }
  return 1;
}

int32 RefNumDataSpace(ObjHeap heap, int32 ref, int32 arg) {
  int32 inner = ObjWord(heap, ref, kPWRefNumContained);
  bool elems = Group(heap, ref, arg, 0, inner);
  int32 innerChanged = inner ? ODataSpace(heap, inner, arg) : 0;
  Source src = FindSource(heap, ref);
  if (src.mode == Mode::kCopy && !Compatible(src, heap, ThroughTypeDefs(heap, ref))) src.mode = Mode::kInPlace;
  if (!arg && !elems && !innerChanged) return 0;
  DMBeginProc(ref + kDMKeySetUp, kDMOpen, 0);
  if (elems) Call(ref + kDMKeyElements);
  if (innerChanged && DMHasProc(inner + kDMKeySetUp)) Call(inner + kDMKeySetUp);
  End();
  if (arg) {
    ValueProgram(ref + kDMKeyOperate, src, heap, ref, kDataPtrOperate);
    ValueProgram(ref + kDMKeyDefault, src, heap, ref, kDataPtrDefault);
  }
  return 1;
}

// ---- Arrays ------------------------------------------------------------------------------
int32 ArrayDims(const TypeDescriptor* td, const TypeDescriptor** elem) {
  td = Plain(td);
  if (!td || td->code != kTDArray) return 0;
  const uChar* a = reinterpret_cast<const uChar*>(td);
  int32 n = int16(GetNative16(a + 4));
  if (elem) *elem = reinterpret_cast<const TypeDescriptor*>(a + 6 + 4 * n);
  return n;
}

// The address of an object's data-space entry named by its data and
// descriptor words, when the two name the same entry of at least bytes.
UPtr DataAt(ObjHeap heap, int32 obj, int32 dataWord, int32 tdWord, int32 bytes) {
  int32 offset = ObjWord(heap, obj, dataWord);
  if (!offset || !PanelEntryTD(heap, offset, ObjWord(heap, obj, tdWord), bytes)) return nullptr;
  UHandle* ds = FPGetDataSpace(heap);
  if (!ds || !*ds || !**ds || int64(offset) + bytes > DSGetHandleSize(*ds)) return nullptr;
  return **ds + offset;
}

int32 ArrayDataSpace(ObjHeap heap, int32 arr, int32 arg) {
  int32 elem = ObjWord(heap, arr, kPWArrayElement);
  int32 elemChanged = elem ? ODataSpace(heap, elem, 1) : 0;
  bool elems = Group(heap, arr, arg, 0, elem);
  const TypeDescriptor* elemTD = nullptr;
  int32 n = ArrayDims(OwnType(heap, arr), &elemTD);
  Source src = FindSource(heap, arr);
  int32 srcArr = src.mode == Mode::kCopy ? ThroughTypeDefs(src.heap, src.obj) : 0;
  if (srcArr && ObjClass(src.heap, srcArr) != kClsArray) srcArr = 0;
  const TypeDescriptor* srcElem = nullptr;
  int32 m = srcArr ? ArrayDims(OwnType(src.heap, srcArr), &srcElem) : 0;
  if (n < 1) return 0;

  if (!elem) {
    SetUpCallingElements(arr, elems);
    for (int32 k : {kDMKeyOperate, kDMKeyDefault}) {
      DMBeginProc(arr + k, kDMOpen, 0);
      DMBuildInstr(kDMNewHandle, 4 * n, 0, 0);
      End();
    }
    return 1;
  }

  DMBeginProc(arr + kDMKeySetUp, kDMOpen, 0);
  if (elems) Call(arr + kDMKeyElements);
  UPtr own = DataAt(heap, arr, kPWArrayPrivate, kPWArrayPrivateTD, 12);
  UPtr from = srcArr ? DataAt(src.heap, srcArr, kPWArrayPrivate, kPWArrayPrivateTD, 12) : nullptr;
  if (own && from && (n == m || src.heap == heap)) {
    DMBuildInstr(kDMSetBoth, Ptr(from), Ptr(own), 0);
    bool topLevel = ObjWord(heap, arr, kPWOwner) == 0;
    for (int32 i = 0; i < 3; ++i) {
      if (n > m && topLevel) DMBuildInstr(kDMResizeHandle, 4 * n + 4, 0, 0);
      if (n == m) DMBuildInstr(kDMCopyBytes, 4, 4, 4 * n);
      else if (n < m) DMBuildInstr(kDMCopyBytes, 4 + 4 * (m - n), 4, 4 * n);
      else DMBuildInstr(kDMCopyBytes, 4, 4 + 4 * (n - m), 4 * m);
      DMBuildInstr(kDMStep, 4, 4, 0);
    }
    // S and D now at the element copies.
    int32 pad = AlignDatum(elemTD, ObjWord(heap, arr, kPWArrayPrivate) + 12) - (ObjWord(heap, arr, kPWArrayPrivate) + 12);
    int32 srcPad = AlignDatum(srcElem, ObjWord(src.heap, srcArr, kPWArrayPrivate) + 12) -
                   (ObjWord(src.heap, srcArr, kPWArrayPrivate) + 12);
    if (pad || srcPad) DMBuildInstr(kDMStep, srcPad, pad, 0);
    if (DMHasProc(elem + kDMKeyDefault)) Call(elem + kDMKeyDefault);
  } else if (from && n != m) {
    DBAssert(__FILE__, __LINE__, "Array: a change of dimensions from another heap");
  }
  if (elemChanged && DMHasProc(elem + kDMKeySetUp)) Call(elem + kDMKeySetUp);
  End();

  if (arg) {
    const TypeDescriptor* own1 = OwnType(heap, arr);
    for (int32 k : {kDMKeyOperate, kDMKeyDefault}) {
      DMBeginProc(arr + k, kDMOpen, 0);
      if (src.mode == Mode::kCopy && srcArr && SetSourceS(src, heap, k == kDMKeyOperate ? 2 : 1)) {
        if (n == m) {
          DMBuildInstr(kDMResize, Ptr(elemTD), n, 0);
          // Each element is copied (or converted) from the source's
          // element at S: the element control's own program reads its
          // source's shown element, one element only.
          DMBuildInstr(kDMLoop, n, Ptr(srcElem), Ptr(elemTD));
          if (SameData(srcElem, elemTD)) DMBuildInstr(kDMCopy, Ptr(elemTD), 0, 0);
          else DMBuildInstr(kDMConvert, Ptr(srcElem), Ptr(elemTD), 0);
          DMBuildInstr(kDMStep, AlignDatum(srcElem, DataSize(srcElem)), AlignDatum(elemTD, DataSize(elemTD)), 0);
          DMBuildInstr(kDMLoopEnd, 0, 0, 0);
        } else {
          DMBuildInstr(kDMCopyDims, Ptr(OwnType(src.heap, srcArr)), m, n);
        }
      } else if (src.mode == Mode::kInit && own1) {
        DMBuildInstr(kDMInit, Ptr(own1), 0, 0);
      }
      End();
    }
  }
  return 1;
}

// ---- Graphs --------------------------------------------------------------------------------
bool IsGraph(ObjHeap heap, int32 obj) { return obj && ObjClass(heap, obj) == kClsGraphChart; }
uInt16 GraphKind(ObjHeap heap, int32 g) { return GetNative16(*heap + g + kPanelGraphKindByte); }
// Charts are kinds 101 to 199; 201 is an XY graph without a history.
bool GraphIsChart(uInt16 kind) { return kind >= 101 && kind <= 199; }

// The descriptor of a data-space entry, from the descriptor offset word.
const TypeDescriptor* EntryTD(ObjHeap heap, int32 tdOffset) {
  UHandle vi = PanelHeapOwner(heap);
  UHandle map = vi && *vi ? VIRec(vi)->dsTypeMap : nullptr;
  if (!map || !*map || tdOffset <= 0 || tdOffset + 4 > DSGetHandleSize(map)) return nullptr;
  const TypeDescriptor* td = reinterpret_cast<const TypeDescriptor*>(*map + tdOffset);
  return tdOffset + td->size <= DSGetHandleSize(map) ? td : nullptr;
}

int32 GraphDataSpace(ObjHeap heap, int32 g, int32 arg) {
  bool elems = Group(heap, g, arg);
  Source src = FindSource(heap, g);
  int32 srcGraph = src.mode == Mode::kCopy ? ThroughTypeDefs(src.heap, src.obj) : 0;
  bool accepted = srcGraph && IsGraph(src.heap, srcGraph) && Compatible(src, heap, g);
  if (!arg && !elems && !accepted) return 0;
  DMBeginProc(g + kDMKeySetUp, kDMOpen, 0);
  if (elems) Call(g + kDMKeyElements);
  if (accepted) {
    const TypeDescriptor* state = EntryTD(heap, ObjWord(heap, g, kPWGraphState + 1));
    UPtr from = DataAt(src.heap, srcGraph, kPWGraphState, kPWGraphState + 1, state ? DataSize(state) : 0);
    UPtr to = DataAt(heap, g, kPWGraphState, kPWGraphState + 1, state ? DataSize(state) : 0);
    if (state && from && to) {
      DMBuildInstr(kDMSetBoth, Ptr(from), Ptr(to), 0);
      DMBuildInstr(kDMCopy, Ptr(state), 0, 0);
    }
    const TypeDescriptor* image = EntryTD(heap, ObjWord(heap, g, kPWGraphImage - 2));
    UPtr fromImg = image ? DataAt(src.heap, srcGraph, kPWGraphImage, kPWGraphImage - 2, DataSize(image)) : nullptr;
    UPtr toImg = image ? DataAt(heap, g, kPWGraphImage, kPWGraphImage - 2, DataSize(image)) : nullptr;
    if (fromImg && toImg) {
      DMBuildInstr(kDMSetBoth, Ptr(fromImg), Ptr(toImg), 0);
      DMBuildInstr(kDMCopy, Ptr(image), 0, 0);
    }
    if (GraphIsChart(GraphKind(heap, g)) && GraphIsChart(GraphKind(src.heap, srcGraph))) {
      const TypeDescriptor* h1 = EntryTD(src.heap, ObjWord(src.heap, srcGraph, kPWGraphHistory + 1));
      const TypeDescriptor* h2 = EntryTD(heap, ObjWord(heap, g, kPWGraphHistory + 1));
      UPtr fromH = h1 ? DataAt(src.heap, srcGraph, kPWGraphHistory, kPWGraphHistory + 1, DataSize(h1)) : nullptr;
      UPtr toH = h2 ? DataAt(heap, g, kPWGraphHistory, kPWGraphHistory + 1, DataSize(h2)) : nullptr;
      const TypeDescriptor* c1 = Plain(h1);
      if (fromH && toH && c1 && c1->code == kTDCluster && TDCompare(h1, h2) == 0 &&
          int16(GetNative16(reinterpret_cast<const uChar*>(c1) + 4)) >= 4) {
        DMBuildInstr(kDMSetBoth, Ptr(fromH), Ptr(toH), 0);
        for (int32 i = 0; i < 4; ++i) {
          const TypeDescriptor* e = ElemTD(c1, i);
          DMBuildInstr(kDMCopy, Ptr(e), 0, 0);
          DMBuildInstr(kDMStep, DataSize(e), DataSize(e), 0);
        }
      } else if (fromH && toH) {
        DBPrintf("StdGraphORealloc: history buf td changed, no copy");
      }
    }
  }
  End();
  if (arg) {
    if (!accepted && src.mode == Mode::kCopy) src.mode = Mode::kInPlace;
    ValueProgram(g + kDMKeyOperate, src, heap, g, kDataPtrOperate);
    ValueProgram(g + kDMKeyDefault, src, heap, g, kDataPtrDefault);
  }
  return 1;
}

// ---- Containers ------------------------------------------------------------------------
// With a source container, the operate data becomes the automation refnum
// of the embedded object's dispatch interface.
int32 ContainerDataSpace(ObjHeap heap, int32 c, int32 arg) {
  bool elems = Group(heap, c, arg);
  if (!arg && !elems) return 0;
  Source src = FindSource(heap, c);
  int32 from = src.mode == Mode::kCopy ? ThroughTypeDefs(src.heap, src.obj) : 0;
  bool container = from && ObjClass(src.heap, from) == kClsContainer;
  SetUpCallingElements(c, elems);
  if (arg) {
    if (container) {
      UHandle record = reinterpret_cast<UHandle>(uintptr_t(uInt32(ObjWord(heap, c, kPWContainerObject))));
      DMBeginProc(c + kDMKeyOperate, kDMOpen, 0);
      DMBuildInstr(kDMStoreWord, record ? PanelEmbUpdateDispatch(record) : 0, 0, 0);
      End();
    } else {
      ValueProgram(c + kDMKeyOperate, src, heap, c, kDataPtrOperate);
    }
    ValueProgram(c + kDMKeyDefault, src, heap, c, kDataPtrDefault);
  }
  return 1;
}

// ---- Scales, lists and tables ----------------------------------------------------------------
int32 ScaleDataSpace(ObjHeap heap, int32 scale, int32 arg) {
  bool elems = Group(heap, scale, arg);
  if (!arg && !elems) return 0;
  Source src = FindSource(heap, scale);
  DMBeginProc(scale + kDMKeySetUp, kDMOpen, 0);
  if (elems) Call(scale + kDMKeyElements);
  if (src.mode == Mode::kCopy && ObjClass(src.heap, src.obj) == kClsScale) {
    UPtr from = DataAt(src.heap, src.obj, kPWScaleData, kPWScaleData + 1, kScaleRangeBytes);
    UPtr to = DataAt(heap, scale, kPWScaleData, kPWScaleData + 1, kScaleRangeBytes);
    if (from && to) {
      DMBuildInstr(kDMSetBoth, Ptr(from), Ptr(to), 0);
      DMBuildInstr(kDMScaleRange, Ptr(heap), scale, 0);
    }
  }
  End();
  if (arg) {
    DMBeginProc(scale + kDMKeyOperate, kDMEmpty, 0);
    DMBeginProc(scale + kDMKeyDefault, kDMEmpty, 0);
  }
  return 1;
}

// A table's private entry: its state (laid out alike in every table), then
// the element part, copied when the two tables' elements are laid out alike
// (a table whose element type changed keeps its own).
void CopyTableEntry(const TypeDescriptor* from, const TypeDescriptor* to) {
  if (!from || !to || from->code != kTDCluster || to->code != kTDCluster ||
      int16(GetNative16(reinterpret_cast<const uChar*>(from) + 4)) < 2 ||
      int16(GetNative16(reinterpret_cast<const uChar*>(to) + 4)) < 2)
    return;
  const TypeDescriptor* state = ElemTD(to, 0);
  if (!SameData(ElemTD(from, 0), state)) return;
  DMBuildInstr(kDMCopy, Ptr(state), 0, 0);
  const TypeDescriptor* srcElem = from;
  const TypeDescriptor* elem = to;
  int32 so = ObjDataOffset(&srcElem, 0, 1), doff = ObjDataOffset(&elem, 0, 1);
  if (so < 0 || doff < 0 || !SameData(srcElem, elem)) return;
  DMBuildInstr(kDMStep, so, doff, 0);
  DMBuildInstr(kDMCopy, Ptr(elem), 0, 0);
}

int32 ListDataSpace(ObjHeap heap, int32 obj, int32 arg) {
  bool elems = Group(heap, obj, arg);
  Source src = FindSource(heap, obj);
  int32 from = src.mode == Mode::kCopy ? ThroughTypeDefs(src.heap, src.obj) : 0;
  if (from && ObjClass(src.heap, from) != ObjClass(heap, obj)) {
    DBAssert(__FILE__, __LINE__, "Listbox/Table: a source of another class");
    from = 0;
  }
  if (!arg && !elems && !from) return 0;
  DMBeginProc(obj + kDMKeySetUp, kDMOpen, 0);
  if (elems) Call(obj + kDMKeyElements);
  const TypeDescriptor* priv = EntryTD(heap, ObjWord(heap, obj, kPWTableData + 1));
  const TypeDescriptor* srcPriv = from ? EntryTD(src.heap, ObjWord(src.heap, from, kPWTableData + 1)) : nullptr;
  UPtr s = srcPriv ? DataAt(src.heap, from, kPWTableData, kPWTableData + 1, DataSize(srcPriv)) : nullptr;
  UPtr d = priv ? DataAt(heap, obj, kPWTableData, kPWTableData + 1, DataSize(priv)) : nullptr;
  if (s && d) {
    DMBuildInstr(kDMSetBoth, Ptr(s), Ptr(d), 0);
    if (ObjClass(heap, obj) == kClsTable)
      CopyTableEntry(Plain(srcPriv), Plain(priv));
    else if (SameData(srcPriv, priv))
      DMBuildInstr(kDMCopy, Ptr(priv), 0, 0);
  }
  End();
  if (arg) {
    if (!from && src.mode == Mode::kCopy) src.mode = Mode::kInPlace;
    ValueProgram(obj + kDMKeyOperate, src, heap, obj, kDataPtrOperate);
    ValueProgram(obj + kDMKeyDefault, src, heap, obj, kDataPtrDefault);
  }
  return 1;
}

// ---- The numeric family ------------------------------------------------------------------------
bool IsNumericFamily(int32 cls) {
  return cls == kClsNumeric || cls == kClsColorBox || cls == kClsRing || cls == kClsSlide || cls == kClsKnob ||
         cls == kClsColorRamp;
}

// The descriptor of one value and the number of values: a number, or a
// cluster of numbers.
const TypeDescriptor* ValueTD(const TypeDescriptor* td, int32* count) {
  td = Plain(td);
  *count = 0;
  if (!td) return nullptr;
  if (td->code == kTDCluster) {
    *count = int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4));
    return *count > 0 ? Plain(ElemTD(td, 0)) : nullptr;
  }
  *count = 1;
  return td;
}

int32 NumericDataSpace(ObjHeap heap, int32 num, int32 arg) {
  bool elems = Group(heap, num, arg);
  Source src = FindSource(heap, num);
  int32 from = src.mode == Mode::kCopy ? ThroughTypeDefs(src.heap, src.obj) : 0;
  bool accepted = from && IsNumericFamily(ObjClass(src.heap, from)) && Compatible(src, heap, num);
  if (src.mode == Mode::kCopy && !accepted) src.mode = Mode::kInPlace;
  if (!arg && !elems && !accepted) return 0;

  int32 nOwn = 0, nSrc = 0;
  const TypeDescriptor* own = ValueTD(OwnType(heap, num), &nOwn);
  const TypeDescriptor* srcV = accepted ? ValueTD(OwnType(src.heap, from), &nSrc) : nullptr;
  bool convert = accepted && own && srcV;
  if (convert) {
    uInt16 w = GetNative16(*heap + num + kNumFlagsByte);
    uInt16 sw = GetNative16(*src.heap + from + kNumFlagsByte);
    PutNative16(*heap + num + kNumFlagsByte, uInt16((w & ~kNumSourceBits) | (sw & kNumSourceBits)));
    // The per-value conversion.
    DMBeginProc(num + kDMKeyConvert, kDMOpen, 0);
    if (TDCompare(OwnType(src.heap, from), OwnType(heap, num)) & kTDDiffUnits) {
      QX_ASSERT(src.heap == heap && nOwn == nSrc);
      float64 o1 = 0, s1 = 1, o2 = 0, s2 = 1;
      if (GetObjUnits(heap, num, &o2, &s2, nullptr, nullptr) && GetObjUnits(src.heap, from, &o1, &s1, nullptr, nullptr) &&
          s2 != 0) {
        float64 scale = s1 / s2, offset = o1 * s1 / s2 - o2;
        if (scale != 1.0 || offset != 0.0)
          DMBuildConvInstr(kDMUnitInto, own->code, scale, offset);
        else
          DMBuildInstr(kDMCopy, Ptr(own), 0, 0);
      }
    } else {
      DMBuildInstr(kDMConvert, Ptr(srcV), Ptr(own), 0);
    }
    End();
  }

  DMBeginProc(num + kDMKeySetUp, kDMOpen, 0);
  if (elems) Call(num + kDMKeyElements);
  if (convert && OHWord(heap, kOHKind) == kPanelHeapKind) {
    int32 ownRange = ObjWord(heap, num, kPWNumRange);
    int32 srcRange = ObjWord(src.heap, from, kPWNumRange);
    UPtr d = ownRange ? DataAt(heap, num, kPWNumRange, kPWNumRange + 1, 3 * DataSize(own)) : nullptr;
    UPtr s = srcRange ? DataAt(src.heap, from, kPWNumRange, kPWNumRange + 1, 3 * DataSize(srcV)) : nullptr;
    if (s && d) {
      DMBuildInstr(kDMSetBoth, Ptr(s), Ptr(d), 0);
      for (int32 i = 0; i < 3; ++i) {
        if (i) DMBuildInstr(kDMStep, DataSize(srcV), DataSize(own), 0);
        Call(num + kDMKeyConvert);
      }
    }
  }
  End();
  if (arg) {
    for (int32 k : {kDMKeyOperate, kDMKeyDefault}) {
      if (!convert) {
        ValueProgram(num + k, src, heap, num, k == kDMKeyOperate ? kDataPtrOperate : kDataPtrDefault);
        continue;
      }
      DMBeginProc(num + k, kDMOpen, 0);
      if (SetSourceS(src, heap, k == kDMKeyOperate ? kDataPtrOperate : kDataPtrDefault)) {
        int32 n = nOwn < nSrc ? nOwn : nSrc;
        for (int32 i = 0; i < n; ++i) {
          if (i) DMBuildInstr(kDMStep, DataSize(srcV), DataSize(own), 0);
          Call(num + kDMKeyConvert);
        }
      }
      End();
    }
  }
  return 1;
}

typedef int32 (*DataSpaceMethod)(ObjHeap, int32, int32);

DataSpaceMethod DataSpaceFor(int32 cls) {
  switch (cls) {
    case kClsFrontPanel: return &FrontPanelDataSpace;
    case kClsFPDataController: return &DCODataSpace;
    case kClsGrouperObject: return &GrouperDataSpace;
    case kClsTypeDefinition: return &TypeDefDataSpace;
    case kClsGraphChart: return &GraphDataSpace;
    case kClsRefNum: return &RefNumDataSpace;
    case kClsContainer: return &ContainerDataSpace;
    case kClsCluster: return &ClusterDataSpace;
    case kClsListbox:
    case kClsTable: return &ListDataSpace;
    case kClsScale: return &ScaleDataSpace;
    case kClsArray: return &ArrayDataSpace;
    case kClsNumeric:
    case kClsColorBox:
    case kClsRing:
    case kClsSlide:
    case kClsKnob:
    case kClsColorRamp: return &NumericDataSpace;
    default: return &GenericDataSpace;
  }
}

uInt32 CategoryOfClass(int32 cls) { return ClassRecord(cls)->categoryB; }

}  // namespace

ObjMethodAddr ODataSpaceMethodFor(int32 cls) { return reinterpret_cast<ObjMethodAddr>(DataSpaceFor(cls)); }

int32 ODataSpace(ObjHeap heap, int32 object, int32 arg) {
  if (!heap || !*heap || !object) return 0;
  if (tDepth == 0) tMessages = 0;
  if (tDepth >= 256 || ++tMessages > kMaxMessages) {
    DBPrintf("ODataSpace: objects of 0x%lx nest too deep", long(object));
    return 0;
  }
  ++tDepth;
  int32 r = OSendMessage<int32>(kMsgODataSpace, heap, object, arg);
  --tDepth;
  return r;
}

void PanelInstallDataMgrHooks() {
  DataMgrHooks h{};
  h.oDataSpace = &ODataSpace;
  h.classCategory = &CategoryOfClass;
  SetDataMgrHooks(h);
}
