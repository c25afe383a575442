// The main event filter of the root window: where each event goes, the
// quit notifications, posted callbacks from many threads, the requests on
// a VI by name, the memory-full procedure and the top-level VIs of a
// library and of the auto-launch list.
#include <atomic>
#include <cstdlib>
#include <thread>

#include "engine/exec/postedcb.h"
#include "engine/viinst_test_support.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/panelroutines.h"
#include "engine/vi/vifind.h"
#include "mgsource/memory.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/winmain.h"
#include "mgsource/window/winproc.h"
#include "shell/eventfilter.h"
#include "shell/menuids.h"
#include "shell/toplevel.h"
#include "shell/userevent.h"
#include "shell/vishell.h"
#include "temp_folder.h"
#include "tools/vilibrary.h"

using namespace qxvitest;

namespace {

std::vector<std::string> gCalls;
std::vector<std::pair<std::string, int32>> gOpened;  // last name, flags

void Note(const std::string& s) { gCalls.push_back(s); }
int32 Menu(int32 m, int32 i, int32 c) {
  Note("menu " + std::to_string(m) + " " + std::to_string(i) + " " + std::to_string(c));
  return 0;
}

class EventFilterTest : public VITest {
 protected:
  void SetUp() override {
    VITest::SetUp();
    ASSERT_TRUE(qxtest::StartThreadsAndResources());
    ASSERT_EQ(FInitFileMgr(), kNoErr);
    ASSERT_EQ(OccurInit(), kNoErr);
    ShellInstallEngineHooks();
    gCalls.clear();
    gOpened.clear();
    ShellEventHooks h{};
    h.appMenuCommand = &Menu;
    h.handleLMenuEvent = [](WEventRecord*, int32 m, const Rect*) { return Note("lmenu " + std::to_string(m)), 0; };
    h.menuEnableUpdate = [](WindowRef) { return Note("enable"), 7; };
    h.debugKey = [](WEventRecord*) { Note("debug key"); };
    h.tipStripSetTarget = [](int32 m, int32 i, Point) { Note("tip " + std::to_string(m) + " " + std::to_string(i)); };
    h.tipTimer = [] { Note("tip timer"); };
    h.blinkTimerEvent = [](int32 id) { Note("blink " + std::to_string(id)); };
    h.importExternalClipboard = [](int32 f) { Note("clipboard " + std::to_string(f)); };
    h.destroySplash = [] { Note("splash"); };
    ShellSetEventHooks(h);
    SetTopLevelOpenProc([](Path p, UHandle*, int32 flags) {
      Str255 name;
      FNamePtr(p, name);
      gOpened.emplace_back(std::string(reinterpret_cast<char*>(name + 1), name[0]), flags);
      FDisposePath(p);
      return MgErr(7);
    });
  }
  void TearDown() override {
    ShellSetEventHooks(ShellEventHooks{});
    SetTopLevelOpenProc(nullptr);
    WResetMainLoop();
    OccurShutdown();
    FExitFileMgr();
    VITest::TearDown();
  }
  static int32 Filter(WEventCode code, int32 w2 = 0, int32 w3 = 0, int32 key = 0) {
    WEventRecord e{};
    e.code = code;
    e.window = kWRootWindow;
    e.where = w2;
    e.globalWhere = w3;
    e.keyCode = key;
    return ShellEventFilter(&e, 0);
  }
  static Path HostPath(const std::string& host) {
    std::string text = "C:";
    for (char c : host) text += c == '/' ? '\\' : c;
    Path p = nullptr;
    EXPECT_EQ(FTextToPath(reinterpret_cast<const uChar*>(text.data()), int32(text.size()), &p), kNoErr);
    return p;
  }
};

TEST_F(EventFilterTest, EachCodeGoesWhereTheTableSendsIt) {
  ASSERT_EQ(MenuTrackedInit(), kNoErr);
  const int32 tracked = NewMenuID(kMenuKindTracked), plain = NewMenuID(kMenuKindStandard);
  struct Case {
    WEventCode code;
    int32 w2, w3, key, result;
    std::vector<std::string> calls;
  };
  const std::string t = std::to_string(tracked);
  const Case cases[] = {
      {kWEvQuit, 0, 0, 0, 0, {"menu 10 0 24"}},
      {kWEvClose, 0, 0, 0, 0, {"menu 10 0 24"}},
      {weMenuSelect, 7, 3, 0, 0, {"menu 7 3 0"}},  // the command in word 4
      {weKey, 0, 0, kShellHelpKeyCode, 7, {"menu 18 0 1", "enable"}},
      {weKey, 0, 0, 65, 7, {"debug key", "enable"}},
      {weMenuInit, 0, 0, 0, 7, {"enable"}},
      {kShellEvMenuState, 0, 0, 0, 7, {"enable"}},
      {kMenuItemHighlighted, tracked, 5, 0, 0, {"tip " + t + " -5"}},
      {kMenuItemHighlighted, plain, 5, 0, 0, {}},
      {kShellEvClipboardChanged, 0, 0, 0, 0, {"clipboard 1"}},
      {kShellEvTimer, kShellTipTimerId, 0, 0, 0, {"tip timer"}},
      {kShellEvTimer, kShellBlinkTimerId, 0, 0, 0, {"blink 200"}},
  };
  for (const Case& c : cases) {
    gCalls.clear();
    EXPECT_EQ(Filter(c.code, c.w2, c.w3, c.key), c.result) << c.code;
    std::vector<std::string> want{"lmenu 4"};
    want.insert(want.end(), c.calls.begin(), c.calls.end());
    EXPECT_EQ(gCalls, want) << c.code;
  }
  qxtest::Reports::Get().Clear();
  Filter(kShellEvTimer, 5);
  EXPECT_EQ(qxtest::Reports::Get().Count("unknown timer id"), 1);
}

TEST_F(EventFilterTest, QuitFiresRegisteredNotificationsOnlyAndAShutDownQuitsOnceTheyAreGone) {
  ShellEventHooks h = ShellEventHooksInUse();
  h.appMenuCommand = nullptr;  // the least quit command
  ShellSetEventHooks(h);
  const Occurrence a = AllocOccur(), b = AllocOccur();
  Occurrence quit = 0;
  EXPECT_EQ(InstallQuitNotification(a, 0, &quit), kShellNotInList);
  EXPECT_NE(quit, 0u);
  ASSERT_EQ(InstallQuitNotification(a, 1, nullptr), kNoErr);
  ASSERT_EQ(InstallQuitNotification(b, 1, nullptr), kNoErr);
  EXPECT_EQ(QuitNotificationAt(0), b) << "the newest first";
  Filter(kWEvQuit);
  EXPECT_FALSE(WQuitting()) << "a registered notification takes the quit";
  std::thread([] { QXShutDown(); }).join();
  EXPECT_TRUE(ShellShutDownRequested());
  EXPECT_EQ(InstallQuitNotification(a, 0, nullptr), kNoErr);
  EXPECT_EQ(InstallQuitNotification(b, 0, nullptr), kNoErr);
  EXPECT_EQ(QuitNotificationCount(), 0);
  WEventRecord e;
  ASSERT_TRUE(WGetNextEvent(&e));
  EXPECT_EQ(e.code, kWEvQuit);
  ShellEventFilter(&e, 0);
  EXPECT_TRUE(WQuitting()) << "no notification: every VI closed and the loop ends";
  ShellClearShutDownRequest();
  DisposeQuitNotifications();
  DeallocOccur(a);
  DeallocOccur(b);
}

std::atomic<int32> gAnswer{0}, gRan{0};
int32 Callback(int32 arg) { return gRan += arg, gAnswer.load(); }
std::atomic<int32> gFired{0};
int32 CountFire(void*) { return ++gFired; }

TEST_F(EventFilterTest, APostedCallbackRunsForAValidTargetAndANonZeroAnswerKeepsItsRecord) {
  UHandle vi = NewVICore(kVIKindDatalog, PS("target"), -1);
  ASSERT_EQ(NewMinimalDataSpace(vi), kNoErr);
  UHandle ds = VIRec(vi)->dataSpace, gone = NewVICore(kVIKindDatalog, PS("gone"), -1);
  DisposeVI(gone, 0);  // purged: its record is never looked into
  const int32 counter = 3;
  struct Case {
    int32 answer, generation;
    UHandle vi, dataSpace;
    int32 ran, fired;
  } cases[] = {{1, 3, vi, ds, 1, 0}, {0, 3, vi, ds, 1, 1}, {0, 2, nullptr, nullptr, 0, 0}, {0, 3, gone, ds, 0, 0},
               {0, 3, vi, nullptr, 0, 0}};
  for (const Case& c : cases) {
    const Occurrence occ = AllocOccur();
    OccurHdlr hdlr = AllocOccurHdlr(occ, &CountFire, nullptr);
    OnOccurrence(hdlr, 0);
    gRan = gFired = 0;
    gAnswer = c.answer;
    UHandle rec = AZNewHandle(sizeof(PostedCallbackRec));
    *reinterpret_cast<PostedCallbackRec*>(*rec) =
        PostedCallbackRec{&Callback, 1, occ, c.vi, c.dataSpace, c.generation, &counter};
    RunPostedCallback(rec);
    ChkOccurrences();
    EXPECT_EQ(gRan.load(), c.ran);
    EXPECT_EQ(gFired, c.fired);
    EXPECT_EQ(AZCheckHandle(rec) == kNoErr, c.answer != 0) << "a non-zero answer keeps the record";
    if (c.answer) AZDisposeHandle(rec);
    CancelOnOccur(hdlr);
    DeallocOccurHdlr(hdlr);
    DeallocOccur(occ);
  }
}

std::atomic<int32> gSeen[4];
std::atomic<int32> gOrderFaults{0};
int32 Ordered(int32 arg) {
  const int32 thread = arg >> 24, n = arg & 0xFFFFFF;
  if (gSeen[thread].load() != n) ++gOrderFaults;
  gSeen[thread] = n + 1;
  return 0;
}

TEST_F(EventFilterTest, CallbacksFromFourThreadsRunOnceEachInOrderThreads) {
  const int32 each = std::getenv("QX_UNDER_VALGRIND") ? 1000 : 10000;
  for (auto& s : gSeen) s = 0;
  gOrderFaults = 0;
  std::atomic<int> done{0};
  std::vector<std::thread> threads;
  for (int32 t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int32 n = 0; n < each; ++n)
        while (PostCallback(PostedCallbackRec{&Ordered, (t << 24) | n, 0, nullptr, nullptr, 0, nullptr}) != kNoErr)
          std::this_thread::yield();
      ++done;
    });
  WEventRecord e;
  while (done.load() < 4 || WCountPendingEvents() > 0)
    if (WGetNextEvent(&e)) ShellEventFilter(&e, 0);
    else std::this_thread::yield();
  for (auto& t : threads) t.join();
  for (auto& s : gSeen) EXPECT_EQ(s.load(), each);
  EXPECT_EQ(gOrderFaults.load(), 0);
}

