// libqxgpib.so: the GPIB driver library over a simulated bus.  Boards 0-999
// exist, each empty until the device file (QX_INSTR_CONFIG) puts devices on
// it.  Board descriptors are the board numbers; device descriptors start at
// kFirstDevice.  One mutex guards the whole bus; the status of each call is
// kept for its thread and in the exported variables.
#include <pthread.h>
#include <valgrind/helgrind.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/instr/instrconf.h"
#include "platform/instr/qxgpib.h"

#define QX_EXPORT extern "C" __attribute__((visibility("default")))

// Test builds of the library change what it exports: another year, a
// foreign identification, no count.
#if QX_GPIB_VARIANT == 1
#define QX_GPIB_IDENT_TEXT "Quenlix GPIB 1999 simulated bus driver"
#elif QX_GPIB_VARIANT == 2
#define QX_GPIB_IDENT_TEXT "Quenlix GPIX 2026 simulated bus driver"
#else
#define QX_GPIB_IDENT_TEXT QX_GPIB_IDENT_LITERAL
#endif
#if QX_GPIB_VARIANT == 3
#define QX_GPIB_NO_IBCNTL 1
#endif

#define QX_DATA __attribute__((visibility("default")))
extern "C" {
QX_DATA extern const char qxgpib_ident[];
const char qxgpib_ident[] = QX_GPIB_IDENT_TEXT;
QX_DATA int user_ibsta = 0;
QX_DATA int user_iberr = 0;
#ifndef QX_GPIB_NO_IBCNTL
QX_DATA long user_ibcntl = 0;
#endif
}
#ifdef QX_GPIB_NO_IBCNTL
static long user_ibcntl = 0;
#endif

namespace {

using qxinstr::Item;

constexpr int kBoards = 1000;
constexpr int kFirstDevice = 1000;
constexpr int kMaxDevices = 1024;
constexpr int kDefaultCode = 13;
const uint32_t kCodeMs[18] = {0, 0, 0, 0, 0, 1, 3, 10, 30, 100, 300, 1000, 3000, 10000, 30000, 100000, 300000, 1000000};

struct Device {
  Item conf;
  std::vector<std::pair<std::string, std::string>> answers;
  bool srq = false;
  // What the bus did to the device.
  std::string input;   // bytes of the message being received
  std::string output;  // the reply not yet read
  std::chrono::steady_clock::time_point readyAt{};  // the reply is readable from then
  bool remote = false, lockout = false;
  int triggers = 0, clears = 0;
  int ppc = 0;  // parallel poll configuration byte; 0 none
};
typedef std::tuple<int, int, int> DevKey;  // board, primary, secondary (-1 none)

struct Board {
  int controller = 1, async = 1;  // configured
  int rsc = 1;                    // system controller now
  bool cic = false, sre = false, online = false;
  int pad = 0, sad = 0, tmo = kDefaultCode, eos = 0, eot = 1, repeat = 1;
  int ist = 0, dma = 1, ppc = 0, rsv = 0;
  // The devices addressed to listen and to talk by command bytes; -1 none.
  std::vector<std::tuple<int, int, int>> listeners;
  int talkerPad = -1, talkerSad = -1;
  int lastPrimary = -1;  // a secondary address byte applies to it
  bool lastWasTalk = false;
};

struct Descriptor {
  bool used = false;
  int board = 0, pad = 0, sad = 0, tmo = kDefaultCode, eos = 0, eot = 1, repeat = 1;
};

// An asynchronous transfer and, once done, its outcome, kept for ibwait
// until the descriptor's next transfer.
struct Async {
  bool busy = false, stop = false, done = false, read = false;
  unsigned char* buffer = nullptr;  // the caller's, for a read
  std::string data;                 // a copy of the bytes to write
  int count = 0, eos = 0, eot = 1, board = 0, code = 0;
  std::tuple<int, int, int> device{-1, -1, -1};
  bool toBoard = false;
  int sta = 0, err = 0, cnt = 0;
};

struct Bus {
  std::mutex lock;
  std::condition_variable changed;
  bool loaded = false;
  Board boards[kBoards];
  std::map<DevKey, Device> devices;
  Descriptor descs[kMaxDevices];
  bool logging = false;
  std::string log;
  int32_t visaSwitches = 0;
  // Asynchronous transfers by descriptor, run by the worker one at a time.
  std::map<int, struct Async> async;
  std::vector<int> jobs;
  bool workerStarted = false;
};
Bus& TheBus() {
  // Never destroyed: the worker thread may still wait on it at exit.
  alignas(Bus) static unsigned char storage[sizeof(Bus)];
  static Bus* bus = new (storage) Bus;
  return *bus;
}

thread_local int tSta = 0, tErr = 0, tCnt = 0;

void Report(void*, uint32_t line, const std::string& why) {
  std::fprintf(stderr, "libqxgpib: device file line %u: %s\n", unsigned(line), why.c_str());
}

bool ApplyItem(void* ctx, const Item& item, std::string* why) {
  Bus& bus = *static_cast<Bus*>(ctx);
  switch (item.kind) {
    case qxinstr::kItemBoard: {
      Board& b = bus.boards[item.board];
      b.controller = item.controller;
      b.async = item.async;
      if (!b.online) b.rsc = b.controller;
      break;
    }
    case qxinstr::kItemDevice: {
      Device& d = bus.devices[DevKey(item.board, item.primary, item.secondary)];
      d.conf = item;
      break;
    }
    default: {
      auto it = bus.devices.find(DevKey(item.board, item.primary, item.secondary));
      if (it == bus.devices.end()) {
        *why = "answer for a device not on the bus";
        return false;
      }
      for (auto& a : it->second.answers) {
        if (a.first == item.query) {
          a.second = item.reply;
          return true;
        }
      }
      it->second.answers.emplace_back(item.query, item.reply);
      break;
    }
  }
  return true;
}

// Back to the device file's state.  Under the bus lock.
void Load(Bus& bus, std::unique_lock<std::mutex>& hold) {
  // Transfers in progress end first: the worker must not write into a bus
  // that is being replaced.
  for (auto& [ud, a] : bus.async) a.stop = true;
  bus.changed.notify_all();
  bus.changed.wait(hold, [&] {
    for (auto& [ud, a] : bus.async) {
      if (a.busy) return false;
    }
    return true;
  });
  bus.async.clear();
  bus.jobs.clear();
  for (Board& b : bus.boards) b = Board();
  for (Descriptor& d : bus.descs) d = Descriptor();
  bus.devices.clear();
  bus.log.clear();
  bus.visaSwitches = 0;
  if (const char* path = std::getenv(kQXInstrConfigVar)) qxinstr::ReadFile(path, ApplyItem, Report, &bus);
  bus.loaded = true;
}

// The bus, loaded on first use and locked.
struct Call {
  Bus& bus;
  std::unique_lock<std::mutex> hold;
  Call() : bus(TheBus()), hold(bus.lock) {
    if (!bus.loaded) {
      // The exported status is the last writer's; readers in other threads
      // take whatever call finished last.
      ANNOTATE_BENIGN_RACE_SIZED(&user_ibsta, sizeof user_ibsta, "last call's status");
      ANNOTATE_BENIGN_RACE_SIZED(&user_iberr, sizeof user_iberr, "last call's error");
      ANNOTATE_BENIGN_RACE_SIZED(&user_ibcntl, sizeof user_ibcntl, "last call's count");
      Load(bus, hold);
    }
  }
  Board* BoardOf(int ud) { return ud >= 0 && ud < kBoards ? &bus.boards[ud] : nullptr; }
  Descriptor* DeviceOf(int ud) {
    return ud >= kFirstDevice && ud < kFirstDevice + kMaxDevices && bus.descs[ud - kFirstDevice].used
               ? &bus.descs[ud - kFirstDevice]
               : nullptr;
  }
  bool BoardSrq(int board) {
    for (auto& [key, d] : bus.devices) {
      if (std::get<0>(key) == board && d.srq) return true;
    }
    return false;
  }
  // The status bits a descriptor shows besides ERR and CMPL.
  int State(int ud) {
    if (Board* b = BoardOf(ud)) return (b->cic ? kGpibCIC : 0) | (BoardSrq(ud) ? kGpibSRQI : 0);
    if (Descriptor* d = DeviceOf(ud)) {
      int s = bus.boards[d->board].cic ? kGpibCIC : 0;
      auto it = bus.devices.find(DevKey(d->board, d->pad, d->sad ? d->sad - 0x60 : -1));
      if (it != bus.devices.end() && it->second.srq) s |= kGpibRQS;
      return s;
    }
    return 0;
  }
  // Names the call for the log; its arguments are formatted only while the
  // log runs.
  const char* routine = "";
  char args[256] = "";
  void Trace(const char* name, const char* fmt, ...) __attribute__((format(printf, 3, 4))) {
    routine = name;
    if (!bus.logging) return;
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(args, sizeof args, fmt, ap);
    va_end(ap);
  }
  // Ends a call: its status for the thread, the exports and the log.
  int Finish(int sta, int err, int cnt) {
    tSta = sta;
    tErr = err;
    tCnt = cnt;
    __atomic_store_n(&user_ibsta, sta, __ATOMIC_RELAXED);
    __atomic_store_n(&user_iberr, err, __ATOMIC_RELAXED);
    __atomic_store_n(&user_ibcntl, long(cnt), __ATOMIC_RELAXED);
    if (bus.logging) {
      char line[320];
      std::snprintf(line, sizeof line, "%s(%s) %04x\n", routine, args, unsigned(sta) & 0xFFFF);
      bus.log += line;
    }
    return sta;
  }
  // CMPL unless an asynchronous transfer runs on the descriptor.
  int Cmpl(int ud) {
    auto it = bus.async.find(ud);
    return it != bus.async.end() && it->second.busy ? 0 : kGpibCMPL;
  }
  int Ok(int ud, int err, int cnt = 0) { return Finish(Cmpl(ud) | State(ud), err, cnt); }
  int Fail(int ud, int err, int cnt = 0) { return Finish(kGpibERR | State(ud), err, cnt); }
  Device* Find(const DevKey& key) {
    auto it = bus.devices.find(key);
    return it == bus.devices.end() ? nullptr : &it->second;
  }
};

bool ValidSad(int v) { return v == 0 || (v >= 0x60 && v <= 0x7E); }

// The settings a descriptor keeps, board or device.
enum Setting { kTmo, kEos, kEot, kPad, kSad, kRsc };
int* SettingOf(Board* b, Descriptor* d, Setting s) {
  switch (s) {
    case kTmo: return b ? &b->tmo : &d->tmo;
    case kEos: return b ? &b->eos : &d->eos;
    case kEot: return b ? &b->eot : &d->eot;
    case kPad: return b ? &b->pad : &d->pad;
    case kSad: return b ? &b->sad : &d->sad;
    default: return b ? &b->rsc : nullptr;
  }
}
bool ValidSetting(Setting s, int v) {
  switch (s) {
    case kTmo: return v >= 0 && v <= 17;
    case kEos: return v >= 0 && v <= 0xFFFF;
    case kPad: return v >= 0 && v <= 30;
    case kSad: return ValidSad(v);
    default: return true;
  }
}

// A setting changed; the previous value goes to the error code.
int SetSetting(const char* routine, Setting s, int ud, int v) {
  Call c;
  c.Trace(routine, "%d,%d", ud, v);
  Board* b = c.BoardOf(ud);
  Descriptor* d = b ? nullptr : c.DeviceOf(ud);
  int* slot = (b || d) ? SettingOf(b, d, s) : nullptr;
  if (!slot || !ValidSetting(s, v)) return c.Fail(ud, kGpibErrArgument);
  int previous = *slot;
  *slot = (s == kEot || s == kRsc) ? (v != 0) : v;
  if (s == kRsc && !*slot) b->cic = false;
  return c.Ok(ud, previous);
}

}  // namespace

