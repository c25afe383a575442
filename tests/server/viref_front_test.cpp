// VI references through their one front door, over VIs the tools write:
// opening and releasing, the remote-client gate, attribute vectors with
// their clean-up, reservations and a release deferred by a native call.
#include <gtest/gtest.h>

#include "engine/datamgr.h"
#include "engine/membertab.h"
#include "engine/vi/vi_internal.h"
#include "mgsource/prefs.h"
#include "mgsource/window/window.h"
#include "server/server_vi_fixture.h"
#include "tools/tdbuilder.h"

namespace {

using runvi::Clumps;
using qxtest::Reports;

class VIRefFront : public srvtest::ServerVITest {
 protected:
  void SetUp() override {
    ServerVITest::SetUp();
    for (int32 w : {kPrefServerVICallsEnabled, kPrefServerVIPropertiesEnabled, kPrefServerAppPropertiesEnabled})
      PrefSet(w, 1);
    srvtest::InstallPanelReopen();
  }
  void TearDown() override {
    SetVILoadPanelHooks(nullptr);
    ServerVITest::TearDown();
  }
  // A VI of another kind: an adder whose kind is changed once loaded.
  UHandle LoadKind(const std::string& name, int16 kind) {
    UHandle vi = Load(name, Clumps::kAdd);
    if (vi) VIRec(vi)->viKind = kind;
    return vi;
  }
  static VIRefRecord* Rec(VIRef ref) { return ResolveVIRef(ref); }
  static MgErr Get(VIRef ref, int32 selector, void* value, int32 options = kVIRefOptTrusted) {
    return VIRefGetAttributes(ref, selector, value, options, nullptr, nullptr, nullptr);
  }
};

// Add.vi's connector pane, and one whose second input has another type.
vif::Bytes PaneBytes(bool other) {
  return tdb::Function(0, {0, 0, 0x100},
                       {tdb::I32().Named("a"), other ? tdb::DBL().Named("b") : tdb::I32().Named("b"),
                        tdb::I32().Named("sum")})
      .Bytes();
}
const TypeDescriptor* TD(const vif::Bytes& b) { return reinterpret_cast<const TypeDescriptor*>(b.data()); }

TEST_F(VIRefFront, OpensAndReleasesAnswerTheirCodes) {
  UHandle add = Load("Add.vi", Clumps::kAdd);
  ASSERT_NE(add, nullptr);
  Write("Later.vi", vif::Write(runvi::File("Later.vi", Clumps::kAdd)));
  Write("note.txt", {'n', 'o', 't', 'e'});
  const vif::Bytes same = PaneBytes(false), other = PaneBytes(true);
  pathtest::Owned addPath(pathtest::ToPath("L:\\Add.vi")), later(pathtest::ToPath("L:\\Later.vi")),
      note(pathtest::ToPath("L:\\note.txt"));
  auto byName = [](AppRef app, const char* name, const TypeDescriptor* type, int32 options) {
    VIRef ref = 0;
    const MgErr err = AppOpenVIRefByName(app, srvtest::PS(name), type, options, nullptr, &ref, nullptr, nullptr, nullptr);
    if (!err) {
      EXPECT_EQ(VIRefRelease(ref), kNoErr);
    }
    return err;
  };
  auto byPath = [](Path path, const TypeDescriptor* type, int32 options) {
    VIRef ref = 0;
    const MgErr err = AppOpenVIRefByPath(kLocalAppRef, path, type, options, nullptr, &ref, nullptr, nullptr, nullptr);
    if (!err) {
      EXPECT_EQ(VIRefRelease(ref), kNoErr);
    }
    return err;
  };
  const int32 t = kVIRefOptTrusted;
  struct Case {
    const char* what;
    std::function<MgErr()> open;
    MgErr want;
  } cases[] = {
      {"a loaded VI by name", [&] { return byName(kLocalAppRef, "add.VI", nullptr, t); }, kNoErr},
      {"the same connector pane", [&] { return byName(kLocalAppRef, "Add.vi", TD(same), t | kVIRefOptNative); },
       kNoErr},
      {"application 0", [&] { return byName(kNoAppRef, "Add.vi", nullptr, t); }, kAppRefInvalidErr},
      {"an application refnum no jar holds", [&] { return byName(0x12345, "Add.vi", nullptr, t); },
       kAppRefInvalidErr},
      {"an empty name", [&] { return byName(kLocalAppRef, "", nullptr, t); }, kArgErr},
      {"a VI not in memory", [&] { return byName(kLocalAppRef, "Later.vi", nullptr, t); }, kVIRefNotInMemoryErr},
      {"an untrusted open of a loaded VI", [&] { return byName(kLocalAppRef, "Add.vi", nullptr, 0); },
       kVIRefAccessErr},
      {"an untrusted open by path", [&] { return byPath(addPath.p, nullptr, 0); }, kVIRefAccessErr},
      {"a loaded VI by path", [&] { return byPath(addPath.p, nullptr, t); }, kNoErr},
      {"a file that holds no VI", [&] { return byPath(note.p, nullptr, t); }, kFileNotFoundErr},
      {"another connector pane", [&] { return byName(kLocalAppRef, "Add.vi", TD(other), t); }, kVIRefTypeErr},
      {"another connector pane, the VI loaded by the open", [&] { return byPath(later.p, TD(other), t); },
       kVIRefTypeErr},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.open(), c.want) << c.what;
    EXPECT_EQ(Refs(add), 0) << c.what;
    // A VI that an open loaded for nothing goes through the user-interface
    // thread.
    EXPECT_TRUE(Pump([] { return FindVIByName(srvtest::PS("Later.vi")) == nullptr; }, 2000)) << c.what;
  }
  // A released reference and a refnum no jar holds.
  const VIRef ref = Open("Add.vi");
  EXPECT_EQ(VIRefRelease(ref), kNoErr);
  EXPECT_EQ(VIRefRelease(ref), kVIRefInvalidErr);
  EXPECT_EQ(VIRefRelease(0x7001), kVIRefInvalidErr);
  // The local application exists only once the jars do.
  VIRefExit();
  EXPECT_EQ(byName(kLocalAppRef, "Add.vi", nullptr, t), kAppRefInvalidErr);
  EXPECT_EQ(QXAppRefRelease(kLocalAppRef), kArgErr);
  ASSERT_EQ(VIRefInit(), kNoErr);
  EXPECT_EQ(QXAppRefRelease(kLocalAppRef), kNoErr);
}

// An untrusted caller meets the server's three switches and the members
// refused to remote callers, each with its debug line; a trusted one passes.
TEST_F(VIRefFront, TheRemoteClientGateFollowsTheSwitches) {
  ASSERT_NE(Load("Add.vi", Clumps::kAdd), nullptr);
  const VIRef ref = Open("Add.vi");
  enum Switch { kCalls, kVIOps, kAppOps, kNone };
  const int32 words[] = {kPrefServerVICallsEnabled, kPrefServerVIPropertiesEnabled, kPrefServerAppPropertiesEnabled};
  struct Row {
    const char* what;
    Switch governs;
    std::function<MgErr(int32 options)> op;
    const char* line;  // the debug line of a refusal (null: none)
  };
  LStrHandle name = nullptr;
  uInt8 flag = 0;
  int32 state = 0;
  const Row rows[] = {
      {"VI property", kVIOps, [&](int32 o) { return Get(ref, 500, &name, o); },
       "A remote app tried to get a VI property (which is forbidden)!!"},
      {"VI property set", kVIOps,
       [&](int32 o) { return VIRefSetAttributes(ref, 535, &flag, o, nullptr, nullptr, nullptr); },
       "A remote app tried to set a VI property (which is forbidden)!!"},
      {"VI vector", kVIOps,
       [&](int32 o) {
         AttrEntry e{1, 557, &state};
         return VIRefAttrVector(ref, 1, &e, o, nullptr, nullptr, nullptr, nullptr, nullptr);
       },
       nullptr},
      {"application property", kAppOps,
       [&](int32 o) { return AppGetAttribute(kLocalAppRef, 0, &name, o, nullptr, nullptr, nullptr); },
       "A remote app tried to get an app property (which is forbidden)!!"},
      {"application vector", kAppOps,
       [&](int32 o) {
         AttrEntry e{1, 0, &name};
         return AppAttrVector(kLocalAppRef, 1, &e, o, nullptr, nullptr, nullptr, nullptr, nullptr);
       },
       "A remote app tried to do a forbidden app attrVector!!"},
      {"Run VI", kCalls, [&](int32 o) { return VIRefDoMethod(ref, 1003, 0, nullptr, o, nullptr, nullptr, nullptr); },
       "A remote app tried to do a forbidden call!!"},
      {"another VI method", kVIOps,
       [&](int32 o) { return VIRefDoMethod(ref, 1004, 0, nullptr, o, nullptr, nullptr, nullptr); },
       "A remote app tried to do a forbidden call!!"},
      {"application method", kAppOps,
       [&](int32 o) { return AppDoMethod(kLocalAppRef, 2014, 0, nullptr, o, nullptr, nullptr, nullptr); },
       "A remote app tried to do an app method (which is forbidden!!)"},
      // Members refused to remote callers whatever the switches.
      {"VI property 563", kNone, [&](int32 o) { return Get(ref, 563, &flag, o); },
       "A remote app tried to get a VI property (which is forbidden)!!"},
      {"application property 26", kNone,
       [&](int32 o) { return AppGetAttribute(kLocalAppRef, 26, &name, o, nullptr, nullptr, nullptr); },
       "A remote app tried to get an app property (which is forbidden)!!"},
      {"application method 2013", kNone,
       [&](int32 o) { return AppDoMethod(kLocalAppRef, 2013, 0, nullptr, o, nullptr, nullptr, nullptr); },
       "A remote app tried to do an app method (which is forbidden!!)"},
  };
  for (int off = kCalls; off <= kNone; ++off) {
    for (int32 i = 0; i < 3; ++i) PrefSet(words[i], i != off);
    for (const Row& r : rows) {
      const bool refused = r.governs == kNone || r.governs == off;
      ClearReports();
      const MgErr untrusted = r.op(0);
      EXPECT_EQ(untrusted == kVIRefAccessErr, refused) << r.what << " with switch " << off << " off";
      if (refused && r.line) {
        EXPECT_EQ(Reports::Get().Count(r.line), 1) << r.what;
      }
      EXPECT_NE(r.op(kVIRefOptTrusted), kVIRefAccessErr) << r.what << ": trusted";
      if (name) DSDisposeHandle(reinterpret_cast<UHandle>(name));
      name = nullptr;
    }
  }
  // Inside an untrusted vector a member refused to remote callers stops it.
  AttrEntry e[2] = {{1, 557, &state}, {1, 567, &flag}};
  MgErr error = 0;
  int32 index = 0;
  EXPECT_EQ(VIRefAttrVector(ref, 2, e, 0, &error, &index, nullptr, nullptr, nullptr), kNoErr);
  EXPECT_EQ(error, kVIRefAccessErr);
  EXPECT_EQ(index, 2);
}

