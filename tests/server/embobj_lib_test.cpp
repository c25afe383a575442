// The embedding services over the container library: its absence, the
// temporary files and arguments of a load, saves, windows and the object's
// dispatch refnum.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/engine_test_support.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/window.h"
#include "platform/qx_paint.h"
#include "platform/qx_file.h"
#include "server/embed_lib_support.h"
#include "server/embobj.h"

namespace {

// A recording table: every call is logged with its arguments.
std::vector<std::string> gCalls;
std::string gLoadedBytes, gLoadedFile;
int32_t gSaveAnswer = 1;
void* gRegistered = nullptr;
QxEmbedFontDesc gFont{};
std::string gFace, gName;
void Log(const char* f, std::initializer_list<int64_t> args) {
  std::string s = f;
  for (int64_t a : args) s += " " + std::to_string(a);
  gCalls.push_back(s);
}
int32_t RLoad(int32_t* token, PlatWindow w, int32_t p0, int32_t p1, int32_t e0, int32_t e1, int32_t ox, int32_t oy,
              const char* file, int32_t* flags) {
  Log("load", {w, p0, p1, e0, e1, ox, oy});
  gLoadedFile = file;
  PlatFile* f = nullptr;
  gLoadedBytes.clear();
  if (!PlatFileOpen(file, kPlatOpenExisting, 1, 0, &f)) {
    char buf[256];
    uint32_t n = 0;
    PlatFileRead(f, buf, sizeof buf, &n);
    gLoadedBytes.assign(buf, n);
    PlatFileClose(f);
  }
  *token = 41;
  *flags = 3;
  return 0;
}
int32_t RMisc(int32_t token) { return Log("misc", {token}), 0x101; }
int32_t RSetToken(int32_t token, void* rec) { return Log("register", {token}), gRegistered = rec, 0; }
int32_t RFore(int32_t token, uint32_t c) { return Log("fore", {token, c}), 0; }
int32_t RBack(int32_t token, uint32_t c) { return Log("back", {token, c}), 0; }
int32_t RName(int32_t token, const uint16_t* n) {
  gName.clear();
  for (int i = 0; n && n[i]; ++i) gName.push_back(char(n[i]));
  return Log("name", {token, n != nullptr}), 0;
}
int32_t RFont(int32_t token, QxEmbedFontDesc d) {
  gFont = d;
  gFace.clear();
  for (int i = 0; d.face && d.face[i]; ++i) gFace.push_back(char(d.face[i]));
  return Log("font", {token}), 0;
}
int32_t RSave(int32_t token, const char*) { return Log("save", {token}), gSaveAnswer; }
int32_t RAdopt(int32_t token, PlatWindow w, int32_t ox, int32_t oy) { return Log("adopt", {token, w, ox, oy}), 0; }
int32_t RBounds(int32_t token, int32_t p0, int32_t p1, int32_t e0, int32_t e1) {
  return Log("bounds", {token, p0, p1, e0, e1}), 0;
}
int32_t RDestroy(int32_t token) { return Log("destroy", {token}), 0; }

EmbContainerProcs Recording() {
  EmbContainerProcs t{};
  auto set = [&](EmbSlot s, auto f) { t.slots[s] = reinterpret_cast<void*>(f); };
  set(kEmbSlotLoad, &RLoad), set(kEmbSlotMiscFlags, &RMisc), set(kEmbSlotSetToken, &RSetToken);
  set(kEmbSlotAmbientFG, &RFore), set(kEmbSlotAmbientBG, &RBack), set(kEmbSlotAmbientName, &RName);
  set(kEmbSlotAmbientFont, &RFont), set(kEmbSlotSave, &RSave), set(kEmbSlotAdopt, &RAdopt);
  set(kEmbSlotSetBounds, &RBounds), set(kEmbSlotDestroy, &RDestroy);
  return t;
}

class EmbLibrary : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_NE(embtest::Library(), nullptr) << "the container library loads by its path";
    old_ = EmbSetContainerProcs(embtest::Table());
    gCalls.clear();
    gSaveAnswer = 1;
  }
  void TearDown() override {
    for (UHandle h : handles_) AZDisposeHandle(h);
    EmbSetContainerProcs(old_);
    EXPECT_EQ(QxEmbedCount(), 0) << "library objects left";
    AutoRefReleaseAll();
    EngineTest::TearDown();
  }
  UHandle Keep(UHandle h) { return handles_.push_back(h), h; }
  UHandle Record(int32 kind = kEmbObjectKind) {
    UHandle h = Keep(AZNewHClr(sizeof(EmbObjectRec)));
    reinterpret_cast<EmbObjectRec*>(*h)->kind = kind;
    return h;
  }
  static EmbObjectRec* R(UHandle h) { return reinterpret_cast<EmbObjectRec*>(*h); }
  UHandle Saved(const std::vector<uint8_t>& bytes, int32 extra = 0) {
    UHandle h = Keep(AZNewHandle(int32(bytes.size()) + 4));
    const int32 n = int32(bytes.size()) + extra;
    std::memcpy(*h, &n, 4);
    if (!bytes.empty()) std::memcpy(*h + 4, bytes.data(), bytes.size());
    return h;
  }
  static std::vector<uint8_t> State(uint32_t flags = 0) {
    return QxEmbedWriteState(QxEmbedState{0x44656D6F, 150, 60, flags, 0x00C000});
  }

  EmbContainerProcs old_{};
  std::vector<UHandle> handles_;
};