TEST_F(EventFilterTest, ARequestByNameFindsTheVIOrAnswers1004) {
  UHandle vi = NewVICore(kVIKindDatalog, PS("Named.vi"), -1);
  VIRec(vi)->eState = 2;
  UHandle data = AZNewHandle(0);
  const std::string items = std::string("xxxx\1a") + "----" + "\x08NAMED.VI";
  AZPtrToXHand(items.data(), data, int32(items.size()));
  WEventRecord e{};
  e.code = kShellEvActivateVI;
  e.where = 12;
  e.globalWhere = int32(uintptr_t(data));
  EXPECT_EQ(ShellEventFilter(&e, 0), kNoErr);
  EXPECT_EQ(e.modifiers, 1) << "the running bit as a boolean";
  AZSetHandleSize(data, int32(items.size()) - 1);  // the name runs past the data
  EXPECT_EQ(ShellEventFilter(&e, 0), kShellNoSuchVI);
  AZDisposeHandle(data);
}

int32 gProcCalls = 0;
int32 CountingProc(int32, int32) { return ++gProcCalls, 0; }

TEST_F(EventFilterTest, MemoryFullAlertsOnceRecordsOnceAndTheLoopRunsItAfterAnotherThreadsFailure) {
  MemFullReset();
  qxtest::Reports::Get().Clear();
  EXPECT_EQ(MemFullProcedure(0, 1), 0);
  EXPECT_EQ(MemFullProcedure(0, 0), 0);
  EXPECT_EQ(qxtest::Reports::Get().Count("Application memory full."), 1);
  EXPECT_TRUE(MemFullPending(nullptr));
  MemFullReset();
  // A tracked palette menu gives back the images its cells show.
  ASSERT_EQ(MenuTrackedInit(), kNoErr);
  const int32 id = NewMenuID(kMenuKindTracked);
  MenuHandle palette = nullptr;
  ASSERT_EQ(MNewPictMenu(&palette, reinterpret_cast<ConstPStr>("\1p"), id, 2), kNoErr);
  for (int32 image : {0, 5, -1, 7}) MAppendPictMenuItem(palette, nullptr, image, nullptr, nullptr, 0, nullptr, 0, 0);
  MenuTableSet(id, palette);
  EXPECT_EQ(MemFullProcedure(0, 1), 256);
  EXPECT_FALSE(MemFullPending(nullptr)) << "something was freed";
  EXPECT_EQ(MReleasePictImages(palette), 0) << "every cell marked";
  MenuTableSet(id, nullptr);
  MDisposeMenu(palette);
  MemFullProc former = AZSetMemFullProc(&CountingProc);
  gProcCalls = 0;
  std::thread([] { MemNoteFailure(64); }).join();
  WMainLoop(0, 0);
  WMainLoop(0, 0);
  EXPECT_EQ(gProcCalls, 1) << "at the next turn only";
  EXPECT_FALSE(MemFullPending(nullptr));
  AZSetMemFullProc(former);
}

