// Sockets over the host's BSD sockets, with one epoll notifier thread.
//
// Listeners and connecting sockets are watched level-triggered and one-shot:
// an event is posted once, its bit is then disarmed, and the descriptor is
// watched again only for the events still armed.  The call that consumes an
// event (accept) arms it again, so a condition that still holds is reported
// at once.
//
// Connected sockets stay in the set edge-triggered for reading and writing,
// so that arming costs no call: an edge for an event that is not armed is
// kept as ready, and arming again (after a receive, or a send that would
// block) reports the event at once when it was ready or may still hold (a
// receive that filled its buffer), looking at the socket first.
#include "platform/qx_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/qx_msgqueue.h"

namespace {

struct ErrName {
  int host;
  int32_t sock;
  const char* text;
};

// Each errno on the socket error of the same name; a few host errors that
// have none go to the nearest one.
const ErrName kErrors[] = {
    {EINTR, kPlatSockEINTR, "interrupted call"},
    {EBADF, kPlatSockEBADF, "bad descriptor"},
    {EACCES, kPlatSockEACCES, "permission denied"},
    {EPERM, kPlatSockEACCES, "permission denied"},
    {EFAULT, kPlatSockEFAULT, "bad address"},
    {EINVAL, kPlatSockEINVAL, "invalid argument"},
    {EMFILE, kPlatSockEMFILE, "too many open sockets"},
    {ENFILE, kPlatSockEMFILE, "too many open sockets"},
    {EWOULDBLOCK, kPlatSockEWOULDBLOCK, "operation would block"},
    {EINPROGRESS, kPlatSockEINPROGRESS, "operation now in progress"},
    {EALREADY, kPlatSockEALREADY, "operation already in progress"},
    {ENOTSOCK, kPlatSockENOTSOCK, "not a socket"},
    {EDESTADDRREQ, kPlatSockEDESTADDRREQ, "destination address required"},
    {EMSGSIZE, kPlatSockEMSGSIZE, "message too long"},
    {EPROTOTYPE, kPlatSockEPROTOTYPE, "wrong protocol type"},
    {ENOPROTOOPT, kPlatSockENOPROTOOPT, "protocol option not available"},
    {EPROTONOSUPPORT, kPlatSockEPROTONOSUPPORT, "protocol not supported"},
    {ESOCKTNOSUPPORT, kPlatSockESOCKTNOSUPPORT, "socket type not supported"},
    {EOPNOTSUPP, kPlatSockEOPNOTSUPP, "operation not supported"},
    {EPFNOSUPPORT, kPlatSockEPFNOSUPPORT, "protocol family not supported"},
    {EAFNOSUPPORT, kPlatSockEAFNOSUPPORT, "address family not supported"},
    {EADDRINUSE, kPlatSockEADDRINUSE, "address in use"},
    {EADDRNOTAVAIL, kPlatSockEADDRNOTAVAIL, "address not available"},
    {ENETDOWN, kPlatSockENETDOWN, "network is down"},
    {ENETUNREACH, kPlatSockENETUNREACH, "network is unreachable"},
    {ENETRESET, kPlatSockENETRESET, "connection dropped on reset"},
    {ECONNABORTED, kPlatSockECONNABORTED, "connection aborted"},
    {ECONNRESET, kPlatSockECONNRESET, "connection reset by peer"},
    {EPIPE, kPlatSockECONNRESET, "connection reset by peer"},
    {ENOBUFS, kPlatSockENOBUFS, "no buffer space"},
    {ENOMEM, kPlatSockENOBUFS, "no buffer space"},
    {EISCONN, kPlatSockEISCONN, "already connected"},
    {ENOTCONN, kPlatSockENOTCONN, "not connected"},
    {ESHUTDOWN, kPlatSockESHUTDOWN, "socket shut down"},
    {ETOOMANYREFS, kPlatSockETOOMANYREFS, "too many references"},
    {ETIMEDOUT, kPlatSockETIMEDOUT, "connection timed out"},
    {ECONNREFUSED, kPlatSockECONNREFUSED, "connection refused"},
    {ELOOP, kPlatSockELOOP, "too many symbolic links"},
    {ENAMETOOLONG, kPlatSockENAMETOOLONG, "name too long"},
    {EHOSTDOWN, kPlatSockEHOSTDOWN, "host is down"},
    {EHOSTUNREACH, kPlatSockEHOSTUNREACH, "no route to host"},
};

// The epoll mark of a descriptor that is in the set but disabled after a
// one-shot report.
constexpr uint32_t kPolledDisabled = 0x80000000u;

struct SockRec {
  PlatWindow window = 0;
  uint32_t message = 0;
  uint32_t mask = 0;
  uint32_t armed = 0;
  uint32_t ready = 0;   // edge-triggered: events seen while not armed
  uint32_t polled = 0;  // the interest in the epoll set; 0 none, kPolledDisabled
  uint32_t gen = 0;
  bool connecting = false;
  bool listening = false;
  bool connected = false;  // watched for reads and writes only once connected
  int32_t injected = 0;
};

struct Post {
  PlatWindow window;
  uint32_t message;
  PlatSocket socket;
  uint32_t word;
};

struct Layer {
  std::mutex lock;  // the records, the epoll set and the start count
  std::unordered_map<int, SockRec> socks;
  uint32_t nextGen = 1;
  int starts = 0;
  int epfd = -1;
  int wakefd = -1;
  std::thread notifier;
  bool running = false;
};

Layer& L() {
  static Layer* l = new Layer;  // never destroyed: the notifier may outlive statics
  return *l;
}

constexpr uint64_t kWakeData = ~uint64_t(0);

// The interest of a connected socket: both directions, edge-triggered.
constexpr uint32_t kEdgeInterest = EPOLLIN | EPOLLRDHUP | EPOLLOUT | EPOLLET;

uint32_t Interest(const SockRec& r) {
  if (!r.window || !r.mask) return 0;
  uint32_t want = 0;
  if (r.listening) {
    if (r.armed & kPlatSockAccept) want |= EPOLLIN;
  } else if (r.connecting) {
    if (r.armed & kPlatSockConnect) want |= EPOLLOUT;
  } else if (r.connected) {
    want = kEdgeInterest;
  }
  return want;
}

// Under the lock: brings the epoll set in line with what is armed.
void Sync(Layer& l, int fd, SockRec& r) {
  if (l.epfd < 0) return;
  uint32_t want = Interest(r);
  if (want == r.polled || (want == 0 && r.polled == kPolledDisabled)) return;
  epoll_event ev{};
  ev.events = want == kEdgeInterest ? want : want | EPOLLONESHOT;
  ev.data.u64 = uint64_t(uint32_t(fd)) | (uint64_t(r.gen) << 32);
  if (want == 0) {
    epoll_ctl(l.epfd, EPOLL_CTL_DEL, fd, nullptr);
    r.polled = 0;
  } else if (r.polled == 0) {
    if (epoll_ctl(l.epfd, EPOLL_CTL_ADD, fd, &ev) == 0) r.polled = want;
  } else {
    if (epoll_ctl(l.epfd, EPOLL_CTL_MOD, fd, &ev) == 0) r.polled = want;
  }
}

// Under the lock: changes the record of a socket the layer knows, then
// brings its poll registration up to date.
template <class F>
void UpdateSock(PlatSocket s, F&& change) {
  Layer& l = L();
  std::lock_guard<std::mutex> g(l.lock);
  auto it = l.socks.find(s);
  if (it == l.socks.end()) return;
  change(it->second);
  Sync(l, s, it->second);
}

uint32_t Word(uint32_t event, int32_t err) { return event | (uint32_t(err) << 16); }

// Under the lock: what one report of epoll means for the socket.
void Report(int fd, SockRec& r, uint32_t ev, std::vector<Post>* posts) {
  const bool edge = r.polled == kEdgeInterest;
  if (!edge) r.polled = kPolledDisabled;
  int32_t err = r.injected;
  r.injected = 0;
  auto post = [&](uint32_t event, int32_t e) {
    if (r.window) posts->push_back(Post{r.window, r.message, fd, Word(event, e)});
  };
  if (edge) {
    // Edges for events not armed wait as ready.
    if ((ev & (EPOLLIN | EPOLLRDHUP | EPOLLERR | EPOLLHUP)) && !(r.armed & kPlatSockRead)) r.ready |= kPlatSockRead;
    if ((ev & (EPOLLOUT | EPOLLERR)) && !(r.armed & kPlatSockWrite)) r.ready |= kPlatSockWrite;
  }
  if (r.listening) {
    if (r.armed & kPlatSockAccept) {
      r.armed &= ~kPlatSockAccept;
      post(kPlatSockAccept, err);
    }
  } else if (r.connecting) {
    int soerr = 0;
    socklen_t len = sizeof soerr;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &soerr, &len) != 0) soerr = errno;
    if (!err) err = PlatSockErrorFromErrno(soerr);
    r.connecting = false;
    r.connected = err == 0;
    if (r.armed & kPlatSockConnect) post(kPlatSockConnect, err);
    r.armed &= ~kPlatSockConnect;
    if (err) {
      r.armed = 0;  // a failed attempt reports nothing more
    } else if ((r.armed & kPlatSockWrite) && (ev & EPOLLOUT)) {
      r.armed &= ~kPlatSockWrite;
      post(kPlatSockWrite, 0);
    }
  } else {
    if ((ev & (EPOLLIN | EPOLLRDHUP | EPOLLERR | EPOLLHUP)) && (r.armed & kPlatSockRead)) {
      // Readable with the peer's side open and no error: bytes wait.  Else
      // a look tells bytes from the end of the stream or an error.
      char c;
      const bool bytes = (ev & (EPOLLRDHUP | EPOLLERR | EPOLLHUP)) == 0;
      ssize_t n = bytes ? 1 : recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
      if (n > 0) {
        r.armed &= ~kPlatSockRead;
        post(kPlatSockRead, err);
        err = 0;
      } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        int32_t e = n == 0 ? 0 : PlatSockErrorFromErrno(errno);
        if (!err) err = e;
        r.armed &= ~kPlatSockRead;
        if (r.armed & kPlatSockClose) {
          r.armed &= ~kPlatSockClose;
          post(kPlatSockClose, err);
          err = 0;
        }
      }
    }
    if ((ev & (EPOLLOUT | EPOLLERR)) && (r.armed & kPlatSockWrite)) {
      r.armed &= ~kPlatSockWrite;
      post(kPlatSockWrite, err);
      err = 0;
    }
  }
  if (err) r.injected = err;  // not reported yet: it stays for the next event
}

