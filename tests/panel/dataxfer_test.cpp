// Drops onto panel objects, listbox row counts and the 32-bit comparator.
#include "mgsource/sorting.h"
#include "panel/dataxfer.h"
#include "panel_test_support.h"
#include "platform/qx_droptarget.h"

namespace {

class DataXfer : public ptest::PanelTest {};

TEST_F(DataXfer, ObjectItemsStandForVIsAndTheirPaths) {
  const Path saved = VIRec(vi_)->path, viPath = FEmptyPath(nullptr), out = FEmptyPath(nullptr);
  FAppendName(viPath, reinterpret_cast<const uChar*>("\004a.vi"));
  VIRec(vi_)->path = viPath;
  const int32 label = Obj(kClsLabel), linked = Obj(kClsTypeDefinition), unlinked = Obj(kClsTypeDefinition);
  TypeDefSetLink(panel_, linked, vi_);
  DataXferRec rec{};
  DataXferInitObj(panel_, vib::NewList(panel_, {label, linked, Obj(kClsConnectorPane), unlinked, 0x7FFFFF00}), 9,
                  &rec);
  EXPECT_EQ(DataXferPassArg4(rec, 0, nullptr), 5);
  const int32 hasVI[] = {0, 1, 1, 0, 0, 0};  // the last two: an interior offset, past the count
  for (int32 i = 0; i < 6; ++i) {
    EXPECT_EQ(DataXferItemHasVI(rec, i, nullptr), hasVI[i]) << i;
    EXPECT_EQ(DataXferItemPath(rec, i, out), hasVI[i] ? kNoErr : kArgErr) << i;
    EXPECT_TRUE(!hasVI[i] || FPathCmp(out, viPath) == 0) << i;
  }
  EXPECT_EQ(DataXferPathCheck(rec, 1, panel_, Obj(kClsPath)), 1);
  EXPECT_EQ(DataXferPathCheck(rec, 1, panel_, label), 0);
  FNotAPath(viPath);
  EXPECT_EQ(DataXferItemIsPath(rec, 1, nullptr), 0);
  EXPECT_EQ(Asserts(), 0);
  EXPECT_EQ(DataXferItemData(rec, 0, nullptr), kArgErr);
  EXPECT_EQ(Reports("dragsup"), 1);
  VIRec(vi_)->path = saved;
  FDisposePath(viPath);
  FDisposePath(out);
}

TEST_F(DataXfer, DraggedFilesAreCountedAndReadAndForeignHandlesRefused) {
  PlatDataObject* files = PlatNewFilesDataObject({"C:\\one.txt", "C:\\two.vi"});
  DragData drag = nullptr, bare = DSNewHClr(8);
  ASSERT_EQ(DragNewData(&drag, uInt32(reinterpret_cast<uintptr_t>(files))), kNoErr);
  DataXferRec rec{};
  EXPECT_EQ(DataXferInitDrag(drag, kDragKindDataObject, &rec), kNoErr);
  EXPECT_EQ(rec.count, 2);
  const Path p = FEmptyPath(nullptr);
  for (int32 i = 0; i < 3; ++i) {  // one past the items: no item, no report
    EXPECT_EQ(DataXferItemHasVI(rec, i, nullptr), i < 2) << i;
    EXPECT_EQ(DataXferItemPath(rec, i, p), i < 2 ? kNoErr : kArgErr) << i;
  }
  uChar name[256] = {};
  FNamePtr(p, name);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name + 1), name[0]), "two.vi");
  // A handle of the other zone, and a drag record whose flags word names no
  // handle, give no items.
  for (UHandle h : {Keep(AZNewHClr(8)), bare, UHandle(nullptr)}) {
    EXPECT_EQ(DataXferInitDrag(h, kDragKindDrop, &rec), kArgErr);
    EXPECT_EQ(rec.count + DataXferItemIsPath(rec, 0, nullptr), 0);
  }
  EXPECT_EQ(Asserts(), 0);
  FDisposePath(p);
  DSDisposeHandle(bare);
  DragDisposeData(drag);
  files->Release();
}

// The list part's size message, borrowed: it takes the rectangle it is sent.
int32 TakeSize(ObjHeap heap, int32 object, const Rect* r, int32) {
  if (r) std::memcpy(*heap + object + kObjBounds, r, sizeof *r);
  return 0;
}

TEST_F(DataXfer, ListboxRowsStayAboveTheCoordinateLimit) {
  auto* label = const_cast<ObjClassRecord*>(ClassRecord(kClsLabel));
  const ObjMethodAddr saved = label->methods[kMsgOSize];
  label->methods[kMsgOSize] = reinterpret_cast<ObjMethodAddr>(&TakeSize);
  struct Case {
    int16 top, height, visible, rows, answer, stored, bottom;
  } cases[] = {{15000, 100, 3, 20, 1, 10, 16000}, {15000, 100, 10, 20, 0, 10, 15050}, {100, 20, 3, 3, 0, 3, 15050},
               {100, 20, 3, 5, 1, 5, 200},        {100, 0, 3, 5, 0, 3, 15050},        {16100, 10, 3, 5, 1, 0, 16100}};
  for (const Case& c : cases) {
    const int32 box = Obj(kClsListbox), list = Obj(kClsLabel, box, kListboxListPart);
    SetBounds(list, Rect{c.top, 0, 15050, 50});
    std::memcpy(*panel_ + box + kListboxRowHeightByte, &c.height, 2);
    std::memcpy(*panel_ + box + kListboxVisibleRowsByte, &c.visible, 2);
    EXPECT_EQ(ListboxSetRowCount(panel_, box, c.rows), c.answer) << c.top + c.rows;
    EXPECT_EQ(ObjInt16(panel_, box, kListboxVisibleRowsByte), c.stored) << c.top + c.rows;
    EXPECT_EQ(ObjInt16(panel_, list, kObjBounds + 4), c.bottom) << c.top + c.rows;
  }
  label->methods[kMsgOSize] = saved;
  EXPECT_EQ(Asserts(), 0);
}

TEST_F(DataXfer, CompareU32OrdersValuesFarApart) {
  uInt32 v[] = {0xFFFFFFFFu, 0, 0x80000000u, 1};
  QSort(v, 4, 4, &CompareU32);
  EXPECT_EQ(std::vector<uInt32>(v, v + 4), (std::vector<uInt32>{0, 1, 0x80000000u, 0xFFFFFFFFu}));
}

}  // namespace
