// An execute round trip of the DDE layer (client thread, socket, listener
// thread, callback on the server's own thread, answer) against a plain
// Unix-socket request and answer of the same bytes between two threads.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "platform/qx_dde.h"
#include "platform/qx_msgqueue.h"
#include "platform/qx_thread.h"

namespace {

const std::string kCommand = std::string("open(C:\\some\\folder\\a.vi)") + '\0';
double gBaselineNs = 0;

uint32_t Answer(uint32_t type, uint32_t, PlatDdeConv, PlatDdeStr, PlatDdeStr, PlatDdeData, uint32_t, uint32_t) {
  return type == kPlatXtypConnect ? 1 : type == kPlatXtypExecute ? kPlatDdeFack : 0;
}

bool ReadAll(int fd, void* p, size_t n) {
  for (char* c = static_cast<char*>(p); n;) {
    const ssize_t r = read(fd, c, n);
    if (r <= 0) return false;
    c += r;
    n -= size_t(r);
  }
  return true;
}

void BM_UnixSocketRoundTripBaseline(benchmark::State& st) {
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return st.SkipWithError("no socket pair");
  const size_t frame = 5 + kCommand.size();
  std::thread echo([&] {
    std::string in(frame, '\0');
    const char answer[4] = {0, 0, char(0x80), 0};
    while (ReadAll(sv[1], in.data(), frame))
      if (write(sv[1], answer, 4) != 4) break;
  });
  std::string out(5, '\x02');
  out += kCommand;
  char answer[4];
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : st) {
    if (write(sv[0], out.data(), frame) != ssize_t(frame) || !ReadAll(sv[0], answer, 4)) break;
  }
  gBaselineNs = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
                double(st.iterations());
  close(sv[0]);
  echo.join();
  close(sv[1]);
}
BENCHMARK(BM_UnixSocketRoundTripBaseline);

void BM_DdeExecuteRoundTrip(benchmark::State& st) {
  char dir[] = "/tmp/qxddebenchXXXXXX";
  if (!mkdtemp(dir)) return st.SkipWithError("no folder");
  setenv("QX_RUNTIME_DIR", dir, 1);
  std::atomic<int> phase{0};
  std::atomic<uint32_t> serverThread{0};
  std::thread server([&] {
    PlatDdeInst inst = 0;
    PlatDdeInitialize(&inst, &Answer, 0);
    PlatDdeNameService(inst, PlatDdeCreateString(inst, "BENCH"), kPlatDdeNsRegister);
    serverThread = PlatThreadCurrentId();
    phase = 1;
    PlatMsg m;
    while (PlatGetMessage(&m, 0, 0, 0)) PlatDispatchMessage(&m);
    PlatDdeUninitialize(inst);
  });
  while (phase.load() == 0) std::this_thread::yield();
  PlatDdeInst client = 0;
  PlatDdeInitialize(&client, &Answer, kPlatDdeClientOnly);
  const PlatDdeConv conv =
      PlatDdeConnect(client, PlatDdeCreateString(client, "BENCH"), PlatDdeCreateString(client, "System"));
  if (!conv) st.SkipWithError("no conversation");
  uint32_t result = 0;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : st) {
    if (!conv || !PlatDdeClientTransaction(kCommand.data(), uint32_t(kCommand.size()), conv, 0, 0, kPlatXtypExecute,
                                           5000, &result))
      break;
  }
  const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
                    double(st.iterations());
  if (gBaselineNs > 0) st.counters["x_plain_socket"] = ns / gBaselineNs;
  PlatDdeDisconnect(conv);
  PlatDdeUninitialize(client);
  PlatPostThreadMessage(serverThread.load(), kPlatMsgQuit, 0, 0);
  server.join();
  rmdir(dir);
  unsetenv("QX_RUNTIME_DIR");
}
BENCHMARK(BM_DdeExecuteRoundTrip);

}  // namespace