// Without the library every operation on an object answers 15, destroy 0,
// and no object ever loads.
TEST_F(EmbLibrary, WithoutTheLibraryEveryOperationAnswersMissing) {
  EmbSetContainerProcs(EmbContainerProcs{});
  UHandle rec = Record();
  R(rec)->token = 9, R(rec)->miscFlags = kEmbMiscInPlace, R(rec)->window = 0;
  const Rect r{0, 0, 10, 10};
  Rect got{};
  int32 flags = 0, image = 0;
  UHandle out = nullptr;
  const struct {
    const char* what;
    MgErr err;
  } rows[] = {
      {"load", EmbLoadFromResource(Saved(State()), &rec, 0, nullptr, &r, &flags)},
      {"save", EmbSaveObject(rec, &out)},
      {"activate", EmbActivate(rec, 1)},
      {"deactivate", EmbActivate(rec, 0)},
      {"window", EmbSetWindow(rec, 1)},
      {"set bounds", EmbSetBounds(rec, &r)},
      {"get bounds", EmbGetBounds(rec, &got)},
      {"focus", EmbFocus(0, rec, 1, 0)},
      {"picture", EmbGetPicture(rec, &image)},
      {"foreground", EmbAmbientFGColor(rec, 0x123456)},
      {"background", EmbAmbientBGColor(rec, 0x123456)},
      {"name", EmbAmbientDisplayName(rec, nullptr)},
      {"font", EmbAmbientFont(rec, nullptr)},
  };
  for (const auto& row : rows) EXPECT_EQ(row.err, kEmbMissingEntry) << row.what;
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(EmbUpdateDispatch(rec), 0);
  EXPECT_EQ(EmbDestroy(rec), kNoErr);
  EXPECT_EQ(R(rec)->token, 0);
}

