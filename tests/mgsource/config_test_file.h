// A configuration file of the test process's own, for tests that set keys.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mgsource/config.h"
#include "mgsource/config_internal.h"

// A configuration file of the test process's own, chosen with "-pref" and
// removed when the process that made it ends.  Keys are written to it as the
// raw text of their values.
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
    const char* dir = std::getenv("TMPDIR");
    path_ = std::string(dir && dir[0] ? dir : "/tmp") + "/qxcfgXXXXXX";
    int fd = mkstemp(path_.data());
    if (fd >= 0) close(fd);
    owner_ = getpid();
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

