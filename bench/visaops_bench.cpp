// VISA transfers over a TCP session against the same over a plain blocking
// socket, each iteration timing one of each so that a busy machine slows
// both alike; x_socket is the VISA time over the socket's.
//   BM_VisaQueryVsSocket: 10,000 "*IDN?" round trips, synchronous VisaWrite
//   and VisaRead (the library without asynchronous entries) against send and
//   recv.
//   BM_VisaAsyncReadVsRecv: 16 MiB read asynchronously (start, then polls)
//   in 64 KiB pieces against blocking recv of the same pieces.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "start_once.h"

#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "io/visaops.h"
#include "mgsource/memory.h"
#include "mgsource/thread.h"
#include "tests/loopback.h"

namespace {

constexpr int kQueries = 10000;
constexpr int32 kPiece = 64 * 1024;
constexpr int64_t kBulk = 16 << 20;

// A loopback peer serving each connection on a thread of its own: a "*IDN?"
// line gets its answer, a "BULK" line 16 MiB.
class Peer {
 public:
  Peer() {
    fd_ = qxloop::Listen(&port_);
    thread_ = std::thread([this] {
      for (;;) {
        int c = accept(fd_, nullptr, nullptr);
        if (c < 0) return;
        int one = 1;
        setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::lock_guard<std::mutex> g(lock_);
        clients_.push_back(c);
        servers_.emplace_back([c] { Serve(c); });
      }
    });
  }
  ~Peer() {
    shutdown(fd_, SHUT_RDWR);
    close(fd_);
    thread_.join();
    for (int c : clients_) shutdown(c, SHUT_RDWR);
    for (std::thread& t : servers_) t.join();
    for (int c : clients_) close(c);
  }
  int port() const { return port_; }