// A load writes exactly the saved bytes to a temporary file that is gone
// afterwards, passes position, extent and origin, registers the record,
// takes the misc flags, and tells the ambient properties in order.
TEST_F(EmbLibrary, LoadPassesTheFileArgumentsAndAmbientsInOrder) {
  EmbSetContainerProcs(Recording());
  UHandle rec = Record();
  const std::vector<uint8_t> bytes{1, 2, 0, 255, 7};
  const Rect r{20, 30, 80, 230};  // top, left, bottom, right
  int32 flags = 0x10;
  const int32 font = TNewFont(reinterpret_cast<ConstPStr>("\x05" "Arial"), 13, 0, 700);
  const uChar text[] = "Gauge";
  TRecord t = TNew(&r, 0, text, 5, font, 0, 0xFFFFFF);
  ASSERT_NE(t, nullptr);
  EmbAmbientInfo ambient{0x00FF00, 0x123456, t, nullptr, 0};
  ASSERT_EQ(EmbLoadFromResource(Saved(bytes), &rec, 0, &ambient, &r, &flags), kNoErr);
  EXPECT_EQ(gLoadedBytes, std::string(bytes.begin(), bytes.end())) << "the bytes without the count";
  EXPECT_NE(gLoadedFile.find("qxemb"), std::string::npos) << gLoadedFile;
  PlatFileAttr attr{};
  EXPECT_NE(PlatFileAttrOf(gLoadedFile.c_str(), &attr), 0) << "the temporary file is removed";
  const std::vector<std::string> expect{"load 0 20 30 60 200 0 0", "misc 41",  "register 41",
                                        "fore 41 39203858",        "back 41 33619712", "name 41 1", "font 41"};
  EXPECT_EQ(gCalls, expect) << "root window, origin (0, 0); colours palette-relative (0x02BBGGRR)";
  EXPECT_EQ(R(rec)->token, 41);
  EXPECT_EQ(R(rec)->miscFlags, 0x101);
  EXPECT_EQ(gRegistered, static_cast<void*>(rec));
  EXPECT_EQ(flags, 0x11) << "only bit 0 of the load's flags is ORed in";
  EXPECT_EQ(gName, "Gauge");
  EXPECT_EQ(gFont.size, 32u);
  EXPECT_EQ(gFace, "Arial");
  EXPECT_EQ(gFont.sizeLow, 13u);
  EXPECT_EQ(gFont.sizeHigh, 0u);
  EXPECT_EQ(gFont.weight, 700);
  EXPECT_EQ(gFont.italic | gFont.underline | gFont.strikethrough, 0);
  TDispose(t);
  TDisposeFont(font);
  // A blank name goes as null; the no-colour value is not passed.
  gCalls.clear();
  TRecord blank = TNew(&r, 0, reinterpret_cast<const uChar*>("   "), 3, 0, 0, 0);
  EXPECT_EQ(EmbAmbientDisplayName(rec, blank), kNoErr);
  EXPECT_EQ(EmbAmbientFGColor(rec, 0x1000000), kNoErr);
  EXPECT_EQ(gCalls, std::vector<std::string>{"name 41 0"});
  TDispose(blank);
  R(rec)->token = 0;
}

// Saves give the library's exact bytes with their count; failures.
TEST_F(EmbLibrary, SaveGivesTheLibrarysBytesAndFailsCleanly) {
  UHandle rec = Record();
  const Rect r{0, 0, 60, 150};
  ASSERT_EQ(EmbLoadFromResource(Saved(State(kQxEmbedStateTakesFocus)), &rec, 0, nullptr, &r, nullptr), kNoErr);
  UHandle out = nullptr;
  ASSERT_EQ(EmbSaveObject(rec, &out), kNoErr);
  Keep(out);
  const std::vector<uint8_t> want = State(kQxEmbedStateTakesFocus);
  int32 n = 0;
  std::memcpy(&n, *out, 4);
  EXPECT_EQ(n, int32(want.size()));
  EXPECT_EQ(AZGetHandleSize(out), n + 4);
  EXPECT_EQ(std::memcmp(*out + 4, want.data(), want.size()), 0);
  // Into an existing larger handle: resized to the data.
  UHandle big = Keep(AZNewHClr(100));
  EXPECT_EQ(EmbSaveObject(rec, &big), kNoErr);
  EXPECT_EQ(AZGetHandleSize(big), int32(want.size()) + 4);
  EmbFailNextTempName();
  EXPECT_EQ(EmbSaveObject(rec, &big), kCINTempLibErr);
  EmbFailNextTempName();
  UHandle other = Record();
  EXPECT_EQ(EmbLoadFromResource(Saved(State()), &other, 0, nullptr, &r, nullptr), kCINTempLibErr);
  EXPECT_EQ(EmbSaveObject(Record(2), &big), kEmbNotAnObject);
  EXPECT_EQ(EmbLoadFromResource(Saved(State(), 1), &other, 0, nullptr, &r, nullptr), kArgErr)
      << "a count beyond its handle: nothing written";
  EXPECT_EQ(EmbDestroy(rec), kNoErr);
  EXPECT_EQ(EmbDestroy(rec), kNoErr) << "no object left";
  // The library's failing save.
  EmbSetContainerProcs(Recording());
  gSaveAnswer = 0;
  R(rec)->token = 5;
  EXPECT_EQ(EmbSaveObject(rec, &big), kArgErr);
  EXPECT_EQ(EmbDestroy(rec), kArgErr) << "the library reports the destroy failed";
}

// The same window calls nothing; another window is adopted with its origin
// and stored only once the library took the object; bounds go as position
// and extent.
TEST_F(EmbLibrary, WindowsAndBoundsReachTheLibraryOnlyWhenTheyChange) {
  EmbSetContainerProcs(Recording());
  UHandle rec = Record();
  R(rec)->token = 6;
  EXPECT_EQ(EmbSetWindow(rec, 0), kNoErr);
  EXPECT_TRUE(gCalls.empty()) << "the root window already";
  const Rect r{5, 7, 25, 57};
  EXPECT_EQ(EmbSetBounds(rec, &r), kNoErr);
  EXPECT_EQ(gCalls, std::vector<std::string>{"bounds 6 5 7 20 50"});
  R(rec)->miscFlags = 0;
  EXPECT_EQ(EmbActivate(rec, 1), kNoErr) << "not in place: nothing happens";
  EXPECT_EQ(gCalls.size(), 1u);
  R(rec)->token = 0;
}

// A diagram's refnum drives the library's object; destroy releases it, and
// a record read back from a file holds neither token nor refnum nor window.
TEST_F(EmbLibrary, DispatchRefnumIsReleasedAndStoredRecordsHoldNoObject) {
  UHandle rec = Record();
  const Rect r{0, 0, 60, 150};
  ASSERT_EQ(EmbLoadFromResource(Saved(State()), &rec, 0, nullptr, &r, nullptr), kNoErr);
  const int32 token = R(rec)->token;
  const int32 ref = EmbUpdateDispatch(rec);
  ASSERT_NE(ref, 0);
  EXPECT_EQ(EmbUpdateDispatch(rec), ref) << "the cached refnum is kept";
  QxEmbedInfo info;
  ASSERT_TRUE(QxEmbedQuery(token, &info));
  EXPECT_EQ(info.dispatchRefs, 2u) << "the library's and the refnum's";
  EXPECT_EQ(info.record, static_cast<void*>(rec));
  EmbDispatch* d = nullptr;
  ASSERT_EQ(AutoRefGetDispatch(Cookie(ref), &d), kNoErr);
  uint32_t count = 99;
  EXPECT_EQ(d->slots->getTypeInfoCount(d, &count), kPlatOk);
  EXPECT_EQ(count, 0u);
  PlatComRelease(d);
  EXPECT_EQ(EmbDestroy(rec), kNoErr);
  EXPECT_FALSE(IsAutomationRefnum(Cookie(ref)));
  EXPECT_EQ(QxEmbedCount(), 0);
  // As stored: the four words big-endian, and a stale window.
  UHandle stored = Record();
  const uint8_t be[16] = {0, 0, 0, 1, 0, 0, 0, 7, 0, 0, 1, 0, 0, 0, 0, 9};
  std::memcpy(*stored, be, 16);
  R(stored)->window = 77;
  ASSERT_EQ(EmbRecordSwap(stored), kNoErr);
  EXPECT_EQ(R(stored)->kind, 1);
  EXPECT_EQ(R(stored)->miscFlags, 0x100);
  EXPECT_EQ(R(stored)->token, 0);
  EXPECT_EQ(R(stored)->dispatchRef, 0);
  EXPECT_EQ(R(stored)->window, 0);
  EXPECT_EQ(EmbDestroy(stored), kNoErr);
}

}  // namespace

