// The data manager's programs: building them during a pass, the table of
// the pass's programs, the pending data sources of copied objects, and the
// interpreter.
#include "engine/dmprog.h"

#include <cmath>
#include <cstring>

#include "engine/datamgr.h"
#include "engine/datasupp.h"
#include "engine/typemgr.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/hookset.h"
#include "mgsource/fourcc.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"

namespace {

const char kFile[] = "datamgr";

// The pass state, in this order.
struct PassState {
  int32 running;
  MgErr error;
  int32 instrCount;  // of the program being built
  UHandle building;  // the program being built, null when none
  UHandle mainProg;  // the main program of the pass
  DMProcTable procTable;
  int32 procCount;
  int32 buildingMain;
};
PassState gPass;
UHandle gPending = nullptr;

// ---- Hooks ------------------------------------------------------------------------------
int32 NoDataSpace(ObjHeap, int32, int32) { return 0; }
uInt32 NoCategory(int32) { return 0; }
MgErr NoParse(ObjHeap, int32, void*) { return kNoErr; }
MgErr NoScaleSet(ObjHeap, int32) { return kNoErr; }
MgErr NoPointer(ObjHeap, int32, int32, void*) { return kNoErr; }
DataMgrHooks gHooks{&NoDataSpace, &NoCategory, &NoParse, &NoScaleSet, &NoPointer};

// ---- The program table ----------------------------------------------------------------
DMProcEntry* Procs() { return reinterpret_cast<DMProcEntry*>(*gPass.procTable); }

// The last program under the key and how many there are.
UHandle FindProc(int32 key, int32* count) {
  *count = 0;
  UHandle found = nullptr;
  if (!gPass.procTable) return nullptr;
  for (int32 i = 0; i < gPass.procCount; ++i) {
    if (Procs()[i].key == key) {
      found = Procs()[i].program;
      ++*count;
    }
  }
  return found;
}

void DisposePrograms() {
  if (gPass.procTable) {
    for (int32 i = 0; i < gPass.procCount; ++i) AZDisposeHandle(Procs()[i].program);
    AZDisposeHandle(gPass.procTable);
  }
  if (gPass.mainProg) AZDisposeHandle(gPass.mainProg);
  std::memset(&gPass, 0, sizeof gPass);
}

// A new empty program, made the one being built.
bool StartProgram(int32 key, bool main) {
  if (!gPass.running) {
    DBAssert(kFile, __LINE__, "DMBeginProc: no pass is running");
    return false;
  }
  if (gPass.building) {
    DBAssert(kFile, __LINE__, "DMBeginProc: a program is being built already");
    return false;
  }
  if (main && gPass.mainProg) {
    DBAssert(kFile, __LINE__, "DMBeginMainProc: the pass has a main program already");
    return false;
  }
  if (gPass.error) return false;
  UHandle prog = AZNewHandle(0);
  if (!prog) {
    gPass.error = kMemFullErr;
    return false;
  }
  if (main) {
    gPass.mainProg = prog;
  } else {
    if (!gPass.procTable) {
      gPass.error = kMemFullErr;
      AZDisposeHandle(prog);
      return false;
    }
    int32 need = (gPass.procCount + 1) * int32(sizeof(DMProcEntry));
    if (AZGetHandleSize(gPass.procTable) < need && AZSetHandleSize(gPass.procTable, need + 32 * 8) != kNoErr) {
      gPass.error = kMemFullErr;
      AZDisposeHandle(prog);
      return false;
    }
    Procs()[gPass.procCount++] = DMProcEntry{key, prog};
  }
  gPass.building = prog;
  gPass.buildingMain = main;
  gPass.instrCount = 0;
  return true;
}

void BeginWithMode(int32 key, int32 mode, int32 arg, bool main) {
  if (!StartProgram(key, main)) return;
  switch (mode) {
    case kDMOpen: break;
    case kDMEmpty: DMBuildInstr(kDMEnd, 0, 0, 0); break;
    case kDMCopyProc:
      DMBuildInstr(kDMCopy, arg, 0, 0);
      DMBuildInstr(kDMEnd, 0, 0, 0);
      break;
    case kDMInitProc:
      DMBuildInstr(kDMInit, arg, 0, 0);
      DMBuildInstr(kDMEnd, 0, 0, 0);
      break;
    default: DBAssert(kFile, __LINE__, "DMBeginProc: unknown mode"); break;
  }
}

void Append(const DMInstr& in) {
  if (gPass.error) return;
  if (!gPass.building) {
    DBAssert(kFile, __LINE__, "DMBuildInstr: no program is being built");
    return;
  }
  int32 at = gPass.instrCount * int32(sizeof(DMInstr));
  if (AZSetHandleSize(gPass.building, at + int32(sizeof(DMInstr))) != kNoErr) {
    gPass.error = kMemFullErr;
    return;
  }
  std::memcpy(*gPass.building + at, &in, sizeof in);
  ++gPass.instrCount;
  if (in.kind != kDMEnd) return;
  // The end closes the program; the main program then runs.
  bool main = gPass.buildingMain;
  gPass.building = nullptr;
  gPass.buildingMain = 0;
  gPass.instrCount = 0;
  if (main && !gPass.error) {
    gPass.error = DMRunProgram(reinterpret_cast<const DMInstr*>(*gPass.mainProg), nullptr, nullptr);
  }
  if (main) {
    AZDisposeHandle(gPass.mainProg);
    gPass.mainProg = nullptr;
  }
}

// ---- The interpreter ------------------------------------------------------------------
UPtr P(int32 word) { return reinterpret_cast<UPtr>(uintptr_t(uInt32(word))); }
const TypeDescriptor* TD(int32 word) { return reinterpret_cast<const TypeDescriptor*>(P(word)); }
UHandle HandleAt(UPtr p) {
  UHandle h;
  std::memcpy(&h, p, sizeof h);
  return h;
}
void SetHandleAt(UPtr p, UHandle h) { std::memcpy(p, &h, sizeof h); }
// The pointer stored at the address, plus the offset; null when none is stored.
UPtr BaseAt(int32 address, int32 offset) {
  UPtr base = nullptr;
  if (address) std::memcpy(&base, P(address), sizeof base);
  return base ? base + offset : nullptr;
}

int32 ArrayCount(UHandle h, int32 dims) {
  if (!h || !*h) return 0;
  int32 sizes[64];
  for (int32 k = 0; k < dims; ++k) sizes[k] = int32(GetNative32(*h + 4 * k));
  return NArrayElts(dims, sizes);
}

// The element descriptor and dimension count of an array descriptor.
const TypeDescriptor* ArrayElem(const TypeDescriptor* atd, int32* dims) {
  const TypeDescriptor* a = SkipTypedefs(atd);
  if (a->code != kTDArray) return nullptr;
  const uChar* p = reinterpret_cast<const uChar*>(a);
  *dims = int16(GetNative16(p + 4));
  if (*dims < 1 || *dims > 64) return nullptr;
  return reinterpret_cast<const TypeDescriptor*>(p + 6 + 4 * *dims);
}

// Which pointers an instruction needs: 1 S, 2 D.
int32 Needs(int32 kind) {
  switch (kind) {
    case kDMCopy: case kDMStep: case kDMCopyBytes: case kDMCopyDims: case kDMResize: case kDMLoop:
    case kDMConvert: case kDMScaleRange: case kDMUnitInto: return 3;
    case kDMStepD: case kDMResizeHandle: case kDMInit: case kDMStoreWord: case kDMPointerValue:
    case kDMNewHandle: case kDMParseText: return 2;
    case kDMUnitInPlace: return 1;
    default: return 0;
  }
}

// Copies count bytes between two handles at offsets, inside both.
MgErr CopyHandleBytes(UPtr s, UPtr d, int32 srcOff, int32 dstOff, int32 count) {
  UHandle hs = HandleAt(s), hd = HandleAt(d);
  if (!hs || !*hs || !hd || !*hd || srcOff < 0 || dstOff < 0 || count < 0 ||
      int64(srcOff) + count > DSGetHandleSize(hs) || int64(dstOff) + count > DSGetHandleSize(hd)) {
    DBAssert(kFile, __LINE__, "DMRunProgram: byte copy outside its handles");
    return kNoErr;
  }
  std::memmove(*hd + dstOff, *hs + srcOff, size_t(count));
  return kNoErr;
}

// Kind 7: the destination is reshaped to the source's rank, the array is
// copied, and the result reshaped back.  On failure the destination's
// elements and handle are disposed, in whichever rank it was left.
MgErr CopyChangingDims(const TypeDescriptor* atd, int32 from, int32 to, UPtr s, UPtr d) {
  int32 dims = 0;
  const TypeDescriptor* elem = ArrayElem(atd, &dims);
  if (!elem || from < 1 || to < 1 || from > 64 || to > 64) {
    DBAssert(kFile, __LINE__, "DMRunProgram: kind 7 without an array descriptor");
    return kArgErr;
  }
  int32 rank = to;
  MgErr err = kNoErr;
  if (HandleAt(d)) {
    err = AdjustArrayDims(elem, HandleAt(d), to, from);
    if (!err) rank = from;
  }
  if (!err) {
    err = CopyData(atd, s, d);
    rank = from;
  }
  if (!err && HandleAt(d)) {
    err = AdjustArrayDims(elem, HandleAt(d), from, to);
    if (!err) rank = to;
  }
  if (!err) return kNoErr;
  UHandle dst = HandleAt(d);
  if (dst) {
    int32 n = *dst ? ArrayCount(dst, rank) : 0;
    int32 size = DataSize(elem);
    if (DataShape(elem) != 0) {
      for (int32 i = 0; i < n; ++i) {
        UPtr e = *dst + AlignDatum(elem, 4 * rank) + int64(i) * size;
        DisposeData(elem, e, e + size);
      }
    }
    DSDisposeHandle(dst);
    SetHandleAt(d, nullptr);
  }
  return err;
}

MgErr ResizeLike(const TypeDescriptor* elem, int32 dims, UPtr s, UPtr d) {
  if (dims < 1 || dims > 64 || !elem) {
    DBAssert(kFile, __LINE__, "DMRunProgram: kind 8 with a bad rank or descriptor");
    return kArgErr;
  }
  UHandle src = HandleAt(s);
  int32 sizes[64];
  for (int32 k = 0; k < dims; ++k) sizes[k] = src && *src ? int32(GetNative32(*src + 4 * k)) : 0;
  UHandle dst = HandleAt(d);
  int32* sz = sizes;
  MgErr err = ArrayResize(elem, dims, &dst, &sz);
  SetHandleAt(d, dst);
  return err;
}

}  // namespace

