// Colours: snapping to the application palette, the index maps, the
// palette table's checks, highlights and the HLS conversions.
#include <cmath>

#include "mgsource/draw/dcolors.h"
#include "test_support.h"

namespace {

class Colours : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureManagers();
    DResetColors();
  }
  void TearDown() override { DResetColors(); }
  // A handle of host-order words.
  static UHandle Words(const std::vector<uInt32>& words) {
    UHandle h = AZNewHandle(int32(words.size() * 4));
    std::memcpy(*h, words.data(), words.size() * 4);
    return h;
  }
  static std::vector<uInt32> TableWords(uInt32 count) {
    std::vector<uInt32> w{count};
    for (uInt32 i = 0; i < count; ++i) {
      w.push_back(DDefaultPaletteTable()[i % kDPaletteCount8].depth4);
      w.push_back(0x010101 * (i % 256));
    }
    return w;
  }
  Capture capture_;
};

TEST_F(Colours, ConversionsTable) {
  const struct {
    const char* what;
    int64_t got, want;
  } cases[] = {
      {"white to host", DColorToGDIColor(0xFFFFFF), 0x02FFFFFF},
      {"red and blue exchanged", DGDIColorToColor(0x02123456), 0x563412},
      {"middle grey at 8 is an extra grey", DColorToIndex(0x808080, 8, nullptr), 218},
      {"middle grey at 1", DColorToMIndex(0x808080, 1), 0},
      {"dark grey at 1", DColorToMIndex(0x7E7E7E, 1), 1},
      {"index at depth 1", DIndexToColor(3, 1), 0xFFFFFF},
      {"weird depth", DIndexToColor(3, 6), 0},
      {"MIndex at depth 1", MIndexToDColor(1, 1), 0},
      {"MIndexToIndex at 16", MIndexToIndex(7, 16), 1},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
  EXPECT_NE(capture_.Debug().find("Weird depth (6) in DIndexToColor"), std::string::npos);
  // 0x000080 snaps to one palette colour whatever the depth counts as.
  const DColor snapped = DIndexToColor(DColorToIndex(0x000080, 8, nullptr), 8);
  DColor at24, at32;
  DColorToIndex(0x000080, 24, &at24);
  DColorToIndex(0x000080, 32, &at32);
  EXPECT_EQ(at24, snapped);
  EXPECT_EQ(at32, snapped);
  EXPECT_EQ(DColorToGDIColor(0x000080), 0x02000000 | ((snapped & 0xFF) << 16) | (snapped & 0xFF00) | (snapped >> 16));
  DColor h, s;
  DCalcHiliteColor(0, &h, &s);
  EXPECT_EQ(h, 0x808080u);
  EXPECT_EQ(s, 0u);
  DGetHilites(kTransparentColor, &h, &s);
  EXPECT_EQ(h, kTransparentColor);
  EXPECT_EQ(s, kTransparentColor);
}

TEST_F(Colours, EveryPaletteColourIsItsOwnIndexAndSurvivesHls) {
  const auto& table = DDefaultPaletteTable();
  for (int32 i = 0; i < kDPaletteCount8; ++i) {
    EXPECT_EQ(DColorToIndex(table[size_t(i)].depth8, 8, nullptr), i) << "depth 8 entry " << i;
    if (i < 125) {
      EXPECT_EQ(DColorToIndex(table[size_t(i)].depth4, 4, nullptr), i) << "depth 4 entry " << i;
    }
    float32 hue, l, sat;
    rgb2hls(table[size_t(i)].depth8, &hue, &l, &sat);
    DColor back;
    hls2rgb(hue, l, sat, &back);
    for (int shift : {0, 8, 16})
      EXPECT_LE(std::abs(int((back >> shift) & 0xFF) - int((table[size_t(i)].depth8 >> shift) & 0xFF)), 1) << i;
  }
  float32 hue, l, sat;
  rgb2hls(0x808080, &hue, &l, &sat);
  EXPECT_EQ(hue, -1.0f);
  EXPECT_EQ(sat, 0.0f);
  // Out-of-range and NaN inputs are pinned.
  DColor c;
  hls2rgb(NAN, NAN, NAN, &c);
  EXPECT_EQ(c, 0u);
  hls2rgb(0, 5.0f, 0, &c);
  EXPECT_EQ(c, 0xFFFFFFu);
}

TEST_F(Colours, PaletteTableChecksAndHostPalette) {
  DLogPalette log;
  DBuildLogPalette(24, &log);
  EXPECT_EQ(log.version, 0x300);
  ASSERT_EQ(log.count, 221);
  EXPECT_EQ(log.entries[0], DDefaultPaletteTable()[220].depth8);
  DBuildLogPalette(4, &log);
  EXPECT_EQ(log.count, 129);
  DBuildLogPalette(1, &log);
  EXPECT_EQ(log.entries, (std::vector<DColor>{0, 0xFFFFFF}));
  capture_.Clear();
  DBuildLogPalette(6, &log);
  EXPECT_EQ(log.count, 0);
  EXPECT_NE(capture_.Debug().find("Depth is 6 !!!"), std::string::npos);

  UHandle list = Words({0}), small = Words(TableWords(100)), good = Words(TableWords(221));
  UHandle shortTable = Words(TableWords(221));
  AZSetHandleSize(shortTable, 10);
  const DColor before = DIndexToColor(5, 8);
  EXPECT_EQ(DSetAppColors(list, small, nullptr), kArgErr);
  EXPECT_EQ(DSetAppColors(list, shortTable, nullptr), kArgErr);
  EXPECT_EQ(DSetAppColors(nullptr, good, nullptr), kArgErr);
  EXPECT_EQ(DIndexToColor(5, 8), before) << "a refused table keeps nothing";
  EXPECT_EQ(DAppPalette(), 0u);
  EXPECT_EQ(DSetAppColors(list, good, nullptr), kNoErr);
  EXPECT_EQ(DIndexToColor(5, 8), 0x050505u);
  EXPECT_NE(DAppPalette(), 0u);
  for (UHandle h : {list, small, good, shortTable}) AZDisposeHandle(h);
}

TEST_F(Colours, IndexMapsRefuseShortDataAndAnswerOnlyWithinThemselves) {
  EXPECT_EQ(MIndexToDColor(0, 8), 0u);  // no map loaded: reported
  EXPECT_EQ(capture_.Alerts().size(), 1u);
  std::vector<uInt32> colours = DDefaultColorMap(kDMapColors8);
  UHandle full = Words(colours);
  UHandle cut = Words(colours);
  AZSetHandleSize(cut, 1020);
  EXPECT_EQ(DSetColorMap(kDMapColors8, cut), kArgErr);
  EXPECT_EQ(DSetColorMap(kDMapColors8, full), kNoErr);
  EXPECT_EQ(MIndexToDColor(0, 8), 0xFFFFFFu);
  capture_.Clear();
  EXPECT_EQ(MIndexToDColor(256, 8), 0u);
  EXPECT_EQ(MIndexToDColor(-1, 8), 0u);
  EXPECT_EQ(capture_.Alerts().size(), 2u);
  // Without the MIndex-to-index map the colour is looked up.
  EXPECT_EQ(MIndexToIndex(0, 8), 215);
  AZDisposeHandle(full);
  AZDisposeHandle(cut);
}

}  // namespace
