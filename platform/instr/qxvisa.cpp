// libqxvisa.so: the VISA library.  Sessions: resource managers, find lists,
// devices of the simulated GPIB bus (through libqxgpib.so of this library's
// folder, so the program's GPIB calls and these see one bus) and TCP
// sockets.  One mutex guards the session table; a session's transfers are
// one at a time under its own mutex, taken after the table's is let go and
// never held while the table's is taken (the bus is found without it).
#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/instr/qxgpib.h"
#include "platform/instr/qxvisa.h"
#include "platform/instr/visarsrc.h"

#define QX_EXPORT extern "C" __attribute__((visibility("default")))

// Test builds leave an entry out: 1 viOpenDefaultRM, 2 viFindRsrc.
#ifndef QX_VISA_VARIANT
#define QX_VISA_VARIANT 0
#endif

namespace {

using Clock = std::chrono::steady_clock;

enum Kind { kRM, kFind, kGPIB, kTCP };

struct Session {
  Kind kind = kRM;
  QXViSession rm = 0;  // the resource manager of a device session or find list
  std::atomic<uint32_t> timeout{kVisaDefaultTimeout};  // set while a transfer may run
  uint32_t board = 0;
  // GPIB
  uint32_t primary = 0;
  int32_t secondary = -1;
  bool vxi = false;
  // TCP: the socket, and bytes received past the last read's end.
  int fd = -1;
  std::string pending;
  // find list
  std::vector<std::string> found;
  size_t next = 0;
  std::mutex io;
};
typedef std::shared_ptr<Session> SessionRef;

std::mutex gLock;
std::map<QXViSession, SessionRef> gSessions;
QXViSession gNextSession = 1;
const QXGPIBBusEntries* gBus = nullptr;
std::once_flag gBusOnce;

// Loads libqxgpib.so beside this library and finds its bus; run once.
void LoadBus() {
  Dl_info info{};
  std::string path = kQXGPIBLibraryName;
  if (dladdr(reinterpret_cast<void*>(&LoadBus), &info) && info.dli_fname) {
    std::string self = info.dli_fname;
    size_t slash = self.rfind('/');
    if (slash != std::string::npos) path = self.substr(0, slash + 1) + kQXGPIBLibraryName;
  }
  // Kept loaded for the life of the process: sessions use it to the end.
  if (void* lib = dlopen(path.c_str(), RTLD_NOW)) {
    gBus = static_cast<const QXGPIBBusEntries*>(dlsym(lib, kQXGPIBBusExport));
  }
}
// The bus, or null when the library or its export is missing.  Takes no
// table mutex: the first call loads it, later calls only read gBus.
const QXGPIBBusEntries* Bus() {
  std::call_once(gBusOnce, LoadBus);
  return gBus;
}

// One call-log line on the bus: "routine(arguments) status".
void Log(const char* routine, QXViStatus status, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
void Log(const char* routine, QXViStatus status, const char* fmt, ...) {
  const QXGPIBBusEntries* bus = Bus();
  if (!bus) return;
  char args[200];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(args, sizeof args, fmt, ap);
  va_end(ap);
  char line[300];
  std::snprintf(line, sizeof line, "%s(%s) %08x", routine, args, unsigned(status));
  bus->log(line);
}
int32_t Switches() {
  const QXGPIBBusEntries* bus = Bus();
  return bus ? bus->visaSwitches() : 0;
}

SessionRef Find(QXViSession vi) {
  std::lock_guard<std::mutex> g(gLock);
  auto it = gSessions.find(vi);
  return it == gSessions.end() ? nullptr : it->second;
}

QXViSession Add(SessionRef s) {
  std::lock_guard<std::mutex> g(gLock);
  // Session numbers are not reused while one is open; 0 is never one.
  while (gNextSession == 0 || gSessions.count(gNextSession)) ++gNextSession;
  QXViSession vi = gNextSession++;
  gSessions[vi] = std::move(s);
  return vi;
}

void Release(const SessionRef& s) {
  if (s->fd >= 0) shutdown(s->fd, SHUT_RDWR);  // a read under way ends now
  std::lock_guard<std::mutex> io(s->io);
  if (s->fd >= 0) close(s->fd);
  s->fd = -1;
}

void CopyText(char* out, const std::string& text) {
  size_t n = std::min(text.size(), size_t(kVisaDescSize - 1));
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

// ms left until end, for poll (-1: for ever).
int Left(Clock::time_point end, bool forever) {
  if (forever) return -1;
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
  return ms <= 0 ? 0 : ms > 0x7FFFFFFF ? 0x7FFFFFFF : int(ms);
}

// A TCP connection within the time-out; the socket stays non-blocking.
QXViStatus Connect(const qxvisa::Rsrc& r, uint32_t timeoutMs, int* fd) {
  *fd = -1;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(r.host.c_str(), std::to_string(r.port).c_str(), &hints, &list) != 0 || !list) {
    return kVisaErrRsrcNotFound;
  }
  sockaddr_in to{};
  std::memcpy(&to, list->ai_addr, std::min(sizeof to, size_t(list->ai_addrlen)));
  freeaddrinfo(list);
  int s = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s < 0) return kVisaErrAlloc;
  auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  int rc = connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to);
  if (rc != 0 && errno != EINPROGRESS) {
    close(s);
    return kVisaErrRsrcNotFound;
  }
  if (rc != 0) {
    pollfd p{s, POLLOUT, 0};
    int n;
    do n = poll(&p, 1, Left(end, false));
    while (n < 0 && errno == EINTR);
    int err = 0;
    socklen_t len = sizeof err;
    if (n <= 0) {
      close(s);
      return kVisaErrTimeout;
    }
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
      close(s);
      return kVisaErrRsrcNotFound;
    }
  }
  int one = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  *fd = s;
  return kVisaOK;
}

