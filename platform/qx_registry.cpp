#include "platform/qx_registry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "platform/qx_inifile.h"

namespace {

constexpr const char* kRootName = "HKEY_CLASSES_ROOT";
constexpr const char* kValueName = "@";

std::mutex gMu;
std::map<PlatRegKey, std::string> gKeys;  // open keys by their path below the root
PlatRegKey gNext = 1;

bool MakeFolders(const std::string& dir) {
  for (size_t at = 1; at <= dir.size(); ++at) {
    if (at < dir.size() && dir[at] != '/') continue;
    const std::string part = dir.substr(0, at);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

// The key's path below the root, false for a key that is not open.
bool KeyPath(PlatRegKey key, const char* subKey, std::string* path) {
  std::string base;
  if (key != kPlatRegClassesRoot) {
    std::lock_guard<std::mutex> g(gMu);
    auto it = gKeys.find(key);
    if (it == gKeys.end()) return false;
    base = it->second;
  }
  if (subKey && *subKey) base = base.empty() ? std::string(subKey) : base + "\\" + subKey;
  *path = base;
  return true;
}

std::string Section(const std::string& path) { return path.empty() ? kRootName : std::string(kRootName) + "\\" + path; }

int32_t FromIni(int32_t r) {
  return r == kPlatIniOk ? kPlatRegOk : r == kPlatIniAccessDenied ? kPlatRegAccessDenied : r == kPlatIniBadArg ? kPlatRegBadKey : kPlatRegIOError;
}

}  // namespace

bool PlatRegistryFile(std::string* hostPath) {
  std::string file;
  if (const char* own = std::getenv("QX_REGISTRY_FILE"); own && *own) {
    file = own;
  } else {
    std::string dir;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') dir = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home == '/') dir = std::string(home) + "/.config";
    else return false;
    dir += "/quenlix";
    if (!MakeFolders(dir)) return false;
    file = dir + "/registry.ini";
  }
  if (hostPath) *hostPath = file;
  return true;
}

int32_t PlatRegCreateKey(PlatRegKey parent, const char* subKey, PlatRegKey* out) {
  std::string path, file;
  if (!out || !KeyPath(parent, subKey, &path)) return kPlatRegBadKey;
  if (!PlatRegistryFile(&file)) return kPlatRegIOError;
  // A file this user cannot write holds no new key.
  if (access(file.c_str(), F_OK) == 0 && access(file.c_str(), W_OK) != 0) return kPlatRegAccessDenied;
  std::lock_guard<std::mutex> g(gMu);
  const PlatRegKey key = gNext++;
  gKeys[key] = path;
  *out = key;
  return kPlatRegOk;
}

int32_t PlatRegSetValue(PlatRegKey key, const char* subKey, const char* text) {
  std::string path, file;
  if (!text || !KeyPath(key, subKey, &path)) return kPlatRegBadKey;
  if (!PlatRegistryFile(&file)) return kPlatRegIOError;
  return FromIni(PlatIniWrite(file.c_str(), Section(path).c_str(), kValueName, ("\"" + std::string(text) + "\"").c_str()));
}

int32_t PlatRegQueryValue(PlatRegKey key, const char* subKey, char* out, int32_t size) {
  std::string path, file;
  if (!out || size <= 0 || !KeyPath(key, subKey, &path)) return kPlatRegBadKey;
  if (!PlatRegistryFile(&file)) return kPlatRegIOError;
  int64_t full = 0;
  std::vector<char> buf(4096);
  PlatIniRead(file.c_str(), Section(path).c_str(), kValueName, "", buf.data(), int32_t(buf.size()), &full);
  if (full >= int64_t(buf.size())) {
    buf.resize(size_t(full) + 1);
    PlatIniRead(file.c_str(), Section(path).c_str(), kValueName, "", buf.data(), int32_t(buf.size()));
  }
  std::string v(buf.data());
  if (v.size() < 2 || v.front() != '"' || v.back() != '"') return 2;
  v = v.substr(1, v.size() - 2);
  const size_t n = std::min(v.size(), size_t(size - 1));
  std::memcpy(out, v.data(), n);
  out[n] = 0;
  return kPlatRegOk;
}

int32_t PlatRegCloseKey(PlatRegKey key) {
  std::lock_guard<std::mutex> g(gMu);
  return gKeys.erase(key) ? kPlatRegOk : kPlatRegBadKey;
}
