#include "qx_process.h"

#include <locale.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <initializer_list>
#include <thread>

#include "qx_drives.h"

extern char** environ;

int32_t PlatProcessId() { return int32_t(getpid()); }

void PlatSetLocaleFromEnvironment() {
  // A category that names no installed locale makes the whole call fail:
  // then the categories are tried one by one.
  if (!setlocale(LC_ALL, "")) {
    for (int cat : {LC_CTYPE, LC_COLLATE, LC_MONETARY, LC_TIME, LC_MESSAGES}) setlocale(cat, "");
  }
  setlocale(LC_NUMERIC, "C");
}

int32_t PlatSplitCommandLineInPlace(char* text, char** argv) {
  if (!text) return 0;
  for (char* p = text; *p; ++p)
    if (*p == '\t') *p = ' ';
  int32_t count = 0;
  char* p = text;
  for (;;) {
    while (*p == ' ') ++p;
    if (!*p) break;
    char end = ' ';
    if (*p == '"') {
      end = '"';
      ++p;
    }
    char* start = p;
    while (*p && *p != end) ++p;
    if (argv) argv[count] = start;
    ++count;
    if (!*p) break;
    if (argv) *p = 0;
    ++p;
  }
  return count;
}

std::vector<std::string> PlatSplitCommandLine(const char* text) {
  std::vector<std::string> args;
  if (!text) return args;
  std::string t(text);
  std::vector<char*> argv(size_t(PlatSplitCommandLineInPlace(t.data(), nullptr)));
  PlatSplitCommandLineInPlace(t.data(), argv.data());
  for (char* a : argv) args.emplace_back(a);
  return args;
}

namespace {

// Whether the program can be started: a path names an executable file, a bare
// name one in a folder of PATH.  Checked before spawning because a spawn
// whose exec fails in the child is reported as a start by some C libraries and
// emulators (the child then just exits 127), and a missing program must fail.
bool ProgramExists(const std::string& program) {
  auto runnable = [](const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
  };
  if (program.find('/') != std::string::npos) return runnable(program);
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t from = 0;
  for (;;) {
    const size_t to = dirs.find(':', from);
    // An empty entry is the current directory.
    const std::string dir = to == from || from == dirs.size()
                                ? std::string(".")
                                : dirs.substr(from, to == std::string::npos ? std::string::npos : to - from);
    if (runnable(dir + "/" + program)) return true;
    if (to == std::string::npos) return false;
    from = to + 1;
  }
}

}  // namespace

int32_t PlatRunProgram(const char* commandLine, bool /*minimized*/) {
  std::vector<std::string> args = PlatSplitCommandLine(commandLine);
  if (args.empty() || args[0].empty()) return 0;
  std::string program = args[0];
  bool sysText = (program.size() >= 3 && program[1] == ':' && program[2] == '\\') || program.compare(0, 2, "\\\\") == 0;
  if (sysText) {
    std::string host;
    if (PlatResolveSysText(program.c_str(), &host, nullptr) != 0) return 3;
    program = host;
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (size_t i = 1; i < args.size(); ++i) argv.push_back(const_cast<char*>(args[i].c_str()));
  argv.push_back(nullptr);
  if (!ProgramExists(program)) return 2;
  pid_t pid = 0;
  int rc = program.find('/') == std::string::npos
               ? posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ)
               : posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
  if (rc != 0) return rc == ENOMEM ? 0 : 2;
  // Nobody waits for the program: a detached waiter reaps it.
  std::thread([pid] {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return 33;
}