void PostAll(const std::vector<Post>& posts) {
  for (const Post& p : posts) PlatPostMessage(p.window, p.message, PlatWParam(p.socket), PlatLParam(p.word));
}

// Arms an event again after the call that consumed it.  A one-shot
// registration is enabled again; on an edge-triggered one an event that
// was ready meanwhile, or may still hold (mayHold: a receive that filled its
// buffer or ended otherwise than by running dry), is looked for at once.
void Rearm(PlatSocket s, uint32_t event, bool mayHold) {
  Layer& l = L();
  std::vector<Post> posts;
  {
    std::lock_guard<std::mutex> g(l.lock);
    auto it = l.socks.find(s);
    if (it == l.socks.end()) return;
    SockRec& r = it->second;
    if (r.polled != kEdgeInterest) {
      if ((r.armed & event) == (r.mask & event) && r.polled != kPolledDisabled) return;
      r.armed |= r.mask & event;
      Sync(l, s, r);
      return;
    }
    const uint32_t arming = r.mask & event & ~r.armed;
    r.armed |= r.mask & event;
    const bool wasReady = (r.ready & event) != 0;
    r.ready &= ~event;
    if (!arming && !wasReady) return;
    if (event == kPlatSockRead && (wasReady || mayHold)) {
      // The report's look at the socket tells bytes, the end or an error.
      Report(s, r, EPOLLIN | EPOLLRDHUP, &posts);
    } else if (event == kPlatSockWrite) {
      pollfd p{s, POLLOUT, 0};
      if (poll(&p, 1, 0) == 1) Report(s, r, uint32_t(p.revents & (POLLOUT | POLLERR)), &posts);
    }
  }
  PostAll(posts);
}