// ---- Interfaces ---------------------------------------------------------------------------

DataMgrHooks SetDataMgrHooks(const DataMgrHooks& hooks) {
  return SetGivenHooks(&gHooks, hooks,
                       &DataMgrHooks::oDataSpace, &DataMgrHooks::classCategory, &DataMgrHooks::parseTypedText,
                       &DataMgrHooks::scaleRangeSet, &DataMgrHooks::pointerValue);
}
const DataMgrHooks& GetDataMgrHooks() { return gHooks; }

Bool32 DMPassRunning() { return gPass.running; }
MgErr DMPassError() { return gPass.error; }
void DMSetPassError(MgErr err) {
  if (!gPass.error) gPass.error = err;
}

MgErr DataMgrRunForHeap(UHandle vi) {
  MgErr err = kNoErr;
  if (vi && *vi && !(VIRec(vi)->flags & kVIFlagNoDataMgr)) {
    ObjHeap heap = VIRec(vi)->panelHeap;
    int32 ext = heap && *heap ? int32(OHWord(heap, kOHExtension)) : 0;
    int32 root = ext > 0 ? int32(GetNative32(*heap + ext + kHeapExtRoot)) : 0;
    if (root) err = DataMgrRun(heap, root);
  }
  DMDisposePending();
  return err;
}

