// The automation server's start, registry entries, unregistration, class
// object and stop, over a registry file of the test's own and run-time texts
// the test chooses.
#include <gtest/gtest.h>

#include "olesource/typelib_file.h"
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/engine_test_support.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/appdirs.h"
#include "mgsource/filemgr.h"
#include "mgsource/fourcc.h"
#include "mgsource/memory.h"
#include "mgsource/path.h"
#include "mgsource/prefs.h"
#include "mgsource/rsrc.h"
#include "olesource/oleapp.h"
#include "olesource/oleserv.h"
#include "platform/qx_inifile.h"
#include "platform/qx_msgqueue.h"
#include "platform/qx_registry.h"
#include "server/srvhooks.h"
#include "tools/appbuild.h"
#include "tools/rsrcwriter.h"

namespace oleserv_test {

namespace fs = std::filesystem;
using Lists = std::vector<std::pair<int32, std::vector<std::string>>>;

std::vector<std::string> Guids() { return {qxbuild::kAutomationServerGuids, qxbuild::kAutomationServerGuids + 6}; }
Lists Standard() { return {{25000, Guids()}, {25001, {"Quenlix", "quenlix50.tlb"}}}; }

class OleServerTest : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    static std::once_flag once;
    std::call_once(once, [] { RInitResources(); });
    ASSERT_EQ(FInitFileMgr(), kNoErr);
    dir_ = fs::temp_directory_path() / ("qxoleserv" + std::to_string(getpid()));
    fs::create_directories(dir_);
    file_ = (dir_ / "registry.ini").string();
    setenv("QX_REGISTRY_FILE", file_.c_str(), 1);
    ASSERT_TRUE(oletest::WriteAppTypeLibrary());
    PrefSet(kPrefServerOleEnabled, 1);
    ServerUIHooks h{};
    h.versionText = [] { return reinterpret_cast<ConstPStr>("\0055.0.1"); };
    SetServerUIHooks(h);
  }
  void TearDown() override {
    OleServerStop();
    PlatIniSetFailHook(nullptr);
    Close();
    SetServerUIHooks(ServerUIHooks{});
    unsetenv("QX_REGISTRY_FILE");
    std::error_code ec;
    fs::remove_all(dir_, ec);
    EngineTest::TearDown();
  }
  void Open(const Lists& lists) {
    Close();
    rsrcw::Writer w(FourCC("APPL"), FourCC("QNLX"));
    for (const auto& l : lists) w.Add(rsrcfmt::kTypeStrList, l.first, rsrcw::StrList(l.second));
    const rsrcw::Bytes bytes = w.Write();
    UHandle h = AZNewHandle(int32(bytes.size()));
    std::memcpy(*h, bytes.data(), bytes.size());
    ASSERT_EQ(ROpenFileOrHandle(nullptr, kRsrcReadOnly, &rt_, nullptr, nullptr, h), kNoErr);
    SetRunTimeRsrcFile(rt_);
  }
  void Close() {
    SetRunTimeRsrcFile(0);
    if (rt_) RCloseFile(rt_);
    rt_ = 0;
  }
  // Every key below the root: its default value, and its "Version" value
  // after a bar when it has one; "-" for a key without a default value.
  static void Dump(const std::string& path, std::map<std::string, std::string>* out) {
    PlatRegKey k = 0;
    ASSERT_EQ(PlatRegOpenKey(kPlatRegClassesRoot, path.empty() ? nullptr : path.c_str(), &k), kPlatRegOk);
    char text[512];
    if (!path.empty()) {
      std::string v = PlatRegQueryValue(k, nullptr, text, sizeof text) == kPlatRegOk ? text : "-";
      if (PlatRegQueryNamedValue(k, "Version", text, sizeof text) == kPlatRegOk) v += std::string("|") + text;
      (*out)[path] = v;
    }
    char name[256];
    for (uInt32 i = 0; PlatRegEnumKey(k, i, name, sizeof name) == kPlatRegOk; ++i)
      Dump(path.empty() ? name : path + "\\" + name, out);
    PlatRegCloseKey(k);
  }
  static std::string PathText(Path p) {
    CStr t = nullptr;
    EXPECT_EQ(FPathToCStrPtr(p, &t), kNoErr);
    std::string s = t ? reinterpret_cast<char*>(t) : "";
    AZDisposePtr(reinterpret_cast<UPtr>(t));
    return s;
  }
  fs::path dir_;
  std::string file_;
  RsrcFileRef rt_ = 0;
};

