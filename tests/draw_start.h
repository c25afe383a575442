// The drawing side started as the shell starts it (screen image, drawing
// manager, fonts, colour maps) with a headless window at the given place,
// for fuzz targets and benchmarks that draw without the shell.
#pragma once
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/window.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wport.h"
#include "platform/qx_activate.h"
#include "platform/qx_window.h"
#include "tests/colour_maps.h"

// True when every part started.
inline bool StartDrawing() {
  PlatWindowsReset();
  if (WInitScreenImage() != kNoErr) return false;
  DInitDraw();
  TXInitFonts();
  return LoadDefaultColourMaps() == kNoErr;
}

// The drawing side started and a shown window at `place`, or kWNoWindow
// when a step failed. With `saved`, the window is set up as the drawing port
// and stays so: the caller draws on one thread.
inline WindowRef StartDrawingWindow(const Rect& place, WPortState* saved) {
  if (!StartDrawing()) return kWNoWindow;
  WindowRef w = WCreate(0x3C, nullptr, nullptr, &place, 0, 1, 0);
  if (w && saved) WSetup(w, saved);
  return w;
}

// StartDrawingWindow for a test that drives menus with keys: the menus'
// metrics, colours and list style and the key table loaded, the window
// active, and `background`, when given, run by the main loop while a menu
// tracks (where the test injects its keys).
inline WindowRef StartMenuWindow(const Rect& place, WPortState* saved, int32 (*background)(Bool32) = nullptr) {
  const WindowRef w = StartDrawingWindow(place, saved);
  if (!w) return w;
  MLoadSysMetrics(), MLoadMenuColors(), WBuildKeyTable(), MSetListStyle(0);
  PlatSetActiveWindow(WHostWindow(w));
  if (background) {
    WMainLoopHooks hooks{};
    hooks.background = background;
    WSetMainLoopHooks(hooks);
  }
  return w;
}

// Undoes StartDrawingWindow: the port put back, every window and the
// drawing side gone.
inline void StopDrawingWindow(WPortState* saved) {
  WRestore(saved);
  WDestroyAllWindows();
  DDisposeDraw();
  TXFinishFonts();
  PlatWindowsReset();
}