TEST_F(VIRefFront, VectorsStopAtTheFirstErrorAndLeaveNothingHalfBuilt) {
  ASSERT_NE(Load("Add.vi", vif::WriteWithPanel(runvi::File("Add.vi", Clumps::kAdd))), nullptr);
  const VIRef ref = Open("Add.vi");
  struct Slots {
    LStrHandle name = nullptr, history = nullptr;
    Path path = nullptr;
    int32 state = -1;
  };
  struct Case {
    const char* what;
    std::vector<int32> selectors;  // negative: a set of the selector
    int32 mode;
    MgErr result, error;
    int32 index;
    bool nameKept;
  } cases[] = {
      {"name, history, path", {500, 503, 501}, 0, kNoErr, kVIRefUnsupportedErr, 2, true},
      {"three gets", {500, 501, 557}, 0, kNoErr, kNoErr, 4, true},
      {"a set of the name unreserved", {500, -500}, 0, kVIRefUnreservedErr, kNoErr, 0, false},
      {"a set of the name reserved for calls", {500, -500}, 2, kVIRefNotIdleErr, kNoErr, 0, false},
      {"a selector outside the table", {9999}, 0, kNoErr, kVIRefSelectorErr, 1, false},
      {"a history selector", {527}, 0, kNoErr, kVIRefSelectorErr, 1, false},
      {"the diagram's bounds", {568}, 0, kNoErr, kVIRefUnsupportedErr, 1, false},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(Reserve(ref, c.mode), kNoErr) << c.what;
    Slots s;
    s.history = reinterpret_cast<LStrHandle>(DSNewHClr(4));
    s.path = FEmptyPath(nullptr);
    std::vector<AttrEntry> v;
    for (int32 sel : c.selectors) {
      const int32 id = sel < 0 ? -sel : sel;
      void* slot = id == 500 ? static_cast<void*>(&s.name)
                   : id == 501 ? static_cast<void*>(&s.path)
                   : id == 503 ? static_cast<void*>(&s.history)
                               : static_cast<void*>(&s.state);
      v.push_back({sel > 0, id, slot});
    }
    MgErr error = -1;
    int32 index = -1;
    EXPECT_EQ(VIRefAttrVector(ref, int32(v.size()), v.data(), kVIRefOptTrusted, &error, &index, nullptr, nullptr,
                              nullptr),
              c.result)
        << c.what;
    EXPECT_EQ(error, c.error) << c.what;
    EXPECT_EQ(index, c.index) << c.what;
    ASSERT_EQ(s.name != nullptr, c.nameKept) << c.what;
    if (s.name) {
      EXPECT_EQ(std::string(reinterpret_cast<char*>((*s.name)->str), size_t((*s.name)->cnt)), "Add.vi");
      DSDisposeHandle(reinterpret_cast<UHandle>(s.name));
    }
    // What the failing entry and those after it held is freed and cleared.
    const bool failedAt2 = c.error && c.index == 2;
    if (failedAt2) {
      EXPECT_EQ(s.history, nullptr) << c.what;
      EXPECT_EQ(s.path, nullptr) << c.what;
    }
    if (s.history) DSDisposeHandle(reinterpret_cast<UHandle>(s.history));
    if (s.path) FDisposePath(s.path);
  }
  ASSERT_EQ(Reserve(ref, 0), kNoErr);
  // A single set of a read-only property; a single get of a bad selector.
  uInt8 flag = 0;
  EXPECT_EQ(ThisApp_SetAttribute(Rec(ref), 501, &flag, nullptr), kVIRefReadOnlyErr);
  ClearReports();
  EXPECT_EQ(Get(ref, 9999, &flag), kVIRefSelectorErr);
  EXPECT_EQ(Reports::Get().Count("ThisApp_GetAttribute: bad selector: 9999"), 1);
  EXPECT_EQ(Get(ref, 519, nullptr), kNoErr) << "no value pointer: nothing done";
}