// The entries after a start are exactly the table; an unregistration
// removes exactly them and keeps every other key.
TEST_F(OleServerTest, RegistryEntriesAndTheirRemoval) {
  ASSERT_EQ(PlatRegSetValue(kPlatRegClassesRoot, "Other\\Keep", "x"), kPlatRegOk);
  Open(Standard());
  ASSERT_EQ(OleServerStart(), 0);
  EXPECT_NE(OleServerCookie(), 0u);
  Path self = nullptr, dir = FEmptyPath(nullptr);
  ASSERT_EQ(FAppFilePath(&self), kNoErr);
  const std::string program = PathText(self) + " /Automation";
  const std::string folder = GetAppPath(dir) == kNoErr ? PathText(dir) : "";
  FDisposePath(self);
  FDisposePath(dir);
  const std::string lib = folder + "\\quenlix50.tlb", proxy = "{51584301-0010-4F4C-4550-524F58595354}";
  const std::vector<std::string> g = Guids();
  std::map<std::string, std::string> want = {
      {"Other", "-"}, {"Other\\Keep", "x"},
      {"Quenlix.Application", "Quenlix Application Object"}, {"Quenlix.Application\\ClassId", g[0]},
      {"Quenlix.Application.5", "Quenlix Application Object"}, {"Quenlix.Application.5\\ClassId", g[0]},
      {"Classes", "-"}, {"Classes\\" + g[0], "Quenlix Application"},
      {"Classes\\" + g[0] + "\\ProgramId", "Quenlix.Application.5"},
      {"Classes\\" + g[0] + "\\CurrentProgramId", "Quenlix.Application"},
      {"Classes\\" + g[0] + "\\Server", program}, {"Classes\\" + g[0] + "\\Server2", program},
      {"TypeInfo", "-"}, {"TypeInfo\\" + g[3], "-"},
      {"TypeInfo\\" + g[3] + "\\5.0", "Quenlix 5.0.1 Type Library"},
      {"TypeInfo\\" + g[3] + "\\5.0\\409", "-"}, {"TypeInfo\\" + g[3] + "\\5.0\\409\\file1", lib},
      {"TypeInfo\\" + g[3] + "\\5.0\\409\\file2", lib}, {"TypeInfo\\" + g[3] + "\\5.0\\0", "-"},
      {"TypeInfo\\" + g[3] + "\\5.0\\0\\file2", lib}, {"TypeInfo\\" + g[3] + "\\5.0\\HelpFolder", folder},
      {"Interfaces", "-"},
  };
  for (const auto& [item, name] : {std::pair<int, std::string>{2, "_Application"}, {4, "VirtualInstrument"}}) {
    const std::string key = "Interfaces\\" + g[size_t(item)];
    want[key] = name;
    want[key + "\\ProxyClassId"] = proxy;
    want[key + "\\ProxyClassId2"] = proxy;
    want[key + "\\TypeInfo"] = g[3] + "|5.0";
  }
  std::map<std::string, std::string> got;
  Dump("", &got);
  EXPECT_EQ(got, want);

  OleServerStop();
  EXPECT_EQ(OleServerUnregister(), 1);
  got.clear();
  Dump("", &got);
  EXPECT_EQ(got, (std::map<std::string, std::string>{{"Other", "-"}, {"Other\\Keep", "x"}}));
}

