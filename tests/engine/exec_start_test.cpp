// Start-up, routing, the configuration record and shut-down of the
// execution systems.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "exec_test_support.h"

using namespace qxexectest;

namespace {

// The slot that serves each slot with the built-in table and threads on:
// background slots are served by the normal slot of their system.
int DefaultEffective(int slot) {
  if (slot == 0) return 0;
  return (slot - 1) % 5 == 0 ? slot + 1 : slot;
}

int SystemOf(int slot) { return slot == 0 ? 0 : (slot - 1) / 5 + 1; }
int PriorityOf(int slot) { return slot == 0 ? 1 : (slot - 1) % 5; }

void ExpectRoutingConsistent() {
  for (int p = 0; p < 5; ++p)
    for (int s = 0; s < 6; ++s) {
      int want = s == 0 ? 0 : ExecEffectiveSlot(1 + (s - 1) * 5 + p);
      EXPECT_EQ(ExecSysSlot(p, s), want) << p << " " << s;
      EXPECT_EQ(ExecRoutingRow(p)[s], want);
    }
}

std::string FileText(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

int32 ReadIntKey(const std::string& key, int32 dflt) {
  Str255 k;
  k[0] = uChar(key.size());
  std::memcpy(k + 1, key.data(), key.size());
  int32 v = dflt;
  CfgGetDefault(kCfgInt, k, &v);
  return v;
}

bool KeyPresent(const std::string& key) {
  Str255 k;
  k[0] = uChar(key.size());
  std::memcpy(k + 1, key.data(), key.size());
  int32 v = 0;
  return CfgGetDefault(kCfgInt, k, &v) == kNoErr;
}

class StartTest : public ExecTest {};

TEST(ExecRecords, SignaturesHoldTheirCharactersInReadingOrder) {
  struct {
    uInt32 sig;
    const char* text;
  } cases[] = {{kExecRunRecordSig, "PREQ"}, {kExecContextSig, "ECTX"}, {kExecQueueSig, "EXEQ"},
               {kQueueElementSig, "QELM"},  {kDataSpaceSig, "DATA"},   {kVIEntranceSig, "VENT"}};
  for (auto& c : cases) EXPECT_EQ(std::memcmp(&c.sig, c.text, 4), 0) << c.text;
}

TEST_F(StartTest, SlotTableRowsAndNames) {
  const char* names[26] = {"userInterfaceESys", "backGroundPriorityESys", "normalPriorityESys",
                           "aboveNormalPriorityEsys", "highPriorityEsys", "timeCriticalPriorityESys",
                           "InstrIOBackGroundPriorityESys", "InstrIONormalPriorityESys",
                           "InstrIOAboveNormalPriorityEsys", "InstrIOHighPriorityEsys",
                           "InstrIOTimeCriticalPriorityESys", "DAQBackGroundPriorityESys", "DAQNormalPriorityESys",
                           "DAQAboveNormalPriorityEsys", "DAQHighPriorityEsys", "DAQTimeCriticalPriorityESys",
                           "Other1BackGroundPriorityESys", "Other1NormalPriorityESys",
                           "Other1AboveNormalPriorityEsys", "Other1HighPriorityEsys",
                           "Other1TimeCriticalPriorityESys", "Other2BackGroundPriorityESys",
                           "Other2NormalPriorityESys", "Other2AboveNormalPriorityEsys", "Other2HighPriorityEsys",
                           "Other2TimeCriticalPriorityESys"};
  int fallback[26] = {0, 2, 0, 2, 3, 4, 7, 2, 7, 8, 9, 12, 2, 12, 13, 14, 17, 2, 17, 18, 19, 22, 2, 22, 23, 24};
  const ExecSlot* t = ExecSlotTable();
  for (int s = 0; s < 26; ++s) {
    EXPECT_STREQ(ExecSlotName(s), names[s]);
    EXPECT_EQ(t[s].fallback, fallback[s]) << s;
    EXPECT_EQ(t[s].systemFirst, s == 0 ? 0 : 1 + (SystemOf(s) - 1) * 5) << s;
    EXPECT_EQ(t[s].priority, PriorityOf(s)) << s;
  }
  EXPECT_STREQ(ExecSlotName(26), "");
  EXPECT_STREQ(ExecSlotName(-1), "");
}

TEST_F(StartTest, DefaultCountsAndRoutingWithTwoProcessors) {
  ASSERT_EQ(InitExec(), kNoErr);
  EXPECT_TRUE(ExecThreadsOn());
  EXPECT_TRUE(ExecInitialised());
  EXPECT_FALSE(ExecConfigDiffers());
  EXPECT_EQ(ExecStdNParallel(), kConfigExecUnset);
  EXPECT_EQ(ExecContextCount(), 1 + 20 * 2);
  EXPECT_EQ(ExecRunRecordCount(), 1 + 20);
  EXPECT_EQ(ExecTimeSlice(), 0);  // no timer service
  EXPECT_EQ(ExecResettingDlgDelay(), 1100);
  EXPECT_TRUE(ExecUseOldData());
  EXPECT_TRUE(ExecUseOldDataOnArrays());
  for (int s = 0; s < 26; ++s) {
    EXPECT_EQ(ExecEffectiveSlot(s), DefaultEffective(s)) << s;
    EXPECT_EQ(ExecSlotRunRecord(s)->slot, DefaultEffective(s));
    EXPECT_EQ(ExecSlotContext(s)->slot, DefaultEffective(s));
    EXPECT_EQ(ExecSlotTable()[s].threads, s == 0 ? 1 : (s - 1) % 5 == 0 ? 0 : 2) << s;
  }
  EXPECT_EQ(ExecEffectiveSlot(1), 2);
  EXPECT_EQ(ExecEffectiveSlot(8), 8);
  ExpectRoutingConsistent();
  // Each record's contexts follow one another and name it.
  for (int i = 0; i < ExecRunRecordCount(); ++i) {
    ExecRunRecord* r = ExecRunRecordAt(i);
    EXPECT_EQ(r->signature, kExecRunRecordSig);
    ASSERT_NE(r->mutex, nullptr);
    ASSERT_NE(r->event, nullptr);
    std::string queue = std::string("PrEQ for ") + ExecSlotName(r->slot);
    EXPECT_EQ(std::string(r->mutex->name), queue + ":qRights");
    EXPECT_EQ(std::string(r->event->name), queue + ":qeAvail");
    for (int k = 0; k < r->threads; ++k) {
      ExecContext* c = r->firstContext + k;
      EXPECT_EQ(c->signature, kExecContextSig);
      EXPECT_EQ(c->runRecord, r);
      EXPECT_EQ(c->slot, r->slot);
      EXPECT_EQ(c->execSystem, SystemOf(r->slot));
      EXPECT_EQ(c->priority, PriorityOf(r->slot));
      EXPECT_EQ(c->alive.load(), r->slot == 0 ? 0 : 1);  // the UI thread sets it in its own loop
      EXPECT_EQ(c->countdown, &c->ownCountdown);
    }
  }
  EXPECT_EQ(GetCurExecContext(), ExecContextAt(0));
  EXPECT_NE(ExecCleanTblMutex(), nullptr);
  EXPECT_STREQ(ExecCleanTblMutex()->name, "gCleanTblMutex");
  ASSERT_NE(ExecResetList(), nullptr);
  EXPECT_GE(DSGetHandleSize(ExecResetList()), 4 + 4 * kResetListRoom);
  EXPECT_EQ(ExecFailures(), 0);
}

TEST_F(StartTest, NoParallelThreadsRoutesEverythingToTheUserInterface) {
  SetKey("ESys.StdNParallel", 0);
  SetKey("ESys.High", 4);  // ignored without -1
  ASSERT_EQ(InitExec(), kNoErr);
  EXPECT_FALSE(ExecThreadsOn());
  EXPECT_EQ(ExecContextCount(), 1);
  EXPECT_EQ(ExecRunRecordCount(), 1);
  EXPECT_EQ(ExecStdNParallel(), 0);
  for (int s = 0; s < 26; ++s) EXPECT_EQ(ExecEffectiveSlot(s), 0) << s;
  for (int p = 0; p < 5; ++p)
    for (int s = -1; s < 6; ++s) EXPECT_EQ(ExecSysSlot(p, s), 0);
  // Without threads no mutex or event is made, and the one context is everyone's.
  EXPECT_EQ(ExecRunRecordAt(0)->mutex, nullptr);
  EXPECT_EQ(ExecRunRecordAt(0)->event, nullptr);
  EXPECT_EQ(GetCurExecContext(), ExecContextAt(0));
  EXPECT_EQ(ExecContextAt(0)->countdown, &ExecContextAt(0)->ownCountdown);
}

TEST_F(StartTest, RoutingUnderConfigurations) {
  struct Case {
    const char* what;
    int processors;
    std::vector<std::pair<std::string, int>> keys;
    std::vector<int> effective;  // slot by slot; empty: the defaults
    bool differs;
  };
  std::vector<int> allZero(26, 0);
  std::vector<int> noInstrument;
  for (int s = 0; s < 26; ++s) noInstrument.push_back(s >= 6 && s <= 10 ? 2 : DefaultEffective(s));
  std::vector<Case> cases = {
      {"defaults, 8 processors", 8, {}, {}, false},
      {"no instrument threads", 2,
       {{"ESys.StdNParallel", -1},
        {"ESys.instrument.Bgrnd", 0},
        {"ESys.instrument.Normal", 0},
        {"ESys.instrument.High", 0},
        {"ESys.instrument.VHigh", 0},
        {"ESys.instrument.TCritical", 0}},
       noInstrument, true},
      {"per-slot keys without -1", 2, {{"ESys.High", 3}, {"ESys.DAQ.Bgrnd", 2}}, {}, true},
      {"per-slot keys equal to the table", 2, {{"ESys.Bgrnd", 0}, {"ESys.Normal", -1}}, {}, false},
  };
  std::vector<std::pair<std::string, int>> zeros = {{"ESys.StdNParallel", -1}};
  for (const std::string& k : SlotKeyNames()) zeros.push_back({k, 0});
  cases.push_back({"all counts 0", 2, zeros, allZero, true});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ClearExecKeys();
    ThSetTestProcessorCount(c.processors);
    for (auto& kv : c.keys) SetKey(kv.first, kv.second);
    ASSERT_EQ(InitExec(), kNoErr);
    for (int s = 0; s < 26; ++s)
      EXPECT_EQ(ExecEffectiveSlot(s), c.effective.empty() ? DefaultEffective(s) : c.effective[s]) << s;
    EXPECT_EQ(ExecConfigDiffers(), c.differs ? 1 : 0);
    ExpectRoutingConsistent();
    for (int s = -1; s < 6; ++s) EXPECT_EQ(ExecSysSlot(5, s), -1);
    for (int p = 0; p < 5; ++p) {
      EXPECT_EQ(ExecSysSlot(p, -1), ExecSysSlot(p, 1));
      EXPECT_EQ(ExecSysSlot(p, 0), 0);
    }
    FinishExec();
  }
  EXPECT_EQ(ExecFailures(), 0);
}

// Chains that leave their system: a slot of another system without threads
// sends the chain on from the fallback of that system's slot of the starting
// priority, so a DAQ time-critical slot reaches standard high through the
// fallback of standard time critical, while DAQ high, going on from the
// fallback of standard high, finds no threads before the user-interface slot.
TEST_F(StartTest, FallbackThroughAnotherSystemsSlot) {
  OnlySlots({{4, 1}, {7, 1}});  // standard high, instrument normal
  ASSERT_EQ(InitExec(), kNoErr);
  struct {
    int slot, want;
  } cases[] = {
      {7, 7},   {8, 7},  {9, 7},  {10, 7}, {6, 7},  // their own system's normal slot
      {4, 4},   {5, 4},                             // standard time critical falls to high
      {3, 0},   {2, 0},  {1, 0},                    // standard, below high: nothing but the UI
      {13, 0},  {12, 0}, {14, 0}, {19, 0}, {24, 0},
      {15, 4},  {20, 4}, {25, 4},
  };
  for (auto& c : cases) EXPECT_EQ(ExecEffectiveSlot(c.slot), c.want) << c.slot;
  ExpectRoutingConsistent();
}

TEST_F(StartTest, ProcessorCountsThatDoNotFitAreShared) {
  for (int processors : {8, 64}) {
    SCOPED_TRACE(processors);
    ClearReports();
    ThSetTestProcessorCount(processors);
    int32 freeBefore = ThFreeThreadSlots();
    ASSERT_EQ(InitExec(), kNoErr);
    EXPECT_GE(ThFreeThreadSlots(), kExecThreadReserve);
    int each = (freeBefore - kExecThreadReserve) / 20;
    EXPECT_EQ(ExecContextCount(), 1 + 20 * each);
    EXPECT_EQ(ThFreeThreadSlots(), freeBefore - 20 * each);
    for (int s = 0; s < 26; ++s) {
      EXPECT_EQ(ExecEffectiveSlot(s), DefaultEffective(s));
      EXPECT_EQ(ExecSlotTable()[s].threads, s == 0 ? 1 : (s - 1) % 5 == 0 ? 0 : each);
    }
    EXPECT_EQ(qxtest::Reports::Get().Count("threads per processor slot"), 1);
    UHandle h = DSNewHandle(0);
    ASSERT_EQ(ConfigExec(h, 0), kNoErr);
    EXPECT_EQ(reinterpret_cast<int32*>(*h)[1 + 26], processors);
    EXPECT_EQ(reinterpret_cast<int32*>(*h)[1 + 2], each);  // slot 3
    DSDisposeHandle(h);
    FinishExec();
    EXPECT_EQ(ThFreeThreadSlots(), freeBefore);
  }
}

TEST_F(StartTest, ExplicitCountsThatCannotFitStartNothing) {
  OnlySlots({{2, 50}, {7, 50}, {12, 50}, {17, 50}});
  int32 freeBefore = ThFreeThreadSlots();
  auto zonesBefore = ZoneTotals();
  EXPECT_EQ(InitExec(), kMemFullErr);
  EXPECT_EQ(ZoneTotals(), zonesBefore);
  EXPECT_EQ(ThFreeThreadSlots(), freeBefore);
  EXPECT_FALSE(ExecInitialised());
  EXPECT_EQ(ExecContextCount(), 0);
  EXPECT_EQ(ExecRunRecordCount(), 0);

  // One thread for each processor slot beside explicit counts that leave too
  // little room is refused as well.
  ClearExecKeys();
  SetKey("ESys.StdNParallel", -1);
  SetKey("ESys.Normal", freeBefore - kExecThreadReserve - 5);
  EXPECT_EQ(InitExec(), kMemFullErr);
  // Huge counts do not wrap around.
  ClearExecKeys();
  SetKey("ESys.StdNParallel", -1);
  for (const std::string& k : SlotKeyNames()) SetKey(k, 2147483647);
  EXPECT_EQ(InitExec(), kMemFullErr);
  EXPECT_EQ(ThFreeThreadSlots(), freeBefore);
  EXPECT_EQ(ZoneTotals(), zonesBefore);
}

TEST_F(StartTest, CountsBelowMinusOneMeanNoThreads) {
  OnlySlots({{2, 1}});
  SetKey("ESys.High", -7);   // slot 3, above normal
  SetKey("ESys.VHigh", -1);  // slot 4, high
  ASSERT_EQ(InitExec(), kNoErr);
  EXPECT_EQ(ExecSlotTable()[3].threads, 0);
  EXPECT_EQ(ExecSlotTable()[4].threads, 2);  // -1: the processor count
  EXPECT_EQ(ExecContextCount(), 1 + 1 + 2);
  EXPECT_EQ(ExecEffectiveSlot(3), 2);
  EXPECT_EQ(ExecEffectiveSlot(5), 4);
}

TEST_F(StartTest, OtherKeysAreRead) {
  SetKey("ESys.StdNParallel", 0);
  SetKey("resettingDlgDelay", 250);
  CfgTestSetValue("useOldData", "false");
  ASSERT_EQ(InitExec(), kNoErr);
  EXPECT_EQ(ExecResettingDlgDelay(), 250);
  EXPECT_FALSE(ExecUseOldData());
  EXPECT_TRUE(ExecUseOldDataOnArrays());
}

TEST_F(StartTest, ConfigRecordModesZeroAndOne) {
  SetKey("ESys.StdNParallel", -1);
  SetKey("ESys.Normal", 3);
  SetKey("ESys.DAQ.TCritical", 1);
  ASSERT_EQ(InitExec(), kNoErr);
  UHandle h = DSNewHandle(4);
  ASSERT_EQ(ConfigExec(h, 0), kNoErr);
  ASSERT_EQ(DSGetHandleSize(h), kConfigExecSize);
  int32* w = reinterpret_cast<int32*>(*h);
  EXPECT_EQ(w[0], 27);
  for (int s = 1; s <= 25; ++s) EXPECT_EQ(w[s], ExecSlotTable()[s].threads) << s;
  EXPECT_EQ(w[2], 3);
  EXPECT_EQ(w[15], 1);
  EXPECT_EQ(w[26], -1);
  EXPECT_EQ(w[27], 2);

  ASSERT_EQ(ConfigExec(h, 1), kNoErr);
  w = reinterpret_cast<int32*>(*h);
  for (int s = 1; s <= 25; ++s) EXPECT_EQ(w[s], s == 2 ? 3 : s == 15 ? 1 : -2) << s;
  EXPECT_EQ(w[26], -1);
  FinishExec();

  // Without the key, word 25 says so.
  ClearExecKeys();
  ASSERT_EQ(InitExec(), kNoErr);
  ASSERT_EQ(ConfigExec(h, 0), kNoErr);
  EXPECT_EQ(reinterpret_cast<int32*>(*h)[26], kConfigExecUnset);
  ASSERT_EQ(ConfigExec(h, 1), kNoErr);
  for (int i = 1; i <= 26; ++i) EXPECT_EQ(reinterpret_cast<int32*>(*h)[i], kConfigExecUnset) << i;
  DSDisposeHandle(h);

  // A handle of the application zone is filled too.
  UHandle a = AZNewHandle(0);
  ASSERT_EQ(ConfigExec(a, 0), kNoErr);
  EXPECT_EQ(AZGetHandleSize(a), kConfigExecSize);
  EXPECT_EQ(reinterpret_cast<int32*>(*a)[0], 27);
  AZDisposeHandle(a);
}

TEST_F(StartTest, ConfigRecordModeTwoWritesPerSlotKeysOnlyWithMinusOne) {
  UHandle h = DSNewHandle(0);
  ASSERT_EQ(ConfigExec(h, 1), kNoErr);
  int32* w = reinterpret_cast<int32*>(*h);
  w[1 + 0] = 1;   // ESys.Bgrnd
  w[1 + 6] = 4;   // ESys.instrument.Normal
  w[1 + 24] = 0;  // ESys.other2.TCritical
  w[1 + 25] = -1;
  ASSERT_EQ(ConfigExec(h, 2), kNoErr);
  EXPECT_EQ(ReadIntKey("ESys.Bgrnd", 99), 1);
  EXPECT_EQ(ReadIntKey("ESys.instrument.Normal", 99), 4);
  EXPECT_EQ(ReadIntKey("ESys.other2.TCritical", 99), 0);
  EXPECT_FALSE(KeyPresent("ESys.High"));
  EXPECT_EQ(ReadIntKey("ESys.StdNParallel", 99), -1);
  EXPECT_TRUE(ExecConfigDiffers());

  // Another setting removes every per-slot key, whatever the words hold.
  w = reinterpret_cast<int32*>(*h);
  w[1 + 25] = 4;
  ASSERT_EQ(ConfigExec(h, 2), kNoErr);
  for (const std::string& k : SlotKeyNames()) EXPECT_FALSE(KeyPresent(k)) << k;
  EXPECT_EQ(ReadIntKey("ESys.StdNParallel", 99), 4);
  EXPECT_FALSE(ExecConfigDiffers());

  // -2 removes the setting itself.
  w = reinterpret_cast<int32*>(*h);
  w[1 + 25] = kConfigExecUnset;
  ASSERT_EQ(ConfigExec(h, 2), kNoErr);
  EXPECT_FALSE(KeyPresent("ESys.StdNParallel"));
  DSDisposeHandle(h);
}

TEST_F(StartTest, ConfigRecordRefusesBadRecords) {
  SetKey("ESys.StdNParallel", 3);
  SetKey("ESys.DAQ.High", 2);
  std::string before = FileText(TestConfigFile::Name());
  ASSERT_FALSE(before.empty());

  UHandle h = DSNewHClr(kConfigExecSize);
  int32* w = reinterpret_cast<int32*>(*h);
  w[0] = 26;
  w[1 + 25] = -1;
  EXPECT_EQ(ConfigExec(h, 2), kArgErr);  // count not 27
  reinterpret_cast<int32*>(*h)[0] = 27;
  ASSERT_EQ(DSSetHandleSize(h, kConfigExecSize - 4), kNoErr);
  EXPECT_EQ(ConfigExec(h, 2), kArgErr);  // too short
  EXPECT_EQ(FileText(TestConfigFile::Name()), before);

  EXPECT_EQ(ConfigExec(nullptr, 0), kArgErr);
  EXPECT_EQ(ConfigExec(h, 3), kArgErr);
  EXPECT_EQ(ConfigExec(h, -1), kArgErr);
  // Something that is not a handle of either zone.
  int32 fake[28] = {27};
  UPtr p = reinterpret_cast<UPtr>(fake);
  EXPECT_EQ(ConfigExec(&p, 0), kArgErr);
  EXPECT_EQ(fake[1], 0);
  // A short record is remade by mode 0.
  ASSERT_EQ(ConfigExec(h, 0), kNoErr);
  EXPECT_EQ(DSGetHandleSize(h), kConfigExecSize);
  DSDisposeHandle(h);
  EXPECT_EQ(FileText(TestConfigFile::Name()), before);
}

TEST_F(StartTest, ShutDownStopsEveryThreadAndTellsSo) {
  int32 freeBefore = ThFreeThreadSlots();
  auto zonesBefore = ZoneTotals();
  ASSERT_EQ(InitExec(), kNoErr);
  EXPECT_EQ(ThFreeThreadSlots(), freeBefore - 40);
  std::vector<ExecContext*> contexts;
  for (int i = 1; i < ExecContextCount(); ++i) contexts.push_back(ExecContextAt(i));
  ClearReports();
  FinishExec();
  EXPECT_EQ(ThFreeThreadSlots(), freeBefore);
  EXPECT_EQ(ExecContextCount(), 0);
  EXPECT_FALSE(ExecInitialised());
  EXPECT_EQ(GetCurExecContext(), nullptr);
  EXPECT_EQ(ZoneTotals(), zonesBefore);

  std::string text = ReportText();
  size_t start = text.find("FINISH EXEC: Start");
  size_t wait = text.find("FE: waiting for thread 0x");
  size_t dispose1 = text.find("FINISH EXEC: Disposing Threads");
  size_t dispose2 = text.find("FINISH EXEC: Disposing Threads", dispose1 + 1);
  size_t done = text.find("FINISH EXEC: Completed");
  ASSERT_NE(start, std::string::npos);
  ASSERT_NE(wait, std::string::npos);
  ASSERT_NE(dispose2, std::string::npos);
  ASSERT_NE(done, std::string::npos);
  EXPECT_LT(start, wait);
  EXPECT_LT(wait, dispose1);
  EXPECT_LT(dispose1, dispose2);
  EXPECT_LT(dispose2, done);
  EXPECT_EQ(qxtest::Reports::Get().Count("FE: waiting for thread 0x"), 40);
  EXPECT_EQ(ExecFailures(), 0);

  // A second start after a shut-down works the same.
  ASSERT_EQ(InitExec(), kNoErr);
  EXPECT_EQ(ExecContextCount(), 41);
  FinishExec();
  EXPECT_EQ(ThFreeThreadSlots(), freeBefore);
}

TEST_F(StartTest, AFailedThreadCreationUndoesEverything) {
  // One whole start and shut-down first: what the first start keeps for the
  // run (its pools) is then outside the totals compared below.
  ASSERT_EQ(InitExec(), kNoErr);
  FinishExec();
  for (int nth : {1, 3, 40}) {
    SCOPED_TRACE(nth);
    int32 freeBefore = ThFreeThreadSlots();
    auto zonesBefore = ZoneTotals();
    ThSetTestCreateFailure(nth);
    EXPECT_EQ(InitExec(), kMemFullErr);
    ThSetTestCreateFailure(0);
    EXPECT_FALSE(ExecInitialised());
    EXPECT_EQ(ExecContextCount(), 0);
    EXPECT_EQ(ExecRunRecordCount(), 0);
    EXPECT_EQ(ThFreeThreadSlots(), freeBefore);
    EXPECT_EQ(ZoneTotals(), zonesBefore);
  }
  ASSERT_EQ(InitExec(), kNoErr);
  EXPECT_EQ(ExecContextCount(), 41);
}

TEST_F(StartTest, StartingTwiceIsReported) {
  SetKey("ESys.StdNParallel", 0);
  ASSERT_EQ(InitExec(), kNoErr);
  EXPECT_EQ(InitExec(), kNoErr);
  EXPECT_EQ(ExecFailures(), 1);
  EXPECT_EQ(ExecContextCount(), 1);
}

TEST_F(StartTest, QueuingBeforeStartOrOutsideTheSlotsIsReported) {
  TestDataSpace ds(1);
  QueueElement e = NewElement(ds.handle());
  EnqPrRunQ(2, &e);  // nothing started
  EXPECT_EQ(ExecFailures(), 1);
  SetKey("ESys.StdNParallel", 0);
  ASSERT_EQ(InitExec(), kNoErr);
  EnqPrRunQ(26, &e);
  EnqPrRunQ(-1, &e);
  EXPECT_EQ(ExecFailures(), 3);
  EXPECT_EQ(ExecSysSlot(6, 1), -1);
  EXPECT_EQ(ExecSysSlot(1, 6), -1);
  EXPECT_EQ(ExecSysSlot(1, -2), -1);
  EXPECT_EQ(ExecFailures(), 6);
  EXPECT_EQ(e.next, nullptr);
  EXPECT_EQ(ExecRunRecordAt(0)->runQueue->head, nullptr);
}

// An element goes to its data space's chosen slot, or by priority to the
// standard system's slot.
TEST_F(StartTest, EnQRunQUsesTheChosenSlotOrThePriority) {
  OnlySlots({{2, 1}, {9, 1}});
  ASSERT_EQ(InitExec(), kNoErr);
  ExecSetTestRunProc([](ExecContext*, QueueElement*) {});
  TestDataSpace byPriority(3, kESysSameAsCaller);
  TestDataSpace chosen(1, kESysInstrument, ExecSysSlot(3, kESysInstrument));
  EXPECT_EQ(ExecSysSlot(3, kESysInstrument), 9);
  EXPECT_EQ(ExecSysSlot(3, kESysSameAsCaller), 2);  // standard high has no threads here
  // The records' mutexes (re-entrant) keep the threads out while the queues are looked at.
  QueueElement a = NewElement(byPriority.handle()), b = NewElement(chosen.handle());
  ExecRunRecord* r2 = ExecSlotRunRecord(2);
  ExecRunRecord* r9 = ExecSlotRunRecord(9);
  ThMutexAcquire(r2->mutex);
  ThMutexAcquire(r9->mutex);
  EnQRunQ(&a);
  EnQRunQ(&b);
  EXPECT_EQ(r2->runQueue->head, &a);
  EXPECT_EQ(r9->runQueue->head, &b);
  ThMutexRelease(r9->mutex);
  ThMutexRelease(r2->mutex);
  FinishExec();  // the threads are done with both elements
  EXPECT_EQ(ExecFailures(), 0);
}

}  // namespace