QX_EXPORT int QX_GPIB_CALL ibfindA(const char* name) {
  Call c;
  c.Trace("ibfindA", "%.64s", name ? name : "(null)");
  int board = -1;
  if (name && std::strncmp(name, "gpib", 4) == 0) {
    const char* p = name + 4;
    int v = 0, n = 0;
    while (*p >= '0' && *p <= '9' && n < 4) v = v * 10 + (*p++ - '0'), ++n;
    if (n > 0 && *p == '\0' && v < kBoards) board = v;
  }
  if (board < 0) {
    c.Fail(-1, kGpibErrArgument);
    return -1;
  }
  c.bus.boards[board].online = true;
  c.Ok(board, 0);
  return board;
}

QX_EXPORT int QX_GPIB_CALL ibdev(int board, int pad, int sad, int tmo, int eot, int eos) {
  Call c;
  c.Trace("ibdev", "%d,%d,%d,%d,%d,%d", board, pad, sad, tmo, eot, eos);
  if (board < 0 || board >= kBoards || pad < 0 || pad > 30 || !ValidSad(sad) || tmo < 0 || tmo > 17 || eos < 0 ||
      eos > 0xFFFF) {
    c.Fail(-1, kGpibErrArgument);
    return -1;
  }
  for (int i = 0; i < kMaxDevices; ++i) {
    Descriptor& d = c.bus.descs[i];
    if (d.used) continue;
    d = Descriptor{true, board, pad, sad, tmo, eos, eot != 0, 1};
    c.Ok(kFirstDevice + i, 0);
    return kFirstDevice + i;
  }
  c.Fail(-1, kGpibErrNoDescriptor);
  return -1;
}

QX_EXPORT int QX_GPIB_CALL ibonl(int ud, int v) {
  Call c;
  c.Trace("ibonl", "%d,%d", ud, v);
  if (!v && (c.BoardOf(ud) || c.DeviceOf(ud))) {
    // A transfer still running on the descriptor ends first: the caller's
    // buffer may go with the close.
    auto it = c.bus.async.find(ud);
    if (it != c.bus.async.end() && it->second.busy) {
      it->second.stop = true;
      c.bus.changed.notify_all();
      c.bus.changed.wait(c.hold, [&] {
        auto i = c.bus.async.find(ud);
        return i == c.bus.async.end() || !i->second.busy;
      });
    }
    c.bus.async.erase(ud);
  }
  if (Board* b = c.BoardOf(ud)) {
    if (!v) {
      int controller = b->controller, async = b->async;
      *b = Board();
      b->controller = controller;
      b->async = async;
      b->rsc = controller;
    }
    return c.Ok(ud, 0);
  }
  if (Descriptor* d = c.DeviceOf(ud)) {
    int sta = c.Ok(ud, 0);
    if (!v) *d = Descriptor();
    return sta;
  }
  return c.Fail(ud, kGpibErrArgument);
}

QX_EXPORT int QX_GPIB_CALL ibrsc(int ud, int v) { return SetSetting("ibrsc", kRsc, ud, v); }
QX_EXPORT int QX_GPIB_CALL ibtmo(int ud, int v) { return SetSetting("ibtmo", kTmo, ud, v); }
QX_EXPORT int QX_GPIB_CALL ibeos(int ud, int v) { return SetSetting("ibeos", kEos, ud, v); }
QX_EXPORT int QX_GPIB_CALL ibeot(int ud, int v) { return SetSetting("ibeot", kEot, ud, v); }
QX_EXPORT int QX_GPIB_CALL ibpad(int ud, int v) { return SetSetting("ibpad", kPad, ud, v); }
QX_EXPORT int QX_GPIB_CALL ibsad(int ud, int v) { return SetSetting("ibsad", kSad, ud, v); }

QX_EXPORT int QX_GPIB_CALL ibsic(int ud) {
  Call c;
  c.Trace("ibsic", "%d", ud);
  Board* b = c.BoardOf(ud);
  if (!b) return c.Fail(ud, kGpibErrArgument);
  if (!b->rsc) return c.Fail(ud, kGpibErrNotSysCtrl);
  b->cic = true;
  c.bus.changed.notify_all();
  return c.Ok(ud, 0);
}

QX_EXPORT int QX_GPIB_CALL ibsre(int ud, int v) {
  Call c;
  c.Trace("ibsre", "%d,%d", ud, v);
  Board* b = c.BoardOf(ud);
  if (!b) return c.Fail(ud, kGpibErrArgument);
  if (!b->rsc) return c.Fail(ud, kGpibErrNotSysCtrl);
  b->sre = v != 0;
  return c.Ok(ud, 0);
}

QX_EXPORT int QX_GPIB_CALL ibconfig(int ud, int option, int v) {
  Call c;
  c.Trace("ibconfig", "%d,%d,%d", ud, option, v);
  Board* b = c.BoardOf(ud);
  Descriptor* d = b ? nullptr : c.DeviceOf(ud);
  if ((!b && !d) || option != kGpibOptRepeatAddressing || (v != 0 && v != 1)) {
    return c.Fail(ud, kGpibErrArgument);
  }
  int& slot = b ? b->repeat : d->repeat;
  int previous = slot;
  slot = v;
  return c.Ok(ud, previous);
}

namespace {

using Clock = std::chrono::steady_clock;

// The end of a wait of a time-limit code; code 0 has none.
bool LimitEnd(int code, Clock::time_point* end) {
  if (code <= 0 || code > 17) return false;
  *end = Clock::now() + std::chrono::milliseconds(code >= 5 ? kCodeMs[code] : 1);
  return true;
}

// Waits for a bus change, at most until end when there is one; false once
// end has passed.
bool WaitChange(Call& c, bool limited, Clock::time_point end) {
  if (!limited) {
    c.bus.changed.wait(c.hold);
    return true;
  }
  // A timed wait sleeps in slices of at most a millisecond with the bus
  // unlocked, and the caller looks again: the 64-bit-time timed condition
  // wait of this target is one that thread checkers cannot follow.
  Clock::duration left = end - Clock::now();
  if (left <= Clock::duration::zero()) return false;
  c.hold.unlock();
  std::this_thread::sleep_for(std::min<Clock::duration>(left, std::chrono::milliseconds(1)));
  c.hold.lock();
  return Clock::now() < end;
}

DevKey KeyOf(int board, int pad, int sad) { return DevKey(board, pad, sad >= 0x60 ? sad - 0x60 : -1); }

// The outcome of a transfer: status bits (ERR, TIMO, END), error, count.
struct Xfer {
  int sta = 0, err = 0, cnt = 0;
};

// A completed message: what the device does with it.
void Handle(Bus& bus, Device& d, std::string message) {
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
    message.pop_back();
  }
  if (message.empty()) return;
  if (d.conf.hasSrqAfter && message == d.conf.srqAfter) d.srq = true;
  const std::string* reply = nullptr;
  if (message == "*IDN?" && !d.conf.idn.empty()) reply = &d.conf.idn;
  for (auto& a : d.answers) {
    if (a.first == message) reply = &a.second;
  }
  if (reply) {
    static const char* const kTerm[] = {"", "\n", "\r", "\r\n"};
    d.output = *reply + kTerm[d.conf.eos >= 0 && d.conf.eos <= 3 ? d.conf.eos : 1];
    d.readyAt = Clock::now() + std::chrono::milliseconds(d.conf.delay);
  }
  bus.changed.notify_all();
}

