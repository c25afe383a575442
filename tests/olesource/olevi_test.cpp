// VI objects on their apartment threads: made through the Application
// object by clients on threads of their own, their requests handed to this
// (the user-interface) thread as user event 23, Call and Run, and their
// ends: last release, server stop and failed creation.
#include <gtest/gtest.h>

#include "olesource/typelib_file.h"

#include <atomic>
#include <cstdlib>
#include <dirent.h>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/membertab.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/prefs.h"
#include "olesource/oleapp.h"
#include "olesource/oledisp.h"
#include "olesource/oleserv.h"
#include "olesource/oletypeinfo.h"
#include "olesource/olevi.h"
#include "platform/qx_registry.h"
#include "platform/qx_typeinfo.h"
#include "olesource/servreq.h"
#include "platform/qx_msgqueue.h"
#include "platform/qx_thread.h"
#include "server/server_vi_fixture.h"
#include "tools/tdbuilder.h"

namespace olevi_test {

std::string Text(PlatBstr s) {
  std::string t(PlatBstrLength(s), '\0');
  if (!t.empty()) PlatBstrToText(s, uInt32(t.size()), t.data(), uInt32(t.size()));
  return t;
}
PlatVariant Str(const std::string& s) {
  PlatVariant v{};
  v.vt = kPlatVtBstr;
  v.bstr = PlatBstrFromText(s.data(), uInt32(s.size()));
  return v;
}
PlatVariant I4(int32 x) {
  PlatVariant v{};
  v.vt = kPlatVtI4;
  v.i4 = x;
  return v;
}
int ThreadCount() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}
// A one-dimensional array (lower bound 1) of the variants, or of strings,
// in a variant.
PlatVariant ArrayVar(uInt16 vt, std::vector<PlatVariant> items, uint16_t dims = 1) {
  PlatSafeArrayBound b[2] = {{uint32_t(items.size()), 1}, {1, 0}};
  PlatVariant v{};
  v.vt = kPlatVtArray | vt;
  v.array = PlatSafeArrayCreate(vt, dims, b);
  for (int32 i = 0; i < int32(items.size()); ++i) {
    int32 index[2] = {i + 1, 0};
    PlatVariant& item = items[size_t(i)];
    EXPECT_EQ(PlatSafeArrayPutElement(v.array, index, vt == kPlatVtBstr ? static_cast<void*>(&item.bstr) : &item),
              kPlatOk);
    PlatVariantClear(&item);
  }
  return v;
}
// Call's arguments, the last first: the values and their names (none: a
// missing argument).
std::vector<PlatVariant> Named(std::vector<PlatVariant> values, std::vector<PlatVariant> names,
                               uInt16 valueVt = kPlatVtVariant, uint16_t nameDims = 1) {
  PlatVariant n{};
  n.vt = kPlatVtError;
  if (!names.empty()) n = ArrayVar(kPlatVtBstr, std::move(names), nameDims);
  return {ArrayVar(valueVt, std::move(values)), n};
}

// What a failed post answers: the queue refuses.
std::atomic<bool> gRefusePosts{false};
int32 Post(WindowRef w, int32 sub, int32 a1, int32 a2, int32 a3, int32 a4, int32 a5, Bool32 noDup, int32 pri) {
  if (gRefusePosts.load()) return kMemFullErr;
  return qxevents::PostToQueue(int32(intptr_t(w)), sub, a1, a2, a3, a4, a5, noDup, pri);
}

using srvtest::PaneVI;

