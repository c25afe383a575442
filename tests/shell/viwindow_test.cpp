// The VI window's frame around its content, its tool-bar and menu-bar
// rectangles, the region cache, and the retrieval field and mark display
// that retrieval mode and the datalog functions reach through their hooks.
#include "shell/viwindow_fixture.h"

#include <algorithm>
#include <thread>

namespace {

TEST_F(VIWindowBoundary, TheFrameHoldsTheParts) {
  const Rect c{100, 50, 400, 450};
  struct Case {
    int32 parts;
    const char* window;
    const char* toolBar;  // "" for none
    const char* menuBar;
  };
  const Case cases[] = {
      {0, "100,50,400,450", "", ""},
      {kVIWindToolBar, "78,50,400,450", "78,50,100,450", ""},
      {kVIWindMenuBar, "80,50,400,450", "", "80,50,100,450"},
      {kVIWindToolBar | kVIWindMenuBar, "58,50,400,450", "78,50,100,450", "58,50,78,450"},
      {kVIWindToolBar | kVIWindIconPane, "65,50,400,450", "65,50,100,415", ""},
      {kVIWindHScroll | kVIWindVScroll, "100,50,415,465", "", ""},
      {31, "58,50,415,465", "78,50,100,430", "58,50,78,430"},
  };
  for (const Case& k : cases) {
    Rect w, back, bar;
    VIWindContentToWindow(k.parts, &c, &w);
    EXPECT_EQ(R(w), k.window) << k.parts;
    VIWindWindowToContent(0, k.parts, &w, &back);
    EXPECT_EQ(R(back), R(c)) << k.parts << ": the exact inverse";
    SetParts(uInt16(k.parts), c);
    EXPECT_EQ(VIWindStatePanelRect(panel_, &bar), k.toolBar[0] != 0) << k.parts;
    EXPECT_EQ(bar.right > bar.left ? R(bar) : "", k.toolBar) << k.parts;
    EXPECT_EQ(VIWindMenuBarRect(panel_, &bar), k.menuBar[0] != 0) << k.parts;
    EXPECT_EQ(bar.right > bar.left ? R(bar) : "", k.menuBar) << k.parts;
  }
  // Every combination of parts comes back.
  for (int32 parts = 0; parts < 32; ++parts) {
    Rect w, back;
    VIWindContentToWindow(parts, &c, &w);
    VIWindWindowToContent(0, parts, &w, &back);
    EXPECT_EQ(R(back), R(c)) << parts;
  }
}

// A slot redraw draws at once: a pressed button's frame, grey at its inner
// left and white at its inner right, around the cell copied from the strip.
TEST_F(VIWindowBoundary, ASlotRedrawDrawsTheImageInItsSlot) {
  const WindowRef w = Shown(kVIWindToolBar, Rect{100, 50, 400, 450});
  WValidate(w);
  UpdateToolbarButton(vi_, 0, 1);  // Run, pressed
  Rect u, port;
  EXPECT_FALSE(WGetUpdateRect(w, &u)) << "nothing waits for an update " << R(u);
  WGetRect(w, &port);
  Rect bar;
  ASSERT_TRUE(VIWindStatePanelRect(panel_, &bar));
  const Rect slot = StatePnlSlotRect(1);
  auto at = [&](int32 h, int32 v) {
    return PlatSurfaceGetPixel(PlatWindowSurface(WHostWindow(w)), bar.left + h - port.left, bar.top + v - port.top) &
           0xFFFFFF;
  };
  EXPECT_EQ(at(slot.left + 1, slot.top + 5), kButtonShadow);
  EXPECT_EQ(at(slot.right - 2, slot.top + 5), uInt32(kWhiteColor));
  EXPECT_EQ(at(slot.left + 5, slot.top + 5), uInt32(kWhiteColor)) << "the Run arrow's inside, from the strip";
}

TEST_F(VIWindowBoundary, TheRegionCacheOfAFrontPanelIsDisposed) {
  const int32 root = viinst::PanelRoot(panel_);
  ASSERT_GT(root, 0);
  uChar* word = *panel_ + root + 4 * kRootRegionWord;
  const Rect r{0, 0, 5, 5};
  const DRgn region = DRectRgn(&r);
  PutNative32(word, region);
  const uInt32 kind = OHWord(panel_, kOHKind);
  OHSetWord(panel_, kOHKind, FourCC("XXXX"));
  VIWindDisposeRgnCache(panel_);
  EXPECT_EQ(GetNative32(*panel_ + root + 4 * kRootRegionWord), region) << "another heap kind";
  OHSetWord(panel_, kOHKind, kind);
  PlacePanelWindow(panel_);  // placement disposes it last
  EXPECT_EQ(GetNative32(*panel_ + root + 4 * kRootRegionWord), 0u);
  EXPECT_EQ(PlatObjectKind(region), kPlatObjNone);
  VIWindDisposeRgnCache(panel_);  // nothing cached: nothing done
  VIWindDisposeRgnCache(nullptr);
}

TEST_F(VIWindowBoundary, TheDefaultLogNameFollowsTheVIsName) {
  struct Case {
    const char* name;
    const char* log;
  };
  const Case cases[] = {{"Pump.vi", "Pump.log"}, {"Pump", "Pump.log"}, {"a.b.vi", "a.b.log"}, {"", ".log"}};
  for (const Case& c : cases) {
    const PS n(c.name);
    std::memcpy(VIRec(vi_)->name, n.s, size_t(n.s[0]) + 1);
    Str255 log;
    ASSERT_NE(DatalogUI().defaultLogName, nullptr);
    DatalogUI().defaultLogName(vi_, log);
    EXPECT_EQ(T(log), c.log) << c.name;
  }
}

TEST_F(VIWindowBoundary, RetrievalModeShowsItsFieldAndMarkInTheToolBar) {
  RetrieveLogHooks log{};
  log.openLog = [](UHandle) -> MgErr { return kNoErr; };
  log.recordCount = [](UHandle) -> int32 { return 10; };
  log.showRecord = [](UHandle vi) -> MgErr {
    int32 n = 0;
    Str255 t;
    DatalogUI().retrieveFieldText(vi, t);
    for (int32 i = 1; i <= t[0]; ++i) n = n * 10 + (t[i] - '0');
    DatalogUI().showMark(vi, n == 9 ? 1 : 0);
    return kNoErr;
  };
  SetRetrieveLogHooks(&log);
  EnterRetrieveMode(vi_);
  RecordField f{};
  ASSERT_TRUE(VIRecordField(vi_, &f));
  EXPECT_EQ(R(f.bounds), "4,96,19,128");
  EXPECT_EQ(f.text, "0");
  EXPECT_TRUE(f.allSelected && f.active);
  Rect bar;
  ASSERT_TRUE(VIWindStatePanelRect(panel_, &bar)) << "retrieval mode has a tool bar";
  ShowLogRecord(vi_, 99);
  ASSERT_TRUE(VIRecordField(vi_, &f));
  EXPECT_EQ(f.text, "9");
  EXPECT_EQ(f.mark, 1);
  // The datalog functions write the field too.
  DatalogUI().setRetrieveFieldText(vi_, PS("4"));
  Str255 t;
  DatalogUI().retrieveFieldText(vi_, t);
  EXPECT_EQ(T(t), "4");
  ExitRetrieveMode(vi_);
  EXPECT_FALSE(VIRecordField(vi_, nullptr));
  EXPECT_EQ(VIRecordFieldCount(), 0);
  DatalogUI().retrieveFieldText(vi_, t);
  EXPECT_EQ(T(t), "") << "no field: blank";
}


// The parts beside the content: the icon pane's two edge cases (with and
// without the own menu bar), the scroll bars over the content's edge, the
// size box by option or scroll bar, and an empty content's pane.
TEST_F(VIWindowBoundary, ThePartsBesideTheContent) {
  struct Case {
    int32 parts, style;
    Rect c;
    const char *toolBar, *pane, *icon, *h, *v, *box;
  };
  const Rect c{100, 50, 400, 450}, none{0, 0, 0, 0};
  const Case cases[] = {
      {12, 0, c, "65,50,100,415", "65,415,100,450", "66,417,98,449", "", "", ""},
      {28, 0, c, "78,50,100,415", "58,415,100,450", "62,417,94,449", "", "", ""},
      {3, 0, c, "", "", "", "400,50,415,451", "100,450,401,465", "400,450,416,466"},
      {0, kVIWindSizeBoxOption, c, "", "", "", "", "", "400,450,416,466"},
      {4, 0, none, "", "-35,-35,1,0", "-34,-33,-2,-1", "", "", ""},
  };
  for (const Case& k : cases) {
    SetParts(uInt16(k.parts), k.c);
    viinst::SetExtHalf(panel_, kHeapExtWindowStyle, uInt16(k.style));
    Rect r, icon;
    auto S = [](int32 has, const Rect& x) { return has ? R(x) : std::string(); };
    EXPECT_EQ(S(VIWindStatePanelRect(panel_, &r), r), k.toolBar) << k.parts;
    const int32 pane = VIWindIconPaneRect(panel_, &r, &icon);
    EXPECT_EQ(S(pane, r), k.pane) << k.parts;
    EXPECT_EQ(S(pane, icon), k.icon) << k.parts;
    EXPECT_EQ(S(VIWindHScrollRect(panel_, &r), r), k.h) << k.parts;
    EXPECT_EQ(S(VIWindVScrollRect(panel_, &r), r), k.v) << k.parts;
    EXPECT_EQ(S(VIWindGrowBoxRect(panel_, &r), r), k.box) << k.parts;
  }
}

std::string gLog;
void Note(const std::string& s) { gLog += s + ";"; }

class VIWindowEvents : public VIWindowBoundary {
 protected:
  void SetUp() override {
    VIWindowBoundary::SetUp();
    gLog.clear();
    VIWindHooks h{};
    h.panelEvent = [](WEventRecord* e, ObjHeap) -> int32 { return Note("panel " + std::to_string(e->code)), 0; };
    h.statePnlClick = [](const Rect*, WEventRecord*, ObjHeap) -> int32 { return Note("toolbar"), 1; };
    h.objectRect = [](ObjHeap, int32, Rect* r, int32) -> int32 { return *r = gObjects, 0; };
    h.handleKey = [](WEventRecord* e, ObjHeap) -> int32 {
      Note("key " + std::to_string(e->keyCode) + "/" + std::to_string(e->character));
      return 1;
    };
    former_ = VIWindSetHooks(h);
    beep_ = PlatSetBeepProc([] { Note("beep"); });
    SetParts(kVIWindToolBar | kVIWindIconPane | kVIWindHScroll | kVIWindVScroll, Rect{100, 50, 400, 450});
    window_ = viinst::PanelWindow(panel_);
  }
  void TearDown() override {
    VIWindSetHooks(former_);
    PlatSetBeepProc(beep_);
    SetKeyboardHandlerProc(0, nullptr, 0, 0);
    VIWindowBoundary::TearDown();
  }
  int32 Send(int32 code, int16 v = 0, int16 h = 0, int32 keyCode = 0, int32 character = 0, int32 modifiers = 0) {
    WEventRecord e{};
    e.code = code;
    e.window = window_;
    e.where = int32(uInt16(v)) | int32(uInt32(uInt16(h)) << 16);
    e.keyCode = keyCode;
    e.character = character;
    e.modifiers = modifiers;
    return VIWindEventProc(&e, uInt32(uintptr_t(panel_)));
  }
  static inline Rect gObjects{0, 0, 0, 0};
  VIWindHooks former_{};
  PlatBeepProc beep_ = nullptr;
  WindowRef window_ = 0;
};

TEST_F(VIWindowEvents, EachPlaceOfAClickHasItsTaker) {
  const struct {
    int32 code;
    int16 v, h;
    const char* log;
  } cases[] = {
      {1, 200, 200, "panel 1;"},  // content
      {1, 80, 430, "panel 1;"},   // icon pane
      {1, 80, 100, "toolbar;"},
      {1, 405, 200, ""},          // the horizontal scroll bar tracks
      {19, 200, 200, "panel 19;"},
      {19, 80, 100, "beep;"},     // a right click elsewhere
  };
  for (const auto& k : cases) {
    gLog.clear();
    Send(k.code, k.v, k.h);
    EXPECT_EQ(gLog, k.log) << k.v << "," << k.h;
    EXPECT_FALSE(OHWord(panel_, kOHFlags) & kPanelHeapTracking) << "the tracking flag is cleared";
  }
  viinst::SetExtWord(panel_, kHeapExtWindow, 0);
  Send(weWindCreate);
  EXPECT_EQ(viinst::PanelWindow(panel_), window_) << "-3 stores the window";
}

TEST_F(VIWindowEvents, ACloseRequestClosesTheVIAndTheLastOneQuits) {
  VIRec(vi_)->viKind = 0;
  EXPECT_EQ(Send(kWEvClose), 0);
  ASSERT_EQ(FirstLoadedVI(), vi_) << "kind 0 is left to the shell";
  VIRec(vi_)->viKind = kVIKindDatalog;
  Drain();
  Send(kWEvClose);
  EXPECT_EQ(FirstLoadedVI(), nullptr);
  bool quit = false;
  WEventRecord e;
  while (WGetNextEvent(&e)) quit |= e.code == kWEvQuit;
  EXPECT_TRUE(quit);
  vi_ = nullptr;
}

TEST_F(VIWindowEvents, ScrollStepsStayWithinTheTotal) {
  // Position 40, visible 100, total 300: 160 to go down.
  const struct {
    int32 answer, p, step;
    bool horizontal;
  } cases[] = {
      {kSBarUpArrow, 40, -32, false}, {kSBarUpArrow, 10, -10, false}, {kSBarDownArrow, 40, 32, false},
      {kSBarDownArrow, 190, 10, false}, {kSBarPageUp, 40, -40, false}, {kSBarPageDown, 40, 100, false},
      {kSBarPageDown, 150, 50, false}, {kSBarRightArrow, 40, 32, true}, {kSBarPageLeft, 40, -40, true},
      {int32(kSBarThumbVertical | 120), 40, 80, false}, {int32(kSBarThumbHorizontal | 0), 40, -40, true},
      {int32(kSBarThumbVertical | 999), 40, 160, false}, {1, 40, 0, false},
  };
  for (const auto& k : cases) {
    bool horizontal = !k.horizontal;
    EXPECT_EQ(VIWindScrollStep(k.answer, k.p, 100, 300, &horizontal), k.step) << k.answer;
    if (k.step) {
      EXPECT_EQ(horizontal, k.horizontal) << k.answer;
    }
  }
  const Rect before{100, 50, 400, 450};
  VIWindScrollBy(panel_, 0, 0);
  Rect c;
  std::memcpy(&c, viinst::ExtAt(panel_, kHeapExtContentRect), sizeof c);
  EXPECT_EQ(R(c), R(before)) << "(0, 0) does nothing";
  VIWindScrollBy(panel_, 5, -7);
  std::memcpy(&c, viinst::ExtAt(panel_, kHeapExtContentRect), sizeof c);
  EXPECT_EQ(R(c), "93,55,393,455");
  EXPECT_TRUE(OHWord(panel_, kOHFlags) & kPanelBoundsStale);
}

TEST_F(VIWindowEvents, TheBoundsGrowAroundTheObjects) {
  const struct {
    int32 parts, kind;
    Rect objects;
    const char* bounds;
  } cases[] = {
      {0, 2, {150, 100, 200, 200}, "140,90,210,210"},
      {0, 1, {150, 100, 200, 200}, "146,96,204,204"},
      {3, 5, {150, 100, 200, 200}, "140,90,210,210"},
      {3, 2, {150, 100, 200, 200}, "75,0,275,300"},  // a quarter of the content each way
      {3, 2, {0, 0, 0, 0}, "100,50,400,450"},        // no objects: the content
      {3, 2, {-32768, -32768, 32767, 32767}, "-32768,-32768,32767,32767"},
  };
  for (const auto& k : cases) {
    SetParts(uInt16(k.parts), Rect{100, 50, 400, 450});
    VIRec(vi_)->viKind = int16(k.kind);
    gObjects = k.objects;
    VIWindInvalBounds(panel_);
    EXPECT_EQ(R(*PanelGetBounds(panel_)), k.bounds) << k.parts << "/" << k.kind;
  }
  // A dialog is built to bounds computed afresh, stale or not: 10 around.
  SetParts(0, Rect{0, 0, 0, 0});
  VIRec(vi_)->viKind = kVIKindDialog;
  gObjects = Rect{10, 10, 40, 300};
  Rect dialog;
  DlgPanelGetBounds(panel_, &dialog);
  EXPECT_EQ(R(dialog), "0,0,50,310");
  VIRec(vi_)->viKind = kVIKindDatalog;
}

TEST_F(VIWindowEvents, KeysPassTheHandlersInTheirOrder) {
  // One handler for the system.
  auto swallow = [](WEventRecord*, int32 refcon) -> int32 { return Note("before " + std::to_string(refcon)), 1; };
  auto watch = [](WEventRecord* e, int32) -> int32 { return Note("after " + std::to_string(e->character)), 1; };
  EXPECT_EQ(SetKeyboardHandlerProc(0, nullptr, 0, 0), 1) << "none to remove";
  EXPECT_EQ(SetKeyboardHandlerProc(1, swallow, 1, 7), 0);
  EXPECT_EQ(SetKeyboardHandlerProc(1, watch, 0, 0), 1) << "the first is kept";
  EXPECT_EQ(SetKeyboardHandlerProc(7, watch, 0, 0), 0);
  EXPECT_EQ(Send(weKey, 0, 0, 27, 'x'), 1);
  EXPECT_EQ(gLog, "before 7;") << "a before handler swallows the key";
  EXPECT_EQ(SetKeyboardHandlerProc(0, nullptr, 0, 0), 0);
  ASSERT_EQ(SetKeyboardHandlerProc(1, watch, 0, 0), 0);
  // The panel takes what it can (the hook answers 1): the after handler
  // sees only the keys the window did not take.
  const struct {
    int32 keyCode, character, modifiers, returnKeyAction;
    const char* log;
  } cases[] = {
      {2, 0, 0, 0, "key 27/10;"},
      {2, 0, kWModExtendedKey, 0, "key 2/0;"},
      {2, 0, 0, 1, "key 2/0;"},
      {2, 0, 0x20, 1, "key 27/10;"},
  };
  for (const auto& k : cases) {
    gLog.clear();
    PrefSet(kPrefReturnKeyAction, k.returnKeyAction);
    Send(weKey, 0, 0, k.keyCode, k.character, k.modifiers);
    EXPECT_EQ(gLog, k.log) << k.modifiers << "/" << k.returnKeyAction;
  }
  PrefSet(kPrefReturnKeyAction, 0);
  VIWindHooks h = VIWindHooksInUse();
  h.handleKey = nullptr;
  VIWindSetHooks(h);
  gLog.clear();
  Send(weKey, 0, 0, 27, 'q');
  EXPECT_EQ(gLog, "after 113;");
}

std::string gDebug;
TEST_F(VIWindowEvents, ControlPListsTheDebugKeys) {
  const PlatDebugSink sink = PlatSetDebugSink([](const char* t) { gDebug += t; });
  const Bool32 debugging = DBDebuggingOn();
  DBSetDebugging(1);
  PReadPrintPrefs();
  gDebug.clear();
  Send(weKey, 0, 0, 27, 'P', 0x20);
  EXPECT_EQ(gDebug, "") << "QXdebugKeys off";
  PrefSet(kPrefQXDebugKeys, 1);
  gLog.clear();
  Send(weKey, 0, 0, 27, 'P', 0x20);
  PrefSet(kPrefQXDebugKeys, 0);
  EXPECT_EQ(gDebug,
            "Quenlix options\n |  toggle DPrintfs.  Currently on.\n :  print global font table\n"
            " A  check app heap\n F  Flush Debug Window\n M  toggle memory checking.\n"
            " N  toggle NO manager checking\n O  toggle drawing on/offscreen\n P  prints out this list\n"
            " S  print net connection table\n X  toggle file debugging\n {  compact AZ now.\n"
            " +  toggles PostScript printing. Currently off (level 2, color)\n");
  EXPECT_EQ(gLog, "") << "a debug key goes no further";
  DBSetDebugging(debugging);
  PlatSetDebugSink(sink);
}

// The record number stays within the log; a log of no records shows "0"
// and steps nowhere (there is no record -1).
TEST_F(VIWindowBoundary, TheRecordNumberStaysWithinTheLog) {
  static int32 count = 10;
  RetrieveLogHooks log{};
  log.openLog = [](UHandle) -> MgErr { return kNoErr; };
  log.recordCount = [](UHandle) -> int32 { return count; };
  SetRetrieveLogHooks(&log);
  EnterRetrieveMode(vi_);
  const struct {
    int32 count, put, keyCode;
    const char* text;
  } cases[] = {
      {10, 99, 0, "9"}, {10, -5, 0, "0"}, {10, 9, 4, "9"}, {10, 3, 4, "4"}, {10, 0, 5, "0"}, {10, 5, 5, "4"},
      {0, 7, 0, "0"}, {0, 0, 4, "0"},
  };
  for (const auto& k : cases) {
    count = k.count;
    StatePnlEditRecordNum(vi_, k.put);
    WEventRecord e{};
    e.code = weKey;
    e.keyCode = k.keyCode;
    if (k.keyCode) StatePnlRecordKey(&e, panel_);
    RecordField f{};
    ASSERT_TRUE(VIRecordField(vi_, &f));
    EXPECT_EQ(f.text, k.text) << k.count << "/" << k.put << "/" << k.keyCode;
  }
  count = 10;
  // Typed into the field's record: digits replace the selected number,
  // Backspace deletes one, and the number is marked edited.
  StatePnlEditRecordNum(vi_, 5);
  for (int32 c : {int32('1'), int32('2'), 8}) {
    WEventRecord e{};
    e.code = weKey;
    e.keyCode = 27;
    e.character = c;
    StatePnlRecordKey(&e, panel_);
  }
  RecordField f{};
  ASSERT_TRUE(VIRecordField(vi_, &f));
  EXPECT_EQ(f.text + (f.edited ? " edited" : ""), "1 edited");
  ExitRetrieveMode(vi_);
}

// Presses on the slots, the moves and the release injected at the screen: a
// broken VI's Run runs the command, which reports why it cannot run (the
// placement before the alert); Run Continuously is ignored while the VI is
// broken or waits as a subVI; Run runs the VI; a press that leaves the slot
// and is let go outside does nothing.
TEST_F(VIWindowBoundary, APressOnASlotActsByTheVIsState) {
  const WindowRef w = Shown(kVIWindToolBar, Rect{100, 50, 400, 450});
  static std::string log;
  RunCmdHooks run{};
  run.placePanelWindow = [](UHandle) { log += "broken "; };
  run.endTextEdit = [](UHandle) { log += "run "; };
  SetRunCmdHooks(&run);
  Rect bar;
  ASSERT_TRUE(VIWindStatePanelRect(panel_, &bar));
  auto global = [&](int32 slot, int32 dh) {
    const Rect s = StatePnlSlotRect(slot);
    Point p{int16(bar.top + s.top + 9), int16(bar.left + s.left + 10 + dh)};
    WLocalToGlobal(w, &p);
    return p;
  };
  const struct {
    uInt32 state;
    int32 slot, away;  // away: where the press is let go, from the slot's middle
    const char* log;
  } cases[] = {{0, 1, 0, "run broken "}, {0, 2, 0, ""}, {4, 2, 0, ""}, {1, 1, 0, "run "}, {1, 1, 60, ""}};
  for (const auto& k : cases) {
    VIRec(vi_)->eState = (VIRec(vi_)->eState & ~kVIStateMask) | k.state;
    log.clear();
    const Point at = global(k.slot, 0), end = global(k.slot, k.away);
    const uInt32 t = PlatTickMs();
    // The press reaches the window; its tracking reads the moves and the
    // release, queued behind it.
    PlatInjectMouseButton(kPlatButtonLeft, true, at.h, at.v, t);
    PlatInjectMouseMove(global(k.slot, 60).h, at.v, t + 10);
    PlatInjectMouseMove(end.h, end.v, t + 20);
    PlatInjectMouseButton(kPlatButtonLeft, false, end.h, end.v, t + 30);
    PlatUiPump();
    EXPECT_EQ(log, k.log) << k.state << "/" << k.slot << "/" << k.away;
  }
  // Slots 5 to 8 show blanks: the background where a cell would be.
  Rect port;
  WGetRect(w, &port);
  for (int32 slot = 5; slot <= 8; ++slot) {
    UpdateToolbarButton(vi_, StatePnlSlotIcon(panel_, slot), 0);
    const Rect s = StatePnlSlotRect(slot);
    EXPECT_EQ(PlatSurfaceGetPixel(PlatWindowSurface(WHostWindow(w)), bar.left + s.left + 10 - port.left,
                                  bar.top + s.top + 9 - port.top) & 0xFFFFFF,
              uInt32(PrefGet(kPrefExecPaletteBackground))) << slot;
  }
}

// The mouse resting on a slot shows its tip after 800 ms (timer 8); moved
// off the tool bar, the tip goes at the next 200 ms poll (timer 9); none
// with "showTipStrings" off.
TEST_F(VIWindowBoundary, ATipShowsAfterItsDelayAndGoesAtThePoll) {
  ASSERT_EQ(WTimersInit(1), kNoErr);
  const int32 tips = PrefGet(kPrefShowTipStrings);
  PrefSet(kPrefShowTipStrings, 0);
  const WindowRef w = Shown(kVIWindToolBar, Rect{100, 50, 400, 450});
  Rect bar;
  ASSERT_TRUE(VIWindStatePanelRect(panel_, &bar));
  Point on{int16(bar.top + 10), int16(bar.left + 38)}, off{int16(bar.bottom + 50), int16(bar.left + 38)};
  WLocalToGlobal(w, &on);
  WLocalToGlobal(w, &off);
  // Milliseconds from start until the tip is shown (or hidden), the timers
  // served.
  auto until = [](bool shown, uInt32 start) {
    while (MilliSecs() - start < 20000 && (WTipStripWindow() != 0) != shown) {
      PlatSleepMs(5);
      WCheckTimers();
      for (WEventRecord e; WGetNextEvent(&e);) WDispatchEvent(&e);
      PlatUiPump();
    }
    return int32(MilliSecs() - start);
  };
  PlatUiMove(on.h, on.v);
  EXPECT_EQ(StatePnlTipImage(), -1) << "no tips with \"showTipStrings\" off";
  PlatUiMove(off.h, off.v);
  PrefSet(kPrefShowTipStrings, 1);
  // The delay runs from the move, so the clock is read before it.
  const uInt32 moved = MilliSecs();
  PlatUiMove(on.h, on.v);
  EXPECT_EQ(StatePnlTipImage(), StatePnlSlotIcon(panel_, 1));
  // Not before its delay; a loaded machine may serve the timers late, so
  // the upper bounds only say that it came and went.
  const int32 shown = until(true, moved);
  EXPECT_GE(shown, 800);
  EXPECT_LT(shown, 20000);
  PlatUiMove(off.h, off.v);
  EXPECT_LT(until(false, MilliSecs()), 20000);
  WHideTipStrip();
  PrefSet(kPrefShowTipStrings, tips);
  WTimersInit(0);
}

// A window with all five parts around an empty panel, drawn by its update:
// idle (Run), running and broken.  QX_UPDATE_GOLDENS=1 makes them again.
TEST_F(VIWindowBoundary, TheWholeWindowLooksAsItsGolden) {
  MLoadMenuColors();
  // An empty panel draws its content white.
  VIWindHooks h = VIWindHooksInUse();
  h.drawPanel = [](ObjHeap p) -> int32 {
    Rect c;
    std::memcpy(&c, viinst::ExtAt(p, kHeapExtContentRect), sizeof c);
    DSelectNormPen(kWhiteColor, kWhiteColor);
    return DPaintRect(&c), 0;
  };
  const VIWindHooks former = VIWindSetHooks(h);
  // The own menu bar as a plain strip: no menu manager's bar in the picture.
  const int32 bars = PrefGet(kPrefUseWindowMenuBars);
  PrefSet(kPrefUseWindowMenuBars, 0);
  // The content placed so that the window's frame starts at the origin;
  // the window sized to the frame, its resize deriving the same content.
  const Rect content{35, 0, 180, 260};
  Rect frame;
  VIWindContentToWindow(31, &content, &frame);
  ASSERT_EQ(frame.top, 0);
  const WindowRef w = Shown(31, content);
  WSize(w, &frame);
  const struct {
    uInt32 state;
    const char* golden;
  } cases[] = {{1, "viwindow_idle"}, {2, "viwindow_running"}, {0, "viwindow_broken"}};
  for (const auto& k : cases) {
    VIRec(vi_)->eState = (VIRec(vi_)->eState & ~kVIStateMask) | k.state;
    WInvalRect(w, nullptr);
    PlatUiPump();
    const std::filesystem::path png =
        std::filesystem::path(QX_SOURCE_DIR) / "tests/shell/goldens" / (std::string(k.golden) + ".png");
    qxtest::ExpectMatchesGolden(PlatWindowSurface(WHostWindow(w)), png, "the VI window; QX_UPDATE_GOLDENS=1 makes it again");
  }
  PrefSet(kPrefUseWindowMenuBars, bars);
  VIWindSetHooks(former);
}

// The record arrows held down: one step at the press and another every
// 320 ms, never past either end of a log of 10 records.
TEST_F(VIWindowBoundary, HeldRecordArrowsRepeatWithinTheLog) {
  RetrieveLogHooks log{};
  log.openLog = [](UHandle) -> MgErr { return kNoErr; };
  log.recordCount = [](UHandle) -> int32 { return 10; };
  SetRetrieveLogHooks(&log);
  const WindowRef w = Shown(kVIWindToolBar, Rect{100, 50, 400, 450});
  EnterRetrieveMode(vi_);
  Rect bar;
  ASSERT_TRUE(VIWindStatePanelRect(panel_, &bar));
  const struct {
    int32 start, v;  // v: the arrow half's row in the tool bar
    int32 low, high;
  } cases[] = {{3, 5, 4, 9}, {8, 5, 9, 9}, {1, 15, 0, 0}};  // a loaded machine may repeat late
  for (const auto& k : cases) {
    StatePnlEditRecordNum(vi_, k.start);
    Point p{int16(bar.top + k.v), int16(bar.left + 84)};
    WLocalToGlobal(w, &p);
    const uInt32 pressed = MilliSecs();
    PlatInjectMouseButton(kPlatButtonLeft, true, p.h, p.v, PlatTickMs());
    std::thread release([p] {
      PlatSleepMs(750);
      PlatInjectMouseButton(kPlatButtonLeft, false, p.h, p.v, PlatTickMs());
    });
    PlatUiPump();
    release.join();
    PlatUiPump();
    // A step at the press and one per 320 ms held; a loaded machine may
    // release late, and hold it longer.
    const int32 held = int32(MilliSecs() - pressed);
    RecordField f{};
    ASSERT_TRUE(VIRecordField(vi_, &f));
    const int32 n = std::atoi(f.text.c_str());
    const int32 high = std::min(k.high, k.start + 1 + held / 320);
    EXPECT_TRUE(n >= k.low && n <= high) << k.start << " -> " << f.text << " held " << held << " ms";
  }
  // A press in the record field ends the panel's key focus and places the
  // caret in the field's text; no slot acts.
  static int32 released = 0;
  VIWindHooks h = VIWindHooksInUse();
  h.releaseKeyFocus = [](ObjHeap) -> MgErr { return ++released, kNoErr; };
  const VIWindHooks saved = VIWindSetHooks(h);
  StatePnlEditRecordNum(vi_, 5);
  Point p{int16(bar.top + 11), int16(bar.left + 120)};
  WLocalToGlobal(w, &p);
  PlatInjectMouseButton(kPlatButtonLeft, true, p.h, p.v, PlatTickMs());
  PlatInjectMouseButton(kPlatButtonLeft, false, p.h, p.v, PlatTickMs());
  PlatUiPump();
  RecordField f{};
  ASSERT_TRUE(VIRecordField(vi_, &f));
  EXPECT_EQ(released, 1);
  EXPECT_EQ(f.text + (f.allSelected ? " all" : ""), "5");
  VIWindSetHooks(saved);
  ExitRetrieveMode(vi_);
}

}  // namespace
