// Generic lists and the process-wide tag list.
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "mgsource/gnrclist.h"
#include "panel/osupport.h"
#include "panel/textparts.h"
#include "panel/zktag.h"
#include "mgsource/memory.h"
#include "panel_test_support.h"

namespace {

class Lists : public ptest::PanelTest {
 protected:
  void TearDown() override {
    DisposeTagLists();
    PanelTest::TearDown();
  }
  static std::vector<int32> Items(UHandle l) {
    std::vector<int32> v;
    for (int32 i = 0; i < GLCount(l, 4); ++i) {
      int32 x = 0;
      GLGet(l, &x, 4, i);
      v.push_back(x);
    }
    return v;
  }
  // A caller's list in a data-zone handle; flags by position.
  UHandle TagList(const std::vector<std::string>& names, uChar flag = 0) {
    UHandle l = Keep(DSNewHClr(4 + 5 * int32(names.size())));
    PutNative32(*l, uInt32(names.size()));
    for (size_t i = 0; i < names.size(); ++i) {
      UHandle n = Keep(DSNewHandle(4 + int32(names[i].size())));
      reinterpret_cast<LStr*>(*n)->cnt = int32(names[i].size());
      std::memcpy(*n + 4, names[i].data(), names[i].size());
      PutNative32(*l + 4 + 5 * i, uInt32(uintptr_t(n)));
      (*l)[8 + 5 * i] = flag;
    }
    return l;
  }
  LStrHandle Str(const std::string& s) {
    UHandle h = Keep(DSNewHandle(4 + int32(s.size())));
    reinterpret_cast<LStr*>(*h)->cnt = int32(s.size());
    std::memcpy(*h + 4, s.data(), s.size());
    return reinterpret_cast<LStrHandle>(h);
  }
};

TEST_F(Lists, GenericListPinsIndexesFindsFromTheEndAndRefusesOtherSizes) {
  UHandle l = GLNew(2, 4);
  ASSERT_NE(l, nullptr);
  struct Step {
    int32 value, index;
  } steps[] = {{1, 0}, {2, -5}, {3, 99}, {2, 1}};
  for (const Step& s : steps) EXPECT_EQ(GLInsert(l, &s.value, 4, 3, s.index), kNoErr);
  EXPECT_EQ(Items(l), (std::vector<int32>{2, 2, 1, 3}));
  EXPECT_EQ(DSGetHandleSize(l), ((2 + 3) * 4 + 19) & ~7) << "grown once by 3";
  const int32 key = 2;
  EXPECT_EQ(GLFindP(*l, &key, 4), 1) << "the later of two";
  EXPECT_EQ(GLRemoveMatch(l, &key, 4), 1);
  EXPECT_EQ(Items(l), (std::vector<int32>{2, 1, 3}));
  int32 out = -1;
  EXPECT_EQ(GLRemove(l, &out, 4, 99), 1);
  EXPECT_EQ(out, 3);
  EXPECT_EQ(GetNative32(*l + 12 + 4 * 2), 0u) << "the freed element is cleared";
  // Another element size: refused with the list unchanged.
  ClearReports();
  const int64 wide = 7;
  EXPECT_EQ(GLInsert(l, &wide, 8, 3, 0), kArgErr);
  int64 out8 = -1;
  EXPECT_EQ(GLGet(l, &out8, 8, 0), 0);
  EXPECT_EQ(GLRemove(l, &out8, 8, 0), 0);
  EXPECT_EQ(out8, 0);
  EXPECT_EQ(GLCount(nullptr, 4), 0);
  EXPECT_EQ(Asserts(), 4);
  EXPECT_EQ(Items(l), (std::vector<int32>{2, 1}));
  // Full without growth; empty removal clears the output.
  UHandle full = GLNew(1, 4);
  EXPECT_EQ(GLInsertP(*full, &key, 4, 0), kNoErr);
  EXPECT_EQ(GLInsertP(*full, &key, 4, 0), kMemFullErr);
  EXPECT_EQ(GLRemove(full, nullptr, 4, 0), 1);
  out = -1;
  EXPECT_EQ(GLRemove(full, &out, 4, 0), 0);
  EXPECT_EQ(out, 0);
  EXPECT_EQ(GLInsert(full, &key, 4, 0, 0), kNoErr);
  EXPECT_EQ(GLInsert(full, &key, 4, 0, 0), kMemFullErr) << "full and may not grow";
  GLDispose(full);
  GLDispose(l);
}

TEST_F(Lists, TagListComparesWholeNamesIgnoringCaseAndReusesItsHandles) {
  ASSERT_EQ(InitTagLists(), kNoErr);
  EXPECT_EQ(StringInTagList(Str("")), 0) << "the empty list";
  ASSERT_EQ(InstallTagList(TagList({"abc", "Dev1", "x", "y", "z"}, 1)), kNoErr);
  UHandle installed = TagListHandle();
  std::vector<UHandle> names;
  for (int32 i = 0; i < 5; ++i) names.push_back(reinterpret_cast<UHandle>(uintptr_t(GetNative32(*installed + 4 + 5 * i))));
  struct Case {
    const char* text;
    int32 found;
  } cases[] = {{"ABC", 1}, {"ab", 0}, {"abcd", 0}, {"dev1", 1}, {"", 0}};
  for (const Case& c : cases) EXPECT_EQ(StringInTagList(Str(c.text)), c.found) << c.text;
  const uChar* text = nullptr;
  int32 attrs = 0;
  EXPECT_EQ(TagListItem(nullptr, 0, installed, &text, &attrs, -1), 5);
  EXPECT_EQ(TagListItem(nullptr, 0, installed, &text, &attrs, 1), 4);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(text), 4), "Dev1");
  EXPECT_EQ(attrs, 33);
  EXPECT_EQ(TagListItem(nullptr, 0, installed, &text, &attrs, 5), 0);
  EXPECT_EQ(attrs, 0);
  // Three after five: the same handle, two names freed, three reused.
  ASSERT_EQ(InstallTagList(TagList({"p", "q", "r"})), kNoErr);
  EXPECT_EQ(TagListHandle(), installed);
  for (int32 i = 0; i < 5; ++i) EXPECT_EQ(AZCheckHandle(names[i]) == kNoErr, i < 3) << i;
  EXPECT_EQ(TagListItem(nullptr, 0, installed, &text, &attrs, 0), 1);
  EXPECT_EQ(attrs, 0);
  EXPECT_EQ(StringInTagList(Str("abc")), 0);
  EXPECT_EQ(StringInTagList(Str("Q")), 1);
  // Tag controls of a panel with a window are redrawn: parts 79 and 11, or
  // the array that holds the tag.
  ShowInWindow();
  const int32 tag = Obj(kClsTag);
  SetBounds(Obj(kClsLabel, tag, 79), Rect{10, 10, 20, 20});
  SetBounds(Obj(kClsLabel, tag, 11), Rect{30, 10, 40, 20});
  const int32 array = Obj(kClsArray);
  const int32 inner = Obj(kClsTag, array);
  SetW(array, kPWArrayElement, inner);
  SetBounds(Obj(kClsLabel, inner, 11), Rect{50, 10, 60, 20});
  ASSERT_EQ(InstallTagList(nullptr), kNoErr);
  EXPECT_TRUE(InvalidAt(15, 35) && InvalidAt(15, 55));
  EXPECT_FALSE(InvalidAt(15, 25)) << "between the parts";
  EXPECT_EQ(R(TakeInvalid()), R(Rect{10, 10, 60, 20}));
}

