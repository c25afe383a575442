#include "server/access.h"

#include <cctype>
#include <cstdint>
#include <mutex>
#include <new>
#include <string>

#include "io/netconn.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/printf.h"
#include "server/appserve.h"
#include "server/srvstart.h"

namespace {

// Labels of letters, digits and "-", separated by "."; the last holds a
// letter or "-".
bool ValidName(const std::string& s) {
  if (s.empty()) return false;
  size_t start = 0;
  bool lastHasNonDigit = false;
  for (size_t i = 0; i <= s.size(); ++i) {
    if (i == s.size() || s[i] == '.') {
      if (i == start) return false;
      start = i + 1;
      if (i < s.size()) lastHasNonDigit = false;
      continue;
    }
    const uChar c = uChar(s[i]);
    if (!std::isalnum(c) && c != '-') return false;
    if (!std::isdigit(c)) lastHasNonDigit = true;
  }
  return lastHasNonDigit;
}

// The kind of a TCP pattern (lower case), with its address and mask.
int32 TcpKind(const std::string& p, uInt32* address, uInt32* mask) {
  if (p == "*") return kAccessAll;
  if (p.find_first_not_of("0123456789.*") == std::string::npos && p[0] != '*') {
    uInt32 addr = 0, m = 0;
    int32 numbers = 0;
    size_t i = 0;
    while (true) {
      if (i < p.size() && p[i] == '*') {
        if (i + 1 != p.size() || numbers == 0 || numbers >= 4) return kAccessSyntaxError;
        const int32 shift = 8 * (4 - numbers);
        *address = addr << shift;
        *mask = m << shift;
        return kAccessPrefix;
      }
      size_t j = i;
      uInt32 v = 0;
      while (j < p.size() && std::isdigit(uChar(p[j])) && j - i < 4) v = v * 10 + uInt32(p[j++] - '0');
      if (j == i || v > 255 || (j < p.size() && std::isdigit(uChar(p[j])))) return kAccessSyntaxError;
      addr = (addr << 8) | v;
      m = (m << 8) | 0xFF;
      ++numbers;
      if (j == p.size()) {
        if (numbers != 4) return kAccessSyntaxError;
        *address = addr;
        *mask = m;
        return kAccessExact;
      }
      if (p[j] != '.' || numbers == 4) return kAccessSyntaxError;
      i = j + 1;
    }
  }
  if (p[0] == '*') return p.size() > 2 && p[1] == '.' && ValidName(p.substr(2)) ? kAccessDomainOrWildPath
                                                                                 : kAccessSyntaxError;
  return ValidName(p) ? kAccessNameOrPath : kAccessSyntaxError;
}

uInt32 ToNetwork(uInt32 v) {
  const uChar b[4] = {uChar(v >> 24), uChar(v >> 16), uChar(v >> 8), uChar(v)};
  uInt32 out;
  __builtin_memcpy(&out, b, 4);
  return out;
}
uInt32 ToHost(uInt32 v) {
  uChar b[4];
  __builtin_memcpy(b, &v, 4);
  return (uInt32(b[0]) << 24) | (uInt32(b[1]) << 16) | (uInt32(b[2]) << 8) | b[3];
}

// The sign and the pattern, or false for a text without both.
bool Split(ConstPStr text, bool* allow, std::string* pattern) {
  if (!text || text[0] < 2 || (text[1] != '+' && text[1] != '-')) return false;
  *allow = text[1] == '+';
  pattern->assign(reinterpret_cast<const char*>(text + 2), size_t(text[0] - 1));
  return true;
}

int32 WithAllow(int32 kind, bool allow) {
  return kind | (allow && kind != kAccessSyntaxError ? kAccessAllowFlag : 0);
}

// The table text of an entry: the pattern as entered, or the whole text of
// an entry with a syntax error.
void TableText(ConstPStr text, int32 flags, uChar out[256]) {
  out[0] = 0;
  if (!text || text[0] == 0) return;
  const bool whole = (flags & kAccessKindMask) == kAccessSyntaxError;
  const int32 from = whole ? 1 : 2;
  const int32 n = whole ? text[0] : text[0] - 1;
  out[0] = uChar(n);
  __builtin_memcpy(out + 1, text + from, size_t(n));
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; }

// ---- The tables -------------------------------------------------------------------
// What a TCP check compares for each entry, packed close together: the
// client matches when (client AND mask) equals address.  Every host ("*")
// has mask 0 and address 0; entries that need more than a compare (syntax
// errors, host names, domains) too, which every client meets, and the flag
// kNeedsLookup, which sends the check to the entry itself.
struct TcpCompare {
  uInt32 address;
  uInt32 mask;
  int32 flags;
};
constexpr int32 kNeedsLookup = 0x40000000;

// A published table: an application-zone handle holding the entry count and
// the entries, the TCP table's compares, and the number of holders (the
// table slot and each check running over it).  The count changes under
// gLock only.
struct HeldTable {
  int32 holders;
  UHandle table;
  TcpCompare* compares;
};

std::mutex gLock;  // guards the two slots, the holders counts and the two lists
HeldTable* gTcpTable = nullptr;
HeldTable* gViTable = nullptr;
CPStrHandle gTcpList = nullptr;
CPStrHandle gViList = nullptr;
AccessStatusProc gStatus = nullptr;

HeldTable* Acquire(HeldTable* const* slot) {
  std::lock_guard<std::mutex> g(gLock);
  HeldTable* t = *slot;
  if (t) ++t->holders;
  return t;
}

void Release(HeldTable* t) {
  if (!t) return;
  bool last;
  {
    std::lock_guard<std::mutex> g(gLock);
    last = --t->holders == 0;
  }
  if (!last) return;
  AZDisposeHandle(t->table);
  delete[] t->compares;
  delete t;
}

// Publishes the table (null: none) and the list copy in place of the old.
void Publish(HeldTable** slot, CPStrHandle* listSlot, HeldTable* table, CPStrHandle list) {
  HeldTable* old;
  CPStrHandle oldList;
  {
    std::lock_guard<std::mutex> g(gLock);
    old = *slot;
    *slot = table;
    oldList = *listSlot;
    *listSlot = list;
  }
  Release(old);
  if (oldList && oldList != list) AZDisposeHandle(reinterpret_cast<UHandle>(oldList));
}

HeldTable* NewHeld(UHandle table) {
  HeldTable* t = new (std::nothrow) HeldTable{1, table, nullptr};
  if (!t) AZDisposeHandle(table);
  return t;
}

// The entries of a CPStr list, walked within its handle: the count (0 when
// negative), each string that lies wholly inside the handle, and an empty
// text for every entry past the last such string.
class ListWalk {
 public:
  explicit ListWalk(CPStrHandle list) : list_(list) {
    const int32 size = list && *list ? AZGetHandleSize(reinterpret_cast<UHandle>(list)) : 0;
    size_ = size;
    if (size < 4) return;
    const int32 count = (*list)->cnt;
    // Each string takes at least its length byte.
    count_ = count < 0 ? 0 : count > size - 4 ? size - 4 : count;
  }
  int32 Count() const { return count_; }
  // The next entry, copied into out (a counted string).
  void Next(uChar out[256]) {
    out[0] = 0;
    const uChar* base = reinterpret_cast<const uChar*>(*list_);
    if (at_ >= size_ || at_ + 1 + base[at_] > size_) {
      at_ = size_;
      return;
    }
    __builtin_memcpy(out, base + at_, size_t(base[at_]) + 1);
    at_ += 1 + base[at_];
  }

