// The embedded-object container: objects loaded from the VI's resources
// into the host, the load alert and its answers, drawing, moving, copying,
// colours, focus keys and the size property.
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "controls/container.h"
#include "controls/ctlsize.h"
#include "engine/vi/objload.h"
#include "engine/vi/panelroutines.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/pictops.h"
#include "mgsource/memory.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/wport.h"
#include "panel/ctrl_internal.h"
#include "panel/objdraw.h"
#include "panel/objload.h"
#include "panel/operate.h"
#include "panel/panel_test_support.h"
#include "platform/qx_activate.h"
#include "platform/qx_embed.h"
#include "platform/qx_paint.h"
#include "platform/qx_surface.h"
#include "server/embed_lib_support.h"
#include "server/embobj.h"
#include "tools/rsrcwriter.h"
#include "tools/tdbuilder.h"

namespace {

constexpr uInt32 kSTRG = FourCC("STRG");
constexpr uInt32 kGreen = 0x00C000, kClear = 0x808080, kRed = 0xFF0000;
// A container whose cell area is its only part: its bounds are the cell area's.
const Rect kBounds{20, 30, 120, 230}, kCell{20, 30, 120, 230};

rsrcw::Bytes Be(std::initializer_list<uInt32> words) {
  rsrcw::Bytes b;
  for (uInt32 w : words)
    for (int i = 3; i >= 0; --i) b.push_back(uChar(w >> (8 * i)));
  return b;
}
// A saved object: its count (big-endian, as stored), then the state.
rsrcw::Bytes Saved(const std::vector<uint8_t>& state, int32 extraCount = 0) {
  rsrcw::Bytes b = Be({uInt32(int32(state.size()) + extraCount)});
  b.insert(b.end(), state.begin(), state.end());
  return b;
}
QxEmbedState State(uInt32 flags, int32 w = 150, int32 h = 60) { return QxEmbedState{FourCC("Demo"), w, h, flags, kGreen}; }

// An engine colour as the library receives it: palette-relative, blue first.
uInt32 Gdi(uInt32 c) { return 0x02000000u | (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF); }

// The load alert, scripted: what it was asked and the answer it gives.
std::string gAlertText;
int32 gAlertDefault = 0, gAlertAnswer = 1, gAlerts = 0;
int32 ScriptedAlert(int32 type, const void* message, ConstPStr b1, ConstPStr b2, int32 def, int32, int32) {
  ++gAlerts;
  const uChar* m = static_cast<const uChar*>(message);
  gAlertText = type == 53 ? std::string(reinterpret_cast<const char*>(m + 1), m[0]) : std::string();
  gAlertText += "|" + std::string(reinterpret_cast<const char*>(b1 + 1), b1[0]) + "|" +
                std::string(reinterpret_cast<const char*>(b2 + 1), b2[0]);
  gAlertDefault = def;
  return gAlertAnswer;
}

// The embedding services as start-up installs them, the alert a script.
ContainerEmbHooks ServerHooks() {
  ContainerEmbHooks h{};
  h.loadFromResource = [](UHandle saved, UHandle* record, WindowRef window, const ContainerAmbient* a,
                          const Rect* bounds, int32* flags) {
    EmbAmbientInfo info{};
    if (a) info = {a->background, a->foreground, a->textRecord, a->text, 0};
    return EmbLoadFromResource(saved, record, window, a ? &info : nullptr, bounds, flags);
  };
  h.saveObject = &EmbSaveObject, h.destroy = &EmbDestroy, h.activate = &EmbActivate, h.getFlags = &EmbGetFlags;
  h.setWindow = &EmbSetWindow, h.setBounds = &EmbSetBounds, h.getBounds = &EmbGetBounds, h.focus = &EmbFocus;
  h.getPicture = &EmbGetPicture, h.ambientForeground = &EmbAmbientFGColor, h.ambientBackground = &EmbAmbientBGColor;
  h.ambientDisplayName = &EmbAmbientDisplayName, h.ambientFont = &EmbAmbientFont, h.recordSwap = &EmbRecordSwap;
  h.detachWindow = &EmbDetachWindow, h.hasObject = &EmbHasObject, h.disposeRecord = &EmbDisposeRecord;
  h.dupRecord = &EmbDupRecord, h.updateDispatch = &EmbUpdateDispatch, h.twoButtonAlert = &ScriptedAlert;
  return h;
}

class ContainerTest : public ptest::PanelRootTest {
 protected:
  void SetUp() override {
    PanelRootTest::SetUp();
    if (HasFatalFailure()) return;
    static const bool joined = (ControlsJoinSizeSlots(), ControlsJoinContainerSlots(), true);
    (void)joined;
    ASSERT_EQ(RInitResources(), kNoErr);
    procs_ = EmbSetContainerProcs(embtest::Table());
    hooks_ = SetContainerEmbHooks(ServerHooks());
    EditSelectHooks select{};
    select.containerSelect = &ContainerOSelectMethod;
    select_ = SetEditSelectHooks(select);
    gAlerts = 0, gAlertAnswer = 1, gAlertText.clear();
    SetVILoaderAbort(0);
  }
  void TearDown() override {
    EXPECT_EQ(Asserts(), 0) << qxtest::Reports::Get().Text();
    for (int32 c : made_) ODispose(panel_, c);
    for (RsrcFileRef f : files_) RCloseFile(f);
    EXPECT_EQ(QxEmbedCount(), 0) << "host objects left";
    SetContainerEmbHooks(hooks_);
    SetEditSelectHooks(select_);
    EmbSetContainerProcs(procs_);
    PanelRootTest::TearDown();
  }
  // A container with its cell area, loaded from a record and a saved object
  // (either may be absent): the load method's answer.
  int32 Load(const rsrcw::Bytes* record, const rsrcw::Bytes* saved, int32* container) {
    const int32 c = *container = Obj(kClsContainerId, root_);
    made_.push_back(c);
    SetBounds(c, kBounds);
    cell_ = Obj(kClsCosmetic, c, kContainerCellArea);
    SetBounds(cell_, kCell);
    ctrl::SetPartColours(panel_, cell_, 0x000080, 0x00FFFF);
    SetW(c, kPWDDOTypeId, int32(Type(tdb::Typedef("Ctl", tdb::Refnum(8)))));
    rsrcw::Writer w(FourCC("LVIN"), FourCC("QNLX"));
    int32 id = 101;
    if (record) SetW(c, kContainerRecordWord, 1), w.Add(kSTRG, id++, *record);
    if (saved) SetW(c, kContainerSavedWord, 1), w.Add(kSTRG, id++, *saved);
    const rsrcw::Bytes bytes = w.Write();
    UHandle fh = AZNewHandle(int32(bytes.size()));
    std::memcpy(*fh, bytes.data(), bytes.size());
    RsrcFileRef file = 0;
    EXPECT_EQ(ROpenFileOrHandle(nullptr, kRsrcReadOnly, &file, nullptr, nullptr, fh), kNoErr);
    files_.push_back(file);
    // Only the new container holds a resource number.
    OHForEachBlock(panel_, [](ObjHeap h, int32 o) { return OHSetBlockMarkWord(h, o, 0), 0; });
    OHSetBlockMarkWord(panel_, c, 100);
    ClearObjLoadAbort();
    const int32 r = OLoadHeapObjects(panel_, file);
    if (OHWord(panel_, kOHFlags) & kOHMarkPass) OHEndMarkPass(panel_);
    if (r) { EXPECT_EQ(ObjLoadAbort().fence, c); }
    return r ? ObjLoadAbort().error : 0;
  }
  int32 LoadState(const QxEmbedState& st, int32* c) {
    const rsrcw::Bytes rec = Be({1, 0x55, 0, 0x77, 0x99}), saved = Saved(QxEmbedWriteState(st));
    return Load(&rec, &saved, c);
  }
  UHandle Rec(int32 c) { return reinterpret_cast<UHandle>(uintptr_t(uInt32(W(c, kContainerRecordWord)))); }
  QxEmbedInfo Host(int32 c) {
    QxEmbedInfo info;
    UHandle r = Rec(c);
    EXPECT_TRUE(r && QxEmbedQuery(reinterpret_cast<EmbObjectRec*>(*r)->token, &info));
    return info;
  }
  static std::vector<int32> P(const PlatRect& r) { return {r.left, r.top, r.right, r.bottom}; }

