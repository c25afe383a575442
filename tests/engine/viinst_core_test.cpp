// VIs made in memory, the loaded-VI list, held names, closing and purging.
#include <algorithm>

#include "engine/exec/exec.h"
#include "mgsource/path.h"
#include "tools/tdbuilder.h"
#include "viinst_test_support.h"

using namespace qxvitest;

namespace {

class VICoreTest : public VITest {
 protected:
  // A kind-2 VI in the list.
  static UHandle NewVI(const std::string& name) {
    UHandle vi = NewVICore(kVIKindDatalog, PS(name), -1);
    EXPECT_NE(vi, nullptr);
    return vi;
  }
  static int Count(const std::vector<std::string>& v, const std::string& s) {
    return int(std::count(v.begin(), v.end(), s));
  }
  static int Index(const std::vector<std::string>& v, const std::string& s) {
    auto it = std::find(v.begin(), v.end(), s);
    return it == v.end() ? -1 : int(it - v.begin());
  }
};

// ---- Kinds ------------------------------------------------------------------------------

struct KindCase {
  int16 kind;
  bool panel;
  uInt16 first, second;
  bool inList;
  uInt16 word84;
  uInt32 flags2;
  bool dataSpace;
  int32 execSystem;
  bool lists;
  const char* viLink;  // the VI's link class, "" for none
};
const KindCase kKinds[] = {
    {0, true, 0, 13, false, 0, 0, true, 0, false, ""},
    {1, true, 0, 14, false, 0, 0x3000, false, 0, false, ""},
    {2, true, 31, 60, true, 0, 0x3200, false, -1, true, "QXIN"},
    {3, true, 3, 60, false, 0, 0x200, true, 0, true, "QXIN"},
    {4, true, 31, 60, true, 188, 0x3200, false, -1, true, "QXIN"},
    {5, true, 27, 60, false, 189, 0, true, 0, false, ""},
    {6, true, 31, 60, true, 188, 0x3200, false, -1, true, "QXCC"},
    {7, true, 31, 60, true, 0, 0x3200, false, -1, true, "QXIN"},
    {8, false, 0, 0, true, 0, 0x200, false, -1, true, "QXIN"},
    {9, false, 0, 0, true, 0, 0x200, false, 0, true, "QXIN"},
};

TEST_F(VICoreTest, EachKindGetsItsOptionsListsStateAndMembership) {
  for (const KindCase& c : kKinds) {
    SCOPED_TRACE("kind " + std::to_string(c.kind));
    Seen() = Calls{};
    const std::string name = "kind" + std::to_string(c.kind);
    UHandle vi = NewVICore(c.kind, PS(name), -1);
    ASSERT_NE(vi, nullptr);
    if (!c.inList) Keep(vi);
    const VIRecord* r = VIRec(vi);
    EXPECT_EQ(Name(vi), name);
    EXPECT_EQ(r->viKind, c.kind);
    EXPECT_EQ(r->priority, 1);
    EXPECT_EQ(r->eState, uInt32(kVIStateIdle));
    EXPECT_EQ(r->windowOptions, c.first);
    EXPECT_EQ(r->stored84, c.word84);
    EXPECT_EQ(r->flags2, c.flags2);
    EXPECT_EQ(r->execSystem, c.execSystem);
    EXPECT_EQ(IsVILoaded(vi), c.inList ? 1 : 0);
    EXPECT_EQ(r->dataSpace != nullptr, c.dataSpace);
    EXPECT_EQ(r->callers != nullptr && r->subVIs != nullptr && r->strings != nullptr, c.lists);
    EXPECT_EQ(r->logRecord != nullptr, c.kind == kVIKindDatalog);
    EXPECT_EQ(r->flags & kVIFlagReentrant, c.kind == 8 ? kVIFlagReentrant : 0u);
    EXPECT_EQ(Seen().runInit, c.dataSpace ? 1 : 0);
    EXPECT_EQ(Seen().initDCOs, c.dataSpace ? 1 : 0);
    EXPECT_TRUE(VIHasTypeRec(vi));
    ASSERT_EQ(r->panelHeap != nullptr, c.panel);
    if (c.panel) {
      ObjHeap p = r->panelHeap;
      EXPECT_EQ(OHWord(p, kOHKind), kPanelHeapKind);
      EXPECT_EQ(PanelHeapOwner(p), vi);
      EXPECT_EQ(GetNative16(*p + Ext(p) + kHeapExtWindowOptions), c.first);
      EXPECT_EQ(GetNative16(*p + Ext(p) + kHeapExtWindowStyle), c.second);
      UHandle header = reinterpret_cast<UHandle>(uintptr_t(OHWord(p, kOHPanelHeaderHandle)));
      ASSERT_NE(header, nullptr);
      EXPECT_EQ(AZGetHandleSize(header), kPanelHeaderHandleSize);
      const int32 root = int32(ExtWord(p, kHeapExtRoot));
      ASSERT_NE(root, 0);
      EXPECT_EQ(OHBlockClass(p, root), 76);
      EXPECT_EQ(Seen().menuBar, 1);
    }
    std::vector<std::string> links;
    if (*c.viLink) {
      if (c.panel) links.push_back("FPHP:" + name);
      links.push_back(std::string(c.viLink) + ":" + name);
    }
    EXPECT_EQ(Seen().linked, links);
  }
}

TEST_F(VICoreTest, TheDatalogBindingOfANewVI) {
  UHandle vi = NewVI("logger");
  const VIRecord* r = VIRec(vi);
  ASSERT_NE(r->logBinding, nullptr);
  ASSERT_NE(r->logState, nullptr);
  EXPECT_EQ(AZGetHandleSize(r->logBinding), 8);
  EXPECT_EQ(AZGetHandleSize(r->logState), 18);
  ASSERT_EQ(AZGetHandleSize(r->logRecord), 28);
  DatalogBindingRec rec;
  std::memcpy(&rec, *r->logRecord, sizeof rec);
  ASSERT_NE(rec.logPath, nullptr);
  EXPECT_FALSE(FIsAPath(rec.logPath));
  EXPECT_TRUE(FIsAPathOrNotAPath(rec.logPath));
  ASSERT_NE(rec.recordTD, nullptr);
  const TypeDescriptor* empty = StdTDTable[kStdTDEmptyCluster];
  ASSERT_EQ(AZGetHandleSize(rec.recordTD), empty->size);
  EXPECT_EQ(std::memcmp(*rec.recordTD, empty, empty->size), 0);
  EXPECT_NE(rec.recordData, nullptr);
  EXPECT_EQ(AZGetHandleSize(rec.recordData), 0);
  EXPECT_NE(rec.controlMap, nullptr);
  EXPECT_EQ(AZGetHandleSize(rec.controlMap), 0);
  EXPECT_EQ(rec.word4, 0u);
}

TEST_F(VICoreTest, AFailedAllocationAtEveryStepLeavesNothingBehind) {
  for (int16 kind : {int16(0), int16(2), int16(3), int16(6), int16(8)}) {
    SCOPED_TRACE("kind " + std::to_string(kind));
    // Warm up: the type heap and the handle tables reach their size.
    DisposeVI(NewVICore(kind, PS("warm"), -1), 1);
    Seen() = Calls{};
    const int failures = FailEachAllocation(kind, [](int n) {
      // Every link entry made was taken back.
      for (const std::string& l : Seen().linked) EXPECT_EQ(Count(Seen().unlinked, l), 1) << l << " n " << n;
      Seen() = Calls{};
    });
    EXPECT_GE(failures, 3);
  }
}

TEST_F(VICoreTest, ANullNameIsReportedAndTheVIStillWorks) {
  UHandle vi = NewVICore(kVIKindDatalog, nullptr, -1);
  ASSERT_NE(vi, nullptr);
  EXPECT_EQ(qxtest::Reports::Get().Count("NewVICore: name was NULL... You wanted the window opened??"), 1);
  EXPECT_EQ(VIRec(vi)->name[0], 0);
  EXPECT_TRUE(IsVILoaded(vi));
  ASSERT_EQ(NewMinimalDataSpace(vi), kNoErr);
  InitDataSpace(reinterpret_cast<DataSpace>(VIRec(vi)->dataSpace));
  EXPECT_EQ(OpenFrontPanel(vi), 1);
  // A kind that stays out of the list needs no name.
  qxtest::Reports::Get().Clear();
  ObjHeap dialog = NewDialogVIHeap();
  ASSERT_NE(dialog, nullptr);
  Keep(PanelHeapOwner(dialog));
  EXPECT_EQ(qxtest::Reports::Get().Count("name was NULL"), 0);
  EXPECT_FALSE(IsVILoaded(PanelHeapOwner(dialog)));
}

TEST_F(VICoreTest, DisposeVIUnlinksAndFreesEverything) {
  const Footprint before = ZoneTotals();
  UHandle vi = NewVI("gone");
  VIRec(vi)->path = FEmptyPath(nullptr);
  VIRec(vi)->helpPath = FEmptyPath(nullptr);
  VIRec(vi)->helpTag = AZNewHClr(4);
  VIRec(vi)->connTypeMap = AZNewHClr(12);
  VIRec(vi)->title = AZNewHClr(3);
  ASSERT_EQ(NewMinimalDataSpace(vi), kNoErr);
  InitDataSpace(reinterpret_cast<DataSpace>(VIRec(vi)->dataSpace));
  DisposeVI(vi, 1);
  EXPECT_EQ(ZoneTotals(), before);
  EXPECT_FALSE(IsVILoaded(vi));
  EXPECT_EQ(Seen().unlinked, (std::vector<std::string>{"FPHP:gone", "VIDS:gone", "QXIN:gone"}));
}

// ---- The loaded-VI list -------------------------------------------------------------------

TEST_F(VICoreTest, ACallerInsertedBeforeItsSubVIIsMovedBehindIt) {
  UHandle caller = NewVI("caller");
  UHandle other = NewVI("other");
  // The list: other, caller.  A subVI of the caller that calls other arrives.
  ASSERT_TRUE(RemoveLoadedVI(caller));
  ASSERT_TRUE(RemoveLoadedVI(other));
  InsertLoadedVI(other);
  InsertLoadedVI(caller);
  EXPECT_EQ(ListNames(), (std::vector<std::string>{"caller", "other"}));
  UHandle sub = NewVICore(kVIKindDatalog, PS("sub"), -1);
  ASSERT_TRUE(RemoveLoadedVI(sub));
  Link(caller, sub);
  Link(sub, other);
  InsertLoadedVI(sub);
  EXPECT_EQ(ListNames(), (std::vector<std::string>{"other", "sub", "caller"}));
}

TEST_F(VICoreTest, EveryVIStandsAfterItsLoadedSubVIs) {
  // a calls b and c; b calls c; d calls a.  Inserted in the worst order.
  UHandle a = NewVI("a"), b = NewVI("b"), c = NewVI("c"), d = NewVI("d");
  for (UHandle v : {a, b, c, d}) RemoveLoadedVI(v);
  Link(a, b);
  Link(a, c);
  Link(b, c);
  Link(d, a);
  for (UHandle v : {d, a, b, c}) InsertLoadedVI(v);
  const std::vector<std::string> order = ListNames();
  ASSERT_EQ(order.size(), 4u);
  auto before = [&](const char* x, const char* y) { return Index(order, x) < Index(order, y); };
  EXPECT_TRUE(before("c", "b"));
  EXPECT_TRUE(before("b", "a"));
  EXPECT_TRUE(before("c", "a"));
  EXPECT_TRUE(before("a", "d"));
}

TEST_F(VICoreTest, AConflictInACycleOfCallersEnds) {
  UHandle a = NewVI("a"), b = NewVI("b"), c = NewVI("c");
  for (UHandle v : {a, b, c}) RemoveLoadedVI(v);
  Link(a, b);
  Link(b, c);
  Link(c, a);
  InsertLoadedVI(a);
  InsertLoadedVI(b);
  InsertLoadedVI(c);
  EXPECT_EQ(LoadedVICount(), 3);
  for (UHandle v : {a, b, c}) EXPECT_TRUE(IsVILoaded(v));
}

TEST_F(VICoreTest, RemovingAbsentVIsAndTheLastOne) {
  UHandle vi = NewVI("only");
  UHandle outside = Keep(NewVICore(kVIKindDialog, PS("dialog"), -1));
  EXPECT_FALSE(RemoveLoadedVI(outside));
  EXPECT_FALSE(RemoveLoadedVI(nullptr));
  EXPECT_TRUE(RemoveLoadedVI(vi));
  EXPECT_FALSE(RemoveLoadedVI(vi));
  EXPECT_EQ(FirstLoadedVI(), nullptr);
  InsertLoadedVI(vi);
  InsertLoadedVI(vi);  // twice is refused
  EXPECT_EQ(LoadedVICount(), 1);
  EXPECT_GE(qxtest::Reports::Get().Count("InsertLoadedVI"), 1);
}

// ---- Held names and purging ---------------------------------------------------------------

TEST_F(VICoreTest, TheLastReleaseOfANamePostsOnePurge) {
  EXPECT_TRUE(IsVINameFree(PS("x")));
  ASSERT_EQ(HoldVIName(PS("x"), 0), kNoErr);
  ASSERT_EQ(HoldVIName(PS("X"), 0), kNoErr);  // names compare without case
  EXPECT_FALSE(IsVINameFree(PS("x")));
  EXPECT_EQ(HoldVIName(PS("x"), 1), kNoErr);
  EXPECT_TRUE(Seen().posted.empty());
  EXPECT_FALSE(IsVINameFree(PS("x")));
  EXPECT_EQ(HoldVIName(PS("x"), 1), kNoErr);
  EXPECT_TRUE(IsVINameFree(PS("x")));
  ASSERT_EQ(Seen().posted.size(), 1u);
  EXPECT_EQ(Seen().posted[0], (std::vector<int32>{kUEPurgeVIs, 0, 0, 0, 0, 0}));
  EXPECT_EQ(HoldVIName(PS("x"), 1), kArgErr);
  EXPECT_EQ(Seen().posted.size(), 1u);
}

TEST_F(VICoreTest, ReleasingAllPostsOnlyWhenSomethingWasHeld) {
  EXPECT_EQ(HoldVIName(nullptr, 1), kNoErr);
  EXPECT_TRUE(Seen().posted.empty());
  ASSERT_EQ(HoldVIName(PS("a"), 0), kNoErr);
  ASSERT_EQ(HoldVIName(PS("b"), 0), kNoErr);
  ASSERT_EQ(HoldVIName(PS("b"), 0), kNoErr);
  EXPECT_EQ(HoldVIName(nullptr, 1), kNoErr);
  EXPECT_EQ(Seen().posted.size(), 1u);
  EXPECT_TRUE(IsVINameFree(PS("a")));
  EXPECT_TRUE(IsVINameFree(PS("b")));
  EXPECT_EQ(HoldVIName(nullptr, 0), kArgErr);
  MemFailNthAllocation(1);
  EXPECT_EQ(HoldVIName(PS("c"), 0), kMemFullErr);
  MemFailNthAllocation(0);
  EXPECT_TRUE(IsVINameFree(PS("c")));
}

TEST_F(VICoreTest, PurgeClosesACallerAndItsSubVIInOnePassCallerFirstThenDropsTheirTypes) {
  UHandle sub = NewVI("sub"), caller = NewVI("caller");
  RemoveLoadedVI(caller);
  Link(caller, sub);
  InsertLoadedVI(caller);
  ASSERT_EQ(ListNames(), (std::vector<std::string>{"sub", "caller"}));
  EXPECT_FALSE(VIIsDisposable(sub));
  EXPECT_TRUE(VIIsDisposable(caller));
  // A type only the subVI uses.
  std::vector<uChar> td = tdb::Array(tdb::EXT(), {TDFixed(7)}).Bytes();
  Bool32 found = 1;
  const int32 obj = InternTD(tdb::AsTD(td), &found);
  ASSERT_NE(obj, 0);
  TypeID id = 0;
  ASSERT_EQ(RegisterTypeID(sub, obj, &id), kNoErr);

  PurgeUnusedVIs(0);
  EXPECT_EQ(LoadedVICount(), 0);
  const int c = Index(Seen().unlinked, "QXIN:caller"), s = Index(Seen().unlinked, "QXIN:sub");
  ASSERT_GE(c, 0);
  ASSERT_GE(s, 0);
  EXPECT_LT(c, s);
  found = 1;
  InternTD(tdb::AsTD(td), &found);
  EXPECT_EQ(found, 0);
}

TEST_F(VICoreTest, WhatKeepsAVIFromBeingDisposed) {
  UHandle vi = NewVI("kept");
  EXPECT_TRUE(VIIsDisposable(vi));
  ASSERT_EQ(HoldVIName(PS("kept"), 0), kNoErr);
  EXPECT_FALSE(VIIsDisposable(vi));
  HoldVIName(PS("kept"), 1);
  ASSERT_EQ(OpenFrontPanel(vi), 1);
  EXPECT_FALSE(VIIsDisposable(vi));
  VIServerHooks server{};
  server.viHasRefs = [](UHandle, int32* count) -> Bool32 {
    if (count) *count = 1;
    return 1;
  };
  SetVIServerHooks(&server);
  CloseFPAndUnload(vi);
  EXPECT_FALSE(VIIsDisposable(vi));
  SetVIServerHooks(nullptr);
  UHandle proxy = NewVICore(kVIKindProxyCaller, PS("proxy"), -1);
  EXPECT_FALSE(VIIsDisposable(proxy));
  EXPECT_FALSE(VIIsDisposable(nullptr));
}

TEST_F(VICoreTest, CloseVIAbortsARunningVIUnlessItsNameIsHeld) {
  struct Case {
    uInt32 state;
    bool held, force;
    int aborts;
    bool disposed;
  };
  const Case cases[] = {
      {1, false, false, 0, true},  {2, false, false, 1, true}, {6, false, false, 1, true},
      {14, false, false, 1, true}, {2, true, false, 0, false}, {2, true, true, 1, false},
      {7, false, false, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("state " + std::to_string(c.state) + (c.held ? " held" : "") + (c.force ? " forced" : ""));
    Seen() = Calls{};
    UHandle vi = NewVI("runner");
    ASSERT_EQ(NewMinimalDataSpace(vi), kNoErr);
    InitDataSpace(reinterpret_cast<DataSpace>(VIRec(vi)->dataSpace));
    VIRec(vi)->eState = c.state;
    VIRec(vi)->flags2 |= kVIFlags2RetrievalMode;
    if (c.held) HoldVIName(PS("runner"), 0);
    EXPECT_EQ(CloseVI(vi, 0, 0, c.force), c.disposed ? 0 : 1);
    EXPECT_EQ(Seen().abort, c.aborts);
    EXPECT_EQ(Seen().exitRetrieve, 1);
    EXPECT_EQ(IsVILoaded(vi), c.disposed ? 0 : 1);
    if (!c.disposed) {
      EXPECT_EQ(VIRec(vi)->flags2 & 0x800000, 0x800000u);
      HoldVIName(nullptr, 1);
      DisposeVI(vi, 1);
    }
  }
}

TEST_F(VICoreTest, ABadVIThatCannotCloseIsNotMarkedForLater) {
  UHandle vi = NewVI("bad");
  VIRec(vi)->flags |= 0x4;
  HoldVIName(PS("bad"), 0);
  EXPECT_EQ(CloseVI(vi, 0, 0, 0), 1);
  EXPECT_EQ(VIRec(vi)->flags2 & 0x800000, 0u);
}

TEST_F(VICoreTest, CloseAllVIsClosesCallersFirstAndReleasesHolds) {
  UHandle sub = NewVI("sub"), caller = NewVI("caller"), held = NewVI("held");
  RemoveLoadedVI(caller);
  Link(caller, sub);
  InsertLoadedVI(caller);
  HoldVIName(PS("held"), 0);
  HoldVIName(PS("held"), 0);
  (void)held;
  EXPECT_EQ(CloseAllVIs(1), 0);
  EXPECT_EQ(LoadedVICount(), 0);
  EXPECT_TRUE(IsVINameFree(PS("held")));
  EXPECT_LT(Index(Seen().unlinked, "QXIN:caller"), Index(Seen().unlinked, "QXIN:sub"));
}

// Two VIs that call each other (a damaged hierarchy) do not refuse the quit.
TEST_F(VICoreTest, CloseAllVIsBreaksACycleOfCallers) {
  UHandle a = NewVI("a"), b = NewVI("b");
  RemoveLoadedVI(a);
  RemoveLoadedVI(b);
  Link(a, b);
  Link(b, a);
  InsertLoadedVI(a);
  InsertLoadedVI(b);
  PurgeUnusedVIs(0);
  EXPECT_EQ(LoadedVICount(), 2);
  EXPECT_EQ(CloseAllVIs(1), 0);
  EXPECT_EQ(LoadedVICount(), 0);
}

TEST_F(VICoreTest, TheRootVI) {
  ASSERT_EQ(InitInstr(), kNoErr);
  UHandle root = RootVI();
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(VIRec(root)->viKind, kVIKindRoot);
  EXPECT_EQ(VIRec(root)->flags & kVIFlagRoot, kVIFlagRoot);
  EXPECT_FALSE(IsVILoaded(root));
  EXPECT_NE(VIRec(root)->dataSpace, nullptr);
  const int aborts = Seen().abort;
  ExitInstr();
  EXPECT_EQ(RootVI(), nullptr);
  EXPECT_EQ(Seen().abort, aborts);
}

}  // namespace
