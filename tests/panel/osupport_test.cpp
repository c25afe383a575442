// Parts found by role and shown, control labels, ring items, the tracked
// Boolean read from other threads, the busy cursor and built-in pictures.
#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <cstring>
#include <tuple>
#include <string>
#include <thread>
#include <vector>

#include "engine/vi/panelroutines.h"
#include "mgsource/counted_strings.h"
#include "mgsource/objlist.h"
#include "panel/fpinit.h"
#include "panel/osupport.h"
#include "panel/textparts.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/window/textedit.h"
#include "panel_test_support.h"
#include "draw_start.h"
#include "golden_image.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wport.h"
#include "mgsource/window/wsysinfo.h"
#include "platform/qx_activate.h"
#include "platform/qx_input.h"
#include "platform/qx_font_internal.h"
#include "platform/qx_paint.h"
#include "mgsource/datetime.h"
#include "platform/qx_time.h"

namespace {

class ObjSupport : public ptest::PanelTest {
 protected:
  int32 Part(int32 owner, int16 id, int16 order, uInt16 key = 0) {
    const int32 p = vib::NewObject(panel_, kClsLabel, 48, owner, id, order);
    PutNative16(*panel_ + p + kObjPartKey, key);
    return p;
  }
  // A ring with a text list of the texts and an item table of as many
  // records; its frame (part 28) centred on (50, 50).
  int32 Ring(const std::vector<std::string>& texts) {
    const int32 ring = Obj(kClsRing);
    const int32 n = int32(texts.size());
    const int32 table = vib::NewObject(panel_, 9, kRingItemsAt + kRingItemSize * n, ring, kRingTablePart, 0);
    const int32 text = vib::NewObject(panel_, 10, 48, ring, kRingTextPart, 0);
    const int32 frame = vib::NewObject(panel_, 9, 28, ring, kGroupFramePart, 0);
    const Rect f{40, 40, 60, 60};
    std::memcpy(*panel_ + frame + kPartBoundsAt, &f, sizeof f);
    PutNative16(*panel_ + table + kRingItemCountAt, uInt16(n));
    CPStrHandle h = reinterpret_cast<CPStrHandle>(Keep(DSNewHClr(4)));
    for (int32 i = 0; i < n; ++i) {
      uChar s[256] = {uChar(texts[size_t(i)].size())};
      std::memcpy(s + 1, texts[size_t(i)].data(), texts[size_t(i)].size());
      EXPECT_EQ(CPStrInsert(h, s, i), kNoErr);
      PutNative16(*panel_ + table + kRingItemsAt + kRingItemSize * i, uInt16(100 + i));
    }
    OHSetWord(panel_, uInt32(text + kRingTextWord), uInt32(uintptr_t(h)));
    return ring;
  }
  std::string Texts(int32 ring) {
    const int32 text = FindPart(panel_, ring, kRingTextPart, 0);
    auto h = reinterpret_cast<CPStrHandle>(uintptr_t(OHWord(panel_, uInt32(text + kRingTextWord))));
    std::string s;
    for (int32 i = 0; i < int32(GetNative32(reinterpret_cast<UPtr>(*h))); ++i) {
      PStr p = CPStrIndex(h, i);
      s += std::string(reinterpret_cast<const char*>(p + 1), p[0]) + ",";
    }
    return s;
  }
  // A label of a numeric with the text, its record's selection all of it.
  int32 Label(const char* text, int32 root = 0) {
    const int32 label = Part(Obj(kClsNumeric, root), 16, 0);
    SetPartText(panel_, label, reinterpret_cast<const uChar*>(text), int32(std::strlen(text)), 0, 0);
    return label;
  }
  std::string Text(TRecord t) {
    UHandle h = TGetText(t);
    return std::string(reinterpret_cast<const char*>(*h + 4), GetNative32(*h));
  }
  uInt32& Ext(int32 at) { return *reinterpret_cast<uInt32*>(*panel_ + OHWord(panel_, kOHExtension) + at); }
  int32 Current(int32 ring) { return ObjInt16(panel_, FindPart(panel_, ring, kRingTablePart, 0), kRingCurrentAt); }
  int32 Records(int32 ring) { return ObjInt16(panel_, FindPart(panel_, ring, kRingTablePart, 0), kRingItemCountAt); }
};

TEST_F(ObjSupport, PartsAreFoundByOrderAndRoleAndShownOnlyWhenTheyChange) {
  const int32 obj = Obj(kClsNumeric);
  const int32 a = Part(obj, 23, 0), b = Part(obj, 23, 2), c = Part(obj, 23, 2);
  const int32 plain = Part(obj, 10, 0);
  Part(obj, 66, 0);
  Part(obj, 11, 0, 5);
  EXPECT_EQ(FindPart(panel_, obj, 23, kPartOrderHighest), b) << "first of the highest order";
  EXPECT_EQ(FindPart(panel_, obj, 23, 0), a);
  EXPECT_EQ(FindPart(panel_, obj, 0, 0), plain) << "id 0 skips id 66 and keyed parts from the end";
  EXPECT_EQ(ObjHasPartKey(panel_, obj, 5), 1);
  EXPECT_EQ(ObjHasPartKey(panel_, obj, 0), 0);
  // Parts are redrawn while shown: before hiding, after showing.
  ShowInWindow();
  int16 top = 0;
  for (int32 p : {a, b, c}) SetBounds(p, Rect{top, 0, int16(top + 5), 5}), top += 10;
  struct Step {
    Bool32 show;
    int32 changed, hidden;
    int16 invalBottom;
  } steps[] = {{1, 0, 0, 0}, {0, 1, 1, 25}, {0, 0, 1, 0}, {1, 1, 0, 25}};
  for (const Step& s : steps) {
    EXPECT_EQ(SetPartIdVisible(panel_, obj, 23, s.show), s.changed);
    EXPECT_EQ(PartIdAllHidden(panel_, obj, 23), s.hidden);
    EXPECT_EQ(TakeInvalid().bottom, s.invalBottom);
  }
}

TEST_F(ObjSupport, LabelsAreTrimmedAndReadThroughTheirController) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {{" \t\r\nab c\b\f ", "ab c"}, {" \n\t", ""}, {"x", "x"}, {"", ""}};
  for (const Case& c : cases) {
    uChar s[256] = {uChar(std::strlen(c.in))};
    std::memcpy(s + 1, c.in, s[0]);
    PStrTrimLeading(s);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s + 1), s[0]), c.out) << '"' << c.in << '"';
  }
  const int32 display = Obj(kClsNumeric);
  const int32 dco = Obj(kClsFPDataController);
  SetW(dco, kPWDCODisplay, display);
  const int32 label = Part(display, 16, 0);
  SetPartText(panel_, label, reinterpret_cast<const uChar*>(" Volts "), 7, 0, 0);
  PStr got = GetCtrlLabel(panel_, dco);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(got + 1), got[0]), "Volts");
  ClearReports();
  EXPECT_EQ(GetCtrlLabel(panel_, Obj(kClsLabel))[0], 0);
  EXPECT_EQ(Asserts(), 1) << "not a data display object";
  TDispose(PartTextRecord(panel_, label));
  ObjSetWord(panel_, label, kPWLabelText, 0);
}

