// Built applications for the program's own tests: a copy of the program with
// the run-time resources and a VI library appended, run headless with its
// own folders (and an input script when given), its stderr kept.
#pragma once
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "emulation.h"
#include "engine/vi/archive_format.h"
#include "temp_folder.h"
#include "tools/appbuild.h"
#include "tools/vilibrary.h"

namespace builtapp {

// A library member: its name, its file and its directory flags.
typedef std::tuple<std::string, rsrcw::Bytes, uInt32> Member;

// Writes dir/name: the program with the run-time resources and the library.
inline std::string Build(const std::string& dir, const std::string& name, const std::vector<Member>& members) {
  qxbuild::VILibraryWriter lib(name + ".qlb");
  for (const auto& [member, file, flags] : members) {
    EXPECT_FALSE(file.empty()) << member << ": the file could not be written";
    qxbuild::LibraryMember m;
    m.name = member;
    m.file = file;
    m.flags = flags;
    lib.Add(m);
  }
  rsrcw::Writer w(FourCC("APPL"), FourCC("QNLX"));
  qxbuild::AddRunTimeResources(&w);
  lib.AddTo(&w);
  const std::string out = dir + "/" + name;
  std::string error;
  EXPECT_TRUE(qxbuild::AppendToProgram(QX_QUENLIX, w.Write(), out, &error)) << error;
  return out;
}

// The command that runs a built program headless in dir (its temporary,
// run-time and registry files there), with the script when one is given;
// stderr goes to dir/err.
inline std::string Command(const std::string& dir, const std::string& program, const std::string& script = "",
                           int seconds = 60, const std::string& screen = "640x480") {
  std::filesystem::create_directories(dir + "/t");
  std::string cmd = "TMPDIR=" + dir + "/t QX_RUNTIME_DIR=" + dir + "/run QX_REGISTRY_FILE=" + dir +
                    "/reg.ini QX_UI=headless QX_SCREEN=" + screen;
  if (!script.empty()) {
    std::ofstream(dir + "/script.txt") << script;
    cmd += " QX_INPUT_SCRIPT=" + dir + "/script.txt";
  }
  // Emulated, a program may not survive the timeout's SIGTERM in a state to
  // act on it (see emulation.h): a kill follows.
  const std::string kill = qxtest::UnderUserModeEmulation() ? "-k 10 " : "";
  return cmd + " timeout " + kill + std::to_string(seconds) + " " + program + " 2>" + dir + "/err";
}

// What the program wrote to stderr.
inline std::string Err(const std::string& dir) {
  std::stringstream s;
  s << std::ifstream(dir + "/err").rdbuf();
  return s.str();
}

// Runs the command to its end: the exit status (-1 when killed), and how
// long it took in milliseconds.
inline std::pair<int, long> Run(const std::string& cmd) {
  const auto start = std::chrono::steady_clock::now();
  const int raw = std::system(cmd.c_str());
  const long ms = long(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                           .count());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ms};
}

}  // namespace builtapp
