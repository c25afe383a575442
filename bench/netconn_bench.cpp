// Network connections: a bulk transfer through pending operations against
// blocking send and recv between two threads, and many connections doing
// line round trips against a plain epoll echo loop.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "start_once.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "io/netconn.h"
#include "mgsource/datetime.h"
#include "mgsource/memory.h"
#include "mgsource/occur.h"
#include "mgsource/thread.h"
#include "platform/qx_defproc.h"
#include "platform/qx_display.h"
#include "platform/qx_msgqueue.h"
#include "platform/qx_socket.h"
#include "tests/loopback.h"
#include "tests/socket_frame.h"

namespace {

constexpr int32 kChunk = 64 * 1024;
constexpr int64_t kBulk = 64ll * 1024 * 1024;

using qxframe::FrameProc;

void PumpOnce() {
  PlatMsg m;
  while (PlatPeekMessage(&m, 0, 0, 0, kPlatPeekRemove)) PlatDispatchMessage(&m);
  ChkOccurrences();
}

// The managers, the frame window and a listener, made on the benchmark
// thread, which then pumps.
struct Net {
  Cookie listener = 0;
  uInt16 port = 0;
  Net() {
    BenchMemInit();
    BenchThInit();
    BenchOccurInit();
    PlatRegisterClass(PlatWindowClass{"NCBenchFrame", FrameProc, 0, kPlatNoBrush});
    PlatSetFrameWindow(PlatCreateWindow("NCBenchFrame", "frame", 0, 0, PlatRect{0, 0, 10, 10}, 0));
    NCAddress any{};
    if (NCOpenListener(&any, &listener)) std::abort();
    int32 s = -1;
    NCConnSocket(listener, &s);
    PlatSockLocalPort(s, &port);
  }
};
Net& N() {
  static Net* n = new Net;
  return *n;
}

Cookie gAccepted = 0;
MgErr OnAccept(NCCompletionInfo* info, Cookie) {
  gAccepted = Cookie(info->words[0]);
  return 0;
}
Cookie AcceptOne() {
  Cookie c = 0;
  gAccepted = 0;
  if (NCWaitOnListener(N().listener, -1, OnAccept, 0, &c, nullptr) == 0) return c;
  while (!gAccepted) PumpOnce();
  return gAccepted;
}

// Bulk transfer: the writer's completion starts the next write, the
// reader's the next read.
struct Bulk {
  Cookie writer = 0, reader = 0;
  std::vector<char> out = std::vector<char>(kChunk, 'x');
  std::vector<char> in = std::vector<char>(kChunk);
  int64_t sent = 0, received = 0;
  bool failed = false;
};
Bulk* gBulk = nullptr;
MgErr BulkProc(NCCompletionInfo* info, Cookie);
void WriteNext() {
  while (gBulk->sent < kBulk) {
    int32 n = kChunk;
    MgErr err = NCWriteConn(gBulk->writer, reinterpret_cast<UPtr>(gBulk->out.data()), &n, -1, BulkProc, 1);
    if (err == 55) return;
    if (err) {
      gBulk->failed = true;
      return;
    }
    gBulk->sent += n;
  }
}
void ReadNext() {
  while (gBulk->received < kBulk) {
    int32 n = kChunk;
    MgErr err = NCReadConn(gBulk->reader, reinterpret_cast<UPtr>(gBulk->in.data()), &n, -1, BulkProc, 2, 0);
    if (err == 55) return;
    if (err) {
      gBulk->failed = true;
      return;
    }
    gBulk->received += n;
  }
}
MgErr BulkProc(NCCompletionInfo* info, Cookie) {
  if (info->result) {
    gBulk->failed = true;
    return 0;
  }
  if (info->kind == kNCKindWrite) {
    gBulk->sent += info->words[1];
    WriteNext();
  } else {
    gBulk->received += info->words[1];
    ReadNext();
  }
  return 0;
}

void BM_NCBulk64MiB(benchmark::State& state) {
  Net& net = N();
  NCAddress to{0, htonl(INADDR_LOOPBACK), net.port};
  Bulk bulk;
  gBulk = &bulk;
  MgErr err = NCConnectConn(nullptr, &to, nullptr, 0, -1, &bulk.writer);
  bulk.reader = AcceptOne();
  if (err == 55) {
    for (int i = 0; i < 100; ++i) PumpOnce();
  }
  for (auto _ : state) {
    bulk.sent = bulk.received = 0;
    WriteNext();
    ReadNext();
    while (bulk.received < kBulk && !bulk.failed) PumpOnce();
  }
  if (bulk.failed) state.SkipWithError("transfer failed");
  state.SetBytesProcessed(state.iterations() * kBulk);
  NCClose(bulk.writer);
  NCClose(bulk.reader);
  gBulk = nullptr;
}
BENCHMARK(BM_NCBulk64MiB)->Unit(benchmark::kMillisecond)->UseRealTime();

int LoopbackPair(int* a, int* b) {
  int port = 0;
  int l = qxloop::Listen(&port, 1);
  if (l < 0) return -1;
  *a = qxloop::Connect(port);
  *b = *a < 0 ? -1 : accept(l, nullptr, nullptr);
  close(l);
  return *b < 0 ? -1 : 0;
}

void BM_BlockingBulk64MiB(benchmark::State& state) {
  int a = -1, b = -1;
  if (LoopbackPair(&a, &b)) {
    state.SkipWithError("no loopback pair");
    return;
  }
  std::vector<char> out(kChunk, 'x'), in(kChunk);
  for (auto _ : state) {
    std::thread sender([&] {
      for (int64_t sent = 0; sent < kBulk;) {
        ssize_t n = send(a, out.data(), out.size(), MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += n;
      }
    });
    for (int64_t got = 0; got < kBulk;) {
      ssize_t n = recv(b, in.data(), in.size(), 0);
      if (n <= 0) break;
      got += n;
    }
    sender.join();
  }
  state.SetBytesProcessed(state.iterations() * kBulk);
  close(a);
  close(b);
}
BENCHMARK(BM_BlockingBulk64MiB)->Unit(benchmark::kMillisecond)->UseRealTime();

// Line round trips: the peer thread keeps every connection busy with one
// line at a time; the server echoes with a line read and a write.
constexpr int kConns = 1000;
constexpr int kTrips = 20;
constexpr char kLine[] = "0123456789abcdefghijklmnopqrstuvwxyz\r\n";
constexpr int kLineLen = sizeof kLine - 1;

// Runs the clients: each sends a line and waits for its echo, kTrips times,
// all connections at once through one epoll set.
bool RunClients(uInt16 port, int conns) {
  std::vector<int> fds;
  int ep = epoll_create1(0);
  for (int i = 0; i < conns; ++i) {
    int fd = qxloop::Connect(ntohs(port));
    if (fd < 0) return false;
    fds.push_back(fd);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u32 = uint32_t(i);
    epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev);
    send(fd, kLine, kLineLen, MSG_NOSIGNAL);
  }
  std::vector<int> trips(size_t(conns), 0), got(size_t(conns), 0);
  int finished = 0;
  epoll_event evs[256];
  char buf[256];
  while (finished < conns) {
    int n = epoll_wait(ep, evs, 256, 5000);
    if (n <= 0) return false;
    for (int k = 0; k < n; ++k) {
      int i = int(evs[k].data.u32);
      ssize_t r = recv(fds[size_t(i)], buf, sizeof buf, 0);
      if (r <= 0) return false;
      got[size_t(i)] += int(r);
      if (got[size_t(i)] < kLineLen) continue;
      got[size_t(i)] = 0;
      if (++trips[size_t(i)] == kTrips) {
        ++finished;
      } else {
        send(fds[size_t(i)], kLine, kLineLen, MSG_NOSIGNAL);
      }
    }
  }
  for (int fd : fds) close(fd);
  close(ep);
  return true;
}

int Conns() {
  rlimit rl{};
  getrlimit(RLIMIT_NOFILE, &rl);
  rl.rlim_cur = rl.rlim_max;
  setrlimit(RLIMIT_NOFILE, &rl);
  getrlimit(RLIMIT_NOFILE, &rl);
  return rl.rlim_cur >= 2100 ? kConns : int(rl.rlim_cur / 2 - 50);
}

struct Echo {
  std::vector<std::vector<char>> bufs;
  std::vector<Cookie> conns;
};
Echo* gEcho = nullptr;
MgErr EchoProc(NCCompletionInfo* info, Cookie conn);
void EchoRead(int32 slot) {
  for (;;) {
    int32 n = 64;
    MgErr err = NCReadConn(gEcho->conns[size_t(slot)], reinterpret_cast<UPtr>(gEcho->bufs[size_t(slot)].data()), &n,
                           -1, EchoProc, slot, 2);
    if (err) return;
    NCWriteConn(gEcho->conns[size_t(slot)], reinterpret_cast<UPtr>(gEcho->bufs[size_t(slot)].data()), &n, -1,
                nullptr, slot);
  }
}
MgErr EchoProc(NCCompletionInfo* info, Cookie conn) {
  if (info->kind == kNCKindRead && info->result == 0) {
    int32 n = info->words[1];
    NCWriteConn(conn, reinterpret_cast<UPtr>(gEcho->bufs[size_t(info->data)].data()), &n, -1, nullptr, info->data);
    EchoRead(info->data);
  } else if (info->kind == kNCKindAccept && info->result == 0) {
    gEcho->conns.push_back(Cookie(info->words[0]));
  }
  return 0;
}

void BM_NCLineRoundTrips(benchmark::State& state) {
  Net& net = N();
  int conns = Conns();
  for (auto _ : state) {
    Echo echo;
    gEcho = &echo;
    echo.bufs.assign(size_t(conns), std::vector<char>(64));
    std::atomic<int> ok{-1};
    std::thread peer([&] { ok = RunClients(net.port, conns) ? 1 : 0; });
    // Accept every connection, then start its line read.
    while (int(echo.conns.size()) < conns) {
      Cookie c = 0;
      MgErr err = NCWaitOnListener(net.listener, -1, EchoProc, 0, &c, nullptr);
      if (err == 0) echo.conns.push_back(c);
      while (err == 55 && echo.conns.size() < size_t(conns) && ok < 0) {
        size_t before = echo.conns.size();
        PumpOnce();
        if (echo.conns.size() > before) break;
      }
      if (ok >= 0) break;
    }
    for (int i = 0; i < int(echo.conns.size()); ++i) EchoRead(i);
    while (ok < 0) PumpOnce();
    peer.join();
    if (ok != 1) state.SkipWithError("clients failed");
    for (Cookie c : echo.conns) NCClose(c);
    gEcho = nullptr;
  }
  state.counters["conns"] = conns;
}
BENCHMARK(BM_NCLineRoundTrips)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_EpollLineRoundTrips(benchmark::State& state) {
  int conns = Conns();
  for (auto _ : state) {
    int port = 0;
    int l = qxloop::Listen(&port, SOMAXCONN, SOCK_STREAM | SOCK_NONBLOCK);
    int ep = epoll_create1(0);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = l;
    epoll_ctl(ep, EPOLL_CTL_ADD, l, &ev);
    std::atomic<int> ok{-1};
    std::thread peer([&] { ok = RunClients(htons(uint16_t(port)), conns) ? 1 : 0; });
    std::vector<int> fds;
    epoll_event evs[256];
    char buf[256];
    while (ok < 0) {
      int n = epoll_wait(ep, evs, 256, 10);
      for (int k = 0; k < n; ++k) {
        int fd = evs[k].data.fd;
        if (fd == l) {
          int c = accept4(l, nullptr, nullptr, SOCK_NONBLOCK);
          if (c < 0) continue;
          fds.push_back(c);
          epoll_event cev{};
          cev.events = EPOLLIN;
          cev.data.fd = c;
          epoll_ctl(ep, EPOLL_CTL_ADD, c, &cev);
        } else {
          ssize_t r = recv(fd, buf, sizeof buf, 0);
          if (r > 0) send(fd, buf, size_t(r), MSG_NOSIGNAL);
        }
      }
    }
    peer.join();
    if (ok != 1) state.SkipWithError("clients failed");
    for (int fd : fds) close(fd);
    close(l);
    close(ep);
  }
  state.counters["conns"] = conns;
}
BENCHMARK(BM_EpollLineRoundTrips)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
