#include "platform/qx_registry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "platform/qx_charcase.h"
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

std::string Section(const std::string& path) {
  std::string s = kRootName;
  if (!path.empty()) s.append(1, '\\').append(path);
  return s;
}

int32_t FromIni(int32_t r) {
  return r == kPlatIniOk ? kPlatRegOk : r == kPlatIniAccessDenied ? kPlatRegAccessDenied : r == kPlatIniBadArg ? kPlatRegBadKey : kPlatRegIOError;
}

PlatRegKey NewHandle(const std::string& path) {
  std::lock_guard<std::mutex> g(gMu);
  const PlatRegKey key = gNext++;
  gKeys[key] = path;
  return key;
}

bool SameText(const std::string& a, size_t at, const std::string& b) {
  return a.size() >= at + b.size() && PlatSameNoCase(a.data() + at, b.size(), b.data(), b.size());
}

// The names of the key's direct sub-keys in the order of the file, each
// once: the next component of every section below it.
int32_t Children(const std::string& file, const std::string& path, std::vector<std::string>* names) {
  names->clear();
  std::vector<std::string> sections;
  if (int32_t r = PlatIniSections(file.c_str(), &sections)) return FromIni(r);
  const std::string prefix = Section(path) + "\\";
  for (const std::string& s : sections) {
    if (s.size() <= prefix.size() || !SameText(s, 0, prefix)) continue;
    const size_t end = s.find('\\', prefix.size());
    const std::string child = s.substr(prefix.size(), end == std::string::npos ? std::string::npos : end - prefix.size());
    if (child.empty()) continue;
    bool seen = false;
    for (const std::string& n : *names) seen = seen || (n.size() == child.size() && SameText(n, 0, child));
    if (!seen) names->push_back(child);
  }
  return kPlatRegOk;
}

// Whether the key's section, or a section below it, exists.
int32_t Exists(const std::string& file, const std::string& path, bool* exists, bool* ownSection) {
  *exists = path.empty();
  if (ownSection) *ownSection = false;
  std::vector<std::string> sections;
  if (int32_t r = PlatIniSections(file.c_str(), &sections)) return FromIni(r);
  const std::string own = Section(path);
  for (const std::string& s : sections) {
    if (s.size() == own.size() && SameText(s, 0, own)) {
      *exists = true;
      if (ownSection) *ownSection = true;
    } else if (s.size() > own.size() && s[own.size()] == '\\' && SameText(s, 0, own)) {
      *exists = true;
    }
  }
  return kPlatRegOk;
}

std::string Quoted(const char* text) { return "\"" + std::string(text) + "\""; }

int32_t ReadValue(const std::string& file, const std::string& path, const char* name, char* out, int32_t size) {
  int64_t full = 0;
  std::vector<char> buf(4096);
  PlatIniRead(file.c_str(), Section(path).c_str(), name, "", buf.data(), int32_t(buf.size()), &full);
  if (full >= int64_t(buf.size())) {
    buf.resize(size_t(full) + 1);
    PlatIniRead(file.c_str(), Section(path).c_str(), name, "", buf.data(), int32_t(buf.size()));
  }
  std::string v(buf.data());
  if (v.size() < 2 || v.front() != '"' || v.back() != '"') return kPlatRegNotFound;
  v = v.substr(1, v.size() - 2);
  const size_t n = std::min(v.size(), size_t(size - 1));
  std::memcpy(out, v.data(), n);
  out[n] = 0;
  return kPlatRegOk;
}

bool BadValueName(const char* name) { return name && *name && std::strcmp(name, kValueName) == 0; }

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

int32_t PlatRegOpenKey(PlatRegKey parent, const char* subKey, PlatRegKey* out) {
  std::string path, file;
  if (!out || !KeyPath(parent, subKey, &path)) return kPlatRegBadKey;
  if (!PlatRegistryFile(&file)) return kPlatRegIOError;
  bool exists = false;
  if (int32_t r = Exists(file, path, &exists, nullptr)) return r;
  if (!exists) return kPlatRegNotFound;
  *out = NewHandle(path);
  return kPlatRegOk;
}

