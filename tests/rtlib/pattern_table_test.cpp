// The pattern and token functions in the run-time function table: at their
// indexes, exported by the names the table list gives, and called through
// the table as compiled code calls them.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include "compiled_call.h"
#include "rtlib/pattern.h"
#include "rtlib/tokenize.h"
#include "strings_test_support.h"

namespace {

using qxtest::CallAsCompiledCode;
using qxtest::CallResult;
using rttest::NewString;
using rttest::Text;
using rttest::Routine;
using rttest::Word;

class PatternTableTest : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    rttest::StartRTTable();
  }
};

TEST_F(PatternTableTest, EntriesStandAtTheirIndexesAndAreExportedByName) {
  struct Case {
    int32 index;
    const char* name;
    QXRTRoutine routine;
  } cases[] = {
      {725, "MakePattern", Routine(&MakePattern)},
      {810, "LexClass", Routine(&LexClass)},
      {811, "MatchPattern", Routine(&MatchPattern)},
      {1663, "TokenizeString", Routine(&TokenizeString)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(QXRTTable[c.index], c.routine) << c.name;
    EXPECT_STREQ(QXRTEntryName(c.index), c.name);
    EXPECT_EQ(Routine(dlsym(RTLD_DEFAULT, c.name)), c.routine) << c.name;
  }
  int32 count = 0;
  const QXRTEntry* entries = QXRTRTLibEntries(&count);
  int found = 0;
  for (int32 k = 0; k < count; ++k)
    for (const Case& c : cases) found += entries[k].index == c.index && entries[k].routine == c.routine;
  EXPECT_EQ(found, 4);
}

TEST_F(PatternTableTest, CompiledCodeMatchesAndTokenizesThroughTheTable) {
  LStrHandle code = nullptr;
  const char* pattern = "[0-9]+";
  CallResult r = CallAsCompiledCode(QXRTTable[725], {6, Word(pattern), Word(&code)});
  EXPECT_EQ(r.eax, 0u);
  EXPECT_EQ(r.espAfter, r.espBefore);
  EXPECT_EQ(CallAsCompiledCode(QXRTTable[810], {'q'}).eax, 5u);

  const char* input = "ab123c";
  LStrHandle before = nullptr, match = nullptr, after = nullptr;
  int32 past = 0;
  r = CallAsCompiledCode(QXRTTable[811], {Word(code), 6, Word(input), uInt32(-1), Word(&before), Word(&match),
                                          Word(&after), Word(&past)});
  EXPECT_EQ(r.eax, 0u);
  EXPECT_EQ(r.espAfter, r.espBefore);
  EXPECT_EQ(Text(before), "ab");
  EXPECT_EQ(Text(match), "123");
  EXPECT_EQ(Text(after), "c");
  EXPECT_EQ(past, 5);

  LStrHandle s = NewString("x=-12");
  LStrArrayHandle ops = rttest::NewList({"=", "%d"});
  TokenizeCache cache{};
  int32 offset = 1, index = 0;
  LStrHandle token = nullptr;
  std::string got;
  for (int k = 0; k < 3; ++k) {
    r = CallAsCompiledCode(QXRTTable[1663], {Word(s), 0, Word(ops), Word(&offset), 1, Word(&token), Word(&index),
                                             Word(&cache)});
    EXPECT_EQ(r.eax, 0u);
    EXPECT_EQ(r.espAfter, r.espBefore);
    got += Text(token) + "/" + std::to_string(index) + "/" + std::to_string(offset) + " ";
  }
  EXPECT_EQ(got, "=/0/2 -12/1/5 /-1/-1 ");
  EXPECT_NE(cache.firstChars, nullptr);

  rttest::DisposeCache(cache);
  rttest::DisposeList(ops);
  for (LStrHandle* h : {&code, &before, &match, &after, &s, &token}) rttest::Dispose(*h);
}

}  // namespace