// The values of the enumerations, the connector pane's data and the
// bounds of a panel that has no window.
TEST_F(VIRefFront, PropertiesMapTheVIsFields) {
  vif::VIFile v = runvi::File("Pane.vi", Clumps::kAdd, 3);
  v.connPane = tdb::Function(27, {0x10, 0x20, 0x100},
                             {tdb::I32().Named("a"), tdb::I32().Named("b"), tdb::I32().Named("sum")});
  v.execSystem = -1;
  UHandle vi = Load("Pane.vi", vif::WriteWithPanel(v));
  ASSERT_NE(vi, nullptr);
  const VIRef ref = Open("Pane.vi");
  struct Case {
    int32 selector;
    int32 want;
  } ints[] = {{526, 4}, {557, 1}, {559, 7}, {562, 1}, {554, ref}, {504, 0}};
  for (const Case& c : ints) {
    int32 got = -1;
    EXPECT_EQ(Get(ref, c.selector, &got), kNoErr) << c.selector;
    EXPECT_EQ(got, c.want) << c.selector;
  }
  VIRec(vi)->flags |= kVIFlagSubroutine;
  VIRec(vi)->eState = 6;
  int32 got = -1;
  EXPECT_EQ(Get(ref, 526, &got), kNoErr);
  EXPECT_EQ(got, 6) << "subroutine priority";
  EXPECT_EQ(Get(ref, 559, &got), kNoErr);
  EXPECT_EQ(got, 0) << "a subroutine has no execution system";
  EXPECT_EQ(Get(ref, 557, &got), kNoErr);
  EXPECT_EQ(got, 2) << "a state with bit 2 runs top-level";
  VIRec(vi)->flags &= ~kVIFlagSubroutine;
  VIRec(vi)->eState = kVIStateIdle;
  // The connector pane's data: 4800 + 27 / 8, 27 & 3, then the terminals.
  const TypeDescriptor* td = PropInfoTypeDesc(kAutoClassVI, 565);
  ASSERT_NE(td, nullptr);
  std::vector<uChar> data(size_t(DataSize(td)), 0);
  ASSERT_EQ(Get(ref, 565, data.data()), kNoErr);
  int16 resID = 0, permutation = 0;
  std::memcpy(&resID, data.data(), 2);
  std::memcpy(&permutation, data.data() + 2, 2);
  EXPECT_EQ(resID, 4803);
  EXPECT_EQ(permutation, 3);
  UHandle terms = nullptr;
  std::memcpy(&terms, data.data() + 4, sizeof terms);
  ASSERT_NE(terms, nullptr);
  EXPECT_EQ(GetNative32(*terms), 3u);
  uInt16 flags = 0;
  std::memcpy(&flags, *terms + 4 + 2 * 10, 2);
  EXPECT_EQ(flags, 0x100) << "the third terminal's flags";
  LStrHandle third = nullptr;
  std::memcpy(&third, *terms + 4 + 2 * 10 + 6, sizeof third);
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>((*third)->str), size_t((*third)->cnt)), "sum");
  DisposeData(td, data.data(), data.data() + data.size());
  // A pane whose count runs past its handle is refused, nothing fetched.
  UHandle pane = VIRec(vi)->connPane;
  const uInt32 saved = GetNative32(*pane + 4);
  PutNative16(*pane + 4, 400);
  std::fill(data.begin(), data.end(), uChar(0));
  EXPECT_EQ(VIRefAttrVector(ref, 1, std::vector<AttrEntry>{{1, 565, data.data()}}.data(), kVIRefOptTrusted, nullptr,
                            nullptr, nullptr, nullptr, nullptr),
            kNoErr);
  EXPECT_EQ(Get(ref, 565, data.data()), kArgErr);
  EXPECT_EQ(std::count(data.begin(), data.end(), 0), std::ptrdiff_t(data.size()));
  PutNative32(*pane + 4, saved);
  // Bounds of a panel without a window: the stored content and origin.
  Rect bounds{};
  int16 rect[4] = {10, 20, 410, 320};  // left, top, right, bottom
  ASSERT_EQ(VIRefSetAttributes(ref, 556, rect, kVIRefOptTrusted, nullptr, nullptr, nullptr), kNoErr);
  int16 back[4] = {};
  ASSERT_EQ(Get(ref, 556, back), kNoErr);
  EXPECT_EQ(std::vector<int16>(back, back + 4), std::vector<int16>(rect, rect + 4));
  ASSERT_EQ(Get(ref, 536, back), kNoErr);
  WGetShellRect(viinst::ExtHalf(VIRec(vi)->panelHeap, kHeapExtWindowStyle), &bounds);
  EXPECT_EQ(back[0], 10 - bounds.left) << "the window's frame around the panel";
  EXPECT_EQ(back[3], 320 + bounds.bottom);
  // The origin scrolls the stored content.
  int16 origin[2] = {5, 7};
  ASSERT_EQ(VIRefSetAttributes(ref, 552, origin, kVIRefOptTrusted, nullptr, nullptr, nullptr), kNoErr);
  int16 originBack[2] = {};
  ASSERT_EQ(Get(ref, 552, originBack), kNoErr);
  EXPECT_EQ(originBack[0], 5);
  EXPECT_EQ(originBack[1], 7);
  ASSERT_EQ(Get(ref, 556, back), kNoErr);
  EXPECT_EQ(back[2] - back[0], 400) << "scrolling keeps the size";
}

