// Graph, chart, intensity graph, intensity chart and cursor properties with
// any selector, any value descriptor and any value bytes, on a graph of any
// of the type codes whose scales, plots, colour scale and history are set
// up: nothing is written outside the value, the reply holds only the bits
// the property functions give, arrays read back are as long as their
// handles, and nothing is asserted on.
#include <cstdint>
#include <cstring>
#include <vector>

#include "null_draw_port.h"
#include "controls/chartupdate.h"
#include "controls/graph.h"
#include "controls/graphattr.h"
#include "controls/graphintensity.h"
#include "controls/scale.h"
#include "controls/scaleobj.h"
#include "engine/dsalloc.h"
#include "engine/panelrec.h"
#include "fuzz_support.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/memory.h"
#include "panel/attrcall.h"
#include "panel_fuzz_support.h"

namespace {

using Input = FuzzReader;

constexpr uInt32 kReplyBits = 0x10 | 0x80 | 0x100 | 0x200 | 0x10000 | 0x20000;


int32 Part(ObjHeap heap, int32 cls, int32 owner, int16 id, int16 order = 0) {
  return vib::NewObject(heap, cls, ClassRecord(cls)->instanceSize, owner, id, order);
}

std::vector<uChar> AnyType(Input& in) {
  const tdb::TD cursor = tdb::Cluster({tdb::String(), tdb::U32(), tdb::U8(), tdb::U8(), tdb::Boolean(), tdb::Boolean(),
                                       tdb::U32(), tdb::U32(), tdb::I32(), tdb::Cluster({tdb::DBL(), tdb::DBL()})});
  switch (in.Byte() % 12) {
    case 10: return cursor.Bytes();
    case 11: return tdb::Array(cursor).Bytes();
    case 0: return tdb::Boolean().Bytes();
    case 1: return tdb::DBL().Bytes();
    case 2: return tdb::I16().Bytes();
    case 3: return tdb::String().Bytes();
    case 4: return tdb::Cluster({tdb::U32(), tdb::U8(), tdb::U8(), tdb::U8(), tdb::U32(), tdb::U8()}).Bytes();
    case 5: return tdb::Array(tdb::U32()).Bytes();
    case 6: return tdb::Array(tdb::Cluster({tdb::DBL(), tdb::U32()})).Bytes();
    case 7: return tdb::Array(tdb::DBL(), {kTDVariable, kTDVariable}).Bytes();
    case 8:
      return tdb::Cluster({tdb::U8(), tdb::Cluster({tdb::DBL(), tdb::DBL()}), tdb::U8(),
                           tdb::Cluster({tdb::U8(), tdb::U8()}), tdb::Cluster({tdb::DBL(), tdb::DBL(), tdb::DBL()}),
                           tdb::Boolean(), tdb::U8(), tdb::Boolean()})
          .Bytes();
    default: return tdb::Array(tdb::DBL()).Bytes();
  }
}

void Run(Input& in) {
  UHandle vi = nullptr;
  ObjHeap heap = FuzzNewRegisteredPanel(&vi);
  if (!heap) return;
  static const int16 kTypes[] = {0, 1, 2, 3, 4, 101, 102, 103, 104, 106, 201};
  const int16 type = kTypes[in.Byte() % 11];
  const int32 graph = Part(heap, kClsGraphChart, 0, 0);
  if (graph) {
    PutNative16(*heap + graph + kPanelGraphKindByte, uInt16(type));
    const int32 area = Part(heap, kClsCosmetic, graph, kGPartPlotArea);
    const int32 xs = Part(heap, kClsScale, graph, kGPartXScale);
    const int32 ys = Part(heap, kClsScale, graph, kGPartYScale);
    const int32 zs = Part(heap, kClsScale, graph, kGPartZScale);
    Part(heap, kClsCosmetic, graph, kGPartPlotLegend);
    std::vector<uChar> valueTD = (IsIntensityType(type) ? tdb::Array(tdb::DBL(), {kTDVariable, kTDVariable})
                                                        : IsChartType(type) ? tdb::DBL()
                                                                            : tdb::Array(tdb::DBL()))
                                     .Bytes();
    std::vector<uChar> historyTD = tdb::Cluster({tdb::I32(), tdb::I32(), tdb::I32(), tdb::Handle()}).Bytes();
    const TypeID t = NewTypeIDForTD(heap, tdb::AsTD(valueTD));
    const TypeID h = NewTypeIDForTD(heap, tdb::AsTD(historyTD));
    if (area && xs && ys && zs && t && h) {
      OHSetWord(heap, uInt32(graph + 4 * kPWDDOTypeId), t);
      if (IsChartType(type)) OHSetWord(heap, uInt32(graph + 4 * kGraphChartTypeWord), h);
      OHSetWord(heap, uInt32(graph), in.Word() & 0x801F0000);
      const MgErr alloc = AllocObjDataSpace(heap, graph);
      if (DSAllocCurrentState()->active) AllocEndPass();
      bool ready = alloc == kNoErr && GraphDataOf(heap, graph);
      for (int32 s : {xs, ys, zs}) {
        ScaleRec* r = ready ? ScaleRecOf(heap, s) : nullptr;
        if (!r) {
          ready = false;
          break;
        }
        r->min = 0;
        r->max = 10;
        r->increment = 1;
        r->multiplier = 1;
        r->pixelStart = 0;
        r->pixelEnd = 100;
        if (s == zs && ScaleResizeMarkers(r, 2) == kNoErr) {
          r = ScaleRecOf(heap, s);
          std::memset(*r->markers + 4, 0, 24);
        }
      }
      if (ready && IsIntensityType(type)) ready = BuildColorTable(heap, graph) == 0;
      if (ready) ready = ResizePlotList(heap, graph, in.Byte() % 4, 0, 0) == kNoErr;
      if (ready && IsChartType(type)) {
        ChartHistory* rec = ChartRecordOf(heap, graph);
        UHandle buf = rec ? DSNewHClr(8 + 8 * 8) : nullptr;
        if (buf) {
          PutNative32(*buf, 8);
          PutNative32(*buf + 4, 1);
          rec->buffer = buf;
        }
        ready = buf != nullptr;
      }
      for (int32 calls = 0; ready && calls < 6 && in.n; ++calls) {
        const std::vector<uChar> td = AnyType(in);
        UHandle types = DSNewHandle(int32(td.size()));
        if (!types) break;
        std::memcpy(*types, td.data(), td.size());
        const TypeDescriptor* d = reinterpret_cast<const TypeDescriptor*>(*types);
        const int32 size = DataSize(d);
        FuzzGuardedValue guarded(size, 0x5A);
        uChar* value = guarded.Value();
        in.Bytes(value, size_t(size));
        // Handles in the value: none, or one of the input's bytes whose
        // counts hold or (now and then) overrun the handle.
        UHandle given = nullptr;
        bool consistent = true;
        const bool isArray = d->code == kTDArray, isString = d->code == kTDString;
        const int32 dims = isArray ? int16(GetNative16(*types + 4)) : 1;
        if (isArray || isString) {
          const uChar* p = *types + 6 + 4 * dims;
          const int32 elem = isArray ? DataSize(reinterpret_cast<const TypeDescriptor*>(p)) : 1;
          int32 counts[2] = {in.Byte() % 40, dims == 2 ? in.Byte() % 40 : 1};
          int32 n = counts[0] * counts[1];
          consistent = in.Byte() >= 64;
          const int32 bytes = consistent ? n * elem : in.Byte() % 64;
          given = in.Byte() & 1 ? DSNewHClr(4 * dims + bytes) : nullptr;
          if (given) {
            for (int32 k = 0; k < dims; ++k) PutNative32(*given + 4 * k, uInt32(counts[k]));
            in.Bytes(*given + 4 * dims, size_t(bytes));
          }
          std::memcpy(value, &given, sizeof given);
        }
        // A cursor cluster's name cell: none, or a string of the input's bytes.
        const bool cursorCluster = d->code == kTDCluster && size > 8 && *(*types + 8) == kTDString;
        UHandle name = nullptr;
        if (cursorCluster) {
          const uChar n = in.Byte() % 16;
          name = in.Byte() & 1 ? DSNewHClr(4 + n) : nullptr;
          if (name) {
            PutNative32(*name, n);
            in.Bytes(*name + 4, n);
          }
          std::memcpy(value, &name, sizeof name);
        }
        AttrCallRec rec{};
        rec.types = types;
        rec.read = in.Byte() & 1;
        rec.last = in.Byte() & 1;
        rec.selector = in.Byte() & 0x80 ? int32(in.Word() & 0x7FFFFFFF) : 12 + in.Byte() % 72;
        rec.value = value;
        rec.words[0] = in.Byte() & 1;
        auto method =
            reinterpret_cast<int32 (*)(ObjHeap, int32, AttrCallRec*, int32)>(OCtrlOpMethodFor(kClsGraphChart));
        // The cursor list's selector: after the sets before the cursor set.
        int32 tables[3] = {}, counts[3] = {}, listSelector = -1;
        for (int32 k = 0, base = 12, nt = AttrChainOf(heap, graph, tables, counts); k < nt; base += counts[k++])
          if (tables[k] == 16) listSelector = base + 14;
        const bool listRead = rec.selector == listSelector;
        DInstallTestPort(FuzzNullDrawPort());
        FuzzArmed() = true;
        const int32 reply = method(heap, graph, &rec, 1);
        FuzzArmed() = false;
        DInstallTestPort(nullptr);
        FUZZ_CHECK((uInt32(reply) & ~kReplyBits) == 0);
        FUZZ_CHECK(guarded.Intact());
        if (cursorCluster) {
          UHandle now;
          std::memcpy(&now, value, sizeof now);
          if (now && now != name) {
            FUZZ_CHECK(DSCheckHandle(now) == kNoErr && int32(GetNative32(*now)) + 4 <= DSGetHandleSize(now));
            DSDisposeHandle(now);
          }
          if (name) DSDisposeHandle(name);
          DSDisposeHandle(types);
          continue;
        }
        UHandle after;
        std::memcpy(&after, value, sizeof after);
        if ((isArray || isString) && after) {
          FUZZ_CHECK(DSCheckHandle(after) == kNoErr);
          if (isArray && dims == 1 && rec.read && (consistent || after != given)) {
            const int32 n = int32(GetNative32(*after));
            FUZZ_CHECK(n >= 0 && 4 + int64(n) * 4 <= DSGetHandleSize(after));
            // A cursor list read back: each name its own string, freed here.
            const uChar* elTD = *types + 10;
            if (listRead && elTD[2] == kTDCluster && elTD[8] == kTDString) {
              const auto* el = reinterpret_cast<const TypeDescriptor*>(elTD);
              const int32 at = AlignDatum(el, 4), es = DataSize(el);
              // A list the reader made holds its records; a given one may
              // have been left as it was (its size ignores the alignment).
              if (after != given) FUZZ_CHECK(at + int64(n) * es <= DSGetHandleSize(after));
              const int32 fit = es > 0 ? (DSGetHandleSize(after) - at) / es : 0;
              for (int32 k = 0; k < n && k < fit; ++k) {
                UHandle s;
                std::memcpy(&s, *after + at + k * es, sizeof s);
                if (s && DSCheckHandle(s) == kNoErr) DSDisposeHandle(s);
              }
            }
          }
          DSDisposeHandle(after);
        }
        if (given && given != after) DSDisposeHandle(given);
        DSDisposeHandle(types);
      }
    }
  }
  FuzzDisposePanel(heap, vi);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool init = [] {
    PanelInstallEngineHooks();
    MemSetDataSpaceInitHook(&AZPAllocInit);
    ControlsInstallGraphAttr();
    if (!FuzzStartManagers(FuzzAbortWhenArmed) || TypeHeapInit() != kNoErr) return false;
    DInitDraw();
    return true;
  }();
  if (!init || size > 4096) return 0;
  Input in{data, size};
  Run(in);
  return 0;
}
