// Recording a metafile keeps the box of each drawing record.  A polygon
// that spans many rows with many edges, or a wide-pen stroke over a large
// area, would take time in proportion to the area it names; the work one
// file spends on exact boxes is bounded, so recording n such records grows
// with n.
#include <benchmark/benchmark.h>

#include <vector>

#include "platform/qx_dc.h"
#include "platform/qx_draw.h"
#include "platform/qx_drawobj.h"
#include "platform/qx_metafile.h"
#include "platform/qx_shapes.h"

namespace {

void BM_MetafileTallFigures(benchmark::State& st) {
  const int32_t n = int32_t(st.range(0));
  // A zigzag of 60 points over 64,000 rows, and a wide-pen zigzag.
  std::vector<PlatPoint> tall, wide;
  for (int32_t i = 0; i < 60; ++i) tall.push_back(PlatPoint{(i % 2) * 3000, i * 64000 / 59});
  for (int32_t i = 0; i < 50; ++i) wide.push_back(PlatPoint{(i % 2) * 1500, i * 40});
  for (auto _ : st) {
    PlatObj dc = PlatCreateMetafileDc("\\qx.emf", "bench");
    if (!dc) return st.SkipWithError("no metafile context");
    PlatObj nullPen = PlatCreatePen(kPlatPenNull, 1, 0), widePen = PlatCreatePen(kPlatPenSolid, 40, 0);
    for (int32_t k = 0; k < n; ++k) {
      PlatSelectObject(dc, nullPen);
      PlatPolygon(dc, tall.data(), int32_t(tall.size()));
      PlatSelectObject(dc, widePen);
      PlatPolyline(dc, wide.data(), int32_t(wide.size()));
    }
    PlatSelectObject(dc, PlatGetStockObject(kPlatStockBlackPen));
    PlatDeleteObject(nullPen);
    PlatDeleteObject(widePen);
    PlatMetafile mf = PlatCloseMetafileDc(dc);
    if (!mf) return st.SkipWithError("no metafile");
    PlatDeleteMetafile(mf);
  }
  st.SetComplexityN(n);
}
BENCHMARK(BM_MetafileTallFigures)->RangeMultiplier(4)->Range(4, 256)->Complexity(benchmark::oN);

}  // namespace
