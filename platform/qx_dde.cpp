#include "platform/qx_dde.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <strings.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/qx_defproc.h"
#include "platform/qx_instance.h"
#include "platform/qx_msgqueue.h"
#include "platform/qx_time.h"

namespace {

constexpr const char* kWindowClass = "QXDdeInstance";
constexpr uint32_t kTransactMsg = kPlatMsgUser0 + 0x200;
constexpr uint32_t kConnectTimeoutMs = 5000;

const char* const kTypeNames[kPlatXtypCount] = {
    "XTYP_ERROR",    "XTYP_ADVDATA",        "XTYP_ADVREQ",         "XTYP_ADVSTART",
    "XTYP_ADVSTOP",  "XTYP_EXECUTE",        "XTYP_CONNECT",        "XTYP_CONNECT_CONFIRM",
    "XTYP_XACT_COMPLETE", "XTYP_POKE",      "XTYP_REGISTER",       "XTYP_REQUEST",
    "XTYP_DISCONNECT", "XTYP_UNREGISTER",   "XTYP_WILDCONNECT",    "XTYP_MONITOR",
};

struct Service;

struct Instance {
  PlatDdeCallback callback = nullptr;
  uint32_t flags = 0;
  PlatWindow window = 0;
  std::vector<std::shared_ptr<Service>> services;
};

struct Service {
  std::string name;
  std::string path;
  PlatDdeStr handle = 0;
  PlatWindow window = 0;
  int listenFd = -1;
  int wake[2] = {-1, -1};
  std::thread thread;
  std::atomic<bool> done{false};
};

struct Str {
  std::string text;
  int32_t refs = 0;
};

struct ClientConv {
  int fd = -1;
  PlatDdeInst inst = 0;
};

// One mutex for every table; never held while a callback runs or while a
// listener thread is joined.
std::mutex gMu;
std::map<PlatDdeInst, Instance> gInsts;
std::map<PlatDdeStr, Str> gStrs;
std::map<PlatDdeData, std::vector<uint8_t>> gData;
std::map<PlatDdeConv, ClientConv> gConvs;
uint32_t gNextId = 1;
std::atomic<PlatDdePeerUidHook> gPeerHook{nullptr};

uint32_t NextIdLocked() {
  uint32_t id = gNextId++;
  if (gNextId == 0) gNextId = 1;
  return id;
}

uint32_t NowMs() { return uint32_t(PlatMonotonicUs() / 1000); }

bool SameNoCase(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

PlatDdeStr CreateStringLocked(const std::string& text) {
  for (auto& [id, s] : gStrs)
    if (SameNoCase(s.text, text)) {
      ++s.refs;
      return id;
    }
  const PlatDdeStr id = NextIdLocked();
  gStrs[id] = Str{text, 1};
  return id;
}

void FreeStringLocked(PlatDdeStr id) {
  auto it = gStrs.find(id);
  if (it != gStrs.end() && --it->second.refs <= 0) gStrs.erase(it);
}

PlatDdeStr CreateString(const std::string& text) {
  std::lock_guard<std::mutex> g(gMu);
  return CreateStringLocked(text);
}
void FreeString(PlatDdeStr id) {
  std::lock_guard<std::mutex> g(gMu);
  FreeStringLocked(id);
}

struct Transaction {
  uint32_t type, format;
  PlatDdeConv conv;
  PlatDdeStr s1, s2;
  PlatDdeData data;
};

// The hidden window of an instance runs its callback on the owner's thread.
intptr_t InstanceProc(PlatWindow w, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message != kTransactMsg) return PlatDefWindowProc(w, message, wParam, lParam);
  const Transaction* t = reinterpret_cast<const Transaction*>(lParam);
  PlatDdeCallback cb = nullptr;
  {
    std::lock_guard<std::mutex> g(gMu);
    auto it = gInsts.find(PlatDdeInst(PlatGetWindowWord(w)));
    if (it == gInsts.end()) return 0;
    const uint32_t flags = it->second.flags;
    if (t->type == kPlatXtypExecute && (flags & kPlatDdeFailExecutes)) return 0;
    if ((t->type >= kPlatXtypAdvData && t->type <= kPlatXtypAdvStop) && (flags & kPlatDdeFailAdvises)) return 0;
    cb = it->second.callback;
  }
  return cb ? intptr_t(cb(t->type, t->format, t->conv, t->s1, t->s2, t->data, 0, 0)) : 0;
}

uint32_t Dispatch(PlatWindow w, const Transaction& t) {
  return uint32_t(PlatSendMessage(w, kTransactMsg, 0, reinterpret_cast<PlatLParam>(&t)));
}

void PutBE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

uint32_t GetBE32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

// Waits for fd to become ready for events until the deadline (ms tick).
bool WaitFd(int fd, short events, uint32_t deadline) {
  for (;;) {
    const int32_t left = int32_t(deadline - NowMs());
    if (left < 0) return false;
    pollfd p{fd, events, 0};
    const int r = poll(&p, 1, left);
    if (r > 0) return true;
    if (r == 0) return false;
    if (errno != EINTR) return false;
  }
}

bool WriteAll(int fd, const uint8_t* p, size_t n, uint32_t deadline) {
  while (n) {
    const ssize_t w = send(fd, p, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (w > 0) {
      p += w;
      n -= size_t(w);
    } else if (w < 0 && (errno == EAGAIN || errno == EINTR)) {
      if (!WaitFd(fd, POLLOUT, deadline)) return false;
    } else {
      return false;
    }
  }
  return true;
}

bool ReadAll(int fd, uint8_t* p, size_t n, uint32_t deadline) {
  while (n) {
    const ssize_t r = recv(fd, p, n, MSG_DONTWAIT);
    if (r > 0) {
      p += r;
      n -= size_t(r);
    } else if (r < 0 && (errno == EAGAIN || errno == EINTR)) {
      if (!WaitFd(fd, POLLIN, deadline)) return false;
    } else {
      return false;
    }
  }
  return true;
}

bool SocketPath(const std::string& service, std::string* path) {
  if (service.empty() || service.find('/') != std::string::npos || service == "." || service == "..") return false;
  std::string dir;
  if (!PlatRuntimeFolder(&dir)) return false;
  *path = dir + "/" + service + ".dde";
  return path->size() < sizeof(sockaddr_un::sun_path);
}

sockaddr_un Address(const std::string& path) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
  return a;
}

// One client connection of a listener.
struct Conn {
  int fd = -1;
  std::vector<uint8_t> buf;
  PlatDdeConv conv = 0;
  PlatDdeStr topic = 0, service = 0;
};

bool Answer(int fd, uint32_t value) {
  uint8_t b[4];
  PutBE32(b, value);
  return WriteAll(fd, b, 4, NowMs() + kConnectTimeoutMs);
}

void CloseConn(Service& s, Conn& c, bool notify) {
  if (c.conv && notify) {
    Transaction t{kPlatXtypDisconnect, 0, c.conv, 0, 0, 0};
    Dispatch(s.window, t);
  }
  if (c.topic) FreeString(c.topic);
  if (c.service) FreeString(c.service);
  close(c.fd);
  c.fd = -1;
}

// Handles one frame; false closes the connection.
bool HandleFrame(Service& s, Conn& c, uint8_t kind, const uint8_t* body, uint32_t size) {
  if (kind == kPlatDdeFrameConnect) {
    if (c.conv || size < 2 || body[size - 1] != 0) return false;
    const void* nul = std::memchr(body, 0, size);
    const size_t first = size_t(static_cast<const uint8_t*>(nul) - body);
    if (first + 1 >= size || std::memchr(body + first + 1, 0, size - first - 1) != body + size - 1) return false;
    c.service = CreateString(std::string(reinterpret_cast<const char*>(body), first));
    c.topic = CreateString(std::string(reinterpret_cast<const char*>(body + first + 1)));
    PlatDdeConv conv;
    {
      std::lock_guard<std::mutex> g(gMu);
      conv = NextIdLocked();
    }
    Transaction t{kPlatXtypConnect, 0, 0, c.topic, c.service, 0};
    const uint32_t accepted = Dispatch(s.window, t);
    if (!Answer(c.fd, accepted ? 1 : 0) || !accepted) return false;
    c.conv = conv;
    return true;
  }
  if (!c.conv) return false;
  PlatDdeData data = PlatDdeCreateDataHandle(1, body, size);
  Transaction t{kPlatXtypExecute, 0, c.conv, c.topic, 0, data};
  const uint32_t result = Dispatch(s.window, t);
  PlatDdeFreeDataHandle(data);
  return Answer(c.fd, result);
}

void Listen(Service* s) {
  std::vector<Conn> conns;
  std::vector<pollfd> fds;
  uint8_t chunk[4096];
  for (;;) {
    fds.assign({pollfd{s->wake[0], POLLIN, 0}, pollfd{s->listenFd, POLLIN, 0}});
    for (const Conn& c : conns) fds.push_back(pollfd{c.fd, POLLIN, 0});
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents) break;
    for (size_t i = 0; i < conns.size(); ++i) {
      if (!fds[i + 2].revents) continue;
      Conn& c = conns[i];
      const ssize_t n = recv(c.fd, chunk, sizeof chunk, MSG_DONTWAIT);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      bool keep = n > 0;
      if (keep) c.buf.insert(c.buf.end(), chunk, chunk + n);
      while (keep) {
        uint8_t kind;
        const uint8_t* body;
        uint32_t size;
        const int32_t used = PlatDdeParseFrame(c.buf.data(), c.buf.size(), &kind, &body, &size);
        if (used == 0) break;
        keep = used > 0 && HandleFrame(*s, c, kind, body, size);
        if (keep) c.buf.erase(c.buf.begin(), c.buf.begin() + used);
      }
      if (!keep) CloseConn(*s, c, true);
    }
    std::erase_if(conns, [](const Conn& c) { return c.fd < 0; });
    if (fds[1].revents & POLLIN) {
      const int fd = accept4(s->listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd >= 0) {
        ucred cred{};
        socklen_t len = sizeof cred;
        uint32_t uid = getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 ? uint32_t(cred.uid) : ~0u;
        if (PlatDdePeerUidHook hook = gPeerHook.load()) uid = hook(uid);
        if (uid == uint32_t(geteuid())) conns.push_back(Conn{fd, {}, 0, 0, 0});
        else close(fd);
      }
    }
  }
  for (Conn& c : conns) CloseConn(*s, c, false);
  s->done.store(true);
}

