// Call chains of running data spaces, the error I/O cluster built on them,
// and the cleanup procedures of a VI's run.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "codeentry_test_support.h"
#include "engine/datasupp.h"
#include "engine/datatype.h"
#include "engine/exec/callchain.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/filemgr.h"
#include "mgsource/rsrc.h"
#include "tools/rsrcwriter.h"

#include "loadedvi_decl.h"

using namespace qxcodetest;
using qxexectest::OnlySlots;
using qxtest::Reports;

namespace {

void Name(CodeDS& ds, const char* name) {
  VIRecord* r = ds.VI();
  r->name[0] = uChar(std::strlen(name));
  std::memcpy(r->name + 1, name, r->name[0]);
}

std::string Text(LStrHandle h) {
  return h && *h ? std::string(reinterpret_cast<const char*>(LStrBuf(*h)), size_t(LStrLen(*h))) : std::string();
}

std::vector<std::string> Names(UHandle array) {
  std::vector<std::string> v;
  const int32 n = *reinterpret_cast<int32*>(*array);
  for (int32 i = 0; i < n; ++i) v.push_back(Text(reinterpret_cast<LStrHandle*>(*array + 4)[i]));
  return v;
}

void FreeArray(UHandle array) {
  ArrayResizeElts(StdTDTable[kStdTDString], 1, &array, 0);
  DSDisposeHandle(array);
}

// The managers start before the fixture's data spaces are made.
struct ManagersFirst {
  ManagersFirst() { qxexectest::StartThreadManagers(); }
};

class ChainTest : public ManagersFirst, public CodeTest {
 protected:
  void SetUp() override {
    CodeTest::SetUp();
    OnlySlots({});
    ASSERT_EQ(InitExec(), kNoErr);
    ctx_ = ExecContextAt(0);
    Name(top_, "top");
    Name(mid_, "mid");
    Name(sub_, "sub");
    // top runs at top level and calls mid, which calls sub.
    Enter(top_, &top_.run());
    Enter(mid_, &top_.run());
    Enter(sub_, &mid_.own());
  }
  void TearDown() override {
    for (CodeDS* d : {&top_, &mid_, &sub_}) (*d)->entrance.owner = nullptr;
    ctx_->current.store(nullptr);
    SetGlobalCallChainEnabled(1);
    SetContextCallChainEnabled(ctx_, 1);
    SetRunTimeRsrcFile(0);
    if (rt_) RCloseFile(rt_);
    CodeTest::TearDown();
  }
  static void Enter(CodeDS& ds, QueueElement* caller) {
    ds->entrance.owner = caller;
    ds->busy = 1;
  }
  void Running(CodeDS& ds) { ctx_->current.store(&ds.own()); }
  void OpenTexts(const std::vector<std::pair<int32, std::vector<std::string>>>& lists) {
    static std::once_flag once;
    std::call_once(once, [] {
      ASSERT_EQ(RInitResources(), kNoErr);
      ASSERT_EQ(FInitFileMgr(), kNoErr);
    });
    rsrcw::Writer w(FourCC("APPL"), FourCC("QNLX"));
    for (const auto& l : lists) w.Add(rsrcfmt::kTypeStrList, l.first, rsrcw::StrList(l.second));
    const rsrcw::Bytes bytes = w.Write();
    UHandle h = AZNewHandle(int32(bytes.size()));
    std::memcpy(*h, bytes.data(), bytes.size());
    ASSERT_EQ(ROpenFileOrHandle(nullptr, kRsrcReadOnly, &rt_, nullptr, nullptr, h), kNoErr);
    SetRunTimeRsrcFile(rt_);
  }
  ExecContext* ctx_ = nullptr;
  CodeDS top_{kPriNormal, kESysUserInterface, 0}, mid_{kPriNormal, kESysUserInterface, 0},
      sub_{kPriNormal, kESysUserInterface, 0};
  RsrcFileRef rt_ = 0;
};

TEST_F(ChainTest, CallerAndTopFollowTheEntranceOwners) {
  UHandle vi = nullptr;
  EXPECT_FALSE(GetCallChainCaller(top_.handle(), &vi)) << "owned by its own run element: the top";
  EXPECT_EQ(vi, nullptr);
  EXPECT_TRUE(GetCallChainCaller(sub_.handle(), &vi));
  EXPECT_EQ(vi, mid_.vi());
  EXPECT_TRUE(GetCallChainCaller(mid_.handle(), nullptr));
  EXPECT_EQ(GetCallChainTop(top_.handle(), 0), top_.handle()) << "a top-level data space is its own top";
  EXPECT_EQ(GetCallChainTop(sub_.handle(), 0), top_.handle());
  mid_.VI()->eState = 9;
  EXPECT_EQ(GetCallChainTop(sub_.handle(), 1), mid_.handle()) << "stops at a resumed VI";
  EXPECT_EQ(GetCallChainTop(sub_.handle(), 0), top_.handle());
  sub_->busy = 0;
  EXPECT_EQ(GetCallChainTop(sub_.handle(), 0), nullptr) << "a stopped data space has no top";
  EXPECT_EQ(GetCallChainTop(nullptr, 0), nullptr);
}

TEST_F(ChainTest, CallerCycleEnds) {
  // top's owner points back down the chain: the walk must still end.
  top_->entrance.owner = &sub_.own();
  DataSpace t = GetCallChainTop(sub_.handle(), 0);
  EXPECT_NE(t, nullptr);
}

TEST_F(ChainTest, GetCallChainListsNamesInnermostFirst) {
  UHandle array = DSNewHClr(4);
  int32 levels = -1, total = -1;
  Running(sub_);
  ASSERT_EQ(GetCallChain(sub_.handle(), array, &levels, &total), kNoErr);
  EXPECT_EQ(levels, 3);
  EXPECT_EQ(total, 9);
  EXPECT_EQ(Names(array), (std::vector<std::string>{"sub", "mid", "top"}));
  // Filled again, the element handles are reused and resized.
  Name(mid_, "a-longer-name");
  ASSERT_EQ(GetCallChain(sub_.handle(), array, &levels, &total), kNoErr);
  EXPECT_EQ(Names(array), (std::vector<std::string>{"sub", "a-longer-name", "top"}));
  EXPECT_EQ(total, 19);
  FreeArray(array);
}

TEST_F(ChainTest, GetCallChainRefusesADataSpaceNotRunByThisThread) {
  UHandle array = DSNewHClr(4);
  struct Case {
    const char* what;
    DataSpace ds;
    UHandle array;
    bool disable;
  } cases[] = {
      {"another data space", mid_.handle(), array, false},
      {"no data space", nullptr, array, false},
      {"no array", sub_.handle(), nullptr, false},
      {"chains disabled", sub_.handle(), array, true},
  };
  Running(sub_);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.disable) {
      SetGlobalCallChainEnabled(0);
      SetContextCallChainEnabled(ctx_, 0);
    }
    int32 levels = 7;
    EXPECT_EQ(GetCallChain(c.ds, c.array, &levels, nullptr), kArgErr);
    EXPECT_EQ(levels, 0);
  }
  EXPECT_EQ(CallChain(array), kArgErr) << "disabled";
  SetGlobalCallChainEnabled(1);
  EXPECT_EQ(CallChain(array), kNoErr);
  EXPECT_EQ(Names(array), (std::vector<std::string>{"sub", "mid", "top"}));
  ctx_->current.store(nullptr);
  EXPECT_EQ(CallChain(array), kArgErr) << "no clump runs";
  FreeArray(array);
}