TEST_F(EventFilterTest, TheMarkedMembersOpenAndAnUnmarkedOrEmptyLibraryAsksForAVI) {
  TempFolder dir("toplevel");
  struct Case {
    std::vector<std::pair<std::string, bool>> members;
    std::vector<std::string> opened;
    MgErr result;
  } cases[] = {{{{"A.vi", true}, {"B.vi", true}, {"C.vi", false}, {"D.vi", true}}, {"A.vi", "B.vi", "D.vi"}, 0},
               {{{"C.vi", false}, {"D.vi", false}}, {}, kTopLevelCancelled},
               {{}, {}, kTopLevelCancelled}};
  for (const Case& c : cases) {
    qxbuild::VILibraryWriter lib("app.qlb");
    for (const auto& [name, top] : c.members)
      lib.Add(qxbuild::MakeMember(name, archfmt::kTypeVI, {}, top ? archfmt::kFlagTopLevel : 0));
    const std::string host = dir.Dir() + "/app.qlb";
    ASSERT_TRUE(rsrcw::WriteHostFile(host, lib.Write()));
    gOpened.clear();
    gCalls.clear();
    EXPECT_EQ(OpenLibraryTopLevelVIs(HostPath(host), kOpenVIOpenPanel), c.result);
    std::vector<std::string> names;
    for (const auto& [name, flags] : gOpened) {
      names.push_back(name);
      EXPECT_EQ(flags, kOpenVIOpenPanel);
    }
    EXPECT_EQ(names, c.opened);
    EXPECT_EQ(gCalls.size(), c.opened.empty() ? 1u : 0u) << "the splash goes before the dialog";
  }
}