void NotifierMain(int epfd) {
  epoll_event evs[64];
  std::vector<Post> posts;
  for (;;) {
    int n = epoll_wait(epfd, evs, 64, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    posts.clear();
    bool stop = false;
    {
      Layer& l = L();
      std::lock_guard<std::mutex> g(l.lock);
      for (int i = 0; i < n; ++i) {
        if (evs[i].data.u64 == kWakeData) {
          stop = true;
          continue;
        }
        int fd = int(uint32_t(evs[i].data.u64));
        uint32_t gen = uint32_t(evs[i].data.u64 >> 32);
        auto it = l.socks.find(fd);
        if (it == l.socks.end() || it->second.gen != gen) continue;
        Report(fd, it->second, evs[i].events, &posts);
        Sync(l, fd, it->second);
      }
    }
    PostAll(posts);
    if (stop) return;
  }
}

int32_t LastError() { return PlatSockErrorFromErrno(errno); }

sockaddr_in Addr(uint32_t address, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = address;
  a.sin_port = port;
  return a;
}

}  // namespace

int32_t PlatSockErrorFromErrno(int e) {
  if (e == 0) return 0;
  for (const ErrName& n : kErrors)
    if (n.host == e) return n.sock;
  return kPlatSockOtherBase + e;
}

const char* PlatSockErrorText(int32_t err) {
  for (const ErrName& n : kErrors)
    if (n.sock == err) return n.text;
  if (err == kPlatSockVERNOTSUPPORTED) return "version not supported";
  return "unknown socket error";
}

