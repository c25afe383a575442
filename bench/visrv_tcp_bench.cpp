// The VI server over loopback, in one process: the engine's loop (socket
// messages, the connection manager's poll, the server's user events) on the
// benchmark's thread.
//
// One round trip: "VI Name" read through our client from our server against
// a raw blocking request and answer of the same byte counts between two
// threads.  The counter x_raw is ours over raw (target: at most 3).
//
// 32 connections: 32 threads, each with a connection of its own speaking
// the message format (the writer and reader of the format), 1,000 "VI Name"
// round trips each, against the same threads doing raw blocking round trips
// of the same byte counts with a thread per connection answering.  The
// counters: x_of_raw, our throughput over the raw one (target: at least
// 0.25), and slowest_over_median of the threads' times (target: at most 2).
#include <benchmark/benchmark.h>

#include "start_once.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/typemgr.h"
#include "engine/vi/viinst.h"
#include "engine/vi/vihooks.h"
#include "io/netconn.h"
#include "mgsource/byteorder.h"
#include "mgsource/counted_strings.h"
#include "mgsource/memory.h"
#include "mgsource/occur.h"
#include "mgsource/prefs.h"
#include "mgsource/printf.h"
#include "mgsource/thread.h"
#include "mgsource/window/wevent.h"
#include "platform/qx_defproc.h"
#include "platform/qx_display.h"
#include "platform/qx_msgqueue.h"
#include "server/access.h"
#include "server/tcpserver.h"
#include "server/viref.h"
#include "tests/loopback.h"
#include "tests/socket_frame.h"
#include "tests/user_event_queue.h"

typedef MgErr (*PostProc)(int32, int32, int32, int32, int32, int32, int32, int32, int32);
void ExecSetPostUserEventProc(PostProc proc);

