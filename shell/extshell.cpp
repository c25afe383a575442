#include "shell/extshell.h"

#include <atomic>
#include <cstring>

#include "engine/exec/rttable.h"
#include "engine/panelrec.h"
#include "engine/shellsvc.h"
#include "engine/typemgr.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/blockmove.h"
#include "mgsource/byteorder.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/objlist.h"
#include "mgsource/printf.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/textrec.h"
#include "shell/dialog.h"

namespace {

constexpr char kUnsupportedReply[] = "VI Server: Unsupported operation.";

int16 TDI16(const TypeDescriptor* td, int32 at) {
  int16 v;
  std::memcpy(&v, reinterpret_cast<const uChar*>(td) + at, sizeof v);
  return v;
}

UHandle HandleAt(const uChar* d) {
  UHandle h;
  std::memcpy(&h, d, sizeof h);
  return h;
}

// Counts one handle of the zone; a size the zone cannot give is reported.
void AddHandle(UHandle h, bool dataZone, int32* count, int32* bytes) {
  if (!h) return;
  const int32 size = dataZone ? DSGetHandleSize(h) : AZGetHandleSize(h);
  if (size < 0) {
    DBPrintf("CalcDSStats: Error from DSGetHandleSize(0x%lx)", long(uintptr_t(h)));
    return;
  }
  ++*count;
  *bytes += size;
}

void StatsWalk(const TypeDescriptor* td, const uChar* d, int32* count, int32* bytes, int32 depth) {
  if (depth > kTDMaxDepth) return;
  switch (td->code) {
    case kTDString:
    case kTDString33:
    case kTDString37:
      AddHandle(HandleAt(d), true, count, bytes);
      return;
    case kTDHandle:
    case kTDPath:
      AddHandle(HandleAt(d), false, count, bytes);
      return;
    case kTDArray: {
      UHandle h = HandleAt(d);
      if (!h) return;
      AddHandle(h, true, count, bytes);
      const int32 rank = TDI16(td, 4);
      const TypeDescriptor* elem =
          reinterpret_cast<const TypeDescriptor*>(reinterpret_cast<const uChar*>(td) + 6 + 4 * rank);
      if (DataShape(elem) == 0 || rank < 1) return;
      const int32 size = DSGetHandleSize(h);
      const int32 header = AlignDatum(elem, 4 * rank);
      if (size < header) return;
      int64 n = 1;
      for (int32 i = 0; i < rank; ++i) {
        int32 dim;
        std::memcpy(&dim, *h + 4 * i, sizeof dim);
        n = dim < 0 ? -1 : n * dim;
        if (n < 0 || n > INT32_MAX) return;
      }
      const int32 es = DataSize(elem);
      if (es <= 0 || n * es > size - header) return;  // the sizes claim more than the handle holds
      for (int64 i = 0; i < n; ++i) StatsWalk(elem, *h + header + i * es, count, bytes, depth + 1);
      return;
    }
    case kTDCluster: {
      int32 off = 0;
      for (int32 i = 0, n = TDI16(td, 4); i < n; ++i) {
        const TypeDescriptor* el = ElemTD(td, i);
        off = AlignDatum(el, off);
        StatsWalk(el, d + off, count, bytes, depth + 1);
        off += DataSize(el);
      }
      return;
    }
    case kTDUnion: {
      int16 sel;
      std::memcpy(&sel, d, sizeof sel);
      if (sel >= 0 && sel < TDI16(td, 4)) StatsWalk(ElemTD(td, sel), d, count, bytes, depth + 1);
      return;
    }
    case kTDTypedef:
      StatsWalk(SkipTypedefs(td), d, count, bytes, depth + 1);
      return;
    case kTDFunction:
      DBAssert(__FILE__, __LINE__, "CalcDSStats: a function type holds no data");
      return;
    default:
      return;
  }
}

std::atomic<StatusLineProc> gStatusLine{nullptr};
CPStrHandle gLastLines = nullptr;

// Entry index of list 316, else the compiled-in text.
void StatsText(int32 index, const char* fallback, PStr out) {
  if (RunTimeRsrcFile() && !RGetIndString(RunTimeRsrcFile(), out, kMemoryStatsListId, index) && out[0]) return;
  const size_t n = std::strlen(fallback);
  out[0] = uChar(n);
  std::memcpy(out + 1, fallback, n);
}

// Heaps from external code are looked into only when they are live
// front-panel heaps.
bool LivePanelHeap(ObjHeap heap) {
  ObjHeap live = OHFirstHeap();
  while (live && live != heap) live = OHNextHeap(live);
  return live && OHWord(heap, kOHKind) == kPanelHeapKind;
}

// Root word of a panel heap holding its control list.
constexpr int32 kRootControlListAt = 40, kControllerDisplayAt = 20;
constexpr int32 kLabelPartId = 16;

}  // namespace

