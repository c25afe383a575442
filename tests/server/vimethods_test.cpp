// VI methods of the local application over VIs the tools write: the control
// values of a panel whose controls the hooks stand for, reinitialise, Run VI
// and Abort VI with their completions, the lock state and the counts.
#include <gtest/gtest.h>

#include "engine/datamgr.h"
#include "engine/exec/callchain.h"
#include "engine/membertab.h"
#include "engine/flatten.h"
#include "mgsource/prefs.h"
#include "server/server_vi_fixture.h"
#include "server/srvhooks.h"
#include "server/srvvalues.h"
#include "server/vistrmethod.h"
#include "tools/tdbuilder.h"

namespace vimethods_test {

using runvi::Clumps;

// One control of the panel the hooks stand for.
struct Ctl {
  std::string label;
  vif::Bytes td;  // empty: no type descriptor
  bool indicator = false;
  bool noData = false;
  std::vector<double> data = std::vector<double>(4, 0.0);
  const TypeDescriptor* type() const { return td.empty() ? nullptr : tdb::AsTD(td); }
};
std::vector<Ctl>* gPanel = nullptr;
int gShown = 0, gReinitialised = 0;
int32 gReinitResult = 0;

Ctl* At(int32 object) { return object >= 1 && object <= int32(gPanel->size()) ? &(*gPanel)[size_t(object - 1)] : nullptr; }

ServerUIHooks PanelHooks() {
  ServerUIHooks h{};
  h.findCtlByLabel = [](ObjHeap, const LStr* label) -> int32 {
    for (size_t i = 0; i < gPanel->size(); ++i)
      if ((*gPanel)[i].label == std::string(reinterpret_cast<const char*>(label->str), size_t(label->cnt)))
        return int32(i + 1);
    return 0;
  };
  h.labelText = [](ObjHeap, int32 object) -> LStrHandle {
    static LStrHandle text = nullptr;
    srvval::SetString(&text, reinterpret_cast<const uChar*>(At(object)->label.data()), int32(At(object)->label.size()));
    return text;
  };
  h.controlAt = [](ObjHeap, int32 i) { return i < int32(gPanel->size()) ? i + 1 : 0; };
  h.controlType = [](ObjHeap, int32 object) { return At(object)->type(); };
  h.isIndicator = [](ObjHeap, int32 object) -> Bool32 { return At(object)->indicator; };
  h.operateData = [](ObjHeap, int32 object) -> void* {
    return At(object)->noData ? nullptr : At(object)->data.data();
  };
  h.showValue = [](ObjHeap, int32, const void*) { ++gShown; };
  h.reinitialise = [](ObjHeap) {
    ++gReinitialised;
    return gReinitResult;
  };
  return h;
}

class VIMethods : public srvtest::ServerVITest {
 protected:
  void SetUp() override {
    ServerVITest::SetUp();
    srvtest::InstallPanelReopen();
    panel_ = {{"x", tdb::I32().Bytes()},
              {"y", tdb::I32().Bytes(), true},
              {"s", tdb::String().Bytes()},
              {"none", {}},
              {"gone", tdb::I32().Bytes(), false, true}};
    std::memcpy(panel_[0].data.data(), &kX, 4);
    std::memcpy(panel_[1].data.data(), &kY, 4);
    gPanel = &panel_;
    gShown = gReinitialised = 0;
    gReinitResult = 0;
    SetServerUIHooks(PanelHooks());
  }
  void TearDown() override {
    const TypeDescriptor* str = tdb::AsTD(panel_[2].td);
    DisposeData(str, panel_[2].data.data(), reinterpret_cast<uChar*>(panel_[2].data.data()) + 4);
    SetServerUIHooks(ServerUIHooks{});
    SetVILoadPanelHooks(nullptr);
    ServerVITest::TearDown();
  }
  static MgErr Do(VIRef ref, int32 method, std::vector<AttrEntry> params, PStr text = nullptr,
                  AsyncCompletion done = nullptr, AsyncRef* async = nullptr) {
    return VIRefDoMethod(ref, method, int32(params.size()), params.data(), kVIRefOptTrusted, text, done, async);
  }
  static constexpr int32 kX = 5, kY = 9;
  std::vector<Ctl> panel_;
};

std::string Text(ConstPStr p) { return std::string(reinterpret_cast<const char*>(p + 1), p[0]); }
std::string Bytes(LStrHandle h) { return h ? std::string(reinterpret_cast<char*>((*h)->str), size_t((*h)->cnt)) : ""; }
UHandle Words(std::vector<int16> w) {
  UHandle h = nullptr;
  EXPECT_EQ(srvval::SetWords(&h, w), kNoErr);
  return h;
}
std::vector<int16> WordsOf(const tdb::TD& td) {
  const vif::Bytes b = td.Bytes(tdb::Order::kWord);
  std::vector<int16> w(b.size() / 2);
  std::memcpy(w.data(), b.data(), w.size() * 2);
  return w;
}
LStrHandle Flat(const std::string& bytes) {
  LStrHandle h = nullptr;
  EXPECT_EQ(srvval::SetString(&h, reinterpret_cast<const uChar*>(bytes.data()), int32(bytes.size())), kNoErr);
  return h;
}

// Get and set by label: the value and its flattened type out; every refusal
// answers its code and text and leaves the control as it was (short and long
// flat data included).
TEST_F(VIMethods, ControlValuesByLabelAndTheirRefusals) {
  ASSERT_NE(Load("Add.vi", vif::WriteWithPanel(runvi::File("Add.vi", Clumps::kAdd))), nullptr);
  const VIRef ref = Open("Add.vi");
  LStrHandle data = nullptr;
  UHandle type = nullptr;
  LStrHandle x = Flat("x");
  ASSERT_EQ(Do(ref, 1010, {{1, 0, &data}, {0, 0, &x}, {1, 0, &type}}), kNoErr);
  EXPECT_EQ(Bytes(data), std::string("\0\0\0\5", 4));
  const std::vector<int16> i32 = WordsOf(tdb::I32());
  uChar* w = nullptr;
  int32 n = 0;
  ASSERT_TRUE(srvval::ArrayElements(type, 2, &w, &n));
  EXPECT_EQ(std::vector<int16>(reinterpret_cast<int16*>(w), reinterpret_cast<int16*>(w) + n), i32);

  std::vector<int16> odd = i32, dbl = WordsOf(tdb::DBL());
  odd[0] = 5;
  const struct {
    const char* label;
    UHandle type;
    std::string flat;
    MgErr code;
    const char* text;
  } kCases[] = {
      {"nope", nullptr, std::string("\0\0\0\7", 4), kArgErr, "\"nope\" not found"},
      {"y", nullptr, std::string("\0\0\0\7", 4), kArgErr, "\"y\" is an indicator, not a control"},
      {"none", nullptr, std::string("\0\0\0\7", 4), kArgErr, "\"none\": no type descriptor!!"},
      {"gone", nullptr, std::string("\0\0\0\7", 4), kVIRefGenericErr, "Can't get operate data for \"gone\""},
      {"x", Words(odd), std::string("\0\0\0\7", 4), kArgErr, "\"x\" type descriptor does not match"},
      {"x", Words({i32[0]}), std::string("\0\0\0\7", 4), kArgErr, "\"x\" type descriptor does not match"},
      {"x", Words(dbl), std::string("\0\0\0\7", 4), kArgErr, "\"x\" type descriptor does not match"},
      {"x", nullptr, std::string("\0\0\7", 3), kArgErr, ""},
      {"x", nullptr, std::string("\0\0\0\7\0", 5), kArgErr, ""},
      {"s", nullptr, std::string("\0\0\0\5ab", 6), kArgErr, ""},
      {"x", Words(i32), std::string("\0\0\0\7", 4), kNoErr, ""},
      {"s", nullptr, std::string("\0\0\0\2ab", 6), kNoErr, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.label) + " " + c.text);
    LStrHandle label = Flat(c.label), flat = Flat(c.flat);
    UHandle t = c.type;
    Str255 text{0};
    const int shown = gShown;
    const std::vector<Ctl> before = panel_;
    EXPECT_EQ(Do(ref, 1009, {{0, 0, nullptr}, {0, 0, &label}, {0, 0, c.type ? &t : nullptr}, {0, 0, &flat}}, text),
              c.code);
    EXPECT_EQ(Text(text), c.text);
    EXPECT_EQ(gShown, shown + (c.code == kNoErr));
    if (c.code) {
      for (size_t i = 0; i < panel_.size(); ++i) EXPECT_EQ(panel_[i].data, before[i].data);
    }
    for (UHandle h : {reinterpret_cast<UHandle>(label), reinterpret_cast<UHandle>(flat), t}) DSDisposeHandle(h);
  }
  int32 now = 0;
  std::memcpy(&now, panel_[0].data.data(), 4);
  EXPECT_EQ(now, 7);
  LStrHandle s = nullptr;
  std::memcpy(&s, panel_[2].data.data(), 4);
  EXPECT_EQ(Bytes(s), "ab");
  // More parameters than the method has.
  AttrEntry five[5] = {};
  EXPECT_EQ(VIRefDoMethod(ref, 1009, 5, five, kVIRefOptTrusted, nullptr, nullptr, nullptr), kArgErr);
  for (UHandle h : {reinterpret_cast<UHandle>(data), type, reinterpret_cast<UHandle>(x)}) DSDisposeHandle(h);
}