namespace {

using Clock = std::chrono::steady_clock;
const uChar kName[] = "\010Bench.vi";

using qxframe::FrameProc;

// One turn of the engine's loop.
void PumpOnce() {
  PlatMsg m;
  while (PlatPeekMessage(&m, 0, 0, 0, kPlatPeekRemove)) PlatDispatchMessage(&m);
  ChkOccurrences();
  WEventRecord e;
  while (WGetNextEvent(&e))
    if (e.code == kWEvUser && e.where == kUEServerWork)
      TSHandlePostedEvent(e.globalWhere, Cookie(e.modifiers), reinterpret_cast<UHandle>(uintptr_t(uInt32(e.character))),
                          e.keyCode, uInt32(e.data[0]));
}

CPStrHandle List(const char* entry) {
  CPStrHandle list = reinterpret_cast<CPStrHandle>(AZNewHClr(4));
  Str255 e;
  PPrintf(e, "%s", entry);
  if (list) CPStrInsert(list, e, 0);
  return list;
}

// The server, listening on a port the system picks, with Bench.vi loaded.
struct Server {
  bool ready = false;
  uInt16 port = 0;
  PlatWindow frame = 0;
  Server() {
    BenchMemInit();
    BenchThInit();
    BenchOccurInit();
    if (BenchTypeHeapInit() != kNoErr || VIRefInit() != kNoErr || BenchEventQueue() != kNoErr) return;
    WEventSetGate(1);
    ExecSetPostUserEventProc(&qxevents::PostToQueue);
    ServerInstallEngineHooks();
    UHandle vi = NewVICore(kVIKindDatalog, kName, -1);
    if (!vi || HoldVIName(kName, 0) != kNoErr) return;
    PlatRegisterClass(PlatWindowClass{"TSBenchFrame", FrameProc, 0, kPlatNoBrush});
    frame = PlatCreateWindow("TSBenchFrame", "frame", 0, 0, PlatRect{0, 0, 10, 10}, 0);
    PlatSetFrameWindow(frame);
    for (int32 w : {kPrefServerVICallsEnabled, kPrefServerVIPropertiesEnabled, kPrefServerAppPropertiesEnabled})
      PrefSet(w, 1);
    PrefSet(kPrefServerTcpPort, 0);
    CPStrHandle hosts = List("+127.0.0.1"), vis = List("+*");
    QXSSpecifyTcpAccess(hosts);
    QXSSpecifyViAccess(vis);
    AZDisposeHandle(reinterpret_cast<UHandle>(hosts));
    AZDisposeHandle(reinterpret_cast<UHandle>(vis));
    if (SetServerListening(1) != kNoErr) return;
    port = TSListenerPort();
    ready = port != 0;
  }
};
Server& S() {
  static Server* s = new Server;
  return *s;
}

// ---- Raw peers -----------------------------------------------------------------------------------
bool SendAll(int fd, const uChar* p, size_t n) {
  while (n) {
    const ssize_t k = send(fd, p, n, MSG_NOSIGNAL);
    if (k <= 0) return false;
    p += k;
    n -= size_t(k);
  }
  return true;
}
bool RecvAll(int fd, uChar* p, size_t n) {
  while (n) {
    const ssize_t k = recv(fd, p, n, 0);
    if (k <= 0) return false;
    p += k;
    n -= size_t(k);
  }
  return true;
}

// The bytes of a message.
std::vector<uChar> Bytes(const SrvMessage& m) {
  std::vector<uChar> b(kSrvMsgHeaderSize);
  SrvMsgHeaderWrite(m.header, b.data());
  if (m.data) b.insert(b.end(), *m.data, *m.data + AZGetHandleSize(m.data));
  return b;
}

// The request for "VI Name" of a reference, and the size of its reply.
std::vector<uChar> NameRequest(VIRef ref) {
  LStrHandle place = nullptr;
  AttrEntry e{1, 500, &place};
  ParamVectorMsg req{kTSVIPropRequest, 1, ref, 0, 1, &e, 0, 0};
  SrvMessage m{};
  SrvWriteParamVector(req, &m);
  std::vector<uChar> b = Bytes(m);
  SrvDisposeMessage(&m);
  return b;
}
size_t NameReplySize() {
  LStrHandle name = reinterpret_cast<LStrHandle>(DSNewHandle(4 + kName[0]));
  (*name)->cnt = kName[0];
  std::memcpy((*name)->str, kName + 1, kName[0]);
  AttrEntry e{1, 500, &name};
  ParamVectorMsg reply{kTSVIPropReply, 1, 0, 0, 1, &e, 2, 0};
  SrvMessage m{};
  SrvWriteParamVector(reply, &m);
  const size_t n = Bytes(m).size();
  SrvDisposeMessage(&m);
  DSDisposeHandle(reinterpret_cast<UHandle>(name));
  return n;
}

// A thread answering its connection with bytes of the reply's size.
void RawAnswerer(int fd, size_t request, size_t reply, int trips) {
  std::vector<uChar> in(request), out(reply, 0);
  for (int i = 0; i < trips && RecvAll(fd, in.data(), in.size()) && SendAll(fd, out.data(), out.size()); ++i) {
  }
}

// A raw client of our server: Hello, an open of Bench.vi, then the round
// trips.  False when any answer is not what the format says.
bool ProtocolClient(uInt16 port, int trips, double* seconds) {
  const int fd = qxloop::Connect(port);
  if (fd < 0) return false;
  uChar h[kSrvMsgHeaderSize];
  SrvMsgHeaderWrite(SrvMsgHeader{0, kTSClientHello, 5, 0}, h);
  bool ok = SendAll(fd, h, sizeof h) && RecvAll(fd, h, sizeof h) && SrvMsgHeaderRead(h).type == kTSServerHello;
  SrvMessage m{};
  SrvWriteOpenRequest(2, 0, kName, nullptr, nullptr, nullptr, &m);
  const std::vector<uChar> open = Bytes(m);
  SrvDisposeMessage(&m);
  uChar reply[8];
  ok = ok && SendAll(fd, open.data(), open.size()) && RecvAll(fd, h, sizeof h) &&
       SrvMsgHeaderRead(h).type == kTSGetVIRefReply && SrvMsgHeaderRead(h).dataLength == 8 && RecvAll(fd, reply, 8);
  const std::vector<uChar> request = ok ? NameRequest(VIRef(GetBE32(reply))) : std::vector<uChar>();
  std::vector<uChar> data(256);
  const auto t0 = Clock::now();
  for (int i = 0; ok && i < trips; ++i) {
    ok = SendAll(fd, request.data(), request.size()) && RecvAll(fd, h, sizeof h);
    const SrvMsgHeader r = SrvMsgHeaderRead(h);
    ok = ok && r.type == kTSVIPropReply && r.error == 0 && r.dataLength > 0 && size_t(r.dataLength) <= data.size() &&
         RecvAll(fd, data.data(), size_t(r.dataLength));
  }
  *seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  close(fd);
  return ok;
}

// ---- One round trip ------------------------------------------------------------------------------
std::atomic<int> gDone{0};
MgErr gError = 0;
void Done(AsyncRef a) {
  gError = a->error;
  gDone.fetch_add(1);
}

// Runs the loop until the completion, waiting for input between turns as
// the program's loop does.
bool Wait(int before) {
  for (PumpOnce(); gDone.load() == before; PumpOnce()) {
    PlatMsg m;
    if (!PlatGetMessage(&m, 0, 0, 0)) return false;
    PlatDispatchMessage(&m);
  }
  return gError == kNoErr;
}

void BM_VINameRoundTripVsRaw(benchmark::State& st) {
  Server& s = S();
  if (!s.ready) {
    st.SkipWithError("no server");
    return;
  }
  // Our client: an application reference and a VI reference through it.
  AppRef app = 0;
  VIRef ref = 0;
  AsyncRef async = nullptr;
  int before = gDone.load();
  if (OpenAppRefByName(reinterpret_cast<ConstPStr>("\011127.0.0.1"), s.port, &app, nullptr, &Done, &async) !=
          kVIRefPendingErr ||
      !Wait(before)) {
    st.SkipWithError("no application reference");
    return;
  }
  before = gDone.load();
  if (AppOpenVIRefByName(app, kName, nullptr, 0, nullptr, &ref, nullptr, &Done, &async) != kVIRefPendingErr ||
      !Wait(before)) {
    st.SkipWithError("no VI reference");
    return;
  }
  // The raw pair.
  const size_t request = NameRequest(1).size(), reply = NameReplySize();
  int port = 0;
  const int l = qxloop::Listen(&port, 1);
  const int a = qxloop::Connect(port);
  const int b = accept(l, nullptr, nullptr);
  close(l);
  // Batches of each in turn, so that both meet the same load of the machine;
  // the ratio is the median of the batches' ratios.
  constexpr int kBatch = 200;
  std::vector<uChar> out(request, 0), in(reply);
  std::vector<double> ratios;
  double ours = 0, raw = 0;
  bool ok = true;
  for (auto _ : st) {
    std::thread answerer(RawAnswerer, b, request, reply, kBatch);
    const auto t0 = Clock::now();
    for (int i = 0; i < kBatch && ok; ++i) ok = SendAll(a, out.data(), out.size()) && RecvAll(a, in.data(), in.size());
    const auto t1 = Clock::now();
    answerer.join();
    const auto t2 = Clock::now();
    for (int i = 0; i < kBatch && ok; ++i) {
      LStrHandle name = nullptr;
      before = gDone.load();
      ok = VIRefGetAttributes(ref, 500, &name, 0, nullptr, &Done, &async) == kVIRefPendingErr && Wait(before) && name &&
           (*name)->cnt == kName[0];
      if (name) DSDisposeHandle(reinterpret_cast<UHandle>(name));
    }
    const auto t3 = Clock::now();
    const double r = std::chrono::duration<double>(t1 - t0).count(), o = std::chrono::duration<double>(t3 - t2).count();
    raw += r;
    ours += o;
    if (r > 0) ratios.push_back(o / r);
  }
  close(a);
  close(b);
  VIRefRelease(ref);
  QXAppRefRelease(app);
  for (int i = 0; i < 200; ++i) PumpOnce();
  if (!ok) st.SkipWithError("a round trip failed");
  const double trips = double(st.iterations()) * kBatch;
  std::sort(ratios.begin(), ratios.end());
  st.counters["us_ours"] = trips ? ours / trips * 1e6 : 0;
  st.counters["us_raw"] = trips ? raw / trips * 1e6 : 0;
  st.counters["x_raw"] = ratios.empty() ? 0 : ratios[ratios.size() / 2];
}
BENCHMARK(BM_VINameRoundTripVsRaw)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(15);

// ---- 32 connections ------------------------------------------------------------------------------
constexpr int kClients = 32;
constexpr uint32_t kWakeMessage = 0x0400 + 99;
constexpr int kTrips = 1000;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

void BM_VIServer32ConnectionsVsRaw(benchmark::State& st) {
  Server& s = S();
  if (!s.ready) {
    st.SkipWithError("no server");
    return;
  }
  const size_t request = NameRequest(1).size(), reply = NameReplySize();
  double oursTotal = 0, rawTotal = 0;
  std::vector<double> ratios, spreads;
  bool ok = true;
  for (auto _ : st) {
    // Raw: a thread per connection answers.
    std::vector<double> rawTimes(kClients);
    double rawOnce = 0;
    {
      int port = 0;
      const int l = qxloop::Listen(&port, kClients);
      std::vector<std::thread> answerers, clients;
      std::atomic<int> failed{0};
      for (int i = 0; i < kClients; ++i)
        clients.emplace_back([&, i] {
          const int fd = qxloop::Connect(port);
          std::vector<uChar> out(request, 0), in(reply);
          const auto t0 = Clock::now();
          for (int k = 0; k < kTrips; ++k)
            if (!SendAll(fd, out.data(), out.size()) || !RecvAll(fd, in.data(), in.size())) {
              failed.fetch_add(1);
              break;
            }
          rawTimes[size_t(i)] = std::chrono::duration<double>(Clock::now() - t0).count();
          close(fd);
        });
      for (int i = 0; i < kClients; ++i) {
        const int fd = accept(l, nullptr, nullptr);
        answerers.emplace_back([fd, request, reply] {
          RawAnswerer(fd, request, reply, kTrips);
          close(fd);
        });
      }
      const auto t0 = Clock::now();
      for (auto& t : clients) t.join();
      rawOnce = std::chrono::duration<double>(Clock::now() - t0).count();
      rawTotal += rawOnce;
      for (auto& t : answerers) t.join();
      close(l);
      ok = ok && failed.load() == 0;
    }
    // Ours: the engine's loop on this thread serves every connection.
    std::vector<double> times(kClients);
    std::atomic<int> finished{0}, failed{0};
    std::vector<std::thread> clients;
    const auto t0 = Clock::now();
    for (int i = 0; i < kClients; ++i)
      clients.emplace_back([&, i] {
        if (!ProtocolClient(s.port, kTrips, &times[size_t(i)])) failed.fetch_add(1);
        finished.fetch_add(1);
        PlatPostMessage(s.frame, kWakeMessage, 0, 0);
      });
    // The loop waits for input as the program's does.
    while (finished.load() < kClients) {
      PlatMsg m;
      if (PlatGetMessage(&m, 0, 0, 0)) PlatDispatchMessage(&m);
      PumpOnce();
    }
    const double oursOnce = std::chrono::duration<double>(Clock::now() - t0).count();
    oursTotal += oursOnce;
    if (oursOnce > 0) ratios.push_back(rawOnce / oursOnce);
    for (auto& t : clients) t.join();
    for (int i = 0; i < 200; ++i) PumpOnce();
    ok = ok && failed.load() == 0;
    spreads.push_back(*std::max_element(times.begin(), times.end()) / Median(times));
  }
  if (!ok) st.SkipWithError("a round trip failed");
  const double trips = double(st.iterations()) * kClients * kTrips;
  st.counters["ours_trips_per_s"] = oursTotal > 0 ? trips / oursTotal : 0;
  st.counters["raw_trips_per_s"] = rawTotal > 0 ? trips / rawTotal : 0;
  st.counters["x_of_raw"] = Median(ratios);
  st.counters["slowest_over_median"] = Median(spreads);
}
BENCHMARK(BM_VIServer32ConnectionsVsRaw)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace
