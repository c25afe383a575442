// libqxvisa.so: the VISA library.  Sessions: resource managers, find lists,
// devices of the simulated GPIB bus (through libqxgpib.so of this library's
// folder, so the program's GPIB calls and these see one bus), TCP sockets and
// event contexts.  One mutex guards the session table and the lock table; a
// session's transfers are one at a time under its own mutex, taken after the
// table's is let go and never held while the table's is taken (the bus is
// found without it).  A session's event queue has a mutex of its own, taken
// alone or inside the transfer mutex; a register window's mutex is taken
// alone.  The I/O thread's job mutex is taken alone or inside a transfer
// mutex and never held while another is taken.
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
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/instr/qxgpib.h"
#include "platform/instr/qxvisa.h"
#include "platform/instr/visarsrc.h"

#define QX_EXPORT extern "C" __attribute__((visibility("default")))

// Test builds leave an entry out: 1 viOpenDefaultRM, 2 viFindRsrc, 3 viReadAsync.
#ifndef QX_VISA_VARIANT
#define QX_VISA_VARIANT 0
#endif

namespace {

using Clock = std::chrono::steady_clock;

enum Kind { kRM, kFind, kGPIB, kTCP, kEvent };

// One queued event: its type and, for an I/O completion, the transfer's.
struct Event {
  uint32_t type = 0;
  uint32_t job = 0;
  int32_t status = 0;
  uint32_t count = 0;
};

// The register window of a GPIB-VXI device, one per device for the life of
// the library; its bytes never move.  allocs: offset -> size of viMemAlloc.
struct Window {
  std::mutex m;
  std::vector<uint8_t> bytes;
  std::map<uint32_t, uint32_t> allocs;
};
typedef std::shared_ptr<Window> WindowRef;

struct Session {
  Kind kind = kRM;
  QXViSession rm = 0;  // the resource manager of a device session or find list
  std::atomic<uint32_t> timeout{kVisaDefaultTimeout};  // set while a transfer may run
  uint32_t board = 0;
  // GPIB
  uint32_t primary = 0;
  int32_t secondary = -1;
  bool vxi = false;
  // TCP: the socket, and bytes received past the last read's end; the
  // socket's receive time-out as set (ms; none at first: it waits for ever).
  int fd = -1;
  std::string pending;
  uint32_t recvTimeout = kVisaForever;
  std::atomic<bool> termCharEn{true};
  std::string rsrc;  // the name opened, and the resource a lock is on
  // find list
  std::vector<std::string> found;
  size_t next = 0;
  std::mutex io;
  // events: the enabled types (kEv* bits) and the queue, under ev
  std::mutex ev;
  uint32_t enabled = 0;
  bool srqTaken = false;  // the device's standing request was queued already
  std::deque<Event> events;
  Event event;  // an event context's own
  // registers: the window and this session's mapping, under win->m
  WindowRef win;
  bool mapped = false;
  uint32_t mapOffset = 0, mapSize = 0;
  // buffer sizes of viSetBuf
  uint32_t inBuf = 4096, outBuf = 4096;
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
  if (!bus || !bus->logging()) return;  // a line is made only for a running log
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
  // Connected, the socket blocks: a read waits in its receive, with the
  // session's time-out as the socket's; every other call says it must not.
  const int flags = fcntl(s, F_GETFL);
  if (flags >= 0) fcntl(s, F_SETFL, flags & ~O_NONBLOCK);
  *fd = s;
  return kVisaOK;
}

// Gives the socket a receive time-out of ms (not 0); false when it cannot.
bool SetRecvTimeout(Session& s, uint32_t ms) {
  if (s.recvTimeout == ms) return true;
  timeval tv{};
  if (ms != kVisaForever) {
    tv.tv_sec = time_t(ms / 1000);
    tv.tv_usec = suseconds_t(ms % 1000) * 1000;
  }
  if (setsockopt(s.fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) return false;
  s.recvTimeout = ms;
  return true;
}

// Reads of a TCP session: up to the count, the end character (LF, kept),
// or the time-out; bytes past the end wait for the next read.
// An asynchronous transfer's stop flag, looked at every slice ms.
constexpr int kSliceMs = 10;
int Slice(int left, const std::atomic<bool>* stop) { return stop && (left < 0 || left > kSliceMs) ? kSliceMs : left; }

// TCPRead's answer, with noWait, when it would have to wait for more bytes
// (the bytes it took are in *got).
constexpr QXViStatus kWouldBlock = 0x7FFF0001;

QXViStatus TCPRead(Session& s, char* buf, uint32_t count, uint32_t* got, const std::atomic<bool>* stop = nullptr,
                   bool noWait = false) {
  // An asynchronous transfer waits until it ends or is stopped: its caller
  // forces the time-out.
  uint32_t limit = stop ? kVisaForever : s.timeout.load();
  auto end = Clock::now() + std::chrono::milliseconds(limit);
  bool forever = limit == 0xFFFFFFFFu;
  bool lines = s.termCharEn.load();
  // The bytes kept from the last read come first.
  size_t have = 0;
  size_t lf = lines ? s.pending.find('\n') : std::string::npos;
  if (lf != std::string::npos && lf < count) have = lf + 1;
  else have = std::min(s.pending.size(), size_t(count));
  std::memcpy(buf, s.pending.data(), have);
  s.pending.erase(0, have);
  *got = uint32_t(have);
  if (lf != std::string::npos && lf < count) return kVisaTermChar;
  if (have == count) return kVisaMaxCount;
  // Then the socket's, received straight into the caller's buffer; bytes
  // past a line's end wait for the next read.  A synchronous read waits
  // first in the receive itself, for the whole time-out (one call where a
  // look, a poll and a receive would be three); later waits poll for what
  // is left of it.
  bool waitInRecv = !stop && !noWait && limit != 0;
  for (;;) {
    if (s.fd < 0) return kVisaErrConnLost;
    if (stop && stop->load()) return kVisaErrAbort;
    int flags = MSG_DONTWAIT;
    if (waitInRecv) {
      waitInRecv = false;
      if (SetRecvTimeout(s, limit)) flags = 0;
    }
    ssize_t r = recv(s.fd, buf + have, count - have, flags);
    if (r > 0) {
      const char* eol = lines ? static_cast<const char*>(std::memchr(buf + have, '\n', size_t(r))) : nullptr;
      if (eol) {
        size_t keep = size_t(buf + have + r - (eol + 1));
        s.pending.assign(eol + 1, keep);
        have = size_t(eol + 1 - buf);
        *got = uint32_t(have);
        return kVisaTermChar;
      }
      have += size_t(r);
      *got = uint32_t(have);
      if (have == count) return kVisaMaxCount;
      continue;
    }
    if (r == 0) return kVisaErrConnLost;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return kVisaErrConnLost;
    if (flags == 0) return kVisaErrTimeout;  // the receive waited the whole time-out
    if (noWait) return kWouldBlock;
    pollfd p{s.fd, POLLIN, 0};
    int left = Left(end, forever);
    int n = poll(&p, 1, Slice(left, stop));
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 && Slice(left, stop) != left) continue;
    if (n == 0) return kVisaErrTimeout;
  }
}

QXViStatus TCPWrite(Session& s, const char* buf, uint32_t count, uint32_t* sent,
                    const std::atomic<bool>* stop = nullptr) {
  // An asynchronous transfer waits until it ends or is stopped: its caller
  // forces the time-out.
  uint32_t limit = stop ? kVisaForever : s.timeout.load();
  auto end = Clock::now() + std::chrono::milliseconds(limit);
  bool forever = limit == 0xFFFFFFFFu;
  uint32_t done = 0;
  while (done < count) {
    if (s.fd < 0) break;
    ssize_t r = send(s.fd, buf + done, count - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (r > 0) {
      done += uint32_t(r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && errno == EAGAIN) {
      if (stop && stop->load()) {
        *sent = done;
        return kVisaErrAbort;
      }
      pollfd p{s.fd, POLLOUT, 0};
      int left = Left(end, forever);
      int n = poll(&p, 1, Slice(left, stop));
      if (n == 0 && Slice(left, stop) != left) continue;
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

QXViStatus GPIBRead(Session& s, char* buf, uint32_t count, uint32_t* got, const std::atomic<bool>* stop = nullptr) {
  const QXGPIBBusEntries* bus = Bus();
  int32_t n = 0;
  int32_t want = int32_t(std::min(count, 0x7FFFFFFFu));
  // An asynchronous transfer waits until it ends or is stopped: its caller
  // forces the time-out.
  uint32_t limit = stop ? kVisaForever : s.timeout.load();
  int32_t r;
  if (!stop) {
    r = bus->read(s.board, s.primary, s.secondary, buf, want, limit, &n);
  } else {
    // In slices, so that a terminated job ends soon.
    auto end = Clock::now() + std::chrono::milliseconds(limit);
    for (;;) {
      int left = Left(end, limit == 0xFFFFFFFFu);
      r = bus->read(s.board, s.primary, s.secondary, buf, want, uint32_t(Slice(left, stop)), &n);
      if (r != kQXBusTimeout || Slice(left, stop) == left) break;
      if (stop->load()) {
        *got = 0;
        return kVisaErrAbort;
      }
    }
  }
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
    {kVisaEventEnabled, "The specified event is already enabled."},
    {kVisaEventDisabled, "The specified event is already disabled."},
    {kVisaQueueEmpty, "The event queue was empty."},
    {kVisaErrRsrcLocked, "The resource is locked by another session."},
    {kVisaErrInvEvent, "The event type is not supported by the session."},
    {kVisaErrInvMech, "Invalid mechanism specified."},
    {kVisaErrNotEnabled, "The session must be enabled for the event type."},
    {kVisaErrInvMask, "Invalid buffer mask specified."},
    {kVisaErrInvSpace, "Invalid address space specified."},
    {kVisaErrInvOffset, "Invalid offset specified."},
    {kVisaErrInvWidth, "Invalid access width specified."},
    {kVisaErrAbort, "The operation was ended by a terminate request."},
    {kVisaErrNotMapped, "The session is not currently mapped."},
    {kVisaErrInvJobId, "The job identifier is not one of a transfer in progress."},
    {kVisaErrNotLocked, "The session does not hold a lock on the resource."},
    {kVisaErrInvLockType, "The lock type is not supported."},
    {kVisaErrInvSize, "Invalid size specified."},
};

bool IsRM(const SessionRef& s) { return s && s->kind == kRM; }
bool IsDevice(const SessionRef& s) { return s && (s->kind == kGPIB || s->kind == kTCP); }

// The register window of a device, made on its first open.
std::map<std::tuple<uint32_t, uint32_t, int32_t>, WindowRef> gWindows;
WindowRef WindowOf(uint32_t board, uint32_t primary, int32_t secondary, uint32_t size) {
  std::lock_guard<std::mutex> g(gLock);
  WindowRef& w = gWindows[std::make_tuple(board, primary, secondary)];
  if (!w) {
    w = std::make_shared<Window>();
    w->bytes.assign(std::min(size, kQXBusMaxWindow), 0);
  }
  return w;
}

QXViStatus EventAttribute(const Event& e, uint32_t attr, void* value) {
  uint32_t v;
  switch (attr) {
    case kVisaAttrEventType: v = e.type; break;
    case kVisaAttrJobId: v = e.job; break;
    case kVisaAttrEventStatus: v = uint32_t(e.status); break;
    case kVisaAttrRetCount: v = e.count; break;
    default: return kVisaErrNoAttr;
  }
  if (e.type != kVisaEventIOCompletion && attr != kVisaAttrEventType) return kVisaErrNoAttr;
  std::memcpy(value, &v, sizeof v);
  return kVisaOK;
}

// ---- events -----------------------------------------------------------------
enum : uint32_t { kEvIO = 1, kEvSRQ = 2, kEvTrigger = 4, kEvVxi = 8 };
// The session's bit for an event type, 0 when the session cannot have it.
uint32_t EventBit(const Session& s, uint32_t type) {
  if (s.kind != kGPIB && s.kind != kTCP) return 0;
  switch (type) {
    case kVisaEventIOCompletion: return kEvIO;
    case kVisaEventSRQ: return s.kind == kGPIB ? uint32_t(kEvSRQ) : 0u;
    case kVisaEventTrigger: return s.vxi ? uint32_t(kEvTrigger) : 0u;
    case kVisaEventVxiSignal: return s.vxi ? uint32_t(kEvVxi) : 0u;
    default: return 0;
  }
}

// Queues an event when its type is enabled; a full queue loses it.
void Post(Session& s, const Event& e) {
  std::lock_guard<std::mutex> g(s.ev);
  if ((s.enabled & EventBit(s, e.type)) && s.events.size() < kVisaMaxQueue) s.events.push_back(e);
}

// A service request the device raised since the last look becomes an event;
// under s.ev.
void LookForSRQ(Session& s) {
  if (s.kind != kGPIB || !(s.enabled & kEvSRQ)) return;
  bool requesting = Bus()->requesting(s.board, s.primary, s.secondary) != 0;
  if (requesting && !s.srqTaken && s.events.size() < kVisaMaxQueue) {
    Event e;
    e.type = kVisaEventSRQ;
    s.events.push_back(e);
  }
  s.srqTaken = requesting;
}

// Takes the first queued event of the type (any enabled type for
// kVisaAllEnabledEvents); under s.ev.
bool TakeEvent(Session& s, uint32_t type, Event* out) {
  LookForSRQ(s);
  for (auto it = s.events.begin(); it != s.events.end(); ++it) {
    if (type == kVisaAllEnabledEvents || it->type == type) {
      *out = *it;
      s.events.erase(it);
      return true;
    }
  }
  return false;
}

// ---- the I/O thread ---------------------------------------------------------
// Asynchronous transfers run one at a time on one thread of the library.  A
// job ends with an I/O-completion event on its session; viTerminate stops
// it and returns once that event is queued.
struct Job {
  uint32_t id = 0;
  SessionRef s;
  bool read = false;
  char* buf = nullptr;  // the caller's, for a read
  std::string data;     // a copy of the bytes to write
  uint32_t count = 0;
  uint32_t taken = 0;   // bytes read already when the job was queued
  std::atomic<bool> stop{false};
  bool done = false;    // under gJobLock
};
typedef std::shared_ptr<Job> JobRef;

std::mutex gJobLock;
std::condition_variable gJobChanged;
std::deque<JobRef> gQueue;
JobRef gRunning;
std::thread gWorker;
bool gQuit = false;
uint32_t gNextJob = 1;

void RunJob(Job& j) {
  Session& s = *j.s;
  uint32_t n = 0;
  QXViStatus st;
  {
    std::lock_guard<std::mutex> io(s.io);
    if (j.read) {
      st = s.kind == kGPIB ? GPIBRead(s, j.buf, j.count, &n, &j.stop)
                           : TCPRead(s, j.buf + j.taken, j.count - j.taken, &n, &j.stop);
      if (s.kind == kTCP) n += j.taken;
    } else if (s.kind == kGPIB) {
      st = j.stop.load() ? kVisaErrAbort : GPIBWrite(s, j.data.data(), j.count, &n);
    } else {
      st = TCPWrite(s, j.data.data(), j.count, &n, &j.stop);
    }
  }
  Event e;
  e.type = kVisaEventIOCompletion;
  e.job = j.id;
  e.status = st;
  e.count = n;
  Post(s, e);
}

void Work() {
  std::unique_lock<std::mutex> g(gJobLock);
  for (;;) {
    gJobChanged.wait(g, [] { return gQuit || !gQueue.empty(); });
    if (gQuit) break;
    gRunning = gQueue.front();
    gQueue.pop_front();
    JobRef j = gRunning;
    g.unlock();
    RunJob(*j);
    g.lock();
    j->done = true;
    gRunning.reset();
    gJobChanged.notify_all();
  }
}

// Whether the session has no job queued or running.
bool Idle(const Session* s) {
  std::lock_guard<std::mutex> g(gJobLock);
  if (gRunning && gRunning->s.get() == s) return false;
  for (const JobRef& j : gQueue) {
    if (j->s.get() == s) return false;
  }
  return true;
}

uint32_t NewJobId() {
  std::lock_guard<std::mutex> g(gJobLock);
  while (gNextJob == 0) ++gNextJob;
  return gNextJob++;
}

// Queues a job; the worker starts with the first.
uint32_t Enqueue(JobRef j) {
  std::lock_guard<std::mutex> g(gJobLock);
  if (!gWorker.joinable()) {
    gQuit = false;
    gWorker = std::thread(Work);
  }
  while (gNextJob == 0) ++gNextJob;
  j->id = gNextJob++;
  gQueue.push_back(j);
  gJobChanged.notify_all();
  return j->id;
}

// Ends a job of the session (any job with id 0): a queued one leaves the
// queue with an abort event; a running one is stopped and waited for.
// False when the session has no such job.
bool Terminate(const Session* s, uint32_t id) {
  JobRef gone;
  bool found = false;
  {
    std::unique_lock<std::mutex> g(gJobLock);
    for (auto it = gQueue.begin(); it != gQueue.end(); ++it) {
      if ((*it)->s.get() == s && (!id || (*it)->id == id)) {
        gone = *it;
        gQueue.erase(it);
        found = true;
        break;
      }
    }
    if (!found && gRunning && gRunning->s.get() == s && (!id || gRunning->id == id)) {
      JobRef j = gRunning;
      j->stop.store(true);
      gJobChanged.wait(g, [&j] { return j->done; });
      found = true;
    }
  }
  if (gone) {
    Event e;
    e.type = kVisaEventIOCompletion;
    e.job = gone->id;
    e.status = kVisaErrAbort;
    Post(*gone->s, e);
  }
  return found;
}

// A closing session's jobs end.
void StopJobs(const Session* s) {
  while (Terminate(s, 0)) {
  }
}

// Stops the thread when the library is unloaded (by the last static
// object's destructor, which runs before those of the job state).
void StopWorker() {
  {
    std::lock_guard<std::mutex> g(gJobLock);
    gQuit = true;
    if (gRunning) gRunning->stop.store(true);
    gQueue.clear();
    gJobChanged.notify_all();
  }
  if (gWorker.joinable()) gWorker.join();
}
struct WorkerStop {
  ~WorkerStop() { StopWorker(); }
} gWorkerStop;

// ---- locks --------------------------------------------------------------------
struct LockState {
  QXViSession exclusive = 0;
  uint32_t depth = 0;  // nested exclusive locks
  std::string key;     // the shared lock's access key
  std::map<QXViSession, uint32_t> shared;
};
std::map<std::string, LockState> gLocks;  // by resource, under gLock
uint32_t gNextKey = 1;

// The closing session's locks go; under no mutex.
void DropLocks(const Session* s) {
  if (s->rsrc.empty()) return;
  std::lock_guard<std::mutex> g(gLock);
  auto it = gLocks.find(s->rsrc);
  if (it == gLocks.end()) return;
  // The session is out of the table already: find its number in the lock.
  LockState& l = it->second;
  for (auto j = l.shared.begin(); j != l.shared.end();) {
    j = gSessions.count(j->first) ? std::next(j) : l.shared.erase(j);
  }
  if (l.exclusive && !gSessions.count(l.exclusive)) l.exclusive = 0, l.depth = 0;
  if (!l.exclusive && l.shared.empty()) gLocks.erase(it);
}

// Sleeps a millisecond; false once the time-out (from start) has passed.
bool WaitMore(Clock::time_point start, uint32_t timeout) {
  if (timeout != kVisaForever && Clock::now() - start >= std::chrono::milliseconds(timeout)) return false;
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return true;
}

// Whether another session's lock keeps this one off its resource: an
// exclusive lock held elsewhere, or a shared lock this session does not share.
bool LockedOut(const Session& s, QXViSession vi) {
  if (s.rsrc.empty()) return false;
  std::lock_guard<std::mutex> g(gLock);
  auto it = gLocks.find(s.rsrc);
  if (it == gLocks.end()) return false;
  const LockState& l = it->second;
  if (l.exclusive) return l.exclusive != vi;
  return !l.shared.empty() && !l.shared.count(vi);
}

template <class T>
QXViStatus InWindow(Session& s, QXViSession vi, uint16_t space, uint64_t offset, uint64_t bytes, T&& act) {
  if (!s.win) return kVisaErrNoOperation;
  if (LockedOut(s, vi)) return kVisaErrRsrcLocked;
  if (space < kVisaA16 || space > kVisaA32) return kVisaErrInvSpace;
  std::lock_guard<std::mutex> g(s.win->m);
  if (offset + bytes > s.win->bytes.size()) return kVisaErrInvOffset;
  act(s.win->bytes.data() + offset);
  return kVisaOK;
}

// An address of the session's mapping, bytes wide: its window offset.
bool MappedOffset(const Session& s, const void* address, uint32_t bytes, uint32_t* offset) {
  if (!s.mapped) return false;
  uintptr_t base = reinterpret_cast<uintptr_t>(s.win->bytes.data()) + s.mapOffset;
  uintptr_t a = reinterpret_cast<uintptr_t>(address);
  if (a < base || a - base > s.mapSize || s.mapSize - (a - base) < bytes) return false;
  *offset = uint32_t(s.mapOffset + (a - base));
  return true;
}

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
      if (s->vxi && dev.window) s->win = WindowOf(r.board, r.primary, r.secondary, dev.window);
      s->rsrc = qxvisa::GPIBDescription(r.board, r.primary, r.secondary);
    }
  } else {
    s->kind = kTCP;
    s->board = r.board;
    s->rsrc = "TCPIP" + std::to_string(r.board) + "::" + r.host + "::" + std::to_string(r.port) + "::SOCKET";
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
  for (const SessionRef& s : gone) {
    StopJobs(s.get());
    DropLocks(s.get());
    Release(s);
  }
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
  bool wide = false;  // the value was written already, not as a u16
  if (!s) {
    st = kVisaErrInvObject;
  } else if (!value) {
    st = kVisaErrSystem;
  } else if (s->kind == kEvent) {
    st = EventAttribute(s->event, attr, value);
    wide = true;
  } else if (attr == kVisaAttrTimeout && s->kind != kFind && (Switches() & kQXVisaFailTimeout)) {
    st = kVisaErrNoAttr;
  } else if (attr == kVisaAttrTimeout && s->kind != kFind) {
    uint32_t t = s->timeout.load();
    std::memcpy(value, &t, sizeof t);
    wide = true;
  } else if (attr == kVisaAttrRsrcName && device) {
    CopyText(static_cast<char*>(value), s->rsrc);
    wide = true;
  } else if (attr == kVisaAttrTermCharEn && s->kind == kTCP) {
    u16 = s->termCharEn.load() ? 1 : 0;
  } else if (attr == kVisaAttrWinAccess && s->win) {
    std::lock_guard<std::mutex> g(s->win->m);
    u16 = s->mapped ? kVisaWinDeref : kVisaWinNotMapped;
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
  if (st == kVisaOK && !wide) std::memcpy(value, &u16, sizeof u16);
  Log("viGetAttribute", st, "%u,%08x", unsigned(vi), unsigned(attr));
  return st;
}

QX_EXPORT QXViStatus QX_VISA_CALL viSetAttribute(QXViSession vi, uint32_t attr, uint32_t value) {
  SessionRef s = Find(vi);
  QXViStatus st = kVisaOK;
  if (!s) st = kVisaErrInvObject;
  else if (attr == kVisaAttrTermCharEn && s->kind == kTCP && value <= 1) s->termCharEn.store(value != 0);
  else if (attr == kVisaAttrTermCharEn && s->kind == kTCP) st = kVisaErrBadAttrValue;
  else if (attr != kVisaAttrTimeout || s->kind == kFind || s->kind == kEvent) st = kVisaErrNoAttr;
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

namespace {
// The synchronous transfer both directions share: the session checked, then
// the bytes moved under the session's I/O lock by the bus or socket routine.
template <typename Buf, typename GPIBFn, typename TCPFn>
QXViStatus Transfer(const char* name, QXViSession vi, Buf buf, uint32_t count, uint32_t* retCount, GPIBFn onGPIB,
                    TCPFn onTCP) {
  if (retCount) *retCount = 0;
  SessionRef s = Find(vi);
  QXViStatus st = kVisaOK;
  uint32_t moved = 0;
  if (!s) {
    st = kVisaErrInvObject;
  } else if (s->kind != kGPIB && s->kind != kTCP) {
    st = kVisaErrNoOperation;
  } else if (!buf && count) {
    st = kVisaErrSystem;
  } else if (LockedOut(*s, vi)) {
    st = kVisaErrRsrcLocked;
  } else {
    std::lock_guard<std::mutex> io(s->io);
    st = s->kind == kGPIB ? onGPIB(*s, buf, count, &moved) : onTCP(*s, buf, count, &moved);
  }
  if (retCount) *retCount = moved;
  Log(name, st, "%u,%u", unsigned(vi), unsigned(count));
  return st;
}
}  // namespace

QX_EXPORT QXViStatus QX_VISA_CALL viRead(QXViSession vi, char* buf, uint32_t count, uint32_t* retCount) {
  return Transfer(
      "viRead", vi, buf, count, retCount,
      [](Session& s, char* b, uint32_t n, uint32_t* got) { return GPIBRead(s, b, n, got); },
      [](Session& s, char* b, uint32_t n, uint32_t* got) { return TCPRead(s, b, n, got); });
}

QX_EXPORT QXViStatus QX_VISA_CALL viWrite(QXViSession vi, const char* buf, uint32_t count, uint32_t* retCount) {
  return Transfer(
      "viWrite", vi, buf, count, retCount,
      [](Session& s, const char* b, uint32_t n, uint32_t* sent) { return GPIBWrite(s, b, n, sent); },
      [](Session& s, const char* b, uint32_t n, uint32_t* sent) { return TCPWrite(s, b, n, sent); });
}

// ---- asynchronous transfers -------------------------------------------------------

namespace {
QXViStatus StartJob(QXViSession vi, bool read, char* buf, const char* bytes, uint32_t count, uint32_t* jobId) {
  if (jobId) *jobId = 0;
  SessionRef s = Find(vi);
  if (!s) return kVisaErrInvObject;
  if (!IsDevice(s)) return kVisaErrNoOperation;
  if (count && !(read ? buf != nullptr : bytes != nullptr)) return kVisaErrSystem;
  if (LockedOut(*s, vi)) return kVisaErrRsrcLocked;
  auto j = std::make_shared<Job>();
  j->s = s;
  j->read = read;
  j->buf = buf;
  if (!read) j->data.assign(bytes ? bytes : "", count);
  j->count = count;
  // A socket read that its bytes at hand complete ends at once, its
  // completion queued as the I/O thread would (no hand-over to it); one
  // that must wait goes on there from the bytes taken.
  if (read && s->kind == kTCP && Idle(s.get()) && s->io.try_lock()) {
    uint32_t n = 0;
    QXViStatus st = TCPRead(*s, buf, count, &n, nullptr, true);
    s->io.unlock();
    if (st != kWouldBlock) {
      Event e;
      e.type = kVisaEventIOCompletion;
      e.job = NewJobId();
      e.status = st;
      e.count = n;
      Post(*s, e);
      if (jobId) *jobId = e.job;
      return kVisaOK;
    }
    j->taken = n;
  }
  uint32_t id = Enqueue(j);
  if (jobId) *jobId = id;
  return kVisaOK;
}
}  // namespace

#if QX_VISA_VARIANT != 3
QX_EXPORT QXViStatus QX_VISA_CALL viReadAsync(QXViSession vi, char* buf, uint32_t count, uint32_t* jobId) {
  QXViStatus st = StartJob(vi, true, buf, nullptr, count, jobId);
  Log("viReadAsync", st, "%u,%u", unsigned(vi), unsigned(count));
  return st;
}
#endif

QX_EXPORT QXViStatus QX_VISA_CALL viWriteAsync(QXViSession vi, const char* buf, uint32_t count, uint32_t* jobId) {
  QXViStatus st = StartJob(vi, false, nullptr, buf, count, jobId);
  Log("viWriteAsync", st, "%u,%u", unsigned(vi), unsigned(count));
  return st;
}

QX_EXPORT QXViStatus QX_VISA_CALL viTerminate(QXViSession vi, uint16_t degree, uint32_t jobId) {
  SessionRef s = Find(vi);
  QXViStatus st = !s ? kVisaErrInvObject : jobId && Terminate(s.get(), jobId) ? kVisaOK : kVisaErrInvJobId;
  Log("viTerminate", st, "%u,%u,%u", unsigned(vi), unsigned(degree), unsigned(jobId));
  return st;
}

// ---- events -------------------------------------------------------------------

QX_EXPORT QXViStatus QX_VISA_CALL viEnableEvent(QXViSession vi, uint32_t type, uint16_t mechanism, uint32_t) {
  SessionRef s = Find(vi);
  QXViStatus st = kVisaOK;
  uint32_t bit = s ? EventBit(*s, type) : 0;
  if (!s) st = kVisaErrInvObject;
  else if (!bit) st = kVisaErrInvEvent;
  else if (mechanism != kVisaQueue) st = kVisaErrInvMech;
  else {
    std::lock_guard<std::mutex> g(s->ev);
    if (s->enabled & bit) {
      st = kVisaEventEnabled;
    } else {
      s->enabled |= bit;
      // A request standing before the enable is no event.
      if (bit == kEvSRQ) s->srqTaken = Bus()->requesting(s->board, s->primary, s->secondary) != 0;
    }
  }
  Log("viEnableEvent", st, "%u,%08x,%u", unsigned(vi), unsigned(type), unsigned(mechanism));
  return st;
}

namespace {
// viDisableEvent and viDiscardEvents of one type, or of every type the
// session has.
QXViStatus EventOp(const char* name, QXViSession vi, uint32_t type, uint16_t mechanism, bool discard) {
  SessionRef s = Find(vi);
  QXViStatus st = kVisaOK;
  uint32_t bits = !s ? 0 : type == kVisaAllEnabledEvents ? (kEvIO | kEvSRQ | kEvTrigger | kEvVxi) : EventBit(*s, type);
  if (!s) st = kVisaErrInvObject;
  else if (!bits) st = kVisaErrInvEvent;
  else if (mechanism != kVisaQueue) st = kVisaErrInvMech;
  else {
    std::lock_guard<std::mutex> g(s->ev);
    if (discard) {
      LookForSRQ(*s);
      size_t before = s->events.size();
      for (auto it = s->events.begin(); it != s->events.end();) {
        it = (type == kVisaAllEnabledEvents || it->type == type) ? s->events.erase(it) : std::next(it);
      }
      if (before == s->events.size()) st = kVisaQueueEmpty;
    } else {
      if (!(s->enabled & bits)) st = kVisaEventDisabled;
      s->enabled &= ~bits;
    }
  }
  Log(name, st, "%u,%08x,%u", unsigned(vi), unsigned(type), unsigned(mechanism));
  return st;
}
}  // namespace

QX_EXPORT QXViStatus QX_VISA_CALL viDisableEvent(QXViSession vi, uint32_t type, uint16_t mechanism) {
  return EventOp("viDisableEvent", vi, type, mechanism, false);
}

QX_EXPORT QXViStatus QX_VISA_CALL viDiscardEvents(QXViSession vi, uint32_t type, uint16_t mechanism) {
  return EventOp("viDiscardEvents", vi, type, mechanism, true);
}

// Waits up to the time-out (ms; kVisaForever none) for a queued event of the
// type; the event becomes a context session of its own (closed by viClose).
QX_EXPORT QXViStatus QX_VISA_CALL viWaitOnEvent(QXViSession vi, uint32_t type, uint32_t timeout, uint32_t* outType,
                                                QXViSession* outContext) {
  if (outType) *outType = 0;
  if (outContext) *outContext = 0;
  SessionRef s = Find(vi);
  QXViStatus st = kVisaOK;
  uint32_t bit = !s ? 0 : type == kVisaAllEnabledEvents ? ~0u : EventBit(*s, type);
  Event e;
  if (!s) {
    st = kVisaErrInvObject;
  } else if (!bit) {
    st = kVisaErrInvEvent;
  } else {
    auto start = Clock::now();
    for (;;) {
      {
        std::lock_guard<std::mutex> g(s->ev);
        if (!(s->enabled & bit)) {
          st = kVisaErrNotEnabled;
          break;
        }
        if (TakeEvent(*s, type, &e)) break;
      }
      if (!WaitMore(start, timeout)) {
        st = kVisaErrTimeout;
        break;
      }
    }
  }
  if (st == kVisaOK) {
    if (outType) *outType = e.type;
    if (outContext) {
      auto c = std::make_shared<Session>();
      c->kind = kEvent;
      c->rm = s->rm;
      c->event = e;
      *outContext = Add(c);
    }
  }
  Log("viWaitOnEvent", st, "%u,%08x,%u", unsigned(vi), unsigned(type), unsigned(timeout));
  return st;
}

// ---- bus device operations -------------------------------------------------------

namespace {
QXViStatus BusStatus(int32_t r) {
  return r == kQXBusEnd ? kVisaOK : r == kQXBusTimeout ? kVisaErrTimeout : kVisaErrIO;
}
}  // namespace

QX_EXPORT QXViStatus QX_VISA_CALL viReadSTB(QXViSession vi, uint16_t* status) {
  SessionRef s = Find(vi);
  QXViStatus st;
  uint8_t byte = 0;
  if (!s) st = kVisaErrInvObject;
  else if (s->kind != kGPIB) st = kVisaErrNoOperation;
  else if (!status) st = kVisaErrSystem;
  else if (LockedOut(*s, vi)) st = kVisaErrRsrcLocked;
  else st = BusStatus(Bus()->poll(s->board, s->primary, s->secondary, &byte));
  if (status) *status = st == kVisaOK ? byte : 0;
  Log("viReadSTB", st, "%u", unsigned(vi));
  return st;
}

QX_EXPORT QXViStatus QX_VISA_CALL viAssertTrigger(QXViSession vi, uint16_t protocol) {
  SessionRef s = Find(vi);
  QXViStatus st;
  if (!s) st = kVisaErrInvObject;
  else if (s->kind != kGPIB) st = kVisaErrNoOperation;
  else if (protocol != 0) st = kVisaErrBadAttrValue;  // the bus knows only its default trigger
  else if (LockedOut(*s, vi)) st = kVisaErrRsrcLocked;
  else st = BusStatus(Bus()->trigger(s->board, s->primary, s->secondary));
  Log("viAssertTrigger", st, "%u,%u", unsigned(vi), unsigned(protocol));
  return st;
}

QX_EXPORT QXViStatus QX_VISA_CALL viClear(QXViSession vi) {
  SessionRef s = Find(vi);
  QXViStatus st;
  if (!s) st = kVisaErrInvObject;
  else if (s->kind != kGPIB) st = kVisaErrNoOperation;
  else if (LockedOut(*s, vi)) st = kVisaErrRsrcLocked;
  else st = BusStatus(Bus()->clear(s->board, s->primary, s->secondary));
  Log("viClear", st, "%u", unsigned(vi));
  return st;
}

// ---- registers of GPIB-VXI devices --------------------------------------------------

namespace {
template <class T>
QXViStatus In(QXViSession vi, uint16_t space, uint32_t offset, T* value) {
  if (value) *value = 0;
  SessionRef s = Find(vi);
  if (!s) return kVisaErrInvObject;
  if (!value) return kVisaErrSystem;
  return InWindow(*s, vi, space, offset, sizeof(T), [value](uint8_t* p) { std::memcpy(value, p, sizeof(T)); });
}
template <class T>
QXViStatus Out(QXViSession vi, uint16_t space, uint32_t offset, T value) {
  SessionRef s = Find(vi);
  if (!s) return kVisaErrInvObject;
  return InWindow(*s, vi, space, offset, sizeof(T), [value](uint8_t* p) { std::memcpy(p, &value, sizeof(T)); });
}
template <class T>
QXViStatus MoveIn(QXViSession vi, uint16_t space, uint32_t offset, uint32_t count, T* buf) {
  SessionRef s = Find(vi);
  if (!s) return kVisaErrInvObject;
  if (!buf && count) return kVisaErrSystem;
  return InWindow(*s, vi, space, offset, uint64_t(count) * sizeof(T),
                  [=](uint8_t* p) { std::memcpy(buf, p, size_t(count) * sizeof(T)); });
}
template <class T>
QXViStatus MoveOut(QXViSession vi, uint16_t space, uint32_t offset, uint32_t count, const T* buf) {
  SessionRef s = Find(vi);
  if (!s) return kVisaErrInvObject;
  if (!buf && count) return kVisaErrSystem;
  return InWindow(*s, vi, space, offset, uint64_t(count) * sizeof(T),
                  [=](uint8_t* p) { std::memcpy(p, buf, size_t(count) * sizeof(T)); });
}
template <class T>
QXViStatus Peek(QXViSession vi, const void* address, T* value) {
  if (value) *value = 0;
  SessionRef s = Find(vi);
  if (!s) return kVisaErrInvObject;
  if (!s->win) return kVisaErrNoOperation;
  if (!value) return kVisaErrSystem;
  if (LockedOut(*s, vi)) return kVisaErrRsrcLocked;
  std::lock_guard<std::mutex> g(s->win->m);
  uint32_t offset = 0;
  if (!s->mapped) return kVisaErrNotMapped;
  if (!MappedOffset(*s, address, sizeof(T), &offset)) return kVisaErrInvOffset;
  std::memcpy(value, s->win->bytes.data() + offset, sizeof(T));
  return kVisaOK;
}
template <class T>
QXViStatus Poke(QXViSession vi, void* address, T value) {
  SessionRef s = Find(vi);
  if (!s) return kVisaErrInvObject;
  if (!s->win) return kVisaErrNoOperation;
  if (LockedOut(*s, vi)) return kVisaErrRsrcLocked;
  std::lock_guard<std::mutex> g(s->win->m);
  uint32_t offset = 0;
  if (!s->mapped) return kVisaErrNotMapped;
  if (!MappedOffset(*s, address, sizeof(T), &offset)) return kVisaErrInvOffset;
  std::memcpy(s->win->bytes.data() + offset, &value, sizeof(T));
  return kVisaOK;
}
}  // namespace

QX_EXPORT QXViStatus QX_VISA_CALL viIn8(QXViSession vi, uint16_t sp, uint32_t off, uint8_t* v) {
  return In(vi, sp, off, v);
}
QX_EXPORT QXViStatus QX_VISA_CALL viIn16(QXViSession vi, uint16_t sp, uint32_t off, uint16_t* v) {
  return In(vi, sp, off, v);
}
QX_EXPORT QXViStatus QX_VISA_CALL viIn32(QXViSession vi, uint16_t sp, uint32_t off, uint32_t* v) {
  return In(vi, sp, off, v);
}
QX_EXPORT QXViStatus QX_VISA_CALL viOut8(QXViSession vi, uint16_t sp, uint32_t off, uint8_t v) {
  return Out(vi, sp, off, v);
}
QX_EXPORT QXViStatus QX_VISA_CALL viOut16(QXViSession vi, uint16_t sp, uint32_t off, uint16_t v) {
  return Out(vi, sp, off, v);
}
QX_EXPORT QXViStatus QX_VISA_CALL viOut32(QXViSession vi, uint16_t sp, uint32_t off, uint32_t v) {
  return Out(vi, sp, off, v);
}
QX_EXPORT QXViStatus QX_VISA_CALL viMoveIn8(QXViSession vi, uint16_t sp, uint32_t off, uint32_t n, uint8_t* b) {
  QXViStatus st = MoveIn(vi, sp, off, n, b);
  Log("viMoveIn8", st, "%u,%u,%u,%u", unsigned(vi), unsigned(sp), unsigned(off), unsigned(n));
  return st;
}
QX_EXPORT QXViStatus QX_VISA_CALL viMoveIn16(QXViSession vi, uint16_t sp, uint32_t off, uint32_t n, uint16_t* b) {
  return MoveIn(vi, sp, off, n, b);
}
QX_EXPORT QXViStatus QX_VISA_CALL viMoveIn32(QXViSession vi, uint16_t sp, uint32_t off, uint32_t n, uint32_t* b) {
  return MoveIn(vi, sp, off, n, b);
}
QX_EXPORT QXViStatus QX_VISA_CALL viMoveOut8(QXViSession vi, uint16_t sp, uint32_t off, uint32_t n,
                                             const uint8_t* b) {
  return MoveOut(vi, sp, off, n, b);
}
QX_EXPORT QXViStatus QX_VISA_CALL viMoveOut16(QXViSession vi, uint16_t sp, uint32_t off, uint32_t n,
                                              const uint16_t* b) {
  return MoveOut(vi, sp, off, n, b);
}
QX_EXPORT QXViStatus QX_VISA_CALL viMoveOut32(QXViSession vi, uint16_t sp, uint32_t off, uint32_t n,
                                              const uint32_t* b) {
  return MoveOut(vi, sp, off, n, b);
}

// Moves length elements of the source width within the window; both ends
// checked, overlap allowed.  Widths 1, 2 or 4 and equal.
QX_EXPORT QXViStatus QX_VISA_CALL viMove(QXViSession vi, uint16_t srcSpace, uint32_t srcOffset, uint16_t srcWidth,
                                         uint16_t dstSpace, uint32_t dstOffset, uint16_t dstWidth, uint32_t length) {
  SessionRef s = Find(vi);
  QXViStatus st = kVisaOK;
  if (!s) st = kVisaErrInvObject;
  else if (!s->win) st = kVisaErrNoOperation;
  else if (LockedOut(*s, vi)) st = kVisaErrRsrcLocked;
  else if ((srcWidth != 1 && srcWidth != 2 && srcWidth != 4) || dstWidth != srcWidth) st = kVisaErrInvWidth;
  else if (dstSpace < kVisaA16 || dstSpace > kVisaA32) st = kVisaErrInvSpace;
  else {
    uint64_t bytes = uint64_t(length) * srcWidth;
    std::lock_guard<std::mutex> g(s->win->m);
    uint64_t size = s->win->bytes.size();
    if (srcSpace < kVisaA16 || srcSpace > kVisaA32) st = kVisaErrInvSpace;
    else if (srcOffset + bytes > size || dstOffset + bytes > size) st = kVisaErrInvOffset;
    else std::memmove(s->win->bytes.data() + dstOffset, s->win->bytes.data() + srcOffset, size_t(bytes));
  }
  Log("viMove", st, "%u,%u,%u,%u,%u,%u,%u,%u", unsigned(vi), unsigned(srcSpace), unsigned(srcOffset),
      unsigned(srcWidth), unsigned(dstSpace), unsigned(dstOffset), unsigned(dstWidth), unsigned(length));
  return st;
}

// Maps size bytes of the window from offset: the address lies in the
// library's own copy of the registers, which may be read and written
// directly (window access 3) while mapped.
QX_EXPORT QXViStatus QX_VISA_CALL viMapAddress(QXViSession vi, uint16_t space, uint32_t offset, uint32_t size,
                                               uint16_t access, void* suggested, void** address) {
  (void)access, (void)suggested;
  if (address) *address = nullptr;
  SessionRef s = Find(vi);
  QXViStatus st = kVisaOK;
  if (!s) st = kVisaErrInvObject;
  else if (!s->win) st = kVisaErrNoOperation;
  else if (!address) st = kVisaErrSystem;
  else if (LockedOut(*s, vi)) st = kVisaErrRsrcLocked;
  else if (space < kVisaA16 || space > kVisaA32) st = kVisaErrInvSpace;
  else if (size == 0) st = kVisaErrInvSize;
  else {
    std::lock_guard<std::mutex> g(s->win->m);
    if (uint64_t(offset) + size > s->win->bytes.size()) {
      st = kVisaErrInvOffset;
    } else {
      s->mapped = true;
      s->mapOffset = offset;
      s->mapSize = size;
      *address = s->win->bytes.data() + offset;
    }
  }
  Log("viMapAddress", st, "%u,%u,%u,%u", unsigned(vi), unsigned(space), unsigned(offset), unsigned(size));
  return st;
}

QX_EXPORT QXViStatus QX_VISA_CALL viUnmapAddress(QXViSession vi) {
  SessionRef s = Find(vi);
  QXViStatus st = kVisaOK;
  if (!s) st = kVisaErrInvObject;
  else if (!s->win) st = kVisaErrNoOperation;
  else {
    std::lock_guard<std::mutex> g(s->win->m);
    if (!s->mapped) st = kVisaErrNotMapped;
    s->mapped = false;
  }
  Log("viUnmapAddress", st, "%u", unsigned(vi));
  return st;
}

QX_EXPORT QXViStatus QX_VISA_CALL viPeek8(QXViSession vi, void* a, uint8_t* v) {
  QXViStatus st = Peek(vi, a, v);
  Log("viPeek8", st, "%u", unsigned(vi));
  return st;
}
QX_EXPORT QXViStatus QX_VISA_CALL viPeek16(QXViSession vi, void* a, uint16_t* v) { return Peek(vi, a, v); }
QX_EXPORT QXViStatus QX_VISA_CALL viPeek32(QXViSession vi, void* a, uint32_t* v) {
  QXViStatus st = Peek(vi, a, v);
  Log("viPeek32", st, "%u", unsigned(vi));
  return st;
}
QX_EXPORT QXViStatus QX_VISA_CALL viPoke8(QXViSession vi, void* a, uint8_t v) { return Poke(vi, a, v); }
QX_EXPORT QXViStatus QX_VISA_CALL viPoke16(QXViSession vi, void* a, uint16_t v) { return Poke(vi, a, v); }
QX_EXPORT QXViStatus QX_VISA_CALL viPoke32(QXViSession vi, void* a, uint32_t v) {
  QXViStatus st = Poke(vi, a, v);
  Log("viPoke32", st, "%u", unsigned(vi));
  return st;
}

// Reserves size bytes of the window (first fit); the offset is the start.
QX_EXPORT QXViStatus QX_VISA_CALL viMemAlloc(QXViSession vi, uint32_t size, uint32_t* offset) {
  if (offset) *offset = 0;
  SessionRef s = Find(vi);
  QXViStatus st = kVisaOK;
  if (!s) st = kVisaErrInvObject;
  else if (!s->win) st = kVisaErrNoOperation;
  else if (!offset) st = kVisaErrSystem;
  else if (LockedOut(*s, vi)) st = kVisaErrRsrcLocked;
  else if (size == 0) st = kVisaErrInvSize;
  else {
    std::lock_guard<std::mutex> g(s->win->m);
    uint64_t at = 0;
    for (auto& [start, bytes] : s->win->allocs) {
      if (start - at >= size) break;
      at = uint64_t(start) + bytes;
    }
    if (at + size > s->win->bytes.size()) {
      st = kVisaErrAlloc;
    } else {
      s->win->allocs[uint32_t(at)] = size;
      *offset = uint32_t(at);
    }
  }
  Log("viMemAlloc", st, "%u,%u", unsigned(vi), unsigned(size));
  return st;
}

QX_EXPORT QXViStatus QX_VISA_CALL viMemFree(QXViSession vi, uint32_t offset) {
  SessionRef s = Find(vi);
  QXViStatus st = kVisaOK;
  if (!s) st = kVisaErrInvObject;
  else if (!s->win) st = kVisaErrNoOperation;
  else if (LockedOut(*s, vi)) st = kVisaErrRsrcLocked;
  else {
    std::lock_guard<std::mutex> g(s->win->m);
    if (!s->win->allocs.erase(offset)) st = kVisaErrInvOffset;
  }
  Log("viMemFree", st, "%u,%u", unsigned(vi), unsigned(offset));
  return st;
}

// ---- locks ----------------------------------------------------------------------

// An exclusive lock (1) keeps every other session of the resource out; a
// shared lock (2) is held by every session that gives its access key (the
// first holder's requested key, or one the library makes) and keeps the
// others out.  Both nest.  A session kept out gets kVisaErrRsrcLocked from
// transfers, bus and register operations and buffer calls.
QX_EXPORT QXViStatus QX_VISA_CALL viLock(QXViSession vi, uint32_t type, uint32_t timeout, const char* requestedKey,
                                         char* accessKey) {
  if (accessKey) accessKey[0] = '\0';
  SessionRef s = Find(vi);
  QXViStatus st = kVisaOK;
  std::string want = requestedKey ? std::string(requestedKey, strnlen(requestedKey, kVisaDescSize - 1)) : "";
  if (!s) st = kVisaErrInvObject;
  else if (!IsDevice(s)) st = kVisaErrNoOperation;
  else if (type != kVisaExclusiveLock && type != kVisaSharedLock) st = kVisaErrInvLockType;
  else {
    auto start = Clock::now();
    for (;;) {
      {
        std::lock_guard<std::mutex> g(gLock);
        LockState& l = gLocks[s->rsrc];
        bool others = l.exclusive && l.exclusive != vi;
        if (type == kVisaExclusiveLock) {
          for (auto& [holder, n] : l.shared) others = others || holder != vi;
          if (!others) {
            l.exclusive = vi;
            ++l.depth;
            break;
          }
        } else if (!others && (l.shared.empty() || l.shared.count(vi) || want == l.key)) {
          if (l.shared.empty()) l.key = want.empty() ? "QxLock" + std::to_string(gNextKey++) : want;
          ++l.shared[vi];
          if (accessKey) CopyText(accessKey, l.key);
          break;
        }
      }
      if (!WaitMore(start, timeout)) {
        st = kVisaErrRsrcLocked;
        break;
      }
    }
  }
  Log("viLock", st, "%u,%u,%u", unsigned(vi), unsigned(type), unsigned(timeout));
  return st;
}

QX_EXPORT QXViStatus QX_VISA_CALL viUnlock(QXViSession vi) {
  SessionRef s = Find(vi);
  QXViStatus st = kVisaOK;
  if (!s) {
    st = kVisaErrInvObject;
  } else {
    std::lock_guard<std::mutex> g(gLock);
    auto it = gLocks.find(s->rsrc);
    LockState* l = it == gLocks.end() ? nullptr : &it->second;
    if (l && l->exclusive == vi) {
      if (--l->depth == 0) l->exclusive = 0;
    } else if (l && l->shared.count(vi)) {
      if (--l->shared[vi] == 0) l->shared.erase(vi);
    } else {
      st = kVisaErrNotLocked;
    }
    if (l && !l->exclusive && l->shared.empty()) gLocks.erase(it);
  }
  Log("viUnlock", st, "%u", unsigned(vi));
  return st;
}

// ---- buffers ----------------------------------------------------------------------

QX_EXPORT QXViStatus QX_VISA_CALL viSetBuf(QXViSession vi, uint16_t mask, uint32_t size) {
  SessionRef s = Find(vi);
  QXViStatus st = kVisaOK;
  if (!s) st = kVisaErrInvObject;
  else if (!IsDevice(s)) st = kVisaErrNoOperation;
  else if (!mask || (mask & ~(kVisaInBuf | kVisaOutBuf))) st = kVisaErrInvMask;
  else if (LockedOut(*s, vi)) st = kVisaErrRsrcLocked;
  else if (size == 0) st = kVisaErrInvSize;
  else {
    std::lock_guard<std::mutex> io(s->io);
    if (mask & kVisaInBuf) s->inBuf = size;
    if (mask & kVisaOutBuf) s->outBuf = size;
  }
  Log("viSetBuf", st, "%u,%u,%u", unsigned(vi), unsigned(mask), unsigned(size));
  return st;
}

// Input flushes drop the bytes received past the last read; output is never
// held back, so its flushes have nothing to do.
QX_EXPORT QXViStatus QX_VISA_CALL viFlush(QXViSession vi, uint16_t mask) {
  SessionRef s = Find(vi);
  QXViStatus st = kVisaOK;
  const uint16_t known = kVisaInBuf | kVisaOutBuf | kVisaInDiscard | kVisaOutDiscard;
  if (!s) st = kVisaErrInvObject;
  else if (!IsDevice(s)) st = kVisaErrNoOperation;
  else if (!mask || (mask & ~known)) st = kVisaErrInvMask;
  else if (LockedOut(*s, vi)) st = kVisaErrRsrcLocked;
  else if (mask & (kVisaInBuf | kVisaInDiscard)) {
    std::lock_guard<std::mutex> io(s->io);
    s->pending.clear();
  }
  Log("viFlush", st, "%u,%u", unsigned(vi), unsigned(mask));
  return st;
}
