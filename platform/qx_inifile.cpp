#include "qx_inifile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "qx_charcase.h"
#include "qx_drives.h"
#include "qx_file.h"

namespace {

std::atomic<PlatIniFailHook> gFailHook{nullptr};
std::mutex gWriteLock;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) { return PlatSameNoCase(a.data(), a.size(), b.data(), b.size()); }

// "X:\..." or "\\server\share\..." names a file through the drive map.
bool IsSysText(const char* t) {
  if (t[0] == '\\' && t[1] == '\\') return true;
  char c = t[0];
  return ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) && t[1] == ':' && (t[2] == '\\' || t[2] == 0);
}

bool HostPathOf(const char* file, std::string* host) {
  if (!file || !file[0]) return false;
  if (IsSysText(file)) return PlatResolveSysText(file, host, nullptr) == 0;
  *host = file;
  return true;
}

// Reads a whole regular file: 0, or an errno value (ENOENT for a missing
// file).  The open never blocks, so a name that leads to a pipe or a device
// is refused at once instead of waiting for a writer.
int ReadAll(const std::string& host, std::string* out) {
  int fd;
  do {
    fd = open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    int e = fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : EIO;
    close(fd);
    return e;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  out->clear();
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      int e = errno;
      close(fd);
      return e;
    }
    if (n == 0) break;
    out->append(buf, size_t(n));
  }
  close(fd);
  return 0;
}

// One line of the file: its text runs from start to end; the line end (LF or
// CRLF, none on a last line without one) runs from end to next.
struct Line {
  size_t start, end, next;
};

enum LineKind { kOther, kSection, kKey };

struct Parsed {
  LineKind kind = kOther;
  std::string_view name;   // section or key name, trimmed
  size_t valueStart = 0;   // key lines: the first byte after "=" and its blanks
  std::string_view value;  // key lines: the trimmed value
};

std::vector<Line> SplitLines(const std::string& s) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < s.size()) {
    size_t nl = s.find('\n', pos);
    if (nl == std::string::npos) {
      lines.push_back({pos, s.size(), s.size()});
      break;
    }
    size_t end = (nl > pos && s[nl - 1] == '\r') ? nl - 1 : nl;
    lines.push_back({pos, end, nl + 1});
    pos = nl + 1;
  }
  return lines;
}

Parsed ParseLine(const std::string& s, const Line& l) {
  Parsed p;
  std::string_view text(s.data() + l.start, l.end - l.start);
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  if (i == text.size() || text[i] == ';') return p;
  if (text[i] == '[') {
    size_t close = text.find(']', i + 1);
    if (close == std::string_view::npos) return p;
    p.kind = kSection;
    p.name = Trim(text.substr(i + 1, close - i - 1));
    return p;
  }
  size_t eq = text.find('=', i);
  if (eq == std::string_view::npos) return p;
  p.kind = kKey;
  p.name = Trim(text.substr(i, eq - i));
  size_t v = eq + 1;
  while (v < text.size() && IsBlank(text[v])) ++v;
  p.valueStart = l.start + v;
  p.value = Trim(text.substr(v));
  return p;
}

bool HasLineBreak(const char* t) { return std::strpbrk(t, "\r\n") != nullptr; }

int32_t ErrnoResult(int e) {
  return (e == EACCES || e == EPERM || e == EROFS) ? kPlatIniAccessDenied : kPlatIniIOError;
}

// Follows symbolic links from host to the file they finally name (which may
// not exist yet).  0 or an errno value.
int LinkTarget(const std::string& host, std::string* target) {
  std::string cur = host;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (lstat(cur.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      *target = cur;
      return 0;
    }
    std::vector<char> buf(size_t(st.st_size > 0 ? st.st_size : 255) + 2);
    ssize_t n;
    for (;;) {
      n = readlink(cur.c_str(), buf.data(), buf.size());
      if (n < 0) return errno;
      if (size_t(n) < buf.size()) break;
      buf.resize(buf.size() * 2);
    }
    std::string link(buf.data(), size_t(n));
    if (link.empty()) return ENOENT;
    if (link[0] != '/') {
      size_t slash = cur.rfind('/');
      link = (slash == std::string::npos ? std::string() : cur.substr(0, slash + 1)) + link;
    }
    cur = link;
  }
  return ELOOP;
}

bool WriteAllFd(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += size_t(n);
  }
  return true;
}

