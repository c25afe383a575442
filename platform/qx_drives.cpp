#include "qx_drives.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "qx_charcase.h"

namespace {

struct Drive {
  std::string root;  // empty: not mapped
  int32_t kind = kPlatDriveNone;
};

struct Share {
  std::string key;   // "\\SERVER\SHARE" in upper case
  std::string name;  // as given
  std::string root;
};

struct DriveTable {
  Drive drives[26];
  std::vector<Share> shares;
};

std::mutex gLock;
bool gLoaded = false;
DriveTable gTable;

std::string Upper(const std::string& s) {
  std::string u(s);
  for (char& c : u) c = char(PlatCharUpper(uint8_t(c)));
  return u;
}

bool EqualNoCase(const char* a, size_t na, const char* b, size_t nb) {
  if (na != nb) return false;
  for (size_t i = 0; i < na; ++i)
    if (PlatCharUpper(uint8_t(a[i])) != PlatCharUpper(uint8_t(b[i]))) return false;
  return true;
}

// A host folder as kept in the table: absolute, without trailing slashes
// (the root stays "/").
bool CleanRoot(const char* folder, std::string* out) {
  if (!folder || folder[0] != '/') return false;
  std::string r(folder);
  while (r.size() > 1 && r.back() == '/') r.pop_back();
  *out = r;
  return true;
}

int32_t KindFromWord(const std::string& w) {
  if (w == "fixed") return kPlatDriveFixed;
  if (w == "removable") return kPlatDriveRemovable;
  if (w == "remote") return kPlatDriveRemote;
  if (w == "cdrom") return kPlatDriveCDROM;
  if (w == "ram") return kPlatDriveRAM;
  return kPlatDriveNone;
}

// "\\server\share" with both parts non-empty and no further backslash.
bool ValidShareName(const std::string& s) {
  if (s.size() < 5 || s[0] != '\\' || s[1] != '\\') return false;
  size_t sep = s.find('\\', 2);
  if (sep == std::string::npos || sep == 2 || sep + 1 >= s.size()) return false;
  return s.find('\\', sep + 1) == std::string::npos;
}

void SetShareLocked(const std::string& name, const std::string& root) {
  std::string key = Upper(name);
  for (size_t i = 0; i < gTable.shares.size(); ++i) {
    if (gTable.shares[i].key == key) {
      if (root.empty())
        gTable.shares.erase(gTable.shares.begin() + long(i));
      else
        gTable.shares[i].root = root;
      return;
    }
  }
  if (!root.empty()) gTable.shares.push_back(Share{key, name, root});
}

void ParseEnvironment() {
  const char* env = std::getenv("QUENLIX_DRIVES");
  if (!env) return;
  std::string all(env);
  size_t pos = 0;
  while (pos <= all.size()) {
    size_t end = all.find(';', pos);
    if (end == std::string::npos) end = all.size();
    std::string item = all.substr(pos, end - pos);
    pos = end + 1;
    size_t eq = item.find('=');
    if (eq == std::string::npos) continue;
    std::string key = item.substr(0, eq);
    std::string folder = item.substr(eq + 1);
    int32_t kind = kPlatDriveNone;
    size_t colon = folder.rfind(':');
    if (colon != std::string::npos) {
      int32_t k = KindFromWord(folder.substr(colon + 1));
      if (k != kPlatDriveNone) {
        kind = k;
        folder.resize(colon);
      }
    }
    std::string root;
    if (!CleanRoot(folder.c_str(), &root)) continue;
    if (key.size() == 1 && std::isalpha(uint8_t(key[0]))) {
      Drive& d = gTable.drives[PlatCharUpper(uint8_t(key[0])) - 'A'];
      d.root = root;
      d.kind = kind == kPlatDriveNone ? kPlatDriveFixed : kind;
    } else if (ValidShareName(key)) {
      SetShareLocked(key, root);
    }
  }
}

void LoadLocked() {
  if (gLoaded) return;
  gTable = DriveTable();
  gTable.drives['C' - 'A'].root = "/";
  gTable.drives['C' - 'A'].kind = kPlatDriveFixed;
  ParseEnvironment();
  gLoaded = true;
}

DriveTable Snapshot() {
  std::lock_guard<std::mutex> g(gLock);
  LoadLocked();
  return gTable;
}

int LetterIndex(char letter) {
  uint8_t u = PlatCharUpper(uint8_t(letter));
  return (u >= 'A' && u <= 'Z') ? u - 'A' : -1;
}

// Splits a volume text into its root and the text after it.  Returns the
// drive index (0-25), 26 + share index, or -1 when there is no known volume.
int FindVolume(const DriveTable& t, const char* text, const char** rest) {
  size_t n = std::strlen(text);
  if (n >= 2 && text[1] == ':') {
    int i = LetterIndex(text[0]);
    if (i < 0 || t.drives[i].root.empty()) return -1;
    *rest = text + 2;
    return i;
  }
  if (n >= 2 && text[0] == '\\' && text[1] == '\\') {
    const char* server = text + 2;
    const char* sep = std::strchr(server, '\\');
    if (!sep || sep == server) return -1;
    const char* share = sep + 1;
    const char* end = std::strchr(share, '\\');
    if (!end) end = text + n;
    if (end == share) return -1;
    for (size_t s = 0; s < t.shares.size(); ++s) {
      const std::string& k = t.shares[s].key;
      if (EqualNoCase(k.data(), k.size(), text, size_t(end - text))) {
        *rest = end;
        return 26 + int(s);
      }
    }
  }
  return -1;
}

const std::string& RootOf(const DriveTable& t, int v) {
  return v < 26 ? t.drives[v].root : t.shares[size_t(v - 26)].root;
}

std::string Join(const std::string& dir, const std::string& name) {
  if (dir == "/") return "/" + name;
  return dir + "/" + name;
}

// The name of dir's entry that equals name without regard to case, or name
// itself when there is none.
std::string MatchInFolder(const std::string& dir, const std::string& name) {
  DIR* d = opendir(dir.c_str());
  if (!d) return name;
  std::string found = name;
  while (struct dirent* e = readdir(d)) {
    size_t len = std::strlen(e->d_name);
    if (EqualNoCase(e->d_name, len, name.data(), name.size())) {
      found.assign(e->d_name, len);
      break;
    }
  }
  closedir(d);
  return found;
}

}  // namespace