// Reads of a TCP session: up to the count, the end character (LF, kept),
// or the time-out; bytes past the end wait for the next read.
QXViStatus TCPRead(Session& s, char* buf, uint32_t count, uint32_t* got) {
  uint32_t limit = s.timeout.load();
  auto end = Clock::now() + std::chrono::milliseconds(limit);
  bool forever = limit == 0xFFFFFFFFu;
  auto take = [&](size_t n, QXViStatus st) {
    std::memcpy(buf, s.pending.data(), n);
    s.pending.erase(0, n);
    *got = uint32_t(n);
    return st;
  };
  for (;;) {
    size_t lf = s.pending.find('\n');
    if (lf != std::string::npos && lf < count) return take(lf + 1, kVisaTermChar);
    if (s.pending.size() >= count) return take(count, kVisaMaxCount);
    if (s.fd < 0) return take(s.pending.size(), kVisaErrConnLost);
    pollfd p{s.fd, POLLIN, 0};
    int n = poll(&p, 1, Left(end, forever));
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) return take(s.pending.size(), kVisaErrTimeout);
    char chunk[4096];
    size_t want = std::min(sizeof chunk, size_t(count) - s.pending.size());
    ssize_t r = recv(s.fd, chunk, want, 0);
    if (r < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (r <= 0) return take(s.pending.size(), kVisaErrConnLost);
    s.pending.append(chunk, size_t(r));
  }
}