class OleVI : public srvtest::ServerVITest {
 protected:
  void SetUp() override {
    ServerVITest::SetUp();
    registry_ = rt_.Host("registry.ini");
    setenv("QX_REGISTRY_FILE", registry_.c_str(), 1);
    PrefSet(kPrefServerOleEnabled, 1);
    ASSERT_TRUE(oletest::WriteAppTypeLibrary());
    VIShellHooks shell{};
    shell.postUserEvent = &Post;
    SetVIShellHooks(&shell);
    ASSERT_EQ(OleServerStart(), 0);
    ASSERT_TRUE(Load("Add.vi", vif::Write(PaneVI("Add.vi", runvi::Clumps::kAdd, {0, 0, 0x100}))));
    threads_ = ThreadCount();
  }
  void TearDown() override {
    gRefusePosts.store(false);
    OleServerStop();
    EXPECT_EQ(PlatComProxyCount(), 0u) << "no proxy left behind";
    SetVIShellHooks(nullptr);
    unsetenv("QX_REGISTRY_FILE");
    ServerVITest::TearDown();
  }
  // This thread as the user-interface thread: apartment calls, user event
  // 23 and the engine's events served until cond holds.
  static bool Serve(const std::function<bool()>& cond, int ms = 20000) {
    const uInt32 end = MilliSecs() + uInt32(ms);
    for (;;) {
      PlatMsg m;
      while (PlatPeekMessage(&m, 0, kPlatMsgComCall, kPlatMsgComCall, kPlatPeekRemove)) PlatDispatchMessage(&m);
      WEventRecord e;
      while (WGetNextEvent(&e)) {
        if (e.code == kWEvUser && e.where == kUEAutomation) OleRunPostedRequest(e.globalWhere);
        else HandleUserEvent(e);
      }
      if (cond()) return true;
      if (MillisecCmp(MilliSecs(), end) > 0) return false;
      WSleep(1);
    }
  }
  // Runs body on a client thread of its own apartment while this thread
  // serves.
  static void OnClient(const std::function<void()>& body) {
    std::atomic<bool> done{false};
    std::thread t([&] {
      PlatComInit(false);
      body();
      PlatComUninit();
      done.store(true);
    });
    EXPECT_TRUE(Serve([&] { return done.load(); }));
    t.join();
  }
  // One call of a dispatch interface: its result, the exception's code
  // and description.
  struct Outcome {
    PlatHResult r;
    uint16_t code;
    std::string text;
  };
  static Outcome Call(PlatComDispatch* d, int32_t id, uint16_t flags, std::vector<PlatVariant> args = {},
                      PlatVariant* result = nullptr, uint32_t lcid = 0x409) {
    PlatDispParams dp{args.empty() ? nullptr : args.data(), nullptr, uint32_t(args.size()), 0};
    PlatExcepInfo e{};
    Outcome o{d->slots->invoke(d, id, &kPlatGuidNull, lcid, flags, &dp, result, &e, nullptr), e.code,
              Text(e.description)};
    PlatBstrFree(e.source);
    PlatBstrFree(e.description);
    return o;
  }
  // A VI object through an Application object made by the factory.
  static PlatComDispatch* ViaApplication(const std::string& path, Outcome* outcome = nullptr) {
    void* made = nullptr;
    EXPECT_EQ(PlatComCreateInstance(&OleServerGuid(kOleGuidAppClass), nullptr, kPlatClassLocal, &kPlatIidDispatch,
                                    &made),
              kPlatOk);
    if (!made) return nullptr;
    auto* app = static_cast<PlatComDispatch*>(made);
    PlatVariant vi{};
    PlatVariant text = Str(path);
    const Outcome o = Call(app, kOleAppGetVIReference, kPlatDispatchMethod, {text}, &vi);
    PlatVariantClear(&text);
    if (outcome) *outcome = o;
    PlatComRelease(app);
    return vi.vt == kPlatVtDispatch ? vi.dispatch : nullptr;
  }
  // Runs body on a client thread with a VI object of the file made through
  // the Application object; released afterwards.
  static void OnClientVI(const std::string& file, const std::function<void(PlatComDispatch*)>& body) {
    OnClient([&] {
      PlatComDispatch* vi = ViaApplication("L:\\" + file);
      ASSERT_NE(vi, nullptr);
      body(vi);
      PlatComRelease(vi);
    });
  }
  static VIRef OnlyRef() {
    VIRef refs[4] = {};
    return VIRefList(refs, 4) == 1 ? refs[0] : 0;
  }
  std::string registry_;
  int threads_ = 0;
};

