// The system's name, the monitors through the single-screen substitute, the
// text clipboard and the predefined text styles.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wsysinfo.h"
#include "platform/qx_clipboard.h"
#include "platform/qx_globalmem.h"
#include "platform/qx_sysinfo.h"
#include "test_support.h"

namespace {

std::string S(ConstPStr p) { return std::string(reinterpret_cast<const char*>(p + 1), p[0]); }

class SystemInfo : public ManagerTest {
 protected:
  void SetUp() override {
    ManagerTest::SetUp();
    PlatClipboardReset();
  }
  void TearDown() override {
    PlatClipboardReset();
    WSetClipboardKind(kWClipNone);
    ManagerTest::TearDown();
  }
  static LStrHandle L(const std::string& s) {
    LStrHandle h = reinterpret_cast<LStrHandle>(DSNewHandle(int32(4 + s.size())));
    (*h)->cnt = int32(s.size());
    std::memcpy((*h)->str, s.data(), s.size());
    return h;
  }
  static std::string Of(LStrHandle h) { return std::string(reinterpret_cast<char*>((*h)->str), (*h)->cnt); }
  static void Free(LStrHandle h) { DSDisposeHandle(reinterpret_cast<UHandle>(h)); }
  // Puts raw bytes on the clipboard as text, as another program would.
  static void PutRaw(const std::string& bytes) {
    const PlatGlobal g = PlatGlobalAlloc(kPlatGlobalMovable, uint32_t(bytes.size()));
    std::memcpy(PlatGlobalLock(g), bytes.data(), bytes.size());
    PlatGlobalUnlock(g);
    ASSERT_TRUE(PlatOpenClipboard(0));
    PlatEmptyClipboard();
    ASSERT_TRUE(PlatSetClipboardData(kPlatClipText, g));
    PlatCloseClipboard();
  }
};

TEST_F(SystemInfo, NameVersionAndMonitors) {
  Str255 s;
  EXPECT_EQ(S(WGetOSName(s)), "Windows NT");
  EXPECT_EQ(S(WGetOSVersion(s)), "4.0");
  const PlatRect work = PlatGetWorkArea();
  const int16 w = int16(PlatGetSystemMetric(kPlatMetricScreenWidth));
  const int16 h = int16(PlatGetSystemMetric(kPlatMetricScreenHeight));
  PlatSetWorkArea(PlatRect{40, 0, 800, 600});
  for (Point p : {Point{0, 0}, Point{-500, -900}, Point{30000, 30000}}) {
    Rect r;
    WGetWorkAreaRect(p, &r);
    EXPECT_TRUE(r.left == 40 && r.right == 800) << p.v;
    WGetScreenRect(p, &r);
    EXPECT_TRUE(r.left == 0 && r.bottom == h && r.right == w) << p.v;
  }
  PlatSetWorkArea(work);
  Rect r{};
  int32 depth = 0;
  EXPECT_EQ(WGetMonitorInfo(0, &r, &depth), 0);
  EXPECT_TRUE(r.right == w && depth == PlatGetSystemMetric(kPlatMetricScreenDepth));
  EXPECT_EQ(WGetMonitorInfo(1, &r, &depth), 1);
}

TEST_F(SystemInfo, TheSubstituteKnowsOneMonitor) {
  const struct {
    int32 x, y;
    uInt32 flags, monitor;
  } points[] = {{5, 5, kWMonitorDefaultNull, kWSingleMonitor},
                {-5, 5, kWMonitorDefaultNull, 0},
                {-5, 5, kWMonitorDefaultNearest, kWSingleMonitor},
                {100000, 5, kWMonitorDefaultPrimary, kWSingleMonitor}};
  for (const auto& c : points) EXPECT_EQ(WSubstituteMonitorFromPoint(c.x, c.y, c.flags), c.monitor) << c.x;
  const PlatRect empty{10, 10, 10, 20}, off{-50, -50, -10, -10}, on{10, 10, 20, 20};
  EXPECT_EQ(WSubstituteMonitorFromRect(&empty, 0), 0u);
  EXPECT_EQ(WSubstituteMonitorFromRect(&off, 0), 0u);
  EXPECT_EQ(WSubstituteMonitorFromRect(&on, 0), kWSingleMonitor);
  // The information block: 40 bytes for the rectangles, 72 for the name.
  const struct {
    uInt32 size;
    bool ok, named;
  } sizes[] = {{39, false, false}, {40, true, false}, {71, true, false}, {72, true, true}};
  for (const auto& c : sizes) {
    uChar block[80];
    std::memset(block, 0xEE, sizeof block);
    std::memcpy(block, &c.size, 4);
    EXPECT_EQ(WSubstituteGetMonitorInfo(kWSingleMonitor, block), c.ok) << c.size;
    int32 right = 0;
    std::memcpy(&right, block + kWMonInfoRect + 8, 4);
    EXPECT_EQ(right, c.ok ? PlatGetSystemMetric(kPlatMetricScreenWidth) : int32(0xEEEEEEEE)) << c.size;
    EXPECT_EQ(std::memcmp(block + kWMonInfoName, "DISPLAY", 8) == 0, c.named) << c.size;
  }
  // Enumeration over nothing of the screen calls nothing.
  const auto never = [](uInt32, PlatObj, const PlatRect*, void*) -> bool { std::abort(); };
  EXPECT_EQ(WSubstituteEnumDisplayMonitors(0, &off, never, nullptr), 1);
}

TEST_F(SystemInfo, ClipboardTextRoundTripsWithNativeLineEnds) {
  LStrHandle text = L("a\nb");
  EXPECT_EQ(TSetClipboard(text), kNoErr);
  ASSERT_TRUE(PlatOpenClipboard(0));
  const PlatGlobal g = PlatGetClipboardData(kPlatClipText);
  ASSERT_NE(g, 0u);
  EXPECT_EQ(PlatGlobalSize(g), 5u);
  EXPECT_EQ(std::memcmp(PlatGlobalLock(g), "a\r\nb", 5), 0) << "CR LF and a NUL";
  PlatGlobalUnlock(g);
  PlatCloseClipboard();
  LStrHandle back = L("old");
  EXPECT_EQ(TGetClipboard(back), kNoErr);
  EXPECT_EQ(Of(back), "a\nb");
  // Another program's block without a NUL is read to its end, no further.
  PutRaw("xyz");
  EXPECT_EQ(TGetClipboard(back), kNoErr);
  EXPECT_EQ(Of(back), "xyz");
  // Nothing there: 42 and an empty text.
  PlatClipboardReset();
  EXPECT_EQ(TGetClipboard(back), kGenericErr);
  EXPECT_EQ(Of(back), "");
  // External text comes as a new handle, and the changed flag is cleared.
  PutRaw(std::string("ext\0", 4));
  WSetClipboardKind(kWClipText);
  WSetClipboardChanged(1);
  LStrHandle ext = nullptr;
  EXPECT_EQ(WGetExternalClipboard(nullptr, &ext), 1);
  ASSERT_NE(ext, nullptr);
  EXPECT_EQ(Of(ext), "ext");
  EXPECT_EQ(WClipboardChanged(), 0);
  // A picture is asked of the image manager, which has none to give.
  WSetClipboardKind(kWClipPicture);
  UHandle pict = nullptr;
  EXPECT_EQ(WGetExternalClipboard(&pict, nullptr), 0);
  EXPECT_EQ(pict, nullptr);
  WSetClipboardKind(kWClipNone);
  EXPECT_EQ(WGetExternalClipboard(nullptr, &ext), 0);
  for (LStrHandle h : {text, back, ext}) Free(h);
}

TEST_F(SystemInfo, ModalStateAndTextStyles) {
  WindowRef out = 77;
  EXPECT_EQ(WGetModalWindow(&out), 0);
  WSetNativeModal(1);
  EXPECT_EQ(WGetModalWindow(&out), 1);
  EXPECT_EQ(out, kWNoWindow);
  WSetNativeModal(0);
  for (int32 index : {1, 2, 7}) {
    int32 font = -5, style = -5, colour = -5;
    GetTextStyle(&font, &style, &colour, index);
    EXPECT_TRUE(font == kAppFont && style == 0 && colour == 0) << index;
  }
}

}  // namespace