// A property that needs the panel loads it and marks VI and reference; the
// last reference that loaded it clears the VI's mark.  A window's bounds
// outside its size limits are refused and the window stays.
TEST_F(VIRefFront, ThePanelLoadedByAReferenceAndItsWindow) {
  UHandle vi = Load("P.vi", vif::WriteWithPanel(runvi::File("P.vi", Clumps::kOnce)));
  ASSERT_NE(vi, nullptr);
  ASSERT_EQ(VIRec(vi)->panelHeap, nullptr);
  const VIRef first = Open("P.vi"), second = Open("P.vi");
  uInt8 on = 9;
  ASSERT_EQ(Get(first, 505, &on), kNoErr);
  EXPECT_NE(VIRec(vi)->panelHeap, nullptr);
  EXPECT_NE(VIRec(vi)->marks & kVIMarkPanelByRefs, 0u);
  EXPECT_NE(Rec(first)->flags & kVIRefLoadedPanel, 0u);
  ASSERT_EQ(Get(second, 506, &on), kNoErr);
  EXPECT_EQ(Rec(second)->flags & kVIRefLoadedPanel, 0u) << "the panel was in memory";
  EXPECT_EQ(VIRefRelease(second), kNoErr);
  EXPECT_NE(VIRec(vi)->marks & kVIMarkPanelByRefs, 0u);
  const VIRef third = Open("P.vi");
  // The window: opened, limited, then sized within and without its limits.
  on = 1;
  ASSERT_EQ(VIRefSetAttributes(third, 534, &on, kVIRefOptTrusted, nullptr, nullptr, nullptr), kNoErr);
  const WindowRef w = viinst::PanelWindow(VIRec(vi)->panelHeap);
  ASSERT_NE(w, kWNoWindow);
  const Point least{100, 200};
  WSetSizeLimits(w, &least, nullptr);
  Rect before, after;
  WGetGlobalRect(w, &before);
  int16 narrow[4] = {50, 50, 150, 300};  // 100 wide
  EXPECT_EQ(VIRefSetAttributes(third, 536, narrow, kVIRefOptTrusted, nullptr, nullptr, nullptr), kArgErr);
  WGetGlobalRect(w, &after);
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0) << "the window stays";
  int16 wide[4] = {50, 50, 450, 300};
  EXPECT_EQ(VIRefSetAttributes(third, 536, wide, kVIRefOptTrusted, nullptr, nullptr, nullptr), kNoErr);
  int16 back[4] = {};
  ASSERT_EQ(Get(third, 536, back), kNoErr);
  EXPECT_EQ(std::vector<int16>(back, back + 4), std::vector<int16>(wide, wide + 4));
  EXPECT_EQ(VIRefRelease(first), kNoErr);
  EXPECT_EQ(VIRec(vi)->marks & kVIMarkPanelByRefs, 0u) << "the last reference that loaded it is gone";
  EXPECT_EQ(VIRefRelease(third), kNoErr);
}

TEST_F(VIRefFront, ReservationsRefuseWhatCannotBeCalled) {
  UHandle add = Load("Add.vi", Clumps::kAdd);
  UHandle reentrant = Load("RAdd.vi", Clumps::kAdd, kVIFlagReentrant);
  UHandle control = LoadKind("C.ctl", kVIKindControl);
  UHandle global = LoadKind("G.vi", kVIKindGlobal);
  ASSERT_TRUE(add && reentrant && control && global);
  ASSERT_NE(VIRec(reentrant)->flags & kVIFlagReentrant, 0u);
  struct Case {
    const char* what;
    const char* vi;
    int32 mode;
    std::function<void()> before, after;
    MgErr want;
  } cases[] = {
      {"edit mode", "Add.vi", 1, nullptr, nullptr, kVIRefReserveErr},
      {"a busy VI", "Add.vi", 2, [&] { VIRec(add)->flags2 |= 0x800; }, [&] { VIRec(add)->flags2 &= ~0x800u; },
       kVIRefNotIdleErr},
      {"a bad VI", "Add.vi", 2, [&] { VIRec(add)->eState = 0; }, [&] { VIRec(add)->eState = kVIStateIdle; },
       kVIRefNotExecErr},
      {"a VI running top-level", "Add.vi", 2, [&] { VIRec(add)->eState = 2; },
       [&] { VIRec(add)->eState = kVIStateIdle; }, kVIRefNotIdleErr},
      {"a control VI", "C.ctl", 2, nullptr, nullptr, kVIRefKindErr},
      {"a global VI", "G.vi", 2, nullptr, nullptr, kVIRefKindErr},
      {"an idle standard VI", "Add.vi", 2, nullptr, nullptr, kNoErr},
      {"a mode outside 0..2", "Add.vi", 7, nullptr, nullptr, kVIRefReserveErr},
  };
  for (const Case& c : cases) {
    const VIRef ref = Open(c.vi, kVIRefOptTrusted | kVIRefOptNative);
    if (c.before) c.before();
    EXPECT_EQ(Reserve(ref, c.mode), c.want) << c.what;
    if (c.after) c.after();
    EXPECT_EQ(VIRefRelease(ref), kNoErr) << c.what;
    EXPECT_EQ(VIRec(add)->reservations, 0) << c.what << ": the release gives the reservation back";
  }
  // A native reference of a reentrant VI calls on a clone of its own, gone
  // with the reservation.
  auto clones = [&] {
    int32 n = 0;
    for (DataSpace ds = (*reinterpret_cast<DataSpace>(VIRec(reentrant)->dataSpace))->nextClone; ds;
         ds = (*ds)->nextClone)
      ++n;
    return n;
  };
  const int32 clonesBefore = clones();
  const VIRef ref = Open("RAdd.vi", kVIRefOptTrusted | kVIRefOptNative);
  ASSERT_EQ(Reserve(ref, 2), kNoErr);
  DataSpace call = nullptr;
  ASSERT_EQ(Get(ref, kVIRefCallDataProp, &call), kNoErr);
  EXPECT_NE(call, reinterpret_cast<DataSpace>(VIRec(reentrant)->dataSpace));
  EXPECT_TRUE(VIOwnsDataSpace(reentrant, call));
  EXPECT_EQ(clones(), clonesBefore + 1);
  ASSERT_EQ(Reserve(ref, 0), kNoErr);
  EXPECT_EQ(clones(), clonesBefore);
  EXPECT_EQ(VIRefRelease(ref), kNoErr);
}