namespace {

// A library lacking names loads with those slots empty: what needs them
// answers 15, what it has works; a name that is no library loads nothing.
TEST_F(EmbLibrary, MissingNamesLeaveTheirSlotsEmpty) {
  EmbUnloadContainerLibrary();
  EXPECT_NE(EmbLoadContainerLibrary("/nonexistent/libnothing.so"), kNoErr);
  ASSERT_EQ(EmbLoadContainerLibrary(QX_CONTAINER_PARTIAL), kNoErr);
  EmbContainerProcs t = EmbSetContainerProcs(EmbContainerProcs{});
  EmbSetContainerProcs(t);
  for (int i = 0; i < kQxContainerSlots; ++i)
    EXPECT_EQ(t.slots[i] != nullptr, i == kEmbSlotDestroy || i == kEmbSlotMiscFlags) << kQxContainerNames[i];
  EXPECT_EQ(EmbLoadContainerLibrary(QX_CONTAINER_LIB), kNoErr) << "loaded once: the second load keeps the first";
  UHandle rec = Record();
  R(rec)->token = 3, R(rec)->miscFlags = kEmbMiscInPlace;
  const Rect r{0, 0, 10, 10};
  EXPECT_EQ(EmbActivate(rec, 1), kEmbMissingEntry);
  EXPECT_EQ(EmbSetBounds(rec, &r), kEmbMissingEntry);
  EXPECT_EQ(EmbDestroy(rec), kNoErr);
  EmbUnloadContainerLibrary();
  ASSERT_EQ(EmbLoadContainerLibrary(QX_CONTAINER_LIB), kNoErr);
  EXPECT_EQ(embtest::Table().slots[kEmbSlotLoad], old_.slots[kEmbSlotLoad]) << "the real library again";
}

}  // namespace