TEST_F(ChainTest, CallChainEnabledByContextOrGlobalFlag) {
  EXPECT_TRUE(CallChainEnabled());
  SetContextCallChainEnabled(ctx_, 0);
  EXPECT_TRUE(CallChainEnabled()) << "the global flag";
  SetGlobalCallChainEnabled(0);
  EXPECT_FALSE(CallChainEnabled());
  SetContextCallChainEnabled(ctx_, 1);
  EXPECT_TRUE(CallChainEnabled()) << "the context's own flag";
}

TEST_F(ChainTest, ErrorClusterSourceKinds) {
  const char* cstr = "C text";
  const uChar pstr[] = "\x06P text";
  LStrHandle lstr = reinterpret_cast<LStrHandle>(DSNewHandle(4 + 6));
  (*lstr)->cnt = 6;
  std::memcpy(LStrBuf(*lstr), "L text", 6);
  struct Case {
    int32 kind;
    const void* source;
    std::string expect;
  } cases[] = {
      {kErrSourceCStr, cstr, "C text"}, {kErrSourcePStr, pstr, "P text"}, {kErrSourceLStr, lstr, "L text"},
      {0, cstr, ""},                    {kErrSourceCStr, nullptr, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    ErrorIOCluster cl{};
    ASSERT_EQ(SetErrorIOClust(&cl, 5, 42, c.kind, c.source, nullptr), kNoErr);
    EXPECT_EQ(cl.status, 1);
    EXPECT_EQ(int32(cl.code), 42) << "packed: read by value";
    ASSERT_NE(LStrHandle(cl.source), nullptr) << "a null source handle gets a new one";
    EXPECT_EQ(Text(cl.source), c.expect);
    DSDisposeHandle(reinterpret_cast<UHandle>(cl.source));
  }
  ErrorIOCluster none{};
  ASSERT_EQ(SetErrorIOClust(&none, 0, 0, 0, nullptr, nullptr), kNoErr);
  EXPECT_EQ(none.status, 0);
  DSDisposeHandle(reinterpret_cast<UHandle>(none.source));
  DSDisposeHandle(reinterpret_cast<UHandle>(lstr));
}

TEST_F(ChainTest, ErrorClusterNamesTheChainAndReusesItsOwnHandle) {
  Running(sub_);
  ErrorIOCluster cl{};
  ASSERT_EQ(SetErrorIOClust(&cl, 1, 7, kErrSourceCStr, "text", sub_.handle()), kNoErr);
  EXPECT_EQ(Text(cl.source), "text in sub->mid->top");
  // The source may be the cluster's own (short) handle.
  ASSERT_EQ(SetErrorIOClust(&cl, 1, 7, kErrSourceLStr, cl.source, nullptr), kNoErr);
  EXPECT_EQ(Text(cl.source), "text in sub->mid->top");
  // A data space that this thread does not run: no chain.
  ASSERT_EQ(SetErrorIOClust(&cl, 1, 7, kErrSourceCStr, "x", mid_.handle()), kNoErr);
  EXPECT_EQ(Text(cl.source), "x");
  DSDisposeHandle(reinterpret_cast<UHandle>(cl.source));
}

TEST_F(ChainTest, ErrorClusterMemoryFailureKeepsSizeAndCount) {
  ErrorIOCluster cl{};
  cl.source = reinterpret_cast<LStrHandle>(DSNewHandle(4 + 5));
  (*cl.source)->cnt = 3;
  std::memcpy(LStrBuf(*cl.source), "abcde", 5);
  MemFailNthAllocation(1);
  const MgErr err = SetErrorIOClust(&cl, 1, 9, kErrSourceCStr, "0123456789", nullptr);
  MemFailNthAllocation(0);
  ASSERT_EQ(err, kMemFullErr);
  EXPECT_EQ(DSGetHandleSize(reinterpret_cast<UHandle>(cl.source)), 9);
  EXPECT_EQ((*cl.source)->cnt, 3);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(LStrBuf(*cl.source)), 5), "01234");
  DSDisposeHandle(reinterpret_cast<UHandle>(cl.source));
}

