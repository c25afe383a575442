// libqxgpib.so: the GPIB driver library over a simulated bus.  Boards 0-999
// exist, each empty until the device file (QX_INSTR_CONFIG) puts devices on
// it.  Board descriptors are the board numbers; device descriptors start at
// kFirstDevice.  One mutex guards the whole bus; the status of each call is
// kept for its thread and in the exported variables.
#include <pthread.h>
#include <valgrind/helgrind.h>

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
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
  // The reply a VISA session's message asked for, and when it is ready.
  std::string reply;
  std::chrono::steady_clock::time_point replyAt{};
};
typedef std::tuple<int, int, int> DevKey;  // board, primary, secondary (-1 none)

struct Board {
  int controller = 1, async = 1;  // configured
  int rsc = 1;                    // system controller now
  bool cic = false, sre = false, online = false;
  int pad = 0, sad = 0, tmo = kDefaultCode, eos = 0, eot = 1, repeat = 1;
};

struct Descriptor {
  bool used = false;
  int board = 0, pad = 0, sad = 0, tmo = kDefaultCode, eos = 0, eot = 1, repeat = 1;
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
};
Bus& TheBus() {
  static Bus bus;  // goes with the library
  return bus;
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
void Load(Bus& bus) {
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
      Load(bus);
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
  char args[128] = "";
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
      char line[160];
      std::snprintf(line, sizeof line, "%s(%s) %04x\n", routine, args, unsigned(sta) & 0xFFFF);
      bus.log += line;
    }
    return sta;
  }
  int Ok(int ud, int err) { return Finish(kGpibCMPL | State(ud), err, 0); }
  int Fail(int ud, int err) { return Finish(kGpibERR | State(ud), err, 0); }
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

// Waits until the descriptor shows one of the mask's bits, or, with TIMO in
// the mask, until its time limit passes; mask 0 only reports the status.
QX_EXPORT int QX_GPIB_CALL ibwait(int ud, int mask) {
  Call c;
  c.Trace("ibwait", "%d,%d", ud, mask);
  Board* b = c.BoardOf(ud);
  Descriptor* d = b ? nullptr : c.DeviceOf(ud);
  const int allowed = kGpibTIMO | kGpibSRQI | kGpibRQS | kGpibCMPL | kGpibCIC;
  if ((!b && !d) || (mask & ~allowed) || (d && (mask & (kGpibSRQI | kGpibCIC)))) {
    return c.Fail(ud, kGpibErrArgument);
  }
  int wanted = mask & ~(kGpibTIMO | kGpibCMPL);
  if (mask & kGpibCMPL) return c.Ok(ud, 0);  // nothing runs asynchronously here
  if (wanted) {
    int code = b ? b->tmo : d->tmo;
    bool limited = (mask & kGpibTIMO) && code != 0;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(code >= 5 ? kCodeMs[code] : 1);
    while (!(c.State(ud) & wanted)) {
      if (!limited) {
        c.bus.changed.wait(c.hold);
      } else if (c.bus.changed.wait_until(c.hold, end) == std::cv_status::timeout) {
        if (c.State(ud) & wanted) break;
        return c.Finish(kGpibTIMO | kGpibCMPL | c.State(ud), 0, 0);
      }
    }
  }
  return c.Ok(ud, 0);
}

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
    int32_t bit = key == "close" ? kQXVisaFailClose : key == "intf" ? kQXVisaFailIntfType : 0;
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
  const std::string* reply = nullptr;
  if (msg == "*IDN?" && !d->conf.idn.empty()) reply = &d->conf.idn;
  for (auto& a : d->answers) {
    if (a.first == msg) reply = &a.second;
  }
  d->reply.clear();
  if (reply) {
    static const char* const kEnds[] = {"", "\n", "\r", "\r\n"};
    d->reply = *reply + kEnds[d->conf.eos & 3];
    d->replyAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(d->conf.delay);
  }
  c.bus.changed.notify_all();
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
    bool ready = !d->reply.empty() && d->conf.fail != qxinstr::kFailTimeout && now >= d->replyAt;
    if (ready) {
      int endChar = d->conf.eos == qxinstr::kEosNone ? -1 : d->conf.eos == qxinstr::kEosCR ? '\r' : '\n';
      size_t take = 0;
      bool atEnd = false;
      while (take < size_t(n) && take < d->reply.size()) {
        char ch = d->reply[take++];
        if (ch == endChar) {
          atEnd = true;
          break;
        }
      }
      if (take) std::memcpy(bytes, d->reply.data(), take);
      d->reply.erase(0, take);
      *got = int32_t(take);
      return atEnd || d->reply.empty() ? kQXBusEnd : kQXBusCount;
    }
    if (now >= end) return kQXBusTimeout;
    auto until = end;
    if (!d->reply.empty() && d->replyAt < until) until = d->replyAt;
    c.bus.changed.wait_until(c.hold, until);
  }
}

void BusLog(const char* line) {
  Call c;
  if (!c.bus.logging || !line) return;
  c.bus.log += line;
  c.bus.log += '\n';
}

int32_t BusVisaSwitches() {
  Call c;
  return c.bus.visaSwitches;
}

}  // namespace

extern "C" {
QX_DATA extern const QXGPIBBusEntries qxgpib_bus;
const QXGPIBBusEntries qxgpib_bus = {BusFind, BusList, BusWrite, BusRead, BusLog, BusVisaSwitches};
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
      Load(c.bus);
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