TEST_F(ObjSupport, RingItemsInsertPinnedAndRemovingTheLastMakesThePreviousCurrent) {
  const int32 ring = Ring({"a", "b"});
  const uChar z[] = "\001z";
  EXPECT_EQ(RingInsertItem(panel_, ring, z, nullptr, -3, 0), kNoErr);
  EXPECT_EQ(Texts(ring), "z,a,b,");
  EXPECT_EQ(Records(ring), 3);
  EXPECT_EQ(ObjInt16(panel_, FindPart(panel_, ring, kRingTablePart, 0), kRingItemsAt + kRingItemSize), 50)
      << "a record without picture is a point at the frame's centre";
  EXPECT_EQ(RingInsertItem(panel_, ring, nullptr, nullptr, 99, 0), kNoErr);
  EXPECT_EQ(Texts(ring), "z,a,b,,");
  EXPECT_EQ(Current(ring), 3);
  EXPECT_EQ(RingRemoveItem(panel_, ring, 99), kNoErr);
  EXPECT_EQ(Texts(ring), "z,a,b,");
  EXPECT_EQ(Current(ring), 2) << "the previous item";
  EXPECT_EQ(RingRemoveItem(panel_, ring, 0), kNoErr);
  EXPECT_EQ(Current(ring), 1) << "the same item after the removed one";
  // Copies, then all removed.
  const int32 copy = Ring({"q"});
  EXPECT_EQ(RingSetItems(panel_, ring, panel_, copy), kNoErr);
  EXPECT_EQ(Texts(copy), "a,b,");
  EXPECT_EQ(Records(copy), 2);
  EXPECT_EQ(RingSetItemText(panel_, copy), kNoErr);
  EXPECT_EQ(Texts(copy), "");
  EXPECT_EQ(Records(copy), 0);
  EXPECT_EQ(RingRemoveItem(panel_, copy, 0), kArgErr);
  // A stored count past the texts' handle: reported, no items.
  const int32 bad = Ring({"a"});
  auto h = reinterpret_cast<CPStrHandle>(uintptr_t(
      OHWord(panel_, uInt32(FindPart(panel_, bad, kRingTextPart, 0) + kRingTextWord))));
  PutNative32(reinterpret_cast<UPtr>(*h), 40);
  PutNative16(*panel_ + FindPart(panel_, bad, kRingTablePart, 0) + kRingItemCountAt, 30000);
  ClearReports();
  EXPECT_EQ(RingItemCountChecked(panel_, bad), 0);
  EXPECT_EQ(RingInsertItem(panel_, bad, z, nullptr, 0, 0), kArgErr);
  EXPECT_GE(Asserts(), 2);
  PutNative32(reinterpret_cast<UPtr>(*h), 1);
}