// Bytes to a device; a message ends at LF or at the byte sent with EOI.
void Deliver(Bus& bus, Device& d, const unsigned char* p, int n, bool eoi) {
  for (int i = 0; i < n; ++i) {
    d.input.push_back(char(p[i]));
    if (p[i] == '\n' || (eoi && i == n - 1)) {
      std::string message;
      message.swap(d.input);
      Handle(bus, d, std::move(message));
    }
  }
}

// A device that fails: fail=system at once, fail=timeout once the limit
// (or a stop) ends the wait.  False for a device that works.
bool Failing(Call& c, const DevKey& key, int code, const bool* stop, Xfer* x) {
  Device* d = c.Find(key);
  if (!d || d->conf.fail == qxinstr::kFailNone) return false;
  if (d->conf.fail == qxinstr::kFailSystem) {
    *x = Xfer{kGpibERR, kGpibErrSystem, 5};
    return true;
  }
  Clock::time_point end;
  bool limited = LimitEnd(code, &end);
  while (!(stop && *stop) && WaitChange(c, limited, end)) {
  }
  *x = stop && *stop ? Xfer{kGpibERR, kGpibErrTimeout, 0} : Xfer{kGpibERR | kGpibTIMO, kGpibErrTimeout, 0};
  return true;
}

// Writes to the listeners: EOI with the last byte when eoi.  No listener,
// or one that is not on the bus or does not listen, is error 2.
Xfer WriteTo(Call& c, int board, const std::vector<DevKey>& listeners, const unsigned char* p, int n, bool eoi,
             int code, const bool* stop) {
  Board& b = c.bus.boards[board];
  if (!b.cic) return Xfer{kGpibERR, kGpibErrNotCIC, 0};
  if (n < 0 || (n > 0 && !p)) return Xfer{kGpibERR, kGpibErrArgument, 0};
  if (listeners.empty()) return Xfer{kGpibERR, kGpibErrNoListener, 0};
  for (const DevKey& key : listeners) {
    Device* d = c.Find(key);
    if (!d || !d->conf.listen) return Xfer{kGpibERR, kGpibErrNoListener, 0};
    Xfer x;
    if (Failing(c, key, code, stop, &x)) return x;
  }
  for (const DevKey& key : listeners) {
    if (Device* d = c.Find(key)) Deliver(c.bus, *d, p, n, eoi);
  }
  return Xfer{0, 0, n};
}

// Reads from a talker up to n bytes, to the end byte when eos has 0x0400,
// or to the device's EOI (END).  Nothing readable within the limit is TIMO.
Xfer ReadFrom(Call& c, int board, const DevKey& key, unsigned char* p, int n, int eos, int code,
              const bool* stop) {
  if (!c.bus.boards[board].cic) return Xfer{kGpibERR, kGpibErrNotCIC, 0};
  if (n < 0 || (n > 0 && !p)) return Xfer{kGpibERR, kGpibErrArgument, 0};
  Xfer x;
  if (Failing(c, key, code, stop, &x)) return x;
  Clock::time_point end;
  bool limited = LimitEnd(code, &end);
  for (;;) {
    if (stop && *stop) return Xfer{kGpibERR, kGpibErrTimeout, 0};
    Device* d = c.Find(key);
    Clock::time_point now = Clock::now();
    if (d && !d->output.empty() && now >= d->readyAt) break;
    Clock::time_point until = end;
    bool bounded = limited;
    if (d && !d->output.empty() && (!limited || d->readyAt < end)) until = d->readyAt, bounded = true;
    if (!WaitChange(c, bounded, until) && bounded && until == end && limited) {
      return Xfer{kGpibERR | kGpibTIMO, kGpibErrTimeout, 0};
    }
  }
  Device& d = *c.Find(key);
  int got = 0;
  bool ended = false;
  size_t used = 0;
  while (got < n && used < d.output.size()) {
    unsigned char byte = static_cast<unsigned char>(d.output[used++]);
    p[got++] = byte;
    if ((eos & 0x0400) && byte == (eos & 0xFF)) {
      ended = true;
      break;
    }
  }
  d.output.erase(0, used);
  if (d.output.empty()) ended = true;  // EOI came with the last byte
  return Xfer{ended ? kGpibEND : 0, 0, got};
}

// A descriptor's transfer partners: a device itself, or for the board the
// devices its command bytes addressed.
bool Partners(Call& c, int ud, int* board, std::vector<DevKey>* listeners, DevKey* talker, int* eos, int* eot,
              int* code) {
  if (Board* b = c.BoardOf(ud)) {
    *board = ud;
    *listeners = b->listeners;
    *talker = DevKey(ud, b->talkerPad, b->talkerSad);
    *eos = b->eos, *eot = b->eot, *code = b->tmo;
    return true;
  }
  if (Descriptor* d = c.DeviceOf(ud)) {
    *board = d->board;
    *talker = KeyOf(d->board, d->pad, d->sad);
    listeners->assign(1, *talker);
    *eos = d->eos, *eot = d->eot, *code = d->tmo;
    return true;
  }
  return false;
}

// Command bytes on a board: addressing, and the universal and addressed
// commands the devices act on.
void Commands(Call& c, int board, const unsigned char* p, int n) {
  Board& b = c.bus.boards[board];
  for (int i = 0; i < n; ++i) {
    int byte = p[i] & 0x7F;
    auto each = [&](auto&& act) {
      for (const DevKey& k : b.listeners) {
        if (Device* d = c.Find(k)) act(*d);
      }
    };
    if (byte == 0x3F) {
      b.listeners.clear();
    } else if (byte == 0x5F) {
      b.talkerPad = b.talkerSad = -1;
    } else if (byte >= 0x20 && byte <= 0x3E) {
      b.listeners.emplace_back(board, byte - 0x20, -1);
      b.lastPrimary = byte - 0x20, b.lastWasTalk = false;
    } else if (byte >= 0x40 && byte <= 0x5E) {
      b.talkerPad = byte - 0x40, b.talkerSad = -1;
      b.lastPrimary = byte - 0x40, b.lastWasTalk = true;
    } else if (byte >= 0x60 && byte <= 0x7E && b.lastPrimary >= 0) {
      if (b.lastWasTalk) b.talkerSad = byte - 0x60;
      else if (!b.listeners.empty()) std::get<2>(b.listeners.back()) = byte - 0x60;
    } else if (byte == 0x14) {  // DCL
      for (auto& [key, d] : c.bus.devices) {
        if (std::get<0>(key) == board) d.input.clear(), d.output.clear(), d.srq = false, ++d.clears;
      }
    } else if (byte == 0x04) {  // SDC
      each([](Device& d) { d.input.clear(), d.output.clear(), d.srq = false, ++d.clears; });
    } else if (byte == 0x08) {  // GET
      each([](Device& d) { ++d.triggers; });
    } else if (byte == 0x01) {  // GTL
      each([](Device& d) { d.remote = false; });
    } else if (byte == 0x11) {  // LLO
      for (auto& [key, d] : c.bus.devices) {
        if (std::get<0>(key) == board) d.lockout = true;
      }
    } else if (byte == 0x15) {  // PPU
      for (auto& [key, d] : c.bus.devices) {
        if (std::get<0>(key) == board) d.ppc = 0;
      }
    }
  }
  c.bus.changed.notify_all();
}

// Quoted text of up to 48 bytes for the log.
std::string Quote(const unsigned char* p, int n) {
  std::string out = "\"";
  for (int i = 0; p && i < n && i < 48; ++i) {
    char e[8];
    unsigned char ch = p[i];
    if (ch == '\r') out += "\\r";
    else if (ch == '\n') out += "\\n";
    else if (ch == '"' || ch == '\\') out += '\\', out += char(ch);
    else if (ch < 0x20 || ch >= 0x7F) std::snprintf(e, sizeof e, "\\x%02X", ch), out += e;
    else out += char(ch);
  }
  if (n > 48) out += "...";
  return out + "\"";
}

