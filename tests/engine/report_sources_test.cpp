// Failure reports name their source by a fixed short name, never by a path
// of the machine that built the program.
#include <functional>
#include <string>
#include <vector>

#include "engine/datamgr.h"
#include "engine/flatten.h"
#include "engine/stdize.h"
#include "engine/typemgr.h"
#include "engine_test_support.h"
#include "mgsource/objlist.h"
#include "tools/tdbuilder.h"

namespace {

using qxtest::EngineTest;

class ReportSources : public EngineTest {};

int32 NoBlock(ObjHeap, int32) { return 0; }

TEST_F(ReportSources, EveryAreaNamesAFixedShortSource) {
  ASSERT_EQ(TypeHeapInit(), kNoErr);
  struct Case {
    const char* source;
    std::function<void()> fail;
  };
  std::vector<Case> cases = {
      {"data", [] { CopyDataWalk(nullptr, nullptr, nullptr, 0); }},
      {"data", [] { FlatSizeWalk(nullptr, nullptr, 0); }},
      {"datatype", [] { TDNamePtr(nullptr); }},
      {"typemgr", [] { NewStdTypeID(nullptr, -1); }},
      {"typeload", [] { LoadVITypesFromHandle(nullptr, AZNewHClr(64)); }},
      {"stdize",
       [] {
         std::vector<uChar> v = tdb::Variant(3).Bytes();
         TDStandardize(tdb::AsTD(v), kToFileOrder);
       }},
      {"objheap", [] { OHForEachBlock(nullptr, NoBlock); }},
      {"objlist", [] { ObjListCount(nullptr, 0); }},
  };
  for (const Case& c : cases) {
    ClearReports();
    c.fail();
    std::string text = ReportText();
    SCOPED_TRACE(text);
    EXPECT_NE(text.find(std::string("\"") + c.source + "\" line"), std::string::npos) << c.source;
    EXPECT_EQ(text.find('/'), std::string::npos);
    EXPECT_EQ(text.find(".cpp"), std::string::npos);
    EXPECT_EQ(text.find(".h\""), std::string::npos);
  }
}

}  // namespace