// The pop-up's script: whether a window other than the panel's lies below
// and above the ring once the menu is open, then keys.
Rect gRingGlobal{};
WindowRef gPanelWindow = 0;
bool gBelow = false, gAbove = false;
std::vector<uInt32> gKeys;
int32 ProbeMenu(Bool32) {
  const auto menuAt = [](int32 v) {
    Point p{int16(v), int16(gRingGlobal.left + 20)};
    const WindowRef w = WFindWindowAt(kWNoWindow, &p);
    return w != kWNoWindow && w != gPanelWindow;
  };
  if (gKeys.empty()) return 0;
  gBelow = menuAt(gRingGlobal.bottom + 2), gAbove = menuAt(gRingGlobal.top - 3);
  PlatInjectMouseMove(0, 0, PlatTickMs());
  for (uInt32 vk : gKeys) PlatInjectKey(vk, true, PlatTickMs()), PlatInjectKey(vk, false, PlatTickMs());
  gKeys.clear();
  return 0;
}

TEST_F(ObjSupport, RingPopUpOpensBelowUnlessNeitherItsItemsNorFiveLinesFit) {
  WPortState saved{};
  Rect screen{};
  WGetScreenRect(Point{0, 0}, &screen);
  const PlatRect work = PlatGetWorkArea();
  PlatSetWorkArea(PlatRect{screen.left, screen.top, screen.right, screen.bottom});
  gPanelWindow = StartMenuWindow(Rect{int16(screen.bottom - 400), 40, screen.bottom, 400}, &saved, &ProbeMenu);
  PutNative32(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtWindow, uInt32(gPanelWindow));
  const int32 three = Ring({"a_b", "c", "d"}), ten = Ring({"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"});
  MenuHandle m = RingBuildPopupMenu(panel_, three, 0, 90);
  uChar shown[256];
  MGetItemText(m, 1, shown);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(shown + 1), shown[0]), "a_b") << "no mnemonic taken";
  const int32 row = (*m)->lineHeight + gMenuMetrics.rowSpacing;
  MDisposeMenu(m);
  // A long stored list is built in one walk of it, every text in its place.
  std::vector<std::string> many;
  for (int32 i = 0; i < 2000; ++i) many.push_back("item " + std::to_string(i));
  MenuHandle big = RingBuildPopupMenu(panel_, Ring(many), 1999, 90);
  ASSERT_EQ(MCountItems(big), 2000);
  for (int32 i : {1, 1000, 2000}) {
    MGetItemText(big, i, shown);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(shown + 1), shown[0]), many[size_t(i - 1)]);
  }
  MDisposeMenu(big);
  struct Case {
    int32 ring, room;
    bool above;
  } cases[] = {{three, 3 * row + 5, false}, {three, 3 * row + 4, true}, {ten, 5 * row + 5, false},
               {ten, 5 * row + 4, true}};
  Point origin{0, 0};
  WLocalToGlobal(gPanelWindow, &origin);
  for (const Case& c : cases) {
    const int32 display = Part(c.ring, 81, 0);
    const int16 bottom = int16(screen.bottom - c.room - origin.v);
    const Rect local{int16(bottom - 20), 10, bottom, 100};
    std::memcpy(*panel_ + display + kObjBounds, &local, sizeof local);
    gRingGlobal = Rect{int16(local.top + origin.v), int16(local.left + origin.h), int16(bottom + origin.v), 0};
    gKeys = {kPlatVkEscape};
    EXPECT_EQ(RingPopupMenu(panel_, c.ring, 0, 0, 1), 0);
    EXPECT_EQ(std::make_pair(gAbove, gBelow), std::make_pair(c.above, !c.above)) << c.room;
    PutNative16(*panel_ + display + kObjPartId, 0x7F00);  // the next case's part 81 is found
  }
  gKeys = {kPlatVkDown, kPlatVkDown, kPlatVkReturn};
  EXPECT_EQ(RingPopupMenu(panel_, three, 0, 0, 0), 2) << "the chosen item";
  WResetMainLoopHooks();
  PlatSetWorkArea(work);
  StopDrawingWindow(&saved);
}