// The serial poll byte of a device: its own bits, 0x40 while it requests
// service; the poll takes the request back.
int Poll(Bus& bus, Device& d) {
  int byte = int(d.conf.poll & 0xBF) | (d.srq ? 0x40 : 0);
  d.srq = false;
  bus.changed.notify_all();
  return byte;
}

Xfer Transfer(Call& c, Async& a, const bool* stop) {
  if (a.read) {
    return ReadFrom(c, a.board, a.device, a.buffer, a.count, a.eos, a.code, stop);
  }
  std::vector<DevKey> listeners;
  if (a.toBoard) listeners = c.bus.boards[a.board].listeners;
  else listeners.assign(1, a.device);
  return WriteTo(c, a.board, listeners, reinterpret_cast<const unsigned char*>(a.data.data()),
                 int(a.data.size()), a.eot != 0, a.code, stop);
}

// The library's worker: runs the asynchronous transfers one at a time.
void Worker() {
  for (;;) {
    Call c;
    c.bus.changed.wait(c.hold, [&] { return !c.bus.jobs.empty(); });
    int ud = c.bus.jobs.front();
    c.bus.jobs.erase(c.bus.jobs.begin());
    auto it = c.bus.async.find(ud);
    if (it == c.bus.async.end() || !it->second.busy) continue;
    Async& a = it->second;  // map nodes stay put; Load waits for busy ones
    Xfer x = Transfer(c, a, &a.stop);
    a.sta = x.sta, a.err = x.err, a.cnt = x.cnt;
    a.busy = false;
    a.done = true;
    c.bus.changed.notify_all();
  }
}

// A transfer on a descriptor, run now or handed to the worker.
int StartTransfer(const char* name, int ud, unsigned char* buf, const unsigned char* data, int n, bool read,
                  bool async) {
  Call c;
  Async job;
  std::vector<DevKey> listeners;
  int eos = 0, eot = 1, code = 0;
  bool known = Partners(c, ud, &job.board, &listeners, &job.device, &eos, &eot, &code);
  // Writes are logged with their bytes and whether EOI goes with the last.
  if (read) c.Trace(name, "%d,%d", ud, n);
  else if (c.bus.logging) c.Trace(name, "%d,%s,%d%s", ud, Quote(data, n).c_str(), n, eot ? ",EOI" : "");
  else c.Trace(name, "%s", "");
  if (!known) return c.Fail(ud, kGpibErrArgument);
  Async& slot = c.bus.async[ud];
  if (slot.busy) return c.Fail(ud, kGpibErrInProgress);
  slot.done = false;
  if (async) {
    if (!c.bus.boards[job.board].async) return c.Fail(ud, kGpibErrNoAsync);
    if (n < 0 || (n > 0 && !(read ? static_cast<const void*>(buf) : data))) return c.Fail(ud, kGpibErrArgument);
    job.read = read, job.buffer = buf, job.count = n, job.eos = eos, job.eot = eot, job.code = code;
    job.toBoard = c.BoardOf(ud) != nullptr;
    if (!read && n > 0) job.data.assign(reinterpret_cast<const char*>(data), size_t(n));
    job.busy = true;
    slot = std::move(job);
    c.bus.jobs.push_back(ud);
    if (!c.bus.workerStarted) {
      std::thread(Worker).detach();  // lives as long as the process (the library is never unloaded)
      c.bus.workerStarted = true;
    }
    c.bus.changed.notify_all();
    return c.Finish(c.State(ud), 0, 0);
  }
  Xfer x = read ? ReadFrom(c, job.board, job.device, buf, n, eos, code, nullptr)
                : WriteTo(c, job.board, listeners, data, n, eot != 0, code, nullptr);
  return c.Finish(x.sta | kGpibCMPL | c.State(ud), x.err, x.cnt);
}

// Reads an address list ended by 0xFFFF (at most 31 x 32 entries).
std::vector<int> List(const uint16_t* list) {
  std::vector<int> out;
  for (int i = 0; list && list[i] != 0xFFFF && i < 31 * 32; ++i) out.push_back(list[i]);
  return out;
}
DevKey AddrKey(int board, int addr) { return KeyOf(board, addr & 0xFF, (addr >> 8) & 0xFF); }
bool ValidAddr(int addr) { return (addr & 0xFF) <= 30 && ValidSad((addr >> 8) & 0xFF) && addr <= 0x7E1E; }

// The head of a 488.2 routine: the board, which must be controller in
// charge; false (the call finished) otherwise.
bool Board4882(Call& c, int board) {
  Board* b = c.BoardOf(board);
  if (!b) return c.Fail(-1, kGpibErrArgument), false;
  if (!b->cic) return c.Fail(board, kGpibErrNotCIC), false;
  return true;
}

// A list of addresses, each of which must be a valid address.
bool Addresses(Call& c, int board, const uint16_t* list, std::vector<int>* out) {
  *out = List(list);
  for (int a : *out) {
    if (!ValidAddr(a)) return c.Fail(board, kGpibErrArgument), false;
  }
  return true;
}

// 488.2 end modes: 0 no EOI, 1 a LF sent with EOI after the data, 2 EOI
// with the last byte.  Termination of receives: 0x100 at EOI only, else the
// end byte too.
int Send4882(Call& c, int board, const std::vector<DevKey>& to, const unsigned char* p, int n, int mode) {
  if (mode < 0 || mode > 2) return c.Fail(board, kGpibErrArgument);
  int code = c.bus.boards[board].tmo;
  Xfer x = WriteTo(c, board, to, p, n, mode == 2, code, nullptr);
  if (!(x.sta & kGpibERR) && mode == 1) {
    static const unsigned char lf = '\n';
    Xfer y = WriteTo(c, board, to, &lf, 1, true, code, nullptr);
    if (y.sta & kGpibERR) x = y;
  }
  return c.Finish(x.sta | kGpibCMPL | c.State(board), x.err, x.cnt);
}

int Receive4882(Call& c, int board, const DevKey& from, unsigned char* p, int n, int term) {
  int eos = term == 0x100 ? 0 : 0x0400 | (term & 0xFF);
  Xfer x = ReadFrom(c, board, from, p, n, eos, c.bus.boards[board].tmo, nullptr);
  return c.Finish(x.sta | kGpibCMPL | c.State(board), x.err, x.cnt);
}

}  // namespace

// Waits until the descriptor shows one of the mask's bits, or, with TIMO in
// the mask, until its time limit passes; mask 0 only reports the status.
// CMPL waits for the descriptor's asynchronous transfer, up to its limit;
// once that transfer is done its outcome is reported until the next one.
QX_EXPORT int QX_GPIB_CALL ibwait(int ud, int mask) {
  Call c;
  c.Trace("ibwait", "%d,%d", ud, mask);
  Board* b = c.BoardOf(ud);
  Descriptor* d = b ? nullptr : c.DeviceOf(ud);
  const int allowed = kGpibTIMO | kGpibSRQI | kGpibRQS | kGpibCMPL | kGpibCIC | kGpibDTAS | kGpibDCAS;
  if ((!b && !d) || (mask & ~allowed) || (d && (mask & (kGpibSRQI | kGpibCIC | kGpibDTAS | kGpibDCAS)))) {
    return c.Fail(ud, kGpibErrArgument);
  }
  int code = b ? b->tmo : d->tmo;
  int wanted = mask & ~kGpibTIMO;
  if (wanted) {
    Clock::time_point end;
    bool limited = ((mask & kGpibTIMO) || (mask & kGpibCMPL)) && LimitEnd(code, &end);
    while (!((c.State(ud) | c.Cmpl(ud)) & wanted)) {
      if (!WaitChange(c, limited, end)) {
        if ((c.State(ud) | c.Cmpl(ud)) & wanted) break;
        return c.Finish(kGpibTIMO | c.Cmpl(ud) | c.State(ud), 0, 0);
      }
      b = c.BoardOf(ud), d = b ? nullptr : c.DeviceOf(ud);
      if (!b && !d) return c.Fail(ud, kGpibErrArgument);
    }
  }
  auto it = c.bus.async.find(ud);
  if (it != c.bus.async.end() && it->second.done) {
    const Async& a = it->second;
    return c.Finish(a.sta | kGpibCMPL | c.State(ud), a.err, a.cnt);
  }
  // Nothing new to report: the thread's error and count stay as they were.
  return c.Finish(c.Cmpl(ud) | c.State(ud), tErr, tCnt);
}

// The test build of another year lacks ibrd and Receive.
#if QX_GPIB_VARIANT != 1
QX_EXPORT int QX_GPIB_CALL ibrd(int ud, unsigned char* buf, long n) {
  return StartTransfer("ibrd", ud, buf, nullptr, int(n), true, false);
}
#endif
QX_EXPORT int QX_GPIB_CALL ibrda(int ud, unsigned char* buf, long n) {
  return StartTransfer("ibrda", ud, buf, nullptr, int(n), true, true);
}
QX_EXPORT int QX_GPIB_CALL ibwrt(int ud, const unsigned char* buf, long n) {
  return StartTransfer("ibwrt", ud, nullptr, buf, int(n), false, false);
}
QX_EXPORT int QX_GPIB_CALL ibwrta(int ud, const unsigned char* buf, long n) {
  return StartTransfer("ibwrta", ud, nullptr, buf, int(n), false, true);
}