void StopService(const std::shared_ptr<Service>& s) {
  const char b = 1;
  if (write(s->wake[1], &b, 1) < 0) {
  }
  // The listener may be waiting in a send to this thread's window: answer
  // such sends until it has ended.
  while (!s->done.load()) {
    PlatAnswerPendingSends(s->window, kTransactMsg);
    PlatSleepMs(1);
  }
  s->thread.join();
  close(s->listenFd);
  close(s->wake[0]);
  close(s->wake[1]);
  unlink(s->path.c_str());
  FreeString(s->handle);
}

bool StartService(PlatDdeInst inst, PlatDdeStr handle, std::shared_ptr<Service>* out) {
  auto s = std::make_shared<Service>();
  {
    std::lock_guard<std::mutex> g(gMu);
    auto it = gInsts.find(inst);
    auto st = gStrs.find(handle);
    if (it == gInsts.end() || st == gStrs.end() || (it->second.flags & kPlatDdeClientOnly)) return false;
    for (const auto& other : it->second.services)
      if (SameNoCase(other->name, st->second.text)) return false;
    s->name = st->second.text;
    s->window = it->second.window;
  }
  if (!SocketPath(s->name, &s->path)) return false;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  const sockaddr_un a = Address(s->path);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    // A socket left by a server that died answers no connect: take its place.
    const int probe = errno == EADDRINUSE ? socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0) : -1;
    const bool stale = probe >= 0 && connect(probe, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 &&
                       errno == ECONNREFUSED;
    if (probe >= 0) close(probe);
    if (!stale || unlink(s->path.c_str()) != 0 || bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
      close(fd);
      return false;
    }
  }
  if (listen(fd, 16) != 0 || pipe2(s->wake, O_CLOEXEC) != 0) {
    close(fd);
    unlink(s->path.c_str());
    return false;
  }
  s->listenFd = fd;
  s->handle = handle;
  {
    std::lock_guard<std::mutex> g(gMu);
    ++gStrs[handle].refs;
  }
  s->thread = std::thread(&Listen, s.get());
  *out = s;
  return true;
}

}  // namespace

