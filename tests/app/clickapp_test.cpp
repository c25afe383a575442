// Clicks of an input script reach what the built program draws under them:
// the Run button of the tool bar runs the VI again, and a click on the
// scroll bar is tracked to its release (neither hangs the program).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/demovi.h"
#include "builtapp.h"
#include "engine/datamgr.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/path.h"
#include "rtlib/datalog.h"
#include "tools/tdbuilder.h"

namespace {

// The screen points of Demo.vi's window: its content's top-left corner lies
// at (kContentLeft, kContentTop); the tool bar (21 high) ends at the
// content's top, the vertical scroll bar runs along its right side.
constexpr int32 kLeft = demo::kContentLeft, kTop = demo::kContentTop;
constexpr int32 kRunH = kLeft + 38, kRunV = kTop - 22 + 10;  // the Run slot: 28..48 across, 1..20 down
constexpr int32 kScrollDownH = kLeft + demo::kContentWidth + 7, kScrollDownV = kTop + demo::kContentHeight - 6;

// The (x, y) pairs of the records the demo logged.
std::vector<std::pair<int32, int32>> Logged(const std::string& log) {
  std::vector<std::pair<int32, int32>> out;
  std::vector<uChar> record =
      tdb::Cluster({tdb::Cluster({tdb::U32(), tdb::U16()}), tdb::Cluster({tdb::I32(), tdb::I32()})}).Bytes();
  const TypeDescriptor* td = tdb::AsTD(record);
  std::string text = "C:" + log;
  for (char& ch : text) ch = ch == '/' ? '\\' : ch;
  Path path = nullptr;
  FileRef file = nullptr;
  if (FTextToPath(reinterpret_cast<const uChar*>(text.data()), int32(text.size()), &path) != kNoErr) return out;
  if (FMOpen(&file, path, kAccessRead, kDenyNone) == kNoErr) {
    int32 count = 0;
    DatalogCount(file, td, &count);
    std::vector<uChar> data(size_t(DataSize(td)));
    for (int32 i = 0, next = 0; i < count; ++i) {
      if (DatalogRead(file, td, i, nullptr, data.data(), 0, &next) != kNoErr) break;
      int32 xy[2];
      std::memcpy(xy, data.data() + data.size() - 8, 8);
      out.emplace_back(xy[0], xy[1]);
    }
    FMClose(file);
  }
  FDisposePath(path);
  return out;
}

TEST(ClickApp, TheRunButtonAndTheScrollBarTakeScriptedClicks) {
  ASSERT_EQ(MemInit(), kNoErr);
  TempFolder tmp("qxclick");
  const std::string dir = tmp.Dir(), program = dir + "/demo", log = dir + "/log";
  std::string error;
  ASSERT_TRUE(demo::BuildDemo(QX_QUENLIX, program, 20, log, &error)) << error;
  std::stringstream script;
  script << "wait\nclick " << kScrollDownH << " " << kScrollDownV << "\nwait\n"
         << "click " << kRunH << " " << kRunV << "\nwait\nquit\n";
  const auto [status, ms] = builtapp::Run(builtapp::Command(dir, program, script.str(), 60, "400x300"));
  ASSERT_EQ(status, 0) << builtapp::Err(dir);
  const auto runs = Logged(log);
  ASSERT_EQ(runs.size(), 2u) << "the Run button ran the VI again\n" << builtapp::Err(dir);
  EXPECT_EQ(runs[1], std::make_pair(20, 42));
}

// A value typed into x's text and committed with Enter is the control's
// value: the next run (the Run button) logs x and the y computed from it.
TEST(ClickApp, ATypedValueReachesTheDiagram) {
  ASSERT_EQ(MemInit(), kNoErr);
  TempFolder tmp("qxtype");
  const std::string dir = tmp.Dir(), program = dir + "/demo", log = dir + "/log";
  std::string error;
  ASSERT_TRUE(demo::BuildDemo(QX_QUENLIX, program, 20, log, &error)) << error;
  // x's text lies at 22..78 across and 68..80 down within the content; the
  // click puts the caret in it, End and three Backspaces empty it.
  const int32 textH = kLeft + 50, textV = kTop + 74;
  std::stringstream script;
  script << "wait\nclick " << textH << " " << textV << "\nwait\n"
         << "key End\nkey Backspace\nkey Backspace\nkey Backspace\ntype \"-13\"\nkey Enter\nwait\n"
         << "click " << kRunH << " " << kRunV << "\nwait\nquit\n";
  const auto [status, ms] = builtapp::Run(builtapp::Command(dir, program, script.str(), 60, "400x300"));
  ASSERT_EQ(status, 0) << builtapp::Err(dir);
  const auto runs = Logged(log);
  ASSERT_EQ(runs.size(), 2u) << builtapp::Err(dir);
  EXPECT_EQ(runs[0], std::make_pair(20, 42));
  EXPECT_EQ(runs[1], std::make_pair(-13, -24)) << builtapp::Err(dir);
}

}  // namespace