TEST_F(ObjSupport, TrackedBooleanIsReadWholeFromOtherThreads) {
  ASSERT_EQ(BoolTrackMutexInit(1, 1), kNoErr);
  const int32 flag = Obj(kClsBoolean), other = Obj(kClsNumeric);
  std::atomic<bool> stop{false};
  std::atomic<int32> wrong{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t)
    readers.emplace_back([&] {
      while (!stop.load()) {
        const int32 a = IsBoolTracking(panel_, flag);
        if (a != 0 && a != 1) wrong.fetch_add(1);
        if (IsBoolTracking(panel_, other)) wrong.fetch_add(1);
      }
    });
  const int rounds = qxtest::Scaled(100000);
  ObjHeap ph = nullptr;
  int32 po = 0;
  for (int i = 0; i < rounds; ++i) {
    SetTrackObject(panel_, flag, &ph, &po, 1);
    SetTrackObject(panel_, other, &ph, &po, 1);  // not a Boolean: the tracked one stays
    if (po != flag) wrong.fetch_add(1);
    SetTrackObject(nullptr, 0, &ph, &po, 1);
  }
  stop = true;
  for (auto& t : readers) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(IsBoolTracking(panel_, flag), 0) << "cleared with the tracked object";
  BoolTrackMutexInit(0, 0);
}

