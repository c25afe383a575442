// Where each plot kind keeps its plots and points in a graph's value.
#include <gtest/gtest.h>

#include "graph_test_support.h"
#include "mgsource/numconv.h"

namespace {

using tdb::Array, tdb::AsTD, tdb::Cluster, tdb::DBL, tdb::I16, tdb::I32, tdb::String, tdb::TD;

class PlotLayoutTest : public graphtest::GraphTest {
 protected:
  static float64 At(const uChar* base, int32 stride, int32 type, int32 i) {
    float64 d = 0;
    ConvertNum(type, base + int64(i) * stride, kTDDBL, &d);
    return d;
  }
};

TEST_F(PlotLayoutTest, EachKindNamesItsPlotsAndPoints) {
  const TD n = DBL(), arr = Array(n), arr2 = Array(n, {kTDVariable, kTDVariable});
  const TD xy = Cluster({n, n});
  UHandle a3 = Doubles({1, 2, 3}), a5 = Doubles({10, 20, 30, 40, 50});
  UHandle m23 = Doubles({0, 1, 2, 3, 4, 5}, {2, 3});
  UHandle points = Records(Bytes(1.0, 11.0, 2.0, 12.0, 3.0, 13.0), 3), points2 = Records(Bytes(5.0, 6.0), 1);
  const std::vector<uChar> pair = Bytes(a3, a5);
  UHandle m35 = Doubles({0, 1, 2, 3, 4, 10, 11, 12, 13, 14, 20, 21, 22, 23, 24}, {3, 5});
  UHandle lying = Doubles({1, 2}, {1000});
  struct Case {
    int16 type;
    TD td;
    std::vector<uChar> value;
    GraphDataKind kind;
    int32 plots, plot, points, index;
    float64 x, y;
  } cases[] = {
      {1, arr, Bytes(a3), 3, 1, 0, 3, 2, 2, 3},
      {1, Array(Cluster({arr})), Bytes(Records(pair, 2)), 4, 2, 1, 5, 4, 4, 50},
      {1, arr2, Bytes(m23), 5, 2, 1, 3, 0, 0, 3},   // rows
      {2, arr2, Bytes(m23), 5, 3, 1, 2, 1, 1, 4},   // columns
      {0, Array(xy), Bytes(points), 6, 1, 0, 3, 1, 2, 12},
      {0, Array(Cluster({Array(xy)})), Bytes(Records(Bytes(points, points2), 2)), 7, 2, 1, 1, 0, 5, 6},
      {0, Cluster({arr, arr}), pair, 8, 1, 0, 3, 2, 3, 30},   // the shorter array's count
      {0, Array(Cluster({arr, arr})), Bytes(Records(pair, 1)), 9, 1, 0, 3, 1, 2, 20},
      {1, Cluster({n, n, arr}), Bytes(10.0, 0.5, a5), 10, 1, 0, 5, 2, 11, 30},
      {1, Array(Cluster({n, I32(), arr})), Bytes(Records(Bytes(-1.0, int32(2), a3), 1)), 11, 1, 0, 3, 2, 3, 3},
      {1, Cluster({n, n, Array(Cluster({arr}))}), Bytes(0.0, 1.0, Records(pair, 2)), 12, 2, 1, 5, 3, 3, 40},
      {2, Cluster({n, n, arr2}), Bytes(0.0, 1.0, m23), 13, 3, 2, 2, 1, 1, 5},
      {3, arr2, Bytes(m35), 17, 5, 4, 3, 2, 2, 24},  // z of [2][4]
      {4, arr2, Bytes(m35), 17, 3, 2, 5, 4, 4, 24},  // z of [2][4]
      {1, arr, Bytes(lying), 3, 1, 0, 0, -1, 0, 0},    // a count its handle does not hold
      {1, arr, Bytes(UHandle(nullptr)), 3, 1, 0, 0, -1, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << " kind " << c.kind);
    const int32 g = MakeGraph({.type = c.type});
    std::vector<uChar> b = c.td.Bytes();
    GraphLayout l;
    ASSERT_EQ(GraphLayoutOf(panel_, g, AsTD(b), c.value.data(), &l), c.kind);
    EXPECT_EQ(l.plots, c.plots);
    PlotSeries s;
    ASSERT_TRUE(GraphLayoutPlot(&l, c.plot, &s));
    EXPECT_EQ(s.count, c.points);
    EXPECT_FALSE(GraphLayoutPlot(&l, c.plots, &s)) << "past the last plot";
    if (c.index < 0) continue;
    GraphLayoutPlot(&l, c.plot, &s);
    const float64 x = s.x ? At(s.x, s.xStride, s.xType, c.index) : s.x0 + c.index * s.dx;
    EXPECT_EQ(x, c.x);
    EXPECT_EQ(At(s.y, s.yStride, s.yType, c.index), c.y);
  }
}

}  // namespace