// What the run-time texts and the registry do to the start and to the
// unregistration.
TEST_F(OleServerTest, StartAndUnregisterOutcomes) {
  std::vector<std::string> bad = Guids();
  bad[1] = "{not-an-identifier}";
  struct Row {
    const char* what;
    Lists lists;
    bool unwritable;
    int32 start;       // OleServerStart's answer
    bool zeroGuids;    // every identifier zero afterwards
    int32 unregister;  // OleServerUnregister's answer afterwards
  } rows[] = {
      {"standard", Standard(), false, 0, false, 1},
      {"no identifier list", {{25001, {"Quenlix"}}}, false, 0, true, 0},
      {"an identifier that does not parse", {{25000, bad}, {25001, {"Quenlix"}}}, false, int32(0x8007000Eu), false, 1},
      {"registry not writable", Standard(), true, kPlatRegAccessDenied, false, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    std::error_code ec;
    fs::remove(file_, ec);
    Open(r.lists);
    if (r.unwritable) PlatIniSetFailHook([](const char*) { return EACCES; });
    EXPECT_EQ(OleServerStart(), r.start);
    PlatIniSetFailHook(nullptr);
    // A failed start registers no class object and is stopped.
    EXPECT_EQ(OleServerCookie() != 0, r.start == 0);
    EXPECT_EQ(OleServerShuttingDown(), r.start != 0);
    EXPECT_EQ(PlatGuidEqual(OleServerGuid(kOleGuidAppClass), kPlatGuidNull), r.zeroGuids);
    OleServerStop();
    EXPECT_EQ(OleServerUnregister(), r.unregister);
  }
}

// The class object's answers, and the client's way in through the class
// table: a proxy that the stop disconnects.
TEST_F(OleServerTest, ClassObject) {
  Open(Standard());
  ASSERT_EQ(OleServerStart(), 0);
  OleClassFactory* f = OleClassFactory::New();
  ASSERT_NE(f, nullptr);
  PlatComAddRef(f);
  PlatComClassFactory* cf = &f->face;
  PlatComUnknown outer{nullptr};
  const PlatGuid other{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  struct Row {
    const char* what;
    bool disabled;
    PlatComUnknown* outer;
    const PlatGuid* iid;
    bool out;
    int32 result;
  } rows[] = {
      {"no out pointer", false, nullptr, &kPlatIidDispatch, false, int32(0x80070006u)},
      {"server disabled", true, nullptr, &kPlatIidDispatch, true, int32(0x80040111u)},
      {"aggregated for another interface", false, &outer, &kPlatIidDispatch, true, int32(0x80040110u)},
      {"aggregated for the unknown interface", false, &outer, &kPlatIidUnknownRecord, true, 0},
      {"an interface the object lacks", false, nullptr, &other, true, int32(0x80004002u)},
      {"the dispatch interface", false, nullptr, &kPlatIidDispatch, true, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    PrefSet(kPrefServerOleEnabled, r.disabled ? 0 : 1);
    void* made = reinterpret_cast<void*>(1);
    EXPECT_EQ(cf->slots->createInstance(cf, r.outer, r.iid, r.out ? &made : nullptr), r.result);
    if (r.out) { EXPECT_EQ(made != nullptr, r.result == 0); }
    // An object made is in the list until its last release; a failure
    // leaves nothing behind.
    EXPECT_EQ(OleAppObjectList()->Count(), r.result == 0 ? 1 : 0);
    if (r.result == 0 && r.out) PlatComRelease(made);
    EXPECT_EQ(OleAppObjectList()->Count(), 0);
  }
  void* q = reinterpret_cast<void*>(1);
  EXPECT_EQ(PlatComQuery(cf, other, &q), int32(0x80004002u));
  EXPECT_EQ(q, nullptr);
  EXPECT_EQ(cf->slots->lockServer(cf, 1), 0);

  // A client's object: a proxy, which the stop disconnects.
  void* client = nullptr;
  ASSERT_EQ(PlatComCreateInstance(&OleServerGuid(kOleGuidAppClass), nullptr, kPlatClassLocal, &kPlatIidDispatch,
                                  &client),
            0);
  ASSERT_EQ(OleAppObjectList()->Count(), 1);
  EXPECT_EQ(PlatComProxyCount(), 1u);
  // Its members go to the dispatcher: an id it does not know is an exception
  // with the dispatcher's code.
  auto* d = static_cast<PlatComDispatch*>(client);
  PlatExcepInfo e{};
  PlatDispParams none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(d->slots->invoke(d, 100, &kPlatGuidNull, 0x409, kPlatDispatchMethod, &none, nullptr, &e, nullptr),
            kPlatDispException);
  EXPECT_EQ(e.code, 5012);
  PlatBstrFree(e.source);
  PlatBstrFree(e.description);
  OleServerStop();
  uint32_t n = 9;
  EXPECT_EQ(d->slots->getTypeInfoCount(d, &n), kPlatDisconnected);
  void* made = reinterpret_cast<void*>(1);
  EXPECT_EQ(cf->slots->createInstance(cf, nullptr, &kPlatIidDispatch, &made), int32(0x80040111u)) << "after the stop";
  PlatComRelease(client);
  EXPECT_EQ(PlatComProxyCount(), 0u);
  PlatComRelease(f);
}

// The stop ends a VI thread: its event signalled, its quit posted, its end
// awaited, and the list gone.
TEST_F(OleServerTest, StopEndsViThreads) {
  Open(Standard());
  ASSERT_EQ(OleServerStart(), 0);
  struct Thread {
    PlatEvent* ready = PlatEventCreate(false);
    std::atomic<int> quit{0};
  } t;
  auto proc = [](void* c) -> int32 {
    auto* t = static_cast<Thread*>(c);
    PlatMsg m;
    PlatPeekMessage(&m, 0, 0, 0, kPlatPeekNoRemove);  // the thread's queue
    PlatEventSet(t->ready);
    while (PlatGetMessage(&m, 0, 0, 0)) PlatDispatchMessage(&m);
    t->quit.store(m.message == kPlatMsgQuit ? 1 : 2);
    return 0;
  };
  auto* rec = new OleVIThreadRec{nullptr, 0, PlatEventCreate(false)};
  ASSERT_EQ(PlatThreadCreate(proc, &t, &rec->thread, &rec->threadId), 0);
  ASSERT_EQ(PlatEventWait(t.ready, 5000), kPlatWaitEvent);
  PlatEvent* objectEvent = rec->event;
  ASSERT_EQ(OleVIThreadList()->Insert(rec, OleObjectList::kAppend), kNoErr);
  EXPECT_EQ(OleVIThreadList()->FindByKey(uInt32(uintptr_t(rec->thread))), 0);
  OleServerStop();
  EXPECT_EQ(t.quit.load(), 1) << "the thread had ended on its quit when the stop returned";
  EXPECT_EQ(PlatEventWait(objectEvent, 0), kPlatWaitEvent);
  EXPECT_EQ(OleVIThreadList(), nullptr);
  PlatEventDestroy(objectEvent);
  PlatEventDestroy(t.ready);
}

}  // namespace oleserv_test