// All controls, or all indicators, in panel order: name, type and flat data.
TEST_F(VIMethods, AllControlValuesListControlsOrIndicatorsInPanelOrder) {
  panel_.erase(panel_.begin() + 3, panel_.end());
  ASSERT_NE(Load("Add.vi", vif::WriteWithPanel(runvi::File("Add.vi", Clumps::kAdd))), nullptr);
  const VIRef ref = Open("Add.vi");
  const TypeDescriptor* all = MethodParamTypeDesc(kAutoClassVI, 1020, 0);
  for (const bool controls : {true, false}) {
    UHandle list = nullptr;
    uInt8 which = controls;
    ASSERT_EQ(Do(ref, 1020, {{1, 0, &list}, {0, 0, controls ? &which : nullptr}}), kNoErr);
    uChar* e = nullptr;
    int32 n = 0;
    const TypeDescriptor* elt = srvval::ArrayElement(all);
    ASSERT_TRUE(srvval::ArrayElements(list, DataSize(elt), &e, &n));
    std::vector<std::string> got;
    for (int32 i = 0; i < n; ++i, e += DataSize(elt)) {
      LStrHandle name = nullptr, flat = nullptr;
      std::memcpy(&name, e, 4);
      std::memcpy(&flat, e + 8, 4);
      got.push_back(Bytes(name) + "=" + std::to_string(Bytes(flat).size()));
    }
    const std::vector<std::string> want = controls ? std::vector<std::string>{"x=4", "s=4"} : std::vector<std::string>{"y=4"};
    EXPECT_EQ(got, want);
    DisposeData(all, &list, &list + 1);
  }
}