const char* PlatDdeTypeName(uint32_t type) { return type < kPlatXtypCount ? kTypeNames[type] : nullptr; }

uint32_t PlatDdeInitialize(PlatDdeInst* inst, PlatDdeCallback callback, uint32_t flags) {
  if (!inst || !callback) return kPlatDdeErrInvalidParameter;
  PlatRegisterClass(PlatWindowClass{kWindowClass, &InstanceProc, 0, kPlatNoBrush});
  const PlatWindow w = PlatCreateWindow(kWindowClass, "", 0, 0, PlatRect{0, 0, 0, 0}, 0);
  if (!w) return kPlatDdeErrSys;
  std::lock_guard<std::mutex> g(gMu);
  const PlatDdeInst id = NextIdLocked();
  Instance& i = gInsts[id];
  i.callback = callback;
  i.flags = flags;
  i.window = w;
  PlatSetWindowWord(w, intptr_t(id));
  *inst = id;
  return kPlatDdeOk;
}

bool PlatDdeUninitialize(PlatDdeInst inst) {
  std::vector<std::shared_ptr<Service>> services;
  std::vector<int> fds;
  PlatWindow w;
  {
    std::lock_guard<std::mutex> g(gMu);
    auto it = gInsts.find(inst);
    if (it == gInsts.end()) return false;
    services.swap(it->second.services);
    w = it->second.window;
    gInsts.erase(it);
    for (auto c = gConvs.begin(); c != gConvs.end();)
      if (c->second.inst == inst) {
        fds.push_back(c->second.fd);
        c = gConvs.erase(c);
      } else {
        ++c;
      }
  }
  for (const auto& s : services) StopService(s);
  for (int fd : fds) close(fd);
  PlatDestroyWindow(w);
  return true;
}

