#include "platform/qx_help.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "platform/qx_drives.h"
#include "platform/qx_process.h"

extern char** environ;

namespace {

std::mutex gLock;
std::vector<pid_t> gViewers;  // under gLock

// Forgets viewers that ended by themselves.  The caller holds gLock.
void Reap() {
  for (size_t i = 0; i < gViewers.size();) {
    if (waitpid(gViewers[i], nullptr, WNOHANG) != 0) gViewers.erase(gViewers.begin() + long(i));
    else ++i;
  }
}

bool OnPath(const char* program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string file = dirs.substr(start, end - start) + "/" + program;
    if (access(file.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

int32_t Refuse(const char* why, const char* what) {
  std::fprintf(stderr, "help: %s%s%s\n", why, what ? ": " : "", what ? what : "");
  return 1;
}

}  // namespace

int32_t PlatHelp(const char* path, int32_t command, const char* keyword) {
  std::lock_guard<std::mutex> g(gLock);
  Reap();
  if (command == kPlatHelpQuit) {
    // The viewer's whole group is asked to end; one that has not ended
    // after two seconds is killed, so that quitting never hangs.
    for (pid_t pid : gViewers) {
      kill(-pid, SIGTERM);
      int waited = 0;
      while (waitpid(pid, nullptr, WNOHANG) == 0) {
        if (++waited == 200) kill(-pid, SIGKILL);
        usleep(10000);
      }
    }
    gViewers.clear();
    return 0;
  }
  if (command != kPlatHelpShow) return Refuse("unknown command", nullptr);
  std::string host;
  if (!path || !*path) return Refuse("no help file", nullptr);
  if (PlatResolveSysText(path, &host, nullptr) != 0) host = path;
  struct stat st;
  if (stat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return Refuse("no such help file", host.c_str());
  std::string viewer;
  if (const char* v = std::getenv("QX_HELP_VIEWER")) viewer = v;
  if (viewer.empty() && std::getenv("DISPLAY") && OnPath("xdg-open")) viewer = "xdg-open";
  if (viewer.empty()) return Refuse("no help viewer", nullptr);
  std::string arg = host;
  if (keyword && *keyword) arg += std::string("#") + keyword;
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attr, 0);
  const char* argv[] = {viewer.c_str(), arg.c_str(), nullptr};
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, viewer.c_str(), nullptr, &attr, const_cast<char**>(argv), environ);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return Refuse("cannot start the viewer", viewer.c_str());
  gViewers.push_back(pid);
  return 0;
}

int32_t PlatHelpViewers() {
  std::lock_guard<std::mutex> g(gLock);
  Reap();
  return int32_t(gViewers.size());
}