// Ends the descriptor's asynchronous transfer: ERR, error 6.
QX_EXPORT int QX_GPIB_CALL ibstop(int ud) {
  Call c;
  c.Trace("ibstop", "%d", ud);
  if (!c.BoardOf(ud) && !c.DeviceOf(ud)) return c.Fail(ud, kGpibErrArgument);
  auto it = c.bus.async.find(ud);
  if (it == c.bus.async.end() || !it->second.busy) return c.Ok(ud, 0);
  it->second.stop = true;
  c.bus.changed.notify_all();
  c.bus.changed.wait(c.hold, [&] {
    auto i = c.bus.async.find(ud);
    return i == c.bus.async.end() || !i->second.busy;
  });
  it = c.bus.async.find(ud);
  int cnt = it == c.bus.async.end() ? 0 : it->second.cnt;
  if (it != c.bus.async.end()) it->second.sta |= kGpibERR, it->second.err = kGpibErrTimeout;
  return c.Finish(kGpibERR | kGpibCMPL | c.State(ud), kGpibErrTimeout, cnt);
}

QX_EXPORT int QX_GPIB_CALL ibcmd(int ud, const unsigned char* p, long n) {
  Call c;
  if (c.bus.logging) c.Trace("ibcmd", "%d,%s,%ld", ud, Quote(p, int(n)).c_str(), n);
  else c.Trace("ibcmd", "%s", "");
  Board* b = c.BoardOf(ud);
  if (!b || n < 0 || (n > 0 && !p)) return c.Fail(ud, kGpibErrArgument);
  if (!b->cic) return c.Fail(ud, kGpibErrNotCIC);
  Commands(c, ud, p, int(n));
  return c.Ok(ud, 0, int(n));
}

// The board settings that take 0 or 1 (or a byte) and leave the previous
// one in the error code.
namespace {
int BoardFlag(const char* name, int Board::*field, int ud, int v, int top, bool needCIC) {
  Call c;
  c.Trace(name, "%d,%d", ud, v);
  Board* b = c.BoardOf(ud);
  if (!b || v < 0 || v > top) return c.Fail(ud, kGpibErrArgument);
  if (needCIC && !b->cic) return c.Fail(ud, kGpibErrNotCIC);
  int previous = b->*field;
  b->*field = v;
  return c.Ok(ud, previous);
}
int gCac = 0, gGts = 0;  // nothing keeps these; they are checked and logged
}  // namespace

QX_EXPORT int QX_GPIB_CALL ibdma(int ud, int v) { return BoardFlag("ibdma", &Board::dma, ud, v != 0, 1, false); }
QX_EXPORT int QX_GPIB_CALL ibist(int ud, int v) { return BoardFlag("ibist", &Board::ist, ud, v != 0, 1, false); }
QX_EXPORT int QX_GPIB_CALL ibrsv(int ud, int v) { return BoardFlag("ibrsv", &Board::rsv, ud, v, 255, false); }

QX_EXPORT int QX_GPIB_CALL ibcac(int ud, int v) {
  Call c;
  c.Trace("ibcac", "%d,%d", ud, v);
  Board* b = c.BoardOf(ud);
  if (!b) return c.Fail(ud, kGpibErrArgument);
  if (!b->cic) return c.Fail(ud, kGpibErrNotCIC);
  gCac = v;
  return c.Ok(ud, 0);
}

QX_EXPORT int QX_GPIB_CALL ibgts(int ud, int v) {
  Call c;
  c.Trace("ibgts", "%d,%d", ud, v);
  Board* b = c.BoardOf(ud);
  if (!b) return c.Fail(ud, kGpibErrArgument);
  if (!b->cic) return c.Fail(ud, kGpibErrNotCIC);
  gGts = v;
  return c.Ok(ud, 0);
}

QX_EXPORT int QX_GPIB_CALL ibclr(int ud) {
  Call c;
  c.Trace("ibclr", "%d", ud);
  static const unsigned char kDcl = 0x14, kSdc[] = {0x3F, 0, 0x04};
  if (c.BoardOf(ud)) {  // the board: every device cleared
    if (!c.bus.boards[ud].cic) return c.Fail(ud, kGpibErrNotCIC);
    Commands(c, ud, &kDcl, 1);
    return c.Ok(ud, 0);
  }
  Descriptor* d = c.DeviceOf(ud);
  if (!d) return c.Fail(ud, kGpibErrArgument);
  Board& b = c.bus.boards[d->board];
  if (!b.cic) return c.Fail(ud, kGpibErrNotCIC);
  Device* dev = c.Find(KeyOf(d->board, d->pad, d->sad));
  if (!dev || !dev->conf.listen) return c.Fail(ud, kGpibErrNoListener);
  unsigned char cmd[4] = {kSdc[0], static_cast<unsigned char>(0x20 + d->pad), 0, 0};
  int n = 2;
  if (d->sad) cmd[n++] = static_cast<unsigned char>(d->sad);
  cmd[n++] = 0x04;
  Commands(c, d->board, cmd, n);
  return c.Ok(ud, 0);
}

QX_EXPORT int QX_GPIB_CALL ibtrg(int ud) {
  Call c;
  c.Trace("ibtrg", "%d", ud);
  Descriptor* d = c.DeviceOf(ud);
  if (!d) return c.Fail(ud, kGpibErrArgument);
  if (!c.bus.boards[d->board].cic) return c.Fail(ud, kGpibErrNotCIC);
  Device* dev = c.Find(KeyOf(d->board, d->pad, d->sad));
  if (!dev || !dev->conf.listen) return c.Fail(ud, kGpibErrNoListener);
  ++dev->triggers;
  return c.Ok(ud, 0);
}

QX_EXPORT int QX_GPIB_CALL ibloc(int ud) {
  Call c;
  c.Trace("ibloc", "%d", ud);
  if (c.BoardOf(ud)) return c.Ok(ud, 0);
  Descriptor* d = c.DeviceOf(ud);
  if (!d) return c.Fail(ud, kGpibErrArgument);
  if (Device* dev = c.Find(KeyOf(d->board, d->pad, d->sad))) dev->remote = false;
  return c.Ok(ud, 0);
}

// Passes control to the device: the board is no longer controller in charge.
QX_EXPORT int QX_GPIB_CALL ibpct(int ud) {
  Call c;
  c.Trace("ibpct", "%d", ud);
  Descriptor* d = c.DeviceOf(ud);
  if (!d) return c.Fail(ud, kGpibErrArgument);
  Board& b = c.bus.boards[d->board];
  if (!b.cic) return c.Fail(ud, kGpibErrNotCIC);
  if (!c.Find(KeyOf(d->board, d->pad, d->sad))) return c.Fail(ud, kGpibErrNoListener);
  b.cic = false;
  return c.Ok(ud, 0);
}

// Parallel poll configuration: 0x60-0x6F configures, 0x70-0x7F and 0
// disable; the previous byte goes to the error code.
QX_EXPORT int QX_GPIB_CALL ibppc(int ud, int v) {
  Call c;
  c.Trace("ibppc", "%d,%d", ud, v);
  Board* b = c.BoardOf(ud);
  Descriptor* d = b ? nullptr : c.DeviceOf(ud);
  if ((!b && !d) || !(v == 0 || (v >= 0x60 && v <= 0x7F))) return c.Fail(ud, kGpibErrArgument);
  int previous = 0;
  if (b) {
    previous = b->ppc, b->ppc = v;
  } else {
    Device* dev = c.Find(KeyOf(d->board, d->pad, d->sad));
    if (!dev) return c.Fail(ud, kGpibErrNoListener);
    previous = dev->ppc, dev->ppc = v >= 0x70 ? 0 : v;
  }
  return c.Ok(ud, previous);
}

namespace {
// The parallel poll byte of a board: each configured device answers on its
// line when its request for service matches the configured sense.
int ParallelPoll(Call& c, int board) {
  int byte = 0;
  for (auto& [key, d] : c.bus.devices) {
    if (std::get<0>(key) != board || !(d.ppc >= 0x60 && d.ppc <= 0x6F)) continue;
    int sense = (d.ppc >> 3) & 1;
    if ((d.srq ? 1 : 0) == sense) byte |= 1 << (d.ppc & 7);
  }
  return byte;
}
}  // namespace

QX_EXPORT int QX_GPIB_CALL ibrpp(int ud, unsigned char* result) {
  Call c;
  c.Trace("ibrpp", "%d", ud);
  Board* b = c.BoardOf(ud);
  if (!b || !result) return c.Fail(ud, kGpibErrArgument);
  if (!b->cic) return c.Fail(ud, kGpibErrNotCIC);
  *result = static_cast<unsigned char>(ParallelPoll(c, ud));
  return c.Ok(ud, 0);
}