int32_t PlatDriveMap(char letter, const char* hostFolder, int32_t kind) {
  int i = LetterIndex(letter);
  if (i < 0 || kind < kPlatDriveNone || kind > kPlatDriveRAM) return 87;
  std::string root;
  if (hostFolder && hostFolder[0] && !CleanRoot(hostFolder, &root)) return 87;
  std::lock_guard<std::mutex> g(gLock);
  LoadLocked();
  gTable.drives[i].root = root;
  gTable.drives[i].kind = root.empty() ? kPlatDriveNone : (kind == kPlatDriveNone ? kPlatDriveFixed : kind);
  return 0;
}

int32_t PlatShareMap(const char* share, const char* hostFolder) {
  if (!share || !ValidShareName(share)) return 87;
  std::string root;
  if (hostFolder && hostFolder[0] && !CleanRoot(hostFolder, &root)) return 87;
  std::lock_guard<std::mutex> g(gLock);
  LoadLocked();
  SetShareLocked(share, root);
  return 0;
}

void PlatDrivesReset() {
  std::lock_guard<std::mutex> g(gLock);
  gLoaded = false;
  LoadLocked();
}

uint32_t PlatDriveMask() {
  DriveTable t = Snapshot();
  uint32_t mask = 0;
  for (int i = 0; i < 26; ++i)
    if (!t.drives[i].root.empty()) mask |= 1u << i;
  return mask;
}

int32_t PlatDriveKindOf(char letter) {
  int i = LetterIndex(letter);
  if (i < 0) return kPlatDriveNone;
  std::lock_guard<std::mutex> g(gLock);
  LoadLocked();
  return gTable.drives[i].root.empty() ? kPlatDriveNone : gTable.drives[i].kind;
}