MgErr DataMgrRun(ObjHeap heap, int32 object) {
  if (gPass.running) {
    DBAssert(kFile, __LINE__, "DataMgrRun: a pass is running already");
    return kArgErr;
  }
  std::memset(&gPass, 0, sizeof gPass);
  gPass.running = 1;
  gPass.procTable = AZNewHandle(32 * int32(sizeof(DMProcEntry)));
  MgErr err = kMemFullErr;
  if (gPass.procTable) {
    // Climb to the data controller, the panel root or class 27.
    int32 at = object;
    for (int32 steps = 0; at && steps < 4096; ++steps) {
      if (OHBlockSize(heap, at) < 8) break;  // an owner word that names no object
      int32 cls = OHBlockClass(heap, at);
      if (gHooks.classCategory(cls) == FourCC("DCO ") || cls == 76 || cls == 27) {
        gHooks.oDataSpace(heap, at, 1);
        break;
      }
      at = int32(OHWord(heap, uInt32(at + 4)));
    }
    err = gPass.error;
  }
  if (gPass.building && !gPass.error) DBAssert(kFile, __LINE__, "DataMgrRun: a program was left open");
  DisposePrograms();
  return err;
}

MgErr AddDDODataProc(ObjHeap heap, int32 object, ObjHeap srcHeap, int32 srcObject, uInt32 flags) {
  UHandle vi = PanelHeapOwner(heap);
  if (vi && *vi) {
    uInt32 state = VIRec(vi)->eState & 0xF;
    if (state != 0 && state != 1) return kNoErr;
  }
  if (!gPending) {
    gPending = AZNewHClr(int32(sizeof(DMPendingHeader)) + kDMPendingGrowth * int32(sizeof(DMPendingEntry)));
    if (!gPending) {
      DMSetPassError(kMemFullErr);
      return kMemFullErr;
    }
    DMPendingHeader* h = reinterpret_cast<DMPendingHeader*>(*gPending);
    h->capacity = kDMPendingGrowth;
    h->vi = vi;
  }
  DMPendingHeader* h = reinterpret_cast<DMPendingHeader*>(*gPending);
  if (h->vi != vi) DBAssert(kFile, __LINE__, "AddDDODataProc: entries of two VIs");
  if (h->count >= h->capacity) {
    int32 cap = h->capacity + kDMPendingGrowth;
    if (AZSetHandleSize(gPending, int32(sizeof(DMPendingHeader)) + cap * int32(sizeof(DMPendingEntry))) != kNoErr) {
      DMSetPassError(kMemFullErr);
      DMDisposePending();
      return kMemFullErr;
    }
    h = reinterpret_cast<DMPendingHeader*>(*gPending);
    h->capacity = cap;
  }
  DMPendingEntry* e = reinterpret_cast<DMPendingEntry*>(*gPending + sizeof(DMPendingHeader)) + h->count++;
  *e = DMPendingEntry{heap, object, srcHeap, srcObject, flags};
  return kNoErr;
}