 private:
  static void Serve(int c) {
    std::string line;
    char buf[4096];
    std::vector<char> bulk(kPiece, 'x');
    for (;;) {
      ssize_t n = recv(c, buf, sizeof buf, 0);
      if (n <= 0) return;
      for (ssize_t i = 0; i < n; ++i) {
        if (buf[i] != '\n') {
          line += buf[i];
          continue;
        }
        if (line == "*IDN?") send(c, "Quenlix,Peer\n", 13, MSG_NOSIGNAL);
        if (line == "BULK") {
          for (int64_t sent = 0; sent < kBulk; sent += kPiece) send(c, bulk.data(), kPiece, MSG_NOSIGNAL);
        }
        line.clear();
      }
    }
  }
  int fd_;
  int port_ = 0;
  std::thread thread_;
  std::mutex lock_;
  std::vector<int> clients_;
  std::vector<std::thread> servers_;
};

int Connect(int port) {
  int s = qxloop::Connect(port);
  int one = 1;
  if (s >= 0) setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return s;
}

LStrHandle Text(const char* s) {
  int32 n = int32(std::strlen(s));
  auto h = reinterpret_cast<LStrHandle>(DSNewHandle(4 + n));
  (*h)->cnt = n;
  std::memcpy((*h)->str, s, size_t(n));
  return h;
}

// The managers and a VISA session on the peer, through the given library.
Cookie OpenSession(const Peer& peer, const char* library) {
  static std::once_flag once;
  std::call_once(once, [] {
    BenchMemInit();
    BenchThInit();
  });
  VisaCloseAll();
  if (VisaInit() != kNoErr) return 0;
  VisaSetLibraryForTest(library);
  std::string name = "TCPIP::127.0.0.1::" + std::to_string(peer.port()) + "::SOCKET";
  LStrHandle h = Text(name.c_str());
  Cookie c = 0;
  int32 st = VisaOpen(h, 0, 2000, nullptr, &c);
  DSDisposeHandle(reinterpret_cast<UHandle>(h));
  return st == 0 ? c : 0;
}

using Clock = std::chrono::steady_clock;

void Report(benchmark::State& st, Clock::duration visa, Clock::duration sock) {
  double v = std::chrono::duration<double, std::milli>(visa).count();
  double s = std::chrono::duration<double, std::milli>(sock).count();
  double n = double(st.iterations());
  st.counters["ms_visa"] = n ? v / n : 0;
  st.counters["ms_socket"] = n ? s / n : 0;
  st.counters["x_socket"] = s > 0 ? v / s : 0;
}

void BM_VisaQueryVsSocket(benchmark::State& st) {
  Peer peer;
  Cookie c = OpenSession(peer, QX_VISA_NOASYNC_LIB);
  int s = Connect(peer.port());
  if (!c || s < 0 || !VisaSynchronous()) {
    st.SkipWithError("no VISA session");
    return;
  }
  LStrHandle ask = Text("*IDN?\n"), in = Text("");
  char buf[100];
  uInt32 got = 0;
  VisaAsyncRec rec{};
  Clock::duration visa{}, sock{};
  for (auto _ : st) {
    auto t0 = Clock::now();
    for (int i = 0; i < kQueries; ++i) {
      VisaWrite(c, ask, &got, &rec);
      VisaRead(c, in, 100, &got, &rec);
    }
    auto t1 = Clock::now();
    for (int i = 0; i < kQueries; ++i) {
      send(s, "*IDN?\n", 6, MSG_NOSIGNAL);
      recv(s, buf, 13, MSG_WAITALL);
    }
    auto t2 = Clock::now();
    visa += t1 - t0;
    sock += t2 - t1;
  }
  if ((*in)->cnt != 13) st.SkipWithError("wrong answer");
  Report(st, visa, sock);
  close(s);
  DSDisposeHandle(reinterpret_cast<UHandle>(ask));
  DSDisposeHandle(reinterpret_cast<UHandle>(in));
  VisaCloseAll();
}
BENCHMARK(BM_VisaQueryVsSocket)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_VisaAsyncReadVsRecv(benchmark::State& st) {
  Peer peer;
  Cookie c = OpenSession(peer, QX_VISA_LIB);
  int s = Connect(peer.port());
  // Bulk bytes are no lines: the line end does not end a read.
  if (!c || s < 0 || VisaSynchronous() || VisaSetAttribute(c, 0x3FFF0038, 0) != 0) {
    st.SkipWithError("no asynchronous VISA session");
    return;
  }
  LStrHandle bulk = Text("BULK\n"), in = Text("");
  std::vector<char> buf(kPiece);
  uInt32 got = 0;
  VisaAsyncRec rec{};
  Clock::duration visa{}, sock{};
  bool ok = true;
  for (auto _ : st) {
    auto t0 = Clock::now();
    rec.phase = kVisaPhaseStart;
    VisaWrite(c, bulk, &got, &rec);
    rec.phase = kVisaPhasePoll;
    while (rec.pending) std::this_thread::yield(), VisaWrite(c, bulk, &got, &rec);
    for (int64_t n = 0; n < kBulk && ok; n += got) {
      rec.phase = kVisaPhaseStart;
      VisaRead(c, in, kPiece, &got, &rec);
      rec.phase = kVisaPhasePoll;
      while (rec.pending) std::this_thread::yield(), VisaRead(c, in, kPiece, &got, &rec);
      ok = rec.status >= 0 && got > 0;
    }
    auto t1 = Clock::now();
    send(s, "BULK\n", 5, MSG_NOSIGNAL);
    for (int64_t n = 0; n < kBulk && ok;) {
      ssize_t r = recv(s, buf.data(), kPiece, MSG_WAITALL);
      ok = r > 0;
      n += r;
    }
    auto t2 = Clock::now();
    visa += t1 - t0;
    sock += t2 - t1;
  }
  if (!ok) st.SkipWithError("transfer failed");
  Report(st, visa, sock);
  close(s);
  DSDisposeHandle(reinterpret_cast<UHandle>(bulk));
  DSDisposeHandle(reinterpret_cast<UHandle>(in));
  VisaCloseAll();
}
BENCHMARK(BM_VisaAsyncReadVsRecv)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace
