// Dialog panels built from preloaded panel blocks: the objects made by class
// name and initialised from the block's templates, the dialog items, the key
// navigation, the title and placement; and blocks that do not hold together,
// refused whole.
#include <functional>

#include "engine/vi/dlgpanel.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/window/window.h"
#include "panel/oinit.h"
#include "panel_test_support.h"
#include "tools/dlgwriter.h"
#include "tools/panelwriter.h"
#include "fuzz/rsrc_image.h"

using namespace dlgwriter;

namespace {

class DlgPanelTest : public ptest::PanelRootTest {
 protected:
  void SetUp() override {
    PanelRootTest::SetUp();
    if (HasFatalFailure()) return;
    const uChar none[1] = {0};
    const Rect empty{0, 0, 0, 0};
    window_ = WCreate(0, none, nullptr, &empty, 0, 0, 0);
    ASSERT_NE(window_, kWNoWindow);
    PutNative32(*panel_ + Ext() + kHeapExtWindow, uInt32(window_));
    // The VI window's bounds (grown there) stand in as the objects' rectangle.
    saved_ = DlgPanel();
    DlgPanelHooks h = saved_;
    h.panelBounds = [](ObjHeap heap, Rect* r) {
      OGetRect(heap, int32(GetNative32(*heap + OHWord(heap, kOHExtension) + kHeapExtRoot)), r, 0);
    };
    SetDlgPanelHooks(&h);
  }
  void TearDown() override {
    SetDlgPanelHooks(&saved_);
    if (window_) WDestroy(window_);
    PanelRootTest::TearDown();
  }
  int32 Ext() const { return int32(OHWord(panel_, kOHExtension)); }
  int32 Load(const rsrcw::Bytes& bytes) {
    UHandle h = Keep(AZNewHandle(int32(bytes.size())));
    if (!h) return -1;
    std::memcpy(*h, bytes.data(), bytes.size());
    return LoadDlgPanel(panel_, h);
  }
  int32 RootList(int32 at) const { return int32(OHWord(panel_, uInt32(root_ + at))); }
  int32 Item(int32 i) const { return ObjListGet(panel_, RootList(kRootItemList), i - 1); }
  Rect Bounds(int32 object) const {
    Rect r;
    std::memcpy(&r, *panel_ + object + 16, sizeof r);
    return r;
  }
  WindowRef window_ = kWNoWindow;
  DlgPanelHooks saved_{};
};

TEST_F(DlgPanelTest, TheLoadProgressBlockBuildsItsItemsNavigationTitleAndPlace) {
  const Dialog d = LoadProgressDialog();
  ASSERT_EQ(Load(DialogBlock(d)), 0);
  Str255 title;
  WGetTitle(window_, title);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(title + 1), title[0]), d.title);
  ASSERT_EQ(ObjListCount(panel_, RootList(kRootItemList)), int32(d.items.size()));
  EXPECT_EQ(ObjListCount(panel_, RootList(kRootObjectList)), int32(d.objects.size())) << "every object a child";
  for (int32 i = 1; i <= int32(d.items.size()); ++i) {
    // The item is the data controller of the display object.
    ASSERT_EQ(OHBlockClass(panel_, Item(i)), kClsFPDataController) << i;
    const int32 o = ObjWord(panel_, Item(i), 5);
    const std::string& cls = d.objects[size_t(d.items[size_t(i - 1)])].className;
    EXPECT_EQ(OHBlockClass(panel_, o), cls == "String" ? 81 : 79) << i;
    EXPECT_EQ(ObjWord(panel_, o, 1), Item(i)) << "owned by its controller";
    EXPECT_EQ(ObjWord(panel_, Item(i), 1), root_) << "owned by the top object";
    EXPECT_EQ(uInt32(ObjWord(panel_, o, 0)) & kDlgClearedFlag, 0u) << "bit 15 cleared on display objects";
    const int32 label = FindPart(panel_, o, kLabelPartId, 0);
    ASSERT_NE(label, 0) << i;
    EXPECT_EQ(ObjWord(panel_, label, 1), o);
    const Rect lb = Bounds(label), ob = Bounds(o);
    EXPECT_TRUE(DEqualRect(&lb, &ob)) << "the object is sized around its part";
  }
  EXPECT_EQ(uInt32(ObjWord(panel_, ObjWord(panel_, Item(1), 5), 0)) & 1, 1u) << "the template's flags are copied";
  // Return presses item 4, Escape item 5; the other slots are empty.
  const int32 nav = RootList(kRootKeyNav);
  ASSERT_EQ(ObjListCount(panel_, nav), kKeyNavSlots);
  for (int32 s = 0; s < kKeyNavSlots; ++s)
    EXPECT_EQ(ObjListGet(panel_, nav, s), s == 0 ? ObjWord(panel_, Item(4), 5) : s == 1 ? ObjWord(panel_, Item(5), 5) : 0)
        << s;
  // The bounds take in every object; the window is placed at the block's
  // origin with the bounds' size, its port origin at the bounds' corner.
  Rect want{2, 10, 122, 330}, bounds;
  DlgPanel().panelBounds(panel_, &bounds);
  EXPECT_TRUE(DEqualRect(&bounds, &want));
  Point origin;
  std::memcpy(&origin, *panel_ + Ext() + kHeapExtContentOrigin, sizeof origin);
  EXPECT_EQ(origin.v, 150);
  EXPECT_EQ(origin.h, 150);
  Rect global;
  WGetGlobalRect(window_, &global);
  EXPECT_EQ(global.top, 150);
  EXPECT_EQ(global.left, 150);
  EXPECT_EQ(RectHeight(&global), RectHeight(&want));
  EXPECT_EQ(RectWidth(&global), RectWidth(&want));
  Point port;
  WGetOrigin(window_, &port);
  EXPECT_EQ(port.v, 2);
  EXPECT_EQ(port.h, 10);
}