// A release while a native call runs answers 0 and leaves the reference to
// the end of the call; until then every operation on it is refused.
TEST_F(VIRefFront, AReleaseWaitsForTheLastNativeCall) {
  UHandle add = Load("Add.vi", Clumps::kAdd);
  ASSERT_NE(add, nullptr);
  const VIRef ref = Open("Add.vi", kVIRefOptTrusted | kVIRefOptNative);
  ASSERT_EQ(Reserve(ref, 2), kNoErr);
  VIRefRecord* r = Rec(ref);
  r->nativeCalls = 1;
  EXPECT_EQ(VIRefRelease(ref), kNoErr);
  int32 state = 0;
  AttrEntry e{1, 557, &state};
  EXPECT_EQ(VIRefRelease(ref), kVIRefInvalidErr);
  EXPECT_EQ(Get(ref, 557, &state), kVIRefInvalidErr);
  EXPECT_EQ(VIRefAttrVector(ref, 1, &e, kVIRefOptTrusted, nullptr, nullptr, nullptr, nullptr, nullptr),
            kVIRefInvalidErr);
  EXPECT_EQ(VIRefDoMethod(ref, 1004, 0, nullptr, kVIRefOptTrusted, nullptr, nullptr, nullptr), kVIRefInvalidErr);
  EXPECT_EQ(Reserve(ref, 0), kVIRefInvalidErr);
  EXPECT_EQ(Refs(add), 1) << "the reference stays until its call ends";
  // The end of the call finishes the release.
  r->nativeCalls = 0;
  EXPECT_EQ(ThisApp_ReleaseRef(r), kNoErr);
  EXPECT_EQ(Refs(add), 0);
  EXPECT_EQ(VIRec(add)->reservations, 0);
}

}  // namespace
