// The automation request dispatcher over VIs the tools write: the server's
// gates, invokes by dispatch id with their argument rules and error texts,
// and runs whose waiters are released on every path.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/vi/rtrsrc.h"
#include "mgsource/prefs.h"
#include "olesource/oleserv.h"
#include "olesource/servreq.h"
#include "server/server_vi_fixture.h"
#include "server/protocol.h"
#include "server/srvvalues.h"
#include "tools/tdbuilder.h"

namespace servreq_test {

namespace fs = std::filesystem;

std::string Text(PlatBstr s) {
  std::string t(PlatBstrLength(s), '\0');
  if (!t.empty()) PlatBstrToText(s, uInt32(t.size()), t.data(), uInt32(t.size()));
  return t;
}
std::string Item(int32 list, int32 item) {
  Str255 s;
  EXPECT_EQ(RGetIndString(RunTimeRsrcFile(), s, list, item), kNoErr) << list << "/" << item;
  return std::string(reinterpret_cast<const char*>(s + 1), s[0]);
}

class ServReq : public srvtest::ServerVITest {
 protected:
  void SetUp() override {
    ServerVITest::SetUp();
    registry_ = rt_.Host("registry.ini");
    setenv("QX_REGISTRY_FILE", registry_.c_str(), 1);
    PrefSet(kPrefServerOleEnabled, 1);
    ASSERT_EQ(OleServerStart(), 0);
  }
  void TearDown() override {
    OleServerStop();
    PlatBstrFree(slot_);
    unsetenv("QX_REGISTRY_FILE");
    ServerVITest::TearDown();
  }
  // A request carried out as user event 23 would: its event set at the end.
  static VIServRequest Send(int32 op, std::vector<uintptr_t> args) {
    PlatEvent* done = PlatEventCreate(false);
    VIServRequest q{op, done, int32(args.size()), args.data(), 0, 0};
    VIServRequestDispatch(&q);
    EXPECT_EQ(PlatEventWait(done, 0), kPlatWaitEvent) << "the completion event is set on every path";
    PlatEventDestroy(done);
    q.args = nullptr;
    return q;
  }
  VIServRequest Invoke(int32 cls, int32 id, uInt16 flags, PlatDispParams* dp, PlatVariant* result = nullptr,
                       uInt32 ref = uInt32(-1)) {
    return Send(kServReqInvoke, {uintptr_t(cls), ref, uintptr_t(id), flags, uintptr_t(dp), uintptr_t(result),
                                 uintptr_t(&slot_)});
  }
  std::string registry_;
  PlatBstr slot_ = nullptr;
};

PlatVariant Bool(bool on) {
  PlatVariant v;
  PlatVariantInit(&v);
  v.vt = kPlatVtBool;
  v.boolVal = on ? kPlatVariantTrue : kPlatVariantFalse;
  return v;
}
PlatVariant Words(const std::vector<int16>& w) {
  PlatSafeArrayBound b{uint32_t(w.size()), 0};
  PlatVariant v;
  PlatVariantInit(&v);
  v.vt = kPlatVtArray | kPlatVtI2;
  v.array = PlatSafeArrayCreate(kPlatVtI2, 1, &b);
  std::memcpy(v.array->data, w.data(), w.size() * 2);
  return v;
}
PlatVariant Bytes(const std::string& s) {
  PlatVariant v;
  PlatVariantInit(&v);
  v.vt = kPlatVtBstr;
  v.bstr = PlatBstrFromText(s.data(), uInt32(s.size()));
  return v;
}

// The gates, the member classification and the argument rules, each with
// its code and the slot's text.
TEST_F(ServReq, GatesMembersAndArguments) {
  ASSERT_TRUE(Load("Once.vi", runvi::Clumps::kOnce));
  const VIRef ref = Open("Once.vi");
  const std::vector<int16> i32 = srvval::TypeWords(tdb::AsTD(tdb::I32().Bytes()));
  const std::string prefix = Item(18300, 8);
  // "Convert Type and Data": void, Boolean, type, flat data (inputs), type
  // and flat data (outputs).
  PlatVariant outType;
  PlatVariantInit(&outType);
  PlatVariant byRef;
  PlatVariantInit(&byRef);
  byRef.vt = kPlatVtByRef | kPlatVtVariant;
  byRef.byRef = &outType;
  const std::string five("\0\0\0\5", 4);
  struct Row {
    const char* what;
    bool disabled, stopped;
    int32 op;  // 10: the invoke below; 0 an application property get; 2 a release
    int32 cls, id;
    uInt16 flags;
    std::vector<PlatVariant> args;  // the last argument first
    std::vector<int32> named;
    int32 status, result;
    std::string text;  // the slot's text after the prefix; "-" none
  } rows[] = {
      {"disabled", true, false, 0, 0, 0, 0, {}, {}, kVIRefAccessErr, 0, "-"},
      {"disabled: a release still runs", true, false, 2, 0, 0, 0, {}, {}, 0, 0, "-"},
      {"shutting down", false, true, 10, 0, 2013, 1, {}, {}, 5015, 0, "-"},
      {"unclassified", false, false, 10, 0, 100, 1, {}, {}, 0, 5012, Item(18300, 12)},
      {"another class", false, false, 10, 2, 0, 2, {}, {}, 0, 5012, Item(18300, 12)},
      {"too many arguments", false, false, 10, 0, 2013, 1, {Bool(true)}, {}, 0, 5014, Item(18300, 14)},
      {"a put of a read-only property", false, false, 10, 0, 0, 4, {Bytes("x")}, {}, 0, 6528, Item(10002, 29)},
      {"a put without its value", false, false, 10, 0, 0, 4, {}, {}, 0, 5014, Item(18300, 14)},
      {"a named id past the parameters", false, false, 10, 0, 2018, 1, {Bool(false)}, {5}, 0, 5014,
       Item(18300, 14)},
      {"more named than given", false, false, 10, 0, 2018, 1, {Bool(false)}, {0, 1}, 0, 5014, Item(18300, 14)},
      {"a named argument fills its slot, the positional ones go around it", false, false, 10, 0, 2018, 1,
       {byRef, Bytes(five), Words(i32), Bool(false)}, {3}, 0, 0, "-"},
      {"positional ones skip a named slot", false, false, 10, 0, 2018, 1, {Words(i32), Bytes(five), Bool(false)},
       {1}, 0, 0, "-"},
  };
  for (Row& r : rows) {
    SCOPED_TRACE(r.what);
    PrefSet(kPrefServerOleEnabled, r.disabled ? 0 : 1);
    if (r.stopped) OleServerStop();
    PlatBstrFree(slot_);
    slot_ = nullptr;
    PlatDispParams dp{r.args.data(), r.named.data(), uint32_t(r.args.size()), uint32_t(r.named.size())};
    VIServRequest q{};
    if (r.op == 0) {
      Str255 text;
      LStrHandle name = nullptr;
      q = Send(kServReqAppGet, {uintptr_t(kLocalAppRef), 0, uintptr_t(&name), uintptr_t(text)});
    } else if (r.op == 2) {
      q = Send(kServReqRelease, {uintptr_t(uInt32(ref))});
      EXPECT_EQ(ResolveVIRef(ref), nullptr);
    } else {
      q = Invoke(r.cls, r.id, r.flags, &dp);
    }
    EXPECT_EQ(q.status, r.status);
    EXPECT_EQ(q.result, r.result);
    EXPECT_EQ(slot_ ? Text(slot_) : "-", r.text == "-" ? "-" : prefix + r.text);
    if (r.stopped) { ASSERT_EQ(OleServerStart(), 0); }
    for (PlatVariant& v : r.args) PlatVariantClear(&v);
  }
  EXPECT_EQ(outType.vt, kPlatVtArray | kPlatVtI2) << "the named output came back";
  PlatVariantClear(&outType);
}

// A property read into a variant of its natural type.
TEST_F(ServReq, PropertyGetGivesTheNaturalType) {
  PlatVariant v;
  PlatVariantInit(&v);
  const VIServRequest q = Invoke(0, 28, kPlatDispatchPropertyGet, nullptr, &v);  // all VIs in memory
  EXPECT_EQ(q.result, 0);
  EXPECT_EQ(v.vt, kPlatVtArray | kPlatVtBstr);
  PlatVariantClear(&v);
}

// A run's waiter is released when the run ends, when it is reset (1039)
// and when the server stops (5015), with the error's text.
TEST_F(ServReq, RunWaitersAreReleasedOnEveryPath) {
  UHandle spin = Load("Spin.vi", vif::WriteWithPanel(runvi::File("Spin.vi", runvi::Clumps::kSpin)));
  UHandle once = Load("Once.vi", vif::WriteWithPanel(runvi::File("Once.vi", runvi::Clumps::kOnce)));
  ASSERT_TRUE(spin && once);
  const VIRef s = Open("Spin.vi"), o = Open("Once.vi");
  const auto idle = [](UHandle vi) { return [vi] { return (VIRec(vi)->eState & kVIStateMask) == kVIStateIdle; }; };
  struct Row {
    const char* what;
    VIRef ref;
    UHandle vi;
    int end;  // 0 the run ends, 1 it is reset, 2 the server stops
    int32 status;
    std::string text;
  } rows[] = {
      {"ends", o, once, 0, 0, "-"},
      {"reset", s, spin, 1, kVIRefAbortedErr, "VI was aborted"},
      {"server stops", s, spin, 2, kOleErrShuttingDown, Item(18300, 15)},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    VIServRunRecord run{PlatEventCreate(false), 1, -1, nullptr};
    const VIServRequest q = Send(kServReqRun, {uintptr_t(uInt32(r.ref)), uintptr_t(&run)});
    EXPECT_EQ(q.result, 0);
    if (r.end == 1) {
      uintptr_t none = 0;
      AttrEntry p{0, 0, &none};
      EXPECT_EQ(VIRefDoMethod(r.ref, 1004, 1, &p, kVIRefOptTrusted, nullptr, nullptr, nullptr), kNoErr);
    }
    if (r.end == 2) {
      EXPECT_EQ(VIServWaiterCount(), 1);
      OleServerStop();
      EXPECT_EQ(VIServWaiterCount(), 0);
    }
    ASSERT_TRUE(Pump([&] { return PlatEventWait(run.done, 0) == kPlatWaitEvent; }));
    EXPECT_EQ(run.status, r.status);
    EXPECT_EQ(run.errorText ? Text(run.errorText) : "-", r.text == "-" ? "-" : Item(18300, 8) + r.text);
    if (r.end == 2) {
      uintptr_t none = 0;
      AttrEntry p{0, 0, &none};
      VIRefDoMethod(r.ref, 1004, 1, &p, kVIRefOptTrusted, nullptr, nullptr, nullptr);
      ASSERT_EQ(OleServerStart(), 0);
    }
    ASSERT_TRUE(Pump(idle(r.vi)));
    PlatBstrFree(run.errorText);
    PlatEventDestroy(run.done);
  }
  EXPECT_EQ(VIServWaiterCount(), 0);
}

// The mapping of VI-server errors: codes and the texts that go with them.
TEST_F(ServReq, ErrorMapping) {
  const std::string prefix = Item(18300, 8);
  const uChar given[] = "\005given";
  struct Row {
    int32 code;
    ConstPStr text;
    int32 result;
    std::string message;  // "-": the slot keeps its old string
  } rows[] = {
      {0, nullptr, 0, "-"},
      {int32(0x80020005u), nullptr, int32(0x80020005u), "-"},
      {7, nullptr, 5507, Item(10001, 7)},
      {1028, nullptr, 6528, Item(10002, 29)},
      {1028, given, 6528, "given"},
      {3000, nullptr, 8500, Item(18300, 9)},
      {5003, nullptr, 5003, Item(18300, 3)},
      {5099, nullptr, 5099, "-"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.code);
    PlatBstrFree(slot_);
    slot_ = PlatBstrFromText("old", 3);
    EXPECT_EQ(OleMapVIServError(r.code, r.text, &slot_), r.result);
    EXPECT_EQ(Text(slot_), r.message == "-" ? "old" : prefix + r.message);
  }
}

// A control's value as a variant: a name the panel lacks is a parameter not
// found, with the method's own text.
TEST_F(ServReq, ControlValueOfAMissingControl) {
  ASSERT_TRUE(Load("Spin.vi", vif::WriteWithPanel(runvi::File("Spin.vi", runvi::Clumps::kSpin))));
  const VIRef ref = Open("Spin.vi");
  PlatBstr name = PlatBstrFromText("knob", 4);
  PlatVariant v;
  PlatVariantInit(&v);
  for (int32 op : {kServReqGetControl, kServReqSetControl}) {
    SCOPED_TRACE(op);
    const VIServRequest q = Send(op, {uintptr_t(uInt32(ref)), uintptr_t(name), uintptr_t(&v), uintptr_t(&slot_)});
    EXPECT_EQ(q.result, kOleErrParamNotFound);
    EXPECT_EQ(Text(slot_), Item(18300, 8) + "\"knob\" not found");
  }
  PlatBstrFree(name);
}

// ---- Calls with named parameters ----------------------------------------------------------

using srvtest::PaneVI;

// A one-dimensional array of the variants.
PlatSafeArray* VariantArray(std::vector<PlatVariant> items) {
  PlatSafeArrayBound b{uint32_t(items.size()), 1};
  PlatSafeArray* a = PlatSafeArrayCreate(kPlatVtVariant, 1, &b);
  for (int32 i = 0; i < int32(items.size()); ++i) {
    int32 index = i + 1;
    EXPECT_EQ(PlatSafeArrayPutElement(a, &index, &items[size_t(i)]), kPlatOk);
    PlatVariantClear(&items[size_t(i)]);
  }
  return a;
}
PlatVariant I4(int32 x) {
  PlatVariant v;
  PlatVariantInit(&v);
  v.vt = kPlatVtI4;
  v.i4 = x;
  return v;
}

// The call's outcomes: the sum written back into the values, names that
// are no strings, an unknown name, a required terminal not named, and a
// reset during the call, which releases the waiter with 1039.
TEST_F(ServReq, CallsWithNamedParameters) {
  const std::vector<uInt16> plain{0, 0, 0x100}, required{0, 0x1000, 0x100};
  ASSERT_TRUE(Load("Add.vi", vif::Write(PaneVI("Add.vi", runvi::Clumps::kAdd, plain))));
  ASSERT_TRUE(Load("Req.vi", vif::Write(PaneVI("Req.vi", runvi::Clumps::kAdd, required))));
  ASSERT_TRUE(Load("Spin.vi", vif::Write(PaneVI("Spin.vi", runvi::Clumps::kSpin, plain))));
  const std::string prefix = Item(18300, 8);
  {
    // The call information: where each terminal's value lies, for a table
    // of the pane's size only.
    const std::vector<uChar> pane =
        tdb::Function(0, plain, {tdb::I32().Named("a"), tdb::I32().Named("b"), tdb::I32().Named("sum")}).Bytes();
    const VIRef ref = Open("Add.vi", kVIRefOptTrusted, kNoErr, reinterpret_cast<const TypeDescriptor*>(pane.data()));
    CallTermSlot slots[3] = {{nullptr, 1}, {nullptr, 1}, {nullptr, 1}};
    VIServCallInfo info{3, slots};
    EXPECT_EQ(Send(kServReqCallInfo, {uintptr_t(uInt32(ref)), uintptr_t(&info)}).status, 0);
    for (const CallTermSlot& t : slots) EXPECT_TRUE(t.value && !t.present);
    info.count = 2;
    EXPECT_EQ(Send(kServReqCallInfo, {uintptr_t(uInt32(ref)), uintptr_t(&info)}).status, kArgErr);
    EXPECT_EQ(VIRefRelease(ref), kNoErr);
  }
  const auto format = [](int32 item, const std::string& name) {
    std::string t = Item(18300, item);
    for (size_t at; (at = t.find("%p")) != std::string::npos;) t.replace(at, 2, name);
    return t;
  };
  struct Row {
    const char* what;
    const char* vi;
    std::vector<uInt16> flags;
    std::vector<PlatVariant> names, values;
    bool kill;
    int32 status;
    std::string text;  // after the prefix; "-" none
    int32 sum;         // values[3] afterwards, -1 not looked at
  } rows[] = {
      {"the sum comes back", "Add.vi", plain, {Bytes("a"), Bytes("b"), Bytes("sum")}, {I4(2), I4(3), I4(0)}, false,
       0, "-", 5},
      {"a name that is no string", "Add.vi", plain, {Bytes("a"), I4(1)}, {I4(2), I4(3)}, false, 5001, Item(18300, 1),
       -1},
      {"an unknown name", "Add.vi", plain, {Bytes("c")}, {I4(2)}, false, 5005, format(5, "c"), -1},
      {"a required terminal not named", "Req.vi", required, {Bytes("a")}, {I4(2)}, false, 5006, format(6, "b"), -1},
      {"a reset during the call", "Spin.vi", plain, {Bytes("a")}, {I4(1)}, true, kVIRefAbortedErr,
       Item(10002, 40), -1},
  };
  for (Row& r : rows) {
    SCOPED_TRACE(r.what);
    const std::vector<uChar> pane =
        tdb::Function(0, r.flags, {tdb::I32().Named("a"), tdb::I32().Named("b"), tdb::I32().Named("sum")}).Bytes();
    const VIRef ref = Open(r.vi, kVIRefOptTrusted, kNoErr, reinterpret_cast<const TypeDescriptor*>(pane.data()));
    VIServCallRecord call{PlatEventCreate(false), 0, nullptr, kPlatVtArray | kPlatVtVariant,
                          VariantArray(r.names), VariantArray(r.values), -1, nullptr};
    const VIServRequest q = Send(kServReqCall, {uintptr_t(uInt32(ref)), uintptr_t(&call)});
    if (r.kill) {
      ASSERT_EQ(q.result, 0);
      EXPECT_EQ(KillQXObjAsyncRef(ResolveVIRef(ref)->call), kNoErr);
    }
    ASSERT_TRUE(Pump([&] { return PlatEventWait(call.done, 0) == kPlatWaitEvent; }));
    // The record is packed: its fields are read whole.
    const int32 status = call.status;
    PlatBstr errorText = call.errorText;
    const VIServCallParam* params = call.params;
    EXPECT_EQ(status, r.status);
    EXPECT_EQ(q.result, r.kill ? 0 : r.status);
    EXPECT_EQ(errorText ? Text(errorText) : "-", r.text == "-" ? "-" : prefix + r.text);
    EXPECT_EQ(params, nullptr) << "the parameter table goes with the call";
    if (r.sum >= 0) {
      PlatVariant v;
      int32 index = 3;
      ASSERT_EQ(PlatSafeArrayGetElement(call.values, &index, &v), kPlatOk);
      EXPECT_EQ(v.vt, kPlatVtI4);
      EXPECT_EQ(v.i4, r.sum);
    }
    PlatSafeArrayDestroy(call.names);
    PlatSafeArrayDestroy(call.values);
    PlatBstrFree(errorText);
    PlatEventDestroy(call.done);
    EXPECT_EQ(VIRefRelease(ref), kNoErr);
  }
  EXPECT_EQ(VIServWaiterCount(), 0);
}

}  // namespace servreq_test
