// Pop-up menus of panel objects: the items each class level adds and their
// states, the explain item of error clusters, containers' content areas,
// the array items' index work, tag items, and a chosen item run by exactly
// the level that added it.
#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

#include "engine/vi/virecord.h"
#include "mgsource/appdirs.h"
#include "mgsource/filemgr.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/textrec.h"
#include "panel/datamsg.h"
#include "panel/objects.h"
#include "panel/objload.h"
#include "panel/osupport.h"
#include "panel/panel_test_support.h"
#include "panel/popup.h"
#include "panel/textparts.h"
#include "mgsource/rsrc.h"
#include "mgsource/rsrc_format.h"
#include "engine/vi/rtrsrc.h"
#include "tools/appbuild.h"
#include "tools/rsrcwriter.h"

namespace {

// The items inserted, in menu order: code and level.
struct Tracked {
  int32 code, level;
};
std::vector<Tracked> gTracked;

int32 TrackedInsert(int32 owner, MenuHandle menu, ConstPStr text, int32 data, int32 position) {
  const int32 count = MCountItems(menu);
  const int32 after = position >= 0 && position < count ? position : -1;
  static const uChar kSpace[] = {1, ' '};
  const MgErr err = text ? MInsertLItem(menu, text[0] ? text : kSpace, nullptr, 0, nullptr, 0, after, 0)
                         : MInsertLSeparator(menu, nullptr, after, 0);
  if (err) return 0;
  gTracked.insert(after >= 0 ? gTracked.begin() + after : gTracked.end(), Tracked{data, owner});
  return after >= 0 ? after + 1 : MCountItems(menu);
}

class Popup : public ptest::PanelRootTest {
 protected:
  void SetUp() override {
    PanelRootTest::SetUp();
    if (HasFatalFailure()) return;
    const uChar title[] = {1, 'P'};
    ASSERT_EQ(MNewLMenu(&menu_, title, kPopupMenuId), kNoErr);
    PopupShellHooks h{};
    h.menuInsertItemAt = &TrackedInsert;
    saved_ = SetPopupShellHooks(h);
  }
  void TearDown() override {
    SetPopupShellHooks(saved_);
    MDisposeMenu(menu_);
    gTracked.clear();
    PanelRootTest::TearDown();
  }
  // The build pass over the object and then its controller: each item as
  // code, "-" when disabled (separators are), "*" when checked.
  std::string Build(int32 object, int32 dco = 0, int32 hitPart = 0) {
    MDeleteAllItems(menu_);
    gTracked.clear();
    PopupMsgRecord rec{};
    rec.menu72 = menu_, rec.phase = kPopupBuild, rec.hitPartId = hitPart;
    OPopup(panel_, object, &rec);
    if (dco) OPopup(panel_, dco, &rec);
    std::string out;
    for (int32 i = 1; i <= MCountItems(menu_); ++i) {
      MenuItemInfo info{};
      MGetItemInfo(menu_, i, &info);
      out += (i > 1 ? " " : "") + std::to_string(gTracked[size_t(i - 1)].code) + (info.enabled ? "" : "-") +
             (info.mark ? "*" : "");
    }
    return out;
  }
  int32 LevelOf(int32 code) const {
    for (const Tracked& t : gTracked)
      if (t.code == code) return t.level;
    return -1;
  }
  // The run pass for the item as the event handler sends it, at the level
  // given (the item's own by default).
  int32 Run(int32 object, int32 dco, int32 code, int32 level = -1) {
    PopupMsgRecord rec{};
    rec.phase = kPopupRun, rec.menuId = kPopupMenuId, rec.item = code;
    rec.level = -(level >= 0 ? level : LevelOf(code));
    int32 reply = OPopup(panel_, object, &rec);
    if (!reply && dco) reply = OPopup(panel_, dco, &rec);
    return reply;
  }
  // The array's index vectors in its private record.
  std::vector<int32> Index(int32 array, int32 which, int32 n) {
    const UHandle h = reinterpret_cast<UHandle>(uintptr_t(GetNative32(*DS() + W(array, kPWArrayPrivate) + 4 * which)));
    std::vector<int32> v;
    for (int32 k = 0; k < n; ++k) v.push_back(int32(GetNative32(*h + 4 + 4 * k)));
    return v;
  }
  UPtr Data(int32 o) { return reinterpret_cast<UPtr>(uintptr_t(uInt32(OGetDataPtr(panel_, o, 0, 0, nullptr)))); }

