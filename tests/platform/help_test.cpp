#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/qx_help.h"
#include "platform/qx_process.h"
#include "temp_folder.h"

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool WaitFor(const std::string& path) {
  for (int i = 0; i < 500 && !std::filesystem::exists(path); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return std::filesystem::exists(path);
}

TEST(Help, ViewerGetsPathAndFragmentAndQuitEndsIt) {
  TempFolder tmp("qxhelp");
  std::string help = tmp.Dir() + "/manual.html", args = tmp.Dir() + "/args", ended = tmp.Dir() + "/ended";
  std::ofstream(help) << "<html></html>";
  std::string viewer = tmp.Dir() + "/viewer.sh";
  std::ofstream(viewer) << "#!/bin/sh\ntrap 'echo ended > " << ended << "; exit 0' TERM\necho \"$@\" > " << args
                        << ".tmp && mv " << args << ".tmp " << args << "\nsleep 30 & wait\n";
  ASSERT_EQ(chmod(viewer.c_str(), 0755), 0);
  unsetenv("DISPLAY");
  {
    unsetenv("QX_HELP_VIEWER");
    EXPECT_EQ(PlatHelp(help.c_str(), kPlatHelpShow, nullptr), 1);  // headless, no viewer
  }
  setenv("QX_HELP_VIEWER", viewer.c_str(), 1);
  struct Row {
    std::string path;
    const char* keyword;
    int32_t result;
    std::string args;
  } rows[] = {
      {tmp.Dir() + "/missing.html", "x", 1, ""},
      {help, "Loops", 0, help + "#Loops\n"},
      {help, nullptr, 0, help + "\n"},
  };
  for (const Row& r : rows) {
    std::filesystem::remove(args);
    ASSERT_EQ(PlatHelp(r.path.c_str(), kPlatHelpShow, r.keyword), r.result) << r.path;
    if (r.result != 0) continue;
    ASSERT_TRUE(WaitFor(args));
    EXPECT_EQ(Slurp(args), r.args);
  }
  EXPECT_EQ(PlatHelpViewers(), 2);
  EXPECT_EQ(PlatHelp(nullptr, kPlatHelpQuit, nullptr), 0);
  EXPECT_EQ(PlatHelpViewers(), 0);
  EXPECT_EQ(Slurp(ended), "ended\n");
  unsetenv("QX_HELP_VIEWER");
}

TEST(RunProgram, SplitsAndStarts) {
  struct Split {
    const char* line;
    std::vector<std::string> args;
  } splits[] = {
      {"", {}},
      {"  a\tb  ", {"a", "b"}},
      {"\"C:\\Program Files\\x.exe\" -v", {"C:\\Program Files\\x.exe", "-v"}},
      {"a \"unclosed quote", {"a", "unclosed quote"}},
      {"\"\" b", {"", "b"}},
  };
  for (const Split& s : splits) EXPECT_EQ(PlatSplitCommandLine(s.line), s.args) << s.line;
  struct Run {
    const char* line;
    bool started;
  } runs[] = {
      {"/bin/true", true},
      {"\"/bin/true\" with args", true},
      {"true", true},
      {"/no/such/program", false},
      {"", false},
      {"Q:\\unmapped\\drive.exe", false},
  };
  for (const Run& r : runs) EXPECT_EQ(PlatRunProgram(r.line, false) >= 32, r.started) << r.line;
}

}  // namespace
