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
  std::vector<uChar> HandleBytes(std::vector<UHandle> hs) {
    std::vector<uChar> b;
    for (UHandle h : hs) Put(&b, h);
    return b;
  }
};

TEST_F(PlotLayoutTest, EachKindNamesItsPlotsAndPoints) {
  const TD n = DBL(), arr = Array(n), arr2 = Array(n, {kTDVariable, kTDVariable});
  const TD xy = Cluster({n, n});
  // Shared values.
  UHandle a3 = Doubles({1, 2, 3}), a5 = Doubles({10, 20, 30, 40, 50});
  UHandle m23 = Doubles({0, 1, 2, 3, 4, 5}, {2, 3});
  std::vector<uChar> pts;
  for (float64 v : {1.0, 11.0, 2.0, 12.0, 3.0, 13.0}) Put(&pts, v);
  UHandle points = Records(pts, 3);
  std::vector<uChar> pts2;
  for (float64 v : {5.0, 6.0}) Put(&pts2, v);
  UHandle points2 = Records(pts2, 1);
  std::vector<uChar> wave;  // {x0 = 10, dx = 0.5, Y[]}
  Put(&wave, 10.0);
  Put(&wave, 0.5);
  Put(&wave, a5);
  std::vector<uChar> wave2;  // {x0 = -1, dx = 2 as an I32, Y[]}
  Put(&wave2, -1.0);
  Put(&wave2, int32(2));
  Put(&wave2, a3);
  std::vector<uChar> pair = HandleBytes({a3, a5});
  std::vector<uChar> scaled2D;
  Put(&scaled2D, 0.0);
  Put(&scaled2D, 1.0);
  Put(&scaled2D, m23);
  std::vector<uChar> scaledArrays;
  Put(&scaledArrays, 0.0);
  Put(&scaledArrays, 1.0);
  Put(&scaledArrays, Records(HandleBytes({a3, a5}), 2));
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
      {1, arr, HandleBytes({a3}), 3, 1, 0, 3, 2, 2, 3},
      {1, Array(Cluster({arr})), HandleBytes({Records(HandleBytes({a3, a5}), 2)}), 4, 2, 1, 5, 4, 4, 50},
      {1, arr2, HandleBytes({m23}), 5, 2, 1, 3, 0, 0, 3},   // rows
      {2, arr2, HandleBytes({m23}), 5, 3, 1, 2, 1, 1, 4},   // columns
      {0, Array(xy), HandleBytes({points}), 6, 1, 0, 3, 1, 2, 12},
      {0, Array(Cluster({Array(xy)})), HandleBytes({Records(HandleBytes({points, points2}), 2)}), 7, 2, 1, 1, 0, 5, 6},
      {0, Cluster({arr, arr}), pair, 8, 1, 0, 3, 2, 3, 30},   // the shorter array's count
      {0, Array(Cluster({arr, arr})), HandleBytes({Records(pair, 1)}), 9, 1, 0, 3, 1, 2, 20},
      {1, Cluster({n, n, arr}), wave, 10, 1, 0, 5, 2, 11, 30},
      {1, Array(Cluster({n, I32(), arr})), HandleBytes({Records(wave2, 1)}), 11, 1, 0, 3, 2, 3, 3},
      {1, Cluster({n, n, Array(Cluster({arr}))}), scaledArrays, 12, 2, 1, 5, 3, 3, 40},
      {2, Cluster({n, n, arr2}), scaled2D, 13, 3, 2, 2, 1, 1, 5},
      {3, arr2, HandleBytes({m35}), 17, 5, 4, 3, 2, 2, 24},  // z of [2][4]
      {4, arr2, HandleBytes({m35}), 17, 3, 2, 5, 4, 4, 24},  // z of [2][4]
      {1, arr, HandleBytes({lying}), 3, 1, 0, 0, -1, 0, 0},    // a count its handle does not hold
      {1, arr, HandleBytes({nullptr}), 3, 1, 0, 0, -1, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << " kind " << c.kind);
    graphtest::GraphSpec spec;
    spec.type = c.type;
    const int32 g = MakeGraph(spec);
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
