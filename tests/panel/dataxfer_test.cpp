// Drops onto panel objects, listbox row counts and the 32-bit comparator.
#include <string>

#include "mgsource/sorting.h"
#include "panel/dataxfer.h"
#include "panel_test_support.h"
#include "platform/qx_droptarget.h"

namespace {

class DataXfer : public ptest::PanelTest {};

TEST_F(DataXfer, ObjectItemsStandForVIsAndTheirPaths) {
  Path viPath = nullptr;
  ASSERT_EQ(FTextToPath(reinterpret_cast<const uChar*>("C:\\lib\\a.vi"), 11, &viPath), kNoErr);
  const Path savedPath = VIRec(vi_)->path;
  VIRec(vi_)->path = viPath;
  const int32 label = Obj(kClsLabel), linked = Obj(kClsTypeDefinition), pane = Obj(kClsConnectorPane),
              unlinked = Obj(kClsTypeDefinition);
  TypeDefSetLink(panel_, linked, vi_);
  TypeDefSetLink(panel_, unlinked, nullptr);
  DataXferRec rec{};
  ASSERT_EQ(DataXferInitObj(panel_, vib::NewList(panel_, {label, linked, pane, unlinked, 0x7FFFFF00}), 9, &rec),
            kNoErr);
  EXPECT_EQ(DataXferPassArg4(rec, 0, nullptr), 5);
  Path out = FEmptyPath(nullptr);
  struct Case {
    int32 index, hasVI, path;
  } cases[] = {{0, 0, kArgErr}, {1, 1, kNoErr}, {2, 1, kNoErr}, {3, 0, kArgErr}, {4, 0, kArgErr}, {5, 0, kArgErr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    EXPECT_EQ(DataXferItemHasVI(rec, c.index, nullptr), c.hasVI);
    EXPECT_EQ(DataXferItemIsPath(rec, c.index, nullptr), c.hasVI);
    EXPECT_EQ(DataXferItemPath(rec, c.index, out), c.path);
    if (c.path == kNoErr) {
      EXPECT_EQ(FPathCmp(out, viPath), 0);
    }
  }
  // A VI whose record holds no path stands for none; a "Path" target asks.
  VIRec(vi_)->path = FNotAPath(nullptr);
  EXPECT_EQ(DataXferItemIsPath(rec, 1, nullptr), 0);
  FDisposePath(VIRec(vi_)->path);
  VIRec(vi_)->path = viPath;
  EXPECT_EQ(DataXferPathCheck(rec, 1, panel_, Obj(kClsPath)), 1);
  EXPECT_EQ(DataXferPathCheck(rec, 1, panel_, label), 0);
  EXPECT_EQ(DataXferSetObject(&rec, 0), 1);
  EXPECT_EQ(rec.count, 0);
  EXPECT_EQ(Asserts(), 0);
  // No output for the data is an assertion of its own.
  EXPECT_EQ(DataXferItemData(rec, 0, nullptr), kArgErr);
  EXPECT_EQ(Reports("dragsup"), 1);
  VIRec(vi_)->path = savedPath;
  FDisposePath(viPath);
  FDisposePath(out);
}

TEST_F(DataXfer, DraggedFilesAreCountedAndReadAndForeignHandlesRefused) {
  const std::vector<std::string> names{"C:\\data\\one.txt", "C:\\two.vi"};
  PlatDataObject* files = PlatNewFilesDataObject(names);
  DragData drag = nullptr;
  ASSERT_EQ(DragNewData(&drag, uInt32(reinterpret_cast<uintptr_t>(files))), kNoErr);
  DataXferRec rec{};
  EXPECT_EQ(DataXferInitDrag(drag, kDragKindDataObject, &rec), kNoErr);
  EXPECT_EQ(rec.count, 2);
  std::vector<int32> hasVI;
  std::vector<std::string> paths;
  Path p = FEmptyPath(nullptr);
  for (int32 i = 0; i <= rec.count; ++i) {  // one past the items
    hasVI.push_back(DataXferItemHasVI(rec, i, nullptr));
    if (DataXferItemPath(rec, i, p) != kNoErr) continue;
    LStrHandle text = nullptr;
    FPathToDSString(p, &text);
    paths.emplace_back(reinterpret_cast<const char*>((*text)->str), size_t((*text)->cnt));
    DSDisposeHandle(reinterpret_cast<UHandle>(text));
  }
  EXPECT_EQ(hasVI, (std::vector<int32>{1, 1, 0}));
  EXPECT_EQ(paths, names);
  FDisposePath(p);
  DragDisposeData(drag);
  files->Release();
  // A handle that is no drag record, and a drag record whose flags word
  // names no handle, give no items.
  UHandle foreign = Keep(AZNewHClr(8)), bare = DSNewHClr(8);
  for (UHandle h : {foreign, bare, UHandle(nullptr)}) {
    DataXferRec rec{};
    EXPECT_EQ(DataXferInitDrag(h, kDragKindDrop, &rec), kArgErr);
    EXPECT_EQ(rec.count, 0);
    EXPECT_EQ(DataXferItemIsPath(rec, 0, nullptr), 0);
  }
  DSDisposeHandle(bare);
  EXPECT_EQ(Asserts(), 0);
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
    int16 top, height, visible;
    int32 rows, answer;
    int16 stored, bottom;
  } cases[] = {{15000, 100, 3, 20, 1, 10, 16000}, {15000, 100, 10, 20, 0, 10, 15050},
               {100, 20, 3, 3, 0, 3, 15050},      {100, 20, 3, 5, 1, 5, 200},
               {100, 0, 3, 5, 0, 3, 15050},        {16100, 10, 3, 5, 1, 0, 16100}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.top + c.rows);
    const int32 box = Obj(kClsListbox), list = Obj(kClsLabel, box, kListboxListPart);
    SetBounds(list, Rect{c.top, 0, 15050, 50});
    std::memcpy(*panel_ + box + kListboxRowHeightByte, &c.height, 2);
    std::memcpy(*panel_ + box + kListboxVisibleRowsByte, &c.visible, 2);
    EXPECT_EQ(ListboxSetRowCount(panel_, box, c.rows), c.answer);
    EXPECT_EQ(ObjInt16(panel_, box, kListboxVisibleRowsByte), c.stored);
    EXPECT_EQ(ObjInt16(panel_, list, kObjBounds + 4), c.bottom);
  }
  label->methods[kMsgOSize] = saved;
  EXPECT_EQ(ListboxSetRowCount(panel_, Obj(kClsLabel), 4), 0);
  EXPECT_EQ(Asserts(), 0);
}

TEST_F(DataXfer, CompareU32OrdersValuesFarApart) {
  uInt32 v[] = {0xFFFFFFFFu, 0, 0x80000000u, 1};
  QSort(v, 4, 4, &CompareU32);
  EXPECT_EQ(std::vector<uInt32>(v, v + 4), (std::vector<uInt32>{0, 1, 0x80000000u, 0xFFFFFFFFu}));
}

}  // namespace
