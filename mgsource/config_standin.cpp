// Until the configuration file is built, keys come only from values that tests
// set; every other key is absent (20).
#include "config.h"
#include "config_standin.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <strings.h>

namespace {
std::mutex gLock;
std::map<std::string, std::string>& Values() {
  static std::map<std::string, std::string> v;
  return v;
}
}  // namespace

void CfgTestSetValue(const char* key, const char* text) {
  std::lock_guard<std::mutex> g(gLock);
  Values()[key] = text ? text : "";
}

void CfgTestRemoveValue(const char* key) {
  std::lock_guard<std::mutex> g(gLock);
  Values().erase(key);
}

void CfgTestClearValues() {
  std::lock_guard<std::mutex> g(gLock);
  Values().clear();
}

MgErr CfgGetDefault(int32 kind, ConstPStr key, void* value) {
  if (kind < 0 || kind > 9) return kCfgBadTypeErr;
  if (!key || !value) return kArgErr;
  std::string k(reinterpret_cast<const char*>(key + 1), key[0]);
  std::string text;
  {
    std::lock_guard<std::mutex> g(gLock);
    auto it = Values().find(k);
    if (it == Values().end() || it->second.empty()) return kCfgTokenNotFoundErr;
    text = it->second;
  }
  switch (kind) {
    case kCfgBool: {
      const char* t = text.c_str();
      int32 v;
      if (!strcasecmp(t, "true") || !strcasecmp(t, "yes") || !strcasecmp(t, "on")) v = 1;
      else if (!strcasecmp(t, "false") || !strcasecmp(t, "no") || !strcasecmp(t, "off")) v = 0;
      else return kCfgParseErr;
      *static_cast<int32*>(value) = v;
      return kNoErr;
    }
    case kCfgInt: {
      char* end = nullptr;
      long v = std::strtol(text.c_str(), &end, 10);
      if (end == text.c_str()) return kCfgParseErr;
      *static_cast<int32*>(value) = int32(v);
      return kNoErr;
    }
    case kCfgNumber: {
      char* end = nullptr;
      float v = std::strtof(text.c_str(), &end);
      if (end == text.c_str()) return kCfgParseErr;
      *static_cast<float32*>(value) = v;
      return kNoErr;
    }
    default:
      return kCfgTokenNotFoundErr;
  }
}
