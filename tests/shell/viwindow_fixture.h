// The VI window tests' fixture: a VI of its own with its panel's window,
// the run-time file the tools write (the tool bar's strips among its
// resources), and the document windows' own procedure.
#pragma once
#include "golden_image.h"
#include "engine/exec/panelplace.h"
#include "engine/exec/retrieve.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/rsrc.h"
#include "tools/appbuild.h"
#include "engine/viinst_test_support.h"
#include "engine/vi/vi_internal.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dregion.h"
#include "mgsource/draw/printmgr.h"
#include "mgsource/prefs.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/sbar.h"
#include "mgsource/window/winproc.h"
#include "platform/qx_alert.h"
#include "platform/qx_debugout.h"
#include "mgsource/draw/dport.h"
#include "mgsource/window/wport.h"
#include "rtlib/datalog.h"
#include "mgsource/draw/dpen.h"
#include "platform/qx_paint.h"
#include "platform/qx_surface.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/tipstrip.h"
#include "mgsource/window/wactive.h"
#include "mgsource/datetime.h"
#include "platform/qx_activate.h"
#include "platform/qx_display.h"
#include "mgsource/window/wevent.h"
#include "platform/qx_input.h"
#include "platform/qx_time.h"
#include "platform/qx_uitest.h"
#include "platform/qx_window.h"
#include "engine/exec/runcmd.h"
#include "shell/statepnl.h"
#include "shell/viwindow.h"
#include "shell/vishell.h"

using namespace qxvitest;

namespace {

[[maybe_unused]] std::string R(const Rect& r) {
  return std::to_string(r.top) + "," + std::to_string(r.left) + "," + std::to_string(r.bottom) + "," +
         std::to_string(r.right);
}
[[maybe_unused]] std::string T(ConstPStr p) { return std::string(reinterpret_cast<const char*>(p + 1), p[0]); }

class VIWindowBoundary : public VITest {
 protected:
  void SetUp() override {
    VITest::SetUp();
    StartDisplay();
    // The run-time file the tools write, with the tool bar's strips.
    ASSERT_EQ(RInitResources(), kNoErr);
    rsrcw::Writer rw(FourCC("APPL"), FourCC("QNLX"));
    qxbuild::AddRunTimeResources(&rw);
    const rsrcw::Bytes file = rw.Write();
    UHandle fh = AZNewHandle(int32(file.size()));
    ASSERT_NE(fh, nullptr);
    std::memcpy(*fh, file.data(), file.size());
    ASSERT_EQ(ROpenFileOrHandle(nullptr, kRsrcReadOnly, &runtime_, nullptr, nullptr, fh), kNoErr);
    SetRunTimeRsrcFile(runtime_);
    StatePnlReleaseImages();  // a strip an earlier test failed to load is tried again
    ShellInstallEngineHooks();
    // The document windows' own procedure, which turns the window system's
    // input into events, registered before a window makes the class.
    PlatRegisterClass(PlatWindowClass{"QXDChild", &QXDChildWinProc, 0, kPlatNoBrush});
    WBuildKeyTable();
    vi_ = NewVICore(kVIKindDatalog, PS("Pump.vi"), -1);
    ASSERT_NE(vi_, nullptr);
    ASSERT_EQ(OpenFrontPanel(vi_), 1);
    panel_ = VIRec(vi_)->panelHeap;
  }
  void TearDown() override {
    SetVIWindowHooks(nullptr);
    SetDatalogUIHooks(nullptr);
    SetRetrieveLogHooks(nullptr);
    SetRunCmdHooks(nullptr);
    StatePnlReleaseImages();
    if (drawing_) DDisposeDraw();
    SetRunTimeRsrcFile(0);
    if (runtime_) RCloseFile(runtime_);
    VITest::TearDown();
  }
  // The display the windows are made on: the headless one unless a test
  // starts another.
  virtual void StartDisplay() {}
  void SetParts(uInt16 parts, const Rect& content) {
    viinst::SetExtHalf(panel_, kHeapExtWindowOptions, parts);
    std::memcpy(viinst::ExtAt(panel_, kHeapExtContentRect), &content, sizeof content);
  }
  // The panel's window with the parts around the content, drawn on the
  // screen image and shown in front (a click that activates a window is
  // eaten).
  WindowRef Shown(uInt16 parts, const Rect& content) {
    EXPECT_EQ(WInitScreenImage(), kNoErr);
    DInitDraw();
    drawing_ = true;
    SetParts(parts, content);
    const WindowRef w = viinst::PanelWindow(panel_);
    WShow(w);
    WBringToFront(w);
    PlatUiPump();
    return w;
  }
  bool drawing_ = false;
  RsrcFileRef runtime_ = 0;
  UHandle vi_ = nullptr;
  ObjHeap panel_ = nullptr;
};

}  // namespace
