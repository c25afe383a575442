#include "platform/qx_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/qx_file.h"

namespace {

std::mutex gLock;
int gFd = -1;  // the held lock file

bool Private(const struct stat& st) {
  return st.st_uid == geteuid() && S_ISDIR(st.st_mode) && (st.st_mode & 0022) == 0;
}

// A name that stays one file of the folder.
bool SafeName(const char* name) {
  return name && *name && !std::strchr(name, '/') && std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0;
}

std::string LockPath(const char* name) {
  std::string dir;
  if (!SafeName(name) || !PlatRuntimeFolder(&dir)) return std::string();
  return dir + "/" + name + ".lock";
}

// One line on stderr for each folder refused, however often it is asked for.
void Refuse(const std::string& dir, const std::string& why) {
  static std::mutex m;
  static std::string refused;
  std::lock_guard<std::mutex> g(m);
  if (refused == dir) return;
  refused = dir;
  std::fprintf(stderr, "quenlix: runtime folder %s %s\n", dir.c_str(), why.c_str());
}

}  // namespace

bool PlatRuntimeFolder(std::string* hostPath) {
  std::string dir;
  if (const char* own = std::getenv("QX_RUNTIME_DIR"); own && *own) {
    dir = own;
  } else if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && *xdg) {
    dir = std::string(xdg) + "/quenlix";
  } else {
    std::string tmp;
    if (!PlatTempFolder(&tmp)) tmp = "/tmp";
    dir = tmp + "/quenlix-" + std::to_string(unsigned(geteuid()));
  }
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    Refuse(dir, std::string("cannot be made: ") + std::strerror(errno));
    return false;
  }
  struct stat st;
  if (lstat(dir.c_str(), &st) != 0 || !Private(st)) {
    Refuse(dir, "is not private to this user; no single instance");
    return false;
  }
  if (hostPath) *hostPath = dir;
  return true;
}

int32_t PlatInstanceLock(const char* name) {
  std::lock_guard<std::mutex> g(gLock);
  if (gFd >= 0) return 0;
  const std::string path = LockPath(name);
  if (path.empty()) return 0;
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return 0;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const bool held = errno == EWOULDBLOCK;
    close(fd);
    return held ? 1 : 0;
  }
  // A mark left by a killed instance is no frame of a running one.
  if (ftruncate(fd, 0) != 0) {
  }
  gFd = fd;
  return 0;
}

void PlatInstanceUnlock() {
  std::lock_guard<std::mutex> g(gLock);
  if (gFd < 0) return;
  if (ftruncate(gFd, 0) != 0) {
  }
  close(gFd);  // releases the lock
  gFd = -1;
}

bool PlatInstanceSetFrame(uint32_t frame) {
  std::lock_guard<std::mutex> g(gLock);
  if (gFd < 0) return false;
  char text[16];
  const int n = std::snprintf(text, sizeof text, "%u\n", unsigned(frame));
  return ftruncate(gFd, 0) == 0 && pwrite(gFd, text, size_t(n), 0) == n;
}

uint32_t PlatInstanceFrame(const char* name) {
  const std::string path = LockPath(name);
  if (path.empty()) return 0;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return 0;
  char text[16] = {};
  const ssize_t n = pread(fd, text, sizeof text - 1, 0);
  close(fd);
  if (n <= 0) return 0;
  char* end = nullptr;
  const unsigned long v = std::strtoul(text, &end, 10);
  return end != text && v <= 0xFFFFFFFFul ? uint32_t(v) : 0;
}
