// Input scripts: good and bad lines, round trips, and scripted alert answers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/qx_alert.h"
#include "platform/qx_uitest_script.h"

namespace {

struct Parsed {
  bool ok;
  std::vector<PlatScriptStep> steps;
  int32_t line = 0;
  std::string message;
};

Parsed Parse(const std::string& text) {
  Parsed p;
  p.ok = PlatScriptParse(text.data(), text.size(), &p.steps, &p.line, &p.message);
  return p;
}

PlatScriptStep Step(PlatScriptOp op, int32_t x = 0, int32_t y = 0, int32_t n = 0, uint32_t mods = 0,
                    uint32_t key = 0, std::string text = {}, std::string title = {}) {
  PlatScriptStep s;
  s.op = op;
  s.line = 1;
  s.x = x;
  s.y = y;
  s.steps = n;
  s.mods = mods;
  s.key = key;
  s.text = std::move(text);
  s.title = std::move(title);
  return s;
}

TEST(InputScript, GoodLinesGiveTheirStepsAndFormatBack) {
  const struct {
    const char* line;
    PlatScriptStep want;
  } kGood[] = {
      {"wait", Step(kScriptWait)},
      {"  quit  ", Step(kScriptQuit)},
      {"click 10 -20", Step(kScriptClick, 10, -20)},
      {"click\t32767 -32768\r", Step(kScriptClick, 32767, -32768)},
      {"key a", Step(kScriptKey, 0, 0, 0, 0, 'A')},
      {"key 7", Step(kScriptKey, 0, 0, 0, 0, '7')},
      {"key enter", Step(kScriptKey, 0, 0, 0, 0, PlatScriptKeyOfName("Enter", 5))},
      {"key Alt+F", Step(kScriptKey, 0, 0, 0, kScriptAlt, 'F')},
      {"key ctrl+shift+F10", Step(kScriptKey, 0, 0, 0, kScriptCtrl | kScriptShift, PlatScriptKeyOfName("F10", 3))},
      {"key Shift", Step(kScriptKey, 0, 0, 0, 0, PlatScriptKeyOfName("shift", 5))},
      {R"(type "Hi \"you\"\\ \n\t")", Step(kScriptType, 0, 0, 0, 0, 0, "Hi \"you\"\\ \n\t")},
      {"type \"\"", Step(kScriptType)},
      {"wheel -3 5 6", Step(kScriptWheel, 5, 6, -3)},
      {"wheel 100 0 0", Step(kScriptWheel, 0, 0, 100)},
      {"snapshot /tmp/a.png", Step(kScriptSnapshot, 0, 0, 0, 0, 0, "/tmp/a.png")},
      {"wait-file \"/tmp/d one\"", Step(kScriptWaitFile, 0, 0, 0, 0, 0, "/tmp/d one")},
      {"snapshot \"with space.png\"", Step(kScriptSnapshot, 0, 0, 0, 0, 0, "with space.png")},
      {"snapshot-window \"Main Panel\" out.png", Step(kScriptSnapshotWindow, 0, 0, 0, 0, 0, "out.png", "Main Panel")},
      {"snapshot-window \"\" x", Step(kScriptSnapshotWindow, 0, 0, 0, 0, 0, "x", "")},
  };
  for (const auto& g : kGood) {
    SCOPED_TRACE(g.line);
    const Parsed p = Parse(g.line);
    ASSERT_TRUE(p.ok) << p.message;
    ASSERT_EQ(p.steps.size(), 1u);
    EXPECT_EQ(p.steps[0], g.want);
    const Parsed back = Parse(PlatScriptFormat(p.steps[0]));
    ASSERT_TRUE(back.ok) << PlatScriptFormat(p.steps[0]);
    EXPECT_EQ(back.steps, p.steps);
  }
}