// The serial poll byte of the device; its request for service ends.
QX_EXPORT int QX_GPIB_CALL ibrsp(int ud, unsigned char* result) {
  Call c;
  c.Trace("ibrsp", "%d", ud);
  Descriptor* d = c.DeviceOf(ud);
  if (!d || !result) return c.Fail(ud, kGpibErrArgument);
  if (!c.bus.boards[d->board].cic) return c.Fail(ud, kGpibErrNotCIC);
  DevKey key = KeyOf(d->board, d->pad, d->sad);
  Xfer x;
  if (Failing(c, key, d->tmo, nullptr, &x)) return c.Finish(x.sta | kGpibCMPL | c.State(ud), x.err, x.cnt);
  Device* dev = c.Find(key);
  if (!dev) {  // nobody answers the poll
    Clock::time_point end;
    bool limited = LimitEnd(d->tmo, &end);
    while (WaitChange(c, limited, end)) {
    }
    return c.Finish(kGpibERR | kGpibTIMO | kGpibCMPL | c.State(ud), kGpibErrTimeout, 0);
  }
  *result = static_cast<unsigned char>(Poll(c.bus, *dev));
  return c.Ok(ud, 0);
}

// IEEE 488.2 routines: the board number first, address lists ended by
// 0xFFFF.
namespace {
// Addressing bytes: unlisten, the board as talker or listener, then the
// device(s).
void Address(Call& c, int board, const std::vector<int>& listeners, int talker) {
  Board& b = c.bus.boards[board];
  b.listeners.clear();
  for (int a : listeners) b.listeners.push_back(AddrKey(board, a));
  if (talker >= 0) {
    DevKey k = AddrKey(board, talker);
    b.talkerPad = std::get<1>(k), b.talkerSad = std::get<2>(k) < 0 ? -1 : std::get<2>(k);
  }
}
// Devices of a list (or every device of the board for a list of none) get act.
template <class F>
void ForEach(Call& c, int board, const std::vector<int>& list, F act) {
  if (list.empty()) {
    for (auto& [key, d] : c.bus.devices) {
      if (std::get<0>(key) == board) act(d);
    }
    return;
  }
  for (int a : list) {
    if (Device* d = c.Find(AddrKey(board, a))) act(*d);
  }
}
bool AllPresent(Call& c, int board, const std::vector<int>& list) {
  for (int a : list) {
    if (!c.Find(AddrKey(board, a))) return false;
  }
  return true;
}
}  // namespace

#define QX_4882_HEAD(name, fmt, ...) \
  Call c;                            \
  c.Trace(name, fmt, __VA_ARGS__);   \
  if (!Board4882(c, board)) return;

QX_EXPORT void QX_GPIB_CALL SendIFC(int board) {
  Call c;
  c.Trace("SendIFC", "%d", board);
  Board* b = c.BoardOf(board);
  if (!b) return void(c.Fail(-1, kGpibErrArgument));
  if (!b->rsc) return void(c.Fail(board, kGpibErrNotSysCtrl));
  b->cic = true;
  b->listeners.clear();
  b->talkerPad = b->talkerSad = -1;
  c.bus.changed.notify_all();
  c.Ok(board, 0);
}

QX_EXPORT void QX_GPIB_CALL EnableRemote(int board, const uint16_t* list) {
  QX_4882_HEAD("EnableRemote", "%d,%d", board, int(List(list).size()));
  std::vector<int> l;
  if (!Addresses(c, board, list, &l)) return;
  if (!c.bus.boards[board].rsc) return void(c.Fail(board, kGpibErrNotSysCtrl));
  c.bus.boards[board].sre = true;
  ForEach(c, board, l, [](Device& d) { d.remote = true; });
  c.Ok(board, 0);
}

QX_EXPORT void QX_GPIB_CALL EnableLocal(int board, const uint16_t* list) {
  QX_4882_HEAD("EnableLocal", "%d,%d", board, int(List(list).size()));
  std::vector<int> l;
  if (!Addresses(c, board, list, &l)) return;
  if (l.empty()) c.bus.boards[board].sre = false;
  ForEach(c, board, l, [](Device& d) { d.remote = false, d.lockout = false; });
  c.Ok(board, 0);
}

QX_EXPORT void QX_GPIB_CALL SetRWLS(int board, const uint16_t* list) {
  QX_4882_HEAD("SetRWLS", "%d,%d", board, int(List(list).size()));
  std::vector<int> l;
  if (!Addresses(c, board, list, &l)) return;
  c.bus.boards[board].sre = true;
  ForEach(c, board, l, [](Device& d) { d.remote = true, d.lockout = true; });
  c.Ok(board, 0);
}

QX_EXPORT void QX_GPIB_CALL SendLLO(int board) {
  QX_4882_HEAD("SendLLO", "%d", board);
  static const unsigned char kLlo = 0x11;
  Commands(c, board, &kLlo, 1);
  c.Ok(board, 0);
}

QX_EXPORT void QX_GPIB_CALL DevClear(int board, int addr) {
  QX_4882_HEAD("DevClear", "%d,%d", board, addr);
  if (addr != 0xFFFF && !ValidAddr(addr)) return void(c.Fail(board, kGpibErrArgument));
  std::vector<int> l;
  if (addr != 0xFFFF) l.push_back(addr);
  if (!AllPresent(c, board, l)) return void(c.Fail(board, kGpibErrNoListener));
  ForEach(c, board, l, [](Device& d) { d.input.clear(), d.output.clear(), d.srq = false, ++d.clears; });
  c.bus.changed.notify_all();
  c.Ok(board, 0);
}

QX_EXPORT void QX_GPIB_CALL DevClearList(int board, const uint16_t* list) {
  QX_4882_HEAD("DevClearList", "%d,%d", board, int(List(list).size()));
  std::vector<int> l;
  if (!Addresses(c, board, list, &l)) return;
  if (!AllPresent(c, board, l)) return void(c.Fail(board, kGpibErrNoListener));
  ForEach(c, board, l, [](Device& d) { d.input.clear(), d.output.clear(), d.srq = false, ++d.clears; });
  c.bus.changed.notify_all();
  c.Ok(board, 0);
}

// Interface clear, remote enable, device clear and "*RST" to every device
// of the list.
QX_EXPORT void QX_GPIB_CALL ResetSys(int board, const uint16_t* list) {
  QX_4882_HEAD("ResetSys", "%d,%d", board, int(List(list).size()));
  std::vector<int> l;
  if (!Addresses(c, board, list, &l)) return;
  if (!AllPresent(c, board, l)) return void(c.Fail(board, kGpibErrNoListener));
  c.bus.boards[board].sre = true;
  ForEach(c, board, l, [&](Device& d) {
    d.input.clear(), d.output.clear(), d.srq = false, ++d.clears;
    Handle(c.bus, d, "*RST");
  });
  c.Ok(board, 0);
}

QX_EXPORT void QX_GPIB_CALL Trigger(int board, int addr) {
  QX_4882_HEAD("Trigger", "%d,%d", board, addr);
  std::vector<int> l;
  if (addr != 0xFFFF) l.push_back(addr);
  if ((addr != 0xFFFF && !ValidAddr(addr))) return void(c.Fail(board, kGpibErrArgument));
  if (!AllPresent(c, board, l)) return void(c.Fail(board, kGpibErrNoListener));
  ForEach(c, board, l, [](Device& d) { ++d.triggers; });
  c.Ok(board, 0);
}

QX_EXPORT void QX_GPIB_CALL TriggerList(int board, const uint16_t* list) {
  QX_4882_HEAD("TriggerList", "%d,%d", board, int(List(list).size()));
  std::vector<int> l;
  if (!Addresses(c, board, list, &l)) return;
  if (!AllPresent(c, board, l)) return void(c.Fail(board, kGpibErrNoListener));
  ForEach(c, board, l, [](Device& d) { ++d.triggers; });
  c.Ok(board, 0);
}

QX_EXPORT void QX_GPIB_CALL PassControl(int board, int addr) {
  QX_4882_HEAD("PassControl", "%d,%d", board, addr);
  if (!ValidAddr(addr) || !c.Find(AddrKey(board, addr))) return void(c.Fail(board, kGpibErrArgument));
  c.bus.boards[board].cic = false;
  c.Ok(board, 0);
}

// Line 1-8, sense 0 or 1.
QX_EXPORT void QX_GPIB_CALL PPollConfig(int board, int addr, int line, int sense) {
  QX_4882_HEAD("PPollConfig", "%d,%d,%d,%d", board, addr, line, sense);
  Device* d = ValidAddr(addr) ? c.Find(AddrKey(board, addr)) : nullptr;
  if (!d || line < 1 || line > 8 || (sense != 0 && sense != 1)) return void(c.Fail(board, kGpibErrArgument));
  d->ppc = 0x60 | (sense << 3) | (line - 1);
  c.Ok(board, 0);
}

QX_EXPORT void QX_GPIB_CALL PPollUnconfig(int board, const uint16_t* list) {
  QX_4882_HEAD("PPollUnconfig", "%d,%d", board, int(List(list).size()));
  std::vector<int> l;
  if (!Addresses(c, board, list, &l)) return;
  ForEach(c, board, l, [](Device& d) { d.ppc = 0; });
  c.Ok(board, 0);
}

QX_EXPORT void QX_GPIB_CALL PPoll(int board, uint16_t* result) {
  QX_4882_HEAD("PPoll", "%d", board);
  if (!result) return void(c.Fail(board, kGpibErrArgument));
  *result = uint16_t(ParallelPoll(c, board));
  c.Ok(board, 0);
}