// Reinitialise: a busy VI is refused; the transaction's failure bit is 2,
// another result only a debug line.
TEST_F(VIMethods, ReinitialiseRefusesABusyVIAndReportsTheTransaction) {
  UHandle vi = Load("Add.vi", vif::WriteWithPanel(runvi::File("Add.vi", Clumps::kAdd)));
  ASSERT_NE(vi, nullptr);
  const VIRef ref = Open("Add.vi");
  VIRec(vi)->flags2 |= 0x800;
  EXPECT_EQ(Do(ref, 1012, {}), kVIRefNotIdleErr);
  EXPECT_EQ(gReinitialised, 0);
  VIRec(vi)->flags2 &= ~0x800u;
  for (const auto& [result, code] : {std::pair{0, kNoErr}, {0x10, kMemFullErr}, {0x80, kNoErr}}) {
    gReinitResult = result;
    ClearReports();
    EXPECT_EQ(Do(ref, 1012, {}), code);
    EXPECT_EQ(qxtest::Reports::Get().Count("DoTransaction of kSetAllFromDflt returned 0x80"), result == 0x80);
  }
  EXPECT_EQ(gReinitialised, 3);
}

struct Heard {
  int count = 0;
  MgErr error = -1;
  std::string source;
};
Heard gHeard;
void Hear(AsyncRef a) {
  ++gHeard.count;
  gHeard.error = a->error;
  gHeard.source = a->errorText ? Text(a->errorText) : "";
}