QXViStatus TCPWrite(Session& s, const char* buf, uint32_t count, uint32_t* sent) {
  uint32_t limit = s.timeout.load();
  auto end = Clock::now() + std::chrono::milliseconds(limit);
  bool forever = limit == 0xFFFFFFFFu;
  uint32_t done = 0;
  while (done < count) {
    if (s.fd < 0) break;
    ssize_t r = send(s.fd, buf + done, count - done, MSG_NOSIGNAL);
    if (r > 0) {
      done += uint32_t(r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && errno == EAGAIN) {
      pollfd p{s.fd, POLLOUT, 0};
      int n = poll(&p, 1, Left(end, forever));
      if (n == 0) {
        *sent = done;
        return kVisaErrTimeout;
      }
      continue;
    }
    break;
  }
  *sent = done;
  return done == count ? kVisaOK : kVisaErrConnLost;
}

QXViStatus GPIBRead(Session& s, char* buf, uint32_t count, uint32_t* got) {
  const QXGPIBBusEntries* bus = Bus();
  int32_t n = 0;
  int32_t want = int32_t(std::min(count, 0x7FFFFFFFu));
  int32_t r = bus->read(s.board, s.primary, s.secondary, buf, want, s.timeout.load(), &n);
  *got = uint32_t(n);
  switch (r) {
    case kQXBusEnd: return kVisaOK;
    case kQXBusCount: return kVisaMaxCount;
    case kQXBusTimeout: return kVisaErrTimeout;
    default: return kVisaErrIO;
  }
}

QXViStatus GPIBWrite(Session& s, const char* buf, uint32_t count, uint32_t* sent) {
  const QXGPIBBusEntries* bus = Bus();
  *sent = 0;
  if (count > 0x7FFFFFFFu) return kVisaErrIO;
  if (bus->write(s.board, s.primary, s.secondary, buf, int32_t(count)) != kQXBusEnd) return kVisaErrIO;
  *sent = count;
  return kVisaOK;
}

struct StatusText {
  QXViStatus status;
  const char* text;
};
const StatusText kTexts[] = {
    {kVisaOK, "Operation completed successfully."},
    {kVisaTermChar, "The termination character was read."},
    {kVisaMaxCount, "The number of bytes read is equal to the input count."},
    {kVisaErrSystem, "Unknown system error (miscellaneous error)."},
    {kVisaErrInvObject, "The given session or object reference is invalid."},
    {kVisaErrInvExpr, "Invalid expression given for the search."},
    {kVisaErrRsrcNotFound, "Insufficient location information or the requested device or resource is not present."},
    {kVisaErrTimeout, "Timeout expired before operation completed."},
    {kVisaErrNoAttr, "The attribute is not defined for the session or not supported by it."},
    {kVisaErrBadAttrValue, "The attribute value is not supported."},
    {kVisaErrAlloc, "Insufficient system resources to perform the operation."},
    {kVisaErrIO, "Could not perform operation because of an I/O error."},
    {kVisaErrNoOperation, "The session does not support this operation."},
    {kVisaErrLibNotFound, "The VISA library could not be found."},
    {kVisaErrConnLost, "The connection for the given session has been lost."},
};

bool IsRM(const SessionRef& s) { return s && s->kind == kRM; }

}  // namespace

#if QX_VISA_VARIANT != 1
QX_EXPORT QXViStatus QX_VISA_CALL viOpenDefaultRM(QXViSession* rm) {
  if (!rm) return kVisaErrSystem;
  *rm = Add(std::make_shared<Session>());
  Log("viOpenDefaultRM", kVisaOK, "%u", unsigned(*rm));
  return kVisaOK;
}
#endif

QX_EXPORT QXViStatus QX_VISA_CALL viOpen(QXViSession rm, const char* name, uint32_t mode, uint32_t timeout,
                                         QXViSession* out) {
  if (out) *out = 0;
  QXViStatus st = kVisaOK;
  size_t len = name ? strnlen(name, kVisaMaxName + 1) : 0;
  qxvisa::Rsrc r;
  auto s = std::make_shared<Session>();
  s->rm = rm;
  if (!IsRM(Find(rm))) {
    st = kVisaErrInvObject;
  } else if (!out) {
    st = kVisaErrSystem;
  } else if (!qxvisa::ParseRsrc(name, len, &r)) {
    st = kVisaErrRsrcNotFound;
  } else if (r.kind == qxvisa::kRsrcGPIB) {
    const QXGPIBBusEntries* bus = Bus();
    QXGPIBBusDevice dev{};
    if (!bus || bus->find(r.board, r.primary, r.secondary, &dev) != kQXBusEnd) {
      st = kVisaErrRsrcNotFound;
    } else {
      s->kind = kGPIB;
      s->board = r.board;
      s->primary = r.primary;
      s->secondary = r.secondary;
      s->vxi = dev.vxi != 0;
    }
  } else {
    s->kind = kTCP;
    s->board = r.board;
    st = Connect(r, timeout, &s->fd);
  }
  if (st == kVisaOK) *out = Add(s);
  Log("viOpen", st, "%u,%.64s,%u,%u", unsigned(rm), name && len ? std::string(name, len).c_str() : "",
      unsigned(mode), unsigned(timeout));
  return st;
}

