// A configuration file of the test process's own, for tests that set keys.
#pragma once
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mgsource/config.h"
#include "mgsource/config_internal.h"

// A configuration file of the test process's own, chosen with "-pref" and
// removed when the process that made it ends.  Keys are written to it as the
// raw text of their values.  A process that ends at once (a failure report
// does) leaves its file: the next one removes the files of processes gone.
class TestConfigFile {
 public:
  static const std::string& Name() {
    static TestConfigFile file;
    return file.path_;
  }
  // Makes it the configuration file in use (a test may have chosen another).
  static void Use() {
    const char* args[] = {"test", "-pref", Name().c_str()};
    CfgChooseFile(3, args);
  }

 private:
  TestConfigFile() {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = tmp && tmp[0] ? tmp : "/tmp";
    RemoveStale(dir);
    path_ = dir + "/qxcfg-" + std::to_string(getpid()) + "-XXXXXX";
    int fd = mkstemp(path_.data());
    if (fd >= 0) close(fd);
    owner_ = getpid();
  }
  static void RemoveStale(const std::string& dir) {
    DIR* d = opendir(dir.c_str());
    if (!d) return;
    while (dirent* e = readdir(d)) {
      int pid = 0;
      if (std::sscanf(e->d_name, "qxcfg-%d-", &pid) == 1 && pid > 0 && kill(pid, 0) != 0 && errno == ESRCH)
        unlink((dir + "/" + e->d_name).c_str());
    }
    closedir(d);
  }
  ~TestConfigFile() {
    if (getpid() == owner_) std::remove(path_.c_str());
  }
  std::string path_;
  pid_t owner_;
};

inline void CfgTestWrite(const char* key, const char* text) {
  TestConfigFile::Use();
  uChar k[256];
  size_t n = std::strlen(key);
  k[0] = uChar(n);
  std::memcpy(k + 1, key, n);
  ASSERT_EQ(CfgWriteRaw(k, text), kNoErr) << key;
}
inline void CfgTestSetValue(const char* key, const char* text) { CfgTestWrite(key, text); }
inline void CfgTestRemoveValue(const char* key) { CfgTestWrite(key, nullptr); }
inline void CfgTestClearValues() {
  TestConfigFile::Use();
  if (FILE* f = std::fopen(TestConfigFile::Name().c_str(), "w")) std::fclose(f);
}

