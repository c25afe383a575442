// Class records against the message table, the dispatch, class names, the
// error method and object lifetime.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/exec/rttable.h"
#include "live_handles.h"
#include "panel/attrcall.h"
#include "panel/ctrldisplay.h"
#include "panel/dataxfer.h"
#include "panel/editmsg.h"
#include "panel/popup.h"
#include "panel/oinit.h"
#include "panel/zktag.h"
#include "panel_test_support.h"

namespace {

using ptest::PanelTest;

ObjMethodAddr A(int32 (*m)(ObjHeap, int32)) { return reinterpret_cast<ObjMethodAddr>(m); }
std::string Name(const uChar* p) { return std::string(reinterpret_cast<const char*>(p + 1), p[0]); }

// The message table, written out apart from the class table's own: per
// slot, the classes with a method of their own, then those holding
// NullMethod, as blank-separated id ranges.
const char* const kRows[][3] = {
    {"1", "6-127 131 143-149 166-175", "1-5 152-165"},
    {"4", "5", "152-165"},
    {"5", "5 9-105 143-149 166-175", "6-8 124 131 152-165"},
    {"6", "", "5"},
    {"7", "5 9-14 18-101 105 127 143-149 171-175", "6-8 17 104 124 152-166"},
    {"8", "9-14 18-101 105 127 143-149 171-175", "6-8 17 124"},
    {"11", "76-101 105 148 171 175", "104 126 127 152-166"},
    {"12", "9-14 18-101 105 143-149 166 171 175", "6-8 17 104 124-127 131 172"},
    {"13", "9-14 76-101 105 148 149 171 175", "6-8 17 18 104 124-131 143 166 172"},
    {"16", "17-101 105 148 171 175", "9-14 104 149 166"},
    {"18", "9-14 18-101 105 143-149 171-175", "17 104 166"},
    {"19", "9-14 76-101 105 143-149 171 175", "17 18 104 166"},
    {"21", "9-14 18-101 105 143-149 171-175", "104 166"},
    {"22", "7 9-14 18 77-101 105 124 143-149 171-175", "17 76 104 166"},
    {"23", "9-14 18-105 143-149 171-175", "17"},
    {"25", "9-14 77-101 105 143-149 171-175", "17 18 76"},
    {"26", "9-14 18-101 105 143-149 171-175", "17 104 166"},
    {"27", "9-17 77-105 127 143-149 166-175", "6-8 18 76 124"},
    {"29", "9-14 18-105 127 143-149 166-175", "17"},
    {"30", "9-14 18 77-101 105 127 143-149 171-175", "17 76 104 166"},
    {"35", "17 18 77-101 105 148 171 175", "76 166"},
    {"38", "18-101 105 148 171 175", "17"},
    {"39", "10-14 18 76 79-83 86-101 105 148 149", "9 77 85 104 166 171 175"},
    {"41", "18 77-101 105 143 148 171-175", "17 76 126 127 152-165"},
    {"43", "17 18 77-101 105 148 171-175", "76 166"},
    {"44", "9-14 18 77-101 105 143-149 171 175", "17 76 104 166 172"},
    {"48", "77-81 86-101 105 148", "76 82-85 152-165 171 175"},
    {"55", "18 76 80 82-89 92 94 100 101 105 143", "9-14 77 79 81 91 95 97 104 148 149 166-175"},
    {"73", "18-101 105 143 148 171-175", "9-14 104 149 166"},
    {"76", "175", "1-172"},
};
// The slots whose own methods are built so far; every other own slot holds
// NullMethod until its method is.
const int32 kBuiltSlots[] = {1, 5, 7, 8, 12, 13, 16, 21, 22, 23, 25, 26, 27, 29, 35, 41, 48, 55, 73};

bool In(const char* ranges, int32 id) {
  int lo, hi, n;
  for (const char* p = ranges; std::sscanf(p, "%d%n", &lo, &n) == 1; p += n) {
    hi = lo;
    if (p[n] == '-' && std::sscanf(p += n + 1, "%d%n", &hi, &n) != 1) return false;
    if (id >= lo && id <= hi) return true;
  }
  return false;
}

class ObjClassTest : public PanelTest {};

TEST_F(ObjClassTest, RecordsFollowTheMessageTableAndChainsEndAtTheRoot) {
  const ObjClassRecord* const* t = ClassIdTable();
  const ObjClassRecord* filler = ClassRecord(179);
  int present = 0;
  for (int32 id = 0; id < kClassIdCount; ++id) {
    SCOPED_TRACE(id);
    const ObjClassRecord* r = t[id];
    if (!r->methodCount) {
      EXPECT_EQ(r, filler) << "missing ids share one filler";
      continue;
    }
    ++present;
    for (int32 slot = 0; slot < kObjSlots; ++slot) {
      const char* const* row = nullptr;
      for (const auto& x : kRows) row = std::atoi(x[0]) == slot ? x : row;
      const ObjMethodAddr m = r->methods[slot];
      // The print layout's part list (class 5) has its slots 4 and 7 built too.
      const bool built = std::find(std::begin(kBuiltSlots), std::end(kBuiltSlots), slot) != std::end(kBuiltSlots) ||
                         (id == 5 && (slot == 4 || slot == 7)) ||
                         slot == kMsgOHelp ||
                         // The containers' and the panel's controls' displays; the graph's
                         // the controls join.
                         (slot == kMsgODisplayVal &&
                          (id == 18 || id == 76 || id == 82 || id == 83 || CtrlODisplayValMethodFor(id))) ||
                         // Drawing, but not of the classes the controls draw; indicators, but
                         // not the graph's, which the controls join.
                         (slot == kMsgODraw && id != 92 && id != 94 && id != 105 && id != 143 && id != 175) ||
                         (slot == kMsgOSetIndicator && id != 94) ||
                         // Frames of the key focus, the cosmetics' the empty function.
                         (slot == kMsgOFrameSel && FrameSelMethodFor(id)) ||
                         (slot == kMsgOPopup && OPopupMethodFor(id)) ||
                         // Property calls; colour changes of the panel's classes.
                         (slot == kMsgOCtrlOp && OCtrlOpMethodFor(id)) ||
                         (slot == kMsgOColorChange && OColorChangeMethodFor(id));
      if (row && In(row[1], id)) {
        EXPECT_TRUE(built ? m != A(&ErrorMethod) : m == A(&NullMethod)) << slot;
      } else {
        EXPECT_EQ(m, row && In(row[2], id) ? A(&NullMethod) : A(&ErrorMethod)) << slot;
      }
    }
    int32 steps = 0, size = r->instanceSize;
    for (int32 up = r->superId; up != -1 && steps < 10; up = t[up]->superId, ++steps) {
      ASSERT_GE(up, 0);
      ASSERT_LT(up, kClassIdCount);
      EXPECT_NE(t[up]->methodCount, 0);
      EXPECT_LE(t[up]->instanceSize, size) << "sizes never shrink down a chain";
      size = t[up]->instanceSize;
    }
    EXPECT_LT(steps, 10) << "the chain ends at -1";
    EXPECT_EQ(Name(r->superName), r->superId >= 0 ? Name(t[r->superId]->name) : "");
  }
  EXPECT_EQ(present, 71);
  EXPECT_EQ(filler->methods[1], nullptr);
}

// Probe methods that record what the dispatch handed them.
struct Seen {
  ObjHeap heap;
  int32 offset, a, b, c, d, e, f;
  double g;
} gSeen;
int64 NineArgs(ObjHeap heap, int32 offset, int32 a, int32 b, int32 c, int32 d, int32 e, int32 f, double g) {
  gSeen = {heap, offset, a, b, c, d, e, f, g};
  return 0x123456789ABCDEF0LL;
}
int32 gBadCalls = 0;
int32 CountBad(ObjHeap, int32) { return ++gBadCalls, 74; }

TEST_F(ObjClassTest, DispatchClampsJumpsAndSendsIdsWithoutAClassToErrorMethod) {
  SetBadClassHook(&CountBad);
  for (int32 cls : {3, 179, -1, 0x7FFFFFFF}) {
    const int32 o = vib::NewObject(panel_, kClsNumeric, 52);
    OHSetBlockClass(panel_, o, cls);
    for (int32 msg : {0, 22, 78}) {
      gBadCalls = 0;
      EXPECT_EQ(OSendMessage<int32>(msg, panel_, o), 74) << cls << " " << msg;
      EXPECT_EQ(gBadCalls, 1);
    }
  }
  ClearBadClassHook();
  // Slot 78 of the knob's record, borrowed: message 200 reaches it, and the
  // method sees every argument where the sender put it.
  auto* knob = const_cast<ObjClassRecord*>(ClassRecord(kClsKnob));
  const ObjMethodAddr saved = knob->methods[kMsgClampSlot];
  knob->methods[kMsgClampSlot] = reinterpret_cast<ObjMethodAddr>(&NineArgs);
  const int32 k = Obj(kClsKnob);
  const int64 r = OSendMessage<int64>(200, panel_, k, 1, -2, 3, 0x40000000, 5, 6, 2.5);
  knob->methods[kMsgClampSlot] = saved;
  EXPECT_EQ(r, 0x123456789ABCDEF0LL);
  EXPECT_EQ(gSeen.heap, panel_);
  EXPECT_EQ(gSeen.offset, k);
  EXPECT_EQ(gSeen.a + gSeen.b + gSeen.c + gSeen.e + gSeen.f, 13);
  EXPECT_EQ(gSeen.d, 0x40000000);
  EXPECT_EQ(gSeen.g, 2.5);
  // The debug-print stubs enter the run-time table once; later additions
  // are refused.
  EXPECT_EQ(QXRTRegisterPanel(), kNoErr);
  EXPECT_EQ(QXRTTable[151], reinterpret_cast<QXRTRoutine>(&NullMethod));
  EXPECT_EQ(QXRTTable[1550], reinterpret_cast<QXRTRoutine>(&NullMethod));
  EXPECT_EQ(QXRTTable[1568], reinterpret_cast<QXRTRoutine>(&InstallTagList));
  for (int32 at : {668, 943}) EXPECT_EQ(QXRTTable[at], reinterpret_cast<QXRTRoutine>(&IdChk)) << at;
  QXRTCloseRegistration();
  ClearReports();
  EXPECT_EQ(QXRTRegisterPanel(), kArgErr);
  EXPECT_EQ(ObjJoinSlot(kMsgODraw, [](int32) { return ObjMethodAddr(nullptr); }), kNoErr);
  ObjCloseSlots();
  EXPECT_EQ(ObjJoinSlot(kMsgODraw, [](int32) { return A(&CountBad); }), kArgErr);
  EXPECT_EQ(ClassRecord(kClsGraphChart)->methods[kMsgODraw], A(&NullMethod));
  EXPECT_GE(Asserts(), 2);
}

TEST_F(ObjClassTest, NamesAndKinds) {
  struct {
    const char* name;
    int32 id;
  } names[] = {{"\007BadProc", 0}, {"\004nope", 0}, {"\004knob", 0}, {"\004Knob", 89}, {"\023SubVIFromSel Backup", 177}};
  for (const auto& n : names)
    EXPECT_EQ(ClassIdByName(reinterpret_cast<ConstPStr>(n.name)), n.id) << n.name + 1;
  const int32 knob = Obj(kClsKnob);
  for (int32 cls : {89, 88, 80, 77, 172}) EXPECT_EQ(ObjIsA(panel_, knob, cls), 1) << cls;
  EXPECT_EQ(ObjIsA(panel_, knob, kClsCluster), 0);
  const int32 odd = Obj(kClsKnob);
  OHSetBlockClass(panel_, odd, 0x7FFFFFFF);
  EXPECT_EQ(ObjIsA(panel_, odd, 89), 0);
  Str255 name;
  GetObjClassName(panel_, vib::NewObject(panel_, 177, 4), name);
  EXPECT_EQ(Name(name), "SubVIFromSel Backup");
  GetObjClassName(panel_, odd, name);
  EXPECT_EQ(Name(name), "BadProc");
  // A ring of an enumerated type and a table take lists of their own,
  // which this resource file lacks: no name, and no fall-back.
  const int32 ring = Obj(kClsRing);
  SetW(ring, 9, int32(Type(tdb::Enum(0x16, {"a", "b"}))));
  const int32 table = Obj(kClsTable);
  for (int32 o : {ring, table}) {
    std::memcpy(name, "\003old", 4);
    GetObjClassName(panel_, o, name);
    EXPECT_EQ(name[0], 0) << o;
  }
  SetW(ring, 9, int32(Type(tdb::I16())));
  GetObjClassName(panel_, ring, name);
  EXPECT_EQ(Name(name), "Ring");
}

TEST_F(ObjClassTest, ErrorMethodNamesTheObjectAndAsksTheHook) {
  std::memcpy(VIRec(vi_)->name, "\004x.vi", 5);
  const int32 b = Obj(kClsBoolean);
  ClearReports();
  EXPECT_EQ(OPrint(panel_, b), 0);
  char line[80];
  std::snprintf(line, sizeof line, "ErrorMethod: \"Boolean\" in \"x.vi\" FPHP+%X\n", b);
  EXPECT_EQ(Reports(line), 1) << qxtest::Reports::Get().Text();
  EXPECT_EQ(Asserts(), 1);
  // The hook answers instead of the assertion; a second hook is refused.
  SetBadClassHook(&CountBad);
  ClearReports();
  EXPECT_EQ(OPrint(panel_, b), 74);
  EXPECT_EQ(Asserts(), 0);
  SetBadClassHook(&CountBad);
  EXPECT_EQ(Asserts(), 1) << "hooks do not nest";
  ClearBadClassHook();
}

TEST_F(ObjClassTest, ObjectsAreMadeRegisteredForwardedAndDisposed) {
  const int32 n = NewObjectByClassName(panel_, reinterpret_cast<ConstPStr>("\007Numeric"), 0);
  ASSERT_NE(n, 0);
  EXPECT_EQ(OHBlockSize(panel_, n), 52);
  EXPECT_EQ(GetNative32(*panel_ + n + kObjClassWord), uInt32(kClsNumeric));
  EXPECT_EQ(NewObjectByClassName(panel_, reinterpret_cast<ConstPStr>("\007BadProc"), 0), 0);
  ClearReports();
  EXPECT_EQ(ObjRegister(panel_, n, 3), kArgErr) << "an id without a record";
  EXPECT_EQ(ObjRegister(panel_, n, 200), kArgErr);
  EXPECT_EQ(OHBlockClass(panel_, n), kClsNumeric);
  ObjHeap dst = OHNewHeap(100, kPanelHeapKind, kHeapExtensionSize, kClsObjHeapHdrExtension);
  const int32 c = ObjCopyForward(panel_, n, dst);
  ASSERT_NE(c, 0);
  EXPECT_EQ(ObjCopyForward(panel_, n, dst), c) << "one copy per pass";
  EXPECT_EQ(GetNative32(*panel_ + n + kObjCopyForwardWord), uInt32(c));
  EXPECT_EQ(GetNative32(*dst + c + kObjCopyForwardWord), uInt32(n));
  EXPECT_EQ(OHBlockClass(dst, c), kClsNumeric);
  EXPECT_EQ(DisposeObject(dst, c), 0);
  EXPECT_EQ(OHBlockClass(dst, c), 0);
  ClearReports();
  EXPECT_EQ(DisposeObject(dst, 0), 0);
  EXPECT_EQ(ObjCopyForward(panel_, 0, dst), 0);
  EXPECT_EQ(NewObjectByClassName(nullptr, reinterpret_cast<ConstPStr>("\007Numeric"), 0), 0);
  EXPECT_EQ(Asserts(), 3);
  OHDisposeHeap(dst);
}

// A freed block (whose link word names the next free block, once read as a
// copy already made), an address inside an object and addresses outside the
// block area are refused by every lifetime call, with a report each and
// neither heap touched.
TEST_F(ObjClassTest, LifetimeCallsRefuseFreedInteriorAndForeignOffsets) {
  auto make = [&] { return NewObjectByClassName(panel_, reinterpret_cast<ConstPStr>("\007Numeric"), 0); };
  const int32 a = make(), live = make(), c = make();
  ASSERT_TRUE(a && live && c);
  DisposeObject(panel_, a);
  DisposeObject(panel_, c);
  ASSERT_NE(OHBlockMarkWord(panel_, a), 0) << "the freed block's link names the next free block";
  auto bytes = [](ObjHeap h) { return std::string(reinterpret_cast<const char*>(*h), size_t(AZGetHandleSize(h))); };
  ObjHeap dst = OHNewHeap(100, kPanelHeapKind, kHeapExtensionSize, kClsObjHeapHdrExtension);
  const int32 end = AZGetHandleSize(panel_);
  const int32 offsets[] = {a, live + 16, live + 2, kOHHeaderSize - 4, end + 64, -12};
  for (int32 off : offsets) {
    SCOPED_TRACE(off);
    const std::string src0 = bytes(panel_), dst0 = bytes(dst);
    ClearReports();
    EXPECT_EQ(ObjRegister(panel_, off, kClsNumeric), kArgErr);
    EXPECT_EQ(ObjUnregister(panel_, off, kClsNumeric), kArgErr);
    EXPECT_EQ(DisposeObject(panel_, off), 0);
    EXPECT_EQ(ObjCopyForward(panel_, off, dst), 0);
    EXPECT_EQ(Asserts(), 4);
    EXPECT_EQ(bytes(panel_), src0);
    EXPECT_EQ(bytes(dst), dst0);
  }
  ClearReports();
  EXPECT_NE(ObjCopyForward(panel_, live, dst), 0) << "a used block still copies";
  EXPECT_EQ(Asserts(), 0);
  OHDisposeHeap(dst);
}

// A copy whose heap cannot grow fails with both heaps byte for byte as they
// were and no handle left; one failed allocation is not enough to stop it,
// as the heap retries its growth with smaller sizes.
TEST_F(ObjClassTest, ACopyForwardThatFindsNoMemoryChangesNothing) {
  const int32 n = NewObjectByClassName(panel_, reinterpret_cast<ConstPStr>("\007Numeric"), 0);
  ASSERT_NE(n, 0);
  auto bytes = [](ObjHeap h) { return std::string(reinterpret_cast<const char*>(*h), size_t(AZGetHandleSize(h))); };
  struct Case {
    int32 failCount;  // allocations failed from the next one on; -1 every one
    bool copied;
  } const cases[] = {{-1, false}, {1, true}};
  for (const Case& c : cases) {
    ObjHeap dst = OHNewHeap(0, kPanelHeapKind, kHeapExtensionSize, kClsObjHeapHdrExtension);
    ASSERT_NE(dst, nullptr);
    const std::string src0 = bytes(panel_), dst0 = bytes(dst);
    const int32 live = LiveHandleCount();
    MemFailAllocations(1, c.failCount);
    const int32 copy = ObjCopyForward(panel_, n, dst);
    MemFailAllocations(0, 0);
    MemFullReset();
    EXPECT_EQ(copy != 0, c.copied) << c.failCount;
    if (!c.copied) {
      EXPECT_EQ(bytes(panel_), src0) << "the source object and its copy-forward word untouched";
      EXPECT_EQ(bytes(dst), dst0);
      EXPECT_EQ(LiveHandleCount(), live);
      EXPECT_EQ(AZHeapCheck(0), kNoErr);
    } else {
      EXPECT_EQ(GetNative32(*panel_ + n + kObjCopyForwardWord), uInt32(copy));
      OHSetBlockMarkWord(panel_, n, 0);
    }
    OHDisposeHeap(dst);
  }
}

}  // namespace