// Replaces target by data through a temporary file in its folder.  0 or an
// errno value.
int ReplaceFile(const std::string& target, const std::string& data, bool existed, const struct stat& old) {
  size_t slash = target.rfind('/');
  std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string tmp = dir + "." + base + ".XXXXXX";
  int fd = mkostemp(tmp.data(), O_CLOEXEC);
  if (fd < 0) return errno;
  int err = 0;
  mode_t mode;
  if (existed) {
    mode = old.st_mode & 07777;
  } else {
    mode = mode_t(0666 & ~PlatGetUmask());
  }
  if (!WriteAllFd(fd, data)) err = errno ? errno : EIO;
  if (!err && fchmod(fd, mode) != 0) err = errno;
  if (!err && existed && (old.st_uid != geteuid() || old.st_gid != getegid())) {
    // Keep the owner where the host allows it; a refusal is no failure.
    if (fchown(fd, old.st_uid, old.st_gid) != 0) (void)0;
  }
  if (!err && fsync(fd) != 0) err = errno;
  if (close(fd) != 0 && !err) err = errno;
  if (!err && rename(tmp.c_str(), target.c_str()) != 0) err = errno;
  if (err) unlink(tmp.c_str());
  return err;
}

// The new content of the file, or false when nothing changes.
bool Edit(const std::string& s, std::string_view section, std::string_view key, const char* text,
          std::string* out) {
  std::vector<Line> lines = SplitLines(s);
  const char* eol = (!lines.empty() && lines[0].next - lines[0].end == 2) ? "\r\n" : "\n";
  bool inMatch = false, inFirst = false;
  long firstSection = -1, lastInFirst = -1, keyLine = -1;
  size_t keyValueStart = 0;
  std::vector<size_t> matches;
  for (size_t i = 0; i < lines.size(); ++i) {
    Parsed p = ParseLine(s, lines[i]);
    if (p.kind == kSection) {
      inMatch = SameName(p.name, section);
      inFirst = inMatch && firstSection < 0;
      if (inFirst) firstSection = lastInFirst = long(i);
      continue;
    }
    if (inFirst && !Trim(std::string_view(s.data() + lines[i].start, lines[i].end - lines[i].start)).empty())
      lastInFirst = long(i);
    if (inMatch && p.kind == kKey && SameName(p.name, key)) {
      matches.push_back(i);
      if (keyLine < 0) {
        keyLine = long(i);
        keyValueStart = p.valueStart;
      }
    }
  }
  if (!text) {
    if (matches.empty()) return false;
    out->clear();
    size_t from = 0;
    for (size_t m : matches) {
      out->append(s, from, lines[m].start - from);
      from = lines[m].next;
    }
    out->append(s, from, std::string::npos);
    return true;
  }
  if (keyLine >= 0) {
    const Line& l = lines[size_t(keyLine)];
    *out = s.substr(0, keyValueStart);
    out->append(text);
    out->append(s, l.end, std::string::npos);
    return *out != s;
  }
  std::string entry = std::string(key) + "=" + text + eol;
  if (firstSection >= 0) {
    const Line& l = lines[size_t(lastInFirst)];
    *out = s.substr(0, l.next);
    if (l.next == l.end) out->append(eol);
    out->append(entry);
    out->append(s, l.next, std::string::npos);
    return true;
  }
  *out = s;
  if (!out->empty() && out->back() != '\n') out->append(eol);
  out->append("[").append(section).append("]").append(eol).append(entry);
  return true;
}

bool BadName(const char* name, const char* forbidden) {
  if (!name) return true;
  std::string_view t = Trim(name);
  return t.empty() || HasLineBreak(name) || std::strpbrk(name, forbidden) != nullptr;
}

}  // namespace

int32_t PlatIniRead(const char* file, const char* section, const char* key, const char* def, char* buf,
                    int32_t size, int64_t* fullLength) {
  if (fullLength) *fullLength = 0;
  if (!buf || size <= 0) return 0;
  std::string_view value = def ? std::string_view(def) : std::string_view();
  std::string host, content;
  try {
    if (section && key && HostPathOf(file, &host) && ReadAll(host, &content) == 0) {
      std::string_view sec = Trim(section), k = Trim(key);
      bool inMatch = false;
      for (const Line& l : SplitLines(content)) {
        Parsed p = ParseLine(content, l);
        if (p.kind == kSection) {
          inMatch = SameName(p.name, sec);
        } else if (inMatch && p.kind == kKey && SameName(p.name, k)) {
          value = p.value;
          break;
        }
      }
    }
  } catch (const std::bad_alloc&) {
    // Too large to read: as if absent.
  }
  size_t nul = value.find('\0');
  if (nul != std::string_view::npos) value = value.substr(0, nul);
  if (fullLength) *fullLength = int64_t(value.size());
  size_t n = value.size() < size_t(size - 1) ? value.size() : size_t(size - 1);
  if (n) std::memcpy(buf, value.data(), n);
  buf[n] = 0;
  return int32_t(n);
}

