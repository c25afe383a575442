// Alerts answer with their buttons and fit their text to a pleasant shape;
// error codes read their descriptions; item descriptions are checked.
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
#include "rtlib/filehooks.h"
#include "shell/dialog.h"
#include "shell/dlghelp.h"
#include "tools/appbuild.h"
#include "fuzz/rsrc_image.h"

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
    ref_ = FuzzOpenRsrcImage(file);
    ASSERT_NE(ref_, 0);
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
  const std::string none = "Unspecified error occurred.";
  // 1041 has no text of its own; 1043 and 1044 are empty entries; 1045 is
  // past the list.
  const std::pair<MgErr, std::string> cases[] = {
      {0, ""}, {1000, "VI is currently not idle."}, {1010, "No default or operate data."},
      {1015, "Printer not responding. Check printer configuration."}, {1038, "Required parameter missing."},
      {1041, none}, {1042, "Attempted recursive call."}, {1043, ""}, {1044, ""}, {1045, none}, {95, none},
      {-3, none}, {kMgErrTextCount, DBMgErrText(kMgErrTextCount)}};
  for (const auto& [code, want] : cases) {
    Str255 text = {3, 'o', 'l', 'd'};
    ErrDescription(code, text);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(text + 1), text[0]), want) << code;
  }
  PlatSetAlertProc(&Answer);
  ErrDialog(1010, reinterpret_cast<const uChar*>("\x06" "detail"));
  EXPECT_EQ(gShown, "No default or operate data.\ndetail");
}

TEST_F(AlertTest, TwoAndThreeButtonAlertsAnswerWithTheirButtons) {
  const uChar message[] = "\x05" "Sure?";
  const char* kTwo = "Buttons are one based.  Use either 1 or 2.";
  const char* kThree = "Buttons are one based.  Use either 1, 2 or 3.";
  // An answer of 0: nobody answers and the default button stands.
  const struct {
    int32 buttons, defaultButton, answer, result;
    const char* debugLine;
  } cases[] = {
      {2, 1, kPlatAnsOK, 1, nullptr}, {2, 1, kPlatAnsCancel, 0, nullptr}, {2, 2, kPlatAnsYes, 1, nullptr},
      {2, 2, 0, 0, nullptr},          {2, 5, 0, 1, kTwo},                 {3, 1, kPlatAnsNo, 2, nullptr},
      {3, 2, kPlatAnsCancel, 3, nullptr},  // Escape or the close box
      {3, 2, 0, 2, nullptr},          {3, 0, 0, 1, kThree},
  };
  for (const auto& c : cases) {
    ClearReports();
    gAnswer = c.answer;
    PlatSetAlertProc(c.answer ? &Answer : nullptr);
    const int32 result =
        c.buttons == 2 ? TwoButtonAlert(53, message, nullptr, nullptr, c.defaultButton, -32768, -32768)
                       : ThreeButtonAlert(53, message, nullptr, nullptr, nullptr, c.defaultButton, -32768, -32768);
    EXPECT_EQ(result, c.result) << c.buttons << " buttons, default " << c.defaultButton << ", answer " << c.answer;
    EXPECT_EQ(qxtest::Reports::Get().Count(c.debugLine ? c.debugLine : "one based"), c.debugLine ? 1 : 0);
  }
  // The message lists the buttons, the default one marked; a script answers.
  PlatSetAlertProc(&Answer);
  gAnswer = kPlatAnsNo;
  const uChar yes[] = "\x03Yes", no[] = "\x02No";
  EXPECT_EQ(ThreeButtonAlert(52, "c text", yes, no, nullptr, 1, 0, 0), 2);
  EXPECT_EQ(gShown, "c text\n [*Yes] [No] [Cancel]");
  PlatSetAlertProc(nullptr);
  setenv("QX_ALERT_ANSWERS", "Cancel", 1);
  PlatAlertReloadAnswers();
  EXPECT_EQ(TwoButtonAlert(53, message, yes, no, 1, -32768, -32768), 0);
  setenv("QX_ALERT_ANSWERS", "No", 1);
  PlatAlertReloadAnswers();
  EXPECT_EQ(ThreeButtonAlert(53, message, yes, no, nullptr, 1, -32768, -32768), 2);
  unsetenv("QX_ALERT_ANSWERS");
  PlatAlertReloadAnswers();
  // The file functions' alert without the shell keeps the default button too.
  EXPECT_EQ(HeadlessTwoButtonAlert(53, message, nullptr, nullptr, 2, 0, 0), 0);
}