QX_EXPORT QXViStatus QX_VISA_CALL viClose(QXViSession vi) {
  std::vector<SessionRef> gone;
  {
    std::lock_guard<std::mutex> g(gLock);
    auto it = gSessions.find(vi);
    if (it != gSessions.end()) {
      gone.push_back(it->second);
      bool rm = it->second->kind == kRM;
      gSessions.erase(it);
      // A resource manager takes its sessions and find lists with it.
      for (auto j = gSessions.begin(); rm && j != gSessions.end();) {
        if (j->second->rm == vi) {
          gone.push_back(j->second);
          j = gSessions.erase(j);
        } else {
          ++j;
        }
      }
    }
  }
  for (const SessionRef& s : gone) Release(s);
  // The test switch makes the close report a failure; the session is gone
  // all the same.
  QXViStatus st = gone.empty() ? kVisaErrInvObject : (Switches() & kQXVisaFailClose) ? kVisaErrIO : kVisaOK;
  Log("viClose", st, "%u", unsigned(vi));
  return st;
}

#if QX_VISA_VARIANT != 2
QX_EXPORT QXViStatus QX_VISA_CALL viFindRsrc(QXViSession rm, const char* expr, QXViSession* list,
                                                      uint32_t* count, char* desc) {
  if (list) *list = 0;
  if (count) *count = 0;
  if (desc) desc[0] = '\0';
  QXViStatus st = kVisaOK;
  size_t len = expr ? strnlen(expr, kVisaMaxName + 1) : 0;
  std::vector<std::string> found;
  if (!IsRM(Find(rm))) {
    st = kVisaErrInvObject;
  } else if (qxvisa::MatchExpr(expr, len, "", 0) == qxvisa::kMatchBad) {
    st = kVisaErrInvExpr;
  } else {
    std::vector<uint32_t> keys;
    if (const QXGPIBBusEntries* bus = Bus()) {
      keys.resize(size_t(bus->list(nullptr, 0)));
      keys.resize(size_t(std::min<int32_t>(int32_t(keys.size()), bus->list(keys.data(), int32_t(keys.size())))));
    }
    for (uint32_t k : keys) {
      std::string d = qxvisa::GPIBDescription(k >> 16, (k >> 8) & 0xFF, int32_t(k & 0xFF) - 1);
      if (qxvisa::MatchExpr(expr, len, d.data(), d.size()) == qxvisa::kMatchYes) found.push_back(d);
    }
    if (found.empty()) st = kVisaErrRsrcNotFound;
  }
  if (st == kVisaOK) {
    if (count) *count = uint32_t(found.size());
    if (desc) CopyText(desc, found[0]);
    if (list) {
      auto s = std::make_shared<Session>();
      s->kind = kFind;
      s->rm = rm;
      s->found = std::move(found);
      s->next = 1;
      *list = Add(s);
    }
  }
  Log("viFindRsrc", st, "%u,%.64s", unsigned(rm), expr && len ? std::string(expr, len).c_str() : "");
  return st;
}
#endif

QX_EXPORT QXViStatus QX_VISA_CALL viFindNext(QXViSession list, char* desc) {
  SessionRef s = Find(list);
  QXViStatus st = kVisaOK;
  if (desc) desc[0] = '\0';
  if (!s || s->kind != kFind) {
    st = kVisaErrInvObject;
  } else {
    std::lock_guard<std::mutex> io(s->io);
    if (s->next >= s->found.size()) st = kVisaErrRsrcNotFound;
    else if (desc) CopyText(desc, s->found[s->next++]);
    else ++s->next;
  }
  Log("viFindNext", st, "%u", unsigned(list));
  return st;
}