MgErr CINOpenInstrument() { return kCapabilityErr; }
MgErr CINGetVIState() { return kCapabilityErr; }
MgErr Old30CINOpenInstrument() { return kCapabilityErr; }
MgErr BuildHistoryString() { return kCapabilityErr; }
MgErr InstallFDFilter() { return kCapabilityErr; }
// The table gives these names the first name's routine: they are the same
// routine under other names.
MgErr CINCloseInstrument() __attribute__((alias("InstallFDFilter")));
MgErr CINRunInstrument() __attribute__((alias("InstallFDFilter")));
MgErr Old30CINGetVIState() __attribute__((alias("BuildHistoryString")));

MgErr LocalVIServer(LocalVIServerRequest* request) {
  if (!request) return kCapabilityErr;
  request->result = 0;
  // The handle comes from external code: it is looked into only when the
  // data zone owns it and its count fits in it.
  LStrHandle reply = request->reply;
  if (!reply || DSCheckHandle(reply) != kNoErr) return kCapabilityErr;
  const int32 size = DSGetHandleSize(reinterpret_cast<UHandle>(reply));
  if (size < 4) return kCapabilityErr;
  int32 count;
  std::memcpy(&count, *reply, sizeof count);
  if (count < 0 || count > size - 4) return kCapabilityErr;
  const int32 add = int32(sizeof kUnsupportedReply - 1);
  if (count > INT32_MAX - 4 - add) return kCapabilityErr;
  if (DSSetHandleSize(reinterpret_cast<UHandle>(reply), 4 + count + add) != kNoErr) return kCapabilityErr;
  std::memcpy((*reply)->str + count, kUnsupportedReply, size_t(add));
  (*reply)->cnt = count + add;
  return kCapabilityErr;
}

void CalcDSStats(const TypeDescriptor* td, const void* data, int32* count, int32* bytes) {
  if (!td || !data || !count || !bytes) {
    DBAssert(__FILE__, __LINE__, "CalcDSStats without a descriptor, data or results");
    return;
  }
  StatsWalk(td, static_cast<const uChar*>(data), count, bytes, 0);
}

void SetStatusLineProc(StatusLineProc proc) { gStatusLine.store(proc); }
StatusLineProc StatusLineProcInUse() { return gStatusLine.load(); }
CPStrHandle MemoryStatsLastLines() { return gLastLines; }

MgErr MemoryStatsLines(uInt32 window) {
  MemStatsRecord az{}, ds{};
  AZMemStats(&az);
  DSMemStats(&ds);
  const long allocated = (long(az.allocTotal) + ds.allocTotal) / 1024;
  const long freeK = (long(az.freeTotal) + ds.freeTotal) / 1024;
  const long largest = (az.freeLargest > ds.freeLargest ? az.freeLargest : ds.freeLargest) / 1024;
  CPStrHandle lines = gLastLines ? gLastLines : reinterpret_cast<CPStrHandle>(AZNewHClr(4));
  if (!lines) {
    DBPrintf("Can't create handle for Memory Stats");
    return kMemFullErr;
  }
  gLastLines = lines;
  AZSetHandleSize(reinterpret_cast<UHandle>(lines), 4);
  (*lines)->cnt = 0;
  struct Line {
    int32 index;
    const char* text;
    long value;
    int32 line;
  };
  const Line kLines[] = {{2, "Memory Allocated: %ldK", allocated, 1},
                         {3, "Free Memory: %ldK", freeK, 2},
                         {4, "Largest Block: %ldK", largest, 4}};
  StatusLineProc draw = gStatusLine.load();
  for (const Line& l : kLines) {
    if (l.line != 1 && l.value == 0) continue;
    Str255 fmt, text;
    StatsText(l.index, l.text, fmt);
    PPrintfp(text, fmt, l.value);
    if (CPStrInsert(lines, text, (*lines)->cnt) != kNoErr) {
      DBPrintf("Can't create handle for Memory Stats");
      return kMemFullErr;
    }
    if (draw) draw(window, text, l.line, 0);
  }
  return kNoErr;
}