// A fixed font: 7 pixels a character, 14 a line, wrapped at any character.
Rect Rewrap(void* chars, const Rect& b) {
  const int32 perLine = (b.right - b.left) / 7, n = *static_cast<int32*>(chars);
  return Rect{b.top, b.left, int16(b.top + (n + perLine - 1) / perLine * 14), b.right};
}
std::string Text(const Rect& r) {
  return std::to_string(r.top) + "," + std::to_string(r.left) + "," + std::to_string(r.bottom) + "," +
         std::to_string(r.right);
}
std::string Text(Point p) { return std::to_string(p.v) + "," + std::to_string(p.h); }

TEST_F(AlertTest, TheAlertLayoutFitsTheTextToAPleasantShape) {
  const struct {
    const char* what;
    int32 buttons;
    Rect text;
    int32 chars;
    const char* want;  // text rectangle; dialog; text at; buttons at
  } cases[] = {
      // W + 20 wide, the text centred, the lone button shifted by (W + 20) / 4.
      {"short line", 1, {0, 0, 14, 100}, 0, "-1,-2,15,101;0,0,73,180;10,38;40,55;"},
      // Rewrapped twice by the area's quadratic: 273, then 282 wide.
      {"2,000-pixel line", 2, {0, 0, 14, 2002}, 286, "-1,-2,113,283;0,0,171,305;10,10;138,72;138,162;"},
      // Clipped to the screen's height less 80 and the band of 40.
      {"200 lines", 0, {0, 0, 2800, 100}, 0, "-1,-2,649,101;0,0,690,143;20,20;"},
      {"no buttons", 0, {0, 0, 14, 100}, 0, "-1,-2,15,101;0,0,56,143;20,20;"},
  };
  for (const auto& c : cases) {
    int32 chars = c.chars;
    AlertLayoutInput in{c.buttons, {70, 70, 70}, {22, 22, 22}, c.text, &Rewrap, &chars, {0, 0, 768, 1024}};
    AlertLayout out;
    ASSERT_TRUE(FitAlertLayout(in, &out)) << c.what;
    std::string got = Text(out.text) + ";" + Text(out.dialog) + ";" + Text(out.textAt) + ";";
    for (int32 b = 0; b < c.buttons; ++b) got += Text(out.buttonAt[b]) + ";";
    EXPECT_EQ(got, c.want) << c.what;
  }
  AlertLayout out;
  EXPECT_FALSE(FitAlertLayout(AlertLayoutInput{4, {}, {}, {0, 0, 14, 10}, nullptr, nullptr, {}}, &out));
}

// A 'DHLP' resource: the count, then each text with its length and padding
// (the last one's length may be given, and its padding left off).
std::vector<uChar> Help(uInt32 count, const std::vector<std::string>& texts, uInt32 lastLength = 0,
                        bool pad = true) {
  std::vector<uChar> b;
  auto put = [&](uInt32 v) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(uChar(v >> s));
  };
  put(count);
  for (size_t i = 0; i < texts.size(); ++i) {
    put(i + 1 == texts.size() && lastLength ? lastLength : uInt32(texts[i].size()));
    b.insert(b.end(), texts[i].begin(), texts[i].end());
    while (b.size() % 4 && (pad || i + 1 < texts.size())) b.push_back(0);
  }
  return b;
}
MgErr Take(void* taken, int32 item, const uChar* text, int32 length) {
  *static_cast<std::string*>(taken) += std::to_string(item) + "=" + std::string((const char*)text, length) + ";";
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
      {"the last without padding", Help(1, {"xyz"}, 0, false), kNoErr, "1=xyz;"},
      {"a length running past", Help(2, {"ab", "cd"}, 100), kArgErr, ""},
      {"a count running past", Help(5, {"ab", "cd"}), kArgErr, ""},
      {"no room for the count", {0, 0}, kArgErr, ""},
  };
  for (const auto& c : cases) {
    std::string taken;
    EXPECT_EQ(DlgReadHelpTexts(c.bytes.data(), int32(c.bytes.size()), 3, &Take, &taken), c.err) << c.what;
    EXPECT_EQ(taken, c.taken) << c.what;
  }
}

}  // namespace alerts_test
