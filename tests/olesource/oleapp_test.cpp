// The Application object's dispatch rules, its own members and the
// exception report, over the automation server and VIs the tools write.
#include <gtest/gtest.h>

#include "olesource/typelib_file.h"

#include <cstdlib>
#include <string>

#include "engine/vi/rtrsrc.h"
#include "mgsource/prefs.h"
#include "mgsource/window/wevent.h"
#include "olesource/oleapp.h"
#include "olesource/oledisp.h"
#include "olesource/oleserv.h"
#include "server/server_vi_fixture.h"

namespace oleapp_test {

std::string Text(PlatBstr s) {
  std::string t(PlatBstrLength(s), '\0');
  if (!t.empty()) PlatBstrToText(s, uInt32(t.size()), t.data(), uInt32(t.size()));
  return t;
}

class OleApp : public srvtest::ServerVITest {
 protected:
  void SetUp() override {
    ServerVITest::SetUp();
    registry_ = rt_.Host("registry.ini");
    setenv("QX_REGISTRY_FILE", registry_.c_str(), 1);
    PrefSet(kPrefServerOleEnabled, 1);
    ASSERT_TRUE(oletest::WriteAppTypeLibrary());
    ASSERT_EQ(OleServerStart(), 0);
    ASSERT_EQ(OleApplicationCreate(&app_), kPlatOk);
    PlatComAddRef(app_);
  }
  void TearDown() override {
    if (app_) PlatComRelease(app_);
    OleSetAutoQuit(0);
    OleServerStop();
    unsetenv("QX_REGISTRY_FILE");
    ServerVITest::TearDown();
  }
  PlatHResult Call(int32_t id, uint16_t flags, uint32_t lcid = 0x409, const PlatGuid* iid = &kPlatGuidNull,
                   PlatVariant* arg = nullptr, PlatVariant* result = nullptr) {
    int32_t put = kPlatDispIdPropertyPut;
    PlatDispParams dp{arg, arg ? &put : nullptr, arg ? 1u : 0u, arg ? 1u : 0u};
    PlatExcepInfo e{};
    PlatComDispatch* d = &app_->face;
    const PlatHResult r = d->slots->invoke(d, id, iid, lcid, flags, &dp, result, &e, nullptr);
    PlatBstrFree(e.source);
    PlatBstrFree(e.description);
    return r;
  }
  // The quit commands waiting in the queue, taken out.
  static int32 TakeQuits() {
    int32 n = 0;
    WEventRecord e;
    while (WGetNextEvent(&e))
      if (e.code == weMenuSelect && e.where == 10 && e.modifiers == 25) ++n;
    return n;
  }
  std::string registry_;
  OleApplication* app_ = nullptr;
};

// The language, interface and index tests of the dispatch interface, before
// and after the server's stop.
TEST_F(OleApp, CommonRules) {
  PlatComDispatch* d = &app_->face;
  void* info = reinterpret_cast<void*>(1);
  EXPECT_EQ(d->slots->getTypeInfo(d, 1, 0x409, &info), kPlatDispBadIndex);
  EXPECT_EQ(d->slots->getTypeInfo(d, 0, 0x409, nullptr), int32(0x80070006u));
  EXPECT_EQ(d->slots->getTypeInfo(d, 0, 0x407, &info), int32(0x8002000Cu));
  EXPECT_EQ(info, nullptr) << "a refused call leaves no stale pointer";
  const PlatGuid other{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  struct Row {
    const char* what;
    uint32_t lcid;
    const PlatGuid* iid;
    PlatHResult invoke, names;
  } rows[] = {
      {"English", 0x0409, &kPlatGuidNull, kPlatOk, kPlatDispUnknownName},
      {"neutral English", 0x0009, nullptr, kPlatOk, kPlatDispUnknownName},
      {"German", 0x0407, &kPlatGuidNull, int32(0x8002000Cu), int32(0x8002000Cu)},
      {"an interface id", 0x0409, &other, int32(0x80020001u), int32(0x80020001u)},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    PlatVariant v{};
    EXPECT_EQ(Call(kOleAppAutoQuit, kPlatDispatchPropertyGet, r.lcid, r.iid, nullptr, &v), r.invoke);
    int32_t id = 0;
    uint16_t name[] = {'Q', 0};
    uint16_t* names[] = {name};
    EXPECT_EQ(d->slots->getIdsOfNames(d, r.iid, names, 1, r.lcid, &id), r.names);
  }
  OleServerStop();
  EXPECT_EQ(Call(kOleAppAutoQuit, kPlatDispatchPropertyGet), int32(0x80020001u)) << "after the stop";
}

// Exceptions: the dispatcher's unknown id with its text, and the report's
// source, fallbacks and result codes.
TEST_F(OleApp, ExceptionReport) {
  PlatComDispatch* d = &app_->face;
  PlatExcepInfo e{};
  PlatDispParams none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(d->slots->invoke(d, 2100, nullptr, 0x409, kPlatDispatchMethod, &none, nullptr, &e, nullptr),
            kPlatDispException);
  EXPECT_EQ(e.code, 5012);
  EXPECT_NE(Text(e.description).find("Unknown method."), std::string::npos) << Text(e.description);
  EXPECT_EQ(app_->errorText, nullptr) << "the text is freed once reported";
  PlatBstrFree(e.source);
  PlatBstrFree(e.description);
  EXPECT_EQ(d->slots->invoke(d, 2100, nullptr, 0x409, kPlatDispatchMethod, &none, nullptr, nullptr, nullptr),
            kPlatDispException)
      << "no place for the report still fails";

  PlatBstr given = PlatBstrFromText("given", 5);
  struct Row {
    const char* what;
    int32 code;
    PlatBstr text;
    int32 scode;
    uint16_t wcode;
    const char* description;
  } rows[] = {
      {"a result code", int32(0x80004005u), nullptr, int32(0x80004005u), 0, ""},
      {"a given text", 5012, given, 0, 5012, "given"},
      {"the list's text", 5015, nullptr, 0, 5015, "Quenlix : Server is shutting down."},
      {"no text at all", 70000, nullptr, 0, uint16_t(70000), "Quenlix : Unknown Error"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    PlatExcepInfo x{};
    ASSERT_EQ(OleReportException(r.code, r.text, &x), kPlatOk);
    EXPECT_EQ(x.scode, r.scode);
    EXPECT_EQ(x.code, r.wcode);
    EXPECT_EQ(Text(x.description), r.description);
    EXPECT_EQ(Text(x.source), r.code < 0 ? "" : "Quenlix");
    PlatBstrFree(x.source);
    PlatBstrFree(x.description);
  }
  PlatBstrFree(given);
  EXPECT_EQ(OleReportException(5012, nullptr, nullptr), kPlatInvalidArg);
}

// Automatic quit: the property's get and put, and the last release quitting
// only when nothing else holds the program; Quit posts its command once.
TEST_F(OleApp, AutomaticQuit) {
  PlatVariant v{};
  v.vt = kPlatVtI4;
  v.i4 = 1;
  EXPECT_EQ(Call(kOleAppAutoQuit, kPlatDispatchPropertyPut, 0x409, nullptr, &v), kPlatOk);
  PlatVariant got{};
  EXPECT_EQ(Call(kOleAppAutoQuit, kPlatDispatchPropertyGet, 0x409, nullptr, nullptr, &got), kPlatOk);
  EXPECT_EQ(got.vt, kPlatVtBool);
  EXPECT_EQ(got.boolVal, -1) << "a non-zero value turns it on";
  PlatBstr text = PlatBstrFromText("x", 1);
  v.vt = kPlatVtBstr;
  v.bstr = text;
  EXPECT_NE(Call(kOleAppAutoQuit, kPlatDispatchPropertyPut, 0x409, nullptr, &v), kPlatOk) << "not a Boolean";
  PlatBstrFree(text);
  EXPECT_EQ(OleAutoQuit(), 1);

  TakeQuits();
  EXPECT_EQ(Call(kOleAppQuit, kPlatDispatchMethod), kPlatOk);
  EXPECT_EQ(Call(kOleAppQuit, kPlatDispatchMethod), kPlatOk);
  EXPECT_EQ(TakeQuits(), 1) << "one quit command however often asked";

  struct Row {
    const char* what;
    bool autoQuit, viLoaded;
    int32 quits;
  } rows[] = {
      {"on, a VI loaded", true, true, 0},
      {"on, nothing loaded", true, false, 1},
      {"off", false, false, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    OleApplication* other = nullptr;
    ASSERT_EQ(OleApplicationCreate(&other), kPlatOk);
    PlatComAddRef(other);
    OleSetAutoQuit(r.autoQuit);
    UHandle vi = r.viLoaded ? Load("Held.vi", runvi::Clumps::kAdd) : nullptr;
    if (r.viLoaded) {
      ASSERT_NE(vi, nullptr);
    }
    PlatComRelease(app_);
    app_ = nullptr;
    EXPECT_EQ(TakeQuits(), 0) << "another client still holds it";
    PlatComRelease(other);
    EXPECT_EQ(TakeQuits(), r.quits);
    if (vi) DisposeVI(vi, 1);
    ASSERT_EQ(OleApplicationCreate(&app_), kPlatOk);
    PlatComAddRef(app_);
  }
}

}  // namespace oleapp_test