  MenuHandle menu_ = nullptr;
  PopupShellHooks saved_{};
};

TEST_F(Popup, ItemsOfEachClassAndTheirStates) {
  int32 num, array, cluster, refnum;
  const int32 numDco = Control(tdb::I32(), kClsNumeric, &num);
  ASSERT_EQ(Alloc(numDco), kNoErr);
  const int32 arrayDco = Control(tdb::Array(tdb::I32()), kClsArray, &array);
  const int32 elem = Obj(kClsNumeric, array, 8001);
  SetW(elem, kPWDDOTypeId, int32(Type(tdb::I32())));
  SetW(array, kPWArrayElement, elem);
  ASSERT_EQ(Alloc(arrayDco), kNoErr);
  Control(tdb::Cluster({tdb::I32()}), kClsCluster, &cluster);
  Control(tdb::I32(), kClsRefNum, &refnum);
  const int32 label = Obj(kClsLabel, root_);

  const std::string generic = "6 124- 125 126- 1 265-";
  EXPECT_EQ(Build(num, numDco), generic);
  EXPECT_EQ(LevelOf(6), 1);
  EXPECT_EQ(Build(array, arrayDco), "6 124 125 126- 1 265- 0- 25 24 159 128 129 223");
  EXPECT_EQ(LevelOf(25), 2) << "the array's own level";
  ObjSetWord(panel_, array, 0, ObjWord(panel_, array, 0) | 0x20000);
  EXPECT_EQ(Build(array, arrayDco), "6 124 125 126- 1 265- 0- 25 24 159* 128 129 223");
  VIRec(vi_)->flags2 |= 0x800;  // datalog retrieval
  EXPECT_EQ(Build(array, arrayDco), "6- 124- 125 126- 1 265- 0- 25- 24 159* 128 129 223");
  VIRec(vi_)->flags2 &= ~0x800u;
  // The content area of a container offers nothing of it.
  for (int32 o : {array, cluster, refnum}) EXPECT_EQ(Build(o, 0, 28), "") << o;
  EXPECT_EQ(Build(cluster), generic);
  EXPECT_EQ(Build(label), "");
  // A picture offers smooth updates when its content caches its image.
  int32 picture;
  Control(tdb::I32(), kClsPicture, &picture);
  const int32 content = Obj(kClsCosmetic, picture, 28);
  EXPECT_EQ(Build(picture), generic + " 0- 158-");
  SetW(content, 0, 0x2);
  SetW(picture, 0, 0x10000);
  EXPECT_EQ(Build(picture), generic + " 0- 158*");
  // A type definition adds its own description and help; nested, after its
  // inner control's items, which count a level deeper.
  int32 typeDef;
  Control(tdb::I32(), kClsTypeDefinition, &typeDef);
  const int32 inner = Obj(kClsNumeric, typeDef, kPartIdTypeDefControl);
  SetW(inner, kPWDDOTypeId, W(typeDef, kPWDDOTypeId));
  EXPECT_EQ(Build(typeDef), "1 265-");
  MDeleteAllItems(menu_);
  gTracked.clear();
  PopupMsgRecord rec{};
  rec.menu72 = menu_, rec.phase = kPopupBuild, rec.nested = 1;
  OPopup(panel_, typeDef, &rec);
  EXPECT_EQ(MCountItems(menu_), 6);
  EXPECT_EQ(std::make_pair(LevelOf(1), LevelOf(6)), std::make_pair(1, 2));
}

TEST_F(Popup, TheErrorClusterOffersItsExplanationWhenTheExplainerExists) {
  int32 cluster;
  const int32 dco = Control(tdb::Cluster({tdb::Boolean(), tdb::I32(), tdb::String()}), kClsCluster, &cluster);
  ASSERT_EQ(Alloc(dco), kNoErr);
  Path help = FEmptyPath(nullptr), vi = FEmptyPath(nullptr);
  ASSERT_EQ(GetHelpDirPath(help), kNoErr);
  FNewDir(help);
  ASSERT_EQ(ExplainErrorPath(&vi), 1);
  const std::string generic = "6 124- 125 126- 1 265-";
  EXPECT_EQ(Build(cluster, dco), generic) << "no explainer: no item";
  FileRef f = nullptr;
  ASSERT_EQ(FCreateAlways(&f, vi, 0666, 0, 0, nullptr), kNoErr);
  FMClose(f);
  const struct { uChar status; int32 code; const char* items; } cases[] = {
      {0, 0, "317- 0- "}, {0, 5, "317 0- "}, {1, 0, "316 0- "}};
  for (const auto& c : cases) {
    UPtr data = Data(cluster);
    data[0] = c.status;
    std::memcpy(data + 1, &c.code, 4);  // data is packed
    EXPECT_EQ(Build(cluster, dco), c.items + generic);
  }
  FRemove(vi);
  FDisposePath(vi);
  FDisposePath(help);
}

TEST_F(Popup, ArrayItemsWorkOnItsIndexesAndRunAtTheirLevel) {
  int32 array;
  const int32 dco = Control(tdb::Array(tdb::I32()), kClsArray, &array);
  const int32 elem = Obj(kClsNumeric, array, 8001);
  SetW(elem, kPWDDOTypeId, int32(Type(tdb::I32())));
  SetW(array, kPWArrayElement, elem);
  ASSERT_EQ(Alloc(dco), kNoErr);
  Build(array, dco);
  // Empty: the last element is index 0.
  EXPECT_EQ(Run(array, dco, kPopupShowLastElement), 0);
  EXPECT_EQ(Index(array, 0, 1), std::vector<int32>{0});
  // Five elements: select all is 0 to 5; the last element shown is 4 less
  // the grid's extent.
  UHandle* value = reinterpret_cast<UHandle*>(Data(array));
  *value = DSNewHClr(4 + 5 * 4);
  PutNative32(**value, 5);
  EXPECT_EQ(Run(array, dco, kPopupSelectAll), 0);
  EXPECT_EQ(Index(array, 1, 1), std::vector<int32>{0});
  EXPECT_EQ(Index(array, 2, 1), std::vector<int32>{5});
  SetW(array, kPWArrayGrid, 1);  // two columns shown
  EXPECT_EQ(Run(array, dco, kPopupShowLastElement), 0);
  EXPECT_EQ(Index(array, 0, 1), std::vector<int32>{3});
  // An item runs only at its own level.
  EXPECT_EQ(Run(array, dco, kPopupEmptyArray, LevelOf(kPopupEmptyArray) + 1), 0);
  EXPECT_EQ(GetNative32(**value), 5u);
  EXPECT_EQ(Run(array, dco, kPopupEmptyArray), 8);
  EXPECT_EQ(GetNative32(**value), 0u);
  EXPECT_EQ(Index(array, 0, 1), std::vector<int32>{0});
}

TEST_F(Popup, TagItemsNeedAKnownTag) {
  int32 tag;
  const int32 dco = Control(tdb::String(), kClsTag, &tag);
  ASSERT_EQ(Alloc(dco), kNoErr);
  const int32 text = Obj(kClsLabel, tag, 11);
  SetPartText(panel_, text, reinterpret_cast<const uChar*>("nope"), 4, 0, 0);
  EXPECT_EQ(Build(tag, dco), "6 124- 125 126- 1 265- 0- 318 319- 320- 277");
  EXPECT_EQ(LevelOf(318), LevelOf(6)) << "the tag adds no level";
  TDispose(PartTextRecord(panel_, text));
  SetW(text, kObjText / 4, 0);
}

// The tag browser as the shell would call it: its path and parameter names
// are checked, it answers the text "TANK1" and no cancel.
std::string gCalled;
MgErr FakeBrowser(Path path, int32, int32 nIn, int32 nOut, ...) {
  Str255 name;
  FNamePtr(path, name);
  gCalled = std::string(reinterpret_cast<char*>(name + 1), name[0]) + ":";
  va_list ap;
  va_start(ap, nOut);
  for (int32 i = 0; i < nIn + nOut; ++i) {
    ConstPStr param = va_arg(ap, ConstPStr);
    va_arg(ap, const TypeDescriptor*);
    void* value = va_arg(ap, void*);
    gCalled += std::string(reinterpret_cast<const char*>(param + 1), param[0]) + ",";
    if (i == 0) {
      LStrHandle h = reinterpret_cast<LStrHandle>(DSNewHandle(4 + 5));
      (*h)->cnt = 5;
      std::memcpy((*h)->str, "TANK1", 5);
      *static_cast<LStrHandle*>(value) = h;
    } else {
      *static_cast<uChar*>(value) = 0;
    }
  }
  va_end(ap);
  return kNoErr;
}

// With the run-time resources the tools write: the item texts at their
// codes, and the tag browser found by its path resource and called with its
// parameter names, its text stored in the tag and the reply naming part 11.
TEST_F(Popup, RunTimeTextsAndTheTagBrowser) {
  rsrcw::Writer w(FourCC("APPL"), FourCC("QNLX"));
  qxbuild::AddPopupItemTexts(&w);
  const rsrcw::Bytes bytes = w.Write();
  UHandle h = AZNewHandle(int32(bytes.size()));
  std::memcpy(*h, bytes.data(), bytes.size());
  RsrcFileRef rt = 0;
  ASSERT_EQ(RInitResources(), kNoErr);
  ASSERT_EQ(ROpenFileOrHandle(nullptr, kRsrcReadOnly, &rt, nullptr, nullptr, h), kNoErr);
  SetRunTimeRsrcFile(rt);
  const struct { int32 code; const char* text; } texts[] = {
      {317, "Explain Warning"}, {1, "Description..."}, {2, ""}, {325, ""}, {326, ""}};
  for (const auto& t : texts) {
    Str255 text;
    GetPopupMenuString(t.code, text);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(text + 1), text[0]), t.text) << t.code;
  }
  int32 tag;
  const int32 dco = Control(tdb::String(), kClsTag, &tag);
  ASSERT_EQ(Alloc(dco), kNoErr);
  const int32 text = Obj(kClsLabel, tag, 11);
  SetPartText(panel_, text, reinterpret_cast<const uChar*>("x"), 1, 0, 0);
  SetW(text, 0, 0x20000);  // sized to its text
  PopupShellHooks hooks{};
  hooks.menuInsertItemAt = &TrackedInsert;
  hooks.callInstrumentByPath = &FakeBrowser;
  SetPopupShellHooks(hooks);
  Build(tag, dco);
  PopupMsgRecord rec{};
  rec.phase = kPopupRun, rec.menuId = kPopupMenuId, rec.item = kPopupTagBrowser, rec.level = -LevelOf(kPopupTagBrowser);
  const int32 reply = OPopup(panel_, tag, &rec);
  EXPECT_EQ(gCalled, "Tag Browser.vi:tag,cancelled,");
  UHandle value;
  std::memcpy(&value, Data(tag), sizeof value);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(*value + 4), GetNative32(*value)), "TANK1");
  EXPECT_EQ(VIRec(vi_)->flags & 0x8000000u, 0u) << "the call's flag cleared";
  EXPECT_EQ(reply & 0x88, 0x88) << "data changed, the text resized";
  EXPECT_EQ(std::make_pair(rec.hitPartId, rec.hitPartOrder), std::make_pair(11, 0));
  TDispose(PartTextRecord(panel_, text));
  SetW(text, kObjText / 4, 0);
  SetRunTimeRsrcFile(0);
  RCloseFile(rt);
}

}  // namespace
