// The print layout's part list as a class of the object system: its slots,
// and a VI's panel laid out through the messages the dispatcher sends.
#include <gtest/gtest.h>

#include <thread>

#include "mgsource/byteorder.h"
#include "mgsource/draw/printinfo.h"
#include "mgsource/draw/printlayout.h"
#include "mgsource/draw/printmgr.h"
#include "panel/objects.h"
#include "panel/osupport.h"
#include "panel/printparts.h"
#include "panel_test_support.h"
#include "mgsource/window/wmisc.h"
#include "platform/qx_cursor.h"

namespace {

class BoundaryPrint : public ptest::PanelTest {};

TEST_F(BoundaryPrint, PartListLaysOutAPanelThroughItsSlots) {
  const ObjClassRecord* c = ClassRecord(kPartListClass);
  const ObjMethodAddr null = reinterpret_cast<ObjMethodAddr>(&NullMethod);
  EXPECT_EQ(c->methods[4], reinterpret_cast<ObjMethodAddr>(&PrPartListPicture));
  EXPECT_EQ(c->methods[5], reinterpret_cast<ObjMethodAddr>(&PrPartListDraw));
  EXPECT_EQ(c->methods[7], reinterpret_cast<ObjMethodAddr>(&PrPartListLayout));
  for (int32 slot : {1, 6, 76}) EXPECT_EQ(c->methods[slot], null) << slot;
  EXPECT_EQ(c->methods[8], reinterpret_cast<ObjMethodAddr>(&ErrorMethod));
  EXPECT_EQ(ClassRecord(6)->methods[6], reinterpret_cast<ObjMethodAddr>(&ErrorMethod)) << "slot 6 of others";

  // The panel's content rectangle, 50 x 40 points, on 126 x 90-point pages.
  const Rect content{0, 0, 40, 50};
  std::memcpy(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtContentRect, &content, sizeof content);
  UHandle rec = AZNewHClr(kPrintRecordSize);
  auto* r = reinterpret_cast<PrintRecord*>(*rec);
  r->printable = Rect{0, 0, 90, 126};
  r->options = kPrintPanel | kPrintFrame;
  gPrintVI = PrintVIState{rec, vi_, 0};
  gPrintJob.error = 0;
  MgErr err = 1;
  ObjHeap heap = PNewPartList(&err);
  ASSERT_EQ(err, kNoErr);
  EXPECT_EQ(OHWord(heap, kOHKind), kPartListHeapKind);
  PLayoutVIParts(heap, vi_, 1);
  EXPECT_EQ(gPrintJob.error, kNoErr);
  EXPECT_EQ(gPrintLayout.pageCount, 1);
  EXPECT_EQ(gPrintLayout.panelHeap, panel_);
  const auto* parts = reinterpret_cast<const PrVIPartList*>(*heap + PPartListObject(heap));
  EXPECT_EQ(parts->panel.placed.left, 20);
  EXPECT_EQ(parts->panel.placed.right, 80) << "the frame's 5 points on either side";
  EXPECT_EQ(parts->panel.placed.bottom, 50);
  PDisposePartList(heap);
  EXPECT_EQ(PanelSetImagingMode(kPanelDrawPrint), kPanelDrawScreen);
  EXPECT_EQ(PanelSetImagingMode(kPanelDrawScreen), kPanelDrawPrint);
  gPrintVI = PrintVIState{};
  AZDisposeHandle(rec);
}

int32 gDraws = 0;
int32 CountDraw(ObjHeap, int32) { return ++gDraws, 0; }

// Printing draws a panel through its root object's drawing method.
class PrintRoot : public ptest::PanelRootTest {};
TEST_F(PrintRoot, APanelPrintsThroughItsRootsDrawing) {
  const int32 root = GetNative32(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtRoot);
  ASSERT_NE(root, 0);
  auto* c = const_cast<ObjClassRecord*>(ClassRecord(ObjClass(panel_, root)));
  const ObjMethodAddr saved = c->methods[kMsgODraw];
  c->methods[kMsgODraw] = reinterpret_cast<ObjMethodAddr>(&CountDraw);
  const PrintPanelHooks h = PPrintPanelHooks();
  EXPECT_EQ(h.drawPanel(panel_), kNoErr);
  EXPECT_EQ(h.drawPanel(nullptr), kArgErr);
  c->methods[kMsgODraw] = saved;
  EXPECT_EQ(gDraws, 1);
}

TEST_F(BoundaryPrint, BusyCursorShowsAfterADelayAndPrintingShowsItAtOnce) {
  const PlatCursor arrow = PlatLoadSystemCursor(kPlatCursorArrow), wait = PlatLoadSystemCursor(kPlatCursorWait);
  WSetHostCursor(-1);
  UpdateCursor(1);
  EXPECT_EQ(PlatGetCursor(), arrow) << "not before 100 ms";
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  UpdateCursor(1);
  EXPECT_EQ(PlatGetCursor(), wait);
  UpdateCursor(0);
  EXPECT_EQ(PlatGetCursor(), arrow);
  UpdateCursor(1);
  EXPECT_EQ(PlatGetCursor(), arrow) << "a new busy state waits again";
  const PrintPanelHooks hk = PPrintPanelHooks();
  hk.busyCursor(1);
  EXPECT_EQ(PlatGetCursor(), wait);
  hk.busyCursor(0);
  EXPECT_EQ(PlatGetCursor(), arrow);
}

}  // namespace