int32_t PlatSockStartup(uint16_t version, PlatSockInfo* info) {
  uint16_t granted = 0x0101;
  if (info) {
    std::memset(info, 0, sizeof *info);
    info->version = granted;
    info->highVersion = granted;
    std::strcpy(info->description, "Quenlix sockets over host IPv4 streams");
    std::strcpy(info->status, "Running");
    rlimit rl{};
    uint32_t maxs = getrlimit(RLIMIT_NOFILE, &rl) == 0 ? uint32_t(rl.rlim_cur) : 1024;
    info->maxSockets = uint16_t(maxs > 0xFFFF ? 0xFFFF : maxs);
    info->maxUdp = 65507;
  }
  // Major in the low byte: 1.0 and anything older is refused.
  if ((version & 0xFF) < 1 || ((version & 0xFF) == 1 && (version >> 8) < 1)) return kPlatSockVERNOTSUPPORTED;
  Layer& l = L();
  std::lock_guard<std::mutex> g(l.lock);
  if (l.starts++ > 0) return 0;
  l.epfd = epoll_create1(EPOLL_CLOEXEC);
  l.wakefd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (l.epfd < 0 || l.wakefd < 0) {
    int32_t e = LastError();
    if (l.epfd >= 0) close(l.epfd);
    if (l.wakefd >= 0) close(l.wakefd);
    l.epfd = l.wakefd = -1;
    l.starts = 0;
    return e;
  }
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = kWakeData;
  epoll_ctl(l.epfd, EPOLL_CTL_ADD, l.wakefd, &ev);
  // Descriptors registered before the start join the set now.
  for (auto& [fd, r] : l.socks) {
    r.polled = 0;
    Sync(l, fd, r);
  }
  l.notifier = std::thread(NotifierMain, l.epfd);
  l.running = true;
  return 0;
}

void PlatSockCleanup() {
  Layer& l = L();
  std::thread t;
  int epfd = -1, wakefd = -1;
  {
    std::lock_guard<std::mutex> g(l.lock);
    if (l.starts == 0 || --l.starts > 0) return;
    uint64_t one = 1;
    if (write(l.wakefd, &one, sizeof one) < 0) {
      // The counter cannot overflow here; the thread is woken either way.
    }
    t = std::move(l.notifier);
    epfd = l.epfd;
    wakefd = l.wakefd;
    l.epfd = l.wakefd = -1;
    l.running = false;
    for (auto& [fd, r] : l.socks) r.polled = 0;
  }
  if (t.joinable()) t.join();
  close(epfd);
  close(wakefd);
}

PlatSocket PlatSockCreate(int32_t* err) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (err) *err = LastError();
    return kPlatNoSocket;
  }
  Layer& l = L();
  std::lock_guard<std::mutex> g(l.lock);
  SockRec& r = l.socks[fd];
  r = SockRec{};
  r.gen = l.nextGen++;
  if (err) *err = 0;
  return fd;
}

int32_t PlatSockBind(PlatSocket s, uint32_t address, uint16_t port) {
  int on = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a = Addr(address, port);
  return bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? 0 : LastError();
}

int32_t PlatSockListen(PlatSocket s, int32_t backlog) {
  // The backlog is a hint, as callers written for small fixed backlogs
  // expect: the host keeps its full queue, so that a burst of connects is
  // not dropped (and retried a second later) while the owner of the
  // listener takes them one event at a time.
  if (listen(s, backlog < SOMAXCONN ? SOMAXCONN : backlog) != 0) return LastError();
  UpdateSock(s, [](SockRec& r) { r.listening = true; });
  return 0;
}

