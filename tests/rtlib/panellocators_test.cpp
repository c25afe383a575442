// Addresses of panel data inside the data space of a panel's VI.
#include <gtest/gtest.h>

#include "engine/engine_test_support.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "rtlib/panellocators.h"
#include "tools/vibuilder.h"

namespace {

class PanelLocatorTest : public qxtest::EngineTest {};

TEST_F(PanelLocatorTest, OffsetsInsideTheOwnersDataSpace) {
  UHandle vi = vib::NewVI({tdb::I32(), tdb::String()});
  ObjHeap panel = vib::NewPanel(vi);
  UHandle ds = VIRec(vi)->dataSpace;
  for (int32 off : {4, 528, 532, DSGetHandleSize(ds) - 1}) EXPECT_EQ(FPHeapDataPtr(panel, off), *ds + off) << off;
  // It follows the block when the data space grows and moves.
  ASSERT_EQ(DSSetHandleSize(ds, 200000), kNoErr);
  EXPECT_EQ(FPHeapDataPtr(panel, 532), *ds + 532);
  vib::DisposeVI(vi);
}

TEST_F(PanelLocatorTest, OffsetZeroIsNullWithoutLookingAtTheHeap) {
  ClearReports();
  EXPECT_EQ(FPHeapDataPtr(reinterpret_cast<ObjHeap>(uintptr_t(0x10)), 0), nullptr);
  EXPECT_EQ(FPHeapDataPtr(nullptr, 0), nullptr);
  EXPECT_EQ(ReportText(), "");
}

TEST_F(PanelLocatorTest, WhatHasNoDataSpaceOrLiesOutsideItIsRefused) {
  UHandle vi = vib::NewVI({tdb::I32()});
  ObjHeap panel = vib::NewPanel(vi);
  UHandle ds = VIRec(vi)->dataSpace;
  struct Case {
    const char* what;
    ObjHeap heap;
    int32 offset;
  };
  ObjHeap typeHeap = OHNewHeap(200, kTypeHeapKind, kHeapExtensionSize, kClsObjHeapHdrExtension);
  ObjHeap orphan = OHNewHeap(200, kPanelHeapKind, kHeapExtensionSize, kClsObjHeapHdrExtension);
  const Case cases[] = {
      {"past the end", panel, DSGetHandleSize(ds)},
      {"negative", panel, -4},
      {"another heap kind", typeHeap, 528},
      {"no owner", orphan, 528},
      {"no heap", nullptr, 528},
  };
  for (const Case& c : cases) {
    ClearReports();
    EXPECT_EQ(FPHeapDataPtr(c.heap, c.offset), nullptr) << c.what;
    EXPECT_EQ(qxtest::Reports::Get().Count("FPHeapDataPtr"), 1) << c.what;
  }
  UHandle saved = VIRec(vi)->dataSpace;
  VIRec(vi)->dataSpace = nullptr;
  ClearReports();
  EXPECT_EQ(FPHeapDataPtr(panel, 528), nullptr) << "a VI without data space";
  EXPECT_EQ(qxtest::Reports::Get().Count("FPHeapDataPtr"), 1);
  VIRec(vi)->dataSpace = saved;
  OHDisposeHeap(typeHeap);
  OHDisposeHeap(orphan);
  vib::DisposeVI(vi);
}

}  // namespace
