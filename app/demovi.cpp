#include "app/demovi.h"

#include <cstddef>
#include <cstring>
#include <vector>

#include "engine/dsalloc.h"
#include "engine/vi/objload.h"
#include "engine/exec/codeentry.h"
#include "engine/exec/dsprocs.h"
#include "engine/exec/execrec.h"
#include "engine/exec/panelplace.h"
#include "engine/objswap.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/archive_format.h"
#include "engine/vi/virecord.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/fourcc.h"
#include "mgsource/memory.h"
#include "mgsource/objheap.h"
#include "mgsource/objlist.h"
#include "mgsource/path.h"
#include "panel/oinit.h"
#include "rtlib/chartdata.h"
#include "mgsource/window/textrec.h"
#include "panel/objload.h"
#include "panel/numoperate.h"
#include "panel/objects.h"
#include "tools/appbuild.h"
#include "tools/i386emit.h"
#include "tools/panelwriter.h"
#include "tools/runvi.h"
#include "tools/vibuilder.h"
#include "tools/vifile.h"
#include "tools/vilibrary.h"

namespace demo {
namespace {

using emit::EAX;
using emit::EBP;
using emit::ECX;
using emit::EDX;
using emit::ESI;
using emit::ESP;

// Run-time table entries the code uses.
constexpr int32 kRTWriteTransfer = 776, kRTReadTransfer = 1629, kRTSubVIFinish = 784;
// The bytes of a data controller.
constexpr int32 kDCOSize = 40;

// The slot of the procedure that resets the panel's values or makes them
// the defaults.
constexpr int32 kDSProcPanelValues = 17;

int32 Slot(int32 n) { return int32(offsetof(DataSpaceHeader, procs)) + 4 * (n - kDSProcFirst); }

// Calls the run-time function at the table index through the table's
// address, a patched word, so that nothing but the table names it.
void CallThroughTable(emit::Code& c, int32 index) {
  c.MovRegPatched(ECX, kPatchRTTable);
  c.CallMem(ECX, 4 * index);
}

// Pushes the address of the data-space word at offset.
void PushAddress(emit::Code& c, int32 offset) {
  c.MovRegReg(EAX, EBP);
  c.AddRegImm(EAX, offset);
  c.PushReg(EAX);
}

// One transfer call (read or write) of the control at index, with value the
// data-space word it reads into or writes from; mode as the call takes it.
void Transfer(emit::Code& c, int32 routine, int32 index, int32 record, int32 value, int32 mode) {
  c.PushImm(uint32_t(mode));
  c.PushImm(1);  // flat
  c.PushImm(4);  // bytes of a copy
  PushAddress(c, value);
  PushAddress(c, record + kCopies);
  PushAddress(c, record);
  c.PushImm(uint32_t(index));
  c.PushMem(EBP, int32(offsetof(DataSpaceHeader, self)));
  CallThroughTable(c, routine);
  c.AddRegImm(ESP, 32);
}

// The compiled code: the initialisation (cdecl, data space and mode) fills
// the normal procedures and the panel values' procedure, points the header
// at the flag record, the run element and the transfer table (the transfer
// mode 1: the diagram's writes are kept, with execution threads too), and
// makes the clump the top-level code, keeping the completion address.  The clump reads x,
// writes y = 2 * x + 2 and ends the run through the finish step.
std::vector<uint8_t> DemoCode() {
  emit::Code c;
  auto clump = c.NewLabel(), none = c.NewLabel(), finish = c.NewLabel(), values = c.NewLabel(),
       toDefault = c.NewLabel();
  c.SetEntry();
  runvi::EmitInitHead(&c, kFlag, kRunElement);
  c.MovMemReg(EDX, int32(offsetof(DataSpaceHeader, entrance) + offsetof(VIEntranceRec, ownElement) +
                         offsetof(QueueElement, dataSpace)),
              EBP);
  // The transfer mode word and the half word after it.
  c.MovMemImm(EDX, int32(offsetof(DataSpaceHeader, transferMode)), 1);
  c.MovMemImm(EDX, int32(offsetof(DataSpaceHeader, dcoCount)), 2);
  c.MovMemImm(EDX, int32(offsetof(DataSpaceHeader, dcoTableOffset)), uint32_t(kTable));
  c.MovRegReg(EBP, EDX);
  c.LoadLabelAddress(ECX, clump);
  c.MovRegMem(EDX, EBP, Slot(kDSProcTopCode));
  c.MovMemReg(EBP, kFinish, EDX);
  c.MovMemReg(EBP, Slot(kDSProcTopCode), ECX);
  c.LoadLabelAddress(ECX, none);
  c.MovMemReg(EBP, Slot(kDSProcInitDCOs), ECX);
  c.LoadLabelAddress(ECX, values);
  c.MovMemReg(EBP, Slot(kDSProcPanelValues), ECX);
  c.PopReg(EBP);
  c.XorRegReg(EAX, EAX);
  c.Ret();
  c.Bind(none);
  c.XorRegReg(EAX, EAX);
  c.Ret();

  // The panel values' procedure (cdecl, data space and flag): flag 0 puts
  // each control's default copy into its operate copy (reinitialise), any
  // other the operate copy into the default (make current values default).
  c.Bind(values);
  c.MovRegMem(EAX, ESP, 4);
  c.MovRegMem(EAX, EAX, 0);
  c.MovRegMem(EDX, ESP, 8);
  c.TestRegReg(EDX, EDX);
  c.Jcc(emit::kNZ, toDefault);
  for (int32 record : {kRecX, kRecY}) {
    c.MovRegMem(ECX, EAX, record + kCopies + 4);
    c.MovMemReg(EAX, record + kCopies, ECX);
  }
  c.XorRegReg(EAX, EAX);
  c.Ret();
  c.Bind(toDefault);
  for (int32 record : {kRecX, kRecY}) {
    c.MovRegMem(ECX, EAX, record + kCopies);
    c.MovMemReg(EAX, record + kCopies + 4, ECX);
  }
  c.XorRegReg(EAX, EAX);
  c.Ret();

  c.Bind(clump);
  c.MovRegReg(ESI, EAX);
  Transfer(c, kRTReadTransfer, 0, kRecX, kValueX, 2);  // 2: the value whatever its flags
  c.MovRegMem(EAX, EBP, kValueX);
  c.Byte(0x01);  // add eax, eax
  c.Byte(0xC0);
  c.AddRegImm(EAX, 2);
  c.MovMemReg(EBP, kValueY, EAX);
  Transfer(c, kRTWriteTransfer, 1, kRecY, kValueY, 3);
  // The run's completion: the VI's own completion options (log at
  // completion) become the call's, and the finish step handles them.  When
  // it has work for the user-interface thread, that thread queues the VI's
  // own element when done, which then ends the run: it is made ready first.
  c.Byte(0x0F);  // movzx eax, word [ebp + dsFlags]
  c.Byte(0xB7);
  c.Byte(0x45);
  c.Byte(uint8_t(offsetof(DataSpaceHeader, dsFlags)));
  c.Byte(0x66);  // mov [ebp + callFlags], ax
  c.Byte(0x89);
  c.Byte(0x85);
  c.Word(uint32_t(offsetof(DataSpaceHeader, callFlags)));
  constexpr int32 kOwn = int32(offsetof(DataSpaceHeader, entrance) + offsetof(VIEntranceRec, ownElement));
  c.MovMemImm(EBP, kOwn + int32(offsetof(QueueElement, callKind)), kCallTopLevelEntered);
  c.MovRegMem(EDX, EBP, kFinish);
  c.MovMemReg(EBP, kOwn + int32(offsetof(QueueElement, code)), EDX);
  c.PushMem(EBP, int32(offsetof(DataSpaceHeader, self)));
  CallThroughTable(c, kRTSubVIFinish);
  c.AddRegImm(ESP, 4);
  c.TestRegReg(EAX, EAX);
  c.Jcc(emit::kNZ, finish);
  c.Ret();  // 0: this element is done, the own element ends the run
  c.Bind(finish);
  c.MovRegMem(EAX, EBP, kFinish);
  c.Ret();
  return c.Finish();
}

// The descriptor of a transfer record and the data space's entries, the
// records among 32-bit words.
tdb::TD RecordType() {
  return tdb::Cluster({tdb::Cluster({tdb::U32(), tdb::U32(), tdb::U32()}), tdb::I32(), tdb::I32(), tdb::I32(),
                       tdb::I32(), tdb::I32()});
}
std::vector<tdb::TD> Entries() {
  std::vector<tdb::TD> e(size_t(kRecX - kD) / 4, tdb::I32());
  e.push_back(RecordType());
  e.push_back(RecordType());
  e.push_back(tdb::I32());
  e.push_back(tdb::I32());
  for (tdb::TD& t : e) t = t.WithFlags(kDSEntryStored);
  return e;
}
// Where a record's descriptor lies in the data space's type: after the
// cluster's six bytes, the header block's and the entries before it.
int32 RecordTDOffset(int32 record) {
  const int32 words = (kRecX - kD) / 4;
  return 6 + int32(tdb::Block(kDataSpaceHeaderSize).Bytes().size()) +
         words * int32(tdb::I32().WithFlags(kDSEntryStored).Bytes().size()) +
         (record == kRecY ? int32(RecordType().WithFlags(kDSEntryStored).Bytes().size()) : 0);
}

// The panel's colour, and the heap's window record: the window's parts,
// the content rectangle and where its top-left corner lies on the screen.
void PlaceWindowSized(ObjHeap panel, int32 root, int16 width, int16 height) {
  PutNative32(*panel + root + kRootPanelColour, kDefaultPanelColour);
  uChar* ext = *panel + OHWord(panel, kOHExtension);
  PutNative16(ext + kHeapExtWindowOptions, kDemoWindowParts);
  const Rect content{0, 0, height, width};
  std::memcpy(ext + kHeapExtContentRect, &content, sizeof content);
  const Point at{kContentTop, kContentLeft};
  std::memcpy(ext + kHeapExtContentOrigin, &at, sizeof at);
}
void PlaceWindowOnly(ObjHeap panel, int32 root) { PlaceWindowSized(panel, root, kContentWidth, kContentHeight); }

// The demo's panel: its window, its controls and their controllers.  Each
// control is a numeric of the data's type (I32, the VI's type 1) with its
// name label above it, x a control and y an indicator; its controller, one
// per transfer-table entry and in its order, has its type and names it and
// the transfer record with the record's descriptor.  Each label's text is its resource.
void PlaceWindow(ObjHeap panel, int32 root, std::vector<panelwriter::PanelObject>* rsrcs, bool textParts) {
  PlaceWindowOnly(panel, root);
  struct Control {
    int32 record;
    const char* name;
    Rect bounds;
    uInt32 flags;
  };
  const Control kControls[] = {{kRecX, "x", {66, 20, 82, 100}, 0},
                               {kRecY, "y", {66, 130, 82, 210}, kObjFlagIndicator}};
  constexpr int32 kNumericSize = 52, kLabelSize = kObjText + 4;
  constexpr int16 kNameLabel = 16, kNumericTextPart = 10;
  int32 list = OHNewBlock(panel, kObjListNewSize, kObjClassList);
  for (const Control& c : kControls) {
    const int32 dco = vib::NewObject(panel, kClsFPDataController, kDCOSize);
    const int32 numeric = vib::NewObject(panel, kClsNumeric, kNumericSize, root);
    const int32 label = numeric ? vib::NewObject(panel, kClsLabel, kLabelSize, numeric, kNameLabel) : 0;
    if (!list || !dco || !label || OHListInsert(panel, &list, dco, kObjListAppend) != kNoErr) return;
    PutNative32(*panel + dco + 4 * kPWDCOTypeId, 1);
    PutNative32(*panel + dco + 4 * kPWDCODisplay, uInt32(numeric));
    PutNative32(*panel + dco + 4 * kPWDCORecord, uInt32(c.record));
    PutNative32(*panel + dco + 4 * kPWDCORecordTD, uInt32(RecordTDOffset(c.record)));
    // The control shows its controller's value: the controller owns it.
    PutNative32(*panel + numeric + 4 * kPWOwner, uInt32(dco));
    PutNative32(*panel + numeric + kObjFlags, c.flags);
    PutNative32(*panel + numeric + 4 * kPWDDOTypeId, 1);
    PutNative16(*panel + numeric + kNumFormatByte, 0x40);  // signed decimal
    // The control's bounds take in its label.
    const Rect above{int16(c.bounds.top - 16), c.bounds.left, int16(c.bounds.top - 2), int16(c.bounds.left + 40)};
    const Rect whole{above.top, c.bounds.left, c.bounds.bottom, c.bounds.right};
    std::memcpy(*panel + numeric + kObjBounds, &whole, sizeof whole);
    std::memcpy(*panel + label + kObjBounds, &above, sizeof above);
    panelwriter::SavedText text;
    text.text = c.name;
    const int16 view[4] = {above.top, above.left, above.bottom, above.right};
    std::copy(std::begin(view), std::end(view), std::begin(text.view));
    rsrcs->push_back({label, {panelwriter::ObjRsrc(kTextRecordType, panelwriter::TextRecordRsrc(text))}});
    if (!textParts) continue;
    // The numeric's text (part 10): its value's digits, inside its frame.
    const int32 digits = vib::NewObject(panel, kClsLabel, kLabelSize, numeric, kNumericTextPart);
    if (!digits) return;
    const Rect inside{int16(c.bounds.top + 2), int16(c.bounds.left + 2), int16(c.bounds.bottom - 2),
                      int16(c.bounds.right - 2)};
    std::memcpy(*panel + digits + kObjBounds, &inside, sizeof inside);
    panelwriter::SavedText value;
    value.text = "0";
    // One line the operator edits (edit class 2), over the part's rectangle.
    value.mode = 0x200;
    const int16 digitsView[4] = {inside.top, inside.left, inside.bottom, inside.right};
    std::memcpy(value.view, digitsView, sizeof digitsView);
    rsrcs->push_back({digits, {panelwriter::ObjRsrc(kTextRecordType, panelwriter::TextRecordRsrc(value))}});
  }
  PutNative32(*panel + root + kRootItemList, uInt32(list));
}

// A host path as a flattened absolute path: "/a/b" is C:\a\b.
rsrcw::Bytes FlatHostPath(const std::string& host) {
  std::vector<std::string> parts{"C"};
  for (size_t at = 0, end; at < host.size(); at = end + 1) {
    end = host.find('/', at);
    if (end == std::string::npos) end = host.size();
    if (end > at) parts.push_back(host.substr(at, end - at));
  }
  return rsrcw::FlatPath(kAbsPath, parts);
}

rsrcw::Bytes DemoFile(int32 x, const std::string& log, bool textParts, bool print) {
  vif::VIFile v;
  v.name = "Demo.vi";
  v.flags = kVIFlagRunWhenOpened | kVIFlagOpenPanel;
  v.viKind = kVIKindDatalog;
  // The log record: a time stamp and the panel's data, x and y.
  v.datalog = std::vector<uInt32>(7, 0);
  v.logRecordType = tdb::Cluster({tdb::Cluster({tdb::U32(), tdb::U16()}), tdb::Cluster({tdb::I32(), tdb::I32()})});
  v.controlMap = std::vector<uInt16>{0, 1};
  if (!log.empty()) {
    v.flags2 |= kVIFlags2LogAtCompletion;
    (*v.datalog)[0] = 1;  // the binding names a path
    v.logPath = FlatHostPath(log);
  }
  if (print) v.flags2 |= kVIFlags2PrintAtCompletion;
  v.execSystem = 1;
  v.windowOptions = kDemoWindowParts;
  v.icon = true;
  v.entries = Entries();
  // The transfer table: index, record, record's descriptor, size, flat, copy 0.
  for (int32 i = 0; i < 2; ++i) {
    const int32 record = i ? kRecY : kRecX;
    const int32 words[] = {i, record, RecordTDOffset(record), 4, 1, record + kCopies};
    for (int32 w = 0; w < 6; ++w) v.defaultWords.push_back({kTable + 36 * i + 4 * w, words[w]});
  }
  // Every copy of x holds its default.
  for (int32 k = 0; k < 5; ++k) v.defaultWords.push_back({kRecX + kCopies + 4 * k, x});
  v.code = DemoCode();
  v.types = {tdb::I32()};
  std::vector<panelwriter::PanelObject> rsrcs;
  // The labels' texts map their runs' fonts through the file's font table.
  const auto fonts = [](std::vector<vif::Resource>& rs) {
    rs.push_back({kFontTableType, kFontTableId, panelwriter::FontTableRsrc({{"", 0}}), std::nullopt});
  };
  return vif::WriteWithPanel(
      v, kPanelHeapKeepsOptions, fonts, [&](ObjHeap panel, int32 root) { PlaceWindow(panel, root, &rsrcs, textParts); },
      &rsrcs);
}

// ---- GraphDemo.vi ------------------------------------------------------------------
// Its data after the header: the completion address, the flag record and the
// run element as Demo's, the transfer table's two entries (the graph, the
// chart), the graph's transfer record (the 12-byte head, then five array
// handles), the clump's array, the chart's transfer record (the head, then
// five doubles), the chart's point, the points written so far and the
// chart's history record, then the graph's private block and its two scale
// records and the chart's.
constexpr int32 kGRec = kTable + 2 * 36 + 8, kGValue = kGRec + kRecord;
constexpr int32 kGPoints = 1000;
constexpr int16 kGraphWidth = 360, kGraphHeight = 200;
constexpr int32 kRTDSNewHandle = 311, kRTDSSetHandleSize = 313, kRTCopyFlatArray = 1677;
constexpr int32 kRTWriteChartPoints = 1446, kRTInitChartRecord = 1631;
// The chart: a strip chart of a sine, one point a loop, its history 1,000
// points, its x scale 100 points wide.
constexpr int32 kChartPoints = 300, kChartHistory = 1000, kChartSpan = 100;
constexpr int16 kChartType = 103;
constexpr int16 kChartTop = kGraphHeight, kGraphDemoHeight = kGraphHeight + 190;
// Where the chart's entries lie (data offsets the file's entries give).
struct ChartPlaces {
  int32 record = 0, value = 0, index = 0, history = 0;
};

tdb::TD Doubles() { return tdb::Array(tdb::DBL()); }
tdb::TD GraphRecordType() {
  return tdb::Cluster({tdb::Cluster({tdb::U32(), tdb::U32(), tdb::U32()}), Doubles(), Doubles(), Doubles(),
                       Doubles(), Doubles()});
}
tdb::TD ChartTransferType() {
  return tdb::Cluster({tdb::Cluster({tdb::U32(), tdb::U32(), tdb::U32()}), tdb::DBL(), tdb::DBL(), tdb::DBL(),
                       tdb::DBL(), tdb::DBL()});
}
// The history record: total, pending, write slot, the history (a handle of
// the data space: its capacity in points, then the points, as an array of
// doubles lays them out), then the words the writers keep with execution
// threads.
tdb::TD ChartHistoryType() {
  std::vector<tdb::TD> w = {tdb::I32(), tdb::I32(), tdb::I32(), Doubles()};
  for (int32 i = 0; i < 8; ++i) w.push_back(tdb::I32());
  return tdb::Cluster(w);
}
tdb::TD FromHandle(UHandle h) {
  std::vector<uChar> b;
  if (h) {
    b.assign(*h, *h + AZGetHandleSize(h));
    AZDisposeHandle(h);
  }
  return tdb::Raw(b);
}
std::vector<tdb::TD> GraphEntries() {
  std::vector<tdb::TD> e(size_t(kGRec - kD) / 4, tdb::I32());
  e.push_back(GraphRecordType());
  e.push_back(Doubles());
  e.push_back(ChartTransferType());
  e.push_back(tdb::DBL());
  e.push_back(tdb::I32());
  e.push_back(ChartHistoryType());
  e.push_back(FromHandle(GraphStateTD()));
  e.push_back(FromHandle(ScaleCtlDataTD()));
  e.push_back(FromHandle(ScaleCtlDataTD()));
  e.push_back(FromHandle(GraphStateTD()));
  e.push_back(FromHandle(ScaleCtlDataTD()));
  e.push_back(FromHandle(ScaleCtlDataTD()));
  for (tdb::TD& t : e) t = t.WithFlags(kDSEntryStored);
  return e;
}

// The initialisation as Demo's, with the transfer procedure that copies the
// graph's array between its record's copies.  The clump: the array made 1,000 doubles, five periods of a sine
// (sin(i * pi / 100)), the array written to the graph through its transfer record;
// then the chart's history made (first run) and 300 points of a sine
// (sin(i * pi / 25)) fed to the chart one a loop, each appended to its
// history and written through its transfer record; then the run's end as
// Demo's.
std::vector<uint8_t> GraphDemoCode(const ChartPlaces& ch) {
  emit::Code c;
  auto clump = c.NewLabel(), none = c.NewLabel(), finish = c.NewLabel(), made = c.NewLabel(), loop = c.NewLabel(),
       transfer = c.NewLabel();
  c.SetEntry();
  runvi::EmitInitHead(&c, kFlag, kRunElement);
  c.MovMemReg(EDX, int32(offsetof(DataSpaceHeader, entrance) + offsetof(VIEntranceRec, ownElement) +
                         offsetof(QueueElement, dataSpace)),
              EBP);
  c.MovMemImm(EDX, int32(offsetof(DataSpaceHeader, transferMode)), 1);
  c.MovMemImm(EDX, int32(offsetof(DataSpaceHeader, dcoCount)), 2);
  c.MovMemImm(EDX, int32(offsetof(DataSpaceHeader, dcoTableOffset)), uint32_t(kTable));
  c.MovRegReg(EBP, EDX);
  c.LoadLabelAddress(ECX, clump);
  c.MovRegMem(EDX, EBP, Slot(kDSProcTopCode));
  c.MovMemReg(EBP, kFinish, EDX);
  c.MovMemReg(EBP, Slot(kDSProcTopCode), ECX);
  c.LoadLabelAddress(ECX, none);
  c.MovMemReg(EBP, Slot(kDSProcInitDCOs), ECX);
  c.LoadLabelAddress(ECX, transfer);
  c.MovMemReg(EBP, Slot(kDSProcTransfer), ECX);
  c.PopReg(EBP);
  c.XorRegReg(EAX, EAX);
  c.Ret();
  c.Bind(none);
  c.XorRegReg(EAX, EAX);
  c.Ret();

  // The transfer procedure (cdecl: data space, index, from, to): the one
  // array's copy, its handle's bytes into the destination's handle.
  c.Bind(transfer);
  c.MovRegMem(EAX, ESP, 16);
  c.PushReg(EAX);
  c.MovRegMem(EAX, ESP, 16);
  c.PushMem(EAX, 0);
  c.PushImm(4);
  CallThroughTable(c, kRTCopyFlatArray);
  c.AddRegImm(ESP, 12);
  c.Ret();

  c.Bind(clump);
  c.MovRegReg(ESI, EAX);
  constexpr uint32_t kBytes = 4 + 8 * kGPoints;
  // A new handle when the array has none, else its handle resized.
  c.MovRegMem(EAX, EBP, kGValue);
  c.TestRegReg(EAX, EAX);
  c.Jcc(emit::kNZ, made);
  c.PushImm(kBytes);
  CallThroughTable(c, kRTDSNewHandle);
  c.AddRegImm(ESP, 4);
  c.MovMemReg(EBP, kGValue, EAX);
  c.TestRegReg(EAX, EAX);
  c.Jcc(emit::kZ, finish);
  auto fill = c.NewLabel();
  c.Jmp(fill);
  c.Bind(made);
  c.PushImm(kBytes);
  c.PushReg(EAX);
  CallThroughTable(c, kRTDSSetHandleSize);
  c.AddRegImm(ESP, 8);
  c.TestRegReg(EAX, EAX);
  c.Jcc(emit::kNZ, finish);
  c.Bind(fill);
  c.MovRegMem(EDX, EBP, kGValue);
  c.MovRegMem(EDX, EDX, 0);
  c.MovMemImm(EDX, 0, uint32_t(kGPoints));
  c.XorRegReg(ECX, ECX);
  c.Bind(loop);
  c.PushReg(ECX);
  for (uint8_t b : {0xDB, 0x04, 0x24,  // fild dword [esp]
                    0xD9, 0xEB,        // fldpi
                    0xDE, 0xC9})       // fmulp
    c.Byte(b);
  c.MovMemImm(ESP, 0, 100);
  for (uint8_t b : {0xDA, 0x34, 0x24,          // fidiv dword [esp]
                    0xD9, 0xFE,                // fsin
                    0xDD, 0x5C, 0xCA, 0x04})  // fstp qword [edx + 8 * ecx + 4]
    c.Byte(b);
  c.PopReg(EAX);
  c.AddRegImm(ECX, 1);
  c.CmpRegImm(ECX, kGPoints);
  c.Jcc(emit::kL, loop);
  // The write: index 0, the handle, not flat, mode 3.
  c.PushImm(3);
  c.PushImm(0);
  c.PushImm(4);
  PushAddress(c, kGValue);
  PushAddress(c, kGRec + kCopies);
  PushAddress(c, kGRec);
  c.PushImm(0);
  c.PushMem(EBP, int32(offsetof(DataSpaceHeader, self)));
  CallThroughTable(c, kRTWriteTransfer);
  c.AddRegImm(ESP, 32);

  // The chart's history, made once: capacity word, then the points; its
  // record set up for the writers.
  auto haveHistory = c.NewLabel(), point = c.NewLabel(), newHistory = c.NewLabel(), setUp = c.NewLabel();
  constexpr int32 kBuffer = int32(offsetof(ChartHistory, buffer));
  c.MovRegMem(EAX, EBP, ch.history + kBuffer);
  c.TestRegReg(EAX, EAX);
  c.Jcc(emit::kZ, newHistory);
  c.MovRegMem(EDX, EAX, 0);
  c.CmpMemImm(EDX, 0, kChartHistory);
  c.Jcc(emit::kZ, haveHistory);
  c.PushImm(uint32_t(4 + 8 * kChartHistory));
  c.PushReg(EAX);
  CallThroughTable(c, kRTDSSetHandleSize);
  c.AddRegImm(ESP, 8);
  c.TestRegReg(EAX, EAX);
  c.Jcc(emit::kNZ, finish);
  c.Jmp(setUp);
  c.Bind(newHistory);
  c.PushImm(uint32_t(4 + 8 * kChartHistory));
  CallThroughTable(c, kRTDSNewHandle);
  c.AddRegImm(ESP, 4);
  c.TestRegReg(EAX, EAX);
  c.Jcc(emit::kZ, finish);
  c.MovMemReg(EBP, ch.history + kBuffer, EAX);
  c.Bind(setUp);
  c.MovRegMem(EAX, EBP, ch.history + kBuffer);
  c.MovRegMem(EAX, EAX, 0);
  c.MovMemImm(EAX, 0, uint32_t(kChartHistory));
  c.PushImm(1);  // set up
  c.PushImm(4);  // the points start after the capacity word
  c.PushImm(8);  // a double a point
  c.PushImm(uint32_t(ch.history));
  c.PushReg(EBP);
  CallThroughTable(c, kRTInitChartRecord);
  c.AddRegImm(ESP, 20);
  c.TestRegReg(EAX, EAX);
  c.Jcc(emit::kNZ, finish);
  c.Bind(haveHistory);
  c.MovMemImm(EBP, ch.index, 0);
  c.Bind(point);
  // value = sin(index * pi / 25)
  c.Byte(0xDB);  // fild dword [ebp + index]
  c.Byte(0x85);
  c.Word(uint32_t(ch.index));
  c.Byte(0xD9);  // fldpi
  c.Byte(0xEB);
  c.Byte(0xDE);  // fmulp
  c.Byte(0xC9);
  c.PushImm(25);
  for (uint8_t b : {0xDA, 0x34, 0x24,  // fidiv dword [esp]
                    0xD9, 0xFE})       // fsin
    c.Byte(b);
  c.AddRegImm(ESP, 4);
  c.Byte(0xDD);  // fstp qword [ebp + value]
  c.Byte(0x9D);
  c.Word(uint32_t(ch.value));
  // The point into the history: data space, record, point size, header, points, count.
  c.PushImm(1);
  PushAddress(c, ch.value);
  c.PushImm(4);
  c.PushImm(8);
  c.PushImm(uint32_t(ch.history));
  c.PushReg(EBP);
  CallThroughTable(c, kRTWriteChartPoints);
  c.AddRegImm(ESP, 24);
  c.TestRegReg(EAX, EAX);
  c.Jcc(emit::kNZ, finish);
  // The write: index 1, the point, flat, 8 bytes, mode 3.
  c.PushImm(3);
  c.PushImm(1);
  c.PushImm(8);
  PushAddress(c, ch.value);
  PushAddress(c, ch.record + kCopies);
  PushAddress(c, ch.record);
  c.PushImm(1);
  c.PushMem(EBP, int32(offsetof(DataSpaceHeader, self)));
  CallThroughTable(c, kRTWriteTransfer);
  c.AddRegImm(ESP, 32);
  c.IncMem(EBP, ch.index);
  c.CmpMemImm(EBP, ch.index, kChartPoints);
  c.Jcc(emit::kL, point);

  c.Bind(finish);
  constexpr int32 kOwn = int32(offsetof(DataSpaceHeader, entrance) + offsetof(VIEntranceRec, ownElement));
  c.Byte(0x0F);  // movzx eax, word [ebp + dsFlags]
  c.Byte(0xB7);
  c.Byte(0x45);
  c.Byte(uint8_t(offsetof(DataSpaceHeader, dsFlags)));
  c.Byte(0x66);  // mov [ebp + callFlags], ax
  c.Byte(0x89);
  c.Byte(0x85);
  c.Word(uint32_t(offsetof(DataSpaceHeader, callFlags)));
  c.MovMemImm(EBP, kOwn + int32(offsetof(QueueElement, callKind)), kCallTopLevelEntered);
  c.MovRegMem(EDX, EBP, kFinish);
  c.MovMemReg(EBP, kOwn + int32(offsetof(QueueElement, code)), EDX);
  c.PushMem(EBP, int32(offsetof(DataSpaceHeader, self)));
  CallThroughTable(c, kRTSubVIFinish);
  c.AddRegImm(ESP, 4);
  c.TestRegReg(EAX, EAX);
  auto back = c.NewLabel();
  c.Jcc(emit::kNZ, back);
  c.Ret();
  c.Bind(back);
  c.MovRegMem(EAX, EBP, kFinish);
  c.Ret();
  return c.Finish();
}

rsrcw::Bytes GraphDemoFile(uInt32 plotBack) {
  const std::vector<tdb::TD> entries = GraphEntries();
  const size_t first = size_t(kGRec - kD) / 4;
  const int32 recordTD = runvi::EntryTypeOffset(entries, first);
  const int32 chartRecordTD = runvi::EntryTypeOffset(entries, first + 2);
  const int32 historyTD = runvi::EntryTypeOffset(entries, first + 5);
  const int32 stateTD = runvi::EntryTypeOffset(entries, first + 6);
  const int32 xTD = runvi::EntryTypeOffset(entries, first + 7), yTD = runvi::EntryTypeOffset(entries, first + 8);
  const int32 cStateTD = runvi::EntryTypeOffset(entries, first + 9);
  const int32 cxTD = runvi::EntryTypeOffset(entries, first + 10), cyTD = runvi::EntryTypeOffset(entries, first + 11);
  // The data offsets of the graphs' blocks and scale records and of the chart's entries.
  int32 stateAt = 0, xAt = 0, yAt = 0, cStateAt = 0, cxAt = 0, cyAt = 0;
  ChartPlaces ch;
  if (UHandle vi = vib::NewVI(entries, false)) {
    stateAt = DSOffsetForType(vi, 0, stateTD);
    xAt = DSOffsetForType(vi, 0, xTD);
    yAt = DSOffsetForType(vi, 0, yTD);
    cStateAt = DSOffsetForType(vi, 0, cStateTD);
    cxAt = DSOffsetForType(vi, 0, cxTD);
    cyAt = DSOffsetForType(vi, 0, cyTD);
    ch.record = DSOffsetForType(vi, 0, chartRecordTD);
    ch.value = DSOffsetForType(vi, 0, runvi::EntryTypeOffset(entries, first + 3));
    ch.index = DSOffsetForType(vi, 0, runvi::EntryTypeOffset(entries, first + 4));
    ch.history = DSOffsetForType(vi, 0, historyTD);
    vib::DisposeVI(vi);
  }
  if (stateAt < kD || xAt < kD || yAt < kD || cStateAt < kD || cxAt < kD || cyAt < kD || ch.record < kD ||
      ch.value < kD || ch.index < kD || ch.history < kD)
    return {};
  panelwriter::GraphSpec cs;
  cs.type = kChartType;
  cs.bounds = Rect{int16(kChartTop + 10), 10, int16(kGraphDemoHeight - 10), kGraphWidth - 10};
  cs.plotArea = Rect{int16(kChartTop + 20), 50, int16(kGraphDemoHeight - 30), kGraphWidth - 20};
  cs.typeId = 2;
  cs.plotBack = plotBack;
  cs.stateAt = cStateAt;
  cs.stateTD = cStateTD;
  cs.xScaleAt = cxAt;
  cs.xScaleTD = cxTD;
  cs.yScaleAt = cyAt;
  cs.yScaleTD = cyTD;
  panelwriter::GraphSpec g;
  g.bounds = Rect{10, 10, kGraphHeight - 10, kGraphWidth - 10};
  g.plotArea = Rect{20, 50, kGraphHeight - 30, kGraphWidth - 20};
  g.typeId = 1;
  g.plotBack = plotBack;
  g.stateAt = stateAt;
  g.stateTD = stateTD;
  g.xScaleAt = xAt;
  g.xScaleTD = xTD;
  g.yScaleAt = yAt;
  g.yScaleTD = yTD;

  vif::VIFile v;
  v.name = "GraphDemo.vi";
  v.flags = kVIFlagRunWhenOpened | kVIFlagOpenPanel;
  // The kind of VI the run-time runs; nothing is logged.
  v.viKind = kVIKindDatalog;
  v.datalog = std::vector<uInt32>(7, 0);
  v.logRecordType = tdb::Cluster({tdb::Cluster({tdb::U32(), tdb::U16()}), tdb::Cluster({Doubles()})});
  v.controlMap = std::vector<uInt16>{0};
  v.execSystem = 1;
  v.windowOptions = kDemoWindowParts;
  v.icon = true;
  v.entries = entries;
  const int32 words[] = {0, kGRec, recordTD, 4, 0, kGRec + kCopies};
  for (int32 w = 0; w < 6; ++w) v.defaultWords.push_back({kTable + 4 * w, words[w]});
  const int32 chartWords[] = {1, ch.record, chartRecordTD, 8, 1, ch.record + kCopies};
  for (int32 w = 0; w < 6; ++w) v.defaultWords.push_back({kTable + 36 + 4 * w, chartWords[w]});
  // The scales' ranges are default data: x 0 .. 999 across the plot area,
  // y -1 .. 1 upward.
  for (const auto& w : panelwriter::ScaleRecordWords(xAt, 0, kGPoints - 1, 100, g.plotArea.left, g.plotArea.right))
    v.defaultWords.push_back(w);
  for (const auto& w : panelwriter::ScaleRecordWords(yAt, -1, 1, 0.5, g.plotArea.bottom, g.plotArea.top))
    v.defaultWords.push_back(w);
  // The chart's x 0 .. 99, y -1 .. 1.
  for (const auto& w : panelwriter::ScaleRecordWords(cxAt, 0, kChartSpan - 1, 20, cs.plotArea.left, cs.plotArea.right))
    v.defaultWords.push_back(w);
  for (const auto& w : panelwriter::ScaleRecordWords(cyAt, -1, 1, 0.5, cs.plotArea.bottom, cs.plotArea.top))
    v.defaultWords.push_back(w);
  v.code = GraphDemoCode(ch);
  // Type ids 1, 2, 3: the graph's array, the chart's point, its history record.
  v.types = {Doubles(), tdb::DBL(), ChartHistoryType()};
  std::vector<panelwriter::PanelObject> rsrcs;
  const auto fonts = [](std::vector<vif::Resource>& rs) {
    rs.push_back({kFontTableType, kFontTableId, panelwriter::FontTableRsrc({{"", 0}}), std::nullopt});
  };
  bool placed = false;
  rsrcw::Bytes out = vif::WriteWithPanel(
      v, kPanelHeapKeepsOptions, fonts,
      [&](ObjHeap panel, int32 root) {
        PlaceWindowSized(panel, root, kGraphWidth, kGraphDemoHeight);
        int32 list = OHNewBlock(panel, kObjListNewSize, kObjClassList);
        const int32 dco = vib::NewObject(panel, kClsFPDataController, kDCOSize);
        if (!list || !dco || OHListInsert(panel, &list, dco, kObjListAppend) != kNoErr) return;
        const int32 chartDCO = vib::NewObject(panel, kClsFPDataController, kDCOSize);
        if (!chartDCO || OHListInsert(panel, &list, chartDCO, kObjListAppend) != kNoErr) return;
        const panelwriter::GraphObject o = panelwriter::NewGraph(panel, root, g);
        if (!o.graph) return;
        const panelwriter::GraphObject chart = panelwriter::NewGraph(panel, root, cs);
        if (!chart.graph) return;
        const struct {
          int32 dco, display, typeId, record, recordTD;
        } kBound[] = {{dco, o.graph, 1, kGRec, recordTD}, {chartDCO, chart.graph, 2, ch.record, chartRecordTD}};
        for (const auto& b : kBound) {
          PutNative32(*panel + b.dco + 4 * kPWDCOTypeId, uInt32(b.typeId));
          PutNative32(*panel + b.dco + 4 * kPWDCODisplay, uInt32(b.display));
          PutNative32(*panel + b.dco + 4 * kPWDCORecord, uInt32(b.record));
          PutNative32(*panel + b.dco + 4 * kPWDCORecordTD, uInt32(b.recordTD));
          PutNative32(*panel + b.display + 4 * kPWOwner, uInt32(b.dco));
          PutNative32(*panel + b.display + kObjFlags, kObjFlagIndicator);
        }
        // The chart's record type and its history record.
        PutNative32(*panel + chart.graph + 4 * kPWGraphChartType, 3);
        PutNative32(*panel + chart.graph + 4 * kPWGraphHistory, uInt32(ch.history));
        PutNative32(*panel + chart.graph + 4 * (kPWGraphHistory + 1), uInt32(historyTD));
        PutNative32(*panel + root + kRootItemList, uInt32(list));
        placed = true;
      },
      &rsrcs);
  return placed ? out : rsrcw::Bytes();
}

// The VI's default data and panel heap are made in the memory manager's
// zones, started once for the process: zones the caller started already are
// used as they are (started again, they would be new ones, and the handles
// the caller holds in the old ones foreign).
bool ZonesStarted() {
  static const bool started = [] {
    if (UHandle probe = AZNewHandle(4)) {
      AZDisposeHandle(probe);
      return true;
    }
    return MemInit() == kNoErr;
  }();
  return started;
}

// The library of one top-level VI appended to a copy of program.
bool AppendLibrary(const std::string& program, const std::string& out, const std::string& name,
                   const rsrcw::Bytes& file, std::string* error) {
  if (file.empty()) {
    if (error) *error = name + " cannot be written";
    return false;
  }
  qxbuild::VILibraryWriter lib("Demo.qlb");
  qxbuild::LibraryMember m;
  m.name = name;
  m.file = file;
  m.flags = archfmt::kFlagTopLevel;
  lib.Add(m);
  rsrcw::Writer w(FourCC("APPL"), FourCC("QNLX"));
  qxbuild::AddRunTimeResources(&w);
  lib.AddTo(&w);
  return qxbuild::AppendToProgram(program, w.Write(), out, error);
}

}  // namespace

bool BuildGraphDemo(const std::string& program, const std::string& out, std::string* error, uInt32 plotBack) {
  const rsrcw::Bytes file = ZonesStarted() ? GraphDemoFile(plotBack) : rsrcw::Bytes();
  return AppendLibrary(program, out, "GraphDemo.vi", file, error);
}

bool BuildMenuTest(const std::string& program, const std::string& out, std::string* error) {
  rsrcw::Bytes file;
  if (ZonesStarted()) {
    vif::VIFile v = runvi::File("Menu.vi", runvi::Clumps::kSpin, 1, kVIFlagRunWhenOpened | kVIFlagOpenPanel);
    v.windowOptions = kDemoWindowParts;
    // The minimal menu (source 1); bit 2: the bar is not blocked at first,
    // since the clump never reads a choice.
    v.rtMenuWord = 1 | 4;
    file = vif::WriteWithPanel(v, 0, nullptr, &PlaceWindowOnly);
  }
  return AppendLibrary(program, out, "Menu.vi", file, error);
}

bool BuildDemo(const std::string& program, const std::string& out, int32 x, const std::string& log,
               std::string* error, bool printAtCompletion) {
  const rsrcw::Bytes file = ZonesStarted() ? DemoFile(x, log, true, printAtCompletion) : rsrcw::Bytes();
  return AppendLibrary(program, out, "Demo.vi", file, error);
}

}  // namespace demo