TEST_F(DlgPanelTest, ABlockEndingAfterTheItemsHasNoKeyNavigation) {
  ASSERT_EQ(Load(DialogBlock(StatusDialog())), 0);
  EXPECT_EQ(ObjListCount(panel_, RootList(kRootItemList)), 1);
  const int32 nav = RootList(kRootKeyNav);
  for (int32 s = 0; nav && s < ObjListCount(panel_, nav); ++s) EXPECT_EQ(ObjListGet(panel_, nav, s), 0);
}

// Big-endian words of a file-order block.
void PutBE(rsrcw::Bytes* b, size_t at, uInt32 v) {
  if (at + 4 <= b->size()) PutBE32(b->data() + at, v);
}
size_t CountAt(const Dialog& d) { return 32 + size_t(PaddedPStrRoom(uChar(d.title.size()))); }
// Where object record i of the file-order block holds its sub-resource count.
size_t SubCountAt(const Dialog& d, const rsrcw::Bytes& b, int32 i) {
  size_t p = CountAt(d) + 4;
  for (int32 k = 0; k < i; ++k) p += GetBE32(b.data() + p);
  return p + 4 + size_t(PaddedPStrRoom(b[p + 4]));
}

TEST_F(DlgPanelTest, BlocksThatDoNotHoldTogetherAreRefusedWhole) {
  struct Case {
    const char* what;
    std::function<void(Dialog*)> edit;                  // on the layout
    std::function<void(const Dialog&, rsrcw::Bytes*)> patch;  // on the file bytes
  };
  const Case cases[] = {
      {"a navigation count other than 55", [](Dialog* d) { d->nav.resize(54, -1); }, nullptr},
      {"a navigation number past the objects", [](Dialog* d) { d->nav[2] = 8; }, nullptr},
      {"a navigation number below -1", [](Dialog* d) { d->nav[2] = -2; }, nullptr},
      {"an item number past the objects", [](Dialog* d) { d->items.push_back(8); }, nullptr},
      {"a negative item number", [](Dialog* d) { d->items[0] = -1; }, nullptr},
      {"a sub-resource past the object's last", [](Dialog* d) { d->objects[1].subs.pop_back(); }, nullptr},
      {"a sub-resource of another type", [](Dialog* d) { std::swap(d->objects[0].subs[0], d->objects[0].subs[1]); },
       nullptr},
      {"a count of sub-resources past the record", nullptr,
       [](const Dialog& d, rsrcw::Bytes* b) { PutBE(b, SubCountAt(d, *b, 2), 9); }},
      {"a count of sub-resources short of what the object reads", [](Dialog* d) { d->objects[2].subCount = 1; },
       nullptr},
      {"a class that does not exist", [](Dialog* d) { d->objects[3].className = "Gizmo"; }, nullptr},
      {"a class without an initialisation", [](Dialog* d) { d->objects[3].className = "List"; }, nullptr},
      {"the root's class", [](Dialog* d) { d->objects[3].className = "Front Panel"; }, nullptr},
      {"a part class that does not exist",
       [](Dialog* d) { d->objects[0].subs[0].data = DisplayTemplate(0, 0, {{3, -1}}); }, nullptr},
      {"a part naming template 0", [](Dialog* d) { d->objects[0].subs[0].data = DisplayTemplate(0, 0, {{kClsLabel, 0}}); },
       nullptr},
      {"an object count past the block", nullptr,
       [](const Dialog& d, rsrcw::Bytes* b) { PutBE(b, CountAt(d), 0x10000); }},
      {"a negative object count", nullptr, [](const Dialog& d, rsrcw::Bytes* b) { PutBE(b, CountAt(d), ~0u); }},
      {"a record length past the block", nullptr,
       [](const Dialog& d, rsrcw::Bytes* b) { PutBE(b, CountAt(d) + 4, 0x7FFFFFF0); }},
      {"a record length below its own word", nullptr,
       [](const Dialog& d, rsrcw::Bytes* b) { PutBE(b, CountAt(d) + 4, 2); }},
      {"a block cut inside the items", nullptr,
       [](const Dialog&, rsrcw::Bytes* b) { b->resize(b->size() - 4 * 56 - 8); }},
      {"a block cut inside the navigation", nullptr, [](const Dialog&, rsrcw::Bytes* b) { b->resize(b->size() - 8); }},
      {"a block cut inside the title", nullptr, [](const Dialog&, rsrcw::Bytes* b) { b->resize(33); }},
  };
  for (const Case& c : cases) {
    Dialog d = LoadProgressDialog();
    if (c.edit) c.edit(&d);
    rsrcw::Bytes bytes = c.patch ? DialogBlock(d) : panelwriter::ScrapInFileOrder(BlockInMemoryOrder(d));
    if (c.patch) c.patch(d, &bytes);
    ASSERT_FALSE(bytes.empty()) << c.what;
    const int32 before = RootList(kRootItemList) ? ObjListCount(panel_, RootList(kRootItemList)) : 0;
    EXPECT_EQ(Load(bytes), 1) << c.what;
    if (RootList(kRootItemList)) { EXPECT_EQ(ObjListCount(panel_, RootList(kRootItemList)), before) << c.what; }
  }
  EXPECT_EQ(Asserts(), 0) << ReportText();
}