  EmbContainerProcs procs_{};
  ContainerEmbHooks hooks_{};
  EditSelectHooks select_{};
  std::vector<int32> made_;
  std::vector<RsrcFileRef> files_;
  int32 cell_ = 0;
};

// The object lands in the panel window at the cell area, active and with the
// host's own token (not the stale stored one); one that asks for its
// natural size has the container follow it when its value is published.
TEST_F(ContainerTest, LoadPlacesTheObjectAndPublishingSizesTheCellArea) {
  const WindowRef w = ShowInWindow();
  const struct {
    uInt32 flags;
    std::vector<int32> host;      // left, top, right, bottom
    std::vector<int16> cellAfter; // after message 55
  } rows[] = {
      {0, {30, 20, 230, 120}, {20, 30, 120, 230}},
      {kQxEmbedStateNaturalSize, {30, 20, 180, 80}, {20, 30, 80, 180}},
  };
  for (const auto& row : rows) {
    int32 c = 0;
    ASSERT_EQ(LoadState(State(row.flags), &c), 0);
    const QxEmbedInfo info = Host(c);
    EXPECT_EQ(info.window, WHostWindow(w));
    EXPECT_EQ(P(info.bounds), row.host);
    EXPECT_TRUE(info.active);
    EXPECT_NE(reinterpret_cast<EmbObjectRec*>(*Rec(c))->token, 0x55) << "the stored token names nothing here";
    EXPECT_EQ(info.background, Gdi(0x00FFFF)) << "the cell area's second colour, palette-relative";
    EXPECT_EQ((ctrl::Flags(panel_, c) & kContainerSizeToObject) != 0, row.flags != 0);
    EditMsgRecord publish{};
    OSelectCode(panel_, c, 55, &publish);
    EXPECT_EQ(R(ctrl::BoundsOf(panel_, cell_)), row.cellAfter);
    EXPECT_EQ(ctrl::Flags(panel_, c) & kContainerSizeToObject, 0u);
  }
  EXPECT_EQ(gAlerts, 0);
}

// A failed load asks; "Continue" loads without the object, "Abort" keeps the
// error and tells the loader; a count beyond its resource takes the same road.
TEST_F(ContainerTest, FailedLoadsAskContinueOrAbort) {
  const struct {
    int32 failWith, extraCount, answer;
    int32 result, loaderAbort;
    const char* message;
  } rows[] = {
      {7, 0, 1, 0, 0, "Error 7 occurred loading the embedded control \"Ctl\".|Continue|Abort"},
      {7, 0, 0, 7, 1, "Error 7 occurred loading the embedded control \"Ctl\".|Continue|Abort"},
      {0, 1000, 1, 0, 0, "Error 1 occurred loading the embedded control \"Ctl\".|Continue|Abort"},
  };
  for (const auto& row : rows) {
    SetVILoaderAbort(0);
    gAlertAnswer = row.answer;
    QxEmbedFailNextLoad(row.failWith);
    const rsrcw::Bytes rec = Be({1, 0, 0, 0, 0}), saved = Saved(QxEmbedWriteState(State(0)), row.extraCount);
    int32 c = 0;
    EXPECT_EQ(Load(&rec, &saved, &c), row.result);
    EXPECT_EQ(gAlertText, row.message);
    EXPECT_EQ(gAlertDefault, 1) << "Continue is the default";
    EXPECT_EQ(VILoaderAbort(), row.loaderAbort);
    EXPECT_FALSE(EmbHasObject(Rec(c)));
    EXPECT_EQ(QxEmbedCount(), 0);
    QxEmbedFailNextLoad(0);
  }
  // A record of another kind is no object and no failure: nothing is asked.
  gAlerts = 0;
  const rsrcw::Bytes other = Be({2, 0, 0, 0, 0}), saved = Saved(QxEmbedWriteState(State(0)));
  int32 c = 0;
  EXPECT_EQ(Load(&other, &saved, &c), 0);
  EXPECT_EQ(gAlerts, 0);
}

// Drawn into a window.
class ContainerDraw : public ContainerTest {
 protected:
  void SetUp() override {
    ContainerTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(WInitScreenImage(), kNoErr);
    DInitDraw();
    const Rect place{0, 0, 200, 300};
    window_ = WCreate(0x3C, nullptr, nullptr, &place, 0, 1, 0);
    ASSERT_NE(window_, kWNoWindow);
    PutNative32(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtWindow, uInt32(window_));
    WSetup(window_, &port_);
    PlatSurfaceClear(Surface(), kClear);
  }
  void TearDown() override {
    WRestore(&port_);
    PanelSetImagingMode(kPanelDrawScreen);
    ContainerTest::TearDown();
    DDisposeDraw();
  }
  PlatSurface* Surface() { return PlatWindowSurface(WHostWindow(window_)); }
  uInt32 Pixel(int32 h, int32 v) { return PlatSurfaceGetPixel(Surface(), h, v) & 0xFFFFFF; }
  void Draw(int32 c) { ODraw(panel_, c, nullptr, int32(0), int32(kDrawModeNormal)); }
  // A paint of the window: what child objects add at its end.
  void Paint() {
    PlatPaintInfo info{};
    PlatBeginPaint(WHostWindow(window_), &info);
    PlatEndPaint(WHostWindow(window_), &info);
  }
  void SetRunning(bool on) {
    uInt32& f = VIRec(vi_)->flags2;
    f = on ? f | kContainerRunMode : f & ~kContainerRunMode;
  }
  WPortState port_{};
};

// Outside run mode an object that shows only while running is detached and
// nothing is drawn; running, it is adopted again and paints itself at the
// end of the window's paint; printing, its picture fills the cell area.
TEST_F(ContainerDraw, RunOnlyObjectsDetachAndPrintingDrawsThePicture) {
  int32 c = 0;
  ASSERT_EQ(LoadState(State(kQxEmbedStateRunOnly), &c), 0);
  SetRunning(false);
  Draw(c);
  EXPECT_EQ(Host(c).window, 0);
  Paint();
  EXPECT_EQ(Pixel(100, 50), kClear) << "nothing drawn";
  SetRunning(true);
  Draw(c);
  EXPECT_EQ(Host(c).window, WHostWindow(window_));
  Paint();
  EXPECT_EQ(Pixel(100, 50), kGreen);
  EXPECT_EQ(Pixel(30, 20), 0u) << "its frame";
  // Its drawing depends on the mode: a mode change invalidates it.
  WValidate(window_);
  EXPECT_EQ(OModeChange(panel_, c, int32(0)), 0);
  EXPECT_EQ(R(TakeInvalid()), R(kBounds));
  PlatSurfaceClear(Surface(), kClear);
  PanelSetImagingMode(kPanelDrawPrint);
  Draw(c);
  // The picture, scaled to the cell area: colour inside, a black edge.
  for (const auto& [h, v, colour] : std::vector<std::tuple<int32, int32, uInt32>>{
           {30, 20, 0}, {229, 119, 0}, {31, 21, kGreen}, {130, 70, kGreen}, {228, 118, kGreen}, {25, 15, kClear}})
    EXPECT_EQ(Pixel(h, v), colour) << h << "," << v;
}

// "Continue" without the object: the substitute image is drawn in its place.
TEST_F(ContainerDraw, ContinuedLoadDrawsTheSubstituteImage) {
  QxEmbedFailNextLoad(7);
  const rsrcw::Bytes rec = Be({1, 0, 0, 0, 0}), saved = Saved(QxEmbedWriteState(State(0)));
  int32 c = 0;
  ASSERT_EQ(Load(&rec, &saved, &c), 0);
  QXPict pict = DSNewHandle(4);
  std::memset(*pict, 0, 4);
  PictOpArgs a;
  a.rect = Rect{0, 0, 10, 10};
  a.colours[0] = a.colours[2] = kRed;
  ASSERT_EQ(PictAppendOp(pict, 0, kPictOpNormPen, &a), kNoErr);
  ASSERT_EQ(PictAppendOp(pict, 0, kPictOpPaintRect, &a), kNoErr);
  int32 image = 0;
  ASSERT_EQ(ICreatePict(0, &a.rect, 0, pict, 0, &image), kNoErr);
  SetW(c, kContainerImageWord, 0x10000 | image);
  Draw(c);
  EXPECT_EQ(Pixel(100, 50), kRed);
  SetW(c, kContainerImageWord, 0);
  IRelease(image);
}

// A move gives the object its new bounds; a copy is a second object made
// from the first's state; colours reach the object from the cell area only.
TEST_F(ContainerTest, MoveCopyAndColours) {
  ShowInWindow();
  int32 c = 0;
  ASSERT_EQ(LoadState(State(kQxEmbedStateTakesFocus), &c), 0);
  ASSERT_EQ(OOffset(panel_, c, Point{5, 7}), 0);
  EXPECT_EQ(P(Host(c).bounds), (std::vector<int32>{37, 25, 237, 125}));

  OHBeginMarkPassPair(panel_, panel_);
  ASSERT_EQ(OCopy(panel_, c, panel_, int32(0), int32(0)), 0);
  const int32 copy = OHBlockMarkWord(panel_, c);
  OHEndMarkPassPair(panel_, panel_);
  ASSERT_NE(copy, 0);
  made_.push_back(copy);
  ASSERT_NE(Rec(copy), Rec(c)) << "a record of its own";
  EXPECT_EQ(QxEmbedCount(), 2);
  const QxEmbedInfo a = Host(c), b = Host(copy);
  EXPECT_EQ(b.state.colour, a.state.colour);
  EXPECT_EQ(b.state.flags, a.state.flags);
  EXPECT_TRUE(b.active);

  const struct {
    int32 part, flags;
    DColor fore, back;
    uInt32 hostFore, hostBack;
  } colours[] = {
      {kContainerCellArea, kColorBack, 0x111111, 0x123456, 0x000080, 0x123456},
      {kContainerCellArea, kColorFore, kTransparentColor, 0x654321, ctrl::PanelBackground(panel_), 0x123456},
      {kContainerCaption, kColorBoth, 0x222222, 0x333333, ctrl::PanelBackground(panel_), 0x123456},
  };
  for (const auto& row : colours) {
    EXPECT_EQ(ContainerOColorChangeMethod(panel_, c, row.part, 0, row.fore, row.back, row.flags), 0);
    EXPECT_EQ(Host(c).foreground, Gdi(row.hostFore));
    EXPECT_EQ(Host(c).background, Gdi(row.hostBack));
  }
}

// Tab into an object that refuses the focus moves it on; one that takes it
// puts the panel into text entry; key 2 gives the focus back to the window.
TEST_F(ContainerTest, FocusKeys) {
  const WindowRef w = ShowInWindow();
  for (uInt32 takes : {uInt32(0), uInt32(kQxEmbedStateTakesFocus)}) {
    int32 c = 0;
    ASSERT_EQ(LoadState(State(takes), &c), 0);
    OHSetWord(panel_, kOHFlags, OHWord(panel_, kOHFlags) & ~kHeapFlagTextEntry);
    // The path: the panel, then the container as the target.
    void* previous = nullptr;
    ASSERT_EQ(TRPushRootPath(panel_, &previous), 0);
    auto* frame = static_cast<TransactionFrame*>(TRStackTop()) + 1;
    TRPutFrame(frame, c, kCatDDO, 2, 0);
    ActionParams p{};
    p.eventCode = kSubKeyDown;
    p.keyCode = kKeyTab;
    const int32 reply = ContainerODoitMethod(panel_, c, frame, kActOperate, &p);
    EXPECT_EQ((reply & 0x800) != 0, !takes);
    EXPECT_EQ((OHWord(panel_, kOHFlags) & kHeapFlagTextEntry) != 0, takes != 0);
    EXPECT_EQ(Host(c).focused, takes != 0);
    p.keyCode = 2;
    ContainerODoitMethod(panel_, c, frame, kActOperate, &p);
    EXPECT_EQ(PlatGetFocus(), WHostWindow(w));
    TRSetStackTop(previous);
  }
}

// The size property: the cluster and its elements, pinned and exact.
TEST_F(ContainerTest, SizeProperty) {
  int32 c = 0;
  ASSERT_EQ(LoadState(State(0), &c), 0);
  const struct {
    int32 index;
    std::vector<uInt32> set;
    int32 reply;
    std::vector<int16> bounds;
  } rows[] = {
      {0, {200, 100}, 0, {20, 30, 120, 230}},          // the current size
      {1, {100}, 0x30080, {20, 80, 120, 180}},         // width only: height and top kept
      {1, {101}, 0x30080, {20, 80, 120, 181}},         // exactly the width asked
      {2, {20000}, 0x30080, {-7930, 80, 8070, 181}},   // pinned to 16000
  };
  for (const auto& row : rows) {
    std::vector<uInt32> value = row.set;
    AttrCallRec rec{};
    rec.selector = kDDOAttrCount + row.index;
    rec.value = value.data();
    EXPECT_EQ(ContainerOCtrlOpMethod(panel_, c, &rec, 1) & 0x30080, row.reply) << row.index;
    EXPECT_EQ(rec.selector, -1);
    EXPECT_EQ(R(ctrl::BoundsOf(panel_, c)), row.bounds);
    std::vector<uInt32> got(2);
    AttrCallRec get{};
    get.selector = kDDOAttrCount;
    get.read = 1;
    get.value = got.data();
    ContainerOCtrlOpMethod(panel_, c, &get, 1);
    EXPECT_EQ(got[0], uInt32(row.bounds[3] - row.bounds[1]));
    EXPECT_EQ(got[1], uInt32(row.bounds[2] - row.bounds[0]));
  }
  // A selector past the table is renumbered for the next level.
  AttrCallRec past{};
  past.selector = kDDOAttrCount + kContainerAttrCount + 2;
  uInt32 v = 0;
  past.value = &v;
  ContainerOCtrlOpMethod(panel_, c, &past, 1);
  EXPECT_EQ(past.selector, 2);
}

// The class record holds the container's methods in its slots, and the
// stored words convert both ways.
TEST_F(ContainerTest, ClassSlotsAndWordConversion) {
  const ObjClassRecord* r = ClassRecord(kClsContainerId);
  const std::pair<int32, ObjMethodAddr> slots[] = {
      {kMsgOSwap, ObjMethodAddr(&ContainerOSwapMethod)},   {kMsgOInit, ObjMethodAddr(&ContainerOInitMethod)},
      {kMsgOClick, ObjMethodAddr(&ContainerOClickMethod)}, {kMsgODoit, ObjMethodAddr(&ContainerODoitMethod)},
      {kMsgOCtrlOp, ObjMethodAddr(&ContainerOCtrlOpMethod)}, {kMsgOLoad, ObjMethodAddr(&ContainerOLoadMethod)},
      {kMsgODispose, ObjMethodAddr(&ContainerODisposeMethod)}, {kMsgOInsert, ObjMethodAddr(&ContainerOInsertMethod)},
      {kMsgODraw, ObjMethodAddr(&ContainerODrawMethod)}, {kMsgOColorChange, ObjMethodAddr(&ContainerOColorChangeMethod)},
      {kMsgOOffset, ObjMethodAddr(&ContainerOOffsetMethod)}, {kMsgOCopy, ObjMethodAddr(&ContainerOCopyMethod)},
      {kMsgOPopup, ObjMethodAddr(&ContainerOPopupMethod)},
      {kMsgOModeChange, ObjMethodAddr(&ContainerOModeChangeMethod)},
  };
  for (const auto& [slot, m] : slots) EXPECT_EQ(r->methods[slot], m) << "slot " << slot;
  const int32 c = Obj(kClsContainerId, root_);
  SetW(c, 10, 0x01020304), SetW(c, 11, 0x05060708), SetW(c, 12, 0x090A0B0C), SetW(c, 13, 0x0D0E0F10);
  ASSERT_EQ(ContainerOSwapMethod(panel_, c, kToMemoryOrder), kNoErr);
  EXPECT_EQ(std::vector<int32>({W(c, 10), W(c, 11), W(c, 12), W(c, 13)}),
            std::vector<int32>({0x04030201, 0x08070605, 0x0C0B0A09, 0x0D0E0F10}));
  ASSERT_EQ(ContainerOSwapMethod(panel_, c, kToFileOrder), kNoErr);
  EXPECT_EQ(W(c, 10), 0x01020304);
  OHDisposeBlock(panel_, c);
}

}  // namespace