TEST_F(ChainTest, ErrorClusterFromResourceWithArgument) {
  OpenTexts({{5000, {"bad input"}}});
  Running(sub_);
  struct Case {
    int32 arg;
    std::string expect;
  } cases[] = {{0, "bad input"}, {2, "bad input (arg 2)"}, {-1, "bad input"}};
  for (const Case& c : cases) {
    ErrorIOCluster cl{};
    ASSERT_EQ(SetErrorIOClustWithArg(&cl, 1, 1, 5000, c.arg, nullptr), kNoErr);
    EXPECT_EQ(Text(cl.source), c.expect);
    DSDisposeHandle(reinterpret_cast<UHandle>(cl.source));
  }
  ErrorIOCluster cl{};
  ASSERT_EQ(SetErrorIOClustFromRsrc(&cl, 1, 1, 5000, sub_.handle()), kNoErr);
  EXPECT_EQ(Text(cl.source), "bad input in sub->mid->top");
  ASSERT_EQ(SetErrorIOClustFromRsrc(&cl, 1, 1, 5001, nullptr), kNoErr);
  EXPECT_EQ(Text(cl.source), "") << "a list that cannot be read: no source text";
  DSDisposeHandle(reinterpret_cast<UHandle>(cl.source));
}

// ---- Cleanup procedures ---------------------------------------------------------------

std::vector<int> gCalls;
int32 Record(void* cookie) {
  gCalls.push_back(int(reinterpret_cast<intptr_t>(cookie)));
  return 0;
}
int32 RegisterAnother(void* cookie) {
  gCalls.push_back(int(reinterpret_cast<intptr_t>(cookie)));
  // Grows the list while it is walked.
  for (int i = 0; i < 20; ++i) RTSetCleanupProc(&Record, reinterpret_cast<void*>(intptr_t(1000 + i)), 2);
  return 0;
}