TEST(InputScript, BadLinesAreRefusedWithTheirLineNumber) {
  const char* kBad[] = {
      "jump",            "wait now",          "click 1",          "click 1 2 3",        "click x 2",
      "click 40000 0",   "click 1.5 2",       "click - 2",        "click 1234567 0",    "key",
      "key Hyper+A",     "key Ctrl+Ctrl+A",   "key AB",           "key Ctrl+",          "type hello",
      "type \"open",     "type \"a\\q\"",     "type \"a\"b",      "type \"a\" extra",   "wheel 0 1 1",
      "wheel 101 1 1",   "wheel 1 1",         "snapshot",         "snapshot \"\"",      "snapshot a b",
      "snapshot-window out.png", "snapshot-window \"T\"", "type \"caf\xC3\xA9\"", "wait\x01",
      "quit\x7F",
  };
  for (const char* bad : kBad) {
    SCOPED_TRACE(bad);
    const Parsed p = Parse(std::string("# header\n\nwait\n") + bad + "\nquit\n");
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.line, 4);
    EXPECT_FALSE(p.message.empty());
    EXPECT_TRUE(p.steps.empty());
  }
  const Parsed longLine = Parse("wait\n" + std::string("type \"") + std::string(kScriptMaxLine, 'x') + "\"\n");
  EXPECT_FALSE(longLine.ok);
  EXPECT_EQ(longLine.line, 2);
  const Parsed nul = Parse(std::string("wait\nclick 1 2\0", 15));
  EXPECT_FALSE(nul.ok);
  EXPECT_EQ(nul.line, 2);
}

TEST(InputScript, AWholeScriptKeepsOrderAndLineNumbers) {
  const Parsed p = Parse("# a test\r\nclick 5 5\r\n\r\n  # indented comment\nkey Tab\ntype \"x\"\nquit");
  ASSERT_TRUE(p.ok) << p.message;
  ASSERT_EQ(p.steps.size(), 4u);
  EXPECT_EQ(p.steps[0].line, 2);
  EXPECT_EQ(p.steps[1].line, 5);
  EXPECT_EQ(p.steps[2].line, 6);
  EXPECT_EQ(p.steps[3].op, kScriptQuit);
  EXPECT_EQ(p.steps[3].line, 7);
  EXPECT_TRUE(Parse("").ok);
}

TEST(AlertAnswers, ScriptedAnswersInTurnThenTheDefaultAndThePreludeFirst) {
  static int preludes = 0;
  preludes = 0;
  PlatAlertPreludeProc old = PlatSetAlertPrelude([] { ++preludes; });
  PlatAlertProc oldProc = PlatSetAlertProc(nullptr);
  setenv("QX_ALERT_ANSWERS", "yes, RETRY,Cancel,bogus,No", 1);
  EXPECT_EQ(PlatAlertReloadAnswers(), 5);
  const struct {
    int32_t buttons, want;
  } kTurns[] = {
      {kPlatYesNo, kPlatAnsYes},                // "yes"
      {kPlatAbortRetryIgnore, kPlatAnsRetry},   // "RETRY"
      {kPlatOK, kPlatAnsOK},                    // "Cancel" is no button of OK: the default
      {kPlatYesNoCancel, kPlatAnsCancel},       // "bogus": the default
      {kPlatYesNo, kPlatAnsNo},                 // "No"
      {kPlatYesNo, kPlatAnsNo},                 // the list ran out: the default
      {kPlatRetryCancel, kPlatAnsCancel},
  };
  for (const auto& t : kTurns) EXPECT_EQ(PlatAlert("t", "text", t.buttons, kPlatIconNone), t.want);
  EXPECT_EQ(preludes, int(std::size(kTurns)));
  unsetenv("QX_ALERT_ANSWERS");
  EXPECT_EQ(PlatAlertReloadAnswers(), 0);
  EXPECT_EQ(PlatAlert("t", "text", kPlatOKCancel, kPlatIconNone), kPlatAnsOK);
  PlatSetAlertProc(oldProc);
  PlatSetAlertPrelude(old);
}

}  // namespace