Bool32 DMFindDataProc(ObjHeap heap, int32 object, ObjHeap* srcHeap, int32* srcObject, int32* reserved,
                      uInt32* flags) {
  if (gPending) {
    const DMPendingHeader* h = reinterpret_cast<const DMPendingHeader*>(*gPending);
    const DMPendingEntry* e = reinterpret_cast<const DMPendingEntry*>(*gPending + sizeof(DMPendingHeader));
    for (int32 i = h->count - 1; i >= 0; --i) {
      if (e[i].heap != heap || e[i].object != object) continue;
      if (e[i].flags & kDMPendNoSource) break;
      if (srcHeap) *srcHeap = e[i].srcHeap;
      if (srcObject) *srcObject = e[i].srcObject;
      if (reserved) *reserved = 0;
      if (flags) *flags = e[i].flags & ~kDMPendUnload;
      return true;
    }
  }
  if (flags) *flags = kDMPendNotFound;
  return false;
}

void DMDisposePending() {
  if (!gPending) return;
  const DMPendingHeader* h = reinterpret_cast<const DMPendingHeader*>(*gPending);
  const DMPendingEntry* e = reinterpret_cast<const DMPendingEntry*>(*gPending + sizeof(DMPendingHeader));
  // Source heaps loaded for the copy are unloaded once, however many entries name them.
  for (int32 i = 0; i < h->count; ++i) {
    if (!(e[i].flags & kDMPendUnload) || !e[i].srcHeap) continue;
    bool seen = false;
    for (int32 j = 0; j < i && !seen; ++j) seen = (e[j].flags & kDMPendUnload) && e[j].srcHeap == e[i].srcHeap;
    if (!seen) OHDisposeHeap(e[i].srcHeap);
  }
  AZDisposeHandle(gPending);
  gPending = nullptr;
}