class CleanupTest : public ChainTest {
 protected:
  void SetUp() override {
    ChainTest::SetUp();
    gCalls.clear();
    RunCleanupProcs(nullptr);
    gCalls.clear();
    Running(sub_);
  }
  void TearDown() override {
    RunCleanupProcs(nullptr);
    DisposeCleanupList();
    ChainTest::TearDown();
  }
  static void* C(int n) { return reinterpret_cast<void*>(intptr_t(n)); }
};

TEST_F(CleanupTest, RegisteringTwiceRegistersOnceAndModeZeroRemoves) {
  EXPECT_EQ(RTSetCleanupProc(&Record, C(1), 2), 1);
  EXPECT_EQ(RTSetCleanupProc(&Record, C(1), 2), 0);
  EXPECT_EQ(CleanupProcCount(), 1);
  EXPECT_EQ(RTSetCleanupProc(&Record, C(1), 0), 1);
  EXPECT_EQ(RTSetCleanupProc(&Record, C(1), 0), 0) << "nothing left to remove";
  EXPECT_EQ(CleanupProcCount(), 0);
  // Many registrations grow the list by steps.
  for (int i = 0; i < 20; ++i) EXPECT_EQ(RTSetCleanupProc(&Record, C(i), 2), 1);
  EXPECT_EQ(CleanupProcCount(), 20);
}

TEST_F(CleanupTest, ModesRunAtTheirEnd) {
  RTSetCleanupProc(&Record, C(1), 1);
  RTSetCleanupProc(&Record, C(2), 2);
  RTSetCleanupProc(&Record, C(3), 3);
  RunCleanupProcs(top_.handle());
  EXPECT_EQ(gCalls, std::vector<int>{2}) << "mode 2 belongs to the chain's top VI";
  RunCleanupProcs(top_.handle());
  EXPECT_EQ(gCalls, std::vector<int>{2}) << "run once";
  RunAbortCleanupProcs(top_.handle());
  EXPECT_EQ(gCalls, (std::vector<int>{2, 3}));
  RunCleanupProcs(sub_.handle());
  RunAbortCleanupProcs(sub_.handle());
  EXPECT_EQ(gCalls, (std::vector<int>{2, 3})) << "mode 1 waits for shut-down";
  RunCleanupProcs(nullptr);
  EXPECT_EQ(gCalls, (std::vector<int>{2, 3, 1}));
}

TEST_F(CleanupTest, NoCurrentElementIsRefused) {
  ctx_->current.store(nullptr);
  Reports::Get().Clear();
  EXPECT_EQ(RTSetCleanupProc(&Record, C(1), 2), 0);
  EXPECT_GT(Reports::Get().Count("cleanup"), 0);
  EXPECT_EQ(RTSetCleanupProc(&Record, C(1), 9), 0) << "unknown mode";
}

TEST_F(CleanupTest, ExternalRegistrationByName) {
  const uChar topName[] = "\x03TOP", none[] = "\x04none";
  InsertLoadedVI(top_.vi());
  EXPECT_EQ(ExtRTSetCleanupProc(none, &Record, C(1), 4), 0) << "no such VI";
  EXPECT_EQ(ExtRTSetCleanupProc(topName, &Record, C(1), 4), 0) << "this thread runs the named VI";
  ctx_->current.store(nullptr);
  EXPECT_EQ(ExtRTSetCleanupProc(topName, &Record, C(1), 4), 1);
  EXPECT_EQ(ExtRTSetCleanupProc(topName, &Record, C(5), 5), 1);
  RunCleanupProcs(mid_.handle());
  EXPECT_TRUE(gCalls.empty());
  RunCleanupProcs(top_.handle());
  EXPECT_EQ(gCalls, std::vector<int>{1});
  RunAbortCleanupProcs(top_.handle());
  EXPECT_EQ(gCalls, (std::vector<int>{1, 5}));
  RemoveLoadedVI(top_.vi());
}

TEST_F(CleanupTest, AProcedureThatRegistersMoreLeavesTheListIntact) {
  RTSetCleanupProc(&RegisterAnother, C(7), 2);
  RunCleanupProcs(top_.handle());
  EXPECT_EQ(gCalls, std::vector<int>{7});
  EXPECT_EQ(CleanupProcCount(), 20) << "the new entries stay for the next run";
  RunCleanupProcs(top_.handle());
  EXPECT_EQ(gCalls.size(), 21u);
  EXPECT_EQ(CleanupProcCount(), 0);
}

}  // namespace