QX_EXPORT void QX_GPIB_CALL ReadStatusByte(int board, int addr, uint16_t* result) {
  QX_4882_HEAD("ReadStatusByte", "%d,%d", board, addr);
  Device* d = ValidAddr(addr) ? c.Find(AddrKey(board, addr)) : nullptr;
  if (!result || !ValidAddr(addr)) return void(c.Fail(board, kGpibErrArgument));
  if (!d) return void(c.Finish(kGpibERR | kGpibTIMO | kGpibCMPL | c.State(board), kGpibErrTimeout, 0));
  *result = uint16_t(Poll(c.bus, *d));
  c.Ok(board, 0, 1);
}

// One poll byte per address; the count is the number polled.
QX_EXPORT void QX_GPIB_CALL AllSpoll(int board, const uint16_t* list, uint16_t* results) {
  QX_4882_HEAD("AllSpoll", "%d,%d", board, int(List(list).size()));
  std::vector<int> l;
  if (!Addresses(c, board, list, &l)) return;
  if (!results && !l.empty()) return void(c.Fail(board, kGpibErrArgument));
  for (size_t i = 0; i < l.size(); ++i) {
    Device* d = c.Find(AddrKey(board, l[i]));
    if (!d) return void(c.Finish(kGpibERR | kGpibTIMO | kGpibCMPL | c.State(board), kGpibErrTimeout, int(i)));
    results[i] = uint16_t(Poll(c.bus, *d));
  }
  c.Ok(board, 0, int(l.size()));
}

// Polls in turn until a device requests service: its byte, the count its
// index; none is error 20 with the count of the list.
QX_EXPORT void QX_GPIB_CALL FindRQS(int board, const uint16_t* list, uint16_t* result) {
  QX_4882_HEAD("FindRQS", "%d,%d", board, int(List(list).size()));
  std::vector<int> l;
  if (!Addresses(c, board, list, &l)) return;
  for (size_t i = 0; i < l.size(); ++i) {
    Device* d = c.Find(AddrKey(board, l[i]));
    if (!d) return void(c.Finish(kGpibERR | kGpibTIMO | kGpibCMPL | c.State(board), kGpibErrTimeout, int(i)));
    if (!d->srq) continue;
    int byte = Poll(c.bus, *d);
    if (result) *result = uint16_t(byte);
    return void(c.Ok(board, 0, int(i)));
  }
  c.Fail(board, kGpibErrNoRequest, int(l.size()));
}

// The listening devices at the given primaries (and their secondaries), at
// most limit of them; more is error 20.
QX_EXPORT void QX_GPIB_CALL FindLstn(int board, const uint16_t* pads, uint16_t* results, int limit) {
  QX_4882_HEAD("FindLstn", "%d,%d,%d", board, int(List(pads).size()), limit);
  std::vector<int> l = List(pads);
  if (limit < 0 || (limit > 0 && !results)) return void(c.Fail(board, kGpibErrArgument));
  int found = 0;
  for (int pad : l) {
    if (pad < 0 || pad > 30) return void(c.Fail(board, kGpibErrArgument, found));
    for (int sad = -1; sad <= 30; ++sad) {
      Device* d = c.Find(DevKey(board, pad, sad));
      if (!d || !d->conf.listen) continue;
      if (found >= limit) return void(c.Fail(board, kGpibErrNoRequest, found));
      results[found++] = uint16_t(pad | (sad < 0 ? 0 : (sad + 0x60) << 8));
    }
  }
  c.Ok(board, 0, found);
}

// Every device's self-test result, 0 (passed).
QX_EXPORT void QX_GPIB_CALL TestSys(int board, const uint16_t* list, uint16_t* results) {
  QX_4882_HEAD("TestSys", "%d,%d", board, int(List(list).size()));
  std::vector<int> l;
  if (!Addresses(c, board, list, &l)) return;
  if (!results && !l.empty()) return void(c.Fail(board, kGpibErrArgument));
  for (size_t i = 0; i < l.size(); ++i) {
    if (!c.Find(AddrKey(board, l[i]))) {
      return void(c.Finish(kGpibERR | kGpibTIMO | kGpibCMPL | c.State(board), kGpibErrTimeout, int(i)));
    }
    results[i] = 0;
  }
  c.Ok(board, 0, int(l.size()));
}

// The SRQ line is read whoever is in charge.
#define QX_SRQ_HEAD(name)                                                \
  Call c;                                                                \
  c.Trace(name, "%d", board);                                            \
  if (!c.BoardOf(board)) return void(c.Fail(-1, kGpibErrArgument));

QX_EXPORT void QX_GPIB_CALL TestSRQ(int board, short* result) {
  QX_SRQ_HEAD("TestSRQ");
  if (!result) return void(c.Fail(board, kGpibErrArgument));
  *result = c.BoardSrq(board) ? 1 : 0;
  c.Ok(board, 0);
}

// Waits for a request for service, at most the board's limit.
QX_EXPORT void QX_GPIB_CALL WaitSRQ(int board, short* result) {
  QX_SRQ_HEAD("WaitSRQ");
  if (!result) return void(c.Fail(board, kGpibErrArgument));
  Clock::time_point end;
  bool limited = LimitEnd(c.bus.boards[board].tmo, &end);
  while (!c.BoardSrq(board)) {
    if (!WaitChange(c, limited, end) && !c.BoardSrq(board)) {
      *result = 0;
      return void(c.Finish(kGpibTIMO | kGpibCMPL | c.State(board), 0, 0));
    }
  }
  *result = 1;
  c.Ok(board, 0);
}

QX_EXPORT void QX_GPIB_CALL SendCmds(int board, const unsigned char* p, long n) {
  QX_4882_HEAD("SendCmds", "%d,%s,%ld", board, Quote(p, int(n)).c_str(), n);
  if (n < 0 || (n > 0 && !p)) return void(c.Fail(board, kGpibErrArgument));
  Commands(c, board, p, int(n));
  c.Ok(board, 0, int(n));
}

QX_EXPORT void QX_GPIB_CALL SendSetup(int board, const uint16_t* list) {
  QX_4882_HEAD("SendSetup", "%d,%d", board, int(List(list).size()));
  std::vector<int> l;
  if (!Addresses(c, board, list, &l)) return;
  if (l.empty()) return void(c.Fail(board, kGpibErrArgument));
  Address(c, board, l, -1);
  c.Ok(board, 0);
}

QX_EXPORT void QX_GPIB_CALL SendDataBytes(int board, const unsigned char* p, long n, int mode) {
  QX_4882_HEAD("SendDataBytes", "%d,%s,%ld,%d", board, Quote(p, int(n)).c_str(), n, mode);
  std::vector<DevKey> to = c.bus.boards[board].listeners;
  Send4882(c, board, to, p, int(n), mode);
}

QX_EXPORT void QX_GPIB_CALL Send(int board, int addr, const unsigned char* p, long n, int mode) {
  QX_4882_HEAD("Send", "%d,%d,%s,%ld,%d", board, addr, Quote(p, int(n)).c_str(), n, mode);
  if (!ValidAddr(addr)) return void(c.Fail(board, kGpibErrArgument));
  Address(c, board, {addr}, -1);
  Send4882(c, board, c.bus.boards[board].listeners, p, int(n), mode);
}

QX_EXPORT void QX_GPIB_CALL SendList(int board, const uint16_t* list, const unsigned char* p, long n, int mode) {
  QX_4882_HEAD("SendList", "%d,%d,%s,%ld,%d", board, int(List(list).size()), Quote(p, int(n)).c_str(), n, mode);
  std::vector<int> l;
  if (!Addresses(c, board, list, &l)) return;
  if (l.empty()) return void(c.Fail(board, kGpibErrArgument));
  Address(c, board, l, -1);
  Send4882(c, board, c.bus.boards[board].listeners, p, int(n), mode);
}

QX_EXPORT void QX_GPIB_CALL ReceiveSetup(int board, int addr) {
  QX_4882_HEAD("ReceiveSetup", "%d,%d", board, addr);
  if (!ValidAddr(addr)) return void(c.Fail(board, kGpibErrArgument));
  Address(c, board, {}, addr);
  c.Ok(board, 0);
}

QX_EXPORT void QX_GPIB_CALL RcvRespMsg(int board, unsigned char* p, long n, int term) {
  QX_4882_HEAD("RcvRespMsg", "%d,%ld,%d", board, n, term);
  Board& b = c.bus.boards[board];
  Receive4882(c, board, DevKey(board, b.talkerPad, b.talkerSad), p, int(n), term);
}

#if QX_GPIB_VARIANT != 1
QX_EXPORT void QX_GPIB_CALL Receive(int board, int addr, unsigned char* p, long n, int term) {
  QX_4882_HEAD("Receive", "%d,%d,%ld,%d", board, addr, n, term);
  if (!ValidAddr(addr)) return void(c.Fail(board, kGpibErrArgument));
  Address(c, board, {}, addr);
  Receive4882(c, board, AddrKey(board, addr), p, int(n), term);
}
#endif