 private:
  CPStrHandle list_;
  int32 size_ = 0, count_ = 0, at_ = 4;
};

// A copy of the list, or null (with the copy's failure in err) for none.
CPStrHandle CopyList(CPStrHandle list, MgErr* err) {
  *err = kNoErr;
  if (!list) return nullptr;
  UHandle h = reinterpret_cast<UHandle>(list);
  if (AZHandToHand(&h) != kNoErr) {
    *err = kMemFullErr;
    return nullptr;
  }
  return reinterpret_cast<CPStrHandle>(h);
}

void Status(ConstPStr text) {
  AccessStatusProc proc;
  {
    std::lock_guard<std::mutex> g(gLock);
    proc = gStatus;
  }
  if (proc) proc(text);
}

void StatusAndDebug(const char* text) {
  Str255 p;
  PPrintf(p, "%s", text);
  Status(p);
  DBPrintf("%s", text);
}

// Parses every entry of the list into a new table of entries of type E;
// parse(text, entry) fills one entry and answers whether it parsed, finish
// (when given) completes the table before it is published (false: no
// memory).
template <typename E, typename ParseProc>
MgErr Specify(CPStrHandle list, HeldTable** slot, CPStrHandle* listSlot, ParseProc parse, const char* okText,
              bool (*finish)(HeldTable*) = nullptr) {
  if (!list) {
    Publish(slot, listSlot, nullptr, nullptr);
    return kNoErr;
  }
  MgErr err = kNoErr;
  CPStrHandle copy = CopyList(list, &err);
  ListWalk walk(list);
  const int32 count = walk.Count();
  UHandle h = err ? nullptr : AZNewHandle(int32(sizeof(int32) + size_t(count) * sizeof(E)));
  HeldTable* table = h ? NewHeld(h) : nullptr;
  if (!table) {
    if (copy) AZDisposeHandle(reinterpret_cast<UHandle>(copy));
    Publish(slot, listSlot, nullptr, nullptr);
    return kMemFullErr;
  }
  bool syntaxErrors = false;
  std::memcpy(*h, &count, sizeof count);
  for (int32 i = 0; i < count; ++i) {
    uChar text[256];
    walk.Next(text);
    Str255 status;
    PPrintf(status, "Server: Checking access entry \"%p\"...", text);
    Status(status);
    E entry;
    if (!parse(text, &entry, i)) syntaxErrors = true;
    std::memcpy(*h + sizeof(int32) + size_t(i) * sizeof(E), &entry, sizeof entry);
  }
  if (finish && !finish(table)) {
    Release(table);
    if (copy) AZDisposeHandle(reinterpret_cast<UHandle>(copy));
    Publish(slot, listSlot, nullptr, nullptr);
    return kMemFullErr;
  }
  StatusAndDebug(syntaxErrors ? "Server: Syntax errors!" : okText);
  Publish(slot, listSlot, table, copy);
  return kNoErr;
}

template <typename E>
const E* Entries(const HeldTable* t) {
  return reinterpret_cast<const E*>(*t->table + sizeof(int32));
}
int32 EntryCount(const HeldTable* t) {
  int32 n;
  std::memcpy(&n, *t->table, sizeof n);
  return n;
}

bool MakeCompares(HeldTable* t) {
  const int32 n = EntryCount(t);
  t->compares = new (std::nothrow) TcpCompare[size_t(n > 0 ? n : 1)];
  if (!t->compares) return false;
  const TcpAccessEntry* e = Entries<TcpAccessEntry>(t);
  for (int32 i = 0; i < n; ++i) {
    switch (e[i].flags & kAccessKindMask) {
      case kAccessAll: t->compares[i] = TcpCompare{0, 0, e[i].flags}; break;
      case kAccessExact:
      case kAccessPrefix: t->compares[i] = TcpCompare{e[i].address & e[i].mask, e[i].mask, e[i].flags}; break;
      default: t->compares[i] = TcpCompare{0, 0, e[i].flags | kNeedsLookup}; break;
    }
  }
  return true;
}

// ---- Matching ----------------------------------------------------------------------
// The last entry at or before i whose compare the client meets (entries
// that need a look-up always do); -1 when none.  A loop of its own, so that
// the common case keeps everything in registers.
__attribute__((noinline)) int32 NextCandidate(const TcpCompare* c, int32 i, uInt32 address) {
#pragma GCC unroll 4
  for (; i >= 0; --i)
    if ((address & c[i].mask) == c[i].address) return i;
  return -1;
}

enum Match { kNoMatch = 0, kMatches = 1, kUndecidable = -1 };

// The client's host name, looked up on the first need of the check: the
// record is marked failed, its name empty, when the look-up fails or gives
// a name that starts with a digit (the dotted form of an address).
void LookUpClientName(TcpAccessClient* c, bool* looked) {
  if (*looked) return;
  *looked = true;
  Str255 name;
  if (NCIPToStr2(c->address, name, 0) != kNoErr || name[0] == 0 || (name[1] >= '0' && name[1] <= '9')) {
    c->flags |= kAccessLookupFailed;
    c->name[0] = 0;
    return;
  }
  c->name[0] = name[0];
  for (int32 i = 1; i <= name[0]; ++i) c->name[i] = uChar(Lower(char(name[i])));
}

Match MatchTcp(const TcpAccessEntry& e, TcpAccessClient* c, bool* looked) {
  switch (e.flags & kAccessKindMask) {
    case kAccessAll: return kMatches;
    case kAccessExact: return e.address == c->address ? kMatches : kNoMatch;
    case kAccessPrefix: return (c->address & e.mask) == (e.address & e.mask) ? kMatches : kNoMatch;
    case kAccessNameOrPath: {
      uInt32 a = 0;
      if (NCStrToIP2(e.text, &a) != kNoErr) return kUndecidable;
      return a == c->address ? kMatches : kNoMatch;
    }
    case kAccessDomainOrWildPath: {
      LookUpClientName(c, looked);
      if (c->flags & kAccessLookupFailed) return kUndecidable;
      // The entry's text without its "*": the dot and the domain.  Names
      // compare without case, as host names do.
      const int32 n = e.text[0] - 1, len = c->name[0];
      if (n < 1 || len <= n) return kNoMatch;
      for (int32 i = 0; i < n; ++i)
        if (Lower(char(e.text[2 + i])) != char(c->name[1 + len - n + i])) return kNoMatch;
      return kMatches;
    }
    default: return kUndecidable;
  }
}

void DottedText(uInt32 address, Str255 out) {
  const uInt32 h = ToHost(address);
  PPrintf(out, "%ld.%ld.%ld.%ld", long(h >> 24), long((h >> 16) & 0xFF), long((h >> 8) & 0xFF), long(h & 0xFF));
}

bool EqualNoCase(const uChar* a, int32 na, const uChar* b, int32 nb) {
  if (na != nb) return false;
  for (int32 i = 0; i < na; ++i)
    if (Lower(char(a[i])) != Lower(char(b[i]))) return false;
  return true;
}

Bool32 ViOperationsOn() { return ServerVICallsAllowed() || ServerVIOpsAllowed() ? 1 : 0; }

}  // namespace