TEST_F(EventFilterTest, AutoLaunchOpensAbsolutePathsAndReportsOthers) {
  TempFolder dir("autolaunch");
  rsrcw::Writer w(FourCC("QXRS"), FourCC("QNLX"));
  w.Add(rsrcfmt::kTypePathList, kAutoLaunchListId,
        rsrcw::PathList({rsrcw::FlatPath(1, {"rel.vi"}), rsrcw::FlatPath(0, {"<vilib>", "E.vi"})}));
  const std::string host = dir.Dir() + "/rt.rsc";
  ASSERT_TRUE(rsrcw::WriteHostFile(host, w.Write()));
  RsrcFileRef file = 0;
  Path path = HostPath(host);
  ASSERT_EQ(ROpenFile(path, kRsrcReadOnly, &file, nullptr, nullptr), kNoErr);
  FDisposePath(path);
  const RsrcFileRef former = RunTimeRsrcFile();
  SetRunTimeRsrcFile(file);
  qxtest::Reports::Get().Clear();
  EXPECT_NE(AutoLaunchVIs(), kNoErr) << "the reader's end of the list";
  SetRunTimeRsrcFile(former);
  RCloseFile(file);
  EXPECT_EQ(qxtest::Reports::Get().Count("has a bad path type"), 1);
  ASSERT_EQ(gOpened.size(), 1u);
  EXPECT_EQ(gOpened[0], std::make_pair(std::string("E.vi"), kOpenVIShowProgress | kOpenVIRun));
}

TEST_F(EventFilterTest, ADocumentOpenedBeforeTheStartEventKeepsTheStartFromOpeningOrQuitting) {
  SetTopLevelOpenProc([](Path p, UHandle*, int32 flags) {
    gOpened.emplace_back("doc", flags);
    FDisposePath(p);
    UHandle vi = NewVICore(kVIKindDatalog, PS("doc.vi"), -1);
    return MgErr(vi && NewMinimalDataSpace(vi) == kNoErr && OpenFrontPanel(vi) ? 0 : 7);
  });
  WEventRecord doc{};
  doc.code = kWEvOpenDocument;
  static const uChar kDrive[] = "\1C", kName[] = "\6doc.vi";
  doc.where = int32(uintptr_t(FMakePath(nullptr, kAbsPath, kDrive, kName, nullptr)));
  const int16 print = 1;
  std::memcpy(reinterpret_cast<uChar*>(&doc) + 12, &print, 2);
  ShellEventFilter(&doc, 0);
  EXPECT_EQ(doc.where, 0) << "the open took the path";
  Filter(kWEvStart);
  ASSERT_EQ(gOpened.size(), 1u);
  EXPECT_EQ(gOpened[0].second, kOpenVIOpenPanel | kOpenVIPrint);
  EXPECT_TRUE(AnyVIWindowOpen());
  WEventRecord e;
  while (WGetNextEvent(&e)) EXPECT_NE(e.code, kWEvQuit);
}

}  // namespace