LStrHandle ObjGetLabelText(ObjHeap heap, int32 object) {
  const auto find = DlgServices().findPart;
  if (!heap || !object || !find || !LivePanelHeap(heap)) return nullptr;
  const int32 label = find(heap, object, kLabelPartId, 0);
  if (label <= 0 || OHBlockSize(heap, label) < 4 * (kPWLabelText + 1)) return nullptr;
  // Word 9 of a label part names its text record; the stored word is
  // checked before it is used.
  TRecord record = TCheckedRecord(OHWord(heap, uInt32(label + 4 * kPWLabelText)));
  if (!record || TIsBlank(record)) return nullptr;
  return reinterpret_cast<LStrHandle>(TGetText(record));
}

int32 PanelControlAt(ObjHeap heap, int32 index) {
  if (index < 0 || !LivePanelHeap(heap)) return 0;
  const int32 ext = int32(OHWord(heap, kOHExtension));
  if (ext <= 0 || OHBlockSize(heap, ext) < 4) return 0;
  const int32 root = int32(OHWord(heap, uInt32(ext + kHeapExtRoot)));
  if (root <= 0 || OHBlockSize(heap, root) < kRootControlListAt + 4) return 0;
  const int32 list = int32(OHWord(heap, uInt32(root + kRootControlListAt)));
  if (!list || index >= ObjListCount(heap, list)) return 0;
  const int32 ctl = ObjListGet(heap, list, index);
  return ctl > 0 && OHBlockSize(heap, ctl) >= kControllerDisplayAt + 4 ? ctl : -1;
}

LStrHandle PanelControlLabel(ObjHeap heap, int32 control) {
  if (!LivePanelHeap(heap) || control <= 0 || OHBlockSize(heap, control) < kControllerDisplayAt + 4) return nullptr;
  const int32 display = int32(OHWord(heap, uInt32(control + kControllerDisplayAt)));
  return ObjGetLabelText(heap, display ? display : control);
}

int32 FindCtlByLabel(ObjHeap heap, const LStr* label) {
  if (!label) return 0;
  for (int32 i = 0, ctl = 0; (ctl = PanelControlAt(heap, i)) != 0; ++i) {
    LStrHandle text = ctl > 0 ? PanelControlLabel(heap, ctl) : nullptr;
    if (text && LStrCmp(*text, label) == 0) return ctl;
  }
  return 0;
}

MgErr InvalidLoadLibraryAlert() {
  // The text is copied out at once: the handle belongs to the file's map.
  UHandle h = nullptr;
  if (MgErr err = RGetString(RunTimeRsrcFile(), kInvalidLibraryStrId, &h)) return err;
  const int32 size = h && *h ? AZGetHandleSize(h) : 0;
  if (size < 1) return kRsrcNotFoundErr;
  Str255 text;
  text[0] = uChar((*h)[0] < size ? (*h)[0] : size - 1);
  std::memcpy(text + 1, *h + 1, text[0]);
  return OneButtonAlert(kAlertPStr, text, nullptr, kAlertDefaultPos, kAlertDefaultPos);
}

MgErr QXRTRegisterExtShell() {
  static const QXRTEntry kEntries[] = {
      QX_RT_ENTRY(1075, Old30CINOpenInstrument),
      QX_RT_ENTRY(1076, InstallFDFilter),
      QX_RT_ENTRY(1077, InstallFDFilter),
      QX_RT_ENTRY(1078, BuildHistoryString),
      QX_RT_ENTRY(1082, LocalVIServer),
      QX_RT_ENTRY(1457, CINOpenInstrument),
      QX_RT_ENTRY(1458, CINGetVIState),
      QX_RT_ENTRY(1567, InstallFDFilter),
      QX_RT_ENTRY(1584, BuildHistoryString),
  };
  return QXRTRegister(kEntries, int32(sizeof kEntries / sizeof kEntries[0]));
}