// The language, index, interface and pointer rules of the VI object
// (the Application object's are tested with it), and the interfaces it
// answers.
TEST_F(OleVI, CommonRules) {
  PlatComDispatch* vi = nullptr;
  ASSERT_EQ(OleVICreate(reinterpret_cast<ConstPStr>("\006Add.vi"), nullptr, nullptr, nullptr, &vi), kPlatOk);
  void* info = reinterpret_cast<void*>(1);
  EXPECT_EQ(vi->slots->getTypeInfo(vi, 1, 0x409, &info), kPlatDispBadIndex);
  EXPECT_EQ(vi->slots->getTypeInfo(vi, 0, 0x409, nullptr), kPlatPointer);
  EXPECT_EQ(vi->slots->getTypeInfo(vi, 0, 0x407, &info), kPlatDispUnknownLcid);
  const PlatGuid other{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  void* q = &info;
  EXPECT_EQ(PlatComQuery(vi, other, &q), kPlatNoInterface);
  EXPECT_EQ(q, nullptr) << "a refused interface leaves no stale pointer";
  struct Row {
    uint32_t lcid;
    PlatHResult r;
  } rows[] = {{0x0409, kPlatOk}, {0x0009, kPlatOk}, {0x0407, kPlatDispUnknownLcid}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.lcid);
    PlatVariant name{};
    EXPECT_EQ(Call(vi, 500, kPlatDispatchPropertyGet, {}, &name, r.lcid).r, r.r);
    if (r.r == kPlatOk) { EXPECT_EQ(Text(name.bstr), "Add.vi"); }
    PlatVariantClear(&name);
  }
  PlatExcepInfo e{};
  EXPECT_EQ(vi->slots->invoke(vi, 500, &other, 0x409, kPlatDispatchPropertyGet, nullptr, nullptr, &e, nullptr),
            kPlatDispUnknownInterface);
  PlatComRelease(vi);
  EXPECT_TRUE(Serve([] { return OleVIThreadList()->Count() == 0; }));
}

// A client thread makes the Application through the factory and a VI object
// through it: the object's thread is a third one; property reads, unknown
// ids and a failed post of the request each answer as they should.
TEST_F(OleVI, ClientApplicationAndVIObjectThreads) {
  OnClientVI("Add.vi", [&](PlatComDispatch* vi) {
    auto* rec = static_cast<OleVIThreadRec*>(OleVIThreadList()->At(0));
    ASSERT_NE(rec, nullptr);
    EXPECT_NE(rec->threadId, PlatThreadCurrentId());
    EXPECT_NE(rec->threadId, OleServerUIThreadId());
    PlatVariant name{};
    EXPECT_EQ(Call(vi, 500, kPlatDispatchPropertyGet, {}, &name).r, kPlatOk);
    EXPECT_EQ(Text(name.bstr), "Add.vi");
    PlatVariantClear(&name);
    const Outcome unknown = Call(vi, 1100, kPlatDispatchMethod);
    EXPECT_EQ(unknown.r, kPlatDispException);
    EXPECT_EQ(unknown.code, 5012);
    EXPECT_NE(unknown.text.find("Unknown method."), std::string::npos) << unknown.text;
    gRefusePosts.store(true);
    const Outcome refused = Call(vi, 500, kPlatDispatchPropertyGet, {}, &name);
    gRefusePosts.store(false);
    EXPECT_EQ(refused.r, kPlatDispException) << "a request that could not be posted answers at once";
    EXPECT_EQ(refused.code, 5502);
    EXPECT_EQ(OlePostedRequestCount(), 0);
  });
  EXPECT_TRUE(Serve([] { return OleVIThreadList()->Count() == 0; })) << "the last release ends the thread and its record";
  EXPECT_EQ(OnlyRef(), VIRef(0)) << "and gives the reference back";
  EXPECT_TRUE(Serve([&] { return ThreadCount() == threads_; }, 60000));
}

// Call with named parameters and Run, through the VI object.
TEST_F(OleVI, CallAndRun) {
  ASSERT_TRUE(Load("Req.vi", vif::Write(PaneVI("Req.vi", runvi::Clumps::kAdd, {0, 0x1000, 0x100}))));
  ASSERT_TRUE(Load("Spin.vi", vif::WriteWithPanel(runvi::File("Spin.vi", runvi::Clumps::kSpin))));
  struct Row {
    const char* what;
    const char* vi;
    std::function<std::vector<PlatVariant>()> args;  // the last argument first
    int32 code;
    int32 sum;  // values[3] afterwards, -1 not looked at
  } rows[] = {
      {"the sum", "Add.vi", [] { return Named({I4(2), I4(3), I4(0)}, {Str("a"), Str("b"), Str("sum")}); }, 0, 5},
      {"a required terminal unnamed", "Req.vi", [] { return Named({I4(2)}, {Str("a")}); }, 5006, -1},
      {"values without names", "Add.vi", [] { return Named({I4(2)}, {}); }, 5003, -1},
      {"names of two dimensions", "Add.vi", [] { return Named({I4(2)}, {Str("a")}, kPlatVtVariant, 2); }, 5001, -1},
      {"values that are no variants", "Add.vi", [] { return Named({Str("2")}, {Str("a")}, kPlatVtBstr); }, 5002, -1},
      {"unequal counts", "Add.vi", [] { return Named({I4(2), I4(3)}, {Str("a")}); }, 5004, -1},
  };
  for (Row& r : rows) {
    SCOPED_TRACE(r.what);
    OnClientVI(r.vi, [&](PlatComDispatch* vi) {
      std::vector<PlatVariant> args = r.args();
      const Outcome o = Call(vi, kOleVICall, kPlatDispatchMethod, args);
      EXPECT_EQ(o.code, r.code) << o.text;
      EXPECT_EQ(o.r, r.code ? kPlatDispException : kPlatOk);
      if (r.sum >= 0) {
        PlatVariant v{};
        int32 index = 3;
        ASSERT_EQ(PlatSafeArrayGetElement(args[0].array, &index, &v), kPlatOk);
        EXPECT_EQ(v.i4, r.sum);
        int32 mode = -1;
        EXPECT_EQ(VIRefGetAttributes(OnlyRef(), kVIRefReservationProp, &mode, kVIRefOptTrusted, nullptr, nullptr,
                                     nullptr),
                  kNoErr);
        EXPECT_EQ(mode, 0) << "the reservation comes back";
      }
      for (PlatVariant& a : args) PlatVariantClear(&a);
    });
  }
  UHandle spin = FindVIByName(srvtest::PS("Spin.vi"));
  OnClientVI("Spin.vi", [&](PlatComDispatch* vi) {
    PlatVariant async{};
    async.vt = kPlatVtBool;
    async.boolVal = -1;
    EXPECT_EQ(Call(vi, kOleVIRun, kPlatDispatchMethod, {async}).r, kPlatOk);
    EXPECT_EQ(VIRec(spin)->eState & kVIStateMask, 2) << "Run(TRUE) returns while the VI runs";
  });
  AbortTopVI(spin);
  ASSERT_TRUE(Serve([&] { return (VIRec(spin)->eState & kVIStateMask) == kVIStateIdle; }));
  // Run() waits for the VI's end: here its abort.
  std::atomic<bool> returned{false}, done{false};
  Outcome o{};
  std::thread t([&] {
    PlatComInit(false);
    PlatComDispatch* vi = ViaApplication("L:\\Spin.vi");
    if (vi) o = Call(vi, kOleVIRun, kPlatDispatchMethod);
    returned.store(true);
    if (vi) PlatComRelease(vi);
    PlatComUninit();
    done.store(true);
  });
  EXPECT_TRUE(Serve([] { return VIServWaiterCount() == 1; }));
  EXPECT_FALSE(returned.load());
  const VIRef abort = Open("Spin.vi");
  uintptr_t none = 0;
  AttrEntry p{0, 0, &none};
  EXPECT_EQ(VIRefDoMethod(abort, 1004, 1, &p, kVIRefOptTrusted, nullptr, nullptr, nullptr), kNoErr);
  EXPECT_EQ(VIRefRelease(abort), kNoErr);
  EXPECT_TRUE(Serve([&] { return done.load(); }));
  t.join();
  EXPECT_EQ(o.code, kVIRefAbortedErr) << o.text;
}