TEST_F(ObjSupport, BusyCursorStepsWithTheClockAndPicturesMapTheirIndexes) {
  int32 cursor = -1;
  BusyCursorState(0, nullptr);
  // The clock runs on: the early calls are judged only when they came
  // within the delay.
  uInt32 from = MilliSecs();
  EXPECT_EQ(BusyCursorState(1, &cursor), 0);
  EXPECT_EQ(BusyCursorState(1, &cursor), 1);
  if (MilliSecs() - from < 100) {
    EXPECT_EQ(cursor, -1) << "not before 100 ms";
  }
  PlatTickShift(101);
  EXPECT_EQ(BusyCursorState(1, &cursor), 1);
  EXPECT_EQ(cursor, kBusyCursorNumber);
  EXPECT_EQ(BusyCursorState(0, nullptr), 1);
  EXPECT_EQ(BusyCursorState(0, nullptr), 0);
  from = MilliSecs();
  const int32 early = IntervalElapsed(from, 50);
  if (MilliSecs() - from < 50) {
    EXPECT_EQ(early, 0);
  }
  PlatTickShift(51);
  from = MilliSecs();
  EXPECT_EQ(IntervalElapsed(0, 50), 1);
  const int32 again = IntervalElapsed(0, 50);
  if (MilliSecs() - from < 50) {
    EXPECT_EQ(again, 0) << "restarted";
  }
  ASSERT_EQ(SetBuiltInPict(2004, 0), kNoErr);
  struct Case {
    int32 index, looked;
    int asserts;
  } cases[] = {{5, 2004, 0}, {1500, 8500, 1}, {9, 9, 0}, {7028, 7028, 0},
               {400, 400, 1}, {2094, 2094, 1}};
  for (const Case& c : cases) {
    ClearReports();
    const int32 r = GetPictIndex(c.index);
    EXPECT_EQ(int16(uInt32(r) >> 16), int16(-c.looked)) << c.index;
    EXPECT_EQ(Asserts(), c.asserts) << c.index;
  }
  EXPECT_EQ(GetPictIndex(0), 0);
  EXPECT_EQ(SetBuiltInPict(384, 1), kArgErr);
  // A template's built-in picture: the reference names the index (its
  // image, none registered here, low); a number no table holds is refused
  // without a report.
  for (const auto& [number, err, ref] : {std::tuple{300, kNoErr, int32(uInt32(-300) << 16)},
                                         std::tuple{1500, kArgErr, 0}, std::tuple{400, kArgErr, 0}}) {
    ClearReports();
    int32 got = 0;
    EXPECT_EQ(FPMakeObjImage(0, number, &got, nullptr), err) << number;
    EXPECT_EQ(got, ref) << number;
    EXPECT_EQ(Asserts(), 0) << number;
  }
}

int32 gBadObject = 0;
int32 NoteBad(ObjHeap, int32 object) { return gBadObject = object, 0; }
int32 NoteDoit(ObjHeap, int32 object, void*, int32, void*) { return gBadObject = object, 0; }

// A ring's display part drawn in a window: its text in the menu colours.
TEST_F(ObjSupport, RingDisplayDrawsItsTextInTheMenuColours) {
  const auto goldens = std::filesystem::path(QX_SOURCE_DIR) / "tests";
  std::stringstream versions;
  versions << std::ifstream(goldens / "mgsource/goldens/textdraw.versions").rdbuf();
  if (versions.str() != "freetype " + qxfont::FreeTypeVersion() + "\ndejavu " + qxfont::FaceVersion(0) + "\n")
    GTEST_SKIP() << "the text goldens are another rasteriser's";
  WPortState saved{};
  const WindowRef w = StartDrawingWindow(Rect{40, 40, 80, 160}, &saved);
  ASSERT_NE(w, kWNoWindow);
  MLoadMenuColors();
  gMenuColours.background = 0xC0C0C0;
  PlatSurface* surface = PlatWindowSurface(WHostWindow(w));
  PlatSurfaceClear(surface, 0xFFFFFF);
  const int32 ring = Obj(kClsRing);
  const int32 display = Part(ring, 81, 0);
  const Rect at{8, 10, 28, 100};
  std::memcpy(*panel_ + display + kObjBounds, &at, sizeof at);
  SetPartText(panel_, display, reinterpret_cast<const uChar*>("Item 2"), 6, 0, 0);
  int32 part = -1;
  EXPECT_EQ(RingDrawDisplay(panel_, ring, &part) + part, display);
  qxtest::ExpectMatchesGolden(surface, goldens / "panel/goldens/ring_display.png",
                              "QX_UPDATE_GOLDENS=1 test_panel --gtest_filter=*RingDisplay*");
  TDispose(PartTextRecord(panel_, display));
  StopDrawingWindow(&saved);
}

