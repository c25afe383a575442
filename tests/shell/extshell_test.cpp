// The shell's entry points for external code, the automation member tables
// and the preferences' write-back of changed values.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "mgsource/config.h"
#include "mgsource/config_test_file.h"
#include "mgsource/counted_strings.h"
#include "mgsource/memory.h"
#include "mgsource/prefs.h"
#include "engine/engine_test_support.h"
#include "engine/shellsvc.h"
#include "platform/qx_inifile.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/wevent.h"
#include "shell/callbypath.h"
#include "shell/extshell.h"
#include "engine/membertab.h"
#include "shell/prefdlg.h"
#include "tools/tdbuilder.h"

namespace {

class ExtShell : public qxtest::EngineTest {
 protected:
  // Whether an alert or debug line written since the last clear holds the text.
  static bool Shown(const char* text) { return ReportText().find(text) != std::string::npos; }
  static void ResetLiveBaseline() {}
};

std::string Text(LStrHandle h) { return std::string(reinterpret_cast<char*>((*h)->str), size_t((*h)->cnt)); }

TEST_F(ExtShell, StubsAnswer53AndTheLocalServerRepliesOnlyIntoALiveDataZoneString) {
  for (MgErr (*stub)() : {&CINOpenInstrument, &CINCloseInstrument, &CINRunInstrument, &CINGetVIState,
                          &Old30CINOpenInstrument, &Old30CINGetVIState, &BuildHistoryString, &InstallFDFilter})
    EXPECT_EQ(stub(), kCapabilityErr);
  UHandle foreign = AZNewHClr(4);
  LStrHandle reply = reinterpret_cast<LStrHandle>(DSNewHClr(6));
  (*reply)->cnt = 2;
  std::memcpy((*reply)->str, "ab", 2);
  LocalVIServerRequest r{7, 99, reinterpret_cast<LStrHandle>(foreign)};
  EXPECT_EQ(LocalVIServer(&r), kCapabilityErr);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(AZGetHandleSize(foreign), 4);
  r.reply = reply;
  EXPECT_EQ(LocalVIServer(&r), kCapabilityErr);
  EXPECT_EQ(Text(reply), "abVI Server: Unsupported operation.");
  AZDisposeHandle(foreign);
  DSDisposeHandle(reinterpret_cast<UHandle>(reply));
}

// A cluster of a string, a path, an array of arrays and a union whose
// selector picks a string, then names no element.
TEST_F(ExtShell, HandleStatisticsSumEveryHandleOfTheValue) {
  using namespace tdb;
  const auto td = Cluster({String(), tdb::Path(), Array(Array(I32())), Union({Cluster({I16(), String()}), I32()})}).Bytes();
  const auto* t = reinterpret_cast<const TypeDescriptor*>(td.data());
  uChar data[18] = {};
  UHandle s = DSNewHClr(7), p = AZNewHClr(10), outer = DSNewHClr(12), a = DSNewHClr(8), b = DSNewHClr(16),
          u = DSNewHClr(9);
  const int32 two = 2;
  std::memcpy(*outer, &two, 4);
  std::memcpy(*outer + 4, &a, 4);
  std::memcpy(*outer + 8, &b, 4);
  for (auto [at, h] : {std::pair{0, s}, {4, p}, {8, outer}, {14, u}}) std::memcpy(data + at, &h, 4);
  int32 count = 0, bytes = 0;
  CalcDSStats(t, data, &count, &bytes);
  EXPECT_EQ(count, 6);
  EXPECT_EQ(bytes, 7 + 10 + 12 + 8 + 16 + 9);
  data[12] = 5;  // a selector out of range: the union adds nothing
  count = bytes = 0;
  CalcDSStats(t, data, &count, &bytes);
  EXPECT_EQ(count, 5);
  for (UHandle h : {s, outer, a, b, u}) DSDisposeHandle(h);
  AZDisposeHandle(p);
}

std::vector<std::pair<int32, std::string>> gLines;
TEST_F(ExtShell, MemoryLinesGoToTheirStatusLines) {
  gLines.clear();
  SetStatusLineProc([](uInt32, ConstPStr text, int32 line, int32) {
    gLines.emplace_back(line, std::string(reinterpret_cast<const char*>(text + 1), text[0]));
  });
  ASSERT_EQ(MemoryStatsLines(9), kNoErr);
  SetStatusLineProc(nullptr);
  ASSERT_FALSE(gLines.empty());
  EXPECT_EQ(gLines[0].first, 1);
  EXPECT_EQ(gLines[0].second.rfind("Memory Allocated: ", 0), 0u) << gLines[0].second;
  EXPECT_EQ((*MemoryStatsLastLines())->cnt, int32(gLines.size()));
}

TEST_F(ExtShell, MemberTablesFindTheirRangesOnly) {
  struct Case {
    bool method;
    int32 cls, id;
    bool found;
  };
  for (const Case& c : {Case{false, 0, 0, true}, {false, 0, 45, true}, {false, 0, 46, false}, {false, 1, 500, true},
                        {false, 1, 568, true}, {false, 1, 569, false}, {false, 1, 499, false}, {true, 0, 2000, true},
                        {true, 0, 2018, true}, {true, 0, 2019, false}, {true, 1, 1022, true}, {true, 1, 1023, false},
                        {false, 2, 500, false}, {true, -1, 1000, false}}) {
    const void* e = c.method ? static_cast<const void*>(MethodInfoLookup(c.cls, c.id))
                             : static_cast<const void*>(PropInfoLookup(c.cls, c.id));
    EXPECT_EQ(e != nullptr, c.found) << c.cls << " " << c.id;
  }
  EXPECT_EQ(MethodParamTypeDesc(1, 1010, 0), StdTDTable[kStdTDString]);
  EXPECT_EQ(MethodParamTypeDesc(1, 1010, 3), nullptr);
  EXPECT_EQ(MethodParamTypeDesc(1, 1010, -1), nullptr);
  EXPECT_EQ(PropInfoTypeDesc(1, 501), StdTDTable[kStdTDPath]);
}

class Prefs : public ExtShell {
 protected:
  void SetUp() override {
    ExtShell::SetUp();
    TestConfigFile::Use();
    CfgSetSectionName("Quenlix");
    kept_ = Get();
    PrefResetState();
  }
  void TearDown() override {
    Put(kept_);
    PlatIniSetFailHook(nullptr);
    PrefResetToDefaults();
    PrefResetState();
    ExtShell::TearDown();
  }
  static void Put(const std::string& s) { std::ofstream(TestConfigFile::Name(), std::ios::binary) << s; }
  static std::string Get() {
    std::ifstream in(TestConfigFile::Name(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void Set(const char* key, int32 v) { *static_cast<int32*>(PrefItemByKey(key)->current) = v; }
  std::string kept_;
};

// abortMin back to its default is removed; blinkSpeed, untouched, stays as
// the file has it; hour24 is written at every OK, and the other two of its
// family removed.
TEST_F(Prefs, OkWritesChangedValuesAndRemovesDefaults) {
  Put("[Quenlix]\nblinkSpeed=1000\nabortMin=700\ndateDayFirst=False\n");
  PrefSet(kPrefAbortMin, 700);
  PrefSet(kPrefHour24, 1);
  PrefLoadValues(nullptr);
  Set("abortMin", 500);
  Set("warnMin", 3000);
  EXPECT_EQ(PrefApply(nullptr), kNoErr);
  EXPECT_EQ(Get(), "[Quenlix]\nblinkSpeed=1000\nwarnMin=3000\nhour24=True\n");
  EXPECT_EQ(PrefGet(kPrefAbortMin), 500);
}

TEST_F(Prefs, AFailingWriteIsShownOnceAndTheLiveValuesStay) {
  PrefLoadValues(nullptr);
  Set("warnMin", 3000);
  Set("blinkSpeed", 200);
  PlatIniSetFailHook([](const char*) { return EIO; });
  ClearReports();
  const MgErr err = PrefApply(nullptr);
  ASSERT_NE(err, kNoErr);
  Str255 text;
  ErrDescription(err, text);
  EXPECT_EQ(qxtest::Reports::Get().Count(std::string(reinterpret_cast<char*>(text + 1), text[0])), 1) << ReportText();
  EXPECT_EQ(PrefGet(kPrefWarnMin), 3000);
  EXPECT_EQ(PrefGet(kPrefBlinkSpeed), 200);
}

TEST_F(Prefs, SeparatorsTakeOnePunctuationCharacter) {
  EXPECT_EQ(PrefSeparatorKey('a', '/'), '/');
  EXPECT_EQ(PrefSeparatorKey('.', '/'), '.');
  EXPECT_EQ(PrefSeparatorKey('7', ':'), ':');
}

TEST_F(Prefs, SpecialPathsOnlyGoIntoTheSearchPathAndMissingFoldersAsk) {
  PrefLoadValues(nullptr);
  const auto put = [](int32 kind, const char* text) {
    return PrefInsertPathText(kind, reinterpret_cast<const uChar*>(text), int32(std::strlen(text)), 0, 0);
  };
  ClearReports();
  EXPECT_EQ(put(kPrefPathLib, "<vilib>\\*"), kArgErr);
  EXPECT_TRUE(PrefWorkingPaths(kPrefPathLib).empty());
  EXPECT_TRUE(Shown("Special paths may only be used in the VI Search Path."));
  ClearReports();
  EXPECT_EQ(put(kPrefPathSearch, "<vilib>\\*"), kNoErr);
  ASSERT_EQ(PrefWorkingPaths(kPrefPathSearch).size(), 1u);
  EXPECT_TRUE(PrefPathIsSymbolic(PrefWorkingPaths(kPrefPathSearch)[0]));
  EXPECT_EQ(ReportText(), "") << "no warning";
  EXPECT_EQ(put(kPrefPathSearch, "C:\\no\\such\\folder"), kCancelErr);  // the default answer declines
  EXPECT_TRUE(Shown("either does not exist or has invalid syntax."));
  EXPECT_EQ(PrefWorkingPaths(kPrefPathSearch).size(), 1u);
}

TEST_F(Prefs, StoredAccessListsDropMalformedEntriesAndKeepDenyMarks) {
  PrefSetAccessParsers([](ConstPStr e) { return int32(e[0] > 1 && e[2] != '!'); }, nullptr);
  CPStrHandle stored = reinterpret_cast<CPStrHandle>(AZNewHClr(4));
  for (const char* s : {"+*", "-host", "x", "+", "-!bad"}) {
    Str255 p;
    p[0] = uChar(std::strlen(s));
    std::memcpy(p + 1, s, p[0]);
    CPStrInsert(stored, p, (*stored)->cnt);
  }
  const auto items = PrefListAccess(stored, true);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].glyph, kGlyphAllow);
  EXPECT_EQ(items[1].glyph, kGlyphDeny);
  EXPECT_EQ(items[2].glyph, kGlyphDenyRefused);
  CPStrHandle back = PrefStoreAccess(items);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ((*back)->cnt, 3);
  EXPECT_EQ(CPStrIndex(back, 2)[1], '-');
  EXPECT_EQ(PrefListAccess(nullptr, false).size(), 1u);  // one empty allow item
  PrefSetAccessParsers(nullptr, nullptr);
  AZDisposeHandle(reinterpret_cast<UHandle>(stored));
  AZDisposeHandle(reinterpret_cast<UHandle>(back));
}

}  // namespace

// ---- Calling a VI by path ---------------------------------------------------------------

namespace callfake {
std::vector<uChar> pane;
int32 data[3], opens, releases, runs, mode, reservation;
int32* dataPtr = data;  // the call's data as a handle
MgErr Open(ConstPStr, int32 options, int32* ref) {
  ++opens;
  *ref = options;
  return kNoErr;
}
MgErr Get(int32, int32 prop, void* v) {
  if (prop == kVIPropConnectorPane) *static_cast<const void**>(v) = pane.data();
  if (prop == kVIPropCallData) *static_cast<int32***>(v) = &dataPtr;
  if (prop == kVIPropReservation) *static_cast<int32*>(v) = reservation;
  return kNoErr;
}
MgErr Set(int32, int32 prop, const void* v) {
  if (prop == kVIPropReservation) reservation = *static_cast<const int32*>(v);
  return kNoErr;
}
MgErr Start(int32, void (*done)(const CallInstrCompletion*), void* context) {
  ++runs;
  data[2] = data[0] + data[1];
  const CallInstrCompletion record{mode, context, nullptr};
  done(&record);
  return kNoErr;
}
}  // namespace callfake

TEST_F(ExtShell, CallByPathSetsInputsByNameRunsAndCopiesOutputsBack) {
  using namespace callfake;
  // The queue and the loop's own state live on for the process: made and
  // run once before the count starts.
  if (!WEventQueueExists()) {
    ASSERT_EQ(WEventQueueInit(1), kNoErr);
  }
  WEventSetGate(1);
  WEventRecord leave{};
  leave.code = kLeaveNestedLoopEvent;
  leave.window = -2;
  WPostEvent(&leave, 0, kWPostTopLevel);
  WRunRootMainLoop();
  ResetLiveBaseline();
  pane = tdb::Function(0, {0, 0, kParamIndicatorFlag},
                       {tdb::I32().Named("a"), tdb::I32().Named("b"), tdb::I32().Named("sum")}).Bytes();
  static uChar vi = 0;
  CallInstrHooks hooks{};
  hooks.openByName = &Open;
  hooks.release = [](int32) -> MgErr { return ++releases, kNoErr; };
  hooks.getAttribute = &Get;
  hooks.setAttribute = &Set;
  hooks.startCall = &Start;
  hooks.findVI = [](ConstPStr) { return reinterpret_cast<UHandle>(&vi); };
  hooks.loadPanel = [](UHandle) -> MgErr { return kNoErr; };
  SetCallInstrHooks(hooks);
  const auto i32 = tdb::I32().Bytes(), dbl = tdb::DBL().Bytes();
  const auto* tI = reinterpret_cast<const TypeDescriptor*>(i32.data());
  const auto* tD = reinterpret_cast<const TypeDescriptor*>(dbl.data());
  Str255 a = {1, 'a'}, b = {1, 'b'}, sum = {3, 's', 'u', 'm'}, c = {1, 'c'};
  Path path = FMakePath(nullptr, kAbsPath, "\001C", "\006add.vi", nullptr);
  struct Case {
    ConstPStr first, out;
    const TypeDescriptor* firstTD;
    int32 mode;
    MgErr want;
    int32 runs, sum;
  };
  for (const Case& k : {Case{a, sum, tI, kCallDone, kNoErr, 1, 5}, Case{sum, sum, tI, kCallDone, kArgErr, 0, 0},
                        Case{a, c, tI, kCallDone, kArgErr, 0, 0}, Case{a, sum, tD, kCallDone, kArgErr, 0, 0},
                        Case{a, sum, tI, kCallAborted, kCallAbortedErr, 1, 0}}) {
    opens = releases = runs = 0;
    reservation = 7;
    mode = k.mode;
    std::memset(data, 0, sizeof data);
    int32 two = 2, three = 3, out = 0;
    double wide = 2;
    void* firstValue = k.firstTD == tD ? static_cast<void*>(&wide) : &two;
    EXPECT_EQ(CallInstrumentByPath(path, 1, 2, 1, k.first, k.firstTD, firstValue, b, tI, &three, k.out, tI, &out),
              k.want);
    EXPECT_EQ(runs, k.runs);
    EXPECT_EQ(out, k.sum);
    EXPECT_EQ(opens, 1);
    EXPECT_EQ(releases, 1);
    EXPECT_EQ(reservation, 7) << "the reservation mode is put back";
    if (k.firstTD == tD) {
      EXPECT_EQ(data[0], 0) << "nothing written by a foreign descriptor";
    }
  }
  SetCallInstrHooks(CallInstrHooks{});
  FDisposePath(path);
}