PlatDdeStr PlatDdeCreateString(PlatDdeInst inst, const char* text) {
  if (!text) return 0;
  std::lock_guard<std::mutex> g(gMu);
  if (!gInsts.count(inst)) return 0;
  return CreateStringLocked(text);
}

bool PlatDdeFreeString(PlatDdeInst inst, PlatDdeStr str) {
  std::lock_guard<std::mutex> g(gMu);
  if (!gInsts.count(inst) || !gStrs.count(str)) return false;
  FreeStringLocked(str);
  return true;
}

int32_t PlatDdeQueryString(PlatDdeInst /*inst*/, PlatDdeStr str, char* out, int32_t size) {
  std::lock_guard<std::mutex> g(gMu);
  auto it = gStrs.find(str);
  if (it == gStrs.end()) return -1;
  const std::string& t = it->second.text;
  if (out && size > 0) {
    const size_t n = std::min(t.size(), size_t(size - 1));
    std::memcpy(out, t.data(), n);
    out[n] = 0;
  }
  return int32_t(t.size());
}

bool PlatDdeNameService(PlatDdeInst inst, PlatDdeStr service, uint32_t command) {
  if (command == kPlatDdeNsRegister) {
    std::shared_ptr<Service> s;
    if (!StartService(inst, service, &s)) return false;
    std::lock_guard<std::mutex> g(gMu);
    auto it = gInsts.find(inst);
    if (it != gInsts.end()) {
      it->second.services.push_back(s);
      return true;
    }
    // The instance ended meanwhile.
  } else if (command == kPlatDdeNsUnregister) {
    std::shared_ptr<Service> s;
    {
      std::lock_guard<std::mutex> g(gMu);
      auto it = gInsts.find(inst);
      if (it == gInsts.end()) return false;
      auto& list = it->second.services;
      for (auto e = list.begin(); e != list.end(); ++e)
        if ((*e)->handle == service) {
          s = *e;
          list.erase(e);
          break;
        }
    }
    if (!s) return false;
    StopService(s);
    return true;
  }
  return false;
}

PlatDdeConv PlatDdeConnect(PlatDdeInst inst, PlatDdeStr service, PlatDdeStr topic) {
  std::string svc, top;
  {
    std::lock_guard<std::mutex> g(gMu);
    auto s = gStrs.find(service), t = gStrs.find(topic);
    if (!gInsts.count(inst) || s == gStrs.end() || t == gStrs.end()) return 0;
    svc = s->second.text;
    top = t->second.text;
  }
  std::string path;
  if (!SocketPath(svc, &path) || svc.size() + top.size() + 2 > kPlatDdeMaxFrame) return 0;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return 0;
  const uint32_t deadline = NowMs() + kConnectTimeoutMs;
  const sockaddr_un a = Address(path);
  bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0 ||
            (errno == EAGAIN && WaitFd(fd, POLLOUT, deadline));
  std::vector<uint8_t> frame(5);
  frame[0] = kPlatDdeFrameConnect;
  PutBE32(&frame[1], uint32_t(svc.size() + top.size() + 2));
  frame.insert(frame.end(), svc.c_str(), svc.c_str() + svc.size() + 1);
  frame.insert(frame.end(), top.c_str(), top.c_str() + top.size() + 1);
  uint8_t answer[4];
  ok = ok && WriteAll(fd, frame.data(), frame.size(), deadline) && ReadAll(fd, answer, 4, deadline) &&
       GetBE32(answer) != 0;
  if (!ok) {
    close(fd);
    return 0;
  }
  std::lock_guard<std::mutex> g(gMu);
  const PlatDdeConv id = NextIdLocked();
  gConvs[id] = ClientConv{fd, inst};
  return id;
}

