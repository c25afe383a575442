// Alerts answer with their buttons, fit their text to a pleasant shape, and
// error codes read their descriptions from the run-time resource file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/engine_test_support.h"
#include "engine/shellsvc.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/memory.h"
#include "mgsource/rsrc.h"
#include "platform/qx_alert.h"
#include "shell/dialog.h"
#include "shell/dlghelp.h"
#include "tools/appbuild.h"

namespace alerts_test {

int32_t gAnswer = 0;
std::string gShown;
int32_t Answer(const char*, const char* text, int32_t, int32_t) {
  gShown = text ? text : "";
  return gAnswer;
}

class AlertTest : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_TRUE(qxtest::StartThreadsAndResources());
    rsrcw::Writer w(FourCC("APPL"), FourCC("QXrt"));
    qxbuild::AddRunTimeResources(&w);
    const rsrcw::Bytes file = w.Write();
    UHandle fh = AZNewHandle(int32(file.size()));
    ASSERT_NE(fh, nullptr);
    std::memcpy(*fh, file.data(), file.size());
    ASSERT_EQ(ROpenFileOrHandle(nullptr, kRsrcReadOnly, &ref_, nullptr, nullptr, fh), kNoErr);
    SetRunTimeRsrcFile(ref_);
  }
  void TearDown() override {
    SetRunTimeRsrcFile(0);
    if (ref_) RCloseFile(ref_);
    EngineTest::TearDown();
  }
  RsrcFileRef ref_ = 0;
};

TEST_F(AlertTest, ErrorCodesReadTheirDescriptions) {
  const std::string unspecified = "Unspecified error occurred.";
  const struct {
    MgErr code;
    std::string text;
  } cases[] = {
      {0, ""},
      {1000, "VI is currently not idle."},
      {1010, "No default or operate data."},
      {1015, "Printer not responding. Check printer configuration."},
      {1038, "Required parameter missing."},
      {1042, unspecified},  // the last entry, without a text of its own
      {1043, unspecified},  // past the list
      {95, unspecified},    // no manager text
      {-3, unspecified},
      {kMgErrTextCount, DBMgErrText(kMgErrTextCount)},
  };
  for (const auto& c : cases) {
    Str255 text = {9, 'l', 'e', 'f', 't', 'o', 'v', 'e', 'r', 's'};
    ErrDescription(c.code, text);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(text + 1), text[0]), c.text) << c.code;
  }
  // The dialog shows the description, a line feed and the detail.
  PlatSetAlertProc(&Answer);
  const uChar detail[] = "\x06" "detail";
  ErrDialog(1010, detail);
  EXPECT_EQ(gShown, "No default or operate data.\ndetail");
}

TEST_F(AlertTest, TwoAndThreeButtonAlertsAnswerWithTheirButtons) {
  const uChar message[] = "\x05" "Sure?";
  // 0 as the answer: nobody answers, the default button stands.
  const struct {
    int32 buttons, defaultButton, answer, result;
    const char* debugLine;
  } cases[] = {
      {2, 1, kPlatAnsOK, 1, nullptr},          {2, 1, kPlatAnsCancel, 0, nullptr},
      {2, 2, kPlatAnsYes, 1, nullptr},         {2, 2, 0, 0, nullptr},
      {2, 1, 0, 1, nullptr},                   {2, 5, 0, 1, "Buttons are one based.  Use either 1 or 2."},
      {3, 1, kPlatAnsNo, 2, nullptr},          {3, 2, kPlatAnsCancel, 3, nullptr},  // Escape: 3
      {3, 3, kPlatAnsYes, 1, nullptr},         {3, 2, 0, 2, nullptr},
      {3, 0, 0, 1, "Buttons are one based.  Use either 1, 2 or 3."},
  };
  for (const auto& c : cases) {
    ClearReports();
    gAnswer = c.answer;
    PlatSetAlertProc(c.answer ? &Answer : nullptr);
    const int32 result =
        c.buttons == 2 ? TwoButtonAlert(53, message, nullptr, nullptr, c.defaultButton, -32768, -32768)
                       : ThreeButtonAlert(53, message, nullptr, nullptr, nullptr, c.defaultButton, -32768, -32768);
    EXPECT_EQ(result, c.result) << c.buttons << " buttons, default " << c.defaultButton << ", answer " << c.answer;
    EXPECT_EQ(qxtest::Reports::Get().Count(c.debugLine ? c.debugLine : "Buttons are one based"), c.debugLine ? 1 : 0);
  }
  // Scripted answers choose the second button; the message lists the buttons.
  PlatSetAlertProc(&Answer);
  gAnswer = kPlatAnsNo;
  const uChar yes[] = "\x03Yes", no[] = "\x02No";
  EXPECT_EQ(ThreeButtonAlert(52, "c text", yes, no, nullptr, 1, 0, 0), 2);
  EXPECT_EQ(gShown, "c text\n [*Yes] [No] [Cancel]");
  PlatSetAlertProc(nullptr);
  setenv("QX_ALERT_ANSWERS", "Cancel", 1);
  PlatAlertReloadAnswers();
  EXPECT_EQ(TwoButtonAlert(53, message, yes, no, 1, -32768, -32768), 0);
  unsetenv("QX_ALERT_ANSWERS");
  PlatAlertReloadAnswers();
}