UHandle DMPendingTable() { return gPending; }

void DMBeginProc(int32 key, int32 mode, int32 arg) { BeginWithMode(key, mode, arg, false); }
void DMBeginMainProc(int32 key, int32 mode, int32 arg) { BeginWithMode(key, mode, arg, true); }

void DMBuildInstr(int32 kind, int32 a, int32 b, int32 c) {
  if (gPass.error) return;
  DMInstr in{kind, a, b, c, 0.0, 0.0};
  if (kind == kDMStep && a == 0) in = DMInstr{kDMStepD, b, b, c, 0.0, 0.0};
  if (kind == kDMCall) {
    int32 count = 0;
    UHandle prog = FindProc(a, &count);
    if (count > 1) DBPrintf("Multiple procs for ddo 0x%x", a);
    if (!prog) {
      DBAssert(kFile, __LINE__, "DMBuildInstr: no program under the key");
      in.kind = kDMNop;
    } else {
      in.a = int32(uInt32(uintptr_t(prog)));
    }
  }
  Append(in);
}

void DMBuildConvInstr(int32 kind, int32 a, float64 scale, float64 offset) {
  if (gPass.error) return;
  Append(DMInstr{kind, a, 0, 0, scale, offset});
}

Bool32 DMHasProc(int32 key) {
  int32 count = 0;
  return FindProc(key, &count) != nullptr;
}