Bool32 QXSParseTcpEntry(ConstPStr text, uInt32* address, uInt32* mask, int32* flags) {
  uInt32 a = 0, m = 0;
  bool allow = false;
  std::string p;
  int32 kind = kAccessSyntaxError;
  if (Split(text, &allow, &p)) {
    for (char& c : p) c = Lower(c);
    kind = TcpKind(p, &a, &m);
  }
  if (kind != kAccessExact && kind != kAccessPrefix) a = m = 0;
  if (address) *address = ToNetwork(a);
  if (mask) *mask = ToNetwork(m);
  if (flags) *flags = WithAllow(kind, allow);
  return kind != kAccessSyntaxError;
}

Bool32 QXSParseViEntry(ConstPStr text, int32* flags) {
  bool allow = false;
  std::string p;
  int32 kind = kAccessSyntaxError;
  if (Split(text, &allow, &p)) {
    const bool wild = p.find_first_of("*?`") != std::string::npos;
    const bool path = p.find('\\') != std::string::npos;
    kind = p == "*" ? kAccessAll : path ? (wild ? kAccessDomainOrWildPath : kAccessNameOrPath)
                                        : (wild ? kAccessPrefix : kAccessExact);
  }
  if (flags) *flags = WithAllow(kind, allow);
  return kind != kAccessSyntaxError;
}

