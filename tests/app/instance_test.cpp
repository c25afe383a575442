// One instance per user and program: a second start hands its documents
// (or "activate") to the first and exits, a killed first instance blocks
// nothing, and a built application without the registration key starts
// without the service, so that a later start gives up after six attempts.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "emulation.h"
#include "mgsource/fourcc.h"
#include "platform/qx_drives.h"
#include "temp_folder.h"
#include "tools/appbuild.h"
#include "tools/rsrcwriter.h"

namespace {

class Instances : public ::testing::Test {
 protected:
  // Starts program in the test folder with its own runtime folder, stdout
  // (and with script, its input script, stderr too) into out.
  pid_t Start(const std::string& program, const std::vector<std::string>& args, const std::string& out,
              const std::string& script = "") {
    const pid_t pid = fork();
    if (pid == 0) {
      if (chdir(tmp_.Dir().c_str()) != 0 || !std::freopen(out.c_str(), "w", stdout)) _exit(120);
      if (!script.empty() && (dup2(1, 2) < 0 || setenv("QX_INPUT_SCRIPT", script.c_str(), 1) != 0)) _exit(122);
      setenv("QX_RUNTIME_DIR", (tmp_.Dir() + "/run").c_str(), 1);
      setenv("QX_REGISTRY_FILE", (tmp_.Dir() + "/reg.ini").c_str(), 1);
      setenv("QX_UI", "headless", 1);
      setenv("QX_PROBE_PAUSE_MS", "5", 1);
      std::vector<char*> argv{const_cast<char*>(program.c_str())};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(121);
    }
    return pid;
  }
  // Runs program to its end (at most 20 s): its exit status and output.
  int Run(const std::string& program, const std::vector<std::string>& args, std::string* output) {
    const std::string out = tmp_.Dir() + "/b.out";
    const pid_t pid = Start(program, args, out);
    int status = -1;
    for (int i = 0; i < 2000 && waitpid(pid, &status, WNOHANG) == 0; ++i) usleep(10000);
    if (!WIFEXITED(status)) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    *output = Read(out);
    return WEXITSTATUS(status);
  }
  static std::string Read(const std::string& file) {
    std::stringstream s;
    s << std::ifstream(file).rdbuf();
    return s.str();
  }
  // Waits (at most 20 s) until the file holds text; its contents.
  static std::string WaitFor(const std::string& file, const std::string& text) {
    std::string got;
    for (int i = 0; i < 2000 && (got = Read(file)).find(text) == std::string::npos; ++i) usleep(10000);
    return got;
  }
  static std::string Without(std::string text, const std::string& line) {
    for (size_t at; (at = text.find(line)) != std::string::npos;) text.erase(at, line.size());
    return text;
  }
  static void Stop(pid_t pid, int sig) { qxtest::EndChild(pid, sig); }
  std::string SysDir() {
    std::string text;
    PlatHostToSysText(tmp_.Dir().c_str(), &text);
    return text;
  }
  TempFolder tmp_{"qx_inst"};
};

TEST_F(Instances, ASecondStartHandsItsDocumentsToTheFirstAndEnds) {
  const std::string aOut = tmp_.Dir() + "/a.out";
  const pid_t a = Start(QX_INSTANCE_PROBE, {}, aOut);
  ASSERT_NE(WaitFor(aOut, "start\n").find("running\nstart\n"), std::string::npos);
  std::string b;
  EXPECT_EQ(Run(QX_INSTANCE_PROBE, {"one.vi", "-pref", "x.ini", "sub/../two.vi"}, &b), 0);
  EXPECT_EQ(b, "") << "handed over at the first attempt, without running";
  // Each open and the final "activate" bring the frame forward; a quick
  // succession may come forward once.
  const std::string opens = "running\nstart\nopen " + SysDir() + "\\one.vi\nopen " + SysDir() + "\\two.vi\n";
  std::string got = WaitFor(aOut, "two.vi\nactivated\n");
  usleep(100000);
  got = Read(aOut);
  EXPECT_EQ(Without(got, "activated\n"), opens);
  EXPECT_EQ(got.substr(got.size() - 10), "activated\n");
  // Without documents the first instance only comes forward.
  EXPECT_EQ(Run(QX_INSTANCE_PROBE, {}, &b), 0);
  EXPECT_EQ(b, "");
  const std::string after = WaitFor(aOut, got + "activated\n");
  EXPECT_EQ(after, got + "activated\n");
  // A killed first instance leaves nothing that stops the next start.
  Stop(a, SIGKILL);
  const pid_t c = Start(QX_INSTANCE_PROBE, {"three.vi"}, tmp_.Dir() + "/c.out");
  EXPECT_EQ(WaitFor(tmp_.Dir() + "/c.out", "start\n"), "running\nopen " + SysDir() + "\\three.vi\nstart\n");
  Stop(c, SIGTERM);
}

TEST_F(Instances, ABuiltApplicationWithoutTheKeyRunsWithoutTheServiceAndALaterStartGivesUp) {
  rsrcw::Writer w(FourCC("APPL"), FourCC("QNLX"));
  ASSERT_TRUE(w.Add(rsrcfmt::kTypeStrList, 128, rsrcw::StrList({"built"})));
  std::filesystem::create_directory(tmp_.Dir() + "/app");
  const std::string built = tmp_.Dir() + "/app/instance_probe";
  ASSERT_TRUE(qxbuild::AppendToProgram(QX_INSTANCE_PROBE, w.Write(), built));
  const std::string aOut = tmp_.Dir() + "/a.out";
  const pid_t a = Start(built, {}, aOut);
  EXPECT_EQ(WaitFor(aOut, "start\n"), "running\nstart\n") << "a built application starts without the key";
  EXPECT_FALSE(std::filesystem::exists(tmp_.Dir() + "/run/instance_probe.dde")) << "and runs no service";
  std::string b;
  EXPECT_EQ(Run(built, {"doc.vi"}, &b), 0);
  EXPECT_EQ(b, "pause\npause\npause\npause\npause\n") << "six attempts, five pauses, no run";
  Stop(a, SIGTERM);
}

// The program itself, headless: the first run serves the DDE hand-off while
// its script waits, and logs the path a second run hands it.
TEST_F(Instances, TheProgramsSecondRunHandsItsDocumentToTheFirst) {
  rsrcw::Writer w(FourCC("QXRS"), FourCC("QNLX"));
  qxbuild::AddRunTimeResources(&w);
  const std::string program = tmp_.Dir() + "/quenlix", dir = tmp_.Dir();
  ASSERT_TRUE(qxbuild::AppendToProgram(QX_QUENLIX, w.Write(), program, nullptr, 0));
  std::ofstream(dir + "/a.ini") << "[Quenlix]\ndebugging=True\n";
  std::ofstream(dir + "/script.txt") << "snapshot " << dir << "/ready.png\nwait-file " << dir << "/done\nquit\n";
  const std::string aOut = dir + "/a.out";
  const pid_t a = Start(program, {"-pref", "a.ini"}, aOut, dir + "/script.txt");
  for (int i = 0; i < 6000 && !std::filesystem::exists(dir + "/ready.png"); ++i) usleep(10000);
  std::string b;
  EXPECT_EQ(Run(program, {"doc.vi"}, &b), 0);
  std::ofstream(dir + "/done") << "";
  int status = -1;
  for (int i = 0; i < 6000 && waitpid(a, &status, WNOHANG) == 0; ++i) usleep(10000);
  if (!WIFEXITED(status)) Stop(a, SIGKILL);
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
  const std::string got = Read(aOut);
  EXPECT_NE(got.find("path to open :" + SysDir() + "\\doc.vi"), std::string::npos) << got;
}

}  // namespace