int32_t PlatVolumeKind(const char* rootText) {
  if (!rootText) return kPlatDriveNone;
  DriveTable t = Snapshot();
  const char* rest = nullptr;
  int v = FindVolume(t, rootText, &rest);
  if (v < 0) return kPlatDriveNone;
  if (*rest && !(rest[0] == '\\' && rest[1] == 0)) return kPlatDriveNone;
  return v < 26 ? t.drives[v].kind : kPlatDriveRemote;
}

bool PlatVolumeHostRoot(const char* rootText, std::string* hostRoot) {
  if (!rootText) return false;
  DriveTable t = Snapshot();
  const char* rest = nullptr;
  int v = FindVolume(t, rootText, &rest);
  if (v < 0) return false;
  if (*rest && !(rest[0] == '\\' && rest[1] == 0)) return false;
  if (hostRoot) *hostRoot = RootOf(t, v);
  return true;
}

bool PlatHostToSysText(const char* hostPath, std::string* text) {
  if (!hostPath || hostPath[0] != '/') return false;
  DriveTable t = Snapshot();
  std::string host(hostPath);
  int best = -1;
  size_t bestLen = 0;
  auto consider = [&](int v, const std::string& root) {
    if (root.empty()) return;
    bool under = root == "/" || host == root || (host.compare(0, root.size(), root) == 0 && host[root.size()] == '/');
    if (!under) return;
    if (best < 0 || root.size() > bestLen) {
      best = v;
      bestLen = root.size();
    }
  };
  for (int i = 0; i < 26; ++i) consider(i, t.drives[i].root);
  for (size_t s = 0; s < t.shares.size(); ++s) consider(26 + int(s), t.shares[s].root);
  if (best < 0) return false;
  std::string out;
  if (best < 26) {
    out += char('A' + best);
    out += ":";
  } else {
    out = t.shares[size_t(best - 26)].name;
  }
  std::string rest = RootOf(t, best) == "/" ? host : host.substr(bestLen);
  size_t pos = 0;
  bool any = false;
  while (pos < rest.size()) {
    size_t end = rest.find('/', pos);
    if (end == std::string::npos) end = rest.size();
    if (end > pos) {
      out += '\\';
      out.append(rest, pos, end - pos);
      any = true;
    }
    pos = end + 1;
  }
  if (!any && best < 26) out += '\\';
  *text = out;
  return true;
}

char PlatCurrentDrive() {
  char buf[4096];
  if (!getcwd(buf, sizeof buf)) return 'C';
  std::string text;
  if (!PlatHostToSysText(buf, &text) || text.size() < 2 || text[1] != ':') return 'C';
  return text[0];
}

int32_t PlatResolveSysText(const char* text, std::string* hostPath, bool* isRoot) {
  if (isRoot) *isRoot = false;
  if (!text) return 87;
  DriveTable t = Snapshot();
  const char* rest = nullptr;
  int v = FindVolume(t, text, &rest);
  if (v < 0) return 3;
  const std::string root = RootOf(t, v);
  // Components after the volume, "." dropped and ".." stepping back no
  // further than the root.
  std::vector<std::string> parts;
  const char* p = rest;
  while (*p) {
    while (*p == '\\') ++p;
    const char* start = p;
    while (*p && *p != '\\') ++p;
    size_t len = size_t(p - start);
    if (len == 0) continue;
    std::string comp(start, len);
    if (comp == ".") continue;
    if (comp == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    if (len > 255 || comp.find('/') != std::string::npos) return 123;
    parts.push_back(comp);
  }
  std::string cur = root;
  for (const std::string& comp : parts) {
    std::string exact = Join(cur, comp);
    struct stat st;
    if (lstat(exact.c_str(), &st) == 0)
      cur = exact;
    else
      cur = Join(cur, MatchInFolder(cur, comp));
  }
  *hostPath = cur;
  if (isRoot) *isRoot = parts.empty();
  return 0;
}