MgErr DMRunProgram(const DMInstr* program, UPtr s, UPtr d) {
  if (!program) return kNoErr;
  const DMInstr* loopStart = nullptr;
  int32 remaining = 0;
  for (const DMInstr* in = program;; ++in) {
    int32 need = Needs(in->kind);
    if (((need & 1) && !s) || ((need & 2) && !d)) {
      DBAssert(kFile, __LINE__, (need & 1) && !s ? "DMRunProgram: no source" : "DMRunProgram: no destination");
      continue;
    }
    MgErr err = kNoErr;
    switch (in->kind) {
      case kDMNop:
      case kDMTrace: break;
      case kDMPrint: DBPrintf(reinterpret_cast<const char*>(P(in->a)), in->c); break;
      case kDMSetSBase: s = BaseAt(in->a, in->b); break;
      case kDMSetDBase: d = BaseAt(in->a, in->b); break;
      case kDMCopy: err = CopyData(TD(in->a), s, d); break;
      case kDMCall:
        err = DMRunProgram(reinterpret_cast<const DMInstr*>(*reinterpret_cast<UHandle>(P(in->a))), s, d);
        break;
      case kDMStep:
        s += in->a;
        d += in->b;
        break;
      case kDMStepD: d += in->a; break;
      case kDMCopyBytes: err = CopyHandleBytes(s, d, in->a, in->b, in->c); break;
      case kDMCopyDims: err = CopyChangingDims(TD(in->a), in->b, in->c, s, d); break;
      case kDMResize: err = ResizeLike(TD(in->a), in->b, s, d); break;
      case kDMLoop: {
        const TypeDescriptor* se = TD(in->b);
        const TypeDescriptor* de = TD(in->c);
        int32 dims = in->a;
        UHandle hs = HandleAt(s), hd = HandleAt(d);
        int32 n = dims >= 1 && dims <= 64 ? ArrayCount(hs, dims) : -1;
        if (n <= 0) return n < 0 ? kArgErr : kNoErr;
        if (!hd || !*hd || ArrayCount(hd, dims) < n) {
          DBAssert(kFile, __LINE__, "DMRunProgram: loop into an array too small");
          return kArgErr;
        }
        s = *hs + AlignDatum(se, 4 * dims);
        d = *hd + AlignDatum(de, 4 * dims);
        remaining = n;
        loopStart = in;
        break;
      }
      case kDMLoopEnd:
        if ((in + 1)->kind != kDMEnd) DBAssert(kFile, __LINE__, "DMRunProgram: the loop end is not followed by the end");
        if (loopStart && --remaining > 0) in = loopStart;
        break;
      case kDMConvert: err = CopyConvertData(TD(in->a), TD(in->b), s, d); break;
      case kDMParseText: err = gHooks.parseTypedText(reinterpret_cast<ObjHeap>(P(in->a)), in->b, d); break;
      case kDMEnd: return kNoErr;
      case kDMInit:
        // What D held is released first: the empty value replaces it.
        DisposeData(TD(in->a), d, d + DataSize(TD(in->a)));
        err = InitEmptyData(TD(in->a), d);
        break;
      case kDMSetFromOffset: {
        int32 off;
        std::memcpy(&off, P(in->a), 4);
        s = P(in->b) + off;
        d = P(in->c) + off;
        break;
      }
      case kDMUnitInPlace: DMUnitConvertValue(s, 0, s, in->a, in->scale, in->offset); break;
      case kDMUnitInto: DMUnitConvertValue(s, 1, d, in->a, in->scale, in->offset); break;
      case kDMClearS: s = nullptr; break;
      case kDMResizeHandle: {
        UHandle h = HandleAt(d);
        if (in->a < 0) {
          err = kArgErr;
          break;
        }
        if (!h) {
          h = DSNewHClr(in->a);
          if (!h) err = kMemFullErr;
          SetHandleAt(d, h);
          break;
        }
        int32 old = DSGetHandleSize(h);
        err = DSSetHandleSize(h, in->a);
        if (!err && in->a > old) std::memset(*h + old, 0, size_t(in->a - old));
        break;
      }
      case kDMSetBoth:
        if (!in->a || !in->b) {
          DBAssert(kFile, __LINE__, "DMRunProgram: kind 22 with a null pointer");
          break;
        }
        s = P(in->a);
        d = P(in->b);
        break;
      case kDMStoreWord: PutNative32(d, uInt32(in->a)); break;
      case kDMScaleRange:
        std::memmove(d, s, kScaleRangeBytes);
        err = gHooks.scaleRangeSet(reinterpret_cast<ObjHeap>(P(in->a)), in->b);
        break;
      case kDMPointerValue: err = gHooks.pointerValue(reinterpret_cast<ObjHeap>(P(in->a)), in->b, in->c, d); break;
      case kDMNewHandle:
        if (!HandleAt(d)) {
          UHandle h = DSNewHClr(in->a < 0 ? 0 : in->a);
          if (!h) err = kMemFullErr;
          SetHandleAt(d, h);
        }
        break;
      default:
        DBAssert(kFile, __LINE__, "DMRunProgram: unknown instruction");
        break;
    }
    if (err) return err;
  }
}

void DMUnitConvertValue(const void* src, int32 mode, void* dst, int32 code, float64 scale, float64 offset) {
  void* out = mode ? dst : const_cast<void*>(src);
  code &= ~0x10;
  if (code < kTDI8 || code > kTDCXT || !src || !out) {
    DBAssert(kFile, __LINE__, "unit conversion of a type that is no number");
    return;
  }
  if (code >= kTDCSG) {
    float64 v[2];
    ConvertNum(code, src, kTDCDB, v);
    v[0] = v[0] * scale + offset;
    v[1] = v[1] * scale + offset;
    ConvertNum(kTDCDB, v, code, out);
  } else {
    float64 v;
    ConvertNum(code, src, kTDDBL, &v);
    v = v * scale + offset;
    ConvertNum(kTDDBL, &v, code, out);
  }
}