TEST_F(ObjSupport, TypingCosmeticsArePlacedWithAPathToThemAndOthersAreOnlySized) {
  const int32 root = MakeRoot();
  SetBadClassHook(&NoteBad);  // sizing has no method of its own yet
  const int32 plain = Obj(kClsLabel, root), typing = Obj(kClsLabel, root);
  SetW(typing, 0, int32(kObjFlagTextFocus));
  struct Case {
    int32 owner, object, answer, asserts;
  } cases[] = {{root, typing, 129, 0}, {root, plain, 0, 0}, {root, Obj(kClsNumeric, root), 0, 0},
               {Obj(kClsNumeric), plain, 0, 1}};
  for (const Case& c : cases) {
    TransactionFrame path[3] = {{root, kCatFPSC, 2, 0}, {7, 7, 7, 7}, {7, 7, 7, 7}};
    ActionParams creation{};
    ClearReports();
    EXPECT_EQ(PlaceNewObject(panel_, c.owner, c.object, path, &creation), c.answer);
    EXPECT_EQ(Asserts(), c.asserts);
    if (c.answer != 129) continue;
    const TransactionFrame want[3] = {{root, kCatFPSC, 1, 1}, {typing, kCatCOSM, 2, 0}, {}};
    EXPECT_EQ(std::memcmp(path, want, sizeof want), 0) << "the path runs on to the new object";
    EXPECT_TRUE(creation.eventCode == 1 && creation.selStart == 0 && creation.selEnd == 0x7FFFFFFF);
  }
  ClearBadClassHook();
  const int32 numeric = Obj(kClsNumeric);
  Part(numeric, 8009, 0);
  ClearReports();
  EXPECT_EQ(ObjApplyUnitLabel(panel_, numeric) + Asserts(), 1) << "a unit-label record naming no object";
}