uint32_t PlatDdeClientTransaction(const void* data, uint32_t size, PlatDdeConv conv, PlatDdeStr /*item*/,
                                  uint32_t /*format*/, uint32_t type, uint32_t timeoutMs, uint32_t* result) {
  if (type != kPlatXtypExecute || size > kPlatDdeMaxFrame || (size && !data)) return 0;
  int fd;
  {
    std::lock_guard<std::mutex> g(gMu);
    auto it = gConvs.find(conv);
    if (it == gConvs.end()) return 0;
    fd = it->second.fd;
  }
  const uint32_t deadline = NowMs() + timeoutMs;
  uint8_t head[5] = {kPlatDdeFrameExecute};
  PutBE32(head + 1, size);
  uint8_t answer[4];
  if (WriteAll(fd, head, 5, deadline) && WriteAll(fd, static_cast<const uint8_t*>(data), size, deadline) &&
      ReadAll(fd, answer, 4, deadline)) {
    if (result) *result = GetBE32(answer);
    return 1;
  }
  // A late answer would be taken for the next one's: the conversation ends.
  PlatDdeDisconnect(conv);
  return 0;
}

bool PlatDdeDisconnect(PlatDdeConv conv) {
  int fd;
  {
    std::lock_guard<std::mutex> g(gMu);
    auto it = gConvs.find(conv);
    if (it == gConvs.end()) return false;
    fd = it->second.fd;
    gConvs.erase(it);
  }
  close(fd);
  return true;
}

PlatDdeData PlatDdeCreateDataHandle(PlatDdeInst /*inst*/, const void* bytes, uint32_t size) {
  if (size && !bytes) return 0;
  std::lock_guard<std::mutex> g(gMu);
  const PlatDdeData id = NextIdLocked();
  const uint8_t* p = static_cast<const uint8_t*>(bytes);
  gData[id].assign(p, p + size);
  return id;
}

bool PlatDdeFreeDataHandle(PlatDdeData data) {
  std::lock_guard<std::mutex> g(gMu);
  return gData.erase(data) != 0;
}

uint32_t PlatDdeGetData(PlatDdeData data, void* out, uint32_t max, uint32_t offset) {
  std::lock_guard<std::mutex> g(gMu);
  auto it = gData.find(data);
  if (it == gData.end()) return 0;
  const std::vector<uint8_t>& v = it->second;
  if (!out) return uint32_t(v.size());
  if (offset >= v.size()) return 0;
  const uint32_t n = std::min<uint32_t>(max, uint32_t(v.size() - offset));
  std::memcpy(out, v.data() + offset, n);
  return n;
}

int32_t PlatDdeParseFrame(const uint8_t* bytes, size_t size, uint8_t* kind, const uint8_t** body,
                          uint32_t* bodySize) {
  if (size < 1) return 0;
  if (bytes[0] != kPlatDdeFrameConnect && bytes[0] != kPlatDdeFrameExecute) return -1;
  if (size < 5) return 0;
  const uint32_t n = GetBE32(bytes + 1);
  if (n > kPlatDdeMaxFrame) return -1;
  if (size - 5 < n) return 0;
  *kind = bytes[0];
  *body = bytes + 5;
  *bodySize = n;
  return int32_t(5 + n);
}

bool PlatDdeIsInstanceWindow(PlatWindow w) {
  std::lock_guard<std::mutex> g(gMu);
  for (const auto& [id, i] : gInsts)
    if (i.window == w) return true;
  return false;
}

void PlatDdeSetPeerUidHook(PlatDdePeerUidHook hook) { gPeerHook.store(hook); }