// A fixed font: 7 pixels a character, 14 a line, wrapped at any character.
struct FixedText {
  int32 chars;
};
Rect Rewrap(void* context, const Rect& bounds) {
  const int32 chars = static_cast<FixedText*>(context)->chars;
  const int32 perLine = (bounds.right - bounds.left) / 7;
  const int32 lines = perLine > 0 ? (chars + perLine - 1) / perLine : chars;
  return Rect{bounds.top, bounds.left, int16(bounds.top + lines * 14), bounds.right};
}

TEST_F(AlertTest, TheAlertLayoutFitsTheTextToAPleasantShape) {
  const struct {
    const char* what;
    int32 buttons;
    Rect text;
    int32 chars;
    Rect wantText, wantDialog;
    Point wantTextAt, wantButton[3];
  } cases[] = {
      // The row is wider: the dialog is W + 20, the text centred, the lone
      // button shifted by (W + 20) / 4.
      {"short line", 1, {0, 0, 14, 100}, 0, {-1, -2, 15, 101}, {0, 0, 73, 180}, {10, 38}, {{40, 55}}},
      // Rewrapped twice by the area's quadratic: 273, then 282 wide.
      {"2,000-pixel line", 2, {0, 0, 14, 2002}, 286, {-1, -2, 113, 283}, {0, 0, 171, 305}, {10, 10},
       {{138, 72}, {138, 162}}},
      // Clipped to the screen's height less 80 and the band of 40.
      {"200 lines", 0, {0, 0, 2800, 100}, 0, {-1, -2, 649, 101}, {0, 0, 690, 143}, {20, 20}, {}},
      {"no buttons", 0, {0, 0, 14, 100}, 0, {-1, -2, 15, 101}, {0, 0, 56, 143}, {20, 20}, {}},
  };
  for (const auto& c : cases) {
    FixedText text{c.chars};
    AlertLayoutInput in{c.buttons, {70, 70, 70}, {22, 22, 22}, c.text, &Rewrap, &text, {0, 0, 768, 1024}};
    AlertLayout out;
    ASSERT_TRUE(FitAlertLayout(in, &out)) << c.what;
    auto rect = [](const Rect& r) {
      return std::to_string(r.top) + "," + std::to_string(r.left) + "," + std::to_string(r.bottom) + "," +
             std::to_string(r.right);
    };
    EXPECT_EQ(rect(out.text), rect(c.wantText)) << c.what;
    EXPECT_EQ(rect(out.dialog), rect(c.wantDialog)) << c.what;
    EXPECT_EQ(out.textAt.v * 65536 + out.textAt.h, c.wantTextAt.v * 65536 + c.wantTextAt.h) << c.what;
    for (int32 b = 0; b < c.buttons; ++b)
      EXPECT_EQ(out.buttonAt[b].v * 65536 + out.buttonAt[b].h, c.wantButton[b].v * 65536 + c.wantButton[b].h)
          << c.what << " button " << b + 1;
  }
  AlertLayoutInput four{4, {}, {}, {0, 0, 14, 10}, nullptr, nullptr, {0, 0, 768, 1024}};
  AlertLayout out;
  EXPECT_FALSE(FitAlertLayout(four, &out));
}

// A 'DHLP' resource: the count, then each text with its length and padding.
std::vector<uChar> Help(uInt32 count, const std::vector<std::string>& texts, uInt32 lastLength = ~0u) {
  std::vector<uChar> b;
  auto put = [&](uInt32 v) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(uChar(v >> s));
  };
  put(count);
  for (size_t i = 0; i < texts.size(); ++i) {
    put(i + 1 == texts.size() && lastLength != ~0u ? lastLength : uInt32(texts[i].size()));
    b.insert(b.end(), texts[i].begin(), texts[i].end());
    while (b.size() % 4) b.push_back(0);
  }
  return b;
}
MgErr Take(void* context, int32 item, const uChar* text, int32 length) {
  *static_cast<std::string*>(context) += std::to_string(item) + "=" + std::string(reinterpret_cast<const char*>(text), size_t(length)) + ";";
  return kNoErr;
}

TEST_F(AlertTest, ItemDescriptionsAreCheckedBeforeAnyIsTaken) {
  const struct {
    const char* what;
    std::vector<uChar> bytes;
    MgErr err;
    std::string taken;
  } cases[] = {
      {"fewer entries than items", Help(2, {"abcde", ""}), kNoErr, "1=abcde;"},
      {"more entries than items", Help(4, {"a", "b", "c", "d"}), kNoErr, "1=a;2=b;3=c;"},
      {"a length running past", Help(2, {"ab", "cd"}, 100), kArgErr, ""},
      {"a count running past", Help(5, {"ab", "cd"}), kArgErr, ""},
      {"no room for the count", {0, 0}, kArgErr, ""},
  };
  for (const auto& c : cases) {
    std::string taken;
    EXPECT_EQ(DlgReadHelpTexts(c.bytes.data(), int32(c.bytes.size()), 3, &Take, &taken), c.err) << c.what;
    EXPECT_EQ(taken, c.taken) << c.what;
  }
  // The last text may end without its padding.
  std::vector<uChar> unpadded = Help(1, {"xyz"});
  unpadded.pop_back();
  std::string taken;
  EXPECT_EQ(DlgReadHelpTexts(unpadded.data(), int32(unpadded.size()), 3, &Take, &taken), kNoErr);
  EXPECT_EQ(taken, "1=xyz;");
}

}  // namespace alerts_test