MgErr QXSSpecifyTcpAccess(CPStrHandle list) {
  DBPrintf("QXSSpecifyTcpAccess(0x%06lx)", long(uintptr_t(list)));
  return Specify<TcpAccessEntry>(
      list, &gTcpTable, &gTcpList,
      [](ConstPStr text, TcpAccessEntry* e, int32 i) {
        const Bool32 ok = QXSParseTcpEntry(text, &e->address, &e->mask, &e->flags);
        TableText(text, e->flags, e->text);
        DBPrintf("    %2ld: 0x%08lx:0x%08lx 0x%06lx %p", long(i), long(e->address), long(e->mask), long(e->flags),
                 e->text);
        return ok != 0;
      },
      "Server: Access list OK", &MakeCompares);
}

MgErr QXSSpecifyViAccess(CPStrHandle list) {
  DBPrintf("QXSSpecifyViAccess(0x%06lx)", long(uintptr_t(list)));
  return Specify<VIAccessEntry>(
      list, &gViTable, &gViList,
      [](ConstPStr text, VIAccessEntry* e, int32 i) {
        const Bool32 ok = QXSParseViEntry(text, &e->flags);
        TableText(text, e->flags, e->text);
        DBPrintf("    %2ld: 0x%06lx %p", long(i), long(e->flags), e->text);
        return ok != 0;
      },
      "Server: Exported VIs list OK");
}

CPStrHandle QXSTcpAccessList() {
  std::lock_guard<std::mutex> g(gLock);
  return gTcpList;
}

CPStrHandle QXSViAccessList() {
  std::lock_guard<std::mutex> g(gLock);
  return gViList;
}

void QXSDisposeAccessLists() {
  Publish(&gTcpTable, &gTcpList, nullptr, nullptr);
  Publish(&gViTable, &gViList, nullptr, nullptr);
}

namespace {
template <typename E>
bool CopyTable(HeldTable* const* slot, std::vector<E>* out) {
  out->clear();
  HeldTable* t = Acquire(slot);
  if (!t) return false;
  const E* e = Entries<E>(t);
  out->assign(e, e + EntryCount(t));
  Release(t);
  return true;
}
}  // namespace

