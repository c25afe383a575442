// The shell's windows on the X11 display under a real (virtual) server: the
// window system is started on it, the test's own connection drives XTest,
// and dialogs are joined to the object system as the program joins them at
// start-up.  Without a server the tests skip, unless QX_REQUIRE_DISPLAY=1.
#pragma once
// GoogleTest and the fixture before Xlib, whose macros clash with them.
#include "shell/viwindow_fixture.h"

#include "app/dlgservices.h"
#include "engine/vi/dlgpanel.h"
#include "panel/oinit.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <cstdlib>
#include <cstring>

#include "platform/qx_display.h"
#include "platform/x11/qx_display_x11.h"

class ShellX11 : public VIWindowBoundary {
 protected:
  void SetUp() override {
    test_ = XOpenDisplay(nullptr);
    if (!test_) {
      const char* need = std::getenv("QX_REQUIRE_DISPLAY");
      if (need && std::strcmp(need, "1") == 0) FAIL() << "no X display could be opened";
      GTEST_SKIP() << "no X display";
    }
    VIWindowBoundary::SetUp();
  }
  void StartDisplay() override {
    PlatX11Register();
    setenv("QX_UI", "x11", 1);
    ASSERT_TRUE(PlatWindowSystemStart());
    unsetenv("QX_UI");
  }
  void TearDown() override {
    if (!test_) return;
    if (dialogsJoined_) {
      DlgSetPanelServices(DlgPanelServices{});
      SetDlgPanelHooks(nullptr);
      SetEnginePanelHooks(nullptr);
      SetPanelShellHooks(savedShell_);
    }
    VIWindowBoundary::TearDown();
    PlatX11Sync();
    XCloseDisplay(test_);
  }
  // Until what either connection sent is read and every message dispatched.
  void Settle() {
    for (int round = 0; round < 1000; ++round) {
      XSync(test_, False);
      PlatX11Sync();
      const int32_t n = PlatUiPump();
      PlatX11Sync();
      if (n == 0 && XPending(PlatX11Connection()) == 0 && !PlatQueueHasWork()) return;
    }
    FAIL() << "the display never went idle";
  }
  void Click(Point p) {
    XTestFakeMotionEvent(test_, DefaultScreen(test_), p.h, p.v, CurrentTime);
    XTestFakeButtonEvent(test_, 1, True, CurrentTime);
    XTestFakeButtonEvent(test_, 1, False, CurrentTime);
  }
  // The X window's pixels read back into a surface of the host window's size
  // (destroyed by the caller), or null.
  PlatSurface* ShownPixels(PlatWindow host) {
    const PlatSurface* s = PlatWindowSurface(host);
    const int32_t wd = PlatSurfaceWidth(s), ht = PlatSurfaceHeight(s);
    XImage* img = XGetImage(test_, PlatX11WindowOf(host), 0, 0, unsigned(wd), unsigned(ht), AllPlanes, ZPixmap);
    if (!img) return nullptr;
    PlatSurface* shown = PlatSurfaceCreate(wd, ht, kPlatRgb32);
    for (int32_t y = 0; y < ht; ++y)
      for (int32_t x = 0; x < wd; ++x) PlatSurfaceSetPixel(shown, x, y, uint32_t(XGetPixel(img, x, y)) & 0xFFFFFF);
    XDestroyImage(img);
    return shown;
  }
  // The pixels of the X window that differ from the host window's surface;
  // -1 when it cannot be read.
  int64_t DifferingPixels(PlatWindow host) {
    PlatSurface* shown = ShownPixels(host);
    if (!shown) return -1;
    const PlatSurface* s = PlatWindowSurface(host);
    int64_t differ = 0;
    for (int32_t y = 0; y < PlatSurfaceHeight(s); ++y)
      for (int32_t x = 0; x < PlatSurfaceWidth(s); ++x)
        differ += (PlatSurfaceGetPixel(shown, x, y) & 0xFFFFFF) != (PlatSurfaceGetPixel(s, x, y) & 0xFFFFFF);
    PlatSurfaceDestroy(shown);
    return differ;
  }
  // Drawing on, and dialogs made, placed and run as the program does.
  void JoinDialogs() {
    MLoadMenuColors();
    ASSERT_EQ(WInitScreenImage(), kNoErr);
    DInitDraw();
    drawing_ = true;
    EnginePanelHooks engine = *GetEnginePanelHooks();
    engine.newPanelRoot = &FPNewPanelRoot;
    engine.oAllocate = &OAllocate;
    SetEnginePanelHooks(&engine);
    PanelInstallDialogHooks();
    if (!TRStackBlock()) TRInit();
    DlgSetPanelServices(AppDialogServices());
    VIWindHooks window = VIWindHooksInUse();
    window.panelEvent = &TRPanelEvent;
    window.drawPanel = &ODrawPanel;
    window.handleKey = &FPHandleKey;
    window.keyNavItem = &DlgGetKeyNavItem;
    window.dialogFilter = &DlgFilterVIEvents;
    VIWindSetHooks(window);
    PanelShellHooks senders{};
    AppFillDialogSenders(&senders);
    savedShell_ = SetPanelShellHooks(senders);
    dialogsJoined_ = true;
  }
  Display* test_ = nullptr;

 private:
  bool dialogsJoined_ = false;
  PanelShellHooks savedShell_{};
};