// Run VI waits through its record until the run ends (0) or is aborted
// (1039 "VI was aborted"); without waiting it answers once started.  Abort
// VI needs a top-level run.
TEST_F(VIMethods, RunVICompletesAtTheEndOfTheRunOrItsAbort) {
  UHandle once = Load("Once.vi", vif::WriteWithPanel(runvi::File("Once.vi", Clumps::kOnce))), spin = Load("Spin.vi", vif::WriteWithPanel(runvi::File("Spin.vi", Clumps::kSpin)));
  ASSERT_TRUE(once && spin);
  const VIRef o = Open("Once.vi"), s = Open("Spin.vi");
  const auto idle = [](UHandle vi) { return [vi] { return (VIRec(vi)->eState & kVIStateMask) == kVIStateIdle; }; };
  AsyncRef a = nullptr;
  uInt8 no = 0;
  EXPECT_EQ(Do(o, 1003, {{0, 0, nullptr}}, nullptr, nullptr, &a), kArgErr);
  EXPECT_EQ(Do(s, 1004, {}), kArgErr);
  EXPECT_EQ(Do(o, 1003, {{0, 0, nullptr}, {0, 0, &no}}, nullptr, &Hear, &a), kNoErr);
  EXPECT_EQ(a, nullptr);
  ASSERT_TRUE(Pump(idle(once)));
  gHeard = {};
  EXPECT_EQ(Do(o, 1003, {}, nullptr, &Hear, &a), kVIRefPendingErr);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(ThisAppRecord()->asyncList, a);
  ASSERT_TRUE(Pump([] { return gHeard.count > 0; }));
  EXPECT_EQ(gHeard.error, kNoErr);
  EXPECT_EQ(ThisAppRecord()->asyncList, nullptr);
  ASSERT_TRUE(Pump(idle(once)));
  gHeard = {};
  const int32 cleanups = CleanupProcCount();
  EXPECT_EQ(Do(s, 1003, {}, nullptr, &Hear, &a), kVIRefPendingErr);
  EXPECT_EQ(CleanupProcCount(), cleanups + 2);
  EXPECT_EQ(Do(s, 1004, {}), kNoErr);
  ASSERT_TRUE(Pump([] { return gHeard.count > 0; }));
  EXPECT_EQ(gHeard.error, kVIRefAbortedErr);
  EXPECT_EQ(gHeard.source, "VI was aborted");
  ASSERT_TRUE(Pump(idle(spin)));
  EXPECT_EQ(gHeard.count, 1);
  EXPECT_EQ(CleanupProcCount(), cleanups);
}