#undef QX_4882_HEAD
#undef QX_SRQ_HEAD

QX_EXPORT int QX_GPIB_CALL ThreadIbsta() { return tSta; }
QX_EXPORT int QX_GPIB_CALL ThreadIberr() { return tErr; }
QX_EXPORT int QX_GPIB_CALL ThreadIbcnt() { return tCnt; }

// ---- The bus as libqxvisa sees it -------------------------------------------------------
namespace {

// "visa close=fail|ok intf=fail|ok": the VISA library's test switches.
bool VisaLine(Bus& bus, const char* text, std::string* why) {
  int32_t sw = bus.visaSwitches;
  std::string rest(text);
  size_t i = 0;
  while (i < rest.size()) {
    if (rest[i] == ' ') {
      ++i;
      continue;
    }
    size_t end = rest.find(' ', i);
    std::string word = rest.substr(i, end == std::string::npos ? std::string::npos : end - i);
    i = end == std::string::npos ? rest.size() : end;
    size_t eq = word.find('=');
    std::string key = word.substr(0, eq), value = eq == std::string::npos ? "" : word.substr(eq + 1);
    int32_t bit = key == "close"  ? kQXVisaFailClose
                  : key == "intf" ? kQXVisaFailIntfType
                  : key == "tmo"  ? kQXVisaFailTimeout
                                  : 0;
    if (!bit || (value != "fail" && value != "ok")) {
      *why = "unknown visa switch \"" + word + "\"";
      return false;
    }
    sw = value == "fail" ? (sw | bit) : (sw & ~bit);
  }
  bus.visaSwitches = sw;
  return true;
}

Device* Listener(Bus& bus, uint32_t board, uint32_t primary, int32_t secondary) {
  auto it = bus.devices.find(DevKey(int(board), int(primary), secondary));
  return it == bus.devices.end() || !it->second.conf.listen ? nullptr : &it->second;
}

int32_t BusFind(uint32_t board, uint32_t primary, int32_t secondary, QXGPIBBusDevice* out) {
  Call c;
  Device* d = Listener(c.bus, board, primary, secondary);
  if (!d) return kQXBusNoDevice;
  if (out) {
    out->vxi = !d->conf.vxi.empty();
    uint64_t size = 0;
    for (char ch : d->conf.vxi) size = std::min<uint64_t>(size << 8 | uint8_t(ch), kQXBusMaxWindow);
    out->window = uint32_t(size);
    out->endChar = d->conf.eos == qxinstr::kEosNone ? -1 : d->conf.eos == qxinstr::kEosCR ? '\r' : '\n';
  }
  return kQXBusEnd;
}

int32_t BusList(uint32_t* keys, int32_t max) {
  Call c;
  int32_t n = 0;
  for (auto& [key, d] : c.bus.devices) {
    if (!d.conf.listen) continue;
    if (keys && n < max) {
      keys[n] = uint32_t(std::get<0>(key)) << 16 | uint32_t(std::get<1>(key)) << 8 | uint32_t(std::get<2>(key) + 1);
    }
    ++n;
  }
  return n;
}

// A message to the device: a query it knows gets its reply (with the
// device's terminator) after the device's delay; anything else none.
int32_t BusWrite(uint32_t board, uint32_t primary, int32_t secondary, const char* bytes, int32_t n) {
  Call c;
  Device* d = Listener(c.bus, board, primary, secondary);
  if (!d) return kQXBusNoDevice;
  if (d->conf.fail == qxinstr::kFailSystem) return kQXBusFailed;
  std::string msg(bytes ? bytes : "", bytes && n > 0 ? size_t(n) : 0);
  while (!msg.empty() && (msg.back() == '\n' || msg.back() == '\r')) msg.pop_back();
  // The same device as the GPIB routines see: a query's reply, SRQ after
  // its command.
  d->output.clear();
  Handle(c.bus, *d, msg);
  return kQXBusEnd;
}

int32_t BusRead(uint32_t board, uint32_t primary, int32_t secondary, char* bytes, int32_t n, uint32_t timeoutMs,
                int32_t* got) {
  *got = 0;
  Call c;
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    Device* d = Listener(c.bus, board, primary, secondary);
    if (!d) return kQXBusNoDevice;
    if (d->conf.fail == qxinstr::kFailSystem) return kQXBusFailed;
    auto now = std::chrono::steady_clock::now();
    bool ready = !d->output.empty() && d->conf.fail != qxinstr::kFailTimeout && now >= d->readyAt;
    if (ready) {
      int endChar = d->conf.eos == qxinstr::kEosNone ? -1 : d->conf.eos == qxinstr::kEosCR ? '\r' : '\n';
      size_t take = 0;
      bool atEnd = false;
      while (take < size_t(n) && take < d->output.size()) {
        char ch = d->output[take++];
        if (ch == endChar) {
          atEnd = true;
          break;
        }
      }
      if (take) std::memcpy(bytes, d->output.data(), take);
      d->output.erase(0, take);
      *got = int32_t(take);
      return atEnd || d->output.empty() ? kQXBusEnd : kQXBusCount;
    }
    if (now >= end) return kQXBusTimeout;
    auto until = end;
    if (!d->output.empty() && d->readyAt < until) until = d->readyAt;
    WaitChange(c, true, until);
  }
}

void BusLog(const char* line) {
  Call c;
  if (!c.bus.logging || !line) return;
  c.bus.log += line;
  c.bus.log += '\n';
}

int32_t BusLogging() {
  Call c;
  return c.bus.logging ? 1 : 0;
}

int32_t BusVisaSwitches() {
  Call c;
  return c.bus.visaSwitches;
}

int32_t BusPoll(uint32_t board, uint32_t primary, int32_t secondary, uint8_t* byte) {
  Call c;
  Device* d = Listener(c.bus, board, primary, secondary);
  if (!d) return kQXBusNoDevice;
  if (d->conf.fail == qxinstr::kFailSystem) return kQXBusFailed;
  if (d->conf.fail == qxinstr::kFailTimeout) return kQXBusTimeout;
  *byte = uint8_t(Poll(c.bus, *d));
  return kQXBusEnd;
}

int32_t BusTrigger(uint32_t board, uint32_t primary, int32_t secondary) {
  Call c;
  Device* d = Listener(c.bus, board, primary, secondary);
  if (!d) return kQXBusNoDevice;
  if (d->conf.fail == qxinstr::kFailSystem) return kQXBusFailed;
  ++d->triggers;
  return kQXBusEnd;
}

int32_t BusClear(uint32_t board, uint32_t primary, int32_t secondary) {
  Call c;
  Device* d = Listener(c.bus, board, primary, secondary);
  if (!d) return kQXBusNoDevice;
  if (d->conf.fail == qxinstr::kFailSystem) return kQXBusFailed;
  d->input.clear(), d->output.clear(), d->srq = false, ++d->clears;
  c.bus.changed.notify_all();
  return kQXBusEnd;
}

int32_t BusRequesting(uint32_t board, uint32_t primary, int32_t secondary) {
  Call c;
  Device* d = Listener(c.bus, board, primary, secondary);
  return d && d->srq ? 1 : 0;
}

}  // namespace

extern "C" {
QX_DATA extern const QXGPIBBusEntries qxgpib_bus;
const QXGPIBBusEntries qxgpib_bus = {BusFind,         BusList, BusWrite,   BusRead,       BusLog,    BusVisaSwitches,
                                     BusPoll,         BusTrigger, BusClear, BusRequesting, BusLogging};
}

QX_EXPORT int32_t QX_GPIB_CALL QXGPIBTestControl(int32_t op, const char* text, char* out, int32_t outSize) {
  Call c;
  if (out && outSize > 0) out[0] = '\0';
  switch (op) {
    case kQXGPIBApplyLine: {
      if (text && std::strncmp(text, "visa", 4) == 0 && (text[4] == ' ' || text[4] == '\0')) {
        std::string why;
        if (VisaLine(c.bus, text + 4, &why)) return 0;
        if (out && outSize > 0) std::snprintf(out, size_t(outSize), "%s", why.c_str());
        return -1;
      }
      Item item;
      std::string why;
      size_t len = text ? std::strlen(text) : 0;
      int32_t r = qxinstr::ParseLine(text ? text : "", len, &item, &why);
      if (r == qxinstr::kLineItem && !ApplyItem(&c.bus, item, &why)) r = qxinstr::kLineBad;
      if (r == qxinstr::kLineBad) {
        if (out && outSize > 0) std::snprintf(out, size_t(outSize), "%s", why.c_str());
        return -1;
      }
      c.bus.changed.notify_all();
      return 0;
    }
    case kQXGPIBReset:
      Load(c.bus, c.hold);
      c.bus.changed.notify_all();
      return 0;
    case kQXGPIBLogOn:
    case kQXGPIBLogOff:
      c.bus.logging = op == kQXGPIBLogOn;
      return 0;
    case kQXGPIBTakeLog: {
      int32_t n = int32_t(c.bus.log.size());
      if (out && outSize > 0) std::snprintf(out, size_t(outSize), "%s", c.bus.log.c_str());
      c.bus.log.clear();
      return n;
    }
    default:
      return -1;
  }
}
