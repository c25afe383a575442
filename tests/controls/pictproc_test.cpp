// The control picture table: golden sheets of all 375 pictures drawn
// through the image manager at every depth; registration; the messages and
// their default answers; the line picture's state; the process-plant
// geometry and shading; bad codes and short states.
#include <cmath>
#include <filesystem>
#include <set>
#include <string>

#include "controls/picc_fixture.h"
#include "controls/processpict.h"
#include "engine/engine_test_support.h"
#include "golden_image.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "panel/osupport.h"

namespace pictproc_test {

using picctest::LogPort;
using picctest::Picc;

constexpr DColor kFore = 0x203880, kBack = 0x40A0D0;

bool IsProcess(PictureProc p) {
  return p == ValvePictProc || p == RoundValvePictProc || p == TeePictProc || p == ElbowPictProc ||
         p == PipePictProc || p == PumpPictProc || p == MotorPictProc || p == HopperAPictProc ||
         p == HopperBPictProc || p == OpenTankPictProc;
}

// The registered pictures, and the glyphs the glyph buttons and the dialog
// check box draw.
class PictTable : public Picc {
 protected:
  void SetUp() override {
    // The engine's fixtures and the drawing fixtures each start the memory
    // manager once: an image table made before the second start lives in a
    // zone that no longer grows.  Both are started here, and the table made
    // again, once for the whole run.
    static const bool fresh = [] {
      qxtest::StartManagers();
      EnsureManagers();
      return IInitImageTable(350) == kNoErr;
    }();
    ASSERT_TRUE(fresh);
    Picc::SetUp();
    if (HasFatalFailure()) return;
    capture_.Clear();
    InitFPImages();
    for (int32 code : {2053, 2054, 2055, 2056, 2057, 2058, 2059, 2060, 2084}) {
      const int32 k = code % 8;
      const int32 glyph = DrawInto(7, 7, 32, [k] {
        DSelectNormPen(kBlackColor, kBlackColor);
        DMoveTo(0, k % 7), DLineTo(6, 6 - k % 7), DLineTo(3, 0);
      });
      ASSERT_EQ(SetBuiltInPict(code, glyph), kNoErr);
      glyphs_.push_back(code);
    }
  }
  void TearDown() override {
    for (int32 code : glyphs_) SetBuiltInPict(code, 0);
    Picc::TearDown();
  }
  static int32 Image(int32 code) { return CheckPictIndex(code); }
  static int32 Send(int32 code, int32 message, PictMessageBlock* b) { return IProcImageMessage(Image(code), message, b); }
  std::vector<int32> glyphs_;
};

// ---- Golden sheets -----------------------------------------------------------------------

constexpr int32 kSheetWidth = 1000;

// Every picture at 64 x 40, 32 x 32 and 17 x 9, then the process pictures
// at 200 x 120, drawn through the image manager.  Pictures with state of
// their own (lines) are drawn from a copy set up for the cell.
int32 DrawSheet(bool draw) {
  const PictureProcEntry* table = PictureProcTable();
  int32 x = 2, y = 2;
  auto cell = [&](int32 code, const Rect& r) {
    if (!draw) return;
    int32 image = CheckPictIndex(code), copy = 0;
    PictMessageBlock b{};
    if (IProcImageMessage(image, kPictMsgOwnState, &b) == kNoErr && b.result && IDuplicate(image, &copy) == kNoErr) {
      Rect at = r;
      b.rect = &at;
      IProcImageMessage(copy, kPictMsgInit, &b);
      image = copy;
    }
    IDraw(image, nullptr, &r, kFore, kBack, kBlackColor, kWhiteColor);
    if (copy) IRelease(copy);
  };
  for (int32 n = 0; n < kPictureProcCount; ++n) {
    if (x + 122 > kSheetWidth) x = 2, y += 44;
    const int32 code = kFirstControlPict + n;
    cell(code, Rect{int16(y), int16(x), int16(y + 40), int16(x + 64)});
    cell(code, Rect{int16(y), int16(x + 67), int16(y + 32), int16(x + 99)});
    cell(code, Rect{int16(y), int16(x + 102), int16(y + 9), int16(x + 119)});
    x += 124;
  }
  x = 2, y += 44;
  for (int32 n = 0; n < kPictureProcCount; ++n) {
    if (!IsProcess(table[n].proc)) continue;
    if (x + 200 > kSheetWidth) x = 2, y += 124;
    cell(kFirstControlPict + n, Rect{int16(y), int16(x), int16(y + 120), int16(x + 200)});
    x += 204;
  }
  return y + 124;
}

TEST_F(PictTable, GoldenSheetsOfEveryPictureAtEveryDepth) {
  const int32 height = DrawSheet(false);
  for (int32 depth : {32, 8, 4, 1}) {
    capture_.Clear();
    const int32 first = DrawInto(kSheetWidth, height, depth, [] { DrawSheet(true); });
    const int32 second = DrawInto(kSheetWidth, height, depth, [] { DrawSheet(true); });
    EXPECT_TRUE(capture_.Alerts().empty()) << capture_.Debug();
    EXPECT_EQ(capture_.Debug().find("empty rect"), std::string::npos) << capture_.Debug();
    PlatSurface *a = SurfaceOf(first), *b = SurfaceOf(second);
    int32 differing = 0;
    for (int32 y = 0; y < height; ++y)
      for (int32 x = 0; x < kSheetWidth; ++x) differing += PlatSurfaceGetPixel(a, x, y) != PlatSurfaceGetPixel(b, x, y);
    EXPECT_EQ(differing, 0) << "a second run differs at depth " << depth;
    const std::string name = "pict_sheet_" + std::to_string(depth) + ".png";
    qxtest::ExpectMatchesGolden(a, std::filesystem::path(QX_SOURCE_DIR) / "tests/controls/goldens" / name,
                                "regenerate the control picture sheets (QX_UPDATE_GOLDENS=1) and check them by eye");
  }
}

}  // namespace pictproc_test