// The ends of VI threads: a stop while one waits for its request or for a
// run wakes it with 5015 and ends it; a failed creation leaves no thread.
TEST_F(OleVI, StopAndFailedCreationLeaveNoThreads) {
  ASSERT_TRUE(Load("Spin.vi", vif::WriteWithPanel(runvi::File("Spin.vi", runvi::Clumps::kSpin))));
  struct Row {
    const char* what;
    int32 member;
    uint16_t flags;
    std::function<bool()> waiting;
  } rows[] = {
      {"a request not served", 500, kPlatDispatchPropertyGet, [] { return OlePostedRequestCount() == 1; }},
      {"a run waited for", kOleVIRun, kPlatDispatchMethod, [] { return VIServWaiterCount() == 1; }},
  };
  for (Row& r : rows) {
    SCOPED_TRACE(r.what);
    PlatComDispatch* vi = nullptr;
    ASSERT_EQ(OleVICreate(srvtest::PS("Spin.vi"), nullptr, nullptr, nullptr, &vi), kPlatOk);
    std::atomic<bool> done{false};
    Outcome o{};
    std::thread client([&] {
      PlatComInit(false);
      o = Call(vi, r.member, r.flags);
      PlatComRelease(vi);
      PlatComUninit();
      done.store(true);
    });
    // Runs are served, the property read is left waiting.
    const bool serve = r.member == kOleVIRun;
    const uInt32 end = MilliSecs() + 60000;
    while (!r.waiting() && MillisecCmp(MilliSecs(), end) < 0) {
      if (serve) Serve([] { return true; });
      WSleep(1);
    }
    ASSERT_TRUE(r.waiting());
    OleServerStop();
    client.join();
    EXPECT_EQ(o.r, kPlatDispException);
    EXPECT_EQ(o.code, 5015) << o.text;
    EXPECT_EQ(OlePostedRequestCount(), 0);
    UHandle spin = FindVIByName(srvtest::PS("Spin.vi"));
    if ((VIRec(spin)->eState & kVIStateMask) == 2) AbortTopVI(spin);
    EXPECT_TRUE(Serve([&] { return ThreadCount() == threads_; }, 60000));
    ASSERT_EQ(OleServerStart(), 0);
  }
  OnClient([&] {
    Outcome o{};
    EXPECT_EQ(ViaApplication("L:\\Missing.vi", &o), nullptr);
    EXPECT_EQ(o.r, kPlatDispException);
    EXPECT_GT(o.code, 5500) << o.text;
  });
  // A joined thread can still be listed for a moment (under user-mode
  // emulation the guest's join returns before the host thread is gone).
  EXPECT_TRUE(Serve([&] { return ThreadCount() == threads_; }, 60000))
      << "the thread of a failed creation is ended, not left: " << ThreadCount() << " threads, " << threads_
      << " before";
}