// The automation methods: the value to a variant and back through the
// conversions, whose failure leaves the control as it was; the strings'
// import with its required path and its idle and reservation conditions.
TEST_F(VIMethods, VariantsAndTheStringsImport) {
  ServerUIHooks h = PanelHooks();
  h.toVariant = [](const void* data, const TypeDescriptor*, void* v) {
    std::memcpy(v, data, 4);
    return 0;
  };
  h.fromVariant = [](const void* v, void* data, const TypeDescriptor*) {
    std::memcpy(data, v, 4);
    return *static_cast<const int32*>(v) < 0 ? int32(0x80020005) : 0;
  };
  SetServerUIHooks(h);
  UHandle vi = Load("Add.vi", vif::WriteWithPanel(runvi::File("Add.vi", Clumps::kAdd)));
  ASSERT_NE(vi, nullptr);
  const VIRef ref = Open("Add.vi"), other = Open("Add.vi");
  LStrHandle x = Flat("x");
  int32 variant[4] = {};
  EXPECT_EQ(Do(ref, 1013, {{1, 0, nullptr}, {0, 0, &x}, {1, 0, variant}}), kNoErr);
  EXPECT_EQ(variant[0], kX);
  variant[0] = 11;
  EXPECT_EQ(Do(ref, 1014, {{1, 0, nullptr}, {0, 0, &x}, {0, 0, variant}}), kNoErr);
  variant[0] = -1;
  EXPECT_EQ(Do(ref, 1014, {{1, 0, nullptr}, {0, 0, &x}, {0, 0, variant}}), int32(0x80020005));
  EXPECT_EQ(Do(ref, 1014, {{1, 0, nullptr}, {0, 0, &x}, {0, 0, nullptr}}), kVIRefParamMissingErr);
  EXPECT_EQ(Do(ref, 1013, {{1, 0, nullptr}, {0, 0, &x}, {1, 0, variant}, {0, 0, nullptr}}), kArgErr);
  int32 now = 0;
  std::memcpy(&now, panel_[0].data.data(), 4);
  EXPECT_EQ(now, 11);
  EXPECT_EQ(gShown, 1);
  DSDisposeHandle(reinterpret_cast<UHandle>(x));

  static int gImports = 0;
  SetImportVIStringsProc([](UHandle, Path, uInt8, Path) {
    ++gImports;
    return MgErr(kNoErr);
  });
  pathtest::Owned file(pathtest::ToPath("L:\\strings.txt"));
  Path p = file.p;
  EXPECT_EQ(Do(ref, 1001, {{0, 0, nullptr}}), kVIRefParamMissingErr);
  EXPECT_EQ(Do(ref, 1001, {{0, 0, nullptr}, {0, 0, &p}}), kNoErr);
  ASSERT_EQ(Reserve(other, kVIRefModeCall), kNoErr);
  EXPECT_EQ(Do(ref, 1001, {{0, 0, nullptr}, {0, 0, &p}}), kVIRefNotIdleErr) << "another reference holds it";
  EXPECT_EQ(gImports, 1);
  SetImportVIStringsProc(nullptr);
}

// The lock state, the kinds a method refuses, and the selectors outside the
// table.
TEST_F(VIMethods, LockStateKindsAndSelectors) {
  UHandle vi = Load("Add.vi", vif::WriteWithPanel(runvi::File("Add.vi", Clumps::kAdd)));
  ASSERT_NE(vi, nullptr);
  const VIRef ref = Open("Add.vi");
  int32 state = 0;
  uInt8 locked = 1;
  EXPECT_EQ(Do(ref, 1021, {{1, 0, &state}, {1, 0, &locked}}), kNoErr);
  EXPECT_EQ(state, 2);
  EXPECT_EQ(locked, 0);
  ClearReports();
  for (int32 m : {999, 1015, 1017, 1023}) EXPECT_EQ(Do(ref, m, {}), kVIRefMethodErr) << m;
  EXPECT_EQ(qxtest::Reports::Get().Count("ThisApp_VIDoMethod: bad selector: 1023"), 1);
  for (int32 m : {1000, 1002, 1011, 1018, 1022}) EXPECT_EQ(Do(ref, m, {}), kVIRefUnsupportedErr) << m;
  // Run VI is for standard VIs; reinitialise for global ones too.
  VIRec(vi)->viKind = kVIKindGlobal;
  EXPECT_EQ(Do(ref, 1003, {}), kVIRefKindErr);
  EXPECT_EQ(Do(ref, 1012, {}), kNoErr);
  VIRec(vi)->viKind = kVIKindControl;
  EXPECT_EQ(Do(ref, 1012, {}), kVIRefKindErr);
  EXPECT_EQ(Do(ref, 1021, {{1, 0, &state}}), kNoErr);
  VIRec(vi)->viKind = kVIKindDatalog;
}

}  // namespace vimethods_test