int32_t PlatRegCreateKey(PlatRegKey parent, const char* subKey, PlatRegKey* out) {
  std::string path, file;
  if (!out || !KeyPath(parent, subKey, &path)) return kPlatRegBadKey;
  if (!PlatRegistryFile(&file)) return kPlatRegIOError;
  bool exists = false;
  if (int32_t r = Exists(file, path, &exists, nullptr)) return r;
  if (!exists)
    if (int32_t r = FromIni(PlatIniAddSection(file.c_str(), Section(path).c_str()))) return r;
  *out = NewHandle(path);
  return kPlatRegOk;
}

int32_t PlatRegSetValue(PlatRegKey key, const char* subKey, const char* text) {
  std::string path, file;
  if (!text || !KeyPath(key, subKey, &path)) return kPlatRegBadKey;
  if (!PlatRegistryFile(&file)) return kPlatRegIOError;
  return FromIni(PlatIniWrite(file.c_str(), Section(path).c_str(), kValueName, Quoted(text).c_str()));
}

int32_t PlatRegQueryValue(PlatRegKey key, const char* subKey, char* out, int32_t size) {
  std::string path, file;
  if (!out || size <= 0 || !KeyPath(key, subKey, &path)) return kPlatRegBadKey;
  if (!PlatRegistryFile(&file)) return kPlatRegIOError;
  return ReadValue(file, path, kValueName, out, size);
}

int32_t PlatRegSetNamedValue(PlatRegKey key, const char* name, const char* text) {
  std::string path, file;
  if (!text || BadValueName(name) || !KeyPath(key, nullptr, &path)) return kPlatRegBadKey;
  if (!PlatRegistryFile(&file)) return kPlatRegIOError;
  return FromIni(
      PlatIniWrite(file.c_str(), Section(path).c_str(), name && *name ? name : kValueName, Quoted(text).c_str()));
}

int32_t PlatRegQueryNamedValue(PlatRegKey key, const char* name, char* out, int32_t size) {
  std::string path, file;
  if (!out || size <= 0 || BadValueName(name) || !KeyPath(key, nullptr, &path)) return kPlatRegBadKey;
  if (!PlatRegistryFile(&file)) return kPlatRegIOError;
  return ReadValue(file, path, name && *name ? name : kValueName, out, size);
}

int32_t PlatRegEnumKey(PlatRegKey key, uint32_t index, char* name, int32_t size) {
  std::string path, file;
  if (!name || size <= 0 || !KeyPath(key, nullptr, &path)) return kPlatRegBadKey;
  if (!PlatRegistryFile(&file)) return kPlatRegIOError;
  std::vector<std::string> children;
  if (int32_t r = Children(file, path, &children)) return r;
  if (index >= children.size()) return kPlatRegNoMoreItems;
  const std::string& n = children[index];
  if (n.size() + 1 > size_t(size)) return kPlatRegMoreData;
  std::memcpy(name, n.c_str(), n.size() + 1);
  return kPlatRegOk;
}

int32_t PlatRegDeleteKey(PlatRegKey parent, const char* subKey) {
  std::string path, file;
  if (!subKey || !*subKey || !KeyPath(parent, subKey, &path)) return kPlatRegBadKey;
  if (!PlatRegistryFile(&file)) return kPlatRegIOError;
  bool exists = false, own = false;
  if (int32_t r = Exists(file, path, &exists, &own)) return r;
  if (!exists) return kPlatRegNotFound;
  std::vector<std::string> children;
  if (int32_t r = Children(file, path, &children)) return r;
  if (!children.empty()) return kPlatRegAccessDenied;
  return FromIni(PlatIniDeleteSection(file.c_str(), Section(path).c_str()));
}

int32_t PlatRegCloseKey(PlatRegKey key) {
  std::lock_guard<std::mutex> g(gMu);
  return gKeys.erase(key) ? kPlatRegOk : kPlatRegBadKey;
}