// Clients on several threads each make VI objects and read through them
// and through one shared object at once.
TEST_F(OleVI, ThreadsShareVIObjects) {
  PlatComDispatch* shared = nullptr;
  ASSERT_EQ(OleVICreate(srvtest::PS("Add.vi"), nullptr, nullptr, nullptr, &shared), kPlatOk);
  std::atomic<int> left{3}, good{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < 3; ++c)
    clients.emplace_back([&] {
      PlatComInit(false);
      for (int i = 0; i < 4; ++i) {
        PlatComDispatch* own = ViaApplication("L:\\Add.vi");
        for (PlatComDispatch* d : {own, shared}) {
          PlatVariant name{};
          if (d && Call(d, 500, kPlatDispatchPropertyGet, {}, &name).r == kPlatOk && Text(name.bstr) == "Add.vi")
            good.fetch_add(1);
          PlatVariantClear(&name);
        }
        if (own) PlatComRelease(own);
      }
      PlatComUninit();
      left.fetch_sub(1);
    });
  EXPECT_TRUE(Serve([&] { return left.load() == 0; }, 120000));
  for (std::thread& t : clients) t.join();
  EXPECT_EQ(good.load(), 3 * 4 * 2);
  PlatComRelease(shared);
  EXPECT_TRUE(Serve([] { return OleVIThreadList()->Count() == 0; }));
}

