// A property read through a VI automation object from a client thread: the
// call goes to the object's apartment thread, which hands the request to
// the user-interface thread and back.  Against the same two hand-offs done
// with plain mutexes and condition variables (client to a first thread, it
// to a second and back, and back to the client).
#include <benchmark/benchmark.h>

#include "start_once.h"

#include <atomic>
#include <cstdio>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "engine/vi/vihooks.h"
#include "engine/vi/viinst.h"
#include "mgsource/prefs.h"
#include "olesource/oleserv.h"
#include "olesource/olevi.h"
#include "platform/qx_drives.h"
#include "platform/qx_file.h"
#include "platform/qx_registry.h"
#include "platform/qx_msgqueue.h"
#include "platform/qx_thread.h"
#include "server/viref.h"
#include "tests/user_event_queue.h"
#include "tools/appbuild.h"
#include "tools/typeinfowriter.h"

namespace {

constexpr int kBatch = 200;
const uChar kName[] = "\013OleBench.vi";

// The user-interface thread: it starts the server, makes the VI object and
// then serves apartment calls and user event 23 until told to stop.
struct UIThread {
  std::thread thread;
  std::atomic<bool> stop{false};
  std::atomic<int> state{0};  // 1 ready, -1 failed
  PlatComDispatch* vi = nullptr;
  PlatEvent* wake = nullptr;
};
UIThread* gUI = nullptr;

int32 Post(WindowRef w, int32 sub, int32 a1, int32 a2, int32 a3, int32 a4, int32 a5, Bool32 noDup, int32 pri) {
  return qxevents::PostToQueue(int32(intptr_t(w)), sub, a1, a2, a3, a4, a5, noDup, pri);
}

// The server's type information with the identifiers the server read (the
// benchmark runs without the run-time resource file that names them, so
// they are all zero: only the VI interface is kept).
bool WriteTypeInfo() {
  std::string program;
  if (!PlatProgramFile(&program)) return false;
  tiw::Library lib = tiw::ServerLibrary();
  lib.id = OleServerGuid(kOleGuidTypeLib);
  lib.interfaces.erase(lib.interfaces.begin());
  lib.interfaces[0].iid = OleServerGuid(kOleGuidVITypeInfo);
  const std::vector<uint8_t> bytes = tiw::Write(lib);
  const std::string at = program.substr(0, program.rfind('/') + 1) + "olebench.tlb";
  FILE* f = std::fopen(at.c_str(), "wb");
  const bool ok = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (f) std::fclose(f);
  // Registered, the library is found before the application folder's.
  char id[kPlatGuidTextLength + 1];
  PlatGuidToText(lib.id, id);
  const std::string key = std::string("TypeInfo\\") + id + "\\5.0\\0\\file2";
  const std::string text = "L:\\olebench.tlb";
  return ok && PlatDriveMap('L', program.substr(0, program.rfind('/')).c_str(), kPlatDriveFixed) == 0 &&
         PlatRegSetValue(kPlatRegClassesRoot, key.c_str(), text.c_str()) == kPlatRegOk;
}

void Serve(UIThread* ui) {
  const std::string registry = (std::filesystem::temp_directory_path() / "qxolevibench.ini").string();
  setenv("QX_REGISTRY_FILE", registry.c_str(), 1);
  PrefSet(kPrefServerOleEnabled, 1);
  const bool ok = OleServerStart() == 0 && WriteTypeInfo() &&
                  OleVICreate(kName, nullptr, nullptr, nullptr, &ui->vi) == kPlatOk;
  ui->state.store(ok ? 1 : -1);
  while (ok && !ui->stop.load()) {
    PlatMsg m;
    while (PlatPeekMessage(&m, 0, kPlatMsgComCall, kPlatMsgComCall, kPlatPeekRemove)) PlatDispatchMessage(&m);
    WEventRecord e;
    while (WGetNextEvent(&e))
      if (e.code == kWEvUser && e.where == kUEAutomation) OleRunPostedRequest(e.globalWhere);
    PlatWaitEventOrInput(ui->wake, 100);
  }
}

UIThread* StartUI() {
  static std::once_flag once;
  std::call_once(once, [] {
    BenchMemInit();
    BenchThInit();
    if (BenchFileMgr() != kNoErr || BenchTypeHeapInit() != kNoErr || BenchEventQueue() != kNoErr ||
        VIRefInit() != kNoErr)
      return;
    WEventSetGate(1);
    ServerInstallEngineHooks();
    static VIShellHooks shell{};
    shell.postUserEvent = &Post;
    SetVIShellHooks(&shell);
    UHandle vi = NewVICore(kVIKindDatalog, kName, -1);
    if (!vi || HoldVIName(kName, 0) != kNoErr) return;
    auto* ui = new UIThread;
    ui->wake = PlatEventCreate(false);
    ui->thread = std::thread(Serve, ui);
    while (ui->state.load() == 0) std::this_thread::yield();
    if (ui->state.load() < 0) return;
    // The server lives for the program: its thread is left serving.
    ui->thread.detach();
    gUI = ui;
  });
  return gUI;
}

// Two threads, each taking work from a mailbox guarded by a mutex and a
// condition variable: the first hands each of its jobs to the second and
// waits for it, as the apartment thread does with the user-interface
// thread.
struct Mailbox {
  std::mutex m;
  std::condition_variable cv;
  bool full = false, done = false;
  void Send() {
    std::unique_lock<std::mutex> g(m);
    full = true;
    done = false;
    cv.notify_all();
    cv.wait(g, [&] { return done; });
  }
  template <typename F>
  bool Serve(F work, const std::atomic<bool>& stop) {
    std::unique_lock<std::mutex> g(m);
    cv.wait(g, [&] { return full || stop.load(); });
    if (!full) return false;
    full = false;
    g.unlock();
    work();
    g.lock();
    done = true;
    cv.notify_all();
    return true;
  }
};

void BM_VIObjectPropertyVsCondVarHandOffs(benchmark::State& st) {
  UIThread* ui = StartUI();
  if (!ui) {
    st.SkipWithError("no VI object");
    return;
  }
  Mailbox first, second;
  std::atomic<bool> stop{false};
  std::thread a([&] {
    while (first.Serve([&] { second.Send(); }, stop)) {
    }
  });
  std::thread b([&] {
    while (second.Serve([] {}, stop)) {
    }
  });
  PlatComInit(false);
  double nv = 0, nc = 0;
  bool failed = false;
  for (auto _ : st) {
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kBatch; ++i) first.Send();
    auto t1 = std::chrono::steady_clock::now();
    for (int i = 0; i < kBatch; ++i) {
      PlatVariant name;
      PlatVariantInit(&name);
      PlatDispParams none{nullptr, nullptr, 0, 0};
      failed |= ui->vi->slots->invoke(ui->vi, 500, nullptr, 0x409, kPlatDispatchPropertyGet, &none, &name, nullptr,
                                      nullptr) != kPlatOk;
      PlatVariantClear(&name);
    }
    auto t2 = std::chrono::steady_clock::now();
    nc += std::chrono::duration<double, std::nano>(t1 - t0).count();
    nv += std::chrono::duration<double, std::nano>(t2 - t1).count();
  }
  PlatComUninit();
  stop.store(true);
  for (Mailbox* m : {&first, &second}) {
    std::lock_guard<std::mutex> g(m->m);
    m->cv.notify_all();
  }
  a.join();
  b.join();
  if (failed) st.SkipWithError("a property read failed");
  const double calls = double(st.iterations()) * kBatch;
  st.counters["ns_vi_object"] = calls ? nv / calls : 0;
  st.counters["ns_condvar"] = calls ? nc / calls : 0;
  st.counters["x_condvar"] = nc > 0 ? nv / nc : 0;
}
BENCHMARK(BM_VIObjectPropertyVsCondVarHandOffs)->UseRealTime();

}  // namespace
