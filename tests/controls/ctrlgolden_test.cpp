// One control of each class made at run time, placed from its templates
// with the built-in control pictures as its images, drawn at full colour and
// into a one-bit pixmap, as a window update and as a blink draws it, against
// its golden sheet.
#include <filesystem>
#include <string>
#include <vector>

#include "controls/ctlsize.h"
#include "controls/listbox.h"
#include "controls/picc.h"
#include "controls/scale.h"
#include "controls/scaleobj.h"
#include "engine/vi/rtrsrc.h"
#include "golden_image.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/wport.h"
#include "panel/fpinit.h"
#include "panel/objdraw.h"
#include "panel/oinit.h"
#include "panel/osupport.h"
#include "panel/objimage.h"
#include "panel/objload.h"
#include "panel/panel_test_support.h"
#include "platform/qx_surface.h"
#include "platform/qx_window.h"
#include "tools/dlgwriter.h"

namespace {

using namespace dlgwriter;

// Template ids: the owner label, the text parts, the pictured parts.
constexpr int16 kOwnerLabel = 10, kDigital = 11, kItemText = 12, kTypedText = 13;
constexpr uInt16 kFramePart = 28;

struct Made {
  const char* className;
  uInt32 kind;
  int32 rsrc;
};
// Every class a panel makes at run time, and the template it is made from.
constexpr Made kClasses[] = {
    {"Numeric", kCatDDO, 20}, {"Color Box", kCatDDO, 21}, {"Ring", kCatDDO, 22},       {"Boolean", kCatDDO, 23},
    {"String", kCatDDO, 24},  {"Listbox", kCatDDO, 25},   {"Color Ramp", kCatDDO, 26}, {"Cosmetic", kCatCOSM, 40},
    {"MultiCosmetic", kCatCOSM, 41}, {"Label", kCatCOSM, kOwnerLabel}, {"MultiLabel", kCatCOSM, 42}};

class CtrlGolden : public ptest::PanelRootTest {
 protected:
  void SetUp() override {
    PanelRootTest::SetUp();
    if (HasFatalFailure()) return;
    // The program joins the listbox, scale and sizing methods at start-up;
    // the sheet shows them whichever test joined them first.
    static const bool joined = (ControlsJoinSizeSlots(), ControlsJoinListboxSlots(), ControlsInstallScaleHooks(),
                                ControlsJoinScaleSlots(), true);
    (void)joined;
    MLoadMenuColors();  // the scroll bars' colours
    ASSERT_EQ(WInitScreenImage(), kNoErr);
    DInitDraw();
    InitFPImages();
    ASSERT_EQ(RInitResources(), kNoErr);
    rsrcw::Writer w(FourCC("APPL"), FourCC("QXrt"));
    w.Add(kRsrcLabl, kOwnerLabel, LabelTemplate(kLabelPartId, {0, 0, 14, 60}, "Label", 0, 0, 0, kTransparentColor));
    w.Add(kRsrcLabl, kDigital, LabelTemplate(10, {18, 4, 34, 76}, "0.00", 0, 0, 0, 0xFFFFFF));
    w.Add(kRsrcLabl, kItemText, LabelTemplate(12, {18, 4, 34, 76}, "Item", 0, 0, 0x000080, kTransparentColor));
    w.Add(kRsrcLabl, kTypedText, LabelTemplate(kTextPartId, {18, 4, 34, 76}, "Text", 0, kTypedTextFlag, 0, 0xFFFFC0));
    // Pictured parts: code 9 + the table index of the picture.
    const struct {
      int16 id;
      uInt16 part;
      Rect r;
      uInt32 code;
    } pictured[] = {{30, kFramePart, {16, 0, 36, 80}, 9},  {31, 41, {16, 0, 36, 36}, 101}, {32, kFramePart, {16, 0, 36, 80}, 174},
                    {33, 21, {16, 0, 48, 40}, 110},        {34, kFramePart, {16, 0, 36, 80}, 304}, {35, kFramePart, {16, 0, 56, 80}, 383},
                    {36, 8, {16, 0, 30, 80}, 120},          {40, 0, {0, 0, 40, 60}, 200}};
    for (const auto& p : pictured) w.Add(kRsrcCosm, p.id, CosmeticTemplate(p.part, p.r, {0, p.code}, 0x203880, 0x40A0D0));
    w.Add(kRsrcMCos, 41, MultiCosmeticTemplate(0, {0, 0, 32, 32}, {{0, 250}, {0, 260}}));
    w.Add(kRsrcMLbl, 42, MultiLabelTemplate(0, {0, 0, 16, 60}, {{0, 270}}, 0, {"One", "Two"}));
    const auto display = [&](int16 id, std::vector<PartRef> parts) {
      parts.insert(parts.begin(), {kClsLabel, kOwnerLabel});
      w.Add(kRsrcDDOD, id, DisplayTemplate(0, 0, parts));
    };
    display(20, {{kClsLabel, kDigital}, {kClsCosmetic, 30}});
    display(21, {{kClsCosmetic, 31}});
    display(22, {{kClsLabel, kItemText}, {kClsCosmetic, 32}});
    display(23, {{kClsCosmetic, 33}});
    display(24, {{kClsLabel, kTypedText}, {kClsCosmetic, 34}});
    display(25, {{kClsCosmetic, 35}});
    display(26, {{kClsCosmetic, 36}});
    for (int16 id : {20, 22, 26}) w.Add(kRsrcSNUM, id, NumericTemplate(10, 0));
    w.Add(kRsrcSNUM, 21, NumericTemplate(7, 0));
    w.Add(kRsrcSLBX, 25, ListboxTemplate(kOwnerLabel, 0));
    const rsrcw::Bytes file = w.Write();
    ptest::OpenRunTimeRsrcBytes(file, &file_);
    if (HasFatalFailure()) return;
    ASSERT_EQ(OInit(panel_, root_, Point{0, 0}, 0), root_);
    const Rect place{0, 0, 200, 300};
    window_ = WCreate(0x3C, nullptr, nullptr, &place, 0, 1, 0);
    ASSERT_NE(window_, kWNoWindow);
    PutNative32(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtWindow, uInt32(window_));
  }
  void TearDown() override {
    SetRunTimeRsrcFile(0);
    if (file_) RCloseFile(file_);
    PanelRootTest::TearDown();
    DDisposeDraw();
  }
  // A template names a built-in picture by its code: the object and each of
  // its parts take the registered picture of that code.
  void ShowPictures(int32 o) {
    const auto resolve = [&](int32 word) {
      const int32 ref = W(o, word);
      if (ref < 0) SetW(o, word, GetPictIndex(-ref));
    };
    const int32 cls = ObjClass(panel_, o);
    if (cls == kClsCosmetic || cls == kClsMultiCosmetic) resolve(kObjImage / 4);
    if (cls == kClsMultiCosmetic)
      for (int32 i = 0; i < ObjInt16(panel_, o, kObjImageCount); ++i) resolve(kObjImageList / 4 + i);
    if (ClassIsKindOf(cls, kClsGrouperObject))
      for (int32 list = W(o, kObjPartList / 4), i = 0; i < ObjListCount(panel_, list); ++i)
        ShowPictures(ObjListGet(panel_, list, i));
  }
  RsrcFileRef file_ = 0;
};

TEST_F(CtrlGolden, EachClassLooksAsItsGoldenAtEachDepthAndMode) {
  std::vector<int32> made;
  for (size_t i = 0; i < std::size(kClasses); ++i) {
    const Made& c = kClasses[i];
    SCOPED_TRACE(c.className);
    Str255 name;
    name[0] = uChar(std::strlen(c.className));
    std::memcpy(name + 1, c.className, name[0]);
    const Point at{int16(30 + 60 * (i / 4)), int16(40 + 70 * (i % 4))};
    const int32 o = FPNewObjectAt(panel_, at, c.kind, name, 0, c.rsrc);
    ASSERT_NE(o, 0);
    made.push_back(o);
    ShowPictures(o);
  }
  PlatSurface* surface = PlatWindowSurface(WHostWindow(window_));
  const Rect all{0, 0, 200, 300};
  const struct {
    int32 depth, mode;
    const char* golden;
  } sheets[] = {{32, kDrawModeNormal, "controls.png"},
                {32, kDrawModeBlink, "controls-blink.png"},
                {1, kDrawModeNormal, "controls-bw.png"},
                {1, kDrawModeBlink, "controls-bw-blink.png"}};
  for (const auto& s : sheets) {
    SCOPED_TRACE(s.golden);
    int32 image = 0;
    ASSERT_EQ(ICreatePixmap(-1, &all, s.depth, &image), kNoErr);
    ASSERT_EQ(IGetDepth(image), s.depth);
    WPortState port;
    WSetup(window_, &port);
    ImageSaveRecord save{};
    IOpen(image, &save);
    DSelectNormPen(0xFFFFFF, 0xFFFFFF);
    DPaintRect(&all);
    for (int32 o : made) ODrawObj(panel_, o, 0, 0, s.mode);
    IClose(image, &save);
    PlatSurfaceClear(surface, 0x808080);
    IDraw(image, nullptr, &all, 0x000000, 0xFFFFFF, 0x000000, 0xFFFFFF);
    WRestore(&port);
    IRelease(image);
    qxtest::ExpectMatchesGolden(surface, std::filesystem::path(QX_SOURCE_DIR) / "tests/panel/goldens" / s.golden,
                                "QX_UPDATE_GOLDENS=1 test_controls --gtest_filter=CtrlGolden.*, then check by eye");
  }
}

}  // namespace