TEST_F(DlgPanelTest, TemplatesComeFromTheBlockOnlyWhileItBuilds) {
  // Outside a build id -1 answers none; any other id reads the run-time
  // resource file into a copy that is released once; id 0 is refused.
  EXPECT_EQ(GetPreloadedRsrc(kRsrcDDOD, -1), nullptr);
  ASSERT_EQ(RInitResources(), kNoErr);
  rsrcw::Writer w(FourCC("APPL"), FourCC("QXrt"));
  const rsrcw::Bytes tpl = DisplayTemplate(1, 0, {});
  w.Add(kRsrcDDOD, 500, tpl);
  const rsrcw::Bytes file = w.Write();
  const RsrcFileRef ref = FuzzOpenRsrcImage(file);
  ASSERT_NE(ref, 0);
  SetRunTimeRsrcFile(ref);
  int32 size = 0;
  void* got = GetPreloadedRsrcSized(kRsrcDDOD, 500, &size);
  ASSERT_NE(got, nullptr);
  ASSERT_EQ(size, int32(tpl.size()));
  EXPECT_EQ(std::memcmp(got, tpl.data(), tpl.size()), 0);
  EXPECT_EQ(GetPreloadedRsrc(kRsrcDDOD, 501), nullptr);
  EXPECT_EQ(GetPreloadedRsrc(kRsrcLabl, 500), nullptr);
  ClearReports();
  ReleasePreloadedRsrc(got);
  EXPECT_EQ(Asserts(), 0);
  ReleasePreloadedRsrc(got);
  EXPECT_EQ(Asserts(), 1) << "a template released twice is refused";
  int32 local = 0;
  ReleasePreloadedRsrc(&local);
  EXPECT_EQ(Asserts(), 2) << "a pointer given out by no one is refused";
  EXPECT_EQ(GetPreloadedRsrc(kRsrcDDOD, 0), nullptr);
  EXPECT_EQ(Asserts(), 3);
  SetRunTimeRsrcFile(0);
  RCloseFile(ref);
}

}  // namespace