QX_EXPORT QXViStatus QX_VISA_CALL viGetAttribute(QXViSession vi, uint32_t attr, void* value) {
  SessionRef s = Find(vi);
  QXViStatus st = kVisaOK;
  bool device = s && (s->kind == kGPIB || s->kind == kTCP);
  uint16_t u16 = 0;
  if (!s) {
    st = kVisaErrInvObject;
  } else if (!value) {
    st = kVisaErrSystem;
  } else if (attr == kVisaAttrTimeout && s->kind != kFind) {
    uint32_t t = s->timeout.load();
    std::memcpy(value, &t, sizeof t);
  } else if (attr == kVisaAttrIntfType && device) {
    if (Switches() & kQXVisaFailIntfType) st = kVisaErrNoAttr;
    u16 = s->kind == kTCP ? kVisaIntfTCPSocket : s->vxi ? kVisaIntfGPIBVXI : kVisaIntfGPIB;
  } else if (attr == kVisaAttrIntfNum && device) {
    u16 = uint16_t(s->board);
  } else if (attr == kVisaAttrVxiBoard && s->kind == kGPIB && s->vxi) {
    u16 = uint16_t(s->board);
  } else {
    st = kVisaErrNoAttr;
  }
  if (st == kVisaOK && attr != kVisaAttrTimeout) std::memcpy(value, &u16, sizeof u16);
  Log("viGetAttribute", st, "%u,%08x", unsigned(vi), unsigned(attr));
  return st;
}

QX_EXPORT QXViStatus QX_VISA_CALL viSetAttribute(QXViSession vi, uint32_t attr, uint32_t value) {
  SessionRef s = Find(vi);
  QXViStatus st = kVisaOK;
  if (!s) st = kVisaErrInvObject;
  else if (attr != kVisaAttrTimeout || s->kind == kFind) st = kVisaErrNoAttr;
  else s->timeout.store(value);
  Log("viSetAttribute", st, "%u,%08x,%u", unsigned(vi), unsigned(attr), unsigned(value));
  return st;
}

QX_EXPORT QXViStatus QX_VISA_CALL viStatusDesc(QXViSession vi, QXViStatus status, char* desc) {
  (void)vi;
  if (!desc) return kVisaErrSystem;
  for (const StatusText& t : kTexts) {
    if (t.status == status) {
      CopyText(desc, t.text);
      return kVisaOK;
    }
  }
  char text[64];
  std::snprintf(text, sizeof text, "Unknown status code 0x%08X.", unsigned(status));
  CopyText(desc, text);
  return kVisaOK;
}

QX_EXPORT QXViStatus QX_VISA_CALL viRead(QXViSession vi, char* buf, uint32_t count, uint32_t* retCount) {
  if (retCount) *retCount = 0;
  SessionRef s = Find(vi);
  QXViStatus st = kVisaOK;
  uint32_t got = 0;
  if (!s) {
    st = kVisaErrInvObject;
  } else if (s->kind != kGPIB && s->kind != kTCP) {
    st = kVisaErrNoOperation;
  } else if (!buf && count) {
    st = kVisaErrSystem;
  } else {
    std::lock_guard<std::mutex> io(s->io);
    st = s->kind == kGPIB ? GPIBRead(*s, buf, count, &got) : TCPRead(*s, buf, count, &got);
  }
  if (retCount) *retCount = got;
  Log("viRead", st, "%u,%u", unsigned(vi), unsigned(count));
  return st;
}

QX_EXPORT QXViStatus QX_VISA_CALL viWrite(QXViSession vi, const char* buf, uint32_t count, uint32_t* retCount) {
  if (retCount) *retCount = 0;
  SessionRef s = Find(vi);
  QXViStatus st = kVisaOK;
  uint32_t sent = 0;
  if (!s) {
    st = kVisaErrInvObject;
  } else if (s->kind != kGPIB && s->kind != kTCP) {
    st = kVisaErrNoOperation;
  } else if (!buf && count) {
    st = kVisaErrSystem;
  } else {
    std::lock_guard<std::mutex> io(s->io);
    st = s->kind == kGPIB ? GPIBWrite(*s, buf, count, &sent) : TCPWrite(*s, buf, count, &sent);
  }
  if (retCount) *retCount = sent;
  Log("viWrite", st, "%u,%u", unsigned(vi), unsigned(count));
  return st;
}