namespace {

// Rewrites the file through edit (false: nothing changes) under the write
// lock, through the fail hook, keeping its mode and owner.
template <typename EditProc>
int32_t Rewrite(const std::string& host, EditProc edit) {
  std::lock_guard<std::mutex> g(gWriteLock);
  try {
    std::string target;
    if (int e = LinkTarget(host, &target)) return ErrnoResult(e);
    if (PlatIniFailHook hook = gFailHook.load())
      if (int e = hook(target.c_str())) return ErrnoResult(e);
    std::string content, updated;
    struct stat old;
    bool existed = stat(target.c_str(), &old) == 0;
    int e = ReadAll(target, &content);
    if (e == ENOENT) {
      existed = false;
      content.clear();
    } else if (e) {
      return ErrnoResult(e);
    }
    if (!edit(content, &updated)) return kPlatIniOk;
    if (int w = ReplaceFile(target, updated, existed, old)) return ErrnoResult(w);
  } catch (const std::bad_alloc&) {
    return kPlatIniIOError;
  }
  return kPlatIniOk;
}

}  // namespace

int32_t PlatIniWrite(const char* file, const char* section, const char* key, const char* text) {
  if (BadName(section, "]") || BadName(key, "=")) return kPlatIniBadArg;
  std::string_view k = Trim(key);
  if (k[0] == '[' || k[0] == ';') return kPlatIniBadArg;
  if (text && HasLineBreak(text)) return kPlatIniBadArg;
  std::string host;
  if (!HostPathOf(file, &host)) return kPlatIniBadArg;
  const std::string_view sec = Trim(section);
  return Rewrite(host, [&](const std::string& s, std::string* out) { return Edit(s, sec, k, text, out); });
}

int32_t PlatIniSections(const char* file, std::vector<std::string>* names) {
  if (!names) return kPlatIniBadArg;
  names->clear();
  std::string host, content;
  if (!HostPathOf(file, &host)) return kPlatIniBadArg;
  try {
    if (int e = ReadAll(host, &content)) return e == ENOENT ? kPlatIniOk : ErrnoResult(e);
    for (const Line& l : SplitLines(content)) {
      Parsed p = ParseLine(content, l);
      if (p.kind != kSection) continue;
      bool seen = false;
      for (const std::string& n : *names) seen = seen || SameName(n, p.name);
      if (!seen) names->emplace_back(p.name);
    }
  } catch (const std::bad_alloc&) {
    names->clear();
    return kPlatIniIOError;
  }
  return kPlatIniOk;
}

int32_t PlatIniAddSection(const char* file, const char* section) {
  if (BadName(section, "]")) return kPlatIniBadArg;
  std::string host;
  if (!HostPathOf(file, &host)) return kPlatIniBadArg;
  const std::string_view sec = Trim(section);
  return Rewrite(host, [&](const std::string& s, std::string* out) {
    std::vector<Line> lines = SplitLines(s);
    for (const Line& l : lines)
      if (Parsed p = ParseLine(s, l); p.kind == kSection && SameName(p.name, sec)) return false;
    const char* eol = (!lines.empty() && lines[0].next - lines[0].end == 2) ? "\r\n" : "\n";
    *out = s;
    if (!out->empty() && out->back() != '\n') out->append(eol);
    out->append("[").append(sec).append("]").append(eol);
    return true;
  });
}

int32_t PlatIniDeleteSection(const char* file, const char* section) {
  if (BadName(section, "]")) return kPlatIniBadArg;
  std::string host;
  if (!HostPathOf(file, &host)) return kPlatIniBadArg;
  const std::string_view sec = Trim(section);
  return Rewrite(host, [&](const std::string& s, std::string* out) {
    bool inMatch = false, changed = false;
    out->clear();
    for (const Line& l : SplitLines(s)) {
      if (Parsed p = ParseLine(s, l); p.kind == kSection) inMatch = SameName(p.name, sec);
      if (inMatch) changed = true;
      else out->append(s, l.start, l.next - l.start);
    }
    return changed;
  });
}

PlatIniFailHook PlatIniSetFailHook(PlatIniFailHook hook) { return gFailHook.exchange(hook); }
