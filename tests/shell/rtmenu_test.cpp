// Run-time menus: the file reader, tags made unique and application items,
// shortcuts, the selection queue and blocking, deleting items, and the
// exported functions called from other threads.
#include <gtest/gtest.h>

#include <chrono>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "engine/exec/runcmd.h"
#include "engine/runtime_root.h"
#include "mgsource/appdirs.h"
#include "mgsource/byteorder.h"
#include "mgsource/filemgr.h"
#include "engine/viinst_test_support.h"
#include "mgsource/path_test_util.h"
#include "mgsource/window/lmenu.h"
#include "platform/qx_display.h"
#include "shell/menuids.h"
#include "shell/rtmenu_internal.h"
#include "shell/userevent.h"
#include "shell/vishell.h"
#include "tools/rtmwriter.h"

namespace {

using rtmw::Item;

LStrHandle LS(const std::string& s) {
  auto h = reinterpret_cast<LStrHandle>(DSNewHandle(int32(4 + s.size())));
  (*h)->cnt = int32(s.size());
  std::memcpy((*h)->str, s.data(), s.size());
  return h;
}
std::string T(LStrHandle h) { return h && *h ? std::string(reinterpret_cast<char*>((*h)->str), size_t((*h)->cnt)) : ""; }
UHandle Strings(const std::vector<std::string>& v) {
  UHandle a = DSNewHClr(int32(4 + 4 * v.size()));
  *reinterpret_cast<int32*>(*a) = int32(v.size());
  for (size_t i = 0; i < v.size(); ++i) reinterpret_cast<LStrHandle*>(*a + 4)[i] = LS(v[i]);
  return a;
}
UHandle Ints(const std::vector<int32>& v) {
  UHandle a = DSNewHClr(int32(4 + 4 * v.size()));
  *reinterpret_cast<int32*>(*a) = int32(v.size());
  std::memcpy(*a + 4, v.data(), 4 * v.size());
  return a;
}
std::vector<std::string> Read(UHandle a) {
  std::vector<std::string> out;
  for (int32 i = 0; a && i < *reinterpret_cast<int32*>(*a); ++i) out.push_back(T(reinterpret_cast<LStrHandle*>(*a + 4)[i]));
  return out;
}
void Free(UHandle a) {
  for (int32 i = 0; a && i < *reinterpret_cast<int32*>(*a); ++i)
    DSDisposeHandle(reinterpret_cast<UHandle>(reinterpret_cast<LStrHandle*>(*a + 4)[i]));
  if (a) DSDisposeHandle(a);
}

class RTMTest : public qxvitest::VITest {
 protected:
  void SetUp() override {
    VITest::SetUp();
    ASSERT_EQ(RInitResources(), kNoErr);
    ASSERT_EQ(FInitFileMgr(), kNoErr);
    ASSERT_TRUE(root_.Make("rtm"));
    MenuTableReset(0);
    RTMResetCaches();
    ShellInstallEngineHooks();
    // The program's menu bar: File with New, and Windows with a group.
    bar_ = Menu(4, "Panel", {{"_File", "APP_FILE"}, {"_Windows", "APP_WINDOWS"}});
    MSetLItemSubmenu(bar_, 1, Menu(10, "_File", {{"_New", "APP_NEW"}, {"_Close", "APP_CLOSE"}}));
    MenuHandle w = Menu(13, "_Windows", {{"One", "APP_OPEN_WINDOWS"}, {"Two", ""}});
    MGroupLItems(w, 1, 2, reinterpret_cast<ConstPStr>("\x10" "APP_OPEN_WINDOWS"));
    MSetLItemSubmenu(bar_, 2, w);
  }
  void TearDown() override {
    while (UHandle vi = FirstLoadedVI()) DisposeVI(vi, 0);
    for (MenuHandle m : made_) MDisposeMenu(m);
    RTMShutDown();
    RTMResetCaches();
    MenuTableReset(1);
    root_.Remove();
    SetRunCmdHooks(nullptr);
    VITest::TearDown();
  }
  MenuHandle Menu(int32 id, const char* title, std::vector<std::pair<std::string, std::string>> items) {
    MenuHandle m = nullptr;
    EXPECT_EQ(MNewLMenu(&m, Str255Text(title).p, id), kNoErr);
    for (auto& [text, tag] : items) MInsertLItem(m, Str255Text(text).p, Str255Text(tag).p, 0, nullptr, 0, -1, 0);
    MenuTableSet(id, m);
    made_.push_back(m);
    return m;
  }
  // A running VI whose menu comes from a file of these items.
  UHandle VIWithFile(const std::vector<Item>& items) {
    std::ofstream(root_.Host("v.rtm"), std::ios::binary).write(reinterpret_cast<const char*>(rtmw::File(items).data()),
                                                               std::streamsize(rtmw::File(items).size()));
    UHandle vi = NewVICore(kVIKindDatalog, qxvitest::PS("menus"), -1);
    VIRec(vi)->eState = 2;
    VIRec(vi)->rtMenuWord = kRTMSourceFile;
    VIRec(vi)->rtMenuPath = pathtest::ToPath("L:\\v.rtm");
    EXPECT_EQ(RTMNewVIMenuRef(vi), kNoErr);
    return vi;
  }
  static uInt32 Ref(UHandle vi) { return RTMRecordOf(vi)->refnum; }
  MgErr ReadFile(const rsrcw::Bytes& bytes, RTMMenuData* d) {
    std::ofstream(root_.Host("f.rtm"), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                               std::streamsize(bytes.size()));
    pathtest::Owned p(pathtest::ToPath("L:\\f.rtm"));
    return RTMReadMenuFile(p, d);
  }
  qxtest::RuntimeRoot root_;
  MenuHandle bar_ = nullptr;
  std::vector<MenuHandle> made_;
};

const std::vector<Item> kSmall = {{0, "Bar", "", 0x00020001, ""}, {1, "M", "M", 1, ""}, {2, "a", "A", 1, ""},
                                  {2, "b", "B", 1, ""}, {2, "c", "C", 1, ""}, {2, "d", "D", 1, ""}};

TEST_F(RTMTest, FilesAreCheckedBeforeTheirDescriptionIsRead) {
  const rsrcw::Bytes good = rtmw::File(kSmall);
  auto with = [&](size_t at, uChar v) { rsrcw::Bytes b = good; b[at] = v; return b; };
  rsrcw::Bytes version2 = good;
  PutBE32(version2.data() + 14, 2);
  rsrcw::Bytes cut(good.begin(), good.end() - 3), shortFile(good.begin(), good.begin() + 10);
  std::vector<Item> deep = kSmall;
  deep.push_back({65, "deep", "DEEP", 1, ""});
  const struct { const char* what; rsrcw::Bytes bytes; MgErr err; } cases[] = {
      {"length byte 12", with(0, 12), 1034}, {"case differs", with(1, 'r'), 1034},
      {"version 2", version2, 1033},      {"a cut description", cut, 42},
      {"10 bytes", shortFile, 1034},         {"old layout 1", rtmw::File(kSmall, 1), 0},
      {"old layout 0x01000000", rtmw::File(kSmall, 0x01000000), 0}, {"current", good, 0},
      {"65 levels", rtmw::File(deep), 1034},
  };
  for (const auto& c : cases) {
    RTMMenuData d;
    EXPECT_EQ(ReadFile(c.bytes, &d), c.err) << c.what;
    if (c.err) continue;
    ASSERT_EQ(d.items.size(), kSmall.size()) << c.what;
    EXPECT_EQ(d.items[0].flags, 1u) << "the high 16 bits are dropped";
    EXPECT_EQ(d.items[2].tagHash, RTMTagHash("A")) << c.what;
  }
}

TEST_F(RTMTest, TheTemporaryFilePassesOverANameTaken) {
  pathtest::Owned taken(MakeTempFilePath("qxm%ld.rtm", nullptr));
  FileRef ref = 0;
  ASSERT_EQ(FCreateAlways(&ref, taken, 0, kAccessReadWrite, kDenyNone, nullptr), kNoErr);
  FMWrite(ref, 4, nullptr, "keep");
  FMClose(ref);
  pathtest::Owned made(RTMNewExclusiveTemp());
  ASSERT_NE(made.p, nullptr);
  EXPECT_NE(FPathCmp(made, taken), 0);
  FileInfoRec info{};
  EXPECT_EQ(FGetInfo(taken, &info), kNoErr);
  EXPECT_EQ(info.size, 4) << "the other file is left as it was";
  FRemove(made), FRemove(taken);
}

TEST_F(RTMTest, InsertedTagsAreMadeUniqueAndApplicationTagsOnce) {
  UHandle vi = VIWithFile(kSmall);
  const std::string longTag(255, 'x');
  UHandle names = Strings({"1", "2", "3", "4", "5"}), tags = Strings({"ITEM", "ITEM", "ITEM", longTag, longTag}), out = nullptr;
  LStrHandle inM = LS("M");
  EXPECT_EQ(RTMInsertMenuItem(Ref(vi), kRTMKindStrings, &names, &tags, inM, 0, nullptr, &out), 0);
  EXPECT_EQ(Read(out), (std::vector<std::string>{"ITEM", "ITEM_1", "ITEM_2", longTag, longTag.substr(0, 250) + "_1"}));
  const struct { const char* tag; LStrHandle menu; int32 err; } cases[] = {
      {"APP_SEPARATOR", inM, 0}, {"APP_SEPARATOR", inM, 0}, {"APP_NEW", inM, 0},
      {"APP_NEW", inM, 2},       {"APP_OPEN_WINDOWS", nullptr, 11}, {"APP_SAVE", inM, 3},
  };
  for (const auto& c : cases) {
    LStrHandle name = LS("n"), tag = LS(c.tag), one = nullptr;
    EXPECT_EQ(RTMInsertMenuItem(Ref(vi), kRTMKindString, &name, &tag, c.menu, 0, nullptr, &one), c.err) << c.tag;
  }
  // The new item runs the program's command: its link names File's New.
  MenuHandle m = nullptr;
  int32 item = 0, id = 0;
  ASSERT_TRUE(FindTag(RTMRecordOf(vi)->menuBar, "APP_NEW", true, &m, &item));
  EXPECT_TRUE(RTMResolveLinkedItem(m, &id, &item, nullptr));
  EXPECT_EQ(id * 100 + item, 1001);
  Free(names), Free(tags), Free(out);
}

// A file whose items repeat tags builds each under a tag of its own, against
// the tags of its menu and of the bar above (case ignored); an application
// tag given twice goes in once.
TEST_F(RTMTest, RepeatedTagsOfAFileBecomeUnique) {
  UHandle vi = VIWithFile({{0, "Bar", "", 1, ""}, {1, "M", "T", 1, ""}, {2, "a", "T", 1, ""}, {2, "b", "t", 1, ""},
                           {2, "new", "APP_NEW", 1, ""}, {2, "again", "APP_NEW", 1, ""}, {2, "c", "T", 1, ""}});
  MenuHandle bar = nullptr;
  ASSERT_EQ(RTMLoadVIMenu(vi, &bar), kNoErr);
  MenuItemInfo info{};
  MGetItemInfo(bar, 1, &info);
  std::vector<std::string> tags{TagOfItem(bar, 1)};
  for (int32 i = 1; i <= MCountItems(info.submenu); ++i) tags.push_back(TagOfItem(info.submenu, i));
  EXPECT_EQ(tags, (std::vector<std::string>{"T", "T_1", "t_2", "APP_NEW", "T_3"}));
}

TEST_F(RTMTest, ShortcutTextsGiveKeysAndModifiers) {
  const struct { const char* text; bool shift; int32 ch, key; uInt32 mods; } cases[] = {
      {"F5", false, 0, 19, 0x20}, {"f5", false, 0, 19, 0x20}, {"F5 ", false, 'F', 27, 0x20},
      {"n", false, 'N', 27, 0x20}, {"n", true, 'N', 27, 0x22}, {"  ", true, 0, 0, 0}, {"PageUp", false, 0, 12, 0x20},
  };
  for (const auto& c : cases) {
    RTMShortcutRec rec{uInt8(c.shift), LS(c.text)};
    int32 ch = -1, key = -1;
    uInt32 mods = 1;
    RTMParseShortcut(&rec, &ch, &key, &mods);
    EXPECT_EQ(std::make_tuple(ch, key, mods), std::make_tuple(c.ch, c.key, c.mods)) << "'" << c.text << "'";
  }
}

TEST_F(RTMTest, ChoicesQueueOldestFirstAndBlockTheBar) {
  UHandle vi = VIWithFile({{0, "Bar", "", 1, ""}, {1, "File", "FILE", 1, ""}, {2, "Save", "SAVE", 1, ""},
                           {2, "Open", "OPEN", 1, ""}});
  LStrHandle tag = nullptr, path = nullptr;
  uInt8 nothing = 0;
  EXPECT_TRUE(RTMTrackingBlocked(vi)) << "a new menu record starts blocked";
  EXPECT_EQ(RTMGetMenuSelection(Ref(vi), &tag, &path, 0, &nothing), 0);
  EXPECT_TRUE(nothing);
  EXPECT_FALSE(RTMTrackingBlocked(vi)) << "the first reading lifts the initial block";
  MenuHandle file = nullptr;
  int32 at = 0;
  ASSERT_TRUE(FindTag(RTMCurrentMenu(vi), "SAVE", true, &file, &at));
  RTMQueueSelection(vi, MGetMenuID(file), 1);
  EXPECT_TRUE(RTMTrackingBlocked(vi)) << "one choice blocks";
  EXPECT_EQ(RTMEnableMenuTracking(Ref(vi), 1), 0);
  RTMQueueSelection(vi, MGetMenuID(file), 2);
  for (const char* want : {"FILE:SAVE", "FILE:OPEN", ""}) {
    EXPECT_EQ(RTMGetMenuSelection(Ref(vi), &tag, &path, 0, &nothing), 0);
    EXPECT_EQ(T(path), want);
    EXPECT_EQ(nothing, !*want);
  }
  EXPECT_EQ(RTMAddMenuSelOccur(Ref(vi), 0), 4);
  DSDisposeHandle(reinterpret_cast<UHandle>(tag)), DSDisposeHandle(reinterpret_cast<UHandle>(path));
}

TEST_F(RTMTest, DeletionTakesTheHigherPositionFirstAndReportsTheFirstError) {
  UHandle vi = VIWithFile(kSmall);
  LStrHandle inM = LS("M"), missing = LS("ZZ");
  auto left = [&] {
    MenuHandle m = nullptr;
    int32 at = 0;
    FindTag(RTMCurrentMenu(vi), "M", true, &m, &at);
    MenuItemInfo info{};
    MGetItemInfo(m, at, &info);
    std::string s;
    for (int32 i = 1; i <= MCountItems(info.submenu); ++i) s += TagOfItem(info.submenu, i);
    return s;
  };
  UHandle first = Ints({2, 0, 2}), second = Ints({9, 0}), tags = Strings({"D", "ZZ"});
  EXPECT_EQ(RTMDeleteMenuItem(Ref(vi), kRTMKindIndices, &first, inM), 0);
  EXPECT_EQ(left(), "BD");
  EXPECT_EQ(RTMDeleteMenuItem(Ref(vi), kRTMKindIndices, &second, inM), 10);
  EXPECT_EQ(left(), "D") << "the valid index is still deleted";
  EXPECT_EQ(RTMDeleteMenuItem(Ref(vi), kRTMKindString, &missing, inM), 6);
  EXPECT_EQ(RTMDeleteMenuItem(Ref(vi), kRTMKindStrings, &tags, inM), 6);
  EXPECT_EQ(left(), "");
  const uInt32 dead = Ref(vi);
  RTMDisposeVIMenuRef(vi);
  EXPECT_EQ(RTMDeleteMenuItem(dead, kRTMKindString, &missing, nullptr), 4);
  ErrorIOCluster e{1, 5, nullptr};
  EXPECT_EQ(RTMSetErrorIOClust(&e, 0, 0, 0, nullptr), kNoErr);
  EXPECT_EQ(int32(e.code), 0);
  EXPECT_EQ(T(e.source), "");
  EXPECT_EQ(RTMSetErrorIOClust(&e, 1, 6, 0, nullptr), kNoErr);
  EXPECT_EQ(int32(e.code), 88);
  EXPECT_NE(T(e.source).find("One or more tags not found"), std::string::npos);
  Free(first), Free(second), Free(tags);
}

TEST_F(RTMTest, CallsFromDiagramThreadsRunOnTheInterfaceThreadUntilTheMenuGoes) {
  ASSERT_TRUE(PlatWindowSystemStart());
  UHandle vi = VIWithFile(kSmall);
  const uInt32 ref = Ref(vi);
  // Under Helgrind two threads and fewer calls (it runs one thread at a time).
  const bool valgrind = std::getenv("QX_UNDER_VALGRIND") != nullptr;
  const int32 n = valgrind ? 2 : 4, rounds = valgrind ? 200 : 1000, before = rounds / 5;
  std::atomic<int32> running{n}, calls{0};
  std::vector<std::thread> threads;
  for (int32 t = 0; t < n; ++t)
    threads.emplace_back([&, t] {
      LStrHandle name = LS("x"), tag = LS("T" + std::to_string(t)), out = nullptr;
      for (int32 i = 0; i < rounds; ++i) {
        const int32 a = RTMInsertMenuItem(ref, kRTMKindString, &name, &tag, nullptr, 0, nullptr, &out);
        const int32 b = RTMDeleteMenuItem(ref, kRTMKindString, &out, nullptr);
        ++calls;
        if (a == 4 && b == 4) break;
      }
      for (LStrHandle h : {name, tag, out}) DSDisposeHandle(reinterpret_cast<UHandle>(h));
      --running;
    });
  bool posted = false;
  WEventRecord e;
  while (running.load() > 0) {
    // An idle turn gives the callers the processor: a spinning loop would
    // hold it for whole time slices where only one thread runs at a time.
    if (WGetNextEvent(&e)) DispatchUserEvent(&e);
    else std::this_thread::sleep_for(std::chrono::microseconds(50));
    if (!posted && calls.load() > before) {
      VIRec(vi)->eState = kVIStateIdle;
      ASSERT_EQ(PostUserEvent(kWRootWindow, kUEDisposeRTMenu, int32(uintptr_t(vi)), 0, 0, 0, 0, 0, 0), kNoErr);
      posted = true;
    }
  }
  for (auto& t : threads) t.join();
  while (WGetNextEvent(&e)) DispatchUserEvent(&e);
  EXPECT_TRUE(posted);
  EXPECT_FALSE(RTMIsMenuRefnum(ref));
  EXPECT_LT(calls.load(), n * rounds) << "later calls answer 4";
}

}  // namespace