// Type information: names to ids on both objects, the load's order
// (registered, else the application folder's file in the language), files
// that are refused, and the argument rules of a call through it.
TEST_F(OleVI, TypeInformation) {
  OleApplication* app = nullptr;
  ASSERT_EQ(OleApplicationCreate(&app), kPlatOk);
  PlatComAddRef(app);
  PlatComDispatch* vi = nullptr;
  ASSERT_EQ(OleVICreate(srvtest::PS("Add.vi"), nullptr, nullptr, nullptr, &vi), kPlatOk);
  struct Names {
    bool onVI;
    std::vector<std::string> names;
    std::vector<int32_t> ids;
    PlatHResult r;
  } names[] = {
      {false, {"quit"}, {2013}, kPlatOk},
      {false, {"Application:Name"}, {0}, kPlatOk},
      {true, {"VI Name"}, {500}, kPlatOk},
      {true, {"Call", "paramVals"}, {1015, 1}, kPlatOk},
      {true, {"Run", "nothing"}, {1017, -1}, kPlatDispUnknownName},
      {true, {"nothing"}, {-1}, kPlatDispUnknownName},
  };
  for (const Names& n : names) {
    SCOPED_TRACE(n.names[0]);
    PlatComDispatch* d = n.onVI ? vi : &app->face;
    std::vector<std::vector<uint16_t>> wide;
    std::vector<uint16_t*> ptrs;
    for (const std::string& s : n.names) wide.emplace_back(s.begin(), s.end() + 1);
    for (auto& w : wide) ptrs.push_back(w.data());
    std::vector<int32_t> ids(n.names.size(), 7);
    EXPECT_EQ(d->slots->getIdsOfNames(d, nullptr, ptrs.data(), uint32_t(ptrs.size()), 0x409, ids.data()), n.r);
    EXPECT_EQ(ids, n.ids);
    uint32_t count = 0;
    EXPECT_EQ(d->slots->getTypeInfoCount(d, &count), kPlatOk);
    EXPECT_EQ(count, 1u);
  }

  // Help ids of the member table: the application's 20001 + id, the VI's
  // one per named property from 20300 (the last 20363).
  EXPECT_EQ(PropInfoLookup(kAutoClassApp, 45)->helpId, 20046);
  EXPECT_EQ(PropInfoLookup(kAutoClassVI, 505)->helpId, 20304);
  EXPECT_EQ(PropInfoLookup(kAutoClassVI, 568)->helpId, 20363);

  // The load: a registered library is taken as it is; without one the
  // application folder's file; a file in another language is refused.
  ASSERT_TRUE(tiw::WriteServerLibrary(rt_.Host("lang7.tlb"), 7));
  Write("bad.tlb", {'Q', 'X', 'T', 'I', 0, 5});
  tiw::Library appOnly = tiw::ServerLibrary();
  appOnly.interfaces.pop_back();
  const std::vector<uint8_t> appOnlyBytes = tiw::Write(appOnly);
  Write("apponly.tlb", vif::Bytes(appOnlyBytes.begin(), appOnlyBytes.end()));
  char lib[kPlatGuidTextLength + 1];
  PlatGuidToText(OleServerGuid(kOleGuidTypeLib), lib);
  const std::string key = std::string("TypeInfo\\") + lib;
  struct Load {
    const char* what;
    const char* registered;  // the file registered, "" none, null as the start left it
    const char* file;        // loaded by path only
    PlatHResult r;
  } loads[] = {
      {"registered first: one without the interface", "L:\\apponly.tlb", nullptr, kPlatTypeElementNotFound},
      {"registered in another language", "L:\\lang7.tlb", nullptr, kPlatOk},
      {"a registered file that cannot be read: the application folder", "L:\\missing.tlb", nullptr, kPlatOk},
      {"no registration: the application folder", "", nullptr, kPlatOk},
      {"a file in another language", nullptr, "L:\\lang7.tlb", kPlatDispUnknownLcid},
      {"a file that is no library", nullptr, "L:\\bad.tlb", kPlatTypeLibLoadFailed},
  };
  for (const Load& l : loads) {
    SCOPED_TRACE(l.what);
    if (l.registered && *l.registered) {
      ASSERT_EQ(PlatRegSetValue(kPlatRegClassesRoot, (key + "\\5.0\\0\\file2").c_str(), l.registered), kPlatRegOk);
    }
    if (l.registered && !*l.registered) OleRegDeleteTree(kPlatRegClassesRoot, key.c_str());
    void* info = nullptr;
    if (l.file) {
      Path p = pathtest::ToPath(l.file);
      EXPECT_EQ(OleLoadTypeInfoFile(p, OleServerGuid(kOleGuidVITypeInfo), 9, &info), l.r);
      FDisposePath(p);
    } else {
      EXPECT_EQ(OleLoadTypeInfo(OleServerGuid(kOleGuidVITypeInfo), 9, &info), l.r);
    }
    EXPECT_EQ(info != nullptr, l.r == kPlatOk);
    if (info) { EXPECT_EQ(PlatTypeInfoMemberCount(info), 118u); }
    if (info) PlatComRelease(info);
  }

  // Calls through it: arguments placed by name or position, changed to
  // their types, counted.
  PlatDispParams none{nullptr, nullptr, 0, 0};
  PlatVariant args[3] = {Str("a"), Str("b"), Str("c")};
  int32_t badName = 5, put = kPlatDispIdPropertyPut;
  PlatVariant on = I4(-1);
  struct Invoke {
    const char* what;
    int32_t id;
    uint16_t flags;
    PlatDispParams dp;
    PlatHResult r;
  } invokes[] = {
      {"a required argument missing", 2004, kPlatDispatchMethod, none, kPlatDispParamNotOptional},
      {"too many arguments", 2004, kPlatDispatchMethod, {args, nullptr, 3, 0}, kPlatDispBadParamCount},
      {"a name past the parameters", 2004, kPlatDispatchMethod, {args, &badName, 1, 1}, kPlatDispParamNotFound},
      {"a put's value by its name, made Boolean", 35, kPlatDispatchPropertyPut, {&on, &put, 1, 1}, kPlatOk},
  };
  for (Invoke& c : invokes) {
    SCOPED_TRACE(c.what);
    PlatExcepInfo e{};
    uint32_t argError = 99;
    EXPECT_EQ(app->face.slots->invoke(&app->face, c.id, nullptr, 0x409, c.flags, &c.dp, nullptr, &e, &argError), c.r);
  }
  EXPECT_EQ(OleAutoQuit(), 1);
  OleSetAutoQuit(0);
  for (PlatVariant& a : args) PlatVariantClear(&a);
  PlatComRelease(vi);
  PlatComRelease(app);
  EXPECT_TRUE(Serve([] { return OleVIThreadList()->Count() == 0; }));
}

}  // namespace olevi_test
