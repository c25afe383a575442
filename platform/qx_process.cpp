#include "qx_process.h"

#include <locale.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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

std::vector<std::string> PlatSplitCommandLine(const char* text) {
  std::vector<std::string> args;
  if (!text) return args;
  std::string t(text);
  for (char& c : t)
    if (c == '\t') c = ' ';
  size_t i = 0;
  while (true) {
    while (i < t.size() && t[i] == ' ') ++i;
    if (i >= t.size()) break;
    char end = ' ';
    if (t[i] == '"') {
      end = '"';
      ++i;
    }
    size_t stop = t.find(end, i);
    if (stop == std::string::npos) stop = t.size();
    args.push_back(t.substr(i, stop - i));
    i = stop + 1;
  }
  return args;
}

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
