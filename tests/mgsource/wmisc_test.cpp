// The window manager's size box, program start, help, system values for
// external code and the host cursor.
#include <cstring>
#include <filesystem>

#include "draw_window.h"
#include "golden_image.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/path.h"
#include "mgsource/window/wmisc.h"
#include "platform/qx_cursor.h"
#include "platform/qx_sysinfo.h"

namespace {

using SizeBox = DrawWindow;

TEST_F(SizeBox, AResizableWindowsGripFollowsTheBoxSizeAndOtherWindowsGetAGreyBox) {
  const uInt32 face = PlatSysColourRgb(kPlatColourButtonFace), frame = PlatSysColourRgb(kPlatColourWindowFrame);
  const uInt32 shadow = PlatSysColourRgb(kPlatColourButtonShadow), light = PlatSysColourRgb(kPlatColourButtonHighlight);
  ASSERT_NE(shadow, light);
  const Rect full{10, 10, 26, 26}, mid{10, 40, 22, 52}, small{10, 70, 19, 79};
  WDrawGrowIcon(&full);
  WDrawGrowIcon(&mid);
  WDrawGrowIcon(&small);
  // Line k runs from (right - k, bottom - 2) to (right - 2, bottom - k); the
  // pixel checked is its second one, inside the frame for every k.
  const struct {
    const Rect* box;
    int32 k;
    uInt32 colour;
  } lines[] = {
      {&full, 5, shadow},  {&full, 6, shadow},  {&full, 7, light}, {&full, 8, face},    {&full, 9, shadow},
      {&full, 11, light},  {&full, 12, face},   {&full, 13, shadow}, {&full, 14, shadow}, {&full, 15, light},
      {&mid, 10, shadow},  {&mid, 11, light},   {&small, 7, light}, {&small, 8, face},   {&small, 9, face},
  };
  for (const auto& l : lines)
    EXPECT_EQ(At(l.box->right - l.k + 1, l.box->bottom - 3), l.colour) << l.box->left << " k " << l.k;
  EXPECT_EQ(At(10, 10), frame);
  EXPECT_EQ(At(25, 25), frame);
  EXPECT_EQ(At(12, 12), face);
  qxtest::ExpectMatchesGolden(Surface(), std::filesystem::path(QX_SOURCE_DIR) / "tests/mgsource/goldens/sizebox.png",
                              "regenerate the size-box golden (QX_UPDATE_GOLDENS=1) and check it by eye");

  End();
  const Rect place{200, 300, 240, 340};
  const WindowRef fixed = WCreate(0x0C, nullptr, nullptr, &place, 0, 1, 0);
  ASSERT_NE(fixed, kWNoWindow);
  WPortState saved;
  WSetup(fixed, &saved);
  PlatSurfaceClear(PlatWindowSurface(WHostWindow(fixed)), 0xFFFFFF);
  WDrawGrowIcon(&full);
  WRestore(&saved);
  PlatSurface* s = PlatWindowSurface(WHostWindow(fixed));
  for (int32 i = 10; i < 26; ++i) {
    EXPECT_EQ(PlatSurfaceGetPixel(s, i, 10) & 0xFFFFFF, 0u) << i;
    EXPECT_EQ(PlatSurfaceGetPixel(s, 25, i) & 0xFFFFFF, 0u) << i;
    EXPECT_EQ(PlatSurfaceGetPixel(s, i == 10 || i == 25 ? 11 : i, 24) & 0xFFFFFF, 0xB3B3B3u) << i;
  }
  // Without a port nothing is drawn and the misuse is reported.
  const int before = capture_.Count("size box");
  WDrawGrowIcon(&full);
  EXPECT_GT(capture_.Count("size box"), before);
  Begin();
}

class WindowServices : public ::testing::Test {
 protected:
  void SetUp() override { EnsureManagers(); }
  Capture capture_;
};

TEST_F(WindowServices, ProgramsHelpAndManagerValues) {
  EXPECT_EQ(WExecute("/bin/true", 0), kNoErr);
  EXPECT_EQ(WExecute("/no/such/program --flag", 1), kGenericErr);
  EXPECT_EQ(WExecute("", 0), kGenericErr);

  EXPECT_EQ(WWinHelp(kWNoWindow, nullptr, kWHelpIndex, nullptr), 2);
  Path p = nullptr;
  const char* t = "C:\\no such folder\\missing.hlp";
  ASSERT_EQ(FTextToPath(reinterpret_cast<const uChar*>(t), int32(std::strlen(t)), &p), kNoErr);
  EXPECT_EQ(WWinHelp(kWNoWindow, p, kWHelpKeyword, "key"), 1);
  FDisposePath(p);

  // Without the layers above, selector 5 is an unknown connection and
  // selector 6 is not supported.
  const struct {
    int32 selector;
    MgErr result;
    int32 value;
  } rows[] = {
      {2, kNoErr, TStandardFont(0)}, {3, kNoErr, TStandardFont(1)}, {4, kNoErr, TStandardFont(2)},
      {5, kArgErr, -1},              {6, kCapabilityErr, 0},        {0, kArgErr, 12345},
      {7, kArgErr, 12345},
  };
  for (const auto& r : rows) {
    int32 v = 12345;
    EXPECT_EQ(GetManagerLong(&v, r.selector), r.result) << r.selector;
    EXPECT_EQ(v, r.value) << r.selector;
  }
  int32 instance = 0;
  EXPECT_EQ(GetManagerLong(&instance, 1), kNoErr);
  EXPECT_NE(instance, 0);
  EXPECT_EQ(GetManagerLong(nullptr, 1), kArgErr);
}

TEST_F(WindowServices, TheHostCursorSetterPassesPseudoIdsAndSkipsARepeat) {
  PlatCursorsReset();
  WForgetHostCursor();
  const PlatCursor arrow = PlatLoadSystemCursor(kPlatCursorArrow), wait = PlatLoadSystemCursor(kPlatCursorWait);
  WSetHostCursor(-2);
  EXPECT_EQ(PlatGetCursor(), wait);
  // The same id again does not touch the host cursor.
  PlatSetCursor(arrow);
  WSetHostCursor(-2);
  EXPECT_EQ(PlatGetCursor(), arrow);
  WSetHostCursor(-1);
  WSetHostCursor(-2);
  EXPECT_EQ(PlatGetCursor(), wait);
  // An id that is no cursor is reported and shows the arrow.
  const int before = capture_.Count("cursor");
  WSetHostCursor(77);
  EXPECT_EQ(PlatGetCursor(), arrow);
  EXPECT_GT(capture_.Count("cursor"), before);
  PlatCursorsReset();
  WForgetHostCursor();
}

}  // namespace