int32_t PlatSockConnect(PlatSocket s, uint32_t address, uint16_t port) {
  sockaddr_in a = Addr(address, port);
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
    UpdateSock(s, [](SockRec& r) { r.connected = true; });
    return 0;
  }
  int32_t e = LastError();
  if (e == kPlatSockEINPROGRESS || e == kPlatSockEWOULDBLOCK)
    UpdateSock(s, [](SockRec& r) {
      r.connecting = true;
      r.armed |= r.mask & kPlatSockConnect;
    });
  return e;
}

int32_t PlatSockSetNonBlocking(PlatSocket s, bool on) {
  int fl = fcntl(s, F_GETFL);
  if (fl < 0) return LastError();
  fl = on ? (fl | O_NONBLOCK) : (fl & ~O_NONBLOCK);
  return fcntl(s, F_SETFL, fl) == 0 ? 0 : LastError();
}

int32_t PlatSockLocalPort(PlatSocket s, uint16_t* port) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) return LastError();
  if (port) *port = a.sin_port;
  return 0;
}

PlatSocket PlatSockAccept(PlatSocket s, uint32_t* address, uint16_t* port, int32_t* err) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  int fd = accept4(s, reinterpret_cast<sockaddr*>(&a), &len, SOCK_CLOEXEC);
  int32_t e = fd < 0 ? LastError() : 0;
  Rearm(s, kPlatSockAccept, true);
  if (fd < 0) {
    if (err) *err = e;
    return kPlatNoSocket;
  }
  {
    Layer& l = L();
    std::lock_guard<std::mutex> g(l.lock);
    SockRec& r = l.socks[fd];
    r = SockRec{};
    r.gen = l.nextGen++;
    r.connected = true;
  }
  if (address) *address = a.sin_addr.s_addr;
  if (port) *port = a.sin_port;
  if (err) *err = 0;
  return fd;
}

int32_t PlatSockRecv(PlatSocket s, void* buffer, int32_t count, int32_t* err) {
  ssize_t n = recv(s, buffer, size_t(count < 0 ? 0 : count), 0);
  int32_t e = n < 0 ? LastError() : 0;
  // Fewer bytes than asked for, or none waiting: the socket ran dry, and
  // what comes next makes an edge.
  const bool dry = (n > 0 && n < count) || e == kPlatSockEWOULDBLOCK;
  Rearm(s, kPlatSockRead, !dry);
  if (err) *err = e;
  return n < 0 ? -1 : int32_t(n);
}

int32_t PlatSockSend(PlatSocket s, const void* buffer, int32_t count, int32_t* err) {
  ssize_t n = send(s, buffer, size_t(count < 0 ? 0 : count), MSG_NOSIGNAL);
  int32_t e = n < 0 ? LastError() : 0;
  // Room to write is reported again only after a send that would block.
  if (e == kPlatSockEWOULDBLOCK) Rearm(s, kPlatSockWrite, true);
  if (err) *err = e;
  return n < 0 ? -1 : int32_t(n);
}

int32_t PlatSockClose(PlatSocket s) {
  {
    Layer& l = L();
    std::lock_guard<std::mutex> g(l.lock);
    auto it = l.socks.find(s);
    if (it != l.socks.end()) {
      // Out of the set before the descriptor can be reused.
      if (it->second.polled && l.epfd >= 0) epoll_ctl(l.epfd, EPOLL_CTL_DEL, s, nullptr);
      l.socks.erase(it);
    }
  }
  return close(s) == 0 ? 0 : LastError();
}

int32_t PlatSockNotify(PlatSocket s, PlatWindow window, uint32_t message, uint32_t mask) {
  if (mask && !window) return kPlatSockEINVAL;
  Layer& l = L();
  std::lock_guard<std::mutex> g(l.lock);
  auto it = l.socks.find(s);
  if (it == l.socks.end()) return kPlatSockENOTSOCK;
  SockRec& r = it->second;
  r.window = window;
  r.message = message;
  r.mask = mask;
  r.armed = mask;
  // Forces the registration anew, which reports whatever holds now (an
  // edge-triggered one too).
  if (r.polled == kPolledDisabled || r.polled == kEdgeInterest) r.polled = ~0u;
  r.ready = 0;
  Sync(l, s, r);
  return 0;
}

void PlatSockTestInjectError(PlatSocket s, int32_t err) {
  Layer& l = L();
  std::lock_guard<std::mutex> g(l.lock);
  auto it = l.socks.find(s);
  if (it != l.socks.end()) it->second.injected = err;
}

int32_t PlatSockTestNotifierThreads() {
  Layer& l = L();
  std::lock_guard<std::mutex> g(l.lock);
  return l.running ? 1 : 0;
}