TEST_F(Lists, BadTagListsAreRefusedAndAFailureLeavesNoList) {
  ASSERT_EQ(InitTagLists(), kNoErr);
  ASSERT_EQ(InstallTagList(TagList({"a"})), kNoErr);
  UHandle past = TagList({"b"});
  PutNative32(*past, 2);
  UHandle longer = TagList({"e"});
  reinterpret_cast<LStr*>(**reinterpret_cast<UHandle*>(*longer + 4))->cnt = 9;
  UHandle freed = TagList({"c", "d"});
  UHandle gone = DSNewHandle(8);
  DSDisposeHandle(gone);
  PutNative32(*freed + 9, uInt32(uintptr_t(gone)));
  for (UHandle bad : {past, longer, freed}) EXPECT_EQ(InstallTagList(bad), kArgErr);
  EXPECT_EQ(StringInTagList(Str("a")), 1) << "the installed list stays";
  // A blank text is no tag, even with an empty name installed.
  ASSERT_EQ(InstallTagList(TagList({"", "T1"})), kNoErr);
  EXPECT_EQ(StringInTagList(Str("")), 1);
  const int32 tag = Obj(kClsTag);
  const int32 text = Obj(kClsLabel, tag, 11);
  for (const char* s : {"", "  \t", "t1", "T2"}) {
    SetPartText(panel_, text, reinterpret_cast<const uChar*>(s), int32(std::strlen(s)), 0, 0);
    EXPECT_EQ(IsValidTag(panel_, tag, 0), std::string(s) == "t1" ? 1 : 0) << '"' << s << '"';
  }
  TDispose(PartTextRecord(panel_, text));
  ObjSetWord(panel_, text, kPWLabelText, 0);
  // Memory running out on the second name leaves no list at all.
  DisposeTagLists();
  ASSERT_EQ(InitTagLists(), kNoErr);
  UHandle two = TagList({"m", "n"});
  MemFailNthAllocation(3);
  EXPECT_EQ(InstallTagList(two), kMemFullErr);
  MemFailNthAllocation(0);
  EXPECT_EQ(TagListHandle(), nullptr);
  EXPECT_EQ(StringInTagList(Str("m")), 0);
}

TEST_F(Lists, TagListItemsStayWholeWhileAnotherThreadInstallsThreads) {
  ASSERT_EQ(InitTagLists(), kNoErr);
  UHandle lists[2] = {TagList({"alpha", "alpha", "alpha"}), TagList({"be", "be"})};
  ASSERT_EQ(InstallTagList(lists[0]), kNoErr);
  std::atomic<bool> stop{false};
  std::atomic<int32> torn{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t)
    readers.emplace_back([&] {
      while (!stop.load()) {
        const uChar* text = nullptr;
        int32 attrs = 0;
        const int32 n = TagListItem(nullptr, 0, TagListHandle(), &text, &attrs, 1);
        const std::string s(reinterpret_cast<const char*>(text), size_t(n));
        if (!(s.empty() || s == "alpha" || s == "be")) torn.fetch_add(1);
      }
    });
  const int rounds = qxtest::Scaled(2000);
  for (int i = 0; i < rounds; ++i) ASSERT_EQ(InstallTagList(lists[i & 1]), kNoErr);
  stop = true;
  for (auto& t : readers) t.join();
  EXPECT_EQ(torn.load(), 0);
}

}  // namespace