namespace {

// Adoptions the library is asked for, counted on the way to it.
int32_t gAdoptions = 0;
QxcAdoptProc gRealAdopt = nullptr;
int32_t CountingAdopt(int32_t token, PlatWindow w, int32_t ox, int32_t oy) {
  ++gAdoptions;
  return gRealAdopt(token, w, ox, oy);
}

bool SameRect(const PlatRect& a, const PlatRect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// Three objects of the real library in a window of the window manager, each
// with its site: a child window of the host window.
class EmbWindows : public EmbLibrary {
 protected:
  void SetUp() override {
    EmbLibrary::SetUp();
    if (HasFatalFailure()) return;
    const uChar none[1] = {0};
    const Rect place{40, 30, 240, 330};
    window_ = WCreate(0, none, nullptr, &place, 0, 0, 0);
    ASSERT_NE(window_, kWNoWindow);
    hwnd_ = WHostWindow(window_);
    ASSERT_NE(hwnd_, 0);
    for (int i = 0; i < 3; ++i) {
      recs_[i] = Record();
      const Rect r{int16(10 + 30 * i), 20, int16(30 + 30 * i), 60};
      ASSERT_EQ(EmbLoadFromResource(Saved(State()), &recs_[i], window_, nullptr, &r, nullptr), kNoErr);
      ASSERT_NE(Site(i), 0);
    }
  }
  void TearDown() override {
    QxEmbedFailAdoptions(0);
    for (UHandle h : recs_)
      if (h) EmbDestroy(h);
    if (window_) WDestroy(window_);
    EmbLibrary::TearDown();
  }
  PlatWindow Site(int i) {
    QxEmbedInfo info;
    return QxEmbedQuery(R(recs_[i])->token, &info) ? info.site : 0;
  }
  WindowRef window_ = 0;
  PlatWindow hwnd_ = 0;
  UHandle recs_[3] = {};
};

// Each origin move reaches every child window through the scroll hook: the
// sites move against the origin and are invalidated without erasing, their
// old places in the parent; a child that is no site stays and is left alone.
TEST_F(EmbWindows, AScrollMovesEveryChildAndInvalidatesOnlyTheChangedOnes) {
  const WEmbeddedScrollProc oldHook = WEmbeddedScrollInUse();
  WSetEmbeddedScroll(&EmbWindowScroll);
  const PlatWindow plain =
      PlatCreateWindow(nullptr, "", kPlatWsChild | kPlatWsVisible, 0, PlatRect{150, 150, 170, 170}, hwnd_);
  ASSERT_NE(plain, 0);
  const struct {
    int16 dh, dv;
  } steps[] = {{0, 12}, {-7, 0}, {5, -3}};
  Point origin{0, 0};
  WGetOrigin(window_, &origin);
  for (const auto& st : steps) {
    SCOPED_TRACE(testing::Message() << "scroll " << st.dh << ", " << st.dv);
    PlatRect before[3];
    for (int i = 0; i < 3; ++i) {
      ASSERT_TRUE(PlatGetWindowRect(Site(i), &before[i]));
      PlatValidateRect(Site(i), nullptr);
    }
    PlatValidateRect(plain, nullptr);
    PlatValidateRect(hwnd_, nullptr);
    origin = Point{int16(origin.v + st.dv), int16(origin.h + st.dh)};
    WSetOrigin(window_, origin);
    int32_t cx = 0, cy = 0;
    PlatClientToScreen(hwnd_, &cx, &cy);
    PlatRect vacated{1 << 20, 1 << 20, -(1 << 20), -(1 << 20)};
    for (int i = 0; i < 3; ++i) {
      const PlatRect& b = before[i];
      PlatRect after{};
      ASSERT_TRUE(PlatGetWindowRect(Site(i), &after));
      EXPECT_TRUE(SameRect(after, PlatRect{b.left - st.dh, b.top - st.dv, b.right - st.dh, b.bottom - st.dv})) << i;
      PlatPaintInfo pi{};
      ASSERT_NE(PlatBeginPaint(Site(i), &pi), 0u) << i;
      EXPECT_TRUE(SameRect(pi.paint, PlatRect{0, 0, 40, 20})) << "the whole site, " << i;
      EXPECT_FALSE(pi.erase) << i;
      PlatEndPaint(Site(i), &pi);
      vacated = PlatRect{std::min(vacated.left, b.left - cx), std::min(vacated.top, b.top - cy),
                         std::max(vacated.right, b.right - cx), std::max(vacated.bottom, b.bottom - cy)};
    }
    EXPECT_FALSE(PlatGetUpdateRect(plain, nullptr)) << "unchanged: not invalidated";
    // Invalidation keeps to the client area: a site scrolled partly out of
    // it leaves only its visible part to redraw.
    PlatRect client{};
    PlatGetClientRect(hwnd_, &client);
    vacated = PlatRect{std::max(vacated.left, client.left), std::max(vacated.top, client.top),
                       std::min(vacated.right, client.right), std::min(vacated.bottom, client.bottom)};
    PlatRect box{};
    EXPECT_TRUE(PlatGetUpdateRect(hwnd_, &box));
    EXPECT_TRUE(SameRect(box, vacated)) << "the old places in the parent";
  }
  PlatDestroyWindow(plain);
  WSetEmbeddedScroll(oldHook);
}

// Closing moves the object of every site to the root window, each child
// asked once; with every adoption failing, each child is still tried once
// and the loop ends with the objects where they were.
TEST_F(EmbWindows, ClosingMovesEveryObjectToTheRootAndAFailedAdoptionEndsTheLoop) {
  EmbContainerProcs t = embtest::Table();
  gRealAdopt = reinterpret_cast<QxcAdoptProc>(t.slots[kEmbSlotAdopt]);
  ASSERT_NE(gRealAdopt, nullptr);
  t.slots[kEmbSlotAdopt] = reinterpret_cast<void*>(&CountingAdopt);
  EmbSetContainerProcs(t);
  const struct {
    const char* name;
    int32_t fail;
    bool moved;
  } rows[] = {{"every adoption fails", 1, false}, {"adoptions succeed", 0, true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    gAdoptions = 0;
    QxEmbedFailAdoptions(row.fail);
    EmbWindowClosing(hwnd_);
    EXPECT_EQ(gAdoptions, 3) << "each child once";
    for (int i = 0; i < 3; ++i) {
      QxEmbedInfo info;
      ASSERT_TRUE(QxEmbedQuery(R(recs_[i])->token, &info));
      EXPECT_EQ(info.window, row.moved ? 0 : hwnd_) << i;
      EXPECT_EQ(info.site == 0, row.moved) << i;
      EXPECT_EQ(R(recs_[i])->window, row.moved ? 0 : window_) << i;
    }
    EXPECT_EQ(PlatGetChildWindows(hwnd_, nullptr, 0), row.moved ? 0 : 3);
  }
}

}  // namespace