bool QXSCopyTcpTable(std::vector<TcpAccessEntry>* out) { return CopyTable(&gTcpTable, out); }
bool QXSCopyViTable(std::vector<VIAccessEntry>* out) { return CopyTable(&gViTable, out); }

void QXSSetAccessStatusProc(AccessStatusProc proc) {
  std::lock_guard<std::mutex> g(gLock);
  gStatus = proc;
}

AccessStatusProc QXSAccessStatusProcInUse() {
  std::lock_guard<std::mutex> g(gLock);
  return gStatus;
}

Bool32 QXSTcpAccessAllowed(uInt32 address, Bool32 paranoid) {
  HeldTable* t = SrvIsListening() ? Acquire(&gTcpTable) : nullptr;
  Bool32 allowed = 0;
  if (t) {
    TcpAccessClient client;
    client.flags = 0;
    client.address = address;
    client.name[0] = 0;
    bool looked = false;
    const TcpAccessEntry* entries = Entries<TcpAccessEntry>(t);
    const TcpCompare* compares = t->compares;
    for (int32 i = NextCandidate(compares, EntryCount(t) - 1, address); i >= 0;
         i = NextCandidate(compares, i - 1, address)) {
      if (compares[i].flags & kNeedsLookup) {
        Match m = MatchTcp(entries[i], &client, &looked);
        if (m == kUndecidable) m = paranoid && !(entries[i].flags & kAccessAllowFlag) ? kMatches : kNoMatch;
        if (m != kMatches) continue;
      }
      const TcpAccessEntry& e = entries[i];
      allowed = (e.flags & kAccessAllowFlag) ? 1 : 0;
      if (DBDebuggingOn()) {
        Str255 ip;
        DottedText(address, ip);
        DBPrintf("Address 0x%08lx %p matched by entry '%p'", long(ToHost(address)), ip, e.text);
        DBPrintf("  flags 0x%04lx, dnsName '%p', ipName '%p'", long(client.flags), client.name, ip);
      }
      break;
    }
    Release(t);
  }
  if (DBDebuggingOn()) {
    Str255 ip;
    DottedText(address, ip);
    DBPrintf("QXSTcpAccessAllowed: %p returns %s", ip, allowed ? "ALLOWED" : "DENIED");
  }
  return allowed;
}

Bool32 QXSViAccessAllowed(ConstPStr name, Path path) {
  static const uChar kEmpty[1] = {0};
  if (!name) name = kEmpty;
  HeldTable* t = ViOperationsOn() ? Acquire(&gViTable) : nullptr;
  Bool32 allowed = 0;
  if (t) {
    // The path as text, made once for the check; an absent path is empty.
    LStrHandle pathText = nullptr;
    bool madePath = false;
    auto pathChars = [&](const uChar** chars, int32* n) {
      if (!madePath) {
        madePath = true;
        if (path && FPathToAZString(path, &pathText) != kNoErr) pathText = nullptr;
      }
      *chars = pathText && *pathText ? (*pathText)->str : kEmpty;
      *n = pathText && *pathText ? (*pathText)->cnt : 0;
    };
    const VIAccessEntry* entries = Entries<VIAccessEntry>(t);
    for (int32 i = EntryCount(t) - 1; i >= 0; --i) {
      const VIAccessEntry& e = entries[i];
      const uChar* chars = nullptr;
      int32 n = 0;
      bool match = false;
      switch (e.flags & kAccessKindMask) {
        case kAccessSyntaxError:
        case kAccessAll: match = true; break;
        case kAccessExact: match = EqualNoCase(e.text + 1, e.text[0], name + 1, name[0]); break;
        case kAccessNameOrPath:
          pathChars(&chars, &n);
          match = EqualNoCase(e.text + 1, e.text[0], chars, n);
          break;
        case kAccessPrefix:
          match = StrMatchPattern(e.text + 1, name + 1, e.text[0], name[0], nullptr, kPatternEscape, '\\');
          break;
        case kAccessDomainOrWildPath:
          pathChars(&chars, &n);
          match = StrMatchPattern(e.text + 1, chars, e.text[0], n, nullptr, kPatternEscape, '\\');
          break;
        default: break;
      }
      if (!match) continue;
      allowed = (e.flags & kAccessAllowFlag) ? 1 : 0;
      DBPrintf("VI '%p' matched by entry '%p'", name, e.text);
      break;
    }
    if (pathText) AZDisposeHandle(reinterpret_cast<UHandle>(pathText));
    Release(t);
  }
  DBPrintf("QXSViAccessAllowed: %p returns %s", name, allowed ? "ALLOWED" : "DENIED");
  return allowed;
}
