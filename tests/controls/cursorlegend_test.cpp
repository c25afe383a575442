// The cursor-legend question the panel loader asks of the graphs.
#include <gtest/gtest.h>

#include <vector>

#include "controls/cursorlegend.h"
#include "controls/graphcursors.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "engine/engine_test_support.h"
#include "engine/objswap.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "panel/objects.h"
#include "tools/vibuilder.h"

namespace {

class BoundaryCursorLegend : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    heap_ = OHNewHeap(1024, kPanelHeapKind, kHeapExtensionSize, kClsObjHeapHdrExtension);
    ASSERT_NE(heap_, nullptr);
  }
  void TearDown() override {
    OHDisposeHeap(heap_);
    EngineTest::TearDown();
  }
  int32 New(int32 cls, int32 owner, int16 part) { return vib::NewObject(heap_, cls, 60, owner, part); }
  ObjHeap heap_ = nullptr;
};

TEST_F(BoundaryCursorLegend, TheStringOfACursorLegendIsRecognisedWithItsGraph) {
  const int32 graph = New(kClsGraphChart, 0, 0);
  const int32 array = New(kClsArray, graph, 8014);
  const int32 cluster = New(kClsCluster, array, 0);
  const int32 str = New(kClsString, cluster, 5);
  const int32 text = New(kClsLabel, str, 11);
  int32 found = 0;
  EXPECT_EQ(IsCursorLegendString(heap_, text, &found), 1);
  EXPECT_EQ(found, graph);
  EXPECT_EQ(IsCursorLegendString(heap_, text, nullptr), 1);
  // Each link of the chain matters.
  struct Case {
    const char* what;
    int32 obj, at;
    uInt32 value;
    bool half;
  } cases[] = {
      {"text part id", text, kObjPartId, 16, true},
      {"legend part id", array, kObjPartId, 8013, true},
      {"owner not a string", text, kObjOwner, uInt32(cluster), false},
      {"owner outside the heap", str, kObjOwner, 0x7FFFFF00, false},
      {"owner inside a block", cluster, kObjOwner, uInt32(array + 4), false},
      {"no owner", text, kObjOwner, 0, false},
  };
  for (const Case& c : cases) {
    uChar* p = *heap_ + c.obj + c.at;
    const uInt32 saved = c.half ? GetNative16(p) : GetNative32(p);
    if (c.half) PutNative16(p, uInt16(c.value));
    else PutNative32(p, c.value);
    found = -1;
    EXPECT_EQ(IsCursorLegendString(heap_, text, &found), 0) << c.what;
    EXPECT_EQ(found, -1) << c.what;
    if (c.half) PutNative16(p, uInt16(saved));
    else PutNative32(p, saved);
  }
  EXPECT_EQ(IsCursorLegendString(heap_, text, &found), 1);
  EXPECT_EQ(IsCursorLegendString(heap_, text + 2, &found), 0) << "not an object";
  EXPECT_EQ(IsCursorLegendString(nullptr, text, &found), 0);
}

// A label is measured in the graph's cursor font (the application font
// without a legend); only a shown label whose size changed asks for a redraw.
TEST_F(BoundaryCursorLegend, ACursorLabelIsMeasuredInTheCursorFont) {
  ASSERT_NE(GraphCursorFields(), nullptr);
  std::vector<uChar> cursor(size_t(GraphCursorFields()->size), 0);
  UHandle name = DSNewHandle(12);
  PutNative32(*name, 8);
  std::memcpy(*name + 4, "Cursor 1", 8);
  SetCursorName(cursor.data(), name);
  SetCursorU32(cursor.data(), kGCFlags, kCursorShowLabel);
  const int32 font = GetGraphCursorFont(heap_, New(kClsGraphChart, 0, 0));
  EXPECT_EQ(MeasureCursorLabel(cursor.data(), font), 1);
  EXPECT_GT(CursorI16(cursor.data(), kGCLabelHeight), 0);
  EXPECT_GT(CursorI16(cursor.data(), kGCLabelWidth), 0);
  EXPECT_EQ(MeasureCursorLabel(cursor.data(), font), 0);
  PutNative32(*name, 1);
  SetCursorU32(cursor.data(), kGCFlags, 0);
  EXPECT_EQ(MeasureCursorLabel(cursor.data(), font), 0);
  int32 count = 5;
  EXPECT_EQ(GetGraphCursorList(heap_, 0, &count), nullptr);
  EXPECT_EQ(count, 0);
  TDisposeFont(font);
  DSDisposeHandle(name);
}

}  // namespace