TEST_F(ObjSupport, TextPartKeysMarkCommitCutPasteAndRevertThroughTheTextRecord) {
  const int32 label = Label("abc");
  TRecord text = PartTextRecord(panel_, label);
  ASSERT_NE(text, nullptr);
  ActionParams p{};
  p.eventCode = 1;
  p.selEnd = 3;
  EXPECT_EQ(TextPartDoit(panel_, label, &p, 0) & 1, 1);
  EXPECT_EQ(int32(Ext(kHeapExtKeyFocus)), label);
  EXPECT_EQ(p.text, text);
  struct Step {
    int32 key, character, selStart, selEnd;
    const char* after;
    const char* clipboard;
    bool marked;
  } steps[] = {
      {kTKeyChar, 'x', 0, 3, "x", "", true},   // typing replaces the selection and marks
      {kTKeyLeft, 0, 1, 1, "x", "", false},    // arrows move without marking
      {30, 0, 0, 1, "", "x", true},            // cut
      {32, 0, 0, 0, "x", "x", true},           // paste
      {32, 0, 1, 1, "xx", "x", true},          // the clipboard stays
      {31, 0, 0, 2, "xx", "xx", false},        // copy
  };
  for (const Step& s : steps) {
    SetW(label, 0, 0);
    TSelectText(text, s.selStart, s.selEnd);
    p = ActionParams{};
    p.eventCode = 6;
    p.keyCode = s.key;
    p.character = s.character;
    TextPartDoit(panel_, label, &p, 0);
    EXPECT_EQ(Text(text), s.after) << s.key;
    EXPECT_EQ(Text(PanelTextClipboard()), s.clipboard) << s.key;
    EXPECT_EQ((uInt32(W(label, 0)) & kObjFlagTextModified) != 0, s.marked) << s.key;
  }
  // Enter commits a marked label: changed, focus let go in a panel, the
  // label's modification reported.
  p.keyCode = 2;
  SetW(label, 0, int32(kObjFlagTextModified));
  ClearReports();
  const int32 r = TextPartDoit(panel_, label, &p, 0);
  EXPECT_EQ(r & 0x41, 0x40);
  EXPECT_EQ(W(label, 0) & int32(kObjFlagTextModified), 0);
  EXPECT_EQ(Reports("modMask 80000004"), 1);
  // Revert puts back the stashed record and clears the stash.
  const Rect none{0, 0, 0, 0};
  TRecord saved = TNew(&none, 0, reinterpret_cast<const uChar*>("old"), 3, kAppFont, 0, kTransparentColor);
  Ext(kHeapExtStashedText) = uInt32(uintptr_t(saved));
  Ext(kHeapExtFocusText) = uInt32(uintptr_t(text));
  p.keyCode = 33;
  TextPartDoit(panel_, label, &p, 0);
  EXPECT_EQ(PartTextRecord(panel_, label), saved);
  EXPECT_EQ(p.text, saved);
  EXPECT_EQ(Ext(kHeapExtFocusText), uInt32(uintptr_t(saved)));
  EXPECT_EQ(Ext(kHeapExtStashedText), 0u);
  TDispose(saved);
  SetW(label, kPWLabelText, 0);
  PanelDisposeTextClipboard();
}

TEST_F(ObjSupport, StashedTextsAreSentDownTheSavedPathAndALeftoverIsReported) {
  const int32 root = MakeRoot();
  // An object whose do-it notes the object the key reaches.
  ptest::SlotPatch noting(kClsGraphChart, kMsgODoit, &NoteDoit);
  const int32 label = Obj(kClsGraphChart, root);
  const Rect none{0, 0, 0, 0};
  TRecord stash = TNew(&none, 0, nullptr, 0, kAppFont, 0, kTransparentColor);
  UHandle frames = Keep(AZNewHClr(3 * 16));
  const TransactionFrame path[] = {{root, kCatFPSC, 2, 0}, {label, kCatDDO, 2, 0}, {}};
  std::memcpy(*frames, path, sizeof path);
  Ext(kHeapExtSavedFrames) = uInt32(uintptr_t(frames));
  Ext(kHeapExtKeyFocus) = uInt32(label);
  SetBadClassHook(&NoteBad);
  struct Case {
    int32 object, reached;
  } cases[] = {{label, label}, {root, -1}, {Obj(kClsGraphChart), label}, {0, -1}};  // the root takes it itself
  for (const Case& c : cases) {
    Ext(kHeapExtStashedText) = uInt32(uintptr_t(stash));
    gBadObject = -1;
    ClearReports();
    EXPECT_EQ(HeapStashText(panel_, c.object), kNoErr);
    EXPECT_EQ(gBadObject, c.reached) << c.object;
    EXPECT_EQ(Reports("Heap Stash Text isn't null"), 1);
    EXPECT_EQ(Ext(kHeapExtStashedText), 0u);
  }
  // Keys fed to an object: its flag bit 20 is put back as it was.
  for (uInt32 before : {0u, uInt32(kObjFlagTextFocus)}) {
    SetW(label, 0, int32(before));
    gBadObject = -1;
    FPSendKeyToObj(panel_, label, 0, 1);
    EXPECT_EQ(gBadObject, label);
    EXPECT_EQ(uInt32(W(label, 0)), before);
  }
  ClearBadClassHook();
  TDispose(stash);
}

}  // namespace
